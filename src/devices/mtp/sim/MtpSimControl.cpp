// The simulator's control interface: how tests and tools build phones,
// inject faults and read the call log.

#include "devices/mtp/sim/SimulatedMtpLibrary.h"

#include "devices/mtp/sim/SimulatedMtpLibraryPrivate.h"

#include <QtEndian>

#include <algorithm>
#include <array>
#include <bit>
#include <cstdlib>
#include <cstring>

using mtpsim::FaultRule;
using mtpsim::freeStorageList;
using mtpsim::Object;
using mtpsim::Storage;

// ============================================================================
// MtpSimPhone
// ============================================================================

MtpSimPhone::MtpSimPhone(SimulatedMtpLibrary &library, int index) : m_library(library), d(std::make_unique<Data>())
{
    d->index = index;
    d->identity.busLocation = 1;
    d->identity.devnum = uint8_t(2 + index);
    d->vendorName = d->identity.vendorName.toStdString();
    d->productName = d->identity.productName.toStdString();
}

MtpSimPhone::~MtpSimPhone() = default;

#define SIM_LOCK std::lock_guard<std::recursive_mutex> simLock(m_library.d->mutex)

void MtpSimPhone::setIdentity(const MtpSimIdentity &identity)
{
    SIM_LOCK;
    d->identity = identity;
    d->vendorName = identity.vendorName.toStdString();
    d->productName = identity.productName.toStdString();
}

MtpSimIdentity MtpSimPhone::identity() const
{
    SIM_LOCK;
    return d->identity;
}

void MtpSimPhone::setOptions(const MtpSimOptions &options)
{
    SIM_LOCK;
    d->options = options;
    if (d->options.transferBlockSize == 0) d->options.transferBlockSize = 1;
}

MtpSimOptions MtpSimPhone::options() const
{
    SIM_LOCK;
    return d->options;
}

uint32_t MtpSimPhone::addStorage(const MtpSimStorageSpec &spec)
{
    SIM_LOCK;
    Storage s;
    s.spec = spec;
    if (s.spec.id == 0) {
        while (d->storage(d->nextStorageId))
            d->nextStorageId += 0x00010000;
        s.spec.id = d->nextStorageId;
        d->nextStorageId += 0x00010000;
    } else if (d->storage(s.spec.id)) {
        return 0;
    }
    s.freeSpaceFollowsObjects = !spec.freeSpace.has_value();
    s.freeSpace = spec.freeSpace.value_or(spec.capacity);
    d->storages.push_back(s);
    return s.spec.id;
}

uint32_t MtpSimPhone::addObject(const MtpSimObjectSpec &spec)
{
    SIM_LOCK;
    Object o;
    o.id = spec.id;
    o.storageId = spec.storageId;
    o.parentId = spec.parentId;
    o.name = spec.name.toStdString();
    o.folder = spec.folder;
    o.filetype = spec.filetype.value_or(spec.folder ? LIBMTP_FILETYPE_FOLDER : mtpsim::filetypeForName(o.name));
    if (spec.contents) {
        o.hasContents = true;
        o.contents = *spec.contents;
        o.size = spec.size >= 0 ? spec.size : o.contents.size();
        if (o.size != o.contents.size()) return 0;
    } else {
        o.size = spec.folder ? 0 : std::max<qint64>(spec.size, 0);
    }
    o.mtime = spec.mtime != 0 ? spec.mtime : d->now();
    o.dateInListing = spec.dateInListing;
    o.track = spec.track;
    o.listName = spec.listName;
    o.albumArtist = spec.albumArtist;
    o.albumComposer = spec.albumComposer;
    o.albumGenre = spec.albumGenre;
    o.artwork = spec.artwork;
    if (o.id != 0 && (o.id == 0xFFFFFFFFu || d->objects.count(o.id))) return 0;
    const Storage *s = d->storage(o.storageId);
    if (!s) return 0;
    if (o.id == 0) o.id = d->allocateId();
    const uint32_t id = o.id;
    if (!d->insert(std::move(o), s->freeSpaceFollowsObjects)) return 0;
    setReferences(id, spec.references);
    return id;
}

uint32_t MtpSimPhone::addFolder(uint32_t storageId, uint32_t parentId, const QString &name)
{
    MtpSimObjectSpec spec;
    spec.storageId = storageId;
    spec.parentId = parentId;
    spec.name = name.toUtf8();
    spec.folder = true;
    return addObject(spec);
}

uint32_t MtpSimPhone::addFile(uint32_t storageId, uint32_t parentId, const QString &name, const QByteArray &contents,
                              time_t mtime)
{
    MtpSimObjectSpec spec;
    spec.storageId = storageId;
    spec.parentId = parentId;
    spec.name = name.toUtf8();
    spec.contents = contents;
    spec.mtime = mtime;
    return addObject(spec);
}

uint32_t MtpSimPhone::addFileOfSize(uint32_t storageId, uint32_t parentId, const QString &name, qint64 size,
                                    time_t mtime)
{
    MtpSimObjectSpec spec;
    spec.storageId = storageId;
    spec.parentId = parentId;
    spec.name = name.toUtf8();
    spec.size = size;
    spec.mtime = mtime;
    return addObject(spec);
}

uint32_t MtpSimPhone::addPlaylist(uint32_t storageId, uint32_t parentId, const QString &name,
                                  const std::vector<uint32_t> &tracks)
{
    MtpSimObjectSpec spec;
    spec.storageId = storageId;
    spec.parentId = parentId;
    spec.name = (name + QStringLiteral(".pla")).toUtf8();
    spec.filetype = LIBMTP_FILETYPE_PLAYLIST;
    spec.size = 0;
    spec.listName = name;
    spec.references = tracks;
    return addObject(spec);
}

uint32_t MtpSimPhone::addAlbum(uint32_t storageId, uint32_t parentId, const QString &name, const QString &artist,
                               const std::vector<uint32_t> &tracks, const QByteArray &artwork)
{
    MtpSimObjectSpec spec;
    spec.storageId = storageId;
    spec.parentId = parentId;
    spec.name = (name + QStringLiteral(".alb")).toUtf8();
    spec.filetype = LIBMTP_FILETYPE_ALBUM;
    spec.size = 0;
    spec.listName = name;
    spec.albumArtist = artist;
    spec.references = tracks;
    spec.artwork = artwork;
    return addObject(spec);
}

bool MtpSimPhone::setReferences(uint32_t objectId, const std::vector<uint32_t> &references)
{
    SIM_LOCK;
    Object *object = d->find(objectId);
    if (!object) return false;
    object->references.clear();
    for (uint32_t r : references)
        if (d->objects.count(r)) object->references.push_back(r);
    return true;
}

bool MtpSimPhone::alsoListUnder(uint32_t objectId, uint32_t storageId, uint32_t parentId)
{
    SIM_LOCK;
    if (!d->find(objectId)) return false;
    d->childList(storageId, parentId).push_back(objectId);
    return true;
}

bool MtpSimPhone::forceParent(uint32_t objectId, uint32_t parentId)
{
    SIM_LOCK;
    Object *object = d->find(objectId);
    if (!object) return false;
    d->detachFromParent(*object);
    object->parentId = parentId;
    d->childList(object->storageId, parentId).push_back(objectId);
    return true;
}

std::vector<uint32_t> MtpSimPhone::storageIds() const
{
    SIM_LOCK;
    std::vector<uint32_t> ids;
    for (const Storage &s : d->storages)
        ids.push_back(s.spec.id);
    return ids;
}

uint64_t MtpSimPhone::freeSpace(uint32_t storageId) const
{
    SIM_LOCK;
    const Storage *s = d->storage(storageId);
    return s ? s->freeSpace : 0;
}

uint64_t MtpSimPhone::capacity(uint32_t storageId) const
{
    SIM_LOCK;
    const Storage *s = d->storage(storageId);
    return s ? s->spec.capacity : 0;
}

std::optional<MtpSimObjectInfo> MtpSimPhone::object(uint32_t objectId) const
{
    SIM_LOCK;
    const Object *o = d->find(objectId);
    if (!o) return std::nullopt;
    MtpSimObjectInfo info;
    info.id = o->id;
    info.storageId = o->storageId;
    info.parentId = o->parentId;
    info.name = QByteArray::fromStdString(o->name);
    info.folder = o->folder;
    info.filetype = o->filetype;
    info.size = o->size;
    info.mtime = o->mtime;
    info.track = o->track;
    info.listName = o->listName;
    info.references = o->references;
    info.artwork = o->artwork;
    return info;
}

std::vector<uint32_t> MtpSimPhone::children(uint32_t storageId, uint32_t parentId) const
{
    SIM_LOCK;
    auto it = d->children.find(mtpsim::childKey(storageId, parentId));
    return it == d->children.end() ? std::vector<uint32_t>{} : it->second;
}

uint32_t MtpSimPhone::objectIdForPath(uint32_t storageId, const QString &path) const
{
    SIM_LOCK;
    uint32_t parent = 0;
    const QStringList parts = path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    if (parts.isEmpty()) return 0;
    for (const QString &part : parts) {
        const std::string name = part.toStdString();
        auto it = d->children.find(mtpsim::childKey(storageId, parent));
        if (it == d->children.end()) return 0;
        uint32_t found = 0;
        for (uint32_t id : it->second) {
            const Object *o = d->find(id);
            if (o && o->name == name && (parent != 0 || o->storageId == storageId)) {
                found = id;
                break;
            }
        }
        if (!found) return 0;
        parent = found;
    }
    return parent;
}

QByteArray MtpSimPhone::contents(uint32_t objectId) const
{
    SIM_LOCK;
    const Object *o = d->find(objectId);
    return o ? d->contentsOf(*o) : QByteArray();
}

QByteArray MtpSimPhone::sha1(uint32_t objectId) const
{
    SIM_LOCK;
    const Object *o = d->find(objectId);
    if (!o || o->folder) return {};
    if (!o->digestOnly.isEmpty()) return o->digestOnly;
    QCryptographicHash hash(QCryptographicHash::Sha1);
    if (o->hasContents) {
        hash.addData(o->contents);
    } else {
        QByteArray block(1 << 20, Qt::Uninitialized);
        for (qint64 offset = 0; offset < o->size; offset += block.size()) {
            const qint64 n = std::min<qint64>(block.size(), o->size - offset);
            d->readContents(*o, offset, reinterpret_cast<unsigned char *>(block.data()), n);
            hash.addData(QByteArrayView(block.constData(), n));
        }
    }
    return hash.result();
}

qint64 MtpSimPhone::objectCount() const
{
    SIM_LOCK;
    return qint64(d->objects.size());
}

uint32_t MtpSimPhone::contentRevision() const
{
    SIM_LOCK;
    return d->identity.contentRevision;
}

bool MtpSimPhone::isSyncActive() const
{
    SIM_LOCK;
    return d->syncActive;
}

int MtpSimPhone::syncStartCount() const
{
    SIM_LOCK;
    return d->syncStarts;
}

namespace {

constexpr qint64 kPatternBlock = 4096;

uint64_t mix(uint64_t x)
{
    x ^= x >> 29;
    x *= 0xBF58476D1CE4E5B9ull;
    x ^= x >> 32;
    return x;
}

const unsigned char *patternBlock()
{
    static const std::array<unsigned char, kPatternBlock> block = [] {
        std::array<unsigned char, kPatternBlock> bytes{};
        for (size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = uint8_t(mix(i * 0x9E3779B97F4A7C15ull));
        return bytes;
    }();
    return block.data();
}

// The word of the block'th repeat, lane byte i at bits 8i.
uint64_t blockWord(uint32_t seed, qint64 block)
{
    return mix(uint64_t(block) ^ (uint64_t(seed) * 0x9E3779B97F4A7C15ull));
}

} // namespace

uint8_t MtpSimPhone::patternByte(uint32_t seed, qint64 offset)
{
    const qint64 at = offset % kPatternBlock;
    return uint8_t(patternBlock()[at] ^ (blockWord(seed, offset / kPatternBlock) >> (8 * (at % 8))));
}

void mtpsim::fillPattern(uint32_t seed, qint64 offset, unsigned char *out, qint64 length)
{
    const unsigned char *block = patternBlock();
    while (length > 0) {
        const qint64 at = offset % kPatternBlock;
        const qint64 n = std::min(length, kPatternBlock - at);
        const uint64_t word = blockWord(seed, offset / kPatternBlock);
        // Lane byte (at + j) % 8 lands on out[j]: the word turned to match.
        uint64_t turned = std::rotr(word, int(8 * (at % 8)));
        if constexpr (std::endian::native == std::endian::big) turned = qbswap(turned);
        qint64 j = 0;
        for (; j + 8 <= n; j += 8) {
            uint64_t lane;
            std::memcpy(&lane, block + at + j, 8);
            lane ^= turned;
            std::memcpy(out + j, &lane, 8);
        }
        for (; j < n; ++j)
            out[j] = MtpSimPhone::patternByte(seed, offset + j);
        offset += n;
        out += n;
        length -= n;
    }
}

void MtpSimPhone::unplugAfterBytes(qint64 bytes)
{
    SIM_LOCK;
    d->unplugAfter = bytes;
}

void MtpSimPhone::unplug()
{
    SIM_LOCK;
    d->unplugged = true;
}

void MtpSimPhone::replug()
{
    SIM_LOCK;
    d->unplugged = false;
    d->unplugAfter = -1;
}

bool MtpSimPhone::isUnplugged() const
{
    SIM_LOCK;
    return d->unplugged;
}

qint64 MtpSimPhone::bytesTransferred() const
{
    SIM_LOCK;
    return d->bytesTransferred;
}

#undef SIM_LOCK

// ============================================================================
// SimulatedMtpLibrary: phones, faults, log
// ============================================================================

SimulatedMtpLibrary::SimulatedMtpLibrary() : d(std::make_unique<Impl>()) {}

SimulatedMtpLibrary::~SimulatedMtpLibrary()
{
    // Handles the caller never released still own their storage lists.
    for (auto &[key, open] : d->handles) {
        freeStorageList(open->handle->storage);
        free(open->handle);
    }
}

MtpSimPhone &SimulatedMtpLibrary::addPhone()
{
    std::lock_guard<std::recursive_mutex> lock(d->mutex);
    d->phones.emplace_back(new MtpSimPhone(*this, int(d->phones.size())));
    return *d->phones.back();
}

void SimulatedMtpLibrary::removeLastPhone()
{
    std::lock_guard<std::recursive_mutex> lock(d->mutex);
    if (!d->phones.empty()) d->phones.pop_back();
}

int SimulatedMtpLibrary::phoneCount() const
{
    std::lock_guard<std::recursive_mutex> lock(d->mutex);
    return int(d->phones.size());
}

MtpSimPhone &SimulatedMtpLibrary::phone(int index)
{
    std::lock_guard<std::recursive_mutex> lock(d->mutex);
    return *d->phones.at(size_t(index));
}

MtpSimPhone *SimulatedMtpLibrary::phoneForDevice(LIBMTP_mtpdevice_t *device)
{
    std::lock_guard<std::mutex> lock(d->handlesMutex);
    auto it = d->handles.find(device);
    return it == d->handles.end() || it->second->released ? nullptr : it->second->phone;
}

int SimulatedMtpLibrary::openDeviceCount() const
{
    std::lock_guard<std::mutex> lock(d->handlesMutex);
    int count = 0;
    for (const auto &[key, open] : d->handles)
        if (!open->released) ++count;
    return count;
}

void SimulatedMtpLibrary::setWholeDeviceListingsEmpty(bool empty)
{
    std::lock_guard<std::recursive_mutex> lock(d->mutex);
    d->wholeListingsEmpty = empty;
}

void SimulatedMtpLibrary::setCallLogEnabled(bool enabled)
{
    std::lock_guard<std::recursive_mutex> lock(d->mutex);
    d->logEnabled = enabled;
}

QStringList SimulatedMtpLibrary::functionNames()
{
    return {QStringLiteral("LIBMTP_Init"),
            QStringLiteral("LIBMTP_Detect_Raw_Devices"),
            QStringLiteral("LIBMTP_Open_Raw_Device_Uncached"),
            QStringLiteral("LIBMTP_Release_Device"),
            QStringLiteral("LIBMTP_Get_Storage"),
            QStringLiteral("LIBMTP_Get_Serialnumber"),
            QStringLiteral("LIBMTP_Get_Friendlyname"),
            QStringLiteral("LIBMTP_Get_Modelname"),
            QStringLiteral("LIBMTP_Get_Manufacturername"),
            QStringLiteral("LIBMTP_Get_Deviceversion"),
            QStringLiteral("LIBMTP_Get_Folder_List_For_Storage"),
            QStringLiteral("LIBMTP_Get_Filelisting_With_Callback"),
            QStringLiteral("LIBMTP_Get_Files_And_Folders"),
            QStringLiteral("LIBMTP_Get_Filemetadata"),
            QStringLiteral("LIBMTP_Get_String_From_Object"),
            QStringLiteral("LIBMTP_Create_Folder"),
            QStringLiteral("LIBMTP_Set_Folder_Name"),
            QStringLiteral("LIBMTP_Set_File_Name"),
            QStringLiteral("LIBMTP_Delete_Object"),
            QStringLiteral("LIBMTP_Get_File_To_Handler"),
            QStringLiteral("LIBMTP_Send_File_From_Handler"),
            QStringLiteral("LIBMTP_Get_Tracklisting"),
            QStringLiteral("LIBMTP_Get_Trackmetadata"),
            QStringLiteral("LIBMTP_Update_Track_Metadata"),
            QStringLiteral("LIBMTP_Get_Playlist_List"),
            QStringLiteral("LIBMTP_Get_Playlist"),
            QStringLiteral("LIBMTP_Create_New_Playlist"),
            QStringLiteral("LIBMTP_Get_Album_List"),
            QStringLiteral("LIBMTP_Get_Album"),
            QStringLiteral("LIBMTP_Sync_Start"),
            QStringLiteral("LIBMTP_Sync_Stop"),
            QStringLiteral("LIBMTP_Get_Freespace"),
            QStringLiteral("LIBMTP_Get_File_ModificationDate"),
            QStringLiteral("LIBMTP_Set_File_ParentObjectId"),
            QStringLiteral("LIBMTP_Get_AlbumArtwork"),
            QStringLiteral("LIBMTP_Get_ScreenDimensions"),
            QStringLiteral("LIBMTP_Get_ContentRevision"),
            QStringLiteral("LIBMTP_Update_Podcast_Metadata")};
}

bool SimulatedMtpLibrary::failCall(const QString &function, int nth, int count)
{
    if (!functionNames().contains(function) || nth < 1 || count == 0) return false;
    std::lock_guard<std::recursive_mutex> lock(d->mutex);
    d->faults.push_back(FaultRule{function, nth - 1, count < 0 ? -1 : count});
    return true;
}

void SimulatedMtpLibrary::clearFaults()
{
    std::lock_guard<std::recursive_mutex> lock(d->mutex);
    d->faults.clear();
}

QList<SimulatedMtpLibrary::CallRecord> SimulatedMtpLibrary::callLog() const
{
    std::lock_guard<std::recursive_mutex> lock(d->mutex);
    return d->log;
}

void SimulatedMtpLibrary::clearCallLog()
{
    std::lock_guard<std::recursive_mutex> lock(d->mutex);
    d->log.clear();
}

int SimulatedMtpLibrary::callCount(const QString &function) const
{
    std::lock_guard<std::recursive_mutex> lock(d->mutex);
    return int(
        std::count_if(d->log.cbegin(), d->log.cend(), [&](const CallRecord &r) { return r.function == function; }));
}

void SimulatedMtpLibrary::addMarker(const QString &text)
{
    std::lock_guard<std::recursive_mutex> lock(d->mutex);
    CallRecord record;
    record.sequence = ++d->sequence;
    record.function = QStringLiteral("#marker");
    record.arguments = text;
    d->log.append(record);
}

bool SimulatedMtpLibrary::anyCallAfterMarker(const QString &text) const
{
    std::lock_guard<std::recursive_mutex> lock(d->mutex);
    qsizetype marker = -1;
    for (qsizetype i = 0; i < d->log.size(); ++i)
        if (d->log[i].function == QLatin1String("#marker") && d->log[i].arguments == text) marker = i;
    if (marker < 0) return false;
    for (qsizetype i = marker + 1; i < d->log.size(); ++i)
        if (!d->log[i].function.startsWith(QLatin1Char('#'))) return true;
    return false;
}

int SimulatedMtpLibrary::concurrentCallCount() const
{
    return d->concurrentCalls.load();
}

int SimulatedMtpLibrary::invalidHandleCallCount() const
{
    return d->invalidHandleCalls.load();
}

QString SimulatedMtpLibrary::implementationName() const
{
    return QStringLiteral("simulator");
}
