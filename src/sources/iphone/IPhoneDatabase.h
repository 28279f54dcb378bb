#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariantList>
#include <QVariantMap>

#include <memory>
#include <optional>

// Reads the rows of one of the phone's own SQLite databases found in an older
// iPhone backup. The bytes go into a private temporary copy in a fresh folder
// of the application's temporary folder, which SQLite opens read-only and
// immutable; the folder goes with the reader.
class IPhoneDatabase
{
public:
    // Database kinds and the table each one reads.
    enum Kind : qint32 {
        kMessages = 0,     // "message", else "messages" (also any unknown kind)
        kCallHistory = 1,  // "call"
        kNotes = 2,        // "note_bodies" with their "Note" rows
        kRecordings = 3,   // "ZRECORDING"
        kVoicemail = 4,    // "voicemail"
        kCoreDataNotes = 5 // "ZNOTE"
    };

    explicit IPhoneDatabase(QByteArray data);
    ~IPhoneDatabase();
    IPhoneDatabase(const IPhoneDatabase &) = delete;
    IPhoneDatabase &operator=(const IPhoneDatabase &) = delete;

    void setDBType(qint32 kind) { _dbType = kind; }
    qint32 dbType() const { return _dbType; }
    // The private copy of the current kind (its folder is made on first use);
    // null when the temporary folder cannot be made.
    QString pathToTempFile();

    // The rows of the kind's table: column name -> value. An INTEGER column
    // "date" is a date from 1970, for notes "creation_date" one from 2001;
    // other INTEGERs are qint64, FLOATs double, TEXT QString, BLOBs
    // QByteArray, NULL vtr::jsonNull(). nullopt (logged) when there are no
    // bytes or the database or its table cannot be read.
    std::optional<QVariantList> array();

    // ---- backup folder scans ------------------------------------------------------

    // Every first-level folder of the backup roots (no filtering by name).
    static QStringList getDeviceDirectories();
    // {"dbRecords", "deviceName", "deviceID"} of the databases of `kind` in
    // one backup folder (names "iPhone" when unknown); nullopt without rows.
    static std::optional<QVariantMap> dbInfoFromBackupDir(const QString &folder, qint32 kind);
    static QVariantList dbInfoForType(qint32 kind);

    // ---- pieces shared with the older backup scanner --------------------------------

    // The kind a phone path names: "sms" 0, "call_history" 1, "notes" 2 before
    // the extension "sqlitedb" or "db" (ignoring case); -1 otherwise.
    static qint32 kindForDevicePath(const QString &devicePath);
    // From a "preferences.plist" entry's data: the computer name and, as
    // identifier, the name without white space, line breaks and "-". False
    // when the data holds no name.
    static bool computerNameFromPreferences(const QByteArray &data, QString *name, QString *identifier);
    // The database bytes of a backup entry: its "Data", or for an ".mdinfo"
    // file the ".mddata" file beside it; each output only when asked for.
    // *modified is the modification date of the file that holds the bytes.
    static void databaseBytesForEntry(const QVariantMap &entry, const QString &entryPath, QByteArray *bytes,
                                      QDateTime *modified);
    static QString defaultDeviceName() { return QStringLiteral("iPhone"); }

private:
    QByteArray _data;
    qint32 _dbType = kMessages;
    std::unique_ptr<QTemporaryDir> _folder;
};
