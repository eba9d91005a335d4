#include "dialogs/ObjectDetectionWizard.h"

#include "dialogs/ClassesPage.h"
#include "dialogs/ImportPage.h"
#include "dialogs/KeypointSchemaPage.h"
#include "dialogs/ProjectTypePage.h"
#include "dialogs/SetupPage.h"
#include "dialogs/SummaryPage.h"
#include "dialogs/WizardPageId.h"
#include "model/ProjectTypeTable.h"

namespace Quillmark {

namespace {

constexpr int wizardMinimumWidth = 600;
constexpr int wizardMinimumHeight = 560;

template <typename Page> Page *typedPage(const QWizard *wizard, int id)
{
    return dynamic_cast<Page *>(wizard->page(id));
}

} // namespace

ObjectDetectionWizard::ObjectDetectionWizard(QWidget *parent, bool dark) : QWizard(parent)
{
    setWindowTitle("New Project");
    setWizardStyle(QWizard::ModernStyle);
    setOption(QWizard::NoBackButtonOnStartPage, true);
    setOption(QWizard::HaveHelpButton, false);
    setMinimumSize(wizardMinimumWidth, wizardMinimumHeight);
    setButtonText(QWizard::FinishButton, "Create Project");
    setButtonText(QWizard::CancelButton, "Cancel");

    setPage(TypePageId, new ProjectTypePage(dark, this));
    setPage(SetupPageId, new SetupPage(this));
    setPage(ClassesPageId, new ClassesPage(this));
    setPage(ImportPageId, new ImportPage(this));
    setPage(SummaryPageId, new SummaryPage(this));
    setPage(KeypointSchemaPageId, new KeypointSchemaPage(this));

    // QWizard initialises a page only when it is reached with Next; these pages
    // derive their content from the chosen type, so they refresh on Back too.
    connect(this, &QWizard::currentIdChanged, this, &ObjectDetectionWizard::refreshPage);
}

ObjectDetectionWizard::~ObjectDetectionWizard() = default;

NewProjectSpec ObjectDetectionWizard::projectSpec() const
{
    NewProjectSpec spec;
    spec.name = field("projectName").toString().trimmed();
    spec.savePath = field("savePath").toString().trimmed();
    if (const ProjectTypePage *page = typePage())
        spec.projectType = page->selectedType();
    if (const ClassesPage *page = classesPage())
        spec.classes = page->classes();
    const KeypointSchemaPage *keypoints = keypointSchemaPage();
    if (spec.projectType == QLatin1String(ProjectTypes::Pose) && keypoints)
        spec.keypointSchema = keypoints->schema();
    if (const ImportPage *page = importPage())
        spec.imagePaths = page->imagePaths();
    return spec;
}

ProjectTypePage *ObjectDetectionWizard::typePage() const
{
    return typedPage<ProjectTypePage>(this, TypePageId);
}

SetupPage *ObjectDetectionWizard::setupPage() const
{
    return typedPage<SetupPage>(this, SetupPageId);
}

ClassesPage *ObjectDetectionWizard::classesPage() const
{
    return typedPage<ClassesPage>(this, ClassesPageId);
}

ImportPage *ObjectDetectionWizard::importPage() const
{
    return typedPage<ImportPage>(this, ImportPageId);
}

SummaryPage *ObjectDetectionWizard::summaryPage() const
{
    return typedPage<SummaryPage>(this, SummaryPageId);
}

KeypointSchemaPage *ObjectDetectionWizard::keypointSchemaPage() const
{
    return typedPage<KeypointSchemaPage>(this, KeypointSchemaPageId);
}

void ObjectDetectionWizard::refreshPage(int id)
{
    if (id != SetupPageId && id != ClassesPageId && id != SummaryPageId)
        return;
    if (QWizardPage *current = page(id))
        current->initializePage();
}

} // namespace Quillmark
