#pragma once

#include <QKeySequence>
#include <QList>
#include <QPair>
#include <QString>

namespace Quillmark {

// One titled group of the keyboard-shortcut reference: rows of (key text,
// description), display text only.
struct ShortcutSection {
    QString title;
    QList<QPair<QString, QString>> rows;
};

// The program's fixed shortcut reference, six sections in display order. The
// keys themselves are bound by the main window, the canvas and the image list.
extern const QList<ShortcutSection> shortcutReference;

// The key sequences a reference key text stands for, so callers can check that
// every listed key is really bound: "Ctrl+Z" gives one sequence, the arrow row
// "←  /  →" gives Left and Right. Empty for a text that names no key.
QList<QKeySequence> shortcutKeySequences(const QString &keyText);

} // namespace Quillmark
