#pragma once

#include "pim/records/STRecord.h"
#include "pim/store/SyncStore.h"

#include <QFile>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>

class MigrationStatusProtocol;
class MobileDeviceInterface;
class VtrBaseFileInfo;
class QIODevice;
class PIMDatabaseDelegate;

// The common base of the four readers of the person's contacts, calendars,
// to-dos and notes (ContactDatabase, EventDatabase, TaskDatabase,
// NoteDatabase). A dump registers the reader as a client of the store, opens
// a session for its entities, lets the subclass read and convert the records
// (createDatabase) and finishes the session.
//
// For a target that is not a Windows Phone, and always for to-dos, the
// records are written as export lines: one compact JSON object per line,
// {"command":"ADD_RECORD","database":..,"record":..}, UTF-8, into a file of
// the private temporary folder (mode 0600), copied into "Migration Info" of
// the target's preferred storage by descriptor (never through a link, and
// over nothing but a plain file of this user's) and removed.
//
// Failures: a store that is disabled or refuses the session ends the dump
// quietly; a source that exists but cannot be read raises its VtrException
// ("PIMSourceException", the reason names the source) out of runDatabaseDump,
// after the session is finished; one record that cannot be converted is left
// out with a log line.
class PIMDatabase
{
public:
    // `delegate` is not owned; when it is also a MigrationStatusProtocol it
    // receives the progress. `manager`: the store (the shared one when null).
    explicit PIMDatabase(PIMDatabaseDelegate *delegate, std::shared_ptr<syncstore::SyncManager> manager = {});
    virtual ~PIMDatabase();
    PIMDatabase(const PIMDatabase &) = delete;
    PIMDatabase &operator=(const PIMDatabase &) = delete;

    // Runs synchronously on the caller's thread.
    void runDatabaseDump();
    void main() { writeData(); }
    bool isConcurrent() const { return true; }
    void writeData();

    std::shared_ptr<syncstore::SyncClient> registerClient();
    syncstore::SyncSession *initializeSession(const std::shared_ptr<syncstore::SyncClient> &client);
    virtual void createDatabase() {}
    virtual QVariantMap manifestInfo() const { return {}; }

    // Registration values of the subclass (the base answers none).
    virtual QString clientIdentifier() const { return {}; }
    virtual QString clientDescriptionPath() const { return {}; }
    virtual QList<QUrl> schemaBundleURLs() const { return {}; }
    virtual QStringList entityNamesToSync() const { return {}; }

    std::shared_ptr<MobileDeviceInterface> targetDevice() const;
    void setTargetDevice(std::shared_ptr<MobileDeviceInterface> device);

    qint32 recordCount() const { return m_recordCount; }
    qint32 containerCount() const { return m_containerCount; }
    qint64 dataSize() const { return m_dataSize; }

    // The application identifier each client identifier is made from.
    static QString bundleIdentifier() { return QStringLiteral("com.vantrel.solvennawindowsphone"); }
    static QString mappingEntityKey() { return syncstore::kRecordEntityNameKey; }
    // Logged for a record left out.
    static QString recordErrorMessage(const QString &description);

protected:
    PIMDatabaseDelegate *delegate() const { return m_delegate; }
    MigrationStatusProtocol *status() const { return m_status; }
    void reportNow(const QString &text, const QString &phase, double percent) const;
    void report(const QString &text, const QString &phase, double percent) const;
    bool targetIsWindowsPhone() const;

    // Reads a companion-app file with `read`: a file on the phone through a
    // copy in the private temporary folder, removed afterwards however the
    // read ends. Raises kSourceExceptionName when it cannot be copied or opened.
    static std::optional<QVariantList> readCompanionFile(
        const std::shared_ptr<VtrBaseFileInfo> &file, const std::function<std::optional<QVariantList>(QIODevice &)> &read);

    // The summary entries every reader gives: "data_file", "timestamp", the
    // count under `countKey`, "data_size" and "title" (`one` or `many`).
    QVariantMap manifestWith(const char *dataFile, const char *countKey, const char *one, const char *many) const;

    // A store dictionary converted by `convert`; null, with the record's
    // log line, when the conversion fails or gives nothing.
    template <typename Convert>
    static STRecordPtr convertOrSkip(const QVariantMap &dictionary, Convert &&convert)
    {
        STRecordPtr record;
        try {
            record = convert(dictionary);
        } catch (const std::exception &) {
        }
        if (!record) logSkipped(dictionary);
        return record;
    }
    // A record's JSON form made by `write`; nullopt, logged with the record's
    // description (under `message` when given), when the dialect cannot write it.
    template <typename Write>
    static std::optional<QVariantMap> jsonOrSkip(const STRecord &record, Write &&write, const char *message = nullptr)
    {
        try {
            return write(record);
        } catch (const std::exception &) {
            logSkipped(record, message);
            return std::nullopt;
        }
    }
    // What `read` answers; a failure to read the store is logged with
    // `message` and passed on.
    template <typename Read>
    static auto readStore(const char *message, Read &&read)
    {
        try {
            return read();
        } catch (const VtrException &) {
            logFailure(message);
            throw;
        }
    }
    static void logFailure(const char *message);
    static bool isUtf8(const QByteArray &data);
    static void logSkipped(const QVariantMap &dictionary);
    static void logSkipped(const STRecord &record, const char *message = nullptr);

    // The records of one entity from a snapshot of it (kept in *snapshot for
    // related records).
    syncstore::SyncRecordList snapshotRecords(const QString &entityName,
                                              std::unique_ptr<syncstore::SyncRecordSnapshot> *snapshot = nullptr);

    // The export file of one dump.
    class ExportFile
    {
    public:
        // Removes an old file of that name and creates an empty private one.
        explicit ExportFile(const QString &fileName);
        ~ExportFile();
        // Appends one line; false (logged) when the line gives no JSON text.
        bool writeLine(const QString &database, const QVariantMap &record);
        QString path() const { return m_file.fileName(); }
        // Closes the file; copies it when it is not empty (reporting `copyingText`
        // at -1.0 for `phase`), else logs `missingText`; answers the copy's size.
        qint64 finish(PIMDatabase &owner, const QString &copyingText, const QString &phase,
                      const QString &missingText);

    private:
        QFile m_file;
    };

    qint32 m_recordCount = 0;
    qint32 m_containerCount = 0;
    qint64 m_dataSize = 0;

    std::shared_ptr<syncstore::SyncClient> m_syncClient;
    std::unique_ptr<syncstore::SyncSession> m_syncSession;

private:
    PIMDatabaseDelegate *m_delegate;
    MigrationStatusProtocol *m_status;
    std::shared_ptr<syncstore::SyncManager> m_manager;
    mutable std::mutex m_targetMutex;
    std::shared_ptr<MobileDeviceInterface> m_targetDevice;
};
