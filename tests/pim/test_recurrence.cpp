#include "QStringPrinting.h"
#include "pim/records/RecurrenceExpansion.h"
#include "pim/records/STRecurrence.h"
#include "pim/records/STVocabulary.h"
#include "rrule/RuleCorpus.h"

#include <QElapsedTimer>

#include <gtest/gtest.h>

namespace {

const QTimeZone kNewYork("America/New_York");

VtrCalendarDate local(int y, int m, int d, int h = 10, int mi = 0, const QTimeZone &z = kNewYork)
{
    return VtrCalendarDate::fromComponents(y, m, d, h, mi, 0, z);
}

QStringList shown(const QList<VtrCalendarDate> &dates)
{
    QStringList out;
    for (const VtrCalendarDate &d : dates) out.append(d.descriptionWithCalendarFormat("%Y%m%dT%H%M%S"));
    return out;
}

} // namespace

TEST(RecurrenceRule, ReadAndWrite)
{
    struct Case
    {
        const char *in;
        const char *out;
    } cases[] = {
        {"RRULE:FREQ=WEEKLY;BYDAY=MO,WE", "FREQ=WEEKLY;BYDAY=MO,WE;"},
        {"FREQ=WEEKLY;BYDAY=2MO", "FREQ=WEEKLY;BYDAY=MO;"}, // no ordinals in a weekly rule
        {"freq=monthly;byday=-1fr", "FREQ=MONTHLY;BYDAY=-1FR;"},
        {"FREQ=MONTHLY;BYDAY=MO", "FREQ=MONTHLY;BYDAY=MO;"},
        {"FREQ=DAILY;UNTIL=20121231T235959Z", "FREQ=DAILY;UNTIL=20121231T235959Z;"},
        {"FREQ=MONTHLY;BYMONTHDAY=1,15;COUNT=4", "FREQ=MONTHLY;COUNT=4;BYMONTHDAY=1,15;"},
        {"INTERVAL=2;WKST=MO;FREQ=YEARLY;BYMONTH=3,9", "FREQ=YEARLY;INTERVAL=2;BYMONTH=3,9;WKST=MO;"},
        {"FREQ=DAILY;FREQ=WEEKLY;junk;A=B=C", "FREQ=WEEKLY;"}, // a later duplicate wins, junk is dropped
        {"FREQ=DAILY;UNTIL=20121231", "FREQ=DAILY;UNTIL=20121231T000000Z;"},
        {"FREQ=DAILY;UNTIL=nonsense", "FREQ=DAILY;UNTIL=NONSENSE;"},
        {"FREQ", ""},
    };
    for (const Case &c : cases) {
        STRecordPtr r = STRecurrenceFromRecurrenceRule(c.in);
        ASSERT_TRUE(r) << c.in;
        EXPECT_EQ(r->type(), st::Recur);
        EXPECT_EQ(recurrenceRuleFromSTRecurrence(*r), c.out) << c.in;
    }
    EXPECT_FALSE(STRecurrenceFromRecurrenceRule(""));
    EXPECT_FALSE(STRecurrenceFromRecurrenceRule("RRULE:"));
    EXPECT_TRUE(STRecurrenceFromRecurrenceRule("FREQ")->fields().empty());

    STRecordPtr r = STRecurrenceFromRecurrenceRule("FREQ=MONTHLY;BYDAY=-1FR,2TU;BYMONTHDAY=1,15;UNTIL=20121231T235959Z");
    EXPECT_EQ(r->stringForFieldOfType("freq"), "monthly");
    const QVariantList byday = r->valueForFieldOfType("byday").toList();
    ASSERT_EQ(byday.size(), 2);
    EXPECT_EQ(byday.at(0).value<STRecurrenceByDay>(), STRecurrenceByDay("fr", -1));
    EXPECT_EQ(byday.at(1).value<STRecurrenceByDay>(), STRecurrenceByDay("tu", 2));
    EXPECT_EQ(r->valueForFieldOfType("bymonthday").toList(), (QVariantList{1, 15}));
    const STDate until = r->valueForFieldOfType("until").value<STDate>();
    EXPECT_EQ(until.utcTimeString(), "20121231235959");
    EXPECT_EQ(until.timeZone(), "GMT");
    EXPECT_EQ(STRecurrenceFromRecurrenceRule("FREQ=DAILY;UNTIL=20121231T235959")
                  ->valueForFieldOfType("until").value<STDate>().description(),
              "20121231235959 (floating)");

    // Writing leaves the record as it was, so it can be written again; fields
    // that are no rule part stay out of the text.
    r->setValue("device-7", st::DeviceRecordId);
    const QString once = recurrenceRuleFromSTRecurrence(*r);
    EXPECT_EQ(once, "FREQ=MONTHLY;UNTIL=20121231T235959Z;BYDAY=-1FR,2TU;BYMONTHDAY=1,15;");
    EXPECT_EQ(recurrenceRuleFromSTRecurrence(*r), once);
    EXPECT_TRUE(stHolds<STDate>(r->valueForFieldOfType("until")));

    // An end kept in a zone is written as the UTC time its "Z" says.
    r->setValue(QVariant::fromValue(STDate::dateWithCalendarDate(local(2012, 12, 31, 23, 59))), "until");
    EXPECT_TRUE(recurrenceRuleFromSTRecurrence(*r).contains("UNTIL=20130101T045900Z;"))
        << recurrenceRuleFromSTRecurrence(*r).toStdString();
}

TEST(RecurrenceRule, ListsWeekdaysAndExceptionDates)
{
    EXPECT_EQ(RFC2445ListFromSTArray({1, 15}), "1,15");
    EXPECT_EQ(RFC2445ListFromSTArray({}), "");
    EXPECT_EQ(STArrayFromRFC2445List("1,-2,x,7a"), (QVariantList{1, -2, 0, 7}));
    EXPECT_EQ(stWeekdayFromOrdinalWeekday(0, 1), "su");
    EXPECT_EQ(stWeekdayFromOrdinalWeekday(6, 0), "sa");
    EXPECT_EQ(stWeekdayFromOrdinalWeekday(7, 0), "");

    const STDate start = STDate::dateWithCalendarDate(local(2012, 3, 5, 23, 30));
    const QList<STDate> days{STDate::dateWithCalendarDate(local(2012, 3, 12, 23, 30)),
                             STDate::dateWithCalendarDate(local(2012, 3, 19, 23, 30))};
    const QString lines = ExDatesFromSTExceptionDates(days);
    EXPECT_EQ(lines, "EXDATE;VALUE=DATE:20120312\r\nEXDATE;VALUE=DATE:20120319"); // the local day, not UTC's
    const QList<STDate> back = STExceptionDatesFromExDates(lines + "\r\nnocolon\r\nEXDATE:20120326T100000Z,20120402",
                                                           start);
    ASSERT_EQ(back.size(), 4);
    EXPECT_EQ(back.at(0), days.at(0));
    EXPECT_EQ(back.at(0).timeZone(), "America/New_York");
    EXPECT_EQ(shown({back.at(3).calendarDate()}), QStringList{"20120402T233000"});
}

TEST(RecurrenceExpansion, Cases)
{
    struct Case
    {
        const char *name;
        QVariantMap rule;
        VtrCalendarDate start;
        QStringList expected;
    } cases[] = {
        {"daily", {{"frequency", "daily"}, {"interval", 2}, {"count", 3}}, local(2012, 3, 1),
         {"20120301T100000", "20120303T100000", "20120305T100000"}},
        {"daily across the spring change keeps the wall clock", {{"frequency", "daily"}, {"count", 3}},
         local(2012, 3, 10, 9), {"20120310T090000", "20120311T090000", "20120312T090000"}},
        {"weekly on two days",
         {{"frequency", "weekly"}, {"bydaydays", QVariantList{"monday", "wednesday"}}, {"interval", 2}, {"count", 4}},
         local(2012, 3, 5), {"20120305T100000", "20120307T100000", "20120319T100000", "20120321T100000"}},
        {"weekly days out of order",
         {{"frequency", "weekly"}, {"bydaydays", QVariantList{"friday", "tuesday"}}, {"count", 3}},
         local(2012, 3, 6), {"20120306T100000", "20120309T100000", "20120313T100000"}},
        {"weekly start off the listed days",
         {{"frequency", "weekly"}, {"bydaydays", QVariantList{"monday", "friday"}}, {"count", 3}},
         local(2012, 3, 7), {"20120307T100000", "20120309T100000", "20120312T100000"}},
        {"second tuesday",
         {{"frequency", "monthly"}, {"bydaydays", QVariantList{"tuesday"}}, {"bydayfreq", QVariantList{2}},
          {"count", 3}},
         local(2012, 3, 13), {"20120313T100000", "20120410T100000", "20120508T100000"}},
        {"last sunday",
         {{"frequency", "monthly"}, {"bydaydays", QVariantList{"sunday"}}, {"bydayfreq", QVariantList{-1}},
          {"count", 3}},
         local(2012, 3, 25), {"20120325T100000", "20120429T100000", "20120527T100000"}},
        {"fifth friday only where there is one",
         {{"frequency", "monthly"}, {"bydaydays", QVariantList{"friday"}}, {"bydayfreq", QVariantList{5}},
          {"count", 3}},
         local(2012, 3, 30), {"20120330T100000", "20120629T100000", "20120831T100000"}},
        {"yearly on two months",
         {{"frequency", "yearly"}, {"bymonth", QVariantList{9, 3}}, {"count", 4}}, local(2012, 3, 5),
         {"20120305T100000", "20120905T100000", "20130305T100000", "20130905T100000"}},
        {"monthly every twelve", {{"frequency", "monthly"}, {"interval", 12}, {"count", 3}}, local(2012, 12, 5),
         {"20121205T100000", "20131205T100000", "20141205T100000"}},
        {"day 31 skips short months", {{"frequency", "monthly"}, {"count", 4}}, local(2012, 1, 31),
         {"20120131T100000", "20120331T100000", "20120531T100000", "20120731T100000"}},
        {"last day of the month", {{"frequency", "monthly"}, {"bymonthday", QVariantList{-1}}, {"count", 4}},
         local(2012, 1, 31), {"20120131T100000", "20120229T100000", "20120331T100000", "20120430T100000"}},
        {"two month days", {{"frequency", "monthly"}, {"bymonthday", QVariantList{15, 1}}, {"count", 4}},
         local(2012, 3, 15), {"20120315T100000", "20120401T100000", "20120415T100000", "20120501T100000"}},
        {"29 February", {{"frequency", "yearly"}, {"count", 3}}, local(2012, 2, 29),
         {"20120229T100000", "20160229T100000", "20200229T100000"}},
        {"count of one", {{"frequency", "daily"}, {"count", 1}}, local(2012, 3, 1), {"20120301T100000"}},
        {"until equal to the start",
         {{"frequency", "daily"}, {"until", QVariant::fromValue(local(2012, 3, 1))}}, local(2012, 3, 1),
         {"20120301T100000"}},
        {"until as a record date",
         {{"frequency", "weekly"}, {"until", QVariant::fromValue(STDate::dateWithCalendarDate(local(2012, 3, 15)))}},
         local(2012, 3, 1), {"20120301T100000", "20120308T100000", "20120315T100000"}},
        {"unknown frequency", {{"frequency", "fortnightly"}, {"count", 5}}, local(2012, 3, 1), {"20120301T100000"}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(shown(expandRecurrence(c.rule, c.start, VtrCalendarDate(), VtrCalendarDate())), c.expected)
            << c.name;
}

TEST(RecurrenceExpansion, WindowChoosesButDoesNotCount)
{
    const QVariantMap rule{{"frequency", "daily"}, {"count", 5}};
    // The start lies before the window: it is not returned, yet it is the first of the five.
    EXPECT_EQ(shown(expandRecurrence(rule, local(2012, 3, 1), local(2012, 3, 3), local(2012, 12, 1))),
              (QStringList{"20120303T100000", "20120304T100000", "20120305T100000"}));
    EXPECT_EQ(shown(expandRecurrence({{"frequency", "daily"}}, local(2012, 3, 1), local(2012, 2, 1),
                                     local(2012, 3, 3, 10))),
              (QStringList{"20120301T100000", "20120302T100000", "20120303T100000"}));
    EXPECT_TRUE(expandRecurrence(rule, VtrCalendarDate(), VtrCalendarDate(), VtrCalendarDate()).isEmpty());
    EXPECT_EQ(weekdayIndexesForNames({"sunday", "Monday", "saturday"}), (QList<int>{0, 2147483647, 6}));
}

TEST(RecurrenceExpansion, RulesWithoutAReachableEndAreBounded)
{
    QElapsedTimer timer;
    timer.start();
    const VtrCalendarDate start = local(2012, 3, 1);
    const QVariant farUntil = QVariant::fromValue(start.dateByAddingYears(100, 0, 0, 0, 0, 0));
    const QList<VtrCalendarDate> daily =
        expandRecurrence({{"frequency", "daily"}, {"interval", -1}, {"until", farUntil}}, start, {}, {});
    EXPECT_EQ(daily.size(), 36524 + 1); // every day of the hundred years, and the start
    const QList<VtrCalendarDate> endless = expandRecurrence({{"frequency", "daily"}}, start, {}, {});
    EXPECT_EQ(endless.size(), kMaxRecurrenceSteps + 1); // the start and the budget
    // No month has a 31st February: only the step budget ends this one.
    EXPECT_EQ(expandRecurrence({{"frequency", "yearly"}, {"bymonthday", QVariantList{31}}, {"bymonth", QVariantList{2}},
                                {"until", farUntil}},
                               start, {}, {})
                  .size(),
              1);
    // Every second of every day of a year, its last one chosen: millions of
    // candidates a year, one occurrence, up to the year 9999.
    const auto upTo = [](int n) {
        QVariantList out;
        for (int i = 0; i < n; ++i) out.append(i);
        return out;
    };
    QVariantList days = upTo(32), months = upTo(13);
    days.removeFirst();
    months.removeFirst();
    const RecurrenceExpansion lastSecond =
        lastRecurrence({{"frequency", "yearly"}, {"bymonth", months}, {"bymonthday", days}, {"byhour", upTo(24)},
                        {"byminute", upTo(60)}, {"bysecond", upTo(60)}, {"bysetpos", QVariantList{-1}}, {"count", 1000000}},
                       start, {}, {});
    EXPECT_EQ(shown(lastSecond.dates), QStringList{"99991231T235959"});
    const auto everyMonth = expandRecurrenceDefaultWindow({{"frequency", "monthly"}, {"interval", 0}}, start);
    ASSERT_FALSE(everyMonth.isEmpty());
    EXPECT_EQ(everyMonth.first(), start);
    EXPECT_LT(timer.elapsed(), 60000);
}

// The expansion agrees with python-dateutil's rrule (weeks starting on Monday
// unless the rule names another day) on every rule of a generated corpus,
// occurrence by occurrence and so also on the last occurrence of the
// count-bounded rules, which the exporter turns into the series' end date.
TEST(RecurrenceExpansion, AgreesWithDateutil)
{
    const QList<rulecorpus::Rule> rules = rulecorpus::makeRules(700, 20121231, true);
    const rulecorpus::Reference ref = rulecorpus::runReference(rules, 0);
    if (!ref.ok) GTEST_SKIP() << "no reference expansion: " << ref.error.toStdString();
    int countRules = 0, compared = 0;
    QMap<QString, int> kinds;
    for (int i = 0; i < rules.size(); ++i) {
        const rulecorpus::Rule &r = rules.at(i);
        QVariantMap store = r.store;
        if (r.localUntil.isValid()) {
            const QDateTime u = r.localUntil;
            store["until"] = QVariant::fromValue(VtrCalendarDate::fromComponents(
                u.date().year(), u.date().month(), u.date().day(), u.time().hour(), u.time().minute(),
                u.time().second(), kNewYork));
        }
        const QDateTime s = r.localStart;
        const VtrCalendarDate start = VtrCalendarDate::fromComponents(
            s.date().year(), s.date().month(), s.date().day(), s.time().hour(), s.time().minute(), 0, kNewYork);
        const QStringList ours = shown(expandRecurrence(store, start, VtrCalendarDate(), VtrCalendarDate()));
        EXPECT_EQ(ours, ref.occurrences.at(i)) << r.kind.toStdString() << " "
                                               << vtr::JSONRepresentation(r.python).toStdString();
        if (r.count > 0) {
            ++countRules;
            ASSERT_FALSE(ours.isEmpty());
            EXPECT_EQ(ours.last(), ref.occurrences.at(i).last());
        }
        ++kinds[r.kind];
        ++compared;
    }
    EXPECT_GE(compared, 500);
    EXPECT_GE(countRules, 250);
    for (auto it = kinds.begin(); it != kinds.end(); ++it) EXPECT_GE(it.value(), 40) << it.key().toStdString();
}

// Every occurrence reads its wall-clock time as any calendar date does: in a
// daylight-saving gap moved forward by the gap, a repeated hour taken the
// first time.
TEST(RecurrenceExpansion, WallClockTimesReadAsEveryCalendarDate)
{
    for (const char *id : {"America/New_York", "Pacific/Auckland", "Australia/Lord_Howe", "Pacific/Chatham",
                           "America/Sao_Paulo", "Europe/London"}) {
        const QTimeZone zone(id);
        for (int minutes = 0; minutes < 24 * 60; minutes += 15) {
            const VtrCalendarDate start =
                VtrCalendarDate::fromComponents(2011, 1, 1, minutes / 60, minutes % 60, 0, zone);
            const QList<VtrCalendarDate> days =
                expandRecurrence({{"frequency", "daily"}, {"count", 450}}, start, VtrCalendarDate(), VtrCalendarDate());
            ASSERT_EQ(days.size(), 450);
            for (int i = 0; i < days.size(); i += (days.at(i).offsetFromUtc() == start.offsetFromUtc() ? 7 : 1)) {
                const QDate day = QDate(2011, 1, 1).addDays(i);
                const VtrCalendarDate expected = VtrCalendarDate::fromComponents(
                    day.year(), day.month(), day.day(), minutes / 60, minutes % 60, 0, zone);
                ASSERT_EQ(days.at(i).secsSinceEpoch(), expected.secsSinceEpoch()) << id << " " << i << " " << minutes;
            }
        }
    }
}
