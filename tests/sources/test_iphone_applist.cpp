// The iPhone app list: app packages found with the music library, read on a
// thread of their own, the answer handed over on the main thread.
#include "platform/Folders.h"
#include "platform/MainThread.h"
#include "platform/UserDefaults.h"
#include "sources/iphone/iOSAppListBackgrounder.h"
#include "support/BackupFixtures.h"

#include "TestEnvironment.h"
#include "TestFolders.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QStandardPaths>
#include <QThread>

#include <gtest/gtest.h>

namespace {

class Receiver : public iOSAppListBackgrounderDelegate
{
public:
    void populateAppUI(const QVariantList &list) override
    {
        apps = list;
        onMainThread = platform::isMainThread();
        ++calls;
    }
    bool waitForCall(int ms = 20000)
    {
        QElapsedTimer timer;
        timer.start();
        while (calls == 0 && timer.elapsed() < ms) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            QThread::msleep(5);
        }
        return calls > 0;
    }
    QVariantList apps;
    bool onMainThread = false;
    int calls = 0;
};

class AppListTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation) + QStringLiteral("/iTunes");
        testenv::removeTree(m_music);
        m_extra = testenv::makeTempDir(QStringLiteral("extra"));
        platform::UserDefaults::setValue(QString::fromLatin1(iOSAppListBackgrounder::kPackageFoldersDefaultsKey), m_extra);
    }
    void TearDown() override
    {
        platform::UserDefaults::remove(QString::fromLatin1(iOSAppListBackgrounder::kPackageFoldersDefaultsKey));
        testenv::removeTree(m_music);
    }

    static void makeIpa(const QString &path, const QVariant &id, const QString &name, bool binary = false)
    {
        const QString work = testenv::makeTempDir(QStringLiteral("ipa"));
        QVariantMap metadata;
        if (id.isValid()) metadata.insert(QStringLiteral("itemId"), id);
        metadata.insert(QStringLiteral("itemName"), name);
        metadata.insert(QStringLiteral("artistName"), QStringLiteral("Maker"));
        testenv::writeFile(work + QStringLiteral("/iTunesMetadata.plist"), fixtures::plistData(metadata, binary));
        testenv::writeFile(work + QStringLiteral("/Payload/App.app/App"), QByteArray(1000, 'x'));
        QDir().mkpath(QFileInfo(path).path());
        fixtures::makeZip(path, work, {QStringLiteral("iTunesMetadata.plist"), QStringLiteral("Payload")});
    }

    QString m_music;
    QString m_extra;
};

QStringList names(const QVariantList &apps)
{
    QStringList out;
    for (const QVariant &app : apps) out.append(app.toMap().value(QStringLiteral("itemName")).toString());
    return out;
}

} // namespace

TEST_F(AppListTest, FindsPackagesAtAnyDepthAndSkipsUnusableOnes)
{
    const QString apps = m_music + QStringLiteral("/Mobile Applications");
    makeIpa(apps + QStringLiteral("/Alpha 1.0.ipa"), qint64(284882215), QStringLiteral("Alpha"));
    makeIpa(apps + QStringLiteral("/Alpha copy.ipa"), qint64(284882215), QStringLiteral("Alpha"), true);
    testenv::writeFile(apps + QStringLiteral("/b/deep/Beta.ipa"), "not a zip archive");
    makeIpa(apps + QStringLiteral("/Gamma.ipa"), qint64(7), QString());
    makeIpa(apps + QStringLiteral("/NoId.ipa"), QVariant(), QStringLiteral("NoId"));
    makeIpa(apps + QStringLiteral("/Upper.IPA"), qint64(8), QStringLiteral("Upper"));
    makeIpa(m_extra + QStringLiteral("/Delta.ipa"), qint64(9), QStringLiteral("Delta"));

    QStringList found;
    for (const QUrl &url : iOSAppListBackgrounder::deviceAppIpaFileURLs()) found.append(QFileInfo(url.toLocalFile()).fileName());
    EXPECT_EQ(found, (QStringList{QStringLiteral("Alpha 1.0.ipa"), QStringLiteral("Alpha copy.ipa"),
                                  QStringLiteral("Beta.ipa"), QStringLiteral("Gamma.ipa"), QStringLiteral("NoId.ipa"),
                                  QStringLiteral("Delta.ipa")}));

    Receiver receiver;
    iOSAppListBackgrounder backgrounder;
    backgrounder.setDelegate(&receiver);
    backgrounder.findIOSAppsInBackground();
    ASSERT_TRUE(receiver.waitForCall());
    EXPECT_TRUE(receiver.onMainThread);
    ASSERT_EQ(names(receiver.apps), (QStringList{QStringLiteral("Alpha"), QStringLiteral("Alpha"), QStringLiteral("Delta")}));
    EXPECT_EQ(receiver.apps[0].toMap().value(QStringLiteral("itemId")).toLongLong(), 284882215);
    EXPECT_TRUE(QDir(platform::temporaryFolder()).isEmpty()) << "packages are read without unpacking them";
}

TEST_F(AppListTest, NoLibraryStillAnswersAndALateAnswerGoesNowhere)
{
    Receiver receiver;
    {
        iOSAppListBackgrounder backgrounder;
        backgrounder.setDelegate(&receiver);
        backgrounder.findIOSAppsInBackground();
        ASSERT_TRUE(receiver.waitForCall());
        EXPECT_TRUE(receiver.apps.isEmpty());
    }
    makeIpa(m_extra + QStringLiteral("/Delta.ipa"), qint64(9), QStringLiteral("Delta"));
    Receiver late;
    {
        iOSAppListBackgrounder replaced;
        replaced.setDelegate(&late);
        replaced.findIOSAppsInBackground();
        replaced.setDelegate(nullptr);
    }
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 300) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_EQ(late.calls, 0);
}
