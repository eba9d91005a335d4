#pragma once

#include <QString>

namespace Quillmark {

// The "models" folder at `start` or above it: start/models when it is a folder,
// else the first "models" entry of one of start's parents (at most 8 of them).
// Empty when there is none.
QString findModelsFolder(const QString &start);

// The user's models folder: the one found from the program's folder, else from
// the working folder, else the folder chosen by hand ("modelsDir" of the
// Quillmark/Quillmark settings, ignored when it no longer exists). With a
// subfolder name, that subfolder when it exists. Empty when no folder is known.
QString resolveModelsDir(const QString &subfolder = QString());

// The rule of resolveModelsDir with its three places given: the program's
// folder, the working folder and the hand-chosen folder (may be empty or gone).
QString resolveModelsDirFrom(const QString &appDir, const QString &workDir, const QString &chosenDir,
                             const QString &subfolder);

// A point-prompt or concept segmentation model by its file name ("sam" in it,
// in any case: segmentation_mobile_sam.onnx, sam3_decoder.onnx). The click and
// concept segmentation tools list these; the detection tools never do.
bool isPromptSegmentationModelName(const QString &fileName);

// "  (N KB)" below 1 MiB (N at least 1), else "  (N MB)"; integer division.
QString fileSizeSuffix(qint64 bytes);

} // namespace Quillmark
