#pragma once

#include "pim/records/STVocabulary.h"
#include "platform/VtrException.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <memory>
#include <mutex>
#include <vector>

// The person's own contacts, calendars, to-dos and notes, read-only, behind
// the operations the PIM readers ask of a synchronisation store: a manager,
// registered clients, a session, and snapshots of the records "in truth" of
// one or more entities. The records come from the sources behind the manager
// (the desktop's address books and calendars, vdir folders, test fixtures);
// the person's files and accounts are never written.
//
// A record is a QVariantMap of the store's attribute names ("first name",
// "start date", ...) plus the entity name under kRecordEntityNameKey; a
// relationship ("phone numbers", "calendar", ...) is a QStringList of record
// identifiers. Dates are VtrCalendarDate (instant and zone), pictures
// QByteArray, web addresses QUrl, numbers int/bool. A day whose year is not
// known (a birthday given as day and month) is held in the year kNoYear. A calendar whose "type"
// is "tasks" is a list of to-dos only (the desktop keeps those apart).
namespace syncstore {

using st::kNoYear;

inline const QString kRecordEntityNameKey = QStringLiteral("com.apple.syncservices.RecordEntityName");

namespace entity {
inline const QString Contact = QStringLiteral("com.apple.contacts.Contact");
inline const QString Group = QStringLiteral("com.apple.contacts.Group");
inline const QString CustomField = QStringLiteral("com.apple.contacts.Custom Field");
inline const QString Date = QStringLiteral("com.apple.contacts.Date");
inline const QString EmailAddress = QStringLiteral("com.apple.contacts.Email Address");
inline const QString IM = QStringLiteral("com.apple.contacts.IM");
inline const QString PhoneNumber = QStringLiteral("com.apple.contacts.Phone Number");
inline const QString RelatedName = QStringLiteral("com.apple.contacts.Related Name");
inline const QString StreetAddress = QStringLiteral("com.apple.contacts.Street Address");
inline const QString URL = QStringLiteral("com.apple.contacts.URL");
inline const QString Calendar = QStringLiteral("com.apple.calendars.Calendar");
inline const QString Event = QStringLiteral("com.apple.calendars.Event");
inline const QString Task = QStringLiteral("com.apple.calendars.Task");
inline const QString MailAlarm = QStringLiteral("com.apple.calendars.MailAlarm");
inline const QString AudioAlarm = QStringLiteral("com.apple.calendars.AudioAlarm");
inline const QString DisplayAlarm = QStringLiteral("com.apple.calendars.DisplayAlarm");
inline const QString Recurrence = QStringLiteral("com.apple.calendars.Recurrence");
inline const QString Note = QStringLiteral("com.apple.notes.Note");
}  // namespace entity

// A source that exists but cannot be read. The reason names the source.
inline const QString kSourceExceptionName = QStringLiteral("PIMSourceException");
VtrException sourceException(const QString &sourceName, const QString &why);

// A colour name ("#rrggbb") as the store writes colours: "%f,%f,%f,%f" of
// red, green, blue and alpha; null for no colour.
QString storeColorText(const QString &colorName);

struct SyncRecordEntry
{
    QString identifier;
    QVariantMap record;
};
using SyncRecordList = QList<SyncRecordEntry>;

// What a source hands over; gives every record an identifier unique in the
// snapshot (the wanted one, or it with "#2", "#3"... when taken).
class SyncRecordSink
{
public:
    virtual ~SyncRecordSink() = default;
    virtual QString uniqueIdentifier(const QString &wanted) const = 0;
    // `identifier` must come from uniqueIdentifier() or be unique by
    // construction (a child of a unique identifier).
    virtual void addRecord(const QString &identifier, const QString &entityName, QVariantMap record) = 0;
};

// The kinds of data a source is asked for; each brings its dependent
// entities (a contact its phone numbers, an event its alarms and recurrences).
enum class SyncDataKind { Contacts, Calendars, Events, Tasks, Notes };
QString kindDisplayName(SyncDataKind kind, qsizetype count);

struct SourceReadResult
{
    bool found = false;  // false: nothing of this kind exists there (not an error)
    qsizetype items = 0; // main records given (contacts, calendars, events, to-dos, notes)
    QStringList collections; // what was read, for the log
    // Why a source that may hold data could not be asked (found is false);
    // empty when it was asked.
    QString unreachable;
    QStringList leftOut;     // items (files) of which nothing could be read, by name
};

class SyncSource
{
public:
    virtual ~SyncSource() = default;
    virtual QString name() const = 0;
    // Adds the records of `kind`. Throws sourceException() when the source
    // exists but cannot be read; a source that is not there answers found false.
    virtual SourceReadResult read(SyncDataKind kind, SyncRecordSink &sink) = 0;
};

// Records in truth of some entities, in the order the sources gave them.
class SyncRecordSnapshot
{
public:
    // Records whose attributes equal every pair of `attributes`.
    SyncRecordList recordsWithMatchingAttributes(const QVariantMap &attributes) const;
    // Records with these identifiers, in the order asked; unknown ones left out.
    SyncRecordList recordsWithIdentifiers(const QStringList &identifiers) const;
    // The same, moved out of the snapshot (each leaves an empty record in its
    // place): a reader that visits every record once lets the snapshot shrink
    // as its own results grow.
    SyncRecordList takeRecordsWithIdentifiers(const QStringList &identifiers);
    qsizetype count() const { return m_records.size(); }
    // What the sources could not read at all (SourceReadResult::leftOut).
    const QStringList &leftOut() const { return m_leftOut; }

private:
    friend class SnapshotBuilder;
    SyncRecordList m_records;
    QStringList m_leftOut;
    QHash<QString, qsizetype> m_index;
};

// A registered client: its identifier and the entities its description allows.
class SyncClient
{
public:
    SyncClient(QString identifier, QString displayName, QStringList entityNames);
    const QString &identifier() const { return m_identifier; }
    const QString &displayName() const { return m_displayName; }
    const QStringList &entityNames() const { return m_entityNames; }

private:
    QString m_identifier;
    QString m_displayName;
    QStringList m_entityNames;
};

class SyncSession
{
public:
    SyncSession(std::shared_ptr<SyncClient> client, QStringList entityNames);
    const SyncClient &client() const { return *m_client; }
    const QStringList &entityNames() const { return m_entityNames; }
    bool isFinished() const { return m_finished; }
    void finishSyncing() { m_finished = true; }

private:
    std::shared_ptr<SyncClient> m_client;
    QStringList m_entityNames;
    bool m_finished = false;
};

class SyncManager
{
public:
    explicit SyncManager(std::vector<std::unique_ptr<SyncSource>> sources);
    ~SyncManager();

    // The application's store: Evolution Data Server and the vdir folders
    // named by the user default kVdirFoldersDefaultsKey. Tests may replace it.
    static std::shared_ptr<SyncManager> sharedManager();
    static void setSharedManager(std::shared_ptr<SyncManager> manager);

    bool isEnabled() const;
    void setEnabled(bool enabled);

    // Registrations last as long as the manager.
    std::shared_ptr<SyncClient> clientWithIdentifier(const QString &identifier) const;
    // `descriptionPath`: a JSON client description ({"DisplayName", "Entities"});
    // nullptr (logged) when it cannot be read.
    std::shared_ptr<SyncClient> registerClientWithIdentifier(const QString &identifier,
                                                              const QString &descriptionPath);
    // nullptr when the store is disabled, or an entity is not in the client's
    // description (logged). `beforeDate` is accepted for the interface's sake.
    std::unique_ptr<SyncSession> beginSession(const std::shared_ptr<SyncClient> &client,
                                              const QStringList &entityNames, const QDateTime &beforeDate);

    // Reads every source for the entities named (and their dependents). The
    // store's own identifiers are used (no client translation). Throws the
    // first source's sourceException(); logs what each source gave.
    std::unique_ptr<SyncRecordSnapshot> snapshotOfRecordsInTruth(const QStringList &entityNames,
                                                                 const SyncClient *client = nullptr);
    // The sources the last read of `kind` could not ask, each as
    // "<source>: <why>"; empty when every source was asked.
    QStringList unreachableSources(SyncDataKind kind) const;

private:
    std::vector<std::unique_ptr<SyncSource>> m_sources;
    mutable std::mutex m_mutex;
    bool m_enabled = true;
    QHash<QString, std::shared_ptr<SyncClient>> m_clients;
    QHash<int, QStringList> m_unreachable;
};

// User default: a list of folders (or one folder as text) of vdir collections.
inline const QString kVdirFoldersDefaultsKey = QStringLiteral("PIMVdirFolders");

}  // namespace syncstore
