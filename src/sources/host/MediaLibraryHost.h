#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <mutex>
#include <optional>

// The computer's music and photo libraries on Linux. There is no music or
// photo application to script here, so this host answers what the library
// scripts ask, against the person's own folders:
// - music and videos are filed into the XDG music and videos folders, one
//   folder per collection; playlists are M3U8 files (UTF-8, paths relative to
//   the playlist) in the music folder's "Playlists" folder, which desktop
//   players import;
// - photos go into one folder per album in the XDG pictures folder;
// - it keeps "iTunes Music Library.xml" and "AlbumData.xml" in their usual
//   property-list formats in the application's data folder, rewritten whole
//   (temporary file, then rename) after each change, so the library readers
//   read back what an import did.
// Files are hard-linked where the file system allows it, copied otherwise.
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
    };

    struct Playlist
    {
        qint64 playlistID = 0;
        QString persistentID;
        QString name;
        bool folder = false;
        bool master = false;
    };

    struct Album
    {
        qint64 albumID = 0;
        QString name;
        QString type;
    };

    static MediaLibraryHost &shared();

    // ---- folders and files

    static QString musicFolder();
    static QString videosFolder();
    static QString picturesFolder();
    static QString playlistsFolder();  // "Playlists" in the music folder
    static QString musicLibraryFilePath();
    static QString albumDataFilePath();

    // The versions the host answers for its music and photo sides; tests set
    // older ones to see how the readers treat older libraries.
    QString musicVersion() const;
    QString photosVersion() const;
    void setVersionsForTesting(const QString &music, const QString &photos);
    // The music, videos and pictures folders can be had (or made).
    bool isConfigured() const;

    // ---- music

    // Files one media file (or every media file of a folder, in name order)
    // into the collection; a file already in the library is not added again.
    // Answers the track IDs.
    QList<qint64> addMediaFiles(const QString &path, const QString &collection);
    std::optional<Playlist> findPlaylist(const QString &name, bool folder);
    std::optional<Playlist> playlistWithPersistentID(const QString &persistentID);
    Playlist createPlaylist(const QString &name, bool folder);
    QList<Playlist> playlists();
    // Appends the tracks (once each) to the playlist and rewrites its M3U8 file.
    void addTracksToPlaylist(const QList<qint64> &trackIDs, const QString &playlistPersistentID);

    // ---- photos

    // Files one picture or movie (or every one in a folder, links followed)
    // into the album's folder, creating the album when missing; answers the
    // image keys.
    QStringList addPhotos(const QString &path, const QString &albumName);
    QStringList addPhotosToAlbumID(const QString &path, qint64 albumID);
    std::optional<Album> findAlbum(const QString &name);
    Album createAlbum(const QString &name);
    QList<Album> albums();

private:
    MediaLibraryHost() = default;

    QVariantMap &music();
    QVariantMap &photos();
    void saveMusic();
    void savePhotos();
    void writePlaylistFile(const QVariantMap &playlist);
    QString fileIntoFolder(const QString &source, const QString &folder);
    std::optional<qint64> trackForFile(const QString &path);
    qint64 addOneMediaFile(const QString &path, const QString &collection);
    QStringList addPhotosLocked(const QString &path, qint64 albumID);
    QString addOnePhoto(const QString &path, QVariantMap &album);

    mutable std::recursive_mutex m_lock;
    std::optional<QVariantMap> m_music;
    std::optional<QVariantMap> m_photos;
    QString m_musicVersion = QStringLiteral("10.1");
    QString m_photosVersion = QStringLiteral("9.0");
};
