// The update check: version comparison, manifests read from files and from a
// loopback HTTP server, every failure, and the banner's text and link.

#include "ManifestServer.h"
#include "QmTest.h"

#include "update/UpdateChecker.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextDocument>
#include <QUrl>

using namespace Quillmark;

namespace {

// What one check ended in: "available <version> <url>", "upToDate" or "failed <reason>".
class Outcomes {
public:
    explicit Outcomes(UpdateChecker &checker)
    {
        QObject::connect(&checker, &UpdateChecker::updateAvailable, &checker,
                         [this](const QString &v, const QString &u) { seen << "available " + v + " " + u; });
        QObject::connect(&checker, &UpdateChecker::upToDate, &checker, [this] { seen << QStringLiteral("upToDate"); });
        QObject::connect(&checker, &UpdateChecker::checkFailed, &checker,
                         [this](const QString &reason) { seen << "failed " + reason; });
    }
    QStringList seen;
};

QString runCheck(const QString &url, int timeoutMs = QmTest::patienceMs)
{
    UpdateChecker checker;
    checker.setManifestUrl(url);
    Outcomes outcomes(checker);
    checker.check();
    if (!QTest::qWaitFor([&] { return !outcomes.seen.isEmpty(); }, timeoutMs))
        return QStringLiteral("nothing");
    QTest::qWait(20); // a second signal would be a fault
    return outcomes.seen.join(QStringLiteral(" | "));
}

QString parserText(const QByteArray &json)
{
    QJsonParseError error;
    QJsonDocument::fromJson(json, &error);
    return error.errorString();
}

// The visible text of a piece of rich text and the addresses of its links.
QPair<QString, QStringList> readHtml(const QString &html)
{
    QTextDocument document;
    document.setHtml(html);
    QStringList links;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            if (it.fragment().charFormat().isAnchor())
                links << it.fragment().charFormat().anchorHref();
        }
    }
    return {document.toPlainText(), links};
}

} // namespace

class TestUpdateChecker : public QObject {
    Q_OBJECT

private slots:
    void parseVersion_data();
    void parseVersion();
    void manifestFromFile_data();
    void manifestFromFile();
    void manifestOverHttp();
    void httpFailures();
    void silentServerTimesOut();
    void tricklingServerMeetsTheDeadline();
    void oversizedBodyIsCutOff_data();
    void oversizedBodyIsCutOff();
    void noAddressNoRequest();
    void bannerText_data();
    void bannerText();

private:
    QTemporaryDir dir;
};

void TestUpdateChecker::parseVersion_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QList<int>>("parts");
    QTest::newRow("three numbers") << "1.2.0" << QList<int>{1, 2, 0};
    QTest::newRow("two-digit minor") << "1.10" << QList<int>{1, 10, 0};
    QTest::newRow("fourth piece ignored") << "1.2.0.9" << QList<int>{1, 2, 0};
    QTest::newRow("word after a dash") << "2.0-beta" << QList<int>{2, 0, 0};
    QTest::newRow("empty piece") << "1..3" << QList<int>{1, 0, 3};
    QTest::newRow("blank inside a piece") << "1. 3.4" << QList<int>{1, 0, 4};
    QTest::newRow("sign") << "+3.-1.2" << QList<int>{0, 0, 2};
    QTest::newRow("not a version") << "latest" << QList<int>{0, 0, 0};
    QTest::newRow("empty") << "" << QList<int>{0, 0, 0};
    QTest::newRow("too large for a number") << "99999999999.1" << QList<int>{0, 1, 0};
}

void TestUpdateChecker::parseVersion()
{
    QFETCH(QString, text);
    QFETCH(QList<int>, parts);
    const std::array<int, 3> parsed = UpdateChecker::parseVersion(text);
    QCOMPARE((QList<int>{parsed[0], parsed[1], parsed[2]}), parts);
}

void TestUpdateChecker::manifestFromFile_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("outcome");
    QTest::newRow("newer minor") << QByteArray(R"({"version":"1.10","download_url":"https://example.org/dl"})")
                                 << "available 1.10 https://example.org/dl";
    QTest::newRow("newer patch, other keys ignored")
        << QByteArray(R"({"notes":"x","version":"1.2.1","download_url":"https://example.org/dl"})")
        << "available 1.2.1 https://example.org/dl";
    QTest::newRow("same, shorter") << QByteArray(R"({"version":"1.2"})") << "upToDate";
    QTest::newRow("same with a fourth piece") << QByteArray(R"({"version":"1.2.0.9"})") << "upToDate";
    QTest::newRow("older") << QByteArray(R"({"version":"1.1.99"})") << "upToDate";
    QTest::newRow("blanks trimmed, suffix kept, no link")
        << QByteArray(R"({"version":"  2.0-beta  "})") << "available 2.0-beta ";
    QTest::newRow("blank version") << QByteArray(R"({"version":"   "})")
                                   << "failed Missing 'version' field in manifest";
    QTest::newRow("no version") << QByteArray(R"({"download_url":"https://example.org"})")
                                << "failed Missing 'version' field in manifest";
    QTest::newRow("version not a string")
        << QByteArray(R"({"version":3})") << "failed Missing 'version' field in manifest";
    QTest::newRow("array") << QByteArray(R"(["1.3.0"])") << "failed Invalid JSON: " + parserText("[]");
    QTest::newRow("cut short") << QByteArray(R"({"version":"1.3)")
                               << "failed Invalid JSON: " + parserText(R"({"version":"1.3)");
    QTest::newRow("empty") << QByteArray() << "failed Invalid JSON: " + parserText("");
    // Right at the bound a manifest is read; one byte more is refused.
    QByteArray atBound = R"({"version":"1.3.0","pad":")";
    atBound += QByteArray(UpdateChecker::maxManifestBytes - atBound.size() - 2, 'x') + "\"}";
    QTest::newRow("at the size bound") << atBound << "available 1.3.0 ";
    QByteArray overBound = atBound;
    overBound.insert(overBound.size() - 2, 'x');
    QTest::newRow("over the size bound") << overBound << "failed Manifest larger than 65536 bytes";
}

void TestUpdateChecker::manifestFromFile()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, outcome);
    const QString path = dir.filePath(QStringLiteral("%1.json").arg(QTest::currentDataTag()));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(body);
    file.close();
    QCOMPARE(runCheck(QUrl::fromLocalFile(path).toString()), outcome);
}

void TestUpdateChecker::manifestOverHttp()
{
    QmTest::ManifestServer server;
    server.serveJson(R"({"version":"1.3.0","download_url":"https://example.org/get"})");
    QCOMPARE(runCheck(server.url()), QStringLiteral("available 1.3.0 https://example.org/get"));
    QCOMPARE(server.requests, QList<QByteArray>{"GET /version.json HTTP/1.1"});

    // A redirect on the same (plain) scheme is followed.
    server.redirect("/old.json", server.url(QStringLiteral("/version.json")));
    QCOMPARE(runCheck(server.url(QStringLiteral("/old.json"))),
             QStringLiteral("available 1.3.0 https://example.org/get"));
    QCOMPARE(server.requests.size(), 3);
}

void TestUpdateChecker::httpFailures()
{
    QmTest::ManifestServer server;
    server.respond("HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\nConnection: close\r\n\r\nnot found");
    const QString notFound = runCheck(server.url());
    QVERIFY2(notFound.startsWith(QStringLiteral("failed ")) && notFound.size() > 7, qPrintable(notFound));
    QVERIFY2(notFound.contains(QStringLiteral("Not Found")), qPrintable(notFound));

    // Nothing listens on a port that was just closed.
    quint16 port = 0;
    {
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        port = closed.serverPort();
    }
    const QString refused = runCheck(QStringLiteral("http://127.0.0.1:%1/version.json").arg(port));
    QVERIFY2(refused.startsWith(QStringLiteral("failed ")) && refused.size() > 7, qPrintable(refused));

    const QString missingFile = runCheck(QUrl::fromLocalFile(dir.filePath(QStringLiteral("none.json"))).toString());
    QVERIFY2(missingFile.startsWith(QStringLiteral("failed ")) && missingFile.size() > 7, qPrintable(missingFile));
}

void TestUpdateChecker::silentServerTimesOut()
{
    QmTest::ManifestServer server;
    server.beSilent();
    UpdateChecker checker;
    checker.setManifestUrl(server.url());
    checker.setTransferTimeout(300);
    Outcomes outcomes(checker);
    QElapsedTimer clock;
    clock.start();
    checker.check();
    QTRY_COMPARE_WITH_TIMEOUT(outcomes.seen.size(), 1, QmTest::patienceMs);
    QVERIFY2(outcomes.seen.at(0).startsWith(QStringLiteral("failed ")), qPrintable(outcomes.seen.at(0)));
    // Not before the time-out set, and well before the default one: a loaded
    // machine may be late, but never by seconds on an idle socket.
    QVERIFY2(clock.elapsed() >= 250, qPrintable(QString::number(clock.elapsed())));
    QVERIFY2(clock.elapsed() < UpdateChecker::defaultTransferTimeoutMs, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(server.requests.size(), 1);
}

void TestUpdateChecker::tricklingServerMeetsTheDeadline()
{
    // One byte every 100 ms never stalls the transfer for the 600 ms allowed,
    // yet the whole answer would take half a minute: the limit is the request's.
    QmTest::ManifestServer server;
    server.trickleMs = 100;
    server.serveJson("{\"version\":\"9.0.0\",\"pad\":\"" + QByteArray(150, 'x') + "\"}");
    UpdateChecker checker;
    checker.setManifestUrl(server.url());
    checker.setTransferTimeout(600);
    Outcomes outcomes(checker);
    QElapsedTimer clock;
    clock.start();
    checker.check();
    QTRY_COMPARE_WITH_TIMEOUT(outcomes.seen.size(), 1, QmTest::patienceMs);
    const qint64 took = clock.elapsed();
    QCOMPARE(outcomes.seen.at(0), QStringLiteral("failed No answer within 600 ms"));
    QVERIFY2(took >= 550, qPrintable(QString::number(took)));
    QVERIFY2(took < UpdateChecker::defaultTransferTimeoutMs, qPrintable(QString::number(took)));
    QTRY_COMPARE(server.droppedByClient, 1);
    QTest::qWait(300); // a second outcome would be a fault
    QCOMPARE(outcomes.seen.size(), 1);
}

void TestUpdateChecker::oversizedBodyIsCutOff_data()
{
    QTest::addColumn<QByteArray>("head");
    QTest::newRow("announced length") << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 100000000\r\n\r\n");
    QTest::newRow("no length given") << QByteArray("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n");
}

void TestUpdateChecker::oversizedBodyIsCutOff()
{
    // The server sends 200 KiB and keeps the connection open as if more were
    // coming: the checker gives up on size at once, not at the transfer timeout.
    QFETCH(QByteArray, head);
    QmTest::ManifestServer server;
    server.keepOpen = true;
    server.respond(head + "{\"version\":\"9.0.0\",\"pad\":\"" + QByteArray(200 * 1024, 'x'));
    UpdateChecker checker;
    checker.setManifestUrl(server.url());
    // A time-out far beyond the wait below: only the size check can end the
    // transfer within it, so no clock is needed to tell the two apart.
    checker.setTransferTimeout(120000);
    Outcomes outcomes(checker);
    checker.check();
    QTRY_COMPARE_WITH_TIMEOUT(outcomes.seen.size(), 1, QmTest::patienceMs);
    QCOMPARE(outcomes.seen.at(0), QStringLiteral("failed Manifest larger than 65536 bytes"));
    QTRY_COMPARE(server.droppedByClient, 1);
}

void TestUpdateChecker::noAddressNoRequest()
{
    // Under test, the real release host is never the default address.
    UpdateChecker checker;
    QVERIFY(checker.manifestUrl().isEmpty());
    Outcomes outcomes(checker);
    checker.check();
    QTest::qWait(50);
    QVERIFY(outcomes.seen.isEmpty());

    QStandardPaths::setTestModeEnabled(false);
    UpdateChecker shipped;
    QStandardPaths::setTestModeEnabled(true);
    QCOMPARE(shipped.manifestUrl(), QLatin1String(UpdateChecker::releaseHost) + QStringLiteral("/version.json"));
    QVERIFY(shipped.manifestUrl().startsWith(QStringLiteral("https://")));
}

void TestUpdateChecker::bannerText_data()
{
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("shown"); // visible text (HTML folds the two blanks into one)
    QTest::addColumn<QString>("link");  // "default" for the default download page
    const QString shown = QStringLiteral("Quillmark 2.0 is available. Download");
    QTest::newRow("https link") << "2.0"
                                << "https://example.org/get" << shown << "https://example.org/get";
    QTest::newRow("query with ampersand")
        << "2.0"
        << "https://example.org/get?os=linux&arch=x64" << shown << "https://example.org/get?os=linux&arch=x64";
    QTest::newRow("plain http, upper-case scheme") << "2.0"
                                                   << "HTTP://example.org/" << shown << "http://example.org/";
    QTest::newRow("no link") << "2.0"
                             << "" << shown << "default";
    QTest::newRow("script") << "2.0"
                            << "javascript:alert(1)" << shown << "default";
    QTest::newRow("local file") << "2.0"
                                << "file:///etc/passwd" << shown << "default";
    QTest::newRow("no host") << "2.0"
                             << "https:///get" << shown << "default";
    QTest::newRow("scheme-relative") << "2.0"
                                     << "//example.org/get" << shown << "default";
    QTest::newRow("quote breaking out of the attribute")
        << "2.0"
        << "https://example.org/x' onmouseover='alert(1)" << shown << "default";
    QTest::newRow("quote inside the path") << "2.0"
                                           << "https://example.org/it's" << shown << "https://example.org/it%27s";
    QTest::newRow("markup in the version") << "<b>2.0</b><a href='javascript:x'>go</a>"
                                           << "https://example.org/get"
                                           // Cut to its shown length: the markup stays text.
                                           << "Quillmark <b>2.0</b><a href='javascript:x" + QString(QChar(0x2026)) +
                                                  " is available. Download"
                                           << "https://example.org/get";
    const QString longVersion = QStringLiteral("2.") + QString(60000, u'7');
    QTest::newRow("very long version") << longVersion << "https://example.org/get"
                                       << "Quillmark " + longVersion.left(UpdateChecker::maxShownVersionChars - 1) +
                                              QChar(0x2026) + " is available. Download"
                                       << "https://example.org/get";
    QTest::newRow("version of exactly the shown length")
        << QString(UpdateChecker::maxShownVersionChars, u'9') << "https://example.org/get"
        << "Quillmark " + QString(UpdateChecker::maxShownVersionChars, u'9') + " is available. Download"
        << "https://example.org/get";
    QTest::newRow("placeholder in the version") << "2.0 %2"
                                                << "https://example.org/get"
                                                << "Quillmark 2.0 %2 is available. Download"
                                                << "https://example.org/get";
}

void TestUpdateChecker::bannerText()
{
    QFETCH(QString, version);
    QFETCH(QString, url);
    QFETCH(QString, shown);
    QFETCH(QString, link);
    const QString html = UpdateChecker::bannerText(version, url);
    const auto [text, links] = readHtml(html);
    QCOMPARE(text, shown);
    QCOMPARE(links,
             QStringList{link == QLatin1String("default") ? QLatin1String(UpdateChecker::defaultDownloadPage) : link});
    QVERIFY(html.startsWith(QStringLiteral("Quillmark ")));
    QVERIFY(html.endsWith(QStringLiteral(" is available.  <a href='") + UpdateChecker::bannerLink(url) +
                          QStringLiteral("'>Download</a>")));
}

QM_TEST_MAIN(TestUpdateChecker)
#include "tst_updatechecker.moc"
