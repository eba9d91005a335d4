#include "formats/ImportFormats.h"

#include "formats/FormatRegistry.h"
#include "formats/Yolo8ObbHandler.h"

#include <QHash>

#include <algorithm>

namespace Quillmark {

namespace {

const QString packageFormat = QStringLiteral("QuillPackage");

// Lower ranks are more specific. Each of these formats shares its folders
// with plain YOLO, whose reader would lose what marks them: the class names
// of oriented boxes in DOTA's lines, the keypoints of a pose folder, the
// class names of a Darknet folder. The multi-task reader is not among them:
// its rule claims every folder with a data.yaml beside images/ and labels/
// (the common Ultralytics layout), and it reads boxes only and no background
// images, so plain YOLO, which comes first in the list, stays first.
//
// A YOLOv8 OBB line, a class and four corners, is also the YOLO outline of a
// quadrilateral, and a YOLO segmentation dataset whose pictures hold boxes
// (written as their four corners) and quadrilaterals only is made of such
// lines. The YOLO reader keeps those corners just as exactly, and keeps the
// background pictures too; the oriented-box reader comes first only when the
// folder says it holds oriented boxes.
int specificityRank(const QString &format, bool orientedBoxesDeclared)
{
    static const QHash<QString, int> ranks = {
        {QStringLiteral("YOLOv5 OBB"), 0},
        {QStringLiteral("YOLO Pose"), 0},
        {QStringLiteral("Darknet"), 1},
    };
    if (format == QLatin1String("YOLOv8 OBB"))
        return orientedBoxesDeclared ? 0 : 2;
    return ranks.value(format, 2);
}

} // namespace

QStringList importCandidates()
{
    QStringList names;
    for (const IFormatHandler *handler : FormatRegistry::instance().handlers()) {
        const QString name = handler->name();
        if (name != packageFormat)
            names.append(name);
    }
    return names;
}

QStringList detectImportFormats(const QString &folder)
{
    QStringList detected;
    for (const IFormatHandler *handler : FormatRegistry::instance().handlers()) {
        if (handler->name() != packageFormat && handler->canImport(folder))
            detected.append(handler->name());
    }
    const bool orientedBoxes =
        detected.contains(QStringLiteral("YOLOv8 OBB")) && declaresOrientedBoxes(folder);
    return orderBySpecificity(detected, orientedBoxes);
}

QStringList orderBySpecificity(const QStringList &detected, bool orientedBoxesDeclared)
{
    QStringList ordered = detected;
    std::stable_sort(ordered.begin(), ordered.end(), [orientedBoxesDeclared](const QString &a, const QString &b) {
        return specificityRank(a, orientedBoxesDeclared) < specificityRank(b, orientedBoxesDeclared);
    });
    return ordered;
}

QString importProjectType(const QString &format)
{
    static const QHash<QString, QString> types = [] {
        const QString detection = QStringLiteral("object_detection");
        QHash<QString, QString> table = {
            {QStringLiteral("Multiclass"), QStringLiteral("classification")},
            {QStringLiteral("CLIP"), QStringLiteral("classification")},
        };
        for (const char *name :
             {"YOLOv5 OBB", "YOLOv8 OBB", "Pascal VOC", "Darknet", "CreateML", "Florence-2", "PaliGemma", "RetinaNet",
              "YOLOv3 Keras", "YOLO TensorFlow", "YOLOv4 PyTorch", "YOLOv4 Scaled", "YOLOv5 PyTorch", "YOLOv6 MT",
              "YOLOv7 PyTorch", "YOLOv9", "YOLOv11", "YOLOv12", "Roboflow YOLO"})
            table.insert(QString::fromLatin1(name), detection);
        return table;
    }();
    return types.value(format);
}

QString importFormatIcon(const QString &format)
{
    static const QHash<QString, QString> icons = {
        {QStringLiteral("YOLO"), QStringLiteral(":/icons/yolo.svg")},
        {QStringLiteral("YOLO Pose"), QStringLiteral(":/icons/yolopose.svg")},
        {QStringLiteral("COCO"), QStringLiteral(":/icons/coco.svg")},
        {QStringLiteral("LabelMe"), QStringLiteral(":/icons/labelme.svg")},
        {QStringLiteral("Pascal VOC"), QStringLiteral(":/icons/voc.svg")},
        {QStringLiteral("CVAT XML"), QStringLiteral(":/icons/cvat.svg")},
        {QStringLiteral("CreateML"), QStringLiteral(":/icons/createml.svg")},
        {QStringLiteral("Darknet"), QStringLiteral(":/icons/darknet.svg")},
        {QStringLiteral("Florence-2"), QStringLiteral(":/icons/florence2.svg")},
        {QStringLiteral("Multiclass"), QStringLiteral(":/icons/multiclass.svg")},
        {QStringLiteral("CLIP"), QStringLiteral(":/icons/clip.svg")},
        {QStringLiteral("PaliGemma"), QStringLiteral(":/icons/paligemma.svg")},
        {QStringLiteral("RetinaNet"), QStringLiteral(":/icons/retinanet.svg")},
        {QStringLiteral("YOLOv3 Keras"), QStringLiteral(":/icons/yolov3keras.svg")},
        {QStringLiteral("YOLOv4 PyTorch"), QStringLiteral(":/icons/yolo4pytorch.svg")},
        {QStringLiteral("YOLOv4 Scaled"), QStringLiteral(":/icons/yolo4scaled.svg")},
        {QStringLiteral("Roboflow YOLO"), QStringLiteral(":/icons/yoloroboflow.svg")},
        {QStringLiteral("YOLO TensorFlow"), QStringLiteral(":/icons/yolotf.svg")},
        {QStringLiteral("YOLOv5 OBB"), QStringLiteral(":/icons/yolo5obb.svg")},
        {QStringLiteral("YOLOv5 PyTorch"), QStringLiteral(":/icons/yolo5pytorch.svg")},
        {QStringLiteral("YOLOv6 MT"), QStringLiteral(":/icons/yolo6mt.svg")},
        {QStringLiteral("YOLOv7 PyTorch"), QStringLiteral(":/icons/yolo7pytorch.svg")},
        {QStringLiteral("YOLOv8"), QStringLiteral(":/icons/yolov8.svg")},
        {QStringLiteral("YOLOv8 OBB"), QStringLiteral(":/icons/yolov8obb.svg")},
        {QStringLiteral("YOLOv9"), QStringLiteral(":/icons/yolov9.svg")},
        {QStringLiteral("YOLOv11"), QStringLiteral(":/icons/yolov11.svg")},
        {QStringLiteral("YOLOv12"), QStringLiteral(":/icons/yolov12.svg")},
        {QStringLiteral("QuillPackage"), QStringLiteral(":/icons/quill.svg")},
    };
    return icons.value(format);
}

} // namespace Quillmark
