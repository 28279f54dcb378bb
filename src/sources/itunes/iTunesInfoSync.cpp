// The music library model's sync selection: what is chosen, as lists for a
// transfer and as a sync-state dictionary that survives a rebuild.

#include "sources/itunes/VtrITunes.h"
#include "sources/itunes/iTunesInfo.h"

namespace {

const QString kLibraryIDKey = QStringLiteral("iTunes Library ID");
const QString kGroupIDKey = QStringLiteral("playlist persistent id");
const QString kGroupNumberKey = QStringLiteral("playlist id");
const QString kSkipKey = QStringLiteral("track ids to skip");

QStringList toStrings(const QVariant &value)
{
    QStringList list;
    for (const QVariant &v : value.toList())
        list.append(v.toString());
    return list;
}

QStringList namesOfSelected(const iTunesInfo::ItemList &groups)
{
    QStringList names;
    for (const auto &g : groups)
        if (g->selectedForSync() == 1) names.append(g->name());
    return names;
}

}  // namespace

void iTunesInfo::itemSelectionChanged(VtrITunesItem *item)
{
    if (item->selectedForSync() == 1)
        m_selectedPlaylists.insert(item);
    else
        m_selectedPlaylists.remove(item);
}

iTunesInfo::ItemList iTunesInfo::itemsMarkedForSyncingInArray(const ItemList &items)
{
    ItemList result;
    for (const auto &i : items)
        if (i->selectedForSync() == 1) result.append(i);
    return result;
}

QHash<qint64, VtrITunesItemPtr> iTunesInfo::libraryTracksToSync(bool all) const
{
    QHash<qint64, VtrITunesItemPtr> result;
    if (!m_library) return result;
    for (const auto &state : m_library->tracks())
        if ((all || state->selectedForSync() == 1) && !state->track()->isProtected())
            result.insert(state->track()->itemID(), state->track());
    return result;
}

QStringList iTunesInfo::trackIDsToSync() const
{
    QStringList ids;
    if (!m_library) return ids;
    for (const auto &state : m_library->tracks())
        if (state->selectedForSync() == 1) ids.append(state->track()->itemPersistentID());
    return ids;
}

void iTunesInfo::setSelectedTrackIDs(const QStringList &persistentIDs)
{
    if (!m_library) return;
    const QSet<QString> wanted(persistentIDs.cbegin(), persistentIDs.cend());
    for (const auto &state : m_library->tracks())
        state->setSelectedForSync(wanted.contains(state->track()->itemPersistentID()) ? 1 : 0);
}

QStringList iTunesInfo::unselectedTrackIDsInList(const QList<iTunesTrackStatePtr> &states,
                                                 QHash<qint64, VtrITunesItemPtr> *selectedTracks)
{
    QStringList unselected;
    for (const auto &state : states) {
        if (state->track()->isProtected()) continue;
        if (state->selectedForSync() == 0)
            unselected.append(state->track()->itemPersistentID());
        else if (selectedTracks)
            selectedTracks->insert(state->track()->itemID(), state->track());
    }
    return unselected;
}

QVariantList iTunesInfo::syncInfoForGroups(const ItemList &groups, QHash<qint64, VtrITunesItemPtr> *tracks,
                                           bool syncAll)
{
    QVariantList entries;
    for (const auto &g : groups) {
        if (!syncAll && g->selectedForSync() != 1) continue;
        QVariantMap entry{{kGroupIDKey, g->itemPersistentID()}, {kGroupNumberKey, g->itemID()}};
        if (!syncAll) entry.insert(kSkipKey, unselectedTrackIDsInList(g->tracks(), tracks));
        entries.append(entry);
    }
    return entries;
}

QVariantList iTunesInfo::playlistsInfoToSyncAddToTracks(QHash<qint64, VtrITunesItemPtr> *tracks, bool syncAll) const
{
    return syncInfoForGroups(m_allPlaylists.values(), tracks, syncAll);
}

QVariantList iTunesInfo::artistsToSyncAddToTracks(QHash<qint64, VtrITunesItemPtr> *tracks) const
{
    return syncInfoForGroups(m_allArtists.values(), tracks, false);
}

QVariantList iTunesInfo::albumsToSyncAddToTracks(QHash<qint64, VtrITunesItemPtr> *tracks) const
{
    return syncInfoForGroups(m_allAlbums.values(), tracks, false);
}

QVariantList iTunesInfo::genresToSyncAddToTracks(QHash<qint64, VtrITunesItemPtr> *tracks) const
{
    return syncInfoForGroups(m_allGenres.values(), tracks, false);
}

iTunesInfo::ItemList iTunesInfo::playlistsToSyncAddToTracks(QHash<qint64, VtrITunesItemPtr> *tracks, bool syncAll,
                                                            bool) const
{
    ItemList result;
    for (const auto &p : m_allPlaylists) {
        if (p->isLibrary() || (!syncAll && p->selectedForSync() != 1)) continue;
        result.append(p);
        if (!tracks) continue;
        for (const auto &state : p->tracks())
            if (!state->track()->isProtected() && (syncAll || state->selectedForSync() == 1))
                tracks->insert(state->track()->itemID(), state->track());
    }
    return result;
}

iTunesInfo::SyncInfo iTunesInfo::infoToSync(bool all, bool refreshSmartPlaylists) const
{
    SyncInfo info;
    info.tracks = libraryTracksToSync(all);
    info.playlists = playlistsToSyncAddToTracks(all ? nullptr : &info.tracks, all, refreshSmartPlaylists);
    if (!all) {
        artistsToSyncAddToTracks(&info.tracks);
        albumsToSyncAddToTracks(&info.tracks);
        genresToSyncAddToTracks(&info.tracks);
    }
    return info;
}

void iTunesInfo::setSelectedInfo(const QVariantList &entries, const ItemMap &groups)
{
    for (const auto &g : groups)
        g->setSelectedForSyncNoBroadcast(0);
    for (const QVariant &e : entries) {
        const QVariantMap entry = e.toMap();
        const VtrITunesItemPtr group = groups.value(entry.value(kGroupIDKey).toString());
        if (!group) continue;
        group->setSelectedForSync(1);
        const QStringList skip = toStrings(entry.value(kSkipKey));
        if (skip.isEmpty()) continue;
        for (const auto &state : group->tracks())
            state->setSelectedForSync(skip.contains(state->track()->itemPersistentID()) ? 0 : 1);
    }
}

void iTunesInfo::setSelectedPlaylists(const QVariantList &entries)
{
    setSelectedInfo(entries, m_allPlaylists);
    // Stored without notice above: bring the selected set in step.
    m_selectedPlaylists.clear();
    for (const auto &p : m_allPlaylists)
        if (p->selectedForSync() == 1) m_selectedPlaylists.insert(p.get());
}

QStringList iTunesInfo::albumNamesToSync() const
{
    return namesOfSelected(m_allAlbums.values());
}

QStringList iTunesInfo::artistNamesToSync() const
{
    return namesOfSelected(m_allArtists.values());
}

QStringList iTunesInfo::genreNamesToSync() const
{
    return namesOfSelected(m_allGenres.values());
}

QStringList iTunesInfo::playlistIDsToSync() const
{
    QStringList ids;
    for (const auto &p : m_allPlaylists)
        if (p->selectedForSync() == 1) ids.append(p->itemPersistentID());
    return ids;
}

QVariantMap iTunesInfo::syncState() const
{
    const QString libraryID = m_iTunes ? m_iTunes->libraryID() : QString();
    if (libraryID.isEmpty()) return {};
    QVariantMap state{{kLibraryIDKey, libraryID}};
    auto put = [&state](const QString &key, const QVariantList &list) {
        if (!list.isEmpty()) state.insert(key, list);
    };
    QVariantList trackIDs;
    for (const QString &id : trackIDsToSync())
        trackIDs.append(id);
    put(QStringLiteral("track ids"), trackIDs);
    put(QStringLiteral("playlists"), playlistsInfoToSyncAddToTracks(nullptr, false));
    put(QStringLiteral("artists"), artistsToSyncAddToTracks(nullptr));
    put(QStringLiteral("albums"), albumsToSyncAddToTracks(nullptr));
    put(QStringLiteral("genres"), genresToSyncAddToTracks(nullptr));
    return state;
}

void iTunesInfo::setFromSyncState(const QVariantMap &state)
{
    if (!state.contains(kLibraryIDKey) || !m_iTunes || state.value(kLibraryIDKey).toString() != m_iTunes->libraryID())
        return;
    setSelectedTrackIDs(toStrings(state.value(QStringLiteral("track ids"))));
    setSelectedPlaylists(state.value(QStringLiteral("playlists")).toList());
    setSelectedArtists(state.value(QStringLiteral("artists")).toList());
    setSelectedAlbums(state.value(QStringLiteral("albums")).toList());
    setSelectedGenres(state.value(QStringLiteral("genres")).toList());
}

void iTunesInfo::setFromLegacySyncState(const QStringList &playlistPersistentIDs)
{
    QVariantList entries;
    for (const QString &id : playlistPersistentIDs)
        entries.append(QVariantMap{{kGroupIDKey, id}});
    setSelectedPlaylists(entries);
}
