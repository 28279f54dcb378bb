#include "migration/MediaMigrators.h"

#include "devices/camera/CameraDevice.h"
#include "devices/camera/CameraImage.h"
#include "devices/LocalFileNames.h"
#include "devices/phone/MobileDeviceInterface.h"
#include "fileinfo/VtrMacFileInfo.h"
#include "foundation/Log.h"
#include "foundation/VtrString.h"
#include "platform/Strings.h"
#include "platform/VtrException.h"
#include "sources/host/LibraryLocation.h"
#include "sources/iphone/iPhoneMusic.h"
#include "sources/itunes/VtrITunes.h"
#include "sources/itunes/iTunesInfo.h"

#include <QFileInfo>
#include <QHash>
#include <QSet>

#include <algorithm>
#include <climits>
#include <mutex>
#include <optional>
#include <vector>

namespace {

const QSet<QString> &extensionsOf(MediaKind kind)
{
    static const QSet<QString> music = {"mp3", "m4a", "aac", "wma", "ogg", "oga", "opus", "flac", "wav", "amr", "mid",
                                        "midi", "m4b"};
    static const QSet<QString> photos = {"jpg", "jpeg", "png", "gif", "bmp", "heic", "heif", "tif", "tiff", "webp"};
    static const QSet<QString> videos = {"mp4", "m4v", "3gp", "3g2", "mov", "avi", "wmv", "mkv", "webm", "mpg", "mpeg"};
    switch (kind) {
    case MediaKind::Music: return music;
    case MediaKind::Photos: return photos;
    case MediaKind::Videos: break;
    }
    return videos;
}

// A name the phone's file system hides on purpose: a leading "." and more
// than dots before the extension (".nomedia", "._Song.mp3", ".thumbnails").
// "..mp3" is a track whose title is ".", not a hidden file.
bool isHiddenName(const QString &name)
{
    if (!name.startsWith(QLatin1Char('.'))) return false;
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot == 0) return true;
    for (qsizetype i = 1; i < dot; ++i)
        if (name.at(i) != QLatin1Char('.')) return true;
    return false;
}

// An entry found but not fetched, with the reason for the log.
MediaSourceItem leftOutEntry(const VtrFileInfoPtr &item, const QString &why, bool hidden = false)
{
    MediaSourceItem entry;
    entry.name = item->path();
    entry.leftOut = why;
    entry.hidden = hidden;
    return entry;
}

// Hidden entries and the companion app's own folder hold no media of the
// person. Hidden files of the kind are noted (hidden folders, a phone's
// thumbnail caches, are not looked into).
class MediaFilter final : public VtrBaseFileInfoFilter
{
public:
    explicit MediaFilter(MediaKind kind) : m_kind(kind) {}
    QList<MediaSourceItem> hiddenFiles;
    bool includeItem(const VtrFileInfoPtr &item, bool *) override
    {
        const QString name = item->name();
        if (isHiddenName(name)) {
            if (!item->isFolder() && isMediaFileOfKind(name, m_kind))
                hiddenFiles.append(leftOutEntry(item, QString(), true));
            return false;
        }
        if (item->isFolder()) return name.compare(QLatin1String("solvennawp"), Qt::CaseInsensitive) != 0;
        return isMediaFileOfKind(name, m_kind);
    }

private:
    MediaKind m_kind;
};

// The resolved path of a volume on this computer; empty for a phone's
// storage, whose files are never links.
QString resolvedVolumePath(const VtrFileInfoPtr &root)
{
    if (!dynamic_cast<VtrMacFileInfo *>(root.get())) return QString();
    return QFileInfo(root->path()).canonicalFilePath();
}

// Paths on this computer are at most this many bytes (PATH_MAX less its
// NUL). A folder whose path is longer cannot be reached here by its path,
// and the backup lands on this computer, so the walk does not go into one.
constexpr qsizetype kMaxPathBytes = PATH_MAX - 1;

// Bytes of a folder's path without its trailing separators: its items' paths
// add a separator and their names.
qsizetype folderPathBytes(const VtrFileInfoPtr &folder)
{
    const QString path = folder->path();
    qsizetype end = path.size();
    while (end > 0 && (path.at(end - 1) == QLatin1Char('/') || path.at(end - 1) == QLatin1Char('\\')))
        --end;
    return vtr::utf8Length(QStringView(path).first(end));
}

// The children of a folder that the filter takes (its hidden files of the
// kind noted as left out). A folder below the top whose listing fails twice
// is left out (nullopt); the top's failure is the caller's, as is any once
// the phone has gone.
std::optional<VtrFileInfoList> listFolder(const VtrFileInfoPtr &folder, MediaKind kind, bool top,
                                          QList<MediaSourceItem> &leftOut, const PhoneReads &reads)
{
    MediaFilter filter(kind);
    // The top's failure is the whole listing's, which is tried again.
    if (top) {
        VtrFileInfoList children = folder->folderContentsWithFilter(&filter);
        leftOut += filter.hiddenFiles;
        return children;
    }
    VtrFileInfoList children;
    QString why;
    if (!reads.twice(QStringLiteral("Listing \"%1\"").arg(folder->path()),
                     [&] {
                         filter.hiddenFiles.clear();
                         children = folder->folderContentsWithFilter(&filter);
                         return true;
                     },
                     &why)) {
        leftOut.append(leftOutEntry(folder, vtrLocalized("the folder could not be listed: ") + why));
        return std::nullopt;
    }
    leftOut += filter.hiddenFiles;
    return children;
}

// The media files below `top` of the volume whose resolved path is `volume`,
// in listing order (depth first), and the entries left out with the reason.
// A link is followed only to a file inside the volume: a card may hold links
// to anything on this computer.
void collectBelow(const VtrFileInfoPtr &top, MediaKind kind, const QString &volume, VtrFileInfoList &files,
                  QList<MediaSourceItem> &leftOut, const PhoneReads &reads)
{
    // The folders being walked, each with its next child, on a stack of our
    // own rather than the call stack: a phone may nest folders thousands deep.
    struct Level
    {
        VtrFileInfoList children;
        qsizetype next = 0;
        qsizetype pathBytes = 0;
    };
    std::vector<Level> levels;
    levels.push_back({*listFolder(top, kind, true, leftOut, reads), 0, folderPathBytes(top)});
    while (!levels.empty()) {
        Level &level = levels.back();
        if (level.next == level.children.size()) {
            levels.pop_back();
            continue;
        }
        const VtrFileInfoPtr child = level.children.at(level.next++);
        if (child->isFolder()) {
            const qsizetype pathBytes = level.pathBytes + 1 + vtr::utf8Length(child->name());
            if (pathBytes > kMaxPathBytes) {
                leftOut.append(leftOutEntry(
                    child, vtrLocalized("the folder lies too deep: its path is longer than a path on this computer "
                                        "may be, so it and what it holds stay on the phone")));
                continue;
            }
            std::optional<VtrFileInfoList> children = listFolder(child, kind, false, leftOut, reads);
            if (children) levels.push_back({std::move(*children), 0, pathBytes});
            continue;
        }
        if (!child->isFile()) {
            leftOut.append(leftOutEntry(child, vtrLocalized("it is not a plain file")));
            continue;
        }
        auto *local = dynamic_cast<VtrMacFileInfo *>(child.get());
        if (local && local->isAlias()) {
            const QString target = QFileInfo(child->path()).canonicalFilePath();
            if (target.isEmpty()) {
                leftOut.append(leftOutEntry(child, vtrLocalized("it is a link to nothing")));
                continue;
            }
            if (!vtr::isPathBelow(target, volume)) {
                leftOut.append(leftOutEntry(child, vtrLocalized("it is a link that leads out of the phone's volume")));
                continue;
            }
        }
        files.append(child);
    }
}

// A phone file copied into the backup folder by whichever layer stands
// behind it (a local volume, or the phone over MTP).
VtrFileInfoPtr fetchFile(const VtrFileInfoPtr &file, const VtrFileInfoPtr &folder, FileInfoCopyProgress *progress)
{
    VtrFileInfoPtr copy;
    const FileInfoCopyStatus status = file->copyTo(folder, true, progress, nullptr, &copy);
    if (status != 0 || !copy)
        throw VtrException(QStringLiteral("DeviceException"),
                           vtrLocalized("A file could not be read from the phone: ") + file->humanFriendlyPath() +
                               QStringLiteral(" (%1)").arg(status));
    return copy;
}

MediaSourceItem sourceForFile(const VtrFileInfoPtr &file, std::function<void()> before = {})
{
    MediaSourceItem item;
    item.name = file->name();
    item.size = file->size();
    item.fetch = [file, before = std::move(before)](const VtrFileInfoPtr &folder, FileInfoCopyProgress *progress) {
        if (before) before();
        return fetchFile(file, folder, progress);
    };
    return item;
}

// ---- Android ----------------------------------------------------------------------------------------

// A device path as the phone spells it, whatever separators and drive it
// was written with.
QString devicePathKey(QString path)
{
    path.replace(QLatin1Char('/'), QLatin1Char('\\'));
    const qsizetype colon = path.indexOf(QLatin1Char(':'));
    if (colon >= 0 && colon <= 2) path = path.mid(colon + 1);
    while (path.startsWith(QLatin1Char('\\'))) path.remove(0, 1);
    return path;
}

// The names of the phone's playlists each of `files` belongs to. A track is
// the file of its very path: "Song.mp3", "song.mp3" and "SONG.MP3" are three
// songs. A path that differs from a file's only in letter case names that
// file only where no other file answers it so.
QList<QStringList> playlistsOfFiles(const VtrFileInfoList &files, const QVariantList &playlists)
{
    QHash<QString, qsizetype> byPath;
    QHash<QString, QList<qsizetype>> byFoldedPath;
    for (qsizetype i = 0; i < files.size(); ++i) {
        const QString key = devicePathKey(files.at(i)->path());
        if (!byPath.contains(key)) byPath.insert(key, i);
        byFoldedPath[key.toCaseFolded()].append(i);
    }
    QList<QStringList> names(files.size());
    for (const QVariant &p : playlists) {
        const QVariantMap playlist = p.toMap();
        const QString name = playlist.value(QStringLiteral("playlist_name")).toString();
        for (const QVariant &t : playlist.value(QStringLiteral("playlist_tracks")).toList()) {
            const QString path = t.toMap().value(QStringLiteral("track_path")).toString();
            if (path.isEmpty()) continue;
            const QString key = devicePathKey(path);
            qsizetype file = byPath.value(key, -1);
            if (file < 0) {
                const QList<qsizetype> alike = byFoldedPath.value(key.toCaseFolded());
                if (alike.size() == 1) file = alike.front();
            }
            if (file >= 0 && !names[file].contains(name)) names[file].append(name);
        }
    }
    return names;
}

const char *kindWords(MediaKind kind)
{
    switch (kind) {
    case MediaKind::Music: return "music files";
    case MediaKind::Photos: return "photos";
    case MediaKind::Videos: break;
    }
    return "videos";
}

// A phone that does not list what it holds (locked, or its connection lost
// with the cable still in) has not shown that it holds nothing.
VtrException listingFailure(MediaKind kind, const QString &why)
{
    const QString text = vtrLocalized("Your old phone did not list its %1; it may be locked or no longer connected. (%2)")
                             .arg(vtrLocalized(kindWords(kind)), why);
    VTR_LOG(1, text);
    return VtrException(QStringLiteral("DeviceException"), text);
}

}  // namespace

// The phone's storages, internal first, each with the call that makes it
// the session's current storage again (a file object reads through the
// current one).
QList<MediaSourceItem> androidMediaItems(MobileDeviceInterface &device, MediaKind kind, const PhoneReads &reads,
                                         QString *note)
{
    QList<MediaSourceItem> items;
    if (!device.isConnected()) throw listingFailure(kind, vtrLocalized("it is not connected"));
    if (!device.hasMTPConnection()) return volumeMediaItems(device, kind, reads, note);

    MobileDeviceInterface *phone = &device;
    using Switch = bool (MobileDeviceInterface::*)();
    const Switch switches[] = {&MobileDeviceInterface::mtpUseInternalStorage,
                               &MobileDeviceInterface::mtpUseExternalStorage};
    bool anyStorage = false;
    for (const Switch use : switches) {
        if (!(device.*use)()) continue;
        anyStorage = true;
        const VtrFileInfoPtr storage = device.preferredStorageInfo();
        if (!storage || !storage->isFolder()) throw listingFailure(kind, vtrLocalized("a storage could not be reached"));
        VtrFileInfoList files;
        QList<MediaSourceItem> leftOut;
        try {
            collectBelow(storage, kind, resolvedVolumePath(storage), files, leftOut, reads);
        } catch (const VtrException &e) {
            reads.throwIfCancelled();
            throw listingFailure(kind, e.reason());
        }
        // The phone names a playlist's tracks by the paths of the storage
        // just listed.
        std::optional<QVariantList> playlists;
        QString why;
        if (kind == MediaKind::Music && !reads.twice(QStringLiteral("Listing the phone's playlists"), [&] {
                playlists = device.mtpPlaylists();
                return true;
            }, &why)) {
            // The songs still go; the line and the report say what did not.
            const QString text = vtrLocalized("The playlists could not be read from your old phone: %1").arg(why);
            VTR_LOG(1, text);
            if (note) *note = text;
        }
        const QList<QStringList> playlistNames = playlists ? playlistsOfFiles(files, *playlists) : QList<QStringList>();
        for (qsizetype i = 0; i < files.size(); ++i) {
            MediaSourceItem item = sourceForFile(files.at(i), [phone, use] { (phone->*use)(); });
            if (i < playlistNames.size()) item.playlistNames = playlistNames.at(i);
            items.append(item);
        }
        items += leftOut;
    }
    if (!anyStorage) throw listingFailure(kind, vtrLocalized("it shows none of its storage"));
    return items;
}

// ---- iPhone -------------------------------------------------------------------------------------------

QList<MediaSourceItem> cameraMediaItems(MobileDeviceInterface &device, MediaKind kind, const PhoneReads &, QString *)
{
    QList<MediaSourceItem> items;
    const std::shared_ptr<CameraDevice> camera = device.camera();
    if (!camera) {
        VTR_LOG(2, QStringLiteral("The iPhone's camera roll is not connected; no photos or videos from it."));
        return items;
    }
    const std::optional<QList<CameraImagePtr>> images = camera->images();
    if (!images)
        throw VtrException(QStringLiteral("DeviceException"), vtrLocalized("The iPhone's camera roll could not be read."));
    for (const CameraImagePtr &image : *images) {
        if (!isMediaFileOfKind(image->filename(), kind)) continue;
        MediaSourceItem item;
        item.name = image->filename();
        // Left out and counted, as a hidden file of any phone is.
        if (isHiddenName(item.name)) {
            item.hidden = true;
            items.append(item);
            continue;
        }
        item.size = image->size();
        item.fetch = [image](const VtrFileInfoPtr &folder, FileInfoCopyProgress *) {
            VtrFileInfoPtr file = image->downloadToFolder(folder);
            if (!file)
                throw VtrException(QStringLiteral("DeviceException"),
                                   vtrLocalized("A file could not be read from the iPhone: ") + image->filename());
            return file;
        };
        items.append(item);
    }
    return items;
}

bool isMediaFileOfKind(const QString &fileName, MediaKind kind)
{
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    return dot > 0 && extensionsOf(kind).contains(fileName.mid(dot + 1).toLower());
}

QList<MediaSourceItem> mediaFilesBelow(const VtrFileInfoList &folders, MediaKind kind, const PhoneReads &reads)
{
    QList<MediaSourceItem> items;
    QList<MediaSourceItem> leftOut;
    for (const VtrFileInfoPtr &folder : folders) {
        if (!folder || !folder->isFolder()) continue;
        VtrFileInfoList files;
        collectBelow(folder, kind, resolvedVolumePath(folder), files, leftOut, reads);
        for (const VtrFileInfoPtr &file : files) items.append(sourceForFile(file));
    }
    return items + leftOut;
}

// Playlists of the library by the track IDs they hold: the person's own
// ones, not the library itself, folders, smart or hidden lists.
static QHash<qint64, QStringList> libraryPlaylistsByTrack(const VtrITunes &library)
{
    QHash<qint64, QStringList> playlistsOfTrack;
    for (const QVariant &p : library.playlists()) {
        const QVariantMap playlist = p.toMap();
        bool special = false;
        for (const char *key : {"Master", "Folder", "Videos", "Podcasts", "Party Shuffle", "Purchased Music",
                                "Distinguished Kind", "Smart Info"})
            special = special || playlist.contains(QString::fromLatin1(key));
        if (special || playlist.value(QStringLiteral("Visible"), true).toBool() == false) continue;
        const QString name = playlist.value(QStringLiteral("Name")).toString();
        for (const QVariant &t : playlist.value(QStringLiteral("Playlist Items")).toList()) {
            QStringList &names = playlistsOfTrack[t.toMap().value(QStringLiteral("Track ID")).toLongLong()];
            if (!names.contains(name)) names.append(name);
        }
    }
    return playlistsOfTrack;
}

QList<MediaSourceItem> AppleMusicMigrator::sourceItems()
{
    setNote(QString());
    const QString path = m_libraryFile.isEmpty() ? VtrITunes::defaultPlaylistDataXMLFile() : m_libraryFile;
    if (path.isEmpty() || !QFileInfo(path).isFile())
        throw VtrException(QStringLiteral("iTunes XML file not found"), vtrLocalized("Couldn't get iTunes information."));
    auto library = std::make_shared<VtrITunes>();
    library->initWithFile(path);
    if (!library->playlistData())
        throw VtrException(QStringLiteral("iTunes XML file not found"),
                           vtrLocalized("Couldn't get iTunes information.") + QStringLiteral(" (%1)").arg(library->loadError()));
    iTunesInfo model;
    model.set_iTunes(library, false, true);

    const std::shared_ptr<MobileDeviceInterface> phone = mobileDevice();
    const std::optional<QList<vtr::iphone::PhoneTrack>> phoneSongs =
        phone ? vtr::iphone::phoneTracks(phone->serialNumber(), phone->storageFileInfos()) : std::nullopt;
    const vtr::iphone::PhoneMusicChoice choice = vtr::iphone::libraryTracksOnPhone(model, phoneSongs, m_syncSelection);
    QList<MediaSourceItem> items;
    if (!choice.known) {
        const QString note = vtrLocalized("The songs on the iPhone could not be read on this computer, so no music was "
                                          "taken from the music library.");
        VTR_LOG(1, note);
        setNote(note);
        return items;
    }
    // A phone's song that could not be read counts as not moved.
    for (const auto &[path, why] : choice.unreadable) {
        MediaSourceItem entry;
        entry.name = path;
        entry.leftOut = vtrLocalized("the song on the iPhone could not be read: ") + why;
        items.append(entry);
    }
    // So does one whose file the library does not have: it stays on the
    // phone. Where the phone's own songs are not known, the songs the
    // library syncs to it are taken for them.
    QStringList missing = choice.notInLibrary;
    const QHash<qint64, QStringList> playlistsOfTrack = libraryPlaylistsByTrack(*library);
    for (const VtrITunesItemPtr &track : choice.tracks) {
        const QString file = track->localPath();
        if (file.isEmpty() || !QFileInfo(file).isFile()) {
            if (!phoneSongs) missing.append(track->name());
            continue;
        }
        MediaSourceItem item = sourceForFile(VtrMacFileInfo::fileInfoWithPath(file));
        // The song stays in the library: its copy is not this computer's only one.
        item.localFile = file;
        item.title = track->name();
        const qint64 ms = track->iTunesInfo().value(QStringLiteral("Total Time"), -1000).toLongLong();
        item.durationSeconds = ms < 0 ? -1 : int(ms / 1000);
        item.playlistNames = playlistsOfTrack.value(track->itemID());
        items.append(item);
    }
    if (!missing.isEmpty()) {
        VTR_LOG(1, QStringLiteral("Songs on the iPhone that are not in the music library: %1")
                       .arg(missing.join(QStringLiteral(", "))));
        setNote(missing.size() == 1 ? vtrLocalized("1 song on the iPhone was not found in the music library.")
                                    : vtrLocalized("%1 songs on the iPhone were not found in the music library.")
                                          .arg(missing.size()));
    }
    for (const QString &name : missing) {
        MediaSourceItem entry;
        entry.name = name;
        entry.leftOut = vtrLocalized("the song is not in the music library");
        entry.noFileHere = true;
        items.append(entry);
    }
    return items;
}

QList<MediaSourceItem> volumeMediaItems(MobileDeviceInterface &device, MediaKind kind, const PhoneReads &reads, QString *)
{
    return mediaFilesBelow(device.storageFileInfos(), kind, reads);
}

FamilyMediaMigrators createMediaMigratorsForFamily(int family, const std::shared_ptr<MobileDeviceInterface> &oldDevice)
{
    FamilyMediaMigrators m;
    switch (family) {
    case MobileDeviceInterface::kDeviceTypeAndroid:
        m.music = std::make_shared<AndroidMusicMigrator>(oldDevice);
        m.photos = std::make_shared<AndroidPhotosMigrator>(oldDevice);
        m.videos = std::make_shared<AndroidVideoMigrator>(oldDevice);
        break;
    case MobileDeviceInterface::kDeviceTypeApple:
        m.music = std::make_shared<AppleMusicMigrator>(oldDevice);
        m.photos = std::make_shared<ApplePhotosMigrator>(oldDevice);
        m.videos = std::make_shared<AppleVideoMigrator>(oldDevice);
        break;
    case MobileDeviceInterface::kDeviceTypeBlackBerry:
        m.music = std::make_shared<BlackBerryMusicMigrator>(oldDevice);
        m.photos = std::make_shared<BlackBerryPhotosMigrator>(oldDevice);
        m.videos = std::make_shared<BlackBerryVideoMigrator>(oldDevice);
        break;
    default: break;
    }
    return m;
}
