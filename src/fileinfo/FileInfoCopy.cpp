#include "fileinfo/FileInfoCopy.h"

#include "fileinfo/VtrMacFileInfoFS.h"
#include "foundation/Log.h"
#include "foundation/Saturating.h"
#include "platform/VtrException.h"

#include <QSet>

#include <algorithm>
#include <atomic>
#include <exception>
#include <limits>
#include <mutex>
#include <unistd.h>

// ---- temporary files of running copies ------------------------------------------

namespace {

struct LeaseRegistry
{
    std::mutex mutex;
    QSet<QString> paths;
};

LeaseRegistry &leaseRegistry()
{
    static LeaseRegistry *registry = new LeaseRegistry;
    return *registry;
}

QString leaseKey(const QString &path)
{
    // Copies one after the other into one folder ask for the same key: the
    // last one is kept, sparing a case fold of the whole path each time.
    thread_local QString lastPath;
    thread_local QString lastKey;
    if (path == lastPath && !path.isNull()) return lastKey;
    QString key = path;
    while (key.size() > 1 && (key.endsWith(QLatin1Char('/')) || key.endsWith(QLatin1Char('\\'))))
        key.chop(1);
    key = key.toCaseFolded();
    lastPath = path;
    lastKey = key;
    return key;
}

// Runs `fn`, dropping any std::exception: clean-up must not hide the status.
template <typename Fn> void quietly(Fn &&fn)
{
    try {
        fn();
    } catch (const std::exception &) {
    }
}

// Names taken by others between the choice of a unique name and the end of
// the copy, one after the other, before the copy gives up.
constexpr int kMaxTakenNames = 100;

// The system's last noted answer, and the last failed copy's account, on
// this thread.
struct SystemNote
{
    int error = 0;
    QString path;
};
thread_local SystemNote t_note;
thread_local vtr::CopyFailure t_lastFailure;

std::mutex g_hookMutex;
std::function<void(const QString &)> g_beforeCreate;
std::atomic<bool> g_hasBeforeCreate{false};

void beforeTemporaryFileCreatedIn(const VtrFileInfoPtr &folder, const QString &name)
{
    if (!g_hasBeforeCreate.load(std::memory_order_relaxed)) return;
    vtr::beforeTemporaryFileCreated(vtr::localfs::childPath(folder->path(), name));
}

} // namespace

namespace vtr {

void noteSystemFailure(int error, const QString &path)
{
    t_note.error = error;
    t_note.path = path;
}

CopyFailure lastCopyFailure()
{
    return t_lastFailure;
}

void forgetLastCopyFailure()
{
    t_lastFailure = CopyFailure();
}

void setBeforeTemporaryFileCreatedForTesting(std::function<void(const QString &path)> hook)
{
    std::lock_guard<std::mutex> lock(g_hookMutex);
    g_beforeCreate = std::move(hook);
    g_hasBeforeCreate = bool(g_beforeCreate);
}

void beforeTemporaryFileCreated(const QString &path)
{
    if (!g_hasBeforeCreate.load(std::memory_order_relaxed)) return;
    std::function<void(const QString &)> hook;
    {
        std::lock_guard<std::mutex> lock(g_hookMutex);
        hook = g_beforeCreate;
    }
    if (hook) hook(path);
}

bool isTemporaryCopyFile(const QString &folder, const QString &name)
{
    if (!isTemporaryCopyFileName(name)) return false;
    // A folder (or anything else) of that name is the person's.
    struct stat entry;
    return localfs::lstatPath(localfs::childPath(folder, name), &entry) && S_ISREG(entry.st_mode) &&
           entry.st_uid == ::geteuid();
}

bool clearTemporaryCopyFile(const QString &folder, const QString &name, bool *removed)
{
    if (removed) *removed = false;
    if (!isTemporaryCopyFile(folder, name)) return false;
    const QString path = localfs::childPath(folder, name);
    // Never the file of a running copy.
    if (isTemporaryCopyFileInUse(path)) return true;
    localfs::ChangeInFolder change(folder);
    if (::unlink(localfs::encode(path).constData()) != 0) return true;
    change.removed(name);
    if (removed) *removed = true;
    return true;
}

bool removeLeftoverTemporaryCopyFile(const QString &folder)
{
    bool removed = false;
    clearTemporaryCopyFile(folder, QString::fromLatin1(kVtrCopyTempFileName), &removed);
    return removed;
}

bool isTemporaryCopyFileName(const QString &name)
{
    return name.compare(QLatin1String(kVtrCopyTempFileName), Qt::CaseInsensitive) == 0;
}

bool isTemporaryCopyFileInUse(const QString &path)
{
    LeaseRegistry &registry = leaseRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    return registry.paths.contains(leaseKey(path));
}

TemporaryCopyFileLease::TemporaryCopyFileLease(const QString &path) : m_key(leaseKey(path))
{
    LeaseRegistry &registry = leaseRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    if (m_key.isEmpty() || registry.paths.contains(m_key)) return;
    registry.paths.insert(m_key);
    m_acquired = true;
}

TemporaryCopyFileLease::~TemporaryCopyFileLease()
{
    if (!m_acquired) return;
    LeaseRegistry &registry = leaseRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    registry.paths.remove(m_key);
}

FileInfoCopyStatus copyThroughTemporaryFile(const VtrFileInfoPtr &destination, const TemporaryFileCopyOptions &options,
                                            const FillTemporaryFile &fill, VtrFileInfoPtr *outNewItem)
{
    if (outNewItem) *outNewItem = nullptr;
    t_note = SystemNote();
    t_lastFailure = CopyFailure();
    if (!destination || !fill) return kFileInfoCopyBadArguments;

    VtrFileInfoPtr parent;
    VtrFileInfoPtr temporary;
    // Keeps the system's account of a failed step, taken before the clean-up
    // notes answers of its own, with the unfinished file when it stays.
    const auto failed = [&](FileInfoCopyStatus status, bool removeTemporary) {
        CopyFailure failure;
        failure.error = t_note.error;
        failure.path = t_note.path;
        if (parent) quietly([&] { failure.folder = parent->path(); });
        if (removeTemporary && temporary) {
            quietly([&] {
                temporary->remove();
                if (temporary->exists()) failure.leftover = temporary->path();
            });
        }
        t_lastFailure = failure;
        return status;
    };
    try {
        if (!options.destinationChecked && destination->exists() && !destination->isFile())
            return kFileInfoCopyDestinationNotFile;
        parent = options.folder ? options.folder : destination->parentFolder();
        if (!parent) return kFileInfoCopyTempFileNotCreated;
        const QString tempName = QString::fromLatin1(kVtrCopyTempFileName);
        if (isTemporaryCopyFileName(destination->name())) return kFileInfoCopyTempFileNotCreated;

        VtrFileInfoPtr leftover = parent->find(tempName);
        const QString tempPath = leftover ? leftover->path() : QString();
        TemporaryCopyFileLease lease(tempPath);
        if (!lease.acquired()) return failed(kFileInfoCopyTempFileNotCreated, false);

        if (leftover && leftover->exists()) {
            // Only a file can be a leftover of ours: a folder of that name is
            // the person's, and the copy gives way to it.
            if (!leftover->isFile()) return failed(kFileInfoCopyTempFileNotCreated, false);
            if (options.protectedItem &&
                (leftover->isEqualTo(options.protectedItem) || options.protectedItem->isEqualTo(leftover)))
                return failed(kFileInfoCopyTempFileNotCreated, false);
            leftover->remove();
            if (leftover->exists()) {
                failed(kFileInfoCopyTempFileNotCreated, false);
                t_lastFailure.leftover = leftover->path();
                return kFileInfoCopyTempFileNotCreated;
            }
        }

        if (options.requiredBytes >= 0) {
            const qint64 needed =
                vtr::saturatingAdd(options.requiredBytes, std::max<qint64>(0, parent->_freeSpaceToKeepOnVolume()));
            // The folder's volume: the destination itself is usually not there yet.
            if (parent->freeSpaceOnVolume() < needed) return failed(kFileInfoCopyNoSpace, false);
        }

        beforeTemporaryFileCreatedIn(parent, tempName);
        temporary =
            parent->createFile(tempName, QByteArray(), QVariantMap(), false, options.progress, options.userData);
        if (!temporary || !temporary->exists()) {
            temporary = nullptr;
            return failed(kFileInfoCopyTempFileNotCreated, false);
        }

        FileInfoCopyStatus status = kFileInfoCopyOK;
        try {
            status = fill(temporary);
        } catch (const std::exception &e) {
            VTR_LOG(2, QStringLiteral("Copy to \"%1\" interrupted: %2")
                           .arg(destination->humanFriendlyPath(), QString::fromLocal8Bit(e.what())));
            return failed(kFileInfoCopyException, true);
        } catch (...) {
            quietly([&] { temporary->remove(); });
            throw;
        }
        if (status != kFileInfoCopyOK) return failed(status, true);

        // Only now, with the new contents complete, is the old item replaced.
        FileInfoCopyStatus moved = kFileInfoCopyOK;
        if (options.uniqueNameBase.isEmpty()) {
            moved = temporary->moveTo(destination);
        } else {
            VtrFileInfoPtr target = destination;
            for (int attempt = 0;; ++attempt) {
                moved = temporary->moveToFreeName(target);
                if (moved != kFileInfoCopyDestinationTaken || attempt == kMaxTakenNames) break;
                // Someone else took the name meanwhile: theirs stays.
                const QString next = parent->uniqueFilename(options.uniqueNameBase);
                target = next.isNull() ? nullptr : parent->find(next);
                if (!target) break;
            }
        }
        if (moved != kFileInfoCopyOK) {
            VTR_LOG(2, QStringLiteral("Could not move the copied file onto \"%1\" (%2).")
                           .arg(destination->humanFriendlyPath())
                           .arg(moved));
            return failed(kFileInfoCopyWriteFailed, true);
        }
        if (outNewItem) *outNewItem = temporary;
        return kFileInfoCopyOK;
    } catch (const std::exception &) {
        return failed(kFileInfoCopyException, true);
    }
}

} // namespace vtr

// ---- the generic chunked copy -----------------------------------------------------

namespace {

// Closes a handle at the end of its scope, whatever happens.
class HandleCloser
{
public:
    HandleCloser(VtrBaseFileInfo *owner, VtrFileInfoHandlePtr handle) : m_owner(owner), m_handle(std::move(handle)) {}
    ~HandleCloser() { close(); }
    HandleCloser(const HandleCloser &) = delete;
    HandleCloser &operator=(const HandleCloser &) = delete;
    VtrFileInfoHandle *get() const { return m_handle.get(); }
    void close()
    {
        if (!m_handle) return;
        quietly([&] { m_owner->closeFile(std::move(m_handle)); });
        m_handle.reset();
    }

private:
    VtrBaseFileInfo *m_owner;
    VtrFileInfoHandlePtr m_handle;
};

} // namespace

FileInfoCopyStatus VtrBaseFileInfo::copyTo(const VtrFileInfoPtr &destination, bool ensureUniqueName,
                                           FileInfoProgress *progress, void *userData, VtrFileInfoPtr *outNewItem)
{
    clearCancelCopy();
    // A copy that ends before it writes anything has no system failure to
    // tell, least of all an earlier copy's.
    t_note = SystemNote();
    t_lastFailure = vtr::CopyFailure();
    if (outNewItem) *outNewItem = nullptr;
    if (!destination) return kFileInfoCopyBadArguments;
    if (!exists()) return kFileInfoCopySourceMissing;
    if (!isFile()) return kFileInfoCopySourceNotFile;

    const bool sourceCopies = deviceControlsCopy();
    const bool destinationCopies = destination->deviceControlsCopy();
    if (sourceCopies && destinationCopies)
        throw VtrException(QStringLiteral("VtrBaseFileInfo"),
                           QStringLiteral("File info objects are not yet able to perform this sort of copy."));
    if (destinationCopies) return destination->copyFromFile(self(), ensureUniqueName, progress, userData, outNewItem);
    if (sourceCopies)
        throw VtrException(
            QStringLiteral("VtrBaseFileInfo"),
            QStringLiteral("Subclass of VtrBaseFileInfo must override this method to perform the copy."));

    FileInfoCopyProgress *copyProgress = asCopyProgress(progress);
    const VtrFileInfoPtr source = self();

    // The item to write: inside a destination folder under this file's name
    // (made unique when asked), or the destination itself. Nothing is created
    // or removed here; an existing file is replaced only by a complete copy.
    VtrFileInfoPtr target = destination;
    VtrFileInfoPtr targetFolder;
    try {
        if (destination->exists() && destination->isFolder()) {
            targetFolder = destination;
            QString targetName = name();
            if (ensureUniqueName) {
                targetName = destination->uniqueFilename(targetName);
                if (targetName.isNull()) return kFileInfoCopyDestinationNotOpened;
            }
            target = destination->find(targetName);
            if (!target) return kFileInfoCopyDestinationNotOpened;
        }
        const bool targetExists = target->exists();
        if (targetExists && !target->isFile()) return kFileInfoCopyDestinationNotFile;
        // Only an existing item can be the source itself (which exists).
        if (targetExists && (target->isEqualTo(source) || isEqualTo(target))) return kFileInfoCopyBadArguments;
    } catch (const std::exception &) {
        return kFileInfoCopyException;
    }

    const qint64 total = std::max<qint64>(0, size());
    vtr::TemporaryFileCopyOptions options;
    options.requiredBytes = total;
    options.progress = progress;
    options.userData = userData;
    options.protectedItem = source;
    options.destinationChecked = true;
    options.folder = targetFolder;
    if (targetFolder && ensureUniqueName) options.uniqueNameBase = name();

    auto fill = [&](const VtrFileInfoPtr &temporary) -> FileInfoCopyStatus {
        VtrFileInfoHandlePtr readHandle = openFileForReading();
        if (!readHandle) return kFileInfoCopySourceNotOpened;
        HandleCloser reader(this, std::move(readHandle));
        VtrFileInfoHandlePtr writeHandle = temporary->openFileForWriting();
        if (!writeHandle) return kFileInfoCopyDestinationNotOpened;
        HandleCloser writer(temporary.get(), std::move(writeHandle));

        qint64 chunk = std::min(preferredChunkSize(), temporary->preferredChunkSize());
        if (chunk <= 0) chunk = 8192;
        qint64 remaining = total;
        qint64 offset = 0;
        FileInfoCopyStatus status = kFileInfoCopyOK;
        while (status == kFileInfoCopyOK && remaining > 0) {
            if (isCopyCancelled()) {
                status = kFileInfoCopyCancelled;
                break;
            }
            const qint64 length = std::min(remaining, chunk);
            const VtrFileRange range{offset, length};
            // Two kinds that can move the bytes between themselves do (two
            // local files: inside the kernel); the others go through memory.
            qint64 got = 0;
            status = copyRangeToFile(range, reader.get(), temporary.get(), writer.get(), &got);
            if (status == kFileInfoCopyNotSupported) {
                QByteArray data = fileContentsWithRange(range, reader.get());
                if (data.size() > length) data.truncate(length);
                got = data.size();
                status = got > 0 ? temporary->setFileContentsWithRange(data, VtrFileRange{offset, got}, writer.get())
                                 : kFileInfoCopyOK;
            }
            if (status != kFileInfoCopyOK) break;
            got = std::min(got, length);
            // No data, or the source ended early (it shrank): the copy would be
            // short, so it fails rather than leave a truncated file.
            if (got <= 0) {
                status = kFileInfoCopyReadFailed;
                break;
            }
            offset += got;
            remaining -= got;
            if (status == kFileInfoCopyOK && copyProgress) {
                const float percent = float(double(offset) * 100.0 / double(total));
                // A "go on" answer never clears a cancel asked for meanwhile.
                if (copyProgress->copyingFile(source, temporary, percent, userData)) cancelCopy();
            }
        }
        writer.close();
        reader.close();
        return status;
    };

    VtrFileInfoPtr newItem;
    const FileInfoCopyStatus status = vtr::copyThroughTemporaryFile(target, options, fill, &newItem);
    if (status != kFileInfoCopyOK || !newItem) return status;

    try {
        const QDateTime created = creationDate();
        if (created.isValid()) newItem->setCreationDate(created);
        const QDateTime modified = modificationDate();
        if (modified.isValid()) newItem->setModificationDate(modified);
    } catch (const std::exception &) {
        // The copy itself is complete; dates are an extra.
    }
    if (outNewItem) *outNewItem = newItem;
    return kFileInfoCopyOK;
}

FileInfoCopyStatus VtrBaseFileInfo::copyToWithName(const VtrFileInfoPtr &destination, const QString &name,
                                                   VtrFileInfoPtr *outNewItem)
{
    if (outNewItem) *outNewItem = nullptr;
    try {
        if (!destination || name.isEmpty()) return kFileInfoCopyBadArguments;
        if (!exists() || !isFile()) return kFileInfoCopyBadArguments;
        VtrFileInfoPtr folder;
        if (destination->isFolder())
            folder = destination;
        else if (destination->isFile())
            folder = destination->parentFolder();
        if (!folder) return kFileInfoCopyBadArguments;

        VtrFileInfoPtr target = folder->find(name);
        if (!target) return kFileInfoCopyBadArguments;
        if (target->isEqualTo(self()) || isEqualTo(target)) return kFileInfoCopyBadArguments;
        if (target->exists() && !target->isFile()) return kFileInfoCopyDestinationNotFile;

        // Unreadable contents must not empty the target.
        const QByteArray data = fileContents();
        if (data.isNull()) return kFileInfoCopySourceNotOpened;

        if (target->exists()) {
            if (!target->setFileContents(data)) return kFileInfoCopyWriteFailed;
            if (outNewItem) *outNewItem = target;
            return kFileInfoCopyOK;
        }
        VtrFileInfoPtr created = folder->createFile(name, data, QVariantMap(), true);
        if (!created || !created->exists()) return kFileInfoCopyWriteFailed;
        if (outNewItem) *outNewItem = created;
        return kFileInfoCopyOK;
    } catch (const std::exception &) {
        return kFileInfoCopyException;
    }
}
