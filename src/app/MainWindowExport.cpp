// Export commands: datasets (with the annotated frames of the project's videos)
// and packages. Each waits while another background job runs, and holds the
// busy state from its start to its end, so no other job can start meanwhile and
// the window cannot be closed under it.

#include "app/MainWindow.h"

#include "dialogs/Prompts.h"
#include "formats/AnnotatedFrameExtractor.h"
#include "formats/ui/ExportDialog.h"
#include "formats/ExportJob.h"
#include "formats/ExportNames.h"
#include "formats/FormatRegistry.h"
#include "formats/LabelMeHandler.h"
#include "formats/ProgressThrottle.h"
#include "formats/QpkgHandler.h"
#include "formats/SafeWrite.h"
#include "model/MissingMedia.h"
#include "model/SettingsStores.h"

#include <QDir>
#include <QFileInfo>
#include <QProgressBar>
#include <QSettings>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QThread>

namespace Quillmark {

namespace {

const QString exportTitle = QStringLiteral("Export");
const QString packageTitle = QStringLiteral("Export QuillPackage");

// The formats a project of this type is offered.
QStringList exportFormats(const QString &projectType)
{
    const FormatRegistry &registry = FormatRegistry::instance();
    QStringList names;
    if (projectType == QLatin1String("pose") || projectType == QLatin1String("face")) {
        for (const QString &name : {QStringLiteral("COCO"), QStringLiteral("YOLO Pose")}) {
            if (registry.find(name))
                names.append(name);
        }
        return names;
    }
    for (const IFormatHandler *handler : registry.handlers()) {
        const QString name = handler->name();
        if (name != QLatin1String("QuillPackage") && name != QLatin1String("YOLO Pose"))
            names.append(name);
    }
    return names;
}

int annotatedFrameCount(const Dataset &dataset)
{
    int count = 0;
    for (const VideoEntry &video : dataset.videos)
        count += int(video.frameLabels.size());
    return count;
}

bool hasEntries(const QString &folder)
{
    return !QDir(folder).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
}

// "  (3 video frames skipped: a.mp4, b.mp4)" or nothing.
QString skippedFramesNote(int skipped, const QStringList &videos)
{
    if (skipped <= 0)
        return QString();
    QStringList named = videos.mid(0, 3);
    if (videos.size() > named.size())
        named.append(QStringLiteral("…"));
    return QStringLiteral("  (%1 video frame%2 skipped: %3)")
        .arg(QString::number(skipped), skipped == 1 ? QString() : QStringLiteral("s"),
             named.join(QStringLiteral(", ")));
}

} // namespace

// One dataset export from the dialog to the finished handler. The worker reads
// the configuration and the dataset copy and fills the results; the GUI thread
// touches them only before the worker starts and after it finished.
struct MainWindow::DatasetExportRun {
    ExportConfig config;
    IFormatHandler *handler = nullptr;
    Dataset dataset;
    // Where the extracted frames wait for the job, removed when the run ends.
    std::unique_ptr<QTemporaryDir> frameFolder;
    int frameSteps = 0;
    int skippedFrames = 0;
    QStringList videosWithSkippedFrames;
    bool ok = false;
    QString error;
    QString result;
};

void MainWindow::onExportDataset()
{
    if (refuseWhileJobRuns())
        return;
    const int frames = annotatedFrameCount(project.dataset);
    // The dialog's counts include the frames, as the export writes them.
    ExportDialog dialog(exportFormats(project.projectType), int(project.dataset.images.size()) + frames, this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    const ExportConfig config = dialog.config();
    if (config.outputPath.isEmpty()) {
        Prompts::current().warning(this, exportTitle, QStringLiteral("No output path selected."));
        return;
    }
    if (QDir::isRelativePath(config.outputPath)) {
        // A relative path would land wherever the program happened to start.
        Prompts::current().warning(
            this, exportTitle,
            QStringLiteral("Choose the output folder by its full path; \"%1\" is not one.").arg(config.outputPath));
        return;
    }
    IFormatHandler *handler = FormatRegistry::instance().find(config.format);
    if (!handler || !confirmExportFolder(config.outputPath))
        return;
    if (auto *labelMe = dynamic_cast<LabelMeHandler *>(handler))
        labelMe->useExternalImages = config.embedBase64 ? 0 : 1;

    startJob();
    beginProgress(int(project.dataset.images.size()) + 2 * frames);
    statusBar()->showMessage(QStringLiteral("Exporting…"));

    auto run = std::make_shared<DatasetExportRun>();
    run->config = config;
    run->handler = handler;
    run->dataset = project.dataset;
    run->frameSteps = frames;
    if (frames == 0) {
        startDatasetExportWorker(run);
        return;
    }
    extractFramesThenExport(run);
}

// Files of an earlier export in the folder would stay beside the new ones (and
// be read with them): the user decides whether to go on.
bool MainWindow::confirmExportFolder(const QString &outputPath)
{
    const QFileInfo folder(outputPath);
    if (!folder.isDir() || !hasEntries(outputPath))
        return true;
    const QMessageBox::StandardButton answer = Prompts::current().question(
        this, exportTitle,
        QStringLiteral("The folder \"%1\" is not empty.\n\nFiles of this export replace files of the same name there; "
                       "every other file stays and may be read as part of the dataset.\n\nExport into this folder?")
            .arg(QDir::toNativeSeparators(outputPath)),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    return answer == QMessageBox::Yes;
}

void MainWindow::extractFramesThenExport(const std::shared_ptr<DatasetExportRun> &run)
{
    QString folder;
    const ExportConfig &config = run->config;
    if (!config.copyImages && !config.embedBase64 && !formatWritesOwnImages(config.format)) {
        // The job copies no pictures: the frames' files are the only ones the
        // exported labels can name, so they go where the dataset is.
        folder = exportPictureFolder(FormatRegistry::instance().find(config.format), config);
        if (!ensureFolder(folder)) {
            finishJob();
            statusBar()->clearMessage();
            Prompts::current().warning(
                this, exportTitle,
                QStringLiteral("Export failed: could not create the folder %1.").arg(QDir::toNativeSeparators(folder)));
            return;
        }
    } else {
        run->frameFolder =
            std::make_unique<QTemporaryDir>(QDir::temp().filePath(QStringLiteral("qmkexport_frames_XXXXXX")));
        // Without a temporary folder the frames are held in memory as JPEG bytes.
        if (run->frameFolder->isValid())
            folder = run->frameFolder->path();
    }
    auto *extractor = new AnnotatedFrameExtractor(run->dataset.videos, folder, this);
    connect(extractor, &AnnotatedFrameExtractor::progressed, this,
            [this](int done, int) { progressBar->setValue(done); });
    connect(extractor, &AnnotatedFrameExtractor::finished, this, [this, run, extractor] {
        for (const ImageEntry &frame : extractor->frames())
            run->dataset.addImage(frame);
        run->skippedFrames = extractor->skippedFrames();
        run->videosWithSkippedFrames = extractor->videosWithSkippedFrames();
        extractor->deleteLater();
        progressBar->setValue(run->frameSteps);
        startDatasetExportWorker(run);
    });
    extractor->start();
}

void MainWindow::startDatasetExportWorker(const std::shared_ptr<DatasetExportRun> &run)
{
    // The job reports once per image; the bar needs a few reports a second.
    ProgressCallback progress = throttledProgress(progressPoster(ProgressKind::DatasetExport, run->frameSteps), 50);
    QThread *worker = QThread::create([run, progress] {
        const int pictures = int(run->dataset.images.size());
        run->ok = runExportJob(run->handler, run->config, run->dataset, pictures,
                               formatWritesOwnImages(run->config.format), progress, &run->error, &run->result);
    });
    connect(worker, &QThread::finished, this, [this, run] { finishDatasetExport(*run); });
    connect(worker, &QThread::finished, worker, &QObject::deleteLater);
    worker->start(QThread::InheritPriority);
}

void MainWindow::finishDatasetExport(DatasetExportRun &run)
{
    run.frameFolder.reset();
    run.dataset = Dataset();
    finishJob();
    if (!run.ok) {
        statusBar()->clearMessage();
        Prompts::current().warning(this, exportTitle,
                                   run.error.isEmpty() ? QStringLiteral("Export failed.") : run.error);
        return;
    }
    // Further lines name what the export left out (entries that are no
    // pictures, crowd regions the format cannot mark): shown, not only passed by.
    const QString summary = run.result.section(QLatin1Char('\n'), 0, 0);
    statusBar()->showMessage(summary + skippedFramesNote(run.skippedFrames, run.videosWithSkippedFrames), 6000);
    if (summary != run.result)
        Prompts::current().warning(this, exportTitle, run.result);
}

void MainWindow::onExportQuillPackage()
{
    if (refuseWhileJobRuns())
        return;
    const Dataset &dataset = project.dataset;
    if (dataset.images.isEmpty() && dataset.videos.isEmpty()) {
        Prompts::current().information(this, packageTitle, QStringLiteral("Nothing to export — project is empty."));
        return;
    }
    const QString suggested = portableFileName(project.name.isEmpty() ? QStringLiteral("dataset") : project.name);
    QSettings store = SettingsStores::exportStore();
    QString lastFolder = store.value(QStringLiteral("lastExportDir")).toString();
    if (lastFolder.isEmpty())
        lastFolder = QDir::homePath();
    const QString path = Prompts::current().getSaveFileName(
        this, packageTitle, lastFolder + QLatin1Char('/') + suggested + QStringLiteral(".qmpkg"),
        QStringLiteral("QuillPackage (*.qmpkg)"));
    if (path.isEmpty())
        return;
    store.setValue(QStringLiteral("lastExportDir"), QFileInfo(path).absolutePath());
    if (!FormatRegistry::instance().find(QStringLiteral("QuillPackage")))
        return;

    const int images = int(dataset.images.size());
    const int videos = int(dataset.videos.size());
    startJob();
    beginProgress(images);
    statusBar()->showMessage(QStringLiteral("Exporting QuillPackage…"));

    struct PackageRun {
        Project project;
        bool ok = false;
        MissingMedia missing;
        QStringList refused;
    };
    auto run = std::make_shared<PackageRun>();
    run->project = project;
    ProgressCallback progress = throttledProgress(progressPoster(ProgressKind::PackageExport), 50);
    QThread *worker = QThread::create([run, path, progress] {
        run->missing = findMissingMedia(run->project.dataset);
        run->ok = QpkgHandler::exportProject(path, run->project, progress, &run->refused);
    });
    connect(worker, &QThread::finished, this, [this, run, images, videos, path] {
        run->project = Project();
        finishPackageExport(run->ok, images, videos, path);
        // Written, but not whole: the user must not take it for a copy of every picture.
        if (run->ok && run->missing.count > 0)
            Prompts::current().warning(
                this, packageTitle,
                QStringLiteral("%1 media file(s) could not be found. The package holds their annotations "
                               "but not their pictures:\n%2")
                    .arg(run->missing.count)
                    .arg(run->missing.listText()));
        if (run->ok && !run->refused.isEmpty())
            Prompts::current().warning(
                this, packageTitle,
                QStringLiteral("%1 media file(s) are no picture or video. The package holds their annotations "
                               "but not their bytes:\n%2")
                    .arg(run->refused.size())
                    .arg(run->refused.mid(0, 5).join(QLatin1Char('\n')) + (run->refused.size() > 5 ? QStringLiteral("\n…") : QString())));
    });
    connect(worker, &QThread::finished, worker, &QObject::deleteLater);
    worker->start(QThread::InheritPriority);
}

void MainWindow::finishPackageExport(bool ok, int images, int videos, const QString &path)
{
    finishJob();
    if (!ok) {
        statusBar()->clearMessage();
        Prompts::current().warning(this, packageTitle, QStringLiteral("QuillPackage export failed."));
        return;
    }
    statusBar()->showMessage(QStringLiteral("Exported %1 images, %2 videos → %3").arg(images).arg(videos).arg(path),
                             4000);
}

} // namespace Quillmark
