#include "formats/Florence2Handler.h"

#include "formats/DatasetImagePath.h"
#include "formats/ExportNames.h"
#include "formats/ImageProbe.h"
#include "formats/LocationTokens.h"
#include "formats/SafeWrite.h"
#include "model/JsonLineReader.h"
#include "model/JsonParser.h"
#include "model/RegularFile.h"

#include <QFileInfo>
#include <QRegularExpression>

namespace Quillmark {

namespace {

constexpr int kMaxToken = 999;
constexpr double kSteps = 1000.0;

QString annotationsFile(const QString &path)
{
    if (path.endsWith(QLatin1String(".jsonl"), Qt::CaseInsensitive))
        return path;
    return QDir(path).filePath(QStringLiteral("annotations.jsonl"));
}

} // namespace

QString Florence2Handler::name() const { return QStringLiteral("Florence-2"); }
QString Florence2Handler::extension() const { return QStringLiteral("jsonl"); }

bool isFlorenceJsonlFile(const QString &path)
{
    const QByteArray head = readRegularFileHead(path, 512);
    if (!head.contains("\"prefix\""))
        return false;
    // A file whose first images have no boxes shows no token yet, but its
    // task prompt.
    return head.contains("<loc_") || hasPrefixValue(head, "<OD>");
}

bool Florence2Handler::canImport(const QString &path) const
{
    return isFlorenceJsonlFile(annotationsFile(path));
}

QString buildFlorenceSuffix(const QList<Annotation> &annotations, int width, int height)
{
    const bool sized = width >= 1 && height >= 1;
    const double sx = sized ? kSteps / width : kSteps;
    const double sy = sized ? kSteps / height : kSteps;
    QString suffix;
    for (const Annotation &annotation : annotations) {
        const std::optional<QRectF> box = locationBox(annotation);
        if (!box)
            continue;
        suffix += annotation.className;
        suffix += QStringLiteral("<loc_%1><loc_%2><loc_%3><loc_%4>")
                      .arg(quantizeLocation(box->left() * sx, kMaxToken))
                      .arg(quantizeLocation(box->top() * sy, kMaxToken))
                      .arg(quantizeLocation(box->right() * sx, kMaxToken))
                      .arg(quantizeLocation(box->bottom() * sy, kMaxToken));
    }
    return suffix;
}

QList<Annotation> parseFlorenceSuffix(const QString &suffix, int width, int height)
{
    static const QRegularExpression chunk(
        QStringLiteral("([^<]+)<loc_([0-9]+)><loc_([0-9]+)><loc_([0-9]+)><loc_([0-9]+)>"));
    QList<Annotation> annotations;
    auto matches = chunk.globalMatch(suffix);
    while (matches.hasNext()) {
        const QRegularExpressionMatch match = matches.next();
        const QString label = match.captured(1).trimmed();
        if (label.isEmpty())
            continue;
        // An image of unknown size keeps its boxes as fractions of 1 rather
        // than squashing them into its corner.
        auto coordinate = [&](int group, int extent) {
            return match.captured(group).toDouble() / kSteps * (extent >= 1 ? extent : 1);
        };
        const double x1 = coordinate(2, width);
        const double y1 = coordinate(3, height);
        Annotation annotation;
        annotation.className = label;
        annotation.kind = BoundingBox;
        annotation.bbox = QRectF(x1, y1, coordinate(4, width) - x1, coordinate(5, height) - y1).normalized();
        annotations.append(annotation);
    }
    return annotations;
}

bool Florence2Handler::importDataset(const QString &path, Dataset &dataset, ProgressCallback progress)
{
    const QString file = annotationsFile(path);
    JsonLineReader reader;
    if (!reader.open(file))
        return false;
    const int total = int(std::min<qint64>(JsonLineReader::countLines(file), std::numeric_limits<int>::max()));
    const QDir base(QFileInfo(file).absolutePath());
    JsonParser parser;
    LocationRecord record;
    QByteArrayView line;
    int added = 0;
    while (reader.next(&line)) {
        if (!readLocationRecord(parser, line, &record))
            continue;
        ImageEntry entry;
        entry.id = added;
        entry.filePath = resolveDatasetImagePath(base, record.image);
        const QSize size = probeImageSize(entry.filePath);
        entry.width = size.width();
        entry.height = size.height();
        entry.labels = parseFlorenceSuffix(record.suffix, entry.width, entry.height);
        dataset.addImage(entry);
        ++added;
        if (progress)
            progress(added, std::max(total, added));
    }
    return added > 0;
}

bool Florence2Handler::exportDataset(const QString &path, const Dataset &dataset, ProgressCallback progress)
{
    if (!ensureFolder(QFileInfo(path).absolutePath()))
        return false;
    const QStringList stems = uniqueExportStems(dataset.images);
    const int total = int(dataset.images.size());
    QByteArray text;
    for (int i = 0; i < total; ++i) {
        if (progress)
            progress(i + 1, total);
        const ImageEntry &image = dataset.images.at(i);
        const TokenAnnotations boxes = tokenAnnotations(image);
        appendLocationRecord(text, exportFileName(stems.at(i), image.filePath), QStringLiteral("<OD>"),
                             buildFlorenceSuffix(boxes.annotations, boxes.size.width(), boxes.size.height()));
    }
    return writeDocumentFile(path, text);
}

} // namespace Quillmark
