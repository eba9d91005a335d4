"""Reads Pascal VOC or CVAT XML exports with xml.etree and checks them.

Usage: check_xml.py voc <folder> <expected file count>
       check_xml.py cvat <annotations.xml> <expected image count> [<tag>=<count>,...]
"""
import os
import sys
import xml.etree.ElementTree as ET


def fail(message):
    print("FAIL:", message)
    sys.exit(1)


def check_voc(folder, expected):
    files = sorted(n for n in os.listdir(folder) if n.endswith(".xml"))
    if len(files) != expected:
        fail(f"{len(files)} xml files")
    names = set()
    for name in files:
        root = ET.parse(os.path.join(folder, name)).getroot()
        if root.tag != "annotation":
            fail(f"{name}: root {root.tag}")
        filename = root.findtext("filename")
        if os.path.splitext(filename)[0] != os.path.splitext(name)[0]:
            fail(f"{name} names image {filename}")
        names.add(filename)
        width = int(root.findtext("size/width"))
        height = int(root.findtext("size/height"))
        for obj in root.iter("object"):
            if not obj.findtext("name"):
                fail(f"{name}: object without a name")
            box = [int(obj.findtext("bndbox/" + k)) for k in ("xmin", "ymin", "xmax", "ymax")]
            if not (0 <= box[0] < box[2] <= width and 0 <= box[1] < box[3] <= height):
                fail(f"{name}: box {box} in {width}x{height}")
    if len(names) != len(files):
        fail("two files name the same image")
    print(f"ok: {len(files)} VOC files")


def check_cvat(path, expected, shapes=""):
    root = ET.parse(path).getroot()
    if root.tag != "annotations" or root.findtext("version") != "1.1":
        fail("not CVAT XML 1.1")
    images = root.findall("image")
    if len(images) != expected or int(root.findtext("meta/task/size")) != expected:
        fail(f"{len(images)} images")
    if [int(i.get("id")) for i in images] != list(range(expected)):
        fail("image ids are not 0..n-1")
    # CVAT-format importers take the classes from the labels the task
    # declares; a shape of any other label has no class.
    declared = [label.findtext("name") for label in root.findall("meta/task/labels/label")]
    if len(set(declared)) != len(declared):
        fail(f"a label declared twice: {declared}")
    if len({i.get("name") for i in images}) != expected:
        fail("two images share a name")
    for image in images:
        for shape in image:
            if shape.get("label") not in declared:
                fail(f"a {shape.tag} of the undeclared label {shape.get('label')!r}")
        for box in image.findall("box"):
            xtl, ytl, xbr, ybr = (float(box.get(k)) for k in ("xtl", "ytl", "xbr", "ybr"))
            if not box.get("label") or xtl > xbr or ytl > ybr:
                fail(f"bad box {box.attrib}")
        for shape in image.findall("polygon") + image.findall("polyline") + image.findall("points"):
            points = [tuple(float(v) for v in p.split(",")) for p in shape.get("points").split(";")]
            if any(len(p) != 2 for p in points):
                fail(f"bad points {shape.get('points')!r}")
            if shape.tag == "polygon" and len(points) < 3:
                fail("polygon of fewer than 3 points")
            if shape.tag == "polyline" and len(points) < 2:
                fail("polyline of fewer than 2 points")
            if shape.get("occluded") not in ("0", "1"):
                fail(f"occluded {shape.get('occluded')!r}")
    for item in filter(None, shapes.split(",")):
        tag, count = item.split("=")
        found = sum(len(image.findall(tag)) for image in images)
        if found != int(count):
            fail(f"{found} {tag} elements, expected {count}")
    print(f"ok: {len(images)} CVAT images")


if sys.argv[1] == "voc":
    check_voc(sys.argv[2], int(sys.argv[3]))
else:
    check_cvat(sys.argv[2], int(sys.argv[3]), sys.argv[4] if len(sys.argv) > 4 else "")
