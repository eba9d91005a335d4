"""Decodes the run-length masks of a COCO file as the COCO API decodes them
(the counts as a list of numbers, or as the API's compressed text), with
nothing but the standard library, and checks that each masked object's mask,
box and area agree.

Usage: coco_masks.py <annotations.json> <box tolerance in pixels>
  For every annotation whose "segmentation" is a mask: its "size" is its
  image's [height, width], its runs cover exactly height x width pixels, its
  "area" is the number of mask pixels, and each number of its "bbox" lies
  within <tolerance> of the mask's extent (the API's toBbox: x, y, width and
  height of the mask pixels' bounds). Prints "ok", then one JSON line per
  masked annotation in file order: its "id", "iscrowd", "form" ("list" or
  "text"), the mask's "extent" and its "pixels".
"""
import json
import sys


def fail(message):
    print("FAIL:", message)
    sys.exit(1)


def counts_of_text(text):
    """The API's rleFrString: five bits a character from '0' on, 0x20 for
    more to come, 0x10 of the last one the sign; from the third count on,
    each is kept as its difference to the count two before."""
    counts = []
    p = 0
    while p < len(text):
        x = 0
        k = 0
        more = True
        while more:
            if p >= len(text):
                fail(f"text ends inside a count: {text!r}")
            c = ord(text[p]) - 48
            x |= (c & 0x1F) << (5 * k)
            more = bool(c & 0x20)
            p += 1
            k += 1
            if not more and (c & 0x10):
                x |= -1 << (5 * k)
        if len(counts) > 2:
            x += counts[-2]
        counts.append(x)
    return counts


def extent(counts, height):
    """[x, y, w, h] of the mask pixels, and their number; columns first."""
    xs, ys, pixels, at = [], [], 0, 0
    for i, count in enumerate(counts):
        if count < 0:
            fail(f"a negative run {count}")
        if i % 2 and count:
            first, last = at, at + count - 1
            xs += [first // height, last // height]
            if first // height == last // height:
                ys += [first % height, last % height]
            else:
                ys += [0, height - 1]
            pixels += count
        at += count
    if not pixels:
        return [0, 0, 0, 0], 0
    return [min(xs), min(ys), max(xs) - min(xs) + 1, max(ys) - min(ys) + 1], pixels


def main():
    path, tolerance = sys.argv[1], float(sys.argv[2])
    with open(path, encoding="utf-8") as f:
        data = json.load(f)
    images = {image["id"]: image for image in data["images"]}
    found = []
    for a in data["annotations"]:
        segmentation = a.get("segmentation")
        if not isinstance(segmentation, dict):
            continue
        image = images[a["image_id"]]
        height, width = segmentation["size"]
        if [height, width] != [image["height"], image["width"]]:
            fail(f"annotation {a['id']}: mask size {segmentation['size']} on a {image['height']} x {image['width']} image")
        counts = segmentation["counts"]
        form = "text" if isinstance(counts, str) else "list"
        if form == "text":
            counts = counts_of_text(counts)
        if sum(counts) != height * width:
            fail(f"annotation {a['id']}: runs cover {sum(counts)} of {height * width} pixels")
        box, pixels = extent(counts, height)
        if a["area"] != pixels:
            fail(f"annotation {a['id']}: area {a['area']} for a mask of {pixels} pixels")
        if any(abs(got - want) > tolerance for got, want in zip(a["bbox"], box)):
            fail(f"annotation {a['id']}: box {a['bbox']} for a mask over {box}")
        found.append({"id": a["id"], "iscrowd": a.get("iscrowd", 0), "form": form, "extent": box, "pixels": pixels})
    print("ok")
    for entry in found:
        print(json.dumps(entry))


if __name__ == "__main__":
    main()
