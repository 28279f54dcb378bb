// The phone's command interface used by a worker while the main thread
// unplugs the phone and tears it down: listings, folder changes, device
// information and configuration, and copies of a large file race with the
// teardown's detach and disconnect, many times over, on the simulated MTP
// library. Run under AddressSanitizer and ThreadSanitizer as well.

#include "devices/AppFlags.h"
#include "devices/mtp/MTPDevice.h"
#include "devices/phone/MobileDevice.h"
#include "devices/command/PlatformDevice.h"
#include "devices/mtp/sim/SimulatedMtpLibrary.h"
#include "devices/usb/FakeUdevSource.h"
#include "devices/usb/USBListener.h"
#include "devices/usb/UsbDeviceHandle.h"
#include "fileinfo/VtrMacFileInfo.h"
#include "platform/UserDefaults.h"
#include "platform/VtrException.h"

#include "TestEnvironment.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

using vtr::udev::FakeUdevSource;
using vtr::udev::UdevNode;

namespace {

const QString kBus = "/sys/devices/pci0000:00/0000:00:14.0/usb1";
constexpr quint16 kSamsung = 0x04e8;
constexpr quint16 kGalaxy = 0x6860;
// Blocks of the large file's transfer.
constexpr uint32_t kBlock = 16 * 1024;
// Long enough (a millisecond a block) that a loaded machine still tears the phone
// down well before half of it is copied.
constexpr int kMovieBlocks = 4096;

bool waitUntil(const std::function<bool()> &done, int timeoutMs = 20000)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

struct Wizard : USBListenerDelegate, MobileDeviceDelegate
{
    // A phone must go before the platform device it was given, also when a
    // test stops early.
    struct DropPhoneFirst
    {
        Wizard &wizard;
        ~DropPhoneFirst() { wizard.held.reset(); }
    };

    // Dropped when the phone goes, as the controller does.
    std::shared_ptr<MobileDevice> held;
    std::atomic<int> disconnects{0};
    void deviceWasDisconnected(MobileDevice *device) override
    {
        ++disconnects;
        if (held.get() == device) held.reset();
    }
};

// Counts the blocks of the copy under way; slow enough that a copy lasts
// hundreds of milliseconds.
struct CopyProgress : FileInfoCopyProgress
{
    std::atomic<int> blocks{0};
    bool copyingFile(const VtrFileInfoPtr &, const VtrFileInfoPtr &, float, void *) override
    {
        ++blocks;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return false;
    }
};

// Runs `body` on a thread of its own until told to stop; every failure of the
// body (a disconnected phone raises) is counted, never fatal.
class Worker
{
public:
    explicit Worker(std::function<void(int round)> body) : m_body(std::move(body))
    {
        m_thread = std::thread([this] {
            for (int round = 0; !m_stop.load(); ++round) {
                try {
                    m_body(round);
                } catch (const VtrException &) {
                    ++failures;
                } catch (...) {
                    ++unexpected;
                }
                ++rounds;
            }
            m_done.store(true);
        });
    }
    ~Worker() { stopAndJoin(); }

    // The worker may be waiting for the main thread: its events run meanwhile.
    void stopAndJoin()
    {
        if (!m_thread.joinable()) return;
        m_stop.store(true);
        EXPECT_TRUE(waitUntil([&] { return m_done.load(); }));
        m_thread.join();
    }

    std::atomic<int> rounds{0};
    std::atomic<int> failures{0};
    std::atomic<int> unexpected{0};

private:
    std::function<void(int)> m_body;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_done{false};
    std::thread m_thread;
};

class PlatformDeviceThreads : public ::testing::Test
{
protected:
    void SetUp() override
    {
        SetMTPAccessDisabled(false);
        platform::UserDefaults::setStoreFileForTesting(testenv::makeTempDir("defaults") + "/defaults.ini");
        fake = std::make_shared<FakeUdevSource>();
        fake->addNode(FakeUdevSource::plainNode("/sys/devices/pci0000:00/0000:00:14.0", "pci"));
        fake->addNode(FakeUdevSource::plainNode(kBus, "usb", "usb_device"));
        vtr::udev::setDefaultSource(fake);
        listener = std::make_unique<USBListener>(&wizard, fake);
        ASSERT_TRUE(listener->startListeningForDevices(true, false));
    }
    void TearDown() override
    {
        wizard.held.reset();
        listener.reset();
        vtr::udev::setDefaultSource(nullptr);
    }

    // A simulated phone at bus 1 device `devnum` with a card holding music,
    // photos and a movie of kMovieBlocks blocks; plugged in and arrived.
    std::shared_ptr<MobileDevice> arrivePhone(const std::shared_ptr<SimulatedMtpLibrary> &sim, int devnum,
                                              UdevNode *nodeOut)
    {
        MtpSimPhone &phone = sim->addPhone();
        MtpSimIdentity identity;
        identity.vendorId = kSamsung;
        identity.productId = kGalaxy;
        identity.busLocation = 1;
        identity.devnum = uint8_t(devnum);
        identity.serialNumber = QStringLiteral("R58M%1").arg(devnum);
        phone.setIdentity(identity);
        MtpSimStorageSpec storage;
        storage.storageType = 4;
        storage.capacity = 8ull << 30;
        storage.description = "SD card";
        const uint32_t card = phone.addStorage(storage);
        MtpSimOptions options = phone.options();
        options.transferBlockSize = kBlock;
        phone.setOptions(options);
        const uint32_t music = phone.addFolder(card, 0, "Music");
        for (int i = 0; i < 12; ++i)
            phone.addFile(card, music, QStringLiteral("track %1.mp3").arg(i, 2, 10, QLatin1Char('0')), "ID3 tag");
        const uint32_t photos = phone.addFolder(card, 0, "Photos");
        for (int i = 0; i < 8; ++i)
            phone.addFile(card, photos, QStringLiteral("IMG_%1.jpg").arg(i), "JFIF");
        phone.addFileOfSize(card, 0, "movie.mp4", qint64(kMovieBlocks) * kBlock);

        const UdevNode node = FakeUdevSource::usbDevice(kBus, QStringLiteral("1-%1").arg(devnum), kSamsung, kGalaxy,
                                                        "SAMSUNG_Android", identity.serialNumber, 1, devnum);
        fake->plug(node);
        if (nodeOut) *nodeOut = node;
        const UsbDeviceHandle handle = vtr::usb::handleForNode(node);
        return MobileDevice::create(handle, listener.get(), handle.vendorID, handle.productID, handle.product,
                                    {{"deviceName", "Galaxy"}}, &wizard, sim);
    }

    // Unplugs the phone the wizard holds and waits until it has been torn down.
    void unplugAndTearDown(const UdevNode &node)
    {
        const std::weak_ptr<MobileDevice> phone = wizard.held;
        const int before = wizard.disconnects.load();
        fake->unplug(node.syspath);
        ASSERT_TRUE(waitUntil([&] { return wizard.disconnects.load() > before && phone.expired(); }));
    }

    std::shared_ptr<FakeUdevSource> fake;
    Wizard wizard;
    std::unique_ptr<USBListener> listener;
};

TEST_F(PlatformDeviceThreads, UnpluggingWhileAWorkerListsAndChangesFoldersIsSafe)
{
    constexpr int kRounds = 40;
    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE(round);
        auto sim = std::make_shared<SimulatedMtpLibrary>();
        UdevNode node;
        wizard.held = arrivePhone(sim, 2 + round, &node);
        ASSERT_TRUE(wizard.held && wizard.held->hasMTPConnection());
        auto device = std::make_unique<PlatformDevice>();
        const Wizard::DropPhoneFirst dropPhone{wizard};
        wizard.held->setPlatformDevice(device.get());
        ASSERT_TRUE(device->isConnected());
        const QVariantMap configuration = device->deviceConfiguration();

        PlatformDevice *const platformDevice = device.get();
        Worker worker([platformDevice, configuration](int step) {
            // Every kind of cache use: fresh and cached listings, items made,
            // renamed and removed in cached folders, drives, the phone's
            // information, and a configuration that writes the content
            // revision on the main thread.
            switch (step % 8) {
            case 0:
                for (const VtrFileInfoPtr &item : platformDevice->contentsOfFolderWithPath("E:\\Music"))
                    (void)item->size();
                break;
            case 1:
                (void)platformDevice->deviceFileInfoWithPathUseCache("E:\\Photos\\IMG_3.jpg", false);
                (void)platformDevice->deviceFileInfoWithPath("E:\\Music\\track 07.mp3");
                break;
            case 2:
                (void)platformDevice->createFolderWithPath(QStringLiteral("E:\\Music\\new %1").arg(step));
                break;
            case 3:
                (void)platformDevice->renameFileWithPath(QStringLiteral("E:\\Music\\new %1").arg(step - 1),
                                                         QStringLiteral("renamed %1").arg(step));
                break;
            case 4:
                (void)platformDevice->removeFolderWithPath(QStringLiteral("E:\\Music\\renamed %1").arg(step - 1));
                break;
            case 5:
                (void)platformDevice->drivesInfo();
                (void)platformDevice->cardInfo();
                break;
            case 6:
                (void)platformDevice->getDeviceName();
                (void)platformDevice->isContentRevisionEqual();
                break;
            default:
                platformDevice->setDeviceConfiguration(configuration);
                break;
            }
        });
        // The unplug falls into a different operation from round to round.
        const int startedRounds = 1 + round % 11;
        ASSERT_TRUE(waitUntil([&] { return worker.rounds.load() >= startedRounds; }));
        unplugAndTearDown(node);
        EXPECT_FALSE(device->isConnected());
        EXPECT_EQ(device->mtpDevice(), nullptr);

        // The worker goes on against a phone that is gone: it fails, quickly,
        // and nothing of the old phone comes back into the caches.
        const int roundsAtTeardown = worker.rounds.load();
        EXPECT_TRUE(waitUntil([&] { return worker.rounds.load() >= roundsAtTeardown + 16; }));
        worker.stopAndJoin();
        EXPECT_EQ(worker.unexpected.load(), 0);
        EXPECT_GT(worker.failures.load(), 0);
        EXPECT_FALSE(device->hasCachedListing("E:\\Music"));
        EXPECT_FALSE(device->hasCachedListing("E:\\"));
        EXPECT_FALSE(device->hasCachedDrive("E:\\"));
        EXPECT_EQ(sim->openDeviceCount(), 0);
        EXPECT_EQ(sim->invalidHandleCallCount(), 0);
        EXPECT_EQ(sim->concurrentCallCount(), 0);
        if (HasFailure()) break;
    }
}

TEST_F(PlatformDeviceThreads, UnpluggingDuringCopiesEndsTheCopyWithoutWaitingForIt)
{
    const QString folder = testenv::makeTempDir("copies");
    const QString target = folder + "/movie.mp4";
    constexpr int kRounds = 8;
    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE(round);
        testenv::writeFile(target, "the old movie");
        auto sim = std::make_shared<SimulatedMtpLibrary>();
        UdevNode node;
        wizard.held = arrivePhone(sim, 2 + round, &node);
        ASSERT_TRUE(wizard.held && wizard.held->hasMTPConnection());
        auto device = std::make_unique<PlatformDevice>();
        const Wizard::DropPhoneFirst dropPhone{wizard};
        wizard.held->setPlatformDevice(device.get());
        const VtrFileInfoPtr movie = device->deviceFileInfoWithPath("E:\\movie.mp4");
        ASSERT_TRUE(movie && movie->exists());

        // Listing, then copying the movie, over and over; the result of every
        // copy that started is kept.
        PlatformDevice *const platformDevice = device.get();
        CopyProgress progress;
        std::atomic<int> copiesStarted{0};
        std::atomic<int> firstResult{1};
        std::atomic<int> laterFailures{0};
        Worker worker([&, platformDevice](int) {
            try {
                (void)platformDevice->contentsOfFolderWithPath("E:\\");
            } catch (const VtrException &) {
                // gone: the copy is tried all the same
            }
            progress.blocks.store(0);
            const int copy = ++copiesStarted;
            const FileInfoCopyStatus status =
                platformDevice->copyDeviceFile(movie, VtrMacFileInfo::fileInfoWithPath(target), &progress, nullptr);
            if (copy == 1)
                firstResult.store(status);
            else if (status < 0)
                ++laterFailures;
        });
        ASSERT_TRUE(waitUntil([&] { return copiesStarted.load() == 1 && progress.blocks.load() >= 2 + round % 5; }));
        unplugAndTearDown(node);
        const int blocksAtTeardown = progress.blocks.load();
        ASSERT_TRUE(waitUntil([&] { return copiesStarted.load() >= 4; }));
        worker.stopAndJoin();

        // The teardown ended the copy under way instead of waiting for it.
        EXPECT_EQ(firstResult.load(), kFileInfoCopyWriteFailed);
        EXPECT_LT(blocksAtTeardown, kMovieBlocks / 2);
        EXPECT_GE(laterFailures.load(), 3);
        EXPECT_EQ(worker.unexpected.load(), 0);
        EXPECT_EQ(testenv::readFile(target), QByteArray("the old movie"));
        EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden).size(), 1);
        EXPECT_EQ(sim->openDeviceCount(), 0);
        EXPECT_EQ(sim->invalidHandleCallCount(), 0);
        EXPECT_EQ(sim->concurrentCallCount(), 0);
        if (HasFailure()) break;
    }
}

TEST_F(PlatformDeviceThreads, ATeardownLeavesAPlatformDeviceServingAnotherPhoneAlone)
{
    PlatformDevice device;
    const Wizard::DropPhoneFirst dropPhone{wizard};
    auto sim = std::make_shared<SimulatedMtpLibrary>();
    UdevNode first;
    UdevNode second;
    wizard.held = arrivePhone(sim, 2, &first);
    std::shared_ptr<MobileDevice> other = arrivePhone(sim, 3, &second);
    ASSERT_TRUE(wizard.held && other);
    wizard.held->setPlatformDevice(&device);
    other->setPlatformDevice(&device);
    ASSERT_EQ(device.mtp(), other->mtpDevice());
    ASSERT_FALSE(device.contentsOfFolderWithPath("E:\\Music").isEmpty());

    unplugAndTearDown(first);
    EXPECT_TRUE(device.isConnected());
    EXPECT_EQ(device.mtp(), other->mtpDevice());
    EXPECT_TRUE(device.hasCachedListing("E:\\Music"));
    EXPECT_EQ(device.contentsOfFolderWithPath("E:\\Photos").size(), 8);
    EXPECT_EQ(sim->openDeviceCount(), 1);
    other.reset();
    EXPECT_EQ(sim->openDeviceCount(), 0);
}

} // namespace
