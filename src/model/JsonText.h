#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <memory>

class QFile;

namespace Quillmark {

class MappedFile;

// The text of a JSON document in memory, followed by the padding that the
// parser reads past the end of its input. Load a file with load(), or copy
// bytes with the constructor; hand it to JsonParser::parse.
//
// Files are read as hostile input: only regular files are opened (after
// following symbolic links), and a file larger than the caller's bound is not
// read at all. Large files may be mapped into memory instead of copied (see
// Mapping); the text is then valid as long as this object lives, and a file
// that another program cuts short or rewrites meanwhile is told by
// changedSinceLoad() (the text then holds zeros where the file ended).
class JsonText {
public:
    // Bytes after the end of the text that may be read; every text and every
    // piece handed to JsonParser must have this many readable bytes after it.
    static constexpr qsizetype padding = 64;

    enum class Mapping {
        Never,   // always read into memory
        IfLarge, // map files of 64 MiB and more when the padding fits in the last page
    };

    JsonText();
    explicit JsonText(QByteArrayView bytes);
    JsonText(JsonText &&other) noexcept;
    JsonText &operator=(JsonText &&other) noexcept;
    ~JsonText();

    // Reads the regular file at `path`. False, leaving the text empty, when it
    // is no regular file, cannot be opened or read, or has more than maxBytes.
    bool load(const QString &path, qint64 maxBytes, Mapping mapping = Mapping::Never);

    const char *data() const { return m_data; }
    qsizetype size() const { return m_size; }
    QByteArrayView bytes() const { return QByteArrayView(m_data, m_size); }
    bool isMapped() const { return m_mapping != nullptr; }
    // True when the mapped file was cut short or written to since it was
    // loaded: what was parsed from the text is not the file of one moment.
    bool changedSinceLoad() const;

private:
    void clear();
    bool readFrom(QFile &file, qint64 size);
    bool mapFrom(std::unique_ptr<QFile> &file, qint64 size);

    QByteArray m_storage;          // the text and its padding, when read
    std::unique_ptr<QFile> m_file; // the mapped file, when mapped
    std::unique_ptr<MappedFile> m_mapping;
    const char *m_data;
    qsizetype m_size = 0;
};

} // namespace Quillmark
