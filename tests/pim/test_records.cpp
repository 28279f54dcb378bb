#include "QStringPrinting.h"
#include "foundation/Json.h"
#include "pim/records/STDate.h"
#include "pim/records/STRecord.h"
#include "pim/records/STVocabulary.h"

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
