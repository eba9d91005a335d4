"""LabelMe files through the LabelMe tool's own LabelFile class.

  labelme_peer.py write <folder>
      Writes LabelMe files as the tool saves them: "embedded.json" (the image
      inside, several shapes, so that its image keys come late in the file),
      "external.json" (imageData null, the image beside it) and
      "sub/nested.json" (the image one folder up), around a 64 x 48 PNG.
  labelme_peer.py groups <folder>
      Writes "groups.json" as the tool saves it, its shapes tied by group_id
      as people tie them: a box and a polygon of one person, polygons of two
      labels, two polygons of one car, a polygon and a circle, polygons
      without a group, and the group 0 holding two polygons and a line strip,
      around a 64 x 48 PNG beside it.
  labelme_peer.py read <folder> <expected.json>
      Loads every "*.json" of the folder with LabelFile and compares its shapes
      with the expected ones ({file: [[label, shape_type, points], ...]}); an
      embedded image must decode to the size the file gives, an external one
      must exist at imagePath beside the file with that size.
Prints "ok" when all is well, else "FAIL: ..." and exits 1.
"""
import glob
import json
import os
import sys

import PIL.Image
from labelme import utils
from labelme.label_file import LabelFile

SHAPES = [
    dict(label="cat", points=[[40.0, 30.0], [10.0, 5.0]], shape_type="rectangle", flags={}, group_id=None),
    dict(label="çiçek", points=[[1.0, 1.0], [20.5, 2.0], [25.0, 30.0], [3.0, 40.0]], shape_type="polygon",
         flags={}, group_id=None),
    dict(label="road", points=[[0.0, 47.0], [30.0, 20.0], [63.0, 10.0]], shape_type="linestrip", flags={},
         group_id=1),
    dict(label="eye", points=[[5.0, 7.0]], shape_type="point", flags={}, group_id=None),
    dict(label="ball", points=[[32.0, 24.0], [36.0, 24.0]], shape_type="circle", flags={}, group_id=None),
    dict(label="  ", points=[[1.0, 1.0], [2.0, 2.0]], shape_type="rectangle", flags={}, group_id=None),
]


def fail(message):
    print("FAIL:", message)
    sys.exit(1)


def write(folder):
    os.makedirs(os.path.join(folder, "sub"), exist_ok=True)
    image_path = os.path.join(folder, "photo.png")
    PIL.Image.new("RGB", (64, 48), (200, 30, 30)).save(image_path)
    image_data = LabelFile.load_image_file(image_path)
    LabelFile().save(os.path.join(folder, "embedded.json"), SHAPES, "photo.png", 48, 64, imageData=image_data)
    LabelFile().save(os.path.join(folder, "external.json"), SHAPES[:2], "photo.png", 48, 64)
    LabelFile().save(os.path.join(folder, "sub", "nested.json"), SHAPES[3:4], "../photo.png", 48, 64)
    print("ok")


def shape(label, shape_type, points, group_id):
    return dict(label=label, points=[[float(x), float(y)] for x, y in points], shape_type=shape_type, flags={},
                group_id=group_id, description="")


GROUPS = [
    shape("person", "rectangle", [[2, 2], [20, 28]], 1),
    shape("person", "polygon", [[3, 3], [18, 3], [10, 25]], 1),
    shape("person", "polygon", [[30, 2], [40, 2], [35, 10]], 2),
    shape("bag", "polygon", [[30, 12], [38, 12], [34, 18]], 2),
    shape("car", "polygon", [[42, 2], [50, 2], [50, 10], [42, 10]], 3),
    shape("car", "polygon", [[52, 2], [62, 2], [62, 12], [52, 12]], 3),
    shape("tree", "polygon", [[2, 30], [10, 30], [6, 40]], 4),
    shape("tree", "circle", [[20, 35], [24, 35]], 4),
    shape("lake", "polygon", [[30, 30], [40, 30], [35, 40]], None),
    shape("lake", "polygon", [[42, 30], [50, 30], [46, 40]], None),
    shape("road", "polygon", [[0, 44], [10, 44], [5, 47]], 0),
    shape("road", "polygon", [[20, 44], [30, 44], [25, 47]], 0),
    shape("road", "linestrip", [[0, 0], [5, 5]], 0),
]


def groups(folder):
    os.makedirs(folder, exist_ok=True)
    PIL.Image.new("RGB", (64, 48), (30, 200, 30)).save(os.path.join(folder, "street.png"))
    LabelFile().save(os.path.join(folder, "groups.json"), GROUPS, "street.png", 48, 64)
    print("ok")


def read(folder, expected_path):
    with open(expected_path, encoding="utf-8") as f:
        expected = json.load(f)
    files = sorted(glob.glob(os.path.join(folder, "*.json")))
    names = [os.path.basename(path) for path in files]
    if sorted(expected) != names:
        fail(f"files {names}, expected {sorted(expected)}")
    for path in files:
        label_file = LabelFile(path)
        with open(path, encoding="utf-8") as f:
            data = json.load(f)
        height, width = data["imageHeight"], data["imageWidth"]
        if data["imageData"] is not None:
            array = utils.img_b64_to_arr(data["imageData"])
        else:
            image_file = os.path.join(os.path.dirname(path), data["imagePath"])
            if not os.path.isfile(image_file):
                fail(f"{path}: image {image_file} missing")
            array = utils.img_data_to_arr(open(image_file, "rb").read())
        if array.shape[0] != height or array.shape[1] != width:
            fail(f"{path}: image is {array.shape[1]}x{array.shape[0]}, file says {width}x{height}")
        shapes = [[s["label"], s["shape_type"], s["points"]] for s in label_file.shapes]
        want = expected[os.path.basename(path)]
        if len(shapes) != len(want):
            fail(f"{path}: {len(shapes)} shapes, expected {len(want)}")
        for got, exp in zip(shapes, want):
            if got[0] != exp[0] or got[1] != exp[1] or len(got[2]) != len(exp[2]):
                fail(f"{path}: shape {got}, expected {exp}")
            for p, q in zip(got[2], exp[2]):
                if abs(p[0] - q[0]) > 1e-9 or abs(p[1] - q[1]) > 1e-9:
                    fail(f"{path}: point {p}, expected {q}")
    print("ok")


def main():
    if sys.argv[1] == "write":
        write(sys.argv[2])
    elif sys.argv[1] == "groups":
        groups(sys.argv[2])
    else:
        read(sys.argv[2], sys.argv[3])


if __name__ == "__main__":
    main()
