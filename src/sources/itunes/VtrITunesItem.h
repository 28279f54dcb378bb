#pragma once

#include "foundation/VtrAttributedString.h"
#include "sources/host/LibraryLocation.h"

#include <QByteArray>
#include <QDateTime>
#include <QImage>
#include <QList>
#include <QString>
#include <QVariantMap>

#include <memory>
#include <optional>

class VtrITunesItem;
class iTunesFileInfo;
using VtrITunesItemPtr = std::shared_ptr<VtrITunesItem>;

// Where the item's file locations are looked for: the folders of the library
// file they were read from (sources/host/LibraryLocation.h).
using ITunesLocationContext = vtr::LibraryTrackFolders;

// Told when an item's own selection has been stored (the model keeps its set
// of selected playlists with it).
class ITunesSelectionObserver
{
public:
    virtual ~ITunesSelectionObserver() = default;
    virtual void itemSelectionChanged(VtrITunesItem *item) = 0;
};

// The selection of one track inside one playlist or group.
class iTunesTrackState
{
public:
    explicit iTunesTrackState(VtrITunesItemPtr track);

    const VtrITunesItemPtr &track() const { return m_track; }
    void setTrack(VtrITunesItemPtr track);
    VtrITunesItem *parent() const { return m_parent; }
    void setParent(VtrITunesItem *parent) { m_parent = parent; }

    int selectedForSync() const { return m_selectedForSync; }
    // A non-zero value is refused for a protected track.
    void setSelectedForSync(int value);
    void setSelectedForSyncNoBroadcast(int value);
    bool canSync() const;
    bool parentSelectedForSyncing() const;
    bool parentIsLibrary() const;
    QString description() const;

    QVariantMap encode() const;

private:
    VtrITunesItemPtr m_track;
    int m_selectedForSync = 0;
    VtrITunesItem *m_parent = nullptr;
};
using iTunesTrackStatePtr = std::shared_ptr<iTunesTrackState>;

// One node of the music library tree: a track, a playlist (regular, smart,
// folder, the library itself) or a group the model makes (album, artist,
// genre, podcast group). Tracks and playlists answer from their own copy of
// their dictionary in the library file.
//
// Items are shared (std::shared_ptr): the model's dictionaries and the track
// states of every playlist hold them. Links back up the tree (parent, the
// playlists and groups of a track) are plain pointers; the model owns every
// item they can reach and outlives them.
class VtrITunesItem : public std::enable_shared_from_this<VtrITunesItem>
{
public:
    // initWithInfo:isTrack:
    VtrITunesItem(const QVariantMap &info, bool isTrack);
    static VtrITunesItemPtr make(const QVariantMap &info, bool isTrack)
    {
        return std::make_shared<VtrITunesItem>(info, isTrack);
    }
    // copyWithZone: the guard, podcast-group and automatic marks start cleared.
    VtrITunesItemPtr copy() const;
    // Coded form: "_iTunesInfo", "isTrack", "selectedForSync", "tracks",
    // "children" (parents and group sets are not kept).
    QVariantMap encode() const;
    static VtrITunesItemPtr decode(const QVariantMap &coded);

    void setLocationContext(std::shared_ptr<const ITunesLocationContext> context)
    {
        m_location = std::move(context);
        m_localPath.reset();
    }
    void setSelectionObserver(ITunesSelectionObserver *observer) { m_observer = observer; }

    // ---- identity and names
    QString itemPersistentID() const;
    void setItemPersistentID(const QString &id);
    qint64 itemID() const;
    QString name() const;
    QString description() const { return name(); }
    void setName(const QString &name);
    QString sortName() const;
    QString sortNameOnly() const { return text("Sort Name"); }
    QString sortTrackArtistOnly() const { return text("Sort Artist"); }
    QString sortAlbumArtistOnly() const { return text("Sort Album Artist"); }
    QString sortAlbumOnly() const { return text("Sort Album"); }
    QString sortTrackArtist() const;
    QString sortAlbumArtist() const;
    QString sortAlbum() const;
    QString sortArtist() const;
    QString trackArtist() const { return text("Artist"); }
    QString albumArtist() const { return text("Album Artist"); }
    QString composer() const { return text("Composer"); }
    QString trackKind() const { return text("Kind"); }
    QString artist() const;
    QString album() const;
    QString genre() const;
    QString nameForOutline() const;
    int numParents() const;
    QString displayName() const;
    QString displayNameWithNumChildren() const;
    QString displayNameInPlaylist() const;

    void setAlbumArtist(const QString &v);
    void setAlbum(const QString &v);
    void setGenre(const QString &v);
    void setComposer(const QString &v);
    void setSortName(const QString &v);
    void setSortTrackArtist(const QString &v);
    void setSortAlbumArtist(const QString &v);
    void setSortAlbum(const QString &v);

    // ---- plain values
    qint64 trackNumber() const { return integer("Track Number"); }
    qint64 size() const { return integer("Size"); }
    qint64 duration() const { return integer("Total Time"); }
    qint64 sampleRate() const { return integer("Sample Rate"); }
    qint64 bitRate() const { return integer("Bit Rate"); }
    qint64 rating() const { return integer("Rating"); }
    qint64 playCount() const { return integer("Play Count"); }
    qint64 year() const { return integer("Year"); }
    qint64 numArtworks() const { return integer("Artwork Count"); }
    qint64 playlistKind() const { return integer("Distinguished Kind"); }
    QDateTime dateModified() const { return date("Date Modified"); }
    QDateTime dateAdded() const { return date("Date Added"); }
    QDateTime dateReleased() const { return date("Release Date"); }
    // The distant past when never played.
    QDateTime datePlayed() const;
    bool disabled() const { return flag("Disabled"); }
    bool visible() const { return flag("Visible"); }
    QString location() const;
    QString parentPersistentPlaylistID() const { return text("Parent Persistent ID"); }
    const QVariantMap &iTunesInfo() const { return m_info; }

    // ---- kinds
    bool isTrack() const { return m_isTrack; }
    bool isLibrary() const { return m_isLibrary; }
    bool isAlbum() const { return m_isAlbum; }
    void setIsAlbum(bool v) { m_isAlbum = v; }
    bool isPodcastGroup() const { return m_isPodcastGroup; }
    void setIsPodcastGroup(bool v) { m_isPodcastGroup = v; }
    bool isFolder() const { return flag("Folder"); }
    bool isPlaylist() const { return !m_isTrack && !isFolder(); }
    bool isSmartPlaylist() const { return m_info.contains(QStringLiteral("Smart Info")); }
    bool isWritable() const;
    bool isRemote() const { return text("Track Kind") == QLatin1String("Remote"); }
    bool isPodcast() const { return flag("Podcast"); }
    bool isVideo() const { return flag("Has Video"); }
    bool isMovie() const { return flag("Movie"); }
    bool isTVShow() const { return flag("TV Show"); }
    bool isMusicVideo() const { return flag("Music Video"); }
    bool isVideoPodcast() const { return isVideo() && isPodcast(); }
    bool isProtected() const;
    // The local file of "Location"; null when it names none here. With the
    // library's location context, only a file the library may name
    // (sources/host/LibraryLocation.h, trackFileForLibraryLocation).
    QString localPath() const;

    // ---- tree and contents
    VtrITunesItem *parent() const { return m_parent; }
    void setParent(VtrITunesItem *parent) { m_parent = parent; }
    const QList<VtrITunesItemPtr> &children() const { return m_children; }
    void addChild(const VtrITunesItemPtr &child);
    void addChildren(const QList<VtrITunesItemPtr> &children);
    int numChildren() const { return int(m_children.size()); }
    void addTrack(const VtrITunesItemPtr &track);
    const QList<iTunesTrackStatePtr> &tracks() const { return m_tracks; }
    int numTracks() const { return int(m_tracks.size()); }
    void addPlaylist(VtrITunesItem *p) { addGroup(m_playlists, p); }
    void addArtist(VtrITunesItem *p) { addGroup(m_artists, p); }
    void addAlbum(VtrITunesItem *p) { addGroup(m_albums, p); }
    void addGenre(VtrITunesItem *p) { addGroup(m_genres, p); }
    const QList<VtrITunesItem *> &playlists() const { return m_playlists; }
    const QList<VtrITunesItem *> &artists() const { return m_artists; }
    const QList<VtrITunesItem *> &albums() const { return m_albums; }
    const QList<VtrITunesItem *> &genres() const { return m_genres; }
    QList<VtrITunesItemPtr> tracksByNewestReleaseDate() const;
    QList<VtrITunesItemPtr> childrenByNewestReleaseDate() const;
    QList<iTunesTrackStatePtr> videoTracks() const;
    int numVideoTracks() const { return int(videoTracks().size()); }

    // ---- comparisons: negative, zero or positive
    int compareNames(const VtrITunesItem &o) const;
    int comparePlayCounts(const VtrITunesItem &o) const;
    int comparePlayedDatesNewestFirst(const VtrITunesItem &o) const;
    int compareReleaseDateNewestFirst(const VtrITunesItem &o) const;
    int compareReleaseDateOldestFirst(const VtrITunesItem &o) const;
    int compareDateAddedNewestFirst(const VtrITunesItem &o) const;
    int compareDateAddedOldestFirst(const VtrITunesItem &o) const;
    int compareAlbums(const VtrITunesItem &o) const;
    int compareArtists(const VtrITunesItem &o) const;
    int compareGenres(const VtrITunesItem &o) const;

    // ---- files, pictures, artwork
    std::shared_ptr<iTunesFileInfo> fileInfo() const;
    QVariantMap metadata() const;
    VtrAttributedString metadataAsAttributedString() const;
    // No artwork is cached on disk: both null.
    QString artworkCacheFolder() const { return QString(); }
    QString myArtworkCacheFolder() const { return QString(); }
    QImage image() const;
    // The pictures inside the track's file, first readable one wins; with
    // the placeholder allowed, "unknown-album-art" when there is none.
    QImage artworkAllowPlaceholder(bool allowPlaceholder) const;
    QImage artwork() const { return artworkAllowPlaceholder(true); }
    // JPEG at quality 0.75, scaled down (never up) to `maxDimension` (0 keeps
    // the size); null without a picture.
    QByteArray artworkDataWithMaxDimension(int maxDimension, bool allowPlaceholder) const;
    QByteArray artworkDataWithMaxDimension(int maxDimension) const { return artworkDataWithMaxDimension(maxDimension, true); }
    QByteArray artworkData() const { return artworkDataWithMaxDimension(0); }
    QString imageUID() const { return itemPersistentID(); }
    QString imageTitle() const { return name(); }
    QString imageSubtitle() const { return artist(); }

    // ---- selection (iTunesSelection.cpp)
    int selectedForSync() const { return m_selectedForSync; }
    void setSelectedForSyncNoBroadcast(int value);
    void setSelectedForSync(int value);
    void setPodcastGroupSelectedForSync(int value);
    void childChangedState();
    void trackChangedState(iTunesTrackState *) {}
    bool isInGroupMarkedForSyncing() const;
    QList<VtrITunesItem *> myGroupsMarkedForSyncing(bool onlyMarked) const;
    bool willSync() const;
    void setWillSync(int value);
    QString syncInfoText() const;
    bool autoSelected() const { return m_autoSelected; }
    void setAutoSelected(bool v) { m_autoSelected = v; }

private:
    // The dictionary's keys as strings made once per thread: a model of
    // thousands of tracks asks for them millions of times.
    static const QString &key(const char *name);
    QString text(const char *name) const { return m_info.value(key(name)).toString(); }
    qint64 integer(const char *name) const { return m_info.value(key(name)).toLongLong(); }
    bool flag(const char *name) const { return m_info.value(key(name)).toBool(); }
    QDateTime date(const char *name) const { return m_info.value(key(name)).toDateTime(); }
    void setField(const QString &value, const char *key, bool onlyWhenDifferent);
    static void addGroup(QList<VtrITunesItem *> &set, VtrITunesItem *group);
    void storeSelection(int value);

    QVariantMap m_info;
    bool m_isTrack = false;
    mutable int m_isProtected = -1;
    mutable std::optional<QString> m_localPath;
    bool m_isLibrary = false;
    bool m_isAlbum = false;
    mutable QString m_sortName, m_displayName, m_artist, m_album, m_genre;
    mutable bool m_sortNameCached = false, m_displayNameCached = false, m_artistCached = false,
                 m_albumCached = false, m_genreCached = false;
    int m_selectedForSync = 0;
    QList<VtrITunesItem *> m_playlists, m_artists, m_albums, m_genres;
    VtrITunesItem *m_parent = nullptr;
    QList<iTunesTrackStatePtr> m_tracks;
    QList<VtrITunesItemPtr> m_children;
    bool m_changingState = false;
    bool m_isPodcastGroup = false;
    bool m_autoSelected = false;
    std::shared_ptr<const ITunesLocationContext> m_location;
    ITunesSelectionObserver *m_observer = nullptr;
};
