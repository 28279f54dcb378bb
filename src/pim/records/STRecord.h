#pragma once

#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>

#include <map>
#include <memory>
#include <vector>

// The in-memory form of every PIM item (contact, group, calendar, event,
// to-do, alarm, recurrence rule, call, message, note, and the parts of a
// contact such as one phone number): a type text, an identifier, at most one
// typed field per field type and named relationships, each an ordered list of
// further records. Records track change: every record and field has a state,
// and a record becomes Dirty when one of its fields does.
//
// Records are held through STRecordPtr, because one record may stand in
// several relationship lists (duplicates are allowed). A record owns its
// fields; STField and STRecord are not copyable (STField::copy() makes a new
// field). None of this is locked: one thread builds and reads a record tree.

class STRecord;

// True when the variant holds exactly a T (STDate, STRecurrenceByDay, ...).
template <typename T>
bool stHolds(const QVariant &v)
{
    return v.metaType() == QMetaType::fromType<T>();
}

using STRecordPtr = std::shared_ptr<STRecord>;
using STRecordList = QList<STRecordPtr>;

// States of records and fields.
enum STState : qint32 {
    STStateClean = 0,
    STStateDirty = 1,
    STStateNew = 2,
    STStateDeleted = 3,
};
// "Clean", "Dirty", "New", "Deleted", any other value "Undefined".
QString STStateDisplayString(qint32 state);

class STField
{
public:
    // Type "<undefined>", empty metadata, state Clean.
    STField();
    explicit STField(const QString &type);
    STField(const QString &type, const QVariant &value, const QString &label = QString());
    ~STField();
    STField(const STField &) = delete;
    STField &operator=(const STField &) = delete;

    static std::unique_ptr<STField> fieldWithType(const QString &type);
    static std::unique_ptr<STField> fieldWithType(const QString &type, const QVariant &value);
    static std::unique_ptr<STField> fieldWithType(const QString &type, const QVariant &value, const QString &label);

    // A new field with the type, label, value, value class and a copy of the
    // metadata (its own: changing one field's metadata leaves the other's
    // alone); no identifier; state Dirty.
    std::unique_ptr<STField> copy() const;

    QString identifier() const { return m_identifier; }
    void setIdentifier(const QString &identifier) { m_identifier = identifier; }
    QString type() const { return m_type; }
    void setType(const QString &type) { m_type = type; }
    QString label() const { return m_label; }
    void setLabel(const QString &label) { m_label = label; }
    QVariant value() const { return m_value; }
    void setValue(const QVariant &value) { m_value = value; }
    // The declared type of the value (STDate for some date fields, QVariantMap
    // for "extra_device_fields"); unknown by default.
    QMetaType valueClass() const { return m_valueClass; }
    void setValueClass(QMetaType type) { m_valueClass = type; }

    QVariantMap metadata() const { return m_metadata; }
    // Replaces the metadata and marks the field changed.
    void setMetadata(const QVariantMap &metadata);
    QVariant metadataForKey(const QString &key) const { return m_metadata.value(key); }
    void setMetadata(const QVariant &value, const QString &key);

    qint32 fieldState() const { return m_fieldState; }
    void setFieldState(qint32 state);
    QString fieldStateDisplayString() const { return STStateDisplayString(m_fieldState); }
    // Clean becomes Dirty; other states are kept.
    void fieldChanged();
    void fieldSaved() { setFieldState(STStateClean); }
    bool needsUpdate() const { return m_needsUpdate; }
    void setNeedsUpdate(bool flag) { m_needsUpdate = flag; }

    // Keyed access: "value", "type", "label", "fieldState" (a number),
    // "fieldStateDisplayString"; any other key gives JSON null.
    QVariant valueForKey(const QString &key) const;
    // "value" and "label" are set; every key but the state keys marks the field
    // changed.
    void setValueForKey(const QVariant &value, const QString &key);

    // "STField identifier = .. type = .. value = .. label = .."
    QString description() const;

    // Keyed archive: "identifier", "type", "label", "value", "metadata". A
    // decoded field is Clean.
    QVariantMap encode() const;
    static std::unique_ptr<STField> decode(const QVariantMap &archive);

private:
    friend class STRecord;
    void didChangeValueForKey(const QString &key);

    QString m_identifier;
    QString m_type;
    QString m_label;
    QVariant m_value;
    QMetaType m_valueClass;
    qint32 m_fieldState = STStateClean;
    bool m_needsUpdate = false;
    QVariantMap m_metadata;
    // The record that listens to this field's state (non-owning).
    STRecord *m_observer = nullptr;
};

class STRelationship
{
public:
    STRelationship() = default;
    explicit STRelationship(const QString &name) : m_name(name) {}

    QString name() const { return m_name; }
    void setName(const QString &name) { m_name = name; }
    qint32 ordinality() const { return m_ordinality; }
    void setOrdinality(qint32 ordinality) { m_ordinality = ordinality; }
    STRecordList &records() { return m_records; }
    const STRecordList &records() const { return m_records; }
    void setRecords(const STRecordList &records) { m_records = records; }

    void addRecord(const STRecordPtr &record) { m_records.append(record); }
    // The first record with that identifier, or null.
    STRecordPtr recordWithIdentifier(const QString &identifier) const;
    // Removes every occurrence of the record recordWithIdentifier() finds.
    bool deleteRecordWithIdentifier(const QString &identifier);
    bool deleteRecord(const STRecordPtr &record);

    // "STRelationship Name = ..\nRecord IDs:\n (..)\n"
    QString description() const;
    // Keyed archive: "name", "ordinality", "key" (the records, each archived).
    QVariantMap encode() const;
    static STRelationship decode(const QVariantMap &archive);

private:
    QString m_name;
    qint32 m_ordinality = 0;
    STRecordList m_records;
};

class STRecord
{
public:
    using FieldMap = std::map<QString, std::unique_ptr<STField>>;
    using RelationshipMap = std::map<QString, STRelationship>;

    // Empty: no type, no identifier, state New.
    STRecord();
    ~STRecord();
    STRecord(const STRecord &) = delete;
    STRecord &operator=(const STRecord &) = delete;

    static STRecordPtr record();
    // Identifier set, placeholder, state Clean.
    static STRecordPtr placeholderRecordWithIdentifier(const QString &identifier);
    // A new 36-character upper-case UUID text.
    static QString newUUID();
    static STRecordPtr recordWithIdentifier(const QString &identifier, const STRecordList &records);

    QString identifier() const { return m_identifier; }
    // A different, non-empty identifier marks the record changed; an empty one
    // clears it without.
    void setIdentifier(const QString &identifier);
    QString type() const { return m_type; }
    void setType(const QString &type) { m_type = type; }
    qint32 recordState() const { return m_recordState; }
    void setRecordState(qint32 state) { m_recordState = state; }
    QString recordStateDisplayString() const { return STStateDisplayString(m_recordState); }
    bool needsUpdate() const { return m_needsUpdate; }
    void setNeedsUpdate(bool flag) { m_needsUpdate = flag; }
    bool isPlaceholder() const { return m_isPlaceholder; }
    void setIsPlaceholder(bool flag) { m_isPlaceholder = flag; }

    // Clean becomes Dirty; other states are kept.
    void recordChanged();
    // Every field Clean, then the record Clean.
    void recordSaved();
    // recordSaved() on every related record (one level deep).
    void relationshipsSaved();

    // ---- fields
    const FieldMap &fields() const { return m_fields; }
    // Replaces every field; the record observes the new ones.
    void setFields(FieldMap fields);
    // The field of that type, created empty (and observed) when missing.
    STField &fieldOfType(const QString &type);
    // The field's value, or an invalid QVariant; never creates a field.
    QVariant valueForFieldOfType(const QString &type) const;
    // The value as text ("" when missing or not text-like); never creates.
    QString stringForFieldOfType(const QString &type) const;
    bool hasFieldOfType(const QString &type) const { return m_fields.count(type) != 0; }
    // A valid value finds or creates the field and sets it; an invalid (nil)
    // value is ignored.
    void setValue(const QVariant &value, const QString &type);
    QString labelForFieldOfType(const QString &type) { return fieldOfType(type).label(); }
    void setLabel(const QString &label, const QString &type) { fieldOfType(type).setLabel(label); }
    QString identifierForFieldOfType(const QString &type) { return fieldOfType(type).identifier(); }
    void setIdentifier(const QString &identifier, const QString &type) { fieldOfType(type).setIdentifier(identifier); }
    QVariant metadataForKey(const QString &key, const QString &type) { return fieldOfType(type).metadataForKey(key); }
    void setMetadata(const QVariant &value, const QString &key, const QString &type)
    {
        fieldOfType(type).setMetadata(value, key);
    }
    // Removes the field and hands it over; null when there was none.
    std::unique_ptr<STField> removeFieldOfType(const QString &type);
    // setValue() for every entry (key = field type).
    void addFieldsFromDictionary(const QVariantMap &dictionary);
    // Stores each field under its own type, replacing any field of that type.
    void addFields(std::vector<std::unique_ptr<STField>> fields);
    // The record's fields, then the fields of every related record (one level).
    QList<STField *> fieldArray() const;
    // Every field's description, each followed by "\n".
    QString fieldSummary() const;

    // ---- relationships
    RelationshipMap &relationships() { return m_relationships; }
    const RelationshipMap &relationships() const { return m_relationships; }
    void setRelationships(RelationshipMap relationships) { m_relationships = std::move(relationships); }
    bool hasRelationshipNamed(const QString &name) const { return m_relationships.count(name) != 0; }
    // The relationship, created empty when missing.
    STRelationship &relationshipNamed(const QString &name);
    // A copy of the relationship's records (the relationship is created when
    // missing).
    STRecordList recordsForRelationshipNamed(const QString &name);
    // The records without creating anything (empty when there is none).
    STRecordList recordsInRelationshipNamed(const QString &name) const;
    void addRecord(const STRecordPtr &record, const QString &name) { relationshipNamed(name).addRecord(record); }
    void addRecords(const STRecordList &records, const QString &name);
    STRecordPtr recordWithIdentifier(const QString &identifier, const QString &name);
    bool deleteRecord(const STRecordPtr &record, const QString &name);
    bool deleteRecordWithIdentifier(const QString &identifier, const QString &name);

    // ---- observation
    void startAutoObserving();
    void stopAutoObserving();
    bool isAutoObserving() const { return m_autoObserving; }
    QStringList autoObservingKeyPaths() const { return m_autoObservingKeyPaths; }

    // ---- keyed access
    // "identifier", "recordType", "recordState" and "recordStateDisplayString"
    // (the state's text), "fieldArray" (QList<STField*>), the name of an
    // existing relationship (its STRecordList), any other key the STField*
    // of that type (created when missing).
    QVariant valueForKey(const QString &key);
    // An existing relationship's name replaces its records (the value must
    // hold an STRecordList); any other key sets the field's value. The record
    // is marked changed.
    void setValueForKey(const QVariant &value, const QString &key);
    // Marks the record changed unless the key is one of the state keys.
    void didChangeValueForKey(const QString &key);

    // Diagnostic text (logs only: it holds the record's values).
    QString description() const;

    // Keyed archive: "identifier", "recordType", "fields" (type -> archived
    // field). Relationships, state and flags are not kept; a decoded record is
    // Clean.
    QVariantMap encode() const;
    static STRecordPtr decode(const QVariantMap &archive);

private:
    friend class STField;
    void observe(STField &field);
    void fieldStateChanged(const STField &field);

    QString m_identifier;
    QString m_type;
    qint32 m_recordState = STStateNew;
    bool m_needsUpdate = false;
    bool m_autoObserving = false;
    QStringList m_autoObservingKeyPaths;
    bool m_isPlaceholder = false;
    FieldMap m_fields;
    RelationshipMap m_relationships;
};

Q_DECLARE_METATYPE(STRecordList)
Q_DECLARE_METATYPE(STField *)
