#include "TestEnvironment.h"

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

#include <cerrno>
#include <cstdio>
#include <mutex>
#include <thread>

#include <fcntl.h>
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
        qunsetenv("VTR_TEST_STAGER_FD");
        if (ok && !given.folder.isEmpty() && ::fcntl(fd, F_SETFD, FD_CLOEXEC) == 0) given.fd = fd;
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

// The trees a test may have staged: never more than the project's own.
static bool withinOwnTrees(const QString &path)
{
    for (const QString &tree :
         {QDir::cleanPath(QStringLiteral(VTR_TEST_SOURCE_DIR "/..")),
          QDir::cleanPath(QStringLiteral(VTR_TEST_BUILD_DIR)), QDir::cleanPath(QStringLiteral(VTR_SHARED_DATA_DIR))})
        if (path.startsWith(tree + QLatin1Char('/'))) return true;
    return false;
}

// Every folder from `from` (existing) down to `to`, entered by everyone.
static bool makeOpenFolders(const QString &from, const QString &to)
{
    if (to == from || QFileInfo(to).isDir()) return true;
    if (!makeOpenFolders(from, QFileInfo(to).path())) return false;
    const QByteArray name = QFile::encodeName(to);
    return (::mkdir(name.constData(), 0755) == 0 || errno == EEXIST) && ::chmod(name.constData(), 0755) == 0;
}

// Copies `from` to `to` (absent, or staged before), readable by everyone: a
// folder with what it holds, a link as a link, a file by a second name
// where everyone may read it already, else as a copy that becomes `to` whole.
static QString copyStaged(const QString &from, const QString &to)
{
    const QByteArray source = QFile::encodeName(from);
    const QByteArray target = QFile::encodeName(to);
    struct stat st;
    if (::lstat(source.constData(), &st) != 0)
        return QStringLiteral("%1: %2").arg(from, QString::fromLocal8Bit(std::strerror(errno)));
    if (S_ISDIR(st.st_mode)) {
        if (!makeOpenFolders(QFileInfo(to).path(), to)) return QStringLiteral("%1 cannot be made").arg(to);
        for (const QString &entry :
             QDir(from).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System))
            if (const QString why = copyStaged(from + QLatin1Char('/') + entry, to + QLatin1Char('/') + entry);
                !why.isEmpty())
                return why;
        return QString();
    }
    struct stat there;
    if (::lstat(target.constData(), &there) == 0) return QString();
    if (S_ISLNK(st.st_mode)) {
        char raw[4096];
        const ssize_t n = ::readlink(source.constData(), raw, sizeof raw - 1);
        if (n < 0 || ::symlink(QByteArray(raw, n).constData(), target.constData()) != 0)
            return QStringLiteral("the link %1 cannot be copied").arg(from);
        return QString();
    }
    if (!S_ISREG(st.st_mode)) return QString();
    const bool readable = (st.st_mode & S_IROTH) && (!(st.st_mode & S_IXUSR) || (st.st_mode & S_IXOTH));
    if (readable && ::link(source.constData(), target.constData()) == 0) return QString();
    const QString part = to + QStringLiteral(".staging");
    QFile::remove(part);
    if (!QFile::copy(from, part)) return QStringLiteral("%1 cannot be copied to %2").arg(from, part);
    QFileDevice::Permissions modes = QFile::permissions(part) | QFileDevice::ReadOther | QFileDevice::ReadGroup;
    if (modes & QFileDevice::ExeOwner) modes |= QFileDevice::ExeOther | QFileDevice::ExeGroup;
    if (!QFile::setPermissions(part, modes) || ::rename(QFile::encodeName(part).constData(), target.constData()) != 0)
        return QStringLiteral("%1 cannot be made readable").arg(part);
    return QString();
}

// Stages `path` at the same path below `staged`; answers why not, if not.
static QString stage(const QString &path, const QString &staged)
{
    const QString clean = QDir::cleanPath(path);
    if (!QDir::isAbsolutePath(clean) || !withinOwnTrees(clean))
        return QStringLiteral("%1 is not in the project's trees").arg(path);
    if (!QFileInfo(clean).exists() && !QFileInfo(clean).isSymLink())
        return QStringLiteral("%1 does not exist").arg(clean);
    if (!makeOpenFolders(staged, staged + QFileInfo(clean).path()))
        return QStringLiteral("no folder for %1 could be made").arg(clean);
    return copyStaged(clean, staged + clean);
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
static void serveStaging(int fd, const QString &staged)
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

Unprivileged runUnprivileged(QString *why)
{
    if (::geteuid() != 0) return Unprivileged::Here;
    const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
    if (setpriv.isEmpty()) {
        *why = QStringLiteral("running as root and setpriv is not installed: file modes cannot be tested");
        return Unprivileged::Unavailable;
    }
    constexpr uid_t kNobody = 65534;
    // Below the shared temporary folder: this process's own tree is closed to others.
    QTemporaryDir base(QDir::tempPath() + QStringLiteral("/vtrtest-unprivileged-XXXXXX"));
    const QString staged = base.path() + QStringLiteral("/staged");
    int channel[2];
    if (!base.isValid() || ::chown(QFile::encodeName(base.path()).constData(), kNobody, kNobody) != 0 ||
        !makeOpenFolders(base.path(), staged) || ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, channel) != 0) {
        *why = QStringLiteral("no folder for the unprivileged user could be made");
        return Unprivileged::Unavailable;
    }
    const ::testing::TestInfo *test = ::testing::UnitTest::GetInstance()->current_test_info();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("VTR_TEST_TMP"), base.path());
    environment.insert(QStringLiteral("VTR_TEST_STAGED"), staged);
    environment.insert(QStringLiteral("VTR_TEST_STAGER_FD"), QString::number(channel[1]));
    // The sanitizers read their suppressions as that user too.
    for (const QString &variable :
         {QStringLiteral("ASAN_OPTIONS"), QStringLiteral("LSAN_OPTIONS"), QStringLiteral("UBSAN_OPTIONS")}) {
        QStringList options = environment.value(variable).split(QLatin1Char(':'));
        for (QString &option : options) {
            const QString file = option.section(QLatin1Char('='), 1);
            if (option.startsWith(QLatin1String("suppressions=")) && QDir::isAbsolutePath(file) &&
                stage(file, staged).isEmpty())
                option = QStringLiteral("suppressions=") + staged + QDir::cleanPath(file);
        }
        if (environment.contains(variable)) environment.insert(variable, options.join(QLatin1Char(':')));
    }
    std::thread stager(serveStaging, channel[0], staged);
    ::fcntl(channel[1], F_SETFD, 0);
    QProcess child;
    child.setProcessEnvironment(environment);
    child.setWorkingDirectory(base.path());
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
