#include "sources/host/MediaLibraryHost.h"

#include "devices/LocalFileNames.h"
#include "fileinfo/FileInfoCopy.h"
#include "fileinfo/VtrBaseFileInfo.h"
#include "fileinfo/VtrFileInfo.h"
#include "fileinfo/VtrMacFileInfo.h"
#include "fileinfo/VtrMacFileInfoFS.h"
#include "fileinfo/VtrQTUtils.h"
#include "foundation/Log.h"
#include "platform/Descriptor.h"
#include "platform/Folders.h"
#include "platform/Strings.h"
#include "sources/host/FiledFiles.h"
#include "sources/host/LibraryLocation.h"
#include "sources/host/MediaContent.h"
#include "sources/host/PropertyListXml.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSet>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <limits>
#include <linux/fs.h>
#include <mutex>
#include <optional>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <utility>

namespace vtr {

// A file to be filed, open as itself: everything the filing reads of it
// (its content, its digest, its bytes) is read through `fd`, never by its
// path again; `path` names it in the library's records and messages, and
// `name` is the name it came with.
struct SourceFile
{
    QString path;
    QString name;
    platform::Descriptor fd;
    vtr::FileStamp stamp;
};

}  // namespace vtr

namespace {

using vtr::SourceFile;

// Seconds between 1970 and the reference date of the photo library's
// "…AsTimerInterval" values (1 January 2001 GMT).
constexpr qint64 kReferenceDateOffset = 978307200;
constexpr qint64 kFirstAlbumID = 1000;
constexpr qint64 kLibraryAlbumID = 999000;

using Failure = MediaLibraryHost::Failure;

QString randomPersistentID()
{
    return QString::number(QRandomGenerator::global()->generate64(), 16).toUpper().rightJustified(16, QLatin1Char('0'));
}

QString userFolder(quint32 type)
{
    return VtrFileInfo::findFolderPath(VtrFileInfo::kUserDomain, type, true);
}

// A name from a script becomes one valid file name: no "/" or NUL, never
// empty, never hidden (so never "." or "..").
QString folderNameFor(const QString &name)
{
    QString clean = VtrMacFileInfo::makeNameOSCompliant(name.trimmed());
    clean.replace(QLatin1Char('\n'), QLatin1Char(' ')).replace(QLatin1Char('\r'), QLatin1Char(' '));
    if (clean.isEmpty() || clean.startsWith(QLatin1Char('.'))) clean.prepend(QLatin1Char('_'));
    return clean;
}

// ---- playlist files
//
// The music folder's "Playlists" is the person's too: a file there is
// replaced only while it is exactly the file this host wrote (the same name,
// size, time, device, inode and contents, recorded with its playlist in the
// library file). A name that is taken, in any letter case, gives the
// playlist a name of its own.

const QString kPlaylistFileKey = QStringLiteral("Host Playlist File");
// A playlist whose file could not be written is recorded so until a writing
// succeeds: the next import that puts tracks into it (even tracks it lists
// already) writes it, once its folder can be used, and it never counts as
// written meanwhile.
const QString kPlaylistUnwrittenKey = QStringLiteral("Host Playlist File Unwritten");

struct WrittenFile
{
    QString path;
    vtr::FileStamp stamp;
    QByteArray sha256;  // hexadecimal
};

std::optional<WrittenFile> writtenFileOf(const QVariantMap &playlistInfo)
{
    const QVariantMap map = playlistInfo.value(kPlaylistFileKey).toMap();
    if (map.isEmpty()) return std::nullopt;
    const qint64 ns = map.value(QStringLiteral("Modified")).toLongLong();
    return WrittenFile{map.value(QStringLiteral("Path")).toString(),
                       {true, map.value(QStringLiteral("Size"), -1).toLongLong(), ns / 1000000000, ns % 1000000000,
                        map.value(QStringLiteral("Device")).toULongLong(), map.value(QStringLiteral("Inode")).toULongLong()},
                       map.value(QStringLiteral("SHA-256")).toByteArray()};
}

QVariantMap recordOf(const WrittenFile &file)
{
    return {{QStringLiteral("Path"), file.path},
            {QStringLiteral("Size"), file.stamp.size},
            {QStringLiteral("Modified"), file.stamp.seconds * 1000000000 + file.stamp.nanoseconds},
            {QStringLiteral("Device"), file.stamp.device},
            {QStringLiteral("Inode"), file.stamp.inode},
            {QStringLiteral("SHA-256"), QString::fromLatin1(file.sha256)}};
}

vtr::FileStamp stampOf(const struct stat &st)
{
    return {true, qint64(st.st_size), qint64(st.st_mtim.tv_sec), qint64(st.st_mtim.tv_nsec), quint64(st.st_dev),
            quint64(st.st_ino)};
}

// The entry itself (a link is not followed); exists only for a regular file.
vtr::FileStamp entryStampOf(const QString &path)
{
    struct stat st
    {
    };
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode)) return {};
    return stampOf(st);
}

bool stillWrittenByUs(const WrittenFile &file)
{
    if (file.stamp.size < 0 || entryStampOf(file.path) != file.stamp) return false;
    QFile f(file.path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    return f.open(QIODevice::ReadOnly) && hash.addData(&f) && hash.result().toHex() == file.sha256;
}

// "<name>.m3u8", or "<name>-<n>.m3u8" once that is taken, no longer than a
// local file name may be: the name gives way from its end (never half a
// character), the number and the extension stay.
QString playlistFileName(QString base, int n)
{
    const QString tail = (n > 0 ? QStringLiteral("-%1").arg(n) : QString()) + QStringLiteral(".m3u8");
    const qsizetype room = vtr::kMaxLocalNameBytes - vtr::utf8Length(tail);
    while (base.size() > 1 && vtr::utf8Length(base) > room) {
        base.chop(1);
        if (base.back().isHighSurrogate()) base.chop(1);
    }
    return base + tail;
}

// A folder that could not be made, with the system's reason: that of the
// nearest folder on its way that exists and refuses it, else `error`.
Failure folderNotMade(const QString &folder, int error)
{
    QString at = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    while (!QFileInfo::exists(at) && QFileInfo(at).path() != at) at = QFileInfo(at).path();
    if (!QFileInfo(at).isDir()) error = ENOTDIR;
    else if (::access(QFile::encodeName(at).constData(), W_OK | X_OK) != 0) error = errno;
    if (error == 0) return Failure{-48, vtrLocalized("The folder \"%1\" could not be made.").arg(folder), folder};
    return Failure{-48,
                   vtrLocalized("The folder \"%1\" could not be made: %2.")
                       .arg(folder, QString::fromLocal8Bit(std::strerror(error))),
                   folder};
}

std::mutex g_checkHookLock;
std::function<void(const QString &)> g_afterFolderChecked;

// A folder of its own name that the host makes in the person's media folders
// is filed into only while it is a real folder of this user's: another user
// who may write into the media folder may have made it first, or put a link
// at its name that leads the files elsewhere. What is filed goes in through
// the descriptor answered, never by the folder's path again: the folder can
// be put aside and a link put at its name right after this check.
platform::Descriptor checkedFolder(const QString &folder)
{
    QString why;
    platform::Descriptor dir(platform::openOwnFolder(folder, false, &why));
    if (!dir.isOpen()) throw Failure{-48, vtrLocalized("%1, so nothing is put into it.").arg(why), folder};
    std::function<void(const QString &)> hook;
    {
        std::lock_guard lock(g_checkHookLock);
        hook = g_afterFolderChecked;
    }
    if (hook) hook(folder);
    return dir;
}

// Whether `folder` still names the folder open as `dir`. A file filed is
// recorded by its path: one put into a folder that was put aside meanwhile
// would be recorded where another folder, or a link, now stands.
bool stillAt(int dir, const QString &folder)
{
    const platform::Descriptor again(platform::openOwnFolder(folder, false));
    struct stat open, named;
    return again.isOpen() && ::fstat(dir, &open) == 0 && ::fstat(again.get(), &named) == 0 &&
           open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

Failure movedMeanwhile(const QString &what, const QString &folder)
{
    return Failure{-48, vtrLocalized("The folder \"%1\" was moved or replaced while %2 was put into it, so it does "
                                     "not count as put there.")
                            .arg(folder, what)};
}

// The names of the entries of the open folder `dir`, case-folded.
QSet<QString> takenNamesIn(int dir)
{
    QSet<QString> names;
    platform::forEachEntryIn(dir, [&names](const char *name) { names.insert(QFile::decodeName(name).toCaseFolded()); });
    return names;
}

// A new file of its own in the open folder `dir`: made under a name no item
// holds, written through its descriptor and moved to its name in that same
// folder. Another user who may write into the folder may put an item of
// theirs at either name meanwhile: only the file made is moved or removed.
// Unless moved, it is removed with its owner.
class NewFile
{
public:
    NewFile(int dir, const QByteArray &temporary) : m_dir(dir), m_at(temporary) {}
    ~NewFile()
    {
        if (m_fd >= 0) ::close(m_fd);
        if (!m_moved) remove();
    }
    NewFile(const NewFile &) = delete;
    NewFile &operator=(const NewFile &) = delete;

    // 0, or the errno value (EEXIST: an item holds the name).
    int create()
    {
        m_fd = ::openat(m_dir, m_at.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (m_fd < 0) return errno;
        struct stat st;
        if (::fstat(m_fd, &st) != 0) return errno;
        m_made = stampOf(st);
        return 0;
    }
    int fd() const { return m_fd; }
    // Closes the file, synced to the disk first when `sync`: 0, or the errno value.
    int close(bool sync)
    {
        int error = sync && ::fsync(m_fd) != 0 ? errno : 0;
        struct stat st;
        if (error == 0 && ::fstat(m_fd, &st) == 0) m_made = stampOf(st);
        if (::close(std::exchange(m_fd, -1)) != 0 && error == 0) error = errno;
        return error;
    }
    // As it was closed.
    const vtr::FileStamp &stamp() const { return m_made; }
    // To `name`: over the entry there when `replace`, else only where none
    // is (EEXIST). 0, or the errno value.
    int moveTo(const QByteArray &name, bool replace)
    {
        if (!isStill(m_at)) return ENOENT;
        int result = replace ? ::renameat(m_dir, m_at.constData(), m_dir, name.constData())
                             : ::renameat2(m_dir, m_at.constData(), m_dir, name.constData(), RENAME_NOREPLACE);
        if (result != 0 && !replace && (errno == EINVAL || errno == ENOSYS)) {
            // A file system that cannot refuse a taken name by itself.
            struct stat st;
            if (::fstatat(m_dir, name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0)
                errno = EEXIST;
            else
                result = ::renameat(m_dir, m_at.constData(), m_dir, name.constData());
        }
        if (result != 0) return errno;
        m_at = name;
        m_moved = true;
        return 0;
    }
    // From where it stands now, while it is the file made.
    void remove()
    {
        if (m_made.exists && isStill(m_at)) ::unlinkat(m_dir, m_at.constData(), 0);
        m_made.exists = false;
    }

private:
    bool isStill(const QByteArray &name) const
    {
        struct stat st;
        return m_made.exists && ::fstatat(m_dir, name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
               S_ISREG(st.st_mode) && quint64(st.st_dev) == m_made.device && quint64(st.st_ino) == m_made.inode;
    }

    int m_dir;
    QByteArray m_at;
    int m_fd = -1;
    vtr::FileStamp m_made;
    bool m_moved = false;
};

Failure writeFailure(const QString &what, const QString &path, int error)
{
    return Failure{-61, vtrLocalized("The %1 could not be written to \"%2\": %3.")
                            .arg(what, path, QString::fromLocal8Bit(std::strerror(error)))};
}

// `bytes` become the file `name` of the checked folder `dir` (at `folder`)
// through a new file of their own: over the file there when `replace`, else
// only where no entry is (false when one took the name meanwhile). A failure
// leaves what was there. `stamp` (when given) is the new file's.
bool putInPlace(int dir, const QString &folder, const QString &name, const QByteArray &bytes, bool replace,
                const QString &what, vtr::FileStamp *stamp = nullptr)
{
    const QString targetPath = QDir(folder).filePath(name);
    std::optional<NewFile> file;
    for (int attempt = 0; !file; ++attempt) {
        file.emplace(dir, '.' + randomPersistentID().toLatin1() + ".tmp");
        if (const int error = file->create(); error != 0) {
            file.reset();
            if (error != EEXIST || attempt >= 8) throw writeFailure(what, targetPath, error);
        }
    }
    const char *data = bytes.constData();
    qsizetype left = bytes.size();
    int error = 0;
    while (left > 0 && error == 0) {
        const ssize_t n = ::write(file->fd(), data, size_t(left));
        if (n < 0 && errno != EINTR) error = errno;
        if (n > 0) {
            data += n;
            left -= n;
        }
    }
    // A library or playlist file replaces the one before it: it is on the
    // disk before its name is.
    if (const int closed = file->close(true); error == 0) error = closed;
    if (error == 0) error = file->moveTo(QFile::encodeName(name), replace);
    if (error == EEXIST && !replace) return false;
    if (error != 0) throw writeFailure(what, targetPath, error);
    if (!stillAt(dir, folder)) {
        // What it replaced was this host's own file: the new one keeps its place.
        if (!replace) file->remove();
        throw movedMeanwhile(what, folder);
    }
    if (stamp) *stamp = file->stamp();
    return true;
}

// The library files are files of the data folder, read, looked at and
// written by its descriptor as everything else kept there: never through a
// link at their names or in the data folder's place, nor over another
// user's file. A library is written through a temporary file in the same
// folder, on the disk before it takes its name: a reader never sees half a
// library, and a failed write leaves the old one.
void writeLibraryFileBytes(const QString &path, const QByteArray &bytes, const QString &what)
{
    QString why;
    const platform::Descriptor dir(platform::openDataFolder({}, &why));
    const auto fill = [&bytes](int fd) {
        return vtr::localfs::writeAll(fd, bytes.constData(), bytes.size()) && ::fsync(fd) == 0;
    };
    if (!dir.isOpen() || !platform::replaceFileIn(dir.get(), platform::dataFolder(), QFileInfo(path).fileName(),
                                                  fill, &why))
        throw Failure{-61, vtrLocalized("The %1 could not be written: %2.").arg(what, why)};
}

// The stamp of the library file at `path` (in the data folder); none when
// there is no such file of ours.
vtr::FileStamp libraryFileStampOf(const QString &path)
{
    struct stat st;
    const platform::Descriptor fd(platform::openDataFile({}, QFileInfo(path).fileName(), &st));
    return fd.isOpen() ? stampOf(st) : vtr::FileStamp{};
}

// Whether the entry `name` of the open folder `dir` is a plain file of this
// user's that holds exactly `bytes`; `stamp` is then its stamp.
bool holdsExactly(int dir, const QString &name, const QByteArray &bytes, vtr::FileStamp *stamp)
{
    const platform::Descriptor fd(
        ::openat(dir, QFile::encodeName(name).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st;
    if (!fd.isOpen() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid() ||
        qint64(st.st_size) != bytes.size())
        return false;
    QByteArray held;
    if (platform::readUpTo(fd.get(), bytes.size(), &held) != 0 || held != bytes) return false;
    *stamp = stampOf(st);
    return true;
}

// The host's earlier file of a playlist goes, while it is that file.
void removeWrittenFile(const WrittenFile &file)
{
    const QFileInfo at(file.path);
    const platform::Descriptor dir(platform::openOwnFolder(at.path(), false));
    const QByteArray name = QFile::encodeName(at.fileName());
    struct stat st;
    if (dir.isOpen() && ::fstatat(dir.get(), name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISREG(st.st_mode) && stampOf(st) == file.stamp)
        ::unlinkat(dir.get(), name.constData(), 0);
}

// A library file of ours that does not read as one: the start names it
// with what is wrong.
struct DamagedLibraryFile : Failure
{
    vtr::PropertyListError error;
};

QVariantMap loadLibraryFile(const QString &path, const QString &what)
{
    struct stat st;
    QString why;
    int code = 0;
    const platform::Descriptor fd(platform::openDataFile({}, QFileInfo(path).fileName(), &st, &why, &code));
    if (!fd.isOpen()) {
        // One that may not be used is none: its saving says why.
        if (code != ENOENT) VTR_LOG(2, QStringLiteral("The %1 is not read: %2").arg(what, why));
        return {};
    }
    vtr::PropertyListError error;
    auto map = vtr::XmlPropertyListReader::readDictionary(fd.get(), &error);
    if (!map) {
        QString why = error.toString();
        if (!why.endsWith(QLatin1Char('.'))) why += QLatin1Char('.');
        throw DamagedLibraryFile{
            {-2700, vtrLocalized("The %1 \"%2\" is damaged: %3 Move it aside, and a new one is made.").arg(what, path, why)},
            error};
    }
    return *map;
}

qint64 nextNumber(QVariantMap &header, const QString &counterKey, qint64 first)
{
    const qint64 next = qMax(header.value(counterKey).toLongLong(), first);
    header.insert(counterKey, next + 1);
    return next;
}

// What a desktop player plays (VtrQTUtils::playable...Extensions). Sound
// formats are known by their extension alone (the file is read for its tags
// only); containers that may hold pictures are opened to tell a video from a
// song (one that cannot be read counts as a video); any other file is filed
// when its content is sound or video.
enum class Filing
{
    Refused,
    Music,
    Video,
};

Filing filingOf(int fd, const QString &path, vtr::MediaTags *tags)
{
    const QString ext = QFileInfo(path).suffix().toLower();
    const vtr::MediaContent content = vtr::mediaContentOf(fd, path, tags);
    if (VtrQTUtils::playableSoundExtensions().contains(ext)) return Filing::Music;
    if (VtrQTUtils::playableVideoExtensions().contains(ext))
        return content == vtr::MediaContent::Sound ? Filing::Music : Filing::Video;
    switch (content) {
    case vtr::MediaContent::Sound: return Filing::Music;
    case vtr::MediaContent::Video: return Filing::Video;
    case vtr::MediaContent::None: break;
    }
    return Filing::Refused;
}

QString kindForExtension(const QString &extension, bool video)
{
    const QString ext = extension.toLower();
    if (ext == QLatin1String("mp3")) return QStringLiteral("MPEG audio file");
    if (ext == QLatin1String("m4a") || ext == QLatin1String("aac")) return QStringLiteral("AAC audio file");
    if (ext == QLatin1String("m4p")) return QStringLiteral("Protected AAC audio file");
    if (ext == QLatin1String("wav")) return QStringLiteral("WAV audio file");
    if (ext == QLatin1String("aif") || ext == QLatin1String("aiff")) return QStringLiteral("AIFF audio file");
    if (video) return QStringLiteral("MPEG-4 video file");
    return ext.isEmpty() ? QStringLiteral("Audio file") : ext.toUpper() + QStringLiteral(" audio file");
}

qint64 secondsSinceReferenceDate(const QDateTime &date)
{
    return date.toSecsSinceEpoch() - kReferenceDateOffset;
}

// A regular file by its canonical path, or a failure that says why not.
QString canonicalSource(const QString &path)
{
    const QFileInfo info(path);
    const QString source = info.canonicalFilePath();
    if (source.isEmpty()) throw Failure{-43, vtrLocalized("The file \"%1\" does not exist.").arg(path)};
    if (!QFileInfo(source).isFile()) throw Failure{-1700, vtrLocalized("\"%1\" is not a file.").arg(path)};
    return source;
}

// The regular file at `path` (links followed, as a script names its files).
SourceFile sourceAtPath(const QString &path)
{
    SourceFile source;
    source.path = canonicalSource(path);
    source.name = QFileInfo(path).fileName();
    source.fd = platform::Descriptor(
        ::open(QFile::encodeName(source.path).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY));
    struct stat st;
    if (!source.fd.isOpen() || ::fstat(source.fd.get(), &st) != 0)
        throw Failure{-43, vtrLocalized("The file \"%1\" could not be read: %2.")
                               .arg(path, QString::fromLocal8Bit(std::strerror(errno)))};
    if (!S_ISREG(st.st_mode)) throw Failure{-1700, vtrLocalized("\"%1\" is not a file.").arg(path)};
    source.stamp = stampOf(st);
    return source;
}

// The very file a copy of this run left, or a failure: reached through the
// descriptor of its folder alone, no link followed, a plain file of this
// user's that is still the copy (the same file, unchanged since), in the
// folder that still stands at its path: a folder moved aside and replaced
// holds no longer what the person finds at the copies' names.
SourceFile sourceOfCopy(const vtr::CopiedFile &copy)
{
    SourceFile source;
    source.path = copy.path();
    source.name = copy.name;
    struct stat st;
    if (copy.folder && copy.folder->isOpen() && vtr::localfs::isSafeName(copy.name) &&
        stillAt(copy.folder->get(), copy.folderPath)) {
        source.fd = platform::Descriptor(::openat(copy.folder->get(), QFile::encodeName(copy.name).constData(),
                                                  O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY));
        // Removed from the folder, and nothing in its place: gone, as any file.
        if (!source.fd.isOpen() && errno == ENOENT)
            throw Failure{-43, vtrLocalized("The file \"%1\" does not exist.").arg(source.path)};
    }
    if (!source.fd.isOpen() || ::fstat(source.fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid() ||
        stampOf(st) != copy.stamp)
        throw Failure{MediaLibraryHost::kNotTheCopyNumber,
                      vtrLocalized("\"%1\" is not the file this transfer copied there: it was moved, replaced or "
                                   "changed after the copy, so it is not added.")
                          .arg(source.path)};
    source.stamp = copy.stamp;
    return source;
}

QStringList filesOfFolder(const QString &path)
{
    QStringList files;
    const QDir dir(path);
    for (const QString &name : dir.entryList(QDir::Files | QDir::System | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase))
        files.append(dir.filePath(name));
    return files;
}

// The message names the file.
void logRefusal(const Failure &f)
{
    VTR_LOG(2, QStringLiteral("Not filed: %1 (%2)").arg(f.message).arg(f.number));
}

}  // namespace

// ---------------------------------------------------------------------------
// The two libraries in memory, in the shapes that make every look-up by path,
// file or content cheap; written back whole.

namespace {

struct LibraryState
{
    vtr::FileStamp stamp;  // of the file as last read or written
    bool held = false;     // by the current operation or batch: not read again
    bool dirty = false;
    vtr::FiledFiles files;
};

}  // namespace

struct MediaLibraryHost::MusicLibrary : LibraryState
{
    struct PlaylistEntry
    {
        QVariantMap info;  // without "Playlist Items"
        QList<qint64> items;
        QSet<qint64> present;
        std::optional<QSet<QString>> songs;  // songKey() of the items, made when first needed
        bool dirty = false;                  // its M3U8 file is to be written

        bool add(qint64 id)
        {
            if (present.contains(id)) return false;
            present.insert(id);
            items.append(id);
            return true;
        }
    };

    QVariantMap header;  // every top-level key but "Tracks" and "Playlists"
    QVariantMap tracks;  // track ID text -> track
    QList<PlaylistEntry> playlists;

    static QString localPath(const QVariantMap &track)
    {
        return vtr::localPathForLibraryLocation(track.value(QStringLiteral("Location")).toString());
    }

    // The same song brought again, from another phone, is another file and
    // track: the same title, artist and length (to the second) tell it.
    QString songKey(qint64 id) const
    {
        const QVariantMap track = tracks.value(QString::number(id)).toMap();
        const qint64 ms = track.value(QStringLiteral("Total Time"), -1).toLongLong();
        return track.value(QStringLiteral("Name")).toString().toCaseFolded() + QChar(0) +
               track.value(QStringLiteral("Artist")).toString().toCaseFolded() + QChar(0) +
               QString::number(ms > 0 ? (ms + 500) / 1000 : -1);
    }

    // Adds the track unless the playlist lists it, or the same song, already.
    bool addSong(PlaylistEntry &playlist, qint64 id) const
    {
        if (playlist.present.contains(id)) return false;
        if (!playlist.songs) {
            playlist.songs.emplace();
            for (qint64 listed : std::as_const(playlist.items)) playlist.songs->insert(songKey(listed));
        }
        const QString key = songKey(id);
        if (playlist.songs->contains(key)) return false;
        playlist.songs->insert(key);
        return playlist.add(id);
    }

    // A playlist of videos only is kept with the videos.
    bool holdsOnlyVideos(const PlaylistEntry &playlist) const
    {
        if (playlist.items.isEmpty()) return false;
        for (qint64 id : playlist.items)
            if (!tracks.value(QString::number(id)).toMap().value(QStringLiteral("Has Video")).toBool()) return false;
        return true;
    }

    QString folderOf(const PlaylistEntry &playlist) const
    {
        return holdsOnlyVideos(playlist) ? MediaLibraryHost::videoPlaylistsFolder()
                                         : MediaLibraryHost::playlistsFolder();
    }

    // Whether the playlist holds tracks that no file of it lists: its last
    // writing failed, or it was never written (a library kept before such
    // failures were recorded: every playlist with tracks has its file's
    // record once written).
    static bool fileMissing(const PlaylistEntry &playlist)
    {
        if (playlist.items.isEmpty() || playlist.info.value(QStringLiteral("Master")).toBool() ||
            playlist.info.value(QStringLiteral("Folder")).toBool())
            return false;
        return playlist.info.value(kPlaylistUnwrittenKey).toBool() || !playlist.info.contains(kPlaylistFileKey);
    }

    // The names of a folder of playlists, case-folded: all that it held when
    // a save first wrote into it and what that save put there, and of them
    // those that this save wrote or took.
    struct FolderNames
    {
        QSet<QString> taken;
        QSet<QString> thisSave;
    };

    // Writes the playlist's M3U8 file (see "playlist files" above). `taken`:
    // the names of each folder this save wrote into.
    void writePlaylistFile(PlaylistEntry &playlist, QHash<QString, FolderNames> &taken)
    {
        // One that cannot be written is tried again with its next change,
        // not at every later save.
        playlist.dirty = false;
        // An import that filed nothing leaves no file behind: an empty list
        // would only stand among the person's playlists, and among the
        // music's, since no video tells where it belongs.
        if (playlist.items.isEmpty()) return;
        // Recorded with the library file whatever becomes of the writing.
        playlist.info.insert(kPlaylistUnwrittenKey, true);
        dirty = true;
        const QString name = playlist.info.value(QStringLiteral("Name")).toString();
        const QString what = vtrLocalized("playlist \"%1\"").arg(name);
        const bool videos = holdsOnlyVideos(playlist);
        const QString folder = folderOf(playlist);
        if (folder.isEmpty())
            throw Failure{-43, videos ? vtrLocalized("There is no videos folder.") : vtrLocalized("There is no music folder.")};
        errno = 0;
        if (!VtrMacFileInfo::fileInfoCreateFolderWithFullPath(folder)) throw folderNotMade(folder, errno);
        const platform::Descriptor dir = checkedFolder(folder);

        // Extended M3U in UTF-8 with paths relative to the playlist file, so
        // the media folder can be moved or shared as a whole.
        QByteArray text = "#EXTM3U\n";
        const QDir base(folder);
        for (qint64 id : std::as_const(playlist.items)) {
            const QVariantMap track = tracks.value(QString::number(id)).toMap();
            const QString local = localPath(track);
            if (local.isEmpty()) continue;
            QString title = track.value(QStringLiteral("Name")).toString();
            title.replace(QLatin1Char('\n'), QLatin1Char(' ')).replace(QLatin1Char('\r'), QLatin1Char(' '));
            const qint64 seconds = track.value(QStringLiteral("Total Time")).toLongLong() / 1000;
            text += "#EXTINF:" + QByteArray::number(seconds > 0 ? seconds : -1) + ',' + title.toUtf8() + '\n';
            text += base.relativeFilePath(local).toUtf8() + '\n';
        }

        auto names = taken.find(folder);
        if (names == taken.end()) names = taken.insert(folder, {takenNamesIn(dir.get()), {}});
        const std::optional<WrittenFile> before = writtenFileOf(playlist.info);
        const bool ours = before && stillWrittenByUs(*before);
        QString fileName;
        vtr::FileStamp stamp;
        if (ours && QDir::cleanPath(QFileInfo(before->path).absolutePath()) == QDir::cleanPath(folder)) {
            fileName = QFileInfo(before->path).fileName();
            putInPlace(dir.get(), folder, fileName, text, true, what, &stamp);
        } else {
            const QString stem = folderNameFor(name);
            for (int n = 0; fileName.isEmpty() && n < VtrBaseFileInfo::kMaxUniqueNameAttempts; ++n) {
                const QString candidate = playlistFileName(stem, n);
                const QString folded = candidate.toCaseFolded();
                if (names->taken.contains(folded)) {
                    // A save whose library file could not be kept wrote this
                    // very playlist there already: that file is its own.
                    if (!names->thisSave.contains(folded) && holdsExactly(dir.get(), candidate, text, &stamp)) {
                        names->thisSave.insert(folded);
                        fileName = candidate;
                    }
                    continue;
                }
                names->taken.insert(folded);
                names->thisSave.insert(folded);
                if (putInPlace(dir.get(), folder, candidate, text, false, what, &stamp)) fileName = candidate;
            }
            if (fileName.isEmpty()) throw Failure{-48, vtrLocalized("No free file name in \"%1\".").arg(folder)};
            // Its earlier file, in the other one of the music and videos
            // folders, goes.
            if (ours) removeWrittenFile(*before);
        }
        const QString path = base.filePath(fileName);
        playlist.info.insert(kPlaylistFileKey,
                             recordOf({path, stamp,
                                       QCryptographicHash::hash(text, QCryptographicHash::Sha256).toHex()}));
        playlist.info.remove(kPlaylistUnwrittenKey);
    }

    qsizetype masterIndex() const
    {
        for (qsizetype i = 0; i < playlists.size(); ++i)
            if (playlists.at(i).info.value(QStringLiteral("Master")).toBool()) return i;
        return -1;
    }

    void load(const QVariantMap &file)
    {
        header = file;
        tracks = header.take(QStringLiteral("Tracks")).toMap();
        for (const QVariant &p : header.take(QStringLiteral("Playlists")).toList()) {
            PlaylistEntry entry;
            entry.info = p.toMap();
            for (const QVariant &item : entry.info.take(QStringLiteral("Playlist Items")).toList())
                entry.add(item.toMap().value(QStringLiteral("Track ID")).toLongLong());
            playlists.append(entry);
        }
        for (auto it = tracks.cbegin(); it != tracks.cend(); ++it)
            files.add(it.key(), localPath(it.value().toMap()), false);
    }

    QVariantMap toFile() const
    {
        QVariantMap file = header;
        file.insert(QStringLiteral("Date"), QDateTime::currentDateTimeUtc());
        file.insert(QStringLiteral("Tracks"), tracks);
        QVariantList list;
        list.reserve(playlists.size());
        for (const PlaylistEntry &p : playlists) {
            QVariantMap info = p.info;
            QVariantList items;
            items.reserve(p.items.size());
            for (qint64 id : p.items)
                items.append(QVariantMap{{QStringLiteral("Track ID"), id}});
            info.insert(QStringLiteral("Playlist Items"), items);
            list.append(info);
        }
        file.insert(QStringLiteral("Playlists"), list);
        return file;
    }
};

struct MediaLibraryHost::PhotoLibrary : LibraryState
{
    struct Group
    {
        QVariantMap info;  // without "KeyList" and "PhotoCount"
        QStringList keys;
        QSet<QString> present;

        void add(const QString &key)
        {
            if (present.contains(key)) return;
            present.insert(key);
            keys.append(key);
        }
        QVariantMap toFile() const
        {
            QVariantMap map = info;
            map.insert(QStringLiteral("KeyList"), QVariantList(keys.cbegin(), keys.cend()));
            map.insert(QStringLiteral("PhotoCount"), keys.size());
            return map;
        }
    };

    QVariantMap header;  // all but the image list, albums and rolls
    QVariantMap images;  // image key -> image
    QList<Group> albums;
    QList<Group> rolls;
    QHash<qint64, qsizetype> rollOfAlbum;  // the event made for each album

    static QList<Group> groupsOf(const QVariant &list)
    {
        QList<Group> groups;
        for (const QVariant &g : list.toList()) {
            Group group;
            group.info = g.toMap();
            group.info.remove(QStringLiteral("PhotoCount"));
            for (const QVariant &key : group.info.take(QStringLiteral("KeyList")).toList())
                group.add(key.toString());
            groups.append(group);
        }
        return groups;
    }

    void load(const QVariantMap &file)
    {
        header = file;
        images = header.take(QStringLiteral("Master Image List")).toMap();
        albums = groupsOf(header.take(QStringLiteral("List of Albums")));
        rolls = groupsOf(header.take(QStringLiteral("List of Rolls")));
        for (qsizetype i = 0; i < rolls.size(); ++i)
            rollOfAlbum.insert(rolls.at(i).info.value(QStringLiteral("RollID")).toLongLong(), i);
        for (auto it = images.cbegin(); it != images.cend(); ++it)
            files.add(it.key(), it.value().toMap().value(QStringLiteral("ImagePath")).toString(), false);
    }

    QVariantMap toFile() const
    {
        QVariantMap file = header;
        file.insert(QStringLiteral("Master Image List"), images);
        QVariantList albumList, rollList;
        for (const Group &g : albums) albumList.append(g.toFile());
        for (const Group &g : rolls) rollList.append(g.toFile());
        file.insert(QStringLiteral("List of Albums"), albumList);
        file.insert(QStringLiteral("List of Rolls"), rollList);
        return file;
    }
};

MediaLibraryHost::MediaLibraryHost() = default;
MediaLibraryHost::~MediaLibraryHost() = default;

MediaLibraryHost &MediaLibraryHost::shared()
{
    static MediaLibraryHost host;
    return host;
}

QString MediaLibraryHost::musicFolder()
{
    return userFolder(VtrFileInfo::kMusicDocumentsFolderType);
}

QString MediaLibraryHost::videosFolder()
{
    return userFolder(VtrFileInfo::kMovieDocumentsFolderType);
}

QString MediaLibraryHost::picturesFolder()
{
    return userFolder(VtrFileInfo::kPictureDocumentsFolderType);
}

QString MediaLibraryHost::playlistsFolder()
{
    const QString music = musicFolder();
    return music.isEmpty() ? QString() : QDir(music).filePath(QStringLiteral("Playlists"));
}

QString MediaLibraryHost::videoPlaylistsFolder()
{
    const QString videos = videosFolder();
    return videos.isEmpty() ? QString() : QDir(videos).filePath(QStringLiteral("Playlists"));
}

QString MediaLibraryHost::musicLibraryFilePath()
{
    return QDir(platform::dataFolder()).filePath(QStringLiteral("iTunes Music Library.xml"));
}

QString MediaLibraryHost::albumDataFilePath()
{
    return QDir(platform::dataFolder()).filePath(QStringLiteral("AlbumData.xml"));
}

QString MediaLibraryHost::collectionFolder(const QString &mediaFolder, const QString &name)
{
    return mediaFolder.isEmpty() ? QString() : QDir(mediaFolder).filePath(folderNameFor(name));
}

std::optional<vtr::PropertyListError> MediaLibraryHost::libraryFileDamage(const QString &path)
{
    std::lock_guard lock(m_lock);
    // A library without a file is not made here: that would make its media
    // folder, which only filing makes.
    if (!libraryFileStampOf(path).exists) return std::nullopt;
    try {
        if (path == musicLibraryFilePath()) music();
        else if (path == albumDataFilePath()) photos();
    } catch (const DamagedLibraryFile &damaged) {
        return damaged.error;
    } catch (const Failure &) {
        // Not about the file: the filing says it.
    }
    return std::nullopt;
}

bool MediaLibraryHost::isOwnLibraryFileThere(const QString &path)
{
    return libraryFileStampOf(path).exists;
}

vtr::LibraryTrackFolders MediaLibraryHost::trackFoldersOf(const QString &libraryFilePath,
                                                         const QString &musicFolderLocation)
{
    const QString file = QFileInfo(libraryFilePath).canonicalFilePath();
    const bool own = !file.isEmpty() && file == QFileInfo(musicLibraryFilePath()).canonicalFilePath();
    return vtr::libraryTrackFolders(libraryFilePath, musicFolderLocation,
                                    own ? std::optional(QStringList{musicFolder(), videosFolder()}) : std::nullopt);
}

QString MediaLibraryHost::musicVersion() const
{
    std::lock_guard lock(m_lock);
    return m_musicVersion;
}

QString MediaLibraryHost::photosVersion() const
{
    std::lock_guard lock(m_lock);
    return m_photosVersion;
}

void MediaLibraryHost::setVersionsForTesting(const QString &music, const QString &photos)
{
    std::lock_guard lock(m_lock);
    m_musicVersion = music;
    m_photosVersion = photos;
}

void MediaLibraryHost::setDiskForTesting(const std::optional<Disk> &disk)
{
    std::lock_guard lock(m_lock);
    m_diskForTesting = disk;
}

void MediaLibraryHost::forgetLibrariesForTesting()
{
    std::lock_guard lock(m_lock);
    m_music.reset();
    m_photos.reset();
}

bool MediaLibraryHost::isConfigured() const
{
    return !musicFolder().isEmpty() && !videosFolder().isEmpty() && !picturesFolder().isEmpty();
}

// ---------------------------------------------------------------------------
// Operations and batches

template <typename F>
auto MediaLibraryHost::operation(F &&work) -> decltype(work())
{
    std::lock_guard lock(m_lock);
    ++m_depth;
    try {
        if constexpr (std::is_void_v<decltype(work())>) {
            work();
            if (--m_depth == 0) endOfWork(true);
        } else {
            auto result = work();
            if (--m_depth == 0) endOfWork(true);
            return result;
        }
    } catch (...) {
        // What was done before the failure is kept all the same.
        if (m_depth > 0 && --m_depth == 0) endOfWork(false);
        throw;
    }
}

QString MediaLibraryHost::folderOfWork(QString (*folder)())
{
    auto it = m_foldersOfWork.constFind(folder);
    if (it == m_foldersOfWork.cend()) it = m_foldersOfWork.insert(folder, folder());
    return *it;
}

void MediaLibraryHost::endOfWork(bool reportFailure)
{
    m_takenNames.clear();
    m_foldersOfWork.clear();
    const bool musicUsed = m_music && m_music->held;
    const bool photosUsed = m_photos && m_photos->held;
    for (LibraryState *library : {static_cast<LibraryState *>(m_music.get()), static_cast<LibraryState *>(m_photos.get())})
        if (library) {
            library->held = false;
            library->files.settle();
        }
    try {
        writeChanges(musicUsed, photosUsed);
    } catch (const Failure &f) {
        if (reportFailure) throw;
        VTR_LOG(1, QStringLiteral("The media library could not be saved: %1 (%2)").arg(f.message).arg(f.number));
    }
}

namespace {

// The library of `slot` is dropped, with a failure, when another program
// wrote its file since this host read it: that version stays (the files this
// one filed are found again in their folders by the next import).
template <typename Library>
void dropWhenWrittenMeanwhile(std::unique_ptr<Library> &slot, const QString &path, const QString &what)
{
    if (!slot || !slot->dirty || libraryFileStampOf(path) == slot->stamp) return;
    slot.reset();
    throw Failure{-61, vtrLocalized("The %1 \"%2\" was changed by another program meanwhile and is left as it is.")
                           .arg(what, path)};
}

// Writes the library of `slot` when it changed (and nobody else wrote it).
template <typename Library>
void writeLibraryFile(std::unique_ptr<Library> &slot, const QString &path, const QString &what)
{
    dropWhenWrittenMeanwhile(slot, path, what);
    if (!slot || !slot->dirty) return;
    writeLibraryFileBytes(path, vtr::XmlPropertyListWriter::toXml(slot->toFile()), what);
    slot->stamp = libraryFileStampOf(path);
    slot->dirty = false;
}

}  // namespace

void MediaLibraryHost::writeChanges(bool musicUsed, bool photosUsed)
{
    // Each file is saved whatever became of the others; what failed is
    // reported at the end, together. A library that another work changed
    // and could not save is tried again here, but its failure is that
    // work's: the photos' line does not tell of the music library file.
    QList<Failure> failures;
    bool onlyPlaylistFiles = true;
    const auto attempt = [&failures, &onlyPlaylistFiles](bool used, const std::function<void()> &save,
                                                          bool playlistFile = false) {
        try {
            save();
        } catch (const Failure &f) {
            if (used) {
                failures.append(f);
                onlyPlaylistFiles = onlyPlaylistFiles && playlistFile;
            } else {
                VTR_LOG(2, QStringLiteral("The media library could not be saved: %1 (%2)").arg(f.message).arg(f.number));
            }
        }
    };
    const QString music = vtrLocalized("library file of your music and videos");
    // The playlist files are recorded in the music library file, so they go
    // first; none is written for a library another program wrote meanwhile.
    attempt(musicUsed, [&] { dropWhenWrittenMeanwhile(m_music, musicLibraryFilePath(), music); });
    if (m_music) {
        QHash<QString, MusicLibrary::FolderNames> taken;
        for (MusicLibrary::PlaylistEntry &p : m_music->playlists)
            if (p.dirty) attempt(musicUsed, [&] { m_music->writePlaylistFile(p, taken); }, true);
    }
    attempt(musicUsed, [&] { writeLibraryFile(m_music, musicLibraryFilePath(), music); });
    attempt(photosUsed,
            [&] { writeLibraryFile(m_photos, albumDataFilePath(), vtrLocalized("photo library file")); });
    if (failures.isEmpty()) return;
    // A folder that refuses every playlist is said once.
    QStringList messages;
    QSet<QString> said;
    for (const Failure &f : std::as_const(failures))
        if (!said.contains(f.message)) {
            said.insert(f.message);
            messages.append(f.message);
        }
    throw Failure{failures.first().number, messages.join(QLatin1Char(' ')), QString(), onlyPlaylistFiles};
}

MediaLibraryHost::Batch::Batch(MediaLibraryHost &host) : m_host(&host)
{
    std::lock_guard lock(host.m_lock);
    ++host.m_depth;
}

void MediaLibraryHost::Batch::commit()
{
    if (!m_open) return;
    m_open = false;
    std::lock_guard lock(m_host->m_lock);
    if (--m_host->m_depth == 0) m_host->endOfWork(true);
}

MediaLibraryHost::Batch::~Batch()
{
    if (!m_open) return;
    std::lock_guard lock(m_host->m_lock);
    if (--m_host->m_depth == 0) m_host->endOfWork(false);
}

// ---------------------------------------------------------------------------
// Library files. A file changed on disk since this host last read or wrote it
// (by another process, or a test that starts afresh) is read again, so it is
// never overwritten with an old copy; within a batch it is read once.

namespace {

// The library in `slot`, read again when its file changed on disk; `fresh`
// makes the contents of a library that has no file yet.
template <typename Library>
Library &libraryIn(std::unique_ptr<Library> &slot, int depth, const QString &path, const QString &what,
                   const std::function<QVariantMap()> &fresh)
{
    if (slot && slot->held) return *slot;
    const vtr::FileStamp stamp = libraryFileStampOf(path);
    if (!slot || slot->stamp != stamp) {
        slot.reset();
        QVariantMap file = loadLibraryFile(path, what);
        auto library = std::make_unique<Library>();
        library->load(file.isEmpty() ? fresh() : file);
        library->stamp = stamp;
        slot = std::move(library);
    }
    slot->held = depth > 0;
    return *slot;
}

}  // namespace

MediaLibraryHost::MusicLibrary &MediaLibraryHost::music()
{
    return libraryIn(m_music, m_depth, musicLibraryFilePath(), vtrLocalized("library file of your music and videos"), [this] {
        const QString folder = musicFolder();
        if (folder.isEmpty()) throw Failure{-43, vtrLocalized("There is no music folder.")};
        QVariantMap file{{QStringLiteral("Major Version"), 1},
                         {QStringLiteral("Minor Version"), 1},
                         {QStringLiteral("Application Version"), m_musicVersion},
                         {QStringLiteral("Features"), 5},
                         {QStringLiteral("Show Content Ratings"), true},
                         {QStringLiteral("Music Folder"), vtr::libraryLocationForLocalPath(folder, true)},
                         {QStringLiteral("Library Persistent ID"), randomPersistentID()}};
        const qint64 masterID = nextNumber(file, QStringLiteral("Next ID"), 100);
        const QVariantMap master{{QStringLiteral("Name"), QStringLiteral("Library")},
                                 {QStringLiteral("Master"), true},
                                 {QStringLiteral("Visible"), false},
                                 {QStringLiteral("All Items"), true},
                                 {QStringLiteral("Playlist ID"), masterID},
                                 {QStringLiteral("Playlist Persistent ID"), randomPersistentID()}};
        file.insert(QStringLiteral("Playlists"), QVariantList{master});
        return file;
    });
}

MediaLibraryHost::PhotoLibrary &MediaLibraryHost::photos()
{
    return libraryIn(m_photos, m_depth, albumDataFilePath(), vtrLocalized("photo library file"), [this] {
        const QString folder = picturesFolder();
        if (folder.isEmpty()) throw Failure{-43, vtrLocalized("There is no pictures folder.")};
        const QVariantMap master{{QStringLiteral("AlbumId"), kLibraryAlbumID},
                                 {QStringLiteral("AlbumName"), QStringLiteral("Photos")},
                                 {QStringLiteral("Master"), true}};
        return QVariantMap{{QStringLiteral("Major Version"), 2},
                           {QStringLiteral("Minor Version"), 0},
                           {QStringLiteral("Application Version"), m_photosVersion},
                           {QStringLiteral("Archive Path"), folder},
                           {QStringLiteral("List of Albums"), QVariantList{master}}};
    });
}

// ---------------------------------------------------------------------------
// Filing files

namespace {

int cloneFile(int source, int target)
{
    return ::ioctl(target, FICLONE, source) == 0 ? 0 : errno;
}

qint64 freeSpaceOf(int fd)
{
    struct statvfs vfs;
    // Unknown: the writes tell.
    if (::fstatvfs(fd, &vfs) != 0) return std::numeric_limits<qint64>::max();
    const quint64 bytes = quint64(vfs.f_bavail) * quint64(vfs.f_frsize);
    return bytes > quint64(std::numeric_limits<qint64>::max()) ? std::numeric_limits<qint64>::max() : qint64(bytes);
}

constexpr MediaLibraryHost::Disk kRealDisk{cloneFile, freeSpaceOf};

Failure copyFailure(const QString &source, const QString &folder, int error)
{
    // Also a disk that fills up meanwhile, or whose temporary file cannot be made for it.
    if (error == ENOSPC || error == EDQUOT)
        return Failure{MediaLibraryHost::kNoRoomNumber,
                       vtrLocalized("There is not enough space on the disk that holds \"%1\" to add \"%2\" to it.")
                           .arg(folder, source)};
    return Failure{-36,
                   vtrLocalized("\"%1\" could not be copied into \"%2\": %3")
                       .arg(source, folder, QString::fromLocal8Bit(std::strerror(error))),
                   folder};
}

// `source` copied (or cloned) into the empty file open as `out`, with the
// source's modification date (a photo is dated by it). A source that changed
// meanwhile (another user's writing into a file they may write) is no copy
// of what was looked at.
void fillWithCopy(int out, const SourceFile &source, const QString &folder, const MediaLibraryHost::Disk &disk)
{
    const int in = source.fd.get();
    // A clone takes no room; a copy takes all of its size.
    if (disk.clone(in, out) != 0) {
        if (disk.freeSpace(out) < source.stamp.size) throw copyFailure(source.path, folder, ENOSPC);
        if (::lseek(in, 0, SEEK_SET) != 0 || !vtr::localfs::copyFileData(in, out))
            throw copyFailure(source.path, folder, errno);
    }
    struct stat after;
    if (::fstat(in, &after) != 0 || stampOf(after) != source.stamp)
        throw Failure{
            -36,
            vtrLocalized("\"%1\" changed while it was put into \"%2\", so it is not added.").arg(source.path, folder)};
    const struct timespec times[2] = {{0, UTIME_OMIT}, after.st_mtim};
    ::futimens(out, times);
}

}  // namespace

void MediaLibraryHost::setAfterFolderCheckedForTesting(std::function<void(const QString &folder)> hook)
{
    std::lock_guard lock(g_checkHookLock);
    g_afterFolderChecked = std::move(hook);
}

QString MediaLibraryHost::fileIntoFolder(const SourceFile &source, const QString &folder, const QString &wanted)
{
    auto taken = m_takenNames.find(folder);
    if (taken == m_takenNames.end()) {
        errno = 0;
        if (!VtrMacFileInfo::fileInfoCreateFolderWithFullPath(folder)) throw folderNotMade(folder, errno);
    }
    // Each time: a folder of ours in a folder that others may write into can
    // be put aside and a link put in its place meanwhile.
    const platform::Descriptor dir = checkedFolder(folder);
    if (taken == m_takenNames.end()) taken = m_takenNames.insert(folder, takenNamesIn(dir.get()));

    // Under the copy's temporary name, which listings leave out and a later
    // copy into the folder clears when an interrupted one left it: a file of
    // this user's there, or a link (which holds nothing and is not followed).
    const QByteArray temporary(kVtrCopyTempFileName);
    const QString temporaryPath = QDir(folder).filePath(QLatin1String(kVtrCopyTempFileName));
    const vtr::TemporaryCopyFileLease lease(temporaryPath);
    if (!lease.acquired()) throw copyFailure(source.path, folder, EBUSY);
    struct stat leftover;
    if (::fstatat(dir.get(), temporary.constData(), &leftover, AT_SYMLINK_NOFOLLOW) == 0 &&
        ((S_ISREG(leftover.st_mode) && leftover.st_uid == ::geteuid()) || S_ISLNK(leftover.st_mode)))
        ::unlinkat(dir.get(), temporary.constData(), 0);
    vtr::beforeTemporaryFileCreated(temporaryPath);
    NewFile file(dir.get(), temporary);
    if (const int error = file.create(); error != 0) throw copyFailure(source.path, folder, error);
    fillWithCopy(file.fd(), source, folder, m_diskForTesting.value_or(kRealDisk));
    if (const int error = file.close(false); error != 0) throw copyFailure(source.path, folder, error);

    // Made unique as VtrBaseFileInfo::uniqueFilename() does, against the
    // names this batch took already; a name another program took meanwhile
    // stays theirs. `wanted` never begins with ".", so it has a base name.
    const QString base = QFileInfo(wanted).completeBaseName();
    const QString ext = QFileInfo(wanted).suffix();
    for (int n = 0; n < VtrBaseFileInfo::kMaxUniqueNameAttempts; ++n) {
        const QString name = n > 0 ? vtr::numberedName(base, ext, n) : wanted;
        if (taken->contains(name.toCaseFolded())) continue;
        taken->insert(name.toCaseFolded());
        const int error = file.moveTo(QFile::encodeName(name), false);
        if (error == EEXIST) continue;
        if (error != 0) throw copyFailure(source.path, folder, error);
        if (!stillAt(dir.get(), folder)) {
            file.remove();
            throw movedMeanwhile(QStringLiteral("\"%1\"").arg(source.path), folder);
        }
        return QDir(folder).filePath(name);
    }
    throw Failure{-48, vtrLocalized("No free file name in \"%1\".").arg(folder)};
}

vtr::FiledFiles::Placement MediaLibraryHost::placeFile(vtr::FiledFiles &files, const SourceFile &source,
                                                       const QString &folder)
{
    const QString name = folderNameFor(QFileInfo(source.path).fileName());
    const int fd = source.fd.get();
    vtr::FiledFiles::Placement placement = files.placementOf(
        source.path, source.stamp, [fd] { return vtr::FiledFiles::digestOf(fd); }, folder, name);
    if (!placement.path.isEmpty()) {
        // A file found lying there is the file only as a file of the checked
        // folder itself: not one reached through a link at the folder's name
        // or at its own.
        struct stat st;
        const platform::Descriptor dir = checkedFolder(folder);
        if (::fstatat(dir.get(), QFile::encodeName(name).constData(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(st.st_mode))
            placement.path.clear();
    }
    if (placement.id.isEmpty() && placement.path.isEmpty()) placement.path = fileIntoFolder(source, folder, name);
    return placement;
}

qint64 MediaLibraryHost::addOneMediaFile(const SourceFile &source, const QString &collection)
{
    MusicLibrary &library = music();
    // An import run again meets what it filed before: known without a probe.
    if (const QString filed = library.files.idOfFiled(source.path, source.stamp); !filed.isEmpty())
        return filed.toLongLong();
    vtr::MediaTags tags;
    const Filing filing = filingOf(source.fd.get(), source.path, &tags);
    if (filing == Filing::Refused)
        throw Failure{-1700, vtrLocalized("\"%1\" is not a music or video file.").arg(source.path)};
    const bool video = filing == Filing::Video;
    const QString root = video ? folderOfWork(videosFolder) : folderOfWork(musicFolder);
    if (root.isEmpty()) throw Failure{-43, vtrLocalized("There is no music or videos folder.")};

    const QString folder = collectionFolder(root, collection);
    const vtr::FiledFiles::Placement placed = placeFile(library.files, source, folder);
    if (!placed.id.isEmpty()) return placed.id.toLongLong();
    const QString &target = placed.path;
    const QFileInfo file(target);
    // A name the library still records for a file since removed is taken
    // over, so one path never stands for two tracks.
    const QString known = library.files.idOfPath(target);
    const qint64 trackID = !known.isEmpty() ? known.toLongLong()
                                            : nextNumber(library.header, QStringLiteral("Next ID"), 100);
    // Without a title the song is called as the file came, not by the name
    // made unique here ("-1"): the same song from another phone reads alike.
    const QString title = tags.title.isEmpty() ? QFileInfo(source.name).completeBaseName() : tags.title;
    QVariantMap track{{QStringLiteral("Track ID"), trackID},
                      {QStringLiteral("Name"), title},
                      {QStringLiteral("Kind"), kindForExtension(file.suffix(), video)},
                      {QStringLiteral("Size"), file.size()},
                      {QStringLiteral("Date Modified"), file.lastModified().toUTC()},
                      {QStringLiteral("Date Added"), QDateTime::currentDateTimeUtc()},
                      {QStringLiteral("Persistent ID"), randomPersistentID()},
                      {QStringLiteral("Track Type"), QStringLiteral("File")},
                      {QStringLiteral("Album"), collection},
                      {QStringLiteral("Location"), vtr::libraryLocationForLocalPath(target)}};
    if (!tags.artist.isEmpty()) track.insert(QStringLiteral("Artist"), tags.artist);
    if (tags.milliseconds > 0) track.insert(QStringLiteral("Total Time"), tags.milliseconds);
    if (video) {
        track.insert(QStringLiteral("Has Video"), true);
        track.insert(QStringLiteral("Movie"), true);
    }
    library.tracks.insert(QString::number(trackID), track);
    library.files.add(QString::number(trackID), target, true);
    library.files.addSource(QString::number(trackID), source.path, source.stamp, target);
    const qsizetype master = library.masterIndex();
    if (master >= 0) library.playlists[master].add(trackID);
    library.dirty = true;
    return trackID;
}

QList<qint64> MediaLibraryHost::addMediaFiles(const QString &path, const QString &collection, QStringList *refused)
{
    return operation([&] {
        music();
        QList<qint64> ids;
        if (!QFileInfo(path).isDir()) {
            ids.append(addOneMediaFile(sourceAtPath(path), collection));
            return ids;
        }
        for (const QString &file : filesOfFolder(path)) {
            try {
                ids.append(addOneMediaFile(sourceAtPath(file), collection));
            } catch (const Failure &f) {
                logRefusal(f);
                if (refused) refused->append(file);
            }
        }
        return ids;
    });
}

qint64 MediaLibraryHost::addCopiedMediaFile(const vtr::CopiedFile &copy, const QString &collection)
{
    return operation([&] {
        music();
        return addOneMediaFile(sourceOfCopy(copy), collection);
    });
}

QString MediaLibraryHost::fileOfTrack(qint64 trackID)
{
    return operation([&] { return MusicLibrary::localPath(music().tracks.value(QString::number(trackID)).toMap()); });
}

// ---------------------------------------------------------------------------
// Playlists

namespace {

MediaLibraryHost::Playlist playlistFromMap(const QVariantMap &map)
{
    MediaLibraryHost::Playlist p;
    p.playlistID = map.value(QStringLiteral("Playlist ID")).toLongLong();
    p.persistentID = map.value(QStringLiteral("Playlist Persistent ID")).toString();
    p.name = map.value(QStringLiteral("Name")).toString();
    p.folder = map.value(QStringLiteral("Folder")).toBool();
    p.master = map.value(QStringLiteral("Master")).toBool();
    return p;
}

}  // namespace

QList<MediaLibraryHost::Playlist> MediaLibraryHost::playlists()
{
    return operation([&] {
        QList<Playlist> result;
        for (const MusicLibrary::PlaylistEntry &p : music().playlists)
            result.append(playlistFromMap(p.info));
        return result;
    });
}

std::optional<MediaLibraryHost::Playlist> MediaLibraryHost::findPlaylist(const QString &name, bool folder)
{
    for (const Playlist &p : playlists())
        if (!p.master && p.folder == folder && p.name.compare(name, Qt::CaseInsensitive) == 0) return p;
    return std::nullopt;
}

std::optional<MediaLibraryHost::Playlist> MediaLibraryHost::playlistWithPersistentID(const QString &persistentID)
{
    for (const Playlist &p : playlists())
        if (p.persistentID == persistentID) return p;
    return std::nullopt;
}

qsizetype MediaLibraryHost::playlistFilesWritten(const QSet<QString> &persistentIDs)
{
    return operation([&] {
        qsizetype written = 0;
        for (const MusicLibrary::PlaylistEntry &p : music().playlists)
            if (!p.dirty && !MusicLibrary::fileMissing(p) &&
                persistentIDs.contains(p.info.value(QStringLiteral("Playlist Persistent ID")).toString()))
                ++written;
        return written;
    });
}

QList<MediaLibraryHost::UnwrittenPlaylist> MediaLibraryHost::playlistsNotWritten(const QSet<QString> &persistentIDs)
{
    return operation([&] {
        const MusicLibrary &library = music();
        QList<UnwrittenPlaylist> unwritten;
        for (const MusicLibrary::PlaylistEntry &p : library.playlists)
            if (!p.items.isEmpty() && (p.dirty || MusicLibrary::fileMissing(p)) &&
                persistentIDs.contains(p.info.value(QStringLiteral("Playlist Persistent ID")).toString()))
                unwritten.append({p.info.value(QStringLiteral("Name")).toString(),
                                  QDir::cleanPath(library.folderOf(p))});
        return unwritten;
    });
}

MediaLibraryHost::Playlist MediaLibraryHost::createPlaylist(const QString &name, bool folder)
{
    return operation([&] { return createPlaylistLocked(name, folder); });
}

MediaLibraryHost::Playlist MediaLibraryHost::createPlaylistLocked(const QString &name, bool folder)
{
    if (name.trimmed().isEmpty()) throw Failure{-1700, vtrLocalized("A playlist needs a name.")};
    MusicLibrary &library = music();
    MusicLibrary::PlaylistEntry entry;
    entry.info = {{QStringLiteral("Name"), name},
                  {QStringLiteral("All Items"), true},
                  {QStringLiteral("Playlist ID"), nextNumber(library.header, QStringLiteral("Next ID"), 100)},
                  {QStringLiteral("Playlist Persistent ID"), randomPersistentID()}};
    if (folder) entry.info.insert(QStringLiteral("Folder"), true);
    entry.dirty = !folder;
    library.playlists.append(entry);
    library.dirty = true;
    return playlistFromMap(entry.info);
}

void MediaLibraryHost::addTracksToPlaylist(const QList<qint64> &trackIDs, const QString &playlistPersistentID)
{
    operation([&] {
        MusicLibrary &library = music();
        for (MusicLibrary::PlaylistEntry &playlist : library.playlists) {
            if (playlist.info.value(QStringLiteral("Playlist Persistent ID")).toString() != playlistPersistentID)
                continue;
            if (playlist.info.value(QStringLiteral("Folder")).toBool())
                throw Failure{-10000, vtrLocalized("Tracks cannot be added to the folder \"%1\".")
                                          .arg(playlist.info.value(QStringLiteral("Name")).toString())};
            for (qint64 id : trackIDs)
                if (!library.tracks.contains(QString::number(id)))
                    throw Failure{-1728, vtrLocalized("There is no track %1.").arg(id)};
            for (qint64 id : trackIDs)
                if (library.addSong(playlist, id)) playlist.dirty = library.dirty = true;
            // Its file, which an earlier import could not write, is written
            // now that it is used again.
            if (MusicLibrary::fileMissing(playlist)) playlist.dirty = true;
            return;
        }
        throw Failure{-1728, vtrLocalized("There is no playlist %1.").arg(playlistPersistentID)};
    });
}

// ---------------------------------------------------------------------------
// Photos

namespace {

MediaLibraryHost::Album albumFromMap(const QVariantMap &map)
{
    return {map.value(QStringLiteral("AlbumId")).toLongLong(), map.value(QStringLiteral("AlbumName")).toString(),
            map.value(QStringLiteral("Album Type")).toString()};
}

}  // namespace

QList<MediaLibraryHost::Album> MediaLibraryHost::albums()
{
    return operation([&] {
        QList<Album> result;
        for (const PhotoLibrary::Group &a : photos().albums)
            result.append(albumFromMap(a.info));
        return result;
    });
}

std::optional<MediaLibraryHost::Album> MediaLibraryHost::findAlbum(const QString &name)
{
    for (const Album &a : albums())
        if (a.type == QLatin1String("Regular") && a.name == name) return a;
    return std::nullopt;
}

MediaLibraryHost::Album MediaLibraryHost::createAlbum(const QString &name)
{
    return operation([&] { return createAlbumLocked(name); });
}

MediaLibraryHost::Album MediaLibraryHost::createAlbumLocked(const QString &name)
{
    if (name.trimmed().isEmpty()) throw Failure{-1700, vtrLocalized("An album needs a name.")};
    PhotoLibrary &library = photos();
    PhotoLibrary::Group album;
    album.info = {{QStringLiteral("AlbumId"), nextNumber(library.header, QStringLiteral("Next Album ID"), kFirstAlbumID)},
                  {QStringLiteral("AlbumName"), name},
                  {QStringLiteral("Album Type"), QStringLiteral("Regular")},
                  {QStringLiteral("GUID"), randomPersistentID()}};
    library.albums.append(album);
    library.dirty = true;
    return albumFromMap(album.info);
}

QString MediaLibraryHost::addOnePhoto(const SourceFile &source, qsizetype albumIndex)
{
    // A picture or movie by its name's extension: nothing is opened to tell.
    const QString ext = QFileInfo(source.path).suffix();
    const bool still = !ext.isEmpty() && VtrQTUtils::stillImageTypes().contains(ext, Qt::CaseInsensitive);
    if (!still && (ext.isEmpty() || ext.compare(QLatin1String("pdf"), Qt::CaseInsensitive) == 0 ||
                   !VtrQTUtils::mediaFileExtensions(false).contains(ext.toLower())))
        throw Failure{-1700, vtrLocalized("\"%1\" is not a picture or movie.").arg(source.path)};

    PhotoLibrary &library = photos();
    PhotoLibrary::Group &album = library.albums[albumIndex];
    const auto fileIn = [&album](const QString &key) {
        album.add(key);
        return key;
    };
    const QString folder =
        collectionFolder(folderOfWork(picturesFolder), album.info.value(QStringLiteral("AlbumName")).toString());
    const vtr::FiledFiles::Placement placed = placeFile(library.files, source, folder);
    if (!placed.id.isEmpty()) return fileIn(placed.id);
    const QString &target = placed.path;
    const QFileInfo file(target);
    const QString known = library.files.idOfPath(target);
    const QString key = !known.isEmpty() ? known
                                         : QString::number(nextNumber(library.header, QStringLiteral("Next Image Key"), 1));
    const qint64 modified = secondsSinceReferenceDate(file.lastModified().toUTC());
    library.images.insert(key, QVariantMap{{QStringLiteral("MediaType"), still ? QStringLiteral("Image") : QStringLiteral("Movie")},
                                           {QStringLiteral("Caption"), file.completeBaseName()},
                                           {QStringLiteral("ImagePath"), target},
                                           {QStringLiteral("OriginalPath"), target},
                                           {QStringLiteral("GUID"), randomPersistentID()},
                                           {QStringLiteral("DateAsTimerInterval"), double(modified)},
                                           {QStringLiteral("ModDateAsTimerInterval"), double(modified)},
                                           {QStringLiteral("Roll"), album.info.value(QStringLiteral("AlbumId"))}});
    library.files.add(key, target, true);
    library.files.addSource(key, source.path, source.stamp, target);
    return fileIn(key);
}

QStringList MediaLibraryHost::addPhotosLocked(const QString &path, qint64 albumID, QStringList *refused)
{
    return filePhotosLocked(albumID, [&](qsizetype index) {
        QStringList keys;
        if (!QFileInfo(path).isDir()) return QStringList{addOnePhoto(sourceAtPath(path), index)};
        for (const QString &file : filesOfFolder(path)) {
            try {
                keys.append(addOnePhoto(sourceAtPath(file), index));
            } catch (const Failure &f) {
                logRefusal(f);
                if (refused) refused->append(file);
            }
        }
        return keys;
    });
}

QStringList MediaLibraryHost::filePhotosLocked(qint64 albumID, const std::function<QStringList(qsizetype)> &file)
{
    PhotoLibrary &library = photos();
    qsizetype index = -1, masterIndex = -1;
    for (qsizetype i = 0; i < library.albums.size(); ++i) {
        const QVariantMap &a = library.albums.at(i).info;
        if (a.value(QStringLiteral("AlbumId")).toLongLong() == albumID &&
            a.value(QStringLiteral("Album Type")).toString() == QLatin1String("Regular"))
            index = i;
        if (a.value(QStringLiteral("Master")).toBool()) masterIndex = i;
    }
    if (index < 0) throw Failure{-1728, vtrLocalized("There is no album %1.").arg(albumID)};

    const QStringList keys = file(index);
    if (keys.isEmpty()) return keys;

    // Every picture is also in the library album and in an event named
    // after the album it came with.
    if (masterIndex >= 0)
        for (const QString &key : std::as_const(keys)) library.albums[masterIndex].add(key);
    const QVariantMap &album = library.albums.at(index).info;
    auto roll = library.rollOfAlbum.constFind(albumID);
    if (roll == library.rollOfAlbum.cend()) {
        PhotoLibrary::Group event;
        event.info = {{QStringLiteral("RollID"), albumID},
                      {QStringLiteral("RollName"), album.value(QStringLiteral("AlbumName"))},
                      {QStringLiteral("RollDateAsTimerInterval"),
                       double(secondsSinceReferenceDate(QDateTime::currentDateTimeUtc()))}};
        library.rolls.append(event);
        roll = library.rollOfAlbum.insert(albumID, library.rolls.size() - 1);
    }
    for (const QString &key : std::as_const(keys)) library.rolls[*roll].add(key);
    library.dirty = true;
    return keys;
}

QStringList MediaLibraryHost::addPhotos(const QString &path, const QString &albumName, QStringList *refused)
{
    return operation([&] {
        const Album album = findAlbum(albumName).value_or(Album{});
        const qint64 id = album.albumID ? album.albumID : createAlbumLocked(albumName).albumID;
        return addPhotosLocked(path, id, refused);
    });
}

QString MediaLibraryHost::addCopiedPhoto(const vtr::CopiedFile &copy, const QString &albumName)
{
    return operation([&] {
        const Album album = findAlbum(albumName).value_or(Album{});
        const qint64 id = album.albumID ? album.albumID : createAlbumLocked(albumName).albumID;
        const SourceFile source = sourceOfCopy(copy);
        return filePhotosLocked(id, [&](qsizetype index) { return QStringList{addOnePhoto(source, index)}; }).value(0);
    });
}

QStringList MediaLibraryHost::addPhotosToAlbumID(const QString &path, qint64 albumID, QStringList *refused)
{
    return operation([&] { return addPhotosLocked(path, albumID, refused); });
}

QString MediaLibraryHost::fileOfImage(const QString &imageKey)
{
    return operation(
        [&] { return photos().images.value(imageKey).toMap().value(QStringLiteral("ImagePath")).toString(); });
}
