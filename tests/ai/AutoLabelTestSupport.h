#pragma once

// Shared by the auto-label tests: finding a dialog's push button by its text.

#include <QPushButton>
#include <QWidget>
#include <QtGlobal>

namespace AutoLabelTest {

inline QPushButton *buttonWithText(QWidget *parent, const QString &text)
{
    for (QPushButton *button : parent->findChildren<QPushButton *>()) {
        if (button->text() == text)
            return button;
    }
    qFatal("no button %s", qPrintable(text));
    return nullptr;
}

} // namespace AutoLabelTest
