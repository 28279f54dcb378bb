#include "fileinfo/VtrBaseFileInfo.h"

#include "fileinfo/VtrFileInfoFilters.h"
#include "fileinfo/VtrPathFileInfo.h"
#include "fileinfo/VtrWindowsPathFileInfo.h"
#include "foundation/Log.h"
#include "foundation/VtrDate.h"
#include "foundation/VtrString.h"
#include "platform/Strings.h"

#include <QBuffer>
#include <QDataStream>
#include <QDir>
#include <QHash>
#include <QPainter>
#include <QSet>

#include <algorithm>
#include <limits>
#include <mutex>
#include <vector>

namespace {

constexpr quint32 kArchiveMagic = 0x56464931; // "VFI1"

struct ArchiveRegistry
{
    std::mutex mutex;
    QHash<QString, VtrBaseFileInfo::ArchiveFactory> factories;
};

ArchiveRegistry &archiveRegistry()
{
    static ArchiveRegistry *registry = [] {
        auto *r = new ArchiveRegistry;
        r->factories.insert(QStringLiteral("VtrBaseFileInfo"), [] { return VtrBaseFileInfo::fileInfo(); });
        r->factories.insert(QStringLiteral("VtrPathBasedFileInfo"),
                            [] { return VtrFileInfoPtr(std::make_shared<VtrPathBasedFileInfo>()); });
        r->factories.insert(QStringLiteral("VtrWindowsPathBasedFileInfo"),
                            [] { return VtrFileInfoPtr(std::make_shared<VtrWindowsPathBasedFileInfo>()); });
        return r;
    }();
    return *registry;
}

// Standardized form used to recognise a folder met twice in one walk.
QString walkKey(const QString &path)
{
    QString p = QDir::cleanPath(path);
    return p;
}

QImage makeBuiltInImage(bool folder)
{
    QImage image(32, 32, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    if (folder) {
        painter.setPen(QColor(70, 110, 170));
        painter.setBrush(QColor(120, 165, 225));
        painter.drawRect(2, 6, 12, 6);
        painter.drawRect(2, 9, 27, 19);
    } else {
        painter.setPen(QColor(110, 110, 110));
        painter.setBrush(QColor(250, 250, 250));
        painter.drawRect(6, 2, 20, 27);
        painter.drawLine(10, 10, 22, 10);
        painter.drawLine(10, 15, 22, 15);
        painter.drawLine(10, 20, 22, 20);
    }
    return image;
}

} // namespace

VtrBaseFileInfo::VtrBaseFileInfo() = default;
VtrBaseFileInfo::~VtrBaseFileInfo() = default;

VtrFileInfoPtr VtrBaseFileInfo::self()
{
    if (VtrFileInfoPtr p = weak_from_this().lock()) return p;
    // Not owned by a shared_ptr (a stack object in a test or a tool): a
    // non-owning pointer, valid as long as the object itself.
    return VtrFileInfoPtr(this, [](VtrBaseFileInfo *) {});
}

// ---- creation and archiving -------------------------------------------------

VtrFileInfoPtr VtrBaseFileInfo::fileInfo()
{
    return std::make_shared<VtrBaseFileInfo>();
}

VtrFileInfoPtr VtrBaseFileInfo::fileInfoWithPath(const QString &)
{
    return nullptr;
}

QString VtrBaseFileInfo::archiveClassName() const
{
    return QStringLiteral("VtrBaseFileInfo");
}

void VtrBaseFileInfo::encodeWithCoder(QVariantMap &coder)
{
    const QDateTime created = creationDate();
    if (created.isValid()) coder.insert(QStringLiteral("_creationDate"), created);
    const QDateTime modified = modificationDate();
    if (modified.isValid()) coder.insert(QStringLiteral("_modificationDate"), modified);
    const bool file = isFile();
    coder.insert(QStringLiteral("_isFile"), file);
    if (file) coder.insert(QStringLiteral("_fileSize"), size());
}

void VtrBaseFileInfo::initWithCoder(const QVariantMap &coder)
{
    _oldCreationDate = coder.value(QStringLiteral("_creationDate")).toDateTime();
    _oldModificationDate = coder.value(QStringLiteral("_modificationDate")).toDateTime();
    const auto size = coder.constFind(QStringLiteral("_fileSize"));
    if (size != coder.constEnd())
        _oldFileSize = size->toLongLong();
    else
        _oldFileSize.reset();
}

QByteArray VtrBaseFileInfo::archiveToData()
{
    QVariantMap coder;
    encodeWithCoder(coder);
    QByteArray bytes;
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    stream.setVersion(QDataStream::Qt_6_4);
    stream << kArchiveMagic << archiveClassName() << coder;
    return bytes;
}

VtrFileInfoPtr VtrBaseFileInfo::unarchiveFromData(const QByteArray &data)
{
    if (data.isEmpty()) return nullptr;
    QDataStream stream(data);
    stream.setVersion(QDataStream::Qt_6_4);
    quint32 magic = 0;
    QString className;
    QVariantMap coder;
    stream >> magic;
    if (magic != kArchiveMagic || stream.status() != QDataStream::Ok) return nullptr;
    stream >> className >> coder;
    if (stream.status() != QDataStream::Ok) return nullptr;

    ArchiveFactory factory;
    {
        ArchiveRegistry &registry = archiveRegistry();
        std::lock_guard<std::mutex> lock(registry.mutex);
        factory = registry.factories.value(className);
    }
    if (!factory) return nullptr;
    VtrFileInfoPtr object = factory();
    if (object) object->initWithCoder(coder);
    return object;
}

void VtrBaseFileInfo::registerArchiveClass(const QString &className, ArchiveFactory factory)
{
    ArchiveRegistry &registry = archiveRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    registry.factories.insert(className, std::move(factory));
}

// ---- identity and path ------------------------------------------------------

QString VtrBaseFileInfo::path()
{
    return QStringLiteral("");
}
QStringList VtrBaseFileInfo::pathComponents()
{
    return {};
}
QString VtrBaseFileInfo::standardPath()
{
    return path();
}
QString VtrBaseFileInfo::name()
{
    return vtr::posixLastPathComponent(path());
}
QString VtrBaseFileInfo::nameWithoutExtension()
{
    return vtr::posixDeletingPathExtension(name());
}

QString VtrBaseFileInfo::extension()
{
    QString ext = vtr::posixPathExtension(name());
    return ext.isNull() ? QStringLiteral("") : ext;
}

QString VtrBaseFileInfo::humanFriendlyName()
{
    return name();
}
QString VtrBaseFileInfo::humanFriendlyPath()
{
    return path();
}
void VtrBaseFileInfo::setName(const QString &) {}
void VtrBaseFileInfo::updateName(const QString &) {}
void VtrBaseFileInfo::setNameKeepingExtension(const QString &) {}
VtrFileInfoPtr VtrBaseFileInfo::parentFolder()
{
    return nullptr;
}
VtrFileInfoPtr VtrBaseFileInfo::volume()
{
    return nullptr;
}
bool VtrBaseFileInfo::isVolume()
{
    return false;
}
QString VtrBaseFileInfo::uuid()
{
    return QString();
}
QString VtrBaseFileInfo::volumeRelativeStandardPath()
{
    return QString();
}
QString VtrBaseFileInfo::relativePathTo(const VtrFileInfoPtr &)
{
    return QString();
}
QStringList VtrBaseFileInfo::relativePathComponentsTo(const VtrFileInfoPtr &)
{
    return {};
}
bool VtrBaseFileInfo::contains(const VtrFileInfoPtr &)
{
    return false;
}
bool VtrBaseFileInfo::isEqualTo(const VtrFileInfoPtr &)
{
    return false;
}
int VtrBaseFileInfo::maxPathLength()
{
    return 0;
}

int VtrBaseFileInfo::numBytesNeededForPath()
{
    const qint64 bytes = qint64(path().size()) * 2;
    return int(std::min<qint64>(bytes, std::numeric_limits<int>::max()));
}

QString VtrBaseFileInfo::makeValidFilename(const QString &name, bool encodeNonASCII)
{
    return encodeNonASCII ? vtr::windowsValidFilenameByTranscodingNonASCIIChars(name) : vtr::windowsValidFilename(name);
}

QString VtrBaseFileInfo::description()
{
    return archiveClassName();
}

// ---- kind and attributes ------------------------------------------------------

bool VtrBaseFileInfo::exists()
{
    return false;
}
bool VtrBaseFileInfo::isFile()
{
    return false;
}
bool VtrBaseFileInfo::isFolder()
{
    return false;
}
bool VtrBaseFileInfo::isBundle()
{
    return false;
}
bool VtrBaseFileInfo::isLocked()
{
    return false;
}
bool VtrBaseFileInfo::hasDRM()
{
    return false;
}
bool VtrBaseFileInfo::visible()
{
    return true;
}
void VtrBaseFileInfo::setLocked(bool) {}
void VtrBaseFileInfo::setHideExtension(bool) {}
VtrFileInfoPtr VtrBaseFileInfo::aliasTarget()
{
    return nullptr;
}
bool VtrBaseFileInfo::resolveAlias()
{
    return false;
}
VtrFileInfoPtr VtrBaseFileInfo::resolvedFileInfo()
{
    return self();
}
QString VtrBaseFileInfo::kindString()
{
    return vtrLocalized("unknown");
}

QImage VtrBaseFileInfo::icon()
{
    // Made once and kept for the process (function statics are thread-safe).
    static const QImage folderImage = makeBuiltInImage(true);
    static const QImage fileImage = makeBuiltInImage(false);
    return isFolder() ? folderImage : fileImage;
}

QImage VtrBaseFileInfo::smallIcon()
{
    const QImage image = icon();
    if (image.isNull()) return image;
    return image.scaled(16, 16, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

QVariantMap VtrBaseFileInfo::metadata()
{
    return {};
}
void VtrBaseFileInfo::setMetadata(const QVariantMap &) {}
void VtrBaseFileInfo::refresh() {}

// ---- dates ----------------------------------------------------------------------

QDateTime VtrBaseFileInfo::creationDate()
{
    return QDateTime();
}
QDateTime VtrBaseFileInfo::modificationDate()
{
    return QDateTime();
}
void VtrBaseFileInfo::setCreationDate(const QDateTime &) {}
void VtrBaseFileInfo::setModificationDate(const QDateTime &) {}
bool VtrBaseFileInfo::supportsCreationDate()
{
    return true;
}
bool VtrBaseFileInfo::supportsModificationDate()
{
    return true;
}
bool VtrBaseFileInfo::supportsTimezones()
{
    return true;
}

// ---- size and free space --------------------------------------------------------

qint64 VtrBaseFileInfo::size()
{
    if (!isFolder()) return 0;
    // Walk the tree without recursion; a folder reached a second time (a link
    // back to an ancestor) is not counted again, so the walk always ends.
    qint64 total = 0;
    QSet<QString> entered;
    const VtrFileInfoPtr resolved = resolvedFileInfo();
    entered.insert(walkKey(resolved ? resolved->path() : path()));
    std::vector<VtrFileInfoPtr> pending{self()};
    while (!pending.empty()) {
        VtrFileInfoPtr folder = std::move(pending.back());
        pending.pop_back();
        for (const VtrFileInfoPtr &child : folder->folderContents()) {
            if (!child) continue;
            if (child->isFolder()) {
                const VtrFileInfoPtr target = child->resolvedFileInfo();
                const QString key = walkKey(target ? target->path() : child->path());
                if (entered.contains(key)) continue;
                entered.insert(key);
                pending.push_back(child);
            } else {
                const qint64 s = child->size();
                if (s > 0)
                    total = (total > std::numeric_limits<qint64>::max() - s) ? std::numeric_limits<qint64>::max()
                                                                             : total + s;
            }
        }
    }
    return total;
}

qint64 VtrBaseFileInfo::resolvedSize()
{
    return size();
}
qint64 VtrBaseFileInfo::freeSpaceOnVolume()
{
    return 0;
}
qint64 VtrBaseFileInfo::_freeSpaceToKeepOnVolume()
{
    return 0;
}
qint64 VtrBaseFileInfo::preferredChunkSize()
{
    return 8192;
}

// ---- children, finding and listings ---------------------------------------------

VtrFileInfoPtr VtrBaseFileInfo::find(const QString &)
{
    return fileInfo();
}

VtrFileInfoPtr VtrBaseFileInfo::find(const QString &name, bool resolveAliases)
{
    VtrFileInfoPtr item = find(name);
    if (item && resolveAliases) item->resolveAlias();
    return item;
}

VtrFileInfoList VtrBaseFileInfo::findDeep(const QString &)
{
    return {};
}
VtrFileInfoPtr VtrBaseFileInfo::findFirstDeep(const QString &)
{
    return nullptr;
}

VtrFileInfoList VtrBaseFileInfo::findAllFoldersWithName(const QString &name)
{
    VtrFileInfoList result;
    for (const VtrFileInfoPtr &child : folderContents()) {
        if (child && child->isFolder() && child->name().compare(name, Qt::CaseInsensitive) == 0) result.append(child);
    }
    return result;
}

VtrFileInfoPtr VtrBaseFileInfo::findChildIgnoringCase(const QString &name)
{
    if (name.isEmpty() || !isFolder()) return nullptr;
    VtrFindItemFilter filter(name, true, true);
    const VtrFileInfoList found = folderContentsWithFilter(&filter);
    for (const VtrFileInfoPtr &item : found) {
        if (item && item->exists()) return item;
    }
    return nullptr;
}

VtrFileInfoPtr VtrBaseFileInfo::findWithWindowsName(const QString &name)
{
    return findWithWindowsName(name, false);
}

VtrFileInfoPtr VtrBaseFileInfo::findWithWindowsName(const QString &name, bool useASCIIOnly)
{
    if (!isFolder()) return nullptr;
    VtrFileInfoPtr candidate;
    for (const VtrFileInfoPtr &child : folderContents()) {
        if (!child) continue;
        const QString childName = child->name();
        if (childName.compare(name, Qt::CaseInsensitive) == 0) return child;
        if (!candidate &&
            (vtr::windowsValidFilenameUsingASCIIOnly(childName, useASCIIOnly).compare(name, Qt::CaseInsensitive) == 0 ||
             vtr::windowsValidFilenameByTranscodingNonASCIIChars(childName).compare(name, Qt::CaseInsensitive) == 0))
            candidate = child;
    }
    return candidate;
}

QString VtrBaseFileInfo::uniqueFilename(const QString &name)
{
    VtrFileInfoPtr folder = isFolder() ? self() : parentFolder();
    if (!folder) return name;

    // A name that differs only in case from an existing one is taken too: the
    // store may ignore case, and a phone or backup folder surely does.
    QSet<QString> existing;
    bool listed = false;
    auto taken = [&](const QString &candidate) {
        VtrFileInfoPtr item = folder->find(candidate);
        if (item && item->exists()) return true;
        if (!listed) {
            for (const VtrFileInfoPtr &child : folder->folderContents())
                if (child) existing.insert(child->name().toCaseFolded());
            listed = true;
        }
        return existing.contains(candidate.toCaseFolded());
    };

    if (!taken(name)) return name;
    const QString base = vtr::posixDeletingPathExtension(name);
    const QString ext = vtr::posixPathExtension(name);
    for (int n = 1; n < kMaxUniqueNameAttempts; ++n) {
        const QString candidate = vtr::numberedName(base, ext, n);
        if (!taken(candidate)) return candidate;
    }
    VTR_LOG(2, QStringLiteral("No free name for \"%1\" in \"%2\".").arg(name, folder->humanFriendlyPath()));
    return QString();
}

VtrFileInfoList VtrBaseFileInfo::folderContents()
{
    return folderContentsWithFilter(nullptr);
}

VtrFileInfoList VtrBaseFileInfo::folderContentsWithFilter(VtrBaseFileInfoFilter *filter)
{
    const VtrFileInfoPtr resolved = resolvedFileInfo();
    QString root = QDir::cleanPath(resolved ? resolved->path() : path());
    if (!root.endsWith(QLatin1Char('/'))) root += QLatin1Char('/');
    return folderContentsWithFilter(filter, root);
}

VtrFileInfoList VtrBaseFileInfo::folderContentsWithFilter(VtrBaseFileInfoFilter *filter, const QString &rootPath)
{
    VtrFileInfoList array;
    bool stop = false;
    folderContentsWithFilterWithArray(filter, array, &stop, rootPath);
    return array;
}

VtrFileInfoList VtrBaseFileInfo::folderContentsDeepWithFilter(VtrBaseFileInfoFilter *filter)
{
    return folderContentsDeepWithFilter(filter, true);
}

VtrFileInfoList VtrBaseFileInfo::folderContentsDeepWithFilter(VtrBaseFileInfoFilter *filter, bool withHiddenItems)
{
    VtrFileInfoList result;
    const VtrFileInfoPtr resolved = resolvedFileInfo();
    QString root = QDir::cleanPath(resolved ? resolved->path() : path());
    if (!root.endsWith(QLatin1Char('/'))) root += QLatin1Char('/');
    VtrDeepListingFilter deep(filter, result, withHiddenItems, root);
    bool stop = false;
    folderContentsWithFilterWithArray(&deep, result, &stop, root);
    return result;
}

void VtrBaseFileInfo::folderContentsWithFilterWithArray(VtrBaseFileInfoFilter *, VtrFileInfoList &, bool *,
                                                        const QString &)
{}

bool VtrBaseFileInfo::fileNameLessThan(const QString &a, const QString &b)
{
    const int folded = a.compare(b, Qt::CaseInsensitive);
    if (folded != 0) return folded < 0;
    return a.toUtf8() < b.toUtf8();
}

void VtrBaseFileInfo::sortFileNames(QStringList &names)
{
    std::sort(names.begin(), names.end(), fileNameLessThan);
}

// ---- creating and removing -------------------------------------------------------

VtrFileInfoPtr VtrBaseFileInfo::createFile(const QString &name, const QByteArray &contents,
                                           const QVariantMap &attributes)
{
    return createFile(name, contents, attributes, false, nullptr, nullptr);
}

VtrFileInfoPtr VtrBaseFileInfo::createFile(const QString &name, const QByteArray &contents,
                                           const QVariantMap &attributes, bool ensureUniqueName)
{
    return createFile(name, contents, attributes, ensureUniqueName, nullptr, nullptr);
}

VtrFileInfoPtr VtrBaseFileInfo::createFile(const QString &, const QByteArray &, const QVariantMap &, bool,
                                           FileInfoProgress *, void *)
{
    return nullptr;
}

VtrFileInfoPtr VtrBaseFileInfo::createFolder(const QString &)
{
    return nullptr;
}
VtrFileInfoPtr VtrBaseFileInfo::createUniqueFolder(const QString &)
{
    return nullptr;
}

VtrFileInfoPtr VtrBaseFileInfo::createFolderWithPathComponents(const QStringList &components)
{
    VtrFileInfoPtr folder = isFolder() ? self() : parentFolder();
    for (const QString &component : components) {
        if (!folder) return nullptr;
        folder = folder->createFolder(component);
        if (!folder || !folder->exists()) return nullptr;
    }
    return folder;
}

bool VtrBaseFileInfo::remove()
{
    return false;
}

bool VtrBaseFileInfo::removeContents()
{
    if (!isFolder()) return false;
    bool all = true;
    for (const VtrFileInfoPtr &child : folderContents()) {
        if (!child || !child->remove()) all = false;
    }
    return all;
}

void VtrBaseFileInfo::removeEmptySubfolders()
{
    VtrFoldersOnlyFilter folders;
    for (const VtrFileInfoPtr &child : folderContentsWithFilter(&folders)) {
        VtrVisibleItemsFilter visibleItems;
        if (child && child->folderContentsWithFilter(&visibleItems).isEmpty()) child->remove();
    }
}

VtrFileInfoPtr VtrBaseFileInfo::tempFolder()
{
    return nullptr;
}

// ---- contents ----------------------------------------------------------------------

QByteArray VtrBaseFileInfo::fileContents()
{
    return fileContentsWithProgress(nullptr, nullptr);
}

QByteArray VtrBaseFileInfo::fileContentsWithProgress(FileInfoProgress *, void *)
{
    return QByteArray("");
}

bool VtrBaseFileInfo::setFileContents(const QByteArray &data)
{
    return setFileContentsWithProgress(data, nullptr, nullptr);
}

bool VtrBaseFileInfo::setFileContentsWithProgress(const QByteArray &, FileInfoProgress *, void *)
{
    return false;
}

VtrFileInfoHandlePtr VtrBaseFileInfo::openFileForReading()
{
    return nullptr;
}
VtrFileInfoHandlePtr VtrBaseFileInfo::openFileForWriting()
{
    return nullptr;
}
void VtrBaseFileInfo::closeFile(VtrFileInfoHandlePtr) {}

QByteArray VtrBaseFileInfo::fileContentsWithRange(const VtrFileRange &, VtrFileInfoHandle *)
{
    return QByteArray();
}

FileInfoCopyStatus VtrBaseFileInfo::setFileContentsWithRange(const QByteArray &, const VtrFileRange &,
                                                             VtrFileInfoHandle *)
{
    return kFileInfoCopyNotSupported;
}

FileInfoCopyStatus VtrBaseFileInfo::copyRangeToFile(const VtrFileRange &, VtrFileInfoHandle *, VtrBaseFileInfo *,
                                                    VtrFileInfoHandle *, qint64 *copied)
{
    if (copied) *copied = 0;
    return kFileInfoCopyNotSupported;
}

// ---- copying and moving (the copies themselves are in FileInfoCopy.cpp) ------------

FileInfoCopyStatus VtrBaseFileInfo::copyTo(const VtrFileInfoPtr &destination)
{
    return copyTo(destination, false, nullptr, nullptr, nullptr);
}

FileInfoCopyStatus VtrBaseFileInfo::copyTo(const VtrFileInfoPtr &destination, VtrFileInfoPtr *outNewItem)
{
    return copyTo(destination, false, nullptr, nullptr, outNewItem);
}

FileInfoCopyStatus VtrBaseFileInfo::copyFromFile(const VtrFileInfoPtr &, bool, FileInfoProgress *, void *,
                                                 VtrFileInfoPtr *)
{
    return kFileInfoCopyKindCannot;
}

FileInfoCopyStatus VtrBaseFileInfo::moveTo(const VtrFileInfoPtr &)
{
    return kFileInfoCopyNotSupported;
}

FileInfoCopyStatus VtrBaseFileInfo::moveToFreeName(const VtrFileInfoPtr &destination)
{
    if (!destination) return kFileInfoCopyBadArguments;
    if (destination->exists()) return kFileInfoCopyDestinationTaken;
    return moveTo(destination);
}

// ---- records, archives and identifiers -------------------------------------------------

QVariantMap VtrBaseFileInfo::savedInfo()
{
    QVariantMap info;
    info.insert(QStringLiteral("originalPath"), path());
    info.insert(QStringLiteral("isFile"), isFile());
    const QString volumeUUID = uuid();
    if (!volumeUUID.isNull()) info.insert(QStringLiteral("volumeUUID"), volumeUUID);
    if (VtrFileInfoPtr vol = volume()) info.insert(QStringLiteral("volumeStandardPath"), vol->standardPath());
    const QString relative = volumeRelativeStandardPath();
    if (!relative.isNull()) info.insert(QStringLiteral("volumeRelativeStandardPath"), relative);
    info.insert(QStringLiteral("humanFriendlyPath"), humanFriendlyPath());
    return info;
}

bool VtrBaseFileInfo::savedFileInfo(const QVariantMap &info, const QVariantMap &otherInfo)
{
    if (info.isEmpty() || otherInfo.isEmpty()) return false;
    const QString relKey = QStringLiteral("volumeRelativeStandardPath");
    if (!info.contains(relKey) || !otherInfo.contains(relKey)) return false;
    if (info.value(relKey).toString().compare(otherInfo.value(relKey).toString(), Qt::CaseInsensitive) != 0)
        return false;

    const QString typeKey = QStringLiteral("memoryType");
    const bool hasType = info.contains(typeKey);
    const bool otherHasType = otherInfo.contains(typeKey);
    if (!hasType && !otherHasType) return true;
    if (hasType != otherHasType) return false;
    const int type = info.value(typeKey).toInt();
    if (type != otherInfo.value(typeKey).toInt()) return false;
    // A phone memory may be mounted elsewhere next time: its place is enough.
    if (type != 0) return true;

    // An ordinary volume must be the same volume; both paths must be known.
    const QString volKey = QStringLiteral("volumeStandardPath");
    if (!info.contains(volKey) || !otherInfo.contains(volKey)) return false;
    return info.value(volKey).toString().compare(otherInfo.value(volKey).toString(), Qt::CaseInsensitive) == 0;
}

QVariantMap VtrBaseFileInfo::syncCriteria()
{
    QVariantMap criteria;
    const QString volumeUUID = uuid();
    if (!volumeUUID.isNull()) criteria.insert(QStringLiteral("uuid"), volumeUUID);
    const QString relative = volumeRelativeStandardPath();
    if (!relative.isNull()) criteria.insert(QStringLiteral("path"), relative.toUpper());
    const bool file = isFile();
    criteria.insert(QStringLiteral("isFile"), file);
    if (file) criteria.insert(QStringLiteral("fileSize"), size());
    const QDateTime modified = modificationDate();
    if (modified.isValid()) {
        criteria.insert(QStringLiteral("modificationDateObject"), modified);
        criteria.insert(QStringLiteral("modificationDateString"), vtr::st2StringWithoutTimezone(modified));
    }
    criteria.insert(QStringLiteral("supportsTimeZones"), supportsTimezones());
    return criteria;
}

QByteArray VtrBaseFileInfo::zip()
{
    return QByteArray();
}
QByteArray VtrBaseFileInfo::ditto()
{
    return QByteArray();
}
VtrFileInfoList VtrBaseFileInfo::unzip()
{
    return {};
}
VtrFileInfoPtr VtrBaseFileInfo::zipToFolder(const VtrFileInfoPtr &)
{
    return nullptr;
}

QString VtrBaseFileInfo::UDID()
{
    return UDID(false);
}

QString VtrBaseFileInfo::UDID(bool create)
{
    VtrFileInfoPtr vol = volume();
    if (!vol || !vol->exists()) return QString();

    const QString fileName = QString::fromLatin1(kVtrUDIDFileName);
    VtrFileInfoPtr oldFile = vol->find(QString::fromLatin1(kVtrOldUDIDFileName));
    VtrFileInfoPtr idFile = vol->find(fileName);
    if (oldFile && oldFile->exists() && oldFile->name().compare(fileName, Qt::CaseInsensitive) != 0) {
        if (idFile && idFile->exists()) idFile->remove();
        oldFile->setName(fileName);
        idFile = vol->find(fileName);
        // When the store refused the new name the old file still holds the
        // identifier: read it where it is rather than lose it.
        if ((!idFile || !idFile->exists()) && oldFile->exists()) idFile = oldFile;
    }

    if (idFile && idFile->exists()) {
        const QByteArray bytes = idFile->fileContents();
        const QString text = QString::fromUtf8(bytes);
        if (!text.isEmpty()) return text;
        VTR_LOG(2, QStringLiteral("Couldn't read UDID from file \"%1\".").arg(idFile->humanFriendlyPath()));
        if (!create) return bytes.isNull() ? QString() : text;
        idFile->remove();
    } else if (!create) {
        return QString();
    }

    const QString newId = vtr::uuidAsString();
    if (newId.isEmpty()) return QString();
    VtrFileInfoPtr created = vol->createFile(fileName, newId.toUtf8(), QVariantMap());
    if (created && created->exists()) return newId;
    const QString where =
        created ? created->humanFriendlyPath() : vtr::posixAppendPathComponent(vol->humanFriendlyPath(), fileName);
    VTR_LOG(2, QStringLiteral("Failed to write UDID to file \"%1\".").arg(where));
    return QString();
}
