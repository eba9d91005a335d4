#pragma once

#include <QString>
#include <QStringList>

namespace Quillmark {
namespace Theme {

// The two themes; stored as an int under "ui/theme".
enum Mode : int {
    Light = 0,
    Dark = 1,
};

// The fourteen colours of a theme, "#rrggbb", in placeholder order (%1 first).
// Any mode other than Light gives the dark set.
QStringList colors(Mode mode);

// The style sheet template with its placeholders %1 .. %14 and its {theme}
// tokens still in place.
QString styleSheetTemplate();

} // namespace Theme

// The application style sheet of a theme: the template with every placeholder
// replaced by the theme's colour and every {theme} token by "light" or "dark".
// Set on the main window only, so windows that have no main-window parent keep
// the platform style.
QString buildAppStyleSheet(Theme::Mode mode);

} // namespace Quillmark
