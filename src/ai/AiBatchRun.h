#pragma once

#include "model/ImageEntry.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <any>
#include <functional>
#include <memory>

class QThread;

namespace Quillmark {

class Dataset;

// Runs an inference engine over images of the open project on a worker thread,
// so that the window keeps repainting while a model works through thousands of
// pictures.
//
// The run works from a snapshot of image ids taken at start. The worker reads
// each picture and computes a result; every result is posted back to the GUI
// thread, where the entry it was computed for is looked up again and the result
// applied to that entry (entries removed meanwhile are skipped). What is computed
// and how it is applied are the caller's:
//
//     auto task = AiBatchRun::makeTask<QList<Annotation>>(
//         ids,
//         [engine, conf](const QImage &picture, QString *error) {   // worker thread
//             QList<Annotation> found = ...engine->run(picture, conf)...;
//             if (!engine->lastError().isEmpty()) *error = engine->lastError();
//             return found;
//         },
//         [](ImageEntry &entry, QList<Annotation> &found) {          // GUI thread
//             entry.labels += found;
//             return int(found.size());
//         });
//     task.finished = [](const AiBatchRun::Summary &s) { ... };
//     runner.start(std::move(task));
//
// The compute function runs on the worker and must touch nothing the GUI thread
// uses meanwhile (the engine is the run's alone until `finished`). Cancelling or
// abandoning drops every result that arrives afterwards; `finished` is called
// once the worker has stopped, which is as soon as the picture in the engine's
// work is done: a picture still being read is not waited for (a file on a
// network share may never answer; its read is left to end on its own).
// Destroying the runner stops the worker and waits for it in the same way, so
// the engine a compute function uses must outlive the runner.
class AiBatchRun : public QObject {
    Q_OBJECT

public:
    // Worker thread: the work on one picture (never null). An engine failure is
    // reported through *error; the result is then not applied.
    using Compute = std::function<std::any(const QImage &picture, QString *error)>;
    // GUI thread: applies a result to the entry it belongs to; returns the number
    // of annotations added.
    using Apply = std::function<int(ImageEntry &entry, std::any &result)>;

    struct Summary {
        int total = 0;      // images in the snapshot
        int done = 0;       // images accounted for (each of the counts below)
        int applied = 0;    // results applied
        int added = 0;      // sum of what apply() returned
        int unreadable = 0; // pictures that could not be read
        int failed = 0;     // engine failures
        int gone = 0;       // entries removed before their result arrived
        QString firstError; // the first engine failure's reason
        bool cancelled = false;
        bool abandoned = false; // the project was replaced
    };

    struct Task {
        QList<int> imageIds;
        Compute compute;
        Apply apply;
        // GUI thread, after every image: (images done, images in the run).
        std::function<void(int done, int total)> progress;
        // GUI thread, once, after the worker has stopped.
        std::function<void(const Summary &summary)> finished;
    };

    // A task with a typed result: compute is R(const QImage &, QString *error),
    // apply is int(ImageEntry &, R &).
    template <typename Result, typename ComputeFn, typename ApplyFn>
    static Task makeTask(QList<int> imageIds, ComputeFn compute, ApplyFn apply)
    {
        Task task;
        task.imageIds = std::move(imageIds);
        task.compute = [compute = std::move(compute)](const QImage &picture, QString *error) -> std::any {
            return std::any(Result(compute(picture, error)));
        };
        task.apply = [apply = std::move(apply)](ImageEntry &entry, std::any &result) -> int {
            return apply(entry, *std::any_cast<Result>(&result));
        };
        return task;
    }

    // The runner applies results to entries of `dataset`, which must outlive it.
    explicit AiBatchRun(Dataset &dataset, QObject *parent = nullptr);
    ~AiBatchRun() override;

    AiBatchRun(const AiBatchRun &) = delete;
    AiBatchRun &operator=(const AiBatchRun &) = delete;

    // Starts the task; false when a run is in progress or the task lacks its
    // compute or apply function. An empty id list finishes at once (queued).
    bool start(Task task);
    bool isRunning() const { return running; }
    // Id of the image whose result is applied right now, -1 outside apply().
    int applyingImageId() const { return applyingId; }

    // Stops after the picture in the engine's work; nothing is applied from now on.
    void cancel();
    // As cancel(), for a run whose project has been replaced: its entries are
    // gone and the summary says so.
    void abandon();
    // Cancels and blocks until the worker has stopped (never for a read in
    // progress), without calling `finished` (the owner is going away).
    void stopAndWait();

private:
    struct Outcome;
    struct Shared;

    void applyOutcome(quint64 run, qsizetype index, Outcome &outcome);
    void finishRun(quint64 run);
    ImageEntry *lookUp(int id, qsizetype hint);

    Dataset &dataset;
    std::shared_ptr<Shared> shared;
    QPointer<QThread> worker;
    Task task;
    Summary summary;
    quint64 generation = 0; // tells results of an earlier run from this one's
    bool running = false;
    bool stopped = false;
    int applyingId = -1;
};

} // namespace Quillmark
