#pragma once

#include "formats/IFormatHandler.h"

#include <QList>
#include <QPointF>

namespace Quillmark {

// "CVAT XML": one annotations file (CVAT XML 1.1, exported "for images") with
// an "image" element per image holding "box", "polygon", "polyline", "points"
// and "skeleton" shapes. A box turned by "rotation" reads as the polygon of
// its turned corners; a skeleton reads as one keypoint set, its joints in the
// order the meta part gives (which also becomes the keypoint schema); an
// "occluded" shape keeps that flag. The polygons of one label that share a
// "group_id" read as one object of several polygons, as the export writes
// such an object; other shapes of a group stay apart. A file without images
// (an export "for video", whose shapes are tracks) is not read. Import takes
// the XML file (or a folder holding one); export takes a folder, where it
// writes "annotations.xml", or a path ending in ".xml".
class CvatHandler : public IFormatHandler {
public:
    QString name() const override;
    QString extension() const override;
    bool canImport(const QString &path) const override;
    bool importDataset(const QString &path, Dataset &dataset, ProgressCallback progress) override;
    bool exportDataset(const QString &path, const Dataset &dataset, ProgressCallback progress) override;
};

// The points of a "points" attribute: "x,y" pairs separated by ";". Empty
// pieces and pieces that are not exactly two fields are skipped; a field that
// is no number counts as 0, one that single precision cannot hold as infinity
// (coordinateField), which drops its shape.
QList<QPointF> parseCvatPoints(const QString &text);

// The serialised document the export writes.
QByteArray cvatXmlBytes(const Dataset &dataset, const ProgressCallback &progress = ProgressCallback());

} // namespace Quillmark
