#pragma once

#include "formats/CocoAnnotationReader.h"
#include "formats/CocoId.h"
#include "formats/CocoImageResolver.h"
#include "formats/ProgressCallback.h"
#include "model/Dataset.h"
#include "model/JsonStringPool.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

namespace Quillmark {

class JsonText;
class JsonValue;

// Reads the three lists of a COCO file as they come, in one pass and without
// a tree of the document; a list that comes twice counts as its last. Every
// category is a class, used or not; the first keypoint category gives the
// keypoint schema.
class CocoDocumentReader {
public:
    explicit CocoDocumentReader(const QString &path);

    // False when the text is no JSON.
    bool read(const JsonText &text);

    // Whether the file lists any image.
    bool holdsImages() const { return !entries.isEmpty(); }

    // Adds the classes, the keypoint schema (when the dataset has none yet) and
    // the images with their annotations, in file order. Images keep their file
    // ids where those fit an image id; the others get ids no image of the file
    // uses. Annotations of an image id that no image has are left out.
    void appendTo(Dataset &dataset, const ProgressCallback &progress);

private:
    void readCategories(JsonValue &array);
    void readImages(JsonValue &array);
    void readAnnotations(JsonValue &array);
    int categoryIndex(const CocoId &id);
    // The class name of each entry of categoryIds.
    QStringList classNamesOfCategoryIds() const;
    void assignFreeIds();

    QHash<CocoId, QString> categories;
    QStringList classOrder;
    KeypointSchema schema;
    QList<ImageEntry> entries;
    QList<bool> keepsId;
    QHash<CocoId, qsizetype> positionById;
    // The annotations of each image id, in file order, each with the index of
    // its category id in categoryIds: the images and the categories may come
    // later in the file.
    struct ImageAnnotations {
        QList<Annotation> annotations;
        QList<int> categories;
    };
    QHash<CocoId, ImageAnnotations> annotationsByImage;
    QList<CocoId> categoryIds;
    QHash<CocoId, int> categoryIndexById;

    CocoImageResolver resolver;
    CocoAnnotationReader annotation;
    JsonStringPool flagKeys;
};

} // namespace Quillmark
