// Renders every bar, panel and look dialog in both themes to PNG files under
// <build>/screenshots, for a person to look at. The test checks only that each
// picture was written and is not blank.

#include "QmTest.h"

#include "chrome/IconHelpers.h"
#include "chrome/SideToolBar.h"
#include "chrome/Theme.h"
#include "chrome/ToolBar.h"
#include "chrome/TopBar.h"
#include "dialogs/AboutDialog.h"
#include "dialogs/ShortcutsDialog.h"
#include "model/Dataset.h"
#include "panels/AnnotationPanel.h"
#include "panels/FilmStrip.h"
#include "panels/ImageListPanel.h"
#include "panels/VideoScrubber.h"

#include <QDir>
#include <QDirIterator>
#include <QHBoxLayout>
#include <QListWidget>
#include <QPainter>
#include <QVBoxLayout>

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
        image.filePath = QStringLiteral("/data/street/frame_%1.jpg").arg(i, 4, 10, QLatin1Char('0'));
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
    const Dataset dataset = sampleDataset();

    // A stand-in for the main window: the sheet is set on it only.
    QWidget window;
    window.setStyleSheet(buildAppStyleSheet(theme));
    window.resize(1440, 860);
    auto *outer = new QVBoxLayout(&window);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);

    auto *topBar = new TopBar(&window);
    topBar->setHasProject(true);
    topBar->setProjectName(QStringLiteral("Street scenes"));
    topBar->setProjectType(QStringLiteral("object_detection"));
    auto *toolBar = new ToolBar(&window);
    toolBar->setTheme(theme);
    toolBar->setProjectOpen(true);
    toolBar->setPlaybackEnabled(false);
    outer->addWidget(topBar);
    outer->addWidget(toolBar);

    auto *row = new QHBoxLayout;
    row->setSpacing(0);
    auto *leftPane = new QWidget(&window);
    leftPane->setObjectName(QStringLiteral("leftPane"));
    auto *leftLayout = new QHBoxLayout(leftPane);
    leftLayout->setContentsMargins(0, 0, 0, 0);
    leftLayout->setSpacing(0);
    auto *side = new SideToolBar(leftPane);
    side->setDark(theme == Theme::Dark);
    side->setProjectType(QStringLiteral("object_detection"));
    side->setTool(1);
    auto *list = new ImageListPanel(leftPane);
    list->setDataset(dataset);
    list->setStatusText(QStringLiteral("Street scenes"));
    list->listWidget()->setCurrentRow(2);
    leftLayout->addWidget(side);
    leftLayout->addWidget(list, 1);
    row->addWidget(leftPane);

    auto *centre = new QWidget(&window);
    centre->setObjectName(QStringLiteral("centerPane"));
    auto *centreLayout = new QVBoxLayout(centre);
    centreLayout->setContentsMargins(0, 0, 0, 0);
    centreLayout->setSpacing(0);
    auto *canvasTopBar = new QWidget(centre);
    canvasTopBar->setObjectName(QStringLiteral("canvasTopBar"));
    canvasTopBar->setAttribute(Qt::WA_StyledBackground, true);
    canvasTopBar->setFixedHeight(38);
    auto *topLayout = new QHBoxLayout(canvasTopBar);
    topLayout->setContentsMargins(8, 0, 8, 0);
    auto *scrubber = new VideoScrubber(canvasTopBar);
    scrubber->setRange(0, 899);
    scrubber->setMarkers({12, 200, 201, 640});
    scrubber->setValue(300);
    topLayout->addWidget(scrubber, 1);
    centreLayout->addWidget(canvasTopBar);
    centreLayout->addStretch(1);
    auto *strip = new FilmStrip(centre);
    strip->setDark(theme == Theme::Dark);
    strip->setDataset(dataset.images);
    strip->setCurrent(dataset.images.at(3).id);
    centreLayout->addWidget(strip);
    row->addWidget(centre, 1);

    auto *annotations = new AnnotationPanel(&window);
    annotations->setFixedWidth(270);
    annotations->setClasses(dataset.classColors);
    annotations->setAnnotations(dataset.images.at(1));
    annotations->updateStats(24, 16, 16, {{"car", 8}, {"person", 8}, {"tree", 2}}, 1, 1, 900);
    row->addWidget(annotations);
    outer->addLayout(row, 1);

    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    for (int i = 0; i < 100; ++i)
        QCoreApplication::processEvents();  // thumbnails load one per turn

    save(&window, QStringLiteral("window") + suffix);
    save(topBar, QStringLiteral("top-bar") + suffix);
    save(toolBar, QStringLiteral("tool-bar") + suffix);
    save(side, QStringLiteral("side-tool-bar") + suffix);
    save(list, QStringLiteral("image-list") + suffix);
    save(annotations, QStringLiteral("annotation-panel") + suffix);
    save(strip, QStringLiteral("film-strip") + suffix);
    save(scrubber, QStringLiteral("video-scrubber") + suffix);

    auto *about = new AboutDialog(&window);
    about->show();
    QVERIFY(QTest::qWaitForWindowExposed(about));
    save(about, QStringLiteral("about-dialog") + suffix);
    auto *shortcuts = new ShortcutsDialog(&window);
    shortcuts->resize(440, 760);
    shortcuts->show();
    QVERIFY(QTest::qWaitForWindowExposed(shortcuts));
    save(shortcuts, QStringLiteral("shortcuts-dialog") + suffix);

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
