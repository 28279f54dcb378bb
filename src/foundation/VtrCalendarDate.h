#pragma once

#include <QDateTime>
#include <QString>
#include <QTimeZone>

#include <optional>

// A calendar date: an instant, the time zone that decides which year, month,
// day, hour, minute and second it shows, and a strftime-like calendar format
// for its text form. Unlike QDate/QDateTime, building a date from components
// carries out-of-range values over (month 13 is January of the next year,
// 31 April is 1 May, hour 25 is 1 o'clock the next day).
//
// Local times that do not exist in a zone (a daylight-saving gap) are moved
// forward by the length of the gap; local times that exist twice take the
// first occurrence.
//
// A default-constructed calendar date is null (isNull()); every operation on a
// null date answers a null date or a null string. Readers of text answer
// std::nullopt where the text cannot be read.
class VtrCalendarDate
{
public:
    VtrCalendarDate() = default;
    // `instant` may be in any time spec; it is kept as the same instant. An
    // invalid `zone` means GMT.
    explicit VtrCalendarDate(const QDateTime &instant, const QTimeZone &zone = QTimeZone::systemTimeZone(),
                             const QString &calendarFormat = QString());

    // The given local time in `zone`, with out-of-range components carried
    // over in 64-bit arithmetic.
    static VtrCalendarDate fromComponents(int year, int month, int day, int hour, int minute, int second,
                                          const QTimeZone &zone);

    // The format used by description() when none is set.
    static QString defaultCalendarFormat(); // "%Y-%m-%d %H:%M:%S %z"

    bool isNull() const { return !m_instant.isValid(); }
    // The instant, in UTC (milliseconds kept).
    QDateTime instant() const { return m_instant; }
    qint64 secsSinceEpoch() const;
    QTimeZone timeZone() const { return m_zone; }
    void setTimeZone(const QTimeZone &zone);
    QString calendarFormat() const { return m_format; }
    void setCalendarFormat(const QString &format) { m_format = format; }
    // Offset of the zone from GMT at this instant, in seconds (east positive).
    int offsetFromUtc() const;

    // Components as shown in the date's own zone.
    int yearOfCommonEra() const;
    int monthOfYear() const;
    int dayOfMonth() const;
    int hourOfDay() const;
    int minuteOfHour() const;
    int secondOfMinute() const;
    int dayOfWeek() const; // 0 = Sunday ... 6 = Saturday
    int dayOfYear() const; // 1 ... 366

    // Adds the amounts to the shown components and carries over, keeping the
    // zone and format.
    VtrCalendarDate dateByAddingYears(int years, int months, int days, int hours, int minutes, int seconds) const;

    // Text with the calendar format (or the default one). Supported
    // conversions: %% %a %A %b %B %c %d %e %F (milliseconds) %H %I %j %m %M %p
    // %S %w %x %X %y %Y %Z %z; anything else is copied as it stands.
    QString description() const;
    QString descriptionWithCalendarFormat(const QString &format) const;

    // Same instant, compared to the millisecond; zones and formats don't count.
    bool operator==(const VtrCalendarDate &other) const { return m_instant == other.m_instant; }
    bool operator!=(const VtrCalendarDate &other) const { return !(*this == other); }

    // ---- calendar-date extensions

    // A copy through the date's text form with its own format (or the default
    // one) read back: the same instant to the second, fractions dropped, shown
    // in a fixed zone with the offset that the text carries.
    static VtrCalendarDate dateWithDate(const VtrCalendarDate &date);
    // The same for a plain date: its offset is the QDateTime's own (GMT for UTC).
    static VtrCalendarDate dateWithDate(const QDateTime &date);

    VtrCalendarDate start() const; // 00:00:00 of the same day in the receiver's zone
    VtrCalendarDate end() const;   // 23:59:59 of the same day in the receiver's zone
    // -1, 0 or 1 as the two start() values are ascending, the same or descending.
    int compareDateIgnoringTime(const VtrCalendarDate &other) const;
    // start <= receiver <= end, both ends included.
    bool isBetweenStart(const QDateTime &startDate, const QDateTime &endDate) const;
    bool isBetweenStart(const VtrCalendarDate &startDate, const VtrCalendarDate &endDate) const;

    VtrCalendarDate iCalDateIgnoringTime() const;         // same day, 12:00:00 GMT
    VtrCalendarDate syncServicesDateIgnoringTime() const; // same day, 12:00:00 GMT
    VtrCalendarDate stDateIgnoringTime() const;           // same day, 00:00:00 GMT
    VtrCalendarDate blackberryDateIgnoringTime() const;   // same day, 00:00:00 in the default zone
    VtrCalendarDate firstSecondOfDayLocalTimeExpressedAsGMT() const;
    VtrCalendarDate lastSecondOfDayLocalTimeExpressedAsGMT() const;

    // "%04d%02d%02d": 23:59:59 of that day in the system zone.
    static std::optional<VtrCalendarDate> dateWithVCalString(const QString &text);
    // "%04d%02d%02d": 00:00:00 of that day in GMT.
    static std::optional<VtrCalendarDate> dateBeginGMTWithVCalString(const QString &text);
    // "%04d%02d%02dT%02d%02d%02d" as a GMT time, shown in the system zone.
    static std::optional<VtrCalendarDate> dateTimeWithVCalString(const QString &text);
    // "%04d%02d%02dT%02d%02d%02dZ" (the "Z" is not required) as a GMT time,
    // shown in the system zone.
    static std::optional<VtrCalendarDate> dateTimeWithAndroidExceptionString(const QString &text);
    // "%04d%02d%02d%02d%02d%02d" as a GMT time, shown in GMT.
    static std::optional<VtrCalendarDate> dateTimeWithSymbianUTCCalString(const QString &text);
    // The same reading; a null text gives nullopt too.
    static std::optional<VtrCalendarDate> dateTimeWithST2String(const QString &text);

    // ST2 text of the date's components in its own zone; null for a null date.
    static QString st2StringWithCalDate(const VtrCalendarDate &date);
    QString st2StringWithoutTimezone() const;
    // ST2 text in GMT.
    QString st2String() const;
    // The same instant (to the second) shown in GMT.
    VtrCalendarDate utcDate() const;

    // (day of month + 6) / 7: days 1-7 give 1, 8-14 give 2, ... 29-31 give 5.
    int weekOfMonth() const;

private:
    struct Fields
    {
        int year, month, day, hour, minute, second, msec;
    };
    Fields fields() const;

    QDateTime m_instant; // UTC
    QTimeZone m_zone;
    QString m_format;
};

namespace vtr {

// The process's default time zone (the system zone unless set; a change of
// the system zone is seen within a second, a change of TZ at once).
// Thread-safe.
QTimeZone defaultTimeZone();
// An invalid zone restores the system zone.
void setDefaultTimeZone(const QTimeZone &zone);

// Days since 1 January 1970 of a day of the proleptic Gregorian calendar,
// and back; years are counted astronomically (0 is 1 BC, -1 is 2 BC).
qint64 daysFromCivil(qint64 year, int month, int day);
void civilFromDays(qint64 days, qint64 &year, int &month, int &day);

// QTimeZone::utc(), made once: QTimeZone::utc() makes a new zone object on
// every call, and date code asks for it all the time.
const QTimeZone &utcTimeZone();

// A fixed zone with the given offset from GMT in seconds (0 gives GMT).
QTimeZone timeZoneWithOffset(int secondsFromGmt);

// Offsets of one zone from GMT, each looked up in the zone's data once per
// stretch between two transitions and kept per thread for the few zones last
// used: a reader shows thousands of dates in a few zones, an expanded
// recurrence thousands of times in one, and each look-up in the zone's data
// is costly. A handle is used on the thread that made it; an invalid zone
// means GMT.
class ZoneOffsets
{
public:
    explicit ZoneOffsets(const QTimeZone &zone);
    // Offset from GMT at the instant, in seconds (east positive).
    int offsetAt(qint64 utcSecs);
    // Local wall-clock seconds (counted as if the zone were GMT) to the
    // instant, read as VtrCalendarDate::fromComponents() reads them: a time in
    // a daylight-saving gap moves forward by the length of the gap, a repeated
    // time takes its first occurrence.
    qint64 localToUtc(qint64 localSecs);

private:
    struct Cache;
    void attach();
    QTimeZone m_zone;
    Cache *m_cache = nullptr;
    quint64 m_generation = 0;
    bool m_utc;
};

} // namespace vtr
