#pragma once

#include <QString>

namespace Quillmark {

// How an AI tool names itself and what it finds in the main window's messages
// about its runs.
struct AiToolWords {
    QString prefix;  // its status texts begin with it: "Face: …"
    QString title;   // of its message boxes
    QString noun;    // one thing it finds, for counts: "%1 face(s)"
    QString results; // the things it finds: "the faces found"
    // The text of a message box when a run on the current image cannot read the
    // picture; empty for a status text instead.
    QString unreadableBox;

    // The status text of a run over all images asked for in a project without
    // any.
    QString noImagesText() const { return prefix + QStringLiteral(": the project has no images yet."); }
};

} // namespace Quillmark
