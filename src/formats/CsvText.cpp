#include "formats/CsvText.h"

#include "formats/NumberFormat.h"
#include "formats/SafeRead.h"
#include "formats/SafeWrite.h"

#include <QFileInfo>

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

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

} // namespace

QString csvDatasetFile(const QString &path, const QString &defaultName)
{
    if (path.endsWith(QLatin1String(".csv"), Qt::CaseInsensitive))
        return path;
    return QDir(path).filePath(defaultName);
}

bool CsvFile::read(const QString &path)
{
    if (!readWholeFile(path, kMaxDocumentFileBytes, &text))
        return false;
    folder = QDir(QFileInfo(path).absolutePath());
    lineCount = CsvReader::countLines(text);
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

CsvReader::CsvReader(QByteArrayView text) : m_text(text)
{
    if (m_text.startsWith("\xEF\xBB\xBF"))
        m_text = m_text.sliced(3);
}

int CsvReader::countLines(QByteArrayView text)
{
    const qsizetype breaks = text.count('\n');
    const bool openLast = !text.isEmpty() && !text.endsWith('\n');
    return int(breaks + (openLast ? 1 : 0));
}

bool CsvReader::next(QStringList *fields)
{
    fields->clear();
    const qsizetype size = m_text.size();
    if (m_pos >= size)
        return false;

    QByteArray field;
    bool quoted = false;
    auto finishField = [&] {
        const QString text = QString::fromUtf8(field);
        fields->append(quoted ? text : text.trimmed());
        field.clear();
        quoted = false;
    };

    bool atFieldStart = true;
    while (m_pos < size) {
        if (atFieldStart) {
            atFieldStart = false;
            qsizetype start = m_pos;
            while (start < size && isBlank(m_text.at(start)))
                ++start;
            if (start < size && m_text.at(start) == '"') {
                m_pos = start + 1;
                quoted = true;
                readQuoted(&field);
                continue;
            }
        }
        const char c = m_text.at(m_pos);
        if (c == ',') {
            ++m_pos;
            finishField();
            atFieldStart = true;
            continue;
        }
        if (c == '\n' || (c == '\r' && m_pos + 1 < size && m_text.at(m_pos + 1) == '\n')) {
            m_pos += c == '\r' ? 2 : 1;
            ++m_lines;
            finishField();
            return true;
        }
        ++m_pos;
        // After a closing quote, blanks before the next separator are no content.
        if (!(quoted && isBlank(c)))
            field.append(c);
    }
    if (!m_text.endsWith('\n'))
        ++m_lines; // a last line without a line end
    finishField();
    return true;
}

void CsvReader::readQuoted(QByteArray *field)
{
    const qsizetype size = m_text.size();
    while (m_pos < size) {
        const char c = m_text.at(m_pos++);
        if (c == '"') {
            if (m_pos < size && m_text.at(m_pos) == '"') {
                field->append('"');
                ++m_pos;
                continue;
            }
            return;
        }
        if (c == '\n')
            ++m_lines;
        field->append(c);
    }
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
