#pragma once

namespace Quillmark {

// The application's style sheet gives every push button one text colour, so a
// disabled button would look ready to click. The AI dialogs add this to their
// own sheet: grey text when disabled, readable on both themes.
inline constexpr char aiDialogStyleSheet[] = "QPushButton:disabled { color: #8a8f98; }";

} // namespace Quillmark
