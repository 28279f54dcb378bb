#pragma once

#include "fileinfo/FileInfoCopyStatus.h"
#include "fileinfo/VtrBaseFileInfo.h"

#include <QByteArray>
#include <QDateTime>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>

#include <memory>
#include <optional>

class MTPDevice;
class VtrMusicPlaylist;
struct LIBMTP_mtpdevice_struct;

// What phone file objects, playlist writers and the phone object ask of the
// phone they work on. PlatformDevice is the one implementation; it phrases
// every file operation as a command dictionary (devices/command/DeviceCommands.h).
//
// Conventions:
// - Paths are Windows-style device paths ("E:\Music\a.mp3"); they are
//   standardized by the implementation, so a path without a drive means the
//   phone's default drive.
// - "nil" answers: nullptr for file nodes, a null QString for texts, a null
//   QByteArray for data, an empty QVariantMap for dictionaries, an empty list
//   for arrays, except where std::optional says that "none" and "empty" differ.
// - Statuses are 0 for success and -1 for failure; the two copies answer the
//   copy status codes of FileInfoCopyStatus.h.
// - Failures the device conversation raises are VtrException objects named
//   "StopSyncException", "StopPluginException" or "DeviceException".
// - Calls on one device come one at a time (the implementation serializes
//   nothing of its own beyond the MTP device's lock).
class HandheldDeviceProtocol
{
public:
    virtual ~HandheldDeviceProtocol() = default;

    // ---- synchronization and device ------------------------------------------
    virtual void connect() = 0;
    virtual void disconnect() = 0;
    virtual void startSync() = 0;
    virtual void stopSync(bool success) = 0;
    virtual void cancelSync() = 0;
    virtual void commitDatabaseSync(bool success, const QString &database) = 0;
    virtual bool isSyncing() = 0;
    virtual bool hasMassStorageConnectionOnly() = 0;
    // The phone's clock: "local", "utc" (ST2 text without zone) and "offset",
    // "__OFFSET", "utcoffset" (milliseconds as text); empty for none.
    virtual QVariantMap getTime() = 0;
    // Seconds east of UTC; 0 when the clock is unknown.
    virtual double getTimeZoneOffset() = 0;
    virtual void setTime(const QString &time) = 0;
    virtual QVariantMap getDeviceInfo() = 0;
    virtual QString getDeviceName() = 0;
    virtual QString getDebugInfo() = 0;
    virtual QString getDeviceLog() = 0;
    virtual QString getDevicePreviousLog() = 0;
    virtual void setDeviceLogLevel(int level) = 0;
    virtual void clearDeviceLog() = 0;
    // "<manufacturer> <model>".
    virtual QString name() = 0;
    virtual bool handshakeWithDevice() = 0;
    virtual QString getDeviceVersion() = 0;
    virtual void clearDeviceError() = 0;

    // ---- logs and records ----------------------------------------------------
    // `time` and `cookie` are left out of the command when null.
    virtual QVariantMap getAllLogs(const QString &time, const QString &cookie) = 0;
    virtual QVariantMap getSMSLogs(const QString &time, const QString &cookie) = 0;
    virtual QVariantMap getCallLogs(const QString &time, const QString &cookie) = 0;
    virtual bool openDatabase(const QString &database, const QString &cookie) = 0;
    virtual void closeDatabase(const QString &database) = 0;
    virtual void setSyncCookie(const QString &cookie, const QString &key) = 0;
    virtual QString getSyncCookie(const QString &key) = 0;
    // Record identifiers as the agent sends them, converted to text for sets.
    virtual QSet<QString> getAllRecordIDs(const QString &database) = 0;
    virtual QVariantList getAllRecordIDsAsArray(const QString &database) = 0;
    virtual QSet<QString> getNewRecordIDs(const QString &database) = 0;
    virtual QSet<QString> getModifiedRecordIDs(const QString &database, const QString &since) = 0;
    virtual QSet<QString> getDeletedRecordIDs(const QString &database) = 0;
    virtual QVariantMap getRecord(const QString &database, const QString &recordID, bool hashesOK) = 0;
    virtual QString getRecordHash(const QString &database, const QString &recordID) = 0;
    virtual QVariant getField(const QString &database, const QString &recordID, const QString &field) = 0;
    virtual QString getFieldHash(const QString &database, const QString &recordID, const QString &field) = 0;
    virtual QVariantMap addRecord(const QString &database, const QVariantMap &record) = 0;
    virtual QString modifyRecord(const QString &database, const QString &recordID, const QVariantMap &record) = 0;
    virtual QVariantMap modifyRecordAndReturnResultDictionary(const QString &database, const QString &recordID,
                                                              const QVariantMap &record) = 0;
    virtual void deleteRecord(const QString &database, const QString &recordID) = 0;
    virtual void deleteAllRecords(const QString &database) = 0;
    virtual void clearHashesForDatabase(const QString &database) = 0;

    // ---- configuration, drives and nodes --------------------------------------
    // The device-list product dictionary of the phone.
    virtual QVariantMap deviceConfiguration() = 0;
    virtual void setDeviceConfiguration(const QVariantMap &configuration) = 0;
    // Node for a path (looked up without creating anything, cache in use).
    virtual VtrFileInfoPtr deviceFileInfoWithPath(const QString &path) = 0;
    // deviceFileInfoWithPath:useCache: and deviceFileInfoWithPath:createIfNeeded:
    // share their first keyword and argument types, so they carry the second.
    virtual VtrFileInfoPtr deviceFileInfoWithPathUseCache(const QString &path, bool useCache) = 0;
    virtual VtrFileInfoPtr deviceFileInfoWithPathCreateIfNeeded(const QString &path, bool createIfNeeded) = 0;
    virtual VtrFileInfoList fileInfosWithDevicePaths(const QStringList &paths, bool createIfNeeded) = 0;
    // Folder for a content type (0 root, 10-18, 21-24; nullptr for others).
    virtual VtrFileInfoPtr folderForType(int type) = 0;
    virtual void setPathsToDeviceMountPoints(const QStringList &paths) = 0;
    virtual QStringList pathsToDeviceMountPoints() = 0;
    // A new playlist writer bound to this device, owned by the caller.
    virtual std::unique_ptr<VtrMusicPlaylist> defaultMusicPlaylist() = 0;
    virtual VtrFileInfoPtr fileInfoWithPath(const QString &path) = 0;
    // The drive entry ("id", "media", "free", ...) of the path's drive.
    virtual QVariantMap infoWithDrive(const QString &path) = 0;
    virtual VtrFileInfoPtr fileInfoWithSavedInfo(const QVariantMap &savedInfo, bool createIfNeeded) = 0;
    virtual QString humanReadablePathWithSavedInfo(const QVariantMap &savedInfo) = 0;
    virtual QString uuidForPath(const QString &path) = 0;
    virtual VtrFileInfoList drivesInfo() = 0;
    virtual VtrFileInfoPtr cardInfo() = 0;
    virtual QString cardPrefix() = 0;
    virtual QString cardPrefixOnDevice() = 0;
    virtual VtrFileInfoPtr internalMemoryFileInfo() = 0;
    virtual QVariantMap deviceInfo() = 0;
    virtual QVariantMap musicInfo() = 0;
    virtual QVariantMap podcastsInfo() = 0;
    virtual QVariantMap photosInfo() = 0;
    virtual QVariantMap recordingsInfo() = 0;
    virtual QVariantMap ringtoneInfo() = 0;
    virtual QVariantMap videosInfo() = 0;
    virtual bool fileSystemIsASCIIOnly() = 0;

    // Default folders (slash-separated, below the phone's root or media folder).
    static QString defaultMusicExportPath() { return QStringLiteral("Vantrel/Music"); }
    static QString defaultPlaylistExportPath() { return QStringLiteral("Vantrel/Playlists"); }
    static QString defaultPhotoExportPath() { return QStringLiteral("Vantrel/Photos"); }
    static QString defaultPhotoImportPath() { return QStringLiteral("Images"); }
    static QString defaultVideoExportPath() { return QStringLiteral("Vantrel/Movies"); }
    static QString defaultVideoImportPath() { return QStringLiteral("Videos"); }

    // ---- files -----------------------------------------------------------------
    // The whole file in chunks; the data is as long as what was read.
    virtual QByteArray contentsOfFileWithPath(const QString &path, qint64 size, const VtrFileInfoPtr &fileInfo,
                                              FileInfoProgress *progress, void *userData) = 0;
    virtual VtrFileInfoList contentsOfFolderWithPath(const QString &path) = 0;
    virtual VtrFileInfoPtr createFileWithPath(const QString &path, const QByteArray &contents,
                                              const VtrFileInfoPtr &fileInfo, FileInfoProgress *progress,
                                              void *userData) = 0;
    virtual VtrFileInfoPtr createFileWithPath(const QString &path, const QByteArray &contents) = 0;
    virtual VtrFileInfoPtr createFolderWithPath(const QString &path) = 0;
    virtual int moveFileAtPath(const QString &path, const QString &toPath) = 0;
    virtual bool removeFileWithPath(const QString &path) = 0;
    virtual bool removeFolderWithPath(const QString &path) = 0;
    virtual int renameFileWithPath(const QString &path, const QString &name) = 0;
    virtual bool setFileContents(const QByteArray &data, const QString &path) = 0;
    virtual bool setFileContents(const QByteArray &data, const VtrFileInfoPtr &fileInfo, FileInfoProgress *progress,
                                 void *userData) = 0;
    virtual int setCreationDate(const QDateTime &date, const QString &path) = 0;
    virtual int setModificationDate(const QDateTime &date, const QString &path) = 0;
    // The one file of ranged access.
    virtual int openFileWithPath(const QString &path, bool overwrite) = 0;
    virtual int closeFile() = 0;
    virtual QByteArray contentsOfFileWithRange(const VtrFileRange &range) = 0;
    virtual int setFileContents(const QByteArray &data, const VtrFileRange &range) = 0;
    virtual bool supportsCreationDate() = 0;
    virtual bool supportsModificationDate() = 0;
    virtual FileInfoCopyStatus copyDeviceFile(const VtrFileInfoPtr &deviceFile, const VtrFileInfoPtr &desktopFile,
                                              FileInfoProgress *progress, void *userData) = 0;
    virtual FileInfoCopyStatus copyDesktopFile(const VtrFileInfoPtr &desktopFile, const VtrFileInfoPtr &deviceFile,
                                               FileInfoProgress *progress, void *userData) = 0;

    // ---- media and transport ---------------------------------------------------
    // Track and playlist dictionaries; nullopt when the phone lists none at
    // all, an empty list when none qualifies.
    virtual std::optional<QVariantList> deviceTracks() = 0;
    virtual std::optional<QVariantList> devicePlaylists() = 0;
    // The node of the written playlist, nullptr on failure.
    virtual VtrFileInfoPtr setDevicePlaylistForPlaylistPath(const QString &path, const QStringList &trackPaths) = 0;
    virtual bool setDeviceAlbumForAlbumPath(const QString &path, const QString &artist, const QString &composer,
                                            const QString &genre, const QStringList &trackPaths) = 0;
    virtual QByteArray albumArtworkFromDeviceFile(const QString &path) = 0;
    virtual bool setDeviceArtwork(const QByteArray &artwork, const QString &album) = 0;
    virtual bool setDeviceMetadataForFile(const VtrFileInfoPtr &file, const QString &devicePath) = 0;
    virtual QVariantMap deviceMetadataForFile(const QString &path) = 0;
    // Leaves both untouched without a phone that can answer.
    virtual void deviceScreenHeight(int *height, int *width) = 0;
    virtual bool isProtectedFile(const QString &path) = 0;
    // Device paths of the playlist's tracks in order; empty for none.
    virtual QStringList devicePlaylistForPlaylistPath(const QString &path) = 0;
    // The attached MTP answerer is shared with the phone object that made it.
    virtual void setMTPDeviceObject(std::shared_ptr<MTPDevice> device) = 0;
    // The attached answerer's live device handle, nullptr when none: a test
    // for "can talk MTP now", never to be used for library calls.
    virtual LIBMTP_mtpdevice_struct *mtpDevice() = 0;
    virtual std::shared_ptr<MTPDevice> mtp() = 0;
    virtual bool isContentRevisionEqual() = 0;
};
