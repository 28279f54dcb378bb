#pragma once

#include "fileinfo/FileInfoCopyStatus.h"

#include <QByteArray>
#include <QDateTime>
#include <QIcon>
#include <QImage>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVariantMap>

#include <memory>
#include <optional>

class QMimeData;

// A four-character code as the number the folder manager of the original
// system used for it (first character in the most significant byte).
constexpr quint32 vtrFileInfoTypeCode(const char (&code)[5])
{
    return (quint32(quint8(code[0])) << 24) | (quint32(quint8(code[1])) << 16) | (quint32(quint8(code[2])) << 8) |
           quint32(quint8(code[3]));
}
class VtrFileInfoFilter;

// What the file system says identifies one item: the item's absolute path
// together with its device and inode. An all-zero reference is "none".
struct VtrFileRef
{
    QString path;
    quint64 device = 0;
    quint64 inode = 0;

    bool isValid() const { return device != 0 || inode != 0; }
};

// The older, self-contained description of one file or folder on a local
// disk, named by its path. Media library code and the media classifier use
// it; it is independent of the VtrBaseFileInfo tree.
//
// Nothing is asked of the file system until a query needs it; the answers
// (existence, symbolic-link information, attributes) are then cached until
// refresh(). Queries are const but may fill the caches, and exists() may adopt
// the path with every symbolic link resolved when only that path can be
// reached. Objects are values: a copy duplicates the path and the caches.
//
// Symbolic links play the part of aliases: isAlias() is true for a link
// whose final target exists, and isFile()/isFolder() describe that target.
// Failures are never raised: queries answer false, an empty value or 0.
class VtrFileInfo
{
public:
    // Folder domains and types of findFolder(): the numbers of the original
    // system's folder manager, so stored settings keep their meaning.
    static constexpr qint16 kOnAppropriateDisk = -32767;
    static constexpr qint16 kSystemDomain = -32766;
    static constexpr qint16 kLocalDomain = -32764;
    static constexpr qint16 kUserDomain = -32763;

    static constexpr quint32 kDocumentsFolderType = vtrFileInfoTypeCode("docs");
    static constexpr quint32 kMusicDocumentsFolderType = 0xB5646F63; // a micro sign, then "doc"
    static constexpr quint32 kPictureDocumentsFolderType = vtrFileInfoTypeCode("pdoc");
    static constexpr quint32 kMovieDocumentsFolderType = vtrFileInfoTypeCode("mdoc");
    static constexpr quint32 kDesktopFolderType = vtrFileInfoTypeCode("desk");
    static constexpr quint32 kCurrentUserFolderType = vtrFileInfoTypeCode("cusr");
    static constexpr quint32 kApplicationsFolderType = vtrFileInfoTypeCode("apps");
    static constexpr quint32 kApplicationSupportFolderType = vtrFileInfoTypeCode("asup");
    static constexpr quint32 kDomainLibraryFolderType = vtrFileInfoTypeCode("dlib");
    static constexpr quint32 kPreferencesFolderType = vtrFileInfoTypeCode("pref");
    static constexpr quint32 kTemporaryFolderType = vtrFileInfoTypeCode("temp");

    // Answer of creatorCode()/typeCode() for an item without such codes
    // (every item on Linux): four question marks.
    static constexpr quint32 kUnknownCode = 0x3F3F3F3F;

    // ---- creation

    // An empty item: no path, never exists.
    VtrFileInfo() = default;
    // The item for `path` with a leading "~" expanded and ".", ".." and
    // doubled separators removed; symbolic links are kept unless
    // `resolveAliases`.
    explicit VtrFileInfo(const QString &path, bool resolveAliases = false);
    // The item for the reference's path; the reference is kept, so the item
    // exists (as long as the reference still names it).
    explicit VtrFileInfo(const VtrFileRef &ref, bool resolveAliases = false);
    // The item for a file URL (an empty item for any other URL).
    explicit VtrFileInfo(const QUrl &url, bool resolveAliases = false);

    static VtrFileInfo fileInfoWithPath(const QString &path) { return VtrFileInfo(path); }
    static VtrFileInfo fileInfoWithURL(const QUrl &url) { return VtrFileInfo(url); }
    static VtrFileInfo fileInfoWithFileRef(const VtrFileRef &ref) { return VtrFileInfo(ref); }
    static VtrFileInfo fileInfoResolveAliasesWithPath(const QString &path) { return VtrFileInfo(path, true); }
    static VtrFileInfo fileInfoResolveAliasesWithURL(const QUrl &url) { return VtrFileInfo(url, true); }
    static VtrFileInfo fileInfoResolveAliasesWithFileRef(const VtrFileRef &ref) { return VtrFileInfo(ref, true); }

    static QList<VtrFileInfo> fileInfoArrayFromPathsArray(const QStringList &paths);
    // Items for the local files a drag or the clipboard offers (its URLs);
    // empty when it offers none.
    static QList<VtrFileInfo> fileInfoArrayFromPasteboard(const QMimeData *pasteboard);

    // The standard folder of `folderType` in `domain` (XDG folders for the
    // user domain, the system's shared folders otherwise); created with its
    // parents when missing and `createIfNotExist`. Null / nullopt when the
    // type is unknown here or the folder is missing and not to be created.
    static QString findFolderPath(qint16 domain, quint32 folderType, bool createIfNotExist);
    static std::optional<VtrFileInfo> findFolder(qint16 domain, quint32 folderType, bool createIfNotExist);

    // $XDG_DATA_HOME (the user's application data), and the shared data
    // folder of the machine. The "Library" forms answer the same folders:
    // Linux has no separate per-user library folder.
    static std::optional<VtrFileInfo> globalAppSupportFolder();
    static std::optional<VtrFileInfo> userAppSupportFolder();
    static std::optional<VtrFileInfo> globalLibraryFolder();
    static std::optional<VtrFileInfo> userLibraryFolder();
    // The application's private temporary folder (platform::temporaryFolder();
    // throws VtrException when that folder is unsafe).
    static VtrFileInfo tempFolder();

    // Asks the user for a folder (on the main thread, waiting); nullopt unless
    // the user confirmed one.
    static std::optional<VtrFileInfo> chooseFolderWithPrompt(const QString &prompt, const QString &startFolderPath);
    static std::optional<VtrFileInfo> chooseFolderWithPrompt(const QString &prompt, const VtrFileInfo &startFolder);

    // ---- conversions

    // The path the reference names, or null when it no longer names that
    // item (or is none).
    static QString pathFromFileRef(const VtrFileRef &ref);
    // Null unless a file URL; a leading "/localhost" is removed.
    static QString pathFromURL(const QUrl &url);
    static QUrl urlFromPath(const QString &path);
    // An all-zero reference when nothing is at the path.
    static VtrFileRef fileRefFromPath(const QString &path);
    static VtrFileRef fileRefFromURL(const QUrl &url);
    // Every "/" replaced by "_".
    static QString makeNameOSCompliant(const QString &name);

    // ---- queries

    QString path() const { return m_path; }
    QString name() const;
    QString nameWithoutExtension() const;
    QString extension() const;
    VtrFileInfo parentFolder() const;
    QUrl URL() const;

    bool exists() const;
    bool isFile() const;
    bool isFolder() const;
    bool isAlias() const;
    std::optional<VtrFileInfo> aliasTarget() const;
    // Makes this item stand for the link's final target; false (and nothing
    // changed) when it is not a link to an existing item.
    bool resolveAlias();
    VtrFileInfo resolvedFileInfo() const;
    // The path with every symbolic link along it replaced by its target;
    // null when a component cannot be reached.
    QString resolvedPath() const;

    VtrFileRef fileRef() const { return fileRefWithError(nullptr); }
    // `error`: 0, -50 for an item without path, -1 when nothing is there.
    VtrFileRef fileRefWithError(int *error) const;

    // The attributes of the item itself (a symbolic link is not followed),
    // with the keys "NSFileType" ("NSFileTypeRegular",
    // "NSFileTypeDirectory", "NSFileTypeSymbolicLink", "NSFileTypeUnknown"),
    // "NSFileSize", "NSFileModificationDate", "NSFileCreationDate" (when the
    // file system records it), "NSFilePosixPermissions",
    // "NSFileReferenceCount", "NSFileOwnerAccountID",
    // "NSFileGroupOwnerAccountID", "NSFileSystemNumber",
    // "NSFileSystemFileNumber", "NSFileImmutable"; empty for a missing item.
    QVariantMap attributes() const;
    QVariant attribute(const QString &key) const;
    QDateTime creationDate() const;
    QDateTime modificationDate() const;
    // Size in bytes of the item itself (a folder is not summed, a symbolic
    // link is not followed); 0 when unknown.
    qint64 size() const;
    qint64 resolvedSize() const { return resolvedFileInfo().size(); }
    quint32 creatorCode() const { return kUnknownCode; }
    quint32 typeCode() const { return kUnknownCode; }
    // The quoted four-character type: "'????'" for an existing item, null
    // for a missing one.
    QString typeCodeString() const;
    // A description of the kind of file for display ("unknown" localised when
    // none is known).
    QString kindString() const;
    bool isLocked() const;
    // False for a name that begins with ".", otherwise true.
    bool visible() const;
    QIcon icon() const;
    // The file as an image, else its icon at 128 x 128; null for a missing item.
    QImage preview() const;
    // The bytes of an existing file; nullopt otherwise.
    std::optional<QByteArray> fileContents() const;
    // True when this item is a folder and `other` lies inside it (whole path
    // components compared).
    bool contains(const VtrFileInfo &other) const;

    // The child of that name (a sibling when this item is a file), whether or
    // not it exists. When no item has exactly that name but one differs only
    // in case, that one is answered (the original disks ignored case).
    VtrFileInfo find(const QString &name) const { return find(name, false); }
    VtrFileInfo find(const QString &name, bool resolveAliases) const;

    // Direct children, sorted by name (ignoring case, then bytewise); a
    // filter (not owned, may be null) chooses and may stop the listing.
    QList<VtrFileInfo> folderContents() const { return folderContentsWithFilter(nullptr); }
    QList<VtrFileInfo> folderContentsWithFilter(VtrFileInfoFilter *filter) const;
    // Every accepted item below this folder, at any depth, each once; an
    // item's descendants come before the item. A folder reached a second
    // time (a symbolic-link cycle) is not listed again.
    QList<VtrFileInfo> folderContentsDeepWithFilter(VtrFileInfoFilter *filter) const;
    // Every item below this folder named so (ignoring case), and the first.
    QList<VtrFileInfo> findDeep(const QString &name) const;
    std::optional<VtrFileInfo> findFirstDeep(const QString &name) const;
    // Appends the children, skipping a folder that `array` already holds
    // (compared by resolved path).
    void addFolderContentsToArray(QList<VtrFileInfo> &array) const;

    // ---- changes (files are written to a temporary file beside the
    // destination and renamed over it, so a failure leaves the old one)

    bool setFileContents(const QByteArray &contents);
    // Names must be single, valid file names (no "/", NUL, "." or "..");
    // `attributes` may hold "NSFilePosixPermissions" and
    // "NSFileModificationDate". nullopt on failure.
    std::optional<VtrFileInfo> createFile(const QString &name, const QByteArray &contents,
                                          const QVariantMap &attributes) const
    {
        return createFile(name, contents, attributes, false);
    }
    std::optional<VtrFileInfo> createFile(const QString &name, const QByteArray &contents,
                                          const QVariantMap &attributes, bool ensureUniqueName) const;
    // `name` may be a relative path of several components (none "." or "..").
    std::optional<VtrFileInfo> createFolder(const QString &name) const;
    // Copies this item (a folder with its contents) under its own name into
    // `destination` (its folder when it is a file). Never replaces an
    // existing item. 0, -50 when this item is missing, -1 on failure.
    FileInfoCopyStatus copyTo(const VtrFileInfo &destination) const { return copyTo(destination, nullptr); }
    FileInfoCopyStatus copyTo(const VtrFileInfo &destination, std::optional<VtrFileInfo> *outNewItem) const;
    // True when nothing is there afterwards (a symbolic link is removed, not
    // its target).
    bool remove();
    bool removeContents() const;
    bool setName(const QString &name);
    bool setNameKeepingExtension(const QString &name);
    // The file system's immutable flag (needs privileges on Linux).
    bool setLocked(bool locked);
    // Linux keeps no such flag: false.
    bool setHideExtension(bool hide);
    // Creation dates cannot be set on Linux: false.
    bool setCreationDate(const QDateTime &date);
    bool setModificationDate(const QDateTime &date);
    // `name`, or "name-N.ext" (N from 1) when that is taken in this folder.
    QString uniqueFilename(const QString &name) const;
    void refresh();

    // ---- identity and archiving

    // Same path; or paths that differ only in case and name the very same
    // item (same device and inode), as on a case-insensitive disk.
    bool isEqualToFileInfo(const VtrFileInfo &other) const;
    bool operator==(const VtrFileInfo &other) const { return isEqualToFileInfo(other); }
    // The path, or "VtrFileInfo has (null) path." for an empty item.
    QString description() const;
    // {"VtrFileInfo_path": path} (nothing for an empty item).
    QVariantMap encodeWithCoder() const;
    static VtrFileInfo initWithCoder(const QVariantMap &coder);

private:
    void cacheInfo() const;
    void accumulateFolderContents(VtrFileInfoFilter *filter, QList<VtrFileInfo> &array, bool *stop) const;

    friend class VtrGoDeepFilter;

    mutable QString m_path; // null for an empty item
    mutable bool m_folderAliasValid = false;
    mutable bool m_isFolder = false;
    mutable bool m_isAlias = false;
    mutable VtrFileRef m_aliasRef;
    mutable bool m_fileRefValid = false;
    mutable VtrFileRef m_fileRef;
    mutable std::optional<QVariantMap> m_attrs;
};

// Chooses the items of a listing. The base accepts every item and clears the
// stop flag; setting the flag ends the listing after the current item.
class VtrFileInfoFilter
{
public:
    virtual ~VtrFileInfoFilter() = default;
    virtual bool includeItem(const VtrFileInfo &item, bool *stopAccumulating);
};

// Refuses a symbolic link that leads to the root folder or into it, so that
// a walk from the root never enters its own tree again; accepts everything else.
class FilterNestedFolders : public VtrFileInfoFilter
{
public:
    // A leading "~" is expanded.
    explicit FilterNestedFolders(const QString &rootPath);
    bool includeItem(const VtrFileInfo &item, bool *stopAccumulating) override;

private:
    QString m_rootPath;
};

// A browsable tree over VtrFileInfo items; children are listed on first
// request. Nodes are shared: a parent made by parent() holds this node as its
// child, so nodes always live in a std::shared_ptr (parent() needs that).
class FileInfoNode : public std::enable_shared_from_this<FileInfoNode>
{
public:
    explicit FileInfoNode(const VtrFileInfo &info);
    // A node for `info` whose listing reuses `child` for the item it stands for.
    FileInfoNode(const VtrFileInfo &info, std::shared_ptr<FileInfoNode> child);

    static std::shared_ptr<FileInfoNode> fileInfoNodeWithFileInfo(const VtrFileInfo &info);
    static std::shared_ptr<FileInfoNode> fileInfoNode(const VtrFileInfo &info)
    {
        return fileInfoNodeWithFileInfo(info);
    }
    static std::shared_ptr<FileInfoNode> fileInfoNodeWithPath(const QString &path);

    // The symbolic link's target for a link, else the item itself.
    VtrFileInfo fileInfo() const;
    VtrFileInfo unaliasedFileInfo() const { return m_info; }
    const QList<std::shared_ptr<FileInfoNode>> &children();
    int numChildren();
    // A new node for the parent folder, holding this node as one of its
    // children, with the same filter.
    std::shared_ptr<FileInfoNode> parent();
    // The first child whose name equals `name` ignoring case.
    std::shared_ptr<FileInfoNode> findWithName(const QString &name);
    // Folder nodes only: creates the item and appends a child node for it.
    std::shared_ptr<FileInfoNode> createFile(const QString &name, const QByteArray &contents,
                                             const QVariantMap &attributes);
    std::shared_ptr<FileInfoNode> createFolder(const QString &name);
    // Folder nodes only; passed on to the children already listed.
    void setFolderContentsFilter(std::shared_ptr<VtrFileInfoFilter> filter);

    QString name() const;
    QString path() const { return m_info.path(); }
    QString resolvedPath() const { return fileInfo().path(); }
    bool isFile() const { return fileInfo().isFile(); }
    bool isFolder() const { return fileInfo().isFolder(); }
    bool isAlias() const { return m_isAlias; }

    // {"Item Path": path, "Children": [child archives]} (each key only when
    // there is a value).
    QVariantMap encodeWithCoder() const;
    static std::shared_ptr<FileInfoNode> initWithCoder(const QVariantMap &coder);

private:
    VtrFileInfo m_info;
    std::optional<VtrFileInfo> m_target;
    std::optional<QList<std::shared_ptr<FileInfoNode>>> m_children;
    std::shared_ptr<VtrFileInfoFilter> m_filter;
    bool m_isAlias = false;
    bool m_seeded = false; // m_children holds only nodes to reuse, the listing is still to come
};
