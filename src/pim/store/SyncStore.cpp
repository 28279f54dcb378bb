#include "pim/store/SyncStore.h"

#include "foundation/Json.h"
#include "foundation/Log.h"
#include "pim/store/EdsSource.h"
#include "pim/store/VdirSource.h"

#include <QColor>
#include <QFile>
#include <QSet>

#include <algorithm>
#include <utility>

namespace syncstore {

VtrException sourceException(const QString &sourceName, const QString &why)
{
    return VtrException(kSourceExceptionName,
                        QStringLiteral("%1 could not be read: %2").arg(sourceName, why));
}

QString storeColorText(const QString &colorName)
{
    const QColor color(colorName.trimmed());
    return color.isValid() ? QString::asprintf("%f,%f,%f,%f", color.redF(), color.greenF(), color.blueF(), color.alphaF())
                           : QString();
}

QString kindDisplayName(SyncDataKind kind, qsizetype count)
{
    const bool one = count == 1;
    switch (kind) {
    case SyncDataKind::Contacts: return one ? QStringLiteral("Contact") : QStringLiteral("Contacts");
    case SyncDataKind::Calendars: return one ? QStringLiteral("Calendar") : QStringLiteral("Calendars");
    case SyncDataKind::Events: return one ? QStringLiteral("Event") : QStringLiteral("Events");
    case SyncDataKind::Tasks: return one ? QStringLiteral("Task") : QStringLiteral("Tasks");
    case SyncDataKind::Notes: return one ? QStringLiteral("Note") : QStringLiteral("Notes");
    }
    return {};
}

// ---- snapshot ---------------------------------------------------------------

SyncRecordList SyncRecordSnapshot::recordsWithMatchingAttributes(const QVariantMap &attributes) const
{
    SyncRecordList out;
    for (const SyncRecordEntry &e : m_records) {
        bool match = true;
        for (auto it = attributes.cbegin(); it != attributes.cend() && match; ++it)
            match = e.record.value(it.key()) == it.value();
        if (match) out.append(e);
    }
    return out;
}

SyncRecordList SyncRecordSnapshot::recordsWithIdentifiers(const QStringList &identifiers) const
{
    SyncRecordList out;
    for (const QString &id : identifiers) {
        const auto it = m_index.constFind(id);
        if (it != m_index.cend()) out.append(m_records.at(*it));
    }
    return out;
}

SyncRecordList SyncRecordSnapshot::takeRecordsWithIdentifiers(const QStringList &identifiers)
{
    SyncRecordList out;
    for (const QString &id : identifiers) {
        const auto it = m_index.constFind(id);
        if (it != m_index.cend()) out.append({id, std::exchange(m_records[*it].record, QVariantMap())});
    }
    return out;
}

class SnapshotBuilder final : public SyncRecordSink
{
public:
    explicit SnapshotBuilder(SyncRecordSnapshot &snapshot) : m_snapshot(snapshot) {}

    QString uniqueIdentifier(const QString &wanted) const override
    {
        const QString base = wanted.isEmpty() ? QStringLiteral("record") : wanted;
        if (!m_snapshot.m_index.contains(base) && !m_reserved.contains(base)) return reserve(base);
        // An identifier once taken stays taken: each name's search goes on
        // where its last one ended (a file of k cards of one UID costs k, not k²).
        int &n = m_next[base];
        for (n = std::max(n, 2);; ++n) {
            const QString id = base + QLatin1Char('#') + QString::number(n);
            if (!m_snapshot.m_index.contains(id) && !m_reserved.contains(id)) {
                ++n;
                return reserve(id);
            }
        }
    }

    void addRecord(const QString &identifier, const QString &entityName, QVariantMap record) override
    {
        record.insert(kRecordEntityNameKey, entityName);
        if (m_snapshot.m_index.contains(identifier)) return;  // a source bug; keep the first
        m_reserved.remove(identifier);
        m_snapshot.m_index.insert(identifier, m_snapshot.m_records.size());
        m_snapshot.m_records.append({identifier, std::move(record)});
    }

    void addLeftOut(const QStringList &items) { m_snapshot.m_leftOut += items; }

private:
    QString reserve(const QString &id) const
    {
        m_reserved.insert(id);
        return id;
    }
    SyncRecordSnapshot &m_snapshot;
    // Identifiers handed out before their record was added.
    mutable QSet<QString> m_reserved;
    // The number each wanted identifier's next search starts from.
    mutable QHash<QString, int> m_next;
};

// ---- clients and sessions -----------------------------------------------------

SyncClient::SyncClient(QString identifier, QString displayName, QStringList entityNames)
    : m_identifier(std::move(identifier)), m_displayName(std::move(displayName)),
      m_entityNames(std::move(entityNames))
{
}

SyncSession::SyncSession(std::shared_ptr<SyncClient> client, QStringList entityNames)
    : m_client(std::move(client)), m_entityNames(std::move(entityNames))
{
}

// ---- manager ----------------------------------------------------------------

SyncManager::SyncManager(std::vector<std::unique_ptr<SyncSource>> sources) : m_sources(std::move(sources)) {}
SyncManager::~SyncManager() = default;

namespace {
std::mutex g_sharedMutex;
std::shared_ptr<SyncManager> g_shared;
}  // namespace

std::shared_ptr<SyncManager> SyncManager::sharedManager()
{
    std::lock_guard lock(g_sharedMutex);
    if (!g_shared) {
        std::vector<std::unique_ptr<SyncSource>> sources;
        sources.push_back(std::make_unique<EdsSource>());
        sources.push_back(std::make_unique<VdirSource>());
        g_shared = std::make_shared<SyncManager>(std::move(sources));
    }
    return g_shared;
}

void SyncManager::setSharedManager(std::shared_ptr<SyncManager> manager)
{
    std::lock_guard lock(g_sharedMutex);
    g_shared = std::move(manager);
}

bool SyncManager::isEnabled() const
{
    std::lock_guard lock(m_mutex);
    return m_enabled;
}

void SyncManager::setEnabled(bool enabled)
{
    std::lock_guard lock(m_mutex);
    m_enabled = enabled;
}

std::shared_ptr<SyncClient> SyncManager::clientWithIdentifier(const QString &identifier) const
{
    std::lock_guard lock(m_mutex);
    return m_clients.value(identifier);
}

std::shared_ptr<SyncClient> SyncManager::registerClientWithIdentifier(const QString &identifier,
                                                                      const QString &descriptionPath)
{
    QFile file(descriptionPath);
    if (identifier.isEmpty() || !file.open(QIODevice::ReadOnly)) {
        VTR_LOG(2, QStringLiteral("Cannot register the store client %1: no description at %2")
                       .arg(identifier, descriptionPath));
        return nullptr;
    }
    const QVariantMap description = vtr::JSONValueFromUtf8(file.readAll()).toMap();
    const QStringList entities = description.value(QStringLiteral("Entities")).toStringList();
    if (entities.isEmpty()) {
        VTR_LOG(2, QStringLiteral("Cannot register the store client %1: %2 names no entities")
                       .arg(identifier, descriptionPath));
        return nullptr;
    }
    auto client = std::make_shared<SyncClient>(
        identifier, description.value(QStringLiteral("DisplayName")).toString(), entities);
    std::lock_guard lock(m_mutex);
    m_clients.insert(identifier, client);
    return client;
}

std::unique_ptr<SyncSession> SyncManager::beginSession(const std::shared_ptr<SyncClient> &client,
                                                       const QStringList &entityNames, const QDateTime &)
{
    if (!client || !isEnabled()) return nullptr;
    for (const QString &name : entityNames) {
        if (!client->entityNames().contains(name)) {
            VTR_LOG(2, QStringLiteral("The store client %1 is not described for %2")
                           .arg(client->identifier(), name));
            return nullptr;
        }
    }
    return std::make_unique<SyncSession>(client, entityNames);
}

namespace {

QList<SyncDataKind> kindsForEntities(const QStringList &entityNames)
{
    QList<SyncDataKind> kinds;
    auto need = [&](SyncDataKind k) {
        if (!kinds.contains(k)) kinds.append(k);
    };
    for (const QString &n : entityNames) {
        if (n.startsWith(QLatin1String("com.apple.contacts."))) need(SyncDataKind::Contacts);
        else if (n == entity::Calendar) need(SyncDataKind::Calendars);
        else if (n == entity::Event || n == entity::Recurrence) need(SyncDataKind::Events);
        else if (n == entity::Task) need(SyncDataKind::Tasks);
        else if (n == entity::Note) need(SyncDataKind::Notes);
        else if (n == entity::MailAlarm || n == entity::AudioAlarm || n == entity::DisplayAlarm) {
            need(SyncDataKind::Events);
            need(SyncDataKind::Tasks);
        }
    }
    return kinds;
}

}  // namespace

std::unique_ptr<SyncRecordSnapshot> SyncManager::snapshotOfRecordsInTruth(const QStringList &entityNames,
                                                                          const SyncClient *)
{
    auto snapshot = std::make_unique<SyncRecordSnapshot>();
    SnapshotBuilder builder(*snapshot);
    for (SyncDataKind kind : kindsForEntities(entityNames)) {
        qsizetype total = 0;
        QStringList unreachable;
        for (const auto &source : m_sources) {
            const SourceReadResult r = source->read(kind, builder);
            if (!r.unreachable.isEmpty()) unreachable.append(QStringLiteral("%1: %2").arg(source->name(), r.unreachable));
            builder.addLeftOut(r.leftOut);
            if (!r.found) continue;
            total += r.items;
            VTR_LOG(0, QStringLiteral("Read %1 %2 from %3%4")
                           .arg(r.items)
                           .arg(kindDisplayName(kind, r.items), source->name(),
                                r.collections.isEmpty()
                                    ? QString()
                                    : QStringLiteral(" (%1)").arg(r.collections.join(QStringLiteral(", ")))));
        }
        if (total == 0) VTR_LOG(0, QStringLiteral("0 %1").arg(kindDisplayName(kind, 0)));
        std::lock_guard lock(m_mutex);
        m_unreachable.insert(int(kind), unreachable);
    }
    return snapshot;
}

QStringList SyncManager::unreachableSources(SyncDataKind kind) const
{
    std::lock_guard lock(m_mutex);
    return m_unreachable.value(int(kind));
}

}  // namespace syncstore
