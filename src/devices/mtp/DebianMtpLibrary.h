#pragma once

#include "devices/mtp/MtpLibrary.h"

#include <map>
#include <mutex>

// The system's libmtp (Debian 12: 1.1.20) behind the seam.
//
// Where that build differs from what the MTP device expects, the difference
// is handled here:
// - devices are opened uncached (the cache never shows objects the phone
//   creates after its first scan); the uncached library answers its
//   whole-device listings (files, folder tree, tracks, playlists, albums)
//   with nothing, so they are made here from a walk of every folder with
//   LIBMTP_Get_Files_And_Folders (MtpObjectWalk);
// - LIBMTP_Create_Folder fails with 0 (kCreateFolderFailed);
// - a cancelled transfer answers -1: when our data handler or progress
//   function asked to cancel, the answer becomes kTransferCancelled (-2);
// - LIBMTP_Get_String_From_Object takes the property enumeration;
// - there is no file type 45: new objects of unknown type get
//   LIBMTP_FILETYPE_UNKNOWN (kNewObjectFileType).
// - the listings made from a walk fail as the walk's listings fail: what
//   failed is kept for takeErrors() beside the library's own error stack.
// The extended functions map onto the library where it has a call: free
// space from LIBMTP_Get_Storage, the modification date from
// LIBMTP_Get_Filemetadata, re-parenting with LIBMTP_Move_Object, album
// artwork with LIBMTP_Get_Representative_Sample. Sync start and stop, screen
// size and content revision answer "unknown" (0); podcast metadata cannot be
// written (-1).
class DebianMtpLibrary : public MtpLibrary
{
public:
    DebianMtpLibrary();
    ~DebianMtpLibrary() override;

    QString implementationName() const override;

    void init() override;
    LIBMTP_error_number_t detectRawDevices(LIBMTP_raw_device_t **devices, int *count) override;
    LIBMTP_mtpdevice_t *openRawDeviceUncached(LIBMTP_raw_device_t *rawDevice) override;
    void releaseDevice(LIBMTP_mtpdevice_t *device) override;
    bool usbIdentifiers(LIBMTP_mtpdevice_t *device, uint16_t *vendorId, uint16_t *productId) override;
    QStringList takeErrors(LIBMTP_mtpdevice_t *device) override;

    int getStorage(LIBMTP_mtpdevice_t *device, int sortBy) override;
    char *getSerialnumber(LIBMTP_mtpdevice_t *device) override;
    char *getFriendlyname(LIBMTP_mtpdevice_t *device) override;
    char *getModelname(LIBMTP_mtpdevice_t *device) override;
    char *getManufacturername(LIBMTP_mtpdevice_t *device) override;
    char *getDeviceversion(LIBMTP_mtpdevice_t *device) override;

    LIBMTP_folder_t *getFolderListForStorage(LIBMTP_mtpdevice_t *device, MtpStorageId storageId) override;
    LIBMTP_file_t *getFilelistingWithCallback(LIBMTP_mtpdevice_t *device, LIBMTP_progressfunc_t callback,
                                              void const *data) override;
    LIBMTP_file_t *getFilesAndFolders(LIBMTP_mtpdevice_t *device, MtpStorageId storageId,
                                      MtpObjectId parentId) override;
    LIBMTP_file_t *getFilemetadata(LIBMTP_mtpdevice_t *device, MtpObjectId objectId) override;
    char *getStringFromObject(LIBMTP_mtpdevice_t *device, MtpObjectId objectId, LIBMTP_property_t property) override;

    MtpObjectId createFolder(LIBMTP_mtpdevice_t *device, const char *name, MtpObjectId parentId,
                             MtpStorageId storageId) override;
    int setFolderName(LIBMTP_mtpdevice_t *device, LIBMTP_folder_t *folder, const char *name) override;
    int setFileName(LIBMTP_mtpdevice_t *device, LIBMTP_file_t *file, const char *name) override;
    int deleteObject(LIBMTP_mtpdevice_t *device, MtpObjectId objectId) override;

    int getFileToHandler(LIBMTP_mtpdevice_t *device, MtpObjectId objectId, MTPDataPutFunc putFunction, void *priv,
                         LIBMTP_progressfunc_t callback, void const *data) override;
    int sendFileFromHandler(LIBMTP_mtpdevice_t *device, MTPDataGetFunc getFunction, void *priv, LIBMTP_file_t *file,
                            LIBMTP_progressfunc_t callback, void const *data) override;

    LIBMTP_track_t *getTracklisting(LIBMTP_mtpdevice_t *device) override;
    LIBMTP_track_t *getTrackmetadata(LIBMTP_mtpdevice_t *device, MtpObjectId objectId) override;
    int updateTrackMetadata(LIBMTP_mtpdevice_t *device, LIBMTP_track_t const *track) override;
    LIBMTP_playlist_t *getPlaylistList(LIBMTP_mtpdevice_t *device) override;
    LIBMTP_playlist_t *getPlaylist(LIBMTP_mtpdevice_t *device, MtpObjectId playlistId) override;
    int createNewPlaylist(LIBMTP_mtpdevice_t *device, LIBMTP_playlist_t *playlist) override;
    LIBMTP_album_t *getAlbumList(LIBMTP_mtpdevice_t *device) override;
    LIBMTP_album_t *getAlbum(LIBMTP_mtpdevice_t *device, MtpObjectId albumId) override;

    int syncStart(LIBMTP_mtpdevice_t *device) override;
    int syncStop(LIBMTP_mtpdevice_t *device) override;
    int getFreespace(LIBMTP_mtpdevice_t *device, const LIBMTP_devicestorage_t *storage, uint64_t *freeSpace) override;
    int getFileModificationDate(LIBMTP_mtpdevice_t *device, LIBMTP_file_t *file) override;
    int setFileParentObjectId(LIBMTP_mtpdevice_t *device, LIBMTP_file_t *file, MtpObjectId parentId) override;
    int getAlbumArtwork(LIBMTP_mtpdevice_t *device, MtpObjectId albumId, uint8_t **buffer, uint64_t *size) override;
    int getScreenDimensions(LIBMTP_mtpdevice_t *device, int *height, int *width) override;
    int getContentRevision(LIBMTP_mtpdevice_t *device, uint32_t *revision) override;
    int updatePodcastMetadata(LIBMTP_mtpdevice_t *device, Podcast *podcast) override;

private:
    struct UsbIds
    {
        uint16_t vendorId;
        uint16_t productId;
    };
    // Keeps a walk's failure for takeErrors().
    void keepFailure(LIBMTP_mtpdevice_t *device, const QString &failure);

    // Handles opened here and the raw device each came from.
    std::mutex m_devicesMutex;
    std::map<LIBMTP_mtpdevice_t *, UsbIds> m_devices;
    std::map<LIBMTP_mtpdevice_t *, QStringList> m_failures;
};
