#pragma once

#include <QObject>

class QWidget;

namespace Quillmark {

// Keeps the program's dialogs and tool windows on the screen they open on:
// when one is shown, or grows, it is made no larger than the screen's free
// area (leaving room for a title bar the desktop adds above it) and moved
// inside it; a dialog shown for the first time opens centred over its
// parent's window. On a small screen a tall dialog would otherwise reach past
// the screen's bottom edge, out of reach, and one that Qt sized to two thirds
// of the screen would be squeezed below the size it asks for.
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
    static void fitInto(QWidget *window, bool firstShow);
};

} // namespace Quillmark
