// The app list: from app items to sorted app-search objects, per family.
#include "TestEnvironment.h"
#include "TestFolders.h"
#include "app/NS_AppControllerAppReferral.h"
#include "app/NS_AppControllerSummaries.h"
#include "support/WizardHarness.h"
#include "foundation/Log.h"
#include "foundation/MigrationStatus.h"
#include "platform/Folders.h"
#include "platform/UserDefaults.h"
#include "platform/VtrException.h"
#include "sources/blackberry/BBAppList.h"
#include "sources/iphone/iOSAppListBackgrounder.h"
#include "support/BackupFixtures.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QThread>

#include <atomic>
#include <gtest/gtest.h>

namespace {

using testenv::waitUntil;

class StatusRecorder : public MigrationStatusProtocol
{
public:
    void setStatus(const QString &, const QString &phase, double percent) override { record(phase, percent); }
    void setStatusNow(const QString &, const QString &phase, double percent) override { record(phase, percent); }
    void record(const QString &phase, double percent) { reports << QStringLiteral("%1 %2").arg(phase).arg(percent); }
    QStringList reports;
};

// Refuses one app by name, as a service without an object for it would.
class PickySession : public QuixeySession
{
public:
    std::unique_ptr<AppsearchApp> appsearchAppWithAppName(const QString &name, const QString &id) override
    {
        return name == QLatin1String("Refused") ? nullptr : QuixeySession::appsearchAppWithAppName(name, id);
    }
};

QStringList names(const AppReferralList &list)
{
    QStringList out;
    for (const auto &app : list.apps()) out << app->sourceAppName() + QLatin1Char('#') + app->sourceAppID();
    return out;
}

QVariantMap item(const QVariant &id, const QString &name)
{
    return {{QStringLiteral("itemId"), id}, {QStringLiteral("itemName"), name}};
}

class AppReferralTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        list.setAppsearchSession(std::make_unique<PickySession>());
        list.setScanAppsDone([this] { ++done; });
        LogSetSystemLogSink([this](const QString &m) { logged << m; });
    }
    void TearDown() override { LogSetSystemLogSink({}); }

    StatusRecorder status;
    AppReferralList list{&status};
    int done = 0;
    QStringList logged;
};

}  // namespace

TEST_F(AppReferralTest, ItemsBecomeAppsSortedByNameIgnoringCase)
{
    list.populateAppUI(QVariantList{item(qint64(284882215), "zeta"), item(2.84882216e8, "Alpha"),
                                    item("Refused", "Refused"), item("com.example.beta", "beta")});
    EXPECT_EQ(names(list), (QStringList{"Alpha#284882216", "beta#com.example.beta", "zeta#284882215"}));
    EXPECT_EQ(logged.filter(QStringLiteral("Could not create AppsearchApp object for app: Refused ID: Refused")).size(), 1);
    EXPECT_EQ(status.reports, QStringList{"Apps Phase 1"});
    EXPECT_EQ(done, 1);
    EXPECT_TRUE(list.shouldDoIPhoneAppReferral());
}

TEST_F(AppReferralTest, NoListOrAnEmptyOneMovesOnWithNothing)
{
    for (const std::optional<QVariantList> &none : {std::optional<QVariantList>(), std::optional<QVariantList>(QVariantList())}) {
        list.populateAppUI(none);
        EXPECT_EQ(list.count(), 0);
        EXPECT_FALSE(list.shouldDoAndroidAppReferral() || list.shouldDoBlackberryAppReferral());
    }
    EXPECT_EQ(done, 2);
    EXPECT_EQ(status.reports, (QStringList{"Apps Phase 1", "Apps Phase 1"}));
}

TEST_F(AppReferralTest, ThePreparationsCollectOnAnotherThread)
{
    std::atomic<bool> offMain{false};
    list.prepareBlackberryAppReferral([&] {
        offMain = QThread::currentThread() != QCoreApplication::instance()->thread();
        return std::optional<QVariantList>(QVariantList{item(7, "Maps")});
    });
    ASSERT_FALSE(status.reports.isEmpty());
    EXPECT_EQ(status.reports.first(), QStringLiteral("Apps Phase -2"));
    ASSERT_TRUE(waitUntil([&] { return done == 1; }));
    EXPECT_TRUE(offMain);
    EXPECT_EQ(names(list), QStringList{"Maps#7"});

    // A producer that fails is a list with nothing in it: the wizard goes on.
    list.prepareAndroidAppReferral([]() -> std::optional<QVariantList> {
        throw VtrException(QStringLiteral("DeviceException"), QStringLiteral("phone gone"));
    });
    ASSERT_TRUE(waitUntil([&] { return done == 2; }));
    EXPECT_EQ(list.count(), 0);
}

TEST_F(AppReferralTest, OnlyTheLatestPreparationIsShown)
{
    std::atomic<bool> release{false};
    list.prepareIPhoneAppReferral([&] {
        while (!release) QThread::msleep(5);
        return std::optional<QVariantList>(QVariantList{item(1, "Old")});
    });
    list.prepareIPhoneAppReferral([] { return std::optional<QVariantList>(QVariantList{item(2, "New")}); });
    ASSERT_TRUE(waitUntil([&] { return done == 1; }));
    release = true;
    QDeadlineTimer settle(300);
    while (!settle.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_EQ(done, 1);
    EXPECT_EQ(names(list), QStringList{"New#2"});
}

// The iPhone and BlackBerry producers read the packages and backups the
// readers find on this computer.
TEST_F(AppReferralTest, TheIPhoneAndBlackBerryProducersReadTheirFamiliesFiles)
{
    const QString packages = testenv::makeTempDir(QStringLiteral("packages"));
    const QString key = QString::fromLatin1(iOSAppListBackgrounder::kPackageFoldersDefaultsKey);
    platform::UserDefaults::setValue(key, packages);
    struct Forget { QString key; ~Forget() { platform::UserDefaults::remove(key); } } forget{key};
    auto makeIpa = [&](const QString &path, qint64 id, const QString &name) {
        const QString work = testenv::makeTempDir(QStringLiteral("ipa"));
        testenv::writeFile(work + QStringLiteral("/iTunesMetadata.plist"),
                           fixtures::plistData(QVariantMap{{QStringLiteral("itemId"), id},
                                                           {QStringLiteral("itemName"), name}}, true));
        QDir().mkpath(QFileInfo(path).path());
        fixtures::makeZip(path, work, {QStringLiteral("iTunesMetadata.plist")});
    };
    makeIpa(packages + QStringLiteral("/zeta.ipa"), 284882215, QStringLiteral("zeta"));
    makeIpa(packages + QStringLiteral("/Apps/alpha.ipa"), 310633997, QStringLiteral("Alpha"));
    testenv::writeFile(packages + QStringLiteral("/broken.ipa"), "not a zip");

    list.prepareIPhoneAppReferral(vtrapp::iPhoneAppListProducer());
    ASSERT_TRUE(waitUntil([&] { return done == 1; }, 30000));
    EXPECT_EQ(names(list), (QStringList{"Alpha#310633997", "zeta#284882215"}));

    // No BlackBerry backup: nothing to recommend, and the wizard goes on.
    const QString backups = platform::homeFolder() + QStringLiteral("/Documents/BlackBerry Backups");
    testenv::removeTree(backups);
    list.prepareBlackberryAppReferral(vtrapp::blackberryAppListProducer());
    ASSERT_TRUE(waitUntil([&] { return done == 2; }, 30000));
    EXPECT_EQ(list.count(), 0);

    const QString work = testenv::makeTempDir(QStringLiteral("bbb"));
    fixtures::IpdRecord maps{0, 1, 1, 1, {}};
    for (const char *field : {"RIM_APP_WORLD_ID", "12345", "RIM_APP_WORLD_NAME", "Maps"})
        maps.fields.append(fixtures::ipdText(field));
    testenv::writeFile(work + QStringLiteral("/Databases/Databases.ipd"),
                       fixtures::ipdFile({QStringLiteral("Code Module Group Properties")}, {maps}));
    QDir().mkpath(backups);
    fixtures::makeZip(backups + QStringLiteral("/Backup.bbb"), work, {QStringLiteral("Databases")});
    list.prepareBlackberryAppReferral(vtrapp::blackberryAppListProducer());
    ASSERT_TRUE(waitUntil([&] { return done == 3; }, 30000));
    EXPECT_EQ(names(list), QStringList{"Maps#12345"});
    EXPECT_TRUE(list.shouldDoBlackberryAppReferral());
    testenv::removeTree(backups);
}

// The wizard's recommended-apps pane and the step after the app scan.
TEST(AppReferralPane, TheListFillsThePaneAndAFailedNextStepIsLogged)
{
    WizardHarness h;
    NS_AppController &w = h.wizard();
    QStringList logged;
    LogSetSystemLogSink([&](const QString &m) { logged << m; });
    auto *summaries = dynamic_cast<NS_AppControllerSummaries *>(w.summaries());
    ASSERT_TRUE(summaries);
    h.work->hold = true;
    w.setState(11);
    h.work->throwIn = QStringLiteral("pim");
    summaries->appList().populateAppUI(QVariantList{item("com.example.beta", "beta"), item(qint64(7), "Alpha")});
    EXPECT_EQ(w.appReferralRows(), (QStringList{"Alpha", "beta"}));
    // Entering the next state failed: logged, and no alert.
    EXPECT_EQ(logged.filter(QStringLiteral("Could not prepare app referral: The pim step failed.")).size(), 1);
    EXPECT_TRUE(h.alerts.shown().isEmpty());
    // Each list replaces the last one.
    h.work->throwIn.clear();
    summaries->appList().populateAppUI(QVariantList());
    EXPECT_TRUE(w.appReferralRows().isEmpty());
    LogSetSystemLogSink({});

    // The window description's iTunes action starts the library host, in front.
    w.lauchItunes();
    EXPECT_EQ(h.host.launched, QStringList{QStringLiteral("com.apple.itunes")});
}
