// Renders every bar, panel and dialog of the real main window in both themes to
// PNG files under <build>/screenshots, for a person to look at. The test checks
// only that each picture was written and is not blank.

#include "QmTest.h"

#include "MainWindowTestAccess.h"

#include "ai/ui/AiAutoLabelDialog.h"
#include "ai/ui/AiSam3Dialog.h"
#include "ai/ui/FaceAnnotationDialog.h"
#include "ai/ui/PoseAnnotationDialog.h"
#include "app/MainWindow.h"
#include "chrome/IconHelpers.h"
#include "chrome/SideToolBar.h"
#include "chrome/Theme.h"
#include "chrome/ToolBar.h"
#include "chrome/TopBar.h"
#include "dialogs/AboutDialog.h"
#include "dialogs/ObjectDetectionWizard.h"
#include "dialogs/ProjectTypeDialog.h"
#include "dialogs/SettingsDialog.h"
#include "dialogs/ShortcutsDialog.h"
#include "formats/FormatRegistry.h"
#include "formats/ui/ExportDialog.h"
#include "model/Dataset.h"
#include "panels/AnnotationPanel.h"
#include "panels/FilmStrip.h"
#include "panels/ImageListPanel.h"
#include "panels/VideoScrubber.h"

#include <QCheckBox>
#include <QDir>
#include <QDirIterator>
#include <QListView>
#include <QListWidget>
#include <QPainter>

using namespace Quillmark;

namespace {

QImage samplePicture(int i)
{
    QImage image(160, 120, QImage::Format_RGB32);
    QPainter p(&image);
    p.fillRect(image.rect(), QColor::fromHsv((i * 37) % 360, 90, 230));
    p.setBrush(QColor::fromHsv((i * 37 + 180) % 360, 160, 200));
    p.setPen(Qt::NoPen);
    p.drawEllipse(QPoint(40 + (i * 13) % 80, 60), 28, 28);
    return image;
}

Dataset sampleDataset()
{
    Dataset d;
    d.addClass(QStringLiteral("car"), QColor("#4D8DFF"));
    d.addClass(QStringLiteral("person"), QColor("#FF5757"));
    d.addClass(QStringLiteral("tree"), QColor("#55C772"));
    for (int i = 0; i < 24; ++i) {
        ImageEntry image;
        image.filePath = i == 5 ? QStringLiteral("/data/street/a_rather_long_file_name_from_a_camera_export_0005.jpg")
                            : QStringLiteral("/data/street/frame_%1.jpg").arg(i, 4, 10, QLatin1Char('0'));
        image.image = samplePicture(i);
        if (i % 3 != 0) {
            Annotation a;
            a.className = i % 2 ? QStringLiteral("car") : QStringLiteral("person");
            image.labels.append(a);
        }
        d.addImage(image);
    }
    VideoEntry video;
    video.filePath = QStringLiteral("/data/clips/crossing.mp4");
    video.frameCount = 900;
    video.width = 1280;
    video.height = 720;
    video.frameLabels.insert(12, {Annotation{}});
    d.addVideo(video);
    return d;
}

bool isBlank(const QImage &image)
{
    const QRgb first = image.pixel(0, 0);
    for (int y = 0; y < image.height(); y += 3) {
        for (int x = 0; x < image.width(); x += 3) {
            if (image.pixel(x, y) != first)
                return false;
        }
    }
    return true;
}

} // namespace

class TestScreenshots : public QObject {
    Q_OBJECT

private slots:
    void renderAll_data();
    void renderAll();

private:
    void save(QWidget *widget, const QString &name);
    QStringList written;
};

void TestScreenshots::save(QWidget *widget, const QString &name)
{
    const QImage image = widget->grab().toImage();
    QVERIFY2(!image.isNull() && !isBlank(image), qPrintable(name));
    const QString path = QDir(QStringLiteral(QM_SCREENSHOT_DIR)).filePath(name + QStringLiteral(".png"));
    QVERIFY2(image.save(path), qPrintable(path));
    written.append(path);
}

void TestScreenshots::renderAll_data()
{
    QTest::addColumn<int>("mode");
    QTest::newRow("light") << int(Theme::Light);
    QTest::newRow("dark") << int(Theme::Dark);
}

void TestScreenshots::renderAll()
{
    QFETCH(int, mode);
    const auto theme = Theme::Mode(mode);
    const QString suffix = theme == Theme::Light ? QStringLiteral("-light") : QStringLiteral("-dark");
    QVERIFY(QDir().mkpath(QStringLiteral(QM_SCREENSHOT_DIR)));

    // The real main window at its default size, with the sample project open
    // and the scrubber of video mode showing.
    MainWindow window;
    MainWindowTestAccess access(window);
    Project &project = access.project();
    project.name = QStringLiteral("Street scenes");
    project.projectType = QStringLiteral("object_detection");
    project.dataset = sampleDataset();
    access.projectPath() = QStringLiteral("/data/street/street.qmk");
    access.refreshUi();
    access.updateTitle();
    window.applyTheme(theme);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    access.setVideoMode(true);
    VideoScrubber *scrubber = window.videoScrubberWidget();
    scrubber->setRange(0, 899);
    scrubber->setMarkers({12, 200, 201, 640});
    scrubber->setValue(300);
    window.sideToolBarWidget()->setTool(1);
    window.imageList()->listView()->setCurrentIndex(window.imageList()->listView()->model()->index(2, 0));
    window.filmStripWidget()->setCurrent(project.dataset.images.at(3).id);
    for (int i = 0; i < 100; ++i)
        QCoreApplication::processEvents();  // thumbnails load one per turn

    save(&window, QStringLiteral("window") + suffix);
    save(window.topBarWidget(), QStringLiteral("top-bar") + suffix);
    save(window.toolBarWidget(), QStringLiteral("tool-bar") + suffix);
    save(window.sideToolBarWidget(), QStringLiteral("side-tool-bar") + suffix);
    // One filter box unchecked, to show both looks.
    if (QCheckBox *unlabeled = window.imageList()->findChildren<QCheckBox *>().value(1)) {
        const QSignalBlocker blocker(unlabeled);
        unlabeled->setChecked(false);
    }
    save(window.imageList(), QStringLiteral("image-list") + suffix);
    save(window.annotations(), QStringLiteral("annotation-panel") + suffix);
    save(window.filmStripWidget(), QStringLiteral("film-strip") + suffix);
    save(window.findChild<QWidget *>(QStringLiteral("canvasTopBar")), QStringLiteral("canvas-controls") + suffix);
    save(scrubber->parentWidget(), QStringLiteral("scrubber-row") + suffix);

    // The dialogs as the window opens them, under its sheet.
    QStringList exportNames;
    for (const IFormatHandler *handler : FormatRegistry::instance().handlers()) {
        if (handler->name() != QLatin1String("QuillPackage"))
            exportNames.append(handler->name());
    }
    const QList<QPair<QWidget *, QString>> dialogs{
        {new AboutDialog(&window), QStringLiteral("about-dialog")},
        {new ShortcutsDialog(&window), QStringLiteral("shortcuts-dialog")},
        {new SettingsDialog(&window), QStringLiteral("settings-dialog")},
        {new ProjectTypeDialog(QString(), mode, &window), QStringLiteral("project-type-dialog")},
        {new ObjectDetectionWizard(&window, theme == Theme::Dark), QStringLiteral("new-project-wizard")},
        {window.autoLabelDialog(), QStringLiteral("auto-label-dialog")},
        {window.conceptDialog(), QStringLiteral("concept-dialog")},
        {window.faceAnnotationDialog(), QStringLiteral("face-dialog")},
        {window.poseAnnotationDialog(), QStringLiteral("pose-dialog")},
        {new ExportDialog(exportNames, 24, &window), QStringLiteral("export-dialog")},
    };
    for (const auto &[dialog, name] : dialogs) {
        if (name == QLatin1String("shortcuts-dialog"))
            dialog->resize(440, 760);
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog));
        save(dialog, name + suffix);
        dialog->hide();
    }

    // Every embedded icon on the theme's panel colour: first as the bars tint it,
    // then in its own colours, ten to a row.
    QStringList icons;
    QDirIterator it(QStringLiteral(":/icons"), {QStringLiteral("*.svg")});
    while (it.hasNext())
        icons.append(it.next());
    icons.sort();
    QVERIFY(!icons.isEmpty());
    const int cell = 44;
    const int rows = int((icons.size() + 9) / 10);
    QImage sheet(10 * cell, 2 * rows * cell, QImage::Format_ARGB32);
    sheet.fill(QColor(Theme::colors(theme).at(1)));
    {
        QPainter painter(&sheet);
        for (int i = 0; i < icons.size(); ++i) {
            const QPoint at((i % 10) * cell + 10, (i / 10) * cell + 10);
            painter.drawPixmap(at, themedIcon(icons.at(i), 24, theme == Theme::Dark).pixmap(24, 24));
            painter.drawPixmap(at + QPoint(0, rows * cell), renderSvgPixmap(icons.at(i), 24));
        }
    }
    const QString iconsPath = QDir(QStringLiteral(QM_SCREENSHOT_DIR)).filePath(QStringLiteral("icons") + suffix
                                                                                + QStringLiteral(".png"));
    QVERIFY2(sheet.save(iconsPath), qPrintable(iconsPath));
    written.append(iconsPath);

    qInfo("%lld screenshots in %s", qlonglong(written.size()), QM_SCREENSHOT_DIR);
}

QM_TEST_MAIN(TestScreenshots)
#include "tst_screenshots.moc"
