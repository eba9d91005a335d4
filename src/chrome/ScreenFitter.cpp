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
    fitInto(window, true);
}

void ScreenFitter::fitInto(QWidget *window, bool move)
{
    const QRect frame = window->frameGeometry();
    const QRect inner = window->geometry();
    const QScreen *screen = QGuiApplication::screenAt(frame.center());
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
    QSize size = inner.size().boundedTo(available.size() - margins);
    size = size.expandedTo(window->minimumSize());
    if (size != inner.size())
        window->resize(size);
    if (!move)
        return;

    QRect placed(frame.topLeft(), size + margins);
    if (placed.right() > available.right())
        placed.moveRight(available.right());
    if (placed.bottom() > available.bottom())
        placed.moveBottom(available.bottom());
    if (placed.left() < available.left())
        placed.moveLeft(available.left());
    if (placed.top() < available.top())
        placed.moveTop(available.top());
    if (placed.topLeft() != frame.topLeft())
        window->move(placed.topLeft());
}

bool ScreenFitter::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if ((type == QEvent::Show || type == QEvent::Resize) && watched->isWidgetType()) {
        auto *w = static_cast<QWidget *>(watched);
        // A dialog shown for the first time is centred over its parent by its
        // own show handling, after this one, within the screen: it only needs
        // a size that fits. Moving it here would stop the centring.
        const bool centredNext = type == QEvent::Show && qobject_cast<QDialog *>(w) && !w->testAttribute(Qt::WA_Moved);
        if (isFittedWindow(w) && (type == QEvent::Show || w->isVisible()))
            fitInto(w, !centredNext);
    }
    return QObject::eventFilter(watched, event);
}

} // namespace Quillmark
