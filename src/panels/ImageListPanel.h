#pragma once

#include "model/Dataset.h"

#include <QList>
#include <QPixmap>
#include <QWidget>

#include <optional>

class QCheckBox;
class QGroupBox;
class QLabel;
class QListView;
class QMenu;
class QModelIndex;
class QPushButton;

namespace Quillmark {

class FileListModel;

// Status dot of an image row (12 x 12).
QPixmap statusDotPixmap(const QColor &color);
// Film icon of a video row (14 x 14).
QPixmap videoIconPixmap(const QColor &color);

// The "Files" panel: every image and video of the project in one list, with a
// labelled-state icon per row, "Labeled"/"Unlabeled" filters, a row counter and
// a "+" button. Image rows carry the image id, video rows ~videoId (negative).
// The rows are a model over the panel's copy of the entries, all of one height,
// so the visible rows paint at once whatever the project's size.
class ImageListPanel : public QWidget {
    Q_OBJECT
public:
    explicit ImageListPanel(QWidget *parent = nullptr);

    void setDataset(const Dataset &dataset);
    void refresh(bool emitCurrent);
    void setImageLabeled(int imageId, bool labeled);
    void setVideoLabeled(int videoId, bool labeled);
    // Marks the rows of entries whose files are not there.
    void markMissing(const QList<int> &imageIds, const QList<int> &videoIds);
    void selectImage(int imageId);
    void selectVideo(int videoId);
    // Makes the row of the item the canvas shows (image id, or ~videoId)
    // current, without a signal. When the list has no row for it (its state is
    // filtered out), or nothing is shown, no row is current: the list never
    // highlights another item than the one shown.
    void followShown(std::optional<int> value);
    // The list shows a row for the item (image id, or ~videoId): it has one,
    // and the filters do not hide it.
    bool showsValue(int value) const;
    // A filter leaves some item out.
    bool isFiltered() const;
    QList<int> selectedImageIds() const;
    void setStatusText(const QString &text);

    // The context menu for a position of the list (list coordinates), or null
    // when no row is there. The caller owns the menu.
    QMenu *createContextMenu(const QPoint &pos);

    QListView *listView() const { return list; }
    FileListModel *rowModel() const { return rows; }
    // The value of the current row (image id, or ~videoId), or nullopt.
    std::optional<int> currentValue() const;
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
    // "Labeled" or "Unlabeled" was toggled and the rows rebuilt (after the
    // imageSelected of the new current row, when there is one).
    void filterChanged();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void showContextMenu(const QPoint &pos);
    void selectRowWithValue(int value);
    bool isFilteredOut(bool labeled) const;
    void rebuildRows(std::optional<int> remembered, bool emitCurrent);
    void applyFilterTo(int row);
    QList<int> selectedValues() const;
    void onCurrentChanged(const QModelIndex &current);
    void onClicked(const QModelIndex &index);

    QLabel *title = nullptr;
    QLabel *count = nullptr;
    QListView *list = nullptr;
    FileListModel *rows = nullptr;
    QGroupBox *statusBox = nullptr;
    QCheckBox *labeledCheck = nullptr;
    QCheckBox *unlabeledCheck = nullptr;
    QPushButton *addBtn = nullptr;
    // Whether the mouse went down on the row that was already current: a click
    // there changes no current row, and is passed on as a choice of its own.
    bool pressedOnCurrent = false;
    // Set while the panel itself moves the current row: no signal then.
    bool quiet = false;
};

} // namespace Quillmark
