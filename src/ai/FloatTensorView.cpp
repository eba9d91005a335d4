#include "ai/FloatTensorView.h"

#include <QStringList>

namespace Quillmark {

namespace {

void setReason(QString *reason, const QString &text)
{
    if (reason)
        *reason = text;
}

} // namespace

std::optional<FloatTensorView> FloatTensorView::from(const Ort::Value &value, QString *reason)
{
    if (!value || !value.IsTensor()) {
        setReason(reason, QStringLiteral("output is not a tensor"));
        return std::nullopt;
    }
    const Ort::TensorTypeAndShapeInfo info = value.GetTensorTypeAndShapeInfo();
    const ONNXTensorElementDataType type = info.GetElementType();
    if (type != ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT) {
        setReason(reason, QStringLiteral("output holds %1 values, expected float")
                              .arg(elementTypeName(type)));
        return std::nullopt;
    }
    FloatTensorView view;
    view.dims = info.GetShape();
    for (int64_t extent : view.dims) {
        if (extent < 0) {
            setReason(reason, QStringLiteral("output shape %1 has a negative extent")
                                  .arg(view.shapeText()));
            return std::nullopt;
        }
    }
    view.count = info.GetElementCount();
    view.values = view.count > 0 ? value.GetTensorData<float>() : nullptr;
    if (view.count > 0 && !view.values) {
        setReason(reason, QStringLiteral("output has no data"));
        return std::nullopt;
    }
    return view;
}

bool FloatTensorView::requireRank(size_t minRank, QString *reason) const
{
    if (dims.size() >= minRank)
        return true;
    setReason(reason, QStringLiteral("output shape %1 has %2 dimensions, expected at least %3")
                          .arg(shapeText()).arg(dims.size()).arg(minRank));
    return false;
}

bool FloatTensorView::requireElements(std::initializer_list<int64_t> extents, QString *reason) const
{
    size_t needed = 1;
    bool fits = true;
    for (int64_t extent : extents) {
        if (extent < 0) {
            fits = false;
            break;
        }
        if (extent == 0) {
            needed = 0;
            continue;
        }
        // needed * extent > count, without overflowing.
        if (needed > count / size_t(extent)) {
            fits = false;
            break;
        }
        needed *= size_t(extent);
    }
    if (fits && needed <= count)
        return true;
    setReason(reason, QStringLiteral("output shape %1 holds %2 values, fewer than its layout needs")
                          .arg(shapeText()).arg(count));
    return false;
}

QString FloatTensorView::shapeText() const
{
    QStringList parts;
    for (int64_t extent : dims)
        parts << QString::number(extent);
    return QLatin1Char('[') + parts.join(QLatin1Char(',')) + QLatin1Char(']');
}

QString FloatTensorView::elementTypeName(ONNXTensorElementDataType type)
{
    switch (type) {
    case ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT: return QStringLiteral("float");
    case ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT16: return QStringLiteral("float16");
    case ONNX_TENSOR_ELEMENT_DATA_TYPE_BFLOAT16: return QStringLiteral("bfloat16");
    case ONNX_TENSOR_ELEMENT_DATA_TYPE_DOUBLE: return QStringLiteral("double");
    case ONNX_TENSOR_ELEMENT_DATA_TYPE_UINT8: return QStringLiteral("uint8");
    case ONNX_TENSOR_ELEMENT_DATA_TYPE_INT8: return QStringLiteral("int8");
    case ONNX_TENSOR_ELEMENT_DATA_TYPE_INT32: return QStringLiteral("int32");
    case ONNX_TENSOR_ELEMENT_DATA_TYPE_INT64: return QStringLiteral("int64");
    case ONNX_TENSOR_ELEMENT_DATA_TYPE_BOOL: return QStringLiteral("bool");
    default: return QStringLiteral("type %1").arg(int(type));
    }
}

} // namespace Quillmark
