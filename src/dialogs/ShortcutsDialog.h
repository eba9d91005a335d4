#pragma once

#include <QDialog>

namespace Quillmark {

// Non-modal window listing the keyboard-shortcut reference, section by section.
class ShortcutsDialog : public QDialog {
    Q_OBJECT
public:
    explicit ShortcutsDialog(QWidget *parent = nullptr);
};

} // namespace Quillmark
