#include "devices/mtp/MTPDevice.h"

#include "devices/AppFlags.h"
#include "devices/command/DeviceCommands.h"
#include "devices/mtp/MTPDevicePrivate.h"
#include "devices/mtp/MtpObjectWalk.h"
#include "devices/usb/UsbLookups.h"
#include "devices/usb/VolumeDetection.h"
#include "fileinfo/VtrBaseFileInfo.h"
#include "foundation/Log.h"
#include "foundation/VtrString.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

using namespace mtpdevice;
namespace cmd = DeviceCommands;

namespace {
// MTP storage types: fixed RAM (internal memory) and removable RAM (a card).
constexpr uint16_t kFixedRam = 3;
constexpr uint16_t kRemovableRam = 4;
} // namespace

// ============================================================================
// Shared helpers
// ============================================================================

namespace mtpdevice {

LIBMTP_file_t *newFileRecord(MtpObjectId itemId, MtpObjectId parentId, MtpStorageId storageId, const QString &name,
                             LIBMTP_filetype_t filetype)
{
    LIBMTP_file_t *record = LIBMTP_new_file_t();
    if (!record) return nullptr;
    record->item_id = itemId.raw();
    record->parent_id = parentId.raw();
    record->storage_id = storageId.raw();
    record->filename = name.isNull() ? nullptr : strdup(name.toUtf8().constData());
    record->filetype = filetype;
    record->next = nullptr;
    return record;
}

void setRecordName(LIBMTP_file_t *record, const QString &name)
{
    free(record->filename);
    record->filename = strdup(name.toUtf8().constData());
}

MtpObjectId parentForNewObject(const MTPDeviceObjectMap::Entry *folder)
{
    return (!folder || folder->isRoot()) ? MtpLibrary::kTopLevelParent : folder->objectId;
}

} // namespace mtpdevice

// ============================================================================
// Creation and selection
// ============================================================================

MTPDevice::MTPDevice(quint16 usbVendorID, quint16 usbProductID, std::shared_ptr<MtpLibrary> library)
    : m_usbVendorID(usbVendorID), m_usbProductID(usbProductID),
      m_library(library ? std::move(library) : mtpSharedLibrary())
{}

MTPDevice::~MTPDevice()
{
    // The handle is the phone object's; whatever still runs is waited for.
    detach();
}

LIBMTP_mtpdevice_t *MTPDevice::live() const
{
    if (m_detaching.load() || m_inTransfer || IsMTPAccessDisabled()) return nullptr;
    return m_device.load();
}

LIBMTP_mtpdevice_t *MTPDevice::mtpDevice() const
{
    if (m_detaching.load() || IsMTPAccessDisabled()) return nullptr;
    return m_device.load();
}

uint32_t MTPDevice::storageID() const
{
    return m_storageID.load();
}

void MTPDevice::dropDeviceState()
{
    m_serialNumber.reset();
    m_name.reset();
    m_model.reset();
    m_map.reset();
    m_mapHasGaps = false;
    m_walkedAgain = false;
    m_openFile.reset();
}

void MTPDevice::setMTPDevice(LIBMTP_mtpdevice_t *device, uint32_t storageID)
{
    if (!device) {
        detach();
        return;
    }
    Lock lock(m_mutex);
    bool rebuild = false;
    bool again = false;
    if (device != m_device.load()) {
        m_device.store(device);
        // Texts, IDs and the open record belong to the handle they came from.
        dropDeviceState();
        rebuild = storageID != 0;
    }
    if (storageID != m_storageID.load()) {
        m_storageID.store(storageID);
        if (storageID != 0) {
            m_fetchModDates = true;
            rebuild = true;
        } else {
            m_map.reset();
        }
    } else if (storageID != 0 && m_mapHasGaps && !m_walkedAgain) {
        // Once more only: a folder the phone never lists would have every
        // choice of the storage (one before each file read) walk all of it.
        rebuild = again = true;
    }
    if (rebuild) {
        rebuildMap();
        m_walkedAgain = again;
    }
}

void MTPDevice::setMTPDevice(LIBMTP_mtpdevice_t *device)
{
    setMTPDevice(device, m_storageID.load());
}

void MTPDevice::setStorageID(uint32_t storageID)
{
    Lock lock(m_mutex);
    LIBMTP_mtpdevice_t *device = m_device.load();
    if (!device) {
        m_storageID.store(storageID);
        return;
    }
    setMTPDevice(device, storageID);
}

LIBMTP_mtpdevice_t *MTPDevice::detach()
{
    // Seen at once by a running transfer's next block and by the walk, which
    // then end; the lock is ours when the last library call has returned.
    m_detaching.store(true);
    Lock lock(m_mutex);
    if (m_inTransfer) {
        VTR_LOG(2, QStringLiteral("The MTP device was detached from inside one of its own transfers"));
    }
    LIBMTP_mtpdevice_t *device = m_device.exchange(nullptr);
    m_storageID.store(0);
    dropDeviceState();
    m_detaching.store(false);
    return device;
}

void MTPDevice::setFetchModDates(bool fetch)
{
    Lock lock(m_mutex);
    m_fetchModDates = fetch;
}

// ============================================================================
// Storages and device texts
// ============================================================================

const LIBMTP_devicestorage_t *MTPDevice::storageRecord(LIBMTP_mtpdevice_t *device)
{
    if (!device) return nullptr;
    if (!device->storage && m_library->getStorage(device, LIBMTP_STORAGE_SORTBY_NOTSORTED) != 0) return nullptr;
    const uint32_t id = m_storageID.load();
    for (const LIBMTP_devicestorage_t *s = device->storage; s; s = s->next)
        if (s->id == id) return s;
    return nullptr;
}

QVariantList MTPDevice::storages()
{
    Lock lock(m_mutex);
    LIBMTP_mtpdevice_t *device = live();
    if (!device) return {};
    if (!device->storage && m_library->getStorage(device, LIBMTP_STORAGE_SORTBY_NOTSORTED) != 0) return {};
    QVariantList list;
    for (const LIBMTP_devicestorage_t *s = device->storage; s; s = s->next) {
        if (s->StorageType != kFixedRam && s->StorageType != kRemovableRam) {
            VTR_LOG(0, QStringLiteral("Skipping MTP storage of unsupported type (%1)").arg(int(s->StorageType)));
            continue;
        }
        QVariantMap storage;
        storage.insert(QStringLiteral("rawType"), uint(s->StorageType));
        storage.insert(QStringLiteral("storageID"), uint(s->id));
        storage.insert(QStringLiteral("capacity"), quint64(s->MaxCapacity));
        storage.insert(QStringLiteral("freeSpace"), quint64(s->FreeSpaceInBytes));
        storage.insert(QStringLiteral("type"), s->StorageType == kRemovableRam ? 1 : 0);
        list.append(storage);
    }
    return list;
}

quint64 MTPDevice::capacity()
{
    return maxCapacity();
}

quint64 MTPDevice::maxCapacity()
{
    Lock lock(m_mutex);
    const LIBMTP_devicestorage_t *storage = storageRecord(live());
    return storage ? quint64(storage->MaxCapacity) : 0;
}

quint64 MTPDevice::freeSpaceInBytes()
{
    Lock lock(m_mutex);
    const LIBMTP_devicestorage_t *storage = storageRecord(live());
    return storage ? quint64(storage->FreeSpaceInBytes) : 0;
}

quint64 MTPDevice::freeSpace()
{
    Lock lock(m_mutex);
    LIBMTP_mtpdevice_t *device = live();
    const LIBMTP_devicestorage_t *storage = storageRecord(device);
    if (!storage) return 0;
    uint64_t free = 0;
    m_library->getFreespace(device, storage, &free);
    return quint64(free);
}

QString MTPDevice::serialNumber()
{
    Lock lock(m_mutex);
    if (m_serialNumber) return *m_serialNumber;
    LIBMTP_mtpdevice_t *device = live();
    if (!device) return QString(QLatin1String(""));
    QString serial = mtpTakeString(m_library->getSerialnumber(device));
    if (serial.isNull()) serial = QString(QLatin1String(""));
    m_serialNumber = serial;
    return serial;
}

QString MTPDevice::model()
{
    Lock lock(m_mutex);
    if (m_model) return *m_model;
    LIBMTP_mtpdevice_t *device = live();
    if (!device) return QString();
    const QString model = mtpTakeString(m_library->getModelname(device));
    if (!model.isNull()) m_model = model;
    return model;
}

QString MTPDevice::name()
{
    Lock lock(m_mutex);
    if (m_name) return *m_name;
    LIBMTP_mtpdevice_t *device = live();
    if (!device) return QString();
    QString name = mtpTakeString(m_library->getFriendlyname(device));
    if (name.isEmpty()) name = model();
    if (!name.isNull()) m_name = name;
    return name;
}

QVariantMap MTPDevice::getDeviceInfo()
{
    Lock lock(m_mutex);
    LIBMTP_mtpdevice_t *device = live();
    if (!device) return {};
    const QString empty(QLatin1String(""));
    uint16_t vendor = m_usbVendorID;
    uint16_t product = m_usbProductID;
    if (!m_library->usbIdentifiers(device, &vendor, &product)) {
        vendor = m_usbVendorID;
        product = m_usbProductID;
    }
    QString manufacturer = mtpTakeString(m_library->getManufacturername(device));
    QString modelText = model();
    QString friendly = name();
    QString version = mtpTakeString(m_library->getDeviceversion(device));
    QString usbSerial = usbSerialNumberForDevice(vendor, product);

    QVariantMap info;
    info.insert(QStringLiteral("manufacturer"), manufacturer.isNull() ? empty : manufacturer);
    info.insert(QStringLiteral("model"), modelText.isNull() ? empty : modelText);
    info.insert(QStringLiteral("user"), friendly.isNull() ? empty : friendly);
    info.insert(QStringLiteral("name"), friendly.isNull() ? empty : friendly);
    info.insert(QStringLiteral("id"), usbSerial.isNull() ? empty : usbSerial);
    info.insert(QStringLiteral("rev"), QStringLiteral("0"));
    info.insert(QStringLiteral("supports_compression"), cmd::kFalse);
    info.insert(QStringLiteral("OSVersion"), version.isNull() ? empty : version);
    info.insert(QStringLiteral("deviceApplicationIdentifier"), empty);
    info.insert(QStringLiteral("MARF"), cmd::kFalse);
    info.insert(QStringLiteral("usb_pID"), QString::number(product));
    info.insert(QStringLiteral("usb_vID"), QString::number(vendor));
    QVariantMap configuration;
    if (VolumeDetection::sharedManager()->isMountedVolumeSavedVendorID(vendor, product, &configuration))
        info.insert(QStringLiteral("Device Configuration"), configuration);
    return info;
}

QVariantMap MTPDevice::handleCommandGetDrives()
{
    Lock lock(m_mutex);
    LIBMTP_mtpdevice_t *device = live();
    const LIBMTP_devicestorage_t *storage = storageRecord(device);
    if (!storage) return {};
    // The free space is asked afresh: callers re-read the drive after every
    // write to learn what is left.
    uint64_t free = storage->FreeSpaceInBytes;
    uint64_t fresh = 0;
    if (m_library->getFreespace(device, storage, &fresh) == 0) free = fresh;
    storage = storageRecord(live()); // the list was rebuilt
    if (!storage) return {};
    QString serial = storage->VolumeIdentifier ? QString::fromUtf8(storage->VolumeIdentifier) : QString();
    if (serial.isEmpty()) serial = QString::number(qint32(m_storageID.load()));

    QVariantMap drive;
    drive.insert(cmd::kDriveSize, QString::number(qint64(storage->MaxCapacity)));
    drive.insert(cmd::kDriveFree, QString::number(qint64(free)));
    drive.insert(cmd::kDriveLabel, QStringLiteral("mtp_device"));
    drive.insert(cmd::kDriveSerial, serial);
    drive.insert(cmd::kDriveMedia, cmd::kMediaHardDisk);
    drive.insert(cmd::kDriveId, QStringLiteral("E"));
    QVariantMap reply;
    reply.insert(cmd::kResultDrive, drive);
    return reply;
}

// ============================================================================
// The object map
// ============================================================================

void MTPDevice::rebuildMap()
{
    LIBMTP_mtpdevice_t *device = live();
    const MtpStorageId storageId = storage();
    if (!device || storageId.isNull()) return;
    auto map = std::make_unique<MTPDeviceObjectMap>(storageId, m_lastMapCount);
    map->setRenameLog(&m_renameLog);
    // Objects of one listing share their folder: remember the last one.
    MtpObjectId lastListed;
    Entry *lastParent = nullptr;
    QString failure;
    MtpObjectWalk::walk(*m_library, device, storageId, [&](const LIBMTP_file_t &object, int, MtpObjectId listedUnder) {
        if (m_detaching.load()) return false;
        // Objects of another storage never enter this one's map.
        if (object.storage_id != 0 && mtpStorageId(object) != storageId) return true;
        if (!lastParent || listedUnder != lastListed) {
            lastListed = listedUnder;
            lastParent = listedUnder == MtpLibrary::kFilesAndFoldersRoot ? map->root() : map->entryForId(listedUnder);
        }
        // Below a folder that was left out: unreachable by any path. (Folder
        // entries never leave the map while it is built.)
        Entry *parent = lastParent;
        if (!parent || !parent->holdsChildren()) return true;
        qint64 time = qint64(object.modificationdate);
        if (time == 0 && object.filetype != LIBMTP_FILETYPE_FOLDER) time = fetchModificationTime(mtpObjectId(object));
        map->addObject(parent, object, time);
        return true;
    }, MtpObjectWalk::kDefaultMaxDepth, &failure);
    // A folder left out here is read again when it is listed, and the whole
    // storage when it is chosen again.
    m_mapHasGaps = !failure.isEmpty();
    if (m_mapHasGaps) VTR_LOG(1, QStringLiteral("The phone did not list all of its storage: %1").arg(failure));
    m_renameLog.lines.finish();
    m_lastMapCount = map->count();
    m_map = std::move(map);
}

bool MTPDevice::refreshFolder(Entry *folder, QString *failure)
{
    LIBMTP_mtpdevice_t *device = live();
    if (!device || !m_map || !folder || !folder->holdsChildren()) return true;
    const MtpObjectId parent = folder->isRoot() ? MtpLibrary::kFilesAndFoldersRoot : folder->objectId;
    QString why;
    MtpFileList listing = MtpObjectWalk::listFolder(*m_library, device, storage(), parent, &why);
    if (!listing && !why.isEmpty()) {
        // What a whole walk found stands for one failed call (each file read
        // tells whether its file is still there); a gap of the walk is no
        // empty folder.
        if (!m_mapHasGaps) {
            VTR_LOG(2, QStringLiteral("Listing a folder of the phone failed; it is answered as the phone listed it "
                                      "before: %1").arg(why));
            return true;
        }
        if (failure) *failure = why;
        return false;
    }
    std::vector<uint32_t> listed;
    for (const LIBMTP_file_t *object = listing.get(); object; object = object->next) {
        if (object->storage_id != 0 && mtpStorageId(*object) != storage()) continue;
        const MtpObjectId id = mtpObjectId(*object);
        listed.push_back(id.raw());
        Entry *known = m_map->entryForId(id);
        const bool isFolder = object->filetype == LIBMTP_FILETYPE_FOLDER;
        // An object the map keeps elsewhere stays there (the first listing
        // wins, as when the map is built: a phone may list an object twice or
        // a folder under its own child).
        if (known && known->parent != folder) continue;
        if (known && known->isFolder() == isFolder &&
            m_map->cleanPhoneName(*known) == MTPDeviceObjectMap::cleanName(object->filename)) {
            if (known->isFile()) {
                known->size = object->filesize;
                if (object->modificationdate != 0) known->modificationTime = qint64(object->modificationdate);
            }
            continue;
        }
        // New or renamed: listed afresh (a folder's contents are read when it
        // is listed).
        if (known) m_map->remove(known);
        qint64 time = qint64(object->modificationdate);
        if (time == 0 && !isFolder) time = fetchModificationTime(id);
        m_map->addObject(folder, *object, time);
    }
    // Sorted: a folder may hold tens of thousands of objects.
    std::sort(listed.begin(), listed.end());
    std::vector<Entry *> gone;
    for (Entry *child : std::as_const(folder->children))
        if (!std::binary_search(listed.begin(), listed.end(), child->objectId.raw())) gone.push_back(child);
    for (Entry *child : gone)
        m_map->remove(child);
    m_renameLog.lines.finish();
    return true;
}

void MTPDevice::setCaches()
{
    Lock lock(m_mutex);
    rebuildMap();
}

qint64 MTPDevice::fetchModificationTime(MtpObjectId objectId)
{
    LIBMTP_mtpdevice_t *device = live();
    if (!device || objectId.isNull()) return 0;
    LIBMTP_file_t record{};
    record.item_id = objectId.raw();
    record.filename = nullptr;
    record.next = nullptr;
    record.modificationdate = 0;
    m_library->getFileModificationDate(device, &record);
    return qint64(record.modificationdate);
}

QVariantMap MTPDevice::dictionaryForPath(const QString &path)
{
    Lock lock(m_mutex);
    if (!m_map) return {};
    const Entry *entry = m_map->entryForPath(path);
    return entry ? MTPDeviceObjectMap::fields(*entry) : QVariantMap();
}

uint32_t MTPDevice::oidForPath(const QString &path)
{
    Lock lock(m_mutex);
    if (!m_map) return 0;
    const Entry *entry = m_map->entryForPath(path);
    return entry && entry->isFile() ? entry->objectId.raw() : 0;
}

QString MTPDevice::pathToObjectID(uint32_t objectID)
{
    Lock lock(m_mutex);
    if (!m_map) return QString(QLatin1String(""));
    return m_map->pathForId(MtpObjectId(objectID));
}

bool MTPDevice::isFirstLevelDirectory(const QString &path)
{
    const QStringList components = vtr::windowsPathComponents(path);
    return components.size() == 2 && components.first() == MTPDeviceObjectMap::drive();
}

qsizetype MTPDevice::objectCount()
{
    Lock lock(m_mutex);
    return m_map ? m_map->count() : 0;
}

// ============================================================================
// Commands
// ============================================================================

QVariant MTPDevice::sendCmdWithDictionary(const QVariantMap &command)
{
    QVariantMap reply;
    {
        Lock lock(m_mutex);
        if (!live() || !command.contains(cmd::kCommand)) return QVariant();
        const QString name = command.value(cmd::kCommand).toString();
        reply = handleCommand(name, command);
    }
    cmd::throwForErrorReply(reply);
    return reply.value(cmd::kResult);
}

QVariantMap MTPDevice::handleCommand(const QString &name, const QVariantMap &command)
{
    if (name == cmd::kStartSync) {
        rebuildMap();
        if (LIBMTP_mtpdevice_t *device = live()) m_library->syncStart(device);
        return {};
    }
    if (name == cmd::kStopSync) {
        if (LIBMTP_mtpdevice_t *device = live()) m_library->syncStop(device);
        return emptyResultReply();
    }
    if (name == cmd::kFsMkDir) return handleCommandMakeDirectory(command);
    if (name == cmd::kFsGetDir) return handleCommandGetDirectory(command);
    if (name == cmd::kFsOpenFile) return handleCommandOpenFile(command);
    if (name == cmd::kFsCloseFile) {
        m_openFile.reset();
        return emptyResultReply();
    }
    if (name == cmd::kFsDeleteFile) return handleCommandDeleteFile(command);
    if (name == cmd::kFsRmDir) return handleCommandRemoveDirectory(command);
    if (name == cmd::kFsSetMod) return emptyResultReply();
    if (name == cmd::kFsMoveFile) return handleCommandMoveFile(command);
    if (name == cmd::kFsCopyFile) return errorReply(QStringLiteral("kXMLCommandCopyFile is not implemented."));
    if (name == cmd::kFsGetFile) return errorReply(QStringLiteral("kXMLCommandGetFile is not implemented."));
    if (name == cmd::kFsReadFile) return errorReply(QStringLiteral("kXMLCommandReadFile is not implemented."));
    if (name == cmd::kFsWriteFile) return errorReply(QStringLiteral("kXMLCommandWriteFile is not implemented."));
    return {};
}

bool MTPDevice::prepareOpenFile(const QString &path, bool forWriting, OpenFile &file, QString *error)
{
    const QString normalized = normalizePathForZune(path);
    const QString name = vtr::windowsLastPathComponent(normalized);
    Entry *entry = m_map ? m_map->entryForPath(normalized) : nullptr;
    Entry *parent = m_map ? m_map->entryForPath(vtr::windowsStringByDeletingLastPathComponent(normalized)) : nullptr;
    file.path = normalized;
    file.forWriting = forWriting;
    file.folderId = MtpObjectId();
    file.replacesObject = MtpObjectId();

    if (forWriting) {
        // A file is made only where its folder is known, and only as a file.
        if (!parent || !parent->holdsChildren()) {
            *error = QStringLiteral("kXMLCommandOpenFile cannot create the file because its folder does not exist.");
            return false;
        }
        if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..")) {
            *error = QStringLiteral("kXMLCommandOpenFile cannot create a file without a name.");
            return false;
        }
        if (entry && !entry->isFile()) {
            *error = QStringLiteral("kXMLCommandOpenFile cannot replace a folder with a file.");
            return false;
        }
        // An existing object goes only once its replacement has arrived.
        file.record.reset(newFileRecord(MtpObjectId(), parentForNewObject(parent), parent->storageId, name,
                                        MtpLibrary::kNewObjectFileType));
        file.folderId = parent->objectId;
        file.replacesObject = entry ? entry->objectId : MtpObjectId();
    } else if (entry && parent) {
        file.record.reset(newFileRecord(entry->isFile() ? entry->objectId : MtpObjectId(), entry->parentId,
                                        entry->storageId, entry->filename, entry->filetype));
    } else {
        // Reading what is not there opens, and the transfer then fails.
        file.record.reset(newFileRecord(MtpObjectId(), parent ? parent->objectId : MtpObjectId(),
                                        parent ? parent->storageId : MtpStorageId(), name,
                                        MtpLibrary::kNewObjectFileType));
    }
    if (!file.record) {
        *error = QStringLiteral("kXMLCommandOpenFile is out of memory.");
        return false;
    }
    return true;
}

QVariantMap MTPDevice::handleCommandOpenFile(const QVariantMap &command)
{
    if (!command.contains(cmd::kArgFilename)) return {};
    m_openFile.reset();
    auto file = std::make_unique<OpenFile>();
    QString error;
    if (!prepareOpenFile(command.value(cmd::kArgFilename).toString(),
                         cmd::isTrueText(command.value(cmd::kArgOverwrite)), *file, &error))
        return errorReply(error);
    m_openFile = std::move(file);
    return emptyResultReply();
}

QString MTPDevice::openFileName()
{
    Lock lock(m_mutex);
    LIBMTP_mtpdevice_t *device = live();
    if (!device || !m_openFile || !m_openFile->record) return QString();
    const QString name = mtpTakeString(
        m_library->getStringFromObject(device, mtpObjectId(*m_openFile->record), LIBMTP_PROPERTY_ObjectFileName));
    return name.isEmpty() ? QString() : name;
}

QVariantMap MTPDevice::handleCommandMakeDirectory(const QVariantMap &command)
{
    if (!command.contains(cmd::kArgDir)) {
        rebuildMap();
        return {};
    }
    const QString path = command.value(cmd::kArgDir).toString();
    const QString name = vtr::windowsLastPathComponent(path);
    Entry *entry = m_map ? m_map->entryForPath(path) : nullptr;
    Entry *parent = m_map ? m_map->entryForPath(vtr::windowsStringByDeletingLastPathComponent(path)) : nullptr;

    QVariantMap reply = emptyResultReply();
    if (entry && entry->holdsChildren()) {
        // There already: nothing to do.
    } else if (entry) {
        reply = errorReply(QStringLiteral("kXMLCommandMakeDirectory cannot create the folder because a file of that "
                                          "name exists."));
    } else if (!parent || !parent->holdsChildren()) {
        reply = errorReply(QStringLiteral("kXMLCommandMakeDirectory cannot create the folder because its parent "
                                          "folder does not exist."));
    } else if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..")) {
        reply = errorReply(QStringLiteral("kXMLCommandMakeDirectory cannot create a folder without a name."));
    } else {
        MtpObjectId parentId = parent->objectId;
        MtpStorageId storageId = parent->storageId;
        if (isFirstLevelDirectory(path)) {
            parentId = MtpLibrary::kTopLevelParent;
            storageId = storage();
        }
        LIBMTP_mtpdevice_t *device = live();
        const QByteArray utf8 = name.toUtf8();
        const MtpObjectId folderId = device ? m_library->createFolder(device, utf8.constData(), parentId, storageId)
                                            : MtpLibrary::kCreateFolderFailed;
        if (folderId == MtpLibrary::kCreateFolderFailed || folderId == MtpLibrary::kTopLevelParent) {
            reply = errorReply(QStringLiteral("kXMLCommandMakeDirectory could not create the folder."));
        } else {
            // Some phones file a new folder under a name of their own.
            if (LIBMTP_folder_t *folder = LIBMTP_new_folder_t()) {
                folder->folder_id = folderId.raw();
                folder->parent_id = parentId.raw();
                folder->storage_id = storageId.raw();
                folder->name = strdup(utf8.constData());
                folder->sibling = nullptr;
                folder->child = nullptr;
                if (LIBMTP_mtpdevice_t *again = live()) m_library->setFolderName(again, folder, utf8.constData());
                LIBMTP_destroy_folder_t(folder);
            }
            m_map->addEntry(parent, MTPDeviceObjectMap::Kind::Folder, folderId, name, LIBMTP_FILETYPE_FOLDER, 0, 0);
        }
    }
    rebuildMap();
    return reply;
}

QVariantMap MTPDevice::handleCommandGetDirectory(const QVariantMap &command)
{
    if (!command.contains(cmd::kArgDir)) return {};
    QVariantList entries;
    Entry *folder = m_map ? m_map->entryForPath(command.value(cmd::kArgDir).toString()) : nullptr;
    // What the phone has now, not what it had when the map was built.
    QString failure;
    if (!refreshFolder(folder, &failure))
        return errorReply(QStringLiteral("kXMLCommandGetDirectory could not list \"%1\": %2")
                              .arg(command.value(cmd::kArgDir).toString(), failure));
    if (folder && folder->holdsChildren()) {
        std::vector<Entry *> children(folder->children.cbegin(), folder->children.cend());
        std::sort(children.begin(), children.end(), [](const Entry *a, const Entry *b) {
            return VtrBaseFileInfo::fileNameLessThan(a->filename, b->filename);
        });
        const QString falseText = cmd::kFalse;
        for (Entry *child : children) {
            if (child->filename.isEmpty()) continue;
            QVariantMap item;
            item.insert(cmd::kEntryFilename, child->filename);
            if (child->isFile()) {
                if (m_fetchModDates && child->modificationTime == 0)
                    child->modificationTime = fetchModificationTime(child->objectId);
                item.insert(cmd::kEntryMod, MTPDeviceObjectMap::modText(child->modificationTime));
                item.insert(cmd::kEntrySize, QString::number(quint64(child->size)));
                item.insert(cmd::kEntryReadonly, falseText);
                item.insert(cmd::kEntryHidden, falseText);
                item.insert(cmd::kEntrySystem, falseText);
                item.insert(cmd::kEntryType, cmd::kTypeFile);
            } else {
                item.insert(cmd::kEntryType, cmd::kTypeDir);
            }
            entries.append(item);
        }
    }
    QVariantMap result;
    result.insert(cmd::kResultEntry, entries);
    return resultReply(result);
}

bool MTPDevice::deleteObjectWithId(MtpObjectId objectId)
{
    if (!m_map || !live()) return false;
    Entry *entry = m_map->entryForId(objectId);
    if (!entry || entry->isRoot()) return false;

    // Children first, each the same way; stop when the phone goes away.
    std::vector<MtpObjectId> children;
    children.reserve(size_t(entry->children.size()));
    for (const Entry *child : std::as_const(entry->children))
        children.push_back(child->objectId);
    for (MtpObjectId child : children) {
        if (!live()) return false;
        deleteObjectWithId(child);
    }

    entry = m_map->entryForId(objectId);
    LIBMTP_mtpdevice_t *device = live();
    if (!entry || !device) return false;
    QByteArray album;
    if (entry->isFile() && LIBMTP_FILETYPE_IS_TRACK(entry->filetype)) {
        if (LIBMTP_track_t *track = m_library->getTrackmetadata(device, objectId)) {
            if (track->album) album = QByteArray(track->album);
            LIBMTP_destroy_track_t(track);
        }
    }
    device = live();
    if (!device || m_library->deleteObject(device, objectId) != 0) return false;
    m_map->remove(m_map->entryForId(objectId));

    if (!album.isEmpty()) {
        // "E:\Albums\<album>.alb", the album name taken as one name.
        Entry *albums = m_map->root()->children.value(QStringLiteral("Albums"), nullptr);
        Entry *albumEntry =
            albums && albums->holdsChildren()
                ? albums->children.value(
                      MTPDeviceObjectMap::cleanName(QString::fromUtf8(album) + QStringLiteral(".alb")), nullptr)
                : nullptr;
        if (albumEntry && albumEntry->isFile()) {
            const MtpObjectId albumId = albumEntry->objectId;
            bool empty = false;
            if (LIBMTP_mtpdevice_t *d = live()) {
                if (LIBMTP_album_t *record = m_library->getAlbum(d, albumId)) {
                    empty = record->no_tracks == 0;
                    LIBMTP_destroy_album_t(record);
                }
            }
            LIBMTP_mtpdevice_t *d = live();
            if (empty && d && m_library->deleteObject(d, albumId) == 0) m_map->remove(m_map->entryForId(albumId));
        }
    }
    return true;
}

QVariantMap MTPDevice::handleCommandDeleteFile(const QVariantMap &command)
{
    if (!command.contains(cmd::kArgFilename)) return {};
    const QString path = command.value(cmd::kArgFilename).toString();
    Entry *entry = m_map ? m_map->entryForPath(path) : nullptr;
    Entry *parent = m_map ? m_map->entryForPath(vtr::windowsStringByDeletingLastPathComponent(path)) : nullptr;
    if (!entry || !parent)
        return errorReply(QStringLiteral("kXMLCommandDeleteFile could not delete the file because it does not exist."));
    // The drive root is the whole storage.
    if (entry->isRoot() || !deleteObjectWithId(entry->objectId))
        return errorReply(QStringLiteral("kXMLCommandDeleteFile could not delete."));
    return emptyResultReply();
}

QVariantMap MTPDevice::handleCommandRemoveDirectory(const QVariantMap &command)
{
    if (!command.contains(cmd::kArgDir)) return {};
    const QString path = command.value(cmd::kArgDir).toString();
    Entry *entry = m_map ? m_map->entryForPath(path) : nullptr;
    Entry *parent = m_map ? m_map->entryForPath(vtr::windowsStringByDeletingLastPathComponent(path)) : nullptr;
    QVariantMap reply;
    if (!entry || !parent) {
        reply = warningReply(
            QStringLiteral("kXMLCommandRemoveFolder could not delete the folder because it does not exist."));
    } else if (entry->isRoot()) {
        // Removing "E:\" would empty the phone's storage.
        reply = errorReply(QStringLiteral("kXMLCommandRemoveFolder cannot delete the drive root."));
    } else if (!deleteObjectWithId(entry->objectId)) {
        reply = errorReply(QStringLiteral("kXMLCommandRemoveFolder could not delete."));
    } else {
        reply = emptyResultReply();
    }
    rebuildMap();
    return reply;
}

QVariantMap MTPDevice::handleCommandMoveFile(const QVariantMap &command)
{
    if (!command.contains(cmd::kArgFrom) || !command.contains(cmd::kArgTo)) {
        rebuildMap();
        return {};
    }
    const QString from = command.value(cmd::kArgFrom).toString();
    const QString to = command.value(cmd::kArgTo).toString();
    Entry *entry = m_map ? m_map->entryForPath(from) : nullptr;
    Entry *fromParent = m_map ? m_map->entryForPath(vtr::windowsStringByDeletingLastPathComponent(from)) : nullptr;
    Entry *toParent = m_map ? m_map->entryForPath(vtr::windowsStringByDeletingLastPathComponent(to)) : nullptr;
    const QString newName = vtr::windowsLastPathComponent(to);
    if (!entry || entry->isRoot() || !fromParent || !toParent || !toParent->holdsChildren() || newName.isEmpty()) {
        rebuildMap();
        return errorReply(QStringLiteral("kXMLCommandMoveFile does not have proper attributes."));
    }

    QVariantMap reply = emptyResultReply();
    MtpFileList record(
        newFileRecord(entry->objectId, entry->parentId, entry->storageId, entry->filename, entry->filetype));
    const MtpObjectId newParent = toParent->objectId; // 0 for the root
    LIBMTP_mtpdevice_t *device = live();
    if (!record || !device) {
        reply = errorReply(QStringLiteral("kXMLCommandMoveFile could not move the file."));
    } else if (newParent != mtpParentId(*record) &&
               m_library->setFileParentObjectId(device, record.get(), newParent) != 0) {
        reply = errorReply(QStringLiteral("kXMLCommandMoveFile could not move the file."));
    } else {
        const QByteArray utf8 = newName.toUtf8();
        device = live();
        if (!device || m_library->setFileName(device, record.get(), utf8.constData()) != 0)
            reply = errorReply(QStringLiteral("kXMLCommandMoveFile could not rename the file."));
    }
    record.reset();
    rebuildMap();
    return reply;
}
