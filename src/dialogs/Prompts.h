#pragma once

#include <QColor>
#include <QFileDialog>
#include <QMessageBox>
#include <QString>
#include <QStringList>

class QWidget;
class QAbstractButton;

namespace Quillmark {

// Every modal question the program asks (message boxes, text, colour and file
// choosers) goes through this seam, so tests can answer them without a user.
// The default implementation shows the platform's dialogs.
class Prompts {
public:
    virtual ~Prompts() = default;

    // The prompts in use: the override when one is set, else the real dialogs.
    static Prompts &current();
    // Replaces the prompts in use (tests); null restores the real dialogs.
    static void setOverride(Prompts *prompts);

    virtual QMessageBox::StandardButton question(QWidget *parent, const QString &title, const QString &text,
                                                 QMessageBox::StandardButtons buttons,
                                                 QMessageBox::StandardButton defaultButton);
    virtual void warning(QWidget *parent, const QString &title, const QString &text);
    virtual void information(QWidget *parent, const QString &title, const QString &text);

    // Runs a message box that the caller built (custom buttons, informative
    // text, icon) and returns the button that closed it, or null.
    virtual QAbstractButton *execMessageBox(QMessageBox &box);

    // Text input; `ok` tells whether the user accepted.
    virtual QString getText(QWidget *parent, const QString &title, const QString &label, const QString &text,
                            bool *ok);
    // Colour choice; an invalid colour when cancelled.
    virtual QColor getColor(const QColor &initial, QWidget *parent, const QString &title);

    virtual QString getOpenFileName(QWidget *parent, const QString &caption, const QString &dir,
                                    const QString &filter);
    virtual QStringList getOpenFileNames(QWidget *parent, const QString &caption, const QString &dir,
                                         const QString &filter);
    virtual QString getSaveFileName(QWidget *parent, const QString &caption, const QString &dir,
                                    const QString &filter);
    virtual QString getExistingDirectory(QWidget *parent, const QString &caption, const QString &dir,
                                         QFileDialog::Options options = QFileDialog::ShowDirsOnly);
};

} // namespace Quillmark
