#pragma once

#include "formats/IFormatHandler.h"

namespace Quillmark {

// "Pascal VOC": one XML file per image, root "annotation", with one "object"
// and its "bndbox" per box. Import and export both take a folder; only boxes
// travel (polygons and keypoint sets are written as the box around them).
class PascalVocHandler : public IFormatHandler {
public:
    QString name() const override;
    QString extension() const override;
    // A folder directly holding an XML file whose first 512 bytes open the
    // root element "annotation" (not "annotations", which is CVAT).
    bool canImport(const QString &path) const override;
    // True when at least one file was read as a VOC annotation.
    bool importDataset(const QString &path, Dataset &dataset, ProgressCallback progress) override;
    // False when the folder or a file cannot be written.
    bool exportDataset(const QString &path, const Dataset &dataset, ProgressCallback progress) override;
};

// The image a VOC file names: <folder>/<name> when it exists, else
// <folder>/images/<last component of name> when that exists, else the first.
QString resolveVocImagePath(const QString &folder, const QString &name);

// The XML text written for one image under the given file name.
QByteArray vocXmlBytes(const ImageEntry &image, const QString &fileName);

} // namespace Quillmark
