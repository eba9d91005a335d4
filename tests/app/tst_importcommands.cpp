// The import commands of the main window: the dataset import with its format
// detection and chooser, the image import and the package import, each run
// through the window as a user runs it (file dialogs answered by scripted
// prompts, the chooser driven on screen).

#include "AppTestSupport.h"
#include "MainWindowTestAccess.h"
#include "QmTest.h"
#include "ScriptedPrompts.h"

#include "FormatTestSupport.h"

#include "canvas/Tool.h"
#include "chrome/SideToolBar.h"
#include "chrome/Theme.h"
#include "chrome/ToolBar.h"
#include "formats/ui/ExportDialog.h"
#include "formats/ui/ImportFormatDialog.h"
#include "formats/ExportJob.h"
#include "formats/FormatRegistry.h"
#include "formats/QpkgHandler.h"
#include "formats/ImportFormats.h"
#include "formats/ProgressThrottle.h"
#include "model/Dataset.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QListWidget>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTextDocumentFragment>

#include <cstdio>

using namespace Quillmark;
using namespace AppTest;

namespace {

const QString kFixtureScript = QStringLiteral(QM_TESTS_DIR "/app/import_fixtures.py");

bool runFixtureScript(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral(QM_PYTHON), QStringList{kFixtureScript} + arguments);
    if (!process.waitForFinished(QmTest::patienceMs) || process.exitCode() != 0) {
        qWarning("%s", process.readAllStandardError().constData());
        return false;
    }
    return true;
}

void writeText(const QString &path, const QByteArray &text)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(text);
}

void writeJpeg(const QString &path, int w, int h, const QColor &color = QColor(128, 128, 128))
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(color);
    QVERIFY(image.save(path, "JPG", 95));
}

// An Ultralytics YOLO dataset: data.yaml with the names as an index map,
// images/ and labels/ split into train and val, and a background image
// without a label file.
void writeYoloFolder(const QString &root)
{
    writeText(root + "/data.yaml",
              "path: .\ntrain: images/train\nval: images/val\n\nnames:\n  0: person\n  1: bicycle\n");
    writeJpeg(root + "/images/train/street_01.jpg", 64, 48);
    writeText(root + "/labels/train/street_01.txt", "0 0.5 0.5 0.25 0.5\n1 0.25 0.25 0.125 0.125\n");
    writeJpeg(root + "/images/train/empty_road.jpg", 64, 48);
    writeJpeg(root + "/images/val/street_02.jpg", 64, 48);
    writeText(root + "/labels/val/street_02.txt", "1 0.5 0.5 0.5 0.5\n");
}

// A COCO dataset in the release layout (annotations/instances_val2017.json
// beside the image folder val2017/), written by Python's json module.
QString writeCocoFolder(const QString &root)
{
    writeJpeg(root + "/val2017/000000000139.jpg", 64, 48);
    writeJpeg(root + "/val2017/000000000285.jpg", 50, 40);
    if (!runFixtureScript({"coco", root}))
        return {};
    return root + "/annotations/instances_val2017.json";
}

// Runs `step` on the format chooser once it is open (it opens after the
// detection worker has finished). Gives up after a while.
void whenChooserOpens(const std::function<void(ImportFormatDialog *)> &step)
{
    auto *timer = new QTimer;
    auto *deadline = new QElapsedTimer;
    deadline->start();
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, deadline, step] {
        auto *chooser = qobject_cast<ImportFormatDialog *>(QApplication::activeModalWidget());
        if (!chooser && deadline->elapsed() < QmTest::patienceMs)
            return;
        timer->stop();
        timer->deleteLater();
        delete deadline;
        if (chooser)
            step(chooser);
    });
    timer->start();
}

int rowOf(QListWidget *list, const QString &format)
{
    for (int i = 0; i < list->count(); ++i) {
        if (list->item(i)->data(Qt::UserRole).toString() == format)
            return i;
    }
    return -1;
}

// Imports `folder` through the window as `format`, with `answers` queued for
// the dialogs after the folder dialog. Returns the current row the chooser
// opened with (empty when it never opened).
QString importDataset(MainWindow &window, QmTest::ScriptedPrompts &prompts, const QString &folder,
                      const QString &format, const QVariantList &answers = {})
{
    prompts.answers.enqueue(folder);
    for (const QVariant &answer : answers)
        prompts.answers.enqueue(answer);
    QString preselected;
    bool handled = false;
    whenChooserOpens([&](ImportFormatDialog *chooser) {
        preselected = chooser->chosenFormat();
        chooser->formatList()->setCurrentRow(rowOf(chooser->formatList(), format));
        chooser->accept();
        handled = true;
    });
    window.onImportDataset();
    if (!QTest::qWaitFor([&] { return handled && !window.isJobRunning(); }, QmTest::patienceMs))
        qWarning("the dataset import did not finish");
    return preselected;
}

// Imports `folder` through the window in the format the chooser offers
// first. Returns that format (empty when the chooser never opened).
QString importAsPreselected(MainWindow &window, QmTest::ScriptedPrompts &prompts, const QString &folder)
{
    prompts.answers.enqueue(folder);
    QString preselected;
    bool handled = false;
    whenChooserOpens([&](ImportFormatDialog *chooser) {
        preselected = chooser->chosenFormat();
        chooser->accept();
        handled = true;
    });
    window.onImportDataset();
    if (!QTest::qWaitFor([&] { return handled && !window.isJobRunning(); }, QmTest::patienceMs))
        qWarning("the dataset import did not finish");
    return preselected;
}

bool importPackage(MainWindow &window, QmTest::ScriptedPrompts &prompts, const QString &path)
{
    prompts.answers.enqueue(path);
    window.onImportQuillPackage();
    return QTest::qWaitFor([&] { return !window.isJobRunning(); }, QmTest::patienceMs);
}

bool hasCall(const QmTest::ScriptedPrompts &prompts, const QString &kind, const QString &title,
             const QString &text = QString())
{
    for (const QmTest::PromptCall &call : prompts.calls) {
        if (call.kind == kind && call.title == title && (text.isNull() || call.text == text))
            return true;
    }
    return false;
}

int colorDistance(const QColor &a, const QColor &b)
{
    return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) + std::abs(a.blue() - b.blue());
}

// Whether the canvas shows an edge of `box` (image pixels) in `color`: a
// pixel near the middle of its bottom edge is of that colour.
bool canvasDrawsBoxEdge(LabelCanvas *canvas, const QRectF &box, const QColor &color)
{
    const QImage shot = canvas->grab().toImage();
    const QPoint mid = canvas->toScreen(QPointF(box.center().x(), box.bottom())).toPoint();
    for (int dy = -2; dy <= 2; ++dy) {
        for (int dx = -2; dx <= 2; ++dx) {
            const QPoint p = mid + QPoint(dx, dy);
            if (shot.rect().contains(p) && colorDistance(shot.pixelColor(p), color) < 60)
                return true;
        }
    }
    return false;
}

QList<QRectF> boxesOf(const QList<Annotation> &labels)
{
    QList<QRectF> boxes;
    for (const Annotation &a : labels)
        boxes.append(a.bbox);
    return boxes;
}

} // namespace

class TestImportCommands : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void chooserRows_data();
    void chooserRows();
    void chooserMarksDetectedRowsUnderTheStyleSheet();
    void mostSpecificFormatFirst_data();
    void mostSpecificFormatFirst();
    void detectionRunsOffTheGuiThread();
    void progressReportsAreThrottled();
    void formatGivesTypeToolAndPicker_data();
    void formatGivesTypeToolAndPicker();
    void resetRule_data();
    void resetRule();
    void labelMeImageSource_data();
    void labelMeImageSource();
    void mergeContinuesIdsAndKeepsColours();
    void imageImportProbesSizes();
    void videoDuplicateCheck();
    void packageIntoFreshProject();
    void packageIntoTypedProject();
    void failedPackageChangesNothing_data();
    void failedPackageChangesNothing();
    void endToEndCocoThenYolo();
    void unnameableFilesAreReported();
    void imagesTheDatasetLacksAreReported();
    void failedImportSaysWhy_data();
    void failedImportSaysWhy();
    void ownYoloFamilyExportsComeBack_data();
    void ownYoloFamilyExportsComeBack();

private:
    QmTest::ScriptedPrompts prompts;
};

void TestImportCommands::init()
{
    prompts.calls.clear();
    prompts.answers.clear();
    Prompts::setOverride(&prompts);
    QSettings().clear();
}

void TestImportCommands::cleanup()
{
    Prompts::setOverride(nullptr);
}

void TestImportCommands::chooserRows_data()
{
    QTest::addColumn<QStringList>("detected");
    QTest::addColumn<QString>("message");
    QTest::newRow("none") << QStringList() << QStringLiteral("Format could not be auto-detected.");
    QTest::newRow("one") << QStringList{"Pascal VOC"} << QStringLiteral("Auto-detected: Pascal VOC");
    QTest::newRow("two") << QStringList{"YOLO Pose", "YOLO"}
                         << QStringLiteral("2 formats detected (shown at top): YOLO Pose, YOLO");
}

void TestImportCommands::chooserRows()
{
    QFETCH(QStringList, detected);
    QFETCH(QString, message);

    const QStringList candidates = importCandidates();
    QCOMPARE(candidates.size(), 27);
    QVERIFY(!candidates.contains(QStringLiteral("QuillPackage")));
    QCOMPARE(candidates.constFirst(), QStringLiteral("YOLO"));

    QWidget styled;
    styled.setStyleSheet(buildAppStyleSheet(Theme::Light));
    ImportFormatDialog chooser(candidates, detected, Theme::Light, &styled);
    QCOMPARE(chooser.windowTitle(), QStringLiteral("Import Dataset \u2014 Select Format"));
    QVERIFY(chooser.minimumWidth() >= 440);
    QVERIFY2(QTextDocumentFragment::fromHtml(chooser.messageLabel()->text()).toPlainText().startsWith(message),
             qPrintable(chooser.messageLabel()->text()));

    QListWidget *list = chooser.formatList();
    const int separators = detected.isEmpty() ? 0 : 1;
    QCOMPARE(list->count(), 27 + separators);
    for (int i = 0; i < int(detected.size()); ++i) {
        QListWidgetItem *row = list->item(i);
        QCOMPARE(row->text(), QStringLiteral("\u2713  ") + detected.at(i));
        QCOMPARE(row->data(Qt::UserRole).toString(), detected.at(i));
        QCOMPARE(row->font().weight(), QFont::Bold);
        QCOMPARE(row->foreground().color(), QColor(0x1a, 0x7f, 0x37));
    }
    if (separators) {
        QListWidgetItem *separator = list->item(int(detected.size()));
        QCOMPARE(separator->text(), QString(25, QChar(0x2500)));
        QCOMPARE(separator->flags(), Qt::NoItemFlags);
    }
    QStringList plain;
    for (int i = int(detected.size()) + separators; i < list->count(); ++i) {
        QListWidgetItem *row = list->item(i);
        QCOMPARE(row->text(), QStringLiteral("    ") + row->data(Qt::UserRole).toString());
        QVERIFY(row->font().weight() != QFont::Bold);
        plain.append(row->data(Qt::UserRole).toString());
    }
    QStringList others = candidates;
    for (const QString &name : detected)
        others.removeAll(name);
    QCOMPARE(plain, others);
    for (int i = 0; i < list->count(); ++i) {
        if (list->item(i)->flags() != Qt::NoItemFlags)
            QVERIFY2(!list->item(i)->icon().isNull(), qPrintable(list->item(i)->text()));
    }

    QCOMPARE(list->currentRow(), 0);
    QCOMPARE(chooser.chosenFormat(), detected.isEmpty() ? candidates.constFirst() : detected.constFirst());

    // The separator is never chosen: not by a double click, not as the current row.
    QSignalSpy accepted(&chooser, &QDialog::accepted);
    if (separators) {
        const int row = int(detected.size());
        emit list->itemDoubleClicked(list->item(row));
        QCOMPARE(accepted.count(), 0);
        list->setCurrentRow(row);
        QCOMPARE(chooser.chosenFormat(), QString());
    }
    list->setCurrentRow(list->count() - 1);
    emit list->itemDoubleClicked(list->item(list->count() - 1));
    QCOMPARE(accepted.count(), 1);
    QCOMPARE(chooser.chosenFormat(), others.constLast());
}

void TestImportCommands::chooserMarksDetectedRowsUnderTheStyleSheet()
{
    // The application's sheet gives list rows one text colour; the marked
    // rows must still read green, in both themes, and the plain rows not.
    for (const Theme::Mode mode : {Theme::Light, Theme::Dark}) {
        QWidget styled;
        styled.setStyleSheet(buildAppStyleSheet(mode));
        ImportFormatDialog chooser(importCandidates(), {QStringLiteral("COCO")}, mode, &styled);
        chooser.resize(480, 600);
        chooser.show();
        QVERIFY(QTest::qWaitForWindowExposed(&chooser));
        QListWidget *list = chooser.formatList();
        list->setCurrentRow(5); // the marked row is not drawn as selected
        const QImage shot = list->viewport()->grab().toImage();
        auto greenPixels = [&](int row) {
            const QRect rect = list->visualItemRect(list->item(row)) & shot.rect();
            int count = 0;
            for (int y = rect.top(); y <= rect.bottom(); ++y) {
                for (int x = rect.left() + 30; x <= rect.right(); ++x) {
                    const QColor c = shot.pixelColor(x, y);
                    if (c.green() > c.red() + 40 && c.green() > c.blue() + 30)
                        ++count;
                }
            }
            return count;
        };
        QVERIFY2(greenPixels(0) > 20, mode == Theme::Dark ? "dark" : "light");
        QCOMPARE(greenPixels(2), 0);
        if (mode != Theme::Dark)
            continue;
        // Light enough to read on the dark panels, and every row dark (the
        // platform's alternate row colour would be light).
        QVERIFY(list->item(0)->foreground().color().lightness() > 100);
        for (int row = 2; row <= 4; ++row) {
            const QRect rect = list->visualItemRect(list->item(row));
            QVERIFY2(shot.pixelColor(rect.right() - 4, rect.center().y()).lightness() < 90,
                     qPrintable(QString::number(row)));
        }
    }
}

void TestImportCommands::mostSpecificFormatFirst_data()
{
    QTest::addColumn<QStringList>("detected");
    QTest::addColumn<bool>("obbDeclared");
    QTest::addColumn<QStringList>("ordered");
    QTest::newRow("pose folder") << QStringList{"YOLO", "YOLOv6 MT", "YOLO Pose"} << false
                                 << QStringList{"YOLO Pose", "YOLO", "YOLOv6 MT"};
    QTest::newRow("obb folder") << QStringList{"YOLO", "YOLOv4 Scaled", "YOLOv5 OBB"} << false
                                << QStringList{"YOLOv5 OBB", "YOLO", "YOLOv4 Scaled"};
    QTest::newRow("v8 obb folder") << QStringList{"YOLO", "YOLOv4 Scaled", "YOLOv8 OBB"} << true
                                   << QStringList{"YOLOv8 OBB", "YOLO", "YOLOv4 Scaled"};
    // Lines of four corners that no data.yaml or folder name calls oriented
    // boxes: the YOLO reader keeps them as exactly, and the rest of the set.
    QTest::newRow("four-corner lines") << QStringList{"YOLO", "YOLOv4 Scaled", "YOLOv8 OBB"} << false
                                       << QStringList{"YOLO", "YOLOv4 Scaled", "YOLOv8 OBB"};
    QTest::newRow("darknet folder") << QStringList{"YOLO", "Darknet"} << false << QStringList{"Darknet", "YOLO"};
    // The multi-task rule claims every Ultralytics folder; its reader keeps
    // boxes only, so plain YOLO stays first.
    QTest::newRow("ultralytics folder") << QStringList{"YOLO", "YOLOv6 MT"} << false
                                        << QStringList{"YOLO", "YOLOv6 MT"};
    QTest::newRow("list order kept") << QStringList{"YOLO", "Roboflow YOLO", "YOLOv8", "YOLOv12"} << false
                                     << QStringList{"YOLO", "Roboflow YOLO", "YOLOv8", "YOLOv12"};
    QTest::newRow("keras pair") << QStringList{"YOLOv3 Keras", "YOLOv4 PyTorch"} << false
                                << QStringList{"YOLOv3 Keras", "YOLOv4 PyTorch"};
}

void TestImportCommands::mostSpecificFormatFirst()
{
    QFETCH(QStringList, detected);
    QFETCH(bool, obbDeclared);
    QFETCH(QStringList, ordered);
    QCOMPARE(orderBySpecificity(detected, obbDeclared), ordered);
}

void TestImportCommands::detectionRunsOffTheGuiThread()
{
    MainWindow window;
    MainWindowTestAccess access(window);
    const QString folder = QStringLiteral(QM_TESTS_DIR "/formats/fixtures/detect/yolo-pose");
    prompts.answers.enqueue(folder);
    QString preselected;
    QStringList marked;
    whenChooserOpens([&](ImportFormatDialog *chooser) {
        preselected = chooser->chosenFormat();
        for (int i = 0; i < chooser->formatList()->count(); ++i) {
            if (chooser->formatList()->item(i)->text().startsWith(QChar(0x2713)))
                marked.append(chooser->formatList()->item(i)->data(Qt::UserRole).toString());
        }
        chooser->reject();
    });
    window.onImportDataset();
    // Back from the command at once: the folder is read on a worker while the
    // window shows the busy state.
    QVERIFY(window.isJobRunning());
    QVERIFY(!window.toolBarWidget()->isEnabled());
    QVERIFY(window.progressBarWidget()->isVisibleTo(&window));
    QVERIFY(access.busyTimer() && access.busyTimer()->isActive());
    QCOMPARE(QSettings().value("lastImportDir").toString(), folder);

    QTRY_VERIFY_WITH_TIMEOUT(!preselected.isEmpty() && !window.isJobRunning(), QmTest::patienceMs);
    QCOMPARE(preselected, QStringLiteral("YOLO Pose"));
    QCOMPARE(marked.constFirst(), QStringLiteral("YOLO Pose"));
    QVERIFY(marked.contains(QStringLiteral("YOLO")));
    // Cancelled: nothing changed, the window is usable again.
    QVERIFY(window.toolBarWidget()->isEnabled());
    QVERIFY(!access.busyTimer()->isActive());
    QVERIFY(access.project().dataset.images.isEmpty());
    QVERIFY(access.project().projectType.isEmpty());
}

void TestImportCommands::progressReportsAreThrottled()
{
    // A reader of 100,000 files reports 100,000 times; the GUI thread gets the
    // first, the last and a few between.
    QList<QPair<int, int>> reports;
    const ProgressCallback progress = throttledProgress(
        [&](int current, int total) {
            reports.append({current, total});
        },
        40);
    for (int i = 1; i <= 100000; ++i)
        progress(i, 100000);
    QVERIFY2(reports.size() < 50, qPrintable(QString::number(reports.size())));
    QCOMPARE(reports.constFirst(), qMakePair(1, 100000));
    QCOMPARE(reports.constLast(), qMakePair(100000, 100000));

    // Slow reports all pass.
    reports.clear();
    const ProgressCallback slow = throttledProgress(
        [&](int current, int total) {
            reports.append({current, total});
        },
        5);
    for (int i = 1; i <= 3; ++i) {
        slow(i, 4);
        QTest::qSleep(10);
    }
    QCOMPARE(reports.size(), 3);
    QVERIFY(!throttledProgress({}));
}

void TestImportCommands::formatGivesTypeToolAndPicker_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("type");
    QTest::addColumn<int>("tool");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("filter");

    const int box = int(Tool::BBox);
    // A classification project is labelled from the class list: it starts in Select.
    const int classification = int(Tool::Select);
    const QString detection = QStringLiteral("object_detection");
    const QString json = QStringLiteral("JSON (*.json)");
    const QString jsonl = QStringLiteral("JSON Lines (*.jsonl)");
    // Formats that carry no type leave it to the annotations (here: none).
    QTest::newRow("YOLO") << "YOLO"
                          << "" << -1 << ""
                          << "";
    QTest::newRow("YOLO Pose") << "YOLO Pose"
                               << "" << -1 << ""
                               << "";
    QTest::newRow("YOLOv8") << "YOLOv8"
                            << "" << -1 << ""
                            << "";
    QTest::newRow("LabelMe") << "LabelMe"
                             << "" << -1 << ""
                             << "";
    QTest::newRow("COCO") << "COCO"
                          << "" << -1 << "Select COCO JSON" << json;
    QTest::newRow("CVAT XML") << "CVAT XML"
                              << "" << -1 << "Select CVAT XML"
                              << "XML (*.xml)";
    QTest::newRow("CreateML") << "CreateML" << detection << box << "Select CreateML JSON" << json;
    QTest::newRow("Florence-2") << "Florence-2" << detection << box << "Select Florence-2 JSONL" << jsonl;
    QTest::newRow("PaliGemma") << "PaliGemma" << detection << box << "Select PaliGemma JSONL" << jsonl;
    QTest::newRow("Multiclass") << "Multiclass"
                                << "classification" << classification << ""
                                << "";
    QTest::newRow("CLIP") << "CLIP"
                          << "classification" << classification << ""
                          << "";
    for (const char *name : {"YOLOv5 OBB", "YOLOv8 OBB", "Pascal VOC", "Darknet", "RetinaNet", "YOLOv3 Keras",
                             "YOLO TensorFlow", "YOLOv4 PyTorch", "YOLOv4 Scaled", "YOLOv5 PyTorch", "YOLOv6 MT",
                             "YOLOv7 PyTorch", "YOLOv9", "YOLOv11", "YOLOv12", "Roboflow YOLO"})
        QTest::newRow(name) << name << detection << box << ""
                            << "";
}

void TestImportCommands::formatGivesTypeToolAndPicker()
{
    QFETCH(QString, format);
    QFETCH(QString, type);
    QFETCH(int, tool);
    QFETCH(QString, caption);
    QFETCH(QString, filter);

    QTemporaryDir dir;
    MainWindow window;
    MainWindowTestAccess access(window);
    // Every picker is cancelled; every other import finds nothing to read.
    importDataset(window, prompts, dir.path(), format);
    QVERIFY(!window.isJobRunning());

    // The type is set before the annotation file is asked for and stays when
    // the picker is cancelled or the import fails.
    QCOMPARE(access.project().projectType, type);
    if (tool >= 0) {
        QCOMPARE(window.sideToolBarWidget()->tool(), tool);
        QCOMPARE(window.labelCanvas()->currentTool(), tool);
    }
    if (caption.isEmpty()) {
        for (const QmTest::PromptCall &call : prompts.calls)
            QVERIFY2(call.kind != QLatin1String("open"), qPrintable(call.title));
    } else {
        QVERIFY(hasCall(prompts, "open", caption, dir.path()));
        QCOMPARE(prompts.calls.last().extra, filter);
        // A cancelled picker ends the command without a message.
        QVERIFY(!hasCall(prompts, "warning", "Error"));
    }
    QVERIFY(access.project().dataset.images.isEmpty());
}

void TestImportCommands::resetRule_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("state");
    QTest::addColumn<bool>("reset");
    for (const char *command : {"dataset", "package"}) {
        QTest::addRow("%s: blank", command) << command << "blank" << true;
        QTest::addRow("%s: typed", command) << command << "typed" << false;
        QTest::addRow("%s: saved", command) << command << "saved" << false;
        QTest::addRow("%s: images", command) << command << "images" << false;
        QTest::addRow("%s: video", command) << command << "video" << false;
        QTest::addRow("%s: classes", command) << command << "classes" << false;
    }
}

void TestImportCommands::resetRule()
{
    QFETCH(QString, command);
    QFETCH(QString, state);
    QFETCH(bool, reset);

    QTemporaryDir dir;
    const QString package = dir.filePath("holiday.qmpkg");
    QVERIFY(runFixtureScript({"package", package}));

    MainWindow window;
    MainWindowTestAccess access(window);
    Project &project = access.project();
    project.name = QStringLiteral("Mine");
    project.dataset.nextImageId = 7;
    if (state == "typed") {
        project.projectType = QStringLiteral("object_detection");
    } else if (state == "saved") {
        access.projectPath() = dir.filePath("mine.qmk");
    } else if (state == "images") {
        project.dataset.addImage(imageEntry(writeImage(QDir(dir.path()), "own.png", 20, 20, Qt::gray), 20, 20));
    } else if (state == "video") {
        VideoEntry video;
        video.filePath = dir.filePath("own.mp4");
        video.frameCount = 10;
        project.dataset.addVideo(video);
    } else if (state == "classes") {
        project.dataset.addClass(QStringLiteral("own"), QColor(Qt::darkCyan));
    }
    access.modified() = true;
    access.refreshUi();
    const int ownImages = int(project.dataset.images.size());

    if (command == "dataset") {
        // Stopped at the annotation-file picker, after the reset.
        importDataset(window, prompts, dir.path(), QStringLiteral("COCO"));
        QCOMPARE(project.name, reset ? QString() : QStringLiteral("Mine"));
        QCOMPARE(access.modified(), !reset);
        QCOMPARE(project.dataset.nextImageId, reset ? 0 : 7 + ownImages);
        return;
    }
    QVERIFY(importPackage(window, prompts, package));
    QCOMPARE(project.name, reset ? QStringLiteral("holiday") : QStringLiteral("Mine"));
    // Opened afresh, the project is what the package holds: nothing to save.
    QCOMPARE(access.modified(), !reset);
    // What the project held stays; the package's images come after it.
    QCOMPARE(project.dataset.images.size(), ownImages + 2);
    QCOMPARE(project.dataset.images.last().id, reset ? 1 : 8 + ownImages);
    if (state == "video")
        QCOMPARE(project.dataset.videos.constFirst().filePath, dir.filePath("own.mp4"));
    if (state == "classes")
        QCOMPARE(project.dataset.classColors.value("own"), QColor(Qt::darkCyan));
    if (state == "saved")
        QCOMPARE(access.projectPath(), dir.filePath("mine.qmk"));
}

void TestImportCommands::labelMeImageSource_data()
{
    QTest::addColumn<QString>("fixture");
    QTest::addColumn<bool>("asked");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QColor>("pixels");
    const QColor embedded(220, 20, 20);
    const QColor external(20, 20, 220);
    // The picture lies past the first 512 bytes, as the labelling tool
    // writes it. The handler's choice is process-wide: the row after the
    // external choice shows it is reset for every import.
    QTest::newRow("both, external chosen") << "both" << true << "External file" << external;
    QTest::newRow("both, embedded chosen") << "both" << true << "Embedded (from JSON)" << embedded;
    QTest::newRow("both, escape") << "both" << true << "" << embedded;
    QTest::newRow("image data null") << "nulldata" << false << "" << external;
    QTest::newRow("named file missing") << "missing" << false << "" << embedded;
}

void TestImportCommands::labelMeImageSource()
{
    QFETCH(QString, fixture);
    QFETCH(bool, asked);
    QFETCH(QString, answer);
    QFETCH(QColor, pixels);

    QTemporaryDir dir;
    QVERIFY(runFixtureScript({"labelme", dir.path(), fixture}));
    MainWindow window;
    MainWindowTestAccess access(window);
    importDataset(window, prompts, dir.path(), QStringLiteral("LabelMe"),
                  answer.isEmpty() ? QVariantList{} : QVariantList{answer});

    QCOMPARE(hasCall(prompts, "messageBox", QStringLiteral("LabelMe Import \u2014 Image Source")), asked);
    QCOMPARE(access.project().dataset.images.size(), 1);
    const ImageEntry &image = access.project().dataset.images.constFirst();
    QCOMPARE(image.labels.size(), 6);
    const QImage loaded = image.loadPixels();
    QVERIFY(!loaded.isNull());
    QVERIFY2(colorDistance(loaded.pixelColor(5, 5), pixels) < 30, qPrintable(loaded.pixelColor(5, 5).name()));
}

void TestImportCommands::mergeContinuesIdsAndKeepsColours()
{
    // Straight on the record: ids continue whatever ids the entries carry,
    // and sizes below 0 are stored as unknown.
    Dataset direct;
    direct.addImage(imageEntry("own.png", 10, 10));
    direct.addImage([] {
        ImageEntry e = imageEntry("own2.png", 10, 10);
        e.id = 6;
        return e;
    }());
    QList<ImageEntry> incoming = {imageEntry("a.png", -1, -1), imageEntry("b.png", 5, 4)};
    incoming[0].id = 3;
    incoming[1].id = 40;
    direct.appendAsNew(incoming);
    QCOMPARE(direct.images.at(2).id, 7);
    QCOMPARE(direct.images.at(3).id, 8);
    QCOMPARE(direct.images.at(2).width, 0);
    QCOMPARE(direct.images.at(2).height, 0);
    QCOMPARE(direct.images.at(3).width, 5);
    QCOMPARE(direct.nextImageId, 9);
    direct.mergeClassColors({{"cat", QColor(Qt::red)}, {"owl", QColor(Qt::green)}});
    direct.addClass("cat", Qt::blue);
    QCOMPARE(direct.classColors.value("cat"), QColor(Qt::red));

    // Through the command: a YOLO folder into a project with images and two
    // classes of its own.
    QTemporaryDir dir;
    writeText(dir.filePath("data.yaml"), "names: [zebra, cat, ant]\n");
    writeJpeg(dir.filePath("images/train/one.jpg"), 40, 40);
    writeJpeg(dir.filePath("images/train/two.jpg"), 40, 40);
    // First seen: ant, zebra, cat.
    writeText(dir.filePath("labels/train/one.txt"), "2 0.5 0.5 0.2 0.2\n0 0.5 0.5 0.4 0.4\n1 0.3 0.3 0.2 0.2\n");
    writeText(dir.filePath("labels/train/two.txt"), "0 0.5 0.5 0.2 0.2\n");

    MainWindow window;
    MainWindowTestAccess access(window);
    Dataset &dataset = access.project().dataset;
    access.project().projectType = QStringLiteral("object_detection");
    dataset.addImage(imageEntry(writeImage(QDir(dir.path()), "own.png", 20, 20, Qt::gray), 20, 20));
    ImageEntry later = imageEntry(dir.filePath("own.png"), 20, 20);
    later.id = 6;
    dataset.addImage(later);
    dataset.addClass(QStringLiteral("cat"), QColor(0x12, 0x34, 0x56));
    dataset.addClass(QStringLiteral("dog"), QColor());
    access.refreshUi();

    importDataset(window, prompts, dir.path(), QStringLiteral("YOLO"));
    QCOMPARE(dataset.images.size(), 4);
    QCOMPARE(dataset.images.at(2).id, 7);
    QCOMPARE(dataset.images.at(3).id, 8);
    QCOMPARE(QFileInfo(dataset.images.at(2).filePath).fileName(), QStringLiteral("one.jpg"));
    QCOMPARE(dataset.classColors.value("cat"), QColor(0x12, 0x34, 0x56));
    QCOMPARE(dataset.classColors.value("ant"), classPalette[2]);
    QCOMPARE(dataset.classColors.value("zebra"), classPalette[3]);
    QCOMPARE(dataset.classColors.size(), 4);
    QVERIFY(access.modified());
    // The counts are the import's; the message says where it went.
    QCOMPARE(statusText(window), QStringLiteral("Imported 2 images, 3 classes \u2014 detected as Object Detection. "
                                                "Added to the open project, which now holds 4 images."));
}

void TestImportCommands::imageImportProbesSizes()
{
    QTemporaryDir dir;
    const QString png = writeImage(QDir(dir.path()), "a.png", 40, 30, Qt::gray);
    const QString jpg = dir.filePath("b.jpg");
    writeJpeg(jpg, 50, 20);
    const QString broken = dir.filePath("c.png");
    writeText(broken, "this is no picture");

    MainWindow window;
    MainWindowTestAccess access(window);
    access.project().projectType = QStringLiteral("object_detection");
    access.project().dataset.addImage(imageEntry(png, 40, 30));
    access.refreshUi();
    prompts.answers.enqueue(QStringList{png, jpg, broken});
    window.onImportImages();
    QVERIFY(window.isJobRunning());
    QCOMPARE(window.progressBarWidget()->maximum(), 3);
    QTRY_VERIFY_WITH_TIMEOUT(!window.isJobRunning(), QmTest::patienceMs);

    const QList<ImageEntry> &images = access.project().dataset.images;
    // Picked again, added again.
    QCOMPARE(images.size(), 4);
    QCOMPARE(images.at(1).filePath, png);
    QCOMPARE(QSize(images.at(1).width, images.at(1).height), QSize(40, 30));
    QCOMPARE(QSize(images.at(2).width, images.at(2).height), QSize(50, 20));
    QCOMPARE(QSize(images.at(3).width, images.at(3).height), QSize(0, 0));
    QCOMPARE(images.at(3).id, 3);
    QCOMPARE(statusText(window), QStringLiteral("Added 3 image(s)."));
    QVERIFY(access.modified());
    QCOMPARE(QSettings().value("lastImagesDir").toString(), QDir(dir.path()).absolutePath());
    QVERIFY(window.toolBarWidget()->isEnabled());
    QVERIFY(!window.progressBarWidget()->isVisibleTo(&window));

    // A cancelled dialog changes nothing.
    window.onImportImages();
    QVERIFY(!window.isJobRunning());
    QCOMPARE(images.size(), 4);
}

void TestImportCommands::videoDuplicateCheck()
{
    QTemporaryDir dir;
    const QString clip = dir.filePath("clip.mp4");
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"),
                 {"-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi", "-i", "testsrc=size=64x48:rate=10",
                  "-frames:v", "5", "-pix_fmt", "yuv420p", clip});
    QVERIFY(ffmpeg.waitForFinished(QmTest::patienceMs) && ffmpeg.exitCode() == 0);
    const QString otherCase = dir.filePath("Clip.mp4");
    QVERIFY(QFile::copy(clip, otherCase));

    MainWindow window;
    MainWindowTestAccess access(window);
    access.project().projectType = QStringLiteral("object_detection");
    access.refreshUi();
    const auto importVideo = [&](const QString &path) {
        prompts.answers.enqueue(path);
        window.onImportVideo();
        return QTest::qWaitFor([&] { return !window.isJobRunning(); }, QmTest::patienceMs);
    };
    QVERIFY(importVideo(clip));
    QCOMPARE(access.project().dataset.videos.size(), 1);

    // The same path again: refused, nothing changes.
    access.modified() = false;
    QVERIFY(importVideo(clip));
    QCOMPARE(statusText(window), QStringLiteral("Video already imported."));
    QCOMPARE(access.project().dataset.videos.size(), 1);
    QVERIFY(!access.modified());

    // A path that differs in letter case is another file.
    QVERIFY(importVideo(otherCase));
    QCOMPARE(access.project().dataset.videos.size(), 2);
    QCOMPARE(access.project().dataset.videos.at(1).filePath, otherCase);
}

void TestImportCommands::packageIntoFreshProject()
{
    QTemporaryDir dir;
    const QString package = dir.filePath("holiday.qmpkg");
    QVERIFY(runFixtureScript({"package", package}));

    MainWindow window;
    MainWindowTestAccess access(window);
    QVERIFY(importPackage(window, prompts, package));
    const Project &project = access.project();
    QCOMPARE(project.name, QStringLiteral("holiday"));
    QCOMPARE(project.projectType, QStringLiteral("pose"));
    QCOMPARE(window.sideToolBarWidget()->tool(), int(Tool::Keypoint));
    QCOMPARE(project.dataset.keypointSchema.keypointNames, QStringList({"nose", "left_eye", "right_eye"}));
    // The whole class list with its colours, the class no annotation uses too.
    const QMap<QString, QColor> classes = {
        {"dog", QColor("#ff0000")}, {"person", QColor("#12ab34")}, {"zebra", QColor("#abcdef")}};
    QCOMPARE(project.dataset.classColors, classes);

    QCOMPARE(project.dataset.images.size(), 2);
    const ImageEntry &first = project.dataset.images.at(0);
    QCOMPARE(first.id, 0);
    QCOMPARE(project.dataset.images.at(1).id, 1);
    QCOMPARE(first.labels.size(), 2);
    QCOMPARE(first.labels.at(0).className, QStringLiteral("dog"));
    QCOMPARE(first.labels.at(0).bbox, QRectF(1, 2, 10, 10));
    QCOMPARE(first.labels.at(1).kind, int(AnnotationKind::Keypoint));
    QCOMPARE(first.labels.at(1).keypointVis, QList<int>({2, 1, 0}));
    QVERIFY(colorDistance(first.loadPixels().pixelColor(3, 3), QColor(220, 20, 20)) < 10);

    QCOMPARE(project.dataset.videos.size(), 1);
    QCOMPARE(project.dataset.videos.constFirst().id, 0);
    QCOMPARE(project.dataset.videos.constFirst().frameLabels.value(4).size(), 1);
    QVERIFY(!access.modified());
    QCOMPARE(QSettings().value("lastQmpkgDir").toString(), QDir(dir.path()).absolutePath());
    QCOMPARE(statusText(window), QStringLiteral("QuillPackage loaded \u2014 2 images, 3 classes."));
}

void TestImportCommands::packageIntoTypedProject()
{
    QTemporaryDir dir;
    const QString package = dir.filePath("holiday.qmpkg");
    QVERIFY(runFixtureScript({"package", package}));

    MainWindow window;
    MainWindowTestAccess access(window);
    Project &project = access.project();
    project.name = QStringLiteral("Mine");
    project.projectType = QStringLiteral("object_detection");
    access.projectPath() = dir.filePath("mine.qmk");
    for (const char *name : {"own1.png", "own2.png"})
        project.dataset.addImage(imageEntry(writeImage(QDir(dir.path()), name, 20, 20, Qt::gray), 20, 20));
    project.dataset.addClass(QStringLiteral("dog"), QColor(Qt::blue));
    project.dataset.setKeypointSchema({QStringLiteral("hand"), {"wrist", "thumb"}, {{0, 1}}});
    access.refreshUi();

    QVERIFY(importPackage(window, prompts, package));
    QVERIFY(importPackage(window, prompts, package));

    QCOMPARE(project.name, QStringLiteral("Mine"));
    QCOMPARE(project.projectType, QStringLiteral("object_detection"));
    QCOMPARE(project.dataset.keypointSchema.objectClass, QStringLiteral("hand"));
    QCOMPARE(project.dataset.images.size(), 6);
    for (int i = 0; i < 6; ++i)
        QCOMPARE(project.dataset.images.at(i).id, i);
    QCOMPARE(QFileInfo(project.dataset.images.at(0).filePath).fileName(), QStringLiteral("own1.png"));
    QCOMPARE(project.dataset.images.at(2).labels.size(), 2);
    QCOMPARE(project.dataset.videos.size(), 2);
    QCOMPARE(project.dataset.videos.at(1).id, 1);
    // The project's own colour stays; the package's other classes bring theirs.
    QCOMPARE(project.dataset.classColors.value("dog"), QColor(Qt::blue));
    QCOMPARE(project.dataset.classColors.value("person"), QColor("#12ab34"));
    QCOMPARE(project.dataset.classColors.value("zebra"), QColor("#abcdef"));
    QVERIFY(project.dataset.classColors.contains("hand"));
    // The second package of two: what it brought, and that it joined the project.
    QCOMPARE(statusText(window), QStringLiteral("QuillPackage added to the open project \u2014 2 images, 3 classes. "
                                                "The project now holds 6 images."));
}

void TestImportCommands::failedPackageChangesNothing_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("not a package") << "text";
    QTest::newRow("damaged package") << "damaged";
    QTest::newRow("missing file") << "missing";
}

void TestImportCommands::failedPackageChangesNothing()
{
    QFETCH(QString, kind);
    QTemporaryDir dir;
    const QString path = dir.filePath("broken.qmpkg");
    if (kind == "text") {
        writeText(path, "SQLite format 3 is what this file pretends to be, but it is text.");
    } else if (kind == "damaged") {
        QVERIFY(runFixtureScript({"package", path}));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.resize(4096 + 100));
        file.seek(4096);
        file.write(QByteArray(100, '\xff'));
    }

    // A project that holds nothing yet: a failed open must not even reset it.
    MainWindow window;
    MainWindowTestAccess access(window);
    access.project().name = QStringLiteral("Unsaved");
    access.project().dataset.nextImageId = 7;
    access.modified() = true;
    QVERIFY(importPackage(window, prompts, path));

    QVERIFY(hasCall(prompts, "warning", "Error", QStringLiteral("Failed to open QuillPackage:\n%1").arg(path)));
    QCOMPARE(access.project().name, QStringLiteral("Unsaved"));
    QCOMPARE(access.project().dataset.nextImageId, 7);
    QVERIFY(access.project().dataset.images.isEmpty());
    QVERIFY(access.project().dataset.classColors.isEmpty());
    QVERIFY(access.modified());
    QVERIFY(window.toolBarWidget()->isEnabled());
    QVERIFY(!window.progressBarWidget()->isVisibleTo(&window));
}

// A VOCdevkit whose annotation names a picture that is not in JPEGImages: the
// annotations come in, and the user learns which picture is missing before an
// export stops at it.
void TestImportCommands::imagesTheDatasetLacksAreReported()
{
    QTemporaryDir dir;
    const QString voc = dir.filePath("VOCdevkit/VOC2012");
    for (const char *name : {"2008_000001", "2008_000002"}) {
        writeText(voc + "/Annotations/" + name + ".xml",
                  QByteArray("<annotation><folder>VOC2012</folder><filename>") + name +
                      ".jpg</filename><size><width>64</width><height>48</height><depth>3</depth></size>"
                      "<object><name>cat</name><bndbox><xmin>1</xmin><ymin>2</ymin><xmax>30</xmax><ymax>40</ymax>"
                      "</bndbox></object></annotation>\n");
    }
    writeJpeg(voc + "/JPEGImages/2008_000001.jpg", 64, 48);
    writeText(voc + "/ImageSets/Main/train.txt", "2008_000001\n2008_000002\n");

    MainWindow window;
    MainWindowTestAccess access(window);
    importDataset(window, prompts, dir.filePath("VOCdevkit"), QStringLiteral("Pascal VOC"));
    QCOMPARE(access.project().dataset.images.size(), 2);
    QCOMPARE(access.project().dataset.images.at(1).labels.size(), 1);
    const QmTest::PromptCall told = prompts.calls.constLast();
    QCOMPARE(told.kind, QStringLiteral("warning"));
    QCOMPARE(told.title, QStringLiteral("Media Not Found"));
    QVERIFY2(told.text.startsWith(QStringLiteral("1 media file(s)")), qPrintable(told.text));
    QVERIFY2(told.text.contains(QStringLiteral("2008_000002.jpg")), qPrintable(told.text));
    QVERIFY(!told.text.contains(QStringLiteral("2008_000001.jpg")));

    // A package written while a picture was gone carries no bytes for it.
    Project packed;
    packed.dataset.addImage(access.project().dataset.images.at(1));
    const QString package = dir.filePath("partial.qmpkg");
    QVERIFY(QpkgHandler::exportProject(package, packed, {}));
    prompts.calls.clear();
    QVERIFY(importPackage(window, prompts, package));
    QCOMPARE(access.project().dataset.images.size(), 3);
    QCOMPARE(prompts.calls.constLast().title, QStringLiteral("Media Not Found"));
    QVERIFY(prompts.calls.constLast().text.contains(QStringLiteral("2008_000002.jpg")));
}

void TestImportCommands::endToEndCocoThenYolo()
{
    QTemporaryDir dir;
    const QString cocoRoot = dir.filePath("coco");
    const QString cocoJson = writeCocoFolder(cocoRoot);
    const QString yoloRoot = dir.filePath("yolo");
    writeYoloFolder(yoloRoot);

    MainWindow window;
    window.resize(1440, 860);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    MainWindowTestAccess access(window);
    LabelCanvas *canvas = window.labelCanvas();
    const Dataset &dataset = access.project().dataset;

    importDataset(window, prompts, cocoRoot, QStringLiteral("COCO"), {cocoJson});
    QVERIFY(hasCall(prompts, "open", "Select COCO JSON", cocoRoot));
    QCOMPARE(dataset.images.size(), 2);
    QCOMPARE(access.project().projectType, QStringLiteral("object_detection"));
    QCOMPARE(statusText(window), QStringLiteral("Imported 2 images, 2 classes \u2014 detected as Object Detection."));

    // The first image is on the canvas with its two boxes, drawn in their
    // classes' colours.
    const QList<QRectF> cocoBoxes = {QRectF(10, 8, 20, 16), QRectF(40, 5, 10, 30)};
    QTRY_COMPARE_WITH_TIMEOUT(canvas->displayedEntryId(), dataset.images.constFirst().id, QmTest::patienceMs);
    QCOMPARE(boxesOf(canvas->annotations()), cocoBoxes);
    QTRY_VERIFY_WITH_TIMEOUT(canvasDrawsBoxEdge(canvas, cocoBoxes[0], dataset.classColors.value("dog")),
                             QmTest::patienceMs);
    QVERIFY(canvasDrawsBoxEdge(canvas, cocoBoxes[1], dataset.classColors.value("person")));
    QVERIFY(!canvasDrawsBoxEdge(canvas, cocoBoxes[0].translated(0, 8), dataset.classColors.value("dog")));

    // The YOLO folder joins the project after the COCO images.
    importDataset(window, prompts, yoloRoot, QStringLiteral("YOLO"));
    // Three YOLO images, the background image among them, after the COCO ones.
    QCOMPARE(dataset.images.size(), 5);
    QCOMPARE(dataset.images.at(2).id, 2);
    int street = -1;
    int background = -1;
    for (const ImageEntry &image : dataset.images) {
        if (QFileInfo(image.filePath).fileName() == QLatin1String("street_01.jpg"))
            street = image.id;
        if (QFileInfo(image.filePath).fileName() == QLatin1String("empty_road.jpg"))
            background = image.id;
    }
    QVERIFY(background >= 2);
    QVERIFY(dataset.imageById(background)->labels.isEmpty());
    QVERIFY(street >= 2);
    QVERIFY(dataset.classColors.contains("bicycle"));
    QCOMPARE(canvas->displayedEntryId(), dataset.images.constFirst().id);

    window.onImageSelected(street);
    const QList<QRectF> yoloBoxes = {QRectF(24, 12, 16, 24), QRectF(12, 9, 8, 6)};
    QTRY_COMPARE_WITH_TIMEOUT(canvas->displayedEntryId(), street, QmTest::patienceMs);
    QCOMPARE(boxesOf(canvas->annotations()), yoloBoxes);
    QTRY_VERIFY_WITH_TIMEOUT(canvasDrawsBoxEdge(canvas, yoloBoxes[0], dataset.classColors.value("person")),
                             QmTest::patienceMs);
}

// A label file whose name is not valid UTF-8 cannot be opened through Qt; the
// import reads the rest and says how many it left out.
void TestImportCommands::unnameableFilesAreReported()
{
    QTemporaryDir dir;
    writeYoloFolder(dir.path());
    const QByteArray unnameable = QFile::encodeName(dir.filePath("labels/train")) + "/caf\xe9.txt";
    FILE *file = std::fopen(unnameable.constData(), "wb");
    QVERIFY(file);
    std::fputs("0 0.5 0.5 0.2 0.2\n", file);
    std::fclose(file);

    MainWindow window;
    MainWindowTestAccess access(window);
    importDataset(window, prompts, dir.path(), QStringLiteral("YOLO"));
    QCOMPARE(access.project().dataset.images.size(), 3);
    QCOMPARE(statusText(window), QStringLiteral("Imported 3 images, 2 classes \u2014 detected as Object Detection. "
                                                "1 file(s) skipped: their names are not valid UTF-8."));
    QCOMPARE(std::remove(unnameable.constData()), 0);   // Qt cannot remove what it cannot name
}

// A dataset that cannot be read: the warning keeps "Import failed." as its
// first line and names the file and what is wrong with it after it.
void TestImportCommands::failedImportSaysWhy_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("file"); // written in the dataset folder ("" writes nothing)
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("picked"); // the format asks for the file itself
    QTest::addColumn<QString>("reason"); // after the file's path and ": "

    QTest::newRow("COCO cut short") << "COCO" << "_annotations.coco.json"
                                    << QByteArray(R"({"images":[{"id":1,"file_name":"a.jpg"}],"annot)") << true
                                    << "the file is not valid JSON (damaged or cut short).";
    QTest::newRow("CVAT element never closed")
        << "CVAT XML" << "annotations.xml"
        << QByteArray("<annotations>\n<image id=\"0\" name=\"a.jpg\" width=\"4\" height=\"4\">\n<box label=\"c\"\n")
        << true << "damaged XML at line";
    QTest::newRow("RetinaNet quote never closed")
        << "RetinaNet" << "_annotations.csv" << QByteArray("a.jpg,1,2,30,40,cat\n\"b.jpg,1,2,30,40,dog\n") << false
        << "line 2: a quoted field is not closed before the end of the file (damaged CSV).";
}

void TestImportCommands::failedImportSaysWhy()
{
    QFETCH(QString, format);
    QFETCH(QString, file);
    QFETCH(QByteArray, content);
    QFETCH(bool, picked);
    QFETCH(QString, reason);

    QTemporaryDir dir;
    const QString folder = dir.filePath("dataset");
    const QString path = QDir(folder).filePath(file);
    writeText(path, content);

    MainWindow window;
    MainWindowTestAccess access(window);
    importDataset(window, prompts, folder, format, picked ? QVariantList{path} : QVariantList{});

    QString text;
    for (const QmTest::PromptCall &call : std::as_const(prompts.calls)) {
        if (call.kind == QLatin1String("warning") && call.title == QLatin1String("Error"))
            text = call.text;
    }
    const QString expected = QStringLiteral("Import failed.\n") + QDir::toNativeSeparators(path) + QStringLiteral(": ");
    QVERIFY2(text.startsWith(expected + reason), qPrintable(text));
    QVERIFY(access.project().dataset.images.isEmpty());
}

namespace {

// What a format of the YOLO family can hold of a project's annotations.
enum class Holds { Outlines, OrientedBoxes, Boxes, Keypoints };

// A project of boxes and polygons at whole pixels (DOTA's lines hold whole
// pixels), pictures of odd sizes, one without annotations, a class named
// with a space. The first line of the first file is a pentagon's: eleven
// fields, as long as a keypoint line. With `quadrilateralsOnly`, only the
// boxes and the four-point polygons: every YOLO line then holds nine fields,
// as an oriented box's does.
Dataset shapesProject(const QString &folder, bool quadrilateralsOnly)
{
    using namespace FormatTest;
    Dataset dataset;
    const QString a = folder + "/a.png";
    const QString b = folder + "/b.jpg";
    const QString c = folder + "/c.png";
    const QString d = folder + "/d.png";
    writeImage(a, 61, 47);
    writeImage(b, 64, 48);
    writeImage(c, 50, 40);
    writeImage(d, 33, 29);
    dataset.addImage(image(a, 61, 47,
                           {polygon("dog", {{20, 10}, {35, 8}, {45, 20}, {30, 35}, {15, 25}}),
                            box("cat", 3, 4, 20, 11),
                            polygon("traffic light", {{40, 5}, {52, 8}, {49, 18}, {37, 15}})}));
    dataset.addImage(image(b, 64, 48, {box("cat", 10, 8, 20, 12), box("traffic light", 40, 5, 7, 20)}));
    dataset.addImage(image(c, 50, 40,
                           {polygon("dog", {{5, 5}, {25, 5}, {15, 30}}),
                            polygon("dog", {{30, 2}, {48, 2}, {48, 30}, {40, 38}, {30, 30}, {28, 12}})}));
    dataset.addImage(image(d, 33, 29));
    if (quadrilateralsOnly) {
        for (ImageEntry &entry : dataset.images)
            entry.labels.removeIf([](const Annotation &l) { return l.kind == Polygon && l.points.size() != 4; });
    }
    return dataset;
}

Dataset poseProject(const QString &folder)
{
    using namespace FormatTest;
    Dataset dataset;
    dataset.keypointSchema.objectClass = "person";
    dataset.keypointSchema.keypointNames = {"nose", "left_eye", "right_eye"};
    const QString a = folder + "/walk.png";
    const QString b = folder + "/empty.png";
    writeImage(a, 81, 63);
    writeImage(b, 40, 30);
    dataset.addImage(image(a, 81, 63,
                           {keypoints("person", {2, 3, 40, 50}, {{10, 12}, {30, 40}, {0, 0}}, {2, 1, 0}),
                            keypoints("person", {45, 5, 30, 50}, {{60, 10}, {70, 30}, {50, 40}}, {2, 2, 2})}));
    dataset.addImage(image(b, 40, 30));
    return dataset;
}

// The four corners an oriented-box format writes, or none.
QList<QPointF> orientedCorners(const Annotation &a)
{
    if (a.kind == Polygon && a.points.size() == 4)
        return a.points;
    if ((a.kind == Polygon && a.points.size() > 4) || a.kind == BoundingBox) {
        const QRectF r = a.kind == BoundingBox ? a.bbox : FormatTest::boundsOf(a.points);
        return {r.topLeft(), r.topRight(), r.bottomRight(), r.bottomLeft()};
    }
    return {};
}

// The annotations a format gives back of `labels`.
QList<Annotation> heldBy(Holds holds, const QList<Annotation> &labels)
{
    QList<Annotation> held;
    for (const Annotation &a : labels) {
        switch (holds) {
        case Holds::Outlines:
        case Holds::Keypoints:
            held.append(a);
            break;
        case Holds::Boxes:
            held.append(FormatTest::box(a.className, a.bbox.x(), a.bbox.y(), a.bbox.width(), a.bbox.height()));
            break;
        case Holds::OrientedBoxes: {
            const QList<QPointF> corners = orientedCorners(a);
            if (!corners.isEmpty())
                held.append(FormatTest::polygon(a.className, corners));
            break;
        }
        }
    }
    return held;
}

} // namespace

void TestImportCommands::ownYoloFamilyExportsComeBack_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<int>("holds");
    QTest::addColumn<bool>("split");
    QTest::addColumn<bool>("quadrilateralsOnly");
    for (const char *name : {"YOLO", "YOLOv4 Scaled"}) {
        QTest::addRow("%s whole, four corners only", name) << QString::fromLatin1(name) << int(Holds::Outlines)
                                                           << false << true;
        QTest::addRow("%s split, four corners only", name) << QString::fromLatin1(name) << int(Holds::Outlines)
                                                           << true << true;
    }
    const QList<QPair<const char *, Holds>> formats = {
        {"YOLO", Holds::Outlines},          {"YOLOv4 Scaled", Holds::Outlines},
        {"Roboflow YOLO", Holds::Outlines}, {"YOLOv5 PyTorch", Holds::Outlines},
        {"YOLOv7 PyTorch", Holds::Outlines}, {"YOLOv8", Holds::Outlines},
        {"YOLOv9", Holds::Outlines},        {"YOLOv11", Holds::Outlines},
        {"YOLOv12", Holds::Outlines},       {"YOLOv5 OBB", Holds::OrientedBoxes},
        {"YOLOv8 OBB", Holds::OrientedBoxes}, {"YOLOv6 MT", Holds::Boxes},
        {"Darknet", Holds::Boxes},          {"YOLOv3 Keras", Holds::Boxes},
        {"YOLOv4 PyTorch", Holds::Boxes},   {"YOLO TensorFlow", Holds::Boxes},
        {"YOLO Pose", Holds::Keypoints},
    };
    for (const auto &[name, holds] : formats) {
        QTest::addRow("%s whole", name) << QString::fromLatin1(name) << int(holds) << false << false;
        // A split as the export dialog offers it.
        if (ExportDialog::allowsSplit(QString::fromLatin1(name)))
            QTest::addRow("%s split", name) << QString::fromLatin1(name) << int(holds) << true << false;
    }
}

// Every writer of the YOLO family, exported and imported back through the
// window as a user does it, accepting the format the chooser offers first:
// the same pictures with the same annotations, as far as the format holds
// them.
void TestImportCommands::ownYoloFamilyExportsComeBack()
{
    QFETCH(QString, format);
    QFETCH(int, holds);
    QFETCH(bool, split);
    QFETCH(bool, quadrilateralsOnly);
    const Holds held = Holds(holds);
    QTemporaryDir dir;
    const Dataset source = held == Holds::Keypoints ? poseProject(dir.filePath("src"))
                                                    : shapesProject(dir.filePath("src"), quadrilateralsOnly);
    const QString out = dir.filePath("export");
    ExportConfig config;
    config.format = format;
    config.outputPath = out;
    config.split = split;
    config.trainPct = 50;
    config.validPct = 25;
    QString error;
    QString result;
    QVERIFY2(runExportJob(FormatRegistry::instance().find(format), config, source, int(source.images.size()),
                          formatWritesOwnImages(format), {}, &error, &result),
             qPrintable(error));

    MainWindow window;
    MainWindowTestAccess access(window);
    const QString preselected = importAsPreselected(window, prompts, out);
    QVERIFY2(!preselected.isEmpty(), "the chooser offered no format");
    const Dataset &back = access.project().dataset;
    // The TensorFlow CSV names a picture only in the rows of its boxes.
    const int pictures = int(source.images.size()) - (format == "YOLO TensorFlow" ? 1 : 0);
    QVERIFY2(back.images.size() == pictures,
             qPrintable(QStringLiteral("%1 pictures back as %2").arg(back.images.size()).arg(preselected)));
    for (const ImageEntry &entry : back.images) {
        const QString stem = QFileInfo(entry.filePath).completeBaseName();
        const ImageEntry *original = nullptr;
        for (const ImageEntry &candidate : source.images) {
            if (QFileInfo(candidate.filePath).completeBaseName() == stem)
                original = &candidate;
        }
        QVERIFY2(original, qPrintable(entry.filePath));
        const QList<Annotation> expected = heldBy(held, original->labels);
        const QString where = QStringLiteral("%1, read as %2").arg(stem, preselected);
        QVERIFY2(entry.labels.size() == expected.size(),
                 qPrintable(QStringLiteral("%1: %2 annotations for %3")
                                .arg(where)
                                .arg(entry.labels.size())
                                .arg(expected.size())));
        for (qsizetype j = 0; j < expected.size(); ++j) {
            const Annotation &got = entry.labels.at(j);
            const Annotation &want = expected.at(j);
            QVERIFY2(got.className == want.className && got.kind == want.kind,
                     qPrintable(QStringLiteral("%1: %2 (kind %3) for %4 (kind %5)")
                                    .arg(where, got.className)
                                    .arg(got.kind)
                                    .arg(want.className)
                                    .arg(want.kind)));
            QVERIFY2(FormatTest::pointsClose(got.points, want.points, 0.01), qPrintable(where));
            FormatTest::fuzzyCompareRect(got.bbox, want.bbox, 0.01);
            if (held == Holds::Keypoints)
                QCOMPARE(got.keypointVis, want.keypointVis);
        }
    }
}

QM_TEST_MAIN(TestImportCommands)
#include "tst_importcommands.moc"
