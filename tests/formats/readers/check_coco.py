"""Reads a COCO export with Python's json module and checks the COCO invariants.

Usage: check_coco.py <annotations.json> <expected image count> <expected annotation count>
"""
import json
import sys


def fail(message):
    print("FAIL:", message)
    sys.exit(1)


def polygon_area(flat):
    xs, ys = flat[0::2], flat[1::2]
    twice = sum(xs[i - 1] * ys[i] - xs[i] * ys[i - 1] for i in range(len(xs)))
    return abs(twice) / 2


def main():
    path, n_images, n_annotations = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    with open(path, encoding="utf-8") as f:
        coco = json.load(f)
    images, annotations, categories = coco["images"], coco["annotations"], coco["categories"]
    if len(images) != n_images or len(annotations) != n_annotations:
        fail(f"{len(images)} images, {len(annotations)} annotations")

    image_by_id = {}
    for image in images:
        if image["id"] in image_by_id:
            fail(f"duplicate image id {image['id']}")
        image_by_id[image["id"]] = image
    names = [image["file_name"] for image in images]
    if len(set(names)) != len(names):
        fail("two images share a file_name")
    category_by_id = {}
    for category in categories:
        if category["id"] in category_by_id:
            fail(f"duplicate category id {category['id']}")
        category_by_id[category["id"]] = category

    ids = set()
    for a in annotations:
        if a["id"] in ids:
            fail(f"duplicate annotation id {a['id']}")
        ids.add(a["id"])
        image = image_by_id.get(a["image_id"])
        if image is None:
            fail(f"annotation {a['id']} names unknown image {a['image_id']}")
        category = category_by_id.get(a["category_id"])
        if category is None:
            fail(f"annotation {a['id']} names unknown category {a['category_id']}")
        x, y, w, h = a["bbox"]
        if w < 0 or h < 0 or x < 0 or y < 0 or x + w > image["width"] + 1e-6 or y + h > image["height"] + 1e-6:
            fail(f"bbox {a['bbox']} outside image {image['width']}x{image['height']}")
        for polygon in a["segmentation"]:
            if len(polygon) < 6 or len(polygon) % 2:
                fail(f"polygon of {len(polygon)} numbers")
        # COCO evaluation buckets objects by area: a polygon's own area, else
        # the box's.
        if a["segmentation"]:
            area = sum(polygon_area(polygon) for polygon in a["segmentation"])
        else:
            area = w * h
        if abs(a["area"] - area) > 1e-6 * max(1.0, area):
            fail(f"area {a['area']} != {area} of annotation {a['id']}")
        if a["segmentation"] and a["area"] >= w * h:
            fail(f"polygon area {a['area']} not below its box's {w * h}")
        if "keypoints" in a:
            kp = a["keypoints"]
            if len(kp) != 3 * len(category["keypoints"]):
                fail("keypoint count differs from the category's")
            if a["num_keypoints"] != sum(1 for v in kp[2::3] if v > 0):
                fail("num_keypoints does not count the labelled keypoints")
    print(f"ok: {len(images)} images, {len(annotations)} annotations")


main()
