#pragma once

#include "sources/iphone/iPhoneSyncStore.h"

#include <memory>

namespace syncstore {
class SyncManager;
}

// The older iPhone backup scanner's synchronisation store on the
// application's own store of contacts, calendars, to-dos and notes
// (pim/store). That store is read-only and keeps no record of changes made
// elsewhere, so a session offers the client nothing to accept or refuse; the
// client registers and its sessions open and finish on it as on any store.
namespace vtr::iphone {

// Over `store`, or the application's shared store when none is given.
std::shared_ptr<SyncManager> storeSyncManager(std::shared_ptr<syncstore::SyncManager> store = nullptr);

} // namespace vtr::iphone
