#pragma once

#include "foundation/MigrationStatus.h"
#include "pim/PIMDatabaseDelegate.h"
#include "pim/store/SyncStore.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantList>

#include <memory>

// A reader's delegate that keeps what it is handed: progress reports and the
// stowed Windows Live arrays.
class PimRecorder : public PIMDatabaseDelegate, public MigrationStatusProtocol
{
public:
    struct Report
    {
        QString status, phase;
        double percent;
        bool now;
    };
    void setStatus(const QString &status, const QString &phase, double percent) override
    {
        reports.append({status, phase, percent, false});
    }
    void setStatusNow(const QString &status, const QString &phase, double percent) override
    {
        reports.append({status, phase, percent, true});
    }
    void stowContacts(const QVariantList &c, const QVariantList &g) override
    {
        contacts = c;
        groups = g;
        ++stowedContacts;
    }
    void stowCalendars(const QVariantList &c) override
    {
        calendars = c;
        ++stowedCalendars;
    }
    QList<double> percents() const
    {
        QList<double> out;
        for (const Report &r : reports) out.append(r.percent);
        return out;
    }

    QList<Report> reports;
    QVariantList contacts, groups, calendars;
    int stowedContacts = 0, stowedCalendars = 0;
};

namespace pimtest {
// The checked-in test file tests/pim/data/<name>.
QByteArray dataFile(const QString &name);
// A store with the JSON fixture tests/pim/data/<name> as its only source.
std::shared_ptr<syncstore::SyncManager> fixtureStore(const QString &name);
// A store with the vdir folders (vCard and iCalendar files) as its only source.
std::shared_ptr<syncstore::SyncManager> vdirStore(const QStringList &folders);
// What the vdir folders hold of one entity, as the store reads it.
std::unique_ptr<syncstore::SyncRecordSnapshot> snapshotOf(const QStringList &folders, const QString &entityName);
// The records of one entity in a snapshot.
syncstore::SyncRecordList ofEntity(const syncstore::SyncRecordSnapshot &s, const QString &entityName);
// Compact JSON of a value, keys sorted: equal trees give equal texts.
QString canonicalJson(const QVariant &value);
}  // namespace pimtest
