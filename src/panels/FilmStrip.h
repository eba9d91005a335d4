#pragma once

#include "model/ImageEntry.h"

#include <QByteArray>
#include <QHash>
#include <QImage>
#include <QList>
#include <QPixmap>
#include <QString>
#include <QWidget>

class QHBoxLayout;
class QLabel;
class QPushButton;
class QScrollArea;

namespace Quillmark {

class ThumbnailReader;

// The horizontal strip of image thumbnails under the canvas. Shows a window of
// at most 50 thumbnails around the current image, has them read off the
// window's thread (nearest the current image first), and reports a left click
// on a thumbnail with imageSelected.
class FilmStrip : public QWidget {
    Q_OBJECT
public:
    static constexpr int windowSize = 50;
    static constexpr int thumbWidth = 72;
    static constexpr int thumbHeight = 54;

    explicit FilmStrip(QWidget *parent = nullptr);
    ~FilmStrip() override;

    void setDataset(const QList<ImageEntry> &images);
    void setCurrent(int imageId);
    void setDark(bool dark);

    int currentId() const { return current; }
    int windowStart() const { return start; }
    // Ids of the thumbnails of the current window, in order.
    QList<int> shownIds() const;
    // The thumbnail label of an image in the current window, or null.
    QLabel *thumbnailLabel(int imageId) const;
    QScrollArea *scrollArea() const { return scroll; }
    QPushButton *leftChevron() const { return leftButton; }
    QPushButton *rightChevron() const { return rightButton; }
    // Thumbnails of the current window still being read.
    int thumbnailsLoading() const;

signals:
    void imageSelected(int imageId);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;

private:
    // The pixels of an entry that holds them itself, and their thumbnail.
    struct InMemory {
        QPixmap thumbnail;   // scaled, once made
        QImage image;        // decoded
        QByteArray encoded;  // still encoded
        std::shared_ptr<const StoredImageBytes> stored; // left in a package
    };
    // A project may list 100,000 pictures: an entry named by its path is an
    // id and a path, nothing more.
    struct Entry {
        int imageId = -1;
        QString path;
        std::shared_ptr<InMemory> memory; // null for a picture read from its file
    };
    struct Shown {
        int imageId = -1;
        QString path;
        QLabel *label = nullptr;
        int entryIndex = -1;
    };

    void rebuildWindow(int index);
    void requestThumbnails();
    void thumbnailArrived(int shownIndex, const QImage &thumbnail);
    void updateChevrons();
    int indexOfImage(int imageId) const;
    void scrollToLabel(QLabel *label);
    void repolish(QLabel *label, bool active);

    QScrollArea *scroll = nullptr;
    QWidget *container = nullptr;
    QHBoxLayout *containerLayout = nullptr;
    QPushButton *leftButton = nullptr;
    QPushButton *rightButton = nullptr;
    ThumbnailReader *reader = nullptr;
    QList<Entry> entries;
    QHash<int, int> indexMap;
    int start = 0;
    QList<Shown> shown;
    int current = -1;
    bool dark = false;
};

} // namespace Quillmark
