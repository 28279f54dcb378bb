#pragma once

#include "online/LiveTokenProvider.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <QVariant>

#include <chrono>
#include <memory>

class QNetworkAccessManager;
class QNetworkReply;
class QWidget;

// The answer to one request of a Live session.
struct LiveReply
{
    QString object;        // what was posted to, e.g. "me/contacts"
    int httpStatus = 0;    // 0 when no HTTP answer came
    bool timedOut = false;
    QVariant json;         // the parsed reply body; invalid when it is not JSON
    bool succeeded() const { return httpStatus >= 200 && httpStatus <= 299; }
};

// The uploader that a session reports to.
class LiveSessionDelegate
{
public:
    virtual ~LiveSessionDelegate() = default;
    // The request has ended, answered or not. The receiver may post the next
    // request, or drop the session, from within.
    virtual void liveSessionRequestFinished(const LiveReply &reply) = 0;
    // The person declined to log in; the request was not sent.
    virtual void liveSessionUserCancelled() = 0;
};

// A Windows Live session: the access token for this run and the REST
// requests under "/v5.0/" on the API host. A request that needs a token asks
// the token provider (the login sheet on the session's window unless one is
// set). The token lives in this object's memory only: it is sent in the
// request's "access_token" query item over https (http only to a loopback
// host), and never logged: log lines name the object, never the URL, and
// never the network layer's error texts (which quote the URL).
//
// One request at a time. A 401 answer costs the token and asks for a new
// login once per session; a second 401 is reported like any failure. A
// request without progress for the time-out is aborted and reported as timed out.
class LiveSession : public QObject
{
    Q_OBJECT

public:
    // `window`: where the login sheet is shown (may be null: a free window).
    explicit LiveSession(QWidget *window, QObject *parent = nullptr);
    ~LiveSession() override;
    LiveSession(const LiveSession &) = delete;
    LiveSession &operator=(const LiveSession &) = delete;

    void setDelegate(LiveSessionDelegate *delegate) { m_delegate = delegate; }
    LiveSessionDelegate *delegate() const { return m_delegate; }

    // Replaces the login sheet (tests, other front ends).
    void setTokenProvider(std::unique_ptr<LiveTokenProvider> provider);

    // POSTs `data` (JSON) to `object` (a path below "/v5.0/"); the answer
    // goes to the delegate. Raises when a request is already under way.
    void postData(const QByteArray &data, const QString &object);
    bool isBusy() const { return m_busy; }
    bool hasAccessToken() const { return !m_token.isEmpty(); }

    void setRequestTimeout(std::chrono::milliseconds timeout) { m_timeout = timeout; }

    // ---- hosts (user defaults) ---------------------------------------------
    // "LiveLoginHost" (default "login.live.com"), "LiveAPIHost" (default
    // "apis.live.net"), "LiveClientID" (the application's registration).
    static QString loginHost();
    static QString apiHost();
    static QString clientID();
    // The login page, with the client, the scopes and the desktop redirect.
    static QUrl authorizeURL();
    static QUrl desktopRedirectURL();
    // The URL of `object` without the token; invalid for a bad host setting.
    static QUrl objectURL(const QString &object);

private:
    void requestToken();
    void send();
    void finished(QNetworkReply *reply);
    void reportLater(LiveReply reply);

    QPointer<QWidget> m_window;
    LiveSessionDelegate *m_delegate = nullptr;
    std::unique_ptr<LiveTokenProvider> m_provider;
    std::unique_ptr<QNetworkAccessManager> m_network;
    QString m_token;
    std::chrono::milliseconds m_timeout{60000};

    bool m_busy = false;
    bool m_reloginSpent = false;
    QByteArray m_data;
    QString m_object;
    QPointer<QNetworkReply> m_reply;
    // Guards callbacks that arrive after this session went.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};
