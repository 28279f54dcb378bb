#include "devices/command/VtrSymbianFileInfo.h"

#include "devices/LocalFileNames.h"
#include "devices/command/HandheldDeviceProtocol.h"
#include "devices/mtp/MTPDevice.h"
#include "fileinfo/FileInfoCopy.h"
#include "fileinfo/VtrMacFileInfo.h"
#include "foundation/Log.h"
#include "foundation/Saturating.h"
#include "foundation/VtrCalendarDate.h"
#include "foundation/VtrDate.h"
#include "foundation/VtrString.h"
#include "platform/Folders.h"
#include "platform/VtrException.h"

#include <QDir>
#include <QPainter>
#include <QSet>
#include <QTemporaryDir>

#include <algorithm>
#include <exception>
#include <limits>
#include <utility>

namespace {

// Bytes a shortened local name leaves for the number that makes it unique
// ("-12345").
constexpr qsizetype kUniqueNameRoom = 8;

const QString kKeyFilename = QStringLiteral("filename");
const QString kKeyType = QStringLiteral("type");
const QString kKeySize = QStringLiteral("size");
const QString kKeyMod = QStringLiteral("mod");
const QString kKeyHidden = QStringLiteral("hidden");
const QString kKeyFriendlyName = QStringLiteral("Human Friendly Name");
const QString kKeyHasDRM = QStringLiteral("hasDRM");
const QString kKeyFree = QStringLiteral("free");
const QString kTypeFile = QStringLiteral("file");
const QString kTypeDir = QStringLiteral("dir");
const QString kInternalDrive = QStringLiteral("C:\\");
const QChar kBackslash = QLatin1Char('\\');

[[maybe_unused]] const bool kArchiveRegistered = [] {
    VtrBaseFileInfo::registerArchiveClass(QStringLiteral("VtrSymbianFileInfo"),
                                          [] { return VtrFileInfoPtr(std::make_shared<VtrSymbianFileInfo>()); });
    return true;
}();

// Clean-up must not hide the status of what it cleans up after.
template <typename Fn> void quietly(Fn &&fn)
{
    try {
        fn();
    } catch (const std::exception &e) {
        VTR_LOG(1, QStringLiteral("Ignored while cleaning up on the phone: %1").arg(QString::fromLocal8Bit(e.what())));
    }
}

// One plain name: nothing that would make a path reach into another folder.
bool isPlainName(const QString &name)
{
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..")) return false;
    return !name.contains(kBackslash) && !name.contains(QLatin1Char('/')) && !name.contains(QChar(0));
}

// A listing entry's name is phone data: it never names the folder itself, its
// parent or a deeper item.
QString safeEntryName(const QString &filename)
{
    QString name = filename;
    while (name.endsWith(kBackslash))
        name.chop(1); // a folder's trailing separator
    if (isPlainName(name)) return name;
    name = vtr::windowsValidFilename(name);
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..")) name = QStringLiteral("_");
    return name;
}

QImage makeMemoryCardImage()
{
    QImage image(32, 32, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QColor(60, 60, 70));
    painter.setBrush(QColor(45, 95, 160));
    QPolygon card;
    card << QPoint(8, 3) << QPoint(21, 3) << QPoint(26, 8) << QPoint(26, 29) << QPoint(8, 29);
    painter.drawPolygon(card);
    painter.setBrush(QColor(230, 190, 80));
    for (int x = 11; x <= 21; x += 4)
        painter.drawRect(x, 5, 2, 5);
    return image;
}

// Marks the device's one open file as belonging to a handle; a handle dropped
// without closeFile() still closes the device file.
class PhoneFileHandle : public VtrFileInfoHandle
{
public:
    explicit PhoneFileHandle(HandheldDeviceProtocol *device) : m_device(device) {}
    ~PhoneFileHandle() override
    {
        if (!m_device) return;
        try {
            m_device->closeFile();
        } catch (...) {
            // Nothing can be reported from here; the device logs its failures.
        }
    }
    HandheldDeviceProtocol *release() { return std::exchange(m_device, nullptr); }

private:
    HandheldDeviceProtocol *m_device;
};

} // namespace

// ---- creation -------------------------------------------------------------------------

VtrSymbianFileInfo::VtrSymbianFileInfo() = default;

VtrSymbianFileInfo::VtrSymbianFileInfo(const QString &path, HandheldDeviceProtocol *device)
    : VtrWindowsPathBasedFileInfo(path), _device(device)
{
    takeDeviceCopyFlag();
}

VtrSymbianFileInfo::VtrSymbianFileInfo(const QString &path, const QVariantMap &xmlInfo, HandheldDeviceProtocol *device)
    : VtrSymbianFileInfo(path, device)
{
    if (!xmlInfo.isEmpty()) _info = xmlInfo;
}

VtrSymbianFileInfo::~VtrSymbianFileInfo() = default;

VtrSymbianFileInfo::Ptr VtrSymbianFileInfo::fileInfoWithPath(const QString &path, HandheldDeviceProtocol *device)
{
    return std::make_shared<VtrSymbianFileInfo>(path, device);
}

VtrSymbianFileInfo::Ptr VtrSymbianFileInfo::fileInfoWithPath(const QString &path, const QVariantMap &xmlInfo,
                                                             HandheldDeviceProtocol *device)
{
    return std::make_shared<VtrSymbianFileInfo>(path, xmlInfo, device);
}

VtrSymbianFileInfo::Ptr VtrSymbianFileInfo::fileInfoWithParentPath(const QString &parentPath,
                                                                   const QVariantMap &xmlInfo,
                                                                   HandheldDeviceProtocol *device)
{
    return fileInfoInFolder(vtr::windowsPathPrefixForChildren(parentPath), xmlInfo, device);
}

VtrSymbianFileInfo::Ptr VtrSymbianFileInfo::fileInfoInFolder(const QString &folderPrefix, const QVariantMap &xmlInfo,
                                                             HandheldDeviceProtocol *device)
{
    Ptr node = std::make_shared<VtrSymbianFileInfo>(QString(), xmlInfo, device);
    node->setPathInFolder(folderPrefix, safeEntryName(xmlInfo.value(kKeyFilename).toString()));
    return node;
}

void VtrSymbianFileInfo::takeDeviceCopyFlag()
{
    // Over MTP the phone cannot read or write by ranges: whole files go
    // through the device's own copies.
    _deviceControlsCopy = _device && _device->mtpDevice() != nullptr;
}

void VtrSymbianFileInfo::refreshWithDevice(HandheldDeviceProtocol *device)
{
    _device = device;
    takeDeviceCopyFlag();
    refresh();
}

void VtrSymbianFileInfo::updateWithNewPath(const QString &path)
{
    if (path != storedPath()) setPath(path);
}

void VtrSymbianFileInfo::updateWithXMLInfo(const QVariantMap &entry)
{
    if (!_info) {
        _info = entry;
        return;
    }
    for (auto it = entry.constBegin(); it != entry.constEnd(); ++it)
        _info->insert(it.key(), it.value());
}

bool VtrSymbianFileInfo::isInternalMemory()
{
    return drive().compare(kInternalDrive, Qt::CaseInsensitive) == 0;
}

// ---- archiving and description ----------------------------------------------------------

QString VtrSymbianFileInfo::archiveClassName() const
{
    return QStringLiteral("VtrSymbianFileInfo");
}

void VtrSymbianFileInfo::encodeWithCoder(QVariantMap &coder)
{
    VtrWindowsPathBasedFileInfo::encodeWithCoder(coder);
    if (_info) coder.insert(QStringLiteral("_info"), *_info);
}

void VtrSymbianFileInfo::initWithCoder(const QVariantMap &coder)
{
    VtrWindowsPathBasedFileInfo::initWithCoder(coder);
    const auto info = coder.constFind(QStringLiteral("_info"));
    if (info != coder.constEnd()) updateWithXMLInfo(info->toMap());
}

QString VtrSymbianFileInfo::description()
{
    QString text = VtrWindowsPathBasedFileInfo::description();
    if (!_device) return text;
    if (const std::shared_ptr<MTPDevice> mtp = _device->mtp())
        text += QStringLiteral(" (oid=%1)").arg(mtp->oidForPath(path()));
    return text;
}

// ---- kind and attributes ---------------------------------------------------------------

bool VtrSymbianFileInfo::exists()
{
    return _info.has_value();
}

bool VtrSymbianFileInfo::isFile()
{
    return _info && _info->value(kKeyType).toString() == kTypeFile;
}

bool VtrSymbianFileInfo::isFolder()
{
    return _info && _info->value(kKeyType).toString() == kTypeDir;
}

qint64 VtrSymbianFileInfo::size()
{
    if (!exists()) return 0;
    if (isFile()) {
        bool ok = false;
        const qint64 value = _info->value(kKeySize).toString().trimmed().toLongLong(&ok);
        return ok && value > 0 ? value : 0;
    }
    return VtrWindowsPathBasedFileInfo::size();
}

QDateTime VtrSymbianFileInfo::modificationDate()
{
    if (!_info) return QDateTime();
    const auto mod = _info->constFind(kKeyMod);
    if (mod == _info->constEnd()) return QDateTime();
    const std::optional<VtrCalendarDate> date = VtrCalendarDate::dateTimeWithST2String(mod->toString());
    return date ? date->instant().toUTC() : QDateTime();
}

void VtrSymbianFileInfo::setModificationDate(const QDateTime &date)
{
    VtrWindowsPathBasedFileInfo::setModificationDate(date);
    if (!date.isValid() || !_device) return;
    if (_device->setModificationDate(date, path()) != 0) return;
    if (_info)
        _info->insert(kKeyMod, vtr::st2String(date));
    else
        refresh();
}

void VtrSymbianFileInfo::setCreationDate(const QDateTime &date)
{
    VtrWindowsPathBasedFileInfo::setCreationDate(date);
    if (!date.isValid() || !_device) return;
    if (_device->setCreationDate(date, path()) == 0 && !_info) refresh();
}

bool VtrSymbianFileInfo::supportsTimezones()
{
    return false;
}

bool VtrSymbianFileInfo::supportsCreationDate()
{
    return _device ? _device->supportsCreationDate() : VtrWindowsPathBasedFileInfo::supportsCreationDate();
}

bool VtrSymbianFileInfo::supportsModificationDate()
{
    return _device ? _device->supportsModificationDate() : VtrWindowsPathBasedFileInfo::supportsModificationDate();
}

bool VtrSymbianFileInfo::visible()
{
    return !(_info && _info->value(kKeyHidden).toString() == QLatin1String("TRUE"));
}

QString VtrSymbianFileInfo::humanFriendlyName()
{
    if (_info) {
        const QString friendly = _info->value(kKeyFriendlyName).toString();
        if (!friendly.isEmpty()) return friendly;
    }
    return VtrWindowsPathBasedFileInfo::humanFriendlyName();
}

QString VtrSymbianFileInfo::humanFriendlyPath()
{
    QString volumeName;
    if (_device) {
        try {
            const VtrFileInfoPtr vol = volume();
            if (auto *phoneVolume = dynamic_cast<VtrSymbianFileInfo *>(vol.get())) {
                if (phoneVolume->_info) volumeName = phoneVolume->_info->value(kKeyFriendlyName).toString();
            } else if (vol) {
                volumeName = vol->humanFriendlyName();
            }
        } catch (const std::exception &) {
            // A phone that cannot be asked now: the plain path serves.
        }
    }
    if (volumeName.isEmpty()) return VtrWindowsPathBasedFileInfo::humanFriendlyPath();
    if (isVolume()) return volumeName;
    QString relative = rest();
    while (relative.startsWith(kBackslash))
        relative.remove(0, 1);
    return QStringLiteral("%1: %2").arg(volumeName, relative);
}

QImage VtrSymbianFileInfo::icon()
{
    if (isVolume() && !isInternalMemory()) {
        static const QImage memoryCard = makeMemoryCardImage();
        return memoryCard;
    }
    // The internal memory, folders and files look like any other item.
    return VtrWindowsPathBasedFileInfo::icon();
}

VtrFileInfoPtr VtrSymbianFileInfo::volume()
{
    if (!_device) return fileInfoWithPath(drive(), nullptr);
    return _device->fileInfoWithPath(drive());
}

VtrFileInfoPtr VtrSymbianFileInfo::parentFolder()
{
    // A drive root has no parent: answering the root itself would send every
    // walk up the tree round in a circle.
    const QString r = rest();
    if (r.isEmpty()) return nullptr;
    QString parentRest = vtr::windowsStringByDeletingLastPathComponent(r);
    if (!parentRest.isEmpty() && !parentRest.endsWith(kBackslash)) parentRest += kBackslash;
    const QString parentPath = drive() + parentRest;
    if (!_device) return fileInfoWithPath(parentPath, nullptr);
    return _device->fileInfoWithPath(parentPath);
}

// ---- children and listing ---------------------------------------------------------------

VtrFileInfoPtr VtrSymbianFileInfo::find(const QString &name)
{
    // The folder searched: this folder, or the folder holding this file. A
    // missing child is answered with its path in that same folder.
    VtrFileInfoPtr folder = isFile() ? parentFolder() : self();
    if (!folder) folder = self();
    if (_device && folder->exists() && folder->isFolder()) {
        VtrFileInfoPtr caseMatch;
        for (const VtrFileInfoPtr &child : _device->contentsOfFolderWithPath(folder->path())) {
            if (!child) continue;
            const QString childName = child->name();
            if (childName == name) return child;
            if (!caseMatch && childName.compare(name, Qt::CaseInsensitive) == 0) caseMatch = child;
        }
        if (caseMatch) return caseMatch;
    }
    return fileInfoWithPath(vtr::windowsStringByAppendingPathComponent(folder->path(), name), _device);
}

void VtrSymbianFileInfo::folderContentsWithFilterWithArray(VtrBaseFileInfoFilter *filter, VtrFileInfoList &array,
                                                           bool *stop, const QString &)
{
    if (!_device || !exists() || !isFolder()) return;
    // A folder the phone fails to list is no empty folder: its failure is the
    // caller's, as with a folder of this computer.
    VtrFileInfoList children = _device->contentsOfFolderWithPath(path());
    try {
        children.removeAll(nullptr);
        const auto byName = [](const VtrFileInfoPtr &a, const VtrFileInfoPtr &b) {
            return fileNameLessThan(a->name(), b->name());
        };
        if (!std::is_sorted(children.begin(), children.end(), byName))
            std::stable_sort(children.begin(), children.end(), byName);
        for (const VtrFileInfoPtr &child : children) {
            // Never listed, never removed here: the phone's own file of that
            // name is the person's. A copy onto the phone clears its leftover.
            if (vtr::isTemporaryCopyFileName(child->name())) continue;
            bool childStop = false;
            if (!filter || filter->includeItem(child, &childStop)) array.append(child);
            if (childStop) {
                if (stop) *stop = true;
                return;
            }
        }
    } catch (const std::exception &e) {
        VTR_LOG(1, QStringLiteral("Listing of \"%1\" ended early: %2").arg(path(), QString::fromLocal8Bit(e.what())));
    }
}

QString VtrSymbianFileInfo::uniqueFilename(const QString &name)
{
    VtrFileInfoPtr folder = isFile() ? parentFolder() : self();
    if (!folder) return name;
    // The names as the phone lists them: a plain look, which (unlike a
    // folder listing) never removes a leftover temporary file, so a copy can
    // choose its name before it touches the phone.
    QSet<QString> taken;
    VtrFileInfoList children;
    if (auto *phoneFolder = dynamic_cast<VtrSymbianFileInfo *>(folder.get())) {
        if (_device && phoneFolder->exists() && phoneFolder->isFolder()) {
            try {
                children = _device->contentsOfFolderWithPath(phoneFolder->path());
            } catch (const std::exception &e) {
                VTR_LOG(1, QStringLiteral("Listing of \"%1\" failed: %2")
                               .arg(phoneFolder->path(), QString::fromLocal8Bit(e.what())));
            }
        }
    } else {
        children = folder->folderContents();
    }
    for (const VtrFileInfoPtr &child : children)
        if (child) taken.insert(child->name().toCaseFolded());
    if (!taken.contains(name.toCaseFolded())) return name;

    const QString base = vtr::windowsStringByDeletingPathExtension(name);
    const QString ext = vtr::windowsPathExtension(name);
    for (int n = 1; n < kMaxUniqueNameAttempts; ++n) {
        const QString candidate = vtr::numberedName(base, ext, n);
        if (!taken.contains(candidate.toCaseFolded())) return candidate;
    }
    VTR_LOG(2, QStringLiteral("No free name for \"%1\" in \"%2\".").arg(name, folder->path()));
    return QString();
}

// ---- creating and removing ----------------------------------------------------------------

VtrFileInfoPtr VtrSymbianFileInfo::createFile(const QString &name, const QByteArray &contents, const QVariantMap &,
                                              bool ensureUniqueName, FileInfoProgress *progress, void *userData)
{
    if (!_device || !isPlainName(name)) return nullptr;
    VtrFileInfoPtr folder = isFile() ? parentFolder() : self();
    if (!folder) return nullptr;

    QString fileName = name;
    const VtrFileInfoPtr existing = folder->find(name);
    if (existing && existing->exists()) {
        if (!ensureUniqueName) {
            if (!existing->isFile()) return nullptr;
            // Old contents are never reported as the new ones.
            if (!existing->setFileContentsWithProgress(contents.isNull() ? QByteArray("") : contents, progress,
                                                       userData))
                return nullptr;
            return existing;
        }
        fileName = folder->uniqueFilename(name);
        if (fileName.isNull()) return nullptr;
    }
    const QString filePath = vtr::windowsStringByAppendingPathComponent(folder->path(), fileName);
    return _device->createFileWithPath(filePath, contents.isNull() ? QByteArray("") : contents, self(), progress,
                                       userData);
}

VtrFileInfoPtr VtrSymbianFileInfo::createFolder(const QString &path)
{
    if (!_device) return nullptr;
    QString driveOfPath;
    QString restOfPath;
    vtr::decomposeWindowsPath(path, &driveOfPath, &restOfPath);

    VtrFileInfoPtr node;
    if (!driveOfPath.isEmpty())
        node = _device->fileInfoWithPath(driveOfPath);
    else
        node = isFile() ? parentFolder() : self();
    const QStringList components = vtr::posixPathComponents(vtr::pathFromWindowsPath(restOfPath));

    for (const QString &component : components) {
        if (!node) return nullptr;
        if (component == QLatin1String("/")) continue; // a leading separator
        if (!isPlainName(component)) return nullptr;
        VtrFileInfoPtr child = node->find(component);
        if (!child || !child->exists()) {
            child = _device->createFolderWithPath(vtr::windowsStringByAppendingPathComponent(node->path(), component));
            if (!child || !child->exists()) return nullptr;
        } else if (!child->isFolder()) {
            return nullptr;
        }
        node = child;
    }
    return node;
}

VtrFileInfoPtr VtrSymbianFileInfo::tempFolder()
{
    const VtrFileInfoPtr vol = volume();
    if (!vol) return nullptr;
    const VtrFileInfoPtr tmp = vol->find(QStringLiteral("tmp"));
    if (tmp && tmp->exists() && tmp->isFolder()) return tmp;
    return vol->createFolder(QStringLiteral("tmp"));
}

qint64 VtrSymbianFileInfo::freeSpaceOnVolume()
{
    if (!_device) return 0;
    const QString d = drive();
    const QVariantMap info = _device->infoWithDrive(d.isEmpty() ? path() : d);
    bool ok = false;
    const qint64 free = info.value(kKeyFree).toString().trimmed().toLongLong(&ok);
    return ok && free > 0 ? free : 0;
}

qint64 VtrSymbianFileInfo::_freeSpaceToKeepOnVolume()
{
    return kFreeSpaceToKeepOnVolume;
}

qint64 VtrSymbianFileInfo::preferredChunkSize()
{
    return kPreferredChunkSize;
}

int VtrSymbianFileInfo::maxPathLength()
{
    return kMaxPathLength;
}

bool VtrSymbianFileInfo::remove()
{
    if (!_device || !exists()) return false;
    const QString itemPath = path();
    try {
        const bool removed = isFile() ? _device->removeFileWithPath(itemPath) : _device->removeFolderWithPath(itemPath);
        if (removed) {
            _info.reset();
            _metadata.reset();
            _hasDRM.reset();
        }
        return removed;
    } catch (const std::exception &e) {
        VTR_LOG(2, QStringLiteral("Could not remove \"%1\" from the phone: %2")
                       .arg(itemPath, QString::fromLocal8Bit(e.what())));
        return false;
    }
}

FileInfoCopyStatus VtrSymbianFileInfo::moveTo(const VtrFileInfoPtr &destination)
{
    if (!_device || !destination) return kFileInfoCopyKindCannot;
    if (!dynamic_cast<VtrSymbianFileInfo *>(destination.get())) return kFileInfoCopyKindCannot;
    const QString target = destination->path();
    const int status = _device->moveFileAtPath(path(), target);
    if (status != 0) return status;
    setPath(target);
    return kFileInfoCopyOK;
}

void VtrSymbianFileInfo::setName(const QString &name)
{
    if (_device) _device->renameFileWithPath(path(), name);
}

// ---- contents --------------------------------------------------------------------------------

QByteArray VtrSymbianFileInfo::fileContentsWithProgress(FileInfoProgress *progress, void *userData)
{
    if (!_device || !exists() || !isFile()) return QByteArray();
    if (!_deviceControlsCopy) return _device->contentsOfFileWithPath(path(), size(), self(), progress, userData);

    // Over MTP the phone only copies whole files. The copy lands in a folder
    // of its own inside the private temporary folder; the folder and what is
    // in it go when `scratch` goes, on every way out of this function.
    std::unique_ptr<QTemporaryDir> scratch;
    try {
        const QString tempRoot = platform::temporaryFolder();
        scratch = std::make_unique<QTemporaryDir>(QDir(tempRoot).filePath(QStringLiteral("phone-read-XXXXXX")));
    } catch (const std::exception &e) {
        VTR_LOG(2,
                QStringLiteral("No temporary folder to read \"%1\": %2").arg(path(), QString::fromLocal8Bit(e.what())));
        return QByteArray();
    }
    if (!scratch->isValid()) {
        VTR_LOG(2, QStringLiteral("No temporary folder to read \"%1\": %2").arg(path(), scratch->errorString()));
        return QByteArray();
    }
    const VtrFileInfoPtr destination = VtrMacFileInfo::fileInfoWithPath(scratch->filePath(QStringLiteral("contents")));
    VtrFileInfoPtr copied;
    const FileInfoCopyStatus status = copyTo(destination, true, progress, userData, &copied);
    if (status != kFileInfoCopyOK || !copied) return QByteArray();
    QByteArray data = copied->fileContents();
    if (data.isNull() && copied->exists() && copied->size() == 0) data = QByteArray("");
    return data;
}

bool VtrSymbianFileInfo::setFileContentsWithProgress(const QByteArray &data, FileInfoProgress *progress, void *userData)
{
    if (!_device || !isFile()) return false;
    return _device->setFileContents(data, self(), progress, userData);
}

VtrFileInfoHandlePtr VtrSymbianFileInfo::openFileForReading()
{
    if (!_device || _device->openFileWithPath(path(), false) != 0) return nullptr;
    return std::make_unique<PhoneFileHandle>(_device);
}

VtrFileInfoHandlePtr VtrSymbianFileInfo::openFileForWriting()
{
    if (!_device || _device->openFileWithPath(path(), true) != 0) return nullptr;
    return std::make_unique<PhoneFileHandle>(_device);
}

void VtrSymbianFileInfo::closeFile(VtrFileInfoHandlePtr handle)
{
    // Only a handle of ours stands for the device's open file; closing for
    // anything else could close a file that another caller opened.
    auto *phoneHandle = dynamic_cast<PhoneFileHandle *>(handle.get());
    if (!phoneHandle) return;
    HandheldDeviceProtocol *device = phoneHandle->release();
    if (device) device->closeFile();
}

QByteArray VtrSymbianFileInfo::fileContentsWithRange(const VtrFileRange &range, VtrFileInfoHandle *)
{
    if (!_device) return QByteArray();
    return _device->contentsOfFileWithRange(range);
}

FileInfoCopyStatus VtrSymbianFileInfo::setFileContentsWithRange(const QByteArray &data, const VtrFileRange &range,
                                                                VtrFileInfoHandle *)
{
    if (!_device) return kFileInfoCopyKindCannot;
    return _device->setFileContents(data, range);
}

// ---- copying ------------------------------------------------------------------------------------

FileInfoCopyStatus VtrSymbianFileInfo::copyTo(const VtrFileInfoPtr &destination, bool ensureUniqueName,
                                              FileInfoProgress *progress, void *userData, VtrFileInfoPtr *outNewItem)
{
    if (!_deviceControlsCopy)
        return VtrWindowsPathBasedFileInfo::copyTo(destination, ensureUniqueName, progress, userData, outNewItem);

    clearCancelCopy();
    if (outNewItem) *outNewItem = nullptr;
    if (!destination) return kFileInfoCopyBadArguments;
    if (!_device) return kFileInfoCopyKindCannot;
    FileInfoProgress *copyProgress = asCopyProgress(progress) ? progress : nullptr;

    VtrFileInfoPtr target = destination;
    try {
        if (!exists()) return kFileInfoCopySourceMissing;
        if (!isFile()) return kFileInfoCopySourceNotFile;
        // Phone to phone is not a copy the device can run.
        if (destination->deviceControlsCopy()) return kFileInfoCopyKindCannot;
        if (destination->exists() && destination->isFolder()) {
            // The phone's name is data: it becomes one local name, never a
            // path, short enough for the local file system. A shortened name
            // may be another file's: it is made unique, with room for the
            // number that may take.
            const QString compliant = VtrMacFileInfo::makeNameOSCompliant(name());
            QString targetName = vtr::fitLocalNameLength(compliant, kUniqueNameRoom);
            if (ensureUniqueName || targetName != compliant) {
                targetName = destination->uniqueFilename(targetName);
                if (targetName.isNull()) return kFileInfoCopyDestinationNotOpened;
            }
            target = destination->find(targetName);
            if (!target) return kFileInfoCopyDestinationNotOpened;
        }
        if (target->exists() && !target->isFile()) return kFileInfoCopyDestinationNotFile;
    } catch (const std::exception &e) {
        VTR_LOG(2, QStringLiteral("Copy of \"%1\" failed before it started: %2")
                       .arg(path(), QString::fromLocal8Bit(e.what())));
        return kFileInfoCopyException;
    }

    vtr::TemporaryFileCopyOptions options;
    options.requiredBytes = size();
    options.progress = progress;
    options.userData = userData;

    const VtrFileInfoPtr source = self();
    auto fill = [&](const VtrFileInfoPtr &temporary) -> FileInfoCopyStatus {
        const FileInfoCopyStatus status = _device->copyDeviceFile(source, temporary, copyProgress, userData);
        if (status == kFileInfoCopyOK || status == kFileInfoCopyCancelled) return status;
        VTR_LOG(2, QStringLiteral("The phone could not copy \"%1\" (%2).").arg(path()).arg(status));
        return kFileInfoCopyException;
    };
    VtrFileInfoPtr newItem;
    const FileInfoCopyStatus status = vtr::copyThroughTemporaryFile(target, options, fill, &newItem);
    if (status == kFileInfoCopyOK && outNewItem) *outNewItem = newItem;
    return status;
}

FileInfoCopyStatus VtrSymbianFileInfo::copyFromFile(const VtrFileInfoPtr &source, bool ensureUniqueName,
                                                    FileInfoProgress *progress, void *userData,
                                                    VtrFileInfoPtr *outNewItem)
{
    if (outNewItem) *outNewItem = nullptr;
    if (!source) return kFileInfoCopyBadArguments;
    if (!_device) return kFileInfoCopyKindCannot;
    FileInfoProgress *copyProgress = asCopyProgress(progress) ? progress : nullptr;

    FileInfoCopyStatus status = kFileInfoCopyOK;
    VtrFileInfoPtr target;
    bool targetExisted = false;
    try {
        if (!source->exists()) return kFileInfoCopySourceMissing;
        if (!source->isFile()) return kFileInfoCopySourceNotFile;

        if (exists() && isFolder()) {
            // A local name may hold characters the phone's paths cannot (a
            // backslash would even name another folder).
            QString targetName = vtr::windowsValidFilename(source->name());
            if (!isPlainName(targetName)) return kFileInfoCopyBadArguments;
            if (ensureUniqueName) {
                targetName = uniqueFilename(targetName);
                if (targetName.isNull()) return kFileInfoCopyDestinationNotOpened;
            }
            target = find(targetName);
        } else {
            // An existing file stays until the device has sent its
            // replacement: a failed send must not cost the old file.
            target = self();
        }
        if (!target) return kFileInfoCopyBadArguments;
        if (target->exists() && !target->isFile()) return kFileInfoCopyDestinationNotFile;
        if (vtr::isTemporaryCopyFileName(target->name())) return kFileInfoCopyBadArguments;
        targetExisted = target->exists();

        // Every check before anything is sent to or removed from the phone.
        const VtrFileInfoPtr parent = target->parentFolder();
        const qint64 reserve = parent ? parent->_freeSpaceToKeepOnVolume() : kFreeSpaceToKeepOnVolume;
        const qint64 needed = vtr::saturatingAdd(std::max<qint64>(0, source->size()), std::max<qint64>(0, reserve));
        if (target->freeSpaceOnVolume() < needed) return kFileInfoCopyNoSpace;
        if (target->numBytesNeededForPath() > target->maxPathLength()) return kFileInfoCopyPathTooLong;

        if (parent && parent->exists()) {
            const VtrFileInfoPtr leftover = parent->find(QString::fromLatin1(kVtrCopyTempFileName));
            if (leftover && leftover->exists() && vtr::isTemporaryCopyFileName(leftover->name()) &&
                !vtr::isTemporaryCopyFileInUse(leftover->path()))
                quietly([&] { leftover->remove(); });
        }

        status = _device->copyDesktopFile(source, target, copyProgress, userData);
        if (status != kFileInfoCopyOK) return status;

        if (auto *phoneTarget = dynamic_cast<VtrSymbianFileInfo *>(target.get())) {
            QVariantMap entry;
            entry.insert(kKeyType, kTypeFile);
            entry.insert(kKeySize, QString::number(std::max<qint64>(0, source->size())));
            phoneTarget->updateWithXMLInfo(entry);
        }
        const QDateTime created = source->creationDate();
        if (created.isValid()) target->setCreationDate(created);
        const QDateTime modified = source->modificationDate();
        if (modified.isValid()) target->setModificationDate(modified);
        if (outNewItem) *outNewItem = target;
        return kFileInfoCopyOK;
    } catch (const std::exception &e) {
        VTR_LOG(2, QStringLiteral("Copy of \"%1\" to the phone interrupted: %2")
                       .arg(source->path(), QString::fromLocal8Bit(e.what())));
        // Only what this copy made goes; a file that was there before stays.
        if (target && !targetExisted && status == kFileInfoCopyOK) {
            quietly([&] {
                target->refresh();
                if (target->exists()) target->remove();
            });
        }
        return status != kFileInfoCopyOK ? status : kFileInfoCopyException;
    }
}

// ---- DRM, metadata, refresh and records ------------------------------------------------------------

bool VtrSymbianFileInfo::hasDRM()
{
    if (_info) {
        const auto cached = _info->constFind(kKeyHasDRM);
        if (cached != _info->constEnd()) return cached->toBool();
    }
    if (_hasDRM) return *_hasDRM;
    if (!_device) return false;
    try {
        _hasDRM = _device->isProtectedFile(path());
    } catch (const std::exception &e) {
        VTR_LOG(1, QStringLiteral("Could not ask whether \"%1\" is protected: %2")
                       .arg(path(), QString::fromLocal8Bit(e.what())));
        return false;
    }
    return *_hasDRM;
}

QVariantMap VtrSymbianFileInfo::metadata()
{
    if (!_metadata && _device && isFile()) {
        const QVariantMap fromDevice = _device->deviceMetadataForFile(path());
        if (!fromDevice.isEmpty()) _metadata = fromDevice;
    }
    return _metadata.value_or(QVariantMap());
}

void VtrSymbianFileInfo::setMetadata(const QVariantMap &metadata)
{
    _metadata = metadata;
}

void VtrSymbianFileInfo::refresh()
{
    VtrWindowsPathBasedFileInfo::refresh();
    const QString itemPath = path(); // a folder's path still ends in "\", asking for a folder
    _info.reset();
    _metadata.reset();
    _hasDRM.reset();
    if (!_device) return;
    try {
        const VtrFileInfoPtr fresh = _device->deviceFileInfoWithPathUseCache(itemPath, false);
        auto *node = dynamic_cast<VtrSymbianFileInfo *>(fresh.get());
        if (node && node != this && node->_info) _info = node->_info;
    } catch (const std::exception &e) {
        VTR_LOG(1, QStringLiteral("Could not look up \"%1\" on the phone: %2")
                       .arg(itemPath, QString::fromLocal8Bit(e.what())));
    }
}

QVariantMap VtrSymbianFileInfo::savedInfo()
{
    QVariantMap info = VtrWindowsPathBasedFileInfo::savedInfo();
    const bool internal = info.value(QStringLiteral("volumeStandardPath"))
                              .toString()
                              .compare(QLatin1String("C:/"), Qt::CaseInsensitive) == 0;
    info.insert(QStringLiteral("memoryType"), internal ? 1 : 2);
    return info;
}

QString VtrSymbianFileInfo::uuid()
{
    return _device ? _device->uuidForPath(path()) : QString();
}
