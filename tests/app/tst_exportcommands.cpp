// The export commands of the main window, run as a user runs them: the export
// dialog answered from inside its exec, the job on its worker, the outcome in
// the status bar or a message box. Videos are made on the spot with Debian's
// ffmpeg from frames whose pixels tell their index, so an exported frame file
// shows whether it holds the picture its labels belong to.

#include "AppTestSupport.h"
#include "MainWindowTestAccess.h"
#include "QmTest.h"
#include "ScriptedPrompts.h"
#include "VideoFixtures.h"

#include "FormatTestSupport.h"

#include "chrome/ToolBar.h"
#include "formats/AnnotatedFrameExtractor.h"
#include "formats/CocoHandler.h"
#include "formats/ui/ExportDialog.h"
#include "formats/ProgressThrottle.h"
#include "formats/QpkgHandler.h"
#include "formats/YoloHandler.h"
#include "model/ProjectFile.h"
#include "panels/ImageListPanel.h"

#include <QCheckBox>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QToolButton>

using namespace Quillmark;
using namespace AppTest;

namespace {

// What the user does in the export dialog.
struct DialogChoice {
    QString format;
    QString path;
    bool split = false;
    int train = 70;
    int valid = 20;
    bool shuffle = true;
    bool base64 = false;
    bool copyImages = true;
};

QCheckBox *checkBox(QWidget *dialog, const QString &text)
{
    for (QCheckBox *box : dialog->findChildren<QCheckBox *>()) {
        if (box->text() == text)
            return box;
    }
    return nullptr;
}

void fillExportDialog(QWidget *modal, const DialogChoice &choice)
{
    auto *dialog = qobject_cast<ExportDialog *>(modal);
    if (!dialog)
        return;
    for (QToolButton *card : dialog->findChildren<QToolButton *>(QStringLiteral("exportFormatCard"))) {
        if (card->toolTip() == choice.format)
            card->click();
    }
    dialog->findChild<QLineEdit *>(QStringLiteral("exportPath"))->setText(choice.path);
    checkBox(dialog, QStringLiteral("Split into train / valid / test"))->setChecked(choice.split);
    dialog->findChild<QSpinBox *>(QStringLiteral("exportTrainPct"))->setValue(choice.train);
    dialog->findChild<QSpinBox *>(QStringLiteral("exportValidPct"))->setValue(choice.valid);
    checkBox(dialog, QStringLiteral("Shuffle images before split"))->setChecked(choice.shuffle);
    checkBox(dialog, QStringLiteral("Embed images as base64 (imageData field)"))->setChecked(choice.base64);
    checkBox(dialog, QStringLiteral("Copy image files to output directory"))->setChecked(choice.copyImages);
    dialog->findChild<QPushButton *>(QStringLiteral("exportBtn"))->click();
}

// Starts an export through the dialog; returns once the command has returned
// (the export may still be running).
void startExport(MainWindow &window, const DialogChoice &choice)
{
    onNextModal([choice](QWidget *modal) { fillExportDialog(modal, choice); });
    window.onExportDataset();
}

bool exportThroughWindow(MainWindow &window, const DialogChoice &choice)
{
    startExport(window, choice);
    QElapsedTimer clock;
    clock.start();
    while (window.isJobRunning() && clock.elapsed() < QmTest::patienceMs)
        QTest::qWait(20);
    return !window.isJobRunning();
}

// An image file of one colour, its folder made first.
QString picture(const QDir &dir, const QString &name, int w, int h, const QColor &color)
{
    QDir().mkpath(QFileInfo(dir.filePath(name)).absolutePath());
    return writeImage(dir, name, w, h, color);
}

// A video of `count` frames whose pictures show the codes offset .. offset + count - 1.
QString makeVideo(const QDir &dir, const QString &name, int count, int codeOffset = 0,
                  const QStringList &codec = VideoFixture::mjpegCodec())
{
    const QString framesDir = dir.filePath(name + QStringLiteral(".frames"));
    QDir().mkpath(framesDir);
    for (int i = 0; i < count; ++i) {
        VideoFixture::codedFrame(i + codeOffset, 120, 96)
            .save(QDir(framesDir).filePath(QStringLiteral("f%1.png").arg(i, 5, 10, QLatin1Char('0'))));
    }
    const QString path = dir.filePath(name);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QString log;
    if (!VideoFixture::encode(QDir(framesDir), QStringLiteral("25"), codec, path, &log))
        qWarning("ffmpeg failed: %s", qPrintable(log));
    return path;
}

VideoEntry videoEntry(const QString &path, const QMap<int, QList<Annotation>> &frames)
{
    VideoEntry video;
    video.filePath = path;
    video.width = 120;
    video.height = 96;
    video.frameCount = 30;
    video.fps = 25;
    video.frameLabels = frames;
    return video;
}

// Every file below `root` by file name -> path.
QMap<QString, QString> filesByName(const QString &root)
{
    QMap<QString, QString> files;
    QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files.insert(QFileInfo(path).fileName(), path);
    }
    return files;
}

int codeOfPicture(const QString &path)
{
    const QImage picture(path);
    return picture.isNull() ? -1 : VideoFixture::frameCode(picture);
}

// The read-back image whose file is named `fileName`.
const ImageEntry *readBack(const Dataset &dataset, const QString &fileName)
{
    for (const ImageEntry &image : dataset.images) {
        if (QFileInfo(image.filePath).fileName() == fileName)
            return &image;
    }
    return nullptr;
}

// The label file holds one line of these numbers.
bool sameNumbers(const QString &labelFile, const QList<double> &expected)
{
    const QList<QByteArray> fields = FormatTest::readFile(labelFile).trimmed().split(' ');
    if (fields.size() != expected.size()) {
        qWarning("%s: %s", qPrintable(labelFile), FormatTest::readFile(labelFile).constData());
        return false;
    }
    for (int i = 0; i < fields.size(); ++i) {
        if (std::abs(fields.at(i).toDouble() - expected.at(i)) > 1e-5)
            return false;
    }
    return true;
}

QStringList tempLeftovers(const QString &tempDir)
{
    return QDir(tempDir).entryList({QStringLiteral("qmkexport*")}, QDir::AllEntries | QDir::NoDotAndDotDot);
}

} // namespace

class TestExportCommands : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void buttonsReachTheCommands();
    void formatListPerProjectType_data();
    void formatListPerProjectType();
    void unusableOutputPaths();
    void nonEmptyFolderIsAskedAbout();
    void exportWithVideoToYoloSplitAndCoco();
    void framesStayWhenNoImagesAreCopied();
    void collidingVideoNamesKeepTheirOwnFrames();
    void reorderedVideoFramesMatchTheDecoderThroughAPackage();
    void unreadableFramesAreSkippedAndCounted();
    void packagedVideoIsDecodedFromATemporaryCopy();
    void extractionRunsWithoutANestedEventLoop();
    void imageWithoutPixelsFailsTheExportByName();
    void progressIsThrottledAndEndsFull();
    void throttleKeepsFirstAndLastReports();
    void labelMeEmbedsImagesOnlyWhenAsked();
    void packageExportRoundTrip();
    void packageExportNamesAndRefusals();
    void packageExportTellsOfMissingMedia();
    void filesThatAreNoPicturesAreNamed();

private:
    QTemporaryDir temp;
    QString tempFolder;
    QmTest::ScriptedPrompts *prompts = nullptr;
    std::unique_ptr<QmTest::PromptsOverride> installed;
};

void TestExportCommands::initTestCase()
{
    if (VideoFixture::ffmpeg().isEmpty())
        QSKIP("ffmpeg is not installed");
    // Temporary files of the export go to a folder of this test, where
    // leftovers can be seen.
    tempFolder = temp.filePath(QStringLiteral("tmp"));
    QDir().mkpath(tempFolder);
    qputenv("TMPDIR", tempFolder.toLocal8Bit());
    QCOMPARE(QDir::tempPath(), tempFolder);
}

void TestExportCommands::init()
{
    prompts = new QmTest::ScriptedPrompts;
    installed = std::make_unique<QmTest::PromptsOverride>(prompts);
}

void TestExportCommands::cleanup()
{
    installed.reset();
    delete prompts;
    prompts = nullptr;
}

void TestExportCommands::buttonsReachTheCommands()
{
    MainWindow window;
    MainWindowTestAccess access(window);
    access.project().projectType = QStringLiteral("object_detection");
    access.project().dataset.addImage(imageEntry("/nowhere/a.png", 10, 10));
    access.projectPath() = temp.filePath(QStringLiteral("p.qmk"));
    access.refreshUi();
    access.updateTitle();
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QPushButton *exportDataset = window.toolBarWidget()->button(ToolBar::ExportDataset);
    QPushButton *exportPackage = window.toolBarWidget()->button(ToolBar::ExportPackage);
    QVERIFY(exportDataset->isEnabled());
    QVERIFY(exportPackage->isEnabled());

    bool dialogShown = false;
    onNextModal([&dialogShown](QWidget *modal) {
        dialogShown = qobject_cast<ExportDialog *>(modal) != nullptr;
        qobject_cast<QDialog *>(modal)->reject();
    });
    QTest::mouseClick(exportDataset, Qt::LeftButton);
    QVERIFY(dialogShown);
    QTest::mouseClick(exportPackage, Qt::LeftButton);
    QCOMPARE(prompts->calls.size(), 1);
    QCOMPARE(prompts->calls.at(0).kind, QStringLiteral("save"));
}

void TestExportCommands::formatListPerProjectType_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QStringList>("formats");
    const QStringList all = {"COCO",          "LabelMe",      "CreateML",        "Darknet",
                             "CVAT XML",      "Pascal VOC",   "Florence-2",      "Multiclass",
                             "CLIP",          "PaliGemma",    "RetinaNet",       "YOLOv8",
                             "YOLOv9",        "YOLOv11",      "YOLOv12",         "YOLOv5 PyTorch",
                             "YOLOv5 OBB",    "YOLOv6 MT",    "YOLOv7 PyTorch",  "YOLOv4 PyTorch",
                             "YOLOv4 Scaled", "YOLOv3 Keras", "YOLO TensorFlow", "Roboflow YOLO",
                             "YOLOv8 OBB",    "YOLO"};
    const QStringList pose = {"COCO", "YOLO Pose"};
    QTest::newRow("pose") << "pose" << pose;
    QTest::newRow("face") << "face" << pose;
    QTest::newRow("object_detection") << "object_detection" << all;
    QTest::newRow("segmentation") << "segmentation" << all;
    QTest::newRow("classification") << "classification" << all;
    QTest::newRow("no type") << "" << all;
}

void TestExportCommands::formatListPerProjectType()
{
    QFETCH(QString, type);
    QFETCH(QStringList, formats);
    MainWindow window;
    MainWindowTestAccess access(window);
    access.project().projectType = type;
    access.project().dataset.addImage(imageEntry("/nowhere/a.png", 10, 10));
    access.project().dataset.addImage(imageEntry("/nowhere/b.png", 10, 10));
    // Three annotated frames: the dialog counts the pictures the export writes.
    access.project().dataset.addVideo(
        videoEntry("/nowhere/v.mp4", {{1, {box({1, 1, 2, 2})}}, {5, {box({1, 1, 2, 2})}}, {9, {box({1, 1, 2, 2})}}}));
    QStringList shown;
    QString summary;
    onNextModal([&](QWidget *modal) {
        auto *dialog = qobject_cast<ExportDialog *>(modal);
        QVERIFY(dialog);
        shown = dialog->formatNames();
        for (QLabel *label : dialog->findChildren<QLabel *>(QStringLiteral("mutedLabel"))) {
            if (label->text() != QStringLiteral("·"))
                summary = label->text();
        }
        dialog->reject();
    });
    window.onExportDataset();
    QCOMPARE(shown, formats);
    QCOMPARE(summary, QStringLiteral("5 images  ·  no output path selected"));
    QVERIFY(!window.isJobRunning());
    QVERIFY(prompts->calls.isEmpty());
}

void TestExportCommands::unusableOutputPaths()
{
    MainWindow window;
    MainWindowTestAccess access(window);
    access.project().dataset.addImage(imageEntry("/nowhere/a.png", 10, 10));
    // Accepted without a path (Export itself stays disabled then).
    onNextModal([](QWidget *modal) { qobject_cast<QDialog *>(modal)->accept(); });
    window.onExportDataset();
    QCOMPARE(prompts->calls.size(), 1);
    QCOMPARE(prompts->calls.at(0).kind, QStringLiteral("warning"));
    QCOMPARE(prompts->calls.at(0).title, QStringLiteral("Export"));
    QCOMPARE(prompts->calls.at(0).text, QStringLiteral("No output path selected."));

    // A relative path would write wherever the program was started.
    startExport(window, {QStringLiteral("COCO"), QStringLiteral("exports/out")});
    QCOMPARE(prompts->calls.size(), 2);
    QCOMPARE(prompts->calls.at(1).kind, QStringLiteral("warning"));
    QVERIFY(prompts->calls.at(1).text.contains(QStringLiteral("\"exports/out\"")));
    QVERIFY(!window.isJobRunning());
    QVERIFY(!QFileInfo::exists(QStringLiteral("exports")));
}

void TestExportCommands::nonEmptyFolderIsAskedAbout()
{
    MainWindow window;
    MainWindowTestAccess access(window);
    const QString picture = temp.filePath(QStringLiteral("ask/src/a.png"));
    QVERIFY(FormatTest::writeImage(picture, 20, 10));
    access.project().dataset.addImage(imageEntry(picture, 20, 10, {box({0, 0, 20, 10})}));
    const QString out = temp.filePath(QStringLiteral("ask/out"));
    QVERIFY(FormatTest::writeFile(out + QStringLiteral("/old.txt"), "earlier export"));

    prompts->answers.enqueue(int(QMessageBox::No));
    QVERIFY(exportThroughWindow(window, {QStringLiteral("COCO"), out}));
    QCOMPARE(prompts->calls.size(), 1);
    QCOMPARE(prompts->calls.at(0).kind, QStringLiteral("question"));
    QCOMPARE(prompts->calls.at(0).title, QStringLiteral("Export"));
    QVERIFY(prompts->calls.at(0).text.contains(QDir::toNativeSeparators(out)));
    QCOMPARE(FormatTest::filesBelow(out), QStringList{"old.txt"});

    prompts->answers.enqueue(int(QMessageBox::Yes));
    QVERIFY(exportThroughWindow(window, {QStringLiteral("COCO"), out}));
    QCOMPARE(prompts->calls.size(), 2);
    QCOMPARE(FormatTest::filesBelow(out), (QStringList{"a.png", "annotations.json", "old.txt"}));

    // An empty folder, or one that does not exist yet, is used without a question.
    const QString fresh = temp.filePath(QStringLiteral("ask/fresh"));
    QVERIFY(QDir().mkpath(fresh));
    QVERIFY(exportThroughWindow(window, {QStringLiteral("COCO"), fresh}));
    QVERIFY(exportThroughWindow(window, {QStringLiteral("COCO"), temp.filePath(QStringLiteral("ask/new/deep"))}));
    QCOMPARE(prompts->calls.size(), 2);
    QVERIFY(QFileInfo::exists(temp.filePath(QStringLiteral("ask/new/deep/annotations.json"))));
}

void TestExportCommands::exportWithVideoToYoloSplitAndCoco()
{
    const QDir dir(temp.filePath(QStringLiteral("real")));
    QVERIFY(QDir().mkpath(dir.path()));
    MainWindow window;
    MainWindowTestAccess access(window);
    Project &project = access.project();
    project.projectType = QStringLiteral("object_detection");
    project.dataset.addClass(QStringLiteral("cat"), QColor("#4d8dff"));
    project.dataset.addClass(QStringLiteral("dog"), QColor("#ff5757"));
    // Boxes on the picture's border and a polygon touching two borders.
    const QString a = picture(dir, QStringLiteral("src/street.png"), 64, 48, Qt::darkGreen);
    const QString b = picture(dir, QStringLiteral("src/park.jpg"), 80, 40, Qt::darkBlue);
    const QString c = picture(dir, QStringLiteral("src/empty.png"), 32, 32, Qt::gray);
    project.dataset.addImage(imageEntry(a, 64, 48, {box({0, 0, 64, 48}, "cat"), box({10, 8, 20, 12}, "dog")}));
    project.dataset.addImage(imageEntry(b, 80, 40, {FormatTest::polygon("dog", {{0, 0}, {80, 0}, {40, 20}, {0, 40}})}));
    project.dataset.addImage(imageEntry(c, 32, 32));
    // Frames annotated out of order; each frame's box differs.
    const QString clip = makeVideo(dir, QStringLiteral("media/clip.avi"), 30);
    project.dataset.addVideo(
        videoEntry(clip, {{12, {box({60, 40, 60, 56}, "dog")}}, {3, {box({0, 0, 30, 24}, "cat")}}}));
    access.refreshUi();

    // The bar counts the two frames first, then the job's steps after them.
    QProgressBar *bar = window.progressBarWidget();
    int highest = 0;
    connect(bar, &QProgressBar::valueChanged, this, [&highest, bar](int value) {
        if (value == bar->maximum())
            highest = std::max(highest, value);
    });

    // YOLO with a split, shuffled.
    const QString yoloOut = dir.filePath(QStringLiteral("yolo"));
    QVERIFY(exportThroughWindow(window, {QStringLiteral("YOLO"), yoloOut, true, 60, 20}));
    QCOMPARE(highest, 2 + 5);
    QVERIFY2(prompts->calls.isEmpty(), qPrintable(prompts->calls.value(0).text));
    QCOMPARE(statusText(window), QStringLiteral("Exported 5 images  (train 3 / valid 1 / test 1)  → %1").arg(yoloOut));
    QVERIFY(window.toolBarWidget()->isEnabled());
    QVERIFY(window.imageList()->isEnabled());
    QVERIFY(window.progressBarWidget()->isHidden());

    // The frames went with their own pictures and labels.
    const QMap<QString, QString> yoloFiles = filesByName(yoloOut);
    QCOMPARE(codeOfPicture(yoloFiles.value(QStringLiteral("clip_frame_000003.jpg"))), 3);
    QCOMPARE(codeOfPicture(yoloFiles.value(QStringLiteral("clip_frame_000012.jpg"))), 12);
    // The dataset holds a polygon: every box is written as its four corners.
    QVERIFY(sameNumbers(yoloFiles.value(QStringLiteral("clip_frame_000003.txt")),
                        {0, 0, 0, 0.25, 0, 0.25, 0.25, 0, 0.25}));
    QVERIFY(sameNumbers(yoloFiles.value(QStringLiteral("clip_frame_000012.txt")),
                        {1, 0.5, 40.0 / 96, 1, 40.0 / 96, 1, 1, 0.5, 1}));
    // Nothing of the extraction stays behind, in the output or the temporary folder.
    QVERIFY2(!QFileInfo::exists(yoloOut + QStringLiteral("/images")), "frames left outside the split folders");
    QCOMPARE(tempLeftovers(tempFolder), QStringList());

    // Read as YOLO loaders read it (Debian's python3-yaml), and by our import.
    QByteArray output;
    QVERIFY2(FormatTest::runReaderScript(QStringLiteral("check_yolo.py"), {yoloOut, R"(["cat", "dog"])"}, &output),
             output.constData());
    Dataset yolo;
    QVERIFY(YoloHandler().importDataset(yoloOut, yolo, {}));
    QCOMPARE(yolo.images.size(), 5);
    const ImageEntry *frame12 = readBack(yolo, QStringLiteral("clip_frame_000012.jpg"));
    QVERIFY(frame12);
    QCOMPARE(frame12->labels.size(), 1);
    QCOMPARE(frame12->labels.at(0).className, QStringLiteral("dog"));
    FormatTest::fuzzyCompareRect(frame12->labels.at(0).bbox, QRectF(60, 40, 60, 56), 0.01);
    const ImageEntry *street = readBack(yolo, QStringLiteral("street.png"));
    QVERIFY(street);
    QCOMPARE(street->labels.size(), 2);
    FormatTest::fuzzyCompareRect(street->labels.at(0).bbox, QRectF(0, 0, 64, 48), 0.01);
    const ImageEntry *park = readBack(yolo, QStringLiteral("park.jpg"));
    QVERIFY(park);
    QCOMPARE(park->labels.size(), 1);
    QCOMPARE(park->labels.at(0).kind, int(Polygon));
    QVERIFY(FormatTest::pointsClose(park->labels.at(0).points, {{0, 0}, {80, 0}, {40, 20}, {0, 40}}, 0.01));

    // COCO without a split: one file, the pictures beside it.
    const QString cocoOut = dir.filePath(QStringLiteral("coco"));
    highest = 0;
    QVERIFY(exportThroughWindow(window, {QStringLiteral("COCO"), cocoOut}));
    QVERIFY(prompts->calls.isEmpty());
    QCOMPARE(statusText(window), QStringLiteral("Exported 5 images → %1").arg(cocoOut));
    const QString json = cocoOut + QStringLiteral("/annotations.json");
    QVERIFY2(FormatTest::runReaderScript(QStringLiteral("check_coco.py"), {json, "5", "5"}, &output),
             output.constData());
    QCOMPARE(codeOfPicture(cocoOut + QStringLiteral("/clip_frame_000003.jpg")), 3);
    QCOMPARE(codeOfPicture(cocoOut + QStringLiteral("/clip_frame_000012.jpg")), 12);
    const QJsonObject coco = QJsonDocument::fromJson(FormatTest::readFile(json)).object();
    // The frames follow the images, by ascending index.
    QStringList fileNames;
    for (const QJsonValue &image : coco.value("images").toArray())
        fileNames.append(image.toObject().value("file_name").toString());
    QCOMPARE(fileNames,
             (QStringList{"street.png", "park.jpg", "empty.png", "clip_frame_000003.jpg", "clip_frame_000012.jpg"}));
    // Two frames, then five annotation writes and five image copies.
    QCOMPARE(highest, 2 + 5 + 5);
    Dataset back;
    QVERIFY(CocoHandler().importDataset(json, back, {}));
    QCOMPARE(back.images.size(), 5);
    const ImageEntry *frame3 = readBack(back, QStringLiteral("clip_frame_000003.jpg"));
    QVERIFY(frame3);
    QCOMPARE(QSize(frame3->width, frame3->height), QSize(120, 96));
    QCOMPARE(frame3->labels.size(), 1);
    QCOMPARE(frame3->labels.at(0).className, QStringLiteral("cat"));
    FormatTest::fuzzyCompareRect(frame3->labels.at(0).bbox, QRectF(0, 0, 30, 24), 0.01);
    QCOMPARE(tempLeftovers(tempFolder), QStringList());
    // The project itself is untouched by the export.
    QCOMPARE(project.dataset.images.size(), 3);
    QVERIFY(!access.modified());
}

// Without copies of the pictures the labels name the project's own image
// files; a frame has no file but the one the export writes, which must stay
// with the dataset.
void TestExportCommands::framesStayWhenNoImagesAreCopied()
{
    const QDir dir(temp.filePath(QStringLiteral("nocopy")));
    MainWindow window;
    MainWindowTestAccess access(window);
    Dataset &dataset = access.project().dataset;
    const QString street = picture(dir, QStringLiteral("src/street.png"), 64, 48, Qt::darkGreen);
    dataset.addImage(imageEntry(street, 64, 48, {box({0, 0, 64, 48})}));
    const QString clip = makeVideo(dir, QStringLiteral("media/clip.avi"), 30);
    dataset.addVideo(videoEntry(clip, {{12, {box({60, 40, 60, 56})}}, {3, {box({0, 0, 30, 24})}}}));

    struct Case {
        QString format;
        bool split;
    };
    for (const Case &c : {Case{QStringLiteral("YOLO"), false}, Case{QStringLiteral("Pascal VOC"), true}}) {
        const QString out = dir.filePath(c.format + QStringLiteral("_out"));
        DialogChoice choice{c.format, out, c.split, 100, 0};
        choice.copyImages = false;
        QVERIFY(exportThroughWindow(window, choice));
        QVERIFY2(prompts->calls.isEmpty(), qPrintable(prompts->calls.value(0).text));
        QVERIFY2(statusText(window).startsWith(QStringLiteral("Exported 3 images")), qPrintable(statusText(window)));
        // The project's image is named where it is, not copied.
        QVERIFY(!filesByName(out).contains(QStringLiteral("street.png")));
        QCOMPARE(codeOfPicture(out + QStringLiteral("/images/clip_frame_000003.jpg")), 3);
        QCOMPARE(codeOfPicture(out + QStringLiteral("/images/clip_frame_000012.jpg")), 12);
        QCOMPARE(tempLeftovers(tempFolder), QStringList());
    }
    // A video named without its folder is not read from the working folder,
    // where a file of that name is some other video.
    const QString startFolder = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir.filePath(QStringLiteral("media"))));
    dataset.videos.first().filePath = QStringLiteral("clip.avi");
    const QString bare = dir.filePath(QStringLiteral("bare"));
    const bool exported = exportThroughWindow(window, {QStringLiteral("COCO"), bare});
    QVERIFY(QDir::setCurrent(startFolder));
    QVERIFY(exported);
    QCOMPARE(statusText(window),
             QStringLiteral("Exported 1 images → %1  (2 video frames skipped: clip.avi)").arg(bare));
    QVERIFY(!QFileInfo::exists(bare + QStringLiteral("/clip_frame_000003.jpg")));

    QVERIFY(sameNumbers(dir.filePath(QStringLiteral("YOLO_out/labels/clip_frame_000003.txt")),
                        {0, 0.125, 0.125, 0.25, 0.25}));
    QVERIFY(QFileInfo::exists(dir.filePath(QStringLiteral("Pascal VOC_out/train/clip_frame_000012.xml"))));
}

void TestExportCommands::collidingVideoNamesKeepTheirOwnFrames()
{
    const QDir dir(temp.filePath(QStringLiteral("collide")));
    MainWindow window;
    MainWindowTestAccess access(window);
    Dataset &dataset = access.project().dataset;
    const QString first = makeVideo(dir, QStringLiteral("day1/clip.avi"), 30, 0);
    const QString second = makeVideo(dir, QStringLiteral("day2/Clip.avi"), 30, 100);
    dataset.addVideo(videoEntry(first, {{5, {box({0, 0, 10, 10}, "cat")}}}));
    dataset.addVideo(videoEntry(second, {{5, {box({50, 50, 10, 10}, "dog")}}, {7, {box({1, 1, 5, 5}, "dog")}}}));
    const int secondId = dataset.videos.at(1).id;

    const QString out = dir.filePath(QStringLiteral("out"));
    QVERIFY(exportThroughWindow(window, {QStringLiteral("Pascal VOC"), out, true, 100, 0, false}));
    QVERIFY(prompts->calls.isEmpty());
    const QString secondBase = QStringLiteral("Clip_%1").arg(secondId);
    QCOMPARE(FormatTest::filesBelow(out),
             (QStringList{"train/" + secondBase + "_frame_000005.jpg", "train/" + secondBase + "_frame_000005.xml",
                          "train/" + secondBase + "_frame_000007.jpg", "train/" + secondBase + "_frame_000007.xml",
                          "train/clip_frame_000005.jpg", "train/clip_frame_000005.xml"}));
    QCOMPARE(codeOfPicture(out + QStringLiteral("/train/clip_frame_000005.jpg")), 5);
    QCOMPARE(codeOfPicture(out + "/train/" + secondBase + "_frame_000005.jpg"), 105);
    QCOMPARE(codeOfPicture(out + "/train/" + secondBase + "_frame_000007.jpg"), 107);
    QVERIFY(FormatTest::readFile(out + QStringLiteral("/train/clip_frame_000005.xml")).contains("<name>cat</name>"));
    QVERIFY(FormatTest::readFile(out + "/train/" + secondBase + "_frame_000005.xml").contains("<name>dog</name>"));

    // The names on their own: a later video whose base is taken gets its id.
    QList<VideoEntry> named;
    const QList<QPair<QString, int>> videos = {{"/a/clip.avi", 4},  {"/b/Clip.avi", 9},   {"/x/CLIP.mp4", 2},
                                               {"/y/other.mkv", 3}, {"/z/clip_9.avi", 5}, {"", 6}};
    for (const auto &[path, id] : videos) {
        named.append(videoEntry(path, {}));
        named.last().id = id;
    }
    QCOMPARE(AnnotatedFrameExtractor::uniqueFrameBases(named),
             (QStringList{"clip", "Clip_9", "CLIP_2", "other", "clip_9_5", "video"}));
    QCOMPARE(AnnotatedFrameExtractor::frameFileName("clip", 1234567), QStringLiteral("clip_frame_1234567.jpg"));
}

// Videos whose pictures are stored out of display order (H.264 in MP4, Xvid in
// AVI, both with B-frames) and share a base name: every exported frame is the
// picture FFmpeg's sequential decode gives for its index, under its own name,
// with its box; again after the project went through a package and back.
void TestExportCommands::reorderedVideoFramesMatchTheDecoderThroughAPackage()
{
    const QDir dir(temp.filePath(QStringLiteral("reordered")));
    const QStringList xvid = {"-c:v", "libxvid", "-bf", "2", "-g", "12", "-pix_fmt", "yuv420p"};
    const QString mp4 = makeVideo(dir, QStringLiteral("cam/clip.mp4"), 30, 0, VideoFixture::h264Codec(12));
    const QString avi = makeVideo(dir, QStringLiteral("other/clip.avi"), 30, 100, xvid);
    // Frame 0, 7 and the last one of FFmpeg's own sequential decode, which
    // may hold fewer pictures than the file has chunks (an AVI's packed
    // B-frames leave placeholders that decode to nothing).
    QHash<QString, QHash<int, QImage>> truth;
    QHash<QString, QList<int>> labelled;
    for (const QString &path : {mp4, avi}) {
        VideoFixture::SequentialDecode decode =
            VideoFixture::sequentialDecode(path, QStringLiteral("0:v:0"), QSize(120, 96));
        QVERIFY(decode.ok);
        const QList<int> frames = {0, 7, int(decode.codes.size()) - 1};
        decode = VideoFixture::sequentialDecode(path, QStringLiteral("0:v:0"), QSize(120, 96), frames);
        truth.insert(path, decode.pictures);
        labelled.insert(path, frames);
    }
    QCOMPARE(labelled.value(mp4).last(), 29);
    auto project = [&](Dataset &dataset) {
        for (const QString &path : {mp4, avi}) {
            QMap<int, QList<Annotation>> frames;
            for (int i : labelled.value(path))
                frames.insert(i, {box({double(2 + i), double(3 + i / 2), 40, 30}, path == mp4 ? "cat" : "dog")});
            dataset.addVideo(videoEntry(path, frames));
            dataset.videos.last().frameCount = labelled.value(path).last() + 1;
        }
    };
    auto check = [&](const QString &out, const Dataset &dataset, bool yolo) {
        const QMap<QString, QString> files = filesByName(out);
        QStringList bases;
        for (int v = 0; v < 2; ++v) {
            const VideoEntry &video = dataset.videos.at(v);
            const QString base = v == 0 ? QStringLiteral("clip") : QStringLiteral("clip_%1").arg(video.id);
            const QString source = v == 0 ? mp4 : avi;
            for (int i : labelled.value(source)) {
                const QString name = AnnotatedFrameExtractor::frameFileName(base, i);
                QVERIFY2(files.contains(name), qPrintable(name + " missing in " + out));
                const QImage written(files.value(name));
                const QImage picture = truth.value(source).value(i);
                const double db = VideoFixture::psnr(written, picture);
                QVERIFY2(db > 40, qPrintable(QStringLiteral("%1: %2 dB").arg(name).arg(db)));
                QCOMPARE(codeOfPicture(files.value(name)), VideoFixture::frameCode(picture));
                const QRectF want(2 + i, 3 + i / 2, 40, 30);
                if (yolo) {
                    const QString label = files.value(QFileInfo(name).completeBaseName() + ".txt");
                    QVERIFY(sameNumbers(label, {double(v == 0 ? 0 : 1), (want.center().x()) / 120.0,
                                                want.center().y() / 96.0, 40 / 120.0, 30 / 96.0}));
                }
            }
        }
        if (!yolo) {
            Dataset back;
            QVERIFY(CocoHandler().importDataset(out + QStringLiteral("/annotations.json"), back, {}));
            QCOMPARE(back.images.size(), 6);
            for (const ImageEntry &image : back.images) {
                const int i = QFileInfo(image.filePath).completeBaseName().right(6).toInt();
                QCOMPARE(image.labels.size(), 1);
                FormatTest::fuzzyCompareRect(image.labels.at(0).bbox, QRectF(2 + i, 3 + i / 2, 40, 30), 0.01);
            }
        }
    };
    const QString package = dir.filePath(QStringLiteral("saved/p.qmpkg"));
    {
        MainWindow window;
        MainWindowTestAccess access(window);
        access.project().projectType = QStringLiteral("object_detection");
        project(access.project().dataset);
        access.refreshUi();
        const QString yoloOut = dir.filePath(QStringLiteral("yolo1"));
        QVERIFY(exportThroughWindow(window, {QStringLiteral("YOLOv8"), yoloOut, true, 60, 20}));
        QVERIFY2(prompts->calls.isEmpty(), qPrintable(prompts->calls.value(0).text));
        check(yoloOut, access.project().dataset, true);
        const QString cocoOut = dir.filePath(QStringLiteral("coco1"));
        QVERIFY(exportThroughWindow(window, {QStringLiteral("COCO"), cocoOut}));
        QVERIFY2(prompts->calls.isEmpty(), qPrintable(prompts->calls.value(0).text));
        check(cocoOut, access.project().dataset, false);
        QVERIFY(QDir().mkpath(QFileInfo(package).absolutePath()));
        QVERIFY(window.saveProjectTo(package));
    }
    MainWindow window;
    MainWindowTestAccess access(window);
    QVERIFY(loadProjectFile(access.project(), package));
    access.refreshUi();
    QCOMPARE(access.project().dataset.videos.size(), 2);
    const QString yoloOut = dir.filePath(QStringLiteral("yolo2"));
    QVERIFY(exportThroughWindow(window, {QStringLiteral("YOLOv8"), yoloOut, true, 60, 20}));
    QVERIFY2(prompts->calls.isEmpty(), qPrintable(prompts->calls.value(0).text));
    check(yoloOut, access.project().dataset, true);
    const QString cocoOut = dir.filePath(QStringLiteral("coco2"));
    QVERIFY(exportThroughWindow(window, {QStringLiteral("COCO"), cocoOut}));
    QVERIFY2(prompts->calls.isEmpty(), qPrintable(prompts->calls.value(0).text));
    check(cocoOut, access.project().dataset, false);
}

void TestExportCommands::unreadableFramesAreSkippedAndCounted()
{
    const QDir dir(temp.filePath(QStringLiteral("skip")));
    MainWindow window;
    MainWindowTestAccess access(window);
    Dataset &dataset = access.project().dataset;
    dataset.addImage(imageEntry(picture(dir, QStringLiteral("a.png"), 20, 20, Qt::red), 20, 20));
    // A frame past the video's end, a video that is gone, and one that is no video.
    const QString clip = makeVideo(dir, QStringLiteral("clip.avi"), 30);
    dataset.addVideo(videoEntry(clip, {{3, {box({1, 1, 4, 4})}}, {500, {box({1, 1, 4, 4})}}}));
    dataset.addVideo(
        videoEntry(dir.filePath(QStringLiteral("gone.avi")), {{1, {box({1, 1, 4, 4})}}, {2, {box({1, 1, 4, 4})}}}));
    const QString bad = dir.filePath(QStringLiteral("bad.avi"));
    QVERIFY(FormatTest::writeFile(bad, QByteArray(4096, 'x')));
    dataset.addVideo(videoEntry(bad, {{0, {box({1, 1, 4, 4})}}}));

    const QString out = dir.filePath(QStringLiteral("out"));
    QVERIFY(exportThroughWindow(window, {QStringLiteral("COCO"), out}));
    QVERIFY(prompts->calls.isEmpty());
    QCOMPARE(statusText(window), QStringLiteral("Exported 2 images → %1  (4 video frames skipped: clip.avi, gone.avi, "
                                                "bad.avi)")
                                     .arg(out));
    QCOMPARE(FormatTest::filesBelow(out),
             (QStringList{"a.png", "annotations.json", "clip_frame_000003.jpg"}));
    QCOMPARE(tempLeftovers(tempFolder), QStringList());
}

void TestExportCommands::packagedVideoIsDecodedFromATemporaryCopy()
{
    const QDir dir(temp.filePath(QStringLiteral("packaged")));
    // H.264 as cameras write it, groups of 12 pictures with B-frames between.
    const QString made = makeVideo(dir, QStringLiteral("made/street.mp4"), 30, 40, VideoFixture::h264Codec(12));
    // As read from a package stored away from its media: the bytes in memory, a bare name.
    VideoEntry video = videoEntry(QStringLiteral("street.mp4"),
                                  {{4, {box({5, 5, 10, 10}, "car")}}, {17, {box({1, 1, 10, 10}, "car")}}});
    video.bytes = FormatTest::readFile(made);
    QVERIFY(!video.bytes.isEmpty());
    QVERIFY(QFile::remove(made));

    MainWindow window;
    MainWindowTestAccess access(window);
    access.project().dataset.addVideo(video);
    const QString out = dir.filePath(QStringLiteral("out"));
    QVERIFY(exportThroughWindow(window, {QStringLiteral("COCO"), out}));
    QVERIFY(prompts->calls.isEmpty());
    QCOMPARE(statusText(window), QStringLiteral("Exported 2 images → %1").arg(out));
    QCOMPARE(codeOfPicture(out + QStringLiteral("/street_frame_000004.jpg")), 44);
    QCOMPARE(codeOfPicture(out + QStringLiteral("/street_frame_000017.jpg")), 57);
    QCOMPARE(tempLeftovers(tempFolder), QStringList());
}

void TestExportCommands::extractionRunsWithoutANestedEventLoop()
{
    const QDir dir(temp.filePath(QStringLiteral("busy")));
    MainWindow window;
    MainWindowTestAccess access(window);
    Dataset &dataset = access.project().dataset;
    dataset.addImage(imageEntry(picture(dir, QStringLiteral("a.png"), 20, 20, Qt::red), 20, 20));
    dataset.addVideo(videoEntry(makeVideo(dir, QStringLiteral("clip.avi"), 30),
                                {{2, {box({1, 1, 4, 4})}}, {20, {box({1, 1, 4, 4})}}, {29, {box({1, 1, 4, 4})}}}));
    window.show();

    startExport(window, {QStringLiteral("YOLO"), dir.filePath(QStringLiteral("out")), true});
    // The command has returned while the frames are still being taken: the
    // decoder's answers come through the window's own event loop.
    QVERIFY(window.isJobRunning());
    QVERIFY(!window.toolBarWidget()->isEnabled());
    QVERIFY(!window.imageList()->isEnabled());
    QVERIFY(window.progressBarWidget()->isVisible());
    QCOMPARE(window.progressBarWidget()->maximum(), 1 + 2 * 3);
    QCOMPARE(statusText(window), QStringLiteral("Exporting…"));

    // Meanwhile no second job starts and the window does not close.
    bool dialogOpened = false;
    onNextModal([&dialogOpened](QWidget *modal) {
        dialogOpened = true;
        qobject_cast<QDialog *>(modal)->reject();
    });
    window.onExportDataset();
    QVERIFY(!dialogOpened);
    QCOMPARE(statusText(window), QStringLiteral("Please wait until the current operation has finished."));
    window.onExportQuillPackage();
    QVERIFY(prompts->calls.isEmpty());
    QVERIFY(!window.close());
    QCOMPARE(prompts->calls.size(), 1);
    QCOMPARE(prompts->calls.at(0).title, QStringLiteral("Please Wait"));
    QVERIFY(window.isVisible());

    QTRY_VERIFY_WITH_TIMEOUT(!window.isJobRunning(), QmTest::patienceMs);
    QVERIFY(window.toolBarWidget()->isEnabled());
    QVERIFY(statusText(window).startsWith(QStringLiteral("Exported 4 images  (train 3 / valid 1 / test 0)")));
}

void TestExportCommands::imageWithoutPixelsFailsTheExportByName()
{
    const QDir dir(temp.filePath(QStringLiteral("missing")));
    MainWindow window;
    MainWindowTestAccess access(window);
    Dataset &dataset = access.project().dataset;
    dataset.addImage(
        imageEntry(picture(dir, QStringLiteral("here.png"), 20, 20, Qt::red), 20, 20, {box({1, 1, 5, 5})}));
    dataset.addImage(imageEntry(dir.filePath(QStringLiteral("moved_away.png")), 20, 20, {box({1, 1, 5, 5})}));
    QVERIFY(exportThroughWindow(window, {QStringLiteral("YOLO"), dir.filePath(QStringLiteral("out")), true}));
    QCOMPARE(prompts->calls.size(), 1);
    QCOMPARE(prompts->calls.at(0).kind, QStringLiteral("warning"));
    QCOMPARE(prompts->calls.at(0).title, QStringLiteral("Export"));
    QVERIFY2(prompts->calls.at(0).text.contains(QStringLiteral("moved_away.png")),
             qPrintable(prompts->calls.at(0).text));
    QVERIFY(!statusText(window).startsWith(QStringLiteral("Exported")));
    QVERIFY(!window.isJobRunning());
}

void TestExportCommands::progressIsThrottledAndEndsFull()
{
    MainWindow window;
    MainWindowTestAccess access(window);
    Dataset &dataset = access.project().dataset;
    QImage pixels(4, 4, QImage::Format_RGB32);
    pixels.fill(Qt::blue);
    const int n = 3000;
    for (int i = 0; i < n; ++i) {
        ImageEntry entry = imageEntry(QStringLiteral("img_%1.png").arg(i), 4, 4, {box({0, 0, 2, 2})});
        entry.image = pixels;
        dataset.addImage(entry);
    }
    QProgressBar *bar = window.progressBarWidget();
    int updates = 0;
    int highest = 0;
    int fullAt = -1;
    connect(bar, &QProgressBar::valueChanged, this, [&](int value) {
        ++updates;
        highest = std::max(highest, value);
        if (value > 0 && value == bar->maximum())
            fullAt = value;
    });
    QElapsedTimer clock;
    clock.start();
    QVERIFY(exportThroughWindow(window, {QStringLiteral("YOLO"), temp.filePath(QStringLiteral("many")), true}));
    const qint64 elapsed = clock.elapsed();
    QVERIFY2(prompts->calls.isEmpty(), qPrintable(prompts->calls.value(0).text));
    // A few reports a second, not one per image; and the bar ends full.
    QVERIFY2(updates <= elapsed / 50 + 10, qPrintable(QStringLiteral("%1 updates in %2 ms").arg(updates).arg(elapsed)));
    QCOMPARE(fullAt, n);
    QCOMPARE(highest, n);
    QVERIFY(bar->isHidden());
    QCOMPARE(bar->value(), 0);
}

void TestExportCommands::throttleKeepsFirstAndLastReports()
{
    QList<QPair<int, int>> passed;
    ProgressCallback throttled = throttledProgress(
        [&passed](int current, int total) {
            passed.append({current, total});
        },
        50);
    QElapsedTimer clock;
    clock.start();
    const int total = 200000;
    for (int i = 1; i <= total; ++i)
        throttled(i, total);
    const qint64 elapsed = clock.elapsed();
    QVERIFY(passed.size() >= 2);
    QCOMPARE(passed.first(), qMakePair(1, total));
    QCOMPARE(passed.last(), qMakePair(total, total));
    QVERIFY2(passed.size() <= elapsed / 50 + 2, qPrintable(QString::number(passed.size())));
    // After a pause the next report goes through at once.
    QTest::qSleep(60);
    throttled(7, 9);
    QCOMPARE(passed.last(), qMakePair(7, 9));
    QVERIFY(!throttledProgress({}, 50));
}

void TestExportCommands::labelMeEmbedsImagesOnlyWhenAsked()
{
    const QDir dir(temp.filePath(QStringLiteral("labelme")));
    MainWindow window;
    MainWindowTestAccess access(window);
    access.project().dataset.addImage(
        imageEntry(picture(dir, QStringLiteral("cat.png"), 16, 12, Qt::red), 16, 12, {box({1, 1, 5, 5})}));
    const auto imageData = [](const QString &json) {
        return QJsonDocument::fromJson(FormatTest::readFile(json)).object().value(QStringLiteral("imageData"));
    };
    for (const bool embed : {true, false}) {
        const QString out = dir.filePath(embed ? QStringLiteral("embedded") : QStringLiteral("external"));
        DialogChoice choice{QStringLiteral("LabelMe"), out};
        choice.base64 = embed;
        QVERIFY(exportThroughWindow(window, choice));
        QVERIFY(prompts->calls.isEmpty());
        const QJsonValue data = imageData(out + QStringLiteral("/cat.json"));
        QCOMPARE(data.isString(), embed);
        if (embed)
            QVERIFY(!QImage::fromData(QByteArray::fromBase64(data.toString().toLatin1())).isNull());
        QCOMPARE(QFileInfo::exists(out + QStringLiteral("/cat.png")), !embed);
    }
}

void TestExportCommands::packageExportRoundTrip()
{
    const QDir dir(temp.filePath(QStringLiteral("package")));
    MainWindow window;
    MainWindowTestAccess access(window);
    Project &project = access.project();
    project.name = QStringLiteral("Street/Scenes: day");
    project.projectType = QStringLiteral("pose");
    Dataset &dataset = project.dataset;
    dataset.addClass(QStringLiteral("person"), QColor("#4d8dff"));
    dataset.addClass(QStringLiteral("car"), QColor("#ff5757"));
    dataset.addClass(QStringLiteral("sign"), QColor("#55c772"));
    const QList<Annotation> first = {
        FormatTest::keypoints("person", {10, 5, 40, 60}, {{20, 10}, {30, 40}, {0, 0}}, {2, 1, 0}),
        FormatTest::polygon("car", {{0, 0}, {64, 0}, {64, 30}}),
        box({0, 20, 64, 28}, "car"),
    };
    const QList<Annotation> second = {FormatTest::polyline("sign", {{1, 1}, {10, 12}, {30, 2}}),
                                      FormatTest::point("sign", 7, 8)};
    dataset.addImage(imageEntry(picture(dir, QStringLiteral("a.png"), 64, 48, Qt::red), 64, 48, first));
    dataset.addImage(imageEntry(picture(dir, QStringLiteral("b.jpg"), 40, 30, Qt::blue), 40, 30, second));
    const QString clip = makeVideo(dir, QStringLiteral("clip.avi"), 30);
    dataset.addVideo(videoEntry(clip, {{3, {box({5, 6, 20, 30}, "car")}}}));

    const QString path = dir.filePath(QStringLiteral("saved/out.qmpkg"));
    QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
    prompts->answers.enqueue(path);
    window.onExportQuillPackage();
    QTRY_VERIFY_WITH_TIMEOUT(!window.isJobRunning(), QmTest::patienceMs);
    QCOMPARE(prompts->calls.size(), 1);
    QCOMPARE(prompts->calls.at(0).kind, QStringLiteral("save"));
    QCOMPARE(prompts->calls.at(0).title, QStringLiteral("Export QuillPackage"));
    // The project's name made into a file name.
    QCOMPARE(prompts->calls.at(0).text, QDir::homePath() + QStringLiteral("/Street_Scenes_ day.qmpkg"));
    QCOMPARE(prompts->calls.at(0).extra, QStringLiteral("QuillPackage (*.qmpkg)"));
    QCOMPARE(statusText(window), QStringLiteral("Exported 2 images, 1 videos → %1").arg(path));
    QCOMPARE(QSettings("Lumbra", "Quillmark").value("lastExportDir").toString(), QFileInfo(path).absolutePath());

    Dataset back;
    QVERIFY(QpkgHandler().importDataset(path, back, {}));
    QCOMPARE(QpkgHandler::readProjectType(path), QStringLiteral("pose"));
    QCOMPARE(back.classColors, dataset.classColors);
    QCOMPARE(back.images.size(), 2);
    const QList<QList<Annotation>> expected = {first, second};
    for (int i = 0; i < 2; ++i) {
        const QList<Annotation> &labels = back.images.at(i).labels;
        QCOMPARE(labels.size(), expected.at(i).size());
        for (int k = 0; k < labels.size(); ++k) {
            const Annotation &want = expected.at(i).at(k);
            QCOMPARE(labels.at(k).className, want.className);
            QCOMPARE(labels.at(k).kind, want.kind);
            QVERIFY(FormatTest::pointsClose(labels.at(k).points, want.points));
            QCOMPARE(labels.at(k).keypointVis, want.keypointVis);
            // Boxes of keypoint sets, polygons and polylines travel too (a point's
            // box is its 1 x 1 pixel).
            if (want.kind != Point)
                FormatTest::fuzzyCompareRect(labels.at(k).bbox, want.bbox);
        }
    }
    QCOMPARE(back.videos.size(), 1);
    QCOMPARE(back.videos.at(0).bytes, FormatTest::readFile(clip));
    QCOMPARE(back.videos.at(0).frameLabels.keys(), QList<int>{3});
    FormatTest::fuzzyCompareRect(back.videos.at(0).frameLabels.value(3).value(0).bbox, QRectF(5, 6, 20, 30));
}

// A package is taken for a copy of the project's pictures: media whose file is
// gone since the project was saved are named, and their annotations still go.
void TestExportCommands::packageExportTellsOfMissingMedia()
{
    const QDir dir(temp.filePath(QStringLiteral("missingmedia")));
    MainWindow window;
    MainWindowTestAccess access(window);
    Dataset &dataset = access.project().dataset;
    dataset.addImage(
        imageEntry(picture(dir, QStringLiteral("kept.png"), 16, 12, Qt::red), 16, 12, {box({1, 1, 5, 5})}));
    const QString gone = picture(dir, QStringLiteral("gone.png"), 16, 12, Qt::blue);
    dataset.addImage(imageEntry(gone, 16, 12, {box({2, 2, 6, 6})}));
    QVERIFY(QFile::remove(gone));

    const QString path = dir.filePath(QStringLiteral("out.qmpkg"));
    prompts->answers.enqueue(path);
    window.onExportQuillPackage();
    QTRY_VERIFY_WITH_TIMEOUT(!window.isJobRunning(), QmTest::patienceMs);
    QCOMPARE(prompts->calls.size(), 2);
    QCOMPARE(prompts->calls.last().kind, QStringLiteral("warning"));
    QCOMPARE(prompts->calls.last().title, QStringLiteral("Export QuillPackage"));
    QVERIFY2(prompts->calls.last().text.contains(QDir::toNativeSeparators(gone)),
             qPrintable(prompts->calls.last().text));
    QVERIFY(!prompts->calls.last().text.contains(QStringLiteral("kept.png")));

    Dataset back;
    QVERIFY(QpkgHandler().importDataset(path, back, {}));
    QCOMPARE(back.images.size(), 2);
    QCOMPARE(back.images.at(1).labels.size(), 1);

    // Nothing missing: no warning.
    dataset.images.removeLast();
    prompts->calls.clear();
    prompts->answers.enqueue(path);
    window.onExportQuillPackage();
    QTRY_VERIFY_WITH_TIMEOUT(!window.isJobRunning(), QmTest::patienceMs);
    QCOMPARE(prompts->calls.size(), 1);
}

void TestExportCommands::packageExportNamesAndRefusals()
{
    const QDir dir(temp.filePath(QStringLiteral("refusals")));
    MainWindow window;
    MainWindowTestAccess access(window);
    QSettings store("Lumbra", "Quillmark");
    store.remove("lastExportDir");

    window.onExportQuillPackage();
    QCOMPARE(prompts->calls.size(), 1);
    QCOMPARE(prompts->calls.at(0).kind, QStringLiteral("information"));
    QCOMPARE(prompts->calls.at(0).title, QStringLiteral("Export QuillPackage"));
    QCOMPARE(prompts->calls.at(0).text, QStringLiteral("Nothing to export — project is empty."));

    // Unnamed: "dataset"; a cancelled save dialog leaves the setting alone.
    access.project().dataset.addImage(imageEntry(picture(dir, QStringLiteral("a.png"), 8, 8, Qt::red), 8, 8));
    window.onExportQuillPackage();
    QCOMPARE(prompts->calls.size(), 2);
    QCOMPARE(prompts->calls.at(1).text, QDir::homePath() + QStringLiteral("/dataset.qmpkg"));
    QVERIFY(!store.contains("lastExportDir"));
    QVERIFY(!window.isJobRunning());

    // A package that cannot be written is reported as a failure; what is at
    // the path stays as it was.
    const QString blocked = dir.filePath(QStringLiteral("blocked.qmpkg"));
    QVERIFY(QDir().mkpath(blocked));
    prompts->answers.enqueue(blocked);
    window.onExportQuillPackage();
    QTRY_VERIFY_WITH_TIMEOUT(!window.isJobRunning(), QmTest::patienceMs);
    QCOMPARE(prompts->calls.last().kind, QStringLiteral("warning"));
    QCOMPARE(prompts->calls.last().title, QStringLiteral("Export QuillPackage"));
    QCOMPARE(prompts->calls.last().text, QStringLiteral("QuillPackage export failed."));
    QVERIFY(QFileInfo(blocked).isDir());
    QVERIFY(!statusText(window).startsWith(QStringLiteral("Exported")));

    prompts->answers.enqueue(dir.filePath(QStringLiteral("no/such/folder/p.qmpkg")));
    window.onExportQuillPackage();
    QCOMPARE(prompts->calls.at(prompts->calls.size() - 1).text, dir.path() + QStringLiteral("/dataset.qmpkg"));
    QTRY_VERIFY_WITH_TIMEOUT(!window.isJobRunning(), QmTest::patienceMs);
    QCOMPARE(prompts->calls.last().text, QStringLiteral("QuillPackage export failed."));
}

// A project naming the password file as an image: the export leaves it out and
// says so in a message box, the status bar counts only the picture; the
// package holds its annotations without its bytes and says so the same way.
void TestExportCommands::filesThatAreNoPicturesAreNamed()
{
    const QDir dir(temp.filePath(QStringLiteral("nopictures")));
    MainWindow window;
    MainWindowTestAccess access(window);
    Dataset &dataset = access.project().dataset;
    dataset.addImage(imageEntry(picture(dir, QStringLiteral("a.png"), 16, 12, Qt::red), 16, 12, {box({1, 1, 5, 5})}));
    dataset.addImage(imageEntry(QStringLiteral("/etc/passwd"), 16, 12, {box({2, 2, 6, 6})}));
    access.refreshUi();

    QVERIFY(exportThroughWindow(window, {QStringLiteral("YOLOv8"), dir.filePath(QStringLiteral("out"))}));
    QCOMPARE(prompts->calls.last().kind, QStringLiteral("warning"));
    QCOMPARE(prompts->calls.last().text.section('\n', 1),
             QStringLiteral("1 entry is no picture and was left out: /etc/passwd"));
    QVERIFY2(statusText(window).startsWith(QStringLiteral("Exported 1 images")), qPrintable(statusText(window)));
    QCOMPARE(FormatTest::filesBelow(dir.filePath(QStringLiteral("out/images"))), QStringList{"a.png"});

    prompts->calls.clear();
    prompts->answers.enqueue(dir.filePath(QStringLiteral("p.qmpkg")));
    window.onExportQuillPackage();
    QTRY_VERIFY_WITH_TIMEOUT(!window.isJobRunning(), QmTest::patienceMs);
    QCOMPARE(prompts->calls.size(), 2);
    QCOMPARE(prompts->calls.last().kind, QStringLiteral("warning"));
    QCOMPARE(prompts->calls.last().title, QStringLiteral("Export QuillPackage"));
    QCOMPARE(prompts->calls.last().text, QStringLiteral("1 media file(s) are no picture or video. The package holds "
                                                        "their annotations but not their bytes:\n/etc/passwd"));
}

QM_TEST_MAIN(TestExportCommands)
#include "tst_exportcommands.moc"
