// Mass-storage volume detection over the fake registry: the plain list, the
// volume-to-entry look-ups and the volume facts.
#include "devices/devicelist/VtrDeviceList.h"
#include "devices/usb/FakeUdevSource.h"
#include "devices/usb/VolumeDetection.h"
#include "fileinfo/VtrMacFileInfo.h"
#include "foundation/Json.h"
#include "platform/Folders.h"

#include "TestEnvironment.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

using vtr::udev::FakeUdevSource;
using vtr::udev::UdevNode;

namespace {

QByteArray plainList(int revision, const char *name)
{
    QByteArray text = R"json({"revision": REV, "SupportedDevices": {
        "4042": {"VID": "0xfca", "32772": {"deviceName": "NAME", "volumeName": "BlackBerry"},
                 "0": {"deviceName": "BlackBerry"}},
        "8888": {"11906": {"deviceName": "Motorola phone", "volumeName": "MOTO"}}}})json";
    text.replace("REV", QByteArray::number(revision));
    text.replace("NAME", name);
    return text;
}

class VolumeDetectionTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        dataFolder = testenv::makeTempDir(QStringLiteral("data"));
        platform::setDataFolderOverride(dataFolder);
        const QString resources = testenv::makeTempDir(QStringLiteral("resources"));
        VtrDeviceList::setResourceFolderOverride(resources);
        shipped = resources + QStringLiteral("/DeviceList.json");
        fake = std::make_shared<FakeUdevSource>();
        vtr::udev::setDefaultSource(fake);
        volume = testenv::makeTempDir(QStringLiteral("volume"));
        struct stat st
        {
        };
        ASSERT_EQ(::stat(QFile::encodeName(volume).constData(), &st), 0);
        volumeDevice = st.st_dev;
    }
    void TearDown() override
    {
        VtrMacFileInfo::setDeviceVolumeRootsOverride(std::nullopt);
        VtrMacFileInfo::updateMountedDeviceVolumesWithPaths({});
        vtr::udev::setDefaultSource(nullptr);
        VtrDeviceList::setResourceFolderOverride(QString());
        platform::setDataFolderOverride(QString());
    }

    std::unique_ptr<VolumeDetection> detector() { return std::make_unique<VolumeDetection>(); }

    // The test folder's file system stands in for the phone's disk.
    void attachPhone(quint16 vendor, quint16 product, const QString &scsiVendor, const QString &model)
    {
        const UdevNode phone = FakeUdevSource::usbDevice(QStringLiteral("/sys/devices/usb2"), QStringLiteral("2-1"),
                                                         vendor, product, QStringLiteral("Phone"));
        fake->addNode(phone);
        UdevNode lun = FakeUdevSource::plainNode(phone.syspath + QStringLiteral("/2-1:1.0/host4/target4:0:0/4:0:0:3"),
                                                 QStringLiteral("scsi"), QStringLiteral("scsi_device"));
        if (!model.isNull()) lun.attributes.insert(QStringLiteral("model"), model + QStringLiteral("    "));
        if (!scsiVendor.isNull()) lun.attributes.insert(QStringLiteral("vendor"), scsiVendor + QStringLiteral("  "));
        fake->addNode(lun);
        UdevNode disk = FakeUdevSource::plainNode(lun.syspath + QStringLiteral("/block/sdd"), QStringLiteral("block"),
                                                  QStringLiteral("disk"));
        disk.devnum = volumeDevice;
        fake->addNode(disk);
    }

    // A mount table file listing /proc and, when asked, the test folder
    // mounted from major:minor (its path escaped as the kernel writes it).
    // A new file unless `path` is given.
    QString writeMountTable(bool withVolume, quint32 majorNumber = 0, quint32 minorNumber = 0, QString path = QString())
    {
        if (path.isEmpty()) path = testenv::makeTempDir(QStringLiteral("mounts")) + QStringLiteral("/mountinfo");
        QString text = QStringLiteral("22 1 0:21 / /proc rw - proc proc rw\n");
        if (withVolume) {
            QString escaped = volume;
            escaped.replace(QLatin1Char(' '), QStringLiteral("\\040"));
            text += QStringLiteral("40 1 %1:%2 / %3 rw,nosuid - vfat /dev/sdd rw\n")
                        .arg(majorNumber)
                        .arg(minorNumber)
                        .arg(escaped);
        }
        testenv::writeFile(path, text.toUtf8());
        return path;
    }

    QString dataFolder;
    QString shipped;
    QString volume;
    dev_t volumeDevice = 0;
    std::shared_ptr<FakeUdevSource> fake;
};

TEST_F(VolumeDetectionTest, TheWorkingCopyStaysUnlessTheShippedOneIsNewer)
{
    const QString working = dataFolder + QStringLiteral("/DeviceList.json");
    auto nameOf = [](VolumeDetection &d) {
        return d.productDictionaryForVendorID(4042, 32772).value_or(QVariantMap()).value(QStringLiteral("deviceName"));
    };
    testenv::writeFile(shipped, plainList(5, "shipped"));
    testenv::writeFile(working, plainList(5, "working"));
    EXPECT_EQ(nameOf(*detector()), QStringLiteral("working"));

    testenv::writeFile(shipped, plainList(6, "shipped"));
    EXPECT_EQ(nameOf(*detector()), QStringLiteral("shipped"));
    // The shipped copy replaced the working file.
    EXPECT_EQ(vtr::JSONValueFromUtf8(testenv::readFile(working)).toMap().value(QStringLiteral("revision")).toInt(), 6);

    QByteArray noRevision = plainList(9, "working");
    noRevision.replace("\"revision\": 9,", "");
    testenv::writeFile(working, noRevision);
    EXPECT_EQ(nameOf(*detector()), QStringLiteral("shipped"));

    // A damaged working copy falls back too; with neither there is no list.
    testenv::writeFile(working, "{\"revision\": 99, ");
    EXPECT_EQ(nameOf(*detector()), QStringLiteral("shipped"));
    QFile::remove(working);
    QFile::remove(shipped);
    auto none = detector();
    EXPECT_FALSE(none->hasDeviceList());
    EXPECT_FALSE(none->productDictionaryForVendorID(4042, 32772));
    QVariantMap saved{{QStringLiteral("x"), 1}};
    EXPECT_FALSE(none->isMountedVolumeSavedVendorID(4042, 32772, &saved));
}

TEST_F(VolumeDetectionTest, AdditionsJoinAndTheEncryptedSectionReplacesTheList)
{
    testenv::writeFile(shipped, plainList(5, "shipped"));
    testenv::writeFile(dataFolder + QStringLiteral("/UnsupportedDeviceList.json"),
                       R"json({"SupportedDevices": {"4042": {"VID": "0xfca", "32772": {"deviceName": "mine"},
                                                                  "1": {"deviceName": "old one"}}}})json");
    auto d = detector();
    EXPECT_EQ(d->productDictionaryForVendorID(4042, 32772)->value(QStringLiteral("deviceName")),
              QStringLiteral("shipped"));
    const QVariantMap added = *d->productDictionaryForVendorID(4042, 1);
    EXPECT_EQ(added.value(QStringLiteral("deviceName")), QStringLiteral("old one"));
    EXPECT_EQ(added.value(QStringLiteral("vendorID")).toUInt(), 4042u);
    EXPECT_EQ(added.value(QStringLiteral("productID")).toUInt(), 1u);

    // Names match without regard to case, by device name or volume name.
    EXPECT_EQ(d->productDictionaryForVolumeName(QStringLiteral("moto"))->value(QStringLiteral("productID")).toUInt(),
              11906u);
    EXPECT_EQ(d->productDictionaryForVolumeName(QStringLiteral("OLD ONE"))->value(QStringLiteral("vendorID")).toUInt(),
              4042u);
    EXPECT_FALSE(d->productDictionaryForVolumeName(QStringLiteral("nobody")));

    QVariantMap section{
        {QStringLiteral("1452"),
         QVariantMap{{QStringLiteral("0"), QVariantMap{{QStringLiteral("deviceName"), QStringLiteral("Apple")}}}}}};
    d->setDeviceList(section);
    EXPECT_FALSE(d->productDictionaryForVendorID(4042, 32772));
    EXPECT_TRUE(d->productDictionaryForVendorID(1452, 0));
}

TEST_F(VolumeDetectionTest, APhoneVolumeLeadsToItsEntry)
{
    testenv::writeFile(shipped, plainList(5, "shipped"));
    attachPhone(4042, 0x7777, QStringLiteral("RIM"), QStringLiteral("BlackBerry SD"));
    auto d = detector();

    // Outside the USB volume roots nothing is looked up.
    d->setVolumeRootsForTesting({QStringLiteral("/nonexistent/media")});
    EXPECT_FALSE(d->productDictionaryForVolume(volume));
    d->setVolumeRootsForTesting({volume});
    // Unknown product of a known vendor: the vendor-wide entry.
    std::optional<QVariantMap> entry = d->productDictionaryForVolume(volume + QStringLiteral("/"));
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->value(QStringLiteral("productID")).toUInt(), 0u);
    EXPECT_TRUE(d->volumeCanBeRemoved(volume)); // only the vendor-wide entry, not one for the IDs
    EXPECT_TRUE(d->volumeUnmountable(volume));
    EXPECT_FALSE(d->volumeUnmountable(dataFolder));

    quint16 vendor = 0, product = 0;
    d->volumePathToVendorAndProductID(volume, &vendor, &product);
    EXPECT_EQ(vendor, 4042);
    EXPECT_EQ(product, 0x7777);
    QVariantMap info{{QStringLiteral("stale"), true}};
    EXPECT_FALSE(d->isDeviceVolumeForPath(volume, &info, &vendor, &product));
    EXPECT_TRUE(info.isEmpty());
    EXPECT_TRUE(d->isVolumeMountedForVendorID(0, 0x7777));
    EXPECT_TRUE(d->isVolumeMountedForVendorID(4042, 0));
    EXPECT_FALSE(d->isVolumeMountedForVendorID(4042, 1));
    EXPECT_FALSE(d->isVolumeMountedForVendorID(0, 0));

    EXPECT_EQ(d->volumeLUN(volume), 3);
    EXPECT_EQ(d->copyDaVolumeNameForPath(volume), QStringLiteral("RIM BlackBerry SD"));
    EXPECT_GT(d->volumeSize(volume), 0);
    EXPECT_GE(d->volumeFreespace(volume), 0);
    EXPECT_LE(d->volumeFreespace(volume), d->volumeSize(volume));
    EXPECT_TRUE(VolumeDetection::volumeWriteableAtPath(volume));
}

TEST_F(VolumeDetectionTest, AKnownPhoneIsADeviceVolume)
{
    testenv::writeFile(shipped, plainList(5, "shipped"));
    attachPhone(8888, 11906, QString(), QString());
    const QString table = writeMountTable(true, major(volumeDevice), minor(volumeDevice));
    auto d = detector();
    d->setMountTablePathForTesting(table);
    QVariantMap info;
    quint16 vendor = 0, product = 0;
    EXPECT_TRUE(d->isDeviceVolumeForPath(volume, &info, &vendor, &product));
    EXPECT_EQ(info.value(QStringLiteral("volumeName")), QStringLiteral("MOTO"));
    EXPECT_EQ(vendor, 8888);
    EXPECT_FALSE(d->volumeCanBeRemoved(volume));
    // No model reported: the volume's own name.
    EXPECT_EQ(d->copyDaVolumeNameForPath(volume), QFileInfo(volume).fileName());
    EXPECT_EQ(d->volumeName(volume), QFileInfo(volume).fileName());
    if (major(volumeDevice) != 0) {
        EXPECT_EQ(d->scanRemoveableVolumesForDevices(), QStringList{volume});
        EXPECT_EQ(d->volumeRoots(), QStringList{volume});
    }
}

// The identifier of a phone volume is the local file info's: made once,
// kept under the volume's name, and beaten by a marker on the volume.
TEST_F(VolumeDetectionTest, AVolumeIdentifierIsTheLocalFileInfos)
{
    testenv::writeFile(shipped, plainList(5, "shipped"));
    attachPhone(4042, 32772, QStringLiteral("RIM"), QStringLiteral("BlackBerry SD"));
    auto d = detector();
    d->setVolumeRootsForTesting({volume});
    VtrMacFileInfo::setDeviceVolumeRootsOverride(QStringList{volume});
    const QString store = dataFolder + QStringLiteral("/Mac File Systems/Volume uuids.plist");

    EXPECT_TRUE(d->getIdentifierForVolume(dataFolder, true).isNull());
    // Answering the phone's entry made the identifier on the way.
    ASSERT_TRUE(d->productDictionaryForVolume(volume));
    ASSERT_TRUE(QFile::exists(store));
    const QString id = d->getIdentifierForVolume(volume + QStringLiteral("/DCIM/100MEDIA"), false);
    EXPECT_EQ(id.size(), 36);
    EXPECT_TRUE(testenv::readFile(store).contains(id.toUtf8()));
    EXPECT_TRUE(testenv::readFile(store).contains(QFileInfo(volume).fileName().toUtf8()));
    EXPECT_EQ(d->getIdentifierForVolume(volume, true), id);
    EXPECT_FALSE(d->volumeCanBeRemoved(volume));
    EXPECT_EQ(d->getIdentifierForVolume(volume, true), id);

    const QString marker = QStringLiteral("0A1B2C3D-0000-4000-8000-00000000000F");
    testenv::writeFile(volume + QStringLiteral("/Migration Info/filesystem/") + marker + QStringLiteral(".uuid"), "");
    EXPECT_EQ(d->getIdentifierForVolume(volume, true), marker);
}

// A scan tells the local file infos which mounted volumes are phones, and
// forgets those that are gone.
TEST_F(VolumeDetectionTest, AScanHandsThePhoneVolumesToTheLocalFileInfos)
{
    testenv::writeFile(shipped, plainList(5, "shipped"));
    attachPhone(8888, 11906, QString(), QString());
    // The look-up goes by the folder's own device: the numbers in the table
    // only tell a disk from a virtual file system.
    const QString table = writeMountTable(true, 8, 48);
    VtrMacFileInfo::updateMountedDeviceVolumesWithPaths({QStringLiteral("/media/user/gone")});
    auto d = detector();
    d->setMountTablePathForTesting(table);

    EXPECT_EQ(d->scanRemoveableVolumesForDevices(), QStringList{volume});
    EXPECT_EQ(VtrMacFileInfo::mountedDeviceVolumePaths(), QStringList{volume});
    EXPECT_EQ(VtrMacFileInfo::fileInfoWithPath(volume + QStringLiteral("/DCIM/a.jpg"))->volume()->path(), volume);

    writeMountTable(false, 0, 0, table);
    EXPECT_TRUE(d->scanRemoveableVolumesForDevices().isEmpty());
    EXPECT_TRUE(VtrMacFileInfo::mountedDeviceVolumePaths().isEmpty());
}

TEST_F(VolumeDetectionTest, PathsThatAreNoVolumesAnswerNothing)
{
    testenv::writeFile(shipped, plainList(5, "shipped"));
    auto d = detector();
    const QString missing = volume + QStringLiteral("/missing");
    EXPECT_EQ(d->volumeLUN(missing), -1);
    EXPECT_EQ(d->volumeLUN(volume), -1); // on a disk the registry does not know
    EXPECT_TRUE(d->copyDaVolumeNameForPath(missing).isNull());
    EXPECT_EQ(d->volumeSize(missing), 0);
    EXPECT_EQ(d->volumeFreespace(missing), 0);
    EXPECT_FALSE(VolumeDetection::volumeWriteableAtPath(missing));
    EXPECT_TRUE(d->volumeCanBeRemoved(volume));
    QVariantMap info{{QStringLiteral("stale"), true}};
    EXPECT_FALSE(d->isDeviceVolumeForPath(volume, &info));
    EXPECT_TRUE(info.isEmpty());
    EXPECT_TRUE(d->scanRemoveableVolumesForDevices().isEmpty());

    // A disk without a model and a volume the mount table does not list.
    UdevNode disk = FakeUdevSource::plainNode(QStringLiteral("/sys/devices/virtual/block/loop3"),
                                              QStringLiteral("block"), QStringLiteral("disk"));
    disk.devnum = volumeDevice;
    fake->addNode(disk);
    d->setMountTablePathForTesting(testenv::makeTempDir() + QStringLiteral("/none"));
    EXPECT_EQ(d->copyDaVolumeNameForPath(volume), QStringLiteral("<untitled>"));
}

TEST_F(VolumeDetectionTest, AddingAProductWritesTheAdditionsAtomically)
{
    testenv::writeFile(shipped, plainList(5, "shipped"));
    fake->addNode(FakeUdevSource::usbDevice(QStringLiteral("/sys/devices/usb1"), QStringLiteral("1-1"), 0x22b8, 0x41db,
                                            QStringLiteral("Droid")));
    auto d = detector();
    EXPECT_TRUE(
        d->addProductDictionaryForVendorID(0x22b8, 0x41db, {{QStringLiteral("volumeName"), QStringLiteral("MOTO")}}));
    d->loadDeviceList();
    const std::optional<QVariantMap> entry = d->productDictionaryForVendorID(0x22b8, 0x41db);
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->value(QStringLiteral("deviceName")), QStringLiteral("Droid"));
    // A file in the way of the data folder: the write fails and says so.
    const QString blocked = testenv::makeTempDir(QStringLiteral("blocked")) + QStringLiteral("/file");
    testenv::writeFile(blocked, "x");
    platform::setDataFolderOverride(blocked + QStringLiteral("/sub"));
    EXPECT_FALSE(d->addProductDictionaryForVendorID(0x22b8, 0x41db, {}));
}

} // namespace
