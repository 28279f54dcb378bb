#pragma once

#include "devices/playlist/VtrMusicPlaylist.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

// M3U text in UTF-8 (no byte-order mark), lines ending in CR LF:
//   #EXTM3U
//   #EXTINF:<seconds, -1 when unknown>,<title>
//   <track reference>
// (the last two lines once per track). Default extension "m3u".
class VtrMusicPlaylist_m3u : public VtrMusicPlaylist
{
public:
    static std::unique_ptr<VtrMusicPlaylist_m3u> playlistWithDevice(HandheldDeviceProtocol *device);

    QString defaultFileExtension() const override { return QStringLiteral("m3u"); }
    QString formatName() const override { return QStringLiteral("m3u"); }
    // The file's bytes for a playlist that will lie at `playlistPath`.
    QByteArray playlistData(const QList<VtrPlaylistTrack> &tracks, const QString &playlistPath) const;

protected:
    using VtrMusicPlaylist::VtrMusicPlaylist;
    VtrFileInfoPtr writeOne(const QString &playlistPath, const QList<VtrPlaylistTrack> &tracks) override;
};

// A playlist object made by the phone itself over MTP
// (HandheldDeviceProtocol::setDevicePlaylistForPlaylistPath). Such a playlist
// refers to the track objects, not to paths, so usesRelativePaths() has
// nothing to change here; the extension is part of the playlist's path
// (default "pla"), the phone names the object after the rest of the name.
class VtrMusicPlaylist_mtp : public VtrMusicPlaylist
{
public:
    static std::unique_ptr<VtrMusicPlaylist_mtp> playlistWithDevice(HandheldDeviceProtocol *device);

    QString defaultFileExtension() const override { return QStringLiteral("pla"); }
    QString formatName() const override { return QStringLiteral("mtp"); }

protected:
    using VtrMusicPlaylist::VtrMusicPlaylist;
    VtrFileInfoPtr writeOne(const QString &playlistPath, const QList<VtrPlaylistTrack> &tracks) override;
};

// The binary "iriver UMS PLA" playlist, default extension "pla". Layout (all
// numbers big-endian, every block 512 bytes):
//
//   header block
//     0 ..   3   number of entry blocks that follow (unsigned 32-bit)
//     4 ..  17   the ASCII text "iriver UMS PLA" (14 bytes, no terminator)
//    18 .. 511   zero
//   one entry block per track, in playlist order
//     0 ..   1   1-based position, counted in UTF-16 units, of the file name
//                within the path below (unsigned 16-bit): 1 + the position of
//                the last backslash + 1, or 1 when there is none
//     2 .. 511   the track reference (trackReference(), backslash separators)
//                in UTF-16 big-endian without byte-order mark, then zeros
//
// A reference longer than kMaxPathUnits UTF-16 units (it would leave no room
// for a terminating zero) cannot be written: that track is left out and
// logged, and the count holds the entries actually written.
class VtrMusicPlaylist_iriver : public VtrMusicPlaylist
{
public:
    static constexpr int kBlockSize = 512;
    static constexpr int kMaxPathUnits = (kBlockSize - 2) / 2 - 1; // 254
    static const char kSignature[];                                // "iriver UMS PLA"

    static std::unique_ptr<VtrMusicPlaylist_iriver> playlistWithDevice(HandheldDeviceProtocol *device);

    QString defaultFileExtension() const override { return QStringLiteral("pla"); }
    QString formatName() const override { return QStringLiteral("iriver"); }
    QByteArray playlistData(const QList<VtrPlaylistTrack> &tracks, const QString &playlistPath) const;

protected:
    using VtrMusicPlaylist::VtrMusicPlaylist;
    VtrFileInfoPtr writeOne(const QString &playlistPath, const QList<VtrPlaylistTrack> &tracks) override;
};

// Registers the writers with the device library (devices/playlist/MusicPlaylistFactory.h) so
// that PlatformDevice::defaultMusicPlaylist() can make them. Idempotent; the
// application calls it at start-up (it also runs when this file's code is
// linked in).
void vtrRegisterMusicPlaylistWriters();
