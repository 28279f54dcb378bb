// Runs again under odd time zones (scripts/test.sh): it reads or writes dates.
#include "platform/UserDefaults.h"
#include "sources/host/PropertyListXml.h"
#include "sources/itunes/VtrITunes.h"
#include "sources/itunes/iTunesInfo.h"

#include "TestEnvironment.h"

#include <QDir>

#include <algorithm>
#include <gtest/gtest.h>

namespace {

QStringList sortedNames(iTunesInfo::ItemList items, int (VtrITunesItem::*compare)(const VtrITunesItem &) const)
{
    std::stable_sort(items.begin(), items.end(), [&](const auto &a, const auto &b) { return ((*a).*compare)(*b) < 0; });
    QStringList names;
    for (const auto &i : items)
        names.append(i->name());
    return names;
}

std::shared_ptr<VtrITunes> libraryFromFile(const QVariantMap &data)
{
    const QString path = testenv::makeTempDir() + QStringLiteral("/library.xml");
    testenv::writeFile(path, vtr::XmlPropertyListWriter::toXml(data));
    auto itunes = std::make_shared<VtrITunes>();
    itunes->initWithFile(path);
    return itunes;
}

QVariantList items(std::initializer_list<int> ids)
{
    QVariantList list;
    for (int id : ids)
        list.append(QVariantMap{{"Track ID", id}});
    return list;
}

}  // namespace

TEST(ITunesItems, SortValuesFallBackAndComparisonsOrder)
{
    const iTunesInfo::ItemList tracks{
        VtrITunesItem::make({{"Name", "b"}, {"Artist", "Zed"}, {"Sort Artist", "Alpha"}, {"Album", "The End"}, {"Sort Album", "End"}, {"Genre", "rock"}}, true),
        VtrITunesItem::make({{"Name", "A"}, {"Album Artist", "Beta"}, {"Album", "Cello"}, {"Genre", "Jazz"}, {"Sort Name", "z"}}, true),
        VtrITunesItem::make({{"Name", "c"}, {"Artist", "gamma"}, {"Album", "alps"}, {"Genre", "Blues"}}, true)};
    EXPECT_EQ(sortedNames(tracks, &VtrITunesItem::compareNames), (QStringList{"b", "c", "A"}));
    EXPECT_EQ(sortedNames(tracks, &VtrITunesItem::compareArtists), (QStringList{"b", "A", "c"}));
    EXPECT_EQ(sortedNames(tracks, &VtrITunesItem::compareAlbums), (QStringList{"c", "A", "b"}));
    EXPECT_EQ(sortedNames(tracks, &VtrITunesItem::compareGenres), (QStringList{"c", "A", "b"}));

    const VtrITunesItemPtr &t = tracks.at(1);
    EXPECT_EQ(t->artist(), QStringLiteral("Beta"));
    EXPECT_EQ(t->sortArtist(), QStringLiteral("Beta"));
    EXPECT_EQ(t->sortName(), QStringLiteral("z"));
    EXPECT_TRUE(t->sortAlbumOnly().isNull());
    t->setSortName(QStringLiteral("y"));
    EXPECT_EQ(t->sortName(), QStringLiteral("y"));
    t->setAlbum(QStringLiteral("Drums"));
    EXPECT_EQ(t->album(), QStringLiteral("Drums"));
    t->setGenre(QString());
    EXPECT_TRUE(t->genre().isNull());
    t->setAlbumArtist(QStringLiteral("Gamma"));
    EXPECT_EQ(t->artist(), QStringLiteral("Gamma"));
    t->setName(QStringLiteral("Renamed"));
    EXPECT_EQ(t->displayName(), QStringLiteral("Renamed"));

    const iTunesInfo::ItemList dated{
        VtrITunesItem::make({{"Name", "old"}, {"Release Date", QDateTime(QDate(1990, 1, 1), QTime(), Qt::UTC)},
                             {"Date Added", QDateTime(QDate(2020, 1, 1), QTime(), Qt::UTC)}, {"Play Count", 9}}, true),
        VtrITunesItem::make({{"Name", "new"}, {"Release Date", QDateTime(QDate(2010, 1, 1), QTime(), Qt::UTC)},
                             {"Date Added", QDateTime(QDate(2000, 1, 1), QTime(), Qt::UTC)}, {"Play Count", 2}}, true)};
    EXPECT_EQ(sortedNames(dated, &VtrITunesItem::compareReleaseDateNewestFirst), (QStringList{"new", "old"}));
    EXPECT_EQ(sortedNames(dated, &VtrITunesItem::compareReleaseDateOldestFirst), (QStringList{"old", "new"}));
    EXPECT_EQ(sortedNames(dated, &VtrITunesItem::compareDateAddedNewestFirst), (QStringList{"old", "new"}));
    EXPECT_EQ(sortedNames(dated, &VtrITunesItem::compareDateAddedOldestFirst), (QStringList{"new", "old"}));
    EXPECT_EQ(sortedNames(dated, &VtrITunesItem::comparePlayCounts), (QStringList{"new", "old"}));

    auto playlist = VtrITunesItem::make({{"Name", "P"}}, false);
    for (const auto &d : dated)
        playlist->addTrack(d);
    ASSERT_EQ(playlist->tracksByNewestReleaseDate().size(), dated.size());
    EXPECT_EQ(playlist->tracksByNewestReleaseDate().first()->name(), QStringLiteral("new"));
    EXPECT_EQ(playlist->displayNameWithNumChildren(), QStringLiteral("P (0)"));
}

TEST(ITunesItems, KindsOfPlaylistsAndTracks)
{
    const struct
    {
        QVariantMap info;
        bool isTrack, folder, playlist, smart, writable;
    } cases[] = {
        {{{"Name", "plain"}}, false, false, true, false, true},
        {{{"Folder", true}}, false, true, false, false, false},
        {{{"Smart Info", QByteArray("x")}}, false, false, true, true, false},
        {{{"Distinguished Kind", 4}}, false, false, true, false, false},
        {{{"Name", "song"}}, true, false, false, false, false},
    };
    for (const auto &c : cases) {
        auto item = VtrITunesItem::make(c.info, c.isTrack);
        EXPECT_EQ(item->isFolder(), c.folder) << c.info.keys().join(',').toStdString();
        EXPECT_EQ(item->isPlaylist(), c.playlist);
        EXPECT_EQ(item->isSmartPlaylist(), c.smart);
        EXPECT_EQ(item->isWritable(), c.writable);
    }
    auto video = VtrITunesItem::make({{"Has Video", true}, {"Podcast", true}, {"Track Kind", "Remote"}, {"TV Show", true}}, true);
    EXPECT_TRUE(video->isVideoPodcast());
    EXPECT_TRUE(video->isRemote());
    EXPECT_TRUE(video->isTVShow());
    EXPECT_FALSE(video->isMovie());
    EXPECT_EQ(VtrITunesItem::make({}, true)->datePlayed().date().year(), 1);
}

TEST(ITunesItems, VideoAndPodcastPlaylistsNestUnderTheirParentsTwins)
{
    QVariantMap tracks;
    tracks.insert("1", QVariantMap{{"Track ID", 1}, {"Name", "song"}, {"Persistent ID", "S"}});
    tracks.insert("2", QVariantMap{{"Track ID", 2}, {"Name", "clip"}, {"Has Video", true}, {"Persistent ID", "V"}});
    tracks.insert("3", QVariantMap{{"Track ID", 3}, {"Name", "show"}, {"Podcast", true}, {"Album", "Cast"}, {"Persistent ID", "P"}});
    tracks.insert("4", QVariantMap{{"Track ID", 4}, {"Name", "locked"}, {"Protected", true}, {"Persistent ID", "L"}});
    const QVariantList playlists{
        QVariantMap{{"Name", "Library"}, {"Master", true}, {"Playlist Persistent ID", "LIB"}, {"Playlist Items", items({1, 2, 3, 4})}},
        QVariantMap{{"Name", "Box"}, {"Folder", true}, {"Playlist Persistent ID", "BOX"}, {"Playlist Items", items({1, 2, 3})}},
        QVariantMap{{"Name", "Inner"}, {"Parent Persistent ID", "BOX"}, {"Playlist Persistent ID", "IN"}, {"Playlist Items", items({1, 2, 3})}},
        QVariantMap{{"Name", "Stray"}, {"Parent Persistent ID", "NOWHERE"}, {"Playlist Persistent ID", "ST"}, {"Playlist Items", items({1, 4})}}};
    auto itunes = libraryFromFile({{"Library Persistent ID", "X"}, {"Tracks", tracks}, {"Playlists", playlists}});
    iTunesInfo model;
    model.set_iTunes(itunes, true, true);

    EXPECT_EQ(model.playlists().size(), 1) << "Inner is in Box, Stray's parent is unknown";
    ASSERT_TRUE(model.playlistWithID("BOX"));
    ASSERT_EQ(model.playlistWithID("BOX")->children().size(), 1);
    EXPECT_EQ(model.playlistWithID("BOX")->children().first(), model.playlistWithID("IN"));
    EXPECT_TRUE(model.playlistWithID("ST")) << "registered although linked nowhere";
    ASSERT_EQ(model.playlistsWithVideos().size(), 1);
    EXPECT_EQ(model.playlistsWithVideos().first()->name(), QStringLiteral("Box"));
    EXPECT_EQ(model.playlistsWithVideos().first()->children().size(), 1);
    ASSERT_EQ(model.playlistsWithPodcasts().size(), 1);
    ASSERT_EQ(model.playlistsWithPodcasts().first()->children().size(), 1);
    EXPECT_EQ(model.playlistsWithPodcasts().first()->children().first()->name(), QStringLiteral("Inner"));
    ASSERT_EQ(model.podcasts().size(), 1);
    EXPECT_EQ(model.podcasts().first()->name(), QStringLiteral("Cast"));
    EXPECT_EQ(model.trackWithPersistentID(QStringLiteral("V"))->name(), QStringLiteral("clip"));
    EXPECT_FALSE(model.trackWithPersistentID(QStringLiteral("none")));

    // Protected tracks never go into a transfer, even with everything chosen.
    const auto all = model.libraryTracksToSync(true);
    EXPECT_EQ(all.size(), 1) << "the library holds the song and the locked track; videos and podcasts are apart";
    model.playlistWithID("ST")->setSelectedForSync(1);
    const auto info = model.infoToSync(false, false);
    EXPECT_EQ(info.tracks.keys(), QList<qint64>{1});
    EXPECT_EQ(iTunesInfo::itemsMarkedForSyncingInArray(model.allPlaylists()).size(), 1);
    ASSERT_FALSE(model.playlistWithID("ST")->tracks().isEmpty());
    EXPECT_TRUE(model.playlistWithID("ST")->tracks().at(0)->track()->isInGroupMarkedForSyncing());
    EXPECT_EQ(model.playlistWithID("ST")->tracks().at(0)->track()->myGroupsMarkedForSyncing(true).size(), 1);
}
