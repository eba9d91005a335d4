#pragma once

#include "formats/IFormatHandler.h"

#include <QString>
#include <QStringList>

namespace Quillmark {

// "LabelMe": one JSON file per image, holding the image's file name, its
// size, optionally the image itself as Base64 text, and its shapes
// (rectangles, polygons, line strips, points). Import reads one file or every
// "*.json" of a folder tree; export writes one file per image into a folder.
// An object of several polygons is written, and read back, as the polygons
// of one label sharing a "group_id"; other shapes of a group stay apart.
class LabelMeHandler : public IFormatHandler {
public:
    QString name() const override;
    QString extension() const override;
    // Whether the path is, or its folder tree holds, a LabelMe file.
    bool canImport(const QString &path) const override;
    // True when at least one file was read. Files that are no LabelMe files
    // are passed over.
    bool importDataset(const QString &path, Dataset &dataset, ProgressCallback progress) override;
    // False when the folder or a file in it cannot be written.
    bool exportDataset(const QString &path, const Dataset &dataset, ProgressCallback progress) override;

    // Where the pixels go and come from. 0: export embeds each image in its
    // file ("imageData"), import takes an embedded image before an image
    // file; 1: export writes "imageData" as null, import takes an existing
    // image file first. Export takes every other value as 1, import as 0. The
    // import and export commands set it before they start the worker.
    int useExternalImages = 0;
    // Export: the folder, relative to the JSON files, that the images of the
    // export are written into; "imagePath" names each image there, so that
    // LabelMe finds it. Empty: beside the JSON files. The export job sets it.
    QString imageFolder;
};

// The content test of detection: whether the file looks like a LabelMe file.
// Its first 512 bytes usually tell; when they do not (the LabelMe tool writes
// the shapes before the image's name), a file that starts as an object is
// searched further for the "shapes" key beside "imagePath" or an embedded
// image.
bool isLabelMeJsonFile(const QString &path);

// The image file a LabelMe file in `folder` names: an absolute name as it
// stands; a relative one in the folder, else under its last component in the
// folder's "images" folder, else in the folder although it does not exist.
// An empty name gives an empty path.
QString resolveLabelMeImagePath(const QString &folder, const QString &imagePath);

// Reads one LabelMe file and appends its image. An embedded image is written
// beside the file under the last component of "imagePath", with the suffix of
// its format and never over another picture, or kept in memory (under that
// bare name) when it cannot be written there. False,
// adding nothing, when the file cannot be read, is not JSON, or is no LabelMe
// file (an object without "shapes", "imagePath" and "imageData").
bool readLabelMeFile(const QString &path, Dataset &dataset, bool preferExternal);

// The files an import of `path` reads: the file itself, or every "*.json"
// file of the folder tree in path order.
QStringList labelMeFiles(const QString &path);

// Whether the file embeds an image and also names an image file that exists:
// the case in which the import command asks which of the two to use. Read as
// readLabelMeFile reads, without decoding the image.
bool labelMeFileHasBothImageSources(const QString &path);

// Whether any file an import of `path` reads has both image sources.
bool labelMeImportHasBothImageSources(const QString &path);

} // namespace Quillmark
