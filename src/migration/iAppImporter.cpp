#include "migration/iAppImporter.h"

#include "fileinfo/VtrMacFileInfo.h"
#include "foundation/Log.h"
#include "platform/Folders.h"
#include "platform/VtrException.h"
#include "sources/host/MediaLibraryHost.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QFile>
#include <QSet>
#include <QStringList>

#include <utility>

namespace {

QString failureText(const MediaLibraryHost::Failure &f)
{
    return QStringLiteral("%1 (%2)").arg(f.message).arg(f.number);
}

// Removes a folder of links when the import that made it ends, however it
// ends. Only its links and files go (none is followed); anything else keeps
// the folder, which is then named in the log.
class LinkFolderRemoval
{
public:
    explicit LinkFolderRemoval(QString path) : m_path(std::move(path)) {}
    ~LinkFolderRemoval()
    {
        if (m_path.isEmpty()) return;
        QDir folder(m_path);
        for (const QFileInfo &entry : folder.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot))
            if (entry.isSymLink() || !entry.isDir()) QFile::remove(entry.filePath());
        if (!folder.rmdir(m_path)) VTR_LOG(2, QStringLiteral("The folder of links \"%1\" stays.").arg(m_path));
    }
    LinkFolderRemoval(const LinkFolderRemoval &) = delete;
    LinkFolderRemoval &operator=(const LinkFolderRemoval &) = delete;

private:
    QString m_path;
};

}  // namespace

bool iAppImporter::importFiles(const VtrFileInfoList &, const QString &) { return true; }

bool iAppImporter::importFileDictionaries(const QVariantList &, const QString &, uint *, uint *) { return true; }

void iAppImporter::setCopies(const std::optional<QList<vtr::CopiedFile>> &copies)
{
    m_copies.reset();
    if (!copies) return;
    m_copies.emplace();
    for (const vtr::CopiedFile &copy : *copies) m_copies->insert(copy.path(), copy);
}

std::optional<vtr::CopiedFile> iAppImporter::copyOf(const VtrFileInfoPtr &file) const
{
    if (!m_copies) return std::nullopt;
    if (const auto it = m_copies->constFind(file->path()); it != m_copies->cend()) return *it;
    vtr::CopiedFile none;
    none.folderPath = QFileInfo(file->path()).path();
    none.name = file->name();
    return none;
}

void iAppImporter::beginImport()
{
    m_refused.clear();
    m_refusedFolders.clear();
    m_refusedForSpace = 0;
    m_refusedNotCopies = 0;
    m_filingFailure.clear();
    m_unwrittenPlaylists.clear();
    m_playlistsFailure.clear();
    m_libraryFiles.clear();
}

void iAppImporter::savingFailed(const MediaLibraryHost::Failure &failure)
{
    VTR_LOG(1, QStringLiteral("Filing into the music library failed: %1").arg(failureText(failure)));
    (failure.onlyPlaylistFiles ? m_playlistsFailure : m_filingFailure) = failure.message;
}

void iAppImporter::notePlaylistsNotWritten(MediaLibraryHost &host, const QSet<QString> &persistentIDs)
{
    try {
        m_unwrittenPlaylists = host.playlistsNotWritten(persistentIDs);
    } catch (const MediaLibraryHost::Failure &f) {
        VTR_LOG(1, QStringLiteral("The playlists not written could not be told: %1").arg(failureText(f)));
    }
    // Said with the playlists it concerns, else on its own.
    if (m_unwrittenPlaylists.isEmpty() && !m_playlistsFailure.isEmpty())
        m_filingFailure = std::exchange(m_playlistsFailure, QString());
    for (const MediaLibraryHost::UnwrittenPlaylist &p : std::as_const(m_unwrittenPlaylists))
        VTR_LOG(2, QStringLiteral("The playlist \"%1\" is not written into \"%2\".").arg(p.name, p.folder));
}

void iAppImporter::refuse(const QString &file, int why, const QString &folder)
{
    m_refused.append(file);
    if (!folder.isEmpty() && !m_refusedFolders.contains(folder)) m_refusedFolders.append(folder);
    if (why == MediaLibraryHost::kNoRoomNumber) ++m_refusedForSpace;
    if (why == MediaLibraryHost::kNotTheCopyNumber) ++m_refusedNotCopies;
}

void iAppImporter::logRefusals() const
{
    if (m_refused.isEmpty()) return;
    QStringList names;
    for (const QString &path : m_refused) names.append(QFileInfo(path).fileName());
    VTR_LOG(2, QStringLiteral("%1 files could not be filed into %2: %3")
                   .arg(m_refused.size())
                   .arg(iAppName(), names.join(QStringLiteral(", "))));
}

VtrFileInfoPtr iAppImporter::createTempFolderOfSymLinksForFiles(const VtrFileInfoList &files, QStringList *failed,
                                                                QStringList *made)
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
    QSet<QString> names;
    for (const VtrFileInfoPtr &file : files) {
        if (!file) continue;
        const QString link = QDir(folderPath).filePath(file->name());
        // A link an earlier import left in the reused folder stands for
        // nothing now; one made by this call keeps its place.
        bool linked = !names.contains(file->name());
        if (linked && QFileInfo(link).isSymLink()) QFile::remove(link);
        linked = linked && QFile::link(file->path(), link);
        if (!linked) {
            VTR_LOG(1, QStringLiteral("Failed to create a symlink for file \"%1\".").arg(file->path()));
            if (failed) failed->append(file->path());
            continue;
        }
        names.insert(file->name());
        if (made) made->append(link);
    }
    return VtrMacFileInfo::fileInfoWithPath(folderPath);
}

// ---- music and videos ---------------------------------------------------------------------------------

namespace {

// The playlist of that name, made when there is none.
MediaLibraryHost::Playlist playlistNamed(MediaLibraryHost &host, const QString &name)
{
    if (auto found = host.findPlaylist(name, false)) return *found;
    return host.createPlaylist(name, false);
}

}  // namespace

bool iTunesImporter::importFiles(const VtrFileInfoList &files, const QString &collectionName)
{
    beginImport();
    if (files.isEmpty()) return true;
    MediaLibraryHost &host = MediaLibraryHost::shared();
    if (!host.isConfigured()) return false;
    QString playlistID;
    try {
        MediaLibraryHost::Batch batch(host);
        const MediaLibraryHost::Playlist playlist = playlistNamed(host, collectionName);
        playlistID = playlist.persistentID;
        QList<qint64> tracks;
        for (const VtrFileInfoPtr &file : files) {
            if (!file) continue;
            // One file the library refuses never stops the others.
            try {
                const std::optional<vtr::CopiedFile> copy = copyOf(file);
                const QList<qint64> filed = copy ? QList<qint64>{host.addCopiedMediaFile(*copy, collectionName)}
                                                 : host.addMediaFiles(file->path(), collectionName, &m_refused);
                if (filed.size() == 1) m_libraryFiles.insert(file->path(), host.fileOfTrack(filed.first()));
                tracks += filed;
            } catch (const MediaLibraryHost::Failure &f) {
                VTR_LOG(1, QStringLiteral("Failed to add file \"%1\" to iTunes: %2").arg(file->path(), failureText(f)));
                refuse(file->path(), f.number, f.folder);
            }
        }
        host.addTracksToPlaylist(tracks, playlist.persistentID);
        batch.commit();
    } catch (const MediaLibraryHost::Failure &f) {
        savingFailed(f);
    }
    if (!playlistID.isEmpty()) notePlaylistsNotWritten(host, {playlistID});
    logRefusals();
    return m_refused.isEmpty() && m_filingFailure.isEmpty() && m_unwrittenPlaylists.isEmpty();
}

bool iTunesImporter::importFileDictionaries(const QVariantList &dictionaries, const QString &collectionName,
                                            uint *outNumFilesMigrated, uint *outNumPlaylistsMigrated)
{
    beginImport();
    if (dictionaries.isEmpty()) return true;
    MediaLibraryHost &host = MediaLibraryHost::shared();
    MediaLibraryHost::Batch batch(host);
    bool result = true;
    uint filesAdded = 0;
    QSet<QString> playlistsUsed;  // by persistent ID
    QHash<QString, std::optional<MediaLibraryHost::Playlist>> known;
    auto playlistFor = [&](const QString &name) -> std::optional<MediaLibraryHost::Playlist> {
        const QString key = name.toCaseFolded();
        if (known.contains(key)) return known.value(key);
        std::optional<MediaLibraryHost::Playlist> playlist;
        try {
            playlist = playlistNamed(host, name);
        } catch (const MediaLibraryHost::Failure &f) {
            VTR_LOG(1, QStringLiteral("Creating the playlist \"%1\" failed: %2").arg(name, failureText(f)));
            if (m_filingFailure.isEmpty()) m_filingFailure = f.message;
        }
        known.insert(key, playlist);
        return playlist;
    };
    VTR_LOG(3, QStringLiteral("Creating iTunes playlist \"%1\"").arg(collectionName));
    const std::optional<MediaLibraryHost::Playlist> collection = playlistFor(collectionName);
    if (!collection) throw VtrException(QStringLiteral("iTunesException"), QStringLiteral("can't connect to iTunes"));

    for (const QVariant &entry : dictionaries) {
        const QVariantMap dictionary = entry.toMap();
        const VtrFileInfoPtr file = dictionary.value(QStringLiteral("targetFileInfo")).value<VtrFileInfoPtr>();
        if (!file) {
            VTR_LOG(1, QStringLiteral("Couldn't find targetFileInfo for a track."));
            continue;
        }
        QList<qint64> tracks;
        const qsizetype refusedBefore = m_refused.size();
        int why = 0;
        QString folder;
        try {
            const std::optional<vtr::CopiedFile> copy = copyOf(file);
            tracks = copy ? QList<qint64>{host.addCopiedMediaFile(*copy, collectionName)}
                          : host.addMediaFiles(file->path(), collectionName, &m_refused);
            if (tracks.size() == 1) m_libraryFiles.insert(file->path(), host.fileOfTrack(tracks.first()));
            if (!tracks.isEmpty()) host.addTracksToPlaylist(tracks, collection->persistentID);
        } catch (const MediaLibraryHost::Failure &f) {
            VTR_LOG(1, QStringLiteral("An error occurred adding file \"%1\" to iTunes: %2").arg(file->path(),
                                                                                                  failureText(f)));
            tracks.clear();
            why = f.number;
            folder = f.folder;
        }
        if (tracks.isEmpty()) {
            VTR_LOG(1, QStringLiteral("Failed to add file \"%1\" to iTunes.").arg(file->path()));
            if (m_refused.size() == refusedBefore) refuse(file->path(), why, folder);
            result = false;
            continue;
        }
        ++filesAdded;
        for (const QString &name : dictionary.value(QStringLiteral("playlistNames")).toStringList()) {
            const std::optional<MediaLibraryHost::Playlist> playlist = playlistFor(name);
            if (!playlist) {
                VTR_LOG(1, QStringLiteral("Failed to create playlist \"%1\" in iTunes.").arg(name));
                continue;
            }
            try {
                host.addTracksToPlaylist(tracks, playlist->persistentID);
                playlistsUsed.insert(playlist->persistentID);
            } catch (const MediaLibraryHost::Failure &f) {
                VTR_LOG(1, QStringLiteral("Failed to add file \"%1\" to iTunes playlist \"%2\": %3")
                               .arg(file->humanFriendlyPath(), name, failureText(f)));
            }
        }
    }
    try {
        batch.commit();
    } catch (const MediaLibraryHost::Failure &f) {
        savingFailed(f);
        result = false;
    }
    notePlaylistsNotWritten(host, playlistsUsed + QSet<QString>{collection->persistentID});
    logRefusals();
    if (outNumFilesMigrated) *outNumFilesMigrated = filesAdded;
    if (outNumPlaylistsMigrated) {
        // Only those whose files the library wrote: a playlist without its
        // file is in no player.
        qsizetype filed = 0;
        try {
            filed = host.playlistFilesWritten(playlistsUsed);
        } catch (const MediaLibraryHost::Failure &) {
        }
        *outNumPlaylistsMigrated = uint(filed);
    }
    return result;
}

// ---- photos -------------------------------------------------------------------------------------------

bool iPhotoImporter::importFiles(const VtrFileInfoList &files, const QString &collectionName)
{
    beginImport();
    if (files.isEmpty()) return true;
    MediaLibraryHost &host = MediaLibraryHost::shared();
    if (m_copies) {
        // No link is made to a copy: it is filed as the file it is.
        try {
            MediaLibraryHost::Batch batch(host);
            for (const VtrFileInfoPtr &file : files) {
                if (!file) continue;
                try {
                    const QString key = host.addCopiedPhoto(*copyOf(file), collectionName);
                    if (!key.isEmpty()) m_libraryFiles.insert(file->path(), host.fileOfImage(key));
                } catch (const MediaLibraryHost::Failure &f) {
                    VTR_LOG(1, failureText(f));
                    refuse(file->path(), f.number, f.folder);
                }
            }
            batch.commit();
        } catch (const MediaLibraryHost::Failure &f) {
            VTR_LOG(1, failureText(f));
            m_filingFailure = f.message;
        }
        logRefusals();
        return true;
    }
    QStringList links;
    const VtrFileInfoPtr folder = createTempFolderOfSymLinksForFiles(files, &m_refused, &links);
    if (!folder) return true;
    const LinkFolderRemoval removal(folder->path());
    // This call's links one by one: the folder may hold an earlier import's.
    try {
        MediaLibraryHost::Batch batch(host);
        for (const QString &link : std::as_const(links)) {
            try {
                const QStringList filed = host.addPhotos(link, collectionName);
                if (filed.size() == 1)
                    m_libraryFiles.insert(QFileInfo(link).symLinkTarget(), host.fileOfImage(filed.first()));
            } catch (const MediaLibraryHost::Failure &f) {
                VTR_LOG(1, failureText(f));
                // The person's file, not the link that stood for it.
                refuse(QFileInfo(link).symLinkTarget(), f.number, f.folder);
            }
        }
        batch.commit();
    } catch (const MediaLibraryHost::Failure &f) {
        VTR_LOG(1, failureText(f));
        m_filingFailure = f.message;
    }
    logRefusals();
    return true;
}
