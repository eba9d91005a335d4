"""Reads the exports of the YOLO family's further formats with Debian's yaml
module and plain line checks.

Usage: check_yolofamily.py <format> <export folder> <class names as JSON> [<keypoints>]
with <format> one of darknet, keras, obb5, obb8, mt, pose.
"""
import json
import os
import sys

import yaml

import yolo_trainer

IMAGE_SUFFIXES = (".jpg", ".jpeg", ".png", ".bmp", ".tiff", ".tif", ".webp")


def fail(message):
    print("FAIL:", message)
    sys.exit(1)


def read_lines(path):
    with open(path, encoding="utf-8", newline="") as f:
        text = f.read()
    if text and not text.endswith("\n"):
        fail(f"{path}: last line without a line end")
    return text.splitlines()


def load_yaml(root):
    with open(os.path.join(root, "data.yaml"), encoding="utf-8") as f:
        return yaml.safe_load(f)


def label_files(folder, images):
    """The label files of a folder, each checked to have its image."""
    stems = {os.path.splitext(n)[0] for n in os.listdir(images) if n.lower().endswith(IMAGE_SUFFIXES)}
    labels = sorted(n for n in os.listdir(folder) if n.endswith(".txt"))
    for name in labels:
        if os.path.splitext(name)[0] not in stems:
            fail(f"{name} has no image in {images}")
    if len(stems) != len(labels):
        fail(f"{len(stems)} images for {len(labels)} label files")
    return [os.path.join(folder, n) for n in labels]


def unit(value, where):
    number = float(value)
    if not 0.0 <= number <= 1.0:
        fail(f"{where}: {value} outside 0..1")
    return number


def class_id(field, names, where):
    number = int(field)
    if not 0 <= number < len(names):
        fail(f"{where}: class id {number}")
    return number


def check_corner_order(corners, where):
    """An axis-aligned rectangle must come as top left, top right, bottom right, bottom left."""
    xs = [c[0] for c in corners]
    ys = [c[1] for c in corners]
    if len(set(xs)) == 2 and len(set(ys)) == 2:
        (x1, y1), (x2, y2), (x3, y3), (x4, y4) = corners
        if not (x1 == x4 < x2 == x3 and y1 == y2 < y3 == y4):
            fail(f"{where}: rectangle corners out of order {corners}")
        return 1
    return 0


def check_box_line(fields, names, where):
    if len(fields) != 5:
        fail(f"{where}: {len(fields)} fields")
    class_id(fields[0], names, where)
    cx, cy, w, h = (unit(v, where) for v in fields[1:])
    if w <= 0 or h <= 0 or cx - w / 2 < -1e-6 or cx + w / 2 > 1 + 1e-6 or cy - h / 2 < -1e-6 or cy + h / 2 > 1 + 1e-6:
        fail(f"{where}: box outside the image")


def check_darknet(root, names):
    if read_lines(os.path.join(root, "_darknet.labels")) != names:
        fail("_darknet.labels differs")
    count = 0
    for path in sorted(os.listdir(root)):
        if path.endswith(".txt"):
            for number, line in enumerate(read_lines(os.path.join(root, path)), 1):
                check_box_line(line.split(" "), names, f"{path}:{number}")
                count += 1
    return count


def check_keras(root, names):
    if read_lines(os.path.join(root, "_classes.txt")) != names:
        fail("_classes.txt differs")
    seen = set()
    count = 0
    for number, line in enumerate(read_lines(os.path.join(root, "_annotations.txt")), 1):
        fields = line.split(" ")
        if fields[0] in seen:
            fail(f"line {number}: {fields[0]} listed twice")
        seen.add(fields[0])
        for group in fields[1:]:
            x1, y1, x2, y2, c = (int(v) for v in group.split(","))
            if not (x1 < x2 and y1 < y2):
                fail(f"line {number}: box {group}")
            class_id(c, names, f"line {number}")
            count += 1
    return count


def dota_name(name):
    return "_".join(name.split())


def check_obb5(root, names):
    data = load_yaml(root)
    # The trainers take a line's class from its ninth field and look it up in
    # "names": the names are spelled as the lines spell them.
    spelled = [dota_name(n) for n in names]
    if data.get("names") != spelled or data.get("nc") != len(names):
        fail(f"data.yaml names {data.get('names')!r}, nc {data.get('nc')!r}")
    if data.get("display_names", names) != names:
        fail(f"data.yaml display_names {data.get('display_names')!r}")
    count = rects = 0
    for path in label_files(os.path.join(root, "train", "labelTxt"), os.path.join(root, "train", "images")):
        for number, line in enumerate(read_lines(path), 1):
            fields = line.split(" ")
            where = f"{os.path.basename(path)}:{number}"
            corners = [(int(fields[i]), int(fields[i + 1])) for i in range(0, 8, 2)]
            # DOTA's readers take the ninth field as the class and the tenth
            # as the difficulty: a name holds no white space.
            if len(fields) != 10:
                fail(f"{where}: {len(fields)} fields")
            name = fields[8]
            if name not in data["names"] or fields[-1] != "0":
                fail(f"{where}: class {name!r}, difficulty {fields[-1]!r}")
            rects += check_corner_order(corners, where)
            count += 1
    if rects == 0:
        fail("no rectangle to check the corner order of")
    return count


def check_obb8(root, names):
    data = load_yaml(root)
    if data.get("names") != dict(enumerate(names)):
        fail(f"data.yaml names {data.get('names')!r}")
    if "nc" in data:
        fail("data.yaml has nc")
    count = rects = 0
    for path in label_files(os.path.join(root, "train", "labels"), os.path.join(root, "train", "images")):
        for number, line in enumerate(read_lines(path), 1):
            fields = line.split(" ")
            where = f"{os.path.basename(path)}:{number}"
            if len(fields) != 9:
                fail(f"{where}: {len(fields)} fields")
            class_id(fields[0], names, where)
            values = [unit(v, where) for v in fields[1:]]
            rects += check_corner_order(list(zip(values[0::2], values[1::2])), where)
            count += 1
    if rects == 0:
        fail("no rectangle to check the corner order of")
    return count


def check_mt(root, names):
    data = load_yaml(root)
    if data.get("names") != names or data.get("nc") != len(names):
        fail(f"data.yaml names {data.get('names')!r}")
    # Only the folders written are named; without a validation subset the
    # training pictures validate.
    if (data.get("train"), data.get("val"), data.get("test")) != ("./images/train", "./images/train", None):
        fail("data.yaml split paths")
    count = 0
    for path in label_files(os.path.join(root, "labels", "train"), os.path.join(root, "images", "train")):
        for number, line in enumerate(read_lines(path), 1):
            check_box_line(line.split(" "), names, f"{os.path.basename(path)}:{number}")
            count += 1
    return count


def check_pose(root, names, keypoints):
    data = load_yaml(root)
    if data.get("names") != names or data.get("nc") != len(names):
        fail(f"data.yaml names {data.get('names')!r}")
    if data.get("kpt_shape") != [keypoints, 3]:
        fail(f"kpt_shape {data.get('kpt_shape')!r}")
    yolo_trainer.check_portable(root, fail)
    folders = yolo_trainer.image_folders(os.path.join(root, "data.yaml"))
    images = os.path.join(os.path.abspath(root), "images")
    if folders.get("train") != images or folders.get("val") != images:
        fail(f"train / val {folders}")
    count = 0
    for path in label_files(os.path.join(root, "labels"), os.path.join(root, "images")):
        for number, line in enumerate(read_lines(path), 1):
            fields = line.split(" ")
            where = f"{os.path.basename(path)}:{number}"
            if len(fields) != 5 + 3 * keypoints:
                fail(f"{where}: {len(fields)} fields for {keypoints} keypoints")
            class_id(fields[0], names, where)
            for value in fields[1:5]:
                unit(value, where)
            for k in range(keypoints):
                x, y, v = fields[5 + 3 * k: 8 + 3 * k]
                unit(x, where)
                unit(y, where)
                if v not in ("0", "1", "2"):
                    fail(f"{where}: visibility {v!r}")
            count += 1
    return count


def main():
    fmt, root, names = sys.argv[1], sys.argv[2], json.loads(sys.argv[3])
    checks = {"darknet": check_darknet, "keras": check_keras, "obb5": check_obb5, "obb8": check_obb8,
              "mt": check_mt}
    if fmt == "pose":
        count = check_pose(root, names, int(sys.argv[4]))
    else:
        count = checks[fmt](root, names)
    if count == 0:
        fail("no label line at all")
    print(f"ok: {count} lines")


main()
