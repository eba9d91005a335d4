#pragma once

#include <QSet>
#include <QtGlobal>

#include <optional>

namespace Quillmark {

// The ids of images or videos as a file gives them. Ids are referenced by
// nothing outside the file, so a stored id that cannot be kept is replaced by
// a fresh one: no id at all, one that an entry read earlier already holds
// (stored or handed out), or one so large that the counter behind it could
// run out. Every reader of stored entries (project file, package) follows it,
// so that ids are unique and exact after every read.
class StoredIds {
public:
    static constexpr qint64 largestKept = 1 << 30;

    // The id to hand to Dataset::addImage or addVideo: the stored one when it
    // can be kept, else -1, which makes the dataset give the next id.
    int idToAdd(std::optional<qint64> stored) const
    {
        if (!stored || *stored < 0 || *stored > largestKept || m_taken.contains(int(*stored)))
            return -1;
        return int(*stored);
    }

    // Records the id the entry got once added.
    void noteAdded(int id) { m_taken.insert(id); }

private:
    QSet<int> m_taken;
};

} // namespace Quillmark
