#pragma once

#include <QTimeZone>

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
// `component` is the icaltimezone; results are kept per VTIMEZONE and year.
QTimeZone zoneOfVTimezone(void *component, qint64 nearUtc);
