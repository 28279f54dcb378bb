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

namespace vtr::iphone {

namespace {

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

PhoneTrack phoneTrackFromTags(const QString &path, const std::optional<vtr::MediaTags> &tags, const QString &why)
{
    PhoneTrack track;
    track.path = path;
    if (!tags) {
        track.unreadable = why;
        return track;
    }
    track.name = tags->title;
    track.artist = tags->artist.isEmpty() ? tags->albumArtist : tags->artist;
    track.album = tags->album;
    track.genre = tags->genre;
    return track;
}

// ---- songs through the phone's file service --------------------------------------------------

const QString kMusicFolder = QStringLiteral("iTunes_Control/Music");
// The phone keeps its songs in folders F00 to F49 of the music folder.
constexpr int kMaxMusicDepth = 3;
constexpr int kMaxSongs = 200000;

// A song of the phone read through its file service, as the tag reader
// reads bytes; what the phone answered when it failed.
class PhoneSongSource final : public vtr::MediaByteSource
{
public:
    explicit PhoneSongSource(vtr::afc::AfcFile &file) : m_file(file) {}
    qint64 read(char *buffer, qint64 maxBytes) override
    {
        const qint64 count = m_file.read(buffer, maxBytes);
        if (count < 0) m_error = m_file.errorText();
        return count;
    }
    bool seek(qint64 offset) override
    {
        if (m_file.seek(offset)) return true;
        m_error = m_file.errorText();
        return false;
    }
    qint64 size() const override { return m_file.size(); }
    QString error() const { return m_error; }

private:
    vtr::afc::AfcFile &m_file;
    QString m_error;
};

[[noreturn]] void raiseUnreadableSongs(const QString &path, const QString &why)
{
    throw VtrException(QStringLiteral("DeviceException"),
                       vtrLocalized("The songs on the iPhone could not be listed: %1 (%2)").arg(path, why));
}

// A song the phone fails to give counts as unreadable, with the phone's
// reason where it gave one.
PhoneTrack phoneTrackOverService(vtr::afc::AfcConnection &connection, const QString &path)
{
    const std::unique_ptr<vtr::afc::AfcFile> file = connection.open(path);
    if (!file) {
        PhoneTrack track;
        track.path = path;
        track.unreadable = connection.lastErrorText();
        return track;
    }
    PhoneSongSource source(*file);
    PhoneTrack track = phoneTrackForSource(source, path);
    if (!source.error().isEmpty()) track.unreadable = source.error();
    return track;
}

// The sound files below the music folder, in path order.
void collectSongs(vtr::afc::AfcConnection &connection, const QString &folder, int depth, QStringList &paths)
{
    static const QStringList audio = VtrQTUtils::audioFileExtensions();
    const std::optional<QStringList> names = connection.list(folder);
    if (!names) {
        if (depth == 0 && connection.lastFailure() == vtr::afc::Failure::NotFound) return; // no songs synced
        raiseUnreadableSongs(folder, connection.lastErrorText());
    }
    for (const QString &name : *names) {
        if (paths.size() >= kMaxSongs) return;
        if (name.contains(QLatin1Char('/'))) continue;
        const QString path = folder + QLatin1Char('/') + name;
        const std::optional<vtr::afc::EntryInfo> entry = connection.info(path);
        if (!entry) raiseUnreadableSongs(path, connection.lastErrorText());
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
    QString why;
    const std::optional<vtr::MediaTags> tags = vtr::readMediaTags(path, &why);
    return phoneTrackFromTags(path, tags, why);
}

PhoneTrack phoneTrackForSource(vtr::MediaByteSource &source, const QString &path)
{
    QString why;
    const std::optional<vtr::MediaTags> tags = vtr::readMediaTags(source, QFileInfo(path).fileName(), &why);
    return phoneTrackFromTags(path, tags, why);
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
    bool mountedWithoutMusic = false;
    if (!serial.isEmpty())
        for (const QString &folder : VolumeDetection::sharedManager()->appleMediaFolders(serial)) {
            folders.append(VtrMacFileInfo::fileInfoWithPath(folder));
            // The phone's own partition without a music folder: nothing synced.
            mountedWithoutMusic = mountedWithoutMusic || QFileInfo(folder + QStringLiteral("/iTunes_Control")).isDir();
        }
    if (std::optional<QList<PhoneTrack>> mounted = phoneTracksInMediaFolders(folders)) return mounted;
    if (mountedWithoutMusic) return QList<PhoneTrack>();
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
            if (!song.unreadable.isEmpty()) {
                choice.unreadable.append({song.path, song.unreadable});
                continue;
            }
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
