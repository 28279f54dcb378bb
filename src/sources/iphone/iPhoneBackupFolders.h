#pragma once

#include <QString>
#include <QStringList>

// Where iPhone backups are looked for: $XDG_DATA_HOME/MobileSync/Backup (the
// folder iTunes uses on the Mac, under the per-user data folder), then every
// folder named by the user default "iPhoneBackupFolders" (a list of paths,
// or one path): a backup folder copied from another computer, or one written
// by a Linux backup tool in the same format.
namespace vtr::iphone {

inline constexpr const char *kBackupFoldersDefaultsKey = "iPhoneBackupFolders";

QString defaultBackupRoot();
// The default root first, then the user default's, without duplicates; the
// roots need not exist.
QStringList backupRoots();
// Every sub-folder of every existing root, each root's in listing order.
QStringList backupSubfolders();

} // namespace vtr::iphone
