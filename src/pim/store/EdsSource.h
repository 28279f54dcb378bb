#pragma once

#include "pim/store/SyncStore.h"

namespace syncstore {

// Evolution Data Server, the address-book and calendar service of GNOME
// desktops, read through its client libraries when its source registry
// answers on the session bus. Every enabled address book, calendar, task list
// and memo list is read; calendars derived from the contacts (the
// "Birthdays & Anniversaries" calendar) are left out. A service that does not
// answer is no source; one of its books or calendars that cannot be opened or
// read is an error naming it.
class EdsSource : public SyncSource
{
public:
    // Seconds a book or calendar may take to come online before its cached
    // contents are read; -1 reads them at once. Waiting needs the desktop's
    // credentials prompter for online accounts, which this program is not,
    // so a wait only ends in its time-out.
    explicit EdsSource(int connectTimeoutSeconds = -1);
    QString name() const override;
    SourceReadResult read(SyncDataKind kind, SyncRecordSink &sink) override;

private:
    int m_connectTimeout;
};

}  // namespace syncstore
