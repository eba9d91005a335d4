// The application style sheet and the SVG icon helpers, with the embedded
// resources that the rest of the program loads by name.

#include "QmTest.h"

#include "chrome/IconHelpers.h"
#include "chrome/Theme.h"

#include <QFile>
#include <QImageReader>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QSvgRenderer>
#include <QTemporaryDir>
#include <QVBoxLayout>

using namespace Quillmark;

namespace {

const char *const squareSvg =
    R"(<svg xmlns="http://www.w3.org/2000/svg" width="10" height="10" viewBox="0 0 10 10">)"
    R"(<rect x="0" y="0" width="10" height="10" fill="#000000"/></svg>)";
const char *const leftHalfSvg =
    R"(<svg xmlns="http://www.w3.org/2000/svg" width="10" height="10" viewBox="0 0 10 10">)"
    R"(<rect x="0" y="0" width="5" height="10" fill="#123456"/></svg>)";

QString writeFile(const QTemporaryDir &dir, const QString &name, const QByteArray &bytes)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return {};
    file.write(bytes);
    return path;
}

QColor centre(const QPixmap &pixmap)
{
    const QImage image = pixmap.toImage();
    return image.pixelColor(image.width() / 2, image.height() / 2);
}

} // namespace

class TestThemeIcons : public QObject {
    Q_OBJECT

private slots:
    void styleSheetFillsEveryPlaceholder_data();
    void styleSheetFillsEveryPlaceholder();
    void styleSheetParsesWithoutWarnings();
    void tintKeepsShapeAndColour();
    void xmlDeclarationIsIgnored();
    void missingOrBrokenSvgGivesNull();
    void themedIconHasPixmapsPerMode_data();
    void themedIconHasPixmapsPerMode();
    void everyNamedResourceLoads();
};

void TestThemeIcons::styleSheetFillsEveryPlaceholder_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("muted");    // %10
    QTest::addColumn<QString>("handle");   // %11
    QTest::addColumn<QString>("accent");   // %12
    QTest::addColumn<QString>("danger");   // %13
    QTest::addColumn<QString>("window");   // %1
    QTest::newRow("light") << int(Theme::Light) << "#5c6673" << "#9ba8b8" << "#1f6feb" << "#d12f2f" << "#eef1f5";
    QTest::newRow("dark") << int(Theme::Dark) << "#c8c8c8" << "#6a6a6a" << "#5d9ccc" << "#b32626" << "#202020";
    QTest::newRow("unknown mode is dark") << 7 << "#c8c8c8" << "#6a6a6a" << "#5d9ccc" << "#b32626" << "#202020";
}

void TestThemeIcons::styleSheetFillsEveryPlaceholder()
{
    QFETCH(int, mode);
    QFETCH(QString, muted);
    QFETCH(QString, handle);
    QFETCH(QString, accent);
    QFETCH(QString, danger);
    QFETCH(QString, window);
    const QString sheet = buildAppStyleSheet(Theme::Mode(mode));

    QVERIFY2(!sheet.contains(QRegularExpression(QStringLiteral("%\\d"))), "a placeholder was left in the sheet");
    // A two-digit placeholder read as %1 plus a digit would leave a seven-digit colour.
    QVERIFY(!sheet.contains(QRegularExpression(QStringLiteral("#[0-9a-fA-F]{7}"))));

    QVERIFY(sheet.contains(QStringLiteral("QLabel#mutedLabel { color: %1; }").arg(muted)));
    QVERIFY(sheet.contains(QStringLiteral("QScrollBar::handle:vertical { background: %1;").arg(handle)));
    QVERIFY(sheet.contains(QStringLiteral("QPushButton#exportBtn { background-color: %1; border: 1px solid %1;")
                               .arg(accent)));
    QVERIFY(sheet.contains(QStringLiteral("QPushButton#closeButton:hover { background: %1; color: #ffffff; }")
                               .arg(danger)));
    QVERIFY(sheet.startsWith(QStringLiteral("QWidget { background-color: %1;").arg(window)));
    QCOMPARE(sheet.count(danger), 1);
    QVERIFY(sheet.contains(QStringLiteral("font-family: \"Segoe UI\", \"Inter\", sans-serif;")));

    // The sheet is the template with every placeholder replaced, nothing else changed.
    const QStringList colors = Theme::colors(Theme::Mode(mode));
    QCOMPARE(colors.size(), 14);
    QString expected = Theme::styleSheetTemplate();
    for (int i = 14; i >= 1; --i)
        expected.replace(QStringLiteral("%") + QString::number(i), colors.at(i - 1));
    expected.replace(QStringLiteral("{theme}"),
                     mode == Theme::Light ? QStringLiteral("light") : QStringLiteral("dark"));
    QCOMPARE(sheet, expected);

    // Every image the sheet names is among the resources and loads.
    const QRegularExpression url(QStringLiteral("url\\(([^)]+)\\)"));
    int images = 0;
    for (auto it = url.globalMatch(sheet); it.hasNext(); ++images) {
        const QString path = it.next().captured(1);
        QVERIFY2(!QImage(path).isNull(), qPrintable(path));
    }
    QVERIFY(images >= 3);
}

void TestThemeIcons::styleSheetParsesWithoutWarnings()
{
    QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
    for (Theme::Mode mode : {Theme::Light, Theme::Dark}) {
        QWidget window;
        window.setStyleSheet(buildAppStyleSheet(mode));
        auto *layout = new QVBoxLayout(&window);
        auto *button = new QPushButton(QStringLiteral("x"), &window);
        button->setObjectName(QStringLiteral("closeButton"));
        layout->addWidget(button);
        layout->addWidget(new QLabel(QStringLiteral("y"), &window));
        window.ensurePolished();
        button->ensurePolished();
        window.grab();
    }
}

void TestThemeIcons::tintKeepsShapeAndColour()
{
    QTemporaryDir dir;
    const QString square = writeFile(dir, QStringLiteral("square.svg"), squareSvg);
    const QPixmap full = renderSvgIcon(square, 14, QColor(QStringLiteral("#f4f4f4")));
    QCOMPARE(full.size(), QSize(14, 14));
    QCOMPARE(full.devicePixelRatio(), 1.0);
    const QImage fullImage = full.toImage();
    for (int y = 0; y < 14; ++y) {
        for (int x = 0; x < 14; ++x)
            QCOMPARE(fullImage.pixelColor(x, y), QColor(0xf4, 0xf4, 0xf4, 255));
    }

    const QString half = writeFile(dir, QStringLiteral("half.svg"), leftHalfSvg);
    const QImage halfImage = renderSvgIcon(half, 20, QColor(Qt::red)).toImage();
    QCOMPARE(halfImage.pixelColor(2, 10), QColor(255, 0, 0, 255));
    QCOMPARE(halfImage.pixelColor(17, 10).alpha(), 0);
}

void TestThemeIcons::xmlDeclarationIsIgnored()
{
    QTemporaryDir dir;
    const QString bare = writeFile(dir, QStringLiteral("bare.svg"), leftHalfSvg);
    const QString declared = writeFile(
        dir, QStringLiteral("declared.svg"),
        QByteArray("\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!-- drawn by hand -->\n") + leftHalfSvg);
    const QImage a = renderSvgIcon(bare, 16, Qt::blue).toImage();
    const QImage b = renderSvgIcon(declared, 16, Qt::blue).toImage();
    QVERIFY(!a.isNull());
    QCOMPARE(a, b);
}

void TestThemeIcons::missingOrBrokenSvgGivesNull()
{
    QTemporaryDir dir;
    const QString broken = writeFile(dir, QStringLiteral("broken.svg"), "<svg><rect");
    QVERIFY(renderSvgIcon(QStringLiteral(":/icons/does-not-exist.svg"), 14, Qt::black).isNull());
    QVERIFY(renderSvgIcon(broken, 14, Qt::black).isNull());
    QVERIFY(renderSvgIcon(dir.filePath(QStringLiteral("empty.svg")), 14, Qt::black).isNull());
    QVERIFY(themedIcon(QStringLiteral(":/icons/does-not-exist.svg"), 18, false).isNull());
    QVERIFY(themedIcon(broken, 18, true).isNull());
}

void TestThemeIcons::themedIconHasPixmapsPerMode_data()
{
    QTest::addColumn<bool>("dark");
    QTest::addColumn<QString>("normal");
    QTest::addColumn<QString>("active");
    QTest::addColumn<QString>("disabled");
    QTest::newRow("light") << false << "#3a3a3a" << "#000000" << "#b0b0b0";
    QTest::newRow("dark") << true << "#f4f4f4" << "#ffffff" << "#747474";
}

void TestThemeIcons::themedIconHasPixmapsPerMode()
{
    QFETCH(bool, dark);
    QFETCH(QString, normal);
    QFETCH(QString, active);
    QFETCH(QString, disabled);
    QTemporaryDir dir;
    const QIcon icon = themedIcon(writeFile(dir, QStringLiteral("square.svg"), squareSvg), 18, dark);
    QVERIFY(!icon.isNull());
    QCOMPARE(centre(icon.pixmap(QSize(18, 18), 1.0, QIcon::Normal)), QColor(normal));
    QCOMPARE(centre(icon.pixmap(QSize(18, 18), 1.0, QIcon::Active)), QColor(active));
    QCOMPARE(centre(icon.pixmap(QSize(18, 18), 1.0, QIcon::Disabled)), QColor(disabled));

    // A disabled button shows the disabled tint.
    QPushButton button;
    button.setIcon(icon);
    button.setEnabled(false);
    QCOMPARE(centre(button.icon().pixmap(QSize(18, 18), 1.0, QIcon::Disabled)), QColor(disabled));
}

void TestThemeIcons::everyNamedResourceLoads()
{
    // Single-colour icons the program tints: they must render and cover pixels.
    const QStringList tinted = {
        "ai_auto_label", "box", "chevron-left", "chevron-right", "classification", "close_project",
        "export_dataset", "face", "fast-forward", "help", "import_dataset", "import_images", "import_video",
        "keypt", "label", "new_project", "open_project", "package_export", "package_import", "play", "poly",
        "pose", "redo", "rewind", "save", "settings", "skip-next", "skip-previous", "undo",
    };
    for (const QString &name : tinted) {
        const QString path = QStringLiteral(":/icons/%1.svg").arg(name);
        const QImage image = renderSvgIcon(path, 24, Qt::black).toImage();
        QVERIFY2(!image.isNull(), qPrintable(path));
        int covered = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x)
                covered += image.pixelColor(x, y).alpha() > 128 ? 1 : 0;
        }
        QVERIFY2(covered > 20 && covered < 24 * 24 - 20, qPrintable(path));
    }

    // Full-colour icons: the logo and the dataset-format icons.
    const QStringList colour = {
        "logo", "clip", "coco", "createml", "cvat", "darknet", "florence2", "labelme", "multiclass",
        "paligemma", "quill", "retinanet", "voc", "yolo", "yolo4pytorch", "yolo4scaled", "yolo5obb",
        "yolo5pytorch", "yolo6mt", "yolo7pytorch", "yolopose", "yoloroboflow", "yolotf", "yolov11",
        "yolov12", "yolov3keras", "yolov8", "yolov8obb", "yolov9",
    };
    for (const QString &name : colour) {
        const QString path = QStringLiteral(":/icons/%1.svg").arg(name);
        QSvgRenderer renderer(path);
        QVERIFY2(renderer.isValid(), qPrintable(path));
        const QImage image = renderSvgPixmap(path, 28).toImage();
        QVERIFY2(image.pixelColor(14, 14).alpha() == 255, qPrintable(path));
    }

    QCOMPARE(QImageReader(QStringLiteral(":/images/splash.png")).size(), QSize(700, 420));
    for (const char *name : {"object_detection", "semantic_segmentation", "instance_segmentation",
                                "key_point_detection", "face_detection", "image_classification"}) {
        const QString path = QStringLiteral(":/images/%1.png").arg(name);
        const QImage image(path);
        QVERIFY2(!image.isNull() && image.width() >= 90 && image.width() == image.height(), qPrintable(path));
    }
}

QM_TEST_MAIN(TestThemeIcons)
#include "tst_theme_icons.moc"
