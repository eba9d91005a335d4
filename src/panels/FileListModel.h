#pragma once

#include "model/Dataset.h"

#include <QAbstractListModel>
#include <QHash>
#include <QIcon>
#include <QList>
#include <QStringList>

#include <optional>
#include <vector>

namespace Quillmark {

// The rows of the "Files" list as a model over the ids and paths of the
// project's images and copies of its videos: a row is an index into those lists, and its text, tool tip and
// icon are made when the view asks for them, so a project of any size costs one
// small record per row. Each row answers Qt::UserRole with its value: the image
// id, or ~videoId for a video.
class FileListModel : public QAbstractListModel {
    Q_OBJECT
public:
    // The few longest file names of the shown rows (QStringList), for a
    // delegate that gives every row the width of the widest one.
    static constexpr int LongestNamesRole = Qt::UserRole + 1;

    struct Icons {
        QIcon imageLabeled;
        QIcon imageUnlabeled;
        QIcon videoLabeled;
        QIcon videoUnlabeled;
    };

    explicit FileListModel(const Icons &icons, QObject *parent = nullptr);

    // Takes the entries' ids, paths and labelled state (and copies of the
    // videos); no rows until the next rebuild. No copy of the image list is
    // kept: sharing it would make the dataset's next edit copy every entry.
    void setEntries(const QList<ImageEntry> &images, const QList<VideoEntry> &videos);
    // Rebuilds the rows from the entries, keeping those whose labelled state
    // the filters show.
    void rebuild(bool showLabeled, bool showUnlabeled);

    // The labelled state of one entry; refreshes its icon. Returns the row of
    // that entry, or -1 when it has none.
    int setImageLabeled(int imageId, bool labeled);
    int setVideoLabeled(int videoId, bool labeled);

    // Entries (image ids, or video ids when video is set) whose files are not
    // there: their rows are drawn in italics, greyed.
    void markMissing(const QList<int> &ids, bool video);

    int rowOfValue(int value) const { return rowByValue.value(value, -1); }
    int valueAt(int row) const;
    bool isLabeled(int row) const;
    bool hasEntries() const { return !images.empty() || !videos.isEmpty(); }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;

private:
    struct Row {
        int entry;   // index into images, or into videos when video is set
        bool video;
    };

    bool entryLabeled(const Row &row) const;
    bool entryMissing(const Row &row) const;
    const QString &pathOf(const Row &row) const;
    int valueOf(const Row &row) const;
    QStringList longestNames() const;

    struct ImageRecord {
        int id;
        QString path;
    };

    Icons icons;
    std::vector<ImageRecord> images;
    QList<VideoEntry> videos;
    // Labelled state per entry, and the first entry of each id: an id shared
    // by two entries (a hand-edited file) stands for the first, as in the
    // dataset's own lookup.
    std::vector<char> imageLabeled;
    std::vector<char> videoLabeled;
    std::vector<char> imageMissing;
    std::vector<char> videoMissing;
    QHash<int, int> imageById;
    QHash<int, int> videoById;
    std::vector<Row> rows;
    mutable std::optional<QStringList> longestNamesCache;
    // Row value -> row; two entries may share an id, and the first row stands
    // for it as the dataset's lookup finds the first entry.
    QHash<int, int> rowByValue;
};

} // namespace Quillmark
