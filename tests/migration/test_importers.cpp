// The importers file every copy they are given into the library: a file the
// library refuses is counted and named but stops nothing (a playlist counts
// as filed once its file is written, and one not written is named and
// written by the next import; a folder that refuses them all is said
// once), a collection's playlist is made once however often it is imported
// into (videos' with the videos), a photo import leaves no folder of links
// behind, and one that reuses the folder of an import in the same second
// removes only its links.

#include "fileinfo/VtrMacFileInfo.h"
#include "migration/iAppImporter.h"
#include "platform/Folders.h"
#include "sources/host/MediaLibraryHost.h"

#include "TestEnvironment.h"
#include "TestFolders.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

namespace {

VtrFileInfoList filesIn(const QString &dir, const QStringList &names)
{
    VtrFileInfoList files;
    for (const QString &name : names) {
        if (!QFile::exists(dir + '/' + name)) testenv::writeFile(dir + '/' + name, name.toUtf8());
        files.append(VtrMacFileInfo::fileInfoWithPath(dir + '/' + name));
    }
    return files;
}

int playlistsNamed(const QString &name)
{
    int n = 0;
    for (const MediaLibraryHost::Playlist &p : MediaLibraryHost::shared().playlists()) n += p.name == name;
    return n;
}

QStringList m3u8Entries(const QString &name, const QString &folder = MediaLibraryHost::playlistsFolder())
{
    QStringList entries;
    const QString text = QString::fromUtf8(testenv::readFile(folder + '/' + name + ".m3u8"));
    for (const QString &line : text.split('\n', Qt::SkipEmptyParts))
        if (!line.startsWith('#')) entries.append(line);
    return entries;
}

TEST(Importers, ARefusedFileIsNamedAndTheOthersAreFiledIntoOnePlaylist)
{
    // A library of its own: the collection's playlist starts empty.
    QFile::remove(MediaLibraryHost::musicLibraryFilePath());
    testenv::removeTree(MediaLibraryHost::videosFolder());
    const QString dir = testenv::makeTempDir(QStringLiteral("videos"));
    // The library lives on for the whole process: names of this run alone.
    const QString collection = QStringLiteral("Imported Videos ") + QFileInfo(dir).fileName();
    iTunesImporter importer;
    // The middle file is no video: the two around it are filed all the same.
    EXPECT_FALSE(importer.importFiles(filesIn(dir, {"one.mp4", "notes.txt", "two.mp4"}), collection));
    EXPECT_EQ(importer.refusedFiles(), QStringList{dir + "/notes.txt"});
    EXPECT_EQ(m3u8Entries(collection, MediaLibraryHost::videoPlaylistsFolder()).size(), 2);
    EXPECT_FALSE(QFile::exists(MediaLibraryHost::playlistsFolder() + '/' + collection + ".m3u8"))
        << "videos' playlist among the music's";

    // Importing again: the same playlist, nothing twice.
    EXPECT_TRUE(importer.importFiles(filesIn(dir, {"one.mp4", "three.mp4"}), collection));
    EXPECT_TRUE(importer.refusedFiles().isEmpty());
    EXPECT_EQ(playlistsNamed(collection), 1);
    EXPECT_EQ(m3u8Entries(collection, MediaLibraryHost::videoPlaylistsFolder()).size(), 3);
    EXPECT_EQ(QDir(MediaLibraryHost::videosFolder() + '/' + collection).entryList(QDir::Files).size(), 3);
}

TEST(Importers, MusicAndPhotosNameWhatTheLibraryRefused)
{
    const QString dir = testenv::makeTempDir(QStringLiteral("music"));
    const QString run = QFileInfo(dir).fileName();
    QVariantList dictionaries;
    for (const VtrFileInfoPtr &file : filesIn(dir, {"a.flac", "cover.txt", "b.ogg"}))
        dictionaries.append(QVariantMap{{"targetFileInfo", QVariant::fromValue(file)},
                                        {"playlistNames", QStringList{"Evening " + run}}});
    iTunesImporter music;
    uint files = 0, playlists = 0;
    EXPECT_FALSE(music.importFileDictionaries(dictionaries, "Imported Music " + run, &files, &playlists));
    EXPECT_EQ(files, 2u);
    EXPECT_EQ(playlists, 1u);
    EXPECT_EQ(music.refusedFiles(), QStringList{dir + "/cover.txt"});
    EXPECT_EQ(m3u8Entries("Evening " + run).size(), 2);
    // A link in place of "Playlists" refuses every playlist alike: said
    // once, and none of them counts as filed; each is named with its folder.
    ASSERT_TRUE(testenv::removeTree(MediaLibraryHost::playlistsFolder()));
    ASSERT_TRUE(QFile::link(dir, MediaLibraryHost::playlistsFolder()));
    for (QVariant &d : dictionaries)
        d = QVariantMap{{"targetFileInfo", d.toMap().value("targetFileInfo")},
                        {"playlistNames", QStringList{"Road " + run, "Sunday " + run}}};
    // A song more for the playlists written before (the collection's too),
    // whose files went with the folder: they are not written either.
    dictionaries.append(QVariantMap{{"targetFileInfo", QVariant::fromValue(filesIn(dir, {"c.mp3"}).first())},
                                    {"playlistNames", QStringList{"Evening " + run}}});
    const auto unwritten = [&music] {
        QStringList named;
        for (const MediaLibraryHost::UnwrittenPlaylist &p : music.unwrittenPlaylists()) named << p.name + " in " + p.folder;
        return named.join('|').toStdString();
    };
    EXPECT_FALSE(music.importFileDictionaries(dictionaries, "Imported Music " + run, &files, &playlists));
    EXPECT_TRUE(QFile::remove(MediaLibraryHost::playlistsFolder()));
    EXPECT_EQ(playlists, 0u);
    EXPECT_EQ(music.filingFailure(), QString());
    EXPECT_EQ(music.playlistsFailure().count("so nothing is put into it"), 1) << music.playlistsFailure().toStdString();
    const QString in = " in " + QDir::cleanPath(MediaLibraryHost::playlistsFolder());
    EXPECT_EQ(unwritten(), ("Imported Music " + run + in + "|Evening " + run + in + "|Road " + run + in + "|Sunday " +
                            run + in)
                               .toStdString());
    // The next import, by a new start of the program, writes them once the
    // link is gone, though it brings no song they lack.
    MediaLibraryHost::shared().forgetLibrariesForTesting();
    music.importFileDictionaries(dictionaries, "Imported Music " + run, &files, &playlists);
    EXPECT_EQ(playlists, 3u);
    EXPECT_EQ(unwritten(), "");
    EXPECT_EQ(m3u8Entries("Sunday " + run).size(), 2);
    EXPECT_EQ(m3u8Entries("Evening " + run).size(), 3);

    const QString pictures = testenv::makeTempDir(QStringLiteral("pictures"));
    iPhotoImporter photos;
    EXPECT_TRUE(photos.importFiles(filesIn(pictures, {"a.jpg", "list.txt", "b.png"}), "Trip " + run));
    EXPECT_EQ(photos.refusedFiles(), QStringList{pictures + "/list.txt"});
    EXPECT_EQ(QDir(MediaLibraryHost::picturesFolder() + "/Trip " + run).entryList(QDir::Files).size(), 2);
}

TEST(Importers, PhotosOfAnEarlierImportInTheSameSecondStayOutOfTheNextAlbum)
{
    const QString earlier = testenv::makeTempDir(QStringLiteral("earlier"));
    const QString now = testenv::makeTempDir(QStringLiteral("now"));
    testenv::writeFile(now + "/x.jpg", "the photo of this import");
    iPhotoImporter importer;
    // Both imports within one second share one folder of links.
    qint64 second;
    do {
        second = QDateTime::currentSecsSinceEpoch();
        ASSERT_TRUE(iAppImporter::createTempFolderOfSymLinksForFiles(filesIn(earlier, {"x.jpg", "stale.jpg"})));
        ASSERT_TRUE(importer.importFiles(filesIn(now, {"x.jpg"}), "Second " + QFileInfo(now).fileName()));
    } while (QDateTime::currentSecsSinceEpoch() != second);
    EXPECT_TRUE(importer.refusedFiles().isEmpty());
    const QString album = MediaLibraryHost::picturesFolder() + "/Second " + QFileInfo(now).fileName();
    EXPECT_EQ(QDir(album).entryList(QDir::Files), QStringList{"x.jpg"});
    EXPECT_EQ(testenv::readFile(album + "/x.jpg"), QByteArray("the photo of this import"));
}

TEST(Importers, APhotoImportLeavesNoFolderOfLinksBehind)
{
    const QString pictures = testenv::makeTempDir(QStringLiteral("leftover"));
    // Links to these photos in any folder of links (one of an earlier
    // import in the same second is reused).
    const auto linksLeft = [&pictures] {
        int links = 0;
        const QDir temporary(platform::temporaryFolder());
        for (const QString &folder : temporary.entryList({QStringLiteral("Solvenna to Windows Phone *")}, QDir::Dirs))
            for (const QFileInfo &link : QDir(temporary.filePath(folder)).entryInfoList(QDir::Files | QDir::System))
                links += link.symLinkTarget().startsWith(pictures + '/');
        return links;
    };
    iPhotoImporter importer;
    EXPECT_TRUE(importer.importFiles(filesIn(pictures, {"a.jpg", "notes.txt"}), QStringLiteral("Leftover")));
    EXPECT_EQ(linksLeft(), 0);
    // A photo library that cannot be read refuses every photo.
    testenv::writeFile(MediaLibraryHost::albumDataFilePath(), "<plist><dict>");
    EXPECT_TRUE(importer.importFiles(filesIn(pictures, {"b.jpg"}), QStringLiteral("Leftover")));
    EXPECT_EQ(importer.refusedFiles(), QStringList{pictures + "/b.jpg"});
    QFile::remove(MediaLibraryHost::albumDataFilePath());
    EXPECT_EQ(linksLeft(), 0);
}

TEST(Importers, AReusedFolderOfLinksLosesOnlyItsOldLinks)
{
    const QString photos = testenv::makeTempDir(QStringLiteral("reused"));
    const VtrFileInfoList files = filesIn(photos, {"kept.jpg", "relinked.jpg"});
    // The folder an import in this same second made: one link it left, and
    // a file of the same name as a photo that is no link of any import.
    QString folder;
    QStringList failed, made;
    qint64 second;
    do {
        second = QDateTime::currentSecsSinceEpoch();
        folder = QDir(platform::temporaryFolder())
                     .filePath(QStringLiteral("%1 %2").arg(QLatin1String(platform::kAppFolderName),
                                                           QDateTime::fromSecsSinceEpoch(second).toString(
                                                               QStringLiteral("yyyy-MM-dd HH:mm:ss"))));
        testenv::removeTree(folder);
        ASSERT_TRUE(QDir().mkpath(folder));
        testenv::writeFile(folder + "/kept.jpg", "not a link");
        ASSERT_TRUE(QFile::link(photos + "/gone.jpg", folder + "/relinked.jpg"));
        failed.clear();
        made.clear();
        const VtrFileInfoPtr links = iAppImporter::createTempFolderOfSymLinksForFiles(files, &failed, &made);
        ASSERT_TRUE(links);
        if (links->path() == folder) break;
        testenv::removeTree(folder);
        testenv::removeTree(links->path());
    } while (true);
    EXPECT_EQ(testenv::readFile(folder + "/kept.jpg"), QByteArray("not a link"));
    EXPECT_FALSE(QFileInfo(folder + "/kept.jpg").isSymLink());
    EXPECT_EQ(failed.join('|').toStdString(), (photos + "/kept.jpg").toStdString());
    EXPECT_EQ(made.join('|').toStdString(), (folder + "/relinked.jpg").toStdString());
    EXPECT_EQ(QFileInfo(folder + "/relinked.jpg").symLinkTarget(), photos + "/relinked.jpg");
    testenv::removeTree(folder);
}

}  // namespace
