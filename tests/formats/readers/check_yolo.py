"""Reads a YOLO export with Debian's yaml module and checks it as YOLO loaders do.

Usage: check_yolo.py <export folder> <expected class names as a JSON list> [roboflow]

The image folders come from data.yaml as the trainer resolves them (see
yolo_trainer.py), and must lie in the export folder wherever it is; each
one's labels are found as loaders find them, by putting "labels" in place of
the last "images" of the path. With "roboflow", the yaml must carry a
"roboflow" section.
"""
import json
import os
import sys

import yaml

import yolo_trainer


def fail(message):
    print("FAIL:", message)
    sys.exit(1)


def labels_folder(images_folder):
    head, tail = os.path.split(os.path.normpath(images_folder))
    if tail != "images":
        fail(f"image folder {images_folder!r} does not end in images")
    return os.path.join(head, "labels")


def check_set(root, images_dir, expected):
    labels_dir = labels_folder(images_dir)
    images = {}
    for name in os.listdir(images_dir):
        stem = os.path.splitext(name)[0]
        if stem in images:
            fail(f"{images_dir}: two images of stem {stem}")
        images[stem] = name
    labels = os.listdir(labels_dir)
    if len(images) != len(labels):
        fail(f"{images_dir}: {len(images)} images for {len(labels)} label files")
    for name in labels:
        stem = os.path.splitext(name)[0]
        if stem not in images:
            fail(f"{labels_dir}/{name} has no image")
        with open(os.path.join(labels_dir, name), encoding="utf-8") as f:
            for line in f.read().splitlines():
                fields = line.split(" ")
                cls = int(fields[0])
                if not 0 <= cls < len(expected):
                    fail(f"class id {cls} in {name}")
                values = [float(v) for v in fields[1:]]
                if len(values) < 4 or any(not -1e-6 <= v <= 2 for v in values):
                    fail(f"bad line {line!r} in {name}")
    return len(labels)


def main():
    root, expected = sys.argv[1], json.loads(sys.argv[2])
    roboflow = len(sys.argv) > 3 and sys.argv[3] == "roboflow"
    with open(os.path.join(root, "data.yaml"), encoding="utf-8") as f:
        data = yaml.safe_load(f)
    if data.get("names") != expected:
        fail(f"names {data.get('names')!r} != {expected!r}")
    if data.get("nc") != len(expected):
        fail(f"nc {data.get('nc')!r} != {len(expected)}")
    yolo_trainer.check_portable(root, fail)
    if roboflow != isinstance(data.get("roboflow"), dict):
        fail(f"roboflow section {data.get('roboflow')!r}")
    with open(os.path.join(root, "classes.txt"), encoding="utf-8") as f:
        if f.read().split("\n")[:-1] != expected:
            fail("classes.txt differs from data.yaml")

    folders = []
    for key, folder in yolo_trainer.image_folders(os.path.join(root, "data.yaml")).items():
        if os.path.commonpath([folder, os.path.abspath(root)]) != os.path.abspath(root):
            fail(f"{key}: {folder} is outside the export")
        if os.path.isdir(folder) and folder not in folders:
            folders.append(folder)
    if "train" not in data or "val" not in data or not folders:
        fail("no train and val image folders")
    labels_seen = sum(check_set(root, folder, expected) for folder in folders)
    print(f"ok: {labels_seen} label files in {len(folders)} sets")


main()
