#pragma once

#include "fileinfo/VtrWindowsPathFileInfo.h"

#include <QDateTime>
#include <QImage>
#include <QString>
#include <QVariantMap>

#include <memory>
#include <optional>

class HandheldDeviceProtocol;

// A file or folder on a phone's own storage, reached through the phone's
// command interface (HandheldDeviceProtocol, implemented by PlatformDevice).
//
// - Paths are Windows-style device paths with a drive ("E:\Music\a.mp3");
//   drive "C:\" is the phone's internal memory.
// - Existence, kind, size, date and visibility come from the folder-listing
//   entry the device gave for the node ("filename", "type", "size", "mod",
//   "hidden", "Human Friendly Name"); a node without an entry does not exist.
//   refresh() asks the device afresh.
// - Every change goes through the device. When the device talks MTP (its
//   mtpDevice() was live when the node was made), whole-file copies in both
//   directions are handed to the device's own copy operations; ranged reads
//   and writes are not available over MTP.
// - Names are compared without regard to case, as the phone does.
//
// Lifetime: the device is NOT owned. It must outlive every node made for it
// (PlatformDevice lives for the whole run and its listings hold the nodes);
// refreshWithDevice() moves a node to another device, and a node whose device
// is gone must be given nullptr (or dropped) before it is used again.
// Like every file info, a node is used by one thread at a time.
class VtrSymbianFileInfo : public VtrWindowsPathBasedFileInfo
{
public:
    using Ptr = std::shared_ptr<VtrSymbianFileInfo>;

    // Space a copy onto the phone leaves free on its volume.
    static constexpr qint64 kFreeSpaceToKeepOnVolume = 5242880;
    static constexpr qint64 kPreferredChunkSize = 524288;
    static constexpr int kMaxPathLength = 255;

    // ---- creation -------------------------------------------------------------------

    // An empty node (archives are read into one).
    VtrSymbianFileInfo();
    VtrSymbianFileInfo(const QString &path, HandheldDeviceProtocol *device);
    // `xmlInfo`: the node's folder-listing entry; empty for none.
    VtrSymbianFileInfo(const QString &path, const QVariantMap &xmlInfo, HandheldDeviceProtocol *device);
    ~VtrSymbianFileInfo() override;

    static Ptr fileInfoWithPath(const QString &path, HandheldDeviceProtocol *device);
    static Ptr fileInfoWithPath(const QString &path, const QVariantMap &xmlInfo, HandheldDeviceProtocol *device);
    // The entry's "filename" appended to `parentPath`.
    static Ptr fileInfoWithParentPath(const QString &parentPath, const QVariantMap &xmlInfo,
                                      HandheldDeviceProtocol *device);
    // The same for a folder listed item by item: `folderPrefix` is
    // vtr::windowsPathPrefixForChildren() of the folder's path, made once
    // and shared by the nodes, not copied into each.
    static Ptr fileInfoInFolder(const QString &folderPrefix, const QVariantMap &xmlInfo,
                                HandheldDeviceProtocol *device);

    HandheldDeviceProtocol *device() const { return _device; }
    // Moves the node to `device` (nullptr detaches it), then refresh().
    void refreshWithDevice(HandheldDeviceProtocol *device);
    // Takes `path` as the node's path (record only).
    void updateWithNewPath(const QString &path);
    // Merges `entry` into the node's entry (later values win); a node without
    // an entry takes it whole and so exists afterwards.
    void updateWithXMLInfo(const QVariantMap &entry);
    // The node's entry; nullopt while the node is not known to exist.
    std::optional<QVariantMap> xmlInfo() const { return _info; }

    // The path's drive is the internal memory "C:\".
    bool isInternalMemory();

    // ---- the file-info interface ----------------------------------------------------

    QString archiveClassName() const override;
    void encodeWithCoder(QVariantMap &coder) override; // adds "_info" when present
    void initWithCoder(const QVariantMap &coder) override;
    QString description() override; // adds " (oid=N)" while an MTP device is attached

    bool exists() override;
    bool isFile() override;
    bool isFolder() override;
    // 0 for a missing node; a file: its entry's "size"; a folder: its tree.
    qint64 size() override;
    QDateTime modificationDate() override;
    void setModificationDate(const QDateTime &date) override;
    void setCreationDate(const QDateTime &date) override;
    bool supportsTimezones() override; // false
    bool supportsCreationDate() override;
    bool supportsModificationDate() override;
    bool visible() override;
    QString humanFriendlyName() override;
    QString humanFriendlyPath() override;
    QImage icon() override;
    // The device's node for the path's drive.
    VtrFileInfoPtr volume() override;
    // The device's node for the folder holding this item ("E:\Music\a.mp3"
    // gives "E:\Music\", "E:\Music" gives "E:\"); nullptr for a drive root.
    VtrFileInfoPtr parentFolder() override;

    using VtrBaseFileInfo::find;
    // The child of this folder (or sibling of this file) named `name`, exact
    // name first, else ignoring case; a node for the path in that folder,
    // without an entry, when there is none.
    VtrFileInfoPtr find(const QString &name) override;
    // Children in listing order; the temporary copy file is never listed and
    // a leftover one is removed from the phone. A listing the phone fails
    // throws its VtrException (as a folder of this computer does).
    void folderContentsWithFilterWithArray(VtrBaseFileInfoFilter *filter, VtrFileInfoList &array, bool *stop,
                                           const QString &rootNodePath) override;
    // Compared without regard to case: with "A.MP3" there, "a.mp3" gives
    // "a-1.mp3". Null when no free name is found.
    QString uniqueFilename(const QString &name) override;

    using VtrBaseFileInfo::createFile;
    // In this folder (or beside this file). An existing file of that name gets
    // the contents unless `ensureUniqueName` (nullptr when that write fails);
    // an existing folder gives nullptr; a name that is not one plain name
    // gives nullptr. Attributes are ignored. Device exceptions pass to the
    // caller. Over MTP the phone takes no contents this way (its write
    // command is refused): copyFromFile() sends files.
    VtrFileInfoPtr createFile(const QString &name, const QByteArray &contents, const QVariantMap &attributes,
                              bool ensureUniqueName, FileInfoProgress *progress, void *userData) override;
    // A path of folders, with a drive ("E:\Music\Rock") from the drive root,
    // without one from this folder; missing levels are made. nullptr when a
    // level is a file or cannot be made, or for "." and ".." levels.
    VtrFileInfoPtr createFolder(const QString &path) override;
    // "tmp" in the root of the node's volume, made when missing.
    VtrFileInfoPtr tempFolder() override;
    // The drive entry's "free"; 0 when unknown.
    qint64 freeSpaceOnVolume() override;
    qint64 _freeSpaceToKeepOnVolume() override;
    qint64 preferredChunkSize() override;
    int maxPathLength() override;
    // False for a missing node; device exceptions are swallowed (false).
    bool remove() override;
    // The device's move from this path to `destination`'s (another phone
    // node); on 0 this node takes the destination's path. -1 without a
    // device or for a destination of another kind.
    FileInfoCopyStatus moveTo(const VtrFileInfoPtr &destination) override;
    // Renames on the phone; this node keeps its path.
    void setName(const QString &name) override;

    // The whole file. Over MTP it is copied into a unique file in the private
    // temporary folder, read and removed again whatever happens (a phone's
    // contacts file never stays on this computer's disk); null on failure.
    QByteArray fileContentsWithProgress(FileInfoProgress *progress, void *userData) override;
    bool setFileContentsWithProgress(const QByteArray &data, FileInfoProgress *progress, void *userData) override;
    // The device's one open file: the handle only marks that it is open, and
    // destroying it unclosed closes the device file.
    VtrFileInfoHandlePtr openFileForReading() override;
    VtrFileInfoHandlePtr openFileForWriting() override;
    void closeFile(VtrFileInfoHandlePtr handle) override;
    QByteArray fileContentsWithRange(const VtrFileRange &range, VtrFileInfoHandle *handle) override;
    FileInfoCopyStatus setFileContentsWithRange(const QByteArray &data, const VtrFileRange &range,
                                                VtrFileInfoHandle *handle) override;

    using VtrBaseFileInfo::copyTo;
    // With a device that copies (MTP): this phone file to a local destination
    // (a folder, or a file path replaced only by a complete copy), written by
    // the device into the destination folder's temporary copy file which is
    // then renamed onto the destination. -200 / -201 for a missing or non-file
    // source, -208 for a destination that is neither a folder nor a file, -209
    // too little space, -206 a failed transfer (-210 a cancelled one); only
    // the temporary file is removed on failure. Otherwise the generic copy.
    FileInfoCopyStatus copyTo(const VtrFileInfoPtr &destination, bool ensureUniqueName, FileInfoProgress *progress,
                              void *userData, VtrFileInfoPtr *outNewItem) override;
    // A local file onto the phone: into this folder (under the source's name
    // made a valid phone name, unique when asked) or onto this file path.
    // Free space (-209) and path length (-211) are checked before anything is
    // sent; an existing phone file is replaced only by the device's successful
    // send and survives a failed one. The device's status is passed through;
    // an exception gives -206.
    FileInfoCopyStatus copyFromFile(const VtrFileInfoPtr &source, bool ensureUniqueName, FileInfoProgress *progress,
                                    void *userData, VtrFileInfoPtr *outNewItem) override;

    // The entry's "hasDRM" when the listing gave one, else the device's answer
    // (asked once, kept beside the entry: a missing node stays missing).
    bool hasDRM() override;
    // Track metadata; asked of the device once for a file.
    QVariantMap metadata() override;
    void setMetadata(const QVariantMap &metadata) override;
    // Drops the entry and cached answers and takes the device's fresh entry
    // (folder listed again, without its cache).
    void refresh() override;
    // Adds "memoryType": 1 on the internal memory, 2 elsewhere.
    QVariantMap savedInfo() override;
    QString uuid() override;

private:
    void takeDeviceCopyFlag();

    HandheldDeviceProtocol *_device = nullptr;
    std::optional<QVariantMap> _info;
    std::optional<QVariantMap> _metadata;
    std::optional<bool> _hasDRM;
};
