#pragma once

#include <QByteArray>
#include <QString>

#include <filesystem>
#include <functional>

namespace Quillmark {

// Writing helpers shared by the format writers: a written file is either the
// whole new content or the old file untouched, never half of the new one. Each
// file is noted in the journal of an export running into its folder before it
// is made (ExportJournal.h).

// The line end of files that the formats write in text mode.
#ifdef Q_OS_WIN
inline constexpr char kTextLineEnd[] = "\r\n";
#else
inline constexpr char kTextLineEnd[] = "\n";
#endif

// The suffix of the temporary a writer puts beside its target ("<path>.qmtmp").
QString temporaryFileSuffix();

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
    Refused,  // the source's head did not pass the caller's test; nothing written
    Failed,   // reading or writing failed, or the source changed while it was copied;
              // the temporary is removed and any old destination kept
};

// A test of the first bytes of a file (at most kCopyHeadBytes, fewer when the
// file is shorter).
using FileHeadTest = std::function<bool(const QByteArray &head)>;
inline constexpr qint64 kCopyHeadBytes = 4096;

// Copies the regular file `source` to `destination`: a destination that is
// not there yet is created and filled in place (and removed again when the
// copy fails), one that is there is replaced by a temporary file beside it
// renamed over it, as writeFileAtomically does. The source is
// opened once, without waiting (a FIFO cannot hold the open) and without a
// lookup before; its kind is told on the open descriptor. With `acceptsHead`,
// its first bytes, read from that descriptor, must pass it first. The bytes
// move inside the kernel where it can (a reflink, else copy_file_range, else
// read and write). The copy must hold exactly the bytes the source had when it
// was opened: a source whose size or modification time changes meanwhile, or
// that yields more or fewer bytes than its size, fails the copy.
FileCopyResult copyRegularFileAtomically(const QString &source, const QString &destination,
                                         const FileHeadTest &acceptsHead = {});

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
