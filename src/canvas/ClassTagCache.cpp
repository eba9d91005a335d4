#include "canvas/ClassTagCache.h"

#include <QFontMetricsF>

namespace Quillmark {

const ClassTagCache::Tag &ClassTagCache::tag(const QString &name, const QFont &font)
{
    if (font != cachedFont || tags.size() >= MaxEntries) {
        tags.clear();
        cachedFont = font;
    }
    auto it = tags.find(name);
    if (it != tags.end())
        return it.value();
    Tag entry;
    entry.text.setText(name);
    entry.text.setTextFormat(Qt::PlainText);
    entry.text.setPerformanceHint(QStaticText::AggressiveCaching);
    entry.text.prepare(QTransform(), font);
    entry.advance = QFontMetricsF(font).horizontalAdvance(name);
    return tags.insert(name, entry).value();
}

} // namespace Quillmark
