#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

namespace Quillmark {

// The skeleton of a pose project: which class carries the keypoints, their names
// in order, and the edges between them as 0-based index pairs.
struct KeypointSchema {
    QString objectClass;
    QStringList keypointNames;
    QList<QPair<int, int>> edges;

    bool isInUse() const { return !keypointNames.isEmpty(); }
    bool operator==(const KeypointSchema &) const = default;
};

} // namespace Quillmark
