// fuzz-links: vtr_online
// What web services and the login page hand back, hostile: the first byte
// picks a reader. A redirect address gives a token only for the desktop
// redirect; a reply body gives recommendations with web icons and bounded
// ratings only; nothing a server says becomes a request path unchecked.

#include "foundation/Json.h"
#include "foundation/Log.h"
#include "online/AppsearchSession.h"
#include "online/LiveCalendars.h"
#include "online/LiveLoginSheet.h"

#include <QUrl>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const bool quiet = [] {
        LogSetSystemLogSink([](const QString &) {});
        return true;
    }();
    (void)quiet;
    if (size == 0) return 0;
    const QByteArray bytes(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));

    switch (data[0] % 3) {
    case 0: {
        const QUrl desktop(QStringLiteral("https://login.live.com/oauth20_desktop.srf"));
        const QUrl url = QUrl::fromEncoded(bytes);
        const QString token = LiveLoginSheet::tokenFromRedirect(url, desktop);
        if (!token.isNull() && (url.host().compare(desktop.host(), Qt::CaseInsensitive) != 0 || url.scheme() != "https"))
            std::abort();
        break;
    }
    case 1: {
        const QVariant reply = vtr::JSONValueFromUtf8(bytes);
        for (const QVariantList &apps : {QuixeySession().similarAppsFromReply(reply),
                                         XyologicSession().similarAppsFromReply(reply)}) {
            for (const QVariant &app : apps) {
                const QVariantMap a = app.toMap();
                const double rating = a.value(QStringLiteral("rating")).toDouble();
                const QString icon = a.value(QStringLiteral("iconURL")).toString();
                if (rating < 0.0 || rating > 5.0 || a.value(QStringLiteral("appName")).toString().isEmpty()) std::abort();
                if (!icon.isEmpty() && !icon.startsWith(QLatin1String("http"))) std::abort();
            }
        }
        break;
    }
    default: {
        const QString id = QString::fromUtf8(bytes);
        if (LiveCalendars::isUsableCalendarID(id) &&
            (id.contains(QLatin1Char('/')) || id == QLatin1String("..") || id.contains(QLatin1Char('?'))))
            std::abort();
        break;
    }
    }
    return 0;
}
