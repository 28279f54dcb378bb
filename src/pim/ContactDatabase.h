#pragma once

#include "pim/PIMDatabase.h"
#include "fileinfo/VtrBaseFileInfo.h"
#include "pim/records/STRecord.h"

#include <QByteArray>
#include <QIODevice>
#include <QVariantList>

#include <functional>
#include <mutex>
#include <optional>

// The person's contacts and contact groups: read from the store, turned into
// contact records and their JSON records; for a Windows Phone target handed
// to the delegate as Windows Live contact bodies (stowContacts), for any
// other target written as "contacts" and "groups" export lines into
// "sl_contacts.json". Also turns the Android companion app's contacts file
// into Windows Live bodies.
class ContactDatabase : public PIMDatabase
{
public:
    using PIMDatabase::PIMDatabase;

    QString clientIdentifier() const override;
    QString clientDescriptionPath() const override;
    QList<QUrl> schemaBundleURLs() const override;
    QStringList entityNamesToSync() const override;

    void createDatabase() override;
    // With "note" when a file of the store held no contact that could be read.
    QVariantMap manifestInfo() const override;

    // Contact snapshot dictionaries, in the store's order; empty when none.
    QVariantList syncSessionForSnapshot();
    // The same one at a time, with its index and the number of contacts; each
    // contact's records leave the store's snapshot as its dictionary is made.
    // A failure to read the store is logged ("Could not access contact data.")
    // and passed on; what `visit` throws passes unlogged.
    void forEachContactSnapshot(const std::function<void(QVariantMap, qsizetype, qsizetype)> &visit);
    // Group dictionaries ("name", "uid", "members"); empty (nil) when none.
    // A group without a name is left out (logged).
    QVariantList groupArrayAll();

    // The converter the mapping's entity name chooses; null for any other.
    STRecordPtr convertSyncRecordToSTRecord(const QVariantMap &record, const QVariantMap &mapping);
    STRecordPtr convertSyncContactRecordToSTRecord(const QVariantMap &record, const QVariantMap &mapping);
    STRecordPtr convertSyncGroupRecordToSTRecord(const QVariantMap &record, const QVariantMap &mapping);

    // Item builders: "uid", "parentID" and the keys each copies; empty for
    // no input.
    QVariantList phoneArray(const QVariantList &items, const QString &parentID) const;
    QVariantList emailArray(const QVariantList &items, const QString &parentID) const;
    QVariantList urlArray(const QVariantList &items, const QString &parentID) const;
    QVariantList imArray(const QVariantList &items, const QString &parentID) const;
    QVariantList addressArray(const QVariantList &items, const QString &parentID) const;
    QVariantList organizationArray(const QVariantMap &contact, const QString &parentID) const;

    // ---- Windows Live bodies
    // One body per JSON contact record, in order.
    QVariantList convertContactsToWindowsLive(const QVariantList &records) const;
    // The body of one JSON contact record.
    static QVariantMap windowsLiveContact(const QVariantMap &record);
    // The companion app's contacts file; nullopt when it is not UTF-8.
    std::optional<QVariantList> windowsLiveContactsWithData(const QByteArray &data);
    // The same from the file on the phone (or on this computer), read one
    // line at a time, each body held as its compact JSON text
    // (CompactJsonObject: toMap() gives the body): a file of any size needs
    // little more than its bodies' text. Throws a VtrException when the file
    // cannot be read.
    std::optional<QVariantList> windowsLiveContactsFromFile(const VtrFileInfoPtr &file);
    static void mapField(const QString &sourceKey, const QVariantMap &source, const QString &targetKey,
                         QVariantMap &target);

private:
    void setLeftOut(QStringList files);

    // The store's files of which nothing could be read; the main thread asks
    // for the manifest while a dump runs.
    mutable std::mutex m_leftOutMutex;
    QStringList m_leftOut;

    // The bodies of the contacts lines of `file`, each kept as `keep` makes it.
    std::optional<QVariantList> windowsLiveContactsFromDevice(QIODevice &file,
                                                              const std::function<QVariant(const QVariantMap &)> &keep);
};
