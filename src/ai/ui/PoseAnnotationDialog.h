#pragma once

#include "ai/ui/AiRunPanel.h"
#include "ai/PosePerson.h"

#include <QDialog>
#include <QList>
#include <QString>

class QComboBox;
class QDoubleSpinBox;
class QGroupBox;
class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace Quillmark {

// The tool window of pose estimation. The user chooses a body model
// ("body.onnx") or a hand model ("hand.onnx"), sets the confidence, IoU and
// keypoint thresholds, asks for a run on the current image or on all images,
// reviews the persons found with their keypoints (a click on a keypoint's
// visibility cycles it: visible, occluded, unlabelled), and accepts or clears
// the result. It only emits requests and shows what the main window reports.
//
// The run buttons are enabled only while a model is loaded and nothing runs.
// While a run goes on, "Cancel" is offered and the model cannot be changed.
class PoseAnnotationDialog : public QDialog, public AiRunPanel {
    Q_OBJECT

public:
    explicit PoseAnnotationDialog(QWidget *parent = nullptr);

    float confThreshold() const;
    float iouThreshold() const;
    float keypointConfThreshold() const;
    QString loadedPath() const { return loaded; }
    QList<PosePerson> shownPersons() const { return persons; }
    int selectedPersonIndex() const { return selectedPerson; }

    // The display name of keypoint `index` of a person with `count` keypoints.
    static QString keypointName(int index, int count);

public slots:
    // Selects Hand for exactly "hand", Body otherwise, and announces its model.
    void selectMode(const QString &mode);
    void setLoadedPath(const QString &path);
    // The model type line (or "Hata: " and info in red); the run buttons follow ok.
    void setModelReady(bool ok, const QString &info = QString());
    // Hidden when total is below 1.
    void setProgress(int current, int total) override;
    void setRunning(bool running) override;
    void setPersons(const QList<Quillmark::PosePerson> &persons);
    void clearPersons();
    // Makes that keypoint's row current (the canvas hovers it).
    void highlightKeypoint(int kpIndex);
    // Looks for the body and hand models again.
    void refreshModels();

signals:
    void modelSelected(const QString &path);
    void runCurrentRequested();
    void runAllRequested();
    void acceptRequested();
    void clearRequested();
    void cancelRequested();
    void personSelected(int index);
    void keypointVisibilityChanged(int personIdx, int kpIdx, int newVis);

protected:
    void showEvent(QShowEvent *event) override;

private:
    void onModeActivated(int index);
    void onPersonRowChanged(int row);
    void showPersonKeypoints(int index);
    void cycleVisibility(QTreeWidgetItem *item, int column);
    void showModelError(const QString &text);
    void updateButtons();

    QComboBox *modeCombo = nullptr;
    QLabel *modelLabel = nullptr;
    QDoubleSpinBox *confSpin = nullptr;
    QDoubleSpinBox *iouSpin = nullptr;
    QDoubleSpinBox *kpConfSpin = nullptr;
    QGroupBox *personsGroup = nullptr;
    QListWidget *personsList = nullptr;
    QGroupBox *keypointsGroup = nullptr;
    QTreeWidget *keypointTree = nullptr;
    QProgressBar *progress = nullptr;
    QPushButton *runCurrentButton = nullptr;
    QPushButton *runAllButton = nullptr;
    QPushButton *cancelButton = nullptr;
    QPushButton *acceptButton = nullptr;
    QPushButton *clearButton = nullptr;
    QString loaded;
    QList<PosePerson> persons;
    int selectedPerson = -1;
    // The chosen mode's model is the one loaded (a mode without a model file,
    // or a failed load, keeps the run buttons off).
    bool modelReady = false;
    bool running = false;
};

} // namespace Quillmark
