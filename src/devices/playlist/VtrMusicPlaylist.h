#pragma once

#include "fileinfo/VtrBaseFileInfo.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

class HandheldDeviceProtocol;

// One track of a playlist to be written: a file already on the phone.
struct VtrPlaylistTrack
{
    // Device path of the track ("E:\Music\Artist\01 Song.mp3").
    QString devicePath;
    // Shown by players that read it (M3U "#EXTINF"); empty: the file name
    // without its extension.
    QString title;
    // Length in whole seconds; negative: unknown.
    int durationSeconds = -1;
};

// A named list of tracks.
struct VtrPlaylistContents
{
    QString name;
    QList<VtrPlaylistTrack> tracks;
};

// A playlist writer bound to one phone (the base of the writer kinds, which
// live in the media migration library: migration/VtrMusicPlaylistKinds.h; the
// writing code of this class is defined there too, only the settings are
// this header's own, so the device library can configure a writer without
// linking the migration library): it turns playlists of tracks that are
// already on the phone into the playlist form the phone reads, and puts them
// there. PlatformDevice::defaultMusicPlaylist() chooses the kind for a phone
// from its configuration and tells the writer three settings, which the writer
// keeps and applies to everything it writes:
// - supportsMultiplePlaylists: when false the phone keeps one playlist only,
//   so all playlists handed to writePlaylists() become one, named after the
//   first, holding every track once in the order met;
// - usesRelativePaths: file formats name each track relative to the playlist
//   file's folder ("..\Music\a.mp3"), otherwise from the root of the track's
//   volume ("\Music\a.mp3"; the drive letter is this system's own name for the
//   volume and means nothing to the phone). A track on another drive than the
//   playlist is always written from its root;
// - fileExtension: of the playlist files (without the dot); each kind has its
//   default.
//
// The device is not owned and must outlive the writer. A writer is used by
// one thread at a time, like its device.
class VtrMusicPlaylist
{
public:
    virtual ~VtrMusicPlaylist() = default;
    VtrMusicPlaylist(const VtrMusicPlaylist &) = delete;
    VtrMusicPlaylist &operator=(const VtrMusicPlaylist &) = delete;

    HandheldDeviceProtocol *device() const { return m_device; }

    void setSupportsMultiplePlaylists(bool supports) { m_supportsMultiplePlaylists = supports; }
    bool supportsMultiplePlaylists() const { return m_supportsMultiplePlaylists; }
    void setUsesRelativePaths(bool relative) { m_usesRelativePaths = relative; }
    bool usesRelativePaths() const { return m_usesRelativePaths; }
    // A leading "." is dropped; an empty or null text restores the default.
    void setFileExtension(const QString &extension)
    {
        m_fileExtension = extension.startsWith(QLatin1Char('.')) ? extension.mid(1) : extension;
    }
    QString fileExtension() const { return m_fileExtension.isEmpty() ? defaultFileExtension() : m_fileExtension; }
    virtual QString defaultFileExtension() const = 0;
    // "m3u", "mtp" or "iriver".
    virtual QString formatName() const = 0;

    // Writes the playlists into the folder `folderPath` (a device path; made
    // when missing), replacing playlists of the same name there. Answers the
    // nodes of the playlists written, in order; one that could not be written
    // is logged and left out. Phone failures are caught here.
    VtrFileInfoList writePlaylists(const QList<VtrPlaylistContents> &playlists, const QString &folderPath);
    // One playlist; nullptr when it could not be written.
    VtrFileInfoPtr writePlaylist(const QString &name, const QList<VtrPlaylistTrack> &tracks, const QString &folderPath);

    // The device path a playlist named `name` gets in `folderPath`: the name
    // made a valid file name (ASCII only when the phone's file system is),
    // "Playlist" for an empty one, and the extension.
    QString playlistPathForName(const QString &name, const QString &folderPath) const;
    // How a track is named inside a playlist file at `playlistPath`, following
    // usesRelativePaths(). Backslash separators.
    QString trackReference(const QString &trackPath, const QString &playlistPath) const;

protected:
    explicit VtrMusicPlaylist(HandheldDeviceProtocol *device);
    // Writes one playlist to `playlistPath`; the node, or nullptr.
    virtual VtrFileInfoPtr writeOne(const QString &playlistPath, const QList<VtrPlaylistTrack> &tracks) = 0;
    // Puts `bytes` on the phone as the file `playlistPath`, replacing what is
    // there: over MTP through a private temporary file on this computer that
    // the device copies, otherwise by the device's file commands.
    VtrFileInfoPtr writeFileToDevice(const QString &playlistPath, const QByteArray &bytes);

private:
    HandheldDeviceProtocol *m_device;
    bool m_supportsMultiplePlaylists = true;
    bool m_usesRelativePaths = true;
    QString m_fileExtension;
};
