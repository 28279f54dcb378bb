#include "devices/command/DeviceListingCache.h"

#include "devices/command/DeviceCommands.h"
#include "devices/command/VtrSymbianFileInfo.h"
#include "foundation/VtrString.h"

#include <algorithm>

namespace {
const QChar kBackslash = QLatin1Char('\\');
} // namespace

namespace devicelisting {

QString folderKey(const QString &path)
{
    return path.endsWith(kBackslash) ? path : path + kBackslash;
}

QString nodePathOf(const QString &path)
{
    if (path.endsWith(kBackslash) && !isDriveRoot(path)) return path.left(path.size() - 1);
    return path;
}

QString parentFolderOf(const QString &path)
{
    return vtr::windowsStringByDeletingLastPathComponent(nodePathOf(path));
}

bool isDriveRoot(const QString &path)
{
    QString drive;
    QString rest;
    vtr::decomposeWindowsPath(path, &drive, &rest);
    return !drive.isEmpty() && rest.isEmpty();
}

} // namespace devicelisting

using namespace devicelisting;

DeviceListingCache::DeviceListingCache(NodeMaker makeNode) : m_makeNode(std::move(makeNode)) {}

void DeviceListingCache::clearListings()
{
    m_listings.clear();
}

void DeviceListingCache::clearDrives()
{
    m_drives.clear();
}

void DeviceListingCache::insertSorted(Listing &listing, const NodePtr &node)
{
    const QString name = node->name();
    const auto at = std::upper_bound(listing.begin(), listing.end(), name, [](const QString &n, const NodePtr &other) {
        return VtrBaseFileInfo::fileNameLessThan(n, other->name());
    });
    listing.insert(at, node);
}

DeviceListingCache::Listing::iterator DeviceListingCache::find(Listing &listing, const QString &nodePath)
{
    // A node's path is `nodePath`, or that with a folder's trailing
    // backslash; compared in place, as a listing may hold thousands.
    const QString folderForm = folderKey(nodePath);
    const bool folderFormCounts = !isDriveRoot(folderForm);
    const auto isAt = [&](Qt::CaseSensitivity cs) {
        return [&, cs](const NodePtr &node) {
            return node->storedPathEquals(nodePath, cs) || (folderFormCounts && node->storedPathEquals(folderForm, cs));
        };
    };
    const auto exact = std::find_if(listing.begin(), listing.end(), isAt(Qt::CaseSensitive));
    if (exact != listing.end()) return exact;
    return std::find_if(listing.begin(), listing.end(), isAt(Qt::CaseInsensitive));
}

void DeviceListingCache::storeListing(const Listing &listing, const QString &folderPath)
{
    m_listings[folderKey(folderPath)] = listing;
}

DeviceListingCache::Listing *DeviceListingCache::listing(const QString &folderPath)
{
    const auto it = m_listings.find(folderKey(folderPath));
    return it == m_listings.end() ? nullptr : &it->second;
}

bool DeviceListingCache::hasListing(const QString &folderPath) const
{
    return m_listings.count(folderKey(folderPath)) != 0;
}

void DeviceListingCache::forgetListing(const QString &folderPath)
{
    m_listings.erase(folderKey(folderPath));
}

void DeviceListingCache::forgetTree(const QString &path)
{
    const QString key = folderKey(nodePathOf(path));
    for (auto it = m_listings.begin(); it != m_listings.end();) {
        if (it->first.startsWith(key, Qt::CaseInsensitive))
            it = m_listings.erase(it);
        else
            ++it;
    }
}

DeviceListingCache::NodePtr DeviceListingCache::node(const QString &path)
{
    const QString nodePath = nodePathOf(path);
    if (isDriveRoot(nodePath)) return nullptr;
    Listing *folder = listing(parentFolderOf(nodePath));
    if (!folder) return nullptr;
    const auto it = find(*folder, nodePath);
    return it == folder->end() ? nullptr : *it;
}

DeviceListingCache::NodePtr DeviceListingCache::storeEntry(const QVariantMap &entry, const QString &path)
{
    const QString nodePath = nodePathOf(path);
    if (isDriveRoot(nodePath)) return nullptr;
    Listing *folder = listing(parentFolderOf(nodePath));
    if (!folder) return nullptr;
    const auto it = find(*folder, nodePath);
    if (it != folder->end()) {
        (*it)->updateWithXMLInfo(entry);
        return *it;
    }
    const NodePtr node = m_makeNode(nodePath, entry);
    insertSorted(*folder, node);
    return node;
}

void DeviceListingCache::moveItem(const QString &oldPath, const QString &newPath)
{
    const QString from = nodePathOf(oldPath);
    const QString to = nodePathOf(newPath);
    const QString oldParent = parentFolderOf(from);
    const QString newParent = parentFolderOf(to);
    Listing *oldListing = listing(oldParent);
    NodePtr node;
    if (oldListing) {
        const auto it = find(*oldListing, from);
        if (it != oldListing->end()) node = *it;
    }
    // What was listed below a moved folder carries the old paths.
    forgetTree(from);
    forgetTree(to);
    const auto takeNewPath = [&] {
        node->updateWithNewPath(to);
        node->updateWithXMLInfo({{DeviceCommands::kEntryFilename, vtr::windowsLastPathComponent(to)}});
    };

    // The item the move replaced, if any, leaves the listing.
    const auto moveInto = [&](Listing &target) {
        target.removeAll(node);
        const auto replaced = find(target, to);
        if (replaced != target.end()) target.erase(replaced);
        takeNewPath();
        insertSorted(target, node);
    };
    if (oldParent.compare(newParent, Qt::CaseInsensitive) == 0) {
        // A rename in one folder: the item stays listed, under its new name.
        if (node && oldListing) moveInto(*oldListing);
        return;
    }
    Listing *newListing = listing(newParent);
    if (newListing) {
        if (!node) {
            forgetListing(newParent); // listed again when asked
            oldListing = listing(oldParent);
        } else {
            moveInto(*newListing);
        }
    } else if (node) {
        takeNewPath();
    }
    if (node && oldListing) oldListing->removeAll(node);
}

void DeviceListingCache::removeItem(const QString &path)
{
    const QString nodePath = nodePathOf(path);
    if (isDriveRoot(nodePath)) return;
    Listing *folder = listing(parentFolderOf(nodePath));
    if (!folder) return;
    const auto it = find(*folder, nodePath);
    if (it != folder->end()) folder->erase(it);
}

std::optional<QVariantMap> DeviceListingCache::drive(const QString &driveString) const
{
    const auto it = m_drives.find(folderKey(driveString));
    if (it == m_drives.end()) return std::nullopt;
    return it->second;
}

bool DeviceListingCache::hasDrive(const QString &driveString) const
{
    return m_drives.count(folderKey(driveString)) != 0;
}

QVariantMap DeviceListingCache::storeDrive(const QVariantMap &drive, const QString &driveString)
{
    QVariantMap &cached = m_drives[folderKey(driveString)];
    for (auto it = drive.constBegin(); it != drive.constEnd(); ++it)
        cached.insert(it.key(), it.value());
    return cached;
}

void DeviceListingCache::forgetDriveOf(const QString &path)
{
    QString drive;
    vtr::decomposeWindowsPath(path, &drive, nullptr);
    if (!drive.isEmpty()) m_drives.erase(drive);
}
