// USB arrivals, removals and the registry look-ups, driven through the fake
// registry so that every path runs without hardware.
#include "devices/usb/FakeUdevSource.h"
#include "devices/usb/USBListener.h"
#include "devices/usb/UsbLookups.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

using vtr::udev::FakeUdevSource;
using vtr::udev::UdevNode;

namespace {

const QString kBus = QStringLiteral("/sys/devices/pci0000:00/0000:00:14.0/usb1");

bool waitUntil(const std::function<bool()> &done, int timeoutMs = 60000)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// Lets queued socket activations run, for tests that expect nothing to arrive.
void drainEvents()
{
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

struct Recorder : USBListenerDelegate
{
    struct Added
    {
        UsbDeviceHandle handle;
        quint16 vendor;
        quint16 product;
        int protocol;
    };
    std::vector<Added> added;
    std::vector<UsbDeviceHandle> removed;
    std::vector<UsbDeviceHandle> interfacesRemoved;
    std::function<void(const UsbDeviceHandle &)> onAdded;

    void usbDeviceAdded(const UsbDeviceHandle &h, quint16 v, quint16 p) override
    {
        added.push_back({h, v, p, -1});
        if (onAdded) onAdded(h);
    }
    void usbInterfaceAdded(const UsbDeviceHandle &h, quint16 v, quint16 p, quint8 protocol) override
    {
        added.push_back({h, v, p, protocol});
    }
    void usbDeviceRemoved(const UsbDeviceHandle &h) override { removed.push_back(h); }
    void usbInterfaceRemoved(const UsbDeviceHandle &h) override { interfacesRemoved.push_back(h); }
};

class UsbTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        fake = std::make_shared<FakeUdevSource>();
        UdevNode bus = FakeUdevSource::plainNode(kBus, QStringLiteral("usb"), QStringLiteral("usb_device"));
        // The root hub is a USB device like any other.
        bus.attributes = FakeUdevSource::usbDevice(QStringLiteral("/sys/devices"), QStringLiteral("x"), 0x1d6b, 0x0002,
                                                   QStringLiteral("xHCI Host Controller"))
                             .attributes;
        fake->addNode(
            FakeUdevSource::plainNode(QStringLiteral("/sys/devices/pci0000:00/0000:00:14.0"), QStringLiteral("pci")));
        fake->addNode(bus);
        vtr::udev::setDefaultSource(fake);
    }
    void TearDown() override { vtr::udev::setDefaultSource(nullptr); }

    UdevNode iphone() const
    {
        return FakeUdevSource::usbDevice(kBus, QStringLiteral("1-2"), 0x05ac, 0x12a8, QStringLiteral("iPhone"),
                                         QStringLiteral("f00dfeed"), 1, 5);
    }
    UdevNode galaxy() const
    {
        return FakeUdevSource::usbDevice(kBus, QStringLiteral("1-3"), 0x04e8, 0x6860, QStringLiteral("SAMSUNG_Android"),
                                         QStringLiteral("R58M1234"), 1, 6);
    }

    std::shared_ptr<FakeUdevSource> fake;
};

TEST_F(UsbTest, StartReportsPresentDevicesBeforeReturningAndSkipsDevicesWithoutIds)
{
    fake->addNode(iphone());
    UdevNode broken = FakeUdevSource::usbDevice(kBus, QStringLiteral("1-4"), 0x1234, 0x5678);
    broken.attributes.remove(QStringLiteral("idProduct"));
    fake->addNode(broken);
    fake->addNode(galaxy());

    Recorder recorder;
    USBListener listener(&recorder, fake);
    ASSERT_TRUE(listener.startListeningForDevices(true, false));
    ASSERT_EQ(recorder.added.size(), 3u); // root hub, iPhone, Galaxy; not the one without "idProduct"
    EXPECT_EQ(recorder.added[0].vendor, 0x1d6b);
    EXPECT_EQ(recorder.added[1].vendor, 0x05ac);
    EXPECT_EQ(recorder.added[1].product, 0x12a8);
    const UsbDeviceHandle &h = recorder.added[1].handle;
    EXPECT_EQ(h.syspath, iphone().syspath);
    EXPECT_EQ(h.busNumber, 1);
    EXPECT_EQ(h.deviceNumber, 5);
    EXPECT_EQ(h.product, QStringLiteral("iPhone"));
    EXPECT_EQ(h.serial, QStringLiteral("f00dfeed"));
    EXPECT_EQ(recorder.added[2].vendor, 0x04e8);

    // The subscription predates the listing: a late "add" of a listed device
    // is not reported a second time.
    fake->emitEvent(QStringLiteral("add"), galaxy());
    drainEvents();
    EXPECT_EQ(recorder.added.size(), 3u);
}

TEST_F(UsbTest, LaterArrivalAndRemovalReachTheirDelegates)
{
    Recorder wizard;
    Recorder phone;
    USBListener listener(&wizard, fake);
    ASSERT_TRUE(listener.startListeningForDevices(true, false));
    ASSERT_EQ(wizard.added.size(), 1u); // the root hub

    // The phone object registers for its own removal while the arrival is reported.
    int registration = 1;
    wizard.onAdded = [&](const UsbDeviceHandle &h) {
        if (h.vendorID == 0x05ac) registration = listener.listenForDeviceRemoval(h, &phone);
    };
    fake->plug(iphone());
    ASSERT_TRUE(waitUntil([&] { return wizard.added.size() == 2; }));
    EXPECT_EQ(registration, 0);
    EXPECT_EQ(wizard.added[1].product, 0x12a8);

    fake->unplug(iphone().syspath);
    ASSERT_TRUE(waitUntil([&] { return phone.removed.size() == 1; }));
    // The removal carries the handle as it was registered, properties included.
    EXPECT_EQ(phone.removed[0].serial, QStringLiteral("f00dfeed"));
    EXPECT_EQ(phone.removed[0].productID, 0x12a8);
    EXPECT_TRUE(wizard.removed.empty());

    // Unplugged and plugged again: a new arrival.
    fake->plug(iphone());
    ASSERT_TRUE(waitUntil([&] { return wizard.added.size() == 3; }));
    // The first registration was answered and forgotten; nothing more arrives.
    fake->unplug(iphone().syspath);
    drainEvents();
    EXPECT_EQ(phone.removed.size(), 2u); // registered again by onAdded during the second arrival
}

TEST_F(UsbTest, RemovalSlotsKeepTheirIndexAfterUnregistering)
{
    fake->addNode(iphone());
    fake->addNode(galaxy());
    Recorder wizard, first, second;
    USBListener listener(&wizard, fake);
    ASSERT_TRUE(listener.startListeningForDevices(true, false));
    ASSERT_EQ(wizard.added.size(), 3u); // the root hub, the iPhone, the Galaxy
    const UsbDeviceHandle apple = wizard.added[1].handle;
    const UsbDeviceHandle samsung = wizard.added[2].handle;

    ASSERT_EQ(listener.listenForDeviceRemoval(apple, &first), 0);
    ASSERT_EQ(listener.listenForDeviceRemoval(samsung, &second), 0);
    // The same delegate again uses its slot; a second registration for one
    // device is a second report.
    ASSERT_EQ(listener.listenForDeviceRemoval(samsung, &second), 0);
    ASSERT_EQ(listener.delegates().size(), 3u);

    listener.stopListeningForDelegate(&first);
    ASSERT_EQ(listener.delegates().size(), 3u);
    EXPECT_EQ(listener.delegates()[1], nullptr);
    EXPECT_EQ(listener.delegates()[2], &second);

    fake->unplug(apple.syspath);
    fake->unplug(samsung.syspath);
    ASSERT_TRUE(waitUntil([&] { return second.removed.size() == 2; }));
    drainEvents();
    EXPECT_TRUE(first.removed.empty());
    EXPECT_EQ(second.removed.size(), 2u);
    EXPECT_EQ(second.removed[0], samsung);
}

TEST_F(UsbTest, RegistrationsNeedAListeningListenerAndAPresentDevice)
{
    fake->addNode(iphone());
    Recorder wizard, phone;
    USBListener listener(&wizard, fake);
    const UsbDeviceHandle apple = vtr::usb::handleForNode(iphone());
    EXPECT_EQ(listener.listenForDeviceRemoval(apple, &phone), -1); // not started
    ASSERT_TRUE(listener.startListeningForDevices(true, false));
    EXPECT_EQ(listener.listenForDeviceRemoval(apple, nullptr), -1);
    UsbDeviceHandle gone = apple;
    gone.syspath = kBus + QStringLiteral("/1-9");
    EXPECT_EQ(listener.listenForDeviceRemoval(gone, &phone), -1); // would never be reported
    ASSERT_EQ(listener.listenForDeviceRemoval(apple), 0);         // slot 0

    listener.stopListening();
    EXPECT_FALSE(listener.isListening());
    EXPECT_EQ(listener.listenForDeviceRemoval(apple, &phone), -1);
    fake->unplug(apple.syspath);
    fake->plug(galaxy());
    drainEvents();
    EXPECT_TRUE(wizard.removed.empty());
    EXPECT_EQ(wizard.added.size(), 2u); // only the two present at start
    EXPECT_EQ(fake->monitorCount(), 0);

    // A stopped listener can start again.
    ASSERT_TRUE(listener.startListeningForDevices(true, false));
    EXPECT_EQ(wizard.added.size(), 4u); // root hub and Galaxy again
}

TEST_F(UsbTest, StartFailsWhenTheRegistryCannotBeWatched)
{
    fake->setMonitorsFail(true);
    Recorder wizard;
    USBListener listener(&wizard, fake);
    EXPECT_FALSE(listener.startListeningForDevices(true, false));
    EXPECT_FALSE(listener.isListening());
    EXPECT_TRUE(wizard.added.empty());
}

TEST_F(UsbTest, InterfacesArriveWithTheirProtocolAndLeave)
{
    const UdevNode device = galaxy();
    fake->addNode(device);
    fake->addNode(FakeUdevSource::usbInterface(device, 0, 0x50));
    UdevNode noProtocol = FakeUdevSource::usbInterface(device, 1, 0);
    noProtocol.attributes.remove(QStringLiteral("bInterfaceProtocol"));
    fake->addNode(noProtocol);

    Recorder wizard;
    USBListener listener(&wizard, fake);
    ASSERT_TRUE(listener.startListeningForDevices(false, true));
    ASSERT_EQ(wizard.added.size(), 1u);
    EXPECT_EQ(wizard.added[0].vendor, 0x04e8);
    EXPECT_EQ(wizard.added[0].product, 0x6860);
    EXPECT_EQ(wizard.added[0].protocol, 0x50);
    EXPECT_EQ(wizard.added[0].handle.serial, QStringLiteral("R58M1234"));

    listener.listenForInterfaceRemoval(wizard.added[0].handle);
    fake->unplug(device.syspath);
    ASSERT_TRUE(waitUntil([&] { return wizard.interfacesRemoved.size() == 1; }));
    EXPECT_TRUE(wizard.removed.empty());
}

TEST_F(UsbTest, ADelegateMayStopOrDestroyTheListenerWhileBeingTold)
{
    Recorder wizard;
    auto listener = std::make_unique<USBListener>(&wizard, fake);
    ASSERT_TRUE(listener->startListeningForDevices(true, false));
    wizard.onAdded = [&](const UsbDeviceHandle &) { listener->stopListening(); };
    fake->plug(iphone());
    fake->plug(galaxy());
    ASSERT_TRUE(waitUntil([&] { return wizard.added.size() == 2; }));
    drainEvents();
    EXPECT_EQ(wizard.added.size(), 2u); // the Galaxy came after the stop

    wizard.onAdded = nullptr;
    ASSERT_TRUE(listener->startListeningForDevices(true, false));
    EXPECT_EQ(wizard.added.size(), 5u); // root hub, iPhone and Galaxy reported again
    const size_t before = wizard.added.size();
    wizard.onAdded = [&](const UsbDeviceHandle &) { listener.reset(); };
    fake->unplug(iphone().syspath);
    fake->unplug(galaxy().syspath);
    fake->plug(iphone());
    fake->plug(galaxy());
    ASSERT_TRUE(waitUntil([&] { return wizard.added.size() == before + 1; }));
    EXPECT_EQ(listener, nullptr);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    drainEvents();
    EXPECT_EQ(wizard.added.size(), before + 1);
}

TEST_F(UsbTest, LookupsAnswerForTheFirstMatchingDevice)
{
    fake->addNode(iphone());
    UdevNode nameless = FakeUdevSource::usbDevice(kBus, QStringLiteral("1-5"), 0x0fca, 0x8004);
    nameless.attributes[QStringLiteral("speed")] = QStringLiteral("12");
    fake->addNode(nameless);
    UdevNode fast = galaxy();
    fast.attributes[QStringLiteral("speed")] = QStringLiteral("5000");
    fake->addNode(fast);

    EXPECT_EQ(usbSerialNumberForDevice(0x05ac, 0x12a8), QStringLiteral("f00dfeed"));
    EXPECT_EQ(usbProductNameForDevice(0x05ac, 0x12a8), QStringLiteral("iPhone"));
    EXPECT_TRUE(usbSerialNumberForDevice(0x0fca, 0x8004).isNull());
    EXPECT_TRUE(usbProductNameForDevice(0x0fca, 0x8004).isNull());
    EXPECT_TRUE(usbSerialNumberForDevice(0x05ac, 0x1234).isNull());

    EXPECT_EQ(usbDeviceNameForDevice(0x05ac, 0x12a8), QStringLiteral("iPhone"));
    const QString unnamed = usbDeviceNameForDevice(0x0fca, 0x8004);
    EXPECT_FALSE(unnamed.isNull());
    EXPECT_TRUE(unnamed.isEmpty());
    EXPECT_TRUE(usbDeviceNameForDevice(0x0fca, 0x0001).isNull());

    EXPECT_TRUE(isUSBVendorAttached(0x0fca));
    EXPECT_FALSE(isUSBVendorAttached(0x22b8));
    EXPECT_EQ(productIDForUSBVendor(0x04e8), 0x6860);
    EXPECT_EQ(productIDForUSBVendor(0x22b8), 0);
    EXPECT_TRUE(isUSBDeviceAttached(0x05ac, 0x12a8));
    EXPECT_FALSE(isUSBDeviceAttached(0x05ac, 0x12a9));

    EXPECT_EQ(usbDeviceSpeed(0x0fca, 0x8004), 1);
    EXPECT_EQ(usbDeviceSpeed(0x05ac, 0x12a8), 2);
    EXPECT_EQ(usbDeviceSpeed(0x04e8, 0x6860), 3);
    EXPECT_EQ(usbDeviceSpeed(0x22b8, 0x2e82), 255);

    const std::vector<USBScanResult> devices = usbScanDevices();
    ASSERT_EQ(devices.size(), 4u);
    EXPECT_EQ(devices[1].vendorID(), 0x05ac);
    EXPECT_EQ(devices[1].protocol(), 0);
    EXPECT_EQ(devices[1].description(),
              QStringLiteral("USBScanResult: vendor=5ac product=12a8 protocol=0 io_service_t=") + iphone().syspath);
    EXPECT_TRUE(usbScanInterfaces().empty());
    EXPECT_EQ(fake->monitorCount(), 0);
}

// A phone's storage as the kernel shows it: partition -> disk -> SCSI device
// host:channel:target:lun -> SCSI target -> SCSI host -> USB interface -> USB device.
class UsbVolumeTest : public UsbTest
{
protected:
    void addPhoneDisk(const UdevNode &device, const QString &lunName, dev_t disk, dev_t partition)
    {
        fake->addNode(device);
        const UdevNode iface = FakeUdevSource::usbInterface(device, 0, 0x50);
        fake->addNode(iface);
        const QString host = iface.syspath + QStringLiteral("/host6");
        fake->addNode(FakeUdevSource::plainNode(host, QStringLiteral("scsi"), QStringLiteral("scsi_host")));
        const QString target = host + QStringLiteral("/target6:0:0");
        fake->addNode(FakeUdevSource::plainNode(target, QStringLiteral("scsi"), QStringLiteral("scsi_target")));
        const QString lun = target + QLatin1Char('/') + lunName;
        fake->addNode(FakeUdevSource::plainNode(lun, QStringLiteral("scsi"), QStringLiteral("scsi_device")));
        UdevNode diskNode = FakeUdevSource::plainNode(lun + QStringLiteral("/block/sdb"), QStringLiteral("block"),
                                                      QStringLiteral("disk"));
        diskNode.devnum = disk;
        fake->addNode(diskNode);
        UdevNode part = FakeUdevSource::plainNode(diskNode.syspath + QStringLiteral("/sdb1"), QStringLiteral("block"),
                                                  QStringLiteral("partition"));
        part.devnum = partition;
        fake->addNode(part);
    }
};

TEST_F(UsbVolumeTest, AVolumeLeadsToTheUsbDeviceAndItsLogicalUnit)
{
    addPhoneDisk(galaxy(), QStringLiteral("6:0:0:2"), makedev(8, 16), makedev(8, 17));
    UdevNode nvme = FakeUdevSource::plainNode(QStringLiteral("/sys/devices/pci0000:00/nvme/nvme0n1"),
                                              QStringLiteral("block"), QStringLiteral("disk"));
    nvme.devnum = makedev(259, 0);
    fake->addNode(nvme);

    quint16 vendor = 1, product = 1, lun = 9;
    EXPECT_TRUE(usbIDsForVolume(makedev(8, 17), &vendor, &product));
    EXPECT_EQ(vendor, 0x04e8);
    EXPECT_EQ(product, 0x6860);
    EXPECT_TRUE(usbIDsForVolume(makedev(8, 16), nullptr, &product));
    EXPECT_TRUE(volumeSCSIInfo(makedev(8, 17), &lun));
    EXPECT_EQ(lun, 2);

    // Not behind USB, unknown, or no device at all (a virtual file system).
    for (dev_t volume : {makedev(259, 0), makedev(8, 48), makedev(0, 0)}) {
        vendor = product = lun = 7;
        EXPECT_FALSE(usbIDsForVolume(volume, &vendor, &product));
        EXPECT_EQ(vendor, 0);
        EXPECT_EQ(product, 0);
        EXPECT_FALSE(volumeSCSIInfo(volume, &lun));
        EXPECT_EQ(lun, 0);
    }
}

TEST_F(UsbVolumeTest, APathLeadsToItsFileSystemDevice)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    struct stat st
    {
    };
    ASSERT_EQ(::stat(QFile::encodeName(dir.path()).constData(), &st), 0);
    VolumeRefNum volume = 0;
    EXPECT_EQ(pathToVolumeRefNum(dir.path(), &volume), 0);
    EXPECT_EQ(volume, VolumeRefNum(st.st_dev));
    EXPECT_EQ(pathToVolumeRefNum(dir.path() + QStringLiteral("/missing"), &volume), ENOENT);
    EXPECT_EQ(volume, 0u);
}

} // namespace
