#include "dialogs/ProjectTypePage.h"

#include "dialogs/WizardPageId.h"
#include "dialogs/WizardTypeTable.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QLabel>
#include <QPixmap>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWizard>

namespace Quillmark {

namespace {

constexpr int buttonWidth = 136;
constexpr int buttonHeight = 150;
constexpr int illustrationSize = 90;
constexpr int buttonsPerRow = 3;

QString typeButtonStyle(bool dark)
{
    if (dark) {
        return QStringLiteral(
            "QToolButton { border: 2px solid #3a3d52; border-radius: 10px; background: #252838; color: #c8cce0; "
            "font-size: 11px; font-weight: 500; padding: 8px 4px 6px 4px; }"
            "QToolButton:hover:enabled:!checked { border: 2px solid #5c7cfa; background: #2e3248; }"
            "QToolButton:checked { border: 2px solid #4d9fff; background: #1e2a45; color: #7ab8ff; "
            "font-weight: bold; }"
            "QToolButton:focus { border: 2px dashed #e8ebf5; }"
            "QToolButton:checked:focus { border: 2px dashed #a8d0ff; }");
    }
    return QStringLiteral(
        "QToolButton { border: 2px solid #d0d0d0; border-radius: 10px; background: white; color: #333; "
        "font-size: 11px; font-weight: 500; padding: 8px 4px 6px 4px; }"
        "QToolButton:hover:enabled:!checked { border: 2px solid #90CAF9; background: #F0F8FF; }"
        "QToolButton:checked { border: 2px solid #1976D2; background: #E3F2FD; color: #1565C0; "
        "font-weight: bold; }"
        "QToolButton:focus { border: 2px dashed #333333; }"
        "QToolButton:checked:focus { border: 2px dashed #0D47A1; }");
}

QToolButton *makeTypeButton(const WizardTypeRow &row, const QString &styleSheet, QWidget *parent)
{
    auto *button = new QToolButton(parent);
    button->setCheckable(true);
    button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    button->setFixedSize(buttonWidth, buttonHeight);
    button->setIconSize(QSize(illustrationSize, illustrationSize));
    button->setText(row.title);
    button->setStyleSheet(styleSheet);
    // Tab reaches the cards whatever the platform's tab policy, the arrows
    // move between them; the focused card is drawn dashed, the checked one solid.
    button->setFocusPolicy(Qt::StrongFocus);
    const QPixmap illustration(row.illustration);
    if (!illustration.isNull()) {
        button->setIcon(
            illustration.scaled(illustrationSize, illustrationSize, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    }
    return button;
}

} // namespace

ProjectTypePage::ProjectTypePage(bool dark, QWidget *parent) : QWizardPage(parent)
{
    setTitle("New Project");
    setSubTitle("Select the type of annotation project you want to create.");

    auto *layout = new QVBoxLayout(this);
    layout->setSpacing(16);
    auto *grid = new QGridLayout;
    grid->setSpacing(12);
    layout->addLayout(grid);

    buttons = new QButtonGroup(this);
    buttons->setExclusive(true);
    const QString styleSheet = typeButtonStyle(dark);
    for (int i = 0; i < int(wizardTypeTable.size()); ++i) {
        const WizardTypeRow &row = wizardTypeTable[i];
        QToolButton *button = makeTypeButton(row, styleSheet, this);
        buttons->addButton(button, i);
        keyOfButton.insert(button, row.key);
        grid->addWidget(button, i / buttonsPerRow, i % buttonsPerRow);
    }

    descriptionLabel = new QLabel(this);
    descriptionLabel->setObjectName("mutedLabel");
    descriptionLabel->setAlignment(Qt::AlignCenter);
    descriptionLabel->setWordWrap(true);
    descriptionLabel->setMinimumHeight(32);
    layout->addWidget(descriptionLabel);
    layout->addStretch();

    buttons->button(0)->setChecked(true);
    updateDescription();

    connect(buttons, &QButtonGroup::buttonClicked, this, [this] {
        updateDescription();
        emit completeChanged();
    });
}

ProjectTypePage::~ProjectTypePage() = default;

QString ProjectTypePage::selectedType() const
{
    return keyOfButton.value(buttons->checkedButton());
}

bool ProjectTypePage::isComplete() const
{
    return !selectedType().isEmpty();
}

QAbstractButton *ProjectTypePage::typeButton(const QString &typeKey) const
{
    for (auto it = keyOfButton.cbegin(); it != keyOfButton.cend(); ++it) {
        if (it.value() == typeKey)
            return it.key();
    }
    return nullptr;
}

QString ProjectTypePage::typeChosenIn(const QWizard *wizard)
{
    if (!wizard)
        return {};
    const auto *typePage = dynamic_cast<const ProjectTypePage *>(wizard->page(TypePageId));
    return typePage ? typePage->selectedType() : QString();
}

void ProjectTypePage::updateDescription()
{
    descriptionLabel->setText(wizardTypeDescription(selectedType()));
}

} // namespace Quillmark
