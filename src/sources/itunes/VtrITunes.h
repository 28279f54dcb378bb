#pragma once

#include "fileinfo/VtrBaseFileInfo.h"
#include "sources/host/PropertyListXml.h"

#include <QDateTime>
#include <QImage>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>

#include <atomic>
#include <functional>
#include <optional>

// The music library file ("iTunes Music Library.xml" or "iTunes Library.xml")
// of the person: found, loaded whole into a dictionary, tested for changes,
// and asked simple questions. It also files tracks into a playlist through the
// import script template.
//
// Where the file is looked for, first match wins:
//  1. the user default "iTunesLibraryFile" (a library brought from another
//     computer), when that file exists;
//  2. "com.apple.iApps.plist" in the preferences folder: the first of
//     "iTunesRecentDatabasePaths" ("~" expanded), else of
//     "iTunesRecentDatabases" (a file URL), not checked for existence;
//  3. the music folder's "iTunes" folder: "iTunes Music Library.xml", else
//     "iTunes Library.xml";
//  4. the documents folder's "iTunes" folder: "iTunes Music Library.xml";
//  5. the media-library host's own file in the data folder, when it exists.
// A file found by rules 1 to 4 is only ever read.
class VtrITunes
{
public:
    VtrITunes() = default;

    // Loads the library file on the calling thread.
    void initWithoutProgress();
    // Loads the named library file the same way (a file chosen by the person).
    void initWithFile(const QString &path);
    // Loads it on a thread of its own; the calling thread reports `message`
    // (the localized "Reading iTunes playlists...") to `progress` and serves
    // its event loop every 0.1 s meanwhile.
    void initWithProgress(const std::function<void(const QString &message)> &progress);

    // The file named now differs from the one loaded (ignoring case), or its
    // modification date changed.
    bool playlistDataChanged();

    QString playlistDataPath() const { return m_playlistDataPath; }
    QDateTime playlistModDate() const { return m_playlistModDate; }
    // The whole file; nullopt when there was none or it could not be read.
    const std::optional<QVariantMap> &playlistData() const { return m_playlistData; }
    // Why the last load found no data (a missing, damaged or truncated file).
    QString loadError() const { return m_loadError; }

    QString libraryID() const;
    QVariantList playlists() const;
    QVariantMap tracks() const;
    QString musicFolderLocation() const;
    QStringList playlistNames() const;
    QVariantList playlistNamesAndIDs() const;
    QVariantList playlistNamesIDsTypesAndCount() const;

    // Files each file into the playlist's collection and onto the playlist
    // with the template "iTunesImport.applescript" of `templateFolder`.
    // Null on success (also for no files), else the last error message.
    static QString addTracks(const VtrFileInfoList &files, const QString &playlistName, const QString &templateFolder,
                             const std::function<void()> &tickle);

    static QString defaultPlaylistDataXMLFile();
    static QString iTunesMusicFolder();
    // The music side of the media-library host stands for the application:
    // its library file, its icon, its version (null when the host has no
    // folders to work in).
    static VtrFileInfoPtr iTunesAppFileInfo();
    static QImage iTunesAppImage();
    static QString ITunesVersion();
    static bool hasITunes();

    // Folder of the script templates shipped with the application.
    static QString templateFolder();
    static constexpr const char *kLibraryFileDefaultKey = "iTunesLibraryFile";

private:
    void load(const QString &path);

    QString m_playlistDataPath;
    QDateTime m_playlistModDate;
    std::optional<QVariantMap> m_playlistData;
    QString m_loadError;
    std::atomic<bool> m_parsing{false};
};
