// The Windows Live limits with their alerts, the pruning of events, the
// upload stages against a loopback Live API with a scripted login, and the
// summaries: the seats working on a real wizard controller.
#include "LoopbackHttpServer.h"
#include "TestEnvironment.h"
#include "support/WizardHarness.h"
#include "app/NS_AppController.h"
#include "app/NS_AppControllerAppReferral.h"
#include "app/NS_AppControllerLive.h"
#include "app/NS_AppControllerSummaries.h"
#include "foundation/MigrationStatus.h"
#include "online/LiveSession.h"
#include "platform/UserDefaults.h"

#include <QDateTime>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

class Manifest : public ManifestInfoSource
{
public:
    explicit Manifest(QVariantMap info) : m_info(std::move(info)) {}
    QVariantMap manifestInfo() const override { return m_info; }

private:
    QVariantMap m_info;
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
    while (from <= to) out << from++;
    return out;
}

class LiveWizardTest : public ::testing::Test
{
protected:
    LiveWizardTest()
    {
        vtrapp::installLiveAndSummaries(*wizard);
        driver = new NS_AppControllerLiveDriver(*wizard);
        wizard->setLiveUploadDriver(std::unique_ptr<LiveUploadDriver>(driver));
    }
    ~LiveWizardTest() override
    {
        platform::UserDefaults::remove(QStringLiteral("forceLiveMax"));
        platform::UserDefaults::remove(QStringLiteral("LiveAPIHost"));
    }

    void checkCounts(const QVariantList &contactList, const QVariantList &calendarList)
    {
        h.alerts.clear();
        wizard->stowContacts(contactList, {});
        wizard->stowCalendars(calendarList);
        driver->checkAndWarnCalendarContactCounts(*wizard);
    }
    bool allChosen() const
    {
        return wizard->contactsValue() && wizard->contactsEnabled() && wizard->calendarsValue() &&
               wizard->calendarsEnabled();
    }

    // Runs both stages with `token` from the login (empty: the sheet closed)
    // against a server that answers 201, or 400 to a body saying "refuse".
    void upload(const QString &token, const QVariantList &contactList = {QVariantMap{{"first_name", "A"}},
                                                                         QVariantMap{{"first_name", "refuse"}},
                                                                         QVariantMap{{"first_name", "C"}}})
    {
        for (const char *path : {"/v5.0/me/contacts", "/v5.0/me/calendars", "/v5.0/calA/events"})
            server.route("POST", path, [](const LoopbackHttpServer::Request &r) {
                LoopbackHttpServer::Response response;
                response.status = r.body.contains("refuse") ? 400 : 201;
                response.body = "{\"id\":\"calA\"}";
                return response;
            });
        platform::UserDefaults::setValue(QStringLiteral("LiveAPIHost"), server.host());
        wizard->stowContacts(contactList, {});
        wizard->stowCalendars({QVariantMap{{"name", "Work"},
                                           {"events", QVariantList{QVariantMap{{"name", "e1"}},
                                                                   QVariantMap{{"name", "refuse"}}}}},
                               QVariantMap{{"name", "Empty"}}});
        driver->upload().setSessionFactory([token](QWidget *window) {
            auto session = std::make_unique<LiveSession>(window);
            session->setTokenProvider(std::make_unique<ScriptedLogin>(token));
            return session;
        });
        driver->startNextLiveUpload(*wizard);
        ASSERT_TRUE(testenv::waitUntil([&] { return wizard->livePIMState() == 2; }));
        EXPECT_FALSE(driver->upload().liveSession());
    }

    WizardHarness h;
    NS_AppController *wizard = &h.wizard();
    NS_AppControllerLiveDriver *driver;
    LoopbackHttpServer server;
};

}  // namespace

TEST_F(LiveWizardTest, AlertsOnlyAboveTheLimits)
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
        QVariantList events;
        for (int i = 0; i < c.events; ++i) events << event(i);
        // Calendars themselves do not count: the events over two, plus one without any.
        h.alerts.answer(QStringLiteral("Continue Anyway"));
        h.alerts.answer(QStringLiteral("Continue Anyway"));
        checkCounts(contacts(c.contacts), {calendarOf(events.mid(0, 100)), calendarOf(events.mid(100)),
                                           QVariantMap{{QStringLiteral("name"), QStringLiteral("No events")}}});
        EXPECT_EQ(h.alerts.titles(), c.alerts) << c.contacts << " " << c.events;
    }
    ASSERT_FALSE(h.alerts.shown().isEmpty());
    EXPECT_EQ(h.alerts.shown()[0].style, AlertRequest::Style::Critical);
    EXPECT_EQ(h.alerts.shown()[0].defaultButton, 0);
}

TEST_F(LiveWizardTest, ForcedLimitReplacesBoth)
{
    platform::UserDefaults::setValue(QStringLiteral("forceLiveMax"), 3);
    checkCounts(contacts(4), {calendarOf({event(1), event(2)})});
    ASSERT_EQ(h.alerts.titles(), QStringList{kContactsTitle});
    const QString text = h.alerts.shown()[0].informativeText;
    EXPECT_TRUE(text.startsWith(QStringLiteral("Windows Live currently supports the ability to manage a total of 3 contacts")));
    EXPECT_TRUE(text.endsWith(QStringLiteral("DATA LOSS WILL OCCUR BEYOND 3 TOTAL CONTACTS.")));
    EXPECT_EQ(h.alerts.shown()[0].buttons, (QStringList{"Skip Contacts", "Quit", "Continue Anyway"}));

    platform::UserDefaults::setValue(QStringLiteral("forceLiveMax"), -5);
    EXPECT_EQ(WindowsLiveUpload::limits().contacts, 0);
    EXPECT_EQ(WindowsLiveUpload::limits().calendarItems, 0);
    platform::UserDefaults::remove(QStringLiteral("forceLiveMax"));
    EXPECT_EQ(WindowsLiveUpload::limits().contacts, 10000);
    EXPECT_EQ(WindowsLiveUpload::limits().calendarItems, 500);
}

TEST_F(LiveWizardTest, TheAnswersSkipQuitOrGoOn)
{
    platform::UserDefaults::setValue(QStringLiteral("forceLiveMax"), 1);
    for (const char *answer : {"Continue Anyway", "Quit", "Skip"}) {
        const QString a = QString::fromLatin1(answer);
        h.alerts.answer(a == QLatin1String("Skip") ? QStringLiteral("Skip Contacts") : a);
        if (a != QLatin1String("Quit")) h.alerts.answer(a == QLatin1String("Skip") ? QStringLiteral("Skip Calendars") : a);
        checkCounts(contacts(2), {calendarOf({event(1), event(-1)})});
        EXPECT_EQ(h.alerts.shown().size(), a == QLatin1String("Quit") ? 1 : 2) << answer;
        EXPECT_EQ(h.terminated, a != QLatin1String("Continue Anyway")) << answer;
        EXPECT_EQ(allChosen(), a != QLatin1String("Skip")) << answer;
        // Going on keeps every contact and prunes the events to the limit.
        EXPECT_EQ(wizard->contacts().size(), 2);
        EXPECT_EQ(hoursKept(wizard->calendars()).size(), a == QLatin1String("Continue Anyway") ? 1 : 2) << answer;
    }
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
    EXPECT_EQ(hoursKept(calendars), range(-500, -1));
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

TEST(LivePruning, StartsSortByTheirInstantWhateverTheirOffset)
{
    const QDateTime noon = QDateTime(QDate(2026, 1, 15), QTime(12, 0), Qt::UTC);
    const struct
    {
        const char *text;
        qint64 secondsFromNoonUtc;  // LLONG_MIN: no instant
    } starts[] = {
        {"2026-01-15T12:00:00+0000", 0},
        {"2026-01-15T12:00:00Z", 0},
        {"2026-01-15T17:30:00+0530", 0},
        {"2026-01-15T04:00:00-0800", 0},
        {"2026-01-15T12:00:00+00:00", 0},
        {"2026-01-16T01:45:00+1345", 0},  // Chatham in summer
        {"2026-01-15T12:00:00-0100", 3600},
        {"2026-01-15T12:00:00", LLONG_MIN},
        {"2026-01-15", LLONG_MIN},
    };
    for (const auto &s : starts) {
        const QDateTime start = WindowsLiveUpload::eventStart({{QStringLiteral("start_time"), QString::fromLatin1(s.text)}});
        if (s.secondsFromNoonUtc == LLONG_MIN)
            EXPECT_FALSE(start.isValid()) << s.text;
        else
            EXPECT_EQ(noon.secsTo(start), s.secondsFromNoonUtc) << s.text;
    }

    // London in winter writes "+0000", in summer "+0100": with the limit 1
    // the upcoming winter event, which starts first, is the one kept.
    const QVariantMap winter{{QStringLiteral("name"), QStringLiteral("1")},
                             {QStringLiteral("start_time"), QStringLiteral("2026-01-15T09:00:00+0000")}};
    const QVariantMap summer{{QStringLiteral("name"), QStringLiteral("2")},
                             {QStringLiteral("start_time"), QStringLiteral("2026-07-15T09:00:00+0100")}};
    for (const QDateTime &now : {QDateTime(QDate(2025, 12, 1), QTime(8, 0), Qt::UTC),
                                 QDateTime(QDate(2026, 8, 1), QTime(8, 0), Qt::UTC)}) {
        QVariantList calendars{calendarOf({summer, winter})};
        WindowsLiveUpload::pruneCalendars(calendars, 1, now);
        // Before both: the soonest upcoming; after both: the most recent.
        EXPECT_EQ(hoursKept(calendars), QList<int>{now.date().month() == 12 ? 1 : 2}) << now.toString(Qt::ISODate).toStdString();
    }
}

TEST_F(LiveWizardTest, ContactsThenCalendarsWithTheirCounts)
{
    upload(QStringLiteral("t"));
    EXPECT_EQ(wizard->numConSuccess(), 2u);
    EXPECT_EQ(wizard->numCalSuccess(), 2u);
    EXPECT_EQ(wizard->numEvSuccess(), 1u);
    EXPECT_EQ(server.requests, 3 + 2 + 2);
    EXPECT_EQ(wizard->contactsProgress(), 1.0);
    EXPECT_EQ(wizard->calendarProgress(), 1.0);
}

TEST_F(LiveWizardTest, AStageWithNothingChosenPassesAtOnce)
{
    wizard->setContactsValue(false);
    upload(QStringLiteral("t"));
    EXPECT_EQ(wizard->numConSuccess(), 0u);
    EXPECT_EQ(wizard->numCalSuccess(), 2u);
    for (const LoopbackHttpServer::Request &r : server.received) EXPECT_NE(r.path, "/v5.0/me/contacts");
}

TEST_F(LiveWizardTest, AClosedLoginEndsInBothKindsSkipped)
{
    upload(QString());
    EXPECT_EQ(server.requests, 0);
    EXPECT_TRUE(wizard->contactsEnabled() && wizard->calendarsEnabled());
    wizard->summaries()->postpopulateSummary(*wizard);
    EXPECT_EQ(wizard->contactsSummary(), QStringLiteral("Skipped Contacts"));
    EXPECT_EQ(wizard->calendarSummary(), QStringLiteral("Skipped Calendars"));
}

TEST_F(LiveWizardTest, SummariesComeFromTheControllersChoicesAndCounts)
{
    wizard->setManifestSource(NS_AppController::ManifestKind::Contacts,
                              std::make_shared<Manifest>(QVariantMap{{"contact_cnt", 120}, {"title", "Contacts"}}));
    wizard->setManifestSource(
        NS_AppController::ManifestKind::Events,
        std::make_shared<Manifest>(
            QVariantMap{{"event_cnt", 40}, {"title", "Events"}, {"calendar_cnt", 3}, {"calendar_title", "Calendars"}}));
    WizardSummaries *summaries = wizard->summaries();
    wizard->setMusicValue(false);
    summaries->prepopulateSummary(*wizard);
    EXPECT_EQ(wizard->appsSummary(), QStringLiteral("Skipping Apps"));
    EXPECT_EQ(wizard->musicSummary(), QStringLiteral("Skipping Music"));
    EXPECT_EQ(wizard->contactsSummary(), QStringLiteral("Contacts"));

    wizard->setNumConSuccess(118);
    wizard->setNumCalSuccess(3);
    wizard->setNumEvSuccess(40);
    wizard->setPhotosSummary(QStringLiteral("12 Photos"));
    summaries->postpopulateSummary(*wizard);
    EXPECT_EQ(wizard->contactsSummary(), QStringLiteral("118 of 120 Contacts"));
    EXPECT_EQ(wizard->calendarSummary(), QStringLiteral("40 Events in 3 Calendars"));
    EXPECT_EQ(wizard->musicSummary(), QStringLiteral("Skipped Music"));
    EXPECT_EQ(wizard->photosSummary(), QStringLiteral("12 Photos"));

    static_cast<NS_AppControllerSummaries *>(summaries)->appList().populateAppUI(
        QVariantList{QVariantMap{{"itemId", 1}, {"itemName", "Maps"}}});
    wizard->setAppsEnabled(true);
    wizard->setAppsValue(true);
    summaries->prepopulateSummary(*wizard);
    EXPECT_EQ(wizard->appsSummary(), QStringLiteral("1 Apps"));

    // Moved, partly failed, all failed, and a reader that gave no summary.
    const QVariantMap contactsRead{{"contact_cnt", 120}, {"title", "Contacts"}};
    const QVariantMap eventsRead{{"event_cnt", 40}, {"title", "Events"}, {"calendar_cnt", 3}, {"calendar_title", "Calendars"}};
    const struct {
        quint32 con, cal, ev;
        bool manifests;
        const char *contacts;
        const char *calendars;
    } cases[] = {
        {120, 3, 40, true, "120 Contacts", "40 Events in 3 Calendars"},
        {0, 0, 0, true, "0 of 120 Contacts", "0 of 40 Events in 0 of 3 Calendars"},
        {5, 1, 2, false, "5 Contacts", "2 Events in 1 Calendars"},
    };
    vtrsummaries::Choices chosen;
    chosen.contacts = chosen.calendars = true;
    for (const auto &c : cases) {
        const vtrsummaries::Texts texts = vtrsummaries::postpopulatedSummaries(
            chosen, {c.con, c.cal, c.ev, c.manifests ? contactsRead : QVariantMap(), c.manifests ? eventsRead : QVariantMap()});
        EXPECT_EQ(texts.value(0), (QPair<QString, QString>{"apps", "Skipped Apps"}));
        EXPECT_EQ(texts.value(1), (QPair<QString, QString>{"contacts", QString::fromLatin1(c.contacts)}));
        EXPECT_EQ(texts.value(2), (QPair<QString, QString>{"calendars", QString::fromLatin1(c.calendars)}));
    }
}

TEST_F(LiveWizardTest, WhatTheReaderCouldNotReadIsOnTheKindsLine)
{
    const QString note = QStringLiteral("\"notes.vcf\" held no contact that could be read");
    const QVariantList two{QVariantMap{{"first_name", "A"}}, QVariantMap{{"first_name", "C"}}};
    const QVariantList refused{QVariantMap{{"first_name", "A"}}, QVariantMap{{"first_name", "refuse"}}};
    const struct {
        QVariantList read;
        const char *line;
    } cases[] = {
        {two, " - Done (\"notes.vcf\" held no contact that could be read)"},
        {{}, " - Not moved: \"notes.vcf\" held no contact that could be read"},
        {refused, " - Failed: 1 could not be uploaded to Windows Live; \"notes.vcf\" held no contact that could be read"},
    };
    for (const auto &c : cases) {
        wizard->setManifestSource(NS_AppController::ManifestKind::Contacts,
                                  std::make_shared<Manifest>(QVariantMap{{"contact_cnt", c.read.size()}, {"note", note}}));
        wizard->setLivePIMState(0);
        upload(QStringLiteral("t"), c.read);
        EXPECT_EQ(wizard->contactsSummaryDone(), QLatin1String(c.line));
    }
}

// Contacts that could not be reached were not read: an upload of nothing
// leaves their line saying why rather than "Done".
TEST_F(LiveWizardTest, AKindThatCouldNotBeReachedKeepsItsLineThroughAnUploadOfNothing)
{
    const QString why = QStringLiteral("your address books could not be reached (Evolution Data Server: no bus)");
    wizard->setKindResult(vtrphase::Contacts, NS_AppController::Outcome::NotMoved, why);
    upload(QStringLiteral("t"), {});
    EXPECT_EQ(wizard->contactsSummaryDone().toStdString(), (" - Not moved: " + why).toStdString());
    // The calendars, read and partly refused, say so as ever.
    EXPECT_TRUE(wizard->calendarSummaryDone().startsWith(QStringLiteral(" - Failed: ")))
        << wizard->calendarSummaryDone().toStdString();
}

TEST_F(LiveWizardTest, CheckboxTitlesTellWhenMediaCannotMoveAndDoNotRecurse)
{
    int stores = 0;
    QObject::connect(wizard, &NS_AppController::checkboxTitlesChanged, [&] {
        ++stores;
        wizard->summaries()->buildCheckboxTitles(*wizard, true);  // an observer ticking a media kind
    });
    wizard->summaries()->buildCheckboxTitles(*wizard, false);
    EXPECT_EQ(stores, 1);
    const QVariantMap titles = wizard->checkboxTitles();
    EXPECT_EQ(titles.size(), 16);
    EXPECT_EQ(titles.value("musicInfo"), QStringLiteral("Music - cannot transfer music for this device"));
    EXPECT_EQ(titles.value("photosInfo"), QStringLiteral("Photos - cannot transfer photos for this device"));
    EXPECT_EQ(titles.value("videosInfo"), QStringLiteral("Videos - cannot transfer videos for this device"));
    EXPECT_EQ(titles.value("music"), QStringLiteral("Music"));
    EXPECT_EQ(vtrsummaries::checkboxTitles(true).value("musicInfo"), QStringLiteral("Music"));
}

TEST_F(LiveWizardTest, TheAndroidListWithoutAPhoneIsEmptyAndTheWizardMovesOn)
{
    auto *summaries = static_cast<NS_AppControllerSummaries *>(wizard->summaries());
    int changes = 0;
    QObject::connect(wizard, &NS_AppController::currentStateChanged, [&] { ++changes; });
    summaries->appList().prepareAndroidAppReferral(vtrapp::androidAppListProducer(*wizard));
    ASSERT_TRUE(testenv::waitUntil([&] { return changes > 0; }));
    EXPECT_FALSE(summaries->shouldDoAndroidAppReferral());
    EXPECT_EQ(wizard->connectedMobileDevice(), nullptr);
}

TEST(WizardSeats, TheControllersOwnSummariesAreTheRealOnes)
{
    WizardHarness h;
    auto *summaries = dynamic_cast<NS_AppControllerSummaries *>(h.wizard().summaries());
    ASSERT_NE(summaries, nullptr) << "the simulated phone and the tour use them too";
    h.wizard().setContactsValue(false);
    summaries->postpopulateSummary(h.wizard());
    EXPECT_EQ(h.wizard().contactsSummary(), QStringLiteral("Skipped Contacts"));
}
