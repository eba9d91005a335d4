#pragma once

#include "model/Annotation.h"
#include "model/StoredImageBytes.h"

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QString>

#include <memory>

namespace Quillmark {

// One image of the dataset. The pixels live in the file at filePath, unless the
// entry holds them itself: decoded in `image`, encoded in `imageData`, or left
// encoded in a package file (`storedBytes`, read only when the pixels are
// needed, so that a large package opens without holding its images in memory).
struct ImageEntry {
    int id = -1;
    QString filePath;
    int width = 0;                // pixels; below 1 means unknown
    int height = 0;
    QList<Annotation> labels;
    QImage image;
    QByteArray imageData;
    std::shared_ptr<const StoredImageBytes> storedBytes;

    bool isLabelled() const { return !labels.isEmpty(); }

    // True when the entry holds its pixels itself (decoded, encoded, or left in
    // a package) rather than naming them by filePath.
    bool hasInMemoryImage() const { return !image.isNull() || !imageData.isEmpty() || storedBytes; }

    // The encoded bytes the entry holds: imageData, else the bytes left in the
    // package (read now), else an empty array.
    QByteArray encodedBytes() const;

    // The pixels, upright (see PictureLoader): the decoded image, else the
    // decoded encoded bytes, else the file at filePath. A null image when none
    // of them can be read, with the reason in `error` when it is given.
    QImage loadPixels(QString *error = nullptr) const;

    // Lets go of every pixel the entry holds itself.
    void dropInMemoryImage();
};

} // namespace Quillmark
