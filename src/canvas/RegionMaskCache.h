#pragma once

#include "model/Annotation.h"

#include <QCache>
#include <QColor>
#include <QImage>
#include <QRect>
#include <QString>

namespace Quillmark {

// Pictures of the run-length masks that crowd regions carry, kept between
// repaints: reading a mask's runs at every repaint would cost more than
// drawing it. A mask is told apart by its counts and size, so a region moved
// or resized gets a picture of its own.
class RegionMaskCache {
public:
    // The picture of a mask: `image` shows its pixels in one colour, opaque,
    // over `bounds` (image pixels); a mask over more than MaxPicturePixels is
    // pictured at a lower resolution over the same bounds.
    struct Picture {
        QRect bounds;
        QImage image;
    };
    static constexpr qint64 MaxPicturePixels = 16LL * 1024 * 1024;

    // The picture of the annotation's mask in `color`; null when it carries no
    // mask that reads, or an empty one.
    const Picture *picture(const Annotation &annotation, const QColor &color);
    // The image pixels the annotation's mask covers; empty when it carries no
    // mask that reads.
    QRect bounds(const Annotation &annotation);

private:
    struct Entry {
        QRect bounds;
        QColor color;
        Picture picture;
    };

    Entry *entryOf(const QVariant &mask, const QString &key);

    // Entries cost their picture's bytes (and one for the bounds alone).
    QCache<QString, Entry> entries{256LL * 1024 * 1024};
};

} // namespace Quillmark
