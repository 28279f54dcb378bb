#include "RecurrenceExpansion.h"

#include "STDate.h"
#include "STRecord.h"

#include <QDateTime>
#include <QStringList>
#include <QVarLengthArray>

#include <algorithm>
#include <array>
#include <bitset>
#include <climits>
#include <cstdlib>
#include <numeric>
#include <optional>

namespace {

constexpr int kNotFound = INT_MAX;
constexpr qint64 kSecsPerDay = 86400;

qint64 floorDiv(qint64 a, qint64 b)
{
    qint64 q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
    return q;
}

qint64 ceilDiv(qint64 a, qint64 b) { return -floorDiv(-a, b); }

// ---- days counted from 1 January 1970 (proleptic Gregorian calendar)

qint64 daysFromCivil(qint64 y, int m, int d) { return vtr::daysFromCivil(y, m, d); }

bool isLeap(qint64 y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int daysInMonth(qint64 y, int m)
{
    static const int lengths[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && isLeap(y) ? 29 : lengths[m - 1];
}

int weekdayOf(qint64 day) { return int(((day + 4) % 7 + 7) % 7); } // 0 = Sunday; 1 January 1970 was a Thursday

// One day with everything the rule parts look at.
struct Day
{
    qint64 day;    // days since 1970-01-01
    qint64 year;
    int month;     // 1..12
    int monthDay;  // 1..31
    int weekday;   // 0 = Sunday
    int yearDay;   // 1..366
    int monthLength;
    int yearLength;
};

Day dayOf(qint64 y, int m, int d)
{
    const qint64 day = daysFromCivil(y, m, d);
    return {day, y, m, d, weekdayOf(day), int(day - daysFromCivil(y, 1, 1)) + 1, daysInMonth(y, m), isLeap(y) ? 366 : 365};
}

Day dayOf(qint64 day)
{
    qint64 y = 0;
    int m = 0, d = 0;
    vtr::civilFromDays(day, y, m, d);
    return dayOf(y, m, d);
}

// The last day a candidate may have: 31 December 9999.
const qint64 kLastDay = daysFromCivil(10000, 1, 1) - 1;

std::optional<VtrCalendarDate> dateValue(const QVariant &v)
{
    if (!v.isValid()) return std::nullopt;
    if (stHolds<VtrCalendarDate>(v)) {
        const VtrCalendarDate d = v.value<VtrCalendarDate>();
        if (!d.isNull()) return d;
    } else if (stHolds<STDate>(v)) {
        const VtrCalendarDate d = v.value<STDate>().calendarDate();
        if (!d.isNull()) return d;
    } else if (v.typeId() == QMetaType::QDateTime && v.toDateTime().isValid()) {
        return VtrCalendarDate(v.toDateTime(), vtr::utcTimeZone());
    }
    return std::nullopt;
}

// ---- the rule

enum class Freq { Secondly, Minutely, Hourly, Daily, Weekly, Monthly, Yearly, None };

using Numbers = QVarLengthArray<int, 8>;

struct WeekdayPart
{
    int weekday; // 0 = Sunday
    int ordinal; // 0: every one
};

bool contains(const Numbers &list, int value) { return std::find(list.begin(), list.end(), value) != list.end(); }

void sortUnique(Numbers &list)
{
    std::sort(list.begin(), list.end());
    list.erase(std::unique(list.begin(), list.end()), list.end());
}

// The values of a list part: a list, a list of texts or a comma-separated text.
QVariantList listValue(const QVariant &v)
{
    if (!v.isValid()) return {};
    if (v.typeId() == QMetaType::QVariantList || v.typeId() == QMetaType::QStringList) return v.toList();
    if (v.typeId() == QMetaType::QString) {
        QVariantList out;
        for (const QString &piece : v.toString().split(QLatin1Char(','), Qt::SkipEmptyParts)) out.append(piece.trimmed());
        return out;
    }
    return {v};
}

int weekdayIndex(const QString &name)
{
    static const char *const kNames[] = {"sunday", "monday", "tuesday", "wednesday", "thursday", "friday", "saturday"};
    for (int i = 0; i < 7; ++i)
        if (name == QLatin1String(kNames[i])) return i;
    return kNotFound;
}

struct Rule
{
    Freq freq = Freq::None;
    qint64 interval = 1;
    int weekStart = 1; // Monday
    Numbers months, weekNumbers, yearDays, monthDays, hours, minutes, seconds, setPositions;
    QVarLengthArray<WeekdayPart, 8> weekdays;
    // The day parts as sets, for dayMatches(): each day of every period is
    // looked at, and a part may name hundreds of days. Places counted from
    // the end are kept as their distance from it (-1 as 1); a weekday's
    // place 0 stands for every one.
    std::bitset<13> monthSet;
    std::bitset<32> monthDayFromStart, monthDayFromEnd;
    std::bitset<367> yearDayFromStart, yearDayFromEnd;
    std::bitset<54> weekFromStart, weekFromEnd;
    std::array<std::bitset<54>, 7> placeFromStart, placeFromEnd;
    bool understood = true;
    // Every day or every week at the start's time: no part but the interval.
    bool steady() const
    {
        return (freq == Freq::Daily || freq == Freq::Weekly) && !limitsDays() && hours.isEmpty() && minutes.isEmpty()
               && seconds.isEmpty() && setPositions.isEmpty();
    }
    // Whether any part limits which days are occurrences (else a weekly or
    // daily rule needs no calendar look at its days).
    bool limitsDays() const
    {
        return !months.isEmpty() || !weekNumbers.isEmpty() || !yearDays.isEmpty() || !monthDays.isEmpty()
               || !weekdays.isEmpty();
    }

    // A numbered weekday (2nd Tuesday, last Friday) counts within the month
    // for a monthly rule and for a yearly one limited to months, else within
    // the year.
    bool ordinalsInMonth() const { return freq == Freq::Monthly || !months.isEmpty(); }

    void readNumbers(const QVariant &value, Numbers &out, int low, int high, bool negativeToo)
    {
        for (const QVariant &v : listValue(value)) {
            bool ok = false;
            const int n = v.toString().trimmed().toInt(&ok);
            const int magnitude = std::abs(n);
            if (!ok || (negativeToo ? (n == 0 || magnitude < low || magnitude > high) : (n < low || n > high)))
                understood = false;
            else
                out.append(n);
        }
    }

    explicit Rule(const QVariantMap &r)
    {
        static const QHash<QString, Freq> freqs = {
            {QStringLiteral("secondly"), Freq::Secondly}, {QStringLiteral("minutely"), Freq::Minutely},
            {QStringLiteral("hourly"), Freq::Hourly},     {QStringLiteral("daily"), Freq::Daily},
            {QStringLiteral("weekly"), Freq::Weekly},     {QStringLiteral("monthly"), Freq::Monthly},
            {QStringLiteral("yearly"), Freq::Yearly}};
        freq = freqs.value(r.value(QStringLiteral("frequency")).toString().trimmed().toLower(), Freq::None);
        if (freq == Freq::None) understood = false;
        interval = std::max<qint64>(1, r.value(QStringLiteral("interval")).toLongLong());
        readNumbers(r.value(QStringLiteral("bymonth")), months, 1, 12, false);
        readNumbers(r.value(QStringLiteral("byweeknumber")), weekNumbers, 1, 53, true);
        readNumbers(r.value(QStringLiteral("byyearday")), yearDays, 1, 366, true);
        readNumbers(r.value(QStringLiteral("bymonthday")), monthDays, 1, 31, true);
        readNumbers(r.value(QStringLiteral("byhour")), hours, 0, 23, false);
        readNumbers(r.value(QStringLiteral("byminute")), minutes, 0, 59, false);
        readNumbers(r.value(QStringLiteral("bysecond")), seconds, 0, 59, false);
        readNumbers(r.value(QStringLiteral("bysetpos")), setPositions, 1, 366, true);
        for (Numbers *list : {&months, &hours, &minutes, &seconds}) sortUnique(*list);

        const QVariantList names = listValue(r.value(QStringLiteral("bydaydays")));
        const QVariantList ordinals = listValue(r.value(QStringLiteral("bydayfreq")));
        for (qsizetype i = 0; i < names.size(); ++i) {
            const int weekday = weekdayIndex(names.at(i).toString().trimmed().toLower());
            const int ordinal = i < ordinals.size() ? ordinals.at(i).toInt() : 0;
            if (weekday == kNotFound || std::abs(ordinal) > 53) understood = false;
            else weekdays.append({weekday, ordinal});
        }
        if (r.contains(QStringLiteral("weekstartday"))) {
            // Read as the exported rule writes it: a name that is none is Sunday.
            const int w = weekdayIndex(r.value(QStringLiteral("weekstartday")).toString().trimmed().toLower());
            weekStart = w == kNotFound ? 0 : w;
        }

        // Parts RFC 5545 does not define for the frequency.
        const bool subDaily = freq == Freq::Secondly || freq == Freq::Minutely || freq == Freq::Hourly;
        if (!weekNumbers.isEmpty() && freq != Freq::Yearly) understood = false;
        if (!yearDays.isEmpty() && (freq == Freq::Daily || freq == Freq::Weekly || freq == Freq::Monthly)) understood = false;
        if (!monthDays.isEmpty() && freq == Freq::Weekly) understood = false;
        // BYSETPOS picks among what other parts give.
        if (!setPositions.isEmpty() && months.isEmpty() && weekNumbers.isEmpty() && yearDays.isEmpty()
            && monthDays.isEmpty() && weekdays.isEmpty() && hours.isEmpty() && minutes.isEmpty() && seconds.isEmpty())
            understood = false;
        for (const WeekdayPart &w : weekdays) {
            if (w.ordinal == 0) continue;
            if (subDaily || freq == Freq::Daily || freq == Freq::Weekly) understood = false;
            if (freq == Freq::Yearly && !weekNumbers.isEmpty()) understood = false;
        }

        for (int m : months) monthSet.set(size_t(m));
        for (int md : monthDays) (md > 0 ? monthDayFromStart : monthDayFromEnd).set(size_t(std::abs(md)));
        for (int yd : yearDays) (yd > 0 ? yearDayFromStart : yearDayFromEnd).set(size_t(std::abs(yd)));
        for (int wn : weekNumbers) (wn > 0 ? weekFromStart : weekFromEnd).set(size_t(std::abs(wn)));
        for (const WeekdayPart &w : weekdays)
            (w.ordinal >= 0 ? placeFromStart : placeFromEnd)[size_t(w.weekday)].set(size_t(std::abs(w.ordinal)));
    }

    // Whether BYSETPOS asks only for places beyond the most candidates a
    // period can hold (so that no period gives any).
    bool positionsOutOfReach() const
    {
        if (setPositions.isEmpty()) return false;
        auto n = [](const Numbers &list) { return std::max<qint64>(1, list.size()); };
        qint64 most = 1;
        switch (freq) {
        case Freq::Secondly: break;
        case Freq::Minutely: most = n(seconds); break;
        case Freq::Hourly: most = n(minutes) * n(seconds); break;
        default:
            most = n(hours) * n(minutes) * n(seconds)
                   * (freq == Freq::Weekly ? 7 : freq == Freq::Monthly ? 31 : freq == Freq::Yearly ? 366 : 1);
        }
        for (int p : setPositions)
            if (std::abs(p) <= most) return false;
        return true;
    }

    // First day of week number one of year y: the week (from weekStart) that
    // holds at least four days of the year.
    qint64 weekOneStart(qint64 y) const
    {
        const qint64 jan1 = daysFromCivil(y, 1, 1);
        const int before = (weekdayOf(jan1) - weekStart + 7) % 7;
        return jan1 - before + (7 - before < 4 ? 7 : 0);
    }

    // A yearly period holds the days of its calendar year. Its first days
    // may lie in the last week of the year before, its last days in week 1
    // of the next. Each day answers to its week's number counted from the
    // start and from the end of the year that week belongs to: a December
    // day of the next year's week 1 also to -53 or -52, as that year has 53
    // or 52 weeks. It stays a day of its calendar year's period, which a
    // rule with an interval above 1 may skip.
    bool weekNumberMatches(const Day &d) const
    {
        qint64 weekOne = weekOneStart(d.year), nextWeekOne = weekOneStart(d.year + 1);
        if (d.day < weekOne) {
            nextWeekOne = weekOne;
            weekOne = weekOneStart(d.year - 1);
        } else if (d.day >= nextWeekOne) {
            weekOne = nextWeekOne;
            nextWeekOne = weekOneStart(d.year + 2);
        }
        const qint64 number = (d.day - weekOne) / 7 + 1, weeks = (nextWeekOne - weekOne) / 7;
        return weekFromStart[size_t(number)] || weekFromEnd[size_t(weeks + 1 - number)];
    }

    // Whether a day passes every day-level part (the ones that limit).
    bool dayMatches(const Day &d) const
    {
        if (!months.isEmpty() && !monthSet[size_t(d.month)]) return false;
        if (!monthDays.isEmpty() && !monthDayFromStart[size_t(d.monthDay)]
            && !monthDayFromEnd[size_t(d.monthLength - d.monthDay + 1)])
            return false;
        if (!yearDays.isEmpty() && !yearDayFromStart[size_t(d.yearDay)] && !yearDayFromEnd[size_t(d.yearLength - d.yearDay + 1)])
            return false;
        if (!weekNumbers.isEmpty() && !weekNumberMatches(d)) return false;
        if (!weekdays.isEmpty()) {
            const bool inMonth = ordinalsInMonth();
            const int place = inMonth ? (d.monthDay - 1) / 7 + 1 : (d.yearDay - 1) / 7 + 1;
            const int toEnd = inMonth ? (d.monthLength - d.monthDay) / 7 + 1 : (d.yearLength - d.yearDay) / 7 + 1;
            const std::bitset<54> &fromStart = placeFromStart[size_t(d.weekday)];
            if (!fromStart[0] && !fromStart[size_t(place)] && !placeFromEnd[size_t(d.weekday)][size_t(toEnd)]) return false;
        }
        return true;
    }
};

using Days = QVarLengthArray<Day, 32>;

// Days of one month that the day parts can give, ascending (a superset: the
// caller still tests each with dayMatches).
void monthCandidates(const Rule &rule, qint64 y, int m, int defaultDay, Days &out)
{
    const int length = daysInMonth(y, m);
    const qint64 first = daysFromCivil(y, m, 1);
    const int firstWeekday = weekdayOf(first);
    std::bitset<32> days; // ascending and once each, in whatever order the parts name them
    if (!rule.monthDays.isEmpty()) {
        for (int md : rule.monthDays) {
            const int d = md > 0 ? md : length + md + 1;
            if (d >= 1 && d <= length) days.set(size_t(d));
        }
    } else if (!rule.weekdays.isEmpty()) {
        for (const WeekdayPart &w : rule.weekdays)
            for (int d = 1 + (w.weekday - firstWeekday + 7) % 7; d <= length; d += 7) days.set(size_t(d));
    } else if (defaultDay >= 1 && defaultDay <= length) {
        days.set(size_t(defaultDay));
    }
    // Each made from the month's first day, as dayOf() makes it.
    const int beforeMonth = int(first - daysFromCivil(y, 1, 1)), yearLength = isLeap(y) ? 366 : 365;
    for (int d = 1; d <= length; ++d)
        if (days[size_t(d)]) out.append({first + d - 1, y, m, d, (firstWeekday + d - 1) % 7, beforeMonth + d, length, yearLength});
}

// Days of one year that the day parts can give, ascending.
void yearCandidates(const Rule &rule, qint64 y, int startMonth, int startDay, Days &out)
{
    const int length = isLeap(y) ? 366 : 365;
    const qint64 jan1 = daysFromCivil(y, 1, 1);
    if (!rule.yearDays.isEmpty()) {
        QVarLengthArray<int, 32> days;
        for (int yd : rule.yearDays) {
            const int d = yd > 0 ? yd : length + yd + 1;
            if (d >= 1 && d <= length) days.append(d);
        }
        std::sort(days.begin(), days.end());
        days.erase(std::unique(days.begin(), days.end()), days.end());
        for (int d : days) out.append(dayOf(jan1 + d - 1));
    } else if (!rule.weekNumbers.isEmpty() || (rule.months.isEmpty() && rule.monthDays.isEmpty() && !rule.weekdays.isEmpty())) {
        for (int m = 1; m <= 12; ++m)
            for (int d = 1, n = daysInMonth(y, m); d <= n; ++d) out.append(dayOf(y, m, d));
    } else if (!rule.months.isEmpty() || !rule.monthDays.isEmpty()) {
        for (int m = 1; m <= 12; ++m)
            if (rule.months.isEmpty() || contains(rule.months, m)) monthCandidates(rule, y, m, startDay, out);
    } else if (startDay <= daysInMonth(y, startMonth)) {
        out.append(dayOf(y, startMonth, startDay));
    }
}

// Walks the candidates in ascending order and decides when the expansion ends.
class Expander
{
public:
    Expander(const QVariantMap &r, const VtrCalendarDate &start, const VtrCalendarDate &from,
             const VtrCalendarDate &to)
        : m_zone(start.timeZone()), m_offsets(start.timeZone())
    {
        m_count = r.value(QStringLiteral("count")).toInt();
        const std::optional<VtrCalendarDate> until = dateValue(r.value(QStringLiteral("until")));
        if (until && (to.isNull() || until->secsSinceEpoch() < to.secsSinceEpoch()))
            m_limit = until->secsSinceEpoch();
        else if (!to.isNull())
            m_limit = to.secsSinceEpoch();
        if (!from.isNull()) m_from = from.secsSinceEpoch();
        m_startSecs = start.secsSinceEpoch();
        m_lastSecs = m_startSecs;
        m_startLocal = m_startSecs + m_offsets.offsetAt(m_startSecs);
        // The start itself is tested against the window alone, not the until.
        if ((!m_from || m_startSecs >= *m_from) && (to.isNull() || m_startSecs <= to.secsSinceEpoch()))
            m_result.append(start);
        if ((r.contains(QStringLiteral("count")) && m_count == 1) || (m_limit && *m_limit <= m_startSecs)) m_done = true;
    }

    // The start's wall-clock time, in seconds counted as if the zone were GMT.
    qint64 startLocal() const { return m_startLocal; }
    bool done() const { return m_done; }

    // Before a period that begins at `local`: false once no candidate of it
    // or of any later period can come before the limit.
    bool beginPeriod(qint64 local)
    {
        if (m_done) return false;
        if (floorDiv(local, kSecsPerDay) > kLastDay) return finish();
        // No zone is more than a day off GMT.
        if (m_limit && local - kSecsPerDay > *m_limit) return finish();
        return true;
    }

    // A period that gave no candidate.
    bool emptyPeriod()
    {
        if (m_cycle > 0 && ++m_emptyRun >= m_cycle) return finish(); // none in a whole cycle: none ever
        return spend();
    }
    // The calendar repeats itself: after this many periods without a
    // candidate, no later period has one.
    void setCycle(qint64 periods) { m_cycle = periods; }

    // A wall-clock candidate; false ends the walk.
    bool offer(qint64 local)
    {
        if (m_done) return false;
        m_emptyRun = 0;
        if (floorDiv(local, kSecsPerDay) > kLastDay) return finish();
        const qint64 secs = m_offsets.localToUtc(local);
        if (m_limit && secs > *m_limit) return finish();
        if (secs <= m_lastSecs) return true; // before the start, the start itself, or an instant already given
        if (!spend()) return false;
        m_lastSecs = secs;
        if (!m_from || secs >= *m_from) {
            if (m_lastOnly)
                m_lastKept = secs;
            else
                m_result.append(VtrCalendarDate(QDateTime::fromSecsSinceEpoch(secs, Qt::UTC), m_zone));
        }
        if (m_count > 0 && ++m_counter == m_count) return finish();
        return true;
    }

    // Room for the expected number of results: `perDay` occurrences a day up
    // to the limit, no more than the count, never a huge allocation up front.
    void expect(double perDay)
    {
        double n = m_limit ? (double(*m_limit - m_startSecs) / double(kSecsPerDay) + 1) * perDay + 2 : 64;
        if (m_count > 0) n = std::min(n, double(m_count));
        if (!m_lastOnly) m_result.reserve(qsizetype(std::clamp(n, 1.0, 4096.0)));
    }

    bool budgetSpent() const { return m_budgetSpent; }
    // Only the last occurrence is wanted: the others are not kept.
    void keepLastOnly() { m_lastOnly = true; }

    // The last occurrence of a series every `stepDays` days at the start's
    // time, found without walking it; false when the series has no end.
    bool lastOfSteadySeries(qint64 stepDays)
    {
        if (m_done) return true;
        if (m_count <= 0 && !m_limit) return false;
        const qint64 step = stepDays * kSecsPerDay;
        auto at = [&](qint64 k) { return m_offsets.localToUtc(m_startLocal + k * step); };
        qint64 k = m_count > 0 ? m_count - 1 : LLONG_MAX;
        k = std::min(k, (kLastDay * kSecsPerDay - m_startLocal) / step);
        if (m_limit) {
            qint64 byLimit = floorDiv(*m_limit + m_offsets.offsetAt(*m_limit) - m_startLocal, step);
            while (byLimit > 0 && at(byLimit) > *m_limit) --byLimit;
            while (byLimit < k && at(byLimit + 1) <= *m_limit) ++byLimit;
            k = std::min(k, byLimit);
        }
        // A change of offset by a whole step or more (Samoa left out 30
        // December 2011) puts two steps on one instant, which the walk
        // counts once: such a series is walked.
        if (k > 0 && m_zone.hasTransitions()) {
            int offset = m_offsets.offsetAt(m_startSecs);
            for (const QTimeZone::OffsetData &t : m_zone.transitions(QDateTime::fromSecsSinceEpoch(m_startSecs, Qt::UTC),
                                                                       QDateTime::fromSecsSinceEpoch(at(k), Qt::UTC))) {
                if (std::abs(t.offsetFromUtc - offset) >= step) return false;
                offset = t.offsetFromUtc;
            }
        }
        if (k > 0) {
            const qint64 secs = at(k);
            if (!m_from || secs >= *m_from) m_lastKept = secs;
        }
        m_done = true;
        return true;
    }
    QList<VtrCalendarDate> result() const
    {
        if (!m_lastKept) return m_result;
        return {VtrCalendarDate(QDateTime::fromSecsSinceEpoch(*m_lastKept, Qt::UTC), m_zone)};
    }

private:
    bool spend()
    {
        if (m_done) return false;
        if (++m_steps > kMaxRecurrenceSteps) {
            m_budgetSpent = true;
            return finish();
        }
        return true;
    }
    bool finish()
    {
        m_done = true;
        return false;
    }

    QTimeZone m_zone;
    vtr::ZoneOffsets m_offsets;
    qint64 m_startSecs = 0, m_lastSecs = 0, m_startLocal = 0;
    std::optional<qint64> m_from, m_limit;
    int m_count = 0;
    int m_counter = 1; // the start is the first occurrence
    int m_steps = 0;
    qint64 m_cycle = 0, m_emptyRun = 0;
    bool m_done = false;
    bool m_budgetSpent = false;
    QList<VtrCalendarDate> m_result;
    bool m_lastOnly = false;
    std::optional<qint64> m_lastKept;
};

// The `n` candidates of one period, the i-th `at(i)`, ascending. BYSETPOS
// picks among them by place, and those before the start are passed over by
// place, without the others being made: a period of a rule that names every
// hour, minute and second of a year holds millions.
template<typename At>
bool offerPeriod(const Rule &rule, qint64 n, const At &at, Expander &x)
{
    if (n == 0) return x.emptyPeriod();
    if (rule.setPositions.isEmpty()) {
        // Those two days or more before the start come before it, whatever
        // the offsets: offered, one of them stands for all.
        qint64 first = 0, past = n;
        const qint64 early = x.startLocal() - 2 * kSecsPerDay;
        while (first < past) {
            const qint64 mid = first + (past - first) / 2;
            if (at(mid) < early) first = mid + 1;
            else past = mid;
        }
        if (first > 0 && !x.offer(at(first - 1))) return false;
        for (qint64 i = first; i < n; ++i)
            if (!x.offer(at(i))) return false;
        return true;
    }
    QVarLengthArray<qint64, 8> picked;
    for (int p : rule.setPositions) {
        const qint64 i = p > 0 ? p - 1 : n + p;
        if (i >= 0 && i < n) picked.append(i);
    }
    if (picked.isEmpty()) return x.emptyPeriod();
    std::sort(picked.begin(), picked.end());
    picked.erase(std::unique(picked.begin(), picked.end()), picked.end());
    for (qint64 i : picked)
        if (!x.offer(at(i))) return false;
    return true;
}

// Times of day (seconds) of a daily or longer rule: every hour, minute and
// second the rule names, the start's where it names none.
QVarLengthArray<int, 8> timesOfDay(const Rule &rule, int startTime)
{
    const Numbers hours = rule.hours.isEmpty() ? Numbers{startTime / 3600} : rule.hours;
    const Numbers minutes = rule.minutes.isEmpty() ? Numbers{startTime / 60 % 60} : rule.minutes;
    const Numbers seconds = rule.seconds.isEmpty() ? Numbers{startTime % 60} : rule.seconds;
    QVarLengthArray<int, 8> out;
    for (int h : hours)
        for (int m : minutes)
            for (int s : seconds) out.append(h * 3600 + m * 60 + s);
    return out;
}

// Weekdays, leap years and week numbers repeat every 400 years: 4800 months,
// 20871 weeks, 146097 days.
qint64 cycleOf(qint64 periodsIn400Years, qint64 interval) { return periodsIn400Years / std::gcd(periodsIn400Years, interval); }

void walkDays(const Rule &rule, Expander &x, const Day &start, int startTime)
{
    const QVarLengthArray<int, 8> times = timesOfDay(rule, startTime);
    const bool limits = rule.limitsDays();
    Days days, matching;
    const qint64 perDay = times.size();
    auto offerDays = [&]() {
        matching.clear();
        for (const Day &d : days)
            if (!limits || rule.dayMatches(d)) matching.append(d);
        return offerPeriod(rule, matching.size() * perDay,
                           [&](qint64 i) { return matching[i / perDay].day * kSecsPerDay + times[i % perDay]; }, x);
    };
    switch (rule.freq) {
    case Freq::Yearly:
        x.setCycle(cycleOf(400, rule.interval));
        x.expect(double(times.size()) / (365.0 * double(rule.interval)));
        for (qint64 y = start.year; y <= 9999 && x.beginPeriod(daysFromCivil(y, 1, 1) * kSecsPerDay); y += rule.interval) {
            days.clear();
            yearCandidates(rule, y, start.month, start.monthDay, days);
            if (!offerDays()) break;
        }
        break;
    case Freq::Monthly:
        x.setCycle(cycleOf(4800, rule.interval));
        x.expect(double(times.size()) / (30.0 * double(rule.interval)));
        for (qint64 index = start.year * 12 + start.month - 1;; index += rule.interval) {
            const qint64 y = floorDiv(index, 12);
            const int m = int(index - y * 12) + 1;
            if (y > 9999 || !x.beginPeriod(daysFromCivil(y, m, 1) * kSecsPerDay)) break;
            days.clear();
            if (rule.months.isEmpty() || contains(rule.months, m)) monthCandidates(rule, y, m, start.monthDay, days);
            if (!offerDays()) break;
        }
        break;
    case Freq::Weekly: {
        QVarLengthArray<int, 7> offsets; // days after the week's first day, ascending
        for (const WeekdayPart &w : rule.weekdays) offsets.append((w.weekday - rule.weekStart + 7) % 7);
        if (offsets.isEmpty()) offsets.append((start.weekday - rule.weekStart + 7) % 7);
        std::sort(offsets.begin(), offsets.end());
        offsets.erase(std::unique(offsets.begin(), offsets.end()), offsets.end());
        x.setCycle(cycleOf(20871, rule.interval));
        x.expect(double(offsets.size() * times.size()) / (7.0 * double(rule.interval)));
        for (qint64 week = start.day - (start.weekday - rule.weekStart + 7) % 7;
             x.beginPeriod(week * kSecsPerDay); week += 7 * rule.interval) {
            days.clear();
            for (int o : offsets) days.append(limits ? dayOf(week + o) : Day{week + o});
            if (!offerDays()) break;
        }
        break;
    }
    default: // daily
        x.setCycle(cycleOf(146097, rule.interval));
        x.expect(double(times.size()) / double(rule.interval));
        for (qint64 day = start.day; x.beginPeriod(day * kSecsPerDay); day += rule.interval) {
            days.clear();
            days.append(limits ? dayOf(day) : Day{day});
            if (!offerDays()) break;
        }
        break;
    }
}

// Hourly, minutely and secondly rules: periods of wall-clock time. Days and
// hours (and for a secondly rule minutes) that the limiting parts rule out are
// skipped whole.
void walkTimes(const Rule &rule, Expander &x, qint64 startLocal)
{
    const qint64 unit = rule.freq == Freq::Hourly ? 3600 : (rule.freq == Freq::Minutely ? 60 : 1);
    const qint64 step = unit * rule.interval;
    const qint64 first = floorDiv(startLocal, unit) * unit;
    const int startMinute = int(floorDiv(startLocal, 60) % 60 + 60) % 60;
    const int startSecond = int(startLocal - floorDiv(startLocal, 60) * 60);
    // Offsets within one period that the expanding parts give.
    QVarLengthArray<int, 8> inner;
    if (rule.freq == Freq::Hourly) {
        const Numbers minutes = rule.minutes.isEmpty() ? Numbers{startMinute} : rule.minutes;
        const Numbers seconds = rule.seconds.isEmpty() ? Numbers{startSecond} : rule.seconds;
        for (int m : minutes)
            for (int s : seconds) inner.append(m * 60 + s);
    } else if (rule.freq == Freq::Minutely) {
        for (int s : rule.seconds.isEmpty() ? Numbers{startSecond} : rule.seconds) inner.append(s);
    } else {
        inner.append(0);
    }
    x.expect(double(inner.size()) * double(kSecsPerDay) / double(step));
    // The first period at or after `local`.
    auto periodAtOrAfter = [&](qint64 local) { return first + ceilDiv(local - first, step) * step; };
    std::optional<Day> day;
    for (qint64 p = first; x.beginPeriod(p);) {
        const qint64 dayNumber = floorDiv(p, kSecsPerDay);
        if (!day || day->day != dayNumber) day = dayOf(dayNumber);
        const qint64 inDay = p - dayNumber * kSecsPerDay;
        qint64 skipTo = 0;
        if (!rule.dayMatches(*day))
            skipTo = (dayNumber + 1) * kSecsPerDay;
        else if (!rule.hours.isEmpty() && !contains(rule.hours, int(inDay / 3600)))
            skipTo = (floorDiv(p, 3600) + 1) * 3600;
        else if (rule.freq != Freq::Hourly && !rule.minutes.isEmpty() && !contains(rule.minutes, int(inDay / 60 % 60)))
            skipTo = (floorDiv(p, 60) + 1) * 60;
        else if (rule.freq == Freq::Secondly && !rule.seconds.isEmpty() && !contains(rule.seconds, int(inDay % 60)))
            skipTo = p + 1;
        if (skipTo) {
            if (!x.emptyPeriod()) break;
            p = periodAtOrAfter(skipTo);
            continue;
        }
        if (!offerPeriod(rule, inner.size(), [&](qint64 i) { return p + inner[i]; }, x)) break;
        p += step;
    }
}

} // namespace

QList<int> weekdayIndexesForNames(const QVariantList &names)
{
    QList<int> out;
    for (const QVariant &n : names) out.append(weekdayIndex(n.toString()));
    return out;
}

namespace {

RecurrenceExpansion expand(const QVariantMap &r, const VtrCalendarDate &start, const VtrCalendarDate &windowStart,
                           const VtrCalendarDate &windowEnd, bool lastOnly)
{
    if (start.isNull()) return {};
    const Rule rule(r);
    Expander x(r, start, windowStart, windowEnd);
    if (lastOnly) x.keepLastOnly();
    const bool steadyEnd = lastOnly && rule.steady() && x.lastOfSteadySeries(rule.interval * (rule.freq == Freq::Weekly ? 7 : 1));
    if (!steadyEnd && !x.done() && rule.freq != Freq::None && !rule.positionsOutOfReach()) {
        const qint64 local = x.startLocal();
        const qint64 dayNumber = floorDiv(local, kSecsPerDay);
        if (rule.freq == Freq::Secondly || rule.freq == Freq::Minutely || rule.freq == Freq::Hourly)
            walkTimes(rule, x, local);
        else
            walkDays(rule, x, dayOf(dayNumber), int(local - dayNumber * kSecsPerDay));
    }
    return {x.result(), rule.understood && !x.budgetSpent()};
}

} // namespace

RecurrenceExpansion expandRecurrenceChecked(const QVariantMap &recurrence, const VtrCalendarDate &start,
                                            const VtrCalendarDate &windowStart, const VtrCalendarDate &windowEnd)
{
    return expand(recurrence, start, windowStart, windowEnd, false);
}

RecurrenceExpansion lastRecurrence(const QVariantMap &recurrence, const VtrCalendarDate &start,
                                   const VtrCalendarDate &windowStart, const VtrCalendarDate &windowEnd)
{
    return expand(recurrence, start, windowStart, windowEnd, true);
}

QList<VtrCalendarDate> expandRecurrence(const QVariantMap &recurrence, const VtrCalendarDate &start,
                                        const VtrCalendarDate &windowStart, const VtrCalendarDate &windowEnd)
{
    return expandRecurrenceChecked(recurrence, start, windowStart, windowEnd).dates;
}

QList<VtrCalendarDate> expandRecurrenceDefaultWindow(const QVariantMap &recurrence, const VtrCalendarDate &start)
{
    const VtrCalendarDate now(QDateTime::currentDateTimeUtc(), start.isNull() ? vtr::utcTimeZone() : start.timeZone());
    return expandRecurrence(recurrence, start, VtrCalendarDate(), now.dateByAddingYears(3, 0, 0, 0, 0, 0));
}
