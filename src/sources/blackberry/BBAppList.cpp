#include "sources/blackberry/BBAppList.h"

#include "fileinfo/ArchiveUtils.h"
#include "fileinfo/VtrMacFileInfo.h"
#include "foundation/Log.h"
#include "platform/Folders.h"
#include "platform/VtrException.h"
#include "sources/blackberry/BlackBerryIPD.h"
#include "sources/iphone/iPhoneBackupFolders.h"

#include <QDateTime>
#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>

namespace {

const QString kAppGroupDatabase = QStringLiteral("Code Module Group Properties");
const QString kHandheldAgentDatabase = QStringLiteral("Handheld Agent");
const QString kIpdMember = QStringLiteral("Databases/Databases.ipd");
constexpr qsizetype kHandheldAgentMinFields = 8;
constexpr qsizetype kModuleNameField = 2;
constexpr qsizetype kDisplayNameField = 4;

// Modules of the phone's own software...
const QStringList kSystemModuleMarkers = {
    QStringLiteral("net.rim.blackberry"), QStringLiteral("net.rim.platform"),
    QStringLiteral("net.rim.java"),       QStringLiteral("com.rim.bis"),
    QStringLiteral("net.rim.bis"),        QStringLiteral("net.rim.device.apps.internal.appcenter"),
    QStringLiteral("net.rim.device.custom.gmail"),
};
// ...except these, which people use as applications.
const QStringList kListedSystemModules = {
    QStringLiteral("net.rim.java.memopad"),
    QStringLiteral("net.rim.java.maps"),
    QStringLiteral("net.rim.java.tasks"),
    QStringLiteral("net.rim.java.passwordkeeper"),
    QStringLiteral("net.rim.java.blackberrymessenger"),
};

// The integer a text begins with, as the Mac reads one ("12x" is 12, "x" 0).
qint64 leadingInteger(const QString &text)
{
    static const QRegularExpression number(QStringLiteral("^\\s*[-+]?[0-9]+"));
    const QRegularExpressionMatch match = number.match(text);
    return match.hasMatch() ? match.captured().trimmed().toLongLong() : 0;
}

bool allTexts(const QVariantList &fields)
{
    for (const QVariant &field : fields) {
        if (field.typeId() != QMetaType::QString) return false;
    }
    return true;
}

bool nameListed(const QVariantList &items, const QString &name)
{
    for (const QVariant &item : items) {
        if (item.toMap().value(QStringLiteral("itemName")).toString() == name) return true;
    }
    return false;
}

QVariantMap appItem(const QVariant &id, const QString &name)
{
    QVariantMap item;
    item.insert(QStringLiteral("itemId"), id);
    item.insert(QStringLiteral("itemName"), name);
    return item;
}

// Fields come in name/value pairs; a record holding byte fields is skipped.
void addAppGroups(const QVariantMap &database, QVariantList &items)
{
    for (const QVariant &recordValue : database.value(QStringLiteral("Records")).toList()) {
        const QVariantList fields = recordValue.toMap().value(QStringLiteral("Fields")).toList();
        if (!allTexts(fields)) continue;
        QString id;
        QString name;
        bool hasID = false;
        bool hasName = false;
        for (qsizetype i = 0; i + 1 < fields.size(); i += 2) {
            const QString key = fields[i].toString();
            if (key == QLatin1String("RIM_APP_WORLD_ID")) {
                id = fields[i + 1].toString();
                hasID = true;
            } else if (key == QLatin1String("RIM_APP_WORLD_NAME")) {
                name = fields[i + 1].toString();
                hasName = true;
            }
        }
        if (hasID && hasName) items.append(appItem(leadingInteger(id), name));
    }
}

bool isSystemModule(const QString &module)
{
    if (kListedSystemModules.contains(module)) return false;
    for (const QString &marker : kSystemModuleMarkers) {
        if (module.contains(marker)) return true;
    }
    return false;
}

void addHandheldAgentModules(const QVariantMap &database, QVariantList &items)
{
    for (const QVariant &recordValue : database.value(QStringLiteral("Records")).toList()) {
        const QVariantList fields = recordValue.toMap().value(QStringLiteral("Fields")).toList();
        if (fields.size() < kHandheldAgentMinFields) continue;
        const QVariant moduleValue = fields[kModuleNameField];
        const QVariant displayValue = fields[kDisplayNameField];
        if (moduleValue.typeId() != QMetaType::QString || displayValue.typeId() != QMetaType::QString) continue;
        const QString module = moduleValue.toString();
        const QString display = displayValue.toString();
        if (!module.contains(QLatin1Char('.')) || !module.at(0).isLetter() || module.contains(QLatin1Char(':'))
            || display.contains(QLatin1String("BBIMConfig")))
            continue;
        if (isSystemModule(module)) {
            VTR_LOG(0, QStringLiteral("Skipping blacklisted application %1: %2").arg(module, display));
            continue;
        }
        if (!nameListed(items, display)) items.append(appItem(module, display));
    }
}

} // namespace

// The desktop software keeps its backups in the documents folder, which the
// person's desktop may name in their language ("~/Dokumente"); the literal
// "~/Documents" is still looked at, where a copied backup may lie.
QStringList BBAppList::backupFolders()
{
    const QString subfolder = QStringLiteral("/BlackBerry Backups");
    QStringList folders;
    const QString documents =
        VtrFileInfo::findFolderPath(VtrFileInfo::kUserDomain, VtrFileInfo::kDocumentsFolderType, false);
    if (!documents.isEmpty()) folders.append(documents + subfolder);
    const QString literal = QDir::cleanPath(platform::homeFolder() + QStringLiteral("/Documents")) + subfolder;
    if (!folders.contains(literal)) folders.append(literal);
    return vtr::iphone::withFoldersFromUserDefault(folders, kBackupFoldersDefaultsKey);
}

QUrl BBAppList::urlOfBBBFile() const
{
    QString newestPath;
    QDateTime newestDate;
    for (const QString &folder : backupFolders()) {
        const VtrMacFileInfo::Ptr folderInfo = VtrMacFileInfo::fileInfoWithPath(folder);
        if (!folderInfo->isFolder()) continue;
        VtrFileInfoList entries;
        try {
            entries = folderInfo->folderContents();
        } catch (const VtrException &) {
            continue;
        }
        for (const VtrFileInfoPtr &entry : entries) {
            if (entry->extension() != QLatin1String("bbb") || !entry->isFile()) continue;
            const QDateTime date = entry->modificationDate();
            if (!date.isValid()) continue;
            if (!newestDate.isValid() || date > newestDate) {
                newestDate = date;
                newestPath = entry->path();
            }
        }
    }
    return newestPath.isEmpty() ? QUrl() : QUrl::fromLocalFile(newestPath);
}

std::optional<QVariantList> BBAppList::findBBApps() const
{
    const QUrl url = urlOfBBBFile();
    if (url.isEmpty()) return std::nullopt;

    // A fresh folder each time: nothing an earlier run left can be read as
    // this archive's database.
    std::optional<QVariantMap> ipd;
    QString root;
    try {
        root = platform::temporaryFolder();
    } catch (const VtrException &e) {
        VTR_LOG(2, e.reason());
    }
    if (!root.isEmpty()) {
        QTemporaryDir folder(root + QStringLiteral("/bbb-XXXXXX"));
        if (folder.isValid()) {
            const vtr::ArchiveExtractResult extracted = vtr::extractArchive(url.toLocalFile(), folder.path());
            if (!extracted.ok) VTR_LOG(1, QStringLiteral("Could not unpack %1: %2").arg(url.toLocalFile(), extracted.error));
            const VtrMacFileInfo::Ptr member = VtrMacFileInfo::fileInfoWithPath(folder.filePath(kIpdMember));
            ipd = vtr::ipd::dictionaryWithBBIPDAtPath(member->isFile() && !member->isAlias() ? member->path() : QString());
        }
    }
    return appsFromIPD(ipd.value_or(QVariantMap()));
}

QVariantList BBAppList::appsFromIPD(const QVariantMap &ipd)
{
    QVariantList items;
    const QVariantMap groups = vtr::ipd::databaseNamed(ipd, kAppGroupDatabase);
    if (groups.isEmpty())
        VtrDebugLog(QStringLiteral("Could not find 'Code Module Group Properties' database in bbb file"));
    else
        addAppGroups(groups, items);
    const QVariantMap agent = vtr::ipd::databaseNamed(ipd, kHandheldAgentDatabase);
    if (agent.isEmpty())
        VtrDebugLog(QStringLiteral("Could not find 'Handheld Agent' database in bbb file"));
    else
        addHandheldAgentModules(agent, items);
    return items;
}
