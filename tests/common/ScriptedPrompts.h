#pragma once

// Test double for the program's modal prompts: every call is recorded, and each
// answer is taken from a queue the test fills beforehand. An empty queue answers
// as a user who cancels. Install it for the life of a test with PromptsOverride.

#include "dialogs/Prompts.h"

#include <QAbstractButton>
#include <QColor>
#include <QList>
#include <QPushButton>
#include <QQueue>
#include <QVariant>

namespace QmTest {

struct PromptCall {
    QString kind;   // "question", "warning", "information", "messageBox", "text", "color", "open", "openMany", "save", "dir"
    QString title;
    QString text;   // message text, label, or start folder of file dialogs
    QString extra;  // informative text of built boxes, filter of file dialogs
};

class ScriptedPrompts : public Quillmark::Prompts {
public:
    QList<PromptCall> calls;
    // Answers, consumed in order. For question(): a QMessageBox::StandardButton.
    // For execMessageBox(): a QMessageBox::StandardButton or the text of a button.
    // For getText(): a QString (a null QVariant means cancel). For getColor():
    // a QColor. For file dialogs: a QString, or a QStringList for getOpenFileNames.
    QQueue<QVariant> answers;

    QMessageBox::StandardButton question(QWidget *, const QString &title, const QString &text,
                                         QMessageBox::StandardButtons, QMessageBox::StandardButton) override
    {
        calls.append({"question", title, text, {}});
        const QVariant a = next();
        return a.isValid() ? QMessageBox::StandardButton(a.toInt()) : QMessageBox::Cancel;
    }
    void warning(QWidget *, const QString &title, const QString &text) override
    {
        calls.append({"warning", title, text, {}});
    }
    void information(QWidget *, const QString &title, const QString &text) override
    {
        calls.append({"information", title, text, {}});
    }
    QAbstractButton *execMessageBox(QMessageBox &box) override
    {
        calls.append({"messageBox", box.windowTitle(), box.text(), box.informativeText()});
        const QVariant a = next();
        if (!a.isValid())
            return nullptr;
        for (QAbstractButton *button : box.buttons()) {
            if (a.typeId() == QMetaType::QString ? button->text() == a.toString()
                                                 : box.standardButton(button) == a.toInt())
                return button;
        }
        return nullptr;
    }
    QString getText(QWidget *, const QString &title, const QString &label, const QString &text, bool *ok) override
    {
        calls.append({"text", title, label, text});
        const QVariant a = next();
        if (ok)
            *ok = a.isValid();
        return a.toString();
    }
    QColor getColor(const QColor &initial, QWidget *, const QString &title) override
    {
        calls.append({"color", title, initial.name(), {}});
        return next().value<QColor>();
    }
    QString getOpenFileName(QWidget *, const QString &caption, const QString &dir, const QString &filter) override
    {
        calls.append({"open", caption, dir, filter});
        return next().toString();
    }
    QStringList getOpenFileNames(QWidget *, const QString &caption, const QString &dir,
                                 const QString &filter) override
    {
        calls.append({"openMany", caption, dir, filter});
        return next().toStringList();
    }
    QString getSaveFileName(QWidget *, const QString &caption, const QString &dir, const QString &filter) override
    {
        calls.append({"save", caption, dir, filter});
        return next().toString();
    }
    QString getExistingDirectory(QWidget *, const QString &caption, const QString &dir,
                                 QFileDialog::Options) override
    {
        calls.append({"dir", caption, dir, {}});
        return next().toString();
    }

private:
    QVariant next() { return answers.isEmpty() ? QVariant() : answers.dequeue(); }
};

// Installs a ScriptedPrompts for the life of the object.
class PromptsOverride {
public:
    explicit PromptsOverride(Quillmark::Prompts *prompts) { Quillmark::Prompts::setOverride(prompts); }
    ~PromptsOverride() { Quillmark::Prompts::setOverride(nullptr); }
    PromptsOverride(const PromptsOverride &) = delete;
    PromptsOverride &operator=(const PromptsOverride &) = delete;
};

} // namespace QmTest
