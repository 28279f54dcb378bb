#pragma once

#include "sources/host/FiledFiles.h"
#include "sources/host/LibraryLocation.h"
#include "sources/host/PropertyListXml.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace vtr {
struct SourceFile;
}

// The computer's music and photo libraries on Linux. There is no music or
// photo application to script here, so this host answers what the library
// scripts ask, against the person's own folders:
// - music and videos are filed into the XDG music and videos folders, one
//   folder per collection; playlists are M3U8 files (UTF-8, paths relative to
//   the playlist) in the music folder's "Playlists" folder, which desktop
//   players import (a playlist of videos only in the videos folder's); a
//   file there is replaced only while it is the one the host wrote, a
//   playlist meets the same song (title, artist, length) only once, and one
//   whose file could not be written stays recorded so until it is;
// - photos go into one folder per album in the XDG pictures folder;
// - it keeps "iTunes Music Library.xml" and "AlbumData.xml" in their usual
//   property-list formats in the application's data folder, written whole
//   (temporary file, then rename), so the library readers read back what an
//   import did.
// Each file filed is a file of its own, so that an editor writing one copy
// in place leaves the other as it was: a clone sharing the source's blocks
// where the file system makes one, else a copy (when its disk has room for
// it), written under a temporary name and renamed into place.
// A folder is filed into (a file, a playlist or a library file put into it,
// an earlier playlist file removed from it) only while it is a real folder of
// this user's, and then only through the descriptor it was checked by, never
// by its path again: a file put into a folder that another user put aside
// and replaced meanwhile is taken out again and counts as not filed.
// Every sound and video format a desktop player plays is filed: the common
// extensions at once, any other file when its content is sound or video.
//
// A file already filed is never filed again: a filed file itself (by path,
// device and inode), a file filed from and unchanged since, or in the same
// collection or album folder a file of its bytes filed there by an earlier
// import (whatever its name) or one of its name and bytes lying there, is
// answered with the track or image it already is (sources/host/FiledFiles.h).
//
// Each library file is read only when it changed on disk since this host last
// read or wrote it, and written once per operation, or once per Batch: an
// import of thousands of files costs one read and one write. A file another
// program wrote meanwhile is never overwritten.
//
// Every operation takes the host's lock: scripts run on worker threads.
// Failures throw MediaLibraryHost::Failure with a number in the scripting
// error space and a message for the person.
class MediaLibraryHost
{
public:
    struct Failure
    {
        int number;
        QString message;
        // The folder that could not be filed into, when the failure is
        // about one (a collection or album folder, say); empty otherwise.
        QString folder = QString();
        // All that failed is playlist files that were not written (each
        // recorded so: playlistsNotWritten()); the library file was saved.
        bool onlyPlaylistFiles = false;
    };
    // The number of the failure of a file that was not filed because the
    // disk it would be filed on has no room for its copy.
    static constexpr int kNoRoomNumber = -34;
    // The number of the failure of a copy of this run that is not filed
    // because what stands there is not that copy (vtr::CopiedFile).
    static constexpr int kNotTheCopyNumber = -1412;

    // What the filing asks of the disk: a clone of the file open as
    // `source` into the empty file open as `target` (0, or the errno value),
    // and the bytes free for this user on the disk of the file open as `fd`.
    // Tests stand in for a full disk, or one that clones.
    struct Disk
    {
        int (*clone)(int source, int target);
        qint64 (*freeSpace)(int fd);
    };

    struct Playlist
    {
        qint64 playlistID = 0;
        QString persistentID;
        QString name;
        bool folder = false;
        bool master = false;
    };

    // A playlist whose M3U8 file is not written, and the folder it belongs in.
    struct UnwrittenPlaylist
    {
        QString name;
        QString folder;
    };

    struct Album
    {
        qint64 albumID = 0;
        QString name;
        QString type;
    };

    // Holds back the writing of both library files and of the playlist files
    // until the outermost Batch ends (commit(), or the destructor, which only
    // logs a failure). Operations of other threads meanwhile share the state.
    class Batch
    {
    public:
        explicit Batch(MediaLibraryHost &host);
        ~Batch();
        Batch(const Batch &) = delete;
        Batch &operator=(const Batch &) = delete;
        // Writes what changed; throws Failure. Ends the batch.
        void commit();

    private:
        MediaLibraryHost *m_host;
        bool m_open = true;
    };

    static MediaLibraryHost &shared();

    // ---- folders and files

    static QString musicFolder();
    static QString videosFolder();
    static QString picturesFolder();
    static QString playlistsFolder();       // "Playlists" in the music folder
    static QString videoPlaylistsFolder();  // "Playlists" in the videos folder
    // The folder that the collection or album `name` is filed into in the
    // media folder `mediaFolder` (musicFolder(), videosFolder() or
    // picturesFolder(); empty: none).
    static QString collectionFolder(const QString &mediaFolder, const QString &name);
    static QString musicLibraryFilePath();
    static QString albumDataFilePath();
    // Whether the library file at `path` (one of the two above) stands as a
    // file of ours in a data folder of ours: only then is it read, as the
    // host reads and writes it (never through a link).
    static bool isOwnLibraryFileThere(const QString &path);
    // Why the library file at `path` (one of the two above), a file of ours
    // there, cannot be read as a library: what is wrong and on which line.
    // Nothing when it reads, or is not there, or is not ours (one that may
    // not be used is said as such). It is read as an operation reads it, and
    // what it holds is kept for the next operation, which does not read it
    // again while it stays as it is.
    std::optional<vtr::PropertyListError> libraryFileDamage(const QString &path);
    // Where the tracks of a music library file may lie (LibraryLocation.h);
    // for this host's own library also the music and videos folders.
    static vtr::LibraryTrackFolders trackFoldersOf(const QString &libraryFilePath, const QString &musicFolderLocation);

    // The versions the host answers for its music and photo sides; tests set
    // older ones to see how the readers treat older libraries.
    QString musicVersion() const;
    QString photosVersion() const;
    void setVersionsForTesting(const QString &music, const QString &photos);
    // nullopt: the real disk.
    void setDiskForTesting(const std::optional<Disk> &disk);
    // Tests: what the host holds of its libraries is read again from their
    // files, as by a new start of the program.
    void forgetLibrariesForTesting();
    // Tests stand in here for another user who puts a folder aside and a
    // link in its place: `hook` (empty: none) runs with the path of each
    // folder filed into right after the folder was checked.
    static void setAfterFolderCheckedForTesting(std::function<void(const QString &folder)> hook);
    // The music, videos and pictures folders can be had (or made).
    bool isConfigured() const;

    // ---- music

    // Files one media file (or every file of a folder, in name order) into
    // the collection; a file already filed is answered with its track.
    // Answers the track IDs. A single file that cannot be filed throws; of a
    // folder, each file that cannot be filed is logged and named in `refused`
    // and the rest are filed.
    QList<qint64> addMediaFiles(const QString &path, const QString &collection, QStringList *refused = nullptr);
    // Files the very file a copy of this run left in a folder of the new
    // phone's, read through that folder's descriptor alone; anything else
    // there (another file, a link, the copy changed) throws kNotTheCopyNumber
    // without being opened through a link or read. Answers the track ID.
    qint64 addCopiedMediaFile(const vtr::CopiedFile &copy, const QString &collection);
    // The library's own file of the track (empty: no such track).
    QString fileOfTrack(qint64 trackID);
    std::optional<Playlist> findPlaylist(const QString &name, bool folder);
    std::optional<Playlist> playlistWithPersistentID(const QString &persistentID);
    Playlist createPlaylist(const QString &name, bool folder);
    QList<Playlist> playlists();
    // Appends the tracks (once each, and a track of a song the playlist
    // lists already not at all) to the playlist and rewrites its M3U8 file.
    void addTracksToPlaylist(const QList<qint64> &trackIDs, const QString &playlistPersistentID);
    // How many of the playlists (by persistent ID) have an M3U8 file that
    // holds what was put into them: not one still to be written (within a
    // Batch), nor one whose file could not be written (its folder refused).
    qsizetype playlistFilesWritten(const QSet<QString> &persistentIDs);
    // The others of those that hold tracks, in the library's order. Each is
    // written by the next import that puts tracks into it, even tracks it
    // lists already, once its folder can be used.
    QList<UnwrittenPlaylist> playlistsNotWritten(const QSet<QString> &persistentIDs);

    // ---- photos

    // Files one picture or movie (or every file of a folder, links followed)
    // into the album's folder, creating the album when missing; answers the
    // image keys. Refusals as for addMediaFiles().
    QStringList addPhotos(const QString &path, const QString &albumName, QStringList *refused = nullptr);
    QStringList addPhotosToAlbumID(const QString &path, qint64 albumID, QStringList *refused = nullptr);
    // As addCopiedMediaFile(), for a picture or movie; answers its image key.
    QString addCopiedPhoto(const vtr::CopiedFile &copy, const QString &albumName);
    // The library's own file of the image (empty: no such image).
    QString fileOfImage(const QString &imageKey);
    std::optional<Album> findAlbum(const QString &name);
    Album createAlbum(const QString &name);
    QList<Album> albums();

private:
    struct MusicLibrary;
    struct PhotoLibrary;

    MediaLibraryHost();
    ~MediaLibraryHost();

    // Runs one operation under the lock; the outermost one (or batch) writes
    // what changed when it ends.
    template <typename F>
    auto operation(F &&work) -> decltype(work());
    void endOfWork(bool reportFailure);
    // Saves what changed; throws the failures of the libraries the work that
    // ends used (`music`, `photos`), and only logs those of the others: a
    // failure belongs to the kinds filed into that library.
    void writeChanges(bool music, bool photos);

    MusicLibrary &music();
    PhotoLibrary &photos();
    qint64 addOneMediaFile(const vtr::SourceFile &source, const QString &collection);
    QStringList addPhotosLocked(const QString &path, qint64 albumID, QStringList *refused);
    // `file` files the album's pictures (given the album's index) and
    // answers their keys; they are then put into the library and an event.
    QStringList filePhotosLocked(qint64 albumID, const std::function<QStringList(qsizetype albumIndex)> &file);
    QString addOnePhoto(const vtr::SourceFile &source, qsizetype albumIndex);
    Playlist createPlaylistLocked(const QString &name, bool folder);
    Album createAlbumLocked(const QString &name);
    // A copy of `source` (a clone where the disk makes one) in the folder
    // under `wanted`, or that name made unique; never over another file.
    // Throws kNoRoomNumber when a copy does not fit on the folder's disk,
    // and a failure when the folder is not (or no longer) a folder of ours.
    QString fileIntoFolder(const vtr::SourceFile &source, const QString &folder, const QString &wanted);
    // The ID `source` is already filed as, or else the path of its file in
    // the folder (one found there, or filed now).
    vtr::FiledFiles::Placement placeFile(vtr::FiledFiles &files, const vtr::SourceFile &source,
                                         const QString &folder);

    mutable std::recursive_mutex m_lock;
    int m_depth = 0;
    std::unique_ptr<MusicLibrary> m_music;
    std::unique_ptr<PhotoLibrary> m_photos;
    // Names taken in each folder filed into during the current operation or
    // batch, case-folded (a name differing only in case counts as taken).
    QHash<QString, QSet<QString>> m_takenNames;
    // The media folders, looked up once per operation or batch.
    QString folderOfWork(QString (*folder)());
    QHash<QString (*)(), QString> m_foldersOfWork;
    std::optional<Disk> m_diskForTesting;
    QString m_musicVersion = QStringLiteral("10.1");
    QString m_photosVersion = QStringLiteral("9.0");
};
