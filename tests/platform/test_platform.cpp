#include "TestEnvironment.h"
#include "platform/Folders.h"
#include "platform/MainThread.h"
#include "platform/Strings.h"
#include "platform/UserDefaults.h"
#include "platform/VtrException.h"

#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QScopeGuard>
#include <QCoreApplication>
#include <QThread>

#include <gtest/gtest.h>
#include <cerrno>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

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

// Everything kept in the data folder goes through one opening of it: the
// folder it lies in is the person's and may be a link, the data folder and
// its files are ours. A link or another user's item in their place is used
// neither for reading nor for writing.
TEST(Folders, TheDataFolderIsOursWhateverTheFolderItLiesInIs)
{
    const QString real = testenv::makeTempDir(QStringLiteral("disk"));
    const QString share = testenv::makeTempDir(QStringLiteral("local")) + QStringLiteral("/share");
    ASSERT_TRUE(QFile::link(real, share));
    platform::setDataFolderOverride(share + QStringLiteral("/data"));
    const auto restore = qScopeGuard([] { platform::setDataFolderOverride({}); });
    int fd = platform::openDataFolder({QStringLiteral("Copy records")});
    ASSERT_GE(fd, 0) << "a link of the person's for the folder it lies in is taken as it is";
    ::close(fd);
    testenv::writeFile(real + QStringLiteral("/data/list.json"), "{}");
    int code = 0;
    EXPECT_EQ(platform::readDataFile({}, QStringLiteral("list.json"), 100), QByteArray("{}"));
    EXPECT_FALSE(platform::readDataFile({}, QStringLiteral("list.json"), 1, nullptr, &code)) << "larger than allowed";
    EXPECT_FALSE(platform::readDataFile({}, QStringLiteral("none.json"), 100, nullptr, &code));
    EXPECT_EQ(code, ENOENT);
    const QString notes = real + QStringLiteral("/notes.txt");
    testenv::writeFile(notes, "the person's notes");
    ASSERT_TRUE(QFile::link(notes, real + QStringLiteral("/data/linked.json")));
    EXPECT_FALSE(platform::readDataFile({}, QStringLiteral("linked.json"), 100, nullptr, &code));
    EXPECT_EQ(code, EPERM);
    // Only root can leave a file of another user's.
    const uid_t other = ::geteuid() == 65534 ? 65533 : 65534;
    if (::chown(QFile::encodeName(real + QStringLiteral("/data/list.json")).constData(), other, other) == 0)
        EXPECT_FALSE(platform::readDataFile({}, QStringLiteral("list.json"), 100));
    // The data folder itself a link: neither read, written nor made through.
    ASSERT_TRUE(QDir().rename(real + QStringLiteral("/data"), real + QStringLiteral("/aside")));
    ASSERT_TRUE(QFile::link(real + QStringLiteral("/aside"), real + QStringLiteral("/data")));
    QString why;
    EXPECT_LT(platform::openDataFolder({QStringLiteral("Images")}, &why), 0);
    EXPECT_TRUE(why.endsWith(QStringLiteral("/data is a link"))) << why.toStdString();
    EXPECT_LT(platform::openDataFolder({}, false), 0);
    EXPECT_FALSE(platform::readDataFile({QStringLiteral("Copy records")}, QStringLiteral("x"), 100, nullptr, &code));
    EXPECT_EQ(code, EPERM);
    EXPECT_FALSE(QFileInfo::exists(real + QStringLiteral("/aside/Images")));
}

// The temporary folder is reached from a cache folder of its own, given to
// the functions through XDG_CACHE_HOME (put back afterwards).
class OwnCacheFolders : public ::testing::Test
{
protected:
    void TearDown() override { qputenv("XDG_CACHE_HOME", m_before); }
    // A fresh cache folder, made the current one.
    QString freshCache()
    {
        const QString cache = testenv::makeTempDir("cache");
        qputenv("XDG_CACHE_HOME", QFile::encodeName(cache));
        return cache;
    }
    static bool chownToAnotherUser(const QString &path)
    {
        return ::lchown(QFile::encodeName(path).constData(), 65534, 65534) == 0;
    }

private:
    QByteArray m_before = qgetenv("XDG_CACHE_HOME");
};

// A person's files whose names look like ours, in a "tmp" of theirs.
const QStringList kLookalikes = {"backup-2019 photos/IMG_0001.jpg", "playlist-summer.m3u8", "phonefile-notes.txt",
                                 "Solvenna to Windows Phone 2012/letter.txt"};
void plantLookalikes(const QString &folder)
{
    for (const QString &name : kLookalikes) testenv::writeFile(folder + "/tmp/" + name, "the person's");
}

TEST_F(OwnCacheFolders, LeftoversAreClearedOnlyThroughRealFoldersOfThisUser)
{
    // Nothing there: nothing made.
    const QString empty = freshCache();
    EXPECT_EQ(platform::removeLeftoversOfEarlierRuns().removed, 0);
    EXPECT_FALSE(QFileInfo::exists(empty + "/Solvenna to Windows Phone"));

    // Made private at each step of ours, and cleared of our names only.
    const QString cache = freshCache();
    ASSERT_EQ(platform::temporaryFolder(), cache + "/Solvenna to Windows Phone/tmp");
    for (const QString &step : {cache + "/Solvenna to Windows Phone", cache + "/Solvenna to Windows Phone/tmp"}) {
        struct stat st;
        ASSERT_EQ(::lstat(QFile::encodeName(step).constData(), &st), 0);
        EXPECT_TRUE(S_ISDIR(st.st_mode)) << qPrintable(step);
        EXPECT_EQ(st.st_mode & 0777, 0700u) << qPrintable(step);
    }
    const QString tmp = platform::temporaryFolder();
    testenv::writeFile(tmp + "/backup-AbC123/Manifest.db", "x");
    testenv::writeFile(tmp + "/not ours.txt", "another program's");
    EXPECT_EQ(platform::removeLeftoversOfEarlierRuns().removed, 2);
    EXPECT_FALSE(QFileInfo::exists(tmp + "/backup-AbC123"));
    EXPECT_TRUE(QFileInfo::exists(tmp + "/not ours.txt"));

    // A link or another user's folder at either step of ours: neither
    // cleared nor used, and the person's files stay.
    const bool root = ::geteuid() == 0;
    const struct
    {
        const char *what;
        bool needsRoot;
        std::function<QString(const QString &cache)> plant;  // answers the folder whose "tmp" must stay whole
    } cases[] = {
        {"a link to a folder of the person's in place of ours", false,
         [](const QString &cache) {
             const QString person = testenv::makeTempDir("person");
             plantLookalikes(person);
             EXPECT_TRUE(QFile::link(person, cache + "/Solvenna to Windows Phone"));
             return person;
         }},
        {"a link in place of tmp", false,
         [](const QString &cache) {
             const QString person = testenv::makeTempDir("person");
             plantLookalikes(person);
             EXPECT_TRUE(QDir().mkpath(cache + "/Solvenna to Windows Phone"));
             EXPECT_TRUE(QFile::link(person + "/tmp", cache + "/Solvenna to Windows Phone/tmp"));
             return person;
         }},
        {"another user's folder in place of ours", true,
         [](const QString &cache) {
             const QString app = cache + "/Solvenna to Windows Phone";
             plantLookalikes(app);
             EXPECT_TRUE(chownToAnotherUser(app));
             return app;
         }},
        {"another user's tmp", true,
         [](const QString &cache) {
             const QString app = cache + "/Solvenna to Windows Phone";
             plantLookalikes(app);
             EXPECT_TRUE(chownToAnotherUser(app + "/tmp"));
             return app;
         }},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        if (c.needsRoot && !root) continue;  // only root can give a folder away
        const QString folder = c.plant(freshCache());
        const platform::TemporaryRemoval removal = platform::removeLeftoversOfEarlierRuns();
        EXPECT_EQ(removal.removed, 0);
        for (const QString &name : kLookalikes)
            EXPECT_EQ(testenv::readFile(folder + "/tmp/" + name), QByteArray("the person's")) << qPrintable(name);
        EXPECT_THROW(platform::temporaryFolder(), VtrException);
    }
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
