#pragma once

#include "pim/store/SyncStore.h"

namespace syncstore {

// vdir folders: one vCard (.vcf) or iCalendar (.ics) file per item. Each
// folder named (by the constructor, else by the user default
// kVdirFoldersDefaultsKey) is a collection when it holds such files, and each
// of its subfolders that holds them is one too. A collection's "displayname"
// and "color" files give its calendar's title and colour.
class VdirSource : public SyncSource
{
public:
    explicit VdirSource(QStringList folders = {});
    QString name() const override;
    SourceReadResult read(SyncDataKind kind, SyncRecordSink &sink) override;

private:
    QStringList folders() const;
    QStringList m_folders;
};

}  // namespace syncstore
