#pragma once

#include "model/Dataset.h"

#include <QHash>
#include <QList>
#include <QMap>
#include <QPixmap>
#include <QWidget>

class QCheckBox;
class QGroupBox;
class QLabel;
class QListWidget;
class QListWidgetItem;
class QMenu;
class QPushButton;

namespace Quillmark {

// Status dot of an image row (12 x 12).
QPixmap statusDotPixmap(const QColor &color);
// Film icon of a video row (14 x 14).
QPixmap videoIconPixmap(const QColor &color);

// The "Files" panel: every image and video of the project in one list, with a
// labelled-state icon per row, "Labeled"/"Unlabeled" filters, a row counter and
// a "+" button. Image rows carry the image id, video rows ~videoId (negative).
class ImageListPanel : public QWidget {
    Q_OBJECT
public:
    explicit ImageListPanel(QWidget *parent = nullptr);

    void setDataset(const Dataset &dataset);
    void refresh(bool emitCurrent);
    void setImageLabeled(int imageId, bool labeled);
    void setVideoLabeled(int videoId, bool labeled);
    void selectImage(int imageId);
    void selectVideo(int videoId);
    QList<int> selectedImageIds() const;
    void setStatusText(const QString &text);

    // The context menu for a position of the list (list coordinates), or null
    // when no row is there. The caller owns the menu.
    QMenu *createContextMenu(const QPoint &pos);

    QListWidget *listWidget() const { return list; }
    QCheckBox *labeledFilter() const { return labeledCheck; }
    QCheckBox *unlabeledFilter() const { return unlabeledCheck; }
    QLabel *countLabel() const { return count; }
    QLabel *titleLabel() const { return title; }
    QGroupBox *statusGroup() const { return statusBox; }
    QPushButton *addButton() const { return addBtn; }

signals:
    void imageSelected(int id);
    void addImagesRequested();
    void deleteImagesRequested(const QList<int> &imageIds);
    void deleteVideosRequested(const QList<int> &videoIds);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void showContextMenu(const QPoint &pos);
    void selectRowWithValue(int value);
    bool isFilteredOut(bool labeled) const;

    QLabel *title = nullptr;
    QLabel *count = nullptr;
    QListWidget *list = nullptr;
    QGroupBox *statusBox = nullptr;
    QCheckBox *labeledCheck = nullptr;
    QCheckBox *unlabeledCheck = nullptr;
    QPushButton *addBtn = nullptr;
    QList<ImageEntry> images;
    QList<VideoEntry> videos;
    QMap<int, bool> imageLabeled;
    QMap<int, bool> videoLabeled;
    // Row value -> item, rebuilt with the rows, so per-row updates do not scan.
    QHash<int, QListWidgetItem *> rowByValue;
};

} // namespace Quillmark
