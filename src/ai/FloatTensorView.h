#pragma once

#include "ai/OrtRuntime.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <vector>

namespace Quillmark {

// A model output checked before anything reads it. Models come from users, so an
// output may be of another element type (fp16 exports are common), of another
// rank, or hold fewer elements than the code expects from its layout; each check
// here answers with a reason instead of letting the decoder read past the tensor.
//
//     auto out = FloatTensorView::from(outputs[0], &why);
//     if (!out || !out->requireRank(3, &why) || !out->requireElements({rows, cols}, &why))
//         return fail(why);
//
// The view borrows the value's memory; it must not outlive the Ort::Value.
class FloatTensorView {
public:
    // A view of a float tensor; none, with the reason, for anything else.
    static std::optional<FloatTensorView> from(const Ort::Value &value, QString *reason);

    const float *data() const { return values; }
    size_t elementCount() const { return count; }
    size_t rank() const { return dims.size(); }
    const std::vector<int64_t> &shape() const { return dims; }
    // Extent of dimension i, 0 when the tensor has fewer dimensions.
    int64_t dim(size_t i) const { return i < dims.size() ? dims[i] : 0; }

    // At least minRank dimensions.
    bool requireRank(size_t minRank, QString *reason) const;
    // Holds at least the product of the extents (all non-negative) as elements,
    // i.e. a row-major block of that size can be read from data().
    bool requireElements(std::initializer_list<int64_t> extents, QString *reason) const;

    // The shape as "[1,84,8400]".
    QString shapeText() const;

    // Readable name of a tensor element type ("float", "float16", "int64", ...).
    static QString elementTypeName(ONNXTensorElementDataType type);

private:
    FloatTensorView() = default;

    const float *values = nullptr;
    size_t count = 0;
    std::vector<int64_t> dims;
};

} // namespace Quillmark
