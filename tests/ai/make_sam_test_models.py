#!/usr/bin/python3
"""Writes the tiny ONNX models of the point-prompt and concept segmentation tests.

The models have the input and output names of real ones; their outputs are
either fixed values tied to an input (so the input stays part of the graph) or
probes that copy what the program fed in into an output, so a test can read
back the tensors the engine built: normalised pixels, scaled prompt points,
labels, sizes in their order, int64 token ids.

Usage: make_sam_test_models.py OUTPUT_DIR
"""

import json
import os
import sys

import numpy as np
import onnx
from onnx import TensorProto, helper, numpy_helper

OPSET = 13
FLOAT = TensorProto.FLOAT
INT64 = TensorProto.INT64


class Graph:
    """Collects nodes and constants; names are made unique by a counter."""

    def __init__(self):
        self.nodes, self.inits, self.count = [], [], 0

    def name(self, stem):
        self.count += 1
        return "%s_%d" % (stem, self.count)

    def const(self, values, dtype=np.float32):
        name = self.name("c")
        self.inits.append(numpy_helper.from_array(np.asarray(values, dtype=dtype), name))
        return name

    def op(self, op_type, inputs, **attrs):
        out = self.name(op_type.lower())
        self.nodes.append(helper.make_node(op_type, inputs, [out], **attrs))
        return out

    def flat(self, value):
        return self.op("Reshape", [value, self.const([-1], np.int64)])

    def tied(self, values, source, elem_type=FLOAT):
        """`values` + 0 * mean(source): a constant the runtime cannot fold away."""
        zero = self.op("Mul", [self.op("ReduceMean", [source], keepdims=0), self.const(0.0)])
        out = self.op("Add", [self.const(values), zero])
        return out if elem_type == FLOAT else self.op("Cast", [out], to=elem_type)

    def padded(self, value, length, fill):
        """The first `length` values of flat(value), padded with `fill`."""
        tail = self.const(np.full(length, fill, np.float32))
        both = self.op("Concat", [self.flat(value), tail], axis=0)
        return self.op("Slice", [both, self.const([0], np.int64), self.const([length], np.int64)])

    def output(self, value, name):
        self.nodes.append(helper.make_node("Identity", [value], [name]))

    def save(self, path, inputs, outputs):
        graph = helper.make_graph(self.nodes, "g", inputs, outputs, self.inits)
        model = helper.make_model(graph, opset_imports=[helper.make_opsetid("", OPSET)])
        onnx.checker.check_model(model)
        onnx.save(model, path)


def info(name, shape, elem_type=FLOAT):
    return helper.make_tensor_value_info(name, elem_type, shape)


# --- Point-prompt models ------------------------------------------------------

SAM_IMAGE = info("image", [1, 3, 1024, 1024])
SAM_PROMPTS = [info("point_coords", [1, "n", 2]), info("point_labels", [1, "n"]),
               info("mask_input", [1, 1, 256, 256]), info("has_mask_input", [1]),
               info("orig_im_size", [2])]
PLANE = 1024 * 1024


def block(rows, cols, height=8, width=16):
    """An 8 x 16 mask of logits: +4 on the given rows and columns, -4 elsewhere."""
    m = np.full((height, width), -4.0, np.float32)
    m[rows[0]:rows[1], cols[0]:cols[1]] = 4.0
    return m


def probe_mask(g):
    """A mask of 8 x 16 values read back by the tests, in this order: the
    prepared image at (channel, row, column) (0, 0, 0), (1, 0, 0), (2, 0, 0),
    (0, 511, 1023) and (0, 512, 0); the point coordinates (16 values, zero
    padded); the labels (8 values, padded with -7); orig_im_size; has_mask_input;
    the sum of mask_input."""
    pixels = g.op("Gather", [g.flat("image"),
                             g.const([0, PLANE, 2 * PLANE, 511 * 1024 + 1023, 512 * 1024], np.int64)], axis=0)
    parts = [pixels, g.padded("point_coords", 16, 0.0), g.padded("point_labels", 8, -7.0),
             g.flat("orig_im_size"), g.flat("has_mask_input"),
             g.op("ReduceSum", [g.flat("mask_input")], keepdims=1)]
    values = g.op("Concat", parts, axis=0)
    return g.op("Reshape", [g.padded(values, 128, 0.0), g.const([1, 1, 8, 16], np.int64)])


def combined_models(out):
    # Probe: mask 1 is the probe, chosen by the scores 0.8, 0.9, 0.9.
    g = Graph()
    m0 = g.tied(block((0, 8), (0, 16))[None, None], "image")
    m2 = g.tied(block((0, 2), (0, 16))[None, None], "image")
    g.output(g.op("Concat", [m0, probe_mask(g), m2], axis=1), "masks")
    g.output(g.tied([[0.8, 0.9, 0.9]], "point_coords"), "iou_predictions")
    g.save(os.path.join(out, "sam_probe.onnx"), [SAM_IMAGE] + SAM_PROMPTS,
           [info("masks", [1, 3, 8, 16]), info("iou_predictions", [1, 3])])

    # Blocks, declared with dynamic sizes: mask 1 (rows 2-5, columns 4-11) wins.
    masks = np.stack([block((0, 8), (0, 16)), block((2, 6), (4, 12)), block((0, 2), (0, 16))])[None]
    g = Graph()
    g.output(g.tied(masks, "image"), "masks")
    g.output(g.tied([[0.8, 0.9, 0.9]], "orig_im_size"), "iou_predictions")
    g.save(os.path.join(out, "sam_blocks.onnx"), [SAM_IMAGE] + SAM_PROMPTS,
           [info("masks", [1, "m", "h", "w"]), info("iou_predictions", [1, "m"])])

    # A square 16 x 16 low-resolution mask over the padded 1024 frame (64 pixels
    # of the frame a cell), positive on rows 2-5 and columns 4-11.
    g = Graph()
    g.output(g.tied(block((2, 6), (4, 12), height=16, width=16)[None, None], "image"), "masks")
    g.save(os.path.join(out, "sam_square_frame.onnx"), [SAM_IMAGE] + SAM_PROMPTS,
           [info("masks", [1, 1, 16, 16])])

    # The same frame with the mask only in its bottom quarter, rows 12-15: the
    # padding below a picture more than twice as wide as it is tall.
    g = Graph()
    g.output(g.tied(block((12, 16), (4, 12), height=16, width=16)[None, None], "image"), "masks")
    g.save(os.path.join(out, "sam_padding_only.onnx"), [SAM_IMAGE] + SAM_PROMPTS,
           [info("masks", [1, 1, 16, 16])])

    # One output: a mask of the image's own size (orig_im_size, height first),
    # positive everywhere.
    g = Graph()
    size = g.op("Cast", [g.op("Add", ["orig_im_size", g.op("Mul", [g.op("ReduceMean", ["image"], keepdims=1),
                                                                     g.const(0.0)])])], to=INT64)
    shape = g.op("Concat", [g.const([1, 1], np.int64), g.flat(size)], axis=0)
    ones = g.op("ConstantOfShape", [shape], value=numpy_helper.from_array(np.array([1.0], np.float32)))
    g.output(ones, "masks")
    g.save(os.path.join(out, "sam_fullsize.onnx"), [SAM_IMAGE] + SAM_PROMPTS,
           [info("masks", [1, 1, "h", "w"])])


def slice_of_image(g, count, shape):
    flat = g.flat("image")
    part = g.op("Slice", [flat, g.const([0], np.int64), g.const([count], np.int64)])
    return g.op("Reshape", [part, g.const(shape, np.int64)])


def sam2_encoder(path, feats0_side):
    """Three outputs cut from the image; high_res_feats_0 is 32 planes of
    feats0_side squared (256 in a real encoder)."""
    shapes = {"image_embed": [1, 256, 64, 64], "high_res_feats_0": [1, 32, feats0_side, feats0_side],
              "high_res_feats_1": [1, 64, 128, 128]}
    g = Graph()
    for name, shape in shapes.items():
        g.output(slice_of_image(g, int(np.prod(shape)), shape), name)
    g.save(path, [SAM_IMAGE], [info(name, shape) for name, shape in shapes.items()])


def encoder_models(out):
    g = Graph()
    g.output(slice_of_image(g, 256 * 64 * 64, [1, 256, 64, 64]), "image_embeddings")
    g.save(os.path.join(out, "sam1_encoder.onnx"), [SAM_IMAGE], [info("image_embeddings", [1, 256, 64, 64])])

    sam2_encoder(os.path.join(out, "sam2_encoder.onnx"), 256)

    # A prompt decoder on its own: the image arrives as embeddings.
    g = Graph()
    g.output(g.tied(block((0, 8), (0, 16))[None, None], "image_embeddings"), "masks")
    g.output(g.tied([[0.9]], "point_coords"), "iou_predictions")
    g.save(os.path.join(out, "sam_decoder_only.onnx"),
           [info("image_embeddings", [1, 256, 64, 64])] + SAM_PROMPTS,
           [info("masks", [1, 1, 8, 16]), info("iou_predictions", [1, 1])])


def malformed_point_models(out):
    def combined(name, masks, scores=None, mask_type=FLOAT, extra_inputs=()):
        g = Graph()
        g.output(g.tied(masks, "image", mask_type), "masks")
        outputs = [info("masks", list(np.shape(masks)), mask_type)]
        if scores is not None:
            g.output(g.tied(scores, "point_coords"), "iou_predictions")
            outputs.append(info("iou_predictions", list(np.shape(scores))))
        g.save(os.path.join(out, name), [SAM_IMAGE] + SAM_PROMPTS + list(extra_inputs), outputs)

    three = np.stack([block((0, 8), (0, 16))] * 3)[None]
    # Valid, but no logit above 0: a decode that finds nothing.
    combined("sam_nothing.onnx", np.full((1, 2, 8, 16), -1.0, np.float32), [[0.5, 0.4]])
    combined("bad_sam_bool_masks.onnx", three, [[0.1, 0.2, 0.3]], TensorProto.BOOL)
    combined("bad_sam_rank3_masks.onnx", three[0], [[0.1, 0.2, 0.3]])
    combined("bad_sam_short_scores.onnx", three, [[0.1]])
    combined("bad_sam_no_masks.onnx", np.zeros((1, 0, 8, 16), np.float32), [[0.1]])
    combined("bad_sam_unknown_input.onnx", three, [[0.1, 0.2, 0.3]], extra_inputs=[info("extra", [1])])

    g = Graph()
    g.output(g.tied(block((0, 8), (0, 16))[None, None], "point_coords"), "masks")
    g.save(os.path.join(out, "bad_sam_image_fp16.onnx"),
           [info("image", [1, 3, 1024, 1024], TensorProto.FLOAT16)] + SAM_PROMPTS,
           [info("masks", [1, 1, 8, 16])])

    g = Graph()
    g.output(slice_of_image(g, 256 * 32 * 32, [1, 256, 32, 32]), "image_embeddings")
    g.save(os.path.join(out, "bad_sam1_short_encoder.onnx"), [SAM_IMAGE],
           [info("image_embeddings", [1, 256, 32, 32])])

    sam2_encoder(os.path.join(out, "bad_sam2_short_encoder.onnx"), 128)


# --- Concept models -------------------------------------------------------------

PIXELS = info("pixel_values", [1, 3, "s", "s"])
TOKEN_INPUTS = [info("input_ids", [1, 32], INT64), info("attention_mask", [1, 32], INT64)]

# Logits of the three queries' 2 x 3 masks, their scores (as logits) and the
# query order the tests expect after sorting: query 1 (score 0.953), query 0
# (0.731); query 2 (0.047) stays below the usual thresholds.
CONCEPT_MASKS = np.array([[[10, 10, -10], [-10, -10, -10]],
                          [[-10, -10, 10], [-10, 10, 10]],
                          [[10, 10, 10], [10, 10, 10]]], np.float32)
CONCEPT_LOGITS = [1.0, 3.0, -3.0]

TOKENIZER = {
    "model": {
        "type": "BPE",
        "vocab": {"<|startoftext|>": 49406, "<|endoftext|>": 49407,
                  "c": 1, "a": 2, "t": 3, "ca": 4, "cat": 320, "r": 5, "car": 321},
        "merges": ["c a", "ca t", ["ca", "r"]],
    }
}


def concept_encoder(path, pixel_shape=None):
    """Outputs: fpn_feat (the pixel values as fed), pos_enc (their mean) and
    image_sizes (int64: the shape of the pixel values)."""
    g = Graph()
    g.output(g.op("Identity", ["pixel_values"]), "fpn_feat")
    g.output(g.op("ReduceMean", ["pixel_values"], keepdims=1), "pos_enc")
    g.output(g.op("Shape", ["pixel_values"]), "image_sizes")
    pixel = info("pixel_values", pixel_shape) if pixel_shape else PIXELS
    g.save(path, [pixel], [info("fpn_feat", [1, 3, "s", "s"]), info("pos_enc", [1, 1, 1, 1]),
                           info("image_sizes", [4], INT64)])


def concept_decoder(path, feature="fpn_feat", mask_type=FLOAT, logit_shape=(1, 3), box_width=4,
                    outputs=("pred_masks", "pred_logits", "pred_boxes"), dynamic=False, token_inputs=None,
                    logit_values=CONCEPT_LOGITS, fixed_boxes=None):
    """Masks and logits are fixed; the boxes are probes. Query 0's box holds
    input_ids[0] / 1e5, input_ids[1] / 1e5, input_ids[2] / 1e5 and
    sum(attention_mask) / 100; query 1's the fed feature at (channel, 0, 0) for
    the three channels and the feature's side as a float."""
    g = Graph()
    ids = g.op("Cast", [g.flat("input_ids")], to=FLOAT)
    first = g.op("Slice", [ids, g.const([0], np.int64), g.const([3], np.int64)])
    mask_sum = g.op("ReduceSum", [g.op("Cast", [g.flat("attention_mask")], to=FLOAT)], keepdims=1)
    q0 = g.op("Concat", [g.op("Div", [first, g.const(1e5)]), g.op("Div", [mask_sum, g.const(100.0)])], axis=0)
    corner = g.op("Slice", [feature, g.const([0, 0], np.int64), g.const([1, 1], np.int64),
                            g.const([2, 3], np.int64)])
    side = g.op("Cast", [g.op("Slice", [g.op("Shape", [feature]), g.const([2], np.int64),
                                        g.const([3], np.int64)])], to=FLOAT)
    q1 = g.op("Concat", [g.flat(corner), side], axis=0)
    boxes = g.op("Concat", [q0, q1, g.const(np.zeros(4, np.float32))], axis=0)
    boxes = g.op("Reshape", [boxes, g.const([1, 3, 4], np.int64)])
    if fixed_boxes is not None:
        boxes = g.tied(np.array(fixed_boxes, np.float32)[None], feature)
    if box_width != 4:
        boxes = g.op("Slice", [boxes, g.const([0], np.int64), g.const([box_width], np.int64),
                               g.const([2], np.int64)])

    logits = np.zeros(logit_shape, np.float32)
    flat_logits = logits.reshape(-1)
    stride = int(np.prod(logit_shape[2:])) if len(logit_shape) > 2 else 1
    for q, value in enumerate(logit_values[:logit_shape[1]]):
        flat_logits[q * stride] = value
        if stride > 1:
            flat_logits[q * stride + 1] = -value  # a second value per query is not read
    values = {"pred_masks": (g.tied(CONCEPT_MASKS[None], feature, mask_type), [1, 3, 2, 3], mask_type),
              "pred_logits": (g.tied(logits, feature), list(logit_shape), FLOAT),
              "pred_boxes": (boxes, [1, 3, box_width], FLOAT)}
    infos = []
    for name in outputs:
        value, shape, elem_type = values[name]
        g.output(value, name)
        if dynamic:
            shape = [1] + ["d%d" % i for i in range(len(shape) - 1)]
        infos.append(info(name, shape, elem_type))
    inputs = token_inputs if token_inputs is not None else TOKEN_INPUTS
    g.save(path, inputs + [info(feature, [1, 3, "s", "s"])], infos)


def one_input_decoder(path):
    """Takes the token ids only."""
    g = Graph()
    ids = g.op("Cast", ["input_ids"], to=FLOAT)
    g.output(g.tied(CONCEPT_MASKS[None], ids), "pred_masks")
    g.output(g.tied([CONCEPT_LOGITS], ids), "pred_logits")
    g.output(g.tied(np.zeros((1, 3, 4)), ids), "pred_boxes")
    g.save(path, [info("input_ids", [1, 32], INT64)],
           [info("pred_masks", [1, 3, 2, 3]), info("pred_logits", [1, 3]), info("pred_boxes", [1, 3, 4])])


def concept_models(out):
    def folder(name, norm=None):
        path = os.path.join(out, name)
        os.makedirs(path, exist_ok=True)
        concept_encoder(os.path.join(path, "sam3_vision_encoder.onnx"))
        with open(os.path.join(path, "sam3_tokenizer.json"), "w") as f:
            json.dump(TOKENIZER, f)
        if norm is not None:
            with open(os.path.join(path, "sam3_image_norm.json"), "w") as f:
                f.write(norm if isinstance(norm, str) else json.dumps(norm))
        return path

    main = folder("sam3", {"mean": [0.5, 0.25, 0.2], "std": [0.5, 0.25, 0.1], "size": 4})
    concept_decoder(os.path.join(main, "sam3_decoder.onnx"))
    concept_decoder(os.path.join(main, "decoder_dynamic.onnx"), logit_shape=(1, 3, 2), dynamic=True)
    concept_decoder(os.path.join(main, "decoder_bool_masks.onnx"), mask_type=TensorProto.BOOL)
    concept_decoder(os.path.join(main, "decoder_short_logits.onnx"), logit_shape=(1, 2))
    concept_decoder(os.path.join(main, "decoder_short_boxes.onnx"), box_width=3)
    concept_decoder(os.path.join(main, "decoder_other_feature.onnx"), feature="vision_features")
    concept_decoder(os.path.join(main, "decoder_int_feature.onnx"), feature="image_sizes")
    concept_decoder(os.path.join(main, "decoder_no_boxes.onnx"), outputs=("pred_masks", "pred_logits"))
    one_input_decoder(os.path.join(main, "decoder_one_input.onnx"))
    # Scores and boxes that are no numbers: each query passes the threshold
    # apart from them.
    nan, inf = float("nan"), float("inf")
    concept_decoder(os.path.join(main, "decoder_nan_scores.onnx"), logit_values=[nan, 3.0, nan])
    concept_decoder(os.path.join(main, "decoder_infinite_scores.onnx"), logit_values=[inf, 3.0, -inf])
    finite = [0.1, 0.1, 0.5, 0.5]
    concept_decoder(os.path.join(main, "decoder_nan_boxes.onnx"), logit_values=[3.0, 2.0, 1.0],
                    fixed_boxes=[[nan, 0.1, 0.5, 0.5], finite, [0.1, 0.1, 0.5, nan]])
    concept_decoder(os.path.join(main, "decoder_infinite_boxes.onnx"), logit_values=[3.0, 2.0, 1.0],
                    fixed_boxes=[finite, [0.1, -inf, 0.5, 0.5], [0.1, 0.1, inf, 0.5]])

    folder("sam3_plain")
    folder("sam3_partial", {"mean": [0.9], "size": 0})
    folder("sam3_hostile", '{"mean": ["x", null, 0.3, 7], "std": [0, -1, 0.5], "size": 5000}')
    folder("sam3_broken", "{ not json")
    # A mean beyond float range makes every input value infinite.
    folder("sam3_infinite", '{"mean": [1e39, 0.5, 0.5], "std": [0.5, 0.5, 0.5], "size": 4}')
    fixed = folder("sam3_fixed8", {"size": 4})
    concept_encoder(os.path.join(fixed, "sam3_vision_encoder.onnx"), [1, 3, 8, 8])


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    combined_models(out)
    encoder_models(out)
    malformed_point_models(out)
    concept_models(out)


if __name__ == "__main__":
    main()
