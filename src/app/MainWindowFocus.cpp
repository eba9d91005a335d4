// Where the keyboard goes in the main window. The canvas is the place of work:
// a click on a bar button, a panel button or a check box leaves the keys with
// it, so Ctrl+Z, Delete and Space never go to a button by accident. The lists
// keep the focus a click gives them, for their arrow keys, and the two that
// give Delete a meaning of their own (the files and the annotations) keep that
// key. Undo, redo, delete and deselect act on the canvas from anywhere in the
// window but a text field, which keeps its own editing keys.

#include "app/MainWindow.h"

#include "canvas/LabelCanvas.h"
#include "panels/AnnotationPanel.h"
#include "panels/ImageListPanel.h"
#include "panels/VideoScrubber.h"

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QScrollArea>
#include <QStatusBar>
#include <QTextEdit>

namespace Quillmark {

namespace {

// Every binding of a standard key, with `extra` added when it is missing.
QList<QKeySequence> bindingsWith(QKeySequence::StandardKey standard, const QKeySequence &extra)
{
    QList<QKeySequence> keys = QKeySequence::keyBindings(standard);
    if (!keys.contains(extra))
        keys.append(extra);
    return keys;
}

bool isDeleteKey(const QEvent *event)
{
    const int key = static_cast<const QKeyEvent *>(event)->key();
    return key == Qt::Key_Delete || key == Qt::Key_Backspace;
}

} // namespace

QWidget *MainWindow::focusedTextField() const
{
    QWidget *focus = QApplication::focusWidget();
    if (!focus || focus->window() != this)
        return nullptr;
    if (qobject_cast<QLineEdit *>(focus) || qobject_cast<QTextEdit *>(focus) || qobject_cast<QPlainTextEdit *>(focus)
        || qobject_cast<QAbstractSpinBox *>(focus))
        return focus;
    if (auto *combo = qobject_cast<QComboBox *>(focus); combo && combo->isEditable())
        return focus;
    return nullptr;
}

void MainWindow::historyStep(bool forward)
{
    // A text field usually takes these keys before the window sees them; when
    // it does not (Ctrl+Y in a line edit), its own history steps, not the canvas's.
    if (QWidget *field = focusedTextField()) {
        const char *slot = forward ? "redo" : "undo";
        QMetaObject::invokeMethod(field, slot);
        return;
    }
    if (forward)
        canvas->redo();
    else
        canvas->undo();
}

void MainWindow::canvasKeyFromWindow(int key)
{
    // A text field takes Delete and Escape before the window sees them; when
    // one did not, the key was meant for the text, not for the canvas.
    if (focusedTextField())
        return;
    // Straight to the canvas's handling: a key event sent to it would come
    // back to the window's shortcuts first.
    if (key == Qt::Key_Delete)
        canvas->handleDelete();
    else
        canvas->handleEscape();
}

void MainWindow::setupEditActions()
{
    undoAction = new QAction(QStringLiteral("&Undo"), this);
    undoAction->setShortcuts(bindingsWith(QKeySequence::Undo, QKeySequence(Qt::CTRL | Qt::Key_Z)));
    redoAction = new QAction(QStringLiteral("&Redo"), this);
    redoAction->setShortcuts(bindingsWith(QKeySequence::Redo, QKeySequence(Qt::CTRL | Qt::Key_Y)));
    // Through the canvas: while a shape is being placed, undo takes back its
    // last point instead of the previous finished step.
    connect(undoAction, &QAction::triggered, this, [this] { historyStep(false); });
    connect(redoAction, &QAction::triggered, this, [this] { historyStep(true); });
    undoAction->setEnabled(canvas->canUndo());
    redoAction->setEnabled(canvas->canRedo());
    connect(canvas, &LabelCanvas::historyAvailabilityChanged, this, [this](bool undoable, bool redoable) {
        undoAction->setEnabled(undoable);
        redoAction->setEnabled(redoable);
    });

    auto *deleteSelected = new QAction(QStringLiteral("Delete Selected"), this);
    deleteSelected->setShortcut(QKeySequence::Delete);
    connect(deleteSelected, &QAction::triggered, this, [this] { canvasKeyFromWindow(Qt::Key_Delete); });
    auto *deselect = new QAction(QStringLiteral("Deselect"), this);
    deselect->setShortcut(QKeySequence(Qt::Key_Escape));
    connect(deselect, &QAction::triggered, this, [this] { canvasKeyFromWindow(Qt::Key_Escape); });

    editMenu->addAction(undoAction);
    editMenu->addAction(redoAction);
    editMenu->addSeparator();
    editMenu->addAction(deleteSelected);
    editMenu->addAction(deselect);
    // The menu bar is hidden, and the keys of a hidden menu's entries do not
    // fire: the window itself carries them.
    addActions({undoAction, redoAction, deleteSelected, deselect});
}

void MainWindow::keepFocusOffButtons()
{
    // Buttons, check boxes, the theme box and the scrolled areas (statistics,
    // film strip): a click on them is no reason to take the keys from the canvas.
    QList<QWidget *> roots{centralWidget(), statusBar()};
    for (QWidget *root : roots) {
        for (QAbstractButton *button : root->findChildren<QAbstractButton *>())
            button->setFocusPolicy(Qt::NoFocus);
        for (QComboBox *box : root->findChildren<QComboBox *>())
            box->setFocusPolicy(Qt::NoFocus);
        for (QScrollArea *area : root->findChildren<QScrollArea *>())
            area->setFocusPolicy(Qt::NoFocus);
    }
    // The frame keys of video mode step the scrubber from anywhere.
    videoScrubber->setFocusPolicy(Qt::NoFocus);
    imageListPanel->listView()->installEventFilter(this);
    annotationPanel->annotationListWidget()->installEventFilter(this);
}

bool MainWindow::listKeepsKey(QObject *watched, QEvent *event) const
{
    if (event->type() != QEvent::ShortcutOverride || !isDeleteKey(event))
        return false;
    // The files list removes its selected files, the annotations list its
    // current row; the class list has no Delete of its own.
    if (watched == annotationPanel->annotationListWidget())
        return annotationPanel->annotationListWidget()->currentItem() != nullptr;
    return watched == imageListPanel->listView();
}

} // namespace Quillmark
