#include "QStringPrinting.h"
#include "foundation/Json.h"
#include "pim/records/STDate.h"
#include "pim/records/STRecord.h"
#include "pim/records/STRecordTemplates.h"
#include "pim/records/STRecordXML.h"
#include "pim/records/STVocabulary.h"
#include "foundation/XmlTree.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

TEST(Record, LookupsCreateOnlyWhereTheyShould)
{
    STRecordPtr r = STRecord::record();
    EXPECT_EQ(r->recordState(), STStateNew);
    EXPECT_FALSE(r->valueForFieldOfType("first").isValid());
    EXPECT_FALSE(r->hasFieldOfType("first"));

    EXPECT_TRUE(r->labelForFieldOfType("first").isNull());
    EXPECT_TRUE(r->hasFieldOfType("first")); // the label lookup made an empty field
    EXPECT_EQ(r->fieldArray().size(), 1);
    EXPECT_TRUE(r->encode().value("fields").toMap().contains("first"));

    r->setValue("Ann", "last");
    r->setValue(QVariant(), "last");
    r->setValue(QVariant(), "middle");
    EXPECT_EQ(r->valueForFieldOfType("last").toString(), "Ann");
    EXPECT_FALSE(r->hasFieldOfType("middle"));

    EXPECT_TRUE(r->recordsForRelationshipNamed("unknown").isEmpty());
    EXPECT_TRUE(r->hasRelationshipNamed("unknown"));
    r->addRecords({}, st::Phones);
    EXPECT_TRUE(r->hasRelationshipNamed(st::Phones));
    EXPECT_TRUE(r->recordsInRelationshipNamed("other").isEmpty());
    EXPECT_FALSE(r->hasRelationshipNamed("other"));
}

TEST(Record, StatesFollowIdentifiersAndFields)
{
    struct Case
    {
        qint32 start;
        QString identifier;
        qint32 expected;
    } cases[] = {
        {STStateClean, "A", STStateDirty},
        {STStateClean, "same", STStateClean},
        {STStateClean, "", STStateClean},
        {STStateNew, "A", STStateNew},
        {STStateDeleted, "A", STStateDeleted},
    };
    for (const Case &c : cases) {
        STRecordPtr r = STRecord::placeholderRecordWithIdentifier("same");
        r->setRecordState(c.start);
        r->setIdentifier(c.identifier);
        EXPECT_EQ(r->recordState(), c.expected) << c.start << " " << c.identifier.toStdString();
    }

    STRecordPtr r = STRecord::placeholderRecordWithIdentifier("x");
    EXPECT_TRUE(r->isPlaceholder());
    r->setValue("v", "a"); // plain value setting changes no state
    EXPECT_EQ(r->recordState(), STStateClean);
    r->fieldOfType("a").setFieldState(STStateClean);
    EXPECT_EQ(r->recordState(), STStateClean);
    r->fieldOfType("a").setValueForKey("w", "value");
    EXPECT_EQ(r->fieldOfType("a").fieldState(), STStateDirty);
    EXPECT_EQ(r->recordState(), STStateDirty);
    r->recordSaved();
    EXPECT_EQ(r->recordState(), STStateClean);
    EXPECT_EQ(r->fieldOfType("a").fieldState(), STStateClean);

    // A removed field no longer reaches its old record.
    std::unique_ptr<STField> removed = r->removeFieldOfType("a");
    ASSERT_TRUE(removed);
    removed->fieldChanged();
    EXPECT_EQ(r->recordState(), STStateClean);
    EXPECT_FALSE(r->removeFieldOfType("a"));

    STRecordPtr fresh = STRecord::record();
    fresh->fieldOfType("b").setFieldState(STStateDirty);
    EXPECT_EQ(fresh->recordState(), STStateNew);
    EXPECT_EQ(STStateDisplayString(7), "Undefined");
}

TEST(Record, KeyedAccess)
{
    STRecordPtr r = STRecord::record();
    EXPECT_EQ(r->valueForKey("recordState").toString(), "New");
    STField *f = r->valueForKey("nick").value<STField *>();
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->type(), "nick");
    EXPECT_TRUE(vtr::isJsonNull(f->valueForKey("nonsense")));

    STRecordPtr child = STRecord::record();
    r->addRecord(child, st::Phones);
    EXPECT_EQ(r->valueForKey(st::Phones).value<STRecordList>().size(), 1);
    r->setValueForKey(QVariant::fromValue(STRecordList{child, child}), st::Phones);
    EXPECT_EQ(r->recordsForRelationshipNamed(st::Phones).size(), 2);

    r->setRecordState(STStateClean);
    r->setValueForKey("Bo", "first");
    EXPECT_EQ(r->valueForFieldOfType("first").toString(), "Bo");
    EXPECT_EQ(r->recordState(), STStateDirty);
    r->setRecordState(STStateClean);
    r->didChangeValueForKey("needsUpdate");
    EXPECT_EQ(r->recordState(), STStateClean);
}

TEST(Record, RelationshipsDeleteEveryOccurrence)
{
    STRecordPtr owner = STRecord::record();
    STRecordPtr a = STRecord::placeholderRecordWithIdentifier("A");
    STRecordPtr b = STRecord::placeholderRecordWithIdentifier("B");
    owner->addRecords({a, b, a}, st::Members);
    EXPECT_EQ(owner->recordWithIdentifier("B", st::Members), b);
    EXPECT_TRUE(owner->deleteRecord(a, st::Members));
    EXPECT_EQ(owner->recordsForRelationshipNamed(st::Members), STRecordList{b});
    EXPECT_FALSE(owner->deleteRecordWithIdentifier("A", st::Members));
    EXPECT_EQ(STRecord::recordWithIdentifier("B", {a, b}), b);

    a->setValue("x", "f");
    a->fieldOfType("f").fieldChanged();
    owner->addRecord(a, "other");
    owner->relationshipsSaved();
    EXPECT_EQ(a->recordState(), STStateClean);
    EXPECT_EQ(owner->recordState(), STStateNew);
    EXPECT_EQ(owner->fieldArray().size(), 1);
    EXPECT_TRUE(owner->description().contains("Record IDs:\n (B)"));
}

TEST(Field, CopyHasItsOwnMetadataAndIsDirty)
{
    STField f("phone", "123", "work");
    f.setIdentifier("id");
    f.setValueClass(QMetaType::fromType<QString>());
    f.setMetadata(QVariantMap{{"k", 1}});
    std::unique_ptr<STField> c = f.copy();
    EXPECT_EQ(c->fieldState(), STStateDirty);
    EXPECT_TRUE(c->identifier().isNull());
    EXPECT_EQ(c->value().toString(), "123");
    EXPECT_EQ(c->label(), "work");
    EXPECT_EQ(c->valueClass(), QMetaType::fromType<QString>());
    c->setMetadata(2, "k");
    EXPECT_EQ(f.metadataForKey("k").toInt(), 1);
    EXPECT_EQ(STField().type(), "<undefined>");
}

TEST(Record, ArchiveKeepsFieldsDropsRelationships)
{
    STRecordPtr r = STRecord::record();
    r->setIdentifier("R1");
    r->setType(st::Event);
    r->setValue(QVariant::fromValue(STDate("20120310233000", "America/New_York")), st::DtStart);
    r->setLabel("lbl", st::DtStart);
    r->addRecord(STRecord::record(), st::VAlarms);
    STRecordPtr d = STRecord::decode(r->encode());
    EXPECT_EQ(d->identifier(), "R1");
    EXPECT_EQ(d->type(), st::Event);
    EXPECT_EQ(d->recordState(), STStateClean);
    EXPECT_TRUE(d->relationships().empty());
    EXPECT_EQ(d->valueForFieldOfType(st::DtStart).value<STDate>().utcTimeString(), "20120310233000");
    EXPECT_EQ(d->labelForFieldOfType(st::DtStart), "lbl");
    EXPECT_EQ(d->fieldOfType(st::DtStart).fieldState(), STStateClean);
}

TEST(Record, NewUuidIsCanonicalUpperCase)
{
    const QString a = STRecord::newUUID();
    EXPECT_TRUE(QRegularExpression("^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$").match(a).hasMatch());
    EXPECT_NE(a, STRecord::newUUID());
}

TEST(Templates, EachKindStartsNewWithItsDefaults)
{
    STRecordPtr contact = STContactRecord();
    EXPECT_EQ(contact->type(), st::Contact);
    EXPECT_EQ(contact->recordState(), STStateNew);
    EXPECT_NE(contact->identifier(), STContactRecord()->identifier());
    EXPECT_EQ(contact->relationships().size(), 8u);
    EXPECT_TRUE(contact->recordsForRelationshipNamed(st::Phones).isEmpty());
    EXPECT_EQ(contact->relationships().size(), 8u);
    EXPECT_TRUE(contact->fields().empty());

    const qint64 now = QDateTime::currentSecsSinceEpoch();
    STRecordPtr event = STEventRecord();
    EXPECT_EQ(event->type(), st::Event);
    for (const QString &f : {st::DtStart, st::DtEnd, st::Created, st::LastMod})
        EXPECT_LE(std::abs(event->valueForFieldOfType(f).value<STDate>().calendarDate().secsSinceEpoch() - now), 5)
            << f.toStdString();
    EXPECT_EQ(event->fieldOfType(st::DtStart).valueClass(), QMetaType::fromType<STDate>());
    EXPECT_EQ(event->stringForFieldOfType("class"), "private");
    EXPECT_TRUE(event->hasRelationshipNamed(st::RecurRel) && event->hasRelationshipNamed(st::VAlarms));

    EXPECT_EQ(STToDoRecord()->fields().size(), 2u);
    EXPECT_EQ(STGroupRecord()->type(), st::Group);
    STRecordPtr alarm = STAlarmRecord();
    EXPECT_EQ(alarm->valueForFieldOfType("trigger").toInt(), -900);
    EXPECT_EQ(alarm->stringForFieldOfType("x-ms-trigger-type"), "x-seconds-offset");
}

TEST(XmlRecords, RecordListsThroughXmlText)
{
    STRecordPtr a = STRecord::record();
    a->setValue("Ann", "first");
    a->setLabel("given", "first");
    a->setValue("Lee", "last");
    a->setValue("ignored", "nick");
    const QVariantMap mapping{{"of", "contact"}, {"first", "first"}, {"last", "last"}};
    const QVariantList written = XMLRecordListFromSTRecords({a}, mapping);
    const QByteArray xml = vtr::dictionaryToXMLData(QVariantMap{{"record", written}}, "records");
    ASSERT_FALSE(xml.isNull());
    const std::optional<QVariantMap> tree = vtr::xmlDataToDictionary(
        xml.left(xml.size() - 10) + "<record of=\"contact\"/><record of=\"contact\"><field type=\"x-odd\"><value>1</value>"
                                    "</field></record></records>");
    ASSERT_TRUE(tree);
    const STRecordList read = stRecordsFromXMLRecordList(xmlRecordRecordEnumerator(*tree), mapping);
    ASSERT_EQ(read.size(), 2); // the element without fields gives no record
    EXPECT_EQ(read.at(0)->valueForFieldOfType("first").toString(), "Ann");
    EXPECT_EQ(read.at(0)->labelForFieldOfType("first"), "given");
    EXPECT_EQ(read.at(0)->valueForFieldOfType("last").toString(), "Lee");
    EXPECT_FALSE(read.at(0)->hasFieldOfType("nick"));
    EXPECT_EQ(read.at(0)->recordState(), STStateClean);
    // A single field child reads like a list of one; an unmapped one is kept whole.
    const QVariantMap extras = read.at(1)->valueForFieldOfType(st::ExtraDeviceFields).toMap();
    EXPECT_EQ(extras.value("x-odd").toMap().value("value").toString(), "1");
    EXPECT_EQ(read.at(1)->fieldOfType(st::ExtraDeviceFields).valueClass(), QMetaType::fromType<QVariantMap>());
}

TEST(XmlRecords, OneFieldRecordsAndFieldLists)
{
    STRecordPtr phone = STRecord::record();
    phone->setType(st::Phone);
    phone->setValue("555-1234", st::Value);
    phone->setValue("work", st::Type);
    phone->setValue(QVariantMap{{"pref", "1"}, {"record", "r7"}}, st::ExtraDeviceFields);
    STRecordPtr bare = STRecord::record();
    bare->setType(st::Email);
    bare->setValue("a@b.c", st::Value);
    const QVariantMap mapping{{"of", "contact"}, {"value", "number"}, {"label", "label"}, {"type", "kind"}};

    const QVariantList one = XMLRecordListFromSTRecordsThatNeedSpecialTreatmentBecauseTheyOnlyHaveOneField({phone}, mapping);
    ASSERT_EQ(one.size(), 1);
    const QVariantMap field = one.at(0).toMap().value("field").toMap();
    EXPECT_EQ(field.value("number").toString(), "555-1234");
    EXPECT_EQ(field.value("record").toString(), "r7");
    EXPECT_EQ(xmlFieldType(field), "work");

    const QVariantList fields = XMLFieldListFromSTRecords({phone, bare}, mapping);
    ASSERT_EQ(fields.size(), 2);
    EXPECT_EQ(fields.at(0).toMap().value("pref").toString(), "1");
    EXPECT_EQ(xmlFieldType(fields.at(1).toMap()), "email");
    const QVariantMap readMapping{{"of", "phone"}, {"value", "value"}, {"label", "label"}, {"type", "type"}};
    QVariantList elements = fields;
    QVariantMap first = elements.at(0).toMap();
    first.insert("value", first.take("number"));
    elements[0] = first;
    const STRecordList read = stRecordsFromXMLFieldList(elements, readMapping);
    ASSERT_EQ(read.size(), 2);
    EXPECT_EQ(read.at(0)->valueForFieldOfType("value").toString(), "555-1234");
    EXPECT_EQ(read.at(0)->valueForFieldOfType("type").toString(), "work");
    EXPECT_EQ(read.at(0)->valueForFieldOfType(st::ExtraDeviceFields).toMap(), (QVariantMap{{"pref", "1"}}));
    EXPECT_TRUE(read.at(1)->valueForFieldOfType(st::ExtraDeviceFields).toMap().isEmpty());
    EXPECT_EQ(read.at(1)->recordState(), STStateClean);

    EXPECT_EQ(listContentsType("phones"), "phone");
    EXPECT_TRUE(listContentsType("addresses").isNull());
    EXPECT_EQ(arrayFromXMLCollection(QVariant()).size(), 0);
    EXPECT_EQ(arrayFromXMLCollection("x"), QVariantList{"x"});
}

TEST(FieldMaps, LookupsCompareTheirOwnSide)
{
    const QList<STFieldMap> maps{STFieldMap("phone", {{"type", "work"}}, 0, "Phone", {{"kind", "W"}}, 1),
                                 STFieldMap("phone", {{"type", "home"}}, 0, "Phone", {{"kind", "H"}}, 1)};
    EXPECT_EQ(STFieldMap::fieldMapForSTEntityName("phone", {{"type", "home"}}, maps), &maps[1]);
    EXPECT_EQ(STFieldMap::fieldMapForClientEntityName("Phone", {{"kind", "W"}}, maps), &maps[0]);
    EXPECT_EQ(STFieldMap::fieldMapForClientEntityName("Phone", {{"type", "work"}}, maps), nullptr);
    EXPECT_TRUE(maps[0].description().startsWith("STFieldMap\nST:\nEntity: phone\n"));
}
