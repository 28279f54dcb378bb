#include "STRecordTemplates.h"

#include "STDate.h"
#include "STVocabulary.h"

namespace {

STRecordPtr newRecord(const QString &type, const QStringList &relationships)
{
    STRecordPtr r = STRecord::record();
    r->setType(type);
    r->setIdentifier(STRecord::newUUID());
    for (const QString &name : relationships) r->relationshipNamed(name);
    return r;
}

void setNow(STRecord &r, const QString &type, bool declared)
{
    r.setValue(QVariant::fromValue(STDate::date()), type);
    if (declared) r.fieldOfType(type).setValueClass(QMetaType::fromType<STDate>());
}

} // namespace

STRecordPtr STContactRecord()
{
    return newRecord(st::Contact, {st::NotesRel, st::JobTitles, st::Phones, st::Addresses, st::Emails, st::Urls,
                                   st::Dates, st::Associates});
}

STRecordPtr STGroupRecord()
{
    return newRecord(st::Group, {});
}

STRecordPtr STEventRecord()
{
    STRecordPtr r = newRecord(st::Event, {st::RecurRel, st::VAlarms});
    setNow(*r, st::DtStart, true);
    setNow(*r, st::DtEnd, false);
    setNow(*r, st::Created, true);
    setNow(*r, st::LastMod, true);
    r->setValue(QStringLiteral("private"), QStringLiteral("class"));
    return r;
}

STRecordPtr STToDoRecord()
{
    STRecordPtr r = newRecord(st::ToDo, {st::VAlarms});
    setNow(*r, st::Created, true);
    setNow(*r, st::LastMod, true);
    return r;
}

STRecordPtr STAlarmRecord()
{
    STRecordPtr r = newRecord(st::Alarm, {});
    r->setValue(-900, QStringLiteral("trigger"));
    r->setValue(QStringLiteral("x-seconds-offset"), QStringLiteral("x-ms-trigger-type"));
    return r;
}
