#pragma once

#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>

#include <optional>

// A small schema-and-record model: an entity describes a kind of record kept
// in a table, with named attributes and relationships; a record holds one
// row's properties and an edit state. All are values; "no type" is an invalid
// QMetaType, and a null QString describes as "(null)".

class VtrAttribute
{
public:
    QString name() const { return m_name; }
    void setName(const QString &name) { m_name = name; }
    // The column name.
    QString fieldName() const { return m_fieldName; }
    void setFieldName(const QString &fieldName) { m_fieldName = fieldName; }
    // The type of the attribute's values.
    QMetaType type() const { return m_type; }
    void setType(QMetaType type) { m_type = type; }

    // "name (TypeName) Field name = field\n"
    QString description() const;

    bool operator==(const VtrAttribute &other) const = default;

private:
    QString m_name;
    QString m_fieldName;
    QMetaType m_type;
};

class VtrRelationship
{
public:
    QString name() const { return m_name; }
    void setName(const QString &name) { m_name = name; }
    QString fieldName() const { return m_fieldName; }
    void setFieldName(const QString &fieldName) { m_fieldName = fieldName; }
    QStringList targetEntityNames() const { return m_targetEntityNames; }
    void addTargetEntityName(const QString &name) { m_targetEntityNames.append(name); }
    void addTargetEntityNames(const QStringList &names) { m_targetEntityNames.append(names); }
    // Removes every equal name.
    void removeTargetEntityName(const QString &name) { m_targetEntityNames.removeAll(name); }
    // 0 one to many; any other value many to many.
    int ordinality() const { return m_ordinality; }
    void setOrdinality(int ordinality) { m_ordinality = ordinality; }
    bool requiresJoinTable() const { return m_requiresJoinTable; }
    void setRequiresJoinTable(bool flag) { m_requiresJoinTable = flag; }

    // "name (Target: a, b Ordinality: one to many) Field Name = field\n"
    QString description() const;

    bool operator==(const VtrRelationship &other) const = default;

private:
    QString m_name;
    QString m_fieldName;
    QStringList m_targetEntityNames;
    int m_ordinality = 0;
    bool m_requiresJoinTable = false;
};

class VtrEntity
{
public:
    // May be dotted ("Sync.Contacts.Contact").
    QString name() const { return m_name; }
    void setName(const QString &name) { m_name = name; }
    QString tableName() const { return m_tableName; }
    void setTableName(const QString &tableName) { m_tableName = tableName; }
    // The type of the entity's records.
    QMetaType type() const { return m_type; }
    void setType(QMetaType type) { m_type = type; }
    QString comment() const { return m_comment; }
    void setComment(const QString &comment) { m_comment = comment; }
    bool isSyncServiceEntity() const { return m_isSyncServiceEntity; }
    void setIsSyncServiceEntity(bool flag) { m_isSyncServiceEntity = flag; }

    QList<VtrAttribute> attributes() const { return m_attributes; }
    QList<VtrRelationship> relationships() const { return m_relationships; }
    void addAttribute(const VtrAttribute &attribute) { m_attributes.append(attribute); }
    // Removes every equal attribute.
    void removeAttribute(const VtrAttribute &attribute) { m_attributes.removeAll(attribute); }
    void addRelationship(const VtrRelationship &relationship) { m_relationships.append(relationship); }
    void removeRelationship(const VtrRelationship &relationship) { m_relationships.removeAll(relationship); }

    // The first element whose name (or field name) is exactly equal.
    std::optional<VtrAttribute> attributeWithName(const QString &name) const;
    std::optional<VtrAttribute> attributeWithFieldName(const QString &fieldName) const;
    std::optional<VtrRelationship> relationshipWithName(const QString &name) const;
    std::optional<VtrRelationship> relationshipWithFieldName(const QString &fieldName) const;
    QList<VtrRelationship> relationshipsRequiringJoinTables() const;

    // The attribute's type; for a relationship of that name QString when its
    // ordinality is 0 or 1, no type otherwise; no type when neither exists.
    QMetaType dataTypeForAttributeName(const QString &name) const;
    // The attribute's type; for a relationship with that field name QString
    // for ordinality 0, QVariantList for 1, no type otherwise; QString when
    // neither exists.
    QMetaType dataTypeForFieldName(const QString &fieldName) const;

    // The last "."-separated component of the name.
    QString shortName() const;

    QString description() const;

private:
    QString m_name;
    QString m_tableName;
    QMetaType m_type;
    QString m_comment;
    QList<VtrAttribute> m_attributes;
    QList<VtrRelationship> m_relationships;
    bool m_isSyncServiceEntity = false;
};

enum VtrRecordState : int {
    kVtrRecordStateClean = 0,
    kVtrRecordStateDirty = 1,
    kVtrRecordStateNew = 2,
    kVtrRecordStateDeleted = 3,
};

// "Clean", "Dirty", "New", "Deleted", or "Undefined" for any other value.
QString VtrRecordStateName(int state);

class VtrDatabaseRecord
{
public:
    // The properties themselves: changing them in place does not mark the
    // record changed.
    QVariantMap &properties() { return m_properties; }
    const QVariantMap &properties() const { return m_properties; }
    // Replaces the properties, then recordChanged().
    void setProperties(const QVariantMap &properties);
    QString entityName() const { return m_entityName; }
    void setEntityName(const QString &name) { m_entityName = name; }
    // The property "id"; setting it also calls recordChanged().
    QVariant identifier() const { return m_properties.value(QStringLiteral("id")); }
    void setIdentifier(const QVariant &identifier);
    int recordState() const { return m_recordState; }
    void setRecordState(int state) { m_recordState = state; }
    bool needsUpdate() const { return m_needsUpdate; }
    void setNeedsUpdate(bool flag) { m_needsUpdate = flag; }

    // A clean record becomes dirty; other states stay.
    void recordChanged();
    // The record becomes clean.
    void recordSaved();

    QString description() const;

private:
    QString m_entityName;
    int m_recordState = kVtrRecordStateNew;
    bool m_needsUpdate = false;
    QVariantMap m_properties;
};

Q_DECLARE_METATYPE(VtrDatabaseRecord)

class VtrDatabaseError
{
public:
    VtrDatabaseError() = default;
    VtrDatabaseError(int number, const QString &message) : m_message(message), m_number(number) {}
    static VtrDatabaseError errorWithNumber(int number, const QString &message)
    {
        return VtrDatabaseError(number, message);
    }

    QString message() const { return m_message; }
    void setMessage(const QString &message) { m_message = message; }
    int number() const { return m_number; }
    void setNumber(int number) { m_number = number; }

    // VtrDatabaseError. Number = 3 Message = "text"
    QString description() const;

private:
    QString m_message;
    int m_number = 0;
};

namespace vtr {

// The first element of `array` that holds a VtrDatabaseRecord whose property
// `key` equals `value`; elements of other types are skipped. The pointer
// stays valid until the array changes; null when none matches.
VtrDatabaseRecord *databaseRecordWithValue(QVariantList &array, const QVariant &value, const QString &key);
const VtrDatabaseRecord *databaseRecordWithValue(const QVariantList &array, const QVariant &value, const QString &key);

} // namespace vtr
