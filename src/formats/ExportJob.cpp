#include "formats/ExportJob.h"

#include "formats/AnnotationGeometry.h"
#include "formats/ClassListFile.h"
#include "formats/ExportImageWriter.h"
#include "formats/ExportJournal.h"
#include "formats/ExportNames.h"
#include "formats/ExportSplit.h"
#include "formats/IExportIndexWriter.h"
#include "formats/ISubsetExportHandler.h"
#include "formats/ImageProbe.h"
#include "formats/KeypointObjectPairing.h"
#include "formats/LabelMeHandler.h"
#include "formats/ParallelReads.h"
#include "formats/RoboflowYoloHandler.h"
#include "formats/SafeWrite.h"
#include "formats/Yolo4ScaledHandler.h"
#include "formats/YoloDataYaml.h"
#include "formats/YoloHandler.h"
#include "formats/YoloLabelLines.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <algorithm>
#include <chrono>
#include <future>
#include <numeric>
#include <random>
#include <vector>

namespace Quillmark {

QString exportTargetPath(const QString &format, const QString &outputPath)
{
    static const QList<QPair<QString, QString>> fileNames = {
        {QStringLiteral("COCO"), QStringLiteral("/annotations.json")},
        {QStringLiteral("CreateML"), QStringLiteral("/annotations.createml.json")},
        {QStringLiteral("Florence-2"), QStringLiteral("/annotations.jsonl")},
        {QStringLiteral("PaliGemma"), QStringLiteral("/_annotations.jsonl")},
        {QStringLiteral("RetinaNet"), QStringLiteral("/_annotations.csv")},
    };
    for (const auto &entry : fileNames) {
        if (entry.first == format)
            return outputPath + entry.second;
    }
    return outputPath;
}

namespace {

// Where a format's own loaders look for the pictures, relative to its
// annotation files: CVAT's archives keep them in images/, every other format
// here beside the files.
QString pictureSubfolder(const QString &format)
{
    return format == QLatin1String("CVAT XML") ? QStringLiteral("images") : QString();
}

// Whether the format can mark a crowd region as one (COCO's "iscrowd"); every
// other format would teach it as an object.
bool marksCrowdRegions(const QString &format)
{
    return format == QLatin1String("COCO");
}

} // namespace

QString exportPictureFolder(const IFormatHandler *handler, const ExportConfig &config)
{
    const QDir output(config.outputPath);
    if (config.split || yoloExportLayout(handler).applies)
        return output.filePath(QStringLiteral("images"));
    const QString subfolder = pictureSubfolder(config.format);
    return subfolder.isEmpty() ? output.path() : output.filePath(subfolder);
}

bool formatWritesOwnImages(const QString &format)
{
    static const QStringList formats = {QStringLiteral("CLIP"),       QStringLiteral("Multiclass"),
                                        QStringLiteral("YOLOv5 OBB"), QStringLiteral("YOLOv6 MT"),
                                        QStringLiteral("YOLOv8 OBB"), QStringLiteral("YOLO Pose")};
    return formats.contains(format);
}

YoloExportLayout yoloExportLayout(const IFormatHandler *handler)
{
    YoloExportLayout layout;
    // Every name that reads and writes with the YOLO handler itself.
    layout.applies = dynamic_cast<const YoloHandler *>(handler) != nullptr;
    layout.roboflowSection = dynamic_cast<const RoboflowYoloHandler *>(handler) != nullptr;
    layout.wholeIntoTrain = dynamic_cast<const Yolo4ScaledHandler *>(handler) != nullptr;
    return layout;
}

QByteArray yoloExportDataYaml(const QString &outputPath, const QStringList &imageFolders, const QStringList &classNames,
                              int keypointCount, const QStringList &keypointNames, bool roboflowSection)
{
    static const char *const keys[] = {"train", "val", "test"};
    QString text = dataYamlRootComment();
    for (int i = 0; i < 3 && i < imageFolders.size(); ++i) {
        if (!imageFolders.at(i).isEmpty())
            text += QLatin1String(keys[i]) + QStringLiteral(": ") + imageFolders.at(i) + QLatin1Char('\n');
    }
    text += QLatin1Char('\n');
    if (keypointCount > 0)
        text += yamlKeypointShape(keypointNames, keypointCount);
    text += QStringLiteral("nc: %1\n").arg(classNames.size());
    text += QStringLiteral("names: ") + yamlQuotedList(classNames) + QLatin1Char('\n');
    if (roboflowSection) {
        const QString project = QFileInfo(QDir::cleanPath(outputPath)).fileName();
        text += QStringLiteral("\nroboflow:\n  project: ") +
                yamlScalar(project.isEmpty() ? QStringLiteral("dataset") : project) + QLatin1Char('\n');
    }
    return text.toUtf8();
}

namespace {

QString nativePath(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

// How an image is named in messages: its path, or its name when it has no
// folder.
QString imageLabel(const ImageEntry &image)
{
    return image.filePath.isEmpty() ? QStringLiteral("image %1").arg(image.id) : nativePath(image.filePath);
}

// Takes the crowd regions out of every image; returns how many there were.
int leaveOutCrowdRegions(Dataset &dataset)
{
    int count = 0;
    for (ImageEntry &image : dataset.images) {
        const bool holdsCrowd = std::any_of(image.labels.cbegin(), image.labels.cend(), isCrowdRegion);
        if (!holdsCrowd)
            continue;
        const qsizetype before = image.labels.size();
        image.labels.removeIf(isCrowdRegion);
        count += int(before - image.labels.size());
    }
    return count;
}

// What an export writes: the dataset with every image's size known, without
// crowd regions where the format cannot mark them (`crowdsLeftOut` counts
// them) and, for the formats that write a keypoint set as one object with its
// box, each face's or person's box joined with its keypoint set.
Dataset exportedDataset(const IFormatHandler *handler, const ExportConfig &config, const Dataset &dataset,
                        int *crowdsLeftOut)
{
    Dataset sized = withProbedImageSizes(dataset);
    // Every class an annotation uses joins the class list, in its order (by
    // name): the subsets of a split export are datasets of their own, and
    // each must number the classes as the files written for the whole export
    // (data.yaml, classes.txt, obj.names) name them.
    for (const ImageEntry &image : std::as_const(sized.images)) {
        for (const Annotation &a : image.labels)
            sized.addClass(a.className, QColor());
    }
    *crowdsLeftOut = marksCrowdRegions(config.format) ? 0 : leaveOutCrowdRegions(sized);
    switch (keypointPairingOf(config.format, yoloExportLayout(handler).applies)) {
    case KeypointPairing::KeepApart:
        return sized;
    case KeypointPairing::JoinIntoSet:
        return withPairedKeypointObjects(sized);
    case KeypointPairing::BoxOnly:
        break;
    }
    return withPairedKeypointObjects(sized, true);
}

// The state of one export run: where it writes, how far it got, and the first
// failure, after which it stops.
class ExportRun {
public:
    ExportRun(IFormatHandler *handler, const ExportConfig &config, const Dataset &dataset, bool handlerWritesImages,
              ProgressCallback progress)
        : m_handler(handler), m_config(config), m_dataset(exportedDataset(handler, config, dataset, &m_crowdsLeftOut)),
          m_handlerWritesImages(handlerWritesImages), m_progress(std::move(progress)), m_output(config.outputPath),
          m_classNames(m_dataset.classNames()), m_yolo(yoloExportLayout(handler))
    {
    }

    bool runWhole(int imageCount, QString *resultText);
    bool runSplit(QString *resultText);
    const QString &error() const { return m_error; }

private:
    bool copiesImages() const
    {
        return m_config.copyImages && !m_config.embedBase64 && !m_handlerWritesImages;
    }
    void report(int current) const
    {
        if (m_progress)
            m_progress(current, m_total);
    }
    // Reports every count from the last one reported up to `current`, so
    // that each count is told once and in order, however the work that
    // reaches it is cut.
    void reportRising(int current)
    {
        while (m_reported < current)
            report(++m_reported);
    }
    // Progress of a step whose own counts run from offset + 1, told only
    // where it is beyond what was told before.
    ProgressCallback risingProgress(int offset);
    bool fail(const QString &message)
    {
        m_error = message;
        return false;
    }
    bool failWrite(const QString &subset, const QString &path);
    bool makeFolder(const QString &subset, const QString &path);
    bool checkSources();
    void noteRefused(const ImageEntry &image);
    QString withNotes(const QString &result) const;
    bool copyPictures(QList<ImageEntry> &images, const QString &folder, const QString &subset);
    bool copiesSucceeded(const ExportImagesOutcome &outcome, const QList<ImageEntry> &images,
                         const QStringList &destinations, const QString &subset);
    ExportImagesOutcome runCopies(const QList<ImageEntry> &images, const QStringList &destinations,
                                  std::atomic<bool> &stop);
    bool renameAfterRefusals(const QList<ImageEntry> &images, const QString &folder, const QString &subset,
                             const QStringList &destinations, const QList<bool> &written);
    bool writeImage(const QString &subset, const ImageEntry &image, const QString &destination);
    bool imageWritten(const QString &subset, const ImageEntry &image, const QString &destination,
                      ExportImageResult result);
    bool writeYoloLabels(const QList<ImageEntry> &images, const QStringList &labelPaths, const QString &subset,
                         const std::atomic<int> *imagesDone, std::atomic<bool> &stop);

    QList<int> imageOrder() const;
    Dataset subsetDataset(const QList<int> &order, const ExportSplit &split) const;
    bool writeYoloSet(const QList<ImageEntry> &images, const QString &folder, const QString &subset);
    bool writeYoloClassFiles(const QStringList &imageFolders);
    bool writeHandlerSubset(Dataset &subset, const QString &splitName);
    bool writeExportIndex(const QList<IExportIndexWriter::Subset> &subsets);
    bool writeSubsetOfOneDataset(ISubsetExportHandler *writer, const Dataset &subset, const QString &splitName);
    bool writeSubsetDataYaml(const ISubsetExportHandler *writer, const QStringList &written);
    // LabelMe files name their image by a path relative to themselves: the
    // folder the pictures are copied into.
    void setLabelMeImageFolder(const QString &folder) const
    {
        if (auto *labelMe = dynamic_cast<LabelMeHandler *>(m_handler))
            labelMe->imageFolder = folder;
    }

    IFormatHandler *m_handler;
    const ExportConfig &m_config;
    int m_crowdsLeftOut = 0; // set as m_dataset is made, so declared before it
    Dataset m_dataset;       // less the entries refused as no pictures
    bool m_handlerWritesImages;
    ProgressCallback m_progress;
    QDir m_output;
    QStringList m_classNames;
    YoloExportLayout m_yolo;
    int m_total = 0;
    int m_done = 0;
    int m_reported = 0;
    QString m_error;
    int m_refused = 0;
    QStringList m_refusedNames;
    int m_written = 0; // images of a split export written so far
};

ProgressCallback ExportRun::risingProgress(int offset)
{
    if (!m_progress)
        return {};
    return [this, offset](int current, int) { reportRising(offset + current); };
}

bool ExportRun::failWrite(const QString &subset, const QString &path)
{
    if (subset.isEmpty())
        return fail(QStringLiteral("Export failed: could not write %1.").arg(nativePath(path)));
    return fail(QStringLiteral("Export failed for the %1 subset: could not write %2.").arg(subset, nativePath(path)));
}

bool ExportRun::makeFolder(const QString &subset, const QString &path)
{
    if (ensureFolder(path))
        return true;
    if (subset.isEmpty())
        return fail(QStringLiteral("Export failed: could not create the folder %1.").arg(nativePath(path)));
    return fail(QStringLiteral("Export failed for the %1 subset: could not create the folder %2.")
                    .arg(subset, nativePath(path)));
}

// Before anything is written. An export that writes images (the job's
// copies, or a handler writing its own) must write every one of them: labels
// written for an image whose pixels are missing would be reported as
// exported while the dataset lacks the picture. And an export that carries
// pixels (copies, images a handler writes, embedded pictures) carries only
// pictures: a dataset may name any file as an image, and such an entry is
// left out whole, labels and all, and named in the result instead of being
// counted. Each file is looked at once: the job's own copies judge a file's
// content from the one open that copies it (copyPictures), so here only its
// kind is asked; the files a handler writes or embeds are opened here.
bool ExportRun::checkSources()
{
    const bool copies = copiesImages();
    if (!copies && !m_handlerWritesImages && !m_config.embedBase64)
        return true;
    const bool needsPixels = copies || m_handlerWritesImages;
    const int n = int(m_dataset.images.size());
    std::vector<ExportSource> sources(size_t(n), ExportSource::Picture);
    readInParallel(
        n, [&](int i) { sources[size_t(i)] = examineExportSource(m_dataset.images.at(i), !copies); }, {});

    QList<ImageEntry> kept;
    kept.reserve(n);
    QStringList missing;
    int missingCount = 0;
    for (int i = 0; i < n; ++i) {
        ImageEntry &image = m_dataset.images[i];
        switch (sources[size_t(i)]) {
        case ExportSource::NotPicture:
            noteRefused(image);
            continue;
        case ExportSource::Missing:
            if (needsPixels && ++missingCount <= 5)
                missing.append(imageLabel(image));
            break;
        case ExportSource::Picture:
            break;
        }
        kept.append(std::move(image));
    }
    m_dataset.images = std::move(kept);
    if (!needsPixels || missingCount == 0)
        return true;
    if (missingCount == 1)
        return fail(QStringLiteral("Export failed: the image %1 cannot be found.").arg(missing.first()));
    if (missingCount > missing.size())
        missing.append(QStringLiteral("…"));
    return fail(
        QStringLiteral("Export failed: %1 images cannot be found:\n%2").arg(missingCount).arg(missing.join('\n')));
}

void ExportRun::noteRefused(const ImageEntry &image)
{
    if (++m_refused <= 5)
        m_refusedNames.append(imageLabel(image));
}

// The result, with a line for the entries refused as no pictures and one for
// the crowd regions the format could not mark.
QString ExportRun::withNotes(const QString &result) const
{
    QString text = result;
    if (const QString note = refusedEntriesNote(m_refused, m_refusedNames); !note.isEmpty())
        text += QLatin1Char('\n') + note;
    if (m_crowdsLeftOut > 0) {
        text += QLatin1Char('\n') +
                QStringLiteral("%1 crowd %2 left out: %3 cannot mark a crowd, and would teach it as one object.")
                    .arg(m_crowdsLeftOut)
                    .arg(m_crowdsLeftOut == 1 ? QStringLiteral("region was") : QStringLiteral("regions were"))
                    .arg(m_config.format);
    }
    return text;
}

// The run's verdict on a list of images written: false, with the failure
// recorded, when a write failed or an image's pixels were gone (they were
// there when the export began).
bool ExportRun::copiesSucceeded(const ExportImagesOutcome &outcome, const QList<ImageEntry> &images,
                                const QStringList &destinations, const QString &subset)
{
    if (outcome.failedIndex >= 0) {
        const qsizetype i = outcome.failedIndex;
        return imageWritten(subset, images.at(i), destinations.at(i), ExportImageResult::Failed);
    }
    if (!outcome.missing.isEmpty()) {
        const qsizetype i = outcome.missing.first();
        return imageWritten(subset, images.at(i), destinations.at(i), ExportImageResult::NoPixels);
    }
    return true;
}

// Writes the pictures on several threads; progress counts them on from
// m_done as they are written.
ExportImagesOutcome ExportRun::runCopies(const QList<ImageEntry> &images, const QStringList &destinations,
                                         std::atomic<bool> &stop)
{
    std::atomic<int> done{0};
    std::future<ExportImagesOutcome> copies =
        std::async(std::launch::async, [&] { return writeExportImages(images, destinations, done, stop); });
    while (copies.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready)
        reportRising(m_done + done.load());
    reportRising(m_done + done.load());
    return copies.get();
}

// The pictures of a set of images copied into `folder` under their export
// names, before the files that name them are written. An image found to be no
// picture is left out of `images`; where that changes the export names of
// others (a name it took first), they are copied again under their new names
// and the files copied under the old ones removed.
bool ExportRun::copyPictures(QList<ImageEntry> &images, const QString &folder, const QString &subset)
{
    if (!makeFolder(subset, folder))
        return false;
    const QStringList stems = uniqueExportStems(images);
    QStringList destinations;
    destinations.reserve(images.size());
    for (qsizetype i = 0; i < images.size(); ++i)
        destinations.append(folder + QLatin1Char('/') + exportFileName(stems.at(i), images.at(i).filePath));
    ExportJournal::noteAhead(destinations);
    std::atomic<bool> stop{false};
    const ExportImagesOutcome outcome = runCopies(images, destinations, stop);
    if (!copiesSucceeded(outcome, images, destinations, subset))
        return false;
    if (outcome.notPictures.isEmpty())
        return true;
    for (const qsizetype refused : outcome.notPictures)
        noteRefused(images.at(refused));
    QList<ImageEntry> kept;
    QStringList keptDestinations;
    QList<bool> keptWritten;
    for (qsizetype i = 0, next = 0; i < images.size(); ++i) {
        if (next < outcome.notPictures.size() && outcome.notPictures.at(next) == i) {
            ++next;
            continue;
        }
        kept.append(images.at(i));
        keptDestinations.append(destinations.at(i));
        keptWritten.append(outcome.written.at(i));
    }
    images = std::move(kept);
    return renameAfterRefusals(images, folder, subset, keptDestinations, keptWritten);
}

// The kept images under the export names they have without the refused ones:
// those whose name changed are copied again, and the files this export wrote
// under names no image has any more are removed.
bool ExportRun::renameAfterRefusals(const QList<ImageEntry> &images, const QString &folder, const QString &subset,
                                    const QStringList &destinations, const QList<bool> &written)
{
    const QStringList stems = uniqueExportStems(images);
    QSet<QString> now;
    for (qsizetype i = 0; i < images.size(); ++i) {
        const QString destination = folder + QLatin1Char('/') + exportFileName(stems.at(i), images.at(i).filePath);
        now.insert(destination);
        if (destination != destinations.at(i) && !writeImage(subset, images.at(i), destination))
            return false;
    }
    for (qsizetype i = 0; i < images.size(); ++i) {
        if (written.at(i) && !now.contains(destinations.at(i)))
            QFile::remove(destinations.at(i));
    }
    return true;
}

bool ExportRun::writeImage(const QString &subset, const ImageEntry &image, const QString &destination)
{
    return imageWritten(subset, image, destination, writeExportImage(image, destination));
}

// The run's verdict on one image written: true when it is in place, otherwise
// the failure is recorded.
bool ExportRun::imageWritten(const QString &subset, const ImageEntry &image, const QString &destination,
                             ExportImageResult result)
{
    switch (result) {
    case ExportImageResult::Written:
    case ExportImageResult::IsSource:
        return true;
    case ExportImageResult::NoPixels:
        return fail(QStringLiteral("Export failed: the image %1 cannot be found.").arg(imageLabel(image)));
    case ExportImageResult::NotPicture:
        return fail(QStringLiteral("Export failed: %1 is no picture.").arg(imageLabel(image)));
    case ExportImageResult::Failed:
        break;
    }
    return failWrite(subset, destination);
}

bool ExportRun::runWhole(int imageCount, QString *resultText)
{
    if (!checkSources())
        return false;
    const int n = int(m_dataset.images.size());
    m_total = copiesImages() && !m_yolo.applies ? 2 * n : n;
    if (!makeFolder(QString(), m_output.path()))
        return false;

    if (m_yolo.applies) {
        // The layout YOLO loaders pair: labels/ beside images/, and the
        // data.yaml that tells keypoint lines from polygon lines on reading.
        const QString set = m_yolo.wholeIntoTrain ? QStringLiteral("train") : QString();
        const QString folder = set.isEmpty() ? m_output.path() : m_output.filePath(set);
        const QString images = set.isEmpty() ? QStringLiteral("images") : set + QStringLiteral("/images");
        if (!writeYoloSet(m_dataset.images, folder, QString()) || !writeYoloClassFiles({images, images}))
            return false;
    } else {
        // The pictures lie where the format's loaders look for them: beside
        // the annotation files, as in each folder of a split export (the
        // formats that name bare file names are read by loaders that join
        // them with the annotation file's folder, and Darknet pairs
        // <picture>.txt with the picture in the same folder), or in CVAT's
        // images/. They are copied first, so that the annotations name
        // exactly the pictures that are there.
        if (copiesImages()) {
            if (!copyPictures(m_dataset.images, exportPictureFolder(m_handler, m_config), QString()))
                return false;
            m_done = n;
        }
        const QString target = exportTargetPath(m_config.format, m_config.outputPath);
        setLabelMeImageFolder(QString());
        if (!m_handler->exportDataset(target, m_dataset, risingProgress(m_done)))
            return fail(QStringLiteral("Export failed."));
    }
    if (!writeExportIndex({{QString(), m_dataset.images}}))
        return false;
    report(m_total);
    *resultText = withNotes(
        QStringLiteral("Exported %1 images → %2").arg(std::max(0, imageCount - m_refused)).arg(m_config.outputPath));
    return true;
}

QList<int> ExportRun::imageOrder() const
{
    QList<int> order(m_dataset.images.size());
    std::iota(order.begin(), order.end(), 0);
    if (m_config.shuffle) {
        std::random_device device;
        std::mt19937 generator(device());
        std::shuffle(order.begin(), order.end(), generator);
    }
    return order;
}

Dataset ExportRun::subsetDataset(const QList<int> &order, const ExportSplit &split) const
{
    Dataset subset;
    for (int i = split.start; i < split.start + split.count; ++i)
        subset.addImage(m_dataset.images.at(order.at(i)));
    for (auto it = m_dataset.classColors.cbegin(); it != m_dataset.classColors.cend(); ++it)
        subset.addClass(it.key(), it.value());
    // Classes used only by annotations join too, so that every subset sees
    // the same class list whichever of them it happens to use.
    for (const QString &name : m_classNames)
        subset.addClass(name, QColor());
    subset.setKeypointSchema(m_dataset.keypointSchema);
    return subset;
}

// One set of a YOLO-family export: folder/labels with a label file per image
// and, when images are copied, folder/images with the pictures under the same
// stems. The images are copied on a thread of their own while this one writes
// the label files: the two folders fill side by side, and each image counts
// as done once both of its files are. The first failure of either side stops
// both.
bool ExportRun::writeYoloSet(const QList<ImageEntry> &images, const QString &folder, const QString &subset)
{
    const QString labelsDir = folder + QStringLiteral("/labels");
    const QString imagesDir = folder + QStringLiteral("/images");
    if (!makeFolder(subset, labelsDir) || (copiesImages() && !makeFolder(subset, imagesDir)))
        return false;
    const QStringList stems = uniqueExportStems(images);
    QStringList labelPaths;
    QStringList imagePaths;
    labelPaths.reserve(images.size());
    imagePaths.reserve(images.size());
    for (qsizetype i = 0; i < images.size(); ++i) {
        labelPaths.append(labelsDir + QLatin1Char('/') + stems.at(i) + QStringLiteral(".txt"));
        imagePaths.append(imagesDir + QLatin1Char('/') + exportFileName(stems.at(i), images.at(i).filePath));
    }

    std::atomic<bool> stop{false};
    if (!copiesImages()) {
        const bool written = writeYoloLabels(images, labelPaths, subset, nullptr, stop);
        m_done += written ? int(images.size()) : 0;
        m_written += written ? int(images.size()) : 0;
        return written;
    }
    std::atomic<int> imagesDone{0};
    std::future<ExportImagesOutcome> copies =
        std::async(std::launch::async, [&] { return writeExportImages(images, imagePaths, imagesDone, stop); });
    const bool labelsWritten = writeYoloLabels(images, labelPaths, subset, &imagesDone, stop);
    // The labels are done (or failed): report the copies as they finish.
    while (copies.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready)
        reportRising(m_done + imagesDone.load());
    const ExportImagesOutcome outcome = copies.get();
    if (!labelsWritten || !copiesSucceeded(outcome, images, imagePaths, subset))
        return false;
    // A file found to be no picture as it was copied is left out whole: its
    // label file goes too.
    for (const qsizetype refused : outcome.notPictures) {
        noteRefused(images.at(refused));
        QFile::remove(labelPaths.at(refused));
    }
    m_written += int(images.size() - outcome.notPictures.size());
    m_done += int(images.size());
    reportRising(m_done);
    return true;
}

// The label files of a set, in order, until one fails or `stop` is set (by a
// failed image copy). Progress counts an image once its copy, counted in
// `imagesDone` when there is one, is done too.
bool ExportRun::writeYoloLabels(const QList<ImageEntry> &images, const QStringList &labelPaths, const QString &subset,
                                const std::atomic<int> *imagesDone, std::atomic<bool> &stop)
{
    const YoloClassIndex classIndex = yoloClassIndex(m_classNames);
    // The subsets of a split are one dataset: data.yaml hands them to one
    // training run, which learns masks or boxes for all of them. So the
    // whole export decides how boxes are written, not each subset.
    const YoloBoxLines boxes = yoloBoxLinesOf(m_dataset.images);
    QByteArray lines;
    for (qsizetype i = 0; i < images.size(); ++i) {
        if (stop.load(std::memory_order_relaxed))
            return true; // the copies stopped; their failure is reported
        lines.clear();
        appendYoloLabelLines(lines, images.at(i), classIndex, boxes);
        if (!writeFileAtomically(labelPaths.at(i), lines)) {
            stop.store(true);
            return failWrite(subset, labelPaths.at(i));
        }
        const int written = int(i) + 1;
        reportRising(m_done + (imagesDone ? std::min(written, imagesDone->load(std::memory_order_relaxed)) : written));
    }
    return true;
}

bool ExportRun::writeYoloClassFiles(const QStringList &imageFolders)
{
    const QString classesPath = m_output.filePath(QStringLiteral("classes.txt"));
    if (!writeDocumentFile(classesPath, classListFileBytes(m_classNames)))
        return failWrite(QString(), classesPath);
    if (!m_config.generateYaml)
        return true;
    const QString yamlPath = m_output.filePath(QStringLiteral("data.yaml"));
    const QByteArray yaml =
        yoloExportDataYaml(m_config.outputPath, imageFolders, m_classNames, largestKeypointCount(m_dataset),
                           m_dataset.keypointSchema.keypointNames, m_yolo.roboflowSection);
    if (!writeDocumentFile(yamlPath, yaml))
        return failWrite(QString(), yamlPath);
    return true;
}

// The root's index files of a format trained through them (Darknet), once
// every subset is in place.
bool ExportRun::writeExportIndex(const QList<IExportIndexWriter::Subset> &subsets)
{
    auto *writer = dynamic_cast<IExportIndexWriter *>(m_handler);
    if (!writer || writer->writeExportIndex(m_config.outputPath, subsets, m_classNames))
        return true;
    return fail(QStringLiteral("Export failed: could not write the index files in %1.").arg(nativePath(m_output.path())));
}

bool ExportRun::writeHandlerSubset(Dataset &subset, const QString &splitName)
{
    const QString splitDir = m_output.filePath(splitName);
    if (!makeFolder(splitName, splitDir))
        return false;
    const int count = int(subset.images.size());
    // The pictures of a subset lie where its files name them, copied first.
    if (copiesImages()) {
        const QString subfolder = pictureSubfolder(m_config.format);
        const QString folder = subfolder.isEmpty() ? splitDir : splitDir + QLatin1Char('/') + subfolder;
        if (!copyPictures(subset.images, folder, splitName))
            return false;
    }
    // One-file formats write their file inside the split folder.
    const QString target = exportTargetPath(m_config.format, splitDir);
    setLabelMeImageFolder(QString());
    if (!m_handler->exportDataset(target, subset, risingProgress(m_done)))
        return fail(QStringLiteral("Export failed for the %1 subset.").arg(splitName));
    m_written += int(subset.images.size());
    m_done += count;
    reportRising(m_done);
    return true;
}

// A subset of a format whose split dataset is one root (ISubsetExportHandler):
// the handler writes it below the output folder itself.
bool ExportRun::writeSubsetOfOneDataset(ISubsetExportHandler *writer, const Dataset &subset, const QString &splitName)
{
    const int offset = m_done;
    const int count = int(subset.images.size());
    ProgressCallback progress;
    if (m_progress) {
        // The handler's own total (which may count labels and pictures apart)
        // scaled to the subset's share of the job.
        progress = [this, offset, count](int current, int total) {
            reportRising(offset + int(qint64(current) * count / std::max(total, 1)));
        };
    }
    if (!writer->exportSubset(m_config.outputPath, splitName, subset, largestKeypointCount(m_dataset), progress))
        return fail(QStringLiteral("Export failed for the %1 subset.").arg(splitName));
    m_written += count;
    m_done += count;
    reportRising(m_done);
    return true;
}

bool ExportRun::writeSubsetDataYaml(const ISubsetExportHandler *writer, const QStringList &written)
{
    const QString yamlPath = m_output.filePath(QStringLiteral("data.yaml"));
    const QByteArray yaml = writer->subsetDataYaml(written, m_dataset);
    if (!writeDocumentFile(yamlPath, yaml))
        return failWrite(QString(), yamlPath);
    return true;
}

// The image folders data.yaml names for a split export: only subsets that
// were written, since a trainer stops at a folder that is not there. An empty
// valid subset is validated on train, as an export without a split is.
QStringList yoloSplitFolders(const QList<ExportSplit> &splits)
{
    QStringList folders;
    for (const ExportSplit &split : splits)
        folders.append(split.count > 0 ? split.name + QStringLiteral("/images") : QString());
    if (folders.at(1).isEmpty())
        folders[1] = folders.at(0);
    return folders;
}

bool ExportRun::runSplit(QString *resultText)
{
    if (!checkSources())
        return false;
    const int n = int(m_dataset.images.size());
    m_total = n;
    if (!makeFolder(QString(), m_output.path()))
        return false;
    const QList<int> order = imageOrder();
    const QList<ExportSplit> splits = computeExportSplits(n, m_config.trainPct, m_config.validPct);
    // The formats whose split dataset is one root with one data.yaml.
    auto *oneDataset = dynamic_cast<ISubsetExportHandler *>(m_handler);
    QStringList written;
    QList<IExportIndexWriter::Subset> indexed;
    // The images each subset holds once written: those its copies found to
    // be no pictures are not among them.
    int counts[3] = {0, 0, 0};
    for (int s = 0; s < splits.size(); ++s) {
        const ExportSplit &split = splits.at(s);
        if (split.count <= 0)
            continue;
        Dataset subset = subsetDataset(order, split);
        const int writtenBefore = m_written;
        bool ok = false;
        if (m_yolo.applies)
            ok = writeYoloSet(subset.images, m_output.filePath(split.name), split.name);
        else if (oneDataset)
            ok = writeSubsetOfOneDataset(oneDataset, subset, split.name);
        else
            ok = writeHandlerSubset(subset, split.name);
        if (!ok)
            return false;
        counts[s] = m_written - writtenBefore;
        written.append(split.name);
        indexed.append({split.name, subset.images});
    }
    if (m_yolo.applies && !writeYoloClassFiles(yoloSplitFolders(splits)))
        return false;
    if (oneDataset && !writeSubsetDataYaml(oneDataset, written))
        return false;
    if (!writeExportIndex(indexed))
        return false;
    report(m_total);
    *resultText = withNotes(QStringLiteral("Exported %1 images  (train %2 / valid %3 / test %4)  → %5")
                                .arg(m_written)
                                .arg(counts[0])
                                .arg(counts[1])
                                .arg(counts[2])
                                .arg(m_config.outputPath));
    return true;
}

} // namespace

bool runExportJob(IFormatHandler *handler, const ExportConfig &config, const Dataset &dataset, int imageCount,
                  bool handlerWritesImages, ProgressCallback progress, QString *errorText, QString *resultText)
{
    QString result;
    QString error;
    bool ok = false;
    if (!handler) {
        error = QStringLiteral("Export failed.");
    } else if (config.outputPath.trimmed().isEmpty()) {
        // Never fall back to the working folder or the file-system root.
        error = QStringLiteral("No output path selected.");
    } else {
        // What an export that did not finish left in the folder goes first;
        // what this one writes is noted until it is complete.
        ExportJournal journal(config.outputPath);
        ExportRun run(handler, config, dataset, handlerWritesImages, std::move(progress));
        ok = config.split ? run.runSplit(&result) : run.runWhole(imageCount, &result);
        error = run.error();
        if (ok)
            journal.finish();
    }
    if (ok && resultText)
        *resultText = result;
    if (!ok && errorText)
        *errorText = error;
    return ok;
}

} // namespace Quillmark
