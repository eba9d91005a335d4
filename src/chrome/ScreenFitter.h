#pragma once

#include <QObject>

class QWidget;

namespace Quillmark {

// Keeps the program's dialogs and tool windows on the screen they open on:
// when one is shown, or grows, it is made no larger than the screen's free
// area (leaving room for a title bar the desktop adds above it) and moved
// inside it. Dialogs open centred over their parent, and on a small screen a
// tall one would otherwise reach past its bottom edge, out of reach.
class ScreenFitter : public QObject {
public:
    // The one fitter of the application, watching every window from now on.
    static void install();

    // Fits `window` into the free area of its screen, as above.
    static void fit(QWidget *window);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    using QObject::QObject;
    static void fitInto(QWidget *window, bool move);
};

} // namespace Quillmark
