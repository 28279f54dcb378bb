// The camera roll through the camera library, run against its "directory"
// driver: a folder tree presented as a camera.
#include "devices/camera/CameraConnection.h"
#include "devices/camera/CameraSession.h"
#include "devices/usb/FakeUdevSource.h"
#include "fileinfo/VtrMacFileInfo.h"
#include "platform/VtrException.h"

#include "TestEnvironment.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTimeZone>

#include <atomic>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <thread>
#include <type_traits>
#include <unistd.h>

// The camera library loads and unloads its driver modules (and their
// dependencies). What those dependencies set aside when loaded is reported by
// the leak checker against frames without a module name unless the whole
// stack is unwound; unwound, the library suppressions of lsan.supp match it.
extern "C" __attribute__((visibility("default"), used)) const char *__asan_default_options()
{
    return "fast_unwind_on_malloc=0";
}

using vtr::camera::CameraPort;
using vtr::camera::FixedCameraDetector;
using vtr::udev::FakeUdevSource;

namespace {

// The connection has no public constructor; tests make their own through a subclass.
class TestConnection : public CameraConnection
{
public:
    explicit TestConnection(std::vector<CameraPort> ports = {})
        : TestConnection(std::make_unique<FixedCameraDetector>(std::move(ports)))
    {}
    FixedCameraDetector *const detector;

private:
    explicit TestConnection(std::unique_ptr<FixedCameraDetector> fixed)
        : CameraConnection(nullptr), detector(fixed.get())
    {
        setDetector(std::move(fixed));
    }
};

struct CountingDelegate : CameraConnectionProtocol
{
    int changes = 0;
    std::function<void()> onChange;
    void camerasChanged() override
    {
        ++changes;
        if (onChange) onChange();
    }
};

CameraPort directoryCamera(const QString &root, quint16 product = 0x12a8)
{
    CameraPort port;
    port.model = QStringLiteral("Directory Browse");
    port.port = QStringLiteral("disk:") + root;
    port.vendorID = 1452;
    port.productID = product;
    port.productName = QStringLiteral("iPhone");
    port.serial = QStringLiteral("f00dfeed");
    return port;
}

QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

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

class CameraTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        root = testenv::makeTempDir(QStringLiteral("roll"));
        first = QByteArray(1000, 'a');
        second = QByteArray(2345, 'b');
        testenv::writeFile(root + QStringLiteral("/DCIM/100APPLE/IMG_0001.JPG"), first);
        testenv::writeFile(root + QStringLiteral("/DCIM/101APPLE/IMG_0001.JPG"), second);
        destination = testenv::makeTempDir(QStringLiteral("photos"));
    }

    QString root;
    QString destination;
    QByteArray first;
    QByteArray second;
};

} // namespace

TEST(CameraConnectionSingleton, OnlyTheClassMethodMakesTheConnection)
{
    static_assert(!std::is_default_constructible_v<CameraConnection>);
    static_assert(!std::is_constructible_v<CameraConnection, std::unique_ptr<vtr::camera::CameraDetector>>);
    CameraConnection *connection = CameraConnection::cameraConnection();
    ASSERT_NE(connection, nullptr);
    EXPECT_EQ(CameraConnection::cameraConnection(), connection);
}

TEST_F(CameraTest, ListsTheRollWithPropertiesAndSizesAndTellsTheDelegateOncePerRead)
{
    TestConnection connection({directoryCamera(root)});
    CountingDelegate delegate;
    connection.setUdevSource(std::make_shared<FakeUdevSource>());
    connection.setDelegate(&delegate);
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    const int before = delegate.changes;

    const QList<CameraDevicePtr> cameras = connection.connectedCameras();
    EXPECT_EQ(delegate.changes, before + 1);
    ASSERT_EQ(cameras.size(), 1);
    const CameraDevicePtr &camera = cameras.first();
    EXPECT_EQ(camera->name(), QStringLiteral("iPhone"));
    EXPECT_FALSE(camera->isLocked());
    EXPECT_EQ(camera->vendorID(), 1452);
    EXPECT_EQ(camera->productID(), 0x12a8);
    EXPECT_EQ(camera->serialNumber(), QStringLiteral("f00dfeed"));

    const auto images = camera->images();
    ASSERT_TRUE(images.has_value());
    ASSERT_EQ(images->size(), 2);
    EXPECT_EQ(images->at(0)->filename(), QStringLiteral("IMG_0001.JPG"));
    EXPECT_EQ(images->at(1)->filename(), QStringLiteral("IMG_0001.JPG"));
    EXPECT_EQ(images->at(0)->size(), 1000);
    EXPECT_EQ(images->at(1)->size(), 2345);
    EXPECT_NE(images->at(0)->info().value(QStringLiteral("icao")), images->at(1)->info().value(QStringLiteral("icao")));
    EXPECT_EQ(camera->numImages(), 2);

    // The count becomes part of the camera dictionaries of later reads.
    const QList<CameraDevicePtr> again = connection.connectedCameras();
    EXPECT_EQ(delegate.changes, before + 2);
    ASSERT_EQ(again.size(), 1);
    EXPECT_EQ(again.first()->info().value(QStringLiteral("ICANumberOfDownloadableObjectsKey")).toInt(), 2);
    // The same attached camera keeps its session (one open per attachment).
    EXPECT_EQ(again.first()->info().value(QStringLiteral("icao")), camera->info().value(QStringLiteral("icao")));

    // Hidden files, which the folder driver leaves out, are listed with their
    // sizes; a hidden folder is not looked into, a link not followed.
    testenv::writeFile(root + "/DCIM/100APPLE/._IMG_0001.JPG", "hid");
    testenv::writeFile(root + "/DCIM/.MISC/IMG_0002.JPG", "hid");
    ASSERT_TRUE(QFile::link(root + "/DCIM/100APPLE/IMG_0001.JPG", root + "/DCIM/100APPLE/.IMG_0003.JPG"));
    const QList<CameraDevicePtr> later = connection.connectedCameras();
    ASSERT_EQ(later.size(), 1);
    QStringList listed;
    for (const CameraImagePtr &image : later.first()->images().value_or(QList<CameraImagePtr>()))
        listed << image->filename() + ':' + QString::number(image->size());
    listed.sort();
    EXPECT_EQ(listed.join('|').toStdString(), "._IMG_0001.JPG:3|IMG_0001.JPG:1000|IMG_0001.JPG:2345");
}

TEST_F(CameraTest, TwoObjectsOfTheSameNameDownloadToTwoDistinctFiles)
{
    TestConnection connection({directoryCamera(root)});
    const QList<CameraDevicePtr> cameras = connection.connectedCameras();
    ASSERT_EQ(cameras.size(), 1);
    const auto images = cameras.first()->images();
    ASSERT_TRUE(images.has_value());
    ASSERT_EQ(images->size(), 2);

    const VtrFileInfoPtr folder = VtrMacFileInfo::fileInfoWithPath(destination);
    const VtrFileInfoPtr a = images->at(0)->downloadToFolder(folder);
    const VtrFileInfoPtr b = images->at(1)->downloadToFolder(folder);
    ASSERT_TRUE(a && b);
    EXPECT_NE(a->path(), b->path());
    EXPECT_EQ(a->name(), QStringLiteral("IMG_0001.JPG"));
    EXPECT_EQ(b->name(), QStringLiteral("IMG_0001-1.JPG"));
    EXPECT_EQ(testenv::readFile(a->path()), first);
    EXPECT_EQ(testenv::readFile(b->path()), second);
    // Only the two files: no temporary file is left behind.
    EXPECT_EQ(entries(destination), QStringList({QStringLiteral("IMG_0001-1.JPG"), QStringLiteral("IMG_0001.JPG")}));

    // A name taken in another letter case counts as taken.
    QFile::rename(destination + QStringLiteral("/IMG_0001.JPG"), destination + QStringLiteral("/img_0001.jpg"));
    QFile::remove(destination + QStringLiteral("/IMG_0001-1.JPG"));
    const VtrFileInfoPtr c = images->at(0)->downloadToFolder(folder);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->name(), QStringLiteral("IMG_0001-1.JPG"));
    EXPECT_EQ(testenv::readFile(destination + QStringLiteral("/img_0001.jpg")), first);
}

TEST_F(CameraTest, AFileThatVanishedRaisesWithTheCodeAndLeavesTheFolderAsItWas)
{
    TestConnection connection({directoryCamera(root)});
    ASSERT_EQ(connection.connectedCameras().size(), 1);
    const auto images = connection.connectedCameras().first()->images();
    ASSERT_TRUE(images.has_value() && images->size() == 2);
    testenv::writeFile(destination + QStringLiteral("/keep.txt"), "old");
    ASSERT_TRUE(QFile::remove(root + QStringLiteral("/DCIM/101APPLE/IMG_0001.JPG")));

    const VtrFileInfoPtr folder = VtrMacFileInfo::fileInfoWithPath(destination);
    try {
        images->at(1)->downloadToFolder(folder);
        FAIL() << "no exception";
    } catch (const VtrException &e) {
        EXPECT_EQ(e.name(), QStringLiteral("failed to download file"));
        EXPECT_TRUE(e.reason().startsWith(
            QStringLiteral("An error occurred while downloading the file \"IMG_0001.JPG\" (err=-")))
            << e.reason().toStdString();
        EXPECT_FALSE(e.reason().contains(QStringLiteral("err=0")));
    }
    EXPECT_EQ(entries(destination), QStringList({QStringLiteral("keep.txt")}));

    // The other object still downloads.
    EXPECT_TRUE(images->at(0)->downloadToFolder(folder));
}

// A photo of 2013 copied today is still dated 2013.
TEST_F(CameraTest, ACopyKeepsThePhotosDate)
{
    const QDateTime taken(QDate(2013, 2, 14), QTime(10, 15), QTimeZone::utc());
    QFile photo(root + QStringLiteral("/DCIM/100APPLE/IMG_0001.JPG"));
    ASSERT_TRUE(photo.open(QIODevice::ReadWrite) && photo.setFileTime(taken, QFileDevice::FileModificationTime));
    photo.close();
    TestConnection connection({directoryCamera(root)});
    ASSERT_EQ(connection.connectedCameras().size(), 1);
    const auto images = connection.connectedCameras().first()->images();
    ASSERT_TRUE(images.has_value() && images->size() == 2);
    EXPECT_EQ(images->at(0)->modificationDate(), taken);
    const VtrFileInfoPtr copy = images->at(0)->downloadToFolder(VtrMacFileInfo::fileInfoWithPath(destination));
    ASSERT_TRUE(copy);
    EXPECT_EQ(QFileInfo(copy->path()).lastModified().toUTC(), taken);
}

TEST_F(CameraTest, DownloadNeedsAnExistingLocalFolder)
{
    TestConnection connection({directoryCamera(root)});
    ASSERT_EQ(connection.connectedCameras().size(), 1);
    const auto images = connection.connectedCameras().first()->images();
    ASSERT_TRUE(images.has_value() && !images->isEmpty());
    const CameraImagePtr image = images->first();

    EXPECT_EQ(image->downloadToFolder(nullptr), nullptr);
    EXPECT_EQ(image->downloadToFolder(VtrMacFileInfo::fileInfoWithPath(destination + QStringLiteral("/missing"))),
              nullptr);
    testenv::writeFile(destination + QStringLiteral("/plain"), "x");
    EXPECT_EQ(image->downloadToFolder(VtrMacFileInfo::fileInfoWithPath(destination + QStringLiteral("/plain"))),
              nullptr);
    EXPECT_EQ(entries(destination), QStringList({QStringLiteral("plain")}));
}

TEST(CameraImageNames, CameraNamesBecomeSafeSingleNames)
{
    EXPECT_EQ(CameraImage::safeFileName(QStringLiteral("IMG_0001.JPG")), QStringLiteral("IMG_0001.JPG"));
    EXPECT_EQ(CameraImage::safeFileName(QStringLiteral("../../etc/passwd")), QStringLiteral(".._.._etc_passwd"));
    EXPECT_EQ(CameraImage::safeFileName(QStringLiteral("..")), QStringLiteral("__"));
    EXPECT_EQ(CameraImage::safeFileName(QStringLiteral(".")), QStringLiteral("_"));
    EXPECT_EQ(CameraImage::safeFileName(QString()), QStringLiteral("Untitled"));
    EXPECT_EQ(CameraImage::safeFileName(QStringLiteral("a\nb\x01"
                                                       "c")),
              QStringLiteral("a_b_c"));
    EXPECT_EQ(CameraImage::safeFileName(QStringLiteral("TessalineCopyFile.tmp")),
              QStringLiteral("_TessalineCopyFile.tmp"));
    const QString longName = QString(300, QChar(0x00E9)) + QStringLiteral(".HEIC");
    const QString shortName = CameraImage::safeFileName(longName);
    EXPECT_LE(shortName.toUtf8().size(), 255);
    EXPECT_TRUE(shortName.endsWith(QStringLiteral(".HEIC")));
}

TEST_F(CameraTest, FailedReadsKeepTheOldListAndTellNobody)
{
    TestConnection connection({directoryCamera(root)});
    CountingDelegate delegate;
    connection.setUdevSource(std::make_shared<FakeUdevSource>());
    connection.setDelegate(&delegate);
    ASSERT_EQ(connection.connectedCameras().size(), 1);
    const int changes = delegate.changes;

    connection.detector->setFails(true);
    const QList<CameraDevicePtr> cameras = connection.connectedCameras();
    EXPECT_EQ(delegate.changes, changes);
    ASSERT_EQ(cameras.size(), 1);
    EXPECT_TRUE(cameras.first()->images().has_value());
}

TEST_F(CameraTest, AppleDevicesAreFoundByTheirProductTable)
{
    const QString other = testenv::makeTempDir(QStringLiteral("other"));
    TestConnection connection({directoryCamera(root, 4757), directoryCamera(other, 4752)});
    // 0x1295 is not in the table; the second camera (0x1290) is.
    const CameraDevicePtr apple = connection.firstAppleDevice();
    ASSERT_TRUE(apple);
    EXPECT_EQ(apple->productID(), 4752);

    connection.detector->setPorts({directoryCamera(root, 4757)});
    EXPECT_EQ(connection.firstAppleDevice(), nullptr);
    EXPECT_TRUE(connection.cameraWithVendorID(1452, 4757));
    EXPECT_EQ(connection.cameraWithVendorID(1452, 4752), nullptr);
    EXPECT_EQ(connection.cameraWithVendorID(1453, 4757), nullptr);
}

TEST_F(CameraTest, ACameraThatLeftAnswersErrorsNotFreedMemory)
{
    TestConnection connection({directoryCamera(root)});
    ASSERT_EQ(connection.connectedCameras().size(), 1);
    const CameraDevicePtr listed = connection.connectedCameras().first();
    const CameraDevicePtr unlisted = connection.connectedCameras().first();
    const auto images = listed->images();
    ASSERT_TRUE(images.has_value() && images->size() == 2);

    connection.detector->setPorts({});
    EXPECT_TRUE(connection.connectedCameras().isEmpty());
    EXPECT_TRUE(connection.devices().isEmpty());

    // The objects outlive the camera: downloads cannot start, listings fail.
    EXPECT_EQ(images->at(0)->downloadToFolder(VtrMacFileInfo::fileInfoWithPath(destination)), nullptr);
    EXPECT_FALSE(unlisted->images().has_value());
    EXPECT_EQ(unlisted->numImages(), 0);
    EXPECT_TRUE(entries(destination).isEmpty());

    // Plugged in again: a new session, usable again.
    connection.detector->setPorts({directoryCamera(root)});
    const QList<CameraDevicePtr> back = connection.connectedCameras();
    ASSERT_EQ(back.size(), 1);
    EXPECT_NE(back.first()->info().value(QStringLiteral("icao")), listed->info().value(QStringLiteral("icao")));
    EXPECT_EQ(back.first()->numImages(), 2);
}

TEST_F(CameraTest, UsbArrivalsAndRemovalsRereadTheListOnceForABurst)
{
    const QString bus = QStringLiteral("/sys/devices/pci0000:00/0000:00:14.0/usb1");
    auto fake = std::make_shared<FakeUdevSource>();
    fake->addNode(FakeUdevSource::usbDevice(QStringLiteral("/sys/devices"), QStringLiteral("usb1"), 0x1d6b, 2));

    TestConnection connection;
    connection.setUdevSource(fake);
    CountingDelegate delegate;
    connection.setDelegate(&delegate);
    // The device present at start causes the first read.
    ASSERT_TRUE(waitUntil([&] { return delegate.changes == 1; }));
    EXPECT_TRUE(connection.devices().isEmpty());

    // An arrival: the camera shows up in the held list before the delegate hears of it.
    connection.detector->setPorts({directoryCamera(root)});
    int listed = -1;
    delegate.onChange = [&] { listed = int(connection.devices().size()); };
    const auto phone = FakeUdevSource::usbDevice(bus, QStringLiteral("1-2"), 0x05ac, 0x12a8, QStringLiteral("iPhone"),
                                                 QStringLiteral("f00dfeed"), 1, 5);
    fake->plug(phone);
    fake->plug(FakeUdevSource::usbDevice(bus, QStringLiteral("1-3"), 0x046d, 0xc52b));
    ASSERT_TRUE(waitUntil([&] { return delegate.changes >= 2; }));
    for (int i = 0; i < 10; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_EQ(delegate.changes, 2);
    EXPECT_EQ(listed, 1);

    // The removal of a device it heard arrive.
    connection.detector->setPorts({});
    fake->unplug(phone.syspath);
    ASSERT_TRUE(waitUntil([&] { return delegate.changes == 3; }));
    EXPECT_EQ(listed, 0);

    // Other notification types change nothing.
    connection.deviceNotification(QStringLiteral("ICANotificationTypeDeviceInfoChanged"));
    for (int i = 0; i < 10; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_EQ(delegate.changes, 3);
}

namespace {

// Whether the thread is blocked in opening a file (the directory driver
// opening a FIFO that has no writer yet).
bool threadBlockedInOpen(pid_t tid)
{
    QFile file(QStringLiteral("/proc/self/task/%1/syscall").arg(tid));
    if (!file.open(QIODevice::ReadOnly)) return false;
    const QByteArray first = file.readAll().split(' ').value(0).trimmed();
    return first == QByteArray::number(SYS_openat) || first == QByteArray::number(SYS_open);
}

} // namespace

TEST_F(CameraTest, ABusyCameraTimesOutOtherCallersAndSurvivesItsRemoval)
{
    // An object that blocks its download until the test writes to it.
    const QString slow = testenv::makeTempDir(QStringLiteral("slow"));
    const QString fifo = slow + QStringLiteral("/DCIM/IMG_0009.JPG");
    ASSERT_TRUE(QDir().mkpath(slow + QStringLiteral("/DCIM")));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);

    TestConnection connection({directoryCamera(slow)});
    connection.setTimeout(std::chrono::milliseconds(300));
    ASSERT_EQ(connection.connectedCameras().size(), 1);
    const auto images = connection.connectedCameras().first()->images();
    ASSERT_TRUE(images.has_value() && images->size() == 1);

    std::atomic<pid_t> tid{0};
    std::atomic<bool> done{false};
    VtrFileInfoPtr downloaded;
    std::thread worker([&] {
        tid = pid_t(::syscall(SYS_gettid));
        try {
            downloaded = images->first()->downloadToFolder(VtrMacFileInfo::fileInfoWithPath(destination));
        } catch (const std::exception &) {
        }
        done = true;
    });
    const bool blocked = waitUntil([&] { return tid != 0 && threadBlockedInOpen(tid); });

    if (blocked) {
        // Another caller gives up after the time-out instead of waiting for the download.
        const QList<CameraDevicePtr> cameras = connection.connectedCameras();
        ASSERT_EQ(cameras.size(), 1);
        EXPECT_FALSE(cameras.first()->isLocked());
        QElapsedTimer timer;
        timer.start();
        EXPECT_FALSE(cameras.first()->images().has_value());
        EXPECT_LT(timer.elapsed(), 5000);

        // The camera leaves while the download runs: nothing is released under it.
        connection.detector->setPorts({});
        EXPECT_TRUE(connection.connectedCameras().isEmpty());
    }

    // Let the download finish (the driver reads what the file's size said: nothing).
    const int writer = ::open(QFile::encodeName(fifo).constData(), O_WRONLY);
    ASSERT_GE(writer, 0);
    ::close(writer);
    worker.join();
    ASSERT_TRUE(done);
    ASSERT_TRUE(blocked) << "the download never blocked in the driver";
    ASSERT_TRUE(downloaded);
    EXPECT_EQ(downloaded->name(), QStringLiteral("IMG_0009.JPG"));
    // Gone now: later downloads cannot start.
    EXPECT_EQ(images->first()->downloadToFolder(VtrMacFileInfo::fileInfoWithPath(destination)), nullptr);
}
