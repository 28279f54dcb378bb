#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QTcpServer>

class QTcpSocket;

// A web server on 127.0.0.1 that answers every request with one canned
// response, optionally late or cut short. Runs on the test's event loop.
class LoopbackHttpServer
{
public:
    LoopbackHttpServer();

    // "127.0.0.1:<port>", and a full URL for a path on it.
    QString host() const;
    QString url(const QString &path) const;

    int status = 200;
    QByteArray body;
    // Announced length minus the bytes sent: the connection closes early.
    int missingBytes = 0;
    int delayMs = 0;
    int requests = 0;
    QByteArray lastRequestLine;

private:
    void serve(QTcpSocket *socket);

    QTcpServer m_server;
    QHash<QTcpSocket *, QByteArray> m_buffers;
};
