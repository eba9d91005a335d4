#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace Quillmark {

// Plain class-list files ("classes.txt", "_classes.txt", "obj.names"): one class
// name per line, the line number being the class id.

// Every line, trimmed, in order; empty lines are kept as empty names so that
// the ids of later lines stay right. A final line end starts no extra line.
// False (and an empty list) when the file cannot be read.
bool readClassListFile(const QString &path, QStringList *names);

// The non-empty lines, trimmed, in order: empty lines take no id (the class
// lists "_darknet.labels" and "_classes.txt"). Empty when unreadable.
QStringList readNonEmptyClassNames(const QString &path);

// The file text: every name followed by "\n".
QByteArray classListFileBytes(const QStringList &names);

} // namespace Quillmark
