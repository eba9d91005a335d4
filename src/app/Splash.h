#pragma once

#include <QPixmap>
#include <QString>

class QSplashScreen;
class QWidget;

namespace Quillmark {

// Start-up: the splash picture with its version badge, and the hand-over from
// the splash to the main window.
namespace Splash {

inline constexpr int showWindowAfterMs = 2500;  // from start to showing the window
inline constexpr int finishSplashAfterMs = 1200; // from showing the window to closing the splash

// The picture scaled to fit 700 x 420 (keeping its aspect ratio) with the badge
// "v<version>" painted 16 pixels inside its bottom-right corner. A null
// picture stays null.
QPixmap makeSplashPixmap(const QPixmap &picture, const QString &version);

// Paints the version badge onto the pixmap.
void paintVersionBadge(QPixmap &pixmap, const QString &version);

// Shows `window` after showWindowAfterMs, then finishes the splash on it after
// finishSplashAfterMs more and deletes the splash later.
void handOver(QSplashScreen *splash, QWidget *window);

} // namespace Splash

} // namespace Quillmark
