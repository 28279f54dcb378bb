#include "sources/iphone/iPhoneMusic.h"

#include "devices/afc/AfcService.h"
#include "devices/usb/VolumeDetection.h"
#include "fileinfo/VtrMacFileInfo.h"
#include "fileinfo/VtrQTUtils.h"
#include "foundation/Log.h"
#include "platform/Strings.h"
#include "platform/VtrException.h"
#include "sources/itunes/VtrITunes.h"

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>

#include <algorithm>
#include <chrono>

extern "C" {
#include <libavformat/avformat.h>
}

namespace vtr::iphone {

namespace {

QString tag(const AVDictionary *tags, const char *key)
{
    const AVDictionaryEntry *entry = av_dict_get(tags, key, nullptr, 0);
    return entry && entry->value ? QString::fromUtf8(entry->value).trimmed() : QString();
}

// What a search argument of the library's look-up asks: an empty one
// matches anything, another only the same text.
bool matches(const QString &wanted, const QString &have)
{
    return wanted.isEmpty() || wanted == have;
}

bool isMusic(const VtrITunesItemPtr &track)
{
    return !track->isVideo() && !track->isPodcast() && !track->isProtected();
}

// Of the library tracks that answer the phone's song, the one added last
// (highest track ID) whose file is on this computer.
VtrITunesItemPtr libraryTrackFor(const PhoneTrack &song, const iTunesInfo::ItemList &sameName)
{
    iTunesInfo::ItemList candidates;
    for (const VtrITunesItemPtr &track : sameName)
        if (matches(song.artist, track->artist()) && matches(song.album, track->album())
            && matches(song.genre, track->genre()))
            candidates.append(track);
    std::sort(candidates.begin(), candidates.end(),
              [](const VtrITunesItemPtr &a, const VtrITunesItemPtr &b) { return a->itemID() > b->itemID(); });
    for (const VtrITunesItemPtr &track : candidates) {
        // Only a regular file of the library's own folders gives a path.
        if (!track->localPath().isEmpty()) return track;
    }
    return nullptr;
}

void readTags(const AVFormatContext *context, PhoneTrack &track)
{
    // Some containers keep the tags with the sound stream, not the file.
    const AVDictionary *tags = context->metadata;
    if (!av_dict_count(tags) && context->nb_streams > 0) tags = context->streams[0]->metadata;
    track.name = tag(tags, "title");
    track.artist = tag(tags, "artist");
    if (track.artist.isEmpty()) track.artist = tag(tags, "album_artist");
    track.album = tag(tags, "album");
    track.genre = tag(tags, "genre");
}

// ---- songs through the phone's file service --------------------------------------------------

const QString kMusicFolder = QStringLiteral("iTunes_Control/Music");
// The phone keeps its songs in folders F00 to F49 of the music folder.
constexpr int kMaxMusicDepth = 3;
constexpr int kMaxSongs = 200000;
// A guard against a phone that stops answering, far above what a tag read takes.
constexpr std::chrono::seconds kTagReadDeadline{60};
// The sound containers a phone's songs come in; nothing else is opened.
constexpr const char *kSongFormats = "mp3,mov,aac,aiff,wav,flac,ogg,caf";

// One song of the phone as libavformat reads it: only through these reads,
// never by a name it could open itself.
struct SongReader
{
    vtr::afc::AfcFile *file = nullptr;
    qint64 position = 0;
    bool failed = false;
    QString error;
    std::chrono::steady_clock::time_point deadline;
};

int readSong(void *opaque, uint8_t *buffer, int size)
{
    auto *reader = static_cast<SongReader *>(opaque);
    const qint64 count = reader->file->read(reinterpret_cast<char *>(buffer), size);
    if (count < 0) {
        reader->failed = true;
        reader->error = reader->file->errorText();
        return AVERROR(EIO);
    }
    if (count == 0) return AVERROR_EOF;
    reader->position += count;
    return int(count);
}

int64_t seekSong(void *opaque, int64_t offset, int whence)
{
    auto *reader = static_cast<SongReader *>(opaque);
    const qint64 size = reader->file->size();
    if (whence & AVSEEK_SIZE) return size;
    qint64 target = offset;
    switch (whence & ~AVSEEK_FORCE) {
    case SEEK_SET: break;
    case SEEK_CUR: target += reader->position; break;
    case SEEK_END: target += size; break;
    default: return AVERROR(EINVAL);
    }
    if (target < 0) return AVERROR(EINVAL);
    if (!reader->file->seek(target)) {
        reader->failed = true;
        reader->error = reader->file->errorText();
        return AVERROR(EIO);
    }
    reader->position = target;
    return target;
}

int songDeadlinePassed(void *opaque)
{
    return std::chrono::steady_clock::now() > static_cast<SongReader *>(opaque)->deadline ? 1 : 0;
}

[[noreturn]] void raiseUnreadableSong(const QString &path, const QString &why)
{
    throw VtrException(QStringLiteral("DeviceException"),
                       vtrLocalized("A song could not be read from the iPhone: %1 (%2)").arg(path, why));
}

PhoneTrack phoneTrackOverService(vtr::afc::AfcConnection &connection, const QString &path)
{
    PhoneTrack track;
    track.path = path;
    const std::unique_ptr<vtr::afc::AfcFile> file = connection.open(path);
    if (!file) raiseUnreadableSong(path, connection.lastErrorText());
    VtrQTUtils::initialize();
    SongReader reader;
    reader.file = file.get();
    reader.deadline = std::chrono::steady_clock::now() + kTagReadDeadline;
    constexpr int kBufferSize = 64 * 1024;
    auto *buffer = static_cast<unsigned char *>(av_malloc(kBufferSize));
    if (!buffer) return track;
    AVIOContext *io = avio_alloc_context(buffer, kBufferSize, 0, &reader, readSong, nullptr, seekSong);
    if (!io) {
        av_free(buffer);
        return track;
    }
    AVFormatContext *context = avformat_alloc_context();
    if (!context) {
        av_freep(&io->buffer);
        avio_context_free(&io);
        return track;
    }
    context->pb = io;
    context->flags |= AVFMT_FLAG_CUSTOM_IO;
    context->interrupt_callback = {songDeadlinePassed, &reader};
    AVDictionary *options = nullptr;
    av_dict_set(&options, "format_whitelist", kSongFormats, 0);
    av_dict_set(&options, "protocol_whitelist", "none", 0);
    if (avformat_open_input(&context, "", nullptr, &options) == 0) {
        readTags(context, track);
        avformat_close_input(&context);
    }
    av_dict_free(&options);
    av_freep(&io->buffer);
    avio_context_free(&io);
    if (reader.failed) raiseUnreadableSong(path, reader.error);
    return track;
}

// The sound files below the music folder, in path order.
void collectSongs(vtr::afc::AfcConnection &connection, const QString &folder, int depth, QStringList &paths)
{
    static const QStringList audio = VtrQTUtils::audioFileExtensions();
    const std::optional<QStringList> names = connection.list(folder);
    if (!names) {
        if (depth == 0 && connection.lastFailure() == vtr::afc::Failure::NotFound) return; // no songs synced
        raiseUnreadableSong(folder, connection.lastErrorText());
    }
    for (const QString &name : *names) {
        if (paths.size() >= kMaxSongs) return;
        if (name.contains(QLatin1Char('/'))) continue;
        const QString path = folder + QLatin1Char('/') + name;
        const std::optional<vtr::afc::EntryInfo> entry = connection.info(path);
        if (!entry) raiseUnreadableSong(path, connection.lastErrorText());
        // Links are neither: they are not followed.
        if (entry->isFolder && depth + 1 < kMaxMusicDepth)
            collectSongs(connection, path, depth + 1, paths);
        else if (entry->isFile && audio.contains(QFileInfo(name).suffix(), Qt::CaseInsensitive))
            paths.append(path);
    }
}

QString refusalReason(vtr::afc::Refusal refusal)
{
    switch (refusal) {
    case vtr::afc::Refusal::Locked:
        return vtrLocalized("The iPhone is locked, so its songs could not be read. Unlock it and tap \"Trust\" if it "
                            "asks whether to trust this computer, then plug it in again.");
    case vtr::afc::Refusal::TrustPending:
        return vtrLocalized("The iPhone has not trusted this computer, so its songs could not be read. Unlock it "
                            "and tap \"Trust\" when it asks whether to trust this computer, then plug it in again.");
    case vtr::afc::Refusal::TrustDenied:
        return vtrLocalized("The iPhone did not trust this computer, so its songs could not be read. Plug it in "
                            "again, unlock it and tap \"Trust\" when it asks whether to trust this computer.");
    default: return QString();
    }
}

std::optional<QList<PhoneTrack>> phoneTracksOverService(const QString &serial)
{
    vtr::afc::AfcOpening opening = vtr::afc::sharedAfcService()->open(serial);
    if (!opening.connection) {
        VTR_LOG(1, QStringLiteral("The iPhone's file service cannot be used: %1").arg(opening.detail));
        const QString reason = refusalReason(opening.refusal);
        if (!reason.isEmpty()) throw VtrException(QLatin1String(kPhoneNotTrustedException), reason);
        return std::nullopt;
    }
    QStringList paths;
    collectSongs(*opening.connection, kMusicFolder, 0, paths);
    QList<PhoneTrack> tracks;
    for (const QString &path : std::as_const(paths)) tracks.append(phoneTrackOverService(*opening.connection, path));
    return tracks;
}

} // namespace

PhoneTrack phoneTrackForFile(const QString &path)
{
    PhoneTrack track;
    track.path = path;
    VtrQTUtils::initialize();
    AVFormatContext *context = nullptr;
    if (avformat_open_input(&context, QFile::encodeName(path).constData(), nullptr, nullptr) != 0) return track;
    readTags(context, track);
    avformat_close_input(&context);
    return track;
}

std::optional<QList<PhoneTrack>> phoneTracksInMediaFolders(const VtrFileInfoList &storages)
{
    static const QStringList audio = VtrQTUtils::audioFileExtensions();
    std::optional<QList<PhoneTrack>> tracks;
    for (const VtrFileInfoPtr &storage : storages) {
        if (!storage || !storage->isFolder()) continue;
        const VtrFileInfoPtr control = storage->find(QStringLiteral("iTunes_Control"));
        const VtrFileInfoPtr music = control && control->isFolder() ? control->find(QStringLiteral("Music")) : nullptr;
        if (!music || !music->isFolder()) continue;
        if (!tracks) tracks.emplace();
        QStringList paths;
        QDirIterator it(music->path(), QDir::Files | QDir::NoSymLinks | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            if (audio.contains(QFileInfo(path).suffix(), Qt::CaseInsensitive)) paths.append(path);
        }
        paths.sort();
        for (const QString &path : paths) tracks->append(phoneTrackForFile(path));
    }
    return tracks;
}

std::optional<QList<PhoneTrack>> phoneTracks(const QString &serial, const VtrFileInfoList &storages)
{
    VtrFileInfoList folders = storages;
    if (!serial.isEmpty())
        for (const QString &folder : VolumeDetection::sharedManager()->appleMediaFolders(serial))
            folders.append(VtrMacFileInfo::fileInfoWithPath(folder));
    if (std::optional<QList<PhoneTrack>> mounted = phoneTracksInMediaFolders(folders)) return mounted;
    if (serial.isEmpty()) return std::nullopt;
    return phoneTracksOverService(serial);
}

PhoneMusicChoice libraryTracksOnPhone(iTunesInfo &model, const std::optional<QList<PhoneTrack>> &phoneTracks,
                                      const std::optional<QVariantMap> &syncState)
{
    PhoneMusicChoice choice;
    QSet<VtrITunesItem *> chosen;
    const auto take = [&](const VtrITunesItemPtr &track) {
        if (!isMusic(track) || chosen.contains(track.get())) return;
        chosen.insert(track.get());
        choice.tracks.append(track);
    };
    if (phoneTracks) {
        choice.known = true;
        QHash<QString, iTunesInfo::ItemList> byName;
        for (const VtrITunesItemPtr &track : model.tracks()) byName[track->name()].append(track);
        for (const PhoneTrack &song : *phoneTracks) {
            // A song without a name would answer to every track.
            const VtrITunesItemPtr track = song.name.isEmpty() ? nullptr : libraryTrackFor(song, byName.value(song.name));
            if (track)
                take(track);
            else
                choice.notInLibrary.append(song.name.isEmpty() ? QFileInfo(song.path).fileName() : song.name);
        }
    }
    const std::shared_ptr<VtrITunes> &library = model.iTunes();
    const QString libraryID = library ? library->libraryID() : QString();
    if (syncState && !libraryID.isEmpty()
        && syncState->value(QStringLiteral("iTunes Library ID")).toString() == libraryID) {
        choice.known = true;
        model.setFromSyncState(*syncState);
        for (const VtrITunesItemPtr &track : model.infoToSync(false, false).tracks) take(track);
    }
    std::sort(choice.tracks.begin(), choice.tracks.end(),
              [](const VtrITunesItemPtr &a, const VtrITunesItemPtr &b) { return a->itemID() < b->itemID(); });
    return choice;
}

} // namespace vtr::iphone
