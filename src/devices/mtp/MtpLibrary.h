#pragma once

#include <libmtp.h>

#include <QString>
#include <QStringList>

#include <compare>
#include <cstdint>
#include <memory>
#include <optional>

// The phone's handles of its objects (files, folders, tracks, playlists,
// albums) and of its storages. Two distinct types, so that a call passing a
// storage where an object is due, or the two in the wrong order, does not
// compile. Made explicitly from a number; the number itself is read back
// (raw()) only where it leaves for the library, a record or a dictionary.
template <typename Kind> class MtpHandle
{
public:
    constexpr MtpHandle() = default;
    constexpr explicit MtpHandle(uint32_t raw) : m_raw(raw) {}
    constexpr uint32_t raw() const { return m_raw; }
    constexpr bool isNull() const { return m_raw == 0; }
    friend constexpr bool operator==(MtpHandle, MtpHandle) = default;
    friend constexpr auto operator<=>(MtpHandle, MtpHandle) = default;

private:
    uint32_t m_raw = 0;
};
using MtpObjectId = MtpHandle<struct MtpObjectKind>;
using MtpStorageId = MtpHandle<struct MtpStorageKind>;

// The handles a library record carries.
inline MtpObjectId mtpObjectId(const LIBMTP_file_t &file)
{
    return MtpObjectId(file.item_id);
}
inline MtpObjectId mtpParentId(const LIBMTP_file_t &file)
{
    return MtpObjectId(file.parent_id);
}
inline MtpStorageId mtpStorageId(const LIBMTP_file_t &file)
{
    return MtpStorageId(file.storage_id);
}

// The seam between the MTP device and the MTP library.
//
// MtpLibrary holds exactly the library calls the MTP device makes, under the
// library's own names in lowerCamelCase (getStorage = LIBMTP_Get_Storage, ...),
// plus the functions of the extended library (sync start and stop, free space,
// content revision, file modification date, re-parenting, album artwork,
// screen size, podcast metadata). Two implementations:
// - DebianMtpLibrary: the system's libmtp (1.1.20), devices opened uncached;
// - SimulatedMtpLibrary: phones described in memory or by JSON fixtures.
//
// Records (LIBMTP_file_t, LIBMTP_track_t, LIBMTP_playlist_t, LIBMTP_album_t,
// LIBMTP_folder_t, LIBMTP_devicestorage_t) are the library's own types in both
// implementations and are freed with the library's destroy functions (or the
// deleters below). Texts returned as `char *` belong to the caller (free()).
//
// One contract, whatever the implementation:
// - createFolder answers the new folder's ID, or kCreateFolderFailed (0).
// - Transfers answer 0 on success, kTransferCancelled (-2) when one of our
//   callbacks (data handler answering LIBMTP_HANDLER_RETURN_CANCEL, or the
//   progress function answering non-zero) asked to cancel, -1 otherwise.
// - A file still to be sent whose type is not known is given
//   kNewObjectFileType.
// - getStringFromObject takes the library's property enumeration
//   (LIBMTP_PROPERTY_ObjectFileName for the object's file name).
// - Whole-device listings (getFilelistingWithCallback, getFolderListForStorage,
//   getTracklisting, getPlaylistList, getAlbumList) answer every object of
//   the phone. getFilelistingWithCallback leaves folders out;
//   getFilesAndFolders lists one folder's children, folders included
//   (parent LIBMTP_FILES_AND_FOLDERS_ROOT = the storage's top level, parent
//   0 = every object of the storage, as the protocol defines it).
// - getStorage and getFreespace rebuild the device's storage list: pointers
//   into `device->storage` taken before the call are invalid after it.
// - A listing answers nullptr both for nothing to list and when the phone
//   failed to list; takeErrors() tells the two apart.
//
// Threading: the library is not thread-safe per device. Every call on one
// device handle must come through that device's lock (the MTP device holds
// it); calls on different devices may run on different threads. The seam
// itself takes no per-device lock. The simulator reports calls on one
// device that overlap (see SimulatedMtpLibrary::concurrentCallCount()).
class MtpLibrary
{
public:
    // Values of the contract above.
    static constexpr MtpObjectId kCreateFolderFailed{0};
    static constexpr int kTransferCancelled = -2;
    static constexpr LIBMTP_filetype_t kNewObjectFileType = LIBMTP_FILETYPE_UNKNOWN;
    // Parent ID that puts a new folder into the storage's top level.
    static constexpr MtpObjectId kTopLevelParent{0xFFFFFFFFu};
    // Parent that lists a storage's top level (LIBMTP_FILES_AND_FOLDERS_ROOT).
    static constexpr MtpObjectId kFilesAndFoldersRoot{LIBMTP_FILES_AND_FOLDERS_ROOT};

    virtual ~MtpLibrary();

    // "debian" or "simulator".
    virtual QString implementationName() const = 0;

    // ---- library and devices -------------------------------------------------
    virtual void init() = 0;
    // The list is the caller's: freeRawDevices(). LIBMTP_ERROR_NO_DEVICE_ATTACHED
    // (count 0, list nullptr) when there is none.
    virtual LIBMTP_error_number_t detectRawDevices(LIBMTP_raw_device_t **devices, int *count) = 0;
    virtual void freeRawDevices(LIBMTP_raw_device_t *devices);
    // Opens without the library's object cache (the cache never sees objects
    // the phone creates after the first scan). nullptr on failure.
    virtual LIBMTP_mtpdevice_t *openRawDeviceUncached(LIBMTP_raw_device_t *rawDevice) = 0;
    virtual void releaseDevice(LIBMTP_mtpdevice_t *device) = 0;
    // The USB vendor and product IDs of the raw device a handle was opened
    // from; false for an unknown handle.
    virtual bool usbIdentifiers(LIBMTP_mtpdevice_t *device, uint16_t *vendorId, uint16_t *productId) = 0;

    // What failed on the device since this was last asked (the library's error
    // stack, LIBMTP_Get_Errorstack), one text per failure, and forgets it
    // (LIBMTP_Clear_Errorstack). Not a call on the phone: never fails itself.
    virtual QStringList takeErrors(LIBMTP_mtpdevice_t *device) = 0;

    // ---- storages and device texts -----------------------------------------------
    // 0 on success, -1 on failure; fills device->storage.
    virtual int getStorage(LIBMTP_mtpdevice_t *device, int sortBy) = 0;
    virtual char *getSerialnumber(LIBMTP_mtpdevice_t *device) = 0;
    virtual char *getFriendlyname(LIBMTP_mtpdevice_t *device) = 0;
    virtual char *getModelname(LIBMTP_mtpdevice_t *device) = 0;
    virtual char *getManufacturername(LIBMTP_mtpdevice_t *device) = 0;
    virtual char *getDeviceversion(LIBMTP_mtpdevice_t *device) = 0;

    // ---- listings and objects ------------------------------------------------------
    virtual LIBMTP_folder_t *getFolderListForStorage(LIBMTP_mtpdevice_t *device, MtpStorageId storageId) = 0;
    virtual LIBMTP_file_t *getFilelistingWithCallback(LIBMTP_mtpdevice_t *device, LIBMTP_progressfunc_t callback,
                                                      void const *data) = 0;
    virtual LIBMTP_file_t *getFilesAndFolders(LIBMTP_mtpdevice_t *device, MtpStorageId storageId,
                                              MtpObjectId parentId) = 0;
    virtual LIBMTP_file_t *getFilemetadata(LIBMTP_mtpdevice_t *device, MtpObjectId objectId) = 0;
    virtual char *getStringFromObject(LIBMTP_mtpdevice_t *device, MtpObjectId objectId, LIBMTP_property_t property) = 0;

    // ---- changes -----------------------------------------------------------------
    virtual MtpObjectId createFolder(LIBMTP_mtpdevice_t *device, const char *name, MtpObjectId parentId,
                                     MtpStorageId storageId) = 0;
    // 0 on success; the record takes the new name.
    virtual int setFolderName(LIBMTP_mtpdevice_t *device, LIBMTP_folder_t *folder, const char *name) = 0;
    virtual int setFileName(LIBMTP_mtpdevice_t *device, LIBMTP_file_t *file, const char *name) = 0;
    // 0 on success. A folder goes with everything in it.
    virtual int deleteObject(LIBMTP_mtpdevice_t *device, MtpObjectId objectId) = 0;

    // ---- transfers -------------------------------------------------------------------
    virtual int getFileToHandler(LIBMTP_mtpdevice_t *device, MtpObjectId objectId, MTPDataPutFunc putFunction,
                                 void *priv, LIBMTP_progressfunc_t callback, void const *data) = 0;
    // On success the record holds the new object's ID, and its parent and
    // storage as the phone filed it (parent 0 means the top level, storage 0
    // the first storage); the phone may have changed its name, which
    // getStringFromObject(LIBMTP_PROPERTY_ObjectFileName) tells.
    virtual int sendFileFromHandler(LIBMTP_mtpdevice_t *device, MTPDataGetFunc getFunction, void *priv,
                                    LIBMTP_file_t *file, LIBMTP_progressfunc_t callback, void const *data) = 0;

    // ---- tracks, playlists, albums ---------------------------------------------------
    virtual LIBMTP_track_t *getTracklisting(LIBMTP_mtpdevice_t *device) = 0;
    // nullptr for an object that is not a track (audio or video).
    virtual LIBMTP_track_t *getTrackmetadata(LIBMTP_mtpdevice_t *device, MtpObjectId objectId) = 0;
    virtual int updateTrackMetadata(LIBMTP_mtpdevice_t *device, LIBMTP_track_t const *track) = 0;
    virtual LIBMTP_playlist_t *getPlaylistList(LIBMTP_mtpdevice_t *device) = 0;
    virtual LIBMTP_playlist_t *getPlaylist(LIBMTP_mtpdevice_t *device, MtpObjectId playlistId) = 0;
    // 0 on success; fills playlist_id (and the parent and storage used).
    virtual int createNewPlaylist(LIBMTP_mtpdevice_t *device, LIBMTP_playlist_t *playlist) = 0;
    virtual LIBMTP_album_t *getAlbumList(LIBMTP_mtpdevice_t *device) = 0;
    virtual LIBMTP_album_t *getAlbum(LIBMTP_mtpdevice_t *device, MtpObjectId albumId) = 0;

    // ---- the extended library ------------------------------------------------------------
    // A synchronisation session on the phone; the results are not used.
    virtual int syncStart(LIBMTP_mtpdevice_t *device) = 0;
    virtual int syncStop(LIBMTP_mtpdevice_t *device) = 0;
    // Stores the storage's current free bytes; 0 on success. `storage` is
    // read before the storage list is rebuilt and is invalid afterwards.
    virtual int getFreespace(LIBMTP_mtpdevice_t *device, const LIBMTP_devicestorage_t *storage,
                             uint64_t *freeSpace) = 0;
    // Fills file->modificationdate from the phone; 0 on success.
    virtual int getFileModificationDate(LIBMTP_mtpdevice_t *device, LIBMTP_file_t *file) = 0;
    // Moves the object under another folder (0: the top level); 0 on success,
    // the record then holds the new parent.
    virtual int setFileParentObjectId(LIBMTP_mtpdevice_t *device, LIBMTP_file_t *file, MtpObjectId parentId) = 0;
    // 0 on success with *buffer (malloc'ed, the caller frees it) and *size.
    virtual int getAlbumArtwork(LIBMTP_mtpdevice_t *device, MtpObjectId albumId, uint8_t **buffer, uint64_t *size) = 0;
    // Sets both (0 means unknown); the result is not used.
    virtual int getScreenDimensions(LIBMTP_mtpdevice_t *device, int *height, int *width) = 0;
    // Stores the content revision (0 means unknown); the result is not used.
    virtual int getContentRevision(LIBMTP_mtpdevice_t *device, uint32_t *revision) = 0;

    // A podcast's metadata, the extended library's record.
    struct Podcast
    {
        uint32_t objectId = 0;
        uint32_t parentId = 0;
        uint32_t storageId = 0;
        uint32_t size = 0;
        char *filename = nullptr;
        char *urlSource = nullptr;
        char *album = nullptr;
        char *sourceFilename = nullptr; // the file name once more, as the record carries it
        char *artist = nullptr;
        char *date = nullptr;
        // UTF-16 big-endian without byte-order mark; length in characters.
        unsigned char *description = nullptr;
        uint32_t descriptionLength = 0;
        uint32_t duration = 0;
        uint32_t timeBookmark = 0;
        uint16_t flags = 0; // the MTP device sets 64
        uint32_t seriesHandle = 0;
        LIBMTP_filetype_t filetype = LIBMTP_FILETYPE_UNKNOWN;
    };
    static Podcast *newPodcast();
    // Frees the record and every text and buffer it holds (malloc'ed).
    static void destroyPodcast(Podcast *podcast);
    // 0 on success; the record may hold a new object ID afterwards.
    virtual int updatePodcastMetadata(LIBMTP_mtpdevice_t *device, Podcast *podcast) = 0;

protected:
    MtpLibrary() = default;
};

// ---- RAII for library records --------------------------------------------------

// Frees a whole linked list (LIBMTP_destroy_* frees one record).
void mtpDestroyFileList(LIBMTP_file_t *list);
void mtpDestroyTrackList(LIBMTP_track_t *list);
void mtpDestroyPlaylistList(LIBMTP_playlist_t *list);
void mtpDestroyAlbumList(LIBMTP_album_t *list);

struct MtpFileListDeleter
{
    void operator()(LIBMTP_file_t *p) const { mtpDestroyFileList(p); }
};
struct MtpTrackListDeleter
{
    void operator()(LIBMTP_track_t *p) const { mtpDestroyTrackList(p); }
};
struct MtpPlaylistListDeleter
{
    void operator()(LIBMTP_playlist_t *p) const { mtpDestroyPlaylistList(p); }
};
struct MtpAlbumListDeleter
{
    void operator()(LIBMTP_album_t *p) const { mtpDestroyAlbumList(p); }
};
struct MtpFolderTreeDeleter
{
    // LIBMTP_destroy_folder_t frees children and siblings too.
    void operator()(LIBMTP_folder_t *p) const
    {
        if (p) LIBMTP_destroy_folder_t(p);
    }
};
struct MtpStringDeleter
{
    void operator()(char *p) const;
};
struct MtpPodcastDeleter
{
    void operator()(MtpLibrary::Podcast *p) const { MtpLibrary::destroyPodcast(p); }
};

using MtpFileList = std::unique_ptr<LIBMTP_file_t, MtpFileListDeleter>;
using MtpTrackList = std::unique_ptr<LIBMTP_track_t, MtpTrackListDeleter>;
using MtpPlaylistList = std::unique_ptr<LIBMTP_playlist_t, MtpPlaylistListDeleter>;
using MtpAlbumList = std::unique_ptr<LIBMTP_album_t, MtpAlbumListDeleter>;
using MtpFolderTree = std::unique_ptr<LIBMTP_folder_t, MtpFolderTreeDeleter>;
using MtpString = std::unique_ptr<char, MtpStringDeleter>;
using MtpPodcastRecord = std::unique_ptr<MtpLibrary::Podcast, MtpPodcastDeleter>;

// A library text as QString (UTF-8; null for nullptr), freeing it.
QString mtpTakeString(char *text);

// The file type's name without the library's prefix ("MP3", "FOLDER",
// "UNKNOWN"), and back (any letter case); a number for a value out of range.
QString mtpFiletypeName(LIBMTP_filetype_t type);
std::optional<LIBMTP_filetype_t> mtpFiletypeFromName(const QString &name);

// Record helpers shared by both implementations and by tools.
// A copy of one file record (the `next` link cleared).
LIBMTP_file_t *mtpCopyFile(const LIBMTP_file_t *file);

// ---- choosing the library ----------------------------------------------------------

// The process's library: the simulator with the fixture named by the
// environment variable VTR_MTP_SIMULATOR (a JSON phone description), else the
// system's libmtp. Made on first use; tests and tools may replace it.
std::shared_ptr<MtpLibrary> mtpSharedLibrary();
void mtpSetSharedLibrary(std::shared_ptr<MtpLibrary> library);
std::shared_ptr<MtpLibrary> mtpLibraryFromEnvironment();
inline constexpr const char *kMtpSimulatorEnvironmentVariable = "VTR_MTP_SIMULATOR";
