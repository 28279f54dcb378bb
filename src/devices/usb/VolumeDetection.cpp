#include "devices/usb/VolumeDetection.h"

#include "devices/devicelist/VtrDeviceList.h"
#include "devices/usb/UdevSource.h"
#include "fileinfo/MountTable.h"
#include "fileinfo/VtrMacFileInfo.h"
#include "foundation/Json.h"
#include "foundation/Log.h"
#include "platform/Descriptor.h"
#include "platform/Folders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <memory>
#include <mutex>
#include <sys/statvfs.h>

namespace {

std::mutex g_instanceMutex;
std::unique_ptr<VolumeDetection> g_instance;

const QString kPlainListName = QStringLiteral("DeviceList.json");
const QString kAdditionsName = QStringLiteral("UnsupportedDeviceList.json");

std::optional<QVariantMap> jsonObjectOf(const QByteArray &bytes)
{
    const QVariant value = vtr::JSONValueFromUtf8(bytes);
    if (value.typeId() != QMetaType::QVariantMap) return std::nullopt;
    return value.toMap();
}

std::optional<QVariantMap> readJsonObject(const QString &path)
{
    QFile file(path);
    if (path.isEmpty() || !file.exists() || !file.open(QIODevice::ReadOnly)) return std::nullopt;
    return jsonObjectOf(file.readAll());
}

// The lists of the data folder are read and written by its descriptor, as
// everything kept there (platform::openDataFolder()): never through a link
// at their names or in the data folder's place.
std::optional<QVariantMap> readDataFolderJson(const QString &name)
{
    QString why;
    int code = 0;
    const std::optional<QByteArray> bytes = platform::readDataFile({}, name, vtr::kMaxDeviceListDownload, &why, &code);
    if (!bytes && code != ENOENT) VTR_LOG(1, QStringLiteral("Volume detection: %1").arg(why));
    return bytes ? jsonObjectOf(*bytes) : std::nullopt;
}

bool writeDataFolderFile(const QString &name, const QByteArray &bytes)
{
    QString why;
    const platform::Descriptor folder(platform::openDataFolder({}, &why));
    if (folder.isOpen() && platform::replaceFileIn(folder.get(), platform::dataFolder(), name, bytes, &why)) return true;
    VTR_LOG(1, QStringLiteral("Volume detection: %1").arg(why));
    return false;
}

bool isBelow(const QString &path, const QString &root)
{
    if (root.isEmpty()) return false;
    const QString clean = QDir::cleanPath(path);
    const QString cleanRoot = QDir::cleanPath(root);
    return clean == cleanRoot ||
           clean.startsWith(cleanRoot.endsWith(QLatin1Char('/')) ? cleanRoot : cleanRoot + QLatin1Char('/'));
}

// The mount of the file system holding `path`: same device, longest mount point.
std::optional<vtr::MountEntry> mountOf(const QString &path, const QString &tablePath)
{
    VolumeRefNum volume = 0;
    if (pathToVolumeRefNum(path, &volume) != 0) return std::nullopt;
    const std::shared_ptr<const vtr::MountTable> table = vtr::MountTable::read(tablePath);
    const vtr::MountEntry *best = nullptr;
    for (const vtr::MountEntry &entry : table->entries()) {
        if (VolumeRefNum(entry.deviceNumber()) != volume || !isBelow(path, entry.mountPoint)) continue;
        if (!best || entry.mountPoint.size() > best->mountPoint.size()) best = &entry;
    }
    if (!best) return std::nullopt;
    return *best;
}

struct statvfs_result
{
    bool ok = false;
    struct statvfs st
    {
    };
};

statvfs_result statVolume(const QString &path)
{
    statvfs_result result;
    if (path.isEmpty()) return result;
    result.ok = ::statvfs(QFile::encodeName(path).constData(), &result.st) == 0;
    return result;
}

} // namespace

VolumeDetection *VolumeDetection::sharedManager()
{
    std::lock_guard lock(g_instanceMutex);
    if (!g_instance) g_instance = std::make_unique<VolumeDetection>();
    return g_instance.get();
}

void VolumeDetection::releaseManager()
{
    std::lock_guard lock(g_instanceMutex);
    g_instance.reset();
}

VolumeDetection::VolumeDetection()
{
    loadDeviceList();
}

void VolumeDetection::loadDeviceList()
{
    m_section.clear();
    m_hasList = false;
    const QString shippedPath = VtrDeviceList::resourceFolder() + QLatin1Char('/') + kPlainListName;
    const std::optional<QVariantMap> shipped = readJsonObject(shippedPath);
    std::optional<QVariantMap> list = readDataFolderJson(kPlainListName);
    // The working copy stays when it has a revision at least the shipped one's.
    const bool keepWorking = list && list->contains(QStringLiteral("revision")) &&
                             (!shipped || vtr::deviceListRevision(*list) >= vtr::deviceListRevision(*shipped));
    if (!keepWorking) {
        list = shipped;
        if (shipped) {
            const QString text = vtr::JSONRepresentation(*shipped);
            if (text.isNull() || !writeDataFolderFile(kPlainListName, text.toUtf8()))
                VTR_LOG(1, QStringLiteral("Volume detection: cannot write \"%1\".")
                               .arg(QDir(platform::dataFolder()).filePath(kPlainListName)));
        }
    }
    if (!list) return;
    const QVariantMap checked = vtr::sanitizedDeviceListDocument(*list);
    const QVariant section = checked.value(QStringLiteral("SupportedDevices"));
    if (section.typeId() != QMetaType::QVariantMap) return;
    m_section = section.toMap();
    m_hasList = true;

    const std::optional<QVariantMap> additions = readDataFolderJson(kAdditionsName);
    if (!additions) return;
    const QVariant added = vtr::sanitizedDeviceListDocument(*additions).value(QStringLiteral("SupportedDevices"));
    if (added.typeId() != QMetaType::QVariantMap) return;
    const QVariantMap addedSection = added.toMap();
    for (auto vendor = addedSection.constBegin(); vendor != addedSection.constEnd(); ++vendor) {
        QVariantMap merged = m_section.value(vendor.key()).toMap();
        const QVariantMap products = vendor.value().toMap();
        for (auto product = products.constBegin(); product != products.constEnd(); ++product) {
            if (product.key() == QLatin1String("VID") || product.key() == QLatin1String("VendorName")) continue;
            if (!merged.contains(product.key())) merged.insert(product.key(), product.value());
        }
        m_section.insert(vendor.key(), merged);
    }
}

void VolumeDetection::setDeviceList(const QVariantMap &section)
{
    m_section = section;
    m_hasList = true;
}

QVariantMap VolumeDetection::deviceListDictionary()
{
    if (!m_hasList) loadDeviceList();
    return m_section;
}

bool VolumeDetection::volumeWriteableAtPath(const QString &path)
{
    const statvfs_result result = statVolume(path);
    return result.ok && !(result.st.f_flag & ST_RDONLY);
}

QStringList VolumeDetection::volumeRoots() const
{
    if (!m_rootsOverride.isEmpty()) return m_rootsOverride;
    QStringList roots;
    const std::shared_ptr<const vtr::MountTable> table = vtr::MountTable::read(m_mountTablePath);
    for (const vtr::MountEntry &entry : table->entries()) {
        if (!entry.isBlockBacked() || entry.mountPoint == QLatin1String("/")) continue;
        if (usbIDsForVolume(VolumeRefNum(entry.deviceNumber()), nullptr, nullptr) && !roots.contains(entry.mountPoint))
            roots.append(entry.mountPoint);
    }
    return roots;
}

QStringList VolumeDetection::appleMediaFolders(const QString &serial) const
{
    const std::shared_ptr<const vtr::MountTable> table = vtr::MountTable::read(m_mountTablePath);
    return vtr::apple::mediaFoldersOfPhone(*table, serial,
                                           m_probes ? *m_probes : vtr::apple::systemMediaMountProbes());
}

bool VolumeDetection::isVolumePath(const QString &path) const
{
    if (path.isEmpty()) return false;
    for (const QString &root : volumeRoots())
        if (isBelow(path, root)) return true;
    return false;
}

bool VolumeDetection::volumeUnmountable(const QString &path) const
{
    const QString clean = QDir::cleanPath(path);
    for (const QString &root : volumeRoots())
        if (QDir::cleanPath(root) == clean) return true;
    return false;
}

int VolumeDetection::pathToVRefNum(const QString &path, VolumeRefNum *volume) const
{
    return pathToVolumeRefNum(path, volume);
}

bool VolumeDetection::vendorProductIDForVolume(VolumeRefNum volume, quint16 *vendor, quint16 *product) const
{
    return usbIDsForVolume(volume, vendor, product);
}

void VolumeDetection::volumePathToVendorAndProductID(const QString &path, quint16 *vendor, quint16 *product) const
{
    VolumeRefNum volume = 0;
    quint16 v = 0;
    quint16 p = 0;
    if (pathToVRefNum(path, &volume) != 0 || !vendorProductIDForVolume(volume, &v, &p)) return;
    if (vendor) *vendor = v;
    if (product) *product = p;
}

std::optional<QVariantMap> VolumeDetection::entry(quint16 vendor, quint16 product)
{
    const QVariant vendorObject = deviceListDictionary().value(QString::number(vendor));
    if (vendorObject.typeId() != QMetaType::QVariantMap) return std::nullopt;
    const QVariant found = vendorObject.toMap().value(QString::number(product));
    if (found.typeId() != QMetaType::QVariantMap) return std::nullopt;
    return found.toMap();
}

std::optional<QVariantMap> VolumeDetection::productDictionaryForVendorID(quint16 vendor, quint16 product)
{
    std::optional<QVariantMap> found = entry(vendor, product);
    if (!found) return std::nullopt;
    found->insert(QStringLiteral("vendorID"), uint(vendor));
    found->insert(QStringLiteral("productID"), uint(product));
    return found;
}

bool VolumeDetection::volumeCanBeRemoved(const QString &path)
{
    VolumeRefNum volume = 0;
    quint16 vendor = 0;
    quint16 product = 0;
    if (pathToVRefNum(path, &volume) != 0 || !vendorProductIDForVolume(volume, &vendor, &product)) return true;
    if (!entry(vendor, product).has_value()) return true;
    // A known phone's volume gets its identifier now, before anything is
    // recorded about it.
    getIdentifierForVolume(path, true);
    return false;
}

std::optional<QVariantMap> VolumeDetection::productDictionaryForVolume(const QString &path)
{
    if (!isVolumePath(path)) return std::nullopt;
    VolumeRefNum volume = 0;
    quint16 vendor = 0;
    quint16 product = 0;
    if (pathToVRefNum(path, &volume) == 0) vendorProductIDForVolume(volume, &vendor, &product);
    std::optional<QVariantMap> found = productDictionaryForVendorID(vendor, product);
    if (!found) found = vendor != 0 ? productDictionaryForVendorID(vendor, 0) : productDictionaryForVendorID(0, 0);
    if (found) getIdentifierForVolume(path, true);
    return found;
}

QString VolumeDetection::getIdentifierForVolume(const QString &path, bool create)
{
    // The identifier is made whenever the volume has none: `create` changes nothing.
    Q_UNUSED(create);
    if (!isVolumePath(path)) return QString();
    return VtrMacFileInfo::fileInfoWithPath(path)->uuid();
}

std::optional<QVariantMap> VolumeDetection::productDictionaryForVolumeName(const QString &name)
{
    const QVariantMap section = deviceListDictionary();
    for (auto vendor = section.constBegin(); vendor != section.constEnd(); ++vendor) {
        if (vendor.value().typeId() != QMetaType::QVariantMap) continue;
        const QVariantMap products = vendor.value().toMap();
        for (auto product = products.constBegin(); product != products.constEnd(); ++product) {
            if (product.value().typeId() != QMetaType::QVariantMap) continue;
            QVariantMap found = product.value().toMap();
            bool matches = false;
            // A missing name never matches (an absent text is not "equal").
            for (const char *key : {"deviceName", "volumeName"}) {
                const QVariant value = found.value(QLatin1String(key));
                if (value.typeId() == QMetaType::QString && value.toString().compare(name, Qt::CaseInsensitive) == 0)
                    matches = true;
            }
            if (!matches) continue;
            found.insert(QStringLiteral("vendorID"), vendor.key().toUInt());
            found.insert(QStringLiteral("productID"), product.key().toUInt());
            return found;
        }
    }
    return std::nullopt;
}

bool VolumeDetection::isMountedVolumeSavedVendorID(quint16 vendor, quint16 product, QVariantMap *outDeviceInfo)
{
    const std::optional<QVariantMap> found = entry(vendor, product);
    if (found && outDeviceInfo) *outDeviceInfo = *found;
    return found.has_value();
}

bool VolumeDetection::isDeviceVolumeForPath(const QString &path, QVariantMap *outDeviceInfo, quint16 *outVendor,
                                            quint16 *outProduct)
{
    if (outDeviceInfo) outDeviceInfo->clear();
    VolumeRefNum volume = 0;
    quint16 vendor = 0;
    quint16 product = 0;
    bool result = false;
    if (pathToVRefNum(path, &volume) == 0 && vendorProductIDForVolume(volume, &vendor, &product)) {
        if (outVendor) *outVendor = vendor;
        if (outProduct) *outProduct = product;
        result = isMountedVolumeSavedVendorID(vendor, product, outDeviceInfo);
    }
    if (!result && outDeviceInfo) outDeviceInfo->clear();
    return result;
}

QStringList VolumeDetection::scanRemoveableVolumesForDevices()
{
    QStringList paths;
    const std::shared_ptr<const vtr::MountTable> table = vtr::MountTable::read(m_mountTablePath);
    for (const vtr::MountEntry &mount : table->entries()) {
        if (!mount.isBlockBacked() || paths.contains(mount.mountPoint)) continue;
        if (isDeviceVolumeForPath(mount.mountPoint, nullptr)) paths.append(mount.mountPoint);
    }
    // The local file infos learn which volumes are phones (also when none is).
    VtrMacFileInfo::updateMountedDeviceVolumesWithPaths(paths);
    return paths;
}

bool VolumeDetection::isVolumeMountedForVendorID(quint16 vendor, quint16 product)
{
    if (vendor == 0 && product == 0) return false;
    for (const QString &root : volumeRoots()) {
        quint16 v = 0;
        quint16 p = 0;
        VolumeRefNum volume = 0;
        if (pathToVRefNum(root, &volume) != 0 || !vendorProductIDForVolume(volume, &v, &p)) continue;
        if (product != 0 ? p == product : v == vendor) return true;
    }
    return false;
}

QString VolumeDetection::volumeName(const QString &path) const
{
    const std::optional<vtr::MountEntry> mount = mountOf(path, m_mountTablePath);
    if (!mount) return QString();
    if (mount->mountPoint == QLatin1String("/")) return QStringLiteral("/");
    return QFileInfo(mount->mountPoint).fileName();
}

qint64 VolumeDetection::volumeSize(const QString &path) const
{
    const statvfs_result result = statVolume(path);
    return result.ok ? qint64(result.st.f_blocks) * qint64(result.st.f_frsize) : 0;
}

qint64 VolumeDetection::volumeFreespace(const QString &path) const
{
    const statvfs_result result = statVolume(path);
    return result.ok ? qint64(result.st.f_bavail) * qint64(result.st.f_frsize) : 0;
}

short VolumeDetection::volumeLUN(const QString &path) const
{
    VolumeRefNum volume = 0;
    quint16 lun = 0;
    if (pathToVRefNum(path, &volume) != 0 || !volumeSCSIInfo(volume, &lun)) return -1;
    return short(lun);
}

QString VolumeDetection::copyDaVolumeNameForPath(const QString &path) const
{
    VolumeRefNum volume = 0;
    if (pathToVRefNum(path, &volume) != 0) return QString();
    const std::shared_ptr<vtr::udev::UdevSource> source = vtr::udev::defaultSource();
    std::optional<vtr::udev::UdevNode> node = source ? source->blockDevice(dev_t(volume)) : std::nullopt;
    if (!node) return QString();
    // The disk's own report of maker and model sits on its SCSI device.
    for (int depth = 0; node && depth < 64; ++depth) {
        const QString model = node->attribute(QStringLiteral("model")).trimmed();
        if (!model.isEmpty()) {
            const QString vendor = node->attribute(QStringLiteral("vendor")).trimmed();
            return vendor.isEmpty() ? model : vendor + QLatin1Char(' ') + model;
        }
        if (node->parentSyspath.isEmpty()) break;
        node = source->node(node->parentSyspath);
    }
    const QString name = volumeName(path);
    return name.isEmpty() ? QStringLiteral("<untitled>") : name;
}

bool VolumeDetection::addProductDictionaryForVendorID(quint16 vendor, quint16 product,
                                                      const QVariantMap &productDictionary)
{
    QVariantMap top = readDataFolderJson(kAdditionsName).value_or(QVariantMap());
    QVariantMap section = top.value(QStringLiteral("SupportedDevices")).toMap();
    QVariantMap vendorObject = section.value(QString::number(vendor)).toMap();
    QVariantMap entry = productDictionary;
    const QString name = usbDeviceNameForDevice(vendor, product);
    if (name.isNull())
        entry.remove(QStringLiteral("deviceName"));
    else
        entry.insert(QStringLiteral("deviceName"), name);
    vendorObject.insert(QString::number(product), entry);
    vendorObject.insert(QStringLiteral("VID"), QStringLiteral("0x%1").arg(QString::number(vendor, 16)));
    section.insert(QString::number(vendor), vendorObject);
    top.insert(QStringLiteral("SupportedDevices"), section);
    const QString text = vtr::JSONRepresentation(top);
    if (text.isNull()) return true;
    return writeDataFolderFile(kAdditionsName, text.toUtf8());
}
