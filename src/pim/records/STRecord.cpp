#include "STRecord.h"

#include "STDate.h"
#include "foundation/Json.h"
#include "foundation/VtrString.h"

namespace {

const QString kUndefinedType = QStringLiteral("<undefined>");

bool isFieldStateKey(const QString &key)
{
    return key == QLatin1String("fieldState") || key == QLatin1String("fieldStateDisplayString")
           || key == QLatin1String("needsUpdate");
}

bool isRecordStateKey(const QString &key)
{
    return key == QLatin1String("recordState") || key == QLatin1String("recordStateDisplayString")
           || key == QLatin1String("needsUpdate");
}

QString describeValue(const QVariant &value)
{
    if (!value.isValid()) return QStringLiteral("(null)");
    if (stHolds<STDate>(value)) return value.value<STDate>().description();
    if (value.typeId() == QMetaType::QString) return value.toString();
    const QString json = vtr::JSONFragment(value);
    return json.isNull() ? QString::fromLatin1(value.typeName()) : json;
}

QString describeText(const QString &text)
{
    return text.isNull() ? QStringLiteral("(null)") : text;
}

} // namespace

QString STStateDisplayString(qint32 state)
{
    switch (state) {
    case STStateClean: return QStringLiteral("Clean");
    case STStateDirty: return QStringLiteral("Dirty");
    case STStateNew: return QStringLiteral("New");
    case STStateDeleted: return QStringLiteral("Deleted");
    default: return QStringLiteral("Undefined");
    }
}

// ---------------------------------------------------------------- STField

STField::STField() : m_type(kUndefinedType) {}

STField::STField(const QString &type) : m_type(type) {}

STField::STField(const QString &type, const QVariant &value, const QString &label)
    : m_type(type), m_label(label), m_value(value)
{
}

STField::~STField() = default;

std::unique_ptr<STField> STField::fieldWithType(const QString &type)
{
    return std::make_unique<STField>(type);
}

std::unique_ptr<STField> STField::fieldWithType(const QString &type, const QVariant &value)
{
    return std::make_unique<STField>(type, value);
}

std::unique_ptr<STField> STField::fieldWithType(const QString &type, const QVariant &value, const QString &label)
{
    return std::make_unique<STField>(type, value, label);
}

std::unique_ptr<STField> STField::copy() const
{
    auto f = std::make_unique<STField>(m_type, m_value, m_label);
    f->m_valueClass = m_valueClass;
    f->setMetadata(m_metadata); // a copy is a changed field
    return f;
}

void STField::setMetadata(const QVariantMap &metadata)
{
    m_metadata = metadata;
    fieldChanged();
}

void STField::setMetadata(const QVariant &value, const QString &key)
{
    m_metadata.insert(key, value);
}

void STField::setFieldState(qint32 state)
{
    m_fieldState = state;
    if (m_observer) m_observer->fieldStateChanged(*this);
}

void STField::fieldChanged()
{
    if (m_fieldState == STStateClean) setFieldState(STStateDirty);
}

QVariant STField::valueForKey(const QString &key) const
{
    if (key == QLatin1String("value")) return m_value;
    if (key == QLatin1String("type")) return m_type;
    if (key == QLatin1String("label")) return m_label;
    if (key == QLatin1String("fieldState")) return m_fieldState;
    if (key == QLatin1String("fieldStateDisplayString")) return fieldStateDisplayString();
    return vtr::jsonNull();
}

void STField::setValueForKey(const QVariant &value, const QString &key)
{
    if (key == QLatin1String("value"))
        m_value = value;
    else if (key == QLatin1String("label"))
        m_label = value.toString();
    didChangeValueForKey(key);
}

void STField::didChangeValueForKey(const QString &key)
{
    if (!isFieldStateKey(key)) fieldChanged();
}

QString STField::description() const
{
    return QStringLiteral("STField identifier = %1 type = %2 value = %3 label = %4")
        .arg(describeText(m_identifier), describeText(m_type), describeValue(m_value), describeText(m_label));
}

QVariantMap STField::encode() const
{
    QVariantMap a;
    if (!m_identifier.isNull()) a.insert(QStringLiteral("identifier"), m_identifier);
    a.insert(QStringLiteral("type"), m_type);
    if (!m_label.isNull()) a.insert(QStringLiteral("label"), m_label);
    if (m_value.isValid()) a.insert(QStringLiteral("value"), m_value);
    a.insert(QStringLiteral("metadata"), m_metadata);
    return a;
}

std::unique_ptr<STField> STField::decode(const QVariantMap &archive)
{
    auto f = std::make_unique<STField>(archive.value(QStringLiteral("type"), kUndefinedType).toString());
    f->m_identifier = archive.value(QStringLiteral("identifier")).toString();
    f->m_label = archive.value(QStringLiteral("label")).toString();
    f->m_value = archive.value(QStringLiteral("value"));
    f->m_metadata = archive.value(QStringLiteral("metadata")).toMap();
    return f;
}

// --------------------------------------------------------- STRelationship

STRecordPtr STRelationship::recordWithIdentifier(const QString &identifier) const
{
    return STRecord::recordWithIdentifier(identifier, m_records);
}

bool STRelationship::deleteRecordWithIdentifier(const QString &identifier)
{
    const STRecordPtr found = recordWithIdentifier(identifier);
    if (!found) return false;
    m_records.removeAll(found);
    return true;
}

bool STRelationship::deleteRecord(const STRecordPtr &record)
{
    return record && deleteRecordWithIdentifier(record->identifier());
}

QString STRelationship::description() const
{
    QStringList ids;
    for (const STRecordPtr &r : m_records)
        if (r && !r->identifier().isNull()) ids.append(r->identifier());
    return QStringLiteral("STRelationship Name = %1\nRecord IDs:\n (%2)\n")
        .arg(describeText(m_name), ids.join(QStringLiteral(", ")));
}

QVariantMap STRelationship::encode() const
{
    QVariantList records;
    for (const STRecordPtr &r : m_records)
        if (r) records.append(r->encode());
    return {{QStringLiteral("name"), m_name},
            {QStringLiteral("ordinality"), m_ordinality},
            {QStringLiteral("key"), records}};
}

STRelationship STRelationship::decode(const QVariantMap &archive)
{
    STRelationship r(archive.value(QStringLiteral("name")).toString());
    r.m_ordinality = archive.value(QStringLiteral("ordinality")).toInt();
    for (const QVariant &v : archive.value(QStringLiteral("key")).toList()) r.m_records.append(STRecord::decode(v.toMap()));
    return r;
}

// ---------------------------------------------------------------- STRecord

STRecord::STRecord() = default;

STRecord::~STRecord()
{
    if (m_autoObserving) stopAutoObserving();
    for (auto &entry : m_fields)
        if (entry.second && entry.second->m_observer == this) entry.second->m_observer = nullptr;
}

STRecordPtr STRecord::record()
{
    return std::make_shared<STRecord>();
}

STRecordPtr STRecord::placeholderRecordWithIdentifier(const QString &identifier)
{
    auto r = std::make_shared<STRecord>();
    r->m_identifier = identifier;
    r->m_isPlaceholder = true;
    r->m_recordState = STStateClean;
    return r;
}

QString STRecord::newUUID()
{
    return vtr::uuidAsString();
}

STRecordPtr STRecord::recordWithIdentifier(const QString &identifier, const STRecordList &records)
{
    for (const STRecordPtr &r : records)
        if (r && r->m_identifier == identifier) return r;
    return nullptr;
}

void STRecord::setIdentifier(const QString &identifier)
{
    if (identifier.isEmpty()) {
        m_identifier.clear();
        return;
    }
    if (identifier == m_identifier) return;
    m_identifier = identifier;
    recordChanged();
}

void STRecord::recordChanged()
{
    if (m_recordState == STStateClean) m_recordState = STStateDirty;
}

void STRecord::recordSaved()
{
    for (auto &entry : m_fields) entry.second->fieldSaved();
    m_recordState = STStateClean;
}

void STRecord::relationshipsSaved()
{
    for (auto &entry : m_relationships)
        for (const STRecordPtr &r : entry.second.records())
            if (r) r->recordSaved();
}

void STRecord::observe(STField &field)
{
    field.m_observer = this;
}

void STRecord::fieldStateChanged(const STField &field)
{
    if (field.fieldState() == STStateClean) return;
    recordChanged();
}

void STRecord::setFields(FieldMap fields)
{
    for (auto &entry : m_fields)
        if (entry.second->m_observer == this) entry.second->m_observer = nullptr;
    m_fields = std::move(fields);
    for (auto &entry : m_fields) observe(*entry.second);
}

STField &STRecord::fieldOfType(const QString &type)
{
    auto it = m_fields.find(type);
    if (it == m_fields.end()) {
        auto field = std::make_unique<STField>(type);
        observe(*field);
        it = m_fields.emplace(type, std::move(field)).first;
    }
    return *it->second;
}

QVariant STRecord::valueForFieldOfType(const QString &type) const
{
    const auto it = m_fields.find(type);
    return it == m_fields.end() ? QVariant() : it->second->value();
}

QString STRecord::stringForFieldOfType(const QString &type) const
{
    const QVariant v = valueForFieldOfType(type);
    if (!v.isValid() || vtr::isJsonNull(v)) return QString();
    switch (v.typeId()) {
    case QMetaType::QString:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
    case QMetaType::Bool: return v.toString();
    default: return QString();
    }
}

void STRecord::setValue(const QVariant &value, const QString &type)
{
    if (!value.isValid()) return;
    fieldOfType(type).setValue(value);
}

std::unique_ptr<STField> STRecord::removeFieldOfType(const QString &type)
{
    const auto it = m_fields.find(type);
    if (it == m_fields.end()) return nullptr;
    std::unique_ptr<STField> field = std::move(it->second);
    m_fields.erase(it);
    if (field->m_observer == this) field->m_observer = nullptr;
    return field;
}

void STRecord::addFieldsFromDictionary(const QVariantMap &dictionary)
{
    for (auto it = dictionary.begin(); it != dictionary.end(); ++it) setValue(it.value(), it.key());
}

void STRecord::addFields(std::vector<std::unique_ptr<STField>> fields)
{
    for (auto &field : fields) {
        if (!field) continue;
        observe(*field);
        const QString type = field->type();
        auto it = m_fields.find(type);
        if (it != m_fields.end()) {
            if (it->second->m_observer == this) it->second->m_observer = nullptr;
            it->second = std::move(field);
        } else {
            m_fields.emplace(type, std::move(field));
        }
    }
}

QList<STField *> STRecord::fieldArray() const
{
    QList<STField *> out;
    for (const auto &entry : m_fields) out.append(entry.second.get());
    for (const auto &rel : m_relationships)
        for (const STRecordPtr &r : rel.second.records())
            if (r)
                for (const auto &entry : r->m_fields) out.append(entry.second.get());
    return out;
}

QString STRecord::fieldSummary() const
{
    QString out;
    for (const auto &entry : m_fields) out += entry.second->description() + QLatin1Char('\n');
    return out;
}

STRelationship &STRecord::relationshipNamed(const QString &name)
{
    auto it = m_relationships.find(name);
    if (it == m_relationships.end()) it = m_relationships.emplace(name, STRelationship(name)).first;
    return it->second;
}

STRecordList STRecord::recordsForRelationshipNamed(const QString &name)
{
    return relationshipNamed(name).records();
}

STRecordList STRecord::recordsInRelationshipNamed(const QString &name) const
{
    const auto it = m_relationships.find(name);
    return it == m_relationships.end() ? STRecordList() : it->second.records();
}

void STRecord::addRecords(const STRecordList &records, const QString &name)
{
    STRelationship &rel = relationshipNamed(name);
    for (const STRecordPtr &r : records) rel.addRecord(r);
}

STRecordPtr STRecord::recordWithIdentifier(const QString &identifier, const QString &name)
{
    return relationshipNamed(name).recordWithIdentifier(identifier);
}

bool STRecord::deleteRecord(const STRecordPtr &record, const QString &name)
{
    return relationshipNamed(name).deleteRecord(record);
}

bool STRecord::deleteRecordWithIdentifier(const QString &identifier, const QString &name)
{
    return relationshipNamed(name).deleteRecordWithIdentifier(identifier);
}

void STRecord::startAutoObserving()
{
    for (const auto &entry : m_fields) m_autoObservingKeyPaths.append(entry.first);
    m_autoObserving = true;
}

void STRecord::stopAutoObserving()
{
    m_autoObservingKeyPaths.clear();
    m_autoObserving = false;
}

QVariant STRecord::valueForKey(const QString &key)
{
    if (key == QLatin1String("identifier")) return m_identifier;
    if (key == QLatin1String("recordType")) return m_type;
    if (key == QLatin1String("recordState") || key == QLatin1String("recordStateDisplayString"))
        return recordStateDisplayString();
    if (key == QLatin1String("fieldArray")) return QVariant::fromValue(fieldArray());
    const auto rel = m_relationships.find(key);
    if (rel != m_relationships.end()) return QVariant::fromValue(rel->second.records());
    return QVariant::fromValue(&fieldOfType(key));
}

void STRecord::setValueForKey(const QVariant &value, const QString &key)
{
    const auto rel = m_relationships.find(key);
    if (rel != m_relationships.end())
        rel->second.setRecords(value.value<STRecordList>());
    else
        fieldOfType(key).setValue(value);
    didChangeValueForKey(key);
}

void STRecord::didChangeValueForKey(const QString &key)
{
    if (!isRecordStateKey(key)) recordChanged();
}

QString STRecord::description() const
{
    QString rels;
    for (const auto &entry : m_relationships) rels += entry.second.description();
    return QStringLiteral("STRecord identifier = %1\nType = %2\n\n%3\nRelationships:\n%4\nRecord state = %5\n")
        .arg(describeText(m_identifier), describeText(m_type), fieldSummary(), rels, recordStateDisplayString());
}

QVariantMap STRecord::encode() const
{
    QVariantMap fields;
    for (const auto &entry : m_fields) fields.insert(entry.first, entry.second->encode());
    QVariantMap a{{QStringLiteral("recordType"), m_type}, {QStringLiteral("fields"), fields}};
    if (!m_identifier.isNull()) a.insert(QStringLiteral("identifier"), m_identifier);
    return a;
}

STRecordPtr STRecord::decode(const QVariantMap &archive)
{
    auto r = std::make_shared<STRecord>();
    r->m_identifier = archive.value(QStringLiteral("identifier")).toString();
    r->m_type = archive.value(QStringLiteral("recordType")).toString();
    const QVariantMap fields = archive.value(QStringLiteral("fields")).toMap();
    for (auto it = fields.begin(); it != fields.end(); ++it) {
        std::unique_ptr<STField> f = STField::decode(it.value().toMap());
        r->observe(*f);
        r->m_fields[it.key()] = std::move(f);
    }
    r->m_recordState = STStateClean;
    return r;
}
