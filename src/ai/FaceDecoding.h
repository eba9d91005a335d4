#pragma once

#include "ai/DetectionDecoding.h"
#include "ai/FaceDetection.h"

#include <QList>

#include <cstdint>
#include <span>

namespace Quillmark {

// Decoders of the face engine's two output layouts. Both keep the faces whose
// score is at least confThreshold, map them from model pixels back to the
// picture, clamp them to it and drop boxes that end up empty; values that are not
// finite never become a face.

// Layout 0: a row-major [nFeat, n] block (nFeat 5 or 20): rows 0-3 box centre x,
// centre y, width and height, row 4 the score (used as it is), and with nFeat 20
// rows 5 + 3k to 7 + 3k landmark k's x, y and confidence. Nothing is decoded when
// `rows` holds fewer than nFeat * n values or nFeat is below 5.
QList<FaceDetection> decodeFaceRows(std::span<const float> rows, int64_t nFeat, int64_t n,
                                    const LetterboxMapping &mapping, float confThreshold);

// One scale of layout 1: a channel-major [channels, gridH, gridW] block
// (channels >= 80): channels 0-63 the left, top, right and bottom side distances
// as 16 bins each (in cells, their softmax expectation), 64 the face logit, 65-79
// five landmarks as (x, y, confidence logit). A cell's centre is (column + 0.5,
// row + 0.5); landmark k lies at ((2 x + column) strideX, (2 y + row) strideY).
// Appends to `faces`. Nothing is decoded when `values` holds fewer than
// channels * gridH * gridW values or channels is below 80.
void decodeFaceGrid(std::span<const float> values, int64_t channels, int64_t gridH, int64_t gridW, float strideX,
                    float strideY, const LetterboxMapping &mapping, float confThreshold, QList<FaceDetection> &faces);

} // namespace Quillmark
