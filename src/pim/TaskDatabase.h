#pragma once

#include "pim/PIMDatabase.h"
#include "pim/records/STRecord.h"

#include <QVariantList>

// The person's to-dos with their alarms: read from the store, named after
// their calendar ("x-wr-calname"), written as "tasks" export lines into
// "sl_tasks.json" and copied into "Migration Info" whatever the target
// (to-dos have no Windows Live form).
class TaskDatabase : public PIMDatabase
{
public:
    using PIMDatabase::PIMDatabase;

    QString clientIdentifier() const override;
    QString clientDescriptionPath() const override;
    QList<QUrl> schemaBundleURLs() const override;
    QStringList entityNamesToSync() const override;

    void createDatabase() override;
    QVariantMap manifestInfo() const override;

    QVariantList calendarArrayAll();
    QVariantList syncSessionForSnapshot();

    STRecordPtr convertSyncRecordToSTRecord(const QVariantMap &record, const QVariantMap &mapping);
    STRecordPtr convertTaskSyncRecordToSTRecord(const QVariantMap &record, const QVariantMap &mapping);
    void processAlarmsForSyncRecord(const QVariantMap &task, STRecord &record);
};
