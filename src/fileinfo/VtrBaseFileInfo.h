#pragma once

#include "fileinfo/FileInfoCopyStatus.h"

#include <QByteArray>
#include <QDateTime>
#include <QImage>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

// The one object for every file and folder the system touches, whatever store
// holds it (the computer's disks, a phone volume mounted as a disk, a phone's
// own storage reached through a device protocol).
//
// Conventions of the whole family:
// - File infos are shared objects (kept in arrays, caches, tree nodes): always
//   held through VtrFileInfoPtr and made with std::make_shared or a factory.
// - Making one never touches the store; `exists` tells whether the item is
//   there now. Many file infos may describe the same item.
// - An operation a kind cannot do never throws: it answers nullptr, a null
//   QString, false, 0, an empty list or map, -1 or -220 (see each operation).
//   "nil" is nullptr for file infos, a null QString for texts, a null
//   QByteArray for data, an invalid QDateTime for dates and an empty
//   QStringList / VtrFileInfoList / QVariantMap for arrays and dictionaries.
// - Dates are QDateTime in UTC. Sizes, offsets and free space are qint64.
// - A kind that overrides one form of an overloaded operation (find,
//   createFile, copyTo) adds `using VtrBaseFileInfo::<name>;` so the shorter
//   forms stay visible on the kind's own type.
// - No locks: a file info is used by one thread at a time. Only cancelCopy()
//   may come from another thread while a copy runs.

class VtrBaseFileInfo;
using VtrFileInfoPtr = std::shared_ptr<VtrBaseFileInfo>;
using VtrFileInfoList = QList<VtrFileInfoPtr>;

// Name of the temporary file a copy writes in the destination folder before
// it replaces the destination. Listings skip it (and may delete a leftover
// one, never the file of a copy still running: see FileInfoCopy.h).
inline constexpr const char *kVtrCopyTempFileName = "TessalineCopyFile.tmp";

// Names of the volume identifier file (the older name is migrated).
inline constexpr const char *kVtrUDIDFileName = ".TrundlexUDID.txt";
inline constexpr const char *kVtrOldUDIDFileName = ".TrundlexUDID";

// ---------------------------------------------------------------------------
// Filters: decide, item by item, what a listing returns.
// ---------------------------------------------------------------------------
class VtrBaseFileInfoFilter
{
public:
    virtual ~VtrBaseFileInfoFilter() = default;
    // Called once per child in listing order; true puts the child into the
    // result. Setting *stop ends the listing after this child (which is still
    // added when the answer is true). `stop` is never null in a listing.
    virtual bool includeItem(const VtrFileInfoPtr &item, bool *stop) = 0;
};
using VtrFileInfoFilterPtr = std::shared_ptr<VtrBaseFileInfoFilter>;

// ---------------------------------------------------------------------------
// Progress: an object may answer any of the three callbacks. A copy or read
// asks whether the object answers a callback (dynamic_cast to the interface)
// before it uses it; an object that does not answer it counts as absent.
// ---------------------------------------------------------------------------
class FileInfoProgress
{
public:
    virtual ~FileInfoProgress() = default;
};

class FileInfoCopyProgress : public virtual FileInfoProgress
{
public:
    // Called after each chunk on the copying thread; `destination` is the
    // temporary file being written. True asks for the copy to be cancelled.
    virtual bool copyingFile(const VtrFileInfoPtr &source, const VtrFileInfoPtr &destination, float percentComplete,
                             void *userData) = 0;
};

class FileInfoReadProgress : public virtual FileInfoProgress
{
public:
    // After each chunk of a whole-file read; true stops the read.
    virtual bool readingContentsForFile(const VtrFileInfoPtr &file, const QByteArray &dataSoFar, qint64 numBytesRead,
                                        qint64 totalBytes, void *userData) = 0;
};

class FileInfoWriteProgress : public virtual FileInfoProgress
{
public:
    // After each chunk of a whole-file write; true stops the write.
    virtual bool writingContentsForFile(const VtrFileInfoPtr &file, qint64 numBytesWritten, qint64 totalBytes,
                                        void *userData) = 0;
};

inline FileInfoCopyProgress *asCopyProgress(FileInfoProgress *p)
{
    return dynamic_cast<FileInfoCopyProgress *>(p);
}
inline FileInfoReadProgress *asReadProgress(FileInfoProgress *p)
{
    return dynamic_cast<FileInfoReadProgress *>(p);
}
inline FileInfoWriteProgress *asWriteProgress(FileInfoProgress *p)
{
    return dynamic_cast<FileInfoWriteProgress *>(p);
}

// ---------------------------------------------------------------------------
// Ranged access: an open file of some kind, owned by the caller from
// openFileForReading/openFileForWriting until it hands it to closeFile().
// Destroying a handle without closeFile() must also release it.
// ---------------------------------------------------------------------------
class VtrFileInfoHandle
{
public:
    virtual ~VtrFileInfoHandle() = default;
};
using VtrFileInfoHandlePtr = std::unique_ptr<VtrFileInfoHandle>;

// 64-bit ranges: files of 4 GiB and more are ordinary (videos).
struct VtrFileRange
{
    qint64 location = 0;
    qint64 length = 0;
};

// ---------------------------------------------------------------------------
// The abstract root of every file-info kind.
// ---------------------------------------------------------------------------
class VtrBaseFileInfo : public std::enable_shared_from_this<VtrBaseFileInfo>
{
public:
    VtrBaseFileInfo();
    virtual ~VtrBaseFileInfo();
    VtrBaseFileInfo(const VtrBaseFileInfo &) = delete;
    VtrBaseFileInfo &operator=(const VtrBaseFileInfo &) = delete;

    // ---- creation and archiving -------------------------------------------

    // A new root object, which never exists.
    static VtrFileInfoPtr fileInfo();
    // The root cannot stand for a path: nullptr. Every kind has its own.
    static VtrFileInfoPtr fileInfoWithPath(const QString &path);

    // Archive form. Keys of the root: "_creationDate", "_modificationDate"
    // (QDateTime, only when valid), "_isFile" (bool), "_fileSize" (qint64,
    // files only). Kinds add their keys and call the root's part.
    virtual QString archiveClassName() const;
    virtual void encodeWithCoder(QVariantMap &coder);
    // Loads an archive into a freshly made object (the "old" values).
    virtual void initWithCoder(const QVariantMap &coder);
    // The archive with its class name, as bytes.
    QByteArray archiveToData();
    // A new object of the archived kind; nullptr for unreadable data or a kind
    // that is not registered.
    static VtrFileInfoPtr unarchiveFromData(const QByteArray &data);
    // Kinds register a factory of empty objects under archiveClassName().
    // The root and the path kinds of this layer are registered already.
    using ArchiveFactory = std::function<VtrFileInfoPtr()>;
    static void registerArchiveClass(const QString &className, ArchiveFactory factory);

    // ---- identity and path --------------------------------------------------

    virtual QString path();                                      // default ""
    virtual QStringList pathComponents();                        // default empty
    virtual QString standardPath();                              // path() ("/"-separated form of a kind)
    virtual QString name();                                      // last path component of path()
    virtual QString nameWithoutExtension();                      // name() without its extension
    virtual QString extension();                                 // extension of name(), "" when none
    virtual QString humanFriendlyName();                         // name()
    virtual QString humanFriendlyPath();                         // path()
    virtual void setName(const QString &name);                   // renames on the store; default nothing
    virtual void updateName(const QString &name);                // changes the record only; default nothing
    virtual void setNameKeepingExtension(const QString &name);   // default nothing
    virtual VtrFileInfoPtr parentFolder();                       // default nullptr
    virtual VtrFileInfoPtr volume();                             // root folder of the item's volume; default nullptr
    virtual bool isVolume();                                     // default false
    virtual QString uuid();                                      // identifier of the volume; default null
    virtual QString volumeRelativeStandardPath();                // default null
    virtual QString relativePathTo(const VtrFileInfoPtr &other); // default null
    virtual QStringList relativePathComponentsTo(const VtrFileInfoPtr &other); // default empty (nil)
    virtual bool contains(const VtrFileInfoPtr &other);                        // default false
    virtual bool isEqualTo(const VtrFileInfoPtr &other);                       // default false
    virtual int maxPathLength();                                               // default 0 (no limit known)
    virtual int numBytesNeededForPath();                                       // 2 bytes per UTF-16 unit of path()
    // encodeNonASCII: the 7-bit form that spells non-ASCII characters as code
    // points; otherwise the plain Windows-valid form.
    virtual QString makeValidFilename(const QString &name, bool encodeNonASCII);
    virtual QString description();

    // ---- kind and attributes ----------------------------------------------

    virtual bool exists();                     // default false
    virtual bool isFile();                     // default false
    virtual bool isFolder();                   // default false
    virtual bool isBundle();                   // default false
    virtual bool isLocked();                   // default false
    virtual bool hasDRM();                     // default false
    virtual bool visible();                    // default true
    virtual void setLocked(bool locked);       // default nothing
    virtual void setHideExtension(bool hide);  // default nothing
    virtual VtrFileInfoPtr aliasTarget();      // default nullptr
    virtual bool resolveAlias();               // default false
    virtual VtrFileInfoPtr resolvedFileInfo(); // default the receiver itself
    virtual QString kindString();              // default the localized "unknown"
    // A folder or file image (theme icon for the extension when a GUI runs, a
    // built-in image otherwise). Built-in images are made once per process.
    virtual QImage icon();
    QImage smallIcon();                                    // icon() scaled to 16 x 16 (a copy)
    virtual QVariantMap metadata();                        // default empty (nil)
    virtual void setMetadata(const QVariantMap &metadata); // default nothing
    virtual void refresh();                                // forget cached attributes; default nothing

    // ---- dates and time zones -----------------------------------------------

    virtual QDateTime creationDate();                        // default invalid (nil)
    virtual QDateTime modificationDate();                    // default invalid (nil)
    virtual void setCreationDate(const QDateTime &date);     // default nothing
    virtual void setModificationDate(const QDateTime &date); // default nothing
    virtual bool supportsCreationDate();                     // default true
    virtual bool supportsModificationDate();                 // default true
    virtual bool supportsTimezones();                        // default true
    QDateTime oldCreationDate() const { return _oldCreationDate; }
    QDateTime oldModificationDate() const { return _oldModificationDate; }
    std::optional<qint64> oldFileSize() const { return _oldFileSize; }
    void setOldCreationDate(const QDateTime &date) { _oldCreationDate = date; }
    void setOldModificationDate(const QDateTime &date) { _oldModificationDate = date; }
    void setOldFileSize(qint64 size) { _oldFileSize = size; }

    // ---- size and free space ------------------------------------------------

    // A folder: the sum over its whole tree (each folder counted once, even
    // when links lead into it again); anything else 0.
    virtual qint64 size();
    virtual qint64 resolvedSize();      // size()
    virtual qint64 freeSpaceOnVolume(); // default 0
    // Bytes a copy into this folder must leave free; default 0.
    virtual qint64 _freeSpaceToKeepOnVolume();
    virtual qint64 preferredChunkSize(); // default 8192

    // ---- children, finding and listings ---------------------------------------

    // The child of that name (or the sibling, for a file), existing or not.
    // Kinds fall back to an existing child whose name matches ignoring case
    // when the exact name is missing. Default: fileInfo(), which never exists.
    virtual VtrFileInfoPtr find(const QString &name);
    // The same, the result's alias resolved when asked.
    virtual VtrFileInfoPtr find(const QString &name, bool resolveAliases);
    virtual VtrFileInfoList findDeep(const QString &name);     // default empty
    virtual VtrFileInfoPtr findFirstDeep(const QString &name); // default nullptr
    // Immediate child folders named `name`, ignoring case, in listing order.
    VtrFileInfoList findAllFoldersWithName(const QString &name);
    // The first existing child whose name equals `name` ignoring case; nullptr
    // when none or when the receiver is not a folder. Kinds use it for the
    // case-insensitive fallback of find().
    VtrFileInfoPtr findChildIgnoringCase(const QString &name);
    VtrFileInfoPtr findWithWindowsName(const QString &name);
    // The child whose name, or a Windows-valid form of it, equals `name`
    // ignoring case; an exact name match wins. nullptr for a non-folder.
    VtrFileInfoPtr findWithWindowsName(const QString &name, bool useASCIIOnly);
    // A name not yet taken in this folder (or beside this file); a name
    // matching an existing one ignoring case counts as taken. "x.txt" becomes
    // "x-1.txt", "x-2.txt"...; null when kMaxUniqueNameAttempts are all taken.
    virtual QString uniqueFilename(const QString &name);
    static constexpr int kMaxUniqueNameAttempts = 10000;

    VtrFileInfoList folderContents();
    VtrFileInfoList folderContentsWithFilter(VtrBaseFileInfoFilter *filter);
    VtrFileInfoList folderContentsWithFilter(VtrBaseFileInfoFilter *filter, const QString &rootPath);
    // Every accepted item below this folder at any depth; a folder comes after
    // its own contents. Dot-named folders are not entered without hidden items.
    VtrFileInfoList folderContentsDeepWithFilter(VtrBaseFileInfoFilter *filter);
    VtrFileInfoList folderContentsDeepWithFilter(VtrBaseFileInfoFilter *filter, bool withHiddenItems);
    // The one listing hook a kind implements (default nothing): append each
    // child the filter accepts (all for a null filter) to `array`, in
    // fileNameLessThan order; after a child for which the filter set its stop
    // flag, set *stop (when given) and end. Leave out a child folder that is
    // an alias whose resolved path plus "/" begins with `rootNodePath`. Skip
    // the temporary copy file and never remove it: the folder may be a
    // phone's or a card's (a copy into a folder clears its own leftover,
    // FileInfoCopy.h). The hook must not call find(), whose case-insensitive
    // fallback lists the folder.
    virtual void folderContentsWithFilterWithArray(VtrBaseFileInfoFilter *filter, VtrFileInfoList &array, bool *stop,
                                                   const QString &rootNodePath);
    // Listing order of every kind: case-insensitive, then bytewise.
    static bool fileNameLessThan(const QString &a, const QString &b);
    static void sortFileNames(QStringList &names);

    // ---- creating and removing ----------------------------------------------

    VtrFileInfoPtr createFile(const QString &name, const QByteArray &contents, const QVariantMap &attributes);
    VtrFileInfoPtr createFile(const QString &name, const QByteArray &contents, const QVariantMap &attributes,
                              bool ensureUniqueName);
    // Creates a file in this folder (the name first made unique when asked);
    // default nullptr.
    virtual VtrFileInfoPtr createFile(const QString &name, const QByteArray &contents, const QVariantMap &attributes,
                                      bool ensureUniqueName, FileInfoProgress *progress, void *userData);
    virtual VtrFileInfoPtr createFolder(const QString &name);       // default nullptr
    virtual VtrFileInfoPtr createUniqueFolder(const QString &name); // default nullptr
    // createFolder() level by level from this folder (or a file's parent);
    // nullptr as soon as a level does not exist afterwards.
    VtrFileInfoPtr createFolderWithPathComponents(const QStringList &components);
    virtual bool remove(); // default false
    // A folder: remove() on every child, all tried; true when all succeeded.
    virtual bool removeContents();
    // Removes each immediate child folder without visible items (one level).
    virtual void removeEmptySubfolders();
    virtual VtrFileInfoPtr tempFolder(); // default nullptr

    // ---- contents -----------------------------------------------------------

    QByteArray fileContents();
    virtual QByteArray fileContentsWithProgress(FileInfoProgress *progress, void *userData); // default empty data
    bool setFileContents(const QByteArray &data);
    virtual bool setFileContentsWithProgress(const QByteArray &data, FileInfoProgress *progress,
                                             void *userData); // default false
    virtual VtrFileInfoHandlePtr openFileForReading();        // default nullptr
    virtual VtrFileInfoHandlePtr openFileForWriting();        // default nullptr (truncates the file)
    virtual void closeFile(VtrFileInfoHandlePtr handle);      // default: the handle is destroyed
    // The bytes of `range` (fewer at the end of the file); null data when the
    // read fails. Default null.
    virtual QByteArray fileContentsWithRange(const VtrFileRange &range, VtrFileInfoHandle *handle);
    // Writes `data` at range.location; a status. Default -220.
    virtual FileInfoCopyStatus setFileContentsWithRange(const QByteArray &data, const VtrFileRange &range,
                                                        VtrFileInfoHandle *handle);
    // Copies `range` of this file (open through `readHandle`) to the same
    // offset of `destination` (open through `writeHandle`) without handing
    // the bytes to the caller, where the two kinds can do that between
    // themselves. 0 with *copied set to the bytes copied (fewer at the end of
    // the file, 0 when the file ends before the range); another status when
    // the copy failed; -220 when this pair cannot (nothing was copied: the
    // caller reads and writes the range itself). Default -220.
    virtual FileInfoCopyStatus copyRangeToFile(const VtrFileRange &range, VtrFileInfoHandle *readHandle,
                                               VtrBaseFileInfo *destination, VtrFileInfoHandle *writeHandle,
                                               qint64 *copied);

    // ---- copying and moving -------------------------------------------------

    FileInfoCopyStatus copyTo(const VtrFileInfoPtr &destination);
    FileInfoCopyStatus copyTo(const VtrFileInfoPtr &destination, VtrFileInfoPtr *outNewItem);
    // The generic chunked copy (FileInfoCopy.cpp). `destination` is a folder
    // (the copy goes inside under this file's name, made unique when asked),
    // or a file path (an existing file is replaced, but only once the copy is
    // complete). *outNewItem (when given) receives the new item on success and
    // nullptr on failure.
    virtual FileInfoCopyStatus copyTo(const VtrFileInfoPtr &destination, bool ensureUniqueName,
                                      FileInfoProgress *progress, void *userData, VtrFileInfoPtr *outNewItem);
    // Whole-contents copy under `name` into a folder (or beside a file).
    virtual FileInfoCopyStatus copyToWithName(const VtrFileInfoPtr &destination, const QString &name,
                                              VtrFileInfoPtr *outNewItem);
    // Copy of `source` into this item, done by the device behind it; default -1.
    virtual FileInfoCopyStatus copyFromFile(const VtrFileInfoPtr &source, bool ensureUniqueName,
                                            FileInfoProgress *progress, void *userData, VtrFileInfoPtr *outNewItem);
    // Moves this item onto `destination` (replacing an existing file there);
    // default -220.
    virtual FileInfoCopyStatus moveTo(const VtrFileInfoPtr &destination);
    // The same, but only onto a name that is free: -212 when an item is
    // there. Default: moveTo() after a look (an item arriving in between is
    // replaced); kinds whose store can refuse atomically do so.
    virtual FileInfoCopyStatus moveToFreeName(const VtrFileInfoPtr &destination);
    // Thread-safe; read before each chunk of a running copy.
    void cancelCopy() { _cancelCopy.store(true); }
    bool isCopyCancelled() const { return _cancelCopy.load(); }
    void clearCancelCopy() { _cancelCopy.store(false); }
    bool deviceControlsCopy() const { return _deviceControlsCopy; }
    void setDeviceControlsCopy(bool controls) { _deviceControlsCopy = controls; }

    // ---- records, archives and identifiers ------------------------------------

    // "originalPath", "isFile", "volumeUUID" (when known), "volumeStandardPath",
    // "volumeRelativeStandardPath", "humanFriendlyPath"; kinds add "memoryType".
    // Keys whose value is unknown (no volume) are left out.
    virtual QVariantMap savedInfo();
    // Whether two saved records name the same place.
    static bool savedFileInfo(const QVariantMap &info, const QVariantMap &otherInfo);
    // "uuid", "path", "isFile", "fileSize", "modificationDateObject",
    // "modificationDateString", "supportsTimeZones".
    virtual QVariantMap syncCriteria();
    virtual QByteArray zip();                                         // default null
    virtual QByteArray ditto();                                       // default null
    virtual VtrFileInfoList unzip();                                  // default empty (nil)
    virtual VtrFileInfoPtr zipToFolder(const VtrFileInfoPtr &folder); // default nullptr
    QString UDID();
    // The identifier written in the volume's ".TrundlexUDID.txt" (made when
    // `create` and missing or empty); null when there is none.
    QString UDID(bool create);

protected:
    // The receiver as a shared pointer (a non-owning one for an object that
    // is not owned by a shared_ptr, so no operation ever throws bad_weak_ptr).
    VtrFileInfoPtr self();

    std::atomic<bool> _cancelCopy{false};
    bool _deviceControlsCopy = false;
    QDateTime _oldCreationDate;
    QDateTime _oldModificationDate;
    std::optional<qint64> _oldFileSize;
};
