#pragma once

#include "sources/host/MediaLibraryHost.h"
#include "sources/itunes/VtrITunesItem.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QVariantList>
#include <QVariantMap>

#include <chrono>
#include <memory>
#include <optional>

class VtrITunes;

// Asked between attempts while waiting for the music library to answer.
class ITunesWaitDelegate
{
public:
    virtual ~ITunesWaitDelegate() = default;
    virtual bool cancelWaitingForITunes() = 0;
};

// The model of the person's music library (tracks, playlists with folders,
// albums, artists, genres, videos, podcasts) as a tree of items with the
// sync selection, built from a loaded library file; and, in its class half,
// the door to the music side of the media-library host: whether it answers,
// and finding or making playlists.
//
// The model is used by one thread at a time.
class iTunesInfo : public ITunesSelectionObserver
{
public:
    using ItemList = QList<VtrITunesItemPtr>;
    using ItemMap = QHash<QString, VtrITunesItemPtr>;

    iTunesInfo() = default;
    ~iTunesInfo() override;
    iTunesInfo(const iTunesInfo &) = delete;
    iTunesInfo &operator=(const iTunesInfo &) = delete;

    // Rebuilds the model from `library` (kept) unless nothing changed,
    // keeping the selection through the sync state.
    void set_iTunes(std::shared_ptr<VtrITunes> library, bool separatePodcasts, bool includeVideoPodcasts);
    bool iTunesInfoChanged() const;
    const std::shared_ptr<VtrITunes> &iTunes() const { return m_iTunes; }

    // ---- read access
    VtrITunesItemPtr library() const { return m_library; }
    ItemList playlists() const { return m_topLevelPlaylists; }
    ItemList allPlaylists() const { return m_allPlaylists.values(); }
    ItemList writablePlaylists() const { return m_writablePlaylists; }
    VtrITunesItemPtr playlistWithID(const QString &persistentID) const { return m_allPlaylists.value(persistentID); }
    ItemList tracks() const { return m_allTracks.values(); }
    ItemMap tracksKeyedByID() const { return m_allTracks; }
    ItemList tracksByMostRecentlyPlayed() const;
    ItemList albums() const;
    ItemList artists() const;
    ItemList genres() const;
    ItemList videos() const;
    ItemList playlistsWithVideos() const;
    ItemList podcasts() const;
    ItemList podcastTracks() const { return m_allPodcastTracks.values(); }
    ItemList playlistsWithPodcasts() const;
    VtrITunesItemPtr trackWithPersistentID(const QString &persistentID) const;
    VtrITunesItemPtr folderPlaylistWithPersistentID(const QString &persistentID) const;

    // ---- lookups
    ItemList tracksWithName(const QString &name, const QString &artist, const QString &album,
                            const QString &genre) const;
    VtrITunesItemPtr playlistWithName(const QString &name, bool createIfNeeded, ITunesWaitDelegate *delegate);
    VtrITunesItemPtr folderPlaylistWithName(const QString &name, bool createIfNeeded, ITunesWaitDelegate *delegate);

    // ---- selection (iTunesInfoSync.cpp)
    QSet<VtrITunesItem *> playlistsSelectedForSync() const { return m_selectedPlaylists; }
    static ItemList itemsMarkedForSyncingInArray(const ItemList &items);
    QHash<qint64, VtrITunesItemPtr> libraryTracksToSync(bool all) const;
    QStringList trackIDsToSync() const;
    void setSelectedTrackIDs(const QStringList &persistentIDs);
    static QStringList unselectedTrackIDsInList(const QList<iTunesTrackStatePtr> &states,
                                                QHash<qint64, VtrITunesItemPtr> *selectedTracks);
    static QVariantList syncInfoForGroups(const ItemList &groups, QHash<qint64, VtrITunesItemPtr> *tracks,
                                          bool syncAll);
    QVariantList playlistsInfoToSyncAddToTracks(QHash<qint64, VtrITunesItemPtr> *tracks, bool syncAll) const;
    QVariantList artistsToSyncAddToTracks(QHash<qint64, VtrITunesItemPtr> *tracks) const;
    QVariantList albumsToSyncAddToTracks(QHash<qint64, VtrITunesItemPtr> *tracks) const;
    QVariantList genresToSyncAddToTracks(QHash<qint64, VtrITunesItemPtr> *tracks) const;
    ItemList playlistsToSyncAddToTracks(QHash<qint64, VtrITunesItemPtr> *tracks, bool syncAll,
                                        bool refreshSmartPlaylists) const;
    // {"tracks": track ID -> item, "playlists": items}
    struct SyncInfo
    {
        QHash<qint64, VtrITunesItemPtr> tracks;
        ItemList playlists;
    };
    SyncInfo infoToSync(bool all, bool refreshSmartPlaylists) const;
    static void setSelectedInfo(const QVariantList &entries, const ItemMap &groups);
    void setSelectedPlaylists(const QVariantList &entries);
    void setSelectedArtists(const QVariantList &entries) { setSelectedInfo(entries, m_allArtists); }
    void setSelectedAlbums(const QVariantList &entries) { setSelectedInfo(entries, m_allAlbums); }
    void setSelectedGenres(const QVariantList &entries) { setSelectedInfo(entries, m_allGenres); }
    QStringList albumNamesToSync() const;
    QStringList artistNamesToSync() const;
    QStringList genreNamesToSync() const;
    QStringList playlistIDsToSync() const;
    QVariantMap syncState() const;
    void setFromSyncState(const QVariantMap &state);
    void setFromLegacySyncState(const QStringList &playlistPersistentIDs);

    // ---- the music side of the media-library host
    // The host when it can work (its folders can be had), else nullptr.
    static MediaLibraryHost *iTunesApp(bool show = false);
    // Waits (one-second steps, at most waitLimit()) until the host answers
    // its version; false when the delegate cancels or the limit passes.
    static bool iTunesIsRunning(ITunesWaitDelegate *delegate);
    static std::chrono::milliseconds waitLimit();
    static void setWaitLimit(std::chrono::milliseconds limit);
    // Throw VtrException "can't connect to iTunes" when there is no host. A
    // playlist that could not be made is not returned.
    static std::optional<MediaLibraryHost::Playlist> playlistWithName(const QString &name, bool createIfNeeded);
    static std::optional<MediaLibraryHost::Playlist> folderPlaylistWithName(const QString &name, bool createIfNeeded);
    static std::optional<MediaLibraryHost::Playlist> hostFolderPlaylistWithPersistentID(const QString &persistentID);

private:
    void itemSelectionChanged(VtrITunesItem *item) override;
    void buildCache();
    void stopObserving();
    void addTrackToGroup(ItemMap &groups, const QString &key, const VtrITunesItemPtr &track, int kind);
    VtrITunesItemPtr createdPlaylist(const QString &name, const MediaLibraryHost::Playlist &made, bool folder);

    std::shared_ptr<VtrITunes> m_iTunes;
    VtrITunesItemPtr m_library;
    ItemMap m_allPlaylists;
    ItemList m_topLevelPlaylists;
    ItemList m_writablePlaylists;
    ItemMap m_allTracks;
    ItemMap m_allAlbums, m_allArtists, m_allGenres;
    QSet<VtrITunesItem *> m_selectedPlaylists;
    ItemMap m_allVideos;
    ItemMap m_allVideoPlaylists;
    ItemList m_topLevelVideoPlaylists;
    bool m_separatePodcasts = false;
    bool m_includeVideoPodcasts = false;
    bool m_built = false;
    ItemMap m_allPodcastTracks;
    ItemMap m_allPodcasts;
    ItemMap m_allPodcastPlaylists;
    ItemList m_topLevelPodcastPlaylists;
    // Items made for playlists that hold no ordinary track: kept alive (their
    // video and podcast twins may be listed) but not registered.
    ItemList m_unregistered;
};
