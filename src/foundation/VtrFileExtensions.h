#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

// An open file descriptor, closed when the handle goes away.
class VtrFileHandle
{
public:
    // Takes ownership of `fd`.
    explicit VtrFileHandle(int fd) : m_fd(fd) {}
    ~VtrFileHandle();
    VtrFileHandle(const VtrFileHandle &) = delete;
    VtrFileHandle &operator=(const VtrFileHandle &) = delete;

    // Opens `path` for reading and writing, creating it with mode 0700 when
    // missing; nullptr when the open fails.
    static std::unique_ptr<VtrFileHandle> fileHandleOpeningOrCreatingAtPath(const QString &path);

    int fileDescriptor() const { return m_fd; }

    // Writes every byte at the current position (a short write is retried):
    // 0 when all are out, else the system error number.
    int writeBuffer(const void *buffer, qint64 length);
    int writeData(const QByteArray &data) { return writeBuffer(data.constData(), data.size()); }
    // Reads at the current position: 0 when exactly `length` bytes were read,
    // else EIO (5).
    int readIntoBuffer(void *buffer, qint64 length);
    // The file from offset 0 (at most 1,000,000,000 bytes), leaving the
    // current position alone; nullopt unless exactly that many were read.
    std::optional<QByteArray> readFileIntoMutableData();
    // The size from the descriptor's status; 0 when that fails.
    qint64 fileSize() const;

    // Positioning; each answers false (offset -1) on failure.
    qint64 offsetInFile() const;
    qint64 seekToEndOfFile();
    bool seekToFileOffset(qint64 offset);
    bool truncateFileAtOffset(qint64 offset);
    bool synchronizeFile();

private:
    int m_fd = -1;
};

namespace vtr {

inline constexpr qint64 kReadFileLimit = 1000000000;

// ---- file-manager extensions

// Follows one level of symbolic link: the link's destination, a relative one
// taken from the link's folder. The path unchanged when nothing resolves;
// null for null.
QString absolutePathForPath(const QString &path);

// Creates the folder and any missing parents (mode 0777 less the umask).
// Never removes anything: a file in the way makes it fail. True when a folder
// exists at the path afterwards.
bool recursivelyCreatePath(const QString &path);

// Size of the file (a symbolic link is followed for files); 0 for a null or
// missing path.
qint64 getDataForkSize(const QString &path);

// Progress of a copy: bytes in this chunk, copied so far, total. Answer true
// to stop the copy.
using CopyProgressFunction = std::function<bool(qint64 chunk, qint64 copied, qint64 total)>;

// Copy status: 0 done, -1 stopped by the progress function or no buffer,
// otherwise a (positive) errno of the failing step. A copy of a file onto
// itself (same device and inode) is refused with EINVAL, a folder at the
// destination with EISDIR, too little free space with ENOSPC.
inline constexpr int kCopyFileStopped = -1;

// Copies `source` to `destination` in chunks (256 KiB, or 1 MiB above 5 MiB),
// creating the destination's folder. The bytes go to a temporary file beside
// the destination that is renamed over it only when the copy is complete: a
// failed or stopped copy leaves any old destination as it was. The progress
// function (optional) is called once with (0, 0, total) before the first
// chunk and after every chunk.
int copyFile(const QString &source, const QString &destination, const CopyProgressFunction &progress = {});

// Removes every folder below `path` (not `path` itself) that is empty or
// holds only dot-named entries, deepest first. Symbolic links are not
// followed.
void removeEmptyDirectoriesFromPath(const QString &path);

// Removes the folder (with everything in it) when every folder below it holds
// only dot-named entries or names from `namesToIgnore` (ignoring case), and
// every file below it is dot-named or named in the list by its relative path.
// A path that is not a folder is left alone.
void removeDirectoryIfEmpty(const QString &path, const QStringList &namesToIgnore);

// A path in the same folder at which nothing exists (a name that differs from
// an existing one only in case counts as taken): the wanted path, then
// "name 1.ext", "name 2.ext", ...; after a candidate that is a folder,
// "name.ext 1", "name.ext 2", ... A name without extension gives "name",
// "name 1", ... Null when the path has no parent folder.
QString uniqueFilePath(const QString &wantedPath);

// $XDG_CACHE_HOME/Metadata/<application identifier>, created when missing.
QString metadataFolder();

} // namespace vtr
