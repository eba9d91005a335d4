#pragma once

#include <QString>
#include <QStringList>

namespace Quillmark {

// File listings for the readers and detection rules. Files only, hidden files
// left out, symbolic links to files included; names are matched with wildcard
// patterns ignoring case. Results are sorted by name so that every run, on
// every file system, reads a folder in the same order. Files whose names are
// not valid UTF-8 cannot be listed; while an UnreadableFileNames object lives
// on the calling thread, they are counted there. A name is only ever a name:
// ":a.png" is listed as <folder>/:a.png, never as a resource path (join the
// names listSubfolders gives with pathInFolder).

// Absolute paths of the matching files directly in `folder`.
QStringList listFiles(const QString &folder, const QStringList &patterns);

// Absolute paths of the matching files in `folder` and all its subfolders
// (symbolic links to folders are not followed), sorted by path.
QStringList listFilesRecursively(const QString &folder, const QStringList &patterns);

// Names of the subfolders directly in `folder`, sorted ignoring case.
QStringList listSubfolders(const QString &folder);

} // namespace Quillmark
