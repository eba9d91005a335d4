#pragma once

#include <QByteArray>
#include <QSet>
#include <QString>
#include <QStringList>

namespace Quillmark {

// Files whose names are not valid UTF-8 cannot be named through Qt's file
// classes: its listings leave them out without a word. While an object of this
// class lives, the folder listings of the readers (FolderListing) also look at
// the raw names on the calling thread and count each file that a listing would
// have returned but could not name, so that an import can report them instead
// of silently reading less. Objects nest; each counts what was met while it
// lived. Outside any object nothing extra is done.
class UnreadableFileNames {
public:
    UnreadableFileNames();
    ~UnreadableFileNames();

    UnreadableFileNames(const UnreadableFileNames &) = delete;
    UnreadableFileNames &operator=(const UnreadableFileNames &) = delete;

    // Files met, each counted once.
    int count() const { return int(m_paths.size()); }
    // Their paths as far as they can be shown (invalid bytes as U+FFFD).
    const QStringList &paths() const { return m_paths; }

    // Whether counting is on for this thread.
    static bool isCounting();
    // Counts a file by its path as the file system gives it (for the listings).
    static void note(const QByteArray &rawPath);

private:
    UnreadableFileNames *m_outer;
    QSet<QByteArray> m_seen;
    QStringList m_paths;
};

} // namespace Quillmark
