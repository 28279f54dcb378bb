#include "fileinfo/VtrMacFileInfoFS.h"

#include "foundation/VtrString.h"
#include "platform/Folders.h"

#include <QDir>
#include <QHash>
#include <QRandomGenerator>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <limits>
#include <mutex>
#include <sys/statvfs.h>
#include <unistd.h>

namespace vtr::localfs {

// ---- paths ------------------------------------------------------------------------

namespace {

bool isCleanPath(const QString &path);

// A "." or ".." component anywhere in the path.
bool hasDotComponent(const QString &path)
{
    qsizetype start = 0;
    const qsizetype size = path.size();
    while (start < size) {
        qsizetype end = path.indexOf(QLatin1Char('/'), start);
        if (end < 0) end = size;
        const qsizetype length = end - start;
        if (length > 0 && length <= 2 && path.at(start) == QLatin1Char('.') &&
            (length == 1 || path.at(start + 1) == QLatin1Char('.')))
            return true;
        start = end + 1;
    }
    return false;
}

} // namespace

QString normalisePath(const QString &path)
{
    if (path.isEmpty()) return QStringLiteral("");
    QString p = path;
    if (p == QLatin1String("~") || p.startsWith(QLatin1String("~/"))) p = platform::homeFolder() + p.mid(1);
    // Paths built from clean ones (the usual case) are returned as they are.
    if (isCleanPath(p) && !hasDotComponent(p)) return p;
    return QDir::cleanPath(p);
}

namespace {

// No doubled separator and none at the end (other than "/" itself): what
// normalisePath() makes, so the answers below need no cleaning for it.
bool isCleanPath(const QString &path)
{
    const qsizetype n = path.size();
    if (n == 0) return false;
    const QChar *p = path.constData();
    if (n > 1 && p[n - 1] == QLatin1Char('/')) return false;
    // Every path operation asks this: a plain loop, no substring search.
    for (qsizetype i = 1; i < n; ++i) {
        if (p[i] == QLatin1Char('/') && p[i - 1] == QLatin1Char('/')) return false;
    }
    return true;
}

} // namespace

QString parentPath(const QString &path)
{
    if (!isCleanPath(path)) return vtr::posixDeletingLastPathComponent(path);
    if (path == QLatin1String("/")) return path;
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash < 0) return QStringLiteral("");
    if (slash == 0) return QStringLiteral("/");
    return path.left(slash);
}

QString childPath(const QString &folder, const QString &name)
{
    if (!isCleanPath(folder) || name.isEmpty() || name.contains(QLatin1Char('/')))
        return vtr::posixAppendPathComponent(folder, name);
    if (folder == QLatin1String("/")) return folder + name;
    return folder + QLatin1Char('/') + name;
}

QString lastComponent(const QString &path)
{
    if (!isCleanPath(path) || path == QLatin1String("/")) return vtr::posixLastPathComponent(path);
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

bool lstatPath(const QString &path, struct stat *st)
{
    if (path.isEmpty()) {
        errno = ENOENT;
        return false;
    }
    return ::lstat(encode(path).constData(), st) == 0;
}

bool statPath(const QString &path, struct stat *st)
{
    if (path.isEmpty()) {
        errno = ENOENT;
        return false;
    }
    return ::stat(encode(path).constData(), st) == 0;
}

bool existsNoFollow(const QString &path)
{
    struct stat st;
    return lstatPath(path, &st);
}

QString canonicalPath(const QString &path)
{
    if (path.isEmpty()) return QString();
    char *resolved = ::realpath(encode(path).constData(), nullptr);
    if (!resolved) return QString();
    const QString result = decode(resolved);
    std::free(resolved);
    return result;
}

QDateTime dateFromTimespec(const struct timespec &ts)
{
    const qint64 ms = qint64(ts.tv_sec) * 1000 + qint64(ts.tv_nsec) / 1000000;
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC);
}

struct timespec timespecFromDate(const QDateTime &date)
{
    const qint64 ms = date.toMSecsSinceEpoch();
    qint64 seconds = ms / 1000;
    qint64 rest = ms % 1000;
    if (rest < 0) {
        rest += 1000;
        --seconds;
    }
    struct timespec ts;
    ts.tv_sec = time_t(seconds);
    ts.tv_nsec = long(rest * 1000000);
    return ts;
}

bool isSafeName(const QString &name)
{
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..")) return false;
    return !name.contains(QLatin1Char('/')) && !name.contains(QChar(0));
}

namespace {

qint64 saturatedProduct(quint64 count, quint64 unit)
{
    if (unit != 0 && count > quint64(std::numeric_limits<qint64>::max()) / unit)
        return std::numeric_limits<qint64>::max();
    return qint64(count * unit);
}

} // namespace

qint64 volumeCapacity(const QString &path)
{
    struct statvfs vfs;
    if (path.isEmpty() || ::statvfs(encode(path).constData(), &vfs) != 0) return 0;
    return saturatedProduct(vfs.f_blocks, vfs.f_frsize);
}

qint64 volumeFreeSpace(const QString &path)
{
    struct statvfs vfs;
    if (path.isEmpty() || ::statvfs(encode(path).constData(), &vfs) != 0) return 0;
    return saturatedProduct(vfs.f_bavail, vfs.f_frsize);
}

bool listFolder(const QString &path, QStringList &names, QList<unsigned char> *types)
{
    DIR *dir = ::opendir(encode(path).constData());
    if (!dir) return false;
    errno = 0;
    while (dirent *entry = ::readdir(dir)) {
        const char *n = entry->d_name;
        if (n[0] == '.' && (n[1] == 0 || (n[1] == '.' && n[2] == 0))) continue;
        names.append(decode(n));
        if (types) types->append(entry->d_type);
        errno = 0;
    }
    const int readError = errno;
    ::closedir(dir);
    if (readError != 0) {
        errno = readError;
        return false;
    }
    return true;
}

// ---- removing ----------------------------------------------------------------------------

namespace {

bool removeAt(int parentFd, const QByteArray &name)
{
    struct stat st;
    if (::fstatat(parentFd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT;
    if (!S_ISDIR(st.st_mode)) return ::unlinkat(parentFd, name.constData(), 0) == 0 || errno == ENOENT;

    const int fd = ::openat(parentFd, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    DIR *dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return false;
    }
    QList<QByteArray> children;
    while (dirent *entry = ::readdir(dir)) {
        const char *n = entry->d_name;
        if (n[0] == '.' && (n[1] == 0 || (n[1] == '.' && n[2] == 0))) continue;
        children.append(QByteArray(n));
    }
    bool ok = true;
    int firstError = 0;
    for (const QByteArray &child : children) {
        if (!removeAt(::dirfd(dir), child) && ok) {
            ok = false;
            firstError = errno;
        }
    }
    ::closedir(dir);
    if (!ok) {
        errno = firstError;
        return false;
    }
    return ::unlinkat(parentFd, name.constData(), AT_REMOVEDIR) == 0 || errno == ENOENT;
}

} // namespace

bool removeItem(const QString &path)
{
    if (path.isEmpty() || path == QLatin1String("/")) {
        errno = EINVAL;
        return false;
    }
    const QString parent = parentPath(path);
    const int parentFd =
        ::open(encode(parent.isEmpty() ? QStringLiteral(".") : parent).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (parentFd < 0) return false;
    const bool ok = removeAt(parentFd, encode(lastComponent(path)));
    const int error = errno;
    ::close(parentFd);
    errno = error;
    return ok;
}

// ---- writing and copying ----------------------------------------------------------------

bool writeAllAt(int fd, const char *data, qint64 length, qint64 offset)
{
    while (length > 0) {
        const ssize_t n = ::pwrite(fd, data, size_t(std::min<qint64>(length, qint64(1) << 30)), off_t(offset));
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) {
            errno = EIO;
            return false;
        }
        data += n;
        length -= n;
        offset += n;
    }
    return true;
}

bool writeAll(int fd, const char *data, qint64 length)
{
    while (length > 0) {
        const ssize_t n = ::write(fd, data, size_t(std::min<qint64>(length, qint64(1) << 30)));
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) {
            errno = EIO;
            return false;
        }
        data += n;
        length -= n;
    }
    return true;
}

bool copyFileData(int in, int out)
{
    bool kernelCopy = true;
    for (;;) {
        if (kernelCopy) {
            const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, size_t(1) << 30, 0);
            if (n > 0) continue;
            if (n == 0) return true;
            if (errno == EINTR) continue;
            if (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP || errno == EBADF) {
                kernelCopy = false;
                continue;
            }
            return false;
        }
        char buffer[65536];
        const ssize_t n = ::read(in, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) return true;
        if (!writeAll(out, buffer, n)) return false;
    }
}

QString temporaryNameIn(const QString &folder, const QString &hint)
{
    // Hidden, recognisable, and short enough for any file system's name limit.
    QString cleanHint = hint.left(40);
    cleanHint.replace(QLatin1Char('/'), QLatin1Char('_'));
    cleanHint.remove(QChar(0));
    for (int attempt = 0; attempt < 100; ++attempt) {
        const quint64 r = QRandomGenerator::global()->generate64();
        const QString name =
            QStringLiteral(".%1.vtr-%2").arg(cleanHint).arg(r & 0xFFFFFFFFFFFFull, 12, 16, QLatin1Char('0'));
        const QString path = childPath(folder, name);
        if (!existsNoFollow(path)) return path;
    }
    return QString();
}

int createTemporaryFileIn(const QString &folder, const QString &hint, QString *outPath)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString path = temporaryNameIn(folder, hint);
        if (path.isNull()) break;
        const int fd = ::open(encode(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            if (outPath) *outPath = path;
            return fd;
        }
        if (errno != EEXIST) return -1;
    }
    errno = EEXIST;
    return -1;
}

bool renameNoReplace(const QString &from, const QString &to)
{
    const QByteArray a = encode(from);
    const QByteArray b = encode(to);
    if (::renameat2(AT_FDCWD, a.constData(), AT_FDCWD, b.constData(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // A file system without the flag: check, then rename (a narrow window).
    if (existsNoFollow(to)) {
        errno = EEXIST;
        return false;
    }
    return ::rename(a.constData(), b.constData()) == 0;
}

bool copyItem(const QString &from, const QString &to)
{
    struct stat st;
    if (!lstatPath(from, &st)) return false;
    const QByteArray target = encode(to);
    if (S_ISLNK(st.st_mode)) {
        QByteArray link(PATH_MAX, Qt::Uninitialized);
        const ssize_t n = ::readlink(encode(from).constData(), link.data(), size_t(link.size()));
        if (n < 0) return false;
        link.truncate(n);
        return ::symlink(link.constData(), target.constData()) == 0;
    }
    const struct timespec times[2] = {{0, UTIME_OMIT}, st.st_mtim};
    if (S_ISREG(st.st_mode)) {
        const int in = ::open(encode(from).constData(), O_RDONLY | O_CLOEXEC);
        if (in < 0) return false;
        const int out = ::open(target.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, st.st_mode & 0777);
        if (out < 0) {
            const int error = errno;
            ::close(in);
            errno = error;
            return false;
        }
        bool ok = copyFileData(in, out);
        int error = errno;
        if (ok) ::fchmod(out, st.st_mode & 07777);
        if (ok) ::futimens(out, times);
        if (::close(out) != 0 && ok) {
            ok = false;
            error = errno;
        }
        ::close(in);
        if (!ok) {
            ::unlink(target.constData());
            errno = error;
        }
        return ok;
    }
    if (S_ISDIR(st.st_mode)) {
        if (::mkdir(target.constData(), 0700) != 0) return false;
        QStringList names;
        if (!listFolder(from, names)) {
            const int error = errno;
            removeItem(to);
            errno = error;
            return false;
        }
        for (const QString &name : names) {
            if (!copyItem(childPath(from, name), childPath(to, name))) {
                const int error = errno;
                removeItem(to);
                errno = error;
                return false;
            }
        }
        ::chmod(target.constData(), st.st_mode & 07777);
        ::utimensat(AT_FDCWD, target.constData(), times, 0);
        return true;
    }
    // Devices, pipes and sockets are not copied.
    return true;
}

namespace {

// A state older than this is asked again: well under a tick of the clock
// that stamps folder changes.
constexpr qint64 kRecentStateNs = 2'000'000;

qint64 monotonicNs()
{
    struct timespec now;
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

} // namespace

// ---- case-insensitive look-up ----------------------------------------------------------------

namespace {

struct FolderIndex
{
    dev_t device = 0;
    ino_t inode = 0;
    struct timespec modified
    {
    };
    struct timespec changed
    {
    };
    QHash<QString, QStringList> byFoldedName;
    quint64 lastUse = 0;
};

struct IndexStore
{
    std::mutex mutex;
    QHash<QString, FolderIndex> folders;
    quint64 clock = 0;
};

IndexStore &indexStore()
{
    static IndexStore *store = new IndexStore;
    return *store;
}

constexpr qsizetype kMaxIndexedFolders = 32;

bool sameTime(const struct timespec &a, const struct timespec &b)
{
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

bool matches(const FolderIndex &index, const struct stat &st)
{
    return index.device == st.st_dev && index.inode == st.st_ino && sameTime(index.modified, st.st_mtim) &&
           sameTime(index.changed, st.st_ctim);
}

void stamp(FolderIndex &index, const struct stat &st)
{
    index.device = st.st_dev;
    index.inode = st.st_ino;
    index.modified = st.st_mtim;
    index.changed = st.st_ctim;
}

void addName(FolderIndex &index, const QString &name)
{
    QStringList &names = index.byFoldedName[name.toCaseFolded()];
    if (!names.contains(name)) names.append(name);
}

void removeName(FolderIndex &index, const QString &name)
{
    const QString key = name.toCaseFolded();
    auto it = index.byFoldedName.find(key);
    if (it == index.byFoldedName.end()) return;
    it->removeAll(name);
    if (it->isEmpty()) index.byFoldedName.erase(it);
}

// With the store's lock held.
void storeIndex(IndexStore &store, const QString &folder, FolderIndex index)
{
    if (!store.folders.contains(folder) && store.folders.size() >= kMaxIndexedFolders) {
        auto oldest = store.folders.begin();
        for (auto it = store.folders.begin(); it != store.folders.end(); ++it) {
            if (it->lastUse < oldest->lastUse) oldest = it;
        }
        store.folders.erase(oldest);
    }
    index.lastUse = ++store.clock;
    store.folders.insert(folder, std::move(index));
}

QStringList candidatesFor(const QString &folder, const QString &name, bool forceListing, FolderState *seen)
{
    struct stat before;
    if (!statPath(folder, &before) || !S_ISDIR(before.st_mode)) return {};
    if (seen) *seen = FolderState{folder, before, monotonicNs()};
    IndexStore &store = indexStore();
    const QString key = name.toCaseFolded();
    if (!forceListing) {
        std::lock_guard<std::mutex> lock(store.mutex);
        auto it = store.folders.find(folder);
        if (it != store.folders.end() && matches(*it, before)) {
            it->lastUse = ++store.clock;
            return it->byFoldedName.value(key);
        }
    }
    QStringList names;
    if (!listFolder(folder, names)) return {};
    rememberListing(folder, before, names);
    QStringList found;
    for (const QString &n : names) {
        if (n.toCaseFolded() == key) found.append(n);
    }
    return found;
}

} // namespace

void rememberListing(const QString &folder, const struct stat &before, const QStringList &names)
{
    FolderIndex index;
    stamp(index, before);
    for (const QString &n : names)
        addName(index, n);
    IndexStore &store = indexStore();
    std::lock_guard<std::mutex> lock(store.mutex);
    storeIndex(store, folder, std::move(index));
}

QString findNameIgnoringCase(const QString &folder, const QString &name, FolderState *seen)
{
    if (folder.isEmpty() || !isSafeName(name)) return QString();
    for (int pass = 0; pass < 2; ++pass) {
        bool stale = false;
        for (const QString &candidate : candidatesFor(folder, name, pass > 0, seen)) {
            if (candidate == name) continue;
            if (existsNoFollow(childPath(folder, candidate))) return candidate;
            stale = true;
        }
        if (!stale) break;
    }
    return QString();
}

bool FolderState::isRecentFor(const QString &path) const
{
    return takenNs >= 0 && monotonicNs() - takenNs < kRecentStateNs && folder == path;
}

ChangeInFolder::ChangeInFolder(const QString &folder) : m_folder(folder)
{
    begin(nullptr);
}

ChangeInFolder::ChangeInFolder(const QString &folder, const FolderState &known) : m_folder(folder)
{
    begin(known.isRecentFor(folder) ? &known.status : nullptr);
}

void ChangeInFolder::begin(const struct stat *status)
{
    struct stat st;
    if (!status) {
        if (!statPath(m_folder, &st)) return;
        status = &st;
    }
    IndexStore &store = indexStore();
    std::lock_guard<std::mutex> lock(store.mutex);
    auto it = store.folders.constFind(m_folder);
    m_indexWasCurrent = it != store.folders.constEnd() && matches(*it, *status);
}

ChangeInFolder::~ChangeInFolder()
{
    if (!m_finished) finish();
}

FolderState ChangeInFolder::finish()
{
    m_finished = true;
    FolderState state;
    struct stat st;
    const bool statted = statPath(m_folder, &st);
    if (statted) {
        state.folder = m_folder;
        state.status = st;
        state.takenNs = monotonicNs();
    }
    IndexStore &store = indexStore();
    std::lock_guard<std::mutex> lock(store.mutex);
    auto it = store.folders.find(m_folder);
    if (it == store.folders.end()) return state;
    if (!m_indexWasCurrent || !statted) {
        store.folders.erase(it);
        return state;
    }
    for (const QString &name : m_removed)
        removeName(*it, name);
    for (const QString &name : m_added)
        addName(*it, name);
    stamp(*it, st);
    return state;
}

} // namespace vtr::localfs
