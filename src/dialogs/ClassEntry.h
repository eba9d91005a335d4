#pragma once

#include <QColor>
#include <QString>

namespace Quillmark {

// One class of the new-project wizard's class list.
struct ClassEntry {
    QString name; // trimmed; unique within the list ignoring case
    QColor color;

    bool operator==(const ClassEntry &) const = default;
};

} // namespace Quillmark
