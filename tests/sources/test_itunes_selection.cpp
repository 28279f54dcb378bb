#include "platform/UserDefaults.h"
#include "sources/host/PropertyListXml.h"
#include "sources/itunes/VtrITunes.h"
#include "sources/itunes/iTunesInfo.h"

#include "TestEnvironment.h"

#include <gtest/gtest.h>

namespace {

VtrITunesItemPtr playlistItem(const QString &name)
{
    return VtrITunesItem::make({{"Name", name}, {"Playlist Persistent ID", name}}, false);
}

VtrITunesItemPtr trackItem(int id, bool isProtected = false)
{
    QVariantMap info{{"Track ID", id}, {"Persistent ID", QStringLiteral("T%1").arg(id)}, {"Name", QStringLiteral("t%1").arg(id)}};
    if (isProtected) info.insert(QStringLiteral("Protected"), true);
    return VtrITunesItem::make(info, true);
}

// Writes a library and loads it as the person's, through a file named in the settings.
std::shared_ptr<VtrITunes> loadLibrary(const QString &libraryID, const QStringList &playlists, int trackCount)
{
    QVariantMap tracks;
    QVariantList all;
    for (int i = 1; i <= trackCount; ++i) {
        tracks.insert(QString::number(i), QVariantMap{{"Track ID", i},
                                                      {"Persistent ID", QStringLiteral("T%1").arg(i)},
                                                      {"Name", QStringLiteral("t%1").arg(i)},
                                                      {"Artist", QStringLiteral("Artist %1").arg(i % 2)},
                                                      {"Album", QStringLiteral("Album %1").arg(i % 3)},
                                                      {"Genre", "Jazz"}});
        all.append(QVariantMap{{"Track ID", i}});
    }
    QVariantList list{QVariantMap{{"Name", "Library"}, {"Master", true}, {"Playlist Persistent ID", "LIB"}, {"Playlist Items", all}}};
    for (const QString &p : playlists)
        list.append(QVariantMap{{"Name", p}, {"Playlist Persistent ID", p}, {"Playlist ID", p.size()}, {"Playlist Items", all}});
    const QString path = testenv::makeTempDir() + QStringLiteral("/library.xml");
    testenv::writeFile(path, vtr::XmlPropertyListWriter::toXml(QVariantMap{
                                 {"Library Persistent ID", libraryID}, {"Tracks", tracks}, {"Playlists", list}}));
    platform::UserDefaults::setValue(QLatin1String(VtrITunes::kLibraryFileDefaultKey), path);
    auto itunes = std::make_shared<VtrITunes>();
    itunes->initWithoutProgress();
    return itunes;
}

QList<int> trackStates(const VtrITunesItemPtr &item)
{
    QList<int> states;
    for (const auto &s : item->tracks())
        states.append(s->selectedForSync());
    return states;
}

}  // namespace

TEST(ITunesSelection, ClicksAndRequestsOnOneItem)
{
    const struct
    {
        int start;          // the item's selection before
        QList<int> childs;  // its children's selections before
        int request;
        int expected;
    } cases[] = {
        {1, {}, -1, 0},        // a click on a checked box clears it
        {0, {}, -1, 1},        // ... on a clear box checks it
        {-1, {1, 0}, -1, -1},  // ... on a mixed box does nothing
        {-1, {1, 0}, 0, 1},    // asking 0 of a mixed item with a child off turns it on
        {-1, {1, 1}, 1, 0},    // ... and with every child on, turns it off
        {0, {}, 1, 1},
    };
    for (const auto &c : cases) {
        auto item = playlistItem(QStringLiteral("p"));
        for (int s : c.childs) {
            auto child = playlistItem(QStringLiteral("c"));
            child->setSelectedForSyncNoBroadcast(s);
            item->addChild(child);
        }
        item->setSelectedForSyncNoBroadcast(c.start);
        item->setSelectedForSync(c.request);
        EXPECT_EQ(item->selectedForSync(), c.expected) << c.start << " asked " << c.request;
        for (const auto &child : item->children()) {
            if (c.expected != -1) {
                EXPECT_EQ(child->selectedForSync(), c.expected);
            }
        }
    }
}

TEST(ITunesSelection, PropagationDownAndUpWithProtectedTracks)
{
    auto folder = playlistItem(QStringLiteral("folder"));
    auto lockedList = playlistItem(QStringLiteral("locked"));
    auto openList = playlistItem(QStringLiteral("open"));
    folder->addChild(lockedList);
    folder->addChild(openList);
    lockedList->addTrack(trackItem(1, true));
    openList->addTrack(trackItem(2));
    openList->addTrack(trackItem(1, true));

    folder->setSelectedForSync(1);
    EXPECT_EQ(folder->selectedForSync(), 1);
    EXPECT_EQ(lockedList->selectedForSync(), 1);
    ASSERT_EQ(trackStates(lockedList), QList<int>{0});
    ASSERT_EQ(trackStates(openList), (QList<int>{1, 0}));
    EXPECT_FALSE(lockedList->tracks().first()->canSync());
    EXPECT_TRUE(openList->tracks().first()->canSync());

    openList->setSelectedForSync(0);
    EXPECT_EQ(folder->selectedForSync(), -1);
    EXPECT_EQ(trackStates(openList), (QList<int>{0, 0}));
    openList->setSelectedForSync(1);
    EXPECT_EQ(folder->selectedForSync(), 1);

    auto locked = trackItem(3, true);
    locked->setSelectedForSync(1);
    EXPECT_EQ(locked->selectedForSync(), 0);
    EXPECT_FALSE(locked->willSync());
    auto loose = trackItem(4);
    EXPECT_FALSE(loose->willSync());
    openList->addTrack(loose);
    loose->addPlaylist(openList.get());
    EXPECT_TRUE(loose->willSync());
    loose->setWillSync(0);
    EXPECT_TRUE(loose->willSync()) << "a track in a marked group cannot be taken out";

    auto podcast = playlistItem(QStringLiteral("cast"));
    podcast->setIsPodcastGroup(true);
    podcast->addChild(trackItem(5));
    podcast->addChild(trackItem(6));
    podcast->setSelectedForSync(-1);
    EXPECT_EQ(podcast->selectedForSync(), 1);
    ASSERT_EQ(podcast->numChildren(), 2);
    EXPECT_EQ(podcast->children().at(1)->selectedForSync(), 1);
    podcast->children().at(0)->setAutoSelected(true);
    podcast->setSelectedForSync(0);
    podcast->setSelectedForSync(-1);
    EXPECT_EQ(podcast->selectedForSync(), -1);

    auto smart = VtrITunesItem::make({{"Name", "Best"}, {"Smart Info", "x"}}, false);
    EXPECT_EQ(smart->syncInfoText(), QStringLiteral("Check the Smart Playlist \"Best\" to sync its contents to your device."));
    smart->setSelectedForSync(1);
    EXPECT_EQ(smart->syncInfoText(), QStringLiteral("Items in the Smart Playlist \"Best\" will be synced to your device."));
}

TEST(ITunesSelection, CodedItemsKeepTheirSelection)
{
    auto list = playlistItem(QStringLiteral("p"));
    list->addTrack(trackItem(1));
    list->addChild(playlistItem(QStringLiteral("c")));
    list->setSelectedForSync(1);
    const auto back = VtrITunesItem::decode(list->encode());
    EXPECT_EQ(back->name(), QStringLiteral("p"));
    EXPECT_EQ(back->selectedForSync(), 1);
    ASSERT_EQ(trackStates(back), QList<int>{1});
    ASSERT_EQ(back->numChildren(), 1);
    EXPECT_EQ(back->tracks().first()->track()->itemPersistentID(), QStringLiteral("T1"));
    const auto copy = list->copy();
    EXPECT_EQ(copy->tracks(), list->tracks());
    EXPECT_EQ(copy->selectedForSync(), 1);
}

TEST(ITunesSelection, SyncStateSavesAndRestoresAgainstAChangedLibrary)
{
    iTunesInfo model;
    model.set_iTunes(loadLibrary(QStringLiteral("ID1"), {"Road", "Work", "Gone"}, 6), false, true);
    EXPECT_EQ(model.syncState(), (QVariantMap{{"iTunes Library ID", "ID1"}})) << "nothing chosen yet";

    ASSERT_TRUE(model.playlistWithID(QStringLiteral("Road")));
    ASSERT_TRUE(model.playlistWithID(QStringLiteral("Gone")));
    ASSERT_GE(model.playlistWithID(QStringLiteral("Road"))->tracks().size(), 2);
    ASSERT_FALSE(model.artists().isEmpty());
    model.playlistWithID(QStringLiteral("Road"))->setSelectedForSync(1);
    model.playlistWithID(QStringLiteral("Road"))->tracks().at(1)->setSelectedForSync(0);
    model.playlistWithID(QStringLiteral("Gone"))->setSelectedForSync(1);
    model.setSelectedTrackIDs({QStringLiteral("T1"), QStringLiteral("T6")});
    model.artists().first()->setSelectedForSync(1);
    EXPECT_EQ(model.playlistsSelectedForSync().size(), 2);

    const QVariantMap state = model.syncState();
    EXPECT_EQ(state.value("track ids").toStringList(), (QStringList{"T1", "T6"}));
    EXPECT_EQ(state.value("playlists").toList().size(), 2);
    EXPECT_EQ(state.value("artists").toList().size(), 1);
    EXPECT_FALSE(state.contains("albums"));
    const iTunesInfo::SyncInfo info = model.infoToSync(false, false);
    EXPECT_EQ(info.playlists.size(), 2);
    EXPECT_TRUE(info.tracks.contains(1) && info.tracks.contains(6) && info.tracks.contains(3));

    // The library changed: "Gone" went, a track went. What still exists comes back.
    iTunesInfo rebuilt;
    rebuilt.set_iTunes(loadLibrary(QStringLiteral("ID1"), {"Work", "Road"}, 5), false, true);
    rebuilt.setFromSyncState(state);
    EXPECT_EQ(rebuilt.playlistIDsToSync(), QStringList{QStringLiteral("Road")});
    EXPECT_EQ(trackStates(rebuilt.playlistWithID(QStringLiteral("Road"))), (QList<int>{1, 0, 1, 1, 1}));
    EXPECT_EQ(rebuilt.trackIDsToSync(), QStringList{QStringLiteral("T1")});
    EXPECT_EQ(rebuilt.artistNamesToSync().size(), 1);
    EXPECT_EQ(rebuilt.playlistsSelectedForSync().size(), 1);

    // A state without artists clears them; one of another library changes nothing.
    QVariantMap noArtists = state;
    noArtists.remove(QStringLiteral("artists"));
    rebuilt.setFromSyncState(noArtists);
    EXPECT_TRUE(rebuilt.artistNamesToSync().isEmpty());
    QVariantMap other = state;
    other.insert(QStringLiteral("iTunes Library ID"), QStringLiteral("ID2"));
    rebuilt.setFromSyncState(other);
    EXPECT_TRUE(rebuilt.artistNamesToSync().isEmpty());

    // An entry with no tracks to skip turns the whole group on.
    rebuilt.setSelectedPlaylists({QVariantMap{{"playlist persistent id", "Work"}, {"track ids to skip", QVariantList()}}});
    EXPECT_EQ(trackStates(rebuilt.playlistWithID(QStringLiteral("Work"))), (QList<int>{1, 1, 1, 1, 1}));
    EXPECT_EQ(rebuilt.playlistWithID(QStringLiteral("Road"))->selectedForSync(), 0);
    rebuilt.setFromLegacySyncState({QStringLiteral("Road")});
    EXPECT_EQ(rebuilt.playlistIDsToSync(), QStringList{QStringLiteral("Road")});

    // A rebuild keeps the selection.
    rebuilt.set_iTunes(rebuilt.iTunes(), true, true);
    EXPECT_EQ(rebuilt.playlistIDsToSync(), QStringList{QStringLiteral("Road")});
    platform::UserDefaults::remove(QLatin1String(VtrITunes::kLibraryFileDefaultKey));
}
