#include "VtrUserDefaults.h"

#include "platform/UserDefaults.h"

#include <QMetaType>
#include <QMutex>
#include <QMutexLocker>

#include <optional>

namespace vtr {

namespace {

// Serialises the read-modify-write of whole domains within this process.
QMutex g_domainLock;

QString storeKey(const QString &domain)
{
    QString escaped = domain;
    escaped.replace(QLatin1Char('%'), QLatin1String("%25"))
        .replace(QLatin1Char('/'), QLatin1String("%2F"))
        .replace(QLatin1Char('\\'), QLatin1String("%5C"));
    return QStringLiteral("PersistentDomains/") + escaped;
}

bool isOwnDomain(const QString &domain, const QString &bundleIdentifier)
{
    return !bundleIdentifier.isEmpty() && bundleIdentifier.compare(domain, Qt::CaseInsensitive) == 0;
}

std::optional<QVariantMap> readDomain(const QString &domain)
{
    const QVariant v = platform::UserDefaults::value(storeKey(domain));
    if (!v.isValid()) return std::nullopt;
    return v.toMap();
}

void writeDomain(const QString &domain, const QVariantMap &map)
{
    platform::UserDefaults::setValue(storeKey(domain), map);
    platform::UserDefaults::synchronize();
}

void deleteDomain(const QString &domain)
{
    platform::UserDefaults::remove(storeKey(domain));
    platform::UserDefaults::synchronize();
}

} // namespace

QString mainBundleIdentifier()
{
    return QStringLiteral("com.vantrel.solvennawindowsphone");
}

QVariant persistentDomainForName(const QString &domain)
{
    if (domain.isEmpty()) return QVariant();
    QMutexLocker l(&g_domainLock);
    const std::optional<QVariantMap> map = readDomain(domain);
    return map ? QVariant(*map) : QVariant();
}

QVariant objectForKeyWithBundle(const QString &key, const QString &domain, const QString &bundleIdentifier)
{
    if (domain.isEmpty() || key.isEmpty()) return QVariant();
    if (isOwnDomain(domain, bundleIdentifier)) return platform::UserDefaults::value(key);
    QMutexLocker l(&g_domainLock);
    const std::optional<QVariantMap> map = readDomain(domain);
    return map ? map->value(key) : QVariant();
}

QVariant objectForKey(const QString &key, const QString &domain)
{
    return objectForKeyWithBundle(key, domain, mainBundleIdentifier());
}

void setObjectWithBundle(const QVariant &value, const QString &key, const QString &domain,
                         const QString &bundleIdentifier)
{
    if (domain.isEmpty() || key.isEmpty()) return;
    // Setting "no value" is taken as a removal rather than storing an
    // invalid QVariant.
    if (!value.isValid()) {
        removeObjectForKeyWithBundle(key, domain, bundleIdentifier);
        return;
    }
    if (isOwnDomain(domain, bundleIdentifier)) {
        platform::UserDefaults::setValue(key, value);
        platform::UserDefaults::synchronize();
        return;
    }
    QMutexLocker l(&g_domainLock);
    QVariantMap map = readDomain(domain).value_or(QVariantMap());
    map.insert(key, value);
    writeDomain(domain, map);
}

void setObject(const QVariant &value, const QString &key, const QString &domain)
{
    setObjectWithBundle(value, key, domain, mainBundleIdentifier());
}

void removeObjectForKeyWithBundle(const QString &key, const QString &domain, const QString &bundleIdentifier)
{
    if (domain.isEmpty() || key.isEmpty()) return;
    if (isOwnDomain(domain, bundleIdentifier)) {
        platform::UserDefaults::remove(key);
        platform::UserDefaults::synchronize();
        return;
    }
    QMutexLocker l(&g_domainLock);
    std::optional<QVariantMap> map = readDomain(domain);
    if (!map) return;
    map->remove(key);
    if (map->isEmpty())
        deleteDomain(domain);
    else
        writeDomain(domain, *map);
}

void removeObjectForKey(const QString &key, const QString &domain)
{
    removeObjectForKeyWithBundle(key, domain, mainBundleIdentifier());
}

bool boolValueOfDefault(const QVariant &value)
{
    if (!value.isValid()) return false;
    switch (value.typeId()) {
    case QMetaType::QString:
        return value.toString().compare(QLatin1String("YES"), Qt::CaseInsensitive) == 0;
    case QMetaType::Bool:
        return value.toBool();
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::Short:
    case QMetaType::Int:
    case QMetaType::Long:
    case QMetaType::LongLong:
        return value.toLongLong() != 0;
    case QMetaType::UChar:
    case QMetaType::UShort:
    case QMetaType::UInt:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
        return value.toULongLong() != 0;
    case QMetaType::Float:
    case QMetaType::Double:
        return value.toDouble() != 0.0;
    default:
        return false;
    }
}

bool boolForKey(const QString &key, const QString &domain)
{
    return boolValueOfDefault(objectForKey(key, domain));
}

void setBool(bool value, const QString &key, const QString &domain)
{
    setObject(QVariant(value), key, domain);
}

QVariant objectForKeyForGUID(const QString &key, const QString &domain, const QString &guid)
{
    if (guid.isEmpty()) return objectForKey(key, domain);
    if (domain.isEmpty() || key.isEmpty()) return QVariant();
    QMutexLocker l(&g_domainLock);
    const std::optional<QVariantMap> map = readDomain(domain);
    if (!map || !map->contains(guid)) return QVariant();
    return map->value(guid).toMap().value(key);
}

void setObjectForGUID(const QVariant &value, const QString &key, const QString &domain, const QString &guid)
{
    if (guid.isEmpty()) {
        setObject(value, key, domain);
        return;
    }
    if (domain.isEmpty() || key.isEmpty()) return;
    if (!value.isValid()) {
        removeObjectForKeyForGUID(key, domain, guid);
        return;
    }
    QMutexLocker l(&g_domainLock);
    QVariantMap map = readDomain(domain).value_or(QVariantMap());
    QVariantMap perGuid = map.value(guid).toMap();
    perGuid.insert(key, value);
    map.insert(guid, perGuid);
    writeDomain(domain, map);
}

void removeObjectForKeyForGUID(const QString &key, const QString &domain, const QString &guid)
{
    if (guid.isEmpty()) {
        removeObjectForKey(key, domain);
        return;
    }
    if (domain.isEmpty() || key.isEmpty()) return;
    QMutexLocker l(&g_domainLock);
    std::optional<QVariantMap> map = readDomain(domain);
    if (!map || !map->contains(guid)) return;
    QVariantMap perGuid = map->value(guid).toMap();
    perGuid.remove(key);
    map->insert(guid, perGuid);
    writeDomain(domain, *map);
}

void removeAllKeysForGUID(const QString &guid, const QString &domain)
{
    if (guid.isEmpty() || domain.isEmpty()) return;
    QMutexLocker l(&g_domainLock);
    std::optional<QVariantMap> map = readDomain(domain);
    if (!map) return;
    map->remove(guid);
    writeDomain(domain, *map);
}

void setBoolForGUID(bool value, const QString &key, const QString &domain, const QString &guid)
{
    setObjectForGUID(QVariant(value), key, domain, guid);
}

bool boolForKeyForGUID(const QString &key, const QString &domain, const QString &guid)
{
    return boolValueOfDefault(objectForKeyForGUID(key, domain, guid));
}

} // namespace vtr
