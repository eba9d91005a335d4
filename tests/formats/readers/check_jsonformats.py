"""Reads the JSON exports of CreateML, Florence-2 and PaliGemma with Python's
json module, checks their grammar and compares them with what is expected.

  check_jsonformats.py createml <file> <expected.json>
      expected: [[image, [[label, x, y, width, height], ...]], ...]
  check_jsonformats.py florence <file> <expected.json>
  check_jsonformats.py paligemma <file> <expected.json>
      expected: [[image, prefix, [[label, token, token, token, token], ...]], ...]
      with the tokens in the order the format writes them.
Prints "ok" when all is well, else "FAIL: ..." and exits 1.
"""
import json
import re
import sys


def fail(message):
    print("FAIL:", message)
    sys.exit(1)


def close(a, b):
    return abs(a - b) <= 1e-9 * max(1.0, abs(a), abs(b))


def check_createml(path, expected):
    with open(path, encoding="utf-8") as f:
        data = json.load(f)
    if not isinstance(data, list) or len(data) != len(expected):
        fail(f"{len(data)} images, expected {len(expected)}")
    for item, (image, boxes) in zip(data, expected):
        if sorted(item) != ["annotations", "image"] or item["image"] != image:
            fail(f"image object {item}")
        if len(item["annotations"]) != len(boxes):
            fail(f"{image}: {len(item['annotations'])} boxes, expected {len(boxes)}")
        for annotation, want in zip(item["annotations"], boxes):
            c = annotation["coordinates"]
            if sorted(annotation) != ["coordinates", "label"] or sorted(c) != ["height", "width", "x", "y"]:
                fail(f"annotation {annotation}")
            got = [annotation["label"], c["x"], c["y"], c["width"], c["height"]]
            if got[0] != want[0] or not all(close(a, b) for a, b in zip(got[1:], want[1:])):
                fail(f"{image}: box {got}, expected {want}")


FLORENCE_BOX = re.compile(r"([^<]+)<loc_(0|[1-9][0-9]{0,2})><loc_(0|[1-9][0-9]{0,2})>"
                          r"<loc_(0|[1-9][0-9]{0,2})><loc_(0|[1-9][0-9]{0,2})>")
PALIGEMMA_BOX = re.compile(r"<loc([0-9]{4})><loc([0-9]{4})><loc([0-9]{4})><loc([0-9]{4})> (.+)")


def florence_boxes(suffix):
    boxes, at = [], 0
    while at < len(suffix):
        match = FLORENCE_BOX.match(suffix, at)
        if not match:
            fail(f"suffix {suffix!r} breaks the grammar at {at}")
        boxes.append([match.group(1)] + [int(match.group(i)) for i in range(2, 6)])
        at = match.end()
    return boxes


def paligemma_boxes(suffix):
    boxes = []
    for piece in suffix.split(" ; ") if suffix else []:
        match = PALIGEMMA_BOX.fullmatch(piece)
        if not match or any(int(match.group(i)) > 1023 for i in range(1, 5)):
            fail(f"suffix piece {piece!r} breaks the grammar")
        boxes.append([match.group(5)] + [int(match.group(i)) for i in range(1, 5)])
    return boxes


def check_records(path, expected, boxes_of):
    with open(path, "rb") as f:
        raw = f.read()
    if not raw.endswith(b"\n"):
        fail("the last record has no line end")
    lines = raw.decode("utf-8").split("\n")[:-1]
    if len(lines) != len(expected):
        fail(f"{len(lines)} lines, expected {len(expected)}")
    for line, (image, prefix, boxes) in zip(lines, expected):
        pairs = json.loads(line, object_pairs_hook=lambda items: items)
        if [key for key, _ in pairs] != ["image", "prefix", "suffix"]:
            fail(f"keys {[key for key, _ in pairs]}")
        if json.dumps(dict(pairs), ensure_ascii=False, separators=(",", ":")) != line:
            fail(f"not compact JSON: {line}")
        record = dict(pairs)
        if record["image"] != image or record["prefix"] != prefix:
            fail(f"record {record}, expected image {image!r} and prefix {prefix!r}")
        got = boxes_of(record["suffix"])
        if got != boxes:
            fail(f"{image}: boxes {got}, expected {boxes}")


def main():
    kind, path, expected_path = sys.argv[1:4]
    with open(expected_path, encoding="utf-8") as f:
        expected = json.load(f)
    if kind == "createml":
        check_createml(path, expected)
    elif kind == "florence":
        check_records(path, expected, florence_boxes)
    else:
        check_records(path, expected, paligemma_boxes)
    print("ok")


if __name__ == "__main__":
    main()
