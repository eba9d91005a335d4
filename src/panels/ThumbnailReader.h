#pragma once

#include "model/StoredImageBytes.h"

#include <QByteArray>
#include <QImage>
#include <QObject>
#include <QSize>
#include <QString>

#include <memory>
#include <thread>
#include <vector>

class QTimer;

namespace Quillmark {

// Reads and scales thumbnails on threads of its own, a few at a time, so that
// neither a large picture nor a file on a share that stopped answering holds
// the window. Requests wait in order; clear() drops those not yet started and
// silences the reads under way, so only the thumbnails still wanted are read
// and answered. A read that has run for a long while no longer holds its place.
// Answers arrive on the thread the reader lives on, as thumbnailRead.
class ThumbnailReader : public QObject {
    Q_OBJECT
public:
    // What one thumbnail is made from: the decoded image, else the encoded
    // bytes, else the bytes left in a package, else the file at `path`.
    struct Source {
        QString path;
        QImage image;
        QByteArray encoded;
        std::shared_ptr<const StoredImageBytes> stored;
    };

    static constexpr int places = 2;
    static constexpr int stalledAfterMs = 5000;
    // Threads at most, counting those stuck in a read.
    static constexpr int mostThreads = 6;
    // The name of the reading threads (QThread::objectName).
    static const QString threadName;

    explicit ThumbnailReader(const QSize &bound, QObject *parent = nullptr, int stalledAfter = stalledAfterMs);
    // Waits a moment for reads under way; a read that does not end by then is
    // let go of, and its answer goes nowhere.
    ~ThumbnailReader() override;

    void request(int key, const Source &source);
    // Drops every request not yet started; reads under way are no longer answered.
    void clear();
    // Requests not yet answered, dropped ones left out.
    int outstanding() const { return unanswered; }

    // The thumbnail of `source`: upright, within `bound`, aspect ratio kept.
    // Null when the picture cannot be read.
    static QImage read(const Source &source, const QSize &bound);

signals:
    // `thumbnail` is null when the picture could not be read.
    void thumbnailRead(int key, const QImage &thumbnail);

private:
    struct Shared;
    struct Worker;

    static void work(const std::shared_ptr<Shared> &shared, const std::shared_ptr<Worker> &me, QSize bound);
    void answered(quint64 generation, int key, const QImage &thumbnail);
    void arrange();

    const QSize bound;
    std::shared_ptr<Shared> shared;
    std::vector<std::thread> threads;
    QTimer *stallTimer = nullptr;
    int unanswered = 0;
};

} // namespace Quillmark
