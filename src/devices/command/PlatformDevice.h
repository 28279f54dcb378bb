#pragma once

#include "devices/command/DeviceListingCache.h"
#include "devices/command/HandheldDeviceProtocol.h"
#include "devices/command/agent/DeviceAgentSession.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

class DeviceVolumes;
class MTPDevice;
class VtrSymbianFileInfo;

// Answers command dictionaries for a PlatformDevice that has no MTP device
// with a live handle: a transport of its own in place of the agent socket
// (tools, tests). It receives every command exactly as the device would send
// it, with the bytes of a write beside it (`blob` null when none), and answers
// the reply's "result" (an invalid QVariant for none). It raises a failing
// reply as the VtrException the reply stands for. Not owned by the device.
class DeviceCommandAnswerer
{
public:
    virtual ~DeviceCommandAnswerer() = default;
    virtual QVariant answerCommand(const QVariantMap &command, const QByteArray &blob) = 0;
};

// The phone's command interface: every file operation on the old phone is a
// command dictionary (devices/command/DeviceCommands.h) answered by one transport,
// chosen per command:
//  1. the attached MTPDevice while it has a live handle (the running
//     application's only transport);
//  2. otherwise a DeviceCommandAnswerer, when one is set;
//  3. otherwise the agent socket road (DeviceAgentSession), which the running
//     application never opens.
// On top of the commands it offers a file API with 512 KiB chunks and
// progress, copies between this computer and the phone, the phone's drives,
// standard folders, caches and configuration, and the media operations of
// the MTP device.
//
// One instance at a time: creating a PlatformDevice waits until the previous
// one has been destroyed (a class-wide slot held from construction to
// destruction). Creating a second one on the thread that still holds the
// first therefore never returns.
//
// Threads: the main thread and the wizard's workers may call one instance at
// the same time. Every operation that reads or changes the instance's state
// (caches, open file, device information, configuration, mount points, the
// agent road) holds the instance lock, a recursive mutex, for its whole
// length, the phone's replies and a copy's transfer included; nodes calling
// back into the instance on the same thread take it again. Left outside it:
// isConnected() (atomic), throwIfNotConnected(), mtp()/mtpDevice() (the MTP
// device pointer has a lock of its own) and the hooks that answer constants.
// - Lock order: the instance lock, then the MTP device's mutex, never the
//   other way round: the MTP device calls nothing of this object, and a
//   progress callback that calls back in does so on the thread that already
//   holds the instance lock.
// - The instance lock is never held while waiting for the main thread: the
//   content revision is written to the user defaults on the main thread
//   after the lock is given back. Progress callbacks run with both locks held
//   and must not wait for the main thread either (MTPDevice asks the same).
// - Teardown of a phone (MobileDevice) first detaches the MTP device, which
//   ends a running transfer at its next block without this lock, and only
//   then calls disconnect(), which waits for the lock: the main thread waits
//   for the end of one command, never for a whole copy.
// - Nodes handed out are used by one thread at a time (like every file info);
//   the listings that hold them are only touched under the lock.
//
// Nodes: the VtrSymbianFileInfo nodes handed out point back at this object
// without owning it; the object must outlive them.
//
// Paths are standardized first: a path without a drive lies on the card (or,
// without a card, on the internal memory); "E:\Music\a.mp3" keeps its drive.
class PlatformDevice final : public HandheldDeviceProtocol, private DeviceAgentHost
{
public:
    // Bytes per read or write command of a whole-file transfer.
    static constexpr qint64 kChunkSize = 524288;
    // Replies to one read chunk that carry no readable "count" (or no bytes)
    // are tolerated this many times in a row; then the read fails.
    static constexpr int kMaxReadAttempts = 3;
    // Reply time-out of the agent road after a disconnect.
    static constexpr int kTimeoutAfterDisconnect = 300;
    // Marker file of the card among a phone's mounted volumes.
    static QString extraStorageCardMarker() { return QStringLiteral("Vantrel/filesystem/extrastoragecard"); }
    static QString defaultRingtoneExportPath() { return QStringLiteral("Ringtones"); }

    // Waits for the class-wide slot (see above). Not connected.
    PlatformDevice();
    ~PlatformDevice() override;
    PlatformDevice(const PlatformDevice &) = delete;
    PlatformDevice &operator=(const PlatformDevice &) = delete;

    // The class operation "connect": a new instance, already connected.
    static std::unique_ptr<PlatformDevice> makeConnected();

    // ---- transport ---------------------------------------------------------------------
    // Not owned; nullptr removes it.
    void setCommandAnswerer(DeviceCommandAnswerer *answerer);
    DeviceCommandAnswerer *commandAnswerer() const;
    // The agent socket road (its socket, time-out and sync state). Set it up
    // before the instance is shared between threads: the reference is used
    // outside the instance lock.
    DeviceAgentSession &agentSession() { return *m_agent; }
    bool isConnected() const { return m_connected; }
    // Raises "StopSyncException" "<operation> failed. No connection to
    // device." ("Command failed. No connection to device." for a null name)
    // when not connected.
    void throwIfNotConnected(const QString &operation) override;
    // The answer of the chosen transport to a command. Raises the
    // not-connected exception above (null name) before any transport is
    // reached.
    QVariant sendCmdWithDictionary(const QVariantMap &command);
    // The same with the bytes of a write beside the command: the socket road
    // sends them as the frame's blob, the answerer receives them, the MTP
    // device receives the command alone.
    QVariant sendCmdWithDictionary(const QVariantMap &command, const QByteArray &blob);
    // Raw file data as Base64 text (false, the only setting in use) or bytes.
    void setUseBinaryProtocol(bool binary);

    // User-interface hooks of a device browser this system does not have.
    void *fileBrowser() { return nullptr; }
    void *fileBrowserForFileSelection() { return nullptr; }
    VtrFileInfoPtr chooseFolder() { return nullptr; }
    // A connection-info record; its "hasMassStorageConnection" (bool) is what
    // hasMassStorageConnectionOnly() answers while not connected.
    void setConnectionInfo(const QVariantMap &info);
    QVariantMap getConnectionInfo() const;

    // ---- HandheldDeviceProtocol: synchronization and device ----------------------------
    void connect() override;
    // Also forgets what was read from the phone (device information, its
    // identifier, content revision) and the listings: the next phone must
    // never see the last one's. Waits for an operation another thread has
    // under way; one that waits for the lock meanwhile then finds the device
    // not connected.
    void disconnect() override;
    void startSync() override;
    void stopSync(bool success) override;
    void cancelSync() override;
    void commitDatabaseSync(bool success, const QString &database) override;
    bool isSyncing() override;
    bool hasMassStorageConnectionOnly() override;
    QVariantMap getTime() override;
    double getTimeZoneOffset() override;
    void setTime(const QString &time) override;
    // Read once per attached phone and kept (until a sync ends, another MTP
    // device is attached or the phone is disconnected).
    QVariantMap getDeviceInfo() override;
    QString getDeviceName() override;
    QString getDebugInfo() override;
    QString getDeviceLog() override;
    QString getDevicePreviousLog() override;
    void setDeviceLogLevel(int level) override;
    void clearDeviceLog() override;
    QString name() override;
    bool handshakeWithDevice() override;
    QString getDeviceVersion() override;
    void clearDeviceError() override;

    // ---- logs and records (the agent road) -------------------------------------------------
    QVariantMap getAllLogs(const QString &time, const QString &cookie) override;
    QVariantMap getSMSLogs(const QString &time, const QString &cookie) override;
    QVariantMap getCallLogs(const QString &time, const QString &cookie) override;
    bool openDatabase(const QString &database, const QString &cookie) override;
    void closeDatabase(const QString &database) override;
    void setSyncCookie(const QString &cookie, const QString &key) override;
    QString getSyncCookie(const QString &key) override;
    QSet<QString> getAllRecordIDs(const QString &database) override;
    QVariantList getAllRecordIDsAsArray(const QString &database) override;
    QSet<QString> getNewRecordIDs(const QString &database) override;
    QSet<QString> getModifiedRecordIDs(const QString &database, const QString &since) override;
    QSet<QString> getDeletedRecordIDs(const QString &database) override;
    QVariantMap getRecord(const QString &database, const QString &recordID, bool hashesOK) override;
    QString getRecordHash(const QString &database, const QString &recordID) override;
    QVariant getField(const QString &database, const QString &recordID, const QString &field) override;
    QString getFieldHash(const QString &database, const QString &recordID, const QString &field) override;
    QVariantMap addRecord(const QString &database, const QVariantMap &record) override;
    QString modifyRecord(const QString &database, const QString &recordID, const QVariantMap &record) override;
    QVariantMap modifyRecordAndReturnResultDictionary(const QString &database, const QString &recordID,
                                                      const QVariantMap &record) override;
    void deleteRecord(const QString &database, const QString &recordID) override;
    void deleteAllRecords(const QString &database) override;
    void clearHashesForDatabase(const QString &database) override;

    // ---- configuration, drives and nodes (PlatformDeviceDrives.cpp) -------------------------
    QVariantMap deviceConfiguration() override;
    // Keeps the configuration and, with a live MTP handle, compares the
    // phone's content revision with the one stored for the phone, then
    // stores the phone's.
    void setDeviceConfiguration(const QVariantMap &configuration) override;
    VtrFileInfoPtr deviceFileInfoWithPath(const QString &path) override;
    VtrFileInfoPtr deviceFileInfoWithPathUseCache(const QString &path, bool useCache) override;
    VtrFileInfoPtr deviceFileInfoWithPathCreateIfNeeded(const QString &path, bool createIfNeeded) override;
    // A path without a drive is only ever looked up, never created.
    VtrFileInfoList fileInfosWithDevicePaths(const QStringList &paths, bool createIfNeeded) override;
    VtrFileInfoPtr folderForType(int type) override;
    // Raises "ExtraCardFileNotFound" for two or more writable volumes none of
    // which holds the card marker (the old paths stay).
    void setPathsToDeviceMountPoints(const QStringList &paths) override;
    QStringList pathsToDeviceMountPoints() override;
    std::unique_ptr<VtrMusicPlaylist> defaultMusicPlaylist() override;
    VtrFileInfoPtr fileInfoWithPath(const QString &path) override;
    QVariantMap infoWithDrive(const QString &path) override;
    VtrFileInfoPtr fileInfoWithSavedInfo(const QVariantMap &savedInfo, bool createIfNeeded) override;
    QString humanReadablePathWithSavedInfo(const QVariantMap &savedInfo) override;
    QString uuidForPath(const QString &path) override;
    VtrFileInfoList drivesInfo() override;
    VtrFileInfoPtr cardInfo() override;
    QString cardPrefix() override;
    QString cardPrefixOnDevice() override;
    VtrFileInfoPtr internalMemoryFileInfo() override;
    VtrFileInfoPtr internalDefaultUserFolder() { return internalMemoryFileInfo(); }
    QVariantMap deviceInfo() override;
    QVariantMap musicInfo() override;
    QVariantMap podcastsInfo() override;
    QVariantMap photosInfo() override;
    QVariantMap recordingsInfo() override;
    QVariantMap ringtoneInfo() override;
    QVariantMap videosInfo() override;
    bool fileSystemIsASCIIOnly() override;
    VtrFileInfoPtr defaultUserRoot();
    VtrFileInfoPtr defaultDeviceMediaFolder();

    // Mount-point table of the mass-storage road: drive string ("E:\") ->
    // {"path": the local mount path, "drive string": the drive string}.
    QHash<QString, QVariantMap> deviceMountPointsInfo();
    QVariantMap deviceMountPointInfoForDriveString(const QString &drive);
    QString deviceMountPointPathForDriveString(const QString &drive);
    QVariantMap internalMemoryMountedInfo();
    QVariantMap firstMountedCardInfo();

    // The standardized form of a device path (see the class comment); the
    // drive ("E:\", "" when none is known) and the rest without a leading
    // backslash when asked.
    QString standardizeDevicePath(const QString &path, QString *outDrive = nullptr, QString *outRest = nullptr);

    // ---- files -----------------------------------------------------------------------------
    // Raises "StopSyncException" when a read chunk fails kMaxReadAttempts
    // times in a row (after closing the file).
    QByteArray contentsOfFileWithPath(const QString &path, qint64 size, const VtrFileInfoPtr &fileInfo,
                                      FileInfoProgress *progress, void *userData) override;
    QByteArray contentsOfFileWithPath(const QString &path, qint64 size);
    VtrFileInfoList contentsOfFolderWithPath(const QString &path) override;
    // nullptr when any command of the write fails or the progress object
    // stops it (what was written stays on the phone and is in the listing).
    VtrFileInfoPtr createFileWithPath(const QString &path, const QByteArray &contents, const VtrFileInfoPtr &fileInfo,
                                      FileInfoProgress *progress, void *userData) override;
    VtrFileInfoPtr createFileWithPath(const QString &path, const QByteArray &contents) override;
    VtrFileInfoPtr createFolderWithPath(const QString &path) override;
    int moveFileAtPath(const QString &path, const QString &toPath) override;
    bool removeFileWithPath(const QString &path) override;
    // False also when the phone answers without a result (a folder it could
    // not remove).
    bool removeFolderWithPath(const QString &path) override;
    // `name` must be one plain name: -1 otherwise.
    int renameFileWithPath(const QString &path, const QString &name) override;
    bool setFileContents(const QByteArray &data, const QString &path) override;
    bool setFileContents(const QByteArray &data, const VtrFileInfoPtr &fileInfo, FileInfoProgress *progress,
                         void *userData) override;
    int setCreationDate(const QDateTime &date, const QString &path) override;
    int setModificationDate(const QDateTime &date, const QString &path) override;
    int openFileWithPath(const QString &path, bool overwrite) override;
    int closeFile() override;
    // At most range.length bytes, never more than the reply delivered.
    QByteArray contentsOfFileWithRange(const VtrFileRange &range) override;
    int setFileContents(const QByteArray &data, const VtrFileRange &range) override;
    bool supportsCreationDate() override;
    bool supportsModificationDate() override;
    FileInfoCopyStatus copyDeviceFile(const VtrFileInfoPtr &deviceFile, const VtrFileInfoPtr &desktopFile,
                                      FileInfoProgress *progress, void *userData) override;
    FileInfoCopyStatus copyDesktopFile(const VtrFileInfoPtr &desktopFile, const VtrFileInfoPtr &deviceFile,
                                       FileInfoProgress *progress, void *userData) override;
    bool isFileOpen() const;
    bool isFileOpenForWrite() const;
    QString filePathInUse() const;

    // ---- media and transport ------------------------------------------------------------------
    std::optional<QVariantList> deviceTracks() override;
    std::optional<QVariantList> devicePlaylists() override;
    VtrFileInfoPtr setDevicePlaylistForPlaylistPath(const QString &path, const QStringList &trackPaths) override;
    bool setDeviceAlbumForAlbumPath(const QString &path, const QString &artist, const QString &composer,
                                    const QString &genre, const QStringList &trackPaths) override;
    QByteArray albumArtworkFromDeviceFile(const QString &path) override;
    bool setDeviceArtwork(const QByteArray &artwork, const QString &album) override;
    bool setDeviceMetadataForFile(const VtrFileInfoPtr &file, const QString &devicePath) override;
    QVariantMap deviceMetadataForFile(const QString &path) override;
    void deviceScreenHeight(int *height, int *width) override;
    bool isProtectedFile(const QString &path) override;
    QStringList devicePlaylistForPlaylistPath(const QString &path) override;
    // Attaching another device forgets everything read from the last one
    // (device information, identifier, content revision, listings, the open
    // file).
    void setMTPDeviceObject(std::shared_ptr<MTPDevice> device) override;
    // Neither waits for the instance lock: a phone being torn down asks
    // whether this object still serves it while a worker may be copying.
    LIBMTP_mtpdevice_struct *mtpDevice() override;
    std::shared_ptr<MTPDevice> mtp() override { return currentMtp(); }
    // YES only when, for the phone attached now, both the revision stored
    // from an earlier run and the phone's revision are known and equal.
    bool isContentRevisionEqual() override;

    // ---- caches (for tests and diagnostics) -----------------------------------------------------
    bool hasCachedListing(const QString &folderPath) const;
    bool hasCachedDrive(const QString &drive) const;
    DeviceVolumes *deviceVolumes() const;

private:
    using NodePtr = DeviceListingCache::NodePtr;
    using Listing = DeviceListingCache::Listing;

    // The instance lock (see the class comment): recursive, and it knows
    // whether the calling thread holds it, so that a wait for the main thread
    // can make sure it does not.
    class StateMutex
    {
    public:
        void lock();
        void unlock();
        bool heldByThisThread() const { return m_owner.load() == std::this_thread::get_id(); }

    private:
        std::recursive_mutex m_mutex;
        std::atomic<std::thread::id> m_owner{};
        int m_depth = 0; // guarded by m_mutex
    };
    using StateLock = std::lock_guard<StateMutex>;

    // ---- DeviceAgentHost ----
    bool hasLiveMtpHandle() override;
    QVariant sendCmdToMtp(const QVariantMap &command) override;
    QVariantMap deviceInfoFromDevice() override;
    void forgetDeviceInfoFromDevice() override;

    // Forgets what was read from the attached phone (not the listings).
    void forgetPhoneState();
    // Notices a new live handle behind the attached MTP device (another phone
    // opened by the same object): what was read from the last one goes.
    void syncPhoneIdentity();
    // The MTP device when it can answer now (connected and live), else null.
    // A worker keeps the object alive while it uses it, even if the phone is
    // detached from the main thread meanwhile.
    std::shared_ptr<MTPDevice> liveMtp();
    std::shared_ptr<MTPDevice> currentMtp() const;
    // The bytes of a "FS_WRITE_FILE" command and the command itself.
    QVariantMap writeCommand(qint64 from, const QByteArray &chunk);
    static QByteArray replyBytes(const QVariantMap &reply);

    VtrFileInfoPtr _createFileWithPath(const QString &path, const QByteArray &contents, const VtrFileInfoPtr &fileInfo,
                                       FileInfoProgress *progress, void *userData, bool useCache);
    VtrFileInfoPtr createFileOverMtp(const QString &standard, const QByteArray &contents,
                                     const VtrFileInfoPtr &fileInfo, FileInfoProgress *progress, void *userData,
                                     bool useCache);
    VtrFileInfoPtr _createFolderWithPath(const QString &path, bool useCache);
    std::optional<Listing> _contentsOfFolderWithPath(const QString &path, bool useCache);

    // ---- drives (PlatformDeviceDrives.cpp) ----
    QVariantList _getDrivesViaXML();
    static bool _driveIsInternal(const QVariantMap &drive);
    static bool _driveIsCard(const QVariantMap &drive, const QString &preferredDrive);
    // The configured "cardDrivePrefix" as a drive string ("" when none).
    QString configuredCardDrive();
    QList<NodePtr> _drivesInfo(const QString &driveString);
    NodePtr _driveWithPrefix(const QString &driveString);
    bool _driveExists(const QString &driveString);
    // The node below a mounted volume's root, stepping with find() (or
    // creating each folder level when asked).
    VtrFileInfoPtr mountedNodeForPath(const QString &mountPath, const QString &rest, bool createIfNeeded);

    // ---- clock (DeviceClock) ----
    QDateTime _getDeviceUTCTime();
    QString _getDeviceUTCTimeAsST2String();
    QDateTime _getDeviceLocalTimeWithNoTZ();
    QString _getDeviceLocalTimeAsST2String();
    static void setDefaultOnMainThread(const QVariantMap &arguments);

    // The class-wide slot; first member so it is taken before anything else
    // and given back last.
    struct InstanceSlot
    {
        InstanceSlot();
        ~InstanceSlot();
    };
    InstanceSlot m_slot;

    // Guards every member below except m_connected (atomic), m_mtpDevice (its
    // own lock) and m_agent's pointer (set once); m_agent's session is only
    // used under it.
    mutable StateMutex m_stateMutex;
    bool m_useBinaryProtocol = false;
    std::atomic<bool> m_connected{false};
    QVariantMap m_deviceInfo;
    bool m_fileIsOpen = false;
    bool m_fileIsOpenForWrite = false;
    QString m_filePathInUse;
    QStringList m_pathsToDeviceMountPoints;
    std::optional<QVariantMap> m_deviceInfoFromDevice;
    DeviceListingCache m_listings;
    std::unique_ptr<DeviceVolumes> m_deviceVolumes;
    QVariantMap m_connectionInfo;
    QString m_deviceUUID;
    mutable std::mutex m_mtpLock; // guards m_mtpDevice itself, not the device
    std::shared_ptr<MTPDevice> m_mtpDevice;
    // The content revisions seen by the last setDeviceConfiguration() with a
    // live handle (0: unknown), and the MTP device they belong to.
    uint32_t m_phoneContentRevision = 0;
    uint32_t m_storedContentRevision = 0;
    const MTPDevice *m_contentRevisionDevice = nullptr;
    // The live handle the phone state above was read through.
    LIBMTP_mtpdevice_struct *m_phoneHandle = nullptr;
    DeviceCommandAnswerer *m_answerer = nullptr;
    std::unique_ptr<DeviceAgentSession> m_agent;
};
