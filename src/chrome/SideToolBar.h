#pragma once

#include "canvas/Tool.h"

#include <QList>
#include <QPair>
#include <QString>
#include <QWidget>

class QButtonGroup;
class QPushButton;

namespace Quillmark {

// The narrow vertical strip of checkable tool buttons beside the canvas. Shows
// the tools the project type allows and reports the user's choice.
class SideToolBar : public QWidget {
    Q_OBJECT
public:
    explicit SideToolBar(QWidget *parent = nullptr);
    ~SideToolBar() override;

    // Marks the tool's button as checked without emitting toolChanged.
    void setTool(int tool);
    // Enables the tools of the type; an empty type disables every tool. Falls
    // back to Select (emitting toolChanged) when the current tool is not allowed.
    void setProjectType(const QString &type);
    // Re-tints every icon for the dark (true) or light theme.
    void setDark(bool dark);

    int tool() const { return currentTool; }
    // The button of a tool value, or null.
    QPushButton *button(int tool) const;

signals:
    void toolChanged(Quillmark::Tool tool);

private:
    void updateIcons();

    QButtonGroup *group = nullptr;
    QList<QPair<QPushButton *, QString>> buttons;
    int currentTool = 0;
    bool dark = false;
};

} // namespace Quillmark
