#pragma once

#include "foundation/VtrCalendarDate.h"

#include <QMetaType>
#include <QString>
#include <QTimeZone>
#include <QVariant>

// A date-valued field of a PIM record: the instant as fourteen UTC digits
// "YYYYMMDDhhmmss", the name of the zone in which it is shown (empty: a
// floating time) and a flag that marks a calendar day without a time of day.
//
// The zero-offset zone is written "GMT"; "GMT", "UTC" and "Z" all read as
// QTimeZone::utc(). A UTC text that is not fourteen digits of a real date and
// time gives a null calendarDate(): a broken value never turns into 1970 or
// into today.
class STDate
{
public:
    // The current instant in the process's default time zone.
    STDate();
    STDate(const QString &utcTimeString, const QString &timeZoneName);
    STDate(const QString &utcTimeString, const QTimeZone &timeZone);

    static STDate date() { return STDate(); }
    static STDate dateWithCalendarDate(const VtrCalendarDate &date);

    QString utcTimeString() const { return m_utcTimeString; }
    void setUTCTimeString(const QString &text) { m_utcTimeString = text; }
    // The zone name; empty for a floating time.
    QString timeZone() const { return m_timeZone; }
    void setTimeZone(const QString &name) { m_timeZone = name; }
    bool isFloating() const { return m_timeZone.isEmpty(); }

    bool isDateOnly() const { return m_isDateOnly; }
    // true: keeps the calendar day shown in the stored zone, as 00:00:00 GMT of
    // that day, and the zone becomes "GMT". false: clears the flag only.
    void setIsDateOnly(bool dateOnly);

    // The instant, shown in the stored zone (GMT when floating or unknown);
    // null when the UTC text does not parse.
    VtrCalendarDate calendarDate() const;
    // Takes the instant and the zone name of `date`.
    void setCalendarDate(const VtrCalendarDate &date);

    // -1, 0, 1 as the instants ascend; a null instant sorts first.
    int compare(const STDate &other) const;
    // Same instant; zones and the date-only flag do not count.
    bool operator==(const STDate &other) const { return compare(other) == 0; }
    bool operator!=(const STDate &other) const { return !(*this == other); }

    // "<UTC text> <zone>", or "<UTC text> (floating)".
    QString description() const;

    // The name written for the zero-offset zone.
    static QString gmtName();
    // The name stored for a zone (GMT for the zero-offset zone).
    static QString nameOfZone(const QTimeZone &zone);
    // The zone of a stored name; an invalid zone for an unknown name.
    static QTimeZone zoneNamed(const QString &name);

private:
    QString m_utcTimeString;
    QString m_timeZone;
    bool m_isDateOnly = false;
};

Q_DECLARE_METATYPE(STDate)

// The value transformer between STDate and the calendar date.
namespace STDateToNSCalendarDateTransformer {
inline constexpr const char kName[] = "STDateToNSCalendarDateTransformer";
inline constexpr bool allowsReverseTransformation() { return true; }
VtrCalendarDate transformedValue(const STDate &date);
STDate reverseTransformedValue(const VtrCalendarDate &date);
} // namespace STDateToNSCalendarDateTransformer

// "YYYYMMDDhhmmss" of the date in its own zone; a plain QDateTime is first
// shown in the default zone. Null for a null date.
QString STStringFromCalendarDate(const VtrCalendarDate &date);
QString STStringFromCalendarDate(const QDateTime &date);
// The day of the date in its own zone, at 00:00:00 GMT, as fourteen digits.
QString STDateOnlyStringFromCalendarDate(const VtrCalendarDate &date);
QString STDateOnlyStringFromCalendarDate(const QDateTime &date);
// Fourteen UTC digits as a calendar date shown in GMT; null when they do not
// parse.
VtrCalendarDate CalendarDateFromSTString(const QString &text);
// "mo,we,fr" -> "Monday, Wednesday and Friday" in the current locale.
QString WeekdayListDisplayString(const QString &text);
