#include "TestEnvironment.h"
#include "platform/Folders.h"
#include "platform/MainThread.h"
#include "platform/Strings.h"
#include "platform/UserDefaults.h"
#include "platform/VtrException.h"

#include <QDir>
#include <QFile>
#include <QCoreApplication>
#include <QThread>

#include <gtest/gtest.h>
#include <sys/stat.h>

TEST(Folders, FollowTheXdgVariablesOfTheTestHome)
{
    const QString home = qEnvironmentVariable("HOME");
    EXPECT_EQ(platform::homeFolder(), home);
    EXPECT_EQ(platform::dataFolder(), home + "/.local/share/Solvenna to Windows Phone");
    EXPECT_EQ(platform::stateFolder(), home + "/.local/state/Solvenna to Windows Phone");
}

TEST(Folders, TemporaryFolderIsPrivateAndRefusesASymlink)
{
    const QString tmp = platform::temporaryFolder();
    struct stat st;
    ASSERT_EQ(::lstat(QFile::encodeName(tmp).constData(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    const QString elsewhere = testenv::makeTempDir("target");
    const QString planted = testenv::makeTempDir("planted") + "/tmp";
    ASSERT_TRUE(QFile::link(elsewhere, planted));
    platform::setTemporaryFolderOverride(planted);
    EXPECT_THROW(platform::temporaryFolder(), VtrException);
    platform::setTemporaryFolderOverride(QString());
    EXPECT_EQ(platform::temporaryFolder(), tmp);
}

TEST(Folders, ExistingFolderWithLooseModeIsTightened)
{
    const QString p = testenv::makeTempDir("loose") + "/priv";
    ASSERT_TRUE(QDir().mkpath(p));
    ::chmod(QFile::encodeName(p).constData(), 0755);
    EXPECT_TRUE(platform::ensurePrivateFolder(p));
    struct stat st;
    ::lstat(QFile::encodeName(p).constData(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST(UserDefaults, RegisteredValuesAnswerUntilAValueIsStored)
{
    platform::UserDefaults::setStoreFileForTesting(testenv::makeTempDir("defaults") + "/d.ini");
    EXPECT_FALSE(platform::UserDefaults::value("k").isValid());
    platform::UserDefaults::registerDefaults({{"k", 1}});
    EXPECT_EQ(platform::UserDefaults::value("k").toInt(), 1);
    platform::UserDefaults::setValue("k", 5);
    EXPECT_EQ(platform::UserDefaults::value("k").toInt(), 5);
    platform::UserDefaults::remove("k");
    EXPECT_EQ(platform::UserDefaults::value("k").toInt(), 1);
    platform::UserDefaults::setStoreFileForTesting(QString());
}

TEST(MainThread, RunsOnTheMainThreadAndCarriesExceptionsBack)
{
    bool ranOnMain = false;
    bool caught = false;
    QThread *worker = QThread::create([&] {
        platform::runOnMainAndWait([&] { ranOnMain = platform::isMainThread(); });
        try {
            platform::runOnMainAndWait([] { throw VtrException("X", "why"); });
        } catch (const VtrException &e) {
            caught = e.name() == "X" && e.reason() == "why";
        }
    });
    worker->start();
    while (!worker->isFinished()) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    worker->wait();
    delete worker;
    EXPECT_TRUE(ranOnMain);
    EXPECT_TRUE(caught);
}

TEST(Strings, KeyIsItsOwnDefaultUntilATableReplacesIt)
{
    EXPECT_EQ(vtrLocalized("Quit"), "Quit");
    platform::setStringTable({{"Quit", "Beenden"}});
    EXPECT_EQ(vtrLocalized("Quit"), "Beenden");
    platform::setStringTable({});
    EXPECT_EQ(vtrLocalized(QStringLiteral("Quit")), "Quit");
}
