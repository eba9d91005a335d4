#include "dialogs/KeypointSchemaPage.h"

#include "dialogs/KeypointTemplates.h"
#include "dialogs/Prompts.h"
#include "dialogs/WizardPageId.h"

#include <QButtonGroup>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QTimer>
#include <QVBoxLayout>

namespace Quillmark {

namespace {

constexpr int objectClassMaxWidth = 160;
constexpr int keypointListMaxHeight = 140;
// The name an item had before an in-place edit, to restore a refused rename.
constexpr int committedNameRole = Qt::UserRole;
const char *const defaultObjectClass = "person";

} // namespace

KeypointSchemaPage::KeypointSchemaPage(QWidget *parent) : QWizardPage(parent)
{
    setTitle("Keypoint Schema");
    setSubTitle("Choose a skeleton definition for your pose annotations.");

    auto *layout = new QVBoxLayout(this);
    layout->setSpacing(10);

    auto *classRow = new QHBoxLayout;
    objectClassLineEdit = new QLineEdit(defaultObjectClass, this);
    objectClassLineEdit->setMaximumWidth(objectClassMaxWidth);
    classRow->addWidget(new QLabel("Object class:", this));
    classRow->addWidget(objectClassLineEdit);
    classRow->addStretch();
    layout->addLayout(classRow);

    auto *templateBox = new QGroupBox("Schema template", this);
    auto *templateLayout = new QVBoxLayout(templateBox);
    coco17Radio = new QRadioButton("COCO 17 — Full body (17 keypoints)", templateBox);
    hand21Radio = new QRadioButton("Hand 21 — Hand skeleton, MediaPipe (21 keypoints)", templateBox);
    customRadio = new QRadioButton("Custom  — Define your own keypoints", templateBox);
    coco17Radio->setChecked(true);
    templates = new QButtonGroup(this);
    for (QRadioButton *radio : {coco17Radio, hand21Radio, customRadio}) {
        templates->addButton(radio);
        templateLayout->addWidget(radio);
    }
    layout->addWidget(templateBox);

    auto *keypointBox = new QGroupBox("Keypoints", this);
    auto *keypointLayout = new QVBoxLayout(keypointBox);
    list = new QListWidget(keypointBox);
    list->setAlternatingRowColors(true);
    list->setMaximumHeight(keypointListMaxHeight);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    keypointLayout->addWidget(list);
    customRow = new QWidget(keypointBox);
    auto *customLayout = new QHBoxLayout(customRow);
    customLayout->setContentsMargins(0, 0, 0, 0);
    auto *addButton = new QPushButton("+ Add", customRow);
    removePushButton = new QPushButton("Remove", customRow);
    removePushButton->setEnabled(false);
    customLayout->addWidget(addButton);
    customLayout->addWidget(removePushButton);
    customLayout->addStretch();
    keypointLayout->addWidget(customRow);
    customRow->hide();
    layout->addWidget(keypointBox);
    layout->addStretch();

    connect(templates, &QButtonGroup::buttonToggled, this, [this](QAbstractButton *button, bool checked) {
        // Of the two toggles a switch causes, react to the newly checked button.
        // The one leaving Custom comes first: the user's own keypoints and
        // object class are kept for a return to Custom.
        if (checked)
            onTemplateChanged();
        else if (button == customRadio)
            keepCustomSchema();
    });
    connect(list, &QListWidget::currentRowChanged, this, [this] { updateRemoveButton(); });
    connect(list, &QListWidget::itemChanged, this, [this](QListWidgetItem *item) { onKeypointRenamed(item); });
    connect(addButton, &QPushButton::clicked, this, [this] { addKeypoint(); });
    connect(removePushButton, &QPushButton::clicked, this, [this] { removeKeypoint(); });

    fillTemplateKeypoints();
}

KeypointSchemaPage::~KeypointSchemaPage() = default;

bool KeypointSchemaPage::isComplete() const
{
    return !(isCustom() && list->count() == 0);
}

int KeypointSchemaPage::nextId() const
{
    return ImportPageId;
}

KeypointSchema KeypointSchemaPage::schema() const
{
    KeypointSchema result;
    result.objectClass = objectClassLineEdit->text().trimmed();
    if (result.objectClass.isEmpty())
        result.objectClass = defaultObjectClass;
    for (int row = 0; row < list->count(); ++row)
        result.keypointNames.append(list->item(row)->text());
    if (coco17Radio->isChecked())
        result.edges = coco17KeypointEdges();
    else if (hand21Radio->isChecked())
        result.edges = hand21KeypointEdges();
    return result;
}

void KeypointSchemaPage::fillTemplateKeypoints()
{
    list->clear();
    if (coco17Radio->isChecked()) {
        for (const QString &name : coco17KeypointNames())
            appendKeypoint(name);
    } else if (hand21Radio->isChecked()) {
        for (const QString &name : hand21KeypointNames())
            appendKeypoint(name);
    } else {
        for (const QString &name : std::as_const(customNames))
            appendKeypoint(name);
    }
    updateRemoveButton();
}

void KeypointSchemaPage::keepCustomSchema()
{
    customNames.clear();
    for (int row = 0; row < list->count(); ++row)
        customNames.append(list->item(row)->text());
    customObjectClass = objectClassLineEdit->text();
    hasCustomObjectClass = true;
}

void KeypointSchemaPage::addKeypoint()
{
    // The templates' edges index their own names, so only a custom list changes.
    if (!isCustom())
        return;
    bool ok = false;
    const QString proposal = QStringLiteral("kp%1").arg(list->count() + 1);
    const QString name = Prompts::current().getText(this, "Add Keypoint", "Keypoint name:", proposal, &ok).trimmed();
    if (!ok || name.isEmpty())
        return;
    // The rule of an in-place rename: names are unique, ignoring case.
    if (nameTakenByOtherItem(name, nullptr)) {
        warnDuplicate();
        return;
    }
    appendKeypoint(name);
    emit completeChanged();
}

void KeypointSchemaPage::removeKeypoint()
{
    const int row = list->currentRow();
    if (!isCustom() || row < 0)
        return;
    delete list->takeItem(row);
    updateRemoveButton();
    emit completeChanged();
}

bool KeypointSchemaPage::isCustom() const
{
    return customRadio->isChecked();
}

void KeypointSchemaPage::onTemplateChanged()
{
    const bool custom = isCustom();
    customRow->setVisible(custom);
    list->setEditTriggers(custom ? QAbstractItemView::DoubleClicked : QAbstractItemView::NoEditTriggers);
    if (coco17Radio->isChecked())
        objectClassLineEdit->setText("person");
    else if (hand21Radio->isChecked())
        objectClassLineEdit->setText("hand");
    else if (hasCustomObjectClass)
        objectClassLineEdit->setText(customObjectClass);
    fillTemplateKeypoints();
    emit completeChanged();
}

void KeypointSchemaPage::onKeypointRenamed(QListWidgetItem *item)
{
    const QString committed = item->data(committedNameRole).toString();
    const QString name = item->text().trimmed();
    const bool taken = nameTakenByOtherItem(name, item);
    const QSignalBlocker blocker(list);
    if (name.isEmpty() || taken) {
        item->setText(committed);
        // Warn once the editor has closed: a modal box inside the commit of an
        // in-place edit would take the editor's focus and commit it again.
        if (taken)
            QTimer::singleShot(0, this, [this] { warnDuplicate(); });
        return;
    }
    item->setText(name);
    item->setData(committedNameRole, name);
}

void KeypointSchemaPage::warnDuplicate()
{
    Prompts::current().warning(this, "Duplicate", "Keypoint already exists.");
}

void KeypointSchemaPage::appendKeypoint(const QString &name)
{
    const QSignalBlocker blocker(list);
    auto *item = new QListWidgetItem(name, list);
    item->setData(committedNameRole, name);
    if (isCustom())
        item->setFlags(item->flags() | Qt::ItemIsEditable);
}

bool KeypointSchemaPage::nameTakenByOtherItem(const QString &name, const QListWidgetItem *item) const
{
    for (int row = 0; row < list->count(); ++row) {
        const QListWidgetItem *other = list->item(row);
        if (other != item && other->text().compare(name, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

void KeypointSchemaPage::updateRemoveButton()
{
    removePushButton->setEnabled(isCustom() && list->currentRow() >= 0);
}

} // namespace Quillmark
