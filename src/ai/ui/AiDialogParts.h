#pragma once

// Small pieces the AI tool windows build alike. Header-only: the AI folder's
// compiled sources stay free of widgets.

#include <QDoubleSpinBox>
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

// Progress of a run over images: hidden when total is below 1.
inline void showRunProgress(QProgressBar *bar, int current, int total)
{
    if (total < 1) {
        bar->hide();
        return;
    }
    bar->setRange(0, total);
    bar->setValue(current);
    bar->show();
}

} // namespace Quillmark
