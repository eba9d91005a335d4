#pragma once

#include "canvas/AnnotationLayerCache.h"
#include "canvas/CanvasPalette.h"
#include "canvas/ClassTagCache.h"
#include "canvas/RegionMaskCache.h"
#include "canvas/ViewTransform.h"
#include "model/Annotation.h"
#include "model/ImageEntry.h"
#include "model/KeypointSchema.h"

#include <QColor>
#include <QList>
#include <QMap>
#include <QPixmap>
#include <QPointF>
#include <QPolygonF>
#include <QRectF>
#include <QString>
#include <QWidget>

#include <optional>

class QPainter;
class QUndoStack;

namespace Quillmark {

class AnnotationPainter;

// The annotation canvas: shows one image or video frame with its annotations,
// zooms and pans, and is the surface of the drawing tools (select, box, polygon,
// keypoints) and of the AI assistance (SAM prompts, pending and preview results).
//
// The canvas edits its own copy of the displayed entry. Every change of the list
// is recorded as one snapshot undo step and reported with annotationAdded,
// annotationDeleted or annotationsChanged; the owner then reads annotations()
// and writes it back into the entry named by displayedEntryId().
class LabelCanvas : public QWidget {
    Q_OBJECT

public:
    enum Mode : int {
        Idle = 0,
        DrawBox = 1,
        Move = 2,
        Resize = 3,
        Pan = 4,
        DrawPolygon = 5,
        PlaceKeypoints = 6,
        MoveVertex = 7,
        SamPrompt = 8,
    };

    explicit LabelCanvas(QWidget *parent = nullptr);

    // --- Showing an entry -------------------------------------------------------
    // Shows the entry; its pixels come from `image`, else its in-memory bytes, else
    // its file, upright (a file that cannot be read leaves no pixels).
    void setImage(const ImageEntry &entry);
    // Shows the entry with pixels decoded elsewhere (video frames, worker loads).
    void setImageFromPixmap(const ImageEntry &entry, const QPixmap &pixmap);
    // Starts editing afresh: copies the entry, drops selection, undo history,
    // prompts, previews and pending results, and fits the view to the pixels.
    void applyImageEntry(const ImageEntry &entry);
    // Shows nothing: no pixels, no annotations, no undo history.
    void clear();

    // Id of the entry shown: an image id, or the bitwise complement of the video
    // id (negative, -1 for video 0) for a video frame; nothing before the first
    // entry and after clear(). Edits reported by the canvas belong to this entry.
    std::optional<int> displayedEntryId() const { return showingEntry ? std::optional<int>(entry.id) : std::nullopt; }
    // The picture's rectangle in image pixels (0, 0, width, height): what new and
    // edited shapes are kept within. Empty when its size is unknown.
    QRectF pictureRect() const;
    // The pixels shown, as they were decoded for display; null when none are
    // (nothing shown, or a picture that could not be read).
    QImage shownPicture() const { return pixmap.toImage(); }

    // --- The annotation list ----------------------------------------------------
    QList<Annotation> annotations() const { return entry.labels; }
    // Replaces the whole list (bulk changes made outside the canvas). Forgets the
    // undo history, since older steps would silently undo the replacement.
    void setAnnotations(const QList<Annotation> &labels);
    void selectAnnotation(int index);
    void deleteAnnotation(int index);

    // --- Settings from the window -----------------------------------------------
    void setCurrentClass(const QString &name);
    // The class new annotations get.
    QString currentClassName() const { return currentClass; }
    void setClassColors(const QMap<QString, QColor> &colors);
    void setKeypointSchema(const KeypointSchema &schema);
    // The schema the keypoint tool places.
    const KeypointSchema &placedKeypointSchema() const { return keypointSchema; }
    void setShowLabels(bool show);
    void setThemeMode(int themeMode);  // Theme::Mode, through CanvasPalette::forThemeMode
    void setCanvasPalette(const CanvasPalette &palette);
    void setTool(int tool);            // Tool
    // While set (a project without a type, whose tools the side bar holds
    // back), a press with a drawing tool asks for what is missing through
    // classRequired() instead of drawing.
    void setDrawingNeedsType(bool needs) { drawingNeedsType = needs; }

    // --- View -------------------------------------------------------------------
    void fitToWindow();
    void zoomIn();
    void zoomOut();
    void zoomActualSize();

    float viewScale() const { return view.scale; }
    QPointF viewOffset() const { return view.offset; }
    QPointF toImage(const QPointF &screen) const { return view.toImage(screen); }
    QPointF toScreen(const QPointF &image) const { return view.toScreen(image); }

    // --- State queries ----------------------------------------------------------
    int currentMode() const { return mode; }
    int currentTool() const { return tool; }
    // Pixels are shown: the tools draw only on a picture the user sees.
    bool hasPicture() const { return !pixmap.isNull(); }
    // A polygon or keypoint set is being placed point by point.
    bool isPlacing() const { return effectiveMode() == DrawPolygon || effectiveMode() == PlaceKeypoints; }
    int selectedAnnotationIndex() const { return selectedIndex; }
    int selectedVertexIndex() const { return selectedVertex; }
    bool isInSamMode() const { return mode == SamPrompt || (mode == Pan && modeBeforePan == SamPrompt); }
    QList<Annotation> pendingAnnotationList() const { return pendingAnnotations; }
    QList<QPolygonF> previewPolygonList() const { return previewPolygons; }

    // Hit tests at a screen point: the topmost annotation, the resize handle (1 to
    // 8) of the selected annotation's frame (handlesShown), a vertex or an edge
    // of annotation `index`. -1 (0 for handles) when nothing is hit.
    int annotationAt(const QPointF &screen) const;
    int handleAt(const QPointF &screen) const;
    int vertexAt(int index, const QPointF &screen) const;
    int edgeAt(int index, const QPointF &screen) const;
    // The frame (image pixels) whose resize handles are drawn and can be
    // dragged: the selected annotation's (AnnotationGeometry::handleFrame), with
    // the tools that resize (select and box). None otherwise.
    std::optional<QRectF> handlesShown() const;

    // --- Undo -------------------------------------------------------------------
    QUndoStack *undoStack() const { return snapshotStack; }
    // Undo as the user means it: while a polygon or keypoint set is being
    // placed, takes back its last point (ending the placement with the first);
    // otherwise undoes the last step. Redo does nothing while placing.
    void undo();
    void redo();
    // Whether undo() and redo() would do anything now.
    bool canUndo() const;
    bool canRedo() const;
    // Replaces the whole list as one step of the history named `stepText`
    // (nothing when the list is the same) and reports it as a change.
    void replaceAnnotations(const QList<Annotation> &labels, const QString &stepText);
    // Records one step from `before` to the current list, unless they are
    // equal; true when a step was recorded.
    bool pushSnapshot(const QList<Annotation> &before, const QString &text);
    // Installs a list from the undo history and reports it.
    void restoreSnapshot(const QList<Annotation> &list, int selection);

    // --- Assistance hooks -------------------------------------------------------
    void enterSamMode();
    void exitSamMode();
    void setSamResultPolygon(const QPolygonF &polygon);
    void commitSamResult();
    void addDetection(const Annotation &annotation);
    void setPendingAnnotations(const QList<Annotation> &list);
    void acceptPendingAnnotations();
    void clearPendingAnnotations();
    void setPreviewPolygons(const QList<QPolygonF> &list);
    void clearPreviewPolygons();

    // What Delete and Escape do on the canvas, for the window's own keys:
    // delete the selected vertex or annotation; end what is under way and
    // clear the selection.
    void handleDelete();
    void handleEscape();

signals:
    void annotationAdded(int index);
    void annotationSelected(int index);
    void annotationDeleted(int index);
    void annotationsChanged();
    void zoomChanged(int percent);
    // Another entry or nothing is shown; `shown` says whether it has pixels to
    // look at (and so to zoom and to draw on).
    void pictureChanged(bool shown);
    void samPromptsChanged(QList<QPointF> positive, QList<QPointF> negative);
    void poseKeypointHovered(int index);
    // The pending annotations were thrown away because another entry is shown
    // (or nothing): results reviewed for the old entry are gone.
    void pendingAnnotationsDropped();
    // A polygon (kind Polygon) or keypoint set (kind Keypoint) being placed
    // was given up unfinished, with `points` placed: another entry or nothing
    // was shown, or another tool or mode taken. Escape gives it up without
    // this signal: the user asked for that.
    void unfinishedShapeDropped(int kind, int points);
    // A press of a tool found no picture to work on (an entry whose pixels
    // could not be read): nothing was drawn, selected or prompted.
    void pressedWithoutPicture();
    void classRequired();
    // Whether undo and redo have something to do changed (see canUndo/canRedo).
    void historyAvailabilityChanged(bool canUndo, bool canRedo);

protected:
    bool event(QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    QColor classColor(const QString &name) const;
    // Emits historyAvailabilityChanged when canUndo or canRedo differ from the
    // last report.
    void reportHistory();
    bool hasSelection() const { return selectedIndex >= 0 && selectedIndex < entry.labels.size(); }
    int effectiveMode() const { return mode == Pan ? int(modeBeforePan) : int(mode); }
    // A move, resize or vertex drag in progress ends as its release would, as
    // a step of its own, before another edit is made.
    void settleDrag();
    static bool isDragMode(int m) { return m == DrawBox || m == Move || m == Resize || m == MoveVertex; }

    // View
    void fitView();
    void zoomAbout(const QPointF &centre, double factor);
    void emitZoom();

    void resetPress();
    bool forgetPicture();
    void dropUnfinishedShape();
    bool movedBeyondClick(const QPointF &screen) const;
    QPolygonF keypointScreenPositions(int index) const;

    // Press handling per tool
    void pressSamPrompt(QMouseEvent *event, const QPointF &image);
    bool pressKeypointVisibility(const QPointF &screen);
    void pressBoxTool(const QPointF &screen, const QPointF &image);
    void pressPolygonTool(const QPointF &screen, const QPointF &image);
    void pressKeypointTool(const QPointF &screen, const QPointF &image);
    void pressSelectTool(const QPointF &screen, const QPointF &image);
    bool pressOnSelectedVertex(const QPointF &screen, const QPointF &image, int kind);
    bool pressOnSelectedEdge(const QPointF &screen, const QPointF &image);
    void beginResize(int handle, const QPointF &image);
    void beginMove(int index, const QPointF &image);
    void beginDrawing(int mode, int target, const QPointF &screen, const QPointF &image);
    bool endClickOnTarget(const QPointF &screen);
    bool pressOnObject(int hit, const QPointF &image);
    void placePoint(const QPointF &image);
    bool keypointSetComplete() const;
    void beginVertexDrag(int vertex, const QPointF &image);

    // Move handling
    void dragSelection(const QPointF &image);
    void resizeSelection(const QPointF &image);
    void dragVertexTo(const QPointF &image);
    void updateHoverCursor(const QPointF &screen);
    void updateHoverState(const QPointF &screen, const QPointF &image);

    // Ending edits
    void finishBoxDraw(const QPointF &image);
    void finishDrag();
    void finishLeftDrag(const QPointF &image);
    void appendDrawnAnnotation(const Annotation &annotation, const QString &stepText);
    void finishPolygon();
    void finishKeypoints();
    void commitPlacedShape(const Annotation &shape, const QString &stepText);
    void withdrawLastPlacedPoint();

    // Keys
    bool deleteSelectedVertex();
    void deleteSelectedAnnotation();

    // Painting
    void paintAnnotations(QPainter &painter);
    void drawAnnotation(AnnotationPainter &shapes, const Annotation &annotation, bool selected);

    // Members
    Mode mode = Idle;
    ImageEntry entry;
    QPixmap pixmap;
    ViewTransform view; // scale and offset
    CanvasPalette colors = CanvasPalette::light();
    int tool = 0;
    QString currentClass = QStringLiteral("object");
    QMap<QString, QColor> classColors;
    bool drawingNeedsType = false;
    bool showLabels = true;
    int selectedIndex = -1;
    int activeHandle = 0;
    QPointF dragStart;
    QPointF dragLast;
    QRectF rubberBand;
    QRectF dragStartBox;
    QPointF panLast;
    Mode modeBeforePan = Idle;
    QList<QPointF> placedPoints;
    QList<int> placedVisibility;
    QPointF placingCursor;
    int dragVertex = -1;
    int selectedVertex = -1;
    int hoverEdge = -1;
    QPointF hoverEdgePoint;
    QUndoStack *snapshotStack = nullptr;
    QList<Annotation> snapshotBefore;
    bool reportedCanUndo = false;
    bool reportedCanRedo = false;
    QPointF cursorPos;
    bool cursorInside = false;
    QList<QPointF> samPositive;
    QList<QPointF> samNegative;
    QPolygonF samResult;
    QList<Annotation> pendingAnnotations;
    int highlightedKeypoint = -1;
    int hoveredKeypoint = -1;
    KeypointSchema keypointSchema;
    QList<QPolygonF> previewPolygons;

    // An entry has been shown since construction or the last clear().
    bool showingEntry = false;
    // A drawing tool pressed on an object that was not selected: a drag draws a
    // new shape, a click selects the object (its index; -1 for none).
    int clickTarget = -1;
    QPointF pressScreen;
    // The selected annotation as it was when a move or resize began.
    Annotation dragOrigin;
    // The press before a double click finished a shape: the double click itself
    // must not start another.
    bool pressFinishedShape = false;

    // Paint caches (no state of their own: they only speed up repaints)
    ClassTagCache tagCache;
    RegionMaskCache maskCache;
    AnnotationLayerCache layerCache;
};

} // namespace Quillmark
