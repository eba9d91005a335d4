#pragma once

#include "canvas/Tool.h"

#include <QList>
#include <QMap>
#include <QString>

#include <array>

namespace Quillmark {

// One button of the side tool bar.
struct ToolTableRow {
    Tool tool;
    const char *icon;      // resource path of the tinted SVG
    const char *toolTip;
    bool separatorBefore;  // a separator line stands above the button
};

// The eight tools in button order.
extern const std::array<ToolTableRow, 8> toolTable;

// Tools each known project type allows, as tool values. A type missing from
// the map (other than the empty key) allows every tool.
const QMap<QString, QList<int>> &allowedToolsByProjectType();

// Whether `tool` may be used in a project of type `projectType`: every tool for
// a type the map does not know, none for the empty key.
bool isToolAllowed(const QString &projectType, int tool);

} // namespace Quillmark
