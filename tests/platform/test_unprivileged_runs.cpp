#include "TestEnvironment.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

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

// The folder where the test of requests holding a NUL runs, as root in a
// mount namespace of its own: an empty tmpfs, the only place there that can
// be changed. It stands in for the machine's temporary folder (sticky, open
// to all: the staging tree is made in it) and holds a folder and a file of
// root's alone.
constexpr char kStandIns[] = "VTR_TEST_STAGER_STAND_INS";
const QByteArray kSecret = "root's secret\n";
constexpr int kNoNamespace = 77;

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

// Runs this test again as root in a mount namespace of its own where every
// mount is read-only but a new tmpfs on `mountPoint`: a stager that climbs out
// of its tree there meets the stand-ins, and can change nothing else.
void runContained()
{
    const QTemporaryDir mountPoint(QDir::tempPath() + QStringLiteral("/vtrtest-contained-XXXXXX"));
    ASSERT_TRUE(mountPoint.isValid());
    // The walk on both sides refuses links: the stand-ins are named as they are reached.
    const QString standIns = QFileInfo(mountPoint.path()).canonicalFilePath();
    const QByteArray target = QFile::encodeName(standIns);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QString::fromLatin1(kStandIns), standIns);
    environment.insert(QStringLiteral("TMPDIR"), standIns);
    environment.insert(QStringLiteral("VTR_TEST_TMP"), standIns + QStringLiteral("/run"));
    QProcess contained;
    contained.setProcessEnvironment(environment);
    contained.setProcessChannelMode(QProcess::MergedChannels);
    contained.setChildProcessModifier([path = target.constData()] {
        if (::unshare(CLONE_NEWNS) != 0) noNamespace("unshare");
        if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) noNamespace("private mounts");
        mount_attr readOnly{};
        readOnly.attr_set = MOUNT_ATTR_RDONLY;
        if (::mount_setattr(AT_FDCWD, "/", AT_RECURSIVE, &readOnly, sizeof readOnly) != 0)
            noNamespace("a read-only /");
        if (::mount("tmpfs", path, "tmpfs", MS_NOSUID | MS_NODEV, "mode=1777,size=16m") != 0)
            noNamespace("a tmpfs for the stand-ins");
    });
    const ::testing::TestInfo *test = ::testing::UnitTest::GetInstance()->current_test_info();
    contained.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--gtest_filter=%1.%2").arg(QString::fromUtf8(test->test_suite_name()),
                                                               QString::fromUtf8(test->name()))});
    const bool finished = contained.waitForFinished(290000);
    if (!finished) contained.kill();
    const QByteArray output = contained.readAll();
    if (finished && contained.exitCode() == kNoNamespace && output.startsWith("== no private"))
        GTEST_SKIP() << output.trimmed().toStdString();
    if (finished && contained.exitCode() == 0 && output.contains("[  SKIPPED ] 1 test"))
        GTEST_SKIP() << "skipped in the private mount namespace:\n" << output.toStdString();
    EXPECT_TRUE(finished && contained.exitStatus() == QProcess::NormalExit && contained.exitCode() == 0 &&
                output.contains("[  PASSED  ] 1 test"))
        << "the test in the private mount namespace failed:\n" << output.toStdString();
}

// Root's side in the namespace: the stand-ins, then the run as the
// unprivileged user; none of them changes.
void stageAgainstStandIns(const QString &standIns)
{
    // Only where nothing real can change.
    struct statvfs mounted {};
    ASSERT_EQ(::statvfs("/", &mounted), 0);
    ASSERT_TRUE(mounted.f_flag & ST_RDONLY) << "/ is writable: the stager's requests are not tried";
    const QString closed = standIns + QStringLiteral("/closed");
    ASSERT_EQ(::mkdir(QFile::encodeName(closed).constData(), 0700), 0);
    testenv::writeFile(closed + QStringLiteral("/secret"), kSecret);
    ASSERT_EQ(::chmod(QFile::encodeName(closed + QStringLiteral("/secret")).constData(), 0600), 0);
    const std::string before = snapshot(standIns);
    ASSERT_NE(before.find(QStringLiteral("%1 41777 0").arg(standIns).toStdString()), std::string::npos) << before;

    QString why;
    if (testenv::runUnprivileged(&why) == testenv::Unprivileged::Unavailable) GTEST_SKIP() << why.toStdString();
    // Nothing was made outside the staging tree (gone with the run), and no mode changed.
    EXPECT_EQ(snapshot(standIns), before);
}

// The stager's end of the channel, as any code running as this user finds
// it: the socket whose peer is root's process that started this one.
int stagerChannel()
{
    for (int fd = 3; fd < 1024; ++fd) {
        ucred peer{};
        socklen_t size = sizeof peer;
        if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && peer.uid == 0 && peer.pid == ::getppid())
            return fd;
    }
    return -1;
}

QByteArray ask(int channel, const QByteArray &request)
{
    const QByteArray line = request + '\n';
    if (::write(channel, line.constData(), size_t(line.size())) != line.size()) return "(not sent)";
    QByteArray reply;
    char c;
    while (::read(channel, &c, 1) == 1 && c != '\n') reply.append(c);
    return reply;
}

// The unprivileged side asks for root's file by a path of the project's
// checkout whose steps are "..\0": far enough up for root's file to be read,
// and for its copy to land in the staging tree or in the temporary folder
// that holds it.
void askThroughNuls(const QString &standIns)
{
    // Nothing else of this user may take the channel from this process.
    EXPECT_EQ(::prctl(PR_GET_DUMPABLE, 0, 0, 0, 0), 0);
    const int channel = stagerChannel();
    ASSERT_GE(channel, 0) << "no channel to the stager";
    const QByteArray checkout = QFile::encodeName(QDir::cleanPath(QStringLiteral(VTR_TEST_SOURCE_DIR "/..")));
    const qsizetype depth = checkout.count('/');
    for (const qsizetype up : {depth, depth + 2}) {
        QByteArray request = checkout;
        for (qsizetype i = 0; i < up; ++i) request += QByteArray("/..\0", 4);
        request += QFile::encodeName(standIns) + "/closed/secret";
        EXPECT_TRUE(ask(channel, request).startsWith("no ")) << up << " steps up";
    }
    QDirIterator copies(standIns, QDir::Files | QDir::NoSymLinks | QDir::Hidden, QDirIterator::Subdirectories);
    while (copies.hasNext())
        if (const QString copy = copies.next(); testenv::readFile(copy) == kSecret)
            ADD_FAILURE() << "root's file reached this user as " << copy.toStdString();
}

}  // namespace

// Root stages for the unprivileged user what it asks for, while that user
// does what it may to the folders it is given: no file outside the project's
// trees changes, or is copied out to it through a link in them.
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
        // to have staged, and a link out of the project's trees.
        QTemporaryDir closed(QCoreApplication::applicationDirPath() + QStringLiteral("/unprivileged-runs-XXXXXX"));
        ASSERT_TRUE(closed.isValid());
        testenv::writeFile(closed.path() + QStringLiteral("/closed.txt"), kProjectBytes);
        ASSERT_TRUE(QFile::setPermissions(closed.path() + QStringLiteral("/closed.txt"),
                                          QFileDevice::ReadOwner | QFileDevice::WriteOwner));
        ASSERT_TRUE(QFile::link(outside, closed.path() + QStringLiteral("/out")));

        qputenv(kRootFile, QFile::encodeName(rootFile));
        qputenv(kClosedFolder, QFile::encodeName(closed.path()));
        QString why;
        const testenv::Unprivileged outcome = testenv::runUnprivileged(&why);
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

    // A link in the project's trees leads nowhere outside them.
    EXPECT_TRUE(testenv::readFile(testenv::reachable(closed + QStringLiteral("/out/root-only"))).isEmpty());

    // The first folder the stager makes for the file, as a link to root's
    // file: in the staging folder, or in one of this user's own put in place
    // of it or of a folder above it.
    const QString project = closed + QStringLiteral("/closed.txt");
    const QString planted = staged + QLatin1Char('/') + project.section(QLatin1Char('/'), 1, 1);
    bool swapped = QFile::link(rootFile, planted);
    for (QString folder = staged; !swapped && folder != QFileInfo(folder).path(); folder = QFileInfo(folder).path())
        swapped = rename(folder, folder + QStringLiteral(".aside")) && QDir().mkpath(staged) &&
                  QFile::link(rootFile, planted);
    const QByteArray copy = testenv::readFile(testenv::reachable(project));
    // Staging goes on where the folders could not be taken.
    if (!swapped) {
        EXPECT_EQ(copy, kProjectBytes);
    }
}

// A request holding a NUL is checked as the kernel would read it, where each
// "..\0" is "..": root neither reads a file of its own for the unprivileged
// user, nor makes or changes a folder outside its staging tree.
TEST(UnprivilegedRuns, ARequestHoldingANulStaysInTheProjectAndTheStagingTree)
{
    const QString standIns = qEnvironmentVariable(kStandIns);
    if (standIns.isEmpty()) {
        if (::geteuid() != 0) GTEST_SKIP() << "only a test run as root stages files for the unprivileged user";
        runContained();
    } else if (::geteuid() == 0) {
        stageAgainstStandIns(standIns);
    } else {
        askThroughNuls(standIns);
    }
}
