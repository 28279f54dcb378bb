// Runs again under odd time zones (scripts/test.sh): it reads or writes dates.
#include "fileinfo/VtrFileInfo.h"
#include "platform/UserDefaults.h"
#include "sources/host/LibraryIcons.h"
#include "sources/host/LibraryLocation.h"
#include "sources/host/MediaLibraryHost.h"
#include "sources/host/PropertyListXml.h"
#include "sources/itunes/SyntheticLibrary.h"
#include "sources/itunes/VtrITunes.h"
#include "sources/itunes/iTunesFileInfo.h"
#include "sources/itunes/iTunesInfo.h"

#include "TestEnvironment.h"
#include "TestFolders.h"

#include <QDir>
#include <QFile>
#include <QImage>

#include <gtest/gtest.h>

namespace {

const QString kSamples = QStringLiteral(VTR_SHARED_DATA_DIR "/samples/itunes-xml/");

QString musicITunesFolder()
{
    return QDir(MediaLibraryHost::musicFolder()).filePath(QStringLiteral("iTunes"));
}

// Each test starts with no library file anywhere and no user default.
class ITunesModel : public ::testing::Test
{
protected:
    void SetUp() override
    {
        testenv::removeTree(musicITunesFolder());
        QFile::remove(MediaLibraryHost::musicLibraryFilePath());
        platform::UserDefaults::remove(QLatin1String(VtrITunes::kLibraryFileDefaultKey));
    }
    void TearDown() override { SetUp(); }

    // The library brought in the music folder's "iTunes" folder, loaded.
    std::shared_ptr<VtrITunes> load(const QVariantMap &library)
    {
        platform::UserDefaults::remove(QLatin1String(VtrITunes::kLibraryFileDefaultKey));
        testenv::writeFile(QDir(musicITunesFolder()).filePath(QStringLiteral("iTunes Music Library.xml")),
                           vtr::XmlPropertyListWriter::toXml(library));
        auto itunes = std::make_shared<VtrITunes>();
        itunes->initWithoutProgress();
        return itunes;
    }
    std::shared_ptr<VtrITunes> loadSample(const char *name)
    {
        platform::UserDefaults::setValue(QLatin1String(VtrITunes::kLibraryFileDefaultKey), kSamples + QLatin1String(name));
        auto itunes = std::make_shared<VtrITunes>();
        itunes->initWithoutProgress();
        return itunes;
    }
};

QVariantMap track(int id, QVariantMap fields)
{
    fields.insert(QStringLiteral("Track ID"), id);
    fields.insert(QStringLiteral("Persistent ID"), QStringLiteral("P%1").arg(id));
    if (!fields.contains(QStringLiteral("Name"))) fields.insert(QStringLiteral("Name"), QStringLiteral("T%1").arg(id));
    return fields;
}

QVariantMap playlist(const QString &name, const QString &id, const QList<int> &tracks, QVariantMap fields = {})
{
    QVariantList items;
    for (int t : tracks)
        items.append(QVariantMap{{QStringLiteral("Track ID"), t}});
    fields.insert(QStringLiteral("Name"), name);
    fields.insert(QStringLiteral("Playlist Persistent ID"), id);
    fields.insert(QStringLiteral("Playlist Items"), items);
    return fields;
}

QVariantMap libraryOf(const QList<QVariantMap> &tracks, const QList<QVariantMap> &playlists)
{
    QVariantMap trackMap;
    QList<int> all;
    for (const QVariantMap &t : tracks) {
        trackMap.insert(t.value(QStringLiteral("Track ID")).toString(), t);
        all.append(t.value(QStringLiteral("Track ID")).toInt());
    }
    QVariantList list{playlist(QStringLiteral("Library"), QStringLiteral("LIB"), all, {{QStringLiteral("Master"), true}})};
    for (const QVariantMap &p : playlists)
        list.append(p);
    return {{QStringLiteral("Library Persistent ID"), QStringLiteral("LIBID")},
            {QStringLiteral("Tracks"), trackMap},
            {QStringLiteral("Playlists"), list}};
}

QStringList names(const iTunesInfo::ItemList &items)
{
    QStringList result;
    for (const auto &i : items)
        result.append(i->name());
    return result;
}

}  // namespace

TEST_F(ITunesModel, LibraryFileLocationRules)
{
    VTR_REQUIRE_SAMPLE(QStringLiteral("itunes-xml"));
    EXPECT_TRUE(VtrITunes::defaultPlaylistDataXMLFile().isNull());
    EXPECT_FALSE(VtrITunes::hasITunes());

    // The host's own file is the last resort.
    testenv::writeFile(MediaLibraryHost::musicLibraryFilePath(), "x");
    EXPECT_EQ(VtrITunes::defaultPlaylistDataXMLFile(), MediaLibraryHost::musicLibraryFilePath());
    EXPECT_TRUE(VtrITunes::hasITunes());

    // In the music folder's "iTunes" folder the older name wins whatever the dates.
    const QDir folder(musicITunesFolder());
    testenv::writeFile(folder.filePath(QStringLiteral("iTunes Library.xml")), "x");
    EXPECT_EQ(VtrITunes::defaultPlaylistDataXMLFile(), folder.filePath(QStringLiteral("iTunes Library.xml")));
    testenv::writeFile(folder.filePath(QStringLiteral("iTunes Music Library.xml")), "x");
    EXPECT_EQ(VtrITunes::defaultPlaylistDataXMLFile(), folder.filePath(QStringLiteral("iTunes Music Library.xml")));

    // The preferences name a file, first "iTunesRecentDatabasePaths", even a missing one.
    const QString prefs =
        VtrFileInfo::findFolderPath(VtrFileInfo::kUserDomain, VtrFileInfo::kPreferencesFolderType, true);
    const QString iApps = QDir(prefs).filePath(QStringLiteral("com.apple.iApps.plist"));
    testenv::writeFile(iApps, vtr::XmlPropertyListWriter::toXml(QVariantMap{
                                  {QStringLiteral("iTunesRecentDatabases"), QVariantList{QStringLiteral("file://localhost/b.xml")}},
                                  {QStringLiteral("iTunesRecentDatabasePaths"), QVariantList{QStringLiteral("~/gone.xml")}}}));
    EXPECT_EQ(VtrITunes::defaultPlaylistDataXMLFile(), QDir::homePath() + QStringLiteral("/gone.xml"));
    testenv::writeFile(iApps, vtr::XmlPropertyListWriter::toXml(QVariantMap{
                                  {QStringLiteral("iTunesRecentDatabases"), QVariantList{QStringLiteral("file://localhost/b%20c.xml")}}}));
    EXPECT_EQ(VtrITunes::defaultPlaylistDataXMLFile(), QStringLiteral("/b c.xml"));

    // A file brought along and named in the settings wins over everything.
    platform::UserDefaults::setValue(QLatin1String(VtrITunes::kLibraryFileDefaultKey), kSamples + "beets-itunes_library_unix.xml");
    EXPECT_EQ(VtrITunes::defaultPlaylistDataXMLFile(), kSamples + "beets-itunes_library_unix.xml");
    QFile::remove(iApps);
}

TEST_F(ITunesModel, MusicFolderOfTheLibraryAndTheHostAsApplication)
{
    VTR_REQUIRE_SAMPLE(QStringLiteral("itunes-xml"));
    EXPECT_TRUE(VtrITunes::iTunesMusicFolder().isNull());
    platform::UserDefaults::setValue(QLatin1String(VtrITunes::kLibraryFileDefaultKey),
                                     kSamples + "cervantesvive-iTunes Music Library-mac.xml");
    EXPECT_TRUE(VtrITunes::iTunesMusicFolder().startsWith(QLatin1String("/Users/"))) << "a Mac's folder, here missing";
    platform::UserDefaults::setValue(QLatin1String(VtrITunes::kLibraryFileDefaultKey),
                                     kSamples + "beets-itunes_library_windows.xml");
    EXPECT_TRUE(VtrITunes::iTunesMusicFolder().isNull()) << "a Windows drive cannot be placed here";
    EXPECT_EQ(VtrITunes::ITunesVersion(), QStringLiteral("10.1"));
    EXPECT_TRUE(VtrITunes::hasITunes());
    EXPECT_FALSE(VtrITunes::iTunesAppImage().isNull());
    EXPECT_EQ(VtrITunes::iTunesAppFileInfo()->path(), MediaLibraryHost::musicLibraryFilePath());
}

TEST_F(ITunesModel, ChangeTestFollowsPathAndDate)
{
    VTR_REQUIRE_SAMPLE(QStringLiteral("itunes-xml"));
    auto itunes = loadSample("beets-itunes_library_unix.xml");
    ASSERT_TRUE(itunes->playlistData());
    EXPECT_FALSE(itunes->playlistDataChanged());
    // Same contents under another path is a change.
    const QString copy = testenv::makeTempDir() + QStringLiteral("/copy.xml");
    ASSERT_TRUE(QFile::copy(kSamples + "beets-itunes_library_unix.xml", copy));
    // The copy keeps the sample's mode, which may be read-only.
    ASSERT_TRUE(QFile::setPermissions(copy, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    platform::UserDefaults::setValue(QLatin1String(VtrITunes::kLibraryFileDefaultKey), copy);
    EXPECT_TRUE(itunes->playlistDataChanged());
    itunes->initWithoutProgress();
    EXPECT_FALSE(itunes->playlistDataChanged());
    QFile file(copy);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.setFileTime(QDateTime::currentDateTimeUtc().addSecs(-3600), QFileDevice::FileModificationTime));
    EXPECT_TRUE(itunes->playlistDataChanged());

    int messages = 0;
    VtrITunes background;
    background.initWithProgress([&messages](const QString &m) {
        EXPECT_EQ(m, QStringLiteral("Reading iTunes playlists..."));
        ++messages;
    });
    EXPECT_TRUE(background.playlistData());
    EXPECT_GE(messages, 1);
}

TEST_F(ITunesModel, PlaylistSummariesOfTheSamples)
{
    VTR_REQUIRE_SAMPLE(QStringLiteral("itunes-xml"));
    auto itunes = loadSample("beets-itunes_library_windows.xml");
    EXPECT_EQ(itunes->playlistNames(), (QStringList{QStringLiteral("Bibliotheek"), QStringLiteral("Muziek")}));
    const QVariantList summary = itunes->playlistNamesIDsTypesAndCount();
    ASSERT_EQ(summary.size(), 2);
    EXPECT_EQ(summary.at(0).toMap().value(QStringLiteral("Type")).toString(), QStringLiteral("Master"));
    EXPECT_EQ(summary.at(0).toMap().value(QStringLiteral("Number of Tracks")).toUInt(), 3u);

    auto mixed = load(libraryOf({}, {playlist(QStringLiteral("both"), QStringLiteral("A"), {},
                                              {{QStringLiteral("Master"), true}, {QStringLiteral("Folder"), true}}),
                                     playlist(QStringLiteral("smart"), QStringLiteral("B"), {},
                                              {{QStringLiteral("Smart Info"), QByteArray("x")}}),
                                     playlist(QStringLiteral("sub"), QStringLiteral("C"), {},
                                              {{QStringLiteral("Parent Persistent ID"), QStringLiteral("A")}})}));
    QStringList types;
    for (const QVariant &p : mixed->playlistNamesIDsTypesAndCount())
        types.append(p.toMap().value(QStringLiteral("Type")).toString());
    ASSERT_EQ(types, (QStringList{"Master", "Master", "Smart Playlist", "Regular"}));
    EXPECT_EQ(mixed->playlistNamesIDsTypesAndCount().last().toMap().value(QStringLiteral("Parent Persistent ID")),
              QStringLiteral("A"));
}

TEST_F(ITunesModel, ModelsOfTheSamples)
{
    VTR_REQUIRE_SAMPLE(QStringLiteral("itunes-xml"));
    iTunesInfo model;
    model.set_iTunes(loadSample("libpytunes-Test Library.xml"), false, true);
    EXPECT_EQ(model.tracks().size(), 388);  // URL and remote tracks left out
    EXPECT_EQ(model.videos().size(), 18);
    EXPECT_EQ(model.writablePlaylists().size(), 8);  // films, TV and podcasts left out
    EXPECT_EQ(model.allPlaylists().size(), 2);       // only playlists with tracks of the file
    EXPECT_EQ(names(model.playlists()), QStringList{QStringLiteral("Jazz")});
    ASSERT_TRUE(model.library());
    EXPECT_EQ(model.library()->numTracks(), 2);

    iTunesInfo podcasts;
    auto mac = loadSample("cervantesvive-iTunes Music Library-mac.xml");
    podcasts.set_iTunes(mac, true, true);
    EXPECT_EQ(podcasts.tracks().size(), 55);
    EXPECT_EQ(podcasts.podcastTracks().size(), 32);
    ASSERT_EQ(podcasts.podcasts().size(), 1);
    EXPECT_TRUE(podcasts.podcasts().first()->isPodcastGroup());
    EXPECT_EQ(podcasts.podcasts().first()->numChildren(), 32);
    EXPECT_EQ(podcasts.writablePlaylists().size(), 11);
    podcasts.set_iTunes(mac, true, false);
    EXPECT_EQ(podcasts.tracks().size(), 23);
    EXPECT_TRUE(podcasts.podcasts().isEmpty());

    // A Windows library: tracks outside its music folder cannot be placed here.
    iTunesInfo windows;
    windows.set_iTunes(loadSample("beets-itunes_library_windows.xml"), false, true);
    ASSERT_EQ(windows.tracks().size(), 3);
    for (const auto &t : windows.tracks()) {
        EXPECT_TRUE(t->localPath().isNull()) << t->location().toStdString();
        EXPECT_FALSE(t->fileInfo()->exists());
    }
    EXPECT_EQ(windows.library()->name(), QStringLiteral("Bibliotheek"));
}

TEST_F(ITunesModel, GroupsAndFilters)
{
    auto itunes = load(libraryOf(
        {track(1, {{"Artist", "Nina"}, {"Album", "Blue"}, {"Genre", "Jazz"}}),
         track(2, {{"Artist", "NINA"}, {"Album", ""}, {"Genre", "jazz"}}),
         track(3, {{"Artist", ""}, {"Album Artist", "Various"}}),
         track(4, {}),
         track(5, {{"Track Type", "URL"}}),
         track(6, {{"Track Type", "FILE"}, {"Has Video", true}}),
         track(7, {{"Has Video", true}, {"Podcast", true}})},
        {playlist(QStringLiteral("Clips"), QStringLiteral("V"), {6}),
         playlist(QStringLiteral("Mixed"), QStringLiteral("M"), {1, 6, 99}),
         playlist(QStringLiteral("Movies"), QStringLiteral("X"), {1}, {{QStringLiteral("Movies"), true}})}));
    iTunesInfo model;
    model.set_iTunes(itunes, false, false);
    EXPECT_EQ(model.tracks().size(), 5);  // 5 (URL) and 7 (a video podcast) left out
    ASSERT_EQ(model.artists().size(), 2);
    EXPECT_EQ(names(model.artists()), (QStringList{QStringLiteral("Nina"), QStringLiteral("Various")}));
    EXPECT_EQ(model.artists().first()->numTracks(), 2);
    EXPECT_EQ(names(model.albums()), (QStringList{QString(), QStringLiteral("Blue")}));  // "" is a group, missing is none
    EXPECT_EQ(model.genres().size(), 1);
    EXPECT_EQ(names(model.videos()), QStringList{QStringLiteral("T6")});

    // A playlist of videos only is not registered but listed with its videos.
    EXPECT_FALSE(model.playlistWithID(QStringLiteral("V")));
    EXPECT_EQ(names(model.playlistsWithVideos()), (QStringList{QStringLiteral("Clips"), QStringLiteral("Mixed")}));
    ASSERT_TRUE(model.playlistWithID(QStringLiteral("M")));
    EXPECT_EQ(model.playlistWithID(QStringLiteral("M"))->numTracks(), 1);

    const struct
    {
        const char *name, *artist, *album, *genre;
        int matches;
    } lookups[] = {{"", "", "", "", 5},          {"T1", "", "", "", 1},  {"t1", "", "", "", 0},
                   {"", "Various", "", "", 1},   {"", "", "Blue", "Jazz", 1}, {"", "", "", "Rock", 0},
                   {"T4", "Nina", "", "", 0}};
    for (const auto &l : lookups)
        EXPECT_EQ(model.tracksWithName(QLatin1String(l.name), QLatin1String(l.artist), QLatin1String(l.album),
                                       QLatin1String(l.genre))
                      .size(),
                  l.matches)
            << l.name << "/" << l.artist;
}

TEST_F(ITunesModel, PlaylistLookupsAndCreation)
{
    auto itunes = load(libraryOf({track(1, {})}, {playlist(QStringLiteral("Road Trip"), QStringLiteral("R"), {1}),
                                                  playlist(QStringLiteral("Box"), QStringLiteral("F"), {1},
                                                           {{QStringLiteral("Folder"), true}})}));
    iTunesInfo model;
    model.set_iTunes(itunes, false, true);
    EXPECT_EQ(model.playlistWithName(QStringLiteral("road trip"), false, nullptr), model.playlistWithID("R"));
    EXPECT_FALSE(model.playlistWithName(QStringLiteral("Box"), false, nullptr));
    EXPECT_EQ(model.folderPlaylistWithName(QStringLiteral("BOX"), false, nullptr), model.playlistWithID("F"));

    MediaLibraryHost::shared().createPlaylist(QStringLiteral("Empty"), false);
    EXPECT_FALSE(model.playlistWithName(QStringLiteral("Empty"), false, nullptr));
    const VtrITunesItemPtr made = model.playlistWithName(QStringLiteral("Empty"), true, nullptr);
    ASSERT_TRUE(made);
    EXPECT_EQ(made->itemPersistentID(), MediaLibraryHost::shared().findPlaylist("Empty", false)->persistentID);
    EXPECT_EQ(model.playlistWithID(made->itemPersistentID()), made);
    EXPECT_TRUE(model.playlists().contains(made));
    const VtrITunesItemPtr folder = model.folderPlaylistWithName(QStringLiteral("New Folder"), true, nullptr);
    ASSERT_TRUE(folder);
    EXPECT_TRUE(folder->isFolder());
    EXPECT_TRUE(iTunesInfo::hostFolderPlaylistWithPersistentID(folder->itemPersistentID()));

    struct Cancel : ITunesWaitDelegate
    {
        bool cancelWaitingForITunes() override { return true; }
    } cancel;
    EXPECT_TRUE(iTunesInfo::iTunesIsRunning(&cancel));  // the host answers at once
    QFile::remove(MediaLibraryHost::musicLibraryFilePath());
    QFile::remove(MediaLibraryHost::playlistsFolder() + QStringLiteral("/Empty.m3u8"));
}

TEST_F(ITunesModel, ItemAnswers)
{
    const QString dir = testenv::makeTempDir();
    testenv::writeFile(dir + QStringLiteral("/book.M4B"), "not really a book");
    const QString book = vtr::libraryLocationForLocalPath(dir + QStringLiteral("/book.M4B"));
    const struct
    {
        QVariantMap info;
        bool isProtected;
    } protection[] = {{{{"Protected", true}, {"Location", book}}, false},
                      {{{"Protected", true}, {"Location", "file://localhost/x/song.m4a"}}, true},
                      {{{"Protected", true}}, true},
                      {{{"Location", "file://localhost/x/song.m4p"}}, false}};
    for (const auto &p : protection) {
        auto item = VtrITunesItem::make(p.info, true);
        EXPECT_EQ(item->isProtected(), p.isProtected) << p.info.value("Location").toString().toStdString();
        EXPECT_EQ(item->displayName().endsWith(QLatin1String("[PROTECTED]")), p.isProtected);
    }

    auto nameless = VtrITunesItem::make({{"Location", "file://localhost/Music/Song%20One.mp3"}}, true);
    EXPECT_EQ(nameless->displayNameInPlaylist(), QStringLiteral("Song%20One"));
    EXPECT_EQ(VtrITunesItem::make({}, true)->displayNameInPlaylist(), QString());

    auto road = VtrITunesItem::make({{"Name", "Road"}, {"Playlist ID", 5}}, false);
    for (int i = 0; i < 12; ++i)
        road->addTrack(VtrITunesItem::make({}, true));
    EXPECT_EQ(road->displayName(), QStringLiteral("Road (12)"));
    auto child = VtrITunesItem::make({{"Name", "Sub"}}, false);
    road->addChild(child);
    EXPECT_EQ(child->nameForOutline(), QString(3, QChar(0x00A0)) + QStringLiteral("Sub"));

    const struct
    {
        QVariantMap info;
        const char *icon;
    } icons[] = {{{{"Distinguished Kind", 26}}, "iTunesPlaylist"}, {{{"Distinguished Kind", 2}}, "iTunesVideos"},
                 {{{"Distinguished Kind", 22}}, "iTunesPartyShuffle"}, {{{"Folder", true}, {"Master", true}}, "iTunesFolder"},
                 {{{"Master", true}}, "iTunesLibrary"},          {{{"Smart Info", "x"}}, "iTunesSmartPlaylist"}};
    for (const auto &i : icons) {
        const QImage image = VtrITunesItem::make(i.info, false)->image();
        EXPECT_FALSE(image.isNull()) << i.icon;
        EXPECT_EQ(image, vtr::libraryIcon(QLatin1String(i.icon))) << i.icon;
    }

    iTunesInfo::ItemList played{VtrITunesItem::make({{"Name", "never"}}, true),
                                VtrITunesItem::make({{"Name", "old"}, {"Play Date UTC", QDateTime(QDate(2001, 1, 1), QTime(), Qt::UTC)}}, true),
                                VtrITunesItem::make({{"Name", "new"}, {"Play Date UTC", QDateTime(QDate(2020, 1, 1), QTime(), Qt::UTC)}}, true)};
    std::sort(played.begin(), played.end(), [](auto &a, auto &b) { return a->comparePlayedDatesNewestFirst(*b) < 0; });
    EXPECT_EQ(names(played), (QStringList{"new", "old", "never"}));
}

TEST_F(ITunesModel, TrackFilesAnswerFromTheLibraryFirst)
{
    auto protectedItem = VtrITunesItem::make({{"Protected", true}, {"Location", "file://localhost/x/a.m4a"}}, true);
    iTunesFileInfo withItem(QStringLiteral("/x/a.m4a"));
    withItem.set_iTunesMetadata({{"Protected", false}});
    withItem.set_iTunesItem(protectedItem);
    EXPECT_TRUE(withItem.hasDRM());
    // No picture in the file: the placeholder, as JPEG.
    const QByteArray art = withItem.artworkData();
    EXPECT_TRUE(art.startsWith("\xFF\xD8"));
    EXPECT_FALSE(withItem.mtpMetadata());

    iTunesFileInfo plain(QStringLiteral("/x/b.mp3"));
    plain.setArtworkData(QByteArray("png"));
    EXPECT_EQ(plain.artworkData(), QByteArray("png"));
    plain.setArtworkData(QByteArray());
    EXPECT_TRUE(plain.artworkData().isEmpty());
    EXPECT_EQ(plain.title(), QString());
    plain.set_iTunesMetadata({{"Name", "Title"}, {"Track Number", 7}, {"Podcast", true}, {"Bit Rate", 320}});
    EXPECT_EQ(plain.title(), QStringLiteral("Title"));
    EXPECT_EQ(plain.trackNumber(), 7);
    EXPECT_TRUE(plain.isPodcast());
    EXPECT_EQ(plain.bitrate(), 320);
    EXPECT_EQ(iTunesFileInfo::tag(QStringLiteral("k"), {QVariantMap{{"j", 1}}, QVariantMap{{"k", QVariantMap{{"object", "v"}}}}}),
              QStringLiteral("v"));
}

TEST_F(ITunesModel, TwentyThousandTracksAndFiveHundredPlaylists)
{
    const QVariantMap library = vtr::syntheticMusicLibrary(20000, 500);
    auto itunes = load(library);
    ASSERT_TRUE(itunes->playlistData()) << itunes->loadError().toStdString();
    EXPECT_EQ(itunes->tracks().size(), 20000);
    iTunesInfo model;
    model.set_iTunes(itunes, true, true);
    EXPECT_EQ(model.tracks().size(), 20000);
    EXPECT_EQ(model.allPlaylists().size(), 501);
    EXPECT_EQ(model.writablePlaylists().size(), 501);
    EXPECT_EQ(model.podcastTracks().size(), 400);
    EXPECT_EQ(model.videos().size(), 500);
    EXPECT_EQ(model.library()->numTracks(), 20000 - 500 - 400);
    EXPECT_EQ(model.artists().size(), 700 - 14);  // 14 artists have only podcasts, which are held apart
    // Folders hold their sub-playlists; those are not at the top level.
    const VtrITunesItemPtr folder = model.folderPlaylistWithPersistentID(QStringLiteral("B000000000000000"));
    ASSERT_TRUE(folder);
    EXPECT_EQ(names(folder->children()), (QStringList{"Playlist 1", "Playlist 2", "Playlist 3"}));
    EXPECT_EQ(model.playlists().size(), 500 - 20 * 3);
}

TEST_F(ITunesModel, VideoPlaylistsWhoseParentsRunInACircleAreAllKept)
{
    // Two playlists each naming the other as parent, and one naming itself.
    auto itunes = load(libraryOf(
        {track(6, {{"Has Video", true}}), track(8, {{"Has Video", true}})},
        {playlist(QStringLiteral("A"), QStringLiteral("VA"), {6}, {{QStringLiteral("Parent Persistent ID"), "VB"}}),
         playlist(QStringLiteral("B"), QStringLiteral("VB"), {6}, {{QStringLiteral("Parent Persistent ID"), "VA"}}),
         playlist(QStringLiteral("C"), QStringLiteral("VC"), {8}, {{QStringLiteral("Parent Persistent ID"), "VC"}})}));
    iTunesInfo model;
    model.set_iTunes(itunes, false, true);
    QStringList all;
    std::function<void(const iTunesInfo::ItemList &)> walk = [&](const iTunesInfo::ItemList &items) {
        for (const auto &item : items) {
            all.append(item->name());
            ASSERT_LT(all.size(), 10) << "a playlist holds itself";
            walk(item->children());
        }
    };
    walk(model.playlistsWithVideos());
    all.sort();
    EXPECT_EQ(all, (QStringList{"A", "B", "C"}));
    // The items are freed with the model (the leak check at exit sees a circle).
}
