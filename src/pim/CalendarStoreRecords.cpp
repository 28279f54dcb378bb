#include "pim/CalendarStoreRecords.h"

#include "foundation/VtrCalendarDate.h"
#include "pim/records/STDate.h"

#include <QDateTime>

using namespace syncstore;

namespace calendarstore {

QString recordIdentifier(const QVariantMap &d)
{
    return d.value(d.contains(QStringLiteral("device_record_id")) ? QStringLiteral("device_record_id")
                                                                  : QStringLiteral("uid"))
        .toString();
}

VtrCalendarDate calendarDate(const QVariant &v)
{
    if (stHolds<VtrCalendarDate>(v)) return v.value<VtrCalendarDate>();
    if (stHolds<STDate>(v)) return v.value<STDate>().calendarDate();
    if (v.typeId() == QMetaType::QDateTime) return VtrCalendarDate(v.toDateTime(), vtr::defaultTimeZone());
    return {};
}

QVariant stDateValue(const QVariant &value)
{
    const VtrCalendarDate d = calendarDate(value);
    return d.isNull() ? QVariant() : QVariant::fromValue(STDate::dateWithCalendarDate(d));
}

void setDateField(STRecord &record, const QString &field, const QVariant &value)
{
    const QVariant date = stDateValue(value);
    if (!date.isValid()) return;
    record.setValue(date, field);
    record.fieldOfType(field).setValueClass(QMetaType::fromType<STDate>());
}

QVariantList calendarArrayAll(const SyncRecordList &calendars)
{
    QVariantList out;
    for (const SyncRecordEntry &e : calendars) {
        QVariantMap c{{QStringLiteral("uid"), e.identifier}};
        for (const char *k : {"title", "notes", "type", "color", "read only"})
            if (e.record.contains(QLatin1String(k))) c.insert(QLatin1String(k), e.record.value(QLatin1String(k)));
        out.append(c);
    }
    return out;
}

STRecordPtr calendarRecord(const QVariantMap &d)
{
    auto r = STRecord::record();
    r->setType(QStringLiteral("calendar"));
    r->setIdentifier(recordIdentifier(d));
    r->setValue(d.value(QStringLiteral("title")), QStringLiteral("x-wr-calname"));
    if (d.contains(QStringLiteral("read only")))
        r->setValue(d.value(QStringLiteral("read only")).toString(), QStringLiteral("x-wr-readonly"));
    return r;
}

QVariantList relatedCopies(const SyncRecordSnapshot &snapshot, const QStringList &identifiers)
{
    QVariantList out;
    for (const SyncRecordEntry &e : snapshot.recordsWithIdentifiers(identifiers)) {
        QVariantMap copy = e.record;
        copy.insert(QStringLiteral("uid"), e.identifier);
        out.append(copy);
    }
    return out;
}

void addAlarms(const SyncRecordSnapshot &snapshot, const QVariantMap &storeRecord, QVariantMap &d)
{
    static const QString relationships[] = {QStringLiteral("display alarms"), QStringLiteral("mail alarms"),
                                            QStringLiteral("audio alarms")};
    QStringList ids;
    for (const QString &rel : relationships) {
        const auto it = storeRecord.constFind(rel);
        if (it != storeRecord.cend()) ids += it->toStringList();
    }
    if (ids.isEmpty()) return;
    const QVariantList alarms = relatedCopies(snapshot, ids);
    if (!alarms.isEmpty()) d.insert(QStringLiteral("alarms"), alarms);
    d.insert(QStringLiteral("alarm_ids"), ids);
}

STRecordPtr alarmRecord(const QVariantMap &d)
{
    auto r = STRecord::record();
    r->setType(QStringLiteral("valarm"));
    r->setIdentifier(recordIdentifier(d));
    if (d.contains(QStringLiteral("triggerduration"))) {
        r->setValue(d.value(QStringLiteral("triggerduration")), QStringLiteral("trigger"));
        r->setValue(QStringLiteral("x-seconds-offset"), QStringLiteral("x-ms-trigger-type"));
    } else {
        setDateField(*r, QStringLiteral("trigger"), d.value(QStringLiteral("triggerdate")));
        r->setValue(QStringLiteral("date-time"), QStringLiteral("x-ms-trigger-type"));
    }
    for (const char *k : {"summary", "description", "device_record_id"})
        if (d.contains(QLatin1String(k))) r->setValue(d.value(QLatin1String(k)), QLatin1String(k));
    return r;
}

}  // namespace calendarstore
