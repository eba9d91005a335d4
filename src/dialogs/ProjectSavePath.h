#pragma once

#include <QString>

class QWidget;

namespace Quillmark {

// The one way a project file's location is chosen for saving (the wizard's
// save location, Save As, and the save of the unsaved-changes question).
//
// Asks with the platform's save dialog (the filter "Quillmark Project (*.qmk)")
// starting in `startDir`. A name that does not end in ".qmk" (in any case) gets
// it appended, so the file is one the Open dialog lists: "garden" and
// "garden.v2" become "garden.qmk" and "garden.v2.qmk". The dialog asked about
// replacing only the name as typed; when the appended name hits an existing
// file, the user is asked before it is replaced. Empty when the user cancels
// either question.
QString askProjectSavePath(QWidget *parent, const QString &caption, const QString &startDir);

// `path` with ".qmk" appended unless it already ends in ".qmk", ignoring case.
// An empty path stays empty.
QString withProjectFileSuffix(const QString &path);

} // namespace Quillmark
