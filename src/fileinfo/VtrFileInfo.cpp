#include "fileinfo/VtrFileInfo.h"

#include "foundation/VtrString.h"
#include "platform/Folders.h"
#include "platform/MainThread.h"
#include "platform/Strings.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QImageReader>
#include <QMimeData>
#include <QMimeDatabase>
#include <QSaveFile>
#include <QSet>
#include <QStandardPaths>
#include <QTimeZone>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <vector>

namespace {

QByteArray enc(const QString &path)
{
    return QFile::encodeName(path);
}

bool lstatPath(const QString &path, struct stat *st)
{
    return !path.isEmpty() && ::lstat(enc(path).constData(), st) == 0;
}

bool statPath(const QString &path, struct stat *st)
{
    return !path.isEmpty() && ::stat(enc(path).constData(), st) == 0;
}

QString expandTilde(const QString &path)
{
    if (path == QLatin1String("~")) return platform::homeFolder();
    if (path.startsWith(QLatin1String("~/"))) return platform::homeFolder() + path.mid(1);
    return path;
}

// Tilde expanded, "." and ".." folded, no doubled or trailing separators.
QString standardizePath(const QString &path)
{
    if (path.isEmpty()) return QString();
    return QDir::cleanPath(expandTilde(path));
}

QString joinPath(const QString &folder, const QString &name)
{
    if (folder.isNull()) return QString();
    if (name.isEmpty()) return folder;
    if (folder.endsWith(QLatin1Char('/'))) return standardizePath(folder + name);
    return standardizePath(folder + QLatin1Char('/') + name);
}

QString lastComponent(const QString &path)
{
    if (path.isEmpty() || path == QLatin1String("/")) return path;
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

QString parentPath(const QString &path)
{
    if (path.isEmpty()) return QString();
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash < 0) return QStringLiteral(".");
    if (slash == 0) return QStringLiteral("/");
    return path.left(slash);
}

// The extension of a name: after its last "."; a name that only begins with
// "." (a hidden file) has none.
QString extensionOfName(const QString &name)
{
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot <= 0 || dot == name.size() - 1) return QString();
    return name.mid(dot + 1);
}

VtrFileRef refFromStat(const QString &path, const struct stat &st)
{
    VtrFileRef ref;
    ref.path = QFileInfo(path).absoluteFilePath();
    ref.device = quint64(st.st_dev);
    ref.inode = quint64(st.st_ino);
    if (!ref.isValid()) ref.inode = 1; // never confuse a real item with "none"
    return ref;
}

bool sameItem(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Names sorted ignoring case, then bytewise, so that listings are the same on
// every run.
void sortNames(QStringList &names)
{
    std::sort(names.begin(), names.end(), [](const QString &a, const QString &b) {
        const int c = a.compare(b, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a < b;
    });
}

QStringList listNames(const QString &folder)
{
    QStringList names =
        QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::NoSort);
    sortNames(names);
    return names;
}

// A name that may become one entry of a folder.
bool isValidSingleName(const QString &name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
           !name.contains(QLatin1Char('/')) && !name.contains(QChar(0));
}

// A relative path whose components are all valid single names.
bool isValidRelativePath(const QString &path)
{
    if (path.isEmpty() || path.startsWith(QLatin1Char('/'))) return false;
    const QStringList parts = path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    if (parts.isEmpty()) return false;
    return std::all_of(parts.cbegin(), parts.cend(), isValidSingleName);
}

// `inner` is `outer` or lies below it, comparing whole components.
bool pathIsInside(const QString &inner, const QString &outer)
{
    if (outer.isEmpty() || inner.isEmpty()) return false;
    if (inner == outer) return true;
    const QString prefix = outer.endsWith(QLatin1Char('/')) ? outer : outer + QLatin1Char('/');
    return inner.startsWith(prefix);
}

QString uniqueTempPath(const QString &folder, const QString &name, bool directory)
{
    QByteArray templ = enc(folder + QStringLiteral("/.") + name + QStringLiteral(".vtrcopy-XXXXXX"));
    if (directory) {
        if (!::mkdtemp(templ.data())) return QString();
    } else {
        const int fd = ::mkstemp(templ.data());
        if (fd < 0) return QString();
        ::close(fd);
    }
    return QFile::decodeName(templ);
}

// Renames without replacing anything already at `to`.
bool renameNoReplace(const QString &from, const QString &to)
{
    const QByteArray f = enc(from), t = enc(to);
    if (::renameat2(AT_FDCWD, f.constData(), AT_FDCWD, t.constData(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // The file system cannot refuse by itself: check, then rename.
    struct stat st;
    if (::lstat(t.constData(), &st) == 0) return false;
    return ::rename(f.constData(), t.constData()) == 0;
}

bool removeItem(const QString &path)
{
    struct stat st;
    if (!lstatPath(path, &st)) return errno == ENOENT;
    if (S_ISDIR(st.st_mode)) return QDir(path).removeRecursively();
    return ::unlink(enc(path).constData()) == 0;
}

bool copyFileContents(const QString &source, const QString &destination, const struct stat &st)
{
    const int in = ::open(enc(source).constData(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return false;
    const int out = ::open(enc(destination).constData(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (out < 0) {
        ::close(in);
        return false;
    }
    bool ok = true;
    std::vector<char> buffer(1 << 20);
    for (;;) {
        const ssize_t n = ::read(in, buffer.data(), buffer.size());
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            ok = false;
            break;
        }
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = ::write(out, buffer.data() + done, size_t(n - done));
            if (w < 0) {
                if (errno == EINTR) continue;
                ok = false;
                break;
            }
            done += w;
        }
        if (!ok) break;
    }
    if (ok) {
        ::fchmod(out, st.st_mode & 07777);
        const struct timespec times[2] = {st.st_atim, st.st_mtim};
        ::futimens(out, times);
    }
    if (::close(out) != 0) ok = false;
    ::close(in);
    return ok;
}

qint64 treeSize(const QString &path)
{
    struct stat st;
    if (!lstatPath(path, &st)) return 0;
    if (!S_ISDIR(st.st_mode)) return S_ISREG(st.st_mode) ? qint64(st.st_size) : 0;
    qint64 total = 0;
    for (const QString &name : listNames(path))
        total += treeSize(path + QLatin1Char('/') + name);
    return total;
}

// Copies `source` into the (new, empty or temporary) place `destination`
// that already exists as an empty file or folder of the right kind.
bool copyInto(const QString &source, const QString &destination)
{
    struct stat st;
    if (!lstatPath(source, &st)) return false;
    if (S_ISDIR(st.st_mode)) {
        for (const QString &name : listNames(source)) {
            const QString from = source + QLatin1Char('/') + name;
            const QString to = destination + QLatin1Char('/') + name;
            struct stat cst;
            if (!lstatPath(from, &cst)) return false;
            if (S_ISDIR(cst.st_mode)) {
                if (::mkdir(enc(to).constData(), 0700) != 0) return false;
            } else if (S_ISREG(cst.st_mode)) {
                const int fd = ::open(enc(to).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
                if (fd < 0) return false;
                ::close(fd);
            }
            if (S_ISDIR(cst.st_mode) || S_ISREG(cst.st_mode)) {
                if (!copyInto(from, to)) return false;
            } else if (S_ISLNK(cst.st_mode)) {
                char target[4096];
                const ssize_t n = ::readlink(enc(from).constData(), target, sizeof target - 1);
                if (n < 0) return false;
                target[n] = 0;
                if (::symlink(target, enc(to).constData()) != 0) return false;
            }
            // Sockets, pipes and devices are not copied.
        }
        ::chmod(enc(destination).constData(), st.st_mode & 07777);
        const struct timespec times[2] = {st.st_atim, st.st_mtim};
        ::utimensat(AT_FDCWD, enc(destination).constData(), times, 0);
        return true;
    }
    if (S_ISREG(st.st_mode)) return copyFileContents(source, destination, st);
    return false;
}

bool enoughFreeSpace(const QString &folder, qint64 needed)
{
    struct statvfs vfs;
    if (::statvfs(enc(folder).constData(), &vfs) != 0) return true; // unknown: let the writes tell
    return qint64(vfs.f_bavail) * qint64(vfs.f_frsize) >= needed;
}

// Writes `contents` to a temporary file beside `path` and renames it over
// `path`, so the old file stays whole when anything fails.
bool writeFileSafely(const QString &path, const QByteArray &contents, const QVariantMap &attributes)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return false;
    if (file.write(contents) != contents.size()) {
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) return false;
    const QVariant perms = attributes.value(QStringLiteral("NSFilePosixPermissions"));
    if (perms.isValid()) ::chmod(enc(path).constData(), mode_t(perms.toUInt() & 07777));
    const QDateTime mdate = attributes.value(QStringLiteral("NSFileModificationDate")).toDateTime();
    if (mdate.isValid()) {
        const qint64 ms = mdate.toMSecsSinceEpoch();
        const struct timespec times[2] = {{0, UTIME_OMIT}, {time_t(ms / 1000), long(ms % 1000) * 1000000}};
        ::utimensat(AT_FDCWD, enc(path).constData(), times, 0);
    }
    return true;
}

QString standardLocation(QStandardPaths::StandardLocation location)
{
    return QStandardPaths::writableLocation(location);
}

QDateTime fromTimespec(const struct timespec &ts)
{
    return QDateTime::fromMSecsSinceEpoch(qint64(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000, Qt::UTC);
}

} // namespace

// ---- creation

VtrFileInfo::VtrFileInfo(const QString &path, bool resolveAliases) : m_path(standardizePath(path))
{
    if (resolveAliases) resolveAlias();
}

VtrFileInfo::VtrFileInfo(const VtrFileRef &ref, bool resolveAliases) : m_path(pathFromFileRef(ref))
{
    if (!m_path.isNull()) {
        m_fileRef = ref;
        m_fileRefValid = true;
    }
    if (resolveAliases) resolveAlias();
}

VtrFileInfo::VtrFileInfo(const QUrl &url, bool resolveAliases) : m_path(standardizePath(pathFromURL(url)))
{
    if (resolveAliases) resolveAlias();
}

QList<VtrFileInfo> VtrFileInfo::fileInfoArrayFromPathsArray(const QStringList &paths)
{
    QList<VtrFileInfo> items;
    items.reserve(paths.size());
    for (const QString &p : paths)
        items.append(VtrFileInfo(p));
    return items;
}

QList<VtrFileInfo> VtrFileInfo::fileInfoArrayFromPasteboard(const QMimeData *pasteboard)
{
    QList<VtrFileInfo> items;
    if (!pasteboard || !pasteboard->hasUrls()) return items;
    for (const QUrl &url : pasteboard->urls())
        if (url.isLocalFile()) items.append(VtrFileInfo(url));
    return items;
}

QString VtrFileInfo::findFolderPath(qint16 domain, quint32 folderType, bool createIfNotExist)
{
    const bool user = domain == kUserDomain;
    const bool shared = domain == kLocalDomain || domain == kSystemDomain || domain == kOnAppropriateDisk;
    if (!user && !shared) return QString();
    QString path;
    switch (folderType) {
    case kDocumentsFolderType:
        if (user) path = standardLocation(QStandardPaths::DocumentsLocation);
        break;
    case kMusicDocumentsFolderType:
        if (user) path = standardLocation(QStandardPaths::MusicLocation);
        break;
    case kPictureDocumentsFolderType:
        if (user) path = standardLocation(QStandardPaths::PicturesLocation);
        break;
    case kMovieDocumentsFolderType:
        if (user) path = standardLocation(QStandardPaths::MoviesLocation);
        break;
    case kDesktopFolderType:
        if (user) path = standardLocation(QStandardPaths::DesktopLocation);
        break;
    case kCurrentUserFolderType:
        if (user) path = platform::homeFolder();
        break;
    case kApplicationsFolderType:
        path =
            user ? standardLocation(QStandardPaths::ApplicationsLocation) : QStringLiteral("/usr/share/applications");
        break;
    case kApplicationSupportFolderType:
    case kDomainLibraryFolderType:
        path = user ? standardLocation(QStandardPaths::GenericDataLocation)
                    : (domain == kLocalDomain ? QStringLiteral("/usr/local/share") : QStringLiteral("/usr/share"));
        break;
    case kPreferencesFolderType:
        path = user ? standardLocation(QStandardPaths::GenericConfigLocation) : QStringLiteral("/etc/xdg");
        break;
    case kTemporaryFolderType:
        try {
            path = platform::temporaryFolder();
        } catch (...) {
            return QString();
        }
        break;
    default:
        return QString();
    }
    if (path.isEmpty()) return QString();
    path = QDir::cleanPath(path);
    if (QFileInfo(path).isDir()) return path;
    if (createIfNotExist && QDir().mkpath(path)) return path;
    return QString();
}

std::optional<VtrFileInfo> VtrFileInfo::findFolder(qint16 domain, quint32 folderType, bool createIfNotExist)
{
    const QString path = findFolderPath(domain, folderType, createIfNotExist);
    if (path.isNull()) return std::nullopt;
    return VtrFileInfo(path);
}

std::optional<VtrFileInfo> VtrFileInfo::globalAppSupportFolder()
{
    return findFolder(kLocalDomain, kApplicationSupportFolderType, false);
}

std::optional<VtrFileInfo> VtrFileInfo::userAppSupportFolder()
{
    const QString path = standardLocation(QStandardPaths::GenericDataLocation);
    if (path.isEmpty()) return std::nullopt;
    return VtrFileInfo(path);
}

std::optional<VtrFileInfo> VtrFileInfo::globalLibraryFolder()
{
    return globalAppSupportFolder();
}

std::optional<VtrFileInfo> VtrFileInfo::userLibraryFolder()
{
    return userAppSupportFolder();
}

VtrFileInfo VtrFileInfo::tempFolder()
{
    return VtrFileInfo(platform::temporaryFolder());
}

std::optional<VtrFileInfo> VtrFileInfo::chooseFolderWithPrompt(const QString &prompt, const QString &startFolderPath)
{
    QString chosen;
    platform::runOnMainAndWait([&] {
        chosen =
            QFileDialog::getExistingDirectory(nullptr, prompt, expandTilde(startFolderPath), QFileDialog::ShowDirsOnly);
    });
    if (chosen.isEmpty()) return std::nullopt;
    return VtrFileInfo(chosen);
}

std::optional<VtrFileInfo> VtrFileInfo::chooseFolderWithPrompt(const QString &prompt, const VtrFileInfo &startFolder)
{
    return chooseFolderWithPrompt(prompt, startFolder.path());
}

// ---- conversions

QString VtrFileInfo::pathFromFileRef(const VtrFileRef &ref)
{
    if (!ref.isValid() || ref.path.isEmpty()) return QString();
    struct stat st;
    if (!lstatPath(ref.path, &st)) return QString();
    if (quint64(st.st_dev) != ref.device || quint64(st.st_ino) != ref.inode) return QString();
    return ref.path;
}

QString VtrFileInfo::pathFromURL(const QUrl &url)
{
    if (!url.isValid() || url.scheme() != QLatin1String("file")) return QString();
    QString path = url.path();
    if (path.startsWith(QLatin1String("/localhost/"))) path = path.mid(10);
    return path;
}

QUrl VtrFileInfo::urlFromPath(const QString &path)
{
    if (path.isNull()) return QUrl();
    return QUrl::fromLocalFile(path);
}

VtrFileRef VtrFileInfo::fileRefFromPath(const QString &path)
{
    struct stat st;
    if (!lstatPath(path, &st)) return VtrFileRef();
    return refFromStat(path, st);
}

VtrFileRef VtrFileInfo::fileRefFromURL(const QUrl &url)
{
    return fileRefFromPath(pathFromURL(url));
}

QString VtrFileInfo::makeNameOSCompliant(const QString &name)
{
    QString out = name;
    return out.replace(QLatin1Char('/'), QLatin1Char('_'));
}

// ---- queries

QString VtrFileInfo::name() const
{
    return lastComponent(m_path);
}

QString VtrFileInfo::nameWithoutExtension() const
{
    const QString n = name();
    const QString ext = extensionOfName(n);
    return ext.isEmpty() ? n : n.left(n.size() - ext.size() - 1);
}

QString VtrFileInfo::extension() const
{
    if (m_path.isNull()) return QString();
    return extensionOfName(name());
}

VtrFileInfo VtrFileInfo::parentFolder() const
{
    return VtrFileInfo(parentPath(m_path));
}

QUrl VtrFileInfo::URL() const
{
    return urlFromPath(m_path);
}

VtrFileRef VtrFileInfo::fileRefWithError(int *error) const
{
    auto report = [error](int code) {
        if (error) *error = code;
    };
    if (m_fileRefValid) {
        report(0);
        return m_fileRef;
    }
    if (m_path.isEmpty()) {
        report(-50);
        return VtrFileRef();
    }
    VtrFileRef ref = fileRefFromPath(m_path);
    if (!ref.isValid()) {
        // Only the path with its links resolved may lead there.
        const QString resolved = resolvedPath();
        if (!resolved.isNull()) {
            ref = fileRefFromPath(resolved);
            if (ref.isValid()) m_path = resolved;
        }
    }
    if (!ref.isValid()) {
        report(-1);
        return VtrFileRef();
    }
    m_fileRef = ref;
    m_fileRefValid = true;
    report(0);
    return ref;
}

bool VtrFileInfo::exists() const
{
    if (m_path.isEmpty()) return false;
    fileRef();
    return m_fileRefValid;
}

void VtrFileInfo::cacheInfo() const
{
    if (m_folderAliasValid) return;
    const VtrFileRef ref = fileRef();
    if (!ref.isValid()) return;
    struct stat lst, st;
    if (!lstatPath(m_path, &lst) || !statPath(m_path, &st)) return; // a dangling link resolves to nothing
    const bool link = S_ISLNK(lst.st_mode);
    if (link) {
        char *real = ::realpath(enc(m_path).constData(), nullptr);
        if (!real) return;
        const QString target = QFile::decodeName(real);
        std::free(real);
        m_aliasRef = refFromStat(target, st);
    } else {
        m_aliasRef = ref;
    }
    m_isFolder = S_ISDIR(st.st_mode);
    m_isAlias = link;
    m_folderAliasValid = true;
}

bool VtrFileInfo::isFile() const
{
    cacheInfo();
    return m_folderAliasValid && !m_isFolder;
}

bool VtrFileInfo::isFolder() const
{
    cacheInfo();
    return m_folderAliasValid && m_isFolder;
}

bool VtrFileInfo::isAlias() const
{
    cacheInfo();
    return m_folderAliasValid && m_isAlias;
}

std::optional<VtrFileInfo> VtrFileInfo::aliasTarget() const
{
    if (!isAlias()) return std::nullopt;
    return VtrFileInfo(m_aliasRef, true);
}

bool VtrFileInfo::resolveAlias()
{
    if (!isAlias()) return false;
    const QString target = pathFromFileRef(m_aliasRef);
    if (target.isNull()) return false;
    m_path = target;
    m_fileRef = m_aliasRef;
    m_fileRefValid = true;
    m_isAlias = false;
    m_attrs.reset();
    return true;
}

VtrFileInfo VtrFileInfo::resolvedFileInfo() const
{
    if (auto target = aliasTarget()) return *target;
    return *this;
}

QString VtrFileInfo::resolvedPath() const
{
    if (m_path.isEmpty()) return QString();
    const QStringList parts = m_path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    if (parts.isEmpty()) return m_path.startsWith(QLatin1Char('/')) ? QStringLiteral("/") : QString();
    QString built = m_path.startsWith(QLatin1Char('/')) ? QString() : QDir::currentPath();
    for (const QString &part : parts) {
        built += QLatin1Char('/') + part;
        struct stat st;
        if (!lstatPath(built, &st)) return QString();
        if (S_ISLNK(st.st_mode)) {
            char *real = ::realpath(enc(built).constData(), nullptr);
            if (!real) return QString();
            built = QFile::decodeName(real);
            std::free(real);
            if (built == QLatin1String("/")) built.clear();
        }
    }
    return built.isEmpty() ? QStringLiteral("/") : built;
}

QVariantMap VtrFileInfo::attributes() const
{
    if (m_attrs) return *m_attrs;
    QVariantMap attrs;
    struct stat st;
    if (lstatPath(m_path, &st)) {
        QString type = QStringLiteral("NSFileTypeUnknown");
        if (S_ISREG(st.st_mode))
            type = QStringLiteral("NSFileTypeRegular");
        else if (S_ISDIR(st.st_mode))
            type = QStringLiteral("NSFileTypeDirectory");
        else if (S_ISLNK(st.st_mode))
            type = QStringLiteral("NSFileTypeSymbolicLink");
        attrs.insert(QStringLiteral("NSFileType"), type);
        attrs.insert(QStringLiteral("NSFileSize"), qint64(st.st_size));
        attrs.insert(QStringLiteral("NSFileModificationDate"), fromTimespec(st.st_mtim));
        attrs.insert(QStringLiteral("NSFilePosixPermissions"), uint(st.st_mode & 07777));
        attrs.insert(QStringLiteral("NSFileReferenceCount"), quint64(st.st_nlink));
        attrs.insert(QStringLiteral("NSFileOwnerAccountID"), uint(st.st_uid));
        attrs.insert(QStringLiteral("NSFileGroupOwnerAccountID"), uint(st.st_gid));
        attrs.insert(QStringLiteral("NSFileSystemNumber"), quint64(st.st_dev));
        attrs.insert(QStringLiteral("NSFileSystemFileNumber"), quint64(st.st_ino));
        attrs.insert(QStringLiteral("NSFileImmutable"), isLocked());
        struct statx stx;
        if (::statx(AT_FDCWD, enc(m_path).constData(), AT_SYMLINK_NOFOLLOW, STATX_BTIME, &stx) == 0 &&
            (stx.stx_mask & STATX_BTIME)) {
            const struct timespec bt = {time_t(stx.stx_btime.tv_sec), long(stx.stx_btime.tv_nsec)};
            attrs.insert(QStringLiteral("NSFileCreationDate"), fromTimespec(bt));
        }
    }
    m_attrs = attrs;
    return attrs;
}

QVariant VtrFileInfo::attribute(const QString &key) const
{
    return attributes().value(key);
}

QDateTime VtrFileInfo::creationDate() const
{
    return attribute(QStringLiteral("NSFileCreationDate")).toDateTime();
}

QDateTime VtrFileInfo::modificationDate() const
{
    return attribute(QStringLiteral("NSFileModificationDate")).toDateTime();
}

qint64 VtrFileInfo::size() const
{
    return attribute(QStringLiteral("NSFileSize")).toLongLong();
}

QString VtrFileInfo::typeCodeString() const
{
    if (!exists()) return QString();
    return QStringLiteral("'\?\?\?\?'");
}

QString VtrFileInfo::kindString() const
{
    if (!exists()) return vtrLocalized("unknown");
    const QMimeType type = QMimeDatabase().mimeTypeForFile(m_path);
    if (!type.isValid() || type.isDefault() || type.comment().isEmpty()) return vtrLocalized("unknown");
    return type.comment();
}

bool VtrFileInfo::isLocked() const
{
    if (m_path.isEmpty()) return false;
    const int fd = ::open(enc(m_path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return false;
    int flags = 0;
    const bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    ::close(fd);
    return ok && (flags & FS_IMMUTABLE_FL);
}

bool VtrFileInfo::visible() const
{
    return !name().startsWith(QLatin1Char('.'));
}

QIcon VtrFileInfo::icon() const
{
    QIcon result;
    const QString p = m_path;
    platform::runOnMainAndWait([&] { result = QFileIconProvider().icon(QFileInfo(p)); });
    return result;
}

QImage VtrFileInfo::preview() const
{
    if (!exists()) return QImage();
    if (isFile()) {
        QImageReader reader(m_path);
        reader.setAutoTransform(true);
        const QImage image = reader.read();
        if (!image.isNull()) return image;
    }
    QImage result;
    const QIcon ic = icon();
    platform::runOnMainAndWait([&] { result = ic.pixmap(128, 128).toImage(); });
    return result;
}

std::optional<QByteArray> VtrFileInfo::fileContents() const
{
    if (!isFile()) return std::nullopt;
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError) return std::nullopt;
    return data;
}

bool VtrFileInfo::contains(const VtrFileInfo &other) const
{
    if (!isFolder() || other.m_path.isEmpty() || other.m_path == m_path) return false;
    return pathIsInside(other.m_path, m_path);
}

VtrFileInfo VtrFileInfo::find(const QString &name, bool resolveAliases) const
{
    if (m_path.isNull()) return VtrFileInfo();
    const QString base = isFile() ? parentPath(m_path) : m_path;
    QString path = joinPath(base, name);
    struct stat st;
    if (!lstatPath(path, &st)) {
        // Walk the name component by component, taking an entry that
        // differs only in case where the exact one is missing.
        QString built = base;
        bool found = true;
        for (const QString &part : name.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
            QString next = joinPath(built, part);
            if (!lstatPath(next, &st) && part != QLatin1String(".") && part != QLatin1String("..")) {
                const QStringList names = listNames(built);
                const auto it = std::find_if(names.cbegin(), names.cend(), [&](const QString &n) {
                    return n.compare(part, Qt::CaseInsensitive) == 0;
                });
                if (it == names.cend()) {
                    found = false;
                    break;
                }
                next = joinPath(built, *it);
            }
            built = next;
        }
        if (found) path = built;
    }
    return VtrFileInfo(path, resolveAliases);
}

void VtrFileInfo::accumulateFolderContents(VtrFileInfoFilter *filter, QList<VtrFileInfo> &array, bool *stop) const
{
    if (!isFolder() || !exists()) return;
    for (const QString &entry : listNames(m_path)) {
        VtrFileInfo item(joinPath(m_path, entry));
        if (!filter) {
            array.append(item);
            continue;
        }
        bool stopHere = false;
        if (filter->includeItem(item, &stopHere)) array.append(item);
        if (stopHere) {
            if (stop) *stop = true;
            break;
        }
    }
}

QList<VtrFileInfo> VtrFileInfo::folderContentsWithFilter(VtrFileInfoFilter *filter) const
{
    QList<VtrFileInfo> items;
    accumulateFolderContents(filter, items, nullptr);
    return items;
}

// Lists every folder it accepts and collects what the listing accepts, so a
// single listing walks the whole tree. Remembers the folders it entered (by
// device and inode): a symbolic link back up the tree is not followed again.
class VtrGoDeepFilter : public VtrFileInfoFilter
{
public:
    VtrGoDeepFilter(VtrFileInfoFilter *realFilter, QList<VtrFileInfo> &array) : m_realFilter(realFilter), m_array(array)
    {}

    bool enter(const VtrFileInfo &folder)
    {
        struct stat st;
        if (!statPath(folder.path(), &st)) return false;
        const auto key = qMakePair(quint64(st.st_dev), quint64(st.st_ino));
        if (m_visited.contains(key)) return false;
        m_visited.insert(key);
        return true;
    }

    bool includeItem(const VtrFileInfo &item, bool *stopAccumulating) override
    {
        const bool verdict = m_realFilter ? m_realFilter->includeItem(item, stopAccumulating) : true;
        if (!(stopAccumulating && *stopAccumulating) && item.isFolder() && enter(item))
            m_array.append(item.folderContentsWithFilter(this));
        return verdict;
    }

private:
    VtrFileInfoFilter *m_realFilter;
    QList<VtrFileInfo> &m_array;
    QSet<QPair<quint64, quint64>> m_visited;
};

QList<VtrFileInfo> VtrFileInfo::folderContentsDeepWithFilter(VtrFileInfoFilter *filter) const
{
    QList<VtrFileInfo> items;
    VtrGoDeepFilter deep(filter, items);
    if (!deep.enter(*this)) return items;
    accumulateFolderContents(&deep, items, nullptr);
    return items;
}

namespace {

class FindItemFilter : public VtrFileInfoFilter
{
public:
    FindItemFilter(const QString &name, bool ignoreCase, bool findOnlyOne)
        : m_name(name), m_ignoreCase(ignoreCase), m_findOnlyOne(findOnlyOne)
    {}

    bool includeItem(const VtrFileInfo &item, bool *stopAccumulating) override
    {
        if (item.name().compare(m_name, m_ignoreCase ? Qt::CaseInsensitive : Qt::CaseSensitive) != 0) return false;
        if (stopAccumulating) *stopAccumulating = m_findOnlyOne;
        return true;
    }

private:
    QString m_name;
    bool m_ignoreCase;
    bool m_findOnlyOne;
};

} // namespace

QList<VtrFileInfo> VtrFileInfo::findDeep(const QString &name) const
{
    FindItemFilter filter(name, true, false);
    return folderContentsDeepWithFilter(&filter);
}

std::optional<VtrFileInfo> VtrFileInfo::findFirstDeep(const QString &name) const
{
    FindItemFilter filter(name, true, true);
    const QList<VtrFileInfo> found = folderContentsDeepWithFilter(&filter);
    if (found.isEmpty()) return std::nullopt;
    return found.first();
}

void VtrFileInfo::addFolderContentsToArray(QList<VtrFileInfo> &array) const
{
    if (!isFolder()) return;
    for (const VtrFileInfo &child : folderContents()) {
        const VtrFileInfo resolved = child.resolvedFileInfo();
        if (!resolved.isFile()) {
            const QString resolvedChildPath = resolved.path();
            const bool held = std::any_of(array.cbegin(), array.cend(), [&](const VtrFileInfo &item) {
                return VtrFileInfo(item.resolvedPath()).isEqualToFileInfo(VtrFileInfo(resolvedChildPath));
            });
            if (held) continue;
        }
        array.append(child);
    }
}

// ---- changes

bool VtrFileInfo::setFileContents(const QByteArray &contents)
{
    if (!exists() || !isFile()) return false;
    // Write through a link to its target, keeping the link.
    const QString target = resolvedFileInfo().path();
    const bool ok = writeFileSafely(target, contents, {});
    refresh();
    return ok;
}

std::optional<VtrFileInfo> VtrFileInfo::createFile(const QString &name, const QByteArray &contents,
                                                   const QVariantMap &attributes, bool ensureUniqueName) const
{
    if (m_path.isEmpty() || !isValidSingleName(name)) return std::nullopt;
    VtrFileInfo item = find(name);
    if (item.exists()) {
        if (!ensureUniqueName) {
            if (item.isFolder() || !item.setFileContents(contents)) return std::nullopt;
            return item;
        }
        item = find(uniqueFilename(name));
    }
    if (!writeFileSafely(item.path(), contents, attributes)) return std::nullopt;
    return VtrFileInfo(item.path());
}

std::optional<VtrFileInfo> VtrFileInfo::createFolder(const QString &name) const
{
    if (m_path.isEmpty() || !isValidRelativePath(name)) return std::nullopt;
    const QString base = isFile() ? parentPath(m_path) : m_path;
    const VtrFileInfo item(joinPath(base, name));
    if (item.exists()) {
        if (item.isFolder()) return item;
        return std::nullopt;
    }
    if (!QDir().mkpath(item.path())) return std::nullopt;
    return VtrFileInfo(item.path());
}

FileInfoCopyStatus VtrFileInfo::copyTo(const VtrFileInfo &destination, std::optional<VtrFileInfo> *outNewItem) const
{
    if (outNewItem) *outNewItem = std::nullopt;
    if (!exists()) return kFileInfoCopyBadArguments;
    QString folder;
    if (destination.isFolder())
        folder = destination.resolvedFileInfo().path();
    else if (destination.isFile())
        folder = parentPath(destination.path());
    else
        return kFileInfoCopyKindCannot;

    const QString target = joinPath(folder, name());
    struct stat st, tst;
    if (lstatPath(target, &tst)) return kFileInfoCopyKindCannot; // never replaces, never onto itself
    if (!lstatPath(m_path, &st)) return kFileInfoCopyKindCannot;
    // A folder copied into itself would never end.
    if (S_ISDIR(st.st_mode) &&
        pathIsInside(QFileInfo(folder).canonicalFilePath(), QFileInfo(m_path).canonicalFilePath()))
        return kFileInfoCopyKindCannot;
    if (!enoughFreeSpace(folder, treeSize(m_path))) return kFileInfoCopyKindCannot;

    bool ok = false;
    QString temp;
    if (S_ISLNK(st.st_mode)) {
        char buf[4096];
        const ssize_t n = ::readlink(enc(m_path).constData(), buf, sizeof buf - 1);
        if (n >= 0) {
            buf[n] = 0;
            temp = uniqueTempPath(folder, name(), false);
            ok = !temp.isEmpty() && ::unlink(enc(temp).constData()) == 0 && ::symlink(buf, enc(temp).constData()) == 0;
        }
    } else if (S_ISDIR(st.st_mode) || S_ISREG(st.st_mode)) {
        temp = uniqueTempPath(folder, name(), S_ISDIR(st.st_mode));
        ok = !temp.isEmpty() && copyInto(m_path, temp);
    }
    if (ok) ok = renameNoReplace(temp, target);
    if (!ok) {
        if (!temp.isEmpty()) removeItem(temp);
        return kFileInfoCopyKindCannot;
    }
    if (outNewItem) *outNewItem = VtrFileInfo(target);
    return kFileInfoCopyOK;
}

bool VtrFileInfo::remove()
{
    struct stat st;
    if (m_path.isEmpty() || !lstatPath(m_path, &st)) return true;
    if (!S_ISLNK(st.st_mode)) setLocked(false);
    if (!removeItem(m_path)) return false;
    m_fileRefValid = false;
    m_folderAliasValid = false;
    m_attrs.reset();
    return true;
}

bool VtrFileInfo::removeContents() const
{
    if (!exists() || !isFolder()) return false;
    bool ok = true;
    for (const QString &entry : listNames(m_path)) {
        VtrFileInfo item(joinPath(m_path, entry));
        if (!item.remove()) ok = false;
    }
    return ok;
}

bool VtrFileInfo::setName(const QString &newName)
{
    if (!exists() || !isValidSingleName(newName)) return false;
    const QString target = joinPath(parentPath(m_path), newName);
    if (target == m_path) return true;
    if (!renameNoReplace(m_path, target)) return false;
    m_path = target;
    refresh();
    return true;
}

bool VtrFileInfo::setNameKeepingExtension(const QString &newName)
{
    const QString ext = extension();
    return setName(ext.isEmpty() ? newName : newName + QLatin1Char('.') + ext);
}

bool VtrFileInfo::setLocked(bool locked)
{
    if (!exists() || isLocked() == locked) return exists();
    const int fd = ::open(enc(m_path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return false;
    int flags = 0;
    bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (ok) {
        flags = locked ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        ok = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    ::close(fd);
    m_attrs.reset();
    return ok;
}

bool VtrFileInfo::setHideExtension(bool)
{
    m_attrs.reset();
    return false;
}

bool VtrFileInfo::setCreationDate(const QDateTime &)
{
    return false;
}

bool VtrFileInfo::setModificationDate(const QDateTime &date)
{
    if (!exists() || !date.isValid()) return false;
    const qint64 ms = date.toMSecsSinceEpoch();
    const struct timespec times[2] = {{0, UTIME_OMIT}, {time_t(ms / 1000), long(ms % 1000) * 1000000}};
    const bool ok = ::utimensat(AT_FDCWD, enc(m_path).constData(), times, AT_SYMLINK_NOFOLLOW) == 0;
    m_attrs.reset();
    return ok;
}

QString VtrFileInfo::uniqueFilename(const QString &name) const
{
    if (!find(name).exists()) return name;
    const QString ext = extensionOfName(name);
    const QString stem = ext.isEmpty() ? name : name.left(name.size() - ext.size() - 1);
    for (int n = 1;; ++n) {
        const QString candidate = vtr::numberedName(stem, ext, n);
        if (!find(candidate).exists()) return candidate;
    }
}

void VtrFileInfo::refresh()
{
    m_folderAliasValid = false;
    m_fileRefValid = false;
    m_attrs.reset();
}

// ---- identity and archiving

bool VtrFileInfo::isEqualToFileInfo(const VtrFileInfo &other) const
{
    if (m_path == other.m_path) return true;
    if (m_path.isNull() || other.m_path.isNull()) return false;
    if (m_path.compare(other.m_path, Qt::CaseInsensitive) != 0) return false;
    struct stat a, b;
    return lstatPath(m_path, &a) && lstatPath(other.m_path, &b) && sameItem(a, b);
}

QString VtrFileInfo::description() const
{
    if (m_path.isNull()) return QStringLiteral("VtrFileInfo has (null) path.");
    return m_path;
}

QVariantMap VtrFileInfo::encodeWithCoder() const
{
    QVariantMap coder;
    if (!m_path.isNull()) coder.insert(QStringLiteral("VtrFileInfo_path"), m_path);
    return coder;
}

VtrFileInfo VtrFileInfo::initWithCoder(const QVariantMap &coder)
{
    return VtrFileInfo(coder.value(QStringLiteral("VtrFileInfo_path")).toString());
}

// ---- filters

bool VtrFileInfoFilter::includeItem(const VtrFileInfo &, bool *stopAccumulating)
{
    if (stopAccumulating) *stopAccumulating = false;
    return true;
}

FilterNestedFolders::FilterNestedFolders(const QString &rootPath) : m_rootPath(standardizePath(rootPath)) {}

bool FilterNestedFolders::includeItem(const VtrFileInfo &item, bool *)
{
    const std::optional<VtrFileInfo> target = item.aliasTarget();
    if (!target || !target->isFolder()) return true;
    // Both sides without links, so a root reached through a link is still recognised.
    QString root = QFileInfo(m_rootPath).canonicalFilePath();
    if (root.isEmpty()) root = m_rootPath;
    return !pathIsInside(target->path(), root);
}

// ---- tree nodes

FileInfoNode::FileInfoNode(const VtrFileInfo &info) : m_info(info)
{
    m_target = info.aliasTarget();
    m_isAlias = m_target.has_value();
}

FileInfoNode::FileInfoNode(const VtrFileInfo &info, std::shared_ptr<FileInfoNode> child) : FileInfoNode(info)
{
    if (child) m_children = QList<std::shared_ptr<FileInfoNode>>{std::move(child)};
    // Marks the list as a seed: it is completed on the first request.
    m_seeded = true;
}

std::shared_ptr<FileInfoNode> FileInfoNode::fileInfoNodeWithFileInfo(const VtrFileInfo &info)
{
    return std::make_shared<FileInfoNode>(info);
}

std::shared_ptr<FileInfoNode> FileInfoNode::fileInfoNodeWithPath(const QString &path)
{
    return std::make_shared<FileInfoNode>(VtrFileInfo(path));
}

VtrFileInfo FileInfoNode::fileInfo() const
{
    return m_target ? *m_target : m_info;
}

const QList<std::shared_ptr<FileInfoNode>> &FileInfoNode::children()
{
    if (m_children && !m_seeded) return *m_children;
    const QList<std::shared_ptr<FileInfoNode>> seed = m_children.value_or(QList<std::shared_ptr<FileInfoNode>>());
    QList<std::shared_ptr<FileInfoNode>> built;
    const VtrFileInfo folder = fileInfo();
    if (folder.isFolder()) {
        for (const VtrFileInfo &item : folder.folderContentsWithFilter(m_filter.get())) {
            const auto reuse = std::find_if(seed.cbegin(), seed.cend(), [&](const std::shared_ptr<FileInfoNode> &n) {
                return n->m_info.isEqualToFileInfo(item);
            });
            if (reuse != seed.cend()) {
                built.append(*reuse);
                continue;
            }
            auto node = std::make_shared<FileInfoNode>(item);
            node->m_filter = m_filter;
            built.append(std::move(node));
        }
    }
    m_children = std::move(built);
    m_seeded = false;
    return *m_children;
}

int FileInfoNode::numChildren()
{
    return int(children().size());
}

std::shared_ptr<FileInfoNode> FileInfoNode::parent()
{
    auto node = std::make_shared<FileInfoNode>(m_info.parentFolder(), shared_from_this());
    node->m_filter = m_filter;
    return node;
}

std::shared_ptr<FileInfoNode> FileInfoNode::findWithName(const QString &name)
{
    for (const auto &child : children())
        if (child->name().compare(name, Qt::CaseInsensitive) == 0) return child;
    return nullptr;
}

std::shared_ptr<FileInfoNode> FileInfoNode::createFile(const QString &name, const QByteArray &contents,
                                                       const QVariantMap &attributes)
{
    if (!isFolder()) return nullptr;
    children();
    const std::optional<VtrFileInfo> item = fileInfo().createFile(name, contents, attributes);
    if (!item || !item->exists()) return nullptr;
    // Writing over an existing file keeps its node.
    for (const auto &child : *m_children)
        if (child->m_info.isEqualToFileInfo(*item)) return child;
    auto node = std::make_shared<FileInfoNode>(*item);
    node->m_filter = m_filter;
    m_children->append(node);
    return node;
}

std::shared_ptr<FileInfoNode> FileInfoNode::createFolder(const QString &name)
{
    if (!isFolder()) return nullptr;
    children();
    const std::optional<VtrFileInfo> item = fileInfo().createFolder(name);
    if (!item || !item->exists()) return nullptr;
    for (const auto &child : *m_children)
        if (child->m_info.isEqualToFileInfo(*item)) return child;
    auto node = std::make_shared<FileInfoNode>(*item);
    node->m_filter = m_filter;
    m_children->append(node);
    return node;
}

void FileInfoNode::setFolderContentsFilter(std::shared_ptr<VtrFileInfoFilter> filter)
{
    if (!isFolder()) return;
    m_filter = filter;
    if (m_children)
        for (const auto &child : *m_children)
            child->setFolderContentsFilter(filter);
}

QString FileInfoNode::name() const
{
    return m_info.path().isNull() ? QString(QLatin1String("")) : m_info.name();
}

QVariantMap FileInfoNode::encodeWithCoder() const
{
    QVariantMap coder;
    if (!m_info.path().isNull()) coder.insert(QStringLiteral("Item Path"), m_info.path());
    if (m_children && !m_seeded) {
        QVariantList list;
        for (const auto &child : *m_children)
            list.append(child->encodeWithCoder());
        coder.insert(QStringLiteral("Children"), list);
    }
    return coder;
}

std::shared_ptr<FileInfoNode> FileInfoNode::initWithCoder(const QVariantMap &coder)
{
    auto node = std::make_shared<FileInfoNode>(VtrFileInfo(coder.value(QStringLiteral("Item Path")).toString()));
    if (coder.contains(QStringLiteral("Children"))) {
        QList<std::shared_ptr<FileInfoNode>> children;
        for (const QVariant &child : coder.value(QStringLiteral("Children")).toList())
            children.append(initWithCoder(child.toMap()));
        node->m_children = std::move(children);
    }
    return node;
}
