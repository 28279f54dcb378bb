// Contacts and calendars reaching a loopback Live API: order, bodies, token,
// counters and callbacks under every kind of answer.
#include "LoopbackHttpServer.h"
#include "foundation/Json.h"
#include "online/LiveCalendars.h"
#include "online/LiveContacts.h"
#include "online/LiveSession.h"
#include "online/OnlineHosts.h"
#include "platform/UserDefaults.h"
#include "platform/VtrException.h"
#include "support/LiveTestSupport.h"

#include <gtest/gtest.h>

using namespace livetest;
using Response = LoopbackHttpServer::Response;
using Request = LoopbackHttpServer::Request;

namespace {

Response status(int code)
{
    Response r;
    r.status = code;
    return r;
}

QVariantMap calendar(const QString &name, int events)
{
    QVariantMap c{{QStringLiteral("name"), name}};
    if (events > 0) {
        QVariantList list;
        for (int i = 0; i < events; ++i)
            list.append(QVariantMap{{QStringLiteral("name"), QStringLiteral("%1 event %2").arg(name).arg(i)}});
        c.insert(QStringLiteral("events"), list);
    }
    return c;
}

QStringList targets(const LoopbackHttpServer &server)
{
    QStringList out;
    for (const Request &r : server.received) out << QString::fromLatin1(r.method + ' ' + r.path);
    return out;
}

class LiveUploadTest : public ::testing::Test
{
protected:
    void TearDown() override
    {
        platform::UserDefaults::remove(QStringLiteral("LiveAPIHost"));
    }

    std::unique_ptr<LiveSession> session(QStringList tokens = {QStringLiteral("tok-1")})
    {
        auto s = std::make_unique<LiveSession>(nullptr);
        s->setTokenProvider(std::make_unique<FakeTokenProvider>(std::move(tokens), &logins));
        s->setRequestTimeout(std::chrono::milliseconds(400));
        return s;
    }

    LoopbackHttpServer server;
    RecordingDelegate delegate;
    int logins = 0;
};

}  // namespace

TEST_F(LiveUploadTest, ContactsAreCountedByTheirAnswersAndTheUploadGoesOn)
{
    // 201, 400, 500, silence (a time-out), 201: two uploaded, three failed.
    routeLiveApi(server, [](int i, const Request &) -> std::optional<Response> {
        switch (i) {
        case 1: return status(400);
        case 2: return status(500);
        case 3: return Response::silence();
        default: return std::nullopt;
        }
    });
    auto s = session();
    QVariantList contacts;
    for (const char *name : {"Ann", "Bob", "Cy", "Dee", "Eve"}) contacts << contact(QString::fromLatin1(name));
    LiveContacts uploader(contacts, s.get(), &delegate);
    uploader.startSendingContacts();
    ASSERT_TRUE(waitUntil([&] { return delegate.ended(); }));

    EXPECT_EQ(delegate.completions, 1);
    EXPECT_EQ(uploader.numSuccess(), 2u);
    EXPECT_EQ(uploader.numFailed(), 3u);
    EXPECT_EQ(logins, 1);
    ASSERT_EQ(server.received.size(), 5);
    for (int i = 0; i < 5; ++i) {
        const Request &r = server.received[i];
        EXPECT_EQ(r.method + ' ' + r.path, "POST /v5.0/me/contacts");
        EXPECT_EQ(tokenOf(r), QStringLiteral("tok-1"));
        EXPECT_EQ(r.headers.value("content-type"), "application/json");
        EXPECT_EQ(vtr::JSONValueFromUtf8(r.body).toMap(), contacts[i].toMap()) << i;
    }
    EXPECT_EQ(delegate.progress, (QList<float>{0.2f, 0.4f, 0.6f, 0.8f, 1.0f}));
}

TEST_F(LiveUploadTest, OnlyA2xxAnswerIsAnUpload)
{
    // A redirect is neither followed (it would carry the token along) nor
    // taken as done, nor is any other 3xx answer.
    const QList<Response> answers{status(200), status(204), status(299),
                                  status(300), Response::redirect(server.url(QStringLiteral("/v5.0/me/contacts"))),
                                  status(304), status(399)};
    routeLiveApi(server, [&](int i, const Request &) { return std::optional<Response>(answers.value(i, status(500))); });
    auto s = session();
    QVariantList contacts;
    for (qsizetype i = 0; i < answers.size(); ++i) contacts << contact(QString::number(i));
    LiveContacts uploader(contacts, s.get(), &delegate);
    uploader.startSendingContacts();
    ASSERT_TRUE(waitUntil([&] { return delegate.ended(); }));
    EXPECT_EQ(uploader.numSuccess(), 3u);
    EXPECT_EQ(uploader.numFailed(), 4u);
    EXPECT_EQ(server.received.size(), answers.size());
}

TEST_F(LiveUploadTest, ARefusedTokenAsksForOneNewLoginOnly)
{
    // The first answer for each token is 401; the second token works once,
    // then is refused again: no third login, the contact counts as failed.
    routeLiveApi(server, [](int i, const Request &) -> std::optional<Response> {
        if (i == 0 || i == 3) return status(401);
        return std::nullopt;
    });
    auto s = session({QStringLiteral("old"), QStringLiteral("new+/="), QStringLiteral("never")});
    LiveContacts uploader({contact(QStringLiteral("A")), contact(QStringLiteral("B")), contact(QStringLiteral("C"))},
                          s.get(), &delegate);
    uploader.startSendingContacts();
    ASSERT_TRUE(waitUntil([&] { return delegate.ended(); }));

    EXPECT_EQ(logins, 2);
    ASSERT_EQ(server.received.size(), 4);
    EXPECT_EQ(tokenOf(server.received[0]), QStringLiteral("old"));
    for (int i = 1; i < 4; ++i) EXPECT_EQ(tokenOf(server.received[i]), QStringLiteral("new+/=")) << i;
    EXPECT_EQ(server.received[1].query, "access_token=new%2B%2F%3D");
    EXPECT_EQ(uploader.numSuccess(), 2u);
    EXPECT_EQ(uploader.numFailed(), 1u);
    EXPECT_EQ(delegate.progress.size(), 3);
}

TEST_F(LiveUploadTest, EachCalendarIsCreatedBeforeItsEvents)
{
    // Calendar 2 fails (its events are not sent), calendar 3 answers an
    // identifier that would leave its path: failed with its events as well.
    routeLiveApi(server, [](int i, const Request &) -> std::optional<Response> {
        if (i == 3) return status(500);
        if (i == 4) return created("{\"id\":\"../me/contacts\"}");
        if (i == 6) return status(400);
        return std::nullopt;
    });
    auto s = session();
    LiveCalendars uploader({calendar(QStringLiteral("Work"), 2), calendar(QStringLiteral("Home"), 3),
                            calendar(QStringLiteral("Bad"), 1), calendar(QStringLiteral("Empty"), 0),
                            calendar(QStringLiteral("Last"), 2)},
                           s.get(), &delegate);
    uploader.startSendingCalendars();
    ASSERT_TRUE(waitUntil([&] { return delegate.ended(); }));

    ASSERT_EQ(targets(server), (QStringList{
                                   "POST /v5.0/me/calendars", "POST /v5.0/cal1/events", "POST /v5.0/cal1/events",
                                   "POST /v5.0/me/calendars",  // Home: 500
                                   "POST /v5.0/me/calendars",  // Bad: unusable identifier
                                   "POST /v5.0/me/calendars",  // Empty
                                   "POST /v5.0/me/calendars",  // Last: 400
                               }));
    // "Last" was answered 400: none of its events is sent either.
    EXPECT_EQ(uploader.numCalSuccess(), 2u);
    EXPECT_EQ(uploader.numEvSuccess(), 2u);
    EXPECT_EQ(uploader.numCalFailed(), 3u);
    EXPECT_EQ(uploader.numEvFailed(), 6u);
    EXPECT_FALSE(vtr::JSONValueFromUtf8(server.received[0].body).toMap().contains(QStringLiteral("events")));
    EXPECT_EQ(vtr::JSONValueFromUtf8(server.received[2].body).toMap().value(QStringLiteral("name")),
              QStringLiteral("Work event 1"));
    ASSERT_FALSE(delegate.progress.isEmpty());
    EXPECT_FLOAT_EQ(delegate.progress.last(), 1.0f);
    EXPECT_EQ(delegate.completions, 1);
}

TEST_F(LiveUploadTest, NothingToSendCompletesWithinTheStartCall)
{
    auto s = session();
    LiveContacts contacts({}, s.get(), &delegate);
    contacts.startSendingContacts();
    EXPECT_EQ(delegate.completions, 1);
    LiveCalendars calendars({}, s.get(), &delegate);
    calendars.startSendingCalendars();
    EXPECT_EQ(delegate.completions, 2);
    EXPECT_EQ(logins, 0);
    EXPECT_EQ(server.requests, 0);
}

TEST_F(LiveUploadTest, AStartWhileRunningIsRefused)
{
    routeLiveApi(server);
    auto s = session();
    LiveContacts contacts({contact(QStringLiteral("A"))}, s.get(), &delegate);
    contacts.startSendingContacts();
    EXPECT_THROW(contacts.startSendingContacts(), VtrException);
    ASSERT_TRUE(waitUntil([&] { return delegate.ended(); }));
    EXPECT_EQ(contacts.numSuccess(), 1u);

    LiveCalendars calendars({calendar(QStringLiteral("A"), 1)}, s.get(), &delegate);
    calendars.startSendingCalendars();
    EXPECT_THROW(calendars.startSendingCalendars(), VtrException);
    ASSERT_TRUE(waitUntil([&] { return delegate.completions == 2; }));
}

TEST_F(LiveUploadTest, ACancelledLoginSendsNothing)
{
    routeLiveApi(server);
    auto s = session({QString()});
    LiveContacts uploader({contact(QStringLiteral("A")), contact(QStringLiteral("B"))}, s.get(), &delegate);
    uploader.startSendingContacts();
    ASSERT_TRUE(waitUntil([&] { return delegate.ended(); }));
    EXPECT_EQ(delegate.cancels, 1);
    EXPECT_EQ(delegate.completions, 0);
    EXPECT_EQ(server.requests, 0);
    EXPECT_EQ(uploader.numSuccess(), 0u);
}

TEST_F(LiveUploadTest, TheDelegateMayDropUploaderAndSessionInTheCompletion)
{
    routeLiveApi(server);
    auto s = session();
    auto uploader = std::make_unique<LiveContacts>(QVariantList{contact(QStringLiteral("A"))}, s.get(), &delegate);
    delegate.onComplete = [&] {
        uploader.reset();
        s.reset();
    };
    uploader->startSendingContacts();
    ASSERT_TRUE(waitUntil([&] { return delegate.ended(); }));
    EXPECT_FALSE(uploader);
    EXPECT_FALSE(s);
}

TEST(LiveHosts, RequestsGoOverHttpsExceptToLoopback)
{
    const struct {
        const char *setting;
        const char *url;
    } cases[] = {
        {"apis.live.net", "https://apis.live.net/v5.0/me"},
        {"apis.example.com:8443", "https://apis.example.com:8443/v5.0/me"},
        {"127.0.0.1:8080", "http://127.0.0.1:8080/v5.0/me"},
        {"localhost", "http://localhost/v5.0/me"},
        {"[::1]:81", "http://[::1]:81/v5.0/me"},
        {"evil.example/path", ""},
        {"user@evil.example", ""},
        {"http://evil.example", ""},
        {"host?x=1", ""},
    };
    for (const auto &c : cases)
        EXPECT_EQ(vtronline::serviceUrl(QString::fromLatin1(c.setting), QStringLiteral("/v5.0/me")).toString(),
                  QString::fromLatin1(c.url))
            << c.setting;
    EXPECT_EQ(LiveSession::objectURL(QStringLiteral("me/contacts")).toString(),
              QStringLiteral("https://apis.live.net/v5.0/me/contacts"));
}

TEST(LiveCalendarIDs, OnlyOnePathSegmentIsUsable)
{
    for (const char *good : {"calendar.abc123", "cal1", "calendar.a-b_c!d"})
        EXPECT_TRUE(LiveCalendars::isUsableCalendarID(QString::fromLatin1(good))) << good;
    for (const char *bad : {"", ".", "..", "a/b", "a?b", "a#b", "a b", "a%2Fb", "a\\b"})
        EXPECT_FALSE(LiveCalendars::isUsableCalendarID(QString::fromLatin1(bad))) << bad;
}
