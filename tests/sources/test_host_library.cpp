#include "platform/VtrException.h"
#include "sources/host/HostScript.h"
#include "sources/host/LibraryLocation.h"
#include "sources/host/MediaLibraryHost.h"
#include "sources/host/PropertyListXml.h"
#include "sources/host/VtrAppleScriptExecutor.h"

#include "TestEnvironment.h"
#include "support/LibraryTestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QStringDecoder>

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

QVariantMap musicLibrary()
{
    return vtr::XmlPropertyListReader::readDictionaryFile(MediaLibraryHost::musicLibraryFilePath()).value_or(QVariantMap());
}

// Every test starts with empty libraries.
class HostLibrary : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QFile::remove(MediaLibraryHost::musicLibraryFilePath());
        QFile::remove(MediaLibraryHost::albumDataFilePath());
        QDir(MediaLibraryHost::musicFolder()).removeRecursively();
        QDir(MediaLibraryHost::videosFolder()).removeRecursively();
        QDir(MediaLibraryHost::picturesFolder()).removeRecursively();
    }
    MediaLibraryHost &host = MediaLibraryHost::shared();
};

}  // namespace

TEST_F(HostLibrary, ScriptLanguage)
{
    const struct
    {
        const char *script;
        QVariant result;  // invalid: an error is expected
        int error;
    } cases[] = {
        {"return \"a\\tb\"", QStringLiteral("a\tb"), 0},
        {"set x to \"v\" -- a comment\nreturn x", QStringLiteral("v"), 0},
        {"tell media library\n  set x to configured\nend tell\nreturn x", true, 0},
        {"return version of photos", QStringLiteral("9.0"), 0},
        {"RETURN \"case\"", QStringLiteral("case"), 0},
        {"return playlist \"nope\"", {}, -1728},
        {"return album \"nope\"", {}, -1728},
        {"set p to playlist \"P\" creating\nadd \"x\" to p", {}, -1700},
        {"add \"x\" to \"y\"", {}, -1700},
        {"return version of tea", {}, -2741},
        {"end tell", {}, -2741},
        {"delay x", {}, -2741},
        {"return \"bad \\q escape\"", {}, -2741},
        {"return ;", {}, -2741},
        {"error \"stop\"", {}, -2700},
    };
    for (const auto &c : cases) {
        try {
            const QVariant result = vtr::runHostScript(QString::fromUtf8(c.script), host);
            EXPECT_EQ(c.error, 0) << c.script;
            if (c.result.isValid()) {
                EXPECT_EQ(result, c.result) << c.script;
            }
        } catch (const vtr::HostScriptError &e) {
            EXPECT_EQ(e.number, c.error) << c.script << ": " << e.message.toStdString();
        }
    }
}

TEST_F(HostLibrary, MusicAndVideosGoToTheirFoldersPlaylistsStayRelative)
{
    const QString source = testenv::makeTempDir(QStringLiteral("phone"));
    testenv::writeFile(source + QStringLiteral("/song.wav"), libtest::silentWav());
    testenv::writeFile(source + QStringLiteral("/clip.mp4"), "not really a movie");
    testenv::writeFile(source + QStringLiteral("/notes.txt"), "text");

    const QList<qint64> ids = host.addMediaFiles(source, QStringLiteral("../Up/..\nCollection"));
    ASSERT_EQ(ids.size(), 2) << "the text file is not media";
    const QString collectionFolder = QStringLiteral("_.._Up_.. Collection");  // one name, not hidden
    EXPECT_TRUE(QFile::exists(QDir(MediaLibraryHost::musicFolder()).filePath(collectionFolder + "/song.wav")));
    EXPECT_TRUE(QFile::exists(QDir(MediaLibraryHost::videosFolder()).filePath(collectionFolder + "/clip.mp4")));

    const QVariantMap tracks = musicLibrary().value(QStringLiteral("Tracks")).toMap();
    ASSERT_EQ(tracks.size(), 2);
    for (const QVariant &t : tracks) {
        const QVariantMap track = t.toMap();
        const QString path = vtr::localPathForLibraryLocation(track.value("Location").toString());
        EXPECT_TRUE(QFile::exists(path)) << path.toStdString();
        EXPECT_EQ(track.value("Has Video").toBool(), path.endsWith(QLatin1String(".mp4")));
        EXPECT_EQ(track.value("Track Type").toString(), QStringLiteral("File"));
    }
    // Adding again finds the same tracks.
    EXPECT_EQ(host.addMediaFiles(source + QStringLiteral("/song.wav"), QStringLiteral("Other")), ids.mid(1, 1));

    const auto playlist = host.createPlaylist(QStringLiteral("a/b"), false);
    host.addTracksToPlaylist(ids, playlist.persistentID);
    host.addTracksToPlaylist(ids, playlist.persistentID);
    QFile m3u(QDir(MediaLibraryHost::playlistsFolder()).filePath(QStringLiteral("a_b.m3u8")));
    ASSERT_TRUE(m3u.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(m3u.readAll()).split('\n', Qt::SkipEmptyParts);
    EXPECT_EQ(lines, (QStringList{"#EXTM3U", "#EXTINF:-1,clip", "../../Videos/" + collectionFolder + "/clip.mp4",
                                  "#EXTINF:-1,song", "../" + collectionFolder + "/song.wav"}));

    const auto folder = host.createPlaylist(QStringLiteral("Box"), true);
    EXPECT_THROW(host.addTracksToPlaylist(ids, folder.persistentID), MediaLibraryHost::Failure);
    EXPECT_THROW(host.addTracksToPlaylist({4242}, playlist.persistentID), MediaLibraryHost::Failure);
    EXPECT_THROW(host.addTracksToPlaylist(ids, QStringLiteral("none")), MediaLibraryHost::Failure);
    EXPECT_THROW(host.createPlaylist(QStringLiteral("  "), false), MediaLibraryHost::Failure);
    EXPECT_FALSE(host.findPlaylist(QStringLiteral("box"), false));
    EXPECT_TRUE(host.findPlaylist(QStringLiteral("box"), true));
}

TEST_F(HostLibrary, FilesAreLinkedWhereTheyCanBeAndCopiedOtherwise)
{
    const QString here = testenv::makeTempDir(QStringLiteral("same-disk"));
    testenv::writeFile(here + QStringLiteral("/a.wav"), libtest::silentWav());
    host.addMediaFiles(here + QStringLiteral("/a.wav"), QStringLiteral("C"));
    struct stat source{}, target{};
    ASSERT_EQ(::stat(QFile::encodeName(here + "/a.wav").constData(), &source), 0);
    ASSERT_EQ(::stat(QFile::encodeName(MediaLibraryHost::musicFolder() + "/C/a.wav").constData(), &target), 0);
    EXPECT_EQ(source.st_ino, target.st_ino);

    // Another file system (shared memory) cannot be linked from: a copy.
    QDir shm(QStringLiteral("/dev/shm"));
    struct stat shmStat{};
    if (!shm.exists() || ::stat("/dev/shm", &shmStat) != 0 || shmStat.st_dev == source.st_dev)
        GTEST_SKIP() << "no second file system";
    const QString other = shm.filePath(QStringLiteral("vtr-host-test-%1").arg(getpid()));
    QDir().mkpath(other);
    testenv::writeFile(other + QStringLiteral("/b.wav"), libtest::silentWav());
    EXPECT_EQ(host.addMediaFiles(other + QStringLiteral("/b.wav"), QStringLiteral("C")).size(), 1);
    QDir(other).removeRecursively();
    EXPECT_EQ(testenv::readFile(MediaLibraryHost::musicFolder() + "/C/b.wav"), libtest::silentWav());
}

TEST_F(HostLibrary, PhotosAlbumsAndEvents)
{
    const QString source = testenv::makeTempDir(QStringLiteral("camera"));
    QImage(4, 4, QImage::Format_RGB32).save(source + QStringLiteral("/one.jpg"));
    QImage(4, 4, QImage::Format_RGB32).save(source + QStringLiteral("/two.png"));
    testenv::writeFile(source + QStringLiteral("/clip.mov"), "movie");
    testenv::writeFile(source + QStringLiteral("/readme.txt"), "text");

    EXPECT_EQ(host.addPhotos(source, QStringLiteral("Trip")).size(), 3);
    EXPECT_EQ(host.addPhotos(source + QStringLiteral("/one.jpg"), QStringLiteral("Best")).size(), 1);
    const QVariantMap data =
        vtr::XmlPropertyListReader::readDictionaryFile(MediaLibraryHost::albumDataFilePath()).value_or(QVariantMap());
    const QVariantMap images = data.value("Master Image List").toMap();
    EXPECT_EQ(images.size(), 3) << "the same photo in two albums is one image";
    QStringList mediaTypes;
    for (const QVariant &i : images)
        mediaTypes.append(i.toMap().value("MediaType").toString());
    mediaTypes.sort();
    EXPECT_EQ(mediaTypes, (QStringList{"Image", "Image", "Movie"}));
    const QVariantList albums = data.value("List of Albums").toList();
    ASSERT_EQ(albums.size(), 3);
    EXPECT_TRUE(albums.at(0).toMap().value("Master").toBool());
    EXPECT_EQ(albums.at(0).toMap().value("PhotoCount").toInt(), 3);
    EXPECT_EQ(albums.at(2).toMap().value("KeyList").toList().size(), 1);
    EXPECT_EQ(data.value("List of Rolls").toList().size(), 2);
    EXPECT_THROW(host.addPhotos(source + QStringLiteral("/readme.txt"), QStringLiteral("Trip")), MediaLibraryHost::Failure);
    EXPECT_THROW(host.addPhotosToAlbumID(source, 999000), MediaLibraryHost::Failure) << "the library is no album";
}

TEST_F(HostLibrary, TemplatesInUtf16AndWriterEscapes)
{
    const QString dir = testenv::makeTempDir();
    QStringEncoder encoder(QStringConverter::Utf16LE, QStringConverter::Flag::WriteBom);
    testenv::writeFile(dir + QStringLiteral("/t.applescript"), encoder.encode(QStringLiteral("return \"ünï\"")));
    auto executor = VtrAppleScriptExecutor::withFile(dir + QStringLiteral("/t.applescript"));
    EXPECT_FALSE(executor->execute(false));
    EXPECT_EQ(executor->result().toString(), QStringLiteral("ünï"));

    const QVariantMap odd{{QStringLiteral("a<&>\x01"), QStringLiteral("x\ty\x02z") + QChar(0) + QStringLiteral("!")}};
    const auto back = vtr::XmlPropertyListReader::readData(vtr::XmlPropertyListWriter::toXml(odd));
    ASSERT_TRUE(back);
    ASSERT_EQ(back->toMap().size(), 1);
    EXPECT_EQ(back->toMap().firstKey(), QStringLiteral("a<&>\x01"));
    EXPECT_EQ(back->toMap().first().toString(), QStringLiteral("x\ty\x02z!")) << "NUL has no form in a library file";
}
