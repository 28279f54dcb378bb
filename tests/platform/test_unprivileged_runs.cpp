#include "TestEnvironment.h"

#include "platform/Descriptor.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
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

#include <fcntl.h>
#include <grp.h>
#include <linux/keyctl.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/ptrace.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

// Debian 12's header does not declare its functions as C.
extern "C" {
#include <sys/pidfd.h>
}

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

namespace {

// What the root side of the test hands its run as the unprivileged user.
constexpr char kRootFile[] = "VTR_TEST_STAGER_ROOT_FILE";
constexpr char kClosedFolder[] = "VTR_TEST_STAGER_CLOSED_FOLDER";
const QByteArray kRootBytes = "root's own\n";
const QByteArray kProjectBytes = "staged for the user\n";

bool rename(const QString &from, const QString &to)
{
    return ::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
}

// The contained test runs as root in a mount namespace of its own: an empty
// tmpfs, the only place there that can be changed, stands in for the
// machine's temporary folder (sticky, open to all: the staging tree is made
// in it) and holds a folder and a file of root's alone; another, root's,
// takes the place of the folder beside the project that holds the shared
// data, where the unprivileged user may have put a link.
constexpr char kStandIns[] = "VTR_TEST_STAGER_STAND_INS";
constexpr char kSharedStandIn[] = "VTR_TEST_STAGER_SHARED";
const QByteArray kSecret = "root's secret\n";
constexpr int kNoNamespace = 77;
// What root holds when it starts the run: a variable of its environment, and
// a file and a socket open across exec, at these descriptors.
constexpr char kRootsVariable[] = "VTR_TEST_ROOTS_OWN";
constexpr int kHeldFile = 900;
constexpr int kHeldSocket = 901;
// Root also runs from a terminal, as from a shell, with a key in its session
// keyring and a group besides its own; the run is told root's session,
// keyring and key ("sid keyring key", the key -1 where there are no keyrings).
constexpr char kRootsSession[] = "VTR_TEST_ROOTS_SESSION";
constexpr gid_t kRootsGroup = 65532;
// A file of root's alone in the shared data, staged for the run, and a third
// user who asks for it while the run goes on, listening at an abstract
// socket's name (chosen at random: every user may take such a name first),
// which this variable gives.
const QByteArray kPrivate = "root's fixture\n";
constexpr char kThirdUser[] = "VTR_TEST_THIRD_USER";
constexpr uid_t kThirdUid = 65533;
// The run's user, and another process of its own that the run asks, at this
// abstract socket's name, to reach into it.
constexpr uid_t kRunsUid = 65534;
constexpr char kIntruder[] = "VTR_TEST_INTRUDER";
// A program of root's in a folder the run's user may read, as a build folder
// readable to all holds the project's, which the run starts.
constexpr char kReadableProgram[] = "VTR_TEST_READABLE_PROGRAM";
// Tells the run to skip its test.
constexpr char kSkipping[] = "VTR_TEST_SKIPPING";
// How root's log marks each line of the run's output.
constexpr char kRunsLine[] = "65534| ";
// A chain of folders deeper than any path may name, and than a process may
// hold descriptors by default.
constexpr int kChainDepth = 1200;

// The stand-ins as they are: what the tmpfs and root's folder hold, and the
// modes and owners of these and of root's file.
std::string snapshot(const QString &standIns)
{
    const QString closed = standIns + QStringLiteral("/closed");
    const QDir::Filters all = QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System;
    QStringList lines = QDir(standIns).entryList(all) + QDir(closed).entryList(all);
    for (const QString &path : {standIns, closed, closed + QStringLiteral("/secret")}) {
        struct stat st {};
        ::lstat(QFile::encodeName(path).constData(), &st);
        lines.append(QStringLiteral("%1 %2 %3").arg(path, QString::number(st.st_mode, 8), QString::number(st.st_uid)));
    }
    return lines.join(QLatin1Char('\n')).toStdString();
}

// Writes what cannot be had to the standard error and ends the child before
// it becomes the test program again (nothing but system calls after a fork).
[[noreturn]] void noNamespace(const char *step)
{
    const char *cause = ::strerrordesc_np(errno);
    for (const char *part : {"== no private read-only mount namespace: ", step, ": ", cause ? cause : "?", "\n"})
        if (::write(STDERR_FILENO, part, std::strlen(part)) < 0) break;
    ::_exit(kNoNamespace);
}

// The abstract socket `name` (no file, so nothing to clear).
sockaddr_un abstractAddress(const QByteArray &name)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + 1, name.constData(), std::min(size_t(name.size()), sizeof address.sun_path - 1));
    return address;
}

// Starts a process of the user `uid`, which listens at the abstract socket
// `name`, and once asked there, ends with what `serve` answers for the one
// who asked (nothing but system calls in it: it is a fork of this process).
// Answers its id once it listens, or -1 (a sandbox that refuses that user).
pid_t startListening(uid_t uid, const QByteArray &name, int (*serve)(int asked, int report), int report = -1)
{
    int ready[2];
    if (::pipe2(ready, O_CLOEXEC) != 0) return -1;
    const sockaddr_un address = abstractAddress(name);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(ready[0]);
        if (::setgroups(0, nullptr) != 0 || ::setresgid(uid, uid, uid) != 0 || ::setresuid(uid, uid, uid) != 0 ||
            ::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0)
            ::_exit(1);
        const int listening = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (listening < 0 || ::bind(listening, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0 ||
            ::listen(listening, 1) != 0 || ::write(ready[1], "", 1) != 1)
            ::_exit(1);
        ::close(ready[1]);
        const int asked = ::accept(listening, nullptr, nullptr);
        ::_exit(asked >= 0 ? serve(asked, report) : 1);
    }
    ::close(ready[1]);
    char byte;
    const bool listens = pid > 0 && ::read(ready[0], &byte, 1) == 1;
    ::close(ready[0]);
    if (pid > 0 && !listens) ::waitpid(pid, nullptr, 0);
    return listens ? pid : -1;
}

// A user neither root nor the run's, which reads a path from the one who
// asks, tries to open that file and answers its errno (0 where it could read it).
pid_t startThirdUser(const QByteArray &name)
{
    return startListening(kThirdUid, name, [](int asked, int) {
        char path[4096];
        size_t got = 0;
        for (ssize_t n; got + 1 < sizeof path && (n = ::read(asked, path + got, sizeof path - 1 - got)) > 0;)
            got += size_t(n);
        path[got] = '\0';
        const int file = ::open(path, O_RDONLY);
        char byte;
        const int answer = file >= 0 && ::read(file, &byte, 1) >= 0 ? 0 : errno;
        return ::write(asked, &answer, sizeof answer) == ssize_t(sizeof answer) ? 0 : 1;
    });
}

// Another process of the run's user, which reaches into the process that
// asks and into the one whose id it sends (a program the run started; 0 for
// none): it takes a descriptor of each and attaches to each as a debugger
// does, writes to `report` what each met (0 where it succeeded, -1 where
// there was no program), and then lets the asker go on (its end lets go of
// what it attached to).
pid_t startIntruder(const QByteArray &name, int report)
{
    return startListening(
        kRunsUid, name,
        [](int asked, int report) {
            ucred run{};
            socklen_t size = sizeof run;
            pid_t started = 0;
            if (::getsockopt(asked, SOL_SOCKET, SO_PEERCRED, &run, &size) != 0 ||
                ::read(asked, &started, sizeof started) != ssize_t(sizeof started))
                return 1;
            int met[4] = {-1, -1, -1, -1};
            const auto reach = [](pid_t pid, int *into) {
                const int process = ::pidfd_open(pid, 0);
                into[0] = process >= 0 && ::pidfd_getfd(process, STDOUT_FILENO, 0) >= 0 ? 0 : errno;
                into[1] = ::ptrace(PTRACE_SEIZE, pid, nullptr, nullptr) == 0 ? 0 : errno;
            };
            reach(run.pid, met);
            if (started > 0) reach(started, met + 2);
            return ::write(report, met, sizeof met) == ssize_t(sizeof met) && ::write(asked, "", 1) == 1 ? 0 : 1;
        },
        report);
}

// What the third user listening at `name` met when it opened `path`.
int askThirdUser(const QByteArray &name, const QString &path)
{
    const platform::Descriptor asking(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const sockaddr_un address = abstractAddress(name);
    const QByteArray bytes = QFile::encodeName(path);
    int answer = -1;
    if (!asking.isOpen() ||
        ::connect(asking.get(), reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0 ||
        ::write(asking.get(), bytes.constData(), size_t(bytes.size())) != ssize_t(bytes.size()) ||
        ::shutdown(asking.get(), SHUT_WR) != 0 ||
        ::read(asking.get(), &answer, sizeof answer) != ssize_t(sizeof answer))
        return -1;
    return answer;
}

// The run as the unprivileged user where what it needs cannot be staged: the
// test fails (here, one failure caught) and the caller returns. Answers what
// the failure says.
std::string refusedRun(const QStringList &handed = {})
{
    QString why;
    testenv::Unprivileged outcome;
    ::testing::TestPartResultArray failures;
    {
        const ::testing::ScopedFakeTestPartResultReporter reporter(
            ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &failures);
        outcome = testenv::runUnprivileged(&why, handed);
    }
    EXPECT_EQ(outcome, testenv::Unprivileged::Done) << why.toStdString();
    EXPECT_EQ(failures.size(), 1) << "a run that could not be staged did not fail";
    return failures.size() > 0 ? failures.GetTestPartResult(0).message() : std::string();
}

// Whether a line of `output` begins with `text`.
bool aLineBegins(const QByteArray &output, const QByteArray &text)
{
    const QList<QByteArray> lines = output.split('\n');
    return std::any_of(lines.cbegin(), lines.cend(), [&](const QByteArray &line) { return line.startsWith(text); });
}

// Runs this test again as root in a mount namespace of its own where every
// mount is read-only but a new tmpfs on `mountPoint`, and one on the folder
// of the shared data where there is one: a stager that climbs out of its
// tree there meets the stand-ins, and can change nothing else. It runs as
// from a shell, with a pseudo-terminal of this test's as its controlling
// terminal.
void runContained()
{
    const platform::Descriptor terminal(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    char terminalPath[256] = "";
    if (!terminal.isOpen() || ::grantpt(terminal.get()) != 0 || ::unlockpt(terminal.get()) != 0 ||
        ::ptsname_r(terminal.get(), terminalPath, sizeof terminalPath) != 0) {
        std::printf("== no pseudo-terminal (%s): a run from a terminal is not tried\n", std::strerror(errno));
        terminalPath[0] = '\0';
    }
    const QTemporaryDir mountPoint(QDir::tempPath() + QStringLiteral("/vtrtest-contained-XXXXXX"));
    ASSERT_TRUE(mountPoint.isValid());
    // The walk on both sides refuses links: the stand-ins are named as they are reached.
    const QString standIns = QFileInfo(mountPoint.path()).canonicalFilePath();
    const QByteArray target = QFile::encodeName(standIns);
    const QString shared = QDir::cleanPath(QStringLiteral(VTR_SHARED_DATA_DIR "/.."));
    const QFileInfo sharedFolder(shared);
    const QByteArray sharedTarget =
        sharedFolder.isDir() && !sharedFolder.isSymLink() ? QFile::encodeName(shared) : QByteArray();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QString::fromLatin1(kStandIns), standIns);
    if (!sharedTarget.isEmpty()) environment.insert(QString::fromLatin1(kSharedStandIn), shared);
    environment.insert(QStringLiteral("TMPDIR"), standIns);
    environment.insert(QStringLiteral("VTR_TEST_TMP"), standIns + QStringLiteral("/run"));
    QProcess contained;
    contained.setProcessEnvironment(environment);
    contained.setProcessChannelMode(QProcess::MergedChannels);
    contained.setChildProcessModifier([path = target.constData(), sharedPath = sharedTarget.constData(),
                                       tty = static_cast<const char *>(terminalPath)] {
        // A session of its own, the terminal its controlling terminal (the
        // contained side says where it is not).
        if (*tty && ::setsid() >= 0) {
            const int fd = ::open(tty, O_RDWR | O_CLOEXEC);
            if (fd >= 0 && ::ioctl(fd, TIOCSCTTY, 0) == 0) ::close(fd);
        }
        if (::unshare(CLONE_NEWNS) != 0) noNamespace("unshare");
        if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) noNamespace("private mounts");
        mount_attr readOnly{};
        readOnly.attr_set = MOUNT_ATTR_RDONLY;
        if (::mount_setattr(AT_FDCWD, "/", AT_RECURSIVE, &readOnly, sizeof readOnly) != 0)
            noNamespace("a read-only /");
        // Room for the copies of the test programs that are staged in it.
        if (::mount("tmpfs", path, "tmpfs", MS_NOSUID | MS_NODEV, "mode=1777,size=1g") != 0)
            noNamespace("a tmpfs for the stand-ins");
        if (*sharedPath && ::mount("tmpfs", sharedPath, "tmpfs", MS_NOSUID | MS_NODEV, "mode=0755,size=1m") != 0)
            noNamespace("a tmpfs for the shared data");
    });
    const ::testing::TestInfo *test = ::testing::UnitTest::GetInstance()->current_test_info();
    contained.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--gtest_filter=%1.%2").arg(QString::fromUtf8(test->test_suite_name()),
                                                               QString::fromUtf8(test->name()))});
    const bool finished = contained.waitForFinished(290000);
    if (!finished) contained.kill();
    const QByteArray output = contained.readAll();
    // What it could not try there, it says in lines of their own.
    for (const QByteArray &line : output.split('\n'))
        if (line.startsWith("== ")) std::printf("%s\n", line.constData());
    if (finished && contained.exitCode() == kNoNamespace && output.startsWith("== no private"))
        GTEST_SKIP() << output.trimmed().toStdString();
    if (finished && contained.exitCode() == 0 && aLineBegins(output, "[  SKIPPED ] 1 test"))
        GTEST_SKIP() << "skipped in the private mount namespace:\n" << output.toStdString();
    EXPECT_TRUE(finished && contained.exitStatus() == QProcess::NormalExit && contained.exitCode() == 0 &&
                aLineBegins(output, "[  PASSED  ] 1 test"))
        << "the test in the private mount namespace failed:\n" << output.toStdString();
}

// Root's side in the namespace: the stand-ins, a link of the unprivileged
// user's where the shared data is looked for, then the run as that user;
// none of them changes.
void stageAgainstStandIns(const QString &standIns)
{
    // Only where nothing real can change.
    struct statvfs mounted {};
    ASSERT_EQ(::statvfs("/", &mounted), 0);
    ASSERT_TRUE(mounted.f_flag & ST_RDONLY) << "/ is writable: the stager is not tried";
    const QString closed = standIns + QStringLiteral("/closed");
    const QByteArray secret = QFile::encodeName(closed + QStringLiteral("/secret"));
    ASSERT_EQ(::mkdir(QFile::encodeName(closed).constData(), 0700), 0);
    testenv::writeFile(QFile::decodeName(secret), kSecret);
    ASSERT_EQ(::chmod(secret.constData(), 0600), 0);
    ASSERT_NE(snapshot(standIns).find(QStringLiteral("%1 41777 0").arg(standIns).toStdString()), std::string::npos);

    // The shared data as a link to root's closed folder: the run is refused
    // before anything is staged, and the test fails saying why.
    QString why;
    if (const QString shared = qEnvironmentVariable(kSharedStandIn); !shared.isEmpty()) {
        const QString data = shared + QStringLiteral("/data");
        ASSERT_TRUE(QFile::link(closed, data));
        ASSERT_EQ(::lchown(QFile::encodeName(data).constData(), 65534, 65534), 0);
        const std::string before = snapshot(standIns);
        const std::string failure = refusedRun();
        EXPECT_NE(failure.find((data + QStringLiteral(" is a link")).toStdString()), std::string::npos) << failure;
        EXPECT_EQ(snapshot(standIns), before);
        ASSERT_TRUE(QFile::remove(data));
        // A link of root's own there is where root keeps the data, which no
        // other user can bring about: the test is skipped, saying why.
        ASSERT_TRUE(QFile::link(closed, data));
        EXPECT_EQ(testenv::runUnprivileged(&why), testenv::Unprivileged::Unavailable) << why.toStdString();
        EXPECT_TRUE(why.contains(data + QStringLiteral(" is a link"))) << why.toStdString();
        EXPECT_EQ(snapshot(standIns), before);
        ASSERT_TRUE(QFile::remove(data));
    } else {
        std::printf("== no folder of the shared data beside the project: a link in its place is not tried\n");
    }

    // So does a link of that user's as a folder on the way to a file root
    // hands over (a sanitizer's suppressions, named through it).
    const QString way = standIns + QStringLiteral("/way");
    ASSERT_TRUE(QFile::link(closed, way));
    ASSERT_EQ(::lchown(QFile::encodeName(way).constData(), 65534, 65534), 0);
    const bool sanitizerSet = qEnvironmentVariableIsSet("UBSAN_OPTIONS");
    const QByteArray sanitizer = qgetenv("UBSAN_OPTIONS");
    qputenv("UBSAN_OPTIONS", "suppressions=" + QFile::encodeName(way + QStringLiteral("/secret")) +
                                 (sanitizerSet ? ':' + sanitizer : QByteArray()));
    std::string before = snapshot(standIns);
    const std::string failure = refusedRun({QString::fromLatin1(kStandIns)});
    sanitizerSet ? qputenv("UBSAN_OPTIONS", sanitizer) : qunsetenv("UBSAN_OPTIONS");
    EXPECT_NE(failure.find((way + QStringLiteral(" is a link")).toStdString()), std::string::npos) << failure;
    EXPECT_EQ(snapshot(standIns), before);
    ASSERT_TRUE(QFile::remove(way));

    // Root runs it from a terminal, with a key in its session keyring and a
    // group besides its own; and the shared data holds a file of root's alone,
    // which a third user asks for while the run goes on.
    if (const int tty = ::open("/dev/tty", O_RDWR | O_CLOEXEC); tty >= 0)
        ::close(tty);
    else
        std::printf("== no terminal of root's (%s): whether the run reaches it is not tried\n", std::strerror(errno));
    long key = -1;
    const long keyring = ::syscall(SYS_keyctl, KEYCTL_JOIN_SESSION_KEYRING, nullptr);
    if (keyring >= 0)
        key = ::syscall(SYS_add_key, "user", "vtr-test-roots-key", kSecret.constData(), size_t(kSecret.size()),
                        KEY_SPEC_SESSION_KEYRING);
    if (key < 0)
        std::printf("== no session keyring (%s): whether the run reads root's key is not tried\n",
                    std::strerror(errno));
    qputenv(kRootsSession,
            QByteArray::number(::getsid(0)) + ' ' + QByteArray::number(keyring) + ' ' + QByteArray::number(key));
    ASSERT_EQ(::setgroups(1, &kRootsGroup), 0);
    pid_t third = -1;
    if (const QString shared = qEnvironmentVariable(kSharedStandIn); !shared.isEmpty()) {
        const QString fixture = shared + QStringLiteral("/data/private");
        testenv::writeFile(fixture, kPrivate);
        ASSERT_EQ(::chmod(QFile::encodeName(fixture).constData(), 0600), 0);
        const QByteArray name = "vtr-test-third-user-" + QUuid::createUuid().toByteArray(QUuid::Id128);
        if ((third = startThirdUser(name)) > 0)
            qputenv(kThirdUser, name);
        else
            std::printf("== no process of a third user: whether it reads what is staged is not tried\n");
    }

    // Once the links are gone, the run holds nothing of root's: neither what
    // its environment holds nor what it has open.
    const int file = ::open(secret.constData(), O_RDONLY);
    ASSERT_GE(file, 0);
    int pair[2] = {-1, -1};
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    ASSERT_EQ(::dup2(file, kHeldFile), kHeldFile);
    ASSERT_EQ(::dup2(pair[0], kHeldSocket), kHeldSocket);
    for (const int fd : {file, pair[0]}) ::close(fd);
    qputenv(kRootsVariable, "root's own");
    before = snapshot(standIns);
    const testenv::Unprivileged outcome = testenv::runUnprivileged(
        &why, {QString::fromLatin1(kStandIns), QString::fromLatin1(kRootsSession), QString::fromLatin1(kThirdUser)});
    qunsetenv(kRootsVariable);
    for (const int fd : {kHeldFile, kHeldSocket, pair[1]}) ::close(fd);
    if (third > 0) {
        ::kill(third, SIGKILL);
        ::waitpid(third, nullptr, 0);
    }
    if (outcome == testenv::Unprivileged::Unavailable) GTEST_SKIP() << why.toStdString();
    // Nothing was made outside the staging tree (gone with the run), and no mode changed.
    EXPECT_EQ(snapshot(standIns), before);
}

// The unprivileged side: what it holds, and what it finds of root's file.
void holdNothingOfRoots(const QString &standIns)
{
    // Its input is nothing, its output a file of its own.
    struct stat st {};
    ASSERT_EQ(::fstat(STDIN_FILENO, &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
    for (const int fd : {STDOUT_FILENO, STDERR_FILENO}) {
        ASSERT_EQ(::fstat(fd, &st), 0);
        EXPECT_TRUE(S_ISREG(st.st_mode) && st.st_uid == ::getuid()) << fd;
    }
    // Nothing root held open, and no socket to the process that started it.
    for (const int fd : {kHeldFile, kHeldSocket}) EXPECT_EQ(::fcntl(fd, F_GETFD), -1) << fd;
    for (int fd = 0; fd < 1024; ++fd) {
        ucred peer{};
        socklen_t size = sizeof peer;
        if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0) {
            EXPECT_NE(peer.pid, ::getppid()) << "a channel to root at " << fd;
        }
    }
    // None of root's environment.
    EXPECT_FALSE(qEnvironmentVariableIsSet(kRootsVariable));
    EXPECT_FALSE(testenv::readFile(QStringLiteral("/proc/self/environ")).contains(kRootsVariable));
    // None of root's groups, not its terminal, session or keys.
    EXPECT_EQ(::getgroups(0, nullptr), 0);
    const int tty = ::open("/dev/tty", O_RDWR | O_CLOEXEC);
    EXPECT_LT(tty, 0) << "root's terminal is this run's";
    if (tty >= 0) ::close(tty);
    if (const QList<QByteArray> roots = qgetenv(kRootsSession).split(' '); roots.size() == 3) {
        EXPECT_NE(::getsid(0), roots[0].toInt());
        if (const long key = roots[2].toLong(); key > 0) {
            EXPECT_NE(::syscall(SYS_keyctl, KEYCTL_GET_KEYRING_ID, KEY_SPEC_SESSION_KEYRING, 0), roots[1].toLong());
            char payload[64];
            EXPECT_LT(::syscall(SYS_keyctl, KEYCTL_READ, key, payload, sizeof payload), 0) << "root's key is read";
        }
    }
    // And no copy of root's file.
    QDirIterator copies(standIns, QDir::Files | QDir::NoSymLinks | QDir::Hidden, QDirIterator::Subdirectories);
    while (copies.hasNext())
        if (const QString copy = copies.next(); testenv::readFile(copy) == kSecret)
            ADD_FAILURE() << "root's file reached this user as " << copy.toStdString();
    // Root's file staged for this user: it reads it, a third user does not.
    if (const QByteArray third = qgetenv(kThirdUser); !third.isEmpty()) {
        const QString copy = testenv::reachable(QStringLiteral(VTR_SHARED_DATA_DIR "/private"));
        EXPECT_EQ(testenv::readFile(copy), kPrivate) << copy.toStdString();
        EXPECT_EQ(askThirdUser(third, copy), EACCES) << copy.toStdString();
    }
}

// The run's side, let go on by the intruder once it has tried: it leaves in
// its work folder a chain of folders deeper than any path may name, the top
// one shut even to itself, and ends as a process of its user
// that took it over could make it end: at once and with 0, with control
// characters in its output (they set the window's title and the clipboard,
// clear the line), a line there that says it passed and one drawn from right
// to left that says it failed.
[[noreturn]] void endAsAnIntruderWould(const QByteArray &intruder)
{
    // The readable program, started as the tests start the project's, waits
    // on its input while the intruder tries it.
    QProcess program;
    program.start(testenv::reachable(qEnvironmentVariable(kReadableProgram)), {});
    const pid_t started = program.waitForStarted(60000) ? pid_t(program.processId()) : 0;
    const platform::Descriptor asking(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const sockaddr_un address = abstractAddress(intruder);
    char byte;
    if (::connect(asking.get(), reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0 ||
        ::write(asking.get(), &started, sizeof started) != ssize_t(sizeof started) ||
        ::read(asking.get(), &byte, 1) != 1)
        ::_exit(1);
    program.closeWriteChannel();
    if (started > 0 && !program.waitForFinished(60000)) ::_exit(1);
    const platform::Descriptor work(::open(qgetenv("VTR_TEST_TMP").constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    platform::Descriptor at(::fcntl(work.get(), F_DUPFD_CLOEXEC, 0));
    int depth = 0;
    for (; depth < kChainDepth && ::mkdirat(at.get(), "deep", 0700) == 0; ++depth)
        at = platform::Descriptor(::openat(at.get(), "deep", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    static constexpr char kForged[] = "\x1b]0;vtr\x07\x1b]52;c;dnRy\x07\r\x1b[2K\x1b[32m[  PASSED  ] 1 test.\x1b[0m\n"
                                      "[  PASSED  ] 1 test.\n\xe2\x80\xae.tset 1 ]  DELIAF  [\n";
    const bool left = depth == kChainDepth && ::fchmodat(work.get(), "deep", 0, 0) == 0;
    ::_exit(left && ::write(STDOUT_FILENO, kForged, sizeof kForged - 1) < 0 ? 1 : 0);
}

// Root's side: the intruder, ready for the run, a folder of root's, which
// that user may pass through, to hold the run's tree, and a program in a
// folder of root's that user may read, as a build folder readable to all.
void intrudeOnTheRun()
{
    QTemporaryDir parent(QDir::tempPath() + QStringLiteral("/vtrtest-runs-XXXXXX"));
    ASSERT_TRUE(parent.isValid());
    ASSERT_EQ(::chmod(QFile::encodeName(parent.path()).constData(), 0711), 0);
    QTemporaryDir readable(QDir::tempPath() + QStringLiteral("/vtrtest-readable-XXXXXX"));
    ASSERT_TRUE(readable.isValid());
    ASSERT_EQ(::chmod(QFile::encodeName(readable.path()).constData(), 0755), 0);
    const QString program = readable.path() + QStringLiteral("/cat");
    ASSERT_TRUE(QFile::copy(QFileInfo(QStandardPaths::findExecutable(QStringLiteral("cat"))).canonicalFilePath(),
                            program));
    ASSERT_EQ(::chmod(QFile::encodeName(program).constData(), 0755), 0);
    qputenv(kReadableProgram, QFile::encodeName(program));
    int report[2];
    ASSERT_EQ(::pipe2(report, O_CLOEXEC | O_NONBLOCK), 0);
    const platform::Descriptor reportRead(report[0]), reportWrite(report[1]);
    const QByteArray name = "vtr-test-intruder-" + QUuid::createUuid().toByteArray(QUuid::Id128);
    const pid_t intruder = startIntruder(name, reportWrite.get());
    if (intruder < 0) GTEST_SKIP() << "no other process of the unprivileged user could be started";
    qputenv(kIntruder, name);
    const bool temporarySet = qEnvironmentVariableIsSet("TMPDIR");
    const QByteArray temporary = qgetenv("TMPDIR");
    qputenv("TMPDIR", QFile::encodeName(parent.path()));
    QString why;
    testenv::Unprivileged outcome;
    ::testing::TestPartResultArray failures;
    {
        const ::testing::ScopedFakeTestPartResultReporter reporter(
            ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &failures);
        outcome = testenv::runUnprivileged(&why, {QString::fromLatin1(kIntruder), QString::fromLatin1(kReadableProgram)},
                                           {program});
    }
    temporarySet ? qputenv("TMPDIR", temporary) : qunsetenv("TMPDIR");
    qunsetenv(kIntruder);
    qunsetenv(kReadableProgram);
    ::kill(intruder, SIGKILL);
    ::waitpid(intruder, nullptr, 0);
    if (outcome == testenv::Unprivileged::Unavailable) GTEST_SKIP() << why.toStdString();

    int met[4] = {-1, -1, -1, -1};
    ASSERT_EQ(::read(reportRead.get(), met, sizeof met), ssize_t(sizeof met)) << "the run did not ask the intruder";
    EXPECT_EQ(met[0], EPERM) << "another process of the user took a descriptor of the run's";
    EXPECT_EQ(met[1], EPERM) << "another process of the user attached to the run";
    EXPECT_EQ(met[2], EPERM) << "another process of the user took a descriptor of a program the run started (-1: "
                                "the run started none)";
    EXPECT_EQ(met[3], EPERM) << "another process of the user attached to a program the run started";
    ASSERT_EQ(failures.size(), 1) << "a run that told no outcome passed";
    const std::string log = failures.GetTestPartResult(0).message();
    EXPECT_NE(log.find("[  PASSED  ] 1 test."), std::string::npos) << "the run did not reach its end";
    EXPECT_TRUE(log.find_first_of("\x1b\x07\r") == std::string::npos &&
                log.find("\\x1b]0;vtr\\x07") != std::string::npos)
        << "control characters of the run's output reached root's log as they are";
    // Below root's own lines, every line is marked as the run's, and none is
    // drawn in another order.
    const QList<QByteArray> lines = QByteArray::fromStdString(log).split('\n');
    qsizetype i = 0;
    while (i < lines.size() && !lines[i].startsWith("the test as the unprivileged user failed (")) ++i;
    ASSERT_LT(i, lines.size()) << log;
    while (++i < lines.size())
        EXPECT_TRUE(lines[i].startsWith(kRunsLine) || (lines[i].isEmpty() && i + 1 == lines.size()))
            << "a line of the run's output passes for root's: " << lines[i].toStdString();
    EXPECT_TRUE(log.find("\xe2\x80\xae") == std::string::npos &&
                log.find(std::string(kRunsLine) + "\\u202e.tset") != std::string::npos)
        << "a character that turns a line reached root's log as it is";
    EXPECT_EQ(QDir(parent.path())
                  .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System)
                  .join(QLatin1Char(' '))
                  .toStdString(),
              "")
        << "what the run left stays";
}

}  // namespace

// Root stages for the unprivileged user, before it starts, what the tests
// read; whatever that user then does to the folders it is given, no file
// outside the project's trees changes or reaches it, also once root clears
// them.
TEST(UnprivilegedRuns, AStagingFolderSwappedByTheUserLeavesRootsFilesAlone)
{
    if (::geteuid() == 0) {
        // A file of root's alone, outside the project's trees.
        const QString outside = testenv::makeTempDir(QStringLiteral("outside"));
        const QString rootFile = outside + QStringLiteral("/root-only");
        testenv::writeFile(rootFile, kRootBytes);
        ASSERT_EQ(::chmod(QFile::encodeName(rootFile).constData(), 0600), 0);
        struct stat before;
        ASSERT_EQ(::lstat(QFile::encodeName(rootFile).constData(), &before), 0);
        // In the build tree, a folder only root may enter: a file the user asks
        // for, and a link out of the project's trees.
        QTemporaryDir closed(QCoreApplication::applicationDirPath() + QStringLiteral("/unprivileged-runs-XXXXXX"));
        ASSERT_TRUE(closed.isValid());
        testenv::writeFile(closed.path() + QStringLiteral("/closed.txt"), kProjectBytes);
        ASSERT_TRUE(QFile::setPermissions(closed.path() + QStringLiteral("/closed.txt"),
                                          QFileDevice::ReadOwner | QFileDevice::WriteOwner));
        ASSERT_TRUE(QFile::link(outside, closed.path() + QStringLiteral("/out")));

        qputenv(kRootFile, QFile::encodeName(rootFile));
        qputenv(kClosedFolder, QFile::encodeName(closed.path()));
        QString why;
        const testenv::Unprivileged outcome = testenv::runUnprivileged(
            &why, {QString::fromLatin1(kRootFile), QString::fromLatin1(kClosedFolder)});
        qunsetenv(kRootFile);
        qunsetenv(kClosedFolder);
        if (outcome == testenv::Unprivileged::Unavailable) GTEST_SKIP() << why.toStdString();

        struct stat after;
        ASSERT_EQ(::lstat(QFile::encodeName(rootFile).constData(), &after), 0);
        EXPECT_EQ(after.st_mode, before.st_mode);
        EXPECT_EQ(after.st_uid, before.st_uid);
        EXPECT_EQ(after.st_gid, before.st_gid);
        EXPECT_EQ(after.st_nlink, before.st_nlink);
        EXPECT_EQ(testenv::readFile(rootFile), kRootBytes);
        EXPECT_EQ(QDir(outside).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                  QStringList{QStringLiteral("root-only")});
        return;
    }
    const QString rootFile = qEnvironmentVariable(kRootFile);
    const QString closed = qEnvironmentVariable(kClosedFolder);
    if (rootFile.isEmpty() || closed.isEmpty())
        GTEST_SKIP() << "only a test run as root stages files for the unprivileged user";
    const QString staged = qEnvironmentVariable("VTR_TEST_STAGED");
    ASSERT_FALSE(staged.isEmpty());

    // A link in the project's trees leads nowhere outside them, and what root
    // did not hand over before the run is not staged when it is asked for.
    EXPECT_TRUE(testenv::readFile(testenv::reachable(closed + QStringLiteral("/out/root-only"))).isEmpty());
    EXPECT_TRUE(testenv::readFile(testenv::reachable(closed + QStringLiteral("/closed.txt"))).isEmpty());

    // The staging folder, and every folder above it, stay root's: none holds
    // a link of this user's or is swapped for a folder of its own.
    const QString planted = staged + QStringLiteral("/planted");
    bool swapped = QFile::link(rootFile, planted);
    for (QString folder = staged; !swapped && folder != QFileInfo(folder).path(); folder = QFileInfo(folder).path())
        swapped = rename(folder, folder + QStringLiteral(".aside")) && QDir().mkpath(staged) &&
                  QFile::link(rootFile, planted);
    EXPECT_FALSE(swapped);
    // What root clears when the run is over: links to its file and folder.
    const QString work = qEnvironmentVariable("VTR_TEST_TMP");
    ASSERT_TRUE(QFile::link(rootFile, work + QStringLiteral("/root-file")));
    ASSERT_TRUE(QFile::link(QFileInfo(rootFile).path(), work + QStringLiteral("/root-folder")));
}

// The run as the unprivileged user starts with nothing of root's (not its
// groups, terminal, session or keys either), and what root stages for it is
// reached from "/" without a link and read by that user alone: a link the
// user put where the shared data is looked for, or as a folder on the way to
// a file root hands over, turns the run down, and root neither reads a file
// of its own for that user nor changes anything outside its staging tree.
TEST(UnprivilegedRuns, TheRunHoldsNothingOfRootsAndNothingIsStagedThroughALink)
{
    const QString standIns = qEnvironmentVariable(kStandIns);
    if (standIns.isEmpty()) {
        if (::geteuid() != 0) GTEST_SKIP() << "only a test run as root stages files for the unprivileged user";
        runContained();
    } else if (::geteuid() == 0) {
        stageAgainstStandIns(standIns);
    } else {
        holdNothingOfRoots(standIns);
    }
}

// While the run goes on, no other process of its user can take a descriptor
// of the run's or attach to it, nor to a program the run starts from a folder
// that user may read. Whatever the run's output says, root goes by the
// outcome the run itself tells it, shows that output with each line marked as
// the run's and its control characters escaped, and removes whatever the run
// left in its folders.
TEST(UnprivilegedRuns, NoOtherProcessOfTheUserReachesIntoTheRunOrSpeaksForIt)
{
    if (const QByteArray intruder = qgetenv(kIntruder); !intruder.isEmpty() && ::geteuid() != 0)
        endAsAnIntruderWould(intruder);
    if (::geteuid() != 0) GTEST_SKIP() << "only a test run as root starts a run as the unprivileged user";
    intrudeOnTheRun();
}

// A run that skips its test is reported to root as skipped, saying why in
// the run's lines: a test that never ran is not counted as checked.
TEST(UnprivilegedRuns, ARunThatSkipsItsTestIsReportedAsSkipped)
{
    if (::geteuid() != 0) {
        if (qEnvironmentVariableIsSet(kSkipping)) GTEST_SKIP() << "the run skips its test";
        GTEST_SKIP() << "only a test run as root starts a run as the unprivileged user";
    }
    qputenv(kSkipping, "1");
    QString why;
    const testenv::Unprivileged outcome = testenv::runUnprivileged(&why, {QString::fromLatin1(kSkipping)});
    qunsetenv(kSkipping);
    const QString skipped = QStringLiteral("skipped as the unprivileged user:\n");
    // Where the system cannot keep a run to itself, there is none.
    if (outcome == testenv::Unprivileged::Unavailable && !why.startsWith(skipped)) GTEST_SKIP() << why.toStdString();
    EXPECT_EQ(outcome, testenv::Unprivileged::Unavailable) << "a run that skipped its test was counted as done";
    EXPECT_TRUE(why.contains(QLatin1String(kRunsLine) + QStringLiteral("the run skips its test"))) << why.toStdString();
}
