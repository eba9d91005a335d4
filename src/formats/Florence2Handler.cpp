#include "formats/Florence2Handler.h"

#include "formats/ImportFailure.h"
#include "formats/LocationTokens.h"
#include "model/FiniteNumber.h"
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

QString Florence2Handler::name() const
{
    return QStringLiteral("Florence-2");
}
QString Florence2Handler::extension() const
{
    return QStringLiteral("jsonl");
}

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
    const QPointF scale = tokenScale(width, height, kSteps);
    QString suffix;
    for (const Annotation &annotation : annotations) {
        const std::optional<QRectF> box = locationBox(annotation);
        if (!box)
            continue;
        suffix += annotation.className;
        suffix += QStringLiteral("<loc_%1><loc_%2><loc_%3><loc_%4>")
                      .arg(quantizeLocation(box->left() * scale.x(), kMaxToken))
                      .arg(quantizeLocation(box->top() * scale.y(), kMaxToken))
                      .arg(quantizeLocation(box->right() * scale.x(), kMaxToken))
                      .arg(quantizeLocation(box->bottom() * scale.y(), kMaxToken));
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
        auto token = [&](int group) { return match.captured(group).toDouble(); };
        const Annotation annotation =
            tokenBoxAnnotation(label, {token(2), token(3), token(4), token(5)}, kSteps, width, height);
        // The finite-number rule: a box that single precision cannot hold is left out.
        if (geometryFitsFloat(annotation))
            annotations.append(annotation);
    }
    return annotations;
}

bool Florence2Handler::importDataset(const QString &path, Dataset &dataset, ProgressCallback progress)
{
    const QString file = annotationsFile(path);
    JsonLineReader reader;
    if (!reader.open(file)) {
        ImportFailure::noteCannotOpen(file);
        return false;
    }
    const int total = int(std::min<qint64>(JsonLineReader::countLines(file), std::numeric_limits<int>::max()));
    const QDir base(QFileInfo(file).absolutePath());
    JsonParser parser;
    LocationRecord record;
    QByteArrayView line;
    int added = 0;
    while (reader.next(&line)) {
        if (!readLocationRecord(parser, line, &record))
            continue;
        dataset.addImage(locationRecordImage(base, record, added, parseFlorenceSuffix));
        ++added;
        if (progress)
            progress(added, std::max(total, added));
    }
    return added > 0;
}

bool Florence2Handler::exportDataset(const QString &path, const Dataset &dataset, ProgressCallback progress)
{
    return writeLocationRecords(path, dataset, QStringLiteral("<OD>"), buildFlorenceSuffix, progress);
}

} // namespace Quillmark
