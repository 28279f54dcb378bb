// The login sheet against a loopback authorize page, and the reading of the
// desktop redirect.
#include "LoopbackHttpServer.h"
#include "online/LiveContacts.h"
#include "online/LiveLoginSheet.h"
#include "online/LiveSession.h"
#include "platform/UserDefaults.h"
#include "support/LiveTestSupport.h"
#include "support/WebEngineTestSetup.h"

#include <QApplication>
#include <QDialog>
#include <QUrlQuery>
#include <QWidget>

#include <gtest/gtest.h>

namespace {

using namespace livetest;
using Response = LoopbackHttpServer::Response;
using Request = LoopbackHttpServer::Request;

class LoginSheetTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        platform::UserDefaults::setValue(QStringLiteral("LiveLoginHost"), server.host());
        routeLiveApi(server);
        Response page;
        page.body = "<html></html>";
        page.contentType = "text/html";
        server.route("GET", "/oauth20_desktop.srf", page);
        window.resize(640, 480);
        window.show();
    }
    void TearDown() override
    {
        platform::UserDefaults::remove(QStringLiteral("LiveLoginHost"));
        platform::UserDefaults::remove(QStringLiteral("LiveAPIHost"));
    }

    // The authorize page sends the browser to the desktop redirect with `fragment`.
    void authorizeAnswers(const QString &fragment)
    {
        server.route("GET", "/oauth20_authorize.srf", [this, fragment](const Request &request) {
            authorizeQuery = QUrlQuery(QString::fromLatin1(request.query));
            return Response::redirect(server.url(QStringLiteral("/oauth20_desktop.srf#")) + fragment);
        });
    }

    QDialog *sheet() const { return window.findChild<QDialog *>(); }

    LoopbackHttpServer server;
    QWidget window;
    RecordingDelegate delegate;
    QUrlQuery authorizeQuery;
};

}  // namespace

TEST_F(LoginSheetTest, TheTokenOfTheDesktopRedirectIsSentWithTheUpload)
{
    ASSERT_TRUE(g_webEngineReady);
    authorizeAnswers(QStringLiteral("access_token=EwA%2Bx%2F9%3D&token_type=bearer&expires_in=3600"));
    LiveSession session(&window);
    LiveContacts uploader({contact(QStringLiteral("Ann"))}, &session, &delegate);
    uploader.startSendingContacts();

    ASSERT_TRUE(waitUntil([&] { return sheet() != nullptr; }));
    EXPECT_EQ(sheet()->windowModality(), Qt::WindowModal);
    ASSERT_TRUE(waitUntil([&] { return delegate.ended(); }, 60000));
    EXPECT_EQ(delegate.completions, 1);
    EXPECT_EQ(uploader.numSuccess(), 1u);

    EXPECT_EQ(authorizeQuery.queryItemValue(QStringLiteral("response_type")), QStringLiteral("token"));
    EXPECT_EQ(authorizeQuery.queryItemValue(QStringLiteral("redirect_uri"), QUrl::FullyDecoded),
              server.url(QStringLiteral("/oauth20_desktop.srf")));
    EXPECT_FALSE(authorizeQuery.queryItemValue(QStringLiteral("client_id")).isEmpty());
    ASSERT_FALSE(server.received.isEmpty());
    const Request &post = server.received.last();
    EXPECT_EQ(post.path, "/v5.0/me/contacts");
    EXPECT_EQ(tokenOf(post), QStringLiteral("EwA+x/9="));
    EXPECT_TRUE(waitUntil([&] { return sheet() == nullptr; }));
}

TEST_F(LoginSheetTest, ADeclinedOrClosedLoginIsACancel)
{
    authorizeAnswers(QStringLiteral("error=access_denied&error_description=The%20user%20declined"));
    {
        LiveSession session(&window);
        LiveContacts uploader({contact(QStringLiteral("Ann"))}, &session, &delegate);
        uploader.startSendingContacts();
        ASSERT_TRUE(waitUntil([&] { return delegate.ended(); }, 60000));
        EXPECT_EQ(delegate.cancels, 1);
    }
    // Closed before the page answered.
    server.route("GET", "/oauth20_authorize.srf", Response::silence());
    LiveSession session(&window);
    LiveContacts uploader({contact(QStringLiteral("Bob"))}, &session, &delegate);
    uploader.startSendingContacts();
    ASSERT_TRUE(waitUntil([&] { return sheet() != nullptr && sheet()->isVisible(); }));
    sheet()->reject();
    ASSERT_TRUE(waitUntil([&] { return delegate.cancels == 2; }));
    EXPECT_EQ(delegate.completions, 0);
    for (const Request &r : server.received) EXPECT_FALSE(r.path.startsWith("/v5.0/"));
}

TEST(LiveRedirect, OnlyTheDesktopRedirectGivesAToken)
{
    const QUrl desktop(QStringLiteral("https://login.live.com/oauth20_desktop.srf"));
    const struct {
        const char *url;
        const char *token;  // nullptr: not the redirect
    } cases[] = {
        {"https://login.live.com/oauth20_desktop.srf#access_token=abc&expires_in=3600", "abc"},
        {"https://LOGIN.live.com/oauth20_desktop.srf#token_type=bearer&access_token=a%2Bb", "a+b"},
        {"https://login.live.com/oauth20_desktop.srf#error=access_denied", ""},
        {"https://login.live.com/oauth20_desktop.srf", nullptr},
        {"https://login.live.com/oauth20_authorize.srf#access_token=abc", nullptr},
        {"https://evil.example/oauth20_desktop.srf#access_token=abc", nullptr},
        {"http://login.live.com/oauth20_desktop.srf#access_token=abc", nullptr},
        {"https://login.live.com:8443/oauth20_desktop.srf#access_token=abc", nullptr},
        {"https://login.live.com/oauth20_desktop.srf?access_token=abc", nullptr},
    };
    for (const auto &c : cases) {
        const QString token = LiveLoginSheet::tokenFromRedirect(QUrl(QString::fromLatin1(c.url)), desktop);
        if (!c.token)
            EXPECT_TRUE(token.isNull()) << c.url;
        else
            EXPECT_EQ(token, QString::fromLatin1(c.token)) << c.url;
    }
}
