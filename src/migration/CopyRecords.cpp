// The record of our copies: its files in the data folder (read, appended to
// and rewritten by descriptor), the lines they hold, and what a file must
// still be to count as ours.

#include "migration/CopyRecords.h"

#include "fileinfo/VtrMacFileInfoFS.h"
#include "foundation/Log.h"
#include "foundation/VtrString.h"
#include "migration/DataMigrator.h"
#include "platform/Folders.h"
#include "platform/UserDefaults.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QVariant>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <unistd.h>

namespace vtr::migration {

namespace {

const QString kCopiedMediaKey = QStringLiteral("CopiedMediaFiles");

constexpr qint64 kNsPerSecond = 1000000000;

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

}  // namespace

QString recordKeyFor(const VtrFileInfoPtr &folder) { return QDir::cleanPath(folder->path()); }

vtr::FileStamp stampOf(const struct stat &st)
{
    return {true, qint64(st.st_size), qint64(st.st_mtim.tv_sec), qint64(st.st_mtim.tv_nsec), quint64(st.st_dev),
            quint64(st.st_ino)};
}

RecordFiles &RecordFiles::shared()
{
    static RecordFiles *files = new RecordFiles;
    return *files;
}

platform::Descriptor RecordFiles::openFolder(bool make, QString *why)
{
    return platform::Descriptor(platform::openDataFolder({QStringLiteral("Copy records")}, make, why));
}

QByteArray RecordFiles::fileFor(const QString &key)
{
    return QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha1).toHex() + ".log";
}

QByteArray RecordFiles::headerFor(const QString &key)
{
    return QJsonDocument(QJsonObject{{QStringLiteral("folder"), key}}).toJson(QJsonDocument::Compact) + '\n';
}

QList<CopyIdentity> RecordFiles::read(const QString &key, QHash<QString, OtherCopy> *others)
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
    // Another user's file at a record's name is none of ours: what it says
    // is not taken for the copies we made.
    struct stat st;
    QFile file;
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid() ||
        !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
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

bool RecordFiles::replace(const QString &key, const QList<CopyIdentity> &ids, const QList<OtherCopy> &others)
{
    const QByteArray name = fileFor(key);
    QString why;
    const platform::Descriptor folder = openFolder(!ids.isEmpty(), &why);
    if (ids.isEmpty()) {
        // Only a record of ours goes: another item at its name stays as it is.
        struct stat st;
        const bool standing =
            folder.isOpen() && ::fstatat(folder.get(), name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0;
        if (standing && (!S_ISREG(st.st_mode) || st.st_uid != ::geteuid())) {
            VTR_LOG(2, QStringLiteral("The record of the copies in \"%1\" is not removed: the item at its name is "
                                      "not a file of ours.")
                           .arg(key));
            return false;
        }
        if (standing && ::unlinkat(folder.get(), name.constData(), 0) != 0 && errno != ENOENT) {
            VTR_LOG(2, QStringLiteral("The record of the copies in \"%1\" could not be removed: %2")
                           .arg(key, QString::fromLocal8Bit(std::strerror(errno))));
            return false;
        }
    } else {
        QByteArray bytes = headerFor(key);
        for (const CopyIdentity &id : ids) bytes += recordLine(id);
        for (const OtherCopy &other : others) bytes += otherCopyLine(other);
        // Kept on the disk before it takes the record's name: the record is
        // what lets a later run tell its copies from the person's files.
        const auto fill = [&bytes](int fd) {
            return vtr::localfs::writeAll(fd, bytes.constData(), bytes.size()) && ::fdatasync(fd) == 0;
        };
        const QString records = QDir(platform::dataFolder()).filePath(QStringLiteral("Copy records"));
        if (!folder.isOpen() || !platform::replaceFileIn(folder.get(), records, QFile::decodeName(name), fill, &why)) {
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

RecordAppender::~RecordAppender()
{
    if (m_fd >= 0) ::close(m_fd);
}

void RecordAppender::append(const CopyIdentity &id) { appendLine(recordLine(id)); }

void RecordAppender::appendLine(const QByteArray &line)
{
    RecordFiles &files = RecordFiles::shared();
    const std::lock_guard lock(files.mutex);
    if (!open()) return;
    writeAll(line);
}

void RecordAppender::flush()
{
    if (m_fd >= 0) ::fdatasync(m_fd);
}

bool RecordAppender::open()
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
        if (m_fd >= 0 && (::fstat(m_fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid())) {
            ::close(m_fd);
            m_fd = -1;
            why = QStringLiteral("no plain file of ours");
        }
        if (m_fd >= 0 && st.st_size == 0) writeAll(RecordFiles::headerFor(m_key));
    }
    if (m_fd >= 0) return true;
    // The copies go on; unrecorded ones are never cleared, which loses
    // nothing, and the next run takes a file of a copy's name and bytes for
    // that copy rather than copying it again beside it.
    m_failed = true;
    VTR_LOG(2, QStringLiteral("The copies in \"%1\" cannot be recorded (%2); a later run leaves them in place.")
                   .arg(m_key, why));
    return false;
}

void RecordAppender::writeAll(const QByteArray &bytes)
{
    if (!vtr::localfs::writeAll(m_fd, bytes.constData(), bytes.size()))
        VTR_LOG(2, QStringLiteral("The record of the copies in \"%1\" could not be written: %2")
                       .arg(m_key, QString::fromLocal8Bit(std::strerror(errno))));
}

bool stillOurs(const QString &folder, const CopyIdentity &id, struct stat *seen, Check check)
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

CopiesAlreadyThere::CopiesAlreadyThere(const VtrFileInfoPtr &folder)
    : m_dir(platform::openOwnFolder(folder->path(), false))
{
    if (!m_dir.isOpen()) return;
    {
        RecordFiles &files = RecordFiles::shared();
        const std::lock_guard lock(files.mutex);
        for (const CopyIdentity &id : files.read(recordKeyFor(folder)))
            if (!id.nameOnly && id.stamp.size >= 0 && !id.sha256.isEmpty()) m_recorded.insert(id.name);
    }
    platform::forEachEntryIn(m_dir.get(), [this](const char *entry) {
        const QString name = QFile::decodeName(entry);
        if (vtr::localfs::isSafeName(name) && !m_recorded.contains(name))
            m_groups[stemOf(name)].unsized.append(name);
    });
}

QString CopiesAlreadyThere::stemOf(const QString &name)
{
    static const QRegularExpression number(QStringLiteral("-[1-9][0-9]*$"));
    QString base = vtr::posixDeletingPathExtension(name);
    base.remove(number);
    const QString extension = vtr::posixPathExtension(name);
    return (extension.isEmpty() ? base : base + QLatin1Char('.') + extension).toCaseFolded();
}

QList<QString> *CopiesAlreadyThere::sameIn(const QString &stem, const Contents &contents)
{
    const auto group = m_groups.find(stem);
    if (group == m_groups.end()) return nullptr;
    for (const QString &entry : std::as_const(group->unsized)) {
        struct stat st;
        if (::fstatat(m_dir.get(), QFile::encodeName(entry).constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(st.st_mode) && st.st_uid == ::geteuid())
            group->unhashed[qint64(st.st_size)].append(entry);
    }
    group->unsized.clear();
    for (const QString &entry : group->unhashed.take(contents.size)) {
        struct stat st;
        const QByteArray hash = contentHashIn(m_dir.get(), entry, &st);
        if (!hash.isEmpty() && st.st_uid == ::geteuid() && qint64(st.st_size) == contents.size)
            group->hashed[hash].append(entry);
    }
    const auto same = group->hashed.find(contents.sha256);
    return same == group->hashed.end() ? nullptr : &*same;
}

QString CopiesAlreadyThere::take(const QString &name, const Contents &contents)
{
    if (!m_dir.isOpen() || contents.sha256.isEmpty() || contents.size < 0) return {};
    // The name's stem leaves out a number the phone's own name may end in
    // ("IMG00001-20130214-1015"); that name made unique has the whole name
    // as its stem.
    QList<QList<QString> *> found;
    const QString stem = stemOf(name);
    const QString whole = name.toCaseFolded();
    for (const QString &key : {stem, whole})
        if (QList<QString> *same = sameIn(key, contents); same && !same->isEmpty() && !found.contains(same))
            found.append(same);
    if (found.isEmpty()) return {};
    for (QList<QString> *same : std::as_const(found))
        for (qsizetype i = 0; i < same->size(); ++i)
            if (same->at(i).compare(name, Qt::CaseInsensitive) == 0) return same->takeAt(i);
    return found.first()->takeFirst();
}

void CopyRecord::add(const QStringList &names)
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

void CopyRecord::expect(const QString &name, const Contents &contents, const QString &playlist, const QString &phone)
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

void CopyRecord::copied(const QString &name)
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

}  // namespace vtr::migration

using namespace vtr::migration;

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
