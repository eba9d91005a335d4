#pragma once

#include "canvas/Tool.h"

#include <QString>

namespace Quillmark {

// The tool a project of the given type starts with: polygons for segmentation,
// keypoints for pose, the face and classification tools for their types, and
// boxes for every other key (the empty key included).
Tool defaultToolForProjectType(const QString &projectType);

// The title of a project type in messages ("Object Detection" ...); an unknown
// key is shown as itself.
QString projectTypeTitle(const QString &projectType);

} // namespace Quillmark
