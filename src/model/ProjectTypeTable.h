#pragma once

#include <QColor>
#include <QString>

#include <array>

namespace Quillmark {

// Project-type keys. An empty key means that no type has been chosen yet.
namespace ProjectTypes {
inline constexpr const char *ObjectDetection = "object_detection";
inline constexpr const char *Segmentation = "segmentation";
inline constexpr const char *SemanticSegmentation = "semantic_segmentation";
inline constexpr const char *Pose = "pose";
inline constexpr const char *Face = "face";
inline constexpr const char *Classification = "classification";
} // namespace ProjectTypes

// One row of the project-type table, as offered in the project-type dialog.
struct ProjectTypeInfo {
    QString key;
    QString title;
    QString description;
    QString icon;     // resource path of the type's SVG icon
    QColor color;     // accent colour
};

// The five types a user can pick in the project-type dialog, in display order.
// "semantic_segmentation" has no row: it comes only from the wizard or a file.
extern const std::array<ProjectTypeInfo, 5> projectTypeTable;

} // namespace Quillmark
