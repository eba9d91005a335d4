#pragma once

#include "ai/ui/AiRunPanel.h"

#include <QDialog>
#include <QString>

class QComboBox;
class QDoubleSpinBox;
class QGroupBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTabWidget;

namespace Quillmark {

// The tool window of detection and instance-segmentation assistance. It lists
// the ONNX models of the project's task from the models folder, holds the two
// thresholds and shows progress; it only emits requests, which the main window
// carries out before it calls back (setLoadedPath, setModelType, setRunning,
// setProgress). A second tab hosts the click-segmentation panel once added.
//
// Two ways of choosing the model: with the model list (setDetectionMode(false))
// the dialog announces the first listed model on showing unless the loaded one is
// listed; in simple mode (setDetectionMode(true)) the model comes from Settings,
// the list is hidden and showing the dialog never announces another model.
// The run buttons are enabled only while a model is loaded and nothing runs.
class AiAutoLabelDialog : public QDialog, public AiRunPanel {
    Q_OBJECT

public:
    explicit AiAutoLabelDialog(QWidget *parent = nullptr);

    // Adds the click-segmentation panel as tab "Click Segmentation"; leaving
    // that tab emits samPanelDeactivated. The tab shows in segmentation projects.
    void addSegmentationTab(QWidget *panel);
    // Makes the click-segmentation tab current when it exists and is visible.
    void showSegmentationTab();

    float confidence() const;
    float iouThreshold() const;
    QString loadedPath() const { return loaded; }
    QString projectType() const { return type; }
    bool isSimpleMode() const { return simpleMode; }
    // The model list holds a model file (not only its placeholder).
    bool listsModels() const;
    bool isRunning() const { return running; }

public slots:
    void setProjectType(const QString &projectType);
    // The loaded model is a segmentation model (true) or a detector: shows the
    // type label and enables the run buttons.
    void setModelType(bool isSeg);
    // The model the main window has loaded; empty when none is (after a failed
    // load), which disables the run buttons and hides the type label.
    void setLoadedPath(const QString &path);
    // Progress of a run: hidden when total is below 1.
    void setProgress(int current, int total) override;
    // While running the run buttons are disabled and "Cancel" is offered.
    void setRunning(bool running) override;
    // Simple mode hides the model list (the model comes from Settings).
    void setDetectionMode(bool simple);
    // Lists the models of the project's task again.
    void rescanModels();

signals:
    void modelSelected(const QString &path);
    void runCurrentRequested();
    void runAllRequested();
    void cancelRequested();
    void samRequested();
    void sam3Requested();
    void samPanelDeactivated();

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    QWidget *buildAutoLabelPage();
    void chooseModelsFolder();
    void rescanAndFit();
    void onModelActivated(int index);
    void updateSegmentationTab();
    void updateRunButtons();
    // Resizes to the content's height (a group or a tab was shown or hidden).
    void fitHeight();
    // Adds the loaded model when it lies outside the listed folder.
    int addLoadedModelItem();

    QTabWidget *tabs = nullptr;
    QGroupBox *modelGroup = nullptr;
    QComboBox *modelCombo = nullptr;
    QLabel *typeLabel = nullptr;
    QDoubleSpinBox *confSpin = nullptr;
    QDoubleSpinBox *iouSpin = nullptr;
    QProgressBar *progress = nullptr;
    QPushButton *runCurrentButton = nullptr;
    QPushButton *runAllButton = nullptr;
    QPushButton *cancelButton = nullptr;
    QPushButton *samButton = nullptr;
    QPushButton *sam3Button = nullptr;
    QString loaded;
    QString type;
    bool simpleMode = false;
    bool running = false;
    bool heightStale = false; // content height changed since the last fit
};

} // namespace Quillmark
