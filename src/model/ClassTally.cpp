#include "model/ClassTally.h"

namespace Quillmark {

void ClassTally::add(const QString &name)
{
    const QChar *text = name.constData();
    if (const auto it = slotOfText.constFind(text); it != slotOfText.cend()) {
        ++byText[size_t(*it)].second;
        return;
    }
    if (slotOfText.size() >= rememberedTexts) {
        ++byName[name];
        return;
    }
    slotOfText.insert(text, qsizetype(byText.size()));
    byText.emplace_back(name, 1);
}

QMap<QString, int> ClassTally::counts() const
{
    QMap<QString, int> counts;
    for (const auto &[name, count] : byText)
        counts[name] += count;
    for (auto it = byName.cbegin(); it != byName.cend(); ++it)
        counts[it.key()] += it.value();
    return counts;
}

} // namespace Quillmark
