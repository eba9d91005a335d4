#!/usr/bin/python3
"""Writes the inputs of bench_jsonreader and times Python's json on them.

  json_fixture.py write <folder> <images>
      <folder>/coco.json: a COCO-shaped document, ten annotations per image
      (boxes, polygons, keypoint sets), indented as json.dump(indent=4) does;
      <folder>/records.jsonl: one Florence-2 record per image.
  json_fixture.py load <file>
      Reads the file with json.load (a .jsonl file line by line with
      json.loads) in this fresh process; prints "seconds <s>".
"""
import json
import sys
import time


def write(folder, images):
    classes = ["person", "car", "bicycle", "dog", "cat"]
    document = {"images": [], "annotations": [], "categories": []}
    for c, name in enumerate(classes):
        document["categories"].append({"id": c + 1, "name": name, "supercategory": "thing"})
    with open(folder + "/records.jsonl", "w", encoding="utf-8") as jsonl:
        for i in range(images):
            document["images"].append({"id": i + 1, "file_name": "img%06d.jpg" % i, "width": 640, "height": 480})
            suffix = ""
            for k in range(10):
                x, y = (i * 7 + k * 31) % 500, (i * 11 + k * 17) % 400
                annotation = {"id": i * 10 + k + 1, "image_id": i + 1, "category_id": (i + k) % 5 + 1,
                              "bbox": [x + 0.5, y + 0.25, 40.5 + k, 30.25 + k], "area": 1234.5, "iscrowd": 0,
                              "segmentation": []}
                if k % 5 == 3:
                    annotation["segmentation"] = [[x, y, x + 40.5, y, x + 40.5, y + 30.25, x + 20, y + 35.75]]
                elif k % 5 == 4:
                    annotation["keypoints"] = [v for j in range(17) for v in (x + j * 1.5, y + j * 0.75, 2)]
                    annotation["num_keypoints"] = 17
                document["annotations"].append(annotation)
                suffix += "%s<loc_%d><loc_%d><loc_%d><loc_%d>" % (classes[(i + k) % 5], x, y, x + 40, y + 30)
            jsonl.write(json.dumps({"image": "img%06d.jpg" % i, "prefix": "<OD>", "suffix": suffix}) + "\n")
    with open(folder + "/coco.json", "w", encoding="utf-8") as f:
        json.dump(document, f, indent=4)


def load(path):
    start = time.perf_counter()
    with open(path, "rb") as f:
        if path.endswith(".jsonl"):
            values = [json.loads(line) for line in f if line.strip()]
        else:
            values = json.load(f)
    print("seconds %.6f" % (time.perf_counter() - start))
    return values


def main():
    if sys.argv[1] == "write":
        write(sys.argv[2], int(sys.argv[3]))
    else:
        load(sys.argv[2])


if __name__ == "__main__":
    main()
