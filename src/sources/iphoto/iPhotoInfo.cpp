#include "sources/iphoto/iPhotoInfo.h"

#include "fileinfo/VtrMacFileInfo.h"
#include "foundation/Log.h"
#include "platform/Strings.h"
#include "platform/VtrException.h"
#include "sources/host/PropertyListXml.h"
#include "sources/iphoto/VtrIPhoto.h"

#include <QFileInfo>

#include <algorithm>

iPhotoInfo::iPhotoInfo()
{
    checkForChanges();
}

iPhotoInfo::~iPhotoInfo()
{
    stopObserving(m_allAlbums);
    stopObserving(m_allEvents);
    if (m_allFaces) stopObserving(*m_allFaces);
}

bool iPhotoInfo::checkForChanges()
{
    const QString library = VtrIPhoto::currentIPhotoLibraryPath();
    const VtrFileInfoPtr file = VtrIPhotoAlbumData::defaultAlbumDataXMLFileInfo();
    m_libraryFileInfo = !library.isEmpty() ? VtrFileInfoPtr(VtrMacFileInfo::fileInfoWithPath(library))
                                           : (file ? file->parentFolder() : nullptr);
    const bool exists = file && file->exists();
    const QDateTime date = exists ? file->modificationDate() : QDateTime();
    const bool storedExists = m_iPhotoXMLFile && m_iPhotoXMLFile->exists();
    bool outOfDate = exists != storedExists;
    if (!outOfDate && exists) outOfDate = date != m_infoModDate;
    if (!outOfDate) return false;

    m_iPhotoXMLFile = file;
    m_infoModDate = date;
    QVariantMap info;
    if (exists) {
        vtr::PropertyListError error;
        info = vtr::XmlPropertyListReader::readDictionaryFile(QFileInfo(file->path()).canonicalFilePath(), &error)
                   .value_or(QVariantMap());
        if (info.isEmpty()) VtrDebugLog(QStringLiteral("Couldn't read \"%1\": %2").arg(file->path(), error.toString()));
    }
    buildCacheWithInfo(info);
    return true;
}

void iPhotoInfo::observe(const VtrIPhotoItemPtr &item)
{
    item->setSelectionObserver(this);
}

void iPhotoInfo::stopObserving(const ItemList &items)
{
    for (const auto &item : items) {
        item->setSelectionObserver(nullptr);
        stopObserving(item->children());
    }
}

void iPhotoInfo::photoItemSelectionChanged(VtrIPhotoItem *)
{
    if (m_onSelectionChanged) m_onSelectionChanged();
}

VtrIPhotoItemPtr iPhotoInfo::findByID(const ItemList &items, const QString &id) const
{
    for (const auto &item : items) {
        if (item->itemID() == id) return item;
        if (auto found = findByID(item->children(), id)) return found;
    }
    return nullptr;
}

void iPhotoInfo::buildCacheWithInfo(const QVariantMap &info)
{
    m_allImages.clear();
    m_library.reset();
    stopObserving(m_allAlbums);
    stopObserving(m_allEvents);
    if (m_allFaces) stopObserving(*m_allFaces);
    m_allAlbums.clear();
    m_writableAlbums.clear();
    m_allEvents.clear();
    m_allFaces.reset();

    QHash<QString, VtrIPhotoItemPtr> faces;
    if (VtrIPhoto::hasIPhoto8OrLater()) {
        auto folder = VtrIPhotoItem::folder(VtrIPhotoItem::FacesGroup, vtrLocalized("Faces"));
        observe(folder);
        const QVariantMap list = info.value(QStringLiteral("List of Faces")).toMap();
        for (const QVariant &f : list) {
            auto face = VtrIPhotoItem::withInfo(f.toMap());
            faces.insert(f.toMap().value(QStringLiteral("key")).toString(), face);
            folder->addChild(face);
            observe(face);
        }
        m_allFaces = ItemList{folder};
    }

    const QVariantMap images = info.value(QStringLiteral("Master Image List")).toMap();
    for (auto it = images.cbegin(); it != images.cend(); ++it) {
        auto photo = VtrIPhotoItem::withFaces(it.value().toMap(), faces);
        if (photo->isStillImage()) m_allImages.insert(it.key(), photo);
    }

    auto recent = VtrIPhotoItem::folder(VtrIPhotoItem::RecentGroup, vtrLocalized("Recent"));
    auto albums = VtrIPhotoItem::folder(VtrIPhotoItem::AlbumsGroup, vtrLocalized("Albums"));
    auto subscriptions = VtrIPhotoItem::folder(VtrIPhotoItem::SubscriptionsGroup, vtrLocalized("Subscriptions"));
    auto published = VtrIPhotoItem::folder(VtrIPhotoItem::PublishedGroup, vtrLocalized("Published"));
    auto keepsakes = VtrIPhotoItem::folder(VtrIPhotoItem::KeepsakesGroup, vtrLocalized("Keepsakes"));
    m_allAlbums = {recent, albums, subscriptions, published, keepsakes};
    for (const auto &folder : std::as_const(m_allAlbums))
        observe(folder);

    for (const QVariant &entry : info.value(QStringLiteral("List of Albums")).toList()) {
        const QVariantMap albumInfo = entry.toMap();
        auto album = VtrIPhotoItem::withImages(albumInfo, m_allImages);
        if (album->type() == VtrIPhotoItem::SelectedEventAlbum) continue;
        observe(album);
        if (album->isWritable()) m_writableAlbums.append(album);
        if (album->isLibrary()) {
            m_library = album;
            continue;
        }
        VtrIPhotoItemPtr parent;
        if (albumInfo.contains(QStringLiteral("Parent")))
            parent = findByID(m_allAlbums, albumInfo.value(QStringLiteral("Parent")).toString());
        if (!parent) {
            switch (album->type()) {
            case VtrIPhotoItem::SpecialMonth:
            case VtrIPhotoItem::Shelf:
            case VtrIPhotoItem::LastImport: parent = recent; break;
            case VtrIPhotoItem::Published: parent = published; break;
            case VtrIPhotoItem::Subscribed: parent = subscriptions; break;
            case VtrIPhotoItem::Book: parent = keepsakes; break;
            default: parent = albums;
            }
        }
        parent->addChild(album);
    }

    auto events = VtrIPhotoItem::folder(VtrIPhotoItem::EventsGroup, vtrLocalized("Events"));
    observe(events);
    for (const QVariant &entry : info.value(QStringLiteral("List of Rolls")).toList()) {
        auto event = VtrIPhotoItem::withImages(entry.toMap(), m_allImages);
        events->addChild(event);
        observe(event);
    }
    m_allEvents = {events};
}

iPhotoInfo::ItemList iPhotoInfo::mostRecentlyModifiedPhotos() const
{
    ItemList list = photos();
    std::stable_sort(list.begin(), list.end(),
                     [](const auto &a, const auto &b) { return a->compareModificationDates(*b) < 0; });
    return list;
}

iPhotoInfo::ItemList iPhotoInfo::sources() const
{
    ItemList list;
    if (m_library) list.append(m_library);
    list += m_allEvents;
    list += m_allAlbums;
    if (m_allFaces) list += *m_allFaces;
    return list;
}

VtrIPhotoItemPtr iPhotoInfo::writableAlbumWithID(const QString &id) const
{
    if (id.isEmpty()) return nullptr;
    for (const auto &album : m_writableAlbums)
        if (album->itemID() == id) return album;
    return nullptr;
}

QList<VtrIPhotoItemPtr> iPhotoInfo::albumsToSyncInList(const ItemList &list, bool syncAll) const
{
    QList<VtrIPhotoItemPtr> result;
    for (const auto &item : list) {
        if (item->isFolder())
            result += albumsToSyncInList(item->children(), syncAll);
        else if (syncAll || item->selectedForSync() == 1)
            result.append(item);
    }
    return result;
}

QList<VtrIPhotoItemPtr> iPhotoInfo::infoToSync(bool syncAll) const
{
    return albumsToSyncInList(sources(), syncAll);
}

QVariantMap iPhotoInfo::syncState() const
{
    return syncStateInList(sources(), {});
}

QString iPhotoInfo::selectionKey(const VtrIPhotoItem &item)
{
    const QString id = item.itemID();
    if (id.isEmpty()) return id;
    switch (item.type()) {
    case VtrIPhotoItem::Event: return QStringLiteral("roll:") + id;
    case VtrIPhotoItem::Face: return QStringLiteral("face:") + id;
    default: return id;
    }
}

QVariantMap iPhotoInfo::syncStateInList(const ItemList &list, const QVariantMap &addToDictionary) const
{
    QVariantMap state = addToDictionary;
    for (const auto &item : list) {
        if (item->isFolder()) {
            state = syncStateInList(item->children(), state);
        } else if (!item->itemID().isEmpty() && item->selectedForSync() == 1) {
            state.insert(selectionKey(*item), QVariantMap{{QStringLiteral("albumName"), item->name()}});
        }
    }
    return state;
}

namespace {

void collectAlbumIDs(const iPhotoInfo::ItemList &list, QSet<QString> &ids)
{
    for (const auto &item : list) {
        if (item->isFolder())
            collectAlbumIDs(item->children(), ids);
        else if (item->type() != VtrIPhotoItem::Event && item->type() != VtrIPhotoItem::Face)
            ids.insert(item->itemID());
    }
}

}  // namespace

void iPhotoInfo::setFromSyncState(const QVariantMap &state, const ItemList &list)
{
    QSet<QString> albumIDs;
    collectAlbumIDs(sources(), albumIDs);
    applySyncState(state, list, albumIDs, false);
}

void iPhotoInfo::applySyncState(const QVariantMap &state, const ItemList &list, const QSet<QString> &albumIDs,
                                bool albumsOnly)
{
    for (const auto &item : list) {
        if (item->isFolder()) {
            applySyncState(state, item->children(), albumIDs, albumsOnly);
            continue;
        }
        const QString key = selectionKey(*item);
        const bool album = key == item->itemID();
        bool on = state.contains(key) && (album || !albumsOnly);
        if (!album && !albumsOnly && !albumIDs.contains(item->itemID())) on = on || state.contains(item->itemID());
        item->setSelectedForSync(on ? 1 : 0);
    }
}

void iPhotoInfo::setFromLegacySyncState(const QList<qint64> &albumIDs, const ItemList &list)
{
    // A saved list of album numbers: it names albums only.
    QVariantMap state;
    for (qint64 id : albumIDs)
        state.insert(QString::number(id), true);
    applySyncState(state, list, {}, true);
}

// ---------------------------------------------------------------------------

MediaLibraryHost *iPhotoInfo::iPhotoApp(bool)
{
    MediaLibraryHost &host = MediaLibraryHost::shared();
    return host.isConfigured() ? &host : nullptr;
}

namespace {

MediaLibraryHost &connectedPhotoHost()
{
    MediaLibraryHost *host = iPhotoInfo::iPhotoApp(false);
    if (!host) throw VtrException(QStringLiteral("can't connect to iPhoto"), QString());
    return *host;
}

}  // namespace

std::optional<MediaLibraryHost::Album> iPhotoInfo::albumWithName(const QString &name, bool createIfNeeded)
{
    MediaLibraryHost &host = connectedPhotoHost();
    try {
        if (auto album = host.findAlbum(name)) return album;
        if (createIfNeeded) return host.createAlbum(name);
    } catch (const MediaLibraryHost::Failure &failure) {
        VtrDebugLog(QStringLiteral("Album \"%1\" could not be made: %2").arg(name, failure.message));
    }
    return std::nullopt;
}

std::optional<MediaLibraryHost::Album> iPhotoInfo::albumWithPersistentID(qint64 id, bool createIfNeeded,
                                                                         const QString &newAlbumName)
{
    MediaLibraryHost &host = connectedPhotoHost();
    try {
        for (const auto &album : host.albums())
            if (album.albumID == id) return album;
        if (createIfNeeded) return host.createAlbum(newAlbumName);
    } catch (const MediaLibraryHost::Failure &failure) {
        VtrDebugLog(QStringLiteral("Album \"%1\" could not be made: %2").arg(newAlbumName, failure.message));
    }
    return std::nullopt;
}
