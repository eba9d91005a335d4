#include "model/JsonLineReader.h"

#include "model/JsonText.h"
#include "model/RegularFile.h"

#include <algorithm>
#include <cstring>

namespace Quillmark {

namespace {

constexpr qsizetype chunkBytes = 1 << 20;

} // namespace

JsonLineReader::JsonLineReader(qint64 maxLineBytes) : m_maxLineBytes(std::max<qint64>(maxLineBytes, 1)) {}

bool JsonLineReader::open(const QString &path)
{
    m_file.close();
    m_begin = m_end = 0;
    m_atEnd = m_error = m_discarding = m_tooLong = false;
    if (!openRegularFile(m_file, path))
        return false;
    m_buffer = QByteArray(std::min<qint64>(chunkBytes, m_maxLineBytes + 1) + JsonText::padding, '\0');
    return true;
}

// Reads more of the file behind what is buffered, moving the unread rest to
// the front and growing the buffer for a long line. False at the end of the
// file or on an error.
bool JsonLineReader::fill()
{
    if (m_atEnd || !m_file.isOpen())
        return false;
    const qsizetype pending = m_end - m_begin;
    if (m_begin > 0) {
        std::memmove(m_buffer.data(), m_buffer.constData() + m_begin, size_t(pending));
        m_begin = 0;
        m_end = pending;
    }
    qsizetype room = m_buffer.size() - JsonText::padding - m_end;
    if (room == 0) {
        // A line longer than the buffer, still within the bound: grow.
        const qint64 wanted = std::min<qint64>(2 * (m_buffer.size() - JsonText::padding), m_maxLineBytes + 1);
        m_buffer.resize(qsizetype(wanted) + JsonText::padding);
        room = m_buffer.size() - JsonText::padding - m_end;
    }
    const qint64 n = m_file.read(m_buffer.data() + m_end, room);
    if (n < 0) {
        m_error = true;
        m_atEnd = true;
        return false;
    }
    if (n == 0) {
        m_atEnd = true;
        return false;
    }
    m_end += qsizetype(n);
    std::memset(m_buffer.data() + m_end, 0, size_t(JsonText::padding));
    return true;
}

bool JsonLineReader::next(QByteArrayView *line)
{
    *line = QByteArrayView();
    m_tooLong = false;
    for (;;) {
        const char *begin = m_buffer.constData() + m_begin;
        const auto *newline = static_cast<const char *>(std::memchr(begin, '\n', size_t(m_end - m_begin)));
        if (newline) {
            const qsizetype length = newline - begin;
            m_begin += length + 1;
            if (m_discarding) {
                m_discarding = false;
                m_tooLong = true;
                return true; // the end of a line that was too long
            }
            *line = QByteArrayView(begin, length);
            if (line->endsWith('\r'))
                line->chop(1);
            return true;
        }
        // A line that is too long: drop what is buffered of it, and the rest
        // of it as it comes in.
        if (m_discarding || m_end - m_begin > m_maxLineBytes) {
            m_discarding = true;
            m_begin = m_end = 0;
        }
        if (!fill()) {
            if (m_error)
                return false;
            if (m_discarding) {
                m_discarding = false;
                m_tooLong = true;
                return true;
            }
            if (m_end == m_begin)
                return false;
            // The last line, without a line end.
            *line = QByteArrayView(m_buffer.constData() + m_begin, m_end - m_begin);
            m_begin = m_end;
            if (line->endsWith('\r'))
                line->chop(1);
            return true;
        }
    }
}

qint64 JsonLineReader::countLines(const QString &path)
{
    QFile file;
    if (!openRegularFile(file, path))
        return -1;
    QByteArray chunk(chunkBytes, '\0');
    qint64 lines = 0;
    char last = '\n';
    for (;;) {
        const qint64 n = file.read(chunk.data(), chunk.size());
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        lines += std::count(chunk.constData(), chunk.constData() + n, '\n');
        last = chunk.at(qsizetype(n) - 1);
    }
    return last == '\n' ? lines : lines + 1;
}

} // namespace Quillmark
