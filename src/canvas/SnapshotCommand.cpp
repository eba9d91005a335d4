#include "canvas/SnapshotCommand.h"

#include "canvas/LabelCanvas.h"

#include <algorithm>
#include <cmath>

namespace Quillmark {

SnapshotCommand::SnapshotCommand(const QString &text, LabelCanvas *canvas, const QList<Annotation> &before,
                                 int beforeSelection, const QList<Annotation> &after, int afterSelection)
    : QUndoCommand(text), canvas(canvas), before(before), beforeSelection(beforeSelection), after(after),
      afterSelection(afterSelection)
{
}

void SnapshotCommand::undo()
{
    canvas->restoreSnapshot(before, beforeSelection);
}

void SnapshotCommand::redo()
{
    canvas->restoreSnapshot(after, afterSelection);
}

bool SnapshotCommand::fuzzyEqual(double a, double b)
{
    if (a == 0.0 || b == 0.0)
        return std::abs(a - b) <= 1e-12;
    return std::abs(a - b) * 1e12 <= std::min(std::abs(a), std::abs(b));
}

bool SnapshotCommand::annotationsEqual(const Annotation &a, const Annotation &b)
{
    if (a.id != b.id || a.className != b.className || a.kind != b.kind)
        return false;
    if (!fuzzyEqual(a.bbox.x(), b.bbox.x()) || !fuzzyEqual(a.bbox.y(), b.bbox.y()) ||
        !fuzzyEqual(a.bbox.width(), b.bbox.width()) || !fuzzyEqual(a.bbox.height(), b.bbox.height()))
        return false;
    if (a.points.size() != b.points.size())
        return false;
    for (qsizetype i = 0; i < a.points.size(); ++i) {
        if (!fuzzyEqual(a.points.at(i).x(), b.points.at(i).x()) || !fuzzyEqual(a.points.at(i).y(), b.points.at(i).y()))
            return false;
    }
    return a.keypointVis == b.keypointVis;
}

bool SnapshotCommand::listsEqual(const QList<Annotation> &a, const QList<Annotation> &b)
{
    if (a.size() != b.size())
        return false;
    if (a.constData() == b.constData())
        return true;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (!annotationsEqual(a.at(i), b.at(i)))
            return false;
    }
    return true;
}

} // namespace Quillmark
