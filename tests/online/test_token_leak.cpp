// A whole upload, logins through the login sheet included, with logging at
// its most verbose: the access tokens appear in no log line and no file.
#include "LoopbackHttpServer.h"
#include "TestEnvironment.h"
#include "foundation/Log.h"
#include "online/LiveCalendars.h"
#include "online/LiveContacts.h"
#include "online/LiveSession.h"
#include "platform/UserDefaults.h"
#include "support/LiveTestSupport.h"
#include "support/WebEngineTestSetup.h"

#include <QDirIterator>
#include <QFile>
#include <QUrl>
#include <QWidget>

#include <gtest/gtest.h>

using namespace livetest;
using Response = LoopbackHttpServer::Response;
using Request = LoopbackHttpServer::Request;

namespace {

QStringList g_messages;

void captureQtMessage(QtMsgType, const QMessageLogContext &, const QString &message)
{
    g_messages << message;
}

// Every way the token could be written: as it is, URL-encoded, in a form.
QList<QByteArray> spellings(const QString &token)
{
    return {token.toUtf8(), QUrl::toPercentEncoding(token), token.toUtf8().toBase64(),
            QByteArray(token.toUtf8()).replace('+', ' ')};
}

}  // namespace

TEST(TokenLeak, NoTokenInTheLogOrAnyFileWritten)
{
    ASSERT_TRUE(g_webEngineReady);
    const QStringList tokens{QStringLiteral("Leak+Probe/One=AAAA1111"), QStringLiteral("Leak+Probe/Two=BBBB2222")};

    const QString logFile = testenv::makeTempDir(QStringLiteral("logs")) + QStringLiteral("/upload.log");
    LogInitialize(nullptr, logFile);
    LogEnableEverything();
    LogSetPacketsEnabled(true);
    LogSetRecordsEnabled(true);
    VtrLogDebug::setDebugLevel(100);
    LogSetSystemLogSink([](const QString &m) { g_messages << m; });
    qInstallMessageHandler(captureQtMessage);

    LoopbackHttpServer server;
    platform::UserDefaults::setValue(QStringLiteral("LiveLoginHost"), server.host());
    int logins = 0;
    server.route("GET", "/oauth20_authorize.srf", [&](const Request &) {
        const QString token = tokens.value(logins++);
        return Response::redirect(server.url(QStringLiteral("/oauth20_desktop.srf#access_token=")) +
                                  QString::fromLatin1(QUrl::toPercentEncoding(token)) +
                                  QStringLiteral("&token_type=bearer"));
    });
    server.route("GET", "/oauth20_desktop.srf", Response{});
    // Every failure the session logs: refused token, error answers, silence,
    // an unusable calendar identifier.
    routeLiveApi(server, [](int i, const Request &) -> std::optional<Response> {
        Response r;
        switch (i) {
        case 1: r.status = 401; return r;
        case 3: r.status = 500; r.body = "{\"error\":{\"message\":\"bad\"}}"; return r;
        case 4: return Response::silence();
        case 7: return created("{\"id\":\"a/b\"}");
        default: return std::nullopt;
        }
    });

    QWidget window;
    window.show();
    LiveSession session(&window);
    session.setRequestTimeout(std::chrono::milliseconds(500));
    RecordingDelegate delegate;
    {
        LiveContacts contacts({contact(QStringLiteral("Ann")), contact(QStringLiteral("Bob")),
                               contact(QStringLiteral("Cy")), contact(QStringLiteral("Dee"))},
                              &session, &delegate);
        contacts.startSendingContacts();
        ASSERT_TRUE(waitUntil([&] { return delegate.ended(); }, 60000));
        EXPECT_EQ(contacts.numSuccess(), 2u);
    }
    {
        const QVariantMap withEvent{{QStringLiteral("name"), QStringLiteral("Work")},
                                    {QStringLiteral("events"), QVariantList{QVariantMap{{QStringLiteral("name"), 1}}}}};
        LiveCalendars calendars({withEvent, withEvent}, &session, &delegate);
        calendars.startSendingCalendars();
        ASSERT_TRUE(waitUntil([&] { return delegate.completions == 2; }, 60000));
        EXPECT_EQ(calendars.numEvSuccess(), 1u);
    }
    ASSERT_EQ(logins, 2);
    // Both tokens did reach the server: the search below looks for real values.
    ASSERT_FALSE(server.received.isEmpty());
    EXPECT_EQ(tokenOf(server.received.last()), tokens[1]);

    LogTerminate();
    qInstallMessageHandler(nullptr);
    LogSetSystemLogSink({});
    LogResetToBuiltInFlags();
    platform::UserDefaults::synchronize();

    ASSERT_GT(QFileInfo(logFile).size(), 0);
    const QByteArray messages = g_messages.join(QLatin1Char('\n')).toUtf8();
    int files = 0;
    for (const QString &token : tokens) {
        for (const QByteArray &spelling : spellings(token)) {
            EXPECT_FALSE(messages.contains(spelling)) << spelling.constData();
            QDirIterator it(testenv::root(), QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
            while (it.hasNext()) {
                const QString path = it.next();
                ++files;
                QFile file(path);
                if (!file.open(QIODevice::ReadOnly)) continue;
                EXPECT_FALSE(file.readAll().contains(spelling)) << path.toStdString() << " holds " << spelling.constData();
            }
        }
    }
    EXPECT_GT(files, 0);
}
