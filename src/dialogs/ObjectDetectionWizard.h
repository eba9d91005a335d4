#pragma once

#include "dialogs/NewProjectSpec.h"

#include <QWizard>

namespace Quillmark {

class ClassesPage;
class ImportPage;
class KeypointSchemaPage;
class ProjectTypePage;
class SetupPage;
class SummaryPage;

// The modal wizard through which a user creates a project: type, name and save
// location, classes (or, for pose projects, the keypoint schema), images to
// import, and a summary. It creates nothing itself; the caller reads the
// answers with projectSpec() after an accepted exec().
class ObjectDetectionWizard : public QWizard {
    Q_OBJECT

public:
    // `dark` selects the look of the type buttons for the dark theme.
    explicit ObjectDetectionWizard(QWidget *parent = nullptr, bool dark = false);
    ~ObjectDetectionWizard() override;

    // The user's answers as they stand.
    NewProjectSpec projectSpec() const;

    ProjectTypePage *typePage() const;
    SetupPage *setupPage() const;
    ClassesPage *classesPage() const;
    ImportPage *importPage() const;
    SummaryPage *summaryPage() const;
    KeypointSchemaPage *keypointSchemaPage() const;

private:
    void refreshPage(int id);
};

} // namespace Quillmark
