#include "VtrRecordModel.h"

#include "foundation/LogFile.h"

namespace {

QString orNull(const QString &s)
{
    return s.isNull() ? QStringLiteral("(null)") : s;
}

QString typeName(QMetaType type)
{
    return type.isValid() && type.name() ? QString::fromLatin1(type.name()) : QStringLiteral("(null)");
}

template <typename T, typename Key> std::optional<T> firstWith(const QList<T> &list, Key key, const QString &wanted)
{
    for (const T &item : list)
        if ((item.*key)() == wanted) return item;
    return std::nullopt;
}

} // namespace

QString VtrAttribute::description() const
{
    return QStringLiteral("%1 (%2) Field name = %3\n").arg(orNull(m_name), typeName(m_type), orNull(m_fieldName));
}

QString VtrRelationship::description() const
{
    return QStringLiteral("%1 (Target: %2 Ordinality: %3) Field Name = %4\n")
        .arg(orNull(m_name), m_targetEntityNames.join(QStringLiteral(", ")),
             m_ordinality == 0 ? QStringLiteral("one to many") : QStringLiteral("many to many"), orNull(m_fieldName));
}

std::optional<VtrAttribute> VtrEntity::attributeWithName(const QString &name) const
{
    return firstWith(m_attributes, &VtrAttribute::name, name);
}

std::optional<VtrAttribute> VtrEntity::attributeWithFieldName(const QString &fieldName) const
{
    return firstWith(m_attributes, &VtrAttribute::fieldName, fieldName);
}

std::optional<VtrRelationship> VtrEntity::relationshipWithName(const QString &name) const
{
    return firstWith(m_relationships, &VtrRelationship::name, name);
}

std::optional<VtrRelationship> VtrEntity::relationshipWithFieldName(const QString &fieldName) const
{
    return firstWith(m_relationships, &VtrRelationship::fieldName, fieldName);
}

QList<VtrRelationship> VtrEntity::relationshipsRequiringJoinTables() const
{
    QList<VtrRelationship> result;
    for (const VtrRelationship &r : m_relationships)
        if (r.requiresJoinTable()) result.append(r);
    return result;
}

QMetaType VtrEntity::dataTypeForAttributeName(const QString &name) const
{
    if (std::optional<VtrAttribute> a = attributeWithName(name)) return a->type();
    if (std::optional<VtrRelationship> r = relationshipWithName(name)) {
        if (r->ordinality() == 0 || r->ordinality() == 1) return QMetaType::fromType<QString>();
    }
    return QMetaType();
}

QMetaType VtrEntity::dataTypeForFieldName(const QString &fieldName) const
{
    if (std::optional<VtrAttribute> a = attributeWithFieldName(fieldName)) return a->type();
    if (std::optional<VtrRelationship> r = relationshipWithFieldName(fieldName)) {
        if (r->ordinality() == 0) return QMetaType::fromType<QString>();
        if (r->ordinality() == 1) return QMetaType::fromType<QVariantList>();
        return QMetaType();
    }
    return QMetaType::fromType<QString>();
}

QString VtrEntity::shortName() const
{
    if (m_name.isNull()) return QString();
    const qsizetype dot = m_name.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? m_name : m_name.mid(dot + 1);
}

QString VtrEntity::description() const
{
    QString text = orNull(m_name) + QStringLiteral("\nAttributes:\n");
    for (const VtrAttribute &a : m_attributes)
        text += QLatin1Char(' ') + a.description();
    text += QStringLiteral("Relationships:\n");
    for (const VtrRelationship &r : m_relationships)
        text += QLatin1Char(' ') + r.description();
    return text;
}

QString VtrRecordStateName(int state)
{
    switch (state) {
    case kVtrRecordStateClean:
        return QStringLiteral("Clean");
    case kVtrRecordStateDirty:
        return QStringLiteral("Dirty");
    case kVtrRecordStateNew:
        return QStringLiteral("New");
    case kVtrRecordStateDeleted:
        return QStringLiteral("Deleted");
    default:
        return QStringLiteral("Undefined");
    }
}

void VtrDatabaseRecord::setProperties(const QVariantMap &properties)
{
    m_properties = properties;
    recordChanged();
}

void VtrDatabaseRecord::setIdentifier(const QVariant &identifier)
{
    m_properties.insert(QStringLiteral("id"), identifier);
    recordChanged();
}

void VtrDatabaseRecord::recordChanged()
{
    if (m_recordState == kVtrRecordStateClean) m_recordState = kVtrRecordStateDirty;
}

void VtrDatabaseRecord::recordSaved()
{
    m_recordState = kVtrRecordStateClean;
}

QString VtrDatabaseRecord::description() const
{
    return QStringLiteral("VtrDatabaseRecord\nEntity = %1\n%2\nRecord state = %3\n")
        .arg(orNull(m_entityName), QString::fromUtf8(vtr::oldStylePropertyListText(m_properties)),
             VtrRecordStateName(m_recordState));
}

QString VtrDatabaseError::description() const
{
    return QStringLiteral("VtrDatabaseError. Number = %1 Message = \"%2\"").arg(m_number).arg(orNull(m_message));
}

namespace vtr {

const VtrDatabaseRecord *databaseRecordWithValue(const QVariantList &array, const QVariant &value, const QString &key)
{
    for (const QVariant &element : array) {
        if (element.metaType() != QMetaType::fromType<VtrDatabaseRecord>()) continue;
        const auto *record = static_cast<const VtrDatabaseRecord *>(element.constData());
        if (record->properties().value(key) == value) return record;
    }
    return nullptr;
}

VtrDatabaseRecord *databaseRecordWithValue(QVariantList &array, const QVariant &value, const QString &key)
{
    for (QVariant &element : array) {
        if (element.metaType() != QMetaType::fromType<VtrDatabaseRecord>()) continue;
        auto *record = static_cast<VtrDatabaseRecord *>(element.data());
        if (record->properties().value(key) == value) return record;
    }
    return nullptr;
}

} // namespace vtr
