#include "chrome/ScreenFitter.h"

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QScreen>
#include <QWidget>

#include <algorithm>

namespace Quillmark {

namespace {

// Room for the title bar of a desktop that has not yet told its frame.
constexpr int titleBarAllowance = 32;

// A fit under way: the resize it makes reports back as an event.
bool fitting = false;

bool isFittedWindow(const QWidget *w)
{
    if (!w->isWindow() || w->windowType() == Qt::ToolTip || w->windowType() == Qt::Popup)
        return false;
    // The main window fits itself; the dialogs and tool windows are fitted here.
    return qobject_cast<const QDialog *>(w) != nullptr || w->windowType() == Qt::Tool;
}

} // namespace

void ScreenFitter::install()
{
    static ScreenFitter *fitter = nullptr;
    if (fitter || !qApp)
        return;
    fitter = new ScreenFitter(qApp);
    qApp->installEventFilter(fitter);
}

void ScreenFitter::fit(QWidget *window)
{
    fitInto(window, false);
}

void ScreenFitter::fitInto(QWidget *window, bool firstShow)
{
    // A dialog shown for the first time opens centred over its parent's
    // window (as Qt would centre it, but knowing of the title bar).
    const QWidget *parent = window->parentWidget() ? window->parentWidget()->window() : nullptr;
    const bool overParent = firstShow && parent && parent->isVisible();
    const QRect frame = window->frameGeometry();
    const QRect inner = window->geometry();
    const QScreen *screen = overParent ? parent->screen() : QGuiApplication::screenAt(frame.center());
    if (!screen)
        screen = window->screen();
    if (!screen)
        return;
    const bool decorated = !(window->windowFlags() & Qt::FramelessWindowHint);
    const int knownTop = inner.top() - frame.top();
    const int extraTop = decorated ? std::max(0, titleBarAllowance - knownTop) : 0;
    const QRect available = screen->availableGeometry().adjusted(0, extraTop, 0, 0);

    // Frame margins around the window's own area.
    const QSize margins = frame.size() - inner.size();
    const QSize room = available.size() - margins;
    QSize size = inner.size();
    // A window sized by Qt's own choice (never resized by the program) took
    // at most two thirds of the screen: on a small screen that is less than
    // it asks for, and the room is there.
    if (firstShow && !window->testAttribute(Qt::WA_Resized))
        size = size.expandedTo(window->sizeHint().boundedTo(room));
    size = size.boundedTo(room).expandedTo(window->minimumSize());
    if (size != inner.size())
        window->resize(size);

    QRect placed(frame.topLeft(), size + margins);
    if (firstShow)
        placed.moveCenter(overParent ? parent->frameGeometry().center() : available.center());
    if (placed.right() > available.right())
        placed.moveRight(available.right());
    if (placed.bottom() > available.bottom())
        placed.moveBottom(available.bottom());
    if (placed.left() < available.left())
        placed.moveLeft(available.left());
    if (placed.top() < available.top())
        placed.moveTop(available.top());
    // On a first show this also keeps Qt from centring the dialog again.
    if (firstShow || placed.topLeft() != frame.topLeft())
        window->move(placed.topLeft());
}

bool ScreenFitter::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if ((type == QEvent::Show || type == QEvent::Resize) && watched->isWidgetType() && !fitting) {
        auto *w = static_cast<QWidget *>(watched);
        const bool firstShow = type == QEvent::Show && qobject_cast<QDialog *>(w) && !w->testAttribute(Qt::WA_Moved);
        if (isFittedWindow(w) && (type == QEvent::Show || w->isVisible())) {
            fitting = true;
            fitInto(w, firstShow);
            fitting = false;
        }
    }
    return QObject::eventFilter(watched, event);
}

} // namespace Quillmark
