// The media migrators over plain folders standing for a phone's volumes: the
// backup and the copy byte for byte, unique names where the new phone's file
// system would merge them, the budget's first fit, playlists naming the copied
// tracks, clearing only what an earlier run copied, a stop in the middle of
// a copy, and the importers on the media-library host.

#include "devices/phone/WindowsPhone7LocalDevice.h"
#include "fileinfo/VtrMacFileInfo.h"
#include "foundation/MigrationStatus.h"
#include "migration/MediaMigrators.h"
#include "migration/iAppImporter.h"
#include "platform/Folders.h"
#include "platform/VtrException.h"
#include "sources/host/MediaLibraryHost.h"

#include "TestEnvironment.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>

#include <gtest/gtest.h>

namespace {

// A migrator of any kind whose "phone" is a list of local folders.
template <typename Base, MediaKind kKind>
class FolderMigrator final : public Base
{
public:
    explicit FolderMigrator(QStringList folders) : Base(nullptr), m_folders(std::move(folders)) {}
    QList<MediaSourceItem> extra;  // appended after the folders' files

protected:
    QList<MediaSourceItem> sourceItems() override
    {
        VtrFileInfoList roots;
        for (const QString &f : m_folders) roots.append(VtrMacFileInfo::fileInfoWithPath(f));
        return mediaFilesBelow(roots, kKind) + extra;
    }

private:
    QStringList m_folders;
};
using MusicFromFolders = FolderMigrator<MusicMigrator, MediaKind::Music>;
using PhotosFromFolders = FolderMigrator<PhotosMigrator, MediaKind::Photos>;

class RecordingStatus final : public MigrationStatusProtocol
{
public:
    std::function<void(double)> onReport;
    QStringList texts;
    void setStatus(const QString &s, const QString &, double p) override { report(s, p); }
    void setStatusNow(const QString &s, const QString &, double p) override { report(s, p); }

private:
    void report(const QString &s, double p)
    {
        if (!texts.contains(s)) texts.append(s);
        if (onReport) onReport(p);
    }
};

QByteArray sha1(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    QCryptographicHash h(QCryptographicHash::Sha1);
    h.addData(&f);
    return h.result().toHex();
}

QByteArray bytesFor(const QString &seed, int size)
{
    QByteArray b;
    b.reserve(size);
    while (b.size() < size) b += QCryptographicHash::hash(seed.toUtf8() + QByteArray::number(b.size()),
                                                          QCryptographicHash::Sha1);
    b.truncate(size);
    return b;
}

// Name → SHA-1 of every file directly in `folder`.
QMap<QString, QByteArray> hashesIn(const QString &folder)
{
    QMap<QString, QByteArray> out;
    for (const QFileInfo &f : QDir(folder).entryInfoList(QDir::Files | QDir::Hidden))
        out.insert(f.fileName(), sha1(f.filePath()));
    return out;
}

std::shared_ptr<WindowsPhone7LocalDevice> newPhone() { return WindowsPhone7LocalDevice::create({}, nullptr); }

TEST(MediaMigrators, BackupAndCopyKeepEveryFileUnderUniqueNamesByteForByte)
{
    const QString phone = testenv::makeTempDir(QStringLiteral("volume"));
    // Same name in two folders; names differing only in letter case.
    testenv::writeFile(phone + "/Music/a/Song.mp3", bytesFor("1", 70000));
    testenv::writeFile(phone + "/Music/b/Song.mp3", bytesFor("2", 1000));
    testenv::writeFile(phone + "/Music/b/song.MP3", bytesFor("3", 5));
    testenv::writeFile(phone + "/Music/notes.txt", "not music");
    testenv::writeFile(phone + "/.hidden/x.mp3", "hidden");
    MusicFromFolders music({phone});
    music.backupOldDeviceWithStatus(nullptr);
    ASSERT_EQ(music.numItemsToCopy(), 3);
    EXPECT_EQ(music.sizeOfItemsToCopy(), 71005);

    auto target = newPhone();
    RecordingStatus status;
    music.copyToDevice(target, 1 << 30, &status, nullptr);
    const QMap<QString, QByteArray> copied = hashesIn(target->preferredMusicFolder()->path());
    ASSERT_EQ(copied.size(), 3);
    QSet<QString> lower;
    for (const QString &name : copied.keys()) lower.insert(name.toLower());
    EXPECT_EQ(lower.size(), 3) << "names must differ ignoring case";
    QSet<QByteArray> expected{sha1(phone + "/Music/a/Song.mp3"), sha1(phone + "/Music/b/Song.mp3"),
                              sha1(phone + "/Music/b/song.MP3")};
    EXPECT_EQ(QSet<QByteArray>(copied.begin(), copied.end()), expected);
    EXPECT_TRUE(status.texts.contains(QStringLiteral("Copying music files...")));

    const QVariantMap info = music.manifestInfo();
    EXPECT_EQ(info.value("song_cnt").toInt(), 3);
    EXPECT_EQ(info.value("data_size").toLongLong(), 71005);
    EXPECT_EQ(info.value("playlist_cnt").toInt(), 0);
    EXPECT_TRUE(info.contains("timestamp"));
    EXPECT_EQ(info.value("title").toString(), QStringLiteral("Songs"));
}

TEST(MediaMigrators, FirstFitInListOrderAtEveryBudgetEdge)
{
    // Sizes in list order: 100, 5 GiB (a sparse file), 40, 60.
    const QString phone = testenv::makeTempDir(QStringLiteral("fit"));
    PhotosFromFolders photos({});
    const qint64 big = 5LL * 1024 * 1024 * 1024;
    auto made = [](const QString &name, qint64 size) {
        MediaSourceItem item;
        item.name = name;
        item.size = size;
        item.fetch = [name, size](const VtrFileInfoPtr &folder) {
            QFile f(QDir(folder->path()).filePath(name));
            if (!f.open(QIODevice::WriteOnly) || !f.resize(size)) return VtrFileInfoPtr();
            return VtrFileInfoPtr(VtrMacFileInfo::fileInfoWithPath(f.fileName()));
        };
        return item;
    };
    photos.extra = {made("a.jpg", 100), made("huge.jpg", big), made("b.jpg", 40), made("c.jpg", 60)};
    photos.backupOldDeviceWithStatus(nullptr);
    ASSERT_EQ(photos.numItemsToCopy(), 4);
    EXPECT_EQ(photos.sizeOfItemsToCopy(), big + 200);

    struct Case { const char *name; qint64 budget; QStringList names; };
    const Case cases[] = {
        {"zero", 0, {}},
        {"negative", -1073741824, {}},
        {"exactly the first", 100, {"a.jpg"}},
        {"first fit skips what does not fit", 150, {"a.jpg", "b.jpg"}},
        {"one byte short of two", 139, {"a.jpg"}},
        {"all but the huge one", big - 1, {"a.jpg", "b.jpg", "c.jpg"}},
        {"the huge one fits after the first", big + 100, {"a.jpg", "huge.jpg"}},
        {"everything", big + 200, {"a.jpg", "huge.jpg", "b.jpg", "c.jpg"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QStringList names;
        for (const MediaItem &item : photos.itemsThatFitInBytes(c.budget)) names.append(item.name);
        EXPECT_EQ(names, c.names);
    }
    // Nothing fits: nothing is copied and no folder is needed.
    auto target = newPhone();
    photos.copyToDevice(target, 0, nullptr, nullptr);
    EXPECT_TRUE(photos.copiedFiles().isEmpty());
}

TEST(MediaMigrators, PlaylistsNameTheCopiedTracksRelativeToThePlaylistsFolder)
{
    const QString phone = testenv::makeTempDir(QStringLiteral("lists"));
    testenv::writeFile(phone + "/One.mp3", bytesFor("x", 10));
    testenv::writeFile(phone + "/sub/One.mp3", bytesFor("y", 10));
    testenv::writeFile(phone + "/Two.mp3", bytesFor("z", 10));
    // Playlist membership as a phone would report it.
    MusicFromFolders listed({});
    for (const QString &rel : {QStringLiteral("One.mp3"), QStringLiteral("sub/One.mp3"), QStringLiteral("Two.mp3")}) {
        MediaSourceItem item;
        item.name = QFileInfo(rel).fileName();
        item.size = 10;
        item.title = rel;
        item.durationSeconds = 3;
        item.playlistNames = rel == "Two.mp3" ? QStringList{"Road", "Calm/Night"} : QStringList{"Road"};
        const QString path = phone + "/" + rel;
        item.fetch = [path](const VtrFileInfoPtr &folder) {
            VtrFileInfoPtr out;
            VtrMacFileInfo::fileInfoWithPath(path)->copyTo(folder, true, nullptr, nullptr, &out);
            return out;
        };
        listed.extra.append(item);
    }
    listed.backupOldDeviceWithStatus(nullptr);
    EXPECT_EQ(listed.playlistNames(), (QStringList{"Road", "Calm/Night"}));
    EXPECT_EQ(listed.manifestInfo().value("playlist_cnt").toInt(), 2);

    auto target = newPhone();
    listed.copyToDevice(target, 1000, nullptr, nullptr);
    const QString lists = target->preferredPlaylistsFolder()->path();
    const QStringList files = QDir(lists).entryList(QDir::Files);
    ASSERT_EQ(files.size(), 2) << files.join(", ").toStdString();
    const QString road = QString::fromUtf8(testenv::readFile(lists + "/Road.m3u"));
    QStringList refs;
    for (const QString &line : road.split("\r\n", Qt::SkipEmptyParts))
        if (!line.startsWith('#')) refs.append(line);
    ASSERT_EQ(refs.size(), 3);
    QStringList copied;
    for (const VtrFileInfoPtr &f : listed.copiedFiles()) copied.append("..\\Music\\" + f->name());
    EXPECT_EQ(refs, copied);
    for (const QString &ref : refs)
        EXPECT_TRUE(QFileInfo::exists(lists + "/" + QString(ref).replace('\\', '/'))) << ref.toStdString();
    EXPECT_TRUE(road.contains("#EXTINF:3,sub/One.mp3"));
}

TEST(MediaMigrators, ClearingRemovesOnlyWhatAnEarlierRunCopied)
{
    const QString phone = testenv::makeTempDir(QStringLiteral("clear"));
    testenv::writeFile(phone + "/p.jpg", bytesFor("p", 300));
    PhotosFromFolders photos({phone});
    photos.backupOldDeviceWithStatus(nullptr);
    auto target = newPhone();
    const VtrFileInfoPtr folder = target->preferredPhotosFolder();
    testenv::writeFile(folder->path() + "/mine.jpg", "the person's own photo");
    photos.copyToDevice(target, 1000, nullptr, nullptr);
    ASSERT_EQ(QDir(folder->path()).entryList(QDir::Files).size(), 2);
    EXPECT_EQ(MediaMigrator::bytesOfEarlierCopies(folder), 300);

    MediaMigrator::clearEarlierCopies(folder);
    EXPECT_EQ(QDir(folder->path()).entryList(QDir::Files), QStringList{"mine.jpg"});
    EXPECT_EQ(MediaMigrator::bytesOfEarlierCopies(folder), 0);
    // A second run copies again under the same name.
    photos.copyToDevice(target, 1000, nullptr, nullptr);
    EXPECT_TRUE(QFileInfo::exists(folder->path() + "/p.jpg"));
    MediaMigrator::clearEarlierCopies(folder);
    EXPECT_EQ(QDir(folder->path()).entryList(QDir::Files), QStringList{"mine.jpg"});
}

TEST(MediaMigrators, AStopInTheMiddleOfACopyLeavesEarlierFilesWholeAndNoTemporaryFile)
{
    const QString phone = testenv::makeTempDir(QStringLiteral("stop"));
    for (int i = 0; i < 4; ++i) testenv::writeFile(phone + QString("/v%1.mp4").arg(i), bytesFor(QString::number(i), 400000));
    FolderMigrator<VideoMigrator, MediaKind::Videos> videos({phone});
    videos.backupOldDeviceWithStatus(nullptr);
    auto target = newPhone();
    const QString folder = target->preferredVideosFolder()->path();
    for (const double stopAt : {0.1, 0.3, 0.6, 0.9}) {
        SCOPED_TRACE(stopAt);
        QDir(folder).removeRecursively();
        QDir().mkpath(folder);
        bool stop = false;
        RecordingStatus status;
        status.onReport = [&](double p) { stop = stop || p >= stopAt; };
        videos.setCancelCheck([&] { return stop; });
        EXPECT_THROW(videos.copyToDevice(target, 1 << 30, &status, nullptr), VtrException);
        videos.setCancelCheck({});
        const QMap<QString, QByteArray> left = hashesIn(folder);
        for (auto it = left.begin(); it != left.end(); ++it) {
            EXPECT_EQ(it.value(), sha1(phone + "/" + it.key())) << it.key().toStdString();
        }
        EXPECT_LT(left.size(), 4);
    }
}

TEST(MediaImporters, MusicWithPlaylistsCountsEachPlaylistOnce)
{
    const QString dir = testenv::makeTempDir(QStringLiteral("imp"));
    testenv::writeFile(dir + "/t1.mp3", bytesFor("t1", 100));
    testenv::writeFile(dir + "/t2.mp3", bytesFor("t2", 100));
    QVariantList dictionaries;
    for (const QString &name : {QStringLiteral("t1.mp3"), QStringLiteral("t2.mp3")}) {
        QVariantMap d;
        d.insert("targetFileInfo", QVariant::fromValue(VtrFileInfoPtr(VtrMacFileInfo::fileInfoWithPath(dir + "/" + name))));
        d.insert("playlistNames", QStringList{"Mix", "Mix"});
        dictionaries.append(d);
    }
    dictionaries.append(QVariantMap{{"playlistNames", QStringList{"Orphan"}}});
    iTunesImporter importer;
    uint files = 99, playlists = 99;
    EXPECT_TRUE(importer.importFileDictionaries({}, "Coll", &files, &playlists));
    EXPECT_EQ(files, 99u);
    EXPECT_TRUE(importer.importFileDictionaries(dictionaries, "Solvenna to Windows Phone Imported Music", &files,
                                                &playlists));
    EXPECT_EQ(files, 2u);
    EXPECT_EQ(playlists, 1u);
    MediaLibraryHost &host = MediaLibraryHost::shared();
    ASSERT_TRUE(host.findPlaylist("Mix", false).has_value());
    EXPECT_TRUE(host.findPlaylist("Solvenna to Windows Phone Imported Music", false).has_value());
    EXPECT_FALSE(host.findPlaylist("Orphan", false).has_value());
    EXPECT_EQ(importer.iAppName(), "iTunes");
    EXPECT_EQ(ApertureImporter().iAppName(), "Aperture");
    EXPECT_TRUE(ApertureImporter().importFiles({VtrMacFileInfo::fileInfoWithPath(dir + "/t1.mp3")}, "x"));
}

TEST(MediaImporters, PhotosGoThroughAFolderOfLinksAndTheSecondOfTwoNamesIsLeftOut)
{
    const QString a = testenv::makeTempDir(QStringLiteral("pa"));
    const QString b = testenv::makeTempDir(QStringLiteral("pb"));
    testenv::writeFile(a + "/same.jpg", bytesFor("a", 50));
    testenv::writeFile(b + "/same.jpg", bytesFor("b", 50));
    iPhotoImporter importer;
    const QString tmp = platform::temporaryFolder();
    const int before = int(QDir(tmp).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
    EXPECT_TRUE(importer.importFiles({}, "Album"));
    EXPECT_EQ(QDir(tmp).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size(), before);
    const VtrFileInfoList files{VtrMacFileInfo::fileInfoWithPath(a + "/same.jpg"),
                                VtrMacFileInfo::fileInfoWithPath(b + "/same.jpg")};
    const VtrFileInfoPtr links = iAppImporter::createTempFolderOfSymLinksForFiles(files);
    ASSERT_TRUE(links);
    EXPECT_TRUE(links->name().startsWith("Solvenna to Windows Phone 20"));
    const QFileInfo link(links->path() + "/same.jpg");
    EXPECT_TRUE(link.isSymLink());
    EXPECT_EQ(link.symLinkTarget(), a + "/same.jpg");
    EXPECT_TRUE(importer.importFiles(files, "Album"));
    EXPECT_TRUE(MediaLibraryHost::shared().findAlbum("Album").has_value());
}

}  // namespace
