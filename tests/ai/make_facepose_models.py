#!/usr/bin/python3
"""Writes the tiny face and pose ONNX models the engine tests load through the
real runtime, and reference results for the layouts whose decoding is worked out
here with numpy.

The models reuse the builders of make_test_models.py: fixed outputs tied to the
input, and probes that copy chosen input values into an output.

Usage: make_facepose_models.py OUTPUT_DIR
Writes OUTPUT_DIR/*.onnx and OUTPUT_DIR/reference.json.
"""

import json
import os
import sys

import numpy as np
from onnx import TensorProto, helper, numpy_helper

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import make_test_models as base  # noqa: E402

F16 = TensorProto.FLOAT16
F32 = np.float32


def output_model(outputs, height=640, width=640, input_info=None):
    return base.constant_model(outputs, input_info or base.image_input(height, width))


def save(model, out_dir, name):
    base.save(model, out_dir, name)


def letterbox(picture_w, picture_h, target_w, target_h):
    """Scale and padding as the program's letterbox computes them (float32)."""
    scale = min(F32(target_w) / F32(picture_w), F32(target_h) / F32(picture_h))
    new_w = int(F32(scale * F32(picture_w) + F32(0.5)))
    new_h = int(F32(scale * F32(picture_h) + F32(0.5)))
    return float(scale), (target_w - new_w) // 2, (target_h - new_h) // 2


def to_picture(u, v, scale, pad_x, pad_y, picture_w, picture_h):
    x = min(max((u - pad_x) / scale, 0.0), picture_w)
    y = min(max((v - pad_y) / scale, 0.0), picture_h)
    return x, y


def sigmoid(v):
    return 1.0 / (1.0 + np.exp(-np.float64(v)))


# --- Face, layout 0 -----------------------------------------------------------

# (cx, cy, w, h, score) in model pixels of a 640 x 640 input.
FACE_BOXES = [
    (320, 320, 200, 100, 0.9),     # kept
    (330, 320, 200, 100, 0.8),     # overlaps the first: suppressed at IoU 0.5
    (100, 200, 40, 40, 0.35),      # exactly at the threshold 0.35: kept
    (100, 300, 40, 40, 0.3499),    # just below it
    (320, 60, 40, 40, 0.95),       # in the top border only: empty after clamping
    (500, 400, 60, 40, 0.6),       # this pair overlaps by an IoU of exactly 0.5:
    (520, 400, 60, 40, 0.55),      # both are kept
]

# Landmarks (x, y, conf) of the first face; the others get plain ones. Landmark 2
# has conf exactly 0.1 (unlabelled), landmark 4 lies outside the picture.
FIRST_FACE_LANDMARKS = [(300, 310, 0.9), (340, 310, 0.8), (320, 320, 0.1), (305, 335, 0.05), (700, 100, 2.0)]


def face_rows(with_landmarks):
    rows = []
    for i, box in enumerate(FACE_BOXES):
        row = list(box)
        if with_landmarks:
            marks = FIRST_FACE_LANDMARKS if i == 0 else [(box[0], box[1], 0.5)] * 5
            for mark in marks:
                row += list(mark)
        rows.append(row)
    return base.channel_major(rows)


def probe_input():
    return base.image_input(6, 8)


def probe_rows(items):
    """Nodes building [1, rows, n]: blocks of constant rows and rows gathered
    from the flat input at the given (channel, row, column) indices, in the
    order given. Each item is ("const", array [r, n]) or ("probe", [indices])."""
    nodes, inits = [], [numpy_helper.from_array(np.array([1, 3 * 6 * 8], np.int64), "flat_shape"),
                        numpy_helper.from_array(np.array([1], np.int64), "one_axis")]
    nodes.append(helper.make_node("Reshape", ["images", "flat_shape"], ["flat"]))
    parts = []
    for i, (kind, value) in enumerate(items):
        name = "part%d" % i
        if kind == "const":
            inits.append(numpy_helper.from_array(np.asarray(value, F32)[np.newaxis], name))
        else:
            flat = [c * 48 + y * 8 + x for c, y, x in value]
            inits.append(numpy_helper.from_array(np.array(flat, np.int64), name + "_idx"))
            nodes.append(helper.make_node("Gather", ["flat", name + "_idx"], [name + "_g"], axis=1))
            nodes.append(helper.make_node("Unsqueeze", [name + "_g", "one_axis"], [name]))
        parts.append(name)
    nodes.append(helper.make_node("Concat", parts, ["output0"], axis=1))
    return nodes, inits


def probe_model(out_dir, name, items, rows, n):
    nodes, inits = probe_rows(items)
    graph = helper.make_graph(nodes, "probe", [probe_input()],
                              [helper.make_tensor_value_info("output0", TensorProto.FLOAT, [1, rows, n])], inits)
    save(helper.make_model(graph, opset_imports=[helper.make_opsetid("", base.OPSET)]), out_dir, name)


# The probes read the planar tensor of an 8 x 6 input at (channel, row, column).
# A 16 x 8 picture is letterboxed to 8 x 4 with one grey row above and below, so
# row 0 and row 5 are border.
PROBE_INDICES = [(0, 1, 1), (1, 4, 6), (2, 5, 3)]


def face_probe(out_dir):
    boxes = np.array([[2, 6, 4], [2, 3, 3], [2, 2, 2], [2, 2, 2]], F32)  # cx, cy, w, h of 3 faces
    probe_model(out_dir, "face_probe.onnx", [("const", boxes), ("probe", PROBE_INDICES)], 5, 3)


def pose_probe(out_dir):
    """One keypoint (K = 1): the person score and the keypoint score are input
    values, the keypoint position is constant."""
    boxes = np.array([[4, 2], [3, 2], [4, 2], [2, 2]], F32)
    keypoint_xy = np.array([[5, 1], [3, 2]], F32)
    probe_model(out_dir, "pose_probe.onnx",
                [("const", boxes), ("probe", PROBE_INDICES[:2]), ("const", keypoint_xy),
                 ("probe", [PROBE_INDICES[2], PROBE_INDICES[0]])], 8, 2)


def unstated(values, declared_shape):
    """An output holding `values` whose extents the runtime cannot know before
    the run (the shape passes through a value computed from the input), so the
    model may state any shape for it, e.g. one with named extents or one that
    the run then contradicts."""
    values = np.asarray(values, F32)

    def build(prefix, out_name):
        inits = [numpy_helper.from_array(values.reshape(-1), prefix + "_flat"),
                 numpy_helper.from_array(np.array(values.shape, np.int64), prefix + "_target")]
        nodes = [
            helper.make_node("ReduceMean", ["images"], [prefix + "_mean"], keepdims=0),
            helper.make_node("Mul", [prefix + "_mean", "zero"], [prefix + "_zero"]),
            helper.make_node("Cast", [prefix + "_zero"], [prefix + "_izero"], to=TensorProto.INT64),
            helper.make_node("Add", [prefix + "_target", prefix + "_izero"], [prefix + "_shape"]),
            helper.make_node("Reshape", [prefix + "_flat", prefix + "_shape"], [out_name]),
        ]
        return nodes, inits, declared_shape, TensorProto.FLOAT
    return build


def face_layout0_models(out_dir):
    save(output_model([("output0", base.constant(face_rows(False)))]), out_dir, "face_box.onnx")
    save(output_model([("output0", base.constant(face_rows(True)))]), out_dir, "face_landmarks.onnx")
    # Outputs without a stated feature count: the run decides.
    for name, rows in (("face_dynamic_20.onnx", face_rows(True)), ("face_dynamic_15.onnx", face_rows(True)[:, :15])):
        save(output_model([("output0", unstated(rows, [1, "features", "boxes"]))]), out_dir, name)
    # A stated input size of 320 x 320, and one without a stated size.
    save(output_model([("output0", base.constant(face_rows(False)))], 320, 320), out_dir, "face_320.onnx")
    save(output_model([("output0", base.constant(face_rows(False)))],
                      input_info=helper.make_tensor_value_info("images", TensorProto.FLOAT, [1, 3, "h", "w"])),
         out_dir, "face_dynamic_input.onnx")


# --- Face, layout 1 (multi-scale head) ------------------------------------------

DFL_INPUT = (256, 320)  # height, width: not square
# Grid sizes (H, W) of the three scales. The first has other strides across
# (320 / 32 = 10) than down (256 / 32 = 8).
DFL_GRIDS = [(32, 32), (16, 20), (8, 10)]
# Cells that hold a face: (scale, row, column, logit). Scores all differ.
DFL_FACES = [(0, 3, 4, 0.4), (0, 31, 31, 2.5), (1, 7, 9, 1.5), (1, 0, 0, 3.2), (2, 5, 2, 0.9), (2, 7, 9, 4.0)]


def dfl_outputs():
    rng = np.random.default_rng(20240611)
    outputs = []
    for scale, (h, w) in enumerate(DFL_GRIDS):
        out = np.zeros((1, 80, h, w), F32)
        # Each side's bins: noise with a peak at a small distance (0 to 4 cells).
        bins = rng.normal(0.0, 1.0, (4, 16, h, w))
        peaks = rng.integers(0, 5, (4, h, w))
        for side in range(4):
            np.put_along_axis(bins[side], peaks[side][np.newaxis], 5.0, axis=0)
        out[0, :64] = bins.reshape(64, h, w)
        out[0, 64] = -10.0
        out[0, 65:80] = rng.uniform(-1.0, 1.0, (15, h, w))
        out[0, 67:80:3] = rng.normal(0.0, 3.0, (5, h, w))
        for s, r, c, logit in DFL_FACES:
            if s == scale:
                out[0, 64, r, c] = logit
        outputs.append(out)
    return outputs


def dfl_reference(outputs, picture_w, picture_h, conf):
    """Faces of every scale, decoded with float64: boxes from the cell centre,
    landmarks from the cell's corner (x = (2 v + column) stride)."""
    in_h, in_w = DFL_INPUT
    scale, pad_x, pad_y = letterbox(picture_w, picture_h, in_w, in_h)
    faces = []
    for index, out in enumerate(outputs):
        _, _, h, w = out.shape
        stride_x, stride_y = in_w / w, in_h / h
        for r in range(h):
            for c in range(w):
                cell = out[0, :, r, c].astype(np.float64)
                score = sigmoid(cell[64])
                if score < conf:
                    continue
                dist = []
                for side in range(4):
                    bins = cell[16 * side:16 * side + 16]
                    e = np.exp(bins - bins.max())
                    dist.append(float((np.arange(16) * e).sum() / e.sum()))
                ax, ay = c + 0.5, r + 0.5
                x1, y1 = to_picture((ax - dist[0]) * stride_x, (ay - dist[1]) * stride_y, scale, pad_x, pad_y,
                                    picture_w, picture_h)
                x2, y2 = to_picture((ax + dist[2]) * stride_x, (ay + dist[3]) * stride_y, scale, pad_x, pad_y,
                                    picture_w, picture_h)
                if not (x1 < x2 and y1 < y2):
                    continue
                marks = []
                for k in range(5):
                    b = 65 + 3 * k
                    x, y = to_picture((2 * cell[b] + c) * stride_x, (2 * cell[b + 1] + r) * stride_y, scale,
                                      pad_x, pad_y, picture_w, picture_h)
                    marks.append([x, y, float(sigmoid(cell[b + 2]))])
                faces.append({"scale": index, "score": float(score), "box": [x1, y1, x2 - x1, y2 - y1],
                              "landmarks": marks})
    faces.sort(key=lambda f: -f["score"])
    return faces


def face_layout1_models(out_dir, reference):
    outputs = dfl_outputs()
    h, w = DFL_INPUT
    names = ["stride8", "stride16", "stride32"]
    save(output_model([(n, base.constant(o)) for n, o in zip(names, outputs)], h, w), out_dir, "face_dfl.onnx")
    # The first scale with 64 channels only: not a face scale, skipped.
    narrow = outputs[0][:, :64]
    save(output_model([(names[0], base.constant(narrow))] + [(n, base.constant(o)) for n, o in
                                                            zip(names[1:], outputs[1:])], h, w),
         out_dir, "face_dfl_one_narrow.onnx")
    save(output_model([(n, base.constant(o[:, :64])) for n, o in zip(names, outputs)], h, w), out_dir,
         "face_dfl_all_narrow.onnx")
    reference["face_dfl"] = {
        "conf": 0.5,
        "pictures": [{"width": pw, "height": ph, "faces": dfl_reference(outputs, pw, ph, 0.5)}
                     for pw, ph in ((640, 400), (400, 400))],
    }


# --- Pose -------------------------------------------------------------------------

KEYPOINT_THRESHOLD = F32(0.3)


def pose_rows():
    """Three candidates of a 17-keypoint model, (cx, cy, w, h, score, then x, y,
    score per keypoint). The first person's keypoint scores sit on the
    visibility thresholds."""
    first_scores = [KEYPOINT_THRESHOLD, KEYPOINT_THRESHOLD + F32(0.4), F32(0.2999), F32(0.95)] + [F32(0.5)] * 13
    rows = []
    for cx, score in ((320, 0.9), (325, 0.8), (100, 0.2)):
        row = [cx, 320, 200, 300, score]
        for k in range(17):
            row += [250 + 5 * k, 200 + 10 * k, float(first_scores[k])]
        rows.append(row)
    rows[0][5 + 3 * 16] = 2000  # the last keypoint lies beyond the picture's right edge
    return base.channel_major(rows)


def pose_models(out_dir):
    save(output_model([("output0", base.constant(pose_rows()))]), out_dir, "pose_17.onnx")
    hand = np.zeros((1, 68, 2), F32)
    hand[0, :5, 0] = (320, 320, 100, 100, 0.9)
    save(output_model([("output0", base.constant(hand))]), out_dir, "pose_21.onnx")
    for feats in (7, 5):
        save(output_model([("output0", base.constant(np.zeros((1, feats, 4), F32)))]), out_dir,
             "pose_nfeat_%d.onnx" % feats)
    save(output_model([("output0", base.constant(np.zeros((1, 56), F32)))]), out_dir, "pose_rank2.onnx")
    # An 80-class instance-segmentation model (4 + 80 + 32 rows, mask
    # prototypes) with its own names: its rows would read as 37 keypoints.
    seg = np.zeros((1, 116, 120), F32)
    seg[0, :5, 0] = (320, 320, 100, 100, 0.9)
    model = output_model([("output0", base.constant(seg)),
                          ("output1", base.constant(np.zeros((1, 32, 8, 8), F32)))])
    coco = "{" + ", ".join("%d: 'class%d'" % (i, i) for i in range(80)) + "}"
    base.save(model, out_dir, "seg_as_pose.onnx", names=coco)
    # Two outputs, neither 18 wide: a YOLO-pose model read from its first output.
    save(output_model([("output0", base.constant(pose_rows())), ("extra", base.constant(np.zeros((1, 4, 3), F32)))]),
         out_dir, "pose_two_outputs.onnx")


def palm_anchors(size):
    anchors = []
    for stride, per_cell in ((8, 2), (16, 2), (32, 6)):
        grid = size // stride
        for j in range(grid):
            for k in range(grid):
                anchors += [((k + 0.5) / grid, (j + 0.5) / grid)] * per_cell
    return anchors


# Anchors that hold a hand: (index, logit, dx, dy, w, h). Index 600 lies in the
# middle of the finest grid (cell row 12, column 12), 1535 in the coarsest (cell
# row 2, column 3). A logit of 1000 counts as 50.
PALM_HANDS = [(600, 1000.0, 4, 2, 30, 20), (700, 1.0, -6, 3, 40, 60), (1535, 0.2, 10, -8, 50, 40)]


def palm_outputs(count):
    rng = np.random.default_rng(7)
    regression = np.zeros((1, count, 18), F32)
    scores = np.full((1, count, 1), -10.0, F32)
    for index, logit, dx, dy, w, h in PALM_HANDS:
        regression[0, index, :4] = (dx, dy, w, h)
        regression[0, index, 4:] = rng.uniform(-30, 30, 14)
        scores[0, index, 0] = logit
    return regression, scores


def palm_reference(regression, scores, picture_w, picture_h, conf, size=192):
    scale, pad_x, pad_y = letterbox(picture_w, picture_h, size, size)
    anchors = palm_anchors(size)
    hands = []
    for a, (ax, ay) in enumerate(anchors):
        score = sigmoid(min(max(float(scores[0, a, 0]), -50.0), 50.0))
        if score < conf:
            continue
        r = regression[0, a].astype(np.float64)
        cx, cy = (r[0] / size + ax) * size, (r[1] / size + ay) * size
        hw, hh = r[2] / 2, r[3] / 2
        x1, y1 = to_picture(cx - hw, cy - hh, scale, pad_x, pad_y, picture_w, picture_h)
        x2, y2 = to_picture(cx + hw, cy + hh, scale, pad_x, pad_y, picture_w, picture_h)
        if not (x1 < x2 and y1 < y2):
            continue
        points = [list(to_picture((r[4 + 2 * k] / size + ax) * size, (r[5 + 2 * k] / size + ay) * size, scale,
                                  pad_x, pad_y, picture_w, picture_h)) for k in range(7)]
        hands.append({"score": float(score), "box": [x1, y1, x2 - x1, y2 - y1], "keypoints": points})
    hands.sort(key=lambda h: -h["score"])
    return hands


def palm_models(out_dir, reference):
    count = len(palm_anchors(192))
    assert count == 1656
    regression, scores = palm_outputs(count)
    outputs = [("regressors", base.constant(regression)), ("classificators", base.constant(scores))]
    save(output_model(outputs, 192, 192), out_dir, "palm_192.onnx")
    reference["palm"] = {
        "conf": 0.5,
        "pictures": [{"width": pw, "height": ph, "hands": palm_reference(regression, scores, pw, ph, 0.5)}
                     for pw, ph in ((384, 192), (192, 288))],
    }
    # The layout of the palm models with 2016 anchors.
    save(output_model([("regressors", base.constant(np.zeros((1, 2016, 18), F32))),
                       ("classificators", base.constant(np.zeros((1, 2016, 1), F32)))], 192, 192),
         out_dir, "palm_2016.onnx")


# --- Outputs that must not be read ---------------------------------------------------

def malformed_models(out_dir):
    rows = face_rows(True)
    save(output_model([("output0", base.constant(rows, F16))]), out_dir, "bad_face_fp16.onnx")
    # Stated as [1, 20, 7], but the run gives no batch at all.
    save(output_model([("output0", unstated(np.zeros((0, 20, 7)), [1, 20, 7]))]), out_dir, "bad_face_short.onnx")

    outputs = dfl_outputs()
    h, w = DFL_INPUT
    names = ["stride8", "stride16", "stride32"]
    fp16 = [(names[0], base.constant(outputs[0], F16))] + [(n, base.constant(o)) for n, o in
                                                          zip(names[1:], outputs[1:])]
    save(output_model(fp16, h, w), out_dir, "bad_face_dfl_fp16.onnx")
    short = [(names[0], unstated(np.zeros((0, 80, 32, 32)), [1, 80, 32, 32]))] + [
        (n, base.constant(o)) for n, o in zip(names[1:], outputs[1:])]
    save(output_model(short, h, w), out_dir, "bad_face_dfl_short.onnx")

    save(output_model([("output0", base.constant(pose_rows(), F16))]), out_dir, "bad_pose_fp16.onnx")
    # Stated with 56 features, but the run gives 53.
    save(output_model([("output0", unstated(pose_rows()[:, :53], [1, 56, 3]))]), out_dir, "bad_pose_features.onnx")
    save(output_model([("output0", unstated(np.zeros((0, 56, 3)), [1, 56, 3]))]), out_dir, "bad_pose_short.onnx")

    regression, scores = palm_outputs(1656)
    save(output_model([("regressors", unstated(regression[:, :100], [1, 1656, 18])),
                       ("classificators", base.constant(scores))], 192, 192), out_dir, "bad_palm_short_regression.onnx")
    save(output_model([("regressors", base.constant(regression)),
                       ("classificators", unstated(scores[:, :10], [1, 1656, 1]))], 192, 192), out_dir,
         "bad_palm_short_scores.onnx")
    save(output_model([("regressors", base.constant(regression)), ("classificators", base.constant(scores, F16))],
                      192, 192), out_dir, "bad_palm_fp16.onnx")

    channels_last = helper.make_tensor_value_info("images", TensorProto.FLOAT, [1, 640, 640, 3])
    save(output_model([("output0", base.constant(face_rows(False)))], input_info=channels_last), out_dir,
         "bad_face_channels_last.onnx")
    save(output_model([("a", base.constant(face_rows(False))), ("b", base.constant(face_rows(False)))]), out_dir,
         "bad_face_two_outputs.onnx")
    save(output_model([("output0", base.constant(face_rows(False)[:, :, 0]))]), out_dir, "bad_face_rank2.onnx")
    save(output_model([("output0", base.constant(face_rows(True)[:, :15]))]), out_dir, "bad_face_nfeat15.onnx")


def main():
    out_dir = sys.argv[1]
    os.makedirs(out_dir, exist_ok=True)
    reference = {}
    face_layout0_models(out_dir)
    face_probe(out_dir)
    face_layout1_models(out_dir, reference)
    pose_models(out_dir)
    pose_probe(out_dir)
    palm_models(out_dir, reference)
    malformed_models(out_dir)
    with open(os.path.join(out_dir, "reference.json"), "w") as f:
        json.dump(reference, f, indent=1)


if __name__ == "__main__":
    main()
