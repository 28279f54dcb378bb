#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

struct stat;

// The per-user folders of the application. Each one follows the XDG
// variables (so a test that points HOME and XDG_* elsewhere is isolated) and
// can also be overridden directly with a setter; an empty override restores
// the default.
namespace platform {

inline constexpr const char *kAppFolderName = "Solvenna to Windows Phone";

QString homeFolder();
// $XDG_DATA_HOME/Solvenna to Windows Phone (the Mac's Application Support folder).
QString dataFolder();
// $XDG_STATE_HOME/Solvenna to Windows Phone (logs).
QString stateFolder();
// $XDG_CACHE_HOME/Solvenna to Windows Phone: the cache's folder of ours,
// holding the temporary folder and the lock of the running wizard.
QString cacheFolder();
// cacheFolder()/tmp: private (0700). Created on demand, reached from the
// cache folder step by step; throws VtrException("TemporaryFolderException",
// ...) when a folder of ours on the way is unsafe (a link, another owner's)
// or cannot be made. With an override, only its last step is ours.
QString temporaryFolder();

void setHomeFolderOverride(const QString &path);
void setDataFolderOverride(const QString &path);
void setStateFolderOverride(const QString &path);
void setTemporaryFolderOverride(const QString &path);

// What a removal of temporary items did.
struct TemporaryRemoval
{
    qint64 removed = 0;  // entries removed (files, links and folders)
    qint64 kept = 0;     // entries that could not be removed, or lay beyond the bounds
};

// Removes the folder tree at `path` without following a link anywhere: a
// link is removed as a link, never what it names; nothing on another file
// system is entered. At most `maxEntries` entries, `maxDepth` levels deep.
TemporaryRemoval removeTreeWithoutFollowingLinks(const QString &path, qint64 maxEntries = 10'000'000,
                                                 int maxDepth = 256);

// Removes what earlier runs left in temporaryFolder(): only the entries named
// as this program names its temporary items (backup folders, unpacked
// archives, copies of phone files...), each as removeTreeWithoutFollowingLinks
// does. A running wizard's items carry the same names: call it only while
// the single-instance lock is held. Nothing is removed unless every folder of
// ours on the way is a real folder of this user; none is made.
TemporaryRemoval removeLeftoversOfEarlierRuns();
// Whether `name` is one this program gives items in temporaryFolder().
bool isOwnTemporaryName(const QString &name);

// Creates `path` (and parents) when missing and makes sure that it is a real
// folder owned by this user with mode 0700. Returns false when it is unsafe.
bool ensurePrivateFolder(const QString &path, QString *error = nullptr);

// Opens base/steps[0]/steps[1]/... by descriptor. `base` is the person's (a
// cache folder may well be a link to another disk) and is taken as it is;
// each step is a folder of ours, refused when it is a link, not a folder or
// another user's. With `make`, `base` and missing steps are made and every
// step is given mode 0700. Answers the last step's descriptor (close-on-exec;
// the caller closes it), or -1 with `error` set.
int openOwnFolder(const QString &base, const QStringList &steps, bool make, QString *error = nullptr);
// openOwnFolder() of the folder `path`: its parent taken as it is, the
// folder itself ours.
int openOwnFolder(const QString &path, bool make, QString *error = nullptr);
// openOwnFolder() of `path` and then of each of `below` in it, for folders
// the person sees and uses (the new phone's): `path` and each of `below` are
// folders of ours, its parent is taken as it is. A missing one is made as the
// person's own folders are (mode 0777 less the umask); an existing one keeps
// the mode the person gave it.
int openVisibleFolder(const QString &path, const QStringList &below, QString *error = nullptr);
// The one way into the data folder, for everything the program keeps there
// (copy records, device lists, the library host's files, pictures, volume
// identifiers): openOwnFolder() of dataFolder() and then of each of `below`
// in it. The folder the data folder lies in (~/.local/share, the person's)
// is taken as it is; the data folder and every folder below it are ours: a
// link or another user's folder in their place is refused, never read or
// written through. With `make` (the first form), missing ones are made and
// every one is kept private.
int openDataFolder(const QStringList &below, QString *error = nullptr);
int openDataFolder(const QStringList &below, bool make, QString *error = nullptr);
// The file `name` of the data folder's folder `below` (none: the data folder
// itself), opened for reading by that folder's descriptor: only a plain file
// of this user's; nothing is made. Its descriptor (close-on-exec; the caller
// closes it) and in `st` its status, or -1, with `error` set and the errno
// value in `code` (ENOENT: there is none; EPERM: something not ours is in
// the way).
int openDataFile(const QStringList &below, const QString &name, struct stat *st, QString *error = nullptr,
                 int *code = nullptr);
// Reads from `fd` into `bytes` until it holds `size` bytes or the file ends
// (a read that is cut short by a signal goes on); 0, or the errno value of a
// read that failed.
int readUpTo(int fd, qint64 size, QByteArray *bytes);
// openDataFile() of it, read whole when it holds at most `most` bytes.
std::optional<QByteArray> readDataFile(const QStringList &below, const QString &name, qint64 most,
                                       QString *error = nullptr, int *code = nullptr);

// Writes the file `name` into the open folder `folder` (named `folderPath` in
// messages) without ever writing through a link: a temporary file is created
// there exclusively, filled by `fill` (false, with errno set, when it could
// not), and renamed onto `name` by the same descriptor. Only nothing or a
// plain file of this user's at `name` is replaced; anything else there (a
// link, a folder, another user's file) stays as it is, and so does what it
// points to. The new file keeps the mode of the one it replaces, else 0666
// less the umask. False, with `error` set and nothing changed, otherwise.
bool replaceFileIn(int folder, const QString &folderPath, const QString &name, const std::function<bool(int fd)> &fill,
                   QString *error = nullptr);
bool replaceFileIn(int folder, const QString &folderPath, const QString &name, const QByteArray &contents,
                   QString *error = nullptr);

// Calls `each` with the name of every entry of the open folder `folder`
// (which stays open, its position untouched) but "." and "..", at most
// `most` entries looked at; false when it could not be listed.
bool forEachEntryIn(int folder, const std::function<void(const char *name)> &each, qint64 most = 10'000'000);

}  // namespace platform
