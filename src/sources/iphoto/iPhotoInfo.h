#pragma once

#include "fileinfo/VtrBaseFileInfo.h"
#include "sources/host/MediaLibraryHost.h"
#include "sources/iphoto/VtrIPhotoItem.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QSet>
#include <QStringList>
#include <QVariantMap>

#include <functional>
#include <optional>

// The model of the whole photo library for a choice of what to transfer: the
// library album, events, albums sorted into grouping folders, faces and all
// still images, as a tree of items built from the album file; kept current
// when the file changes. Its class half finds or makes albums through the
// photo side of the media-library host.
class iPhotoInfo : public IPhotoSelectionObserver
{
public:
    using ItemList = QList<VtrIPhotoItemPtr>;

    // Builds the model at once.
    iPhotoInfo();
    ~iPhotoInfo() override;
    iPhotoInfo(const iPhotoInfo &) = delete;
    iPhotoInfo &operator=(const iPhotoInfo &) = delete;

    // Rebuilds when the album file appeared, went or changed; true when it did.
    bool checkForChanges();
    // Called after any observed item's selection changed ("selectedAlbums").
    void setSelectionChangedHandler(std::function<void()> handler) { m_onSelectionChanged = std::move(handler); }

    VtrIPhotoItemPtr library() const { return m_library; }
    VtrFileInfoPtr libraryFileInfo() const { return m_libraryFileInfo; }
    ItemList writableAlbums() const { return m_writableAlbums; }
    ItemList albums() const { return m_allAlbums; }
    ItemList events() const { return m_allEvents; }
    ItemList faces() const { return m_allFaces.value_or(ItemList()); }
    ItemList photos() const { return m_allImages.values(); }
    ItemList mostRecentlyModifiedPhotos() const;
    ItemList sources() const;
    VtrIPhotoItemPtr writableAlbumWithID(const QString &id) const;

    // Transfer lists: the selected (or, with syncAll, every) non-folder
    // node, folders walked recursively, in tree order.
    QList<VtrIPhotoItemPtr> selectedAlbums() const { return albumsToSyncInList(sources(), false); }
    QList<VtrIPhotoItemPtr> albumsToSyncInList(const ItemList &list, bool syncAll) const;
    QList<VtrIPhotoItemPtr> infoToSync(bool syncAll) const;

    // Selection state: item key -> {"albumName": name}. Albums, events and
    // faces number themselves apart, so an album is keyed by its number,
    // an event by "roll:<number>" and a face by "face:<key>". A bare number
    // of a state saved before names the event only when no album has it.
    QVariantMap syncState() const;
    QVariantMap syncStateInList(const ItemList &list, const QVariantMap &addToDictionary) const;
    void setFromSyncState(const QVariantMap &state) { setFromSyncState(state, sources()); }
    void setFromSyncState(const QVariantMap &state, const ItemList &list);
    static QString selectionKey(const VtrIPhotoItem &item);
    void setFromLegacySyncState(const QList<qint64> &albumIDs) { setFromLegacySyncState(albumIDs, sources()); }
    void setFromLegacySyncState(const QList<qint64> &albumIDs, const ItemList &list);

    // The photo side of the host when it can work, else nullptr.
    static MediaLibraryHost *iPhotoApp(bool launch);
    // Throw VtrException "can't connect to iPhoto" without a host. An album
    // that could not be made is not returned.
    static std::optional<MediaLibraryHost::Album> albumWithName(const QString &name, bool createIfNeeded);
    static std::optional<MediaLibraryHost::Album> albumWithPersistentID(qint64 id, bool createIfNeeded,
                                                                        const QString &newAlbumName);

private:
    void photoItemSelectionChanged(VtrIPhotoItem *item) override;
    void buildCacheWithInfo(const QVariantMap &info);
    void observe(const VtrIPhotoItemPtr &item);
    void stopObserving(const ItemList &items);
    VtrIPhotoItemPtr findByID(const ItemList &items, const QString &id) const;
    void applySyncState(const QVariantMap &state, const ItemList &list, const QSet<QString> &albumIDs,
                        bool albumsOnly);

    VtrFileInfoPtr m_libraryFileInfo;
    VtrFileInfoPtr m_iPhotoXMLFile;
    QDateTime m_infoModDate;
    QHash<QString, VtrIPhotoItemPtr> m_allImages;
    VtrIPhotoItemPtr m_library;
    ItemList m_allAlbums;
    ItemList m_writableAlbums;
    ItemList m_allEvents;
    std::optional<ItemList> m_allFaces;
    std::function<void()> m_onSelectionChanged;
};
