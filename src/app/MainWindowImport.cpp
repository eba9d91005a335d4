// Import commands: images, datasets and packages. Each waits while another
// background job runs. Files are read on worker threads, each filling a record
// of its own; the GUI thread merges the result into the project when the
// worker has finished.

#include "app/MainWindow.h"

#include "dialogs/Prompts.h"
#include "formats/CocoFileDetection.h"
#include "formats/FormatRegistry.h"
#include "formats/ImageProbe.h"
#include "formats/ui/ImportFormatDialog.h"
#include "formats/ImportFormats.h"
#include "formats/LabelMeHandler.h"
#include "formats/ProgressThrottle.h"
#include "formats/QpkgHandler.h"
#include "formats/UnreadableFileNames.h"
#include "model/MissingMedia.h"
#include "model/ProjectTypeTable.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QStatusBar>
#include <QThread>

#include <exception>
#include <memory>
#include <utility>

namespace Quillmark {

namespace {

const QString lastImportDirKey = QStringLiteral("lastImportDir");
const QString lastImagesDirKey = QStringLiteral("lastImagesDir");
const QString lastQmpkgDirKey = QStringLiteral("lastQmpkgDir");
const QString packageFormat = QStringLiteral("QuillPackage");

QString lastDir(const QString &key)
{
    return QSettings().value(key, QDir::homePath()).toString();
}

// The type's title in the import's result message; an unknown key stands for
// itself.
// The classes an import brings: those it lists and those its annotations use.
int classesBroughtBy(const Dataset &imported)
{
    QSet<QString> names;
    for (auto it = imported.classColors.constBegin(); it != imported.classColors.constEnd(); ++it)
        names.insert(it.key());
    for (const ImageEntry &image : imported.images) {
        for (const Annotation &annotation : image.labels)
            names.insert(annotation.className);
    }
    for (const VideoEntry &video : imported.videos) {
        for (const QList<Annotation> &frame : video.frameLabels) {
            for (const Annotation &annotation : frame)
                names.insert(annotation.className);
        }
    }
    names.remove(QString());
    return int(names.size());
}

// What an import into a project that already held images adds to the message.
QString projectNowHolds(qsizetype before, qsizetype after)
{
    if (before == 0)
        return {};
    return QStringLiteral(" Added to the open project, which now holds %1 images.").arg(after);
}

QString importedTypeTitle(const QString &type)
{
    static const QHash<QString, QString> titles = {
        {QStringLiteral("object_detection"), QStringLiteral("Object Detection")},
        {QStringLiteral("segmentation"), QStringLiteral("Instance Segmentation")},
        {QStringLiteral("semantic_segmentation"), QStringLiteral("Semantic Segmentation")},
        {QStringLiteral("pose"), QStringLiteral("Pose Estimation")},
        {QStringLiteral("face"), QStringLiteral("Face Detection")},
        {QStringLiteral("classification"), QStringLiteral("Classification")},
    };
    return titles.value(type, type);
}

bool isKnownProjectType(const QString &type)
{
    for (const char *key :
         {ProjectTypes::ObjectDetection, ProjectTypes::Segmentation, ProjectTypes::SemanticSegmentation,
          ProjectTypes::Pose, ProjectTypes::Face, ProjectTypes::Classification}) {
        if (type == QLatin1String(key))
            return true;
    }
    return false;
}

// The schema of the face projects' five landmarks: of the class "face", five
// keypoints.
bool isFaceSchema(const KeypointSchema &schema)
{
    return schema.objectClass.compare(QLatin1String("face"), Qt::CaseInsensitive) == 0 &&
           schema.keypointNames.size() == 5;
}

// The file picker of the formats that keep their annotations in one file;
// an empty caption for the formats that read the whole folder.
struct AnnotationFilePicker {
    QString caption;
    QString filter;
};

AnnotationFilePicker annotationFilePicker(const QString &format)
{
    if (format == QLatin1String("COCO") || format == QLatin1String("CreateML"))
        return {QStringLiteral("Select %1 JSON").arg(format), QStringLiteral("JSON (*.json)")};
    if (format == QLatin1String("CVAT XML"))
        return {QStringLiteral("Select CVAT XML"), QStringLiteral("XML (*.xml)")};
    if (format == QLatin1String("Florence-2"))
        return {QStringLiteral("Select Florence-2 JSONL"), QStringLiteral("JSON Lines (*.jsonl)")};
    if (format == QLatin1String("PaliGemma"))
        return {QStringLiteral("Select PaliGemma JSONL"), QStringLiteral("JSON Lines (*.jsonl)")};
    return {};
}

// What a reader on a worker hands to the GUI thread: the dataset it filled,
// whether it read one, and (packages) the stored project type.
struct ReadResult {
    Dataset dataset;
    bool ok = false;
    QString projectType;
    int unreadableNames = 0; // files left out: their names are not valid UTF-8
    QString whyFailed;       // what the reader found wrong, when it read nothing
    MissingMedia missing;    // images the dataset names whose files are not there
};

// Asks which picture a LabelMe import takes when the files carry both; true
// for the external files. Escape keeps the embedded pictures, the default.
bool askForExternalLabelMeImages(QWidget *parent)
{
    QMessageBox box(QMessageBox::Question, QStringLiteral("LabelMe Import \u2014 Image Source"),
                    QStringLiteral("JSON files contain <b>embedded image data</b> AND reference <b>external image "
                                   "files</b>.<br><br>Which source should be used?"),
                    QMessageBox::NoButton, parent);
    box.setTextFormat(Qt::RichText);
    QPushButton *embedded = box.addButton(QStringLiteral("Embedded (from JSON)"), QMessageBox::AcceptRole);
    QPushButton *external = box.addButton(QStringLiteral("External file"), QMessageBox::RejectRole);
    box.setDefaultButton(embedded);
    box.setEscapeButton(embedded);
    return Prompts::current().execMessageBox(box) == external;
}

} // namespace

bool MainWindow::projectIsBlank() const
{
    const Dataset &dataset = project.dataset;
    return project.projectType.isEmpty() && projectPath.isEmpty() && dataset.images.isEmpty() &&
           dataset.videos.isEmpty() && dataset.classColors.isEmpty() && !dataset.keypointSchema.isInUse();
}

void MainWindow::runInBackground(const QString &status, int progressMaximum, const std::function<void()> &work,
                                 const std::function<void()> &then)
{
    startJob();
    beginProgress(progressMaximum);
    statusBar()->showMessage(status);
    // A reader that throws must not take the process, and the user's unsaved
    // work, with it: the step then simply has no result.
    QThread *worker = QThread::create([work] {
        try {
            work();
        } catch (const std::exception &error) {
            qWarning("Import worker failed: %s", error.what());
        } catch (...) {
            qWarning("Import worker failed");
        }
    });
    connect(worker, &QThread::finished, this, [this, then] {
        finishJob();
        then();
    });
    connect(worker, &QThread::finished, worker, &QObject::deleteLater);
    worker->start(QThread::InheritPriority);
}

// ---- images -----------------------------------------------------------------

void MainWindow::onImportImages()
{
    if (!projectIsOpen() || refuseWhileJobRuns())
        return;
    const QStringList paths =
        Prompts::current().getOpenFileNames(this, QStringLiteral("Import Images"), lastDir(lastImagesDirKey),
                                            QStringLiteral("Images (*.jpg *.jpeg *.png *.bmp *.tif *.tiff *.webp)"));
    if (paths.isEmpty())
        return;
    QSettings().setValue(lastImagesDirKey, QFileInfo(paths.constFirst()).absolutePath());

    const int count = int(paths.size());
    auto result = std::make_shared<QList<ImportedImage>>();
    const ProgressCallback progress = throttledProgress(progressPoster(ProgressKind::ImageImport));
    runInBackground(
        QStringLiteral("Importing 0 / %1…").arg(count), count,
        [paths, count, result, progress] {
            result->reserve(count);
            for (int i = 0; i < count; ++i) {
                // The header only; an unreadable file is 0 x 0 (unknown).
                result->append({paths.at(i), probeImageSize(paths.at(i))});
                progress(i + 1, count);
            }
        },
        [this, result] { onImagesImported(*result); });
}

void MainWindow::onImagesImported(const QList<ImportedImage> &images)
{
    QList<ImageEntry> entries;
    entries.reserve(images.size());
    for (const ImportedImage &image : images) {
        ImageEntry entry;
        entry.filePath = image.path;
        entry.width = image.size.width();
        entry.height = image.size.height();
        entries.append(std::move(entry));
    }
    project.dataset.appendAsNew(std::move(entries));
    modified = true;
    refreshUi();
    inferProjectType();
    updateTitle();
    statusBar()->showMessage(QStringLiteral("Added %1 image(s).").arg(images.size()), 3000);
}

// ---- datasets ---------------------------------------------------------------

void MainWindow::onImportDataset()
{
    if (refuseWhileJobRuns())
        return;
    const QString folder = Prompts::current().getExistingDirectory(
        this, QStringLiteral("Select Dataset Directory"), lastDir(lastImportDirKey), QFileDialog::ShowDirsOnly);
    if (folder.isEmpty())
        return;
    QSettings().setValue(lastImportDirKey, folder);

    // Some detection rules walk the whole folder tree.
    auto detected = std::make_shared<QStringList>();
    runInBackground(
        QStringLiteral("Detecting dataset format…"), 0, [folder, detected] { *detected = detectImportFormats(folder); },
        [this, folder, detected] {
            statusBar()->clearMessage();
            chooseImportFormat(folder, *detected);
        });
}

void MainWindow::chooseImportFormat(const QString &folder, const QStringList &detected)
{
    ImportFormatDialog chooser(importCandidates(), detected, themeMode, this);
    if (chooser.exec() != QDialog::Accepted)
        return;
    const QString format = chooser.chosenFormat();
    if (format.isEmpty() || !FormatRegistry::instance().find(format))
        return;
    prepareDatasetImport(folder, format);
}

void MainWindow::prepareDatasetImport(const QString &folder, const QString &format)
{
    if (projectIsBlank()) {
        replaceProject(Project());
        updateTitle();
    }
    const QString type = importProjectType(format);
    if (project.projectType.isEmpty() && !type.isEmpty()) {
        project.projectType = type;
        updateTitle();
        applyDefaultTool();
    }

    QString path = folder;
    const AnnotationFilePicker picker = annotationFilePicker(format);
    if (format == QLatin1String("COCO")) {
        // A dataset split into subset folders, each holding its own COCO
        // file, is read from its root, every subset of it; any other folder
        // asks for its file. The folder's files are looked at off the GUI
        // thread.
        auto subsetsOnly = std::make_shared<bool>(false);
        runInBackground(
            QStringLiteral("Looking for COCO files…"), 0,
            [folder, subsetsOnly] {
                *subsetsOnly = cocoFileInFolder(folder).isEmpty() && !cocoSubsetFiles(folder).isEmpty();
            },
            [this, folder, format, picker, subsetsOnly] {
                statusBar()->clearMessage();
                const QString file = *subsetsOnly ? folder
                                                  : Prompts::current().getOpenFileName(this, picker.caption, folder,
                                                                                       picker.filter);
                if (!file.isEmpty())
                    startDatasetImport(format, file);
            });
        return;
    }
    if (!picker.caption.isEmpty()) {
        path = Prompts::current().getOpenFileName(this, picker.caption, folder, picker.filter);
        if (path.isEmpty())
            return;
    }

    auto *labelMe = dynamic_cast<LabelMeHandler *>(FormatRegistry::instance().find(format));
    if (!labelMe) {
        startDatasetImport(format, path);
        return;
    }
    // The pictures come from the files' embedded data unless the user picks
    // the image files they also name.
    labelMe->useExternalImages = 0;
    auto bothSources = std::make_shared<bool>(false);
    runInBackground(
        QStringLiteral("Checking LabelMe image sources…"), 0,
        [path, bothSources] { *bothSources = labelMeImportHasBothImageSources(path); },
        [this, labelMe, format, path, bothSources] {
            if (*bothSources && askForExternalLabelMeImages(this))
                labelMe->useExternalImages = 1;
            startDatasetImport(format, path);
        });
}

void MainWindow::startDatasetImport(const QString &format, const QString &path)
{
    IFormatHandler *handler = FormatRegistry::instance().find(format);
    if (!handler)
        return;
    auto result = std::make_shared<ReadResult>();
    const ProgressCallback progress = throttledProgress(progressPoster(ProgressKind::DatasetImport));
    runInBackground(
        QStringLiteral("Importing %1 dataset…").arg(format), 0,
        [handler, path, result, progress] {
            const UnreadableFileNames unreadable;
            result->ok = handler->importExplained(path, result->dataset, progress, &result->whyFailed);
            result->unreadableNames = unreadable.count();
            if (result->ok)
                result->missing = findMissingMedia(result->dataset);
        },
        [this, result] {
            finishDatasetImport(result->dataset, result->ok, result->unreadableNames, result->whyFailed);
            if (result->ok)
                warnOfMissingMedia(result->missing);
            result->dataset = Dataset();
        });
}

void MainWindow::finishDatasetImport(Dataset &imported, bool ok, int unreadableNames, const QString &whyFailed)
{
    if (!ok) {
        statusBar()->clearMessage();
        QString text = QStringLiteral("Import failed.");
        if (!whyFailed.isEmpty())
            text += QLatin1Char('\n') + whyFailed;
        Prompts::current().warning(this, QStringLiteral("Error"), text);
        return;
    }
    // Only the images come in, with the keypoint names and skeleton their
    // reader found (a project keeps a schema it has); their classes enter
    // through the annotations.
    imported.classColors.clear();
    const qsizetype importedImages = imported.images.size();
    const int importedClasses = classesBroughtBy(imported);
    const qsizetype imagesBefore = project.dataset.images.size();
    if (!project.dataset.keypointSchema.isInUse() && imported.keypointSchema.isInUse())
        project.dataset.setKeypointSchema(imported.keypointSchema);
    project.dataset.appendAsNew(std::exchange(imported.images, {}));
    project.dataset.syncClassesFromAnnotations();
    modified = true;
    // A face project's own export (five landmarks of the class "face") comes
    // back as a face project; other keypoint sets make a pose project.
    const bool becomesFace = project.projectType.isEmpty() && isFaceSchema(imported.keypointSchema);
    if (becomesFace) {
        project.projectType = QString::fromLatin1(ProjectTypes::Face);
        applyDefaultTool();
    }
    refreshUi(ClassSync::Done);
    inferProjectType();
    updateTitle();
    // Without a type there is nothing to name: the badge asks for one.
    const QString detected = project.projectType.isEmpty()
        ? QStringLiteral("no project type detected; choose one with \"Set Type \u25BE\".")
        : QStringLiteral("detected as %1.").arg(importedTypeTitle(project.projectType));
    QString message = QStringLiteral("Imported %1 images, %2 classes \u2014 %3")
                          .arg(importedImages)
                          .arg(importedClasses)
                          .arg(detected);
    message += projectNowHolds(imagesBefore, project.dataset.images.size());
    if (unreadableNames > 0)
        message += QStringLiteral(" %1 file(s) skipped: their names are not valid UTF-8.").arg(unreadableNames);
    statusBar()->showMessage(message, 5000);
}

void MainWindow::warnOfMissingMedia(const MissingMedia &missing)
{
    // Annotations without their pictures: the export would stop at them.
    if (missing.count == 0)
        return;
    Prompts::current().warning(this, QStringLiteral("Media Not Found"),
                               QStringLiteral("%1 media file(s) could not be found. Their annotations are kept, "
                                              "but their pictures cannot be shown or exported until the files "
                                              "are there:\n%2")
                                   .arg(missing.count)
                                   .arg(missing.listText()));
}

// ---- packages ---------------------------------------------------------------

void MainWindow::onImportQuillPackage()
{
    if (refuseWhileJobRuns())
        return;
    const QString path = Prompts::current().getOpenFileName(
        this, QStringLiteral("Open QuillPackage"), lastDir(lastQmpkgDirKey), QStringLiteral("QuillPackage (*.qmpkg)"));
    if (path.isEmpty())
        return;
    QSettings().setValue(lastQmpkgDirKey, QFileInfo(path).absolutePath());
    IFormatHandler *handler = FormatRegistry::instance().find(packageFormat);
    if (!handler)
        return;

    auto result = std::make_shared<ReadResult>();
    const ProgressCallback progress = throttledProgress(progressPoster(ProgressKind::PackageImport));
    runInBackground(
        QStringLiteral("Opening QuillPackage…"), 0,
        [handler, path, result, progress] {
            result->ok = handler->importDataset(path, result->dataset, progress);
            if (result->ok) {
                result->projectType = QpkgHandler::readProjectType(path);
                result->missing = findMissingMedia(result->dataset);
            }
        },
        [this, result, path] {
            finishPackageImport(result->dataset, result->ok, path, result->projectType);
            if (result->ok)
                warnOfMissingMedia(result->missing);
            result->dataset = Dataset();
        });
}

void MainWindow::finishPackageImport(Dataset &imported, bool ok, const QString &path, const QString &storedType)
{
    if (!ok) {
        statusBar()->clearMessage();
        Prompts::current().warning(this, QStringLiteral("Error"),
                                   QStringLiteral("Failed to open QuillPackage:\n%1").arg(path));
        return;
    }
    // Only a project that holds nothing starts afresh under the package's
    // name; anything else takes the package in beside what it has.
    const bool intoOpenProject = !projectIsBlank();
    const qsizetype packageImages = imported.images.size();
    const int packageClasses = classesBroughtBy(imported);
    if (!intoOpenProject) {
        replaceProject(Project());
        project.name = QFileInfo(path).completeBaseName();
    }
    Dataset &dataset = project.dataset;
    dataset.mergeClassColors(imported.classColors);
    if (!dataset.keypointSchema.isInUse() && imported.keypointSchema.isInUse())
        dataset.setKeypointSchema(imported.keypointSchema);
    dataset.appendAsNew(std::exchange(imported.images, {}));
    dataset.appendAsNew(std::exchange(imported.videos, {}));
    const bool hadType = !project.projectType.isEmpty();
    if (!hadType && isKnownProjectType(storedType))
        project.projectType = storedType;
    dataset.syncClassesFromAnnotations();
    // Opened into an empty window, the project is what the package holds:
    // nothing to save until it is changed.
    modified = intoOpenProject;
    refreshUi(ClassSync::Done);
    if (!hadType) {
        if (project.projectType.isEmpty())
            inferProjectType();
        else
            applyDefaultTool();
    }
    updateTitle();
    if (intoOpenProject) {
        statusBar()->showMessage(QStringLiteral("QuillPackage added to the open project \u2014 %1 images, %2 "
                                                "classes. The project now holds %3 images.")
                                     .arg(packageImages)
                                     .arg(packageClasses)
                                     .arg(dataset.images.size()),
                                 6000);
        return;
    }
    statusBar()->showMessage(QStringLiteral("QuillPackage loaded \u2014 %1 images, %2 classes.")
                                 .arg(packageImages)
                                 .arg(packageClasses),
                             4000);
}

} // namespace Quillmark
