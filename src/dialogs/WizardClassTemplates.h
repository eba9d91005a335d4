#pragma once

#include <QColor>
#include <QList>
#include <QStringList>

namespace Quillmark {

// The ten colours handed to new classes in the wizard, taken at index
// (number of classes already listed) modulo 10.
const QList<QColor> &wizardClassPalette();
// The palette colour for a class added to a list of `classCount` classes.
QColor wizardClassColor(int classCount);

// The quick-fill templates of the class page.
enum class ClassTemplate : int {
    CommonObjects = 0,
    Coco80 = 1,
    Voc20 = 2,
};

// The class names of a template, in order; empty for an index outside 0..2.
QStringList wizardClassTemplate(int templateIndex);

} // namespace Quillmark
