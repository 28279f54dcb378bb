#include "migration/DataMigrator.h"

#include "devices/phone/MobileDeviceInterface.h"
#include "fileinfo/FileInfoCopy.h"
#include "fileinfo/VtrMacFileInfo.h"
#include "foundation/Log.h"
#include "foundation/MigrationStatus.h"
#include "migration/VtrMusicPlaylistKinds.h"
#include "migration/iAppImporter.h"
#include "platform/Folders.h"
#include "platform/Strings.h"
#include "platform/UserDefaults.h"
#include "platform/VtrException.h"

#include <QDir>
#include <QSet>
#include <QTemporaryDir>

namespace {

const QString kCopiedMediaKey = QStringLiteral("CopiedMediaFiles");

QString fill(QString format, const QString &value) { return format.replace(QStringLiteral("%@"), value); }

// Reports a file's copy within the kind's whole, and passes a cancel request
// on to the copy (which then removes its temporary file).
class CopyProgress final : public FileInfoCopyProgress
{
public:
    CopyProgress(MigrationStatusProtocol *status, QString phase, QString text, qint64 total,
                 std::function<bool()> cancel)
        : m_status(status), m_phase(std::move(phase)), m_text(std::move(text)), m_total(total), m_cancel(cancel)
    {}
    void beginFile(qint64 size) { m_current = size; }
    void endFile() { m_done += m_current; m_current = 0; }
    bool copyingFile(const VtrFileInfoPtr &, const VtrFileInfoPtr &, float percent, void *) override
    {
        if (m_status && m_total > 0)
            m_status->setStatus(m_text, m_phase,
                                std::min(0.99, double(m_done + qint64(double(m_current) * percent)) / double(m_total)));
        return m_cancel();
    }
    void report()
    {
        if (m_status) m_status->setStatus(m_text, m_phase, m_total > 0 ? std::min(0.99, double(m_done) / m_total) : 0.0);
    }

private:
    MigrationStatusProtocol *m_status;
    QString m_phase;
    QString m_text;
    qint64 m_total;
    std::function<bool()> m_cancel;
    qint64 m_done = 0;
    qint64 m_current = 0;
};

QString recordKeyFor(const VtrFileInfoPtr &folder) { return QDir::cleanPath(folder->path()); }

}  // namespace

// ---- DataMigrator -------------------------------------------------------------------------------------

DataMigrator::DataMigrator(std::shared_ptr<MobileDeviceInterface> oldDevice) : m_device(std::move(oldDevice)) {}

DataMigrator::~DataMigrator() { removeBackupFolder(); }

void DataMigrator::removeBackupFolder()
{
    if (!m_backupFolder.isEmpty()) QDir(m_backupFolder).removeRecursively();
    m_backupFolder.clear();
}

QString DataMigrator::freshBackupFolder()
{
    removeBackupFolder();
    QTemporaryDir dir(QDir(platform::temporaryFolder()).filePath(QStringLiteral("backup-XXXXXX")));
    if (!dir.isValid())
        throw VtrException(QStringLiteral("BackupException"),
                           vtrLocalized("The backup folder could not be made: ") + dir.errorString());
    dir.setAutoRemove(false);
    m_backupFolder = dir.path();
    return m_backupFolder;
}

void DataMigrator::throwIfCancelled() const
{
    if (isCancelled())
        throw VtrException(QStringLiteral("StopSyncException"), vtrLocalized("The transfer was stopped."));
}

// ---- MediaMigrator --------------------------------------------------------------------------------------

void MediaMigrator::backupOldDeviceWithStatus(MigrationStatusProtocol *status)
{
    {
        const std::lock_guard lock(m_itemsMutex);
        m_items.clear();
        m_backupTime = QDateTime();
    }
    m_copied.clear();
    QList<MediaItem> backedUp;
    // What was fetched before a failure stays listed: it is complete.
    struct Publish
    {
        MediaMigrator *self;
        QList<MediaItem> &items;
        ~Publish()
        {
            const std::lock_guard lock(self->m_itemsMutex);
            self->m_items = items;
            self->m_backupTime = QDateTime::currentDateTime();
        }
    } publish{this, backedUp};
    const VtrFileInfoPtr folder = VtrMacFileInfo::fileInfoWithPath(freshBackupFolder());
    const QString text = fill(vtrLocalized("Backing up %@..."), kindWord());
    if (status) status->setStatusNow(text, phase(), 0.0);
    const QList<MediaSourceItem> sources = sourceItems();
    qint64 total = 0;
    for (const MediaSourceItem &s : sources) total += std::max<qint64>(0, s.size);
    qint64 done = 0;
    for (const MediaSourceItem &source : sources) {
        throwIfCancelled();
        const VtrFileInfoPtr file = source.fetch(folder);
        throwIfCancelled();
        if (!file || !file->exists()) {
            VTR_LOG(2, QStringLiteral("\"%1\" could not be backed up; left out.").arg(source.name));
            continue;
        }
        MediaItem item;
        item.path = file->path();
        item.name = file->name();
        item.size = file->size();
        item.playlistNames = source.playlistNames;
        item.title = source.title;
        item.durationSeconds = source.durationSeconds;
        backedUp.append(item);
        done += std::max<qint64>(0, source.size);
        if (status && total > 0) status->setStatus(text, phase(), std::min(0.99, double(done) / double(total)));
    }
}

QList<MediaItem> MediaMigrator::items() const
{
    const std::lock_guard lock(m_itemsMutex);
    return m_items;
}

int MediaMigrator::numItemsToCopy() const
{
    const std::lock_guard lock(m_itemsMutex);
    return int(m_items.size());
}

QList<MediaItem> MediaMigrator::itemsThatFitInBytes(qint64 numBytes) const
{
    QList<MediaItem> fit;
    qint64 left = numBytes;
    for (const MediaItem &item : items()) {
        if (left <= 0) break;
        if (item.size <= left) {
            fit.append(item);
            left -= item.size;
        }
    }
    return fit;
}

qint64 MediaMigrator::sizeOfItemsToCopy() const
{
    qint64 total = 0;
    for (const MediaItem &item : items()) total += item.size;
    return total;
}

QString MediaMigrator::collectionName() const
{
    return fill(vtrLocalized(collectionFormat()), QLatin1String(platform::kAppFolderName));
}

void MediaMigrator::copyToDevice(const std::shared_ptr<MobileDeviceInterface> &target, qint64 numBytesToFill,
                                 MigrationStatusProtocol *status, iAppImporter *importer)
{
    m_copied.clear();
    const QList<MediaItem> items = itemsThatFitInBytes(numBytesToFill);
    if (items.isEmpty()) return;
    if (!target) throw VtrException(QStringLiteral("MediaCopyException"), vtrLocalized("There is no new phone."));
    const VtrFileInfoPtr folder = targetFolder(*target);
    if (!folder || !folder->isFolder())
        throw VtrException(QStringLiteral("MediaCopyException"),
                           fill(vtrLocalized("The folder for %@ on the new phone could not be made."), kindWord()));
    qint64 total = 0;
    for (const MediaItem &item : items) total += item.size;
    const QString text = fill(vtrLocalized("Copying %@..."), kindWord());
    CopyProgress progress(status, phase(), text, total, [this] { return isCancelled(); });
    QList<MediaItem> copiedItems;
    for (const MediaItem &item : items) {
        throwIfCancelled();
        progress.beginFile(item.size);
        const VtrFileInfoPtr source = VtrMacFileInfo::fileInfoWithPath(item.path);
        VtrFileInfoPtr newItem;
        const FileInfoCopyStatus result = source->copyTo(folder, true, &progress, nullptr, &newItem);
        throwIfCancelled();
        if (result != 0 || !newItem)
            throw VtrException(QStringLiteral("MediaCopyException"),
                               fill(vtrLocalized("\"%@\" could not be copied to the new phone"), item.name) +
                                   QStringLiteral(" (%1).").arg(result));
        // Recorded at once, so a later run clears it even when this one fails.
        recordCopies(folder, {newItem->name()});
        m_copied.append(newItem);
        copiedItems.append(item);
        progress.endFile();
        progress.report();
    }
    didCopy(*target, copiedItems, m_copied);
    if (importer && !m_copied.isEmpty()) {
        if (status) status->setStatusNow(fill(vtrLocalized(QStringLiteral("Sending %1 to %@...").arg(kindWord())),
                                              importer->iAppName()),
                                         phase(), 0.99);
        importCopies(*importer, copiedItems, m_copied);
    }
}

void MediaMigrator::didCopy(MobileDeviceInterface &, const QList<MediaItem> &, const VtrFileInfoList &) {}

void MediaMigrator::importCopies(iAppImporter &importer, const QList<MediaItem> &, const VtrFileInfoList &files)
{
    if (!importer.importFiles(files, collectionName()))
        VTR_LOG(2, QStringLiteral("Not every file reached %1.").arg(importer.iAppName()));
}

void MediaMigrator::recordCopies(const VtrFileInfoPtr &folder, const QStringList &names)
{
    QVariantMap record = platform::UserDefaults::value(kCopiedMediaKey).toMap();
    const QString key = recordKeyFor(folder);
    QStringList list = record.value(key).toStringList();
    list += names;
    record.insert(key, list);
    platform::UserDefaults::setValue(kCopiedMediaKey, record);
}

// The recorded files that are still there as plain files in the folder; a
// record naming a path never reaches outside it.
static QList<QFileInfo> earlierCopies(const VtrFileInfoPtr &folder, QVariantMap *record)
{
    QList<QFileInfo> files;
    if (!folder) return files;
    *record = platform::UserDefaults::value(kCopiedMediaKey).toMap();
    for (const QString &name : record->value(recordKeyFor(folder)).toStringList()) {
        if (name.isEmpty() || name.contains(QLatin1Char('/')) || name == QLatin1String("..") ||
            name == QLatin1String("."))
            continue;
        const QFileInfo file(QDir(folder->path()).filePath(name));
        if (file.isFile() && !file.isSymLink()) files.append(file);
    }
    return files;
}

qint64 MediaMigrator::bytesOfEarlierCopies(const VtrFileInfoPtr &folder)
{
    QVariantMap record;
    qint64 bytes = 0;
    for (const QFileInfo &file : earlierCopies(folder, &record)) bytes += file.size();
    return bytes;
}

void MediaMigrator::clearEarlierCopies(const VtrFileInfoPtr &folder)
{
    if (!folder) return;
    QVariantMap record;
    const QList<QFileInfo> files = earlierCopies(folder, &record);
    const QString key = recordKeyFor(folder);
    if (!record.contains(key)) return;
    QStringList kept;
    for (const QFileInfo &file : files)
        if (!QFile::remove(file.filePath())) kept.append(file.fileName());
    if (kept.isEmpty())
        record.remove(key);
    else
        record.insert(key, kept);
    platform::UserDefaults::setValue(kCopiedMediaKey, record);
}

QVariantMap MediaMigrator::manifestWith(const char *countKey, const char *one, const char *many) const
{
    QList<MediaItem> list;
    QDateTime time;
    {
        const std::lock_guard lock(m_itemsMutex);
        list = m_items;
        time = m_backupTime;
    }
    if (time.isNull()) return {};
    qint64 size = 0;
    for (const MediaItem &item : list) size += item.size;
    QVariantMap info;
    info.insert(QString::fromLatin1(countKey), int(list.size()));
    info.insert(QStringLiteral("title"), vtrLocalized(list.size() == 1 ? one : many));
    info.insert(QStringLiteral("data_size"), size);
    info.insert(QStringLiteral("timestamp"), time.toSecsSinceEpoch());
    return info;
}

// ---- the three kinds ---------------------------------------------------------------------------------------

QString MusicMigrator::phase() const { return vtrphase::Music; }
QString PhotosMigrator::phase() const { return vtrphase::Photos; }
QString VideoMigrator::phase() const { return vtrphase::Videos; }

VtrFileInfoPtr MusicMigrator::targetFolder(MobileDeviceInterface &target) const { return target.preferredMusicFolder(); }
VtrFileInfoPtr PhotosMigrator::targetFolder(MobileDeviceInterface &target) const
{
    return target.preferredPhotosFolder();
}
VtrFileInfoPtr VideoMigrator::targetFolder(MobileDeviceInterface &target) const
{
    return target.preferredVideosFolder();
}

QVariantMap PhotosMigrator::manifestInfo() const { return manifestWith("photo_cnt", "Photo", "Photos"); }
QVariantMap VideoMigrator::manifestInfo() const { return manifestWith("video_cnt", "Video", "Videos"); }

QStringList MusicMigrator::playlistNames() const
{
    QStringList names;
    QSet<QString> seen;
    for (const MediaItem &item : items())
        for (const QString &name : item.playlistNames)
            if (!seen.contains(name)) {
                seen.insert(name);
                names.append(name);
            }
    return names;
}

QVariantMap MusicMigrator::manifestInfo() const
{
    QVariantMap info = manifestWith("song_cnt", "Song", "Songs");
    if (info.isEmpty()) return info;
    const int playlists = int(playlistNames().size());
    info.insert(QStringLiteral("playlist_cnt"), playlists);
    info.insert(QStringLiteral("playlist_title"), vtrLocalized(playlists == 1 ? "Playlist" : "Playlists"));
    return info;
}

// The new phone's folder tree has no phone to write through: the M3U text
// is made as for a phone (paths relative to the "Playlists" folder, with the
// phone's separators) and written as a local file, through a temporary file.
void MusicMigrator::didCopy(MobileDeviceInterface &target, const QList<MediaItem> &items, const VtrFileInfoList &files)
{
    const QStringList names = playlistNames();
    if (names.isEmpty()) return;
    const VtrFileInfoPtr playlistsFolder = target.preferredPlaylistsFolder();
    const VtrFileInfoPtr musicFolder = target.preferredMusicFolder();
    if (!playlistsFolder || !playlistsFolder->isFolder() || !musicFolder) {
        VTR_LOG(1, QStringLiteral("The new phone has no playlists folder; the playlists are not written."));
        return;
    }
    const std::unique_ptr<VtrMusicPlaylist_m3u> writer = VtrMusicPlaylist_m3u::playlistWithDevice(nullptr);
    const QString musicDevicePath = QStringLiteral("\\") + musicFolder->name();
    const QString listsDevicePath = QStringLiteral("\\") + playlistsFolder->name();
    QStringList written;
    for (const QString &name : names) {
        QList<VtrPlaylistTrack> tracks;
        for (qsizetype i = 0; i < items.size(); ++i) {
            if (!items.at(i).playlistNames.contains(name)) continue;
            VtrPlaylistTrack track;
            track.devicePath = musicDevicePath + QLatin1Char('\\') + files.at(i)->name();
            track.title = items.at(i).title;
            track.durationSeconds = items.at(i).durationSeconds;
            tracks.append(track);
        }
        if (tracks.isEmpty()) continue;
        const QString devicePath = writer->playlistPathForName(name, listsDevicePath);
        const QString fileName = devicePath.section(QLatin1Char('\\'), -1);
        const QByteArray bytes = writer->playlistData(tracks, devicePath);
        const VtrFileInfoPtr destination =
            VtrMacFileInfo::fileInfoWithPath(QDir(playlistsFolder->path()).filePath(fileName));
        vtr::TemporaryFileCopyOptions options;
        options.folder = playlistsFolder;
        const FileInfoCopyStatus result = vtr::copyThroughTemporaryFile(
            destination, options,
            [&bytes](const VtrFileInfoPtr &temporary) -> FileInfoCopyStatus {
                return temporary->setFileContents(bytes) ? 0 : kFileInfoCopyWriteFailed;
            },
            nullptr);
        if (result == 0)
            written.append(fileName);
        else
            VTR_LOG(1, QStringLiteral("The playlist \"%1\" could not be written (%2).").arg(name).arg(result));
    }
    recordCopies(playlistsFolder, written);
}

void MusicMigrator::importCopies(iAppImporter &importer, const QList<MediaItem> &items, const VtrFileInfoList &files)
{
    if (!importer.respondsToImportFileDictionaries()) return;
    QVariantList dictionaries;
    for (qsizetype i = 0; i < items.size(); ++i) {
        QVariantMap dictionary;
        dictionary.insert(QStringLiteral("targetFileInfo"), QVariant::fromValue(files.at(i)));
        if (!items.at(i).playlistNames.isEmpty())
            dictionary.insert(QStringLiteral("playlistNames"), items.at(i).playlistNames);
        dictionaries.append(dictionary);
    }
    uint numFiles = 0;
    uint numPlaylists = 0;
    try {
        importer.importFileDictionaries(dictionaries, collectionName(), &numFiles, &numPlaylists);
    } catch (const VtrException &e) {
        VTR_LOG(1, QStringLiteral("Filing the music into %1 failed: %2").arg(importer.iAppName(), e.reason()));
    }
    VTR_LOG(3, QStringLiteral("%1 songs and %2 playlists filed into %3").arg(numFiles).arg(numPlaylists)
                   .arg(importer.iAppName()));
}
