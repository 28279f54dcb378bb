#include "migration/DataMigrator.h"

#include "devices/LocalFileNames.h"
#include "devices/phone/MobileDeviceInterface.h"
#include "fileinfo/FileInfoCopy.h"
#include "fileinfo/VtrMacFileInfo.h"
#include "fileinfo/VtrMacFileInfoFS.h"
#include "foundation/Log.h"
#include "foundation/MigrationStatus.h"
#include "foundation/Saturating.h"
#include "foundation/VtrDate.h"
#include "foundation/VtrString.h"
#include "migration/VtrMusicPlaylistKinds.h"
#include "migration/iAppImporter.h"
#include "platform/Descriptor.h"
#include "platform/Folders.h"
#include "platform/Strings.h"
#include "platform/UserDefaults.h"
#include "platform/VtrException.h"
#include "sources/host/FiledFiles.h"

#include <QCryptographicHash>
#include <QDir>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QSet>
#include <QTemporaryDir>

#include <openssl/evp.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <dirent.h>
#include <fcntl.h>
#include <future>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

const QString kCopiedMediaKey = QStringLiteral("CopiedMediaFiles");

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

QString recordKeyFor(const VtrFileInfoPtr &folder) { return QDir::cleanPath(folder->path()); }

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

// ---- the record of our copies ----------------------------------------------------------------------

// What identifies a file this program wrote: its name in the folder, its
// size and status then, and its contents. Only a file whose contents are
// still the recorded ones is ours: a person may edit a copy in place and put
// its time back, and the folder may have been moved away and back.
struct CopyIdentity
{
    QString name;
    vtr::FileStamp stamp;  // size -1: not recorded
    QByteArray sha256;     // empty: not recorded (never cleared)
    bool nameOnly = false; // an older run recorded the name and nothing else
    // A playlist of ours: the phone's playlist it holds and that phone
    // (empty: not recorded, as by versions before).
    QString playlist;
    QString phone;
};

constexpr qint64 kNsPerSecond = 1000000000;

vtr::FileStamp stampOf(const struct stat &st)
{
    return {true, qint64(st.st_size), qint64(st.st_mtim.tv_sec), qint64(st.st_mtim.tv_nsec), quint64(st.st_dev),
            quint64(st.st_ino)};
}

// SHA-256 of the plain file at `path` (never through a link); `seen` is
// what it was when it was opened. Empty when it cannot be read, or when
// `abandon` turns true meanwhile.
QByteArray contentHash(const QString &path, struct stat *seen, const std::function<bool()> &abandon = {})
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return {};
    QByteArray result;
    EVP_MD_CTX *context = EVP_MD_CTX_new();
    if (context && ::fstat(fd, seen) == 0 && S_ISREG(seen->st_mode) &&
        EVP_DigestInit_ex(context, EVP_sha256(), nullptr) == 1) {
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
        // A small file needs no buffer of a mebibyte.
        QByteArray buffer(int(std::clamp<qint64>(qint64(seen->st_size) + 1, 4096, 1 << 20)), Qt::Uninitialized);
        bool ok = true;
        for (;;) {
            if (abandon && abandon()) {
                ok = false;
                break;
            }
            const ssize_t n = ::read(fd, buffer.data(), size_t(buffer.size()));
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) ok = false;
            if (n <= 0) break;
            if (EVP_DigestUpdate(context, buffer.constData(), size_t(n)) != 1) {
                ok = false;
                break;
            }
        }
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int length = 0;
        if (ok && EVP_DigestFinal_ex(context, digest, &length) == 1)
            result = QByteArray(reinterpret_cast<const char *>(digest), int(length)).toHex();
    }
    EVP_MD_CTX_free(context);
    ::close(fd);
    return result;
}

// A stamp as records keep it: the modification time in nanoseconds, split
// into whole seconds (rounded down, before 1970 too) and the rest.
vtr::FileStamp recordedStamp(qint64 size, qint64 modifiedNs, quint64 device, quint64 inode)
{
    const qint64 seconds = modifiedNs / kNsPerSecond - (modifiedNs % kNsPerSecond < 0 ? 1 : 0);
    return {true, size, seconds, modifiedNs - seconds * kNsPerSecond, device, inode};
}

// An entry as the user defaults held it before records had files of their
// own: a map, or an older run's bare name.
CopyIdentity identityFromDefaults(const QVariant &entry)
{
    CopyIdentity id;
    if (entry.typeId() != QMetaType::QVariantMap) {
        id.name = entry.toString();
        id.nameOnly = true;
        return id;
    }
    const QVariantMap map = entry.toMap();
    id.name = map.value(QStringLiteral("name")).toString();
    id.stamp = recordedStamp(map.value(QStringLiteral("size"), -1).toLongLong(),
                             map.value(QStringLiteral("mtime_ns")).toLongLong(),
                             map.value(QStringLiteral("device")).toULongLong(),
                             map.value(QStringLiteral("inode")).toULongLong());
    id.sha256 = map.value(QStringLiteral("sha256")).toByteArray();
    return id;
}

// One line of a record file: a JSON object (64-bit numbers kept whole).
QByteArray recordLine(const CopyIdentity &id)
{
    QJsonObject line{{QStringLiteral("name"), id.name},
                     {QStringLiteral("size"), id.stamp.size},
                     {QStringLiteral("mtime_ns"), id.stamp.seconds * kNsPerSecond + id.stamp.nanoseconds},
                     {QStringLiteral("device"), qint64(id.stamp.device)},
                     {QStringLiteral("inode"), qint64(id.stamp.inode)}};
    if (!id.sha256.isEmpty()) line.insert(QStringLiteral("sha256"), QString::fromLatin1(id.sha256));
    if (!id.playlist.isEmpty()) {
        line.insert(QStringLiteral("playlist"), id.playlist);
        line.insert(QStringLiteral("phone"), id.phone);
    }
    return QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n';
}

std::optional<CopyIdentity> identityFromLine(const QByteArray &line)
{
    const QJsonObject object = QJsonDocument::fromJson(line).object();
    if (!object.value(QStringLiteral("name")).isString()) return std::nullopt;
    CopyIdentity id;
    id.name = object.value(QStringLiteral("name")).toString();
    id.stamp = recordedStamp(object.value(QStringLiteral("size")).toInteger(-1),
                             object.value(QStringLiteral("mtime_ns")).toInteger(),
                             quint64(object.value(QStringLiteral("device")).toInteger()),
                             quint64(object.value(QStringLiteral("inode")).toInteger()));
    id.sha256 = object.value(QStringLiteral("sha256")).toString().toLatin1();
    id.playlist = object.value(QStringLiteral("playlist")).toString();
    id.phone = object.value(QStringLiteral("phone")).toString();
    return id;
}

// Where else on this computer a copy is: a file of the same contents that a
// library filed it as, or that it was read from, as both were when recorded.
// Its lines have no "name": a version that does not know them skips them.
struct OtherCopy
{
    QString name;                   // the copy's, in the folder
    quint64 device = 0, inode = 0;  // the copy's
    QString path;                   // the other file
    vtr::FileStamp stamp;           // the other file's
};

QByteArray otherCopyLine(const OtherCopy &other)
{
    const QJsonObject line{
        {QStringLiteral("other_of"), other.name},
        {QStringLiteral("device"), qint64(other.device)},
        {QStringLiteral("inode"), qint64(other.inode)},
        {QStringLiteral("path"), other.path},
        {QStringLiteral("other_size"), other.stamp.size},
        {QStringLiteral("other_mtime_ns"), other.stamp.seconds * kNsPerSecond + other.stamp.nanoseconds},
        {QStringLiteral("other_device"), qint64(other.stamp.device)},
        {QStringLiteral("other_inode"), qint64(other.stamp.inode)}};
    return QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n';
}

std::optional<OtherCopy> otherCopyFromLine(const QByteArray &line)
{
    const QJsonObject object = QJsonDocument::fromJson(line).object();
    if (!object.value(QStringLiteral("other_of")).isString() || !object.value(QStringLiteral("path")).isString())
        return std::nullopt;
    OtherCopy other;
    other.name = object.value(QStringLiteral("other_of")).toString();
    other.device = quint64(object.value(QStringLiteral("device")).toInteger());
    other.inode = quint64(object.value(QStringLiteral("inode")).toInteger());
    other.path = object.value(QStringLiteral("path")).toString();
    other.stamp = recordedStamp(object.value(QStringLiteral("other_size")).toInteger(-1),
                                object.value(QStringLiteral("other_mtime_ns")).toInteger(),
                                quint64(object.value(QStringLiteral("other_device")).toInteger()),
                                quint64(object.value(QStringLiteral("other_inode")).toInteger()));
    return other;
}

bool writeAllTo(int fd, const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += n;
    }
    return true;
}

// Puts `bytes` as the file `name` of the open folder `dir`, replacing it in
// one step: a file made there exclusively is filled, put on the disk and
// moved over it. False, with the system's words in `why`, when it failed
// (the file stays as it was).
bool replaceFileIn(int dir, const QByteArray &name, const QByteArray &bytes, QString *why)
{
    QByteArray temporary;
    platform::Descriptor fd;
    for (int attempt = 0; attempt < 16 && !fd.isOpen(); ++attempt) {
        temporary = '.' + name + '-' + QByteArray::number(QRandomGenerator::system()->generate64(), 16) + ".tmp";
        fd = platform::Descriptor(
            ::openat(dir, temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!fd.isOpen() && errno != EEXIST) break;
    }
    bool ok = fd.isOpen() && writeAllTo(fd.get(), bytes) && ::fdatasync(fd.get()) == 0;
    ok = ok && ::renameat(dir, temporary.constData(), dir, name.constData()) == 0;
    if (!ok) {
        *why = QString::fromLocal8Bit(std::strerror(errno));
        if (fd.isOpen()) ::unlinkat(dir, temporary.constData(), 0);
    }
    return ok;
}

// The records of our copies, one file per folder copied into, in the data
// folder: a first line naming the folder, then one line per file, appended
// before each copy takes its name (with the contents it is to have) and
// again once it is in place, then one line naming the other copy of each
// file this computer holds, so that a run stopped at any moment leaves
// every finished copy recorded and no file
// grows costlier to record than the one before. A later line for a name
// stands for the file under that name now. Only clearing a folder rewrites
// its record, once.
class RecordFiles
{
public:
    static RecordFiles &shared()
    {
        static RecordFiles *files = new RecordFiles;
        return *files;
    }

    std::mutex mutex;  // held while a record file is read, rewritten or appended to

    // The folder of the records, by descriptor: a folder of ours in the
    // data folder, never reached through a link; the records in it are
    // opened, written and removed through it alone.
    static platform::Descriptor openFolder(bool make, QString *why = nullptr)
    {
        return platform::Descriptor(
            platform::openOwnFolder(platform::dataFolder(), {QStringLiteral("Copy records")}, make, why));
    }

    static QByteArray fileFor(const QString &key)
    {
        return QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha1).toHex() + ".log";
    }

    static QByteArray headerFor(const QString &key)
    {
        return QJsonDocument(QJsonObject{{QStringLiteral("folder"), key}}).toJson(QJsonDocument::Compact) + '\n';
    }

    // Every identity recorded for the folder `key`, the latest per name, in
    // the order the names were first recorded: the user defaults' record of
    // earlier versions first, then the file's lines; and into `others` the
    // latest other copy recorded per name.
    QList<CopyIdentity> read(const QString &key, QHash<QString, OtherCopy> *others = nullptr)
    {
        QList<CopyIdentity> ids;
        QHash<QString, qsizetype> indexOf;
        const auto put = [&](const CopyIdentity &id) {
            const auto it = indexOf.constFind(id.name);
            if (it != indexOf.constEnd()) {
                ids[*it] = id;
                return;
            }
            indexOf.insert(id.name, ids.size());
            ids.append(id);
        };
        for (const QVariant &entry : platform::UserDefaults::value(kCopiedMediaKey).toMap().value(key).toList())
            put(identityFromDefaults(entry));
        const platform::Descriptor folder = openFolder(false);
        const int fd = folder.isOpen()
                           ? ::openat(folder.get(), fileFor(key).constData(),
                                      O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC)
                           : -1;
        QFile file;
        if (fd < 0 || !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
            if (fd >= 0) ::close(fd);
            return ids;
        }
        // Another folder's record under the same file name is not this one's.
        if (file.readLine() != headerFor(key)) return ids;
        while (!file.atEnd()) {
            // A line cut short (the computer went off while it was written) is not read.
            const QByteArray line = file.readLine();
            if (!line.endsWith('\n')) break;
            if (const std::optional<CopyIdentity> id = identityFromLine(line)) put(*id);
            else if (const std::optional<OtherCopy> other = others ? otherCopyFromLine(line) : std::nullopt)
                others->insert(other->name, *other);
        }
        return ids;
    }

    // The record of `key` holds `ids` only (none: it goes), and of other
    // copies `others`; the user defaults' record of it goes too. False,
    // logged, when it could not be written: the old record stays.
    bool replace(const QString &key, const QList<CopyIdentity> &ids, const QList<OtherCopy> &others = {})
    {
        const QByteArray name = fileFor(key);
        QString why;
        const platform::Descriptor folder = openFolder(!ids.isEmpty(), &why);
        if (ids.isEmpty()) {
            if (folder.isOpen() && ::unlinkat(folder.get(), name.constData(), 0) != 0 && errno != ENOENT) {
                VTR_LOG(2, QStringLiteral("The record of the copies in \"%1\" could not be removed: %2")
                               .arg(key, QString::fromLocal8Bit(std::strerror(errno))));
                return false;
            }
        } else {
            QByteArray bytes = headerFor(key);
            for (const CopyIdentity &id : ids) bytes += recordLine(id);
            for (const OtherCopy &other : others) bytes += otherCopyLine(other);
            if (!folder.isOpen() || !replaceFileIn(folder.get(), name, bytes, &why)) {
                VTR_LOG(2, QStringLiteral("The record of the copies in \"%1\" could not be written: %2").arg(key, why));
                return false;
            }
        }
        QVariantMap defaults = platform::UserDefaults::value(kCopiedMediaKey).toMap();
        if (defaults.remove(key) > 0) {
            if (defaults.isEmpty())
                platform::UserDefaults::remove(kCopiedMediaKey);
            else
                platform::UserDefaults::setValue(kCopiedMediaKey, defaults);
        }
        return true;
    }
};

// Adds lines to the record of one folder.
class RecordAppender
{
public:
    explicit RecordAppender(const QString &key) : m_key(key) {}
    ~RecordAppender()
    {
        if (m_fd >= 0) ::close(m_fd);
    }
    RecordAppender(const RecordAppender &) = delete;
    RecordAppender &operator=(const RecordAppender &) = delete;

    void append(const CopyIdentity &id) { appendLine(recordLine(id)); }
    void appendLine(const QByteArray &line)
    {
        RecordFiles &files = RecordFiles::shared();
        const std::lock_guard lock(files.mutex);
        if (!open()) return;
        writeAll(line);
    }

    // On the disk before the run is done (one wait per run, not per file).
    void flush()
    {
        if (m_fd >= 0) ::fdatasync(m_fd);
    }

private:
    bool open()
    {
        if (m_fd >= 0) return true;
        if (m_failed) return false;
        QString why;
        const platform::Descriptor folder = RecordFiles::openFolder(true, &why);
        if (folder.isOpen()) {
            m_fd = ::openat(folder.get(), RecordFiles::fileFor(m_key).constData(),
                            O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
            if (m_fd < 0) why = QString::fromLocal8Bit(std::strerror(errno));
            struct stat st;
            if (m_fd >= 0 && (::fstat(m_fd, &st) != 0 || !S_ISREG(st.st_mode))) {
                ::close(m_fd);
                m_fd = -1;
                why = QStringLiteral("no plain file");
            }
            if (m_fd >= 0 && st.st_size == 0) writeAll(RecordFiles::headerFor(m_key));
        }
        if (m_fd >= 0) return true;
        // The copies go on; unrecorded ones are never cleared, which loses nothing.
        m_failed = true;
        VTR_LOG(2, QStringLiteral("The copies in \"%1\" cannot be recorded (%2); a later run leaves them in place.")
                       .arg(m_key, why));
        return false;
    }

    void writeAll(const QByteArray &bytes)
    {
        qsizetype done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(m_fd, bytes.constData() + done, size_t(bytes.size() - done));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                VTR_LOG(2, QStringLiteral("The record of the copies in \"%1\" could not be written: %2")
                               .arg(m_key, QString::fromLocal8Bit(std::strerror(errno))));
                return;
            }
            done += n;
        }
    }

    QString m_key;
    int m_fd = -1;
    bool m_failed = false;
};

enum class Check { Status, Contents };

// The file `id` names in `folder` as it is now, when it is still the file
// we wrote: a plain file of the recorded size and contents. `seen` is its
// status as checked. Checking the contents reads the whole file; checking
// the status alone (the file as we left it: size, time, device and inode)
// is only good for an estimate, since an edit can put the time back.
bool stillOurs(const QString &folder, const CopyIdentity &id, struct stat *seen, Check check = Check::Contents)
{
    if (id.nameOnly || id.stamp.size < 0 || id.sha256.isEmpty() || !vtr::localfs::isSafeName(id.name)) return false;
    const QString path = vtr::localfs::childPath(folder, id.name);
    struct stat st;
    if (!vtr::localfs::lstatPath(path, &st) || !S_ISREG(st.st_mode) || qint64(st.st_size) != id.stamp.size)
        return false;
    if (check == Check::Status) {
        *seen = st;
        return stampOf(st) == id.stamp;
    }
    struct stat opened;
    if (contentHash(path, &opened) != id.sha256 || stampOf(opened) != stampOf(st)) return false;
    *seen = st;
    return true;
}

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

// Copies of ours in `folder` other than `now`, as far as their status tells.
bool earlierCopiesStay(const VtrFileInfoPtr &folder, const VtrFileInfoList &now)
{
    QSet<QString> names;
    for (const VtrFileInfoPtr &file : now) names.insert(file->name());
    QList<CopyIdentity> ids;
    {
        RecordFiles &files = RecordFiles::shared();
        const std::lock_guard lock(files.mutex);
        ids = files.read(recordKeyFor(folder));
    }
    struct stat seen;
    for (const CopyIdentity &id : std::as_const(ids))
        if (!names.contains(id.name) && stillOurs(folder->path(), id, &seen, Check::Status)) return true;
    return false;
}

std::optional<CopyIdentity> identityOf(const QString &folder, const QString &name)
{
    if (!vtr::localfs::isSafeName(name)) return std::nullopt;
    struct stat st;
    const QByteArray hash = contentHash(vtr::localfs::childPath(folder, name), &st);
    if (hash.isEmpty()) return std::nullopt;
    CopyIdentity id;
    id.name = name;
    id.stamp = stampOf(st);
    id.sha256 = hash;
    return id;
}

// The contents a copy is to have: its source's, or the bytes it is given.
struct Contents
{
    qint64 size = -1;
    QByteArray sha256; // empty: not known
};

Contents contentsOfBytes(const QByteArray &bytes)
{
    return {bytes.size(), QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex()};
}

// Reads the contents of the files to copy, in their order, each once. Large
// ones are read ahead on other threads while the files before them are
// copied: hashing takes longer than copying, so one thread alone would hold
// the copy back. A small one is read when its turn comes: that costs less
// than a thread. A copy that ends early does not wait for the reads ahead.
class SourceReads
{
public:
    // A stop (`cancelled`, asked on the copy's thread) ends a read at once.
    SourceReads(QList<std::pair<QString, qint64>> sources, std::function<bool()> cancelled)
        : m_sources(std::move(sources)), m_cancelled(std::move(cancelled))
    {
    }
    ~SourceReads() { m_abandon->store(true); }
    SourceReads(const SourceReads &) = delete;
    SourceReads &operator=(const SourceReads &) = delete;

    // The next source's contents; not known when it cannot be read.
    Contents next()
    {
        const qsizetype index = m_next++;
        readAhead();
        if (!m_ahead.empty() && m_ahead.front().first == index) {
            std::future<Contents> &ahead = m_ahead.front().second;
            while (ahead.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready)
                if (m_cancelled && m_cancelled()) {
                    m_abandon->store(true);
                    return {};
                }
            const Contents contents = ahead.get();
            m_ahead.pop_front();
            readAhead();
            return contents;
        }
        if (index >= m_sources.size()) return {};
        const std::shared_ptr<std::atomic<bool>> abandon = m_abandon;
        const std::function<bool()> &cancelled = m_cancelled;
        struct stat seen;
        const QByteArray hash = contentHash(m_sources.at(index).first, &seen,
                                            [&] { return abandon->load() || (cancelled && cancelled()); });
        return hash.isEmpty() ? Contents() : Contents{qint64(seen.st_size), hash};
    }

private:
    static constexpr size_t kReadsAtOnce = 3;
    static constexpr qint64 kReadAtOnceBytes = 256 * 1024;

    static Contents read(const QString &path, const std::shared_ptr<std::atomic<bool>> &abandon)
    {
        struct stat seen;
        const QByteArray hash = contentHash(path, &seen, [&abandon] { return abandon->load(); });
        if (hash.isEmpty()) return {};
        return {qint64(seen.st_size), hash};
    }

    void readAhead()
    {
        m_scanned = std::max(m_scanned, m_next);
        while (m_ahead.size() < kReadsAtOnce && m_scanned < m_sources.size()) {
            const qsizetype index = m_scanned++;
            if (m_sources.at(index).second <= kReadAtOnceBytes) continue;
            m_ahead.emplace_back(index, std::async(std::launch::async, read, m_sources.at(index).first, m_abandon));
        }
    }

    QList<std::pair<QString, qint64>> m_sources; // path and size
    qsizetype m_next = 0;
    qsizetype m_scanned = 0;
    std::function<bool()> m_cancelled;
    std::shared_ptr<std::atomic<bool>> m_abandon = std::make_shared<std::atomic<bool>>(false);
    std::deque<std::pair<qsizetype, std::future<Contents>>> m_ahead;
};

// Records the copies of one run into one folder as they are made. A copy is
// recorded under the name it is to take, with the contents it is to have,
// before it takes that name: a run that ends at any moment after (stopped,
// killed, the computer going off once the record is on the disk) leaves it
// known as ours, and the next run clears it rather than taking it for the
// person's and copying it again beside it. Once in place it is recorded as
// it stands. A copy whose contents were not known beforehand is read back.
class CopyRecord
{
public:
    explicit CopyRecord(const VtrFileInfoPtr &folder) : m_folder(folder->path()), m_appender(recordKeyFor(folder)) {}

    ~CopyRecord() { m_appender.flush(); }
    CopyRecord(const CopyRecord &) = delete;
    CopyRecord &operator=(const CopyRecord &) = delete;

    void add(const QStringList &names)
    {
        for (const QString &name : names) {
            const std::optional<CopyIdentity> id = identityOf(m_folder, name);
            if (!id) {
                VTR_LOG(2, QStringLiteral("\"%1\" in \"%2\" cannot be read back; it is not recorded as a copy.")
                               .arg(name, m_folder));
                continue;
            }
            m_appender.append(*id);
        }
        m_appender.flush();
    }

    // Before a copy onto the free name `name` (empty: there is none); a
    // playlist's with the phone's playlist it holds and that phone.
    void expect(const QString &name, const Contents &contents, const QString &playlist = {},
                const QString &phone = {})
    {
        m_expected = name;
        m_contents = contents;
        m_playlist = playlist;
        m_phone = phone;
        if (name.isEmpty() || contents.sha256.isEmpty()) return;
        CopyIdentity id;
        id.name = name;
        id.stamp = {true, contents.size, 0, 0, 0, 0};
        id.sha256 = contents.sha256;
        id.playlist = playlist;
        id.phone = phone;
        m_appender.append(id);
    }

    // After it: the copy stands at `name`, or failed (empty).
    void copied(const QString &name)
    {
        const QString expected = std::exchange(m_expected, QString());
        // Another name, or none: whatever is at the expected one is not ours.
        if (!expected.isEmpty() && expected != name && !m_contents.sha256.isEmpty()) {
            CopyIdentity gone;
            gone.name = expected;
            gone.stamp.size = -1;
            m_appender.append(gone);
        }
        if (name.isEmpty()) return;
        struct stat st;
        const QString path = vtr::localfs::childPath(m_folder, name);
        std::optional<CopyIdentity> id;
        if (m_contents.sha256.isEmpty()) {
            id = identityOf(m_folder, name);
        } else if (vtr::localfs::isSafeName(name) && vtr::localfs::lstatPath(path, &st) && S_ISREG(st.st_mode)) {
            id.emplace();
            id->name = name;
            id->stamp = stampOf(st);
            id->sha256 = m_contents.sha256;
        }
        if (id) {
            id->playlist = m_playlist;
            id->phone = m_phone;
            m_appender.append(*id);
        } else
            VTR_LOG(2, QStringLiteral("\"%1\" in \"%2\" cannot be read back; it is not recorded as a copy.")
                           .arg(name, m_folder));
    }

    void finish() { m_appender.flush(); }

private:
    QString m_folder;
    RecordAppender m_appender;
    QString m_expected;
    Contents m_contents;
    QString m_playlist;
    QString m_phone;
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

}  // namespace

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
    for (const MediaItem &item : items) total = vtr::saturatingAdd(total, item.size);
    const QString text = fill(vtrLocalized("Copying %@..."), kindWord());
    CopyProgress progress(status, phase(), text, total, [this] { return isCancelled(); });
    QList<MediaItem> copiedItems;
    CopyRecord record(folder);
    QList<std::pair<QString, qint64>> sources;
    for (const MediaItem &item : items) sources.append({item.path, item.size});
    SourceReads contents(sources, [this] { return isCancelled(); });
    for (const MediaItem &item : items) {
        throwIfCancelled();
        progress.beginFile(item.size);
        const VtrFileInfoPtr source = VtrMacFileInfo::fileInfoWithPath(item.path);
        // The name the copy takes, as copyTo() chooses it.
        record.expect(folder->uniqueFilename(source->name()), contents.next());
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
        m_copied.append(newItem);
        copiedItems.append(item);
        progress.endFile();
        progress.report();
    }
    record.finish();
    didCopy(*target, copiedItems, m_copied);
    if (importer && !m_copied.isEmpty()) {
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

void MediaMigrator::recordCopies(const VtrFileInfoPtr &folder, const QStringList &names)
{
    if (!folder || names.isEmpty()) return;
    CopyRecord(folder).add(names);
}

void MediaMigrator::recordOtherCopies(const VtrFileInfoPtr &folder, const QHash<QString, QString> &others)
{
    if (!folder || others.isEmpty()) return;
    RecordAppender appender(recordKeyFor(folder));
    for (auto it = others.cbegin(); it != others.cend(); ++it) {
        struct stat copy, other;
        if (!vtr::localfs::isSafeName(it.key()) ||
            !vtr::localfs::lstatPath(vtr::localfs::childPath(folder->path(), it.key()), &copy) ||
            !S_ISREG(copy.st_mode) || !vtr::localfs::statPath(it.value(), &other) || !S_ISREG(other.st_mode))
            continue;
        const QString path = QFileInfo(it.value()).absoluteFilePath();
        const OtherCopy recorded{it.key(), quint64(copy.st_dev), quint64(copy.st_ino), path, stampOf(other)};
        appender.appendLine(otherCopyLine(recorded));
    }
    appender.flush();
}

namespace {

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

}  // namespace

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

namespace {

std::function<void(const QString &path)> &beforeEarlierCopyRemoved()
{
    static std::function<void(const QString &path)> hook;
    return hook;
}

enum class Removal { Removed, NotOurs, Failed };

// Removes `name` of `folder` only while it is the file `seen`. A check by
// path and a removal by path leave a moment in which another file can take
// the name and be removed in its place: the entry is first moved aside, in
// one step and by descriptor, under a name no item holds, and looked at
// there. A file that is not the one checked goes back under its name (or
// the next free one, should the name have been taken again meanwhile).
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

}  // namespace

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
    const int listing = ::dup(dir);
    DIR *folder = listing >= 0 ? ::fdopendir(listing) : nullptr;
    if (!folder) {
        if (listing >= 0) ::close(listing);
        return names;
    }
    ::rewinddir(folder);
    qsizetype looked = 0;
    while (const dirent *entry = ::readdir(folder)) {
        if (++looked > kMaxEntriesLookedAt) break;
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
        if (wanted(entry->d_name)) names.append(QByteArray(entry->d_name));
    }
    ::closedir(folder);
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

namespace {

// Larger than any playlist of ours: a file of that size is not read as one.
constexpr qint64 kMaxPlaylistBytes = qint64(64) << 20;

// A playlist of ours in the new phone's playlists folder, as read just now.
struct EarlierPlaylist
{
    CopyIdentity id;
    struct stat seen;
    QByteArray bytes;
};

// The playlists of ours in the open folder `dir` (its record `key`): each
// one recorded and still the very file we wrote, read through the folder.
QList<EarlierPlaylist> earlierPlaylistsIn(int dir, const QString &key)
{
    QList<CopyIdentity> ids;
    {
        RecordFiles &files = RecordFiles::shared();
        const std::lock_guard lock(files.mutex);
        ids = files.read(key);
    }
    QList<EarlierPlaylist> found;
    for (const CopyIdentity &id : std::as_const(ids)) {
        if (id.nameOnly || id.sha256.isEmpty() || id.stamp.size < 0 || id.stamp.size > kMaxPlaylistBytes ||
            !vtr::localfs::isSafeName(id.name))
            continue;
        const platform::Descriptor fd(
            ::openat(dir, QFile::encodeName(id.name).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        EarlierPlaylist earlier{id, {}, {}};
        if (!fd.isOpen() || ::fstat(fd.get(), &earlier.seen) != 0 || !S_ISREG(earlier.seen.st_mode) ||
            qint64(earlier.seen.st_size) != id.stamp.size)
            continue;
        earlier.bytes.resize(qsizetype(id.stamp.size));
        qsizetype done = 0;
        while (done < earlier.bytes.size()) {
            const ssize_t n = ::read(fd.get(), earlier.bytes.data() + done, size_t(earlier.bytes.size() - done));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            done += n;
        }
        if (done == earlier.bytes.size() &&
            QCryptographicHash::hash(earlier.bytes, QCryptographicHash::Sha256).toHex() == id.sha256)
            found.append(earlier);
    }
    return found;
}

// Whether `earlier` is a copy of the phone's playlist `playlist` of the phone
// `phone`, which this run writes as `fileName`. A version that did not record
// which playlist a file holds wrote it under that name, or that name with a
// number when another file held it.
bool holdsPlaylist(const CopyIdentity &earlier, const QString &playlist, const QString &phone, const QString &fileName)
{
    if (!earlier.playlist.isEmpty()) return earlier.playlist == playlist && earlier.phone == phone;
    if (earlier.name == fileName) return true;
    const QString extension = vtr::posixPathExtension(fileName);
    const QString base = vtr::posixDeletingPathExtension(fileName) + QLatin1Char('-');
    const QString tail = extension.isEmpty() ? QString() : QLatin1Char('.') + extension;
    if (!earlier.name.startsWith(base) || !earlier.name.endsWith(tail) ||
        earlier.name.size() <= base.size() + tail.size())
        return false;
    const QStringView number =
        QStringView(earlier.name).mid(base.size(), earlier.name.size() - base.size() - tail.size());
    return std::all_of(number.begin(), number.end(), [](QChar c) { return c.isDigit(); }) && number.front() != u'0';
}

// The songs an M3U text of ours names in the music folder, in its order:
// each line that is `reference(name)` for a song `name` there, answered with
// that name as its path and the title and length its "#EXTINF" line gave.
QList<VtrPlaylistTrack> songsOfPlaylist(const QByteArray &bytes,
                                        const std::function<QString(const QString &)> &reference)
{
    QList<VtrPlaylistTrack> songs;
    VtrPlaylistTrack next;
    const QStringList lines = QString::fromUtf8(bytes).split(QStringLiteral("\r\n"));
    for (const QString &line : lines) {
        if (line.startsWith(QLatin1String("#EXTINF:"))) {
            const qsizetype comma = line.indexOf(QLatin1Char(','));
            bool ok = false;
            next.durationSeconds = comma < 0 ? -1 : line.mid(8, comma - 8).toInt(&ok);
            if (!ok) next.durationSeconds = -1;
            next.title = comma < 0 ? QString() : line.mid(comma + 1);
            continue;
        }
        if (line.isEmpty() || line.startsWith(QLatin1Char('#'))) continue;
        const QString name = line.section(QLatin1Char('\\'), -1);
        if (vtr::localfs::isSafeName(name) && reference(name) == line) {
            next.devicePath = name;
            songs.append(next);
        }
        next = VtrPlaylistTrack();
    }
    return songs;
}

// A new file in a folder of the new phone, written by the folder's checked
// descriptor: made exclusively under the copy's temporary name (which the
// next start clears, should the program end meanwhile), filled, and moved
// onto a free name. Gone again unless it was placed.
class NewFileIn
{
public:
    NewFileIn(int dir, VtrFileInfoPtr folder)
        : m_dir(dir), m_folder(std::move(folder)),
          m_lease(vtr::localfs::childPath(m_folder->path(), QLatin1String(kVtrCopyTempFileName)))
    {
    }
    ~NewFileIn()
    {
        if (m_made && !m_placed) ::unlinkat(m_dir, kVtrCopyTempFileName, 0);
    }
    NewFileIn(const NewFileIn &) = delete;
    NewFileIn &operator=(const NewFileIn &) = delete;

    // False, with the system's words in `why`, when it could not be made and filled.
    bool fill(const QByteArray &bytes, QString *why)
    {
        if (!m_lease.acquired()) {
            *why = QStringLiteral("another copy is writing into the folder");
            return false;
        }
        // What an interrupted copy left there goes first: a plain file of this user's only.
        struct stat st;
        if (::fstatat(m_dir, kVtrCopyTempFileName, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            (!S_ISREG(st.st_mode) || st.st_uid != ::geteuid() || ::unlinkat(m_dir, kVtrCopyTempFileName, 0) != 0)) {
            *why = QStringLiteral("\"%1\" stands in the way").arg(QLatin1String(kVtrCopyTempFileName));
            return false;
        }
        const platform::Descriptor fd(::openat(m_dir, kVtrCopyTempFileName,
                                               O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
        m_made = fd.isOpen();
        if (!m_made || !writeAllTo(fd.get(), bytes)) {
            *why = QString::fromLocal8Bit(std::strerror(errno));
            return false;
        }
        return true;
    }

    // Moves it onto `name`, a name free ignoring case, or should another
    // file take that meanwhile, onto the next one made from `base`. The name
    // it took; empty, with the system's words in `why`, when none.
    QString place(QString name, const QString &base, QString *why)
    {
        for (int attempt = 0; attempt < 100 && !name.isEmpty(); ++attempt) {
            vtr::localfs::ChangeInFolder change(m_folder->path());
            if (::renameat2(m_dir, kVtrCopyTempFileName, m_dir, QFile::encodeName(name).constData(),
                            RENAME_NOREPLACE) == 0) {
                change.added(name);
                m_placed = true;
                return name;
            }
            if (errno != EEXIST) break;
            name = m_folder->uniqueFilename(base);
        }
        *why = name.isEmpty() ? QStringLiteral("no free name") : QString::fromLocal8Bit(std::strerror(errno));
        return QString();
    }

private:
    int m_dir;
    VtrFileInfoPtr m_folder;
    vtr::TemporaryCopyFileLease m_lease;
    bool m_made = false;
    bool m_placed = false;
};

}  // namespace

QString MediaMigrator::phoneOfBackup() const
{
    const std::lock_guard lock(m_itemsMutex);
    return m_phone;
}

// The new phone's folder tree has no phone to write through: the M3U text
// is made as for a phone (paths relative to the "Playlists" folder, with the
// phone's separators) and written as a local file. A playlist of the phone
// is one playlist there: an earlier copy of it that this program wrote gives
// way to this run's, which names the songs of it that stay in the music
// folder beside those copied now.
void MusicMigrator::didCopy(MobileDeviceInterface &target, const QList<MediaItem> &items, const VtrFileInfoList &files)
{
    const QStringList names = playlistNames();
    if (names.isEmpty()) return;
    const VtrFileInfoPtr playlistsFolder = target.preferredPlaylistsFolder();
    const VtrFileInfoPtr musicFolder = target.preferredMusicFolder();
    const VtrFileInfoPtr phoneFolder = target.preferredMediaFolder();
    if (!playlistsFolder || !playlistsFolder->isFolder() || !musicFolder || !phoneFolder) {
        VTR_LOG(1, QStringLiteral("The new phone has no playlists folder; the playlists are not written."));
        return;
    }
    // Written by the folder's descriptor, and only while it is a folder of
    // ours right in the new phone's folder: never through a link out of it.
    const QString listsPath = QDir::cleanPath(playlistsFolder->path());
    QString why = QStringLiteral("it is not a folder of the new phone's folder");
    platform::Descriptor dir;
    if (vtr::localfs::parentPath(listsPath) == QDir::cleanPath(phoneFolder->path()))
        dir = platform::Descriptor(
            platform::openOwnFolder(phoneFolder->path(), {playlistsFolder->name()}, false, &why));
    if (!dir.isOpen()) {
        VTR_LOG(1, QStringLiteral("The playlists are not written into \"%1\": %2").arg(listsPath, why));
        return;
    }
    // The playlists of an earlier run give way to these, unless songs of
    // that run stay (the person kept them): the playlists name them.
    if (!earlierCopiesStay(musicFolder, files)) clearEarlierCopies(playlistsFolder);
    QList<EarlierPlaylist> earlier = earlierPlaylistsIn(dir.get(), recordKeyFor(playlistsFolder));
    // The songs of earlier runs that stay in the music folder, as far as
    // their status tells.
    QSet<QString> stayed;
    if (!earlier.isEmpty()) {
        QSet<QString> copiedNow;
        for (const VtrFileInfoPtr &file : files) copiedNow.insert(file->name());
        QList<CopyIdentity> songs;
        {
            RecordFiles &records = RecordFiles::shared();
            const std::lock_guard lock(records.mutex);
            songs = records.read(recordKeyFor(musicFolder));
        }
        struct stat seen;
        for (const CopyIdentity &song : std::as_const(songs))
            if (!copiedNow.contains(song.name) && stillOurs(musicFolder->path(), song, &seen, Check::Status))
                stayed.insert(song.name);
    }
    const QString phone = phoneOfBackup();
    const std::unique_ptr<VtrMusicPlaylist_m3u> writer = VtrMusicPlaylist_m3u::playlistWithDevice(nullptr);
    const QString musicDevicePath = QStringLiteral("\\") + musicFolder->name();
    const QString listsDevicePath = QStringLiteral("\\") + playlistsFolder->name();
    CopyRecord record(playlistsFolder);
    for (const QString &name : names) {
        const QString devicePath = writer->playlistPathForName(name, listsDevicePath);
        // A long name is shortened as the names of copied files are, with
        // room for the number that may make it unique.
        const QString fileName = vtr::fitLocalNameLength(devicePath.section(QLatin1Char('\\'), -1), 8);
        QList<VtrPlaylistTrack> tracks;
        QSet<QString> named;
        for (qsizetype i = 0; i < items.size(); ++i) {
            if (!items.at(i).playlistNames.contains(name)) continue;
            VtrPlaylistTrack track;
            track.devicePath = musicDevicePath + QLatin1Char('\\') + files.at(i)->name();
            track.title = items.at(i).title;
            track.durationSeconds = items.at(i).durationSeconds;
            tracks.append(track);
            named.insert(files.at(i)->name());
        }
        // Its earlier copies (the one under its own name first), and the
        // songs of theirs that stay.
        QList<EarlierPlaylist> copies;
        for (qsizetype i = 0; i < earlier.size();) {
            if (!holdsPlaylist(earlier.at(i).id, name, phone, fileName)) {
                ++i;
                continue;
            }
            if (earlier.at(i).id.name == fileName) copies.prepend(earlier.takeAt(i));
            else copies.append(earlier.takeAt(i));
        }
        const auto reference = [&](const QString &song) {
            return writer->trackReference(musicDevicePath + QLatin1Char('\\') + song, devicePath);
        };
        for (const EarlierPlaylist &copy : std::as_const(copies)) {
            for (VtrPlaylistTrack song : songsOfPlaylist(copy.bytes, reference)) {
                if (!stayed.contains(song.devicePath) || named.contains(song.devicePath)) continue;
                named.insert(song.devicePath);
                song.devicePath = musicDevicePath + QLatin1Char('\\') + song.devicePath;
                tracks.append(song);
            }
        }
        const auto removeCopies = [&] {
            for (const EarlierPlaylist &copy : std::as_const(copies))
                removeIfStill(playlistsFolder->path(), copy.id.name, copy.seen);
        };
        if (tracks.isEmpty()) {
            // None of its songs is in the folder: it names nothing.
            removeCopies();
            continue;
        }
        const QByteArray bytes = writer->playlistData(tracks, devicePath);
        NewFileIn file(dir.get(), playlistsFolder);
        QString placed;
        if (file.fill(bytes, &why)) {
            removeCopies();
            // The person's own playlist of the same name stays; ours takes
            // a free name beside it.
            const QString wanted = copies.isEmpty() ? fileName : copies.first().id.name;
            const QString free = playlistsFolder->uniqueFilename(wanted);
            record.expect(free, contentsOfBytes(bytes), name, phone);
            placed = file.place(free, wanted, &why);
            record.copied(placed);
        }
        if (placed.isEmpty())
            VTR_LOG(1, QStringLiteral("The playlist \"%1\" could not be written into \"%2\": %3")
                           .arg(name, listsPath, why));
    }
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
