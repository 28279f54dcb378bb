#pragma once

#include "STDate.h"
#include "STRecord.h"

#include <QList>
#include <QMetaType>
#include <QString>
#include <QVariantList>

#include <optional>

// One BYDAY item of a recurrence rule: a two-letter weekday code ("su" ..
// "sa") and which occurrence of it within the month or year (1 first, -1
// last; 0 or none: every such weekday).
class STRecurrenceByDay
{
public:
    STRecurrenceByDay() = default;
    STRecurrenceByDay(const QString &weekday, std::optional<int> ordinalWeek)
        : m_weekdayName(weekday), m_ordinalWeek(ordinalWeek)
    {
    }
    static STRecurrenceByDay stRecurrenceByDayWithWeekday(const QString &weekday, std::optional<int> ordinalWeek)
    {
        return STRecurrenceByDay(weekday, ordinalWeek);
    }

    QString weekdayName() const { return m_weekdayName; }
    void setWeekdayName(const QString &name) { m_weekdayName = name; }
    std::optional<int> ordinalWeek() const { return m_ordinalWeek; }
    void setOrdinalWeek(std::optional<int> ordinal) { m_ordinalWeek = ordinal; }

    QString description() const;
    bool operator==(const STRecurrenceByDay &other) const = default;

private:
    QString m_weekdayName;
    std::optional<int> m_ordinalWeek;
};

Q_DECLARE_METATYPE(STRecurrenceByDay)

// A "recur" record's rule as RRULE text (no "RRULE:" prefix, upper case):
// FREQ first, then the other rule parts the record holds, in the order
// INTERVAL, COUNT, UNTIL, BYDAY, BYMONTHDAY, BYYEARDAY, BYWEEKNO, BYMONTH,
// BYHOUR, BYMINUTE, BYSECOND, BYSETPOS, WKST, each pair ending in ";". Fields
// that are no rule part (such as "device_record_id") and a count of 0 are not
// written. The record is not changed.
QString recurrenceRuleFromSTRecurrence(const STRecord &recurrence);
// A new "recur" record from RRULE text (with or without a leading "RRULE:",
// any case); null for an empty text. "byday" becomes a list of
// STRecurrenceByDay, "bymonthday" and "bymonth" lists of numbers, "until" an
// STDate (a UTC time; a date alone gives a date-only value, a local time
// without "Z" a floating one; a text that is none of these stays text);
// everything else stays lower-case text.
STRecordPtr STRecurrenceFromRecurrenceRule(const QString &rule);

// Numbers as "1,15"; an empty list gives "".
QString RFC2445ListFromSTArray(const QVariantList &numbers);
// "1,15" -> [1, 15]: each piece's leading integer (0 when it has none).
QVariantList STArrayFromRFC2445List(const QString &text);

// One "EXDATE;VALUE=DATE:yyyymmdd" line per date (its day in its own zone),
// joined with "\r\n".
QString ExDatesFromSTExceptionDates(const QList<STDate> &dates);
// The days of EXDATE lines (every value of a line's comma list), each at the
// start date's time of day in the start date's zone.
QList<STDate> STExceptionDatesFromExDates(const QString &exdates, const STDate &startDate);

// "su" .. "sa" for 0 .. 6 (the week start does not count); "" out of range.
QString stWeekdayFromOrdinalWeekday(int weekday, int weekstart);
