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

// Writes `bytes` to a temporary file beside `path` and renames it over `path`.
// Cheap enough for one file per image (no forced flush to disk). False, with
// the temporary removed and any old file kept, when anything fails.
bool writeFileAtomically(const QString &path, const QByteArray &bytes);

// Copies `source` to a temporary file beside `destination` and renames it over
// `destination`. False, with the temporary removed and any old file kept,
// when anything fails.
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
