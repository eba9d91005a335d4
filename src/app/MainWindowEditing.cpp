// Dataset edits outside the canvas: the class gate before drawing, removal of
// images and videos, bulk class assignment, and writing the canvas's edits back
// into the project.

#include "app/MainWindow.h"

#include "canvas/LabelCanvas.h"
#include "canvas/SnapshotCommand.h"
#include "chrome/ToolBar.h"
#include "chrome/TopBar.h"
#include "dialogs/Prompts.h"
#include "panels/AnnotationPanel.h"
#include "panels/FilmStrip.h"
#include "panels/ImageListPanel.h"
#include "panels/VideoScrubber.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QSet>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>

namespace Quillmark {

void MainWindow::onClassRequired()
{
    if (projectPath.isEmpty()) {
        QMessageBox box(QMessageBox::Information, QStringLiteral("Save Project First"),
                        QStringLiteral("<b>Project has not been saved.</b>"), QMessageBox::Ok, this);
        // Both texts are markup (the informative one is read as such only when
        // its first line holds a tag: it is one line).
        box.setTextFormat(Qt::RichText);
        box.setInformativeText(QStringLiteral("Please save your project before drawing annotations.<br><br>"
                                              "Use&nbsp; <b>File → Save Project</b> &nbsp;(Ctrl+S) to give it a "
                                              "name, then select a project type from the top bar."));
        toolBar->pulseSaveButton();
        Prompts::current().execMessageBox(box);
        toolBar->pulseSaveButton();
        return;
    }
    if (project.projectType.isEmpty()) {
        QMessageBox box(QMessageBox::Information, QStringLiteral("Select Project Type"),
                        QStringLiteral("<b>Project type is not selected.</b>"), QMessageBox::Ok, this);
        box.setTextFormat(Qt::RichText);
        box.setInformativeText(QStringLiteral("Please select a project type before drawing annotations.<br><br>"
                                              "Click the&nbsp; <b>Set Type ▾</b> &nbsp;badge in the top bar to "
                                              "continue."));
        topBar->pulseTypeBadge();
        Prompts::current().execMessageBox(box);
        topBar->pulseTypeBadge();
        return;
    }
    if (classDialog)
        return;

    QDialog dialog(this);
    dialog.setWindowTitle(QStringLiteral("Define a Class"));
    dialog.setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    dialog.setFixedWidth(360);
    auto *layout = new QVBoxLayout(&dialog);
    layout->setSpacing(14);
    layout->setContentsMargins(18, 18, 18, 18);

    auto *text = new QLabel(
        QStringLiteral("No classes are defined yet.\nAdd at least one class before drawing annotations."), &dialog);
    text->setObjectName(QStringLiteral("mutedLabel"));
    text->setWordWrap(true);
    layout->addWidget(text);

    auto *row = new QHBoxLayout;
    classNameEdit = new QLineEdit(&dialog);
    classNameEdit->setPlaceholderText(QStringLiteral("Class name…"));
    auto *addButton = new QPushButton(QStringLiteral("Add"), &dialog);
    addButton->setEnabled(false);
    addButton->setDefault(true);
    row->addWidget(classNameEdit);
    row->addWidget(addButton);
    layout->addLayout(row);

    classDialogList = new QListWidget(&dialog);
    classDialogList->setFrameShape(QFrame::StyledPanel);
    classDialogList->setFixedHeight(90);
    layout->addWidget(classDialogList);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok, &dialog);
    classDoneButton = buttons->button(QDialogButtonBox::Ok);
    classDoneButton->setText(QStringLiteral("Done"));
    classDoneButton->setEnabled(false);
    classDoneButton->setDefault(false);
    classDoneButton->setAutoDefault(false);
    layout->addWidget(buttons);

    connect(classNameEdit, &QLineEdit::textChanged, addButton,
            [addButton](const QString &value) { addButton->setEnabled(!value.trimmed().isEmpty()); });
    connect(addButton, &QPushButton::clicked, this, &MainWindow::addClassFromInput);
    connect(classNameEdit, &QLineEdit::returnPressed, this, &MainWindow::addClassFromInput);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);

    classDialog = &dialog;
    classNameEdit->setFocus();
    dialog.exec();
    classDialog = nullptr;
    classNameEdit = nullptr;
    classDialogList = nullptr;
    classDoneButton = nullptr;
}

void MainWindow::addClassFromInput()
{
    if (!classNameEdit || !classDialogList)
        return;
    const QString name = classNameEdit->text().trimmed();
    if (name.isEmpty())
        return;
    if (!classDialogList->findItems(name, Qt::MatchExactly | Qt::MatchCaseSensitive).isEmpty()) {
        classNameEdit->clear();
        return;
    }
    project.dataset.addClass(name, QColor());
    modified = true;
    pushClassColors();
    classDialogList->addItem(name);
    classNameEdit->clear();
    classNameEdit->setFocus();
    classDoneButton->setEnabled(true);
}

void MainWindow::clearCanvas()
{
    canvas->clear();
    displayedFrame = -1;
    // Nothing on the canvas: its bar names no file, position or zoom of one.
    mediaNameLabel->clear();
    positionLabel->clear();
    zoomLabel->setText(QStringLiteral("100%"));
}

void MainWindow::tellUnfinishedShapeDropped(int kind, int points)
{
    const QString shape = kind == Polygon ? QStringLiteral("polygon") : QStringLiteral("keypoint set");
    statusBar()->showMessage(
        QStringLiteral("Unfinished %1 dropped (%2 point(s) placed).").arg(shape).arg(points), 4000);
}

void MainWindow::tellNothingToDrawOn()
{
    const std::optional<int> shown = canvas->displayedEntryId();
    const ImageEntry *image = shown ? project.dataset.imageById(*shown) : nullptr;
    const QString name = image ? QFileInfo(image->filePath).fileName() : QStringLiteral("The picture");
    statusBar()->showMessage(QStringLiteral("%1 cannot be shown: nothing can be drawn on it.").arg(name), 4000);
}

void MainWindow::showNoImage()
{
    currentImageId = -1;
    clearCanvas();
    annotationPanel->setAnnotations(ImageEntry());
}

void MainWindow::onDeleteImages(const QList<int> &imageIds)
{
    if (imageIds.isEmpty() || refuseWhileJobRuns())
        return;
    const QSet<int> removing(imageIds.cbegin(), imageIds.cend());
    const int n = int(imageIds.size());
    bool annotated = false;
    for (const ImageEntry &image : std::as_const(project.dataset.images)) {
        if (removing.contains(image.id) && !image.labels.isEmpty()) {
            annotated = true;
            break;
        }
    }

    QString question;
    if (n == 1) {
        const ImageEntry *image = project.dataset.imageById(imageIds.constFirst());
        const QString name = image ? QFileInfo(image->filePath).fileName() : QStringLiteral("image");
        question = annotated ? QStringLiteral("'%1' has annotations. Remove it from the project?").arg(name)
                             : QStringLiteral("Remove '%1' from the project?").arg(name);
    } else {
        question = annotated ? QStringLiteral("Remove %1 images from the project? Some have annotations.").arg(n)
                             : QStringLiteral("Remove %1 images from the project?").arg(n);
    }
    if (Prompts::current().question(this, QStringLiteral("Remove Images"), question,
                                    QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
        != QMessageBox::Yes)
        return;

    // The successor of a removed current image: the next image that stays, else
    // the nearest one before it; of those the Files list shows, so that the
    // list highlights what the canvas shows next.
    const QList<ImageEntry> &images = project.dataset.images;
    const bool currentRemoved = removing.contains(currentImageId);
    int successor = -1;
    if (currentRemoved) {
        const auto stays = [&](qsizetype i) {
            return !removing.contains(images.at(i).id) && imageListPanel->showsValue(images.at(i).id);
        };
        const int position = imagePosition(currentImageId);
        for (qsizetype i = position + 1; i < images.size() && successor < 0; ++i) {
            if (stays(i))
                successor = images.at(i).id;
        }
        for (qsizetype i = position - 1; i >= 0 && successor < 0; --i) {
            if (stays(i))
                successor = images.at(i).id;
        }
    }

    // One pass over the list, whatever the number of ids.
    project.dataset.images.removeIf([&removing](const ImageEntry &image) { return removing.contains(image.id); });
    modified = true;
    imageListPanel->setDataset(project.dataset);
    refreshFilmStrip();
    // A removed image must not stay on the canvas, taking edits, while the
    // next one loads.
    const std::optional<int> shownId = canvas->displayedEntryId();
    if (shownId && *shownId >= 0 && removing.contains(*shownId))
        clearCanvas();

    if (currentRemoved && !videoMode) {
        if (successor >= 0)
            showListedImage(successor);
        else
            showNoImage();
    } else if (currentRemoved) {
        // In video mode the canvas shows a frame, and edits go to it: keep it.
        currentImageId = successor;
        reshowCurrentFrame();
    } else if (!videoMode && currentImageId >= 0) {
        // The current image stays, but its position and the count changed.
        showImagePosition(currentImageId);
    }
    syncListWithCanvas();
    refreshStats();
    statusBar()->showMessage(QStringLiteral("Removed %1 image(s). %2 remaining.")
                                 .arg(n)
                                 .arg(project.dataset.images.size()),
                             3000);
}

void MainWindow::onDeleteVideos(const QList<int> &videoIds)
{
    if (videoIds.isEmpty() || refuseWhileJobRuns())
        return;
    const int n = int(videoIds.size());
    const QString question =
        n == 1 ? QStringLiteral("Remove this video and all its frame annotations from the project?")
               : QStringLiteral("Remove %1 videos and all their frame annotations from the project?").arg(n);
    if (Prompts::current().question(this, QStringLiteral("Remove Video"), question,
                                    QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
        != QMessageBox::Yes)
        return;

    for (int id : videoIds) {
        if (id == currentVideoId && videoMode) {
            // The canvas is left empty: no image is current either, so that
            // the list highlights nothing rather than an image not shown.
            resetVideoState();
            showNoImage();
            annotationPanel->clear();
        } else if (id == currentVideoId) {
            // Left for an image, which stays on the canvas.
            currentVideoId = -1;
            currentFrame = 0;
        }
        project.dataset.removeVideo(id);
    }
    modified = true;
    imageListPanel->setDataset(project.dataset);
    refreshFilmStrip();
    syncListWithCanvas();
    refreshStats();
    statusBar()->showMessage(QStringLiteral("Removed %1 video(s).").arg(n), 3000);
}

QRectF MainWindow::classTagBox(const ImageEntry &entry) const
{
    const double w = entry.width > 0 ? entry.width : canvas->width();
    const double h = entry.height >= 1 ? entry.height : canvas->height();
    return QRectF(0, 0, w, h);
}

QList<Annotation> MainWindow::classificationAnnotations(const QStringList &names, const ImageEntry &entry) const
{
    const QRectF whole = classTagBox(entry);
    QList<Annotation> labels;
    labels.reserve(names.size());
    for (const QString &name : names) {
        Annotation annotation;
        annotation.className = name;
        annotation.kind = BoundingBox;
        annotation.bbox = whole;
        annotation.confidence = 1.0f;
        labels.append(annotation);
    }
    return labels;
}

QList<Annotation> MainWindow::relabelledWith(const QStringList &names, const ImageEntry &entry) const
{
    // The tags change; every other annotation (a box or polygon drawn before
    // the project became a classification one) stays as it is.
    QList<Annotation> labels = classificationAnnotations(names, entry);
    const QRectF whole = classTagBox(entry);
    for (const Annotation &annotation : entry.labels) {
        const bool tag = annotation.kind == BoundingBox && annotation.points.isEmpty()
            && qAbs(annotation.bbox.x()) < 0.5 && qAbs(annotation.bbox.y()) < 0.5
            && qAbs(annotation.bbox.width() - whole.width()) < 0.5
            && qAbs(annotation.bbox.height() - whole.height()) < 0.5;
        if (!tag)
            labels.append(annotation);
    }
    return labels;
}

void MainWindow::onClassesSelected(const QStringList &names)
{
    if (project.projectType != QLatin1String("classification"))
        return;
    if (videoMode) {
        VideoEntry *video = project.dataset.videoById(currentVideoId);
        // Only the frame on the canvas takes the classes: until the current frame
        // arrives, the canvas shows another frame or an image.
        if (!video || displayedFrame != currentFrame || canvas->displayedEntryId() != ~currentVideoId)
            return;
        ImageEntry frame;
        frame.width = video->width;
        frame.height = video->height;
        frame.labels = video->frameLabels.value(currentFrame);
        // One step of the canvas's history; the frame map follows its report.
        canvas->replaceAnnotations(relabelledWith(names, frame), QStringLiteral("Assign class"));
        return;
    }
    if (currentImageId < 0)
        return;
    const QList<int> selected = imageListPanel->selectedImageIds();
    const int d = int(selected.size());
    if (d >= 2) {
        assignClassesToImages(names, selected);
        return;
    }
    ImageEntry *current = project.dataset.imageById(currentImageId);
    if (!current)
        return;
    if (canvas->displayedEntryId() == currentImageId && !canvas->hasPicture()
        && (current->width <= 0 || current->height <= 0)) {
        // No picture and no size known: a whole-picture tag would only take
        // the canvas's size. The panel shows the tags the image has.
        annotationPanel->setAnnotations(*current);
        tellNothingToDrawOn();
        return;
    }
    const QList<Annotation> labels = relabelledWith(names, *current);
    if (canvas->displayedEntryId() == currentImageId) {
        // One step of the canvas's history; the image's record follows its report.
        canvas->replaceAnnotations(labels, QStringLiteral("Assign class"));
        return;
    }
    // The pixels are still on their way and bring the dataset's list with them.
    if (SnapshotCommand::listsEqual(current->labels, labels))
        return;
    current->labels = labels;
    imageListPanel->setImageLabeled(currentImageId, !labels.isEmpty());
    modified = true;
    annotationPanel->setAnnotations(*current);
    refreshStats();
}

void MainWindow::assignClassesToImages(const QStringList &names, const QList<int> &selected)
{
    const int d = int(selected.size());
    const QString joined = names.join(QStringLiteral(", "));
    if (Prompts::current().question(this, tr("Bulk Assign"),
                                    tr("%1 image(s) will be assigned to \"%2\".\nProceed?").arg(d).arg(joined),
                                    QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes)
        != QMessageBox::Yes)
        return;
    // One pass over the images, however many are selected: ids that name
    // no image are skipped.
    const QSet<int> chosen(selected.cbegin(), selected.cend());
    for (ImageEntry &image : project.dataset.images) {
        if (!chosen.contains(image.id))
            continue;
        image.labels = relabelledWith(names, image);
        imageListPanel->setImageLabeled(image.id, !image.labels.isEmpty());
    }
    modified = true;
    // The canvas takes the list only when it shows this image; a load still
    // under way brings the dataset's list with it.
    if (const ImageEntry *current = project.dataset.imageById(currentImageId)) {
        if (canvas->displayedEntryId() == currentImageId)
            canvas->setAnnotations(current->labels);
        annotationPanel->setAnnotations(*current);
    }
    refreshStats();
    statusBar()->showMessage(tr("Assigned \"%1\" to %2 image(s).").arg(joined).arg(d), 4000);
}

void MainWindow::syncClassesOf(const QList<Annotation> &labels)
{
    // Only the written list can bring a class the map lacks: every other
    // annotation's class joined it when the project was last refreshed.
    for (const Annotation &annotation : labels) {
        if (!project.dataset.classColors.contains(annotation.className))
            project.dataset.addClass(annotation.className, QColor());
    }
}

ImageEntry MainWindow::videoFrameEntry(int videoId, const QList<Annotation> &labels) const
{
    ImageEntry entry;
    entry.id = ~videoId;
    if (const VideoEntry *video = project.dataset.videoById(videoId)) {
        entry.filePath = video->filePath;
        entry.width = video->width;
        entry.height = video->height;
    }
    entry.labels = labels;
    return entry;
}

void MainWindow::writeBackAnnotations()
{
    // Edits belong to the entry the canvas shows, which can lag behind the
    // current selection while pixels or a frame are on their way.
    const std::optional<int> shown = canvas->displayedEntryId();
    if (!shown)
        return;
    const int shownId = *shown;
    const QList<Annotation> labels = canvas->annotations();
    const int classCount = int(project.dataset.classColors.size());

    // A video frame's id is the complement of the video id (negative).
    if (shownId < 0) {
        if (displayedFrame < 0)
            return;
        const int videoId = ~shownId;
        VideoEntry *video = project.dataset.videoById(videoId);
        if (!video)
            return;
        if (labels.isEmpty())
            video->frameLabels.remove(displayedFrame);
        else
            video->frameLabels.insert(displayedFrame, labels);
        const bool labelled = !video->frameLabels.isEmpty();
        if (videoId == currentVideoId)
            annotationPanel->setAnnotations(videoFrameEntry(videoId, labels));
        syncClassesOf(labels);
        if (project.dataset.classColors.size() != classCount)
            pushClassColors();
        imageListPanel->setVideoLabeled(videoId, labelled);
        if (videoId == currentVideoId)
            updateVideoMarkers(videoId);
        refreshStats();
        return;
    }

    ImageEntry *image = project.dataset.imageById(shownId);
    if (!image)
        return;
    image->labels = labels;
    if (shownId == currentImageId)
        annotationPanel->setAnnotations(*image);
    syncClassesOf(labels);
    if (project.dataset.classColors.size() != classCount)
        pushClassColors();
    imageListPanel->setImageLabeled(shownId, !labels.isEmpty());
    refreshStats();
}

} // namespace Quillmark
