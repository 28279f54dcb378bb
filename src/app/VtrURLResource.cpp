#include "app/VtrURLResource.h"

#include "foundation/Log.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

VtrURLResource::VtrURLResource(QObject *delegate, const QUrl &url, QObject *parent)
    : QObject(parent), m_delegate(delegate), m_url(url)
{}

VtrURLResource::~VtrURLResource() { cancelLoading(); }

void VtrURLResource::checkExists(int timeoutMs)
{
    if (m_reply || m_answered) return;
    if (!m_url.isValid() || (m_url.scheme() != QLatin1String("http") && m_url.scheme() != QLatin1String("https"))) {
        m_status = kNoConnection;
        answer(false);
        return;
    }
    if (!m_network) m_network = new QNetworkAccessManager(this);
    QNetworkRequest request(m_url);
    // Redirects are followed, but never from https to http, and only a few.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(kMaxRedirects);
    m_status = 0;
    m_finishedLoading = false;
    m_error.clear();
    m_reply = m_network->get(request);
    connect(m_reply, &QNetworkReply::metaDataChanged, this, &VtrURLResource::headersArrived);
    connect(m_reply, &QNetworkReply::downloadProgress, this, &VtrURLResource::received);
    connect(m_reply, &QNetworkReply::finished, this, &VtrURLResource::finished);
    // One time-out for the whole check, redirects included.
    m_timeout = new QTimer(this);
    m_timeout->setSingleShot(true);
    connect(m_timeout, &QTimer::timeout, this, [this] {
        m_error = QStringLiteral("The server did not answer in time.");
        cancelLoading();
        answer(false);
    });
    m_timeout->start(std::max(1, timeoutMs));
}

void VtrURLResource::headersArrived()
{
    if (!m_reply) return;
    const QVariant status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid()) return;
    const int code = status.toInt();
    // A redirect's own headers: the final response decides.
    if (code >= 300 && code < 400 && m_reply->hasRawHeader("Location")) return;
    m_status = code;
    setProgress(0.0);
    answer(code == 200);
}

void VtrURLResource::received(qint64 bytes, qint64 total)
{
    if (total < 0) {
        setProgress(-1.0);
    } else if (total == 0) {
        setProgress(0.0);
    } else {
        setProgress(double(bytes) / double(total) * 100.0);
    }
}

void VtrURLResource::finished()
{
    QNetworkReply *reply = std::exchange(m_reply, nullptr);
    if (!reply) return;
    reply->deleteLater();
    if (reply->error() == QNetworkReply::NoError) {
        m_finishedLoading = true;
        setProgress(100.0);
    } else {
        m_error = reply->errorString();
    }
    if (!m_answered) {
        const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        if (status.isValid()) m_status = status.toInt();
        answer(m_status == 200 && reply->error() == QNetworkReply::NoError);
    }
}

void VtrURLResource::answer(bool exists)
{
    if (m_answered) return;
    m_answered = true;
    m_exists = exists;
    if (m_timeout) m_timeout->stop();
    Q_EMIT answered(exists, m_status);
}

void VtrURLResource::cancelLoading()
{
    if (m_timeout) m_timeout->stop();
    QNetworkReply *reply = std::exchange(m_reply, nullptr);
    if (!reply) return;
    reply->disconnect(this);
    if (!reply->isFinished()) reply->abort();
    reply->deleteLater();
}

void VtrURLResource::setProgress(double percent)
{
    if (percent == m_downloadProgress) return;
    m_downloadProgress = percent;
    Q_EMIT downloadProgressChanged(percent);
}
