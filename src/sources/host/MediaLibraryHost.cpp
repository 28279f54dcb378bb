#include "sources/host/MediaLibraryHost.h"

#include "fileinfo/VtrFileInfo.h"
#include "fileinfo/VtrMacFileInfo.h"
#include "fileinfo/VtrQTUtils.h"
#include "foundation/Log.h"
#include "platform/Folders.h"
#include "platform/Strings.h"
#include "platform/VtrException.h"
#include "sources/host/LibraryLocation.h"
#include "sources/host/MediaContent.h"
#include "sources/host/PropertyListXml.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Seconds between 1970 and the reference date of the photo library's
// "…AsTimerInterval" values (1 January 2001 GMT).
constexpr qint64 kReferenceDateOffset = 978307200;
constexpr qint64 kFirstAlbumID = 1000;
constexpr qint64 kLibraryAlbumID = 999000;
constexpr int kMaxNameAttempts = 10000;

using Failure = MediaLibraryHost::Failure;

// A file's identity on this computer: (device, inode).
using FileKey = QPair<quint64, quint64>;

std::optional<FileKey> fileKeyOf(const QString &path)
{
    struct stat st
    {
    };
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) return std::nullopt;
    return FileKey(quint64(st.st_dev), quint64(st.st_ino));
}

// What a library file looked like when this host last read or wrote it.
struct FileStamp
{
    bool exists = false;
    qint64 size = 0, seconds = 0, nanoseconds = 0;
    quint64 device = 0, inode = 0;
    bool operator==(const FileStamp &) const = default;
};

FileStamp stampOf(const QString &path)
{
    struct stat st
    {
    };
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) return {};
    return {true, qint64(st.st_size), qint64(st.st_mtim.tv_sec), qint64(st.st_mtim.tv_nsec), quint64(st.st_dev),
            quint64(st.st_ino)};
}

QByteArray contentDigest(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    QCryptographicHash hash(QCryptographicHash::Sha1);
    return hash.addData(&file) ? hash.result() : QByteArray();
}

// The digest of one file, computed when first asked.
class LazyDigest
{
public:
    explicit LazyDigest(QString path) : m_path(std::move(path)) {}
    const QByteArray &value()
    {
        if (!m_done) m_value = contentDigest(m_path);
        m_done = true;
        return m_value;
    }

private:
    QString m_path;
    QByteArray m_value;
    bool m_done = false;
};

bool sameContent(const QString &existing, const QFileInfo &source, LazyDigest &digest)
{
    const QFileInfo existingInfo(existing);
    if (!existingInfo.isFile() || existingInfo.size() != source.size()) return false;
    if (fileKeyOf(existing) == fileKeyOf(source.filePath())) return true;
    const QByteArray theirs = contentDigest(existing);
    return !theirs.isEmpty() && theirs == digest.value();
}

// A file name without the "-<n>" that made a copy's name unique, case-folded:
// "Song-2.mp3" and "song.mp3" are one name.
QString nameStem(const QString &fileName)
{
    static const QRegularExpression copyNumber(QStringLiteral("-\\d+$"));
    const QFileInfo info(fileName);
    QString base = info.completeBaseName();
    base.remove(copyNumber);
    const QString suffix = info.suffix();
    return (suffix.isEmpty() ? base : base + QLatin1Char('.') + suffix).toCaseFolded();
}

// The files recorded in each folder, to find the one filed before for a new
// file: the same name (or that name made unique) and the same bytes, by size
// first and by digest only when sizes agree, each recorded file read at most
// once. Files recorded during the current import are found only afterwards:
// two equal songs of one import are both filed.
class ContentIndex
{
public:
    void add(const QString &path, const QString &id, bool fresh)
    {
        if (fresh)
            m_fresh.append({path, id});
        else
            groupOf(path).unsized.append({path, id});
    }
    void settle()
    {
        for (const Entry &e : std::as_const(m_fresh))
            groupOf(e.path).unsized.append(e);
        m_fresh.clear();
    }
    QString find(const QString &folder, const QString &name, qint64 size, LazyDigest &digest)
    {
        auto it = m_groups.find(folder + QLatin1Char('/') + nameStem(name));
        if (it == m_groups.end()) return {};
        Group &g = *it;
        for (const Entry &e : std::as_const(g.unsized)) {
            const QFileInfo info(e.path);
            if (info.isFile()) g.unhashed[info.size()].append(e);
        }
        g.unsized.clear();
        for (const Entry &e : g.unhashed.take(size)) {
            const QByteArray d = contentDigest(e.path);
            if (!d.isEmpty() && !g.hashed[size].contains(d)) g.hashed[size].insert(d, e.id);
        }
        const auto hashed = g.hashed.constFind(size);
        if (hashed == g.hashed.cend() || hashed->isEmpty()) return {};
        return hashed->value(digest.value());
    }

private:
    struct Entry
    {
        QString path, id;
    };
    struct Group
    {
        QList<Entry> unsized;
        QHash<qint64, QList<Entry>> unhashed;
        QHash<qint64, QHash<QByteArray, QString>> hashed;
    };
    Group &groupOf(const QString &path)
    {
        const QFileInfo info(path);
        return m_groups[info.path() + QLatin1Char('/') + nameStem(info.fileName())];
    }

    QHash<QString, Group> m_groups;  // folder and name stem -> files
    QList<Entry> m_fresh;
};

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

// Through a temporary file in the same folder: a reader never sees half a
// library, and a failed write leaves the old one.
void writeAtomically(const QString &path, const QByteArray &bytes, const QString &what)
{
    const QFileInfo target(path);
    auto folder = VtrMacFileInfo::fileInfoCreateFolderWithFullPath(target.absolutePath());
    auto file = folder ? folder->createFile(target.fileName(), bytes, QVariantMap(), false, nullptr, nullptr) : nullptr;
    if (!file || !file->exists() || file->size() != bytes.size())
        throw Failure{-61, vtrLocalized("The %1 could not be written to \"%2\".").arg(what, path)};
}

QVariantMap loadLibraryFile(const QString &path, const QString &what)
{
    if (!QFileInfo::exists(path)) return {};
    vtr::PropertyListError error;
    auto map = vtr::XmlPropertyListReader::readDictionaryFile(path, &error);
    if (!map)
        throw Failure{-2700, vtrLocalized("The %1 \"%2\" is damaged: %3").arg(what, path, error.toString())};
    return *map;
}

qint64 nextNumber(QVariantMap &header, const QString &counterKey, qint64 first)
{
    const qint64 next = qMax(header.value(counterKey).toLongLong(), first);
    header.insert(counterKey, next + 1);
    return next;
}

// What a desktop player plays. Sound formats are known by their extension
// alone; containers that may hold pictures are opened to tell a video from a
// song (one that cannot be read counts as a video); any other file is filed
// when its content is sound or video.
enum class Filing
{
    Refused,
    Music,
    Video,
};

Filing filingOf(const QString &path)
{
    static const QSet<QString> sound = {
        QStringLiteral("mp3"),  QStringLiteral("mp2"),  QStringLiteral("mp1"),  QStringLiteral("mpga"),
        QStringLiteral("m4a"),  QStringLiteral("m4b"),  QStringLiteral("m4p"),  QStringLiteral("m4r"),
        QStringLiteral("aac"),  QStringLiteral("adts"), QStringLiteral("ac3"),  QStringLiteral("eac3"),
        QStringLiteral("aif"),  QStringLiteral("aiff"), QStringLiteral("aifc"), QStringLiteral("wav"),
        QStringLiteral("wave"), QStringLiteral("w64"),  QStringLiteral("au"),   QStringLiteral("snd"),
        QStringLiteral("caf"),  QStringLiteral("amr"),  QStringLiteral("awb"),  QStringLiteral("mid"),
        QStringLiteral("midi"), QStringLiteral("kar"),  QStringLiteral("flac"), QStringLiteral("ogg"),
        QStringLiteral("oga"),  QStringLiteral("opus"), QStringLiteral("spx"),  QStringLiteral("mka"),
        QStringLiteral("wma"),  QStringLiteral("wv"),   QStringLiteral("ape"),  QStringLiteral("mpc"),
        QStringLiteral("tta"),  QStringLiteral("dsf"),  QStringLiteral("dff"),  QStringLiteral("ra")};
    static const QSet<QString> video = {
        QStringLiteral("mp4"), QStringLiteral("m4v"),  QStringLiteral("mov"),  QStringLiteral("qt"),
        QStringLiteral("3gp"), QStringLiteral("3gpp"), QStringLiteral("3g2"),  QStringLiteral("avi"),
        QStringLiteral("mpg"), QStringLiteral("mpeg"), QStringLiteral("mpe"),  QStringLiteral("m1v"),
        QStringLiteral("m2v"), QStringLiteral("vob"),  QStringLiteral("ts"),   QStringLiteral("m2ts"),
        QStringLiteral("mts"), QStringLiteral("dv"),   QStringLiteral("dif"),  QStringLiteral("wmv"),
        QStringLiteral("asf"), QStringLiteral("mkv"),  QStringLiteral("webm"), QStringLiteral("ogv"),
        QStringLiteral("ogm"), QStringLiteral("flv"),  QStringLiteral("f4v"),  QStringLiteral("divx"),
        QStringLiteral("rm"),  QStringLiteral("rmvb")};
    const QString ext = QFileInfo(path).suffix().toLower();
    if (sound.contains(ext)) return Filing::Music;
    const vtr::MediaContent content = vtr::mediaContentOf(path);
    if (video.contains(ext)) return content == vtr::MediaContent::Sound ? Filing::Music : Filing::Video;
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

struct MediaLibraryHost::MusicLibrary
{
    struct PlaylistEntry
    {
        QVariantMap info;  // without "Playlist Items"
        QList<qint64> items;
        QSet<qint64> present;
        bool dirty = false;  // its M3U8 file is to be written

        bool add(qint64 id)
        {
            if (present.contains(id)) return false;
            present.insert(id);
            items.append(id);
            return true;
        }
    };

    FileStamp stamp;
    bool held = false;  // by the current batch: not read again
    bool dirty = false;
    QVariantMap header;  // every top-level key but "Tracks" and "Playlists"
    QVariantMap tracks;  // track ID text -> track
    QList<PlaylistEntry> playlists;
    QHash<QString, qint64> byPath;
    ContentIndex contents;
    std::optional<QHash<FileKey, qint64>> byFile;  // made when first needed

    static QString localPath(const QVariantMap &track)
    {
        return vtr::localPathForLibraryLocation(track.value(QStringLiteral("Location")).toString());
    }

    void index(qint64 id, const QString &path, bool fresh)
    {
        if (path.isEmpty()) return;
        byPath.insert(path, id);
        contents.add(path, QString::number(id), fresh);
        if (byFile)
            if (auto key = fileKeyOf(path)) byFile->insert(*key, id);
    }

    std::optional<qint64> trackOfFile(const QString &path)
    {
        if (!byFile) {
            byFile.emplace();
            for (auto it = byPath.cbegin(); it != byPath.cend(); ++it)
                if (auto key = fileKeyOf(it.key())) byFile->insert(*key, it.value());
        }
        const auto key = fileKeyOf(path);
        if (!key || !byFile->contains(*key)) return std::nullopt;
        return byFile->value(*key);
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
            index(it.key().toLongLong(), localPath(it.value().toMap()), false);
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

struct MediaLibraryHost::PhotoLibrary
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

    FileStamp stamp;
    bool held = false;
    bool dirty = false;
    QVariantMap header;  // all but the image list, albums and rolls
    QVariantMap images;  // image key -> image
    QList<Group> albums;
    QList<Group> rolls;
    QHash<qint64, qsizetype> rollOfAlbum;  // the event made for each album
    QHash<QString, QString> byPath;
    ContentIndex contents;
    std::optional<QHash<FileKey, QString>> byFile;

    void index(const QString &key, const QString &path, bool fresh)
    {
        if (path.isEmpty()) return;
        byPath.insert(path, key);
        contents.add(path, key, fresh);
        if (byFile)
            if (auto file = fileKeyOf(path)) byFile->insert(*file, key);
    }

    QString imageOfFile(const QString &path)
    {
        if (!byFile) {
            byFile.emplace();
            for (auto it = byPath.cbegin(); it != byPath.cend(); ++it)
                if (auto key = fileKeyOf(it.key())) byFile->insert(*key, it.value());
        }
        const auto key = fileKeyOf(path);
        return key ? byFile->value(*key) : QString();
    }

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
            index(it.key(), it.value().toMap().value(QStringLiteral("ImagePath")).toString(), false);
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

QString MediaLibraryHost::musicLibraryFilePath()
{
    return QDir(platform::dataFolder()).filePath(QStringLiteral("iTunes Music Library.xml"));
}

QString MediaLibraryHost::albumDataFilePath()
{
    return QDir(platform::dataFolder()).filePath(QStringLiteral("AlbumData.xml"));
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
    if (m_music) {
        m_music->held = false;
        m_music->contents.settle();
    }
    if (m_photos) {
        m_photos->held = false;
        m_photos->contents.settle();
    }
    try {
        writeChanges();
    } catch (const Failure &f) {
        if (reportFailure) throw;
        VTR_LOG(1, QStringLiteral("The media library could not be saved: %1 (%2)").arg(f.message).arg(f.number));
    }
}

void MediaLibraryHost::writeChanges()
{
    if (m_music && m_music->dirty) {
        const QString path = musicLibraryFilePath();
        writeAtomically(path, vtr::XmlPropertyListWriter::toXml(m_music->toFile()), vtrLocalized("music library file"));
        m_music->stamp = stampOf(path);
        m_music->dirty = false;
    }
    if (m_music) {
        const QString folder = playlistsFolder();
        for (MusicLibrary::PlaylistEntry &p : m_music->playlists) {
            if (!p.dirty) continue;
            if (folder.isEmpty()) throw Failure{-43, vtrLocalized("There is no music folder.")};
            // "Playlists/<name>.m3u8": extended M3U in UTF-8 with paths
            // relative to the playlist file, so the music folder can be
            // moved or shared as a whole.
            QByteArray text = "#EXTM3U\n";
            const QDir base(folder);
            for (qint64 id : std::as_const(p.items)) {
                const QVariantMap track = m_music->tracks.value(QString::number(id)).toMap();
                const QString local = MusicLibrary::localPath(track);
                if (local.isEmpty()) continue;
                QString title = track.value(QStringLiteral("Name")).toString();
                title.replace(QLatin1Char('\n'), QLatin1Char(' ')).replace(QLatin1Char('\r'), QLatin1Char(' '));
                const qint64 seconds = track.value(QStringLiteral("Total Time")).toLongLong() / 1000;
                text += "#EXTINF:" + QByteArray::number(seconds > 0 ? seconds : -1) + ',' + title.toUtf8() + '\n';
                text += base.relativeFilePath(local).toUtf8() + '\n';
            }
            const QString fileName = folderNameFor(p.info.value(QStringLiteral("Name")).toString());
            writeAtomically(base.filePath(fileName + QStringLiteral(".m3u8")), text, vtrLocalized("playlist"));
            p.dirty = false;
        }
    }
    if (m_photos && m_photos->dirty) {
        const QString path = albumDataFilePath();
        writeAtomically(path, vtr::XmlPropertyListWriter::toXml(m_photos->toFile()), vtrLocalized("photo library file"));
        m_photos->stamp = stampOf(path);
        m_photos->dirty = false;
    }
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

MediaLibraryHost::MusicLibrary &MediaLibraryHost::music()
{
    const QString path = musicLibraryFilePath();
    if (m_music && m_music->held) return *m_music;
    const FileStamp stamp = stampOf(path);
    if (!m_music || m_music->stamp != stamp) {
        m_music.reset();
        QVariantMap file = loadLibraryFile(path, vtrLocalized("music library file"));
        auto library = std::make_unique<MusicLibrary>();
        if (file.isEmpty()) {
            const QString folder = musicFolder();
            if (folder.isEmpty()) throw Failure{-43, vtrLocalized("There is no music folder.")};
            file.insert(QStringLiteral("Major Version"), 1);
            file.insert(QStringLiteral("Minor Version"), 1);
            file.insert(QStringLiteral("Application Version"), m_musicVersion);
            file.insert(QStringLiteral("Features"), 5);
            file.insert(QStringLiteral("Show Content Ratings"), true);
            file.insert(QStringLiteral("Music Folder"), vtr::libraryLocationForLocalPath(folder, true));
            file.insert(QStringLiteral("Library Persistent ID"), randomPersistentID());
            const qint64 masterID = nextNumber(file, QStringLiteral("Next ID"), 100);
            QVariantMap master{{QStringLiteral("Name"), QStringLiteral("Library")},
                               {QStringLiteral("Master"), true},
                               {QStringLiteral("Visible"), false},
                               {QStringLiteral("All Items"), true},
                               {QStringLiteral("Playlist ID"), masterID},
                               {QStringLiteral("Playlist Persistent ID"), randomPersistentID()}};
            file.insert(QStringLiteral("Playlists"), QVariantList{master});
        }
        library->load(file);
        library->stamp = stamp;
        m_music = std::move(library);
    }
    m_music->held = m_depth > 0;
    return *m_music;
}

MediaLibraryHost::PhotoLibrary &MediaLibraryHost::photos()
{
    const QString path = albumDataFilePath();
    if (m_photos && m_photos->held) return *m_photos;
    const FileStamp stamp = stampOf(path);
    if (!m_photos || m_photos->stamp != stamp) {
        m_photos.reset();
        QVariantMap file = loadLibraryFile(path, vtrLocalized("photo library file"));
        auto library = std::make_unique<PhotoLibrary>();
        if (file.isEmpty()) {
            const QString folder = picturesFolder();
            if (folder.isEmpty()) throw Failure{-43, vtrLocalized("There is no pictures folder.")};
            file.insert(QStringLiteral("Major Version"), 2);
            file.insert(QStringLiteral("Minor Version"), 0);
            file.insert(QStringLiteral("Application Version"), m_photosVersion);
            file.insert(QStringLiteral("Archive Path"), folder);
            QVariantMap master{{QStringLiteral("AlbumId"), kLibraryAlbumID},
                               {QStringLiteral("AlbumName"), QStringLiteral("Photos")},
                               {QStringLiteral("Master"), true}};
            file.insert(QStringLiteral("List of Albums"), QVariantList{master});
        }
        library->load(file);
        library->stamp = stamp;
        m_photos = std::move(library);
    }
    m_photos->held = m_depth > 0;
    return *m_photos;
}

// ---------------------------------------------------------------------------
// Filing files

QString MediaLibraryHost::fileIntoFolder(const QString &source, const QString &folder)
{
    const QString wanted = folderNameFor(QFileInfo(source).fileName());
    auto taken = m_takenNames.find(folder);
    if (taken == m_takenNames.end()) {
        if (!VtrMacFileInfo::fileInfoCreateFolderWithFullPath(folder))
            throw Failure{-48, vtrLocalized("The folder \"%1\" could not be made.").arg(folder)};
        QSet<QString> names;
        for (const QString &name : QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot))
            names.insert(name.toCaseFolded());
        taken = m_takenNames.insert(folder, names);
    }
    const QString base = QFileInfo(wanted).completeBaseName();
    const QString ext = QFileInfo(wanted).suffix();
    for (int n = 0; n < kMaxNameAttempts; ++n) {
        QString name = wanted;
        if (n > 0) {
            name = QStringLiteral("%1-%2").arg(base.isEmpty() ? wanted : base).arg(n);
            if (!ext.isEmpty() && !base.isEmpty()) name += QLatin1Char('.') + ext;
        }
        if (taken->contains(name.toCaseFolded())) continue;
        const QString target = QDir(folder).filePath(name);
        taken->insert(name.toCaseFolded());
        if (::link(QFile::encodeName(source).constData(), QFile::encodeName(target).constData()) == 0) return target;
        if (errno == EEXIST) continue;
        try {
            VtrMacFileInfo::fileInfoWithPath(source)->copyToFile(VtrMacFileInfo::fileInfoWithPath(target), nullptr,
                                                                 nullptr);
        } catch (const VtrException &e) {
            throw Failure{-36, vtrLocalized("\"%1\" could not be copied: %2").arg(source, e.reason())};
        }
        return target;
    }
    throw Failure{-48, vtrLocalized("No free file name in \"%1\".").arg(folder)};
}

qint64 MediaLibraryHost::addOneMediaFile(const QString &path, const QString &collection)
{
    const QString source = canonicalSource(path);
    const Filing filing = filingOf(source);
    if (filing == Filing::Refused) throw Failure{-1700, vtrLocalized("\"%1\" is not a music or video file.").arg(path)};
    const bool video = filing == Filing::Video;
    const QString root = video ? folderOfWork(videosFolder) : folderOfWork(musicFolder);
    if (root.isEmpty()) throw Failure{-43, vtrLocalized("There is no music or videos folder.")};
    MusicLibrary &library = music();

    // The same file anywhere in the library is the same track.
    if (auto same = library.byPath.constFind(source); same != library.byPath.cend()) return *same;
    if (auto same = library.trackOfFile(source)) return *same;

    const QString folder = QDir(root).filePath(folderNameFor(collection));
    const QFileInfo sourceInfo(source);
    LazyDigest digest(source);
    // A file of this name in the collection with the same bytes was filed
    // before, recorded or not.
    const QString sameName = QDir(folder).filePath(folderNameFor(sourceInfo.fileName()));
    QString target;
    if (sameContent(sameName, sourceInfo, digest)) {
        if (auto recorded = library.byPath.constFind(sameName); recorded != library.byPath.cend()) return *recorded;
        target = sameName;
    } else {
        // Or one recorded under that name made unique.
        const QString recorded = library.contents.find(folder, sourceInfo.fileName(), sourceInfo.size(), digest);
        if (!recorded.isEmpty()) return recorded.toLongLong();
        target = fileIntoFolder(source, folder);
    }

    const QFileInfo file(target);
    // A name the library still records for a file since removed is taken
    // over, so one path never stands for two tracks.
    const bool known = library.byPath.contains(target);
    const qint64 trackID = known ? library.byPath.value(target)
                                 : nextNumber(library.header, QStringLiteral("Next ID"), 100);
    QVariantMap track{{QStringLiteral("Track ID"), trackID},
                      {QStringLiteral("Name"), file.completeBaseName()},
                      {QStringLiteral("Kind"), kindForExtension(file.suffix(), video)},
                      {QStringLiteral("Size"), file.size()},
                      {QStringLiteral("Date Modified"), file.lastModified().toUTC()},
                      {QStringLiteral("Date Added"), QDateTime::currentDateTimeUtc()},
                      {QStringLiteral("Persistent ID"), randomPersistentID()},
                      {QStringLiteral("Track Type"), QStringLiteral("File")},
                      {QStringLiteral("Album"), collection},
                      {QStringLiteral("Location"), vtr::libraryLocationForLocalPath(target)}};
    if (video) {
        track.insert(QStringLiteral("Has Video"), true);
        track.insert(QStringLiteral("Movie"), true);
    }
    library.tracks.insert(QString::number(trackID), track);
    if (!known) library.index(trackID, target, true);
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
            ids.append(addOneMediaFile(path, collection));
            return ids;
        }
        for (const QString &file : filesOfFolder(path)) {
            try {
                ids.append(addOneMediaFile(file, collection));
            } catch (const Failure &f) {
                logRefusal(f);
                if (refused) refused->append(file);
            }
        }
        return ids;
    });
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
                if (playlist.add(id)) playlist.dirty = library.dirty = true;
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

QString MediaLibraryHost::addOnePhoto(const QString &path, qsizetype albumIndex)
{
    const QString source = canonicalSource(path);
    const VtrFileInfo info(source);
    const bool still = VtrQTUtils::isStillImageFile(info);
    if (!still && !VtrQTUtils::isMovieFile(info, nullptr))
        throw Failure{-1700, vtrLocalized("\"%1\" is not a picture or movie.").arg(path)};

    PhotoLibrary &library = photos();
    PhotoLibrary::Group &album = library.albums[albumIndex];
    const auto fileIn = [&album](const QString &key) {
        album.add(key);
        return key;
    };
    if (auto same = library.byPath.constFind(source); same != library.byPath.cend()) return fileIn(*same);
    if (const QString same = library.imageOfFile(source); !same.isEmpty()) return fileIn(same);

    const QString folder =
        QDir(folderOfWork(picturesFolder)).filePath(folderNameFor(album.info.value(QStringLiteral("AlbumName")).toString()));
    const QFileInfo sourceInfo(source);
    LazyDigest digest(source);
    const QString sameName = QDir(folder).filePath(folderNameFor(sourceInfo.fileName()));
    QString target;
    if (sameContent(sameName, sourceInfo, digest)) {
        if (auto recorded = library.byPath.constFind(sameName); recorded != library.byPath.cend())
            return fileIn(*recorded);
        target = sameName;
    } else {
        const QString recorded = library.contents.find(folder, sourceInfo.fileName(), sourceInfo.size(), digest);
        if (!recorded.isEmpty()) return fileIn(recorded);
        target = fileIntoFolder(source, folder);
    }

    const QFileInfo file(target);
    const bool known = library.byPath.contains(target);
    const QString key = known ? library.byPath.value(target)
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
    if (!known) library.index(key, target, true);
    return fileIn(key);
}

QStringList MediaLibraryHost::addPhotosLocked(const QString &path, qint64 albumID, QStringList *refused)
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

    QStringList keys;
    if (QFileInfo(path).isDir()) {
        for (const QString &file : filesOfFolder(path)) {
            try {
                keys.append(addOnePhoto(file, index));
            } catch (const Failure &f) {
                logRefusal(f);
                if (refused) refused->append(file);
            }
        }
    } else {
        keys.append(addOnePhoto(path, index));
    }
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

QStringList MediaLibraryHost::addPhotosToAlbumID(const QString &path, qint64 albumID, QStringList *refused)
{
    return operation([&] { return addPhotosLocked(path, albumID, refused); });
}
