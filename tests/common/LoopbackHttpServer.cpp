#include "LoopbackHttpServer.h"

#include <QTcpSocket>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200: return "OK";
    case 201: return "Created";
    case 204: return "No Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 303: return "See Other";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    default: return status < 400 ? "OK" : "Error";
    }
}

// The request in `pending` once its header and announced body have arrived.
std::optional<LoopbackHttpServer::Request> parseRequest(const QByteArray &pending, qsizetype *consumed)
{
    const qsizetype headerEnd = pending.indexOf("\r\n\r\n");
    if (headerEnd < 0) return std::nullopt;
    const QList<QByteArray> lines = pending.left(headerEnd).split('\n');
    LoopbackHttpServer::Request request;
    const QList<QByteArray> words = lines.value(0).trimmed().split(' ');
    request.method = words.value(0);
    request.target = words.value(1);
    const qsizetype q = request.target.indexOf('?');
    request.path = q < 0 ? request.target : request.target.left(q);
    request.query = q < 0 ? QByteArray() : request.target.mid(q + 1);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0)
            request.headers.insert(lines[i].left(colon).trimmed().toLower(), lines[i].mid(colon + 1).trimmed());
    }
    const qsizetype length = request.headers.value("content-length", "0").toLongLong();
    if (pending.size() < headerEnd + 4 + length) return std::nullopt;
    request.body = pending.mid(headerEnd + 4, length);
    *consumed = headerEnd + 4 + length;
    return request;
}

}  // namespace

LoopbackHttpServer::Response LoopbackHttpServer::Response::redirect(const QString &location, int status)
{
    Response r;
    r.status = status;
    r.headers.append({"Location", location.toUtf8()});
    return r;
}

LoopbackHttpServer::Response LoopbackHttpServer::Response::silence()
{
    Response r;
    r.silent = true;
    return r;
}

LoopbackHttpServer::LoopbackHttpServer()
{
    EXPECT_TRUE(m_server.listen(QHostAddress::LocalHost, 0));
    QObject::connect(&m_server, &QTcpServer::newConnection, [this] {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { serve(socket); });
            QObject::connect(socket, &QTcpSocket::disconnected, socket, [this, socket] {
                m_buffers.remove(socket);
                socket->deleteLater();
            });
        }
    });
}

LoopbackHttpServer::~LoopbackHttpServer()
{
    // Sockets are children of the server; a silent one must not call back into us while it goes.
    for (QTcpSocket *socket : m_server.findChildren<QTcpSocket *>()) socket->disconnect();
}

QString LoopbackHttpServer::host() const
{
    return QStringLiteral("127.0.0.1:%1").arg(m_server.serverPort());
}

QString LoopbackHttpServer::url(const QString &path) const
{
    return QStringLiteral("http://") + host() + path;
}

void LoopbackHttpServer::route(const QByteArray &method, const QByteArray &path, Handler handler)
{
    m_routes.append({method, path, std::move(handler)});
}

void LoopbackHttpServer::route(const QByteArray &method, const QByteArray &path, const Response &response)
{
    route(method, path, [response](const Request &) { return response; });
}

void LoopbackHttpServer::serve(QTcpSocket *socket)
{
    QByteArray &pending = m_buffers[socket];
    pending += socket->readAll();
    qsizetype consumed = 0;
    const std::optional<Request> request = parseRequest(pending, &consumed);
    if (!request) return;
    ++requests;
    lastRequestLine = pending.left(pending.indexOf("\r\n"));
    m_buffers.remove(socket);
    received.append(*request);
    answer(socket, *request);
}

void LoopbackHttpServer::answer(QTcpSocket *socket, const Request &request)
{
    Response response;
    bool routed = false;
    // The latest route for a path wins, so a test can change an answer.
    for (auto it = m_routes.crbegin(); it != m_routes.crend(); ++it) {
        const Route &r = *it;
        if ((r.method.isEmpty() || r.method == request.method) && r.path == request.path) {
            response = r.handler(request);
            routed = true;
            break;
        }
    }
    if (!routed) {
        response.status = status;
        response.body = body;
        response.delayMs = delayMs;
    }
    if (response.silent) return;
    const int missing = routed ? 0 : missingBytes;
    auto respond = [socket, response, missing] {
        QByteArray head = "HTTP/1.1 " + QByteArray::number(response.status) + ' ' + reasonPhrase(response.status) +
                          "\r\nContent-Length: " + QByteArray::number(response.body.size() + missing) +
                          "\r\nConnection: close\r\n";
        if (!response.contentType.isEmpty()) head += "Content-Type: " + response.contentType + "\r\n";
        for (const auto &h : response.headers) head += h.first + ": " + h.second + "\r\n";
        socket->write(head + "\r\n" + response.body);
        socket->flush();
        socket->disconnectFromHost();
    };
    if (response.delayMs > 0)
        QTimer::singleShot(response.delayMs, socket, respond);
    else
        respond();
}
