#pragma once

#include "dialogs/ClassEntry.h"

#include <QList>
#include <QWizardPage>

#include <functional>

class QListWidget;
class QPushButton;

namespace Quillmark {

class ClassEditDialog;

// Class page of the new-project wizard (every type but pose): the class list
// with colours, edited one class at a time or filled from templates.
class ClassesPage : public QWizardPage {
public:
    // Shows a class editor modally and tells whether the user accepted it. The
    // page normally runs the dialog itself; a runner can stand in for the user.
    using EditorRunner = std::function<bool(ClassEditDialog &)>;

    explicit ClassesPage(QWidget *parent = nullptr);
    ~ClassesPage() override;

    // Starts the list afresh when the project type changed since the last
    // visit ("face" starts with the class "face"); keeps it otherwise.
    void initializePage() override;
    bool isComplete() const override;

    const QList<ClassEntry> &classes() const { return classList; }

    void addClass();
    void editClass();
    void removeSelectedClasses();
    // Appends the names of template 0 (Common Objects), 1 (COCO 80) or 2 (VOC 20)
    // that the list lacks, each in the next palette colour.
    void addTemplateClasses(int templateIndex);
    void clearAll();
    // True when a class other than the one at `exceptRow` has that name, ignoring case.
    bool hasClass(const QString &name, qsizetype exceptRow = -1) const;
    void rebuildList();

    void setEditorRunner(EditorRunner runner);

    QListWidget *listWidget() const { return list; }
    QPushButton *editButton() const { return editPushButton; }
    QPushButton *removeButton() const { return removePushButton; }
    QPushButton *clearButton() const { return clearPushButton; }

private:
    void updateButtons();
    void warnDuplicate();

    QListWidget *list = nullptr;
    QPushButton *editPushButton = nullptr;
    QPushButton *removePushButton = nullptr;
    QPushButton *clearPushButton = nullptr;
    QList<ClassEntry> classList;
    QString lastType;
    EditorRunner runEditor;
};

} // namespace Quillmark
