#include "dialogs/SetupPage.h"

#include "dialogs/ProjectSavePath.h"
#include "dialogs/ProjectTypePage.h"
#include "dialogs/WizardPageId.h"
#include "dialogs/WizardTypeTable.h"
#include "model/ProjectTypeTable.h"
#include "model/SettingsStores.h"

#include <QDir>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QVBoxLayout>

namespace Quillmark {

namespace {

constexpr int browseButtonWidth = 80;
const char *const lastProjectDirKey = "lastProjectDir";

// The wizard keeps its last folder in the product store, apart from the main
// window's key of the same name in the default store.
QSettings productSettings()
{
    return SettingsStores::productStore();
}

} // namespace

SetupPage::SetupPage(QWidget *parent) : QWizardPage(parent)
{
    setTitle("Project Setup");
    setSubTitle("Give your project a name and an optional save location.");

    auto *layout = new QVBoxLayout(this);
    auto *form = new QFormLayout;
    form->setRowWrapPolicy(QFormLayout::WrapLongRows);
    layout->addLayout(form);
    layout->addStretch();

    nameLineEdit = new QLineEdit(this);
    nameLineEdit->setPlaceholderText("My Project");
    form->addRow("Project Name: *", nameLineEdit);

    auto *saveRow = new QHBoxLayout;
    savePathLineEdit = new QLineEdit(this);
    savePathLineEdit->setReadOnly(true);
    savePathLineEdit->setPlaceholderText("(optional — you can save later)");
    auto *browseButton = new QPushButton("Browse…", this);
    browseButton->setFixedWidth(browseButtonWidth);
    saveRow->addWidget(savePathLineEdit);
    saveRow->addWidget(browseButton);
    form->addRow("Save Location:", saveRow);

    registerField("projectName*", nameLineEdit);
    registerField("savePath", savePathLineEdit);

    connect(browseButton, &QPushButton::clicked, this, [this] { browseSavePath(); });
}

SetupPage::~SetupPage() = default;

void SetupPage::initializePage()
{
    nameLineEdit->setPlaceholderText(wizardDefaultProjectName(ProjectTypePage::typeChosenIn(wizard())));
}

int SetupPage::nextId() const
{
    const bool pose = ProjectTypePage::typeChosenIn(wizard()) == QLatin1String(ProjectTypes::Pose);
    return pose ? KeypointSchemaPageId : ClassesPageId;
}

void SetupPage::browseSavePath()
{
    QSettings settings = productSettings();
    const QString startDir = settings.value(lastProjectDirKey, QDir::homePath()).toString();
    const QString path = askProjectSavePath(this, "Save Project As", startDir);
    if (path.isEmpty())
        return;

    const QFileInfo file(path);
    settings.setValue(lastProjectDirKey, file.absolutePath());
    savePathLineEdit->setText(path);
    if (nameLineEdit->text().trimmed().isEmpty())
        nameLineEdit->setText(file.baseName());
}

} // namespace Quillmark
