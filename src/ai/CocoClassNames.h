#pragma once

#include <QStringList>

namespace Quillmark {

// The 80 object categories of the COCO 2017 detection set, in category order.
// Used when a detection model names no classes, and by the wizard's template.
extern const QStringList cocoClassNames;

} // namespace Quillmark
