#pragma once

#include <QColor>
#include <QPixmap>

namespace Quillmark {

// A size x size square filled with `color` and outlined one pixel wide in a
// darker shade of it; the class icons of the wizard.
QPixmap makeColorSwatch(const QColor &color, int size);

} // namespace Quillmark
