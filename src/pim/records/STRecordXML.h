#pragma once

#include "STRecord.h"

#include <QList>
#include <QString>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>

// A correspondence between an entity of the record model and one of a client
// format, with their attributes and cardinalities.
class STFieldMap
{
public:
    STFieldMap() = default;
    STFieldMap(const QString &stEntityName, const QVariantMap &stAttributes, qint32 stOrdinality,
               const QString &clientEntityName, const QVariantMap &clientAttributes, qint32 clientOrdinality);

    // The first map whose record-model entity name and attributes equal the
    // given ones; nullptr when none.
    static const STFieldMap *fieldMapForSTEntityName(const QString &name, const QVariantMap &stAttributes,
                                                     const QList<STFieldMap> &maps);
    // The first map whose client entity name and client attributes equal the
    // given ones; nullptr when none.
    static const STFieldMap *fieldMapForClientEntityName(const QString &name, const QVariantMap &clientAttributes,
                                                         const QList<STFieldMap> &maps);

    QString stEntityName() const { return m_stEntityName; }
    void setSTEntityName(const QString &v) { m_stEntityName = v; }
    QVariantMap stAttributes() const { return m_stAttributes; }
    void setSTAttributes(const QVariantMap &v) { m_stAttributes = v; }
    qint32 stOrdinality() const { return m_stOrdinality; }
    void setSTOrdinality(qint32 v) { m_stOrdinality = v; }
    QString clientEntityName() const { return m_clientEntityName; }
    void setClientEntityName(const QString &v) { m_clientEntityName = v; }
    QVariantMap clientAttributes() const { return m_clientAttributes; }
    void setClientAttributes(const QVariantMap &v) { m_clientAttributes = v; }
    qint32 clientOrdinality() const { return m_clientOrdinality; }
    void setClientOrdinality(qint32 v) { m_clientOrdinality = v; }

    QString description() const;

private:
    QString m_stEntityName;
    QVariantMap m_stAttributes;
    qint32 m_stOrdinality = 0;
    QString m_clientEntityName;
    QVariantMap m_clientAttributes;
    qint32 m_clientOrdinality = 0;
};

// Records to and from XML record lists held as parse-tree dictionaries
// (foundation/XmlTree.h): a record element has the attribute "of" (the record
// type) and "field" children; a field element has the attribute "type" and
// the children "value", "label", and optionally "pref" and "record". A
// mapping dictionary gives the record type under "of"; its other entries
// depend on the operation.

// The element's "record" (or "field") children as a list: none gives an
// empty list, one child a list of it, several their list.
QVariantList xmlRecordRecordEnumerator(const QVariantMap &element);
QVariantList xmlRecordFieldEnumerator(const QVariantMap &element);
// Invalid gives [], a list itself, anything else [object].
QVariantList arrayFromXMLCollection(const QVariant &object);
// The element's "type" attribute.
QString xmlFieldType(const QVariantMap &fieldElement);
// The element's child of that tag, or an invalid QVariant.
QVariant valueForTag(const QString &tag, const QVariantMap &element);
// "phones" -> "phone", "emails" -> "email", "urls" -> "url", "dates" ->
// "date", "notes" -> "note"; anything else a null QString.
QString listContentsType(const QString &relationshipName);

// One record per field element; mapping "value", "label" and "type" name the
// fields that receive the element's value, label and type attribute, and
// "extra_device_fields" holds {"pref": ...} when the element has one. The
// records are Clean.
STRecordList stRecordsFromXMLFieldList(const QVariantList &fieldElements, const QVariantMap &mapping);
// One record per record element with fields; a field type the mapping names
// goes to the mapped field (value and label), any other field element is kept
// whole in "extra_device_fields" under its type. The records are Clean.
STRecordList stRecordsFromXMLRecordList(const QVariantList &recordElements, const QVariantMap &mapping);
// A record element per record with a field element for each mapping key
// (other than "of") whose field has a value.
QVariantList XMLRecordListFromSTRecords(const STRecordList &records, const QVariantMap &mapping);
// A record element per one-field record (such as a phone number): its "value"
// and "label" fields under the mapping's "value" and "label" names, the type
// attribute from its "type" field (or the record type), "record" from its
// extra device fields.
QVariantList XMLRecordListFromSTRecordsThatNeedSpecialTreatmentBecauseTheyOnlyHaveOneField(
    const STRecordList &records, const QVariantMap &mapping);
// A field element per record, as above, with "pref" from its extra fields.
QVariantList XMLFieldListFromSTRecords(const STRecordList &records, const QVariantMap &mapping);
