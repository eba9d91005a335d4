#include "model/GeometryAttributes.h"

namespace Quillmark {

bool isGeometryAttribute(const QString &key)
{
    return key == GeometryAttribute::Parts || key == GeometryAttribute::Mask || key == GeometryAttribute::Area ||
           key == GeometryAttribute::Crowd;
}

} // namespace Quillmark
