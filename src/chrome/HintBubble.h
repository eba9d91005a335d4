#pragma once

#include <QWidget>

namespace Quillmark {

// A dark speech bubble that appears 3 px below the centre of an anchor widget,
// with a message and a key cap, fades in over 200 ms, starts fading out after
// 3500 ms and closes (and deletes) itself when the 300 ms fade-out ends. It
// stays within the available area of the anchor's screen, its arrow pointing
// at the anchor.
class HintBubble : public QWidget {
public:
    HintBubble(QWidget *anchor, const QString &message, const QString &keyCap, const QString &keyCapStyle);

    // Where the arrow's tip is, in the bubble's own coordinates.
    int arrowTipX() const { return arrowX < 0 ? width() / 2 : arrowX; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void placeUnder(QWidget *anchor);

    static constexpr int arrowHalfWidth = 7;
    int arrowX = -1;
};

// Puts a pulsing orange colour effect on `target` (four 600 ms pulses) owned by
// `owner`; the effect is removed again when the pulses end. A second call while
// the first still runs restarts the effect.
void pulseWidget(QWidget *target, QObject *owner);

} // namespace Quillmark
