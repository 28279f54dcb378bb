// App-search sessions: the abstract base, the two services' queries and
// replies against a loopback server.
#include "LoopbackHttpServer.h"
#include "online/AppsearchSession.h"
#include "platform/UserDefaults.h"
#include "platform/VtrException.h"
#include "support/LiveTestSupport.h"

#include <gtest/gtest.h>

using Response = LoopbackHttpServer::Response;

namespace {

class AppsearchTest : public ::testing::Test
{
protected:
    void TearDown() override
    {
        platform::UserDefaults::remove(QStringLiteral("QuixeyURL"));
        platform::UserDefaults::remove(QStringLiteral("XyologicURL"));
    }
};

}  // namespace

TEST_F(AppsearchTest, AppsNeedANameAndAnIdentifierAndAConcreteService)
{
    AppsearchSession abstract;
    try {
        abstract.appsearchAppWithAppName(QStringLiteral("Maps"), QStringLiteral("1"));
        ADD_FAILURE() << "no exception";
    } catch (const VtrException &e) {
        EXPECT_EQ(e.name(), QStringLiteral("Abstract Base Class"));
        EXPECT_EQ(e.reason(), QStringLiteral("This method needs to be overridden in subclasses"));
    }
    QuixeySession first;
    XyologicSession second;
    for (AppsearchSession *session : std::initializer_list<AppsearchSession *>{&first, &second}) {
        auto app = session->appsearchAppWithAppName(QStringLiteral("Maps & More"), QStringLiteral("284882215"));
        ASSERT_TRUE(app);
        EXPECT_EQ(app->sourceAppName() + app->sourceAppID(), QStringLiteral("Maps & More284882215"));
        EXPECT_FALSE(session->appsearchAppWithAppName(QString(), QStringLiteral("1")));
        EXPECT_FALSE(session->appsearchAppWithAppName(QStringLiteral("Maps"), QStringLiteral(" ")));
    }
}

TEST_F(AppsearchTest, QueriesOfBothServices)
{
    QuixeySession first;
    XyologicSession second;
    const AppsearchApp app(QStringLiteral("Maps & More"), QStringLiteral("com.maps/x"));
    EXPECT_EQ(first.similarAppsURL(app).toString(QUrl::FullyEncoded),
              QStringLiteral("https://api.quixey.com/1.0/similar?name=Maps%20%26%20More&id=com.maps%2Fx&platform=windowsphone"));
    EXPECT_EQ(first.eventURL(QStringLiteral("open"), QStringLiteral("42")).toString(),
              QStringLiteral("https://api.quixey.com/1.0/event?type=open&id=42"));
    EXPECT_EQ(second.similarAppsURL(app).toString(QUrl::FullyEncoded),
              QStringLiteral("https://api.xyologic.com/get-similar-apps?app_id=com.maps%2Fx&app_name=Maps%20%26%20More"
                             "&target_platform=windowsphone"));
    EXPECT_EQ(second.appURL(QStringLiteral("42")).toString(), QStringLiteral("https://api.xyologic.com/get-app?app_id=42"));

    // A setting that would send the queries in the clear goes nowhere.
    for (const char *bad : {"http://apps.example.com/", "ftp://127.0.0.1/", "https://user@apps.example.com/"}) {
        platform::UserDefaults::setValue(QStringLiteral("QuixeyURL"), QString::fromLatin1(bad));
        EXPECT_FALSE(first.similarAppsURL(app).isValid()) << bad;
    }
}

TEST_F(AppsearchTest, RecommendationsFromTheServicesReplies)
{
    LoopbackHttpServer server;
    Response quixey;
    quixey.body = R"({"results":[{"name":"Atlas","id":12,"icon_url":"https://img.example/a.png","rating":4.5},
                     {"name":"","id":13},{"name":"Bad icon","id":"14","icon_url":"file:///etc/passwd","rating":"x"},
                     {"name":"Too good","id":15,"rating":9}]})";
    server.route("GET", "/q/similar", quixey);
    Response xyologic;
    xyologic.body = R"({"apps":[{"title":"Compass","app_id":"c1","icon":"http://img.example/c.png","avg_rating":3}]})";
    server.route("GET", "/x/get-similar-apps", xyologic);
    platform::UserDefaults::setValue(QStringLiteral("QuixeyURL"), server.url(QStringLiteral("/q")));
    platform::UserDefaults::setValue(QStringLiteral("XyologicURL"), server.url(QStringLiteral("/x/")));

    QuixeySession first;
    AppsearchApp app(QStringLiteral("Maps"), QStringLiteral("1"));
    int answers = 0;
    bool ok = false;
    first.fetchSimilarApps(&app, [&](bool result) { ok = result, ++answers; });
    ASSERT_TRUE(livetest::waitUntil([&] { return answers == 1; }));
    EXPECT_TRUE(ok);
    ASSERT_EQ(app.similarApps().size(), 3);
    EXPECT_EQ(app.similarApps()[0].toMap(),
              (QVariantMap{{"appName", "Atlas"}, {"appID", "12"}, {"iconURL", "https://img.example/a.png"}, {"rating", 4.5}}));
    EXPECT_EQ(app.similarApps()[1].toMap(), (QVariantMap{{"appName", "Bad icon"}, {"appID", "14"}, {"rating", 0.0}}));
    EXPECT_EQ(app.similarApps()[2].toMap().value("rating").toDouble(), 5.0);

    XyologicSession second;
    second.fetchSimilarApps(&app, [&](bool result) { ok = result, ++answers; });
    ASSERT_TRUE(livetest::waitUntil([&] { return answers == 2; }));
    EXPECT_TRUE(ok);
    ASSERT_EQ(app.similarApps().size(), 1);
    EXPECT_EQ(app.similarApps()[0].toMap().value("appName"), QStringLiteral("Compass"));

    // An error answer and silence both end as "no answer".
    server.route("GET", "/x/get-similar-apps", Response::silence());
    second.setRequestTimeout(std::chrono::milliseconds(300));
    second.fetchSimilarApps(&app, [&](bool result) { ok = result, ++answers; });
    ASSERT_TRUE(livetest::waitUntil([&] { return answers == 3; }));
    EXPECT_FALSE(ok);
    Response failure;
    failure.status = 500;
    server.route("GET", "/q/similar", failure);
    first.fetchSimilarApps(&app, [&](bool result) { ok = result, ++answers; });
    ASSERT_TRUE(livetest::waitUntil([&] { return answers == 4; }));
    EXPECT_FALSE(ok);
}
