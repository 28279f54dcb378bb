#include "fileinfo/VtrMacFileInfo.h"

#include "TestEnvironment.h"
#include "fileinfo/MountTable.h"
#include "foundation/Log.h"
#include "platform/Folders.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

using Ptr = VtrMacFileInfo::Ptr;

class VolumesTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        dir = testenv::makeTempDir(QStringLiteral("vol"));
        VtrMacFileInfo::updateMountedDeviceVolumesWithPaths({});
    }
    void TearDown() override
    {
        VtrMacFileInfo::setDeviceVolumeRootsOverride(std::nullopt);
        vtr::MountTable::setOverrideText(std::nullopt);
        VtrMacFileInfo::updateMountedDeviceVolumesWithPaths({});
        platform::setDataFolderOverride(QString());
    }
    QString p(const QString &relative) const { return dir + QLatin1Char('/') + relative; }
    Ptr at(const QString &relative) const { return VtrMacFileInfo::fileInfoWithPath(p(relative)); }
    void write(const QString &relative, const QByteArray &bytes) const { testenv::writeFile(p(relative), bytes); }
    bool there(const QString &relative) const
    {
        struct stat st;
        return ::lstat(QFile::encodeName(p(relative)).constData(), &st) == 0;
    }
    static qint64 dfColumn(const QString &path, const QString &column)
    {
        QProcess df;
        df.start(QStringLiteral("df"), {QStringLiteral("-B1"), QStringLiteral("--output=") + column, path});
        if (!df.waitForFinished(30000) || df.exitCode() != 0) return -1;
        const QList<QByteArray> lines = df.readAllStandardOutput().trimmed().split('\n');
        return lines.size() < 2 ? -1 : lines.last().trimmed().toLongLong();
    }

    QString dir;
};

TEST_F(VolumesTest, DeviceRootsAreVolumesAlsoForMissingItems)
{
    QDir().mkpath(p(QStringLiteral("PHONE")));
    write(QStringLiteral("PHONE/file.txt"), "f");
    VtrMacFileInfo::setDeviceVolumeRootsOverride(QStringList{p(QStringLiteral("PHONE/"))});

    EXPECT_EQ(at(QStringLiteral("PHONE/DCIM/100/x.jpg"))->volume()->path(), p(QStringLiteral("PHONE")));
    EXPECT_TRUE(at(QStringLiteral("PHONE"))->isVolume());
    EXPECT_FALSE(at(QStringLiteral("PHONE/DCIM"))->isVolume());
    EXPECT_FALSE(at(QStringLiteral("PHONE/file.txt"))->isVolume());
    EXPECT_TRUE(VtrMacFileInfo::fileInfoWithPath(QStringLiteral("/"))->isVolume());
    // A name that only begins like the root is elsewhere.
    EXPECT_NE(at(QStringLiteral("PHONEX/a"))->volume()->path(), p(QStringLiteral("PHONE")));
    EXPECT_EQ(at(QStringLiteral("PHONE/DCIM"))->volumeRelativeStandardPath(), QStringLiteral("DCIM"));
    EXPECT_EQ(VtrMacFileInfo::fileInfoWithPath(QStringLiteral("relative"))->volume(), nullptr);

    // Listed device volumes count too.
    VtrMacFileInfo::setDeviceVolumeRootsOverride(QStringList{});
    VtrMacFileInfo::addMountedDeviceVolumePath(p(QStringLiteral("PHONE")));
    EXPECT_EQ(at(QStringLiteral("PHONE/DCIM"))->volume()->path(), p(QStringLiteral("PHONE")));
}

TEST_F(VolumesTest, OtherItemsLieOnTheirMountPoint)
{
    vtr::MountTable::setOverrideText(QByteArray("1 0 8:1 / / rw - ext4 /dev/root rw\n") + "2 1 8:2 / " +
                                     QFile::encodeName(p(QStringLiteral("my disk"))).replace(" ", "\\040") +
                                     " rw - ext4 /dev/other rw\n");
    VtrMacFileInfo::setDeviceVolumeRootsOverride(QStringList{});
    QDir().mkpath(p(QStringLiteral("my disk/inner")));
    EXPECT_EQ(at(QStringLiteral("my disk/inner/x"))->volume()->path(), p(QStringLiteral("my disk")));
    EXPECT_TRUE(at(QStringLiteral("my disk"))->isVolume());
    EXPECT_EQ(at(QStringLiteral("elsewhere"))->volume()->path(), QStringLiteral("/"));
    EXPECT_EQ(at(QStringLiteral("my disk/inner"))->fileSystemType(), QStringLiteral("ext4"));
}

TEST_F(VolumesTest, FreeSpaceAndSizeAgreeWithDf)
{
    // A file that does not exist yet, inside an existing folder.
    Ptr item = at(QStringLiteral("not/yet/there.bin"));
    // Other processes (parallel tests among them) write meanwhile: allow a
    // little drift, and ask again when a burst of writing fell between the two
    // readings.
    qint64 free = 0, df = 0;
    for (int attempt = 0; attempt < 5; ++attempt) {
        free = item->freeSpaceOnVolume();
        df = dfColumn(dir, QStringLiteral("avail"));
        ASSERT_GE(df, 0) << "df failed";
        if (qAbs(free - df) <= (qint64(64) << 20))
            break;
    }
    EXPECT_LE(qAbs(free - df), qint64(64) << 20) << free << " vs " << df;
    EXPECT_GT(free, 0);

    const QString mountPoint = at(QString())->volume()->path();
    const qint64 capacity = VtrMacFileInfo::fileInfoWithPath(mountPoint)->size();
    const qint64 dfSize = dfColumn(mountPoint, QStringLiteral("size"));
    EXPECT_EQ(capacity, dfSize);
    EXPECT_EQ(VtrMacFileInfo().freeSpaceOnVolume(), 0);
}

TEST_F(VolumesTest, IdentifiersAreKeptPerVolumeName)
{
    QDir().mkpath(p(QStringLiteral("CARD/DCIM")));
    QDir().mkpath(p(QStringLiteral("OTHER")));
    VtrMacFileInfo::setDeviceVolumeRootsOverride(QStringList{p(QStringLiteral("CARD")), p(QStringLiteral("OTHER"))});
    platform::setDataFolderOverride(p(QStringLiteral("data1")));

    const QString first = at(QStringLiteral("CARD/DCIM"))->uuid();
    EXPECT_EQ(first.size(), 36);
    EXPECT_EQ(at(QStringLiteral("CARD"))->uuid(), first);
    EXPECT_NE(at(QStringLiteral("OTHER"))->uuid(), first);
    const QString storePath = p(QStringLiteral("data1/Mac File Systems/Volume uuids.plist"));
    const QByteArray stored = testenv::readFile(storePath);
    EXPECT_TRUE(stored.contains("<key>CARD</key>"));
    EXPECT_TRUE(stored.contains(first.toUtf8()));

    // Another run reads the same store back.
    QDir().mkpath(p(QStringLiteral("data2/Mac File Systems")));
    ASSERT_TRUE(QFile::copy(storePath, p(QStringLiteral("data2/Mac File Systems/Volume uuids.plist"))));
    platform::setDataFolderOverride(p(QStringLiteral("data2")));
    EXPECT_EQ(at(QStringLiteral("CARD"))->uuid(), first);

    // A marker written onto the volume wins.
    write(QStringLiteral("CARD/Migration Info/filesystem/ABC-123.uuid"), QByteArray());
    EXPECT_EQ(at(QStringLiteral("CARD/DCIM"))->uuid(), QStringLiteral("ABC-123"));

    // A store that cannot be written still answers, logging the failure.
    QStringList logged;
    LogSetSystemLogSink([&](const QString &line) { logged.append(line); });
    write(QStringLiteral("data3/Mac File Systems"), "a file in the way");
    platform::setDataFolderOverride(p(QStringLiteral("data3")));
    const QString unsaved = at(QStringLiteral("OTHER"))->uuid();
    EXPECT_EQ(unsaved.size(), 36);
    EXPECT_EQ(at(QStringLiteral("OTHER"))->uuid(), unsaved);
    LogSetSystemLogSink(nullptr);
    EXPECT_TRUE(logged.join(QLatin1Char('\n')).contains(QStringLiteral("Failed to write support file")));

    // A link of the person's in place of the store: neither it nor what it
    // points to changes.
    const QString notes = p(QStringLiteral("notes.txt"));
    const QString linked = p(QStringLiteral("data5/Mac File Systems/Volume uuids.plist"));
    write(QStringLiteral("notes.txt"), "my notes");
    QDir().mkpath(p(QStringLiteral("data5/Mac File Systems")));
    ASSERT_TRUE(QFile::link(notes, linked));
    platform::setDataFolderOverride(p(QStringLiteral("data5")));
    EXPECT_EQ(at(QStringLiteral("OTHER"))->uuid().size(), 36);
    EXPECT_EQ(testenv::readFile(notes), QByteArray("my notes"));
    EXPECT_EQ(QFileInfo(linked).symLinkTarget(), notes);

    // A damaged store starts afresh.
    QDir().mkpath(p(QStringLiteral("data4/Mac File Systems")));
    write(QStringLiteral("data4/Mac File Systems/Volume uuids.plist"), "<plist><dict><key>");
    platform::setDataFolderOverride(p(QStringLiteral("data4")));
    EXPECT_EQ(at(QStringLiteral("OTHER"))->uuid().size(), 36);
}

TEST_F(VolumesTest, WritableVolumeTest)
{
    QDir().mkpath(p(QStringLiteral("ok")));
    EXPECT_FALSE(VtrMacFileInfo::testForBadVolumeAtPath(p(QStringLiteral("ok"))).has_value());
    EXPECT_TRUE(QDir(p(QStringLiteral("ok"))).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
    // The test file itself lives in the private temporary folder.
    const QString testFile = platform::temporaryFolder() + QStringLiteral("/bad-vol-test");
    const QByteArray contents = testenv::readFile(testFile);
    EXPECT_TRUE(contents.startsWith(QByteArray("\xff\xfe", 2)));
    EXPECT_EQ(
        QString::fromUtf16(reinterpret_cast<const char16_t *>(contents.constData() + 2), (contents.size() - 2) / 2),
        QStringLiteral("This is a test file created by Solvenna to Windows Phone."));

    // An old test file in the way is replaced.
    write(QStringLiteral("ok/.Solvenna to Windows Phone-temp-file"), "old");
    EXPECT_FALSE(VtrMacFileInfo::testForBadVolumeAtPath(p(QStringLiteral("ok"))).has_value());
    EXPECT_FALSE(there(QStringLiteral("ok/.Solvenna to Windows Phone-temp-file")));

    const auto missing = VtrMacFileInfo::testForBadVolumeAtPath(p(QStringLiteral("missing")));
    ASSERT_TRUE(missing.has_value());
    EXPECT_EQ(missing->code, ENOENT);
    write(QStringLiteral("plain"), "p");
    const auto notFolder = VtrMacFileInfo::testForBadVolumeAtPath(p(QStringLiteral("plain")));
    ASSERT_TRUE(notFolder.has_value());
    EXPECT_EQ(notFolder->code, ENOTDIR);

    EXPECT_FALSE(VtrMacFileInfo::readOnlyVolumeAtPath(dir));
    EXPECT_TRUE(VtrMacFileInfo::readOnlyVolumeAtPath(p(QStringLiteral("missing"))));
    // Any read-only mount of this machine answers so.
    for (const vtr::MountEntry &entry : vtr::MountTable::current()->entries()) {
        struct statvfs vfs;
        if (::statvfs(QFile::encodeName(entry.mountPoint).constData(), &vfs) == 0 && (vfs.f_flag & ST_RDONLY)) {
            EXPECT_TRUE(VtrMacFileInfo::readOnlyVolumeAtPath(entry.mountPoint)) << entry.mountPoint.toStdString();
            break;
        }
    }
}

TEST_F(VolumesTest, MountedDeviceVolumeList)
{
    VtrMacFileInfo::addMountedDeviceVolumePath(QStringLiteral("/Volumes/A"));
    VtrMacFileInfo::addMountedDeviceVolumePath(QStringLiteral("/volumes/a"));
    EXPECT_EQ(VtrMacFileInfo::mountedDeviceVolumePaths(), QStringList{QStringLiteral("/Volumes/A")});
    EXPECT_TRUE(VtrMacFileInfo::removeMountedDeviceVolumePath(QStringLiteral("/VOLUMES/A")));
    EXPECT_FALSE(VtrMacFileInfo::removeMountedDeviceVolumePath(QStringLiteral("/VOLUMES/A")));

    QDir().mkpath(p(QStringLiteral("BlackBerry1")));
    QDir().mkpath(p(QStringLiteral("Card/home/user")));
    EXPECT_FALSE(VtrMacFileInfo::isBlackberryInternalMemoryForPath(p(QStringLiteral("BlackBerry1"))));
    VtrMacFileInfo::updateMountedDeviceVolumesWithPaths(
        {p(QStringLiteral("BlackBerry1")), p(QStringLiteral("Card")), p(QStringLiteral("Plain"))});
    EXPECT_TRUE(VtrMacFileInfo::isBlackberryInternalMemoryForPath(p(QStringLiteral("BlackBerry1"))));
    EXPECT_TRUE(VtrMacFileInfo::isBlackberryInternalMemoryForPath(p(QStringLiteral("Card"))));
    EXPECT_FALSE(VtrMacFileInfo::isBlackberryInternalMemoryForPath(p(QStringLiteral("Plain"))));
    EXPECT_FALSE(VtrMacFileInfo::isBlackberryMemoryForPath(p(QStringLiteral("Card"))));
    EXPECT_FALSE(at(QStringLiteral("Card"))->isBlackberryInternalMemoryRoot());
    EXPECT_FALSE(at(QStringLiteral("Card"))->isBlackberryMemoryCardRoot());

    // Saved records say which kind of memory they were on.
    EXPECT_EQ(at(QStringLiteral("BlackBerry1/x"))->savedInfo().value(QStringLiteral("memoryType")).toInt(), 1);
    EXPECT_EQ(at(QStringLiteral("Plain/x"))->savedInfo().value(QStringLiteral("memoryType")).toInt(), 0);
    EXPECT_EQ(at(QStringLiteral("Plain/x"))->savedInfo().value(QStringLiteral("volumeStandardPath")).toString(),
              p(QStringLiteral("Plain")));
}

TEST_F(VolumesTest, MacGeneratedItemsGoOnlyFromDeviceVolumes)
{
    for (const char *name : {"PHONE/.DS_Store", "PHONE/Music/._song.mp3", "PHONE/Music/song.mp3", "PHONE/Desktop DB",
                             "PHONE/.Trashes/501/x", "PHONE/Music/.ds_store", "PC/.DS_Store", "PC/._x"})
        write(QString::fromLatin1(name), "x");
    VtrMacFileInfo::setDeviceVolumeRootsOverride(QStringList{p(QStringLiteral("PHONE"))});

    VtrMacFileInfo::removeMacGeneratedItemsAtPath(p(QStringLiteral("PHONE/Music/song.mp3")));
    EXPECT_FALSE(there(QStringLiteral("PHONE/.DS_Store")));
    EXPECT_FALSE(there(QStringLiteral("PHONE/Music/._song.mp3")));
    EXPECT_FALSE(there(QStringLiteral("PHONE/Music/.ds_store")));
    EXPECT_FALSE(there(QStringLiteral("PHONE/Desktop DB")));
    EXPECT_FALSE(there(QStringLiteral("PHONE/.Trashes")));
    EXPECT_TRUE(there(QStringLiteral("PHONE/Music/song.mp3")));

    VtrMacFileInfo::removeMacGeneratedItemsAtPath(p(QStringLiteral("PC")));
    EXPECT_TRUE(there(QStringLiteral("PC/.DS_Store")));
    EXPECT_TRUE(there(QStringLiteral("PC/._x")));
}

TEST_F(VolumesTest, UsbNumbersAndSpecialFolders)
{
    quint16 vendor = 1, product = 1;
    // The test machine's root is no USB disk; the outputs are cleared anyway.
    const bool found = VtrMacFileInfo::vendorProductIDForVolume(QStringLiteral("/"), &vendor, &product);
    if (!found) {
        EXPECT_EQ(vendor, 0);
        EXPECT_EQ(product, 0);
    }
    EXPECT_FALSE(VtrMacFileInfo::vendorProductIDForVolume(QStringLiteral("relative"), &vendor, &product));
    (void)VtrMacFileInfo::deviceVolumeRoots();

    EXPECT_EQ(VtrMacFileInfo::classTempFolder()->path(), platform::temporaryFolder());
    EXPECT_EQ(at(QString())->tempFolder()->path(), platform::temporaryFolder());
    EXPECT_EQ(QFileInfo(platform::temporaryFolder()).permissions() & 0x0077, 0);
    Ptr support = VtrMacFileInfo::userAppSupportFolder();
    ASSERT_NE(support, nullptr);
    EXPECT_EQ(support->find(QString::fromLatin1(platform::kAppFolderName))->path(),
              QDir::cleanPath(platform::dataFolder()));
    EXPECT_EQ(VtrMacFileInfo::userLibraryFolder()->path(), support->path());
}

} // namespace
