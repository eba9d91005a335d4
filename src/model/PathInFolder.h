#pragma once

#include <QString>

class QDir;

namespace Quillmark {

// Paths built from names that come from the disk or from a dataset, with the
// name always read as a name. Qt's own joins (QDir::filePath,
// QDir::absoluteFilePath, QFileInfo(QDir, name)) hand back a name that begins
// with ':' on its own, as the path of one of the program's embedded resources,
// which QFile, QFileInfo and QImageReader then look for among those: a
// picture ":cat.png" in a dataset folder would be lost, and a label file
// written for it would land in the working folder.

// `relative` (a name, or names joined by '/') below `folder`. An empty folder
// is the working folder.
QString pathInFolder(const QString &folder, const QString &relative);
QString pathInFolder(const QDir &folder, const QString &relative);

// QDir::cleanPath, which makes "./:a.png" the resource path ":a.png", keeping
// such a name relative: "./:a.png".
QString cleanFilePath(const QString &path);

// Whether `path` names a place on the file system from its root: as
// QDir::isAbsolutePath, without Qt's resource paths (":name"), which on the
// file system are relative names.
bool isAbsoluteFilePath(const QString &path);

} // namespace Quillmark
