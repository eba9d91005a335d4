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

// A model list entry: the file name with its size ("model.onnx  (12 MB)"),
// carrying the absolute path as its data.
QString modelItemText(const QFileInfo &file);
void addModelItem(QComboBox *combo, const QFileInfo &file);

} // namespace Quillmark
