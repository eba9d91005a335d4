#pragma once

#include "ai/ui/AiRunPanel.h"
#include "ai/FaceDetection.h"

#include <QDialog>
#include <QList>
#include <QString>

class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;

namespace Quillmark {

// The panel of the Face tool. It lists the face models of the models folder
// (every ONNX file of a "face" subfolder, else the files named like a face
// model), lets the user browse for another one, holds the confidence and IoU
// thresholds, and shows the faces found on the current image. It runs nothing
// itself: it emits requests that the main window carries out, and the main
// window calls back with the model state, the progress and the faces.
//
// The run buttons are enabled only while a model is loaded and nothing runs;
// Accept only while faces are shown and nothing runs. While a run goes on,
// "Cancel" is offered and the model cannot be changed.
class FaceAnnotationDialog : public QDialog, public AiRunPanel {
    Q_OBJECT

public:
    explicit FaceAnnotationDialog(QWidget *parent = nullptr);

    float confidence() const;
    float iouThreshold() const;
    QString loadedPath() const { return loaded; }

public slots:
    void setLoadedPath(const QString &path);
    // Shows `info` (or "✓ Model loaded." when ok and info is empty); the run
    // buttons follow ok.
    void setModelReady(bool ok, const QString &info = QString());
    // Hidden when total is below 1.
    void setProgress(int current, int total) override;
    void setRunning(bool running) override;
    void setFaces(const QList<Quillmark::FaceDetection> &faces);
    void clearFaces();
    // Lists the face models of the models folder again.
    void rescanModels();

signals:
    void modelSelected(const QString &path);
    void runCurrentRequested();
    void runAllRequested();
    void acceptRequested();
    void clearRequested();
    void cancelRequested();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void browseForModel();
    void onModelActivated(int index);
    void updateButtons();
    void selectModel(const QString &path);

    QComboBox *modelCombo = nullptr;
    QPushButton *browseButton = nullptr;
    QLabel *infoLabel = nullptr;
    QDoubleSpinBox *confidenceSpin = nullptr;
    QDoubleSpinBox *iouSpin = nullptr;
    QListWidget *faceList = nullptr;
    QProgressBar *progressBar = nullptr;
    QPushButton *runCurrentButton = nullptr;
    QPushButton *runAllButton = nullptr;
    QPushButton *cancelButton = nullptr;
    QPushButton *acceptButton = nullptr;
    QPushButton *clearButton = nullptr;
    QString loaded;
    bool modelReady = false;
    bool running = false;
};

} // namespace Quillmark
