#include "formats/CocoDocumentReader.h"

#include "formats/SafeRead.h"
#include "model/FiniteNumber.h"
#include "model/JsonParser.h"
#include "model/JsonText.h"
#include "model/JsonValue.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QSet>

#include <algorithm>
#include <limits>

namespace Quillmark {

namespace {

// The keypoint names and skeleton (1-based joints) of a keypoint category.
KeypointSchema schemaFromCategory(const QJsonObject &category)
{
    KeypointSchema schema;
    schema.objectClass = jsonString(category.value(QLatin1String("name")));
    const QJsonArray names = category.value(QLatin1String("keypoints")).toArray();
    for (const QJsonValue &name : names)
        schema.keypointNames.append(jsonString(name));
    schema.edges = jsonKeypointEdges(category.value(QLatin1String("skeleton")).toArray(), 1,
                                     schema.keypointNames.size());
    return schema;
}

} // namespace

CocoDocumentReader::CocoDocumentReader(const QString &path) : resolver(path) {}

bool CocoDocumentReader::read(const JsonText &text)
{
    JsonParser parser;
    return parser.parse(text, [&](JsonValue &root) {
        root.forEachMember([&](std::string_view key, JsonValue &value) {
            if (key == "categories")
                readCategories(value);
            else if (key == "images")
                readImages(value);
            else if (key == "annotations")
                readAnnotations(value);
        });
    });
}

QStringList CocoDocumentReader::classNamesOfCategoryIds() const
{
    QStringList names;
    names.reserve(categoryIds.size());
    for (const CocoId &id : categoryIds) {
        const auto found = categories.constFind(id);
        names.append(found != categories.cend() ? *found : id.missingClassName());
    }
    return names;
}

void CocoDocumentReader::readCategories(JsonValue &array)
{
    categories.clear();
    classOrder.clear();
    schema = KeypointSchema();
    array.forEachElement([&](JsonValue &element) {
        if (!element.isObject())
            return;
        // Categories are few: each is read whole.
        const QJsonObject category = element.toQJsonValue().toObject();
        const QString name = jsonString(category.value(QLatin1String("name")));
        const QJsonValue id = category.value(QLatin1String("id"));
        categories.insert(CocoId::fromValue(id), name);
        classOrder.append(name);
        if (schema.keypointNames.isEmpty() && category.value(QLatin1String("keypoints")).toArray().size() > 0)
            schema = schemaFromCategory(category);
    });
}

void CocoDocumentReader::readImages(JsonValue &array)
{
    entries.clear();
    keepsId.clear();
    positionById.clear();
    array.forEachElement([&](JsonValue &element) {
        if (!element.isObject())
            return;
        CocoId id;
        ImageEntry entry;
        QString fileName;
        element.forEachMember([&](std::string_view key, JsonValue &value) {
            if (key == "id")
                id = CocoId::read(value);
            else if (key == "width")
                entry.width = std::max(value.toInt(0), 0);
            else if (key == "height")
                entry.height = std::max(value.toInt(0), 0);
            else if (key == "file_name")
                fileName = value.toString();
        });
        // The largest int is left out too: the dataset sets its next id
        // to one past every id it is given, which must still be an int.
        const bool fitsId = id.kind == CocoId::Kind::Number && id.number >= 0 &&
                            id.number < std::numeric_limits<int>::max();
        entry.id = fitsId ? int(id.number) : -1;
        entry.filePath = resolver.resolve(fileName);
        // An image without an id is one of its own, with no annotations.
        if (!id.isId()) {
            entries.append(entry);
            keepsId.append(false);
            return;
        }
        // A later image with the same id replaces the earlier one in place.
        const auto existing = positionById.constFind(id);
        if (existing != positionById.cend()) {
            entries[*existing] = entry;
            keepsId[*existing] = fitsId;
            return;
        }
        positionById.insert(id, entries.size());
        entries.append(entry);
        keepsId.append(fitsId);
    });
}

void CocoDocumentReader::readAnnotations(JsonValue &array)
{
    annotationsByImage.clear();
    // Annotations mostly come in runs of one image and one category.
    ImageAnnotations *bucket = nullptr;
    CocoId bucketImage;
    int category = -1;
    CocoId lastCategory;
    array.forEachElement([&](JsonValue &element) {
        if (!element.isObject())
            return;
        annotation.read(element, flagKeys);
        if (!annotation.image.isId())
            return; // it belongs to no image
        if (!bucket || !(annotation.image == bucketImage)) {
            bucket = &annotationsByImage[annotation.image];
            bucketImage = annotation.image;
        }
        if (category < 0 || !(annotation.category == lastCategory)) {
            category = categoryIndex(annotation.category);
            lastCategory = annotation.category;
        }
        Annotation a = annotation.annotation();
        // The finite-number rule: a shape that single precision cannot hold
        // is dropped.
        if (!geometryFitsFloat(a))
            return;
        bucket->annotations.append(std::move(a));
        bucket->categories.append(category);
    });
}

int CocoDocumentReader::categoryIndex(const CocoId &id)
{
    const auto known = categoryIndexById.constFind(id);
    if (known != categoryIndexById.cend())
        return *known;
    categoryIds.append(id);
    return *categoryIndexById.insert(id, int(categoryIds.size() - 1));
}

// Images whose file id is not a number that fits an entry id (a string, a
// negative or a huge number) cannot keep it; they get ids that no other image
// of the file uses.
void CocoDocumentReader::assignFreeIds()
{
    QSet<int> used;
    qint64 next = 0;
    for (qsizetype i = 0; i < entries.size(); ++i) {
        if (keepsId.at(i)) {
            used.insert(entries.at(i).id);
            next = std::max(next, qint64(entries.at(i).id) + 1);
        }
    }
    for (qsizetype i = 0; i < entries.size(); ++i) {
        if (keepsId.at(i))
            continue;
        if (next > std::numeric_limits<int>::max())
            next = 0;
        while (used.contains(int(next)))
            ++next;
        entries[i].id = int(next);
        used.insert(int(next));
        ++next;
    }
}

void CocoDocumentReader::appendTo(Dataset &dataset, const ProgressCallback &progress)
{
    assignFreeIds();
    // Each image's annotations, with their class names.
    const QStringList classNames = classNamesOfCategoryIds();
    for (auto it = positionById.cbegin(); it != positionById.cend(); ++it) {
        const auto found = annotationsByImage.find(it.key());
        if (found == annotationsByImage.end())
            continue;
        QList<Annotation> &labels = found->annotations;
        for (qsizetype i = 0; i < labels.size(); ++i)
            labels[i].className = classNames.at(found->categories.at(i));
        entries[it.value()].labels = std::move(labels);
    }
    annotationsByImage.clear();

    for (const QString &name : std::as_const(classOrder))
        dataset.addClass(name, QColor());
    if (schema.isInUse() && !dataset.keypointSchema.isInUse())
        dataset.setKeypointSchema(schema);
    const int total = int(entries.size());
    for (int i = 0; i < total; ++i) {
        dataset.addImage(entries.at(i));
        if (progress)
            progress(i + 1, total);
    }
}

} // namespace Quillmark
