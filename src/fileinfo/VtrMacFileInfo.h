#pragma once

#include "fileinfo/VtrFileInfo.h"
#include "fileinfo/VtrPathFileInfo.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVariant>
#include <QVariantMap>

#include <memory>
#include <optional>
#include <sys/stat.h>
#include <utility>

class QMimeData;

// A failure answered by a volume test (the platform's error object): a domain,
// a code and a text for the log. Domain "solvennawindowsphone" carries the
// application's own codes; "posix" carries an errno.
struct VtrVolumeError
{
    QString domain;
    int code = 0;
    QString description;
};

namespace vtr::localfs {
struct FolderState;
}

// The local file info: files and folders on this computer's disks and on every
// mounted volume, a phone's storage mounted as a disk included. Nearly every
// part of the system obtains a local item through fileInfoWithPath() and walks
// on with find() and createFolder().
//
// Linux notes:
// - Symbolic links play the part of aliases; nothing else is an alias here.
// - The object keeps its path only: an item moved by another program is not
//   followed. Two objects are the same item when their (device, inode) agree.
// - Kind, attributes (stat of the item, through a symbolic link when it
//   resolves) and identity are cached until refresh(); every change made
//   through the object refreshes it.
// - Creation dates, locks, hidden extensions and type/creator codes do not
//   exist here: they answer their empty values and setting them does nothing.
// - Listings are sorted (VtrBaseFileInfo::fileNameLessThan). Name look-ups
//   fall back to an existing name that differs only in letter case.
// - Writes never destroy old contents before the new ones are complete: a file
//   is replaced by renaming a finished temporary file over it.
// - A file info is used by one thread at a time; the class-wide state (the
//   mounted device-volume list, the volume identifier store, the mount table)
//   is guarded by locks and may be used from any thread.
class VtrMacFileInfo : public VtrPathBasedFileInfo
{
public:
    using Ptr = std::shared_ptr<VtrMacFileInfo>;

    // ---- creation ---------------------------------------------------------------

    // An object for no item (never exists).
    VtrMacFileInfo();
    // `path` with a leading "~" expanded and redundant separators, "." and
    // ".." removed; the item need not exist. With `resolveAliases` the item
    // itself is resolved when it is a symbolic link.
    explicit VtrMacFileInfo(const QString &path, bool resolveAliases = false);
    ~VtrMacFileInfo() override;

    static Ptr fileInfoWithPath(const QString &path);
    // The path the reference names (a reference that cannot name a path gives
    // an object for no item).
    static Ptr fileInfoWithFileRef(const VtrFileRef &ref);
    // A file URL (anything else gives an object for no item).
    static Ptr fileInfoWithURL(const QUrl &url);
    // A second object for the same item (nothing happens on disk).
    static Ptr fileInfoWithFileInfo(VtrMacFileInfo &other) { return other.copy(); }
    static Ptr fileInfoResolveAliasesWithFileRef(const VtrFileRef &ref);
    static Ptr fileInfoResolveAliasesWithURL(const QUrl &url);
    // Resolves links anywhere in the path, level by level through find();
    // nullptr as soon as one level does not exist, or for an empty path.
    static Ptr fileInfoResolveAliasesWithPath(const QString &path);
    // Creates every missing folder of the path; nullptr when a file is in the
    // way or a level cannot be made.
    static Ptr fileInfoCreateFolderWithFullPath(const QString &path);
    // Creates the parent folders and then an empty file; the answer need not
    // exist when creation failed (test exists()). nullptr when the parents
    // could not be made.
    static Ptr fileInfoCreateFileWithFullPath(const QString &path);
    static VtrFileInfoList fileInfoArrayFromPathsArray(const QStringList &paths);
    // The local files that a drag or the clipboard offers; empty for none.
    static VtrFileInfoList fileInfoArrayFromPasteboard(const QMimeData *pasteboard);

    // A new object for the same item with the same cached kind and attributes.
    Ptr copy();

    // ---- conversions ------------------------------------------------------------

    static QUrl urlFromPath(const QString &path);           // empty URL for a null path
    static QString pathFromURL(const QUrl &url);            // null unless a file URL
    static VtrFileRef fileRefFromPath(const QString &path); // invalid when missing
    static VtrFileRef fileRefFromURL(const QUrl &url);
    static QString pathFromFileRef(const VtrFileRef &ref); // null for an invalid reference
    QUrl URL();
    // The reference of the item: 0 and *out filled; -50 for no path, -1 when
    // the item does not exist. `out` may be null.
    int fileRef(VtrFileRef *out);
    VtrFileRef fileRef();

    // "/" replaced by "_" (and NUL, which no name may hold); "." and ".."
    // become "_" and "__".
    static QString makeNameOSCompliant(const QString &name);

    // ---- identity, kind and attributes ------------------------------------------

    QString archiveClassName() const override;
    VtrFileInfoPtr parentFolder() override; // nullptr for "/" and for no item
    QString name() override;
    QString extension() override;
    QString humanFriendlyName() override;
    QString humanFriendlyPath() override; // the home folder shown as "~"
    QString kindString() override;        // the MIME type's description
    bool isEqualTo(const VtrFileInfoPtr &other) override;

    bool exists() override;
    bool isFile() override;
    bool isFolder() override;
    bool isAlias();
    bool visible() override; // false for names beginning with "."
    bool hasDRM() override;  // cached answer of VtrQTUtils::isProtectedFile
    QVariantMap metadata() override;
    void setMetadata(const QVariantMap &metadata) override;
    // A few attributes by their platform keys: "NSFileSize" (qint64),
    // "NSFileModificationDate" (QDateTime UTC), "NSFileType"
    // ("NSFileTypeRegular", "NSFileTypeDirectory", "NSFileTypeSymbolicLink",
    // "NSFileTypeUnknown"), "NSFilePosixPermissions" (int),
    // "NSFileReferenceCount", "NSFileSystemNumber", "NSFileSystemFileNumber",
    // "NSFileOwnerAccountID", "NSFileGroupOwnerAccountID" (qint64). An
    // invalid QVariant for a missing item or another key.
    QVariant attribute(const QString &key);
    static constexpr quint32 kUnknownCode = VtrFileInfo::kUnknownCode;
    quint32 creatorCode() { return kUnknownCode; }
    quint32 typeCode() { return kUnknownCode; }
    QString typeCodeString() { return QStringLiteral(""); }

    QDateTime modificationDate() override;
    void setModificationDate(const QDateTime &date) override;
    bool supportsCreationDate() override; // false: Linux cannot set one

    qint64 size() override; // a volume: its capacity; a file: its length; a folder: its tree
    qint64 resolvedSize() override;
    int maxPathLength() override;         // PATH_MAX - 1
    qint64 preferredChunkSize() override; // 1 MiB
    void refresh() override;
    QString makeValidFilename(const QString &name, bool encodeNonASCII) override;
    QVariantMap savedInfo() override; // adds "memoryType"

    // ---- links ------------------------------------------------------------------

    // Makes the object stand for the link's target (for a link whose target is
    // gone: for no item). True when the object was a link.
    bool resolveAlias() override;
    VtrFileInfoPtr aliasTarget() override; // nullptr unless a link with a target
    VtrFileInfoPtr resolvedFileInfo() override;
    // The stored path with every link in it resolved; null when a level is missing.
    QString resolvedPath();

    // ---- children and listing ---------------------------------------------------

    using VtrBaseFileInfo::find;
    // The item of that name (or relative path) in this folder, or beside this
    // file; it need not exist. A missing level is matched against an existing
    // name that differs only in case. An item not found answers the first
    // question about its kind (exists, isFile, isFolder) from that look-up.
    VtrFileInfoPtr find(const QString &name) override;
    VtrFileInfoList findDeep(const QString &name) override;
    VtrFileInfoPtr findFirstDeep(const QString &name) override;
    // As the root's, without listing the folder for each name: find()
    // already answers a name taken in another letter case.
    QString uniqueFilename(const QString &name) override;
    // Throws VtrException "folderContentsWithFilter" when an existing folder
    // cannot be read.
    void folderContentsWithFilterWithArray(VtrBaseFileInfoFilter *filter, VtrFileInfoList &array, bool *stop,
                                           const QString &rootNodePath) override;
    // The standard folder of a domain and type (VtrFileInfo::findFolderPath).
    static Ptr findFolder(qint16 domain, quint32 folderType, bool createIfNotExist);
    static QString findFolderPath(qint16 domain, quint32 folderType, bool createIfNotExist);

    // ---- creating and changing ------------------------------------------------------

    using VtrBaseFileInfo::createFile;
    // `name` must be one name (no "/", NUL, "." or ".."): nullptr otherwise.
    // An existing file of that name is overwritten (through a temporary file)
    // unless `ensureUniqueName`; an existing folder gives nullptr. Attributes
    // understood: "NSFilePosixPermissions" (int), "NSFileModificationDate".
    VtrFileInfoPtr createFile(const QString &name, const QByteArray &contents, const QVariantMap &attributes,
                              bool ensureUniqueName, FileInfoProgress *progress, void *userData) override;
    // One name or a relative or absolute path of folders; creates each missing
    // level; nullptr when a file is in the way, a level cannot be made (logged)
    // or a component is "..".
    VtrFileInfoPtr createFolder(const QString &name) override;
    VtrFileInfoPtr createUniqueFolder(const QString &name) override;
    // Renames in place; never replaces another item; nothing for an invalid
    // name or a missing item.
    void setName(const QString &name) override;
    void setNameKeepingExtension(const QString &name) override;
    // Moves the item onto `destination`'s path, replacing a file there; across
    // file systems by copy and removal. 0, or -1 (the item stays where it was).
    FileInfoCopyStatus moveTo(const VtrFileInfoPtr &destination) override;
    // renameat2(RENAME_NOREPLACE): -212 when an item is at the destination.
    FileInfoCopyStatus moveToFreeName(const VtrFileInfoPtr &destination) override;
    bool remove() override;
    bool removeContents() override;
    VtrFileInfoPtr tempFolder() override; // classTempFolder()

    // ---- contents ----------------------------------------------------------------------

    QByteArray fileContentsWithProgress(FileInfoProgress *progress, void *userData) override;
    // Replaces the contents through a temporary file; false (old contents
    // kept) when writing fails or a progress callback stops it.
    bool setFileContentsWithProgress(const QByteArray &data, FileInfoProgress *progress, void *userData) override;
    VtrFileInfoHandlePtr openFileForReading() override;
    VtrFileInfoHandlePtr openFileForWriting() override; // the file must exist; truncated
    void closeFile(VtrFileInfoHandlePtr handle) override;
    QByteArray fileContentsWithRange(const VtrFileRange &range, VtrFileInfoHandle *handle) override;
    // -1 without a write handle of this kind, -50 for a negative location,
    // -207 when the write fails; 0.
    FileInfoCopyStatus setFileContentsWithRange(const QByteArray &data, const VtrFileRange &range,
                                                VtrFileInfoHandle *handle) override;
    // Between two handles of this kind: copy_file_range(2), so the bytes stay
    // in the kernel (or are shared, where the file system can). Holes of a
    // sparse source stay holes. -220 when either handle is of another kind,
    // when the kernel refuses (another file system: the handle then stops
    // trying) or when nothing could be copied; the caller then reads and writes.
    FileInfoCopyStatus copyRangeToFile(const VtrFileRange &range, VtrFileInfoHandle *readHandle,
                                       VtrBaseFileInfo *destination, VtrFileInfoHandle *writeHandle,
                                       qint64 *copied) override;

    // ---- copying -----------------------------------------------------------------------

    // To another local item: a copy of this file or folder (with everything in
    // it) named `name` in the destination folder (or beside a destination
    // file); an existing item there makes it fail (-1). Other kinds: the
    // inherited whole-contents copy.
    FileInfoCopyStatus copyToWithName(const VtrFileInfoPtr &destination, const QString &name,
                                      VtrFileInfoPtr *outNewItem) override;
    // Copies this file onto `destination` (a file, existing or not; missing
    // folders are created). Throws VtrException "copyToFile" or
    // "File copy canceled"; the destination keeps its old contents then.
    void copyToFile(const VtrFileInfoPtr &destination, FileInfoProgress *progress, void *userData);

    // ---- volumes (VtrMacFileInfoVolumes.cpp) ----------------------------------------------

    // The root folder of the item's volume: the deepest mount point, device
    // volume root or listed device volume that holds the path (by path, so it
    // also answers for missing items); "/" otherwise.
    VtrFileInfoPtr volume() override;
    bool isVolume() override;
    // Free bytes for this user (statvfs f_bavail * f_frsize) of the volume of
    // the nearest existing item at or above this one; 0 when there is none.
    qint64 freeSpaceOnVolume() override;
    // The volume's identifier: its marker in "Migration Info/filesystem", else
    // the one kept in "Volume uuids.plist" under the volume's name (made and
    // stored on first use).
    QString uuid() override;
    // The file system type from the mount table ("ext4", "vfat"); null when unknown.
    QString fileSystemType();
    // True unless the file system at `path` reports itself writable.
    static bool readOnlyVolumeAtPath(const QString &path);
    // Writes a test file to the folder and removes it again: nullopt when both
    // worked. Domain "solvennawindowsphone" code -20: an old test file could
    // not be removed; -21: the test file could not be written.
    static std::optional<VtrVolumeError> testForBadVolumeAtPath(const QString &folderPath);
    // USB vendor and product numbers of the device behind the volume at
    // `volumePath` (udev parents of its block device). Outputs are 0 when
    // unknown; true when at least one was found.
    static bool vendorProductIDForVolume(const QString &volumePath, quint16 *vendorID, quint16 *productID);
    // Removes what a Mac leaves on a device volume (".Trashes", "Desktop DB",
    // "Desktop DF", ".com.apple.timemachine.supported", ".Spotlight-V100",
    // ".DS_Store" and "._*" items). Only on device volumes: a path on any
    // other volume is left alone.
    static void removeMacGeneratedItemsAtPath(const QString &path);

    // Volume roots of phones and disks: the USB-backed mount points of the
    // mount table. Tests set their own list (std::nullopt restores).
    static QStringList deviceVolumeRoots();
    static void setDeviceVolumeRootsOverride(const std::optional<QStringList> &roots);

    bool isBlackberryInternalMemoryRoot();
    bool isBlackberryMemoryCardRoot();

    // The class-wide list of mounted device volumes (guarded by a lock).
    static void addMountedDeviceVolumePath(const QString &path); // no duplicates ignoring case
    static bool removeMountedDeviceVolumePath(const QString &path);
    static QStringList mountedDeviceVolumePaths();
    static void updateMountedDeviceVolumesWithPaths(const QStringList &paths);
    static bool isBlackberryInternalMemoryForPath(const QString &path);
    static bool isBlackberryMemoryForPath(const QString &) { return false; }
    static Ptr blackberryInternalMemoryRealRoot() { return nullptr; }
    static Ptr blackberryInternalMemory() { return nullptr; }
    static Ptr blackberryFirstCard() { return nullptr; }

    // ---- archives (zip, through libarchive) -----------------------------------------------

    // A zip archive of the item (entries begin with the item's own name), as
    // bytes; null when the item does not exist or cannot be archived.
    QByteArray zip() override;
    QByteArray ditto() override;
    // Unpacks this archive into a new folder in the temporary folder and
    // answers what it holds at its top level; entries that would land outside
    // the folder are skipped.
    VtrFileInfoList unzip() override;
    // Writes "<name>.zip" into `folder` (replacing an old one only when the
    // new one is complete) and answers its file info, existing or not.
    VtrFileInfoPtr zipToFolder(const VtrFileInfoPtr &folder) override;

    // ---- temporary and special folders ------------------------------------------------------

    // The application's private temporary folder (platform::temporaryFolder();
    // throws VtrException "TemporaryFolderException" when it is unsafe).
    static Ptr classTempFolder();
    // The per-user data folder that holds the application's folder
    // ($XDG_DATA_HOME), and the machine's shared one.
    static Ptr userAppSupportFolder();
    static Ptr globalAppSupportFolder();
    // Linux has no Library folders: the same folders as the two above.
    static Ptr userLibraryFolder();
    static Ptr globalLibraryFolder();

protected:
    // The kind as found on disk. Listings fill it from the directory entry.
    void presetKind(bool isFolder);
    // The status just read for this path (an lstat): fills the caches.
    void adoptStat(const struct stat &st);

private:
    FileInfoCopyStatus moveItem(const VtrFileInfoPtr &destination, bool replace);
    struct Kind
    {
        bool valid = false;
        bool isFolder = false;
        bool isAlias = false;
        bool badAlias = false;
        bool regular = false; // a regular file (through a link: its target)
    };

    // find() for one level; *missing (when given) is set when the lookup
    // found no item of that name in any letter case.
    Ptr findChild(const QString &name, bool *missing);
    void cacheKind();
    const struct stat *cachedStat(); // nullptr for a missing item
    void clearCaches();
    bool writeWholeFile(const QString &path, const QByteArray &data, FileInfoWriteProgress *progress, void *userData,
                        bool *stopped);

    Kind _kind;
    bool _statValid = false;
    bool _absentOnce = false; // set by findChild for an item it did not find
    int _createdFd = -1;      // the temporary copy file, open for writing since its creation
    // Its folder just after its creation: the rename into place follows soon.
    std::unique_ptr<vtr::localfs::FolderState> _folderAfterCreate;
    // Its device and inode, made by createFile(): only that file is moved into place.
    std::optional<std::pair<dev_t, ino_t>> _createdAs;
    // A folder's state as its last letter-case look-up saw it.
    std::unique_ptr<vtr::localfs::FolderState> _folderSeen;
    bool _statMissing = false;
    struct stat _stat
    {
    };
    int _hasDRM = -1;
    bool _blackberryInfoValid = false;
    bool _isBlackberryInternalMemoryRoot = false;
    bool _isBlackberryMemoryCardRoot = false;
};
