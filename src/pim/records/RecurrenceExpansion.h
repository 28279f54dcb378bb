#pragma once

#include "foundation/VtrCalendarDate.h"

#include <QList>
#include <QVariantList>
#include <QVariantMap>

// Expands a recurrence of the synchronisation store into its occurrence
// dates. The dictionary's keys: "frequency" ("daily", "weekly", "monthly",
// "yearly"), "interval" (below 1 counts as 1), "count" (0 or missing: none),
// "until" (a VtrCalendarDate, QDateTime or STDate), "bydaydays" (weekday
// names "sunday" .. "saturday"), "bydayfreq" (for each weekday its week of the
// month or year: 1 first, -1 last, 0 or missing every one), "bymonthday"
// (days, negative from the month's end) and "bymonth" (months).
//
// The start is the first occurrence and counts towards "count" whether or not
// it lies in the window; the window only chooses which occurrences are
// returned. Results come in order: the start first, then the later dates
// ascending, each at the start's wall-clock time in the start's zone (a time
// that falls into a daylight-saving gap is moved forward by the gap, as every
// calendar date is). Weeks run from Sunday. Days that a month or year does
// not have (31 April, 29 February of a common year, a fifth Friday) are no
// occurrence. A yearly rule without "bymonth" repeats in the start's month.
//
// However far "until" or the window reaches, at most kMaxRecurrenceSteps
// candidates and periods are looked at, so a rule without a reachable end
// cannot hang its caller. A null window start means the distant past, a null
// window end the distant future.
inline constexpr int kMaxRecurrenceSteps = 100000;

QList<VtrCalendarDate> expandRecurrence(const QVariantMap &recurrence, const VtrCalendarDate &start,
                                        const VtrCalendarDate &windowStart, const VtrCalendarDate &windowEnd);
// The window from the distant past to three years from now.
QList<VtrCalendarDate> expandRecurrenceDefaultWindow(const QVariantMap &recurrence, const VtrCalendarDate &start);

// The weekday number (0 Sunday .. 6 Saturday) of each name; 2147483647 for a
// name that is none.
QList<int> weekdayIndexesForNames(const QVariantList &names);
