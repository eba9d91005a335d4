#pragma once

#include <QDialog>
#include <QString>

class QComboBox;
class QLabel;
class QPushButton;
class QShowEvent;

namespace Quillmark {

// The click segmentation panel: the point-prompt model, the button that encodes
// the current image, the status line and Accept / Clear Prompts. It only emits
// requests; the main window carries them out and reports back through the
// slots. The main window shows it as the "Click Segmentation" tab of the
// auto-label dialog (setEmbedded(true)); on its own it is a tool window.
class AiSegDialog : public QDialog {
    Q_OBJECT

public:
    explicit AiSegDialog(QWidget *parent = nullptr);

    // Embedded: no Close button and plain child-widget flags, to live as a tab.
    void setEmbedded(bool embedded);
    // Lists the single-file point-prompt models of the models folder (names with
    // "sam" but not "sam3", "encoder" or "decoder") and the one configured under
    // "models/sam". The first scan selects the configured model, else the first
    // file, and announces it with encoderSelected; later scans keep the choice
    // and announce nothing.
    void refreshModels();

    QString currentModelPath() const;

public slots:
    void setStatus(const QString &msg);
    void setEncodeEnabled(bool enabled);
    // While a model opens, "Cancel" is offered beside the encode button.
    void setLoading(bool loading);
    void setAcceptEnabled(bool enabled);

signals:
    void cancelLoadRequested();
    void encoderSelected(const QString &path);
    void encodeRequested();
    void acceptRequested();
    void clearRequested();
    // "SAM3 Concepts…": the user asks for segmentation by text prompt.
    void conceptRequested();

protected:
    void showEvent(QShowEvent *event) override;

private:
    QComboBox *modelCombo = nullptr;
    QLabel *statusLabel = nullptr;
    QPushButton *encodeButton = nullptr;
    QPushButton *cancelLoadButton = nullptr;
    QPushButton *acceptButton = nullptr;
    QPushButton *clearButton = nullptr;
    QPushButton *closeButton = nullptr;
};

} // namespace Quillmark
