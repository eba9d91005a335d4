#include "update/UpdateChecker.h"

#include "model/Version.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>

namespace Quillmark {

namespace {

// Set on a reply that was cut off for sending more than a manifest may hold.
constexpr const char *tooLargeProperty = "quillmarkManifestTooLarge";
// Set on a reply that was cut off at the whole-request deadline.
constexpr const char *timedOutProperty = "quillmarkManifestTimedOut";

bool isWholeDecimal(const QString &piece)
{
    if (piece.isEmpty())
        return false;
    for (const QChar c : piece) {
        if (c < u'0' || c > u'9')
            return false;
    }
    return true;
}

QString tooLargeText()
{
    return QStringLiteral("Manifest larger than %1 bytes").arg(UpdateChecker::maxManifestBytes);
}

} // namespace

UpdateChecker::UpdateChecker(QObject *parent) : QObject(parent), network(new QNetworkAccessManager(this))
{
    if (!QStandardPaths::isTestModeEnabled())
        url = QLatin1String(releaseHost) + QStringLiteral("/version.json");
    connect(network, &QNetworkAccessManager::finished, this, &UpdateChecker::onReplyFinished);
}

void UpdateChecker::check()
{
    if (url.isEmpty())
        return;
    QNetworkRequest request{QUrl(url)};
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setTransferTimeout(timeoutMs);
    QNetworkReply *reply = network->get(request);
    watchSize(reply);
    watchDeadline(reply);
}

void UpdateChecker::watchDeadline(QNetworkReply *reply)
{
    // The transfer timeout of the request measures stalls only: a body that
    // trickles in a byte at a time would keep it alive for as long as it likes.
    auto *deadline = new QTimer(reply);
    deadline->setSingleShot(true);
    connect(deadline, &QTimer::timeout, reply, [reply] {
        if (reply->isFinished())
            return;
        reply->setProperty(timedOutProperty, true);
        reply->abort();
    });
    deadline->start(timeoutMs);
}

void UpdateChecker::watchSize(QNetworkReply *reply)
{
    // Stops a body that announces or reaches more than a manifest may hold
    // before the network stack buffers all of it.
    const auto cutOffWhenTooLarge = [reply] {
        const qint64 announced = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong();
        if (announced <= maxManifestBytes && reply->bytesAvailable() <= maxManifestBytes)
            return;
        if (reply->property(tooLargeProperty).toBool())
            return;
        reply->setProperty(tooLargeProperty, true);
        reply->abort();
    };
    connect(reply, &QNetworkReply::metaDataChanged, reply, cutOffWhenTooLarge);
    connect(reply, &QNetworkReply::readyRead, reply, cutOffWhenTooLarge);
}

void UpdateChecker::onReplyFinished(QNetworkReply *reply)
{
    reply->deleteLater();
    if (reply->property(tooLargeProperty).toBool()) {
        emit checkFailed(tooLargeText());
        return;
    }
    if (reply->property(timedOutProperty).toBool()) {
        emit checkFailed(QStringLiteral("No answer within %1 ms").arg(timeoutMs));
        return;
    }
    if (reply->error() != QNetworkReply::NoError) {
        emit checkFailed(reply->errorString());
        return;
    }
    const QByteArray body = reply->read(maxManifestBytes + 1);
    if (body.size() > maxManifestBytes) {
        emit checkFailed(tooLargeText());
        return;
    }

    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(body, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject()) {
        emit checkFailed(QStringLiteral("Invalid JSON: ") + parseError.errorString());
        return;
    }
    const QJsonObject manifest = document.object();
    const QString version = manifest.value(QStringLiteral("version")).toString().trimmed();
    const QString downloadUrl = manifest.value(QStringLiteral("download_url")).toString();
    if (version.isEmpty()) {
        emit checkFailed(QStringLiteral("Missing 'version' field in manifest"));
        return;
    }
    if (parseVersion(version) > parseVersion(QLatin1String(appVersion)))
        emit updateAvailable(version, downloadUrl);
    else
        emit upToDate();
}

std::array<int, 3> UpdateChecker::parseVersion(const QString &version)
{
    std::array<int, 3> parts{0, 0, 0};
    const QStringList pieces = version.split(u'.');
    for (int i = 0; i < 3 && i < pieces.size(); ++i) {
        if (!isWholeDecimal(pieces.at(i)))
            continue;
        bool ok = false;
        const int value = pieces.at(i).toInt(&ok, 10);
        parts[size_t(i)] = ok ? value : 0;
    }
    return parts;
}

QString UpdateChecker::bannerLink(const QString &downloadUrl)
{
    QUrl link(downloadUrl.trimmed(), QUrl::StrictMode);
    const QString scheme = link.scheme();
    const bool web = scheme == QLatin1String("http") || scheme == QLatin1String("https");
    if (!link.isValid() || !web || link.host().isEmpty())
        link = QUrl(QLatin1String(defaultDownloadPage));
    // Fully encoded, the address holds no blank, quote or angle bracket but the
    // single quote, which would end the attribute it stands in.
    QString encoded = QString::fromLatin1(link.toEncoded(QUrl::FullyEncoded));
    encoded.replace(u'\'', QLatin1String("%27"));
    return encoded;
}

QString UpdateChecker::bannerText(const QString &version, const QString &downloadUrl)
{
    QString shown = version;
    if (shown.size() > maxShownVersionChars)
        shown = shown.left(maxShownVersionChars - 1) + QChar(0x2026);
    return QStringLiteral("Quillmark %1 is available.  <a href='%2'>Download</a>")
        .arg(shown.toHtmlEscaped(), bannerLink(downloadUrl));
}

} // namespace Quillmark
