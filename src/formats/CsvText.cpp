#include "formats/CsvText.h"

#include "formats/ImportFailure.h"
#include "formats/NumberFormat.h"
#include "formats/SafeRead.h"
#include "formats/SafeWrite.h"
#include "model/JsonLineReader.h"
#include "model/RegularFile.h"

#include <QFileInfo>

#include <algorithm>
#include <limits>

namespace Quillmark {

namespace {

bool needsQuotes(const QString &text)
{
    if (text.isEmpty())
        return false;
    if (text.front().isSpace() || text.back().isSpace())
        return true;
    for (QChar c : text) {
        if (c == QLatin1Char(',') || c == QLatin1Char('"') || c == QLatin1Char('\n') || c == QLatin1Char('\r'))
            return true;
    }
    return false;
}

} // namespace

QString csvDatasetFile(const QString &path, const QString &defaultName)
{
    if (path.endsWith(QLatin1String(".csv"), Qt::CaseInsensitive))
        return path;
    return QDir(path).filePath(defaultName);
}

bool CsvFile::open(const QString &path)
{
    file.close();
    const qint64 lines = JsonLineReader::countLines(path);
    if (lines < 0 || !openRegularFile(file, path)) {
        ImportFailure::noteCannotOpen(path);
        return false;
    }
    this->path = path;
    folder = QDir(QFileInfo(path).absolutePath());
    lineCount = int(std::min<qint64>(lines, std::numeric_limits<int>::max()));
    return true;
}

QString csvField(const QString &text)
{
    if (!needsQuotes(text))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QByteArray csvRow(const QStringList &fields)
{
    QByteArray row;
    for (qsizetype i = 0; i < fields.size(); ++i) {
        if (i > 0)
            row.append(',');
        row.append(csvField(fields.at(i)).toUtf8());
    }
    return row;
}

CsvReader::CsvReader(QByteArrayView text) : m_text(text), m_started(true)
{
    if (m_text.startsWith("\xEF\xBB\xBF"))
        m_text = m_text.sliced(3);
}

CsvReader::CsvReader(QIODevice *device, const QString &fileName) : m_device(device), m_fileName(fileName) {}

int CsvReader::countLines(QByteArrayView text)
{
    const qsizetype breaks = text.count('\n');
    const bool openLast = !text.isEmpty() && !text.endsWith('\n');
    return int(breaks + (openLast ? 1 : 0));
}

bool CsvReader::fill()
{
    if (!m_device || m_damage != Damage::None)
        return false;
    constexpr qsizetype chunkBytes = 256 * 1024;
    if (m_chunk.size() != chunkBytes)
        m_chunk.resize(chunkBytes);
    const qint64 n = m_device->read(m_chunk.data(), chunkBytes);
    if (n < 0)
        return fail(Damage::ReadFailed);
    m_text = QByteArrayView(m_chunk.constData(), qsizetype(n));
    m_pos = 0;
    if (!m_started) {
        m_started = true;
        if (m_text.startsWith("\xEF\xBB\xBF"))
            m_pos = 3;
    }
    return n > 0 && (m_pos < m_text.size() || fill());
}

QString CsvReader::damageText(Damage damage)
{
    switch (damage) {
    case Damage::None:
        break;
    case Damage::OpenQuote:
        return QStringLiteral("a quoted field is not closed before the end of the file (damaged CSV).");
    case Damage::FieldTooLong:
        return QStringLiteral("a field is longer than %1 KiB (damaged CSV).").arg(kMaxFieldBytes / 1024);
    case Damage::RecordTooLong:
        return QStringLiteral("a record is longer than %1 MiB or has more than %2 fields (damaged CSV).")
            .arg(kMaxRecordBytes / (1024 * 1024))
            .arg(kMaxRecordFields);
    case Damage::ReadFailed:
        return QStringLiteral("the file could not be read.");
    }
    return QString();
}

bool CsvReader::fail(Damage damage)
{
    ImportFailure::note(m_fileName, QStringLiteral("line %1: ").arg(m_recordLine) + damageText(damage));
    m_damage = damage;
    m_text = QByteArrayView();
    m_pos = 0;
    return false;
}

bool CsvReader::next(QStringList *fields)
{
    fields->clear();
    if (m_damage != Damage::None || peek() < 0)
        return false;
    m_recordLine = m_lines + 1;

    QByteArray field;
    qsizetype recordBytes = 0;
    for (;;) {
        // Blanks before an opening quote are no content; before anything
        // else they are trimmed away with the field's other white space.
        while (peek() == ' ' || peek() == '\t') {
            field.append(take());
            if (field.size() > kMaxFieldBytes)
                return fail(Damage::FieldTooLong);
        }
        const bool quoted = peek() == '"';
        if (quoted) {
            field.clear();
            take();
            if (!readQuoted(&field))
                return false;
        }
        const int end = readFieldRest(&field, quoted);
        if (end < 0)
            return fail(Damage::FieldTooLong);
        recordBytes += field.size();
        if (recordBytes > kMaxRecordBytes || fields->size() >= kMaxRecordFields)
            return fail(Damage::RecordTooLong);
        const QString text = QString::fromUtf8(field);
        fields->append(quoted ? text : text.trimmed());
        field.clear();
        if (end == 0)
            return true;
    }
}

int CsvReader::readFieldRest(QByteArray *field, bool quoted)
{
    for (int c = peek(); c >= 0; c = peek()) {
        if (c == ',') {
            m_last = take();
            return 1;
        }
        m_last = take();
        if (c == '\n') {
            ++m_lines;
            return 0;
        }
        if (c == '\r' && peek() == '\n') {
            m_last = take();
            ++m_lines;
            return 0;
        }
        // After a closing quote, blanks before the next separator are no content.
        if (!(quoted && (c == ' ' || c == '\t')))
            field->append(char(c));
        if (field->size() > kMaxFieldBytes)
            return -1;
    }
    if (m_last != '\n')
        ++m_lines; // a last line without a line end
    m_last = '\n';
    return 0;
}

bool CsvReader::readQuoted(QByteArray *field)
{
    for (int c = peek(); c >= 0; c = peek()) {
        m_last = take();
        if (c == '"') {
            if (peek() != '"')
                return true;
            m_last = take();
        } else if (c == '\n') {
            ++m_lines;
        }
        field->append(char(c));
        if (field->size() > kMaxFieldBytes)
            return fail(Damage::FieldTooLong);
    }
    return m_damage == Damage::None ? fail(Damage::OpenQuote) : false;
}

void appendCsvRecord(QByteArray &text, const QStringList &fields)
{
    text.append(csvRow(fields)).append(kTextLineEnd);
}

QStringList cornerCells(const QRectF &box)
{
    return {roundedIntegerText(box.left()), roundedIntegerText(box.top()), roundedIntegerText(box.right()),
            roundedIntegerText(box.bottom())};
}

bool readCornerCells(const QStringList &cells, qsizetype first, int corners[4])
{
    if (first < 0 || cells.size() < first + 4)
        return false;
    for (int i = 0; i < 4; ++i) {
        if (!parseInt(QStringView(cells.at(first + i)), &corners[i]))
            return false;
    }
    return true;
}

} // namespace Quillmark
