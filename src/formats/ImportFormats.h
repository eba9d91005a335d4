#pragma once

#include <QString>
#include <QStringList>

namespace Quillmark {

// What the dataset import command knows about the formats it offers, by
// display name.

// The formats a folder can be imported as: every registered handler in
// registry order, the package left out (it is opened by a command of its own).
QStringList importCandidates();

// The candidates whose detection rule claims the folder, most specific first:
// several handlers often claim one folder (plain YOLO reads every folder with
// a data.yaml or label files), so the layouts that only a specialised reader
// understands (DOTA's oriented boxes and pose, then Darknet) come before the
// general ones. YOLOv8 OBB comes first only in a folder that says it holds
// oriented boxes (declaresOrientedBoxes); otherwise the YOLO reader, which
// reads its lines as exactly, comes before it. Otherwise the registry order
// stays. Reads files: call it off the GUI thread.
QStringList detectImportFormats(const QString &folder);

// `detected` reordered as detectImportFormats orders it, for a folder that
// does or does not say it holds oriented boxes.
QStringList orderBySpecificity(const QStringList &detected, bool orientedBoxesDeclared);

// The project type an import in this format gives a project that has none,
// or an empty string when the format leaves it to be inferred from the
// annotations.
QString importProjectType(const QString &format);

// The resource of the format's icon, or an empty string.
QString importFormatIcon(const QString &format);

} // namespace Quillmark
