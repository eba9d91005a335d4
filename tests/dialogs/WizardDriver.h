#pragma once

// Drives the new-project wizard the way a user does: through its buttons and
// widgets, refusing to press Next while the wizard keeps it disabled.

#include "dialogs/ClassEditDialog.h"
#include "dialogs/ClassesPage.h"
#include "dialogs/ObjectDetectionWizard.h"
#include "dialogs/ProjectTypePage.h"
#include "dialogs/SetupPage.h"

#include <QAbstractButton>
#include <QLineEdit>
#include <QStringList>

namespace QmTest {

inline bool nextEnabled(const QWizard &wizard)
{
    const QAbstractButton *next = wizard.button(QWizard::NextButton);
    return next->isVisible() && next->isEnabled();
}

// Presses Next; false (and no move) when Next is hidden or disabled.
inline bool pressNext(QWizard &wizard)
{
    if (!nextEnabled(wizard))
        return false;
    wizard.next();
    return true;
}

inline void chooseType(Quillmark::ObjectDetectionWizard &wizard, const QString &key)
{
    wizard.typePage()->typeButton(key)->click();
}

inline void typeName(Quillmark::ObjectDetectionWizard &wizard, const QString &name)
{
    wizard.setupPage()->nameEdit()->setText(name);
}

// A class editor that types the queued names (keeping the proposed colour
// unless one is queued) and accepts; an empty queue cancels.
struct ScriptedClassEditor {
    QStringList names;
    QList<QColor> colors;
    QList<QColor> proposedColors;
    QStringList titles;

    Quillmark::ClassesPage::EditorRunner runner()
    {
        return [this](Quillmark::ClassEditDialog &dialog) {
            titles.append(dialog.windowTitle());
            proposedColors.append(dialog.color());
            if (names.isEmpty())
                return false;
            dialog.nameEdit()->setText(names.takeFirst());
            if (!colors.isEmpty())
                dialog.setColor(colors.takeFirst());
            return true;
        };
    }
};

} // namespace QmTest
