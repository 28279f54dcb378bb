#pragma once

#include "devices/command/HandheldDeviceProtocol.h"

#include <QByteArray>
#include <QDateTime>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <functional>

// An in-memory phone behind HandheldDeviceProtocol, for tests of the phone
// file objects without PlatformDevice or MTP. Drives ("E:\", "C:\") hold
// folders and files keyed by path without regard to case, as on the phone.
// Listings give VtrSymbianFileInfo nodes made from "FS_GET_DIR"-style entries.
//
// With `mtpLive` set the fake claims a live MTP handle, so nodes made for it hand
// whole-file copies to copyDeviceFile()/copyDesktopFile(), which behave like a
// sound MTP device: the phone -> computer copy writes the given local file
// through its ranged write operations (a real local temporary file in tests)
// and gives it the phone item's modification time; the computer -> phone copy
// replaces an existing item only once the whole file has arrived.
class PhoneFakeDevice : public HandheldDeviceProtocol
{
public:
    struct Item
    {
        QString path; // as created ("E:\Music\a.mp3"); drive roots "E:\"
        bool folder = false;
        QByteArray data;
        QDateTime modified;
        bool hidden = false;
        bool protectedContent = false;
        QVariantMap metadata;
        QVariantMap extraEntry; // merged into the listing entry
    };

    PhoneFakeDevice();
    ~PhoneFakeDevice() override;

    // ---- the phone's contents (tests) ------------------------------------------------
    // `letter` "E" or "C"; `free` as the drive entry's "free" text.
    void addDrive(const QString &letter, qint64 freeSpace, const QString &friendlyName = QString(), bool card = true);
    void setFreeSpace(const QString &letter, qint64 freeSpace);
    // Missing parent folders are made.
    Item &addFolder(const QString &path);
    Item &addFile(const QString &path, const QByteArray &data, const QDateTime &modified = QDateTime());
    bool has(const QString &path) const;
    const Item *item(const QString &path) const;
    Item *item(const QString &path);
    // Paths of the folder's children, sorted.
    QStringList childPaths(const QString &folderPath) const;

    // ---- settings and injected faults ----------------------------------------------------
    bool mtpLive = true;
    qint64 chunkSize = 4096;                  // blocks of the two copies
    FileInfoCopyStatus copyDeviceStatus = 0;  // non-zero: phone -> computer fails so, after unplugAfterBytes
    FileInfoCopyStatus copyDesktopStatus = 0; // non-zero: computer -> phone fails so, after unplugAfterBytes
    qint64 unplugAfterBytes = -1;             // >= 0: a copy stops (status above, or throw) after that many bytes
    bool throwOnUnplug = false;               // the stop raises StopSyncException instead
    bool throwOnListing = false;              // contentsOfFolderWithPath raises DeviceException
    bool refuseWrites = false;                // createFileWithPath / setFileContents fail
    bool refuseRemove = false;                // removeFileWithPath / removeFolderWithPath answer false
    // Called with the local temporary file after each block of a phone ->
    // computer copy (to look at it while the copy runs).
    std::function<void(const VtrFileInfoPtr &)> onDeviceCopyBlock;

    // ---- what happened ---------------------------------------------------------------
    // One line per mutating or copying call: "copyDesktopFile E:\x", "removeFile
    // E:\x", "createFolder E:\x", "move E:\a -> E:\b", "copyDeviceFile E:\x", ...
    QStringList calls;
    int listingCalls = 0;
    int protectedFileCalls = 0;
    int metadataCalls = 0;
    QStringList lastCopyTemporaryPaths; // local files written by copyDeviceFile

    // Standardized form of a path ("e:\music\" -> "E:\music"); no drive -> "E:\".
    static QString standardize(const QString &path);

    // ---- HandheldDeviceProtocol ----------------------------------------------------------
    void connect() override {}
    void disconnect() override {}
    void startSync() override {}
    void stopSync(bool) override {}
    void cancelSync() override {}
    void commitDatabaseSync(bool, const QString &) override {}
    bool isSyncing() override { return false; }
    bool hasMassStorageConnectionOnly() override { return false; }
    QVariantMap getTime() override { return {}; }
    double getTimeZoneOffset() override { return 0; }
    void setTime(const QString &) override {}
    QVariantMap getDeviceInfo() override { return {}; }
    QString getDeviceName() override { return QStringLiteral("Fake Phone"); }
    QString getDebugInfo() override { return {}; }
    QString getDeviceLog() override { return {}; }
    QString getDevicePreviousLog() override { return {}; }
    void setDeviceLogLevel(int) override {}
    void clearDeviceLog() override {}
    QString name() override { return QStringLiteral("Fake Phone"); }
    bool handshakeWithDevice() override { return false; }
    QString getDeviceVersion() override { return {}; }
    void clearDeviceError() override {}

    QVariantMap getAllLogs(const QString &, const QString &) override { return {}; }
    QVariantMap getSMSLogs(const QString &, const QString &) override { return {}; }
    QVariantMap getCallLogs(const QString &, const QString &) override { return {}; }
    bool openDatabase(const QString &, const QString &) override { return false; }
    void closeDatabase(const QString &) override {}
    void setSyncCookie(const QString &, const QString &) override {}
    QString getSyncCookie(const QString &) override { return {}; }
    QSet<QString> getAllRecordIDs(const QString &) override { return {}; }
    QVariantList getAllRecordIDsAsArray(const QString &) override { return {}; }
    QSet<QString> getNewRecordIDs(const QString &) override { return {}; }
    QSet<QString> getModifiedRecordIDs(const QString &, const QString &) override { return {}; }
    QSet<QString> getDeletedRecordIDs(const QString &) override { return {}; }
    QVariantMap getRecord(const QString &, const QString &, bool) override { return {}; }
    QString getRecordHash(const QString &, const QString &) override { return {}; }
    QVariant getField(const QString &, const QString &, const QString &) override { return {}; }
    QString getFieldHash(const QString &, const QString &, const QString &) override { return {}; }
    QVariantMap addRecord(const QString &, const QVariantMap &) override { return {}; }
    QString modifyRecord(const QString &, const QString &, const QVariantMap &) override { return {}; }
    QVariantMap modifyRecordAndReturnResultDictionary(const QString &, const QString &, const QVariantMap &) override
    {
        return {};
    }
    void deleteRecord(const QString &, const QString &) override {}
    void deleteAllRecords(const QString &) override {}
    void clearHashesForDatabase(const QString &) override {}

    QVariantMap deviceConfiguration() override { return {}; }
    void setDeviceConfiguration(const QVariantMap &) override {}
    VtrFileInfoPtr deviceFileInfoWithPath(const QString &path) override;
    VtrFileInfoPtr deviceFileInfoWithPathUseCache(const QString &path, bool useCache) override;
    VtrFileInfoPtr deviceFileInfoWithPathCreateIfNeeded(const QString &path, bool createIfNeeded) override;
    VtrFileInfoList fileInfosWithDevicePaths(const QStringList &, bool) override { return {}; }
    VtrFileInfoPtr folderForType(int) override { return nullptr; }
    void setPathsToDeviceMountPoints(const QStringList &) override {}
    QStringList pathsToDeviceMountPoints() override { return {}; }
    std::unique_ptr<VtrMusicPlaylist> defaultMusicPlaylist() override;
    VtrFileInfoPtr fileInfoWithPath(const QString &path) override;
    QVariantMap infoWithDrive(const QString &path) override;
    VtrFileInfoPtr fileInfoWithSavedInfo(const QVariantMap &, bool) override { return nullptr; }
    QString humanReadablePathWithSavedInfo(const QVariantMap &) override { return {}; }
    QString uuidForPath(const QString &) override { return QStringLiteral("FAKE-PHONE-UUID"); }
    VtrFileInfoList drivesInfo() override;
    VtrFileInfoPtr cardInfo() override;
    QString cardPrefix() override { return QStringLiteral("E:\\"); }
    QString cardPrefixOnDevice() override { return QStringLiteral("E:\\"); }
    VtrFileInfoPtr internalMemoryFileInfo() override;
    QVariantMap deviceInfo() override { return {}; }
    QVariantMap musicInfo() override { return {}; }
    QVariantMap podcastsInfo() override { return {}; }
    QVariantMap photosInfo() override { return {}; }
    QVariantMap recordingsInfo() override { return {}; }
    QVariantMap ringtoneInfo() override { return {}; }
    QVariantMap videosInfo() override { return {}; }
    bool fileSystemIsASCIIOnly() override { return false; }

    QByteArray contentsOfFileWithPath(const QString &path, qint64 size, const VtrFileInfoPtr &fileInfo,
                                      FileInfoProgress *progress, void *userData) override;
    VtrFileInfoList contentsOfFolderWithPath(const QString &path) override;
    VtrFileInfoPtr createFileWithPath(const QString &path, const QByteArray &contents, const VtrFileInfoPtr &fileInfo,
                                      FileInfoProgress *progress, void *userData) override;
    VtrFileInfoPtr createFileWithPath(const QString &path, const QByteArray &contents) override;
    VtrFileInfoPtr createFolderWithPath(const QString &path) override;
    int moveFileAtPath(const QString &path, const QString &toPath) override;
    bool removeFileWithPath(const QString &path) override;
    bool removeFolderWithPath(const QString &path) override;
    int renameFileWithPath(const QString &path, const QString &name) override;
    bool setFileContents(const QByteArray &data, const QString &path) override;
    bool setFileContents(const QByteArray &data, const VtrFileInfoPtr &fileInfo, FileInfoProgress *progress,
                         void *userData) override;
    int setCreationDate(const QDateTime &, const QString &) override { return -1; }
    int setModificationDate(const QDateTime &date, const QString &path) override;
    int openFileWithPath(const QString &path, bool overwrite) override;
    int closeFile() override;
    QByteArray contentsOfFileWithRange(const VtrFileRange &range) override;
    int setFileContents(const QByteArray &data, const VtrFileRange &range) override;
    bool supportsCreationDate() override { return false; }
    bool supportsModificationDate() override { return true; }
    FileInfoCopyStatus copyDeviceFile(const VtrFileInfoPtr &deviceFile, const VtrFileInfoPtr &desktopFile,
                                      FileInfoProgress *progress, void *userData) override;
    FileInfoCopyStatus copyDesktopFile(const VtrFileInfoPtr &desktopFile, const VtrFileInfoPtr &deviceFile,
                                       FileInfoProgress *progress, void *userData) override;

    std::optional<QVariantList> deviceTracks() override { return std::nullopt; }
    std::optional<QVariantList> devicePlaylists() override { return std::nullopt; }
    VtrFileInfoPtr setDevicePlaylistForPlaylistPath(const QString &, const QStringList &) override { return nullptr; }
    bool setDeviceAlbumForAlbumPath(const QString &, const QString &, const QString &, const QString &,
                                    const QStringList &) override
    {
        return false;
    }
    QByteArray albumArtworkFromDeviceFile(const QString &) override { return {}; }
    bool setDeviceArtwork(const QByteArray &, const QString &) override { return false; }
    bool setDeviceMetadataForFile(const VtrFileInfoPtr &, const QString &) override { return false; }
    QVariantMap deviceMetadataForFile(const QString &path) override;
    void deviceScreenHeight(int *, int *) override {}
    bool isProtectedFile(const QString &path) override;
    QStringList devicePlaylistForPlaylistPath(const QString &) override { return {}; }
    void setMTPDeviceObject(std::shared_ptr<MTPDevice>) override {}
    LIBMTP_mtpdevice_struct *mtpDevice() override;
    std::shared_ptr<MTPDevice> mtp() override { return nullptr; }
    bool isContentRevisionEqual() override { return false; }

private:
    struct Drive
    {
        qint64 freeSpace = 0;
        QString friendlyName;
        bool card = true;
    };

    static QString key(const QString &path);
    static QString parentOf(const QString &standardPath);
    QVariantMap entryFor(const Item &item) const;
    VtrFileInfoPtr nodeFor(const QString &path);
    bool parentIsFolder(const QString &standardPath) const;
    void removeTree(const QString &standardPath);
    qint64 &freeOf(const QString &standardPath);

    QMap<QString, Drive> m_drives; // "E"
    QMap<QString, Item> m_items;   // by key()
    QString m_openPath;
    bool m_openForWrite = false;
};
