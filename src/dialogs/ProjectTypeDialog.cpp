#include "dialogs/ProjectTypeDialog.h"

#include "chrome/IconHelpers.h"
#include "model/ProjectTypeTable.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

namespace Quillmark {

namespace {

// One large checkable card of the dialog, painted in its type's accent colour.
class TypeCard : public QAbstractButton {
public:
    TypeCard(const ProjectTypeInfo &row, bool darkTheme, QWidget *parent)
        : QAbstractButton(parent), key(row.key), title(row.title), description(row.description),
          icon(renderSvgIcon(row.icon, 52, Qt::white)), accent(row.color), dark(darkTheme)
    {
        setFocusPolicy(Qt::StrongFocus);
    }
    ~TypeCard() override = default;

    QSize sizeHint() const override { return {400, 76}; }
    QSize minimumSizeHint() const override { return {200, 76}; }

    const QString key;

protected:
    void enterEvent(QEnterEvent *) override { update(); }
    void leaveEvent(QEvent *) override { update(); }
    void paintEvent(QPaintEvent *) override;

private:
    void paintBody(QPainter &p) const;
    void paintFocusMark(QPainter &p) const;
    QColor titleColor() const;

    const QString title;
    const QString description;
    const QPixmap icon;
    const QColor accent;
    const bool dark;
};

QColor withAlpha(QColor color, int alpha)
{
    color.setAlpha(alpha);
    return color;
}

void TypeCard::paintBody(QPainter &p) const
{
    const QRectF body = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QColor fill;
    QPen outline;
    if (isChecked()) {
        fill = withAlpha(accent, dark ? 40 : 18);
        outline = QPen(accent, 2);
    } else {
        const QColor base = dark ? QColor(Qt::white) : QColor(Qt::black);
        const bool hovered = underMouse();
        const int fillAlpha = dark ? (hovered ? 14 : 6) : (hovered ? 10 : 4);
        const int lineAlpha = dark ? (hovered ? 55 : 30) : (hovered ? 45 : 25);
        fill = withAlpha(base, fillAlpha);
        outline = QPen(withAlpha(base, lineAlpha), 1);
    }
    p.setPen(outline);
    p.setBrush(fill);
    p.drawRoundedRect(body, 9, 9);
}

void TypeCard::paintFocusMark(QPainter &p) const
{
    // Dashed, inside the outline: a focused card never looks like the checked one.
    QPen pen(dark ? QColor("#E5E7EB") : QColor("#111827"), 1.5, Qt::DashLine);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(rect()).adjusted(3.5, 3.5, -3.5, -3.5), 7, 7);
}

QColor TypeCard::titleColor() const
{
    if (!isChecked())
        return dark ? QColor("#E5E7EB") : QColor("#111827");
    QColor color = accent;
    if (dark)
        color = color.lighter(130);
    return color.darker(145);
}

void TypeCard::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    paintBody(p);
    if (hasFocus())
        paintFocusMark(p);

    p.setPen(Qt::NoPen);
    if (isChecked()) {
        p.setBrush(accent);
        p.drawRoundedRect(QRectF(1.5, 16, 4, 44), 2, 2);
    }
    p.setBrush(isChecked() ? accent : withAlpha(accent, 55));
    p.drawRoundedRect(QRectF(14, 14, 48, 48), 10, 10);
    if (!icon.isNull())
        p.drawPixmap(QRect(25, 25, 26, 26), icon);

    QFont titleFont = font();
    titleFont.setPointSizeF(10.5);
    titleFont.setWeight(QFont::DemiBold);
    p.setFont(titleFont);
    p.setPen(titleColor());
    p.drawText(QRectF(76, 16, width() - 88, 22), Qt::AlignLeft | Qt::AlignTop, title);

    QFont descriptionFont = font();
    descriptionFont.setPointSizeF(8.5);
    p.setFont(descriptionFont);
    p.setPen(dark ? QColor("#9CA3AF") : QColor("#6B7280"));
    p.drawText(QRectF(76, 40, width() - 88, 20), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
               description);
}

} // namespace

ProjectTypeDialog::ProjectTypeDialog(const QString &currentType, int themeMode, QWidget *parent)
    : QDialog(parent)
{
    const bool dark = themeMode == 1;
    setWindowTitle(QStringLiteral("Select Project Type"));
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    setFixedWidth(464);

    auto *layout = new QVBoxLayout(this);
    layout->setSpacing(0);
    layout->setContentsMargins(20, 20, 20, 20);

    auto *heading = new QLabel(QStringLiteral("Select Project Type"), this);
    heading->setStyleSheet(QStringLiteral("font-size:14px; font-weight:700; color:%1;")
                               .arg(dark ? QStringLiteral("#F9FAFB") : QStringLiteral("#111827")));
    layout->addWidget(heading);
    layout->addSpacing(4);

    auto *hint = new QLabel(
        QStringLiteral("Choose the annotation type for this project. This determines which tools are available."),
        this);
    hint->setWordWrap(true);
    hint->setStyleSheet(QStringLiteral("font-size:11px; color:%1;")
                            .arg(dark ? QStringLiteral("#9CA3AF") : QStringLiteral("#6B7280")));
    layout->addWidget(hint);
    layout->addSpacing(16);

    auto *group = new QButtonGroup(this);
    group->setExclusive(true);
    for (std::size_t i = 0; i < projectTypeTable.size(); ++i) {
        auto *card = new TypeCard(projectTypeTable[i], dark, this);
        card->setCheckable(true);
        card->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        card->setCursor(Qt::PointingHandCursor);
        group->addButton(card);
        layout->addWidget(card);
        if (i + 1 < projectTypeTable.size())
            layout->addSpacing(8);
        if (card->key == currentType) {
            card->setChecked(true);
            selected = card->key;
        }
        connect(card, &QAbstractButton::toggled, this, [this, card](bool checked) {
            if (checked)
                selected = card->key;
        });
    }

    layout->addSpacing(20);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    QPushButton *ok = buttons->button(QDialogButtonBox::Ok);
    ok->setEnabled(!selected.isEmpty());
    connect(group, &QButtonGroup::buttonToggled, ok, [ok](QAbstractButton *, bool checked) {
        if (checked)
            ok->setEnabled(true);
    });
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

} // namespace Quillmark
