#include "online/OnlineHosts.h"

#include "platform/UserDefaults.h"

#include <QHostAddress>

namespace vtronline {

QString hostSetting(const QString &key, const QString &fallback)
{
    const QVariant value = platform::UserDefaults::value(key);
    const QString text = value.typeId() == QMetaType::QString ? value.toString().trimmed() : QString();
    return text.isEmpty() ? fallback : text;
}

bool isLoopbackHost(const QString &host)
{
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0) return true;
    QHostAddress address;
    return address.setAddress(host) && address.isLoopback();
}

QUrl serviceUrl(const QString &hostSetting, const QString &path)
{
    // The setting is a host, not a URL: anything that would change the
    // scheme, add credentials or a path is refused rather than guessed at.
    QUrl probe(QStringLiteral("//") + hostSetting, QUrl::StrictMode);
    if (!probe.isValid() || probe.host().isEmpty() || !probe.userInfo().isEmpty() || !probe.path().isEmpty() ||
        probe.hasQuery() || probe.hasFragment())
        return {};
    QUrl url;
    url.setScheme(isLoopbackHost(probe.host()) ? QStringLiteral("http") : QStringLiteral("https"));
    url.setHost(probe.host());
    url.setPort(probe.port());
    url.setPath(path);
    return url.isValid() ? url : QUrl();
}

}  // namespace vtronline
