#pragma once

#include <QColor>

namespace Quillmark {

// The colours the canvas paints around the picture and on its empty page. The
// canvas is handed one of these by whoever themes the window; it knows no theme
// of its own.
struct CanvasPalette {
    QColor background;
    // The canvas's own overlays (the empty page, the crosshair) in their dark colours.
    bool darkOverlays = false;

    static CanvasPalette light() { return {QColor("#d7dde5"), false}; }
    static CanvasPalette dark() { return {QColor("#1e1f28"), true}; }
    // The palette of a theme mode number: 1 is the dark theme, any other the light.
    static CanvasPalette forThemeMode(int mode) { return mode == 1 ? dark() : light(); }
};

} // namespace Quillmark
