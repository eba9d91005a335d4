#pragma once

#include "model/Annotation.h"

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QString>

namespace Quillmark {

// One image of the dataset. The pixels live in the file at filePath, unless the
// entry holds them in memory: decoded in `image`, or still encoded in `imageData`
// (images read from a package keep their encoded bytes and are decoded only when
// the pixels are needed).
struct ImageEntry {
    int id = -1;
    QString filePath;
    int width = 0;                // pixels; below 1 means unknown
    int height = 0;
    QList<Annotation> labels;
    QImage image;
    QByteArray imageData;

    bool isLabelled() const { return !labels.isEmpty(); }

    // True when the pixels are held in memory (decoded or encoded) rather than
    // read from filePath.
    bool hasInMemoryImage() const { return !image.isNull() || !imageData.isEmpty(); }

    // The pixels, upright (see PictureLoader): the decoded image, else the
    // decoded in-memory bytes, else the file at filePath. A null image when none
    // of them can be read, with the reason in `error` when it is given.
    QImage loadPixels(QString *error = nullptr) const;
};

} // namespace Quillmark
