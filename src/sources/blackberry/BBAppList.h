#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVariantList>

#include <optional>

// The applications installed on a BlackBerry, from the newest desktop backup
// ("*.bbb", a zip archive) left on this computer: its "Databases/Databases.ipd"
// is unpacked into a fresh private folder (removed afterwards) and its
// "Code Module Group Properties" and "Handheld Agent" databases are read.
class BBAppList
{
public:
    // User default naming more backup folders (a path or a list of paths).
    static constexpr const char *kBackupFoldersDefaultsKey = "BlackBerryBackupFolders";

    // "BlackBerry Backups" in the person's documents folder (as the desktop
    // names it) and in "~/Documents", then the user default's.
    static QStringList backupFolders();
    // The archive with the latest modification date (of equal dates the first
    // listed); an empty URL when there is none.
    QUrl urlOfBBBFile() const;
    // App items {"itemId", "itemName"}: those of "Code Module Group
    // Properties" (numeric identifiers) first, then those of "Handheld Agent"
    // (module names) whose name is not listed yet. nullopt without an archive.
    std::optional<QVariantList> findBBApps() const;

    // The list from an already parsed IPD file (the second half of findBBApps).
    static QVariantList appsFromIPD(const QVariantMap &ipd);
};
