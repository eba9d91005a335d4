#include "panels/ImageListPanel.h"

#include "panels/ExactWidthDelegate.h"
#include "panels/FileListModel.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QItemSelectionModel>
#include <QListView>
#include <QMouseEvent>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QVBoxLayout>

namespace Quillmark {

namespace {

const QColor labeledImageColor(0x4c, 0xaf, 0x50);
const QColor unlabeledImageColor(0x77, 0x77, 0x77);
const QColor labeledVideoColor(0x4d, 0x8d, 0xff);
const QColor unlabeledVideoColor(0x55, 0x55, 0x77);

// Built once on the GUI thread; every row shares these icons.
const FileListModel::Icons &rowIcons()
{
    static const FileListModel::Icons icons{
        QIcon(statusDotPixmap(labeledImageColor)), QIcon(statusDotPixmap(unlabeledImageColor)),
        QIcon(videoIconPixmap(labeledVideoColor)), QIcon(videoIconPixmap(unlabeledVideoColor))};
    return icons;
}

} // namespace

QPixmap statusDotPixmap(const QColor &color)
{
    QPixmap pixmap(12, 12);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(0x11, 0x11, 0x11), 1));
    painter.setBrush(color);
    painter.drawRoundedRect(QRectF(1, 1, 10, 10), 2, 2);
    return pixmap;
}

QPixmap videoIconPixmap(const QColor &color)
{
    QPixmap pixmap(14, 14);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    painter.drawRoundedRect(QRectF(1, 3, 12, 8), 1, 1);
    painter.setBrush(QColor(255, 255, 255, 180));
    for (int x : {2, 5, 8, 11}) {
        painter.drawRect(QRectF(x, 4, 1, 2));
        painter.drawRect(QRectF(x, 8, 1, 2));
    }
    return pixmap;
}

ImageListPanel::ImageListPanel(QWidget *parent)
    : QWidget(parent)
{
    setFixedWidth(270);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(9, 8, 9, 8);
    layout->setSpacing(8);

    title = new QLabel(this);
    title->setStyleSheet(QStringLiteral("font-weight:800;"));
    title->hide();
    layout->addWidget(title);

    auto *header = new QHBoxLayout;
    auto *files = new QLabel(QStringLiteral("Files"), this);
    files->setStyleSheet(QStringLiteral("font-weight:700;"));
    header->addWidget(files);
    header->addStretch();
    count = new QLabel(QStringLiteral("0"), this);
    count->setObjectName(QStringLiteral("mutedLabel"));
    header->addWidget(count);
    header->addSpacing(6);
    addBtn = new QPushButton(QStringLiteral("+"), this);
    addBtn->setToolTip(QStringLiteral("Add images…"));
    addBtn->setFixedSize(20, 20);
    addBtn->setObjectName(QStringLiteral("compactButton"));
    addBtn->setCursor(Qt::PointingHandCursor);
    // The compact padding would leave no room for the "+" in a 20 px button.
    addBtn->setStyleSheet(QStringLiteral("padding: 0px;"));
    header->addWidget(addBtn);
    layout->addLayout(header);

    list = new QListView(this);
    list->setObjectName(QStringLiteral("fileList"));
    rows = new FileListModel(rowIcons(), list);
    list->setModel(rows);
    list->setFrameShape(QFrame::NoFrame);
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    list->setTextElideMode(Qt::ElideRight);
    // One height and one width for all rows, the widest name's: the view then
    // lays out no row it does not show.
    list->setUniformItemSizes(true);
    list->setIconSize(QSize(14, 14));
    list->setItemDelegate(new ExactWidthDelegate(list));
    list->setMinimumHeight(155);
    list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list->setContextMenuPolicy(Qt::CustomContextMenu);
    list->installEventFilter(this);
    list->viewport()->installEventFilter(this);
    layout->addWidget(list, 1);

    statusBox = new QGroupBox(QStringLiteral("Status"), this);
    statusBox->setEnabled(false);
    auto *statusLayout = new QVBoxLayout(statusBox);
    statusLayout->setContentsMargins(7, 8, 7, 7);
    labeledCheck = new QCheckBox(QStringLiteral("Labeled"), statusBox);
    labeledCheck->setChecked(true);
    unlabeledCheck = new QCheckBox(QStringLiteral("Unlabeled"), statusBox);
    unlabeledCheck->setChecked(true);
    statusLayout->addWidget(labeledCheck);
    statusLayout->addWidget(unlabeledCheck);
    layout->addWidget(statusBox);

    connect(addBtn, &QPushButton::clicked, this, &ImageListPanel::addImagesRequested);
    const auto filterToggled = [this] {
        refresh(true);
        emit filterChanged();
    };
    connect(labeledCheck, &QCheckBox::toggled, this, filterToggled);
    connect(unlabeledCheck, &QCheckBox::toggled, this, filterToggled);
    connect(list->selectionModel(), &QItemSelectionModel::currentChanged, this, &ImageListPanel::onCurrentChanged);
    connect(list, &QListView::clicked, this, &ImageListPanel::onClicked);
    connect(list, &QListView::customContextMenuRequested, this, &ImageListPanel::showContextMenu);
}

void ImageListPanel::onCurrentChanged(const QModelIndex &current)
{
    if (current.isValid() && !quiet)
        emit imageSelected(rows->valueAt(current.row()));
}

void ImageListPanel::onClicked(const QModelIndex &index)
{
    // A click on the current row moves nothing, yet the user chose that row:
    // a video made current without a signal (a project reopened) is entered so.
    if (pressedOnCurrent && index.isValid() && index == list->currentIndex())
        emit imageSelected(rows->valueAt(index.row()));
    pressedOnCurrent = false;
}

void ImageListPanel::setDataset(const Dataset &dataset)
{
    const std::optional<int> remembered = currentValue();
    {
        const QScopedValueRollback<bool> silence(quiet, true);
        rows->setEntries(dataset.images, dataset.videos);
    }
    statusBox->setEnabled(rows->hasEntries());
    rebuildRows(remembered, false);
}

bool ImageListPanel::isFilteredOut(bool labeled) const
{
    return labeled ? !labeledCheck->isChecked() : !unlabeledCheck->isChecked();
}

std::optional<int> ImageListPanel::currentValue() const
{
    const QModelIndex current = list->currentIndex();
    if (!current.isValid())
        return std::nullopt;
    return rows->valueAt(current.row());
}

void ImageListPanel::refresh(bool emitCurrent)
{
    rebuildRows(currentValue(), emitCurrent);
}

void ImageListPanel::rebuildRows(std::optional<int> remembered, bool emitCurrent)
{
    {
        const QScopedValueRollback<bool> silence(quiet, true);
        rows->rebuild(labeledCheck->isChecked(), unlabeledCheck->isChecked());
        const int row = remembered ? rows->rowOfValue(*remembered) : -1;
        if (row >= 0)
            list->setCurrentIndex(rows->index(row));
        else if (rows->rowCount() > 0)
            list->setCurrentIndex(rows->index(0));
    }
    count->setText(QString::number(rows->rowCount()));
    if (emitCurrent) {
        if (const std::optional<int> current = currentValue())
            emit imageSelected(*current);
    }
}

void ImageListPanel::applyFilterTo(int row)
{
    if (row >= 0)
        list->setRowHidden(row, isFilteredOut(rows->isLabeled(row)));
}

void ImageListPanel::setImageLabeled(int imageId, bool labeled)
{
    applyFilterTo(rows->setImageLabeled(imageId, labeled));
}

void ImageListPanel::setVideoLabeled(int videoId, bool labeled)
{
    applyFilterTo(rows->setVideoLabeled(videoId, labeled));
}

void ImageListPanel::markMissing(const QList<int> &imageIds, const QList<int> &videoIds)
{
    rows->markMissing(imageIds, false);
    rows->markMissing(videoIds, true);
}

void ImageListPanel::selectRowWithValue(int value)
{
    const int row = rows->rowOfValue(value);
    if (row < 0)
        return;
    const QScopedValueRollback<bool> silence(quiet, true);
    list->setCurrentIndex(rows->index(row));
}

void ImageListPanel::selectImage(int imageId)
{
    if (imageId >= 0)
        selectRowWithValue(imageId);
}

void ImageListPanel::selectVideo(int videoId)
{
    if (videoId >= 0)
        selectRowWithValue(~videoId);
}

void ImageListPanel::followShown(std::optional<int> value)
{
    const int row = value ? rows->rowOfValue(*value) : -1;
    const QScopedValueRollback<bool> silence(quiet, true);
    if (row >= 0) {
        list->setCurrentIndex(rows->index(row));
        return;
    }
    list->selectionModel()->clear();
}

bool ImageListPanel::showsValue(int value) const
{
    const int row = rows->rowOfValue(value);
    return row >= 0 && !list->isRowHidden(row);
}

bool ImageListPanel::isFiltered() const
{
    return !labeledCheck->isChecked() || !unlabeledCheck->isChecked();
}

QList<int> ImageListPanel::selectedValues() const
{
    QList<int> values;
    const QItemSelection selection = list->selectionModel()->selection();
    for (const QItemSelectionRange &range : selection) {
        for (int row = range.top(); row <= range.bottom(); ++row) {
            if (!list->isRowHidden(row))
                values.append(rows->valueAt(row));
        }
    }
    return values;
}

QList<int> ImageListPanel::selectedImageIds() const
{
    QList<int> ids;
    for (int value : selectedValues()) {
        if (value >= 0)
            ids.append(value);
    }
    return ids;
}

void ImageListPanel::setStatusText(const QString &text)
{
    title->setText(text);
    title->setVisible(!text.isEmpty());
}

bool ImageListPanel::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == list->viewport() && event->type() == QEvent::MouseButtonPress) {
        const QPoint pos = static_cast<QMouseEvent *>(event)->position().toPoint();
        pressedOnCurrent = list->currentIndex().isValid() && list->indexAt(pos) == list->currentIndex();
        return QWidget::eventFilter(watched, event);
    }
    if (watched != list || event->type() != QEvent::KeyPress)
        return QWidget::eventFilter(watched, event);
    const int key = static_cast<QKeyEvent *>(event)->key();
    if (key != Qt::Key_Delete && key != Qt::Key_Backspace)
        return QWidget::eventFilter(watched, event);

    QList<int> imageIds;
    QList<int> videoIds;
    for (int value : selectedValues()) {
        if (value >= 0)
            imageIds.append(value);
        else
            videoIds.append(~value);
    }
    if (!imageIds.isEmpty())
        emit deleteImagesRequested(imageIds);
    if (!videoIds.isEmpty())
        emit deleteVideosRequested(videoIds);
    return true;
}

QMenu *ImageListPanel::createContextMenu(const QPoint &pos)
{
    const QModelIndex clicked = list->indexAt(pos);
    if (!clicked.isValid())
        return nullptr;
    const int clickedValue = rows->valueAt(clicked.row());
    const bool clickedVideo = clickedValue < 0;
    QList<int> ids;
    if (!list->selectionModel()->isSelected(clicked)) {
        ids.append(clickedVideo ? ~clickedValue : clickedValue);
    } else {
        for (int value : selectedValues()) {
            if ((value < 0) == clickedVideo)
                ids.append(clickedVideo ? ~value : value);
        }
    }

    auto *menu = new QMenu(list);
    QString text;
    if (clickedVideo) {
        text = ids.size() == 1 ? QStringLiteral("Remove Video from Project")
                               : QStringLiteral("Remove %1 Videos from Project").arg(ids.size());
    } else {
        text = ids.size() == 1 ? QStringLiteral("Remove Image from Project")
                               : QStringLiteral("Remove %1 Images from Project").arg(ids.size());
    }
    QAction *action = menu->addAction(text);
    connect(action, &QAction::triggered, this, [this, ids, clickedVideo] {
        if (clickedVideo)
            emit deleteVideosRequested(ids);
        else
            emit deleteImagesRequested(ids);
    });
    return menu;
}

void ImageListPanel::showContextMenu(const QPoint &pos)
{
    QMenu *menu = createContextMenu(pos);
    if (!menu)
        return;
    menu->exec(list->viewport()->mapToGlobal(pos));
    menu->deleteLater();
}

} // namespace Quillmark
