#pragma once

#include "devices/mtp/MTPDeviceObjectMap.h"
#include "devices/mtp/MtpLibrary.h"
#include "fileinfo/FileInfoCopyStatus.h"
#include "fileinfo/VtrBaseFileInfo.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

// What a computer-side file may tell about itself for the phone. A file kind
// that knows a track's tags or artwork implements these; MTPDevice asks with
// dynamic_cast and treats a file that does not answer as having none (which,
// for the local file kind, is always the case).
class MtpMetadataSource
{
public:
    virtual ~MtpMetadataSource() = default;
    // Keys (each optional): "artist", "composer", "genre", "album" (texts);
    // "date" (QDateTime); "tracknumber", "nochannels", "bitratetype",
    // "rating", "duration", "samplerate", "wavecodec", "bitrate", "usecount",
    // "filesize", "modificationDate", "filetype", "metadataType" (numbers);
    // podcasts also "urlsource", "podcastDescription" (texts) and
    // "timebookmark" (number). nullopt: nothing to tell.
    virtual std::optional<QVariantMap> mtpMetadata() = 0;
};

class MtpArtworkSource
{
public:
    virtual ~MtpArtworkSource() = default;
    virtual QByteArray artworkData() = 0;
};

// One opened MTP device (an Android phone), one of whose storages looks like
// a phone file system with the single drive "E:\": it answers the command
// dictionaries of devices/command/DeviceCommands.h from an in-memory map between
// device paths and MTP object IDs, copies whole files between the phone and
// this computer with progress, and reads and writes tracks, playlists and
// metadata.
//
// Ownership and threads:
// - The library handle is not owned: the phone object opens it, hands it over
//   with setMTPDevice() and releases it. Before it releases the handle it
//   calls detach(): every operation still running on another thread then ends
//   with an error (a transfer is cancelled at its next block) and detach()
//   returns only after the last library call on the handle has returned. Call
//   detach() from outside this object's callbacks (not from a progress
//   callback of a running copy).
// - Every call on one MTPDevice goes through its lock, so calls may come from
//   any thread, one at a time. A progress callback that calls back into the
//   same MTPDevice during a transfer is answered as if no phone were
//   attached: the library is never entered twice for one device.
// - While the application-wide MTP-off flag is raised (IsMTPAccessDisabled),
//   mtpDevice() answers nullptr and every operation answers nil, false, 0 or
//   -1 without touching the library.
//
// Paths: "E:\" and Windows-style paths below it; names in the map are the
// phone's names made valid Windows file names (see MTPDeviceObjectMap.h).
class MTPDevice
{
public:
    // `library` null: the process's library (mtpSharedLibrary()).
    MTPDevice(quint16 usbVendorID, quint16 usbProductID, std::shared_ptr<MtpLibrary> library = nullptr);
    ~MTPDevice();
    MTPDevice(const MTPDevice &) = delete;
    MTPDevice &operator=(const MTPDevice &) = delete;

    // ---- creation and selection ----------------------------------------------

    // A new handle drops the cached device texts; a new non-zero storage ID
    // turns on fetching of missing modification dates and rebuilds the map,
    // as does the same storage chosen again when the phone failed to list
    // part of it last time.
    // Setting a handle of nullptr is detach().
    void setMTPDevice(LIBMTP_mtpdevice_t *device, uint32_t storageID);
    void setMTPDevice(LIBMTP_mtpdevice_t *device);
    void setStorageID(uint32_t storageID);
    // Detaches the handle (see above) and answers it, so the caller can release
    // it; the map, the open file and the cached texts go with it.
    LIBMTP_mtpdevice_t *detach();
    // The live handle; nullptr without one, while detaching, or while MTP
    // access is off. A test for "can talk MTP now": use it for nothing else.
    LIBMTP_mtpdevice_t *mtpDevice() const;
    uint32_t storageID() const;
    quint16 usbVendorID() const { return m_usbVendorID; }
    quint16 usbProductID() const { return m_usbProductID; }
    MtpLibrary &library() const { return *m_library; }

    // ---- storages and device texts --------------------------------------------

    // Storage dictionaries in the device's order: "rawType" (uint: 3 fixed,
    // 4 removable), "storageID" (uint), "capacity" and "freeSpace" (quint64),
    // "type" (int: 0 internal, 1 removable card). Storages of other types are
    // left out (logged).
    QVariantList storages();
    quint64 capacity();
    quint64 maxCapacity();
    // The free bytes the library reported last; freeSpace() asks the phone.
    quint64 freeSpaceInBytes();
    quint64 freeSpace();
    // Texts of the phone, cached until another handle is set. serialNumber()
    // is "" when the phone gives none; name() falls back to model(); model()
    // is null when the phone gives none.
    QString serialNumber();
    QString name();
    QString model();
    // "manufacturer", "model", "user", "name", "id" (the USB serial number),
    // "rev" "0", "supports_compression" "FALSE", "OSVersion",
    // "deviceApplicationIdentifier" "", "MARF" "FALSE", "usb_pID", "usb_vID"
    // and, when the device list has an entry for the IDs, "Device
    // Configuration". Empty without a handle.
    QVariantMap getDeviceInfo();
    // {"drive": {"size", "free", "label" "mtp_device", "serial", "media"
    // "Hard Disk", "id" "E"}} with the free space read afresh; empty without a
    // storage.
    QVariantMap handleCommandGetDrives();
    QVariantMap getDrivesViaXML() { return handleCommandGetDrives(); }
    bool handshakeWithDevice() { return false; }
    bool supportsCreationDate() { return false; }
    bool supportsModificationDate() { return true; }
    bool isProtectedFile(const QString &) { return false; }
    QString normalizePathForZune(const QString &path) { return path; }
    void setFetchModDates(bool fetch);

    // ---- commands ----------------------------------------------------------------

    // Answers a command dictionary with the reply's "result" (an invalid
    // QVariant for none). Replies holding "fatal", "cancel" or "error" raise
    // the matching VtrException (DeviceCommands::throwForErrorReply); a
    // "warning" only leaves the result empty.
    //
    // Failures are errors ("DeviceException"): a delete or folder removal the
    // phone refuses, removing the drive root "E:\" (which would empty the
    // storage), a folder that cannot be made (parent unknown, a file in the
    // way, refused by the phone), and "FS_OPEN_FILE" for writing under an
    // unknown folder or onto a folder. Opening an existing file for writing
    // deletes nothing: an object is only ever replaced by a completed copy
    // (copyDesktopFile). Removing an unknown folder only warns.
    QVariant sendCmdWithDictionary(const QVariantMap &command);

    // ---- copies ---------------------------------------------------------------------

    // Phone -> computer. `desktopFile` is the file to write: when it is the
    // temporary copy file ("TessalineCopyFile.tmp") it is written directly
    // (the caller moves it into place); any other destination is replaced
    // only by a complete copy (vtr::copyThroughTemporaryFile). The file takes
    // the object's modification time. 0, or -1 without a handle, -50 without
    // both files, -207 when a side does not open or the transfer fails (also
    // when the device is detached meanwhile), -210 when the progress callback
    // cancelled (see FileInfoCopy.h for -202/-209 of the temporary file).
    FileInfoCopyStatus copyDeviceFile(const VtrFileInfoPtr &deviceFile, const VtrFileInfoPtr &desktopFile,
                                      FileInfoProgress *progress, void *userData);
    // Computer -> phone. An existing object at the path is replaced only once
    // the new one has arrived; on success `deviceFile` takes the name the
    // phone gave the new object. 0, or -1 without a handle, -50 without both
    // files, -207 on failure, -210 when the progress callback cancelled.
    FileInfoCopyStatus copyDesktopFile(const VtrFileInfoPtr &desktopFile, const VtrFileInfoPtr &deviceFile,
                                       FileInfoProgress *progress, void *userData);
    // The phone's own name of the object of the last "FS_OPEN_FILE"; null when
    // there is none.
    QString openFileName();
    // The file's MtpMetadataSource answer; nullopt for a file without one.
    std::optional<QVariantMap> mtpMetadataFromFile(const VtrFileInfoPtr &file);
    QByteArray albumArtworkForFile(const VtrFileInfoPtr &file);

    // ---- the object map -----------------------------------------------------------

    // Rebuilds the map from a walk of the chosen storage (only with a live
    // handle and a storage chosen).
    void setCaches();
    // The entry's own fields (MTPDeviceObjectMap::fields); empty for none.
    QVariantMap dictionaryForPath(const QString &path);
    // The file's object ID; 0 for a folder, the root or an unknown path.
    uint32_t oidForPath(const QString &path);
    // "E:\Music\a.mp3"; empty for an ID not in the map.
    QString pathToObjectID(uint32_t objectID);
    // Exactly two components, the first "E:\".
    static bool isFirstLevelDirectory(const QString &path);
    // Entries in the map, the root included (0 before the first build).
    qsizetype objectCount();

    // ---- tracks, playlists, album art and metadata ----------------------------------

    // Audio tracks: {"track_id" (int, when not 0), "track_path", "size"
    // (qint64), "mod"}; nullopt when the phone lists no track at all.
    std::optional<QVariantList> deviceTracks();
    // Named playlists: {"playlist_name", "playlist_id" (int) and
    // "playlist_path" (when the ID is not 0), "playlist_tracks" (when it has
    // tracks: [{"track_id" (uint), "track_path"}])}; nullopt when none.
    // Throws VtrException "DeviceException" when the phone failed to list them.
    std::optional<QVariantList> devicePlaylists();
    // Device paths of the playlist's tracks in order; empty for none.
    QStringList devicePlaylistForPlaylistPath(const QString &path);
    // Writes a playlist object (path "E:\...\Name.pla") holding the tracks
    // whose paths are known. An old playlist at the path goes only once the
    // new one exists. True when the new playlist was created.
    bool setDevicePlaylistForPlaylistPath(const QString &path, const QStringList &trackPaths);
    // Writes the file's metadata (MtpMetadataSource) to the object at the
    // path; true also when there is nothing to write.
    bool setDeviceMetadataForFile(const VtrFileInfoPtr &file, const QString &devicePath);
    bool setDeviceMetadataForPodcast(const VtrFileInfoPtr &file, LIBMTP_file_t *deviceFile, uint32_t seriesHandle);
    // The object's track metadata: texts "title", "artist", "composer",
    // "genre", "album", "date", "filename"; numbers "tracknumber", "duration",
    // "samplerate", "nochannels", "wavecodec", "bitrate", "bitratetype",
    // "rating", "usecount", "filesize" (qint64), "modificationdate",
    // "filetype"; only non-empty, non-zero values. Empty for none.
    QVariantMap deviceMetadataForFile(const QString &path);
    // The artwork of the track's album; null for none.
    QByteArray albumArtworkFromDeviceFile(const QString &path);
    // Both 0, then the phone's height and width when it reports both.
    void deviceScreenHeight(int *height, int *width);
    // Left untouched without a handle.
    void getContentRevisionNumber(uint32_t *revision);
    bool setDeviceAlbumForAlbumPath(const QString &, const QString &, const QString &, const QString &,
                                    const QStringList &)
    {
        return false;
    }
    bool setDeviceArtwork(const QByteArray &, const QString &) { return false; }

private:
    struct OpenFile;
    using Entry = MTPDeviceObjectMap::Entry;
    using Lock = std::unique_lock<std::recursive_mutex>;

    // Everything below runs with the lock held. live() is the handle a
    // library call may use right now (nullptr: make none).
    LIBMTP_mtpdevice_t *live() const;
    MtpStorageId storage() const { return MtpStorageId(m_storageID.load()); }
    const LIBMTP_devicestorage_t *storageRecord(LIBMTP_mtpdevice_t *device);
    void dropDeviceState();
    void rebuildMap();
    // Reads the folder's objects from the phone again and brings its entries
    // in line (objects the phone made or dropped behind the map's back). When
    // the phone fails to list them the entries stay: answered as they are
    // when the map holds all the storage, else false with why in `failure`.
    bool refreshFolder(Entry *folder, QString *failure = nullptr);
    QVariantMap handleCommand(const QString &name, const QVariantMap &command);
    QVariantMap handleCommandOpenFile(const QVariantMap &command);
    QVariantMap handleCommandMakeDirectory(const QVariantMap &command);
    QVariantMap handleCommandGetDirectory(const QVariantMap &command);
    QVariantMap handleCommandDeleteFile(const QVariantMap &command);
    QVariantMap handleCommandRemoveDirectory(const QVariantMap &command);
    QVariantMap handleCommandMoveFile(const QVariantMap &command);
    // Fills `file` for the path; false with the reason for an error reply.
    bool prepareOpenFile(const QString &path, bool forWriting, OpenFile &file, QString *error);
    // Deletes the object (children first, then itself, then an album left
    // without tracks) and forgets what went; true when the object itself went.
    bool deleteObjectWithId(MtpObjectId objectId);
    // Deletes a leftover temporary copy file in the folder; false when one
    // stays.
    bool removeLeftoverTemporaryFile(Entry *folder);
    // Gives the newly sent object (record) the name `name`; `old` (may be
    // null) is the object it replaces. False when the name still holds the
    // old object, or nothing when there was none.
    bool putInPlace(LIBMTP_file_t *record, const QString &name, Entry *old);
    // Renames the object of the entry on the phone (the map is not told).
    bool renameObject(const Entry &entry, const QString &name);
    // The name an object being replaced steps aside to: never the temporary
    // copy file's, which a listing may remove.
    static QString asideName(const QString &name);
    // Removes what a failed send may have left in the folder under `name`
    // (objects that were not there before, holding at most what was sent).
    void removePartialSend(MtpObjectId folderId, const QString &name, uint64_t bytesSent,
                           const std::vector<MtpObjectId> &before);
    // The files named `name` the phone lists in the folder now, of at most
    // `maxSize` bytes.
    std::vector<MtpObjectId> filesNamed(MtpObjectId folderId, const QString &name, uint64_t maxSize);
    qint64 fetchModificationTime(MtpObjectId objectId);
    FileInfoCopyStatus receiveInto(MtpObjectId objectId, qint64 size, const VtrFileInfoPtr &deviceFile,
                                   const VtrFileInfoPtr &file, FileInfoProgress *progress, void *userData);
    FileInfoCopyStatus sendToPhone(const VtrFileInfoPtr &desktopFile, VtrFileInfoHandle *reader,
                                   const VtrFileInfoPtr &deviceFile, OpenFile &target, FileInfoProgress *progress,
                                   void *userData);
    bool writeTrackMetadata(const QVariantMap &metadata, Entry *entry);

    const quint16 m_usbVendorID;
    const quint16 m_usbProductID;
    const std::shared_ptr<MtpLibrary> m_library;

    mutable std::recursive_mutex m_mutex;
    std::atomic<LIBMTP_mtpdevice_t *> m_device{nullptr};
    std::atomic<bool> m_detaching{false};
    std::atomic<uint32_t> m_storageID{0};
    // Guarded by m_mutex from here on.
    bool m_inTransfer = false;
    bool m_fetchModDates = false;
    std::optional<QString> m_serialNumber;
    std::optional<QString> m_name;
    std::optional<QString> m_model;
    // Outlives the maps that it is given to.
    MTPDeviceObjectMap::RenameLog m_renameLog;
    std::unique_ptr<MTPDeviceObjectMap> m_map;
    bool m_mapHasGaps = false;  // the phone failed to list part of the storage
    bool m_walkedAgain = false; // the map is the storage's second walk in a row
    qsizetype m_lastMapCount = 0; // sizes the next map's index
    std::unique_ptr<OpenFile> m_openFile;
};
