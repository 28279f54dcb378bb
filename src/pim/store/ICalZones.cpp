#include "pim/store/ICalZones.h"

#include "foundation/VtrCalendarDate.h"

#include <QCalendar>
#include <QCryptographicHash>
#include <QDateTime>
#include <QHash>
#include <QMutex>
#include <QMutexLocker>

#include <libical/ical.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <functional>
#include <limits>
#include <memory>
#include <numeric>
#include <optional>
#include <tuple>
#include <vector>

namespace {

constexpr qint64 kDay = 86400;
constexpr qint64 kYear = 365 * kDay;
// Transitions closer than this count as the same (23:59:59 against 00:00).
constexpr qint64 kSlack = 61;

int libicalOffset(icaltimezone *zone, qint64 utc)
{
    icaltimetype t = icaltime_from_timet_with_zone(time_t(utc), 0, icaltimezone_get_utc_timezone());
    int daylight = 0;
    return icaltimezone_get_utc_offset_of_utc_time(zone, &t, &daylight);
}

// The offsets libical computes for the VTIMEZONE from `from` to `to`: the
// offset at `from`, then each change with the instant it takes effect.
struct Change
{
    qint64 at;
    int offset;
};

// No zone changes its offset more often than this in the four years a zone
// is matched over (an IANA zone changes it a few times a year at most):
// rules that change it daily or hourly match none, and the looking ends.
constexpr size_t kMostChanges = 64;

// The offset libical gives a zone at an instant (seconds since 1970 UTC).
using OffsetAt = std::function<int(qint64)>;

std::vector<Change> changesOf(const OffsetAt &offsetAt, qint64 from, qint64 to)
{
    constexpr qint64 kStep = 6 * 3600;
    std::vector<Change> out{{from, offsetAt(from)}};
    for (qint64 t = from + kStep; t <= to && out.size() <= kMostChanges; t += kStep) {
        const int offset = offsetAt(t);
        if (offset == out.back().offset) continue;
        qint64 low = t - kStep, high = t; // offset changes in (low, high]
        while (high - low > 1) {
            const qint64 mid = low + (high - low) / 2;
            (offsetAt(mid) == offset ? high : low) = mid;
        }
        out.push_back({high, offset});
    }
    return out;
}

// The part of `changes` (computed from an earlier instant on the same 6-hour
// grid, to a later one) from `from` to `to`: what changesOf() would give for
// them, without asking libical again.
std::vector<Change> changesWithin(const std::vector<Change> &changes, qint64 from, qint64 to)
{
    std::vector<Change> out{{from, changes.front().offset}};
    for (const Change &c : changes) {
        if (c.at <= from)
            out.front().offset = c.offset;
        else if (c.at <= to)
            out.push_back(c);
    }
    return out;
}

// Whether `zone` has the offsets of `changes` everywhere between `from` and
// `to` (a few seconds around each change aside).
bool sameOffsets(const QTimeZone &zone, const std::vector<Change> &changes, qint64 from, qint64 to)
{
    auto offsetAt = [&](qint64 t) { return zone.offsetFromUtc(QDateTime::fromSecsSinceEpoch(t, Qt::UTC)); };
    for (size_t i = 0; i < changes.size(); ++i) {
        const qint64 begin = i == 0 ? from : changes[i].at + kSlack;
        const qint64 end = i + 1 < changes.size() ? changes[i + 1].at - kSlack : to;
        if (begin > end) continue;
        if (offsetAt(begin) != changes[i].offset || offsetAt(end) != changes[i].offset) return false;
        // No change of the zone's own in between.
        const QTimeZone::OffsetData next = zone.nextTransition(QDateTime::fromSecsSinceEpoch(begin, Qt::UTC));
        if (next.atUtc.isValid() && next.atUtc.toSecsSinceEpoch() < end) {
            for (qint64 t = next.atUtc.toSecsSinceEpoch(); t < end; t += kDay)
                if (offsetAt(t) != changes[i].offset) return false;
        }
    }
    return true;
}

std::optional<QTimeZone> ianaZoneLike(const std::vector<Change> &changes, qint64 from, qint64 to)
{
    const QTimeZone preferred = vtr::defaultTimeZone();
    if (preferred.isValid() && sameOffsets(preferred, changes, from, to)) return preferred;
    // The zones that stand for a Windows zone first (Europe/Berlin before
    // Africa/Ceuta), then the others; each group in name order.
    // Made once per thread: a zone's data are read from its file.
    thread_local const QList<QTimeZone> zones = [] {
        QList<QTimeZone> first, then;
        for (const QByteArray &id : QTimeZone::availableTimeZoneIds()) {
            if (!id.contains('/') || id.startsWith("Etc/")) continue;
            const QByteArray windows = QTimeZone::ianaIdToWindowsId(id);
            (!windows.isEmpty() && QTimeZone::windowsIdToDefaultIanaId(windows) == id ? first : then).append(QTimeZone(id));
        }
        return first + then;
    }();
    const QDateTime probe = QDateTime::fromSecsSinceEpoch(from, Qt::UTC);
    for (const QTimeZone &candidate : zones) {
        if (candidate.offsetFromUtc(probe) != changes.front().offset) continue;
        if (sameOffsets(candidate, changes, from, to)) return candidate;
    }
    return std::nullopt;
}

// ---- the file's rules as a POSIX TZ rule

QByteArray posixOffset(int seconds) // of local time from UTC, written the POSIX way round
{
    const int s = -seconds;
    const int a = std::abs(s);
    QByteArray out = s < 0 ? "-" : "";
    out += QByteArray::number(a / 3600);
    if (a % 3600) out += ':' + QByteArray::number(a / 60 % 60).rightJustified(2, '0');
    if (a % 60) out += ':' + QByteArray::number(a % 60).rightJustified(2, '0');
    return out;
}

QByteArray posixName(int seconds)
{
    const int a = std::abs(seconds);
    QByteArray out = "<";
    out += seconds < 0 ? '-' : '+';
    out += QByteArray::number(a / 3600).rightJustified(2, '0');
    if (a % 3600) out += QByteArray::number(a / 60 % 60).rightJustified(2, '0');
    return out + '>';
}

struct Observance
{
    icaltimetype start; // local, in the offset before it
    int offsetFrom = 0, offsetTo = 0;
    std::optional<icalrecurrencetype> rule;
    bool daylight = false;
};

// "Mm.w.d/hh:mm:ss" or "Jn/hh:mm:ss" of a yearly rule; empty when POSIX
// cannot say it.
QByteArray posixDate(const Observance &o)
{
    const icalrecurrencetype &r = *o.rule;
    if (r.freq != ICAL_YEARLY_RECURRENCE || r.interval > 1 || r.by_month[0] == ICAL_RECURRENCE_ARRAY_MAX
        || r.by_month[1] != ICAL_RECURRENCE_ARRAY_MAX || r.by_set_pos[0] != ICAL_RECURRENCE_ARRAY_MAX)
        return {};
    const int month = icalrecurrencetype_month_month(r.by_month[0]);
    QByteArray date;
    const bool oneDay = r.by_day[0] != ICAL_RECURRENCE_ARRAY_MAX && r.by_day[1] == ICAL_RECURRENCE_ARRAY_MAX;
    if (oneDay) {
        const int weekday = int(icalrecurrencetype_day_day_of_week(r.by_day[0])) - 1; // 0 = Sunday
        int week = icalrecurrencetype_day_position(r.by_day[0]);
        if (week == 0 && r.by_month_day[0] != ICAL_RECURRENCE_ARRAY_MAX) {
            // Seven days in a row from day 1, 8, 15 or 22, or the last seven.
            QList<int> days;
            for (int i = 0; i < ICAL_BY_MONTHDAY_SIZE && r.by_month_day[i] != ICAL_RECURRENCE_ARRAY_MAX; ++i)
                days.append(r.by_month_day[i]);
            std::sort(days.begin(), days.end());
            if (days.size() != 7 || days.last() - days.first() != 6) return {};
            if (days.first() == -7) week = 5;
            else if (days.first() > 0 && (days.first() - 1) % 7 == 0) week = (days.first() - 1) / 7 + 1;
            else return {};
        } else if (r.by_month_day[0] != ICAL_RECURRENCE_ARRAY_MAX) {
            return {};
        }
        if (week == -1) week = 5;
        if (week < 1 || week > 5) return {};
        date = 'M' + QByteArray::number(month) + '.' + QByteArray::number(week) + '.' + QByteArray::number(weekday);
    } else if (r.by_day[0] == ICAL_RECURRENCE_ARRAY_MAX && r.by_month_day[0] > 0
               && r.by_month_day[1] == ICAL_RECURRENCE_ARRAY_MAX) {
        // A fixed day: counted in a common year, as "Jn" does.
        static const int before[] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
        if (month == 2 && r.by_month_day[0] > 28) return {};
        date = 'J' + QByteArray::number(before[month - 1] + r.by_month_day[0]);
    } else {
        return {};
    }
    return date + '/' + QByteArray::number(o.start.hour) + ':' + QByteArray::number(o.start.minute).rightJustified(2, '0')
           + ':' + QByteArray::number(o.start.second).rightJustified(2, '0');
}

std::optional<QTimeZone> posixZone(icaltimezone *zone, qint64 near)
{
    icalcomponent *vtimezone = icaltimezone_get_component(zone);
    if (!vtimezone) return std::nullopt;
    const icaltimetype nearLocal = icaltime_from_timet_with_zone(time_t(near), 0, icaltimezone_get_utc_timezone());
    // The observance of each kind in effect near the time: the latest one
    // begun before it whose rule has not ended.
    std::optional<Observance> standard, daylight;
    for (icalcomponent *c = icalcomponent_get_first_component(vtimezone, ICAL_ANY_COMPONENT); c;
         c = icalcomponent_get_next_component(vtimezone, ICAL_ANY_COMPONENT)) {
        const icalcomponent_kind kind = icalcomponent_isa(c);
        if (kind != ICAL_XSTANDARD_COMPONENT && kind != ICAL_XDAYLIGHT_COMPONENT) continue;
        Observance o;
        o.daylight = kind == ICAL_XDAYLIGHT_COMPONENT;
        o.start = icalcomponent_get_dtstart(c);
        icalproperty *from = icalcomponent_get_first_property(c, ICAL_TZOFFSETFROM_PROPERTY);
        icalproperty *to = icalcomponent_get_first_property(c, ICAL_TZOFFSETTO_PROPERTY);
        if (icaltime_is_null_time(o.start) || !from || !to) continue;
        o.offsetFrom = icalproperty_get_tzoffsetfrom(from);
        o.offsetTo = icalproperty_get_tzoffsetto(to);
        if (icalproperty *rr = icalcomponent_get_first_property(c, ICAL_RRULE_PROPERTY)) o.rule = icalproperty_get_rrule(rr);
        if (icaltime_compare(o.start, nearLocal) > 0) continue;
        if (o.rule && !icaltime_is_null_time(o.rule->until) && icaltime_compare(o.rule->until, nearLocal) < 0) continue;
        std::optional<Observance> &slot = o.daylight ? daylight : standard;
        if (!slot || icaltime_compare(slot->start, o.start) < 0) slot = o;
    }
    if (!standard) return std::nullopt;
    if (!daylight) return vtr::timeZoneWithOffset(standard->offsetTo); // one offset all year
    if (!daylight->rule || !standard->rule) return std::nullopt;      // changes on listed dates only
    const QByteArray toDaylight = posixDate(*daylight), toStandard = posixDate(*standard);
    if (toDaylight.isEmpty() || toStandard.isEmpty()) return std::nullopt;
    const QByteArray rule = posixName(standard->offsetTo) + posixOffset(standard->offsetTo) + posixName(daylight->offsetTo)
                            + posixOffset(daylight->offsetTo) + ',' + toDaylight + ',' + toStandard;
    const QTimeZone z(rule);
    if (!z.isValid()) return std::nullopt;
    return z;
}

// ---- a zone's rules over a few years

// libical reads no change after this year (its ICALTIMEZONE_MAX_YEAR): a
// zone's offsets after it are those at its end.
constexpr int kLastYearRead = 2582;
// Zones are matched from the first year of the Gregorian calendar on.
constexpr int kFirstMatchedYear = 1583;
// What reading a file's zones may take: a base and some for each byte of the
// file, in libical's steps (a few microseconds each); matching a zone for a
// year takes a few milliseconds.
constexpr double kBaseSteps = 50000;
constexpr double kStepsPerByte = 10;
constexpr double kMatchSteps = 1000;
// A span is exact over the years of a decade, two before it and five after
// it: the years around a date that its zone is looked up for (see read()).
constexpr int kSpanYears = 10;

// How far a recurring observance's DTSTART may move on, a whole number of
// times, and give the same changes from there on: whole periods of its
// frequency and interval. None for a rule with COUNT (counted from the
// DTSTART) or of another calendar.
struct Step
{
    qint64 years = 0, days = 0; // one of them
};

std::optional<Step> stepOf(const icalrecurrencetype &r)
{
    if (r.count > 0 || r.rscale) return std::nullopt;
    const qint64 n = std::max<qint64>(1, r.interval);
    switch (r.freq) {
    case ICAL_YEARLY_RECURRENCE: return Step{n, 0};
    case ICAL_MONTHLY_RECURRENCE: return Step{std::lcm(n, qint64(12)) / 12, 0};
    case ICAL_WEEKLY_RECURRENCE: return Step{0, 7 * n};
    case ICAL_DAILY_RECURRENCE: return Step{0, n};
    case ICAL_HOURLY_RECURRENCE: return Step{0, std::lcm(3600 * n, kDay) / kDay};
    case ICAL_MINUTELY_RECURRENCE: return Step{0, std::lcm(60 * n, kDay) / kDay};
    case ICAL_SECONDLY_RECURRENCE: return Step{0, std::lcm(n, kDay) / kDay};
    default: return std::nullopt;
    }
}

// ---- what libical's reading of a rule costs

// libical's recurrence iterator takes a step of some microseconds for each
// candidate a rule's parts give in a period of its frequency, and for a
// period that gives none; a year of a yearly rule takes a few. A rule whose
// parts are never met (the 30th of February) steps on to its UNTIL, or to
// libical's last year. So the steps a rule may take over some years are
// reckoned, generously, from its frequency and parts before libical is
// given it.
double stepsPerYear(const icalrecurrencetype &r)
{
    const auto size = [](const short *list, int most) {
        int n = 0;
        while (n < most && list[n] != ICAL_RECURRENCE_ARRAY_MAX) ++n;
        return double(n);
    };
    const double months = size(r.by_month, ICAL_BY_MONTH_SIZE), monthDays = size(r.by_month_day, ICAL_BY_MONTHDAY_SIZE),
                 yearDays = size(r.by_year_day, ICAL_BY_YEARDAY_SIZE), weeks = size(r.by_week_no, ICAL_BY_WEEKNO_SIZE);
    double weekdays = 0; // the days of a month they name
    for (int i = 0; i < ICAL_BY_DAY_SIZE && r.by_day[i] != ICAL_RECURRENCE_ARRAY_MAX; ++i)
        weekdays += icalrecurrencetype_day_position(r.by_day[i]) == 0 ? 5 : 1;
    const double perMonth = monthDays > 0 ? monthDays : weekdays;
    double periods = 0, candidates = 1, own = 0;
    switch (r.freq) {
    case ICAL_YEARLY_RECURRENCE:
        periods = 1;
        own = 3;
        if (yearDays > 0) candidates = yearDays;
        else if (weeks > 0) candidates = weeks * 7;
        else if (perMonth > 0) candidates = (months > 0 ? months : 12) * perMonth;
        else candidates = std::max(months, 1.0);
        candidates = std::min(candidates, 366.0);
        break;
    case ICAL_MONTHLY_RECURRENCE: periods = 12; candidates = std::clamp(perMonth, 1.0, 31.0); break;
    case ICAL_WEEKLY_RECURRENCE: periods = 53; candidates = std::clamp(size(r.by_day, ICAL_BY_DAY_SIZE), 1.0, 7.0); break;
    case ICAL_DAILY_RECURRENCE: periods = 366; break;
    case ICAL_HOURLY_RECURRENCE: periods = 366.0 * 24; break;
    case ICAL_MINUTELY_RECURRENCE: periods = 366.0 * 1440; break;
    case ICAL_SECONDLY_RECURRENCE: periods = 366.0 * 86400; break;
    default: return 0;
    }
    // Times of day that a coarser rule adds to each of its days.
    if (r.freq > ICAL_HOURLY_RECURRENCE) candidates *= std::max(size(r.by_hour, ICAL_BY_HOUR_SIZE), 1.0);
    if (r.freq > ICAL_MINUTELY_RECURRENCE) candidates *= std::max(size(r.by_minute, ICAL_BY_MINUTE_SIZE), 1.0);
    if (r.freq > ICAL_SECONDLY_RECURRENCE) candidates *= std::max(size(r.by_second, ICAL_BY_SECOND_SIZE), 1.0);
    return periods / std::max(1, int(r.interval)) * (candidates + own);
}

// The steps of reading a rule from the year `from` to the year `to`.
double stepsOf(const icalrecurrencetype &r, int from, int to) { return std::max(0, to - from + 1) * stepsPerYear(r); }

// The most steps one observance's rule is read with (a tenth of a second or
// so): a yearly rule from year 1 to libical's last year takes far fewer, a
// daily one some decades, an hourly one a few years.
constexpr double kMostRuleSteps = 25000;

// Days as libical's rules count them: by the Julian calendar up to 4 October
// 1582, by the Gregorian from the 15th.
constexpr qint64 kFirstGregorianDay = 2299161;

std::optional<qint64> dayNumber(const icaltimetype &t)
{
    const QDate gregorian(t.year, t.month, t.day);
    if (gregorian.isValid() && gregorian.toJulianDay() >= kFirstGregorianDay) return gregorian.toJulianDay();
    const QDate julian(t.year, t.month, t.day, QCalendar(QCalendar::System::Julian));
    if (!julian.isValid() || julian.toJulianDay() >= kFirstGregorianDay) return std::nullopt;
    return julian.toJulianDay();
}

// `start` moved on by whole steps to the last time in or before `year` from
// which the rule reads what it reads from `start`; none when there is none
// before. A move by years keeps the month, day and weekday (as libical gives
// it: a rule may take it from the DTSTART).
std::optional<icaltimetype> movedOn(const icaltimetype &start, const Step &step, int year)
{
    icaltimetype moved = start;
    if (step.years > 0) {
        const int weekday = icaltime_day_of_week(start);
        int tries = 64;
        for (qint64 k = (qint64(year) - start.year) / step.years; k > 0 && tries-- > 0; --k) {
            moved.year = int(start.year + k * step.years);
            if (start.day <= icaltime_days_in_month(start.month, moved.year) && icaltime_day_of_week(moved) == weekday)
                return moved;
        }
        return std::nullopt;
    }
    icaltimetype newYear = icaltime_null_time();
    newYear.year = year;
    newYear.month = newYear.day = 1;
    const std::optional<qint64> from = dayNumber(start), to = dayNumber(newYear);
    if (!from || !to || step.days <= 0) return std::nullopt;
    const qint64 k = (*to - *from) / step.days;
    if (k <= 0) return std::nullopt;
    const qint64 day = *from + k * step.days;
    const QCalendar calendar(day >= kFirstGregorianDay ? QCalendar::System::Gregorian : QCalendar::System::Julian);
    const QCalendar::YearMonthDay d = calendar.partsFromDate(QDate::fromJulianDay(day));
    moved.year = d.year;
    moved.month = d.month;
    moved.day = d.day;
    return moved;
}

// The first change of a rule from a DTSTART moved on (`moved`) after the
// moved DTSTART itself, if it comes before the year `before`; an UNTIL in UTC
// is read in the local time before the change, as libical's expansion reads
// it. `steps` grows by the steps it may take.
std::optional<icaltimetype> firstChangeAfter(icalrecurrencetype rule, const icaltimetype &moved, int offsetFrom, int before,
                                             double &steps)
{
    if (!icaltime_is_null_time(rule.until) && icaltime_is_utc(rule.until)) {
        icaltime_adjust(&rule.until, 0, 0, 0, offsetFrom);
        rule.until.zone = nullptr;
    }
    // A rule never met would be stepped through up to libical's last year.
    icaltimetype end = icaltime_null_time();
    end.year = before;
    end.month = end.day = 1;
    if (icaltime_is_null_time(rule.until) || icaltime_compare(end, rule.until) < 0) rule.until = end;
    const double cost = stepsOf(rule, moved.year, before);
    steps += cost;
    if (cost > kMostRuleSteps) return std::nullopt;
    icalrecur_iterator *it = icalrecur_iterator_new(rule, moved);
    if (!it) return std::nullopt;
    std::optional<icaltimetype> found;
    for (int i = 0; i < 2 && !found; ++i) { // the moved DTSTART itself may come first
        const icaltimetype t = icalrecur_iterator_next(it);
        if (icaltime_is_null_time(t)) break;
        if (icaltime_compare(t, moved) != 0) found = t;
    }
    icalrecur_iterator_free(it);
    return found;
}

// A copy of the zone with libical's offsets of the whole zone from the start
// of year `from` to the start of year `to`. Each recurring observance that
// can is moved on to two years before `from` (or before its UNTIL), as an
// observance of its own, where a change of its rule comes before `from`;
// every rule without COUNT ends at `to`. libical adds an observance's
// DTSTART as a change of its own: the moved one lies before a real change of
// its rule. So the copy holds no later change before `from` than the whole
// zone's last, and every change from there to `to`; libical expands it from
// those starts up to `to`. Null when the zone has no VTIMEZONE, or when
// libical would take more than kMostRuleSteps for one of its rules. `steps`
// grows by the steps of making and reading the copy, `parts` is the number of
// its observances and properties.
icaltimezone *rulesBetween(icaltimezone *zone, int from, int to, double &steps, int &parts)
{
    icalcomponent *vtimezone = icaltimezone_get_component(zone);
    if (!vtimezone) return nullptr;
    icalcomponent *copy = icalcomponent_new_clone(vtimezone);
    struct Own
    {
        icalcomponent *observance;
        int lastYear; // of its rule's UNTIL
        double steps;
    };
    std::vector<Own> ownObservances;
    std::vector<std::pair<icalcomponent *, int>> single; // observances of their DTSTART only, by its year
    int latestFirstChange = std::numeric_limits<int>::min();
    bool tooCostly = false;
    parts = 0;
    for (icalcomponent *o = icalcomponent_get_first_component(copy, ICAL_ANY_COMPONENT); o && !tooCostly;
         o = icalcomponent_get_next_component(copy, ICAL_ANY_COMPONENT)) {
        parts += 1 + icalcomponent_count_properties(o, ICAL_ANY_PROPERTY);
        const icalcomponent_kind kind = icalcomponent_isa(o);
        icalproperty *dtstart = icalcomponent_get_first_property(o, ICAL_DTSTART_PROPERTY);
        if ((kind != ICAL_XSTANDARD_COMPONENT && kind != ICAL_XDAYLIGHT_COMPONENT) || !dtstart) continue;
        const icaltimetype start = icalproperty_get_dtstart(dtstart);
        icalproperty *offsetFrom = icalcomponent_get_first_property(o, ICAL_TZOFFSETFROM_PROPERTY);
        icalproperty *offsetTo = icalcomponent_get_first_property(o, ICAL_TZOFFSETTO_PROPERTY);
        if (icaltime_is_null_time(start) || !offsetTo) continue;
        const int before = offsetFrom ? icalproperty_get_tzoffsetfrom(offsetFrom) : icalproperty_get_tzoffsetto(offsetTo);
        std::vector<icalproperty *> rules;
        for (icalproperty *p = icalcomponent_get_first_property(o, ICAL_RRULE_PROPERTY); p;
             p = icalcomponent_get_next_property(o, ICAL_RRULE_PROPERTY))
            rules.push_back(p);
        for (icalproperty *p : rules) {
            icalrecurrencetype rule = icalproperty_get_rrule(p);
            const std::optional<Step> step = stepOf(rule);
            // Moved on, only where a change of the rule comes before the span
            // (else read whole): the moved DTSTART's own change lies before it.
            std::optional<icaltimetype> moved;
            if (step) {
                const int until = icaltime_is_null_time(rule.until) ? from : std::min(from, rule.until.year);
                moved = movedOn(start, *step, until - 2);
                const std::optional<icaltimetype> change =
                    moved ? firstChangeAfter(rule, *moved, before, from, steps) : std::nullopt;
                if (!change || change->year >= from) moved.reset();
                else latestFirstChange = std::max(latestFirstChange, change->year);
            }
            if (rule.count == 0 && to <= kLastYearRead && (icaltime_is_null_time(rule.until) || rule.until.year >= to)) {
                rule.until = icaltime_null_time();
                rule.until.year = to;
                rule.until.month = rule.until.day = 1;
            }
            // As libical will read it: from its start to its UNTIL, or as far
            // as libical reads.
            const int lastYear = icaltime_is_null_time(rule.until) ? kLastYearRead : rule.until.year;
            const double cost = stepsOf(rule, moved ? moved->year : start.year, lastYear);
            if (cost > kMostRuleSteps) {
                steps += cost;
                tooCostly = true;
                break;
            }
            if (!moved) {
                steps += cost;
                icalproperty_set_rrule(p, rule);
                continue;
            }
            icalcomponent *own = icalcomponent_new(kind);
            icalcomponent_add_property(own, icalproperty_new_dtstart(*moved));
            if (offsetFrom) icalcomponent_add_property(own, icalproperty_new_clone(offsetFrom));
            icalcomponent_add_property(own, icalproperty_new_clone(offsetTo));
            icalcomponent_add_property(own, icalproperty_new_rrule(rule));
            icalcomponent_remove_property(o, p);
            icalproperty_free(p);
            ownObservances.push_back({own, icaltime_is_null_time(rule.until) ? kLastYearRead : rule.until.year, cost});
        }
        if (!icalcomponent_get_first_property(o, ICAL_RRULE_PROPERTY) && !icalcomponent_get_first_property(o, ICAL_RDATE_PROPERTY))
            single.emplace_back(o, start.year);
    }
    steps += parts;
    if (tooCostly) {
        for (const Own &own : ownObservances) icalcomponent_free(own.observance);
        icalcomponent_free(copy);
        return nullptr;
    }
    // An observance all of whose changes come in years before a change of a
    // moved one (before the span) gives no offset in the span: left out, so
    // that a zone of many observances that ended is read over a decade in
    // the time of the few that go on.
    for (const auto &[o, year] : single) {
        if (year >= latestFirstChange) continue;
        icalcomponent_remove_component(copy, o);
        icalcomponent_free(o);
    }
    for (const Own &own : ownObservances) {
        if (own.lastYear < latestFirstChange) {
            icalcomponent_free(own.observance);
            continue;
        }
        steps += own.steps;
        icalcomponent_add_component(copy, own.observance);
    }
    icaltimezone *rules = icaltimezone_new();
    if (rules && icaltimezone_set_component(rules, copy)) return rules;
    if (rules) icaltimezone_free(rules, 1);
    icalcomponent_free(copy);
    return nullptr;
}

} // namespace

// ---- a zone of yearly rules, read by the kind of year

// A recurring observance's changes in a year of a yearly rule (every year,
// without COUNT) follow from the rule and the year's calendar alone: whether
// it is a leap year and the weekday it begins on, Julian up to 1581 and
// Gregorian from 1583 as libical's rules count. So a zone all of whose
// recurring observances have such rules is read once for each of the 14
// kinds of year of each calendar (over 28 years from a DTSTART moved on, as
// in rulesBetween()), and the offset libical gives at a time is found in the
// changes of the years around it by binary search: an event in a year no
// other event of the file has costs no expansion of the zone's rules.
//
// libical sorts a zone's changes by their instant in UTC and takes the last
// one whose instant, read in the smaller of the offsets before and after it,
// comes at or before a wall time (the one before it too, when the wall time
// is one of those a change back gives twice); the last one at or before an
// instant in UTC. That is what is found here, where the changes of every
// kind of year follow one another in UTC and in those wall times, also from
// one year to the next (checked for the years read); elsewhere the decades'
// copies are read as before.
class VTimezoneYears::Yearly
{
public:
    // None when an observance of the zone has another rule, RDATEs or a
    // DTSTART libical expands no rule from.
    static std::shared_ptr<Yearly> of(icaltimezone *zone, double &steps);
    // Whether the changes of the years `from` to `to` are read here (not
    // when a kind of year has no change, or changes out of order); reads the
    // 14 kinds of year of a calendar first needed (`steps` falls by the
    // steps that takes).
    bool covers(int from, int to, double &steps);
    int offsetOfUtc(qint64 utc) const;
    int offsetOfWall(const icaltimetype &wall) const;

private:
    struct Onset // of a change, in the wall time before it
    {
        int month, day, hour, minute, second;
        int from, to;
        bool daylight;
        // Keys (see key()) less those of the year's start: the instant in
        // UTC, the wall time it is found for, the wall time before it. The
        // same in every year of its kind (one of libical's lengths of
        // February, December always 31 days long).
        qint64 utc = 0, wall = 0, before = 0;
    };
    struct Rule
    {
        icalrecurrencetype rule;
        icaltimetype start;
        int from, to;
        bool daylight;
    };
    using Kinds = std::array<std::vector<Onset>, 14>;
    static bool julian(int year) { return year < 1582; }
    static int kindOf(int year);
    // The changes of the year `year` (its kind read), in order.
    const std::vector<Onset> &onsetsOf(int year) const { return (julian(year) ? m_julian : m_gregorian)[kindOf(year)]; }
    bool read(bool julianYears, double &steps);
    // Field-wise keys as libical compares its changes: the instant in UTC,
    // and the wall time it is found for.
    static constexpr qint64 kYearKey = qint64(16) * 32 * 32 * 64 * 64;
    static qint64 key(const icaltimetype &t);
    // A year whose February libical counts otherwise (1700: 29 days, as in
    // every fourth year up to 1752) when it moves a change to UTC: its keys
    // are worked out as libical does.
    static bool oddFebruary(int year);
    static qint64 keyIn(int year, const Onset &o, int to, int then);
    static icaltimetype onsetIn(int year, const Onset &o); // its wall time before it, in `year`
    static qint64 utcKey(int year, const Onset &o) { return oddFebruary(year) ? keyIn(year, o, -o.from, 0) : year * kYearKey + o.utc; }
    static qint64 wallKey(int year, const Onset &o)
    {
        return oddFebruary(year) ? keyIn(year, o, -o.from, std::min(o.from, o.to)) : year * kYearKey + o.wall;
    }
    static qint64 beforeKey(int year, const Onset &o) { return oddFebruary(year) ? keyIn(year, o, -o.from, o.from) : year * kYearKey + o.before; }
    // The last change of the years up to `year` + 1 whose key is at most
    // `at`, with its year; none when the years read hold none.
    template<typename KeyOf>
    std::optional<std::pair<int, size_t>> lastUpTo(qint64 at, int year, KeyOf keyOf) const;

    std::vector<Rule> m_rules;
    int m_latestStart = 0;                                  // of an observance: its year
    int m_firstEnd = std::numeric_limits<int>::max();       // of a rule's UNTIL: its year
    Kinds m_gregorian, m_julian;
    std::optional<bool> m_gregorianRead, m_julianRead; // read, and whether usable
    QHash<int, bool> m_oddYears;                        // in order with libical's keys
};

namespace {

// Kinds of year, with 16 for a year whose February libical counts otherwise:
// looked up for every change a time is compared with, made once.
qint8 kindAndFebruary(int year)
{
    static const std::array<qint8, kLastYearRead + 2> kinds = [] {
        std::array<qint8, kLastYearRead + 2> out{};
        for (int y = 1; y <= kLastYearRead + 1; ++y) {
            const QCalendar calendar(y < 1582 ? QCalendar::System::Julian : QCalendar::System::Gregorian);
            const bool leap = calendar.isLeapYear(y);
            out[y] = qint8((leap ? 7 : 0) + QDate(y, 1, 1, calendar).dayOfWeek() % 7
                           + ((icaltime_days_in_month(2, y) == 29) != leap ? 16 : 0));
        }
        return out;
    }();
    return kinds[std::clamp(year, 1, kLastYearRead + 1)];
}

} // namespace

int VTimezoneYears::Yearly::kindOf(int year) { return kindAndFebruary(year) & 15; }

bool VTimezoneYears::Yearly::oddFebruary(int year) { return kindAndFebruary(year) & 16; }

icaltimetype VTimezoneYears::Yearly::onsetIn(int year, const Onset &o)
{
    icaltimetype t = icaltime_null_time();
    t.year = year;
    t.month = o.month;
    t.day = o.day;
    t.hour = o.hour;
    t.minute = o.minute;
    t.second = o.second;
    return t;
}

qint64 VTimezoneYears::Yearly::keyIn(int year, const Onset &o, int to, int then)
{
    icaltimetype t = onsetIn(year, o);
    icaltime_adjust(&t, 0, 0, 0, to);
    if (then) icaltime_adjust(&t, 0, 0, 0, then);
    return key(t);
}

qint64 VTimezoneYears::Yearly::key(const icaltimetype &t)
{
    return ((((qint64(t.year) * 16 + t.month) * 32 + t.day) * 32 + t.hour) * 64 + t.minute) * 64 + t.second;
}

std::shared_ptr<VTimezoneYears::Yearly> VTimezoneYears::Yearly::of(icaltimezone *zone, double &steps)
{
    icalcomponent *vtimezone = icaltimezone_get_component(zone);
    if (!vtimezone) return nullptr;
    auto out = std::make_shared<Yearly>();
    for (icalcomponent *o = icalcomponent_get_first_component(vtimezone, ICAL_ANY_COMPONENT); o;
         o = icalcomponent_get_next_component(vtimezone, ICAL_ANY_COMPONENT)) {
        steps -= 1;
        const icalcomponent_kind kind = icalcomponent_isa(o);
        icalproperty *dtstart = icalcomponent_get_first_property(o, ICAL_DTSTART_PROPERTY);
        icalproperty *offsetTo = icalcomponent_get_first_property(o, ICAL_TZOFFSETTO_PROPERTY);
        if ((kind != ICAL_XSTANDARD_COMPONENT && kind != ICAL_XDAYLIGHT_COMPONENT) || !dtstart || !offsetTo) continue;
        icalproperty *offsetFrom = icalcomponent_get_first_property(o, ICAL_TZOFFSETFROM_PROPERTY);
        Rule r{{}, icalproperty_get_dtstart(dtstart), 0, icalproperty_get_tzoffsetto(offsetTo), kind == ICAL_XDAYLIGHT_COMPONENT};
        r.from = offsetFrom ? icalproperty_get_tzoffsetfrom(offsetFrom) : r.to;
        // libical expands a rule from no date that is not one of its calendar
        // (29 February 1970), nor one of 1582.
        const QCalendar calendar(julian(r.start.year) ? QCalendar::System::Julian : QCalendar::System::Gregorian);
        if (icaltime_is_null_time(r.start) || r.start.year < 1 || r.start.year == 1582
            || !QDate(r.start.year, r.start.month, r.start.day, calendar).isValid() || r.start.hour > 23 || r.start.minute > 59
            || r.start.second > 59 || std::abs(r.from) >= kDay || std::abs(r.to) >= kDay
            || icalcomponent_get_first_property(o, ICAL_RDATE_PROPERTY))
            return nullptr;
        // A change at the DTSTART alone: before or after the years read.
        out->m_latestStart = std::max(out->m_latestStart, r.start.year);
        icalproperty *rrule = icalcomponent_get_first_property(o, ICAL_RRULE_PROPERTY);
        if (!rrule) continue;
        if (icalcomponent_get_next_property(o, ICAL_RRULE_PROPERTY)) return nullptr;
        r.rule = icalproperty_get_rrule(rrule);
        // Week numbers may reach into the years either side.
        if (r.rule.freq != ICAL_YEARLY_RECURRENCE || r.rule.interval > 1 || r.rule.count > 0 || r.rule.rscale
            || r.rule.by_week_no[0] != ICAL_RECURRENCE_ARRAY_MAX)
            return nullptr;
        if (!icaltime_is_null_time(r.rule.until)) {
            icaltimetype until = r.rule.until;
            if (icaltime_is_utc(until)) icaltime_adjust(&until, 0, 0, 0, r.from);
            out->m_firstEnd = std::min(out->m_firstEnd, until.year);
            r.rule.until = icaltime_null_time();
        }
        out->m_rules.push_back(r);
    }
    if (out->m_rules.empty()) return nullptr;
    return out;
}

bool VTimezoneYears::Yearly::read(bool julianYears, double &steps)
{
    Kinds &kinds = julianYears ? m_julian : m_gregorian;
    // 28 years from a DTSTART moved on to a year before the first: every
    // kind of year of the calendar, and no year 1400 or 2100.
    const int before = julianYears ? 1430 : 2040;
    for (size_t i = 0; i < m_rules.size(); ++i) {
        const Rule &r = m_rules[i];
        const std::optional<icaltimetype> moved = movedOn(r.start, Step{1, 0}, before);
        if (!moved) return false;
        const int first = moved->year + 1, last = moved->year + 28;
        const double cost = stepsOf(r.rule, moved->year, last);
        steps -= cost;
        if (cost > kMostRuleSteps) return false;
        std::array<int, 14> yearOfKind{};
        for (int year = last; year >= first; --year) yearOfKind[kindOf(year)] = year; // the first of each kind
        icalrecur_iterator *it = icalrecur_iterator_new(r.rule, *moved);
        if (!it) return false;
        for (icaltimetype t = icalrecur_iterator_next(it); !icaltime_is_null_time(t) && t.year <= last;
             t = icalrecur_iterator_next(it)) {
            if (t.year < first || yearOfKind[kindOf(t.year)] != t.year) continue;
            kinds[kindOf(t.year)].push_back({t.month, t.day, t.hour, t.minute, t.second, r.from, r.to, r.daylight});
        }
        icalrecur_iterator_free(it);
    }
    // In order in each year, in UTC and in the wall times changes are found
    // for; a change in every year.
    const QCalendar calendar(julianYears ? QCalendar::System::Julian : QCalendar::System::Gregorian);
    for (int kind = 0; kind < 14; ++kind) {
        std::vector<Onset> &onsets = kinds[kind];
        if (onsets.empty()) return false;
        int year = before + 1;
        while (kindOf(year) != kind) ++year;
        const auto secondsOf = [&](int, const Onset &o) {
            return qint64(QDate(year, o.month, o.day, calendar).dayOfYear(calendar)) * kDay + o.hour * 3600 + o.minute * 60 + o.second;
        };
        for (Onset &o : onsets) {
            icaltimetype t = onsetIn(year, o);
            icaltime_adjust(&t, 0, 0, 0, -o.from);
            o.utc = key(t) - year * kYearKey;
            icaltimetype wall = t, previous = t;
            icaltime_adjust(&wall, 0, 0, 0, std::min(o.from, o.to));
            icaltime_adjust(&previous, 0, 0, 0, o.from);
            o.wall = key(wall) - year * kYearKey;
            o.before = key(previous) - year * kYearKey;
        }
        std::sort(onsets.begin(), onsets.end(), [&](const Onset &a, const Onset &b) {
            return std::tie(a.month, a.day, a.hour, a.minute, a.second) < std::tie(b.month, b.day, b.hour, b.minute, b.second);
        });
        for (size_t i = 1; i < onsets.size(); ++i) {
            const Onset &a = onsets[i - 1], &b = onsets[i];
            // The same change twice (libical keeps both) is read as one.
            if (std::tie(a.month, a.day, a.hour, a.minute, a.second, a.from, a.to, a.daylight)
                == std::tie(b.month, b.day, b.hour, b.minute, b.second, b.from, b.to, b.daylight))
                continue;
            const qint64 sa = secondsOf(kind, a), sb = secondsOf(kind, b);
            if (sb - b.from <= sa - a.from || sb - b.from + std::min(b.from, b.to) <= sa - a.from + std::min(a.from, a.to))
                return false;
        }
    }
    return true;
}

bool VTimezoneYears::Yearly::covers(int from, int to, double &steps)
{
    // Years of no change of an observance's own start or end.
    if (from <= m_latestStart + 1 || to >= m_firstEnd || to > kLastYearRead || from < 1) return false;
    if (from <= 1582 && to >= 1582) return false;
    std::optional<bool> &read = julian(from) ? m_julianRead : m_gregorianRead;
    if (!read) {
        if (steps <= 0) return false;
        read = this->read(julian(from), steps);
    }
    if (!*read) return false;
    // A year whose February libical counts otherwise, in order with the
    // keys libical gives its changes.
    for (int year = from; year <= to; ++year) {
        if (!oddFebruary(year)) continue;
        auto known = m_oddYears.constFind(year);
        if (known == m_oddYears.cend()) {
            const std::vector<Onset> &onsets = onsetsOf(year);
            bool inOrder = true;
            for (size_t i = 1; i < onsets.size() && inOrder; ++i) {
                const Onset &a = onsets[i - 1], &b = onsets[i];
                if (std::tie(a.month, a.day, a.hour, a.minute, a.second, a.from, a.to, a.daylight)
                    == std::tie(b.month, b.day, b.hour, b.minute, b.second, b.from, b.to, b.daylight))
                    continue;
                inOrder = utcKey(year, a) < utcKey(year, b) && wallKey(year, a) < wallKey(year, b);
            }
            steps -= double(onsets.size());
            known = m_oddYears.insert(year, inOrder);
        }
        if (!*known) return false;
    }
    // From one year to the next in order too.
    for (int year = from; year < to; ++year) {
        const Onset &last = onsetsOf(year).back(), &next = onsetsOf(year + 1).front();
        if (utcKey(year + 1, next) <= utcKey(year, last) || wallKey(year + 1, next) <= wallKey(year, last)) return false;
    }
    return true;
}

template<typename KeyOf>
std::optional<std::pair<int, size_t>> VTimezoneYears::Yearly::lastUpTo(qint64 at, int year, KeyOf keyOf) const
{
    // A year's changes come before the next year's: the latest year that
    // has one at or before `at`. Two years back always has (a change of a
    // wall time moves less than a day).
    for (int y = year + 1; y >= year - 2; --y) {
        const std::vector<Onset> &onsets = onsetsOf(y);
        const auto it = std::partition_point(onsets.begin(), onsets.end(), [&](const Onset &o) { return keyOf(y, o) <= at; });
        if (it != onsets.begin()) return std::make_pair(y, size_t(it - onsets.begin() - 1));
    }
    return std::nullopt;
}

int VTimezoneYears::Yearly::offsetOfUtc(qint64 utc) const
{
    const icaltimetype t = icaltime_from_timet_with_zone(time_t(utc), 0, icaltimezone_get_utc_timezone());
    const auto found = lastUpTo(key(t), t.year, &utcKey);
    return found ? onsetsOf(found->first)[found->second].to : 0;
}

int VTimezoneYears::Yearly::offsetOfWall(const icaltimetype &wall) const
{
    const qint64 at = key(wall);
    const auto found = lastUpTo(at, wall.year, &wallKey);
    if (!found) return 0;
    const auto [year, i] = *found;
    const Onset &change = onsetsOf(year)[i];
    // A wall time given twice by a change back: the change before it when
    // that one's kind is the one asked for, and this one's is not.
    if (change.to < change.from) {
        if (at < beforeKey(year, change)) {
            const Onset &previous = i > 0 ? onsetsOf(year)[i - 1] : onsetsOf(year - 1).back();
            const bool daylight = wall.is_daylight == 1;
            if (change.daylight != daylight && previous.daylight == daylight) return previous.to;
        }
    }
    return change.to;
}

namespace {

std::optional<QTimeZone> zoneOf(const OffsetAt &offsetAt, qint64 nearUtc, const QByteArray &digest, icaltimezone *zone)
{
    const QDateTime near = QDateTime::fromSecsSinceEpoch(nearUtc, Qt::UTC);
    const int year = near.date().year();
    // Qt reads a POSIX rule around year 1 without end, and libical reads no
    // change after its last year: the offset then stands for the zone.
    if (year < kFirstMatchedYear || year > kLastYearRead) return vtr::timeZoneWithOffset(offsetAt(nearUtc));
    const QByteArray key = digest + QByteArray::number(year);
    static QMutex lock;
    static QHash<QByteArray, QTimeZone> known;
    {
        QMutexLocker l(&lock);
        const auto it = known.constFind(key);
        if (it != known.cend()) return *it;
    }
    if (!zone) return std::nullopt;
    // Every range below lies on the grid of this one (whole days from it).
    const std::vector<Change> changes = changesOf(offsetAt, nearUtc - kYear, nearUtc + 3 * kYear);
    std::optional<QTimeZone> found;
    if (changes.size() <= kMostChanges) {
        found = ianaZoneLike(changes, nearUtc - kYear, nearUtc + 3 * kYear);
        if (!found) {
            found = posixZone(zone, nearUtc);
            // Only where libical reads the same offsets from the same rules.
            const qint64 from = nearUtc - kDay, to = nearUtc + 3 * kYear;
            if (found && !sameOffsets(*found, changesWithin(changes, from, to), from, to)) found.reset();
        }
        if (!found) found = ianaZoneLike(changesWithin(changes, nearUtc, nearUtc + kYear), nearUtc, nearUtc + kYear);
    }
    const QTimeZone result = found ? *found : vtr::timeZoneWithOffset(offsetAt(nearUtc));
    QMutexLocker l(&lock);
    known.insert(key, result);
    return result;
}

} // namespace

std::optional<QTimeZone> zoneOfVTimezone(icaltimezone *rules, qint64 nearUtc, const QByteArray &digest, icaltimezone *zone)
{
    return zoneOf([rules](qint64 t) { return libicalOffset(rules, t); }, nearUtc, digest, zone);
}

double VTimezoneYears::stepsForFile(qint64 fileBytes) { return kBaseSteps + kStepsPerByte * double(std::max<qint64>(0, fileBytes)); }

VTimezoneYears::VTimezoneYears(double &steps) : m_steps(steps) {}

VTimezoneYears::~VTimezoneYears()
{
    for (icaltimezone *rules : std::as_const(m_spans))
        if (rules) icaltimezone_free(rules, 1);
}

std::optional<VTimezoneYears::Time> VTimezoneYears::read(icaltimezone *zone, const icaltimetype &local, bool ofFile)
{
    Zone &z = m_zones[zone];
    if (z.digest.isNull()) {
        icalcomponent *vtimezone = icaltimezone_get_component(zone);
        char *text = vtimezone ? icalcomponent_as_ical_string_r(vtimezone) : nullptr;
        const QByteArrayView written(text ? text : "");
        z.digest = QCryptographicHash::hash(written, QCryptographicHash::Sha256);
        m_steps -= double(written.size()) / 64;
        free(text);
    }
    icaltimezone *rules = zone;
    Yearly *yearly = nullptr;
    if (ofFile) {
        // The dates of a decade, the years around them exact (a date's UTC
        // year may be the one before or after; zoneOfVTimezone() reads a
        // year before it to three after).
        const int decade = std::clamp(local.year, 1, kLastYearRead) / kSpanYears;
        const auto key = std::make_pair(static_cast<const void *>(zone), decade);
        auto it = m_spans.constFind(key);
        if (it == m_spans.cend()) {
            // A zone read in a second decade: read by the kind of year where
            // it can be, so that each further year costs no expansion of all
            // its rules again.
            if (z.decades > 0 && !z.yearlyTried && m_steps > 0) {
                z.yearlyTried = true;
                z.yearly = Yearly::of(zone, m_steps);
            }
            // The years the wall time and the matching read (see above and
            // Yearly::lastUpTo()), in a wall time libical's keys can hold.
            if (z.yearly && local.month >= 1 && local.month <= 12 && local.day >= 1 && local.day <= 31 && local.hour >= 0
                && local.hour < 24 && local.minute >= 0 && local.minute < 60 && local.second >= 0 && local.second < 62
                && z.yearly->covers(local.year - 4, local.year + 5, m_steps)) {
                yearly = z.yearly.get();
            } else {
                icaltimezone *span = nullptr;
                if (m_steps > 0) {
                    double steps = 0;
                    span = rulesBetween(zone, decade * kSpanYears - 2, decade * kSpanYears + kSpanYears + 5, steps, z.parts);
                    m_steps -= steps;
                }
                it = m_spans.insert(key, span);
                ++z.decades;
            }
        }
        if (!yearly) {
            if (!*it) return std::nullopt;
            rules = *it;
        }
    }
    const OffsetAt offsetAt = [&](qint64 t) { return yearly ? yearly->offsetOfUtc(t) : libicalOffset(rules, t); };
    // libical's offset for the wall time, taken from that time counted in
    // the Gregorian calendar, as a time in UTC or in a named zone is:
    // libical's own conversion to UTC counts every fourth year up to 1752 as
    // a leap year, and put a zoned time of 1700 from March on (and of 1500,
    // 1300...) a day late.
    icaltimetype wall = local;
    wall.is_date = 0;
    const int offset = yearly ? yearly->offsetOfWall(wall) : icaltimezone_get_utc_offset(rules, &wall, nullptr);
    const qint64 utc = vtr::daysFromCivil(local.year, local.month, local.day) * kDay + qint64(local.hour) * 3600
                       + qint64(local.minute) * 60 + local.second - offset;
    const auto key = std::make_pair(static_cast<const void *>(zone), QDateTime::fromSecsSinceEpoch(utc, Qt::UTC).date().year());
    auto it = m_known.constFind(key);
    if (it == m_known.cend()) {
        // Matched anew only while the file's steps last; after that, the
        // offset at the first time read stands for the year's.
        std::optional<QTimeZone> found = zoneOf(offsetAt, utc, z.digest, nullptr);
        if (!found && m_steps > 0) {
            m_steps -= kMatchSteps + z.parts;
            found = zoneOf(offsetAt, utc, z.digest, zone);
        }
        it = m_known.insert(key, found ? Known{*found, true} : Known{vtr::timeZoneWithOffset(offsetAt(utc)), false});
    }
    if (!it->matched) return Time{utc, vtr::timeZoneWithOffset(offsetAt(utc)), false};
    return Time{utc, it->zone, true};
}
