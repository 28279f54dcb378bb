#include "migration/DataMigrator.h"

#include "devices/phone/MobileDeviceInterface.h"
#include "fileinfo/FileInfoCopy.h"
#include "fileinfo/VtrMacFileInfo.h"
#include "fileinfo/VtrMacFileInfoFS.h"
#include "foundation/Log.h"
#include "foundation/MigrationStatus.h"
#include "foundation/Saturating.h"
#include "foundation/VtrDate.h"
#include "foundation/VtrString.h"
#include "migration/ContentReads.h"
#include "migration/CopyRecords.h"
#include "migration/iAppImporter.h"
#include "platform/Descriptor.h"
#include "platform/Folders.h"
#include "platform/Strings.h"
#include "platform/VtrException.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QScopeGuard>
#include <QSet>
#include <QTemporaryDir>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using vtr::migration::CopyRecord;
using vtr::migration::SourceReads;

namespace {

QString fill(QString format, const QString &value) { return format.replace(QStringLiteral("%@"), value); }

// Reports a file's copy (or its read from the phone) within the kind's
// whole, and passes a cancel request on to the copy (which then removes its
// temporary file). The bar never goes back: a second try of a file starts
// that file again.
class CopyProgress final : public FileInfoCopyProgress
{
public:
    CopyProgress(MigrationStatusProtocol *status, QString phase, QString text, qint64 total,
                 std::function<bool()> cancel)
        : m_status(status), m_phase(std::move(phase)), m_text(std::move(text)), m_total(total), m_cancel(cancel)
    {}
    void beginFile(qint64 size) { m_current = std::max<qint64>(0, size); }
    void endFile()
    {
        m_done = vtr::saturatingAdd(m_done, m_current);
        m_current = 0;
    }
    bool copyingFile(const VtrFileInfoPtr &, const VtrFileInfoPtr &, float percent, void *) override
    {
        // `percent` runs from 0 to 100. Counted in doubles: a size the phone
        // listed may be near the end of qint64.
        if (m_status && m_total > 0)
            m_status->setStatus(
                m_text, m_phase,
                shown(double(m_done) + double(m_current) * std::clamp(double(percent), 0.0, 100.0) / 100.0));
        return m_cancel();
    }
    void report()
    {
        if (m_status) m_status->setStatus(m_text, m_phase, m_total > 0 ? shown(double(m_done)) : 0.0);
    }

private:
    double shown(double bytes)
    {
        m_shown = std::max(m_shown, std::min(0.99, bytes / double(m_total)));
        return m_shown;
    }

    MigrationStatusProtocol *m_status;
    QString m_phase;
    QString m_text;
    qint64 m_total;
    std::function<bool()> m_cancel;
    qint64 m_done = 0;
    qint64 m_current = 0;
    double m_shown = 0.0;
};

// The private folder a backup writes into. Only the backup writes there, one
// file after the other, so the folder remembers the next number of each
// name: ten thousand photos named "cover.jpg" get their names without every
// number being tried from 1 for each of them (and beyond the 10,000th too).
// A name is taken while a file of it, in any letter case, is there (find()
// matches names ignoring case, as the new phone does); a copy that failed
// leaves its name free.
class BackupFolder final : public VtrMacFileInfo
{
public:
    using VtrMacFileInfo::VtrMacFileInfo;

    QString uniqueFilename(const QString &name) override
    {
        if (!taken(name)) return name;
        const QString base = vtr::posixDeletingPathExtension(name);
        const QString extension = vtr::posixPathExtension(name);
        int &next = m_nextNumber[name.toCaseFolded()];
        for (int tries = 0; tries < kMaxUniqueNameAttempts; ++tries) {
            next = std::max(next, 1);
            const QString candidate = vtr::numberedName(base, extension, next++);
            if (!taken(candidate)) return candidate;
        }
        VTR_LOG(2, QStringLiteral("No free name for \"%1\" in \"%2\".").arg(name, path()));
        return QString();
    }

private:
    bool taken(const QString &name) { return find(name)->exists(); }

    QHash<QString, int> m_nextNumber; // case-folded name -> next number to try
};

// Why a copy into the new phone's folder failed, in the system's words
// (`failure`: empty when no copy ran).
QString copyFailureText(const QString &name, FileInfoCopyStatus result, const QString &folderPath,
                        const vtr::CopyFailure &failure)
{
    const QString folder = failure.folder.isEmpty() ? folderPath : failure.folder;
    QString text = fill(vtrLocalized("\"%@\" could not be copied to the new phone"), name);
    if (failure.error != 0) {
        const QString cause = QString::fromLocal8Bit(std::strerror(failure.error));
        if (failure.path == folder || vtr::isPathBelow(failure.path, folder))
            text += vtrLocalized(": writing into the folder \"%1\" failed (%2).").arg(folder, cause);
        else
            text += vtrLocalized(": \"%1\" could not be read (%2).").arg(failure.path, cause);
    } else if (result == kFileInfoCopyNoSpace) {
        text += vtrLocalized(": there is not enough free space for it in the folder \"%1\".").arg(folder);
    } else {
        text += QStringLiteral(" (%1).").arg(result);
    }
    if (!failure.leftover.isEmpty())
        text += QLatin1Char(' ') + vtrLocalized("The unfinished copy \"%1\" could not be removed; it is removed "
                                                "once the folder can be written again.")
                                       .arg(failure.leftover);
    return text;
}

std::mutex g_afterCopyLock;
std::function<void(const QString &)> g_afterCopy;

void afterCopy(const QString &folder)
{
    std::function<void(const QString &)> hook;
    {
        const std::lock_guard lock(g_afterCopyLock);
        hook = g_afterCopy;
    }
    if (hook) hook(folder);
}

}  // namespace

void MediaMigrator::setAfterCopyForTesting(std::function<void(const QString &folder)> hook)
{
    const std::lock_guard lock(g_afterCopyLock);
    g_afterCopy = std::move(hook);
}

// ---- DataMigrator -------------------------------------------------------------------------------------

DataMigrator::DataMigrator(std::shared_ptr<MobileDeviceInterface> oldDevice) : m_device(std::move(oldDevice)) {}

DataMigrator::~DataMigrator() { removeBackupFolder(); }

void DataMigrator::removeBackupFolder()
{
    // What the phone gave is removed as it lies: a link is never followed.
    if (!m_backupFolder.isEmpty()) {
        const platform::TemporaryRemoval removal = platform::removeTreeWithoutFollowingLinks(m_backupFolder);
        if (removal.kept > 0)
            VTR_LOG(2, QStringLiteral("%1 entries of the backup folder \"%2\" could not be removed.")
                           .arg(removal.kept)
                           .arg(m_backupFolder));
    }
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
    if (isCancelled()) throwTransferStopped();
}

// ---- MediaMigrator --------------------------------------------------------------------------------------

bool DataMigrator::phoneIsGone() const { return m_device && !m_device->isConnected(); }

PhoneReads DataMigrator::phoneReads() const
{
    return {[this] { return isCancelled(); }, [this] { return phoneIsGone(); }};
}

bool DataMigrator::readTwice(const QString &what, const std::function<bool()> &read) const
{
    QString why;
    if (phoneReads().twice(QStringLiteral("Reading ") + what, read, &why)) return true;
    VTR_LOG(2, QStringLiteral("%1 could not be read from the phone; left out: %2").arg(what, why));
    return false;
}

void MediaMigrator::backupOldDeviceWithStatus(MigrationStatusProtocol *status) { readOldDevice(status, true); }

void MediaMigrator::countOldDeviceWithStatus(MigrationStatusProtocol *status) { readOldDevice(status, false); }

void MediaMigrator::readOldDevice(MigrationStatusProtocol *status, bool fetch)
{
    {
        const std::lock_guard lock(m_itemsMutex);
        m_items.clear();
        m_backupTime = QDateTime();
        m_notMoved = 0;
        m_hidden = 0;
        m_notWritten = 0;
        m_noFileHere = 0;
        m_notWrittenWhy.clear();
        m_notWrittenWhere.clear();
        m_countedOnly = !fetch;
        m_phone = mobileDevice() ? mobileDevice()->serialNumber() : QString();
    }
    m_copied.clear();
    QList<MediaItem> backedUp;
    int notMoved = 0;
    int hidden = 0;
    int notWritten = 0;
    int noFileHere = 0;
    QString notWrittenWhy;
    QString notWrittenWhere;
    // What was fetched before a failure stays listed: it is complete.
    struct Publish
    {
        MediaMigrator *self;
        QList<MediaItem> &items;
        int &notMoved;
        int &hidden;
        int &notWritten;
        int &noFileHere;
        QString &notWrittenWhy;
        QString &notWrittenWhere;
        ~Publish()
        {
            const std::lock_guard lock(self->m_itemsMutex);
            self->m_items = items;
            self->m_notMoved = notMoved;
            self->m_hidden = hidden;
            self->m_notWritten = notWritten;
            self->m_noFileHere = noFileHere;
            self->m_notWrittenWhy = notWrittenWhy;
            self->m_notWrittenWhere = notWrittenWhere;
            self->m_backupTime = QDateTime::currentDateTime();
        }
    } publish{this, backedUp, notMoved, hidden, notWritten, noFileHere, notWrittenWhy, notWrittenWhere};
    // A count writes nothing: on a small disk the songs it only counts would
    // take the space of what is to move.
    VtrFileInfoPtr folder;
    if (fetch) folder = std::make_shared<BackupFolder>(freshBackupFolder());
    else removeBackupFolder();
    const QString text = fill(vtrLocalized("Backing up %@..."), kindWord());
    if (status) status->setStatusNow(text, phase(), 0.0);
    // A listing that fails twice is the kind's failure, with the phone's words.
    QList<MediaSourceItem> sources;
    phoneReads().twice(QStringLiteral("Listing the ") + kindWord(), [&] {
        sources = sourceItems();
        return true;
    });
    qint64 total = 0;
    for (const MediaSourceItem &s : sources) total = vtr::saturatingAdd(total, std::max<qint64>(0, s.size));
    // The bar moves within a file as it arrives, as it does while copying.
    CopyProgress progress(status, phase(), text, total, [this] { return isCancelled(); });
    // A phone or card may hold thousands of them (a player's thumbnails).
    LogRepeats hiddenLines(
        3, [](qsizetype more) { return QStringLiteral("%1 more hidden files are left out.").arg(more); });
    for (const MediaSourceItem &source : sources) {
        throwIfCancelled();
        if (!source.fetch) {
            if (source.hidden) {
                ++hidden;
                if (hiddenLines.admit())
                    VTR_LOG(3, QStringLiteral("The hidden file \"%1\" is left out.").arg(source.name));
            } else {
                ++notMoved;
                if (source.noFileHere) ++noFileHere;
                VTR_LOG(2, QStringLiteral("\"%1\" is left out: %2").arg(source.name, source.leftOut));
            }
            continue;
        }
        if (!fetch) {
            MediaItem item;
            item.name = source.name;
            item.size = std::max<qint64>(0, source.size);
            item.playlistNames = source.playlistNames;
            item.title = source.title;
            item.durationSeconds = source.durationSeconds;
            item.localFile = source.localFile;
            backedUp.append(item);
            continue;
        }
        VtrFileInfoPtr file;
        progress.beginFile(source.size);
        const bool read = readTwice(QStringLiteral("\"%1\"").arg(source.name), [&] {
            vtr::forgetLastCopyFailure();
            file = source.fetch(folder, &progress);
            return file && file->exists();
        });
        // A file that could not be read is behind the bar too.
        progress.endFile();
        if (!read) {
            ++notMoved;
            // The phone gave it, this computer did not take it: its line
            // must not blame the phone.
            const vtr::CopyFailure failure = vtr::lastCopyFailure();
            if (failure.error != 0 && vtr::isPathBelow(failure.path, folder->path())) {
                if (notWritten++ == 0) {
                    notWrittenWhy = QString::fromLocal8Bit(std::strerror(failure.error));
                    // The backup folder goes with the run: the person is
                    // told of the folder that holds it.
                    notWrittenWhere = vtr::localfs::parentPath(folder->path());
                }
                VTR_LOG(2, QStringLiteral("\"%1\" could not be written into \"%2\": %3")
                               .arg(source.name, folder->path(), QString::fromLocal8Bit(std::strerror(failure.error))));
            }
            continue;
        }
        MediaItem item;
        item.path = file->path();
        item.name = file->name();
        item.size = file->size();
        item.playlistNames = source.playlistNames;
        item.title = source.title;
        item.durationSeconds = source.durationSeconds;
        item.localFile = source.localFile;
        backedUp.append(item);
        if (total > 0) progress.report();
    }
}

int MediaMigrator::numItemsNotMoved() const
{
    const std::lock_guard lock(m_itemsMutex);
    return m_notMoved;
}

int MediaMigrator::numHiddenItemsLeftOut() const
{
    const std::lock_guard lock(m_itemsMutex);
    return m_hidden;
}

int MediaMigrator::numItemsNotWritten() const
{
    const std::lock_guard lock(m_itemsMutex);
    return m_notWritten;
}

int MediaMigrator::numItemsWithoutAFileHere() const
{
    const std::lock_guard lock(m_itemsMutex);
    return m_noFileHere;
}

QList<MediaMigrator::InTheWay> MediaMigrator::itemsInTheWay() const
{
    const std::lock_guard lock(m_itemsMutex);
    return m_inTheWay;
}

void MediaMigrator::noteWhatStoodInTheWay(const QString &folder, const QString &name, const QString &taken)
{
    if (name == taken) return;
    const QString path = vtr::localfs::childPath(folder, name);
    struct stat st;
    // The person's own file of that name, or an earlier copy they kept, is
    // theirs to have there: the copy beside it is the design, not news.
    if (!vtr::localfs::lstatPath(path, &st) || (S_ISREG(st.st_mode) && st.st_uid == ::geteuid())) return;
    const QString what = S_ISLNK(st.st_mode)   ? vtrLocalized("a link")
                         : S_ISDIR(st.st_mode) ? vtrLocalized("a folder")
                         : S_ISREG(st.st_mode) ? vtrLocalized("another user's file")
                                               : vtrLocalized("no plain file");
    VTR_LOG(2, QStringLiteral("\"%1\" is %2 and stays; its copy is \"%3\".").arg(path, what, taken));
    const std::lock_guard lock(m_itemsMutex);
    m_inTheWay.append({path, what, taken});
}

QString MediaMigrator::notWrittenNote() const
{
    const std::lock_guard lock(m_itemsMutex);
    if (m_notWritten == 0) return QString();
    return vtrLocalized("%1 could not be written into \"%2\" on this computer: %3")
        .arg(m_notWritten)
        .arg(m_notWrittenWhere, m_notWrittenWhy);
}

QList<MediaItem> MediaMigrator::items() const
{
    const std::lock_guard lock(m_itemsMutex);
    return m_items;
}

int MediaMigrator::numItemsToCopy() const
{
    const std::lock_guard lock(m_itemsMutex);
    return m_countedOnly ? 0 : int(m_items.size());
}

QList<MediaItem> MediaMigrator::itemsThatFitInBytes(qint64 numBytes) const
{
    QList<MediaItem> fit;
    qint64 left = numBytes;
    QList<MediaItem> all;
    {
        const std::lock_guard lock(m_itemsMutex);
        if (!m_countedOnly) all = m_items;
    }
    for (const MediaItem &item : all) {
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
    if (numItemsToCopy() == 0) return 0;
    qint64 total = 0;
    for (const MediaItem &item : items()) total = vtr::saturatingAdd(total, item.size);
    return total;
}

QString MediaMigrator::collectionNameOf(const QString &format)
{
    return fill(vtrLocalized(format), QLatin1String(platform::kAppFolderName));
}

QString MediaMigrator::collectionName() const { return collectionNameOf(collectionFormat()); }

void MediaMigrator::copyToDevice(const std::shared_ptr<MobileDeviceInterface> &target, qint64 numBytesToFill,
                                 MigrationStatusProtocol *status, iAppImporter *importer)
{
    m_copied.clear();
    {
        const std::lock_guard lock(m_itemsMutex);
        m_inTheWay.clear();
    }
    const QList<MediaItem> items = itemsThatFitInBytes(numBytesToFill);
    if (items.isEmpty()) return;
    if (!target) throw VtrException(QStringLiteral("MediaCopyException"), vtrLocalized("There is no new phone."));
    const VtrFileInfoPtr folder = targetFolder(*target);
    if (!folder || !folder->isFolder())
        throw VtrException(QStringLiteral("MediaCopyException"),
                           fill(vtrLocalized("The folder for %@ on the new phone could not be made."), kindWord()));
    qint64 total = 0;
    for (const MediaItem &item : items) total = vtr::saturatingAdd(total, item.size);
    const QString text = fill(vtrLocalized("Copying %@..."), kindWord());
    CopyProgress progress(status, phase(), text, total, [this] { return isCancelled(); });
    QList<MediaItem> copiedItems;
    CopyRecord record(folder);
    QList<std::pair<QString, qint64>> sources;
    for (const MediaItem &item : items) sources.append({item.path, item.size});
    SourceReads contents(sources, [this] { return isCancelled(); });
    // The folder as the copies go into it, by descriptor: the library is
    // handed each copy as the very file it is in this folder, never by a
    // path that another user who may write beside it can make lead
    // elsewhere meanwhile. A copy it cannot be sure of is handed as none.
    const auto dir = std::make_shared<const platform::Descriptor>(platform::openOwnFolder(folder->path(), false));
    QList<vtr::CopiedFile> copies;
    const auto identify = [&](const VtrFileInfoPtr &copy, bool madeByPath) {
        const QString path = copy->path();
        const QString name = QFileInfo(path).fileName();
        struct stat in, made;
        if (!dir->isOpen() ||
            ::fstatat(dir->get(), QFile::encodeName(name).constData(), &in, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(in.st_mode) || in.st_uid != ::geteuid())
            return;
        // The file the copy made by its path is the one in this folder.
        if (madeByPath &&
            (!vtr::localfs::lstatPath(path, &made) || made.st_dev != in.st_dev || made.st_ino != in.st_ino))
            return;
        copies.append({dir, QFileInfo(path).path(), name, vtr::migration::stampOf(in)});
    };
    vtr::migration::CopiesAlreadyThere there(folder);
    for (const MediaItem &item : items) {
        throwIfCancelled();
        progress.beginFile(item.size);
        const VtrFileInfoPtr source = VtrMacFileInfo::fileInfoWithPath(item.path);
        const vtr::migration::Contents expected = contents.next();
        // A run that could not record its copies left them there: each is
        // this file's copy, and is recorded now, where that can be.
        if (const QString already = there.take(source->name(), expected); !already.isEmpty()) {
            record.expect(already, expected);
            record.copied(already);
            VTR_LOG(3, QStringLiteral("\"%1\" in \"%2\" holds the bytes of \"%3\" already: it is taken for its copy.")
                           .arg(already, folder->path(), item.name));
            m_copied.append(VtrMacFileInfo::fileInfoWithPath(vtr::localfs::childPath(folder->path(), already)));
            identify(m_copied.last(), false);
            copiedItems.append(item);
            progress.endFile();
            progress.report();
            continue;
        }
        // The name the copy takes, as copyTo() chooses it.
        record.expect(folder->uniqueFilename(source->name()), expected);
        VtrFileInfoPtr newItem;
        const FileInfoCopyStatus result = source->copyTo(folder, true, &progress, nullptr, &newItem);
        record.copied(result == 0 && newItem ? newItem->name() : QString());
        throwIfCancelled();
        if (result != 0 || !newItem) {
            // The leftover travels apart too: a caller that words the cause
            // its own way must still say what was left behind.
            const vtr::CopyFailure failure = vtr::lastCopyFailure();
            const QString &leftover = failure.leftover;
            throw VtrException(QStringLiteral("MediaCopyException"),
                               copyFailureText(item.name, result, folder->path(), failure),
                               leftover.isEmpty() ? QVariantMap() : QVariantMap{{QStringLiteral("leftover"), leftover}});
        }
        noteWhatStoodInTheWay(folder->path(), source->name(), newItem->name());
        m_copied.append(newItem);
        identify(newItem, true);
        copiedItems.append(item);
        progress.endFile();
        progress.report();
    }
    record.finish();
    afterCopy(folder->path());
    didCopy(*target, copiedItems, m_copied);
    if (importer && !m_copied.isEmpty()) {
        importer->setCopies(copies);
        const auto handed = qScopeGuard([importer] { importer->setCopies(std::nullopt); });
        if (status) status->setStatusNow(fill(vtrLocalized(QStringLiteral("Sending %1 to %@...").arg(kindWord())),
                                              importer->iAppName()),
                                         phase(), 0.99);
        importCopies(*importer, copiedItems, m_copied);
    }
    // Whether a later run may clear a copy without asking: the file it came
    // from, or the library's file it was filed as, is another copy.
    QHash<QString, QString> others;
    for (qsizetype i = 0; i < m_copied.size(); ++i) {
        QString other = copiedItems.at(i).localFile;
        if (other.isEmpty() && importer) other = importer->libraryFileOf(m_copied.at(i)->path());
        if (!other.isEmpty()) others.insert(m_copied.at(i)->name(), other);
    }
    recordOtherCopies(folder, others);
}

void MediaMigrator::didCopy(MobileDeviceInterface &, const QList<MediaItem> &, const VtrFileInfoList &) {}

void MediaMigrator::importCopies(iAppImporter &importer, const QList<MediaItem> &, const VtrFileInfoList &files)
{
    if (!importer.importFiles(files, collectionName()))
        VTR_LOG(2, QStringLiteral("Not every file reached %1.").arg(importer.iAppName()));
}

QVariantMap MediaMigrator::manifestWith(const char *countKey, const char *one, const char *many) const
{
    QList<MediaItem> list;
    QDateTime time;
    int notMoved = 0;
    int hidden = 0;
    {
        const std::lock_guard lock(m_itemsMutex);
        list = m_items;
        time = m_backupTime;
        notMoved = m_notMoved;
        hidden = m_hidden;
    }
    if (time.isNull()) return {};
    qint64 size = 0;
    for (const MediaItem &item : list) size = vtr::saturatingAdd(size, item.size);
    QVariantMap info;
    info.insert(QString::fromLatin1(countKey), int(list.size()));
    info.insert(QStringLiteral("title"), vtrLocalized(list.size() == 1 ? one : many));
    info.insert(QStringLiteral("data_size"), size);
    info.insert(QStringLiteral("timestamp"), vtr::st2String(time));
    // Only when something was left out: what the phone holds beyond the count.
    if (notMoved > 0) info.insert(QStringLiteral("not_moved_cnt"), notMoved);
    if (hidden > 0) info.insert(QStringLiteral("hidden_cnt"), hidden);
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

QString MediaMigrator::phoneOfBackup() const
{
    const std::lock_guard lock(m_itemsMutex);
    return m_phone;
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
