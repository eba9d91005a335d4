#!/usr/bin/python3
"""Writes the tiny ONNX models the engine tests load through the real runtime.

Each model has the input and output names and shapes of a real detector, but
fixed, hand-made outputs: constants tied to the input (so the input is part of
the graph), and probes that copy chosen input values into an output, so a test
can see what tensor the program fed in.

Usage: make_test_models.py OUTPUT_DIR
"""

import os
import sys

import numpy as np
import onnx
from onnx import TensorProto, helper, numpy_helper

OPSET = 13


def save(model, out_dir, name, names=None):
    if names is not None:
        helper.set_model_props(model, {"names": names})
    onnx.checker.check_model(model)
    onnx.save(model, os.path.join(out_dir, name))


def image_input(height=640, width=640):
    return helper.make_tensor_value_info("images", TensorProto.FLOAT, [1, 3, height, width])


def tied(prefix, value_name, out_name, elem_type):
    """Nodes computing value + 0 * mean(images), cast to elem_type: a constant the
    runtime cannot fold away because it depends on the input."""
    nodes = [
        helper.make_node("ReduceMean", ["images"], [prefix + "_mean"], keepdims=0),
        helper.make_node("Mul", [prefix + "_mean", "zero"], [prefix + "_zero"]),
    ]
    if elem_type == TensorProto.FLOAT:
        nodes.append(helper.make_node("Add", [value_name, prefix + "_zero"], [out_name]))
    else:
        nodes.append(helper.make_node("Add", [value_name, prefix + "_zero"], [prefix + "_sum"]))
        nodes.append(helper.make_node("Cast", [prefix + "_sum"], [out_name], to=elem_type))
    return nodes


def constant(values, elem_type=TensorProto.FLOAT):
    """An output holding `values`."""
    values = np.asarray(values, dtype=np.float32)

    def build(prefix, out_name):
        init = numpy_helper.from_array(values, prefix + "_value")
        return tied(prefix, prefix + "_value", out_name, elem_type), [init], list(values.shape), elem_type
    return build


def prototype_planes(height, width, blocks, elem_type=TensorProto.FLOAT, planes=32):
    """Mask prototypes [1, planes, height, width]: each block (plane, row0, row1,
    col0, col1) is +10 on those rows and columns of its plane and -10 elsewhere
    on it; planes without a block are 0. Built by the graph, so the model file
    stays small."""
    def build(prefix, out_name):
        bias = np.zeros((1, planes, 1, 1), dtype=np.float32)
        inits, nodes, parts = [], [], []
        for i, (plane, r0, r1, c0, c1) in enumerate(blocks):
            bias[0, plane] = -10.0
            name = "%s_b%d" % (prefix, i)
            inits.append(numpy_helper.from_array(np.full((1, 1, r1 - r0, c1 - c0), 20.0, np.float32), name))
            pads = [0, plane, r0, c0, 0, planes - 1 - plane, height - r1, width - c1]
            inits.append(numpy_helper.from_array(np.array(pads, np.int64), name + "_pads"))
            nodes.append(helper.make_node("Pad", [name, name + "_pads"], [name + "_padded"]))
            parts.append(name + "_padded")
        inits.append(numpy_helper.from_array(bias, prefix + "_bias"))
        nodes.append(helper.make_node("Sum", parts + [prefix + "_bias"], [prefix + "_planes"]))
        nodes += tied(prefix, prefix + "_planes", out_name, elem_type)
        return nodes, inits, [1, planes, height, width], elem_type
    return build


def prototypes(elem_type=TensorProto.FLOAT):
    """160 x 160 prototypes: plane 0 is +10 on mask rows 60-79, columns 40-99."""
    return prototype_planes(160, 160, [(0, 60, 80, 40, 100)], elem_type)


def constant_model(outputs, input_info=None):
    """A model with the given outputs: list of (name, builder)."""
    input_info = input_info or image_input()
    nodes, inits = [], [numpy_helper.from_array(np.array(0.0, dtype=np.float32), "zero")]
    infos = []
    for i, (name, build) in enumerate(outputs):
        n, c, shape, elem_type = build("out%d" % i, name)
        nodes += n
        inits += c
        infos.append(helper.make_tensor_value_info(name, elem_type, shape))
    graph = helper.make_graph(nodes, "constant", [input_info], infos, inits)
    return helper.make_model(graph, opset_imports=[helper.make_opsetid("", OPSET)])


def channel_major(candidates):
    """[1, nFeat, N] from a list of per-candidate feature rows. Detectors give far
    more candidates than features; candidates of all zeros (score 0, no box) are
    added until N is at least nFeat."""
    rows = np.asarray(candidates, dtype=np.float32)
    if rows.shape[0] < rows.shape[1]:
        rows = np.vstack([rows, np.zeros((rows.shape[1] - rows.shape[0], rows.shape[1]), np.float32)])
    return rows.T[np.newaxis, :, :].copy()


# Candidates of det_names.onnx, as (cx, cy, w, h, score cat, score dog).
DETECTIONS = [
    (320, 320, 200, 100, 0.9, 0.1),    # cat
    (330, 320, 200, 100, 0.8, 0.2),    # cat, overlaps the first: suppressed
    (320, 320, 200, 100, 0.3, 0.7),    # dog on the cat's box: kept
    (20, 150, 100, 40, 0.5, 0.5),      # tie: cat; partly outside, clamped
    (320, 50, 40, 40, 0.95, 0.0),      # in the top border only: empty after clamping
    (500, 500, 20, 20, 0.25, 0.0),     # exactly at the threshold 0.25
    (600, 600, 20, 20, 0.2499, 0.0),   # just below it
]


def detection_models(out_dir):
    out = channel_major(DETECTIONS)
    save(constant_model([("output0", constant(out))]), out_dir, "det_names.onnx",
         names="{0: 'cat', 1: \"dog\"}")

    # No usable names; 81 classes so that class 80 lies beyond the COCO names.
    rows = np.zeros((2, 85), dtype=np.float32)
    rows[0, :4] = (100, 100, 40, 40)
    rows[0, 4 + 80] = 0.9
    rows[1, :4] = (200, 200, 40, 40)
    rows[1, 4 + 3] = 0.8
    save(constant_model([("output0", constant(channel_major(rows)))],
                        image_input(320, 320)), out_dir, "det_coco_320.onnx", names="{}")

    # The other common layout, one candidate per row: [1, N, 4 + classes].
    rows_layout = channel_major(DETECTIONS + [(0, 0, 0, 0, 0, 0)] * 43)[0].T[np.newaxis].copy()
    save(constant_model([("output0", constant(rows_layout))]), out_dir, "det_rows.onnx",
         names="{0: 'cat', 1: 'dog'}")

    dynamic = helper.make_tensor_value_info("images", TensorProto.FLOAT, [1, 3, "height", "width"])
    save(constant_model([("output0", constant(channel_major([(160, 160, 32, 32, 0.9)])))],
                        dynamic), out_dir, "det_dynamic.onnx")


# The probe's input is 8 x 6 (width x height); its five candidates have fixed
# boxes and, as scores, single values of the tensor it is fed, at (channel, row,
# column) below. A 16 x 24 picture goes in at scale 0.25: 4 x 6 pixels with 2
# columns of grey border on each side.
PROBE_BOXES = [(3, 1, 2, 2), (5, 3, 2, 2), (3, 5, 2, 2), (4, 3, 1, 1), (5, 1, 2, 2)]
PROBE_READS = [(0, 0, 0), (1, 1, 2), (2, 5, 5), (0, 3, 7), (0, 2, 4)]


def probe_model(out_dir):
    width, height = 8, 6
    indices = [c * width * height + y * width + x for c, y, x in PROBE_READS]
    boxes = np.asarray(PROBE_BOXES, dtype=np.float32).T
    inits = [
        numpy_helper.from_array(np.array([1, 3 * width * height], dtype=np.int64), "flat_shape"),
        numpy_helper.from_array(np.array(indices, dtype=np.int64), "probe_indices"),
        numpy_helper.from_array(boxes[np.newaxis], "boxes"),
        numpy_helper.from_array(np.array([1], dtype=np.int64), "one_axis"),
    ]
    nodes = [
        helper.make_node("Reshape", ["images", "flat_shape"], ["flat"]),
        helper.make_node("Gather", ["flat", "probe_indices"], ["picked"], axis=1),
        helper.make_node("Unsqueeze", ["picked", "one_axis"], ["scores"]),
        helper.make_node("Concat", ["boxes", "scores"], ["output0"], axis=1),
    ]
    n = len(PROBE_BOXES)
    graph = helper.make_graph(
        nodes, "probe", [image_input(height, width)],
        [helper.make_tensor_value_info("output0", TensorProto.FLOAT, [1, 5, n])], inits)
    model = helper.make_model(graph, opset_imports=[helper.make_opsetid("", OPSET)])
    save(model, out_dir, "probe_8x6.onnx", names="{0: 'probe'}")


def seg_rows():
    """Three candidates, one class: the first covers the prototype rectangle with
    coefficient 1 on plane 0; the second has all coefficients 0 (mask 0.5
    everywhere, so no outline); the third is a weaker, shifted copy of the first,
    which suppression removes."""
    rows = np.zeros((3, 37), dtype=np.float32)
    rows[0, :5] = (280, 280, 280, 120, 0.9)
    rows[0, 5] = 1.0
    rows[1, :5] = (500, 500, 40, 40, 0.6)
    rows[2, :5] = (290, 280, 280, 120, 0.8)
    rows[2, 5] = 1.0
    return channel_major(rows)


def segmentation_models(out_dir):
    save(constant_model([("output0", constant(seg_rows())), ("output1", prototypes())]),
         out_dir, "seg.onnx", names="{0: 'blob'}")
    # Exported at 320: 80 x 80 prototypes. A 1280 x 720 picture goes in at scale
    # 0.25 with 70 rows of border above. The first instance takes plane 0
    # (mask rows 30-39, columns 20-49); the second, plane 1 (rows 10-24, columns
    # 62-67), reaches above the picture into the border and beyond the input.
    rows = np.zeros((2, 37), dtype=np.float32)
    rows[0, :5] = (140, 140, 140, 60, 0.9)
    rows[0, 5] = 1.0
    rows[1, :5] = (260, 70, 40, 100, 0.8)
    rows[1, 6] = 1.0
    save(constant_model([("output0", constant(channel_major(rows))),
                         ("output1", prototype_planes(80, 80, [(0, 30, 40, 20, 50), (1, 10, 25, 62, 68)]))],
                        image_input(320, 320)), out_dir, "seg_320.onnx", names="{0: 'blob'}")

    # A non-square input, 640 wide and 384 high, with 160 x 96 prototypes. A
    # 720 x 1280 picture goes in at scale 0.3 with 212 columns of border on the
    # left. Plane 0 is set on mask rows 20-59, columns 64-95.
    rows = np.zeros((1, 37), dtype=np.float32)
    rows[0, :5] = (320, 192, 160, 240, 0.9)
    rows[0, 5] = 1.0
    save(constant_model([("output0", constant(channel_major(rows))),
                         ("output1", prototype_planes(96, 160, [(0, 20, 60, 64, 96)]))],
                        image_input(384, 640)), out_dir, "seg_640x384.onnx", names="{0: 'blob'}")

    # A third output is not read.
    save(constant_model([("output0", constant(seg_rows())), ("output1", prototypes()),
                         ("extra", constant(np.zeros((1, 2), np.float32)))]),
         out_dir, "seg_three_outputs.onnx", names="{0: 'blob'}")


def malformed_models(out_dir):
    f16 = TensorProto.FLOAT16
    det = channel_major(DETECTIONS[:2])
    cases = {
        "bad_det_fp16.onnx": [("output0", constant(det, f16))],
        "bad_det_empty_batch.onnx": [("output0", constant(np.zeros((0, 6, 2))))],
        "bad_det_rank2.onnx": [("output0", constant(det[0]))],
        "bad_det_4rows.onnx": [("output0", constant(det[:, :4, :]))],
        "bad_seg_proto_31.onnx": [("output0", constant(seg_rows())),
                                  ("output1", prototype_planes(160, 160, [(0, 60, 80, 40, 100)], planes=31))],
        "bad_seg_proto_fp16.onnx": [("output0", constant(seg_rows())), ("output1", prototypes(f16))],
        "bad_seg_proto_empty.onnx": [("output0", constant(seg_rows())),
                                     ("output1", constant(np.zeros((0, 32, 160, 160))))],
        "bad_seg_no_classes.onnx": [("output0", constant(seg_rows()[:, :36, :])),
                                    ("output1", prototypes())],
        "bad_seg_empty_batch.onnx": [("output0", constant(np.zeros((0, 37, 2)))),
                                     ("output1", prototypes())],
    }
    for name, outputs in cases.items():
        save(constant_model(outputs), out_dir, name)

    # An input of another element type: the run itself fails in the runtime.
    fp16_input = helper.make_tensor_value_info("images", f16, [1, 3, 640, 640])
    graph = helper.make_graph(
        [helper.make_node("Cast", ["images"], ["as_float"], to=TensorProto.FLOAT),
         helper.make_node("ReduceMean", ["as_float"], ["output0"], keepdims=1)],
        "fp16_input", [fp16_input],
        [helper.make_tensor_value_info("output0", TensorProto.FLOAT, [1, 1, 1, 1])])
    save(helper.make_model(graph, opset_imports=[helper.make_opsetid("", OPSET)]), out_dir,
         "bad_fp16_input.onnx")

    # A channels-last input, [1, height, width, 3]: refused when it is loaded.
    save(constant_model([("output0", constant(channel_major(DETECTIONS)))],
                        helper.make_tensor_value_info("images", TensorProto.FLOAT, [1, 640, 640, 3])),
         out_dir, "bad_channels_last.onnx")


def wrong_kind_models(out_dir):
    """Pose models offered as detectors: box, person score, then 17 keypoints as
    (x, y, score), with their own names giving one class. Read as a detector the
    keypoint rows would be 52 class scores, most of them in the hundreds."""
    row = [320, 320, 100, 200, 0.9] + [300, 300, 0.9] * 17
    out = channel_major([row])
    save(constant_model([("output0", constant(out))]), out_dir, "det_pose_like.onnx", names="{0: 'person'}")
    # The same with an output shape the runtime cannot know before it runs (a
    # tiling by counts computed from the picture): found out when it runs.
    inits = [numpy_helper.from_array(out, "rows"), numpy_helper.from_array(np.array(0.0, np.float32), "zero"),
             numpy_helper.from_array(np.ones(3, np.float32), "ones")]
    nodes = [
        helper.make_node("ReduceMean", ["images"], ["mean"], keepdims=0),
        helper.make_node("Mul", ["mean", "zero"], ["nothing"]),
        helper.make_node("Add", ["ones", "nothing"], ["repeat_values"]),
        helper.make_node("Cast", ["repeat_values"], ["repeats"], to=TensorProto.INT64),
        helper.make_node("Tile", ["rows", "repeats"], ["output0"]),
    ]
    graph = helper.make_graph(nodes, "open", [image_input()],
                              [helper.make_tensor_value_info("output0", TensorProto.FLOAT, ["b", "f", "n"])], inits)
    model = helper.make_model(graph, opset_imports=[helper.make_opsetid("", OPSET)])
    save(model, out_dir, "det_pose_like_dynamic.onnx", names="{0: 'person'}")


def main():
    out_dir = sys.argv[1]
    os.makedirs(out_dir, exist_ok=True)
    detection_models(out_dir)
    probe_model(out_dir)
    segmentation_models(out_dir)
    malformed_models(out_dir)
    wrong_kind_models(out_dir)


if __name__ == "__main__":
    main()
