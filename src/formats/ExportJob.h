#pragma once

#include "formats/ExportConfig.h"
#include "formats/IFormatHandler.h"
#include "formats/ProgressCallback.h"
#include "model/Dataset.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace Quillmark {

// Carries out one dataset export: writes `dataset` with `handler` into
// config.outputPath, whole or split into "train", "valid" and "test". For the
// format "YOLO" with a split the job writes the label files, "classes.txt" and
// "data.yaml" itself. Runs on a worker thread and touches nothing but its
// arguments and the output folder.
//
// imageCount is the count named in the result text of an export without split;
// handlerWritesImages is true for formats whose handler writes the image files
// itself (the job then copies none). On success `resultText` receives the
// summary, on failure `errorText` the reason (the other is left untouched).
bool runExportJob(IFormatHandler *handler, const ExportConfig &config, const Dataset &dataset, int imageCount,
                  bool handlerWritesImages, ProgressCallback progress, QString *errorText, QString *resultText);

// The path an export without split hands the handler: the output folder, or
// for the one-file formats a file in it ("annotations.json" for COCO, ...).
QString exportTargetPath(const QString &format, const QString &outputPath);

// Whether the format's handler writes the image files of an export itself
// ("CLIP", "Multiclass", "YOLOv5 OBB", "YOLOv6 MT", "YOLOv8 OBB", "YOLO
// Pose"): the value the caller passes as handlerWritesImages.
bool formatWritesOwnImages(const QString &format);

// The "data.yaml" of a YOLO split export. A keypoint dataset also gets the
// line "kpt_shape: [K, 3]" (K the largest keypoint count) so that its label
// lines read back as keypoints.
QByteArray yoloSplitDataYaml(const QString &outputPath, const QStringList &classNames, int keypointCount);

} // namespace Quillmark
