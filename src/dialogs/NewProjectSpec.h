#pragma once

#include "dialogs/ClassEntry.h"
#include "model/KeypointSchema.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace Quillmark {

// What the user chose in the new-project wizard; the new-project command builds
// the project from it.
struct NewProjectSpec {
    QString projectType;           // project-type key; empty when none was checked
    QString name;                  // trimmed project name; may be empty
    QString savePath;              // chosen project file, or empty for an unsaved project
    QList<ClassEntry> classes;     // class list in order (not used for pose projects)
    KeypointSchema keypointSchema; // filled only for pose projects
    QStringList imagePaths;        // absolute paths of the images to import
};

} // namespace Quillmark
