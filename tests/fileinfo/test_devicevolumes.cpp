#include "fileinfo/DeviceVolumes.h"

#include "TestEnvironment.h"
#include "fileinfo/VtrMacFileInfo.h"
#include "foundation/Log.h"
#include "platform/Folders.h"
#include "platform/VtrException.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

using Ptr = VtrMacFileInfo::Ptr;

class DeviceVolumesTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        dir = testenv::makeTempDir(QStringLiteral("dvi"));
        platform::setDataFolderOverride(dir + QStringLiteral("/data"));
    }
    void TearDown() override { platform::setDataFolderOverride(QString()); }
    QString p(const QString &relative) const { return dir + QLatin1Char('/') + relative; }
    Ptr at(const QString &relative) const { return VtrMacFileInfo::fileInfoWithPath(p(relative)); }
    void write(const QString &relative, const QByteArray &bytes) const { testenv::writeFile(p(relative), bytes); }
    static QDateTime date(int seconds) { return QDateTime(QDate(2014, 6, 1), QTime(12, 0), Qt::UTC).addSecs(seconds); }

    QString dir;
};

TEST(StandardizePath, DropsOneTrailingSlash)
{
    EXPECT_EQ(vtr::standardizePath(QStringLiteral("/Music/")), QStringLiteral("/Music"));
    EXPECT_EQ(vtr::standardizePath(QStringLiteral("/")), QStringLiteral(""));
    EXPECT_EQ(vtr::standardizePath(QStringLiteral("")), QStringLiteral(""));
    EXPECT_EQ(vtr::standardizePath(QStringLiteral("/Music")), QStringLiteral("/Music"));
}

TEST_F(DeviceVolumesTest, NodesAreFoundIgnoringCase)
{
    DeviceVolumeInfo info(QStringLiteral("CASE-1"));
    info.setFileAtPath(QStringLiteral("/Music/a.mp3"), date(0), date(10));
    EXPECT_EQ(info.modificationDateForItemAtPath(QStringLiteral("/music/A.MP3")), date(0));
    EXPECT_FALSE(info.modificationDateForItemAtPath(QStringLiteral("/music/b.mp3")).isValid());
    EXPECT_FALSE(info.modificationDateForItemAtPath(QStringLiteral("/")).isValid());
    EXPECT_FALSE(info.modificationDateForItemAtPath(QString()).isValid());

    // Nothing is made below a file.
    info.setFileAtPath(QStringLiteral("/Music/a.mp3/inner"), date(0), date(0));
    EXPECT_FALSE(info.hasNodeAtPath(QStringLiteral("/Music/a.mp3/inner")));

    info.renameItemAtPath(QStringLiteral("/MUSIC/a.mp3"), QStringLiteral("b.mp3"));
    EXPECT_FALSE(info.hasNodeAtPath(QStringLiteral("/Music/a.mp3")));
    EXPECT_EQ(info.modificationDateForItemAtPath(QStringLiteral("/Music/B.mp3")), date(0));
    info.removeItemAtPath(QStringLiteral("/music/b.MP3"));
    EXPECT_FALSE(info.hasNodeAtPath(QStringLiteral("/Music/b.mp3")));
    EXPECT_TRUE(info.hasNodeAtPath(QStringLiteral("/Music/")));
}

TEST_F(DeviceVolumesTest, DatesAreForgottenAtTheThreshold)
{
    DeviceVolumeInfo info(QStringLiteral("DATES-1"));
    info.setFileAtPath(QStringLiteral("/a"), date(0), date(100));
    info.updateFileAtPath(QStringLiteral("/a"), date(100 + 3720));
    EXPECT_EQ(info.modificationDateForItemAtPath(QStringLiteral("/a")), date(0));
    info.updateFileAtPath(QStringLiteral("/a"), date(100 - 3720));
    EXPECT_EQ(info.modificationDateForItemAtPath(QStringLiteral("/a")), date(0));
    info.updateFileAtPath(QStringLiteral("/a"), date(100 + 3721));
    EXPECT_FALSE(info.modificationDateForItemAtPath(QStringLiteral("/a")).isValid());
    // An update creates the node without dates.
    info.updateFileAtPath(QStringLiteral("/new"), date(0));
    EXPECT_TRUE(info.hasNodeAtPath(QStringLiteral("/new")));
    EXPECT_FALSE(info.modificationDateForItemAtPath(QStringLiteral("/new")).isValid());
}

TEST_F(DeviceVolumesTest, StateSurvivesInItsFile)
{
    {
        DeviceVolumeInfo info(QStringLiteral("KEEP-1"));
        info.setFileAtPath(QStringLiteral("/DCIM/100/img.jpg"), date(1), date(2));
        info.setFileAtPath(QStringLiteral("Relative/x"), date(3), QDateTime());
        info.renameItemAtPath(QStringLiteral("Relative/x"), QStringLiteral("y")); // written on destruction
    }
    const QString path = DeviceVolumeInfo::stateFilePath(QStringLiteral("KEEP-1"));
    EXPECT_EQ(path, p(QStringLiteral("data/Device File Systems/KEEP-1.uuid")));
    const QJsonObject root = QJsonDocument::fromJson(testenv::readFile(path)).object();
    EXPECT_EQ(root.value(QStringLiteral("uuid")).toString(), QStringLiteral("KEEP-1"));
    const QJsonObject image =
        root.value(QStringLiteral("info"))
            .toObject()[QStringLiteral("children")][QStringLiteral("/")][QStringLiteral("children")]
                       [QStringLiteral("DCIM")][QStringLiteral("children")][QStringLiteral("100")]
                       [QStringLiteral("children")][QStringLiteral("IMG.JPG")]
            .toObject();
    EXPECT_EQ(image.value(QStringLiteral("type")).toInt(), 0);
    EXPECT_EQ(image.value(QStringLiteral("name")).toString(), QStringLiteral("IMG.JPG"));
    EXPECT_EQ(image.value(QStringLiteral("sync mod date")).toString(), QStringLiteral("2014-06-01T12:00:01.000Z"));

    DeviceVolumeInfo again(QStringLiteral("KEEP-1"));
    EXPECT_EQ(again.modificationDateForItemAtPath(QStringLiteral("/dcim/100/IMG.jpg")), date(1));
    EXPECT_EQ(again.modificationDateForItemAtPath(QStringLiteral("relative/Y")), date(3));
    EXPECT_FALSE(again.hasNodeAtPath(QStringLiteral("Relative/x")));

    // A fresh record has a new UUID and reads nothing.
    DeviceVolumeInfo fresh;
    EXPECT_EQ(fresh.uuid().size(), 36);
    EXPECT_NE(fresh.uuid(), DeviceVolumeInfo().uuid());
}

TEST_F(DeviceVolumesTest, DamagedOrBlockedStateFiles)
{
    QStringList logged;
    LogSetSystemLogSink([&](const QString &line) { logged.append(line); });
    write(QStringLiteral("data/Device File Systems/BROKEN.uuid"),
          "{\"format\": \"vantrel.device-volume-state\", \"info\":");
    {
        DeviceVolumeInfo broken(QStringLiteral("BROKEN"));
        EXPECT_FALSE(broken.hasNodeAtPath(QStringLiteral("/anything")));
        broken.setFileAtPath(QStringLiteral("/ok"), date(0), date(0));
    }
    EXPECT_TRUE(logged.join(QLatin1Char('\n')).contains(QStringLiteral("damaged")));
    EXPECT_TRUE(DeviceVolumeInfo(QStringLiteral("BROKEN")).hasNodeAtPath(QStringLiteral("/OK")));

    // A folder where the state file belongs.
    QDir().mkpath(p(QStringLiteral("data/Device File Systems/FOLDER.uuid")));
    try {
        DeviceVolumeInfo blocked(QStringLiteral("FOLDER"));
        ADD_FAILURE() << "no exception";
    } catch (const VtrException &e) {
        EXPECT_EQ(e.name(), QStringLiteral("DeviceVolumeInfo"));
        EXPECT_TRUE(e.reason().contains(QStringLiteral("is not a file")));
    }

    // A write that fails in a destructor is logged, never thrown.
    logged.clear();
    {
        auto record = std::make_unique<DeviceVolumeInfo>(QStringLiteral("LATER"));
        QDir().mkpath(DeviceVolumeInfo::stateFilePath(QStringLiteral("LATER")));
        EXPECT_THROW(record->setFileAtPath(QStringLiteral("/x"), date(0), date(0)), VtrException);
        record.reset();
    }
    EXPECT_FALSE(logged.isEmpty());
    // A link of the person's in place of the state file: neither it nor what
    // it points to changes.
    write(QStringLiteral("notes.txt"), "my notes");
    const QString linked = DeviceVolumeInfo::stateFilePath(QStringLiteral("LINKED"));
    ASSERT_TRUE(QFile::link(p(QStringLiteral("notes.txt")), linked));
    {
        DeviceVolumeInfo record(QStringLiteral("LINKED"));
        EXPECT_THROW(record.setFileAtPath(QStringLiteral("/x"), date(0), date(0)), VtrException);
    }
    EXPECT_EQ(testenv::readFile(p(QStringLiteral("notes.txt"))), QByteArray("my notes"));
    EXPECT_EQ(QFileInfo(linked).symLinkTarget(), p(QStringLiteral("notes.txt")));
    // With a file in place of the state folder nothing can be saved.
    platform::setDataFolderOverride(p(QStringLiteral("plain")));
    write(QStringLiteral("plain/Device File Systems"), "file");
    EXPECT_NO_THROW({ DeviceVolumeInfo record; });
    LogSetSystemLogSink(nullptr);

    // An identifier from a phone never leads out of the state folder.
    platform::setDataFolderOverride(p(QStringLiteral("data")));
    EXPECT_EQ(DeviceVolumeInfo::stateFilePath(QStringLiteral("../../x")),
              p(QStringLiteral("data/Device File Systems/.._.._x.uuid")));
    EXPECT_TRUE(DeviceVolumeInfo::stateFilePath(QString(300, QLatin1Char('u'))).endsWith(QStringLiteral(".uuid")));
    EXPECT_LT(DeviceVolumeInfo::stateFilePath(QString(300, QLatin1Char('u'))).size(), 200 + p(QString()).size());
}

TEST_F(DeviceVolumesTest, MarkersOnTheVolume)
{
    QDir().mkpath(p(QStringLiteral("VOL")));
    EXPECT_TRUE(DeviceVolumeInfo::uuidForFileInfo(at(QStringLiteral("VOL"))).isNull());
    write(QStringLiteral("VOL/Migration Info/filesystem/x_y.uuid"), QByteArray());
    write(QStringLiteral("VOL/Migration Info/filesystem/.uuid"), QByteArray());
    write(QStringLiteral("VOL/Migration Info/filesystem/notes.txt"), QByteArray());
    EXPECT_TRUE(DeviceVolumeInfo::uuidForFileInfo(at(QStringLiteral("VOL"))).isNull());
    write(QStringLiteral("VOL/Migration Info/filesystem/ABC.UUID"), QByteArray());
    EXPECT_EQ(DeviceVolumeInfo::uuidForFileInfo(at(QStringLiteral("VOL"))), QStringLiteral("ABC"));
    // The folders are found whatever their case.
    QDir().mkpath(p(QStringLiteral("VOL2/migration info/FileSystem")));
    write(QStringLiteral("VOL2/migration info/FileSystem/DEF.uuid"), QByteArray());
    EXPECT_EQ(DeviceVolumeInfo::uuidForFileInfo(at(QStringLiteral("VOL2"))), QStringLiteral("DEF"));
    EXPECT_TRUE(DeviceVolumeInfo::uuidForFileInfo(nullptr).isNull());
}

TEST_F(DeviceVolumesTest, ReconcileGivesDatesBackAndDropsWhatItSettled)
{
    write(QStringLiteral("VOL/Music/same.mp3"), "s");
    write(QStringLiteral("VOL/Music/changed.mp3"), "c");
    write(QStringLiteral("VOL/Music/nodate.mp3"), "n");
    write(QStringLiteral("VOL/Music/wasfolder"), "f");
    QDir().mkpath(p(QStringLiteral("VOL/Pictures")));
    at(QStringLiteral("VOL/Music/same.mp3"))->setModificationDate(date(60));
    at(QStringLiteral("VOL/Music/changed.mp3"))->setModificationDate(date(5000));

    DeviceVolumeInfo info(QStringLiteral("RECON"));
    info.setFileAtPath(QStringLiteral("/Music/same.mp3"), date(-86400), date(0));
    info.setFileAtPath(QStringLiteral("/Music/changed.mp3"), date(-86400), date(0));
    info.setFileAtPath(QStringLiteral("/Music/nodate.mp3"), date(-86400), QDateTime());
    info.setFileAtPath(QStringLiteral("/Music/gone.mp3"), date(-86400), date(0));
    info.setFileAtPath(QStringLiteral("/Music/wasfolder/x"), date(0), date(0));
    info.setFileAtPath(QStringLiteral("/Pictures"), date(0), date(0));
    info.reconcileWithVolume(at(QStringLiteral("VOL")));

    EXPECT_EQ(at(QStringLiteral("VOL/Music/same.mp3"))->modificationDate(), date(-86400));
    EXPECT_EQ(at(QStringLiteral("VOL/Music/changed.mp3"))->modificationDate(), date(5000));
    for (const char *path : {"/Music/same.mp3", "/Music/changed.mp3", "/Music/nodate.mp3", "/Music/gone.mp3",
                             "/Music/wasfolder", "/Pictures"})
        EXPECT_FALSE(info.hasNodeAtPath(QString::fromLatin1(path))) << path;
    EXPECT_TRUE(info.hasNodeAtPath(QStringLiteral("/Music")));
}

TEST_F(DeviceVolumesTest, MapOfADevicesVolumes)
{
    DeviceVolumes volumes;
    EXPECT_EQ(volumes.infoWithDriveStr(QStringLiteral("E:\\")), nullptr);
    DeviceVolumes::InfoPtr e = volumes.infoWithVolumePath(QStringLiteral("E:\\"), QStringLiteral("VOL-E"));
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->uuid(), QStringLiteral("VOL-E"));
    EXPECT_EQ(volumes.infoWithPath(QStringLiteral("e:\\Music\\a.mp3")), e);
    EXPECT_EQ(volumes.infoWithUUID(QStringLiteral("vol-e")), e);
    EXPECT_EQ(volumes.infoWithUUID(QString()), nullptr);

    // A known UUID under another drive: the same record, nothing new entered.
    EXPECT_EQ(volumes.infoWithVolumePath(QStringLiteral("F:\\"), QStringLiteral("VOL-E")), e);
    EXPECT_EQ(volumes.infoWithDriveStr(QStringLiteral("F:\\")), nullptr);
    // No UUID: a fresh record replaces what the drive had.
    DeviceVolumes::InfoPtr fresh = volumes.infoWithPath(QStringLiteral("E:\\x"), QString());
    ASSERT_NE(fresh, nullptr);
    EXPECT_NE(fresh, e);
    EXPECT_EQ(volumes.infoWithDriveStr(QStringLiteral("E:\\")), fresh);
    EXPECT_EQ(fresh->uuid().size(), 36);
}

} // namespace
