// Loading, merging and looking up the device list.
#include "devices/devicelist/DeviceListCrypto.h"
#include "devices/devicelist/VtrDeviceList.h"
#include "devices/usb/FakeUdevSource.h"
#include "fileinfo/VtrMacFileInfo.h"
#include "foundation/Json.h"
#include "foundation/Log.h"
#include "platform/Folders.h"

#include "TestEnvironment.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

using vtr::udev::FakeUdevSource;

namespace {

QVariantMap parse(const char *json)
{
    return vtr::JSONValue(QString::fromUtf8(json)).toMap();
}

QByteArray encrypted(const QVariantMap &document)
{
    return vtr::AES256EncryptWithKeyData(vtr::JSONRepresentation(document).toUtf8(), vtr::deviceListKeyData());
}

QVariantMap document(int revision, const QString &origin)
{
    QVariantMap doc = parse(R"json({
        "SupportedDevices": {
            "1452": {"VID": "0x5ac", "VendorName": "Apple Inc.",
                     "4776": {"deviceName": "iPhone 5", "validDevices": ["iPhone"]},
                     "0": {"deviceName": "Apple device"}},
            "8888": {"VID": "0x22b8", "VendorName": "Motorola",
                     "11906": {"deviceName": "Motorola phone"}}
        },
        "SupportSourceDevices": {
            "1452": {"4776": {"deviceName": "iPhone (source)"}}
        },
        "MotorolaUSBProductStringsToDeviceNames": {"XT1032": {"deviceName": "Moto G", "volumeName": "MOTO"}},
        "excludedDeviceNames": ["iPad", 7],
        "Bluetooth": {"any": "thing"}
    })json");
    doc.insert(QStringLiteral("revision"), revision);
    doc.insert(QStringLiteral("origin"), origin);
    return doc;
}

class DeviceListTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        dataFolder = testenv::makeTempDir(QStringLiteral("data"));
        resources = testenv::makeTempDir(QStringLiteral("resources"));
        platform::setDataFolderOverride(dataFolder);
        VtrDeviceList::setResourceFolderOverride(resources);
        fake = std::make_shared<FakeUdevSource>();
        vtr::udev::setDefaultSource(fake);
    }
    void TearDown() override
    {
        vtr::udev::setDefaultSource(nullptr);
        VtrDeviceList::setResourceFolderOverride(QString());
        VtrDeviceList::setSupportedDevicesKeyname(QString());
        platform::setDataFolderOverride(QString());
    }

    void ship(const QVariantMap &doc)
    {
        testenv::writeFile(resources + QStringLiteral("/Settings.slvn"), encrypted(doc));
    }
    void download(const QByteArray &bytes) { testenv::writeFile(dataFolder + QStringLiteral("/Settings.slvn"), bytes); }
    void additions(const char *json)
    {
        testenv::writeFile(dataFolder + QStringLiteral("/UnsupportedDeviceList.json"), QByteArray(json));
    }

    QString dataFolder;
    QString resources;
    std::shared_ptr<FakeUdevSource> fake;
};

TEST_F(DeviceListTest, TheHigherRevisionWinsAndEqualKeepsTheShippedList)
{
    ship(document(7, QStringLiteral("shipped")));
    download(encrypted(document(7, QStringLiteral("downloaded"))));
    EXPECT_EQ(VtrDeviceList().info().value(QStringLiteral("origin")), QStringLiteral("shipped"));

    download(encrypted(document(8, QStringLiteral("downloaded"))));
    EXPECT_EQ(VtrDeviceList().info().value(QStringLiteral("origin")), QStringLiteral("downloaded"));

    // A numeric text counts as a number.
    QVariantMap textual = document(0, QStringLiteral("downloaded"));
    textual.insert(QStringLiteral("revision"), QStringLiteral("9"));
    download(encrypted(textual));
    EXPECT_EQ(VtrDeviceList().info().value(QStringLiteral("origin")), QStringLiteral("downloaded"));
    // Spaces around it as well.
    textual.insert(QStringLiteral("revision"), QStringLiteral(" 10 "));
    EXPECT_EQ(vtr::deviceListRevision(textual), 10);

    // Not decryptable, or decrypting to something that is not a JSON object:
    // as if absent.
    download(QByteArray(48, 'x'));
    EXPECT_EQ(VtrDeviceList().info().value(QStringLiteral("origin")), QStringLiteral("shipped"));
    download(vtr::AES256EncryptWithKeyData("[1, 2, 3]", vtr::deviceListKeyData()));
    EXPECT_EQ(VtrDeviceList().info().value(QStringLiteral("origin")), QStringLiteral("shipped"));

    QFile::remove(resources + QStringLiteral("/Settings.slvn"));
    QFile::remove(dataFolder + QStringLiteral("/Settings.slvn"));
    VtrDeviceList empty;
    EXPECT_TRUE(empty.info().isEmpty());
    EXPECT_FALSE(empty.infoForDeviceWithUSBVendorID(1452, 4776, QString()));
}

TEST_F(DeviceListTest, UserAdditionsJoinTheSectionWithoutOverridingTheList)
{
    ship(document(3, QStringLiteral("shipped")));
    additions(R"json({"SupportedDevices": {
        "1452": {"VID": "0x5ac", "4776": {"deviceName": "mine"}, "4777": {"deviceName": "new iPhone"}},
        "4660": {"VID": "0x1234", "VendorName": "Someone", "22136": {"deviceName": "Gadget"}}
    }, "SupportSourceDevices": {"9999": {"1": {}}}})json");
    VtrDeviceList list;
    const QVariantMap section = list.vendorsInfo();
    const QVariantMap apple = section.value(QStringLiteral("1452")).toMap();
    EXPECT_EQ(apple.value(QStringLiteral("4776")).toMap().value(QStringLiteral("deviceName")),
              QStringLiteral("iPhone 5"));
    EXPECT_EQ(apple.value(QStringLiteral("4777")).toMap().value(QStringLiteral("deviceName")),
              QStringLiteral("new iPhone"));
    EXPECT_EQ(apple.value(QStringLiteral("VID")), QStringLiteral("0x5ac"));
    const QVariantMap added = section.value(QStringLiteral("4660")).toMap();
    EXPECT_EQ(added.value(QStringLiteral("22136")).toMap().value(QStringLiteral("deviceName")),
              QStringLiteral("Gadget"));
    EXPECT_FALSE(added.contains(QStringLiteral("VID")));
    EXPECT_FALSE(added.contains(QStringLiteral("VendorName")));
    // Only the current section takes additions.
    EXPECT_FALSE(list.info().value(QStringLiteral("SupportSourceDevices")).toMap().contains(QStringLiteral("9999")));

    // A section the list lacks takes nothing from the additions.
    VtrDeviceList::setSupportedDevicesKeyname(QStringLiteral("AllSupportedDevices"));
    additions(R"json({"AllSupportedDevices": {"4660": {"1": {"deviceName": "x"}}}})json");
    EXPECT_FALSE(VtrDeviceList().info().contains(QStringLiteral("AllSupportedDevices")));
}

TEST_F(DeviceListTest, LookupsFollowTheirSectionAndAddTheUsbFacts)
{
    ship(document(3, QStringLiteral("shipped")));
    fake->addNode(FakeUdevSource::usbDevice(QStringLiteral("/sys/devices/usb1"), QStringLiteral("1-1"), 0x05ac, 0x12a8,
                                            QStringLiteral("iPhone"), QStringLiteral("ABC123")));
    VtrDeviceList list;

    std::optional<QVariantMap> entry = list.infoForDeviceWithUSBVendorID(1452, 4776, QStringLiteral("iPhone"));
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->value(QStringLiteral("deviceName")), QStringLiteral("iPhone 5"));
    EXPECT_EQ(entry->value(QStringLiteral("vendorID")).toInt(), 1452);
    EXPECT_EQ(entry->value(QStringLiteral("productID")).toInt(), 4776);
    EXPECT_EQ(entry->value(QStringLiteral("serialNumber")), QStringLiteral("ABC123"));
    EXPECT_EQ(entry->value(QStringLiteral("usbProductString")), QStringLiteral("iPhone"));

    // "validDevices" admits only the exact product strings it names.
    EXPECT_FALSE(list.infoForDeviceWithUSBVendorID(1452, 4776, QStringLiteral("iphone")));
    // Excluded names in any letter case; non-text elements are ignored.
    EXPECT_FALSE(list.infoForDeviceWithUSBVendorID(1452, 0, QStringLiteral("IPAD")));
    // An empty or null product string skips exclusion and "validDevices".
    for (const QString &none : {QString(), QStringLiteral("")}) {
        entry = list.infoForDeviceWithUSBVendorID(1452, 4776, none);
        ASSERT_TRUE(entry);
        EXPECT_FALSE(entry->contains(QStringLiteral("usbProductString")));
    }

    // Product 0 is the vendor-wide entry; without an attached device no serial number.
    entry = list.infoForDeviceWithUSBVendorID(1452, 0, QStringLiteral("Apple TV"));
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->value(QStringLiteral("deviceName")), QStringLiteral("Apple device"));
    EXPECT_FALSE(entry->contains(QStringLiteral("serialNumber")));
    EXPECT_FALSE(list.infoForDeviceWithUSBVendorID(1452, 1, QString()));
    EXPECT_FALSE(list.infoForDeviceWithUSBVendorID(4042, 0, QString()));

    // A known product string renames the entry.
    entry = list.infoForDeviceWithUSBVendorID(8888, 11906, QStringLiteral("XT1032"));
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->value(QStringLiteral("deviceName")), QStringLiteral("Moto G"));
    EXPECT_EQ(entry->value(QStringLiteral("volumeName")), QStringLiteral("MOTO"));

    // Named sections; the default one follows the class-wide name.
    entry =
        list.infoForDeviceWithUSBVendorID(1452, 4776, QStringLiteral("iPhone"), QStringLiteral("SupportSourceDevices"));
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->value(QStringLiteral("deviceName")), QStringLiteral("iPhone (source)"));
    EXPECT_FALSE(list.infoForDeviceWithUSBVendorID(1452, 4776, QString(), QStringLiteral("Nowhere")));
    VtrDeviceList::setSupportedDevicesKeyname(QStringLiteral("SupportSourceDevices"));
    EXPECT_EQ(list.infoForDeviceWithUSBVendorID(1452, 4776, QString())->value(QStringLiteral("deviceName")),
              QStringLiteral("iPhone (source)"));
    EXPECT_TRUE(list.vendorsInfo().contains(QStringLiteral("1452")));
    EXPECT_EQ(list.bluetoothMap().toMap().value(QStringLiteral("any")), QStringLiteral("thing"));
    EXPECT_EQ(list.excludedDeviceNames().size(), 2);
}

// The wizard asks the source section first (product, then vendor-wide), then
// the default section with the product and, failing that, vendor-wide.
std::optional<QVariantMap> wizardLookup(const VtrDeviceList &list, int vendor, int product, const QString &name)
{
    std::optional<QVariantMap> entry =
        list.infoForDeviceWithUSBVendorID(vendor, product, name, QStringLiteral("SupportSourceDevices"));
    if (!entry) entry = list.infoForDeviceWithUSBVendorID(vendor, 0, name, QStringLiteral("SupportSourceDevices"));
    if (entry || vendor == 1452 || vendor == 4042) return entry;
    entry = list.infoForDeviceWithUSBVendorID(vendor, product, name);
    if (!entry) entry = list.infoForDeviceWithUSBVendorID(vendor, 0, QString());
    return entry;
}

TEST_F(DeviceListTest, TheShippedListAnswersTheWizardsQuestions)
{
    VtrDeviceList::setResourceFolderOverride(QString());
    VtrDeviceList::setSupportedDevicesKeyname(QStringLiteral("AllSupportedDevices"));
    VtrDeviceList list;
    const QVariantMap info = list.info();

    // The compiled-in list is the repository's plain source, encrypted.
    QFile source(QStringLiteral(VTR_TEST_SOURCE_DIR "/../resources/Settings.json"));
    ASSERT_TRUE(source.open(QIODevice::ReadOnly));
    const QVariantMap plain = vtr::JSONValueFromUtf8(source.readAll()).toMap();
    ASSERT_GT(vtr::deviceListRevision(plain), 0);
    EXPECT_EQ(vtr::deviceListRevision(info), vtr::deviceListRevision(plain));
    EXPECT_EQ(info.value(QStringLiteral("AllSupportedDevices")), plain.value(QStringLiteral("AllSupportedDevices")));

    std::optional<QVariantMap> entry = wizardLookup(list, 1452, 4776, QStringLiteral("iPhone"));
    ASSERT_TRUE(entry);
    EXPECT_TRUE(entry->value(QStringLiteral("deviceName")).toString().startsWith(QStringLiteral("iPhone")));
    EXPECT_FALSE(wizardLookup(list, 1452, 4776, QStringLiteral("iPad")));
    EXPECT_FALSE(wizardLookup(list, 1452, 0x12ab, QStringLiteral("iPad")));
    entry = wizardLookup(list, 4042, 0x7777, QString()); // an unknown BlackBerry: the vendor-wide entry
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->value(QStringLiteral("productID")).toInt(), 0);
    entry = wizardLookup(list, 0x04e8, 0x6860, QStringLiteral("SAMSUNG_Android"));
    ASSERT_TRUE(entry);
    EXPECT_NE(entry->value(QStringLiteral("productID")).toInt(), 0);
    EXPECT_TRUE(entry->value(QStringLiteral("musicInfo")).toMap().contains(QStringLiteral("playlistFormat")));
    entry = wizardLookup(list, 0x04e8, 0x0001, QStringLiteral("SAMSUNG_Android"));
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->value(QStringLiteral("productID")).toInt(), 0);
    EXPECT_FALSE(wizardLookup(list, 0x1234, 0x0001, QString()));

    // The plain list of mass-storage phones ships beside it.
    QFile plainList(VtrDeviceList::resourceFolder() + QStringLiteral("/DeviceList.json"));
    ASSERT_TRUE(plainList.open(QIODevice::ReadOnly));
    EXPECT_TRUE(vtr::JSONValueFromUtf8(plainList.readAll()).toMap().contains(QStringLiteral("SupportedDevices")));
    EXPECT_TRUE(QFile::exists(VtrDeviceList::resourceFolder() + QStringLiteral("/UnsupportedDeviceList.json")));
}

TEST_F(DeviceListTest, NamesUpToTheirLimitAreKeptAndLongerOnesDropped)
{
    const auto entry = [](int length) {
        return QVariantMap{{"deviceName", QString(length, QLatin1Char('n'))},
                           {"largeImageURL", "http://host/images/" + QString(length - 4, QLatin1Char('p')) + ".png"}};
    };
    ship(QVariantMap{{"revision", 1},
                     {"SupportedDevices", QVariantMap{{"1", QVariantMap{{"1", entry(255)}, {"2", entry(256)}}}}}});
    const QVariantMap vendor = VtrDeviceList().vendorsInfo().value(QStringLiteral("1")).toMap();
    for (const char *key : {"deviceName", "largeImageURL"}) {
        EXPECT_TRUE(vendor.value(QStringLiteral("1")).toMap().contains(QLatin1String(key))) << key;
        EXPECT_FALSE(vendor.value(QStringLiteral("2")).toMap().contains(QLatin1String(key))) << key;
    }
}

TEST_F(DeviceListTest, ValuesThatWouldReachPathsOrUrlsAreChecked)
{
    QVariantMap doc = parse(R"json({"revision": 1, "SupportedDevices": {"1": {
        "1": {"largeImageURL": "http://www.vantrel.com/DeviceImages/Phone.png",
              "mediaFolderPathOnCard": "E:\\Media", "cardDrivePrefix": "E:\\",
              "musicInfo": {"exportPath": "Music\\Pop", "importPath": "..\\..\\Windows",
                            "playlistPath": "C:\\Playlists", "podcastExportPath": "Pod/./casts",
                            "playlistFormat": "mtp", "playlistFileExtension": "m3u"}},
        "2": {"largeImageURL": "file:///etc/passwd", "cardDrivePrefix": "../",
              "mediaFolderPathInternal": "Media\\..\\..", "deviceName": "bad\u0000name",
              "musicInfo": {"playlistFileExtension": "m3u/../x"}, "photosInfo": "not a dictionary",
              "validDevices": "iPhone"},
        "3": {"largeImageURL": "http://host/images/..", "volumeName": 12},
        "4": {"largeImageURL": "https://host/a%2Fb.png"}
    }}, "MotorolaUSBProductStringsToDeviceNames": {"X": {"largeImageURL": "ftp://host/x.png"}}})json");
    ship(doc);
    VtrDeviceList list;
    const QVariantMap vendor = list.vendorsInfo().value(QStringLiteral("1")).toMap();
    const QVariantMap good = vendor.value(QStringLiteral("1")).toMap();
    EXPECT_EQ(good.value(QStringLiteral("largeImageURL")),
              QStringLiteral("http://www.vantrel.com/DeviceImages/Phone.png"));
    EXPECT_EQ(good.value(QStringLiteral("mediaFolderPathOnCard")), QStringLiteral("E:\\Media"));
    EXPECT_EQ(good.value(QStringLiteral("cardDrivePrefix")), QStringLiteral("E:\\"));
    const QVariantMap music = good.value(QStringLiteral("musicInfo")).toMap();
    EXPECT_EQ(music.value(QStringLiteral("exportPath")), QStringLiteral("Music\\Pop"));
    EXPECT_FALSE(music.contains(QStringLiteral("importPath")));
    EXPECT_FALSE(music.contains(QStringLiteral("playlistPath")));
    EXPECT_FALSE(music.contains(QStringLiteral("podcastExportPath")));
    EXPECT_EQ(music.value(QStringLiteral("playlistFileExtension")), QStringLiteral("m3u"));

    const QVariantMap bad = vendor.value(QStringLiteral("2")).toMap();
    for (const char *key : {"largeImageURL", "cardDrivePrefix", "mediaFolderPathInternal", "deviceName", "photosInfo"})
        EXPECT_FALSE(bad.contains(QLatin1String(key))) << key;
    EXPECT_FALSE(bad.value(QStringLiteral("musicInfo")).toMap().contains(QStringLiteral("playlistFileExtension")));
    // A "validDevices" that is not a list names nothing, so it cannot widen a match.
    EXPECT_FALSE(list.infoForDeviceWithUSBVendorID(1, 2, QStringLiteral("iPhone")));
    EXPECT_FALSE(vendor.value(QStringLiteral("3")).toMap().contains(QStringLiteral("largeImageURL")));
    EXPECT_FALSE(vendor.value(QStringLiteral("3")).toMap().contains(QStringLiteral("volumeName")));
    EXPECT_FALSE(vendor.value(QStringLiteral("4")).toMap().contains(QStringLiteral("largeImageURL")));
    EXPECT_FALSE(list.usbProductStringsToDeviceNames()
                     .value(QStringLiteral("X"))
                     .toMap()
                     .contains(QStringLiteral("largeImageURL")));
}

TEST_F(DeviceListTest, AddingAProductWritesTheUserAdditions)
{
    ship(document(3, QStringLiteral("shipped")));
    fake->addNode(FakeUdevSource::usbDevice(QStringLiteral("/sys/devices/usb1"), QStringLiteral("1-1"), 0x1234, 0x0042,
                                            QStringLiteral("Gadget Phone")));
    VtrDeviceList list;
    QVariantMap product;
    product.insert(QStringLiteral("deviceName"), QStringLiteral("replaced"));
    product.insert(QStringLiteral("id"), QStringLiteral("gadget"));
    EXPECT_TRUE(list.addProductDictionaryForVendorID(0x1234, 0x0042, product));
    EXPECT_TRUE(list.addProductDictionaryForVendorID(0x1234, 0x0043, product)); // not attached

    const QVariantMap written =
        vtr::JSONValueFromUtf8(testenv::readFile(dataFolder + QStringLiteral("/UnsupportedDeviceList.json"))).toMap();
    const QVariantMap vendor =
        written.value(QStringLiteral("SupportedDevices")).toMap().value(QStringLiteral("4660")).toMap();
    EXPECT_EQ(vendor.value(QStringLiteral("VID")), QStringLiteral("0x1234"));
    EXPECT_EQ(vendor.value(QStringLiteral("66")).toMap().value(QStringLiteral("deviceName")),
              QStringLiteral("Gadget Phone"));
    EXPECT_FALSE(vendor.value(QStringLiteral("67")).toMap().contains(QStringLiteral("deviceName")));
    EXPECT_EQ(vendor.value(QStringLiteral("67")).toMap().value(QStringLiteral("id")), QStringLiteral("gadget"));

    list.reload();
    ASSERT_TRUE(list.infoForDeviceWithUSBVendorID(0x1234, 0x0042, QString()));

    // A link of the person's at the file's name: neither it nor what it
    // points to changes.
    const QString file = dataFolder + QStringLiteral("/UnsupportedDeviceList.json");
    const QString notes = testenv::makeTempDir(QStringLiteral("person")) + QStringLiteral("/notes.txt");
    testenv::writeFile(notes, "my notes");
    ASSERT_TRUE(QFile::remove(file) && QFile::link(notes, file));
    list.addProductDictionaryForVendorID(0x1234, 0x0044, product);
    EXPECT_EQ(testenv::readFile(notes), QByteArray("my notes"));
    EXPECT_EQ(QFileInfo(file).symLinkTarget(), notes);
}

TEST_F(DeviceListTest, WithoutADataFolderTheShippedListStillServes)
{
    ship(document(3, QStringLiteral("shipped")));
    const QString blocked = testenv::makeTempDir(QStringLiteral("blocked")) + QStringLiteral("/file");
    testenv::writeFile(blocked, "in the way");
    platform::setDataFolderOverride(blocked + QStringLiteral("/Solvenna to Windows Phone"));
    QStringList logged;
    LogSetSystemLogSink([&](const QString &message) { logged.append(message); });
    VtrDeviceList list;
    LogSetSystemLogSink(nullptr);
    EXPECT_TRUE(list.appSupportDeviceListFile().isNull());
    EXPECT_EQ(list.info().value(QStringLiteral("origin")), QStringLiteral("shipped"));
    ASSERT_FALSE(logged.isEmpty());
    EXPECT_TRUE(logged.first().contains(QStringLiteral("Couldn't create or use the folder \""))) << qPrintable(logged.first());
}

TEST_F(DeviceListTest, AMountedPhoneVolumeLeadsToItsEntry)
{
    ship(document(3, QStringLiteral("shipped")));
    const QString volume = testenv::makeTempDir(QStringLiteral("volume"));
    struct stat st
    {
    };
    ASSERT_EQ(::stat(QFile::encodeName(volume).constData(), &st), 0);

    // The test folder's own file system stands in for the phone's disk.
    const auto phone = FakeUdevSource::usbDevice(QStringLiteral("/sys/devices/usb1"), QStringLiteral("1-1"), 0x22b8,
                                                 0x2e82, QStringLiteral("XT1032"));
    fake->addNode(phone);
    auto disk =
        FakeUdevSource::plainNode(phone.syspath + QStringLiteral("/1-1:1.0/host3/target3:0:0/3:0:0:0/block/sdc"),
                                  QStringLiteral("block"), QStringLiteral("disk"));
    disk.devnum = st.st_dev;
    fake->addNode(disk);

    std::optional<QVariantMap> entry = VtrDeviceList().infoForDeviceAtPath(volume);
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->value(QStringLiteral("deviceName")), QStringLiteral("Moto G")); // renamed by its product string
    EXPECT_EQ(entry->value(QStringLiteral("productID")).toInt(), 0x2e82);
    EXPECT_FALSE(VtrDeviceList().infoForDeviceAtPath(volume + QStringLiteral("/missing")));

    // The mount table names the volumes to look at.
    const QString table = testenv::makeTempDir(QStringLiteral("mounts")) + QStringLiteral("/mountinfo");
    testenv::writeFile(table, QStringLiteral("22 1 0:21 / /proc rw - proc proc rw\n"
                                             "40 1 %1:%2 / /media/user/MOTO\\040G rw,nosuid - vfat /dev/sdc rw\n"
                                             "41 1 8:1 / / rw - ext4 /dev/sda1 rw\n")
                                  .arg(major(st.st_dev))
                                  .arg(minor(st.st_dev))
                                  .toUtf8());
    VtrDeviceList list;
    list.setMountTablePathForTesting(table);
    if (major(st.st_dev) == 0) GTEST_SKIP() << "the test folder is on a virtual file system";
    VtrMacFileInfo::updateMountedDeviceVolumesWithPaths({QStringLiteral("/media/user/gone")});
    EXPECT_EQ(list.supportedMountedLocalVolumePaths(), QStringList{QStringLiteral("/media/user/MOTO G")});
    // The local file infos now know the phone's volume, and only it.
    EXPECT_EQ(VtrMacFileInfo::mountedDeviceVolumePaths(), QStringList{QStringLiteral("/media/user/MOTO G")});
    VtrMacFileInfo::updateMountedDeviceVolumesWithPaths({});
}

} // namespace
