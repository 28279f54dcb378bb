#include "PhoneFakeDevice.h"

#include "devices/command/DeviceCommands.h"
#include "devices/command/VtrSymbianFileInfo.h"
#include "foundation/VtrDate.h"
#include "foundation/VtrString.h"
#include "migration/VtrMusicPlaylistKinds.h"
#include "platform/VtrException.h"

#include <algorithm>

namespace {

const QChar kBackslash = QLatin1Char('\\');

// Any non-null pointer says "a live MTP handle"; it is never dereferenced.
alignas(8) char gFakeHandle[8];

VtrException unplugged()
{
    return VtrException(DeviceCommands::kStopSyncException, QStringLiteral("The phone was disconnected."));
}

} // namespace

PhoneFakeDevice::PhoneFakeDevice() = default;
PhoneFakeDevice::~PhoneFakeDevice() = default;

// ---- paths --------------------------------------------------------------------------------

QString PhoneFakeDevice::standardize(const QString &path)
{
    QString drive;
    QString rest;
    vtr::decomposeWindowsPath(path, &drive, &rest);
    if (drive.isEmpty()) drive = QStringLiteral("E:\\");
    while (rest.startsWith(kBackslash))
        rest.remove(0, 1);
    while (rest.endsWith(kBackslash))
        rest.chop(1);
    return drive + rest;
}

QString PhoneFakeDevice::key(const QString &path)
{
    return standardize(path).toCaseFolded();
}

QString PhoneFakeDevice::parentOf(const QString &standardPath)
{
    QString drive;
    QString rest;
    vtr::decomposeWindowsPath(standardPath, &drive, &rest);
    if (rest.isEmpty()) return QString();
    return drive + vtr::windowsStringByDeletingLastPathComponent(rest);
}

bool PhoneFakeDevice::parentIsFolder(const QString &standardPath) const
{
    const QString parent = parentOf(standardPath);
    if (parent.isNull()) return false;
    const Item *p = item(parent);
    return p && p->folder;
}

qint64 &PhoneFakeDevice::freeOf(const QString &standardPath)
{
    return m_drives[standardPath.left(1).toUpper()].freeSpace;
}

// ---- contents ---------------------------------------------------------------------------------

void PhoneFakeDevice::addDrive(const QString &letter, qint64 freeSpace, const QString &friendlyName, bool card)
{
    Drive d;
    d.freeSpace = freeSpace;
    d.friendlyName = friendlyName;
    d.card = card;
    m_drives.insert(letter.toUpper(), d);
    Item root;
    root.path = letter.toUpper() + QStringLiteral(":\\");
    root.folder = true;
    m_items.insert(key(root.path), root);
}

void PhoneFakeDevice::setFreeSpace(const QString &letter, qint64 freeSpace)
{
    m_drives[letter.toUpper()].freeSpace = freeSpace;
}

PhoneFakeDevice::Item &PhoneFakeDevice::addFolder(const QString &path)
{
    const QString p = standardize(path);
    const QString parent = parentOf(p);
    if (!parent.isNull() && !has(parent)) addFolder(parent);
    Item &it = m_items[key(p)];
    it.path = p;
    it.folder = true;
    if (!it.modified.isValid()) it.modified = QDateTime(QDate(2011, 5, 6), QTime(7, 8, 9), Qt::UTC);
    return it;
}

PhoneFakeDevice::Item &PhoneFakeDevice::addFile(const QString &path, const QByteArray &data, const QDateTime &modified)
{
    const QString p = standardize(path);
    const QString parent = parentOf(p);
    if (!parent.isNull() && !has(parent)) addFolder(parent);
    Item &it = m_items[key(p)];
    it.path = p;
    it.folder = false;
    it.data = data;
    it.modified = modified.isValid() ? modified : QDateTime(QDate(2012, 3, 4), QTime(5, 6, 7), Qt::UTC);
    return it;
}

bool PhoneFakeDevice::has(const QString &path) const
{
    return m_items.contains(key(path));
}

const PhoneFakeDevice::Item *PhoneFakeDevice::item(const QString &path) const
{
    auto it = m_items.constFind(key(path));
    return it == m_items.constEnd() ? nullptr : &it.value();
}

PhoneFakeDevice::Item *PhoneFakeDevice::item(const QString &path)
{
    auto it = m_items.find(key(path));
    return it == m_items.end() ? nullptr : &it.value();
}

QStringList PhoneFakeDevice::childPaths(const QString &folderPath) const
{
    const QString folderKey = key(folderPath);
    QStringList out;
    for (const Item &it : m_items) {
        const QString parent = parentOf(it.path);
        if (!parent.isNull() && key(parent) == folderKey) out.append(it.path);
    }
    std::sort(out.begin(), out.end());
    return out;
}

QVariantMap PhoneFakeDevice::entryFor(const Item &it) const
{
    QVariantMap entry;
    QString rest;
    vtr::decomposeWindowsPath(it.path, nullptr, &rest);
    if (rest.isEmpty()) {
        const Drive d = m_drives.value(it.path.left(1).toUpper());
        entry.insert(QStringLiteral("id"), it.path.left(1));
        entry.insert(QStringLiteral("free"), QString::number(d.freeSpace));
        entry.insert(QStringLiteral("type"), QStringLiteral("dir"));
        if (!d.friendlyName.isNull()) entry.insert(QStringLiteral("Human Friendly Name"), d.friendlyName);
        return entry;
    }
    entry.insert(QStringLiteral("filename"), vtr::windowsLastPathComponent(it.path));
    entry.insert(QStringLiteral("type"), it.folder ? QStringLiteral("dir") : QStringLiteral("file"));
    if (!it.folder) {
        entry.insert(QStringLiteral("size"), QString::number(it.data.size()));
        entry.insert(QStringLiteral("mod"), vtr::st2String(it.modified));
    }
    entry.insert(QStringLiteral("hidden"), it.hidden ? QStringLiteral("TRUE") : QStringLiteral("FALSE"));
    for (auto e = it.extraEntry.constBegin(); e != it.extraEntry.constEnd(); ++e)
        entry.insert(e.key(), e.value());
    return entry;
}

VtrFileInfoPtr PhoneFakeDevice::nodeFor(const QString &path)
{
    const Item *it = item(path);
    if (!it) return VtrSymbianFileInfo::fileInfoWithPath(standardize(path), this);
    QString nodePath = it->path;
    return VtrSymbianFileInfo::fileInfoWithPath(nodePath, entryFor(*it), this);
}

// ---- nodes and drives -------------------------------------------------------------------------

VtrFileInfoPtr PhoneFakeDevice::deviceFileInfoWithPath(const QString &path)
{
    return nodeFor(path);
}

VtrFileInfoPtr PhoneFakeDevice::deviceFileInfoWithPathUseCache(const QString &path, bool)
{
    return nodeFor(path);
}

VtrFileInfoPtr PhoneFakeDevice::deviceFileInfoWithPathCreateIfNeeded(const QString &path, bool createIfNeeded)
{
    if (createIfNeeded && !has(path)) return createFolderWithPath(path);
    return nodeFor(path);
}

std::unique_ptr<VtrMusicPlaylist> PhoneFakeDevice::defaultMusicPlaylist()
{
    return nullptr;
}

VtrFileInfoPtr PhoneFakeDevice::fileInfoWithPath(const QString &path)
{
    return nodeFor(path);
}

QVariantMap PhoneFakeDevice::infoWithDrive(const QString &path)
{
    QString drive;
    vtr::decomposeWindowsPath(path, &drive, nullptr);
    if (drive.size() < 3) return {};
    const QString letter = drive.left(1).toUpper();
    if (!m_drives.contains(letter)) return {};
    const Drive d = m_drives.value(letter);
    QVariantMap info;
    info.insert(QStringLiteral("id"), letter);
    info.insert(QStringLiteral("free"), QString::number(d.freeSpace));
    if (d.card) info.insert(QStringLiteral("media"), DeviceCommands::kMediaHardDisk);
    return info;
}

VtrFileInfoList PhoneFakeDevice::drivesInfo()
{
    VtrFileInfoList out;
    for (auto it = m_drives.constBegin(); it != m_drives.constEnd(); ++it)
        out.append(nodeFor(it.key() + QStringLiteral(":\\")));
    return out;
}

VtrFileInfoPtr PhoneFakeDevice::cardInfo()
{
    return nodeFor(QStringLiteral("E:\\"));
}

VtrFileInfoPtr PhoneFakeDevice::internalMemoryFileInfo()
{
    return nodeFor(QStringLiteral("C:\\"));
}

// ---- files ------------------------------------------------------------------------------------

QByteArray PhoneFakeDevice::contentsOfFileWithPath(const QString &path, qint64 size, const VtrFileInfoPtr &,
                                                   FileInfoProgress *, void *)
{
    const Item *it = item(path);
    if (!it || it->folder) return QByteArray("");
    return it->data.left(size);
}

VtrFileInfoList PhoneFakeDevice::contentsOfFolderWithPath(const QString &path)
{
    ++listingCalls;
    if (throwOnListing)
        throw VtrException(DeviceCommands::kDeviceException, QStringLiteral("Device error: listing failed"));
    VtrFileInfoList out;
    const Item *folder = item(path);
    if (!folder || !folder->folder) return out;
    // The phone's own order: the reverse of the sorted one, so that sorting
    // by the caller shows.
    QStringList children = childPaths(path);
    std::reverse(children.begin(), children.end());
    for (const QString &child : children)
        out.append(nodeFor(child));
    return out;
}

VtrFileInfoPtr PhoneFakeDevice::createFileWithPath(const QString &path, const QByteArray &contents,
                                                   const VtrFileInfoPtr &, FileInfoProgress *, void *)
{
    return createFileWithPath(path, contents);
}

VtrFileInfoPtr PhoneFakeDevice::createFileWithPath(const QString &path, const QByteArray &contents)
{
    const QString p = standardize(path);
    calls.append(QStringLiteral("createFile %1").arg(p));
    if (refuseWrites || !parentIsFolder(p)) return nullptr;
    if (Item *existing = item(p); existing && existing->folder) return nullptr;
    addFile(p, contents, QDateTime::currentDateTimeUtc());
    return nodeFor(p);
}

VtrFileInfoPtr PhoneFakeDevice::createFolderWithPath(const QString &path)
{
    const QString p = standardize(path);
    calls.append(QStringLiteral("createFolder %1").arg(p));
    if (!parentIsFolder(p)) return VtrSymbianFileInfo::fileInfoWithPath(p, this);
    if (Item *existing = item(p); existing && !existing->folder) return nullptr;
    addFolder(p);
    return nodeFor(p);
}

int PhoneFakeDevice::moveFileAtPath(const QString &path, const QString &toPath)
{
    const QString from = standardize(path);
    const QString to = standardize(toPath);
    calls.append(QStringLiteral("move %1 -> %2").arg(from, to));
    Item *source = item(from);
    if (!source || !parentIsFolder(to)) return -1;
    if (Item *existing = item(to); existing && existing->folder) return -1;
    Item moved = *source;
    m_items.remove(key(from));
    moved.path = to;
    m_items.insert(key(to), moved);
    return 0;
}

void PhoneFakeDevice::removeTree(const QString &standardPath)
{
    for (const QString &child : childPaths(standardPath))
        removeTree(child);
    if (const Item *it = item(standardPath); it && !it->folder) freeOf(standardPath) += it->data.size();
    m_items.remove(key(standardPath));
}

bool PhoneFakeDevice::removeFileWithPath(const QString &path)
{
    const QString p = standardize(path);
    calls.append(QStringLiteral("removeFile %1").arg(p));
    const Item *it = item(p);
    if (refuseRemove || !it || it->folder) return false;
    removeTree(p);
    return true;
}

bool PhoneFakeDevice::removeFolderWithPath(const QString &path)
{
    const QString p = standardize(path);
    calls.append(QStringLiteral("removeFolder %1").arg(p));
    const Item *it = item(p);
    if (refuseRemove || !it || !it->folder || parentOf(p).isNull()) return false;
    removeTree(p);
    return true;
}

int PhoneFakeDevice::renameFileWithPath(const QString &path, const QString &name)
{
    const QString p = standardize(path);
    return moveFileAtPath(p, vtr::windowsStringByAppendingPathComponent(parentOf(p), name));
}

bool PhoneFakeDevice::setFileContents(const QByteArray &data, const QString &path)
{
    return createFileWithPath(path, data) != nullptr;
}

bool PhoneFakeDevice::setFileContents(const QByteArray &data, const VtrFileInfoPtr &fileInfo, FileInfoProgress *,
                                      void *)
{
    return fileInfo && setFileContents(data, fileInfo->path());
}

int PhoneFakeDevice::setModificationDate(const QDateTime &date, const QString &path)
{
    Item *it = item(path);
    if (!it) return -1;
    it->modified = date.toUTC();
    return 0;
}

int PhoneFakeDevice::openFileWithPath(const QString &path, bool overwrite)
{
    if (!m_openPath.isNull()) return -1;
    const QString p = standardize(path);
    if (overwrite) {
        if (!parentIsFolder(p)) return -1;
        addFile(p, QByteArray(), QDateTime::currentDateTimeUtc());
    } else if (!item(p) || item(p)->folder) {
        return -1;
    }
    m_openPath = p;
    m_openForWrite = overwrite;
    return 0;
}

int PhoneFakeDevice::closeFile()
{
    if (m_openPath.isNull()) return -1;
    m_openPath = QString();
    return 0;
}

QByteArray PhoneFakeDevice::contentsOfFileWithRange(const VtrFileRange &range)
{
    const Item *it = m_openPath.isNull() ? nullptr : item(m_openPath);
    if (!it) return QByteArray();
    return it->data.mid(range.location, range.length);
}

int PhoneFakeDevice::setFileContents(const QByteArray &data, const VtrFileRange &range)
{
    Item *it = m_openPath.isNull() || !m_openForWrite ? nullptr : item(m_openPath);
    if (!it) return -1;
    if (it->data.size() < range.location + data.size()) it->data.resize(range.location + data.size());
    it->data.replace(range.location, data.size(), data);
    return 0;
}

// ---- the two copies ------------------------------------------------------------------------------

FileInfoCopyStatus PhoneFakeDevice::copyDeviceFile(const VtrFileInfoPtr &deviceFile, const VtrFileInfoPtr &desktopFile,
                                                   FileInfoProgress *progress, void *userData)
{
    if (!mtpLive) return -1;
    if (!deviceFile || !desktopFile) return -50;
    calls.append(QStringLiteral("copyDeviceFile %1").arg(standardize(deviceFile->path())));
    lastCopyTemporaryPaths.append(desktopFile->path());
    const Item *source = item(deviceFile->path());
    if (!source || source->folder) return -207;
    const QByteArray data = source->data;
    const QDateTime modified = source->modified;

    VtrFileInfoHandlePtr writer = desktopFile->openFileForWriting();
    if (!writer) return -207;
    FileInfoCopyProgress *copyProgress = asCopyProgress(progress);
    qint64 offset = 0;
    FileInfoCopyStatus status = 0;
    while (offset < data.size() || (offset == 0 && data.isEmpty())) {
        if (unplugAfterBytes >= 0 && offset >= unplugAfterBytes) {
            desktopFile->closeFile(std::move(writer));
            if (throwOnUnplug) throw unplugged();
            return copyDeviceStatus != 0 ? copyDeviceStatus : -207;
        }
        if (data.isEmpty()) break;
        qint64 length = std::min<qint64>(chunkSize, data.size() - offset);
        if (unplugAfterBytes >= 0) length = std::min<qint64>(length, std::max<qint64>(1, unplugAfterBytes - offset));
        status =
            desktopFile->setFileContentsWithRange(data.mid(offset, length), VtrFileRange{offset, length}, writer.get());
        if (status != 0) break;
        offset += length;
        if (onDeviceCopyBlock) onDeviceCopyBlock(desktopFile);
        if (copyProgress &&
            copyProgress->copyingFile(deviceFile, desktopFile, float(offset * 100.0 / double(data.size())), userData)) {
            status = -207;
            break;
        }
    }
    desktopFile->closeFile(std::move(writer));
    if (status != 0) return -207;
    if (copyDeviceStatus != 0 && unplugAfterBytes < 0) return copyDeviceStatus;
    desktopFile->setModificationDate(modified);
    return 0;
}

FileInfoCopyStatus PhoneFakeDevice::copyDesktopFile(const VtrFileInfoPtr &desktopFile, const VtrFileInfoPtr &deviceFile,
                                                    FileInfoProgress *progress, void *userData)
{
    if (!mtpLive) return -1;
    if (!desktopFile || !deviceFile) return -50;
    const QString target = standardize(deviceFile->path());
    calls.append(QStringLiteral("copyDesktopFile %1").arg(target));
    const QByteArray data = desktopFile->fileContents();
    if (data.isNull()) return -207;
    if (!parentIsFolder(target)) return -207;
    if (const Item *existing = item(target); existing && existing->folder) return -207;

    FileInfoCopyProgress *copyProgress = asCopyProgress(progress);
    for (qint64 offset = 0; offset < data.size(); offset += chunkSize) {
        const qint64 sent = std::min<qint64>(data.size(), offset + chunkSize);
        if (unplugAfterBytes >= 0 && sent > unplugAfterBytes) {
            // Nothing arrived whole: the phone keeps what it had.
            if (throwOnUnplug) throw unplugged();
            return copyDesktopStatus != 0 ? copyDesktopStatus : -207;
        }
        if (copyProgress &&
            copyProgress->copyingFile(desktopFile, deviceFile, float(sent * 100.0 / data.size()), userData))
            return -210;
    }
    if (copyDesktopStatus != 0) return copyDesktopStatus;
    qint64 &free = freeOf(target);
    const Item *old = item(target);
    free += old ? old->data.size() : 0;
    free -= data.size();
    addFile(target, data, desktopFile->modificationDate());
    return 0;
}

// ---- media ---------------------------------------------------------------------------------------

QVariantMap PhoneFakeDevice::deviceMetadataForFile(const QString &path)
{
    ++metadataCalls;
    const Item *it = item(path);
    return it ? it->metadata : QVariantMap();
}

bool PhoneFakeDevice::isProtectedFile(const QString &path)
{
    ++protectedFileCalls;
    const Item *it = item(path);
    return it && it->protectedContent;
}

LIBMTP_mtpdevice_struct *PhoneFakeDevice::mtpDevice()
{
    return mtpLive ? reinterpret_cast<LIBMTP_mtpdevice_struct *>(gFakeHandle) : nullptr;
}
