#pragma once

#include "model/ImageEntry.h"

#include <QElapsedTimer>
#include <QImage>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

class QThread;
class QTimer;

namespace Quillmark {

// Decodes the pictures of selected images on worker threads, a few at a time.
// A selection made while every place is taken waits, and the next selection
// takes its turn (the one it replaces is never decoded): holding a key down
// over large photos decodes the photos the user stops at, not every photo
// passed over, and the memory of a few decoded photos is the most it takes.
// A decode that has run for a long while (a read stalled on a network path)
// no longer holds its place. Each result is handed over on the GUI thread.
class PictureDecodeQueue : public QObject {
    Q_OBJECT
public:
    struct Result {
        QImage pixels;   // null when the picture could not be read
        QString problem; // why, then
    };
    using Done = std::function<void(const Result &)>;

    static constexpr int defaultPlaces = 2;
    static constexpr int stalledAfterMs = 5000;

    explicit PictureDecodeQueue(QObject *parent = nullptr, int places = defaultPlaces,
                                int stalledAfter = stalledAfterMs);
    // Waits a little for decodes under way; results are no longer handed over.
    ~PictureDecodeQueue() override;

    // Decodes the pixels of (a copy of) the entry, then calls `done`. `tag`
    // tells pictures of one project from another's: a decode of the same
    // picture (tag, id and file) already under way serves this request.
    void request(const ImageEntry &entry, quint64 tag, Done done);

    int running() const { return int(jobs.size()); }
    bool hasWaiting() const { return waiting.has_value(); }

private:
    struct Request {
        ImageEntry entry;
        quint64 tag = 0;
        Done done;
    };
    struct Job {
        QThread *thread = nullptr;
        quint64 tag = 0;
        int id = -1;
        QString filePath;
        QElapsedTimer started;
    };

    int placesTaken() const;
    void startWaiting();
    void finished(QThread *thread, const Result &result, const Done &done);

    const int places;
    const int stalledAfter;
    QList<Job> jobs;
    std::optional<Request> waiting;
    QTimer *stallTimer = nullptr;
};

} // namespace Quillmark
