#pragma once

#include <QString>

#include <array>

namespace Quillmark {

// One project type offered by the new-project wizard's type page.
struct WizardTypeRow {
    QString key;          // project-type key
    QString title;        // text under the button's illustration
    QString illustration; // resource path of the button's picture
};

// The six types of the wizard, in button order (two rows of three).
extern const std::array<WizardTypeRow, 6> wizardTypeTable;

// The description shown under the type buttons; empty for an unknown key.
QString wizardTypeDescription(const QString &typeKey);
// The placeholder the setup page proposes as project name; "My Project" for an
// unknown or empty key.
QString wizardDefaultProjectName(const QString &typeKey);
// The name of the type on the summary page; the key itself when unknown.
QString wizardSummaryTypeName(const QString &typeKey);

} // namespace Quillmark
