#include "devices/playlist/MusicPlaylistFactory.h"

#include <atomic>

namespace {
std::atomic<VtrMusicPlaylistFactory> g_factory{nullptr};
}

void vtrSetMusicPlaylistFactory(VtrMusicPlaylistFactory factory)
{
    g_factory.store(factory);
}

VtrMusicPlaylistFactory vtrMusicPlaylistFactory()
{
    return g_factory.load();
}
