#pragma once

#include "model/MissingMedia.h"

#include <QList>
#include <QObject>
#include <QString>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

namespace Quillmark {

class Dataset;

// Looks for a dataset's missing media on a thread of its own, so a project is
// shown before its files are looked at. Missing entries are reported in small
// batches as they are found (image ids and video ids), then the whole count
// once at the end, with the same names findMissingMedia gives. The dataset is
// copied at construction (paths only); the check may be cancelled at any time
// and is stopped when the object goes: its worker is joined when it ends within
// a moment, else (a look at a file that does not answer) it is left behind and
// says nothing more. The signals come from the
// worker: a receiver that may outlive the check connects with the check as the
// context, so that nothing reaches it after the check is gone.
class MissingMediaCheck : public QObject {
    Q_OBJECT
public:
    explicit MissingMediaCheck(const Dataset &dataset, QObject *parent = nullptr);
    ~MissingMediaCheck() override;

    void start();
    void cancel();

    // For tests: runs on the worker when the check is done, just before
    // `finished` goes out, so that a test can take the check away in between.
    static void setBeforeFinishedHook(void (*hook)());

signals:
    void missingFound(const QList<int> &imageIds, const QList<int> &videoIds);
    void finished(const Quillmark::MissingMedia &missing);

private:
    struct Item {
        int id;
        bool video;
        QString path;
    };

    // What the worker uses: it may outlive the check.
    struct Shared;
    static void run(const std::shared_ptr<Shared> &shared);
    static void flush(Shared &shared, QList<int> &imageIds, QList<int> &videoIds);

    std::shared_ptr<Shared> shared;
    std::thread worker;
    static std::atomic<void (*)()> beforeFinished;
};

} // namespace Quillmark
