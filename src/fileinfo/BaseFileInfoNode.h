#pragma once

#include "fileinfo/VtrBaseFileInfo.h"

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <memory>
#include <optional>

class BaseFileInfoNode;
using BaseFileInfoNodePtr = std::shared_ptr<BaseFileInfoNode>;
using BaseFileInfoNodeList = QList<BaseFileInfoNodePtr>;

// A tree of nodes over file infos of any kind, so that a view can show folders
// with check boxes and the system can learn which files were chosen. A node
// loads its children from the store on first demand (through a listing filter
// handed down the tree), keeps a three-state selection that flows down to its
// children and up to its parents, can reserve folders that do not exist yet,
// and turns the selection into a compact map and back.
//
// Ownership: nodes are shared objects, always held through BaseFileInfoNodePtr
// and made by the factories. A parent owns its children; a child knows its
// parent weakly. Nodes are used on one thread (the view's).
//
// Announcements (Qt signals, sent after the change): selectedForSyncChanged,
// selectedChildrenChanged, childrenChanged, infoChanged and fileInfoChanged.
// Every node listens to the first two of each child it holds.
class BaseFileInfoNode : public QObject, public std::enable_shared_from_this<BaseFileInfoNode>
{
    Q_OBJECT

public:
    // Selection states.
    static constexpr int kSelected = 1;
    static constexpr int kNotSelected = 0;
    static constexpr int kMixed = -1;   // some descendants selected, some not
    static constexpr int kUnknown = -2; // taken from the parent on first read

    // Use the factories; the constructor is public only for std::make_shared.
    BaseFileInfoNode(const VtrFileInfoPtr &info, const BaseFileInfoNodePtr &parent);
    ~BaseFileInfoNode() override;

    // A node without a parent.
    static BaseFileInfoNodePtr fileInfoNodeWithFileInfo(const VtrFileInfoPtr &info);
    // A node whose parent is `parent` (weakly known; it takes the parent's
    // filter). The parent does not list it among its children by this alone.
    static BaseFileInfoNodePtr initWithFileInfoAndParent(const VtrFileInfoPtr &info, const BaseFileInfoNodePtr &parent);
    // A node without a parent whose children are loaded at once, reusing
    // `child` for the listed item that equals its file info: builds a tree
    // upward from an existing node.
    static BaseFileInfoNodePtr initWithFileInfoAndChild(const VtrFileInfoPtr &info, const BaseFileInfoNodePtr &child);
    // Refused: writes "VtrBaseFileInfo: do not use init." to the system log and
    // answers nullptr.
    static BaseFileInfoNodePtr init();

    // ---- structure ----------------------------------------------------------------

    // The children, loaded first when they are not and the node is a folder;
    // empty for a file.
    BaseFileInfoNodeList children();
    bool childrenLoaded() const { return m_children.has_value(); }
    // Replaces the children (std::nullopt: not loaded).
    void setChildren(const std::optional<BaseFileInfoNodeList> &children);
    int numChildren();
    BaseFileInfoNodePtr parent() const { return m_parent.lock(); }
    VtrFileInfoFilterPtr folderContentsFilter() const { return m_filter; }
    // Only for a folder, and only when it differs: kept and handed to every
    // loaded child.
    void setFolderContentsFilter(const VtrFileInfoFilterPtr &filter);

    // ---- the file info and its attributes ------------------------------------------

    // The alias target for an alias, else the item itself; null without one.
    VtrFileInfoPtr fileInfo();
    VtrFileInfoPtr unaliasedFileInfo() const { return m_info; }
    void setFileInfo(const VtrFileInfoPtr &info);
    bool isAlias() const { return m_isAlias; }

    QString name();                 // "" without an item
    QString nameWithoutExtension(); // of name(), POSIX rules
    QString extension();
    // Of the item itself (null texts, 0, empty maps, nothing without one).
    QString path();
    QString humanFriendlyName();
    QString humanFriendlyPath();
    qint64 freeSpaceOnVolume();
    QVariantMap metadata();
    void setMetadata(const QVariantMap &metadata);
    void setCreationDate(const QDateTime &date);
    void setModificationDate(const QDateTime &date);
    bool setFileContents(const QByteArray &data);
    // Of fileInfo() (the alias target for an alias).
    QString resolvedPath();
    QImage icon();
    QDateTime creationDate();
    QDateTime modificationDate();
    QByteArray fileContents();
    qint64 size();
    bool isFile();
    bool isFolder();
    bool exists();  // of the item itself
    bool visible(); // true when the item does not exist
    bool hasDRM();  // of the item's resolved file info

    // Paths equal ignoring case; false when either node has no item.
    bool isEqualTo(const BaseFileInfoNodePtr &other);
    QString description() { return path(); }
    // Names from the root node down to this one.
    QStringList nodePathComponents();
    // Debugging text: this node's path (level 0) or three spaces per level and
    // its name, then each loaded child one level deeper on its own line.
    QString dump(unsigned int level = 0);

    // ---- finding, creating, removing ------------------------------------------------

    // The first child whose name equals `name` ignoring case.
    BaseFileInfoNodePtr findWithName(const QString &name);
    // The node for `path` (ignoring case) at or below this node. A path that
    // merely begins with this node's path text ("/Musicx" under "/Music") is
    // not below it.
    BaseFileInfoNodePtr findWithPath(const QString &path);
    // The child named `name` ignoring case, else the first whose name matches
    // through one of the Windows-valid forms.
    BaseFileInfoNodePtr findWithWindowsName(const QString &name);
    // Every child whose name without extension matches `baseName` in the same
    // ways (empty for a file or an empty name).
    BaseFileInfoNodeList findWithWindowsBaseName(const QString &baseName);
    // An existing child of that name, or a new folder on the store with its
    // node added (selected when this node is). Null when this is not a folder
    // or the folder does not exist afterwards.
    virtual BaseFileInfoNodePtr createFolder(const QString &name);
    // The same without the look-up and without adding the node.
    BaseFileInfoNodePtr createFolderDontAddToChildren(const QString &name);
    virtual BaseFileInfoNodePtr createFile(const QString &name, const QByteArray &contents,
                                           const QVariantMap &attributes);
    // A node for a child folder that may not exist yet (a reserved folder),
    // or the existing child folder, or a missing child of that name. Null
    // when an existing file has the name, when this node is an existing file,
    // or when the store cannot name a child of this node's item.
    BaseFileInfoNodePtr reserveFolderWithName(const QString &name);
    bool isReservedFolder() const { return m_reservedFolder; }
    // Makes this node's own folder exist (missing ancestors first).
    bool createFolder();
    // Removes the item from the store and the node from the tree.
    bool remove();
    // Takes a child out of the tree (the store is not touched).
    bool removeChild(BaseFileInfoNode *child);
    // Removes empty folders (or ones holding only ".DS_Store") below this node
    // (below the parent for a file) from the store and the tree.
    void removeEmptyFolders();
    // Drops every loaded file that does not exist and every folder left
    // without loaded children.
    void pareNonExistentChildren();
    // Reloads the children from the store, keeping existing nodes and the
    // reserved folders that the store does not list.
    void refresh();

    // ---- selection --------------------------------------------------------------------

    int selectedForSync();
    // 1 selects, 0 deselects, -1 is a click on the box: it selects a node in
    // state 0 and deselects any other. A DRM-protected item is never selected.
    void setSelectedForSync(int state);
    // A child changed its state: recompute this node's.
    void childChangedState();
    // The selected files of the whole subtree (no folders), in tree order.
    virtual BaseFileInfoNodeList selectedChildren();
    // {"_selectedForSync": state} plus, for a mixed node with loaded children,
    // "_children": each child's record under its upper-cased name. Names that
    // differ only in case (possible on this system's disks) keep apart: the
    // later ones are recorded under their exact names.
    QVariantMap syncState();
    // Applies a record: a missing state means selected when
    // `missingMeansOn`, a recorded mixed state is applied as 0 and comes back
    // through the children's records; a child without a record takes the
    // state applied to this node.
    void setFromSyncState(const QVariantMap &state, bool missingMeansOn);

    // ---- archiving ---------------------------------------------------------------------

    // "BaseFileInfoNode_FileInfo" (the item's archive bytes) and
    // "BaseFileInfoNode_Children" (a list of the loaded children's maps), each
    // only when present. Selection, filter and reservation are not archived.
    virtual void encodeWithCoder(QVariantMap &coder);
    // Loads an archive into a fresh node: state 0, no filter.
    virtual void initWithCoder(const QVariantMap &coder);
    // The archive names the node class (archiveClassName()); each class reads
    // back only its own archives.
    QByteArray archiveToData();
    static BaseFileInfoNodePtr unarchiveFromData(const QByteArray &data);
    virtual QString archiveClassName() const { return QStringLiteral("BaseFileInfoNode"); }

Q_SIGNALS:
    void selectedForSyncChanged();
    void selectedChildrenChanged();
    void childrenChanged();
    void infoChanged();
    void fileInfoChanged();

protected:
    // A new node of the receiver's class (kinds with their own node class
    // override it).
    virtual BaseFileInfoNodePtr makeNode(const VtrFileInfoPtr &info, const BaseFileInfoNodePtr &parent);
    // Sets the item ("_info"), announcing infoChanged when it differs.
    void setInfo(const VtrFileInfoPtr &info);
    // Loads the children from the store, reusing `reuse` (may be null) for
    // the listed item that equals its file info.
    void loadChildren(const BaseFileInfoNodePtr &reuse);
    // Appends one child (making the list when it is not loaded).
    void addChild(const BaseFileInfoNodePtr &child);
    BaseFileInfoNodePtr self() { return weak_from_this().lock(); }

private:
    VtrFileInfoList listChildren();
    void adopt(const BaseFileInfoNodePtr &child);
    void watchChild(const BaseFileInfoNodePtr &child);
    void dontWatchChild(BaseFileInfoNode *child);
    void childSelectionChanged(BaseFileInfoNode *child);
    bool pointsHere(const BaseFileInfoNode *child) const;

    VtrFileInfoPtr m_info;
    std::optional<BaseFileInfoNodeList> m_children;
    VtrFileInfoFilterPtr m_filter;
    bool m_isAlias = false;
    std::weak_ptr<BaseFileInfoNode> m_parent;
    int m_selectedForSync = kUnknown;
    bool m_changingState = false;
    bool m_reservedFolder = false;
    // Children whose state is not 0; always a subset of the children held.
    QSet<BaseFileInfoNode *> m_selectedChildren;
};
