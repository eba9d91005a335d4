#pragma once

#include "model/ImageEntry.h"
#include "model/KeypointSchema.h"
#include "model/VideoEntry.h"

#include <QColor>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <array>

namespace Quillmark {

// Colours a class gets when it is added without a valid colour, taken by the
// number of classes so far modulo 8.
extern const std::array<QColor, 8> classPalette;

// The in-memory dataset of one project: images, videos, the class list with its
// colours, and the keypoint schema. A plain value type; copies are cheap until
// one side changes.
class Dataset {
public:
    QList<ImageEntry> images;
    int nextImageId = 0;
    QList<VideoEntry> videos;
    int nextVideoId = 0;
    QMap<QString, QColor> classColors;
    KeypointSchema keypointSchema;

    // Appends a copy. A negative id takes the next id; an own id is kept and
    // pushes the counter past it.
    void addImage(const ImageEntry &entry);
    void addVideo(const VideoEntry &entry);

    // Adds a class unless the trimmed name is empty or the exact name exists.
    // An invalid colour takes the next palette colour.
    void addClass(const QString &name, const QColor &color);

    // Class-map keys in map order, then names used by image annotations but
    // missing from the map, in first-seen order. This is the class order of
    // every export.
    QStringList classNames() const;

    ImageEntry *imageById(int id);
    const ImageEntry *imageById(int id) const;
    VideoEntry *videoById(int id);
    const VideoEntry *videoById(int id) const;

    void removeImage(int id);
    void removeVideo(int id);

    // Removes the class and every annotation of it (images and video frames;
    // frames left empty are dropped). A keypoint schema whose object class it
    // was keeps its keypoints but names no class any more. No-op for a class
    // not in the map.
    void removeClass(const QString &name);

    // Moves the colour of oldName to newName (merging into an existing class)
    // and renames every annotation of oldName, and the keypoint schema's
    // object class when it was oldName.
    void renameClass(const QString &oldName, const QString &newName);

    void setClassColor(const QString &name, const QColor &color);
    void setKeypointSchema(const KeypointSchema &schema);

    // Adds every class that an annotation uses (images, then video frames).
    void syncClassesFromAnnotations();

    // Merging another dataset in (imports). The entries are appended in order
    // as new ones: each takes the next id, whatever id it carried, so ids
    // continue after the project's own. A size below 0 is stored as 0
    // (unknown). Linear in the number of entries.
    void appendAsNew(QList<ImageEntry> entries);
    void appendAsNew(QList<VideoEntry> entries);
    // Adds every class of `colors` that the list lacks, with its colour;
    // classes already present keep theirs.
    void mergeClassColors(const QMap<QString, QColor> &colors);
};

} // namespace Quillmark
