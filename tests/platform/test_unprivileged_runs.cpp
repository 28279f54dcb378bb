#include "TestEnvironment.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <sys/stat.h>
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
