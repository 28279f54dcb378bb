// The BlackBerry app list: the newest desktop backup archive, its IPD file
// unpacked into a fresh private folder, and the apps of its two databases.
// Runs again under odd time zones (scripts/test.sh): it reads or writes dates.
#include "platform/Folders.h"
#include "sources/blackberry/BBAppList.h"
#include "sources/blackberry/BlackBerryIPD.h"
#include "support/BackupFixtures.h"

#include "TestEnvironment.h"
#include "TestFolders.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTimeZone>

#include <gtest/gtest.h>

using fixtures::IpdRecord;
using fixtures::ipdText;

namespace {

IpdRecord group(const QList<QByteArray> &fields)
{
    IpdRecord record{0, 1, 1, 1, {}};
    for (const QByteArray &field : fields) record.fields.append(ipdText(field));
    return record;
}

IpdRecord agent(const QByteArray &module, const QByteArray &display, int fieldCount = 8)
{
    IpdRecord record{1, 1, 1, 1, {}};
    for (int i = 0; i < fieldCount; ++i)
        record.fields.append(ipdText(i == 2 ? module : i == 4 ? display : QByteArray("x")));
    return record;
}

QByteArray appsIpd()
{
    QList<IpdRecord> records = {
        group({"RIM_APP_WORLD_ID", "12345", "RIM_APP_WORLD_NAME", "Twitter"}),
        group({"RIM_APP_WORLD_NAME", "Facebook", "Other", "v", "RIM_APP_WORLD_ID", "678x", "odd"}),
        group({"RIM_APP_WORLD_ID", "1", "RIM_APP_WORLD_NAME", "Twitter"}),
        group({"RIM_APP_WORLD_ID", "2"}),
        agent("net.rim.java.maps", "Maps"),
        agent("net.rim.java.browser", "Browser"),
        agent("com.example.game", "Game"),
        agent("9lives.app", "Lives"),
        agent("com.example:helper", "Helper"),
        agent("com.twitter.bb", "Twitter"),
        agent("com.example.bbim", "BBIMConfig tool"),
        agent("com.example.short", "Short", 7),
    };
    IpdRecord bytes = agent("com.example.raw", "Raw");
    bytes.fields[2] = QByteArray("com.\x81raw", 8);
    records.append(bytes);
    return fixtures::ipdFile({QStringLiteral("Code Module Group Properties"), QStringLiteral("Handheld Agent")},
                             records);
}

QStringList itemTexts(const QVariantList &items)
{
    QStringList out;
    for (const QVariant &item : items) {
        const QVariantMap map = item.toMap();
        out.append(map.value(QStringLiteral("itemId")).toString() + QLatin1Char('=')
                   + map.value(QStringLiteral("itemName")).toString());
    }
    return out;
}

class BBAppListTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_folder = platform::homeFolder() + QStringLiteral("/Documents/BlackBerry Backups");
        testenv::removeTree(m_folder);
        QDir().mkpath(m_folder);
    }
    void TearDown() override { testenv::removeTree(m_folder); }

    void makeBackup(const QString &name, const QByteArray &ipd, const QDateTime &date)
    {
        const QString work = testenv::makeTempDir(QStringLiteral("bbb"));
        testenv::writeFile(work + QStringLiteral("/Manifest.xml"), "<BlackBerry_Backup/>");
        QStringList members{QStringLiteral("Manifest.xml")};
        if (!ipd.isNull()) {
            testenv::writeFile(work + QStringLiteral("/Databases/Databases.ipd"), ipd);
            members.append(QStringLiteral("Databases"));
        }
        const QString archive = m_folder + QLatin1Char('/') + name;
        fixtures::makeZip(archive, work, members);
        QFile file(archive);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite) && file.setFileTime(date, QFileDevice::FileModificationTime));
    }

    QString m_folder;
};

const QDateTime kDay(QDate(2012, 5, 1), QTime(9, 0), QTimeZone::utc());

} // namespace

TEST(BBAppListRules, AppsFromBothDatabases)
{
    const auto ipd = vtr::ipd::dictionaryWithBBIPDData(appsIpd());
    ASSERT_TRUE(ipd.has_value());
    const QVariantList items = BBAppList::appsFromIPD(*ipd);
    ASSERT_EQ(itemTexts(items), (QStringList{QStringLiteral("12345=Twitter"), QStringLiteral("678=Facebook"),
                                             QStringLiteral("1=Twitter"), QStringLiteral("net.rim.java.maps=Maps"),
                                             QStringLiteral("com.example.game=Game")}));
    EXPECT_EQ(items[0].toMap().value(QStringLiteral("itemId")).typeId(), QMetaType::LongLong);
    EXPECT_TRUE(BBAppList::appsFromIPD({}).isEmpty());
}

TEST_F(BBAppListTest, NewestArchiveIsUnpackedIntoAFreshFolder)
{
    EXPECT_FALSE(BBAppList().findBBApps().has_value()) << "no archive";

    const QByteArray other = fixtures::ipdFile({QStringLiteral("Handheld Agent")}, {agent("com.other.app", "Other")});
    makeBackup(QStringLiteral("A.bbb"), appsIpd(), kDay);
    makeBackup(QStringLiteral("B.bbb"), other, kDay);
    makeBackup(QStringLiteral("Z.BBB"), other, kDay.addDays(3));
    makeBackup(QStringLiteral("Older.bbb"), other, kDay.addDays(-3));
    EXPECT_EQ(BBAppList().urlOfBBBFile().fileName(), QStringLiteral("A.bbb")) << "of equal dates, the first listed";

    // What an earlier run left in the temporary folder is never read.
    const QString temporary = platform::temporaryFolder();
    testenv::writeFile(temporary + QStringLiteral("/Databases/Databases.ipd"), other);
    const auto apps = BBAppList().findBBApps();
    ASSERT_TRUE(apps.has_value());
    EXPECT_EQ(apps->size(), 5);
    EXPECT_EQ(QDir(temporary).entryList(QDir::Dirs | QDir::NoDotAndDotDot), QStringList{QStringLiteral("Databases")})
        << "the unpacked folder is gone";

    makeBackup(QStringLiteral("C.bbb"), QByteArray(), kDay.addDays(1));
    const auto none = BBAppList().findBBApps();
    ASSERT_TRUE(none.has_value());
    EXPECT_TRUE(none->isEmpty()) << "an archive without the database lists nothing";
}

// A desktop in another language names the documents folder otherwise; the
// literal "~/Documents" still counts, and the newest of both is taken.
TEST_F(BBAppListTest, BackupsInTheDesktopsDocumentsFolderAreFound)
{
    const QString userDirs = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
                             + QStringLiteral("/user-dirs.dirs");
    testenv::writeFile(userDirs, "XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n");
    const QString literal = m_folder;
    const QByteArray other = fixtures::ipdFile({QStringLiteral("Handheld Agent")}, {agent("com.other.app", "Other")});
    makeBackup(QStringLiteral("Copied.bbb"), other, kDay);
    m_folder = platform::homeFolder() + QStringLiteral("/Dokumente/BlackBerry Backups");
    QDir().mkpath(m_folder);
    makeBackup(QStringLiteral("Newest.bbb"), appsIpd(), kDay.addDays(1));

    EXPECT_EQ(BBAppList().urlOfBBBFile().toLocalFile(), m_folder + QStringLiteral("/Newest.bbb"));
    const auto apps = BBAppList().findBBApps();
    ASSERT_TRUE(apps.has_value());
    EXPECT_EQ(apps->size(), 5);
    testenv::removeTree(m_folder);
    EXPECT_EQ(BBAppList().urlOfBBBFile().toLocalFile(), literal + QStringLiteral("/Copied.bbb"));
    QFile::remove(userDirs);
}
