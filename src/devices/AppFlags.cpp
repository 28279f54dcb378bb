#include "devices/AppFlags.h"

#include <atomic>

namespace {
std::atomic<bool> g_syncCancelRequested{false};
std::atomic<bool> g_mtpAccessDisabled{false};
} // namespace

bool IsSyncCancelRequested()
{
    return g_syncCancelRequested.load();
}

void SetSyncCancelRequested(bool requested)
{
    g_syncCancelRequested.store(requested);
}

bool IsMTPAccessDisabled()
{
    return g_mtpAccessDisabled.load();
}

void SetMTPAccessDisabled(bool disabled)
{
    g_mtpAccessDisabled.store(disabled);
}
