// Recurrence expansion against RFC 5545: the examples of its recurrence
// rule section, and a generated corpus of rules using every rule part,
// expanded by libical's iterator and python-dateutil in the same run.
#include "QStringPrinting.h"
#include "pim/records/RecurrenceExpansion.h"
#include "foundation/Json.h"
#include "pim/store/ICalRecords.h"
#include "rrule/RfcRuleCorpus.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

namespace {

const QTimeZone kNewYork("America/New_York");

using rfccorpus::shown;
using rfccorpus::startAt;
using rfccorpus::withStart;

RecurrenceExpansion expandText(const QByteArray &rule, const VtrCalendarDate &start, qsizetype limit = 0)
{
    QVariantMap dict = syncstore::recurrenceDictionaryFromRule(rule, start);
    // A rule without an end is looked at as far as the expected list goes.
    if (limit > 0 && !dict.contains("count") && !dict.contains("until")) dict["count"] = int(limit);
    return expandRecurrenceChecked(dict, start, {}, {});
}

// Days written "19970902", each at 09:00 as a wall-clock text.
QStringList ninesOn(const QStringList &days)
{
    QStringList out;
    for (const QString &d : days) out.append(d + QStringLiteral("T090000"));
    return out;
}

// Every day from `first` to `last` (inclusive) that `keep` accepts, at 09:00.
template <typename Keep>
QStringList daysBetween(QDate first, QDate last, Keep keep)
{
    QStringList out;
    for (QDate d = first; d <= last; d = d.addDays(1))
        if (keep(d)) out.append(d.toString("yyyyMMdd") + "T090000");
    return out;
}

} // namespace

// The examples of RFC 5545 section 3.8.5.3, in New York.
TEST(RecurrenceRfc, ExamplesOfTheStandard)
{
    const auto any = [](QDate) { return true; };
    struct Example
    {
        const char *name;
        QDateTime start;
        const char *rule;
        QStringList expected; // the first occurrences of an endless rule
    };
    const auto s = [](int y, int m, int d, int h = 9, int mi = 0) { return QDateTime(QDate(y, m, d), QTime(h, mi), Qt::UTC); };
    const Example examples[] = {
        {"daily, 10 times", s(1997, 9, 2), "FREQ=DAILY;COUNT=10", daysBetween(QDate(1997, 9, 2), QDate(1997, 9, 11), any)},
        {"daily until 24 December", s(1997, 9, 2), "FREQ=DAILY;UNTIL=19971224T000000Z",
         daysBetween(QDate(1997, 9, 2), QDate(1997, 12, 23), any)},
        {"every other day", s(1997, 9, 2), "FREQ=DAILY;INTERVAL=2",
         ninesOn({"19970902", "19970904", "19970906", "19970908", "19970910", "19970912", "19970914"})},
        {"every 10 days, 5 times", s(1997, 9, 2), "FREQ=DAILY;INTERVAL=10;COUNT=5",
         ninesOn({"19970902", "19970912", "19970922", "19971002", "19971012"})},
        {"every day in January for 3 years (yearly)", s(1998, 1, 1),
         "FREQ=YEARLY;UNTIL=20000131T140000Z;BYMONTH=1;BYDAY=SU,MO,TU,WE,TH,FR,SA",
         daysBetween(QDate(1998, 1, 1), QDate(2000, 1, 31), [](QDate d) { return d.month() == 1; })},
        {"every day in January for 3 years (daily)", s(1998, 1, 1), "FREQ=DAILY;UNTIL=20000131T140000Z;BYMONTH=1",
         daysBetween(QDate(1998, 1, 1), QDate(2000, 1, 31), [](QDate d) { return d.month() == 1; })},
        {"weekly, 10 times", s(1997, 9, 2), "FREQ=WEEKLY;COUNT=10",
         ninesOn({"19970902", "19970909", "19970916", "19970923", "19970930", "19971007", "19971014", "19971021",
                  "19971028", "19971104"})},
        {"weekly until 24 December", s(1997, 9, 2), "FREQ=WEEKLY;UNTIL=19971224T000000Z",
         daysBetween(QDate(1997, 9, 2), QDate(1997, 12, 23), [](QDate d) { return d.dayOfWeek() == 2; })},
        {"every other week", s(1997, 9, 2), "FREQ=WEEKLY;INTERVAL=2;WKST=SU",
         ninesOn({"19970902", "19970916", "19970930", "19971014", "19971028", "19971111", "19971125", "19971209",
                  "19971223", "19980106", "19980120", "19980203", "19980217"})},
        {"Tuesday and Thursday for five weeks (until)", s(1997, 9, 2), "FREQ=WEEKLY;UNTIL=19971007T000000Z;WKST=SU;BYDAY=TU,TH",
         ninesOn({"19970902", "19970904", "19970909", "19970911", "19970916", "19970918", "19970923", "19970925",
                  "19970930", "19971002"})},
        {"Tuesday and Thursday for five weeks (count)", s(1997, 9, 2), "FREQ=WEEKLY;COUNT=10;WKST=SU;BYDAY=TU,TH",
         ninesOn({"19970902", "19970904", "19970909", "19970911", "19970916", "19970918", "19970923", "19970925",
                  "19970930", "19971002"})},
        {"every other week on Monday, Wednesday and Friday", s(1997, 9, 1),
         "FREQ=WEEKLY;INTERVAL=2;UNTIL=19971224T000000Z;WKST=SU;BYDAY=MO,WE,FR",
         ninesOn({"19970901", "19970903", "19970905", "19970915", "19970917", "19970919", "19970929", "19971001",
                  "19971003", "19971013", "19971015", "19971017", "19971027", "19971029", "19971031", "19971110",
                  "19971112", "19971114", "19971124", "19971126", "19971128", "19971208", "19971210", "19971212",
                  "19971222"})},
        {"every other week on Tuesday and Thursday, 8 times", s(1997, 9, 2), "FREQ=WEEKLY;INTERVAL=2;COUNT=8;WKST=SU;BYDAY=TU,TH",
         ninesOn({"19970902", "19970904", "19970916", "19970918", "19970930", "19971002", "19971014", "19971016"})},
        {"first Friday, 10 times", s(1997, 9, 5), "FREQ=MONTHLY;COUNT=10;BYDAY=1FR",
         ninesOn({"19970905", "19971003", "19971107", "19971205", "19980102", "19980206", "19980306", "19980403",
                  "19980501", "19980605"})},
        {"first Friday until 24 December", s(1997, 9, 5), "FREQ=MONTHLY;UNTIL=19971224T000000Z;BYDAY=1FR",
         ninesOn({"19970905", "19971003", "19971107", "19971205"})},
        {"every other month on the first and last Sunday", s(1997, 9, 7), "FREQ=MONTHLY;INTERVAL=2;COUNT=10;BYDAY=1SU,-1SU",
         ninesOn({"19970907", "19970928", "19971102", "19971130", "19980104", "19980125", "19980301", "19980329",
                  "19980503", "19980531"})},
        {"second-to-last Monday, 6 times", s(1997, 9, 22), "FREQ=MONTHLY;COUNT=6;BYDAY=-2MO",
         ninesOn({"19970922", "19971020", "19971117", "19971222", "19980119", "19980216"})},
        {"third-to-last day", s(1997, 9, 28), "FREQ=MONTHLY;BYMONTHDAY=-3",
         ninesOn({"19970928", "19971029", "19971128", "19971229", "19980129", "19980226"})},
        {"2nd and 15th, 10 times", s(1997, 9, 2), "FREQ=MONTHLY;COUNT=10;BYMONTHDAY=2,15",
         ninesOn({"19970902", "19970915", "19971002", "19971015", "19971102", "19971115", "19971202", "19971215",
                  "19980102", "19980115"})},
        {"first and last day, 10 times", s(1997, 9, 30), "FREQ=MONTHLY;COUNT=10;BYMONTHDAY=1,-1",
         ninesOn({"19970930", "19971001", "19971031", "19971101", "19971130", "19971201", "19971231", "19980101",
                  "19980131", "19980201"})},
        {"every 18 months on the 10th to 15th", s(1997, 9, 10), "FREQ=MONTHLY;INTERVAL=18;COUNT=10;BYMONTHDAY=10,11,12,13,14,15",
         ninesOn({"19970910", "19970911", "19970912", "19970913", "19970914", "19970915", "19990310", "19990311",
                  "19990312", "19990313"})},
        {"every Tuesday, every other month", s(1997, 9, 2), "FREQ=MONTHLY;INTERVAL=2;BYDAY=TU",
         ninesOn({"19970902", "19970909", "19970916", "19970923", "19970930", "19971104", "19971111", "19971118",
                  "19971125", "19980106", "19980113", "19980120", "19980127", "19980303", "19980310", "19980317",
                  "19980324", "19980331"})},
        {"June and July, 10 times", s(1997, 6, 10), "FREQ=YEARLY;COUNT=10;BYMONTH=6,7",
         ninesOn({"19970610", "19970710", "19980610", "19980710", "19990610", "19990710", "20000610", "20000710",
                  "20010610", "20010710"})},
        {"every other year in January, February and March", s(1997, 3, 10), "FREQ=YEARLY;INTERVAL=2;COUNT=10;BYMONTH=1,2,3",
         ninesOn({"19970310", "19990110", "19990210", "19990310", "20010110", "20010210", "20010310", "20030110",
                  "20030210", "20030310"})},
        {"every third year on days 1, 100 and 200", s(1997, 1, 1), "FREQ=YEARLY;INTERVAL=3;COUNT=10;BYYEARDAY=1,100,200",
         ninesOn({"19970101", "19970410", "19970719", "20000101", "20000409", "20000718", "20030101", "20030410",
                  "20030719", "20060101"})},
        {"20th Monday of the year", s(1997, 5, 19), "FREQ=YEARLY;BYDAY=20MO", ninesOn({"19970519", "19980518", "19990517"})},
        {"Monday of week 20", s(1997, 5, 12), "FREQ=YEARLY;BYWEEKNO=20;BYDAY=MO", ninesOn({"19970512", "19980511", "19990517"})},
        {"every Thursday in March", s(1997, 3, 13), "FREQ=YEARLY;BYMONTH=3;BYDAY=TH",
         ninesOn({"19970313", "19970320", "19970327", "19980305", "19980312", "19980319", "19980326", "19990304",
                  "19990311", "19990318", "19990325"})},
        {"every Thursday in June, July and August", s(1997, 6, 5), "FREQ=YEARLY;BYDAY=TH;BYMONTH=6,7,8",
         ninesOn({"19970605", "19970612", "19970619", "19970626", "19970703", "19970710", "19970717", "19970724",
                  "19970731", "19970807", "19970814", "19970821", "19970828", "19980604", "19980611", "19980618",
                  "19980625", "19980702", "19980709", "19980716", "19980723", "19980730", "19980806", "19980813",
                  "19980820", "19980827", "19990603", "19990610", "19990617", "19990624", "19990701", "19990708",
                  "19990715", "19990722", "19990729", "19990805", "19990812", "19990819", "19990826"})},
        // The standard leaves the start out with an EXDATE; here it stays first.
        {"every Friday the 13th", s(1997, 9, 2), "FREQ=MONTHLY;BYDAY=FR;BYMONTHDAY=13",
         ninesOn({"19970902", "19980213", "19980313", "19981113", "19990813", "20001013"})},
        {"first Saturday after the first Sunday", s(1997, 9, 13), "FREQ=MONTHLY;BYDAY=SA;BYMONTHDAY=7,8,9,10,11,12,13",
         ninesOn({"19970913", "19971011", "19971108", "19971213", "19980110", "19980207", "19980307", "19980411",
                  "19980509", "19980613"})},
        {"election day", s(1996, 11, 5), "FREQ=YEARLY;INTERVAL=4;BYMONTH=11;BYDAY=TU;BYMONTHDAY=2,3,4,5,6,7,8",
         ninesOn({"19961105", "20001107", "20041102"})},
        {"third of Tuesday, Wednesday or Thursday, 3 months", s(1997, 9, 4), "FREQ=MONTHLY;COUNT=3;BYDAY=TU,WE,TH;BYSETPOS=3",
         ninesOn({"19970904", "19971007", "19971106"})},
        {"second-to-last weekday", s(1997, 9, 29), "FREQ=MONTHLY;BYDAY=MO,TU,WE,TH,FR;BYSETPOS=-2",
         ninesOn({"19970929", "19971030", "19971127", "19971230", "19980129", "19980226", "19980330"})},
        // The standard's UNTIL (17:00 UTC, 13:00 in New York) contradicts its
        // own list; the published correction ends at 17:00 New York time.
        {"every 3 hours from 9:00 to 17:00", s(1997, 9, 2), "FREQ=HOURLY;INTERVAL=3;UNTIL=19970902T210000Z",
         {"19970902T090000", "19970902T120000", "19970902T150000"}},
        {"every 15 minutes, 6 times", s(1997, 9, 2), "FREQ=MINUTELY;INTERVAL=15;COUNT=6",
         {"19970902T090000", "19970902T091500", "19970902T093000", "19970902T094500", "19970902T100000",
          "19970902T101500"}},
        {"every hour and a half, 4 times", s(1997, 9, 2), "FREQ=MINUTELY;INTERVAL=90;COUNT=4",
         {"19970902T090000", "19970902T103000", "19970902T120000", "19970902T133000"}},
        {"Tuesday and Sunday every other week, weeks from Monday", s(1997, 8, 5), "FREQ=WEEKLY;INTERVAL=2;COUNT=4;BYDAY=TU,SU;WKST=MO",
         ninesOn({"19970805", "19970810", "19970819", "19970824"})},
        {"Tuesday and Sunday every other week, weeks from Sunday", s(1997, 8, 5), "FREQ=WEEKLY;INTERVAL=2;COUNT=4;BYDAY=TU,SU;WKST=SU",
         ninesOn({"19970805", "19970817", "19970819", "19970831"})},
        {"30 February is no day", s(2007, 1, 15), "FREQ=MONTHLY;BYMONTHDAY=15,30;COUNT=5",
         ninesOn({"20070115", "20070130", "20070215", "20070315", "20070330"})},
    };
    for (const Example &e : examples) {
        const QStringList &expected = e.expected;
        const RecurrenceExpansion x = expandText(e.rule, startAt(e.start, kNewYork), expected.size());
        EXPECT_TRUE(x.complete) << e.name;
        EXPECT_EQ(shown(x.dates), expected) << e.name;
    }

    // Every 20 minutes from 9:00 to 16:40, written two ways.
    QStringList twentyMinutes;
    for (const char *day : {"19970902", "19970903"})
        for (int h = 9; h <= 16; ++h)
            for (int m = 0; m < 60; m += 20) twentyMinutes.append(QString::asprintf("%sT%02d%02d00", day, h, m));
    for (const char *rule : {"FREQ=DAILY;BYHOUR=9,10,11,12,13,14,15,16;BYMINUTE=0,20,40",
                             "FREQ=MINUTELY;INTERVAL=20;BYHOUR=9,10,11,12,13,14,15,16"})
        EXPECT_EQ(shown(expandText(rule, startAt(s(1997, 9, 2), kNewYork), twentyMinutes.size()).dates), twentyMinutes)
            << rule;
}

// The first weeks of weekly rules that pick by position: the week holds the
// days before the start too (python-dateutil leaves them out of the first
// week, libical does not pick by position in a week at all).
TEST(RecurrenceRfc, PositionsInTheFirstWeek)
{
    const struct
    {
        const char *rule;
        QDateTime start;
        QStringList expected;
    } cases[] = {
        // Week of Monday 23 June 2025: Monday, Tuesday (the start), Thursday; the third is Thursday.
        {"FREQ=WEEKLY;BYDAY=MO,TU,TH;BYSETPOS=3;COUNT=3", QDateTime(QDate(2025, 6, 24), QTime(12, 30), Qt::UTC),
         {"20250624T123000", "20250626T123000", "20250703T123000"}},
        // The first of Tuesday 20 May 20:15 and 20:39, Sunday 25 May ... lies before the Saturday start.
        {"FREQ=WEEKLY;INTERVAL=2;BYDAY=TU,SU;BYMINUTE=15,39;BYSETPOS=1;COUNT=3", QDateTime(QDate(2025, 5, 24), QTime(20, 45), Qt::UTC),
         {"20250524T204500", "20250603T201500", "20250617T201500"}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(shown(expandText(c.rule, startAt(c.start, kNewYork)).dates), c.expected) << c.rule;
}

// Rules that give nothing after the start, or that RFC 5545 leaves without a
// meaning: the first give the start alone, the others say they are no
// reliable account (so that a count is kept rather than turned into an end).
TEST(RecurrenceRfc, EmptyAndMeaninglessRules)
{
    const VtrCalendarDate start = startAt(QDateTime(QDate(2020, 3, 2), QTime(18, 45), Qt::UTC), QTimeZone::utc());
    for (const char *empty : {"FREQ=HOURLY;INTERVAL=4;BYHOUR=9;UNTIL=20200310T000000Z", // every 4 hours from 18:00 never hits 9:00
                              "FREQ=DAILY;BYMINUTE=52;BYSETPOS=3;UNTIL=20200401T000000Z", // one candidate a day
                              "FREQ=YEARLY;BYMONTH=2;BYMONTHDAY=30;UNTIL=20300101T000000Z"}) {
        const RecurrenceExpansion x = expandText(empty, start);
        EXPECT_TRUE(x.complete) << empty;
        EXPECT_EQ(x.dates.size(), 1) << empty;
    }
    for (const char *meaningless : {"FREQ=MINUTELY;BYSETPOS=-3;COUNT=5", "FREQ=MONTHLY;BYWEEKNO=3;COUNT=5",
                                    "FREQ=DAILY;BYYEARDAY=40;COUNT=5", "FREQ=WEEKLY;BYMONTHDAY=4;COUNT=5",
                                    "FREQ=WEEKLY;BYDAY=2MO;COUNT=5", "FREQ=YEARLY;BYWEEKNO=20;BYDAY=1MO;COUNT=5",
                                    "FREQ=SECONDLY;BYMONTH=2;BYMONTHDAY=30;COUNT=5"}) // only the step budget ends this one
        EXPECT_FALSE(expandText(meaningless, start).complete) << meaningless;
    EXPECT_FALSE(expandRecurrenceChecked({{"frequency", "daily"}, {"bymonth", QVariantList{13}}, {"count", 3}}, start, {}, {})
                     .complete);
}

// A generated corpus: every rule our expansion reads fully gives the same
// occurrences as libical's iterator or, where libical errs, as
// python-dateutil's rrule (from the second week on for a weekly rule that
// picks by position: see above).
TEST(RecurrenceRfc, GeneratedCorpusAgreesWithLibicalOrDateutil)
{
    constexpr int kLimit = 100;
    const QList<rfccorpus::RuleText> generated = rfccorpus::makeRuleTexts(2600, 11);
    // The references look for a next occurrence for ever: only rules that
    // have one after the last compared (by our count) go to them.
    QList<rfccorpus::RuleText> rules;
    QList<RecurrenceExpansion> ours;
    int unreliable = 0;
    for (const rfccorpus::RuleText &r : generated) {
        const VtrCalendarDate start = startAt(r.localStart, QTimeZone(r.zone));
        const QVariantMap dict = syncstore::recurrenceDictionaryFromRule(r.rule, start);
        ASSERT_FALSE(dict.isEmpty()) << r.rule.constData();
        const RecurrenceExpansion x = expandRecurrenceChecked(dict, start, {}, {});
        if (!x.complete) {
            ++unreliable;
            continue;
        }
        QVariantMap further = dict;
        further.remove("until");
        further["count"] = int(std::min<qsizetype>(x.dates.size(), kLimit) + 1);
        const RecurrenceExpansion next = expandRecurrenceChecked(further, start, {}, {});
        if (!next.complete || next.dates.size() != further["count"].toInt()) continue;
        rules.append(r);
        ours.append(x);
    }
    ASSERT_GE(rules.size(), 2000);
    EXPECT_LT(unreliable, generated.size() / 8);

    const rfccorpus::LibicalReference libical = rfccorpus::runLibical(rules, kLimit + 1, VTR_LIBICAL_REFERENCE);
    ASSERT_TRUE(libical.error.isEmpty()) << libical.error.toStdString();
    const rfccorpus::LibicalReference dateutil = rfccorpus::runDateutil(rules, kLimit + 1);
    if (!dateutil.error.isEmpty()) GTEST_SKIP() << "no python-dateutil: " << dateutil.error.toStdString();

    int byLibical = 0, byDateutil = 0;
    QMap<QString, int> parts;
    for (qsizetype i = 0; i < rules.size(); ++i) {
        const rfccorpus::RuleText &r = rules.at(i);
        const QString start = rfccorpus::wallClock(r.localStart);
        const int count = rfccorpus::countOf(r.rule);
        const QStringList mine = shown(ours.at(i).dates, kLimit);
        if (libical.occurrences.at(i) && withStart(*libical.occurrences.at(i), start, count, kLimit) == mine) {
            ++byLibical;
        } else {
            ASSERT_TRUE(dateutil.occurrences.at(i)) << "neither reference expands " << r.rule.constData();
            QStringList theirs = withStart(*dateutil.occurrences.at(i), start, count, kLimit);
            QStringList compared = mine;
            if (r.rule.startsWith("FREQ=WEEKLY") && r.rule.contains("BYSETPOS")) {
                // From the first day of the second week on.
                const int weekStart = QStringList{"SU", "MO", "TU", "WE", "TH", "FR", "SA"}.indexOf(
                    QRegularExpression("WKST=(\\w\\w)").match(QString::fromLatin1(r.rule)).captured(1));
                const QDate day = r.localStart.date();
                const QDate second = day.addDays(7 - (day.dayOfWeek() % 7 - (weekStart < 0 ? 1 : weekStart) + 7) % 7);
                const QString from = second.toString("yyyyMMdd");
                auto after = [&](QStringList l) {
                    l.removeIf([&](const QString &t) { return t < from; });
                    return l;
                };
                theirs = after(theirs);
                compared = after(compared);
                const qsizetype n = std::min(theirs.size(), compared.size());
                theirs = theirs.mid(0, n);
                compared = compared.mid(0, n);
            }
            EXPECT_EQ(compared, theirs) << r.rule.constData() << " from " << start.toStdString() << " in "
                                        << r.zone.constData() << "; libical: "
                                        << (libical.occurrences.at(i) ? libical.occurrences.at(i)->join(' ').toStdString()
                                                                      : std::string("nothing"));
            ++byDateutil;
        }
        for (const QString &part : r.kind.split(' ')) ++parts[part];
    }
    // Every rule part is there, in numbers.
    for (const char *part : {"SECONDLY", "MINUTELY", "HOURLY", "DAILY", "WEEKLY", "MONTHLY", "YEARLY", "INTERVAL",
                             "COUNT", "UNTIL", "BYMONTH", "BYWEEKNO", "BYYEARDAY", "BYMONTHDAY", "BYDAY", "BYHOUR",
                             "BYMINUTE", "BYSECOND", "BYSETPOS", "WKST"})
        EXPECT_GE(parts.value(part), 40) << part;
    std::printf("%d rules (%d read only in part): %d as libical expands them, %d where libical errs as python-dateutil "
                "expands them\n",
                int(rules.size()), unreliable, byLibical, byDateutil);
    EXPECT_GE(byLibical, rules.size() / 2);
}

// Yearly rules on the weeks that straddle New Year give python-dateutil's
// occurrences: a December day in the next year's week 1 is a day of its own
// calendar year's period, so with an interval it does not turn up in a year
// the rule skips. Rules that name week -52 or -53 are left out: for
// python-dateutil such a December day is week 1 only, not the next year's
// week counted back (test_recurrence_weeks.cpp reads them day by day).
TEST(RecurrenceRfc, WeeksAcrossNewYearAgreeWithDateutil)
{
    QList<rfccorpus::RuleText> rules = rfccorpus::makeNewYearWeekRules(600, 5);
    rules.removeIf([](const rfccorpus::RuleText &r) {
        return QRegularExpression(QStringLiteral("BYWEEKNO=[^;]*-5[23]\\b")).match(QString::fromLatin1(r.rule)).hasMatch();
    });
    ASSERT_GE(rules.size(), 300);
    const rfccorpus::LibicalReference dateutil = rfccorpus::runDateutil(rules, 100);
    if (!dateutil.error.isEmpty()) GTEST_SKIP() << "no python-dateutil: " << dateutil.error.toStdString();
    for (qsizetype i = 0; i < rules.size(); ++i) {
        const rfccorpus::RuleText &r = rules.at(i);
        const VtrCalendarDate start = startAt(r.localStart, QTimeZone::utc());
        const RecurrenceExpansion x =
            expandRecurrenceChecked(syncstore::recurrenceDictionaryFromRule(r.rule, start), start, {}, {});
        ASSERT_TRUE(x.complete && dateutil.occurrences.at(i)) << r.rule.constData();
        const QString from = rfccorpus::wallClock(r.localStart);
        EXPECT_EQ(shown(x.dates), withStart(*dateutil.occurrences.at(i), from, rfccorpus::countOf(r.rule), 100))
            << r.rule.constData() << " from " << from.toStdString();
    }
}

// The last occurrence alone (what an export needs) is the expansion's last,
// for series found without walking them too (every day or week, across
// daylight-saving changes and with ends before, at and after an occurrence).
TEST(RecurrenceRfc, LastOccurrenceAloneIsTheExpansionsLast)
{
    QList<std::pair<QVariantMap, VtrCalendarDate>> cases;
    for (const char *zone : {"America/New_York", "Australia/Lord_Howe", "Pacific/Chatham", "UTC"}) {
        const VtrCalendarDate start = startAt(QDateTime(QDate(2011, 3, 1), QTime(2, 30), Qt::UTC), QTimeZone(zone));
        for (const char *freq : {"daily", "weekly"})
            for (int interval : {1, 3})
                for (int count : {0, 1, 2, 40, 400}) {
                    QVariantMap r{{"frequency", freq}, {"interval", interval}};
                    if (count) r["count"] = count;
                    cases.append({r, start});
                    for (int days : {0, 1, 9, 300}) {
                        for (int minutes : {-1, 0, 1}) {
                            QVariantMap withUntil = r;
                            withUntil["until"] = QVariant::fromValue(start.dateByAddingYears(0, 0, days, 0, minutes, 0));
                            cases.append({withUntil, start});
                        }
                    }
                }
    }
    // An end an hour after the clocks went back, and an occurrence within that hour.
    const VtrCalendarDate beforeFallBack = startAt(QDateTime(QDate(2011, 11, 1), QTime(1, 30), Qt::UTC), kNewYork);
    cases.append({QVariantMap{{"frequency", "daily"},
                              {"until", QVariant::fromValue(VtrCalendarDate(QDateTime(QDate(2011, 11, 6), QTime(6, 10), Qt::UTC)))}},
                  beforeFallBack});
    for (const rfccorpus::RuleText &t : rfccorpus::makeRuleTexts(300, 5)) {
        const VtrCalendarDate start = startAt(t.localStart, QTimeZone(t.zone));
        cases.append({syncstore::recurrenceDictionaryFromRule(t.rule, start), start});
    }
    for (const auto &[rule, start] : cases) {
        const RecurrenceExpansion all = expandRecurrenceChecked(rule, start, {}, {});
        if (!all.complete) continue; // an endless walk stops at the budget, a steady end does not
        const RecurrenceExpansion last = lastRecurrence(rule, start, {}, {});
        EXPECT_TRUE(last.complete);
        ASSERT_EQ(last.dates.size(), 1);
        EXPECT_EQ(shown(last.dates), shown({all.dates.last()})) << vtr::JSONRepresentation(rule).toStdString();
    }
}

// Series every day or week that end at an until on the far side of a
// daylight-saving change: the last occurrence is the one at or just before
// the until, also where the until lies in the hour the clocks skipped or
// repeated, found alone as in the full expansion.
TEST(RecurrenceRfc, SteadySeriesEndAtTheirUntilAcrossDaylightSaving)
{
    const auto at = [](int y, int mo, int d, int h, int mi) { return QDateTime(QDate(y, mo, d), QTime(h, mi), Qt::UTC); };
    const struct
    {
        const char *zone;
        QDateTime localStart;
        const char *freq;
        int interval;
        QDateTime until, last; // UTC
    } cases[] = {
        // 02:30 on 13 March is 03:30 daylight time.
        {"America/New_York", at(2011, 3, 1, 2, 30), "daily", 1, at(2011, 3, 13, 7, 30), at(2011, 3, 13, 7, 30)},
        {"America/New_York", at(2011, 3, 1, 2, 30), "daily", 1, at(2011, 3, 13, 7, 10), at(2011, 3, 12, 7, 30)},
        // 01:30 on 6 November is its first, daylight-time occurrence.
        {"America/New_York", at(2011, 11, 1, 1, 30), "daily", 1, at(2011, 11, 6, 5, 30), at(2011, 11, 6, 5, 30)},
        {"America/New_York", at(2011, 11, 1, 1, 30), "daily", 1, at(2011, 11, 6, 6, 40), at(2011, 11, 6, 5, 30)},
        {"America/New_York", at(2011, 3, 1, 9, 0), "weekly", 1, at(2011, 6, 28, 13, 0), at(2011, 6, 28, 13, 0)},
        {"Europe/Berlin", at(2021, 9, 2, 10, 0), "weekly", 2, at(2021, 12, 9, 9, 0), at(2021, 12, 9, 9, 0)},
        // Half an hour skipped: 02:15 on 2 October is 02:45.
        {"Australia/Lord_Howe", at(2011, 9, 20, 2, 15), "daily", 1, at(2011, 10, 1, 15, 45), at(2011, 10, 1, 15, 45)},
        {"Australia/Lord_Howe", at(2011, 9, 20, 2, 15), "daily", 1, at(2011, 10, 1, 15, 40), at(2011, 9, 30, 15, 45)},
    };
    for (const auto &c : cases) {
        const QTimeZone zone(c.zone);
        const QVariantMap rule{{"frequency", c.freq}, {"interval", c.interval}, {"until", QVariant::fromValue(VtrCalendarDate(c.until, zone))}};
        const VtrCalendarDate start = startAt(c.localStart, zone);
        const RecurrenceExpansion last = lastRecurrence(rule, start, {}, {});
        const QList<VtrCalendarDate> all = expandRecurrence(rule, start, {}, {});
        ASSERT_EQ(last.dates.size(), 1) << c.zone;
        const QString expected = c.last.toString(Qt::ISODate), until = c.until.toString(Qt::ISODate);
        EXPECT_EQ(last.dates.first().instant().toString(Qt::ISODate), expected) << c.zone << " until " << until.toStdString();
        EXPECT_EQ(all.last().instant().toString(Qt::ISODate), expected) << c.zone << " until " << until.toStdString();
    }
    // Samoa left out 30 December 2011: its 10:00 is the next day's, one occurrence.
    const QVariantMap tenDays{{"frequency", "daily"}, {"count", 10}};
    const VtrCalendarDate apia = startAt(at(2011, 12, 25, 10, 0), QTimeZone("Pacific/Apia"));
    EXPECT_EQ(shown(lastRecurrence(tenDays, apia, {}, {}).dates), QStringList{"20120104T100000"});
    EXPECT_EQ(shown({expandRecurrence(tenDays, apia, {}, {}).last()}), QStringList{"20120104T100000"});
}
