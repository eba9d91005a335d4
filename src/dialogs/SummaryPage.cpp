#include "dialogs/SummaryPage.h"

#include "dialogs/ClassesPage.h"
#include "dialogs/ColorSwatch.h"
#include "dialogs/ImportPage.h"
#include "dialogs/KeypointSchemaPage.h"
#include "dialogs/ProjectTypePage.h"
#include "dialogs/WizardPageId.h"
#include "dialogs/WizardTypeTable.h"
#include "model/ProjectTypeTable.h"

#include <QFormLayout>
#include <QLabel>
#include <QListWidget>
#include <QVBoxLayout>
#include <QWizard>

namespace Quillmark {

namespace {

constexpr int swatchSize = 14;
constexpr int listMaxHeight = 120;

// Shows the user's own text literally, or an italic placeholder when it is empty.
void setValueOrPlaceholder(QLabel *label, const QString &value, const QString &placeholderHtml)
{
    label->setTextFormat(value.isEmpty() ? Qt::RichText : Qt::PlainText);
    label->setText(value.isEmpty() ? placeholderHtml : value);
}

template <typename Page> const Page *wizardPage(const QWizard *wizard, int id)
{
    return wizard ? dynamic_cast<const Page *>(wizard->page(id)) : nullptr;
}

} // namespace

SummaryPage::SummaryPage(QWidget *parent) : QWizardPage(parent)
{
    setTitle("Ready to Create");
    setSubTitle("Review your project settings and click \"Create Project\".");
    setFinalPage(true);

    auto *layout = new QVBoxLayout(this);
    auto *form = new QFormLayout;
    form->setVerticalSpacing(8);
    typeLabel = new QLabel(this);
    nameLabel = new QLabel(this);
    nameLabel->setWordWrap(true);
    saveLocationLabel = new QLabel(this);
    saveLocationLabel->setWordWrap(true);
    detailCaptionLabel = new QLabel("Classes:", this);
    detailLabel = new QLabel(this);
    imagesLabel = new QLabel(this);
    for (QLabel *label : {typeLabel, detailLabel, imagesLabel})
        label->setTextFormat(Qt::PlainText);
    form->addRow("Project Type:", typeLabel);
    form->addRow("Project Name:", nameLabel);
    form->addRow("Save Location:", saveLocationLabel);
    form->addRow(detailCaptionLabel, detailLabel);
    form->addRow("Images:", imagesLabel);
    layout->addLayout(form);

    list = new QListWidget(this);
    list->setFrameShape(QFrame::StyledPanel);
    list->setMaximumHeight(listMaxHeight);
    list->setSelectionMode(QAbstractItemView::NoSelection);
    layout->addWidget(list);
    layout->addStretch();
}

SummaryPage::~SummaryPage() = default;

void SummaryPage::initializePage()
{
    const QString type = ProjectTypePage::typeChosenIn(wizard());
    const bool pose = type == QLatin1String(ProjectTypes::Pose);

    typeLabel->setText(wizardSummaryTypeName(type));
    setValueOrPlaceholder(nameLabel, field("projectName").toString(), "<em>Untitled</em>");
    setValueOrPlaceholder(saveLocationLabel, field("savePath").toString(), "<em>Not saved yet</em>");
    detailCaptionLabel->setText(pose ? "Keypoints:" : "Classes:");

    list->clear();
    if (pose)
        showKeypoints();
    else
        showClasses();
    list->setVisible(list->count() > 0);

    const auto *importPage = wizardPage<ImportPage>(wizard(), ImportPageId);
    const qsizetype imageCount = importPage ? importPage->imagePaths().size() : 0;
    imagesLabel->setText(imageCount == 0 ? QStringLiteral("None — import later")
                                         : QStringLiteral("%1 image(s) to import").arg(imageCount));
}

int SummaryPage::nextId() const
{
    return -1;
}

void SummaryPage::showClasses()
{
    const auto *classesPage = wizardPage<ClassesPage>(wizard(), ClassesPageId);
    const QList<ClassEntry> classes = classesPage ? classesPage->classes() : QList<ClassEntry>();
    detailLabel->setText(QStringLiteral("%1 class(es) defined").arg(classes.size()));
    for (const ClassEntry &entry : classes)
        new QListWidgetItem(QIcon(makeColorSwatch(entry.color, swatchSize)), entry.name, list);
}

void SummaryPage::showKeypoints()
{
    const auto *keypointPage = wizardPage<KeypointSchemaPage>(wizard(), KeypointSchemaPageId);
    const KeypointSchema schema = keypointPage ? keypointPage->schema() : KeypointSchema();
    detailLabel->setText(
        QStringLiteral("%1 keypoints  (class: %2)").arg(schema.keypointNames.size()).arg(schema.objectClass));
    for (int i = 0; i < schema.keypointNames.size(); ++i)
        new QListWidgetItem(QStringLiteral("%1. %2").arg(i + 1).arg(schema.keypointNames.at(i)), list);
}

} // namespace Quillmark
