#pragma once

#include "formats/IFormatHandler.h"

#include <QList>
#include <QString>

namespace Quillmark {

// "Florence-2": object detection as JSON Lines, one record per image,
// {"image": name, "prefix": "<OD>", "suffix": boxes}, each box the class name
// followed by four tokens <loc_N> (left, top, right, bottom, 0..999 of the
// image's width and height). Boxes, polygons and keypoint sets travel as
// boxes; import makes bounding boxes and adds no classes.
class Florence2Handler : public IFormatHandler {
public:
    QString name() const override;
    QString extension() const override;
    // A ".jsonl" path (any case) is sniffed as a file; a folder by its
    // "annotations.jsonl".
    bool canImport(const QString &path) const override;
    // Reads the file, or a folder's "annotations.jsonl". True when at least
    // one line gave an image.
    bool importDataset(const QString &path, Dataset &dataset, ProgressCallback progress) override;
    // Writes the file at `path`; false when it cannot be written.
    bool exportDataset(const QString &path, const Dataset &dataset, ProgressCallback progress) override;
};

// The suffix of an image's annotations, for an image of width x height (an
// unknown size, below 1, takes the coordinates as normalised already).
QString buildFlorenceSuffix(const QList<Annotation> &annotations, int width, int height);

// The boxes of a suffix, scaled to an image of width x height; for an image of
// unknown size (a side below 1) as fractions of 1 along that side.
QList<Annotation> parseFlorenceSuffix(const QString &suffix, int width, int height);

// Whether the head of a file looks like a Florence-2 detection file.
bool isFlorenceJsonlFile(const QString &path);

} // namespace Quillmark
