// The old phone on USB: creation through the USB listener, its MTP connection
// on the simulated library (storage choice and switching), reachability and
// its notices, the folder layout, removal and the teardown of a phone whose
// MTP device is still copying on a worker.

#include "devices/mtp/MTPDevice.h"
#include "devices/phone/MobileDevice.h"
#include "devices/command/PlatformDevice.h"
#include "devices/mtp/sim/SimulatedMtpLibrary.h"
#include "devices/usb/FakeUdevSource.h"
#include "devices/usb/USBListener.h"
#include "fileinfo/VtrMacFileInfo.h"

#include "TestEnvironment.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>

using vtr::udev::FakeUdevSource;
using vtr::udev::UdevNode;

namespace {

const QString kBus = "/sys/devices/pci0000:00/0000:00:14.0/usb1";
constexpr quint16 kSamsung = 0x04e8;
constexpr quint16 kGalaxy = 0x6860;

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

void drainEvents()
{
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

struct Wizard : USBListenerDelegate, MobileDeviceDelegate
{
    std::vector<MobileDevice *> disconnected;
    // Dropped inside deviceWasDisconnected, as the controller does.
    std::shared_ptr<MobileDevice> held;
    void deviceWasDisconnected(MobileDevice *device) override
    {
        disconnected.push_back(device);
        if (held.get() == device) held.reset();
    }
};

// Counts a phone's notices and where they were emitted.
struct NoticeCounter
{
    explicit NoticeCounter(MobileDeviceInterface *device)
    {
        QObject::connect(device, &MobileDeviceInterface::isConnectedChanged, device, [this] { record(connected); });
        QObject::connect(device, &MobileDeviceInterface::hasMTPConnectionChanged, device, [this] { record(mtp); });
        QObject::connect(device, &MobileDeviceInterface::imageChanged, device, [this] { record(image); });
    }
    void record(int &counter)
    {
        ++counter;
        if (QThread::currentThread() != QCoreApplication::instance()->thread()) ++offMainThread;
    }
    int connected = 0;
    int mtp = 0;
    int image = 0;
    int offMainThread = 0;
};

class MobileDeviceTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        fake = std::make_shared<FakeUdevSource>();
        fake->addNode(FakeUdevSource::plainNode("/sys/devices/pci0000:00/0000:00:14.0", "pci"));
        fake->addNode(FakeUdevSource::plainNode(kBus, "usb", "usb_device"));
        vtr::udev::setDefaultSource(fake);
        listener = std::make_unique<USBListener>(&wizard, fake);
        ASSERT_TRUE(listener->startListeningForDevices(true, false));
        sim = std::make_shared<SimulatedMtpLibrary>();
    }
    void TearDown() override
    {
        // Phones go before the platform device they were given.
        wizard.held.reset();
        platform.reset();
        listener.reset();
        vtr::udev::setDefaultSource(nullptr);
        MobileDevice::setVolumeNameLookup(nullptr);
    }

    // A simulated MTP phone at bus 1, device `devnum`, with the given storages
    // (3 internal, 4 card) in this order.
    MtpSimPhone &addMtpPhone(uint8_t devnum, const std::vector<uint16_t> &storageTypes, quint16 product = kGalaxy)
    {
        MtpSimPhone &phone = sim->addPhone();
        MtpSimIdentity identity;
        identity.vendorId = kSamsung;
        identity.productId = product;
        identity.busLocation = 1;
        identity.devnum = devnum;
        identity.serialNumber = QStringLiteral("R58M%1").arg(devnum);
        phone.setIdentity(identity);
        for (uint16_t type : storageTypes) {
            MtpSimStorageSpec storage;
            storage.storageType = type;
            storage.capacity = 8ull << 30;
            storage.description = type == 4 ? "SD card" : "Phone";
            phone.addStorage(storage);
        }
        return phone;
    }

    UdevNode usbNode(const QString &sysname, quint16 vendor, quint16 product, int devnum,
                     const QString &productName = "SAMSUNG_Android", const QString &serial = "R58M1234")
    {
        UdevNode node = FakeUdevSource::usbDevice(kBus, sysname, vendor, product, productName, serial, 1, devnum);
        fake->plug(node);
        return node;
    }

    std::shared_ptr<MobileDevice> arrive(const UdevNode &node, const QVariantMap &entry = {})
    {
        const UsbDeviceHandle handle = vtr::usb::handleForNode(node);
        return MobileDevice::create(handle, listener.get(), handle.vendorID, handle.productID, handle.product, entry,
                                    &wizard, sim);
    }

    std::shared_ptr<FakeUdevSource> fake;
    Wizard wizard;
    std::unique_ptr<USBListener> listener;
    std::shared_ptr<SimulatedMtpLibrary> sim;
    // Outlives the test's phones (locals of the test body).
    std::unique_ptr<PlatformDevice> platform;
};

// ---------------------------------------------------------------------------
// Creation and identity
// ---------------------------------------------------------------------------

TEST_F(MobileDeviceTest, AnIPhoneKeepsItsIdentityAndNeverTouchesMtp)
{
    addMtpPhone(5, {3}, 0x12a8); // even an MTP device with similar IDs is not looked at
    const UdevNode node = usbNode("1-2", 1452, 0x12a8, 5, "iPhone", "f00dfeed");
    auto phone = arrive(node, {{"deviceName", "iPhone 4S"}});
    ASSERT_TRUE(phone);
    EXPECT_EQ(sim->callLog().size(), 0);
    EXPECT_EQ(phone->name(), "iPhone 4S");
    EXPECT_EQ(phone->serialNumber(), "f00dfeed");
    EXPECT_EQ(phone->deviceType(), MobileDeviceInterface::kDeviceTypeApple);
    EXPECT_FALSE(phone->isAndroidDevice());
    EXPECT_FALSE(phone->hasMTPConnection());
    EXPECT_FALSE(phone->isConnected());
    EXPECT_FALSE(phone->mtpUseInternalStorage());
}

TEST_F(MobileDeviceTest, FamiliesAndNames)
{
    const QVariantMap entry{{"deviceName", "Bold 9700"}};
    auto blackBerry = arrive(usbNode("1-3", 4042, 0x8004, 6), entry);
    ASSERT_TRUE(blackBerry);
    EXPECT_EQ(blackBerry->name(), "BlackBerry");
    EXPECT_EQ(blackBerry->deviceType(), MobileDeviceInterface::kDeviceTypeBlackBerry);
    EXPECT_TRUE(blackBerry->isBlackBerry());

    auto motorola = arrive(usbNode("1-4", 8888, 0x2e82, 7));
    ASSERT_TRUE(motorola);
    EXPECT_TRUE(motorola->name().isNull()); // the entry has no "deviceName"
    EXPECT_TRUE(motorola->isMotorolaDevice());
    EXPECT_TRUE(motorola->isAndroidDevice());
    EXPECT_FALSE(motorola->isWindowsPhone7Device());
}

TEST_F(MobileDeviceTest, MatchingByVendorProductAndProductString)
{
    auto phone = arrive(usbNode("1-2", kSamsung, kGalaxy, 5));
    ASSERT_TRUE(phone);
    const quint16 galaxy = kGalaxy;
    const quint16 other = 0x1234;
    EXPECT_TRUE(phone->matchesVendorID(kSamsung, nullptr, QString()));
    EXPECT_TRUE(phone->matchesVendorID(kSamsung, &galaxy, QString()));
    EXPECT_FALSE(phone->matchesVendorID(kSamsung, &other, QString()));
    EXPECT_FALSE(phone->matchesVendorID(1452, nullptr, QString()));
    EXPECT_TRUE(phone->matchesVendorID(kSamsung, &galaxy, "SAMSUNG_Android"));
    EXPECT_FALSE(phone->matchesVendorID(kSamsung, &galaxy, "samsung_android"));

    // A phone without a product string matches no given one, not even "".
    auto bare = arrive(usbNode("1-3", kSamsung, kGalaxy, 6, QString()));
    ASSERT_TRUE(bare);
    EXPECT_TRUE(bare->productString().isNull());
    EXPECT_FALSE(bare->matchesVendorID(kSamsung, nullptr, ""));
    EXPECT_TRUE(bare->matchesVendorID(kSamsung, nullptr, QString()));
}

TEST_F(MobileDeviceTest, CreationNeedsAWatchedRemoval)
{
    const UdevNode node = usbNode("1-2", kSamsung, kGalaxy, 5);
    const UsbDeviceHandle handle = vtr::usb::handleForNode(node);
    EXPECT_FALSE(MobileDevice::create(handle, nullptr, kSamsung, kGalaxy, QString(), {}, &wizard, sim));
    listener->stopListening();
    EXPECT_FALSE(arrive(node));
    EXPECT_EQ(sim->callLog().size(), 0);
}

// ---------------------------------------------------------------------------
// MTP set-up and storages
// ---------------------------------------------------------------------------

TEST_F(MobileDeviceTest, AnMtpPhoneStartsOnItsCardAndSwitches)
{
    MtpSimPhone &simPhone = addMtpPhone(5, {3, 4});
    const std::vector<uint32_t> storages = simPhone.storageIds();
    ASSERT_EQ(storages.size(), 2u);
    simPhone.addFile(storages[0], 0, "internal.txt", "in");
    simPhone.addFile(storages[1], 0, "card.txt", "card");

    auto phone = arrive(usbNode("1-2", kSamsung, kGalaxy, 5));
    ASSERT_TRUE(phone);
    ASSERT_TRUE(phone->hasMTPConnection());
    EXPECT_TRUE(phone->isConnected());
    EXPECT_EQ(phone->mtpDevice()->storageID(), storages[1]);
    EXPECT_TRUE(phone->mtpHasInternalStorage());
    EXPECT_TRUE(phone->mtpHasExternalStorage());

    platform = std::make_unique<PlatformDevice>();
    NoticeCounter notices(phone.get());
    phone->setPlatformDevice(platform.get());
    EXPECT_EQ(notices.connected, 1);
    EXPECT_TRUE(platform->isConnected());
    EXPECT_EQ(platform->mtp(), phone->mtpDevice());
    ASSERT_TRUE(platform->deviceFileInfoWithPath("E:\\card.txt"));
    EXPECT_TRUE(platform->deviceFileInfoWithPath("E:\\card.txt")->exists());

    // The platform device forgets the listings of the storage left.
    ASSERT_TRUE(phone->mtpUseInternalStorage());
    EXPECT_EQ(phone->mtpDevice()->storageID(), storages[0]);
    EXPECT_TRUE(platform->deviceFileInfoWithPath("E:\\internal.txt")->exists());
    EXPECT_FALSE(platform->deviceFileInfoWithPath("E:\\card.txt")->exists());
    ASSERT_TRUE(phone->mtpUseExternalStorage());
    EXPECT_EQ(phone->mtpDevice()->storageID(), storages[1]);
    EXPECT_TRUE(platform->deviceFileInfoWithPath("E:\\card.txt")->exists());
    phone.reset();

    // A phone without a card stays on its internal storage.
    MtpSimPhone &noCard = addMtpPhone(6, {3});
    auto internalOnly = arrive(usbNode("1-3", kSamsung, kGalaxy, 6));
    ASSERT_TRUE(internalOnly);
    EXPECT_FALSE(internalOnly->mtpHasExternalStorage());
    EXPECT_FALSE(internalOnly->mtpUseExternalStorage());
    EXPECT_EQ(internalOnly->mtpDevice()->storageID(), noCard.storageIds()[0]);
}

TEST_F(MobileDeviceTest, ThePhoneOpenedIsTheOneAtTheArrivedBusAndDeviceNumber)
{
    addMtpPhone(5, {3});
    MtpSimPhone &second = addMtpPhone(6, {3, 4});
    auto phone = arrive(usbNode("1-3", kSamsung, kGalaxy, 6));
    ASSERT_TRUE(phone);
    ASSERT_TRUE(phone->hasMTPConnection());
    EXPECT_EQ(sim->phoneForDevice(phone->mtpDevice()->mtpDevice()), &second);
    EXPECT_EQ(sim->callCount("LIBMTP_Open_Raw_Device_Uncached"), 1);

    // The first phone arrives too: it gets its own MTP device.
    auto first = arrive(usbNode("1-2", kSamsung, kGalaxy, 5));
    ASSERT_TRUE(first && first->hasMTPConnection());
    EXPECT_EQ(sim->phoneForDevice(first->mtpDevice()->mtpDevice()), &sim->phone(0));
}

TEST_F(MobileDeviceTest, WithoutABusPlaceTheFirstRawDeviceThatOpensIsUsed)
{
    addMtpPhone(5, {3});
    MtpSimPhone &second = addMtpPhone(6, {3});
    addMtpPhone(7, {3}, 0x1111); // other product: skipped
    ASSERT_TRUE(sim->failCall("LIBMTP_Open_Raw_Device_Uncached", 1));
    UdevNode node = usbNode("1-2", kSamsung, kGalaxy, 5);
    UsbDeviceHandle handle = vtr::usb::handleForNode(node);
    handle.busNumber = 0;
    handle.deviceNumber = 0;
    auto phone = MobileDevice::create(handle, listener.get(), kSamsung, kGalaxy, handle.product, {}, &wizard, sim);
    ASSERT_TRUE(phone);
    ASSERT_TRUE(phone->hasMTPConnection());
    EXPECT_EQ(sim->phoneForDevice(phone->mtpDevice()->mtpDevice()), &second);
}

TEST_F(MobileDeviceTest, MtpOutcomes)
{
    // Nothing detected: the phone exists without MTP.
    auto none = arrive(usbNode("1-2", kSamsung, kGalaxy, 5));
    ASSERT_TRUE(none);
    EXPECT_FALSE(none->hasMTPConnection());
    EXPECT_FALSE(none->isConnected());
    EXPECT_FALSE(none->mtpHasInternalStorage());

    // A detection error: the same.
    addMtpPhone(6, {3});
    ASSERT_TRUE(sim->failCall("LIBMTP_Detect_Raw_Devices"));
    auto failedDetection = arrive(usbNode("1-3", kSamsung, kGalaxy, 6));
    ASSERT_TRUE(failedDetection);
    EXPECT_FALSE(failedDetection->hasMTPConnection());

    // A phone that opens without storage (locked): no phone at all, and its
    // device is released again.
    addMtpPhone(7, {});
    EXPECT_FALSE(arrive(usbNode("1-4", kSamsung, kGalaxy, 7)));
    EXPECT_EQ(sim->openDeviceCount(), 0);
    // Its removal registration went with it.
    fake->unplug(kBus + "/1-4");
    drainEvents();
    EXPECT_TRUE(wizard.disconnected.empty());
}

// ---------------------------------------------------------------------------
// Reachability and notices
// ---------------------------------------------------------------------------

TEST_F(MobileDeviceTest, MountedPathsMakeThePhoneReachable)
{
    auto phone = arrive(usbNode("1-2", kSamsung, kGalaxy, 5));
    ASSERT_TRUE(phone);
    NoticeCounter notices(phone.get());

    phone->removeMountedPath("/media/a"); // no set yet: nothing
    phone->addMountedPath(QString());
    EXPECT_EQ(notices.connected, 0);

    phone->addMountedPath("/media/a");
    phone->addMountedPath("/media/b");
    phone->addMountedPath("/media/a");
    EXPECT_EQ(notices.connected, 3);
    EXPECT_TRUE(phone->isConnected());
    EXPECT_EQ(phone->mountedPaths(), (QStringList{"/media/a", "/media/b"}));
    EXPECT_TRUE(phone->hasMountedPath("/media/a"));
    EXPECT_FALSE(phone->hasMountedPath("/media/A"));

    phone->removeMountedPath("/media/a");
    EXPECT_EQ(notices.connected, 3); // one remains
    EXPECT_TRUE(phone->isConnected());
    phone->removeMountedPath("/media/b");
    EXPECT_EQ(notices.connected, 4);
    EXPECT_FALSE(phone->isConnected());
    EXPECT_EQ(notices.offMainThread, 0);
}

TEST_F(MobileDeviceTest, ChangesMadeOnAWorkerAreAnnouncedOnTheMainThread)
{
    auto phone = arrive(usbNode("1-2", kSamsung, kGalaxy, 5));
    ASSERT_TRUE(phone);
    NoticeCounter notices(phone.get());
    std::thread worker([&] {
        phone->addMountedPath("/media/a");
        phone->removeMountedPath("/media/a");
    });
    worker.join();
    EXPECT_EQ(notices.connected, 0); // not yet: queued to the main thread
    ASSERT_TRUE(waitUntil([&] { return notices.connected == 2; }));
    EXPECT_EQ(notices.offMainThread, 0);
    EXPECT_FALSE(phone->isConnected());
}

TEST_F(MobileDeviceTest, APlatformDeviceIsAttachedOnlyToAnMtpPhone)
{
    auto noMtp = arrive(usbNode("1-2", kSamsung, kGalaxy, 5));
    ASSERT_TRUE(noMtp);
    NoticeCounter noMtpNotices(noMtp.get());
    {
        PlatformDevice other;
        noMtp->setPlatformDevice(&other);
        EXPECT_EQ(noMtp->platformDevice(), nullptr);
        EXPECT_FALSE(other.isConnected());
        EXPECT_EQ(noMtpNotices.connected, 0);
    }

    addMtpPhone(6, {3});
    const QVariantMap entry{{"deviceName", "Galaxy"}};
    auto phone = arrive(usbNode("1-3", kSamsung, kGalaxy, 6), entry);
    ASSERT_TRUE(phone && phone->hasMTPConnection());
    NoticeCounter notices(phone.get());
    platform = std::make_unique<PlatformDevice>();
    phone->setPlatformDevice(platform.get());
    EXPECT_EQ(phone->platformDevice(), platform.get());
    EXPECT_EQ(platform->deviceConfiguration().value("deviceName"), "Galaxy");
    phone->setPlatformDevice(platform.get()); // the same again: nothing
    EXPECT_EQ(notices.connected, 1);
    phone->setPlatformDevice(nullptr);
    EXPECT_FALSE(platform->isConnected());
    EXPECT_EQ(phone->platformDevice(), nullptr);
    EXPECT_EQ(notices.connected, 2);
    EXPECT_TRUE(phone->isConnected()); // still on MTP
}

// ---------------------------------------------------------------------------
// Folders
// ---------------------------------------------------------------------------

TEST_F(MobileDeviceTest, MountedVolumesGiveTheStoragesAndAMotorolaVolumeIsPreferred)
{
    const QString first = testenv::makeTempDir("vol1");
    const QString moto = testenv::makeTempDir("vol2");
    MobileDevice::setVolumeNameLookup(
        [moto](const QString &path) { return path == moto ? "Motorola MB860" : "Generic Flash"; });
    auto phone = arrive(usbNode("1-2", 8888, 0x2e82, 5));
    ASSERT_TRUE(phone);
    EXPECT_EQ(phone->preferredStorageInfo(), nullptr); // no volume, no platform device
    EXPECT_EQ(phone->preferredMusicFolder(), nullptr);

    phone->addMountedPath(first);
    ASSERT_TRUE(phone->preferredStorageInfo());
    EXPECT_EQ(phone->preferredStorageInfo()->path(), first);
    phone->addMountedPath(moto);
    EXPECT_EQ(phone->preferredStorageInfo()->path(), moto);

    const VtrFileInfoList storages = phone->storageFileInfos();
    ASSERT_EQ(storages.size(), 2);
    EXPECT_EQ(storages[0]->path(), first);
    EXPECT_EQ(storages[1]->path(), moto);

    const VtrFileInfoPtr music = phone->preferredMusicFolder();
    ASSERT_TRUE(music);
    EXPECT_EQ(music->path(), moto + "/.solvennato/Vantrel/Music");
    EXPECT_TRUE(QFileInfo(music->path()).isDir());
    EXPECT_EQ(phone->preferredPhotosFolder()->path(), moto + "/.solvennato/Vantrel/Photos");
    EXPECT_EQ(phone->preferredMigrationExportFolder()->path(), moto + "/.solvennato");

    const VtrFileInfoList media = phone->mediaFolders();
    ASSERT_EQ(media.size(), 2);
    EXPECT_EQ(media[0]->path(), first + "/Vantrel");
    const VtrFileInfoList bookmarks = phone->bookmarkFolders();
    ASSERT_EQ(bookmarks.size(), 2);
    EXPECT_EQ(bookmarks[1]->path(), moto + "/Vantrel/Bookmark");
    EXPECT_TRUE(QFileInfo(bookmarks[0]->path()).isDir());

    // A file in the way: the answer is no folder, and the file stays.
    testenv::writeFile(first + "/.solvennato", "mine");
    phone->removeMountedPath(moto);
    const VtrFileInfoPtr blocked = phone->preferredMigrationExportFolder();
    ASSERT_TRUE(blocked);
    EXPECT_FALSE(blocked->isFolder());
    EXPECT_EQ(testenv::readFile(first + "/.solvennato"), QByteArray("mine"));
}

TEST_F(MobileDeviceTest, AnMtpPhoneKeepsItsFoldersOnTheStorageInUse)
{
    MtpSimPhone &simPhone = addMtpPhone(5, {3, 4});
    auto phone = arrive(usbNode("1-2", kSamsung, kGalaxy, 5));
    ASSERT_TRUE(phone);
    platform = std::make_unique<PlatformDevice>();
    phone->setPlatformDevice(platform.get());

    const VtrFileInfoPtr storage = phone->preferredStorageInfo();
    ASSERT_TRUE(storage);
    EXPECT_EQ(storage->path(), "E:\\");
    const VtrFileInfoPtr photos = phone->preferredPhotosFolder();
    ASSERT_TRUE(photos && photos->exists());
    EXPECT_TRUE(photos->path().startsWith("E:\\.solvennato\\Vantrel\\Photos"));
    const uint32_t card = simPhone.storageIds()[1];
    EXPECT_NE(simPhone.objectIdForPath(card, ".solvennato/Vantrel/Photos"), 0u);
    EXPECT_EQ(simPhone.objectIdForPath(simPhone.storageIds()[0], ".solvennato"), 0u);
    ASSERT_EQ(phone->storageFileInfos().size(), 1);
}

// ---------------------------------------------------------------------------
// Removal and teardown
// ---------------------------------------------------------------------------

TEST_F(MobileDeviceTest, RemovalTellsTheDelegateWhichMayDropThePhone)
{
    addMtpPhone(5, {3});
    const UdevNode node = usbNode("1-2", kSamsung, kGalaxy, 5);
    wizard.held = arrive(node);
    ASSERT_TRUE(wizard.held && wizard.held->hasMTPConnection());
    MobileDevice *const phone = wizard.held.get();
    EXPECT_EQ(sim->openDeviceCount(), 1);

    fake->unplug(node.syspath);
    ASSERT_TRUE(waitUntil([&] { return !wizard.disconnected.empty(); }));
    EXPECT_EQ(wizard.disconnected.front(), phone);
    EXPECT_FALSE(wizard.held);
    EXPECT_EQ(sim->openDeviceCount(), 0);
    EXPECT_EQ(sim->invalidHandleCallCount(), 0);
}

// Copies the phone file on a worker, slowly, and tells when it is under way.
struct SlowCopy : FileInfoCopyProgress
{
    std::atomic<int> blocks{0};
    bool copyingFile(const VtrFileInfoPtr &, const VtrFileInfoPtr &, float, void *) override
    {
        ++blocks;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return false;
    }
};

TEST_F(MobileDeviceTest, UnpluggingDuringACopyEndsTheCopyCleanlyBeforeTheHandleIsReleased)
{
    MtpSimPhone &simPhone = addMtpPhone(5, {3});
    MtpSimOptions options = simPhone.options();
    options.transferBlockSize = 16 * 1024;
    simPhone.setOptions(options);
    simPhone.addFileOfSize(simPhone.storageIds()[0], 0, "movie.mp4", 16 * 1024 * 1024);
    const UdevNode node = usbNode("1-2", kSamsung, kGalaxy, 5);
    wizard.held = arrive(node);
    ASSERT_TRUE(wizard.held);
    platform = std::make_unique<PlatformDevice>();
    wizard.held->setPlatformDevice(platform.get());

    const QString folder = testenv::makeTempDir("copy");
    const QString target = folder + "/movie.mp4";
    testenv::writeFile(target, "the old movie");
    const VtrFileInfoPtr source = platform->deviceFileInfoWithPath("E:\\movie.mp4");
    ASSERT_TRUE(source && source->exists());

    SlowCopy progress;
    std::atomic<int> result{1};
    std::thread worker([&] {
        result = platform->copyDeviceFile(source, VtrMacFileInfo::fileInfoWithPath(target), &progress, nullptr);
    });
    ASSERT_TRUE(waitUntil([&] { return progress.blocks.load() >= 3; }));

    fake->unplug(node.syspath);
    ASSERT_TRUE(waitUntil([&] { return !wizard.disconnected.empty(); }));
    EXPECT_FALSE(wizard.held); // torn down: the handle is released
    EXPECT_EQ(sim->openDeviceCount(), 0);
    worker.join();

    EXPECT_EQ(result.load(), -207);
    EXPECT_LT(progress.blocks.load(), 16 * 1024 / 16); // stopped well before the end
    EXPECT_EQ(testenv::readFile(target), QByteArray("the old movie"));
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden).size(), 1);
    EXPECT_EQ(sim->invalidHandleCallCount(), 0);
    EXPECT_EQ(sim->concurrentCallCount(), 0);

    // The platform device still answers, without a phone.
    EXPECT_FALSE(platform->isConnected());
    EXPECT_EQ(platform->mtpDevice(), nullptr);
    EXPECT_LT(platform->copyDeviceFile(source, VtrMacFileInfo::fileInfoWithPath(target), nullptr, nullptr), 0);
    EXPECT_EQ(sim->invalidHandleCallCount(), 0);
}

TEST_F(MobileDeviceTest, WritingAPhoneFileKeepsTheOldOneUntilTheNewOneHasArrived)
{
    MtpSimPhone &simPhone = addMtpPhone(5, {3});
    const uint32_t storage = simPhone.storageIds()[0];
    simPhone.addFile(storage, 0, "notes.txt", "old notes");
    auto phone = arrive(usbNode("1-2", kSamsung, kGalaxy, 5));
    ASSERT_TRUE(phone);
    platform = std::make_unique<PlatformDevice>();
    phone->setPlatformDevice(platform.get());

    const QString local = testenv::makeTempDir("send") + "/notes.txt";
    testenv::writeFile(local, "new notes");
    const VtrFileInfoPtr target = platform->deviceFileInfoWithPath("E:\\notes.txt");
    ASSERT_TRUE(target && target->exists());

    ASSERT_TRUE(sim->failCall("LIBMTP_Send_File_From_Handler"));
    EXPECT_NE(platform->copyDesktopFile(VtrMacFileInfo::fileInfoWithPath(local), target, nullptr, nullptr), 0);
    uint32_t id = simPhone.objectIdForPath(storage, "notes.txt");
    ASSERT_NE(id, 0u);
    EXPECT_EQ(simPhone.contents(id), QByteArray("old notes"));

    EXPECT_EQ(platform->copyDesktopFile(VtrMacFileInfo::fileInfoWithPath(local), target, nullptr, nullptr), 0);
    id = simPhone.objectIdForPath(storage, "notes.txt");
    ASSERT_NE(id, 0u);
    EXPECT_EQ(simPhone.contents(id), QByteArray("new notes"));
    EXPECT_EQ(simPhone.children(storage, 0).size(), 1u);
}

} // namespace
