#include "devices/mtp/sim/SimulatedMtpLibrary.h"

#include "devices/mtp/sim/SimulatedMtpLibraryPrivate.h"

#include <QDateTime>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <thread>
#include <unordered_set>

using mtpsim::freeStorageList;
using mtpsim::Object;
using mtpsim::OpenDevice;
using mtpsim::Storage;

namespace {

char *dupOrNull(const QString &text)
{
    if (text.isNull()) return nullptr;
    return strdup(text.toUtf8().constData());
}

char *dupOrNull(const std::string &text)
{
    return strdup(text.c_str());
}

char *dupNonEmpty(const QString &text)
{
    return text.isEmpty() ? nullptr : strdup(text.toUtf8().constData());
}

QString hex(uint32_t value)
{
    return QStringLiteral("0x%1").arg(value, 0, 16);
}

QString quoted(const char *text)
{
    return text ? QStringLiteral("\"%1\"").arg(QString::fromUtf8(text)) : QStringLiteral("null");
}

uint32_t *copyIds(const std::vector<uint32_t> &ids)
{
    if (ids.empty()) return nullptr;
    auto *array = static_cast<uint32_t *>(malloc(ids.size() * sizeof(uint32_t)));
    if (array) std::copy(ids.begin(), ids.end(), array);
    return array;
}

LIBMTP_devicestorage_t *buildStorageList(const std::vector<Storage> &storages, int sortBy)
{
    std::vector<const Storage *> order;
    for (const Storage &s : storages)
        order.push_back(&s);
    if (sortBy == LIBMTP_STORAGE_SORTBY_FREESPACE)
        std::stable_sort(order.begin(), order.end(),
                         [](const Storage *a, const Storage *b) { return a->freeSpace > b->freeSpace; });
    else if (sortBy == LIBMTP_STORAGE_SORTBY_MAXSPACE)
        std::stable_sort(order.begin(), order.end(),
                         [](const Storage *a, const Storage *b) { return a->spec.capacity > b->spec.capacity; });
    LIBMTP_devicestorage_t *head = nullptr;
    LIBMTP_devicestorage_t *prev = nullptr;
    for (const Storage *s : order) {
        auto *record = static_cast<LIBMTP_devicestorage_t *>(calloc(1, sizeof(LIBMTP_devicestorage_t)));
        if (!record) break;
        record->id = s->spec.id;
        record->StorageType = s->spec.storageType;
        record->FilesystemType = 2; // generic hierarchical
        record->AccessCapability = s->spec.readOnly ? 1 : 0;
        record->MaxCapacity = s->spec.capacity;
        record->FreeSpaceInBytes = s->freeSpace;
        record->FreeSpaceInObjects = 0xFFFFFFFFu;
        record->StorageDescription = dupNonEmpty(s->spec.description);
        record->VolumeIdentifier = dupNonEmpty(s->spec.volumeIdentifier);
        record->prev = prev;
        if (prev)
            prev->next = record;
        else
            head = record;
        prev = record;
    }
    return head;
}

} // namespace

// ============================================================================
// The per-call guard
// ============================================================================

class SimulatedMtpLibrary::CallScope
{
public:
    // `device` null: a library-wide call (detection, opening).
    CallScope(SimulatedMtpLibrary &library, const char *function, LIBMTP_mtpdevice_t *device, QString arguments,
              bool libraryWide = false)
        : m_impl(*library.d), m_function(function)
    {
        if (!libraryWide) {
            std::lock_guard<std::mutex> handlesLock(m_impl.handlesMutex);
            auto it = m_impl.handles.find(device);
            if (it != m_impl.handles.end() && !it->second->released) m_open = it->second.get();
        }
        if (m_open && m_open->active.fetch_add(1) > 0) m_impl.concurrentCalls.fetch_add(1);
        m_lock = std::unique_lock<std::recursive_mutex>(m_impl.mutex);

        if (m_impl.logEnabled) {
            CallRecord record;
            record.sequence = ++m_impl.sequence;
            record.function = QString::fromLatin1(function);
            record.device = device;
            record.arguments = std::move(arguments);
            m_sequence = record.sequence;
            m_impl.log.append(std::move(record));
        }

        if (!libraryWide && !m_open) {
            m_impl.invalidHandleCalls.fetch_add(1);
            fail(QStringLiteral("invalid handle"));
            return;
        }
        if (m_open && m_open->phone->d->unplugged) {
            fail(QStringLiteral("unplugged"));
            return;
        }
        const QString name = QString::fromLatin1(function);
        for (auto it = m_impl.faults.begin(); it != m_impl.faults.end(); ++it) {
            if (it->function != name) continue;
            if (it->skip > 0) {
                --it->skip;
                continue;
            }
            if (it->remaining > 0 && --it->remaining == 0) m_impl.faults.erase(it);
            fail(QStringLiteral("injected failure"));
            return;
        }
    }

    ~CallScope()
    {
        if (m_open) m_open->active.fetch_sub(1);
    }

    bool ok() const { return !m_failed; }
    MtpSimPhone::Data &phone() { return *m_open->phone->d; }
    MtpSimPhone *phoneObject() { return m_open->phone; }
    OpenDevice *open() { return m_open; }

    template <typename T> T answer(T value, const QString &text)
    {
        setResult(text);
        return value;
    }
    template <typename T> T answer(T value)
    {
        if constexpr (std::is_pointer_v<T>)
            setResult(value ? QStringLiteral("record") : QStringLiteral("null"));
        else
            setResult(QString::number(value));
        return value;
    }
    MtpObjectId answer(MtpObjectId value)
    {
        setResult(QString::number(value.raw()));
        return value;
    }

    void setResult(const QString &text)
    {
        if (CallRecord *record = current()) {
            if (record->result.isEmpty()) record->result = text;
        }
    }

private:
    void fail(const QString &why)
    {
        m_failed = true;
        // As the library puts a failure on the device's error stack.
        if (m_open) m_open->errors.append(QStringLiteral("%1: %2").arg(QLatin1String(m_function), why));
        if (CallRecord *record = current()) {
            record->failed = true;
            record->result = why;
        }
    }
    CallRecord *current()
    {
        if (!m_sequence) return nullptr;
        // Records are appended in order; a cleared log may have lost ours.
        for (qsizetype i = m_impl.log.size() - 1; i >= 0; --i) {
            if (m_impl.log[i].sequence == m_sequence) return &m_impl.log[i];
            if (m_impl.log[i].sequence < m_sequence) break;
        }
        return nullptr;
    }

    SimulatedMtpLibrary::Impl &m_impl;
    const char *m_function;
    OpenDevice *m_open = nullptr;
    std::unique_lock<std::recursive_mutex> m_lock;
    quint64 m_sequence = 0;
    bool m_failed = false;
};

// ============================================================================
// Library and devices
// ============================================================================

void SimulatedMtpLibrary::init()
{
    CallScope scope(*this, "LIBMTP_Init", nullptr, {}, true);
}

LIBMTP_error_number_t SimulatedMtpLibrary::detectRawDevices(LIBMTP_raw_device_t **devices, int *count)
{
    *devices = nullptr;
    *count = 0;
    CallScope scope(*this, "LIBMTP_Detect_Raw_Devices", nullptr, {}, true);
    if (!scope.ok()) return LIBMTP_ERROR_GENERAL;
    std::vector<MtpSimPhone *> present;
    for (auto &phone : d->phones)
        if (!phone->d->unplugged) present.push_back(phone.get());
    if (present.empty()) return scope.answer(LIBMTP_ERROR_NO_DEVICE_ATTACHED, QStringLiteral("no device"));
    auto *list = static_cast<LIBMTP_raw_device_t *>(calloc(present.size(), sizeof(LIBMTP_raw_device_t)));
    if (!list) return LIBMTP_ERROR_MEMORY_ALLOCATION;
    for (size_t i = 0; i < present.size(); ++i) {
        const MtpSimPhone::Data &p = *present[i]->d;
        list[i].device_entry.vendor = const_cast<char *>(p.vendorName.c_str());
        list[i].device_entry.vendor_id = p.identity.vendorId;
        list[i].device_entry.product = const_cast<char *>(p.productName.c_str());
        list[i].device_entry.product_id = p.identity.productId;
        list[i].device_entry.device_flags = 0;
        list[i].bus_location = p.identity.busLocation;
        list[i].devnum = p.identity.devnum;
    }
    *devices = list;
    *count = int(present.size());
    return scope.answer(LIBMTP_ERROR_NONE, QStringLiteral("%1 device(s)").arg(present.size()));
}

LIBMTP_mtpdevice_t *SimulatedMtpLibrary::openRawDeviceUncached(LIBMTP_raw_device_t *rawDevice)
{
    const QString args = rawDevice ? QStringLiteral("bus=%1 dev=%2").arg(rawDevice->bus_location).arg(rawDevice->devnum)
                                   : QStringLiteral("null");
    int delayMs = 0;
    if (rawDevice) {
        std::lock_guard<std::recursive_mutex> lock(d->mutex);
        for (auto &p : d->phones)
            if (p->d->identity.busLocation == rawDevice->bus_location && p->d->identity.devnum == rawDevice->devnum)
                delayMs = p->d->options.openDelayMs;
    }
    if (delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    CallScope scope(*this, "LIBMTP_Open_Raw_Device_Uncached", nullptr, args, true);
    if (!scope.ok() || !rawDevice) return nullptr;
    MtpSimPhone *phone = nullptr;
    for (auto &p : d->phones) {
        if (!p->d->unplugged && p->d->identity.busLocation == rawDevice->bus_location &&
            p->d->identity.devnum == rawDevice->devnum) {
            phone = p.get();
            break;
        }
    }
    if (!phone) return scope.answer<LIBMTP_mtpdevice_t *>(nullptr);
    {
        // One session per phone, as with a USB interface that is claimed.
        std::lock_guard<std::mutex> lock(d->handlesMutex);
        for (const auto &[key, open] : d->handles)
            if (open->phone == phone && !open->released)
                return scope.answer<LIBMTP_mtpdevice_t *>(nullptr, QStringLiteral("busy"));
    }

    auto open = std::make_unique<OpenDevice>();
    auto *handle = static_cast<LIBMTP_mtpdevice_t *>(calloc(1, sizeof(LIBMTP_mtpdevice_t)));
    if (!handle) return nullptr;
    handle->object_bitsize = 32;
    handle->params = open.get(); // handed to transfer handlers, as the library hands its own
    handle->cached = 0;
    open->handle = handle;
    open->phone = phone;
    {
        std::lock_guard<std::mutex> lock(d->handlesMutex);
        d->handles.emplace(handle, std::move(open));
    }
    // As the library does, opening reads the storages.
    handle->storage = buildStorageList(phone->d->storages, LIBMTP_STORAGE_SORTBY_NOTSORTED);
    return scope.answer(handle, hex(uint32_t(reinterpret_cast<quintptr>(handle))));
}

void SimulatedMtpLibrary::releaseDevice(LIBMTP_mtpdevice_t *device)
{
    CallScope scope(*this, "LIBMTP_Release_Device", device, {});
    if (!scope.open()) return; // already released or never opened: counted, nothing freed
    OpenDevice *open = scope.open();
    std::lock_guard<std::mutex> lock(d->handlesMutex);
    open->released = true;
    freeStorageList(open->handle->storage);
    open->handle->storage = nullptr;
}

bool SimulatedMtpLibrary::usbIdentifiers(LIBMTP_mtpdevice_t *device, uint16_t *vendorId, uint16_t *productId)
{
    // Same order as every other call: the simulator's lock, then the handles'.
    std::lock_guard<std::recursive_mutex> simLock(d->mutex);
    std::lock_guard<std::mutex> lock(d->handlesMutex);
    auto it = d->handles.find(device);
    if (it == d->handles.end() || it->second->released) return false;
    if (vendorId) *vendorId = it->second->phone->d->identity.vendorId;
    if (productId) *productId = it->second->phone->d->identity.productId;
    return true;
}

QStringList SimulatedMtpLibrary::takeErrors(LIBMTP_mtpdevice_t *device)
{
    std::lock_guard<std::recursive_mutex> simLock(d->mutex);
    std::lock_guard<std::mutex> lock(d->handlesMutex);
    auto it = d->handles.find(device);
    if (it == d->handles.end()) return {};
    return std::exchange(it->second->errors, {});
}

// ============================================================================
// Storages and device texts
// ============================================================================

int SimulatedMtpLibrary::getStorage(LIBMTP_mtpdevice_t *device, int sortBy)
{
    CallScope scope(*this, "LIBMTP_Get_Storage", device, QStringLiteral("sortby=%1").arg(sortBy));
    if (!scope.ok()) return -1;
    // The old list goes, as with the library: stale pointers into it break.
    freeStorageList(device->storage);
    device->storage = buildStorageList(scope.phone().storages, sortBy);
    return scope.answer(0);
}

#define SIM_TEXT_CALL(method, function, field)                                                                         \
    char *SimulatedMtpLibrary::method(LIBMTP_mtpdevice_t *device)                                                      \
    {                                                                                                                  \
        CallScope scope(*this, function, device, {});                                                                  \
        if (!scope.ok()) return nullptr;                                                                               \
        char *text = dupOrNull(scope.phone().identity.field);                                                          \
        return scope.answer(text, quoted(text));                                                                       \
    }

SIM_TEXT_CALL(getSerialnumber, "LIBMTP_Get_Serialnumber", serialNumber)
SIM_TEXT_CALL(getFriendlyname, "LIBMTP_Get_Friendlyname", friendlyName)
SIM_TEXT_CALL(getModelname, "LIBMTP_Get_Modelname", modelName)
SIM_TEXT_CALL(getManufacturername, "LIBMTP_Get_Manufacturername", manufacturerName)
SIM_TEXT_CALL(getDeviceversion, "LIBMTP_Get_Deviceversion", deviceVersion)

#undef SIM_TEXT_CALL

// ============================================================================
// Listings and objects
// ============================================================================

namespace {

LIBMTP_file_t *fileRecord(const MtpSimPhone::Data &phone, const Object &o, bool listing)
{
    LIBMTP_file_t *file = LIBMTP_new_file_t();
    if (!file) return nullptr;
    file->item_id = o.id;
    file->parent_id = o.parentId;
    file->storage_id = o.storageId;
    file->filename = dupOrNull(o.name);
    file->filesize = uint64_t(std::max<qint64>(o.size, 0));
    const bool hideDate = listing && (phone.options.listingsOmitDates || !o.dateInListing);
    file->modificationdate = hideDate ? 0 : o.mtime;
    file->filetype = o.filetype;
    file->next = nullptr;
    return file;
}

LIBMTP_track_t *trackRecord(const Object &o)
{
    LIBMTP_track_t *track = LIBMTP_new_track_t();
    if (!track) return nullptr;
    track->item_id = o.id;
    track->parent_id = o.parentId;
    track->storage_id = o.storageId;
    track->filename = dupOrNull(o.name);
    track->filesize = uint64_t(std::max<qint64>(o.size, 0));
    track->modificationdate = o.mtime;
    track->filetype = o.filetype;
    if (o.track) {
        const MtpSimTrackInfo &t = *o.track;
        track->title = dupNonEmpty(t.title);
        track->artist = dupNonEmpty(t.artist);
        track->composer = dupNonEmpty(t.composer);
        track->genre = dupNonEmpty(t.genre);
        track->album = dupNonEmpty(t.album);
        track->date = dupNonEmpty(t.date);
        track->tracknumber = t.tracknumber;
        track->duration = t.duration;
        track->samplerate = t.samplerate;
        track->nochannels = t.nochannels;
        track->wavecodec = t.wavecodec;
        track->bitrate = t.bitrate;
        track->bitratetype = t.bitratetype;
        track->rating = t.rating;
        track->usecount = t.usecount;
    }
    track->next = nullptr;
    return track;
}

QString playlistName(const Object &o)
{
    return o.listName;
}

LIBMTP_playlist_t *playlistRecord(const Object &o)
{
    LIBMTP_playlist_t *playlist = LIBMTP_new_playlist_t();
    if (!playlist) return nullptr;
    playlist->playlist_id = o.id;
    playlist->parent_id = o.parentId;
    playlist->storage_id = o.storageId;
    playlist->name = dupNonEmpty(playlistName(o));
    playlist->tracks = copyIds(o.references);
    playlist->no_tracks = playlist->tracks ? uint32_t(o.references.size()) : 0;
    playlist->next = nullptr;
    return playlist;
}

LIBMTP_album_t *albumRecord(const Object &o)
{
    LIBMTP_album_t *album = LIBMTP_new_album_t();
    if (!album) return nullptr;
    album->album_id = o.id;
    album->parent_id = o.parentId;
    album->storage_id = o.storageId;
    album->name = dupNonEmpty(o.listName);
    album->artist = dupNonEmpty(o.albumArtist);
    album->composer = dupNonEmpty(o.albumComposer);
    album->genre = dupNonEmpty(o.albumGenre);
    album->tracks = copyIds(o.references);
    album->no_tracks = album->tracks ? uint32_t(o.references.size()) : 0;
    album->next = nullptr;
    return album;
}

// Appends records in list order.
template <typename Record> struct ListBuilder
{
    Record *head = nullptr;
    Record **tail = &head;
    int count = 0;
    void add(Record *record)
    {
        if (!record) return;
        *tail = record;
        tail = &record->next;
        ++count;
    }
};

} // namespace

LIBMTP_folder_t *SimulatedMtpLibrary::getFolderListForStorage(LIBMTP_mtpdevice_t *device, MtpStorageId storage)
{
    const uint32_t storageId = storage.raw();
    CallScope scope(*this, "LIBMTP_Get_Folder_List_For_Storage", device,
                    QStringLiteral("storage=%1").arg(hex(storageId)));
    if (!scope.ok()) return nullptr;
    if (d->wholeListingsEmpty) return scope.answer<LIBMTP_folder_t *>(nullptr);
    MtpSimPhone::Data &phone = scope.phone();
    std::unordered_set<uint32_t> entered;

    // Builds the sibling chain of the folders among `ids`, each with its
    // children below it.
    std::function<LIBMTP_folder_t *(const std::vector<uint32_t> &, int)> build = [&](const std::vector<uint32_t> &ids,
                                                                                     int depth) -> LIBMTP_folder_t * {
        LIBMTP_folder_t *head = nullptr;
        LIBMTP_folder_t **tail = &head;
        for (uint32_t id : ids) {
            const Object *o = phone.find(id);
            if (!o || !o->folder || !entered.insert(id).second) continue;
            if (storageId != 0 && o->storageId != storageId) continue;
            LIBMTP_folder_t *folder = LIBMTP_new_folder_t();
            if (!folder) continue;
            folder->folder_id = o->id;
            folder->parent_id = o->parentId;
            folder->storage_id = o->storageId;
            folder->name = dupOrNull(o->name);
            folder->sibling = nullptr;
            folder->child = nullptr;
            if (depth < 256) {
                auto kids = phone.children.find(mtpsim::childKey(0, id));
                if (kids != phone.children.end()) folder->child = build(kids->second, depth + 1);
            }
            *tail = folder;
            tail = &folder->sibling;
        }
        return head;
    };

    std::vector<uint32_t> top;
    for (const Storage &s : phone.storages) {
        if (storageId != 0 && s.spec.id != storageId) continue;
        auto it = phone.children.find(mtpsim::childKey(s.spec.id, 0));
        if (it != phone.children.end()) top.insert(top.end(), it->second.begin(), it->second.end());
    }
    return scope.answer(build(top, 0));
}

LIBMTP_file_t *SimulatedMtpLibrary::getFilelistingWithCallback(LIBMTP_mtpdevice_t *device,
                                                               LIBMTP_progressfunc_t callback, void const *data)
{
    CallScope scope(*this, "LIBMTP_Get_Filelisting_With_Callback", device, {});
    if (!scope.ok()) return nullptr;
    if (d->wholeListingsEmpty) return scope.answer<LIBMTP_file_t *>(nullptr);
    MtpSimPhone::Data &phone = scope.phone();
    ListBuilder<LIBMTP_file_t> list;
    const uint64_t total = phone.objects.size();
    uint64_t index = 0;
    for (const auto &[id, o] : phone.objects) {
        ++index;
        if (callback && callback(index, total, data) != 0) break;
        if (o.folder) continue; // folders are the folder listing's
        list.add(fileRecord(phone, o, true));
    }
    return scope.answer(list.head, QStringLiteral("%1 files").arg(list.count));
}

LIBMTP_file_t *SimulatedMtpLibrary::getFilesAndFolders(LIBMTP_mtpdevice_t *device, MtpStorageId storage,
                                                       MtpObjectId parent)
{
    const uint32_t storageId = storage.raw();
    const uint32_t parentId = parent.raw();
    CallScope scope(*this, "LIBMTP_Get_Files_And_Folders", device,
                    QStringLiteral("storage=%1 parent=%2").arg(hex(storageId), hex(parentId)));
    if (!scope.ok()) return nullptr;
    MtpSimPhone::Data &phone = scope.phone();
    ListBuilder<LIBMTP_file_t> list;
    auto addIds = [&](const std::vector<uint32_t> &ids) {
        for (uint32_t id : ids) {
            const Object *o = phone.find(id);
            if (o && (storageId == 0 || o->storageId == storageId)) list.add(fileRecord(phone, *o, true));
        }
    };
    if (parentId == LIBMTP_FILES_AND_FOLDERS_ROOT) {
        for (const Storage &s : phone.storages) {
            if (storageId != 0 && s.spec.id != storageId) continue;
            auto it = phone.children.find(mtpsim::childKey(s.spec.id, 0));
            if (it != phone.children.end()) addIds(it->second);
        }
    } else if (parentId == 0) {
        // The protocol's "every object" form.
        for (const auto &[id, o] : phone.objects)
            if (storageId == 0 || o.storageId == storageId) list.add(fileRecord(phone, o, true));
    } else {
        const Object *parent = phone.find(parentId);
        if (!parent || !parent->folder) return scope.answer<LIBMTP_file_t *>(nullptr, QStringLiteral("no such folder"));
        auto it = phone.children.find(mtpsim::childKey(0, parentId));
        if (it != phone.children.end()) addIds(it->second);
    }
    return scope.answer(list.head, QStringLiteral("%1 objects").arg(list.count));
}

LIBMTP_file_t *SimulatedMtpLibrary::getFilemetadata(LIBMTP_mtpdevice_t *device, MtpObjectId object)
{
    const uint32_t objectId = object.raw();
    CallScope scope(*this, "LIBMTP_Get_Filemetadata", device, QStringLiteral("id=%1").arg(objectId));
    if (!scope.ok()) return nullptr;
    const Object *o = scope.phone().find(objectId);
    return scope.answer(o ? fileRecord(scope.phone(), *o, false) : nullptr);
}

char *SimulatedMtpLibrary::getStringFromObject(LIBMTP_mtpdevice_t *device, MtpObjectId object,
                                               LIBMTP_property_t property)
{
    const uint32_t objectId = object.raw();
    CallScope scope(*this, "LIBMTP_Get_String_From_Object", device,
                    QStringLiteral("id=%1 property=%2").arg(objectId).arg(int(property)));
    if (!scope.ok()) return nullptr;
    const Object *o = scope.phone().find(objectId);
    if (!o) return scope.answer<char *>(nullptr);
    char *text = nullptr;
    switch (property) {
    case LIBMTP_PROPERTY_ObjectFileName:
        text = dupOrNull(o->name);
        break;
    case LIBMTP_PROPERTY_Name:
        if (!o->listName.isEmpty())
            text = dupNonEmpty(o->listName);
        else if (o->track && !o->track->title.isEmpty())
            text = dupNonEmpty(o->track->title);
        else
            text = dupOrNull(o->name);
        break;
    case LIBMTP_PROPERTY_Artist:
        text = o->track ? dupNonEmpty(o->track->artist) : dupNonEmpty(o->albumArtist);
        break;
    case LIBMTP_PROPERTY_AlbumName:
        text = o->track ? dupNonEmpty(o->track->album) : nullptr;
        break;
    case LIBMTP_PROPERTY_Genre:
        text = o->track ? dupNonEmpty(o->track->genre) : dupNonEmpty(o->albumGenre);
        break;
    case LIBMTP_PROPERTY_Composer:
        text = o->track ? dupNonEmpty(o->track->composer) : dupNonEmpty(o->albumComposer);
        break;
    case LIBMTP_PROPERTY_DateModified:
        text = dupNonEmpty(
            QDateTime::fromSecsSinceEpoch(qint64(o->mtime), Qt::UTC).toString(QStringLiteral("yyyyMMdd'T'HHmmss")));
        break;
    default:
        break;
    }
    return scope.answer(text, quoted(text));
}

// ============================================================================
// Changes
// ============================================================================

MtpObjectId SimulatedMtpLibrary::createFolder(LIBMTP_mtpdevice_t *device, const char *name, MtpObjectId parentHandle,
                                              MtpStorageId storageHandle)
{
    const uint32_t storageId = storageHandle.raw();
    const uint32_t parentId = parentHandle.raw();
    CallScope scope(*this, "LIBMTP_Create_Folder", device,
                    QStringLiteral("name=%1 parent=%2 storage=%3").arg(quoted(name), hex(parentId), hex(storageId)));
    if (!scope.ok()) return kCreateFolderFailed;
    MtpSimPhone::Data &phone = scope.phone();
    if (!mtpsim::isValidNewName(name)) return scope.answer(kCreateFolderFailed);
    const uint32_t parent = parentId == kTopLevelParent.raw() ? 0 : parentId;
    uint32_t storage = storageId;
    if (parent != 0) {
        const Object *p = phone.find(parent);
        if (!p || !p->folder) return scope.answer(kCreateFolderFailed);
        if (storage == 0) storage = p->storageId;
        if (p->storageId != storage) return scope.answer(kCreateFolderFailed);
    }
    Storage *s = phone.storageOrFirst(storage);
    if (!s || s->spec.readOnly) return scope.answer(kCreateFolderFailed);
    if (phone.options.rejectDuplicateNames && phone.nameTaken(s->spec.id, parent, name, 0))
        return scope.answer(kCreateFolderFailed);
    Object o;
    o.storageId = s->spec.id;
    o.parentId = parent;
    o.name = name;
    o.folder = true;
    o.filetype = LIBMTP_FILETYPE_FOLDER;
    o.mtime = phone.now();
    o.id = phone.allocateId();
    const uint32_t id = o.id;
    if (!phone.insert(std::move(o), false)) return scope.answer(kCreateFolderFailed);
    phone.touch();
    return scope.answer(MtpObjectId(id));
}

namespace {

// Renames object `id`; 0 or -1.
int renameObject(MtpSimPhone::Data &phone, uint32_t id, const char *name, bool wantFolder)
{
    if (!mtpsim::isValidNewName(name)) return -1;
    Object *o = phone.find(id);
    if (!o || (wantFolder && !o->folder)) return -1;
    const Storage *s = phone.storage(o->storageId);
    if (!s || s->spec.readOnly) return -1;
    if (phone.options.rejectDuplicateNames && phone.nameTaken(o->storageId, o->parentId, name, id)) return -1;
    o->name = name;
    phone.touch();
    return 0;
}

} // namespace

int SimulatedMtpLibrary::setFolderName(LIBMTP_mtpdevice_t *device, LIBMTP_folder_t *folder, const char *name)
{
    CallScope scope(*this, "LIBMTP_Set_Folder_Name", device,
                    QStringLiteral("id=%1 name=%2").arg(folder ? folder->folder_id : 0).arg(quoted(name)));
    if (!scope.ok() || !folder) return -1;
    const int answer = renameObject(scope.phone(), folder->folder_id, name, true);
    if (answer == 0) {
        free(folder->name);
        folder->name = strdup(name);
    }
    return scope.answer(answer);
}

int SimulatedMtpLibrary::setFileName(LIBMTP_mtpdevice_t *device, LIBMTP_file_t *file, const char *name)
{
    CallScope scope(*this, "LIBMTP_Set_File_Name", device,
                    QStringLiteral("id=%1 name=%2").arg(file ? file->item_id : 0).arg(quoted(name)));
    if (!scope.ok() || !file) return -1;
    const int answer = renameObject(scope.phone(), file->item_id, name, false);
    if (answer == 0) {
        free(file->filename);
        file->filename = strdup(name);
    }
    return scope.answer(answer);
}

int SimulatedMtpLibrary::deleteObject(LIBMTP_mtpdevice_t *device, MtpObjectId object)
{
    const uint32_t objectId = object.raw();
    CallScope scope(*this, "LIBMTP_Delete_Object", device, QStringLiteral("id=%1").arg(objectId));
    if (!scope.ok()) return -1;
    MtpSimPhone::Data &phone = scope.phone();
    const Object *o = phone.find(objectId);
    if (!o) return scope.answer(-1);
    const Storage *s = phone.storage(o->storageId);
    if (s && s->spec.readOnly) return scope.answer(-1);
    phone.removeSubtree(objectId);
    phone.touch();
    return scope.answer(0);
}

// ============================================================================
// Transfers
// ============================================================================

namespace {

// How many of `wanted` bytes may pass before the phone goes away.
qint64 bytesAllowed(const MtpSimPhone::Data &phone, qint64 wanted)
{
    if (phone.unplugAfter < 0) return wanted;
    return std::min(wanted, phone.unplugAfter);
}

// Counts bytes that passed; the phone goes away once its budget is spent.
void countTransferred(MtpSimPhone::Data &phone, qint64 bytes)
{
    phone.bytesTransferred += bytes;
    if (phone.unplugAfter >= 0) {
        phone.unplugAfter = std::max<qint64>(0, phone.unplugAfter - bytes);
        if (phone.unplugAfter == 0) {
            phone.unplugged = true;
            phone.unplugAfter = -1;
        }
    }
}

} // namespace

int SimulatedMtpLibrary::getFileToHandler(LIBMTP_mtpdevice_t *device, MtpObjectId objectHandle,
                                          MTPDataPutFunc putFunction, void *priv, LIBMTP_progressfunc_t callback,
                                          void const *data)
{
    const uint32_t objectId = objectHandle.raw();
    CallScope scope(*this, "LIBMTP_Get_File_To_Handler", device, QStringLiteral("id=%1").arg(objectId));
    if (!scope.ok() || !putFunction) return -1;
    MtpSimPhone::Data &phone = scope.phone();
    const Object *found = phone.find(objectId);
    if (!found || found->folder || !found->digestOnly.isEmpty()) return scope.answer(-1);
    const Object object = *found; // callbacks may change the phone
    const qint64 size = object.size;
    std::vector<unsigned char> buffer(std::min<qint64>(std::max<qint64>(size, 1), phone.options.transferBlockSize));
    qint64 offset = 0;
    while (offset < size) {
        const qint64 wanted = std::min<qint64>(qint64(buffer.size()), size - offset);
        const qint64 allowed = bytesAllowed(phone, wanted);
        if (allowed <= 0) {
            phone.unplugged = true;
            return scope.answer(-1, QStringLiteral("unplugged at %1").arg(offset));
        }
        phone.readContents(object, offset, buffer.data(), allowed);
        uint32_t put = 0;
        const uint16_t handlerAnswer = putFunction(device->params, priv, uint32_t(allowed), buffer.data(), &put);
        countTransferred(phone, allowed);
        if (handlerAnswer == LIBMTP_HANDLER_RETURN_CANCEL) return scope.answer(kTransferCancelled);
        if (handlerAnswer != LIBMTP_HANDLER_RETURN_OK) return scope.answer(-1);
        offset += allowed;
        if (phone.unplugged) return scope.answer(-1, QStringLiteral("unplugged at %1").arg(offset));
        if (callback && callback(uint64_t(offset), uint64_t(size), data) != 0) return scope.answer(kTransferCancelled);
    }
    if (size == 0 && callback && callback(0, 0, data) != 0) return scope.answer(kTransferCancelled);
    return scope.answer(0);
}

int SimulatedMtpLibrary::sendFileFromHandler(LIBMTP_mtpdevice_t *device, MTPDataGetFunc getFunction, void *priv,
                                             LIBMTP_file_t *file, LIBMTP_progressfunc_t callback, void const *data)
{
    CallScope scope(*this, "LIBMTP_Send_File_From_Handler", device,
                    file ? QStringLiteral("name=%1 parent=%2 storage=%3 size=%4 type=%5")
                               .arg(quoted(file->filename), hex(file->parent_id), hex(file->storage_id))
                               .arg(file->filesize)
                               .arg(int(file->filetype))
                         : QStringLiteral("null"));
    if (!scope.ok() || !getFunction || !file) return -1;
    MtpSimPhone::Data &phone = scope.phone();
    if (!mtpsim::isValidNewName(file->filename)) return scope.answer(-1, QStringLiteral("bad name"));
    const uint32_t parent = file->parent_id == kTopLevelParent.raw() ? 0 : file->parent_id;
    Storage *storage = phone.storageOrFirst(file->storage_id);
    if (parent != 0) {
        const Object *p = phone.find(parent);
        if (!p || !p->folder) return scope.answer(-1, QStringLiteral("no such folder"));
        if (file->storage_id == 0) storage = phone.storage(p->storageId);
        if (!storage || p->storageId != storage->spec.id) return scope.answer(-1, QStringLiteral("wrong storage"));
    }
    if (!storage || storage->spec.readOnly) return scope.answer(-1, QStringLiteral("no writable storage"));
    const uint32_t storageId = storage->spec.id;
    if (phone.options.rejectDuplicateNames && phone.nameTaken(storageId, parent, file->filename, 0))
        return scope.answer(-1, QStringLiteral("name taken"));
    const uint64_t size = file->filesize;
    if (size > storage->freeSpace) return scope.answer(-1, QStringLiteral("storage full"));

    const bool keep = qint64(size) <= phone.options.maxStoredBytes;
    QByteArray received;
    if (keep) received.reserve(qsizetype(size));
    QCryptographicHash digest(QCryptographicHash::Sha1);
    std::vector<unsigned char> buffer(std::min<uint64_t>(std::max<uint64_t>(size, 1), phone.options.transferBlockSize));
    uint64_t offset = 0;
    int answer = 0;
    QString why;
    while (offset < size) {
        const qint64 wanted = qint64(std::min<uint64_t>(buffer.size(), size - offset));
        const qint64 allowed = bytesAllowed(phone, wanted);
        if (allowed <= 0) {
            phone.unplugged = true;
            answer = -1;
            why = QStringLiteral("unplugged at %1").arg(offset);
            break;
        }
        uint32_t got = 0;
        const uint16_t handlerAnswer = getFunction(device->params, priv, uint32_t(allowed), buffer.data(), &got);
        if (handlerAnswer == LIBMTP_HANDLER_RETURN_CANCEL) {
            answer = kTransferCancelled;
            break;
        }
        if (handlerAnswer != LIBMTP_HANDLER_RETURN_OK || got == 0 || got > allowed) {
            answer = -1;
            why = QStringLiteral("handler gave %1 of %2 bytes").arg(got).arg(allowed);
            break;
        }
        if (keep)
            received.append(reinterpret_cast<const char *>(buffer.data()), got);
        else
            digest.addData(QByteArrayView(reinterpret_cast<const char *>(buffer.data()), got));
        countTransferred(phone, got);
        offset += got;
        if (phone.unplugged) {
            answer = -1;
            why = QStringLiteral("unplugged at %1").arg(offset);
            break;
        }
        if (callback && callback(offset, size, data) != 0) {
            answer = kTransferCancelled;
            break;
        }
    }
    if (answer == 0 && size == 0 && callback && callback(0, 0, data) != 0) answer = kTransferCancelled;

    if (answer != 0 && !(phone.options.keepPartialSends && offset > 0)) {
        return why.isEmpty() ? scope.answer(answer) : scope.answer(answer, why);
    }
    // The storage may have shrunk while the callbacks ran.
    storage = phone.storage(storageId);
    if (!storage) return scope.answer(-1);
    Object o;
    o.storageId = storageId;
    o.parentId = parent;
    o.name = file->filename;
    o.folder = false;
    o.filetype = file->filetype;
    o.size = qint64(offset);
    o.mtime = file->modificationdate != 0 ? file->modificationdate : phone.now();
    if (keep) {
        o.hasContents = true;
        o.contents = received;
    } else {
        o.digestOnly = digest.result();
    }
    o.id = phone.allocateId();
    const uint32_t id = o.id;
    if (!phone.insert(std::move(o), true)) return scope.answer(-1);
    phone.touch();
    if (answer != 0) return why.isEmpty() ? scope.answer(answer) : scope.answer(answer, why + QStringLiteral(", kept"));
    file->item_id = id;
    file->parent_id = parent;
    file->storage_id = storageId;
    return scope.answer(0, QStringLiteral("0 id=%1").arg(id));
}

// ============================================================================
// Tracks, playlists, albums
// ============================================================================

LIBMTP_track_t *SimulatedMtpLibrary::getTracklisting(LIBMTP_mtpdevice_t *device)
{
    CallScope scope(*this, "LIBMTP_Get_Tracklisting", device, {});
    if (!scope.ok()) return nullptr;
    if (d->wholeListingsEmpty) return scope.answer<LIBMTP_track_t *>(nullptr);
    ListBuilder<LIBMTP_track_t> list;
    for (const auto &[id, o] : scope.phone().objects)
        if (!o.folder && LIBMTP_FILETYPE_IS_TRACK(o.filetype)) list.add(trackRecord(o));
    return scope.answer(list.head, QStringLiteral("%1 tracks").arg(list.count));
}

LIBMTP_track_t *SimulatedMtpLibrary::getTrackmetadata(LIBMTP_mtpdevice_t *device, MtpObjectId object)
{
    const uint32_t objectId = object.raw();
    CallScope scope(*this, "LIBMTP_Get_Trackmetadata", device, QStringLiteral("id=%1").arg(objectId));
    if (!scope.ok()) return nullptr;
    const Object *o = scope.phone().find(objectId);
    if (!o || o->folder || !LIBMTP_FILETYPE_IS_TRACK(o->filetype)) return scope.answer<LIBMTP_track_t *>(nullptr);
    return scope.answer(trackRecord(*o));
}

int SimulatedMtpLibrary::updateTrackMetadata(LIBMTP_mtpdevice_t *device, LIBMTP_track_t const *track)
{
    CallScope scope(*this, "LIBMTP_Update_Track_Metadata", device,
                    QStringLiteral("id=%1").arg(track ? track->item_id : 0));
    if (!scope.ok() || !track) return -1;
    Object *o = scope.phone().find(track->item_id);
    if (!o || o->folder) return scope.answer(-1);
    MtpSimTrackInfo t;
    t.title = QString::fromUtf8(track->title);
    t.artist = QString::fromUtf8(track->artist);
    t.composer = QString::fromUtf8(track->composer);
    t.genre = QString::fromUtf8(track->genre);
    t.album = QString::fromUtf8(track->album);
    t.date = QString::fromUtf8(track->date);
    t.tracknumber = track->tracknumber;
    t.duration = track->duration;
    t.samplerate = track->samplerate;
    t.nochannels = track->nochannels;
    t.wavecodec = track->wavecodec;
    t.bitrate = track->bitrate;
    t.bitratetype = track->bitratetype;
    t.rating = track->rating;
    t.usecount = track->usecount;
    o->track = t;
    scope.phone().touch();
    return scope.answer(0);
}

LIBMTP_playlist_t *SimulatedMtpLibrary::getPlaylistList(LIBMTP_mtpdevice_t *device)
{
    CallScope scope(*this, "LIBMTP_Get_Playlist_List", device, {});
    if (!scope.ok()) return nullptr;
    if (d->wholeListingsEmpty) return scope.answer<LIBMTP_playlist_t *>(nullptr);
    ListBuilder<LIBMTP_playlist_t> list;
    for (const auto &[id, o] : scope.phone().objects)
        if (o.filetype == LIBMTP_FILETYPE_PLAYLIST) list.add(playlistRecord(o));
    return scope.answer(list.head, QStringLiteral("%1 playlists").arg(list.count));
}

LIBMTP_playlist_t *SimulatedMtpLibrary::getPlaylist(LIBMTP_mtpdevice_t *device, MtpObjectId playlistHandle)
{
    const uint32_t playlistId = playlistHandle.raw();
    CallScope scope(*this, "LIBMTP_Get_Playlist", device, QStringLiteral("id=%1").arg(playlistId));
    if (!scope.ok()) return nullptr;
    const Object *o = scope.phone().find(playlistId);
    if (!o || o->filetype != LIBMTP_FILETYPE_PLAYLIST) return scope.answer<LIBMTP_playlist_t *>(nullptr);
    return scope.answer(playlistRecord(*o));
}

namespace {

// Creates a playlist or album object named after `name` with its suffix.
uint32_t createAbstractList(MtpSimPhone::Data &phone, const char *name, const char *suffix, uint32_t parentId,
                            uint32_t storageId, const uint32_t *tracks, uint32_t count, LIBMTP_filetype_t type)
{
    if (!name || !*name) return 0;
    std::string objectName = name;
    const size_t suffixLength = std::strlen(suffix);
    if (objectName.size() <= suffixLength ||
        objectName.compare(objectName.size() - suffixLength, suffixLength, suffix) != 0)
        objectName += suffix;
    if (!mtpsim::isValidNewName(objectName.c_str())) return 0;
    const uint32_t parent = parentId == MtpLibrary::kTopLevelParent.raw() ? 0 : parentId;
    Storage *storage = phone.storageOrFirst(storageId);
    if (parent != 0) {
        const Object *p = phone.find(parent);
        if (!p || !p->folder) return 0;
        if (storageId == 0) storage = phone.storage(p->storageId);
        if (!storage || storage->spec.id != p->storageId) return 0;
    }
    if (!storage || storage->spec.readOnly) return 0;
    if (phone.options.rejectDuplicateNames && phone.nameTaken(storage->spec.id, parent, objectName, 0)) return 0;
    Object o;
    o.storageId = storage->spec.id;
    o.parentId = parent;
    o.name = objectName;
    o.filetype = type;
    o.size = 0;
    o.hasContents = true;
    o.mtime = phone.now();
    o.listName = QString::fromUtf8(name);
    for (uint32_t i = 0; tracks && i < count; ++i)
        if (phone.objects.count(tracks[i])) o.references.push_back(tracks[i]);
    o.id = phone.allocateId();
    const uint32_t id = o.id;
    if (!phone.insert(std::move(o), false)) return 0;
    phone.touch();
    return id;
}

} // namespace

int SimulatedMtpLibrary::createNewPlaylist(LIBMTP_mtpdevice_t *device, LIBMTP_playlist_t *playlist)
{
    CallScope scope(*this, "LIBMTP_Create_New_Playlist", device,
                    playlist ? QStringLiteral("name=%1 parent=%2 storage=%3 tracks=%4")
                                   .arg(quoted(playlist->name), hex(playlist->parent_id), hex(playlist->storage_id))
                                   .arg(playlist->no_tracks)
                             : QStringLiteral("null"));
    if (!scope.ok() || !playlist) return -1;
    MtpSimPhone::Data &phone = scope.phone();
    const uint32_t id = createAbstractList(phone, playlist->name, ".pla", playlist->parent_id, playlist->storage_id,
                                           playlist->tracks, playlist->no_tracks, LIBMTP_FILETYPE_PLAYLIST);
    if (id == 0) return scope.answer(-1);
    playlist->playlist_id = id;
    playlist->storage_id = phone.find(id)->storageId;
    return scope.answer(0, QStringLiteral("0 id=%1").arg(id));
}

LIBMTP_album_t *SimulatedMtpLibrary::getAlbumList(LIBMTP_mtpdevice_t *device)
{
    CallScope scope(*this, "LIBMTP_Get_Album_List", device, {});
    if (!scope.ok()) return nullptr;
    if (d->wholeListingsEmpty) return scope.answer<LIBMTP_album_t *>(nullptr);
    ListBuilder<LIBMTP_album_t> list;
    for (const auto &[id, o] : scope.phone().objects)
        if (o.filetype == LIBMTP_FILETYPE_ALBUM) list.add(albumRecord(o));
    return scope.answer(list.head, QStringLiteral("%1 albums").arg(list.count));
}

LIBMTP_album_t *SimulatedMtpLibrary::getAlbum(LIBMTP_mtpdevice_t *device, MtpObjectId albumHandle)
{
    const uint32_t albumId = albumHandle.raw();
    CallScope scope(*this, "LIBMTP_Get_Album", device, QStringLiteral("id=%1").arg(albumId));
    if (!scope.ok()) return nullptr;
    const Object *o = scope.phone().find(albumId);
    if (!o || o->filetype != LIBMTP_FILETYPE_ALBUM) return scope.answer<LIBMTP_album_t *>(nullptr);
    return scope.answer(albumRecord(*o));
}

// ============================================================================
// The extended library
// ============================================================================

int SimulatedMtpLibrary::syncStart(LIBMTP_mtpdevice_t *device)
{
    CallScope scope(*this, "LIBMTP_Sync_Start", device, {});
    if (!scope.ok()) return -1;
    scope.phone().syncActive = true;
    ++scope.phone().syncStarts;
    return scope.answer(0);
}

int SimulatedMtpLibrary::syncStop(LIBMTP_mtpdevice_t *device)
{
    CallScope scope(*this, "LIBMTP_Sync_Stop", device, {});
    if (!scope.ok()) return -1;
    scope.phone().syncActive = false;
    return scope.answer(0);
}

int SimulatedMtpLibrary::getFreespace(LIBMTP_mtpdevice_t *device, const LIBMTP_devicestorage_t *storage,
                                      uint64_t *freeSpace)
{
    // Read before anything else: the list `storage` belongs to is rebuilt.
    const uint32_t storageId = storage ? storage->id : 0;
    CallScope scope(*this, "LIBMTP_Get_Freespace", device, QStringLiteral("storage=%1").arg(hex(storageId)));
    if (!scope.ok() || !storage || !freeSpace) return -1;
    freeStorageList(device->storage);
    device->storage = buildStorageList(scope.phone().storages, LIBMTP_STORAGE_SORTBY_NOTSORTED);
    const Storage *s = scope.phone().storage(storageId);
    if (!s) return scope.answer(-1);
    *freeSpace = s->freeSpace;
    return scope.answer(0, QStringLiteral("0 free=%1").arg(s->freeSpace));
}

int SimulatedMtpLibrary::getFileModificationDate(LIBMTP_mtpdevice_t *device, LIBMTP_file_t *file)
{
    CallScope scope(*this, "LIBMTP_Get_File_ModificationDate", device,
                    QStringLiteral("id=%1").arg(file ? file->item_id : 0));
    if (!scope.ok() || !file) return -1;
    const Object *o = scope.phone().find(file->item_id);
    if (!o) return scope.answer(-1);
    file->modificationdate = o->mtime;
    return scope.answer(0);
}

int SimulatedMtpLibrary::setFileParentObjectId(LIBMTP_mtpdevice_t *device, LIBMTP_file_t *file,
                                               MtpObjectId parentHandle)
{
    const uint32_t parentId = parentHandle.raw();
    CallScope scope(*this, "LIBMTP_Set_File_ParentObjectId", device,
                    QStringLiteral("id=%1 parent=%2").arg(file ? file->item_id : 0).arg(hex(parentId)));
    if (!scope.ok() || !file) return -1;
    MtpSimPhone::Data &phone = scope.phone();
    Object *o = phone.find(file->item_id);
    if (!o) return scope.answer(-1);
    const Storage *s = phone.storage(o->storageId);
    if (!s || s->spec.readOnly) return scope.answer(-1);
    const uint32_t parent = parentId == kTopLevelParent.raw() ? 0 : parentId;
    if (parent != 0) {
        const Object *p = phone.find(parent);
        if (!p || !p->folder || p->storageId != o->storageId) return scope.answer(-1);
        if (phone.isInSubtree(o->id, parent)) return scope.answer(-1, QStringLiteral("into itself"));
    }
    if (phone.options.rejectDuplicateNames && phone.nameTaken(o->storageId, parent, o->name, o->id))
        return scope.answer(-1, QStringLiteral("name taken"));
    phone.detachFromParent(*o);
    o->parentId = parent;
    phone.childList(o->storageId, parent).push_back(o->id);
    phone.touch();
    file->parent_id = parentId;
    return scope.answer(0);
}

int SimulatedMtpLibrary::getAlbumArtwork(LIBMTP_mtpdevice_t *device, MtpObjectId albumHandle, uint8_t **buffer,
                                         uint64_t *size)
{
    const uint32_t albumId = albumHandle.raw();
    CallScope scope(*this, "LIBMTP_Get_AlbumArtwork", device, QStringLiteral("id=%1").arg(albumId));
    if (buffer) *buffer = nullptr;
    if (size) *size = 0;
    if (!scope.ok() || !buffer || !size) return -1;
    const Object *o = scope.phone().find(albumId);
    if (!o || o->filetype != LIBMTP_FILETYPE_ALBUM || o->artwork.isEmpty()) return scope.answer(-1);
    auto *bytes = static_cast<uint8_t *>(malloc(size_t(o->artwork.size())));
    if (!bytes) return scope.answer(-1);
    std::memcpy(bytes, o->artwork.constData(), size_t(o->artwork.size()));
    *buffer = bytes;
    *size = uint64_t(o->artwork.size());
    return scope.answer(0, QStringLiteral("0 bytes=%1").arg(o->artwork.size()));
}

int SimulatedMtpLibrary::getScreenDimensions(LIBMTP_mtpdevice_t *device, int *height, int *width)
{
    CallScope scope(*this, "LIBMTP_Get_ScreenDimensions", device, {});
    if (!scope.ok()) return -1;
    if (height) *height = scope.phone().identity.screenHeight;
    if (width) *width = scope.phone().identity.screenWidth;
    return scope.answer(0);
}

int SimulatedMtpLibrary::getContentRevision(LIBMTP_mtpdevice_t *device, uint32_t *revision)
{
    CallScope scope(*this, "LIBMTP_Get_ContentRevision", device, {});
    if (!scope.ok()) return -1;
    if (revision) *revision = scope.phone().identity.contentRevision;
    return scope.answer(0, QStringLiteral("0 revision=%1").arg(scope.phone().identity.contentRevision));
}

int SimulatedMtpLibrary::updatePodcastMetadata(LIBMTP_mtpdevice_t *device, Podcast *podcast)
{
    CallScope scope(*this, "LIBMTP_Update_Podcast_Metadata", device,
                    QStringLiteral("id=%1").arg(podcast ? podcast->objectId : 0));
    if (!scope.ok() || !podcast) return -1;
    Object *o = scope.phone().find(podcast->objectId);
    if (!o || o->folder) return scope.answer(-1);
    MtpSimTrackInfo t = o->track.value_or(MtpSimTrackInfo{});
    if (podcast->album) t.album = QString::fromUtf8(podcast->album);
    if (podcast->artist) t.artist = QString::fromUtf8(podcast->artist);
    if (podcast->date) t.date = QString::fromUtf8(podcast->date);
    t.duration = podcast->duration;
    o->track = t;
    scope.phone().touch();
    return scope.answer(0);
}
