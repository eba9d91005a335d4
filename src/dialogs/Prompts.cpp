#include "dialogs/Prompts.h"

#include <QColorDialog>
#include <QInputDialog>

namespace Quillmark {

namespace {
Prompts *overridePrompts = nullptr;
}

Prompts &Prompts::current()
{
    static Prompts platformPrompts;
    return overridePrompts ? *overridePrompts : platformPrompts;
}

void Prompts::setOverride(Prompts *prompts)
{
    overridePrompts = prompts;
}

namespace {

// The texts of these boxes are plain, and may carry a user's names (a class, a
// file): a "<" in them is shown as typed, never read as markup.
QMessageBox::StandardButton runPlainBox(QMessageBox::Icon icon, QWidget *parent, const QString &title,
                                        const QString &text, QMessageBox::StandardButtons buttons,
                                        QMessageBox::StandardButton defaultButton)
{
    QMessageBox box(icon, title, text, buttons, parent);
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(defaultButton);
    if (box.exec() == -1)
        return QMessageBox::Cancel;
    return box.standardButton(box.clickedButton());
}

} // namespace

QMessageBox::StandardButton Prompts::question(QWidget *parent, const QString &title, const QString &text,
                                              QMessageBox::StandardButtons buttons,
                                              QMessageBox::StandardButton defaultButton)
{
    return runPlainBox(QMessageBox::Question, parent, title, text, buttons, defaultButton);
}

void Prompts::warning(QWidget *parent, const QString &title, const QString &text)
{
    runPlainBox(QMessageBox::Warning, parent, title, text, QMessageBox::Ok, QMessageBox::NoButton);
}

void Prompts::information(QWidget *parent, const QString &title, const QString &text)
{
    runPlainBox(QMessageBox::Information, parent, title, text, QMessageBox::Ok, QMessageBox::NoButton);
}

QAbstractButton *Prompts::execMessageBox(QMessageBox &box)
{
    box.exec();
    return box.clickedButton();
}

QString Prompts::getText(QWidget *parent, const QString &title, const QString &label, const QString &text,
                         bool *ok)
{
    return QInputDialog::getText(parent, title, label, QLineEdit::Normal, text, ok);
}

QColor Prompts::getColor(const QColor &initial, QWidget *parent, const QString &title)
{
    return QColorDialog::getColor(initial, parent, title);
}

QString Prompts::getOpenFileName(QWidget *parent, const QString &caption, const QString &dir, const QString &filter)
{
    return QFileDialog::getOpenFileName(parent, caption, dir, filter);
}

QStringList Prompts::getOpenFileNames(QWidget *parent, const QString &caption, const QString &dir,
                                      const QString &filter)
{
    return QFileDialog::getOpenFileNames(parent, caption, dir, filter);
}

QString Prompts::getSaveFileName(QWidget *parent, const QString &caption, const QString &dir, const QString &filter)
{
    return QFileDialog::getSaveFileName(parent, caption, dir, filter);
}

QString Prompts::getExistingDirectory(QWidget *parent, const QString &caption, const QString &dir,
                                      QFileDialog::Options options)
{
    return QFileDialog::getExistingDirectory(parent, caption, dir, options);
}

} // namespace Quillmark
