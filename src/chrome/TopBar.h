#pragma once

#include <QPoint>
#include <QString>
#include <QWidget>

class QLabel;
class QPushButton;

namespace Quillmark {

// The frameless main window's title bar: the brand button (about dialog), the
// project-type badge, the project name, the window buttons and window dragging.
class TopBar : public QWidget {
    Q_OBJECT
public:
    explicit TopBar(QWidget *parent = nullptr);

    void setHasProject(bool hasProject);
    void setProjectName(const QString &name);
    void setProjectType(const QString &key);
    // Kept for callers; the info label is never shown.
    void setInfoText(const QString &text);
    // Pulses the type badge orange and shows "Select a project type first"
    // under it; nothing while the badge is hidden.
    void pulseTypeBadge();

    QPushButton *typeBadge() const { return badge; }
    QLabel *projectNameLabel() const { return nameLabel; }
    QPushButton *brandButton() const { return brand; }
    QPushButton *minimizeButton() const { return minButton; }
    QPushButton *maximizeButton() const { return maxButton; }
    QPushButton *closeButton() const { return closeBtn; }

signals:
    void discardClicked();
    void prevClicked();
    void nextClicked();
    void aboutRequested();
    void projectTypeChangeRequested();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;

private:
    void styleTypeBadge();
    void toggleMaximized();

    QLabel *infoLabel = nullptr;
    QLabel *nameLabel = nullptr;
    QPushButton *badge = nullptr;
    QPushButton *brand = nullptr;
    QPushButton *minButton = nullptr;
    QPushButton *maxButton = nullptr;
    QPushButton *closeBtn = nullptr;
    QString projectType;
    QString projectName;
    bool hasProject = false;
    bool dragging = false;
    QPoint dragOffset;
};

} // namespace Quillmark
