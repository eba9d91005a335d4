// Start-up: the splash picture with its version badge, and the hand-over from
// the splash to the main window on its two timers.

#include "QmTest.h"

#include "ai/OrtRuntime.h"
#include "app/MainWindow.h"
#include "app/Splash.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QPainter>
#include <QPointer>
#include <QSplashScreen>
#include <QtTest>

using namespace Quillmark;

class TestStartup : public QObject {
    Q_OBJECT

private slots:
    void splashFitsAndCarriesTheBadge_data();
    void splashFitsAndCarriesTheBadge();
    void nullPictureStaysNull();
    void handOverTimings();
    void startWritesNoRuntimeFiles();
};

void TestStartup::splashFitsAndCarriesTheBadge_data()
{
    QTest::addColumn<QSize>("source");
    QTest::addColumn<QSize>("scaled");
    QTest::newRow("same aspect") << QSize(1400, 840) << QSize(700, 420);
    QTest::newRow("wider") << QSize(1600, 400) << QSize(700, 175);
    QTest::newRow("taller") << QSize(300, 600) << QSize(210, 420);
}

void TestStartup::splashFitsAndCarriesTheBadge()
{
    QFETCH(QSize, source);
    QFETCH(QSize, scaled);
    QPixmap picture(source);
    picture.fill(Qt::white);

    const QPixmap splash = Splash::makeSplashPixmap(picture, QStringLiteral("1.2.0"));
    QCOMPARE(splash.size(), scaled);

    const QImage image = splash.toImage();
    // The pill's right and bottom edges lie 16 pixels inside the picture: the
    // pixels just inside them are darkened, those outside stay white.
    QFont font;
    font.setPointSizeF(10.5);
    font.setWeight(QFont::Weight(500));
    const QFontMetrics metrics(font);
    const int h = metrics.height() + 10;
    const int midY = image.height() - 16 - h / 2;
    const int w = image.width();
    QCOMPARE(image.pixelColor(w - 10, midY), QColor(Qt::white));
    QCOMPARE(image.pixelColor(w - 1, image.height() - 1), QColor(Qt::white));
    QVERIFY(image.pixelColor(w - 16 - h / 2, image.height() - 17).lightness() < 255);
    QCOMPARE(image.pixelColor(w - 14, image.height() - 14), QColor(Qt::white));
    // Inside the pill, away from the text: white under black at alpha 140.
    const QColor inside = image.pixelColor(w - 16 - 4, midY);
    QVERIFY2(qAbs(inside.red() - 115) <= 3, qPrintable(inside.name()));
}

void TestStartup::nullPictureStaysNull()
{
    QVERIFY(Splash::makeSplashPixmap(QPixmap(), QStringLiteral("1.2.0")).isNull());
}

void TestStartup::handOverTimings()
{
    QPixmap picture(200, 120);
    picture.fill(Qt::darkBlue);
    QPointer<QSplashScreen> splash = new QSplashScreen(picture, Qt::WindowStaysOnTopHint);
    splash->show();

    // Records when it is shown, and when the splash goes.
    class Window : public QWidget {
    public:
        QElapsedTimer clock;
        qint64 shownAt = -1;
        qint64 splashGoneAt = -1;

    protected:
        void showEvent(QShowEvent *) override { shownAt = clock.elapsed(); }
    } window;
    window.clock.start();
    connect(splash, &QObject::destroyed, &window, [&window] { window.splashGoneAt = window.clock.elapsed(); });

    Splash::handOver(splash, &window);
    QTest::qWait(200);
    QVERIFY(!window.isVisible());
    QVERIFY(splash);
    // Timers never fire early, but a loaded machine may run them late: each
    // step is checked against its full time below and a generous ceiling above,
    // which still catches a hand-over that waits for the wrong timer.
    constexpr qint64 showAfterMs = 2500;
    constexpr qint64 splashAfterShowMs = 1200;
    constexpr qint64 latenessMs = 4000;
    QTRY_VERIFY_WITH_TIMEOUT(!splash, showAfterMs + splashAfterShowMs + 2 * latenessMs);
    QVERIFY(window.isVisible());
    QVERIFY2(window.shownAt >= showAfterMs && window.shownAt < showAfterMs + latenessMs,
             qPrintable(QString::number(window.shownAt)));
    const qint64 splashTime = window.splashGoneAt - window.shownAt;
    QVERIFY2(splashTime >= splashAfterShowMs && splashTime < splashAfterShowMs + latenessMs,
             qPrintable(QString::number(splashTime)));
}

void TestStartup::startWritesNoRuntimeFiles()
{
    // Files the inference runtime writes under the home folder (its own cache).
    // The runtime leaves them out when told to, or when it sees a build server's
    // variables: this test needs them, to see that the start makes none.
    for (const char *name : {"ORT_DISABLE_TELEMETRY", "CI", "TF_BUILD", "GITHUB_ACTIONS", "GITLAB_CI",
                             "CIRCLECI", "TRAVIS", "JENKINS_URL", "CODEBUILD_BUILD_ID", "BUILDKITE",
                             "TEAMCITY_VERSION", "APPVEYOR", "BITBUCKET_BUILD_NUMBER"})
        qunsetenv(name);
    const auto runtimeFiles = [] {
        QStringList found;
        QDirIterator it(QDir::homePath(), QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            if (path.contains(QStringLiteral("onnxruntime"), Qt::CaseInsensitive))
                found << path;
        }
        return found;
    };
    QVERIFY(runtimeFiles().isEmpty());
    {
        // Every engine of the window is made, none used.
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QVERIFY(!window.detectionEngine().isLoaded());
    }
    QVERIFY2(runtimeFiles().isEmpty(), qPrintable(runtimeFiles().join(QLatin1Char('\n'))));

    // The first use makes the runtime's environment, and with it those files.
    OrtRuntime runtime("QuillmarkTest");
    QVERIFY(!runtime.hasEnvironment());
    runtime.options();
    QVERIFY(runtime.hasEnvironment());
    QVERIFY(!runtimeFiles().isEmpty());
}

QM_TEST_MAIN(TestStartup)
#include "tst_startup.moc"
