// The playlists a music copy writes into the new phone's folder beside its
// songs, and the earlier copies of them that give way to this run's.

#include "migration/DataMigrator.h"

#include "devices/LocalFileNames.h"
#include "devices/phone/MobileDeviceInterface.h"
#include "fileinfo/FileInfoCopy.h"
#include "fileinfo/VtrMacFileInfoFS.h"
#include "foundation/Log.h"
#include "foundation/VtrString.h"
#include "migration/CopyRecords.h"
#include "migration/EarlierCopies.h"
#include "migration/VtrMusicPlaylistKinds.h"
#include "platform/Descriptor.h"
#include "platform/Folders.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <unistd.h>

using namespace vtr::migration;

namespace {

// Larger than any playlist of ours: a file of that size is not read as one.
constexpr qint64 kMaxPlaylistBytes = qint64(64) << 20;

// A playlist of ours in the new phone's playlists folder, as read just now.
struct EarlierPlaylist
{
    CopyIdentity id;
    struct stat seen;
    QByteArray bytes;
};

// The playlists of ours in the open folder `dir` (its record `key`): each
// one recorded and still the very file we wrote, read through the folder.
QList<EarlierPlaylist> earlierPlaylistsIn(int dir, const QString &key)
{
    QList<CopyIdentity> ids;
    {
        RecordFiles &files = RecordFiles::shared();
        const std::lock_guard lock(files.mutex);
        ids = files.read(key);
    }
    QList<EarlierPlaylist> found;
    for (const CopyIdentity &id : std::as_const(ids)) {
        if (id.nameOnly || id.sha256.isEmpty() || id.stamp.size < 0 || id.stamp.size > kMaxPlaylistBytes ||
            !vtr::localfs::isSafeName(id.name))
            continue;
        const platform::Descriptor fd(
            ::openat(dir, QFile::encodeName(id.name).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        EarlierPlaylist earlier{id, {}, {}};
        if (!fd.isOpen() || ::fstat(fd.get(), &earlier.seen) != 0 || !S_ISREG(earlier.seen.st_mode) ||
            qint64(earlier.seen.st_size) != id.stamp.size)
            continue;
        earlier.bytes.resize(qsizetype(id.stamp.size));
        qsizetype done = 0;
        while (done < earlier.bytes.size()) {
            const ssize_t n = ::read(fd.get(), earlier.bytes.data() + done, size_t(earlier.bytes.size() - done));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            done += n;
        }
        if (done == earlier.bytes.size() &&
            QCryptographicHash::hash(earlier.bytes, QCryptographicHash::Sha256).toHex() == id.sha256)
            found.append(earlier);
    }
    return found;
}

// Whether `earlier` is a copy of the phone's playlist `playlist` of the phone
// `phone`, which this run writes as `fileName`. A version that did not record
// which playlist a file holds wrote it under that name, or that name with a
// number when another file held it.
bool holdsPlaylist(const CopyIdentity &earlier, const QString &playlist, const QString &phone, const QString &fileName)
{
    if (!earlier.playlist.isEmpty()) return earlier.playlist == playlist && earlier.phone == phone;
    if (earlier.name == fileName) return true;
    const QString extension = vtr::posixPathExtension(fileName);
    const QString base = vtr::posixDeletingPathExtension(fileName) + QLatin1Char('-');
    const QString tail = extension.isEmpty() ? QString() : QLatin1Char('.') + extension;
    if (!earlier.name.startsWith(base) || !earlier.name.endsWith(tail) ||
        earlier.name.size() <= base.size() + tail.size())
        return false;
    const QStringView number =
        QStringView(earlier.name).mid(base.size(), earlier.name.size() - base.size() - tail.size());
    return std::all_of(number.begin(), number.end(), [](QChar c) { return c.isDigit(); }) && number.front() != u'0';
}

// The songs an M3U text of ours names in the music folder, in its order:
// each line that is `reference(name)` for a song `name` there, answered with
// that name as its path and the title and length its "#EXTINF" line gave.
QList<VtrPlaylistTrack> songsOfPlaylist(const QByteArray &bytes,
                                        const std::function<QString(const QString &)> &reference)
{
    QList<VtrPlaylistTrack> songs;
    VtrPlaylistTrack next;
    const QStringList lines = QString::fromUtf8(bytes).split(QStringLiteral("\r\n"));
    for (const QString &line : lines) {
        if (line.startsWith(QLatin1String("#EXTINF:"))) {
            const qsizetype comma = line.indexOf(QLatin1Char(','));
            bool ok = false;
            next.durationSeconds = comma < 0 ? -1 : line.mid(8, comma - 8).toInt(&ok);
            if (!ok) next.durationSeconds = -1;
            next.title = comma < 0 ? QString() : line.mid(comma + 1);
            continue;
        }
        if (line.isEmpty() || line.startsWith(QLatin1Char('#'))) continue;
        const QString name = line.section(QLatin1Char('\\'), -1);
        if (vtr::localfs::isSafeName(name) && reference(name) == line) {
            next.devicePath = name;
            songs.append(next);
        }
        next = VtrPlaylistTrack();
    }
    return songs;
}

// A new file in a folder of the new phone, written by the folder's checked
// descriptor: made exclusively under the copy's temporary name (which the
// next start clears, should the program end meanwhile), filled, and moved
// onto a free name. Gone again unless it was placed.
class NewFileIn
{
public:
    NewFileIn(int dir, VtrFileInfoPtr folder)
        : m_dir(dir), m_folder(std::move(folder)),
          m_lease(vtr::localfs::childPath(m_folder->path(), QLatin1String(kVtrCopyTempFileName)))
    {
    }
    ~NewFileIn()
    {
        if (m_made && !m_placed) ::unlinkat(m_dir, kVtrCopyTempFileName, 0);
    }
    NewFileIn(const NewFileIn &) = delete;
    NewFileIn &operator=(const NewFileIn &) = delete;

    // False, with the system's words in `why`, when it could not be made and filled.
    bool fill(const QByteArray &bytes, QString *why)
    {
        if (!m_lease.acquired()) {
            *why = QStringLiteral("another copy is writing into the folder");
            return false;
        }
        // What an interrupted copy left there goes first: a plain file of this user's only.
        struct stat st;
        if (::fstatat(m_dir, kVtrCopyTempFileName, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            (!S_ISREG(st.st_mode) || st.st_uid != ::geteuid() || ::unlinkat(m_dir, kVtrCopyTempFileName, 0) != 0)) {
            *why = QStringLiteral("\"%1\" stands in the way").arg(QLatin1String(kVtrCopyTempFileName));
            return false;
        }
        const platform::Descriptor fd(::openat(m_dir, kVtrCopyTempFileName,
                                               O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
        m_made = fd.isOpen();
        if (!m_made || !vtr::localfs::writeAll(fd.get(), bytes.constData(), bytes.size())) {
            *why = QString::fromLocal8Bit(std::strerror(errno));
            return false;
        }
        return true;
    }

    // Moves it onto `name`, a name free ignoring case, or should another
    // file take that meanwhile, onto the next one made from `base`. The name
    // it took; empty, with the system's words in `why`, when none.
    QString place(QString name, const QString &base, QString *why)
    {
        for (int attempt = 0; attempt < 100 && !name.isEmpty(); ++attempt) {
            vtr::localfs::ChangeInFolder change(m_folder->path());
            if (::renameat2(m_dir, kVtrCopyTempFileName, m_dir, QFile::encodeName(name).constData(),
                            RENAME_NOREPLACE) == 0) {
                change.added(name);
                m_placed = true;
                return name;
            }
            if (errno != EEXIST) break;
            name = m_folder->uniqueFilename(base);
        }
        *why = name.isEmpty() ? QStringLiteral("no free name") : QString::fromLocal8Bit(std::strerror(errno));
        return QString();
    }

private:
    int m_dir;
    VtrFileInfoPtr m_folder;
    vtr::TemporaryCopyFileLease m_lease;
    bool m_made = false;
    bool m_placed = false;
};

}  // namespace

// The new phone's folder tree has no phone to write through: the M3U text
// is made as for a phone (paths relative to the "Playlists" folder, with the
// phone's separators) and written as a local file. A playlist of the phone
// is one playlist there: an earlier copy of it that this program wrote gives
// way to this run's, which names the songs of it that stay in the music
// folder beside those copied now.
void MusicMigrator::didCopy(MobileDeviceInterface &target, const QList<MediaItem> &items, const VtrFileInfoList &files)
{
    const QStringList names = playlistNames();
    if (names.isEmpty()) return;
    const VtrFileInfoPtr playlistsFolder = target.preferredPlaylistsFolder();
    const VtrFileInfoPtr musicFolder = target.preferredMusicFolder();
    const VtrFileInfoPtr phoneFolder = target.preferredMediaFolder();
    if (!playlistsFolder || !playlistsFolder->isFolder() || !musicFolder || !phoneFolder) {
        VTR_LOG(1, QStringLiteral("The new phone has no playlists folder; the playlists are not written."));
        return;
    }
    // Written by the folder's descriptor, and only while it is a folder of
    // ours right in the new phone's folder: never through a link out of it.
    const QString listsPath = QDir::cleanPath(playlistsFolder->path());
    QString why = QStringLiteral("it is not a folder of the new phone's folder");
    platform::Descriptor dir;
    if (vtr::localfs::parentPath(listsPath) == QDir::cleanPath(phoneFolder->path()))
        dir = platform::Descriptor(
            platform::openOwnFolder(phoneFolder->path(), {playlistsFolder->name()}, false, &why));
    if (!dir.isOpen()) {
        VTR_LOG(1, QStringLiteral("The playlists are not written into \"%1\": %2").arg(listsPath, why));
        return;
    }
    // The songs of earlier runs that stay in the music folder, as far as
    // their status tells: the playlists of an earlier run give way to these
    // unless some stay (the person kept them), as the playlists name them.
    const QSet<QString> stayed = earlierCopiesThatStay(musicFolder, files);
    if (stayed.isEmpty()) clearEarlierCopies(playlistsFolder);
    QList<EarlierPlaylist> earlier = earlierPlaylistsIn(dir.get(), recordKeyFor(playlistsFolder));
    CopiesAlreadyThere there(playlistsFolder);
    const QString phone = phoneOfBackup();
    const std::unique_ptr<VtrMusicPlaylist_m3u> writer = VtrMusicPlaylist_m3u::playlistWithDevice(nullptr);
    const QString musicDevicePath = QStringLiteral("\\") + musicFolder->name();
    const QString listsDevicePath = QStringLiteral("\\") + playlistsFolder->name();
    CopyRecord record(playlistsFolder);
    for (const QString &name : names) {
        const QString devicePath = writer->playlistPathForName(name, listsDevicePath);
        // A long name is shortened as the names of copied files are, with
        // room for the number that may make it unique.
        const QString fileName = vtr::fitLocalNameLength(devicePath.section(QLatin1Char('\\'), -1), 8);
        QList<VtrPlaylistTrack> tracks;
        QSet<QString> named;
        for (qsizetype i = 0; i < items.size(); ++i) {
            if (!items.at(i).playlistNames.contains(name)) continue;
            VtrPlaylistTrack track;
            track.devicePath = musicDevicePath + QLatin1Char('\\') + files.at(i)->name();
            track.title = items.at(i).title;
            track.durationSeconds = items.at(i).durationSeconds;
            tracks.append(track);
            named.insert(files.at(i)->name());
        }
        // Its earlier copies (the one under its own name first), and the
        // songs of theirs that stay.
        QList<EarlierPlaylist> copies;
        for (qsizetype i = 0; i < earlier.size();) {
            if (!holdsPlaylist(earlier.at(i).id, name, phone, fileName)) {
                ++i;
                continue;
            }
            if (earlier.at(i).id.name == fileName) copies.prepend(earlier.takeAt(i));
            else copies.append(earlier.takeAt(i));
        }
        const auto reference = [&](const QString &song) {
            return writer->trackReference(musicDevicePath + QLatin1Char('\\') + song, devicePath);
        };
        for (const EarlierPlaylist &copy : std::as_const(copies)) {
            for (VtrPlaylistTrack song : songsOfPlaylist(copy.bytes, reference)) {
                if (!stayed.contains(song.devicePath) || named.contains(song.devicePath)) continue;
                named.insert(song.devicePath);
                song.devicePath = musicDevicePath + QLatin1Char('\\') + song.devicePath;
                tracks.append(song);
            }
        }
        const auto removeCopies = [&] {
            for (const EarlierPlaylist &copy : std::as_const(copies))
                removeIfStill(playlistsFolder->path(), copy.id.name, copy.seen);
        };
        if (tracks.isEmpty()) {
            // None of its songs is in the folder: it names nothing.
            removeCopies();
            continue;
        }
        const QByteArray bytes = writer->playlistData(tracks, devicePath);
        // A run that could not record it wrote it already, as it is now.
        if (const QString already = there.take(fileName, contentsOfBytes(bytes)); !already.isEmpty()) {
            removeCopies();
            record.expect(already, contentsOfBytes(bytes), name, phone);
            record.copied(already);
            continue;
        }
        NewFileIn file(dir.get(), playlistsFolder);
        QString placed;
        if (file.fill(bytes, &why)) {
            removeCopies();
            // The person's own playlist of the same name stays; ours takes
            // a free name beside it.
            const QString wanted = copies.isEmpty() ? fileName : copies.first().id.name;
            const QString free = playlistsFolder->uniqueFilename(wanted);
            record.expect(free, contentsOfBytes(bytes), name, phone);
            placed = file.place(free, wanted, &why);
            record.copied(placed);
            if (!placed.isEmpty()) noteWhatStoodInTheWay(listsPath, fileName, placed);
        }
        if (placed.isEmpty())
            VTR_LOG(1, QStringLiteral("The playlist \"%1\" could not be written into \"%2\": %3")
                           .arg(name, listsPath, why));
    }
}
