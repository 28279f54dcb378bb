// Contacts and groups from the store into records: the snapshot
// dictionaries, identifiers, type tables and the related records.
#include "ProcessZone.h"
#include "QStringPrinting.h"
#include "support/PimRecorder.h"

#include "foundation/Json.h"
#include "foundation/VtrCalendarDate.h"
#include "pim/ContactDatabase.h"
#include "pim/records/STRecord.h"
#include "pim/store/JsonFixtureSource.h"

#include <QTimeZone>

#include <gtest/gtest.h>

using namespace syncstore;

namespace {

QStringList related(const STRecord &record, const QString &relationship)
{
    QStringList out;
    for (const STRecordPtr &r : record.recordsInRelationshipNamed(relationship)) {
        QStringList fields{r->identifier()};
        for (const auto &[type, field] : r->fields())
            fields.append(type + QLatin1Char('=') + field->value().toString() +
                          (field->label().isEmpty() ? QString() : QLatin1Char('(') + field->label() + QLatin1Char(')')));
        out.append(fields.join(QLatin1Char(' ')));
    }
    return out;
}

class ContactsRecords : public ::testing::Test
{
protected:
    void SetUp() override
    {
        snapshot = db.syncSessionForSnapshot();
        ASSERT_EQ(snapshot.size(), 2);
        ann = db.convertSyncRecordToSTRecord(snapshot.at(0).toMap(), {{db.mappingEntityKey(), entity::Contact}});
        ASSERT_TRUE(ann);
    }
    ProcessZone zone{"America/Los_Angeles"};
    ContactDatabase db{nullptr, pimtest::fixtureStore(QStringLiteral("store_contacts.json"))};
    QVariantList snapshot;
    STRecordPtr ann;
};

}  // namespace

TEST_F(ContactsRecords, SnapshotDictionaryCarriesTheStoreValuesAndIdentifierLists)
{
    const QVariantMap d = snapshot.at(0).toMap();
    EXPECT_EQ(d.value(QStringLiteral("uid")).toString(), QStringLiteral("X"));
    EXPECT_EQ(d.value(QStringLiteral("note")).toString(), QStringLiteral("Met at the fair"));
    EXPECT_EQ(d.value(QStringLiteral("isCompany")).toString(), QStringLiteral("person"));
    const struct { const char *key; QStringList ids; } idLists[] = {
        {"image_ids", {"X"}}, {"organization_ids", {"X"}}, {"nick_ids", {"X"}},
        {"phone_ids", {"X/p0", "X/p1", "X/p2", "X/p3"}}, {"date_ids", {"X"}}, {"url_ids", {"X/u0"}},
    };
    for (const auto &l : idLists) EXPECT_EQ(d.value(QLatin1String(l.key)).toStringList(), l.ids) << l.key;
    ASSERT_EQ(d.value(QStringLiteral("phones")).toList().size(), 4);
    EXPECT_EQ(d.value(QStringLiteral("phones")).toList().first().toMap().value(QStringLiteral("uid")).toString(), QStringLiteral("X/p0"));
    EXPECT_FALSE(d.contains(QStringLiteral("customs")));
    EXPECT_FALSE(snapshot.at(1).toMap().contains(QStringLiteral("date_ids")));

    const QVariantList urls = db.urlArray(d.value(QStringLiteral("urls")).toList(), QStringLiteral("X"));
    ASSERT_EQ(urls.size(), 1);
    EXPECT_EQ(urls.first().toMap().value(QStringLiteral("type")).toString(), QStringLiteral("home_page"));
    EXPECT_EQ(urls.first().toMap().value(QStringLiteral("value")).toString(), QStringLiteral("http://ann.example/a%20b"));
    EXPECT_TRUE(db.phoneArray({}, QStringLiteral("X")).isEmpty());
}

TEST_F(ContactsRecords, ContactRecordFieldsAndRelatedRecords)
{
    EXPECT_EQ(ann->type(), QStringLiteral("contact"));
    EXPECT_EQ(ann->identifier(), QStringLiteral("X"));
    const struct { const char *field, *value; } fields[] = {
        {"first", "Ann"}, {"last", "Lee"}, {"prefix", "Dr."}, {"nick", "Annie"}, {"company", "Acme"},
        {"department", "Sales"}, {"device_record_id", "X"},
    };
    for (const auto &f : fields) EXPECT_EQ(ann->stringForFieldOfType(QLatin1String(f.field)), QLatin1String(f.value)) << f.field;
    EXPECT_EQ(ann->valueForFieldOfType(QStringLiteral("picture")).toByteArray(), QByteArray::fromBase64("/9j/4AAQ"));

    const struct { const char *relationship; QStringList records; } cases[] = {
        // A kind outside a table is kept as "other" with the store's kind as
        // label ("main", "blog", "holiday"); a label equal to the mapped type
        // is dropped.
        {"phones", {"X_phone_0 type=mobile value=+1 100", "X_phone_1 label=main type=other value=+1 101",
                    "X_phone_2 type=mobile value=+1 102", "X_phone_3 label=Office fax type=fax_work value=+1 103"}},
        {"emails", {"X_email_0 label=Office type=email_work value=ann@acme.example",
                    "X_email_1 label=blog type=email_other value=ann@blog.example"}},
        {"addresses", {"X_address_0 city=Nice label=holiday type=other",
                       "X_address_1 city=Springfield country=USA ext=Suite 5 pobox=PO 9 street=1 Main St(Delivery) type=work zip=62701",
                       "X_address_2 city=Paris type=work"}},
        {"IMs", {"X_IM_0 service=jabber type=im_home user=ann", "X_IM_1 type=im_work user=ann.lee"}},
        {"organizations", {"X_organization_0 company=Acme department=Sales jobtitle=Boss type=work"}},
        {"jobtitles", {" type=jobtitle value=Boss"}},
        {"notes", {"note type=note value=Met at the fair"}},
        // Noon of 4 July in Los Angeles is the local 4 July.
        {"dates", {" type=birthday value=19700704000000"}},
    };
    for (const auto &c : cases) EXPECT_EQ(related(*ann, QLatin1String(c.relationship)), c.records) << c.relationship;
    EXPECT_FALSE(ann->hasRelationshipNamed(QStringLiteral("urls")));
}

TEST_F(ContactsRecords, GroupsWithMembersAndOtherEntities)
{
    // The group without a name is left out alone.
    const QVariantList groups = db.groupArrayAll();
    ASSERT_EQ(groups.size(), 2);
    EXPECT_EQ(groups.last().toMap().value(QStringLiteral("uid")).toString(), QStringLiteral("G2"));
    const STRecordPtr friends = db.convertSyncRecordToSTRecord(groups.first().toMap(), {{db.mappingEntityKey(), entity::Group}});
    ASSERT_TRUE(friends);
    EXPECT_EQ(friends->type(), QStringLiteral("group"));
    EXPECT_EQ(friends->identifier(), QStringLiteral("G1"));
    EXPECT_EQ(friends->stringForFieldOfType(QStringLiteral("name")), QStringLiteral("Friends"));
    const STRecordList members = friends->recordsInRelationshipNamed(QStringLiteral("members"));
    ASSERT_EQ(members.size(), 2);
    EXPECT_TRUE(members.first()->isPlaceholder());
    EXPECT_EQ(members.last()->identifier(), QStringLiteral("Y"));
    EXPECT_FALSE(db.convertSyncRecordToSTRecord(groups.first().toMap(), {{db.mappingEntityKey(), entity::Note}}));
}

TEST(ContactsSharedRecords, EveryNamingOfARecordGetsItsData)
{
    const QVariantMap document = vtr::JSONValueFromUtf8(R"({"contacts": [
        {"identifier": "A", "entity": "com.apple.contacts.Contact", "last name": "A", "phone numbers": ["P"]},
        {"identifier": "B", "entity": "com.apple.contacts.Contact", "last name": "B", "phone numbers": ["P", "P"]},
        {"identifier": "P", "entity": "com.apple.contacts.Phone Number", "type": "mobile", "value": "+1 100"}]})")
                                     .toMap();
    std::vector<std::unique_ptr<SyncSource>> sources;
    sources.push_back(std::make_unique<JsonFixtureSource>(document));
    ContactDatabase db{nullptr, std::make_shared<SyncManager>(std::move(sources))};
    const QVariantList contacts = db.syncSessionForSnapshot();
    ASSERT_EQ(contacts.size(), 2);
    QStringList values;
    for (const QVariant &c : contacts)
        for (const QVariant &phone : c.toMap().value(QStringLiteral("phones")).toList())
            values.append(phone.toMap().value(QStringLiteral("value")).toString());
    EXPECT_EQ(values, QStringList(3, QStringLiteral("+1 100")));
}
