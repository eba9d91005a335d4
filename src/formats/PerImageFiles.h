#pragma once

#include "formats/LabelLineFields.h"
#include "formats/ProgressCallback.h"
#include "model/Dataset.h"
#include "model/FunctionRef.h"

#include <QByteArray>
#include <QList>
#include <QSize>
#include <QString>
#include <QStringList>

#include <functional>

namespace Quillmark {

// The two loops of the formats that keep one label file per image.

// The split folders their readers look in, in this order: "train", "valid",
// "val", "test".
const QStringList &labelSplitNames();

// Reading: one image entry per label file, in order. `findImage` names the
// file's image (empty when there is none); `readLabels` reads the file's
// annotations for that image and its size (0 x 0 when unknown) and returns
// false when the file is to give no entry (it cannot be read, or is no label
// file). An entry names its image, or the label file when there is none,
// with the size read from the image's header. With `backgroundExtensions`,
// the images of those extensions that lie in a folder holding a labelled
// image but have no label file of their own follow, without annotations: the
// background images of layouts that keep them so (images/ beside labels/).
// Progress (i + 1, n) follows every file and background image. Returns the
// number of entries added.
using FindImage = std::function<QString(const QString &labelFile)>;
using ReadLabels =
    std::function<bool(const QString &labelFile, const QString &imagePath, QSize imageSize, QList<Annotation> *labels)>;
int importLabelFiles(const QStringList &labelFiles, Dataset &dataset, const ProgressCallback &progress,
                     const FindImage &findImage, const ReadLabels &readLabels,
                     const QStringList &backgroundExtensions = {});

// The files matching `namePatterns` in `folders` that are none of
// `pairedImages`, each once, as clean paths: the background images a layout
// keeps without a label file.
QStringList unpairedImages(const QStringList &folders, const QStringList &pairedImages,
                           const QStringList &namePatterns);

// A ReadLabels for the formats whose lines begin with a class id into
// `names` (YOLOv6 MT, YOLOv8 OBB): every line goes through readLine, which
// returns false for a line to skip; the class of every annotation read is
// added to the dataset, and every name of the list once a first file was read.
using ReadLabelLine =
    std::function<bool(const LabelFields &fields, const QStringList &names, QSize imageSize, Annotation *a)>;
ReadLabels classIdLineReader(const QStringList &names, Dataset &dataset, const ReadLabelLine &readLine);

// Writing: for each image, under its unique export stem, its pixels as
// <imagesDir>/<stem>.<suffix> (only when imagesDir is set; see
// writeExportImages: several at once, an earlier export's file replaced) and
// then its label file <labelsDir>/<stem>.txt holding labelBytes(image) (only
// when labelsDir is set). Progress counts the pictures as they are written,
// else the label files. False at the first file that cannot be written, or a
// picture that is no picture.
struct PerImageFiles {
    QString imagesDir;
    QString labelsDir;
    std::function<QByteArray(const ImageEntry &image)> labelBytes;
};
bool writePerImageFiles(const QList<ImageEntry> &images, const PerImageFiles &files, const ProgressCallback &progress);

// The formats that keep one annotation file per image beside no label folder
// (LabelMe, Pascal VOC): creates the folder, then for each image, after
// progress(i + 1, n), writes `contents(image, imageName)` to "<stem><suffix>"
// in it, where the stem is the image's unique export stem and imageName the
// file name the image is copied under (see ExportNames.h). Each file is
// written whole or not at all. False as soon as the folder or a file cannot
// be written.
bool writeAnnotationFiles(const QString &folder, const Dataset &dataset, const QString &suffix,
                          FunctionRef<QByteArray(const ImageEntry &image, const QString &imageName)> contents,
                          const ProgressCallback &progress);

} // namespace Quillmark
