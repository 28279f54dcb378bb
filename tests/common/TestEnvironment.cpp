#include "TestEnvironment.h"
#include "TestFolders.h"

#include "platform/Descriptor.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QSet>
#include <QTemporaryDir>
#include <QUuid>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include <dirent.h>
#include <endian.h>
#include <fcntl.h>
#include <grp.h>
#include <linux/keyctl.h>
#include <linux/posix_acl.h>
#include <linux/posix_acl_xattr.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

// Debian 12's header does not declare its functions as C.
extern "C" {
#include <sys/pidfd.h>
}

#include <gtest/gtest.h>

namespace testenv {

static QTemporaryDir *g_root = nullptr;

// A test run again as the unprivileged user finds what root staged for it,
// before it started, below the folder VTR_TEST_STAGED, at the same paths.
static const QString &stagedFolder()
{
    static const QString folder = qEnvironmentVariable("VTR_TEST_STAGED");
    return folder;
}

// Points HOME and the XDG folders below it at `home`, made empty.
static void useHome(const QString &home)
{
    const struct { const char *var; const char *sub; } dirs[] = {
        {"HOME", ""},
        {"XDG_DATA_HOME", "/.local/share"},
        {"XDG_CONFIG_HOME", "/.config"},
        {"XDG_CACHE_HOME", "/.cache"},
        {"XDG_STATE_HOME", "/.local/state"},
    };
    for (const auto &d : dirs) {
        const QString p = home + QLatin1String(d.sub);
        QDir().mkpath(p);
        qputenv(d.var, p.toLocal8Bit());
    }
}

void initialise()
{
    if (g_root) return;
    QString base = qEnvironmentVariable("VTR_TEST_TMP", QDir::tempPath());
    QDir().mkpath(base);
    g_root = new QTemporaryDir(base + QStringLiteral("/vtrtest-XXXXXX"));
    const QString r = g_root->path();
    useHome(r + QStringLiteral("/home"));
    QDir().mkpath(r + QStringLiteral("/runtime"));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(r + QStringLiteral("/runtime")));
    QFile::setPermissions(r + QStringLiteral("/runtime"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

static QStringList giveBackRights(const QString &path);

static QStringList entriesOfRoot()
{
    return QDir(root()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
}

// What one test leaves in the home (the new phone's folder, a music library,
// a settings file) must not be what the next one finds: each test starts in
// an empty home of its own, whatever order the tests run in. Earlier homes
// stay until the process ends, for whatever still holds a path into them.
// A test that leaves a folder of its own that its owner may not list, enter
// or change fails: run as an ordinary user, nothing could remove it.
class HomePerTest final : public ::testing::EmptyTestEventListener
{
    void OnTestStart(const ::testing::TestInfo &) override
    {
        const QStringList before = entriesOfRoot();
        m_before = QSet<QString>(before.cbegin(), before.cend());
        useHome(root() + QStringLiteral("/home-%1").arg(++m_count));
    }
    // Called before the printer's (the end of a test goes to the listeners
    // in the reverse order), so that its line says the test failed.
    void OnTestEnd(const ::testing::TestInfo &) override
    {
        QStringList given;
        for (const QString &name : entriesOfRoot())
            if (!m_before.contains(name)) given += giveBackRights(root() + QLatin1Char('/') + name);
        if (!given.isEmpty())
            ADD_FAILURE() << "the test left folders without the rights of their owner (given back now; "
                             "testenv::TakenModes gives back what a test takes): "
                          << given.join(QStringLiteral(", ")).toStdString();
    }
    int m_count = 0;
    QSet<QString> m_before;
};

void giveEachTestItsOwnHome()
{
    ::testing::UnitTest::GetInstance()->listeners().Append(new HomePerTest);
}

void cleanup()
{
    // Removed by descriptor: what a test made there is never followed to
    // where a link of it points (the temporary folder's own removal goes
    // through a link at its top, and by path below it).
    if (g_root) {
        giveBackRights(g_root->path());
        g_root->setAutoRemove(false);
        removeTree(g_root->path());
    }
    delete g_root;
    g_root = nullptr;
}

QString samplePath(const QString &relative, QString *why)
{
    const QString samples = QStringLiteral(VTR_SHARED_DATA_DIR "/samples");
    const QString path = reachable(samples + QLatin1Char('/') + relative);
    if (QFileInfo::exists(path)) return QDir::cleanPath(path);
    const QString missing = QFileInfo::exists(samples) ? QDir::cleanPath(path) : QDir::cleanPath(samples);
    if (why) *why = QStringLiteral("the real-world samples are missing: %1").arg(missing);
    // One line per program says what is missing, however many tests it skips.
    static bool said = false;
    if (!said && !samplesRequired()) {
        said = true;
        std::fprintf(stderr, "== %s: the tests that read it are skipped\n", qPrintable(missing));
    }
    return QString();
}

bool samplesRequired()
{
    return qEnvironmentVariable("VTR_REQUIRE_SAMPLES") == QLatin1String("1");
}

QString root()
{
    initialise();
    return g_root->path();
}

QString makeTempDir(const QString &hint)
{
    const QString p = root() + QStringLiteral("/") + hint + QLatin1Char('-') +
                      QUuid::createUuid().toString(QUuid::Id128).left(12);
    EXPECT_TRUE(QDir().mkpath(p));
    return p;
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    ASSERT_EQ(f.write(bytes), bytes.size());
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return f.readAll();
}

bool waitUntil(const std::function<bool()> &done, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    return done();
}

CurrentFolder::CurrentFolder(const QString &path) : m_before(QDir::currentPath())
{
    EXPECT_TRUE(QDir::setCurrent(path)) << path.toStdString();
}

CurrentFolder::~CurrentFolder() { QDir::setCurrent(m_before); }

using platform::Descriptor;

static QString errnoText(int error = errno) { return QString::fromLocal8Bit(std::strerror(error)); }

// One step of a path as the kernel reads it: a name in the folder, neither
// that folder nor the one above, and whole (the kernel's string ends at a
// NUL, so that "..\0", a name to Qt, is ".." to it).
static bool isName(const QByteArray &name)
{
    return !name.isEmpty() && name != "." && name != ".." && !name.contains('\0') && !name.contains('/');
}

// The folder `name` in the folder `at`, never through a link.
static Descriptor openFolderAt(int at, const QByteArray &name)
{
    if (!isName(name)) return (errno = EINVAL), Descriptor();
    return Descriptor(::openat(at, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

// The user a test runs again as, where root's rights would hide the faults it looks for.
constexpr uid_t kUnprivilegedUser = 65534;

// Gives the run's user, and no one else, the rights `user` (rwx as 0 to 7)
// to what root made for it, `fd`, root keeping `owner`: an access list, as a
// mode opened to everyone (or to a group the run's user shares with others)
// would hand root's files to every user of this computer.
static bool openToTheUserAlone(int fd, unsigned owner, unsigned user)
{
    const auto entry = [](unsigned tag, unsigned rights, uint32_t id = uint32_t(ACL_UNDEFINED_ID)) {
        return posix_acl_xattr_entry{htole16(uint16_t(tag)), htole16(uint16_t(rights)), htole32(id)};
    };
    const struct
    {
        posix_acl_xattr_header header;
        posix_acl_xattr_entry entries[5];
    } list{{htole32(POSIX_ACL_XATTR_VERSION)},
           {entry(ACL_USER_OBJ, owner), entry(ACL_USER, user, kUnprivilegedUser), entry(ACL_GROUP_OBJ, 0),
            entry(ACL_MASK, user), entry(ACL_OTHER, 0)}};
    return ::fsetxattr(fd, "system.posix_acl_access", &list, sizeof list, 0) == 0;
}

// The folder `name` in the staging folder `at`, root's: made if need be and
// then opened to the run's user alone; one that was there is entered as it is.
static Descriptor makeOpenFolderAt(int at, const QByteArray &name)
{
    if (!isName(name)) return (errno = EINVAL), Descriptor();
    const bool made = ::mkdirat(at, name.constData(), 0700) == 0;
    if (!made && errno != EEXIST) return Descriptor();
    Descriptor folder = openFolderAt(at, name);
    struct stat st;
    if (!folder.isOpen() || ::fstat(folder.get(), &st) != 0 || st.st_uid != ::geteuid()) return Descriptor();
    if (made && !openToTheUserAlone(folder.get(), 07, 05)) return Descriptor();
    return folder;
}

// The names in the folder `folder` (its own descriptor stays where it was).
static QList<QByteArray> entriesOf(int folder)
{
    QList<QByteArray> names;
    const int listed = ::dup(folder);
    DIR *dir = listed >= 0 ? ::fdopendir(listed) : nullptr;
    if (!dir) {
        if (listed >= 0) ::close(listed);
        return names;
    }
    ::rewinddir(dir);
    while (const dirent *entry = ::readdir(dir))
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            names.append(QByteArray(entry->d_name));
    ::closedir(dir);
    return names;
}

// Trees of the tests' own are shallow; the walk that gives back rights stays
// bounded whatever one holds.
constexpr int kMaxGivenBackDepth = 256;

// Gives the owner back the rights that removing `name` in the folder `at`
// needs: each folder in it of this process's user that its owner may not
// list, enter or change gets them, never through a link. `given` gets those
// folders, each with the mode it had.
static void giveBackRightsAt(int at, const QByteArray &name, const QString &shown, int depth, QStringList *given)
{
    struct stat st;
    if (depth > kMaxGivenBackDepth || !isName(name) ||
        ::fstatat(at, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(st.st_mode) ||
        st.st_uid != ::geteuid())
        return;
    if ((st.st_mode & S_IRWXU) != S_IRWXU) {
        if (::fchmodat(at, name.constData(), (st.st_mode & 07777) | S_IRWXU, 0) != 0) return;
        given->append(QStringLiteral("%1 (mode %2)").arg(shown, QString::number(st.st_mode & 07777, 8)));
    }
    const Descriptor folder = openFolderAt(at, name);
    if (!folder.isOpen()) return;
    for (const QByteArray &entry : entriesOf(folder.get()))
        giveBackRightsAt(folder.get(), entry, shown + QLatin1Char('/') + QFile::decodeName(entry), depth + 1, given);
}

static QStringList giveBackRights(const QString &path)
{
    QStringList given;
    const QFileInfo info(path);
    const Descriptor parent(::open(QFile::encodeName(info.path()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (parent.isOpen()) giveBackRightsAt(parent.get(), QFile::encodeName(info.fileName()), path, 0, &given);
    return given;
}

bool TakenModes::take(const QString &path, mode_t mode)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat st;
    if (::lstat(name.constData(), &st) != 0 || S_ISLNK(st.st_mode)) return false;
    {
        const QMutexLocker locked(&m_lock);
        m_taken.append({name, st.st_mode & 07777});
    }
    return ::chmod(name.constData(), mode) == 0;
}

TakenModes::~TakenModes()
{
    // The last first: a path taken twice ends with the mode it had at first.
    for (auto taken = m_taken.crbegin(); taken != m_taken.crend(); ++taken)
        ::chmod(taken->first.constData(), taken->second);
}

// Copies the bytes of `from` to `to`; false on an error of either.
static bool copyBytes(int from, int to)
{
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(from, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) return true;
        for (ssize_t at = 0; at < n;) {
            const ssize_t written = ::write(to, buffer + at, size_t(n - at));
            if (written < 0 && errno == EINTR) continue;
            if (written <= 0) return false;
            at += written;
        }
    }
}

// Why what root stages from, open as `fd`, is not root's alone: another
// user's, or a folder someone else may change (and so put anything in it in
// place of what root meant to hand over). Empty when it is root's alone. On
// the way to a tree (`onTheWay`), root's sticky folder (/tmp) passes: others
// may add to it but not rename or remove root's entries, and the next step
// is checked as root's in turn.
// Whether the last refusal to stage was for where the checkout or the shared
// data lie (a folder on the way that is not root's alone, a link of root's
// own in place of one): root chose that place and no other user can bring it
// about, so the test is skipped, saying why. Anything else (a link another
// user put there, a temporary folder too full to stage into) fails it.
static bool g_refusedForItsPlace = false;

static QString forItsPlace(const QString &why)
{
    if (!why.isEmpty()) g_refusedForItsPlace = true;
    return why;
}

static QString notRootsAlone(int fd, const QString &shown, bool onTheWay = false)
{
    struct stat st;
    if (::fstat(fd, &st) != 0) return QStringLiteral("%1: %2").arg(shown, errnoText());
    if (st.st_uid != ::geteuid()) return QStringLiteral("%1 is another user's").arg(shown);
    if (S_ISDIR(st.st_mode) && (st.st_mode & (S_IWGRP | S_IWOTH)) && !(onTheWay && (st.st_mode & S_ISVTX)))
        return QStringLiteral("%1 can be changed by other users").arg(shown);
    return QString();
}

// The project's trees are small; a walk of them stays bounded whatever is
// put in them.
constexpr int kMaxStagedDepth = 64;
constexpr qint64 kMaxStagedEntries = 100000;

// How the run's user gets what is staged for it.
enum class Handed {
    // To read (and start, where root may): the tests' files and the shared data.
    Readable,
    // To start, not to read: a process of a program its user may not read
    // is one that no other process of that user may attach to, from the
    // moment it starts (a process becomes open to them again when it starts
    // a program it may read, however it changed its ids before).
    StartOnly,
};

// Copies `name` of the folder `fromAt` to the same name in the staging folder
// `toAt` (absent, or staged before), for the run's user as `handed` says: a
// folder with what it holds, a link as a link, a file to read by a second
// name where everyone may read it already and no one else may change it, else
// as a copy that becomes it whole, which that user alone may read or start.
// Only root's files are taken, from folders root's alone; both sides are
// entered by descriptor, never through a link; `shown` names it.
static QString copyStaged(int fromAt, const QByteArray &name, int toAt, const QString &shown, Handed handed, int depth,
                          qint64 *entries)
{
    if (!isName(name)) return QStringLiteral("%1 does not end in a name").arg(shown);
    if (depth > kMaxStagedDepth || ++*entries > kMaxStagedEntries)
        return QStringLiteral("%1 is deeper, or holds more, than a tree of the project does").arg(shown);
    const char *entry = name.constData();
    struct stat st;
    if (::fstatat(fromAt, entry, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return QStringLiteral("%1: %2").arg(shown, errnoText());
    if (S_ISDIR(st.st_mode)) {
        const Descriptor from = openFolderAt(fromAt, name);
        if (!from.isOpen()) return QStringLiteral("%1 cannot be read").arg(shown);
        if (const QString why = notRootsAlone(from.get(), shown); !why.isEmpty()) return forItsPlace(why);
        const Descriptor to = makeOpenFolderAt(toAt, name);
        if (!to.isOpen()) return QStringLiteral("%1 cannot be made").arg(shown);
        for (const QByteArray &inner : entriesOf(from.get()))
            if (const QString why =
                    copyStaged(from.get(), inner, to.get(), shown + QLatin1Char('/') + QFile::decodeName(inner), handed,
                               depth + 1, entries);
                !why.isEmpty())
                return why;
        return QString();
    }
    struct stat there;
    if (::fstatat(toAt, entry, &there, AT_SYMLINK_NOFOLLOW) == 0) return QString();
    if (S_ISLNK(st.st_mode)) {
        char raw[4096];
        const ssize_t n = ::readlinkat(fromAt, entry, raw, sizeof raw);
        if (n < 0 || n == ssize_t(sizeof raw) || ::symlinkat(QByteArray(raw, n).constData(), toAt, entry) != 0)
            return QStringLiteral("the link %1 cannot be copied").arg(shown);
        return QString();
    }
    if (!S_ISREG(st.st_mode)) return QString();
    if (st.st_uid != ::geteuid()) return forItsPlace(QStringLiteral("%1 is another user's").arg(shown));
    const bool shared = handed == Handed::Readable && (st.st_mode & S_IROTH) &&
                        !(st.st_mode & (S_IWGRP | S_IWOTH | S_ISUID | S_ISGID)) &&
                        (!(st.st_mode & S_IXUSR) || (st.st_mode & S_IXOTH));
    if (shared && ::linkat(fromAt, entry, toAt, entry, 0) == 0) return QString();
    const QByteArray part = name + ".staging";
    ::unlinkat(toAt, part.constData(), 0);
    const Descriptor from(::openat(fromAt, entry, O_RDONLY | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    struct stat opened;
    if (!from.isOpen() || ::fstat(from.get(), &opened) != 0 || !S_ISREG(opened.st_mode))
        return QStringLiteral("%1 cannot be read").arg(shown);
    const Descriptor to(::openat(toAt, part.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    const unsigned owner = (opened.st_mode >> 6) & 07;
    const unsigned user = handed == Handed::StartOnly ? 01 : 04 | (owner & 01);
    if (!to.isOpen() || !copyBytes(from.get(), to.get()) || !openToTheUserAlone(to.get(), owner, user) ||
        ::renameat(toAt, part.constData(), toAt, entry) != 0) {
        ::unlinkat(toAt, part.constData(), 0);
        return QStringLiteral("%1 cannot be copied for the unprivileged user").arg(shown);
    }
    return QString();
}

// The folder holding the last step of the clean absolute path `path`, entered
// from "/" a step at a time, never through a link, each folder root's alone;
// `last` gets that step. Answers why not in `why`; or nothing, with `absent`
// set, where a step is not there (only root could put it there).
static Descriptor openTrustedParent(const QString &path, QByteArray *last, bool *absent, QString *why)
{
    const QByteArray bytes = QFile::encodeName(path);
    const QList<QByteArray> steps = bytes.mid(1).split('/');
    if (!bytes.startsWith('/') || !std::all_of(steps.cbegin(), steps.cend(), isName)) {
        *why = QStringLiteral("%1 is not a path of names").arg(QString(path).replace(QChar(0), QLatin1String("\\0")));
        return Descriptor();
    }
    Descriptor at(::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    *why = at.isOpen() ? forItsPlace(notRootsAlone(at.get(), QStringLiteral("/"), true)) : QStringLiteral("/ cannot be read");
    QString shown;
    for (qsizetype i = 0; why->isEmpty() && i + 1 < steps.size(); ++i) {
        shown += QLatin1Char('/') + QFile::decodeName(steps[i]);
        Descriptor next = openFolderAt(at.get(), steps[i]);
        const int error = errno;
        struct stat st;
        if (next.isOpen())
            *why = forItsPlace(notRootsAlone(next.get(), shown, true));
        else if (error == ENOENT)
            return (*absent = true), Descriptor();
        else if (::fstatat(at.get(), steps[i].constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode))
            *why = st.st_uid == ::geteuid() ? forItsPlace(QStringLiteral("%1 is a link").arg(shown))
                                            : QStringLiteral("%1 is a link of another user's").arg(shown);
        else
            *why = QStringLiteral("%1: %2").arg(shown, errnoText(error));
        at = std::move(next);
    }
    if (!why->isEmpty()) return Descriptor();
    *last = steps.last();
    return at;
}

// Stages `path` (a file, or a folder with all it holds) at the same path
// below the staging folder `staged`; answers why not. What is not there is
// not staged: the run then misses it as root does.
static QString stage(const QString &path, int staged, Handed handed = Handed::Readable)
{
    const QString clean = QDir::cleanPath(path);
    QByteArray last;
    bool absent = false;
    QString why;
    const Descriptor from = openTrustedParent(clean, &last, &absent, &why);
    if (!from.isOpen()) return why;
    struct stat st;
    if (::fstatat(from.get(), last.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? QString() : QStringLiteral("%1: %2").arg(clean, errnoText());
    if (S_ISLNK(st.st_mode))
        return st.st_uid == ::geteuid() ? forItsPlace(QStringLiteral("%1 is a link").arg(clean))
                                        : QStringLiteral("%1 is a link of another user's").arg(clean);
    const QList<QByteArray> steps = QFile::encodeName(clean).mid(1).split('/');
    Descriptor to(::fcntl(staged, F_DUPFD_CLOEXEC, 0));
    for (qsizetype i = 0; to.isOpen() && i + 1 < steps.size(); ++i) to = makeOpenFolderAt(to.get(), steps[i]);
    if (!to.isOpen()) return QStringLiteral("no folder for %1 could be made").arg(clean);
    qint64 entries = 0;
    return copyStaged(from.get(), last, to.get(), clean, handed, 0, &entries);
}

// The folder `name` in the folder `at`, if it is root's or `owner`'s, made
// root's alone before anything in it is looked at: a process of `owner`'s
// still at work in it (one the run left behind) can then add nothing that a
// listing misses, nor move what is in it elsewhere. `st` gets what it is.
static Descriptor takeOver(int at, const QByteArray &name, uid_t owner, struct stat *st)
{
    Descriptor folder = openFolderAt(at, name);
    if (!folder.isOpen() || ::fstat(folder.get(), st) != 0 || (st->st_uid != owner && st->st_uid != ::geteuid()) ||
        ::fchown(folder.get(), ::geteuid(), ::getegid()) != 0 || ::fchmod(folder.get(), 0700) != 0)
        return Descriptor();
    return folder;
}

// Removes `name` in the folder `at` with what it holds, by descriptor: a link
// is removed, never followed, and only folders of `owner` (or root's) are
// entered, each taken over first. However deep the tree, the walk holds two
// descriptors at most, climbing back by "..", which is the folder it came
// from as long as that folder is root's alone; it lists each folder once.
// What cannot be removed stays.
static void removeTree(int at, const QByteArray &name, uid_t owner)
{
    if (::unlinkat(at, name.constData(), 0) == 0 || (errno != EISDIR && errno != EPERM)) return;
    struct Level
    {
        QByteArray name;
        dev_t device;
        ino_t inode;
        QList<QByteArray> left;
    };
    std::vector<Level> levels;
    struct stat st;
    Descriptor current = takeOver(at, name, owner, &st);
    if (!current.isOpen()) return;
    levels.push_back({name, st.st_dev, st.st_ino, entriesOf(current.get())});
    while (!levels.back().left.isEmpty()) {
        while (!levels.back().left.isEmpty()) {
            const QByteArray entry = levels.back().left.takeLast();
            if (::unlinkat(current.get(), entry.constData(), 0) == 0 || (errno != EISDIR && errno != EPERM)) continue;
            Descriptor inner = takeOver(current.get(), entry, owner, &st);
            if (!inner.isOpen()) continue;
            current = std::move(inner);
            levels.push_back({entry, st.st_dev, st.st_ino, entriesOf(current.get())});
        }
        // All the folder held is gone, or stays: it goes from the one above.
        for (; levels.size() > 1 && levels.back().left.isEmpty(); levels.pop_back()) {
            Descriptor up(::openat(current.get(), "..", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            const Level &above = levels[levels.size() - 2];
            if (!up.isOpen() || ::fstat(up.get(), &st) != 0 || st.st_dev != above.device || st.st_ino != above.inode)
                return;
            current = std::move(up);
            ::unlinkat(current.get(), levels.back().name.constData(), AT_REMOVEDIR);
        }
    }
    current = Descriptor();
    ::unlinkat(at, name.constData(), AT_REMOVEDIR);
}

// The project's programs the tests start.
static QStringList projectPrograms()
{
    return QStringLiteral(VTR_TEST_PROGRAMS).split(QLatin1Char(';'), Qt::SkipEmptyParts);
}

QString reachable(const QString &path)
{
    const QString &staged = stagedFolder();
    if (staged.isEmpty()) return path;
    // Staged at the same path below the staging folder, if root handed it
    // over; that copy is taken whatever this user may do with `path`: a
    // program this user may read, started, is a process any other of theirs
    // may attach to. A program of the project is started from its copy
    // alone, or not at all.
    const QString clean = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    const QString copy = staged + clean;
    return QFileInfo::exists(copy) || projectPrograms().contains(clean) ? copy : path;
}

QString sourcePath(const QString &relative)
{
    return reachable(QStringLiteral(VTR_TEST_SOURCE_DIR "/") + relative);
}

QString program()
{
    return reachable(QCoreApplication::applicationFilePath());
}

// The folders of one run as the unprivileged user, below the shared temporary
// folder (this process's own tree is closed to others): a base folder of
// root's, which that user may enter but not change and no other user may
// enter, holding the staged copies (a tree of root's too, which that user
// only reads) and that user's own work folder (its temporary files, its
// current folder, its output). Root acts in them by descriptor only, so that
// nothing that user renames or links takes it elsewhere; all goes when the
// run is over.
class UnprivilegedTree
{
public:
    static constexpr uid_t kUser = kUnprivilegedUser;
    // What is read back of the run's output: its end, where the outcome is.
    static constexpr qint64 kOutputBound = 4 << 20;

    UnprivilegedTree()
    {
        QByteArray name = QFile::encodeName(QDir::tempPath() + QStringLiteral("/vtrtest-unprivileged-XXXXXX"));
        if (::mkdtemp(name.data())) {
            m_path = QFile::decodeName(name);
            m_base = Descriptor(::open(name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        }
        if (m_base.isOpen() && openToTheUserAlone(m_base.get(), 07, 05)) {
            m_staged = makeOpenFolderAt(m_base.get(), "staged");
            if (m_staged.isOpen() && ::mkdirat(m_base.get(), "work", 0700) == 0)
                m_work = openFolderAt(m_base.get(), "work");
            m_valid = m_work.isOpen() && ::fchown(m_work.get(), kUser, kUser) == 0;
        }
        if (!m_valid) {
            m_error = errno;
            m_why = errnoText();
        }
    }
    ~UnprivilegedTree()
    {
        if (m_base.isOpen()) {
            removeTree(m_base.get(), "work", kUser);
            removeTree(m_base.get(), "staged", 0);
        }
        if (!m_path.isEmpty()) ::rmdir(QFile::encodeName(m_path).constData());
    }
    UnprivilegedTree(const UnprivilegedTree &) = delete;
    UnprivilegedTree &operator=(const UnprivilegedTree &) = delete;

    bool isValid() const { return m_valid; }
    // Why the tree could not be made (a file system that keeps no access
    // lists cannot shut other users out of it).
    QString why() const { return m_why; }
    int error() const { return m_error; }
    QString staged() const { return m_path + QStringLiteral("/staged"); }
    QString work() const { return m_path + QStringLiteral("/work"); }
    int stagedFolder() const { return m_staged.get(); }
    int workFolder() const { return m_work.get(); }

    // What the run wrote to its output, a file of that user's in its work
    // folder: read by descriptor, never through a link, and at most its end.
    // Anything else found at its name (a file of root's that user linked
    // there) is not read, so as not to show it in the test's log.
    QByteArray output() const
    {
        const Descriptor file(
            ::openat(m_work.get(), "output", O_RDONLY | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
        struct stat st;
        if (!file.isOpen() || ::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != kUser)
            return QByteArray();
        const qint64 from = std::max<qint64>(0, qint64(st.st_size) - kOutputBound);
        QByteArray bytes(qsizetype(std::min<qint64>(st.st_size, kOutputBound)), Qt::Uninitialized);
        qsizetype got = 0;
        while (got < bytes.size()) {
            const ssize_t n = ::pread(file.get(), bytes.data() + got, size_t(bytes.size() - got), off_t(from + got));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            got += n;
        }
        bytes.truncate(got);
        if (from > 0) bytes.prepend(QByteArray::number(from) + " bytes of output left out\n");
        return bytes;
    }

private:
    QString m_path;
    Descriptor m_base;
    Descriptor m_staged;
    Descriptor m_work;
    QString m_why;
    int m_error = 0;
    bool m_valid = false;
};

// What a run as the unprivileged user gets of root's, staged before it
// starts: the shared data beside the project and the tests' own files to
// read, the project's programs the tests start, `programs` and this test
// program to start. Nothing else of root's reaches it.
static QList<std::pair<QString, Handed>> handedOver(const QStringList &programs)
{
    QList<std::pair<QString, Handed>> paths{{QStringLiteral(VTR_SHARED_DATA_DIR), Handed::Readable},
                                            {QStringLiteral(VTR_TEST_SOURCE_DIR), Handed::Readable}};
    for (const QString &program : projectPrograms() + programs) paths.append({program, Handed::StartOnly});
    paths.append({QCoreApplication::applicationFilePath(), Handed::StartOnly});
    return paths;
}

// The run tells root its outcome through a pipe of root's, at this
// descriptor and named by this variable: its output, a file that any process
// of its user may write to, cannot say it.
constexpr int kOutcomeDescriptor = 3;
constexpr char kOutcomeVariable[] = "VTR_TEST_OUTCOME_FD";

// The environment of the run. Of this process's, only what the tests and the
// program read (the search path, the zone, the language, the display
// platform, whether the samples are required) and the variables `handed`
// names: the rest may hold root's bus, display or credentials. The
// sanitizers' suppressions are named as staged. Its folders are set by the
// test main from VTR_TEST_TMP; its temporary files go into its work folder.
static QByteArrayList environmentOfRun(const UnprivilegedTree &tree, const QStringList &handed, QString *why)
{
    static const QByteArrayList kRead{"PATH", "TZ", "TZDIR", "LANG", "LANGUAGE", "QT_QPA_PLATFORM",
                                      "VTR_REQUIRE_SAMPLES"};
    static const QByteArrayList kSanitizers{"ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS"};
    // The leak check at exit makes the process one that any process of its
    // user may attach to, while it attaches to its own threads: the run goes
    // without it. (The sanitizers read their options from /proc/self/environ,
    // which a run of a program it cannot read cannot read either: the test
    // main also leaves such a run without its exit handlers.)
    static const QByteArrayList kWithoutLeakCheck{"ASAN_OPTIONS", "LSAN_OPTIONS"};
    QByteArrayList environment;
    for (char **entry = environ; *entry; ++entry) {
        const QByteArray variable(*entry);
        const QByteArray name = variable.left(variable.indexOf('='));
        if (kRead.contains(name) || name.startsWith("LC_") || handed.contains(QString::fromLatin1(name)))
            environment.append(variable);
    }
    for (const QByteArray &name : kSanitizers) {
        QByteArrayList options = qgetenv(name.constData()).split(':');
        options.removeAll(QByteArray());
        if (kWithoutLeakCheck.contains(name)) options.append("detect_leaks=0");
        if (options.isEmpty()) continue;
        for (QByteArray &option : options) {
            const QString file = QFile::decodeName(option.mid(option.indexOf('=') + 1));
            if (!option.startsWith("suppressions=") || !QDir::isAbsolutePath(file)) continue;
            if (const QString refused = stage(file, tree.stagedFolder()); !refused.isEmpty()) *why = refused;
            const QString copy = tree.staged() + QDir::cleanPath(file);
            if (QFileInfo::exists(copy)) option = "suppressions=" + QFile::encodeName(copy);
        }
        environment.append(name + '=' + options.join(':'));
    }
    environment.append("VTR_TEST_TMP=" + QFile::encodeName(tree.work()));
    environment.append("TMPDIR=" + QFile::encodeName(tree.work()));
    environment.append("VTR_TEST_STAGED=" + QFile::encodeName(tree.staged()));
    environment.append(kOutcomeVariable + ('=' + QByteArray::number(kOutcomeDescriptor)));
    return environment;
}

static int g_outcome = -1;
static bool g_unprivilegedRun = false;

bool isUnprivilegedRun() { return g_unprivilegedRun; }

void takeOutcomeChannel()
{
    if (!qEnvironmentVariableIsSet(kOutcomeVariable)) return;
    g_unprivilegedRun = true;
    qunsetenv(kOutcomeVariable);
    // Nothing the run starts holds it.
    if (::fcntl(kOutcomeDescriptor, F_SETFD, FD_CLOEXEC) == 0) g_outcome = kOutcomeDescriptor;
}

void reportOutcome()
{
    if (g_outcome < 0) return;
    const ::testing::UnitTest &unit = *::testing::UnitTest::GetInstance();
    const bool one = unit.test_to_run_count() == 1 && unit.Passed();
    const char *outcome = one && unit.successful_test_count() == 1 ? "passed"
                          : one && unit.skipped_test_count() == 1  ? "skipped"
                                                                   : "failed";
    while (::write(g_outcome, outcome, std::strlen(outcome)) < 0 && errno == EINTR) {}
    ::close(std::exchange(g_outcome, -1));
}

// The run's outcome as it told it, once it has ended (what is there: a
// process it started without a new program may still hold the pipe).
static QByteArray outcomeOf(int pipe)
{
    char bytes[16];
    ssize_t n;
    while ((n = ::read(pipe, bytes, sizeof bytes)) < 0 && errno == EINTR) {}
    return n > 0 ? QByteArray(bytes, n) : QByteArray();
}

// Characters that turn the order in which a line is drawn (a line would show
// as another), and those that break it as a newline would.
static bool turnsOrBreaksALine(char32_t point)
{
    return point == 0x061c || point == 0x200e || point == 0x200f || (point >= 0x2028 && point <= 0x202e) ||
           (point >= 0x2066 && point <= 0x2069);
}

// What the run wrote as root's log shows it: any process of the run's user
// may have written it, and a terminal acts on the control characters it
// prints (it sets the window's title and the clipboard, moves the cursor,
// paints a line over another): each of them, each character that turns the
// order of a line or breaks it, and each byte that is not part of a whole
// UTF-8 character, is shown as an escape instead.
static std::string shownEscaped(const QByteArray &bytes)
{
    std::string shown;
    shown.reserve(size_t(bytes.size()));
    const auto escape = [&shown](unsigned char byte) {
        char escaped[5];
        std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
        shown += escaped;
    };
    static constexpr char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    for (qsizetype i = 0; i < bytes.size();) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        if (lead < 0x80) {
            if ((lead >= 0x20 && lead != 0x7f) || lead == '\t')
                shown += char(lead);
            else
                escape(lead);
            ++i;
            continue;
        }
        const int length = lead >= 0xf5 ? 0 : lead >= 0xf0 ? 4 : lead >= 0xe0 ? 3 : lead >= 0xc0 ? 2 : 0;
        bool whole = length > 0 && i + length <= bytes.size();
        char32_t point = lead & (0x7f >> length);
        for (int k = 1; whole && k < length; ++k) {
            const auto next = static_cast<unsigned char>(bytes[i + k]);
            whole = (next & 0xc0) == 0x80;
            point = point << 6 | (next & 0x3f);
        }
        // Neither drawn out longer than it needs, nor half of a pair, nor
        // beyond Unicode, nor one of the control characters above 0x7f.
        if (whole && point >= kLeast[length] && point <= 0x10ffff && (point < 0xd800 || point > 0xdfff) &&
            point > 0x9f) {
            if (turnsOrBreaksALine(point)) {
                char escaped[9];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", unsigned(point));
                shown += escaped;
            } else {
                shown.append(bytes.constData() + i, size_t(length));
            }
            i += length;
        } else {
            escape(lead);
            ++i;
        }
    }
    return shown;
}

// Marks each line of the run's output shown in root's log as the run's: a
// line it printed never passes for one of root's ("[  PASSED  ]").
constexpr char kRunsLine[] = "65534| ";

static std::string shownAsTheRuns(const QByteArray &output)
{
    QByteArrayList lines = output.split('\n');
    if (lines.size() > 1 && lines.last().isEmpty()) lines.removeLast();
    std::string shown;
    for (const QByteArray &line : lines) shown += kRunsLine + shownEscaped(line) + '\n';
    return shown;
}

// Exit statuses of a child that could not become the run.
enum : int { kNoWorkFolder = 121, kNoSession, kNoUser, kNoStandardFiles, kNoProgram };

// Starts the program `arguments` name as the unprivileged user in the work
// folder `work`, holding nothing of root's: every descriptor but `outcome` is
// closed before it changes user (a harness's pipes, a log, sockets), it leaves root's
// session (and so root's terminal, where a process of that user that attached
// to it could type into root's shell) and root's session keyring before it
// drops root's ids and groups, its input is /dev/null and its output a file
// it opens as that user in its work folder, and its environment is
// `environment` alone. It ends with this process, as it no longer gets the
// signals of root's terminal. Its one channel to root is `outcome`, the
// writing end of a pipe, which it holds at kOutcomeDescriptor. From the
// moment it has that user's ids to its end, no other process of that user
// may attach to it: changed ids keep it from them until it starts a program,
// and the program it starts is one that user may not read. Nothing but
// system calls after the fork: other threads' locks are not released in it.
// Answers its process id.
static pid_t startAsUnprivilegedUser(int work, int outcome, QByteArrayList arguments, QByteArrayList environment)
{
    std::vector<char *> argv, envp;
    for (QByteArray &argument : arguments) argv.push_back(argument.data());
    for (QByteArray &variable : environment) envp.push_back(variable.data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid != 0) return pid;
    constexpr uid_t user = UnprivilegedTree::kUser;
    if (::fchdir(work) != 0) ::_exit(kNoWorkFolder);
    if ((outcome == kOutcomeDescriptor ? ::fcntl(outcome, F_SETFD, 0)
                                       : ::dup2(outcome, kOutcomeDescriptor) - kOutcomeDescriptor) != 0)
        ::_exit(kNoStandardFiles);
    ::close_range(0, kOutcomeDescriptor - 1, 0);
    ::closefrom(kOutcomeDescriptor + 1);
    // A new keyring of its own; where keyrings cannot be had at all (a kernel
    // without them, a sandbox that refuses them), root's cannot be reached either.
    if (::setsid() < 0 || (::syscall(SYS_keyctl, KEYCTL_JOIN_SESSION_KEYRING, nullptr) < 0 &&
                           ::syscall(SYS_keyctl, KEYCTL_GET_KEYRING_ID, KEY_SPEC_SESSION_KEYRING, 0) >= 0))
        ::_exit(kNoSession);
    if (::setgroups(0, nullptr) != 0 || ::setresgid(user, user, user) != 0 || ::setresuid(user, user, user) != 0)
        ::_exit(kNoUser);
    // Set once the ids are dropped, which clears the death signal. Dropping
    // them also shut the process to that user's others (on a system as
    // runUnprivileged() asks for); that is made sure of all the same.
    if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || ::prctl(PR_SET_DUMPABLE, 0) != 0 || ::getppid() != parent)
        ::_exit(kNoUser);
    if (::open("/dev/null", O_RDONLY) != STDIN_FILENO ||
        ::open("output", O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_APPEND, 0600) != STDOUT_FILENO ||
        ::dup(STDOUT_FILENO) != STDERR_FILENO)
        ::_exit(kNoStandardFiles);
    // Qt ignores SIGPIPE in a process that has started another, and an
    // ignored signal stays ignored across exec.
    ::signal(SIGPIPE, SIG_DFL);
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(kNoProgram);
}

// Waits for the process `pid` to end, at most `timeoutMs` (a guard for a
// run that hangs: it is killed then); answers whether it ended by itself.
static bool waitForEnd(pid_t pid, int timeoutMs, int *status)
{
    bool ended = true;
    if (const Descriptor process(::pidfd_open(pid, 0)); process.isOpen()) {
        const QDeadlineTimer deadline(timeoutMs);
        pollfd ready{process.get(), POLLIN, 0};
        int n;
        while ((n = ::poll(&ready, 1, int(deadline.remainingTime()))) < 0 && errno == EINTR) {}
        if (n == 0) {
            ended = false;
            ::pidfd_send_signal(process.get(), SIGKILL, nullptr, 0);
        }
    }
    while (::waitpid(pid, status, 0) < 0 && errno == EINTR) {}
    return ended;
}

// Whether the system keeps a process whose ids changed, or which runs a
// program it may not read, from the other processes of its user
// (fs.suid_dumpable 0 or 2); at 1, any of them may attach to the run.
static bool keptFromItsUser()
{
    const QByteArray setting = readFile(QStringLiteral("/proc/sys/fs/suid_dumpable")).trimmed();
    return setting == "0" || setting == "2";
}

// A run that could not be had although the system allows it: the test
// fails, saying why (it would otherwise count as checked, or as skipped for
// a reason another user can bring about), and the caller returns.
static Unprivileged notRun(QString *why, const QString &cause)
{
    *why = cause;
    ADD_FAILURE() << "the test could not be run as the unprivileged user: " << cause.toStdString();
    return Unprivileged::Done;
}

Unprivileged runUnprivileged(QString *why, const QStringList &handed, const QStringList &programs)
{
    if (::geteuid() != 0) return Unprivileged::Here;
    if (!keptFromItsUser()) {
        *why = QStringLiteral("fs.suid_dumpable is not 0 or 2: any process of the unprivileged user could attach to "
                              "the run and speak for it");
        return Unprivileged::Unavailable;
    }
    const UnprivilegedTree tree;
    if (!tree.isValid()) {
        const QString cause =
            QStringLiteral("no folder that the unprivileged user alone may enter could be made: %1").arg(tree.why());
        if (tree.error() != EOPNOTSUPP) return notRun(why, cause);
        *why = cause;
        return Unprivileged::Unavailable;
    }
    QString refused;
    g_refusedForItsPlace = false;
    for (const auto &[path, how] : handedOver(programs))
        if (refused.isEmpty()) refused = stage(path, tree.stagedFolder(), how);
    QByteArrayList environment;
    if (refused.isEmpty()) environment = environmentOfRun(tree, handed, &refused);
    const QString program = tree.staged() + QDir::cleanPath(QCoreApplication::applicationFilePath());
    if (refused.isEmpty() && !QFileInfo::exists(program)) refused = QStringLiteral("this test program was not staged");
    if (!refused.isEmpty()) {
        const QString cause = QStringLiteral("what the test reads and starts cannot be handed to that user: %1").arg(refused);
        if (!g_refusedForItsPlace) return notRun(why, cause);
        *why = cause;
        return Unprivileged::Unavailable;
    }
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        return notRun(why, QStringLiteral("no pipe for the outcome of the run: %1").arg(errnoText()));
    const Descriptor outcomeRead(ends[0]);
    Descriptor outcomeWrite(ends[1]);
    ::fcntl(outcomeRead.get(), F_SETFL, O_NONBLOCK);
    const ::testing::TestInfo *test = ::testing::UnitTest::GetInstance()->current_test_info();
    const pid_t child = startAsUnprivilegedUser(
        tree.workFolder(), outcomeWrite.get(),
        {QFile::encodeName(program), QByteArray("--gtest_filter=") + test->test_suite_name() + '.' + test->name()},
        environment);
    const int startError = errno;
    outcomeWrite = Descriptor();
    if (child < 0) return notRun(why, QStringLiteral("the run could not be started: %1").arg(errnoText(startError)));
    int status = 0;
    const bool finished = waitForEnd(child, 280000, &status);
    const QByteArray outcome = outcomeOf(outcomeRead.get());
    const QByteArray output = tree.output();
    const bool exited = WIFEXITED(status);
    const int code = exited ? WEXITSTATUS(status) : -1;
    if (finished && code == 0 && outcome == "skipped") {
        *why = QStringLiteral("skipped as the unprivileged user:\n") + QString::fromStdString(shownAsTheRuns(output));
        return Unprivileged::Unavailable;
    }
    static const char *const kNotStarted[] = {
        "its work folder cannot be entered", "it cannot leave root's session and keyring", "it cannot become that user",
        "its input and output cannot be opened", "the program cannot be started"};
    std::string cause = "exit status " + std::to_string(code);
    if (!finished)
        cause = "it did not end, and was killed";
    else if (!exited)
        cause = "signal " + std::to_string(WTERMSIG(status));
    else if (output.isEmpty() && code >= kNoWorkFolder && code <= kNoProgram)
        cause = kNotStarted[code - kNoWorkFolder];
    else if (outcome.isEmpty())
        cause += ", and it told no outcome";
    else
        cause += ", and it told the outcome \"" + shownEscaped(outcome) + '"';
    // What its output says of the outcome counts for nothing: any process of
    // that user may have written it.
    EXPECT_TRUE(finished && code == 0 && outcome == "passed")
        << "the test as the unprivileged user failed (" << cause << "):\n"
        << shownAsTheRuns(output);
    return Unprivileged::Done;
}

}  // namespace testenv
