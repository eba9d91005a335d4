#pragma once

#include <QObject>
#include <QString>

class QWidget;

namespace Quillmark {

// Keeps a button of a command whose feature is not built yet disabled, with a
// tool tip that says so, whatever else enables it later (the bars enable their
// buttons when a project opens or a job ends). It lives as the widget's child.
class PendingFeatureGuard : public QObject {
public:
    // Holds `widget` disabled from now on; its tool tip becomes its old one
    // followed by " — not available yet" (or "Not available yet" alone).
    static void hold(QWidget *widget);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    PendingFeatureGuard(QWidget *widget, const QString &toolTip);
    void apply();

    QWidget *widget;
    QString toolTip;
    bool applying = false;
};

} // namespace Quillmark
