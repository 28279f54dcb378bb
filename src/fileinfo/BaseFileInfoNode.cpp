#include "BaseFileInfoNode.h"

#include "foundation/Log.h"
#include "foundation/VtrString.h"

#include <QBuffer>
#include <QDataStream>
#include <QDir>

namespace {

const QString kStateKey = QStringLiteral("_selectedForSync");
const QString kChildrenKey = QStringLiteral("_children");
const QString kArchiveInfoKey = QStringLiteral("BaseFileInfoNode_FileInfo");
const QString kArchiveChildrenKey = QStringLiteral("BaseFileInfoNode_Children");

bool sameIgnoringCase(const QString &a, const QString &b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// Clears a flag when the scope ends, however it ends.
class FlagScope
{
public:
    explicit FlagScope(bool &flag) : m_flag(flag) { m_flag = true; }
    ~FlagScope() { m_flag = false; }
    FlagScope(const FlagScope &) = delete;
    FlagScope &operator=(const FlagScope &) = delete;

private:
    bool &m_flag;
};

// The four ways a stored name can stand for a wanted Windows name.
bool matchesWindowsName(const QString &stored, const QString &wanted)
{
    return sameIgnoringCase(stored, wanted) || sameIgnoringCase(vtr::windowsValidFilename(stored), wanted) ||
           sameIgnoringCase(stored, vtr::windowsValidFilenameByTranscodingNonASCIIChars(wanted)) ||
           sameIgnoringCase(stored, vtr::windowsValidFilenameUsingASCIIOnly(wanted, true));
}

} // namespace

// ---- creation -------------------------------------------------------------------------

BaseFileInfoNode::BaseFileInfoNode(const VtrFileInfoPtr &info, const BaseFileInfoNodePtr &parent)
{
    setInfo(info);
    if (parent) {
        m_parent = parent;
        setFolderContentsFilter(parent->m_filter);
    }
}

BaseFileInfoNode::~BaseFileInfoNode()
{
    m_selectedChildren.clear();
    if (m_children) {
        for (const BaseFileInfoNodePtr &child : *m_children) {
            disconnect(child.get(), nullptr, this, nullptr);
            // This node can no longer be locked: any expired parent is us or gone.
            if (child->m_parent.expired()) child->m_parent.reset();
        }
    }
}

BaseFileInfoNodePtr BaseFileInfoNode::fileInfoNodeWithFileInfo(const VtrFileInfoPtr &info)
{
    return std::make_shared<BaseFileInfoNode>(info, nullptr);
}

BaseFileInfoNodePtr BaseFileInfoNode::initWithFileInfoAndParent(const VtrFileInfoPtr &info,
                                                                const BaseFileInfoNodePtr &parent)
{
    return std::make_shared<BaseFileInfoNode>(info, parent);
}

BaseFileInfoNodePtr BaseFileInfoNode::initWithFileInfoAndChild(const VtrFileInfoPtr &info,
                                                               const BaseFileInfoNodePtr &child)
{
    BaseFileInfoNodePtr node = std::make_shared<BaseFileInfoNode>(info, nullptr);
    node->loadChildren(child);
    return node;
}

BaseFileInfoNodePtr BaseFileInfoNode::init()
{
    VtrDebugLog(QStringLiteral("VtrBaseFileInfo: do not use init."));
    return nullptr;
}

BaseFileInfoNodePtr BaseFileInfoNode::makeNode(const VtrFileInfoPtr &info, const BaseFileInfoNodePtr &parent)
{
    return std::make_shared<BaseFileInfoNode>(info, parent);
}

// ---- structure --------------------------------------------------------------------------

VtrFileInfoList BaseFileInfoNode::listChildren()
{
    const VtrFileInfoPtr folder = fileInfo();
    if (!folder) return {};
    // Alias folders leading back into the tree are left out of the listing.
    QString root;
    if (BaseFileInfoNodePtr p = parent()) {
        root = p->path();
    } else if (m_info) {
        const VtrFileInfoPtr resolved = m_info->resolvedFileInfo();
        root = resolved ? resolved->path() : m_info->path();
    }
    if (!root.isEmpty()) root = QDir::cleanPath(root);
    if (!root.endsWith(QLatin1Char('/'))) root += QLatin1Char('/');
    return folder->folderContentsWithFilter(m_filter.get(), root);
}

void BaseFileInfoNode::loadChildren(const BaseFileInfoNodePtr &reuse)
{
    const VtrFileInfoList items = listChildren();
    const BaseFileInfoNodePtr me = self();
    BaseFileInfoNodeList nodes;
    nodes.reserve(items.size());
    for (const VtrFileInfoPtr &item : items) {
        const VtrFileInfoPtr reusedInfo = reuse ? reuse->fileInfo() : nullptr;
        if (reusedInfo && reusedInfo->isEqualTo(item)) {
            reuse->setFolderContentsFilter(m_filter);
            if (BaseFileInfoNodePtr old = reuse->parent(); old && old.get() != this) old->removeChild(reuse.get());
            reuse->m_parent = me;
            nodes.append(reuse);
        } else {
            nodes.append(makeNode(item, me));
        }
    }
    setChildren(nodes);
}

BaseFileInfoNodeList BaseFileInfoNode::children()
{
    if (!m_children && isFolder()) loadChildren(nullptr);
    return m_children.value_or(BaseFileInfoNodeList());
}

int BaseFileInfoNode::numChildren()
{
    return int(children().size());
}

bool BaseFileInfoNode::pointsHere(const BaseFileInfoNode *child) const
{
    return child->m_parent.lock().get() == this;
}

void BaseFileInfoNode::adopt(const BaseFileInfoNodePtr &child)
{
    if (pointsHere(child.get())) return;
    if (BaseFileInfoNodePtr old = child->parent()) old->removeChild(child.get());
    child->m_parent = weak_from_this();
}

void BaseFileInfoNode::setChildren(const std::optional<BaseFileInfoNodeList> &children)
{
    if (children == m_children) return;
    const BaseFileInfoNodePtr keep = self();
    // The old children stay alive until the new ones are in place.
    const BaseFileInfoNodeList old = m_children.value_or(BaseFileInfoNodeList());
    for (const BaseFileInfoNodePtr &child : old) {
        if (pointsHere(child.get())) child->m_parent.reset();
        dontWatchChild(child.get());
    }
    m_children = children;
    if (m_children) {
        for (const BaseFileInfoNodePtr &child : *m_children) {
            if (!pointsHere(child.get())) {
                adopt(child);
                if (!child->m_filter) child->setFolderContentsFilter(m_filter);
            }
            watchChild(child);
        }
    }
    Q_EMIT childrenChanged();
    Q_EMIT selectedChildrenChanged();
}

void BaseFileInfoNode::addChild(const BaseFileInfoNodePtr &child)
{
    adopt(child);
    if (!m_children) m_children = BaseFileInfoNodeList();
    m_children->append(child);
    if (!child->m_filter) child->setFolderContentsFilter(m_filter);
    watchChild(child);
    Q_EMIT childrenChanged();
}

void BaseFileInfoNode::watchChild(const BaseFileInfoNodePtr &child)
{
    BaseFileInfoNode *raw = child.get();
    if (raw->selectedForSync() != kNotSelected) m_selectedChildren.insert(raw);
    connect(raw, &BaseFileInfoNode::selectedChildrenChanged, this, [this] {
        if (!m_changingState) Q_EMIT selectedChildrenChanged();
    });
    connect(raw, &BaseFileInfoNode::selectedForSyncChanged, this, [this, raw] { childSelectionChanged(raw); });
}

void BaseFileInfoNode::dontWatchChild(BaseFileInfoNode *child)
{
    disconnect(child, nullptr, this, nullptr);
    // Always dropped, whatever its state: the set never outlives a child.
    m_selectedChildren.remove(child);
}

void BaseFileInfoNode::childSelectionChanged(BaseFileInfoNode *child)
{
    if (m_changingState) return;
    if (child->selectedForSync() != kNotSelected)
        m_selectedChildren.insert(child);
    else
        m_selectedChildren.remove(child);
    Q_EMIT selectedChildrenChanged();
}

void BaseFileInfoNode::setFolderContentsFilter(const VtrFileInfoFilterPtr &filter)
{
    if (!isFolder() || filter == m_filter) return;
    m_filter = filter;
    if (m_children)
        for (const BaseFileInfoNodePtr &child : *m_children)
            child->setFolderContentsFilter(filter);
}

// ---- the file info -------------------------------------------------------------------------

VtrFileInfoPtr BaseFileInfoNode::fileInfo()
{
    if (!m_info) return nullptr;
    if (m_isAlias) {
        if (VtrFileInfoPtr target = m_info->aliasTarget()) return target;
    }
    return m_info;
}

void BaseFileInfoNode::setInfo(const VtrFileInfoPtr &info)
{
    if (info == m_info) return;
    m_info = info;
    m_isAlias = m_info && m_info->aliasTarget() != nullptr;
    Q_EMIT infoChanged();
}

void BaseFileInfoNode::setFileInfo(const VtrFileInfoPtr &info)
{
    setInfo(info);
    Q_EMIT fileInfoChanged();
}

QString BaseFileInfoNode::name()
{
    return m_info ? m_info->name() : QStringLiteral("");
}

QString BaseFileInfoNode::nameWithoutExtension()
{
    return vtr::posixDeletingPathExtension(name());
}

QString BaseFileInfoNode::extension()
{
    return vtr::posixPathExtension(name());
}

QString BaseFileInfoNode::path()
{
    return m_info ? m_info->path() : QString();
}
QString BaseFileInfoNode::humanFriendlyName()
{
    return m_info ? m_info->humanFriendlyName() : QString();
}
QString BaseFileInfoNode::humanFriendlyPath()
{
    return m_info ? m_info->humanFriendlyPath() : QString();
}
qint64 BaseFileInfoNode::freeSpaceOnVolume()
{
    return m_info ? m_info->freeSpaceOnVolume() : 0;
}
QVariantMap BaseFileInfoNode::metadata()
{
    return m_info ? m_info->metadata() : QVariantMap();
}

void BaseFileInfoNode::setMetadata(const QVariantMap &metadata)
{
    if (m_info) m_info->setMetadata(metadata);
}

void BaseFileInfoNode::setCreationDate(const QDateTime &date)
{
    if (m_info) m_info->setCreationDate(date);
}

void BaseFileInfoNode::setModificationDate(const QDateTime &date)
{
    if (m_info) m_info->setModificationDate(date);
}

bool BaseFileInfoNode::setFileContents(const QByteArray &data)
{
    return m_info && m_info->setFileContents(data);
}

QString BaseFileInfoNode::resolvedPath()
{
    const VtrFileInfoPtr info = fileInfo();
    const VtrFileInfoPtr resolved = info ? info->resolvedFileInfo() : nullptr;
    return resolved ? resolved->path() : QString();
}

QImage BaseFileInfoNode::icon()
{
    const VtrFileInfoPtr info = fileInfo();
    return info ? info->icon() : QImage();
}

QDateTime BaseFileInfoNode::creationDate()
{
    const VtrFileInfoPtr info = fileInfo();
    return info ? info->creationDate() : QDateTime();
}

QDateTime BaseFileInfoNode::modificationDate()
{
    const VtrFileInfoPtr info = fileInfo();
    return info ? info->modificationDate() : QDateTime();
}

QByteArray BaseFileInfoNode::fileContents()
{
    const VtrFileInfoPtr info = fileInfo();
    return info ? info->fileContents() : QByteArray();
}

qint64 BaseFileInfoNode::size()
{
    const VtrFileInfoPtr info = fileInfo();
    return info ? info->size() : 0;
}

bool BaseFileInfoNode::isFile()
{
    const VtrFileInfoPtr info = fileInfo();
    return info && info->isFile();
}

bool BaseFileInfoNode::isFolder()
{
    const VtrFileInfoPtr info = fileInfo();
    return info && info->isFolder();
}

bool BaseFileInfoNode::exists()
{
    return m_info && m_info->exists();
}

bool BaseFileInfoNode::visible()
{
    return !exists() || m_info->visible();
}

bool BaseFileInfoNode::hasDRM()
{
    if (!m_info) return false;
    const VtrFileInfoPtr resolved = m_info->resolvedFileInfo();
    return resolved && resolved->hasDRM();
}

bool BaseFileInfoNode::isEqualTo(const BaseFileInfoNodePtr &other)
{
    if (!other) return false;
    const QString mine = path(), theirs = other->path();
    if (mine.isNull() || theirs.isNull()) return false;
    return sameIgnoringCase(mine, theirs);
}

QStringList BaseFileInfoNode::nodePathComponents()
{
    QStringList names;
    names.prepend(name());
    for (BaseFileInfoNodePtr p = parent(); p; p = p->parent())
        names.prepend(p->name());
    return names;
}

QString BaseFileInfoNode::dump(unsigned int level)
{
    QString text = level == 0 ? path() : QString(int(level) * 3, QLatin1Char(' ')) + name();
    if (m_children)
        for (const BaseFileInfoNodePtr &child : *m_children)
            text += QLatin1Char('\n') + child->dump(level + 1);
    return text;
}

// ---- finding ---------------------------------------------------------------------------------

BaseFileInfoNodePtr BaseFileInfoNode::findWithName(const QString &name)
{
    for (const BaseFileInfoNodePtr &child : children())
        if (sameIgnoringCase(child->name(), name)) return child;
    return nullptr;
}

BaseFileInfoNodePtr BaseFileInfoNode::findWithPath(const QString &wantedPath)
{
    const QString wanted = wantedPath.toLower();
    const QString mine = path().toLower();
    if (!wanted.startsWith(mine)) return nullptr;
    if (wanted.size() == mine.size()) return self();
    QString rest = wanted.mid(mine.size());
    if (rest.startsWith(QLatin1Char('/')))
        rest.remove(0, 1);
    else if (!mine.endsWith(QLatin1Char('/')))
        return nullptr; // a sibling whose name goes on
    BaseFileInfoNodePtr node = self();
    for (const QString &component : vtr::posixPathComponents(rest)) {
        node = node->findWithName(component);
        if (!node) return nullptr;
    }
    return node;
}

BaseFileInfoNodePtr BaseFileInfoNode::findWithWindowsName(const QString &name)
{
    if (name.isEmpty() || !isFolder()) return nullptr;
    BaseFileInfoNodePtr candidate;
    for (const BaseFileInfoNodePtr &child : children()) {
        const QString childName = child->name();
        if (sameIgnoringCase(childName, name)) return child;
        if (!candidate && matchesWindowsName(childName, name)) candidate = child;
    }
    return candidate;
}

BaseFileInfoNodeList BaseFileInfoNode::findWithWindowsBaseName(const QString &baseName)
{
    BaseFileInfoNodeList found;
    if (baseName.isEmpty() || !isFolder()) return found;
    for (const BaseFileInfoNodePtr &child : children())
        if (matchesWindowsName(child->nameWithoutExtension(), baseName)) found.append(child);
    return found;
}

// ---- creating and removing ----------------------------------------------------------------------

BaseFileInfoNodePtr BaseFileInfoNode::createFolder(const QString &name)
{
    if (!isFolder()) return nullptr;
    if (BaseFileInfoNodePtr existing = findWithName(name)) return existing;
    const VtrFileInfoPtr folder = fileInfo()->createFolder(name);
    if (!folder || !folder->exists()) return nullptr;
    BaseFileInfoNodePtr node = makeNode(folder, self());
    addChild(node);
    if (selectedForSync() == kSelected) node->setSelectedForSync(kSelected);
    return node;
}

BaseFileInfoNodePtr BaseFileInfoNode::createFolderDontAddToChildren(const QString &name)
{
    if (!isFolder()) return nullptr;
    const VtrFileInfoPtr folder = fileInfo()->createFolder(name);
    if (!folder || !folder->exists()) return nullptr;
    return makeNode(folder, self());
}

BaseFileInfoNodePtr BaseFileInfoNode::createFile(const QString &name, const QByteArray &contents,
                                                 const QVariantMap &attributes)
{
    if (!isFolder()) return nullptr;
    const VtrFileInfoPtr file = fileInfo()->createFile(name, contents, attributes);
    if (!file || !file->exists()) return nullptr;
    BaseFileInfoNodePtr node = makeNode(file, self());
    addChild(node);
    if (selectedForSync() == kSelected) node->setSelectedForSync(kSelected);
    return node;
}

BaseFileInfoNodePtr BaseFileInfoNode::reserveFolderWithName(const QString &name)
{
    if (exists() && !isFolder()) return nullptr;
    if (BaseFileInfoNodePtr child = findWithName(name)) {
        if (!child->exists() || child->isFolder()) return child;
        return nullptr;
    }
    const VtrFileInfoPtr folder = fileInfo();
    const VtrFileInfoPtr item = folder ? folder->find(name) : nullptr;
    if (!item) return nullptr;
    // For an item that does not exist, a kind may answer a sibling instead of
    // a child: reserving that would later make the folder in the wrong place.
    const VtrFileInfoPtr itemParent = item->parentFolder();
    if (!itemParent || !sameIgnoringCase(QDir::cleanPath(itemParent->path()), QDir::cleanPath(folder->path())))
        return nullptr;
    BaseFileInfoNodePtr node = makeNode(item, self());
    node->m_reservedFolder = true;
    addChild(node);
    return node;
}

bool BaseFileInfoNode::createFolder()
{
    if (exists()) return isFolder();
    if (!m_info) return false;
    if (BaseFileInfoNodePtr p = parent(); p && !p->exists()) p->createFolder();
    const VtrFileInfoPtr parentFolder = m_info->parentFolder();
    if (!parentFolder) return false;
    const VtrFileInfoPtr folder = parentFolder->createFolder(name());
    if (!folder || !folder->exists()) return false;
    setInfo(folder);
    m_reservedFolder = false;
    return true;
}

bool BaseFileInfoNode::remove()
{
    const BaseFileInfoNodePtr keep = self();
    bool removed = true;
    if (exists()) {
        try {
            removed = m_info->remove();
        } catch (...) {
            try {
                m_info->refresh();
            } catch (...) {
            }
            removed = !m_info->exists();
        }
    }
    if (removed) {
        setChildren(std::nullopt);
        if (BaseFileInfoNodePtr p = parent()) p->removeChild(this);
    }
    return removed;
}

bool BaseFileInfoNode::removeChild(BaseFileInfoNode *child)
{
    if (!child || !m_children) return false;
    qsizetype index = -1;
    for (qsizetype i = 0; i < m_children->size(); ++i) {
        if (m_children->at(i).get() == child) {
            index = i;
            break;
        }
    }
    if (index < 0) return false;
    const BaseFileInfoNodePtr keep = m_children->at(index);
    dontWatchChild(child);
    if (pointsHere(child)) child->m_parent.reset();
    m_children->removeAt(index);
    Q_EMIT selectedChildrenChanged();
    Q_EMIT childrenChanged();
    return true;
}

void BaseFileInfoNode::removeEmptyFolders()
{
    const BaseFileInfoNodePtr start = isFolder() ? self() : parent();
    if (!start) return;
    const BaseFileInfoNodeList folders = start->children();
    for (const BaseFileInfoNodePtr &child : folders) {
        if (!child->isFolder()) continue;
        child->removeEmptyFolders();
        const BaseFileInfoNodeList inside = child->children();
        if (inside.isEmpty() ||
            (inside.size() == 1 && sameIgnoringCase(inside.first()->name(), QStringLiteral(".DS_Store")))) {
            try {
                child->remove();
            } catch (...) {
            }
        }
    }
}

void BaseFileInfoNode::pareNonExistentChildren()
{
    if (!m_children) return;
    const BaseFileInfoNodeList children = *m_children;
    for (const BaseFileInfoNodePtr &child : children) {
        if (child->isFolder()) {
            child->pareNonExistentChildren();
            if (!child->m_children || child->m_children->isEmpty()) removeChild(child.get());
        } else if (!child->exists()) {
            removeChild(child.get());
        }
    }
}

void BaseFileInfoNode::refresh()
{
    if (m_info) {
        m_info->refresh();
        m_isAlias = m_info->aliasTarget() != nullptr;
    }
    if (!m_children) return;
    BaseFileInfoNodeList old = *m_children;
    const BaseFileInfoNodePtr me = self();
    BaseFileInfoNodeList fresh;
    for (const VtrFileInfoPtr &item : listChildren()) {
        const QString itemPath = item->path();
        qsizetype found = -1;
        for (qsizetype i = 0; i < old.size(); ++i) {
            if (sameIgnoringCase(old.at(i)->path(), itemPath)) {
                found = i;
                break;
            }
        }
        if (found >= 0) {
            fresh.append(old.takeAt(found));
            dontWatchChild(fresh.last().get());
        } else {
            fresh.append(makeNode(item, me));
        }
    }
    for (const BaseFileInfoNodePtr &child : old) {
        if (child->isReservedFolder()) {
            dontWatchChild(child.get());
            fresh.append(child);
        } else if (pointsHere(child.get())) {
            child->m_parent.reset();
        }
    }
    setChildren(fresh);
}

// ---- selection -------------------------------------------------------------------------------------

int BaseFileInfoNode::selectedForSync()
{
    if (m_selectedForSync != kUnknown) return m_selectedForSync;
    const BaseFileInfoNodePtr p = parent();
    const int parentState = p ? p->selectedForSync() : kNotSelected;
    int state = kNotSelected;
    if (parentState == kSelected) state = isFile() && hasDRM() ? kNotSelected : kSelected;
    m_selectedForSync = state;
    return state;
}

void BaseFileInfoNode::setSelectedForSync(int requested)
{
    // A click (-1) always acts, on a mixed box too; any other request that
    // matches the current state changes nothing.
    if (m_changingState) return;
    const int current = selectedForSync();
    if (requested != kMixed && requested == current) return;
    if (requested == kSelected && hasDRM()) return;
    const BaseFileInfoNodePtr keep = self();
    {
        FlagScope changing(m_changingState);
        const int old = m_selectedForSync;
        const bool hasChildren = m_children && !m_children->isEmpty();
        int state;
        if (requested == kMixed) {
            state = old == kNotSelected ? kSelected : kNotSelected;
        } else if (old == kMixed && hasChildren) {
            bool allSelected = true;
            for (const BaseFileInfoNodePtr &child : *m_children)
                if (child->selectedForSync() != kSelected) allSelected = false;
            state = allSelected ? kNotSelected : kSelected;
        } else {
            state = requested;
        }

        m_selectedForSync = state;
        m_selectedChildren.clear();
        if (hasChildren) {
            int selected = 0, notSelected = 0;
            const BaseFileInfoNodeList children = *m_children;
            for (const BaseFileInfoNodePtr &child : children) {
                child->setSelectedForSync(state);
                const int childState = child->selectedForSync();
                if (childState == kMixed) {
                    m_selectedForSync = kMixed;
                    m_selectedChildren.insert(child.get());
                } else if (childState == kSelected) {
                    ++selected;
                    m_selectedChildren.insert(child.get());
                } else {
                    ++notSelected;
                }
            }
            if (m_selectedForSync != kMixed) {
                if (selected > 0 && notSelected > 0)
                    m_selectedForSync = kMixed;
                else if (notSelected == 0)
                    m_selectedForSync = kSelected;
                else
                    m_selectedForSync = kNotSelected;
            }
        }
        if (BaseFileInfoNodePtr p = parent()) p->childChangedState();
        Q_EMIT selectedForSyncChanged();
    }
}

void BaseFileInfoNode::childChangedState()
{
    if (m_changingState) return;
    int state = kSelected;
    bool anySelected = false, anyNotSelected = false;
    if (m_children) {
        for (const BaseFileInfoNodePtr &child : *m_children) {
            const int childState = child->selectedForSync();
            if (childState == kMixed) {
                state = kMixed;
                break;
            }
            (childState == kSelected ? anySelected : anyNotSelected) = true;
            if (anySelected && anyNotSelected) {
                state = kMixed;
                break;
            }
        }
    }
    if (state != kMixed) state = anyNotSelected ? kNotSelected : kSelected;
    if (state == m_selectedForSync) return;
    const BaseFileInfoNodePtr keep = self();
    {
        FlagScope changing(m_changingState);
        m_selectedForSync = state;
        if (BaseFileInfoNodePtr p = parent()) p->childChangedState();
    }
    Q_EMIT selectedForSyncChanged();
}

BaseFileInfoNodeList BaseFileInfoNode::selectedChildren()
{
    BaseFileInfoNodeList result;
    // A folder chosen without ever being opened still hands over its files.
    if (!m_children && isFolder()) this->children();
    if (!m_children) return result;
    const BaseFileInfoNodeList children = *m_children;
    for (const BaseFileInfoNodePtr &child : children) {
        if (!m_selectedChildren.contains(child.get())) continue;
        if (child->isFolder()) {
            child->children();
            result += child->selectedChildren();
        } else {
            result.append(child);
        }
    }
    return result;
}

QVariantMap BaseFileInfoNode::syncState()
{
    QVariantMap record;
    const int state = selectedForSync();
    record.insert(kStateKey, state);
    if (state == kMixed && m_children) {
        QVariantMap children;
        for (const BaseFileInfoNodePtr &child : *m_children) {
            const QString name = child->name();
            const QString key = children.contains(name.toUpper()) ? name : name.toUpper();
            children.insert(key, child->syncState());
        }
        if (!children.isEmpty()) record.insert(kChildrenKey, children);
    }
    return record;
}

void BaseFileInfoNode::setFromSyncState(const QVariantMap &record, bool missingMeansOn)
{
    int state =
        record.contains(kStateKey) ? record.value(kStateKey).toInt() : (missingMeansOn ? kSelected : kNotSelected);
    if (state == kMixed) state = kNotSelected;
    setSelectedForSync(state);
    const QVariantMap children = record.value(kChildrenKey).toMap();
    if (children.isEmpty() || !isFolder()) return;
    const BaseFileInfoNodePtr keep = self();
    for (const BaseFileInfoNodePtr &child : this->children()) {
        const QString name = child->name();
        // An exact key belongs to a name that shared its upper-case form.
        const QString key = children.contains(name) && name != name.toUpper() ? name : name.toUpper();
        if (children.contains(key))
            child->setFromSyncState(children.value(key).toMap(), missingMeansOn);
        else
            child->setSelectedForSync(state);
    }
}

// ---- archiving ----------------------------------------------------------------------------------------

void BaseFileInfoNode::encodeWithCoder(QVariantMap &coder)
{
    if (m_info) coder.insert(kArchiveInfoKey, m_info->archiveToData());
    if (m_children) {
        QVariantList children;
        for (const BaseFileInfoNodePtr &child : *m_children) {
            QVariantMap childCoder;
            child->encodeWithCoder(childCoder);
            children.append(childCoder);
        }
        coder.insert(kArchiveChildrenKey, children);
    }
}

void BaseFileInfoNode::initWithCoder(const QVariantMap &coder)
{
    m_selectedForSync = kNotSelected;
    m_filter.reset();
    if (coder.contains(kArchiveInfoKey))
        setInfo(VtrBaseFileInfo::unarchiveFromData(coder.value(kArchiveInfoKey).toByteArray()));
    if (coder.contains(kArchiveChildrenKey)) {
        const BaseFileInfoNodePtr me = self();
        BaseFileInfoNodeList children;
        for (const QVariant &childCoder : coder.value(kArchiveChildrenKey).toList()) {
            BaseFileInfoNodePtr child = makeNode(nullptr, me);
            child->initWithCoder(childCoder.toMap());
            children.append(child);
        }
        setChildren(children);
    }
}

QByteArray BaseFileInfoNode::archiveToData()
{
    QVariantMap coder;
    encodeWithCoder(coder);
    QByteArray data;
    QDataStream stream(&data, QIODevice::WriteOnly);
    stream.setVersion(QDataStream::Qt_6_4);
    stream << archiveClassName() << coder;
    return data;
}

BaseFileInfoNodePtr BaseFileInfoNode::unarchiveFromData(const QByteArray &data)
{
    QDataStream stream(data);
    stream.setVersion(QDataStream::Qt_6_4);
    QString kind;
    QVariantMap coder;
    stream >> kind >> coder;
    if (stream.status() != QDataStream::Ok || kind != QLatin1String("BaseFileInfoNode")) return nullptr;
    BaseFileInfoNodePtr node = fileInfoNodeWithFileInfo(nullptr);
    node->initWithCoder(coder);
    return node;
}
