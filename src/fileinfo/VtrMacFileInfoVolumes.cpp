// Volumes, identifiers, the device-volume list, archives and the special
// folders of the local file info.

#include "fileinfo/VtrMacFileInfo.h"

#include "fileinfo/ArchiveUtils.h"
#include "fileinfo/DeviceVolumes.h"
#include "fileinfo/MountTable.h"
#include "fileinfo/VtrFileInfoFilters.h"
#include "fileinfo/VtrMacFileInfoFS.h"
#include "foundation/Log.h"
#include "foundation/VtrString.h"
#include "platform/Descriptor.h"
#include "platform/Folders.h"
#include "platform/Strings.h"

#include <QSaveFile>
#include <QStandardPaths>

#include <plist/plist.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <mutex>
#include <sys/statvfs.h>
#include <unistd.h>

using namespace vtr::localfs;

namespace {

const QString kErrorDomain = QStringLiteral("solvennawindowsphone");

QString errorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

bool isBelowOrAt(const QString &path, const QString &root)
{
    if (root == QLatin1String("/")) return path.startsWith(QLatin1Char('/'));
    return path == root || path.startsWith(root + QLatin1Char('/'));
}

// ---- class-wide state ------------------------------------------------------------------

struct DeviceVolumeList
{
    std::mutex mutex;
    QStringList paths;
};

DeviceVolumeList &deviceVolumeList()
{
    static DeviceVolumeList *list = new DeviceVolumeList;
    return *list;
}

struct RootsCache
{
    std::mutex mutex;
    std::optional<QStringList> overrideRoots;
    std::weak_ptr<const vtr::MountTable> table;
    QStringList roots;
};

RootsCache &rootsCache()
{
    static RootsCache *cache = new RootsCache;
    return *cache;
}

// The identifier store, "Volume uuids.plist": a dictionary keyed by volume
// name whose values are dictionaries holding "uuid". Read once per file path.
struct UuidStore
{
    std::mutex mutex;
    QString loadedPath;
    plist_t root = nullptr;
};

UuidStore &uuidStore()
{
    static UuidStore *store = new UuidStore;
    return *store;
}

QString uuidStorePath()
{
    return platform::dataFolder() + QStringLiteral("/Mac File Systems/Volume uuids.plist");
}

// With the store's lock held.
void loadUuidStore(UuidStore &store, const QString &path)
{
    if (store.root && store.loadedPath == path) return;
    if (store.root) plist_free(store.root);
    store.root = nullptr;
    store.loadedPath = path;
    // A file of the data folder, read by its descriptor as it is written.
    if (const std::optional<QByteArray> read = platform::readDataFile({lastComponent(parentPath(path))},
                                                                      lastComponent(path), (qint64(1) << 31) - 1)) {
        const QByteArray &bytes = *read;
        plist_t parsed = nullptr;
        if (!bytes.isEmpty() && bytes.size() < (qint64(1) << 31))
            plist_from_memory(bytes.constData(), uint32_t(bytes.size()), &parsed);
        if (parsed && plist_get_node_type(parsed) == PLIST_DICT)
            store.root = parsed;
        else if (parsed)
            plist_free(parsed);
        if (!store.root)
            VTR_LOG(
                1,
                QStringLiteral("The volume identifier store \"%1\" could not be read; starting a new one.").arg(path));
    }
    if (!store.root) store.root = plist_new_dict();
}

// Written into its folder of the data folder by descriptor: never through a
// link at its name or in the place of a folder on the way.
bool writeUuidStore(UuidStore &store, const QString &path)
{
    char *xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(store.root, &xml, &length);
    if (!xml) return false;
    const QByteArray bytes(xml, qsizetype(length));
    plist_to_xml_free(xml);
    QString why;
    const QString folderPath = parentPath(path);
    const platform::Descriptor folder(platform::openDataFolder({lastComponent(folderPath)}, &why));
    if (!folder.isOpen() || !platform::replaceFileIn(folder.get(), folderPath, lastComponent(path), bytes, &why)) {
        VTR_LOG(2, why);
        return false;
    }
    return true;
}

QString stringValue(plist_t node)
{
    if (!node || plist_get_node_type(node) != PLIST_STRING) return QString();
    char *value = nullptr;
    plist_get_string_val(node, &value);
    if (!value) return QString();
    const QString text = QString::fromUtf8(value);
    std::free(value);
    return text;
}

} // namespace

// ---- volumes ------------------------------------------------------------------------------------

QStringList VtrMacFileInfo::deviceVolumeRoots()
{
    RootsCache &cache = rootsCache();
    {
        std::lock_guard<std::mutex> lock(cache.mutex);
        if (cache.overrideRoots) return *cache.overrideRoots;
    }
    const std::shared_ptr<const vtr::MountTable> table = vtr::MountTable::current();
    {
        std::lock_guard<std::mutex> lock(cache.mutex);
        if (cache.table.lock() == table) return cache.roots;
    }
    const QStringList roots = vtr::usbVolumeMountPoints(*table);
    std::lock_guard<std::mutex> lock(cache.mutex);
    cache.table = table;
    cache.roots = roots;
    return roots;
}

void VtrMacFileInfo::setDeviceVolumeRootsOverride(const std::optional<QStringList> &roots)
{
    RootsCache &cache = rootsCache();
    std::lock_guard<std::mutex> lock(cache.mutex);
    cache.overrideRoots.reset();
    if (roots) {
        QStringList cleaned;
        for (const QString &root : *roots)
            cleaned.append(normalisePath(root));
        cache.overrideRoots = cleaned;
    }
}

VtrFileInfoPtr VtrMacFileInfo::volume()
{
    const QString p = path();
    if (!p.startsWith(QLatin1Char('/'))) return nullptr;
    QString best = QStringLiteral("/");
    auto consider = [&](const QString &root) {
        if (root.size() <= best.size() || !root.startsWith(QLatin1Char('/')) || !isBelowOrAt(p, root)) return;
        // A file mounted on a file (a container's bind mounts) is no volume.
        if (root == p && exists() && !isFolder()) return;
        best = root;
    };
    if (const vtr::MountEntry *entry = vtr::MountTable::current()->entryForPath(p)) consider(entry->mountPoint);
    for (const QString &root : deviceVolumeRoots())
        consider(root);
    for (const QString &root : mountedDeviceVolumePaths())
        consider(normalisePath(root));
    return fileInfoWithPath(best);
}

bool VtrMacFileInfo::isVolume()
{
    if (!isFolder()) return false;
    const QString p = path();
    if (p == QLatin1String("/")) return true;
    VtrFileInfoPtr root = volume();
    return root && root->path() == p;
}

qint64 VtrMacFileInfo::freeSpaceOnVolume()
{
    QString p = path();
    while (!p.isEmpty()) {
        struct statvfs vfs;
        // A missing level (or a link that leads nowhere) fails: its parent answers.
        if (::statvfs(encode(p).constData(), &vfs) == 0) {
            const quint64 bytes = quint64(vfs.f_bavail) * quint64(vfs.f_frsize);
            const bool overflow =
                vfs.f_frsize != 0 &&
                quint64(vfs.f_bavail) > quint64(std::numeric_limits<qint64>::max()) / quint64(vfs.f_frsize);
            return overflow ? std::numeric_limits<qint64>::max() : qint64(bytes);
        }
        if (p == QLatin1String("/")) break;
        p = parentPath(p);
    }
    return 0;
}

QString VtrMacFileInfo::fileSystemType()
{
    const vtr::MountEntry *entry = vtr::MountTable::current()->entryForPath(path());
    return entry ? entry->fsType : QString();
}

QString VtrMacFileInfo::uuid()
{
    VtrFileInfoPtr root = isVolume() ? self() : volume();
    if (!root) return QString();
    const QString marker = DeviceVolumeInfo::uuidForFileInfo(root);
    if (!marker.isNull()) return marker;

    const QString key = root->name();
    const QString storePath = uuidStorePath();
    UuidStore &store = uuidStore();
    std::lock_guard<std::mutex> lock(store.mutex);
    loadUuidStore(store, storePath);
    const QByteArray keyBytes = key.toUtf8();
    plist_t entry = plist_dict_get_item(store.root, keyBytes.constData());
    if (!entry || plist_get_node_type(entry) != PLIST_DICT) {
        entry = plist_new_dict();
        plist_dict_set_item(store.root, keyBytes.constData(), entry);
    }
    const QString known = stringValue(plist_dict_get_item(entry, "uuid"));
    if (!known.isEmpty()) return known;

    const QString fresh = vtr::stringWithNewUUID();
    plist_dict_set_item(entry, "uuid", plist_new_string(fresh.toUtf8().constData()));
    if (!writeUuidStore(store, storePath))
        VTR_LOG(2, vtrLocalized("Failed to write support file \"%1\".").arg(storePath));
    return fresh;
}

bool VtrMacFileInfo::readOnlyVolumeAtPath(const QString &path)
{
    struct statvfs vfs;
    if (path.isEmpty() || ::statvfs(encode(normalisePath(path)).constData(), &vfs) != 0) return true;
    return (vfs.f_flag & ST_RDONLY) != 0;
}

std::optional<VtrVolumeError> VtrMacFileInfo::testForBadVolumeAtPath(const QString &folderPath)
{
    const QString productName = QString::fromLatin1(platform::kAppFolderName);
    const QString text = QStringLiteral("This is a test file created by %1.").arg(productName);
    // UTF-16 with a byte-order mark, in the host's order.
    QByteArray contents;
    const char16_t bom = 0xFEFF;
    contents.append(reinterpret_cast<const char *>(&bom), 2);
    contents.append(reinterpret_cast<const char *>(text.utf16()), text.size() * 2);

    // The test file lives in the private temporary folder only.
    QString testFile;
    try {
        testFile = childPath(platform::temporaryFolder(), QStringLiteral("bad-vol-test"));
    } catch (const std::exception &e) {
        return VtrVolumeError{kErrorDomain, -21, QString::fromLocal8Bit(e.what())};
    }
    {
        QSaveFile file(testFile);
        if (!file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size() || !file.commit())
            return VtrVolumeError{kErrorDomain, -21, file.errorString()};
    }

    const QString target = childPath(normalisePath(folderPath), QStringLiteral(".%1-temp-file").arg(productName));
    std::optional<VtrVolumeError> recorded;
    auto record = [&](int error, const QString &what) {
        if (!recorded)
            recorded =
                VtrVolumeError{QStringLiteral("posix"), error, QStringLiteral("%1: %2").arg(what, errorText(error))};
    };
    if (existsNoFollow(target)) {
        if (!removeItem(target)) record(errno, target);
        if (!recorded && existsNoFollow(target))
            recorded = VtrVolumeError{kErrorDomain, -20, QStringLiteral("%1 could not be removed").arg(target)};
    }
    bool copied = false;
    if (!recorded) {
        const int fd = ::open(encode(target).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            record(errno, target);
        } else {
            copied = writeAll(fd, contents.constData(), contents.size());
            if (!copied) record(errno, target);
            if (::close(fd) != 0 && copied) {
                copied = false;
                record(errno, target);
            }
            if (!copied) ::unlink(encode(target).constData());
        }
    }
    if (copied && existsNoFollow(target) && !recorded) {
        if (::unlink(encode(target).constData()) != 0) record(errno, target);
        return recorded;
    }
    if (recorded) return recorded;
    return VtrVolumeError{kErrorDomain, -21, QStringLiteral("%1 could not be written").arg(target)};
}

bool VtrMacFileInfo::vendorProductIDForVolume(const QString &volumePath, quint16 *vendorID, quint16 *productID)
{
    if (vendorID) *vendorID = 0;
    if (productID) *productID = 0;
    const std::shared_ptr<const vtr::MountTable> table = vtr::MountTable::current();
    const QString p = normalisePath(volumePath);
    const vtr::MountEntry *entry = table->entryAt(p);
    if (!entry) entry = table->entryForPath(p);
    if (!entry) return false;
    const auto device = vtr::blockDeviceOfEntry(*entry);
    if (!device) return false;
    const std::optional<vtr::UsbDeviceIds> ids = vtr::usbAncestorOfBlockDevice(device->first, device->second);
    if (!ids) return false;
    if (vendorID && ids->hasVendorId) *vendorID = ids->vendorId;
    if (productID && ids->hasProductId) *productID = ids->productId;
    return ids->hasVendorId || ids->hasProductId;
}

void VtrMacFileInfo::removeMacGeneratedItemsAtPath(const QString &path)
{
    VtrFileInfoPtr root = fileInfoWithPath(path)->volume();
    if (!root || !root->exists()) return;
    // Only phones and disks: a "._" file on the computer's own disks is the
    // user's business.
    const QString rootPath = root->path();
    QStringList deviceRoots = deviceVolumeRoots();
    for (const QString &listed : mountedDeviceVolumePaths())
        deviceRoots.append(normalisePath(listed));
    if (!deviceRoots.contains(rootPath)) {
        VTR_LOG(1, QStringLiteral("\"%1\" is not on a device volume; nothing removed.").arg(path));
        return;
    }
    VtrFileInfoPtr trashes = root->find(QStringLiteral(".Trashes"));
    if (trashes && trashes->isFolder()) trashes->remove();
    for (const char *name : {"Desktop DB", "Desktop DF", ".com.apple.timemachine.supported", ".Spotlight-V100"}) {
        try {
            VtrFileInfoPtr item = root->find(QString::fromLatin1(name));
            if (item && item->isFile()) item->remove();
        } catch (const std::exception &) {
        }
    }
    VtrRemoveMacGeneratedItemsFilter filter;
    root->folderContentsDeepWithFilter(&filter, true);
}

bool VtrMacFileInfo::isBlackberryInternalMemoryRoot()
{
    if (!_blackberryInfoValid) {
        _isBlackberryInternalMemoryRoot = false;
        _isBlackberryMemoryCardRoot = false;
        if (isVolume()) {
            Ptr real = blackberryInternalMemoryRealRoot();
            _isBlackberryInternalMemoryRoot = real && real->isEqualTo(self());
            _isBlackberryMemoryCardRoot = isBlackberryMemoryForPath(path());
        }
        _blackberryInfoValid = true;
    }
    return _isBlackberryInternalMemoryRoot;
}

bool VtrMacFileInfo::isBlackberryMemoryCardRoot()
{
    isBlackberryInternalMemoryRoot();
    return _isBlackberryMemoryCardRoot;
}

// ---- the mounted device-volume list -----------------------------------------------------------

void VtrMacFileInfo::addMountedDeviceVolumePath(const QString &path)
{
    DeviceVolumeList &list = deviceVolumeList();
    std::lock_guard<std::mutex> lock(list.mutex);
    if (!list.paths.contains(path, Qt::CaseInsensitive)) list.paths.append(QString(path));
}

bool VtrMacFileInfo::removeMountedDeviceVolumePath(const QString &path)
{
    DeviceVolumeList &list = deviceVolumeList();
    std::lock_guard<std::mutex> lock(list.mutex);
    for (qsizetype i = 0; i < list.paths.size(); ++i) {
        if (list.paths.at(i).compare(path, Qt::CaseInsensitive) == 0) {
            list.paths.removeAt(i);
            return true;
        }
    }
    return false;
}

QStringList VtrMacFileInfo::mountedDeviceVolumePaths()
{
    DeviceVolumeList &list = deviceVolumeList();
    std::lock_guard<std::mutex> lock(list.mutex);
    return list.paths;
}

void VtrMacFileInfo::updateMountedDeviceVolumesWithPaths(const QStringList &paths)
{
    DeviceVolumeList &list = deviceVolumeList();
    std::lock_guard<std::mutex> lock(list.mutex);
    list.paths = paths;
}

bool VtrMacFileInfo::isBlackberryInternalMemoryForPath(const QString &path)
{
    if (!mountedDeviceVolumePaths().contains(path, Qt::CaseInsensitive)) return false;
    if (vtr::posixLastPathComponent(path).compare(QLatin1String("BLACKBERRY1"), Qt::CaseInsensitive) == 0) return true;
    VtrFileInfoPtr home = fileInfoWithPath(path)->find(QStringLiteral("home"));
    if (!home || !home->isFolder()) return false;
    VtrFileInfoPtr user = home->find(QStringLiteral("user"));
    return user && user->isFolder();
}

// ---- archives ---------------------------------------------------------------------------------------

QByteArray VtrMacFileInfo::zip()
{
    if (!exists()) return QByteArray();
    QString error;
    const QByteArray data = vtr::zipItemToData(path(), &error);
    if (data.isNull()) VTR_LOG(2, QStringLiteral("Could not archive \"%1\": %2").arg(humanFriendlyPath(), error));
    return data;
}

QByteArray VtrMacFileInfo::ditto()
{
    return zip();
}

VtrFileInfoList VtrMacFileInfo::unzip()
{
    if (!exists() || !isFile()) return {};
    // A fresh folder for each unpacking, made exclusively.
    const QString temp = classTempFolder()->path();
    quint64 tick = quint64(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count());
    QString folder;
    for (int attempt = 0; attempt < 1000; ++attempt, ++tick) {
        const QString candidate = childPath(temp, QStringLiteral("VantrelUnzip-%1").arg(tick));
        if (::mkdir(encode(candidate).constData(), 0700) == 0) {
            folder = candidate;
            break;
        }
        if (errno != EEXIST) break;
    }
    if (folder.isEmpty()) {
        VTR_LOG(2, QStringLiteral("No folder to unpack \"%1\" into: %2").arg(humanFriendlyPath(), errorText(errno)));
        return {};
    }
    const vtr::ArchiveExtractResult result = vtr::extractArchive(path(), folder);
    if (!result.ok) VTR_LOG(2, QStringLiteral("Unpacking \"%1\" failed: %2").arg(humanFriendlyPath(), result.error));
    if (result.skipped > 0)
        VTR_LOG(1,
                QStringLiteral("Unpacking \"%1\": %2 entries refused.").arg(humanFriendlyPath()).arg(result.skipped));
    return fileInfoWithPath(folder)->folderContents();
}

VtrFileInfoPtr VtrMacFileInfo::zipToFolder(const VtrFileInfoPtr &folder)
{
    if (!exists() || !folder || !folder->isFolder()) return nullptr;
    const QString archivePath = childPath(folder->path(), name() + QStringLiteral(".zip"));
    QString error;
    if (!vtr::zipItemToFile(path(), archivePath, &error))
        VTR_LOG(2, QStringLiteral("Could not archive \"%1\": %2").arg(humanFriendlyPath(), error));
    Ptr archive = fileInfoWithPath(archivePath);
    archive->refresh();
    return archive;
}

// ---- temporary and special folders ---------------------------------------------------------------------

VtrMacFileInfo::Ptr VtrMacFileInfo::classTempFolder()
{
    return fileInfoWithPath(platform::temporaryFolder());
}

VtrFileInfoPtr VtrMacFileInfo::tempFolder()
{
    return classTempFolder();
}

VtrMacFileInfo::Ptr VtrMacFileInfo::userAppSupportFolder()
{
    const QString data = normalisePath(platform::dataFolder());
    if (vtr::posixLastPathComponent(data) == QLatin1String(platform::kAppFolderName))
        return fileInfoWithPath(parentPath(data));
    const QString generic = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return generic.isEmpty() ? nullptr : fileInfoWithPath(generic);
}

VtrMacFileInfo::Ptr VtrMacFileInfo::globalAppSupportFolder()
{
    return findFolder(VtrFileInfo::kLocalDomain, VtrFileInfo::kApplicationSupportFolderType, false);
}

VtrMacFileInfo::Ptr VtrMacFileInfo::userLibraryFolder()
{
    return userAppSupportFolder();
}

VtrMacFileInfo::Ptr VtrMacFileInfo::globalLibraryFolder()
{
    return globalAppSupportFolder();
}
