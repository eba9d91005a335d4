#pragma once

#include "model/ImageEntry.h"

#include <QColor>
#include <QHash>
#include <QIcon>
#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QWidget>

class QGroupBox;
class QLabel;
class QListWidget;
class QListWidgetItem;
class QPushButton;
class QTextEdit;

namespace Quillmark {

// The side panel with the class list, the annotations of the shown image or
// frame, a notes box and the dataset statistics. It keeps its own copy of the
// class colours and reports every class edit as a signal; the main window
// applies the edit to the dataset and hands back the new map.
class AnnotationPanel : public QWidget {
    Q_OBJECT
public:
    explicit AnnotationPanel(QWidget *parent = nullptr);

    void setClasses(const QMap<QString, QColor> &classColors);
    void setMultiSelect(bool multi);
    // Lists the entry's annotations; with multiple selection (classification)
    // the class list selects the classes the entry carries.
    void setAnnotations(const ImageEntry &entry);
    void selectAnnotation(int index);
    void updateStats(int images, int labelledImages, int annotations, const QMap<QString, int> &perClass,
                     int videos, int annotatedFrames, int totalFrames);
    // Whether a project is open: an open one without media shows its zero
    // figures, only a window without a project says "No project open.".
    void setProjectOpen(bool open);
    // Empties the annotation list. The statistics stay those of the open
    // project (the main window refreshes them); without one they are reset.
    void clear();

    const QMap<QString, QColor> &classColors() const { return colors; }
    bool isMultiSelect() const { return multiSelect; }

    // The statistics HTML for the given figures; classes missing from
    // `classColors` are drawn grey.
    static QString statsHtml(int images, int labelledImages, int annotations, const QMap<QString, int> &perClass,
                             int videos, int annotatedFrames, int totalFrames,
                             const QMap<QString, QColor> &classColors, bool projectOpen = false);
    // Colour of a class that has no colour in the map: a stable hue from its name.
    static QColor fallbackClassColor(const QString &className);

    QListWidget *classListWidget() const { return classList; }
    QListWidget *annotationListWidget() const { return annotationList; }
    QPushButton *addButton() const { return addBtn; }
    QPushButton *renameButton() const { return renameBtn; }
    QPushButton *colorButton() const { return colorBtn; }
    QPushButton *deleteButton() const { return deleteBtn; }
    QLabel *hintLabel() const { return hint; }
    QLabel *statsLabel() const { return stats; }

    // At least 225 pixels wide, and wide enough that the class buttons keep
    // their whole text in the font and padding the style sheet gives them.
    QSize minimumSizeHint() const override;

signals:
    void labelSelected(const QString &className);
    void classesSelected(const QStringList &classNames);
    void annotationSelected(int labelIndex);
    void annotationDeleteRequested(int labelIndex);
    void classAdded(const QString &name, const QColor &color);
    void classRemoved(const QString &name);
    void classRenamed(const QString &oldName, const QString &newName);
    void classColorChanged(const QString &name, const QColor &color);

public slots:
    void onAddClass();
    void onDeleteClass();
    void onRenameClass();
    void onChangeColor();
    void onClassSelectionChanged();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void onClassClicked(QListWidgetItem *item);
    // Multiple selection: the user chose classes (a click or a key).
    void onClassesChosen();
    void showSelectedClasses(const QSet<QString> &names);
    void rebuildClassList();
    void makeCurrent(const QString &className);
    QStringList selectedClassNames() const;
    void selectClassesOf(const ImageEntry &entry);
    QIcon swatchFor(const QString &className);
    void relistAnnotations();

    // What each annotation row shows, to find the rows an edit changed.
    struct ListedRow {
        AnnotationKind kind;
        QString className;
        qsizetype points;
        bool matches(const Annotation &a) const
        {
            return a.kind == kind && a.className == className && (kind != Keypoint || a.points.size() == points);
        }
    };

    QListWidget *classList = nullptr;
    QListWidget *annotationList = nullptr;
    QPushButton *addBtn = nullptr;
    QPushButton *renameBtn = nullptr;
    QPushButton *deleteBtn = nullptr;
    QPushButton *colorBtn = nullptr;
    QLabel *hint = nullptr;
    QMap<QString, QColor> colors;
    bool multiSelect = false;
    // The panel itself makes a row current and announces the class afterwards.
    bool settingCurrent = false;
    // Multiple selection: the classes of the picture shown, once one was.
    QSet<QString> shownClasses;
    bool shownClassesKnown = false;
    QLabel *stats = nullptr;
    // The figures last shown, drawn again when the project opens or closes.
    struct StatsFigures {
        int images = 0;
        int labelledImages = 0;
        int annotations = 0;
        QMap<QString, int> perClass;
        int videos = 0;
        int annotatedFrames = 0;
        int totalFrames = 0;
    };
    StatsFigures shownFigures;
    bool projectOpen = false;
    void showStats();
    QGroupBox *statsBox = nullptr;
    QList<ListedRow> listedRows;
    // One swatch per colour, drawn once.
    QHash<QRgb, QIcon> swatches;
};

} // namespace Quillmark
