#include "sources/iphone/iPhoneDB.h"

#include "fileinfo/VtrFileInfoFilters.h"
#include "fileinfo/VtrMacFileInfo.h"
#include "foundation/Log.h"
#include "foundation/VtrString.h"
#include "platform/VtrException.h"
#include "sources/iphone/BinaryPropertyList.h"
#include "sources/iphone/IPhoneDatabase.h"
#include "sources/iphone/Keychain.h"
#include "sources/iphone/MbdbReader.h"
#include "sources/iphone/PropertyList.h"
#include "sources/iphone/iPhoneBackupFolders.h"
#include "sources/iphone/iPhoneStoreSync.h"

#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <chrono>
#include <thread>

using vtr::iphone::SyncChange;

namespace {

constexpr int kMaxClientIdentifierLength = 63;
constexpr double kSessionStartTimeout = 300.0;
constexpr auto kSessionPollInterval = std::chrono::milliseconds(100);

// The number a version text begins with ("4.3.1" reads 4.3), as the Mac reads one.
double leadingNumber(const QString &text)
{
    static const QRegularExpression number(QStringLiteral("^\\s*[-+]?[0-9]*\\.?[0-9]+"));
    const QRegularExpressionMatch match = number.match(text);
    return match.hasMatch() ? match.captured().trimmed().toDouble() : 0.0;
}

// A name taken from a backup file may only name an item inside its folder.
bool isSafeEntryName(const QString &name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..")
           && !name.contains(QLatin1Char('/')) && !name.contains(QChar(0));
}

bool isNamed(const QString &path, const char *name)
{
    return vtr::posixLastPathComponent(path).compare(QLatin1String(name), Qt::CaseInsensitive) == 0;
}

VtrFileInfoList listFolder(const VtrFileInfoPtr &folder)
{
    try {
        return folder->folderContents();
    } catch (const VtrException &) {
        return {};
    }
}

bool isListedDomain(const QString &domain)
{
    return domain == QLatin1String("HomeDomain") || domain == QLatin1String("MediaDomain");
}

} // namespace

iPhoneDB::iPhoneDB(iPhoneSyncDelegate *delegate) : _delegate(delegate) {}

iPhoneDB::~iPhoneDB() = default;

// ---- folders and identity ----------------------------------------------------------------

VtrFileInfoPtr iPhoneDB::backupsFolder()
{
    return VtrMacFileInfo::fileInfoResolveAliasesWithPath(vtr::iphone::defaultBackupRoot());
}

std::optional<VtrFileInfoList> iPhoneDB::backupFolders()
{
    bool anyRoot = false;
    VtrFileInfoList folders;
    for (const QString &root : vtr::iphone::backupRoots()) {
        const VtrFileInfoPtr rootInfo = VtrMacFileInfo::fileInfoResolveAliasesWithPath(root);
        if (!rootInfo || !rootInfo->isFolder()) continue;
        anyRoot = true;
        for (const VtrFileInfoPtr &child : listFolder(rootInfo)) {
            const QString name = child->name();
            if (name.compare(QLatin1String("Logs"), Qt::CaseInsensitive) == 0 || name.contains(QLatin1Char('-')))
                continue;
            const VtrFileInfoPtr resolved = child->resolvedFileInfo();
            if (resolved && resolved->isFolder()) folders.append(resolved);
        }
    }
    if (!anyRoot) return std::nullopt;
    return folders;
}

QStringList iPhoneDB::getDeviceDirectories()
{
    QStringList paths;
    for (const VtrFileInfoPtr &folder : backupFolders().value_or(VtrFileInfoList())) paths.append(folder->path());
    return paths;
}

std::optional<QVariantMap> iPhoneDB::infoForBackupFolder(const VtrFileInfoPtr &folder)
{
    if (!folder) return std::nullopt;
    const VtrFileInfoPtr file = folder->find(QStringLiteral("Info.plist"));
    if (!file || !file->exists()) return std::nullopt;
    const QVariantMap info = vtr::plist::dictionaryFromData(file->fileContents());
    if (info.isEmpty()) return std::nullopt;
    QVariantMap result;
    result.insert(QStringLiteral("info"), info);
    const auto copy = [&](const char *from, const char *to) {
        const QVariant value = info.value(QLatin1String(from));
        if (value.isValid()) result.insert(QLatin1String(to), value);
    };
    copy("Display Name", "deviceName");
    copy("Target Identifier", "deviceID");
    copy("Last Backup Date", "lastBackupDate");
    return result;
}

std::optional<QVariantMap> iPhoneDB::newestInfo()
{
    bool anyRoot = false;
    QDateTime newest;
    QDateTime oldest;
    for (const QString &root : vtr::iphone::backupRoots()) {
        const VtrFileInfoPtr rootInfo = VtrMacFileInfo::fileInfoResolveAliasesWithPath(root);
        if (!rootInfo || !rootInfo->isFolder()) continue;
        anyRoot = true;
        for (const VtrFileInfoPtr &child : listFolder(rootInfo)) {
            const QDateTime date =
                infoForBackupFolder(child).value_or(QVariantMap()).value(QStringLiteral("lastBackupDate")).toDateTime();
            if (!date.isValid()) continue;
            if (!newest.isValid() || date > newest) newest = date;
            if (!oldest.isValid() || date < oldest) oldest = date;
        }
    }
    if (!anyRoot) return std::nullopt;
    QVariantMap result;
    if (newest.isValid()) {
        result.insert(QStringLiteral("newestBackupDate"), newest);
        result.insert(QStringLiteral("oldestBackupDate"), oldest);
    }
    return result;
}

// ---- file lists ---------------------------------------------------------------------------

std::optional<QVariantMap> iPhoneDB::filesInfoForBackupFolder(const VtrFileInfoPtr &folder, QString *error)
{
    if (!folder) return std::nullopt;
    const VtrFileInfoPtr file = folder->find(QStringLiteral("Manifest.mbdb"));
    if (!file || !file->isFile()) return std::nullopt;
    const QByteArray data = file->fileContents();
    if (!vtr::mbdb::isManifest(data)) return std::nullopt;

    const vtr::mbdb::Manifest manifest = vtr::mbdb::read(data);
    if (!manifest.error.isEmpty()) {
        VTR_LOG(2, QStringLiteral("Caught an exception while parsing the manifest file: %1").arg(manifest.error));
        if (error) *error = manifest.error;
    }
    const QString folderPath = folder->path();
    QVariantMap files;
    for (const vtr::mbdb::Record &record : manifest.records) {
        const QString devicePath = record.devicePath();
        QVariantMap entry;
        entry.insert(QStringLiteral("backup filepath"), vtr::posixAppendPathComponent(folderPath, record.backupFileName()));
        entry.insert(QStringLiteral("backup filename"), record.pathString());
        entry.insert(QStringLiteral("domain"), record.domainString());
        entry.insert(QStringLiteral("device filepath"), devicePath);
        files.insert(devicePath, entry);
    }
    return files;
}

// A phone's manifest names tens of thousands of files with several fields
// each: the usual binary list is read in place and only each file's domain
// is taken from it.
std::optional<QStringList> iPhoneDB::filesListedInManifest(QByteArray manifestBytes)
{
    QByteArray data = vtr::plist::dictionaryFromData(manifestBytes).value(QStringLiteral("Data")).toByteArray();
    manifestBytes.clear();
    QStringList names;
    const std::optional<vtr::plist::BinaryPropertyList> list = vtr::plist::BinaryPropertyList::open(data);
    if (!list) {
        const QVariant files = vtr::plist::dictionaryFromData(data).value(QStringLiteral("Files"));
        if (files.typeId() != QMetaType::QVariantMap) return std::nullopt;
        const QVariantMap map = files.toMap();
        for (auto it = map.cbegin(); it != map.cend(); ++it)
            if (isListedDomain(it.value().toMap().value(QStringLiteral("Domain")).toString())) names.append(it.key());
        return names;
    }
    using Object = vtr::plist::BinaryPropertyList::Object;
    const std::optional<Object> files = list->valueForKey(list->top(), u"Files");
    if (!files || !list->isDictionary(*files)) return std::nullopt;
    list->forEachEntry(*files, [&](Object key, Object value) {
        const std::optional<Object> domain = list->valueForKey(value, u"Domain");
        if (domain && isListedDomain(list->string(*domain))) names.append(list->string(key));
        return true;
    });
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
    return names;
}

std::optional<QStringList> iPhoneDB::filesInBackupWithPath(const QString &folder, QString *outDeviceName,
                                                           QString *outDeviceID)
{
    if (outDeviceName) outDeviceName->clear();
    if (outDeviceID) outDeviceID->clear();
    const VtrMacFileInfo::Ptr folderInfo = VtrMacFileInfo::fileInfoWithPath(folder);

    const VtrFileInfoPtr infoFile = folderInfo->find(QStringLiteral("Info.plist"));
    if (infoFile->exists()) {
        const QVariantMap info = vtr::plist::dictionaryFromData(infoFile->fileContents());
        if (outDeviceName) *outDeviceName = info.value(QStringLiteral("Display Name")).toString();
        if (outDeviceID) *outDeviceID = info.value(QStringLiteral("Target Identifier")).toString();
        if (leadingNumber(info.value(QStringLiteral("Product Version")).toString()) >= 4.0) return std::nullopt;
    }

    const VtrFileInfoPtr manifestFile = folderInfo->find(QStringLiteral("Manifest.plist"));
    if (manifestFile->exists()) {
        if (const std::optional<QStringList> names = filesListedInManifest(manifestFile->fileContents())) {
            QStringList paths;
            for (const QString &name : *names) {
                if (!isSafeEntryName(name)) continue;
                VtrFileInfoPtr file = folderInfo->find(name + QStringLiteral(".mdinfo"));
                if (!file->exists()) file = folderInfo->find(name + QStringLiteral(".mdbackup"));
                if (file->exists()) paths.append(file->path());
            }
            if (paths.isEmpty()) return std::nullopt;
            return paths;
        }
    }

    VtrFileExtensionsFilter filter(QStringList{QStringLiteral("mdinfo"), QStringLiteral("mdbackup")});
    QStringList paths;
    try {
        for (const VtrFileInfoPtr &file : folderInfo->folderContentsDeepWithFilter(&filter, true)) {
            if (file->isFile()) paths.append(file->path());
        }
    } catch (const VtrException &) {
    }
    if (paths.isEmpty()) return std::nullopt;
    return paths;
}

iPhoneDB::BackupFile iPhoneDB::deviceInfoWithFilepath(const QString &path, qint32 kind, bool wantData, bool wantDate)
{
    BackupFile result;
    const QVariantMap file = vtr::plist::dictionaryFromFile(path);
    result.deviceInfo = file;
    if (isNamed(path, "Info.plist")) {
        result.deviceName = file.value(QStringLiteral("Display Name")).toString();
        result.deviceID = file.value(QStringLiteral("Target Identifier")).toString();
        return result;
    }
    if (isNamed(path, "Manifest.plist")) return result;

    QVariantMap metadata = file;
    const QVariant metadataValue = file.value(QStringLiteral("Metadata"));
    if (metadataValue.isValid() && !file.value(QStringLiteral("IsEncrypted")).toBool()) {
        QString error;
        const QVariant parsed = vtr::plist::fromData(metadataValue.toByteArray(), &error);
        if (!parsed.isValid())
            VTR_LOG(1, QStringLiteral("Couldn't read file \"%1\". \"%2\"").arg(path, error));
        else if (parsed.typeId() != QMetaType::QVariantMap)
            VTR_LOG(1, QStringLiteral("Couldn't read metadata from file \"%1\".").arg(path));
        metadata = parsed.toMap();
    }
    const QString devicePath = metadata.value(QStringLiteral("Path")).toString();
    if (devicePath.isEmpty()) return result;
    if (isNamed(devicePath, "preferences.plist")) {
        IPhoneDatabase::computerNameFromPreferences(file.value(QStringLiteral("Data")).toByteArray(),
                                                    &result.deviceName, &result.deviceID);
        return result;
    }
    if (devicePath.contains(QLatin1String("voice"), Qt::CaseInsensitive)) return result;
    if (metadata.value(QStringLiteral("Domain")).toString() == QLatin1String("MediaDomain")
        && devicePath.startsWith(QLatin1String("Recordings/")))
        return result;
    if (IPhoneDatabase::kindForDevicePath(devicePath) != kind) return result;
    IPhoneDatabase::databaseBytesForEntry(file, path, wantData ? &result.sqlData : nullptr,
                                          wantDate ? &result.fileModDate : nullptr);
    return result;
}

// ---- databases of a kind ----------------------------------------------------------------

QVariantList iPhoneDB::getDBFromBackup(const QString &folder, qint32 kind)
{
    QVariantList rows;
    const std::optional<QStringList> files = filesInBackupWithPath(folder, &mCurrentDeviceName, &mCurrentDeviceIdentifier);
    for (const QString &path : files.value_or(QStringList())) {
        const BackupFile info = deviceInfoWithFilepath(path, kind, true, false);
        if (!info.deviceName.isEmpty()) mCurrentDeviceName = info.deviceName;
        if (!info.deviceID.isEmpty()) mCurrentDeviceIdentifier = info.deviceID;
        if (info.sqlData.isEmpty()) continue;
        try {
            IPhoneDatabase reader(info.sqlData);
            reader.setDBType(kind);
            if (const auto found = reader.array()) rows += *found;
        } catch (const VtrException &) {
            // This file's rows are dropped; the others still count.
        }
    }
    return rows;
}

std::optional<QVariantMap> iPhoneDB::infoForDBOfType(qint32 kind)
{
    const QStringList directories = getDeviceDirectories();
    if (directories.isEmpty()) return std::nullopt;
    QVariantMap result;
    for (const QString &directory : directories) {
        QString deviceName;
        QString deviceID;
        const std::optional<QStringList> files = filesInBackupWithPath(directory, &deviceName, &deviceID);
        if (deviceName.isEmpty()) deviceName = IPhoneDatabase::defaultDeviceName();
        if (deviceID.isEmpty()) deviceID = IPhoneDatabase::defaultDeviceName();
        QDateTime newest;
        QDateTime oldest;
        for (const QString &path : files.value_or(QStringList())) {
            const QDateTime date = deviceInfoWithFilepath(path, kind, false, true).fileModDate;
            if (!date.isValid()) continue;
            if (!newest.isValid() || date > newest) newest = date;
            if (!oldest.isValid() || date < oldest) oldest = date;
        }
        if (!newest.isValid()) continue;
        QVariantMap device;
        device.insert(QStringLiteral("deviceName"), deviceName);
        device.insert(QStringLiteral("deviceID"), deviceID);
        device.insert(QStringLiteral("newestBackupDate"), newest);
        device.insert(QStringLiteral("oldestBackupDate"), oldest);
        result.insert(deviceName, device);
    }
    return result;
}

std::optional<QVariantMap> iPhoneDB::newestInfoForDBOfType(qint32 kind)
{
    std::optional<QVariantMap> newest;
    for (const QVariant &value : infoForDBOfType(kind).value_or(QVariantMap())) {
        const QVariantMap device = value.toMap();
        const QDateTime date = device.value(QStringLiteral("newestBackupDate")).toDateTime();
        if (!newest || date > newest->value(QStringLiteral("newestBackupDate")).toDateTime()) newest = device;
    }
    return newest;
}

// ---- keychain ------------------------------------------------------------------------------

QString iPhoneDB::deviceNameInLabels(const QStringList &labels, const QString &appName)
{
    if (appName.isEmpty()) return QString();
    const QString marker = QStringLiteral("-%1 (").arg(appName);
    for (const QString &label : labels) {
        const qsizetype at = label.indexOf(marker, 0, Qt::CaseInsensitive);
        if (at >= 0) return label.left(at);
    }
    return QString();
}

QString iPhoneDB::deviceNamePairedWithAppNamed(const QString &appName)
{
    if (appName.isEmpty()) return QString();
    QString error;
    const QStringList labels = vtr::keychain::itemLabels(&error);
    if (!error.isEmpty()) VTR_LOG(1, QStringLiteral("Keychain search failed: %1").arg(error));
    return deviceNameInLabels(labels, appName);
}

// ---- synchronisation ----------------------------------------------------------------------

void iPhoneDB::syncIfNewerThanDate(const QDateTime &date)
{
    for (const VtrFileInfoPtr &folder : backupFolders().value_or(VtrFileInfoList())) {
        if (date.isValid()) {
            const QDateTime last =
                infoForBackupFolder(folder).value_or(QVariantMap()).value(QStringLiteral("lastBackupDate")).toDateTime();
            if (last.isValid() && last < date) continue; // an unknown date is never "earlier"
        }
        try {
            doSyncWithBackupFolder(folder);
        } catch (const VtrException &e) {
            VTR_LOG(2, QStringLiteral("doSyncWithBackupFolder caught an exception: %1").arg(e.reason()));
        }
    }
}

void iPhoneDB::doSyncWithBackupFolder(const VtrFileInfoPtr &)
{
    VTR_LOG(2, QStringLiteral("iPhoneDB--doSyncWithBackupFolder: subclasses must implement."));
}

void iPhoneDB::syncWithDBType(qint32 kind)
{
    for (const QString &directory : getDeviceDirectories()) {
        VTR_LOG(0, QStringLiteral("iPhone db processing directory '%1'.").arg(directory));
        const QVariantList rows = getDBFromBackup(directory, kind);
        if (rows.isEmpty()) continue;
        if (mCurrentDeviceName.isEmpty()) mCurrentDeviceName = IPhoneDatabase::defaultDeviceName();
        if (mCurrentDeviceIdentifier.isEmpty()) mCurrentDeviceIdentifier = IPhoneDatabase::defaultDeviceName();
        syncRecords(rows);
    }
}

bool iPhoneDB::processDeviceRecord(const QVariantMap &)
{
    return false;
}

bool iPhoneDB::registerClient(const QString &identifier, const QString &descriptionFile, const QString &schemaName,
                              const QString &bundle)
{
    mClientID = identifier.size() > kMaxClientIdentifierLength ? identifier.right(kMaxClientIdentifierLength)
                                                               : identifier;
    if (_syncManager && _syncManager->isEnabled()) {
        const QString schemaPath = !bundle.isEmpty() && QFileInfo::exists(bundle)
                                       ? bundle
                                       : _resourceFolder + QLatin1Char('/') + schemaName + QStringLiteral(".syncschema");
        _syncManager->registerSchemaWithBundlePath(schemaPath);
        mSyncClient = _syncManager->clientWithIdentifier(mClientID);
        if (!mSyncClient) mSyncClient = _syncManager->registerClientWithIdentifier(mClientID, descriptionFile);
    }
    return mSyncClient != nullptr;
}

void iPhoneDB::unregisterClient()
{
    vtr::iphone::SyncClientPtr client = mSyncClient;
    if (!client && _syncManager) client = _syncManager->clientWithIdentifier(mClientID);
    if (client && _syncManager) _syncManager->unregisterClient(client);
    mSyncClient.reset();
}

void iPhoneDB::initializeSyncSession(const QStringList &entityNames)
{
    try {
        mSyncSession = _syncManager ? _syncManager->beginSession(mSyncClient, entityNames, kSessionStartTimeout)
                                    : nullptr;
    } catch (const VtrException &) {
        mSyncSession.reset();
    }
    if (!mSyncSession) unregisterClient();
    mInitSessionThreadRunning = false;
}

// Only deletions made in the store are taken back: the phone's backup is the
// truth for everything else.
bool iPhoneDB::pullAndAnswerChanges()
{
    if (!mSyncSession->prepareToPullChangesForEntityNames(mEntityNames)) return false;
    for (const QString &entityName : mEntityNames) {
        for (const SyncChange &change : mSyncSession->changesForEntityName(entityName)) {
            if (change.type == SyncChange::Type::Delete)
                mSyncSession->clientAcceptedChangesForRecordWithIdentifier(
                    change.recordIdentifier, QStringLiteral("%1_deleted").arg(change.recordIdentifier));
            else
                mSyncSession->clientRefusedChangesForRecordWithIdentifier(change.recordIdentifier);
        }
    }
    mSyncSession->clientCommittedAcceptedChanges();
    mSyncSession->finishSyncing();
    return true;
}

bool iPhoneDB::syncRecords(const QVariantList &records)
{
    if (records.isEmpty()) return true;
    struct ClearEntityNames
    {
        QStringList &names;
        ~ClearEntityNames() { names.clear(); }
    } clearAtEnd{mEntityNames};

    const QString identifier = QStringLiteral("%1_%2").arg(_typeIdentifier, mCurrentDeviceIdentifier);
    const QString description = _resourceFolder + QLatin1Char('/') + _clientDescription + QStringLiteral(".plist");
    if (_clientDescription.isEmpty() || !QFileInfo::exists(description)) return false;
    if (!_syncManager) _syncManager = vtr::iphone::storeSyncManager();
    mSyncClient.reset();
    if (!registerClient(identifier, description, _schemaName, _schemaBundleIdentifier)) return false;

    if (mEntityNames.isEmpty()) mEntityNames = QStringList{_entityNameString};
    mInitSessionThreadRunning = true;
    std::thread opener([this, names = mEntityNames] { initializeSyncSession(names); });
    while (mInitSessionThreadRunning) std::this_thread::sleep_for(kSessionPollInterval);
    opener.join();
    if (!mSyncSession) return false;

    bool ok = false;
    try {
        for (const QVariant &record : records) processDeviceRecord(record.toMap());
        ok = pullAndAnswerChanges();
    } catch (const VtrException &) {
        ok = false;
    }
    mSyncSession.reset();
    return ok;
}
