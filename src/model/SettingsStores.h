#pragma once

#include <QSettings>
#include <QString>

namespace Quillmark {

// The program's three settings stores and the rules for the values several
// windows share: the stored theme and where a configured model file lies.
//   default store: organisation and application set on the application object;
//   product store: "Quillmark"/"Quillmark" (models folder, a few last-used folders);
//   export store:  "Lumbra"/"Quillmark" (the last package-export folder).
// Each store keys its values apart; the same key in two stores is two values.
class SettingsStores {
public:
    static QSettings defaultStore();
    static QSettings productStore();
    static QSettings exportStore();

    // "ui/theme" of the default store: 0 light, 1 dark; 0 when unset.
    static const QString themeKey;
    static int storedTheme();

    // The absolute path of the model configured under a key of the default
    // store ("models/sam", ...), or empty when the key is unset.
    static QString resolveModelPath(const QString &key);
    // The same rule for a stored value, against a given program folder: a
    // relative path is looked for in the program folder and up to seven of its
    // ancestors; an absolute path to a missing file falls back to the program
    // folder's "models/" folder.
    static QString resolveModelPathFrom(const QString &value, const QString &appDir);
};

} // namespace Quillmark
