#include "dialogs/ShortcutReference.h"

#include <QStringList>

namespace Quillmark {

const QList<ShortcutSection> shortcutReference = {
    {QStringLiteral("File"),
     {
         {QStringLiteral("Ctrl+N"), QStringLiteral("New project")},
         {QStringLiteral("Ctrl+O"), QStringLiteral("Open project")},
         {QStringLiteral("Ctrl+S"), QStringLiteral("Save project")},
         {QStringLiteral("Ctrl+Shift+S"), QStringLiteral("Save project as…")},
         {QStringLiteral("F5"), QStringLiteral("Import dataset")},
     }},
    {QStringLiteral("Edit"),
     {
         {QStringLiteral("Ctrl+Z"), QStringLiteral("Undo")},
         {QStringLiteral("Ctrl+Y"), QStringLiteral("Redo")},
         {QStringLiteral("Del"), QStringLiteral("Delete selected")},
         {QStringLiteral("Esc"), QStringLiteral("Deselect")},
     }},
    {QStringLiteral("Tools"),
     {
         {QStringLiteral("V"), QStringLiteral("Select / Move")},
         {QStringLiteral("B"), QStringLiteral("Bounding Box")},
         {QStringLiteral("P"), QStringLiteral("Polygon")},
         {QStringLiteral("K"), QStringLiteral("Keypoint")},
         {QStringLiteral("C"), QStringLiteral("Classification")},
         {QStringLiteral("Return"), QStringLiteral("Finalize keypoints")},
     }},
    {QStringLiteral("View"),
     {
         {QStringLiteral("+"), QStringLiteral("Zoom in")},
         {QStringLiteral("-"), QStringLiteral("Zoom out")},
         {QStringLiteral("F"), QStringLiteral("Fit to window")},
         {QStringLiteral("G"), QStringLiteral("Zoom 100%")},
         {QStringLiteral("L"), QStringLiteral("Toggle label tags")},
         {QStringLiteral("A  /  D"), QStringLiteral("Previous / next image")},
     }},
    {QStringLiteral("Video"),
     {
         {QStringLiteral("["), QStringLiteral("Jump to previous annotated frame")},
         {QStringLiteral("]"), QStringLiteral("Jump to next annotated frame")},
         {QStringLiteral("←  /  →"), QStringLiteral("Previous / next frame")},
         {QStringLiteral("Space"), QStringLiteral("Play / pause slideshow")},
     }},
    {QStringLiteral("Help"),
     {
         {QStringLiteral("F2"), QStringLiteral("Show shortcuts")},
     }},
};

QList<QKeySequence> shortcutKeySequences(const QString &keyText)
{
    if (keyText == QStringLiteral("←  /  →"))
        return {QKeySequence(Qt::Key_Left), QKeySequence(Qt::Key_Right)};
    if (keyText == QStringLiteral("A  /  D"))
        return {QKeySequence(Qt::Key_A), QKeySequence(Qt::Key_D)};
    // "+" and "-" are single keys, not separators of a key combination.
    if (keyText == QStringLiteral("+"))
        return {QKeySequence(Qt::Key_Plus)};
    if (keyText == QStringLiteral("-"))
        return {QKeySequence(Qt::Key_Minus)};
    const QKeySequence sequence = QKeySequence::fromString(keyText, QKeySequence::PortableText);
    if (sequence.isEmpty() || sequence[0].key() == Qt::Key_unknown)
        return {};
    return {sequence};
}

} // namespace Quillmark
