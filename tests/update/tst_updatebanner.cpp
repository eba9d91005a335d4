// The main window's side of the update check: the delayed check at start and
// the banner in the status bar.

#include "ManifestServer.h"
#include "QmTest.h"

#include "app/MainWindow.h"
#include "update/UpdateChecker.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QStatusBar>

using namespace Quillmark;

namespace {

QList<QLabel *> banners(MainWindow &window)
{
    QList<QLabel *> found;
    for (QLabel *label : window.statusBar()->findChildren<QLabel *>()) {
        if (label->text().contains(QStringLiteral("is available.")))
            found << label;
    }
    return found;
}

} // namespace

class TestUpdateBanner : public QObject {
    Q_OBJECT

private slots:
    void newerReleaseFoundAfterStartShowsTheBanner();
    void noBannerWithoutANewerRelease();
    void hugeVersionKeepsTheBannerInTheWindow();
};

void TestUpdateBanner::newerReleaseFoundAfterStartShowsTheBanner()
{
    QmTest::ManifestServer server;
    server.serveJson(R"json({"version":"1.3.0<script>","download_url":"javascript:alert(1)"})json");

    QElapsedTimer sinceStart;
    sinceStart.start();
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *checker = window.findChild<UpdateChecker *>();
    QVERIFY(checker);
    checker->setManifestUrl(server.url());

    // The check starts on its own, four seconds after the window was built.
    QTRY_COMPARE_WITH_TIMEOUT(server.requests.size(), 1, 4000 + QmTest::patienceMs);
    QVERIFY(sinceStart.elapsed() >= 3800); // a coarse timer may fire up to 5% early
    QTRY_COMPARE(banners(window).size(), 1);

    QLabel *banner = banners(window).at(0);
    QVERIFY(banner->isVisible());
    QVERIFY(banner->openExternalLinks());
    QCOMPARE(banner->textFormat(), Qt::RichText);
    QCOMPARE(banner->styleSheet(),
             QStringLiteral("color:#f59e0b; font-weight:600; padding:0 8px;background:transparent;"));
    QCOMPARE(banner->text(), UpdateChecker::bannerText(QStringLiteral("1.3.0<script>"), QString()));
    QVERIFY(banner->text().contains(QLatin1String(UpdateChecker::defaultDownloadPage)));
    QVERIFY(!banner->text().contains(QStringLiteral("javascript")));
    QVERIFY(window.statusBar()->currentMessage().isEmpty());
    // The banner sits in the status bar on the right, in its amber text.
    const QImage shot = banner->grab().toImage();
    bool amber = false;
    for (int x = 0; x < shot.width() && !amber; ++x) {
        for (int y = 0; y < shot.height() && !amber; ++y) {
            const QColor c = shot.pixelColor(x, y);
            amber = c.red() > 200 && c.green() > 120 && c.green() < 190 && c.blue() < 60;
        }
    }
    QVERIFY(amber);
    QVERIFY(banner->mapTo(&window, QPoint(0, 0)).x() > window.width() / 2);

    // A second announcement replaces the text instead of adding a banner.
    emit checker->updateAvailable(QStringLiteral("1.4.0"), QStringLiteral("https://example.org/1.4"));
    QCOMPARE(banners(window).size(), 1);
    QVERIFY(banners(window).at(0)->text().contains(QStringLiteral("1.4.0")));
}

void TestUpdateBanner::noBannerWithoutANewerRelease()
{
    MainWindow window;
    auto *checker = window.findChild<UpdateChecker *>();
    QVERIFY(checker);
    emit checker->upToDate();
    emit checker->checkFailed(QStringLiteral("Operation canceled"));
    QVERIFY(banners(window).isEmpty());
    QCOMPARE(window.statusBar()->currentMessage(), QStringLiteral("Ready"));
}

void TestUpdateBanner::hugeVersionKeepsTheBannerInTheWindow()
{
    // A manifest may say anything: 60,000 characters of version must not push
    // the status bar's other widgets and the window's edge out of reach.
    MainWindow window;
    window.resize(1100, 700);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *checker = window.findChild<UpdateChecker *>();
    QVERIFY(checker);
    emit checker->updateAvailable(QStringLiteral("9.") + QString(60000, u'9'), QString());
    QTRY_COMPARE(banners(window).size(), 1);
    QLabel *banner = banners(window).at(0);
    QVERIFY(banner->isVisible());
    QVERIFY2(banner->sizeHint().width() < 600, qPrintable(QString::number(banner->sizeHint().width())));
    QCOMPARE(window.width(), 1100);
    QVERIFY(banner->mapTo(&window, QPoint(banner->width(), 0)).x() <= window.width());
    QVERIFY(banner->text().contains(QChar(0x2026)));
}

QM_TEST_MAIN(TestUpdateBanner)
#include "tst_updatebanner.moc"
