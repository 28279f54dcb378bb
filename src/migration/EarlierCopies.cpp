// Clearing what earlier runs copied into the new phone's folders: which of
// those copies are still ours and whether another copy of each is kept on
// this computer, their removal, and what a run that ended midway left there.

#include "migration/EarlierCopies.h"

#include "fileinfo/FileInfoCopy.h"
#include "fileinfo/VtrMacFileInfoFS.h"
#include "foundation/Log.h"
#include "foundation/Saturating.h"
#include "foundation/VtrString.h"
#include "migration/CopyRecords.h"
#include "migration/DataMigrator.h"
#include "platform/Descriptor.h"
#include "platform/Folders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRandomGenerator>
#include <QSet>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <unistd.h>
#include <utility>

using namespace vtr::migration;

namespace {

// The copy `id` of `folder`, seen as `seen`, is not this computer's only
// one: the other copy recorded for it is still the very file it was, and
// lies outside the new phone's folder (whose folders are cleared too).
bool hasOtherCopy(const QString &folder, const CopyIdentity &id, const struct stat &seen,
                  const QHash<QString, OtherCopy> &others)
{
    const auto other = others.constFind(id.name);
    if (other == others.cend() || other->device != quint64(seen.st_dev) || other->inode != quint64(seen.st_ino) ||
        vtr::isPathBelow(other->path, vtr::localfs::parentPath(folder)))
        return false;
    struct stat st;
    return vtr::localfs::statPath(other->path, &st) && S_ISREG(st.st_mode) && stampOf(st) == other->stamp &&
           (st.st_dev != seen.st_dev || st.st_ino != seen.st_ino);
}

// The copies a run makes again from the phone it moves now: named as one of
// its items, of the same size and, asked for, the same contents. Such an
// earlier copy is no copy this computer would lose.
class MadeAgain
{
public:
    explicit MadeAgain(const QList<MediaItem> &items)
    {
        for (const MediaItem &item : items)
            if (!item.path.isEmpty()) m_items.insert(item.name, {item.path, item.size});
    }

    // As far as the copy's name and size tell (quick: an estimate).
    bool byStatus(const CopyIdentity &id) const
    {
        const auto it = m_items.constFind(id.name);
        return it != m_items.cend() && it->second == id.stamp.size;
    }

    // The item's file holds the very contents recorded for the copy.
    bool byContents(const CopyIdentity &id) const
    {
        if (!byStatus(id) || id.sha256.isEmpty()) return false;
        struct stat st;
        return contentHash(m_items.value(id.name).first, &st) == id.sha256;
    }

private:
    QHash<QString, std::pair<QString, qint64>> m_items; // name: path and size
};

std::function<void(const QString &path)> &beforeEarlierCopyRemoved()
{
    static std::function<void(const QString &path)> hook;
    return hook;
}

}  // namespace

namespace vtr::migration {

QSet<QString> earlierCopiesThatStay(const VtrFileInfoPtr &folder, const VtrFileInfoList &now)
{
    QSet<QString> names;
    for (const VtrFileInfoPtr &file : now) names.insert(file->name());
    QSet<QString> stay;
    QList<CopyIdentity> ids;
    {
        RecordFiles &files = RecordFiles::shared();
        const std::lock_guard lock(files.mutex);
        ids = files.read(recordKeyFor(folder));
    }
    struct stat seen;
    for (const CopyIdentity &id : std::as_const(ids))
        if (!names.contains(id.name) && stillOurs(folder->path(), id, &seen, Check::Status)) stay.insert(id.name);
    return stay;
}

Removal removeIfStill(const QString &folder, const QString &name, const struct stat &seen)
{
    if (const auto &hook = beforeEarlierCopyRemoved()) hook(vtr::localfs::childPath(folder, name));
    QString why;
    const platform::Descriptor dir(platform::openOwnFolder(folder, false, &why));
    if (!dir.isOpen()) {
        VTR_LOG(2, QStringLiteral("\"%1\" is not removed: %2").arg(name, why));
        return Removal::Failed;
    }
    const QByteArray from = QFile::encodeName(name);
    QByteArray aside;
    for (int attempt = 0; attempt < 16 && aside.isEmpty(); ++attempt) {
        const QByteArray candidate =
            ".clearing-" + QByteArray::number(QRandomGenerator::system()->generate64(), 16) + ".tmp";
        if (::renameat2(dir.get(), from.constData(), dir.get(), candidate.constData(), RENAME_NOREPLACE) == 0)
            aside = candidate;
        else if (errno != EEXIST)
            return errno == ENOENT ? Removal::NotOurs : Removal::Failed;
    }
    if (aside.isEmpty()) return Removal::Failed;
    vtr::localfs::ChangeInFolder change(folder);
    struct stat st;
    const bool checked = ::fstatat(dir.get(), aside.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                         S_ISREG(st.st_mode) && stampOf(st) == stampOf(seen);
    if (checked) {
        if (::unlinkat(dir.get(), aside.constData(), 0) == 0) {
            change.removed(name);
            return Removal::Removed;
        }
        VTR_LOG(2, QStringLiteral("\"%1\" in \"%2\" could not be removed: %3")
                       .arg(name, folder, QString::fromLocal8Bit(std::strerror(errno))));
    }
    // Not the file checked, or ours that could not go (it stays recorded):
    // it takes its name again.
    const Removal kept = checked ? Removal::Failed : Removal::NotOurs;
    const QFileInfo parts(name);
    for (qint64 n = 0; n <= 1000; ++n) {
        const QString back =
            n == 0 ? name : vtr::numberedName(parts.completeBaseName(), parts.suffix(), n);
        if (::renameat2(dir.get(), aside.constData(), dir.get(), QFile::encodeName(back).constData(),
                        RENAME_NOREPLACE) == 0) {
            if (n > 0) {
                change.removed(name);
                change.added(back);
                VTR_LOG(2, QStringLiteral("A file put under the name \"%1\" in \"%2\" while it was cleared is "
                                          "now named \"%3\": another file took its name meanwhile.")
                               .arg(name, folder, back));
            }
            return kept;
        }
        if (errno != EEXIST) break;
    }
    VTR_LOG(2, QStringLiteral("A file put under the name \"%1\" in \"%2\" while it was cleared is kept as "
                              "\"%3\".")
                   .arg(name, folder, QFile::decodeName(aside)));
    return kept;
}

}  // namespace vtr::migration

MediaMigrator::EarlierCopies MediaMigrator::earlierCopiesIn(const VtrFileInfoPtr &folder,
                                                            const QList<MediaItem> &madeAgain)
{
    EarlierCopies earlier;
    if (!folder) return earlier;
    QList<CopyIdentity> ids;
    QHash<QString, OtherCopy> others;
    {
        RecordFiles &files = RecordFiles::shared();
        const std::lock_guard lock(files.mutex);
        ids = files.read(recordKeyFor(folder), &others);
    }
    // Weighed on the main thread before a copy: the contents are read only
    // by the clearing itself, on the copy's thread.
    const MadeAgain again(madeAgain);
    QHash<QString, qint64> sizes;
    for (const MediaItem &item : madeAgain) sizes.insert(item.name, item.size);
    struct stat seen;
    for (const CopyIdentity &id : std::as_const(ids)) {
        if (!stillOurs(folder->path(), id, &seen, Check::Status)) continue;
        ++earlier.files;
        earlier.bytes = vtr::saturatingAdd(earlier.bytes, id.stamp.size);
        const bool elsewhere = hasOtherCopy(folder->path(), id, seen, others);
        if (elsewhere && sizes.value(id.name, -1) == id.stamp.size)
            earlier.heldElsewhereBytes = vtr::saturatingAdd(earlier.heldElsewhereBytes, id.stamp.size);
        if (again.byStatus(id) || elsewhere) continue;
        ++earlier.soleFiles;
        earlier.soleBytes = vtr::saturatingAdd(earlier.soleBytes, id.stamp.size);
    }
    return earlier;
}

void MediaMigrator::setBeforeEarlierCopyRemovedForTesting(std::function<void(const QString &path)> hook)
{
    beforeEarlierCopyRemoved() = std::move(hook);
}

int MediaMigrator::clearEarlierCopies(const VtrFileInfoPtr &folder, SoleCopies sole, const QList<MediaItem> &madeAgain,
                                      qint64 room)
{
    if (!folder) return 0;
    RecordFiles &files = RecordFiles::shared();
    const std::lock_guard lock(files.mutex);
    const QString key = recordKeyFor(folder);
    QHash<QString, OtherCopy> others;
    QList<CopyIdentity> ids = files.read(key, &others);
    if (ids.isEmpty()) return 0;
    // Making room only: what the copies replace by name goes in any case,
    // and of the rest first what no one loses (the folder ignores case).
    QSet<QString> replaced;
    if (room >= 0) {
        for (const MediaItem &item : madeAgain) replaced.insert(item.name.toCaseFolded());
        const auto order = [&](const CopyIdentity &id) {
            if (replaced.contains(id.name.toCaseFolded())) return 0;
            struct stat seen;
            return stillOurs(folder->path(), id, &seen, Check::Status) && hasOtherCopy(folder->path(), id, seen, others)
                       ? 1
                       : 2;
        };
        QList<std::pair<int, CopyIdentity>> ranked;
        for (const CopyIdentity &id : std::as_const(ids)) ranked.append({order(id), id});
        std::stable_sort(ranked.begin(), ranked.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
        ids.clear();
        for (const auto &[rank, id] : std::as_const(ranked)) ids.append(id);
    }
    QList<CopyIdentity> kept;
    QList<OtherCopy> keptOthers;
    int removed = 0, soleRemoved = 0, soleKept = 0, roomKept = 0;
    qint64 made = 0;
    const MadeAgain again(madeAgain);
    for (const CopyIdentity &id : std::as_const(ids)) {
        if (room >= 0 && made >= room && !replaced.contains(id.name.toCaseFolded())) {
            // No copy needs its room: it stays as it is, with its record.
            kept.append(id);
            if (others.contains(id.name)) keptOthers.append(others.value(id.name));
            ++roomKept;
            continue;
        }
        struct stat seen;
        if (!stillOurs(folder->path(), id, &seen)) {
            // Gone, or the person's file under the name now: either way no
            // longer ours. A name alone proves nothing.
            if (id.nameOnly)
                VTR_LOG(3, QStringLiteral("\"%1\" in \"%2\" is kept: an older run recorded only its name.")
                               .arg(id.name, folder->path()));
            continue;
        }
        const bool soleCopy = !hasOtherCopy(folder->path(), id, seen, others) && !again.byContents(id);
        // What the person let go is what they were told of: a copy whose
        // status no longer tells it (it was not counted) stays.
        if (soleCopy && (sole == SoleCopies::Keep ||
                         (sole == SoleCopies::RemoveThoseCounted && stampOf(seen) != id.stamp))) {
            kept.append(id);
            ++soleKept;
            continue;
        }
        // The file checked is the one removed, not one put there meanwhile.
        const Removal removal = removeIfStill(folder->path(), id.name, seen);
        if (removal == Removal::NotOurs) continue;
        if (removal == Removal::Failed) {
            kept.append(id);
            if (!soleCopy) keptOthers.append(others.value(id.name));
            continue;
        }
        ++removed;
        made = vtr::saturatingAdd(made, id.stamp.size);
        if (soleCopy) ++soleRemoved;
    }
    files.replace(key, kept, keptOthers);
    if (removed > 0)
        VTR_LOG(2, QStringLiteral("%1 earlier copies were removed from \"%2\" (%3 of them had no other copy on this "
                                  "computer).")
                       .arg(QString::number(removed), folder->path(), QString::number(soleRemoved)));
    if (soleKept > 0)
        VTR_LOG(2, QStringLiteral("%1 earlier copies stay in \"%2\": they have no other copy on this computer.")
                       .arg(QString::number(soleKept), folder->path()));
    if (roomKept > 0)
        VTR_LOG(2, QStringLiteral("%1 earlier copies stay in \"%2\": this run's copies need no more room there.")
                       .arg(QString::number(roomKept), folder->path()));
    return int(kept.size());
}

namespace {

// Entries of a folder of the new phone looked at, at most.
constexpr qsizetype kMaxEntriesLookedAt = 10'000'000;

// The names of the entries of the open folder `dir` (which stays open) that
// `wanted` takes.
QList<QByteArray> entriesOf(int dir, const std::function<bool(const char *name)> &wanted)
{
    QList<QByteArray> names;
    platform::forEachEntryIn(
        dir, [&](const char *name) { if (wanted(name)) names.append(QByteArray(name)); }, kMaxEntriesLookedAt);
    return names;
}

// The name removeIfStill() moves an earlier copy aside under.
bool isClearingName(const QByteArrayView name)
{
    static constexpr QByteArrayView head(".clearing-"), tail(".tmp");
    if (!name.startsWith(head) || !name.endsWith(tail) || name.size() <= head.size() + tail.size()) return false;
    const QByteArrayView hex = name.sliced(head.size(), name.size() - head.size() - tail.size());
    return std::all_of(hex.begin(), hex.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
}

// The temporary file an interrupted copy left in the open folder `dir`
// (`path`) goes, unless a copy of this process writes it: only a plain file
// of this user's.
void removeUnfinishedCopyIn(int dir, const QString &path)
{
    struct stat st;
    if (::fstatat(dir, kVtrCopyTempFileName, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) ||
        st.st_uid != ::geteuid() ||
        vtr::isTemporaryCopyFileInUse(vtr::localfs::childPath(path, QLatin1String(kVtrCopyTempFileName))))
        return;
    vtr::localfs::ChangeInFolder change(path);
    if (::unlinkat(dir, kVtrCopyTempFileName, 0) != 0) return;
    change.removed(QLatin1String(kVtrCopyTempFileName));
    VTR_LOG(3, QStringLiteral("An unfinished copy in \"%1\" was removed.").arg(path));
}

// An earlier copy that a clearing had moved aside when the program ended
// takes its name again (or the next free one), so that this run's clearing
// decides on it as on any other: it goes, or stays as the person said. Only
// a file that is a recorded copy of ours, the very file as recorded, is
// ours; anything else of such a name stays as it is.
void putBackClearedCopiesIn(int dir, const QString &path)
{
    const QList<QByteArray> aside = entriesOf(dir, [](const char *name) { return isClearingName(name); });
    if (aside.isEmpty()) return;
    QList<CopyIdentity> ids;
    {
        RecordFiles &files = RecordFiles::shared();
        const std::lock_guard lock(files.mutex);
        ids = files.read(path);
    }
    QHash<std::pair<quint64, quint64>, CopyIdentity> recorded; // device and inode
    for (const CopyIdentity &id : std::as_const(ids))
        if (!id.nameOnly && !id.sha256.isEmpty() && id.stamp.size >= 0 && vtr::localfs::isSafeName(id.name))
            recorded.insert({id.stamp.device, id.stamp.inode}, id);
    for (const QByteArray &name : std::as_const(aside)) {
        struct stat st;
        const bool plain = ::fstatat(dir, name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
                           st.st_uid == ::geteuid();
        const auto id = plain ? recorded.constFind({quint64(st.st_dev), quint64(st.st_ino)}) : recorded.cend();
        if (id == recorded.cend() || stampOf(st) != id->stamp) {
            VTR_LOG(2, QStringLiteral("\"%1\" in \"%2\" stays: it is no copy of ours.")
                           .arg(QFile::decodeName(name), path));
            continue;
        }
        vtr::localfs::ChangeInFolder change(path);
        const QFileInfo parts(id->name);
        QString back;
        for (qint64 n = 0; n <= 1000 && back.isEmpty(); ++n) {
            const QString candidate =
                n == 0 ? id->name : vtr::numberedName(parts.completeBaseName(), parts.suffix(), n);
            const QByteArray to = QFile::encodeName(candidate);
            if (::renameat2(dir, name.constData(), dir, to.constData(), RENAME_NOREPLACE) == 0)
                back = candidate;
            else if (errno != EEXIST)
                break;
        }
        if (back.isEmpty()) {
            VTR_LOG(2, QStringLiteral("The earlier copy \"%1\" in \"%2\" could not take its name again: %3")
                           .arg(id->name, path, QString::fromLocal8Bit(std::strerror(errno))));
            continue;
        }
        change.added(back);
        if (back != id->name) {
            // Another file took its name meanwhile: it is recorded under the one it has.
            CopyIdentity moved = *id;
            moved.name = back;
            RecordAppender appender(path);
            appender.append(moved);
            appender.flush();
        }
        VTR_LOG(2, QStringLiteral("The earlier copy \"%1\" in \"%2\", left aside by a clearing that did not end, is "
                                  "back as \"%3\".")
                       .arg(id->name, path, back));
    }
}

}  // namespace

void MediaMigrator::removeUnfinishedCopies(const VtrFileInfoPtr &storage)
{
    if (!storage || storage->path().isEmpty()) return;
    const QString root = QDir::cleanPath(storage->path());
    // By descriptor from the new phone's folder, a folder of ours: nothing
    // is reached through a link.
    const platform::Descriptor top(platform::openOwnFolder(root, false));
    if (!top.isOpen()) return;
    removeUnfinishedCopyIn(top.get(), root);
    for (const QByteArray &name : entriesOf(top.get(), [](const char *) { return true; })) {
        const platform::Descriptor folder(
            ::openat(top.get(), name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!folder.isOpen()) continue;
        const QString path = vtr::localfs::childPath(root, QFile::decodeName(name));
        removeUnfinishedCopyIn(folder.get(), path);
        putBackClearedCopiesIn(folder.get(), path);
    }
}
