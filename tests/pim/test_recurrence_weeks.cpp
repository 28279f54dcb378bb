// Runs again under odd time zones (scripts/test.sh): it reads or writes dates.
// Yearly rules by week number, against an expansion written here day by day
// from RFC 5545 (3.3.10) and nothing else: a week (seven days from the week
// start) belongs to the year that holds four or more of its days, its number
// is counted from the first such week and, negative, back from the last; a
// yearly period holds the days of its calendar year. Rules are generated
// around New Year, where the weeks straddle two years.
#include "QStringPrinting.h"
#include "pim/records/RecurrenceExpansion.h"
#include "pim/store/ICalRecords.h"

#include <QDate>
#include <QDateTime>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <random>

namespace {

const QDate kTableFirst(1985, 1, 1), kTableLast(2125, 12, 31);
// Years whose weeks the table knows whole (and their neighbours').
constexpr int kFirstYear = 1990, kLastYear = 2120;

// Every day's week for one week start (Qt's numbering: 1 Monday .. 7 Sunday).
class WeekTable
{
public:
    explicit WeekTable(int weekStart)
    {
        for (QDate d = kTableFirst; d <= kTableLast; d = d.addDays(1)) {
            const QDate first = d.addDays(-((d.dayOfWeek() - weekStart + 7) % 7));
            const QDate last = first.addDays(6);
            int inLastsYear = 0;
            for (QDate w = first; w <= last; w = w.addDays(1)) inLastsYear += w.year() == last.year();
            const int year = inLastsYear >= 4 ? last.year() : first.year();
            auto [known, isNew] = m_weekOne.try_emplace(year, first);
            Q_UNUSED(isNew);
            const int number = int(known->second.daysTo(first) / 7) + 1;
            m_days.push_back({year, number});
            m_weeks[year] = std::max(m_weeks[year], number);
        }
    }
    // Whether `d` lies in week `n` (1..53 forward, -1..-53 back) of its year.
    bool inWeek(const QDate &d, int n) const
    {
        const Entry &e = m_days.at(size_t(kTableFirst.daysTo(d)));
        return n == e.number || n == e.number - m_weeks.at(e.year) - 1;
    }

private:
    struct Entry
    {
        int year, number;
    };
    std::vector<Entry> m_days;
    std::map<int, QDate> m_weekOne;
    std::map<int, int> m_weeks;
};

const WeekTable &weeksFrom(int weekStart)
{
    static const std::vector<WeekTable> tables = [] {
        std::vector<WeekTable> t;
        for (int w = 1; w <= 7; ++w) t.emplace_back(w);
        return t;
    }();
    return tables.at(size_t(weekStart - 1));
}

const char *const kDayNames[] = {"MO", "TU", "WE", "TH", "FR", "SA", "SU"}; // Qt's 1..7

struct WeekRule
{
    QDateTime start; // wall-clock, in `zone`
    QByteArray zone;
    int interval = 1;
    QList<int> weeks, weekdays, months, positions; // weekdays 1 Monday .. 7 Sunday
    std::optional<int> weekStart;                  // Monday when not given
    int count = 0;
    std::optional<QDateTime> until; // UTC

    QByteArray text() const
    {
        QByteArray t = "FREQ=YEARLY";
        auto list = [](const QList<int> &l) {
            QByteArrayList out;
            for (int v : l) out.append(QByteArray::number(v));
            return out.join(',');
        };
        t += ";INTERVAL=" + QByteArray::number(interval);
        if (count) t += ";COUNT=" + QByteArray::number(count);
        if (until) t += ";UNTIL=" + until->toUTC().toString("yyyyMMdd'T'HHmmss'Z'").toLatin1();
        t += ";BYWEEKNO=" + list(weeks);
        if (!weekdays.isEmpty()) {
            QByteArrayList days;
            for (int d : weekdays) days.append(kDayNames[d - 1]);
            t += ";BYDAY=" + days.join(',');
        }
        if (!months.isEmpty()) t += ";BYMONTH=" + list(months);
        if (!positions.isEmpty()) t += ";BYSETPOS=" + list(positions);
        if (weekStart) t += QByteArray(";WKST=") + kDayNames[*weekStart - 1];
        return t;
    }
};

QString wallClock(const QDate &d, const QTime &t)
{
    return d.toString("yyyyMMdd") + t.toString("'T'HHmmss");
}

// The occurrences up to the end of `lastYear`: the start, then each day of
// every INTERVAL-th calendar year from the start's that passes every part
// (BYWEEKNO alone gives every day of its weeks), picked by BYSETPOS among
// the year's days, after the start, at the start's time, until COUNT or
// UNTIL.
QStringList bruteForce(const WeekRule &r, int lastYear)
{
    const QTimeZone zone(r.zone);
    const QDate startDay = r.start.date();
    const QTime time = r.start.time();
    const WeekTable &table = weeksFrom(r.weekStart.value_or(1));
    QStringList out{wallClock(startDay, time)};
    for (int y = startDay.year(); y <= lastYear; y += r.interval) {
        QList<QDate> set;
        for (QDate d(y, 1, 1); d.year() == y; d = d.addDays(1)) {
            if (!std::any_of(r.weeks.begin(), r.weeks.end(), [&](int n) { return table.inWeek(d, n); })) continue;
            if (!r.weekdays.isEmpty() && !r.weekdays.contains(d.dayOfWeek())) continue;
            if (!r.months.isEmpty() && !r.months.contains(d.month())) continue;
            set.append(d);
        }
        if (!r.positions.isEmpty()) {
            QList<QDate> picked;
            for (int p : r.positions) {
                const qsizetype i = p > 0 ? p - 1 : set.size() + p;
                if (i >= 0 && i < set.size() && !picked.contains(set.at(i))) picked.append(set.at(i));
            }
            std::sort(picked.begin(), picked.end());
            set = picked;
        }
        for (const QDate &d : set) {
            if (d <= startDay) continue;
            if (r.until && QDateTime(d, time, zone) > *r.until) return out;
            out.append(wallClock(d, time));
            if (r.count && out.size() == r.count) return out;
        }
    }
    return out;
}

// Ours, in the same window (a COUNT still counts from the start).
RecurrenceExpansion ours(const WeekRule &r, int lastYear)
{
    const QTimeZone zone(r.zone);
    const QDate d = r.start.date();
    const QTime t = r.start.time();
    const VtrCalendarDate start = VtrCalendarDate::fromComponents(d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second(), zone);
    const QVariantMap dict = syncstore::recurrenceDictionaryFromRule(r.text(), start);
    return expandRecurrenceChecked(dict, start, {}, VtrCalendarDate::fromComponents(lastYear, 12, 31, 23, 59, 59, zone));
}

QStringList shown(const QList<VtrCalendarDate> &dates)
{
    QStringList out;
    for (const VtrCalendarDate &d : dates) out.append(d.descriptionWithCalendarFormat("%Y%m%dT%H%M%S"));
    return out;
}

// Starts within a fortnight of New Year, at hours no zone here skips or
// repeats; week numbers near either end of the year, counted forward and
// back, and some between.
QList<WeekRule> generatedRules(int n, unsigned seed)
{
    static const char *const kZones[] = {"UTC", "Europe/Berlin", "Australia/Sydney", "America/New_York", "Pacific/Auckland"};
    static const int kEnds[] = {1, 2, 51, 52, 53, -1, -2, -51, -52, -53};
    std::mt19937 rng(seed);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    QList<WeekRule> out;
    while (out.size() < n) {
        WeekRule r;
        r.zone = kZones[pick(0, 4)];
        const QDate newYear(pick(1998, 2040), 1, 1);
        r.start = QDateTime(newYear.addDays(pick(-14, 14)), QTime(pick(4, 22), pick(0, 3) * 15), QTimeZone::utc());
        r.interval = pick(1, 4);
        for (int k = pick(1, 3); k > 0; --k) {
            const int w = pick(0, 3) ? kEnds[pick(0, 9)] : pick(3, 50) * (pick(0, 1) ? 1 : -1);
            if (!r.weeks.contains(w)) r.weeks.append(w);
        }
        if (pick(0, 5)) {
            for (int k = pick(1, 4); k > 0; --k)
                if (const int d = pick(1, 7); !r.weekdays.contains(d)) r.weekdays.append(d);
            std::sort(r.weekdays.begin(), r.weekdays.end());
        }
        if (pick(0, 7) == 0) r.months.append(pick(0, 1) ? 12 : 1);
        if (pick(0, 7) == 0) r.positions.append(pick(1, 3) * (pick(0, 1) ? 1 : -1));
        if (pick(0, 7)) r.weekStart = pick(1, 7);
        if (pick(0, 1)) {
            r.count = pick(2, 25);
        } else {
            // Now and then exactly at a candidate, which the end includes.
            const QDate last = r.start.date().addDays(pick(20, 15 * 366));
            const QTime at = pick(0, 2) ? r.start.time() : QTime(pick(0, 23), pick(0, 59));
            r.until = QDateTime(last, at, QTimeZone(r.zone)).toUTC();
        }
        out.append(r);
    }
    return out;
}

} // namespace

// Rules whose December days belong to the next year's week 1, which counted
// back is that year's week -53 or -52: those days are occurrences.
TEST(RecurrenceWeeks, DecemberDaysOfTheNextYearsFirstWeekCountBackToo)
{
    const auto at = [](int y, int m, int d, int h, int mi) { return QDateTime(QDate(y, m, d), QTime(h, mi), QTimeZone::utc()); };
    const struct
    {
        WeekRule rule;
        int lastYear;
        qsizetype index; // in the list, the start at 0
        const char *occurrence;
    } cases[] = {
        // 2026 has 53 weeks: its week -53 is its week 1, from Monday 29 December 2025.
        {{at(2025, 12, 29, 10, 0), "Europe/Berlin", 1, {-53}, {1, 2, 3, 4}, {}, {}, {}, 4, {}}, 2040, 3, "20260101T100000"},
        {{at(2011, 1, 2, 10, 13), "UTC", 2, {-52}, {7}, {}, {}, 7, 0, at(2079, 1, 1, 10, 13)}, 2079, 3, "20171231T101300"},
        {{at(2009, 12, 29, 13, 30), "Australia/Sydney", 1, {-53}, {1, 2, 4}, {}, {}, 2, 139, {}}, 2120, 1, "20091231T133000"},
        {{at(1997, 1, 6, 1, 0), "America/New_York", 1, {-52}, {1, 5}, {}, {}, 7, 0, at(2002, 1, 4, 6, 0)}, 2002, 10,
         "20011231T010000"},
    };
    for (const auto &c : cases) {
        const RecurrenceExpansion x = ours(c.rule, c.lastYear);
        const QStringList expected = bruteForce(c.rule, c.lastYear);
        EXPECT_TRUE(x.complete) << c.rule.text().constData();
        EXPECT_EQ(shown(x.dates), expected) << c.rule.text().constData() << " in " << c.rule.zone.constData();
        ASSERT_GT(expected.size(), c.index);
        EXPECT_EQ(expected.at(c.index), c.occurrence);
    }
    // The whole of the first: the four days of 2026's week -53 (= 1) from Monday to Thursday.
    EXPECT_EQ(shown(ours(cases[0].rule, 2040).dates),
              (QStringList{"20251229T100000", "20251230T100000", "20251231T100000", "20260101T100000"}));
}

// A generated corpus, with every week start and intervals 1 to 4, gives the
// occurrences of the day-by-day reading.
TEST(RecurrenceWeeks, GeneratedRulesAgreeWithADayByDayReading)
{
    const QList<WeekRule> rules = generatedRules(1500, 45);
    int differing = 0, decemberBack = 0;
    for (const WeekRule &r : rules) {
        const int lastYear = r.start.date().year() + 30;
        const RecurrenceExpansion x = ours(r, lastYear);
        const QStringList expected = bruteForce(r, lastYear);
        ASSERT_TRUE(x.complete) << r.text().constData();
        const QStringList got = shown(x.dates);
        EXPECT_EQ(got, expected) << r.text().constData() << " from " << expected.first().toStdString() << " in "
                                 << r.zone.constData();
        if (got != expected && ++differing >= 10) FAIL() << "and more";
        for (const QString &t : expected.mid(1)) decemberBack += t.mid(4, 2) == "12" && (r.weeks.contains(-52) || r.weeks.contains(-53));
    }
    // The corpus reaches the days the rule above is about.
    EXPECT_GE(decemberBack, 50);
}
