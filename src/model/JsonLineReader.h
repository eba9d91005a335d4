#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QFile>
#include <QString>

namespace Quillmark {

// Reads a JSON Lines file one line at a time, in pieces, so that a file of
// any length is read in bounded memory. Every line it hands out is followed
// in memory by at least JsonText::padding readable bytes, so that it can go
// to JsonParser::parse without a copy.
//
// Lines end at "\n"; a "\r" before it is dropped. A last line without a line
// end counts when it is not empty. A line longer than the bound is handed
// out empty (it counts as a line but holds no document).
class JsonLineReader {
public:
    static constexpr qint64 defaultMaxLineBytes = 256LL * 1024 * 1024;

    explicit JsonLineReader(qint64 maxLineBytes = defaultMaxLineBytes);

    // Opens a regular file (see openRegularFile); false when that fails.
    bool open(const QString &path);

    // The next line, valid until the next call. False at the end of the file
    // or when reading fails (then hasError()).
    bool next(QByteArrayView *line);
    bool hasError() const { return m_error; }
    // Whether the line next() handed out last was longer than the bound.
    bool lineTooLong() const { return m_tooLong; }

    // The number of lines next() hands out for the file; -1 when it cannot be
    // opened or read.
    static qint64 countLines(const QString &path);

private:
    bool fill();

    QFile m_file;
    QByteArray m_buffer; // lines in [m_begin, m_end), then padding
    qsizetype m_begin = 0;
    qsizetype m_end = 0;
    qint64 m_maxLineBytes;
    bool m_atEnd = false;
    bool m_error = false;
    bool m_discarding = false; // inside a line that is too long
    bool m_tooLong = false;
};

} // namespace Quillmark
