#pragma once

#include <QObject>
#include <QString>
#include <QUrl>
#include <QVariantList>
#include <QVariantMap>

#include <chrono>
#include <functional>
#include <memory>

class QNetworkAccessManager;
class AppsearchSession;

// One app of the old phone and, once asked for, the app-search service's
// recommended Windows Phone apps for it. Each recommendation is a dictionary
// {"appName", "appID", "iconURL", "rating"} (rating 0 to 5, a number).
class AppsearchApp
{
public:
    AppsearchApp(QString sourceAppName, QString sourceAppID);

    // The old phone's app: the sort key of the app list.
    const QString &sourceAppName() const { return m_sourceAppName; }
    const QString &sourceAppID() const { return m_sourceAppID; }

    const QVariantList &similarApps() const { return m_similarApps; }
    void setSimilarApps(QVariantList apps) { m_similarApps = std::move(apps); }

private:
    QString m_sourceAppName;
    QString m_sourceAppID;
    QVariantList m_similarApps;
};

// A client of an app-search web service. The base class stands for "some
// service" and raises "Abstract Base Class" from what a service must supply;
// the concrete sessions below answer with their own queries. Requests are
// GETs over https (http only to a loopback host) with a time-out; the reply
// is JSON.
class AppsearchSession : public QObject
{
    Q_OBJECT

public:
    explicit AppsearchSession(QObject *parent = nullptr);
    ~AppsearchSession() override;

    // An app-search object for the old phone's app, or null when the name or
    // the identifier is empty.
    virtual std::unique_ptr<AppsearchApp> appsearchAppWithAppName(const QString &appName, const QString &appID);

    // The query for the recommendations of `app`, and how its reply reads.
    virtual QUrl similarAppsURL(const AppsearchApp &app) const;
    virtual QVariantList similarAppsFromReply(const QVariant &reply) const;

    // Asks the service for the recommendations of `app` and stores them in
    // it; `done` gets false when the service did not answer usably. `app`
    // must outlive the call's answer.
    void fetchSimilarApps(AppsearchApp *app, std::function<void(bool ok)> done);

    void setRequestTimeout(std::chrono::milliseconds timeout) { m_timeout = timeout; }

protected:
    // The base URL of a user-default setting: https, or http to loopback;
    // invalid otherwise. The URL's path ends with "/".
    static QUrl serviceBase(const QString &key, const QString &fallback);
    // `base` with `endpoint` (e.g. "similar") and the query items.
    static QUrl query(const QUrl &base, const QString &endpoint, const QList<QPair<QString, QString>> &items);
    // The recommendations listed under `listKey` of a reply, each item read
    // through the service's key names; items without a name or an identifier
    // are left out, icons other than web addresses are dropped.
    struct Keys
    {
        const char *name;
        const char *id;
        const char *icon;
        const char *rating;
    };
    static QVariantList recommendations(const QVariant &reply, const char *listKey, const Keys &keys);

private:
    std::unique_ptr<QNetworkAccessManager> m_network;
    std::chrono::milliseconds m_timeout{30000};
};

// The first service: "similar?" for recommendations, "event?" to tell it
// which recommendation the person opened. Base URL: user default
// "QuixeyURL" (default "https://api.quixey.com/1.0/").
class QuixeySession : public AppsearchSession
{
    Q_OBJECT

public:
    using AppsearchSession::AppsearchSession;
    std::unique_ptr<AppsearchApp> appsearchAppWithAppName(const QString &appName, const QString &appID) override;
    QUrl similarAppsURL(const AppsearchApp &app) const override;
    QVariantList similarAppsFromReply(const QVariant &reply) const override;
    QUrl eventURL(const QString &eventName, const QString &appID) const;
    static QUrl baseURL();
};

// The second service: "get-similar-apps?" for recommendations, "get-app?"
// for one app's details. Base URL: user default "XyologicURL" (default
// "https://api.xyologic.com/").
class XyologicSession : public AppsearchSession
{
    Q_OBJECT

public:
    using AppsearchSession::AppsearchSession;
    std::unique_ptr<AppsearchApp> appsearchAppWithAppName(const QString &appName, const QString &appID) override;
    QUrl similarAppsURL(const AppsearchApp &app) const override;
    QVariantList similarAppsFromReply(const QVariant &reply) const override;
    QUrl appURL(const QString &appID) const;
    static QUrl baseURL();
};
