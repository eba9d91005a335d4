#pragma once

#include <QImage>

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <thread>

namespace Quillmark {

// Decodes pictures on a thread of its own, a few ahead of the thread that uses
// them, so that reading the next file overlaps the model's work on this one.
//
//     PictureReadAhead pictures(count, [state](qsizetype i) { return load(state, i); }, stop);
//     QImage picture;
//     while (pictures.next(picture)) ...   // pictures 0, 1, 2, ... in order
//
// At most `depth` decoded pictures wait at a time. The reader stops when `stop`
// is set, and next() returns false at once, whatever the reader is doing.
//
// A read may never end (a file on a network share that stopped answering):
// destruction stops the reader and waits for it only briefly; a reader still
// inside a read is then left to finish it on its own, and its picture is
// dropped. So `read` must own (or share) everything it uses: it may run after
// this object and its owner have gone. `stop` is not looked at after
// destruction.
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

    // How long destruction waits for a reader inside a read before leaving it.
    static constexpr int readerGraceMs = 250;

private:
    struct Queue;

    std::shared_ptr<Queue> queue;
    const std::atomic<bool> &stop;
    std::thread reader;
};

} // namespace Quillmark
