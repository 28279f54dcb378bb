// Tracks, playlists, album art, track metadata, screen size and content
// revision of the MTP device.

#include "devices/mtp/MTPDevice.h"

#include "devices/mtp/MTPDevicePrivate.h"
#include "fileinfo/FileInfoCopy.h"
#include "foundation/Log.h"
#include "foundation/VtrString.h"
#include "platform/VtrException.h"

#include <QDateTime>

#include <cstdlib>
#include <cstring>
#include <limits>

using namespace mtpdevice;

namespace {

// Audio file types whose tracks are listed: WAV, MP3, WMA, OGG, Audible,
// undefined audio, AAC, FLAC, MP2, M4A.
bool isListedAudioType(LIBMTP_filetype_t type)
{
    switch (type) {
    case LIBMTP_FILETYPE_WAV:
    case LIBMTP_FILETYPE_MP3:
    case LIBMTP_FILETYPE_WMA:
    case LIBMTP_FILETYPE_OGG:
    case LIBMTP_FILETYPE_AUDIBLE:
    case LIBMTP_FILETYPE_UNDEF_AUDIO:
    case LIBMTP_FILETYPE_AAC:
    case LIBMTP_FILETYPE_FLAC:
    case LIBMTP_FILETYPE_MP2:
    case LIBMTP_FILETYPE_M4A:
        return true;
    default:
        return false;
    }
}

char *copyText(const QVariant &value)
{
    return strdup(value.toString().toUtf8().constData());
}

// "%Y%m%dT%H%M%S.0%z" in local time, as the phone takes a track's date.
QString trackDateText(const QDateTime &date)
{
    const QDateTime local = date.toLocalTime();
    const int offset = local.offsetFromUtc();
    const int minutes = std::abs(offset) / 60;
    return local.toString(QStringLiteral("yyyyMMdd'T'HHmmss'.0'")) +
           QStringLiteral("%1%2%3")
               .arg(offset < 0 ? QLatin1Char('-') : QLatin1Char('+'))
               .arg(minutes / 60, 2, 10, QLatin1Char('0'))
               .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

void putText(QVariantMap &map, const char *key, const char *text)
{
    if (text && *text) map.insert(QLatin1String(key), QString::fromUtf8(text));
}

template <typename Number> void putNumber(QVariantMap &map, const char *key, Number value)
{
    if (value != 0) map.insert(QLatin1String(key), QVariant::fromValue(value));
}

} // namespace

// ============================================================================
// Listings
// ============================================================================

std::optional<QVariantList> MTPDevice::deviceTracks()
{
    Lock lock(m_mutex);
    LIBMTP_mtpdevice_t *device = live();
    if (!device) return std::nullopt;
    MtpTrackList tracks(m_library->getTracklisting(device));
    if (!tracks) return std::nullopt;
    QVariantList list;
    for (const LIBMTP_track_t *track = tracks.get(); track; track = track->next) {
        if (!isListedAudioType(track->filetype)) continue;
        QVariantMap item;
        if (track->item_id != 0) {
            item.insert(QStringLiteral("track_id"), int(track->item_id));
            item.insert(QStringLiteral("track_path"),
                        m_map ? m_map->pathForId(MtpObjectId(track->item_id)) : QString());
            item.insert(QStringLiteral("size"), qint64(std::min<uint64_t>(track->filesize, INT64_MAX)));
            item.insert(QStringLiteral("mod"), MTPDeviceObjectMap::modText(qint64(track->modificationdate)));
        }
        list.append(item);
    }
    return list;
}

std::optional<QVariantList> MTPDevice::devicePlaylists()
{
    Lock lock(m_mutex);
    LIBMTP_mtpdevice_t *device = live();
    if (!device) return std::nullopt;
    m_library->takeErrors(device);
    MtpPlaylistList playlists(m_library->getPlaylistList(device));
    if (!playlists) {
        const QStringList errors = m_library->takeErrors(device);
        if (errors.isEmpty()) return std::nullopt;
        // The library's own words: the caller says what could not be read.
        throw VtrException(QStringLiteral("DeviceException"), errors.join(QStringLiteral("; ")));
    }
    QVariantList list;
    for (const LIBMTP_playlist_t *playlist = playlists.get(); playlist; playlist = playlist->next) {
        if (!playlist->name || !*playlist->name) continue;
        QVariantMap item;
        item.insert(QStringLiteral("playlist_name"), vtr::windowsValidFilename(QString::fromUtf8(playlist->name)));
        if (playlist->playlist_id != 0) {
            item.insert(QStringLiteral("playlist_id"), int(playlist->playlist_id));
            item.insert(QStringLiteral("playlist_path"),
                        m_map ? m_map->pathForId(MtpObjectId(playlist->playlist_id)) : QString());
        }
        if (playlist->tracks && playlist->no_tracks > 0) {
            QVariantList tracks;
            for (uint32_t i = 0; i < playlist->no_tracks; ++i) {
                QVariantMap track;
                track.insert(QStringLiteral("track_id"), uint(playlist->tracks[i]));
                track.insert(QStringLiteral("track_path"),
                             m_map ? m_map->pathForId(MtpObjectId(playlist->tracks[i])) : QString());
                tracks.append(track);
            }
            item.insert(QStringLiteral("playlist_tracks"), tracks);
        }
        list.append(item);
    }
    return list;
}

QStringList MTPDevice::devicePlaylistForPlaylistPath(const QString &path)
{
    Lock lock(m_mutex);
    LIBMTP_mtpdevice_t *device = live();
    if (!device || !m_map || path.isNull()) return {};
    const Entry *entry = m_map->entryForPath(path);
    if (!entry || !entry->isFile()) return {};
    LIBMTP_playlist_t *playlist = m_library->getPlaylist(device, entry->objectId);
    if (!playlist) return {};
    QStringList paths;
    for (uint32_t i = 0; playlist->tracks && i < playlist->no_tracks; ++i)
        paths.append(m_map->pathForId(MtpObjectId(playlist->tracks[i])));
    LIBMTP_destroy_playlist_t(playlist);
    return paths;
}

// ============================================================================
// Writing a playlist
// ============================================================================

bool MTPDevice::setDevicePlaylistForPlaylistPath(const QString &path, const QStringList &trackPaths)
{
    Lock lock(m_mutex);
    if (!live() || !m_map) return false;
    Entry *old = m_map->entryForPath(path);
    Entry *parent = m_map->entryForPath(vtr::windowsStringByDeletingLastPathComponent(path));
    const QString name = vtr::windowsStringByDeletingPathExtension(vtr::windowsLastPathComponent(path));
    if (!parent || !parent->holdsChildren() || (old && !old->isFile()) || name.isEmpty()) {
        rebuildMap();
        return false;
    }
    const MtpObjectId oldId = old ? old->objectId : MtpObjectId();
    const QString oldName = old ? old->filename : QString();

    // The old playlist steps aside (so that the new one may take its name)
    // and goes only once the new one exists. Never under the temporary copy
    // file's name: a listing may remove that, and this is the person's.
    const QString aside = asideName(oldName);
    const bool isAside = !oldId.isNull() && !vtr::isTemporaryCopyFileName(oldName) && renameObject(*old, aside);

    std::vector<uint32_t> tracks; // the record's numbers
    for (const QString &trackPath : trackPaths) {
        const Entry *track = m_map->entryForPath(trackPath);
        if (track && track->isFile()) tracks.push_back(track->objectId.raw());
    }
    bool created = false;
    LIBMTP_mtpdevice_t *device = live();
    LIBMTP_playlist_t *playlist = LIBMTP_new_playlist_t();
    if (playlist && device && parent) {
        playlist->parent_id = parentForNewObject(parent).raw();
        playlist->storage_id = parent->storageId.raw();
        playlist->name = strdup(name.toUtf8().constData());
        if (!tracks.empty()) {
            playlist->tracks = static_cast<uint32_t *>(malloc(tracks.size() * sizeof(uint32_t)));
            if (playlist->tracks) {
                std::copy(tracks.begin(), tracks.end(), playlist->tracks);
                playlist->no_tracks = uint32_t(tracks.size());
            }
        }
        created = m_library->createNewPlaylist(device, playlist) == 0;
        if (created) {
            if (LIBMTP_mtpdevice_t *again = live()) {
                MtpFileList file(m_library->getFilemetadata(again, MtpObjectId(playlist->playlist_id)));
                if (file) {
                    Entry *folder =
                        isTopLevelParent(mtpParentId(*file)) ? m_map->root() : m_map->entryForId(mtpParentId(*file));
                    if (folder) m_map->addObject(folder, *file, qint64(file->modificationdate));
                }
            }
        }
    }
    if (playlist) LIBMTP_destroy_playlist_t(playlist);

    if (!oldId.isNull()) {
        if (created) {
            if (!deleteObjectWithId(oldId))
                VTR_LOG(1, QStringLiteral("The old playlist \"%1\" could not be removed").arg(path));
        } else if (isAside) {
            Entry *current = m_map->entryForId(oldId);
            if (!current || !renameObject(*current, oldName))
                VTR_LOG(2, QStringLiteral("The old playlist \"%1\" keeps the name \"%2\"").arg(path, aside));
        }
    }
    rebuildMap();
    return created;
}

// ============================================================================
// Track and podcast metadata
// ============================================================================

bool MTPDevice::writeTrackMetadata(const QVariantMap &metadata, Entry *entry)
{
    LIBMTP_track_t *track = LIBMTP_new_track_t();
    if (!track) return false;
    track->item_id = entry->objectId.raw();
    track->parent_id = entry->parentId.raw();
    track->storage_id = entry->storageId.raw();
    track->filename = strdup(entry->filename.toUtf8().constData());
    auto has = [&](const char *key) { return metadata.contains(QLatin1String(key)); };
    auto number = [&](const char *key) { return metadata.value(QLatin1String(key)).toLongLong(); };
    if (has("artist")) track->artist = copyText(metadata.value(QStringLiteral("artist")));
    if (has("composer")) track->composer = copyText(metadata.value(QStringLiteral("composer")));
    if (has("genre")) track->genre = copyText(metadata.value(QStringLiteral("genre")));
    if (has("album")) track->album = copyText(metadata.value(QStringLiteral("album")));
    if (has("date")) {
        const QDateTime date = metadata.value(QStringLiteral("date")).toDateTime();
        if (date.isValid()) track->date = strdup(trackDateText(date).left(63).toUtf8().constData());
    }
    if (has("tracknumber")) track->tracknumber = uint16_t(number("tracknumber"));
    if (has("nochannels")) track->nochannels = uint16_t(number("nochannels"));
    if (has("bitratetype")) track->bitratetype = uint16_t(number("bitratetype"));
    if (has("rating")) track->rating = uint16_t(number("rating"));
    if (has("duration")) track->duration = uint32_t(number("duration"));
    if (has("samplerate")) track->samplerate = uint32_t(number("samplerate"));
    if (has("wavecodec")) track->wavecodec = uint32_t(number("wavecodec"));
    if (has("bitrate")) track->bitrate = uint32_t(number("bitrate"));
    if (has("usecount")) track->usecount = uint32_t(number("usecount"));
    if (has("filesize")) track->filesize = uint64_t(number("filesize"));
    if (has("modificationDate")) track->modificationdate = time_t(number("modificationDate"));
    if (has("filetype")) track->filetype = LIBMTP_filetype_t(metadata.value(QStringLiteral("filetype")).toUInt());
    LIBMTP_mtpdevice_t *device = live();
    const bool written = device && m_library->updateTrackMetadata(device, track) == 0;
    LIBMTP_destroy_track_t(track);
    return written;
}

bool MTPDevice::setDeviceMetadataForFile(const VtrFileInfoPtr &file, const QString &devicePath)
{
    Lock lock(m_mutex);
    if (!live()) return false;
    const std::optional<QVariantMap> metadata = mtpMetadataFromFile(file);
    Entry *entry = m_map ? m_map->entryForPath(devicePath) : nullptr;
    // Nothing to write is no failure.
    if (!metadata || !entry || entry->isRoot()) return true;
    const bool written = writeTrackMetadata(*metadata, entry);
    rebuildMap();
    return written;
}

bool MTPDevice::setDeviceMetadataForPodcast(const VtrFileInfoPtr &file, LIBMTP_file_t *deviceFile,
                                            uint32_t seriesHandle)
{
    Lock lock(m_mutex);
    if (!live()) return false;
    const std::optional<QVariantMap> metadata = mtpMetadataFromFile(file);
    if (!metadata || !deviceFile) return true;
    MtpPodcastRecord podcast(MtpLibrary::newPodcast());
    if (!podcast) return false;
    auto has = [&](const char *key) { return metadata->contains(QLatin1String(key)); };
    auto value = [&](const char *key) { return metadata->value(QLatin1String(key)); };
    podcast->objectId = deviceFile->item_id;
    podcast->parentId = deviceFile->parent_id;
    podcast->storageId = deviceFile->storage_id;
    podcast->size = uint32_t(std::min<uint64_t>(deviceFile->filesize, std::numeric_limits<uint32_t>::max()));
    if (deviceFile->filename) {
        podcast->filename = strdup(deviceFile->filename);
        podcast->sourceFilename = strdup(deviceFile->filename);
    }
    if (has("urlsource")) podcast->urlSource = copyText(value("urlsource"));
    if (has("album")) podcast->album = copyText(value("album"));
    if (has("artist")) podcast->artist = copyText(value("artist"));
    if (has("date")) {
        const QDateTime date = value("date").toDateTime();
        if (date.isValid()) podcast->date = strdup(trackDateText(date).left(63).toUtf8().constData());
    }
    if (has("podcastDescription")) {
        const QString description = value("podcastDescription").toString();
        const QByteArray bytes = vtr::dataUnicodeNoBOMBE(description);
        if (!bytes.isEmpty()) {
            podcast->description = static_cast<unsigned char *>(malloc(size_t(bytes.size())));
            if (podcast->description) {
                std::memcpy(podcast->description, bytes.constData(), size_t(bytes.size()));
                podcast->descriptionLength = uint32_t(bytes.size() / 2);
            }
        }
    }
    if (has("duration")) podcast->duration = uint32_t(value("duration").toLongLong());
    if (has("timebookmark")) podcast->timeBookmark = uint32_t(value("timebookmark").toLongLong());
    podcast->flags = 64;
    podcast->seriesHandle = seriesHandle;
    podcast->filetype = has("filetype") ? LIBMTP_filetype_t(value("filetype").toUInt()) : deviceFile->filetype;

    LIBMTP_mtpdevice_t *device = live();
    const bool written = device && m_library->updatePodcastMetadata(device, podcast.get()) == 0;
    if (written) deviceFile->item_id = podcast->objectId;
    rebuildMap();
    return written;
}

QVariantMap MTPDevice::deviceMetadataForFile(const QString &path)
{
    Lock lock(m_mutex);
    LIBMTP_mtpdevice_t *device = live();
    if (!device || !m_map) return {};
    const Entry *entry = m_map->entryForPath(path);
    if (!entry || !entry->isFile()) return {};
    LIBMTP_track_t *track = m_library->getTrackmetadata(device, entry->objectId);
    if (!track) return {};
    QVariantMap metadata;
    putText(metadata, "title", track->title);
    putText(metadata, "artist", track->artist);
    putText(metadata, "composer", track->composer);
    putText(metadata, "genre", track->genre);
    putText(metadata, "album", track->album);
    putText(metadata, "date", track->date);
    putText(metadata, "filename", track->filename);
    putNumber(metadata, "tracknumber", uint(track->tracknumber));
    putNumber(metadata, "duration", uint(track->duration));
    putNumber(metadata, "samplerate", uint(track->samplerate));
    putNumber(metadata, "nochannels", uint(track->nochannels));
    putNumber(metadata, "wavecodec", uint(track->wavecodec));
    putNumber(metadata, "bitrate", uint(track->bitrate));
    putNumber(metadata, "bitratetype", uint(track->bitratetype));
    putNumber(metadata, "rating", uint(track->rating));
    putNumber(metadata, "usecount", uint(track->usecount));
    putNumber(metadata, "filesize", qint64(std::min<uint64_t>(track->filesize, INT64_MAX)));
    putNumber(metadata, "modificationdate", qint64(track->modificationdate));
    putNumber(metadata, "filetype", int(track->filetype));
    LIBMTP_destroy_track_t(track);
    return metadata;
}

// ============================================================================
// Album art, screen size, content revision
// ============================================================================

QByteArray MTPDevice::albumArtworkFromDeviceFile(const QString &path)
{
    Lock lock(m_mutex);
    LIBMTP_mtpdevice_t *device = live();
    if (!device || !m_map) return QByteArray();
    const Entry *entry = m_map->entryForPath(path);
    if (!entry || !entry->isFile()) return QByteArray();
    QByteArray albumName;
    if (LIBMTP_track_t *track = m_library->getTrackmetadata(device, entry->objectId)) {
        if (track->album) albumName = QByteArray(track->album);
        LIBMTP_destroy_track_t(track);
    }
    if (albumName.isEmpty()) return QByteArray();
    device = live();
    if (!device) return QByteArray();
    MtpAlbumList albums(m_library->getAlbumList(device));
    MtpObjectId albumId;
    for (const LIBMTP_album_t *album = albums.get(); album; album = album->next) {
        if (album->name && albumName == album->name) {
            albumId = MtpObjectId(album->album_id);
            break;
        }
    }
    albums.reset();
    device = live();
    if (albumId.isNull() || !device) return QByteArray();
    uint8_t *buffer = nullptr;
    uint64_t size = 0;
    QByteArray artwork;
    if (m_library->getAlbumArtwork(device, albumId, &buffer, &size) == 0 && buffer && size > 0 &&
        size <= uint64_t(std::numeric_limits<qsizetype>::max()))
        artwork = QByteArray(reinterpret_cast<const char *>(buffer), qsizetype(size));
    free(buffer);
    return artwork;
}

void MTPDevice::deviceScreenHeight(int *height, int *width)
{
    if (height) *height = 0;
    if (width) *width = 0;
    Lock lock(m_mutex);
    LIBMTP_mtpdevice_t *device = live();
    if (!device) return;
    int phoneHeight = 0;
    int phoneWidth = 0;
    m_library->getScreenDimensions(device, &phoneHeight, &phoneWidth);
    if (phoneHeight != 0 && phoneWidth != 0) {
        if (height) *height = phoneHeight;
        if (width) *width = phoneWidth;
    }
}

void MTPDevice::getContentRevisionNumber(uint32_t *revision)
{
    Lock lock(m_mutex);
    LIBMTP_mtpdevice_t *device = live();
    if (!device || !revision) return;
    uint32_t value = 0;
    m_library->getContentRevision(device, &value);
    *revision = value;
}
