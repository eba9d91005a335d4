#pragma once

#include <QString>

namespace Quillmark {

// The file a package is built in before it replaces its target:
// "<target>.<12 hex digits>.tmp" in the target's folder. It is created empty
// and held under a lock for as long as this object lives, so that a write
// killed on the way leaves a file that later writes can tell is nobody's:
// a lock dies with its process. The lock is a byte range far beyond the
// bytes SQLite locks, taken on an open file description of its own, so it
// never meets SQLite's locks. On a file system without locks only a
// leftover's age tells it from a file being written.
//
// A file is only ours once it is locked: a remover takes the same lock
// before it removes a leftover and holds it until the name is gone, and a
// writer that finds its new file locked, or no longer under its name, once it
// holds the lock starts again under another name.
class QpkgTemporaryFile {
public:
    explicit QpkgTemporaryFile(const QString &target);
    ~QpkgTemporaryFile();
    QpkgTemporaryFile(const QpkgTemporaryFile &) = delete;
    QpkgTemporaryFile &operator=(const QpkgTemporaryFile &) = delete;

    // False when the file could not be created.
    bool isValid() const { return m_fd >= 0; }
    const QString &path() const { return m_path; }

    // Removes the temporary files that earlier writes of `target` left: regular
    // files of the temporary name (never a link, a pipe or a device), with
    // SQLite's side files, that are empty or SQLite databases and that no live
    // writer holds, whatever their age. Where the file system has no locks,
    // only those that have not changed for `unlockedAgeSeconds` go. The number
    // of files removed.
    static int removeStale(const QString &target, int unlockedAgeSeconds = 60);

    // Whether `fileName` has the form of a temporary name of the target file
    // named `targetName`.
    static bool isTemporaryName(const QString &fileName, const QString &targetName);

private:
    QString m_path;
    int m_fd = -1;
};

} // namespace Quillmark
