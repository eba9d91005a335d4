#pragma once

#include <QWizardPage>

class QLineEdit;

namespace Quillmark {

// Second page of the new-project wizard: the project name (mandatory field
// "projectName*") and an optional save location (field "savePath").
class SetupPage : public QWizardPage {
public:
    explicit SetupPage(QWidget *parent = nullptr);
    ~SetupPage() override;

    // Proposes the default name of the chosen type as placeholder; never
    // replaces what the user typed.
    void initializePage() override;
    // The keypoint page for pose projects, the class page for all others.
    int nextId() const override;

    // Asks where to save the project file (the "Browse…" button).
    void browseSavePath();

    QLineEdit *nameEdit() const { return nameLineEdit; }
    QLineEdit *savePathEdit() const { return savePathLineEdit; }

private:
    QLineEdit *nameLineEdit = nullptr;
    QLineEdit *savePathLineEdit = nullptr;
};

} // namespace Quillmark
