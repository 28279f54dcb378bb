#include "devices/LocalFileNames.h"
#include "fileinfo/VtrMacFileInfoFS.h"
#include "platform/VtrException.h"
#include "sources/host/BackgroundRead.h"
#include "sources/host/FiledFiles.h"
#include "sources/host/HostScript.h"
#include "sources/host/LibraryLocation.h"
#include "sources/host/MediaLibraryHost.h"
#include "sources/host/PropertyListXml.h"
#include "sources/host/VtrAppleScriptExecutor.h"

#include "TestEnvironment.h"
#include "TestFolders.h"
#include "support/LibraryTestFiles.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QScopeGuard>
#include <QStringDecoder>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QVariantMap musicLibrary()
{
    return vtr::XmlPropertyListReader::readDictionaryFile(MediaLibraryHost::musicLibraryFilePath()).value_or(QVariantMap());
}

// Every entry of a folder, hidden ones too.
QStringList entriesOf(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

// Files a song from a folder of the test's own in `shared`, a folder every
// user may write to; the library's copy outlives that folder.
void fileFromAFolderIn(MediaLibraryHost &host, const QString &shared)
{
    {
        const testenv::SharedTempFolder other(shared, QStringLiteral("vtr-host-test"));
        ASSERT_TRUE(other.isValid()) << other.error();
        testenv::writeFile(other.path() + QStringLiteral("/b.wav"), libtest::silentWav());
        EXPECT_EQ(host.addMediaFiles(other.path() + QStringLiteral("/b.wav"), QStringLiteral("C")).size(), 1);
    }
    EXPECT_EQ(testenv::readFile(MediaLibraryHost::musicFolder() + "/C/b.wav"), libtest::silentWav());
}

// Every test starts with empty libraries.
class HostLibrary : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QFile::remove(MediaLibraryHost::musicLibraryFilePath());
        QFile::remove(MediaLibraryHost::albumDataFilePath());
        testenv::removeTree(MediaLibraryHost::musicFolder());
        testenv::removeTree(MediaLibraryHost::videosFolder());
        testenv::removeTree(MediaLibraryHost::picturesFolder());
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
    // Of videos only it is kept with the videos; once a song joins it, with
    // the music, and its file among the videos' goes.
    host.addTracksToPlaylist(ids.mid(0, 1), playlist.persistentID);
    const QString withVideos = QDir(MediaLibraryHost::videoPlaylistsFolder()).filePath(QStringLiteral("a_b.m3u8"));
    EXPECT_TRUE(QFile::exists(withVideos));
    host.addTracksToPlaylist(ids, playlist.persistentID);
    EXPECT_FALSE(QFile::exists(withVideos));
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

// An editor that writes one copy in place (a tag editor, an image editor)
// leaves the other as it was: the new phone's file and the library's are
// two files with their own bytes, the date of the phone's.
TEST_F(HostLibrary, AFiledFileIsACopyOfItsOwn)
{
    const QString here = testenv::makeTempDir(QStringLiteral("new-phone"));
    testenv::writeFile(here + QStringLiteral("/a.wav"), libtest::silentWav());
    testenv::writeFile(here + QStringLiteral("/clip.mp4"), "a movie's bytes");
    testenv::writeFile(here + QStringLiteral("/photo.jpg"), "a photo's bytes");
    const QDateTime taken = QDateTime::fromSecsSinceEpoch(1262304000, Qt::UTC);
    for (const char *name : {"/a.wav", "/clip.mp4", "/photo.jpg"}) {
        QFile file(here + QLatin1String(name));
        ASSERT_TRUE(file.open(QIODevice::ReadWrite) && file.setFileTime(taken, QFileDevice::FileModificationTime));
    }
    ASSERT_EQ(host.addMediaFiles(here + QStringLiteral("/a.wav"), QStringLiteral("C")).size(), 1);
    ASSERT_EQ(host.addMediaFiles(here + QStringLiteral("/clip.mp4"), QStringLiteral("C")).size(), 1);
    ASSERT_EQ(host.addPhotos(here + QStringLiteral("/photo.jpg"), QStringLiteral("Album")).size(), 1);
    const QString filed[][2] = {{here + "/a.wav", MediaLibraryHost::musicFolder() + "/C/a.wav"},
                                {here + "/clip.mp4", MediaLibraryHost::videosFolder() + "/C/clip.mp4"},
                                {here + "/photo.jpg", MediaLibraryHost::picturesFolder() + "/Album/photo.jpg"}};
    // Written in place, as an editor does: the same file, other bytes.
    const auto editInPlace = [](const QString &path, const QByteArray &bytes) {
        QFile file(path);
        return file.open(QIODevice::ReadWrite) && file.write(bytes) == bytes.size();
    };
    for (const auto &[source, copy] : filed) {
        SCOPED_TRACE(copy.toStdString());
        const QByteArray before = testenv::readFile(source);
        struct stat s{}, c{};
        ASSERT_EQ(::stat(QFile::encodeName(source).constData(), &s), 0);
        ASSERT_EQ(::stat(QFile::encodeName(copy).constData(), &c), 0);
        EXPECT_NE(s.st_ino, c.st_ino);
        EXPECT_EQ(QFileInfo(copy).lastModified(), taken);
        ASSERT_TRUE(editInPlace(source, "PHONE"));
        EXPECT_EQ(testenv::readFile(copy), before) << "edited in the new phone's folder";
        ASSERT_TRUE(editInPlace(copy, "LIBRARY"));
        EXPECT_EQ(testenv::readFile(source), "PHONE" + before.mid(5)) << "edited in the library";
    }
    EXPECT_EQ(entriesOf(MediaLibraryHost::musicFolder() + "/C"), QStringList{QStringLiteral("a.wav")})
        << "no temporary file stays";

    // From another file system (shared memory) as well.
    struct stat source{}, shmStat{};
    ASSERT_EQ(::stat(QFile::encodeName(here).constData(), &source), 0);
    QDir shm(QStringLiteral("/dev/shm"));
    if (!shm.exists() || ::stat("/dev/shm", &shmStat) != 0 || shmStat.st_dev == source.st_dev)
        GTEST_SKIP() << "no second file system";
    ASSERT_NO_FATAL_FAILURE(fileFromAFolderIn(host, shm.path()));
}

// The folder in shared memory that the song above is filed from has a name
// no other user can foresee: a link, or a folder, that another user put at
// the name it once had (its stem and the process's id) is neither written
// through nor emptied. A folder open to all and sticky, as shared memory is,
// stands in for it, so that this test takes no foreseeable name there
// either. Run as root, what is put there is another user's (65533); else the
// test's own, which the old road followed all the same.
TEST_F(HostLibrary, FilingFromSharedMemoryLeavesWhatAnotherUserPutThereAlone)
{
    const QString shared = testenv::makeTempDir(QStringLiteral("shm"));
    ASSERT_EQ(::chmod(QFile::encodeName(shared).constData(), 01777), 0);
    const QString roots = testenv::makeTempDir(QStringLiteral("roots"));
    testenv::writeFile(roots + QStringLiteral("/kept"), "root's");
    const QString planted = shared + QStringLiteral("/vtr-host-test-%1").arg(::getpid());
    const auto theirs = [](const QString &path) {
        return ::geteuid() != 0 || ::lchown(QFile::encodeName(path).constData(), 65533, 65533) == 0;
    };
    const auto rootsAreAsTheyWere = [&] {
        EXPECT_EQ(entriesOf(roots), QStringList{QStringLiteral("kept")});
        EXPECT_EQ(testenv::readFile(roots + QStringLiteral("/kept")), "root's");
    };
    // A link to a folder of root's.
    ASSERT_TRUE(QFile::link(roots, planted) && theirs(planted));
    ASSERT_NO_FATAL_FAILURE(fileFromAFolderIn(host, shared));
    rootsAreAsTheyWere();
    ASSERT_TRUE(testenv::removeTree(planted));
    // A folder holding the song's name as a link to a file of root's.
    SetUp();
    ASSERT_TRUE(QDir().mkdir(planted) &&
                QFile::link(roots + QStringLiteral("/kept"), planted + QStringLiteral("/b.wav")));
    ASSERT_TRUE(theirs(planted + QStringLiteral("/b.wav")) && theirs(planted));
    ASSERT_NO_FATAL_FAILURE(fileFromAFolderIn(host, shared));
    rootsAreAsTheyWere();
    EXPECT_EQ(entriesOf(shared), QStringList{QFileInfo(planted).fileName()})
        << "the road's own folder is gone, what was put there stays";

    // A link, at the top of what is removed or in it, goes as a link.
    QString made;
    {
        const testenv::SharedTempFolder folder(shared, QStringLiteral("vtr-host-test"));
        ASSERT_TRUE(folder.isValid()) << folder.error();
        made = folder.path();
        ASSERT_TRUE(QFile::link(roots, made + QStringLiteral("/link")) && QDir().mkdir(made + QStringLiteral("/in")) &&
                    QFile::link(roots, made + QStringLiteral("/in/link")));
    }
    EXPECT_FALSE(QFileInfo(made).exists() || QFileInfo(made).isSymLink());
    EXPECT_TRUE(testenv::removeTree(planted));
    ASSERT_TRUE(QFile::link(roots, planted));
    EXPECT_TRUE(testenv::removeTree(planted));
    EXPECT_EQ(entriesOf(shared), QStringList());
    rootsAreAsTheyWere();
}

// A copy takes its size on the library's disk, a clone nothing: a file with
// no room for its copy is left out of the library, said why, and nothing of
// it is lost or left behind.
TEST_F(HostLibrary, AFileWithoutRoomForItsCopyIsLeftOut)
{
    const QString here = testenv::makeTempDir(QStringLiteral("full-disk"));
    testenv::writeFile(here + QStringLiteral("/songs/a.wav"), libtest::silentWav());
    testenv::writeFile(here + QStringLiteral("/photo.jpg"), "a photo's bytes");
    const auto restore = qScopeGuard([this] { host.setDiskForTesting(std::nullopt); });
    const auto noClone = [](int, int) { return EOPNOTSUPP; };
    const auto full = [](int) { return qint64(0); };
    host.setDiskForTesting(MediaLibraryHost::Disk{noClone, full});

    QStringList refused;
    EXPECT_TRUE(host.addMediaFiles(here + QStringLiteral("/songs"), QStringLiteral("C"), &refused).isEmpty());
    EXPECT_EQ(refused, QStringList{here + QStringLiteral("/songs/a.wav")});
    try {
        host.addPhotos(here + QStringLiteral("/photo.jpg"), QStringLiteral("Album"));
        ADD_FAILURE() << "a photo without room was filed";
    } catch (const MediaLibraryHost::Failure &f) {
        EXPECT_EQ(f.number, MediaLibraryHost::kNoRoomNumber);
        // The disk is named by the folder on it, which may be another disk than the home folder's.
        EXPECT_TRUE(f.message.contains(QStringLiteral("not enough space on the disk that holds \"%1/Album\"")
                                           .arg(MediaLibraryHost::picturesFolder())))
            << f.message.toStdString();
    }
    EXPECT_EQ(entriesOf(MediaLibraryHost::musicFolder() + "/C"), QStringList());
    EXPECT_EQ(entriesOf(MediaLibraryHost::picturesFolder() + "/Album"), QStringList());
    EXPECT_TRUE(musicLibrary().value("Tracks").toMap().isEmpty());
    EXPECT_EQ(testenv::readFile(here + QStringLiteral("/songs/a.wav")), libtest::silentWav());

    // A disk that clones has room for every clone.
    const auto clone = [](int from, int to) { return vtr::localfs::copyFileData(from, to) ? 0 : errno; };
    host.setDiskForTesting(MediaLibraryHost::Disk{clone, full});
    EXPECT_EQ(host.addMediaFiles(here + QStringLiteral("/songs"), QStringLiteral("C")).size(), 1);
    EXPECT_EQ(testenv::readFile(MediaLibraryHost::musicFolder() + "/C/a.wav"), libtest::silentWav());
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

TEST_F(HostLibrary, EveryFormatADesktopPlaysIsFiledAndEveryOtherFileNamed)
{
    const QString source = testenv::makeTempDir(QStringLiteral("formats"));
    const auto at = [&source](const char *name) { return source + QLatin1Char('/') + QLatin1String(name); };
    // Known sound extensions are taken as they are named.
    for (const char *name : {"a.flac", "b.ogg", "c.opus", "d.oga", "e.mka", "f.wv"})
        testenv::writeFile(at(name), "sound by its name");
    // Anything else by what it holds.
    const bool made = libtest::makeMedia(at("tune.dat"), "sound", QStringLiteral("-c:a flac -f flac")) &&
                      libtest::makeMedia(at("voice.mp4"), "sound", QStringLiteral("-c:a aac")) &&
                      libtest::makeMedia(at("clip.bin"), "video", QStringLiteral("-c:v mpeg4 -f mp4")) &&
                      libtest::makeMedia(at("frame.dat"), "picture", QStringLiteral("-f image2 -c:v png"));
    if (!made) GTEST_SKIP() << "ffmpeg could not make the media";
    testenv::writeFile(at("notes.txt"), "text, not media");
    ASSERT_EQ(::mkfifo(QFile::encodeName(at("pipe.mp3")).constData(), 0600), 0);  // never opened
    ASSERT_TRUE(QFile::link(at("gone.mp3"), at("dangling.mp3")));

    QStringList refused;
    const QList<qint64> ids = host.addMediaFiles(source, QStringLiteral("Mixed"), &refused);
    EXPECT_EQ(ids.size(), 9);
    refused.sort();
    EXPECT_EQ(refused, (QStringList{at("dangling.mp3"), at("frame.dat"), at("notes.txt"), at("pipe.mp3")}));
    QStringList music = QDir(MediaLibraryHost::musicFolder() + QStringLiteral("/Mixed")).entryList(QDir::Files);
    music.sort();
    EXPECT_EQ(music, (QStringList{"a.flac", "b.ogg", "c.opus", "d.oga", "e.mka", "f.wv", "tune.dat", "voice.mp4"}));
    EXPECT_EQ(QDir(MediaLibraryHost::videosFolder() + QStringLiteral("/Mixed")).entryList(QDir::Files),
              QStringList{"clip.bin"});
    // A single file that cannot be filed is an error the script sees.
    EXPECT_THROW(host.addMediaFiles(at("notes.txt"), QStringLiteral("Mixed")), MediaLibraryHost::Failure);
}

TEST_F(HostLibrary, RunningAgainFilesNothingTwice)
{
    // Each run brings fresh copies (new files) of the same songs, as the
    // new phone's folder does after every transfer.
    const auto copiesOf = [](const QMap<QString, QByteArray> &files) {
        const QString dir = testenv::makeTempDir(QStringLiteral("copies"));
        for (auto it = files.cbegin(); it != files.cend(); ++it) testenv::writeFile(dir + '/' + it.key(), it.value());
        return dir;
    };
    const QMap<QString, QByteArray> songs{{"a.mp3", "song a"}, {"b.flac", "song b"}, {"c.wav", libtest::silentWav()}};
    const QString collection = QStringLiteral("Imported");
    const QString folder = MediaLibraryHost::musicFolder() + QStringLiteral("/Imported");
    const QList<qint64> first = host.addMediaFiles(copiesOf(songs), collection);
    ASSERT_EQ(first.size(), 3);
    const auto playlist = host.createPlaylist(QStringLiteral("Mix"), false);
    host.addTracksToPlaylist(first, playlist.persistentID);

    const struct
    {
        const char *what;
        QMap<QString, QByteArray> files;
        QList<qint64> expected;  // the tracks answered
    } runs[] = {
        {"the same names and contents", songs, first},
        {"names made unique by a copy", {{"a-1.mp3", "song a"}, {"B-2.flac", "song b"}}, {first[0], first[1]}},
        {"other names, a number at their end",
         {{"a-2013-1.mp3", "song a"}, {"tune-0900.flac", "song b"}},
         {first[0], first[1]}},
    };
    for (const auto &run : runs) {
        EXPECT_EQ(host.addMediaFiles(copiesOf(run.files), collection), run.expected) << run.what;
        host.addTracksToPlaylist(run.expected, playlist.persistentID);
    }
    EXPECT_EQ(QDir(folder).entryList(QDir::Files).size(), 3);
    EXPECT_EQ(musicLibrary().value("Tracks").toMap().size(), 3);
    const QStringList lines = QString::fromUtf8(testenv::readFile(MediaLibraryHost::playlistsFolder() + "/Mix.m3u8"))
                                  .split('\n', Qt::SkipEmptyParts);
    EXPECT_EQ(lines.size(), 1 + 2 * 3) << "each song once";

    // Another song under a name already taken is a song of its own.
    const QList<qint64> other = host.addMediaFiles(copiesOf({{"a.mp3", "another song a"}}), collection);
    ASSERT_EQ(other.size(), 1);
    EXPECT_FALSE(first.contains(other.first()));
    EXPECT_TRUE(QFile::exists(folder + QStringLiteral("/a-1.mp3")));

    // Without the library's record, a file of the same name and content in
    // the collection is taken as it is.
    QFile::remove(MediaLibraryHost::musicLibraryFilePath());
    EXPECT_EQ(host.addMediaFiles(copiesOf(songs), collection).size(), 3);
    EXPECT_EQ(QDir(folder).entryList(QDir::Files).size(), 4);
    EXPECT_EQ(musicLibrary().value("Tracks").toMap().size(), 3);

    // Known by its bytes only while it holds them: a filed song the person
    // changed since is no longer the phone's song.
    const QList<qint64> known = host.addMediaFiles(copiesOf({{"tune.flac", "song b"}}), collection);
    ASSERT_EQ(known.size(), 1);
    testenv::writeFile(folder + QStringLiteral("/b.flac"), "song b, edited");
    EXPECT_NE(host.addMediaFiles(copiesOf({{"tune.flac", "song b"}}), collection), known);
    EXPECT_EQ(testenv::readFile(folder + QStringLiteral("/tune.flac")), "song b");
}

TEST_F(HostLibrary, ANameTakenOverFromARemovedFileIsKnownByItsNewFile)
{
    const QString source = testenv::makeTempDir(QStringLiteral("taken-over"));
    const auto add = [&](const QString &name, const QByteArray &bytes) {
        testenv::writeFile(source + name, bytes);
        return host.addMediaFiles(source + name, QStringLiteral("C"));
    };
    add(QStringLiteral("/1/a.mp3"), "song a");
    add(QStringLiteral("/2/a.mp3"), "another a");  // filed as "a-1.mp3"
    ASSERT_TRUE(QFile::remove(MediaLibraryHost::musicFolder() + QStringLiteral("/C/a-1.mp3")));
    MediaLibraryHost::Batch batch(host);
    const QList<qint64> third = add(QStringLiteral("/3/a.mp3"), "a third a");  // takes "a-1.mp3" over
    EXPECT_EQ(host.addMediaFiles(source + QStringLiteral("/3/a.mp3"), QStringLiteral("C")), third);
    EXPECT_EQ(QDir(MediaLibraryHost::musicFolder() + QStringLiteral("/C")).entryList(QDir::Files).size(), 2);
    // The second song's copy is gone: it is filed again, not taken for the third.
    EXPECT_NE(host.addMediaFiles(source + QStringLiteral("/2/a.mp3"), QStringLiteral("C")), third);
    EXPECT_EQ(testenv::readFile(MediaLibraryHost::musicFolder() + QStringLiteral("/C/a-2.mp3")), "another a");

    // The new phone's song replaced in place by the next phone's under its
    // name (its inode number kept) is that song, filed anew.
    const QList<qint64> fourth = add(QStringLiteral("/4/b.mp3"), "song b");
    const vtr::FileStamp before = vtr::fileStampOf(source + QStringLiteral("/4/b.mp3"));
    const QList<qint64> next = add(QStringLiteral("/4/b.mp3"), "the next phone's b");
    EXPECT_EQ(vtr::fileStampOf(source + QStringLiteral("/4/b.mp3")).inode, before.inode);
    EXPECT_NE(next, fourth);
    EXPECT_EQ(testenv::readFile(MediaLibraryHost::musicFolder() + QStringLiteral("/C/b-1.mp3")), "the next phone's b");
}

TEST_F(HostLibrary, ABatchWritesTheLibraryOnceAtItsEnd)
{
    const QString source = testenv::makeTempDir(QStringLiteral("batch"));
    testenv::writeFile(source + QStringLiteral("/a.mp3"), "a");
    testenv::writeFile(source + QStringLiteral("/b.mp3"), "b");
    {
        MediaLibraryHost::Batch batch(host);
        const auto playlist = host.createPlaylist(QStringLiteral("P"), false);
        host.addTracksToPlaylist(host.addMediaFiles(source + QStringLiteral("/a.mp3"), QStringLiteral("C")),
                                 playlist.persistentID);
        host.addTracksToPlaylist(host.addMediaFiles(source + QStringLiteral("/b.mp3"), QStringLiteral("C")),
                                 playlist.persistentID);
        EXPECT_FALSE(QFile::exists(MediaLibraryHost::musicLibraryFilePath()));
        EXPECT_FALSE(QFile::exists(MediaLibraryHost::playlistsFolder() + QStringLiteral("/P.m3u8")));
        batch.commit();
    }
    EXPECT_EQ(musicLibrary().value("Tracks").toMap().size(), 2);
    EXPECT_EQ(testenv::readFile(MediaLibraryHost::playlistsFolder() + QStringLiteral("/P.m3u8")).count("#EXTINF"), 2);
}

TEST_F(HostLibrary, PlaylistEntriesGiveTheTrackLengthInWholeSeconds)
{
    const QString source = testenv::makeTempDir(QStringLiteral("timed"));
    testenv::writeFile(source + QStringLiteral("/long.mp3"), "a long song");
    const QList<qint64> ids = host.addMediaFiles(source, QStringLiteral("C"));
    ASSERT_EQ(ids.size(), 1);
    // The length as a library records it, in milliseconds.
    QVariantMap library = musicLibrary();
    QVariantMap tracks = library.value("Tracks").toMap();
    QVariantMap track = tracks.value(QString::number(ids[0])).toMap();
    track.insert("Total Time", 215999);
    tracks.insert(QString::number(ids[0]), track);
    library.insert("Tracks", tracks);
    testenv::writeFile(MediaLibraryHost::musicLibraryFilePath(), vtr::XmlPropertyListWriter::toXml(library));

    host.addTracksToPlaylist(ids, host.createPlaylist(QStringLiteral("Timed"), false).persistentID);
    const QByteArray m3u = testenv::readFile(MediaLibraryHost::playlistsFolder() + QStringLiteral("/Timed.m3u8"));
    EXPECT_TRUE(m3u.contains("#EXTINF:215,long\n")) << m3u.constData();
}

TEST_F(HostLibrary, ALibraryFileAnotherProgramWritesDuringAnImportIsLeftAsItIs)
{
    const QString source = testenv::makeTempDir(QStringLiteral("meanwhile"));
    testenv::writeFile(source + QStringLiteral("/a.mp3"), "a");
    const QByteArray theirs = vtr::XmlPropertyListWriter::toXml(
        QVariantMap{{"Library Persistent ID", "THEIRS"}, {"Tracks", QVariantMap()}, {"Playlists", QVariantList()}});
    {
        MediaLibraryHost::Batch batch(host);
        host.addMediaFiles(source + QStringLiteral("/a.mp3"), QStringLiteral("C"));
        testenv::writeFile(MediaLibraryHost::musicLibraryFilePath(), theirs);
        EXPECT_THROW(batch.commit(), MediaLibraryHost::Failure);
    }
    EXPECT_EQ(testenv::readFile(MediaLibraryHost::musicLibraryFilePath()), theirs);
    // The next import records the file where it was filed, once.
    EXPECT_EQ(host.addMediaFiles(source + QStringLiteral("/a.mp3"), QStringLiteral("C")).size(), 1);
    EXPECT_EQ(QDir(MediaLibraryHost::musicFolder() + QStringLiteral("/C")).entryList(QDir::Files), QStringList{"a.mp3"});
    EXPECT_EQ(musicLibrary().value("Library Persistent ID").toString(), QStringLiteral("THEIRS"));
}

// The music folder's playlists are the person's too: a file there is
// replaced only while it is the very file the host wrote.
TEST_F(HostLibrary, APlaylistFileIsReplacedOnlyWhileItIsTheOneTheHostWrote)
{
    const QString playlists = MediaLibraryHost::playlistsFolder();
    testenv::writeFile(playlists + "/favorites.m3u8", "#EXTM3U\nthe person's own\n");
    const QString source = testenv::makeTempDir(QStringLiteral("own-lists"));
    for (const char *name : {"a.mp3", "b.mp3", "c.mp3"}) testenv::writeFile(source + '/' + name, name);
    const QList<qint64> ids = host.addMediaFiles(source, QStringLiteral("C"));
    ASSERT_EQ(ids.size(), 3);
    const QString favorites = host.createPlaylist(QStringLiteral("Favorites"), false).persistentID;
    host.addTracksToPlaylist(ids.mid(0, 1), favorites);
    EXPECT_EQ(testenv::readFile(playlists + "/favorites.m3u8"), "#EXTM3U\nthe person's own\n");
    const QString ours = playlists + "/Favorites-1.m3u8";
    host.addTracksToPlaylist(ids.mid(1, 1), favorites);
    EXPECT_EQ(testenv::readFile(ours).count("#EXTINF"), 2) << "its own file is written again";

    // Edited in place to the same size, its time put back to the
    // nanosecond: the person's now.
    const QByteArray path = QFile::encodeName(ours);
    struct stat before{};
    ASSERT_EQ(::stat(path.constData(), &before), 0);
    const QByteArray edited(int(before.st_size), '#');
    QFile file(ours);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite) && file.write(edited) == edited.size());
    file.close();
    const struct timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.constData(), times, 0), 0);
    host.addTracksToPlaylist(ids.mid(2, 1), favorites);
    EXPECT_EQ(testenv::readFile(ours), edited);
    EXPECT_EQ(testenv::readFile(playlists + "/Favorites-2.m3u8").count("#EXTINF"), 3);
}

TEST_F(HostLibrary, APlaylistNameTooLongForAFileIsShortenedAndHoldsNothingElseBack)
{
    const QString note = QString::fromUcs4(U"\U0001F3B5");  // four bytes of UTF-8
    const QString shortened = vtr::fitLocalNameLength(note.repeated(100) + QStringLiteral(".mp3"));
    EXPECT_EQ(shortened, note.repeated(62) + QStringLiteral(".mp3"));

    const QString source = testenv::makeTempDir(QStringLiteral("long-names"));
    testenv::writeFile(source + "/a.mp3", "song a");
    ASSERT_TRUE(QImage(4, 4, QImage::Format_RGB32).save(source + "/p.png"));
    {
        MediaLibraryHost::Batch batch(host);
        const QList<qint64> ids = host.addMediaFiles(source + "/a.mp3", QStringLiteral("C"));
        for (const QString &name : {note.repeated(70), note.repeated(70), QStringLiteral("After")})
            host.addTracksToPlaylist(ids, host.createPlaylist(name, false).persistentID);
        host.addPhotos(source + "/p.png", QStringLiteral("Album"));
        EXPECT_NO_THROW(batch.commit());
    }
    QStringList files = QDir(MediaLibraryHost::playlistsFolder()).entryList(QDir::Files);
    files.sort();
    EXPECT_EQ(files, (QStringList{"After.m3u8", note.repeated(62) + "-1.m3u8", note.repeated(62) + ".m3u8"}));
    EXPECT_TRUE(QFile::exists(MediaLibraryHost::albumDataFilePath()));
}

TEST_F(HostLibrary, APlaylistThatCannotBeSavedIsReportedAndHoldsNothingElseBack)
{
    VTR_TEST_AS_UNPRIVILEGED_USER();
    const QString source = testenv::makeTempDir(QStringLiteral("unsaved"));
    testenv::writeFile(source + "/a.mp3", "song a");
    ASSERT_TRUE(QImage(4, 4, QImage::Format_RGB32).save(source + "/p.png"));
    ASSERT_TRUE(QImage(8, 8, QImage::Format_RGB32).save(source + "/q.png"));
    const QString playlists = MediaLibraryHost::playlistsFolder();
    ASSERT_TRUE(QDir().mkpath(playlists));
    testenv::TakenModes modes;
    ASSERT_TRUE(modes.take(playlists, 0500));
    {
        MediaLibraryHost::Batch batch(host);
        const QList<qint64> ids = host.addMediaFiles(source + "/a.mp3", QStringLiteral("C"));
        host.addTracksToPlaylist(ids, host.createPlaylist(QStringLiteral("Road trip"), false).persistentID);
        host.addPhotos(source + "/p.png", QStringLiteral("Album"));
        try {
            batch.commit();
            ADD_FAILURE() << "the playlist that could not be saved went unreported";
        } catch (const MediaLibraryHost::Failure &f) {
            EXPECT_TRUE(f.message.contains(QLatin1String("\"Road trip\""))) << f.message.toStdString();
        }
    }
    EXPECT_EQ(musicLibrary().value("Tracks").toMap().size(), 1);
    EXPECT_TRUE(QFile::exists(MediaLibraryHost::albumDataFilePath()));
    EXPECT_NO_THROW(host.addPhotos(source + "/q.png", QStringLiteral("Album"))) << "a later save is held back";
}

// An import that files nothing has no playlist to write: a videos import whose
// folder a file of the person's stands in leaves no playlist with the videos
// nor among the music's, and the music import beside it writes its own.
TEST_F(HostLibrary, AVideosImportThatFilesNothingWritesNoPlaylist)
{
    const QString source = testenv::makeTempDir(QStringLiteral("nothing-filed"));
    testenv::writeFile(source + "/clip.mp4", "a clip");
    testenv::writeFile(source + "/song.mp3", "a song");
    const QString videos = QStringLiteral("Solvenna to Windows Phone Imported Videos");
    const QString music = QStringLiteral("Solvenna to Windows Phone Imported Music");
    const QString inTheWay = MediaLibraryHost::videosFolder() + '/' + videos;
    testenv::writeFile(inTheWay, "the person's own");
    {
        MediaLibraryHost::Batch batch(host);
        const QString clips = host.createPlaylist(videos, false).persistentID;
        try {
            host.addMediaFiles(source + "/clip.mp4", videos);
            ADD_FAILURE() << "a video was filed through a file";
        } catch (const MediaLibraryHost::Failure &f) {
            EXPECT_EQ(f.message.toStdString(),
                      QStringLiteral("The folder \"%1\" could not be made: Not a directory.").arg(inTheWay).toStdString());
        }
        host.addTracksToPlaylist({}, clips);
        const QString songs = host.createPlaylist(music, false).persistentID;
        host.addTracksToPlaylist(host.addMediaFiles(source + "/song.mp3", music), songs);
        EXPECT_NO_THROW(batch.commit());
    }
    QStringList written;
    for (QDirIterator it(QDir::homePath(), {"*.m3u8"}, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
         it.hasNext();)
        written.append(it.next());
    const QString expected = MediaLibraryHost::playlistsFolder() + '/' + music + ".m3u8";
    EXPECT_EQ(written.join('\n').toStdString(), expected.toStdString());
    EXPECT_EQ(testenv::readFile(written.value(0)).count("#EXTINF"), 1);
    EXPECT_EQ(testenv::readFile(inTheWay), "the person's own");
}

// A folder that cannot be made gives the reason of the nearest folder on its
// way that is there: the videos folder that refuses it, also when the videos
// folder itself went away while the import ran.
TEST_F(HostLibrary, AFolderThatCannotBeMadeGivesTheReasonOfTheFolderThatRefusesIt)
{
    VTR_TEST_AS_UNPRIVILEGED_USER();
    const QString shelf = testenv::makeTempDir(QStringLiteral("shelf"));
    const QString videos = shelf + QStringLiteral("/Videos");
    const QString dirs = qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/user-dirs.dirs");
    testenv::writeFile(dirs, "XDG_VIDEOS_DIR=\"" + QFile::encodeName(videos) + "\"\n");
    const auto restore = qScopeGuard([=] {
        for (const QString &folder : {shelf, videos}) ::chmod(QFile::encodeName(folder).constData(), 0755);
        QFile::remove(dirs);
    });
    ASSERT_EQ(MediaLibraryHost::videosFolder().toStdString(), videos.toStdString());
    const QString source = testenv::makeTempDir(QStringLiteral("clips"));
    for (const char *name : {"a.mp4", "b.mp4"}) testenv::writeFile(source + '/' + name, name);
    const auto reasonFor = [&](const QString &file, const QString &collection) {
        // The log (standard error) goes to a full disk meanwhile: its failed
        // writes change nothing of the reason.
        const int log = ::dup(STDERR_FILENO), full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
        EXPECT_GE(full, 0);
        ::dup2(full, STDERR_FILENO);
        const auto restoreLog = qScopeGuard([log, full] {
            ::dup2(log, STDERR_FILENO);
            ::close(log);
            ::close(full);
        });
        try {
            host.addMediaFiles(source + '/' + file, collection);
        } catch (const MediaLibraryHost::Failure &f) {
            return f.message.toStdString();
        }
        return std::string("filed");
    };
    const QString denied = QStringLiteral("The folder \"%1\" could not be made: Permission denied.");

    ASSERT_EQ(::chmod(QFile::encodeName(videos).constData(), 0555), 0);
    EXPECT_EQ(reasonFor("a.mp4", "Clips"), denied.arg(videos + "/Clips").toStdString());
    ASSERT_EQ(::chmod(QFile::encodeName(videos).constData(), 0755), 0);

    MediaLibraryHost::Batch batch(host);
    ASSERT_EQ(reasonFor("a.mp4", "Clips"), "filed");
    ASSERT_TRUE(QDir(shelf).rename("Videos", "Moved"));
    ASSERT_EQ(::chmod(QFile::encodeName(shelf).constData(), 0555), 0);
    EXPECT_EQ(reasonFor("b.mp4", "Films"), denied.arg(videos + "/Films").toStdString());
    ASSERT_EQ(::chmod(QFile::encodeName(shelf).constData(), 0755), 0);
    EXPECT_NO_THROW(batch.commit());
}

TEST_F(HostLibrary, EntriesCarryTitleAndLengthAndTheSameSongFromAnotherPhoneIsListedOnce)
{
    const QString phoneA = testenv::makeTempDir(QStringLiteral("phone-a"));
    const QString phoneB = testenv::makeTempDir(QStringLiteral("phone-b"));
    const QString tagged = QStringLiteral("-af apad=whole_dur=2.6 -metadata title=Tide -c:a flac");
    if (!libtest::makeMedia(phoneA + "/01 - Tide.flac", "sound", tagged) ||
        !libtest::makeMedia(phoneB + "/01 - Tide.flac", "sound", tagged + " -metadata comment=B"))
        GTEST_SKIP() << "ffmpeg could not make the media";
    // Without tags, a song is called by the name it came with.
    testenv::writeFile(phoneA + "/plain.mp3", "one rip of a song");
    testenv::writeFile(phoneB + "/plain.mp3", "another rip of it");
    const QString playlist = host.createPlaylist(QStringLiteral("Road trip"), false).persistentID;
    for (const QString &phone : {phoneA, phoneB})
        host.addTracksToPlaylist(host.addMediaFiles(phone, QStringLiteral("Imported")), playlist);
    EXPECT_EQ(QDir(MediaLibraryHost::musicFolder() + "/Imported").entryList(QDir::Files).size(), 4);
    EXPECT_EQ(QString::fromUtf8(testenv::readFile(MediaLibraryHost::playlistsFolder() + "/Road trip.m3u8"))
                  .split('\n', Qt::SkipEmptyParts),
              (QStringList{"#EXTM3U", "#EXTINF:2,Tide", "../Imported/01 - Tide.flac", "#EXTINF:-1,plain",
                           "../Imported/plain.mp3"}));
}

// A song is known again by its bytes, never by its name and size alone; a
// name that differs only in letter case is the same name.
TEST_F(HostLibrary, TheSameNameAndSizeWithOtherBytesIsAnotherSongAndLetterCaseNoOtherName)
{
    const auto file = [this](const char *name, const QByteArray &bytes) {
        const QString dir = testenv::makeTempDir(QStringLiteral("same-size"));
        testenv::writeFile(dir + '/' + QLatin1String(name), bytes);
        const QList<qint64> ids = host.addMediaFiles(dir + '/' + QLatin1String(name), QStringLiteral("C"));
        return ids.value(0, -1);
    };
    const qint64 one = file("song.mp3", "song one");
    const qint64 two = file("song.mp3", "song two");
    const qint64 three = file("Song.mp3", "song 3!!");
    EXPECT_EQ(QSet<qint64>({one, two, three}).size(), 3);
    EXPECT_EQ(file("SONG.MP3", "song two"), two);
    QStringList names = QDir(MediaLibraryHost::musicFolder() + "/C").entryList(QDir::Files);
    names.sort();
    EXPECT_EQ(names, (QStringList{"Song-2.mp3", "song-1.mp3", "song.mp3"}));
}

TEST(BackgroundRead, TheCallerIsTickedAtLeastOnceAndWhileTheWorkRuns)
{
    using std::chrono::milliseconds;
    int ticks = 0;
    vtr::runWhileServingEvents([] {}, [&ticks] { ++ticks; }, milliseconds(1));
    EXPECT_GE(ticks, 1) << "work that was over before the first look";
    // Work that ends only once it has been ticked twice.
    std::atomic<int> seen{0};
    vtr::runWhileServingEvents(
        [&seen] {
            for (int now = seen; now < 2; now = seen) seen.wait(now);
        },
        [&seen] {
            ++seen;
            seen.notify_all();
        },
        milliseconds(1));
    EXPECT_GE(seen, 2);
    EXPECT_THROW(vtr::runWhileServingEvents([] { throw std::runtime_error("unreadable"); }, {}, milliseconds(1)),
                 std::runtime_error);
}
