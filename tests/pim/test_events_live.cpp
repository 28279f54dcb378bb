// Windows Live calendar and event bodies from JSON records: the companion
// app's file against checked-in expected bodies, and the text and reminder
// rules.
#include "ProcessZone.h"
#include "QStringPrinting.h"
#include "support/PimRecorder.h"

#include "TestEnvironment.h"
#include "fileinfo/VtrMacFileInfo.h"
#include "foundation/Json.h"
#include "foundation/VtrCalendarDate.h"
#include "pim/EventDatabase.h"

#include <QTimeZone>

#include <gtest/gtest.h>

using pimtest::canonicalJson;

namespace {
class EventsLive : public ::testing::Test
{
protected:
    ProcessZone zone{"Europe/Berlin"};
};

QVariantMap oneEventBody(EventDatabase &db, const QVariantMap &event)
{
    QVariantMap calendars{{QStringLiteral("c"), QVariantMap{{QStringLiteral("name"), QStringLiteral("C")}}}};
    const QVariantList bodies = db.convertEventsToWindowsLive({event}, calendars);
    return bodies.value(0).toMap().value(QStringLiteral("events")).toList().value(0).toMap();
}
}  // namespace

TEST_F(EventsLive, CompanionFileGivesTheExpectedBodiesAndProgress)
{
    PimRecorder recorder;
    EventDatabase db(&recorder, pimtest::fixtureStore(QStringLiteral("store_empty.json")));
    const auto bodies = db.windowsLiveCalendarsAndEventsWithData(pimtest::dataFile(QStringLiteral("nroid_cal.json")));
    ASSERT_TRUE(bodies);
    EXPECT_EQ(canonicalJson(*bodies),
              canonicalJson(vtr::JSONValueFromUtf8(pimtest::dataFile(QStringLiteral("live_calendars_expected.json")))));
    EXPECT_EQ(db.recordCount(), 5);
    EXPECT_EQ(db.containerCount(), 3) << "the calendar bodies returned";
    QList<double> expected;
    for (int k = 1; k <= 10; ++k) expected.append(k / 10.0 / 3.0);
    expected << 2.0 / 3.0 << 1.0;
    EXPECT_EQ(recorder.percents(), expected);
}

// The file read a line at a time gives the bodies of the whole text, an
// event before its calendar's line included; a file that is not UTF-8 gives
// none, one that cannot be read throws.
TEST_F(EventsLive, CompanionFileReadALineAtATimeGivesTheSameBodies)
{
    PimRecorder recorder;
    EventDatabase db(&recorder, pimtest::fixtureStore(QStringLiteral("store_empty.json")));
    const QString folder = testenv::makeTempDir(QStringLiteral("companion"));
    const auto fromFile = [&](const QString &name, const QByteArray &data) {
        testenv::writeFile(folder + QLatin1Char('/') + name, data);
        const auto held = db.windowsLiveCalendarsAndEventsFromFile(VtrMacFileInfo::fileInfoWithPath(folder + QLatin1Char('/') + name));
        if (!held) return QString();
        QVariantList calendars; // the events are held as compact text
        for (const QVariant &c : *held) {
            QVariantMap calendar = c.toMap();
            QVariantList events;
            for (const QVariant &e : calendar.value("events").toList()) events.append(e.toMap());
            if (calendar.contains("events")) calendar.insert("events", events);
            calendars.append(calendar);
        }
        return canonicalJson(calendars);
    };
    const QByteArray data = pimtest::dataFile(QStringLiteral("nroid_cal.json"));
    EXPECT_EQ(fromFile("nroid_cal.json", data), canonicalJson(*db.windowsLiveCalendarsAndEventsWithData(data)));
    EXPECT_EQ(recorder.percents().mid(0, 12), recorder.percents().mid(12));
    EXPECT_EQ(db.recordCount(), 5);
    EXPECT_EQ(db.containerCount(), 3);

    const QByteArray early = R"({"command":"ADD_RECORD","database":"events","record":{"summary":"Early","x-ms-calendar-id":"c1"}}
{"command":"ADD_RECORD","database":"calendars","record":{"uid":"c1","x-wr-calname":"Work"}}
{"command":"ADD_RECORD","database":"events","record":{"summary":"Stray","x-ms-calendar-id":"c9"}})";
    EXPECT_EQ(fromFile("early.json", early),
              canonicalJson(vtr::JSONValueFromUtf8(R"([{"name":"Unnamed Device Calendar c9","events":[{"name":"Stray","description":"Stray"}]},
                                                       {"name":"Work","events":[{"name":"Early","description":"Early"}]}])")));

    recorder.reports.clear();
    EXPECT_TRUE(fromFile("broken.json", "{\"a\":1}\n{\"b\":\"\xff\"}\n").isNull());
    EXPECT_TRUE(recorder.reports.isEmpty()) << "no progress for a file that is not UTF-8";
    EXPECT_THROW(db.windowsLiveCalendarsAndEventsFromFile(VtrMacFileInfo::fileInfoWithPath(folder + "/gone.json")), VtrException);
}

TEST_F(EventsLive, AnEmptyFileIsOneEmptyLine)
{
    PimRecorder recorder;
    EventDatabase db(&recorder, pimtest::fixtureStore(QStringLiteral("store_empty.json")));
    const auto bodies = db.windowsLiveCalendarsAndEventsWithData(QByteArray());
    ASSERT_TRUE(bodies);
    EXPECT_TRUE(bodies->isEmpty());
    EXPECT_EQ(recorder.percents(), (QList<double>{1.0 / 3.0, 2.0 / 3.0, 1.0}));
    EXPECT_FALSE(db.windowsLiveCalendarsAndEventsWithData(QByteArray("\xc3\x28")));
}

TEST_F(EventsLive, TextTimeAndReminderRules)
{
    EventDatabase db(nullptr, pimtest::fixtureStore(QStringLiteral("store_empty.json")));
    const QString longSummary(300, QLatin1Char('s'));
    const struct
    {
        QVariantMap event;
        const char *body;
    } cases[] = {
        {{{"summary", "Short"}}, R"({"name":"Short","description":"Short"})"},
        {{{"summary", "Short"}, {"description", "Details"}}, R"({"name":"Short","description":"Details"})"},
        {{{"description", "Only details"}}, R"({"description":"Only details"})"},
        {{{"valarms", QVariantList{QVariantMap{{"trigger", 300}}}}}, R"({})"},
        {{{"valarms", QVariantList{QVariantMap{{"trigger", -600}}, QVariantMap{{"trigger", -3600}}}}}, R"({"reminder_time":10.0})"},
        {{{"valarms", QVariantList{QVariantMap{{"x-ms-trigger-type", "date-time"}, {"trigger", -60}},
                                   QVariantMap{{"x-ms-trigger-type", "x-seconds-offset"}, {"trigger", 0}}}}},
         R"({"reminder_time":-0.0})"},
        // Timed: the digits are GMT; all day: they are the local day.
        {{{"dtstart", "20120301000000"}}, R"({"start_time":"2012-03-01T01:00:00+0100"})"},
        {{{"dtstart", "20120301000000"}, {"x-ms-all-day", 1}},
         R"({"start_time":"2012-03-01T00:00:00+0100","is_all_day_event":true})"},
        {{{"dtend", "201203010000"}}, R"({})"},
    };
    for (const auto &c : cases) {
        QVariantMap event = c.event;
        event.insert(QStringLiteral("x-ms-calendar-id"), QStringLiteral("c"));
        EXPECT_EQ(canonicalJson(oneEventBody(db, event)), canonicalJson(vtr::JSONValue(QString::fromUtf8(c.body))))
            << canonicalJson(c.event).toStdString();
    }
    QVariantMap event{{"x-ms-calendar-id", "c"}, {"summary", longSummary}, {"description", "D"}};
    const QVariantMap body = oneEventBody(db, event);
    EXPECT_EQ(body.value(QStringLiteral("name")).toString(), longSummary.left(255));
    EXPECT_EQ(body.value(QStringLiteral("description")).toString(), longSummary + QStringLiteral(" D"));
}

// Names and descriptions are cut on whole characters: an emoji (two UTF-16
// units) or a letter with its accent counts once and is never split.
TEST_F(EventsLive, CutsCountWholeCharacters)
{
    EventDatabase db(nullptr, pimtest::fixtureStore(QStringLiteral("store_empty.json")));
    const QString emoji = QString::fromUtf8("\xF0\x9F\x8E\x89"); // one character, two units
    const QString accented = QString::fromUtf8("e\xCC\x81");       // e and a combining accent
    const QString x254(254, QLatin1Char('x')), x255(255, QLatin1Char('x'));
    const struct
    {
        QString summary, name;
    } cases[] = {
        {x255, x255},
        {x255 + QLatin1Char('y'), x255},          // 256 characters: cut to 255
        {x254 + emoji, x254 + emoji},             // 255 characters in 256 units: whole
        {x255 + emoji, x255},                     // 256 characters: the emoji goes whole
        {x254 + emoji + QLatin1Char('z'), x254 + emoji},
        {x254 + accented + QLatin1Char('z'), x254 + accented},
    };
    for (const auto &c : cases) {
        const QVariantMap body = oneEventBody(db, {{"x-ms-calendar-id", "c"}, {"summary", c.summary}});
        EXPECT_EQ(body.value(QStringLiteral("name")).toString(), c.name) << c.summary.size();
        EXPECT_EQ(body.value(QStringLiteral("description")).toString(), c.summary);
    }
    const QString x32766(32766, QLatin1Char('x'));
    const QVariantMap body = oneEventBody(db, {{"x-ms-calendar-id", "c"}, {"summary", x32766 + emoji + emoji}});
    EXPECT_EQ(body.value(QStringLiteral("description")).toString(), x32766 + emoji);
}
