#pragma once

#include "fileinfo/BaseFileInfoNode.h"
#include "fileinfo/VtrMacFileInfo.h"

#include <QByteArray>
#include <QString>
#include <QVariantMap>

#include <memory>

class MacFileInfoNode;
using MacFileInfoNodePtr = std::shared_ptr<MacFileInfoNode>;

// A tree node over a local file or folder, for browsing a folder tree on this
// computer. Children are made on first demand from a filtered listing of the
// folder, a symbolic link stands for its target, and the common operations are
// handed to the item. The selection, finding and paring of the general tree
// come with it.
//
// What differs from the general node:
// - The archive keeps paths ("Item Path", "Children"), not file-info archives,
//   so a restored tree sees the disk as it is now: changed files show their
//   new size and dates, vanished ones answer exists() false (drop them with
//   pareNonExistentChildren()), and files added to a folder whose children
//   were archived appear after refresh(). An item that has become a file
//   gets no children back; the children of a missing folder are kept, since
//   its volume may only be unmounted. The filter is not archived.
// - parent() builds a parent node when no node holds this one.
// - selectedChildren() of a selected folder whose children were never built
//   builds them, rather than answering nothing.
// - createFolder(name) and createFile() list the folder first, so the new
//   item joins its siblings, and never add a second node for an item that
//   already has one.
class MacFileInfoNode : public BaseFileInfoNode
{
public:
    // Use the factories; the constructor is public only for std::make_shared.
    MacFileInfoNode(const VtrFileInfoPtr &info, const BaseFileInfoNodePtr &parent);

    static MacFileInfoNodePtr macFileInfoNodeWithMacFileInfo(const VtrMacFileInfo::Ptr &info);
    static MacFileInfoNodePtr macFileInfoNode(const VtrMacFileInfo::Ptr &info)
    {
        return macFileInfoNodeWithMacFileInfo(info);
    }
    static MacFileInfoNodePtr macFileInfoNodeWithPath(const QString &path);
    // Creates the file (and missing folders above it) first; null when the
    // folders could not be made, else a node whose item need not exist.
    static MacFileInfoNodePtr macFileInfoNodeCreateAbsoluteFilePath(const QString &path);
    // Creates every missing folder of the path; null when that fails.
    static MacFileInfoNodePtr macFileInfoNodeCreateAbsoluteFolderPath(const QString &path);
    // A node whose parent is `parent` (weakly known; it takes the parent's
    // filter). The parent does not list it among its children by this alone.
    static MacFileInfoNodePtr initWithMacFileInfoAndParent(const VtrMacFileInfo::Ptr &info,
                                                           const BaseFileInfoNodePtr &parent);
    // A node whose children are built at once, `child` standing in for its
    // own item among them.
    static MacFileInfoNodePtr initWithMacFileInfoAndChild(const VtrMacFileInfo::Ptr &info,
                                                          const BaseFileInfoNodePtr &child);

    // The node that holds this one. When none does: null at the top of the
    // disk (or without an item), else a new node for the item's parent folder
    // whose children are this very node among new nodes for all its siblings,
    // listed unfiltered, each then given this node's filter.
    // Hides BaseFileInfoNode::parent(), which answers only the holding node.
    BaseFileInfoNodePtr parent();

    using BaseFileInfoNode::createFolder;
    // `name` is one name. The existing child of that name when it is a
    // folder; else the folder is made and its node added (selected when this
    // node is). Null when this node is not a folder, a file is in the way or
    // the folder does not exist afterwards.
    BaseFileInfoNodePtr createFolder(const QString &name) override;
    // Writes the file (replacing the contents of an existing file of that
    // name, whose node is then answered); a new file's node is added. Null
    // when this node is not a folder or the file does not exist afterwards.
    BaseFileInfoNodePtr createFile(const QString &name, const QByteArray &contents,
                                   const QVariantMap &attributes) override;

    // The selected files of the whole subtree (no folders). A folder whose
    // children were never built builds them first: a folder chosen without
    // being opened hands over everything in it.
    BaseFileInfoNodeList selectedChildren() override;

    // "Item Path": the item's path (when the node has an item with one);
    // "Children": a list of the built children's maps (when built).
    void encodeWithCoder(QVariantMap &coder) override;
    // Loads an archive into a fresh node: state 0, no filter. A missing key
    // leaves the item or the children absent.
    void initWithCoder(const QVariantMap &coder) override;
    QString archiveClassName() const override { return QStringLiteral("MacFileInfoNode"); }
    // Null for unreadable data or another node class's archive.
    static MacFileInfoNodePtr unarchiveFromData(const QByteArray &data);

protected:
    BaseFileInfoNodePtr makeNode(const VtrFileInfoPtr &info, const BaseFileInfoNodePtr &parent) override;

private:
    BaseFileInfoNodePtr childNamed(const QString &name);
    BaseFileInfoNodePtr adoptCreated(const VtrFileInfoPtr &item);
};
