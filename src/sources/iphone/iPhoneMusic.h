#pragma once

#include "fileinfo/GuardedMediaInput.h"
#include "fileinfo/VtrBaseFileInfo.h"
#include "sources/itunes/iTunesInfo.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <optional>
#include <utility>

// The music an old iPhone holds, as far as this computer can know it, and
// the tracks of the person's music library behind it. The phone's songs
// were synced from the library, whose files (with their own names, not
// the phone's) are what is worth copying; tracks of the library that never
// were on the phone are not the phone's music.
namespace vtr::iphone {

// The name of the exception raised when the phone does not let this computer
// read it (locked, or not trusting this computer); its reason says what the
// person can do.
inline constexpr const char *kPhoneNotTrustedException = "iPhoneNotTrusted";

// One song on the phone: its file and what the file's tags name.
struct PhoneTrack
{
    QString path;
    QString name;
    QString artist; // the track's artist, else the album's
    QString album;
    QString genre;
    // Why the file could not be read as a song; empty when it was.
    QString unreadable = {};
};

// The tags of one sound file; fields the file does not name stay empty. The
// file is read as the phone's files must be (vtr::GuardedMediaInput).
PhoneTrack phoneTrackForFile(const QString &path);
// The same for a song read from the phone without a local path; `path` is
// its path on the phone.
PhoneTrack phoneTrackForSource(vtr::MediaByteSource &source, const QString &path);

// How far a walk of the phone's songs goes, through its file service or a
// mount of its media folder: folders below the music folder (the phone keeps
// its songs in F00 to F49 there), songs, and names listed in all (songs,
// folders, anything else; each folder's listing stops once the walk has
// listed this many). A phone keeps nothing but its songs in those folders,
// so the names bound leaves room above the songs bound and is met only by a
// folder filled on purpose; the names a walk holds stay within it (some tens
// of megabytes at most).
struct SongWalkBounds
{
    int depth = 3;
    int songs = 200000;
    qint64 names = 250000;
};

// The phone's songs below "iTunes_Control/Music" of each of its media folders
// that this computer has mounted, in path order; nullopt when no such folder
// is among them, so the phone's songs cannot be known. Nothing is reached
// through a link: from the media folder down, an entry that is a link is left
// out, and a file is read once however many names it has. The walk stays
// within `bounds`; what it left out is logged.
std::optional<QList<PhoneTrack>> phoneTracksInMediaFolders(const VtrFileInfoList &storages,
                                                           const SongWalkBounds &bounds = {});

// The phone's songs as this computer can know them: those of its media
// folders mounted here (`storages`, the phone's own volumes, and the
// desktop's or ifuse's mounts of the phone whose USB serial number is
// `serial`, looked up now), else those the phone's file service lists below
// "iTunes_Control/Music" (read through the service, never copied whole; a
// song the phone fails to give is `unreadable` with the phone's reason).
// nullopt when neither can be had. Either walk stays within `bounds`.
// Throws VtrException named kPhoneNotTrustedException when the phone refuses
// this computer, and "DeviceException" when its songs cannot be listed.
std::optional<QList<PhoneTrack>> phoneTracks(const QString &serial, const VtrFileInfoList &storages,
                                             const SongWalkBounds &bounds = {});

struct PhoneMusicChoice
{
    // False when neither the phone's songs nor a sync selection for this
    // library was known: nothing can be said to be on the phone.
    bool known = false;
    // Library tracks, each once, in the order of their track IDs.
    iTunesInfo::ItemList tracks;
    // Phone songs with no library track behind them (their names, or file
    // names where they have none).
    QStringList notInLibrary;
    // Phone songs that could not be read: their paths and why.
    QList<std::pair<QString, QString>> unreadable;
};

// The library tracks behind the phone's songs (for each song, of the library
// tracks with its name, artist, album and genre, the one with the highest
// track ID whose file is on this computer) and those of the sync selection
// (`syncState`, taken only when it names this library); either may be
// unknown (nullopt). Videos, podcasts and protected tracks are left out, and
// so are the phone's songs that could not be read.
PhoneMusicChoice libraryTracksOnPhone(iTunesInfo &model, const std::optional<QList<PhoneTrack>> &phoneTracks,
                                      const std::optional<QVariantMap> &syncState);

} // namespace vtr::iphone
