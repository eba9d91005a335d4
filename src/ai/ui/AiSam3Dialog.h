#pragma once

#include "ai/Sam3Detection.h"

#include <QDialog>
#include <QList>
#include <QString>

class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QShowEvent;

namespace Quillmark {

// The tool window of text-prompted concept segmentation: the three model files
// (vision encoder, decoder, tokenizer) of the models folder, the button that
// encodes the current image, the concept prompt with its presence and mask
// thresholds, the list of detections, and Accept Selected / Clear. It runs no
// model: it emits requests, and the main window calls it back with status
// texts, button states and the detections.
class AiSam3Dialog : public QDialog {
    Q_OBJECT

public:
    explicit AiSam3Dialog(QWidget *parent = nullptr);

    void setStatus(const QString &text);
    void setEncodeEnabled(bool enabled);
    // While a model opens, "Cancel" is offered beside the encode button.
    void setLoading(bool loading);
    void setDetectEnabled(bool enabled);
    // Empties the detection list (which disables Accept Selected).
    void clearDetections();
    // One row per detection, in the given order: row i stands for detection i.
    void setDetections(const QList<Sam3Detection> &detections);

    // The path of each box's current entry; empty for its placeholder.
    QString visionEncoderPath() const;
    QString decoderPath() const;
    QString tokenizerPath() const;

    // Refills the three boxes from the models folder (its "segmentation"
    // subfolder when there is one), keeping the chosen files, then announces the
    // encoder and the decoder when they are present.
    void scanModels();

signals:
    void cancelLoadRequested();
    void visionEncoderSelected(const QString &path);
    void decoderSelected(const QString &path);
    void encodeRequested();
    void detectRequested(const QString &text, float presThr, float maskThr);
    void previewRequested(const QList<int> &indices);
    void acceptRequested(const QList<int> &indices);
    void clearRequested();

protected:
    void showEvent(QShowEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void colourBrowseLink();
    void fillModelCombo(QComboBox *combo, const QString &folder, const QString &fileName, const QString &placeholder);
    QList<int> selectedRows() const;

    QComboBox *encoderCombo = nullptr;
    QComboBox *decoderCombo = nullptr;
    QComboBox *tokenizerCombo = nullptr;
    QLineEdit *promptEdit = nullptr;
    QDoubleSpinBox *presenceSpin = nullptr;
    QDoubleSpinBox *maskSpin = nullptr;
    QLabel *statusLabel = nullptr;
    QListWidget *detectionList = nullptr;
    QPushButton *encodeButton = nullptr;
    QPushButton *cancelLoadButton = nullptr;
    QPushButton *detectButton = nullptr;
    QPushButton *acceptButton = nullptr;
    QPushButton *clearButton = nullptr;
    QLabel *browseLink = nullptr;
};

} // namespace Quillmark
