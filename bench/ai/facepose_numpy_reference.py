#!/usr/bin/python3
"""Decodes the face and pose outputs that bench_facepose wrote, with vectorised
numpy and a greedy suppression, as a Python program would, and times each decode
(best of N runs in this warm interpreter).

Usage: facepose_numpy_reference.py INPUT_DIR [RUNS]
Prints one line per decode: "<name> <seconds> <results after suppression>".
"""

import os
import sys
import time

import numpy as np

CONF, IOU, KEYPOINT = 0.35, 0.45, 0.3
CANDIDATES = 8400
# A 1920 x 1080 picture letterboxed into 640 x 640 (and into 192 x 192).
SCALE, PAD_X, PAD_Y, WIDTH, HEIGHT = 1.0 / 3.0, 0, 140, 1920, 1080
PALM_SCALE, PALM_PAD_Y = 0.1, 42


def load(directory, name, shape):
    return np.fromfile(os.path.join(directory, name), dtype=np.float32).reshape(shape)


def to_picture(x, y, scale=SCALE, pad_y=PAD_Y):
    return (np.clip((x - PAD_X) / scale, 0, WIDTH), np.clip((y - pad_y) / scale, 0, HEIGHT))


def boxes_from_corners(x1, y1, x2, y2, scale=SCALE, pad_y=PAD_Y):
    x1, y1 = to_picture(x1, y1, scale, pad_y)
    x2, y2 = to_picture(x2, y2, scale, pad_y)
    keep = (x1 < x2) & (y1 < y2)
    return np.stack([x1, y1, x2, y2], axis=1), keep


def nms(boxes, scores):
    order = np.argsort(-scores, kind="stable")
    areas = (boxes[:, 2] - boxes[:, 0]) * (boxes[:, 3] - boxes[:, 1])
    kept = []
    while order.size:
        i = order[0]
        kept.append(i)
        rest = order[1:]
        w = np.clip(np.minimum(boxes[i, 2], boxes[rest, 2]) - np.maximum(boxes[i, 0], boxes[rest, 0]), 0, None)
        h = np.clip(np.minimum(boxes[i, 3], boxes[rest, 3]) - np.maximum(boxes[i, 1], boxes[rest, 1]), 0, None)
        inter = w * h
        iou = np.where(inter > 0, inter / (areas[i] + areas[rest] - inter), 0)
        order = rest[iou <= IOU]
    return kept


def decode_rows(rows, triplets, keypoint_visibility):
    score = rows[4]
    passing = np.nonzero(score >= CONF)[0]
    cx, cy, w, h = rows[0, passing], rows[1, passing], rows[2, passing], rows[3, passing]
    boxes, keep = boxes_from_corners(cx - w / 2, cy - h / 2, cx + w / 2, cy + h / 2)
    passing, boxes = passing[keep], boxes[keep]
    points = rows[5:5 + 3 * triplets, passing].reshape(triplets, 3, -1)
    x, y = to_picture(points[:, 0], points[:, 1])
    marks = points[:, 2]
    if keypoint_visibility:
        marks = np.where(marks < KEYPOINT, 0, np.where(marks < KEYPOINT + 0.4, 1, 2))
    kept = nms(boxes, score[passing])
    return [(boxes[i], x[:, i], y[:, i], marks[:, i]) for i in kept]


def decode_face_grids(grids):
    boxes_all, scores_all, marks_all = [], [], []
    for grid in grids:
        _, h, w = grid.shape
        stride_x, stride_y = 640.0 / w, 640.0 / h
        score = 1.0 / (1.0 + np.exp(-grid[64]))
        rows, cols = np.nonzero(score >= CONF)
        cells = grid[:, rows, cols]
        bins = cells[:64].reshape(4, 16, -1)
        e = np.exp(bins - bins.max(axis=1, keepdims=True))
        dist = (np.arange(16)[None, :, None] * e).sum(axis=1) / e.sum(axis=1)
        ax, ay = cols + 0.5, rows + 0.5
        boxes, keep = boxes_from_corners((ax - dist[0]) * stride_x, (ay - dist[1]) * stride_y,
                                         (ax + dist[2]) * stride_x, (ay + dist[3]) * stride_y)
        marks = cells[65:80].reshape(5, 3, -1)
        x, y = to_picture((2 * marks[:, 0] + cols) * stride_x, (2 * marks[:, 1] + rows) * stride_y)
        conf = 1.0 / (1.0 + np.exp(-marks[:, 2]))
        boxes_all.append(boxes[keep])
        scores_all.append(score[rows, cols][keep])
        marks_all.append(np.stack([x, y, conf])[:, :, keep])
    boxes = np.concatenate(boxes_all)
    scores = np.concatenate(scores_all)
    marks = np.concatenate(marks_all, axis=2)
    return [(boxes[i], marks[:, :, i]) for i in nms(boxes, scores)]


def palm_anchors(size):
    anchors = []
    for stride, per_cell in ((8, 2), (16, 2), (32, 6)):
        grid = size // stride
        j, k = np.meshgrid(np.arange(grid), np.arange(grid), indexing="ij")
        centres = np.stack([(k.ravel() + 0.5) / grid, (j.ravel() + 0.5) / grid], axis=1)
        anchors.append(np.repeat(centres, per_cell, axis=0))
    return np.concatenate(anchors).astype(np.float32)


def decode_palms(regression, logits, anchors, size=192):
    score = 1.0 / (1.0 + np.exp(-np.clip(logits, -50, 50)))
    passing = np.nonzero(score >= 0.5)[0]
    r, a = regression[passing], anchors[passing]
    cx, cy = (r[:, 0] / size + a[:, 0]) * size, (r[:, 1] / size + a[:, 1]) * size
    hw, hh = r[:, 2] / 2, r[:, 3] / 2
    boxes, keep = boxes_from_corners(cx - hw, cy - hh, cx + hw, cy + hh, PALM_SCALE, PALM_PAD_Y)
    points = r[:, 4:].reshape(-1, 7, 2)
    x, y = to_picture((points[:, :, 0] / size + a[:, 0:1]) * size, (points[:, :, 1] / size + a[:, 1:2]) * size,
                      PALM_SCALE, PALM_PAD_Y)
    boxes, x, y, passing = boxes[keep], x[keep], y[keep], passing[keep]
    return [(boxes[i], x[i], y[i]) for i in nms(boxes, score[passing])]


def best_of(runs, action):
    best, result = float("inf"), None
    for _ in range(runs):
        start = time.perf_counter()
        result = action()
        best = min(best, time.perf_counter() - start)
    return best, result


def main():
    directory = sys.argv[1]
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 50
    face_rows = load(directory, "face_rows.f32", (20, CANDIDATES))
    pose_rows = load(directory, "pose_rows.f32", (56, CANDIDATES))
    grids = [load(directory, "face_grid%d.f32" % i, (80, s, s)) for i, s in enumerate((80, 40, 20))]
    anchors = palm_anchors(192)
    regression = load(directory, "palm_regression.f32", (len(anchors), 18))
    logits = load(directory, "palm_scores.f32", (len(anchors),))

    cases = [
        ("face_rows", lambda: decode_rows(face_rows, 5, False)),
        ("face_grid", lambda: decode_face_grids(grids)),
        ("pose_rows", lambda: decode_rows(pose_rows, 17, True)),
        ("palms", lambda: decode_palms(regression, logits, anchors)),
    ]
    for name, action in cases:
        seconds, result = best_of(runs, action)
        print("%s %.9f %d" % (name, seconds, len(result)))


if __name__ == "__main__":
    main()
