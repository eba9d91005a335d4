#include "panels/ImageListPanel.h"

#include "panels/ExactWidthDelegate.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

#include <optional>

namespace Quillmark {

namespace {

const QColor labeledImageColor(0x4c, 0xaf, 0x50);
const QColor unlabeledImageColor(0x77, 0x77, 0x77);
const QColor labeledVideoColor(0x4d, 0x8d, 0xff);
const QColor unlabeledVideoColor(0x55, 0x55, 0x77);

QString videoToolTip(const VideoEntry &video)
{
    return QStringLiteral("%1\n%2 frames  •  %3 fps  •  %4×%5")
        .arg(video.filePath, QString::number(video.frameCount), QString::number(double(video.fps), 'f', 2),
             QString::number(video.width), QString::number(video.height));
}

struct RowIcons {
    QIcon imageLabeled{statusDotPixmap(labeledImageColor)};
    QIcon imageUnlabeled{statusDotPixmap(unlabeledImageColor)};
    QIcon videoLabeled{videoIconPixmap(labeledVideoColor)};
    QIcon videoUnlabeled{videoIconPixmap(unlabeledVideoColor)};
};

// Built once on the GUI thread; every row shares these icons.
const RowIcons &rowIcons()
{
    static const RowIcons icons;
    return icons;
}

// A row that answers for its text, tool tip and value from the entry it
// stands for instead of holding them as item data, so that each of a large
// project's rows costs little more than the item itself.
class EntryRow : public QListWidgetItem {
public:
    EntryRow(int value, const QString &path, const QString &toolTip, const QIcon &icon)
        : QListWidgetItem(icon, QString(), nullptr, QListWidgetItem::UserType), value(value), path(path),
          toolTip(toolTip)
    {
    }

    QVariant data(int role) const override
    {
        switch (role) {
        case Qt::DisplayRole:
        case Qt::EditRole:
            return QFileInfo(path).fileName();
        case Qt::ToolTipRole:
            return toolTip;
        case Qt::UserRole:
            return value;
        default:
            return QListWidgetItem::data(role);
        }
    }

private:
    int value;
    QString path;
    QString toolTip;
};

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

    list = new QListWidget(this);
    list->setFrameShape(QFrame::NoFrame);
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    list->setTextElideMode(Qt::ElideRight);
    list->setUniformItemSizes(false);
    list->setIconSize(QSize(14, 14));
    list->setItemDelegate(new ExactWidthDelegate(list));
    list->setMinimumHeight(155);
    list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list->setContextMenuPolicy(Qt::CustomContextMenu);
    // Large projects: lay rows out in batches so the window stays responsive.
    list->setLayoutMode(QListView::Batched);
    list->setBatchSize(1000);
    list->installEventFilter(this);
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
    connect(labeledCheck, &QCheckBox::toggled, this, [this] { refresh(true); });
    connect(unlabeledCheck, &QCheckBox::toggled, this, [this] { refresh(true); });
    connect(list, &QListWidget::currentItemChanged, this, [this](QListWidgetItem *current) {
        if (current)
            emit imageSelected(current->data(Qt::UserRole).toInt());
    });
    connect(list, &QListWidget::customContextMenuRequested, this, &ImageListPanel::showContextMenu);
}

void ImageListPanel::setDataset(const Dataset &dataset)
{
    images = dataset.images;
    videos = dataset.videos;
    imageLabeled.clear();
    videoLabeled.clear();
    // Ids mostly ascend: inserting at the end is then a step, not a search.
    for (const ImageEntry &image : images)
        imageLabeled.insert(imageLabeled.cend(), image.id, !image.labels.isEmpty());
    for (const VideoEntry &video : videos)
        videoLabeled.insert(videoLabeled.cend(), video.id, !video.frameLabels.isEmpty());
    statusBox->setEnabled(!images.isEmpty() || !videos.isEmpty());
    refresh(false);
}

bool ImageListPanel::isFilteredOut(bool labeled) const
{
    return labeled ? !labeledCheck->isChecked() : !unlabeledCheck->isChecked();
}

void ImageListPanel::refresh(bool emitCurrent)
{
    const bool showLabeled = labeledCheck->isChecked();
    const bool showUnlabeled = unlabeledCheck->isChecked();
    std::optional<int> remembered;
    if (QListWidgetItem *current = list->currentItem())
        remembered = current->data(Qt::UserRole).toInt();

    const RowIcons &icons = rowIcons();
    int rows = 0;
    {
        const QSignalBlocker blocker(list);
        list->setUpdatesEnabled(false);
        list->clear();
        rowByValue.clear();
        QListWidgetItem *currentItem = nullptr;
        auto append = [&](int value, const QString &path, const QString &toolTip, const QIcon &icon) {
            auto *item = new EntryRow(value, path, toolTip, icon);
            list->addItem(item);
            // Two entries may share an id: the first row stands for it, as the
            // dataset's lookup finds the first entry.
            if (!rowByValue.contains(value))
                rowByValue.insert(value, item);
            ++rows;
            if (remembered && *remembered == value && !currentItem)
                currentItem = item;
        };
        for (const ImageEntry &image : std::as_const(images)) {
            const bool labeled = imageLabeled.value(image.id, false);
            if (labeled ? !showLabeled : !showUnlabeled)
                continue;
            append(image.id, image.filePath, image.filePath, labeled ? icons.imageLabeled : icons.imageUnlabeled);
        }
        for (const VideoEntry &video : std::as_const(videos)) {
            const bool labeled = videoLabeled.value(video.id, false);
            if (labeled ? !showLabeled : !showUnlabeled)
                continue;
            append(~video.id, video.filePath, videoToolTip(video), labeled ? icons.videoLabeled : icons.videoUnlabeled);
        }
        if (currentItem)
            list->setCurrentItem(currentItem);
        else if (list->count() > 0)
            list->setCurrentRow(0);
        list->setUpdatesEnabled(true);
    }
    count->setText(QString::number(rows));
    if (emitCurrent) {
        if (QListWidgetItem *current = list->currentItem())
            emit imageSelected(current->data(Qt::UserRole).toInt());
    }
}

void ImageListPanel::setImageLabeled(int imageId, bool labeled)
{
    imageLabeled.insert(imageId, labeled);
    if (imageId < 0)
        return;
    QListWidgetItem *item = rowByValue.value(imageId);
    if (!item)
        return;
    item->setIcon(labeled ? rowIcons().imageLabeled : rowIcons().imageUnlabeled);
    item->setHidden(isFilteredOut(labeled));
}

void ImageListPanel::setVideoLabeled(int videoId, bool labeled)
{
    videoLabeled.insert(videoId, labeled);
    if (videoId < 0)
        return;
    QListWidgetItem *item = rowByValue.value(~videoId);
    if (!item)
        return;
    item->setIcon(labeled ? rowIcons().videoLabeled : rowIcons().videoUnlabeled);
    item->setHidden(isFilteredOut(labeled));
}

void ImageListPanel::selectRowWithValue(int value)
{
    QListWidgetItem *item = rowByValue.value(value);
    if (!item)
        return;
    const QSignalBlocker blocker(list);
    list->setCurrentItem(item);
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

QList<int> ImageListPanel::selectedImageIds() const
{
    QList<int> ids;
    for (const QListWidgetItem *item : list->selectedItems()) {
        const int value = item->data(Qt::UserRole).toInt();
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
    if (watched != list || event->type() != QEvent::KeyPress)
        return QWidget::eventFilter(watched, event);
    const int key = static_cast<QKeyEvent *>(event)->key();
    if (key != Qt::Key_Delete && key != Qt::Key_Backspace)
        return QWidget::eventFilter(watched, event);

    QList<int> imageIds;
    QList<int> videoIds;
    for (const QListWidgetItem *item : list->selectedItems()) {
        const int value = item->data(Qt::UserRole).toInt();
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
    QListWidgetItem *clicked = list->itemAt(pos);
    if (!clicked)
        return nullptr;
    const bool clickedVideo = clicked->data(Qt::UserRole).toInt() < 0;
    QList<int> ids;
    if (!clicked->isSelected()) {
        const int value = clicked->data(Qt::UserRole).toInt();
        ids.append(clickedVideo ? ~value : value);
    } else {
        for (const QListWidgetItem *item : list->selectedItems()) {
            const int value = item->data(Qt::UserRole).toInt();
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
