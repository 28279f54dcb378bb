#include "fileinfo/VtrMacFileInfo.h"

#include "fileinfo/FileInfoCopy.h"
#include "fileinfo/VtrFileInfoFilters.h"
#include "fileinfo/VtrMacFileInfoFS.h"
#include "fileinfo/VtrQTUtils.h"
#include "foundation/Log.h"
#include "foundation/VtrString.h"
#include "platform/Folders.h"
#include "platform/Strings.h"
#include "platform/VtrException.h"

#include <QMimeData>
#include <QMimeDatabase>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <numeric>
#include <optional>
#include <utility>
#include <unistd.h>

using namespace vtr::localfs;

namespace {

constexpr qint64 kChunkSize = 1 << 20;
constexpr int kModeRead = 0;
constexpr int kModeWrite = 1;

// The open file of the ranged operations.
class MacFileHandle : public VtrFileInfoHandle
{
public:
    MacFileHandle(int fd, int mode, qint64 size, bool sparse, QString path)
        : fd(fd), mode(mode), size(size), mayHaveHoles(sparse), path(std::move(path))
    {}
    ~MacFileHandle() override
    {
        if (fd >= 0) ::close(fd);
    }
    MacFileHandle(const MacFileHandle &) = delete;
    MacFileHandle &operator=(const MacFileHandle &) = delete;

    int fd;
    int mode;
    qint64 size;            // the file's length as this handle has made it
    bool mayHaveHoles;      // fewer blocks than bytes when it was opened
    bool kernelCopy = true; // a write handle: copy_file_range has not been refused
    QString path;           // as it was opened
};

QString errorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

bool isAllZero(const char *data, qint64 length)
{
    if (length <= 0) return true;
    if (data[0] != 0) return false;
    return std::memcmp(data, data + 1, size_t(length - 1)) == 0;
}

// Opens a regular file without blocking on pipes or devices; -1 otherwise.
// (O_NONBLOCK changes nothing for the reads and writes of a regular file.)
int openRegularFile(const QString &path, int flags, struct stat *st)
{
    const int fd = ::open(encode(path).constData(), flags | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return -1;
    if (::fstat(fd, st) != 0 || !S_ISREG(st->st_mode)) {
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    return fd;
}

const bool g_registered = [] {
    VtrBaseFileInfo::registerArchiveClass(QStringLiteral("VtrMacFileInfo"),
                                          [] { return VtrFileInfoPtr(std::make_shared<VtrMacFileInfo>()); });
    return true;
}();

} // namespace

// ---- creation -------------------------------------------------------------------------

VtrMacFileInfo::VtrMacFileInfo() : VtrPathBasedFileInfo(QStringLiteral(""))
{
    (void)g_registered;
}

VtrMacFileInfo::VtrMacFileInfo(const QString &path, bool resolveAliases) : VtrPathBasedFileInfo(normalisePath(path))
{
    if (resolveAliases) resolveAlias();
}

VtrMacFileInfo::~VtrMacFileInfo()
{
    if (_createdFd >= 0) ::close(_createdFd);
}

VtrMacFileInfo::Ptr VtrMacFileInfo::fileInfoWithPath(const QString &path)
{
    return std::make_shared<VtrMacFileInfo>(path);
}

VtrMacFileInfo::Ptr VtrMacFileInfo::fileInfoWithFileRef(const VtrFileRef &ref)
{
    return fileInfoWithPath(pathFromFileRef(ref));
}

VtrMacFileInfo::Ptr VtrMacFileInfo::fileInfoWithURL(const QUrl &url)
{
    return fileInfoWithPath(pathFromURL(url));
}

VtrMacFileInfo::Ptr VtrMacFileInfo::fileInfoResolveAliasesWithFileRef(const VtrFileRef &ref)
{
    Ptr item = fileInfoWithFileRef(ref);
    item->resolveAlias();
    return item;
}

VtrMacFileInfo::Ptr VtrMacFileInfo::fileInfoResolveAliasesWithURL(const QUrl &url)
{
    Ptr item = fileInfoWithURL(url);
    item->resolveAlias();
    return item;
}

VtrMacFileInfo::Ptr VtrMacFileInfo::fileInfoResolveAliasesWithPath(const QString &path)
{
    const QStringList components = vtr::posixPathComponents(normalisePath(path));
    if (components.isEmpty()) return nullptr;
    Ptr current;
    for (qsizetype i = 0; i < components.size(); ++i) {
        VtrFileInfoPtr next =
            i == 0 ? VtrFileInfoPtr(fileInfoWithPath(components.at(0))) : current->find(components.at(i));
        if (!next || !next->exists()) return nullptr;
        current = std::dynamic_pointer_cast<VtrMacFileInfo>(next->resolvedFileInfo());
        if (!current || !current->exists()) return nullptr;
    }
    return current;
}

VtrMacFileInfo::Ptr VtrMacFileInfo::fileInfoCreateFolderWithFullPath(const QString &path)
{
    const QString p = normalisePath(path);
    if (p.isEmpty()) return nullptr;
    return std::dynamic_pointer_cast<VtrMacFileInfo>(fileInfoWithPath(QStringLiteral("/"))->createFolder(p));
}

VtrMacFileInfo::Ptr VtrMacFileInfo::fileInfoCreateFileWithFullPath(const QString &path)
{
    const QString p = normalisePath(path);
    const QString parent = parentPath(p);
    if (p.isEmpty() || parent.isEmpty()) return nullptr;
    Ptr folder = fileInfoCreateFolderWithFullPath(parent);
    if (!folder) return nullptr;
    return std::dynamic_pointer_cast<VtrMacFileInfo>(folder->createFile(lastComponent(p), QByteArray(), QVariantMap()));
}

VtrFileInfoList VtrMacFileInfo::fileInfoArrayFromPathsArray(const QStringList &paths)
{
    VtrFileInfoList items;
    items.reserve(paths.size());
    for (const QString &p : paths)
        items.append(fileInfoWithPath(p));
    return items;
}

VtrFileInfoList VtrMacFileInfo::fileInfoArrayFromPasteboard(const QMimeData *pasteboard)
{
    VtrFileInfoList items;
    if (!pasteboard || !pasteboard->hasUrls()) return items;
    for (const QUrl &url : pasteboard->urls()) {
        if (url.isLocalFile()) items.append(fileInfoWithURL(url));
    }
    return items;
}

VtrMacFileInfo::Ptr VtrMacFileInfo::copy()
{
    auto other = std::make_shared<VtrMacFileInfo>();
    other->setPath(path());
    other->_kind = _kind;
    other->_statValid = _statValid;
    other->_stat = _stat;
    return other;
}

// ---- conversions --------------------------------------------------------------------------

QUrl VtrMacFileInfo::urlFromPath(const QString &path)
{
    if (path.isNull()) return QUrl();
    return QUrl::fromLocalFile(normalisePath(path));
}

QString VtrMacFileInfo::pathFromURL(const QUrl &url)
{
    if (!url.isLocalFile()) return QString();
    return url.toLocalFile();
}

VtrFileRef VtrMacFileInfo::fileRefFromPath(const QString &path)
{
    const QString p = normalisePath(path);
    struct stat st;
    if (p.isEmpty() || !lstatPath(p, &st)) return VtrFileRef();
    VtrFileRef ref;
    ref.path = p;
    ref.device = quint64(st.st_dev);
    ref.inode = quint64(st.st_ino);
    return ref;
}

VtrFileRef VtrMacFileInfo::fileRefFromURL(const QUrl &url)
{
    return fileRefFromPath(pathFromURL(url));
}

QString VtrMacFileInfo::pathFromFileRef(const VtrFileRef &ref)
{
    if (!ref.isValid() || ref.path.isEmpty()) return QString();
    return ref.path;
}

QUrl VtrMacFileInfo::URL()
{
    return urlFromPath(path());
}

int VtrMacFileInfo::fileRef(VtrFileRef *out)
{
    if (out) *out = VtrFileRef();
    if (path().isEmpty()) return -50;
    const VtrFileRef ref = fileRefFromPath(path());
    if (!ref.isValid()) return -1;
    if (out) *out = ref;
    return 0;
}

VtrFileRef VtrMacFileInfo::fileRef()
{
    VtrFileRef ref;
    fileRef(&ref);
    return ref;
}

QString VtrMacFileInfo::makeNameOSCompliant(const QString &name)
{
    QString result = name;
    result.replace(QLatin1Char('/'), QLatin1Char('_'));
    result.replace(QChar(0), QLatin1Char('_'));
    if (result == QLatin1String(".")) return QStringLiteral("_");
    if (result == QLatin1String("..")) return QStringLiteral("__");
    return result;
}

// ---- kind cache ------------------------------------------------------------------------------

void VtrMacFileInfo::clearCaches()
{
    _kind = Kind();
    _statValid = false;
    _absentOnce = false;
    if (_createdFd >= 0) ::close(std::exchange(_createdFd, -1));
    _hasDRM = -1;
    _blackberryInfoValid = false;
}

void VtrMacFileInfo::refresh()
{
    clearCaches();
}

void VtrMacFileInfo::adoptStat(const struct stat &st)
{
    // A link needs the target's status too: left to the first question.
    if (S_ISLNK(st.st_mode)) return;
    _stat = st;
    _statValid = true;
    _kind = Kind();
    _kind.valid = true;
    _kind.isFolder = S_ISDIR(st.st_mode);
    _kind.regular = S_ISREG(st.st_mode);
}

void VtrMacFileInfo::presetKind(bool folder)
{
    _kind = Kind();
    _kind.valid = true;
    _kind.isFolder = folder;
    _kind.regular = !folder;
}

const struct stat *VtrMacFileInfo::cachedStat()
{
    if (_statValid) return &_stat;
    const QString p = path();
    struct stat st;
    if (!lstatPath(p, &st)) return nullptr;
    Kind kind;
    kind.valid = true;
    if (S_ISLNK(st.st_mode)) {
        kind.isAlias = true;
        struct stat target;
        if (statPath(p, &target)) {
            st = target;
            kind.isFolder = S_ISDIR(target.st_mode);
            kind.regular = S_ISREG(target.st_mode);
        } else {
            kind.badAlias = true;
        }
    } else {
        kind.isFolder = S_ISDIR(st.st_mode);
        kind.regular = S_ISREG(st.st_mode);
    }
    _stat = st;
    _statValid = true;
    // A kind preset by a listing came from the same directory entry.
    if (!_kind.valid) _kind = kind;
    return &_stat;
}

void VtrMacFileInfo::cacheKind()
{
    if (_kind.valid) return;
    // Just looked for and not found: the caller's first question (find, then
    // exists) needs no second look; every later one looks again.
    if (std::exchange(_absentOnce, false)) return;
    cachedStat();
}

bool VtrMacFileInfo::exists()
{
    if (path().isEmpty()) return false;
    cacheKind();
    return _kind.valid;
}

bool VtrMacFileInfo::isFolder()
{
    if (path().isEmpty()) return false;
    cacheKind();
    return _kind.valid && _kind.isFolder;
}

bool VtrMacFileInfo::isFile()
{
    if (path().isEmpty()) return false;
    cacheKind();
    // Pipes, sockets and devices are not files: reading one would block or never end.
    return _kind.valid && !_kind.isFolder && (_kind.regular || _kind.badAlias);
}

bool VtrMacFileInfo::isAlias()
{
    if (path().isEmpty()) return false;
    cacheKind();
    return _kind.valid && _kind.isAlias;
}

bool VtrMacFileInfo::visible()
{
    return !name().startsWith(QLatin1Char('.'));
}

bool VtrMacFileInfo::hasDRM()
{
    if (_hasDRM < 0) _hasDRM = VtrQTUtils::isProtectedFile(VtrFileInfo(path())) ? 1 : 0;
    return _hasDRM == 1;
}

QVariantMap VtrMacFileInfo::metadata()
{
    return VtrQTUtils::metadataForFile(VtrFileInfo(path()));
}

void VtrMacFileInfo::setMetadata(const QVariantMap &metadata)
{
    VtrQTUtils::setMetadata(metadata, VtrFileInfo(path()));
}

QVariant VtrMacFileInfo::attribute(const QString &key)
{
    const struct stat *st = cachedStat();
    if (!st) return QVariant();
    if (key == QLatin1String("NSFileSize")) return qint64(st->st_size);
    if (key == QLatin1String("NSFileModificationDate")) return dateFromTimespec(st->st_mtim);
    if (key == QLatin1String("NSFileType")) {
        if (_kind.badAlias) return QStringLiteral("NSFileTypeSymbolicLink");
        if (S_ISREG(st->st_mode)) return QStringLiteral("NSFileTypeRegular");
        if (S_ISDIR(st->st_mode)) return QStringLiteral("NSFileTypeDirectory");
        if (S_ISLNK(st->st_mode)) return QStringLiteral("NSFileTypeSymbolicLink");
        return QStringLiteral("NSFileTypeUnknown");
    }
    if (key == QLatin1String("NSFilePosixPermissions")) return int(st->st_mode & 07777);
    if (key == QLatin1String("NSFileReferenceCount")) return qint64(st->st_nlink);
    if (key == QLatin1String("NSFileSystemNumber")) return qint64(st->st_dev);
    if (key == QLatin1String("NSFileSystemFileNumber")) return qint64(st->st_ino);
    if (key == QLatin1String("NSFileOwnerAccountID")) return qint64(st->st_uid);
    if (key == QLatin1String("NSFileGroupOwnerAccountID")) return qint64(st->st_gid);
    return QVariant();
}

// ---- identity --------------------------------------------------------------------------------

QString VtrMacFileInfo::archiveClassName() const
{
    return QStringLiteral("VtrMacFileInfo");
}

VtrFileInfoPtr VtrMacFileInfo::parentFolder()
{
    const QString p = path();
    if (p.isEmpty() || p == QLatin1String("/")) return nullptr;
    const QString parent = parentPath(p);
    if (parent.isEmpty()) return nullptr;
    return fileInfoWithPath(parent);
}

QString VtrMacFileInfo::name()
{
    return lastComponent(path());
}

QString VtrMacFileInfo::extension()
{
    const QString ext = vtr::posixPathExtension(name());
    return ext.isNull() ? QStringLiteral("") : ext;
}

QString VtrMacFileInfo::humanFriendlyName()
{
    return name();
}

QString VtrMacFileInfo::humanFriendlyPath()
{
    const QString p = path();
    const QString home = normalisePath(platform::homeFolder());
    if (home.isEmpty() || home == QLatin1String("/")) return p;
    if (p == home) return QStringLiteral("~");
    if (p.startsWith(home + QLatin1Char('/'))) return QStringLiteral("~") + p.mid(home.size());
    return p;
}

QString VtrMacFileInfo::kindString()
{
    if (!exists()) return VtrBaseFileInfo::kindString();
    QMimeDatabase db;
    const QMimeType type =
        isFolder() ? db.mimeTypeForName(QStringLiteral("inode/directory")) : db.mimeTypeForFile(path());
    const QString comment = type.isValid() ? type.comment() : QString();
    return comment.isEmpty() ? VtrBaseFileInfo::kindString() : comment;
}

bool VtrMacFileInfo::isEqualTo(const VtrFileInfoPtr &other)
{
    auto *mac = dynamic_cast<VtrMacFileInfo *>(other.get());
    if (!mac) return VtrPathBasedFileInfo::isEqualTo(other);
    if (mac == this || path() == mac->path()) return true;
    const struct stat *mine = cachedStat();
    const struct stat *theirs = mac->cachedStat();
    if (mine && theirs) return mine->st_dev == theirs->st_dev && mine->st_ino == theirs->st_ino;
    if (mine || theirs) return false;
    return VtrPathBasedFileInfo::isEqualTo(other);
}

// ---- dates, sizes and names ----------------------------------------------------------------------

QDateTime VtrMacFileInfo::modificationDate()
{
    const struct stat *st = cachedStat();
    return st ? dateFromTimespec(st->st_mtim) : QDateTime();
}

void VtrMacFileInfo::setModificationDate(const QDateTime &date)
{
    if (!date.isValid() || !exists()) return;
    const struct timespec times[2] = {{0, UTIME_OMIT}, timespecFromDate(date)};
    if (::utimensat(AT_FDCWD, encode(path()).constData(), times, 0) != 0)
        VTR_LOG(2, QStringLiteral("Could not set the modification date of \"%1\": %2")
                       .arg(humanFriendlyPath(), errorText(errno)));
    refresh();
}

bool VtrMacFileInfo::supportsCreationDate()
{
    return false;
}

qint64 VtrMacFileInfo::size()
{
    if (!exists()) return 0;
    if (isFolder()) {
        if (isVolume()) return volumeCapacity(path());
        return VtrBaseFileInfo::size();
    }
    const struct stat *st = cachedStat();
    return st && !_kind.badAlias ? qint64(st->st_size) : 0;
}

qint64 VtrMacFileInfo::resolvedSize()
{
    VtrFileInfoPtr resolved = resolvedFileInfo();
    return resolved ? resolved->size() : 0;
}

int VtrMacFileInfo::maxPathLength()
{
    return PATH_MAX - 1;
}

qint64 VtrMacFileInfo::preferredChunkSize()
{
    return kChunkSize;
}

QString VtrMacFileInfo::makeValidFilename(const QString &name, bool encodeNonASCII)
{
    if (!encodeNonASCII) return makeNameOSCompliant(name);
    QString result;
    result.reserve(name.size());
    for (const QChar c : name) {
        const ushort unit = c.unicode();
        if (unit < 0x20 || c == QLatin1Char('/'))
            result.append(QLatin1Char('_'));
        else if (unit < 0x7F)
            result.append(c);
        else
            result.append(QStringLiteral("U%1").arg(unit, 4, 16, QLatin1Char('0')).toUpper());
    }
    return makeNameOSCompliant(result);
}

QVariantMap VtrMacFileInfo::savedInfo()
{
    QVariantMap info = VtrBaseFileInfo::savedInfo();
    const QString volumePath = info.value(QStringLiteral("volumeStandardPath")).toString();
    int memoryType = 0;
    if (!volumePath.isEmpty()) {
        if (isBlackberryInternalMemoryForPath(volumePath))
            memoryType = 1;
        else if (isBlackberryMemoryForPath(volumePath))
            memoryType = 2;
    }
    info.insert(QStringLiteral("memoryType"), memoryType);
    return info;
}

// ---- links ---------------------------------------------------------------------------------------

bool VtrMacFileInfo::resolveAlias()
{
    cacheKind();
    if (!_kind.valid || !_kind.isAlias) return false;
    if (_kind.badAlias) {
        _setPath(QStringLiteral(""));
        return true;
    }
    const QString target = canonicalPath(path());
    if (target.isNull()) {
        _setPath(QStringLiteral(""));
        return true;
    }
    _setPath(target);
    return true;
}

VtrFileInfoPtr VtrMacFileInfo::aliasTarget()
{
    if (!isAlias() || _kind.badAlias) return nullptr;
    const QString target = canonicalPath(path());
    if (target.isNull()) return nullptr;
    return fileInfoWithPath(target);
}

VtrFileInfoPtr VtrMacFileInfo::resolvedFileInfo()
{
    VtrFileInfoPtr target = aliasTarget();
    return target ? target : self();
}

QString VtrMacFileInfo::resolvedPath()
{
    const QString p = path();
    if (p.isEmpty()) return QString();
    return canonicalPath(p);
}

// ---- children and listing -------------------------------------------------------------------------

VtrFileInfoPtr VtrMacFileInfo::find(const QString &name)
{
    return findChild(name, nullptr);
}

VtrMacFileInfo::Ptr VtrMacFileInfo::findChild(const QString &name, bool *missing)
{
    if (missing) *missing = false;
    // An object for no item has no children (never the working folder's).
    if (path().isEmpty()) return std::make_shared<VtrMacFileInfo>();
    const QString base = isFile() ? parentPath(path()) : path();
    const QString exact = childPath(base, name);
    if (name.isEmpty()) return fileInfoWithPath(exact);
    struct stat st;
    if (lstatPath(exact, &st)) {
        Ptr found = fileInfoWithPath(exact);
        found->adoptStat(st);
        return found;
    }
    // One missing name: straight to the letter-case match. Copies write
    // their temporary file under its exact name only, so that one needs no
    // letter-case match (a listing removes a leftover of any case).
    if (isSafeName(name)) {
        // A folder keeps the state its index was checked against: a copy
        // creates its temporary file there right after this look-up.
        FolderState *seen = nullptr;
        if (base.size() == path().size()) {
            if (!_folderSeen) _folderSeen = std::make_unique<FolderState>();
            seen = _folderSeen.get();
        }
        const QString match =
            name == QLatin1String(kVtrCopyTempFileName) ? QString() : findNameIgnoringCase(base, name, seen);
        if (!match.isNull()) return fileInfoWithPath(childPath(base, match));
        if (missing) *missing = true;
        Ptr absent = fileInfoWithPath(exact);
        absent->_absentOnce = true;
        return absent;
    }

    // Linux names keep their case; callers written for disks that ignore it
    // still find "Music" when they ask for "music". Each missing level is
    // matched on its own.
    QString current = base;
    const QStringList components = vtr::posixPathComponents(name);
    for (qsizetype i = 0; i < components.size(); ++i) {
        const QString &component = components.at(i);
        if (component == QLatin1String("/")) {
            current = i == 0 && current.isEmpty() ? QStringLiteral("/") : current;
            continue;
        }
        QString next = childPath(current, component);
        if (!existsNoFollow(next) && isSafeName(component)) {
            const QString match = findNameIgnoringCase(current, component);
            if (match.isNull()) {
                // Nothing to match below a missing level: keep the rest as asked.
                for (qsizetype j = i; j < components.size(); ++j)
                    current = childPath(current, components.at(j));
                return fileInfoWithPath(current);
            }
            next = childPath(current, match);
        }
        current = next;
    }
    return fileInfoWithPath(current);
}

VtrFileInfoList VtrMacFileInfo::findDeep(const QString &name)
{
    VtrFindItemFilter filter(name, true, false);
    return folderContentsDeepWithFilter(&filter);
}

VtrFileInfoPtr VtrMacFileInfo::findFirstDeep(const QString &name)
{
    VtrFindItemFilter filter(name, true, true);
    const VtrFileInfoList found = folderContentsDeepWithFilter(&filter);
    return found.isEmpty() ? nullptr : found.first();
}

QString VtrMacFileInfo::uniqueFilename(const QString &name)
{
    // The temporary copy file's name is never matched in another letter case
    // by find(); the root's listing answers for it.
    if (!isSafeName(name) || vtr::isTemporaryCopyFileName(name)) return VtrBaseFileInfo::uniqueFilename(name);
    const VtrFileInfoPtr folder = isFolder() ? self() : parentFolder();
    if (!folder) return name;
    const auto taken = [&folder](const QString &candidate) {
        const VtrFileInfoPtr item = folder->find(candidate);
        return item && item->exists();
    };
    if (!taken(name)) return name;
    const QString base = vtr::posixDeletingPathExtension(name);
    const QString extension = vtr::posixPathExtension(name);
    for (int n = 1; n < kMaxUniqueNameAttempts; ++n) {
        const QString candidate = vtr::numberedName(base, extension, n);
        if (!taken(candidate)) return candidate;
    }
    VTR_LOG(2, QStringLiteral("No free name for \"%1\" in \"%2\".").arg(name, folder->humanFriendlyPath()));
    return QString();
}

void VtrMacFileInfo::folderContentsWithFilterWithArray(VtrBaseFileInfoFilter *filter, VtrFileInfoList &array,
                                                       bool *stop, const QString &rootNodePath)
{
    if (!isFolder() || !exists() || isAlias()) return;
    const QString folder = path();
    struct stat before;
    const bool statted = statPath(folder, &before);
    QStringList names;
    QList<unsigned char> types;
    if (!listFolder(folder, names, &types)) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR) return;
        throw VtrException(
            QStringLiteral("folderContentsWithFilter"),
            vtrLocalized("An exception occurred while trying to get the contents of the folder \"%1\". (%2)")
                .arg(humanFriendlyPath(), errorText(error)));
    }
    if (statted) rememberListing(folder, before, names);

    std::vector<qsizetype> order(size_t(names.size()));
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(),
              [&](qsizetype a, qsizetype b) { return fileNameLessThan(names.at(a), names.at(b)); });

    QString canonicalRoot;
    bool canonicalRootKnown = false;
    for (const qsizetype index : order) {
        const QString &entryName = names.at(index);
        // A copy's temporary file is never listed. A leftover stays: the
        // folder may be a card's, and only a copy into it clears one.
        if (vtr::isTemporaryCopyFile(folder, entryName)) continue;
        const QString child = childPath(folder, entryName);
        auto item = std::make_shared<VtrMacFileInfo>();
        item->setPath(child);
        if (types.at(index) == DT_DIR)
            item->presetKind(true);
        else if (types.at(index) == DT_REG)
            item->presetKind(false);

        if (item->isFolder()) {
            if (!item->exists()) continue;
            if (item->isAlias()) {
                // A link that leads back into the tree being listed.
                const QString target = canonicalPath(child);
                if (!target.isNull() && target != child) {
                    const QString withSlash = target.endsWith(QLatin1Char('/')) ? target : target + QLatin1Char('/');
                    if (!canonicalRootKnown) {
                        canonicalRootKnown = true;
                        QString root = rootNodePath;
                        while (root.size() > 1 && root.endsWith(QLatin1Char('/')))
                            root.chop(1);
                        canonicalRoot = root.isEmpty() ? QString() : canonicalPath(root);
                        if (!canonicalRoot.isEmpty() && !canonicalRoot.endsWith(QLatin1Char('/')))
                            canonicalRoot += QLatin1Char('/');
                    }
                    if ((!rootNodePath.isEmpty() && withSlash.startsWith(rootNodePath)) ||
                        (!canonicalRoot.isEmpty() && withSlash.startsWith(canonicalRoot)))
                        continue;
                }
            }
        }

        bool itemStop = false;
        const bool include = filter ? filter->includeItem(item, &itemStop) : true;
        if (include) array.append(item);
        if (itemStop) {
            if (stop) *stop = true;
            return;
        }
    }
}

VtrMacFileInfo::Ptr VtrMacFileInfo::findFolder(qint16 domain, quint32 folderType, bool createIfNotExist)
{
    const QString p = findFolderPath(domain, folderType, createIfNotExist);
    return p.isNull() ? nullptr : fileInfoWithPath(p);
}

QString VtrMacFileInfo::findFolderPath(qint16 domain, quint32 folderType, bool createIfNotExist)
{
    return VtrFileInfo::findFolderPath(domain, folderType, createIfNotExist);
}

// ---- creating and changing ---------------------------------------------------------------------------

VtrFileInfoPtr VtrMacFileInfo::createFile(const QString &name, const QByteArray &contents,
                                          const QVariantMap &attributes, bool ensureUniqueName,
                                          FileInfoProgress *progress, void *userData)
{
    if (!isSafeName(name)) {
        VTR_LOG(2, QStringLiteral("Refused to create a file named \"%1\" in \"%2\".").arg(name, humanFriendlyPath()));
        return nullptr;
    }
    QString targetPath;
    // The copy's temporary file has one spelling, with no letter-case match:
    // the exclusive create itself tells whether it is there.
    const bool direct = !ensureUniqueName && name == QLatin1String(kVtrCopyTempFileName) && !path().isEmpty() &&
                        isFolder();
    std::optional<ChangeInFolder> change;
    int fd = -1;
    if (direct) {
        targetPath = childPath(path(), name);
        // Used once, when the look-up of the copy's destination just made it.
        const FolderState seen = _folderSeen ? std::exchange(*_folderSeen, FolderState()) : FolderState();
        change.emplace(path(), seen);
        fd = ::open(encode(targetPath).constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0) {
            // Only a file made here is ever a copy's temporary file: an item
            // that stands at the name after the leftover went (a link another
            // user put there) is neither written nor written through.
            const int error = errno;
            vtr::noteSystemFailure(error, targetPath);
            VTR_LOG(2, QStringLiteral("Could not create the file \"%1\": %2").arg(targetPath, errorText(error)));
            return nullptr;
        }
    }
    if (!change) {
        bool missing = false;
        const Ptr target = findChild(name, &missing);
        if (!target) return nullptr;
        targetPath = target->path();
        if (!missing && target->exists()) {
            if (!ensureUniqueName) {
                if (target->isFolder()) return nullptr;
                target->setFileContentsWithProgress(contents, progress, userData);
                return target;
            }
            VtrFileInfoPtr folder = isFile() ? parentFolder() : self();
            if (!folder) return nullptr;
            const QString unique = folder->uniqueFilename(name);
            if (unique.isNull()) return nullptr;
            targetPath = childPath(folder->path(), unique);
        }
        change.emplace(parentPath(targetPath));
        fd = ::open(encode(targetPath).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    }
    if (fd < 0) {
        const int error = errno;
        if (error != EEXIST) {
            vtr::noteSystemFailure(error, targetPath);
            VTR_LOG(2, QStringLiteral("Could not create the file \"%1\": %2").arg(targetPath, errorText(error)));
        }
        return fileInfoWithPath(targetPath);
    }
    if (direct && contents.isEmpty() && attributes.isEmpty()) {
        // The temporary file is opened for writing next: it keeps this
        // descriptor for that (an empty file of ours, nothing to check).
        // Its name stays out of the letter-case index: it is only ever
        // looked up under its one spelling, and is gone again soon.
        Ptr created = fileInfoWithPath(targetPath);
        created->presetKind(false);
        created->_createdFd = fd;
        struct stat made;
        created->_createdAs = ::fstat(fd, &made) == 0 ? std::pair(made.st_dev, made.st_ino) : std::pair<dev_t, ino_t>();
        created->_folderAfterCreate = std::make_unique<FolderState>(change->finish());
        return created;
    }
    bool ok = writeAll(fd, contents.constData(), contents.size());
    int error = errno;
    const auto permissions = attributes.constFind(QStringLiteral("NSFilePosixPermissions"));
    if (ok && permissions != attributes.constEnd()) ::fchmod(fd, mode_t(permissions->toInt() & 07777));
    const QDateTime modified = attributes.value(QStringLiteral("NSFileModificationDate")).toDateTime();
    if (ok && modified.isValid()) {
        const struct timespec times[2] = {{0, UTIME_OMIT}, timespecFromDate(modified)};
        ::futimens(fd, times);
    }
    if (::close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    Ptr created = fileInfoWithPath(targetPath);
    if (!ok) {
        // A half-written new file is no file at all.
        ::unlink(encode(targetPath).constData());
        vtr::noteSystemFailure(error, targetPath);
        VTR_LOG(2, QStringLiteral("Could not write the file \"%1\": %2").arg(targetPath, errorText(error)));
    } else {
        change->added(lastComponent(targetPath));
        // Made just now by this call: a plain file, no need to ask the disk.
        created->presetKind(false);
    }
    return created;
}

VtrFileInfoPtr VtrMacFileInfo::createFolder(const QString &name)
{
    QString relative = name;
    if (relative.size() > 1 && relative.endsWith(QLatin1Char('/'))) relative.chop(1);
    if (relative.contains(QChar(0))) return nullptr;
    VtrFileInfoPtr current = isFolder() ? self() : parentFolder();
    if (!current) return nullptr;

    for (const QString &component : vtr::posixPathComponents(relative)) {
        if (component == QLatin1String("/")) {
            current = fileInfoWithPath(QStringLiteral("/"));
            continue;
        }
        if (component == QLatin1String(".")) continue;
        if (component == QLatin1String("..")) {
            VTR_LOG(2, QStringLiteral("Refused to create the folder \"%1\" in \"%2\": it leads out of the folder.")
                           .arg(name, humanFriendlyPath()));
            return nullptr;
        }
        VtrFileInfoPtr next = current->find(component);
        if (!next) return nullptr;
        next = next->resolvedFileInfo();
        if (!next) return nullptr;
        if (next->exists()) {
            if (!next->isFolder()) return nullptr;
            current = next;
            continue;
        }
        const QString nextPath = next->path();
        ChangeInFolder change(parentPath(nextPath));
        if (::mkdir(encode(nextPath).constData(), 0777) != 0) {
            const int error = errno;
            struct stat st;
            if (!(error == EEXIST && statPath(nextPath, &st) && S_ISDIR(st.st_mode))) {
                VTR_LOG(2,
                        QStringLiteral("The folder \"%1\" could not be created: %2").arg(nextPath, errorText(error)));
                return nullptr;
            }
        } else {
            change.added(lastComponent(nextPath));
        }
        next->refresh();
        current = next;
    }
    return current;
}

VtrFileInfoPtr VtrMacFileInfo::createUniqueFolder(const QString &name)
{
    const QString unique = uniqueFilename(name);
    if (unique.isNull()) return nullptr;
    return createFolder(unique);
}

void VtrMacFileInfo::setName(const QString &newName)
{
    if (newName.isEmpty() || !exists()) return;
    if (!isSafeName(newName)) {
        VTR_LOG(2, QStringLiteral("Refused to rename \"%1\" to \"%2\".").arg(humanFriendlyPath(), newName));
        return;
    }
    const QString from = path();
    const QString folder = parentPath(from);
    const QString to = childPath(folder, newName);
    if (to == from) return;

    ChangeInFolder change(folder);
    bool ok = renameNoReplace(from, to);
    if (!ok && errno == EEXIST) {
        // On a disk that ignores case, "a.jpg" to "A.JPG" meets the item itself.
        struct stat a, b;
        if (lstatPath(from, &a) && lstatPath(to, &b) && a.st_dev == b.st_dev && a.st_ino == b.st_ino) {
            const QString step = temporaryNameIn(folder, newName);
            if (!step.isNull() && renameNoReplace(from, step)) {
                ok = renameNoReplace(step, to);
                if (!ok) ::rename(encode(step).constData(), encode(from).constData());
            }
        } else {
            errno = EEXIST;
        }
    }
    if (!ok) {
        VTR_LOG(2, QStringLiteral("Could not rename \"%1\" to \"%2\": %3")
                       .arg(humanFriendlyPath(), newName, errorText(errno)));
        return;
    }
    change.removed(lastComponent(from));
    change.added(newName);
    _setPath(to);
}

void VtrMacFileInfo::setNameKeepingExtension(const QString &newName)
{
    const QString ext = extension();
    setName(ext.isEmpty() ? newName : newName + QLatin1Char('.') + ext);
}

namespace {

// A move between file systems: a complete copy beside the destination first,
// renamed over it (or, without `replace`, onto it only while it is free), and
// only then the source removed.
bool moveAcrossFileSystems(const QString &from, const QString &to, bool replace)
{
    const QString folder = parentPath(to);
    const QString step = temporaryNameIn(folder, lastComponent(to));
    if (step.isNull()) return false;
    if (!copyItem(from, step)) return false;
    if (replace ? ::rename(encode(step).constData(), encode(to).constData()) != 0 : !renameNoReplace(step, to)) {
        const int error = errno;
        removeItem(step);
        errno = error;
        return false;
    }
    if (!removeItem(from))
        VTR_LOG(1, QStringLiteral("Moved \"%1\" to \"%2\" but could not remove the original: %3")
                       .arg(from, to, errorText(errno)));
    return true;
}

} // namespace

FileInfoCopyStatus VtrMacFileInfo::moveTo(const VtrFileInfoPtr &destination)
{
    return moveItem(destination, true);
}

FileInfoCopyStatus VtrMacFileInfo::moveToFreeName(const VtrFileInfoPtr &destination)
{
    return moveItem(destination, false);
}

FileInfoCopyStatus VtrMacFileInfo::moveItem(const VtrFileInfoPtr &destination, bool replace)
{
    auto *mac = dynamic_cast<VtrMacFileInfo *>(destination.get());
    if (!mac || !exists()) return kFileInfoCopyKindCannot;
    const QString from = path();
    const QString to = mac->path();
    if (to.isEmpty()) return kFileInfoCopyKindCannot;
    if (to == from) return kFileInfoCopyOK;
    if (const auto made = _createdAs) {
        // A copy's temporary file moves into place only while it is the file
        // made for it: not an item another user put at its name meanwhile,
        // also on a second try after its destination was taken.
        struct stat now;
        if (!lstatPath(from, &now) || !S_ISREG(now.st_mode) || now.st_dev != made->first ||
            now.st_ino != made->second) {
            VTR_LOG(
                2, QStringLiteral("Did not move \"%1\" to \"%2\": it is no longer the file made there.").arg(from, to));
            return kFileInfoCopyKindCannot;
        }
    }

    bool ok = false;
    bool sameItem = false;
    {
        const QString fromFolder = parentPath(from);
        const QString toFolder = parentPath(to);
        const std::unique_ptr<FolderState> known = std::move(_folderAfterCreate);
        ChangeInFolder source(fromFolder, known ? *known : FolderState());
        std::optional<ChangeInFolder> target;
        if (toFolder != fromFolder) target.emplace(toFolder);
        ok = replace ? ::rename(encode(from).constData(), encode(to).constData()) == 0 : renameNoReplace(from, to);
        sameItem = ok;
        if (!ok && errno == EXDEV) ok = moveAcrossFileSystems(from, to, replace);
        if (ok) {
            // (A temporary file made by createFile() was never indexed.)
            if (!known) source.removed(lastComponent(from));
            (target ? *target : source).added(lastComponent(to));
        }
    }
    if (ok) _createdAs.reset();
    if (!ok) {
        const int error = errno;
        if (!replace && error == EEXIST) return kFileInfoCopyDestinationTaken;
        vtr::noteSystemFailure(error, to);
        VTR_LOG(2, QStringLiteral("Could not move \"%1\" to \"%2\": %3").arg(from, to, errorText(error)));
        return kFileInfoCopyKindCannot;
    }
    if (sameItem && _kind.valid && !_kind.isAlias) {
        // A rename keeps the item (inode, kind, contents): only what depends
        // on the path is forgotten. A link is looked at again: a relative
        // one may lead elsewhere from its new folder.
        setPath(to);
        _hasDRM = -1;
        _blackberryInfoValid = false;
    } else {
        _setPath(to);
    }
    if (mac != this) mac->refresh();
    return kFileInfoCopyOK;
}

bool VtrMacFileInfo::remove()
{
    if (!exists()) return false;
    const QString p = path();
    bool ok;
    {
        ChangeInFolder change(parentPath(p));
        ok = removeItem(p);
        if (ok) change.removed(lastComponent(p));
    }
    if (!ok) {
        const int error = errno;
        vtr::noteSystemFailure(error, p);
        VTR_LOG(2, QStringLiteral("Could not remove \"%1\": %2").arg(humanFriendlyPath(), errorText(error)));
    }
    refresh();
    return ok;
}

bool VtrMacFileInfo::removeContents()
{
    if (!exists() || !isFolder()) return false;
    QStringList names;
    if (!listFolder(path(), names)) return false;
    bool all = true;
    for (const QString &entry : names) {
        if (!fileInfoWithPath(childPath(path(), entry))->remove()) all = false;
    }
    return all;
}

// ---- contents ---------------------------------------------------------------------------------------------

QByteArray VtrMacFileInfo::fileContentsWithProgress(FileInfoProgress *progress, void *userData)
{
    if (!exists() || !isFile()) return QByteArray();
    struct stat st;
    const int fd = openRegularFile(path(), O_RDONLY, &st);
    if (fd < 0) return QByteArray();
    const qint64 total = qint64(st.st_size);
    FileInfoReadProgress *reader = total > preferredChunkSize() ? asReadProgress(progress) : nullptr;

    QByteArray result;
    if (reader) {
        // The whole length at once; a stop leaves the unread rest zero.
        result = QByteArray(total, '\0');
        qint64 done = 0;
        while (done < total) {
            const qint64 length = std::min(kChunkSize, total - done);
            const ssize_t n = ::pread(fd, result.data() + done, size_t(length), off_t(done));
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                ::close(fd);
                return QByteArray();
            }
            if (n == 0) break;
            done += n;
            if (reader->readingContentsForFile(self(), result, done, total, userData)) break;
        }
        ::close(fd);
        return result;
    }

    result = QByteArray(total, Qt::Uninitialized);
    qint64 done = 0;
    for (;;) {
        if (done == result.size()) result.resize(result.size() + std::max<qint64>(65536, result.size() / 2));
        const ssize_t n =
            ::read(fd, result.data() + done, size_t(std::min<qint64>(result.size() - done, qint64(1) << 30)));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            return QByteArray();
        }
        if (n == 0) break;
        done += n;
    }
    ::close(fd);
    result.truncate(done);
    if (result.isNull()) result = QByteArray("");
    return result;
}

bool VtrMacFileInfo::writeWholeFile(const QString &target, const QByteArray &data, FileInfoWriteProgress *progress,
                                    void *userData, bool *stopped)
{
    *stopped = false;
    const QString folder = parentPath(target);
    struct stat old;
    const bool hadFile = lstatPath(target, &old) && S_ISREG(old.st_mode);

    ChangeInFolder change(folder);
    QString stepPath;
    const int fd = createTemporaryFileIn(folder, lastComponent(target), &stepPath);
    if (fd < 0) {
        const int error = errno;
        vtr::noteSystemFailure(error, target);
        VTR_LOG(2, QStringLiteral("Could not write \"%1\": %2").arg(target, errorText(error)));
        return false;
    }
    if (hadFile) ::fchmod(fd, old.st_mode & 07777);

    bool ok = true;
    const qint64 total = data.size();
    if (progress) {
        qint64 done = 0;
        while (ok && done < total) {
            const qint64 length = std::min(kChunkSize, total - done);
            ok = writeAll(fd, data.constData() + done, length);
            if (!ok) break;
            done += length;
            if (progress->writingContentsForFile(self(), done, total, userData)) {
                *stopped = true;
                break;
            }
        }
    } else {
        ok = writeAll(fd, data.constData(), total);
    }
    int error = errno;
    struct stat made;
    const bool known = ::fstat(fd, &made) == 0;
    if (::close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (ok && !*stopped && ::rename(encode(stepPath).constData(), encode(target).constData()) != 0) {
        ok = false;
        error = errno;
    }
    if (!ok || *stopped) {
        ::unlink(encode(stepPath).constData());
        if (!ok) {
            vtr::noteSystemFailure(error, target);
            VTR_LOG(2, QStringLiteral("Could not write \"%1\": %2").arg(target, errorText(error)));
        }
        return ok;
    }
    if (!hadFile) change.added(lastComponent(target));
    // A copy's temporary file given its contents whole is still one made here.
    if (_createdAs && target == path())
        _createdAs = known ? std::pair(made.st_dev, made.st_ino) : std::pair<dev_t, ino_t>();
    return true;
}

bool VtrMacFileInfo::setFileContentsWithProgress(const QByteArray &data, FileInfoProgress *progress, void *userData)
{
    if (!exists() || !isFile()) return false;
    // Through a link, the link's target gets the new contents.
    QString target = path();
    if (isAlias()) {
        target = canonicalPath(target);
        if (target.isNull()) return false;
    }
    FileInfoWriteProgress *writer = data.size() > preferredChunkSize() ? asWriteProgress(progress) : nullptr;
    bool stopped = false;
    const bool ok = writeWholeFile(target, data, writer, userData, &stopped);
    refresh();
    return ok && !stopped;
}

VtrFileInfoHandlePtr VtrMacFileInfo::openFileForReading()
{
    if (path().isEmpty()) return nullptr;
    struct stat st;
    const int fd = openRegularFile(path(), O_RDONLY, &st);
    if (fd < 0) {
        vtr::noteSystemFailure(errno, path());
        return nullptr;
    }
    const qint64 length = qint64(st.st_size);
    if (length > kChunkSize) ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    const bool sparse = qint64(st.st_blocks) * 512 < length;
    return std::make_unique<MacFileHandle>(fd, kModeRead, length, sparse, path());
}

VtrFileInfoHandlePtr VtrMacFileInfo::openFileForWriting()
{
    if (path().isEmpty()) return nullptr;
    if (_createdFd >= 0) return std::make_unique<MacFileHandle>(std::exchange(_createdFd, -1), kModeWrite, 0, false, path());
    struct stat st;
    const int fd = openRegularFile(path(), O_WRONLY, &st);
    if (fd < 0) {
        vtr::noteSystemFailure(errno, path());
        return nullptr;
    }
    // Only a file that holds something is truncated: on ext4 a truncation
    // switches the file to a write path that is twice as slow.
    if (st.st_size != 0 && ::ftruncate(fd, 0) != 0) {
        vtr::noteSystemFailure(errno, path());
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<MacFileHandle>(fd, kModeWrite, 0, false, path());
}

void VtrMacFileInfo::closeFile(VtrFileInfoHandlePtr handle)
{
    auto *file = dynamic_cast<MacFileHandle *>(handle.get());
    if (!file) return;
    const bool wrote = file->mode == kModeWrite;
    // Writing through the object's own handle changes a plain file's
    // contents, not its kind: only the status is asked again when needed.
    const bool keepKind =
        wrote && _kind.valid && !_kind.isAlias && !_kind.isFolder && _kind.regular && file->path == path();
    if (file->fd >= 0) {
        if (::close(file->fd) != 0 && wrote) {
            const int error = errno;
            vtr::noteSystemFailure(error, file->path);
            VTR_LOG(2, QStringLiteral("Closing \"%1\" failed: %2").arg(humanFriendlyPath(), errorText(error)));
        }
        file->fd = -1;
    }
    handle.reset();
    if (wrote) {
        const Kind kind = _kind;
        refresh();
        if (keepKind) _kind = kind;
    }
}

QByteArray VtrMacFileInfo::fileContentsWithRange(const VtrFileRange &range, VtrFileInfoHandle *handle)
{
    auto *file = dynamic_cast<MacFileHandle *>(handle);
    if (!file || file->fd < 0 || range.location < 0 || range.length < 0) return QByteArray();
    if (range.length == 0) return QByteArray("");
    const qint64 length = std::min<qint64>(range.length, qint64(1) << 30);
    // A range that lies in a hole of a sparse file is zeros: no need to have
    // the kernel fill page after page with them.
    const off_t dataAt =
        file->mayHaveHoles ? ::lseek(file->fd, off_t(range.location), SEEK_DATA) : off_t(range.location);
    if ((dataAt < 0 && errno == ENXIO) || (dataAt >= 0 && qint64(dataAt) >= range.location + length)) {
        struct stat st;
        if (::fstat(file->fd, &st) == 0) {
            const qint64 available = std::clamp<qint64>(qint64(st.st_size) - range.location, 0, length);
            return QByteArray(available, '\0');
        }
    }
    QByteArray data(length, Qt::Uninitialized);
    qint64 got = 0;
    while (got < length) {
        const ssize_t n = ::pread(file->fd, data.data() + got, size_t(length - got), off_t(range.location + got));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            vtr::noteSystemFailure(errno, file->path);
            return QByteArray();
        }
        if (n == 0) break;
        got += n;
    }
    data.truncate(got);
    return data;
}

FileInfoCopyStatus VtrMacFileInfo::setFileContentsWithRange(const QByteArray &data, const VtrFileRange &range,
                                                            VtrFileInfoHandle *handle)
{
    auto *file = dynamic_cast<MacFileHandle *>(handle);
    if (!file || file->fd < 0 || file->mode != kModeWrite) return kFileInfoCopyKindCannot;
    if (range.location < 0) return kFileInfoCopyBadArguments;
    const qint64 location = range.location;
    const qint64 length = data.size();
    if (location > file->size) {
        if (::ftruncate(file->fd, off_t(location)) != 0) {
            vtr::noteSystemFailure(errno, file->path);
            return kFileInfoCopyWriteFailed;
        }
        file->size = location;
    }
    if (length == 0) return kFileInfoCopyOK;
    // Zeros past the end become a hole: a sparse source stays sparse.
    if (location >= file->size && isAllZero(data.constData(), length)) {
        if (::ftruncate(file->fd, off_t(location + length)) != 0) {
            vtr::noteSystemFailure(errno, file->path);
            return kFileInfoCopyWriteFailed;
        }
        file->size = location + length;
        return kFileInfoCopyOK;
    }
    if (!writeAllAt(file->fd, data.constData(), length, location)) {
        const int error = errno;
        vtr::noteSystemFailure(error, file->path);
        VTR_LOG(2, QStringLiteral("Writing \"%1\" failed: %2").arg(humanFriendlyPath(), errorText(error)));
        return kFileInfoCopyWriteFailed;
    }
    file->size = std::max(file->size, location + length);
    return kFileInfoCopyOK;
}

namespace {

// copy_file_range(2) answers these when it cannot copy between the two files
// at all (another file system, an old kernel, a file system without it).
bool kernelCopyRefused(int error)
{
    return error == EXDEV || error == EINVAL || error == ENOSYS || error == EOPNOTSUPP || error == EBADF;
}

// Copies [from, to) at the same offsets inside the kernel, continuing short
// answers. The bytes copied (fewer when the source ends); -1 with errno when
// the first call fails, a smaller count when a later one does.
qint64 kernelCopyAt(int in, int out, qint64 from, qint64 to)
{
    qint64 done = 0;
    while (from + done < to) {
        loff_t inAt = loff_t(from + done);
        loff_t outAt = inAt;
        const size_t length = size_t(std::min<qint64>(to - from - done, qint64(1) << 30));
        const ssize_t n = ::copy_file_range(in, &inAt, out, &outAt, length, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return done > 0 ? done : -1;
        if (n == 0) break;
        done += n;
    }
    return done;
}

} // namespace

FileInfoCopyStatus VtrMacFileInfo::copyRangeToFile(const VtrFileRange &range, VtrFileInfoHandle *readHandle,
                                                   VtrBaseFileInfo *destination, VtrFileInfoHandle *writeHandle,
                                                   qint64 *copied)
{
    if (copied) *copied = 0;
    auto *in = dynamic_cast<MacFileHandle *>(readHandle);
    auto *out = dynamic_cast<MacFileHandle *>(writeHandle);
    if (!in || !out || in->fd < 0 || out->fd < 0 || in->mode != kModeRead || out->mode != kModeWrite ||
        !out->kernelCopy || range.location < 0 || range.length < 0)
        return kFileInfoCopyNotSupported;

    const qint64 end = range.location + std::min<qint64>(range.length, qint64(1) << 30);
    qint64 position = range.location;
    while (position < end) {
        // Holes of a sparse source stay holes where the copy lengthens the
        // destination; below its end they are copied (as zeros) over what is there.
        qint64 dataFrom = position;
        qint64 dataTo = end;
        if (in->mayHaveHoles && position >= out->size) {
            const off_t data = ::lseek(in->fd, off_t(position), SEEK_DATA);
            if (data < 0 && errno == ENXIO) {
                // Nothing but a hole up to the source's end (or past it).
                struct stat st;
                if (::fstat(in->fd, &st) != 0) break;
                position = std::clamp<qint64>(qint64(st.st_size), position, end);
                break;
            }
            if (data >= 0) {
                dataFrom = std::min<qint64>(qint64(data), end);
                const off_t hole = ::lseek(in->fd, data, SEEK_HOLE);
                if (hole > data) dataTo = std::min<qint64>(qint64(hole), end);
            }
            position = dataFrom;
            if (dataFrom >= end) break;
        }

        // (A write past the destination's end leaves a hole before it.)
        const qint64 done = kernelCopyAt(in->fd, out->fd, dataFrom, dataTo);
        if (done < 0) {
            // The rest goes through the caller's read and write, which also
            // tell a failed read from a failed write.
            if (kernelCopyRefused(errno)) out->kernelCopy = false;
            break;
        }
        position = dataFrom + done;
        out->size = std::max(out->size, position);
        if (position < dataTo) break; // the source ended early
    }

    const qint64 total = position - range.location;
    // Nothing copied (the source ends here, or the kernel refused): the
    // caller's read and write find out which.
    if (total <= 0) return kFileInfoCopyNotSupported;
    // A hole at the end of the range leaves the destination short of it.
    if (position > out->size) {
        if (::ftruncate(out->fd, off_t(position)) != 0) {
            const int error = errno;
            vtr::noteSystemFailure(error, out->path);
            VTR_LOG(2, QStringLiteral("Writing \"%1\" failed: %2")
                           .arg(destination ? destination->humanFriendlyPath() : QString(), errorText(error)));
            return kFileInfoCopyWriteFailed;
        }
        out->size = position;
    }
    if (copied) *copied = total;
    return kFileInfoCopyOK;
}

// ---- copying ----------------------------------------------------------------------------------------------

FileInfoCopyStatus VtrMacFileInfo::copyToWithName(const VtrFileInfoPtr &destination, const QString &newName,
                                                  VtrFileInfoPtr *outNewItem)
{
    auto *mac = dynamic_cast<VtrMacFileInfo *>(destination.get());
    if (!mac) return VtrBaseFileInfo::copyToWithName(destination, newName, outNewItem);
    if (outNewItem) *outNewItem = nullptr;
    if (!exists()) return kFileInfoCopyBadArguments;
    VtrFileInfoPtr folder;
    if (mac->isFolder())
        folder = destination;
    else if (mac->isFile())
        folder = mac->parentFolder();
    if (!folder || !isSafeName(newName)) return kFileInfoCopyBadArguments;

    VtrFileInfoPtr target = folder->find(newName);
    if (!target) return kFileInfoCopyBadArguments;
    if (target->exists()) return kFileInfoCopyKindCannot;
    const QString targetPath = target->path();
    const QString targetFolder = parentPath(targetPath);

    // A folder copied into itself would never end.
    if (isFolder() && !isAlias()) {
        const QString source = canonicalPath(path());
        const QString into = canonicalPath(targetFolder);
        if (!source.isNull() && !into.isNull() && (into == source || into.startsWith(source + QLatin1Char('/'))))
            return kFileInfoCopyKindCannot;
    }

    bool ok = false;
    {
        ChangeInFolder change(targetFolder);
        const QString step = temporaryNameIn(targetFolder, newName);
        ok = !step.isNull() && copyItem(path(), step);
        if (ok && !renameNoReplace(step, targetPath)) {
            const int error = errno;
            removeItem(step);
            errno = error;
            ok = false;
        }
        if (ok) change.added(lastComponent(targetPath));
    }
    if (!ok) {
        VTR_LOG(2, QStringLiteral("Could not copy \"%1\" to \"%2\": %3")
                       .arg(humanFriendlyPath(), targetPath, errorText(errno)));
        return kFileInfoCopyKindCannot;
    }
    target->refresh();
    if (outNewItem) *outNewItem = target;
    return kFileInfoCopyOK;
}

void VtrMacFileInfo::copyToFile(const VtrFileInfoPtr &destination, FileInfoProgress *progress, void *userData)
{
    // A cancel belongs to the copy it was sent to, not to every later one.
    clearCancelCopy();
    const QString failureName = QStringLiteral("copyToFile");
    auto *mac = dynamic_cast<VtrMacFileInfo *>(destination.get());
    if (!mac)
        throw VtrException(failureName,
                           vtrLocalized("Can't copy the file \"%1\" because the destination \"%2\" is not a file.")
                               .arg(humanFriendlyPath(), destination ? destination->humanFriendlyPath() : QString()));
    if (mac->isEqualTo(self())) return;
    if (mac->exists() && !mac->isFile())
        throw VtrException(failureName,
                           vtrLocalized("Can't copy the file \"%1\" because the destination \"%2\" is not a file.")
                               .arg(humanFriendlyPath(), mac->humanFriendlyPath()));
    if (!exists())
        throw VtrException(
            failureName,
            vtrLocalized("Can't copy the file \"%1\" because it does not exist.").arg(humanFriendlyPath()));
    if (!isFile())
        throw VtrException(
            failureName, vtrLocalized("Can't copy the file \"%1\" because it is not a file.").arg(humanFriendlyPath()));

    const qint64 total = size();
    const qint64 chunk = preferredChunkSize();
    FileInfoCopyProgress *reporter = asCopyProgress(progress);
    const QString writeFailure =
        vtrLocalized("Could not open the file \"%1\" for writing.").arg(mac->humanFriendlyPath());
    if (!mac->exists() && !fileInfoCreateFolderWithFullPath(parentPath(mac->path())))
        throw VtrException(failureName, writeFailure);

    auto report = [&](double percent) {
        if (reporter && reporter->copyingFile(self(), destination, float(percent), userData))
            throw VtrException(failureName, vtrLocalized("The file copy was canceled."));
    };

    std::optional<VtrException> failure;
    auto fill = [&](const VtrFileInfoPtr &temporary) -> FileInfoCopyStatus {
        try {
            VtrFileInfoHandlePtr reader = openFileForReading();
            if (!reader)
                throw VtrException(
                    failureName, vtrLocalized("Could not open the file \"%1\" for reading.").arg(humanFriendlyPath()));
            VtrFileInfoHandlePtr writer = temporary->openFileForWriting();
            if (!writer) throw VtrException(failureName, writeFailure);
            qint64 done = 0;
            while (done < total) {
                if (isCopyCancelled())
                    throw VtrException(QStringLiteral("File copy canceled"),
                                       vtrLocalized("copying file \"%1\" was canceled").arg(humanFriendlyPath()));
                const qint64 length = std::min(chunk, total - done);
                const QByteArray data = fileContentsWithRange(VtrFileRange{done, length}, reader.get());
                if (data.size() != length)
                    throw VtrException(
                        failureName,
                        vtrLocalized("Could not open the file \"%1\" for reading.").arg(humanFriendlyPath()));
                report((double(done) + double(length) / 2.0) * 100.0 / double(total));
                if (temporary->setFileContentsWithRange(data, VtrFileRange{done, length}, writer.get()) !=
                    kFileInfoCopyOK)
                    throw VtrException(failureName,
                                       vtrLocalized("Could not write the file \"%1\".").arg(mac->humanFriendlyPath()));
                done += length;
                report(double(done) * 100.0 / double(total));
            }
            temporary->closeFile(std::move(writer));
            closeFile(std::move(reader));
            return kFileInfoCopyOK;
        } catch (const VtrException &e) {
            failure = e;
            return kFileInfoCopyException;
        }
    };

    vtr::TemporaryFileCopyOptions options;
    options.protectedItem = self();
    VtrFileInfoPtr newItem;
    const FileInfoCopyStatus status = vtr::copyThroughTemporaryFile(destination, options, fill, &newItem);
    if (failure) throw *failure;
    if (status != kFileInfoCopyOK || !newItem) throw VtrException(failureName, writeFailure);

    const QDateTime modified = modificationDate();
    if (modified.isValid()) newItem->setModificationDate(modified);
    mac->refresh();
    if (reporter) reporter->copyingFile(self(), destination, 100.0f, userData);
}
