#pragma once

#include "chrome/Theme.h"

#include <QDialog>
#include <QMap>
#include <QString>

class QComboBox;
class QAction;
class QFormLayout;
class QLineEdit;

namespace Quillmark {

// The modal dialog where the user picks the colour theme and the paths of the
// six model files of the AI tools. Reads and writes the default settings store
// ("ui/theme" and the "models/..." keys).
class SettingsDialog : public QDialog {
    Q_OBJECT

public:
    explicit SettingsDialog(QWidget *parent = nullptr);

    // Fills the rows and the theme choice from the settings store; run before
    // every showing, so edits abandoned with Cancel do not come back.
    void loadSettings();

    // The theme stored under "ui/theme"; Light when unset or out of range.
    static Theme::Mode savedTheme();

    // The absolute path of the model configured under a settings key of the
    // default store ("models/sam", ...), or empty when the key is unset.
    static QString resolveModelPath(const QString &key);
    // The same rule for a stored value, against a given program folder.
    static QString resolveModelPathFrom(const QString &value, const QString &appDir);
    // What a row stores for a file the user chose: the path relative to the
    // program folder when the file lies inside it and the relative path leads
    // back to the same file, else the chosen path unchanged.
    static QString storedPathFor(const QString &chosen, const QString &appDir);

    // The line edit of a model row, by settings key (null for an unknown key).
    QLineEdit *modelEdit(const QString &key) const { return modelEdits.value(key); }
    QComboBox *themeBox() const { return themeCombo; }
    // The path shown for a model never chosen ("models/detection.onnx", ...).
    static QString defaultModelPath(const QString &key);
    // The model file the user configured under a key, resolved as the AI tools
    // resolve it (whether or not the file is there); empty when the key holds
    // nothing, or only the default path that the dialog shows for a model never
    // chosen and stores on OK.
    static QString configuredModelPath(const QString &key);

    // The row names a file the user gave (not the default path) that is not
    // there (resolved as the AI tools resolve it), or shows the default in
    // place of a chosen file that is gone; an empty row is not missing. Such
    // rows carry a red mark (its tool tip says "File not found") and a red edge.
    bool isModelMissing(const QString &key) const;
    QAction *missingMark(const QString &key) const { return missingMarks.value(key); }

signals:
    void themeChanged(Quillmark::Theme::Mode mode);

public slots:
    void onAccept();

private:
    QWidget *buildGeneralTab();
    QWidget *buildModelsTab();
    void addModelRow(QFormLayout *form, const char *label, const char *key, const char *defaultPath,
                     const char *filter);
    void fitRowsToDefaults();
    void browseModel(const QString &key, const QString &filter);
    void markIfMissing(const QString &key);
    // The file a row names that is not there, resolved; empty when there is none.
    QString missingPath(const QString &key) const;

    QComboBox *themeCombo = nullptr;
    QMap<QString, QLineEdit *> modelEdits;
    QMap<QString, QAction *> missingMarks;
    QMap<QString, QString> modelDefaults;
    // What each row showed after the last loadSettings, and whether the key
    // held a value then: OK leaves a stored value alone unless its row was edited.
    QMap<QString, QString> shownTexts;
    QMap<QString, bool> storedKeys;
    // Per key, the chosen file that was gone at the last loadSettings (its row
    // shows the default path instead); empty for the others.
    QMap<QString, QString> goneChoices;
};

} // namespace Quillmark
