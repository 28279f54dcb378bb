#include "TestEnvironment.h"

#include "platform/Descriptor.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUuid>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>
#include <utility>

#include <dirent.h>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace testenv {

static QTemporaryDir *g_root = nullptr;

// A test run again as the unprivileged user finds the folder staged for it in
// VTR_TEST_STAGED, and asks the process that started it (root) for what it
// cannot reach over the socket VTR_TEST_STAGER_FD: one path a line, answered
// "ok" once its copy is in place, else "no" and why.
struct Staging
{
    QString folder;
    int fd = -1;
};

static Staging &staging()
{
    static Staging s = [] {
        Staging given{qEnvironmentVariable("VTR_TEST_STAGED")};
        bool ok = false;
        const int fd = qEnvironmentVariableIntValue("VTR_TEST_STAGER_FD", &ok);
        // Only this process may ask: what it starts finds what was staged.
        // Nor may another process of this user trace it or take the channel
        // from it (pidfd_getfd): it stops being dumpable before it asks.
        qunsetenv("VTR_TEST_STAGER_FD");
        if (ok && !given.folder.isEmpty()) {
            if (::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) == 0 && ::fcntl(fd, F_SETFD, FD_CLOEXEC) == 0)
                given.fd = fd;
            else
                ::close(fd);
        }
        return given;
    }();
    return s;
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
    staging();
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

// What one test leaves in the home (the new phone's folder, a music library,
// a settings file) must not be what the next one finds: each test starts in
// an empty home of its own, whatever order the tests run in. Earlier homes
// stay until the process ends, for whatever still holds a path into them.
class HomePerTest final : public ::testing::EmptyTestEventListener
{
    void OnTestStart(const ::testing::TestInfo &) override
    {
        useHome(root() + QStringLiteral("/home-%1").arg(++m_count));
    }
    int m_count = 0;
};

void giveEachTestItsOwnHome()
{
    ::testing::UnitTest::GetInstance()->listeners().Append(new HomePerTest);
}

void cleanup()
{
    // LeakSanitizer makes the process dumpable again while it looks for
    // leaks at exit: the channel is closed before.
    if (staging().fd >= 0) ::close(std::exchange(staging().fd, -1));
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

// The folder `name` in the staging folder `at`, root's: made if need be and
// then opened to everyone; one that was there is entered as it is.
static Descriptor makeOpenFolderAt(int at, const QByteArray &name)
{
    if (!isName(name)) return (errno = EINVAL), Descriptor();
    const bool made = ::mkdirat(at, name.constData(), 0755) == 0;
    if (!made && errno != EEXIST) return Descriptor();
    Descriptor folder = openFolderAt(at, name);
    struct stat st;
    if (!folder.isOpen() || ::fstat(folder.get(), &st) != 0 || st.st_uid != ::geteuid()) return Descriptor();
    if (made && ::fchmod(folder.get(), 0755) != 0) return Descriptor();
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

// Copies `name` of the project's folder `fromAt` to the same name in the
// staging folder `toAt` (absent, or staged before), readable by everyone: a
// folder with what it holds, a link as a link, a file by a second name where
// everyone may read it already, else as a copy that becomes it whole. Both
// sides are entered by descriptor, never through a link; `shown` names it.
static QString copyStaged(int fromAt, const QByteArray &name, int toAt, const QString &shown)
{
    if (!isName(name)) return QStringLiteral("%1 does not end in a name").arg(shown);
    const char *entry = name.constData();
    struct stat st;
    if (::fstatat(fromAt, entry, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return QStringLiteral("%1: %2").arg(shown, QString::fromLocal8Bit(std::strerror(errno)));
    if (S_ISDIR(st.st_mode)) {
        const Descriptor from = openFolderAt(fromAt, name);
        const Descriptor to = makeOpenFolderAt(toAt, name);
        if (!from.isOpen()) return QStringLiteral("%1 cannot be read").arg(shown);
        if (!to.isOpen()) return QStringLiteral("%1 cannot be made").arg(shown);
        for (const QByteArray &inner : entriesOf(from.get()))
            if (const QString why = copyStaged(from.get(), inner, to.get(), shown + QLatin1Char('/') + QFile::decodeName(inner));
                !why.isEmpty())
                return why;
        return QString();
    }
    struct stat there;
    if (::fstatat(toAt, entry, &there, AT_SYMLINK_NOFOLLOW) == 0) return QString();
    if (S_ISLNK(st.st_mode)) {
        char raw[4096];
        const ssize_t n = ::readlinkat(fromAt, entry, raw, sizeof raw - 1);
        if (n < 0 || ::symlinkat(QByteArray(raw, n).constData(), toAt, entry) != 0)
            return QStringLiteral("the link %1 cannot be copied").arg(shown);
        return QString();
    }
    if (!S_ISREG(st.st_mode)) return QString();
    const bool readable = (st.st_mode & S_IROTH) && (!(st.st_mode & S_IXUSR) || (st.st_mode & S_IXOTH));
    if (readable && ::linkat(fromAt, entry, toAt, entry, 0) == 0) return QString();
    const QByteArray part = name + ".staging";
    ::unlinkat(toAt, part.constData(), 0);
    const Descriptor from(::openat(fromAt, entry, O_RDONLY | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    struct stat opened;
    if (!from.isOpen() || ::fstat(from.get(), &opened) != 0 || !S_ISREG(opened.st_mode))
        return QStringLiteral("%1 cannot be read").arg(shown);
    const Descriptor to(::openat(toAt, part.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    mode_t mode = (opened.st_mode & 0777) | 0044;
    if (mode & S_IXUSR) mode |= 0011;
    if (!to.isOpen() || !copyBytes(from.get(), to.get()) || ::fchmod(to.get(), mode) != 0 ||
        ::renameat(toAt, part.constData(), toAt, entry) != 0) {
        ::unlinkat(toAt, part.constData(), 0);
        return QStringLiteral("%1 cannot be copied for the unprivileged user").arg(shown);
    }
    return QString();
}

// Stages `path` at the same path below the staging folder `staged`; answers
// why not, if not. The project's trees are taken as configured; below them
// no link is followed, on either side. What is checked is the bytes the
// kernel gets, each step a name: the path is the unprivileged user's to say.
static QString stage(const QString &path, int staged)
{
    const QString clean = QDir::cleanPath(path);
    const QByteArray bytes = QFile::encodeName(clean);
    const QList<QByteArray> steps = bytes.mid(1).split('/');
    if (!bytes.startsWith('/')) return QStringLiteral("%1 is not in the project's trees").arg(path);
    if (!std::all_of(steps.cbegin(), steps.cend(), isName))
        return QStringLiteral("%1 is not a path of names").arg(QString(path).replace(QChar(0), QLatin1String("\\0")));
    QByteArray tree;
    for (const QString &own :
         {QDir::cleanPath(QStringLiteral(VTR_TEST_SOURCE_DIR "/..")),
          QDir::cleanPath(QStringLiteral(VTR_TEST_BUILD_DIR)), QDir::cleanPath(QStringLiteral(VTR_SHARED_DATA_DIR))})
        if (const QByteArray ownBytes = QFile::encodeName(own);
            bytes.startsWith(ownBytes + '/') && ownBytes.size() > tree.size())
            tree = ownBytes;
    if (tree.isEmpty()) return QStringLiteral("%1 is not in the project's trees").arg(path);
    const QList<QByteArray> within = bytes.mid(tree.size() + 1).split('/');
    Descriptor from(::open(tree.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    for (qsizetype i = 0; from.isOpen() && i + 1 < within.size(); ++i) {
        struct stat st;
        if (::fstatat(from.get(), within[i].constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode))
            return QStringLiteral("%1 is reached through a link").arg(clean);
        from = openFolderAt(from.get(), within[i]);
    }
    struct stat st;
    if (!from.isOpen() || ::fstatat(from.get(), within.last().constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return QStringLiteral("%1 does not exist").arg(clean);
    Descriptor to(::fcntl(staged, F_DUPFD_CLOEXEC, 0));
    for (qsizetype i = 0; to.isOpen() && i + 1 < steps.size(); ++i) to = makeOpenFolderAt(to.get(), steps[i]);
    if (!to.isOpen()) return QStringLiteral("no folder for %1 could be made").arg(clean);
    return copyStaged(from.get(), within.last(), to.get(), clean);
}

// Removes `name` in the folder `at` with what it holds, by descriptor: a link
// is removed, never followed, and only folders of `owner` are entered (to a
// depth that bounds the walk); what cannot be removed stays.
static void removeTree(int at, const QByteArray &name, uid_t owner, int depth = 0)
{
    if (::unlinkat(at, name.constData(), 0) == 0 || (errno != EISDIR && errno != EPERM)) return;
    const Descriptor folder = openFolderAt(at, name);
    struct stat st;
    if (depth > 256 || !folder.isOpen() || ::fstat(folder.get(), &st) != 0 || st.st_uid != owner) return;
    for (const QByteArray &entry : entriesOf(folder.get())) removeTree(folder.get(), entry, owner, depth + 1);
    ::unlinkat(at, name.constData(), AT_REMOVEDIR);
}

// Over the staging socket: a side that has gone is an error, not a signal.
static bool writeAll(int fd, const QByteArray &bytes)
{
    for (qsizetype at = 0; at < bytes.size();) {
        const ssize_t n = ::send(fd, bytes.constData() + at, size_t(bytes.size() - at), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        at += n;
    }
    return true;
}

// Answers the child's requests until it is gone (or the socket is shut down).
static void serveStaging(int fd, int staged)
{
    QByteArray pending;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        pending.append(buffer, n);
        for (qsizetype end; (end = pending.indexOf('\n')) >= 0;) {
            const QString why = stage(QFile::decodeName(pending.left(end)), staged);
            pending.remove(0, end + 1);
            if (!writeAll(fd, why.isEmpty() ? QByteArray("ok\n") : "no " + why.toUtf8().replace('\n', ' ') + '\n'))
                return;
        }
    }
}

// Asks the process that started this one to stage `path`.
static bool askStaged(int fd, const QString &path, QString *why)
{
    static std::mutex one;
    const std::lock_guard<std::mutex> lock(one);
    const QByteArray line = QFile::encodeName(path);
    if (line.contains('\n')) return (*why = QStringLiteral("a line break in the name")), false;
    if (line.contains('\0')) return (*why = QStringLiteral("a NUL in the name")), false;
    if (!writeAll(fd, line + '\n')) return (*why = QString::fromLocal8Bit(std::strerror(errno))), false;
    QByteArray reply;
    char c;
    for (;;) {
        const ssize_t n = ::read(fd, &c, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return (*why = QStringLiteral("no answer")), false;
        if (c == '\n') break;
        reply.append(c);
    }
    if (reply == "ok") return true;
    *why = QString::fromUtf8(reply.mid(3));
    return false;
}

QString reachable(const QString &path)
{
    const Staging &s = staging();
    if (s.folder.isEmpty()) return path;
    const QByteArray name = QFile::encodeName(path);
    struct stat st;
    if (::stat(name.constData(), &st) == 0 && ::access(name.constData(), S_ISDIR(st.st_mode) ? R_OK | X_OK : R_OK) == 0)
        return path;
    // Staged at the same path below the staging folder.
    const QString clean = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    QString why;
    if (s.fd >= 0 && !askStaged(s.fd, clean, &why)) {
        std::fprintf(stderr, "== %s cannot be staged for the unprivileged user: %s\n", qPrintable(path),
                     qPrintable(why));
        return path;
    }
    return QFileInfo::exists(s.folder + clean) ? s.folder + clean : path;
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
// root's, which that user may enter but not change, holding the staged copies
// (a tree of root's too, which that user only reads) and that user's own work
// folder (its temporary files, its current folder). Root acts in them by
// descriptor only, so that nothing that user renames or links takes it
// elsewhere; all goes when the run is over.
class UnprivilegedTree
{
public:
    static constexpr uid_t kUser = 65534;

    UnprivilegedTree()
    {
        QByteArray name = QFile::encodeName(QDir::tempPath() + QStringLiteral("/vtrtest-unprivileged-XXXXXX"));
        if (!::mkdtemp(name.data())) return;
        m_path = QFile::decodeName(name);
        m_base = Descriptor(::open(name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!m_base.isOpen() || ::fchmod(m_base.get(), 0755) != 0) return;
        m_staged = makeOpenFolderAt(m_base.get(), "staged");
        if (::mkdirat(m_base.get(), "work", 0700) != 0) return;
        const Descriptor work = openFolderAt(m_base.get(), "work");
        m_valid = m_staged.isOpen() && work.isOpen() && ::fchown(work.get(), kUser, kUser) == 0;
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
    QString staged() const { return m_path + QStringLiteral("/staged"); }
    QString work() const { return m_path + QStringLiteral("/work"); }
    int stagedFolder() const { return m_staged.get(); }

private:
    QString m_path;
    Descriptor m_base;
    Descriptor m_staged;
    bool m_valid = false;
};

Unprivileged runUnprivileged(QString *why)
{
    if (::geteuid() != 0) return Unprivileged::Here;
    const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
    if (setpriv.isEmpty()) {
        *why = QStringLiteral("running as root and setpriv is not installed: file modes cannot be tested");
        return Unprivileged::Unavailable;
    }
    const UnprivilegedTree tree;
    const QString staged = tree.staged();
    int channel[2];
    if (!tree.isValid() || ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, channel) != 0) {
        *why = QStringLiteral("no folder for the unprivileged user could be made");
        return Unprivileged::Unavailable;
    }
    const ::testing::TestInfo *test = ::testing::UnitTest::GetInstance()->current_test_info();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("VTR_TEST_TMP"), tree.work());
    environment.insert(QStringLiteral("VTR_TEST_STAGED"), staged);
    environment.insert(QStringLiteral("VTR_TEST_STAGER_FD"), QString::number(channel[1]));
    // The sanitizers read their suppressions as that user too.
    for (const QString &variable :
         {QStringLiteral("ASAN_OPTIONS"), QStringLiteral("LSAN_OPTIONS"), QStringLiteral("UBSAN_OPTIONS")}) {
        QStringList options = environment.value(variable).split(QLatin1Char(':'));
        for (QString &option : options) {
            const QString file = option.section(QLatin1Char('='), 1);
            if (option.startsWith(QLatin1String("suppressions=")) && QDir::isAbsolutePath(file) &&
                stage(file, tree.stagedFolder()).isEmpty())
                option = QStringLiteral("suppressions=") + staged + QDir::cleanPath(file);
        }
        if (environment.contains(variable)) environment.insert(variable, options.join(QLatin1Char(':')));
    }
    std::thread stager(serveStaging, channel[0], tree.stagedFolder());
    ::fcntl(channel[1], F_SETFD, 0);
    QProcess child;
    child.setProcessEnvironment(environment);
    child.setWorkingDirectory(tree.work());
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(setpriv, {QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                          QStringLiteral("--clear-groups"), QStringLiteral("--"),
                          QCoreApplication::applicationFilePath(),
                          QStringLiteral("--gtest_filter=%1.%2").arg(QString::fromUtf8(test->test_suite_name()),
                                                                     QString::fromUtf8(test->name()))});
    ::close(channel[1]);
    const bool finished = child.waitForFinished(280000);
    if (!finished) child.kill();
    // What the child started may still hold its end: the stager stops here.
    ::shutdown(channel[0], SHUT_RDWR);
    stager.join();
    ::close(channel[0]);
    const QByteArray output = child.readAll();
    if (finished && child.exitCode() == 0 && output.contains("[  SKIPPED ] 1 test")) {
        *why = QStringLiteral("skipped as the unprivileged user:\n") + QString::fromLocal8Bit(output);
        return Unprivileged::Unavailable;
    }
    EXPECT_TRUE(finished && child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0 &&
                output.contains("[  PASSED  ] 1 test"))
        << "the test as the unprivileged user failed:\n" << output.toStdString();
    return Unprivileged::Done;
}

}  // namespace testenv
