#include "formats/ui/ImportFormatDialog.h"

#include "formats/ImportFormats.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFile>
#include <QHash>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QSvgRenderer>
#include <QVBoxLayout>

namespace Quillmark {

namespace {

const QColor detectedColor(0x1a, 0x7f, 0x37);
// The same green, light enough to read on the dark theme's panels.
const QColor detectedColorDark(0x4a, 0xc2, 0x6b);
const int iconSide = 22;

// The format's icon drawn at 22 x 22, or a null icon. Only the bytes from the
// first "<svg" on are handed to the renderer.
QIcon formatIcon(const QString &name)
{
    static QHash<QString, QIcon> cache;
    const auto cached = cache.constFind(name);
    if (cached != cache.cend())
        return cached.value();
    QIcon icon;
    QFile file(importFormatIcon(name));
    if (!file.fileName().isEmpty() && file.open(QIODevice::ReadOnly)) {
        QByteArray svg = file.readAll();
        const qsizetype start = svg.indexOf("<svg");
        QSvgRenderer renderer(start >= 0 ? svg.mid(start) : QByteArray());
        if (renderer.isValid()) {
            QPixmap pixmap(iconSide, iconSide);
            pixmap.fill(Qt::transparent);
            QPainter painter(&pixmap);
            renderer.render(&painter);
            painter.end();
            icon = QIcon(pixmap);
        }
    }
    cache.insert(name, icon);
    return icon;
}

// The application's style sheet gives every list row one text colour; this
// delegate lets the background, selection and icon be drawn as the sheet
// says and then draws the text in the row's own colour, so marked rows and
// the separator keep theirs.
class FormatRowDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        QStyleOptionViewItem opt = option;
        initStyleOption(&opt, index);
        const QString text = opt.text;
        opt.text.clear();
        const QWidget *widget = option.widget;
        QStyle *style = widget ? widget->style() : QApplication::style();
        style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);

        opt.text = text;
        const QRect textRect = style->subElementRect(QStyle::SE_ItemViewItemText, &opt, widget);
        const QVariant foreground = index.data(Qt::ForegroundRole);
        const QColor color = foreground.canConvert<QBrush>() && foreground.value<QBrush>().style() != Qt::NoBrush
                                 ? foreground.value<QBrush>().color()
                                 : opt.palette.color(QPalette::Text);
        painter->save();
        painter->setFont(opt.font);
        painter->setPen(color);
        painter->drawText(textRect, int(opt.displayAlignment) | Qt::TextSingleLine,
                          opt.fontMetrics.elidedText(text, Qt::ElideRight, textRect.width()));
        painter->restore();
    }
};

QString detectedText(const QStringList &detected)
{
    if (detected.isEmpty())
        return QStringLiteral("<b>Format could not be auto-detected.</b><br>Please choose a format from the list "
                              "below.");
    if (detected.size() == 1)
        return QStringLiteral("<b>Auto-detected:</b> %1<br>Confirm or choose a different format.")
            .arg(detected.constFirst().toHtmlEscaped());
    return QStringLiteral("<b>%1 formats detected</b> (shown at top): %2<br>Please confirm the correct one.")
        .arg(detected.size())
        .arg(detected.join(QStringLiteral(", ")).toHtmlEscaped());
}

} // namespace

void addFormatListItem(QListWidget *list, const QString &name, bool detected)
{
    auto *item = new QListWidgetItem(detected ? QStringLiteral("\u2713  ") + name : QStringLiteral("    ") + name);
    item->setData(Qt::UserRole, name);
    const QIcon icon = formatIcon(name);
    if (!icon.isNull())
        item->setIcon(icon);
    if (detected) {
        QFont font = item->font();
        font.setWeight(QFont::Bold);
        item->setFont(font);
        item->setForeground(detectedColor);
    }
    list->addItem(item);
}

ImportFormatDialog::ImportFormatDialog(const QStringList &candidates, const QStringList &detected, Theme::Mode theme,
                                       QWidget *parent)
    : QDialog(parent)
{
    const bool dark = theme == Theme::Dark;
    setWindowTitle(QStringLiteral("Import Dataset \u2014 Select Format"));
    setMinimumWidth(440);
    auto *layout = new QVBoxLayout(this);

    message = new QLabel(detectedText(detected), this);
    message->setTextFormat(Qt::RichText);
    message->setWordWrap(true);
    layout->addWidget(message);

    list = new QListWidget(this);
    list->setObjectName(QStringLiteral("importFormatList"));
    list->setAlternatingRowColors(true);
    list->setIconSize(QSize(iconSide, iconSide));
    list->setItemDelegate(new FormatRowDelegate(list));
    list->setMinimumHeight(320);
    // Every other row in the theme's control colour; the platform's would be
    // light on the dark theme.
    list->setStyleSheet(
        QStringLiteral("QListWidget { alternate-background-color: %1; }").arg(Theme::colors(theme).value(3)));
    for (const QString &name : detected) {
        addFormatListItem(list, name, true);
        if (dark)
            list->item(list->count() - 1)->setForeground(detectedColorDark);
    }
    if (!detected.isEmpty()) {
        auto *separator = new QListWidgetItem(QString(25, QChar(0x2500)));
        separator->setFlags(Qt::NoItemFlags);
        separator->setForeground(list->palette().color(QPalette::Mid));
        list->addItem(separator);
    }
    for (const QString &name : candidates) {
        if (!detected.contains(name))
            addFormatListItem(list, name, false);
    }
    if (list->count() > 0)
        list->setCurrentRow(0);
    layout->addWidget(list);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(list, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem *item) {
        if (item && (item->flags() & Qt::ItemIsEnabled))
            accept();
    });
    layout->addWidget(buttons);
}

QString ImportFormatDialog::chosenFormat() const
{
    const QListWidgetItem *item = list->currentItem();
    if (!item || !(item->flags() & Qt::ItemIsEnabled))
        return {};
    return item->data(Qt::UserRole).toString();
}

} // namespace Quillmark
