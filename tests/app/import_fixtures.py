"""Fixtures of the import tests, made by other programs than Quillmark.

  import_fixtures.py labelme <folder> <case>
      LabelMe files written by labelme's own LabelFile, as the labelling tool
      saves them ("shapes" before "imagePath" and "imageData"). Cases:
        both      embedded picture (red) and an existing image file (blue)
        nulldata  imageData null, the image file exists
        missing   embedded picture, the named image file does not exist
  import_fixtures.py coco <root>
      The annotation file of a COCO release layout,
      <root>/annotations/instances_val2017.json, for the images
      <root>/val2017/000000000139.jpg (64 x 48) and 000000000285.jpg (50 x 40).
  import_fixtures.py package <path>
      A package built with Python's sqlite3 from the documented table layout:
      a stored project type and keypoint schema, a class that no annotation
      uses, two images with their bytes, one video with a labelled frame.
"""

import io
import json
import os
import sqlite3
import sys

from PIL import Image


def png_bytes(colour, size=(40, 30)):
    buffer = io.BytesIO()
    Image.new("RGB", size, colour).save(buffer, "PNG")
    return buffer.getvalue()


def labelme(folder, case):
    os.environ.setdefault("QT_QPA_PLATFORM", "offscreen")
    from labelme.label_file import LabelFile

    os.makedirs(folder, exist_ok=True)
    # Enough shapes that the picture lies past the first 512 bytes.
    shapes = [
        dict(label="cat", points=[[1 + i, 2 + i], [20 + i, 25]], group_id=None,
             shape_type="rectangle", flags={})
        for i in range(6)
    ]
    embedded = None if case == "nulldata" else png_bytes((220, 20, 20))
    if case != "missing":
        Image.new("RGB", (40, 30), (20, 20, 220)).save(os.path.join(folder, "a.png"))
    LabelFile().save(os.path.join(folder, "a.json"), shapes, "a.png", 30, 40, imageData=embedded)


def coco(root):
    os.makedirs(os.path.join(root, "annotations"), exist_ok=True)
    url = "http://images.cocodataset.org/val2017/"
    document = {
        "info": {"description": "COCO 2017 Dataset", "version": "1.0", "year": 2017},
        "licenses": [{"url": "http://creativecommons.org/licenses/by/2.0/", "id": 4,
                      "name": "Attribution License"}],
        "images": [
            {"license": 4, "file_name": "000000000139.jpg", "coco_url": url + "000000000139.jpg",
             "height": 48, "width": 64, "date_captured": "2013-11-21 01:34:01", "id": 139},
            {"license": 4, "file_name": "000000000285.jpg", "coco_url": url + "000000000285.jpg",
             "height": 40, "width": 50, "date_captured": "2013-11-18 22:55:10", "id": 285},
        ],
        "annotations": [
            {"segmentation": [], "area": 320.0, "iscrowd": 0, "image_id": 139,
             "bbox": [10.0, 8.0, 20.0, 16.0], "category_id": 18, "id": 1001},
            {"segmentation": [], "area": 300.0, "iscrowd": 0, "image_id": 139,
             "bbox": [40.0, 5.0, 10.0, 30.0], "category_id": 1, "id": 1002},
            {"segmentation": [], "area": 100.0, "iscrowd": 0, "image_id": 285,
             "bbox": [1.0, 1.0, 10.0, 10.0], "category_id": 1, "id": 1003},
        ],
        "categories": [
            {"supercategory": "person", "id": 1, "name": "person"},
            {"supercategory": "animal", "id": 18, "name": "dog"},
        ],
    }
    with open(os.path.join(root, "annotations", "instances_val2017.json"), "w") as out:
        json.dump(document, out)


DDL = """
PRAGMA journal_mode = WAL;
CREATE TABLE qmpkg_metadata (key TEXT PRIMARY KEY NOT NULL, value TEXT NOT NULL DEFAULT '');
CREATE TABLE images (id INTEGER PRIMARY KEY NOT NULL, filename TEXT NOT NULL,
    width INTEGER NOT NULL DEFAULT 0, height INTEGER NOT NULL DEFAULT 0, bytes BLOB);
CREATE TABLE classes (id INTEGER PRIMARY KEY AUTOINCREMENT, title TEXT NOT NULL UNIQUE,
    color TEXT NOT NULL DEFAULT '#ffffff', task_type TEXT NOT NULL DEFAULT '');
CREATE TABLE annotations (id INTEGER PRIMARY KEY AUTOINCREMENT,
    image_id INTEGER NOT NULL REFERENCES images(id) ON DELETE CASCADE,
    class_id INTEGER NOT NULL REFERENCES classes(id) ON DELETE CASCADE,
    geom_type TEXT, geometry TEXT, track_id INTEGER, confidence REAL NOT NULL DEFAULT 1.0, attributes TEXT);
CREATE TABLE videos (id INTEGER PRIMARY KEY NOT NULL, filename TEXT NOT NULL,
    width INTEGER NOT NULL DEFAULT 0, height INTEGER NOT NULL DEFAULT 0,
    frame_count INTEGER NOT NULL DEFAULT 0, fps REAL NOT NULL DEFAULT 25.0, bytes BLOB);
CREATE TABLE video_annotations (id INTEGER PRIMARY KEY AUTOINCREMENT,
    video_id INTEGER NOT NULL REFERENCES videos(id) ON DELETE CASCADE, frame_index INTEGER NOT NULL,
    class_id INTEGER NOT NULL REFERENCES classes(id) ON DELETE CASCADE,
    geom_type TEXT, geometry TEXT, confidence REAL NOT NULL DEFAULT 1.0, attributes TEXT);
"""


def box(x, y, w, h):
    corners = [(x, y), (x + w, y), (x + w, y + h), (x, y + h), (x, y)]
    return "POLYGON ((" + ", ".join("%.4f %.4f" % c for c in corners) + "))"


def package(path):
    if os.path.exists(path):
        os.remove(path)
    db = sqlite3.connect(path)
    db.executescript(DDL)
    schema = {"objectClass": "person", "keypointNames": ["nose", "left_eye", "right_eye"],
              "edges": [[0, 1], [0, 2]]}
    db.executemany("INSERT INTO qmpkg_metadata VALUES (?, ?)", [
        ("qmpkg_version", "1"), ("generator", "fixture"), ("image_count", "2"), ("video_count", "1"),
        ("class_count", "3"), ("project_type", "pose"), ("keypoint_schema", json.dumps(schema)),
    ])
    db.executemany("INSERT INTO classes (id, title, color) VALUES (?, ?, ?)", [
        (1, "person", "#12ab34"), (2, "zebra", "#abcdef"), (3, "dog", "#ff0000"),
    ])
    db.executemany("INSERT INTO images VALUES (?, ?, ?, ?, ?)", [
        (5, "a.png", 40, 30, png_bytes((220, 20, 20))),
        (9, "b.png", 40, 30, png_bytes((20, 220, 20))),
    ])
    db.executemany("INSERT INTO annotations (image_id, class_id, geom_type, geometry, attributes) "
                   "VALUES (?, ?, ?, ?, ?)", [
        (5, 3, "BBOX", box(1, 2, 10, 10), None),
        (5, 1, "KEYPOINT", "MULTIPOINT ((1.0000 1.0000), (2.0000 2.0000), (3.0000 3.0000))",
         json.dumps({"visibility": [2, 1, 0]})),
        (9, 1, "BBOX", box(4, 4, 8, 6), None),
    ])
    db.execute("INSERT INTO videos VALUES (3, 'clip.mp4', 64, 48, 10, 30.0, ?)", (b"not really a video",))
    db.execute("INSERT INTO video_annotations (video_id, frame_index, class_id, geom_type, geometry) "
               "VALUES (3, 4, 3, 'BBOX', ?)", (box(2, 2, 5, 5),))
    db.commit()
    db.execute("PRAGMA wal_checkpoint(TRUNCATE)")
    db.close()


if __name__ == "__main__":
    if sys.argv[1] == "labelme":
        labelme(sys.argv[2], sys.argv[3])
    elif sys.argv[1] == "coco":
        coco(sys.argv[2])
    elif sys.argv[1] == "package":
        package(sys.argv[2])
    else:
        sys.exit("unknown fixture " + sys.argv[1])
