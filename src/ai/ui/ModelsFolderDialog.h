#pragma once

#include <QString>

class QComboBox;
class QFileInfo;
class QPushButton;
class QWidget;

namespace Quillmark {

// Asks for the models folder (a folder chooser titled `caption`, starting in the
// home folder) and remembers the choice as "modelsDir" of the Quillmark/Quillmark
// settings, where resolveModelsDir finds it. False when the user cancelled.
bool chooseModelsFolder(QWidget *parent, const QString &caption);

// The 30-pixel square buttons beside a model list ("↺", "…").
QPushButton *modelListButton(const QString &text, const QString &toolTip, QWidget *parent);

// A model list: expanding, and as wide as its longest entry, so that file names
// (and their sizes) are shown whole.
QComboBox *modelListCombo(QWidget *parent);
// After a model list was refilled: the shown window holding `widget` grows
// (never shrinks) to its size hint once the layouts have taken in the new
// entries. A window not shown yet takes its size hint when it shows.
void growWindowToFit(QWidget *widget);

// A model list entry: the file name with its size ("model.onnx  (12 MB)"),
// carrying the absolute path as its data.
QString modelItemText(const QFileInfo &file);
void addModelItem(QComboBox *combo, const QFileInfo &file);

} // namespace Quillmark
