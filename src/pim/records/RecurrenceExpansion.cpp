#include "RecurrenceExpansion.h"

#include "STDate.h"
#include "STRecord.h"

#include <QDate>
#include <QDateTime>

#include <algorithm>
#include <climits>
#include <optional>
#include <vector>

namespace {

constexpr int kNotFound = INT_MAX;

qint64 floorDiv(qint64 a, qint64 b)
{
    qint64 q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
    return q;
}

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
        return VtrCalendarDate(v.toDateTime(), QTimeZone::utc());
    }
    return std::nullopt;
}

QList<int> sortedUnique(QList<int> values)
{
    std::sort(values.begin(), values.end());
    values.erase(std::unique(values.begin(), values.end()), values.end());
    return values;
}

QList<int> intList(const QVariant &v)
{
    QList<int> out;
    for (const QVariant &x : v.toList()) out.append(x.toInt());
    return out;
}

int daysIn(int year, int month)
{
    return QDate(year, month, 1).daysInMonth();
}

constexpr qint64 kSecsPerDay = 86400;
constexpr qint64 kUnixEpochJulianDay = 2440588;
// Julian day of 1 January 10000: no candidate lies beyond it.
constexpr qint64 kLastJulianDay = 5373484;

// Offsets of one zone from UTC, each looked up once per stretch between two
// transitions and kept per thread for the zone last used, so that expanding
// many rules of one calendar asks the zone database only a few times.
// localToUtc() reads a wall-clock time exactly as
// VtrCalendarDate::fromComponents() does (a time in a daylight-saving gap
// moves forward by the gap, a repeated time takes its first occurrence).
class ZoneOffsets
{
public:
    explicit ZoneOffsets(const QTimeZone &zone) : m_zone(zone), m_utc(!zone.isValid() || zone == QTimeZone::utc())
    {
        if (m_utc) return;
        Cache &cache = threadCache();
        const QByteArray id = zone.id();
        if (cache.id != id || cache.stretches.size() > kMaxStretches) {
            cache.id = id;
            cache.stretches.clear();
            cache.last = 0;
        }
    }

    int offsetAt(qint64 utc)
    {
        if (m_utc) return 0;
        Cache &cache = threadCache();
        std::vector<Stretch> &v = cache.stretches;
        if (cache.last < v.size() && v[cache.last].from <= utc && utc < v[cache.last].to)
            return v[cache.last].offset;
        auto it = std::upper_bound(v.begin(), v.end(), utc, [](qint64 t, const Stretch &s) { return t < s.from; });
        if (it != v.begin() && utc < std::prev(it)->to) {
            cache.last = size_t(std::prev(it) - v.begin());
            return std::prev(it)->offset;
        }
        const QDateTime t = QDateTime::fromSecsSinceEpoch(utc, Qt::UTC);
        Stretch s{LLONG_MIN, LLONG_MAX, m_zone.offsetFromUtc(t)};
        const QTimeZone::OffsetData before = m_zone.previousTransition(t.addSecs(1));
        const QTimeZone::OffsetData after = m_zone.nextTransition(t);
        if (before.atUtc.isValid()) s.from = before.atUtc.toSecsSinceEpoch();
        if (after.atUtc.isValid()) s.to = after.atUtc.toSecsSinceEpoch();
        cache.last = size_t(v.insert(it, s) - v.begin());
        return s.offset;
    }

    qint64 localToUtc(qint64 local)
    {
        const int before = offsetAt(local - kSecsPerDay);
        const int after = offsetAt(local + kSecsPerDay);
        std::optional<qint64> best;
        for (int o : {before, after}) {
            const qint64 u = local - o;
            if (offsetAt(u) == o && (!best || u < *best)) best = u;
        }
        return best ? *best : local - before;
    }

private:
    struct Stretch
    {
        qint64 from, to;
        int offset;
    };
    struct Cache
    {
        QByteArray id;
        std::vector<Stretch> stretches; // sorted, not overlapping
        size_t last = 0;
    };
    static constexpr size_t kMaxStretches = 4096;
    static Cache &threadCache()
    {
        thread_local Cache cache;
        return cache;
    }
    QTimeZone m_zone;
    bool m_utc;
};

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
        const qint64 local = m_startSecs + m_offsets.offsetAt(m_startSecs);
        m_startDay = floorDiv(local, kSecsPerDay) + kUnixEpochJulianDay;
        m_timeOfDay = local - floorDiv(local, kSecsPerDay) * kSecsPerDay;
        // The start itself is tested against the window alone, not the until.
        if ((!m_from || m_startSecs >= *m_from) && (to.isNull() || m_startSecs <= to.secsSinceEpoch()))
            m_result.append(start);
    }

    bool finishedAtOnce(const QVariantMap &r) const
    {
        return (r.contains(QStringLiteral("count")) && m_count == 1) || (m_limit && *m_limit == m_startSecs);
    }

    // A period (a week, month or year) looked at; false when the step budget
    // is spent.
    bool period()
    {
        if (++m_steps > kMaxRecurrenceSteps) m_done = true;
        return !m_done;
    }

    // The local day (a Julian day number) at the start's time of day; false
    // ends the walk.
    bool offer(qint64 julianDay)
    {
        if (m_done || ++m_steps > kMaxRecurrenceSteps || julianDay > kLastJulianDay) return finish();
        const qint64 secs =
            m_offsets.localToUtc((julianDay - kUnixEpochJulianDay) * kSecsPerDay + m_timeOfDay);
        if (m_limit && secs > *m_limit) return finish();
        if (secs <= m_startSecs) return true; // before the start, or the start itself (already counted)
        if (!m_from || secs >= *m_from) {
            m_result.append(VtrCalendarDate(QDateTime::fromSecsSinceEpoch(secs, Qt::UTC), m_zone));
        }
        if (m_count > 0 && ++m_counter == m_count) return finish();
        return true;
    }
    bool offer(int year, int month, int day) { return offer(QDate(year, month, day).toJulianDay()); }

    // Room for the expected number of results: `perDay` occurrences a day up
    // to the limit, no more than the count, never a huge allocation up front.
    void expect(double perDay)
    {
        double n = m_limit ? (double(*m_limit - m_startSecs) / double(kSecsPerDay) + 1) * perDay + 2 : 64;
        if (m_count > 0) n = std::min(n, double(m_count));
        m_result.reserve(qsizetype(std::clamp(n, 1.0, 4096.0)));
    }

    bool done() const { return m_done; }
    // The start's day as shown in its zone (a Julian day number).
    qint64 startDay() const { return m_startDay; }
    QList<VtrCalendarDate> result() const { return m_result; }

private:
    bool finish()
    {
        m_done = true;
        return false;
    }

    QTimeZone m_zone;
    ZoneOffsets m_offsets;
    qint64 m_timeOfDay = 0;
    qint64 m_startDay = 0;
    qint64 m_startSecs = 0;
    std::optional<qint64> m_from, m_limit;
    int m_count = 0;
    int m_counter = 1; // the start is the first occurrence
    int m_steps = 0;
    bool m_done = false;
    QList<VtrCalendarDate> m_result;
};

// The days of one month that a weekday rule picks, ascending.
QList<int> weekdayDays(int year, int month, const QList<int> &weekdays, const QList<int> &ordinals)
{
    const int length = daysIn(year, month);
    const int firstWeekday = QDate(year, month, 1).dayOfWeek() % 7; // 0 = Sunday
    QList<int> days;
    for (int i = 0; i < weekdays.size(); ++i) {
        const int first = 1 + (weekdays.at(i) - firstWeekday + 7) % 7;
        const int n = i < ordinals.size() ? ordinals.at(i) : 0;
        if (n == 0) {
            for (int d = first; d <= length; d += 7) days.append(d);
        } else if (n > 0) {
            const int d = first + 7 * (n - 1);
            if (d <= length) days.append(d);
        } else {
            const int last = first + 7 * ((length - first) / 7);
            const int d = last + 7 * (n + 1);
            if (d >= 1) days.append(d);
        }
    }
    return sortedUnique(days);
}

QList<int> monthDays(int year, int month, const QList<int> &monthdays)
{
    const int length = daysIn(year, month);
    QList<int> days;
    for (int d : monthdays) {
        const int day = d < 0 ? length + d + 1 : d;
        if (day >= 1 && day <= length) days.append(day);
    }
    return sortedUnique(days);
}

} // namespace

QList<int> weekdayIndexesForNames(const QVariantList &names)
{
    static const char *const kNames[] = {"sunday", "monday", "tuesday", "wednesday", "thursday", "friday", "saturday"};
    QList<int> out;
    for (const QVariant &n : names) {
        int index = kNotFound;
        for (int i = 0; i < 7; ++i)
            if (n.toString() == QLatin1String(kNames[i])) index = i;
        out.append(index);
    }
    return out;
}

QList<VtrCalendarDate> expandRecurrence(const QVariantMap &r, const VtrCalendarDate &start,
                                        const VtrCalendarDate &windowStart, const VtrCalendarDate &windowEnd)
{
    if (start.isNull()) return {};
    Expander x(r, start, windowStart, windowEnd);
    if (x.finishedAtOnce(r)) return x.result();
    const int interval = std::max(1, r.value(QStringLiteral("interval")).toInt());
    const QString frequency = r.value(QStringLiteral("frequency")).toString();
    const qint64 jd0 = x.startDay();
    const QDate day0 = QDate::fromJulianDay(jd0);
    const int y0 = day0.year(), m0 = day0.month(), d0 = day0.day();
    const int weekday0 = day0.dayOfWeek() % 7; // 0 = Sunday

    // Weekday rule parts: names that are no weekday are dropped with their week number.
    QList<int> weekdays, ordinals;
    {
        const QList<int> indexes = weekdayIndexesForNames(r.value(QStringLiteral("bydaydays")).toList());
        const QList<int> weeks = intList(r.value(QStringLiteral("bydayfreq")));
        for (int i = 0; i < indexes.size(); ++i) {
            if (indexes.at(i) == kNotFound) continue;
            weekdays.append(indexes.at(i));
            ordinals.append(i < weeks.size() ? weeks.at(i) : 0);
        }
    }

    if (frequency == QLatin1String("daily")) {
        x.expect(1.0 / interval);
        for (qint64 n = interval; x.offer(jd0 + n); n += interval) {}
    } else if (frequency == QLatin1String("weekly")) {
        QList<int> days = sortedUnique(weekdays);
        if (days.isEmpty()) days.append(weekday0);
        x.expect(double(days.size()) / (7.0 * interval));
        const qint64 sunday = jd0 - weekday0;
        for (qint64 week = 0; !x.done() && x.period(); week += 7 * qint64(interval)) {
            for (int wd : days)
                if (!x.offer(sunday + week + wd)) break;
        }
    } else if (frequency == QLatin1String("monthly") || frequency == QLatin1String("yearly")) {
        const bool yearly = frequency == QLatin1String("yearly");
        QList<int> monthdays = intList(r.value(QStringLiteral("bymonthday")));
        if (monthdays.isEmpty()) monthdays.append(d0);
        QList<int> months = sortedUnique(intList(r.value(QStringLiteral("bymonth"))));
        months.removeIf([](int m) { return m < 1 || m > 12; });
        if (months.isEmpty()) months.append(m0);
        const double perMonth = weekdays.isEmpty() ? monthdays.size() : 5.0 * weekdays.size();
        x.expect(perMonth * (yearly ? months.size() / 12.0 : 1.0) / (30.0 * interval));
        for (qint64 period = 0; !x.done() && x.period(); period += interval) {
            const QList<int> inPeriod = yearly ? months : QList<int>{0};
            for (int pm : inPeriod) {
                const qint64 monthIndex = yearly ? (y0 + period) * 12 + (pm - 1) : qint64(y0) * 12 + (m0 - 1) + period;
                const qint64 year = monthIndex / 12;
                const int month = int(monthIndex % 12) + 1;
                if (year > 9999) {
                    x.offer(kLastJulianDay + 1); // past every limit: ends the walk
                    break;
                }
                const QList<int> days = weekdays.isEmpty() ? monthDays(int(year), month, monthdays)
                                                           : weekdayDays(int(year), month, weekdays, ordinals);
                for (int d : days)
                    if (!x.offer(int(year), month, d)) break;
                if (x.done()) break;
            }
        }
    }
    return x.result();
}

QList<VtrCalendarDate> expandRecurrenceDefaultWindow(const QVariantMap &recurrence, const VtrCalendarDate &start)
{
    const VtrCalendarDate now(QDateTime::currentDateTimeUtc(), start.isNull() ? QTimeZone::utc() : start.timeZone());
    return expandRecurrence(recurrence, start, VtrCalendarDate(), now.dateByAddingYears(3, 0, 0, 0, 0, 0));
}
