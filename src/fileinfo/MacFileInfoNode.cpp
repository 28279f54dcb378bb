#include "MacFileInfoNode.h"

#include <QDataStream>
#include <QIODevice>

namespace {

const QString kItemPathKey = QStringLiteral("Item Path");
const QString kChildrenKey = QStringLiteral("Children");

// One name of this folder: nothing that would lead elsewhere.
bool isOneName(const QString &name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
           !name.contains(QLatin1Char('/')) && !name.contains(QChar(0));
}

} // namespace

MacFileInfoNode::MacFileInfoNode(const VtrFileInfoPtr &info, const BaseFileInfoNodePtr &parent)
    : BaseFileInfoNode(info, parent)
{}

MacFileInfoNodePtr MacFileInfoNode::macFileInfoNodeWithMacFileInfo(const VtrMacFileInfo::Ptr &info)
{
    return std::make_shared<MacFileInfoNode>(info, nullptr);
}

MacFileInfoNodePtr MacFileInfoNode::macFileInfoNodeWithPath(const QString &path)
{
    return macFileInfoNodeWithMacFileInfo(VtrMacFileInfo::fileInfoWithPath(path));
}

MacFileInfoNodePtr MacFileInfoNode::macFileInfoNodeCreateAbsoluteFilePath(const QString &path)
{
    VtrMacFileInfo::Ptr info = VtrMacFileInfo::fileInfoCreateFileWithFullPath(path);
    return info ? macFileInfoNodeWithMacFileInfo(info) : nullptr;
}

MacFileInfoNodePtr MacFileInfoNode::macFileInfoNodeCreateAbsoluteFolderPath(const QString &path)
{
    VtrMacFileInfo::Ptr info = VtrMacFileInfo::fileInfoCreateFolderWithFullPath(path);
    return info ? macFileInfoNodeWithMacFileInfo(info) : nullptr;
}

MacFileInfoNodePtr MacFileInfoNode::initWithMacFileInfoAndParent(const VtrMacFileInfo::Ptr &info,
                                                                 const BaseFileInfoNodePtr &parent)
{
    return std::make_shared<MacFileInfoNode>(info, parent);
}

MacFileInfoNodePtr MacFileInfoNode::initWithMacFileInfoAndChild(const VtrMacFileInfo::Ptr &info,
                                                                const BaseFileInfoNodePtr &child)
{
    MacFileInfoNodePtr node = macFileInfoNodeWithMacFileInfo(info);
    if (node->isFolder()) node->loadChildren(child);
    return node;
}

BaseFileInfoNodePtr MacFileInfoNode::makeNode(const VtrFileInfoPtr &info, const BaseFileInfoNodePtr &parent)
{
    return std::make_shared<MacFileInfoNode>(info, parent);
}

BaseFileInfoNodePtr MacFileInfoNode::parent()
{
    // A node that is held keeps its place: building another parent would
    // take it away from the tree that holds it.
    if (BaseFileInfoNodePtr held = BaseFileInfoNode::parent()) return held;
    const VtrFileInfoPtr item = unaliasedFileInfo();
    auto folder = std::dynamic_pointer_cast<VtrMacFileInfo>(item ? item->parentFolder() : nullptr);
    if (!folder) return nullptr;
    // Building the children hands the new parent's (empty) filter to this
    // node; the receiver's own goes to the whole new level afterwards.
    const VtrFileInfoFilterPtr filter = folderContentsFilter();
    MacFileInfoNodePtr node = initWithMacFileInfoAndChild(folder, self());
    node->setFolderContentsFilter(filter);
    return node;
}

// ---- creating -------------------------------------------------------------------------------

BaseFileInfoNodePtr MacFileInfoNode::childNamed(const QString &name)
{
    // Linux keeps "a" and "A" apart: the exact name wins over a match in
    // other letter case.
    for (const BaseFileInfoNodePtr &child : children())
        if (child->name() == name) return child;
    return findWithName(name);
}

BaseFileInfoNodePtr MacFileInfoNode::adoptCreated(const VtrFileInfoPtr &item)
{
    for (const BaseFileInfoNodePtr &child : children()) {
        if (child->path() == item->path()) {
            child->refresh();
            return child;
        }
    }
    BaseFileInfoNodePtr node = makeNode(item, self());
    addChild(node);
    if (selectedForSync() == kSelected) node->setSelectedForSync(kSelected);
    return node;
}

BaseFileInfoNodePtr MacFileInfoNode::createFolder(const QString &name)
{
    if (!isFolder() || !isOneName(name)) return nullptr;
    // The folder is listed first: a list holding only the new node would hide
    // every item already there.
    if (BaseFileInfoNodePtr existing = childNamed(name)) {
        if (existing->exists()) return existing->isFolder() ? existing : nullptr;
        return existing->createFolder() ? existing : nullptr; // a reserved or vanished folder
    }
    const VtrFileInfoPtr folder = fileInfo();
    const VtrFileInfoPtr made = folder->createFolder(name);
    if (!made || !made->exists()) return nullptr;
    // The entry of this folder, also when it is a link to a folder elsewhere.
    const VtrFileInfoPtr item = folder->find(name);
    if (!item || !item->isFolder()) return nullptr;
    return adoptCreated(item);
}

BaseFileInfoNodePtr MacFileInfoNode::createFile(const QString &name, const QByteArray &contents,
                                                const QVariantMap &attributes)
{
    if (!isFolder()) return nullptr;
    if (BaseFileInfoNodePtr existing = childNamed(name); existing && existing->isFolder()) return nullptr;
    const VtrFileInfoPtr made = fileInfo()->createFile(name, contents, attributes);
    if (!made || !made->exists() || !made->isFile()) return nullptr;
    return adoptCreated(made);
}

BaseFileInfoNodeList MacFileInfoNode::selectedChildren()
{
    if (!childrenLoaded() && selectedForSync() != kNotSelected) children();
    return BaseFileInfoNode::selectedChildren();
}

// ---- archiving -----------------------------------------------------------------------------

void MacFileInfoNode::encodeWithCoder(QVariantMap &coder)
{
    const QString itemPath = path();
    if (!itemPath.isEmpty()) coder.insert(kItemPathKey, itemPath);
    if (childrenLoaded()) {
        QVariantList list;
        for (const BaseFileInfoNodePtr &child : children()) {
            QVariantMap childCoder;
            child->encodeWithCoder(childCoder);
            list.append(childCoder);
        }
        coder.insert(kChildrenKey, list);
    }
}

void MacFileInfoNode::initWithCoder(const QVariantMap &coder)
{
    BaseFileInfoNode::initWithCoder(QVariantMap()); // the decoded defaults: state 0, no filter
    const QString itemPath = coder.value(kItemPathKey).toString();
    if (!itemPath.isEmpty()) setInfo(VtrMacFileInfo::fileInfoWithPath(itemPath));
    const auto archived = coder.constFind(kChildrenKey);
    if (archived == coder.constEnd()) return;
    // A file has no children, whatever stood there when the tree was
    // archived. The children of a missing folder stay: its volume may only be
    // unmounted.
    if (exists() && !isFolder()) return;
    const BaseFileInfoNodePtr me = self();
    BaseFileInfoNodeList nodes;
    for (const QVariant &childCoder : archived->toList()) {
        auto node = std::make_shared<MacFileInfoNode>(nullptr, me);
        node->initWithCoder(childCoder.toMap());
        nodes.append(node);
    }
    setChildren(nodes);
}

MacFileInfoNodePtr MacFileInfoNode::unarchiveFromData(const QByteArray &data)
{
    QDataStream stream(data);
    stream.setVersion(QDataStream::Qt_6_4);
    QString kind;
    QVariantMap coder;
    stream >> kind >> coder;
    if (stream.status() != QDataStream::Ok || kind != QLatin1String("MacFileInfoNode")) return nullptr;
    auto node = std::make_shared<MacFileInfoNode>(nullptr, nullptr);
    node->initWithCoder(coder);
    return node;
}
