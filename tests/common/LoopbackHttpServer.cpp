#include "LoopbackHttpServer.h"

#include <QTcpSocket>
#include <QTimer>

#include <gtest/gtest.h>

LoopbackHttpServer::LoopbackHttpServer()
{
    EXPECT_TRUE(m_server.listen(QHostAddress::LocalHost, 0));
    QObject::connect(&m_server, &QTcpServer::newConnection, [this] {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { serve(socket); });
            QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
}

QString LoopbackHttpServer::host() const
{
    return QStringLiteral("127.0.0.1:%1").arg(m_server.serverPort());
}

QString LoopbackHttpServer::url(const QString &path) const
{
    return QStringLiteral("http://") + host() + path;
}

void LoopbackHttpServer::serve(QTcpSocket *socket)
{
    QByteArray &pending = m_buffers[socket];
    pending += socket->readAll();
    if (!pending.contains("\r\n\r\n")) return;
    ++requests;
    lastRequestLine = pending.left(pending.indexOf("\r\n"));
    m_buffers.remove(socket);
    auto respond = [this, socket] {
        const QByteArray reason = status == 200 ? "OK" : "Not Found";
        socket->write("HTTP/1.1 " + QByteArray::number(status) + ' ' + reason + "\r\nContent-Length: " +
                      QByteArray::number(body.size() + missingBytes) + "\r\nConnection: close\r\n\r\n" + body);
        socket->flush();
        socket->disconnectFromHost();
    };
    if (delayMs > 0)
        QTimer::singleShot(delayMs, socket, respond);
    else
        respond();
}
