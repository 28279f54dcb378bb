// iPhone backup folders: identity, dates, current backups and the file list
// that maps 40-digit files back to the phone through the two manifests.
// Runs again under odd time zones (scripts/test.sh): it reads or writes dates.
#include "fileinfo/VtrMacFileInfo.h"
#include "platform/UserDefaults.h"
#include "sources/iphone/ByteCursor.h"
#include "sources/iphone/MbdbReader.h"
#include "sources/iphone/PropertyList.h"
#include "sources/iphone/iOSBackup.h"
#include "sources/iphone/iPhoneBackupFolders.h"
#include "support/BackupFixtures.h"

#include "TestEnvironment.h"

#include <QDir>
#include <QTimeZone>

#include <gtest/gtest.h>

using fixtures::MbdbEntry;
using fixtures::MbdxEntry;

namespace {

class IOSBackupTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_root = testenv::makeTempDir(QStringLiteral("backups"));
        platform::UserDefaults::setValue(QString::fromLatin1(vtr::iphone::kBackupFoldersDefaultsKey),
                                         QStringList{m_root});
    }
    void TearDown() override
    {
        platform::UserDefaults::remove(QString::fromLatin1(vtr::iphone::kBackupFoldersDefaultsKey));
    }

    QString makeBackup(const QString &name, const QDateTime &date, bool binary = true)
    {
        const QString folder = m_root + QLatin1Char('/') + name;
        QVariantMap info;
        info.insert(QStringLiteral("Unique Identifier"), name.section(QLatin1Char('-'), 0, 0));
        info.insert(QStringLiteral("Display Name"), QStringLiteral("Phone %1").arg(name));
        info.insert(QStringLiteral("Serial Number"), QStringLiteral("SN-%1").arg(name));
        info.insert(QStringLiteral("Product Version"), QStringLiteral("4.3.1"));
        QVariantMap settings;
        settings.insert(QStringLiteral("LibraryApplications"),
                        QVariantList{QStringLiteral("com.example.maps"), QStringLiteral("org.sample.Notes")});
        info.insert(QStringLiteral("iTunes Settings"), settings);
        testenv::writeFile(folder + QStringLiteral("/Info.plist"), fixtures::plistData(info, !binary));
        QVariantMap status;
        status.insert(QStringLiteral("Date"), date);
        status.insert(QStringLiteral("IsFullBackup"), true);
        testenv::writeFile(folder + QStringLiteral("/Status.plist"), fixtures::plistData(status, binary));
        return folder;
    }

    QString m_root;
};

QDateTime day(int d)
{
    return QDateTime(QDate(2011, 3, d), QTime(12, 0), QTimeZone::utc());
}

QString hexName(char seed)
{
    return QString::fromLatin1(QByteArray(20, seed).toHex());
}

} // namespace

TEST_F(IOSBackupTest, ListsBackupsAndPicksTheLatestCurrentOne)
{
    makeBackup(QStringLiteral("aaa111"), day(4), true);
    makeBackup(QStringLiteral("aaa111-20110310-101010"), day(10), false);
    makeBackup(QStringLiteral("bbb222"), day(4), false);
    testenv::writeFile(m_root + QStringLiteral("/notes.txt"), "not a backup");
    QDir().mkpath(m_root + QStringLiteral("/ccc333")); // no property lists at all

    const QList<iOSBackup::Ptr> backups = iOSBackup::iOSBackups();
    ASSERT_EQ(backups.size(), 4);
    EXPECT_EQ(backups[0]->deviceID(), QStringLiteral("aaa111"));
    EXPECT_EQ(backups[0]->deviceName(), QStringLiteral("Phone aaa111"));
    EXPECT_EQ(backups[0]->deviceSerialNumber(), QStringLiteral("SN-aaa111"));
    EXPECT_EQ(backups[0]->productVersion(), QStringLiteral("4.3.1"));
    EXPECT_EQ(backups[0]->lastBackupDate(), day(4));
    EXPECT_TRUE(backups[0]->isFullBackup());
    EXPECT_TRUE(backups[0]->isCurrentBackup());
    EXPECT_FALSE(backups[1]->isCurrentBackup());
    EXPECT_EQ(backups[1]->lastBackupDate(), day(10)) << "XML status list";
    ASSERT_EQ(backups[0]->deviceApps().size(), 2);
    EXPECT_EQ(backups[0]->deviceApps()[1].appID(), QStringLiteral("org.sample.Notes"));

    const iOSBackup::Ptr bare = backups[3];
    EXPECT_TRUE(bare->deviceID().isEmpty());
    EXPECT_FALSE(bare->lastBackupDate().isValid());
    EXPECT_FALSE(bare->isFullBackup());
    EXPECT_TRUE(bare->deviceApps().isEmpty());
    EXPECT_TRUE(bare->deviceFiles().isEmpty()) << "no manifests";

    // The dated copy is newer but not current; of the equal dates the first listed wins.
    const iOSBackup::Ptr latest = iOSBackup::latestBackup();
    ASSERT_TRUE(latest);
    EXPECT_EQ(latest->deviceID(), QStringLiteral("aaa111"));
}

TEST_F(IOSBackupTest, NoCurrentBackupMeansNoLatest)
{
    makeBackup(QStringLiteral("aaa111-20110310-101010"), day(10));
    EXPECT_EQ(iOSBackup::iOSBackups().size(), 1);
    EXPECT_EQ(iOSBackup::latestBackup(), nullptr);
}

TEST_F(IOSBackupTest, FileListMapsNamesThroughIndexAndDatabase)
{
    const QString folder = makeBackup(QStringLiteral("aaa111"), day(4));
    const QList<MbdbEntry> records = {
        {"CameraRollDomain", "Media/DCIM/100APPLE/IMG_0001.jpg", {}, false, 0x81A4, 0, {}}, // 0
        {"MediaDomain", "Media/DCIM/100APPLE/IMG_0002.MOV", {}, false, 0x81A4, 0, {}},      // 1
        {"HomeDomain", "", {}, false, 0x41ED, 0, {}},                                        // 2: empty path
        {"HomeDomain", "Library/SMS/sms.db", {}, false, 0x81A4, 0, {}},                      // 3
        {"MediaDomain", "DCIM/IMG_0003.JPG", {}, false, 0x81A4, 0, {}},                      // 4: no slash before
        {"", "Media/DCIM/x/clip.3gp", {}, false, 0x81A4, 0, {}},                             // 5: no domain
    };
    const QList<quint32> at = fixtures::mbdbOffsets(records);
    QList<MbdxEntry> index = {
        {QByteArray(20, '\x11'), at[0]},
        {QByteArray(20, '\xab'), at[1]},
        {QByteArray(20, '\x33'), at[2]}, // first occurrence: empty path, so the search goes on
        {QByteArray(20, '\x44'), at[4]},
        {QByteArray(20, '\x55'), 0x7fffffff}, // record outside the database
        {QByteArray(20, '\x33'), at[3]},
        {QByteArray(20, '\x66'), at[5]},
    };
    QByteArray indexFile = fixtures::mbdxFile(index);
    indexFile.insert(10, "\x01"); // the keys no longer sit on record boundaries
    indexFile += QByteArray(20, '\x77') + "\x00\x00"; // a key without room for its offset
    testenv::writeFile(folder + QStringLiteral("/Manifest.mbdx"), indexFile);
    testenv::writeFile(folder + QStringLiteral("/Manifest.mbdb"), fixtures::mbdbFile(records));

    for (char c : {'\x11', '\x33', '\x44', '\x55', '\x66', '\x77', '\x88'})
        testenv::writeFile(folder + QLatin1Char('/') + hexName(c), "data");
    testenv::writeFile(folder + QLatin1Char('/') + hexName('\xab').toUpper(), "video");
    testenv::writeFile(folder + QLatin1Char('/') + hexName('\x11').left(39), "short");
    testenv::writeFile(folder + QLatin1Char('/') + hexName('\x11') + QLatin1Char('0'), "long");
    QDir().mkpath(folder + QLatin1Char('/') + hexName('\x44').replace(0, 2, QStringLiteral("45")));

    iOSBackup::Ptr backup = iOSBackup::initWithBackupFolder(VtrMacFileInfo::fileInfoWithPath(folder));
    const QList<iOSFile> &files = backup->deviceFiles();
    QStringList paths;
    for (const iOSFile &file : files) paths.append(file.deviceDomain() + QLatin1Char('|') + file.deviceFilepath());
    EXPECT_EQ(paths, (QStringList{
                         QStringLiteral("CameraRollDomain|Media/DCIM/100APPLE/IMG_0001.jpg"),
                         QStringLiteral("HomeDomain|Library/SMS/sms.db"),
                         QStringLiteral("MediaDomain|DCIM/IMG_0003.JPG"),
                         QStringLiteral("|Media/DCIM/x/clip.3gp"),
                         QStringLiteral("MediaDomain|Media/DCIM/100APPLE/IMG_0002.MOV"),
                     }));
    ASSERT_EQ(files.size(), 5);
    EXPECT_EQ(files[4].contents(), QByteArray("video"));
    EXPECT_EQ(files[4].deviceFilename(), QStringLiteral("IMG_0002.MOV"));

    QStringList photos;
    for (const iOSFile &file : backup->photosCapturedOnDevice()) photos.append(file.deviceFilename());
    QStringList videos;
    for (const iOSFile &file : backup->videosCapturedOnDevice()) videos.append(file.deviceFilename());
    EXPECT_EQ(photos, QStringList{QStringLiteral("IMG_0001.jpg")});
    EXPECT_EQ(videos, (QStringList{QStringLiteral("clip.3gp"), QStringLiteral("IMG_0002.MOV")}));

    QFile::remove(folder + QStringLiteral("/Manifest.mbdb"));
    EXPECT_EQ(&backup->deviceFiles(), &files) << "built once and kept";
    EXPECT_EQ(backup->deviceFiles().size(), 5);
}

// Newer backups name the phone's apps under "Installed Applications" and
// carry a date in "Info.plist" too, some without any "Status.plist": the
// status list's date is the backup's whenever there is one.
TEST_F(IOSBackupTest, NewerInfoListsGiveAppsAndDate)
{
    const QString folder = makeBackup(QStringLiteral("ccc333"), day(4));
    QVariantMap info = vtr::plist::dictionaryFromFile(folder + QStringLiteral("/Info.plist"));
    info.insert(QStringLiteral("Installed Applications"),
                QVariantList{QStringLiteral("org.sample.Notes"), QStringLiteral("net.other.Game")});
    info.insert(QStringLiteral("Last Backup Date"), day(20));
    testenv::writeFile(folder + QStringLiteral("/Info.plist"), fixtures::plistData(info, true));
    makeBackup(QStringLiteral("aaa111"), day(12));

    iOSBackup::Ptr backup = iOSBackup::initWithBackupFolder(VtrMacFileInfo::fileInfoWithPath(folder));
    QStringList apps;
    for (const iOSAppInfo &app : backup->deviceApps()) apps.append(app.appID());
    EXPECT_EQ(apps, (QStringList{QStringLiteral("com.example.maps"), QStringLiteral("org.sample.Notes"),
                                 QStringLiteral("net.other.Game")}));
    EXPECT_EQ(backup->lastBackupDate(), day(4)) << "the status list's date, though the other is later";
    ASSERT_TRUE(iOSBackup::latestBackup());
    EXPECT_EQ(iOSBackup::latestBackup()->deviceID(), QStringLiteral("aaa111"));

    QFile::remove(folder + QStringLiteral("/Status.plist"));
    info.insert(QStringLiteral("Last Backup Date"), day(2));
    testenv::writeFile(folder + QStringLiteral("/Info.plist"), fixtures::plistData(info, false));
    backup = iOSBackup::initWithBackupFolder(VtrMacFileInfo::fileInfoWithPath(folder));
    EXPECT_EQ(backup->lastBackupDate(), day(2)) << "no status list";
    EXPECT_EQ(iOSBackup::latestBackup()->deviceID(), QStringLiteral("aaa111"));
}

// Backups of iOS 5 and later have no index. The real manifest of a phone,
// laid out once with an index and once without: the same files, the same
// camera-roll photos.
TEST_F(IOSBackupTest, ADatabaseWithoutIndexListsWhatTheIndexedLayoutLists)
{
    VTR_REQUIRE_SAMPLE(QStringLiteral("ios-backup/yielding-code-5_Manifest.mbdb"));
    const QByteArray database =
        testenv::readFile(QStringLiteral(VTR_SHARED_DATA_DIR "/samples/ios-backup/yielding-code-5_Manifest.mbdb"));
    ASSERT_FALSE(database.isEmpty());
    const QString indexed = makeBackup(QStringLiteral("ddd444"), day(4));
    const QString alone = makeBackup(QStringLiteral("eee555"), day(4));
    QList<MbdxEntry> index;
    vtr::ByteCursor cursor(database, vtr::mbdb::kHeaderSize);
    while (!cursor.atEnd()) {
        const qint64 at = cursor.position() - vtr::mbdb::kHeaderSize;
        vtr::mbdb::Record record;
        ASSERT_TRUE(vtr::mbdb::readRecord(cursor, &record));
        if ((record.mode & 0xF000) != 0x8000) continue; // folders and links have no file
        const QString name = record.backupFileName();
        index.append({QByteArray::fromHex(name.toLatin1()), quint32(at)});
        for (const QString &folder : {indexed, alone}) testenv::writeFile(folder + QLatin1Char('/') + name, "");
    }
    testenv::writeFile(indexed + QStringLiteral("/Manifest.mbdx"), fixtures::mbdxFile(index));
    for (const QString &folder : {indexed, alone})
        testenv::writeFile(folder + QStringLiteral("/Manifest.mbdb"), database);

    const auto listed = [](const QString &folder, int *photos) {
        iOSBackup::Ptr backup = iOSBackup::initWithBackupFolder(VtrMacFileInfo::fileInfoWithPath(folder));
        QStringList paths;
        for (const iOSFile &file : backup->deviceFiles())
            paths.append(file.rawFile()->name() + QLatin1Char(' ') + file.deviceDomain() + QLatin1Char('|')
                         + file.deviceFilepath());
        *photos = int(backup->photosCapturedOnDevice().size());
        return paths;
    };
    int indexedPhotos = 0;
    int alonePhotos = 0;
    const QStringList withIndex = listed(indexed, &indexedPhotos);
    EXPECT_GT(withIndex.size(), 3000);
    EXPECT_GT(indexedPhotos, 100);
    EXPECT_EQ(listed(alone, &alonePhotos), withIndex);
    EXPECT_EQ(alonePhotos, indexedPhotos);
}

TEST(IOSAppInfo, NamesAndComparison)
{
    const struct
    {
        const char *id;
        const char *name;
    } cases[] = {
        {"com.example.maps", "maps"},
        {"com.example.", "com.example."},
        {"single", "single"},
        {"", "[unknown app]"},
    };
    for (const auto &c : cases) EXPECT_EQ(iOSAppInfo(QString::fromUtf8(c.id)).appName(), QString::fromUtf8(c.name));
    EXPECT_LT(iOSAppInfo(QStringLiteral("b.alpha")).compareNames(iOSAppInfo(QStringLiteral("a.Zeta"))), 0);
    EXPECT_EQ(iOSAppInfo(QStringLiteral("b.Maps")).compareNames(iOSAppInfo(QStringLiteral("a.maps"))), 0);
}

// A file's name is the digest of its domain, a dash and its path, so a
// damaged database may hold two records of one name (domain "A-b" with path
// "c", domain "A" with path "b-c"): the first counts, with an index or
// without.
TEST_F(IOSBackupTest, OfTwoRecordsOfOneNameTheFirstCounts)
{
    const QList<MbdbEntry> records = {
        {"CameraRollDomain", "Media-DCIM/100APPLE/IMG_0001.JPG", {}, false, 0x81A4, 0, {}},
        {"CameraRollDomain-Media", "DCIM/100APPLE/IMG_0001.JPG", {}, false, 0x81A4, 0, {}},
    };
    const QString name = vtr::mbdb::backupFileName(records[0].domain, records[0].path);
    ASSERT_EQ(name, vtr::mbdb::backupFileName(records[1].domain, records[1].path));
    const QList<quint32> at = fixtures::mbdbOffsets(records);
    const QByteArray key = QByteArray::fromHex(name.toLatin1());
    const QString indexed = makeBackup(QStringLiteral("fff666"), day(4));
    const QString alone = makeBackup(QStringLiteral("ggg777"), day(4));
    testenv::writeFile(indexed + QStringLiteral("/Manifest.mbdx"), fixtures::mbdxFile({{key, at[0]}, {key, at[1]}}));
    for (const QString &folder : {indexed, alone}) {
        SCOPED_TRACE(folder.toStdString());
        testenv::writeFile(folder + QStringLiteral("/Manifest.mbdb"), fixtures::mbdbFile(records));
        testenv::writeFile(folder + QLatin1Char('/') + name, "photo");
        iOSBackup::Ptr backup = iOSBackup::initWithBackupFolder(VtrMacFileInfo::fileInfoWithPath(folder));
        QStringList paths;
        for (const iOSFile &file : backup->deviceFiles())
            paths.append(file.deviceDomain() + QLatin1Char('|') + file.deviceFilepath());
        EXPECT_EQ(paths, QStringList{QStringLiteral("CameraRollDomain|Media-DCIM/100APPLE/IMG_0001.JPG")});
    }
}
