// Windows Live contact bodies from JSON contact records: the companion app's
// file against checked-in expected bodies, and the slot and name rules.
#include "support/PimRecorder.h"

#include "TestEnvironment.h"
#include "fileinfo/VtrMacFileInfo.h"
#include "foundation/Json.h"
#include "pim/ContactDatabase.h"

#include <gtest/gtest.h>

using pimtest::canonicalJson;

TEST(ContactsLive, CompanionFileGivesTheExpectedBodiesAndProgress)
{
    PimRecorder recorder;
    ContactDatabase db(&recorder, pimtest::fixtureStore(QStringLiteral("store_empty.json")));
    const QByteArray file = pimtest::dataFile(QStringLiteral("nroid_con.json"));
    const auto bodies = db.windowsLiveContactsWithData(file);
    ASSERT_TRUE(bodies);
    EXPECT_EQ(canonicalJson(*bodies),
              canonicalJson(vtr::JSONValueFromUtf8(pimtest::dataFile(QStringLiteral("live_contacts_expected.json")))));
    EXPECT_EQ(db.recordCount(), 4);
    // Eight lines (the last one empty after the final line break), each
    // reported at k/8 of the first half, then done.
    QList<double> expected;
    for (int k = 1; k <= 8; ++k) expected.append(k / 8.0 * 0.5);
    expected.append(1.0);
    ASSERT_EQ(recorder.percents(), expected);
    EXPECT_EQ(recorder.reports.first().phase, QStringLiteral("Contacts Phase"));

    // The count is not reset: a second file adds to it.
    db.windowsLiveContactsWithData(file);
    EXPECT_EQ(db.recordCount(), 8);
}

TEST(ContactsLive, DataThatIsNotUtf8GivesNoBodiesAndNoProgress)
{
    PimRecorder recorder;
    ContactDatabase db(&recorder, pimtest::fixtureStore(QStringLiteral("store_empty.json")));
    EXPECT_FALSE(db.windowsLiveContactsWithData(QByteArray("{\"a\":\"\xff\xfe\"}\n")));
    EXPECT_TRUE(recorder.reports.isEmpty());
    const auto empty = db.windowsLiveContactsWithData(QByteArray());
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->isEmpty());
}

TEST(ContactsLive, SlotRules)
{
    ContactDatabase db(nullptr, pimtest::fixtureStore(QStringLiteral("store_empty.json")));
    const struct
    {
        const char *record, *body;
    } cases[] = {
        {R"({"emails":[{"type":"email_work","value":"a"},{"type":"work","value":"b"}]})",
         R"({"emails":{"business":"a","business 2":"b"}})"},
        {R"({"phones":[{"type":"work","value":"1"},{"type":"fax_work","value":"2"}]})",
         R"({"phones":{"business":"1","business 2":"2"}})"},
        {R"({"phones":[{"type":"home","value":"1"},{"type":"fax_home","value":"2"},{"type":"home","value":"3"}]})",
         R"({"phones":{"personal":"1","personal 2":"2","personal 3":"3"}})"},
        // A name given as a type is taken; each dictionary counts on its own.
        {R"({"phones":[{"type":"mobile","value":"1"},{"type":"mobile 3","value":"3"},{"type":"mobile","value":"2"},)"
         R"({"type":"mobile","value":"4"}],"emails":[{"type":"mobile","value":"a"},{"type":"mobile","value":"b"}]})",
         R"({"phones":{"mobile":"1","mobile 2":"2","mobile 3":"3","mobile 4":"4"},"emails":{"mobile":"a","mobile 2":"b"}})"},
        {R"({"addresses":[{"type":"HOME","city":"x"},{"type":"home2","city":"y"}]})",
         R"({"addresses":{"personal":{"city":"x"},"other":{"city":"y"}}})"},
        {R"({"first":"Ann","suffix":"Jr."})", R"({"first_name":"Ann","name":"Ann Jr."})"},
        {R"({"organizations":[{"jobtitle":"only a title"}]})", R"({})"},
    };
    for (const auto &c : cases) {
        const QVariantList bodies = db.convertContactsToWindowsLive({vtr::JSONValue(QString::fromUtf8(c.record))});
        ASSERT_EQ(bodies.size(), 1);
        EXPECT_EQ(canonicalJson(bodies.first()), canonicalJson(vtr::JSONValue(QString::fromUtf8(c.body)))) << c.record;
    }
    EXPECT_TRUE(db.convertContactsToWindowsLive({}).isEmpty());
}

TEST(ContactsLive, CompanionFileReadALineAtATimeGivesTheSameBodies)
{
    PimRecorder recorder;
    ContactDatabase db(&recorder, pimtest::fixtureStore(QStringLiteral("store_empty.json")));
    const QByteArray data = pimtest::dataFile(QStringLiteral("nroid_con.json"));
    const QString folder = testenv::makeTempDir(QStringLiteral("companion"));
    testenv::writeFile(folder + QStringLiteral("/nroid_con.json"), data);
    const auto held = db.windowsLiveContactsFromFile(VtrMacFileInfo::fileInfoWithPath(folder + QStringLiteral("/nroid_con.json")));
    ASSERT_TRUE(held);
    QVariantList bodies;
    for (const QVariant &b : *held) bodies.append(b.toMap());
    EXPECT_EQ(canonicalJson(bodies), canonicalJson(*db.windowsLiveContactsWithData(data)));
    EXPECT_EQ(recorder.percents().mid(0, 9), recorder.percents().mid(9));

    testenv::writeFile(folder + QStringLiteral("/broken.json"), "{\"a\":1}\n{\"b\":\"\xff\"}\n");
    recorder.reports.clear();
    EXPECT_FALSE(db.windowsLiveContactsFromFile(VtrMacFileInfo::fileInfoWithPath(folder + QStringLiteral("/broken.json"))));
    EXPECT_TRUE(recorder.reports.isEmpty()) << "no progress for a file that is not UTF-8";
    EXPECT_THROW(db.windowsLiveContactsFromFile(VtrMacFileInfo::fileInfoWithPath(folder + QStringLiteral("/gone.json"))),
                 VtrException);
}
