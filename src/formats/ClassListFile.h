#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace Quillmark {

// Plain class-list files ("classes.txt", "_classes.txt", "obj.names"): one class
// name per line, the line number being the class id.

// The most class names any class list of a dataset gives (class-list files and
// "data.yaml" alike): ids from 0 to one below it. A hostile list cannot make
// more than that.
inline constexpr int kMaxClassNames = 100000;

// Every line, trimmed, in order, up to kMaxClassNames names; empty lines are
// kept as empty names so that the ids of later lines stay right, but blank
// lines after the last name cost nothing. A final line end starts no extra
// line. False (and an empty list) when the file cannot be read.
bool readClassListFile(const QString &path, QStringList *names);

// The non-empty lines, trimmed, in order: empty lines take no id (the class
// lists "_darknet.labels" and "_classes.txt"). Empty when unreadable.
QStringList readNonEmptyClassNames(const QString &path);

// The file text: every name followed by "\n".
QByteArray classListFileBytes(const QStringList &names);

} // namespace Quillmark
