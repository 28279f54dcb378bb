#include "migration/MediaMigrators.h"

#include "devices/camera/CameraDevice.h"
#include "devices/camera/CameraImage.h"
#include "devices/phone/MobileDeviceInterface.h"
#include "fileinfo/VtrMacFileInfo.h"
#include "foundation/Log.h"
#include "platform/Strings.h"
#include "platform/VtrException.h"
#include "sources/host/LibraryLocation.h"
#include "sources/itunes/VtrITunes.h"

#include <QFileInfo>
#include <QHash>
#include <QSet>

#include <algorithm>
#include <mutex>

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

// Hidden folders and the companion app's own folder hold no media of the person.
class MediaFilter final : public VtrBaseFileInfoFilter
{
public:
    explicit MediaFilter(MediaKind kind) : m_kind(kind) {}
    bool includeItem(const VtrFileInfoPtr &item, bool *) override
    {
        const QString name = item->name();
        if (name.startsWith(QLatin1Char('.'))) return false;
        if (item->isFolder()) return name.compare(QLatin1String("solvennawp"), Qt::CaseInsensitive) != 0;
        return isMediaFileOfKind(name, m_kind);
    }

private:
    MediaKind m_kind;
};

void collectBelow(const VtrFileInfoPtr &folder, MediaFilter &filter, VtrFileInfoList &files)
{
    for (const VtrFileInfoPtr &child : folder->folderContentsWithFilter(&filter)) {
        if (child->isFolder())
            collectBelow(child, filter, files);
        else
            files.append(child);
    }
}

// A phone file copied into the backup folder by whichever layer stands
// behind it (a local volume, or the phone over MTP).
VtrFileInfoPtr fetchFile(const VtrFileInfoPtr &file, const VtrFileInfoPtr &folder)
{
    VtrFileInfoPtr copy;
    const FileInfoCopyStatus status = file->copyTo(folder, true, nullptr, nullptr, &copy);
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
    item.fetch = [file, before = std::move(before)](const VtrFileInfoPtr &folder) {
        if (before) before();
        return fetchFile(file, folder);
    };
    return item;
}

// ---- Android ----------------------------------------------------------------------------------------

QString normalizedDevicePath(QString path)
{
    path.replace(QLatin1Char('/'), QLatin1Char('\\'));
    const qsizetype colon = path.indexOf(QLatin1Char(':'));
    if (colon >= 0 && colon <= 2) path = path.mid(colon + 1);
    while (path.startsWith(QLatin1Char('\\'))) path.remove(0, 1);
    return path.toLower();
}

QHash<QString, QStringList> playlistsByTrackPath(MobileDeviceInterface &device)
{
    QHash<QString, QStringList> playlistsOfTrack;
    const std::optional<QVariantList> playlists = device.mtpPlaylists();
    if (!playlists) return playlistsOfTrack;
    for (const QVariant &p : *playlists) {
        const QVariantMap playlist = p.toMap();
        const QString name = playlist.value(QStringLiteral("playlist_name")).toString();
        for (const QVariant &t : playlist.value(QStringLiteral("playlist_tracks")).toList()) {
            const QString path = t.toMap().value(QStringLiteral("track_path")).toString();
            if (path.isEmpty()) continue;
            QStringList &names = playlistsOfTrack[normalizedDevicePath(path)];
            if (!names.contains(name)) names.append(name);
        }
    }
    return playlistsOfTrack;
}

}  // namespace

// The phone's storages, internal first, each with the call that makes it
// the session's current storage again (a file object reads through the
// current one).
QList<MediaSourceItem> androidMediaItems(MobileDeviceInterface &device, MediaKind kind)
{
    QList<MediaSourceItem> items;
    if (!device.hasMTPConnection()) return volumeMediaItems(device, kind);

    MobileDeviceInterface *phone = &device;
    using Switch = bool (MobileDeviceInterface::*)();
    const Switch switches[] = {&MobileDeviceInterface::mtpUseInternalStorage,
                               &MobileDeviceInterface::mtpUseExternalStorage};
    for (const Switch use : switches) {
        if (!(device.*use)()) continue;
        const VtrFileInfoPtr storage = device.preferredStorageInfo();
        if (!storage) continue;
        MediaFilter filter(kind);
        VtrFileInfoList files;
        collectBelow(storage, filter, files);
        // The phone names a playlist's tracks by the paths of the storage
        // just listed.
        const QHash<QString, QStringList> playlistsOfTrack =
            kind == MediaKind::Music ? playlistsByTrackPath(device) : QHash<QString, QStringList>();
        for (const VtrFileInfoPtr &file : files) {
            MediaSourceItem item = sourceForFile(file, [phone, use] { (phone->*use)(); });
            item.playlistNames = playlistsOfTrack.value(normalizedDevicePath(file->path()));
            items.append(item);
        }
    }
    return items;
}

// ---- iPhone -------------------------------------------------------------------------------------------

QList<MediaSourceItem> cameraMediaItems(MobileDeviceInterface &device, MediaKind kind)
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
        item.size = image->size();
        item.fetch = [image](const VtrFileInfoPtr &folder) {
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

QList<MediaSourceItem> mediaFilesBelow(const VtrFileInfoList &folders, MediaKind kind)
{
    MediaFilter filter(kind);
    VtrFileInfoList files;
    for (const VtrFileInfoPtr &folder : folders)
        if (folder && folder->isFolder()) collectBelow(folder, filter, files);
    QList<MediaSourceItem> items;
    for (const VtrFileInfoPtr &file : files) items.append(sourceForFile(file));
    return items;
}

// The iPhone's music is what the computer's music library syncs to it: the
// library's own tracks that are files here, not videos and not protected.
QList<MediaSourceItem> AppleMusicMigrator::sourceItems()
{
    VtrITunes library;
    if (m_libraryFile.isEmpty())
        library.initWithoutProgress();
    else
        library.initWithFile(m_libraryFile);
    QList<MediaSourceItem> items;
    if (!library.playlistData()) {
        VTR_LOG(2, QStringLiteral("No music library to read: %1").arg(library.loadError()));
        return items;
    }
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
    const QVariantMap tracks = library.tracks();
    QList<QVariantMap> ordered;
    for (const QVariant &t : tracks) ordered.append(t.toMap());
    std::sort(ordered.begin(), ordered.end(), [](const QVariantMap &a, const QVariantMap &b) {
        return a.value(QStringLiteral("Track ID")).toLongLong() < b.value(QStringLiteral("Track ID")).toLongLong();
    });
    for (const QVariantMap &track : ordered) {
        if (track.value(QStringLiteral("Has Video")).toBool() || track.value(QStringLiteral("Protected")).toBool() ||
            track.value(QStringLiteral("Podcast")).toBool())
            continue;
        const QString path = vtr::trackFileForLibraryLocation(track.value(QStringLiteral("Location")).toString(),
                                                              library.playlistDataPath(),
                                                              library.musicFolderLocation());
        if (path.isEmpty() || !QFileInfo(path).isFile()) continue;
        MediaSourceItem item = sourceForFile(VtrMacFileInfo::fileInfoWithPath(path));
        item.title = track.value(QStringLiteral("Name")).toString();
        const qint64 ms = track.value(QStringLiteral("Total Time"), -1000).toLongLong();
        item.durationSeconds = ms < 0 ? -1 : int(ms / 1000);
        item.playlistNames = playlistsOfTrack.value(track.value(QStringLiteral("Track ID")).toLongLong());
        items.append(item);
    }
    return items;
}

QList<MediaSourceItem> volumeMediaItems(MobileDeviceInterface &device, MediaKind kind)
{
    return mediaFilesBelow(device.storageFileInfos(), kind);
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
