#include "panels/FileListModel.h"

#include <QColor>
#include <QFont>

#include <algorithm>

namespace Quillmark {

namespace {

// How many of the longest names the width is measured over: names of equal
// length differ in width by their letters, so a few candidates, not one.
constexpr int longestNameCandidates = 32;

QString videoToolTip(const VideoEntry &video)
{
    return QStringLiteral("%1\n%2 frames  •  %3 fps  •  %4×%5")
        .arg(video.filePath, QString::number(video.frameCount), QString::number(double(video.fps), 'f', 2),
             QString::number(video.width), QString::number(video.height));
}

// The file name of a path (no folder), without touching the disk.
QString fileNameOf(const QString &path)
{
    const qsizetype slash = std::max(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QLatin1Char('\\')));
    return slash < 0 ? path : path.mid(slash + 1);
}

// One pass back from the end, for both separators at once.
qsizetype fileNameLength(const QString &path)
{
    const QChar *begin = path.constData();
    const QChar *c = begin + path.size();
    while (c > begin && *(c - 1) != u'/' && *(c - 1) != u'\\')
        --c;
    return begin + path.size() - c;
}

} // namespace

FileListModel::FileListModel(const Icons &icons, QObject *parent)
    : QAbstractListModel(parent)
    , icons(icons)
{
}

void FileListModel::setEntries(const QList<ImageEntry> &newImages, const QList<VideoEntry> &newVideos)
{
    // The rows point into the entries: none may outlive them.
    beginResetModel();
    longestNamesCache.reset();
    rows.clear();
    rowByValue.clear();
    images.clear();
    images.reserve(size_t(newImages.size()));
    for (const ImageEntry &image : newImages)
        images.push_back(ImageRecord{image.id, image.filePath});
    videos = newVideos;
    imageLabeled.assign(size_t(images.size()), 0);
    videoLabeled.assign(size_t(videos.size()), 0);
    imageMissing.assign(size_t(images.size()), 0);
    videoMissing.assign(size_t(videos.size()), 0);
    imageById.clear();
    videoById.clear();
    imageById.reserve(qsizetype(images.size()));
    for (int i = 0; i < int(images.size()); ++i) {
        imageLabeled[size_t(i)] = !newImages.at(i).labels.isEmpty();
        if (!imageById.contains(images[size_t(i)].id))
            imageById.insert(images[size_t(i)].id, i);
    }
    for (int i = 0; i < videos.size(); ++i) {
        videoLabeled[size_t(i)] = !videos.at(i).frameLabels.isEmpty();
        if (!videoById.contains(videos.at(i).id))
            videoById.insert(videos.at(i).id, i);
    }
    endResetModel();
}

void FileListModel::rebuild(bool showLabeled, bool showUnlabeled)
{
    beginResetModel();
    longestNamesCache.reset();
    rows.clear();
    rowByValue.clear();
    rows.reserve(images.size() + size_t(videos.size()));
    rowByValue.reserve(qsizetype(images.size()) + videos.size());
    auto append = [&](const Row &row) {
        if (entryLabeled(row) ? !showLabeled : !showUnlabeled)
            return;
        const int value = valueOf(row);
        if (!rowByValue.contains(value))
            rowByValue.insert(value, int(rows.size()));
        rows.push_back(row);
    };
    for (int i = 0; i < int(images.size()); ++i)
        append(Row{i, false});
    for (int i = 0; i < videos.size(); ++i)
        append(Row{i, true});
    endResetModel();
}

int FileListModel::setImageLabeled(int imageId, bool labeled)
{
    const int entry = imageById.value(imageId, -1);
    if (imageId < 0 || entry < 0)
        return -1;
    imageLabeled[size_t(entry)] = labeled;
    const int row = rowOfValue(imageId);
    if (row >= 0)
        emit dataChanged(index(row), index(row), {Qt::DecorationRole});
    return row;
}

int FileListModel::setVideoLabeled(int videoId, bool labeled)
{
    const int entry = videoById.value(videoId, -1);
    if (videoId < 0 || entry < 0)
        return -1;
    videoLabeled[size_t(entry)] = labeled;
    const int row = rowOfValue(~videoId);
    if (row >= 0)
        emit dataChanged(index(row), index(row), {Qt::DecorationRole});
    return row;
}

void FileListModel::markMissing(const QList<int> &ids, bool video)
{
    // One change for the stretch of rows a batch of answers touches: a moved
    // project may have every one of its 100,000 files missing.
    int first = -1;
    int last = -1;
    for (int id : ids) {
        const int entry = (video ? videoById : imageById).value(id, -1);
        if (entry < 0)
            continue;
        (video ? videoMissing : imageMissing)[size_t(entry)] = 1;
        const int row = rowOfValue(video ? ~id : id);
        if (row < 0)
            continue;
        first = first < 0 ? row : std::min(first, row);
        last = std::max(last, row);
    }
    if (first >= 0)
        emit dataChanged(index(first), index(last), {Qt::FontRole, Qt::ForegroundRole});
}

int FileListModel::valueAt(int row) const
{
    return row >= 0 && size_t(row) < rows.size() ? valueOf(rows[size_t(row)]) : 0;
}

bool FileListModel::isLabeled(int row) const
{
    return row >= 0 && size_t(row) < rows.size() && entryLabeled(rows[size_t(row)]);
}

int FileListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(rows.size());
}

QVariant FileListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || size_t(index.row()) >= rows.size())
        return {};
    const Row &row = rows[size_t(index.row())];
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        return fileNameOf(pathOf(row));
    case Qt::ToolTipRole:
        return row.video ? videoToolTip(videos.at(row.entry)) : pathOf(row);
    case Qt::DecorationRole:
        if (row.video)
            return entryLabeled(row) ? icons.videoLabeled : icons.videoUnlabeled;
        return entryLabeled(row) ? icons.imageLabeled : icons.imageUnlabeled;
    case Qt::UserRole:
        return valueOf(row);
    case Qt::FontRole:
        if (entryMissing(row)) {
            QFont font;
            font.setItalic(true);
            return font;
        }
        return {};
    case Qt::ForegroundRole:
        if (entryMissing(row))
            return QColor(0x99, 0x99, 0x99);
        return {};
    case LongestNamesRole:
        // Asked for by every size query; the rows change only on a rebuild.
        if (!longestNamesCache)
            longestNamesCache = longestNames();
        return *longestNamesCache;
    default:
        return {};
    }
}

bool FileListModel::entryLabeled(const Row &row) const
{
    return (row.video ? videoLabeled : imageLabeled)[size_t(row.entry)] != 0;
}

bool FileListModel::entryMissing(const Row &row) const
{
    return (row.video ? videoMissing : imageMissing)[size_t(row.entry)] != 0;
}

const QString &FileListModel::pathOf(const Row &row) const
{
    return row.video ? videos.at(row.entry).filePath : images[size_t(row.entry)].path;
}

int FileListModel::valueOf(const Row &row) const
{
    return row.video ? ~videos.at(row.entry).id : images[size_t(row.entry)].id;
}

QStringList FileListModel::longestNames() const
{
    // Lengths only: no text is shaped here, and the names are cut out of the
    // paths for the few that win.
    std::vector<std::pair<qsizetype, size_t>> lengths;
    lengths.reserve(rows.size());
    for (size_t i = 0; i < rows.size(); ++i)
        lengths.emplace_back(fileNameLength(pathOf(rows[i])), i);
    const size_t keep = std::min(lengths.size(), size_t(longestNameCandidates));
    std::partial_sort(lengths.begin(), lengths.begin() + qsizetype(keep), lengths.end(),
                      [](const auto &a, const auto &b) { return a.first > b.first; });
    QStringList names;
    names.reserve(qsizetype(keep));
    for (size_t i = 0; i < keep; ++i)
        names.append(fileNameOf(pathOf(rows[lengths[i].second])));
    return names;
}

} // namespace Quillmark
