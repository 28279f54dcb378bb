// The MTP device's tracks, playlists, album art, metadata, screen size and
// content revision, on simulated phones.

#include "support/MtpDeviceFixture.h"

#include <QRegularExpression>

#include <gmock/gmock.h>

using namespace mtptest;
namespace cmd = DeviceCommands;
using ::testing::ElementsAre;

namespace {

const QString kMusic = "E:\\Music\\The Harbour Lights\\Northern Skies\\";
const QString kTide = kMusic + "01 - Morning Tide.mp3";
const QString kLanterns = kMusic + "02 - Lanterns.mp3";
const QString kGulls = kMusic + "03 - Grey Gulls.mp3";
const QString kEte = QString::fromUtf8("E:\\Music\\Élise Marchand\\Chansons\\01 - Été.m4a");

class MtpMediaTest : public MtpDeviceTest
{
protected:
    void loadCard() { load("android_phone.json", kCard); }

    // A phone with one storage holding the given files at its top level.
    void loadFiles(const QStringList &names)
    {
        phone = &sim->addPhone();
        MtpSimStorageSpec storage;
        storage.id = kInternal;
        storage.capacity = 1000000;
        phone->addStorage(storage);
        for (const QString &name : names)
            phone->addFile(kInternal, 0, name, "x");
        open(kInternal);
    }

    std::vector<uint32_t> references(const char *path)
    {
        const auto object = phone->object(idOf(kCard, path));
        return object ? object->references : std::vector<uint32_t>{};
    }
};

TEST_F(MtpMediaTest, AudioTracksWithPathsSizesAndDates)
{
    loadCard();
    const std::optional<QVariantList> tracks = mtp->deviceTracks();
    ASSERT_TRUE(tracks.has_value());
    QMap<QString, QVariantMap> byPath;
    for (const QVariant &track : *tracks)
        byPath.insert(track.toMap().value("track_path").toString(), track.toMap());
    // Six audio tracks; the videos are left out; the ringtone lies on the other
    // storage, so it has no path here.
    EXPECT_EQ(tracks->size(), 6);
    EXPECT_TRUE(byPath.contains(""));
    const QVariantMap tide = byPath.value(kTide);
    EXPECT_EQ(tide.value("track_id").toUInt(),
              idOf(kCard, "Music/The Harbour Lights/Northern Skies/01 - Morning Tide.mp3"));
    EXPECT_EQ(tide.value("size").toLongLong(), 4194304);
    EXPECT_EQ(tide.value("mod").toString(), "20120601100000");
    EXPECT_EQ(byPath.value(QString::fromUtf8("E:\\Music\\Élise Marchand\\Chansons\\02 - Nuit blanche.flac"))
                  .value("size")
                  .toLongLong(),
              20971520);
}

TEST_F(MtpMediaTest, PhonesWithoutAudioTracks)
{
    loadFiles({"clip.mp4"});
    ASSERT_TRUE(mtp->deviceTracks().has_value());
    EXPECT_TRUE(mtp->deviceTracks()->isEmpty());
    EXPECT_FALSE(mtp->devicePlaylists().has_value());
}

TEST_F(MtpMediaTest, PhoneWithoutAnyTrack)
{
    loadFiles({"notes.txt"});
    EXPECT_FALSE(mtp->deviceTracks().has_value());
}

TEST_F(MtpMediaTest, PlaylistsAndTheirTracks)
{
    loadCard();
    const std::optional<QVariantList> playlists = mtp->devicePlaylists();
    ASSERT_TRUE(playlists.has_value());
    ASSERT_EQ(playlists->size(), 2);
    QMap<QString, QVariantMap> byName;
    for (const QVariant &playlist : *playlists)
        byName.insert(playlist.toMap().value("playlist_name").toString(), playlist.toMap());
    const QVariantMap favorites = byName.value("Favorites");
    EXPECT_EQ(favorites.value("playlist_id").toUInt(), idOf(kCard, "Playlists/Favorites.pla"));
    EXPECT_EQ(favorites.value("playlist_path").toString(), "E:\\Playlists\\Favorites.pla");
    const QVariantList tracks = favorites.value("playlist_tracks").toList();
    ASSERT_EQ(tracks.size(), 2);
    EXPECT_EQ(tracks.at(0).toMap().value("track_path").toString(), kLanterns);
    EXPECT_EQ(tracks.at(1).toMap().value("track_path").toString(), kEte);
    EXPECT_EQ(tracks.at(0).toMap().value("track_id").toUInt(),
              idOf(kCard, "Music/The Harbour Lights/Northern Skies/02 - Lanterns.mp3"));

    EXPECT_THAT(
        mtp->devicePlaylistForPlaylistPath("E:\\Playlists\\Road trip.pla"),
        ElementsAre(kTide, kGulls, QString::fromUtf8("E:\\Music\\Élise Marchand\\Chansons\\02 - Nuit blanche.flac")));
    EXPECT_TRUE(mtp->devicePlaylistForPlaylistPath("E:\\Playlists\\None.pla").isEmpty());
    EXPECT_TRUE(mtp->devicePlaylistForPlaylistPath(kTide).isEmpty());
}

TEST_F(MtpMediaTest, WritingANewPlaylist)
{
    loadCard();
    EXPECT_TRUE(mtp->setDevicePlaylistForPlaylistPath("E:\\Playlists\\Evening.pla",
                                                      {kLanterns, "E:\\Music\\missing.mp3", kEte}));
    const uint32_t lanterns = idOf(kCard, "Music/The Harbour Lights/Northern Skies/02 - Lanterns.mp3");
    const uint32_t ete = phone->objectIdForPath(kCard, QString::fromUtf8("Music/Élise Marchand/Chansons/01 - Été.m4a"));
    EXPECT_THAT(references("Playlists/Evening.pla"), ElementsAre(lanterns, ete));
    EXPECT_EQ(mtp->oidForPath("E:\\Playlists\\Evening.pla"), idOf(kCard, "Playlists/Evening.pla"));

    // Only unknown tracks: an empty playlist.
    EXPECT_TRUE(mtp->setDevicePlaylistForPlaylistPath("E:\\Playlists\\Empty.pla", {"E:\\nothing.mp3"}));
    EXPECT_TRUE(references("Playlists/Empty.pla").empty());
    EXPECT_NE(idOf(kCard, "Playlists/Empty.pla"), 0u);

    // An unknown folder: nothing made, the map rebuilt all the same.
    const int listings = sim->callCount("LIBMTP_Get_Files_And_Folders");
    EXPECT_FALSE(mtp->setDevicePlaylistForPlaylistPath("E:\\Nowhere\\X.pla", {kTide}));
    EXPECT_GT(sim->callCount("LIBMTP_Get_Files_And_Folders"), listings);
}

TEST_F(MtpMediaTest, ReplacingAPlaylistKeepsTheOldOneUntilTheNewOneExists)
{
    loadCard();
    const uint32_t old = idOf(kCard, "Playlists/Favorites.pla");
    const uint32_t tide = idOf(kCard, "Music/The Harbour Lights/Northern Skies/01 - Morning Tide.mp3");

    sim->failCall("LIBMTP_Create_New_Playlist");
    EXPECT_FALSE(mtp->setDevicePlaylistForPlaylistPath("E:\\Playlists\\Favorites.pla", {kTide}));
    EXPECT_EQ(idOf(kCard, "Playlists/Favorites.pla"), old);
    EXPECT_EQ(references("Playlists/Favorites.pla").size(), 2u);
    EXPECT_EQ(mtp->oidForPath("E:\\Playlists\\Favorites.pla"), old);

    EXPECT_TRUE(mtp->setDevicePlaylistForPlaylistPath("E:\\Playlists\\Favorites.pla", {kTide}));
    EXPECT_FALSE(phone->object(old).has_value());
    EXPECT_THAT(references("Playlists/Favorites.pla"), ElementsAre(tide));
    int favorites = 0;
    const std::optional<QVariantList> playlists = mtp->devicePlaylists();
    ASSERT_TRUE(playlists.has_value());
    for (const QVariant &playlist : *playlists)
        if (playlist.toMap().value("playlist_name").toString() == "Favorites") ++favorites;
    EXPECT_EQ(favorites, 1);
    EXPECT_EQ(idOf(kCard, "Playlists/TessalineCopyFile.tmp"), 0u);
}

TEST_F(MtpMediaTest, APlaylistThatCouldNotBeRestoredIsKeptUnderANameOfItsOwn)
{
    loadCard();
    const uint32_t old = idOf(kCard, "Playlists/Favorites.pla");
    // The new playlist is refused and the old one's name cannot be given back.
    ASSERT_TRUE(sim->failCall("LIBMTP_Create_New_Playlist"));
    ASSERT_TRUE(sim->failCall("LIBMTP_Set_File_Name", 2));
    EXPECT_FALSE(mtp->setDevicePlaylistForPlaylistPath("E:\\Playlists\\Favorites.pla", {kTide}));
    ASSERT_TRUE(phone->object(old).has_value());
    EXPECT_NE(QString::fromUtf8(phone->object(old)->name), "TessalineCopyFile.tmp");
    // A later copy into the folder clears leftovers of its own only.
    const QString dir = tempDir();
    testenv::writeFile(dir + "/x.m3u", "x");
    EXPECT_EQ(mtp->copyDesktopFile(VtrMacFileInfo::fileInfoWithPath(dir + "/x.m3u"),
                                   VtrWindowsPathBasedFileInfo::fileInfoWithPath("E:\\Playlists\\x.m3u"), nullptr,
                                   nullptr),
              0);
    EXPECT_TRUE(phone->object(old).has_value());
}

TEST_F(MtpMediaTest, ReadingTrackMetadata)
{
    loadCard();
    const QVariantMap metadata = mtp->deviceMetadataForFile(kTide);
    EXPECT_EQ(metadata.value("title").toString(), "Morning Tide");
    EXPECT_EQ(metadata.value("artist").toString(), "The Harbour Lights");
    EXPECT_EQ(metadata.value("album").toString(), "Northern Skies");
    EXPECT_EQ(metadata.value("genre").toString(), "Folk");
    EXPECT_EQ(metadata.value("date").toString(), "20120601T000000.0");
    EXPECT_EQ(metadata.value("filename").toString(), "01 - Morning Tide.mp3");
    EXPECT_EQ(metadata.value("tracknumber").toInt(), 1);
    EXPECT_EQ(metadata.value("duration").toInt(), 262000);
    EXPECT_EQ(metadata.value("samplerate").toInt(), 44100);
    EXPECT_EQ(metadata.value("nochannels").toInt(), 2);
    EXPECT_EQ(metadata.value("bitrate").toInt(), 192000);
    EXPECT_EQ(metadata.value("bitratetype").toInt(), 1);
    EXPECT_EQ(metadata.value("filesize").toLongLong(), 4194304);
    EXPECT_EQ(metadata.value("filetype").toInt(), int(LIBMTP_FILETYPE_MP3));
    EXPECT_EQ(metadata.value("modificationdate").toLongLong(),
              QDateTime(QDate(2012, 6, 1), QTime(10, 0), Qt::UTC).toSecsSinceEpoch());
    // Empty and zero values are left out.
    EXPECT_FALSE(metadata.contains("composer"));
    EXPECT_FALSE(metadata.contains("rating"));
    EXPECT_TRUE(mtp->deviceMetadataForFile("E:\\Playlists\\Favorites.pla").isEmpty());
    EXPECT_TRUE(mtp->deviceMetadataForFile("E:\\Music").isEmpty());
}

TEST_F(MtpMediaTest, WritingTrackMetadata)
{
    loadCard();
    const QString dir = tempDir();
    testenv::writeFile(dir + "/plain.mp3", "x");
    // A file that tells nothing: nothing written, and that is no failure.
    EXPECT_TRUE(mtp->setDeviceMetadataForFile(VtrMacFileInfo::fileInfoWithPath(dir + "/plain.mp3"), kTide));
    EXPECT_EQ(sim->callCount("LIBMTP_Update_Track_Metadata"), 0);

    const QDateTime date(QDate(2011, 2, 3), QTime(4, 5, 6), Qt::UTC);
    auto tagged = std::make_shared<TaggedFile>(
        dir + "/plain.mp3",
        QVariantMap{{"artist", "Ada"}, {"genre", "Jazz"}, {"date", date}, {"tracknumber", 7}, {"rating", 80}});
    EXPECT_TRUE(mtp->setDeviceMetadataForFile(tagged, kTide));
    const auto track =
        phone->object(idOf(kCard, "Music/The Harbour Lights/Northern Skies/01 - Morning Tide.mp3"))->track;
    ASSERT_TRUE(track.has_value());
    EXPECT_EQ(track->artist, "Ada");
    EXPECT_EQ(track->genre, "Jazz");
    EXPECT_EQ(track->tracknumber, 7);
    EXPECT_EQ(track->rating, 80);
    EXPECT_TRUE(QRegularExpression("^\\d{8}T\\d{6}\\.0[+-]\\d{4}$").match(track->date).hasMatch())
        << qPrintable(track->date);
    EXPECT_TRUE(track->date.startsWith(date.toLocalTime().toString("yyyyMMdd'T'HHmmss")));

    // An unknown path: nothing to write.
    EXPECT_TRUE(mtp->setDeviceMetadataForFile(tagged, "E:\\Music\\none.mp3"));
    sim->failCall("LIBMTP_Update_Track_Metadata");
    EXPECT_FALSE(mtp->setDeviceMetadataForFile(tagged, kTide));
}

TEST_F(MtpMediaTest, WritingPodcastMetadata)
{
    loadCard();
    const QString dir = tempDir();
    testenv::writeFile(dir + "/episode.mp3", "x");
    const uint32_t id = idOf(kCard, "Music/The Harbour Lights/Northern Skies/02 - Lanterns.mp3");
    MtpFileList record(sim->getFilemetadata(handle, MtpObjectId(id)));
    ASSERT_TRUE(record);

    EXPECT_TRUE(
        mtp->setDeviceMetadataForPodcast(VtrMacFileInfo::fileInfoWithPath(dir + "/episode.mp3"), record.get(), 7));
    EXPECT_EQ(sim->callCount("LIBMTP_Update_Podcast_Metadata"), 0);

    auto tagged =
        std::make_shared<TaggedFile>(dir + "/episode.mp3", QVariantMap{{"album", "Harbour Talk"},
                                                                       {"artist", "Host"},
                                                                       {"duration", 5000},
                                                                       {"podcastDescription", "About boats"},
                                                                       {"urlsource", "http://127.0.0.1/feed"}});
    EXPECT_TRUE(mtp->setDeviceMetadataForPodcast(tagged, record.get(), 7));
    const auto track = phone->object(id)->track;
    EXPECT_EQ(track->album, "Harbour Talk");
    EXPECT_EQ(track->artist, "Host");
    EXPECT_EQ(track->duration, 5000u);
    EXPECT_EQ(record->item_id, id);
}

TEST_F(MtpMediaTest, AlbumArtwork)
{
    loadCard();
    const QByteArray png = QByteArray::fromBase64(
        "iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAIAAACQd1PeAAAADElEQVR4nGM4kGAAAAM0AVGEWOW6AAAAAElFTkSuQmCC");
    ASSERT_FALSE(png.isEmpty());
    EXPECT_EQ(mtp->albumArtworkFromDeviceFile(kTide), png);
    // An album without art, a file without an album, an unknown path.
    EXPECT_TRUE(mtp->albumArtworkFromDeviceFile(kEte).isNull());
    EXPECT_TRUE(mtp->albumArtworkFromDeviceFile("E:\\Movies\\Holiday.mp4").isNull());
    EXPECT_TRUE(mtp->albumArtworkFromDeviceFile("E:\\none.mp3").isNull());
    EXPECT_FALSE(mtp->setDeviceArtwork(png, "Northern Skies"));
    EXPECT_FALSE(mtp->setDeviceAlbumForAlbumPath("E:\\Albums\\X.alb", "a", "c", "g", {kTide}));
}

TEST_F(MtpMediaTest, ScreenSizeAndContentRevision)
{
    loadCard();
    int height = -1;
    int width = -1;
    mtp->deviceScreenHeight(&height, &width);
    EXPECT_EQ(height, 800);
    EXPECT_EQ(width, 480);
    uint32_t revision = 0;
    mtp->getContentRevisionNumber(&revision);
    EXPECT_EQ(revision, phone->contentRevision());
    EXPECT_GE(revision, 17u);

    // A height without a width is no answer.
    MtpSimIdentity identity = phone->identity();
    identity.screenWidth = 0;
    phone->setIdentity(identity);
    height = width = -1;
    mtp->deviceScreenHeight(&height, &width);
    EXPECT_EQ(height, 0);
    EXPECT_EQ(width, 0);

    mtp->detach();
    revision = 12345;
    mtp->getContentRevisionNumber(&revision);
    EXPECT_EQ(revision, 12345u);
}

} // namespace
