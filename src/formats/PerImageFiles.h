#pragma once

#include "formats/ProgressCallback.h"
#include "model/Dataset.h"
#include "model/FunctionRef.h"

#include <QByteArray>
#include <QString>

namespace Quillmark {

// Writes the per-image files of a format that keeps one annotation file per
// image (LabelMe, Pascal VOC): creates the folder, then for each image, after
// progress(i + 1, n), writes `contents(image, imageName)` to "<stem><suffix>"
// in it, where the stem is the image's unique export stem and imageName the
// file name the image is copied under (see ExportNames.h). Each file is
// written whole or not at all. False as soon as the folder or a file cannot
// be written.
bool writePerImageFiles(const QString &folder, const Dataset &dataset, const QString &suffix,
                        FunctionRef<QByteArray(const ImageEntry &image, const QString &imageName)> contents,
                        const ProgressCallback &progress);

} // namespace Quillmark
