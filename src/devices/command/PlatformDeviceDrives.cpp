// The phone's storage as PlatformDevice sees it: drives, mounted volumes,
// standardized device paths, the folder and drive caches, node look-ups, the
// folders per content type, the configuration with its content revision and
// the playlist writer.

#include "devices/command/PlatformDevice.h"

#include "devices/command/DeviceCommands.h"
#include "devices/command/VtrSymbianFileInfo.h"
#include "devices/mtp/MTPDevice.h"
#include "devices/playlist/MusicPlaylistFactory.h"
#include "devices/playlist/VtrMusicPlaylist.h"
#include "devices/usb/VolumeDetection.h"
#include "fileinfo/DeviceVolumes.h"
#include "fileinfo/VtrMacFileInfo.h"
#include "foundation/Log.h"
#include "foundation/VtrString.h"
#include "platform/MainThread.h"
#include "platform/Strings.h"
#include "platform/UserDefaults.h"
#include "platform/VtrException.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

using namespace DeviceCommands;
using namespace devicelisting;

namespace {

const QChar kBackslash = QLatin1Char('\\');
const QString kInternalDrive = QStringLiteral("C:\\");
const QString kFriendlyName = QStringLiteral("Human Friendly Name");
const QString kContentRevision = QStringLiteral("content_revision");
const QString kFallbackRevisionKey = QStringLiteral("device_id");

// The components of a Windows-style path text of a configuration ("Media",
// "\Media\Music\"), either separator accepted.
QStringList windowsComponents(const QString &text)
{
    QString rest;
    vtr::decomposeWindowsPath(text, nullptr, &rest);
    return rest.split(kBackslash, Qt::SkipEmptyParts);
}

QStringList slashComponents(const QString &text)
{
    return text.split(QLatin1Char('/'), Qt::SkipEmptyParts);
}

// The drive string of a drive entry's "id" ("e" gives "E:\\", as every
// path's drive is read upper-cased).
QString driveStringForId(const QString &id)
{
    return QStringLiteral("%1:\\").arg(id.toUpper());
}

// One plain name of a phone listing: never a separator, NUL, "." or "..",
// so that a node's path stays inside its folder.
bool isSafeEntryName(const QString &name)
{
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..")) return false;
    return !name.contains(kBackslash) && !name.contains(QLatin1Char('/')) && !name.contains(QChar(0));
}

bool configurationBool(const QVariant &value, bool defaultValue)
{
    if (!value.isValid() || value.isNull()) return defaultValue;
    if (value.typeId() == QMetaType::QString) {
        const QString text = value.toString().trimmed();
        return text.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0 ||
               text.compare(QLatin1String("yes"), Qt::CaseInsensitive) == 0 || text == QLatin1String("1");
    }
    return value.toBool();
}

bool holdsCardMarker(const QString &volumePath)
{
    return QFileInfo::exists(QDir(volumePath).filePath(PlatformDevice::extraStorageCardMarker()));
}

} // namespace

// ---- paths ----------------------------------------------------------------------------------------

QString PlatformDevice::standardizeDevicePath(const QString &path, QString *outDrive, QString *outRest)
{
    const StateLock lock(m_stateMutex);
    QString drive;
    QString rest;
    vtr::decomposeWindowsPath(path, &drive, &rest);
    if (drive.isEmpty()) {
        drive = cardPrefixOnDevice();
        if (drive.isEmpty()) {
            const VtrFileInfoPtr internal = internalMemoryFileInfo();
            if (internal) drive = internal->path();
        }
    }
    if (drive.isNull()) drive = QStringLiteral("");
    if (rest.startsWith(kBackslash)) rest = rest.size() < 2 ? QStringLiteral("") : rest.mid(1);
    if (outDrive) *outDrive = drive;
    if (outRest) *outRest = rest;
    return drive.isEmpty() ? rest : drive + rest;
}

DeviceVolumes *PlatformDevice::deviceVolumes() const
{
    const StateLock lock(m_stateMutex);
    return m_deviceVolumes.get();
}

bool PlatformDevice::hasCachedListing(const QString &folderPath) const
{
    const StateLock lock(m_stateMutex);
    return m_listings.hasListing(folderPath);
}

bool PlatformDevice::hasCachedDrive(const QString &drive) const
{
    const StateLock lock(m_stateMutex);
    return m_listings.hasDrive(drive);
}

// ---- drives -----------------------------------------------------------------------------------------

QVariantList PlatformDevice::_getDrivesViaXML()
{
    QVariantMap result;
    if (std::shared_ptr<MTPDevice> mtpDevice = liveMtp())
        result = mtpDevice->getDrivesViaXML();
    else
        result = sendCmdWithDictionary(fsGetDriveList()).toMap();
    QVariantList drives;
    for (const QVariant &drive : valueAsList(result.value(kResultDrive)))
        if (drive.typeId() == QMetaType::QVariantMap) drives.append(drive);
    return drives;
}

bool PlatformDevice::_driveIsInternal(const QVariantMap &drive)
{
    return drive.value(kDriveId).toString().compare(QLatin1String("C"), Qt::CaseInsensitive) == 0;
}

bool PlatformDevice::_driveIsCard(const QVariantMap &drive, const QString &preferredDrive)
{
    if (!drive.contains(kDriveMedia)) return false;
    if (drive.value(kDriveMedia).toString().compare(kMediaHardDisk, Qt::CaseInsensitive) == 0) return true;
    if (preferredDrive.isEmpty()) return false;
    const QString letter = preferredDrive.size() < 2 ? preferredDrive : preferredDrive.left(1);
    return drive.value(kDriveId).toString().compare(letter, Qt::CaseInsensitive) == 0;
}

QString PlatformDevice::configuredCardDrive()
{
    const QString prefix = m_deviceInfo.value(QStringLiteral("cardDrivePrefix")).toString().trimmed();
    if (prefix.isEmpty()) return QString();
    QString drive;
    vtr::decomposeWindowsPath(prefix, &drive, nullptr);
    if (!drive.isEmpty()) return drive;
    // "E" or "E:" name the same drive.
    if (prefix.at(0).isLetter() && (prefix.size() == 1 || prefix.at(1) == QLatin1Char(':')))
        return driveStringForId(prefix.left(1).toUpper());
    return QString();
}

QList<PlatformDevice::NodePtr> PlatformDevice::_drivesInfo(const QString &driveString)
{
    QList<NodePtr> answer;
    if (hasMassStorageConnectionOnly()) return answer;
    syncPhoneIdentity();
    QString wanted;
    if (!driveString.isEmpty()) {
        vtr::decomposeWindowsPath(driveString, &wanted, nullptr);
        if (wanted.isEmpty()) wanted = folderKey(driveString);
        if (const std::optional<QVariantMap> cached = m_listings.drive(wanted))
            return {VtrSymbianFileInfo::fileInfoWithPath(wanted, *cached, this)};
    }
    const bool firstListing = !m_deviceVolumes;
    if (firstListing) m_deviceVolumes = std::make_unique<DeviceVolumes>();
    const bool walkAll = wanted.isEmpty() || firstListing;

    const QString preferredCard = configuredCardDrive();
    std::optional<QVariantMap> phoneInfo;
    for (const QVariant &value : _getDrivesViaXML()) {
        const QVariantMap drive = value.toMap();
        const QString id = drive.value(kDriveId).toString();
        if (id.isEmpty()) continue;
        QString name;
        if (_driveIsInternal(drive))
            name = vtrLocalized("Internal Card");
        else if (_driveIsCard(drive, preferredCard))
            name = vtrLocalized("Storage Card");
        else
            continue;
        if (liveMtp()) {
            if (!phoneInfo) {
                try {
                    phoneInfo = getDeviceInfo();
                } catch (const VtrException &) {
                    phoneInfo = QVariantMap();
                }
            }
            const QString user = phoneInfo->value(QStringLiteral("user")).toString();
            const QString model = phoneInfo->value(QStringLiteral("model")).toString();
            if (!user.isEmpty())
                name = user;
            else if (!model.isEmpty())
                name = model;
        }
        const QString driveStr = driveStringForId(id);
        QVariantMap entry = drive;
        entry.insert(kEntryType, kTypeDir);
        entry.insert(kFriendlyName, name);
        const QVariantMap cached = m_listings.storeDrive(entry, driveStr);
        const bool matches = !wanted.isEmpty() && driveStr.compare(wanted, Qt::CaseInsensitive) == 0;
        if (wanted.isEmpty() || (matches && answer.isEmpty()))
            answer.append(VtrSymbianFileInfo::fileInfoWithPath(driveStr, cached, this));
        if (matches && !walkAll) break;
    }
    return answer;
}

PlatformDevice::NodePtr PlatformDevice::_driveWithPrefix(const QString &driveString)
{
    const QList<NodePtr> drives = _drivesInfo(driveString);
    return drives.isEmpty() ? nullptr : drives.last();
}

bool PlatformDevice::_driveExists(const QString &driveString)
{
    const QString letter = driveString.size() < 2 ? driveString : driveString.left(1);
    for (const QVariant &drive : _getDrivesViaXML())
        if (drive.toMap().value(kDriveId).toString().compare(letter, Qt::CaseInsensitive) == 0) return true;
    return false;
}

QVariantMap PlatformDevice::infoWithDrive(const QString &path)
{
    const StateLock lock(m_stateMutex);
    QString drive;
    vtr::decomposeWindowsPath(path, &drive, nullptr);
    if (drive.size() < 3) return {};
    for (const NodePtr &node : _drivesInfo(drive)) {
        const QVariantMap entry = node->xmlInfo().value_or(QVariantMap());
        if (entry.value(kDriveId).toString().compare(drive.left(1), Qt::CaseInsensitive) == 0) return entry;
    }
    return {};
}

VtrFileInfoList PlatformDevice::drivesInfo()
{
    const StateLock lock(m_stateMutex);
    VtrFileInfoList nodes;
    for (const NodePtr &node : _drivesInfo(QString()))
        nodes.append(node);
    for (const QString &path : m_pathsToDeviceMountPoints)
        nodes.append(VtrMacFileInfo::fileInfoWithPath(path));
    return nodes;
}

VtrFileInfoPtr PlatformDevice::internalMemoryFileInfo()
{
    const StateLock lock(m_stateMutex);
    const QVariantMap mounted = internalMemoryMountedInfo();
    if (!mounted.isEmpty()) return VtrMacFileInfo::fileInfoWithPath(mounted.value(QStringLiteral("path")).toString());
    return _driveWithPrefix(kInternalDrive);
}

VtrFileInfoPtr PlatformDevice::cardInfo()
{
    const StateLock lock(m_stateMutex);
    const QVariantMap mounted = firstMountedCardInfo();
    if (!mounted.isEmpty()) return VtrMacFileInfo::fileInfoWithPath(mounted.value(QStringLiteral("path")).toString());
    const QString configured = configuredCardDrive();
    if (!configured.isEmpty()) {
        const VtrFileInfoPtr node = deviceFileInfoWithPathCreateIfNeeded(configured, false);
        if (node && node->exists()) return node;
    }
    // Every path without a drive comes here: a card already listed spares the
    // phone another drive listing.
    for (const auto &[driveString, drive] : m_listings.drives()) {
        if (!drive.value(kDriveId).toString().isEmpty() && _driveIsCard(drive, QString()))
            return VtrSymbianFileInfo::fileInfoWithPath(driveString, drive, this);
    }
    for (const QVariant &value : _getDrivesViaXML()) {
        const QVariantMap drive = value.toMap();
        const QString id = drive.value(kDriveId).toString();
        if (!id.isEmpty() && _driveIsCard(drive, QString())) return fileInfoWithPath(driveStringForId(id));
    }
    return nullptr;
}

QString PlatformDevice::cardPrefix()
{
    const StateLock lock(m_stateMutex);
    const VtrFileInfoPtr card = cardInfo();
    return card ? card->path() : QStringLiteral("");
}

QString PlatformDevice::cardPrefixOnDevice()
{
    const StateLock lock(m_stateMutex);
    const QVariantMap mounted = firstMountedCardInfo();
    if (!mounted.isEmpty()) return mounted.value(QStringLiteral("drive string")).toString();
    return cardPrefix();
}

VtrFileInfoPtr PlatformDevice::defaultUserRoot()
{
    const StateLock lock(m_stateMutex);
    const VtrFileInfoPtr card = cardInfo();
    if (card && card->exists()) return card;
    return internalMemoryFileInfo();
}

VtrFileInfoPtr PlatformDevice::defaultDeviceMediaFolder()
{
    const StateLock lock(m_stateMutex);
    VtrFileInfoPtr base = cardInfo();
    QString key = QStringLiteral("mediaFolderPathOnCard");
    if (!base || !base->exists()) {
        base = internalMemoryFileInfo();
        key = QStringLiteral("mediaFolderPathInternal");
    }
    if (!base) return nullptr;
    const QStringList components = windowsComponents(m_deviceInfo.value(key).toString());
    if (components.isEmpty()) return base;
    return base->createFolderWithPathComponents(components);
}

// ---- mounted volumes -----------------------------------------------------------------------------------

void PlatformDevice::setPathsToDeviceMountPoints(const QStringList &paths)
{
    const StateLock lock(m_stateMutex);
    if (paths.size() < 2) {
        m_pathsToDeviceMountPoints = paths;
        return;
    }
    QStringList writable;
    for (const QString &path : paths)
        if (VolumeDetection::volumeWriteableAtPath(path)) writable.append(path);
    const bool anyMarker = std::any_of(writable.cbegin(), writable.cend(), holdsCardMarker);
    if (!anyMarker && writable.size() >= 2)
        throw VtrException(QStringLiteral("ExtraCardFileNotFound"),
                           vtrLocalized("Before using your Android device via a USB connection you must first "
                                        "disconnect it and open The Tessaline app on the device."));
    m_pathsToDeviceMountPoints = writable;
}

QStringList PlatformDevice::pathsToDeviceMountPoints()
{
    const StateLock lock(m_stateMutex);
    return m_pathsToDeviceMountPoints;
}

QHash<QString, QVariantMap> PlatformDevice::deviceMountPointsInfo()
{
    const StateLock lock(m_stateMutex);
    QHash<QString, QVariantMap> table;
    char16_t letter = u'E';
    bool internalGiven = false;
    for (const QString &path : m_pathsToDeviceMountPoints) {
        QString drive;
        if (m_pathsToDeviceMountPoints.size() > 1 && !internalGiven && !holdsCardMarker(path)) {
            drive = kInternalDrive;
            internalGiven = true;
        } else {
            if (letter > u'Z') break;
            drive = driveStringForId(QString(QChar(letter++)));
        }
        table.insert(drive, {{QStringLiteral("path"), path}, {QStringLiteral("drive string"), drive}});
    }
    return table;
}

QVariantMap PlatformDevice::deviceMountPointInfoForDriveString(const QString &drive)
{
    const StateLock lock(m_stateMutex);
    if (m_pathsToDeviceMountPoints.isEmpty() || drive.isEmpty()) return {};
    QString standard;
    vtr::decomposeWindowsPath(drive, &standard, nullptr);
    return deviceMountPointsInfo().value(standard.isEmpty() ? drive : standard);
}

QString PlatformDevice::deviceMountPointPathForDriveString(const QString &drive)
{
    const StateLock lock(m_stateMutex);
    return deviceMountPointInfoForDriveString(drive).value(QStringLiteral("path")).toString();
}

QVariantMap PlatformDevice::internalMemoryMountedInfo()
{
    const StateLock lock(m_stateMutex);
    return deviceMountPointInfoForDriveString(kInternalDrive);
}

QVariantMap PlatformDevice::firstMountedCardInfo()
{
    const StateLock lock(m_stateMutex);
    if (m_pathsToDeviceMountPoints.isEmpty()) return {};
    const QHash<QString, QVariantMap> table = deviceMountPointsInfo();
    for (char16_t letter = u'D'; letter <= u'Z'; ++letter) {
        const auto it = table.constFind(driveStringForId(QString(QChar(letter))));
        if (it != table.constEnd()) return *it;
    }
    return {};
}

VtrFileInfoPtr PlatformDevice::mountedNodeForPath(const QString &mountPath, const QString &rest, bool createIfNeeded)
{
    VtrFileInfoPtr node = VtrMacFileInfo::fileInfoWithPath(mountPath);
    if (createIfNeeded && rest.endsWith(kBackslash))
        return node->createFolder(vtr::pathFromWindowsPath(rest.left(rest.size() - 1)));
    const QStringList components = rest.split(kBackslash, Qt::SkipEmptyParts);
    for (qsizetype i = 0; i < components.size() && node; ++i) {
        const QString &component = components.at(i);
        if (!isSafeEntryName(component)) return nullptr;
        const bool last = i == components.size() - 1;
        node = createIfNeeded && !last ? node->createFolder(component) : node->find(component);
    }
    return node;
}

// ---- nodes ------------------------------------------------------------------------------------------------

VtrFileInfoPtr PlatformDevice::fileInfoWithPath(const QString &path)
{
    const StateLock lock(m_stateMutex);
    return deviceFileInfoWithPathUseCache(path, true);
}

VtrFileInfoPtr PlatformDevice::deviceFileInfoWithPath(const QString &path)
{
    const StateLock lock(m_stateMutex);
    return deviceFileInfoWithPathCreateIfNeeded(path, false);
}

VtrFileInfoPtr PlatformDevice::deviceFileInfoWithPathUseCache(const QString &path, bool useCache)
{
    const StateLock lock(m_stateMutex);
    QString drive;
    QString rest;
    const QString standard = standardizeDevicePath(path, &drive, &rest);

    const QString mountPath = deviceMountPointPathForDriveString(drive);
    if (!mountPath.isEmpty()) return mountedNodeForPath(mountPath, rest, false);

    if (rest.isEmpty()) {
        if (NodePtr node = _driveWithPrefix(drive)) return node;
        return VtrSymbianFileInfo::fileInfoWithPath(standard, this);
    }

    const QString name = vtr::windowsLastPathComponent(rest);
    const QString nodePath = nodePathOf(standard);
    const QString parent = folderKey(parentFolderOf(nodePath));
    std::optional<Listing> listing;
    try {
        listing = _contentsOfFolderWithPath(parent, useCache);
    } catch (const VtrException &e) {
        VTR_LOG(4, QStringLiteral("Listing %1 failed: %2").arg(parent, e.reason()));
    }
    if (listing) {
        // The exact name first; a name that differs only in case after that.
        for (const NodePtr &node : *listing)
            if (node->name() == name) return node;
        for (const NodePtr &node : *listing)
            if (node->name().compare(name, Qt::CaseInsensitive) == 0) return node;
    }
    return VtrSymbianFileInfo::fileInfoWithPath(nodePath, this);
}

VtrFileInfoPtr PlatformDevice::deviceFileInfoWithPathCreateIfNeeded(const QString &path, bool createIfNeeded)
{
    const StateLock lock(m_stateMutex);
    if (path.isEmpty()) return nullptr;
    QString drive;
    QString rest;
    vtr::decomposeWindowsPath(path, &drive, &rest);

    QString mountPath;
    if (!drive.isEmpty()) {
        mountPath = deviceMountPointPathForDriveString(drive);
    } else if (!m_pathsToDeviceMountPoints.isEmpty()) {
        if (const auto root = std::dynamic_pointer_cast<VtrMacFileInfo>(defaultUserRoot())) mountPath = root->path();
    }
    if (mountPath.isEmpty()) {
        const VtrFileInfoPtr node = fileInfoWithPath(path);
        if (!node || node->exists() || !createIfNeeded) return node;
        const VtrFileInfoPtr volume = node->volume();
        if (!volume || !volume->exists()) return node;
        return createFolderWithPath(path);
    }
    if (rest.startsWith(kBackslash)) rest = rest.mid(1);
    return mountedNodeForPath(mountPath, rest, createIfNeeded);
}

VtrFileInfoList PlatformDevice::fileInfosWithDevicePaths(const QStringList &paths, bool createIfNeeded)
{
    const StateLock lock(m_stateMutex);
    VtrFileInfoList nodes;
    std::optional<VtrFileInfoList> drives;
    for (const QString &given : paths) {
        const QString path = folderKey(given);
        QString drive;
        QString rest;
        vtr::decomposeWindowsPath(path, &drive, &rest);
        if (!drive.isEmpty()) {
            const VtrFileInfoPtr node = deviceFileInfoWithPathCreateIfNeeded(path, createIfNeeded);
            if (node && node->exists()) nodes.append(node);
            continue;
        }
        // Without a drive the path is looked for on every drive and never
        // made: no drive is more right than another to receive it.
        if (!drives) drives = drivesInfo();
        const QStringList components = rest.split(kBackslash, Qt::SkipEmptyParts);
        for (const VtrFileInfoPtr &root : *drives) {
            VtrFileInfoPtr node = root;
            for (const QString &component : components) {
                if (!node || !node->isFolder()) {
                    node = nullptr;
                    break;
                }
                node = node->find(component);
            }
            if (node && node != root && node->exists()) nodes.append(node);
        }
    }
    return nodes;
}

std::optional<PlatformDevice::Listing> PlatformDevice::_contentsOfFolderWithPath(const QString &path, bool useCache)
{
    throwIfNotConnected(QStringLiteral("contentsOfFolderWithPath"));
    syncPhoneIdentity();
    QString drive;
    const QString folder = folderKey(standardizeDevicePath(path, &drive, nullptr));
    if (useCache) {
        if (const Listing *cached = m_listings.listing(folder)) return *cached;
    }
    if (!_driveWithPrefix(drive)) return std::nullopt;

    const QVariant result = sendCmdWithDictionary(fsGetDir(folder));
    if (!result.isValid()) return Listing();

    // The folder's text is made once and shared by its items' nodes: a
    // folder deep in a tree is listed at the cost of its names.
    const QString prefix = vtr::windowsPathPrefixForChildren(folder);
    Listing listing;
    for (const QVariant &value : valueAsList(result.toMap().value(kResultEntry))) {
        const QVariantMap entry = value.toMap();
        const QString name = entry.value(kEntryFilename).toString();
        if (!isSafeEntryName(name)) {
            VTR_LOG(1, QStringLiteral("Left out a listing entry of %1 named \"%2\".").arg(folder, name));
            continue;
        }
        listing.append(VtrSymbianFileInfo::fileInfoInFolder(prefix, entry, this));
    }
    const auto byName = [](const NodePtr &a, const NodePtr &b) {
        return VtrBaseFileInfo::fileNameLessThan(a->name(), b->name());
    };
    // The phone lists in name order already.
    if (!std::is_sorted(listing.begin(), listing.end(), byName))
        std::stable_sort(listing.begin(), listing.end(), byName);
    m_listings.storeListing(listing, folder);
    return listing;
}

// ---- saved locations ------------------------------------------------------------------------------------------

VtrFileInfoPtr PlatformDevice::fileInfoWithSavedInfo(const QVariantMap &savedInfo, bool createIfNeeded)
{
    const StateLock lock(m_stateMutex);
    const QString kOriginalPath = QStringLiteral("originalPath");
    const QString kMemoryType = QStringLiteral("memoryType");
    const QString kVolumeStandardPath = QStringLiteral("volumeStandardPath");
    const QString kRelativePath = QStringLiteral("volumeRelativeStandardPath");
    const QString kVolumeUUID = QStringLiteral("volumeUUID");

    VtrFileInfoPtr root;
    if (savedInfo.contains(kRelativePath) && !savedInfo.contains(kMemoryType) &&
        !savedInfo.contains(kVolumeStandardPath)) {
        root = defaultUserRoot();
    } else {
        for (const QString &key : {kOriginalPath, kMemoryType, kVolumeStandardPath, kRelativePath})
            if (!savedInfo.contains(key)) return nullptr;
        const int memoryType = savedInfo.value(kMemoryType).toInt();
        if (memoryType == 0) return VtrMacFileInfo::fileInfoWithPath(savedInfo.value(kOriginalPath).toString());
        if (savedInfo.contains(kVolumeUUID)) {
            const QString uuid = savedInfo.value(kVolumeUUID).toString();
            for (const VtrFileInfoPtr &drive : drivesInfo()) {
                if (drive->uuid() == uuid) {
                    root = drive;
                    break;
                }
            }
        }
        if (!root) {
            if (memoryType == 2)
                root = cardInfo();
            else if (memoryType == 1)
                root = internalMemoryFileInfo();
        }
    }
    if (!root) return nullptr;

    const QStringList components = slashComponents(savedInfo.value(kRelativePath).toString());
    const bool isFile = savedInfo.value(QStringLiteral("isFile")).toBool();
    VtrFileInfoPtr node = root;
    for (qsizetype i = 0; i < components.size(); ++i) {
        const QString &component = components.at(i);
        if (!isSafeEntryName(component)) return nullptr;
        VtrFileInfoPtr next = node->find(component);
        if (!next || !next->exists()) {
            if (!createIfNeeded) return nullptr;
            const bool last = i == components.size() - 1;
            next = last && isFile ? node->createFile(component, QByteArray(), QVariantMap(), false)
                                  : node->createFolder(component);
            if (!next || !next->exists()) return nullptr;
        }
        node = next;
    }
    return node;
}

QString PlatformDevice::humanReadablePathWithSavedInfo(const QVariantMap &savedInfo)
{
    const QString memory =
        savedInfo.value(QStringLiteral("memoryType")).toInt() == 1 ? vtrLocalized("Device Memory") : QStringLiteral("");
    return QStringLiteral("%1: %2").arg(memory,
                                        savedInfo.value(QStringLiteral("volumeRelativeStandardPath")).toString());
}

QString PlatformDevice::uuidForPath(const QString &)
{
    const StateLock lock(m_stateMutex);
    if (!liveMtp()) return QString();
    syncPhoneIdentity();
    if (m_deviceUUID.isEmpty()) m_deviceUUID = getDeviceInfo().value(QStringLiteral("id")).toString();
    return m_deviceUUID;
}

// ---- folders per content type -----------------------------------------------------------------------------------

VtrFileInfoPtr PlatformDevice::folderForType(int type)
{
    const StateLock lock(m_stateMutex);
    const auto under = [](const VtrFileInfoPtr &base, const QStringList &components) -> VtrFileInfoPtr {
        return base ? base->createFolderWithPathComponents(components) : nullptr;
    };
    // A configured path below the media folder, else the default below `root`
    // or the media folder.
    const auto configured = [&](const QVariantMap &section, const char *key, const QString &fallback,
                                bool fallbackUnderMedia) -> VtrFileInfoPtr {
        const QString value = section.value(QLatin1String(key)).toString();
        if (!value.isEmpty()) return under(defaultDeviceMediaFolder(), windowsComponents(value));
        return under(fallbackUnderMedia ? defaultDeviceMediaFolder() : defaultUserRoot(), slashComponents(fallback));
    };

    switch (type) {
    case 0:
        return defaultUserRoot();
    case 10:
        return configured(photosInfo(), "exportPath", defaultPhotoExportPath(), false);
    case 11:
        return configured(photosInfo(), "importPath", defaultPhotoImportPath(), true);
    case 12:
        return configured(musicInfo(), "exportPath", defaultMusicExportPath(), false);
    case 13: {
        const QString value = musicInfo().value(QStringLiteral("importPath")).toString();
        if (!value.isEmpty()) return under(defaultDeviceMediaFolder(), windowsComponents(value));
        const VtrFileInfoPtr media = defaultDeviceMediaFolder();
        return media ? media->createFolder(QStringLiteral("music")) : nullptr;
    }
    case 14:
        return configured(musicInfo(), "playlistPath", defaultPlaylistExportPath(), false);
    case 15:
        return configured(videosInfo(), "exportPath", defaultVideoExportPath(), false);
    case 16:
        return configured(videosInfo(), "importPath", defaultVideoImportPath(), true);
    case 17:
    case 18: {
        const VtrFileInfoPtr root = defaultUserRoot();
        return root ? root->createFolder(QStringLiteral("Notes")) : nullptr;
    }
    case 21:
        return under(defaultUserRoot(), slashComponents(vtrLocalized("Vantrel/Installers")));
    case 22:
        return configured(ringtoneInfo(), "exportPath", defaultRingtoneExportPath(), false);
    case 23: {
        const QString value = m_deviceInfo.contains(QStringLiteral("podcastInfo"))
                                  ? podcastsInfo().value(QStringLiteral("exportPath")).toString()
                                  : musicInfo().value(QStringLiteral("podcastExportPath")).toString();
        if (value.isEmpty()) return nullptr;
        return under(defaultDeviceMediaFolder(), windowsComponents(value));
    }
    case 24:
        return configured(podcastsInfo(), "playlistPath", defaultPlaylistExportPath(), false);
    default:
        return nullptr;
    }
}

// ---- configuration -------------------------------------------------------------------------------------------------

QVariantMap PlatformDevice::deviceConfiguration()
{
    const StateLock lock(m_stateMutex);
    return m_deviceInfo;
}

QVariantMap PlatformDevice::deviceInfo()
{
    const StateLock lock(m_stateMutex);
    return m_deviceInfo;
}

QVariantMap PlatformDevice::musicInfo()
{
    const StateLock lock(m_stateMutex);
    return m_deviceInfo.value(QStringLiteral("musicInfo")).toMap();
}

QVariantMap PlatformDevice::podcastsInfo()
{
    const StateLock lock(m_stateMutex);
    return m_deviceInfo.value(QStringLiteral("podcastInfo")).toMap();
}

QVariantMap PlatformDevice::photosInfo()
{
    const StateLock lock(m_stateMutex);
    return m_deviceInfo.value(QStringLiteral("photosInfo")).toMap();
}

QVariantMap PlatformDevice::recordingsInfo()
{
    const StateLock lock(m_stateMutex);
    return m_deviceInfo.value(QStringLiteral("recordingsInfo")).toMap();
}

QVariantMap PlatformDevice::ringtoneInfo()
{
    const StateLock lock(m_stateMutex);
    return m_deviceInfo.value(QStringLiteral("ringtoneInfo")).toMap();
}

QVariantMap PlatformDevice::videosInfo()
{
    const StateLock lock(m_stateMutex);
    return m_deviceInfo.value(QStringLiteral("videoInfo")).toMap();
}

bool PlatformDevice::fileSystemIsASCIIOnly()
{
    const StateLock lock(m_stateMutex);
    return m_deviceInfo.value(QStringLiteral("fileSystemIsASCIIOnly"))
               .toString()
               .compare(QLatin1String("true"), Qt::CaseInsensitive) == 0;
}

std::unique_ptr<VtrMusicPlaylist> PlatformDevice::defaultMusicPlaylist()
{
    const StateLock lock(m_stateMutex);
    const VtrMusicPlaylistFactory factory = vtrMusicPlaylistFactory();
    if (!factory) {
        VTR_LOG(2, QStringLiteral("No playlist writers are registered."));
        return nullptr;
    }
    // Over MTP the phone keeps playlist objects of its own: the writer as it comes.
    if (liveMtp()) return factory(VtrMusicPlaylistFormat::MTP, this);

    const QVariantMap music = musicInfo();
    const QString format = music.value(QStringLiteral("playlistFormat")).toString();
    VtrMusicPlaylistFormat kind = VtrMusicPlaylistFormat::M3U;
    if (format.compare(QLatin1String("iriver"), Qt::CaseInsensitive) == 0)
        kind = VtrMusicPlaylistFormat::Iriver;
    else if (format.compare(QLatin1String("mtp"), Qt::CaseInsensitive) == 0)
        kind = VtrMusicPlaylistFormat::MTP;
    std::unique_ptr<VtrMusicPlaylist> writer = factory(kind, this);
    if (!writer) return nullptr;
    writer->setSupportsMultiplePlaylists(false);
    writer->setUsesRelativePaths(configurationBool(music.value(QStringLiteral("playlistCanUseRelativePaths")), true));
    if (music.contains(QStringLiteral("playlistFileExtension")))
        writer->setFileExtension(music.value(QStringLiteral("playlistFileExtension")).toString());
    return writer;
}

void PlatformDevice::setDeviceConfiguration(const QVariantMap &configuration)
{
    std::optional<QVariantMap> revisionToStore;
    {
        const StateLock lock(m_stateMutex);
        m_deviceInfo = configuration;
        m_phoneContentRevision = 0;
        m_storedContentRevision = 0;
        m_contentRevisionDevice = nullptr;

        if (std::shared_ptr<MTPDevice> mtpDevice = liveMtp()) {
            syncPhoneIdentity();
            uint32_t phoneRevision = 0;
            mtpDevice->getContentRevisionNumber(&phoneRevision);
            // The phone's own identifier keeps the revisions of two phones apart.
            QString key;
            try {
                key = getDeviceInfo().value(QStringLiteral("id")).toString();
            } catch (const VtrException &e) {
                VTR_LOG(1, QStringLiteral("No device information for the content revision: %1").arg(e.reason()));
            }
            if (key.isEmpty()) key = kFallbackRevisionKey;
            const QVariant stored = platform::UserDefaults::value(key);
            uint32_t storedRevision = 0;
            if (stored.typeId() == QMetaType::QVariantMap) {
                bool ok = false;
                const qulonglong value = stored.toMap().value(kContentRevision).toULongLong(&ok);
                if (ok && value <= 0xFFFFFFFFull) storedRevision = uint32_t(value);
            }
            m_phoneContentRevision = phoneRevision;
            m_storedContentRevision = storedRevision;
            m_contentRevisionDevice = mtpDevice.get();
            revisionToStore =
                QVariantMap{{QStringLiteral("object"), QVariantMap{{kContentRevision, qulonglong(phoneRevision)}}},
                            {QStringLiteral("key"), key}};
        }
    }
    if (revisionToStore) {
        const QVariantMap arguments = *revisionToStore;
        // A worker hands the write over without waiting: the main thread may
        // itself be waiting for the instance lock (a phone being torn down)
        // or for this very worker (the wizard closing while the phone opens).
        if (platform::isMainThread())
            setDefaultOnMainThread(arguments);
        else
            platform::runOnMain([arguments] { setDefaultOnMainThread(arguments); });
    }
    VTR_LOG_DATA(4, configuration, QStringLiteral("Setting device configuration info (click to view)."));
}

void PlatformDevice::setDefaultOnMainThread(const QVariantMap &arguments)
{
    const QVariant object = arguments.value(QStringLiteral("object"));
    const QString key = arguments.value(QStringLiteral("key")).toString();
    if (!object.isValid() || key.isEmpty()) return;
    platform::UserDefaults::setValue(key, object);
    platform::UserDefaults::synchronize();
}

bool PlatformDevice::isContentRevisionEqual()
{
    const StateLock lock(m_stateMutex);
    syncPhoneIdentity();
    std::shared_ptr<MTPDevice> mtpDevice = liveMtp();
    if (!mtpDevice || mtpDevice.get() != m_contentRevisionDevice) return false;
    // An unknown revision on either side never means "unchanged".
    if (m_phoneContentRevision == 0 || m_storedContentRevision == 0) return false;
    return m_phoneContentRevision == m_storedContentRevision;
}
