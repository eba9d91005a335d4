#include "dialogs/ClassesPage.h"

#include "dialogs/ClassEditDialog.h"
#include "dialogs/ColorSwatch.h"
#include "dialogs/ProjectTypePage.h"
#include "dialogs/Prompts.h"
#include "dialogs/WizardClassTemplates.h"
#include "model/ProjectTypeTable.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace Quillmark {

namespace {

constexpr int swatchSize = 14;
const QColor faceClassColor("#DC3232");

} // namespace

ClassesPage::ClassesPage(QWidget *parent)
    : QWizardPage(parent), runEditor([](ClassEditDialog &dialog) { return dialog.exec() == QDialog::Accepted; })
{
    setTitle("Define Classes");
    setSubTitle("Add the categories you want to annotate. At least one class is required.");

    auto *layout = new QVBoxLayout(this);
    list = new QListWidget(this);
    list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list->setAlternatingRowColors(true);
    layout->addWidget(list, 1);

    auto *commandRow = new QHBoxLayout;
    auto *addButton = new QPushButton("+ Add", this);
    editPushButton = new QPushButton("Edit", this);
    removePushButton = new QPushButton("Remove", this);
    editPushButton->setEnabled(false);
    removePushButton->setEnabled(false);
    commandRow->addWidget(addButton);
    commandRow->addWidget(editPushButton);
    commandRow->addWidget(removePushButton);
    commandRow->addStretch();
    layout->addLayout(commandRow);

    auto *templates = new QGroupBox("Quick-fill templates", this);
    auto *templateRow = new QHBoxLayout(templates);
    const QStringList templateTitles = {"Common Objects", "COCO 80", "VOC 20"};
    for (int i = 0; i < templateTitles.size(); ++i) {
        auto *button = new QPushButton(templateTitles.at(i), templates);
        templateRow->addWidget(button);
        connect(button, &QPushButton::clicked, this, [this, i] { addTemplateClasses(i); });
    }
    templateRow->addStretch();
    clearPushButton = new QPushButton("Clear All", templates);
    templateRow->addWidget(clearPushButton);
    layout->addWidget(templates);

    connect(addButton, &QPushButton::clicked, this, [this] { addClass(); });
    connect(editPushButton, &QPushButton::clicked, this, [this] { editClass(); });
    connect(removePushButton, &QPushButton::clicked, this, [this] { removeSelectedClasses(); });
    connect(clearPushButton, &QPushButton::clicked, this, [this] { clearAll(); });
    connect(list, &QListWidget::itemDoubleClicked, this, [this] { editPushButton->click(); });
    connect(list, &QListWidget::itemSelectionChanged, this, [this] { updateButtons(); });
    updateButtons();
}

ClassesPage::~ClassesPage() = default;

void ClassesPage::initializePage()
{
    const QString type = ProjectTypePage::typeChosenIn(wizard());
    if (type == lastType)
        return;
    lastType = type;
    classList.clear();
    if (type == QLatin1String(ProjectTypes::Face))
        classList.append({QStringLiteral("face"), faceClassColor});
    rebuildList();
    emit completeChanged();
}

bool ClassesPage::isComplete() const
{
    return !classList.isEmpty();
}

void ClassesPage::addClass()
{
    ClassEditDialog dialog(QString(), wizardClassColor(int(classList.size())), this);
    if (!runEditor(dialog))
        return;
    const QString name = dialog.name().trimmed();
    if (name.isEmpty())
        return;
    if (hasClass(name)) {
        warnDuplicate();
        return;
    }
    classList.append({name, dialog.color()});
    rebuildList();
    emit completeChanged();
}

void ClassesPage::editClass()
{
    const int row = list->currentRow();
    if (row < 0 || row >= classList.size())
        return;
    const ClassEntry old = classList.at(row);
    ClassEditDialog dialog(old.name, old.color, this);
    if (!runEditor(dialog))
        return;
    const QString name = dialog.name().trimmed();
    if (name.isEmpty())
        return;
    // Only another class can hold the name: a change of case alone (car to
    // Car) renames the class itself.
    if (hasClass(name, row)) {
        warnDuplicate();
        return;
    }
    classList[row] = {name, dialog.color()};
    rebuildList();
}

void ClassesPage::removeSelectedClasses()
{
    QList<int> rows;
    for (const QListWidgetItem *item : list->selectedItems())
        rows.append(list->row(item));
    // Highest first, so that earlier removals do not shift the later rows.
    std::sort(rows.begin(), rows.end(), std::greater<int>());
    for (int row : rows) {
        if (row >= 0 && row < classList.size())
            classList.removeAt(row);
    }
    rebuildList();
    emit completeChanged();
}

void ClassesPage::addTemplateClasses(int templateIndex)
{
    bool added = false;
    for (const QString &name : wizardClassTemplate(templateIndex)) {
        if (hasClass(name))
            continue;
        classList.append({name, wizardClassColor(int(classList.size()))});
        added = true;
    }
    if (!added)
        return;
    rebuildList();
    emit completeChanged();
}

void ClassesPage::clearAll()
{
    classList.clear();
    rebuildList();
    emit completeChanged();
}

bool ClassesPage::hasClass(const QString &name, qsizetype exceptRow) const
{
    for (qsizetype row = 0; row < classList.size(); ++row) {
        if (row != exceptRow && classList.at(row).name.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

void ClassesPage::rebuildList()
{
    list->clear();
    for (const ClassEntry &entry : classList)
        new QListWidgetItem(QIcon(makeColorSwatch(entry.color, swatchSize)), entry.name, list);
    updateButtons();
}

void ClassesPage::setEditorRunner(EditorRunner runner)
{
    runEditor = std::move(runner);
}

void ClassesPage::updateButtons()
{
    const int selected = int(list->selectedItems().size());
    editPushButton->setEnabled(selected == 1);
    removePushButton->setEnabled(selected >= 1);
    removePushButton->setText(selected < 2 ? QStringLiteral("Remove") : QStringLiteral("Remove (%1)").arg(selected));
    clearPushButton->setEnabled(!classList.isEmpty());
}

void ClassesPage::warnDuplicate()
{
    Prompts::current().warning(this, "Duplicate", "Class already exists.");
}

} // namespace Quillmark
