#include "online/AppsearchSession.h"

#include "foundation/Json.h"
#include "foundation/Log.h"
#include "online/OnlineHosts.h"
#include "platform/UserDefaults.h"
#include "platform/VtrException.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrlQuery>

namespace {

[[noreturn]] void abstractMethod()
{
    throw VtrException(QStringLiteral("Abstract Base Class"),
                       QStringLiteral("This method needs to be overridden in subclasses"));
}

// Replies bigger than this are no list of apps.
constexpr qint64 kMaxReplyBytes = 4 * 1024 * 1024;
// The platform the recommendations are for.
const QString kTargetPlatform = QStringLiteral("windowsphone");

std::unique_ptr<AppsearchApp> makeApp(const QString &appName, const QString &appID)
{
    if (appName.trimmed().isEmpty() || appID.trimmed().isEmpty()) return nullptr;
    return std::make_unique<AppsearchApp>(appName, appID);
}

}  // namespace

AppsearchApp::AppsearchApp(QString sourceAppName, QString sourceAppID)
    : m_sourceAppName(std::move(sourceAppName)), m_sourceAppID(std::move(sourceAppID))
{
}

AppsearchSession::AppsearchSession(QObject *parent) : QObject(parent) {}

AppsearchSession::~AppsearchSession()
{
    if (m_network) m_network.release()->deleteLater();
}

std::unique_ptr<AppsearchApp> AppsearchSession::appsearchAppWithAppName(const QString &, const QString &)
{
    abstractMethod();
}

QUrl AppsearchSession::similarAppsURL(const AppsearchApp &) const
{
    abstractMethod();
}

QVariantList AppsearchSession::similarAppsFromReply(const QVariant &) const
{
    abstractMethod();
}

QUrl AppsearchSession::serviceBase(const QString &key, const QString &fallback)
{
    const QVariant setting = platform::UserDefaults::value(key);
    QUrl url(setting.typeId() == QMetaType::QString && !setting.toString().trimmed().isEmpty()
                 ? setting.toString().trimmed()
                 : fallback,
             QUrl::StrictMode);
    const bool secure = url.scheme() == QLatin1String("https") ||
                        (url.scheme() == QLatin1String("http") && vtronline::isLoopbackHost(url.host()));
    if (!url.isValid() || url.host().isEmpty() || !secure || !url.userInfo().isEmpty() || url.hasQuery() ||
        url.hasFragment()) {
        VTR_LOG(1, QStringLiteral("App search: the setting %1 is not an https URL.").arg(key));
        return {};
    }
    if (!url.path().endsWith(QLatin1Char('/'))) url.setPath(url.path() + QLatin1Char('/'));
    return url;
}

QUrl AppsearchSession::query(const QUrl &base, const QString &endpoint, const QList<QPair<QString, QString>> &items)
{
    if (!base.isValid()) return {};
    QUrl url = base;
    url.setPath(base.path() + endpoint);
    QStringList parts;
    for (const auto &item : items)
        parts << item.first + QLatin1Char('=') + QString::fromLatin1(QUrl::toPercentEncoding(item.second));
    url.setQuery(parts.join(QLatin1Char('&')), QUrl::StrictMode);
    return url;
}

QVariantList AppsearchSession::recommendations(const QVariant &reply, const char *listKey, const Keys &keys)
{
    QVariantList apps;
    for (const QVariant &entry : reply.toMap().value(QLatin1String(listKey)).toList()) {
        const QVariantMap item = entry.toMap();
        const QString name = item.value(QLatin1String(keys.name)).toString();
        const QVariant id = item.value(QLatin1String(keys.id));
        if (name.isEmpty() || !id.isValid() || id.toString().isEmpty()) continue;
        QVariantMap app{{QStringLiteral("appName"), name}, {QStringLiteral("appID"), id.toString()}};
        const QUrl icon(item.value(QLatin1String(keys.icon)).toString());
        if (icon.isValid() && (icon.scheme() == QLatin1String("https") || icon.scheme() == QLatin1String("http")))
            app.insert(QStringLiteral("iconURL"), icon.toString());
        bool numeric = false;
        const double rating = item.value(QLatin1String(keys.rating)).toDouble(&numeric);
        app.insert(QStringLiteral("rating"), numeric ? qBound(0.0, rating, 5.0) : 0.0);
        apps << app;
    }
    return apps;
}

void AppsearchSession::fetchSimilarApps(AppsearchApp *app, std::function<void(bool ok)> done)
{
    const QUrl url = similarAppsURL(*app);
    if (!url.isValid()) {
        done(false);
        return;
    }
    if (!m_network) m_network = std::make_unique<QNetworkAccessManager>();
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setTransferTimeout(int(m_timeout.count()));
    QNetworkReply *reply = m_network->get(request);
    connect(reply, &QNetworkReply::downloadProgress, reply, [reply](qint64 received, qint64 total) {
        if (received > kMaxReplyBytes || total > kMaxReplyBytes) reply->abort();
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply, app, done] {
        reply->deleteLater();
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        const QString name = app->sourceAppName();
        if (reply->error() != QNetworkReply::NoError || status < 200 || status > 299) {
            VTR_LOG(1, QStringLiteral("App search: no recommendations for \"%1\" (HTTP %2, network error %3).")
                           .arg(name)
                           .arg(status)
                           .arg(int(reply->error())));
            done(false);
            return;
        }
        const QVariant json = vtr::JSONValueFromUtf8(reply->readAll());
        QVariantList apps = json.isValid() ? similarAppsFromReply(json) : QVariantList();
        app->setSimilarApps(apps);
        done(json.isValid());
    });
}

// ---- first service ------------------------------------------------------------

QUrl QuixeySession::baseURL()
{
    return serviceBase(QStringLiteral("QuixeyURL"), QStringLiteral("https://api.quixey.com/1.0/"));
}

std::unique_ptr<AppsearchApp> QuixeySession::appsearchAppWithAppName(const QString &appName, const QString &appID)
{
    return makeApp(appName, appID);
}

QUrl QuixeySession::similarAppsURL(const AppsearchApp &app) const
{
    return query(baseURL(), QStringLiteral("similar"),
                 {{QStringLiteral("name"), app.sourceAppName()},
                  {QStringLiteral("id"), app.sourceAppID()},
                  {QStringLiteral("platform"), kTargetPlatform}});
}

QUrl QuixeySession::eventURL(const QString &eventName, const QString &appID) const
{
    return query(baseURL(), QStringLiteral("event"), {{QStringLiteral("type"), eventName}, {QStringLiteral("id"), appID}});
}

QVariantList QuixeySession::similarAppsFromReply(const QVariant &reply) const
{
    return recommendations(reply, "results", {"name", "id", "icon_url", "rating"});
}

// ---- second service -----------------------------------------------------------

QUrl XyologicSession::baseURL()
{
    return serviceBase(QStringLiteral("XyologicURL"), QStringLiteral("https://api.xyologic.com/"));
}

std::unique_ptr<AppsearchApp> XyologicSession::appsearchAppWithAppName(const QString &appName, const QString &appID)
{
    return makeApp(appName, appID);
}

QUrl XyologicSession::similarAppsURL(const AppsearchApp &app) const
{
    return query(baseURL(), QStringLiteral("get-similar-apps"),
                 {{QStringLiteral("app_id"), app.sourceAppID()},
                  {QStringLiteral("app_name"), app.sourceAppName()},
                  {QStringLiteral("target_platform"), kTargetPlatform}});
}

QUrl XyologicSession::appURL(const QString &appID) const
{
    return query(baseURL(), QStringLiteral("get-app"), {{QStringLiteral("app_id"), appID}});
}

QVariantList XyologicSession::similarAppsFromReply(const QVariant &reply) const
{
    return recommendations(reply, "apps", {"title", "app_id", "icon", "avg_rating"});
}
