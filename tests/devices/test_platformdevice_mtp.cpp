// The phone's command interface over MTP, on simulated phones: paths, drives
// and their names, folders per content type, caches seen from the library's
// call log, the content revision per phone, and what is forgotten when the
// phone changes or goes away.

#include "devices/AppFlags.h"
#include "devices/command/PlatformDevice.h"
#include "devices/command/VtrSymbianFileInfo.h"
#include "devices/mtp/MTPDevice.h"
#include "devices/mtp/sim/SimulatedMtpLibrary.h"
#include "devices/usb/FakeUdevSource.h"
#include "devices/usb/UdevSource.h"
#include "fileinfo/VtrMacFileInfo.h"
#include "platform/UserDefaults.h"
#include "platform/VtrException.h"

#include "TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>

#include <gtest/gtest.h>

namespace {

constexpr uint32_t kCard = 0x00020001;
constexpr quint16 kVendor = 0x04e8;
constexpr quint16 kProductA = 0x6642;
constexpr quint16 kProductB = 0x6860;

QString dataPath(const char *name)
{
    return QStringLiteral(VTR_TEST_SOURCE_DIR "/devices/data/") + QLatin1String(name);
}

QVariantMap configuration(const char *name)
{
    QFile file(dataPath(name));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    return QJsonDocument::fromJson(file.readAll()).toVariant().toMap();
}

QString raisedName(const std::function<void()> &call, QString *reason = nullptr)
{
    try {
        call();
    } catch (const VtrException &e) {
        if (reason) *reason = e.reason();
        return e.name();
    }
    return QString();
}

class PlatformDeviceOverMtp : public ::testing::Test
{
protected:
    void SetUp() override
    {
        SetMTPAccessDisabled(false);
        // The phones' USB serial numbers come from the device registry.
        udev = std::make_shared<vtr::udev::FakeUdevSource>();
        const QString bus = QStringLiteral("/sys/devices/pci0000:00/usb1");
        udev->addNode(
            vtr::udev::FakeUdevSource::usbDevice(bus, "1-1", kVendor, kProductA, "Phone A", "SERIAL-A", 1, 7));
        udev->addNode(
            vtr::udev::FakeUdevSource::usbDevice(bus, "1-2", kVendor, kProductB, "Phone B", "SERIAL-B", 1, 8));
        vtr::udev::setDefaultSource(udev);
        platform::UserDefaults::setStoreFileForTesting(testenv::makeTempDir("defaults") + "/defaults.ini");

        QString error;
        phoneA = sim->addPhoneFromFile(dataPath("mtp/android_phone.json"), &error);
        ASSERT_NE(phoneA, nullptr) << qPrintable(error);
        handleA = openLast();
        mtpA = std::make_shared<MTPDevice>(kVendor, kProductA, sim);
        mtpA->setMTPDevice(handleA, kCard);

        device = PlatformDevice::makeConnected();
        device->setMTPDeviceObject(mtpA);
    }

    void TearDown() override
    {
        device.reset();
        for (const auto &mtp : {mtpA, mtpB})
            if (mtp) mtp->detach();
        for (LIBMTP_mtpdevice_t *handle : {handleA, handleB})
            if (handle) sim->releaseDevice(handle);
        EXPECT_EQ(sim->concurrentCallCount(), 0);
        EXPECT_EQ(sim->invalidHandleCallCount(), 0);
        vtr::udev::setDefaultSource(nullptr);
        platform::UserDefaults::setStoreFileForTesting(QString());
    }

    LIBMTP_mtpdevice_t *openLast()
    {
        LIBMTP_raw_device_t *raw = nullptr;
        int count = 0;
        EXPECT_EQ(sim->detectRawDevices(&raw, &count), LIBMTP_ERROR_NONE);
        EXPECT_GE(count, 1);
        LIBMTP_mtpdevice_t *handle = count > 0 ? sim->openRawDeviceUncached(&raw[count - 1]) : nullptr;
        sim->freeRawDevices(raw);
        return handle;
    }

    // A second phone: another USB device with its own serial number.
    void addPhoneB(uint32_t contentRevision)
    {
        MtpSimPhone &phone = sim->addPhone();
        MtpSimIdentity identity;
        identity.vendorId = kVendor;
        identity.productId = kProductB;
        identity.busLocation = 2;
        identity.devnum = 9;
        identity.friendlyName = QStringLiteral("Bob's phone");
        identity.modelName = QStringLiteral("GT-B");
        identity.manufacturerName = QStringLiteral("Samsung");
        identity.contentRevision = contentRevision;
        phone.setIdentity(identity);
        MtpSimStorageSpec storage;
        storage.id = kCard;
        storage.storageType = 4;
        storage.capacity = 1000000;
        const uint32_t storageId = phone.addStorage(storage);
        phone.addFolder(storageId, 0, QStringLiteral("Music"));
        phoneB = &phone;
        handleB = openLast();
        mtpB = std::make_shared<MTPDevice>(kVendor, kProductB, sim);
        mtpB->setMTPDevice(handleB, kCard);
    }

    uint32_t contentRevisionStoredFor(const QString &key)
    {
        return platform::UserDefaults::value(key).toMap().value("content_revision").toUInt();
    }

    std::shared_ptr<vtr::udev::FakeUdevSource> udev;
    std::shared_ptr<SimulatedMtpLibrary> sim = std::make_shared<SimulatedMtpLibrary>();
    MtpSimPhone *phoneA = nullptr;
    MtpSimPhone *phoneB = nullptr;
    LIBMTP_mtpdevice_t *handleA = nullptr;
    LIBMTP_mtpdevice_t *handleB = nullptr;
    std::shared_ptr<MTPDevice> mtpA;
    std::shared_ptr<MTPDevice> mtpB;
    std::unique_ptr<PlatformDevice> device;
};

} // namespace

TEST_F(PlatformDeviceOverMtp, PathsAreStandardizedOntoTheCard)
{
    const struct
    {
        const char *given;
        const char *standard;
    } table[] = {
        {"Music\\a.mp3", "E:\\Music\\a.mp3"},
        {"\\Music\\a.mp3", "E:\\Music\\a.mp3"},
        {"Music/a.mp3", "E:\\Music\\a.mp3"},
        {"e:\\Music", "E:\\Music"},
        {"E:\\", "E:\\"},
        {"", "E:\\"},
        {"\\", "E:\\"},
        {"E:\\Music\\", "E:\\Music\\"},
    };
    for (const auto &row : table)
        EXPECT_EQ(device->standardizeDevicePath(row.given), row.standard) << row.given;
    EXPECT_EQ(device->cardPrefix(), "E:\\");
    EXPECT_EQ(device->internalMemoryFileInfo(), nullptr);
    EXPECT_EQ(device->deviceFileInfoWithPath("Music\\The Harbour Lights")->path(), "E:\\Music\\The Harbour Lights\\");
}

TEST_F(PlatformDeviceOverMtp, TheOneDriveIsNamedAfterThePhone)
{
    const VtrFileInfoList drives = device->drivesInfo();
    ASSERT_EQ(drives.size(), 1);
    EXPECT_EQ(drives[0]->path(), "E:\\");
    EXPECT_EQ(drives[0]->humanFriendlyName(), "Anna's phone");
    EXPECT_TRUE(drives[0]->isFolder());
    const QVariantMap drive = device->infoWithDrive("e:\\Music\\x.mp3");
    EXPECT_EQ(drive.value("id"), "E");
    EXPECT_EQ(drive.value("media"), "Hard Disk");
    EXPECT_EQ(drive.value("label"), "mtp_device");
    EXPECT_EQ(drive.value("serial"), "3A5F-1C2B");
    EXPECT_EQ(drive.value("free"), QString::number(phoneA->freeSpace(kCard)));
    EXPECT_EQ(drives[0]->freeSpaceOnVolume(), qint64(phoneA->freeSpace(kCard)));
    EXPECT_TRUE(device->infoWithDrive("C:\\x").isEmpty());
    EXPECT_TRUE(device->deviceVolumes() != nullptr);

    // Listings of the phone's folders.
    QStringList names;
    for (const VtrFileInfoPtr &node : device->contentsOfFolderWithPath("E:\\"))
        names << node->name();
    EXPECT_EQ(names, (QStringList{"Albums", "Movies", "Music", "Playlists"}));
    EXPECT_EQ(device->deviceFileInfoWithPath("E:\\Movies\\Holiday.mp4")->size(),
              phoneA->object(phoneA->objectIdForPath(kCard, "Movies/Holiday.mp4"))->size);
}

TEST_F(PlatformDeviceOverMtp, FoldersPerContentTypeFollowTheConfiguration)
{
    device->setDeviceConfiguration(configuration("platformdevice/configuration.json"));
    const struct
    {
        int type;
        const char *path;
    } table[] = {
        {0, "E:\\"},
        {10, "E:\\Media\\Pictures\\Vantrel\\"},
        {11, "E:\\Media\\Images\\"},
        {12, "E:\\Vantrel\\Music\\"},
        {13, "E:\\Media\\Tunes\\Imported\\"},
        {14, "E:\\Media\\Lists\\"},
        {15, "E:\\Vantrel\\Movies\\"},
        {16, "E:\\Media\\Videos\\"},
        {17, "E:\\Notes\\"},
        {18, "E:\\Notes\\"},
        {21, "E:\\Vantrel\\Installers\\"},
        {22, "E:\\Media\\Tones\\"},
        {23, "E:\\Media\\Podcasts\\"},
        {24, "E:\\Vantrel\\Playlists\\"},
    };
    for (const auto &row : table) {
        const VtrFileInfoPtr folder = device->folderForType(row.type);
        ASSERT_NE(folder, nullptr) << row.type;
        EXPECT_EQ(folder->path(), row.path) << row.type;
        EXPECT_TRUE(folder->exists()) << row.type;
        QString rest = QString::fromLatin1(row.path).mid(3);
        rest.chop(1);
        rest.replace('\\', '/');
        if (!rest.isEmpty()) {
            EXPECT_NE(phoneA->objectIdForPath(kCard, rest), 0u) << row.path;
        }
    }
    for (int type : {1, 9, 19, 20, 25})
        EXPECT_EQ(device->folderForType(type), nullptr) << type;

    // Without a media folder or import paths the card itself holds them; the
    // phone's "Music" is the "music" asked for, names being compared
    // without regard to case.
    device->setDeviceConfiguration({});
    EXPECT_EQ(device->folderForType(13)->path(), "E:\\Music\\");
    EXPECT_EQ(device->folderForType(16)->path(), "E:\\Videos\\");
    EXPECT_NE(phoneA->objectIdForPath(kCard, "Videos"), 0u);
    EXPECT_EQ(device->folderForType(23), nullptr);
}

TEST_F(PlatformDeviceOverMtp, CachesSpareTheLibrary)
{
    // A phone whose files carry no date in listings, and that cannot tell one
    // either: every listing of the folder asks the library once per file.
    MtpSimPhone &phone = sim->addPhone();
    MtpSimIdentity identity;
    identity.productId = kProductB;
    identity.busLocation = 3;
    identity.devnum = 4;
    phone.setIdentity(identity);
    MtpSimStorageSpec storage;
    storage.id = kCard;
    storage.storageType = 4;
    storage.capacity = 1 << 30;
    phone.addStorage(storage);
    const uint32_t music = phone.addFolder(kCard, 0, "Music");
    for (const char *name : {"a.mp3", "b.mp3", "c.mp3"}) {
        MtpSimObjectSpec spec;
        spec.storageId = kCard;
        spec.parentId = music;
        spec.name = name;
        spec.contents = QByteArray("tune");
        spec.dateInListing = false;
        phone.addObject(spec);
    }
    handleB = openLast();
    mtpB = std::make_shared<MTPDevice>(kVendor, kProductB, sim);
    sim->failCall("LIBMTP_Get_File_ModificationDate", 1, -1);
    mtpB->setMTPDevice(handleB, kCard);
    device->setMTPDeviceObject(mtpB);

    const auto dateCalls = [&] { return sim->callCount("LIBMTP_Get_File_ModificationDate"); };
    const auto freeCalls = [&] { return sim->callCount("LIBMTP_Get_Freespace"); };

    int dates = dateCalls();
    ASSERT_EQ(device->contentsOfFolderWithPath("E:\\Music").size(), 3);
    EXPECT_EQ(dateCalls(), dates + 3);
    dates = dateCalls();
    const int frees = freeCalls();
    EXPECT_GT(frees, 0);

    // Cache hits: the same listing, nodes in it, the drive and its free space.
    EXPECT_EQ(device->contentsOfFolderWithPath("E:\\Music\\").size(), 3);
    EXPECT_TRUE(device->deviceFileInfoWithPath("E:\\Music\\b.mp3")->exists());
    EXPECT_TRUE(device->deviceFileInfoWithPath("Music\\c.mp3")->exists());
    EXPECT_FALSE(device->infoWithDrive("E:\\").isEmpty());
    EXPECT_EQ(dateCalls(), dates);
    EXPECT_EQ(freeCalls(), frees);

    // A refresh lists the folder again, past the cache.
    device->deviceFileInfoWithPath("E:\\Music\\a.mp3")->refresh();
    EXPECT_EQ(dateCalls(), dates + 3);

    // Removing a file changes the free space: the drive is asked again.
    ASSERT_TRUE(device->removeFileWithPath("E:\\Music\\a.mp3"));
    EXPECT_FALSE(device->hasCachedDrive("E:\\"));
    EXPECT_FALSE(device->infoWithDrive("E:\\").isEmpty());
    EXPECT_GT(freeCalls(), frees);
    EXPECT_FALSE(device->deviceFileInfoWithPath("E:\\Music\\a.mp3")->exists());
}

TEST_F(PlatformDeviceOverMtp, TheContentRevisionIsKeptPerPhone)
{
    addPhoneB(5);
    phoneA->setIdentity([&] {
        MtpSimIdentity identity = phoneA->identity();
        identity.contentRevision = 17;
        return identity;
    }());

    // First meeting of phone A: nothing stored yet.
    device->setDeviceConfiguration({});
    EXPECT_FALSE(device->isContentRevisionEqual());
    EXPECT_EQ(contentRevisionStoredFor("SERIAL-A"), 17u);

    // Phone B on the same device object: its own key, nothing of A's shown.
    device->setMTPDeviceObject(mtpB);
    EXPECT_FALSE(device->isContentRevisionEqual());
    EXPECT_EQ(device->getDeviceInfo().value("id"), "SERIAL-B");
    EXPECT_EQ(device->name(), "Samsung GT-B");
    EXPECT_EQ(device->uuidForPath("E:\\"), "SERIAL-B");
    EXPECT_EQ(device->drivesInfo().value(0)->humanFriendlyName(), "Bob's phone");
    device->setDeviceConfiguration({});
    EXPECT_FALSE(device->isContentRevisionEqual());
    EXPECT_EQ(contentRevisionStoredFor("SERIAL-B"), 5u);
    EXPECT_EQ(contentRevisionStoredFor("SERIAL-A"), 17u);
    EXPECT_FALSE(platform::UserDefaults::contains("device_id"));

    // The next run meets phone A unchanged.
    device.reset();
    device = PlatformDevice::makeConnected();
    device->setMTPDeviceObject(mtpA);
    device->setDeviceConfiguration({});
    EXPECT_TRUE(device->isContentRevisionEqual());
    EXPECT_TRUE(device->isContentRevisionEqual()); // asked again, same answer

    // Once another phone is attached the answer is about that phone.
    device->setMTPDeviceObject(mtpB);
    EXPECT_FALSE(device->isContentRevisionEqual());
    device->setMTPDeviceObject(mtpA);
    EXPECT_FALSE(device->isContentRevisionEqual());
    device->setDeviceConfiguration({});
    EXPECT_TRUE(device->isContentRevisionEqual());

    // A change on the phone shows at the next configuration.
    ASSERT_NE(device->createFolderWithPath("E:\\Changed"), nullptr);
    device->setDeviceConfiguration({});
    EXPECT_FALSE(device->isContentRevisionEqual());
    EXPECT_EQ(contentRevisionStoredFor("SERIAL-A"), phoneA->contentRevision());

    // A phone that cannot tell its revision is never "unchanged".
    sim->failCall("LIBMTP_Get_ContentRevision", 1, -1);
    device->setDeviceConfiguration({});
    EXPECT_FALSE(device->isContentRevisionEqual());
    device->setDeviceConfiguration({});
    EXPECT_FALSE(device->isContentRevisionEqual());
    EXPECT_EQ(contentRevisionStoredFor("SERIAL-A"), 0u);
}

TEST_F(PlatformDeviceOverMtp, AnotherPhoneBehindTheSameObjectIsNoticed)
{
    EXPECT_EQ(device->getDeviceInfo().value("id"), "SERIAL-A");
    EXPECT_EQ(device->uuidForPath(QString()), "SERIAL-A");
    ASSERT_EQ(device->contentsOfFolderWithPath("E:\\Music").size(), 2);

    addPhoneB(3);
    // The phone object reuses its MTP device for a newly opened phone.
    mtpA->setMTPDevice(handleB, kCard);
    EXPECT_EQ(device->getDeviceInfo().value("id"), "SERIAL-B");
    EXPECT_EQ(device->uuidForPath(QString()), "SERIAL-B");
    EXPECT_TRUE(device->contentsOfFolderWithPath("E:\\Music").isEmpty());
    mtpA->setMTPDevice(handleA, kCard);
}

TEST_F(PlatformDeviceOverMtp, ADisconnectedPhoneIsNeverReached)
{
    EXPECT_EQ(device->getDeviceInfo().value("id"), "SERIAL-A");
    const VtrFileInfoPtr music = device->deviceFileInfoWithPath("E:\\Music");
    ASSERT_TRUE(music->exists());

    device->disconnect();
    sim->addMarker("disconnected");
    QString reason;
    EXPECT_EQ(raisedName([&] { device->openFileWithPath("E:\\Music\\x", false); }, &reason), "StopSyncException");
    EXPECT_EQ(reason, "Command failed. No connection to device.");
    EXPECT_EQ(raisedName([&] { device->contentsOfFolderWithPath("E:\\Music"); }, &reason), "StopSyncException");
    EXPECT_EQ(reason, "contentsOfFolderWithPath failed. No connection to device.");
    EXPECT_EQ(raisedName([&] { device->getDeviceInfo(); }), "StopSyncException");
    EXPECT_FALSE(device->deviceTracks().has_value());
    EXPECT_TRUE(device->devicePlaylistForPlaylistPath("E:\\Playlists\\Favorites.pla").isEmpty());
    EXPECT_EQ(device->copyDeviceFile(music, VtrMacFileInfo::fileInfoWithPath("/tmp/x"), nullptr, nullptr), -1);
    EXPECT_TRUE(device->uuidForPath("E:\\").isNull());
    EXPECT_FALSE(device->isContentRevisionEqual());
    EXPECT_FALSE(sim->anyCallAfterMarker("disconnected"));

    // Connected again, the phone is read afresh.
    device->connect();
    EXPECT_EQ(device->getDeviceInfo().value("id"), "SERIAL-A");
}

TEST_F(PlatformDeviceOverMtp, MediaAndCopiesGoThroughTheMtpDevice)
{
    EXPECT_EQ(device->devicePlaylistForPlaylistPath("Playlists\\Favorites.pla"),
              (QStringList{"E:\\Music\\The Harbour Lights\\Northern Skies\\02 - Lanterns.mp3",
                           "E:\\Music\\Élise Marchand\\Chansons\\01 - Été.m4a"}));
    ASSERT_TRUE(device->deviceTracks().has_value());
    EXPECT_EQ(device->deviceTracks()->size(), 6); // the ring tone on the internal storage too
    int height = 0, width = 0;
    device->deviceScreenHeight(&height, &width);
    EXPECT_EQ(height, 800);
    EXPECT_EQ(width, 480);
    EXPECT_FALSE(device->supportsCreationDate());
    EXPECT_TRUE(device->supportsModificationDate());

    // A playlist object joins the cached listing.
    ASSERT_EQ(device->contentsOfFolderWithPath("E:\\Playlists").size(), 2);
    const VtrFileInfoPtr playlist = device->setDevicePlaylistForPlaylistPath(
        "E:\\Playlists\\Mix.pla", {"Music\\The Harbour Lights\\Northern Skies\\01 - Morning Tide.mp3"});
    ASSERT_NE(playlist, nullptr);
    EXPECT_TRUE(playlist->exists());
    EXPECT_EQ(device->contentsOfFolderWithPath("E:\\Playlists").size(), 3);
    EXPECT_EQ(device->devicePlaylistForPlaylistPath("E:\\Playlists\\Mix.pla").size(), 1);

    // A copy to the phone lists the new file with its size at once.
    const QString local = testenv::makeTempDir("copy") + "/song.mp3";
    testenv::writeFile(local, QByteArray(3000, 's'));
    ASSERT_EQ(device->contentsOfFolderWithPath("E:\\Music").size(), 2);
    device->infoWithDrive("E:\\");
    ASSERT_TRUE(device->hasCachedDrive("E:\\"));
    const VtrFileInfoPtr target = device->deviceFileInfoWithPath("E:\\Music\\song.mp3");
    ASSERT_FALSE(target->exists());
    ASSERT_EQ(device->copyDesktopFile(VtrMacFileInfo::fileInfoWithPath(local), target, nullptr, nullptr), 0);
    EXPECT_FALSE(device->hasCachedDrive("E:\\"));
    const VtrFileInfoPtr copied = device->deviceFileInfoWithPath("E:\\Music\\song.mp3");
    EXPECT_TRUE(copied->exists());
    EXPECT_EQ(copied->size(), 3000);
    EXPECT_EQ(phoneA->contents(phoneA->objectIdForPath(kCard, "Music/song.mp3")), QByteArray(3000, 's'));

    // And back to this computer.
    const QString back = testenv::makeTempDir("back") + "/song.mp3";
    testenv::writeFile(back, QByteArray());
    ASSERT_EQ(device->copyDeviceFile(copied, VtrMacFileInfo::fileInfoWithPath(back), nullptr, nullptr), 0);
    EXPECT_EQ(testenv::readFile(back), QByteArray(3000, 's'));
}

TEST_F(PlatformDeviceOverMtp, AFileMadeOverMtpIsOnThePhoneOrReportedAsNotMade)
{
    const VtrFileInfoPtr empty = device->createFileWithPath("E:\\Music\\empty.txt", QByteArray());
    ASSERT_TRUE(empty && empty->exists());
    const uint32_t id = phoneA->objectIdForPath(kCard, "Music/empty.txt");
    ASSERT_NE(id, 0u);
    EXPECT_EQ(phoneA->object(id)->size, 0);
    ASSERT_TRUE(device->createFileWithPath("E:\\Music\\note.txt", "hello"));
    EXPECT_EQ(phoneA->contents(phoneA->objectIdForPath(kCard, "Music/note.txt")), "hello");

    const QVariantMap saved{{"originalPath", "E:\\Music\\saved.txt"},
                            {"memoryType", 2},
                            {"volumeStandardPath", "E:\\"},
                            {"volumeRelativeStandardPath", "Music/saved.txt"},
                            {"isFile", true}};
    const VtrFileInfoPtr made = device->fileInfoWithSavedInfo(saved, true);
    ASSERT_TRUE(made && made->exists());
    EXPECT_NE(phoneA->objectIdForPath(kCard, "Music/saved.txt"), 0u);

    // A phone that refuses the file: nothing is reported as made.
    ASSERT_TRUE(sim->failCall("LIBMTP_Send_File_From_Handler", 1, -1));
    EXPECT_EQ(device->createFileWithPath("E:\\Music\\refused.txt", QByteArray()), nullptr);
    EXPECT_FALSE(device->deviceFileInfoWithPath("E:\\Music\\refused.txt")->exists());
    QVariantMap refused = saved;
    refused["volumeRelativeStandardPath"] = "Music/refused.txt";
    EXPECT_EQ(device->fileInfoWithSavedInfo(refused, true), nullptr);
    sim->clearFaults();
}
