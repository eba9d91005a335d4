#pragma once

#include "formats/ExportConfig.h"
#include "formats/IFormatHandler.h"
#include "formats/ProgressCallback.h"
#include "model/Dataset.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace Quillmark {

// Carries out one dataset export: writes `dataset` with `handler` into
// config.outputPath, whole or split into "train", "valid" and "test". For the
// YOLO family (every format that writes with the YOLO handler) the job writes
// the layout YOLO loaders read itself: labels/ beside images/ (in each split
// folder with a split), "classes.txt" and, when asked, "data.yaml". The formats
// whose dataset is one root holding its splits (ISubsetExportHandler) write
// each subset below the output folder and one "data.yaml" naming exactly the
// subsets written. Every other format gets its pictures beside its annotation
// files, in the output folder or in each split folder, where the format's
// loaders look for them; a format trained through index files at the root
// (IExportIndexWriter: Darknet's obj.data and image lists) writes them last. The formats that write a keypoint set as one object
// get each face's or person's box joined with its keypoint set first (see
// KeypointObjectPairing.h). Runs on a worker thread and touches nothing but
// its arguments and the output folder.
//
// Images of unknown size are measured first. When images are copied, every
// image must have pixels: a missing one fails the export, naming it, before
// anything is written (each picture is looked up once for that, and opened
// once when it is copied). The pictures are copied on several threads, before
// the files that name them; an entry whose file turns out to be no picture is
// left out whole and named in the result. Copies replace files of the same
// name (an earlier export's), but never an image's own file. Every format but
// COCO leaves crowd regions out (they would be taught as single objects), and
// the result says how many.
//
// An export that does not finish (killed, or failed) leaves a journal of the
// files it was writing; the next export into the folder removes them before it
// writes (ExportJournal.h), so that none of them stays beside its files.
//
// imageCount is the count named in the result text of an export without split;
// handlerWritesImages is true for formats whose handler writes the image files
// itself (the job then copies none). On success `resultText` receives the
// summary, on failure `errorText` the reason (the other is left untouched).
bool runExportJob(IFormatHandler *handler, const ExportConfig &config, const Dataset &dataset, int imageCount,
                  bool handlerWritesImages, ProgressCallback progress, QString *errorText, QString *resultText);

// Where an export's own pictures lie when the job copies none: images/ for
// the YOLO layout and for a split export, the output folder itself (beside
// the annotation files) for every other format.
QString exportPictureFolder(const IFormatHandler *handler, const ExportConfig &config);

// The path an export hands the handler: the output (or split) folder, or for
// the one-file formats a file in it ("annotations.json" for COCO, ...).
QString exportTargetPath(const QString &format, const QString &outputPath);

// Whether the format's handler writes the image files of an export itself
// ("CLIP", "Multiclass", "YOLOv5 OBB", "YOLOv6 MT", "YOLOv8 OBB", "YOLO
// Pose"): the value the caller passes as handlerWritesImages.
bool formatWritesOwnImages(const QString &format);

// How the job writes a format of the YOLO family.
struct YoloExportLayout {
    bool applies = false;         // the job writes the YOLO layout itself
    bool roboflowSection = false; // data.yaml carries the "roboflow:" section its detection looks for
    bool wholeIntoTrain = false;  // without a split the images go to train/ (the folder layout
                                  // "YOLOv4 Scaled" is detected by)
};
YoloExportLayout yoloExportLayout(const IFormatHandler *handler);

// The "data.yaml" of a YOLO-family export: "train", "val" and "test" for the
// non-empty entries of `imageFolders` (relative to the output folder, which
// is the data.yaml's own: no "path", see dataYamlRootComment), an empty line,
// for a keypoint dataset "kpt_shape: [K, 3]" (K the largest keypoint count,
// so that its label lines read back as keypoints) and the "flip_idx" the
// keypoint names give, "nc" and "names"; and a "roboflow:" section when asked
// (named after the output folder).
QByteArray yoloExportDataYaml(const QString &outputPath, const QStringList &imageFolders, const QStringList &classNames,
                              int keypointCount, const QStringList &keypointNames, bool roboflowSection);

} // namespace Quillmark
