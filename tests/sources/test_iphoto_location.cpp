#include "fileinfo/VtrFileInfo.h"
#include "platform/UserDefaults.h"
#include "sources/host/MediaLibraryHost.h"
#include "sources/host/PropertyListXml.h"
#include "sources/iphoto/VtrIPhoto.h"
#include "sources/iphoto/iPhotoInfo.h"

#include "TestEnvironment.h"
#include "TestFolders.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

namespace {

QString preferences(const char *name)
{
    const QString folder =
        VtrFileInfo::findFolderPath(VtrFileInfo::kUserDomain, VtrFileInfo::kPreferencesFolderType, true);
    return QDir(folder).filePath(QLatin1String(name));
}

QString albumFileIn(const QString &folder)
{
    QDir().mkpath(folder);
    const QString path = QDir(folder).filePath(QStringLiteral("AlbumData.xml"));
    testenv::writeFile(path, vtr::XmlPropertyListWriter::toXml(QVariantMap{{"List of Albums", QVariantList()}}));
    return path;
}

}  // namespace

TEST(IPhotoLocation, LibraryFolderRulesInOrder)
{
    const QString brought = QDir(MediaLibraryHost::picturesFolder()).filePath(QStringLiteral("iPhoto Library"));
    const QString recent = testenv::makeTempDir(QStringLiteral("recent"));
    const QString root = testenv::makeTempDir(QStringLiteral("root"));
    const QString chosen = testenv::makeTempDir(QStringLiteral("chosen"));

    EXPECT_FALSE(VtrIPhotoAlbumData::defaultAlbumDataXMLFileInfo());
    EXPECT_FALSE(VtrIPhoto::hasIPhotoLibrary());

    // The host's own album file when there is nothing else.
    albumFileIn(QFileInfo(MediaLibraryHost::albumDataFilePath()).absolutePath());
    EXPECT_EQ(VtrIPhotoAlbumData::defaultAlbumDataXMLFileInfo()->path(), MediaLibraryHost::albumDataFilePath());

    // A library in the pictures folder wins over it.
    albumFileIn(brought);
    EXPECT_EQ(VtrIPhotoAlbumData::defaultAlbumDataXMLFileInfo()->path(), brought + QStringLiteral("/AlbumData.xml"));
    EXPECT_TRUE(VtrIPhoto::currentIPhotoLibraryPath().isNull());

    testenv::writeFile(preferences("com.apple.iPhoto.plist"),
                       vtr::XmlPropertyListWriter::toXml(QVariantMap{{"RootDirectory", root}}));
    EXPECT_EQ(VtrIPhoto::currentIPhotoLibraryPath(), root);
    EXPECT_EQ(VtrIPhoto::iPhotoPrefs().value("RootDirectory").toString(), root);

    testenv::writeFile(preferences("com.apple.iApps.plist"),
                       vtr::XmlPropertyListWriter::toXml(QVariantMap{
                           {"iPhotoRecentDatabases", QVariantList{QStringLiteral("file://localhost") + recent + "/AlbumData.xml"}}}));
    EXPECT_EQ(VtrIPhoto::currentIPhotoLibraryPath(), recent);

    platform::UserDefaults::setValue(QLatin1String(VtrIPhoto::kLibraryFolderDefaultKey), chosen);
    EXPECT_EQ(VtrIPhoto::currentIPhotoLibraryPath(), chosen);
    albumFileIn(chosen);
    EXPECT_EQ(VtrIPhotoAlbumData::defaultAlbumDataXMLFileInfo()->path(), chosen + QStringLiteral("/AlbumData.xml"));
    EXPECT_EQ(VtrIPhotoAlbumData().defaultAlbumDataXMLFileURL().toLocalFile(), chosen + QStringLiteral("/AlbumData.xml"));

    iPhotoInfo model;
    EXPECT_EQ(model.libraryFileInfo()->path(), chosen);

    platform::UserDefaults::remove(QLatin1String(VtrIPhoto::kLibraryFolderDefaultKey));
    QFile::remove(preferences("com.apple.iApps.plist"));
    QFile::remove(preferences("com.apple.iPhoto.plist"));
    testenv::removeTree(brought);
    QFile::remove(MediaLibraryHost::albumDataFilePath());
}

TEST(IPhotoLocation, DamagedAlbumFileLeavesTheModelEmptyWithAReason)
{
    const QString folder = testenv::makeTempDir(QStringLiteral("damaged"));
    testenv::writeFile(folder + QStringLiteral("/AlbumData.xml"), "<plist><dict><key>List of Albums</key><array>");
    platform::UserDefaults::setValue(QLatin1String(VtrIPhoto::kLibraryFolderDefaultKey), folder);
    int messages = 0;
    VtrIPhotoAlbumData data([&messages](const QString &m) {
        EXPECT_EQ(m, QStringLiteral("Reading iPhoto albums..."));
        ++messages;
    });
    EXPECT_GE(messages, 1);
    EXPECT_TRUE(data.albums().isEmpty() || data.albums().size() == 1) << "at most the Events pseudo-album";
    EXPECT_TRUE(data.loadError().contains(QLatin1String("ends inside"))) << data.loadError().toStdString();
    iPhotoInfo model;
    EXPECT_FALSE(model.library());
    EXPECT_TRUE(model.photos().isEmpty());
    platform::UserDefaults::remove(QLatin1String(VtrIPhoto::kLibraryFolderDefaultKey));
}

TEST(IPhotoLocation, VersionsDecideRollsAndFaces)
{
    const struct
    {
        const char *version;
        bool five, seven, eight;
    } cases[] = {{"4.0.3", false, false, false}, {"5.0.4", true, false, false}, {"6.0", true, false, false},
                 {"7.1.5", true, true, false},   {"8.0", true, true, true},     {"11", true, true, true}};
    for (const auto &c : cases) {
        MediaLibraryHost::shared().setVersionsForTesting(QStringLiteral("10.1"), QLatin1String(c.version));
        EXPECT_TRUE(VtrIPhoto::hasIPhoto());
        EXPECT_EQ(VtrIPhoto::hasIPhoto5OrLater(), c.five) << c.version;
        EXPECT_EQ(VtrIPhoto::hasIPhoto7OrLater(), c.seven) << c.version;
        EXPECT_EQ(VtrIPhoto::hasIPhoto8OrLater(), c.eight) << c.version;
    }
    MediaLibraryHost::shared().setVersionsForTesting(QStringLiteral("10.1"), QStringLiteral("9.0"));
    EXPECT_EQ(VtrIPhoto::iPhotoVersion(), QStringLiteral("9.0"));
    EXPECT_TRUE(VtrIPhoto::iPhoto()->libraryName().isNull());
}
