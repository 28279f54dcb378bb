#pragma once

#include <QHash>
#include <QTimeZone>

#include <memory>
#include <optional>
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
//
// A copy holds all the zone's observances: a zone of many observances whose
// events lie in many decades would be expanded whole for each. So a zone
// read in a second decade whose recurring observances all change every year
// (yearly rules without COUNT, as such zones have) is read once for each
// kind of year instead (leap or not, the weekday it begins on), and each
// further date is found among the changes of its years by binary search,
// with the offsets libical gives (Yearly).
//
// A file's zones may come from anyone: reading them is bounded by the size
// of the file. A zone one of whose rules libical would take too long to read
// over a decade (an observance every hour, a rule never met), or any zone
// once the file's share is spent, is not read: read() gives none, and the
// caller reads the time as floating. Once the share is spent, a zone not yet
// matched for a year gives the offset at the instant only.
class VTimezoneYears
{
public:
    // What reading the zones of a file of `fileBytes` bytes may take.
    static double stepsForFile(qint64 fileBytes);
    // `steps`: what is left of the file's share, in libical's steps (a few
    // microseconds each), shared by the readers of the file's calendars.
    explicit VTimezoneYears(double &steps);
    ~VTimezoneYears();
    VTimezoneYears(const VTimezoneYears &) = delete;
    VTimezoneYears &operator=(const VTimezoneYears &) = delete;

    struct Time
    {
        qint64 utc;     // seconds since 1970 UTC
        QTimeZone zone; // with the zone's offsets near it (zoneOfVTimezone)
        bool matched;   // false: the file's share was spent, `zone` is the offset at `utc`
    };
    // The local time `local` of `zone`, as libical reads it from the zone's
    // rules: a zone of the file's own read a few years at a time, one of
    // libical's (`ofFile` false, shared by the process) whole. None when the
    // zone's rules cannot be read within the bound.
    std::optional<Time> read(icaltimezone *zone, const icaltimetype &local, bool ofFile = true);

private:
    class Yearly; // a zone of yearly rules, read by the kind of year
    struct Zone
    {
        QByteArray digest; // of the VTIMEZONE written out: what is found for it is kept by it
        int parts = 0;     // its observances and properties
        int decades = 0;   // read through copies (rulesBetween)
        bool yearlyTried = false;
        std::shared_ptr<Yearly> yearly;
    };
    struct Known
    {
        QTimeZone zone;
        bool matched;
    };
    // By zone and decade, and by zone and UTC year.
    using Key = std::pair<const void *, int>;
    QHash<const void *, Zone> m_zones;
    QHash<Key, icaltimezone *> m_spans; // copies of the zones (rulesBetween), owned; null: not read
    QHash<Key, Known> m_known;
    double &m_steps;
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
//  - otherwise (and before 1583, after libical's last year, or for rules
//    that change the offset more often than any zone) the fixed offset at
//    `nearUtc`.
// `rules` gives the offsets (the zone itself, or a copy of it exact over
// those four years), `digest` is a digest of the VTIMEZONE written out;
// results are kept per digest and year. With `zone` null only a result kept
// or a fixed offset is given (none when the zone would have to be matched).
std::optional<QTimeZone> zoneOfVTimezone(icaltimezone *rules, qint64 nearUtc, const QByteArray &digest, icaltimezone *zone);
