#include "STTimeZone.h"

#include "foundation/Json.h"
#include "foundation/Log.h"
#include "foundation/LogFile.h"

#include <QFile>
#include <QMutex>
#include <QMutexLocker>

namespace {

QMutex g_tableLock;
std::shared_ptr<const STTimeZone::Table> g_table;
QString g_folderOverride;

const QString kIdentifier = QStringLiteral("identifier");
const QString kStandardName = QStringLiteral("standardName");
const QString kStandardAbbreviation = QStringLiteral("standardAbbreviation");
const QString kDaylightName = QStringLiteral("daylightName");
const QString kDaylightAbbreviation = QStringLiteral("daylightAbbreviation");
const QString kStandardOffset = QStringLiteral("standardOffset");

template <typename Get>
const STTimeZone *findBy(const QString &text, const STTimeZone::Table &table, Get get)
{
    for (const STTimeZone &z : table)
        if ((z.*get)() == text) return &z;
    return nullptr;
}

} // namespace

STTimeZone::STTimeZone(const QString &identifier, const QString &standardName, const QString &standardAbbreviation,
                       const QString &daylightName, const QString &daylightAbbreviation, qint32 standardOffset)
    : m_identifier(identifier), m_standardName(standardName), m_standardAbbreviation(standardAbbreviation),
      m_daylightName(daylightName), m_daylightAbbreviation(daylightAbbreviation), m_standardOffset(standardOffset)
{
}

std::shared_ptr<const STTimeZone::Table> STTimeZone::timeZoneArray()
{
    QMutexLocker lock(&g_tableLock);
    if (g_table) return g_table;
    const QString folder = g_folderOverride.isEmpty() ? QStringLiteral(":/pim") : g_folderOverride;
    QFile file(folder + QStringLiteral("/TZ.archive"));
    if (!file.exists()) {
        VtrDebugLog(QStringLiteral("Can't find time zone data."));
        return nullptr;
    }
    Table table;
    if (!file.open(QIODevice::ReadOnly) || !unarchiveTable(file.readAll(), &table)) {
        VtrDebugLog(QStringLiteral("Can't open time zone data."));
        return nullptr;
    }
    g_table = std::make_shared<const Table>(std::move(table));
    return g_table;
}

void STTimeZone::releaseTimeZoneArray()
{
    QMutexLocker lock(&g_tableLock);
    g_table.reset();
}

void STTimeZone::setResourceFolderOverride(const QString &folder)
{
    QMutexLocker lock(&g_tableLock);
    g_folderOverride = folder;
}

const STTimeZone *STTimeZone::stTimeZoneWithIdentitifer(const QString &identifier, const Table &table)
{
    return findBy(identifier, table, &STTimeZone::identifier);
}

const STTimeZone *STTimeZone::stTimeZoneWithStandardName(const QString &name, const Table &table)
{
    return findBy(name, table, &STTimeZone::standardName);
}

const STTimeZone *STTimeZone::stTimeZoneWithDaylightName(const QString &name, const Table &table)
{
    return findBy(name, table, &STTimeZone::daylightName);
}

QString STTimeZone::description() const
{
    return QStringLiteral("%1 (%2, %3) offset = %4")
        .arg(m_identifier, m_standardName, m_daylightName)
        .arg(m_standardOffset);
}

QVariant STTimeZone::valueForKey(const QString &key) const
{
    if (key == kIdentifier) return m_identifier;
    if (key == kStandardName) return m_standardName;
    if (key == kStandardAbbreviation) return m_standardAbbreviation;
    if (key == kDaylightName) return m_daylightName;
    if (key == kDaylightAbbreviation) return m_daylightAbbreviation;
    if (key == kStandardOffset) return m_standardOffset;
    return vtr::jsonNull();
}

void STTimeZone::setValueForKey(const QVariant &value, const QString &key)
{
    if (key == kIdentifier)
        m_identifier = value.toString();
    else if (key == kStandardName)
        m_standardName = value.toString();
    else if (key == kStandardAbbreviation)
        m_standardAbbreviation = value.toString();
    else if (key == kDaylightName)
        m_daylightName = value.toString();
    else if (key == kDaylightAbbreviation)
        m_daylightAbbreviation = value.toString();
    else if (key == kStandardOffset)
        m_standardOffset = value.toInt();
}

QVariantMap STTimeZone::encode() const
{
    return {{kIdentifier, m_identifier},
            {kStandardName, m_standardName},
            {kStandardAbbreviation, m_standardAbbreviation},
            {kDaylightName, m_daylightName},
            {kDaylightAbbreviation, m_daylightAbbreviation},
            {kStandardOffset, quint32(m_standardOffset)}};
}

STTimeZone STTimeZone::decode(const QVariantMap &archive)
{
    STTimeZone z;
    z.m_identifier = archive.value(kIdentifier).toString();
    z.m_standardName = archive.value(kStandardName).toString();
    z.m_standardAbbreviation = archive.value(kStandardAbbreviation).toString();
    z.m_daylightName = archive.value(kDaylightName).toString();
    z.m_daylightAbbreviation = archive.value(kDaylightAbbreviation).toString();
    // The archive's text reads back as the unsigned number written; its low
    // 32 bits are the signed offset.
    z.m_standardOffset = qint32(archive.value(kStandardOffset).toString().toLongLong());
    return z;
}

QByteArray STTimeZone::archiveTable(const Table &table)
{
    QVariantList list;
    for (const STTimeZone &z : table) list.append(z.encode());
    return vtr::oldStylePropertyListText(list);
}

bool STTimeZone::unarchiveTable(const QByteArray &text, Table *table)
{
    const std::optional<QVariant> parsed = vtr::parseOldStylePropertyList(text);
    if (!parsed || parsed->typeId() != QMetaType::QVariantList) return false;
    table->clear();
    for (const QVariant &entry : parsed->toList()) {
        if (entry.typeId() != QMetaType::QVariantMap) return false;
        table->append(decode(entry.toMap()));
    }
    return true;
}
