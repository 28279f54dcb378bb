#include "sources/itunes/VtrITunesItem.h"

#include "fileinfo/VtrFileInfo.h"
#include "fileinfo/VtrQTUtils.h"
#include "foundation/Log.h"
#include "foundation/VtrImage.h"
#include "platform/Strings.h"
#include "sources/host/LibraryIcons.h"
#include "sources/host/LibraryLocation.h"
#include "sources/host/TrackArtwork.h"
#include "sources/itunes/iTunesFileInfo.h"

#include <QFileInfo>
#include <QTimeZone>

#include <algorithm>

namespace {

int compareTexts(const QString &a, const QString &b)
{
    return QString::localeAwareCompare(a.toCaseFolded(), b.toCaseFolded());
}

template <typename T>
int compareValues(const T &a, const T &b)
{
    return a < b ? -1 : (b < a ? 1 : 0);
}

}  // namespace

const QString &VtrITunesItem::key(const char *name)
{
    thread_local QHash<const char *, QString> keys;
    auto it = keys.find(name);
    if (it == keys.end()) it = keys.insert(name, QString::fromLatin1(name));
    return it.value();
}

VtrITunesItem::VtrITunesItem(const QVariantMap &info, bool isTrack) : m_info(info), m_isTrack(isTrack)
{
    m_isLibrary = m_info.value(QStringLiteral("Master")).toBool();
}

VtrITunesItemPtr VtrITunesItem::copy() const
{
    auto item = make(m_info, m_isTrack);
    item->m_isProtected = m_isProtected;
    item->m_isLibrary = m_isLibrary;
    item->m_isAlbum = m_isAlbum;
    item->m_sortName = m_sortName;
    item->m_displayName = m_displayName;
    item->m_artist = m_artist;
    item->m_album = m_album;
    item->m_genre = m_genre;
    item->m_sortNameCached = m_sortNameCached;
    item->m_displayNameCached = m_displayNameCached;
    item->m_artistCached = m_artistCached;
    item->m_albumCached = m_albumCached;
    item->m_genreCached = m_genreCached;
    item->m_selectedForSync = m_selectedForSync;
    item->m_playlists = m_playlists;
    item->m_artists = m_artists;
    item->m_albums = m_albums;
    item->m_genres = m_genres;
    item->m_parent = m_parent;
    item->m_tracks = m_tracks;
    item->m_children = m_children;
    item->m_location = m_location;
    return item;
}

QVariantMap VtrITunesItem::encode() const
{
    QVariantList tracks, children;
    for (const auto &state : m_tracks)
        tracks.append(state->encode());
    for (const auto &child : m_children)
        children.append(child->encode());
    return {{QStringLiteral("_iTunesInfo"), m_info},
            {QStringLiteral("isTrack"), m_isTrack},
            {QStringLiteral("selectedForSync"), m_selectedForSync},
            {QStringLiteral("tracks"), tracks},
            {QStringLiteral("children"), children}};
}

VtrITunesItemPtr VtrITunesItem::decode(const QVariantMap &coded)
{
    auto item = make(coded.value(QStringLiteral("_iTunesInfo")).toMap(), coded.value(QStringLiteral("isTrack")).toBool());
    item->m_selectedForSync = coded.value(QStringLiteral("selectedForSync")).toInt();
    for (const QVariant &t : coded.value(QStringLiteral("tracks")).toList()) {
        const QVariantMap state = t.toMap();
        auto s = std::make_shared<iTunesTrackState>(decode(state.value(QStringLiteral("_track")).toMap()));
        s->setSelectedForSyncNoBroadcast(state.value(QStringLiteral("_selectedForSync")).toInt());
        s->setParent(item.get());
        item->m_tracks.append(s);
    }
    for (const QVariant &c : coded.value(QStringLiteral("children")).toList())
        item->m_children.append(decode(c.toMap()));
    return item;
}

// ---------------------------------------------------------------------------

QString VtrITunesItem::itemPersistentID() const
{
    return text(m_isTrack ? "Persistent ID" : "Playlist Persistent ID");
}

void VtrITunesItem::setItemPersistentID(const QString &id)
{
    setField(id, m_isTrack ? "Persistent ID" : "Playlist Persistent ID", true);
}

qint64 VtrITunesItem::itemID() const
{
    return integer(m_isTrack ? "Track ID" : "Playlist ID");
}

QString VtrITunesItem::name() const
{
    return text("Name");
}

void VtrITunesItem::setName(const QString &name)
{
    m_info.insert(QStringLiteral("Name"), name);
    m_displayNameCached = false;
}

QString VtrITunesItem::sortName() const
{
    if (!m_sortNameCached) {
        m_sortName = m_info.contains(QStringLiteral("Sort Name")) ? sortNameOnly() : name();
        m_sortNameCached = true;
    }
    return m_sortName;
}

QString VtrITunesItem::sortTrackArtist() const
{
    return m_info.contains(QStringLiteral("Sort Artist")) ? sortTrackArtistOnly() : trackArtist();
}

QString VtrITunesItem::sortAlbumArtist() const
{
    return m_info.contains(QStringLiteral("Sort Album Artist")) ? sortAlbumArtistOnly() : albumArtist();
}

QString VtrITunesItem::sortAlbum() const
{
    return m_info.contains(QStringLiteral("Sort Album")) ? sortAlbumOnly() : album();
}

QString VtrITunesItem::sortArtist() const
{
    const QString track = sortTrackArtist();
    return track.isEmpty() ? sortAlbumArtist() : track;
}

QString VtrITunesItem::artist() const
{
    if (!m_artistCached) {
        m_artist = trackArtist();
        if (m_artist.isEmpty()) m_artist = albumArtist();
        m_artistCached = true;
    }
    return m_artist;
}

QString VtrITunesItem::album() const
{
    if (!m_albumCached) {
        // A missing album stays null: it makes no group, an empty one does.
        const QVariant v = m_info.value(QStringLiteral("Album"));
        m_album = v.isValid() ? v.toString() : QString();
        m_albumCached = true;
    }
    return m_album;
}

QString VtrITunesItem::genre() const
{
    if (!m_genreCached) {
        const QVariant v = m_info.value(QStringLiteral("Genre"));
        m_genre = v.isValid() ? v.toString() : QString();
        m_genreCached = true;
    }
    return m_genre;
}

int VtrITunesItem::numParents() const
{
    int n = 0;
    for (const VtrITunesItem *p = m_parent; p; p = p->m_parent)
        ++n;
    return n;
}

QString VtrITunesItem::nameForOutline() const
{
    return QString(numParents() * 3, QChar(0x00A0)) + name();
}

QString VtrITunesItem::displayName() const
{
    if (!m_displayNameCached) {
        if (!m_isTrack)
            m_displayName = QStringLiteral("%1 (%2)").arg(name()).arg(numTracks());
        else
            m_displayName = isProtected() ? vtrLocalized("%1 [PROTECTED]").arg(name()) : name();
        m_displayNameCached = true;
    }
    return m_displayName;
}

QString VtrITunesItem::displayNameWithNumChildren() const
{
    return m_isTrack ? displayName() : vtrLocalized("%1 (%2)").arg(name()).arg(numChildren());
}

QString VtrITunesItem::displayNameInPlaylist() const
{
    const QString n = name();
    if (!n.isEmpty()) return n;
    const QString loc = location();
    if (loc.isEmpty()) return QString(QLatin1String(""));
    QString last = loc.section(QLatin1Char('/'), -1);
    const qsizetype dot = last.lastIndexOf(QLatin1Char('.'));
    if (dot > 0) last.truncate(dot);
    return last;
}

void VtrITunesItem::setField(const QString &value, const char *key, bool onlyWhenDifferent)
{
    const QString &k = VtrITunesItem::key(key);
    if (onlyWhenDifferent && m_info.value(k).toString() == value && m_info.contains(k) == !value.isNull()) return;
    if (value.isNull())
        m_info.remove(k);
    else
        m_info.insert(k, value);
    if (k == QLatin1String("Genre")) m_genreCached = false;
    if (k == QLatin1String("Album")) m_albumCached = false;
    if (k == QLatin1String("Artist") || k == QLatin1String("Album Artist")) m_artistCached = false;
    if (k == QLatin1String("Name")) m_displayNameCached = false;
    if (k == QLatin1String("Sort Name")) m_sortNameCached = false;
}

void VtrITunesItem::setAlbumArtist(const QString &v) { setField(v, "Album Artist", true); }
void VtrITunesItem::setAlbum(const QString &v) { setField(v, "Album", true); }
void VtrITunesItem::setGenre(const QString &v) { setField(v, "Genre", true); }
void VtrITunesItem::setComposer(const QString &v) { setField(v, "Composer", true); }
void VtrITunesItem::setSortName(const QString &v) { setField(v, "Sort Name", true); }
void VtrITunesItem::setSortTrackArtist(const QString &v) { setField(v, "Sort Artist", false); }
void VtrITunesItem::setSortAlbumArtist(const QString &v) { setField(v, "Sort Album Artist", false); }
void VtrITunesItem::setSortAlbum(const QString &v) { setField(v, "Sort Album", false); }

QDateTime VtrITunesItem::datePlayed() const
{
    const QDateTime d = date("Play Date UTC");
    return d.isValid() ? d : QDateTime(QDate(1, 1, 1), QTime(0, 0), Qt::UTC);
}

QString VtrITunesItem::location() const
{
    return m_info.value(QStringLiteral("Location")).toString();
}

QString VtrITunesItem::localPath() const
{
    const QString loc = location();
    if (loc.isEmpty()) return QString();
    if (!m_location) return vtr::localPathForLibraryLocation(loc);
    // The file of a library's track is only ever one the library may name.
    if (!m_localPath)
        m_localPath = vtr::trackFileForLibraryLocation(loc, *m_location);
    return *m_localPath;
}

bool VtrITunesItem::isWritable() const
{
    return !m_info.contains(QStringLiteral("Distinguished Kind")) && isPlaylist() && !isSmartPlaylist();
}

bool VtrITunesItem::isProtected() const
{
    if (m_isProtected < 0) {
        if (!flag("Protected")) {
            m_isProtected = 0;
        } else {
            const QString loc = location();
            if (loc.isEmpty() || QFileInfo(loc).suffix().compare(QLatin1String("m4b"), Qt::CaseInsensitive) != 0)
                m_isProtected = 1;
            else
                m_isProtected = VtrQTUtils::isProtectedFile(VtrFileInfo(localPath())) ? 1 : 0;
        }
    }
    return m_isProtected == 1;
}

// ---------------------------------------------------------------------------

void VtrITunesItem::addChild(const VtrITunesItemPtr &child)
{
    m_children.append(child);
    child->m_parent = this;
}

void VtrITunesItem::addChildren(const QList<VtrITunesItemPtr> &children)
{
    for (const auto &c : children)
        if (c) addChild(c);
}

void VtrITunesItem::addTrack(const VtrITunesItemPtr &track)
{
    auto state = std::make_shared<iTunesTrackState>(track);
    state->setParent(this);
    m_tracks.append(state);
    m_displayNameCached = false;
}

void VtrITunesItem::addGroup(QList<VtrITunesItem *> &set, VtrITunesItem *group)
{
    if (group && !set.contains(group)) set.append(group);
}

QList<VtrITunesItemPtr> VtrITunesItem::tracksByNewestReleaseDate() const
{
    QList<VtrITunesItemPtr> list;
    for (const auto &s : m_tracks)
        list.append(s->track());
    std::stable_sort(list.begin(), list.end(),
                     [](const auto &a, const auto &b) { return a->compareReleaseDateNewestFirst(*b) < 0; });
    return list;
}

QList<VtrITunesItemPtr> VtrITunesItem::childrenByNewestReleaseDate() const
{
    QList<VtrITunesItemPtr> list = m_children;
    std::stable_sort(list.begin(), list.end(),
                     [](const auto &a, const auto &b) { return a->compareReleaseDateNewestFirst(*b) < 0; });
    return list;
}

QList<iTunesTrackStatePtr> VtrITunesItem::videoTracks() const
{
    QList<iTunesTrackStatePtr> list;
    for (const auto &s : m_tracks)
        if (s->track()->isVideo() && !s->track()->isPodcast()) list.append(s);
    return list;
}

// ---------------------------------------------------------------------------

int VtrITunesItem::compareNames(const VtrITunesItem &o) const { return compareTexts(sortName(), o.sortName()); }
int VtrITunesItem::comparePlayCounts(const VtrITunesItem &o) const { return compareValues(playCount(), o.playCount()); }
int VtrITunesItem::comparePlayedDatesNewestFirst(const VtrITunesItem &o) const
{
    return compareValues(o.datePlayed(), datePlayed());
}
int VtrITunesItem::compareReleaseDateNewestFirst(const VtrITunesItem &o) const
{
    return compareValues(o.dateReleased(), dateReleased());
}
int VtrITunesItem::compareReleaseDateOldestFirst(const VtrITunesItem &o) const
{
    return compareValues(dateReleased(), o.dateReleased());
}
int VtrITunesItem::compareDateAddedNewestFirst(const VtrITunesItem &o) const
{
    return compareValues(o.dateAdded(), dateAdded());
}
int VtrITunesItem::compareDateAddedOldestFirst(const VtrITunesItem &o) const
{
    return compareValues(dateAdded(), o.dateAdded());
}
int VtrITunesItem::compareAlbums(const VtrITunesItem &o) const
{
    const QString a = sortAlbum().isEmpty() ? album() : sortAlbum();
    const QString b = o.sortAlbum().isEmpty() ? o.album() : o.sortAlbum();
    return compareTexts(a, b);
}
int VtrITunesItem::compareArtists(const VtrITunesItem &o) const
{
    auto key = [](const VtrITunesItem &i) {
        for (const QString &s : {i.sortTrackArtist(), i.sortAlbumArtist(), i.artist()})
            if (!s.isEmpty()) return s;
        return QString();
    };
    return compareTexts(key(*this), key(o));
}
int VtrITunesItem::compareGenres(const VtrITunesItem &o) const { return compareTexts(genre(), o.genre()); }

// ---------------------------------------------------------------------------

std::shared_ptr<iTunesFileInfo> VtrITunesItem::fileInfo() const
{
    if (location().isEmpty()) return nullptr;
    auto file = std::make_shared<iTunesFileInfo>(localPath());
    file->set_iTunesMetadata(m_info);
    file->set_iTunesItem(std::const_pointer_cast<VtrITunesItem>(weak_from_this().lock()));
    return file;
}

QVariantMap VtrITunesItem::metadata() const
{
    // The media layer keeps no per-file metadata here (always empty).
    if (location().isEmpty()) return {};
    return VtrQTUtils::metadataForFile(VtrFileInfo(localPath()));
}

VtrAttributedString VtrITunesItem::metadataAsAttributedString() const
{
    VtrAttributedString text;
    text.string = LogDescription(metadata());
    return text;
}

QImage VtrITunesItem::image() const
{
    QString name;
    if (isFolder())
        name = QStringLiteral("iTunesFolder");
    else if (m_isLibrary)
        name = QStringLiteral("iTunesLibrary");
    else if (isSmartPlaylist())
        name = QStringLiteral("iTunesSmartPlaylist");
    else {
        switch (playlistKind()) {
        case 2:
        case 3: name = QStringLiteral("iTunesVideos"); break;
        case 10: name = QStringLiteral("iTunesPodcasts"); break;
        case 19:
        case 20: name = QStringLiteral("iTunesPurchased"); break;
        case 22: name = QStringLiteral("iTunesPartyShuffle"); break;
        default: name = QStringLiteral("iTunesPlaylist");
        }
    }
    return vtr::libraryIcon(name);
}

QImage VtrITunesItem::artworkAllowPlaceholder(bool allowPlaceholder) const
{
    const QString path = localPath();
    if (!path.isEmpty()) {
        for (const QByteArray &data : vtr::embeddedPictures(path)) {
            const QImage picture = QImage::fromData(data);
            if (!picture.isNull()) return picture;
        }
    }
    return allowPlaceholder ? vtr::libraryIcon(QStringLiteral("unknown-album-art")) : QImage();
}

QByteArray VtrITunesItem::artworkDataWithMaxDimension(int maxDimension, bool allowPlaceholder) const
{
    const QImage picture = artworkAllowPlaceholder(allowPlaceholder);
    if (picture.isNull()) return QByteArray();
    if (maxDimension <= 0) return vtr::jpeg(picture, 0.75f);
    return vtr::jpeg(picture, 0.75f, maxDimension, false);
}
