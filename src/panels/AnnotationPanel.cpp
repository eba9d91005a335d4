#include "panels/AnnotationPanel.h"

#include "dialogs/Prompts.h"
#include "model/AnnotationKind.h"
#include "model/Dataset.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QScrollArea>
#include <QSet>
#include <QSplitter>
#include <QTextEdit>
#include <QVBoxLayout>

#include <algorithm>
#include <functional>

namespace Quillmark {

namespace {

constexpr int minimumPanelWidth = 225;

const QString singleHint = QStringLiteral("Click a class to set it as active");
const QString multiHint = QStringLiteral("Click a class to label. Ctrl+click to select multiple.");

// A rounded colour square for list rows.
QIcon colorSwatch(const QColor &color, int s)
{
    QPixmap pixmap(s, s);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(color.darker(140), 1));
    painter.setBrush(color);
    painter.drawRoundedRect(QRectF(1, 1, s - 2, s - 2), 3, 3);
    painter.end();
    return QIcon(pixmap);
}

QString kindLabel(const Annotation &annotation)
{
    switch (annotation.kind) {
    case BoundingBox:
        return QStringLiteral("BBox");
    case Polygon:
        return QStringLiteral("Polygon");
    case Polyline:
        return QStringLiteral("Polyline");
    case Point:
        return QStringLiteral("Point");
    case Keypoint:
        return QStringLiteral("KP×%1").arg(annotation.points.size());
    default:
        return {};
    }
}

QGroupBox *groupWithLayout(const QString &title, QWidget *parent, QVBoxLayout **layout)
{
    auto *box = new QGroupBox(title, parent);
    *layout = new QVBoxLayout(box);
    (*layout)->setContentsMargins(7, 10, 7, 7);
    return box;
}

QPushButton *compactButton(const QString &text, QWidget *parent)
{
    auto *button = new QPushButton(text, parent);
    button->setFixedHeight(24);
    button->setObjectName(QStringLiteral("compactButton"));
    return button;
}

// One row of the statistics table: name, bar, count. Rich text sizes no div, so
// the bar is a coloured cell of a full-width inner table whose second cell takes
// the rest: %2 is the bar's share in percent, %3 its colour, %5 the rest.
const QString statsRowTemplate = QStringLiteral(
    "<tr><td style='padding-right:6px; white-space:nowrap; font-size:10px;'>%1</td>"
    "<td width='100%' valign='middle'><table width='100%' cellspacing='0' cellpadding='0'><tr>"
    "<td width='%2%' bgcolor='%3' style='font-size:6px;'>&nbsp;</td>"
    "<td width='%5%' style='font-size:6px;'></td></tr></table></td>"
    "<td style='padding-left:6px; font-size:10px; color:gray;'>%4</td></tr>");

// The class list. It reports the selection changes a key made (arrows,
// Home/End, type-ahead, Ctrl+Space), which the panel treats like a click, and
// tells whether the current row changed under a press of the mouse (the
// click that follows announces it).
class ClassList : public QListWidget {
public:
    using QListWidget::QListWidget;
    std::function<void()> keyChangedSelection;
    // Drawing: a key that moves the current row without the selection (Ctrl
    // with an arrow) takes the selection along, so that the highlighted row
    // is the class drawn with.
    bool selectionFollowsKeys = true;
    bool pressing = false;
    // The row a press made current; cleared by the click it ends in.
    QListWidgetItem *madeCurrentByPress = nullptr;

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        const QList<QListWidgetItem *> before = selectedItems();
        const QListWidgetItem *currentBefore = currentItem();
        QListWidget::keyPressEvent(event);
        QListWidgetItem *current = currentItem();
        if (selectionFollowsKeys && current && current != currentBefore && !current->isSelected())
            setCurrentItem(current, QItemSelectionModel::ClearAndSelect);
        if (keyChangedSelection && selectedItems() != before)
            keyChangedSelection();
    }
    void mousePressEvent(QMouseEvent *event) override
    {
        madeCurrentByPress = nullptr;
        const QScopedValueRollback<bool> pressed(pressing, true);
        QListWidget::mousePressEvent(event);
    }
};

// An annotation row answers for its index by its place in the list, so rows
// inserted or taken out before it need not renumber it.
class AnnotationRow : public QListWidgetItem {
public:
    AnnotationRow(const QIcon &icon, const QString &text) : QListWidgetItem(icon, text, nullptr, UserType) {}

    QVariant data(int role) const override
    {
        if (role == Qt::UserRole && listWidget())
            return listWidget()->row(this);
        return QListWidgetItem::data(role);
    }
};

} // namespace

AnnotationPanel::AnnotationPanel(QWidget *parent)
    : QWidget(parent)
{
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(9, 8, 9, 8);
    outer->setSpacing(8);

    auto *splitter = new QSplitter(Qt::Vertical, this);
    splitter->setObjectName(QStringLiteral("panelSplitter"));
    splitter->setChildrenCollapsible(false);
    outer->addWidget(splitter, 1);

    // Label classes
    QVBoxLayout *classLayout = nullptr;
    QGroupBox *classBox = groupWithLayout(QStringLiteral("Label Classes"), splitter, &classLayout);
    classLayout->setSpacing(5);
    auto *classes = new ClassList(classBox);
    classes->keyChangedSelection = [this] { onClassesChosen(); };
    classList = classes;
    classList->setFrameShape(QFrame::NoFrame);
    classList->setIconSize(QSize(14, 14));
    classList->setMinimumHeight(90);
    classList->setSelectionMode(QAbstractItemView::ExtendedSelection);
    classLayout->addWidget(classList, 1);
    auto *buttonRow = new QHBoxLayout;
    buttonRow->setSpacing(4);
    addBtn = compactButton(QStringLiteral("+ Add"), classBox);
    renameBtn = compactButton(QStringLiteral("Rename"), classBox);
    colorBtn = compactButton(QStringLiteral("Color"), classBox);
    deleteBtn = compactButton(QStringLiteral("Delete"), classBox);
    for (QPushButton *b : {addBtn, renameBtn, colorBtn, deleteBtn})
        buttonRow->addWidget(b);
    renameBtn->setEnabled(false);
    colorBtn->setEnabled(false);
    deleteBtn->setEnabled(false);
    classLayout->addLayout(buttonRow);
    hint = new QLabel(singleHint, classBox);
    hint->setObjectName(QStringLiteral("mutedLabel"));
    hint->setWordWrap(true);
    hint->setStyleSheet(QStringLiteral("font-size:10px;"));
    classLayout->addWidget(hint);

    // Annotations
    QVBoxLayout *annotationLayout = nullptr;
    QGroupBox *annotationBox = groupWithLayout(QStringLiteral("Annotations"), splitter, &annotationLayout);
    annotationList = new QListWidget(annotationBox);
    annotationList->setFrameShape(QFrame::NoFrame);
    annotationList->setIconSize(QSize(12, 12));
    // Rows of one height: a crowded picture's list is not laid out row by row.
    annotationList->setUniformItemSizes(true);
    annotationList->setMinimumHeight(40);
    annotationList->installEventFilter(this);
    annotationLayout->addWidget(annotationList);

    // Comments: a scratch pad, stored nowhere and kept as typed whatever is shown
    QVBoxLayout *commentLayout = nullptr;
    QGroupBox *commentBox = groupWithLayout(QStringLiteral("Comments"), splitter, &commentLayout);
    auto *notes = new QTextEdit(commentBox);
    notes->setObjectName(QStringLiteral("commentsBox"));
    notes->setPlaceholderText(QStringLiteral("Add notes for this image..."));
    // Tab moves on to the next control, as in every other field of the window.
    notes->setTabChangesFocus(true);
    notes->setAcceptRichText(false);
    notes->setMinimumHeight(48);
    commentLayout->addWidget(notes);

    // Dataset statistics
    QVBoxLayout *statsLayout = nullptr;
    statsBox = groupWithLayout(QStringLiteral("Dataset Statistics"), splitter, &statsLayout);
    statsLayout->setContentsMargins(7, 10, 7, 4);
    statsLayout->setSpacing(3);
    auto *scroll = new QScrollArea(statsBox);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    stats = new QLabel(QStringLiteral("No project open."), scroll);
    stats->setObjectName(QStringLiteral("mutedLabel"));
    stats->setWordWrap(true);
    stats->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    stats->setStyleSheet(QStringLiteral("font-size:11px; line-height:160%;"));
    stats->setTextFormat(Qt::RichText);
    scroll->setWidget(stats);
    statsLayout->addWidget(scroll, 1);

    splitter->addWidget(classBox);
    splitter->addWidget(annotationBox);
    splitter->addWidget(commentBox);
    splitter->addWidget(statsBox);
    const int stretch[] = {0, 1, 0, 2};
    for (int i = 0; i < 4; ++i)
        splitter->setStretchFactor(i, stretch[i]);
    // Sizes such that a window on a 1280 x 720 screen lists six annotations
    // and three classes: what a short window lacks comes off the annotations
    // and the statistics, by their stretch.
    splitter->setSizes({180, 230, 90, 110});

    connect(classList, &QListWidget::itemClicked, this, &AnnotationPanel::onClassClicked);
    // The current row is the class the canvas draws with, however it became
    // current: a click, the arrows, Home/End, type-ahead or a call.
    connect(classList, &QListWidget::currentItemChanged, this, [this, classes](QListWidgetItem *current) {
        if (multiSelect || !current || settingCurrent)
            return;
        if (classes->pressing)
            classes->madeCurrentByPress = current;
        emit labelSelected(current->text());
    });
    connect(classList, &QListWidget::itemDoubleClicked, this, [this] { onRenameClass(); });
    connect(classList, &QListWidget::itemSelectionChanged, this, &AnnotationPanel::onClassSelectionChanged);
    connect(annotationList, &QListWidget::currentRowChanged, this, &AnnotationPanel::annotationSelected);
    connect(addBtn, &QPushButton::clicked, this, &AnnotationPanel::onAddClass);
    connect(renameBtn, &QPushButton::clicked, this, &AnnotationPanel::onRenameClass);
    connect(colorBtn, &QPushButton::clicked, this, &AnnotationPanel::onChangeColor);
    connect(deleteBtn, &QPushButton::clicked, this, &AnnotationPanel::onDeleteClass);
}

QSize AnnotationPanel::minimumSizeHint() const
{
    const QSize content = QWidget::minimumSizeHint();
    return {qMax(minimumPanelWidth, content.width()), content.height()};
}

QColor AnnotationPanel::fallbackClassColor(const QString &className)
{
    const quint64 hash = quint64(qHash(className, 0));
    const int hue = int((hash * 137u) % 360u);
    return QColor::fromHsv(hue, 200, 220, 255);
}

QStringList AnnotationPanel::selectedClassNames() const
{
    QStringList names;
    for (int row = 0; row < classList->count(); ++row) {
        const QListWidgetItem *item = classList->item(row);
        if (item->isSelected())
            names.append(item->text());
    }
    return names;
}

void AnnotationPanel::onClassClicked(QListWidgetItem *item)
{
    if (!item)
        return;
    if (!multiSelect) {
        // A click on the current row announces it again; one that made its row
        // current has already announced it.
        auto *classes = static_cast<ClassList *>(classList);
        const bool announced = classes->madeCurrentByPress == item;
        classes->madeCurrentByPress = nullptr;
        if (!announced)
            emit labelSelected(item->text());
        return;
    }
    onClassesChosen();
}

void AnnotationPanel::onClassesChosen()
{
    if (!multiSelect)
        return;
    const QStringList names = selectedClassNames();
    if (!names.isEmpty())
        emit classesSelected(names);
    // The selection shows the classes of the picture on the canvas: a choice
    // that was not applied (declined, or no picture shown) and an emptied
    // selection go back to them.
    if (shownClassesKnown)
        showSelectedClasses(shownClasses);
}

void AnnotationPanel::onClassSelectionChanged()
{
    const qsizetype selected = classList->selectedItems().size();
    renameBtn->setEnabled(selected == 1);
    colorBtn->setEnabled(selected == 1);
    deleteBtn->setEnabled(selected >= 1);
}

void AnnotationPanel::rebuildClassList()
{
    const QStringList selected = selectedClassNames();
    const QString current = classList->currentItem() ? classList->currentItem()->text() : QString();
    {
        const QSignalBlocker blocker(classList);
        classList->clear();
        QListWidgetItem *currentItem = nullptr;
        for (auto it = colors.cbegin(); it != colors.cend(); ++it) {
            auto *item = new QListWidgetItem(colorSwatch(it.value(), 14), it.key(), classList);
            if (selected.contains(it.key()))
                item->setSelected(true);
            if (!current.isNull() && it.key() == current)
                currentItem = item;
        }
        if (currentItem)
            classList->setCurrentItem(currentItem, QItemSelectionModel::NoUpdate);
    }
    onClassSelectionChanged();
}

void AnnotationPanel::makeCurrent(const QString &className)
{
    // The callers announce the class themselves, after the edit's own signal.
    const auto matches = classList->findItems(className, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (matches.isEmpty())
        return;
    const QScopedValueRollback<bool> quiet(settingCurrent, true);
    classList->setCurrentItem(matches.first());
}

void AnnotationPanel::setClasses(const QMap<QString, QColor> &classColors)
{
    const bool recolour = colors != classColors;
    colors = classColors;
    rebuildClassList();
    if (recolour)
        relistAnnotations();
    if (classList->count() > 0 && !classList->currentItem()) {
        {
            const QScopedValueRollback<bool> quiet(settingCurrent, true);
            classList->setCurrentRow(0);
        }
        emit labelSelected(classList->item(0)->text());
    }
}

void AnnotationPanel::setMultiSelect(bool multi)
{
    if (multi == multiSelect)
        return;
    multiSelect = multi;
    static_cast<ClassList *>(classList)->selectionFollowsKeys = !multi;
    shownClassesKnown = false;
    hint->setText(multi ? multiHint : singleHint);
    // Back to drawing: the current row, which clicks moved meanwhile, is the
    // class the canvas draws with.
    if (!multi && classList->currentItem())
        emit labelSelected(classList->currentItem()->text());
}

void AnnotationPanel::setAnnotations(const ImageEntry &entry)
{
    const QSignalBlocker blocker(annotationList);
    // Most calls follow an edit of the picture already listed (a move, an
    // undo, a deletion) or repeat the last one: only the rows whose kind or
    // class changed are touched, found by trimming the rows that agree at both
    // ends. A crowded picture then costs a comparison per row, not a new item
    // and icon per row.
    const QList<Annotation> &labels = entry.labels;
    const qsizetype oldCount = listedRows.size();
    const qsizetype newCount = labels.size();
    qsizetype head = 0;
    while (head < oldCount && head < newCount && listedRows.at(head).matches(labels.at(head)))
        ++head;
    qsizetype tail = 0;
    while (tail < oldCount - head && tail < newCount - head
           && listedRows.at(oldCount - 1 - tail).matches(labels.at(newCount - 1 - tail)))
        ++tail;

    const qsizetype removed = oldCount - head - tail;
    for (qsizetype i = 0; i < removed; ++i)
        delete annotationList->takeItem(int(head));
    listedRows.remove(head, removed);
    for (qsizetype i = head; i < newCount - tail; ++i) {
        const Annotation &annotation = labels.at(i);
        annotationList->insertItem(int(i), new AnnotationRow(swatchFor(annotation.className),
                                                             QStringLiteral("%1  %2").arg(kindLabel(annotation),
                                                                                          annotation.className)));
        listedRows.insert(i, ListedRow{AnnotationKind(annotation.kind), annotation.className, qsizetype(annotation.points.size())});
    }
    if (multiSelect)
        selectClassesOf(entry);
}

QIcon AnnotationPanel::swatchFor(const QString &className)
{
    const QColor color = colors.contains(className) ? colors.value(className) : fallbackClassColor(className);
    auto cached = swatches.constFind(color.rgba());
    if (cached != swatches.constEnd())
        return cached.value();
    const QIcon icon = colorSwatch(color, 11);
    swatches.insert(color.rgba(), icon);
    return icon;
}

void AnnotationPanel::relistAnnotations()
{
    // Colours changed: every row's swatch may be another.
    const QSignalBlocker blocker(annotationList);
    for (int row = 0; row < annotationList->count() && row < listedRows.size(); ++row)
        annotationList->item(row)->setIcon(swatchFor(listedRows.at(row).className));
}

void AnnotationPanel::selectClassesOf(const ImageEntry &entry)
{
    // A classification picture's classes are its labels: the next Ctrl+click
    // adds to or takes from these, never from the previous picture's.
    QSet<QString> names;
    for (const Annotation &annotation : entry.labels)
        names.insert(annotation.className);
    shownClasses = names;
    shownClassesKnown = true;
    showSelectedClasses(names);
}

void AnnotationPanel::showSelectedClasses(const QSet<QString> &names)
{
    {
        const QSignalBlocker blocker(classList);
        for (int row = 0; row < classList->count(); ++row) {
            QListWidgetItem *item = classList->item(row);
            item->setSelected(names.contains(item->text()));
        }
    }
    onClassSelectionChanged();
}

void AnnotationPanel::selectAnnotation(int index)
{
    const QSignalBlocker blocker(annotationList);
    if (index < 0 || index >= annotationList->count())
        annotationList->setCurrentRow(-1);
    else
        annotationList->setCurrentRow(index);
}

void AnnotationPanel::clear()
{
    {
        const QSignalBlocker blocker(annotationList);
        annotationList->clear();
        listedRows.clear();
    }
    // No picture shown: nothing to label.
    if (multiSelect)
        selectClassesOf(ImageEntry());
    // An open project keeps its figures: the annotation list empties when no
    // picture is shown, which changes nothing the statistics count.
    if (!projectOpen)
        updateStats(0, 0, 0, {}, 0, 0, 0);
}

void AnnotationPanel::setProjectOpen(bool open)
{
    if (open == projectOpen)
        return;
    projectOpen = open;
    showStats();
}

void AnnotationPanel::updateStats(int images, int labelledImages, int annotations,
                                  const QMap<QString, int> &perClass, int videos, int annotatedFrames,
                                  int totalFrames)
{
    shownFigures = {images, labelledImages, annotations, perClass, videos, annotatedFrames, totalFrames};
    showStats();
}

void AnnotationPanel::showStats()
{
    const StatsFigures &f = shownFigures;
    stats->setText(statsHtml(f.images, f.labelledImages, f.annotations, f.perClass, f.videos, f.annotatedFrames,
                             f.totalFrames, colors, projectOpen));
}

QString AnnotationPanel::statsHtml(int images, int labelledImages, int annotations,
                                   const QMap<QString, int> &perClass, int videos, int annotatedFrames,
                                   int totalFrames, const QMap<QString, QColor> &classColors, bool projectOpen)
{
    if (images <= 0 && videos <= 0 && !projectOpen)
        return QStringLiteral("No project open.");

    QString html;
    if (images >= 1 || videos <= 0) {
        // Rounded down, as the canvas overlay shows it: 100% only when every
        // image is labelled; an open project without media shows its zeros.
        const int percent = images >= 1 ? int(qint64(labelledImages) * 100 / images) : 0;
        html += QStringLiteral("<b>%1</b> images &nbsp;·&nbsp; <b>%2%</b> labeled &nbsp;·&nbsp; "
                               "<b>%3</b> annotations<br>")
                    .arg(QString::number(images), QString::number(percent), QString::number(annotations));
    } else {
        html += QStringLiteral("<b>%1</b> annotations<br>").arg(QString::number(annotations));
    }

    if (videos >= 1) {
        html += QStringLiteral("<b>%1</b> video%2 &nbsp;·&nbsp; <b>%3</b> / <b>%4</b> frames annotated<br>")
                    .arg(QString::number(videos), videos >= 2 ? QStringLiteral("s") : QString(),
                         QString::number(annotatedFrames), QString::number(totalFrames));
    }

    if (perClass.isEmpty())
        return html;

    QList<QPair<QString, int>> rows;
    rows.reserve(perClass.size());
    int largest = 0;
    for (auto it = perClass.cbegin(); it != perClass.cend(); ++it) {
        rows.append({it.key(), it.value()});
        largest = qMax(largest, it.value());
    }
    // Largest first; equal counts keep the name order of the map.
    std::stable_sort(rows.begin(), rows.end(), [](const auto &a, const auto &b) { return a.second > b.second; });

    html += QStringLiteral("<table width='100%' cellspacing='0' cellpadding='0' style='margin-top:4px;'>");
    for (const auto &[name, count] : rows) {
        // A class with any annotations keeps a sliver of a bar, however small its share.
        int width = largest > 0 ? int(qint64(count) * 100 / largest) : 0;
        if (count > 0)
            width = qMax(width, 1);
        const QString color = classColors.contains(name) ? classColors.value(name).name()
                                                         : QColor(160, 160, 160).name();
        html += statsRowTemplate.arg(name.toHtmlEscaped(), QString::number(width), color, QString::number(count),
                                     QString::number(100 - width));
    }
    html += QStringLiteral("</table>");
    return html;
}

void AnnotationPanel::onAddClass()
{
    Prompts &prompts = Prompts::current();
    bool ok = false;
    QString name = prompts.getText(this, QStringLiteral("Add Class"), QStringLiteral("Class name:"), QString(), &ok);
    name = name.trimmed();
    if (!ok || name.isEmpty())
        return;
    if (colors.contains(name)) {
        prompts.information(this, QStringLiteral("Add Class"), QStringLiteral("Class \"%1\" already exists.").arg(name));
        return;
    }
    QColor color = prompts.getColor(Qt::white, this, QStringLiteral("Color for \"%1\"").arg(name));
    if (!color.isValid())
        color = classPalette[size_t(colors.size() % 8)];

    colors.insert(name, color);
    rebuildClassList();
    makeCurrent(name);
    emit classAdded(name, color);
    emit labelSelected(name);
}

void AnnotationPanel::onRenameClass()
{
    QListWidgetItem *item = classList->currentItem();
    if (!item)
        return;
    const QString oldName = item->text();
    Prompts &prompts = Prompts::current();
    bool ok = false;
    QString newName =
        prompts.getText(this, QStringLiteral("Rename Class"), QStringLiteral("New name:"), oldName, &ok).trimmed();
    // The class may have gone while the dialog was open (see onChangeColor).
    if (!ok || newName.isEmpty() || newName == oldName || !colors.contains(oldName))
        return;
    if (colors.contains(newName)) {
        prompts.information(this, QStringLiteral("Rename Class"),
                            QStringLiteral("Class \"%1\" already exists.").arg(newName));
        return;
    }
    colors.insert(newName, colors.take(oldName));
    rebuildClassList();
    makeCurrent(newName);
    emit classRenamed(oldName, newName);
    emit labelSelected(newName);
}

void AnnotationPanel::onChangeColor()
{
    QListWidgetItem *item = classList->currentItem();
    if (!item)
        return;
    const QString name = item->text();
    const QColor initial = colors.value(name, QColor(Qt::white));
    const QColor color = Prompts::current().getColor(initial, this, QStringLiteral("Color for \"%1\"").arg(name));
    // The dialog runs its own event loop: a finished import may have rebuilt the
    // class list meanwhile, so the row is looked up again rather than reused.
    if (!color.isValid())
        return;
    const auto rows = classList->findItems(name, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (rows.isEmpty())
        return;
    colors.insert(name, color);
    rows.first()->setIcon(colorSwatch(color, 14));
    emit classColorChanged(name, color);
}

void AnnotationPanel::onDeleteClass()
{
    const QStringList names = selectedClassNames();
    if (names.isEmpty())
        return;
    const QString text =
        names.size() == 1
            ? QStringLiteral("Delete class \"%1\"?\n\nAll annotations with this class will also be removed.")
                  .arg(names.first())
            : QStringLiteral("Delete %1 classes (%2)?\n\nAll annotations with these classes will also be removed.")
                  .arg(QString::number(names.size()), names.join(QStringLiteral(", ")));
    const auto answer = Prompts::current().question(this, QStringLiteral("Delete Class"), text,
                                                    QMessageBox::Yes | QMessageBox::Cancel, QMessageBox::Cancel);
    if (answer != QMessageBox::Yes)
        return;
    for (const QString &name : names) {
        colors.remove(name);
        emit classRemoved(name);
    }
    rebuildClassList();
}

bool AnnotationPanel::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == annotationList && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        QListWidgetItem *current = annotationList->currentItem();
        if ((key == Qt::Key_Delete || key == Qt::Key_Backspace) && current) {
            emit annotationDeleteRequested(annotationList->row(current));
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace Quillmark
