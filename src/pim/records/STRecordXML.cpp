#include "STRecordXML.h"

#include "STVocabulary.h"
#include "foundation/Json.h"
#include "foundation/XmlTree.h"

namespace {

const QString kAttributes = QString::fromLatin1(vtr::kXmlAttributesKey);
const QString kOf = QStringLiteral("of");
const QString kField = QStringLiteral("field");
const QString kRecord = QStringLiteral("record");
const QString kPref = QStringLiteral("pref");

QString describeMap(const QVariantMap &m)
{
    const QString json = vtr::JSONRepresentation(m);
    return json.isNull() ? QStringLiteral("(null)") : json;
}

QVariantMap attributes(const QString &name, const QString &value)
{
    return {{name, value}};
}

// The "type" attribute written for a one-field record: its "type" field, or
// the record type when that is empty.
QString typeAttribute(const STRecord &r)
{
    const QString t = r.stringForFieldOfType(st::Type);
    return t.isEmpty() ? r.type() : t;
}

QVariantMap extraFields(const STRecord &r)
{
    return r.valueForFieldOfType(st::ExtraDeviceFields).toMap();
}

void putIfValid(QVariantMap &element, const QString &key, const QVariant &value)
{
    if (value.isValid() && !key.isEmpty()) element.insert(key, value);
}

STRecordPtr newRecord(const QVariantMap &mapping)
{
    STRecordPtr r = STRecord::record();
    r->setType(mapping.value(kOf).toString());
    return r;
}

void setExtras(STRecord &r, const QVariantMap &extras)
{
    r.setValue(extras, st::ExtraDeviceFields);
    r.fieldOfType(st::ExtraDeviceFields).setValueClass(QMetaType::fromType<QVariantMap>());
}

} // namespace

STFieldMap::STFieldMap(const QString &stEntityName, const QVariantMap &stAttributes, qint32 stOrdinality,
                       const QString &clientEntityName, const QVariantMap &clientAttributes, qint32 clientOrdinality)
    : m_stEntityName(stEntityName), m_stAttributes(stAttributes), m_stOrdinality(stOrdinality),
      m_clientEntityName(clientEntityName), m_clientAttributes(clientAttributes), m_clientOrdinality(clientOrdinality)
{
}

const STFieldMap *STFieldMap::fieldMapForSTEntityName(const QString &name, const QVariantMap &stAttributes,
                                                      const QList<STFieldMap> &maps)
{
    for (const STFieldMap &m : maps)
        if (m.m_stEntityName == name && m.m_stAttributes == stAttributes) return &m;
    return nullptr;
}

const STFieldMap *STFieldMap::fieldMapForClientEntityName(const QString &name, const QVariantMap &clientAttributes,
                                                          const QList<STFieldMap> &maps)
{
    for (const STFieldMap &m : maps)
        if (m.m_clientEntityName == name && m.m_clientAttributes == clientAttributes) return &m;
    return nullptr;
}

QString STFieldMap::description() const
{
    return QStringLiteral("STFieldMap\nST:\nEntity: %1\nAttributes:\n%2\n\nClient:\nEntity: %3\nAttributes:\n%4 ")
        .arg(m_stEntityName, describeMap(m_stAttributes), m_clientEntityName, describeMap(m_clientAttributes));
}

QVariantList arrayFromXMLCollection(const QVariant &object)
{
    if (!object.isValid()) return {};
    if (object.typeId() == QMetaType::QVariantList) return object.toList();
    return {object};
}

QVariantList xmlRecordRecordEnumerator(const QVariantMap &element)
{
    return arrayFromXMLCollection(element.value(kRecord));
}

QVariantList xmlRecordFieldEnumerator(const QVariantMap &element)
{
    return arrayFromXMLCollection(element.value(kField));
}

QString xmlFieldType(const QVariantMap &fieldElement)
{
    return fieldElement.value(kAttributes).toMap().value(st::Type).toString();
}

QVariant valueForTag(const QString &tag, const QVariantMap &element)
{
    return element.value(tag);
}

QString listContentsType(const QString &relationshipName)
{
    static const QVariantMap table{{"phones", "phone"}, {"emails", "email"}, {"urls", "url"},
                                   {"dates", "date"},   {"notes", "note"}};
    return table.value(relationshipName).toString();
}

STRecordList stRecordsFromXMLFieldList(const QVariantList &fieldElements, const QVariantMap &mapping)
{
    STRecordList out;
    for (const QVariant &v : fieldElements) {
        const QVariantMap element = v.toMap();
        STRecordPtr r = newRecord(mapping);
        if (element.contains(st::Value)) r->setValue(element.value(st::Value), mapping.value(st::Value).toString());
        if (element.contains(st::Label)) r->setValue(element.value(st::Label), mapping.value(st::Label).toString());
        const QString type = xmlFieldType(element);
        if (!type.isEmpty()) r->setValue(type, mapping.value(st::Type).toString());
        QVariantMap extras;
        if (element.contains(kPref)) extras.insert(kPref, element.value(kPref));
        setExtras(*r, extras);
        r->recordSaved();
        out.append(r);
    }
    return out;
}

STRecordList stRecordsFromXMLRecordList(const QVariantList &recordElements, const QVariantMap &mapping)
{
    STRecordList out;
    for (const QVariant &v : recordElements) {
        const QVariantList fields = xmlRecordFieldEnumerator(v.toMap());
        if (fields.isEmpty()) continue;
        STRecordPtr r = newRecord(mapping);
        QVariantMap extras;
        for (const QVariant &f : fields) {
            const QVariantMap element = f.toMap();
            const QString type = xmlFieldType(element);
            const QString target = mapping.value(type).toString();
            if (type == kOf || target.isEmpty()) {
                extras.insert(type, element);
                continue;
            }
            if (element.contains(st::Value)) r->setValue(element.value(st::Value), target);
            if (element.contains(st::Label)) r->setLabel(element.value(st::Label).toString(), target);
        }
        setExtras(*r, extras);
        r->recordSaved();
        out.append(r);
    }
    return out;
}

QVariantList XMLRecordListFromSTRecords(const STRecordList &records, const QVariantMap &mapping)
{
    QVariantList out;
    for (const STRecordPtr &r : records) {
        if (!r) continue;
        QVariantList fields;
        for (auto it = mapping.begin(); it != mapping.end(); ++it) {
            if (it.key() == kOf) continue;
            const QVariant value = r->valueForFieldOfType(it.key());
            if (!value.isValid()) continue;
            QVariantMap element{{st::Value, value}, {kAttributes, attributes(st::Type, it.key())}};
            const auto f = r->fields().find(it.key());
            if (!f->second->label().isEmpty()) element.insert(st::Label, f->second->label());
            fields.append(element);
        }
        out.append(QVariantMap{{kAttributes, attributes(kOf, mapping.value(kOf).toString())}, {kField, fields}});
    }
    return out;
}

QVariantList XMLRecordListFromSTRecordsThatNeedSpecialTreatmentBecauseTheyOnlyHaveOneField(
    const STRecordList &records, const QVariantMap &mapping)
{
    QVariantList out;
    for (const STRecordPtr &r : records) {
        if (!r) continue;
        QVariantMap field{{kAttributes, attributes(st::Type, typeAttribute(*r))}};
        putIfValid(field, kRecord, extraFields(*r).value(kRecord));
        putIfValid(field, mapping.value(st::Value).toString(), r->valueForFieldOfType(st::Value));
        putIfValid(field, mapping.value(st::Label).toString(), r->valueForFieldOfType(st::Label));
        out.append(QVariantMap{{kAttributes, attributes(kOf, mapping.value(kOf).toString())}, {kField, field}});
    }
    return out;
}

QVariantList XMLFieldListFromSTRecords(const STRecordList &records, const QVariantMap &mapping)
{
    QVariantList out;
    for (const STRecordPtr &r : records) {
        if (!r) continue;
        QVariantMap field{{kAttributes, attributes(st::Type, typeAttribute(*r))}};
        putIfValid(field, kPref, extraFields(*r).value(kPref));
        putIfValid(field, mapping.value(st::Value).toString(), r->valueForFieldOfType(st::Value));
        putIfValid(field, mapping.value(st::Label).toString(), r->valueForFieldOfType(st::Label));
        out.append(field);
    }
    return out;
}
