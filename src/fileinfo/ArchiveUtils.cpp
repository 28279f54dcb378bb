#include "fileinfo/ArchiveUtils.h"

#include "fileinfo/VtrMacFileInfoFS.h"
#include "foundation/VtrString.h"

#include <archive.h>
#include <archive_entry.h>

#include <QSet>

#include <sys/statvfs.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <unistd.h>
#include <vector>

using namespace vtr::localfs;

namespace {

constexpr qint64 kBufferSize = 1 << 20;

struct ArchiveFree
{
    void operator()(archive *a) const
    {
        if (a) archive_write_free(a);
    }
};
struct ArchiveReadFree
{
    void operator()(archive *a) const
    {
        if (a) archive_read_free(a);
    }
};
struct EntryFree
{
    void operator()(archive_entry *e) const { archive_entry_free(e); }
};
using WriterPtr = std::unique_ptr<archive, ArchiveFree>;
using ReaderPtr = std::unique_ptr<archive, ArchiveReadFree>;
using EntryPtr = std::unique_ptr<archive_entry, EntryFree>;

class Fd
{
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    int get() const { return m_fd; }
    void reset(int fd = -1)
    {
        if (m_fd >= 0) ::close(m_fd);
        m_fd = fd;
    }
    int release()
    {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }

private:
    int m_fd;
};

QString archiveError(archive *a)
{
    const char *text = archive_error_string(a);
    return text ? QString::fromLocal8Bit(text) : QStringLiteral("unknown archive error");
}

void setError(QString *error, const QString &text)
{
    if (error && error->isEmpty()) *error = text;
}

// ---- writing --------------------------------------------------------------------------

struct Identity
{
    dev_t device;
    ino_t inode;
    bool operator==(const Identity &other) const { return device == other.device && inode == other.inode; }
};

class ZipWriter
{
public:
    ZipWriter() : m_archive(archive_write_new())
    {
        if (!m_archive) return;
        archive_write_set_format_zip(m_archive.get());
        // Names are stored as UTF-8 (and flagged so), whatever the locale.
        archive_write_set_options(m_archive.get(), "zip:hdrcharset=UTF-8");
        // No padding after the central directory.
        archive_write_set_bytes_in_last_block(m_archive.get(), 1);
    }

    archive *get() const { return m_archive.get(); }
    void exclude(const struct stat &st) { m_excluded.push_back(Identity{st.st_dev, st.st_ino}); }

    bool addItem(const QString &path, const QString &entryName, QString *error)
    {
        struct stat st;
        if (!lstatPath(path, &st)) {
            setError(error, QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno))));
            return false;
        }
        if (std::find(m_excluded.begin(), m_excluded.end(), Identity{st.st_dev, st.st_ino}) != m_excluded.end())
            return true;
        if (!S_ISDIR(st.st_mode) && !S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) return true;

        EntryPtr entry(archive_entry_new());
        archive_entry_set_pathname_utf8(entry.get(), entryName.toUtf8().constData());
        archive_entry_set_mtime(entry.get(), st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
        archive_entry_set_perm(entry.get(), st.st_mode & 07777);

        if (S_ISLNK(st.st_mode)) {
            QByteArray target(PATH_MAX, Qt::Uninitialized);
            const ssize_t n = ::readlink(encode(path).constData(), target.data(), size_t(target.size()));
            if (n < 0) {
                setError(error, QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno))));
                return false;
            }
            target.truncate(n);
            archive_entry_set_filetype(entry.get(), AE_IFLNK);
            archive_entry_set_size(entry.get(), 0);
            archive_entry_set_symlink_utf8(entry.get(), decode(target.constData()).toUtf8().constData());
            return writeHeader(entry.get(), error);
        }
        if (S_ISDIR(st.st_mode)) {
            archive_entry_set_filetype(entry.get(), AE_IFDIR);
            archive_entry_set_size(entry.get(), 0);
            if (!writeHeader(entry.get(), error)) return false;
            QStringList names;
            if (!listFolder(path, names)) {
                setError(error, QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno))));
                return false;
            }
            std::sort(names.begin(), names.end(), [](const QString &a, const QString &b) {
                const int folded = a.compare(b, Qt::CaseInsensitive);
                return folded != 0 ? folded < 0 : a.toUtf8() < b.toUtf8();
            });
            for (const QString &name : names) {
                if (!addItem(childPath(path, name), entryName + QLatin1Char('/') + name, error)) return false;
            }
            return true;
        }

        Fd in(::open(encode(path).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
        if (in.get() < 0) {
            setError(error, QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno))));
            return false;
        }
        archive_entry_set_filetype(entry.get(), AE_IFREG);
        archive_entry_set_size(entry.get(), st.st_size);
        if (!writeHeader(entry.get(), error)) return false;
        std::vector<char> buffer(static_cast<size_t>(kBufferSize));
        qint64 remaining = st.st_size;
        while (remaining > 0) {
            const ssize_t n = ::read(in.get(), buffer.data(), size_t(std::min<qint64>(remaining, kBufferSize)));
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                setError(error, QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno))));
                return false;
            }
            if (n == 0) {
                // The file shrank meanwhile: the entry keeps its announced length.
                std::fill(buffer.begin(), buffer.end(), 0);
                while (remaining > 0) {
                    const qint64 pad = std::min<qint64>(remaining, kBufferSize);
                    if (archive_write_data(m_archive.get(), buffer.data(), size_t(pad)) < 0) {
                        setError(error, archiveError(m_archive.get()));
                        return false;
                    }
                    remaining -= pad;
                }
                break;
            }
            if (archive_write_data(m_archive.get(), buffer.data(), size_t(n)) < 0) {
                setError(error, archiveError(m_archive.get()));
                return false;
            }
            remaining -= n;
        }
        return true;
    }

    bool close(QString *error)
    {
        if (archive_write_close(m_archive.get()) != ARCHIVE_OK) {
            setError(error, archiveError(m_archive.get()));
            return false;
        }
        return true;
    }

private:
    bool writeHeader(archive_entry *entry, QString *error)
    {
        if (archive_write_header(m_archive.get(), entry) < ARCHIVE_WARN) {
            setError(error, archiveError(m_archive.get()));
            return false;
        }
        return true;
    }

    WriterPtr m_archive;
    std::vector<Identity> m_excluded;
};

la_ssize_t appendToBuffer(archive *, void *client, const void *buffer, size_t length)
{
    static_cast<QByteArray *>(client)->append(static_cast<const char *>(buffer), qsizetype(length));
    return la_ssize_t(length);
}

QString entryRootName(const QString &itemPath, QString *error)
{
    const QString name = vtr::posixLastPathComponent(normalisePath(itemPath));
    if (!isSafeName(name)) {
        setError(error, QStringLiteral("\"%1\" cannot be archived under its own name.").arg(itemPath));
        return QString();
    }
    return name;
}

// ---- unpacking ----------------------------------------------------------------------------

// The entry's path as components below the target folder; false when it would
// leave the folder (absolute, "..") or names nothing.
bool safeComponents(const QString &name, QStringList &components)
{
    if (name.isEmpty() || name.startsWith(QLatin1Char('/'))) return false;
    for (const QString &part : name.split(QLatin1Char('/'))) {
        if (part.isEmpty() || part == QLatin1String(".")) continue;
        if (part == QLatin1String("..") || part.contains(QChar(0))) return false;
        components.append(part);
    }
    return !components.isEmpty();
}

// A link whose text, read from its own folder, stays inside the target. The
// folders the text passes through on its way (paths below the target, the
// last step left out) go to *passedThrough: read as written only while none
// of them is a link.
bool linkStaysInside(const QStringList &entryComponents, const QString &target, QStringList *passedThrough)
{
    if (target.isEmpty() || target.startsWith(QLatin1Char('/'))) return false;
    QStringList at = entryComponents.mid(0, entryComponents.size() - 1);
    QStringList steps = target.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    steps.removeAll(QStringLiteral("."));
    for (qsizetype i = 0; i < steps.size(); ++i) {
        if (steps.at(i) == QLatin1String("..")) {
            if (at.isEmpty()) return false;
            at.removeLast();
        } else {
            at.append(steps.at(i));
        }
        if (i + 1 < steps.size() && !at.isEmpty()) passedThrough->append(at.join(QLatin1Char('/')));
    }
    return true;
}

// Links are judged by their text, which holds only while every folder that
// text passes through is a real folder: a link made earlier ("a -> .") or
// later on such a path ("b -> a/..", then "a -> .") would take the text
// elsewhere. Such links are refused.
class LinkGuard
{
public:
    explicit LinkGuard(int rootFd) : m_root(rootFd) {}

    bool accept(const QStringList &entryComponents, const QString &target)
    {
        QStringList passed;
        if (!linkStaysInside(entryComponents, target, &passed)) return false;
        if (m_passedThrough.contains(entryComponents.join(QLatin1Char('/')))) return false;
        for (const QString &folder : passed) {
            struct stat st;
            if (::fstatat(m_root, encode(folder).constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode))
                return false;
        }
        for (const QString &folder : passed)
            m_passedThrough.insert(folder);
        return true;
    }

private:
    int m_root;
    QSet<QString> m_passedThrough;
};

// Opens (creating as needed) the first `count` components as folders below
// `rootFd`, never through a link; -1 when a level is not a real folder.
// Folders made (as paths below the root) are added to `made`.
int openFolders(int rootFd, const QStringList &components, qsizetype count, QList<QByteArray> &made)
{
    int current = ::fcntl(rootFd, F_DUPFD_CLOEXEC, 0);
    for (qsizetype i = 0; current >= 0 && i < count; ++i) {
        const QByteArray part = encode(components.at(i));
        if (::mkdirat(current, part.constData(), 0777) == 0) {
            made.append(encode(components.mid(0, i + 1).join(QLatin1Char('/'))));
        } else if (errno != EEXIST) {
            ::close(current);
            return -1;
        }
        const int next = ::openat(current, part.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        ::close(current);
        current = next;
    }
    return current;
}

QString entryPathName(archive_entry *entry)
{
    if (const char *utf8 = archive_entry_pathname_utf8(entry)) return QString::fromUtf8(utf8);
    if (const char *raw = archive_entry_pathname(entry)) return QString::fromLocal8Bit(raw);
    return QString();
}

QString entryLinkTarget(archive_entry *entry)
{
    if (const char *utf8 = archive_entry_symlink_utf8(entry)) return QString::fromUtf8(utf8);
    if (const char *raw = archive_entry_symlink(entry)) return QString::fromLocal8Bit(raw);
    return QString();
}

std::atomic<qint64> g_freeSpaceForTesting{-1};

// What may still be written below the folder open as `fd`: its free space
// less a reserve, so an archive never fills the disk it is unpacked on.
qint64 extractionBudget(int fd)
{
    constexpr qint64 kReserve = qint64(64) << 20;
    qint64 space = g_freeSpaceForTesting.load();
    if (space < 0) {
        struct statvfs vfs;
        if (::fstatvfs(fd, &vfs) != 0) return 0;
        space = qint64(vfs.f_bavail) * qint64(vfs.f_frsize);
    }
    return std::max<qint64>(0, space - kReserve);
}

// The sizes the archive's regular entries announce, added up; -1 when the
// archive cannot be listed (the extraction itself then says why).
qint64 announcedSize(const QString &archivePath)
{
    ReaderPtr reader(archive_read_new());
    if (!reader) return -1;
    archive_read_support_format_all(reader.get());
    archive_read_support_filter_all(reader.get());
    if (archive_read_open_filename(reader.get(), encode(archivePath).constData(), 65536) != ARCHIVE_OK) return -1;
    qint64 total = 0;
    archive_entry *entry = nullptr;
    for (;;) {
        const int r = archive_read_next_header(reader.get(), &entry);
        if (r == ARCHIVE_EOF) return total;
        if (r < ARCHIVE_WARN) return -1;
        if (archive_entry_filetype(entry) != AE_IFREG || !archive_entry_size_is_set(entry)) continue;
        const qint64 size = std::max<qint64>(0, archive_entry_size(entry));
        if (size > LLONG_MAX - total) return LLONG_MAX;  // sizes made to overflow
        total += size;
    }
}

// Writes the entry's data, at most `limit` bytes of file: a file that grows
// past it (or past its own announced size) sets *tooBig and fails. *end is
// the size the file was given.
bool extractFile(archive *a, archive_entry *entry, int folderFd, const QByteArray &leaf, qint64 limit,
                 bool *tooBig, qint64 *end)
{
    if (archive_entry_size_is_set(entry)) limit = std::min<qint64>(limit, archive_entry_size(entry));
    *end = 0;
    Fd out(::openat(folderFd, leaf.constData(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0666));
    if (out.get() < 0) return false;
    struct stat st;
    if (::fstat(out.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    if (::ftruncate(out.get(), 0) != 0) return false;
    qint64 &written = *end;
    for (;;) {
        const void *block = nullptr;
        size_t size = 0;
        la_int64_t offset = 0;
        const int r = archive_read_data_block(a, &block, &size, &offset);
        if (r == ARCHIVE_EOF) break;
        if (r < ARCHIVE_WARN) return false;
        if (offset < 0 || qint64(size) > limit - offset) {
            *tooBig = true;
            return false;
        }
        if (size > 0 && !writeAllAt(out.get(), static_cast<const char *>(block), qint64(size), offset)) return false;
        written = std::max<qint64>(written, offset + qint64(size));
    }
    if (archive_entry_size_is_set(entry) && archive_entry_size(entry) > written) written = archive_entry_size(entry);
    if (::ftruncate(out.get(), off_t(written)) != 0) return false;
    const mode_t mode = archive_entry_perm(entry) & 0777;
    if (mode != 0) ::fchmod(out.get(), mode);
    if (archive_entry_mtime_is_set(entry)) {
        const struct timespec times[2] = {{0, UTIME_OMIT},
                                          {time_t(archive_entry_mtime(entry)), long(archive_entry_mtime_nsec(entry))}};
        ::futimens(out.get(), times);
    }
    return ::close(out.release()) == 0;
}

} // namespace

namespace vtr {

bool zipItemToFile(const QString &itemPath, const QString &archivePath, QString *error,
                   const QStringList &excludedPaths)
{
    if (error) error->clear();
    const QString rootName = entryRootName(itemPath, error);
    if (rootName.isNull()) return false;
    const QString target = normalisePath(archivePath);
    QString stepPath;
    Fd fd(createTemporaryFileIn(parentPath(target), vtr::posixLastPathComponent(target), &stepPath));
    if (fd.get() < 0) {
        setError(error, QStringLiteral("%1: %2").arg(target, QString::fromLocal8Bit(std::strerror(errno))));
        return false;
    }

    ZipWriter writer;
    bool ok = writer.get() != nullptr;
    struct stat st;
    if (ok && ::fstat(fd.get(), &st) == 0) writer.exclude(st);
    if (ok && lstatPath(target, &st)) writer.exclude(st);
    for (const QString &excluded : excludedPaths) {
        if (lstatPath(normalisePath(excluded), &st)) writer.exclude(st);
    }
    if (ok && archive_write_open_fd(writer.get(), fd.get()) != ARCHIVE_OK) {
        setError(error, archiveError(writer.get()));
        ok = false;
    }
    ok = ok && writer.addItem(normalisePath(itemPath), rootName, error);
    ok = writer.close(error) && ok;
    if (::close(fd.release()) != 0 && ok) {
        setError(error, QStringLiteral("%1: %2").arg(target, QString::fromLocal8Bit(std::strerror(errno))));
        ok = false;
    }
    if (ok && ::rename(encode(stepPath).constData(), encode(target).constData()) != 0) {
        setError(error, QStringLiteral("%1: %2").arg(target, QString::fromLocal8Bit(std::strerror(errno))));
        ok = false;
    }
    if (!ok) ::unlink(encode(stepPath).constData());
    return ok;
}

QByteArray zipItemToData(const QString &itemPath, QString *error)
{
    if (error) error->clear();
    const QString rootName = entryRootName(itemPath, error);
    if (rootName.isNull()) return QByteArray();
    QByteArray data;
    ZipWriter writer;
    if (!writer.get()) return QByteArray();
    if (archive_write_open(writer.get(), &data, nullptr, appendToBuffer, nullptr) != ARCHIVE_OK) {
        setError(error, archiveError(writer.get()));
        return QByteArray();
    }
    bool ok = writer.addItem(normalisePath(itemPath), rootName, error);
    ok = writer.close(error) && ok;
    return ok ? data : QByteArray();
}

ArchiveExtractResult extractArchive(const QString &archivePath, const QString &targetFolder)
{
    ArchiveExtractResult result;
    Fd root(::open(encode(targetFolder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (root.get() < 0) {
        result.error = QStringLiteral("%1: %2").arg(targetFolder, QString::fromLocal8Bit(std::strerror(errno)));
        return result;
    }
    ReaderPtr reader(archive_read_new());
    if (!reader) {
        result.error = QStringLiteral("no archive reader");
        return result;
    }
    archive_read_support_format_all(reader.get());
    archive_read_support_filter_all(reader.get());
    if (archive_read_open_filename(reader.get(), encode(archivePath).constData(), 65536) != ARCHIVE_OK) {
        result.error = archiveError(reader.get());
        return result;
    }

    // A hostile archive (a "zip bomb") must not fill the disk: refused up
    // front when its entries announce more than fits, and undone when its
    // data turns out larger than announced or than fits.
    qint64 budget = extractionBudget(root.get());
    const qint64 announced = announcedSize(archivePath);
    if (announced > budget) {
        result.error = QStringLiteral("The archive needs %1 bytes; only %2 can be written to %3.")
                           .arg(announced)
                           .arg(budget)
                           .arg(targetFolder);
        return result;
    }
    QList<QByteArray> made;  // below the root, oldest first
    bool tooBig = false;
    LinkGuard links(root.get());
    for (;;) {
        archive_entry *entry = nullptr;
        const int r = archive_read_next_header(reader.get(), &entry);
        if (r == ARCHIVE_EOF) {
            result.ok = true;
            break;
        }
        if (r < ARCHIVE_WARN) {
            result.error = archiveError(reader.get());
            break;
        }
        QStringList components;
        const mode_t type = archive_entry_filetype(entry);
        if (!safeComponents(entryPathName(entry), components) || archive_entry_hardlink(entry) ||
            (type != AE_IFDIR && type != AE_IFREG && type != AE_IFLNK)) {
            ++result.skipped;
            continue;
        }
        if (type == AE_IFDIR) {
            const int folder = openFolders(root.get(), components, components.size(), made);
            if (folder < 0) {
                ++result.skipped;
            } else {
                ::close(folder);
                ++result.written;
            }
            continue;
        }
        Fd folder(openFolders(root.get(), components, components.size() - 1, made));
        const QByteArray leaf = encode(components.last());
        const QByteArray path = encode(components.join(QLatin1Char('/')));
        bool ok = folder.get() >= 0;
        if (ok && type == AE_IFREG) {
            struct stat before;
            if (::fstatat(folder.get(), leaf.constData(), &before, AT_SYMLINK_NOFOLLOW) != 0) made.append(path);
            qint64 size = 0;
            ok = extractFile(reader.get(), entry, folder.get(), leaf, budget, &tooBig, &size);
            budget -= size;
            if (tooBig) break;
        } else if (ok) {
            const QString target = entryLinkTarget(entry);
            ok = links.accept(components, target) &&
                 ::symlinkat(encode(target).constData(), folder.get(), leaf.constData()) == 0;
            if (ok) made.append(path);
        }
        if (ok)
            ++result.written;
        else
            ++result.skipped;
    }
    if (tooBig) {
        // Nothing of it stays: what this extraction made goes, newest first.
        for (auto it = made.crbegin(); it != made.crend(); ++it)
            if (::unlinkat(root.get(), it->constData(), 0) != 0) ::unlinkat(root.get(), it->constData(), AT_REMOVEDIR);
        result = ArchiveExtractResult{};
        result.error = QStringLiteral("The archive holds more than it announces or than fits in %1.").arg(targetFolder);
    }
    return result;
}

void setExtractionFreeSpaceForTesting(qint64 bytes)
{
    g_freeSpaceForTesting = bytes;
}

} // namespace vtr
