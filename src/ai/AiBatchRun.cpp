#include "ai/AiBatchRun.h"

#include "ai/PictureReadAhead.h"
#include "model/Dataset.h"

#include <QHash>
#include <QMetaObject>
#include <QThread>

#include <atomic>
#include <exception>

namespace Quillmark {

// What the worker found for one image of the snapshot.
struct AiBatchRun::Outcome {
    std::any value;
    QString error;
    bool unreadable = false;
};

// What the worker reads: filled on the GUI thread before the worker starts and
// only read afterwards, by both threads.
struct AiBatchRun::Shared {
    struct Source {
        int id = -1;
        qsizetype hint = -1; // position in the dataset's image list at start
        ImageEntry pixels;   // where the pixels come from (no annotations)
    };

    static Source sourceOf(const ImageEntry &entry, qsizetype position)
    {
        Source source;
        source.id = entry.id;
        source.hint = position;
        source.pixels.id = entry.id;
        source.pixels.filePath = entry.filePath;
        source.pixels.image = entry.image;
        source.pixels.imageData = entry.imageData;
        source.pixels.storedBytes = entry.storedBytes; // a package's images
        return source;
    }

    QList<Source> sources;
    Compute compute;
    std::atomic<bool> stop{false};
};

AiBatchRun::AiBatchRun(Dataset &data, QObject *parent) : QObject(parent), dataset(data) {}

AiBatchRun::~AiBatchRun()
{
    stopAndWait();
}

bool AiBatchRun::start(Task newTask)
{
    if (running || !newTask.compute || !newTask.apply)
        return false;
    task = std::move(newTask);
    summary = Summary();
    summary.total = int(task.imageIds.size());
    stopped = false;

    // One pass over the dataset, so that each later lookup is a direct hit.
    QHash<int, qsizetype> positions;
    positions.reserve(dataset.images.size());
    for (qsizetype i = 0; i < dataset.images.size(); ++i)
        positions.insert(dataset.images.at(i).id, i);

    shared = std::make_shared<Shared>();
    shared->compute = task.compute;
    shared->sources.reserve(task.imageIds.size());
    for (int id : std::as_const(task.imageIds)) {
        const qsizetype position = positions.value(id, -1);
        if (position < 0) {
            Shared::Source missing;
            missing.id = id;
            shared->sources.append(missing);
            continue;
        }
        shared->sources.append(Shared::sourceOf(dataset.images.at(position), position));
    }

    running = true;
    const quint64 run = ++generation;
    AiBatchRun *runner = this;
    std::shared_ptr<Shared> state = shared;
    worker = QThread::create([runner, state, run] {
        // Decoding the next file overlaps the model's work on this one. The
        // reader shares `state`: it may be left inside a read when the run stops.
        PictureReadAhead pictures(
            state->sources.size(),
            [state](qsizetype i) {
                const Shared::Source &source = state->sources.at(i);
                return source.hint >= 0 ? source.pixels.loadPixels() : QImage();
            },
            state->stop);
        QImage picture;
        for (qsizetype i = 0; pictures.next(picture); ++i) {
            Outcome outcome;
            if (picture.isNull()) {
                outcome.unreadable = true;
            } else {
                try {
                    outcome.value = state->compute(picture, &outcome.error);
                } catch (const std::exception &e) {
                    outcome.error = QString::fromUtf8(e.what());
                }
            }
            QMetaObject::invokeMethod(
                runner, [runner, run, i, outcome]() mutable { runner->applyOutcome(run, i, outcome); },
                Qt::QueuedConnection);
        }
    });
    // Queued behind every result the worker posted before it ended.
    connect(worker, &QThread::finished, this, [this, run] { finishRun(run); });
    connect(worker, &QThread::finished, worker, &QObject::deleteLater);
    worker->start(QThread::InheritPriority);
    return true;
}

ImageEntry *AiBatchRun::lookUp(int id, qsizetype hint)
{
    QList<ImageEntry> &images = dataset.images;
    if (hint >= 0 && hint < images.size() && images.at(hint).id == id)
        return &images[hint];
    // The list changed under the run: the slow way.
    return dataset.imageById(id);
}

void AiBatchRun::applyOutcome(quint64 run, qsizetype index, Outcome &outcome)
{
    if (run != generation || !running || stopped || !shared || index >= shared->sources.size())
        return;
    const Shared::Source &source = shared->sources.at(index);
    ++summary.done;
    ImageEntry *entry = source.hint >= 0 ? lookUp(source.id, source.hint) : nullptr;
    if (!entry) {
        ++summary.gone;
    } else if (outcome.unreadable) {
        ++summary.unreadable;
    } else if (!outcome.error.isEmpty()) {
        ++summary.failed;
        if (summary.firstError.isEmpty())
            summary.firstError = outcome.error;
    } else {
        applyingId = source.id;
        summary.added += task.apply(*entry, outcome.value);
        applyingId = -1;
        ++summary.applied;
    }
    if (task.progress)
        task.progress(summary.done, summary.total);
}

void AiBatchRun::cancel()
{
    if (!running)
        return;
    stopped = true;
    summary.cancelled = true;
    if (shared)
        shared->stop.store(true);
}

void AiBatchRun::abandon()
{
    if (!running)
        return;
    cancel();
    summary.abandoned = true;
}

void AiBatchRun::finishRun(quint64 run)
{
    if (run != generation || !running)
        return;
    running = false;
    worker = nullptr;
    shared.reset();
    const Task finishedTask = std::exchange(task, Task());
    const Summary result = summary;
    if (finishedTask.finished)
        finishedTask.finished(result);
}

void AiBatchRun::stopAndWait()
{
    if (shared)
        shared->stop.store(true);
    stopped = true;
    // Results and the end of this run that are still queued are ignored.
    ++generation;
    if (worker) {
        worker->wait();
        delete worker;
    }
    worker = nullptr;
    shared.reset();
    task = Task();
    running = false;
}

} // namespace Quillmark
