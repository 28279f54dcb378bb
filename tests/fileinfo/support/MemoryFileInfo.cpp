#include "support/MemoryFileInfo.h"

#include "fileinfo/FileInfoCopy.h"
#include "foundation/VtrString.h"
#include "platform/VtrException.h"

#include <cstring>

namespace {

QStringList splitPath(const QString &path)
{
    return path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
}

QString joinPath(const QString &folder, const QString &name)
{
    if (folder.isEmpty() || folder == QLatin1String("/")) return QLatin1Char('/') + name;
    return folder + QLatin1Char('/') + name;
}

QString normalised(const QString &path)
{
    const QStringList parts = splitPath(path);
    return parts.isEmpty() ? QStringLiteral("/") : QLatin1Char('/') + parts.join(QLatin1Char('/'));
}

class MemoryHandle : public VtrFileInfoHandle
{
public:
    MemoryHandle(MemoryStore &store, QString path, bool writing) : store(store), path(std::move(path)), writing(writing)
    {
        ++store.openHandles;
    }
    ~MemoryHandle() override { --store.openHandles; }
    MemoryStore &store;
    QString path;
    bool writing;
};

} // namespace

// ---- store ------------------------------------------------------------------------

std::shared_ptr<MemoryStore> MemoryStore::create()
{
    return std::make_shared<MemoryStore>();
}

MemoryFileInfoPtr MemoryStore::info(const QString &path)
{
    return std::make_shared<MemoryFileInfo>(shared_from_this(), normalised(path));
}

MemoryStore::Node *MemoryStore::lookup(const QString &path, bool followLast)
{
    QStringList pending = splitPath(path);
    Node *node = &m_root;
    int hops = 0;
    while (!pending.isEmpty()) {
        if (!node->folder) return nullptr;
        const QString name = pending.takeFirst();
        auto it = node->children.find(name);
        if (it == node->children.end()) return nullptr;
        Node *child = it->second.get();
        if (!child->linkTarget.isEmpty() && (!pending.isEmpty() || followLast)) {
            // Link targets are absolute: start again from the root.
            if (++hops > 40) return nullptr;
            pending = splitPath(child->linkTarget) + pending;
            node = &m_root;
            continue;
        }
        node = child;
    }
    return node;
}

MemoryStore::Node *MemoryStore::parentOf(const QString &path, QString *leaf)
{
    QStringList parts = splitPath(path);
    if (parts.isEmpty()) return nullptr;
    if (leaf) *leaf = parts.last();
    parts.removeLast();
    Node *parent = lookup(QLatin1Char('/') + parts.join(QLatin1Char('/')), true);
    return parent && parent->folder ? parent : nullptr;
}

QString MemoryStore::resolvedPath(const QString &path)
{
    // Resolve every link along the path, textually.
    QStringList done;
    QStringList parts = splitPath(path);
    int hops = 0;
    while (!parts.isEmpty()) {
        const QString name = parts.takeFirst();
        done.append(name);
        Node *node = lookup(QLatin1Char('/') + done.join(QLatin1Char('/')), false);
        if (node && !node->linkTarget.isEmpty() && ++hops < 40) {
            parts = splitPath(node->linkTarget) + parts;
            done.clear();
        }
    }
    return QLatin1Char('/') + done.join(QLatin1Char('/'));
}

bool MemoryStore::addFolder(const QString &path)
{
    Node *node = &m_root;
    for (const QString &part : splitPath(path)) {
        auto &slot = node->children[part];
        if (!slot) {
            slot = std::make_unique<Node>();
            slot->folder = true;
            slot->created = slot->modified = QDateTime::currentDateTimeUtc();
        }
        if (!slot->folder) return false;
        node = slot.get();
    }
    return true;
}

bool MemoryStore::addFile(const QString &path, const QByteArray &data, const QDateTime &modified,
                          const QDateTime &created)
{
    QString leaf;
    const QStringList parts = splitPath(path);
    if (parts.isEmpty()) return false;
    addFolder(QLatin1Char('/') + parts.mid(0, parts.size() - 1).join(QLatin1Char('/')));
    Node *parent = parentOf(path, &leaf);
    if (!parent) return false;
    auto node = std::make_unique<Node>();
    node->data = data.isNull() ? QByteArray("") : data;
    node->modified = modified;
    node->created = created;
    parent->children[leaf] = std::move(node);
    return true;
}

bool MemoryStore::addSyntheticFile(const QString &path, qint64 size)
{
    if (!addFile(path, QByteArray())) return false;
    lookup(path)->syntheticSize = size;
    return true;
}

bool MemoryStore::addLink(const QString &path, const QString &target)
{
    QString leaf;
    const QStringList parts = splitPath(path);
    addFolder(QLatin1Char('/') + parts.mid(0, parts.size() - 1).join(QLatin1Char('/')));
    Node *parent = parentOf(path, &leaf);
    if (!parent) return false;
    auto node = std::make_unique<Node>();
    node->linkTarget = normalised(target);
    parent->children[leaf] = std::move(node);
    return true;
}

void MemoryStore::setHidden(const QString &path, bool hidden)
{
    if (Node *node = lookup(path, false)) node->hidden = hidden;
}

bool MemoryStore::hasItem(const QString &path)
{
    return lookup(path, false) != nullptr;
}

QMap<QString, QByteArray> MemoryStore::snapshot()
{
    QMap<QString, QByteArray> out;
    snapshotInto(QStringLiteral(""), m_root, out);
    return out;
}

void MemoryStore::snapshotInto(const QString &path, Node &node, QMap<QString, QByteArray> &out)
{
    for (auto &[name, child] : node.children) {
        const QString childPath = path + QLatin1Char('/') + name;
        if (!child->linkTarget.isEmpty())
            out.insert(childPath, "-> " + child->linkTarget.toUtf8());
        else if (child->folder) {
            out.insert(childPath, "<folder>");
            snapshotInto(childPath, *child, out);
        } else if (child->syntheticSize >= 0)
            out.insert(childPath, "<synthetic " + QByteArray::number(child->syntheticSize) + ">");
        else
            out.insert(childPath, child->data);
    }
}

QByteArray MemoryStore::stampBytes(qint64 location, qint64 length)
{
    QByteArray bytes(length, '\0');
    char *out = bytes.data();
    const qint64 end = location + length;
    qint64 stamp = (location / kStampSpacing) * kStampSpacing;
    for (; stamp < end; stamp += kStampSpacing) {
        for (int k = 0; k < 8; ++k) {
            const qint64 at = stamp + k;
            if (at >= location && at < end) out[at - location] = char((quint64(stamp) >> (8 * k)) & 0xff);
        }
    }
    return bytes;
}

// ---- file info ----------------------------------------------------------------------------

MemoryFileInfo::MemoryFileInfo(std::shared_ptr<MemoryStore> store, const QString &path)
    : VtrPathBasedFileInfo(path), m_store(std::move(store))
{
    setDeviceControlsCopy(m_store->deviceControlsCopy);
}

MemoryStore::Node *MemoryFileInfo::node(bool followLast)
{
    return m_store->lookup(storedPath(), followLast);
}

QString MemoryFileInfo::folderPathForChildren()
{
    return isFolder() ? storedPath() : normalised(vtr::posixDeletingLastPathComponent(storedPath()));
}

bool MemoryFileInfo::exists()
{
    return node() != nullptr;
}

bool MemoryFileInfo::isFile()
{
    MemoryStore::Node *n = node();
    return n && !n->folder;
}

bool MemoryFileInfo::isFolder()
{
    MemoryStore::Node *n = node();
    return n && n->folder;
}

bool MemoryFileInfo::visible()
{
    MemoryStore::Node *n = node(false);
    return !(n && n->hidden) && !vtr::isDotFileName(name());
}

qint64 MemoryFileInfo::size()
{
    MemoryStore::Node *n = node();
    if (!n) return 0;
    if (n->folder) return VtrBaseFileInfo::size();
    if (n->syntheticSize >= 0) return n->syntheticSize;
    if (n->sink) return n->sinkSize;
    return n->data.size();
}

QDateTime MemoryFileInfo::creationDate()
{
    MemoryStore::Node *n = node();
    return n ? n->created : QDateTime();
}

QDateTime MemoryFileInfo::modificationDate()
{
    MemoryStore::Node *n = node();
    return n ? n->modified : QDateTime();
}

void MemoryFileInfo::setCreationDate(const QDateTime &date)
{
    if (MemoryStore::Node *n = node()) n->created = date;
}

void MemoryFileInfo::setModificationDate(const QDateTime &date)
{
    if (MemoryStore::Node *n = node()) n->modified = date;
}

qint64 MemoryFileInfo::freeSpaceOnVolume()
{
    return m_store->freeSpace;
}
qint64 MemoryFileInfo::_freeSpaceToKeepOnVolume()
{
    return m_store->reserve;
}
qint64 MemoryFileInfo::preferredChunkSize()
{
    return m_store->chunkSize;
}

VtrFileInfoPtr MemoryFileInfo::parentFolder()
{
    if (storedPath() == QLatin1String("/")) return nullptr;
    return m_store->info(vtr::posixDeletingLastPathComponent(storedPath()));
}

VtrFileInfoPtr MemoryFileInfo::volume()
{
    return m_store->info(QStringLiteral("/"));
}

bool MemoryFileInfo::isEqualTo(const VtrFileInfoPtr &other)
{
    auto *memory = dynamic_cast<MemoryFileInfo *>(other.get());
    return memory && memory->m_store == m_store &&
           m_store->resolvedPath(memory->storedPath()) == m_store->resolvedPath(storedPath());
}

VtrFileInfoPtr MemoryFileInfo::aliasTarget()
{
    MemoryStore::Node *n = node(false);
    if (!n || n->linkTarget.isEmpty()) return nullptr;
    return m_store->info(n->linkTarget);
}

bool MemoryFileInfo::resolveAlias()
{
    MemoryStore::Node *n = node(false);
    if (!n || n->linkTarget.isEmpty()) return false;
    _setPath(m_store->resolvedPath(storedPath()));
    return true;
}

VtrFileInfoPtr MemoryFileInfo::resolvedFileInfo()
{
    const QString resolved = m_store->resolvedPath(storedPath());
    if (resolved == storedPath()) return self();
    return m_store->info(resolved);
}

void MemoryFileInfo::setName(const QString &newName)
{
    QString leaf;
    MemoryStore::Node *parent = m_store->parentOf(storedPath(), &leaf);
    if (!parent || newName.isEmpty() || newName.contains(QLatin1Char('/'))) return;
    auto it = parent->children.find(leaf);
    if (it == parent->children.end() || parent->children.count(newName)) return;
    auto moved = std::move(it->second);
    parent->children.erase(it);
    parent->children[newName] = std::move(moved);
    setPath(joinPath(normalised(vtr::posixDeletingLastPathComponent(storedPath())), newName));
}

VtrFileInfoPtr MemoryFileInfo::find(const QString &name)
{
    const QString folder = folderPathForChildren();
    VtrFileInfoPtr exact = m_store->info(joinPath(folder, name));
    if (exact->exists()) return exact;
    VtrFileInfoPtr folderInfo = m_store->info(folder);
    if (VtrFileInfoPtr other = folderInfo->findChildIgnoringCase(name)) return other;
    return exact;
}

void MemoryFileInfo::folderContentsWithFilterWithArray(VtrBaseFileInfoFilter *filter, VtrFileInfoList &array,
                                                       bool *stop, const QString &rootNodePath)
{
    MemoryStore::Node *folder = node();
    if (!folder || !folder->folder) return;
    QStringList names;
    for (auto &entry : folder->children)
        names.append(entry.first);
    VtrBaseFileInfo::sortFileNames(names);
    for (const QString &childName : names) {
        const QString childPath = joinPath(storedPath(), childName);
        const auto entry = folder->children.find(childName);
        if (vtr::isTemporaryCopyFileName(childName) && entry != folder->children.end() && !entry->second->folder) {
            // A leftover of an ended copy goes; the file of a running one
            // stays, and a folder of that name is listed like any other.
            if (!vtr::isTemporaryCopyFileInUse(childPath) && !m_store->refuseRemoveNames.contains(childName)) {
                MemoryStore::Node *current = node();
                if (current) current->children.erase(childName);
                m_store->log.append(QStringLiteral("listing removed ") + childPath);
            }
            continue;
        }
        MemoryFileInfoPtr child = m_store->info(childPath);
        if (child->isFolder()) {
            const QString resolved = m_store->resolvedPath(childPath);
            if (resolved != childPath && (resolved + QLatin1Char('/')).startsWith(rootNodePath)) continue;
        }
        bool childStop = false;
        if (!filter || filter->includeItem(child, &childStop)) array.append(child);
        if (childStop) {
            if (stop) *stop = true;
            return;
        }
    }
}

VtrFileInfoPtr MemoryFileInfo::createFile(const QString &name, const QByteArray &contents, const QVariantMap &,
                                          bool ensureUniqueName, FileInfoProgress *, void *)
{
    const QString folderPath = folderPathForChildren();
    MemoryFileInfoPtr folder = m_store->info(folderPath);
    if (!folder->isFolder() || name.isEmpty() || name.contains(QLatin1Char('/'))) return nullptr;
    QString chosen = name;
    VtrFileInfoPtr existing = folder->find(name);
    if (existing->exists()) {
        if (!ensureUniqueName) {
            if (existing->isFolder()) return nullptr;
            existing->setFileContents(contents);
            return existing;
        }
        chosen = folder->uniqueFilename(name);
        if (chosen.isNull()) return nullptr;
    }
    const QString path = joinPath(folderPath, chosen);
    if (m_store->refuseCreateNames.contains(chosen)) return m_store->info(path);
    MemoryStore::Node *parent = m_store->lookup(folderPath);
    auto created = std::make_unique<MemoryStore::Node>();
    created->data = contents.isNull() ? QByteArray("") : contents;
    created->sink = m_store->sinkMode;
    created->created = created->modified = QDateTime::currentDateTimeUtc();
    parent->children[chosen] = std::move(created);
    m_store->log.append(QStringLiteral("created ") + path);
    return m_store->info(path);
}

VtrFileInfoPtr MemoryFileInfo::createFolder(const QString &name)
{
    VtrFileInfoPtr folder = m_store->info(folderPathForChildren());
    for (const QString &part : splitPath(name)) {
        VtrFileInfoPtr next = folder->find(part);
        if (next->exists()) {
            if (!next->isFolder()) return nullptr;
        } else {
            if (!m_store->addFolder(next->path())) return nullptr;
        }
        folder = next;
    }
    return folder;
}

VtrFileInfoPtr MemoryFileInfo::createUniqueFolder(const QString &name)
{
    const QString unique = uniqueFilename(name);
    return unique.isNull() ? nullptr : createFolder(unique);
}

bool MemoryFileInfo::remove()
{
    QString leaf;
    MemoryStore::Node *parent = m_store->parentOf(storedPath(), &leaf);
    if (!parent || !parent->children.count(leaf)) return false;
    if (m_store->refuseRemoveNames.contains(leaf)) return false;
    parent->children.erase(leaf);
    m_store->log.append(QStringLiteral("removed ") + storedPath());
    return true;
}

QByteArray MemoryFileInfo::fileContentsWithProgress(FileInfoProgress *, void *)
{
    MemoryStore::Node *n = node();
    if (!n || n->folder || m_store->failWholeRead) return QByteArray();
    if (n->syntheticSize >= 0) return MemoryStore::stampBytes(0, n->syntheticSize);
    return n->data;
}

bool MemoryFileInfo::setFileContentsWithProgress(const QByteArray &data, FileInfoProgress *, void *)
{
    MemoryStore::Node *n = node();
    if (!n || n->folder) return false;
    n->syntheticSize = -1;
    n->data = data.isNull() ? QByteArray("") : data;
    return true;
}

VtrFileInfoHandlePtr MemoryFileInfo::openFileForReading()
{
    if (m_store->failOpenForReading || !isFile()) return nullptr;
    return std::make_unique<MemoryHandle>(*m_store, storedPath(), false);
}

VtrFileInfoHandlePtr MemoryFileInfo::openFileForWriting()
{
    if (m_store->failOpenForWriting || !isFile()) return nullptr;
    MemoryStore::Node *n = node();
    n->data = QByteArray("");
    n->sinkSize = 0;
    return std::make_unique<MemoryHandle>(*m_store, storedPath(), true);
}

void MemoryFileInfo::closeFile(VtrFileInfoHandlePtr handle)
{
    handle.reset();
}

QByteArray MemoryFileInfo::fileContentsWithRange(const VtrFileRange &range, VtrFileInfoHandle *handle)
{
    if (!dynamic_cast<MemoryHandle *>(handle)) return QByteArray();
    const int index = m_store->readCalls++;
    if (index == m_store->failReadAtChunk) return QByteArray();
    if (index == m_store->throwAtReadChunk)
        throw VtrException(QStringLiteral("MemoryReadException"), QStringLiteral("read failed"));
    MemoryStore::Node *n = node();
    if (!n || n->folder || range.location < 0 || range.length < 0) return QByteArray();
    QByteArray data;
    if (n->syntheticSize >= 0) {
        const qint64 length = std::max<qint64>(0, std::min(range.length, n->syntheticSize - range.location));
        data = MemoryStore::stampBytes(range.location, length);
    } else {
        data = n->data.mid(range.location, range.length);
    }
    if (index == m_store->shortReadAtChunk) data.truncate(data.size() / 2);
    return data;
}

FileInfoCopyStatus MemoryFileInfo::setFileContentsWithRange(const QByteArray &data, const VtrFileRange &range,
                                                            VtrFileInfoHandle *handle)
{
    auto *memoryHandle = dynamic_cast<MemoryHandle *>(handle);
    if (!memoryHandle || !memoryHandle->writing) return kFileInfoCopyKindCannot;
    const int index = m_store->writeCalls++;
    if (m_store->onWrite) m_store->onWrite(index);
    if (index == m_store->failWriteAtChunk) return m_store->writeFailureStatus;
    if (index == m_store->throwAtWriteChunk)
        throw VtrException(QStringLiteral("MemoryWriteException"), QStringLiteral("write failed"));
    MemoryStore::Node *n = node();
    if (!n || n->folder) return kFileInfoCopyKindCannot;
    if (n->sink) {
        if (range.location != n->sinkSize) ++n->sinkOutOfOrderWrites;
        if (MemoryStore::stampBytes(range.location, data.size()) != data) ++n->sinkMismatches;
        n->sinkSize = std::max(n->sinkSize, range.location + qint64(data.size()));
        return kFileInfoCopyOK;
    }
    if (range.location > n->data.size()) n->data.append(QByteArray(range.location - n->data.size(), '\0'));
    const qint64 end = range.location + data.size();
    if (end > n->data.size()) n->data.resize(end);
    std::memcpy(n->data.data() + range.location, data.constData(), size_t(data.size()));
    return kFileInfoCopyOK;
}

FileInfoCopyStatus MemoryFileInfo::moveTo(const VtrFileInfoPtr &destination)
{
    ++m_store->moveCalls;
    auto *target = dynamic_cast<MemoryFileInfo *>(destination.get());
    if (!target || target->m_store != m_store) return kFileInfoCopyKindCannot;
    if (m_store->moveFailureStatus != kFileInfoCopyOK) return m_store->moveFailureStatus;
    QString fromLeaf;
    QString toLeaf;
    MemoryStore::Node *from = m_store->parentOf(storedPath(), &fromLeaf);
    MemoryStore::Node *to = m_store->parentOf(target->storedPath(), &toLeaf);
    if (!from || !to || !from->children.count(fromLeaf)) return kFileInfoCopyKindCannot;
    auto existing = to->children.find(toLeaf);
    if (existing != to->children.end() && existing->second->folder) return kFileInfoCopyKindCannot;
    auto moving = std::move(from->children[fromLeaf]);
    from->children.erase(fromLeaf);
    to->children[toLeaf] = std::move(moving);
    m_store->log.append(QStringLiteral("moved ") + storedPath() + QStringLiteral(" to ") + target->storedPath());
    setPath(target->storedPath());
    return kFileInfoCopyOK;
}

FileInfoCopyStatus MemoryFileInfo::copyFromFile(const VtrFileInfoPtr &source, bool ensureUniqueName, FileInfoProgress *,
                                                void *, VtrFileInfoPtr *outNewItem)
{
    ++m_store->copyFromFileCalls;
    if (outNewItem) *outNewItem = nullptr;
    if (m_store->copyFromFileStatus != kFileInfoCopyOK) return m_store->copyFromFileStatus;
    VtrFileInfoPtr target = self();
    if (isFolder()) target = find(ensureUniqueName ? uniqueFilename(source->name()) : source->name());
    VtrFileInfoPtr parent = target->parentFolder();
    VtrFileInfoPtr made = parent ? parent->createFile(target->name(), source->fileContents(), QVariantMap()) : nullptr;
    if (!made || !made->exists()) return kFileInfoCopyWriteFailed;
    if (outNewItem) *outNewItem = made;
    return kFileInfoCopyOK;
}
