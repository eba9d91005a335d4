#include "formats/FormatRegistry.h"

#include "formats/ClipHandler.h"
#include "formats/CocoHandler.h"
#include "formats/CreateMLHandler.h"
#include "formats/CvatHandler.h"
#include "formats/DarknetHandler.h"
#include "formats/Florence2Handler.h"
#include "formats/LabelMeHandler.h"
#include "formats/MulticlassHandler.h"
#include "formats/PaliGemmaHandler.h"
#include "formats/PascalVocHandler.h"
#include "formats/QpkgHandler.h"
#include "formats/RetinaNetHandler.h"
#include "formats/RoboflowYoloHandler.h"
#include "formats/Yolo11Handler.h"
#include "formats/Yolo12Handler.h"
#include "formats/Yolo4PyTorchHandler.h"
#include "formats/Yolo4ScaledHandler.h"
#include "formats/Yolo5ObbHandler.h"
#include "formats/Yolo5PyTorchHandler.h"
#include "formats/Yolo6MtHandler.h"
#include "formats/Yolo7PyTorchHandler.h"
#include "formats/Yolo8Handler.h"
#include "formats/Yolo8ObbHandler.h"
#include "formats/Yolo9Handler.h"
#include "formats/YoloHandler.h"
#include "formats/YoloKerasHandler.h"
#include "formats/YoloPoseHandler.h"
#include "formats/YoloTfHandler.h"

namespace Quillmark {

FormatRegistry::FormatRegistry()
{
    // One handler of each format, in the fixed order in which the formats are
    // offered:
    //   QuillPackage, YOLO, COCO, Pascal VOC, CVAT XML, LabelMe, CreateML,
    //   Darknet, Florence-2, Multiclass, CLIP, PaliGemma, RetinaNet,
    //   YOLO TensorFlow, YOLOv3 Keras, YOLOv4 PyTorch, YOLOv4 Scaled,
    //   Roboflow YOLO, YOLOv5 OBB, YOLOv5 PyTorch, YOLOv6 MT, YOLOv7 PyTorch,
    //   YOLOv8, YOLOv8 OBB, YOLOv9, YOLOv11, YOLOv12, YOLO Pose.
    m_handlers.push_back(std::make_unique<QpkgHandler>());
    m_handlers.push_back(std::make_unique<YoloHandler>());
    m_handlers.push_back(std::make_unique<CocoHandler>());
    m_handlers.push_back(std::make_unique<PascalVocHandler>());
    m_handlers.push_back(std::make_unique<CvatHandler>());
    m_handlers.push_back(std::make_unique<LabelMeHandler>());
    m_handlers.push_back(std::make_unique<CreateMLHandler>());
    m_handlers.push_back(std::make_unique<DarknetHandler>());
    m_handlers.push_back(std::make_unique<Florence2Handler>());
    m_handlers.push_back(std::make_unique<MulticlassHandler>());
    m_handlers.push_back(std::make_unique<ClipHandler>());
    m_handlers.push_back(std::make_unique<PaliGemmaHandler>());
    m_handlers.push_back(std::make_unique<RetinaNetHandler>());
    m_handlers.push_back(std::make_unique<YoloTfHandler>());
    m_handlers.push_back(std::make_unique<YoloKerasHandler>());
    m_handlers.push_back(std::make_unique<Yolo4PyTorchHandler>());
    m_handlers.push_back(std::make_unique<Yolo4ScaledHandler>());
    m_handlers.push_back(std::make_unique<RoboflowYoloHandler>());
    m_handlers.push_back(std::make_unique<Yolo5ObbHandler>());
    m_handlers.push_back(std::make_unique<Yolo5PyTorchHandler>());
    m_handlers.push_back(std::make_unique<Yolo6MtHandler>());
    m_handlers.push_back(std::make_unique<Yolo7PyTorchHandler>());
    m_handlers.push_back(std::make_unique<Yolo8Handler>());
    m_handlers.push_back(std::make_unique<Yolo8ObbHandler>());
    m_handlers.push_back(std::make_unique<Yolo9Handler>());
    m_handlers.push_back(std::make_unique<Yolo11Handler>());
    m_handlers.push_back(std::make_unique<Yolo12Handler>());
    m_handlers.push_back(std::make_unique<YoloPoseHandler>());
}

FormatRegistry &FormatRegistry::instance()
{
    static FormatRegistry registry;
    return registry;
}

QList<IFormatHandler *> FormatRegistry::handlers() const
{
    QList<IFormatHandler *> list;
    list.reserve(qsizetype(m_handlers.size()));
    for (const auto &handler : m_handlers)
        list.append(handler.get());
    return list;
}

IFormatHandler *FormatRegistry::find(const QString &name) const
{
    for (const auto &handler : m_handlers) {
        if (handler->name() == name)
            return handler.get();
    }
    return nullptr;
}

} // namespace Quillmark
