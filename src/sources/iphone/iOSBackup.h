#pragma once

#include "fileinfo/VtrBaseFileInfo.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <memory>
#include <optional>

// One app identifier of a phone's iTunes library list.
class iOSAppInfo
{
public:
    explicit iOSAppInfo(QString appID) : _appID(std::move(appID)) {}

    const QString &appID() const { return _appID; }
    // The identifier's last "."-separated word; the whole identifier when that
    // is empty; the localized "[unknown app]" when the identifier is empty.
    QString appName() const;
    // appName() against the other's, localized and ignoring case (<0, 0, >0).
    int compareNames(const iOSAppInfo &other) const;

private:
    QString _appID;
};

// One file of an iPhone backup: the stored file (40-digit name) and where it
// lived on the phone.
class iOSFile
{
public:
    iOSFile(VtrFileInfoPtr rawFile, QString deviceFilepath, QString deviceDomain);

    const VtrFileInfoPtr &rawFile() const { return _rawFile; }
    const QString &deviceDomain() const { return _deviceDomain; }
    const QString &deviceFilepath() const { return _deviceFilepath; }
    QString deviceFilename() const;
    QByteArray contents() const;

private:
    VtrFileInfoPtr _rawFile;
    QString _deviceFilepath;
    QString _deviceDomain;
};

// One backup folder that iTunes made of an iPhone: identity and date from
// "Info.plist" and "Status.plist", and the backup's files mapped back to
// their domain and path through "Manifest.mbdb" (with its index
// "Manifest.mbdx" where the backup has one).
class iOSBackup
{
public:
    using Ptr = std::shared_ptr<iOSBackup>;

    // One backup per sub-folder of the backup roots (iPhoneBackupFolders.h),
    // in listing order; plain files are skipped.
    static QList<Ptr> iOSBackups();
    // The current backup (isCurrentBackup) with the latest date; of equal
    // dates the first listed. nullptr when none is current.
    static Ptr latestBackup();

    // nullptr for a null folder. Missing or unreadable property lists leave
    // their values empty.
    static Ptr initWithBackupFolder(const VtrFileInfoPtr &folder);

    const VtrFileInfoPtr &backupFolder() const { return _backupFolder; }
    QString deviceID() const;
    QString deviceName() const;
    QString deviceSerialNumber() const;
    QString productVersion() const;
    // "Status.plist"'s "Date"; "Info.plist"'s "Last Backup Date" only when the
    // status has none; invalid when neither is known.
    QDateTime lastBackupDate() const;
    bool isFullBackup() const;
    bool isEncrypted() const { return false; }
    // Never read from a backup: always empty.
    QStringList iTunesPlaylistIDs() const { return {}; }
    QStringList iTunesMoviePlaylistsIDs() const { return {}; }
    QStringList iTunesMovieIDs() const { return {}; }
    QStringList iTunesTVShowPlaylists() const { return {}; }
    // A backup named by the bare device identifier; dated copies carry a "-".
    bool isCurrentBackup() const;

    // "iTunes Settings"/"LibraryApplications", then "Installed Applications"
    // not listed yet, in order.
    QList<iOSAppInfo> deviceApps() const;
    // Built on first use, then kept: through "Manifest.mbdx" when the backup
    // has one, else from "Manifest.mbdb" alone (iOS 5 and later).
    const QList<iOSFile> &deviceFiles();
    QList<iOSFile> photosCapturedOnDevice();
    QList<iOSFile> videosCapturedOnDevice();

    // Maps the backup folder's 40-digit files through an index and database.
    static QList<iOSFile> buildFileList(const VtrFileInfoPtr &folder, const QByteArray &index,
                                        const QByteArray &database);
    // The same without an index: each record names its file by the SHA-1 of
    // its domain and path. The folder's listing order is kept.
    static QList<iOSFile> buildFileListFromDatabase(const VtrFileInfoPtr &folder, const QByteArray &database);

private:
    explicit iOSBackup(VtrFileInfoPtr folder);
    QList<iOSFile> capturedFiles(const QStringList &extensions);

    VtrFileInfoPtr _backupFolder;
    QVariantMap _info;
    QVariantMap _status;
    std::optional<QList<iOSFile>> _deviceFiles;
};
