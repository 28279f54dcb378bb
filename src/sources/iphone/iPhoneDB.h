#pragma once

#include "fileinfo/VtrBaseFileInfo.h"
#include "sources/iphone/iPhoneSyncStore.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>

#include <atomic>
#include <memory>
#include <optional>

// What the scanner's creator adopts; the scanner never sends it anything.
class iPhoneSyncDelegate
{
public:
    virtual ~iPhoneSyncDelegate() = default;
};

// The older reader of iPhone backups: backup folders with their identity and
// dates, the file lists of both backup layouts (the newer "Manifest.mbdb"
// with SHA-1 file names, the older ".mdinfo"/".mdbackup"/".mddata" files with
// "Manifest.plist"), the phone databases of a kind read through
// IPhoneDatabase, and a synchronisation client whose session refuses every
// change except deletions. Subclasses set the client's configuration and do
// the per-folder work.
class iPhoneDB
{
public:
    // What one file of the older layout tells (deviceInfoWithFilepath).
    struct BackupFile
    {
        QVariantMap deviceInfo; // the file read as a dictionary
        QString deviceName;
        QString deviceID;
        QByteArray sqlData;   // only when asked for
        QDateTime fileModDate; // only when asked for
    };

    explicit iPhoneDB(iPhoneSyncDelegate *delegate);
    virtual ~iPhoneDB();
    iPhoneDB(const iPhoneDB &) = delete;
    iPhoneDB &operator=(const iPhoneDB &) = delete;

    // ---- folders and identity -----------------------------------------------------

    // The default backup root (iPhoneBackupFolders.h), links resolved.
    static VtrFileInfoPtr backupsFolder();
    // Sub-folders of every backup root except "Logs" (ignoring case) and
    // dated copies (a "-" in the name); nullopt when no root exists.
    static std::optional<VtrFileInfoList> backupFolders();
    static QStringList getDeviceDirectories();
    // {"info", "deviceName", "deviceID", "lastBackupDate"} from "Info.plist";
    // nullopt without a readable one.
    static std::optional<QVariantMap> infoForBackupFolder(const VtrFileInfoPtr &folder);
    // {"newestBackupDate", "oldestBackupDate"} over every backup folder (empty
    // when no date is known); nullopt when no root exists.
    static std::optional<QVariantMap> newestInfo();

    // ---- file lists ---------------------------------------------------------------

    // Newer layout: one entry per "Manifest.mbdb" record under "domain-path":
    // {"backup filepath", "backup filename", "domain", "device filepath"}.
    // nullopt when the manifest is missing or is not one. A damaged manifest
    // gives the records before the damage; the reason is logged and put in
    // *error.
    static std::optional<QVariantMap> filesInfoForBackupFolder(const VtrFileInfoPtr &folder,
                                                               QString *error = nullptr);
    // Older layout: the ".mdinfo"/".mdbackup" files of a backup; nullopt for a
    // backup of product version 4.0 or later, or when nothing was found.
    static std::optional<QStringList> filesInBackupWithPath(const QString &folder, QString *outDeviceName,
                                                            QString *outDeviceID);
    // The names of the home and media files an older "Manifest.plist" lists
    // (its "Data", a property list, holds "Files": name -> {"Domain", ...}),
    // sorted; nullopt when there is no such dictionary.
    static std::optional<QStringList> filesListedInManifest(QByteArray manifestBytes);
    // Classifies one file of the older layout for database kind `kind`.
    static BackupFile deviceInfoWithFilepath(const QString &path, qint32 kind, bool wantData, bool wantDate);

    // ---- databases of a kind --------------------------------------------------------

    // Per device name: {"deviceName", "deviceID", "newestBackupDate",
    // "oldestBackupDate"}; nullopt without any backup folder.
    static std::optional<QVariantMap> infoForDBOfType(qint32 kind);
    static std::optional<QVariantMap> newestInfoForDBOfType(qint32 kind);
    // Every row of the databases of `kind` in one backup folder.
    QVariantList getDBFromBackup(const QString &folder, qint32 kind);

    // ---- keychain -------------------------------------------------------------------------

    // The name before "-<appName> (" in the label of a keychain item (the
    // first such label, ignoring case); null when none or `appName` is empty.
    static QString deviceNamePairedWithAppNamed(const QString &appName);
    static QString deviceNameInLabels(const QStringList &labels, const QString &appName);

    // ---- synchronisation ------------------------------------------------------------------

    // The store the client registers with; without one set, the application's
    // own store (iPhoneStoreSync.h) at the first hand-over.
    void setSyncManager(std::shared_ptr<vtr::iphone::SyncManager> manager) { _syncManager = std::move(manager); }
    // Where the client description ("<name>.plist") and schema
    // ("<name>.syncschema") resources are.
    void setResourceFolder(const QString &folder) { _resourceFolder = folder; }

    void syncIfNewerThanDate(const QDateTime &date);
    virtual void doSyncWithBackupFolder(const VtrFileInfoPtr &folder);
    void syncWithDBType(qint32 kind);
    virtual bool processDeviceRecord(const QVariantMap &record);
    bool syncRecords(const QVariantList &records);
    bool registerClient(const QString &identifier, const QString &descriptionFile, const QString &schemaName,
                        const QString &bundle);
    void unregisterClient();

    iPhoneSyncDelegate *delegate() const { return _delegate; }
    QString clientID() const { return mClientID; }
    QString currentDeviceName() const { return mCurrentDeviceName; }
    QString currentDeviceIdentifier() const { return mCurrentDeviceIdentifier; }
    void setEntityNames(const QStringList &names) { mEntityNames = names; }

protected:
    // Set by subclasses.
    QString _typeIdentifier;
    QString _clientDescription;
    QString _schemaBundleIdentifier;
    QString _schemaName;
    QString _entityNameString;

private:
    void initializeSyncSession(const QStringList &entityNames);
    bool pullAndAnswerChanges();

    iPhoneSyncDelegate *_delegate;
    QStringList mEntityNames;
    QString mCurrentDeviceName;
    QString mCurrentDeviceIdentifier;
    vtr::iphone::SyncClientPtr mSyncClient;
    std::unique_ptr<vtr::iphone::SyncSession> mSyncSession;
    QString mClientID;
    std::atomic<bool> mInitSessionThreadRunning{false};
    std::shared_ptr<vtr::iphone::SyncManager> _syncManager;
    QString _resourceFolder;
};
