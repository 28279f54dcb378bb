#pragma once

#include "foundation/VtrCalendarDate.h"

#include <QDateTime>
#include <QString>
#include <QTimeZone>

#include <optional>

// Extensions of plain dates (QDateTime). A plain date is an instant; its own
// "zone" is the QDateTime's offset from UTC (none for the usual UTC dates).
namespace vtr {

// ---- ST2 texts: fourteen digits "%04d%02d%02d%02d%02d%02d"

// The date in GMT.
QString st2String(const QDateTime &date);
QString st2String(const VtrCalendarDate &date);
// The date in its own zone: a QDateTime's own offset (GMT for UTC dates), a
// calendar date's zone.
QString st2StringWithoutTimezone(const QDateTime &date);
QString st2StringWithoutTimezone(const VtrCalendarDate &date);
// The instant (to the second) as a calendar date shown in GMT.
VtrCalendarDate utcDate(const QDateTime &date);

// ---- copies and Mac seconds

// A plain date with the same instant (milliseconds kept), in UTC. (The
// calendar-date copy with the same Mac selector is VtrCalendarDate::dateWithDate.)
QDateTime plainDateWithDate(const QDateTime &date);

// Seconds since 1970 GMT -> seconds since 1904 in the default zone, with the
// default zone's current offset, in unsigned 32-bit arithmetic (wrapping).
quint32 unixToMacDate(quint32 unixSeconds);
quint32 macToUnixDate(quint32 macSeconds);
// The instant macToUnixDate(macSeconds) seconds after 1970, in UTC.
QDateTime dateWithMacDate(quint32 macSeconds);

// ---- formatting and parsing

// Platform style numbers: 0 none, 1 short, 2 medium, 3 long, 4 full. The
// system locale's short form serves short and medium, its long form long and
// full; the text is in the default zone.
QString dateAsString(const QDateTime &date, unsigned dateStyle, unsigned timeStyle);
// Unicode date-pattern syntax (yyyy MM dd HH mm ss SSS a EEE MMM Z 'literal').
// An invalid zone means the default zone. Null text for an invalid date.
QString dateAsString(const QDateTime &date, const QString &pattern, const QTimeZone &zone = QTimeZone());
// Reads `text` with the pattern, the fields taken in the zone (default zone
// when invalid); nullopt when it does not parse.
std::optional<QDateTime> dateWithFormattedString(const QString &text, const QString &pattern,
                                                 const QTimeZone &zone = QTimeZone());

// 0 when the dates are less than 60 seconds apart (either way), else -1 when
// `date` is earlier than `other` and 1 when later.
int compareDateWithSlop(const QDateTime &date, const QDateTime &other);

// ---- ISO 8601 durations

// 90061 -> "P1DT1H1M1S", 0 -> "PT0S", -60 -> "-PT1M".
QString iso8601DurationFromSeconds(qint32 seconds);
// Days, hours, minutes (after "T") and seconds; 0 for a text that does not
// start with "P" (after an optional "-"). Years, months ("M" before "T") and
// weeks are logged and dropped. The sum is kept in 64 bits and clamped to the
// 32-bit range.
qint32 secondsFromISO8601Duration(const QString &text);

} // namespace vtr
