#pragma once

#include "pim/records/STRecord.h"
#include "pim/store/SyncStore.h"

#include <QVariantList>
#include <QVariantMap>

class STDate;
class VtrCalendarDate;

// What the event and to-do readers share: the store's calendars as
// dictionaries and records, alarms, and store dates as record dates.
namespace calendarstore {

// "device_record_id" when the dictionary has one, else "uid".
QString recordIdentifier(const QVariantMap &dictionary);

// A store date (VtrCalendarDate, QDateTime or STDate) as a calendar date.
VtrCalendarDate calendarDate(const QVariant &value);
// ... as a record date (null variant when it is none).
QVariant stDateValue(const QVariant &value);
// Sets a date field with the value class STDate; nothing for a non-date.
void setDateField(STRecord &record, const QString &field, const QVariant &value);

// Calendar dictionaries ("uid" and, when present, "title", "notes", "type",
// "color", "read only") of the store's calendars; empty when none.
QVariantList calendarArrayAll(const syncstore::SyncRecordList &calendars);
// Type "calendar": "x-wr-calname" from "title", "x-wr-readonly" the text of
// "read only".
STRecordPtr calendarRecord(const QVariantMap &dictionary);

// Copies of the records a relationship names, each with "uid" added.
QVariantList relatedCopies(const syncstore::SyncRecordSnapshot &snapshot, const QStringList &identifiers);
// The store record's alarms (display, mail, audio, in that order) as
// "alarms" and "alarm_ids" of `dictionary`, when it has any.
void addAlarms(const syncstore::SyncRecordSnapshot &snapshot, const QVariantMap &storeRecord, QVariantMap &dictionary);

// Type "valarm": "trigger" the duration in seconds with "x-ms-trigger-type"
// "x-seconds-offset", else the trigger date with "date-time"; then
// "summary", "description", "device_record_id".
STRecordPtr alarmRecord(const QVariantMap &dictionary);

}  // namespace calendarstore
