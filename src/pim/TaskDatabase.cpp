#include "pim/TaskDatabase.h"

#include "foundation/Log.h"
#include "foundation/MigrationStatus.h"
#include "foundation/VtrDate.h"
#include "pim/CalendarStoreRecords.h"
#include "pim/dialect/STRecordAndroid.h"
#include "pim/records/STDate.h"
#include "platform/Strings.h"

#include <QUrl>

using namespace syncstore;
using namespace calendarstore;

QString TaskDatabase::clientIdentifier() const { return QStringLiteral("%1.tasks").arg(bundleIdentifier()); }
QString TaskDatabase::clientDescriptionPath() const { return QStringLiteral(":/pim/TasksSyncClientDescription.json"); }
QList<QUrl> TaskDatabase::schemaBundleURLs() const
{
    return {QUrl::fromLocalFile(QStringLiteral("/System/Library/SyncServices/Schemas/Calendars.syncschema"))};
}
QStringList TaskDatabase::entityNamesToSync() const
{
    return {entity::Task, entity::Calendar, entity::MailAlarm, entity::AudioAlarm, entity::DisplayAlarm, entity::Recurrence};
}

QVariantList TaskDatabase::calendarArrayAll() { return calendarstore::calendarArrayAll(snapshotRecords(entity::Calendar)); }

QVariantList TaskDatabase::syncSessionForSnapshot()
{
    std::unique_ptr<SyncRecordSnapshot> snapshot;
    QVariantList out;
    for (const SyncRecordEntry &e : snapshotRecords(entity::Task, &snapshot)) {
        QVariantMap d{{QStringLiteral("uid"), e.identifier}};
        for (const char *k : {"summary", "description", "status", "classification", "url", "priority",
                              "due date is date only", "start date", "due date", "completion date"})
            if (e.record.contains(QLatin1String(k))) d.insert(QLatin1String(k), e.record.value(QLatin1String(k)));
        addAlarms(*snapshot, e.record, d);
        const QStringList calendar = e.record.value(QStringLiteral("calendar")).toStringList();
        if (!calendar.isEmpty()) d.insert(QStringLiteral("x-ms-calendar-id"), calendar.first());
        out.append(d);
    }
    return out;
}

STRecordPtr TaskDatabase::convertSyncRecordToSTRecord(const QVariantMap &record, const QVariantMap &mapping)
{
    const QString name = mapping.value(mappingEntityKey()).toString();
    if (name == entity::Task) return convertTaskSyncRecordToSTRecord(record, mapping);
    if (name == entity::AudioAlarm || name == entity::DisplayAlarm) return alarmRecord(record);
    if (name == entity::Calendar) return calendarRecord(record);
    return nullptr;
}

STRecordPtr TaskDatabase::convertTaskSyncRecordToSTRecord(const QVariantMap &d, const QVariantMap &)
{
    static const QHash<QString, QString> statuses = {{QStringLiteral("needs-action"), QStringLiteral("needsaction")},
                                                     {QStringLiteral("in-process"), QStringLiteral("inprocess")},
                                                     {QStringLiteral("completed"), QStringLiteral("completed")},
                                                     {QStringLiteral("cancelled"), QStringLiteral("cancelled")}};
    auto r = STRecord::record();
    r->setType(QStringLiteral("vtodo"));
    r->setIdentifier(recordIdentifier(d));
    for (auto it = d.cbegin(); it != d.cend(); ++it) {
        const QString &key = it.key();
        if (key == QLatin1String("uid") || key == QLatin1String("summary") || key == QLatin1String("description") ||
            key == QLatin1String("priority")) {
            r->setValue(it.value(), key);
        } else if (key == QLatin1String("status")) {
            r->setValue(statuses.value(it.value().toString(), it.value().toString()), key);
        } else if (key == QLatin1String("url")) {
            r->setValue(it.value().toUrl().toString(QUrl::FullyEncoded), key);
        } else if (key == QLatin1String("start date")) {
            setDateField(*r, QStringLiteral("dtstart"), it.value());
        } else if (key == QLatin1String("completion date")) {
            setDateField(*r, QStringLiteral("completed"), it.value());
        } else if (key == QLatin1String("due date")) {
            setDateField(*r, QStringLiteral("due"), it.value());
            const QVariant dateOnly = d.value(QStringLiteral("due date is date only"));
            if (r->hasFieldOfType(QStringLiteral("due")) && !(dateOnly.isValid() && !dateOnly.toBool())) {
                STDate due = r->valueForFieldOfType(QStringLiteral("due")).value<STDate>();
                due.setIsDateOnly(true);
                r->setValue(QVariant::fromValue(due), QStringLiteral("due"));
            }
        }
    }
    const QString deviceStatus = d.value(QStringLiteral("device_status")).toString();
    if (!r->hasFieldOfType(QStringLiteral("status")) && !deviceStatus.isEmpty() && deviceStatus != QLatin1String("completed"))
        r->setValue(deviceStatus, QStringLiteral("status"));
    return r;
}

void TaskDatabase::processAlarmsForSyncRecord(const QVariantMap &task, STRecord &record)
{
    for (const QVariant &v : task.value(QStringLiteral("alarms")).toList()) {
        const STRecordPtr a = convertSyncRecordToSTRecord(v.toMap(), {{mappingEntityKey(), entity::AudioAlarm}});
        if (a) record.addRecord(a, QStringLiteral("valarms"));
    }
}

void TaskDatabase::createDatabase()
{
    reportNow(QStringLiteral("Collecting tasks information..."), vtrphase::Tasks, 0.05);
    ExportFile file(QStringLiteral("sl_tasks.json"));
    m_recordCount = 0;
    m_containerCount = 0;

    QHash<QString, QString> titles;
    QVariantList calendars = readStore("Could not access calendar data.", [this] { return calendarArrayAll(); });
    for (const QVariant &v : std::as_const(calendars)) {
        const QVariantMap c = v.toMap();
        if (!c.value(QStringLiteral("uid")).toString().isEmpty() && !c.value(QStringLiteral("title")).toString().isEmpty())
            titles.insert(c.value(QStringLiteral("uid")).toString(), c.value(QStringLiteral("title")).toString());
    }
    QVariantList snapshot = readStore("Could not access task data.", [this] { return syncSessionForSnapshot(); });
    const qsizetype n = snapshot.size();
    const QVariantMap mapping{{mappingEntityKey(), entity::Task}};
    for (qsizetype i = 0; i < n; ++i) {
        const QVariantMap dict = snapshot.at(i).toMap();
        const STRecordPtr record =
            convertOrSkip(dict, [&](const QVariantMap &d) { return convertSyncRecordToSTRecord(d, mapping); });
        if (!record) continue;
        try {
            processAlarmsForSyncRecord(dict, *record);
        } catch (const std::exception &) {
            VtrDebugLog(QStringLiteral("Alarms for record %1 will not be transferred to your device due to an error in their format.")
                            .arg(dict.value(QStringLiteral("uid")).toString()));
        }
        const QString title = titles.value(dict.value(QStringLiteral("x-ms-calendar-id")).toString());
        if (!title.isEmpty()) record->setValue(title, QStringLiteral("x-wr-calname"));
        auto json = jsonOrSkip(*record, JSONToDoRecordFromSTRecord);
        if (!json) continue;
        json->insert(QStringLiteral("uid"), record->valueForFieldOfType(QStringLiteral("uid")));
        if (!file.writeLine(QStringLiteral("tasks"), *json)) continue;
        ++m_recordCount;
        report(vtrLocalized("Collected %1 task records...").arg(m_recordCount), vtrphase::Tasks,
               double(i) / double(n) * 0.95 + 0.05);
    }
    m_dataSize = file.finish(*this, QStringLiteral("Copying tasks to device..."), vtrphase::Tasks,
                             QStringLiteral("Tasks file does not exist."));
}

QVariantMap TaskDatabase::manifestInfo() const
{
    return manifestWith("sl_tasks.json", "task_cnt", "Task", "Tasks");
}
