#include "model/Dataset.h"

#include <QSet>

#include <algorithm>
#include <limits>
#include <utility>

namespace Quillmark {

const std::array<QColor, 8> classPalette = {
    QColor(0x4D, 0x8D, 0xFF), QColor(0xFF, 0x57, 0x57), QColor(0x55, 0xC7, 0x72),
    QColor(0xFF, 0xB2, 0x3F), QColor(0xB4, 0x7F, 0xFF), QColor(0xFF, 0xC0, 0x3E),
    QColor(0x50, 0xD0, 0xD0), QColor(0xFF, 0x77, 0xAA),
};

namespace {

// The counter stops at the largest int rather than wrapping: a negative id
// would pass for a video frame (whose canvas id is a complement).
template <typename Entry>
void appendWithId(QList<Entry> &list, int &nextId, Entry copy)
{
    constexpr int largestId = std::numeric_limits<int>::max();
    if (copy.id < 0) {
        copy.id = nextId;
        if (nextId < largestId)
            ++nextId;
    } else {
        nextId = std::max(nextId, copy.id == largestId ? largestId : copy.id + 1);
    }
    list.append(std::move(copy));
}

// Every entry as a new one (its id forgotten), sizes below 0 as unknown.
template <typename Entry>
void appendAllAsNew(QList<Entry> &list, int &nextId, QList<Entry> entries)
{
    list.reserve(list.size() + entries.size());
    for (Entry &entry : entries) {
        entry.id = -1;
        entry.width = std::max(0, entry.width);
        entry.height = std::max(0, entry.height);
        appendWithId(list, nextId, std::move(entry));
    }
}

template <typename Entry>
Entry *findById(QList<Entry> &list, int id)
{
    for (auto &entry : list) {
        if (entry.id == id)
            return &entry;
    }
    return nullptr;
}

template <typename Entry>
const Entry *findById(const QList<Entry> &list, int id)
{
    for (const auto &entry : list) {
        if (entry.id == id)
            return &entry;
    }
    return nullptr;
}

template <typename Entry>
void removeById(QList<Entry> &list, int id)
{
    list.removeIf([id](const Entry &entry) { return entry.id == id; });
}

void removeClassFrom(QList<Annotation> &labels, const QString &name)
{
    labels.removeIf([&name](const Annotation &a) { return a.className == name; });
}

void renameIn(QList<Annotation> &labels, const QString &oldName, const QString &newName)
{
    for (auto &a : labels) {
        if (a.className == oldName)
            a.className = newName;
    }
}

} // namespace

void Dataset::addImage(const ImageEntry &entry)
{
    appendWithId(images, nextImageId, entry);
}

void Dataset::addVideo(const VideoEntry &entry)
{
    appendWithId(videos, nextVideoId, entry);
}

void Dataset::addClass(const QString &name, const QColor &color)
{
    if (classColors.contains(name) || name.trimmed().isEmpty())
        return;
    const QColor chosen = color.isValid() ? color : classPalette[classColors.size() % classPalette.size()];
    classColors.insert(name, chosen);
}

QStringList Dataset::classNames() const
{
    QStringList names = classColors.keys();
    QSet<QString> seen(names.cbegin(), names.cend());
    for (const auto &image : images) {
        for (const auto &a : image.labels) {
            if (seen.contains(a.className))
                continue;
            seen.insert(a.className);
            names.append(a.className);
        }
    }
    return names;
}

ImageEntry *Dataset::imageById(int id) { return findById(images, id); }
const ImageEntry *Dataset::imageById(int id) const { return findById(images, id); }
VideoEntry *Dataset::videoById(int id) { return findById(videos, id); }
const VideoEntry *Dataset::videoById(int id) const { return findById(videos, id); }

void Dataset::removeImage(int id) { removeById(images, id); }
void Dataset::removeVideo(int id) { removeById(videos, id); }

void Dataset::removeClass(const QString &name)
{
    if (!classColors.contains(name))
        return;
    classColors.remove(name);
    // The schema must not bring the class back when the project is read again.
    if (keypointSchema.objectClass == name)
        keypointSchema.objectClass.clear();
    for (auto &image : images)
        removeClassFrom(image.labels, name);
    for (auto &video : videos) {
        for (auto it = video.frameLabels.begin(); it != video.frameLabels.end();) {
            removeClassFrom(it.value(), name);
            it = it.value().isEmpty() ? video.frameLabels.erase(it) : std::next(it);
        }
    }
}

void Dataset::renameClass(const QString &oldName, const QString &newName)
{
    if (oldName == newName || newName.trimmed().isEmpty() || !classColors.contains(oldName))
        return;
    classColors.insert(newName, classColors.take(oldName));
    if (keypointSchema.objectClass == oldName)
        keypointSchema.objectClass = newName;
    for (auto &image : images)
        renameIn(image.labels, oldName, newName);
    for (auto &video : videos) {
        for (auto &frame : video.frameLabels)
            renameIn(frame, oldName, newName);
    }
}

void Dataset::setClassColor(const QString &name, const QColor &color)
{
    if (name.isEmpty() || !color.isValid())
        return;
    classColors.insert(name, color);
}

void Dataset::setKeypointSchema(const KeypointSchema &schema)
{
    keypointSchema = schema;
    if (!schema.objectClass.trimmed().isEmpty())
        addClass(schema.objectClass, QColor());
}

void Dataset::syncClassesFromAnnotations()
{
    // A project's many annotations share a few class names, and mostly share
    // their text too (readers and copies pass one string around): a name whose
    // text was looked at already is known by its address, without a search
    // of the class map. Up to a bound, for datasets where every name has a
    // text of its own.
    constexpr qsizetype rememberedTexts = 4096;
    QSet<const QChar *> seen;
    auto sync = [&](const QString &name) {
        const QChar *text = name.constData();
        if (seen.contains(text))
            return;
        addClass(name, QColor());
        if (seen.size() < rememberedTexts)
            seen.insert(text);
    };
    for (const auto &image : images) {
        for (const auto &a : image.labels)
            sync(a.className);
    }
    for (const auto &video : videos) {
        for (const auto &frame : video.frameLabels) {
            for (const auto &a : frame)
                sync(a.className);
        }
    }
}

void Dataset::appendAsNew(QList<ImageEntry> entries)
{
    appendAllAsNew(images, nextImageId, std::move(entries));
}

void Dataset::appendAsNew(QList<VideoEntry> entries)
{
    appendAllAsNew(videos, nextVideoId, std::move(entries));
}

void Dataset::mergeClassColors(const QMap<QString, QColor> &colors)
{
    for (auto it = colors.cbegin(); it != colors.cend(); ++it)
        addClass(it.key(), it.value());
}

} // namespace Quillmark
