#include "sources/iphone/iPhoneBackupFolders.h"

#include "fileinfo/VtrMacFileInfo.h"
#include "platform/UserDefaults.h"
#include "platform/VtrException.h"

#include <QStandardPaths>

namespace vtr::iphone {

QString defaultBackupRoot()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/MobileSync/Backup");
}

QStringList backupRoots()
{
    QStringList roots{defaultBackupRoot()};
    const QVariant configured = platform::UserDefaults::value(QString::fromLatin1(kBackupFoldersDefaultsKey));
    const QStringList extra = configured.typeId() == QMetaType::QString ? QStringList{configured.toString()}
                                                                        : configured.toStringList();
    for (const QString &root : extra) {
        if (!root.isEmpty() && !roots.contains(root)) roots.append(root);
    }
    return roots;
}

QStringList backupSubfolders()
{
    QStringList folders;
    for (const QString &root : backupRoots()) {
        const VtrMacFileInfo::Ptr rootInfo = VtrMacFileInfo::fileInfoWithPath(root);
        if (!rootInfo->isFolder()) continue;
        try {
            for (const VtrFileInfoPtr &child : rootInfo->folderContents()) {
                if (child && child->isFolder()) folders.append(child->path());
            }
        } catch (const VtrException &) {
            // An unreadable root lists nothing; the others still count.
        }
    }
    return folders;
}

} // namespace vtr::iphone
