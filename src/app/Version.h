#pragma once

namespace Quillmark {

// The built-in version: shown on the splash badge and in the window title, and
// compared with the release manifest by the update check.
inline constexpr const char *appVersion = "1.2.0";

} // namespace Quillmark
