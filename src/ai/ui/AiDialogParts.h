#pragma once

// Small pieces the AI tool windows build alike. Header-only: the AI folder's
// compiled sources stay free of widgets.

#include <QDoubleSpinBox>
#include <QEvent>
#include <QLayout>
#include <QMetaObject>
#include <QPointer>
#include <QProgressBar>

namespace Quillmark {

// A threshold box: two decimals, steps of 0.05.
inline QDoubleSpinBox *thresholdSpin(double minimum, double maximum, double value, QWidget *parent)
{
    auto *spin = new QDoubleSpinBox(parent);
    spin->setRange(minimum, maximum);
    spin->setSingleStep(0.05);
    spin->setDecimals(2);
    spin->setValue(value);
    return spin;
}

// A tool window's minimum width: a floor of its own, which fitMinimumWidth
// widens to what its layout needs. An explicit minimum keeps the layout from
// setting one, so without this a button that shows (a run's "Cancel") squeezes
// the others below their text.
inline void setMinimumWidthFloor(QWidget *window, int floor)
{
    window->setProperty("minimumWidthFloor", floor);
    window->setMinimumWidth(floor);
}

inline void fitMinimumWidth(QWidget *window)
{
    QLayout *layout = window->layout();
    if (!layout)
        return;
    layout->invalidate();
    const int floor = window->property("minimumWidthFloor").toInt();
    window->setMinimumWidth(qMax(floor, layout->totalMinimumSize().width()));
}

// Keeps a tool window at least as tall as its layout needs at its width. Qt
// sizes a window by the minimum height of its texts on one line, so a
// wrapped message that grows to more lines (a model that failed to load,
// with its path) squeezes the rows above it below their height.
class WrappedTextFit : public QObject {
public:
    explicit WrappedTextFit(QWidget *window) : QObject(window), window(window) { window->installEventFilter(this); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == window && event->type() == QEvent::LayoutRequest && !pending) {
            pending = true;
            // After the window has taken in the layout's new minimum.
            QMetaObject::invokeMethod(this, [this] { grow(); }, Qt::QueuedConnection);
        }
        return false;
    }

private:
    void grow()
    {
        pending = false;
        QLayout *layout = window->layout();
        if (!window->isWindow() || !window->isVisible() || !layout || !layout->hasHeightForWidth())
            return;
        const int needed = layout->totalHeightForWidth(window->width());
        if (window->height() < needed)
            window->resize(window->width(), needed);
    }

    QWidget *window;
    bool pending = false;
};

inline void keepWrappedTextsWhole(QWidget *window)
{
    new WrappedTextFit(window);
}

// Progress of a run over images: hidden when total is below 1. The bar's
// window grows to take it in while it shows; once it hides, the window goes
// back to the height it had before, instead of keeping the bar's room empty.
inline void showRunProgress(QProgressBar *bar, int current, int total)
{
    const char *heightKey = "windowHeightBeforeProgress";
    if (total < 1) {
        if (bar->isHidden())
            return;
        bar->hide();
        const int before = bar->property(heightKey).toInt();
        QPointer<QWidget> window = bar->window();
        QPointer<QWidget> holder = bar->parentWidget();
        QMetaObject::invokeMethod(
            window,
            [window, holder, before] {
                if (!window || before <= 0 || window->height() <= before)
                    return;
                // Every layout between the bar and the window still counts the
                // bar (a tab page caches its size) until it is redone.
                for (QWidget *w = holder; w; w = w->isWindow() ? nullptr : w->parentWidget()) {
                    if (w->layout())
                        w->layout()->invalidate();
                    w->updateGeometry();
                }
                if (window->layout())
                    window->layout()->activate();
                window->resize(window->width(), qMax(before, window->minimumSizeHint().height()));
            },
            Qt::QueuedConnection);
        return;
    }
    if (bar->isHidden())
        bar->setProperty(heightKey, bar->window()->isVisible() ? bar->window()->height() : 0);
    bar->setRange(0, total);
    bar->setValue(current);
    bar->show();
}

} // namespace Quillmark
