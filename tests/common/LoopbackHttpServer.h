#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QPair>
#include <QString>
#include <QTcpServer>

#include <functional>
#include <optional>

class QTcpSocket;

// A web server on 127.0.0.1 for tests. Without routes it answers every request
// with one canned response, optionally late or cut short. Routes answer chosen
// method and path pairs (each request's answer may be computed), including
// redirects and silence; every request is kept with its headers and body.
// Runs on the test's event loop.
class LoopbackHttpServer
{
public:
    struct Request
    {
        QByteArray method;
        QByteArray target;  // as sent: path and query
        QByteArray path;    // the target up to "?"
        QByteArray query;   // after "?", empty when none
        QHash<QByteArray, QByteArray> headers;  // names in lower case
        QByteArray body;
    };

    struct Response
    {
        int status = 200;
        QByteArray body;
        QByteArray contentType;
        QList<QPair<QByteArray, QByteArray>> headers;
        int delayMs = 0;
        // Never answered: the connection stays open until the client gives up.
        bool silent = false;

        static Response redirect(const QString &location, int status = 302);
        static Response silence();
    };

    using Handler = std::function<Response(const Request &)>;

    LoopbackHttpServer();
    ~LoopbackHttpServer();

    // "127.0.0.1:<port>", and a full URL for a path on it.
    QString host() const;
    QString url(const QString &path) const;

    // Answers `method` (empty: any) requests for exactly `path` (no query);
    // a later route for the same request replaces an earlier one.
    void route(const QByteArray &method, const QByteArray &path, Handler handler);
    void route(const QByteArray &method, const QByteArray &path, const Response &response);

    // The canned response of requests no route takes.
    int status = 200;
    QByteArray body;
    // Announced length minus the bytes sent: the connection closes early.
    int missingBytes = 0;
    int delayMs = 0;

    int requests = 0;
    QByteArray lastRequestLine;
    QList<Request> received;

private:
    struct Route
    {
        QByteArray method;
        QByteArray path;
        Handler handler;
    };

    void serve(QTcpSocket *socket);
    void answer(QTcpSocket *socket, const Request &request);

    QTcpServer m_server;
    QHash<QTcpSocket *, QByteArray> m_buffers;
    QList<Route> m_routes;
};
