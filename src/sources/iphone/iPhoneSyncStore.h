#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <memory>

// The synchronisation store as the older iPhone backup scanner uses it: a
// manager that registers schemas and clients, and a session that offers the
// store's changes for the client to accept or refuse. The scanner works on
// the application's own store (iPhoneStoreSync.h) unless it is given another
// (iPhoneDB::setSyncManager).
namespace vtr::iphone {

struct SyncChange
{
    enum class Type { Add, Modify, Delete };
    Type type = Type::Add;
    QString recordIdentifier;
    QVariantMap record;
};

class SyncClient
{
public:
    virtual ~SyncClient() = default;
    virtual QString clientIdentifier() const = 0;
};
using SyncClientPtr = std::shared_ptr<SyncClient>;

// Failures inside a session are VtrExceptions.
class SyncSession
{
public:
    virtual ~SyncSession() = default;
    virtual bool prepareToPullChangesForEntityNames(const QStringList &entityNames) = 0;
    virtual QList<SyncChange> changesForEntityName(const QString &entityName) = 0;
    virtual void clientAcceptedChangesForRecordWithIdentifier(const QString &identifier,
                                                              const QString &newIdentifier) = 0;
    virtual void clientRefusedChangesForRecordWithIdentifier(const QString &identifier) = 0;
    virtual void clientCommittedAcceptedChanges() = 0;
    virtual void finishSyncing() = 0;
};

class SyncManager
{
public:
    virtual ~SyncManager() = default;
    virtual bool isEnabled() = 0;
    virtual bool registerSchemaWithBundlePath(const QString &path) = 0;
    virtual SyncClientPtr clientWithIdentifier(const QString &identifier) = 0;
    virtual SyncClientPtr registerClientWithIdentifier(const QString &identifier,
                                                       const QString &descriptionFilePath) = 0;
    virtual void unregisterClient(const SyncClientPtr &client) = 0;
    // nullptr when no session could start within `timeoutSeconds`.
    virtual std::unique_ptr<SyncSession> beginSession(const SyncClientPtr &client, const QStringList &entityNames,
                                                      double timeoutSeconds) = 0;
};

} // namespace vtr::iphone
