#pragma once

#include "canvas/Tool.h"

#include <QString>

namespace Quillmark {

// The tool a project of the given type starts with: polygons for segmentation,
// keypoints for pose, Select for classification, and boxes for every other key
// (face and the empty key included). For every known type it is a tool the
// canvas acts on and the type allows.
Tool defaultToolForProjectType(const QString &projectType);

// The title of a project type in messages ("Object Detection" ...); an unknown
// key is shown as itself.
QString projectTypeTitle(const QString &projectType);

} // namespace Quillmark
