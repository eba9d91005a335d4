#pragma once

#include <QIcon>
#include <QObject>

class QAbstractButton;

namespace Quillmark {

// Shows a button's Active icon while the mouse is over it. The button style
// picks the Active pixmap only for a button with the keyboard focus, and the
// bar buttons never take the focus; so while hovered the button carries an
// icon whose Normal pixmap is the Active one, and gets its own icon back when
// the mouse leaves. An icon set meanwhile (a theme change) is kept.
class HoverTint : public QObject {
    Q_OBJECT

public:
    // Watches `button`; the tint lives as long as the button.
    static void install(QAbstractButton *button);

    // The icon with its Active pixmaps in place of the Normal ones; the icon
    // itself when it has no Active pixmap of that size.
    static QIcon hoverVariant(const QIcon &icon, const QSize &size);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    explicit HoverTint(QAbstractButton *button);
    void enter();
    void leave();

    QAbstractButton *button = nullptr;
    QIcon ownIcon;
    qint64 shownKey = 0;
    bool tinted = false;
};

} // namespace Quillmark
