#pragma once

#include "pim/PIMDatabase.h"
#include "pim/records/STRecord.h"

#include <QVariantList>

// The person's notes (memo lists): read from the store, HTML flattened to
// plain text, written as "notes" export lines into "sl_notes.json". The
// wizard only asks for its summary.
class NoteDatabase : public PIMDatabase
{
public:
    using PIMDatabase::PIMDatabase;

    QString clientIdentifier() const override;
    QString clientDescriptionPath() const override;
    QList<QUrl> schemaBundleURLs() const override;
    QStringList entityNamesToSync() const override;

    void createDatabase() override;
    QVariantMap manifestInfo() const override;

    QVariantList syncSessionForSnapshot();
    STRecordPtr convertSyncRecordToSTRecord(const QVariantMap &record, const QVariantMap &mapping);
    STRecordPtr convertNoteSyncRecordToSTRecord(const QVariantMap &record, const QVariantMap &mapping);
};
