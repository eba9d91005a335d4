"""Reads exports the way the training tools of each format read them, from
the formats' public descriptions, with nothing but the standard library and
Debian's yaml module.

Usage:
  check_training.py pictures <format> <export folder> <image count>
      Every picture an annotation file names is found where the format's
      loader looks for it.
  check_training.py onedataset <format> <export folder> <image count>
      A split export is one dataset: one data.yaml at the root whose
      train/val/test entries name folders that exist, each of them paired
      with its label folder, holding <image count> pictures together.
  check_training.py yololines <export folder> <expected boxes as JSON>
      Label files read as the common YOLO trainers read them: once one line
      of a file is longer than a box line, every line is a polygon, whose box
      is its points' extent. <expected boxes> maps a label file stem to its
      boxes [cx, cy, w, h], normalised, in order.
  check_training.py coco <annotations.json> <object count> [<expect JSON>]
      Loads as pycocotools does (every segmentation converts to a mask
      description) and checks the object count; <expect> may give "boxes"
      (annotation id order) and "keypoint_names".
  check_training.py labelme <file.json> <sets> <points>
      Loads the file with the LabelMe tool's own LabelFile: <sets> groups of
      "point" shapes, <points> points in all, none in the picture's corner,
      and the embedded picture upright at the size the file states.
  check_training.py pose <export folder> <object count> <keypoints>
      YOLO Pose label lines: every line "c cx cy w h" + <keypoints> triplets,
      a box of area, <object count> lines in all.
  check_training.py yolosegments <label file> <width> <height> <objects JSON>
      The segment lines of a label file as the trainers read them, one
      object per line: each object of <objects> (a list of its polygons, flat
      pixel lists x0, y0, x1, y1, ...) is the line the common COCO-to-YOLO
      converter makes of it, its polygons joined into one (merge_multi_segment).
  check_training.py labelmegroups <file.json> <polygons per object JSON>
      Loads the file with the LabelMe tool's own LabelFile and groups its
      shapes into objects as its instance-segmentation examples do (label and
      group_id); the objects' polygon counts, in file order.
  check_training.py cvat <annotations.xml> <expect JSON>
      Reads a CVAT for images 1.1 file as CVAT-format importers do: the labels
      the task declares in meta/task/labels, every shape's label among them,
      every picture under images/ beside the file, shapes of one group_id one
      object; <expect> gives "labels" and "objects" (polygons per object), and
      may give "occluded": every shape's flag in document order, as CVAT reads
      it (occluded == "1").
  check_training.py retinanet <export folder>
      Reads classes.csv and _annotations.csv as the RetinaNet trainer's CSV
      generator does: ids whole numbers, no class twice, every row's class
      among them, every picture beside the file, boxes with x2 > x1, y2 > y1.
  check_training.py voc <export folder> <expect JSON>
      The boxes of every VOC file, <expect> mapping a file stem to its boxes
      [xmin, ymin, xmax, ymax].
  check_training.py vocflags <export folder> <expect JSON>
      Each object's flags [difficult, truncated, occluded] as the VOC
      trainers read them (the element's text as an integer, 0 when it is
      missing); <expect> maps a file stem to them, in object order.
  check_training.py yolosets <export folder> <expect JSON>
      Each dataset a data.yaml names, read as the YOLO trainer reads it: a
      label file with a line longer than a box line is read as outlines
      throughout, and a dataset whose files hold outlines must hold them for
      every object, or the trainer drops them all ("only boxes will be used").
      One training run reads all the datasets of a data.yaml, so they must
      agree too. <expect> gives "segments" (true or false) and "objects" (the
      count over all datasets).
  check_training.py portable <export folder>
      The data.yaml, copied with its dataset to another place, names folders
      of the copy only, as the trainer resolves them (yolo_trainer.py).
  check_training.py dota <export folder> <picture count> <object count>
      A YOLOv5 OBB export as its trainer reads it: each line's ninth field is
      looked up in the data.yaml's "names", and a picture with a line whose
      class is not there is dropped as corrupt.
  check_training.py darknet <export folder> <expect JSON>
      Trains as darknet does from the export folder: obj.data read the way
      darknet reads it, every picture of its image lists opened from that
      folder, its label file found by darknet's rule, every box in range.
      <expect> gives "train" and "valid" (picture counts, the same pictures
      when valid names the training list), "classes" and "objects".
  check_training.py flip <export folder> <expected flip_idx as JSON>
      The data.yaml's "flip_idx" as the trainer takes it: as long as
      "kpt_shape" says, a permutation that undoes itself.
"""
import csv
import json
import os
import sys

import yaml

import yolo_trainer

IMAGE_SUFFIXES = (".jpg", ".jpeg", ".png", ".bmp", ".tif", ".tiff", ".webp")


def fail(message):
    print("FAIL:", message)
    sys.exit(1)


def exists_picture(path, where):
    if not os.path.isfile(path):
        fail(f"{where}: the picture {path} is not there")
    if not path.lower().endswith(IMAGE_SUFFIXES):
        fail(f"{where}: {path} is no picture")
    return os.path.normpath(path)


# ---- pictures -------------------------------------------------------------

def jsonl_images(path):
    folder = os.path.dirname(path)
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            if line.strip():
                yield exists_picture(os.path.join(folder, json.loads(line)["image"]), f"{path}:{number}")


def csv_images(path, header):
    folder = os.path.dirname(path)
    with open(path, encoding="utf-8", newline="") as f:
        rows = list(csv.reader(f))
    for number, row in enumerate(rows[1:] if header else rows, 2 if header else 1):
        if row:
            yield exists_picture(os.path.join(folder, row[0]), f"{path}:{number}")


def keras_images(path):
    # "<path> x1,y1,x2,y2,c ...", the path taken as it stands from the
    # folder the file lies in (the converters' own layout).
    folder = os.path.dirname(path)
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            fields = line.split()
            if fields:
                yield exists_picture(os.path.join(folder, fields[0]), f"{path}:{number}")


def createml_images(path):
    folder = os.path.dirname(path)
    with open(path, encoding="utf-8") as f:
        for record in json.load(f):
            yield exists_picture(os.path.join(folder, record["image"]), path)


def coco_images(path):
    folder = os.path.dirname(path)
    with open(path, encoding="utf-8") as f:
        for image in json.load(f)["images"]:
            yield exists_picture(os.path.join(folder, image["file_name"]), path)


def darknet_images(root):
    # Darknet takes <picture> and finds <picture stem>.txt beside it.
    pictures = [n for n in os.listdir(root) if n.lower().endswith(IMAGE_SUFFIXES)]
    for name in pictures:
        label = os.path.join(root, os.path.splitext(name)[0] + ".txt")
        if not os.path.isfile(label):
            fail(f"{name} has no {os.path.basename(label)} beside it")
        yield os.path.join(root, name)


def voc_images(root):
    import xml.etree.ElementTree as ET
    for name in sorted(os.listdir(root)):
        if name.endswith(".xml"):
            filename = ET.parse(os.path.join(root, name)).getroot().findtext("filename")
            yield exists_picture(os.path.join(root, filename), name)


def labelme_images(root):
    for name in sorted(os.listdir(root)):
        if name.endswith(".json"):
            with open(os.path.join(root, name), encoding="utf-8") as f:
                record = json.load(f)
            yield exists_picture(os.path.join(root, record["imagePath"]), name)


PICTURE_READERS = {
    "Florence-2": lambda root: jsonl_images(os.path.join(root, "annotations.jsonl")),
    "PaliGemma": lambda root: jsonl_images(os.path.join(root, "_annotations.jsonl")),
    "RetinaNet": lambda root: csv_images(os.path.join(root, "_annotations.csv"), header=False),
    "YOLO TensorFlow": lambda root: csv_images(os.path.join(root, "_annotations.csv"), header=True),
    "YOLOv3 Keras": lambda root: keras_images(os.path.join(root, "_annotations.txt")),
    "CreateML": lambda root: createml_images(os.path.join(root, "annotations.createml.json")),
    "COCO": lambda root: coco_images(os.path.join(root, "annotations.json")),
    "Darknet": darknet_images,
    "Pascal VOC": voc_images,
    "LabelMe": labelme_images,
}


def check_pictures(fmt, root, count):
    found = set(PICTURE_READERS[fmt](root))
    if len(found) != count:
        fail(f"{len(found)} pictures found for {count} images")


# ---- one dataset per split export ------------------------------------------

def label_folder(fmt, images):
    parent, leaf = os.path.split(images)
    if fmt == "YOLOv6 MT":  # images/<split> beside labels/<split>
        return os.path.join(os.path.dirname(parent), "labels", leaf)
    if fmt == "YOLOv5 OBB":  # <split>/images beside <split>/labelTxt
        return os.path.join(parent, "labelTxt")
    # images -> labels, as the trainers substitute it
    return os.path.join(parent, "labels")


def check_one_dataset(fmt, root, count):
    for name in os.listdir(root):
        inner = os.path.join(root, name)
        if os.path.isdir(inner) and os.path.isfile(os.path.join(inner, "data.yaml")):
            fail(f"a second dataset in {name}")
    with open(os.path.join(root, "data.yaml"), encoding="utf-8") as f:
        data = yaml.safe_load(f)
    if "train" not in data or "val" not in data:
        fail("data.yaml lacks train or val")
    folders = yolo_trainer.image_folders(os.path.join(root, "data.yaml"))
    pictures = set()
    for key in ("train", "val", "test"):
        if key not in data:
            continue
        images = folders[key]
        if not os.path.isdir(images):
            fail(f"{key}: {data[key]} is not there")
        labels = label_folder(fmt, images)
        if not os.path.isdir(labels):
            fail(f"{key}: no label folder {labels}")
        for name in os.listdir(images):
            if not name.lower().endswith(IMAGE_SUFFIXES):
                continue
            if not os.path.isfile(os.path.join(labels, os.path.splitext(name)[0] + ".txt")):
                fail(f"{key}: {name} has no label file")
            pictures.add(os.path.join(images, name))
    if len(pictures) != count:
        fail(f"the entries name {len(pictures)} pictures for {count} images")
    if fmt != "YOLO Pose" and "test" in data and data["test"] == data["val"]:
        fail("test names the validation pictures")


# ---- YOLO label lines as the trainers read them ----------------------------

def trainer_boxes(path):
    with open(path, encoding="utf-8") as f:
        rows = [line.split() for line in f if line.strip()]
    if any(len(row) > 6 for row in rows):  # the file holds segments
        boxes = []
        for row in rows:
            xs = [float(v) for v in row[1::2]]
            ys = [float(v) for v in row[2::2]]
            if len(xs) != len(ys) or len(xs) < 3:
                fail(f"{path}: a line of {len(row)} fields read as a polygon")
            boxes.append([(min(xs) + max(xs)) / 2, (min(ys) + max(ys)) / 2, max(xs) - min(xs), max(ys) - min(ys)])
        return boxes
    return [[float(v) for v in row[1:5]] for row in rows]


def check_yolo_lines(root, expected):
    labels = os.path.join(root, "labels")
    for stem, boxes in expected.items():
        read = trainer_boxes(os.path.join(labels, stem + ".txt"))
        if len(read) != len(boxes):
            fail(f"{stem}: {len(read)} objects for {len(boxes)}")
        for got, want in zip(read, boxes):
            if any(abs(g - w) > 1e-3 for g, w in zip(got, want)):
                fail(f"{stem}: box {got} read for {want}")


# ---- COCO as pycocotools loads it ------------------------------------------

def mask_description(annotation, image):
    """What pycocotools' annToRLE is handed: polygons, an uncompressed or a
    compressed run-length mask; anything else fails there."""
    segmentation = annotation["segmentation"]
    height, width = image["height"], image["width"]
    if isinstance(segmentation, list):
        if not segmentation:
            fail(f"annotation {annotation['id']}: an empty segmentation cannot be turned into a mask")
        for polygon in segmentation:
            if not isinstance(polygon, list) or len(polygon) < 6 or len(polygon) % 2:
                fail(f"annotation {annotation['id']}: a polygon of {polygon!r}")
        return "polygons"
    if isinstance(segmentation, dict):
        size = segmentation.get("size")
        counts = segmentation.get("counts")
        if size != [height, width]:
            fail(f"annotation {annotation['id']}: mask size {size} on a {height} x {width} image")
        if isinstance(counts, list):
            if sum(counts) != height * width:
                fail(f"annotation {annotation['id']}: the run lengths cover {sum(counts)} pixels")
            return "uncompressed"
        if isinstance(counts, str):
            return "compressed"
    fail(f"annotation {annotation['id']}: no segmentation pycocotools reads")


def check_coco(path, count, expect):
    with open(path, encoding="utf-8") as f:
        data = json.load(f)
    images = {image["id"]: image for image in data["images"]}
    categories = {category["id"]: category for category in data["categories"]}
    annotations = data["annotations"]
    if len(annotations) != count:
        fail(f"{len(annotations)} annotations for {count} objects")
    if len({a["id"] for a in annotations}) != len(annotations):
        fail("annotation ids repeat")
    for a in annotations:
        image = images[a["image_id"]]
        if a["category_id"] not in categories:
            fail(f"annotation {a['id']}: unknown category")
        x, y, w, h = a["bbox"]
        if not (w > 0 and h > 0):
            fail(f"annotation {a['id']}: box {a['bbox']} without area")
        if a.get("iscrowd", 0):
            if mask_description(a, image) == "polygons" and not a["segmentation"]:
                fail(f"annotation {a['id']}: a crowd without region")
            if not (a["area"] > 0):
                fail(f"annotation {a['id']}: crowd area {a['area']}")
        elif a["segmentation"]:
            mask_description(a, image)
        if "keypoints" in a:
            names = categories[a["category_id"]].get("keypoints", [])
            if len(a["keypoints"]) != 3 * len(names):
                fail(f"annotation {a['id']}: {len(a['keypoints'])} keypoint values for {len(names)} names")
            if expect.get("keypoint_names") and names != expect["keypoint_names"]:
                fail(f"keypoint names {names}")
    for got, want in zip(sorted(annotations, key=lambda a: a["id"]), expect.get("boxes", [])):
        if any(abs(g - w) > 1e-3 for g, w in zip(got["bbox"], want)):
            fail(f"annotation {got['id']}: box {got['bbox']} for {want}")
    for got, want in zip(sorted(annotations, key=lambda a: a["id"]), expect.get("parts", [])):
        if len(got["segmentation"]) != want:
            fail(f"annotation {got['id']}: {len(got['segmentation'])} polygons for {want}")


# ---- YOLO Pose -------------------------------------------------------------

def check_pose(root, count, keypoints):
    labels = os.path.join(root, "labels")
    lines = 0
    for name in os.listdir(labels):
        with open(os.path.join(labels, name), encoding="utf-8") as f:
            for line in f:
                fields = line.split()
                if not fields:
                    continue
                if len(fields) != 5 + 3 * keypoints:
                    fail(f"{name}: a line of {len(fields)} fields")
                if not (float(fields[3]) > 0 and float(fields[4]) > 0):
                    fail(f"{name}: a box without area: {line.strip()}")
                lines += 1
    if lines != count:
        fail(f"{lines} objects for {count}")


# ---- YOLO datasets as the trainer decides between boxes and outlines ------

def trainer_objects(label_file):
    """(boxes, segments) of one label file as the trainer counts them: every
    line of a file with a line of more than six fields is an outline."""
    if not os.path.isfile(label_file):
        return 0, 0
    with open(label_file, encoding="utf-8") as f:
        rows = [line.split() for line in f if line.strip()]
    if any(len(row) > 6 for row in rows):
        for row in rows:
            if (len(row) - 1) % 2 or len(row) < 7:
                fail(f"{label_file}: a line of {len(row)} fields read as an outline")
        return len(rows), len(rows)
    for row in rows:
        if len(row) != 5:
            fail(f"{label_file}: a box line of {len(row)} fields")
    return len(rows), 0


def check_yolo_sets(root, expect):
    folders = yolo_trainer.image_folders(os.path.join(root, "data.yaml"))
    objects = 0
    kinds = set()
    counted = set()
    for key, folder in folders.items():
        boxes = segments = 0
        for base, _, names in os.walk(folder):
            for name in names:
                if name.lower().endswith(IMAGE_SUFFIXES):
                    b, s = trainer_objects(yolo_trainer.label_path(os.path.join(base, name)))
                    boxes += b
                    segments += s
        if segments and boxes != segments:
            fail(f"{key}: {segments} outlines for {boxes} objects: the trainer uses only the boxes")
        if boxes:
            kinds.add(bool(segments))
        if folder not in counted:
            counted.add(folder)
            objects += boxes
    if len(kinds) > 1:
        fail(f"the datasets of one data.yaml disagree: outlines in some, boxes in others ({folders})")
    if kinds != {expect["segments"]}:
        fail(f"outlines {kinds} for {expect['segments']}")
    if objects != expect["objects"]:
        fail(f"{objects} objects for {expect['objects']}")


# ---- YOLOv5 OBB as its trainer reads it ------------------------------------

def check_dota(root, pictures, objects):
    data = yolo_trainer.load(os.path.join(root, "data.yaml"))
    names = data["names"]
    names = list(names.values()) if isinstance(names, dict) else list(names)
    if data.get("nc") != len(names):
        fail(f"nc {data.get('nc')} for {len(names)} names")
    kept = found = 0
    folders = []
    for key in ("train", "val", "test"):
        if key in data and data[key] not in folders:
            folders.append(data[key])
    for entry in folders:
        images = os.path.normpath(os.path.join(root, entry))
        labels = os.path.join(os.path.dirname(images), "labelTxt")
        for name in sorted(os.listdir(images)):
            with open(os.path.join(labels, os.path.splitext(name)[0] + ".txt"), encoding="utf-8") as f:
                rows = [line.split() for line in f.read().strip().splitlines() if line]
            try:
                for row in rows:
                    if row[-1] == "2":
                        continue
                    names.index(row[8])
            except (ValueError, IndexError):
                print(f"{name}: dropped as corrupt")
                continue
            kept += 1
            found += len(rows)
    if kept != pictures or found != objects:
        fail(f"{kept} pictures with {found} objects kept for {pictures} with {objects}")


# ---- Darknet, trained from the export folder -------------------------------

def darknet_data_file(path):
    options = {}
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = "".join(line.split())  # darknet drops every blank
            if not line or line[0] in "#;":
                continue
            if "=" not in line:
                fail(f"{path}: darknet cannot read the line {line!r}")
            key, value = line.split("=", 1)
            options[key] = value
    return options


def darknet_label_path(picture):
    """The maintained darknet's rule: a few folder names swapped, then the
    picture's suffix for ".txt"."""
    path = picture
    for old, new in (("/images/train2017/", "/labels/train2017/"), ("/images/val2017/", "/labels/val2017/"),
                     ("/JPEGImages/", "/labels/")):
        path = path.replace(old, new)
    for suffix in (".jpg", ".JPG", ".jpeg", ".JPEG", ".png", ".PNG", ".bmp", ".BMP", ".tiff", ".TIFF"):
        if path.endswith(suffix):
            return path[: -len(suffix)] + ".txt"
    fail(f"darknet cannot tell the label file of {picture}")


def darknet_list(path, classes):
    pictures = []
    objects = 0
    with open(path, encoding="utf-8", newline="") as f:
        for line in f.read().split("\n"):
            line = line.rstrip("\r")
            if not line:
                continue
            if os.path.isabs(line):
                fail(f"{path}: the absolute path {line}")
            if not os.path.isfile(line):
                fail(f"{path}: {line} is not there")
            with open(darknet_label_path(line), encoding="utf-8") as labels:
                for row in labels.read().split("\n"):
                    if not row.strip():
                        continue
                    c, x, y, w, h = row.split()
                    if not 0 <= int(c) < classes:
                        fail(f"{line}: class {c} of {classes}")
                    if not all(0 <= float(v) <= 1 for v in (x, y, w, h)) or float(w) <= 0 or float(h) <= 0:
                        fail(f"{line}: box {row}")
                    objects += 1
            pictures.append(line)
    return pictures, objects


def check_darknet(root, expect):
    os.chdir(root)  # darknet is started in the export folder
    options = darknet_data_file("obj.data")
    classes = int(options["classes"])
    with open(options["names"], encoding="utf-8") as f:
        names = f.read().split("\n")[:-1]
    if names != expect["classes"] or classes != len(names):
        fail(f"classes {classes}, names {names}")
    if not os.path.isdir(options["backup"]):
        fail(f"no backup folder {options['backup']} to save the weights in")
    lists = {key: darknet_list(options[key], classes) for key in ("train", "valid", "test") if key in options}
    train, valid = lists["train"][0], lists["valid"][0]
    if len(train) != expect["train"] or len(valid) != expect["valid"]:
        fail(f"{len(train)} training and {len(valid)} validation pictures")
    if options["valid"] != options["train"] and set(train) & set(valid):
        fail("pictures both in training and validation")
    objects = sum(lists[key][1] for key in lists if key == "train" or options[key] != options["train"])
    if objects != expect["objects"]:
        fail(f"{objects} objects for {expect['objects']}")


# ---- pose flips ------------------------------------------------------------

def check_flip(root, expected):
    data = yolo_trainer.load(os.path.join(root, "data.yaml"))
    flip = data.get("flip_idx")
    if not flip:
        fail("no flip_idx: the trainer turns left-right flips off")
    if len(flip) != data["kpt_shape"][0]:
        fail(f"flip_idx of {len(flip)} for kpt_shape {data['kpt_shape']}")
    if sorted(flip) != list(range(len(flip))) or any(flip[flip[i]] != i for i in range(len(flip))):
        fail(f"flip_idx {flip} is no permutation that undoes itself")
    if flip != expected:
        fail(f"flip_idx {flip} for {expected}")


def check_labelme(path, sets, points):
    import base64
    import io

    import PIL.Image
    from labelme.label_file import LabelFile

    label_file = LabelFile(path)
    shapes = [s for s in label_file.shapes if s["shape_type"] == "point"]
    groups = {s["group_id"] for s in shapes if s["group_id"] is not None}
    if len(groups) != sets or len(shapes) != points:
        fail(f"{len(groups)} groups of {len(shapes)} points for {sets} of {points}")
    for shape in shapes:
        if tuple(shape["points"][0]) == (0, 0):
            fail("a point in the corner")
    with open(path, encoding="utf-8") as f:
        record = json.load(f)
    if record.get("imageData"):
        picture = PIL.Image.open(io.BytesIO(base64.b64decode(record["imageData"])))
        if picture.size != (record["imageWidth"], record["imageHeight"]):
            fail(f"embedded {picture.size} for {record['imageWidth']} x {record['imageHeight']}")
        orientation = picture.getexif().get(0x0112, 1)
        if orientation not in (1, None):
            fail(f"embedded picture still turned by its orientation tag {orientation}")


# ---- YOLO segments of objects of several polygons --------------------------

def min_index(arr1, arr2):
    """The converter's: the first pair of the smallest distance."""
    import numpy as np
    dis = ((arr1[:, None, :] - arr2[None, :, :]) ** 2).sum(-1)
    return np.unravel_index(np.argmin(dis, axis=None), dis.shape)


def merge_multi_segment(segments):
    """The common COCO-to-YOLO converter's join of the polygons of one
    object: each tied to the next at their nearest points, the way out along
    every polygon to its tie with the next, the way back along the rest."""
    import numpy as np
    s = []
    segments = [np.array(i).reshape(-1, 2) for i in segments]
    idx_list = [[] for _ in range(len(segments))]
    for i in range(1, len(segments)):
        idx1, idx2 = min_index(segments[i - 1], segments[i])
        idx_list[i - 1].append(idx1)
        idx_list[i].append(idx2)
    for k in range(2):
        if k == 0:
            for i, idx in enumerate(idx_list):
                if len(idx) == 2 and idx[0] > idx[1]:
                    idx = idx[::-1]
                    segments[i] = segments[i][::-1, :]
                segments[i] = np.roll(segments[i], -idx[0], axis=0)
                segments[i] = np.concatenate([segments[i], segments[i][:1]])
                if i in {0, len(idx_list) - 1}:
                    s.append(segments[i])
                else:
                    idx = [0, idx[1] - idx[0]]
                    s.append(segments[i][idx[0]:idx[1] + 1])
        else:
            for i in range(len(idx_list) - 1, -1, -1):
                if i not in {0, len(idx_list) - 1}:
                    idx = idx_list[i]
                    nidx = abs(idx[1] - idx[0])
                    s.append(segments[i][nidx:])
    return s


def converted_line(parts, width, height):
    import numpy as np
    if len(parts) > 1:
        points = np.concatenate(merge_multi_segment(parts), axis=0)
    else:
        points = np.array(parts[0]).reshape(-1, 2)
    return (points / np.array([width, height])).reshape(-1).tolist()


def check_yolo_segments(path, width, height, objects):
    with open(path, encoding="utf-8") as f:
        rows = [line.split() for line in f if line.strip()]
    if len(rows) != len(objects):
        fail(f"{len(rows)} lines for {len(objects)} objects")
    for number, (row, parts) in enumerate(zip(rows, objects), 1):
        values = [float(v) for v in row[1:]]
        if len(values) % 2 or len(values) < 6:
            fail(f"line {number}: {len(values)} coordinates read as no polygon")
        want = converted_line(parts, width, height)
        if len(values) != len(want):
            fail(f"line {number}: {len(values) // 2} points for the converter's {len(want) // 2}")
        for got, expected in zip(values, want):
            if abs(got - expected) > 2e-5:
                fail(f"line {number}: {values} for the converter's {want}")


# ---- LabelMe objects ---------------------------------------------------------

def check_labelme_groups(path, polygons_per_object):
    from labelme.label_file import LabelFile

    objects = {}
    order = []
    for index, shape in enumerate(LabelFile(path).shapes):
        if shape["shape_type"] != "polygon":
            continue
        group = shape["group_id"]
        key = (shape["label"], group if group is not None else f"alone {index}")
        if key not in objects:
            objects[key] = 0
            order.append(key)
        objects[key] += 1
    counts = [objects[key] for key in order]
    if counts != polygons_per_object:
        fail(f"objects of {counts} polygons for {polygons_per_object}")


# ---- CVAT as its importers read it -------------------------------------------

def check_cvat(path, expect):
    import xml.etree.ElementTree as ET

    root = ET.parse(path).getroot()
    labels = [label.findtext("name") for label in root.findall("meta/task/labels/label")]
    if labels != expect["labels"]:
        fail(f"labels {labels} for {expect['labels']}")
    folder = os.path.join(os.path.dirname(path), "images")
    objects = {}
    order = []
    occluded = []
    for image in root.findall("image"):
        exists_picture(os.path.join(folder, image.get("name")), path)
        for index, shape in enumerate(image):
            occluded.append(1 if shape.get("occluded") == "1" else 0)
            if shape.get("label") not in labels:
                fail(f"a {shape.tag} of the undeclared label {shape.get('label')!r}")
            if shape.tag != "polygon":
                continue
            group = shape.get("group_id")
            key = (image.get("id"), group if group else f"alone {index}")
            if key not in objects:
                objects[key] = 0
                order.append(key)
            objects[key] += 1
    counts = [objects[key] for key in order]
    if counts != expect["objects"]:
        fail(f"objects of {counts} polygons for {expect['objects']}")
    if "occluded" in expect and occluded != expect["occluded"]:
        fail(f"occluded flags {occluded} for {expect['occluded']}")


# ---- RetinaNet's CSV generator ----------------------------------------------

def check_retinanet(root):
    classes = {}
    with open(os.path.join(root, "classes.csv"), encoding="utf-8", newline="") as f:
        for number, row in enumerate(csv.reader(f), 1):
            try:
                name, class_id = row
                class_id = int(class_id)
            except ValueError:
                fail(f"classes.csv line {number}: format should be 'class_name,class_id'")
            if name in classes:
                fail(f"classes.csv line {number}: duplicate class name {name!r}")
            classes[name] = class_id
    boxes = 0
    with open(os.path.join(root, "_annotations.csv"), encoding="utf-8", newline="") as f:
        for number, row in enumerate(csv.reader(f), 1):
            img_file, x1, y1, x2, y2, class_name = row[:6]
            exists_picture(os.path.join(root, img_file), f"_annotations.csv line {number}")
            if (x1, y1, x2, y2, class_name) == ("", "", "", "", ""):
                continue
            x1, y1, x2, y2 = int(x1), int(y1), int(x2), int(y2)
            if x2 <= x1 or y2 <= y1:
                fail(f"_annotations.csv line {number}: box {x1, y1, x2, y2}")
            if class_name not in classes:
                fail(f"_annotations.csv line {number}: unknown class name {class_name!r}")
            boxes += 1
    if not boxes:
        fail("no box")


# ---- Pascal VOC boxes -------------------------------------------------------

def check_voc(root, expect):
    import xml.etree.ElementTree as ET

    for stem, boxes in expect.items():
        tree = ET.parse(os.path.join(root, stem + ".xml"))
        got = [[int(obj.findtext("bndbox/" + k)) for k in ("xmin", "ymin", "xmax", "ymax")]
               for obj in tree.getroot().iter("object")]
        if got != boxes:
            fail(f"{stem}: boxes {got} for {boxes}")


def check_voc_flags(root, expect):
    import xml.etree.ElementTree as ET

    def flag(obj, name):
        element = obj.find(name)
        return 0 if element is None else int(element.text)

    for stem, flags in expect.items():
        tree = ET.parse(os.path.join(root, stem + ".xml"))
        got = [[flag(obj, k) for k in ("difficult", "truncated", "occluded")]
               for obj in tree.getroot().iter("object")]
        if got != flags:
            fail(f"{stem}: flags {got} for {flags}")


def main():
    command = sys.argv[1]
    if command == "pictures":
        check_pictures(sys.argv[2], sys.argv[3], int(sys.argv[4]))
    elif command == "onedataset":
        check_one_dataset(sys.argv[2], sys.argv[3], int(sys.argv[4]))
    elif command == "yololines":
        check_yolo_lines(sys.argv[2], json.loads(sys.argv[3]))
    elif command == "coco":
        check_coco(sys.argv[2], int(sys.argv[3]), json.loads(sys.argv[4]) if len(sys.argv) > 4 else {})
    elif command == "labelme":
        check_labelme(sys.argv[2], int(sys.argv[3]), int(sys.argv[4]))
    elif command == "pose":
        check_pose(sys.argv[2], int(sys.argv[3]), int(sys.argv[4]))
    elif command == "yolosegments":
        check_yolo_segments(sys.argv[2], float(sys.argv[3]), float(sys.argv[4]), json.loads(sys.argv[5]))
    elif command == "labelmegroups":
        check_labelme_groups(sys.argv[2], json.loads(sys.argv[3]))
    elif command == "cvat":
        check_cvat(sys.argv[2], json.loads(sys.argv[3]))
    elif command == "retinanet":
        check_retinanet(sys.argv[2])
    elif command == "voc":
        check_voc(sys.argv[2], json.loads(sys.argv[3]))
    elif command == "vocflags":
        check_voc_flags(sys.argv[2], json.loads(sys.argv[3]))
    elif command == "yolosets":
        check_yolo_sets(sys.argv[2], json.loads(sys.argv[3]))
    elif command == "portable":
        yolo_trainer.check_portable(sys.argv[2], fail)
    elif command == "dota":
        check_dota(sys.argv[2], int(sys.argv[3]), int(sys.argv[4]))
    elif command == "darknet":
        check_darknet(sys.argv[2], json.loads(sys.argv[3]))
    elif command == "flip":
        check_flip(sys.argv[2], json.loads(sys.argv[3]))
    else:
        fail(f"unknown check {command}")
    print("ok")


if __name__ == "__main__":
    main()
