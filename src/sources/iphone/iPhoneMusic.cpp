#include "sources/iphone/iPhoneMusic.h"

#include "fileinfo/VtrQTUtils.h"
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
