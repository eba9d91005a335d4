// Project lifecycle: new, open (on a worker), save and save as (extracting
// embedded media first), close, the project-type change and the unsaved-changes
// question.

#include "app/MainWindow.h"

#include "app/DefaultTool.h"
#include "canvas/LabelCanvas.h"
#include "dialogs/ObjectDetectionWizard.h"
#include "dialogs/ProjectSavePath.h"
#include "dialogs/ProjectTypeDialog.h"
#include "dialogs/KeypointTemplates.h"
#include "dialogs/Prompts.h"
#include "formats/ImageProbe.h"
#include "model/MissingMedia.h"
#include "model/MissingMediaCheck.h"
#include "model/PathInFolder.h"
#include "model/RegularFile.h"
#include "panels/ImageListPanel.h"
#include "model/ProjectFile.h"
#include "panels/AnnotationPanel.h"

#include <QBuffer>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QMessageBox>
#include <QProgressBar>
#include <QSaveFile>
#include <QSet>
#include <QSettings>
#include <QStatusBar>
#include <QThread>

#include <memory>
#include <utility>

namespace Quillmark {

namespace {

const QString projectFilter = QStringLiteral("Quillmark Project (*.qmk)");
const QString lastProjectDirKey = QStringLiteral("lastProjectDir");

// Why a project file could not be opened, for the user: what the file is, as
// far as it can be told without reading it again.
QString openFailureReason(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return QStringLiteral("The file does not exist.");
    if (info.isDir())
        return QStringLiteral("\"%1\" is a folder, not a project file.").arg(info.fileName());
    if (!info.isFile())
        return QStringLiteral("\"%1\" is not a regular file (it is a pipe, socket or device).").arg(info.fileName());
    if (!info.isReadable())
        return QStringLiteral("The file cannot be read: permission denied.");
    return QStringLiteral("The file is not a Quillmark project: it is damaged or of another kind.");
}

QString lastProjectDir()
{
    return QSettings().value(lastProjectDirKey, QDir::homePath()).toString();
}

void rememberProjectDir(const QString &file)
{
    QSettings().setValue(lastProjectDirKey, QFileInfo(file).absolutePath());
}

QString askProjectFilePath(QWidget *parent, const QString &caption)
{
    return askProjectSavePath(parent, caption, lastProjectDir());
}

// The image format that a file suffix or a reader names, in one spelling.
QByteArray canonicalImageFormat(QByteArray format)
{
    format = format.toLower();
    if (format == "jpg")
        return "jpeg";
    if (format == "tif")
        return "tiff";
    return format;
}

QByteArray storedImageFormat(const QByteArray &data)
{
    QByteArray copy = data;
    QBuffer buffer(&copy);
    buffer.open(QIODevice::ReadOnly);
    return canonicalImageFormat(QImageReader::imageFormat(&buffer));
}

// The bytes of an embedded image as they will be written: its stored encoded
// bytes when they are in the format the name's suffix says (no re-encoding),
// else the pixels encoded by the suffix. Stored bytes that cannot be
// re-encoded are written as they are.
QByteArray embeddedImageBytes(const ImageEntry &image, const QString &fileName)
{
    const QByteArray format = canonicalImageFormat(QFileInfo(fileName).suffix().toLatin1());
    // Read once: bytes left in a package come from the file on every call.
    const QByteArray encoded = image.image.isNull() ? image.encodedBytes() : QByteArray();
    if (!encoded.isEmpty() && storedImageFormat(encoded) == format)
        return encoded;
    QImage pixels = image.image;
    if (pixels.isNull() && !encoded.isEmpty())
        pixels = QImage::fromData(encoded);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    if (!writer.write(pixels))
        return encoded;
    return bytes;
}

bool fileHoldsBytes(const QString &path, const QByteArray &bytes)
{
    QFile file;
    if (!openRegularFile(file, path) || file.size() != bytes.size())
        return false;
    return file.readAll() == bytes;
}

// Writes media files into one folder without overwriting anything: names used
// earlier in the same run, and files already there with other content, make
// the next name "stem_2.ext", "stem_3.ext" ... A file that already holds the
// same bytes is reused.
class MediaExtraction {
public:
    explicit MediaExtraction(const QString &folder) : dir(folder) {}

    // The path written (or reused), or empty when the write failed.
    QString write(const QString &fileName, const QByteArray &bytes)
    {
        const QFileInfo info(fileName);
        const QString stem = info.completeBaseName();
        const QString suffix = info.suffix();
        for (int n = 1;; ++n) {
            QString candidate = fileName;
            if (n > 1)
                candidate = suffix.isEmpty() ? QStringLiteral("%1_%2").arg(stem).arg(n)
                                             : QStringLiteral("%1_%2.%3").arg(stem).arg(n).arg(suffix);
            if (used.contains(candidate.toLower()))
                continue;
            const QString path = pathInFolder(dir, candidate);
            if (QFileInfo::exists(path) || QFileInfo(path).isSymLink()) {
                if (!fileHoldsBytes(path, bytes))
                    continue;
                used.insert(candidate.toLower());
                return path;
            }
            used.insert(candidate.toLower());
            QSaveFile file(path);
            // Flushed before the commit, which would miss a failed last write.
            if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.flush()
                || !file.commit())
                return {};
            return path;
        }
    }

private:
    QDir dir;
    QSet<QString> used;
};

} // namespace

bool MainWindow::confirmUnsavedChanges(const QString &verb)
{
    if (!modified)
        return true;
    const QMessageBox::StandardButton answer = Prompts::current().question(
        this, QStringLiteral("Unsaved Changes"), QStringLiteral("You have unsaved changes. Save before you %1?").arg(verb),
        QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, QMessageBox::Save);
    if (answer == QMessageBox::Discard)
        return true;
    if (answer != QMessageBox::Save)
        return false;
    if (!projectPath.isEmpty())
        return saveProjectTo(projectPath);
    const QString path = askProjectFilePath(this, QStringLiteral("Save Project"));
    if (path.isEmpty())
        return false;
    return saveProjectTo(path);
}

void MainWindow::removeTempVideo()
{
    if (tempVideoPath.isEmpty())
        return;
    // The decoder lets go of the file before it is removed.
    if (videoDecoder.path() == tempVideoPath)
        videoDecoder.close();
    QFile::remove(tempVideoPath);
    tempVideoPath.clear();
}

void MainWindow::replaceProject(const Project &fresh)
{
    // An AI run's results belong to the old project's images.
    if (aiBatch)
        aiBatch->abandon();
    forgetSegmentationResults();
    resetVideoState();
    removeTempVideo();
    ++projectGeneration;
    // A media check of the old project has nothing more to say.
    for (MissingMediaCheck *check : findChildren<MissingMediaCheck *>(Qt::FindDirectChildrenOnly)) {
        check->cancel();
        check->deleteLater();
    }
    project = fresh;
    projectPath.clear();
    currentImageId = -1;
    modified = false;
    // The canvas must not hand its old list to an image of the new project
    // that happens to carry the same id.
    clearCanvas();
    annotationPanel->clear();
}

void MainWindow::onNewProject()
{
    if (refuseWhileJobRuns() || !confirmUnsavedChanges(QStringLiteral("create a new project")))
        return;
    ObjectDetectionWizard wizard(this, themeMode == Theme::Dark);
    if (wizard.exec() != QDialog::Accepted)
        return;
    createProject(wizard.projectSpec());
}

void MainWindow::createProject(const NewProjectSpec &spec)
{
    replaceProject(Project());
    project.name = spec.name;
    project.projectType = spec.projectType;

    const bool storesSchema =
        spec.projectType == QLatin1String("pose") && !spec.keypointSchema.keypointNames.isEmpty();
    if (storesSchema) {
        project.dataset.setKeypointSchema(spec.keypointSchema);
    } else {
        for (const ClassEntry &entry : spec.classes)
            project.dataset.addClass(entry.name, entry.color);
    }

    const int n = int(spec.imagePaths.size());
    if (n > 0) {
        beginProgress(n);
        statusBar()->showMessage(QStringLiteral("Importing %1 image(s)…").arg(n));
        for (int i = 0; i < n; ++i) {
            progressBar->setValue(i + 1);
            // The header only: no pixels are decoded. An unreadable image is 0 x 0.
            const QSize size = probeImageSize(spec.imagePaths.at(i));
            ImageEntry entry;
            entry.filePath = spec.imagePaths.at(i);
            entry.width = size.width();
            entry.height = size.height();
            project.dataset.addImage(entry);
        }
        endProgress();
    }

    // A failed first save has shown its message; the new project then counts
    // as unsaved, so closing it asks first.
    if (!spec.savePath.isEmpty() && !saveProjectTo(spec.savePath))
        modified = true;

    refreshUi();
    updateTitle();
    applyDefaultTool();

    const QString detail =
        storesSchema ? QStringLiteral("%1 keypoints (%2)")
                           .arg(spec.keypointSchema.keypointNames.size())
                           .arg(spec.keypointSchema.objectClass)
                     : QStringLiteral("%1 class(es)").arg(spec.classes.size());
    statusBar()->showMessage(QStringLiteral("%1 project \"%2\" created — %3, %4 image(s).")
                                 .arg(projectTypeTitle(spec.projectType),
                                      spec.name.isEmpty() ? QStringLiteral("Untitled") : spec.name, detail,
                                      QString::number(n)),
                             5000);
}

void MainWindow::onOpenProject()
{
    if (refuseWhileJobRuns() || !confirmUnsavedChanges(QStringLiteral("close the project")))
        return;
    const QString path =
        Prompts::current().getOpenFileName(this, QStringLiteral("Open Project"), lastProjectDir(), projectFilter);
    if (path.isEmpty())
        return;
    rememberProjectDir(path);

    // A cancelled open keeps the project as it is, with its unsaved changes.
    const quint64 ticket = startJob([this] { modified = modified || modifiedBeforeOpen; });
    beginProgress(0);
    statusBar()->showMessage(QStringLiteral("Opening project…"));
    modifiedBeforeOpen = std::exchange(modified, false);

    // The worker fills a record of its own; the live project is untouched
    // until the result is merged on the GUI thread.
    struct OpenResult {
        Project project;
        bool ok = false;
        QString failure;
    };
    auto result = std::make_shared<OpenResult>();
    QThread *worker = QThread::create([result, path, read = projectFileReader] {
        QString problem;
        result->ok = read(result->project, path, &problem);
        if (!result->ok)
            result->failure = problem.isEmpty() ? openFailureReason(path) : problem;
    });
    connect(worker, &QThread::finished, this, [this, result, path, ticket] {
        if (finishJob(ticket))
            onProjectLoaded(&result->project, result->ok, path, result->failure);
    });
    connect(worker, &QThread::finished, worker, &QObject::deleteLater);
    worker->start(QThread::InheritPriority);
}

void MainWindow::onProjectLoaded(Project *loaded, bool ok, const QString &path, const QString &failure)
{
    const bool editedWhileOpening = modified;
    modified = modified || modifiedBeforeOpen;
    if (!ok) {
        statusBar()->clearMessage();
        QString text = QStringLiteral("Failed to open project.");
        if (!failure.isEmpty())
            text += QStringLiteral("\n\n") + failure;
        Prompts::current().warning(this, QStringLiteral("Error"), text);
        return;
    }
    // The canvas stays usable while the file is read; edits made meanwhile are
    // asked about before the opened project replaces them.
    if (editedWhileOpening && !confirmUnsavedChanges(QStringLiteral("close the project"))) {
        statusBar()->clearMessage();
        return;
    }
    replaceProject(Project());
    project.name = loaded->name;
    project.projectType = loaded->projectType;
    project.dataset = std::move(loaded->dataset);
    projectPath = path;

    // The reader has put every class of the annotations in the list.
    refreshUi(ClassSync::Done);
    inferProjectType();
    updateTitle();
    statusBar()->showMessage(QStringLiteral("Opened: %1  (%2 images)")
                                 .arg(QFileInfo(path).fileName())
                                 .arg(project.dataset.images.size()),
                             4000);
    checkMediaInBackground();
}

void MainWindow::checkMediaInBackground()
{
    // The project is shown first; its files are looked at on a thread of their
    // own, and the list marks the missing ones as they are found. Files moved or
    // deleted since the project was saved keep their annotations (and are saved
    // again), but the user must know why pictures are gone.
    // The check's signals come from its worker and are handled in the check's
    // own context: a check taken away (another project replaced this one) has
    // nothing more delivered, not even an answer already on its way.
    auto *check = new MissingMediaCheck(project.dataset, this);
    const quint64 generation = projectGeneration;
    connect(check, &MissingMediaCheck::missingFound, check,
            [this, generation](const QList<int> &imageIds, const QList<int> &videoIds) {
                if (generation == projectGeneration)
                    imageListPanel->markMissing(imageIds, videoIds);
            });
    connect(check, &MissingMediaCheck::finished, check, [this, check, generation](const MissingMedia &missing) {
        check->deleteLater();
        if (generation == projectGeneration)
            warnOfMissingMedia(missing);
    });
    check->start();
}

void MainWindow::onSaveProject()
{
    if (refuseWhileJobRuns())
        return;
    if (projectPath.isEmpty()) {
        onSaveProjectAs();
        return;
    }
    saveProjectTo(projectPath);
}

void MainWindow::onSaveProjectAs()
{
    if (refuseWhileJobRuns())
        return;
    const QString path = askProjectFilePath(this, QStringLiteral("Save Project As"));
    if (path.isEmpty())
        return;
    rememberProjectDir(path);
    saveProjectTo(path);
}

bool MainWindow::needsMediaExtraction() const
{
    for (const ImageEntry &image : project.dataset.images) {
        if (image.hasInMemoryImage() && !isAbsoluteFilePath(image.filePath))
            return true;
    }
    for (const VideoEntry &video : project.dataset.videos) {
        if (!video.bytes.isEmpty() && !isAbsoluteFilePath(video.filePath))
            return true;
    }
    return false;
}

bool MainWindow::extractEmbeddedMedia(const QString &projectFilePath)
{
    const QFileInfo projectFile(projectFilePath);
    const QString suggested = projectFile.absolutePath() + QLatin1Char('/') + projectFile.completeBaseName();

    QMessageBox box(QMessageBox::Information, QStringLiteral("Extract Media Files"),
                    QStringLiteral("<b>This project contains embedded media</b> (loaded from a QuillPackage).<br><br>"
                                   "To save as a <b>.qmk</b> project the images and video must be written to disk. "
                                   "Please choose a folder — media files will be placed there and the project will "
                                   "reference them by path."),
                    QMessageBox::Ok | QMessageBox::Cancel, this);
    box.setTextFormat(Qt::RichText);
    box.setDefaultButton(QMessageBox::Ok);
    QAbstractButton *clicked = Prompts::current().execMessageBox(box);
    if (!clicked || box.standardButton(clicked) != QMessageBox::Ok)
        return false;

    // The folder picker takes only folders that exist: the suggested one is
    // made for it, and taken away again when the user picks another or none.
    const bool made = !QFileInfo::exists(suggested) && QDir().mkpath(suggested);
    const QString start = QFileInfo(suggested).isDir() ? suggested : projectFile.absolutePath();
    const QString folder = Prompts::current().getExistingDirectory(
        this, QStringLiteral("Choose Media Folder"), start,
        QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
    if (made && QDir::cleanPath(QFileInfo(folder).absoluteFilePath()) != QDir::cleanPath(suggested))
        QDir().rmdir(suggested);
    if (folder.isEmpty())
        return false;
    const auto failed = [this](const QString &what) {
        Prompts::current().warning(this, QStringLiteral("Extract Media Files"),
                                   QStringLiteral("Could not write %1.\nThe project was not saved; the media it "
                                                  "holds in memory are kept.")
                                       .arg(QDir::toNativeSeparators(what)));
        return false;
    };
    if (!QDir().mkpath(folder))
        return failed(folder);

    MediaExtraction extraction(folder);
    for (ImageEntry &image : project.dataset.images) {
        if (!image.hasInMemoryImage() || isAbsoluteFilePath(image.filePath))
            continue;
        QString name = QFileInfo(image.filePath).fileName();
        if (name.isEmpty())
            name = QStringLiteral("image_%1.png").arg(image.id);
        if (!name.contains(QLatin1Char('.')))
            name += QStringLiteral(".png");
        const QByteArray bytes = embeddedImageBytes(image, name);
        const QString written = bytes.isEmpty() ? QString() : extraction.write(name, bytes);
        if (written.isEmpty()) {
            refreshUi();
            return failed(pathInFolder(folder, name));
        }
        // Repointed only now that the file holds the pixels.
        image.filePath = written;
        image.dropInMemoryImage();
    }
    for (VideoEntry &video : project.dataset.videos) {
        if (video.bytes.isEmpty() || isAbsoluteFilePath(video.filePath))
            continue;
        QString name = QFileInfo(video.filePath).fileName();
        if (name.isEmpty())
            name = QStringLiteral("video_%1.mp4").arg(video.id);
        const QString written = extraction.write(name, video.bytes);
        if (written.isEmpty()) {
            refreshUi();
            return failed(pathInFolder(folder, name));
        }
        video.filePath = written;
        video.bytes = QByteArray();
    }
    refreshUi();
    return true;
}

bool MainWindow::saveProjectTo(const QString &path)
{
    if (needsMediaExtraction() && !extractEmbeddedMedia(path))
        return false;
    if (!saveProjectFile(project, path)) {
        Prompts::current().warning(this, QStringLiteral("Error"), QStringLiteral("Failed to save project."));
        return false;
    }
    projectPath = path;
    modified = false;
    updateTitle();
    statusBar()->showMessage(QStringLiteral("Saved: %1").arg(QFileInfo(path).fileName()), 3000);
    return true;
}

void MainWindow::onCloseProject()
{
    if (refuseWhileJobRuns())
        return;
    const bool nothingOpen = project.dataset.images.isEmpty() && project.dataset.videos.isEmpty()
        && project.projectType.isEmpty() && projectPath.isEmpty();
    if (nothingOpen || !confirmUnsavedChanges(QStringLiteral("close the project")))
        return;
    replaceProject(Project());
    refreshUi();
    updateTitle();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    // A job that cannot be cancelled may be writing the user's files: the
    // process must not end under it.
    if (jobRunning && !isJobCancellable()) {
        Prompts::current().warning(this, QStringLiteral("Please Wait"),
                                   QStringLiteral("An operation is still running. Close the window when it has "
                                                  "finished."));
        event->ignore();
        return;
    }
    if (!confirmUnsavedChanges(QStringLiteral("exit"))) {
        event->ignore();
        return;
    }
    // With the project's changes safe, a job whose result may be dropped is
    // no reason to stay: the user may quit without waiting for it.
    if (jobRunning) {
        const QMessageBox::StandardButton answer = Prompts::current().question(
            this, QStringLiteral("Quit"),
            QStringLiteral("An operation is still running.\nQuit anyway? Its result will be dropped."),
            QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
        if (answer != QMessageBox::Yes) {
            event->ignore();
            return;
        }
        cancelJob();
        // Results that arrived while the question was open are asked about too.
        if (!confirmUnsavedChanges(QStringLiteral("exit"))) {
            event->ignore();
            return;
        }
    }
    removeTempVideo();
    event->accept();
}

void MainWindow::applyKeypointTemplateOf(const QString &type)
{
    // The keypoint tool places the points of the project's own kind: a body
    // skeleton is no face, and five landmarks are no body.
    const KeypointSchema &current = project.dataset.keypointSchema;
    KeypointSchema next;
    if (type == QLatin1String("face")) {
        if (current.keypointNames == face5KeypointNames())
            return;
        next = {QStringLiteral("face"), face5KeypointNames(), {}};
    } else if (type == QLatin1String("pose")) {
        // A body or hand skeleton of the project's own stays.
        if (current.isInUse() && current.keypointNames != face5KeypointNames())
            return;
        next = {QStringLiteral("person"), coco17KeypointNames(), coco17KeypointEdges()};
    } else {
        return;
    }
    project.dataset.setKeypointSchema(next);
    pushClassColors();
}

void MainWindow::onProjectTypeChangeRequested()
{
    if (refuseWhileJobRuns())
        return;
    ProjectTypeDialog dialog(project.projectType, int(themeMode), this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    const QString type = dialog.selectedType();
    if (type == project.projectType)
        return;
    project.projectType = type;
    // The type is stored in the project file: a change the user made must not
    // be dropped without the unsaved-changes question.
    modified = true;
    applyKeypointTemplateOf(type);
    updateTitle();
    applyDefaultTool();
    if (project.dataset.classColors.isEmpty())
        onClassRequired();
}

} // namespace Quillmark
