#pragma once

#include <QColor>
#include <QDialog>

class QLineEdit;
class QPushButton;

namespace Quillmark {

// Small dialog that edits one class of the wizard's class list: its name and
// its colour. Titled "Add Class" for a new class, "Edit Class" otherwise.
class ClassEditDialog : public QDialog {
public:
    ClassEditDialog(const QString &name, const QColor &color, QWidget *parent = nullptr);
    ~ClassEditDialog() override;

    // The name as typed (the caller trims it).
    QString name() const;
    QColor color() const { return currentColor; }
    void setColor(const QColor &color);

    // Asks for a new colour with the colour picker (the colour button).
    void chooseColor();

    QLineEdit *nameEdit() const { return nameLineEdit; }
    QPushButton *colorButton() const { return colorPushButton; }
    QPushButton *okButton() const { return okPushButton; }

private:
    void refreshColorButton();

    QLineEdit *nameLineEdit = nullptr;
    QPushButton *colorPushButton = nullptr;
    QPushButton *okPushButton = nullptr;
    QColor currentColor;
};

} // namespace Quillmark
