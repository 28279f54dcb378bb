#include "support/WizardHarness.h"

#include "app/BackgroundJob.h"

#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

TEST(Status, OneReportDrivesItsKindsBarTheOverallBarAndTheCaption)
{
    struct Case
    {
        const QString *phase;
        double percent;
        double kindProgress;  // -1: not looked at
        bool kindIndeterminate;
        double overall;
        const char *caption;
    };
    const Case cases[] = {
        {&vtrphase::Contacts, 0.05, 0.05, true, 0.01, "Copying Contacts..."},
        {&vtrphase::Events, 0.5, 0.5, false, 0.3, "Copying Calendars and Events..."},
        {&vtrphase::Music, 1.0, 1.0, false, 0.6, "Copying Music..."},
        {&vtrphase::Photos, 0.0, 0.0, false, 0.6, "Copying Photos..."},
        {&vtrphase::Videos, 0.5, 0.5, false, 0.9, "Copying Videos..."},
        {&vtrphase::Apps, 0.37, 0.37, false, 0.0, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(qPrintable(*c.phase));
        WizardHarness h;
        NS_AppController &w = h.wizard();
        w.setStatusNow(QString(), *c.phase, c.percent);
        const double kind = *c.phase == vtrphase::Contacts ? w.contactsProgress()
                            : *c.phase == vtrphase::Events ? w.calendarProgress()
                            : *c.phase == vtrphase::Music  ? w.musicProgress()
                            : *c.phase == vtrphase::Photos ? w.photosProgress()
                            : *c.phase == vtrphase::Videos ? w.videosProgress()
                                                           : w.appsProgress();
        EXPECT_DOUBLE_EQ(kind, c.kindProgress);
        const bool indeterminate = *c.phase == vtrphase::Contacts ? w.contactsIndeterminate() : false;
        EXPECT_EQ(indeterminate, c.kindIndeterminate && *c.phase == vtrphase::Contacts);
        EXPECT_NEAR(w.singleProgress(), c.overall, 1e-6);
        EXPECT_EQ(w.singleProgressText(), QString::fromLatin1(c.caption));
        EXPECT_EQ(w.singleIndeterminate(), w.singleProgress() < 0.1);
    }
}

TEST(Status, TheOverallBarNeverMovesBack)
{
    WizardHarness h;
    h.wizard().setStatusNow(QString(), vtrphase::Videos, 0.5);
    h.wizard().setStatusNow(QString(), vtrphase::Contacts, 1.0);
    EXPECT_NEAR(h.wizard().singleProgress(), 0.9, 1e-6);
}

TEST(Status, StartAndEndMarkersAndUnknownValues)
{
    WizardHarness h;
    NS_AppController &w = h.wizard();
    w.setStatusNow(QString(), vtrphase::Music, 0.4);
    w.setStatusNow(QString(), vtrphase::Music, -2.0);
    EXPECT_TRUE(w.musicIndeterminate());
    EXPECT_DOUBLE_EQ(w.musicProgress(), 0.4);
    w.setStatusNow(QString(), vtrphase::Music, -1.0);
    EXPECT_FALSE(w.musicIndeterminate());
    EXPECT_DOUBLE_EQ(w.musicProgress(), 0.4);
    // Phases without bars and values out of range change no bar.
    const double overall = w.singleProgress();
    w.setStatusNow(QString(), vtrphase::Tasks, -2.0);
    w.setStatusNow(QString(), vtrphase::Videos, 1.5);
    w.setStatusNow(QString(), QStringLiteral("No Such Phase"), 0.5);
    EXPECT_DOUBLE_EQ(w.videosProgress(), 0.0);
    EXPECT_DOUBLE_EQ(w.singleProgress(), overall);
}

TEST(Status, ReportsWithinATenthOfASecondAreDroppedUnlessDone)
{
    WizardHarness h;
    NS_AppController &w = h.wizard();
    w.setStatus(QString(), vtrphase::Photos, 0.2);
    w.setStatus(QString(), vtrphase::Photos, 0.3);  // too soon
    EXPECT_DOUBLE_EQ(w.photosProgress(), 0.2);
    w.setStatus(QString(), vtrphase::Music, 0.995);  // done counts, whatever the phase
    EXPECT_DOUBLE_EQ(w.musicProgress(), 0.995);
    QThread::msleep(120);
    w.setStatus(QString(), vtrphase::Photos, 0.4);
    EXPECT_DOUBLE_EQ(w.photosProgress(), 0.4);
}

TEST(Status, SummariesQuoteTheChosenKindsManifestAndMarkDone)
{
    WizardHarness h;
    NS_AppController &w = h.wizard();
    w.setManifestSource(NS_AppController::ManifestKind::Music,
                        std::make_shared<FixedManifest>(QVariantMap{{QStringLiteral("song_cnt"), 12},
                                                                    {QStringLiteral("title"), QStringLiteral("Songs")},
                                                                    {QStringLiteral("playlist_cnt"), 2},
                                                                    {QStringLiteral("playlist_title"), QStringLiteral("Playlists")}}));
    w.setStatusNow(QString(), vtrphase::Music, 0.5);
    EXPECT_EQ(w.musicSummary(), QStringLiteral("12 Songs and 2 Playlists"));
    EXPECT_TRUE(w.musicSummaryDone().isEmpty());
    // The end of a phase whose data were only read says nothing yet.
    w.setStatusNow(QString(), vtrphase::Music, 1.0);
    EXPECT_TRUE(w.musicSummaryDone().isEmpty());
    w.setKindResult(vtrphase::Music, NS_AppController::Outcome::Written);
    w.setStatusNow(QString(), vtrphase::Music, 1.0);
    EXPECT_EQ(w.musicSummaryDone(), QStringLiteral(" - Done"));
    // A chosen kind without a reader keeps its line; an unchosen kind is left alone.
    w.setContactsSummary(QStringLiteral("Contacts"));
    w.setKindResult(vtrphase::Contacts, NS_AppController::Outcome::Written);
    w.setStatusNow(QString(), vtrphase::Contacts, 1.0);
    EXPECT_EQ(w.contactsSummary(), QStringLiteral("Contacts"));
    EXPECT_EQ(w.contactsSummaryDone(), QStringLiteral(" - Done"));
    w.setManifestSource(NS_AppController::ManifestKind::Events, std::make_shared<FixedManifest>(QVariantMap()));
    w.setStatusNow(QString(), vtrphase::Events, 0.5);
    EXPECT_EQ(w.calendarSummary(), QStringLiteral("  in  "));
    w.setPhotosValue(false);
    w.setStatusNow(QString(), vtrphase::Photos, 1.0);
    EXPECT_TRUE(w.photosSummary().isNull());
}

// Only what the old phone held and did not get there makes the last page say
// that not everything was moved: not a kind with nothing in it, whatever its
// line says, but a kind that could not be read at all, and songs the phone
// lists of which none could be read.
TEST(Status, OnlyWhatThePhoneHeldAndDidNotArriveStaysBehind)
{
    WizardHarness h;
    NS_AppController &w = h.wizard();
    w.setContactsValue(false);
    w.setManifestSource(NS_AppController::ManifestKind::Music,
                        std::make_shared<FixedManifest>(QVariantMap{{QStringLiteral("song_cnt"), 0}}));
    w.setKindResult(vtrphase::Music, NS_AppController::Outcome::NotMoved, QStringLiteral("the folder is a file"));
    EXPECT_FALSE(w.somethingStayedBehind());
    w.setKindResult(vtrphase::Music, NS_AppController::Outcome::Failed, QStringLiteral("the phone is locked"), true);
    EXPECT_TRUE(w.somethingStayedBehind());
    w.setManifestSource(NS_AppController::ManifestKind::Music,
                        std::make_shared<FixedManifest>(QVariantMap{{QStringLiteral("song_cnt"), 0},
                                                                    {QStringLiteral("not_moved_cnt"), 2}}));
    w.setKindResult(vtrphase::Music, NS_AppController::Outcome::NotMoved, QStringLiteral("2 could not be read"));
    EXPECT_TRUE(w.somethingStayedBehind());
}

TEST(Status, TheEstimateCountsUnfinishedChosenKinds)
{
    WizardHarness h;
    NS_AppController &w = h.wizard();
    w.setAppsEnabled(true);
    w.setAppsValue(true);
    w.updateTimeEstimate();
    EXPECT_EQ(w.timeEstimateText(), QStringLiteral("Estimated time remaining: 6 minutes."));
    w.setStatusNow(QString(), vtrphase::Videos, 1.0);
    EXPECT_EQ(w.timeEstimateText(), QStringLiteral("Estimated time remaining: 5 minutes."));
    for (auto set : {&NS_AppController::setAppsValue, &NS_AppController::setContactsValue,
                     &NS_AppController::setCalendarsValue, &NS_AppController::setMusicValue,
                     &NS_AppController::setPhotosValue, &NS_AppController::setVideosValue})
        (w.*set)(false);
    w.setTasksValue(true);
    w.setNotesValue(true);
    w.updateTimeEstimate();
    EXPECT_EQ(w.timeEstimateText(), QStringLiteral("Estimated time remaining: 0 minutes."));
    w.setMusicValue(true);
    w.updateTimeEstimate();
    EXPECT_EQ(w.timeEstimateText(), QStringLiteral("Estimated time remaining: 1 minute."));
}

TEST(Status, WithAPlanTheOverallBarAndTheEstimateFollowTheWork)
{
    WizardHarness h;
    NS_AppController &w = h.wizard();
    double now = 0;
    NS_AppController::setWorkClockForTesting([&now] { return now; });
    const std::shared_ptr<void> restore(nullptr, [](void *) { NS_AppController::setWorkClockForTesting({}); });
    // A read phase leaves its bar full; the plan starts it afresh.
    w.setStatusNow(QString(), vtrphase::Music, 1.0);
    w.setSingleProgress(0.0);
    // Little music, many photos, no videos planned though chosen.
    w.setWorkPlan({{vtrphase::Music, 10.0}, {vtrphase::Photos, 290.0}});
    EXPECT_DOUBLE_EQ(w.musicProgress(), 0.0);
    EXPECT_EQ(w.timeEstimateText(), QStringLiteral("Estimated time remaining: about 5 minutes."));
    // Until time has passed over work done the model speaks; then the rate
    // measured from the plan's first report, rounded up.
    const struct
    {
        double at;
        const QString *phase;
        double percent, overall;
        const char *estimate;
    } steps[] = {
        // Work outside the plan before it (the one-step road reads the
        // contacts first) starts no clock: the rate is the plan's own.
        {10, &vtrphase::Contacts, 0.5, 0.0, "about 5 minutes"},
        {30, &vtrphase::Music, 0.0, 0.0, "about 5 minutes"},
        {30, &vtrphase::Music, 1.0, 10.0 / 300.0, "about 5 minutes"},
        {40, &vtrphase::Photos, 0.5, 155.0 / 300.0, "about 10 seconds"},
        // Outside the plan: the bar stays where the work is.
        {40, &vtrphase::Videos, 0.9, 155.0 / 300.0, "about 10 seconds"},
        {50, &vtrphase::Photos, 0.75, 227.5 / 300.0, "about 7 seconds"},
        {50, &vtrphase::Photos, 1.0, 1.0, "about 0 seconds"},
    };
    for (const auto &step : steps) {
        SCOPED_TRACE(qPrintable(*step.phase + QString::number(step.percent)));
        now = step.at;
        w.setStatusNow(QString(), *step.phase, step.percent);
        EXPECT_NEAR(w.singleProgress(), step.overall, 1e-9);
        EXPECT_EQ(w.timeEstimateText(), QStringLiteral("Estimated time remaining: %1.").arg(QLatin1String(step.estimate)));
    }
    // Slower than the model: the measured rate says so.
    w.setWorkPlan({{vtrphase::Music, 60.0}});
    now = 100;
    w.setStatusNow(QString(), vtrphase::Music, 0.0);
    EXPECT_EQ(w.timeEstimateText(), QStringLiteral("Estimated time remaining: about 1 minute."));
    now = 400;
    w.setStatusNow(QString(), vtrphase::Music, 0.5);
    EXPECT_EQ(w.timeEstimateText(), QStringLiteral("Estimated time remaining: about 5 minutes."));
    // Work that remains never reads as none, however little.
    w.setWorkPlan({{vtrphase::Music, 0.2}});
    EXPECT_EQ(w.timeEstimateText(), QStringLiteral("Estimated time remaining: about 1 second."));
    w.setStatusNow(QString(), vtrphase::Music, 1.0);
    EXPECT_EQ(w.timeEstimateText(), QStringLiteral("Estimated time remaining: about 0 seconds."));
    // The seconds of the work follow the duration texts' rates.
    EXPECT_DOUBLE_EQ(NS_AppController::secondsForWork(5242880 * 10, 16), 12.0);
    EXPECT_DOUBLE_EQ(NS_AppController::secondsForWork(-5, 0), 0.0);
    // A plan of nothing leaves the bar where it is.
    w.setSingleProgress(0.5);
    w.setWorkPlan({{vtrphase::Music, 0.0}});
    w.setStatusNow(QString(), vtrphase::Music, 0.5);
    EXPECT_DOUBLE_EQ(w.singleProgress(), 0.5);
}

TEST(Status, DurationTexts)
{
    struct Case { qint64 bytes; int files; const char *text; };
    const qint64 mib5 = 5242880;
    const Case cases[] = {
        {0, 0, "about 0 seconds"},
        {mib5, 3, "about 1 second"},
        {mib5, 4, "about 2 seconds"},
        {59 * mib5, 0, "about 59 seconds"},
        {60 * mib5, 0, "about 1 minute"},
        {89 * mib5, 0, "about 1 minute"},
        {90 * mib5, 0, "about 2 minutes"},
        {3600 * mib5, 0, "about 1 hour 0 minutes"},
        {7170 * mib5, 0, "about 2 hours 0 minutes"},
        {9000 * mib5, 0, "about 2 hours 30 minutes"},
        {0, -100, "about -12 seconds"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(NS_AppController::stringForBytesToCopy(c.bytes, c.files), QString::fromLatin1(c.text))
            << c.bytes << " " << c.files;
}

TEST(Status, ReportsFromSeveralThreadsAreAppliedOnTheMainThreadInOrder)
{
    WizardHarness h;
    NS_AppController &w = h.wizard();
    const QString *phases[] = {&vtrphase::Contacts, &vtrphase::Events, &vtrphase::Music, &vtrphase::Photos};
    std::atomic<int> finished{0};
    std::vector<std::thread> threads;
    for (const QString *phase : phases) {
        threads.emplace_back([&w, phase, &finished] {
            for (int i = 0; i <= 100; ++i) w.setStatusNow(QString(), *phase, i / 100.0);
            w.setStatus(QString(), *phase, 0.5);  // dropped or applied, never harmful
            w.setStatus(QString(), *phase, 1.0);
            ++finished;
        });
    }
    ASSERT_TRUE(h.waitFor([&] { return finished.load() == 4; }, 20000));
    for (std::thread &t : threads) t.join();
    EXPECT_DOUBLE_EQ(w.contactsProgress(), 1.0);
    EXPECT_DOUBLE_EQ(w.calendarProgress(), 1.0);
    EXPECT_DOUBLE_EQ(w.musicProgress(), 1.0);
    EXPECT_DOUBLE_EQ(w.photosProgress(), 1.0);
    EXPECT_NEAR(w.singleProgress(), 0.8, 1e-6);
}

}  // namespace

namespace {

TEST(Status, AJobWaitingForTheMainThreadDoesNotHoldUpTheEnd)
{
    auto h = std::make_unique<WizardHarness>();
    NS_AppController *w = &h->wizard();
    std::atomic<bool> started{false};
    auto alertAnswer = std::make_shared<std::atomic<int>>(-1);
    // A job that reports and then asks, while the main thread never returns
    // to its event loop: the controller goes away under it and joins it.
    w->runJob(new FunctionJob([w, &started, alertAnswer](FunctionJob &) {
        started = true;
        for (int i = 0; i < 50; ++i) w->setStatusNow(QString(), vtrphase::Music, i / 50.0);
        *alertAnswer = w->showAlertOnMainThread(QStringLiteral("Backing up failed."),
                                                VtrException(QStringLiteral("E"), QStringLiteral("reason")));
        return BackgroundJob::successResult();
    }));
    while (!started.load()) QThread::msleep(1);
    QThread::msleep(20);
    h.reset();
    EXPECT_EQ(alertAnswer->load(), 0);  // going away answers "Quit"
}

TEST(Status, WorkStartedOnTheMainThreadIsWaitedForWhenClosingBegins)
{
    WizardHarness h;
    NS_AppController &w = h.wizard();
    std::atomic<bool> workEnded{false};
    std::atomic<bool> sawTheEnd{false};
    std::atomic<bool> returned{false};
    std::thread job([&] {
        // The work writes into this thread's frame after closing began.
        bool ran = w.runOnMainAndWait([&] {
            w.beginClosing();
            QThread::msleep(50);
            workEnded = true;
        });
        sawTheEnd = workEnded.load() && ran;
        returned = true;
    });
    ASSERT_TRUE(h.waitFor([&] { return returned.load(); }));
    job.join();
    EXPECT_TRUE(sawTheEnd.load());
    // After closing began nothing more runs, and nobody waits.
    bool ran = true;
    std::thread late([&] { ran = w.runOnMainAndWait([] {}); });
    late.join();
    EXPECT_FALSE(ran);
}

TEST(Status, AJobsAlertIsAnsweredOnTheMainThread)
{
    struct Case { const char *button; int result; };
    for (const Case c : {Case{"OK", 1}, Case{"Quit", 0}}) {
        WizardHarness h;
        h.alerts.answer(QString::fromLatin1(c.button));
        std::atomic<int> answer{-1};
        std::thread job([&] {
            answer = h.wizard().showAlertOnMainThread(
                QStringLiteral("An error occurred while backing up music."),
                VtrException(QStringLiteral("E"), QStringLiteral("%@ is shown as it is")));
        });
        ASSERT_TRUE(h.waitFor([&] { return answer.load() >= 0; }));
        job.join();
        EXPECT_EQ(answer.load(), c.result);
        ASSERT_EQ(h.alerts.shown().size(), 1);
        EXPECT_EQ(h.alerts.shown().first().informativeText, QStringLiteral("%@ is shown as it is"));
        EXPECT_EQ(h.alerts.shown().first().buttons, (QStringList{QStringLiteral("OK"), QStringLiteral("Quit")}));
    }
}

}  // namespace
