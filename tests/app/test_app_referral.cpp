// The app list: from app items to sorted app-search objects, per family.
#include "TestEnvironment.h"
#include "app/NS_AppControllerAppReferral.h"
#include "foundation/Log.h"
#include "foundation/MigrationStatus.h"
#include "platform/VtrException.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
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
