#include "online/LiveSession.h"

#include "foundation/Json.h"
#include "foundation/Log.h"
#include "online/LiveLoginSheet.h"
#include "online/OnlineHosts.h"
#include "platform/VtrException.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrlQuery>
#include <QWidget>

namespace {

const QString kApiRoot = QStringLiteral("/v5.0/");
// The permissions the upload needs: create contacts, calendars and events.
const QString kScopes = QStringLiteral("wl.basic wl.contacts_create wl.calendars_update wl.events_create");
const QString kDefaultClientID = QStringLiteral("00000000480FB3A6");

}  // namespace

LiveSession::LiveSession(QWidget *window, QObject *parent) : QObject(parent), m_window(window) {}

LiveSession::~LiveSession()
{
    m_alive.reset();
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->abort();
    }
    // The session may go from inside a reply's signal: its manager (and the
    // replies it owns) must outlive that signal.
    if (m_network) m_network.release()->deleteLater();
    m_token.fill(QLatin1Char('\0'));
    m_data.fill('\0');
}

void LiveSession::setTokenProvider(std::unique_ptr<LiveTokenProvider> provider)
{
    m_provider = std::move(provider);
}

QString LiveSession::loginHost()
{
    return vtronline::hostSetting(QStringLiteral("LiveLoginHost"), QStringLiteral("login.live.com"));
}

QString LiveSession::apiHost()
{
    return vtronline::hostSetting(QStringLiteral("LiveAPIHost"), QStringLiteral("apis.live.net"));
}

QString LiveSession::clientID()
{
    return vtronline::hostSetting(QStringLiteral("LiveClientID"), kDefaultClientID);
}

QUrl LiveSession::desktopRedirectURL()
{
    return vtronline::serviceUrl(loginHost(), QStringLiteral("/oauth20_desktop.srf"));
}

QUrl LiveSession::authorizeURL()
{
    QUrl url = vtronline::serviceUrl(loginHost(), QStringLiteral("/oauth20_authorize.srf"));
    if (!url.isValid()) return url;
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("client_id"), QString::fromLatin1(QUrl::toPercentEncoding(clientID())));
    query.addQueryItem(QStringLiteral("scope"), QString::fromLatin1(QUrl::toPercentEncoding(kScopes)));
    query.addQueryItem(QStringLiteral("response_type"), QStringLiteral("token"));
    query.addQueryItem(QStringLiteral("redirect_uri"),
                       QString::fromLatin1(QUrl::toPercentEncoding(desktopRedirectURL().toString())));
    url.setQuery(query);
    return url;
}

QUrl LiveSession::objectURL(const QString &object)
{
    return vtronline::serviceUrl(apiHost(), kApiRoot + object);
}

void LiveSession::postData(const QByteArray &data, const QString &object)
{
    if (m_busy)
        throw VtrException(QStringLiteral("NSInternalInconsistencyException"),
                           QStringLiteral("A Windows Live request is already in progress."));
    m_busy = true;
    m_data = data;
    m_object = object;
    if (m_token.isEmpty())
        requestToken();
    else
        send();
}

void LiveSession::requestToken()
{
    if (!m_provider) m_provider = std::make_unique<LiveLoginSheet>(m_window.data());
    std::weak_ptr<bool> alive = m_alive;
    m_provider->requestAccessToken([this, alive](const QString &token) {
        if (alive.expired() || !m_busy) return;
        if (token.isEmpty()) {
            VTR_LOG(0, QStringLiteral("Windows Live: no login, nothing sent to %1.").arg(m_object));
            m_busy = false;
            m_data.clear();
            if (LiveSessionDelegate *delegate = m_delegate) delegate->liveSessionUserCancelled();
            return;
        }
        m_token = token;
        send();
    });
}

void LiveSession::send()
{
    QUrl url = objectURL(m_object);
    if (!url.isValid()) {
        VTR_LOG(2, QStringLiteral("Windows Live: the API host setting \"%1\" is not a host name; %2 not sent.")
                       .arg(apiHost(), m_object));
        LiveReply reply;
        reply.object = m_object;
        reportLater(reply);
        return;
    }
    // Encoded whole: tokens hold "+", "/" and "=", which a query would misread.
    url.setQuery(QStringLiteral("access_token=") + QString::fromLatin1(QUrl::toPercentEncoding(m_token)),
                 QUrl::StrictMode);
    if (!m_network) m_network = std::make_unique<QNetworkAccessManager>();
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    // A redirect would carry the token to wherever it points.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    request.setTransferTimeout(int(m_timeout.count()));
    QNetworkReply *reply = m_network->post(request, m_data);
    m_reply = reply;
    connect(reply, &QNetworkReply::finished, this, [this, reply] { finished(reply); });
}

void LiveSession::finished(QNetworkReply *reply)
{
    reply->deleteLater();
    if (reply != m_reply) return;
    m_reply = nullptr;
    const QNetworkReply::NetworkError error = reply->error();
    LiveReply answer;
    answer.object = m_object;
    answer.httpStatus = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    answer.timedOut = answer.httpStatus == 0 &&
                      (error == QNetworkReply::OperationCanceledError || error == QNetworkReply::TimeoutError);

    if (answer.httpStatus == 401 && !m_reloginSpent) {
        // An expired or revoked token: one new login per session, so a server
        // that refuses every token cannot keep the sheet coming back.
        m_reloginSpent = true;
        m_token.clear();
        VTR_LOG(1, QStringLiteral("Windows Live: the access token was refused at %1; asking for a new login.")
                       .arg(m_object));
        requestToken();
        return;
    }

    if (answer.succeeded()) {
        const QByteArray body = reply->readAll();
        if (!body.trimmed().isEmpty()) answer.json = vtr::JSONFragmentValueFromUtf8(body);
        VTR_LOG(0, QStringLiteral("Windows Live: %1 answered HTTP %2.").arg(m_object).arg(answer.httpStatus));
    } else if (answer.timedOut) {
        VTR_LOG(1, QStringLiteral("Windows Live: %1 did not answer within %2 s.")
                       .arg(m_object)
                       .arg(m_timeout.count() / 1000.0));
    } else {
        // Never the reply's error text: it quotes the URL, token and all.
        VTR_LOG(1, QStringLiteral("Windows Live: %1 failed (HTTP %2, network error %3).")
                       .arg(m_object)
                       .arg(answer.httpStatus)
                       .arg(int(error)));
    }
    m_busy = false;
    m_data.clear();
    if (LiveSessionDelegate *delegate = m_delegate) delegate->liveSessionRequestFinished(answer);
}

void LiveSession::reportLater(LiveReply reply)
{
    QTimer::singleShot(0, this, [this, reply] {
        m_busy = false;
        m_data.clear();
        if (LiveSessionDelegate *delegate = m_delegate) delegate->liveSessionRequestFinished(reply);
    });
}
