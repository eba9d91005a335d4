#pragma once

#include "ai/DetectionDecoding.h"
#include "ai/OrtRuntime.h"

#include <QImage>
#include <QString>

#include <string>
#include <vector>

namespace Quillmark {

// What one run of a model on a picture gives: the named outputs, and the
// mapping from the model's pixels back to the picture.
struct PictureInference {
    std::vector<Ort::Value> outputs;
    LetterboxMapping mapping;
};

// Letterboxes `picture` into the model's width x height, feeds it as a planar
// float tensor [1, 3, height, width] to input `inputName`, and returns the named
// outputs. Throws Ort::Exception when the runtime refuses the run, and
// std::runtime_error when the picture cannot be converted.
PictureInference inferOnPicture(Ort::Session &session, const std::string &inputName, const QImage &picture, int width,
                                int height, const std::vector<std::string> &outputNames);

// Why a run on `picture` cannot start: `noModel` when no model is ready, or
// the picture is null; empty when it can start.
QString pictureRunRefusal(bool modelReady, const QImage &picture, const QString &noModel);

} // namespace Quillmark
