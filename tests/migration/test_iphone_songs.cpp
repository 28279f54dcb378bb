// An iPhone's song that cannot be read as a song is left out of the music
// and counted as not moved; the songs beside it still bring their library
// tracks.
#include "devices/phone/WindowsPhone7LocalDevice.h"
#include "migration/MediaMigrators.h"
#include "sources/host/LibraryLocation.h"
#include "sources/host/PropertyListXml.h"

#include "ResourceGuard.h"
#include "TestEnvironment.h"
#include "support/LibraryTestFiles.h"

#include <gtest/gtest.h>

TEST(IPhoneSongs, AnUnreadableSongCountsAsNotMoved)
{
    // A folder of this computer stands in for the phone's media partition.
    const auto phone = WindowsPhone7LocalDevice::create({}, nullptr);
    const QString songs = phone->storageFileInfos().value(0)->path() + "/iTunes_Control/Music/F00/";
    const QString samples = QStringLiteral(VTR_TEST_SOURCE_DIR "/fileinfo/data/media/");
    for (const char *name : {"tagged.mp3", "self.mp3"})
        testenv::writeFile(songs + name, testenv::readFile(samples + name));

    const QString library = testenv::makeTempDir(QStringLiteral("library"));
    const QString file = library + "/Music/Blue.mp3";
    testenv::writeFile(file, libtest::taggedMp3({}));
    const QVariantMap track{{"Track ID", 1},    {"Name", "Blue in Green"},
                            {"Artist", "Nina"}, {"Album", "Live"},
                            {"Genre", "Jazz"},  {"Location", vtr::libraryLocationForLocalPath(file)}};
    // A song the library only syncs to the phone is not on it, and its file
    // is missing here: it is no phone song left behind.
    const QVariantMap syncedOnly{
        {"Track ID", 2}, {"Name", "Gone"}, {"Location", vtr::libraryLocationForLocalPath(library + "/Music/Gone.mp3")}};
    const QVariantMap synced{{"Name", "Drive"},
                             {"Playlist Persistent ID", "D71E"},
                             {"Playlist Items", QVariantList{QVariantMap{{"Track ID", 2}}}}};
    const QVariantMap plist{{"Library Persistent ID", "5A3F"},
                            {"Music Folder", vtr::libraryLocationForLocalPath(library + "/Music", true)},
                            {"Tracks", QVariantMap{{"1", track}, {"2", syncedOnly}}},
                            {"Playlists", QVariantList{synced}}};
    testenv::writeFile(library + "/library.xml", vtr::XmlPropertyListWriter::toXml(plist));

    AppleMusicMigrator music(phone);
    music.setLibraryFile(library + "/library.xml");
    music.setSyncSelection(
        {{"iTunes Library ID", "5A3F"}, {"playlists", QVariantList{QVariantMap{{"playlist persistent id", "D71E"}}}}});
    {
        const testenv::ResourceGuard guard; // the playlist naming itself was read for ever
        music.backupOldDeviceWithStatus(nullptr);
    }
    EXPECT_EQ(music.numItemsToCopy(), 1);
    EXPECT_EQ(music.numItemsNotMoved(), 1);
    EXPECT_EQ(music.manifestInfo().value("not_moved_cnt").toInt(), 1);
}
