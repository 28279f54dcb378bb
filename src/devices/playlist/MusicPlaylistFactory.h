#pragma once

#include <memory>

class HandheldDeviceProtocol;
class VtrMusicPlaylist;

// The playlist writers belong to the media migration library, which builds on
// this one: the base VtrMusicPlaylist is declared beside it
// (devices/playlist/VtrMusicPlaylist.h) so that the device can configure and
// hand out a writer, but its writing code and the kinds (M3U, MTP, iriver) are migration's. A
// direct call from here would make the two libraries need each other, so the
// migration library registers one plain function that makes writers, and
// PlatformDevice::defaultMusicPlaylist() calls it.
//
// The migration library registers itself when any of its writer classes is
// linked in, and again through vtrRegisterMusicPlaylistWriters() (declared in
// migration/VtrMusicPlaylistKinds.h), which the application calls at start-up.
// Without a registered function defaultMusicPlaylist() answers nullptr.

// The file formats a phone's configuration may ask for ("musicInfo"
// "playlistFormat": "iriver", "mtp", anything else M3U).
enum class VtrMusicPlaylistFormat {
    M3U,
    MTP,
    Iriver,
};

// Makes a new writer of `format` bound to `device` (not owned), with the
// kind's own settings (the playlistWithDevice class operation of the kind).
using VtrMusicPlaylistFactory = std::unique_ptr<VtrMusicPlaylist> (*)(VtrMusicPlaylistFormat format,
                                                                      HandheldDeviceProtocol *device);

// Thread-safe. A later registration replaces an earlier one; nullptr removes it.
void vtrSetMusicPlaylistFactory(VtrMusicPlaylistFactory factory);
VtrMusicPlaylistFactory vtrMusicPlaylistFactory();
