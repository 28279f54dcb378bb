#pragma once

#include <QList>
#include <QString>
#include <QVariantMap>

#include <functional>
#include <map>
#include <memory>
#include <optional>

class VtrSymbianFileInfo;

// Paths of the phone's command interface as the listings key them.
namespace devicelisting {
// Keys of the folder listings end in a backslash.
QString folderKey(const QString &path);
// The path a node is made for: without a trailing backslash, except a drive
// root.
QString nodePathOf(const QString &path);
QString parentFolderOf(const QString &path);
bool isDriveRoot(const QString &path);
} // namespace devicelisting

// What PlatformDevice remembers of the phone between commands: the folder
// listings it read (nodes in file-name order) and the drive entries. Paths
// are standardized device paths. Names that differ only in letter case are
// different items here: a look-up takes the exact name first and falls back
// to another letter case only when the exact one is not listed (a phone with
// a case-blind file system answers either).
//
// Not thread-safe: the device guards it with its instance lock.
class DeviceListingCache
{
public:
    using NodePtr = std::shared_ptr<VtrSymbianFileInfo>;
    using Listing = QList<NodePtr>;
    // Makes the node of a newly listed item from its listing entry.
    using NodeMaker = std::function<NodePtr(const QString &path, const QVariantMap &entry)>;

    explicit DeviceListingCache(NodeMaker makeNode);

    void clearListings();
    void clearDrives();
    void storeListing(const Listing &listing, const QString &folderPath);
    // Null when the folder was not listed; stays valid while other folders change.
    Listing *listing(const QString &folderPath);
    bool hasListing(const QString &folderPath) const;
    void forgetListing(const QString &folderPath);
    // The listing of the folder and of every folder below it.
    void forgetTree(const QString &path);

    // The listed node of an item; null when its folder is not listed or the
    // item is not in it.
    NodePtr node(const QString &path);
    // Updates the listed node of an item from a listing entry, or lists a new
    // one; null when its folder is not listed.
    NodePtr storeEntry(const QVariantMap &entry, const QString &path);
    // Follows a move or rename of an item in the listings.
    void moveItem(const QString &oldPath, const QString &newPath);
    void removeItem(const QString &path);

    std::optional<QVariantMap> drive(const QString &driveString) const;
    bool hasDrive(const QString &driveString) const;
    // Merges the entry into what is known of the drive and answers the whole.
    QVariantMap storeDrive(const QVariantMap &drive, const QString &driveString);
    void forgetDriveOf(const QString &path);
    // Every drive known, by drive string.
    const std::map<QString, QVariantMap> &drives() const { return m_drives; }

    static void insertSorted(Listing &listing, const NodePtr &node);

private:
    // The position of the item in the listing (see the class comment), or end().
    static Listing::iterator find(Listing &listing, const QString &nodePath);

    NodeMaker m_makeNode;
    // Ordered maps: references to a listing stay valid while others change.
    std::map<QString, Listing> m_listings;
    std::map<QString, QVariantMap> m_drives;
};
