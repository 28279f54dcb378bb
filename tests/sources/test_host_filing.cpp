// The media-library host files each song once and never over what another
// program put beside it meanwhile.
#include "platform/Descriptor.h"
#include "platform/Folders.h"
#include "sources/host/FiledFiles.h"
#include "sources/host/LibraryLocation.h"
#include "sources/host/MediaLibraryHost.h"
#include "sources/host/PropertyListXml.h"

#include "TestEnvironment.h"
#include "TestFolders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <sys/inotify.h>

#include <unistd.h>

namespace {

QVariantMap musicLibrary()
{
    return vtr::XmlPropertyListReader::readDictionaryFile(MediaLibraryHost::musicLibraryFilePath())
        .value_or(QVariantMap());
}

QString locationOf(qint64 trackID)
{
    const QVariantMap track =
        musicLibrary().value(QStringLiteral("Tracks")).toMap().value(QString::number(trackID)).toMap();
    return vtr::localPathForLibraryLocation(track.value(QStringLiteral("Location")).toString());
}

QStringList filesIn(const QString &folder)
{
    QStringList names = QDir(folder).entryList(QDir::Files);
    names.sort();
    return names;
}

// Every test starts with empty libraries.
class HostFiling : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QFile::remove(MediaLibraryHost::musicLibraryFilePath());
        QFile::remove(MediaLibraryHost::albumDataFilePath());
        testenv::removeTree(MediaLibraryHost::musicFolder());
        testenv::removeTree(MediaLibraryHost::videosFolder());
        testenv::removeTree(MediaLibraryHost::picturesFolder());
        host.forgetLibrariesForTesting();
    }
    MediaLibraryHost &host = MediaLibraryHost::shared();
};

// Files on two disks that share inode numbers: a file's disk is told by the
// folder it lies in ("/card/" is the other disk), and every inode number is
// one and the same.
vtr::FileStamp stampOnTwoDisks(const QString &path)
{
    vtr::FileStamp stamp = vtr::fileStampOf(path);
    if (stamp.exists) {
        stamp.device = path.contains(QLatin1String("/card/")) ? 2 : 1;
        stamp.inode = 4242;
    }
    return stamp;
}

} // namespace

// The playlist files are recorded in the library file: none is written for a
// library another program wrote meanwhile, or the next import finds its name
// taken by a file nobody recorded.
TEST_F(HostFiling, NoPlaylistFileIsWrittenForALibraryAnotherProgramWroteMeanwhile)
{
    const QString source = testenv::makeTempDir(QStringLiteral("meanwhile"));
    testenv::writeFile(source + QStringLiteral("/a.mp3"), "song a");
    const QByteArray theirs = vtr::XmlPropertyListWriter::toXml(
        QVariantMap{{"Library Persistent ID", "THEIRS"}, {"Tracks", QVariantMap()}, {"Playlists", QVariantList()}});
    const QString playlists = MediaLibraryHost::playlistsFolder();
    {
        MediaLibraryHost::Batch batch(host);
        const QList<qint64> ids = host.addMediaFiles(source + QStringLiteral("/a.mp3"), QStringLiteral("C"));
        host.addTracksToPlaylist(ids, host.createPlaylist(QStringLiteral("Road trip"), false).persistentID);
        testenv::writeFile(MediaLibraryHost::musicLibraryFilePath(), theirs);
        EXPECT_THROW(batch.commit(), MediaLibraryHost::Failure);
    }
    EXPECT_EQ(filesIn(playlists), QStringList());
    EXPECT_EQ(testenv::readFile(MediaLibraryHost::musicLibraryFilePath()), theirs);

    const QList<qint64> ids = host.addMediaFiles(source + QStringLiteral("/a.mp3"), QStringLiteral("C"));
    host.addTracksToPlaylist(ids, host.createPlaylist(QStringLiteral("Road trip"), false).persistentID);
    EXPECT_EQ(filesIn(playlists), QStringList{QStringLiteral("Road trip.m3u8")});

    // A library file that cannot be kept (a link at its name): each import,
    // knowing nothing of the one before, takes the song and the playlist
    // file it finds with their very bytes for its own, and files neither
    // twice. The photos are saved, and the music's failure is not theirs.
    const QString notes = testenv::makeTempDir(QStringLiteral("documents")) + QStringLiteral("/notes.txt");
    testenv::writeFile(notes, "the person's notes");
    ASSERT_TRUE(QFile::remove(MediaLibraryHost::musicLibraryFilePath()));
    ASSERT_TRUE(QFile::link(notes, MediaLibraryHost::musicLibraryFilePath()));
    testenv::writeFile(source + QStringLiteral("/p.jpg"), "a photo's bytes");
    const QString folder = MediaLibraryHost::musicFolder() + QStringLiteral("/C");
    for (int run = 1; run <= 2; ++run) {
        SCOPED_TRACE(run);
        host.forgetLibrariesForTesting();
        {
            MediaLibraryHost::Batch batch(host);
            const QList<qint64> again = host.addMediaFiles(source + QStringLiteral("/a.mp3"), QStringLiteral("C"));
            host.addTracksToPlaylist(again, host.createPlaylist(QStringLiteral("Road trip"), false).persistentID);
            EXPECT_THROW(batch.commit(), MediaLibraryHost::Failure);
        }
        EXPECT_NO_THROW(host.addPhotos(source + QStringLiteral("/p.jpg"), QStringLiteral("Album")));
        EXPECT_EQ(filesIn(playlists).join(' ').toStdString(), "Road trip.m3u8");
        EXPECT_EQ(filesIn(folder).join(' ').toStdString(), "a.mp3");
    }
    EXPECT_EQ(testenv::readFile(notes), QByteArray("the person's notes"));
    ASSERT_TRUE(QFile::remove(MediaLibraryHost::musicLibraryFilePath()));
}

// A batch lists a folder once; a file another program puts there afterwards
// under the name a song would take stays as it is, and the song takes the
// next free name. A folder put aside right after its check, and a link to
// another's folder put at its name, is filed into neither by the link nor
// where it went: nothing lands there and nothing counts as filed.
TEST_F(HostFiling, WhatOthersPutThereMeanwhileStaysAndNothingIsFiledThroughIt)
{
    const QString source = testenv::makeTempDir(QStringLiteral("race"));
    testenv::writeFile(source + QStringLiteral("/a.mp3"), "song a");
    testenv::writeFile(source + QStringLiteral("/b.mp3"), "song b");
    const QString folder = MediaLibraryHost::musicFolder() + QStringLiteral("/C");
    QList<qint64> ids;
    {
        MediaLibraryHost::Batch batch(host);
        host.addMediaFiles(source + QStringLiteral("/a.mp3"), QStringLiteral("C"));
        testenv::writeFile(folder + QStringLiteral("/b.mp3"), "their own b");
        EXPECT_NO_THROW(ids = host.addMediaFiles(source + QStringLiteral("/b.mp3"), QStringLiteral("C")));
        EXPECT_NO_THROW(batch.commit());
    }
    EXPECT_EQ(testenv::readFile(folder + QStringLiteral("/b.mp3")), QByteArray("their own b"));
    EXPECT_EQ(testenv::readFile(folder + QStringLiteral("/b-1.mp3")), QByteArray("song b"));
    ASSERT_EQ(ids.size(), 1);
    EXPECT_EQ(locationOf(ids[0]).toStdString(), (folder + QStringLiteral("/b-1.mp3")).toStdString());

    const QString later = testenv::makeTempDir(QStringLiteral("swapped"));
    testenv::writeFile(later + QStringLiteral("/c.mp3"), "song c");
    testenv::writeFile(later + QStringLiteral("/d.mp3"), "song d");
    testenv::writeFile(source + QStringLiteral("/p.jpg"), "a photo's bytes");
    // Theirs holds a file of a song's name and bytes: it is not the song's file.
    const QString theirs = testenv::makeTempDir(QStringLiteral("theirs"));
    testenv::writeFile(theirs + QStringLiteral("/d.mp3"), "song d");
    // Told of every entry made there, even one taken out again at once.
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    const auto unwatch = qScopeGuard([watch] { ::close(watch); });
    ASSERT_GE(::inotify_add_watch(watch, QFile::encodeName(theirs).constData(), IN_CREATE | IN_MOVED_TO), 0);
    MediaLibraryHost::setAfterFolderCheckedForTesting([&theirs](const QString &checked) {
        ASSERT_TRUE(QDir().rename(checked, checked + QStringLiteral(" aside")));
        ASSERT_TRUE(QFile::link(theirs, checked));
    });
    const auto unhook = qScopeGuard([] { MediaLibraryHost::setAfterFolderCheckedForTesting({}); });
    QStringList refused;
    EXPECT_EQ(host.addMediaFiles(later, QStringLiteral("C"), &refused), QList<qint64>());
    EXPECT_EQ(refused.join(' ').toStdString(),
              (later + QStringLiteral("/c.mp3 ") + later + QStringLiteral("/d.mp3")).toStdString());
    EXPECT_THROW(host.addPhotos(source + QStringLiteral("/p.jpg"), QStringLiteral("Album")), MediaLibraryHost::Failure);
    EXPECT_THROW(host.addTracksToPlaylist(ids, host.createPlaylist(QStringLiteral("Mix"), false).persistentID),
                 MediaLibraryHost::Failure);
    // The data folder, a link to theirs: no library file is written there either.
    const QString data = platform::dataFolder();
    ASSERT_TRUE(QDir().rename(data, data + QStringLiteral(" aside")));
    ASSERT_TRUE(QFile::link(theirs, data));
    EXPECT_THROW(host.createPlaylist(QStringLiteral("Later"), false), MediaLibraryHost::Failure);
    ASSERT_TRUE(QFile::remove(data) && QDir().rename(data + QStringLiteral(" aside"), data));
    EXPECT_FALSE(host.findPlaylist(QStringLiteral("Later"), false));
    char event[sizeof(inotify_event) + NAME_MAX + 1];
    EXPECT_LT(::read(watch, event, sizeof event), 0) << "an entry was made in the other's folder";
    EXPECT_EQ(QDir(theirs).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{QStringLiteral("d.mp3")});
    EXPECT_EQ(testenv::readFile(theirs + QStringLiteral("/d.mp3")), QByteArray("song d"));
    EXPECT_EQ(filesIn(folder + QStringLiteral(" aside")),
              (QStringList{QStringLiteral("a.mp3"), QStringLiteral("b-1.mp3"), QStringLiteral("b.mp3")}));
    for (const QString &aside : {MediaLibraryHost::picturesFolder() + QStringLiteral("/Album aside"),
                                 MediaLibraryHost::playlistsFolder() + QStringLiteral(" aside")})
        EXPECT_EQ(QDir(aside).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList())
            << aside.toStdString();
    EXPECT_EQ(musicLibrary().value(QStringLiteral("Tracks")).toMap().size(), 2);
}

// Another user who may write into the music folder makes a collection folder
// or "Playlists" first (a link elsewhere, a folder of theirs): nothing is put
// into it, and each song that was not filed is named.
TEST_F(HostFiling, AnotherUsersFolderInTheWayIsNotFiledInto)
{
    const QString song = testenv::makeTempDir(QStringLiteral("in-the-way")) + QStringLiteral("/c.mp3");
    testenv::writeFile(song, "song c");
    const QString elsewhere = testenv::makeTempDir(QStringLiteral("documents"));
    const QString music = MediaLibraryHost::musicFolder();
    ASSERT_TRUE(QDir().mkpath(music + QStringLiteral("/Theirs")));
    ASSERT_TRUE(QFile::link(elsewhere, music + QStringLiteral("/Linked")));
    // Only root can give a folder to another user (65534, or 65533 where the
    // tests run as 65534); a chown to one's own ids changes nothing.
    const uid_t other = ::geteuid() == 65534 ? 65533 : 65534;
    const bool given = ::chown(QFile::encodeName(music + QStringLiteral("/Theirs")).constData(), other, other) == 0;
    if (!given)
        std::printf("== not root (%s): a folder of another user's in the way is not tried\n", std::strerror(errno));
    for (const QString collection : {QStringLiteral("Linked"), QStringLiteral("Theirs")}) {
        if (collection == QLatin1String("Theirs") && !given) continue;
        QStringList refused;
        EXPECT_EQ(host.addMediaFiles(QFileInfo(song).path(), collection, &refused), QList<qint64>());
        EXPECT_EQ(refused, QStringList{song});
    }
    const QList<qint64> ids = host.addMediaFiles(song, QStringLiteral("C"));
    ASSERT_TRUE(QFile::link(elsewhere, MediaLibraryHost::playlistsFolder()));
    EXPECT_THROW(host.addTracksToPlaylist(ids, host.createPlaylist(QStringLiteral("Mix"), false).persistentID),
                 MediaLibraryHost::Failure);
    EXPECT_EQ(QDir(elsewhere).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
    EXPECT_EQ(filesIn(music + QStringLiteral("/Theirs")), QStringList());

    // A link left at the copy's temporary name is cleared, not in the way of
    // later songs; a link at a song's name to the new phone's own copy is not
    // the library's copy: the library holds a plain file of its own, which
    // stays when the new phone's folder is cleared.
    const QString phone = testenv::makeTempDir(QStringLiteral("new-phone"));
    testenv::writeFile(phone + QStringLiteral("/d.mp3"), "song d");
    const QString collection = music + QStringLiteral("/C");
    ASSERT_TRUE(QFile::link(song, collection + QStringLiteral("/TessalineCopyFile.tmp")));
    ASSERT_TRUE(QFile::link(phone + QStringLiteral("/d.mp3"), collection + QStringLiteral("/d.mp3")));
    QList<qint64> filed;
    EXPECT_NO_THROW(filed = host.addMediaFiles(phone + QStringLiteral("/d.mp3"), QStringLiteral("C")));
    ASSERT_EQ(filed.size(), 1);
    ASSERT_TRUE(testenv::removeTree(phone));
    const QString own = locationOf(filed[0]);
    EXPECT_EQ(QFileInfo(own).path(), collection);
    EXPECT_FALSE(QFileInfo(own).isSymLink()) << own.toStdString();
    EXPECT_EQ(testenv::readFile(own), QByteArray("song d"));
    EXPECT_EQ(testenv::readFile(song), QByteArray("song c"));
}

// The new phone's copies are filed only as the very files the copies left,
// read through their folder's descriptor: a copy changed in place, one with
// a link at its name, one whose folder was moved aside and replaced, and one
// that changes while it is filed are not the copy; one that is gone is gone.
QString g_changedWhileFiled;

int changeTheSourceThenDecline(int, int)
{
    QFile file(g_changedWhileFiled);
    if (file.open(QIODevice::Append)) file.write("grown meanwhile");
    return EOPNOTSUPP;
}

TEST_F(HostFiling, OnlyTheVeryCopyOfARunIsFiled)
{
    const QString phone = testenv::makeTempDir(QStringLiteral("new-phone"));
    const auto folder = std::make_shared<const platform::Descriptor>(platform::openOwnFolder(phone, false));
    ASSERT_TRUE(folder->isOpen());
    const auto copied = [&](const QString &name) {
        testenv::writeFile(phone + QLatin1Char('/') + name, "the copy " + name.toUtf8());
        return vtr::CopiedFile{folder, phone, name, vtr::fileStampOf(phone + QLatin1Char('/') + name)};
    };
    const auto failure = [&](const vtr::CopiedFile &copy) {
        try {
            if (copy.name.endsWith(QLatin1String(".jpg")))
                host.addCopiedPhoto(copy, QStringLiteral("Album"));
            else
                host.addCopiedMediaFile(copy, QStringLiteral("C"));
        } catch (const MediaLibraryHost::Failure &f) {
            return f.number;
        }
        return 0;
    };
    const vtr::CopiedFile song = copied(QStringLiteral("a.mp3")), photo = copied(QStringLiteral("p.jpg"));
    const vtr::CopiedFile edited = copied(QStringLiteral("b.mp3")), linked = copied(QStringLiteral("c.mp3")),
                          gone = copied(QStringLiteral("d.mp3")), growing = copied(QStringLiteral("e.mp3"));
    testenv::writeFile(phone + QStringLiteral("/b.mp3"), "changed in place, a little longer");
    const QString secret = testenv::makeTempDir(QStringLiteral("private")) + QStringLiteral("/memo.mp3");
    testenv::writeFile(secret, "the person's own");
    ASSERT_TRUE(QFile::remove(phone + QStringLiteral("/c.mp3")) &&
                QFile::link(secret, phone + QStringLiteral("/c.mp3")));
    ASSERT_TRUE(QFile::remove(phone + QStringLiteral("/d.mp3")));

    EXPECT_EQ(failure(song), 0);
    EXPECT_EQ(failure(photo), 0);
    EXPECT_EQ(failure(edited), MediaLibraryHost::kNotTheCopyNumber);
    EXPECT_EQ(failure(linked), MediaLibraryHost::kNotTheCopyNumber);
    EXPECT_EQ(failure(gone), -43);
    {
        g_changedWhileFiled = phone + QStringLiteral("/e.mp3");
        host.setDiskForTesting(MediaLibraryHost::Disk{changeTheSourceThenDecline, [](int) { return qint64(1) << 40; }});
        const auto restore = qScopeGuard([&] { host.setDiskForTesting(std::nullopt); });
        EXPECT_EQ(failure(growing), -36);
    }
    const QString collection = MediaLibraryHost::musicFolder() + QStringLiteral("/C");
    EXPECT_EQ(filesIn(collection), QStringList{QStringLiteral("a.mp3")});
    EXPECT_EQ(filesIn(MediaLibraryHost::picturesFolder() + QStringLiteral("/Album")),
              QStringList{QStringLiteral("p.jpg")});

    // Moved aside with the folder, and a file of the same name and bytes put
    // in the folder's place: neither is the copy any more.
    const QString aside = testenv::makeTempDir(QStringLiteral("aside")) + QStringLiteral("/phone");
    const vtr::CopiedFile moved = copied(QStringLiteral("f.mp3"));
    ASSERT_TRUE(QDir().rename(phone, aside) && QDir().mkpath(phone));
    testenv::writeFile(phone + QStringLiteral("/f.mp3"), "the copy f.mp3");
    EXPECT_EQ(failure(moved), MediaLibraryHost::kNotTheCopyNumber);
    EXPECT_EQ(filesIn(collection), QStringList{QStringLiteral("a.mp3")});
    EXPECT_EQ(testenv::readFile(secret), QByteArray("the person's own"));
}

// The new phone's folder may hold a song twice, the second copy's name made
// unique ("-1"): both are filed, and running the import again files neither
// a second time.
TEST_F(HostFiling, TwoEqualSongsOfOneImportAreBothFiled)
{
    const auto phone = [] {
        const QString dir = testenv::makeTempDir(QStringLiteral("twice"));
        testenv::writeFile(dir + QStringLiteral("/a.mp3"), "the same song");
        testenv::writeFile(dir + QStringLiteral("/a-1.mp3"), "the same song");
        return dir;
    };
    const QList<qint64> ids = host.addMediaFiles(phone(), QStringLiteral("C"));
    ASSERT_EQ(ids.size(), 2);
    EXPECT_NE(ids[0], ids[1]);
    const QString folder = MediaLibraryHost::musicFolder() + QStringLiteral("/C");
    EXPECT_EQ(filesIn(folder), (QStringList{QStringLiteral("a-1.mp3"), QStringLiteral("a.mp3")}));
    EXPECT_EQ(host.addMediaFiles(phone(), QStringLiteral("C")), ids);
    EXPECT_EQ(filesIn(folder).size(), 2);
}

// A file's identity is its disk and its inode: a card's file with the inode
// number of a filed file is another file.
TEST(FiledFiles, AFileIsKnownByItsDiskAndInodeTogether)
{
    const QString root = testenv::makeTempDir(QStringLiteral("disks"));
    const QString filed = root + QStringLiteral("/library/a.mp3");
    const QString sameDisk = root + QStringLiteral("/library/elsewhere.mp3");
    const QString card = root + QStringLiteral("/card/a.mp3");
    for (const QString &path : {filed, sameDisk, card})
        testenv::writeFile(path, "bytes of " + path.toUtf8());
    for (const bool lookedUpBefore : {false, true}) {
        SCOPED_TRACE(lookedUpBefore ? "identities read before the file was filed" : "read on the first look-up");
        vtr::FiledFiles files(stampOnTwoDisks);
        if (lookedUpBefore) EXPECT_EQ(files.idOfFiled(card), QString());
        files.add(QStringLiteral("7"), filed, false);
        EXPECT_EQ(files.idOfFiled(card), QString());
        EXPECT_EQ(files.placementOf(card, root + QStringLiteral("/library"), QStringLiteral("a.mp3")).id, QString());
        EXPECT_EQ(files.idOfFiled(sameDisk), QStringLiteral("7")) << "the same disk and inode: the same file";
    }
}
