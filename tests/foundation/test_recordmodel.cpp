#include "foundation/VtrRecordModel.h"

#include <gtest/gtest.h>

namespace {

VtrAttribute attribute(const QString &name, const QString &field, QMetaType type)
{
    VtrAttribute a;
    a.setName(name);
    a.setFieldName(field);
    a.setType(type);
    return a;
}

VtrRelationship relationship(const QString &name, const QString &field, int ordinality, bool joinTable = false)
{
    VtrRelationship r;
    r.setName(name);
    r.setFieldName(field);
    r.setOrdinality(ordinality);
    r.setRequiresJoinTable(joinTable);
    return r;
}

VtrEntity contactEntity()
{
    VtrEntity e;
    e.setName(QStringLiteral("Sync.Contacts.Contact"));
    e.addAttribute(attribute("first name", "first_name", QMetaType::fromType<QString>()));
    e.addAttribute(attribute("birthday", "birthday", QMetaType::fromType<QDateTime>()));
    e.addAttribute(attribute("first name", "other_column", QMetaType::fromType<int>()));
    e.addRelationship(relationship("groups", "group_ids", 1, true));
    e.addRelationship(relationship("company", "company_id", 0));
    e.addRelationship(relationship("links", "link_ids", 2, true));
    return e;
}

TEST(RecordModel, RecordStateFollowsChangesAndSaves)
{
    VtrDatabaseRecord r;
    EXPECT_EQ(VtrRecordStateName(r.recordState()), "New");
    r.recordChanged();
    EXPECT_EQ(r.recordState(), kVtrRecordStateNew);
    r.recordSaved();
    EXPECT_EQ(r.recordState(), kVtrRecordStateClean);
    r.recordChanged();
    EXPECT_EQ(VtrRecordStateName(r.recordState()), "Dirty");

    r.recordSaved();
    r.setIdentifier(QStringLiteral("42"));
    EXPECT_EQ(r.recordState(), kVtrRecordStateDirty);
    EXPECT_EQ(r.identifier(), QVariant("42"));

    r.recordSaved();
    r.properties().insert(QStringLiteral("name"), QStringLiteral("x")); // in place: no state change
    EXPECT_EQ(r.recordState(), kVtrRecordStateClean);
    r.setProperties({{"name", "y"}});
    EXPECT_EQ(r.recordState(), kVtrRecordStateDirty);
    EXPECT_FALSE(r.properties().contains("id"));

    EXPECT_EQ(VtrRecordStateName(3), "Deleted");
    EXPECT_EQ(VtrRecordStateName(7), "Undefined");
    EXPECT_EQ(VtrRecordStateName(-1), "Undefined");
}

TEST(RecordModel, LookUpsTakeTheFirstExactMatch)
{
    const VtrEntity e = contactEntity();
    EXPECT_EQ(e.attributeWithName("first name")->fieldName(), "first_name");
    EXPECT_FALSE(e.attributeWithName("First Name"));
    EXPECT_EQ(e.attributeWithFieldName("other_column")->type(), QMetaType::fromType<int>());
    EXPECT_EQ(e.relationshipWithFieldName("company_id")->name(), "company");
    EXPECT_FALSE(e.relationshipWithName("nothing"));

    const QList<VtrRelationship> join = e.relationshipsRequiringJoinTables();
    ASSERT_EQ(join.size(), 2);
    EXPECT_EQ(join[0].name(), "groups");
    EXPECT_EQ(join[1].name(), "links");
}

TEST(RecordModel, DataTypesOfAttributesAndRelationships)
{
    const VtrEntity e = contactEntity();
    const QMetaType string = QMetaType::fromType<QString>();
    EXPECT_EQ(e.dataTypeForAttributeName("birthday"), QMetaType::fromType<QDateTime>());
    EXPECT_EQ(e.dataTypeForAttributeName("company"), string);
    EXPECT_EQ(e.dataTypeForAttributeName("groups"), string);
    EXPECT_FALSE(e.dataTypeForAttributeName("links").isValid());
    EXPECT_FALSE(e.dataTypeForAttributeName("unknown").isValid());

    EXPECT_EQ(e.dataTypeForFieldName("birthday"), QMetaType::fromType<QDateTime>());
    EXPECT_EQ(e.dataTypeForFieldName("company_id"), string);
    EXPECT_EQ(e.dataTypeForFieldName("group_ids"), QMetaType::fromType<QVariantList>());
    EXPECT_FALSE(e.dataTypeForFieldName("link_ids").isValid());
    EXPECT_EQ(e.dataTypeForFieldName("unknown"), string);
}

TEST(RecordModel, CollectionsAreCopiesAndRemovalTakesEveryEqualElement)
{
    VtrEntity e = contactEntity();
    QList<VtrAttribute> copy = e.attributes();
    copy.clear();
    EXPECT_EQ(e.attributes().size(), 3);
    const VtrAttribute birthday = *e.attributeWithName("birthday");
    e.addAttribute(birthday);
    e.removeAttribute(birthday);
    EXPECT_EQ(e.attributes().size(), 2);
    EXPECT_FALSE(e.attributeWithName("birthday"));
    e.removeRelationship(*e.relationshipWithName("links"));
    EXPECT_EQ(e.relationships().size(), 2);

    VtrRelationship r;
    r.addTargetEntityName("A");
    r.addTargetEntityNames({"B", "A", "C"});
    r.removeTargetEntityName("A");
    EXPECT_EQ(r.targetEntityNames(), QStringList({"B", "C"}));
}

TEST(RecordModel, ShortName)
{
    VtrEntity e;
    EXPECT_TRUE(e.shortName().isNull());
    e.setName("Sync.Contacts.Contact");
    EXPECT_EQ(e.shortName(), "Contact");
    e.setName("Plain");
    EXPECT_EQ(e.shortName(), "Plain");
    e.setName("Trailing.");
    EXPECT_EQ(e.shortName(), "");
}

TEST(RecordModel, Descriptions)
{
    EXPECT_EQ(attribute("n", "f", QMetaType::fromType<QString>()).description(), "n (QString) Field name = f\n");
    EXPECT_EQ(VtrAttribute().description(), "(null) ((null)) Field name = (null)\n");
    VtrRelationship r = relationship("groups", "group_ids", 0);
    r.addTargetEntityNames({"A", "B"});
    EXPECT_EQ(r.description(), "groups (Target: A, B Ordinality: one to many) Field Name = group_ids\n");
    r.setOrdinality(5);
    EXPECT_EQ(r.description(), "groups (Target: A, B Ordinality: many to many) Field Name = group_ids\n");

    VtrEntity e;
    e.setName("E");
    e.addAttribute(attribute("a", "fa", QMetaType::fromType<int>()));
    e.addRelationship(relationship("r", "fr", 0));
    EXPECT_EQ(e.description(), "E\nAttributes:\n a (int) Field name = fa\nRelationships:\n r (Target:  Ordinality: "
                               "one to many) Field Name = fr\n");

    VtrDatabaseRecord rec;
    rec.setEntityName("Contact");
    rec.setProperties({{"id", "7"}});
    EXPECT_EQ(rec.description(), "VtrDatabaseRecord\nEntity = Contact\n{\n    id = 7;\n}\nRecord state = New\n");

    EXPECT_EQ(VtrDatabaseError::errorWithNumber(3, "disk full").description(),
              "VtrDatabaseError. Number = 3 Message = \"disk full\"");
}

TEST(RecordModel, RecordLookUpInAMixedArraySkipsOtherElements)
{
    VtrDatabaseRecord a, b;
    a.setProperties({{"name", "Ann"}, {"id", 1}});
    b.setProperties({{"name", "Bob"}, {"id", 2}});
    QVariantList list{QVariantMap{{"name", "Bob"}}, QStringLiteral("Bob"), QVariant::fromValue(a),
                      QVariant::fromValue(b), QVariant::fromValue(b)};
    VtrDatabaseRecord *found = vtr::databaseRecordWithValue(list, QVariant("Bob"), "name");
    ASSERT_TRUE(found);
    EXPECT_EQ(found->identifier(), QVariant(2));
    found->recordSaved(); // the element in the array itself
    EXPECT_EQ(list[3].value<VtrDatabaseRecord>().recordState(), kVtrRecordStateClean);
    EXPECT_EQ(list[4].value<VtrDatabaseRecord>().recordState(), kVtrRecordStateNew);

    const QVariantList &constList = list;
    EXPECT_EQ(vtr::databaseRecordWithValue(constList, QVariant(1), "id")->properties().value("name"), "Ann");
    EXPECT_FALSE(vtr::databaseRecordWithValue(constList, QVariant("Eve"), "name"));
    EXPECT_FALSE(vtr::databaseRecordWithValue(constList, QVariant("Bob"), "missing"));
}

} // namespace
