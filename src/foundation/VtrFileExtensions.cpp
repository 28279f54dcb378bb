#include "VtrFileExtensions.h"

#include "foundation/VtrArray.h"
#include "foundation/VtrUserDefaults.h"
#include "platform/Descriptor.h"
#include "platform/Folders.h"
#include "platform/VtrException.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QHash>
#include <QRandomGenerator>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

// ---------------------------------------------------------------------------
// VtrFileHandle

namespace {

QByteArray nativePath(const QString &path)
{
    return QFile::encodeName(path);
}

// Writes all of `length` bytes, retrying short writes and interruptions.
int writeAll(int fd, const char *p, qint64 length)
{
    while (length > 0) {
        const ssize_t n = ::write(fd, p, size_t(std::min<qint64>(length, 1 << 30)));
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (n == 0) return EIO;
        p += n;
        length -= n;
    }
    return 0;
}

// Reads up to `length` bytes, retrying short reads until the end of the file;
// -1 on error (errno set), else the count read.
qint64 readAll(int fd, char *p, qint64 length, qint64 offset = -1)
{
    qint64 done = 0;
    while (done < length) {
        const size_t want = size_t(std::min<qint64>(length - done, 1 << 30));
        const ssize_t n = offset >= 0 ? ::pread(fd, p + done, want, off_t(offset + done)) : ::read(fd, p + done, want);
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (n == 0) break;
        done += n;
    }
    return done;
}

} // namespace

VtrFileHandle::~VtrFileHandle()
{
    if (m_fd >= 0) ::close(m_fd);
}

std::unique_ptr<VtrFileHandle> VtrFileHandle::fileHandleOpeningOrCreatingAtPath(const QString &path)
{
    if (path.isEmpty()) return nullptr;
    int fd;
    do {
        fd = ::open(nativePath(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0700);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return nullptr;
    return std::make_unique<VtrFileHandle>(fd);
}

int VtrFileHandle::writeBuffer(const void *buffer, qint64 length)
{
    if (length < 0 || (length > 0 && !buffer)) return EINVAL;
    return writeAll(m_fd, static_cast<const char *>(buffer), length);
}

int VtrFileHandle::readIntoBuffer(void *buffer, qint64 length)
{
    if (length < 0 || (length > 0 && !buffer)) return EIO;
    return readAll(m_fd, static_cast<char *>(buffer), length) == length ? 0 : EIO;
}

std::optional<QByteArray> VtrFileHandle::readFileIntoMutableData()
{
    struct stat st;
    if (::fstat(m_fd, &st) != 0) return std::nullopt;
    const qint64 size = std::min<qint64>(st.st_size, vtr::kReadFileLimit);
    QByteArray data;
    try {
        data.resize(size);
    } catch (const std::bad_alloc &) {
        return std::nullopt;
    }
    if (readAll(m_fd, data.data(), size, 0) != size) return std::nullopt;
    return data;
}

qint64 VtrFileHandle::fileSize() const
{
    struct stat st;
    if (m_fd < 0 || ::fstat(m_fd, &st) != 0) return 0;
    return st.st_size;
}

qint64 VtrFileHandle::offsetInFile() const
{
    return ::lseek(m_fd, 0, SEEK_CUR);
}

qint64 VtrFileHandle::seekToEndOfFile()
{
    return ::lseek(m_fd, 0, SEEK_END);
}

bool VtrFileHandle::seekToFileOffset(qint64 offset)
{
    return offset >= 0 && ::lseek(m_fd, off_t(offset), SEEK_SET) >= 0;
}

bool VtrFileHandle::truncateFileAtOffset(qint64 offset)
{
    if (offset < 0) return false;
    int rc;
    do {
        rc = ::ftruncate(m_fd, off_t(offset));
    } while (rc != 0 && errno == EINTR);
    return rc == 0 && ::lseek(m_fd, off_t(offset), SEEK_SET) >= 0;
}

bool VtrFileHandle::synchronizeFile()
{
    return ::fsync(m_fd) == 0;
}

// ---------------------------------------------------------------------------

namespace vtr {

namespace {

// Closes a descriptor and, unless committed, unlinks the file it was made
// for, so that no path through copyFile (early return, exception from the
// progress function) leaves its temporary file behind.
class TemporaryFile
{
public:
    TemporaryFile() = default;
    ~TemporaryFile()
    {
        if (fd >= 0) ::close(fd);
        if (!path.isEmpty()) ::unlink(path.constData());
    }
    TemporaryFile(const TemporaryFile &) = delete;
    TemporaryFile &operator=(const TemporaryFile &) = delete;

    int fd = -1;
    QByteArray path; // empty once committed
};

using platform::Descriptor;

bool isRealFolder(const QByteArray &path)
{
    struct stat st;
    return ::lstat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool isFolderFollowingLinks(const QByteArray &path)
{
    struct stat st;
    return ::stat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

// 0 when a folder exists at `path` afterwards, else the errno that stopped it.
int createFolderPath(const QString &path)
{
    if (path.isEmpty()) return ENOENT;
    if (isFolderFollowingLinks(nativePath(path))) return 0;
    const QStringList parts = path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    QString prefix = path.startsWith(QLatin1Char('/')) ? QStringLiteral("/") : QString();
    for (const QString &part : parts) {
        if (!prefix.isEmpty() && !prefix.endsWith(QLatin1Char('/'))) prefix += QLatin1Char('/');
        prefix += part;
        const QByteArray native = nativePath(prefix);
        if (::mkdir(native.constData(), 0777) == 0) continue;
        const int error = errno;
        if (error == EEXIST) {
            // Something is there already: fine if it is (or leads to) a
            // folder; a file in the way is never removed.
            if (isFolderFollowingLinks(native)) continue;
            return ENOTDIR;
        }
        if (isFolderFollowingLinks(native)) continue; // e.g. EACCES on an existing folder
        return error;
    }
    return isFolderFollowingLinks(nativePath(path)) ? 0 : ENOTDIR;
}

QString parentOf(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash < 0) return QString();
    if (slash == 0) return QStringLiteral("/");
    return path.left(slash);
}

QString stripTrailingSlashes(QString path)
{
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return path;
}

// Every path below `folder`, relative to it, without following symbolic
// links; deepest first (descending, ignoring case).
QStringList sortedSubpaths(const QString &folder)
{
    QStringList out;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    const QDir base(folder);
    while (it.hasNext())
        out << base.relativeFilePath(it.next());
    std::sort(out.begin(), out.end(), [](const QString &a, const QString &b) {
        const int c = b.compare(a, Qt::CaseInsensitive);
        if (c != 0) return c < 0;
        return b < a;
    });
    return out;
}

QStringList entriesOf(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

} // namespace

QString absolutePathForPath(const QString &path)
{
    if (path.isNull()) return QString();
    const QByteArray native = nativePath(path);
    struct stat st;
    if (native.isEmpty() || ::lstat(native.constData(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    QByteArray target(4096, '\0');
    const ssize_t n = ::readlink(native.constData(), target.data(), size_t(target.size()));
    if (n <= 0 || n >= target.size()) return path;
    target.truncate(n);
    const QString destination = QFile::decodeName(target);
    // A relative destination is relative to the link's folder, whatever the
    // process's working folder holds.
    if (destination.startsWith(QLatin1Char('/'))) return destination;
    const QString parent = parentOf(stripTrailingSlashes(path));
    if (parent.isEmpty()) return destination;
    return parent == QLatin1String("/") ? parent + destination : parent + QLatin1Char('/') + destination;
}

bool recursivelyCreatePath(const QString &path)
{
    return createFolderPath(path) == 0;
}

qint64 getDataForkSize(const QString &path)
{
    if (path.isEmpty()) return 0;
    const QByteArray native = nativePath(path);
    struct stat st;
    if (::lstat(native.constData(), &st) != 0) return 0;
    qint64 size = st.st_size;
    struct stat target;
    if (::stat(native.constData(), &target) == 0 && S_ISREG(target.st_mode) && target.st_size > 0)
        size = target.st_size;
    return size;
}

int copyFile(const QString &source, const QString &destination, const CopyProgressFunction &progress)
{
    constexpr qint64 kBufferSize = 1048576;
    constexpr qint64 kSmallChunk = 262144;
    constexpr qint64 kLargeFileAbove = 5242880;

    std::unique_ptr<char[]> buffer(new (std::nothrow) char[kBufferSize]);
    if (!buffer) return kCopyFileStopped;
    if (source.isEmpty() || destination.isEmpty()) return EINVAL;

    const QByteArray src = nativePath(source);
    Descriptor in(::open(src.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!in.isOpen()) return errno;
    struct stat srcStat;
    if (::fstat(in.get(), &srcStat) != 0) return errno;
    if (S_ISDIR(srcStat.st_mode)) return EISDIR;
    if (!S_ISREG(srcStat.st_mode)) return EINVAL;
    ::fcntl(in.get(), F_SETFL, ::fcntl(in.get(), F_GETFL) & ~O_NONBLOCK);

    const QString destPath = stripTrailingSlashes(destination);
    const QByteArray dst = nativePath(destPath);
    struct stat dstStat;
    if (::stat(dst.constData(), &dstStat) == 0) {
        // The same file under another name (or through a link): copying
        // would read what it is overwriting.
        if (dstStat.st_dev == srcStat.st_dev && dstStat.st_ino == srcStat.st_ino) return EINVAL;
        if (S_ISDIR(dstStat.st_mode)) return EISDIR;
    }

    const QString parent = parentOf(destPath);
    const QString folder = parent.isEmpty() ? QStringLiteral(".") : parent;
    if (const int error = createFolderPath(folder); error != 0) return error;

    const qint64 total = srcStat.st_size;
    struct statvfs fs;
    if (::statvfs(nativePath(folder).constData(), &fs) == 0 && qint64(fs.f_bavail) * qint64(fs.f_frsize) < total)
        return ENOSPC;

    // The bytes go to a fresh file beside the destination; the destination is
    // replaced only by the final rename.
    TemporaryFile tmp;
    for (int attempt = 0; attempt < 100 && tmp.fd < 0; ++attempt) {
        const QString name =
            QStringLiteral(".vtrcopy-%1.tmp").arg(QRandomGenerator::global()->generate64(), 16, 16, QLatin1Char('0'));
        const QByteArray candidate = nativePath(folder + QLatin1Char('/') + name);
        const int fd = ::open(candidate.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
        if (fd >= 0) {
            tmp.fd = fd;
            tmp.path = candidate;
        } else if (errno != EEXIST && errno != EINTR) {
            return errno;
        }
    }
    if (tmp.fd < 0) return EEXIST;

    const qint64 chunk = total > kLargeFileAbove ? kBufferSize : kSmallChunk;
    ::posix_fadvise(in.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    if (progress && progress(0, 0, total)) return kCopyFileStopped;

    qint64 copied = 0;
    while (copied < total) {
        const qint64 want = std::min(chunk, total - copied);
        const qint64 got = readAll(in.get(), buffer.get(), want);
        if (got < 0) return errno;
        if (got != want) return EIO; // the source shrank while being copied
        if (const int error = writeAll(tmp.fd, buffer.get(), got); error != 0) return error;
        // The source is read once: keep it from crowding the page cache.
        ::posix_fadvise(in.get(), off_t(copied), off_t(got), POSIX_FADV_DONTNEED);
        copied += got;
        if (progress && progress(got, copied, total)) return kCopyFileStopped;
    }

    if (::fsync(tmp.fd) != 0) return errno;
    const int fd = tmp.fd;
    tmp.fd = -1;
    if (::close(fd) != 0 && errno != EINTR) return errno;
    if (::rename(tmp.path.constData(), dst.constData()) != 0) return errno;
    tmp.path.clear();
    return 0;
}

void removeEmptyDirectoriesFromPath(const QString &path)
{
    if (path.isEmpty() || !isRealFolder(nativePath(path))) return;
    const QDir base(path);
    for (const QString &sub : sortedSubpaths(path)) {
        const QString full = base.filePath(sub);
        if (!isRealFolder(nativePath(full))) continue;
        const QStringList entries = entriesOf(full);
        const bool onlyDotNames = std::all_of(entries.cbegin(), entries.cend(),
                                              [](const QString &e) { return e.startsWith(QLatin1Char('.')); });
        if (onlyDotNames) QDir(full).removeRecursively();
    }
}

void removeDirectoryIfEmpty(const QString &path, const QStringList &namesToIgnore)
{
    if (path.isEmpty() || !isRealFolder(nativePath(path))) return;
    const QStringList subpaths = sortedSubpaths(path);
    if (subpaths.isEmpty()) {
        ::rmdir(nativePath(path).constData());
        return;
    }
    const QDir base(path);
    bool notEmpty = false;
    for (const QString &sub : subpaths) {
        const QByteArray full = nativePath(base.filePath(sub));
        struct stat st;
        if (::lstat(full.constData(), &st) != 0) continue;
        if (S_ISDIR(st.st_mode)) {
            for (const QString &entry : entriesOf(base.filePath(sub)))
                if (!entry.startsWith(QLatin1Char('.')) && !arrayContainsFilenameString(namesToIgnore, entry))
                    notEmpty = true;
            continue;
        }
        if (sub.startsWith(QLatin1Char('.')) || arrayContainsFilenameString(namesToIgnore, sub)) continue;
        return;
    }
    if (!notEmpty) QDir(path).removeRecursively();
}

QString uniqueFilePath(const QString &wantedPath)
{
    const QString wanted = stripTrailingSlashes(wantedPath);
    const QString parent = parentOf(wanted);
    if (parent.isEmpty()) return QString();
    const QString name = wanted.mid(wanted.lastIndexOf(QLatin1Char('/')) + 1);
    if (name.isEmpty()) return QString();

    // Local disks are case-sensitive, the phones' are not: a name that
    // differs only in case is taken.
    QHash<QString, QString> existing;
    for (const QString &entry : entriesOf(parent))
        existing.insert(entry.toCaseFolded(), entry);

    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const bool hasExtension = dot > 0 && dot < name.size() - 1;
    const QString stem = hasExtension ? name.left(dot) : name;
    const QString extension = hasExtension ? name.mid(dot + 1) : QString();
    const QString folderPrefix = parent == QLatin1String("/") ? parent : parent + QLatin1Char('/');

    bool lastWasFolder = false;
    for (int n = 0; n < INT_MAX; ++n) {
        QString candidate;
        if (lastWasFolder)
            candidate = QStringLiteral("%1 %2").arg(name).arg(n);
        else if (n == 0)
            candidate = name;
        else if (hasExtension)
            candidate = QStringLiteral("%1 %2.%3").arg(stem).arg(n).arg(extension);
        else
            candidate = QStringLiteral("%1 %2").arg(stem).arg(n);
        const QString full = folderPrefix + candidate;
        struct stat st;
        const auto match = existing.constFind(candidate.toCaseFolded());
        const bool taken = ::lstat(nativePath(full).constData(), &st) == 0 || match != existing.constEnd();
        if (!taken) return full;
        const QString present = match != existing.constEnd() ? folderPrefix + *match : full;
        lastWasFolder = isFolderFollowingLinks(nativePath(present));
    }
    return QString();
}

QString metadataFolder()
{
    QString root = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    if (root.isEmpty()) {
        try {
            root = platform::temporaryFolder();
        } catch (const VtrException &) {
            return QString();
        }
    }
    const QString folder = root + QStringLiteral("/Metadata/") + mainBundleIdentifier();
    recursivelyCreatePath(folder);
    return folder;
}

} // namespace vtr
