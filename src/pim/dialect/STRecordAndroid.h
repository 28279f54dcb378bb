#pragma once

#include "pim/records/STDate.h"
#include "pim/records/STRecord.h"

#include <QList>
#include <QString>
#include <QVariantList>
#include <QVariantMap>

#include <optional>

// The record JSON dialect: the one JSON form of a PIM record (the "record"
// member of every export line, the companion app's "nroid_con.json" and
// "nroid_cal.json", the input of the Windows Live conversion), and the
// converters between it and STRecord for every record kind.
//
// A JSON record is a QVariantMap with text keys; dates travel as fourteen
// UTC digits. Writers take the record as it is and never change it; they
// write only values JSON can carry. Readers accept whatever a JSON parser
// made: a value of an unexpected kind is skipped, never fatal.

// ---- contacts and groups
QVariantMap JSONContactRecordFromSTRecord(const STRecord &contact);
// One dictionary per related record: its fields ("device_record_id" as "id",
// dates as UTC text) and "uid" (its identifier, when it has one).
QVariantList JSONArrayFromSTRecords(const STRecordList &records);
STRecordPtr STContactRecordFromJSONRecord(const QVariantMap &json);
STRecordList STRecordsFromJSONArray(const QVariantList &array, const QString &type);
QVariantList singleAddressArrayFromSTRecords(const STRecordList &addresses);
STRecordList STRecordsFromSingleAddressArray(const QVariantList &array);
QVariantMap JSONGroupRecordFromSTRecord(const STRecord &group);
STRecordPtr STGroupRecordFromJSONRecord(const QVariantMap &json);

// A contact's "birthday" text: eight digits "yyyymmdd", the year st::kNoYear
// (the desktop address book's mark) for a day whose year is not known. Read
// also: "--mmdd", "--mm-dd", and the year 0000, as no year; other eight
// characters are read as three numbers, a non-digit giving 0.
struct STBirthday
{
    int year = 0;  // 0: not known
    int month = 0;
    int day = 0;
};
std::optional<STBirthday> stBirthdayFromText(const QString &text);
QString stBirthdayText(const STBirthday &birthday);

// ---- calendars, events, alarms, to-dos, attendees
QVariantMap JSONCalendarRecordFromSTRecord(const STRecord &calendar);
STRecordPtr STCalendarRecordFromJSONRecord(const QVariantMap &json);
// Every written event has "x-ms-all-day"; "x-wr-timezone" names the zone of
// its start (of its last date field when it has no start); a weekly rule
// without days repeats on the start's weekday.
QVariantMap JSONEventRecordFromSTRecord(const STRecord &event);
STRecordPtr STEventRecordFromJSONRecord(const QVariantMap &json);
QVariantMap JSONAlarmRecordFromSTRecord(const STRecord &alarm);
STRecordPtr STAlarmRecordFromJSONRecord(const QVariantMap &json);
QString JSONRecurrenceRecordFromSTRecord(const STRecord &recurrence);
STRecordPtr STRecurrenceRecordFromJSONRecord(const QString &rule);
// "20121231T235959Z,20130107T235959Z"; dates whose text does not parse are
// left out.
QString AndroidExDatesFromSTExceptionDates(const QList<STDate> &dates);
QList<STDate> STExceptionDatesFromAndroidExDates(const QString &text);
QVariantMap JSONToDoRecordFromSTRecord(const STRecord &todo);
STRecordPtr STToDoRecordFromJSONRecord(const QVariantMap &json);
QVariantMap JSONAttendeeRecordFromSTRecord(const STRecord &attendee);
STRecordPtr STAttendeeRecordFromJSONRecord(const QVariantMap &json); // always null

// ---- call and message logs, notes
STRecordPtr STCallLogRecordFromJSONRecord(const QVariantMap &json);
STRecordPtr STSMSLogRecordFromJSONRecord(const QVariantMap &json);
QVariantMap JSONNoteRecordFromSTRecord(const STRecord &note);
// A webOS note as an XML record tree (see STRecordXML.h).
QVariantMap deviceRecordFromWebOSDeviceRecord(const QVariantMap &webOSNote);

// ---- dispatch by type
// By the JSON record's "of": "contact", "group", "calendar", "vevent" or
// "event", "task", "call", "sms"; null (after a line in the log) for a
// missing or unknown type. The identifier is not used.
STRecordPtr stRecordFromDeviceRecord(const QVariantMap &json, const QString &identifier = QString());
// By the record's type; "call", "sms" and unknown types give {}.
QVariantMap deviceRecordFromSTRecord(const STRecord &record);

// ---- helpers shared with the readers of the dialect
// The first `count` characters as the reader sees them: never a half of a
// surrogate pair or a letter without its combining marks; a shorter text is
// taken whole.
QString stLeftCharacters(const QString &text, int count);
// The day of a date value ("YYYYMMDD"): a text's first eight characters, an
// STDate's day in its own zone.
QString stDayText(const QVariant &value);
// The log line for a record left out: its identifier and type, never its
// contents.
QString stRecordLeftOutMessage(const STRecord &record);
