#pragma once

// Small POSIX helpers shared by the local file-info code (VtrMacFileInfo,
// ArchiveUtils, DeviceVolumes). Paths are QStrings encoded with
// QFile::encodeName; every helper is thread-safe and keeps errno meaningful
// on failure.

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QString>
#include <QStringList>

#include <sys/stat.h>
#include <sys/types.h>

namespace vtr::localfs {

inline QByteArray encode(const QString &path)
{
    return QFile::encodeName(path);
}
inline QString decode(const char *bytes)
{
    return QFile::decodeName(bytes);
}

// "~" and "~/..." expanded to the home folder, then cleaned (no doubled or
// trailing "/", no "." or ".." components). "" stays "".
QString normalisePath(const QString &path);
// The parent folder of a cleaned path ("/a" gives "/", "a" gives "").
QString parentPath(const QString &path);
QString childPath(const QString &folder, const QString &name);
// The last component ("/" for "/", "" for "").
QString lastComponent(const QString &path);

bool lstatPath(const QString &path, struct stat *st);
bool statPath(const QString &path, struct stat *st);
bool existsNoFollow(const QString &path);
// realpath(3); null when any level is missing.
QString canonicalPath(const QString &path);

QDateTime dateFromTimespec(const struct timespec &ts);
struct timespec timespecFromDate(const QDateTime &date);

// One name the file system accepts and that stays in its folder: not empty,
// no "/" and no NUL, not "." or "..".
bool isSafeName(const QString &name);

// Capacity and free bytes for this user of the file system holding `path`
// (statvfs); 0 when it cannot be asked.
qint64 volumeCapacity(const QString &path);
qint64 volumeFreeSpace(const QString &path);

// The entries of a folder (without "." and ".."), unsorted; false with errno
// when the folder cannot be read. `types` receives the d_type of each entry.
bool listFolder(const QString &path, QStringList &names, QList<unsigned char> *types = nullptr);

// Removes a file, a link or a folder with everything in it; links are never
// followed. False (errno set) when something could not be removed.
bool removeItem(const QString &path);

// Writes all of `length` bytes at `offset` (pwrite, retried); false on error.
bool writeAllAt(int fd, const char *data, qint64 length, qint64 offset);
bool writeAll(int fd, const char *data, qint64 length);
// Copies the rest of `in` to `out` (copy_file_range, or read/write where the
// kernel cannot); false on error.
bool copyFileData(int in, int out);

// Creates a new, empty file with a random hidden name in `folder`, mode 0666
// less the umask, and answers its descriptor (opened for writing) and path;
// -1 on failure.
int createTemporaryFileIn(const QString &folder, const QString &hint, QString *outPath);
// A free random hidden name in `folder` (nothing is created).
QString temporaryNameIn(const QString &folder, const QString &hint);

// rename(2) that never replaces an existing item: EEXIST when `to` exists.
bool renameNoReplace(const QString &from, const QString &to);

// Copies a file, a link or a folder tree from `from` to the new path `to`
// (which must not exist), keeping modes and modification times. False, with
// everything created removed again, on failure.
bool copyItem(const QString &from, const QString &to);

// A folder's status as this process last saw it, and when.
struct FolderState
{
    QString folder;
    struct stat status
    {
    };
    qint64 takenNs = -1; // monotonic clock; -1 for no state
    // Taken moments ago: close enough to stand for a fresh stat, as a change
    // by another program within one clock tick may go unseen anyway.
    bool isRecentFor(const QString &path) const;
};

// Case-insensitive name look-up in a folder, answered from a per-process
// index of folder listings. The index is checked against the folder's
// identity and change times on every use and updated by the changes this
// process makes through ChangeInFolder, so repeated look-ups in a large
// folder cost one stat. A change by another program within one clock tick of
// a listing may go unseen until the folder changes again; a match is always
// verified on disk. `seen` (when given) receives the folder's state the
// index was checked against.
QString findNameIgnoringCase(const QString &folder, const QString &name, FolderState *seen = nullptr);
// Hands a fresh listing to the index (taken by a caller anyway).
void rememberListing(const QString &folder, const struct stat &before, const QStringList &names);

// Brackets one change of a folder's entries made by this process.
class ChangeInFolder
{
public:
    explicit ChangeInFolder(const QString &folder);
    // The next change of a folder right after an earlier one (a copy's
    // rename after its temporary file's creation): a recent state of the
    // folder spares the stat.
    ChangeInFolder(const QString &folder, const FolderState &known);
    ~ChangeInFolder();
    ChangeInFolder(const ChangeInFolder &) = delete;
    ChangeInFolder &operator=(const ChangeInFolder &) = delete;
    void added(const QString &name) { m_added.append(name); }
    void removed(const QString &name) { m_removed.append(name); }
    // Ends the change now: the folder's state after it.
    FolderState finish();

private:
    void begin(const struct stat *status);

    QString m_folder;
    bool m_indexWasCurrent = false;
    bool m_finished = false;
    QStringList m_added;
    QStringList m_removed;
};

} // namespace vtr::localfs
