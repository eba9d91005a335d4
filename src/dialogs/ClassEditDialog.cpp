#include "dialogs/ClassEditDialog.h"

#include "dialogs/ColorSwatch.h"
#include "dialogs/Prompts.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>

namespace Quillmark {

namespace {
constexpr int dialogWidth = 300;
constexpr int colorButtonWidth = 90;
constexpr int colorButtonHeight = 24;
constexpr int colorIconSize = 16;
} // namespace

ClassEditDialog::ClassEditDialog(const QString &name, const QColor &color, QWidget *parent)
    : QDialog(parent), currentColor(color)
{
    setWindowTitle(name.isEmpty() ? "Add Class" : "Edit Class");
    setFixedWidth(dialogWidth);

    auto *form = new QFormLayout(this);
    nameLineEdit = new QLineEdit(name, this);
    nameLineEdit->setPlaceholderText("e.g.  person");
    form->addRow("Class Name:", nameLineEdit);

    colorPushButton = new QPushButton(this);
    // At least its usual size, and as large as its swatch and colour name need
    // in the padding the style sheet gives buttons.
    colorPushButton->setMinimumSize(colorButtonWidth, colorButtonHeight);
    colorPushButton->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    form->addRow("Color:", colorPushButton);

    auto *buttonRow = new QHBoxLayout;
    okPushButton = new QPushButton("OK", this);
    okPushButton->setDefault(true);
    // A class needs a name: OK waits for one (blanks alone are none).
    const auto nameGiven = [this] { return !nameLineEdit->text().trimmed().isEmpty(); };
    okPushButton->setEnabled(nameGiven());
    connect(nameLineEdit, &QLineEdit::textChanged, okPushButton,
            [this, nameGiven] { okPushButton->setEnabled(nameGiven()); });
    auto *cancelButton = new QPushButton("Cancel", this);
    buttonRow->addStretch();
    buttonRow->addWidget(okPushButton);
    buttonRow->addWidget(cancelButton);
    form->addRow(buttonRow);

    refreshColorButton();
    connect(colorPushButton, &QPushButton::clicked, this, [this] { chooseColor(); });
    connect(okPushButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

ClassEditDialog::~ClassEditDialog() = default;

QString ClassEditDialog::name() const
{
    return nameLineEdit->text();
}

void ClassEditDialog::setColor(const QColor &color)
{
    currentColor = color;
    refreshColorButton();
}

void ClassEditDialog::chooseColor()
{
    const QColor chosen = Prompts::current().getColor(currentColor, this, "Choose Color");
    if (chosen.isValid())
        setColor(chosen);
}

void ClassEditDialog::refreshColorButton()
{
    colorPushButton->setIcon(makeColorSwatch(currentColor, colorIconSize));
    colorPushButton->setText(currentColor.name(QColor::HexRgb).toUpper());
}

} // namespace Quillmark
