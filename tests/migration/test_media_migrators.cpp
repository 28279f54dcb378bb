// The media migrators over plain folders standing for a phone's volumes: the
// backup and the copy byte for byte, unique names where the new phone's file
// system would merge them, the budget's first fit and sizes a phone lists
// near the end of qint64, playlists naming the copied tracks (one file for
// one playlist of a phone, none through a link), clearing only what an
// earlier run copied and whose contents are still the ones it wrote, a copy
// that a clearing cut short had set aside, a card's own files named like the
// temporary copy file, entries that cannot be read left out and counted, a
// folder that turns read-only in the middle of a copy, a stop or the
// process's death in the middle of a copy, and the importers on the
// media-library host.

#include "devices/phone/MobileDeviceProxy.h"
#include "devices/phone/WindowsPhone7LocalDevice.h"
#include "fileinfo/VtrMacFileInfo.h"
#include "foundation/Log.h"
#include "foundation/MigrationStatus.h"
#include "migration/MediaMigrators.h"
#include "migration/iAppImporter.h"
#include "platform/Folders.h"
#include "platform/UserDefaults.h"
#include "platform/VtrException.h"
#include "sources/host/LibraryLocation.h"
#include "sources/host/MediaLibraryHost.h"

#include "TestEnvironment.h"
#include "TestFolders.h"
#include "support/LibraryTestFiles.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A migrator of any kind whose "phone" is a list of local folders.
template <typename Base, MediaKind kKind>
class FolderMigrator final : public Base
{
public:
    explicit FolderMigrator(QStringList folders, std::shared_ptr<MobileDeviceInterface> phone = nullptr)
        : Base(std::move(phone)), m_folders(std::move(folders))
    {}
    QList<MediaSourceItem> extra;  // appended after the folders' files

protected:
    QList<MediaSourceItem> sourceItems() override
    {
        VtrFileInfoList roots;
        for (const QString &f : m_folders) roots.append(VtrMacFileInfo::fileInfoWithPath(f));
        return mediaFilesBelow(roots, kKind, this->phoneReads()) + extra;
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

// An old phone known by its serial number.
class NumberedPhone final : public WindowsPhone7LocalDevice
{
public:
    explicit NumberedPhone(QString serial) : WindowsPhone7LocalDevice({}, nullptr), m_serial(std::move(serial)) {}
    QString serialNumber() const override { return m_serial; }

private:
    QString m_serial;
};

// Each test starts from folders of its own: the home that holds the new
// phone's folder, the data folder with the records of copies, and the user
// defaults (whatever order the tests run in).
class MediaMigrators : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const QString own = testenv::makeTempDir(QStringLiteral("own"));
        platform::setHomeFolderOverride(own + QStringLiteral("/home"));
        platform::setDataFolderOverride(own + QStringLiteral("/data"));
        platform::UserDefaults::setStoreFileForTesting(own + QStringLiteral("/defaults.ini"));
    }
    void TearDown() override
    {
        platform::setHomeFolderOverride({});
        platform::setDataFolderOverride({});
        platform::UserDefaults::setStoreFileForTesting({});
    }
};

// A track the phone lists in playlists, fetched from the local file `path`.
MediaSourceItem trackIn(const QString &path, qint64 size, const QStringList &playlists)
{
    MediaSourceItem item;
    item.name = QFileInfo(path).fileName();
    item.size = size;
    item.playlistNames = playlists;
    item.fetch = [path](const VtrFileInfoPtr &folder, FileInfoCopyProgress *) {
        VtrFileInfoPtr out;
        VtrMacFileInfo::fileInfoWithPath(path)->copyTo(folder, true, nullptr, nullptr, &out);
        return out;
    };
    return item;
}

TEST_F(MediaMigrators, BackupAndCopyKeepEveryFileUnderUniqueNamesByteForByte)
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

TEST_F(MediaMigrators, TenThousandPhotosOfOneNameAreEachBackedUpUnderANameOfTheirOwn)
{
    // Cameras and albums repeat names ("IMG_0001.jpg", "cover.jpg").
    const QString phone = testenv::makeTempDir(QStringLiteral("volume"));
    testenv::writeFile(phone + "/IMG_0001.jpg", "photo");
    PhotosFromFolders photos({});
    for (int i = 0; i < 10001; ++i) photos.extra.append(trackIn(phone + "/IMG_0001.jpg", 5, {}));
    photos.backupOldDeviceWithStatus(nullptr);
    QSet<QString> names;
    for (const MediaItem &item : photos.items()) names.insert(item.name.toCaseFolded());
    EXPECT_EQ(names.size(), 10001);
    EXPECT_EQ(photos.numItemsNotMoved(), 0);
}

TEST_F(MediaMigrators, FirstFitInListOrderAtEveryBudgetEdge)
{
    // Sizes in list order: 100, 5 GiB (a sparse file), 40, 60.
    const QString phone = testenv::makeTempDir(QStringLiteral("fit"));
    PhotosFromFolders photos({});
    const qint64 big = 5LL * 1024 * 1024 * 1024;
    auto made = [](const QString &name, qint64 size) {
        MediaSourceItem item;
        item.name = name;
        item.size = size;
        item.fetch = [name, size](const VtrFileInfoPtr &folder, FileInfoCopyProgress *) {
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

    // A phone may list any size: sums of them stay at the end of qint64, and
    // the bar within its bounds.
    PhotosFromFolders boasting({});
    boasting.extra = {made("d.jpg", 204800), made("e.jpg", 10), made("f.jpg", 10)};
    for (qsizetype i = 1; i < boasting.extra.size(); ++i)
        boasting.extra[i].size = std::numeric_limits<qint64>::max() - 15;
    RecordingStatus status;
    status.onReport = [](double p) {
        EXPECT_GE(p, 0.0);
        EXPECT_LE(p, 1.0);
    };
    boasting.backupOldDeviceWithStatus(&status);
    EXPECT_EQ(boasting.sizeOfItemsToCopy(), 204820);
    boasting.countOldDeviceWithStatus(&status);
    EXPECT_EQ(boasting.manifestInfo().value("data_size").toLongLong(), std::numeric_limits<qint64>::max());
}

TEST_F(MediaMigrators, PlaylistsNameTheCopiedTracksRelativeToThePlaylistsFolder)
{
    const QString phone = testenv::makeTempDir(QStringLiteral("lists"));
    testenv::writeFile(phone + "/One.mp3", bytesFor("x", 10));
    testenv::writeFile(phone + "/sub/One.mp3", bytesFor("y", 10));
    testenv::writeFile(phone + "/Two.mp3", bytesFor("z", 10));
    // Playlist membership as a phone would report it.
    MusicFromFolders listed({});
    for (const QString &rel : {QStringLiteral("One.mp3"), QStringLiteral("sub/One.mp3"), QStringLiteral("Two.mp3")}) {
        MediaSourceItem item = trackIn(phone + "/" + rel, 10,
                                       rel == "Two.mp3" ? QStringList{"Road", "Calm/Night"} : QStringList{"Road"});
        item.title = rel;
        item.durationSeconds = 3;
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

    // Again while the first run's songs stay (the person kept them): its
    // "Road" takes the place of the first one's and of a copy of it that an
    // older version left beside it, and names the songs of both runs.
    testenv::writeFile(lists + "/Road-1.m3u", "#EXTM3U\r\n#EXTINF:3,kept\r\n" + copied.first().toUtf8() + "\r\n");
    MediaMigrator::recordCopies(target->preferredPlaylistsFolder(), {QStringLiteral("Road-1.m3u")});
    listed.copyToDevice(target, 1000, nullptr, nullptr);
    EXPECT_EQ(QDir(lists).entryList(QDir::Files).size(), 2);
    QStringList both;
    for (const QString &line : QString::fromUtf8(testenv::readFile(lists + "/Road.m3u")).split("\r\n"))
        if (!line.isEmpty() && !line.startsWith('#')) both.append(line);
    QStringList now;
    for (const VtrFileInfoPtr &f : listed.copiedFiles()) now.append("..\\Music\\" + f->name());
    EXPECT_EQ(both.join(" ").toStdString(), (now + copied).join(" ").toStdString());
}

TEST_F(MediaMigrators, ClearingRemovesOnlyWhatAnEarlierRunCopied)
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
    {
        // Weighed on the window's thread before each copy: no file is read.
        libtest::OpenWatch watch(folder->path() + "/p.jpg");
        ASSERT_TRUE(watch.watching());
        EXPECT_EQ(MediaMigrator::bytesOfEarlierCopies(folder), 300);
        EXPECT_FALSE(watch.opened());
    }

    MediaMigrator::clearEarlierCopies(folder);
    EXPECT_EQ(QDir(folder->path()).entryList(QDir::Files), QStringList{"mine.jpg"});
    EXPECT_EQ(MediaMigrator::bytesOfEarlierCopies(folder), 0);
    // A second run copies again under the same name; so does a third, after
    // the person removed that copy: one file, counted once.
    photos.copyToDevice(target, 1000, nullptr, nullptr);
    EXPECT_TRUE(QFileInfo::exists(folder->path() + "/p.jpg"));
    ASSERT_TRUE(QFile::remove(folder->path() + "/p.jpg"));
    photos.copyToDevice(target, 1000, nullptr, nullptr);
    EXPECT_EQ(MediaMigrator::bytesOfEarlierCopies(folder), 300);
    MediaMigrator::clearEarlierCopies(folder);
    EXPECT_EQ(QDir(folder->path()).entryList(QDir::Files), QStringList{"mine.jpg"});

    // A copy is this computer's only one unless the other copy recorded for
    // it is still the file it was; a clearing that keeps only copies leaves it.
    photos.copyToDevice(target, 1000, nullptr, nullptr);
    const QString other = testenv::makeTempDir(QStringLiteral("library")) + "/p.jpg";
    testenv::writeFile(other, bytesFor("p", 300));
    MediaMigrator::recordOtherCopies(folder, {{QStringLiteral("p.jpg"), other}});
    EXPECT_EQ(MediaMigrator::earlierCopiesIn(folder).soleFiles, 0);
    testenv::writeFile(other, bytesFor("p edited", 200));
    EXPECT_EQ(MediaMigrator::earlierCopiesIn(folder).soleBytes, 300);
    EXPECT_EQ(MediaMigrator::clearEarlierCopies(folder, MediaMigrator::SoleCopies::Keep), 1);
    EXPECT_EQ(QDir(folder->path()).entryList(QDir::Files).size(), 2);
    // Let go of what the person was told of: a copy that its time hid from
    // the count (touched since, the same bytes) is not among them.
    const QString copy = folder->path() + "/p.jpg";
    QFile touched(copy);
    ASSERT_TRUE(touched.open(QIODevice::ReadWrite));
    ASSERT_TRUE(touched.setFileTime(QDateTime::currentDateTimeUtc().addDays(-3), QFileDevice::FileModificationTime));
    touched.close();
    EXPECT_EQ(MediaMigrator::earlierCopiesIn(folder).soleFiles, 0);
    EXPECT_EQ(MediaMigrator::clearEarlierCopies(folder, MediaMigrator::SoleCopies::RemoveThoseCounted), 1);
    EXPECT_TRUE(QFileInfo::exists(copy));
    MediaMigrator::clearEarlierCopies(folder);
    EXPECT_EQ(QDir(folder->path()).entryList(QDir::Files), QStringList{"mine.jpg"});

    // Making room for a part of the kind: what its copies take the names of
    // goes, then what this computer holds elsewhere too, until there is
    // room; the rest stays.
    for (const char *name : {"q", "r"}) testenv::writeFile(phone + '/' + name + ".jpg", bytesFor(name, 300));
    photos.backupOldDeviceWithStatus(nullptr);
    photos.copyToDevice(target, 1000, nullptr, nullptr);
    const QString held = testenv::makeTempDir(QStringLiteral("library")) + "/r.jpg";
    testenv::writeFile(held, bytesFor("r", 300));
    MediaMigrator::recordOtherCopies(folder, {{QStringLiteral("r.jpg"), held}});
    EXPECT_EQ(MediaMigrator::clearEarlierCopies(folder, MediaMigrator::SoleCopies::Remove,
                                                photos.itemsThatFitInBytes(300), 300),
              2);
    EXPECT_EQ(QDir(folder->path()).entryList(QDir::Files).join(' ').toStdString(), "mine.jpg q.jpg r.jpg");
    EXPECT_EQ(MediaMigrator::clearEarlierCopies(folder, MediaMigrator::SoleCopies::Remove, {}, 1), 1);
    EXPECT_EQ(QDir(folder->path()).entryList(QDir::Files).join(' ').toStdString(), "mine.jpg q.jpg");

    MediaMigrator::clearEarlierCopies(folder);
    for (const char *name : {"q", "r"}) ASSERT_TRUE(QFile::remove(phone + '/' + name + ".jpg"));
    photos.backupOldDeviceWithStatus(nullptr);

    // The program ended while a clearing had our copy aside under a hidden
    // name, and the person put a photo of theirs under its name since. The
    // next start puts ours back beside it, counted and kept or let go as any
    // earlier copy; a file of such a name that is no copy of ours stays.
    photos.copyToDevice(target, 1000, nullptr, nullptr);
    ASSERT_TRUE(QFile::rename(copy, folder->path() + "/.clearing-5eed.tmp"));
    testenv::writeFile(copy, bytesFor("the person's p", 300));
    testenv::writeFile(folder->path() + "/.clearing-beef.tmp", bytesFor("p", 300));
    MediaMigrator::removeUnfinishedCopies(target->preferredStorageInfo());
    EXPECT_EQ(MediaMigrator::earlierCopiesIn(folder).soleFiles, 1);
    EXPECT_EQ(MediaMigrator::clearEarlierCopies(folder, MediaMigrator::SoleCopies::Keep), 1);
    EXPECT_EQ(testenv::readFile(folder->path() + "/p-1.jpg"), bytesFor("p", 300));
    MediaMigrator::clearEarlierCopies(folder);
    EXPECT_EQ(QDir(folder->path()).entryList(QDir::Files | QDir::Hidden, QDir::Name).join(' ').toStdString(),
              ".clearing-beef.tmp mine.jpg p.jpg");
    EXPECT_EQ(testenv::readFile(copy), bytesFor("the person's p", 300));
}

// Adds an entry, as an older or a tampered run left it, to the record of the
// copies in `folder`.
void addToRecord(const QString &folder, const QVariant &entry)
{
    QVariantMap record = platform::UserDefaults::value(QStringLiteral("CopiedMediaFiles")).toMap();
    QVariantList list = record.value(folder).toList();
    list.append(entry);
    record.insert(folder, list);
    platform::UserDefaults::setValue(QStringLiteral("CopiedMediaFiles"), record);
}

// What the record holds for a file we wrote, here for one we did not.
QVariantMap identityEntry(const QString &name, const QString &path)
{
    struct stat st;
    EXPECT_EQ(::lstat(QFile::encodeName(path).constData(), &st), 0);
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    return {{"name", name},
            {"size", qint64(st.st_size)},
            {"mtime_ns", qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec},
            {"device", quint64(st.st_dev)},
            {"inode", quint64(st.st_ino)},
            {"sha256", QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256).toHex()}};
}

TEST_F(MediaMigrators, OnlyFilesStillAsAnEarlierRunWroteThemAreCleared)
{
    const QString phone = testenv::makeTempDir(QStringLiteral("ours"));
    testenv::writeFile(phone + "/a.jpg", bytesFor("a", 300));
    testenv::writeFile(phone + "/b.jpg", bytesFor("b", 300));
    testenv::writeFile(phone + "/c.jpg", bytesFor("c", 500));
    PhotosFromFolders photos({phone});
    photos.backupOldDeviceWithStatus(nullptr);
    auto target = newPhone();
    const VtrFileInfoPtr folder = target->preferredPhotosFolder();
    const QString dir = folder->path();
    testenv::removeTree(dir);
    QDir().mkpath(dir);
    platform::UserDefaults::remove(QStringLiteral("CopiedMediaFiles"));
    // The person's own photo under a name the phone's photo has too.
    testenv::writeFile(dir + "/a.jpg", "the person's a");
    photos.copyToDevice(target, 10000, nullptr, nullptr);
    ASSERT_EQ(photos.copiedFiles().size(), 3);
    EXPECT_EQ(testenv::readFile(dir + "/a.jpg"), QByteArray("the person's a"));
    EXPECT_EQ(MediaMigrator::bytesOfEarlierCopies(folder), 1100);
    const QString ourA = photos.copiedFiles().first()->path();
    EXPECT_NE(ourA, dir + "/a.jpg");

    // Later the person replaces our b.jpg by a photo of the same size; our
    // c.jpg is copied away and back by some other program (new inode and
    // time, same bytes); a name-only record of an older run names a file of
    // the person's; a tampered record leads out of the folder.
    QFile::remove(dir + "/b.jpg");
    testenv::writeFile(dir + "/b.jpg", bytesFor("person's b", 300));
    ASSERT_TRUE(QFile::copy(dir + "/c.jpg", dir + "/c.tmp"));
    ASSERT_TRUE(QFile::remove(dir + "/c.jpg"));
    ASSERT_TRUE(QFile::rename(dir + "/c.tmp", dir + "/c.jpg"));
    testenv::writeFile(dir + "/legacy.jpg", "the person's, under a name an older run used");
    addToRecord(dir, QStringLiteral("legacy.jpg"));
    const QString victim = target->preferredStorageInfo()->path() + "/victim.jpg";
    testenv::writeFile(victim, "outside the folder");
    addToRecord(dir, identityEntry("../victim.jpg", victim));
    addToRecord(dir, identityEntry("..", victim));

    // Weighed by status alone, c.jpg's new inode hides it; cleared by
    // contents, it goes.
    EXPECT_EQ(MediaMigrator::bytesOfEarlierCopies(folder), 300) << "our a only";
    MediaMigrator::clearEarlierCopies(folder);
    QStringList left = QDir(dir).entryList(QDir::Files);
    left.sort();
    EXPECT_EQ(left, (QStringList{"a.jpg", "b.jpg", "legacy.jpg"}));
    EXPECT_EQ(testenv::readFile(dir + "/b.jpg"), bytesFor("person's b", 300));
    EXPECT_EQ(testenv::readFile(victim), QByteArray("outside the folder"));
    EXPECT_EQ(MediaMigrator::bytesOfEarlierCopies(folder), 0);

    // A record as an older run wrote it, names only.
    const VtrFileInfoPtr videos = target->preferredVideosFolder();
    testenv::writeFile(videos->path() + "/old.mp4", "the person's video now");
    QVariantMap record = platform::UserDefaults::value(QStringLiteral("CopiedMediaFiles")).toMap();
    record.insert(videos->path(), QStringList{"old.mp4"});
    platform::UserDefaults::setValue(QStringLiteral("CopiedMediaFiles"), record);
    EXPECT_EQ(MediaMigrator::bytesOfEarlierCopies(videos), 0);
    MediaMigrator::clearEarlierCopies(videos);
    EXPECT_TRUE(QFileInfo::exists(videos->path() + "/old.mp4"));

    // A second run copies again and clears its own copies again.
    photos.copyToDevice(target, 10000, nullptr, nullptr);
    EXPECT_EQ(MediaMigrator::bytesOfEarlierCopies(folder), 1100);
    MediaMigrator::clearEarlierCopies(folder);
    left = QDir(dir).entryList(QDir::Files);
    left.sort();
    EXPECT_EQ(left, (QStringList{"a.jpg", "b.jpg", "legacy.jpg"}));
}

TEST_F(MediaMigrators, ACopyEditedInPlaceWithItsTimePutBackIsThePersons)
{
    VTR_TEST_AS_UNPRIVILEGED_USER();
    const QString phone = testenv::makeTempDir(QStringLiteral("edited"));
    for (const char *name : {"edited.jpg", "ours.jpg"}) testenv::writeFile(phone + "/" + name, bytesFor(name, 300));
    PhotosFromFolders photos({phone});
    photos.backupOldDeviceWithStatus(nullptr);
    auto target = newPhone();
    const VtrFileInfoPtr folder = target->preferredPhotosFolder();
    const QString dir = folder->path();
    photos.copyToDevice(target, 10000, nullptr, nullptr);
    ASSERT_EQ(photos.copiedFiles().size(), 2);

    // The person edits a copy in place and puts its time back to the nanosecond.
    const QByteArray edited = QFile::encodeName(dir + "/edited.jpg");
    struct stat before;
    ASSERT_EQ(::lstat(edited.constData(), &before), 0);
    {
        QFile file(dir + "/edited.jpg");
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_EQ(file.write(bytesFor("the person's edit", 300)), 300);
    }
    const struct timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, edited.constData(), times, AT_SYMLINK_NOFOLLOW), 0);

    // Records as earlier versions kept them in the user defaults: with the
    // digest of the contents, and without it (the copy was never read back).
    testenv::writeFile(dir + "/older.jpg", bytesFor("older", 200));
    testenv::writeFile(dir + "/unread.jpg", bytesFor("unread", 100));
    addToRecord(dir, identityEntry("older.jpg", dir + "/older.jpg"));
    QVariantMap unread = identityEntry("unread.jpg", dir + "/unread.jpg");
    unread.remove("sha256");
    addToRecord(dir, unread);

    // The weighing before a copy reads no contents: by its status the edited
    // copy still looks like ours. The clearing reads them.
    EXPECT_EQ(MediaMigrator::bytesOfEarlierCopies(folder), 800) << "edited.jpg, ours.jpg and older.jpg";
    MediaMigrator::clearEarlierCopies(folder);
    QStringList left = QDir(dir).entryList(QDir::Files);
    left.sort();
    EXPECT_EQ(left, (QStringList{"edited.jpg", "unread.jpg"}));
    EXPECT_EQ(testenv::readFile(dir + "/edited.jpg"), bytesFor("the person's edit", 300));
    EXPECT_EQ(MediaMigrator::bytesOfEarlierCopies(folder), 0);
}

// Weighed by status alone, a copy is ours only on the disk it was written
// to: the same inode number on another disk is another file.
TEST_F(MediaMigrators, ACopyIsWeighedAsOursOnlyOnItsOwnDisk)
{
    auto target = newPhone();
    const VtrFileInfoPtr folder = target->preferredPhotosFolder();
    const QString dir = folder->path();
    testenv::writeFile(dir + "/here.jpg", bytesFor("here", 300));
    testenv::writeFile(dir + "/elsewhere.jpg", bytesFor("elsewhere", 200));
    addToRecord(dir, identityEntry("here.jpg", dir + "/here.jpg"));
    QVariantMap elsewhere = identityEntry("elsewhere.jpg", dir + "/elsewhere.jpg");
    elsewhere.insert("device", elsewhere.value("device").toULongLong() + 1);
    addToRecord(dir, elsewhere);
    EXPECT_EQ(MediaMigrator::bytesOfEarlierCopies(folder), 300);
}

TEST_F(MediaMigrators, ACardsFilesNamedLikeTheTemporaryCopyFileStay)
{
    VTR_TEST_AS_UNPRIVILEGED_USER();
    const QString card = testenv::makeTempDir(QStringLiteral("card"));
    testenv::writeFile(card + "/TessalineCopyFile.tmp", "the card's");
    testenv::writeFile(card + "/DCIM/tessalinecopyfile.TMP", "the card's too");
    testenv::writeFile(card + "/DCIM/p.jpg", bytesFor("p", 100));
    PhotosFromFolders photos({card});
    photos.backupOldDeviceWithStatus(nullptr);
    EXPECT_EQ(photos.numItemsToCopy(), 1);

    // Unfinished copies are cleared in the new phone's own folders, never
    // through a link from there to the card.
    auto target = newPhone();
    ASSERT_TRUE(QFile::link(card, target->preferredStorageInfo()->path() + "/Card"));
    const QString leftover = target->preferredPhotosFolder()->path() + "/TessalineCopyFile.tmp";
    testenv::writeFile(leftover, "an interrupted copy");
    MediaMigrator::removeUnfinishedCopies(target->preferredStorageInfo());
    EXPECT_FALSE(QFileInfo::exists(leftover));
    EXPECT_EQ(testenv::readFile(card + "/TessalineCopyFile.tmp"), QByteArray("the card's"));
    EXPECT_EQ(testenv::readFile(card + "/DCIM/tessalinecopyfile.TMP"), QByteArray("the card's too"));
}

// The process dies (killed, the computer goes off) in the middle of a copy:
// every copy it finished is recorded with its contents, also those it had
// only just put in place (photos large enough to be read on other threads),
// and the next run clears them and copies each file once.
TEST_F(MediaMigrators, ARunThatDiesKeepsItsFinishedCopiesRecorded)
{
    VTR_TEST_AS_UNPRIVILEGED_USER();
    constexpr int kFiles = 12;
    constexpr int kDieInFile = 8;
    const QString inChild = qEnvironmentVariable("VTR_TEST_DIE_IN");
    const QString own = inChild.isEmpty() ? testenv::makeTempDir(QStringLiteral("dies")) : inChild;
    platform::setHomeFolderOverride(own + "/home");
    platform::setDataFolderOverride(own + "/data");
    PhotosFromFolders photos({own + "/phone"});
    if (!inChild.isEmpty()) {
        photos.backupOldDeviceWithStatus(nullptr);
        RecordingStatus status;
        status.onReport = [&](double p) {
            if (p >= (kDieInFile - 0.5) / kFiles) ::raise(SIGKILL);
        };
        photos.copyToDevice(newPhone(), 1 << 30, &status, nullptr);
        ADD_FAILURE() << "the copy ended";
        return;
    }
    for (int i = 0; i < kFiles; ++i)
        testenv::writeFile(own + QStringLiteral("/phone/p%1.jpg").arg(i, 2, 10, QLatin1Char('0')),
                           bytesFor(QString::number(i), 300 * 1024));
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("VTR_TEST_DIE_IN", own);
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(testenv::program(), {"--gtest_filter=MediaMigrators.ARunThatDiesKeepsItsFinishedCopiesRecorded"});
    ASSERT_TRUE(child.waitForFinished(280000));
    ASSERT_EQ(child.exitStatus(), QProcess::CrashExit) << child.readAll().toStdString();

    auto target = newPhone();
    const QString dir = target->preferredPhotosFolder()->path();
    const QStringList finished = QDir(dir).entryList({"*.jpg"}, QDir::Files, QDir::Name);
    ASSERT_EQ(finished.size(), kDieInFile - 1) << finished.join(", ").toStdString();
    // The next run of the same phone: its finished copies come again from
    // it, so there is nothing to ask about, and the clearing the person did
    // not agree to (the wizard's default keeps what is nowhere else) takes
    // them all the same.
    photos.backupOldDeviceWithStatus(nullptr);
    EXPECT_EQ(MediaMigrator::earlierCopiesIn(target->preferredPhotosFolder(), photos.items()).soleFiles, 0);
    MediaMigrator::clearEarlierCopies(target->preferredPhotosFolder(), MediaMigrator::SoleCopies::Keep,
                                      photos.items());
    const QStringList left = QDir(dir).entryList({"*.jpg"}, QDir::Files, QDir::Name);
    EXPECT_TRUE(left.isEmpty()) << left.join(", ").toStdString();
    photos.copyToDevice(target, 1 << 30, nullptr, nullptr);
    EXPECT_EQ(QDir(dir).entryList({"*.jpg"}, QDir::Files, QDir::Name).join(", ").toStdString(),
              QDir(own + "/phone").entryList({"*.jpg"}, QDir::Files, QDir::Name).join(", ").toStdString());
}

TEST_F(MediaMigrators, AFolderThatTurnsReadOnlyIsNamedWithItsCauseAndKeepsWhatItCannotRemove)
{
    VTR_TEST_AS_UNPRIVILEGED_USER();
    const QString phone = testenv::makeTempDir(QStringLiteral("ro"));
    testenv::writeFile(phone + "/a.jpg", bytesFor("a", 1000));
    testenv::writeFile(phone + "/b.jpg", bytesFor("b", 3 << 20));
    PhotosFromFolders photos({phone});
    photos.backupOldDeviceWithStatus(nullptr);
    auto target = newPhone();
    const VtrFileInfoPtr folder = target->preferredPhotosFolder();
    const QString dir = folder->path();
    const QString temporary = dir + "/TessalineCopyFile.tmp";
    // The folder turns read-only once b.jpg's bytes are on their way.
    testenv::TakenModes modes;
    RecordingStatus status;
    status.onReport = [&](double) {
        if (QFileInfo(temporary).size() >= (1 << 20)) modes.take(dir, 0500);
    };
    try {
        photos.copyToDevice(target, 1 << 30, &status, nullptr);
        ADD_FAILURE() << "the copy into a read-only folder succeeded";
    } catch (const VtrException &e) {
        EXPECT_TRUE(e.reason().contains("\"" + dir + "\"")) << e.reason().toStdString();
        EXPECT_TRUE(e.reason().contains(QString::fromLocal8Bit(std::strerror(EACCES)))) << e.reason().toStdString();
        EXPECT_TRUE(e.reason().contains("\"" + temporary + "\"")) << e.reason().toStdString();
    }
    EXPECT_EQ(sha1(dir + "/a.jpg"), sha1(phone + "/a.jpg"));
    EXPECT_TRUE(QFileInfo::exists(temporary));

    // While it stays read-only nothing can be cleared, and the record keeps
    // what it could not remove.
    MediaMigrator::clearEarlierCopies(folder);
    EXPECT_TRUE(QFileInfo::exists(dir + "/a.jpg"));
    EXPECT_EQ(MediaMigrator::bytesOfEarlierCopies(folder), 1000);
    MediaMigrator::removeUnfinishedCopies(target->preferredStorageInfo());
    EXPECT_TRUE(QFileInfo::exists(temporary));

    // Writable again: the next start removes the leftover, the next clearing our copy.
    QFile::setPermissions(dir, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    MediaMigrator::removeUnfinishedCopies(target->preferredStorageInfo());
    EXPECT_FALSE(QFileInfo::exists(temporary));
    MediaMigrator::clearEarlierCopies(folder);
    EXPECT_TRUE(QDir(dir).entryList(QDir::Files | QDir::Hidden).isEmpty());
    photos.copyToDevice(target, 1 << 30, nullptr, nullptr);
    EXPECT_EQ(photos.copiedFiles().size(), 2);
}

TEST_F(MediaMigrators, EntriesThatCannotBeReadAreLeftOutCountedAndTheRestGoes)
{
    VTR_TEST_AS_UNPRIVILEGED_USER();
    const QString phone = testenv::makeTempDir(QStringLiteral("card"));
    const QString outside = testenv::makeTempDir(QStringLiteral("outside"));
    testenv::writeFile(outside + "/secret.mp3", "not the phone's");
    testenv::writeFile(phone + "/Music/good.mp3", bytesFor("good", 100));
    testenv::writeFile(phone + "/Music/..mp3", bytesFor("dots", 10));        // a title of ".", not hidden
    testenv::writeFile(phone + "/Music/._good.mp3", "another computer's notes"); // hidden
    for (int i = 0; i < 11; ++i) testenv::writeFile(phone + QString("/Music/._%1.mp3").arg(i), "notes");
    testenv::writeFile(phone + "/Music/.thumbs/t.mp3", "hidden folder");
    testenv::writeFile(phone + "/Music/locked.mp3", "no read permission");
    testenv::TakenModes modes;
    ASSERT_TRUE(modes.take(phone + "/Music/locked.mp3", 0200));
    testenv::writeFile(phone + "/Music/closed/inside.mp3", "in a folder that cannot be listed");
    ASSERT_TRUE(modes.take(phone + "/Music/closed", 0200));
    ASSERT_EQ(::mkfifo(QFile::encodeName(phone + "/Music/pipe.mp3").constData(), 0644), 0);
    QFile::link(phone + "/Music/nowhere", phone + "/Music/broken.mp3");
    QFile::link(outside + "/secret.mp3", phone + "/Music/stolen.mp3");
    QFile::link("good.mp3", phone + "/Music/alias.mp3");  // inside: followed
    // A volume beside it whose name begins with the card's.
    testenv::writeFile(phone + "2/x.mp3", "another volume's");
    QFile::link(phone + "2/x.mp3", phone + "/Music/sibling.mp3");

    MusicFromFolders music({phone});
    // One read fails once (taken on the second try), one always.
    int tries = 0;
    auto made = [&](const QString &name, int failures) {
        MediaSourceItem item;
        item.name = name;
        item.size = 5;
        item.fetch = [&tries, name, failures](const VtrFileInfoPtr &folder, FileInfoCopyProgress *) -> VtrFileInfoPtr {
            if (tries++ < failures) throw VtrException("DeviceException", "the phone did not answer");
            testenv::writeFile(folder->path() + "/" + name, "fetch");
            return VtrMacFileInfo::fileInfoWithPath(folder->path() + "/" + name);
        };
        return item;
    };
    // A fetch that answers a file that is not there.
    MediaSourceItem ghost;
    ghost.name = QStringLiteral("ghost.mp3");
    ghost.fetch = [](const VtrFileInfoPtr &folder, FileInfoCopyProgress *) -> VtrFileInfoPtr {
        return VtrMacFileInfo::fileInfoWithPath(folder->path() + "/ghost.mp3");
    };
    music.extra = {made("flaky.mp3", 1), ghost};
    // Of many hidden files the log names the first ten, then counts the rest.
    QStringList log;
    LogSetSystemLogSink([&log](const QString &line) { log.append(line); });
    music.backupOldDeviceWithStatus(nullptr);
    LogSetSystemLogSink({});
    EXPECT_EQ(log.filter("The hidden file").size(), 10) << log.join('\n').toStdString();
    EXPECT_EQ(log.filter("hidden files").join('|').toStdString(), "2 more hidden files are left out.");
    QStringList names;
    for (const MediaItem &item : music.items()) names.append(item.name);
    names.sort();
    EXPECT_EQ(names, (QStringList{"..mp3", "alias.mp3", "flaky.mp3", "good.mp3"}));
    // locked, closed, pipe, broken, stolen, sibling and the ghost.
    EXPECT_EQ(music.numItemsNotMoved(), 7);
    EXPECT_EQ(music.numHiddenItemsLeftOut(), 12);
    EXPECT_EQ(music.manifestInfo().value("not_moved_cnt").toInt(), 7);
    EXPECT_EQ(music.manifestInfo().value("hidden_cnt").toInt(), 12);

    tries = 0;
    music.extra = {made("dead.mp3", 2)};
    music.backupOldDeviceWithStatus(nullptr);
    EXPECT_EQ(music.numItemsNotMoved(), 7);
    EXPECT_EQ(tries, 2) << "one more try, not more";
}

TEST_F(MediaMigrators, AFolderThatCannotBeListedOnceThePhoneHasGoneEndsTheBackup)
{
    VTR_TEST_AS_UNPRIVILEGED_USER();
    const QString phone = testenv::makeTempDir(QStringLiteral("gone"));
    testenv::TakenModes modes;
    for (const QString folder : {phone + "/a", phone + "/b"}) {
        testenv::writeFile(folder + "/x.jpg", "photo");
        ASSERT_TRUE(modes.take(folder, 0200));
    }
    // A proxy with no phone behind it: the phone has gone.
    PhotosFromFolders photos({phone}, std::make_shared<MobileDeviceProxy>());
    try {
        photos.backupOldDeviceWithStatus(nullptr);
        ADD_FAILURE() << "the folders were counted as not moved: " << photos.numItemsNotMoved();
    } catch (const VtrException &e) {
        EXPECT_EQ(e.name(), QStringLiteral("folderContentsWithFilter"));
    }
}

TEST(PhoneReads, NoSecondTryOnceThePhoneHasGone)
{
    const PhoneReads reads{{}, [] { return true; }};
    int tries = 0;
    QString why;
    EXPECT_FALSE(reads.twice("Reading", [&] { return ++tries == 0; }, &why));
    EXPECT_THROW(reads.twice("Reading", [&]() -> bool { ++tries; throw VtrException("DeviceException", "gone"); }, &why),
                 VtrException);
    EXPECT_EQ(tries, 2);
}

TEST_F(MediaMigrators, PlaylistsNeverReplaceThePersonsAndLongNamesAreShortened)
{
    const QString phone = testenv::makeTempDir(QStringLiteral("plays"));
    const QString longName = QString(300, QChar(u'é'));
    MusicFromFolders music({});
    for (const char *name : {"One.mp3", "Two.mp3"}) {
        testenv::writeFile(phone + "/" + name, bytesFor(name, 64));
        music.extra.append(trackIn(phone + "/" + name, 64, {"Road", longName}));
    }
    music.backupOldDeviceWithStatus(nullptr);
    auto target = newPhone();
    const QString songs = target->preferredMusicFolder()->path();
    const QString lists = target->preferredPlaylistsFolder()->path();
    for (const QString &folder : {songs, lists}) {
        testenv::removeTree(folder);
        QDir().mkpath(folder);
    }
    // The person's own song and playlist under the names ours would take.
    testenv::writeFile(songs + "/One.mp3", "the person's song");
    testenv::writeFile(lists + "/Road.m3u", "the person's playlist");

    QStringList firstRun;
    for (int run = 1; run <= 2; ++run) {
        SCOPED_TRACE(run);
        MediaMigrator::clearEarlierCopies(target->preferredMusicFolder());
        music.copyToDevice(target, 1000, nullptr, nullptr);
        EXPECT_EQ(testenv::readFile(songs + "/One.mp3"), QByteArray("the person's song"));
        EXPECT_EQ(testenv::readFile(lists + "/Road.m3u"), QByteArray("the person's playlist"));
        QStringList files = QDir(lists).entryList(QDir::Files);
        files.sort();
        ASSERT_EQ(files.size(), 3) << files.join(", ").toStdString();
        if (run == 1) firstRun = files;
        EXPECT_EQ(files, firstRun) << "a second run replaces its own playlists";
        // Ours names the copies, never the person's song of the same name.
        QStringList expected;
        for (const VtrFileInfoPtr &f : music.copiedFiles()) expected.append("..\\Music\\" + f->name());
        for (const QString &file : files) {
            if (file == "Road.m3u") continue;
            EXPECT_LE(QFile::encodeName(file).size(), 255);
            QStringList refs;
            for (const QString &line : QString::fromUtf8(testenv::readFile(lists + "/" + file)).split("\r\n"))
                if (!line.isEmpty() && !line.startsWith('#')) refs.append(line);
            EXPECT_EQ(refs, expected) << file.toStdString();
        }
    }
    // Where the records cannot be kept or read (the data folder a link),
    // the runs take their own songs and playlists, by name and bytes, for
    // this run's copies: nothing is copied twice, the person's files stay,
    // and nothing is written through the link.
    const QMap<QString, QByteArray> songsBefore = hashesIn(songs), listsBefore = hashesIn(lists);
    const QString data = platform::dataFolder();
    const QString elsewhere = testenv::makeTempDir(QStringLiteral("appdata"));
    const QString linked = testenv::makeTempDir(QStringLiteral("share")) + QStringLiteral("/data");
    ASSERT_TRUE(QFile::link(elsewhere, linked));
    platform::setDataFolderOverride(linked);
    for (int run = 3; run <= 4; ++run) {
        SCOPED_TRACE(run);
        MediaMigrator::clearEarlierCopies(target->preferredMusicFolder());
        music.copyToDevice(target, 1000, nullptr, nullptr);
        EXPECT_EQ(hashesIn(songs), songsBefore);
        EXPECT_EQ(hashesIn(lists), listsBefore);
    }
    EXPECT_TRUE(QDir(elsewhere).isEmpty());
    platform::setDataFolderOverride(data);
    // Another phone's run, while the first one's songs stay: its "Road" goes
    // beside the first phone's, which stays as it was.
    const QString firstPhones = firstRun.filter(QRegularExpression("^Road-")).value(0);
    const QByteArray firstRoad = testenv::readFile(lists + "/" + firstPhones);
    MusicFromFolders other({}, std::make_shared<NumberedPhone>(QStringLiteral("ANOTHER")));
    other.extra.append(trackIn(phone + "/One.mp3", 64, {"Road"}));
    other.backupOldDeviceWithStatus(nullptr);
    other.copyToDevice(target, 1000, nullptr, nullptr);
    EXPECT_EQ(testenv::readFile(lists + "/" + firstPhones), firstRoad) << firstPhones.toStdString();
    EXPECT_EQ(QDir(lists).entryList(QDir::Files).size(), 4);
    // A "Playlists" that became a link to a folder elsewhere gets none of them.
    const QString away = testenv::makeTempDir(QStringLiteral("elsewhere"));
    testenv::removeTree(lists);
    ASSERT_TRUE(QFile::link(away, lists));
    music.copyToDevice(target, 1000, nullptr, nullptr);
    EXPECT_TRUE(QDir(away).entryList(QDir::Files | QDir::Hidden).isEmpty());
}

TEST_F(MediaMigrators, TheLibrarysTrackTimesBecomeSecondsInThePlaylists)
{
    const QString library = testenv::makeTempDir(QStringLiteral("library"));
    const QString songs = library + "/iTunes Music";
    testenv::writeFile(songs + "/song.wav", libtest::silentWav(800));
    testenv::writeFile(songs + "/short.wav", libtest::silentWav(400));
    auto track = [](int id, const char *name, const QString &path, const char *time) {
        return QStringLiteral("<key>%1</key><dict><key>Track ID</key><integer>%1</integer><key>Name</key>"
                              "<string>%2</string>%3<key>Location</key><string>%4</string></dict>")
            .arg(id)
            .arg(QLatin1String(name),
                 time ? QStringLiteral("<key>Total Time</key><integer>%1</integer>").arg(QLatin1String(time))
                      : QString(),
                 vtr::libraryLocationForLocalPath(path));
    };
    const QString xml =
        QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
                       "<key>Major Version</key><integer>1</integer><key>Library Persistent ID</key><string>5A3F1E0C9B7D2468</string>"
                       "<key>Music Folder</key><string>%1</string>"
                       "<key>Tracks</key><dict>%2%3</dict><key>Playlists</key><array><dict><key>Name</key>"
                       "<string>Drive</string><key>Playlist Persistent ID</key><string>D71E</string><key>Playlist Items</key><array><dict><key>Track ID</key>"
                       "<integer>7</integer></dict><dict><key>Track ID</key><integer>8</integer></dict>"
                       "</array></dict></array></dict></plist>\n")
            .arg(vtr::libraryLocationForLocalPath(songs, true),
                 track(7, "Long Song", songs + "/song.wav", "215999"), track(8, "No Time", songs + "/short.wav", nullptr));
    testenv::writeFile(library + "/iTunes Music Library.xml", xml.toUtf8());
    AppleMusicMigrator music(nullptr);
    music.setLibraryFile(library + "/iTunes Music Library.xml");
    // The phone's songs as the library's sync selection names them: the playlist.
    music.setSyncSelection({{QStringLiteral("iTunes Library ID"), QStringLiteral("5A3F1E0C9B7D2468")},
                            {QStringLiteral("playlists"), QVariantList{QVariantMap{{QStringLiteral("playlist persistent id"), QStringLiteral("D71E")}}}}});
    music.backupOldDeviceWithStatus(nullptr);
    ASSERT_EQ(music.numItemsToCopy(), 2);
    auto target = newPhone();
    music.copyToDevice(target, 1 << 20, nullptr, nullptr);
    const QStringList lines =
        QString::fromUtf8(testenv::readFile(target->preferredPlaylistsFolder()->path() + "/Drive.m3u")).split("\r\n");
    EXPECT_TRUE(lines.contains("#EXTINF:215,Long Song")) << lines.join(" | ").toStdString();
    EXPECT_TRUE(lines.contains("#EXTINF:-1,No Time")) << lines.join(" | ").toStdString();
}

TEST_F(MediaMigrators, AStopInTheMiddleOfACopyLeavesEarlierFilesWholeAndNoTemporaryFile)
{
    const QString phone = testenv::makeTempDir(QStringLiteral("stop"));
    // A chunk and a half each: every stop lands inside a file.
    for (int i = 0; i < 4; ++i) testenv::writeFile(phone + QString("/v%1.mp4").arg(i), bytesFor(QString::number(i), 3 << 19));
    FolderMigrator<VideoMigrator, MediaKind::Videos> videos({phone});
    videos.backupOldDeviceWithStatus(nullptr);
    auto target = newPhone();
    const QString folder = target->preferredVideosFolder()->path();
    for (const double stopAt : {0.1, 0.3, 0.6, 0.9}) {
        SCOPED_TRACE(stopAt);
        testenv::removeTree(folder);
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
        EXPECT_EQ(left.size(), int(stopAt * 4));
        // Every finished copy is recorded with its contents: the next run clears it.
        MediaMigrator::clearEarlierCopies(target->preferredVideosFolder());
        EXPECT_TRUE(hashesIn(folder).isEmpty()) << QStringList(hashesIn(folder).keys()).join(", ").toStdString();
    }

    // A stop while a large file's contents are read before its copy ends
    // that read, rather than once the whole file is read.
    const QString large = testenv::makeTempDir(QStringLiteral("large"));
    {
        QFile file(large + "/big.mp4");
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_TRUE(file.resize(qint64(48) << 20));
    }
    FolderMigrator<VideoMigrator, MediaKind::Videos> big({large});
    big.backupOldDeviceWithStatus(nullptr);
    const auto bytesRead = [] {
        const QByteArray io = testenv::readFile(QStringLiteral("/proc/self/io"));
        const qsizetype at = io.indexOf("rchar: ");
        return at < 0 ? qint64(-1) : io.mid(at + 7, io.indexOf('\n', at) - at - 7).toLongLong();
    };
    int asked = 0;
    big.setCancelCheck([&] { return ++asked > 1; });
    const qint64 before = bytesRead();
    EXPECT_THROW(big.copyToDevice(target, 1 << 30, nullptr, nullptr), VtrException);
    const qint64 read = bytesRead() - before;
    big.setCancelCheck({});
    ASSERT_GE(before, 0);
    EXPECT_LT(read, qint64(16) << 20);

    // So does a stop while the copy waits for the contents of a large file,
    // read ahead while a small one before it was copied.
    FolderMigrator<VideoMigrator, MediaKind::Videos> two({});
    for (const auto &[name, size] :
         {std::pair{"small.mp4", qint64(100) << 10}, std::pair{"large.mp4", qint64(768) << 20}}) {
        MediaSourceItem item;
        item.name = QString::fromLatin1(name);
        item.size = size;
        item.fetch = [item](const VtrFileInfoPtr &in, FileInfoCopyProgress *) {
            QFile file(in->path() + "/" + item.name);
            if (!file.open(QIODevice::WriteOnly) || !file.resize(item.size)) return VtrFileInfoPtr();
            return VtrFileInfoPtr(VtrMacFileInfo::fileInfoWithPath(file.fileName()));
        };
        two.extra.append(item);
    }
    two.backupOldDeviceWithStatus(nullptr);
    // The small file's copy is in place: the stop comes at the first look
    // after the copy's own two, in the wait.
    int askedSince = 0;
    two.setCancelCheck([&] { return QFileInfo::exists(folder + "/small.mp4") && ++askedSince >= 3; });
    const qint64 beforeTwo = bytesRead();
    EXPECT_THROW(two.copyToDevice(target, qint64(1) << 40, nullptr, nullptr), VtrException);
    two.setCancelCheck({});
    EXPECT_LT(bytesRead() - beforeTwo, qint64(256) << 20);
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
