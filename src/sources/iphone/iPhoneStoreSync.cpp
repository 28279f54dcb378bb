#include "sources/iphone/iPhoneStoreSync.h"

#include "foundation/Json.h"
#include "foundation/Log.h"
#include "pim/store/SyncStore.h"
#include "sources/iphone/PropertyList.h"

#include <QDateTime>
#include <QFile>
#include <QSet>
#include <QTemporaryFile>

#include <mutex>

namespace vtr::iphone {
namespace {

class StoreClient final : public SyncClient
{
public:
    explicit StoreClient(std::shared_ptr<syncstore::SyncClient> client) : m_client(std::move(client)) {}
    QString clientIdentifier() const override { return m_client->identifier(); }
    const std::shared_ptr<syncstore::SyncClient> &storeClient() const { return m_client; }

private:
    std::shared_ptr<syncstore::SyncClient> m_client;
};

class StoreSession final : public SyncSession
{
public:
    explicit StoreSession(std::unique_ptr<syncstore::SyncSession> session) : m_session(std::move(session)) {}

    bool prepareToPullChangesForEntityNames(const QStringList &entityNames) override
    {
        if (m_session->isFinished()) return false;
        for (const QString &name : entityNames)
            if (!m_session->entityNames().contains(name)) return false;
        return true;
    }
    // The store is read-only: nothing was changed there for the client to take.
    QList<SyncChange> changesForEntityName(const QString &) override { return {}; }
    void clientAcceptedChangesForRecordWithIdentifier(const QString &, const QString &) override {}
    void clientRefusedChangesForRecordWithIdentifier(const QString &) override {}
    void clientCommittedAcceptedChanges() override {}
    void finishSyncing() override { m_session->finishSyncing(); }

private:
    std::unique_ptr<syncstore::SyncSession> m_session;
};

class StoreManager final : public SyncManager
{
public:
    explicit StoreManager(std::shared_ptr<syncstore::SyncManager> store) : m_store(std::move(store)) {}

    bool isEnabled() override { return m_store->isEnabled(); }
    // The store's entities are built in: a schema adds none.
    bool registerSchemaWithBundlePath(const QString &) override { return true; }

    SyncClientPtr clientWithIdentifier(const QString &identifier) override
    {
        {
            std::lock_guard lock(m_mutex);
            if (m_unregistered.contains(identifier)) return nullptr;
        }
        return wrap(m_store->clientWithIdentifier(identifier));
    }

    SyncClientPtr registerClientWithIdentifier(const QString &identifier, const QString &descriptionFilePath) override
    {
        SyncClientPtr client = wrap(registerWithDescription(identifier, descriptionFilePath));
        if (client) {
            std::lock_guard lock(m_mutex);
            m_unregistered.remove(identifier);
        }
        return client;
    }

    // The store keeps its registrations for its lifetime; this one hides the
    // client until it registers again.
    void unregisterClient(const SyncClientPtr &client) override
    {
        if (!client) return;
        std::lock_guard lock(m_mutex);
        m_unregistered.insert(client->clientIdentifier());
    }

    std::unique_ptr<SyncSession> beginSession(const SyncClientPtr &client, const QStringList &entityNames,
                                              double timeoutSeconds) override
    {
        const auto *mine = dynamic_cast<const StoreClient *>(client.get());
        if (!mine) return nullptr;
        std::unique_ptr<syncstore::SyncSession> session = m_store->beginSession(
            mine->storeClient(), entityNames, QDateTime::currentDateTime().addMSecs(qint64(timeoutSeconds * 1000)));
        if (!session) return nullptr;
        return std::make_unique<StoreSession>(std::move(session));
    }

private:
    static SyncClientPtr wrap(std::shared_ptr<syncstore::SyncClient> client)
    {
        return client ? std::make_shared<StoreClient>(std::move(client)) : nullptr;
    }

    // The store reads JSON descriptions; a property-list one ({"DisplayName",
    // "Entities" as a list or a dictionary keyed by entity}) is handed over
    // as JSON through a private temporary file.
    std::shared_ptr<syncstore::SyncClient> registerWithDescription(const QString &identifier, const QString &path)
    {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) return m_store->registerClientWithIdentifier(identifier, path);
        const QVariant parsed = vtr::plist::fromData(file.readAll());
        if (parsed.typeId() != QMetaType::QVariantMap) return m_store->registerClientWithIdentifier(identifier, path);
        const QVariantMap plist = parsed.toMap();
        const QVariant entities = plist.value(QStringLiteral("Entities"));
        const QVariantMap description{
            {QStringLiteral("DisplayName"), plist.value(QStringLiteral("DisplayName"))},
            {QStringLiteral("Entities"), entities.typeId() == QMetaType::QVariantMap
                                             ? QVariant(entities.toMap().keys())
                                             : QVariant(entities.toStringList())}};
        QTemporaryFile json;
        if (!json.open() || json.write(vtr::JSONRepresentation(description).toUtf8()) < 0 || !json.flush()) {
            VTR_LOG(2, QStringLiteral("Cannot hand the client description %1 to the store").arg(path));
            return nullptr;
        }
        return m_store->registerClientWithIdentifier(identifier, json.fileName());
    }

    std::shared_ptr<syncstore::SyncManager> m_store;
    std::mutex m_mutex;
    QSet<QString> m_unregistered;
};

} // namespace

std::shared_ptr<SyncManager> storeSyncManager(std::shared_ptr<syncstore::SyncManager> store)
{
    return std::make_shared<StoreManager>(store ? std::move(store) : syncstore::SyncManager::sharedManager());
}

} // namespace vtr::iphone
