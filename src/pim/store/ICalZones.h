#pragma once

#include <QHash>
#include <QTimeZone>

#include <utility>

typedef struct _icaltimezone icaltimezone;
struct icaltimetype;

// The zones of one file's VTIMEZONEs (each an icaltimezone of the parsed
// file), read a few years at a time.
//
// libical expands a zone's recurring observances from their DTSTART up to
// the year asked for, once per zone, and a file of one event holds its zone
// again: a zone whose observances start in year 1 (as some servers write
// them) took a tenth of a second and more per zone. Here the dates of a
// decade are read through a copy of the VTIMEZONE in which each recurring
// observance (without COUNT) starts two years before that decade, its
// DTSTART moved on by whole periods of its rule (from there on the rule
// gives the same changes), and ends some years after it: libical expands
// about twenty years, whatever the start, and gives the offsets it gives
// for the whole zone at every instant the decade's dates are read at.
class VTimezoneYears
{
public:
    VTimezoneYears();
    ~VTimezoneYears();
    VTimezoneYears(const VTimezoneYears &) = delete;
    VTimezoneYears &operator=(const VTimezoneYears &) = delete;

    struct Time
    {
        qint64 utc;     // seconds since 1970 UTC
        QTimeZone zone; // with the zone's offsets near it (zoneOfVTimezone)
    };
    // The local time `local` of `zone`, as libical reads it from the zone's
    // rules: a zone of the file's own read a few years at a time, one of
    // libical's (`ofFile` false, shared by the process) whole.
    Time read(icaltimezone *zone, const icaltimetype &local, bool ofFile = true);

private:
    // By zone and decade, and by zone and UTC year.
    using Key = std::pair<const void *, int>;
    QHash<Key, icaltimezone *> m_spans; // copies of the zones (rulesBetween), owned
    QHash<Key, QTimeZone> m_known;
};

// The zone of a VTIMEZONE whose TZID is neither an IANA nor a Windows name
// (as Exchange writes "GMT +0100 (Standard) / GMT +0200 (Daylight)"), for
// times near `nearUtc` (seconds since 1970 UTC), such that it has the offset
// libical computes from the VTIMEZONE's rules at every instant:
//  - an IANA zone with the same offsets from a year before to three years
//    after (the default zone first, then those that stand for a Windows
//    zone);
//  - otherwise the file's own rules in effect then, as a POSIX TZ rule
//    ("<+01>-1<+02>,M3.5.0/2:00:00,M10.5.0/3:00:00") with the same offsets
//    for three years on;
//  - otherwise an IANA zone with the same offsets for a year on;
//  - otherwise the fixed offset at `nearUtc`.
// `zone` is the icaltimezone, whose offsets `rules` gives (the zone itself,
// or a copy of it exact over those four years); results are kept per
// VTIMEZONE and year.
QTimeZone zoneOfVTimezone(icaltimezone *zone, icaltimezone *rules, qint64 nearUtc);
