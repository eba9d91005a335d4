#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QDir>
#include <QRectF>
#include <QString>
#include <QStringList>

namespace Quillmark {

// Comma-separated text as the CSV formats write and read it (RFC 4180).
//
// Writing quotes a field only where it needs quotes: when it holds a comma, a
// double quote, a line break, or white space at either end (which readers
// would trim away). Inner double quotes are doubled. Every other field is
// written as it stands, so files of ordinary names are plain comma lists.

// The CSV file a path names: the path itself when it ends in ".csv" (in any
// letter case), else the file `defaultName` in the folder at the path.
QString csvDatasetFile(const QString &path, const QString &defaultName);

// A CSV file of a dataset, read whole (up to the size a one-file dataset may
// have): its text, its absolute folder (the base of the image names it lists)
// and its number of lines (the total that import progress counts to).
struct CsvFile {
    QByteArray text;
    QDir folder;
    int lineCount = 0;

    // False when the file cannot be read.
    bool read(const QString &path);
};

// One field, quoted only when needed.
QString csvField(const QString &text);

// The fields joined by "," (each through csvField), as UTF-8, without a line end.
QByteArray csvRow(const QStringList &fields);

// One record: the fields joined as csvRow joins them, then the line end.
void appendCsvRecord(QByteArray &text, const QStringList &fields);

// The corner cells of the CSV box formats (RetinaNet, YOLO TensorFlow): xmin,
// ymin, xmax, ymax of the box, rounded to whole pixels.
QStringList cornerCells(const QRectF &box);

// The four corner cells from cells[first] on, as whole numbers; false when a
// cell is missing or holds no whole number.
bool readCornerCells(const QStringList &cells, qsizetype first, int corners[4]);

// Reads records from CSV text held in memory. A field that begins with a
// double quote runs to the matching closing quote and may hold commas, doubled
// quotes and line breaks; its content is kept exactly. Text after the closing
// quote up to the next comma is appended as it stands. Unquoted fields are
// trimmed of surrounding white space. Records end at "\n" or "\r\n"; a leading
// UTF-8 byte-order mark is skipped. A quote left open runs to the end of the
// text, so hostile input cannot make a record larger than the text.
class CsvReader {
public:
    explicit CsvReader(QByteArrayView text);

    // The next record's fields; false at the end of the text. A blank line is
    // a record of one empty field.
    bool next(QStringList *fields);

    // Physical lines consumed so far (a quoted line break counts as a line).
    int linesRead() const { return m_lines; }

    // Number of lines of the text, the last one counted even without a line end.
    static int countLines(QByteArrayView text);

private:
    // Reads a quoted field's content after its opening quote, through the
    // closing quote (or to the end of the text when none follows).
    void readQuoted(QByteArray *field);

    QByteArrayView m_text;
    qsizetype m_pos = 0;
    int m_lines = 0;
};

} // namespace Quillmark
