// The new-phone target (a folder tree in the home folder) and the proxy that
// stands in front of the old phone.

#include "devices/phone/MobileDeviceProxy.h"
#include "devices/command/PlatformDevice.h"
#include "devices/phone/WindowsPhone7LocalDevice.h"
#include "platform/Folders.h"

#include "TestEnvironment.h"
#include "TestFolders.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QThread>

#include <gtest/gtest.h>

#include <functional>
#include <unistd.h>
#include <thread>

namespace {

bool waitUntil(const std::function<bool()> &done, int timeoutMs = 60000)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

class TargetTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        home = testenv::makeTempDir(QStringLiteral("home"));
        platform::setHomeFolderOverride(home);
        storage = home + QStringLiteral("/Solvenna to Windows Phone");
    }
    void TearDown() override { platform::setHomeFolderOverride(QString()); }

    QString home;
    QString storage;
};

TEST_F(TargetTest, TheNewPhoneIsAFolderTreeInTheHomeFolder)
{
    auto target = WindowsPhone7LocalDevice::create(QVariantMap(), nullptr);
    EXPECT_EQ(target->name(), QStringLiteral("Windows Phone 7"));
    EXPECT_EQ(target->vendorID(), 0);
    EXPECT_EQ(target->productID(), 0);
    EXPECT_EQ(target->deviceType(), MobileDeviceInterface::kDeviceTypeWindowsPhone7);
    EXPECT_TRUE(target->isWindowsPhone7Device());
    EXPECT_FALSE(target->isAndroidDevice());
    EXPECT_TRUE(target->isConnected());
    EXPECT_FALSE(target->hasMTPConnection());
    EXPECT_FALSE(QFileInfo::exists(storage)); // nothing made before it is asked for

    const VtrFileInfoList storages = target->storageFileInfos();
    ASSERT_EQ(storages.size(), 1);
    EXPECT_EQ(storages[0]->path(), storage);
    EXPECT_TRUE(QFileInfo(storage).isDir());
    EXPECT_EQ(target->preferredStorageInfo()->path(), storage);
    EXPECT_EQ(target->preferredMediaFolder()->path(), storage);

    const QStringList names{QStringLiteral("Migration Info"), QStringLiteral("Music"),  QStringLiteral("Playlists"),
                            QStringLiteral("Photos"),         QStringLiteral("Videos"), QStringLiteral("Bookmark")};
    const VtrFileInfoList folders{target->preferredMigrationExportFolder(), target->preferredMusicFolder(),
                                  target->preferredPlaylistsFolder(),       target->preferredPhotosFolder(),
                                  target->preferredVideosFolder(),          target->bookmarkFolders().value(0)};
    for (int i = 0; i < names.size(); ++i) {
        ASSERT_TRUE(folders[i]) << qPrintable(names[i]);
        EXPECT_EQ(folders[i]->path(), storage + QLatin1Char('/') + names[i]);
        EXPECT_TRUE(folders[i]->isFolder()) << qPrintable(names[i]);
    }
    EXPECT_EQ(QDir(storage).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size(), names.size());
    ASSERT_EQ(target->mediaFolders().size(), 1);
    EXPECT_EQ(target->mediaFolders()[0]->path(), storage);
    ASSERT_EQ(target->bookmarkFolders().size(), 1);

    // Asked again: the same folders, nothing lost.
    testenv::writeFile(storage + QStringLiteral("/Music/song.mp3"), "la");
    EXPECT_EQ(target->preferredMusicFolder()->path(), storage + QStringLiteral("/Music"));
    EXPECT_EQ(testenv::readFile(storage + QStringLiteral("/Music/song.mp3")), QByteArray("la"));

    // Never attached to a platform device: it has no MTP connection.
    PlatformDevice platform;
    target->setPlatformDevice(&platform);
    EXPECT_EQ(target->platformDevice(), nullptr);
    EXPECT_FALSE(platform.isConnected());
}

TEST_F(TargetTest, FilesInTheWayAreNeitherFoldersNorLost)
{
    auto target = WindowsPhone7LocalDevice::create(QVariantMap(), nullptr);
    testenv::writeFile(storage + QStringLiteral("/Music"), "not a folder");
    const VtrFileInfoPtr music = target->preferredMusicFolder();
    ASSERT_TRUE(music);
    EXPECT_FALSE(music->isFolder());
    EXPECT_EQ(testenv::readFile(storage + QStringLiteral("/Music")), QByteArray("not a folder"));
    EXPECT_TRUE(target->preferredPhotosFolder()->isFolder());

    testenv::removeTree(storage);
    testenv::writeFile(storage, "the storage is a file");
    const VtrFileInfoPtr root = target->preferredStorageInfo();
    ASSERT_TRUE(root);
    EXPECT_FALSE(root->isFolder());
    // Nothing is made beside it in the home folder either.
    const VtrFileInfoPtr photos = target->preferredPhotosFolder();
    ASSERT_TRUE(photos);
    EXPECT_FALSE(photos->exists());
    EXPECT_FALSE(target->preferredMigrationExportFolder()->exists());
    EXPECT_FALSE(target->bookmarkFolders().value(0)->exists());
    EXPECT_EQ(QDir(home).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{QStringLiteral("Solvenna to Windows Phone")});
    EXPECT_EQ(testenv::readFile(storage), QByteArray("the storage is a file"));

    // A link of the person's in place of a folder, or another user's folder,
    // is not handed out as the new phone's: what it holds stays as it is.
    ASSERT_TRUE(QFile::remove(storage));
    const QString mine = home + QStringLiteral("/Music");
    testenv::writeFile(mine + QStringLiteral("/mine.mp3"), "mine");
    ASSERT_TRUE(QDir().mkpath(storage));
    ASSERT_TRUE(QFile::link(mine, storage + QStringLiteral("/Music")));
    EXPECT_FALSE(target->preferredMusicFolder());
    EXPECT_TRUE(target->preferredVideosFolder()->isFolder());
    EXPECT_EQ(QDir(mine).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList{"mine.mp3"});
    if (::geteuid() == 0) {  // only root can give a folder away
        ASSERT_EQ(::chown(QFile::encodeName(storage + QStringLiteral("/Videos")).constData(), 65534, 65534), 0);
        EXPECT_FALSE(target->preferredVideosFolder());
    }
}

// ---------------------------------------------------------------------------
// The proxy
// ---------------------------------------------------------------------------

TEST_F(TargetTest, AProxyWithoutAPhoneAnswersNil)
{
    MobileDeviceProxy proxy;
    const quint16 product = 0;
    EXPECT_EQ(proxy.object(), nullptr);
    EXPECT_EQ(proxy.vendorID(), 0);
    EXPECT_EQ(proxy.productID(), 0);
    EXPECT_TRUE(proxy.productString().isNull());
    EXPECT_TRUE(proxy.serialNumber().isNull());
    EXPECT_TRUE(proxy.name().isNull());
    EXPECT_TRUE(proxy.info().isEmpty());
    EXPECT_EQ(proxy.delegate(), nullptr);
    EXPECT_EQ(proxy.deviceType(), 0);
    EXPECT_FALSE(proxy.isAndroidDevice() || proxy.isAppleDevice() || proxy.isBlackBerry() || proxy.isMotorolaDevice() ||
                 proxy.isWindowsPhone7Device());
    EXPECT_FALSE(proxy.matchesVendorID(0, &product, QString()));
    EXPECT_FALSE(proxy.isConnected());
    EXPECT_FALSE(proxy.hasMTPConnection());
    EXPECT_FALSE(proxy.hasMountedPath(QStringLiteral("/media/a")));
    EXPECT_FALSE(proxy.mtpHasInternalStorage() || proxy.mtpHasExternalStorage());
    EXPECT_FALSE(proxy.mtpUseInternalStorage() || proxy.mtpUseExternalStorage());
    EXPECT_FALSE(proxy.mtpPlaylists());
    EXPECT_EQ(proxy.platformDevice(), nullptr);
    EXPECT_TRUE(proxy.storageFileInfos().isEmpty());
    EXPECT_EQ(proxy.preferredStorageInfo(), nullptr);
    EXPECT_EQ(proxy.preferredMigrationExportFolder(), nullptr);
    EXPECT_EQ(proxy.preferredMediaFolder(), nullptr);
    EXPECT_EQ(proxy.preferredMusicFolder(), nullptr);
    EXPECT_EQ(proxy.preferredPlaylistsFolder(), nullptr);
    EXPECT_EQ(proxy.preferredPhotosFolder(), nullptr);
    EXPECT_EQ(proxy.preferredVideosFolder(), nullptr);
    EXPECT_TRUE(proxy.mediaFolders().isEmpty());
    EXPECT_TRUE(proxy.bookmarkFolders().isEmpty());
    EXPECT_TRUE(proxy.image().isNull());
    EXPECT_EQ(proxy.camera(), nullptr);
    // Orders go nowhere.
    proxy.setName(QStringLiteral("x"));
    proxy.addMountedPath(QStringLiteral("/media/a"));
    proxy.removeMountedPath(QStringLiteral("/media/a"));
    proxy.setPlatformDevice(nullptr);
    proxy.setCamera(nullptr);
    proxy.setDelegate(nullptr);
    EXPECT_FALSE(QFileInfo::exists(storage));
}

TEST_F(TargetTest, TheProxyForwardsAndFollowsThePhoneItPointsAt)
{
    auto phone = WindowsPhone7LocalDevice::create(QVariantMap{{QStringLiteral("k"), 1}}, nullptr);
    auto proxy = std::make_shared<MobileDeviceProxy>();
    std::shared_ptr<MobileDeviceInterface> asPhone = proxy; // usable wherever a phone is expected
    int objectChanges = 0, connectedChanges = 0;
    QObject::connect(proxy.get(), &MobileDeviceProxy::objectChanged, [&] { ++objectChanges; });
    QObject::connect(proxy.get(), &MobileDeviceInterface::isConnectedChanged, [&] { ++connectedChanges; });

    proxy->setObject(phone);
    EXPECT_EQ(objectChanges, 1);
    EXPECT_EQ(connectedChanges, 1);
    proxy->setObject(phone); // the same: no notice
    EXPECT_EQ(objectChanges, 1);
    EXPECT_EQ(asPhone->deviceType(), MobileDeviceInterface::kDeviceTypeWindowsPhone7);
    EXPECT_TRUE(asPhone->isConnected());
    EXPECT_EQ(asPhone->info().value(QStringLiteral("k")), 1);
    EXPECT_EQ(asPhone->preferredPhotosFolder()->path(), storage + QStringLiteral("/Photos"));
    asPhone->setName(QStringLiteral("Lumia"));
    EXPECT_EQ(phone->name(), QStringLiteral("Lumia"));
    asPhone->addMountedPath(QStringLiteral("/media/x"));
    EXPECT_TRUE(phone->hasMountedPath(QStringLiteral("/media/x")));
    EXPECT_EQ(connectedChanges, 2); // the phone's notice, re-emitted

    proxy->setObject(nullptr);
    EXPECT_EQ(objectChanges, 2);
    EXPECT_EQ(connectedChanges, 3);
    phone->removeMountedPath(QStringLiteral("/media/x")); // not the proxy's phone any more
    EXPECT_EQ(connectedChanges, 3);
    EXPECT_FALSE(asPhone->isConnected());
}

TEST_F(TargetTest, APhoneLetGoOnAWorkerIsDestroyedOnTheMainThread)
{
    auto phone = WindowsPhone7LocalDevice::create(QVariantMap(), nullptr);
    bool destroyed = false;
    bool onMain = false;
    QObject::connect(phone.get(), &QObject::destroyed, [&] {
        destroyed = true;
        onMain = QThread::currentThread() == QCoreApplication::instance()->thread();
    });
    MobileDeviceProxy proxy;
    proxy.setObject(phone);
    phone.reset();
    int notices = 0;
    QObject::connect(&proxy, &MobileDeviceProxy::objectChanged, &proxy, [&] {
        ++notices;
        EXPECT_EQ(QThread::currentThread(), QCoreApplication::instance()->thread());
    });
    std::thread worker([&] {
        EXPECT_TRUE(proxy.isConnected());
        proxy.setObject(nullptr);
    });
    worker.join();
    EXPECT_FALSE(destroyed);
    ASSERT_TRUE(waitUntil([&] { return destroyed && notices == 1; }));
    EXPECT_TRUE(onMain);
}

} // namespace
