#pragma once

#include "chrome/Theme.h"

#include <QDialog>
#include <QString>
#include <QStringList>

class QLabel;
class QListWidget;

namespace Quillmark {

// The format chooser of the dataset import: the formats the detection rules
// claimed the folder for, marked and first (the first one current), a
// separator, then every other candidate. OK or a double click on a row
// accepts.
class ImportFormatDialog : public QDialog {
    Q_OBJECT

public:
    // `candidates` in offer order; `detected` (a subset) in the order to show.
    // The theme picks the colours that read on its panels.
    ImportFormatDialog(const QStringList &candidates, const QStringList &detected, Theme::Mode theme,
                       QWidget *parent = nullptr);

    // The name of the current row, or an empty string when there is none or
    // it cannot be chosen (the separator).
    QString chosenFormat() const;

    QListWidget *formatList() const { return list; }
    QLabel *messageLabel() const { return message; }

private:
    QLabel *message = nullptr;
    QListWidget *list = nullptr;
};

// Appends one format row: "✓  " and the name, bold and green, for a
// detected format; four spaces and the name otherwise. The user-role data
// holds the bare name; the icon is the format's own, when it has one.
void addFormatListItem(QListWidget *list, const QString &name, bool detected);

} // namespace Quillmark
