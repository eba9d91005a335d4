#pragma once

#include <QObject>
#include <QString>

#include <array>

class QNetworkAccessManager;
class QNetworkReply;

namespace Quillmark {

// Asks the release host once whether a newer version than the built-in one
// exists. The manifest is a small JSON object with "version" and
// "download_url"; every outcome ends in exactly one of the three signals.
class UpdateChecker : public QObject {
    Q_OBJECT

public:
    // Where releases are published: a deployment setting. The manifest lives at
    // releaseHost + "/version.json"; the download page is the banner's link when
    // the manifest names none (or names one that is not a web address).
    static constexpr const char *releaseHost = "https://quillmark.brightwell.dev";
    static constexpr const char *defaultDownloadPage = "https://quillmark.brightwell.dev/download";

    // Larger manifests are refused unread.
    static constexpr qint64 maxManifestBytes = 64 * 1024;
    static constexpr int defaultTransferTimeoutMs = 6000;
    // The banner shows at most this many characters of the version text.
    static constexpr int maxShownVersionChars = 32;

    // Checks the release host's manifest. Programs running in Qt's test mode
    // (QStandardPaths::setTestModeEnabled) get no address, so a test never
    // reaches the real host; they set one with setManifestUrl.
    explicit UpdateChecker(QObject *parent = nullptr);

    QString manifestUrl() const { return url; }
    void setManifestUrl(const QString &manifestUrl) { url = manifestUrl; }
    // The limit of the whole request, from sending to the last byte: a reply
    // that trickles in slowly is cut off as one that stalls.
    void setTransferTimeout(int milliseconds) { timeoutMs = milliseconds; }

    // Sends the request; does nothing without an address.
    void check();

    // (major, minor, patch) of a version text: split at every "."; a piece that
    // is missing or not a whole decimal number counts as 0; pieces after the
    // third are ignored.
    static std::array<int, 3> parseVersion(const QString &version);

    // The banner's rich text for a newer version: the version shown as plain
    // text (cut to maxShownVersionChars with an ellipsis), the link only when it
    // is an http or https address (else the default download page).
    static QString bannerText(const QString &version, const QString &downloadUrl);
    // The address the banner links to: downloadUrl when it is a valid http or
    // https address with a host, else the default download page; encoded so that
    // it can stand inside a single-quoted HTML attribute.
    static QString bannerLink(const QString &downloadUrl);

signals:
    void updateAvailable(const QString &latestVersion, const QString &downloadUrl);
    void upToDate();
    void checkFailed(const QString &reason);

private slots:
    void onReplyFinished(QNetworkReply *reply);

private:
    void watchSize(QNetworkReply *reply);
    void watchDeadline(QNetworkReply *reply);

    QNetworkAccessManager *network = nullptr;
    QString url;
    int timeoutMs = defaultTransferTimeoutMs;
};

} // namespace Quillmark
