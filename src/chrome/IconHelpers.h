#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>

namespace Quillmark {

// Renders the SVG at `path` into a size x size pixmap and tints every covered
// pixel with `color`, keeping the SVG's alpha. Null pixmap when the SVG cannot be
// read or rendered. No device-pixel scaling.
QPixmap renderSvgIcon(const QString &path, int size, const QColor &color);

// A button icon with Normal, Active and Disabled pixmaps tinted for the light or
// the dark theme. An icon without pixmaps when the SVG cannot be rendered.
QIcon themedIcon(const QString &path, int size, bool dark);

// Renders the SVG at `path` in its own colours (no tint) onto a transparent
// size x size pixmap, antialiased. The pixmap stays transparent when the SVG
// cannot be read or rendered; null only for a size below 1.
QPixmap renderSvgPixmap(const QString &path, int size);

} // namespace Quillmark
