#pragma once

#include "fileinfo/VtrPathFileInfo.h"

#include <QDateTime>
#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
#include <map>
#include <memory>

// An in-memory file kind for tests: a tree of folders, files and links in a
// "store" (one volume) with settings for chunk size, free space and reserve,
// failures injected at a given ranged read or write, and device-controlled
// copies. Paths are POSIX ("/", "/Music/a.mp3"); names are case-sensitive, and
// find() falls back to a case-insensitive match as the real kinds do.

class MemoryFileInfo;
using MemoryFileInfoPtr = std::shared_ptr<MemoryFileInfo>;

class MemoryStore : public std::enable_shared_from_this<MemoryStore>
{
public:
    struct Node
    {
        bool folder = false;
        QByteArray data;
        // Contents made on demand: 8-byte little-endian stamps of the offset
        // at every multiple of kStampSpacing, zeros between. For huge files.
        qint64 syntheticSize = -1;
        // Files created while the store is in sink mode keep no bytes: each
        // ranged write is checked against the stamp pattern and counted.
        bool sink = false;
        qint64 sinkSize = 0;
        qint64 sinkMismatches = 0;
        qint64 sinkOutOfOrderWrites = 0;
        QString linkTarget; // a link when not empty
        bool hidden = false;
        QDateTime created;
        QDateTime modified;
        std::map<QString, std::unique_ptr<Node>> children;
    };
    static constexpr qint64 kStampSpacing = 4096;

    static std::shared_ptr<MemoryStore> create();

    // ---- settings
    qint64 chunkSize = 8192;
    qint64 freeSpace = qint64(1) << 40;
    qint64 reserve = 0;
    bool deviceControlsCopy = false;
    bool sinkMode = false;

    // ---- failures (indices count the ranged reads / writes of this store, from 0)
    int failReadAtChunk = -1;  // that read answers null data
    int shortReadAtChunk = -1; // that read answers half the bytes
    int throwAtReadChunk = -1; // that read throws VtrException
    int failWriteAtChunk = -1; // that write answers writeFailureStatus
    FileInfoCopyStatus writeFailureStatus = kFileInfoCopyWriteFailed;
    int throwAtWriteChunk = -1; // that write throws VtrException
    bool failOpenForReading = false;
    bool failOpenForWriting = false;
    QSet<QString> refuseCreateNames;                         // createFile of these names makes nothing
    QSet<QString> refuseRemoveNames;                         // remove of these names fails
    FileInfoCopyStatus moveFailureStatus = kFileInfoCopyOK;  // non-zero: moveTo fails with it
    FileInfoCopyStatus copyFromFileStatus = kFileInfoCopyOK; // answer of the device copy
    bool failWholeRead = false;                              // fileContents() answers null data
    // Called before each ranged write with its index (to cancel mid-copy, list
    // the folder, start another copy...).
    std::function<void(int)> onWrite;

    // ---- what happened
    int readCalls = 0;
    int writeCalls = 0;
    int moveCalls = 0;
    int openHandles = 0;
    int copyFromFileCalls = 0;
    QStringList log;

    // ---- building and inspecting
    MemoryFileInfoPtr info(const QString &path);
    bool addFolder(const QString &path); // parents are made too
    bool addFile(const QString &path, const QByteArray &data, const QDateTime &modified = QDateTime(),
                 const QDateTime &created = QDateTime());
    bool addSyntheticFile(const QString &path, qint64 size);
    bool addLink(const QString &path, const QString &target);
    void setHidden(const QString &path, bool hidden);
    // Every item below the root: path -> bytes, "<folder>" or "-> target".
    QMap<QString, QByteArray> snapshot();
    bool hasItem(const QString &path);

    // The node at `path`; links along the way are followed, the last one only
    // when `followLast`. nullptr when missing.
    Node *lookup(const QString &path, bool followLast = true);
    // The folder node that holds (or would hold) `path`, and the leaf name.
    Node *parentOf(const QString &path, QString *leaf);
    QString resolvedPath(const QString &path);

    static QByteArray stampBytes(qint64 location, qint64 length);

private:
    Node m_root = makeRoot();
    static Node makeRoot()
    {
        Node root;
        root.folder = true;
        return root;
    }
    void snapshotInto(const QString &path, Node &node, QMap<QString, QByteArray> &out);
};

class MemoryFileInfo : public VtrPathBasedFileInfo
{
public:
    MemoryFileInfo(std::shared_ptr<MemoryStore> store, const QString &path);

    using VtrBaseFileInfo::copyTo;
    using VtrBaseFileInfo::createFile;
    using VtrBaseFileInfo::find;

    MemoryStore &store() { return *m_store; }

    QString archiveClassName() const override { return QStringLiteral("MemoryFileInfo"); }
    bool exists() override;
    bool isFile() override;
    bool isFolder() override;
    bool visible() override;
    qint64 size() override;
    QDateTime creationDate() override;
    QDateTime modificationDate() override;
    void setCreationDate(const QDateTime &date) override;
    void setModificationDate(const QDateTime &date) override;
    qint64 freeSpaceOnVolume() override;
    qint64 _freeSpaceToKeepOnVolume() override;
    qint64 preferredChunkSize() override;
    VtrFileInfoPtr parentFolder() override;
    VtrFileInfoPtr volume() override;
    bool isEqualTo(const VtrFileInfoPtr &other) override;
    VtrFileInfoPtr aliasTarget() override;
    bool resolveAlias() override;
    VtrFileInfoPtr resolvedFileInfo() override;
    void setName(const QString &name) override;

    VtrFileInfoPtr find(const QString &name) override;
    void folderContentsWithFilterWithArray(VtrBaseFileInfoFilter *filter, VtrFileInfoList &array, bool *stop,
                                           const QString &rootNodePath) override;
    VtrFileInfoPtr createFile(const QString &name, const QByteArray &contents, const QVariantMap &attributes,
                              bool ensureUniqueName, FileInfoProgress *progress, void *userData) override;
    VtrFileInfoPtr createFolder(const QString &name) override;
    VtrFileInfoPtr createUniqueFolder(const QString &name) override;
    bool remove() override;

    QByteArray fileContentsWithProgress(FileInfoProgress *progress, void *userData) override;
    bool setFileContentsWithProgress(const QByteArray &data, FileInfoProgress *progress, void *userData) override;
    VtrFileInfoHandlePtr openFileForReading() override;
    VtrFileInfoHandlePtr openFileForWriting() override;
    void closeFile(VtrFileInfoHandlePtr handle) override;
    QByteArray fileContentsWithRange(const VtrFileRange &range, VtrFileInfoHandle *handle) override;
    FileInfoCopyStatus setFileContentsWithRange(const QByteArray &data, const VtrFileRange &range,
                                                VtrFileInfoHandle *handle) override;
    FileInfoCopyStatus moveTo(const VtrFileInfoPtr &destination) override;
    FileInfoCopyStatus copyFromFile(const VtrFileInfoPtr &source, bool ensureUniqueName, FileInfoProgress *progress,
                                    void *userData, VtrFileInfoPtr *outNewItem) override;

private:
    MemoryStore::Node *node(bool followLast = true);
    QString folderPathForChildren();
    std::shared_ptr<MemoryStore> m_store;
};
