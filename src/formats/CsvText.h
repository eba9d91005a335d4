#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QIODevice>
#include <QDir>
#include <QFile>
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

// A CSV file of a dataset, opened for reading in pieces: the open file, its
// absolute folder (the base of the image names it lists) and its number of
// lines (the total that import progress counts to), counted in pieces too.
struct CsvFile {
    QFile file;
    QString path; // as given to open(), to name the file in messages
    QDir folder;
    int lineCount = 0;

    // False when the file cannot be opened or read.
    bool open(const QString &path);
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

// Reads records from CSV text, held in memory or read from a device in
// pieces. A field that begins with a double quote runs to the matching closing
// quote and may hold commas, doubled quotes and line breaks; its content is
// kept exactly. Text after the closing quote up to the next comma is appended
// as it stands. Unquoted fields are trimmed of surrounding white space.
// Records end at "\n" or "\r\n"; a leading UTF-8 byte-order mark is skipped.
//
// The text is damaged, and reading stops, when a quoted field is still open at
// the end of the text (the rest of the file would vanish into one field), when
// a field holds more than kMaxFieldBytes, or a record more than
// kMaxRecordBytes or kMaxRecordFields fields: memory stays proportional to
// those bounds whatever the text holds.
class CsvReader {
public:
    enum class Damage { None, OpenQuote, FieldTooLong, RecordTooLong, ReadFailed };

    // More fields than a header of every class a dataset may have.
    static constexpr qsizetype kMaxRecordFields = 100001;

    explicit CsvReader(QByteArrayView text);
    // Reads the device from where it stands; it must outlive the reader.
    // `fileName` names the file when damage is reported (ImportFailure).
    explicit CsvReader(QIODevice *device, const QString &fileName = QString());
    // Reads the CSV file of a dataset, named by its path.
    explicit CsvReader(CsvFile &file) : CsvReader(&file.file, file.path) {}

    // The next record's fields; false at the end of the text or once it is
    // found damaged (then damage() tells how). A blank line is a record of one
    // empty field.
    bool next(QStringList *fields);

    Damage damage() const { return m_damage; }
    bool isDamaged() const { return m_damage != Damage::None; }

    // What the damage is, as a sentence for the user; empty for None.
    static QString damageText(Damage damage);

    // Physical lines consumed so far (a quoted line break counts as a line).
    int linesRead() const { return m_lines; }

    // Number of lines of the text, the last one counted even without a line end.
    static int countLines(QByteArrayView text);

private:
    // The next character, or -1 at the end of the text.
    int peek()
    {
        if (m_pos < m_text.size() || fill())
            return uchar(m_text.at(m_pos));
        return -1;
    }
    char take() { return m_text.at(m_pos++); }
    bool fill();
    bool fail(Damage damage);
    // Reads a quoted field's content after its opening quote, through the
    // closing quote; false when the text ends first or the field is too long.
    bool readQuoted(QByteArray *field);
    // Reads the rest of a field after its quoted part or its first character:
    // 1 at a comma, 0 at the end of the record, -1 when the field is too long.
    int readFieldRest(QByteArray *field, bool quoted);

    QIODevice *m_device = nullptr;
    QByteArray m_chunk;
    QByteArrayView m_text;
    qsizetype m_pos = 0;
    bool m_started = false;
    char m_last = '\n'; // the last character taken
    int m_lines = 0;
    int m_recordLine = 1; // the line the record being read starts on
    QString m_fileName;
    Damage m_damage = Damage::None;
};

} // namespace Quillmark
