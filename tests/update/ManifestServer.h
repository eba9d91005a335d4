#pragma once

// A one-port HTTP server on the loopback interface that answers every request
// with one canned response, so update checks are tested without the internet.
// Silent mode accepts connections and never answers.

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <memory>

namespace QmTest {

class ManifestServer : public QObject {
public:
    ManifestServer()
    {
        server.listen(QHostAddress::LocalHost);
        QObject::connect(&server, &QTcpServer::newConnection, this, [this] { accept(); });
    }

    QString url(const QString &path = QStringLiteral("/version.json")) const
    {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(server.serverPort()).arg(path);
    }

    // A whole response: status line, headers and body.
    void respond(const QByteArray &raw) { response = raw; }
    // 200 with a JSON body and its length.
    void serveJson(const QByteArray &body)
    {
        respond("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " +
                QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
    }
    void beSilent() { response.clear(); }
    // Sends the response but leaves the connection open, as a server still
    // streaming the rest of a long body would.
    bool keepOpen = false;
    // Sends the response one byte every `intervalMs` instead of at once, as a
    // server on a dying line does; 0 sends it whole.
    int trickleMs = 0;
    // Answers a request for `from` with a redirect to `to`, and everything else as set.
    void redirect(const QByteArray &from, const QString &to)
    {
        redirectFrom = from;
        redirectTo = to.toUtf8();
    }

    // The request lines received so far ("GET /version.json HTTP/1.1").
    QList<QByteArray> requests;
    // Connections the client closed before the server closed them.
    int droppedByClient = 0;

private:
    void accept()
    {
        while (QTcpSocket *socket = server.nextPendingConnection()) {
            socket->setParent(this);
            QObject::connect(socket, &QTcpSocket::readyRead, this, [this, socket] { answer(socket); });
            QObject::connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
                if (!socket->property("closedByServer").toBool())
                    ++droppedByClient;
            });
        }
    }

    void answer(QTcpSocket *socket)
    {
        QByteArray &buffer = pending[socket];
        buffer += socket->readAll();
        if (!buffer.contains("\r\n\r\n"))
            return;
        const QByteArray requestLine = buffer.left(buffer.indexOf("\r\n"));
        buffer.clear();
        requests.append(requestLine);
        if (!redirectFrom.isEmpty() && requestLine.split(' ').value(1) == redirectFrom) {
            socket->write("HTTP/1.1 302 Found\r\nLocation: " + redirectTo +
                          "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
            closeAfterWrite(socket);
            return;
        }
        if (response.isEmpty())
            return; // silent
        if (trickleMs > 0) {
            trickle(socket);
            return;
        }
        socket->write(response);
        if (!keepOpen)
            closeAfterWrite(socket);
    }

    void trickle(QTcpSocket *socket)
    {
        auto *timer = new QTimer(socket);
        auto sent = std::make_shared<qsizetype>(0);
        QObject::connect(timer, &QTimer::timeout, socket, [this, socket, timer, sent] {
            if (*sent >= response.size()) {
                timer->stop();
                closeAfterWrite(socket);
                return;
            }
            socket->write(response.mid((*sent)++, 1));
            socket->flush();
        });
        timer->start(trickleMs);
    }

    void closeAfterWrite(QTcpSocket *socket)
    {
        socket->setProperty("closedByServer", true);
        socket->flush();
        socket->disconnectFromHost();
    }

    QTcpServer server;
    QByteArray response;
    QByteArray redirectFrom;
    QByteArray redirectTo;
    QHash<QTcpSocket *, QByteArray> pending;
};

} // namespace QmTest
