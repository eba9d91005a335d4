#pragma once

#include "formats/IFormatHandler.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace Quillmark {

// "PaliGemma": object detection as JSON Lines, one record per image,
// {"image": name, "prefix": "detect cat ; dog", "suffix": boxes}, each box
// four tokens <locNNNN> (top, left, bottom, right, 0..1023 of the image's
// height and width, four digits) and the class name, boxes joined by " ; ".
// Boxes, polygons and keypoint sets travel as boxes; import makes bounding
// boxes and adds the classes the prompts name.
class PaliGemmaHandler : public IFormatHandler {
public:
    QString name() const override;
    QString extension() const override;
    // A ".jsonl" path (any case) is sniffed as a file; a folder by its
    // "_annotations.jsonl" or "_annotations.<split>.jsonl" files.
    bool canImport(const QString &path) const override;
    // Reads the file, or those files of a folder in name order. True when at
    // least one line gave an image.
    bool importDataset(const QString &path, Dataset &dataset, ProgressCallback progress) override;
    // Writes the file at `path`; false when it cannot be written.
    bool exportDataset(const QString &path, const Dataset &dataset, ProgressCallback progress) override;
};

// The suffix of an image's annotations, for an image of width x height (an
// unknown size, 0 or below, takes the coordinates as normalised already).
QString buildPaliGemmaSuffix(const QList<Annotation> &annotations, int width, int height);

// The boxes of a suffix, scaled to an image of width x height; for an image of
// unknown size as fractions of 1 along that side.
QList<Annotation> parsePaliGemmaSuffix(const QString &suffix, int width, int height);

// The PaliGemma files of a folder, in name order.
QStringList paliGemmaFiles(const QString &folder);

// Whether the head of a file looks like a PaliGemma detection file.
bool isPaliGemmaJsonlFile(const QString &path);

} // namespace Quillmark
