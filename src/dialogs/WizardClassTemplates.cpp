#include "dialogs/WizardClassTemplates.h"

#include "ai/CocoClassNames.h"

namespace Quillmark {

const QList<QColor> &wizardClassPalette()
{
    static const QList<QColor> palette = {
        QColor("#DC3232"), QColor("#3282DC"), QColor("#32B450"), QColor("#FFA000"), QColor("#A046C8"),
        QColor("#00B4B4"), QColor("#E664AA"), QColor("#B48C32"), QColor("#5AC88C"), QColor("#C85A32"),
    };
    return palette;
}

QColor wizardClassColor(int classCount)
{
    const QList<QColor> &palette = wizardClassPalette();
    const int count = int(palette.size());
    return palette.at(((classCount % count) + count) % count);
}

QStringList wizardClassTemplate(int templateIndex)
{
    static const QStringList commonObjects = {
        "person", "car", "bicycle", "motorcycle", "bus", "truck", "dog", "cat", "bird", "traffic light", "stop sign",
    };
    static const QStringList voc20 = {
        "aeroplane",   "bicycle", "bird",  "boat",      "bottle", "bus",         "car",   "cat",  "chair", "cow",
        "diningtable", "dog",     "horse", "motorbike", "person", "pottedplant", "sheep", "sofa", "train", "tvmonitor",
    };
    switch (ClassTemplate(templateIndex)) {
    case ClassTemplate::CommonObjects:
        return commonObjects;
    case ClassTemplate::Coco80:
        return cocoClassNames;
    case ClassTemplate::Voc20:
        return voc20;
    }
    return {};
}

} // namespace Quillmark
