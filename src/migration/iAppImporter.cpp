#include "migration/iAppImporter.h"

#include "fileinfo/VtrMacFileInfo.h"
#include "foundation/Log.h"
#include "platform/Folders.h"
#include "platform/VtrException.h"
#include "sources/host/MediaLibraryHost.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QSet>
#include <QStringList>

namespace {

QString failureText(const MediaLibraryHost::Failure &f)
{
    return QStringLiteral("%1 (%2)").arg(f.message).arg(f.number);
}

}  // namespace

bool iAppImporter::importFiles(const VtrFileInfoList &, const QString &) { return true; }

bool iAppImporter::importFileDictionaries(const QVariantList &, const QString &, uint *, uint *) { return true; }

VtrFileInfoPtr iAppImporter::createTempFolderOfSymLinksForFiles(const VtrFileInfoList &files)
{
    QString folderPath;
    try {
        const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        folderPath = QDir(platform::temporaryFolder())
                         .filePath(QStringLiteral("%1 %2").arg(QLatin1String(platform::kAppFolderName), stamp));
    } catch (const VtrException &e) {
        VTR_LOG(1, QStringLiteral("No folder for the links: %1").arg(e.reason()));
        return nullptr;
    }
    if (!QDir().mkpath(folderPath)) return nullptr;
    for (const VtrFileInfoPtr &file : files) {
        if (!file) continue;
        const QString link = QDir(folderPath).filePath(file->name());
        if (!QFile::link(file->path(), link))
            VTR_LOG(1, QStringLiteral("Failed to create a symlink for file \"%1\".").arg(file->path()));
    }
    return VtrMacFileInfo::fileInfoWithPath(folderPath);
}

// ---- music and videos ---------------------------------------------------------------------------------

bool iTunesImporter::importFiles(const VtrFileInfoList &files, const QString &collectionName)
{
    if (files.isEmpty()) return true;
    MediaLibraryHost &host = MediaLibraryHost::shared();
    if (!host.isConfigured()) return false;
    bool result = true;
    try {
        QList<qint64> tracks;
        for (const VtrFileInfoPtr &file : files) {
            const QList<qint64> added = host.addMediaFiles(file->path(), collectionName);
            if (added.isEmpty()) result = false;
            tracks += added;
        }
        const MediaLibraryHost::Playlist playlist = host.findPlaylist(collectionName, false)
                                                        .value_or(host.createPlaylist(collectionName, false));
        host.addTracksToPlaylist(tracks, playlist.persistentID);
    } catch (const MediaLibraryHost::Failure &f) {
        VTR_LOG(1, QStringLiteral("Filing into the music library failed: %1").arg(failureText(f)));
        return false;
    }
    return result;
}

bool iTunesImporter::importFileDictionaries(const QVariantList &dictionaries, const QString &collectionName,
                                            uint *outNumFilesMigrated, uint *outNumPlaylistsMigrated)
{
    if (dictionaries.isEmpty()) return true;
    MediaLibraryHost &host = MediaLibraryHost::shared();
    bool result = true;
    uint filesAdded = 0;
    QSet<QString> playlistsUsed;
    auto playlistNamed = [&host](const QString &name) -> std::optional<MediaLibraryHost::Playlist> {
        try {
            if (auto found = host.findPlaylist(name, false)) return found;
            return host.createPlaylist(name, false);
        } catch (const MediaLibraryHost::Failure &f) {
            VTR_LOG(1, QStringLiteral("Creating the playlist \"%1\" failed: %2").arg(name, failureText(f)));
            return std::nullopt;
        }
    };
    VTR_LOG(3, QStringLiteral("Creating iTunes playlist \"%1\"").arg(collectionName));
    const std::optional<MediaLibraryHost::Playlist> collection = playlistNamed(collectionName);
    if (!collection) throw VtrException(QStringLiteral("iTunesException"), QStringLiteral("can't connect to iTunes"));

    for (const QVariant &entry : dictionaries) {
        const QVariantMap dictionary = entry.toMap();
        const VtrFileInfoPtr file = dictionary.value(QStringLiteral("targetFileInfo")).value<VtrFileInfoPtr>();
        if (!file) {
            VTR_LOG(1, QStringLiteral("Couldn't find targetFileInfo for a track."));
            continue;
        }
        QList<qint64> tracks;
        try {
            tracks = host.addMediaFiles(file->path(), collectionName);
            if (!tracks.isEmpty()) host.addTracksToPlaylist(tracks, collection->persistentID);
        } catch (const MediaLibraryHost::Failure &f) {
            VTR_LOG(1, QStringLiteral("An error occurred adding file \"%1\" to iTunes: %2").arg(file->path(),
                                                                                                 failureText(f)));
            tracks.clear();
        }
        if (tracks.isEmpty()) {
            VTR_LOG(1, QStringLiteral("Failed to add file \"%1\" to iTunes.").arg(file->path()));
            result = false;
            continue;
        }
        ++filesAdded;
        for (const QString &name : dictionary.value(QStringLiteral("playlistNames")).toStringList()) {
            const std::optional<MediaLibraryHost::Playlist> playlist = playlistNamed(name);
            if (!playlist) {
                VTR_LOG(1, QStringLiteral("Failed to create playlist \"%1\" in iTunes.").arg(name));
                continue;
            }
            playlistsUsed.insert(name);
            try {
                host.addTracksToPlaylist(tracks, playlist->persistentID);
            } catch (const MediaLibraryHost::Failure &f) {
                VTR_LOG(1, QStringLiteral("Failed to add file \"%1\" to iTunes playlist \"%2\": %3")
                               .arg(file->humanFriendlyPath(), name, failureText(f)));
            }
        }
    }
    if (outNumFilesMigrated) *outNumFilesMigrated = filesAdded;
    if (outNumPlaylistsMigrated) *outNumPlaylistsMigrated = uint(playlistsUsed.size());
    return result;
}

// ---- photos -------------------------------------------------------------------------------------------

bool iPhotoImporter::importFiles(const VtrFileInfoList &files, const QString &collectionName)
{
    if (files.isEmpty()) return true;
    const VtrFileInfoPtr folder = createTempFolderOfSymLinksForFiles(files);
    if (!folder) return true;
    try {
        MediaLibraryHost::shared().addPhotos(folder->path(), collectionName);
    } catch (const MediaLibraryHost::Failure &f) {
        VTR_LOG(1, failureText(f));
    }
    return true;
}
