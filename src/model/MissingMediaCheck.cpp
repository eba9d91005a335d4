#include "model/MissingMediaCheck.h"

#include "model/Dataset.h"

#include <QElapsedTimer>

namespace Quillmark {

namespace {

// A batch goes out after this many missing entries or this long, whichever
// comes first: a list marks them as they come without a signal per file.
constexpr int batchEntries = 256;
constexpr qint64 batchMilliseconds = 100;

} // namespace

std::atomic<void (*)()> MissingMediaCheck::beforeFinished{nullptr};

void MissingMediaCheck::setBeforeFinishedHook(void (*hook)())
{
    beforeFinished = hook;
}

MissingMediaCheck::MissingMediaCheck(const Dataset &dataset, QObject *parent)
    : QObject(parent)
{
    qRegisterMetaType<Quillmark::MissingMedia>();
    items.reserve(size_t(dataset.images.size() + dataset.videos.size()));
    for (const ImageEntry &image : dataset.images) {
        if (!image.hasInMemoryImage())
            items.push_back(Item{image.id, false, image.filePath});
    }
    for (const VideoEntry &video : dataset.videos) {
        if (video.bytes.isEmpty())
            items.push_back(Item{video.id, true, video.filePath});
    }
}

MissingMediaCheck::~MissingMediaCheck()
{
    cancel();
    if (worker.joinable())
        worker.join();
}

void MissingMediaCheck::start()
{
    if (!worker.joinable())
        worker = std::thread([this] { run(); });
}

void MissingMediaCheck::cancel()
{
    cancelled = true;
}

void MissingMediaCheck::flush(QList<int> &imageIds, QList<int> &videoIds)
{
    if (imageIds.isEmpty() && videoIds.isEmpty())
        return;
    emit missingFound(imageIds, videoIds);
    imageIds.clear();
    videoIds.clear();
}

void MissingMediaCheck::run()
{
    MissingMedia missing;
    QList<int> imageIds;
    QList<int> videoIds;
    QElapsedTimer sinceBatch;
    sinceBatch.start();
    for (const Item &item : items) {
        if (cancelled)
            return;
        if (!mediaFileIsThere(item.path)) {
            missing.note(item.path);
            (item.video ? videoIds : imageIds).append(item.id);
        }
        if (imageIds.size() + videoIds.size() >= batchEntries || sinceBatch.elapsed() >= batchMilliseconds) {
            flush(imageIds, videoIds);
            sinceBatch.restart();
        }
    }
    flush(imageIds, videoIds);
    missing.close();
    if (cancelled)
        return;
    if (void (*hook)() = beforeFinished)
        hook();
    emit finished(missing);
}

} // namespace Quillmark
