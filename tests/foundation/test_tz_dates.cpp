// Runs under several TZ settings in CI: every expectation here must hold in
// any system zone, so instants are compared in UTC and zone-dependent
// results are checked against explicit zones.
#include "foundation/Log.h"
#include "foundation/VtrCalendarDate.h"
#include "foundation/VtrDate.h"

#include "ZoneScope.h"

#include <QStringList>

#include <climits>
#include <gtest/gtest.h>

namespace {

QDateTime utc(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s, ms), QTimeZone::utc());
}

QTimeZone zone(const char *id)
{
    QTimeZone z(id);
    EXPECT_TRUE(z.isValid()) << id;
    return z;
}

// Components as shown, "YYYY-MM-DD hh:mm:ss".
QString shown(const VtrCalendarDate &d)
{
    return d.descriptionWithCalendarFormat("%Y-%m-%d %H:%M:%S");
}

class DefaultZoneGuard
{
public:
    explicit DefaultZoneGuard(const QTimeZone &z) { vtr::setDefaultTimeZone(z); }
    ~DefaultZoneGuard() { vtr::setDefaultTimeZone(QTimeZone()); }
};

} // namespace

TEST(St2Text, WrittenInGmtOrInTheDatesOwnZone)
{
    const QDateTime instant = utc(2012, 3, 4, 5, 6, 7, 900);
    EXPECT_EQ(vtr::st2String(instant), "20120304050607");
    EXPECT_EQ(vtr::st2String(instant.toLocalTime()), "20120304050607");
    EXPECT_EQ(vtr::st2StringWithoutTimezone(instant), "20120304050607");
    EXPECT_EQ(vtr::st2StringWithoutTimezone(instant.toOffsetFromUtc(3600)), "20120304060607");

    const VtrCalendarDate plusOne(instant, QTimeZone(3600));
    EXPECT_EQ(plusOne.st2StringWithoutTimezone(), "20120304060607");
    EXPECT_EQ(VtrCalendarDate::st2StringWithCalDate(plusOne), "20120304060607");
    EXPECT_EQ(plusOne.st2String(), "20120304050607");
    EXPECT_EQ(vtr::st2String(plusOne), "20120304050607");
    const VtrCalendarDate chatham(instant, zone("Pacific/Chatham")); // +13:45 in March 2012
    EXPECT_EQ(chatham.st2StringWithoutTimezone(), "20120304185107");

    EXPECT_TRUE(VtrCalendarDate::st2StringWithCalDate(VtrCalendarDate()).isNull());
    EXPECT_TRUE(vtr::st2String(QDateTime()).isNull());
}

TEST(St2Text, ReadAsGmtWithTheScannersLeniency)
{
    const auto d = VtrCalendarDate::dateTimeWithST2String("20120304050607");
    ASSERT_TRUE(d);
    EXPECT_EQ(d->instant(), utc(2012, 3, 4, 5, 6, 7));
    EXPECT_EQ(d->timeZone(), QTimeZone::utc());
    EXPECT_EQ(d->st2StringWithoutTimezone(), "20120304050607");

    EXPECT_FALSE(VtrCalendarDate::dateTimeWithST2String("2012"));
    EXPECT_FALSE(VtrCalendarDate::dateTimeWithST2String(QString()));
    EXPECT_FALSE(VtrCalendarDate::dateTimeWithST2String(""));
    EXPECT_FALSE(VtrCalendarDate::dateTimeWithSymbianUTCCalString("201203040506")); // second missing
    // Trailing text is not checked; white space before a number is skipped.
    EXPECT_EQ(VtrCalendarDate::dateTimeWithSymbianUTCCalString("20120304050607xyz")->instant(),
              utc(2012, 3, 4, 5, 6, 7));
    EXPECT_EQ(VtrCalendarDate::dateTimeWithSymbianUTCCalString(" 2012 3 4 5 6 7")->instant(), utc(2012, 3, 4, 5, 6, 7));
}

TEST(St2Text, OutOfRangeComponentsCarryOver)
{
    // The Mac's calendar date accepts month 13 and 31 April; QDate does not.
    EXPECT_EQ(VtrCalendarDate::dateTimeWithST2String("20121301000000")->instant(), utc(2013, 1, 1));
    EXPECT_EQ(VtrCalendarDate::dateTimeWithST2String("20120431120000")->instant(), utc(2012, 5, 1, 12));
    EXPECT_EQ(VtrCalendarDate::dateTimeWithST2String("20121231246060")->instant(), utc(2013, 1, 1, 1, 1));
    EXPECT_EQ(VtrCalendarDate::dateTimeWithST2String("20120300000000")->instant(), utc(2012, 2, 29));

    const QTimeZone berlin = zone("Europe/Berlin");
    EXPECT_EQ(shown(VtrCalendarDate::fromComponents(2012, 0, 1, 0, 0, 0, berlin)), "2011-12-01 00:00:00");
    EXPECT_EQ(shown(VtrCalendarDate::fromComponents(2012, -13, 1, 0, 0, 0, berlin)), "2010-11-01 00:00:00");
    EXPECT_EQ(shown(VtrCalendarDate::fromComponents(2012, 1, 1, 0, 0, -1, berlin)), "2011-12-31 23:59:59");
    EXPECT_EQ(shown(VtrCalendarDate::fromComponents(2012, 2, 30, 0, 0, 0, berlin)), "2012-03-01 00:00:00");

    const VtrCalendarDate jan31 = VtrCalendarDate::fromComponents(2012, 1, 31, 10, 0, 0, berlin);
    EXPECT_EQ(shown(jan31.dateByAddingYears(0, 1, 0, 0, 0, 0)), "2012-03-02 10:00:00");
    EXPECT_EQ(shown(jan31.dateByAddingYears(1, 0, 0, 14, 0, 0)), "2013-02-01 00:00:00");
}

TEST(VCalText, DateOnlyAndDateTimeForms)
{
    const auto endOfDay = VtrCalendarDate::dateWithVCalString("20120304");
    ASSERT_TRUE(endOfDay);
    EXPECT_EQ(endOfDay->timeZone(), QTimeZone::systemTimeZone());
    EXPECT_EQ(shown(*endOfDay), "2012-03-04 23:59:59");
    EXPECT_EQ(endOfDay->instant(), QDateTime(QDate(2012, 3, 4), QTime(23, 59, 59), QTimeZone::systemTimeZone()));

    EXPECT_EQ(VtrCalendarDate::dateBeginGMTWithVCalString("20120304")->instant(), utc(2012, 3, 4));
    EXPECT_FALSE(VtrCalendarDate::dateWithVCalString("201203"));
    EXPECT_FALSE(VtrCalendarDate::dateBeginGMTWithVCalString("x"));

    const auto withT = VtrCalendarDate::dateTimeWithVCalString("20120304T050607");
    ASSERT_TRUE(withT);
    EXPECT_EQ(withT->instant(), utc(2012, 3, 4, 5, 6, 7));
    EXPECT_EQ(withT->timeZone(), QTimeZone::systemTimeZone());
    EXPECT_FALSE(VtrCalendarDate::dateTimeWithVCalString("20120304050607")); // "T" must match
}

TEST(VCalText, AndroidExceptionFormWithOrWithoutZ)
{
    const auto z = VtrCalendarDate::dateTimeWithAndroidExceptionString("20120304T050607Z");
    const auto noZ = VtrCalendarDate::dateTimeWithAndroidExceptionString("20120304T050607");
    ASSERT_TRUE(z && noZ);
    EXPECT_EQ(z->instant(), utc(2012, 3, 4, 5, 6, 7));
    EXPECT_EQ(noZ->instant(), z->instant());
    EXPECT_EQ(z->timeZone(), QTimeZone::systemTimeZone());
    EXPECT_FALSE(VtrCalendarDate::dateTimeWithAndroidExceptionString("20120304"));
}

// The digits of these GMT times are local times that do not exist in some
// zone (a daylight-saving gap in Berlin, Chatham, Sao Paulo, and the day Samoa
// skipped). Read as GMT they must give exactly that GMT instant in every
// system zone.
TEST(VCalText, GmtTextsInsideALocalDaylightSavingGap)
{
    struct Case
    {
        const char *text;
        QDateTime instant;
    };
    const Case cases[] = {
        {"20210328T023000", utc(2021, 3, 28, 2, 30)},  // Europe/Berlin 02:00 -> 03:00
        {"20210926T030000", utc(2021, 9, 26, 3, 0)},   // Pacific/Chatham 02:45 -> 03:45
        {"20181104T003000", utc(2018, 11, 4, 0, 30)},  // America/Sao_Paulo 00:00 -> 01:00
        {"20111230T120000", utc(2011, 12, 30, 12, 0)}, // Pacific/Apia skipped the whole day
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(VtrCalendarDate::dateTimeWithVCalString(c.text)->instant(), c.instant);
        EXPECT_EQ(VtrCalendarDate::dateTimeWithAndroidExceptionString(c.text)->instant(), c.instant);
        QString st2 = QString::fromLatin1(c.text).remove('T');
        EXPECT_EQ(VtrCalendarDate::dateTimeWithSymbianUTCCalString(st2)->instant(), c.instant);
        EXPECT_EQ(VtrCalendarDate::dateTimeWithST2String(st2)->st2String(), st2);
    }
}

TEST(CalendarDate, LocalTimesInGapsAndOverlapsOfAnExplicitZone)
{
    const QTimeZone berlin = zone("Europe/Berlin");
    // 02:30 does not exist on 28 March 2021: moved forward by the gap.
    const VtrCalendarDate gap = VtrCalendarDate::fromComponents(2021, 3, 28, 2, 30, 0, berlin);
    EXPECT_EQ(gap.instant(), utc(2021, 3, 28, 1, 30));
    EXPECT_EQ(shown(gap), "2021-03-28 03:30:00");
    // 02:30 exists twice on 31 October 2021: the first occurrence.
    EXPECT_EQ(VtrCalendarDate::fromComponents(2021, 10, 31, 2, 30, 0, berlin).instant(), utc(2021, 10, 31, 0, 30));

    // In Sao Paulo 4 November 2018 began at 01:00: that is its first second.
    const QTimeZone saoPaulo = zone("America/Sao_Paulo");
    const VtrCalendarDate noon = VtrCalendarDate::fromComponents(2018, 11, 4, 12, 0, 0, saoPaulo);
    EXPECT_EQ(noon.start().instant(), utc(2018, 11, 4, 3, 0));
    EXPECT_EQ(shown(noon.start()), "2018-11-04 01:00:00");
    EXPECT_EQ(noon.end().instant(), utc(2018, 11, 5, 1, 59, 59));
    EXPECT_EQ(noon.firstSecondOfDayLocalTimeExpressedAsGMT().timeZone(), QTimeZone::utc());
    EXPECT_EQ(shown(noon.firstSecondOfDayLocalTimeExpressedAsGMT()), "2018-11-04 03:00:00");
    EXPECT_EQ(shown(noon.lastSecondOfDayLocalTimeExpressedAsGMT()), "2018-11-05 01:59:59");
}

// A repeated hour's wall-clock time is its first occurrence also when the
// zone's offsets were last looked up after the clocks went back.
TEST(CalendarDate, RepeatedHoursAreTheirFirstOccurrenceWhateverWasLookedUpLast)
{
    const struct
    {
        const char *zone;
        QDateTime later, local, first; // `local`: the wall-clock time, written as UTC
    } cases[] = {
        {"Europe/Berlin", utc(2021, 11, 1), utc(2021, 10, 31, 2, 30), utc(2021, 10, 31, 0, 30)},
        {"America/New_York", utc(2011, 11, 7), utc(2011, 11, 6, 1, 30), utc(2011, 11, 6, 5, 30)},
        {"Australia/Lord_Howe", utc(2021, 4, 5), utc(2021, 4, 4, 1, 45), utc(2021, 4, 3, 14, 45)}, // half an hour
    };
    for (const auto &c : cases) {
        const QTimeZone z = zone(c.zone);
        vtr::ZoneOffsets offsets(z);
        offsets.offsetAt(c.later.toSecsSinceEpoch());
        EXPECT_EQ(offsets.localToUtc(c.local.toSecsSinceEpoch()), c.first.toSecsSinceEpoch()) << c.zone;
        EXPECT_NE(VtrCalendarDate(c.later, z).offsetFromUtc(), 0);
        const QDate d = c.local.date();
        const QTime t = c.local.time();
        EXPECT_EQ(VtrCalendarDate::fromComponents(d.year(), d.month(), d.day(), t.hour(), t.minute(), 0, z).instant(), c.first)
            << c.zone;
    }
}

TEST(CalendarDate, DayNormalisationUsesTheDatesOwnDay)
{
    // 01:00 on 5 March in Chatham (+13:45) is still 4 March in GMT.
    const VtrCalendarDate chatham = VtrCalendarDate::fromComponents(2012, 3, 5, 1, 0, 0, zone("Pacific/Chatham"));
    EXPECT_EQ(chatham.instant(), utc(2012, 3, 4, 11, 15));
    EXPECT_EQ(chatham.iCalDateIgnoringTime().instant(), utc(2012, 3, 5, 12));
    EXPECT_EQ(chatham.syncServicesDateIgnoringTime().instant(), utc(2012, 3, 5, 12));
    EXPECT_EQ(chatham.stDateIgnoringTime().instant(), utc(2012, 3, 5));
    EXPECT_EQ(chatham.stDateIgnoringTime().timeZone(), QTimeZone::utc());
    {
        DefaultZoneGuard guard(zone("Europe/Berlin"));
        EXPECT_EQ(chatham.blackberryDateIgnoringTime().instant(), utc(2012, 3, 4, 23));
    }
    EXPECT_EQ(chatham.start().instant(), utc(2012, 3, 4, 10, 15));
    EXPECT_EQ(chatham.lastSecondOfDayLocalTimeExpressedAsGMT().instant(), utc(2012, 3, 5, 10, 14, 59));
}

TEST(CalendarDate, RangesAndDayComparison)
{
    const QTimeZone berlin = zone("Europe/Berlin");
    const VtrCalendarDate d = VtrCalendarDate::fromComponents(2012, 3, 4, 10, 0, 0, berlin);
    const VtrCalendarDate later = VtrCalendarDate::fromComponents(2012, 3, 4, 23, 59, 59, berlin);
    const VtrCalendarDate nextDay = VtrCalendarDate::fromComponents(2012, 3, 5, 0, 0, 0, berlin);

    EXPECT_TRUE(d.isBetweenStart(d, later));
    EXPECT_TRUE(d.isBetweenStart(d.instant(), d.instant()));
    EXPECT_TRUE(later.isBetweenStart(d, later));
    EXPECT_FALSE(nextDay.isBetweenStart(d, later));
    EXPECT_FALSE(d.isBetweenStart(later, nextDay));
    EXPECT_FALSE(d.isBetweenStart(QDateTime(), later.instant()));

    EXPECT_EQ(d.compareDateIgnoringTime(later), 0);
    EXPECT_EQ(d.compareDateIgnoringTime(nextDay), -1);
    EXPECT_EQ(nextDay.compareDateIgnoringTime(d), 1);

    auto dayOf = [&](int day) { return VtrCalendarDate::fromComponents(2012, 3, day, 12, 0, 0, berlin); };
    EXPECT_EQ(dayOf(1).weekOfMonth(), 1);
    EXPECT_EQ(dayOf(7).weekOfMonth(), 1);
    EXPECT_EQ(dayOf(8).weekOfMonth(), 2);
    EXPECT_EQ(dayOf(29).weekOfMonth(), 5);
    EXPECT_EQ(dayOf(31).weekOfMonth(), 5);
    EXPECT_EQ(dayOf(4).dayOfWeek(), 0); // a Sunday
}

TEST(CalendarDate, CopiesKeepTheSecondAndTheOffset)
{
    const QDateTime withFraction = utc(2012, 3, 4, 5, 6, 7, 999);
    const VtrCalendarDate fromPlain = VtrCalendarDate::dateWithDate(withFraction.toOffsetFromUtc(-3 * 3600));
    EXPECT_EQ(fromPlain.instant(), utc(2012, 3, 4, 5, 6, 7));
    EXPECT_EQ(fromPlain.offsetFromUtc(), -3 * 3600);
    EXPECT_EQ(fromPlain.description(), "2012-03-04 02:06:07 -0300");
    // Fractions before 1970 are dropped towards the earlier second too.
    EXPECT_EQ(VtrCalendarDate::dateWithDate(utc(1969, 12, 31, 23, 59, 59, 500)).instant(),
              utc(1969, 12, 31, 23, 59, 59));

    VtrCalendarDate own(withFraction, zone("Pacific/Chatham"), "%d.%m.%Y %H:%M");
    const VtrCalendarDate copy = VtrCalendarDate::dateWithDate(own);
    EXPECT_EQ(copy.instant(), utc(2012, 3, 4, 5, 6, 7));
    EXPECT_EQ(copy.offsetFromUtc(), 13 * 3600 + 45 * 60);
    EXPECT_EQ(copy.calendarFormat(), own.calendarFormat());
    EXPECT_EQ(copy.description(), "04.03.2012 18:51");

    EXPECT_EQ(vtr::utcDate(withFraction).timeZone(), QTimeZone::utc());
    EXPECT_EQ(vtr::plainDateWithDate(withFraction.toLocalTime()), withFraction);
    EXPECT_TRUE(VtrCalendarDate::dateWithDate(QDateTime()).isNull());
}

TEST(PlainDate, SlopMacSecondsAndPatterns)
{
    const QDateTime t = utc(2012, 3, 4, 5, 6, 7);
    EXPECT_EQ(vtr::compareDateWithSlop(t, t.addMSecs(59900)), 0);
    EXPECT_EQ(vtr::compareDateWithSlop(t, t.addMSecs(-59900)), 0);
    EXPECT_EQ(vtr::compareDateWithSlop(t, t.addSecs(60)), -1);
    EXPECT_EQ(vtr::compareDateWithSlop(t, t.addSecs(-60)), 1);

    {
        DefaultZoneGuard guard(QTimeZone::utc());
        EXPECT_EQ(vtr::unixToMacDate(0), 2082844800u);
        EXPECT_EQ(vtr::macToUnixDate(2082844800u), 0u);
        EXPECT_EQ(vtr::macToUnixDate(0), quint32(-2082844800LL)); // wraps in 32 bits
        EXPECT_EQ(vtr::dateWithMacDate(2082844800u + 86400), utc(1970, 1, 2));
    }
    {
        DefaultZoneGuard guard(QTimeZone(3600));
        EXPECT_EQ(vtr::unixToMacDate(0), 2082848400u);
        EXPECT_EQ(vtr::macToUnixDate(vtr::unixToMacDate(123456)), 123456u);
    }

    const QTimeZone plusOne(3600);
    EXPECT_EQ(vtr::dateAsString(t, "yyyy-MM-dd 'at' HH:mm:ss Z", plusOne), "2012-03-04 at 06:06:07 +0100");
    EXPECT_EQ(vtr::dateWithFormattedString("2012-03-04 06:06:07", "yyyy-MM-dd HH:mm:ss", plusOne), t);
    EXPECT_FALSE(vtr::dateWithFormattedString("2012-03-04", "yyyy-MM-dd HH:mm", plusOne));
    EXPECT_FALSE(vtr::dateWithFormattedString("2012-03-04 +0100", "yyyy-MM-dd Z", plusOne));
    // A wall-clock time in a gap of the zone is still read.
    EXPECT_EQ(vtr::dateWithFormattedString("2021-03-28 02:30", "yyyy-MM-dd HH:mm", zone("Europe/Berlin")),
              utc(2021, 3, 28, 1, 30));
}

TEST(Iso8601Duration, Writing)
{
    EXPECT_EQ(vtr::iso8601DurationFromSeconds(90061), "P1DT1H1M1S");
    EXPECT_EQ(vtr::iso8601DurationFromSeconds(3600), "PT1H");
    EXPECT_EQ(vtr::iso8601DurationFromSeconds(86400), "P1D");
    EXPECT_EQ(vtr::iso8601DurationFromSeconds(0), "PT0S");
    EXPECT_EQ(vtr::iso8601DurationFromSeconds(-60), "-PT1M");
    EXPECT_EQ(vtr::iso8601DurationFromSeconds(86401), "P1DT1S");
    EXPECT_EQ(vtr::iso8601DurationFromSeconds(INT_MIN), "-P24855DT3H14M8S");
    for (qint32 v : {1, 59, 61, 3599, 86399, 123456789, INT_MAX, -1, -90061, INT_MIN})
        EXPECT_EQ(vtr::secondsFromISO8601Duration(vtr::iso8601DurationFromSeconds(v)), v) << v;
}

TEST(Iso8601Duration, ReadingLogsAndDropsUnitsWithoutFixedLength)
{
    QStringList log;
    LogSetSystemLogSink([&log](const QString &m) { log << m; });
    EXPECT_EQ(vtr::secondsFromISO8601Duration("PT1H30M"), 5400);
    EXPECT_EQ(vtr::secondsFromISO8601Duration("-P1DT2S"), -86402);
    EXPECT_EQ(vtr::secondsFromISO8601Duration("PT1M"), 60);
    EXPECT_EQ(vtr::secondsFromISO8601Duration("PT5"), 0); // a number without designator is dropped
    EXPECT_EQ(vtr::secondsFromISO8601Duration("X"), 0);
    EXPECT_EQ(vtr::secondsFromISO8601Duration(""), 0);
    EXPECT_EQ(vtr::secondsFromISO8601Duration("-"), 0);
    EXPECT_TRUE(log.isEmpty());

    // "M" before "T" is months, not minutes.
    EXPECT_EQ(vtr::secondsFromISO8601Duration("P1M"), 0);
    EXPECT_EQ(vtr::secondsFromISO8601Duration("P1Y"), 0);
    EXPECT_EQ(vtr::secondsFromISO8601Duration("P2W1D"), 86400);
    EXPECT_EQ(vtr::secondsFromISO8601Duration("P1Y2M3DT4H5M6S"), 3 * 86400 + 4 * 3600 + 5 * 60 + 6);
    EXPECT_EQ(log, QStringList({"secondsFromISO8601Duration got an unrecognized designator: M",
                                "secondsFromISO8601Duration got an unrecognized designator: Y",
                                "secondsFromISO8601Duration got an unrecognized designator: W",
                                "secondsFromISO8601Duration got an unrecognized designator: Y",
                                "secondsFromISO8601Duration got an unrecognized designator: M"}));
    LogSetSystemLogSink({});

    // Summed in 64 bits and clamped instead of wrapping.
    EXPECT_EQ(vtr::secondsFromISO8601Duration("P24856D"), INT_MAX);
    EXPECT_EQ(vtr::secondsFromISO8601Duration("-P24856D"), INT_MIN);
    EXPECT_EQ(vtr::secondsFromISO8601Duration("P99999999999999999999999DT99999999999999999999H"), INT_MAX);
    EXPECT_EQ(vtr::secondsFromISO8601Duration("PT2147483647S"), INT_MAX);
    EXPECT_EQ(vtr::secondsFromISO8601Duration("PT4294967296S"), INT_MAX);
}

// The shown components are the calendar's (the proleptic Gregorian one, no
// year 0), far into the past and the future and in zones with odd offsets.
TEST(CalendarDate, ComponentsAsTheCalendarShowsThem)
{
    for (const char *id : {"UTC", "Pacific/Chatham", "America/Sao_Paulo", "Asia/Kolkata"}) {
        const QTimeZone z = zone(id);
        for (qint64 secs = -200000000000LL; secs < 300000000000LL; secs += 3217777777LL) {
            const VtrCalendarDate d(QDateTime::fromSecsSinceEpoch(secs, Qt::UTC), z);
            const QDateTime shownByQt = QDateTime::fromSecsSinceEpoch(secs + d.offsetFromUtc(), Qt::UTC);
            const QString expected = QString::asprintf("%04d%02d%02d%02d%02d%02d", shownByQt.date().year(),
                                                       shownByQt.date().month(), shownByQt.date().day(),
                                                       shownByQt.time().hour(), shownByQt.time().minute(),
                                                       shownByQt.time().second());
            ASSERT_EQ(d.st2StringWithoutTimezone().toStdString(), expected.toStdString()) << id << " " << secs;
            ASSERT_EQ(d.yearOfCommonEra(), shownByQt.date().year());
            ASSERT_EQ(d.dayOfYear(), shownByQt.date().dayOfYear());
        }
    }
}

// The default zone follows TZ at once, though the system zone is not looked
// up for every date.
TEST(CalendarDate, TheDefaultZoneFollowsTz)
{
    const char *const ids[] = {"Asia/Tokyo", "America/Sao_Paulo", "Pacific/Chatham"};
    ZoneScope zone(ids[0]);
    for (const char *id : ids) {
        zone.set(id);
        EXPECT_EQ(vtr::defaultTimeZone().id(), QByteArray(id));
    }
}
