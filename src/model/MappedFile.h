#pragma once

#include <QtGlobal>

class QFile;

namespace Quillmark {

// A regular file mapped into memory for reading, which another program may
// cut short or write to while it is read without this one being killed.
//
// Reading a page of a mapping that lies past the end of a file truncated
// meanwhile raises SIGBUS, which ends the process. While a MappedFile lives,
// such a page of its mapping reads as zeros instead, and changed() says so.
// Where changed() is true, the bytes read were not all the file's bytes of
// one moment: whatever was made of them must be thrown away. A file replaced
// by another under its name (renamed over it) is no change: the mapping keeps
// the file that was opened.
//
//     QFile file;  // opened with openRegularFile, kept open while mapped
//     MappedFile mapped(file);
//     if (mapped.isMapped()) { ...read mapped.data()...; if (mapped.changed()) fail; }
class MappedFile {
public:
    // Maps the whole of `file`, which must be open and must stay open as long
    // as this object lives. Not mapped (isMapped() false) when the file is
    // empty, or cannot be mapped, or too many files are mapped at once; the
    // caller then reads it instead.
    explicit MappedFile(const QFile &file);
    ~MappedFile();

    MappedFile(const MappedFile &) = delete;
    MappedFile &operator=(const MappedFile &) = delete;

    bool isMapped() const { return m_data != nullptr; }
    const char *data() const { return m_data; }
    qint64 size() const { return m_size; }

    // True when the file was cut short or written to since it was mapped.
    bool changed() const;

    // How many files can be mapped at once.
    static constexpr int mostMapped = 64;

private:
    struct Stamp {
        qint64 size = -1;
        qint64 modifiedSeconds = 0;
        qint64 modifiedNanoseconds = 0;
        qint64 changedSeconds = 0;
        qint64 changedNanoseconds = 0;

        bool operator==(const Stamp &other) const = default;
    };
    static bool stampOf(int fd, Stamp *stamp);

    int m_fd = -1;
    const char *m_data = nullptr;
    qint64 m_size = 0;
    qint64 m_mappedLength = 0;
    int m_slot = -1;
    Stamp m_stamp;
};

} // namespace Quillmark
