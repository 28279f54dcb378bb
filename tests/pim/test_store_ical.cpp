// Runs again under odd time zones (scripts/test.sh): it reads dates.
// iCalendar files read through the store: the public samples field by field,
// zones that only the file's VTIMEZONE describes, several items in a file
// without a calendar around them.
#include "ProcessZone.h"
#include "QStringPrinting.h"
#include "TestEnvironment.h"

#include "support/PimRecorder.h"

#include "devices/phone/WindowsPhone7LocalDevice.h"
#include "foundation/Log.h"
#include "foundation/VtrCalendarDate.h"
#include "pim/EventDatabase.h"
#include "pim/records/RecurrenceExpansion.h"
#include "pim/store/SyncStore.h"

#include <QFileInfo>

#include <gtest/gtest.h>

using namespace syncstore;

namespace {

const QString kSamples = QStringLiteral(VTR_SHARED_DATA_DIR "/samples/icalendar");

std::unique_ptr<SyncRecordSnapshot> snapshotOf(const QString &folder) { return pimtest::snapshotOf({folder}, entity::Event); }

QList<QVariantMap> eventsOf(const SyncRecordSnapshot &s)
{
    QList<QVariantMap> out;
    for (const auto &e : pimtest::ofEntity(s, entity::Event)) out.append(e.record);
    return out;
}

VtrCalendarDate dateOf(const QVariant &v) { return v.value<VtrCalendarDate>(); }
QString utc(const QVariant &v) { return dateOf(v).utcDate().descriptionWithCalendarFormat("%Y%m%dT%H%M%SZ"); }
QString local(const VtrCalendarDate &d) { return d.descriptionWithCalendarFormat("%Y%m%dT%H%M%S%z"); }

// The occurrences of an event of one rule, as UTC texts (none without a
// single rule).
QStringList occurrencesInUtc(const SyncRecordSnapshot &s, const QVariantMap &e)
{
    const auto rules = s.recordsWithIdentifiers(e.value("recurrences").toStringList());
    QStringList got;
    if (rules.size() != 1) return got;
    for (const VtrCalendarDate &d : expandRecurrence(rules.first().record, dateOf(e.value("start date")), {}, {}))
        got.append(d.utcDate().descriptionWithCalendarFormat("%Y%m%dT%H%M%SZ"));
    return got;
}

} // namespace

TEST(StoreICalendar, SamplesFieldByField)
{
    VTR_REQUIRE_SAMPLE(QStringLiteral("icalendar"));
    const auto s = snapshotOf(kSamples);
    QHash<QString, QVariantMap> bySummary;
    for (const QVariantMap &e : eventsOf(*s)) bySummary.insert(e.value("summary").toString(), e);
    ASSERT_EQ(bySummary.size(), 4) << "the empty calendar with a byte-order mark holds none";
    const QStringList calendar{QFileInfo(kSamples).absoluteFilePath()};

    // A calendar program's export: UTC times, four alarms of two kinds.
    const QVariantMap google = bySummary.value("event with alarms");
    EXPECT_EQ(utc(google.value("start date")), "20241004T181500Z");
    EXPECT_EQ(utc(google.value("end date")), "20241004T190000Z");
    EXPECT_EQ(google.value("status").toString(), "confirmed");
    EXPECT_EQ(google.value("all day").toInt(), 0);
    EXPECT_EQ(google.value("calendar").toStringList(), calendar);
    for (const char *absent : {"description", "location", "classification", "recurrences", "exception dates"})
        EXPECT_FALSE(google.contains(absent)) << absent;
    const struct
    {
        const char *relationship;
        QList<qint64> triggers;
    } alarmKinds[] = {{"display alarms", {-600, -840, -900}}, {"mail alarms", {-900}}};
    for (const auto &kind : alarmKinds) {
        const auto alarms = s->recordsWithIdentifiers(google.value(kind.relationship).toStringList());
        ASSERT_EQ(alarms.size(), kind.triggers.size()) << kind.relationship;
        for (qsizetype i = 0; i < alarms.size(); ++i) {
            EXPECT_EQ(alarms.at(i).record.value("triggerduration").toLongLong(), kind.triggers.at(i));
            EXPECT_EQ(alarms.at(i).record.value("description").toString(), "This is an event reminder");
        }
    }
    EXPECT_EQ(s->recordsWithIdentifiers(google.value("mail alarms").toStringList()).first().record.value("summary").toString(),
              "Alarm notification");

    // A bare event: a weekly rule with a UTC end on a zoned start, five
    // exception dates on lines of their own, out of order.
    const QVariantMap weekly = bySummary.value("A Recurring event with multiple exdates, one per line.");
    const VtrCalendarDate start = dateOf(weekly.value("start date"));
    EXPECT_EQ(start.timeZone().id(), "Europe/Vienna");
    EXPECT_EQ(local(start), "20120327T100000+0200");
    EXPECT_EQ(local(dateOf(weekly.value("end date"))), "20120327T180000+0200");
    QStringList exdates;
    for (const QVariant &d : weekly.value("exception dates").toList()) exdates.append(local(dateOf(d)));
    EXPECT_EQ(exdates, (QStringList{"20120529T100000+0200", "20120403T100000+0200", "20120410T100000+0200",
                                    "20120501T100000+0200", "20120417T100000+0200"}));
    const auto rules = s->recordsWithIdentifiers(weekly.value("recurrences").toStringList());
    ASSERT_EQ(rules.size(), 1);
    const QVariantMap rule = rules.first().record;
    EXPECT_EQ(rule.value("frequency").toString(), "weekly");
    EXPECT_EQ(rule.value("interval").toInt(), 1);
    EXPECT_FALSE(rule.contains("count"));
    EXPECT_EQ(utc(rule.value("until")), "20120703T080000Z");
    EXPECT_EQ(rule.value("bydaydays").toStringList(), QStringList{"tuesday"});
    EXPECT_EQ(rule.value("bydayfreq").toList(), QVariantList{0});
    // Fifteen Tuesdays from 27 March to 3 July, the last at the end itself.
    const QList<VtrCalendarDate> tuesdays = expandRecurrence(rule, start, {}, {});
    ASSERT_EQ(tuesdays.size(), 15);
    EXPECT_EQ(local(tuesdays.last()), "20120703T100000+0200");

    // A phone's meeting request: an all-day event by its dates.
    const QVariantMap meeting = bySummary.value("Test meeting from BB");
    EXPECT_EQ(meeting.value("all day").toInt(), 1);
    EXPECT_EQ(dateOf(meeting.value("start date")).descriptionWithCalendarFormat("%Y-%m-%d %H:%M"), "2012-08-14 00:00");
    EXPECT_EQ(dateOf(meeting.value("end date")).descriptionWithCalendarFormat("%Y-%m-%d %H:%M"), "2012-08-15 00:00");
    EXPECT_EQ(meeting.value("description").toString(), "Test meeting from BB");
    EXPECT_EQ(meeting.value("classification").toString(), "public");

    // A zone named in the Windows way, with a non-ASCII name, that only the
    // file's VTIMEZONE describes.
    const QVariantMap brasilia = bySummary.value(QString());
    EXPECT_EQ(utc(brasilia.value("start date")), "20170511T163000Z");
    EXPECT_EQ(local(dateOf(brasilia.value("start date"))), "20170511T133000-0300");
    EXPECT_EQ(local(dateOf(brasilia.value("end date"))), "20170511T140000-0300");
}

// A weekly series in a zone that only its VTIMEZONE describes keeps its
// wall-clock time when it runs into the other half of the year.
TEST(StoreICalendar, ZonesThatOnlyTheFileDescribes)
{
    ProcessZone zone("America/Chicago");
    const QString folder = testenv::makeTempDir(QStringLiteral("zones"));
    const QByteArray exchange =
        "BEGIN:VCALENDAR\r\nBEGIN:VTIMEZONE\r\nTZID:GMT +0100 (Standard) / GMT +0200 (Daylight)\r\n"
        "BEGIN:STANDARD\r\nDTSTART:16010101T030000\r\nTZOFFSETFROM:+0200\r\nTZOFFSETTO:+0100\r\n"
        "RRULE:FREQ=YEARLY;BYDAY=-1SU;BYMONTH=10\r\nEND:STANDARD\r\nBEGIN:DAYLIGHT\r\nDTSTART:16010101T020000\r\n"
        "TZOFFSETFROM:+0100\r\nTZOFFSETTO:+0200\r\nRRULE:FREQ=YEARLY;BYDAY=-1SU;BYMONTH=3\r\nEND:DAYLIGHT\r\n"
        "END:VTIMEZONE\r\nBEGIN:VEVENT\r\nUID:exchange\r\nSUMMARY:Exchange\r\n"
        "DTSTART;TZID=\"GMT +0100 (Standard) / GMT +0200 (Daylight)\":20230920T090000\r\n"
        "RRULE:FREQ=WEEKLY;COUNT=10\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n";
    testenv::writeFile(folder + "/exchange.ics", exchange);
    // The Brazilian rules of a Windows program, dropped by the country in
    // 2019: the file's own rules count, not today's.
    QByteArray brasilia = QByteArray(
        "BEGIN:VCALENDAR\r\nBEGIN:VTIMEZONE\r\nTZID:(UTC-03:00) Bras\xc3\xadlia\r\nBEGIN:STANDARD\r\n"
        "DTSTART:16010101T235959\r\nTZOFFSETFROM:-0200\r\nTZOFFSETTO:-0300\r\n"
        "RRULE:FREQ=YEARLY;INTERVAL=1;BYDAY=3SA;BYMONTH=2\r\nEND:STANDARD\r\nBEGIN:DAYLIGHT\r\n"
        "DTSTART:16010101T235959\r\nTZOFFSETFROM:-0300\r\nTZOFFSETTO:-0200\r\n"
        "RRULE:FREQ=YEARLY;INTERVAL=1;BYDAY=2SA;BYMONTH=10\r\nEND:DAYLIGHT\r\nEND:VTIMEZONE\r\nBEGIN:VEVENT\r\n"
        "UID:brasilia\r\nSUMMARY:Brasilia\r\nDTSTART;TZID=\"(UTC-03:00) Bras\xc3\xadlia\":20190905T133000\r\n"
        "RRULE:FREQ=MONTHLY;COUNT=4\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n");
    testenv::writeFile(folder + "/brasilia.ics", brasilia);
    // Half-hour offsets no IANA zone has, the spring change written as the
    // Sunday among days 8 to 14: read through the file's own rules.
    const QByteArray halfHour = "BEGIN:VTIMEZONE\r\nTZID:Custom\r\nBEGIN:STANDARD\r\nDTSTART:19700101T020000\r\n"
                                "TZOFFSETFROM:+0230\r\nTZOFFSETTO:+0130\r\nRRULE:FREQ=YEARLY;BYMONTH=11;BYDAY=1SU\r\n"
                                "END:STANDARD\r\nBEGIN:DAYLIGHT\r\nDTSTART:19700101T020000\r\nTZOFFSETFROM:+0130\r\n"
                                "TZOFFSETTO:+0230\r\nRRULE:FREQ=YEARLY;BYMONTH=3;BYDAY=SU;BYMONTHDAY=8,9,10,11,12,13,14\r\n"
                                "END:DAYLIGHT\r\nEND:VTIMEZONE\r\n";
    for (const char *when : {"Spring:20240303", "Autumn:20241027"})
        testenv::writeFile(folder + "/" + QString::fromLatin1(when).left(6) + ".ics",
                           "BEGIN:VCALENDAR\r\n" + halfHour + "BEGIN:VEVENT\r\nUID:" + QByteArray(when).left(6) + "\r\nSUMMARY:"
                               + QByteArray(when).left(6) + "\r\nDTSTART;TZID=Custom:" + QByteArray(when).mid(7)
                               + "T090000\r\nRRULE:FREQ=WEEKLY;COUNT=3\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n");

    const auto s = snapshotOf(folder);
    QHash<QString, QVariantMap> bySummary;
    for (const QVariantMap &e : eventsOf(*s)) bySummary.insert(e.value("summary").toString(), e);
    const struct
    {
        const char *summary;
        QStringList expected;
    } cases[] = {
        {"Exchange",
         {"20230920T070000Z", "20230927T070000Z", "20231004T070000Z", "20231011T070000Z", "20231018T070000Z",
          "20231025T070000Z", "20231101T080000Z", "20231108T080000Z", "20231115T080000Z", "20231122T080000Z"}},
        {"Brasilia", {"20190905T163000Z", "20191005T163000Z", "20191105T153000Z", "20191205T153000Z"}},
        {"Spring", {"20240303T073000Z", "20240310T063000Z", "20240317T063000Z"}},
        {"Autumn", {"20241027T063000Z", "20241103T073000Z", "20241110T073000Z"}},
    };
    for (const auto &c : cases) {
        const QVariantMap e = bySummary.value(c.summary);
        EXPECT_EQ(occurrencesInUtc(*s, e), c.expected)
            << c.summary << " in " << dateOf(e.value("start date")).timeZone().id().toStdString();
    }
}

// Offsets no IANA zone has: the file's rules are read as written (changes on
// the last Sunday of a month), but only where they give the offsets libical
// gives: a daylight time that its COUNT has ended is over.
TEST(StoreICalendar, FileRulesOnlyWhereLibicalReadsThemAlike)
{
    ProcessZone zone("America/Chicago");
    const QString folder = testenv::makeTempDir(QStringLiteral("own-rules"));
    const auto write = [&](const char *name, const QByteArray &daylightStart, const QByteArray &daylightRule) {
        testenv::writeFile(
            folder + "/" + name + ".ics",
            "BEGIN:VCALENDAR\r\nBEGIN:VTIMEZONE\r\nTZID:" + QByteArray(name)
                + "\r\nBEGIN:STANDARD\r\nDTSTART:19701025T030000\r\nTZOFFSETFROM:+0420\r\nTZOFFSETTO:+0320\r\n"
                  "RRULE:FREQ=YEARLY;BYMONTH=10;BYDAY=-1SU\r\nEND:STANDARD\r\nBEGIN:DAYLIGHT\r\nDTSTART:"
                + daylightStart + "\r\nTZOFFSETFROM:+0320\r\nTZOFFSETTO:+0420\r\nRRULE:" + daylightRule
                + "\r\nEND:DAYLIGHT\r\nEND:VTIMEZONE\r\nBEGIN:VEVENT\r\nUID:" + name + "\r\nSUMMARY:" + name
                + "\r\nDTSTART;TZID=" + name + ":20240320T090000\r\nRRULE:FREQ=WEEKLY;COUNT=3\r\nEND:VEVENT\r\n"
                  "BEGIN:VEVENT\r\nUID:" + name + "-autumn\r\nSUMMARY:" + name + " autumn\r\nDTSTART;TZID=" + name
                + ":20241016T090000\r\nRRULE:FREQ=WEEKLY;COUNT=3\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n");
    };
    write("LastSunday", "19700329T020000", "FREQ=YEARLY;BYMONTH=3;BYDAY=-1SU");
    write("Ended", "20000326T020000", "FREQ=YEARLY;BYMONTH=3;BYDAY=-1SU;COUNT=3");

    const auto s = snapshotOf(folder);
    QHash<QString, QVariantMap> bySummary;
    for (const QVariantMap &e : eventsOf(*s)) bySummary.insert(e.value("summary").toString(), e);
    const struct
    {
        const char *summary;
        QStringList expected;
    } cases[] = {
        // Summer time from 31 March to 27 October 2024.
        {"LastSunday", {"20240320T054000Z", "20240327T054000Z", "20240403T044000Z"}},
        {"LastSunday autumn", {"20241016T044000Z", "20241023T044000Z", "20241030T054000Z"}},
        {"Ended", {"20240320T054000Z", "20240327T054000Z", "20240403T054000Z"}},
        {"Ended autumn", {"20241016T054000Z", "20241023T054000Z", "20241030T054000Z"}},
    };
    for (const auto &c : cases) {
        const QVariantMap e = bySummary.value(c.summary);
        EXPECT_EQ(occurrencesInUtc(*s, e), c.expected)
            << c.summary << " in " << dateOf(e.value("start date")).timeZone().id().toStdString();
    }
}

// Zones whose observances start in year 1 (as some servers write them) are
// read over the years their events need, with the offsets of their whole
// rules: the last Sunday of March and October; a summer time that ended in
// 2010; changes every other Sunday, counted from year 1 in libical's
// calendar (Julian up to October 1582); changes on the first weekend of
// every month and on 1 March, read in decades apart (also in 1700, whose
// February libical counts 29 days long when it moves a change to UTC).
TEST(StoreICalendar, ZonesFromYearOneGiveTheirEventsTheOffsetsOfTheirWholeRules)
{
    const auto observance = [](const char *kind, const char *start, const char *from, const char *to, const char *rule) {
        return "BEGIN:" + QByteArray(kind) + "\r\nDTSTART:" + start + "\r\nTZOFFSETFROM:" + from + "\r\nTZOFFSETTO:" + to
               + "\r\nRRULE:" + rule + "\r\nEND:" + kind + "\r\n";
    };
    const struct
    {
        const char *tzid, *standard, *daylight, *daylightStart;
    } zones[] = {
        {"Year one", "FREQ=YEARLY;BYDAY=-1SU;BYMONTH=10", "FREQ=YEARLY;BYDAY=-1SU;BYMONTH=3", "00010101T020000"},
        {"Ended", "FREQ=YEARLY;BYDAY=-1SU;BYMONTH=10;UNTIL=20101031T010000Z",
         "FREQ=YEARLY;BYDAY=-1SU;BYMONTH=3;UNTIL=20100328T010000Z", "00010101T020000"},
        {"Fortnights", "FREQ=WEEKLY;INTERVAL=2;BYDAY=SU", "FREQ=WEEKLY;INTERVAL=2;BYDAY=SU", "00010108T020000"},
        {"Weekends", "FREQ=YEARLY;BYMONTH=1,3,5,7,9,11;BYDAY=SA,SU;BYMONTHDAY=1,2,3,4,5,6,7",
         "FREQ=YEARLY;BYMONTH=2,4,6,8,10,12;BYDAY=SA,SU;BYMONTHDAY=1,2,3,4,5,6,7", "00010101T020000"},
        {"March", "FREQ=YEARLY;BYMONTH=9;BYMONTHDAY=1", "FREQ=YEARLY;BYMONTH=3;BYMONTHDAY=1", "00010101T003000"},
    };
    QByteArray calendar = "BEGIN:VCALENDAR\r\n";
    for (const auto &z : zones)
        calendar += "BEGIN:VTIMEZONE\r\nTZID:" + QByteArray(z.tzid) + "\r\n"
                    + observance("STANDARD", "00010101T030000", "+0200", "+0100", z.standard)
                    + observance("DAYLIGHT", z.daylightStart, "+0100", "+0200", z.daylight) + "END:VTIMEZONE\r\n";
    const struct
    {
        const char *tzid, *start;
        QStringList expected;
    } cases[] = {
        {"Year one", "20240320", {"20240320T080000Z", "20240327T080000Z", "20240403T070000Z"}},
        {"Year one", "19961016", {"19961016T070000Z", "19961023T070000Z", "19961030T080000Z"}},
        {"Ended", "20100317", {"20100317T080000Z", "20100324T080000Z", "20100331T070000Z"}},
        {"Ended", "20240320", {"20240320T080000Z", "20240327T080000Z", "20240403T080000Z"}},
        // Dates are Gregorian in every year: 1700, 1800 and 2100 have no
        // 29 February, and a date before 1583 is the day it names.
        {"Year one", "17000804", {"17000804T070000Z", "17000811T070000Z"}},
        {"Year one", "17001231", {"17001231T080000Z", "17010107T080000Z"}},
        {"Year one", "16990804", {"16990804T070000Z"}},
        {"Year one", "18000804", {"18000804T070000Z"}},
        {"Year one", "21001231", {"21001231T080000Z"}},
        {"Year one", "15000804", {"15000804T070000Z"}},
        // Each on its own: a series' later weeks are read in one offset.
        {"Fortnights", "20240603", {"20240603T080000Z"}},
        {"Fortnights", "20240610", {"20240610T070000Z"}},
        {"Fortnights", "20240617", {"20240617T080000Z"}},
        // Years of every kind (leap or not, Julian or Gregorian).
        {"Weekends", "20240203", {"20240203T070000Z"}},
        {"Weekends", "20240202", {"20240202T080000Z"}},
        {"Weekends", "19990102", {"19990102T080000Z"}},
        {"Weekends", "20500101", {"20500101T080000Z"}},
        {"Weekends", "21000228", {"21000228T070000Z"}},
        {"Weekends", "18960301", {"18960301T080000Z"}},
        {"Weekends", "14000301", {"14000301T070000Z"}},
        {"Weekends", "14010106", {"14010106T080000Z"}},
        {"March", "16900222", {"16900222T080000Z", "16900301T070000Z", "16900308T070000Z"}},
        {"March", "17000222", {"17000222T080000Z", "17000301T080000Z", "17000308T080000Z"}},
    };
    for (const auto &c : cases)
        calendar += "BEGIN:VEVENT\r\nUID:" + QByteArray(c.tzid) + c.start + "\r\nSUMMARY:" + c.tzid + " " + c.start
                    + "\r\nDTSTART;TZID=" + c.tzid + ":" + c.start + "T090000\r\nRRULE:FREQ=WEEKLY;COUNT="
                    + QByteArray::number(c.expected.size()) + "\r\nEND:VEVENT\r\n";
    const QString folder = testenv::makeTempDir(QStringLiteral("year-one"));
    testenv::writeFile(folder + "/zones.ics", calendar + "END:VCALENDAR\r\n");

    // Calendars whose reading has to be bounded: a weekly event from 15 June
    // of year 1 in such a zone (600 bytes) is read with the zone's offset
    // then; a zone whose offset changes every half hour is not read, its
    // event's times are floating; a zone whose offset changes twice a day
    // is read for the first decades its events need, until the file's share
    // is spent.
    const QByteArray yearOne = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nBEGIN:VTIMEZONE\r\nTZID:Year one\r\n"
                               + observance("STANDARD", "00010101T030000", "+0200", "+0100", zones[0].standard)
                               + observance("DAYLIGHT", "00010101T020000", "+0100", "+0200", zones[0].daylight)
                               + "END:VTIMEZONE\r\nBEGIN:VEVENT\r\nUID:first\r\nSUMMARY:First\r\n"
                                 "DTSTART;TZID=Year one:00010615T090000\r\nRRULE:FREQ=WEEKLY\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n";
    testenv::writeFile(folder + "/first.ics", yearOne);
    testenv::writeFile(folder + "/tides.ics",
                       "BEGIN:VCALENDAR\r\nBEGIN:VTIMEZONE\r\nTZID:Tides\r\n"
                           + observance("STANDARD", "20000101T000000", "+0200", "+0100", "FREQ=HOURLY;BYMINUTE=0")
                           + observance("DAYLIGHT", "20000101T003000", "+0100", "+0200", "FREQ=HOURLY;BYMINUTE=30")
                           + "END:VTIMEZONE\r\nBEGIN:VEVENT\r\nUID:tides\r\nSUMMARY:Tides\r\n"
                             "DTSTART;TZID=Tides:20240315T091500\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n");
    QByteArray days = "BEGIN:VCALENDAR\r\nBEGIN:VTIMEZONE\r\nTZID:Days\r\n"
                      + observance("STANDARD", "20000101T000000", "+0200", "+0100", "FREQ=DAILY")
                      + observance("DAYLIGHT", "20000101T120000", "+0100", "+0200", "FREQ=DAILY") + "END:VTIMEZONE\r\n";
    for (int year = 2000; year < 2100; year += 10)
        days += "BEGIN:VEVENT\r\nUID:days" + QByteArray::number(year) + "\r\nSUMMARY:Days\r\nDTSTART;TZID=Days:"
                + QByteArray::number(year) + "0315T091500\r\nEND:VEVENT\r\n";
    testenv::writeFile(folder + "/days.ics", days + "END:VCALENDAR\r\n");

    QStringList log;
    LogSetSystemLogSink([&log](const QString &line) { log.append(line); });
    const auto s = snapshotOf(folder);
    LogSetSystemLogSink(nullptr);
    EXPECT_EQ(log.filter("zone \"Tides\" are read as floating").size(), 1) << log.join('\n').toStdString();
    EXPECT_EQ(log.filter("zone \"Days\" are read as floating").size(), 1) << log.join('\n').toStdString();
    EXPECT_EQ(pimtest::ofEntity(*s, entity::Event).size(), 35);
    QHash<QString, QVariantMap> bySummary;
    for (const QVariantMap &e : eventsOf(*s)) bySummary.insert(e.value("summary").toString(), e);
    for (const auto &c : cases) {
        const QVariantMap e = bySummary.value(QString::fromLatin1(c.tzid) + ' ' + c.start);
        EXPECT_EQ(occurrencesInUtc(*s, e), c.expected)
            << c.tzid << ' ' << c.start << " in " << dateOf(e.value("start date")).timeZone().id().toStdString();
    }
    EXPECT_EQ(local(dateOf(bySummary.value("First").value("start date"))), "10615T090000+0200"); // year 1, unpadded
    const VtrCalendarDate tides = dateOf(bySummary.value("Tides").value("start date"));
    EXPECT_EQ(tides.descriptionWithCalendarFormat("%Y%m%dT%H%M%S"), "20240315T091500");
    EXPECT_EQ(tides.timeZone(), vtr::defaultTimeZone());
}

// Descriptions of some megabytes, on one unfolded line or folded, are read
// whole, as is a last line without its line end.
TEST(StoreICalendar, LongLinesAreReadWhole)
{
    const QString folder = testenv::makeTempDir(QStringLiteral("long"));
    QByteArray description;
    for (int i = 0; description.size() < (3 << 20); ++i) description += "Agenda " + QByteArray::number(i) + " \xc3\xa9t\xc3\xa9 ";
    QByteArray folded;
    for (qsizetype i = 0; i < description.size(); i += 73) folded += (i ? "\r\n " : "") + description.mid(i, 73);
    const QByteArray head = "BEGIN:VCALENDAR\r\nBEGIN:VEVENT\r\nDTSTART:20240301T090000Z\r\nUID:";
    testenv::writeFile(folder + "/unfolded.ics", head + "unfolded\r\nDESCRIPTION:" + description + "\r\nEND:VEVENT\r\nEND:VCALENDAR");
    testenv::writeFile(folder + "/folded.ics", head + "folded\r\nDESCRIPTION:" + folded + "\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n");
    const auto s = snapshotOf(folder);
    const QList<QVariantMap> events = eventsOf(*s);
    ASSERT_EQ(events.size(), 2);
    for (const QVariantMap &e : events)
        EXPECT_TRUE(e.value("description").toString() == QString::fromUtf8(description).trimmed()) << e.value("uid").toString().toStdString();
}

TEST(StoreICalendar, SeveralItemsWithoutACalendarAroundThem)
{
    const QString folder = testenv::makeTempDir(QStringLiteral("bare"));
    testenv::writeFile(folder + "/two.ics", "BEGIN:VEVENT\r\nUID:a\r\nSUMMARY:One\r\nDTSTART:20120301T100000Z\r\nEND:VEVENT\r\n"
                                            "BEGIN:VEVENT\r\nUID:b\r\nSUMMARY:Two\r\nDTSTART:20120302T100000Z\r\nEND:VEVENT\r\n");
    testenv::writeFile(folder + "/calendars.ics", "BEGIN:VCALENDAR\r\nBEGIN:VEVENT\r\nSUMMARY:Three\r\nDTSTART:20120303T100000Z\r\n"
                                                  "END:VEVENT\r\nEND:VCALENDAR\r\nBEGIN:VCALENDAR\r\nBEGIN:VEVENT\r\n"
                                                  "SUMMARY:Four\r\nDTSTART:20120304T100000Z\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n");
    QStringList summaries;
    for (const QVariantMap &e : eventsOf(*snapshotOf(folder)))
        summaries.append(e.value("summary").toString() + QLatin1Char(' ') + utc(e.value("start date")));
    summaries.sort();
    EXPECT_EQ(summaries, (QStringList{"Four 20120304T100000Z", "One 20120301T100000Z", "Three 20120303T100000Z",
                                      "Two 20120302T100000Z"}));
}

// The samples as the new phone's calendar gets them: one calendar named after
// the folder, each event's name, times in the default zone, all-day flag,
// reminder and (for the series) its rule in the export record.
TEST(StoreICalendar, SamplesIntoWindowsLiveBodies)
{
    VTR_REQUIRE_SAMPLE(QStringLiteral("icalendar"));
    ProcessZone zone("Europe/Berlin");
    const auto store = pimtest::vdirStore({kSamples});
    PimRecorder recorder;
    EventDatabase db(&recorder, store);
    db.setTargetDevice(WindowsPhone7LocalDevice::create({}, nullptr));
    db.runDatabaseDump();
    ASSERT_EQ(recorder.calendars.size(), 1);
    const QVariantMap calendar = recorder.calendars.first().toMap();
    EXPECT_EQ(calendar.value("name").toString(), "icalendar");
    QHash<QString, QVariantMap> byName;
    for (const QVariant &e : calendar.value("events").toList()) byName.insert(e.toMap().value("name").toString(), e.toMap());
    ASSERT_EQ(byName.size(), 4);
    const struct
    {
        const char *name, *start, *end;
        bool allDay;
        QVariant reminder;
        const char *description;
    } expected[] = {
        {"event with alarms", "2024-10-04T20:15:00+0200", "2024-10-04T21:00:00+0200", false, 10.0, "event with alarms"},
        {"A Recurring event with multiple exdates, one per line.", "2012-03-27T10:00:00+0200",
         "2012-03-27T18:00:00+0200", false, QVariant(), "A Recurring event with multiple exdates, one per line."},
        {"Test meeting from BB", "2012-08-14T00:00:00+0200", "2012-08-15T00:00:00+0200", true, QVariant(),
         "Test meeting from BB"},
        {"", "2017-05-11T18:30:00+0200", "2017-05-11T19:00:00+0200", false, QVariant(), nullptr},
    };
    for (const auto &x : expected) {
        const QVariantMap body = byName.value(x.name);
        EXPECT_EQ(body.value("start_time").toString(), x.start) << x.name;
        EXPECT_EQ(body.value("end_time").toString(), x.end) << x.name;
        EXPECT_EQ(body.value("is_all_day_event").toBool(), x.allDay) << x.name;
        EXPECT_EQ(body.value("reminder_time"), x.reminder) << x.name;
        EXPECT_EQ(body.value("description"), x.description ? QVariant(x.description) : QVariant()) << x.name;
        EXPECT_FALSE(body.contains("location")) << x.name;
    }

    QVariantList events, calendars;
    db.events(events, calendars);
    for (const QVariant &v : std::as_const(events)) {
        const QVariantMap e = v.toMap();
        if (!e.contains("rrule")) continue;
        EXPECT_EQ(e.value("summary").toString(), "A Recurring event with multiple exdates, one per line.");
        EXPECT_EQ(e.value("rrule").toString(), "FREQ=WEEKLY;INTERVAL=1;UNTIL=20120703T080000Z;BYDAY=TU;WKST=MO;");
        EXPECT_EQ(e.value("exdate").toString(), "20120529T080000Z,20120403T080000Z,20120410T080000Z,20120501T080000Z,"
                                                "20120417T080000Z");
        EXPECT_EQ(e.value("x-wr-timezone").toString(), "Europe/Vienna");
    }
}
