#include "panels/FilmStrip.h"

#include "chrome/IconHelpers.h"
#include "panels/ThumbnailReader.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QWheelEvent>

#include <algorithm>
#include <cstdlib>
#include <numeric>

namespace Quillmark {

namespace {

constexpr int labelWidth = 82;
constexpr int labelHeight = 70;
constexpr int stripHeight = 86;

QPushButton *chevron(QWidget *parent)
{
    auto *button = new QPushButton(parent);
    button->setObjectName(QStringLiteral("filmNavBtn"));
    button->setFixedSize(24, stripHeight);
    button->setIconSize(QSize(14, 14));
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

} // namespace

FilmStrip::FilmStrip(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("filmStrip"));
    setAttribute(Qt::WA_StyledBackground, true);
    setFixedHeight(stripHeight);
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    leftButton = chevron(this);
    rightButton = chevron(this);
    scroll = new QScrollArea(this);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setWidgetResizable(false);
    container = new QWidget;
    container->setFixedHeight(84);
    containerLayout = new QHBoxLayout(container);
    containerLayout->setContentsMargins(8, 7, 8, 7);
    containerLayout->setSpacing(6);
    scroll->setWidget(container);

    layout->addWidget(leftButton);
    layout->addWidget(scroll, 1);
    layout->addWidget(rightButton);
    setDark(false);

    reader = new ThumbnailReader(QSize(thumbWidth, thumbHeight), this);
    connect(reader, &ThumbnailReader::thumbnailRead, this, &FilmStrip::thumbnailArrived);

    QScrollBar *bar = scroll->horizontalScrollBar();
    connect(leftButton, &QPushButton::clicked, this,
            [this, bar] { bar->setValue(bar->value() - scroll->viewport()->width()); });
    connect(rightButton, &QPushButton::clicked, this,
            [this, bar] { bar->setValue(bar->value() + scroll->viewport()->width()); });
    connect(bar, &QScrollBar::valueChanged, this, &FilmStrip::updateChevrons);
    connect(bar, &QScrollBar::rangeChanged, this, &FilmStrip::updateChevrons);
    updateChevrons();
}

FilmStrip::~FilmStrip() = default;

int FilmStrip::thumbnailsLoading() const
{
    return reader->outstanding();
}

void FilmStrip::setDark(bool value)
{
    dark = value;
    leftButton->setIcon(themedIcon(QStringLiteral(":/icons/chevron-left.svg"), 14, dark));
    rightButton->setIcon(themedIcon(QStringLiteral(":/icons/chevron-right.svg"), 14, dark));
}

int FilmStrip::indexOfImage(int imageId) const
{
    return indexMap.value(imageId, -1);
}

QList<int> FilmStrip::shownIds() const
{
    QList<int> ids;
    ids.reserve(shown.size());
    for (const Shown &s : shown)
        ids.append(s.imageId);
    return ids;
}

QLabel *FilmStrip::thumbnailLabel(int imageId) const
{
    for (const Shown &s : shown) {
        if (s.imageId == imageId)
            return s.label;
    }
    return nullptr;
}

void FilmStrip::setDataset(const QList<ImageEntry> &images)
{
    // Thumbnails of in-memory pictures survive a reset when the picture is the
    // same, so each is scaled only once.
    const QList<Entry> previous = entries;
    const QHash<int, int> previousIndex = indexMap;

    entries.clear();
    indexMap.clear();
    start = 0;
    entries.reserve(images.size());
    indexMap.reserve(images.size());
    for (const ImageEntry &image : images) {
        Entry entry{image.id, image.filePath, nullptr};
        if (image.hasInMemoryImage()) {
            auto memory = std::make_shared<InMemory>();
            memory->image = image.image;
            if (memory->image.isNull()) {
                memory->encoded = image.imageData;
                memory->stored = image.storedBytes;
            }
            const int old = previousIndex.value(image.id, -1);
            if (old >= 0 && previous.at(old).memory) {
                const InMemory &before = *previous.at(old).memory;
                const bool sameImage =
                    !memory->image.isNull() && before.image.cacheKey() == memory->image.cacheKey();
                const bool sameBytes = !memory->encoded.isEmpty()
                    && before.encoded.constData() == memory->encoded.constData()
                    && before.encoded.size() == memory->encoded.size();
                const bool sameStored = memory->stored && before.stored == memory->stored;
                if (sameImage || sameBytes || sameStored)
                    memory->thumbnail = before.thumbnail;
            }
            entry.memory = std::move(memory);
        }
        indexMap.insert(image.id, int(entries.size()));
        entries.append(std::move(entry));
    }
    rebuildWindow(qMax(0, indexOfImage(current)));
}

void FilmStrip::rebuildWindow(int index)
{
    // Thumbnails of the old window that are not read yet never will be.
    reader->clear();

    // A click on a thumbnail can lead here from inside this strip's own event
    // filter, so the old labels are hidden now and deleted later.
    while (QLayoutItem *item = containerLayout->takeAt(0)) {
        if (QWidget *widget = item->widget()) {
            widget->hide();
            widget->removeEventFilter(this);
            widget->deleteLater();
        }
        delete item;
    }
    shown.clear();

    const int n = int(entries.size());
    if (n == 0) {
        container->resize(scroll->viewport()->width(), container->height());
        updateChevrons();
        return;
    }

    start = std::clamp(index - windowSize / 2, 0, qMax(0, n - windowSize));
    const int end = qMin(n, start + windowSize);

    container->setUpdatesEnabled(false);
    for (int i = start; i < end; ++i) {
        const Entry &entry = entries.at(i);
        auto *label = new QLabel(container);
        label->setObjectName(QStringLiteral("filmThumb"));
        label->setFixedSize(labelWidth, labelHeight);
        label->setAlignment(Qt::AlignCenter);
        label->setCursor(Qt::PointingHandCursor);
        label->setAttribute(Qt::WA_Hover);
        label->setToolTip(QFileInfo(entry.path).fileName());
        label->setProperty("active", entry.imageId == current);
        label->installEventFilter(this);
        containerLayout->addWidget(label);
        // Shown at once (not on the layout's queued show), so the layout places
        // it before the current thumbnail is scrolled into view below.
        label->show();
        shown.append({entry.imageId, entry.path, label, i});
    }
    containerLayout->addStretch(1);
    container->setUpdatesEnabled(true);

    const QMargins margins = containerLayout->contentsMargins();
    const int count = int(shown.size());
    const int spacing = count >= 2 ? containerLayout->spacing() * (count - 1) : 0;
    const int width = margins.left() + margins.right() + labelWidth * count + spacing;
    container->resize(qMax(width, scroll->viewport()->width()), container->height());

    if (QLabel *label = thumbnailLabel(current))
        scrollToLabel(label);
    updateChevrons();
    requestThumbnails();
}

void FilmStrip::requestThumbnails()
{
    // The current thumbnail and its neighbours first: they are the ones in view.
    const int count = int(shown.size());
    const int centre = std::max(0, int(shownIds().indexOf(current)));
    QList<int> order(count);
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [centre](int a, int b) { return std::abs(a - centre) < std::abs(b - centre); });

    for (int i : std::as_const(order)) {
        const Shown &s = shown.at(i);
        const Entry &entry = entries.at(s.entryIndex);
        const InMemory *memory = entry.memory.get();
        if (memory && !memory->thumbnail.isNull()) {
            s.label->setPixmap(memory->thumbnail);
            continue;
        }
        // The job gets its own references to the pixels: the entry's cached
        // thumbnail is written here, on this thread, when the result comes.
        ThumbnailReader::Source source;
        source.path = entry.path;
        if (memory) {
            source.image = memory->image;
            source.encoded = memory->encoded;
            source.stored = memory->stored;
        }
        reader->request(i, source);
    }
}

void FilmStrip::thumbnailArrived(int shownIndex, const QImage &thumbnail)
{
    if (shownIndex < 0 || shownIndex >= shown.size())
        return;
    const Shown &s = shown.at(shownIndex);
    if (thumbnail.isNull())
        return;
    const QPixmap pixmap = QPixmap::fromImage(thumbnail);
    s.label->setPixmap(pixmap);
    // Pictures read from files are not kept: the next window reads them again.
    if (InMemory *memory = entries[s.entryIndex].memory.get())
        memory->thumbnail = pixmap;
}

void FilmStrip::repolish(QLabel *label, bool active)
{
    label->setProperty("active", active);
    label->style()->unpolish(label);
    label->style()->polish(label);
    label->update();
}

void FilmStrip::scrollToLabel(QLabel *label)
{
    // The label's geometry is only known once the layout has run.
    containerLayout->activate();
    scroll->ensureWidgetVisible(label, 6, 0);
}

void FilmStrip::setCurrent(int imageId)
{
    if (imageId == current)
        return;
    const int oldId = current;
    current = imageId;

    const int position = indexOfImage(imageId);
    if (position < 0) {
        // Nothing of the strip is shown (a video is): no thumbnail stays highlighted.
        if (QLabel *label = thumbnailLabel(oldId))
            repolish(label, false);
        return;
    }
    if (position < start || position >= start + shown.size()) {
        rebuildWindow(position);
        return;
    }
    for (const Shown &s : std::as_const(shown)) {
        if (s.imageId == imageId || s.imageId == oldId)
            repolish(s.label, s.imageId == imageId);
    }
    if (QLabel *label = thumbnailLabel(imageId))
        scrollToLabel(label);
}

void FilmStrip::updateChevrons()
{
    const QScrollBar *bar = scroll->horizontalScrollBar();
    leftButton->setEnabled(bar->value() > bar->minimum());
    rightButton->setEnabled(bar->value() < bar->maximum());
}

bool FilmStrip::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::MouseButtonPress
        && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
        const auto it = std::find_if(shown.cbegin(), shown.cend(),
                                     [watched](const Shown &s) { return s.label == watched; });
        if (it != shown.cend()) {
            // The receiver may rebuild the window (and so `shown`) at once.
            const int imageId = it->imageId;
            emit imageSelected(imageId);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void FilmStrip::wheelEvent(QWheelEvent *event)
{
    QScrollBar *bar = scroll->horizontalScrollBar();
    bar->setValue(bar->value() - event->angleDelta().y());
    event->accept();
}

} // namespace Quillmark
