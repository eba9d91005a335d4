#pragma once

#include <QImage>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace Quillmark {

// Decodes pictures on a thread of its own, a few ahead of the thread that uses
// them, so that reading the next file overlaps the model's work on this one.
//
//     PictureReadAhead pictures(count, [&](qsizetype i) { return load(i); }, stop);
//     QImage picture;
//     while (pictures.next(picture)) ...   // pictures 0, 1, 2, ... in order
//
// At most `depth` decoded pictures wait at a time. The reader stops when `stop`
// is set; destruction stops and joins it.
class PictureReadAhead {
public:
    using Read = std::function<QImage(qsizetype index)>;

    PictureReadAhead(qsizetype count, Read read, const std::atomic<bool> &stop, size_t depth = 3);
    ~PictureReadAhead();

    PictureReadAhead(const PictureReadAhead &) = delete;
    PictureReadAhead &operator=(const PictureReadAhead &) = delete;

    // The next picture in order (null when it could not be read); false when
    // every picture has been handed out or the run stops.
    bool next(QImage &picture);

private:
    bool stopping() const { return quit || stop.load(); }
    void readAll();

    const qsizetype count;
    const Read read;
    const std::atomic<bool> &stop;
    const size_t depth;
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<QImage> ready;
    qsizetype handedOut = 0;
    bool quit = false;
    std::thread reader;
};

} // namespace Quillmark
