#pragma once

#include "model/Annotation.h"

#include <QList>
#include <QString>
#include <QUndoCommand>

namespace Quillmark {

class LabelCanvas;

// One undo step of the canvas: the whole annotation list before and after an
// edit, with the selection to restore on each side. Undo and redo install one of
// the two lists on the canvas. Steps never merge.
class SnapshotCommand : public QUndoCommand {
public:
    SnapshotCommand(const QString &text, LabelCanvas *canvas, const QList<Annotation> &before, int beforeSelection,
                    const QList<Annotation> &after, int afterSelection);

    void undo() override;
    void redo() override;

    // True when the two lists hold the same annotations: same length and, pair by
    // pair, the same id, class, kind, box and points (coordinates compared
    // fuzzily) and keypoint visibilities. Confidence and attributes do not count.
    static bool listsEqual(const QList<Annotation> &a, const QList<Annotation> &b);
    static bool annotationsEqual(const Annotation &a, const Annotation &b);
    // Relative comparison at 1e-12; absolute at 1e-12 when either value is zero.
    static bool fuzzyEqual(double a, double b);

private:
    LabelCanvas *canvas;
    QList<Annotation> before;
    int beforeSelection;
    QList<Annotation> after;
    int afterSelection;
};

} // namespace Quillmark
