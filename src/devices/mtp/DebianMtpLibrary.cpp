#include "devices/mtp/DebianMtpLibrary.h"

#include "devices/mtp/MtpObjectWalk.h"

#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {

// Our handlers and progress function, seen through the library's: remembers
// whether one of them asked to cancel, which the library reports as a plain
// failure (-1).
struct TransferBridge
{
    MTPDataGetFunc getFunction = nullptr;
    MTPDataPutFunc putFunction = nullptr;
    void *priv = nullptr;
    LIBMTP_progressfunc_t progress = nullptr;
    void const *progressData = nullptr;
    bool cancelRequested = false;
};

uint16_t bridgeGet(void *params, void *priv, uint32_t wantlen, unsigned char *data, uint32_t *gotlen)
{
    auto *bridge = static_cast<TransferBridge *>(priv);
    const uint16_t answer = bridge->getFunction(params, bridge->priv, wantlen, data, gotlen);
    if (answer == LIBMTP_HANDLER_RETURN_CANCEL) bridge->cancelRequested = true;
    return answer;
}

uint16_t bridgePut(void *params, void *priv, uint32_t sendlen, unsigned char *data, uint32_t *putlen)
{
    auto *bridge = static_cast<TransferBridge *>(priv);
    const uint16_t answer = bridge->putFunction(params, bridge->priv, sendlen, data, putlen);
    if (answer == LIBMTP_HANDLER_RETURN_CANCEL) bridge->cancelRequested = true;
    return answer;
}

int bridgeProgress(uint64_t const sent, uint64_t const total, void const *data)
{
    auto *bridge = static_cast<TransferBridge *>(const_cast<void *>(data));
    if (!bridge->progress) return 0;
    const int answer = bridge->progress(sent, total, bridge->progressData);
    if (answer != 0) bridge->cancelRequested = true;
    return answer;
}

int transferAnswer(int libraryAnswer, const TransferBridge &bridge)
{
    if (libraryAnswer == 0) return 0;
    return bridge.cancelRequested ? MtpLibrary::kTransferCancelled : -1;
}

} // namespace

DebianMtpLibrary::DebianMtpLibrary() = default;

DebianMtpLibrary::~DebianMtpLibrary() = default;

QString DebianMtpLibrary::implementationName() const
{
    return QStringLiteral("debian");
}

void DebianMtpLibrary::init()
{
    static std::once_flag once;
    std::call_once(once, [] { LIBMTP_Init(); });
}

LIBMTP_error_number_t DebianMtpLibrary::detectRawDevices(LIBMTP_raw_device_t **devices, int *count)
{
    *devices = nullptr;
    *count = 0;
    init();
    LIBMTP_error_number_t error = LIBMTP_Detect_Raw_Devices(devices, count);
    if (error != LIBMTP_ERROR_NONE) {
        free(*devices);
        *devices = nullptr;
        *count = 0;
    }
    return error;
}

LIBMTP_mtpdevice_t *DebianMtpLibrary::openRawDeviceUncached(LIBMTP_raw_device_t *rawDevice)
{
    if (!rawDevice) return nullptr;
    init();
    LIBMTP_mtpdevice_t *device = LIBMTP_Open_Raw_Device_Uncached(rawDevice);
    if (device) {
        std::lock_guard<std::mutex> lock(m_devicesMutex);
        m_devices[device] = UsbIds{rawDevice->device_entry.vendor_id, rawDevice->device_entry.product_id};
    }
    return device;
}

void DebianMtpLibrary::releaseDevice(LIBMTP_mtpdevice_t *device)
{
    if (!device) return;
    {
        std::lock_guard<std::mutex> lock(m_devicesMutex);
        m_devices.erase(device);
        m_failures.erase(device);
    }
    LIBMTP_Release_Device(device);
}

QStringList DebianMtpLibrary::takeErrors(LIBMTP_mtpdevice_t *device)
{
    QStringList errors;
    if (!device) return errors;
    {
        std::lock_guard<std::mutex> lock(m_devicesMutex);
        const auto kept = m_failures.find(device);
        if (kept != m_failures.end()) {
            errors = std::move(kept->second);
            m_failures.erase(kept);
        }
    }
    for (const LIBMTP_error_t *error = LIBMTP_Get_Errorstack(device); error; error = error->next)
        errors.append(error->error_text ? QString::fromUtf8(error->error_text).trimmed()
                                        : QStringLiteral("error %1").arg(int(error->errornumber)));
    LIBMTP_Clear_Errorstack(device);
    return errors;
}

void DebianMtpLibrary::keepFailure(LIBMTP_mtpdevice_t *device, const QString &failure)
{
    if (failure.isEmpty()) return;
    std::lock_guard<std::mutex> lock(m_devicesMutex);
    m_failures[device].append(failure);
}

bool DebianMtpLibrary::usbIdentifiers(LIBMTP_mtpdevice_t *device, uint16_t *vendorId, uint16_t *productId)
{
    std::lock_guard<std::mutex> lock(m_devicesMutex);
    auto it = m_devices.find(device);
    if (it == m_devices.end()) return false;
    if (vendorId) *vendorId = it->second.vendorId;
    if (productId) *productId = it->second.productId;
    return true;
}

int DebianMtpLibrary::getStorage(LIBMTP_mtpdevice_t *device, int sortBy)
{
    return device ? LIBMTP_Get_Storage(device, sortBy) : -1;
}

char *DebianMtpLibrary::getSerialnumber(LIBMTP_mtpdevice_t *device)
{
    return device ? LIBMTP_Get_Serialnumber(device) : nullptr;
}

char *DebianMtpLibrary::getFriendlyname(LIBMTP_mtpdevice_t *device)
{
    return device ? LIBMTP_Get_Friendlyname(device) : nullptr;
}

char *DebianMtpLibrary::getModelname(LIBMTP_mtpdevice_t *device)
{
    return device ? LIBMTP_Get_Modelname(device) : nullptr;
}

char *DebianMtpLibrary::getManufacturername(LIBMTP_mtpdevice_t *device)
{
    return device ? LIBMTP_Get_Manufacturername(device) : nullptr;
}

char *DebianMtpLibrary::getDeviceversion(LIBMTP_mtpdevice_t *device)
{
    return device ? LIBMTP_Get_Deviceversion(device) : nullptr;
}

LIBMTP_folder_t *DebianMtpLibrary::getFolderListForStorage(LIBMTP_mtpdevice_t *device, MtpStorageId storage)
{
    QString failure;
    LIBMTP_folder_t *tree = MtpObjectWalk::folderTree(*this, device, storage, &failure);
    keepFailure(device, failure);
    return tree;
}

LIBMTP_file_t *DebianMtpLibrary::getFilelistingWithCallback(LIBMTP_mtpdevice_t *device, LIBMTP_progressfunc_t,
                                                            void const *)
{
    QString failure;
    LIBMTP_file_t *files = MtpObjectWalk::collect(*this, device, MtpStorageId(), false, &failure);
    keepFailure(device, failure);
    return files;
}

LIBMTP_file_t *DebianMtpLibrary::getFilesAndFolders(LIBMTP_mtpdevice_t *device, MtpStorageId storage,
                                                    MtpObjectId parent)
{
    const uint32_t storageId = storage.raw();
    const uint32_t parentId = parent.raw();
    return device ? LIBMTP_Get_Files_And_Folders(device, storageId, parentId) : nullptr;
}

LIBMTP_file_t *DebianMtpLibrary::getFilemetadata(LIBMTP_mtpdevice_t *device, MtpObjectId object)
{
    const uint32_t objectId = object.raw();
    return device ? LIBMTP_Get_Filemetadata(device, objectId) : nullptr;
}

char *DebianMtpLibrary::getStringFromObject(LIBMTP_mtpdevice_t *device, MtpObjectId object, LIBMTP_property_t property)
{
    const uint32_t objectId = object.raw();
    return device ? LIBMTP_Get_String_From_Object(device, objectId, property) : nullptr;
}

MtpObjectId DebianMtpLibrary::createFolder(LIBMTP_mtpdevice_t *device, const char *name, MtpObjectId parent,
                                           MtpStorageId storage)
{
    const uint32_t storageId = storage.raw();
    const uint32_t parentId = parent.raw();
    if (!device || !name) return kCreateFolderFailed;
    // The library may rewrite the name for devices with naming rules.
    char *copy = strdup(name);
    if (!copy) return kCreateFolderFailed;
    const uint32_t id = LIBMTP_Create_Folder(device, copy, parentId, storageId);
    free(copy);
    return MtpObjectId(id);
}

int DebianMtpLibrary::setFolderName(LIBMTP_mtpdevice_t *device, LIBMTP_folder_t *folder, const char *name)
{
    return device && folder && name ? LIBMTP_Set_Folder_Name(device, folder, name) : -1;
}

int DebianMtpLibrary::setFileName(LIBMTP_mtpdevice_t *device, LIBMTP_file_t *file, const char *name)
{
    return device && file && name ? LIBMTP_Set_File_Name(device, file, name) : -1;
}

int DebianMtpLibrary::deleteObject(LIBMTP_mtpdevice_t *device, MtpObjectId object)
{
    const uint32_t objectId = object.raw();
    return device ? LIBMTP_Delete_Object(device, objectId) : -1;
}

int DebianMtpLibrary::getFileToHandler(LIBMTP_mtpdevice_t *device, MtpObjectId object, MTPDataPutFunc putFunction,
                                       void *priv, LIBMTP_progressfunc_t callback, void const *data)
{
    const uint32_t objectId = object.raw();
    if (!device || !putFunction) return -1;
    TransferBridge bridge;
    bridge.putFunction = putFunction;
    bridge.priv = priv;
    bridge.progress = callback;
    bridge.progressData = data;
    const int answer =
        LIBMTP_Get_File_To_Handler(device, objectId, bridgePut, &bridge, callback ? bridgeProgress : nullptr, &bridge);
    return transferAnswer(answer, bridge);
}

int DebianMtpLibrary::sendFileFromHandler(LIBMTP_mtpdevice_t *device, MTPDataGetFunc getFunction, void *priv,
                                          LIBMTP_file_t *file, LIBMTP_progressfunc_t callback, void const *data)
{
    if (!device || !getFunction || !file) return -1;
    TransferBridge bridge;
    bridge.getFunction = getFunction;
    bridge.priv = priv;
    bridge.progress = callback;
    bridge.progressData = data;
    const int answer =
        LIBMTP_Send_File_From_Handler(device, bridgeGet, &bridge, file, callback ? bridgeProgress : nullptr, &bridge);
    return transferAnswer(answer, bridge);
}

LIBMTP_track_t *DebianMtpLibrary::getTracklisting(LIBMTP_mtpdevice_t *device)
{
    LIBMTP_track_t *head = nullptr;
    LIBMTP_track_t **tail = &head;
    QString failure;
    MtpObjectWalk::walk(*this, device, MtpStorageId(), [&](const LIBMTP_file_t &object, int, MtpObjectId) {
        if (!LIBMTP_FILETYPE_IS_TRACK(object.filetype)) return true;
        LIBMTP_track_t *track = LIBMTP_Get_Trackmetadata(device, object.item_id);
        if (!track) return true;
        track->next = nullptr;
        *tail = track;
        tail = &track->next;
        return true;
    }, MtpObjectWalk::kDefaultMaxDepth, &failure);
    keepFailure(device, failure);
    return head;
}

LIBMTP_track_t *DebianMtpLibrary::getTrackmetadata(LIBMTP_mtpdevice_t *device, MtpObjectId object)
{
    const uint32_t objectId = object.raw();
    return device ? LIBMTP_Get_Trackmetadata(device, objectId) : nullptr;
}

int DebianMtpLibrary::updateTrackMetadata(LIBMTP_mtpdevice_t *device, LIBMTP_track_t const *track)
{
    return device && track ? LIBMTP_Update_Track_Metadata(device, track) : -1;
}

LIBMTP_playlist_t *DebianMtpLibrary::getPlaylistList(LIBMTP_mtpdevice_t *device)
{
    LIBMTP_playlist_t *head = nullptr;
    LIBMTP_playlist_t **tail = &head;
    QString failure;
    MtpObjectWalk::walk(*this, device, MtpStorageId(), [&](const LIBMTP_file_t &object, int, MtpObjectId) {
        if (object.filetype != LIBMTP_FILETYPE_PLAYLIST) return true;
        LIBMTP_playlist_t *playlist = LIBMTP_Get_Playlist(device, object.item_id);
        if (!playlist) return true;
        playlist->next = nullptr;
        *tail = playlist;
        tail = &playlist->next;
        return true;
    }, MtpObjectWalk::kDefaultMaxDepth, &failure);
    keepFailure(device, failure);
    return head;
}

LIBMTP_playlist_t *DebianMtpLibrary::getPlaylist(LIBMTP_mtpdevice_t *device, MtpObjectId playlistHandle)
{
    const uint32_t playlistId = playlistHandle.raw();
    return device ? LIBMTP_Get_Playlist(device, playlistId) : nullptr;
}

int DebianMtpLibrary::createNewPlaylist(LIBMTP_mtpdevice_t *device, LIBMTP_playlist_t *playlist)
{
    return device && playlist ? LIBMTP_Create_New_Playlist(device, playlist) : -1;
}

LIBMTP_album_t *DebianMtpLibrary::getAlbumList(LIBMTP_mtpdevice_t *device)
{
    LIBMTP_album_t *head = nullptr;
    LIBMTP_album_t **tail = &head;
    QString failure;
    MtpObjectWalk::walk(*this, device, MtpStorageId(), [&](const LIBMTP_file_t &object, int, MtpObjectId) {
        if (object.filetype != LIBMTP_FILETYPE_ALBUM) return true;
        LIBMTP_album_t *album = LIBMTP_Get_Album(device, object.item_id);
        if (!album) return true;
        album->next = nullptr;
        *tail = album;
        tail = &album->next;
        return true;
    }, MtpObjectWalk::kDefaultMaxDepth, &failure);
    keepFailure(device, failure);
    return head;
}

LIBMTP_album_t *DebianMtpLibrary::getAlbum(LIBMTP_mtpdevice_t *device, MtpObjectId albumHandle)
{
    const uint32_t albumId = albumHandle.raw();
    return device ? LIBMTP_Get_Album(device, albumId) : nullptr;
}

int DebianMtpLibrary::syncStart(LIBMTP_mtpdevice_t *)
{
    return 0;
}

int DebianMtpLibrary::syncStop(LIBMTP_mtpdevice_t *)
{
    return 0;
}

int DebianMtpLibrary::getFreespace(LIBMTP_mtpdevice_t *device, const LIBMTP_devicestorage_t *storage,
                                   uint64_t *freeSpace)
{
    if (!device || !storage || !freeSpace) return -1;
    // Asking the phone again rebuilds the list `storage` belongs to.
    const uint32_t storageId = storage->id;
    if (LIBMTP_Get_Storage(device, LIBMTP_STORAGE_SORTBY_NOTSORTED) != 0) return -1;
    for (LIBMTP_devicestorage_t *s = device->storage; s; s = s->next) {
        if (s->id == storageId) {
            *freeSpace = s->FreeSpaceInBytes;
            return 0;
        }
    }
    return -1;
}

int DebianMtpLibrary::getFileModificationDate(LIBMTP_mtpdevice_t *device, LIBMTP_file_t *file)
{
    if (!device || !file) return -1;
    LIBMTP_file_t *fresh = LIBMTP_Get_Filemetadata(device, file->item_id);
    if (!fresh) return -1;
    file->modificationdate = fresh->modificationdate;
    LIBMTP_destroy_file_t(fresh);
    return 0;
}

int DebianMtpLibrary::setFileParentObjectId(LIBMTP_mtpdevice_t *device, LIBMTP_file_t *file, MtpObjectId parent)
{
    const uint32_t parentId = parent.raw();
    if (!device || !file) return -1;
    const int answer = LIBMTP_Move_Object(device, file->item_id, file->storage_id, parentId);
    if (answer == 0) file->parent_id = parentId;
    return answer;
}

int DebianMtpLibrary::getAlbumArtwork(LIBMTP_mtpdevice_t *device, MtpObjectId albumHandle, uint8_t **buffer,
                                      uint64_t *size)
{
    const uint32_t albumId = albumHandle.raw();
    if (!device || !buffer || !size) return -1;
    *buffer = nullptr;
    *size = 0;
    LIBMTP_filesampledata_t *sample = LIBMTP_new_filesampledata_t();
    if (!sample) return -1;
    int answer = LIBMTP_Get_Representative_Sample(device, albumId, sample);
    if (answer == 0 && sample->data && sample->size > 0) {
        // The sample's buffer is malloc'ed by the library: hand it over.
        *buffer = reinterpret_cast<uint8_t *>(sample->data);
        *size = sample->size;
        sample->data = nullptr;
        sample->size = 0;
    } else {
        answer = -1;
    }
    LIBMTP_destroy_filesampledata_t(sample);
    return answer;
}

int DebianMtpLibrary::getScreenDimensions(LIBMTP_mtpdevice_t *, int *height, int *width)
{
    if (height) *height = 0;
    if (width) *width = 0;
    return 0;
}

int DebianMtpLibrary::getContentRevision(LIBMTP_mtpdevice_t *, uint32_t *revision)
{
    if (revision) *revision = 0;
    return 0;
}

int DebianMtpLibrary::updatePodcastMetadata(LIBMTP_mtpdevice_t *, Podcast *)
{
    // Nothing in this library writes a podcast's properties: never claim a
    // write that did not happen.
    return -1;
}
