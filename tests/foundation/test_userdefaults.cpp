#include "TestEnvironment.h"
#include "foundation/VtrUserDefaults.h"
#include "platform/UserDefaults.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QFile>

#include <limits>

class UserDefaultsDomains : public ::testing::Test
{
protected:
    void SetUp() override
    {
        storeFile = testenv::makeTempDir("ud") + "/d.ini";
        platform::UserDefaults::setStoreFileForTesting(storeFile);
    }
    void TearDown() override { platform::UserDefaults::setStoreFileForTesting(QString()); }
    QString storeFile;
};

TEST_F(UserDefaultsDomains, ADomainComesAndGoesWithItsKeys)
{
    const QString domain = "com.example.other/with slash";
    EXPECT_FALSE(vtr::persistentDomainForName(domain).isValid());
    vtr::setObject("v1", "k1", domain);
    vtr::setObject(QVariantList{1, 2}, "k2", domain);
    EXPECT_EQ(vtr::objectForKey("k1", domain), "v1");
    EXPECT_EQ(vtr::persistentDomainForName(domain).toMap(), (QVariantMap{{"k1", "v1"}, {"k2", QVariantList{1, 2}}}));
    // Not the application's own keys, and not another domain's.
    EXPECT_FALSE(platform::UserDefaults::value("k1").isValid());
    EXPECT_FALSE(vtr::objectForKey("k1", "com.example.other").isValid());

    vtr::removeObjectForKey("k1", domain);
    EXPECT_TRUE(vtr::persistentDomainForName(domain).isValid());
    vtr::removeObjectForKey("k2", domain);
    EXPECT_FALSE(vtr::persistentDomainForName(domain).isValid());

    // Empty names do nothing.
    vtr::setObject("x", "", domain);
    vtr::setObject("x", "k", "");
    EXPECT_FALSE(vtr::persistentDomainForName(domain).isValid());
    EXPECT_FALSE(vtr::objectForKey("", domain).isValid());

    // Stored for the next process.
    vtr::setObject(42, "answer", domain);
    platform::UserDefaults::setStoreFileForTesting(storeFile); // reopens the file
    EXPECT_EQ(vtr::objectForKey("answer", domain).toInt(), 42);
}

TEST_F(UserDefaultsDomains, TheApplicationsOwnDomainUsesItsOwnKeys)
{
    const QString own = vtr::mainBundleIdentifier().toUpper();
    vtr::setObject("mine", "QuixeyURL", own);
    EXPECT_EQ(platform::UserDefaults::value("QuixeyURL"), "mine");
    EXPECT_EQ(vtr::objectForKey("QuixeyURL", own), "mine");
    EXPECT_FALSE(vtr::persistentDomainForName(own).isValid());
    vtr::removeObjectForKey("QuixeyURL", own);
    EXPECT_FALSE(platform::UserDefaults::value("QuixeyURL").isValid());

    vtr::setObjectWithBundle(1, "k", "com.other", "COM.OTHER");
    EXPECT_EQ(platform::UserDefaults::value("k"), 1);
}

// What the application keeps for itself reads back alike in the next run.
TEST_F(UserDefaultsDomains, TheApplicationsOwnValuesKeepTheirTypesAcrossARun)
{
    const QString own = vtr::mainBundleIdentifier();
    const QVariant values[] = {true,
                               false,
                               42,
                               -(qint64(1) << 40),
                               std::numeric_limits<quint64>::max(),
                               2.5,
                               0.1f,
                               QStringLiteral("true"),
                               QStringLiteral("42"),
                               QStringLiteral("@odd"),
                               QStringList{"a", "b"},
                               QVariantMap{{"n", 1}, {"b", true}},
                               QDateTime(QDate(2012, 1, 2), QTime(3, 4, 5), Qt::UTC)};
    int n = 0;
    for (const QVariant &value : values)
        vtr::setObject(value, QStringLiteral("group/key%1").arg(n++), own);
    vtr::setBool(true, "flag", own);
    vtr::setObject(7, "retyped", own);
    vtr::setObject("seven", "retyped", own);
    vtr::setObject(8, "gone", own);
    vtr::removeObjectForKey("gone", own);

    // A file by another name is read afresh, as by a new process.
    const QString nextRun = storeFile + ".next";
    ASSERT_TRUE(QFile::copy(storeFile, nextRun));
    platform::UserDefaults::setStoreFileForTesting(nextRun);
    n = 0;
    for (const QVariant &value : values) {
        const QVariant read = vtr::objectForKey(QStringLiteral("group/key%1").arg(n++), own);
        EXPECT_EQ(read.typeId(), value.typeId()) << value.toString().toStdString();
        EXPECT_EQ(read, value) << value.toString().toStdString();
    }
    EXPECT_TRUE(vtr::boolForKey("flag", own));
    EXPECT_EQ(vtr::objectForKey("retyped", own), QVariant("seven"));
    EXPECT_FALSE(vtr::objectForKey("gone", own).isValid());
}

TEST_F(UserDefaultsDomains, BooleanReading)
{
    const QString d = "bools";
    struct Case
    {
        QVariant value;
        bool expected;
    };
    const Case cases[] = {{"Yes", true},
                          {"YES", true},
                          {"yes", true},
                          {"1", false},
                          {"true", false},
                          {1, true},
                          {0, false},
                          {true, true},
                          {2.5, true},
                          {QByteArray("YES"), false},
                          {QVariantMap{{"a", 1}}, false}};
    for (const Case &c : cases) {
        vtr::setObject(c.value, "k", d);
        EXPECT_EQ(vtr::boolForKey("k", d), c.expected) << c.value.toString().toStdString();
    }
    EXPECT_FALSE(vtr::boolForKey("missing", d));
    vtr::setBool(true, "flag", d);
    EXPECT_EQ(vtr::objectForKey("flag", d).typeId(), QMetaType::Bool);
    EXPECT_TRUE(vtr::boolForKey("flag", d));
}

TEST_F(UserDefaultsDomains, ValuesPerGuid)
{
    const QString d = "phones";
    vtr::setObjectForGUID(7, "content_revision", d, "guid-1");
    vtr::setObjectForGUID(9, "content_revision", d, "guid-2");
    vtr::setBoolForGUID(true, "seen", d, "guid-1");
    EXPECT_EQ(vtr::objectForKeyForGUID("content_revision", d, "guid-1"), 7);
    EXPECT_EQ(vtr::objectForKeyForGUID("content_revision", d, "guid-2"), 9);
    EXPECT_TRUE(vtr::boolForKeyForGUID("seen", d, "guid-1"));
    EXPECT_FALSE(vtr::objectForKeyForGUID("content_revision", d, "guid-3").isValid());
    EXPECT_FALSE(vtr::objectForKeyForGUID("content_revision", "", "guid-1").isValid());

    // Without a GUID the plain domain operations apply.
    vtr::setObjectForGUID("plain", "k", d, QString());
    EXPECT_EQ(vtr::objectForKey("k", d), "plain");
    EXPECT_EQ(vtr::objectForKeyForGUID("k", d, ""), "plain");

    vtr::removeObjectForKeyForGUID("content_revision", d, "guid-1");
    vtr::removeObjectForKeyForGUID("seen", d, "guid-1");
    // An emptied GUID dictionary stays.
    EXPECT_EQ(vtr::persistentDomainForName(d).toMap().value("guid-1").toMap(), QVariantMap());
    vtr::removeAllKeysForGUID("guid-2", d);
    EXPECT_FALSE(vtr::persistentDomainForName(d).toMap().contains("guid-2"));
    EXPECT_EQ(vtr::objectForKey("k", d), "plain");
}
