// The Windows Live limits with their alerts, the pruning of events, and the
// upload stages against a loopback Live API with a scripted login.
#include "LoopbackHttpServer.h"
#include "TestEnvironment.h"
#include "app/NS_AppControllerLive.h"
#include "online/LiveSession.h"
#include "platform/UserDefaults.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

using testenv::waitUntil;

class FakeHost : public WindowsLiveHost
{
public:
    bool contactsEnabled() const override { return conEnabled; }
    bool contactsValue() const override { return conValue; }
    bool calendarsEnabled() const override { return calEnabled; }
    bool calendarsValue() const override { return calValue; }
    void setContactsEnabled(bool v) override { conEnabled = v; }
    void setContactsValue(bool v) override { conValue = v; }
    void setCalendarsEnabled(bool v) override { calEnabled = v; }
    void setCalendarsValue(bool v) override { calValue = v; }
    QVariantList contacts() const override { return contactList; }
    QVariantList calendars() const override { return calendarList; }
    void stowCalendars(const QVariantList &c) override { calendarList = c; }
    int livePIMState() const override { return state; }
    void setLivePIMState(int s) override { state = s; }
    void setNumConSuccess(quint32 n) override { numCon = n; }
    void setNumCalSuccess(quint32 n) override { numCal = n; }
    void setNumEvSuccess(quint32 n) override { numEv = n; }
    int runCriticalAlert(const QString &title, const QString &text, const QStringList &buttons) override
    {
        alerts << title;
        texts << text;
        lastButtons = buttons;
        return answers.isEmpty() ? 0 : answers.takeFirst();
    }
    void terminate() override { ++terminations; }
    void setStatus(const QString &, const QString &phase, double percent) override
    {
        reports << QStringLiteral("%1 %2").arg(phase).arg(percent);
    }
    void gotoNextState() override { ++advanced; }
    QWidget *mainWindow() const override { return nullptr; }

    bool conEnabled = true, conValue = true, calEnabled = true, calValue = true;
    QVariantList contactList, calendarList;
    QStringList alerts, texts, lastButtons;
    QList<int> answers;
    int terminations = 0;
    int state = 0;
    quint32 numCon = 0, numCal = 0, numEv = 0;
    QStringList reports;
    int advanced = 0;
};

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

const QString kContactsTitle = QStringLiteral("Total Contacts Exceeds Windows Live Limit");
const QString kCalendarsTitle = QStringLiteral("Total Calendars/Events Exceeds Windows Live Limit");
const QDateTime kNow = QDateTime(QDate(2026, 6, 1), QTime(12, 0), Qt::OffsetFromUTC, 7200);

QVariantList contacts(int n)
{
    QVariantList list;
    for (int i = 0; i < n; ++i) list << QVariantMap{{QStringLiteral("first_name"), QString::number(i)}};
    return list;
}

// An event `hours` from kNow (negative: past), named by its hours.
QVariantMap event(int hours)
{
    return {{QStringLiteral("name"), QString::number(hours)},
            {QStringLiteral("start_time"), kNow.addSecs(qint64(hours) * 3600).toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")) +
                                               QStringLiteral("+0200")}};
}

QVariantMap calendarOf(const QVariantList &events)
{
    return {{QStringLiteral("name"), QStringLiteral("C")}, {QStringLiteral("events"), events}};
}

QList<int> hoursKept(const QVariantList &calendars)
{
    QList<int> hours;
    for (const QVariant &c : calendars)
        for (const QVariant &e : c.toMap().value(QStringLiteral("events")).toList())
            hours << e.toMap().value(QStringLiteral("name")).toString().toInt();
    std::sort(hours.begin(), hours.end());
    return hours;
}

QList<int> range(int from, int to)
{
    QList<int> out;
    for (int i = from; i <= to; ++i) out << i;
    return out;
}

class LiveLimitsTest : public ::testing::Test
{
protected:
    void TearDown() override { platform::UserDefaults::remove(QStringLiteral("forceLiveMax")); }
    FakeHost host;
};

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
    FakeHost host;
    WindowsLiveUpload driver{host};
};

}  // namespace

TEST_F(LiveLimitsTest, AlertsOnlyAboveTheLimits)
{
    const struct {
        int contacts, events;
        QStringList alerts;
    } cases[] = {
        {10000, 500, {}},
        {10001, 500, {kContactsTitle}},
        {10000, 501, {kCalendarsTitle}},
        {10001, 501, {kContactsTitle, kCalendarsTitle}},
    };
    for (const auto &c : cases) {
        FakeHost h;
        h.contactList = contacts(c.contacts);
        QVariantList events;
        for (int i = 0; i < c.events; ++i) events << event(i);
        // Calendars themselves do not count: split the events over two, plus one without any.
        h.calendarList = {calendarOf(events.mid(0, 100)), calendarOf(events.mid(100)),
                          QVariantMap{{QStringLiteral("name"), QStringLiteral("No events")}}};
        WindowsLiveUpload(h).checkAndWarnCalendarContactCounts();
        EXPECT_EQ(h.alerts, c.alerts) << c.contacts << " " << c.events;
    }
}

TEST_F(LiveLimitsTest, ForcedLimitReplacesBoth)
{
    platform::UserDefaults::setValue(QStringLiteral("forceLiveMax"), 3);
    host.contactList = contacts(4);
    host.calendarList = {calendarOf({event(1), event(2)})};
    WindowsLiveUpload(host).checkAndWarnCalendarContactCounts();
    EXPECT_EQ(host.alerts, QStringList{kContactsTitle});
    EXPECT_TRUE(host.texts[0].startsWith(
        QStringLiteral("Windows Live currently supports the ability to manage a total of 3 contacts")));
    EXPECT_TRUE(host.texts[0].endsWith(QStringLiteral("DATA LOSS WILL OCCUR BEYOND 3 TOTAL CONTACTS.")));
    EXPECT_EQ(host.lastButtons, (QStringList{"Skip Contacts", "Quit", "Continue Anyway"}));

    platform::UserDefaults::setValue(QStringLiteral("forceLiveMax"), -5);
    EXPECT_EQ(WindowsLiveUpload::limits().contacts, 0);
    EXPECT_EQ(WindowsLiveUpload::limits().calendarItems, 0);
    platform::UserDefaults::remove(QStringLiteral("forceLiveMax"));
    EXPECT_EQ(WindowsLiveUpload::limits().contacts, 10000);
    EXPECT_EQ(WindowsLiveUpload::limits().calendarItems, 500);
}

TEST_F(LiveLimitsTest, TheAnswersSkipQuitOrGoOn)
{
    platform::UserDefaults::setValue(QStringLiteral("forceLiveMax"), 1);
    host.contactList = contacts(2);
    host.calendarList = {calendarOf({event(1), event(-1)})};

    host.answers = {0, 0};  // skip both
    WindowsLiveUpload(host).checkAndWarnCalendarContactCounts();
    EXPECT_FALSE(host.conValue || host.conEnabled || host.calValue || host.calEnabled);

    FakeHost quitting;
    quitting.contactList = host.contactList;
    quitting.calendarList = host.calendarList;
    quitting.answers = {1};
    WindowsLiveUpload(quitting).checkAndWarnCalendarContactCounts();
    EXPECT_EQ(quitting.terminations, 1);
    EXPECT_EQ(quitting.alerts.size(), 1);

    FakeHost going;
    going.contactList = host.contactList;
    going.calendarList = host.calendarList;
    going.answers = {2, 2};
    WindowsLiveUpload(going).checkAndWarnCalendarContactCounts();
    EXPECT_TRUE(going.conValue && going.calValue);
    EXPECT_EQ(going.contactList.size(), 2);
    EXPECT_EQ(hoursKept(going.calendarList).size(), 1);  // pruned to the limit
}

TEST(LivePruning, KeepsTheWindowOfEventsNearestNow)
{
    // 600 events, 550 upcoming: the 500 upcoming that start soonest stay.
    QVariantList events;
    for (int h = -50; h < 550; ++h) events << event(h + (h >= 0 ? 1 : 0));
    QVariantList calendars{calendarOf(events.mid(0, 300)), calendarOf(events.mid(300))};
    WindowsLiveUpload::pruneCalendars(calendars, 500, kNow);
    EXPECT_EQ(hoursKept(calendars), range(1, 500));

    // All 600 in the past: the 500 most recent stay.
    events.clear();
    for (int h = 1; h <= 600; ++h) events << event(-h);
    calendars = {calendarOf(events)};
    WindowsLiveUpload::pruneCalendars(calendars, 500, kNow);
    QList<int> expected;
    for (int h = -500; h <= -1; ++h) expected << h;
    EXPECT_EQ(hoursKept(calendars), expected);
}

TEST(LivePruning, IdenticalEventsAreCountedOneByOne)
{
    // Four copies of one event with the limit 2: two stay (removing "every
    // equal event" would have removed all of them).
    const QVariantMap same = event(5);
    QVariantList calendars{calendarOf({same, same}), calendarOf({same, same}), calendarOf({event(-3)})};
    WindowsLiveUpload::pruneCalendars(calendars, 2, kNow);
    EXPECT_EQ(hoursKept(calendars), (QList<int>{5, 5}));
    ASSERT_EQ(calendars.size(), 3);  // emptied calendars stay
    EXPECT_TRUE(calendars[2].toMap().value(QStringLiteral("events")).toList().isEmpty());
}

TEST(LivePruning, EventsWithoutAReadableStartStillLeaveExactlyTheLimit)
{
    QVariantMap noStart{{QStringLiteral("name"), QStringLiteral("0")}};
    QVariantMap badStart{{QStringLiteral("name"), QStringLiteral("0")}, {QStringLiteral("start_time"), QStringLiteral("soon")}};
    for (int limit : {0, 1, 2, 3, 4, 10}) {
        QVariantList calendars{calendarOf({noStart, event(2), badStart, event(-2)})};
        WindowsLiveUpload::pruneCalendars(calendars, limit, kNow);
        EXPECT_EQ(hoursKept(calendars).size(), std::min(limit, 4)) << limit;
    }
    QVariantList calendars{calendarOf({noStart, event(2), badStart, event(-2)})};
    WindowsLiveUpload::pruneCalendars(calendars, 2, kNow);
    EXPECT_EQ(hoursKept(calendars), (QList<int>{-2, 2}));  // unreadable starts count as the oldest
    WindowsLiveUpload::pruneCalendars(calendars, -1, kNow);
    EXPECT_TRUE(hoursKept(calendars).isEmpty());
}

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
    EXPECT_TRUE(host.conEnabled && host.calEnabled);
    EXPECT_EQ(server.requests, 0);
    EXPECT_EQ(host.numCon + host.numCal + host.numEv, 0u);
    EXPECT_EQ(host.reports, QStringList{"Contacts Phase 0"});
}
