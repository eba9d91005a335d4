#pragma once

#include "chrome/Theme.h"

#include <QList>
#include <QString>
#include <QWidget>

class QComboBox;
class QPushButton;

namespace Quillmark {

// The main window's horizontal command bar: 21 icon buttons, each emitting a
// signal of its own, a theme selector, and the save-button pulse with its hint.
class ToolBar : public QWidget {
    Q_OBJECT
public:
    // Button positions, in creation order.
    enum Button {
        NewProject, OpenProject, SaveProject, CloseProject,
        ImportPackage, ExportPackage,
        ImportImages, ImportVideo, ImportDataset, ExportDataset,
        Undo, Redo,
        SkipPrevious, Rewind, Prev, Play, Next, FastForward, SkipNext,
        Settings, Help,
        ButtonCount
    };

    explicit ToolBar(QWidget *parent = nullptr);

    void setProjectOpen(bool open);
    // Undo and Redo are enabled only with something to undo or redo (and a
    // project open).
    void setHistoryAvailable(bool canUndo, bool canRedo);
    // Enables or disables Jump Back, Play Slideshow and Jump Forward.
    void setPlaybackEnabled(bool enabled);
    // Re-tints the icons and selects the theme's combo item without emitting
    // themeChanged.
    void setTheme(Quillmark::Theme::Mode mode);
    // Pulses the Save button orange and shows "Save your project first" under it.
    void pulseSaveButton();

    QPushButton *button(Button which) const;
    QComboBox *themeCombo() const { return combo; }

signals:
    void newProjectClicked();
    void openProjectClicked();
    void saveProjectClicked();
    void closeProjectClicked();
    void importImagesClicked();
    void importVideoClicked();
    void importDatasetClicked();
    void importQuillPackageClicked();
    void exportQuillPackageClicked();
    void exportDatasetClicked();
    void undoClicked();
    void redoClicked();
    void skipPreviousClicked();
    void rewindClicked();
    void prevClicked();
    void playClicked();
    void nextClicked();
    void fastForwardClicked();
    void skipNextClicked();
    void themeChanged(Quillmark::Theme::Mode mode);
    void settingsClicked();
    void helpClicked();

private:
    struct Entry {
        QPushButton *button;
        QString iconPath;
    };

    QPushButton *makeButton(const QString &iconPath, const QString &toolTip);
    void addSeparator();
    void updateIcons();

    QList<Entry> entries;
    QComboBox *combo = nullptr;
    bool dark = false;
    bool projectOpen = false;
    bool canUndo = false;
    bool canRedo = false;
    void refreshHistoryButtons();
};

} // namespace Quillmark
