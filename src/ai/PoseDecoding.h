#pragma once

#include "ai/DetectionDecoding.h"
#include "ai/PosePerson.h"

#include <QList>
#include <QPointF>

#include <cstdint>
#include <span>
#include <vector>

namespace Quillmark {

// Decoders of the pose engine's two kinds of model. Results keep only boxes with
// a score of at least confThreshold that are not empty once mapped back to the
// picture and clamped to it.

// YOLO-pose: a row-major [5 + 3K, n] block: rows 0-3 box centre x, centre y,
// width and height, row 4 the score, rows 5 + 3k to 7 + 3k keypoint k's x, y and
// score. A keypoint scoring below keypointThreshold is unlabelled (0), below
// keypointThreshold + 0.4 occluded (1), else visible (2). Nothing is decoded
// when `rows` holds fewer than (5 + 3K) * n values.
QList<PosePerson> decodePoseRows(std::span<const float> rows, int keypointCount, int64_t n,
                                 const LetterboxMapping &mapping, float confThreshold, float keypointThreshold);

// Anchor centres (x, y in [0, 1]) of the palm detector for an input of
// inputWidth pixels: strides 8, 16 and 32 with 2, 2 and 6 anchors per cell, a
// grid of inputWidth / stride cells both ways, rows outer, columns inner. A
// 192-pixel input gives 1,656 anchors.
std::vector<QPointF> palmAnchors(int inputWidth);

// The palm detector: 18 regression values (box centre offset, size, seven
// keypoint offsets, all in input pixels relative to the anchor) and one score
// logit per anchor. Every keypoint of a hand gets the hand's score and is
// visible. Nothing is decoded when `regression` holds fewer than 18 values per
// anchor or `scores` fewer than one.
QList<PosePerson> decodePalms(std::span<const float> regression, std::span<const float> scores,
                              const std::vector<QPointF> &anchors, int inputWidth, int inputHeight,
                              const LetterboxMapping &mapping, float confThreshold);

} // namespace Quillmark
