#pragma once

#include "formats/IFormatHandler.h"

namespace Quillmark {

// "Pascal VOC": one XML file per image, root "annotation", with one "object"
// and its "bndbox" per box. Import and export both take a folder; only boxes
// travel (polygons and keypoint sets are written as the box around them).
// Import also takes the VOCdevkit layout (Annotations/ beside JPEGImages/).
class PascalVocHandler : public IFormatHandler {
public:
    QString name() const override;
    QString extension() const override;
    // A folder whose VOC files (see vocAnnotationFiles) include one whose
    // first 512 bytes open the root element "annotation" (not "annotations",
    // which is CVAT).
    bool canImport(const QString &path) const override;
    // True when at least one file was read as a VOC annotation. "truncated",
    // "difficult" and "occluded" are kept as attributes when set, and
    // written back.
    bool importDataset(const QString &path, Dataset &dataset, ProgressCallback progress) override;
    // False when the folder or a file cannot be written.
    bool exportDataset(const QString &path, const Dataset &dataset, ProgressCallback progress) override;

private:
    // One folder of the format (a subset folder of a split export included).
    bool canImportFolder(const QString &path) const;
    bool importFolder(const QString &path, Dataset &dataset, ProgressCallback progress);
};

// The image a VOC file names: <folder>/<name> when it exists, else the last
// component of the name in <folder>/images/ or, in the VOCdevkit layout, in
// JPEGImages/ beside the XML folder, when it exists there; else the first.
QString resolveVocImagePath(const QString &folder, const QString &name);

// The VOC files of a folder: its own "*.xml" files; without any, those of its
// Annotations/ folder (the root of the VOCdevkit layout); without any, those
// of the Annotations/ folder of each subfolder (VOCdevkit/VOC2007, VOC2012).
QStringList vocAnnotationFiles(const QString &folder);

// The XML text written for one image under the given file name.
QByteArray vocXmlBytes(const ImageEntry &image, const QString &fileName);

} // namespace Quillmark
