#pragma once

#include "model/Project.h"

#include <QJsonObject>
#include <QString>

namespace Quillmark {

// The JSON project file (".qmk"): indented UTF-8 JSON with sorted keys holding the
// project's name, type and dataset. Media stay outside and are named by path.

// Fills `project` from the file. False when the file cannot be read, is not JSON,
// or its top level is not an object; `project` is then left as it was.
bool loadProjectFile(Project &project, const QString &path);
// loadProjectFile, with the reason of a failure that the file's kind, presence
// or permissions do not tell (another program changed the file while it was
// read) in `problem`; empty otherwise.
bool readProjectFile(Project &project, const QString &path, QString *problem);

// Writes the project, creating missing folders. The previous file is replaced only
// when the whole new file was written; false on any failure.
bool saveProjectFile(const Project &project, const QString &path);

// The bytes saveProjectFile writes for a project.
QByteArray projectToJsonBytes(const Project &project);
// The project as a JSON document object (the same content, as a tree).
QJsonObject projectToJson(const Project &project);

Dataset datasetFromJson(const QJsonObject &object);
QJsonObject datasetToJson(const Dataset &dataset);
ImageEntry imageEntryFromJson(const QJsonObject &object);
QJsonObject imageEntryToJson(const ImageEntry &entry);
VideoEntry videoEntryFromJson(const QJsonObject &object);
QJsonObject videoEntryToJson(const VideoEntry &entry);
Annotation annotationFromJson(const QJsonObject &object);
QJsonObject annotationToJson(const Annotation &annotation);

} // namespace Quillmark
