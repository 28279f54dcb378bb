#include "sources/iphone/iPhoneMusic.h"

#include "devices/afc/AfcService.h"
#include "devices/usb/VolumeDetection.h"
#include "fileinfo/GuardedMediaInput.h"
#include "fileinfo/VtrMacFileInfo.h"
#include "fileinfo/VtrQTUtils.h"
#include "foundation/Log.h"
#include "platform/Descriptor.h"
#include "platform/Strings.h"
#include "platform/VtrException.h"
#include "sources/itunes/VtrITunes.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>

#include <algorithm>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

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

// What a walk of the phone's songs left out, for the log.
struct LeftOut
{
    int links = 0;
    int tooDeep = 0;
    int otherKinds = 0;
    int sameFiles = 0;
    bool stoppedAtSongs = false;
    // The folder whose listing the names bound stopped; empty when none did.
    QString namesStoppedIn;

    // `where`: "in" the media folder, or how the songs were reached.
    void log(const QString &where, const SongWalkBounds &bounds) const
    {
        QStringList parts;
        if (links) parts.append(QStringLiteral("%1 links (never followed)").arg(links));
        if (tooDeep)
            parts.append(QStringLiteral("%1 folders deeper than %2 levels below the music folder")
                             .arg(tooDeep)
                             .arg(bounds.depth - 1));
        if (otherKinds) parts.append(QStringLiteral("%1 entries that are neither files nor folders").arg(otherKinds));
        if (sameFiles) parts.append(QStringLiteral("%1 more names of songs already read").arg(sameFiles));
        if (stoppedAtSongs)
            parts.append(QStringLiteral("everything after the first %1 songs (not looked at)").arg(bounds.songs));
        if (!namesStoppedIn.isEmpty())
            parts.append(QStringLiteral("everything after the first %1 names listed (the listing stopped in %2)")
                             .arg(QString::number(bounds.names), namesStoppedIn));
        if (!parts.isEmpty())
            VTR_LOG(1, QStringLiteral("Left out of the iPhone's songs %1: %2")
                           .arg(where, parts.join(QLatin1String(", "))));
    }
};

// The sound files below the music folder of the phone's file service, in
// path order.
struct ServiceSongWalk
{
    vtr::afc::AfcConnection &connection;
    const SongWalkBounds &bounds;
    QStringList paths;
    qint64 namesListed = 0;
    LeftOut leftOut;

    void walk(const QString &folder, int depth)
    {
        static const QStringList audio = VtrQTUtils::audioFileExtensions();
        if (namesListed >= bounds.names) {
            // Not even asked: the phone would send every name of the folder.
            if (leftOut.namesStoppedIn.isEmpty()) leftOut.namesStoppedIn = folder;
            return;
        }
        bool more = false;
        const std::optional<QStringList> names = connection.list(folder, bounds.names - namesListed, &more);
        if (!names) {
            if (depth == 0 && connection.lastFailure() == vtr::afc::Failure::NotFound) return; // no songs synced
            raiseUnreadableSongs(folder, connection.lastErrorText());
        }
        namesListed += names->size();
        if (more && leftOut.namesStoppedIn.isEmpty()) leftOut.namesStoppedIn = folder;
        for (const QString &name : *names) {
            if (paths.size() >= bounds.songs) {
                leftOut.stoppedAtSongs = true;
                return;
            }
            if (name.contains(QLatin1Char('/'))) continue;
            const QString path = folder + QLatin1Char('/') + name;
            const std::optional<vtr::afc::EntryInfo> entry = connection.info(path);
            if (!entry) raiseUnreadableSongs(path, connection.lastErrorText());
            // Links are neither: they are not followed.
            if (entry->isFolder && depth + 1 < bounds.depth)
                walk(path, depth + 1);
            else if (entry->isFolder)
                ++leftOut.tooDeep;
            else if (entry->isFile && audio.contains(QFileInfo(name).suffix(), Qt::CaseInsensitive))
                paths.append(path);
        }
    }
};

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

std::optional<QList<PhoneTrack>> phoneTracksOverService(const QString &serial, const SongWalkBounds &bounds)
{
    vtr::afc::AfcOpening opening = vtr::afc::sharedAfcService()->open(serial);
    if (!opening.connection) {
        VTR_LOG(1, QStringLiteral("The iPhone's file service cannot be used: %1").arg(opening.detail));
        const QString reason = refusalReason(opening.refusal);
        if (!reason.isEmpty()) throw VtrException(QLatin1String(kPhoneNotTrustedException), reason);
        return std::nullopt;
    }
    ServiceSongWalk walk{*opening.connection, bounds};
    walk.walk(kMusicFolder, 0);
    walk.leftOut.log(QStringLiteral("read through its file service"), bounds);
    QList<PhoneTrack> tracks;
    for (const QString &path : std::as_const(walk.paths))
        tracks.append(phoneTrackOverService(*opening.connection, path));
    return tracks;
}

// ---- songs of a mounted media folder -----------------------------------------------------------
//
// The mount shows the phone's own links, and a link resolves on this
// computer: every step from the media folder down is opened by descriptor,
// relative to the folder before it, and an entry that is a link is never
// opened.

using platform::Descriptor;

struct MountedSongWalk
{
    const SongWalkBounds &bounds;
    QList<PhoneTrack> tracks;
    qint64 namesListed = 0;
    // The files read, by device and inode: another name of one (a hard
    // link) is not read again.
    QSet<std::pair<dev_t, ino_t>> filesRead;
    LeftOut leftOut;

    // The names in an open folder (at `path`), sorted; empty when it cannot
    // be read. They are read one by one, and no more than the walk may still
    // list: a folder may hold any number.
    QStringList namesIn(int folder, const QString &path)
    {
        QStringList names;
        const int copy = ::fcntl(folder, F_DUPFD_CLOEXEC, 0);
        if (copy < 0) return names;
        DIR *dir = ::fdopendir(copy);
        if (!dir) {
            ::close(copy);
            return names;
        }
        // The copy shares the folder's reading position with `folder`.
        ::rewinddir(dir);
        while (const dirent *entry = ::readdir(dir)) {
            if (qstrcmp(entry->d_name, ".") == 0 || qstrcmp(entry->d_name, "..") == 0) continue;
            if (namesListed >= bounds.names) {
                if (leftOut.namesStoppedIn.isEmpty()) leftOut.namesStoppedIn = path;
                break;
            }
            ++namesListed;
            names.append(QFile::decodeName(entry->d_name));
        }
        ::closedir(dir);
        names.sort();
        return names;
    }

    // The entry `name` of `folder` as it is, never followed: nullopt when
    // there is none.
    static std::optional<struct stat> entryOf(int folder, const QString &name)
    {
        struct stat st{};
        if (::fstatat(folder, QFile::encodeName(name).constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            return std::nullopt;
        return st;
    }

    // A folder of `folder`, opened only when it is one and no link.
    static int openFolder(int folder, const QString &name)
    {
        const int fd = ::openat(folder, QFile::encodeName(name).constData(),
                                O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        struct stat st{};
        if (fd >= 0 && (::fstat(fd, &st) != 0 || !S_ISDIR(st.st_mode))) {
            ::close(fd);
            return -1;
        }
        return fd;
    }

    // The named step of the path down to the songs (the exact name, else
    // one that differs only in case, as the phone's disk ignores case) in
    // `folder` at `path`; -1 when it is missing, no folder or a link
    // (counted).
    int step(int folder, const QString &path, const QString &name, QString *actual)
    {
        *actual = name;
        std::optional<struct stat> st = entryOf(folder, name);
        if (!st) {
            for (const QString &other : namesIn(folder, path))
                if (other.compare(name, Qt::CaseInsensitive) == 0) {
                    *actual = other;
                    st = entryOf(folder, other);
                    break;
                }
        }
        if (!st) return -1;
        if (S_ISLNK(st->st_mode)) {
            ++leftOut.links;
            return -1;
        }
        return S_ISDIR(st->st_mode) ? openFolder(folder, *actual) : -1;
    }

    void song(int folder, const QString &name, const QString &path)
    {
        const Descriptor fd(::openat(folder, QFile::encodeName(name).constData(),
                                     O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
        struct stat st{};
        if (!fd.isOpen() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
            // Replaced by something else since it was listed.
            ++leftOut.otherKinds;
            return;
        }
        if (filesRead.contains({st.st_dev, st.st_ino})) {
            ++leftOut.sameFiles;
            return;
        }
        filesRead.insert({st.st_dev, st.st_ino});
        vtr::MediaBytesOfDescriptor source(fd.get(), qint64(st.st_size));
        tracks.append(phoneTrackForSource(source, path));
    }

    void walk(int folder, const QString &path, int depth)
    {
        static const QStringList audio = VtrQTUtils::audioFileExtensions();
        for (const QString &name : namesIn(folder, path)) {
            if (tracks.size() >= bounds.songs) {
                leftOut.stoppedAtSongs = true;
                return;
            }
            const std::optional<struct stat> st = entryOf(folder, name);
            if (!st) continue; // gone since it was listed
            const QString entryPath = path + QLatin1Char('/') + name;
            if (S_ISLNK(st->st_mode)) {
                ++leftOut.links;
            } else if (S_ISDIR(st->st_mode)) {
                if (depth + 1 >= bounds.depth) {
                    ++leftOut.tooDeep;
                    continue;
                }
                const Descriptor sub(openFolder(folder, name));
                if (sub.isOpen())
                    walk(sub.get(), entryPath, depth + 1);
                else
                    ++leftOut.otherKinds;
            } else if (!S_ISREG(st->st_mode)) {
                ++leftOut.otherKinds;
            } else if (audio.contains(QFileInfo(name).suffix(), Qt::CaseInsensitive)) {
                song(folder, name, entryPath);
            }
        }
    }
};

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

std::optional<QList<PhoneTrack>> phoneTracksInMediaFolders(const VtrFileInfoList &storages,
                                                           const SongWalkBounds &bounds)
{
    std::optional<QList<PhoneTrack>> tracks;
    for (const VtrFileInfoPtr &storage : storages) {
        if (!storage || storage->path().isEmpty()) continue;
        const QString root = storage->path();
        const Descriptor media(::open(QFile::encodeName(root).constData(),
                                      O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!media.isOpen()) continue;
        MountedSongWalk walk{bounds};
        QString control;
        QString music;
        const Descriptor controlFolder(walk.step(media.get(), root, QStringLiteral("iTunes_Control"), &control));
        const Descriptor musicFolder(
            controlFolder.isOpen()
                ? walk.step(controlFolder.get(), root + QLatin1Char('/') + control, QStringLiteral("Music"), &music)
                : -1);
        if (musicFolder.isOpen()) {
            if (!tracks) tracks.emplace();
            walk.walk(musicFolder.get(), root + QLatin1Char('/') + control + QLatin1Char('/') + music, 0);
            std::stable_sort(walk.tracks.begin(), walk.tracks.end(),
                             [](const PhoneTrack &a, const PhoneTrack &b) { return a.path < b.path; });
            tracks->append(walk.tracks);
        }
        walk.leftOut.log(QStringLiteral("in ") + root, bounds);
    }
    return tracks;
}

std::optional<QList<PhoneTrack>> phoneTracks(const QString &serial, const VtrFileInfoList &storages,
                                             const SongWalkBounds &bounds)
{
    VtrFileInfoList folders = storages;
    bool mountedWithoutMusic = false;
    if (!serial.isEmpty())
        for (const QString &folder : VolumeDetection::sharedManager()->appleMediaFolders(serial)) {
            folders.append(VtrMacFileInfo::fileInfoWithPath(folder));
            // The phone's own partition without a music folder: nothing synced.
            const QFileInfo control(folder + QStringLiteral("/iTunes_Control"));
            mountedWithoutMusic = mountedWithoutMusic || (control.isDir() && !control.isSymLink());
        }
    if (std::optional<QList<PhoneTrack>> mounted = phoneTracksInMediaFolders(folders, bounds)) return mounted;
    if (mountedWithoutMusic) return QList<PhoneTrack>();
    if (serial.isEmpty()) return std::nullopt;
    return phoneTracksOverService(serial, bounds);
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
