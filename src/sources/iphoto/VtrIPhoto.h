#pragma once

#include "fileinfo/VtrBaseFileInfo.h"

#include <QDateTime>
#include <QString>
#include <QUrl>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <optional>

using IPhotoProgress = std::function<void(const QString &message)>;

// The photo library's album file "AlbumData.xml", read whole: albums, rolls
// (events, for libraries of version 7 and later) and the master image list.
//
// Where the file is looked for: the library folder of
// VtrIPhoto::currentIPhotoLibraryPath(), else "iPhoto Library" in the pictures
// folder (a library brought from another computer; only ever read), else the
// media-library host's own file in the data folder.
class VtrIPhotoAlbumData
{
public:
    // Reads the album file on a thread of its own; the caller serves its
    // event loop (and `progress`, with "Reading iPhoto albums...") until the
    // read has ended.
    explicit VtrIPhotoAlbumData(const IPhotoProgress &progress = {});

    static VtrFileInfoPtr defaultAlbumDataXMLFileInfo();
    static QDateTime albumDataXMLFileModDate();
    QUrl defaultAlbumDataXMLFileURL() const;
    bool xmlFileHasChanged() const;
    // Why nothing was read (no file, a damaged or truncated file), or empty.
    QString loadError() const { return m_loadError; }

    // The albums, then (with rolls) the Events pseudo-album and a copy of
    // each roll under it.
    QVariantList albums() const;
    QVariantList writableAlbums() const;
    const QVariantMap &masterImageList() const { return m_masterImageList; }
    const QVariantList &rolls() const { return m_rolls; }
    bool includesRolls() const { return m_includeRolls; }
    // Image key -> copy of its image dictionary with "photo index" (1, 2, ...
    // in order of first appearance) for the albums named or numbered.
    QVariantMap imagesWithAlbumNamesOrIDs(const QVariantList &namesOrIDs) const;
    // {"file name", "file size", "file creation date"}, any of them.
    std::optional<QVariantMap> findPhoto(const QVariantMap &description) const;
    qint64 idFromName(const QString &name) const;
    QString nameFromID(qint64 id) const;

    static constexpr qint64 kEventsAlbumID = -999000;

private:
    void parseAlbumDataFile(const QString &path);
    static std::optional<QVariantMap> albumWithNameOrID(const QVariant &nameOrID, const QVariantList &albums);

    QVariantList m_albums;
    QVariantMap m_masterImageList;
    bool m_includeRolls = false;
    QVariantList m_rolls;
    QDateTime m_lastModDateOfXMLFile;
    QString m_loadError;
};

// The person's photo library: where it is, what version answers for it, its
// albums through the album data, and filing photos into an album through the
// import script templates.
class VtrIPhoto
{
public:
    VtrIPhoto() = default;
    static std::unique_ptr<VtrIPhoto> iPhoto() { return std::make_unique<VtrIPhoto>(); }

    static QString picturesFolderPath();
    // "com.apple.iPhoto.plist" in the preferences folder, when there is one.
    static QVariantMap iPhotoPrefs();
    // The photo side of the media-library host stands for the application:
    // its version, null when the host has no folders to work in.
    static QString iPhotoVersion();
    static bool hasIPhoto();
    static bool hasIPhoto5OrLater();
    static bool hasIPhoto7OrLater();
    static bool hasIPhoto8OrLater();
    static bool hasIPhotoLibrary();
    // The user default "iPhotoLibraryFolder" (a library brought from another
    // computer) when it exists, else the first of "iPhotoRecentDatabases" in
    // "com.apple.iApps.plist", else the photo preferences' "RootDirectory".
    static QString currentIPhotoLibraryPath();
    static constexpr const char *kLibraryFolderDefaultKey = "iPhotoLibraryFolder";

    bool albumsChanged() const;
    QVariantList albumsWithProgress(const IPhotoProgress &progress);
    QVariantList albumArray() { return albumsWithProgress({}); }
    QVariantList exportableAlbumsWithProgress(const IPhotoProgress &progress) { return albumsWithProgress(progress); }
    QVariantList importableAlbumsWithProgress(const IPhotoProgress &progress);
    int numberOfAlbums();
    QVariantMap imagesWithAlbumNamesOrIDs(const QVariantList &namesOrIDs);
    qint64 idWithAlbumOrEventName(const QString &name);
    QString nameWithAlbumOrEventID(qint64 id);
    bool containsPhoto(const QVariantMap &description) { return findPhoto(description).has_value(); }
    std::optional<QVariantMap> findPhoto(const QVariantMap &description);
    QString libraryName() { return QString(); }

    // Files each file (or folder of photos) into the album with the template
    // "iPhotoImport.applescript" (by name) or "iPhotoImport2.applescript" (by
    // number) of `templateFolder`. Null on success, else the last error.
    static QString addPhotos(const VtrFileInfoList &files, const QString &album, const QString &templateFolder,
                             const std::function<void()> &tickle);
    static QString addPhotosToAlbumID(const VtrFileInfoList &files, int albumID, const QString &templateFolder,
                                      const std::function<void()> &tickle);

private:
    VtrIPhotoAlbumData &albumData(const IPhotoProgress &progress = {});

    std::unique_ptr<VtrIPhotoAlbumData> m_albumData;
};
