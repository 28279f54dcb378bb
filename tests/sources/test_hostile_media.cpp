// A file of a phone, a card or a brought library that names other files
// (playlists, lists, image sequences) or itself: no reader of media opens what
// it names or reads for ever; the file is taken for no media.
#include "fileinfo/VtrMacFileInfo.h"
#include "fileinfo/VtrQTUtils.h"
#include "sources/host/MediaContent.h"
#include "sources/host/TrackArtwork.h"
#include "sources/iphone/iPhoneMusic.h"

#include "ResourceGuard.h"
#include "TestEnvironment.h"
#include "support/LibraryTestFiles.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

TEST(HostileMedia, NoReaderOpensWhatAFileNamesOrReadsForEver)
{
    VTR_TEST_AS_UNPRIVILEGED_USER();
    const QString samples = testenv::sourcePath(QStringLiteral("fileinfo/data/media")) + QLatin1Char('/');
    for (const QString name : {"self.mp3", "names-local.mp3", "concat.mp3", "frame%d.jpg"}) {
        SCOPED_TRACE(name.toStdString());
        // The phone's media folder: the file, the same bytes as a movie, and
        // beside them the files they name.
        const QString media = testenv::makeTempDir(QStringLiteral("phone"));
        const QString dir = media + "/iTunes_Control/Music/F00/";
        ASSERT_TRUE(QDir().mkpath(dir));
        for (const auto &[from, to] :
             {std::pair{name, name}, {name, "copy.m4v"}, {"tagged.mp3", "watched.ts"}, {"frame%d.jpg", "frame1.jpg"}})
            ASSERT_TRUE(QFile::copy(samples + from, dir + to));
        // A reader given no file name resolves what the file names against
        // the current folder.
        const testenv::CurrentFolder here(dir);
        libtest::OpenWatch watch({dir + "watched.ts", dir + "frame1.jpg"});
        ASSERT_TRUE(watch.watching());
        const QString path = dir + name;
        const VtrFileInfo movie(dir + "copy.m4v");
        {
            const testenv::ResourceGuard guard; // a playlist naming itself was read for ever, growing
            const auto songs = vtr::iphone::phoneTracksInMediaFolders({VtrMacFileInfo::fileInfoWithPath(media)});
            ASSERT_TRUE(songs.has_value());
            for (const vtr::iphone::PhoneTrack &song : *songs)
                EXPECT_FALSE(song.unreadable.isEmpty());
            EXPECT_EQ(vtr::mediaContentOf(path), vtr::MediaContent::None);
            EXPECT_TRUE(vtr::embeddedPictures(path).isEmpty());
            EXPECT_EQ(VtrMovie::movieWithFile(path), nullptr);
            EXPECT_TRUE(VtrQTUtils::infoForMovieAtPath(path).contains("error"));
            bool audioOnly = true;
            EXPECT_TRUE(VtrQTUtils::isMovieFile(movie, &audioOnly)) << "still a movie by its extension";
            EXPECT_FALSE(audioOnly);
            EXPECT_FALSE(VtrQTUtils::isProtectedFile(movie));
        }
        EXPECT_FALSE(watch.opened());
    }
}
