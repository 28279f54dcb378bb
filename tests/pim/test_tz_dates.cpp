// Runs under several TZ settings in CI; the checks that depend on the
// default zone run here under UTC, America/New_York and Pacific/Auckland
// whatever the process's own zone is.
#include "ProcessZone.h"
#include "QStringPrinting.h"
#include "foundation/Json.h"
#include "foundation/Log.h"
#include "pim/records/STDate.h"
#include "pim/records/STTimeZone.h"
#include "TestEnvironment.h"

#include <QDir>
#include <QLocale>

#include <gtest/gtest.h>

namespace {

QDateTime utc(int y, int mo, int d, int h, int mi)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi), QTimeZone::utc());
}

} // namespace

TEST(STDate, CalendarDateKeepsTheInstantAndShowsTheZone)
{
    const QTimeZone newYork("America/New_York"); // five hours behind UTC on 10 March 2012
    STDate d = STDate::dateWithCalendarDate(VtrCalendarDate::fromComponents(2012, 3, 10, 18, 30, 0, newYork));
    EXPECT_EQ(d.utcTimeString(), "20120310233000");
    EXPECT_EQ(d.timeZone(), "America/New_York");
    EXPECT_EQ(d.calendarDate().descriptionWithCalendarFormat("%H:%M:%S"), "18:30:00");
    EXPECT_EQ(d.calendarDate().timeZone(), newYork);

    d.setIsDateOnly(true); // the evening's local day, not UTC's next one
    EXPECT_EQ(d.utcTimeString(), "20120310000000");
    EXPECT_EQ(d.timeZone(), "GMT");
    d.setIsDateOnly(false);
    EXPECT_FALSE(d.isDateOnly());
    EXPECT_EQ(d.utcTimeString(), "20120310000000");

    // A wall-clock time in the spring gap moves forward by the gap.
    const STDate gap = STDate::dateWithCalendarDate(VtrCalendarDate::fromComponents(2012, 3, 11, 2, 30, 0, newYork));
    EXPECT_EQ(gap.utcTimeString(), "20120311073000");
    EXPECT_EQ(gap.calendarDate().descriptionWithCalendarFormat("%H:%M"), "03:30");

    // Zero-offset zones: written "GMT", read under every name.
    EXPECT_EQ(STDate::dateWithCalendarDate(VtrCalendarDate(utc(2012, 1, 1, 0, 0), QTimeZone::utc())).timeZone(), "GMT");
    for (const char *name : {"GMT", "UTC", "Z"}) {
        EXPECT_EQ(STDate::zoneNamed(name), QTimeZone::utc()) << name;
        EXPECT_EQ(STDate("20120101120000", QString::fromLatin1(name)).calendarDate().hourOfDay(), 12) << name;
    }
    EXPECT_EQ(STDate("20120101120000", "No/Such_Zone").calendarDate().timeZone(), QTimeZone::utc());

    const STDate back = STDateToNSCalendarDateTransformer::reverseTransformedValue(
        STDateToNSCalendarDateTransformer::transformedValue(STDate("20121231235959", "Pacific/Auckland")));
    EXPECT_EQ(back.utcTimeString(), "20121231235959");
    EXPECT_EQ(back.timeZone(), "Pacific/Auckland");
}

TEST(STDate, EqualityAndOrderLookAtTheInstantOnly)
{
    const STDate a("20120310233000", "America/New_York");
    const STDate b("20120310233000", QString());
    const STDate c("20120310233001", "GMT");
    EXPECT_EQ(a, b);
    EXPECT_EQ(a.compare(c), -1);
    EXPECT_EQ(c.compare(b), 1);
    EXPECT_EQ(b.description(), "20120310233000 (floating)");
    EXPECT_EQ(a.description(), "20120310233000 America/New_York");
}

TEST(STDate, BrokenUtcTextIsNoDate)
{
    for (const char *text : {"", "2012", "2012031023300", "201203102330000", "20121340000000", "20120230000000",
                             "2012031023300x", " 2012031023300", "２０１２０３１０２３３０００"}) {
        const STDate d(QString::fromUtf8(text), "GMT");
        EXPECT_TRUE(d.calendarDate().isNull()) << text;
        EXPECT_TRUE(CalendarDateFromSTString(QString::fromUtf8(text)).isNull()) << text;
        STDate dayOnly = d;
        dayOnly.setIsDateOnly(true);
        EXPECT_EQ(dayOnly.utcTimeString(), QString::fromUtf8(text)) << text;
    }
    EXPECT_EQ(STDate("x", "GMT"), STDate("", QString()));
    EXPECT_EQ(STDate("x", "GMT").compare(STDate("20120101000000", "GMT")), -1);
    EXPECT_EQ(CalendarDateFromSTString("20120310233000").secsSinceEpoch(), utc(2012, 3, 10, 23, 30).toSecsSinceEpoch());
}

TEST(STDate, DefaultZoneDecidesPlainDatesInEveryZone)
{
    struct Case
    {
        const char *zone;
        const char *zoneName;
        const char *local;
        const char *dayOnly;
    } cases[] = {
        {"UTC", "GMT", "20120310233000", "20120310000000"},
        {"America/New_York", "America/New_York", "20120310183000", "20120310000000"},
        {"Pacific/Auckland", "Pacific/Auckland", "20120311123000", "20120311000000"},
    };
    for (const Case &c : cases) {
        ProcessZone guard(c.zone);
        const QDateTime instant = utc(2012, 3, 10, 23, 30);
        EXPECT_EQ(STStringFromCalendarDate(instant), c.local) << c.zone;
        EXPECT_EQ(STDateOnlyStringFromCalendarDate(instant), c.dayOnly) << c.zone;
        const STDate now;
        EXPECT_EQ(now.timeZone(), c.zoneName) << c.zone;
        EXPECT_LE(std::abs(now.calendarDate().secsSinceEpoch() - QDateTime::currentSecsSinceEpoch()), 5) << c.zone;
        STDate evening = STDate::dateWithCalendarDate(VtrCalendarDate(instant, vtr::defaultTimeZone()));
        evening.setIsDateOnly(true);
        EXPECT_EQ(evening.utcTimeString(), c.dayOnly) << c.zone;
    }
    EXPECT_TRUE(STStringFromCalendarDate(QDateTime()).isNull());
}

TEST(STDate, WeekdayLists)
{
    const QLocale before;
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    EXPECT_EQ(WeekdayListDisplayString("mo,we,fr"), "Monday, Wednesday and Friday");
    EXPECT_EQ(WeekdayListDisplayString("su"), "Sunday");
    EXPECT_EQ(WeekdayListDisplayString("sa,su"), "Saturday and Sunday");
    EXPECT_EQ(WeekdayListDisplayString("mo,xx,fr"), "Monday,  and Friday");
    EXPECT_EQ(WeekdayListDisplayString(""), "");
    QLocale::setDefault(before);
}

TEST(STTimeZone, TableFromTheResource)
{
    STTimeZone::releaseTimeZoneArray();
    const auto table = STTimeZone::timeZoneArray();
    ASSERT_TRUE(table);
    EXPECT_GT(table->size(), 300);
    const STTimeZone *ny = STTimeZone::stTimeZoneWithIdentitifer("America/New_York", *table);
    ASSERT_TRUE(ny);
    EXPECT_EQ(ny->standardOffset(), -18000);
    EXPECT_EQ(ny->standardAbbreviation(), "EST");
    EXPECT_EQ(ny->daylightAbbreviation(), "EDT");
    EXPECT_EQ(ny->description(), QStringLiteral("America/New_York (%1, %2) offset = -18000")
                                     .arg(ny->standardName(), ny->daylightName()));
    const STTimeZone *auckland = STTimeZone::stTimeZoneWithIdentitifer("Pacific/Auckland", *table);
    ASSERT_TRUE(auckland);
    EXPECT_EQ(auckland->standardOffset(), 43200);
    EXPECT_TRUE(STTimeZone::stTimeZoneWithIdentitifer("GMT", *table));
    EXPECT_TRUE(STTimeZone::stTimeZoneWithStandardName(ny->standardName(), *table));
    EXPECT_TRUE(STTimeZone::stTimeZoneWithDaylightName(ny->daylightName(), *table));
    EXPECT_FALSE(STTimeZone::stTimeZoneWithIdentitifer("america/new_york", *table));
    EXPECT_EQ(STTimeZone::timeZoneArray(), table); // loaded once

    STTimeZone z(*ny);
    z.setValueForKey(3600, "standardOffset");
    z.setValueForKey("X", "nonsense");
    EXPECT_EQ(z.valueForKey("standardOffset").toInt(), 3600);
    EXPECT_TRUE(vtr::isJsonNull(z.valueForKey("nonsense")));
    STTimeZone::Table read;
    ASSERT_TRUE(STTimeZone::unarchiveTable(STTimeZone::archiveTable({*ny}), &read));
    EXPECT_EQ(read.value(0).standardOffset(), -18000);
    EXPECT_EQ(read.value(0).daylightName(), ny->daylightName());
}

TEST(STTimeZone, MissingOrBrokenArchiveIsLoggedAndTriedAgain)
{
    QStringList logged;
    LogSetSystemLogSink([&](const QString &m) { logged.append(m); });
    const QString folder = testenv::makeTempDir("tz");
    STTimeZone::releaseTimeZoneArray();
    STTimeZone::setResourceFolderOverride(folder);
    EXPECT_FALSE(STTimeZone::timeZoneArray());
    testenv::writeFile(folder + "/TZ.archive", "( { identifier = ");
    EXPECT_FALSE(STTimeZone::timeZoneArray());
    testenv::writeFile(folder + "/TZ.archive", STTimeZone::archiveTable({STTimeZone("Test/Zone")}));
    const auto table = STTimeZone::timeZoneArray();
    ASSERT_TRUE(table);
    EXPECT_EQ(table->value(0).identifier(), "Test/Zone");
    STTimeZone::setResourceFolderOverride(QString());
    STTimeZone::releaseTimeZoneArray();
    LogSetSystemLogSink(nullptr);
    EXPECT_EQ(logged, (QStringList{"Can't find time zone data.", "Can't open time zone data."}));
}

TEST(ZoneOffsets, MoreZonesThanTheThreadKeepsEachAnswerForTheirOwn)
{
    // Handles asked in turn, each pushing another's zone out of the thread's
    // cache, across three years of transitions.
    const char *const ids[] = {"America/New_York", "Europe/Berlin",    "Australia/Sydney",
                               "Asia/Tehran",      "America/Santiago", "Pacific/Auckland"};
    std::vector<QTimeZone> zones;
    std::vector<vtr::ZoneOffsets> handles;
    for (const char *id : ids) handles.emplace_back(zones.emplace_back(id));
    int wrong = 0;
    for (qint64 t = 1577836800; t < 1577836800 + 3 * 365 * 86400; t += 5 * 86400 + 3607)
        for (size_t i = 0; i < handles.size(); ++i)
            wrong += handles[i].offsetAt(t) != zones[i].offsetFromUtc(QDateTime::fromSecsSinceEpoch(t, Qt::UTC));
    EXPECT_EQ(wrong, 0);
}
