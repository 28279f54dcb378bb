#include "support/LiveTestSupport.h"

#include "platform/UserDefaults.h"

#include <QTimer>

namespace livetest {

void FakeTokenProvider::requestAccessToken(Completion done)
{
    if (m_asked) ++*m_asked;
    const QString token = m_tokens.isEmpty() ? QString() : m_tokens.takeFirst();
    QTimer::singleShot(0, [done, token] { done(token); });
}

LoopbackHttpServer::Response created(const QByteArray &json)
{
    LoopbackHttpServer::Response r;
    r.status = 201;
    r.contentType = "application/json";
    r.body = json;
    return r;
}

void routeLiveApi(LoopbackHttpServer &server,
                  std::function<std::optional<LoopbackHttpServer::Response>(int, const LoopbackHttpServer::Request &)> answers)
{
    platform::UserDefaults::setValue(QStringLiteral("LiveAPIHost"), server.host());
    auto index = std::make_shared<int>(0);
    auto calendars = std::make_shared<int>(0);
    auto handler = [index, calendars, answers](const LoopbackHttpServer::Request &request) {
        const int i = (*index)++;
        if (answers) {
            if (std::optional<LoopbackHttpServer::Response> scripted = answers(i, request)) return *scripted;
        }
        if (request.path == "/v5.0/me/calendars")
            return created("{\"id\":\"cal" + QByteArray::number(++*calendars) + "\",\"name\":\"x\"}");
        return created();
    };
    for (const char *path : {"/v5.0/me/contacts", "/v5.0/me/calendars", "/v5.0/cal1/events", "/v5.0/cal2/events",
                             "/v5.0/cal3/events"})
        server.route("POST", path, handler);
}

QString tokenOf(const LoopbackHttpServer::Request &request)
{
    // Read from the raw query as a server's form decoding reads it, "+" as a
    // space: a token sent without percent-encoding comes out changed.
    for (const QByteArray &item : request.query.split('&')) {
        if (!item.startsWith("access_token=")) continue;
        QByteArray value = item.mid(int(sizeof("access_token=") - 1));
        value.replace('+', ' ');
        return QString::fromUtf8(QByteArray::fromPercentEncoding(value));
    }
    return QString();
}

QVariantMap contact(const QString &name)
{
    return {{QStringLiteral("first_name"), name}, {QStringLiteral("last_name"), QStringLiteral("Tester")}};
}

}  // namespace livetest
