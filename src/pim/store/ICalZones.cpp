#include "pim/store/ICalZones.h"

#include "foundation/VtrCalendarDate.h"

#include <QDateTime>
#include <QHash>
#include <QMutex>
#include <QMutexLocker>

#include <libical/ical.h>

#include <cstdlib>
#include <optional>
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

std::vector<Change> changesOf(icaltimezone *zone, qint64 from, qint64 to)
{
    constexpr qint64 kStep = 6 * 3600;
    std::vector<Change> out{{from, libicalOffset(zone, from)}};
    for (qint64 t = from + kStep; t <= to; t += kStep) {
        const int offset = libicalOffset(zone, t);
        if (offset == out.back().offset) continue;
        qint64 low = t - kStep, high = t; // offset changes in (low, high]
        while (high - low > 1) {
            const qint64 mid = low + (high - low) / 2;
            (libicalOffset(zone, mid) == offset ? high : low) = mid;
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
    static const QList<QByteArray> ids = [] {
        QList<QByteArray> first, then;
        for (const QByteArray &id : QTimeZone::availableTimeZoneIds()) {
            if (!id.contains('/') || id.startsWith("Etc/")) continue;
            const QByteArray windows = QTimeZone::ianaIdToWindowsId(id);
            (!windows.isEmpty() && QTimeZone::windowsIdToDefaultIanaId(windows) == id ? first : then).append(id);
        }
        return first + then;
    }();
    const QDateTime probe = QDateTime::fromSecsSinceEpoch(from, Qt::UTC);
    for (const QByteArray &id : ids) {
        const QTimeZone candidate(id);
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

} // namespace

QTimeZone zoneOfVTimezone(void *component, qint64 nearUtc)
{
    auto *zone = static_cast<icaltimezone *>(component);
    icalcomponent *vtimezone = icaltimezone_get_component(zone);
    char *text = vtimezone ? icalcomponent_as_ical_string_r(vtimezone) : nullptr;
    const QDateTime near = QDateTime::fromSecsSinceEpoch(nearUtc, Qt::UTC);
    const QByteArray key = QByteArray(text ? text : "") + '\n' + QByteArray::number(near.date().year());
    free(text);

    static QMutex lock;
    static QHash<QByteArray, QTimeZone> known;
    {
        QMutexLocker l(&lock);
        const auto it = known.constFind(key);
        if (it != known.cend()) return *it;
    }
    // Every range below lies on the grid of this one (whole days from it).
    const std::vector<Change> changes = changesOf(zone, nearUtc - kYear, nearUtc + 3 * kYear);
    std::optional<QTimeZone> found = ianaZoneLike(changes, nearUtc - kYear, nearUtc + 3 * kYear);
    if (!found) {
        found = posixZone(zone, nearUtc);
        // Only where libical reads the same offsets from the same rules.
        const qint64 from = nearUtc - kDay, to = nearUtc + 3 * kYear;
        if (found && !sameOffsets(*found, changesWithin(changes, from, to), from, to)) found.reset();
    }
    if (!found) found = ianaZoneLike(changesWithin(changes, nearUtc, nearUtc + kYear), nearUtc, nearUtc + kYear);
    const QTimeZone result = found ? *found : vtr::timeZoneWithOffset(libicalOffset(zone, nearUtc));
    QMutexLocker l(&lock);
    known.insert(key, result);
    return result;
}
