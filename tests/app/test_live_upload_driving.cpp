// The upload stages against a loopback Live API with a scripted login.
#include "LoopbackHttpServer.h"
#include "app/NS_AppControllerLive.h"
#include "online/LiveSession.h"
#include "platform/UserDefaults.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

class ScriptedLogin : public LiveTokenProvider
{
public:
    explicit ScriptedLogin(QString token) : m_token(std::move(token)) {}
    void requestAccessToken(Completion done) override
    {
        QTimer::singleShot(0, [done, token = m_token] { done(token); });
    }

private:
    QString m_token;
};

class RecordingHost : public WindowsLiveHost
{
public:
    bool contactsEnabled() const override { return true; }
    bool contactsValue() const override { return conValue; }
    bool calendarsEnabled() const override { return true; }
    bool calendarsValue() const override { return calValue; }
    void setContactsEnabled(bool) override { ADD_FAILURE() << "Enabled flags stay"; }
    void setContactsValue(bool v) override { conValue = v; }
    void setCalendarsEnabled(bool) override { ADD_FAILURE() << "Enabled flags stay"; }
    void setCalendarsValue(bool v) override { calValue = v; }
    QVariantList contacts() const override { return contactList; }
    QVariantList calendars() const override { return calendarList; }
    void stowCalendars(const QVariantList &c) override { calendarList = c; }
    int livePIMState() const override { return state; }
    void setLivePIMState(int s) override { state = s; }
    void setNumConSuccess(quint32 n) override { numCon = n; }
    void setNumCalSuccess(quint32 n) override { numCal = n; }
    void setNumEvSuccess(quint32 n) override { numEv = n; }
    int runCriticalAlert(const QString &, const QString &, const QStringList &) override { return 0; }
    void terminate() override {}
    void setStatus(const QString &, const QString &phase, double percent) override
    {
        reports << QStringLiteral("%1 %2").arg(phase).arg(percent);
    }
    void gotoNextState() override { ++advanced; }
    QWidget *mainWindow() const override { return nullptr; }

    bool conValue = true, calValue = true;
    QVariantList contactList, calendarList;
    int state = 0;
    quint32 numCon = 0, numCal = 0, numEv = 0;
    QStringList reports;
    int advanced = 0;
};

bool waitUntil(const std::function<bool()> &done)
{
    QDeadlineTimer deadline(20000);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    return done();
}

class LiveDrivingTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        platform::UserDefaults::setValue(QStringLiteral("LiveAPIHost"), server.host());
        LoopbackHttpServer::Response created;
        created.status = 201;
        created.body = "{\"id\":\"calA\"}";
        LoopbackHttpServer::Response refused;
        refused.status = 400;
        server.route("POST", "/v5.0/me/contacts", [created, refused](const LoopbackHttpServer::Request &r) {
            return r.body.contains("refuse") ? refused : created;
        });
        server.route("POST", "/v5.0/me/calendars", created);
        server.route("POST", "/v5.0/calA/events", [created, refused](const LoopbackHttpServer::Request &r) {
            return r.body.contains("refuse") ? refused : created;
        });
        host.contactList = {QVariantMap{{"first_name", "A"}}, QVariantMap{{"first_name", "refuse"}},
                            QVariantMap{{"first_name", "C"}}};
        host.calendarList = {QVariantMap{{"name", "Work"},
                                         {"events", QVariantList{QVariantMap{{"name", "e1"}},
                                                                 QVariantMap{{"name", "refuse"}}}}},
                             QVariantMap{{"name", "Empty"}}};
    }
    void TearDown() override { platform::UserDefaults::remove(QStringLiteral("LiveAPIHost")); }

    void drive(const QString &token)
    {
        driver.setSessionFactory([token](QWidget *window) {
            auto session = std::make_unique<LiveSession>(window);
            session->setTokenProvider(std::make_unique<ScriptedLogin>(token));
            return session;
        });
        driver.startNextLiveUpload();
        ASSERT_TRUE(waitUntil([&] { return host.advanced > 0; }));
        EXPECT_EQ(host.advanced, 1);
        EXPECT_EQ(host.state, 2);
        EXPECT_FALSE(driver.liveSession());
    }

    LoopbackHttpServer server;
    RecordingHost host;
    WindowsLiveUpload driver{host};
};

}  // namespace

TEST_F(LiveDrivingTest, ContactsThenCalendarsWithTheirCounts)
{
    drive(QStringLiteral("t"));
    EXPECT_EQ(host.numCon, 2u);
    EXPECT_EQ(host.numCal, 2u);
    EXPECT_EQ(host.numEv, 1u);
    EXPECT_EQ(server.requests, 3 + 2 + 2);
    EXPECT_EQ(host.reports.first(), QStringLiteral("Contacts Phase 0"));
    EXPECT_TRUE(host.reports.contains(QStringLiteral("Events Phase 0")));
    EXPECT_EQ(host.reports.mid(host.reports.size() - 2), (QStringList{"Events Phase 1", "Contacts Phase 1"}));
}

TEST_F(LiveDrivingTest, AStageWithNothingChosenPassesAtOnce)
{
    host.conValue = false;
    drive(QStringLiteral("t"));
    EXPECT_EQ(host.numCon, 0u);
    EXPECT_EQ(host.numCal, 2u);
    for (const LoopbackHttpServer::Request &r : server.received) EXPECT_NE(r.path, "/v5.0/me/contacts");
    EXPECT_EQ(host.reports.last(), QStringLiteral("Events Phase 1"));
    EXPECT_FALSE(host.reports.contains(QStringLiteral("Contacts Phase 1")));
}

TEST_F(LiveDrivingTest, AClosedLoginSkipsBothKinds)
{
    drive(QString());
    EXPECT_FALSE(host.conValue);
    EXPECT_FALSE(host.calValue);
    EXPECT_EQ(server.requests, 0);
    EXPECT_EQ(host.numCon + host.numCal + host.numEv, 0u);
    EXPECT_EQ(host.reports, QStringList{"Contacts Phase 0"});
}
