#include "dialogs/ProjectSavePath.h"

#include "dialogs/Prompts.h"

#include <QFileInfo>

namespace Quillmark {

namespace {

const QString projectSuffix = QStringLiteral(".qmk");
const QString projectFilter = QStringLiteral("Quillmark Project (*.qmk)");

} // namespace

QString withProjectFileSuffix(const QString &path)
{
    if (path.isEmpty() || path.endsWith(projectSuffix, Qt::CaseInsensitive))
        return path;
    return path + projectSuffix;
}

QString askProjectSavePath(QWidget *parent, const QString &caption, const QString &startDir)
{
    const QString chosen = Prompts::current().getSaveFileName(parent, caption, startDir, projectFilter);
    const QString path = withProjectFileSuffix(chosen);
    if (path == chosen)
        return path;
    const QFileInfo target(path);
    if (!target.exists() && !target.isSymLink())
        return path;
    const QMessageBox::StandardButton answer = Prompts::current().question(
        parent, caption, QStringLiteral("%1 already exists.\nDo you want to replace it?").arg(target.fileName()),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    return answer == QMessageBox::Yes ? path : QString();
}

} // namespace Quillmark
