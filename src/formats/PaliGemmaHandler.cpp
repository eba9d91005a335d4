#include "formats/PaliGemmaHandler.h"

#include "formats/FolderListing.h"
#include "formats/ImportFailure.h"
#include "formats/LocationTokens.h"
#include "model/FiniteNumber.h"
#include "model/JsonLineReader.h"
#include "model/JsonParser.h"
#include "model/RegularFile.h"

#include <QFileInfo>
#include <QRegularExpression>

#include <limits>

namespace Quillmark {

namespace {

constexpr int kMaxToken = 1023;
constexpr double kSteps = 1023.0;
const QString kSeparator = QStringLiteral(" ; ");

bool isJsonlPath(const QString &path)
{
    return path.endsWith(QLatin1String(".jsonl"), Qt::CaseInsensitive);
}

} // namespace

QString PaliGemmaHandler::name() const
{
    return QStringLiteral("PaliGemma");
}
QString PaliGemmaHandler::extension() const
{
    return QStringLiteral("jsonl");
}

bool isPaliGemmaJsonlFile(const QString &path)
{
    static const QRegularExpression token(QStringLiteral("<loc[0-9]"));
    const QByteArray head = readRegularFileHead(path, 512);
    if (!head.contains("\"prefix\""))
        return false;
    // A file whose first images have no boxes shows no token yet, but its
    // detection prompt.
    return token.match(QString::fromLatin1(head)).hasMatch() || hasPrefixValue(head, "detect");
}

QStringList paliGemmaFiles(const QString &folder)
{
    // The program's own export is "_annotations.jsonl"; split datasets name
    // their files "_annotations.train.jsonl" and the like.
    return listFiles(folder, {QStringLiteral("_annotations.jsonl"), QStringLiteral("_annotations.*.jsonl")});
}

bool PaliGemmaHandler::canImport(const QString &path) const
{
    if (isJsonlPath(path))
        return isPaliGemmaJsonlFile(path);
    const QStringList files = paliGemmaFiles(path);
    return std::any_of(files.cbegin(), files.cend(), isPaliGemmaJsonlFile);
}

QString buildPaliGemmaSuffix(const QList<Annotation> &annotations, int width, int height)
{
    const QPointF scale = tokenScale(width, height, kSteps);
    QStringList boxes;
    for (const Annotation &annotation : annotations) {
        const std::optional<QRectF> box = locationBox(annotation);
        if (!box)
            continue;
        auto token = [](double value) {
            return QString::number(quantizeLocation(value, kMaxToken)).rightJustified(4, u'0');
        };
        boxes.append(QStringLiteral("<loc%1><loc%2><loc%3><loc%4> %5")
                         .arg(token(box->top() * scale.y()), token(box->left() * scale.x()),
                              token(box->bottom() * scale.y()), token(box->right() * scale.x()), annotation.className));
    }
    return boxes.join(kSeparator);
}

QList<Annotation> parsePaliGemmaSuffix(const QString &suffix, int width, int height)
{
    static const QRegularExpression box(
        QStringLiteral("^\\s*<loc([0-9]+)><loc([0-9]+)><loc([0-9]+)><loc([0-9]+)>\\s+(.+)\\s*$"));
    QList<Annotation> annotations;
    const QStringList pieces = suffix.split(kSeparator, Qt::SkipEmptyParts);
    for (const QString &piece : pieces) {
        const QRegularExpressionMatch match = box.match(piece.trimmed());
        if (!match.hasMatch())
            continue;
        const QString label = match.captured(5).trimmed();
        if (label.isEmpty())
            continue;
        // Tokens in the order top, left, bottom, right.
        auto token = [&](int group) { return match.captured(group).toDouble(); };
        const Annotation annotation =
            tokenBoxAnnotation(label, {token(2), token(1), token(4), token(3)}, kSteps, width, height);
        // The finite-number rule: a box that single precision cannot hold is left out.
        if (geometryFitsFloat(annotation))
            annotations.append(annotation);
    }
    return annotations;
}

namespace {

// The classes a "detect a ; b" prompt names.
void addPromptClasses(const QString &prefix, Dataset &dataset)
{
    const QString marker = QStringLiteral("detect ");
    const qsizetype at = prefix.indexOf(marker);
    if (at < 0)
        return;
    const QStringList names = prefix.mid(at + marker.size()).split(kSeparator, Qt::SkipEmptyParts);
    for (const QString &name : names)
        dataset.addClass(name.trimmed(), QColor());
}

} // namespace

bool PaliGemmaHandler::importDataset(const QString &path, Dataset &dataset, ProgressCallback progress)
{
    const bool single = isJsonlPath(path);
    const QStringList files = single ? QStringList{path} : paliGemmaFiles(path);
    if (files.isEmpty())
        return false;
    const QDir base(single ? QFileInfo(path).absolutePath() : QFileInfo(path).absoluteFilePath());
    qint64 totalLines = 0;
    for (const QString &file : files)
        totalLines += std::max<qint64>(JsonLineReader::countLines(file), 0);
    const int total = int(std::min<qint64>(totalLines, std::numeric_limits<int>::max()));

    JsonParser parser;
    LocationRecord record;
    QByteArrayView line;
    int linesRead = 0;
    int added = 0;
    for (const QString &file : files) {
        JsonLineReader reader;
        if (!reader.open(file)) {
            ImportFailure::noteCannotOpen(file);
            continue;
        }
        while (reader.next(&line)) {
            ++linesRead;
            if (!readLocationRecord(parser, line, &record))
                continue;
            addPromptClasses(record.prefix, dataset);
            dataset.addImage(locationRecordImage(base, record, added, parsePaliGemmaSuffix));
            ++added;
            if (progress)
                progress(linesRead, std::max(total, linesRead));
        }
    }
    return added > 0;
}

bool PaliGemmaHandler::exportDataset(const QString &path, const Dataset &dataset, ProgressCallback progress)
{
    const QStringList classes = dataset.classNames();
    const QString prefix =
        classes.isEmpty() ? QStringLiteral("detect") : QStringLiteral("detect ") + classes.join(kSeparator);
    return writeLocationRecords(path, dataset, prefix, buildPaliGemmaSuffix, progress);
}

} // namespace Quillmark
