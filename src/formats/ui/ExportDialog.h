#pragma once

#include "formats/ExportConfig.h"

#include <QDialog>
#include <QPixmap>
#include <QString>
#include <QStringList>

class QButtonGroup;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollArea;
class QSpinBox;

namespace Quillmark {

// The modal dialog in which the user chooses how to export the project as a
// dataset: one format from a grid of format cards, the output folder, the
// train / valid / test split and a few options. It only collects choices; the
// caller runs it with exec() and reads config() once it was accepted.
//
// Formats are known by their display names (the registry's handler names). The
// dialog keeps its own catalogue of them (card label, description, icon, which
// allow a split, which act on "Generate data.yaml"); a name it does not know
// gets a plain card with no options.
class ExportDialog : public QDialog {
    Q_OBJECT

public:
    using Config = ExportConfig;

    // `imageCount` is the number of pictures the export will write (images and
    // annotated video frames), shown in the summary line.
    ExportDialog(const QStringList &formats, int imageCount, QWidget *parent = nullptr);

    // The current choices. `split` is set only for a format that allows a split,
    // `embedBase64` only for "LabelMe" (the one format that shows the box).
    Config config() const;

    // Card id -> format display name, in display order (core formats first,
    // then the YOLO variants).
    QStringList formatNames() const { return names; }

    // The format's icon in its own colours on a transparent side x side pixmap.
    static QPixmap formatIconPixmap(const QString &resource, int side);

    // What the catalogue says of a format.
    static bool allowsSplit(const QString &format);
    static bool offersDataYaml(const QString &format);

public slots:
    void onFormatSelected(int id);
    void onSplitToggled(bool enabled);
    void onPctChanged();
    void onBrowse();
    void updateSummary();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *buildCardArea(const QStringList &formats);
    QWidget *buildBottomPanel();
    QWidget *buildOptionsPanel();
    QWidget *buildPctRow();
    QWidget *makeCard(const QString &name, int id, QWidget *parent);
    // Grows the dialog when the chosen format's options need more height than
    // it has, so that neither the cards nor the options are squeezed.
    void fitOptions();
    QString chosenFormat() const;
    bool splitChosen() const;

    QButtonGroup *formatGroup = nullptr;
    QScrollArea *yoloScroll = nullptr;
    QStringList names;
    QLabel *headerIcon = nullptr;
    QLabel *headerName = nullptr;
    QLabel *headerDesc = nullptr;
    QLineEdit *pathEdit = nullptr;
    QWidget *optionsPanel = nullptr;
    QCheckBox *splitCheck = nullptr;
    QWidget *pctRow = nullptr;
    QSpinBox *trainSpin = nullptr;
    QSpinBox *validSpin = nullptr;
    QSpinBox *testSpin = nullptr;
    QCheckBox *shuffleCheck = nullptr;
    QCheckBox *copyImagesCheck = nullptr;
    QWidget *yamlRow = nullptr;
    QCheckBox *yamlCheck = nullptr;
    QWidget *base64Row = nullptr;
    QCheckBox *base64Check = nullptr;
    QLabel *summaryLabel = nullptr;
    QPushButton *exportButton = nullptr;
    int imageCount = 0;
    bool adjustingPct = false;
    // The chosen card's id, -1 when none; what config() and the summary go by
    // (a dialog that is not shown reports every child as invisible).
    int chosenId = -1;
};

} // namespace Quillmark
