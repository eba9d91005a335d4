"""Reads a YOLO split export with Debian's yaml module and checks it.

Usage: check_yolo.py <export folder> <expected class names as a JSON list>
"""
import json
import os
import sys

import yaml


def fail(message):
    print("FAIL:", message)
    sys.exit(1)


def main():
    root, expected = sys.argv[1], json.loads(sys.argv[2])
    with open(os.path.join(root, "data.yaml"), encoding="utf-8") as f:
        data = yaml.safe_load(f)
    if data.get("names") != expected:
        fail(f"names {data.get('names')!r} != {expected!r}")
    if data.get("nc") != len(expected):
        fail(f"nc {data.get('nc')!r} != {len(expected)}")
    if not isinstance(data.get("path"), str) or os.path.normpath(data["path"]) != os.path.normpath(root):
        fail(f"path {data.get('path')!r}")
    for key, folder in (("train", "train/images"), ("val", "valid/images"), ("test", "test/images")):
        if data.get(key) != folder:
            fail(f"{key}: {data.get(key)!r}")
    with open(os.path.join(root, "classes.txt"), encoding="utf-8") as f:
        if f.read().split("\n")[:-1] != expected:
            fail("classes.txt differs from data.yaml")

    labels_seen = 0
    for split in ("train", "valid", "test"):
        labels_dir = os.path.join(root, split, "labels")
        if not os.path.isdir(labels_dir):
            continue
        images = {os.path.splitext(n)[0]: n for n in os.listdir(os.path.join(root, split, "images"))}
        for name in os.listdir(labels_dir):
            stem = os.path.splitext(name)[0]
            if stem not in images:
                fail(f"{split}/labels/{name} has no image")
            with open(os.path.join(labels_dir, name), encoding="utf-8") as f:
                for line in f.read().splitlines():
                    fields = line.split(" ")
                    cls = int(fields[0])
                    if not 0 <= cls < len(expected):
                        fail(f"class id {cls} in {name}")
                    values = [float(v) for v in fields[1:]]
                    if len(values) < 4 or any(not -1e-6 <= v <= 2 for v in values):
                        fail(f"bad line {line!r} in {name}")
            labels_seen += 1
        if len(images) != len(os.listdir(labels_dir)):
            fail(f"{split}: {len(images)} images for {len(os.listdir(labels_dir))} label files")
    print(f"ok: {labels_seen} label files")


main()
