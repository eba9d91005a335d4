#pragma once

#include <QLabel>

namespace Quillmark {

// A one-line label that gives way in a crowded row: it asks for no width of its
// own and draws its text cut short with an ellipsis in the middle when the text
// does not fit, the whole text then being its tool tip.
class ElidedLabel : public QLabel {
    Q_OBJECT

public:
    explicit ElidedLabel(QWidget *parent = nullptr);

    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
};

} // namespace Quillmark
