#pragma once

#include <QFont>
#include <QHash>
#include <QStaticText>
#include <QString>

namespace Quillmark {

// Laid-out class-name texts for the canvas's class tags. A project has few class
// names but an image can have thousands of tags, so each name is shaped once
// and then drawn from the cache.
class ClassTagCache {
public:
    struct Tag {
        QStaticText text;
        double advance = 0;
    };

    // The tag text of `name` in `font`; the cache starts over when the font changes.
    const Tag &tag(const QString &name, const QFont &font);

private:
    static constexpr int MaxEntries = 4096;

    QFont cachedFont;
    QHash<QString, Tag> tags;
};

} // namespace Quillmark
