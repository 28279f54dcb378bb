#include "Folders.h"

#include "VtrException.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace platform {
namespace {

QMutex g_lock;
QString g_home, g_data, g_state, g_temp;

QString xdg(const char *var, const char *fallbackBelowHome)
{
    QString v = qEnvironmentVariable(var);
    if (v.isEmpty() || !QDir::isAbsolutePath(v)) v = homeFolder() + QLatin1Char('/') + QLatin1String(fallbackBelowHome);
    return QDir::cleanPath(v);
}

QString overridden(const QString &value)
{
    QMutexLocker l(&g_lock);
    return value;
}

}  // namespace

QString homeFolder()
{
    QString o = overridden(g_home);
    if (!o.isEmpty()) return o;
    QString h = qEnvironmentVariable("HOME");
    return h.isEmpty() ? QDir::homePath() : QDir::cleanPath(h);
}

QString dataFolder()
{
    QString o = overridden(g_data);
    if (!o.isEmpty()) return o;
    return xdg("XDG_DATA_HOME", ".local/share") + QLatin1Char('/') + QLatin1String(kAppFolderName);
}

QString stateFolder()
{
    QString o = overridden(g_state);
    if (!o.isEmpty()) return o;
    return xdg("XDG_STATE_HOME", ".local/state") + QLatin1Char('/') + QLatin1String(kAppFolderName);
}

QString cacheFolder()
{
    return xdg("XDG_CACHE_HOME", ".cache") + QLatin1Char('/') + QLatin1String(kAppFolderName);
}

namespace {

// The temporary folder as the person's folder it lies in and the folders of
// ours below that one.
struct TemporaryFolderSteps
{
    QString path;
    QString base;
    QStringList steps;
};

TemporaryFolderSteps temporaryFolderSteps()
{
    const QString path = overridden(g_temp);
    if (!path.isEmpty()) {
        const QString clean = QDir::cleanPath(path);
        return {path, QFileInfo(clean).path(), {QFileInfo(clean).fileName()}};
    }
    const QString cache = xdg("XDG_CACHE_HOME", ".cache");
    return {cacheFolder() + QStringLiteral("/tmp"), cache, {QLatin1String(kAppFolderName), QStringLiteral("tmp")}};
}

}  // namespace

QString temporaryFolder()
{
    const TemporaryFolderSteps where = temporaryFolderSteps();
    QString error;
    const int fd = openOwnFolder(where.base, where.steps, true, &error);
    if (fd < 0) throw VtrException(QStringLiteral("TemporaryFolderException"), error);
    ::close(fd);
    return where.path;
}

void setHomeFolderOverride(const QString &path) { QMutexLocker l(&g_lock); g_home = path; }
void setDataFolderOverride(const QString &path) { QMutexLocker l(&g_lock); g_data = path; }
void setStateFolderOverride(const QString &path) { QMutexLocker l(&g_lock); g_state = path; }
void setTemporaryFolderOverride(const QString &path) { QMutexLocker l(&g_lock); g_temp = path; }

namespace {

// The names of the entries of the open folder `fd` (the descriptor stays open).
std::vector<std::string> entryNames(int fd, bool *complete)
{
    std::vector<std::string> names;
    *complete = false;
    const int listing = ::dup(fd);
    if (listing < 0) return names;
    DIR *dir = ::fdopendir(listing);
    if (!dir) {
        ::close(listing);
        return names;
    }
    ::rewinddir(dir);
    errno = 0;
    while (const dirent *entry = ::readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            names.emplace_back(entry->d_name);
        errno = 0;
    }
    *complete = errno == 0;
    ::closedir(dir);
    return names;
}

struct TreeRemover
{
    dev_t device;
    qint64 maxEntries;
    int maxDepth;
    TemporaryRemoval result;

    // Removes `name` of the open folder `parent`.
    void remove(int parent, const char *name, int depth)
    {
        struct stat st;
        if (::fstatat(parent, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno != ENOENT) ++result.kept;
            return;
        }
        if (result.removed >= maxEntries) {
            ++result.kept;
            return;
        }
        if (!S_ISDIR(st.st_mode)) {
            if (::unlinkat(parent, name, 0) == 0) ++result.removed;
            else if (errno != ENOENT) ++result.kept;
            return;
        }
        // A folder swapped for a link meanwhile is not entered (O_NOFOLLOW),
        // nor one of another file system.
        const int fd = depth < maxDepth && st.st_dev == device
                           ? ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)
                           : -1;
        struct stat opened;
        if (fd < 0 || ::fstat(fd, &opened) != 0 || opened.st_dev != st.st_dev || opened.st_ino != st.st_ino) {
            if (fd >= 0) ::close(fd);
            ++result.kept;
            return;
        }
        bool complete = false;
        for (const std::string &child : entryNames(fd, &complete)) remove(fd, child.c_str(), depth + 1);
        ::close(fd);
        if (::unlinkat(parent, name, AT_REMOVEDIR) == 0) ++result.removed;
        else if (errno != ENOENT) ++result.kept;
    }
};

// Opens the folder `path` itself, refusing a link in its place.
int openFolderNoFollow(const QString &path, struct stat *st)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0 && ::fstat(fd, st) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

TemporaryRemoval removeTreeWithoutFollowingLinks(const QString &path, qint64 maxEntries, int maxDepth)
{
    const QString clean = QDir::cleanPath(path);
    const QString parentPath = QFileInfo(clean).path();
    const QByteArray name = QFile::encodeName(QFileInfo(clean).fileName());
    TemporaryRemoval none;
    if (name.isEmpty() || name == "." || name == "..") return none;
    struct stat st;
    const int parent = openFolderNoFollow(parentPath, &st);
    if (parent < 0) {
        ++none.kept;
        return none;
    }
    TreeRemover remover{st.st_dev, maxEntries, maxDepth, {}};
    remover.remove(parent, name.constData(), 0);
    ::close(parent);
    return remover.result;
}

bool isOwnTemporaryName(const QString &name)
{
    // As the program's parts name their items: a template's stem followed by
    // "-" and the made-up rest, a unique name's "-N", a saved file's ".XXXXXX".
    static const char *const kStems[] = {"backup",       "simulated-phone",  "iphone-db",      "bbb",
                                         "phone-read",   "VantrelUnzip",     "playlist",       "phonefile",
                                         "bad-vol-test", "sl_contacts.json", "sl_events.json", "sl_tasks.json",
                                         "sl_notes.json"};
    for (const char *stem : kStems) {
        const QLatin1String s(stem);
        if (name == s) return true;
        if (name.size() > s.size() && name.startsWith(s) &&
            (name.at(s.size()) == QLatin1Char('-') || name.at(s.size()) == QLatin1Char('.')))
            return true;
    }
    // The folders of links handed to the media library: the product's name and a time.
    return name.startsWith(QLatin1String(kAppFolderName) + QLatin1Char(' '));
}

TemporaryRemoval removeLeftoversOfEarlierRuns()
{
    // A folder that is not there holds nothing; one reached through a link or
    // another user's folder is not ours to clear (temporaryFolder() refuses
    // it when it is asked for).
    TemporaryRemoval total;
    const TemporaryFolderSteps where = temporaryFolderSteps();
    const int fd = openOwnFolder(where.base, where.steps, false);
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        if (fd >= 0) ::close(fd);
        return total;
    }
    bool complete = false;
    TreeRemover remover{st.st_dev, 10'000'000, 256, {}};
    for (const std::string &name : entryNames(fd, &complete))
        if (isOwnTemporaryName(QFile::decodeName(QByteArray::fromStdString(name))))
            remover.remove(fd, name.c_str(), 0);
    ::close(fd);
    if (!complete) ++remover.result.kept;
    return remover.result;
}

bool ensurePrivateFolder(const QString &path, QString *error)
{
    auto fail = [&](const QString &why) {
        if (error) *error = why;
        return false;
    };
    const QByteArray p = QFile::encodeName(path);
    struct stat st;
    if (::lstat(p.constData(), &st) != 0) {
        if (errno != ENOENT)
            return fail(QStringLiteral("Cannot inspect %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno))));
        QDir().mkpath(QFileInfo(path).absolutePath());
        if (::mkdir(p.constData(), 0700) != 0 && errno != EEXIST)
            return fail(QStringLiteral("Cannot create %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno))));
        if (::lstat(p.constData(), &st) != 0)
            return fail(QStringLiteral("Cannot inspect %1").arg(path));
    }
    if (S_ISLNK(st.st_mode) || !S_ISDIR(st.st_mode))
        return fail(QStringLiteral("%1 is not a folder").arg(path));
    if (st.st_uid != ::geteuid())
        return fail(QStringLiteral("%1 belongs to another user").arg(path));
    if ((st.st_mode & 0777) != 0700 && ::chmod(p.constData(), 0700) != 0)
        return fail(QStringLiteral("Cannot protect %1").arg(path));
    return true;
}

namespace {

enum class Making { None, Private, AsThePersonsOwn };

int openFolderSteps(const QString &base, const QStringList &steps, Making making, QString *error)
{
    const bool make = making != Making::None;
    int fd = -1;
    auto fail = [&](const QString &why) {
        if (fd >= 0) ::close(fd);
        if (error) *error = why;
        return -1;
    };
    auto failWithCode = [&](const char *what, const QString &path, int code) {
        return fail(QStringLiteral("%1 %2: %3").arg(QLatin1String(what), path, QString::fromLocal8Bit(std::strerror(code))));
    };
    if (make) QDir().mkpath(base);
    fd = ::open(QFile::encodeName(base).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return failWithCode("Cannot open", base, errno);
    QString path = base;
    for (const QString &step : steps) {
        path += QLatin1Char('/') + step;
        const QByteArray name = QFile::encodeName(step);
        if (name.isEmpty() || name == "." || name == ".." || name.contains('/'))
            return fail(QStringLiteral("%1 is not a folder").arg(path));
        // Each step by descriptor from the one before: a link put in the
        // place of a folder of ours is never followed, at any step.
        int next = ::openat(fd, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0 && errno == ENOENT && make) {
            const mode_t mode = making == Making::Private ? 0700 : 0777;
            if (::mkdirat(fd, name.constData(), mode) != 0 && errno != EEXIST)
                return failWithCode("Cannot create", path, errno);
            next = ::openat(fd, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        }
        if (next < 0) {
            if (errno == ELOOP || errno == ENOTDIR) {
                struct stat standing;
                const bool link = ::fstatat(fd, name.constData(), &standing, AT_SYMLINK_NOFOLLOW) == 0 &&
                                  S_ISLNK(standing.st_mode);
                return fail((link ? QStringLiteral("%1 is a link") : QStringLiteral("%1 is not a folder")).arg(path));
            }
            return failWithCode("Cannot open", path, errno);
        }
        ::close(fd);
        fd = next;
        struct stat st;
        if (::fstat(fd, &st) != 0) return failWithCode("Cannot inspect", path, errno);
        if (st.st_uid != ::geteuid()) return fail(QStringLiteral("%1 belongs to another user").arg(path));
        if (making == Making::Private && (st.st_mode & 0777) != 0700 && ::fchmod(fd, 0700) != 0)
            return fail(QStringLiteral("Cannot protect %1").arg(path));
    }
    return fd;
}

}  // namespace

int openOwnFolder(const QString &base, const QStringList &steps, bool make, QString *error)
{
    return openFolderSteps(base, steps, make ? Making::Private : Making::None, error);
}

int openOwnFolder(const QString &path, bool make, QString *error)
{
    const QString clean = QDir::cleanPath(path);
    return openOwnFolder(QFileInfo(clean).path(), {QFileInfo(clean).fileName()}, make, error);
}

int openVisibleFolder(const QString &path, const QStringList &below, QString *error)
{
    const QString clean = QDir::cleanPath(path);
    return openFolderSteps(QFileInfo(clean).path(), QStringList{QFileInfo(clean).fileName()} + below,
                           Making::AsThePersonsOwn, error);
}

int openDataFolder(const QStringList &below, QString *error) { return openDataFolder(below, true, error); }

int openDataFolder(const QStringList &below, bool make, QString *error)
{
    const QString data = overridden(g_data);
    if (data.isEmpty())
        return openOwnFolder(xdg("XDG_DATA_HOME", ".local/share"), QStringList{QLatin1String(kAppFolderName)} + below,
                             make, error);
    const QString clean = QDir::cleanPath(data);
    return openOwnFolder(QFileInfo(clean).path(), QStringList{QFileInfo(clean).fileName()} + below, make, error);
}

int openDataFile(const QStringList &below, const QString &name, struct stat *st, QString *error, int *code)
{
    QString shown = dataFolder();
    for (const QString &step : below) shown += QLatin1Char('/') + step;
    shown += QLatin1Char('/') + name;
    int fd = -1;
    auto fail = [&](const QString &why, int number) {
        if (fd >= 0) ::close(fd);
        if (error) *error = why;
        if (code) *code = number;
        return -1;
    };
    QString why;
    errno = 0;
    const int folder = openDataFolder(below, false, &why);
    if (folder < 0) return fail(why, errno == ENOENT ? ENOENT : EPERM);
    const QByteArray leaf = QFile::encodeName(name);
    if (!leaf.isEmpty() && !leaf.contains('/') && leaf != "." && leaf != "..")
        fd = ::openat(folder, leaf.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    const int openError = errno;
    ::close(folder);
    if (fd < 0) {
        if (openError == ELOOP) return fail(QStringLiteral("%1 is a link").arg(shown), EPERM);
        if (openError == ENOENT) return fail(QStringLiteral("%1 is not there").arg(shown), ENOENT);
        return fail(QStringLiteral("%1 cannot be read: %2").arg(shown, QString::fromLocal8Bit(std::strerror(openError))),
                    openError);
    }
    if (::fstat(fd, st) != 0 || !S_ISREG(st->st_mode))
        return fail(QStringLiteral("%1 is not a plain file").arg(shown), EPERM);
    if (st->st_uid != ::geteuid()) return fail(QStringLiteral("%1 belongs to another user").arg(shown), EPERM);
    return fd;
}

int readUpTo(int fd, qint64 size, QByteArray *bytes)
{
    bytes->resize(qsizetype(size));
    qsizetype done = 0;
    int failed = 0;
    while (failed == 0 && done < bytes->size()) {
        const ssize_t n = ::read(fd, bytes->data() + done, size_t(bytes->size() - done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) failed = errno;
        if (n <= 0) break;
        done += n;
    }
    bytes->truncate(done);
    return failed;
}

std::optional<QByteArray> readDataFile(const QStringList &below, const QString &name, qint64 most, QString *error,
                                       int *code)
{
    struct stat st;
    const int fd = openDataFile(below, name, &st, error, code);
    if (fd < 0) return std::nullopt;
    std::optional<QByteArray> result;
    QByteArray bytes;
    if (qint64(st.st_size) > most) {
        if (error) *error = QStringLiteral("%1/%2 is larger than such a file may be").arg(dataFolder(), name);
        if (code) *code = EFBIG;
    } else if (const int failed = readUpTo(fd, qint64(st.st_size), &bytes); failed == 0) {
        result = bytes;
    } else {
        if (error)
            *error = QStringLiteral("%1/%2 cannot be read: %3")
                         .arg(dataFolder(), name, QString::fromLocal8Bit(std::strerror(failed)));
        if (code) *code = failed;
    }
    ::close(fd);
    return result;
}

bool replaceFileIn(int folder, const QString &folderPath, const QString &name, const std::function<bool(int fd)> &fill,
                   QString *error)
{
    const QString shown = folderPath + QLatin1Char('/') + name;
    auto fail = [&](const QString &why) {
        if (error) *error = why;
        return false;
    };
    auto failWithCode = [&](int code) {
        return fail(
            QStringLiteral("%1 could not be written: %2").arg(shown, QString::fromLocal8Bit(std::strerror(code))));
    };
    const QByteArray leaf = QFile::encodeName(name);
    if (folder < 0 || leaf.isEmpty() || leaf == "." || leaf == ".." || leaf.contains('/') || leaf.contains('\0'))
        return fail(QStringLiteral("%1 is not the name of a file").arg(shown));
    struct stat old;
    bool replacing = false;
    if (::fstatat(folder, leaf.constData(), &old, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISLNK(old.st_mode)) return fail(QStringLiteral("%1 is a link").arg(shown));
        if (!S_ISREG(old.st_mode)) return fail(QStringLiteral("%1 is not a plain file").arg(shown));
        if (old.st_uid != ::geteuid()) return fail(QStringLiteral("%1 belongs to another user").arg(shown));
        replacing = true;
    } else if (errno != ENOENT) {
        return failWithCode(errno);
    }
    // Hidden beside it, under a name no one can have put there first.
    QByteArray step;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        step = '.' + leaf.left(40) + ".vtr-" +
               QByteArray::number(QRandomGenerator::global()->generate64() & 0xFFFFFFFFFFFFull, 16);
        fd = ::openat(folder, step.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) return failWithCode(errno);
    if (replacing) ::fchmod(fd, old.st_mode & 07777);
    bool ok = fill(fd);
    int code = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        code = errno;
    }
    if (ok) {
        // Onto the plain file just looked at, or onto no item at all: one that
        // appeared meanwhile is not replaced.
        ok = replacing ? ::renameat(folder, step.constData(), folder, leaf.constData()) == 0
                       : ::renameat2(folder, step.constData(), folder, leaf.constData(), RENAME_NOREPLACE) == 0;
        if (!ok && !replacing && (errno == EINVAL || errno == ENOSYS)) {
            // A file system without the flag: a hard link fails as well when
            // the name is taken.
            ok = ::linkat(folder, step.constData(), folder, leaf.constData(), 0) == 0;
            if (ok) ::unlinkat(folder, step.constData(), 0);
        }
        if (!ok) code = errno;
    }
    if (!ok) {
        ::unlinkat(folder, step.constData(), 0);
        if (code == EEXIST) return fail(QStringLiteral("%1 was taken by another item meanwhile").arg(shown));
        return failWithCode(code);
    }
    return true;
}

bool replaceFileIn(int folder, const QString &folderPath, const QString &name, const QByteArray &contents,
                   QString *error)
{
    return replaceFileIn(
        folder, folderPath, name,
        [&contents](int fd) {
            qint64 done = 0;
            while (done < contents.size()) {
                const ssize_t n = ::write(fd, contents.constData() + done, size_t(contents.size() - done));
                if (n < 0 && errno == EINTR) continue;
                if (n <= 0) return false;
                done += n;
            }
            return true;
        },
        error);
}

bool forEachEntryIn(int folder, const std::function<void(const char *name)> &each, qint64 most)
{
    // A listing of its own: the caller's descriptor keeps its place.
    const int listing = ::dup(folder);
    DIR *entries = listing >= 0 ? ::fdopendir(listing) : nullptr;
    if (!entries) {
        if (listing >= 0) ::close(listing);
        return false;
    }
    ::rewinddir(entries);
    qint64 looked = 0;
    while (const dirent *entry = ::readdir(entries)) {
        if (++looked > most) break;
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) each(entry->d_name);
    }
    ::closedir(entries);
    return true;
}

}  // namespace platform
