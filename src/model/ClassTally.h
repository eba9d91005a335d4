#pragma once

#include <QHash>
#include <QMap>
#include <QString>

#include <vector>

namespace Quillmark {

// Counts annotations per class name. The many annotations of a project share
// a few names, and mostly share their text too (readers and copies pass one
// string around): a name whose text was counted already is known by its
// address, without hashing it. Up to a bound, for datasets where every name
// has a text of its own.
class ClassTally {
public:
    void add(const QString &name);
    // Name -> count, in name order.
    QMap<QString, int> counts() const;

private:
    static constexpr qsizetype rememberedTexts = 4096;

    QHash<const QChar *, qsizetype> slotOfText; // text address -> index into byText
    std::vector<std::pair<QString, int>> byText;
    QHash<QString, int> byName; // names past the bound
};

} // namespace Quillmark
