#include "formats/ExportJob.h"

#include "formats/ClassListFile.h"
#include "formats/ExportImageWriter.h"
#include "formats/ExportNames.h"
#include "formats/ExportSplit.h"
#include "formats/SafeWrite.h"
#include "formats/YoloDataYaml.h"
#include "formats/YoloLabelLines.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <numeric>
#include <random>

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

bool formatWritesOwnImages(const QString &format)
{
    static const QStringList formats = {QStringLiteral("CLIP"),       QStringLiteral("Multiclass"),
                                        QStringLiteral("YOLOv5 OBB"), QStringLiteral("YOLOv6 MT"),
                                        QStringLiteral("YOLOv8 OBB"), QStringLiteral("YOLO Pose")};
    return formats.contains(format);
}

QByteArray yoloSplitDataYaml(const QString &outputPath, const QStringList &classNames, int keypointCount)
{
    QString text;
    text += QStringLiteral("path: ") + yamlScalar(QDir::toNativeSeparators(outputPath)) + QLatin1Char('\n');
    text += QStringLiteral("train: train/images\n");
    text += QStringLiteral("val: valid/images\n");
    text += QStringLiteral("test: test/images\n");
    text += QLatin1Char('\n');
    if (keypointCount > 0)
        text += QStringLiteral("kpt_shape: [%1, 3]\n").arg(keypointCount);
    text += QStringLiteral("nc: %1\n").arg(classNames.size());
    text += QStringLiteral("names: ") + yamlQuotedList(classNames) + QLatin1Char('\n');
    return text.toUtf8();
}

namespace {

int largestKeypointCount(const Dataset &dataset)
{
    int largest = 0;
    for (const ImageEntry &image : dataset.images) {
        for (const Annotation &a : image.labels) {
            if (a.kind == Keypoint)
                largest = std::max(largest, int(a.points.size()));
        }
    }
    return largest;
}

QString nativePath(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

// The state of one export run: where it writes, how far it got, and the first
// failure, after which it stops.
class ExportRun {
public:
    ExportRun(IFormatHandler *handler, const ExportConfig &config, const Dataset &dataset,
              bool handlerWritesImages, ProgressCallback progress)
        : m_handler(handler), m_config(config), m_dataset(dataset), m_handlerWritesImages(handlerWritesImages),
          m_progress(std::move(progress)), m_output(config.outputPath), m_classNames(dataset.classNames())
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
    ProgressCallback offsetProgress(int offset) const;
    bool fail(const QString &message)
    {
        m_error = message;
        return false;
    }
    bool failWrite(const QString &subset, const QString &path);
    bool makeFolder(const QString &subset, const QString &path);
    bool writeImage(const QString &subset, const ImageEntry &image, const QString &destination);

    QList<int> imageOrder() const;
    Dataset subsetDataset(const QList<int> &order, const ExportSplit &split) const;
    bool writeYoloSubset(const Dataset &subset, const QString &splitName);
    bool writeYoloClassFiles();
    bool writeHandlerSubset(const Dataset &subset, const QString &splitName);

    IFormatHandler *m_handler;
    const ExportConfig &m_config;
    const Dataset &m_dataset;
    bool m_handlerWritesImages;
    ProgressCallback m_progress;
    QDir m_output;
    QStringList m_classNames;
    int m_total = 0;
    int m_done = 0;
    QString m_error;
};

ProgressCallback ExportRun::offsetProgress(int offset) const
{
    if (!m_progress)
        return {};
    return [progress = m_progress, offset, total = m_total](int current, int) { progress(offset + current, total); };
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

bool ExportRun::writeImage(const QString &subset, const ImageEntry &image, const QString &destination)
{
    if (writeExportImage(image, destination) == ExportImageResult::Failed)
        return failWrite(subset, destination);
    return true;
}

bool ExportRun::runWhole(int imageCount, QString *resultText)
{
    const int n = int(m_dataset.images.size());
    m_total = copiesImages() ? 2 * n : n;
    if (!makeFolder(QString(), m_output.path()))
        return false;
    const QString target = exportTargetPath(m_config.format, m_config.outputPath);
    if (!m_handler->exportDataset(target, m_dataset, offsetProgress(0)))
        return fail(QStringLiteral("Export failed."));

    if (copiesImages()) {
        const QString imagesDir = m_output.filePath(QStringLiteral("images"));
        if (!makeFolder(QString(), imagesDir))
            return false;
        const QStringList stems = uniqueExportStems(m_dataset.images);
        for (int i = 0; i < n; ++i) {
            report(n + i + 1);
            const ImageEntry &image = m_dataset.images.at(i);
            const QString destination = imagesDir + QLatin1Char('/') + exportFileName(stems.at(i), image.filePath);
            if (!writeImage(QString(), image, destination))
                return false;
        }
    }
    report(m_total);
    *resultText = QStringLiteral("Exported %1 images → %2").arg(imageCount).arg(m_config.outputPath);
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
    return subset;
}

bool ExportRun::writeYoloSubset(const Dataset &subset, const QString &splitName)
{
    const QString splitDir = m_output.filePath(splitName);
    const QString labelsDir = splitDir + QStringLiteral("/labels");
    const QString imagesDir = splitDir + QStringLiteral("/images");
    if (!makeFolder(splitName, labelsDir) || (m_config.copyImages && !makeFolder(splitName, imagesDir)))
        return false;
    const YoloClassIndex classIndex = yoloClassIndex(m_classNames);
    const QStringList stems = uniqueExportStems(subset.images);
    QByteArray lines;
    for (int i = 0; i < subset.images.size(); ++i) {
        const ImageEntry &image = subset.images.at(i);
        lines.clear();
        appendYoloLabelLines(lines, image, classIndex);
        const QString labelPath = labelsDir + QLatin1Char('/') + stems.at(i) + QStringLiteral(".txt");
        if (!writeFileAtomically(labelPath, lines))
            return failWrite(splitName, labelPath);
        const QString imagePath = imagesDir + QLatin1Char('/') + exportFileName(stems.at(i), image.filePath);
        if (m_config.copyImages && !writeImage(splitName, image, imagePath))
            return false;
        report(++m_done);
    }
    return true;
}

bool ExportRun::writeYoloClassFiles()
{
    const QString classesPath = m_output.filePath(QStringLiteral("classes.txt"));
    if (!writeDocumentFile(classesPath, classListFileBytes(m_classNames)))
        return failWrite(QString(), classesPath);
    if (!m_config.generateYaml)
        return true;
    const QString yamlPath = m_output.filePath(QStringLiteral("data.yaml"));
    const QByteArray yaml = yoloSplitDataYaml(m_config.outputPath, m_classNames, largestKeypointCount(m_dataset));
    if (!writeDocumentFile(yamlPath, yaml))
        return failWrite(QString(), yamlPath);
    return true;
}

bool ExportRun::writeHandlerSubset(const Dataset &subset, const QString &splitName)
{
    const QString splitDir = m_output.filePath(splitName);
    if (!makeFolder(splitName, splitDir))
        return false;
    if (!m_handler->exportDataset(splitDir, subset, offsetProgress(m_done)))
        return fail(QStringLiteral("Export failed for the %1 subset.").arg(splitName));
    if (copiesImages()) {
        const QStringList stems = uniqueExportStems(subset.images);
        for (int i = 0; i < subset.images.size(); ++i) {
            const ImageEntry &image = subset.images.at(i);
            const QString destination = splitDir + QLatin1Char('/') + exportFileName(stems.at(i), image.filePath);
            if (!writeImage(splitName, image, destination))
                return false;
        }
    }
    m_done += int(subset.images.size());
    report(m_done);
    return true;
}

bool ExportRun::runSplit(QString *resultText)
{
    const int n = int(m_dataset.images.size());
    m_total = n;
    if (!makeFolder(QString(), m_output.path()))
        return false;
    const QList<int> order = imageOrder();
    const QList<ExportSplit> splits = computeExportSplits(n, m_config.trainPct, m_config.validPct);
    const bool yolo = m_config.format == QLatin1String("YOLO");
    for (const ExportSplit &split : splits) {
        if (split.count <= 0)
            continue;
        const Dataset subset = subsetDataset(order, split);
        const bool written = yolo ? writeYoloSubset(subset, split.name) : writeHandlerSubset(subset, split.name);
        if (!written)
            return false;
    }
    if (yolo && !writeYoloClassFiles())
        return false;
    report(m_total);
    *resultText = QStringLiteral("Exported %1 images  (train %2 / valid %3 / test %4)  → %5")
                      .arg(n)
                      .arg(splits.at(0).count)
                      .arg(splits.at(1).count)
                      .arg(splits.at(2).count)
                      .arg(m_config.outputPath);
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
        ExportRun run(handler, config, dataset, handlerWritesImages, std::move(progress));
        ok = config.split ? run.runSplit(&result) : run.runWhole(imageCount, &result);
        error = run.error();
    }
    if (ok && resultText)
        *resultText = result;
    if (!ok && errorText)
        *errorText = error;
    return ok;
}

} // namespace Quillmark
