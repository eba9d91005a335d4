#pragma once

#include <QString>
#include <QMetaType>
#include <QStringList>

namespace Quillmark {

class Dataset;

// The images and videos of a dataset whose pictures are nowhere: they hold no
// pixels or bytes of their own and their file is not there (moved, deleted, or
// on a drive that is not mounted). Their annotations stay in the dataset.
struct MissingMedia {
    int count = 0;
    // The paths of the first few, in dataset order, with "…" after them when
    // there are more.
    QStringList names;

    // Counts one missing path, keeping its name while fewer than namesShown
    // are kept; close() then adds "…" when some were left out.
    void note(const QString &path, int namesShown = 5);
    void close();

    // The names, one a line.
    QString listText() const;
};

// Whether a media path names a file that is there. A path without a folder
// (a package's bare name) names no file: it is never looked up in whatever
// folder the program was started in.
bool mediaFileIsThere(const QString &path);

// Looks at every image and video once (one file-system query each, so run it
// off the GUI thread for a large dataset). A relative path names a file; it
// does not locate one, so it counts as missing.
MissingMedia findMissingMedia(const Dataset &dataset, int namesShown = 5);

} // namespace Quillmark

Q_DECLARE_METATYPE(Quillmark::MissingMedia)
