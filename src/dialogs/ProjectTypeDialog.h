#pragma once

#include <QDialog>
#include <QString>

namespace Quillmark {

// Modal dialog in which the user picks the open project's type from one card per
// row of the project-type table.
class ProjectTypeDialog : public QDialog {
    Q_OBJECT

public:
    // currentType may be empty; themeMode is a Theme::Mode (1 means dark).
    ProjectTypeDialog(const QString &currentType, int themeMode, QWidget *parent = nullptr);

    // The chosen key; read it after exec() returned Accepted.
    QString selectedType() const { return selected; }

private:
    QString selected;
};

} // namespace Quillmark
