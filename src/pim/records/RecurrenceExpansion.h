#pragma once

#include "foundation/VtrCalendarDate.h"

#include <QList>
#include <QVariantList>
#include <QVariantMap>

// Expands a recurrence of the synchronisation store into its occurrence
// dates, as RFC 5545 defines a recurrence set. The dictionary's keys:
// "frequency" ("secondly", "minutely", "hourly", "daily", "weekly",
// "monthly", "yearly"), "interval" (below 1 counts as 1), "count" (0 or
// missing: none), "until" (a VtrCalendarDate, QDateTime or STDate),
// "bydaydays" (weekday names "sunday" .. "saturday"), "bydayfreq" (for each
// weekday its place in the month or year: 1 first, -1 last, 0 or missing
// every one), "bymonthday", "byyearday", "byweeknumber" (negative counts from
// the end), "bymonth", "byhour", "byminute", "bysecond", "bysetpos" (lists of
// numbers) and "weekstartday" (a weekday name; Monday when missing).
//
// The start is the first occurrence and counts towards "count" whether or not
// it matches the rule or lies in the window; the window only chooses which
// occurrences are returned. Results come in ascending order, the start first.
// Each occurrence is a wall-clock time in the start's zone: one that falls
// into a daylight-saving gap is moved forward by the gap, as every calendar
// date is, and a time that lands on an instant already given is no second
// occurrence. Days that a month or year does not have (31 April, 29 February
// of a common year, a fifth Friday) are no occurrence.
//
// However far "until" or the window reaches, at most kMaxRecurrenceSteps
// candidates and empty periods are looked at, so a rule without a reachable
// end cannot hang its caller; the walk also ends with the year 9999. A null
// window start means the distant past, a null window end the distant future.
inline constexpr int kMaxRecurrenceSteps = 100000;

struct RecurrenceExpansion
{
    QList<VtrCalendarDate> dates;
    // False when the rule holds a part that RFC 5545 does not allow with its
    // frequency or a value out of range (so what it means is anyone's guess),
    // or when the step budget ran out before the rule's own end: the dates
    // are then no reliable account of the series.
    bool complete = true;
};

RecurrenceExpansion expandRecurrenceChecked(const QVariantMap &recurrence, const VtrCalendarDate &start,
                                            const VtrCalendarDate &windowStart, const VtrCalendarDate &windowEnd);
// The same walk, keeping only the last occurrence in the window (the start
// when none comes after it): `dates` holds one date, or none.
RecurrenceExpansion lastRecurrence(const QVariantMap &recurrence, const VtrCalendarDate &start,
                                   const VtrCalendarDate &windowStart, const VtrCalendarDate &windowEnd);
QList<VtrCalendarDate> expandRecurrence(const QVariantMap &recurrence, const VtrCalendarDate &start,
                                        const VtrCalendarDate &windowStart, const VtrCalendarDate &windowEnd);
// The window from the distant past to three years from now.
QList<VtrCalendarDate> expandRecurrenceDefaultWindow(const QVariantMap &recurrence, const VtrCalendarDate &start);

// The weekday number (0 Sunday .. 6 Saturday) of each name; 2147483647 for a
// name that is none.
QList<int> weekdayIndexesForNames(const QVariantList &names);
