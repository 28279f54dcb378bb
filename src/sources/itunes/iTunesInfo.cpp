#include "sources/itunes/iTunesInfo.h"

#include "foundation/Log.h"
#include "platform/Strings.h"
#include "platform/VtrException.h"
#include "sources/itunes/VtrITunes.h"

#include <QThread>

#include <algorithm>
#include <atomic>

namespace {

enum GroupKind { ArtistGroup, AlbumGroup, GenreGroup };

std::atomic<qint64> g_waitLimitMs{60 * 1000};

template <typename Compare>
iTunesInfo::ItemList sorted(iTunesInfo::ItemList list, Compare compare)
{
    std::stable_sort(list.begin(), list.end(),
                     [&](const VtrITunesItemPtr &a, const VtrITunesItemPtr &b) { return ((*a).*compare)(*b) < 0; });
    return list;
}

}  // namespace

iTunesInfo::~iTunesInfo()
{
    stopObserving();
}

void iTunesInfo::stopObserving()
{
    for (const auto &p : std::as_const(m_allPlaylists))
        p->setSelectionObserver(nullptr);
}

void iTunesInfo::set_iTunes(std::shared_ptr<VtrITunes> library, bool separatePodcasts, bool includeVideoPodcasts)
{
    if (m_built && library == m_iTunes && separatePodcasts == m_separatePodcasts &&
        includeVideoPodcasts == m_includeVideoPodcasts)
        return;
    m_separatePodcasts = separatePodcasts;
    m_includeVideoPodcasts = includeVideoPodcasts;
    const QVariantMap saved = syncState();
    m_iTunes = std::move(library);
    buildCache();
    m_built = true;
    setFromSyncState(saved);
}

bool iTunesInfo::iTunesInfoChanged() const
{
    return m_iTunes && m_iTunes->playlistDataChanged();
}

void iTunesInfo::addTrackToGroup(ItemMap &groups, const QString &key, const VtrITunesItemPtr &track, int kind)
{
    VtrITunesItemPtr group = groups.value(key);
    if (!group) {
        group = VtrITunesItem::make(QVariantMap(), false);
        group->setItemPersistentID(key);
        if (kind == ArtistGroup) {
            group->setName(track->artist());
            group->setAlbumArtist(track->artist());
            group->setSortTrackArtist(track->sortTrackArtistOnly());
            group->setSortAlbumArtist(track->sortAlbumArtistOnly());
        } else if (kind == AlbumGroup) {
            group->setIsAlbum(true);
            group->setName(track->album());
            group->setAlbum(track->album());
            group->setSortAlbum(track->sortAlbumOnly());
        } else {
            group->setName(track->genre());
            group->setGenre(track->genre());
        }
        groups.insert(key, group);
    } else if (kind == ArtistGroup) {
        if (group->sortTrackArtistOnly().isNull()) group->setSortTrackArtist(track->sortTrackArtistOnly());
        if (group->sortAlbumArtistOnly().isNull()) group->setSortAlbumArtist(track->sortAlbumArtistOnly());
    } else if (kind == AlbumGroup && group->sortAlbumOnly().isNull()) {
        group->setSortAlbum(track->sortAlbumOnly());
    }
    group->addTrack(track);
    if (kind == ArtistGroup)
        track->addArtist(group.get());
    else if (kind == AlbumGroup)
        track->addAlbum(group.get());
    else
        track->addGenre(group.get());
}

void iTunesInfo::buildCache()
{
    stopObserving();
    m_library.reset();
    m_allPlaylists.clear();
    m_topLevelPlaylists.clear();
    m_writablePlaylists.clear();
    m_allTracks.clear();
    m_allVideoPlaylists.clear();
    m_topLevelVideoPlaylists.clear();
    m_allPodcastPlaylists.clear();
    m_topLevelPodcastPlaylists.clear();
    m_allAlbums.clear();
    m_allArtists.clear();
    m_allGenres.clear();
    m_selectedPlaylists.clear();
    m_allVideos.clear();
    m_allPodcastTracks.clear();
    m_allPodcasts.clear();
    m_unregistered.clear();
    if (!m_iTunes || !m_iTunes->playlistData()) return;

    const QVariantMap &data = *m_iTunes->playlistData();
    auto context = std::make_shared<const ITunesLocationContext>(
        MediaLibraryHost::trackFoldersOf(m_iTunes->playlistDataPath(), m_iTunes->musicFolderLocation()));

    const QVariantMap tracks = data.value(QStringLiteral("Tracks")).toMap();
    m_allTracks.reserve(tracks.size());
    for (auto it = tracks.cbegin(); it != tracks.cend(); ++it) {
        try {
            const QVariantMap info = it.value().toMap();
            const QVariant type = info.value(QStringLiteral("Track Type"));
            if (type.isValid() && type.toString().compare(QLatin1String("File"), Qt::CaseInsensitive) != 0) continue;
            auto track = VtrITunesItem::make(info, true);
            track->setLocationContext(context);
            if (!m_includeVideoPodcasts && track->isVideoPodcast()) continue;
            if (m_separatePodcasts && track->isPodcast()) {
                m_allPodcastTracks.insert(it.key(), track);
                const QString album = track->album().isEmpty() ? vtrLocalized("Untitled Podcast") : track->album();
                const QString key = album.toUpper();
                VtrITunesItemPtr group = m_allPodcasts.value(key);
                if (!group) {
                    group = VtrITunesItem::make(QVariantMap(), false);
                    group->setIsPodcastGroup(true);
                    group->setIsAlbum(true);
                    group->setItemPersistentID(key);
                    group->setName(album);
                    group->setAlbum(album);
                    group->setSortAlbum(track->sortAlbumOnly());
                    m_allPodcasts.insert(key, group);
                } else if (group->sortAlbumOnly().isNull()) {
                    group->setSortAlbum(track->sortAlbumOnly());
                }
                group->addChild(track);
            } else {
                const QString artist = track->artist();
                if (!artist.isEmpty()) addTrackToGroup(m_allArtists, artist.toUpper(), track, ArtistGroup);
                if (!track->album().isNull()) addTrackToGroup(m_allAlbums, track->album().toUpper(), track, AlbumGroup);
                if (!track->genre().isNull()) addTrackToGroup(m_allGenres, track->genre().toUpper(), track, GenreGroup);
            }
            m_allTracks.insert(it.key(), track);
            if (track->isVideo() && !track->isPodcast()) m_allVideos.insert(it.key(), track);
        } catch (const VtrException &e) {
            LogWrite(1, "", __FILE__, "-[iTunesInfo _buildCache]", __LINE__, QVariant(), QVariant(),
                     QStringLiteral("%1").arg(e.reason()));
        }
    }

    for (const QVariant &entry : data.value(QStringLiteral("Playlists")).toList()) {
        const QVariantMap info = entry.toMap();
        if (info.value(QStringLiteral("Movies")).toBool() || info.value(QStringLiteral("TV Shows")).toBool() ||
            info.value(QStringLiteral("Podcasts")).toBool())
            continue;
        const QString id = info.value(QStringLiteral("Playlist Persistent ID")).toString();
        VtrITunesItemPtr playlist = m_allPlaylists.value(id);
        const bool isNew = !playlist;
        if (isNew) playlist = VtrITunesItem::make(info, false);
        m_writablePlaylists.append(playlist);

        for (const QVariant &item : info.value(QStringLiteral("Playlist Items")).toList()) {
            const QVariant trackID = item.toMap().value(QStringLiteral("Track ID"));
            if (!trackID.isValid()) continue;
            const VtrITunesItemPtr track = m_allTracks.value(trackID.toString());
            if (!track) continue;
            if (m_separatePodcasts && track->isPodcast()) {
                VtrITunesItemPtr &podcasts = m_allPodcastPlaylists[id];
                if (!podcasts) podcasts = VtrITunesItem::make(info, false);
                podcasts->addTrack(track);
            } else if (track->isVideo() && !track->isPodcast()) {
                VtrITunesItemPtr &videos = m_allVideoPlaylists[id];
                if (!videos) videos = VtrITunesItem::make(info, false);
                videos->addTrack(track);
            } else {
                playlist->addTrack(track);
                track->addPlaylist(playlist.get());
            }
        }

        if (playlist->numTracks() == 0) {
            if (isNew) m_unregistered.append(playlist);
            continue;
        }
        if (!isNew) continue;
        const QString parentID = playlist->parentPersistentPlaylistID();
        if (!parentID.isEmpty()) {
            if (const VtrITunesItemPtr parent = m_allPlaylists.value(parentID)) parent->addChild(playlist);
        } else if (playlist->isLibrary()) {
            m_library = playlist;
        } else {
            m_topLevelPlaylists.append(playlist);
        }
        m_allPlaylists.insert(id, playlist);
        playlist->setSelectionObserver(this);
    }

    // Video and podcast playlists nest under their parents' twins. A parent
    // chain that leads back to the playlist itself (a damaged file) is cut
    // there: that playlist stands at the top, so none is lost and no item
    // holds itself.
    auto nest = [](const ItemMap &items, ItemList &topLevel) {
        for (const auto &item : items) {
            if (item->isLibrary()) continue;
            const QString parentID = item->parentPersistentPlaylistID();
            if (parentID.isEmpty()) {
                topLevel.append(item);
                continue;
            }
            const VtrITunesItemPtr parent = items.value(parentID);
            if (!parent) continue;
            bool cycle = false;
            for (const VtrITunesItem *above = parent.get(); above && !cycle; above = above->parent())
                cycle = above == item.get();
            if (cycle)
                topLevel.append(item);
            else
                parent->addChild(item);
        }
    };
    nest(m_allVideoPlaylists, m_topLevelVideoPlaylists);
    if (m_separatePodcasts) nest(m_allPodcastPlaylists, m_topLevelPodcastPlaylists);
}

// ---------------------------------------------------------------------------

iTunesInfo::ItemList iTunesInfo::tracksByMostRecentlyPlayed() const
{
    return sorted(tracks(), &VtrITunesItem::comparePlayedDatesNewestFirst);
}

iTunesInfo::ItemList iTunesInfo::albums() const
{
    return sorted(m_allAlbums.values(), &VtrITunesItem::compareAlbums);
}

iTunesInfo::ItemList iTunesInfo::artists() const
{
    return sorted(m_allArtists.values(), &VtrITunesItem::compareArtists);
}

iTunesInfo::ItemList iTunesInfo::genres() const
{
    return sorted(m_allGenres.values(), &VtrITunesItem::compareGenres);
}

iTunesInfo::ItemList iTunesInfo::videos() const
{
    return sorted(m_allVideos.values(), &VtrITunesItem::compareNames);
}

iTunesInfo::ItemList iTunesInfo::playlistsWithVideos() const
{
    return sorted(m_topLevelVideoPlaylists, &VtrITunesItem::compareNames);
}

iTunesInfo::ItemList iTunesInfo::podcasts() const
{
    return sorted(m_allPodcasts.values(), &VtrITunesItem::compareNames);
}

iTunesInfo::ItemList iTunesInfo::playlistsWithPodcasts() const
{
    return sorted(m_topLevelPodcastPlaylists, &VtrITunesItem::compareNames);
}

VtrITunesItemPtr iTunesInfo::trackWithPersistentID(const QString &persistentID) const
{
    for (const auto &t : m_allTracks)
        if (t->itemPersistentID() == persistentID) return t;
    return nullptr;
}

VtrITunesItemPtr iTunesInfo::folderPlaylistWithPersistentID(const QString &persistentID) const
{
    for (const auto &p : m_allPlaylists)
        if (p->isFolder() && p->itemPersistentID() == persistentID) return p;
    return nullptr;
}

iTunesInfo::ItemList iTunesInfo::tracksWithName(const QString &name, const QString &artist, const QString &album,
                                                const QString &genre) const
{
    ItemList result;
    for (const auto &t : m_allTracks) {
        if (!name.isEmpty() && t->name() != name) continue;
        if (!artist.isEmpty() && t->artist() != artist) continue;
        if (!album.isEmpty() && t->album() != album) continue;
        if (!genre.isEmpty() && t->genre() != genre) continue;
        result.append(t);
    }
    return result;
}

VtrITunesItemPtr iTunesInfo::createdPlaylist(const QString &name, const MediaLibraryHost::Playlist &made, bool folder)
{
    QVariantMap info{{QStringLiteral("Name"), name},
                     {QStringLiteral("All Items"), true},
                     {QStringLiteral("Playlist Persistent ID"), made.persistentID}};
    if (folder) info.insert(QStringLiteral("Folder"), true);
    auto item = VtrITunesItem::make(info, false);
    m_allPlaylists.insert(made.persistentID, item);
    m_topLevelPlaylists.append(item);
    item->setSelectionObserver(this);
    return item;
}

VtrITunesItemPtr iTunesInfo::playlistWithName(const QString &name, bool createIfNeeded, ITunesWaitDelegate *)
{
    for (const auto &p : m_allPlaylists)
        if (p->isPlaylist() && p->name().compare(name, Qt::CaseInsensitive) == 0) return p;
    if (!createIfNeeded) return nullptr;
    const auto made = playlistWithName(name, true);
    return made ? createdPlaylist(name, *made, false) : nullptr;
}

VtrITunesItemPtr iTunesInfo::folderPlaylistWithName(const QString &name, bool createIfNeeded, ITunesWaitDelegate *)
{
    for (const auto &p : m_allPlaylists)
        if (p->isFolder() && p->name().compare(name, Qt::CaseInsensitive) == 0) return p;
    if (!createIfNeeded) return nullptr;
    const auto made = folderPlaylistWithName(name, true);
    return made ? createdPlaylist(name, *made, true) : nullptr;
}

// ---------------------------------------------------------------------------

MediaLibraryHost *iTunesInfo::iTunesApp(bool)
{
    MediaLibraryHost &host = MediaLibraryHost::shared();
    return host.isConfigured() ? &host : nullptr;
}

std::chrono::milliseconds iTunesInfo::waitLimit()
{
    return std::chrono::milliseconds(g_waitLimitMs.load());
}

void iTunesInfo::setWaitLimit(std::chrono::milliseconds limit)
{
    g_waitLimitMs.store(limit.count());
}

bool iTunesInfo::iTunesIsRunning(ITunesWaitDelegate *delegate)
{
    const auto deadline = std::chrono::steady_clock::now() + waitLimit();
    for (;;) {
        // The host is taken again on every pass: its folders may appear.
        if (MediaLibraryHost *host = iTunesApp(); host && !host->musicVersion().isNull()) return true;
        if (delegate && delegate->cancelWaitingForITunes()) return false;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        QThread::sleep(1);
    }
}

namespace {

MediaLibraryHost &connectedHost()
{
    MediaLibraryHost *host = iTunesInfo::iTunesApp();
    if (!host) throw VtrException(QStringLiteral("can't connect to iTunes"), QString());
    return *host;
}

std::optional<MediaLibraryHost::Playlist> findOrCreate(const QString &name, bool createIfNeeded, bool folder)
{
    MediaLibraryHost &host = connectedHost();
    try {
        if (auto found = host.findPlaylist(name, folder)) return found;
        if (createIfNeeded) return host.createPlaylist(name, folder);
    } catch (const MediaLibraryHost::Failure &failure) {
        VtrDebugLog(QStringLiteral("Playlist \"%1\" could not be made: %2").arg(name, failure.message));
    }
    return std::nullopt;
}

}  // namespace

std::optional<MediaLibraryHost::Playlist> iTunesInfo::playlistWithName(const QString &name, bool createIfNeeded)
{
    return findOrCreate(name, createIfNeeded, false);
}

std::optional<MediaLibraryHost::Playlist> iTunesInfo::folderPlaylistWithName(const QString &name, bool createIfNeeded)
{
    return findOrCreate(name, createIfNeeded, true);
}

std::optional<MediaLibraryHost::Playlist> iTunesInfo::hostFolderPlaylistWithPersistentID(const QString &persistentID)
{
    MediaLibraryHost &host = connectedHost();
    try {
        if (auto found = host.playlistWithPersistentID(persistentID); found && found->folder) return found;
    } catch (const MediaLibraryHost::Failure &) {
    }
    return std::nullopt;
}
