#pragma once

#include "pim/store/SyncStore.h"

#include <QByteArray>
#include <QVariantMap>
#include <QHash>
#include <QList>
#include <QString>

class VtrCalendarDate;

namespace syncstore {

class TimeReader;

// Turns iCalendar text (a VCALENDAR, bare components, or several of either)
// into the calendar entities of one snapshot, for one calendar (`calendarId`):
//  - Events: VEVENTs with their recurrences, exception dates and alarms;
//    detached occurrences (RECURRENCE-ID) come after every main event;
//  - Tasks: VTODOs with their alarms;
//  - Notes: VJOURNALs.
// Times with a TZID keep that zone when it is a known zone (IANA or Windows
// name); otherwise the file's VTIMEZONE (or libical's own zone of that name)
// gives the instant, and the zone is one with the same offsets as its rules
// (see ICalZones.h). Floating times and dates are in the default zone.
class CalendarItemBuilder
{
public:
    CalendarItemBuilder(SyncRecordSink &sink, SyncDataKind kind, QString calendarId);

    // False when the text is not iCalendar. `fallbackUid` names items without UID.
    bool addICalendarText(const QByteArray &text, const QString &fallbackUid);
    // Adds the detached occurrences kept back; call once after all texts.
    void finish();
    qsizetype itemCount() const { return m_items; }

private:
    struct Pending
    {
        QString uid;
        QString wantedId;
        QVariantMap record;
        QStringList alarmIds[3];
        QVariantList recurrences;  // recurrence records, added once the id is known
        QList<QVariantMap> alarms[3];
    };
    void addComponent(void *component, const TimeReader &times, const QString &fallbackUid);
    void addEvent(Pending &p);

    SyncRecordSink &m_sink;
    SyncDataKind m_kind;
    QString m_calendarId;
    qsizetype m_items = 0;
    QHash<QString, QString> m_mainIdForUid;
    QList<Pending> m_detached;
};

// The store's recurrence dictionary of an RRULE value (no "RRULE:" before
// it), as the vdir and desktop calendars give it for an event starting at
// `start` (which gives a floating UNTIL its zone); empty when it is no rule.
QVariantMap recurrenceDictionaryFromRule(const QByteArray &rule, const VtrCalendarDate &start);

// Weekday names of the store ("sunday" ... "saturday") by libical's numbering
// (1 = Sunday).
QString storeWeekdayName(int icalWeekday);

}  // namespace syncstore
