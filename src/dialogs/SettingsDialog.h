#pragma once

#include "chrome/Theme.h"

#include <QDialog>
#include <QString>

namespace Quillmark {

class SettingsDialog : public QDialog {
public:
    // The theme stored under "ui/theme"; Light when unset or out of range.
    static Theme::Mode savedTheme();

    // The absolute path of the model configured under a settings key of the
    // default store ("models/sam", ...), or empty when the key is unset.
    static QString resolveModelPath(const QString &key);
    // The same rule for a stored value, against a given program folder.
    static QString resolveModelPathFrom(const QString &value, const QString &appDir);
};

} // namespace Quillmark
