// The Windows Live and summaries seats working on a real wizard controller.
#include "app/NS_AppController.h"
#include "app/NS_AppControllerAppReferral.h"
#include "app/NS_AppControllerLive.h"
#include "app/NS_AppControllerSummaries.h"
#include "TestEnvironment.h"
#include "online/LiveSession.h"
#include "platform/UserDefaults.h"

#include <QTimer>

#include <gtest/gtest.h>

namespace {

class Answers : public AlertPresenter
{
public:
    int runAlert(const AlertRequest &request) override
    {
        shown.append(request);
        return answers.isEmpty() ? request.defaultButton : answers.takeFirst();
    }
    QList<AlertRequest> shown;
    QList<int> answers;
};

class NoHost : public HostEnvironment
{
public:
    QString applicationPath(const QString &) const override { return {}; }
    bool launchApplication(const QString &, bool) override { return false; }
    bool openUrl(const QUrl &) override { return false; }
    void beep() override {}
};

class Manifest : public ManifestInfoSource
{
public:
    explicit Manifest(QVariantMap info) : m_info(std::move(info)) {}
    QVariantMap manifestInfo() const override { return m_info; }

private:
    QVariantMap m_info;
};

class SeatsTest : public ::testing::Test
{
protected:
    SeatsTest()
    {
        AppControllerServices services;
        services.alerts = &alerts;
        services.host = &host;
        services.watchMounts = false;
        services.sceneFadeMs = 0;
        services.terminate = [this] { ++terminations; };
        wizard = std::make_unique<NS_AppController>(services);
        vtrapp::installLiveAndSummaries(*wizard);
    }
    void TearDown() override { platform::UserDefaults::remove(QStringLiteral("forceLiveMax")); }

    Answers alerts;
    NoHost host;
    int terminations = 0;
    std::unique_ptr<NS_AppController> wizard;
};

}  // namespace

TEST_F(SeatsTest, TheLimitAlertIsCriticalAndSkippingUnticksTheKind)
{
    platform::UserDefaults::setValue(QStringLiteral("forceLiveMax"), 1);
    wizard->stowContacts({QVariantMap{{"first_name", "A"}}, QVariantMap{{"first_name", "B"}}}, {});
    NS_AppControllerLiveDriver driver(*wizard);
    driver.checkAndWarnCalendarContactCounts(*wizard);
    ASSERT_EQ(alerts.shown.size(), 1);
    EXPECT_EQ(alerts.shown[0].style, AlertRequest::Style::Critical);
    EXPECT_EQ(alerts.shown[0].messageText, QStringLiteral("Total Contacts Exceeds Windows Live Limit"));
    EXPECT_EQ(alerts.shown[0].defaultButton, 0);
    EXPECT_FALSE(wizard->contactsValue());
    EXPECT_FALSE(wizard->contactsEnabled());
    EXPECT_TRUE(wizard->calendarsValue());

    // A pruned calendar list goes back to the controller.
    wizard->setCalendarsValue(true);
    wizard->stowCalendars({QVariantMap{{"name", "C"},
                                       {"events", QVariantList{QVariantMap{{"start_time", "2001-01-01T10:00:00+0000"}},
                                                               QVariantMap{{"start_time", "2001-01-02T10:00:00+0000"}}}}}});
    alerts.answers = {2};
    driver.checkAndWarnCalendarContactCounts(*wizard);
    ASSERT_EQ(wizard->calendars().size(), 1);
    EXPECT_EQ(wizard->calendars()[0].toMap().value("events").toList().size(), 1);
}

TEST_F(SeatsTest, SummariesComeFromTheControllersChoicesAndCounts)
{
    wizard->setManifestSource(NS_AppController::ManifestKind::Contacts,
                              std::make_shared<Manifest>(QVariantMap{{"contact_cnt", 120}, {"title", "Contacts"}}));
    wizard->setManifestSource(NS_AppController::ManifestKind::Events,
                              std::make_shared<Manifest>(QVariantMap{{"event_cnt", 40},
                                                                     {"title", "Events"},
                                                                     {"calendar_cnt", 3},
                                                                     {"calendar_title", "Calendars"}}));
    WizardSummaries *summaries = wizard->summaries();
    ASSERT_TRUE(summaries);
    wizard->setMusicValue(false);
    summaries->prepopulateSummary(*wizard);
    EXPECT_EQ(wizard->appsSummary(), QStringLiteral("Skipping Apps"));
    EXPECT_EQ(wizard->musicSummary(), QStringLiteral("Skipping Music"));
    EXPECT_EQ(wizard->contactsSummary(), QStringLiteral("Contacts"));

    wizard->setNumConSuccess(118);
    wizard->setNumCalSuccess(3);
    wizard->setNumEvSuccess(40);
    wizard->setPhotosSummary(QStringLiteral("12 Photos"));
    summaries->postpopulateSummary(*wizard);
    EXPECT_EQ(wizard->contactsSummary(), QStringLiteral("118 of 120 Contacts"));
    EXPECT_EQ(wizard->calendarSummary(), QStringLiteral("40 Events in 3 Calendars"));
    EXPECT_EQ(wizard->appsSummary(), QStringLiteral("Skipped Apps"));
    EXPECT_EQ(wizard->musicSummary(), QStringLiteral("Skipped Music"));
    EXPECT_EQ(wizard->photosSummary(), QStringLiteral("12 Photos"));

    summaries->buildCheckboxTitles(*wizard, false);
    EXPECT_EQ(wizard->checkboxTitles().value("videosInfo"),
              QStringLiteral("Videos - cannot transfer videos for this device"));
    EXPECT_FALSE(summaries->shouldDoAndroidAppReferral());
    static_cast<NS_AppControllerSummaries *>(summaries)->appList().populateAppUI(
        QVariantList{QVariantMap{{"itemId", 1}, {"itemName", "Maps"}}});
    EXPECT_EQ(summaries->appListCount(), 1);
    EXPECT_TRUE(summaries->shouldDoIPhoneAppReferral());
}

TEST_F(SeatsTest, AClosedLoginEndsInBothKindsSkipped)
{
    class Closed : public LiveTokenProvider
    {
    public:
        void requestAccessToken(Completion done) override
        {
            QTimer::singleShot(0, [done] { done(QString()); });
        }
    };
    wizard->stowContacts({QVariantMap{{"first_name", "A"}}}, {});
    auto *driver = new NS_AppControllerLiveDriver(*wizard);
    wizard->setLiveUploadDriver(std::unique_ptr<LiveUploadDriver>(driver));
    driver->upload().setSessionFactory([](QWidget *window) {
        auto session = std::make_unique<LiveSession>(window);
        session->setTokenProvider(std::make_unique<Closed>());
        return session;
    });
    driver->startNextLiveUpload(*wizard);
    ASSERT_TRUE(testenv::waitUntil([&] { return wizard->livePIMState() == 2; }));
    wizard->summaries()->postpopulateSummary(*wizard);
    EXPECT_EQ(wizard->contactsSummary(), QStringLiteral("Skipped Contacts"));
    EXPECT_EQ(wizard->calendarSummary(), QStringLiteral("Skipped Calendars"));
}

TEST_F(SeatsTest, TheAndroidListWithoutAPhoneIsEmptyAndTheWizardMovesOn)
{
    auto *summaries = static_cast<NS_AppControllerSummaries *>(wizard->summaries());
    int changes = 0;
    QObject::connect(wizard.get(), &NS_AppController::currentStateChanged, [&] { ++changes; });
    summaries->appList().prepareAndroidAppReferral(vtrapp::androidAppListProducer(*wizard));
    ASSERT_TRUE(testenv::waitUntil([&] { return changes > 0; }));
    EXPECT_EQ(summaries->appListCount(), 0);
    EXPECT_EQ(wizard->connectedMobileDevice(), nullptr);
}
