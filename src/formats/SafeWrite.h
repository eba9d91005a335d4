#pragma once

#include <QByteArray>
#include <QString>

#include <filesystem>

namespace Quillmark {

// Writing helpers shared by the format writers: a written file is either the
// whole new content or the old file untouched, never half of the new one.

// The line end of files that the formats write in text mode.
#ifdef Q_OS_WIN
inline constexpr char kTextLineEnd[] = "\r\n";
#else
inline constexpr char kTextLineEnd[] = "\n";
#endif

// Creates the folder with all missing parents; true when it exists afterwards.
bool ensureFolder(const QString &path);

// Writes `bytes` to a temporary file beside `path` ("<path>.qmtmp", a stale
// one of an interrupted run replaced) and renames it over `path`. Cheap enough
// for one file per image (no forced flush to disk). False, with the temporary
// removed and any old file kept, when anything fails.
bool writeFileAtomically(const QString &path, const QByteArray &bytes);

// What copying a file into place came to.
enum class FileCopyResult {
    Copied,   // the destination now holds the source's bytes
    SameFile, // the destination is the source itself, under any name; left as it is
    NoSource, // the source is missing or no regular file (a folder, FIFO, device); nothing written
    Failed,   // reading or writing failed, or the source changed while it was copied;
              // the temporary is removed and any old destination kept
};

// Copies the regular file `source` to a temporary file beside `destination`
// and renames it over `destination`, as writeFileAtomically does. The bytes
// move inside the kernel where it can (a reflink, else copy_file_range, else
// read and write). The copy must hold exactly the bytes the source had when it
// was opened: a source whose size or modification time changes meanwhile, or
// that yields more or fewer bytes than its size, fails the copy.
FileCopyResult copyRegularFileAtomically(const QString &source, const QString &destination);

// copyRegularFileAtomically, true when the destination holds the source's bytes
// afterwards (copied, or the source itself).
bool copyFileAtomically(const QString &source, const QString &destination);

// Whether both paths lead to one existing file (links and other spellings
// included).
bool isSameFile(const QString &a, const QString &b);

// The path as the standard library's file functions take it.
std::filesystem::path toFileSystemPath(const QString &path);

// As writeFileAtomically, but flushed to disk before the rename (QSaveFile);
// meant for the one big document of a dataset.
bool writeDocumentFile(const QString &path, const QByteArray &bytes);

// Text made safe for an XML document: characters that XML 1.0 does not allow
// (control characters other than tab, line feed and carriage return, lone
// surrogates, U+FFFE, U+FFFF) are dropped.
QString xmlSafeText(const QString &text);

} // namespace Quillmark
