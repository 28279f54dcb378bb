#include "support/WizardHarness.h"

#include "TestEnvironment.h"

#include "app/Scenes.h"
#include "devices/phone/MobileDevice.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>

#include <sys/stat.h>

#include <gtest/gtest.h>

namespace {

using States = QList<int>;

TEST(Wizard, FreshControllerHasTheDefaultChoicesAndOnlyTheBottomControls)
{
    WizardHarness h;
    NS_AppController &w = h.wizard();
    for (bool on : {w.calendarsEnabled(), w.calendarsValue(), w.contactsEnabled(), w.contactsValue(), w.musicEnabled(),
                    w.musicValue(), w.photosEnabled(), w.photosValue(), w.videosEnabled(), w.videosValue()})
        EXPECT_TRUE(on);
    for (bool off : {w.notesEnabled(), w.notesValue(), w.tasksEnabled(), w.tasksValue(), w.appsEnabled(), w.appsValue()})
        EXPECT_FALSE(off);
    EXPECT_TRUE(w.appsHidden());
    for (QWidget *pane : {w.progressView(), w.singleProgressView(), w.chooseDataView(), w.transferSummaryView(),
                          w.endButtonsView(), w.appReferralView()})
        EXPECT_TRUE(pane->isHidden());
    EXPECT_FALSE(w.bottomControlsView()->isHidden());
    // The controls lie over the scenes.
    const QObjectList layers = w.view()->children();
    EXPECT_GT(layers.indexOf(w.controlView()), layers.indexOf(w.scenesViewController()->view()));
    EXPECT_TRUE(w.newDevice() && w.newDevice()->isWindowsPhone7Device());
}

TEST(Wizard, BeginSetupShowsTheIntroThenAdvancesToTheWelcome)
{
    WizardHarness h;
    h.wizard().beginSetup();
    EXPECT_EQ(h.wizard().currentState(), 0);
    EXPECT_EQ(h.wizard().buttonSet(), NS_AppController::kButtonsNone);
    ASSERT_TRUE(h.waitFor([&] { return h.wizard().currentState() == 1; }));
    EXPECT_EQ(h.visited, (States{0, 1}));
    EXPECT_EQ(h.work->calls, QStringList{QStringLiteral("welcomeChecks")});
}

struct FamilyRun
{
    const char *name;
    std::function<bool(WizardHarness &)> plug;
    std::function<void(NS_AppController &)> choose;
    States expected;
};

TEST(Wizard, EachFamilyWalksItsRoadThroughTheStateTable)
{
    const FamilyRun runs[] = {
        {"Android, default choices", &WizardHarness::plugAndroid, {},
         {2, 6, 7, 8, 9, 10, 12, 13, 14, 16, 17, 18, 19, 20, 22}},
        {"iPhone, only music", &WizardHarness::plugIPhone,
         [](NS_AppController &w) {
             w.setContactsValue(false);
             w.setCalendarsValue(false);
             w.setPhotosValue(false);
             w.setVideosValue(false);
         },
         {2, 3, 9, 10, 13, 14, 16, 19, 20, 22}},
        {"BlackBerry, contacts and calendars only", &WizardHarness::plugBlackBerry,
         [](NS_AppController &w) {
             w.setMusicValue(false);
             w.setPhotosValue(false);
             w.setVideosValue(false);
         },
         {2, 4, 5, 9, 10, 12, 14, 16, 17, 18, 20, 22}},
    };
    for (const FamilyRun &run : runs) {
        SCOPED_TRACE(run.name);
        WizardHarness h;
        h.alerts.answer(QStringLiteral("Push app to phone"));
        h.alerts.answer(QStringLiteral("Continue"));
        h.alerts.answer(QStringLiteral("Continue"));  // the BlackBerry software is missing
        if (run.choose) run.choose(h.wizard());
        ASSERT_TRUE(h.walk([&] { return run.plug(h); }));
        EXPECT_TRUE(h.terminated);
        EXPECT_EQ(h.visited, run.expected);
    }
}

TEST(Wizard, TheFinalStateOffersQuitAndNoCancel)
{
    WizardHarness h;
    h.wizard().setContactsValue(true);
    ASSERT_TRUE(h.walk([&] { return h.plugIPhone(); }, NS_AppController::kStateFinalSummary));
    NS_AppController &w = h.wizard();
    EXPECT_EQ(w.buttonSet(), NS_AppController::kButtonsQuit);
    EXPECT_TRUE(w.cancelButton()->isHidden());
    EXPECT_FALSE(w.transferSummaryView()->isHidden());
    // No app list: the way to it stays hidden.
    EXPECT_TRUE(w.endButtonsView()->isHidden());
}

TEST(Wizard, NothingTickedStaysInTheChoiceWithAnAlert)
{
    WizardHarness h;
    ASSERT_TRUE(h.walk([&] { return h.plugIPhone(); }, NS_AppController::kStateChooseData));
    NS_AppController &w = h.wizard();
    for (auto set : {&NS_AppController::setContactsValue, &NS_AppController::setCalendarsValue,
                     &NS_AppController::setMusicValue, &NS_AppController::setPhotosValue, &NS_AppController::setVideosValue})
        (w.*set)(false);
    EXPECT_EQ(w.numDataTypesSelected(), 0);
    w.nextButtonHit();
    EXPECT_EQ(w.currentState(), NS_AppController::kStateChooseData);
    ASSERT_FALSE(h.alerts.shown().isEmpty());
    EXPECT_EQ(h.alerts.shown().last().messageText, QStringLiteral("You must select something to transfer to your new device."));
}

TEST(Wizard, LeavingTheConnectStepWithoutAPhoneStaysThere)
{
    WizardHarness h;
    h.wizard().setState(NS_AppController::kStateGetStarted);
    h.wizard().gotoNextState();
    EXPECT_EQ(h.wizard().currentState(), NS_AppController::kStateGetStarted);
    EXPECT_TRUE(h.alerts.shown().isEmpty());
}

TEST(Wizard, ASecondLeavingOfTheConnectStepDuringItsAlertDoesNothing)
{
    WizardHarness h;
    h.host.installed.clear();  // no music library: leaving asks first
    h.alerts.setWhileOpen([&](const AlertRequest &) {
        h.alerts.setWhileOpen({});
        h.wizard().gotoNextState();  // Next pressed again, or the phone's arrival
        EXPECT_EQ(h.wizard().currentState(), NS_AppController::kStateGetStarted);
    });
    h.alerts.answer(QStringLiteral("Continue"));
    h.wizard().setState(NS_AppController::kStateGetStarted);
    ASSERT_TRUE(h.plugIPhone());
    ASSERT_TRUE(h.waitFor([&] { return h.wizard().currentState() == 3; }));
    EXPECT_EQ(h.alerts.titles(), QStringList{QStringLiteral("iTunes was not found.")});
    EXPECT_EQ(h.visited, (States{2, 3}));
}

TEST(Wizard, QuitInTheMissingSoftwareAlertEndsTheRun)
{
    WizardHarness h;
    h.alerts.answer(QStringLiteral("Quit"));
    h.wizard().setState(NS_AppController::kStateGetStarted);
    ASSERT_TRUE(h.plugBlackBerry());
    ASSERT_TRUE(h.waitFor([&] { return h.terminated; }));
    EXPECT_EQ(h.alerts.titles(), QStringList{QStringLiteral("BlackBerry Desktop Software was not found.")});
    EXPECT_EQ(h.wizard().currentState(), NS_AppController::kStateGetStarted);
}

TEST(Wizard, AStateEnteredInsideAnotherStatesWorkKeepsItsButtonsAndScene)
{
    WizardHarness h;
    h.work->synchronous = true;
    h.wizard().setMusicValue(false);
    h.wizard().setPhotosValue(false);
    h.wizard().setVideosValue(false);
    h.wizard().setState(12);  // the PIM job finishes at once: 14 follows
    EXPECT_EQ(h.wizard().currentState(), 14);
    EXPECT_EQ(h.wizard().buttonSet(), NS_AppController::kButtonsNext);
    EXPECT_FALSE(h.wizard().nextButton()->isHidden());
    EXPECT_FALSE(h.wizard().transferSummaryView()->isHidden());
    EXPECT_EQ(h.wizard().scenesViewController()->templateController()->header(), QStringLiteral("Ready to move"));
    EXPECT_EQ(h.visited, (States{14}));
}

TEST(Wizard, DelayedMessagesOfAnotherStateAndDuringAlertsWait)
{
    WizardHarness h;
    NS_AppController &w = h.wizard();
    // A delayed advance of state 10 that fires in state 14 does nothing.
    w.setState(10);
    w.setState(14);
    h.spin(60);
    EXPECT_EQ(w.currentState(), 14);
    EXPECT_EQ(w.pendingPerformCount(), 0);

    // A message due while an alert is open runs after it has closed.
    int ran = 0;
    w.performAfterDelay(QStringLiteral("probe"), 0, [&] { ++ran; });
    h.alerts.setWhileOpen([&](const AlertRequest &) {
        h.spin(40);
        EXPECT_EQ(ran, 0);
    });
    h.alerts.answer(QStringLiteral("Continue"));
    w.cancelButtonHit();
    h.alerts.setWhileOpen({});
    EXPECT_EQ(ran, 0);
    EXPECT_TRUE(h.waitFor([&] { return ran == 1; }));
}

TEST(Wizard, AnExceptionInAStateIsShownAndTheWizardGoesOn)
{
    WizardHarness h;
    h.work->throwIn = QStringLiteral("backup");
    h.wizard().setState(13);
    ASSERT_EQ(h.alerts.shown().size(), 1);
    EXPECT_EQ(h.alerts.shown().first().informativeText, QStringLiteral("The backup step failed."));
    EXPECT_FALSE(h.terminated);
    h.wizard().setState(14);
    EXPECT_EQ(h.wizard().currentState(), 14);
}

TEST(Wizard, ClosingTheWindowAsksBeforeTheEndAndQuitsAfterIt)
{
    struct Case { int state; const char *answer; bool closes; int alerts; };
    const Case cases[] = {{9, "Continue", false, 1}, {9, "Quit", true, 1}, {20, nullptr, true, 0}};
    for (const Case &c : cases) {
        WizardHarness h;
        h.wizard().setState(c.state);
        if (c.answer) h.alerts.answer(QString::fromLatin1(c.answer));
        EXPECT_EQ(h.wizard().windowShouldClose(), c.closes) << c.state << c.answer;
        EXPECT_EQ(h.terminated, c.closes);
        EXPECT_EQ(h.alerts.shown().size(), c.alerts);
    }
}

TEST(Wizard, PhoneRemovalDependsOnTheState)
{
    struct Case { int state; int after; bool fatal; };
    const Case cases[] = {{4, 2, false}, {9, 9, false}, {12, 12, true}, {14, 14, false}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.state);
        WizardHarness h;
        h.work->hold = true;
        ASSERT_TRUE(h.plugBlackBerry());
        h.wizard().setState(c.state);
        h.phones.unplug(h.lastSyspath());
        ASSERT_TRUE(h.waitFor([&] { return !h.wizard().isOldDeviceConnected(); }));
        h.spin(20);
        EXPECT_EQ(h.terminated, c.fatal);
        if (!c.fatal) {
            EXPECT_EQ(h.wizard().currentState(), c.after);
        }
        if (c.state == 9) {
            EXPECT_EQ(h.wizard().buttonSet(), NS_AppController::kButtonsNextDisabled);
        }
        // The alert about the removal is shown once, though it is asked for twice.
        EXPECT_EQ(h.alerts.titles().count(QStringLiteral("Your old device was disconnected before the backup was finished.")),
                  c.fatal ? 1 : 0);
    }
}

TEST(Wizard, ASecondPhoneIsIgnoredWhileOneIsHeld)
{
    WizardHarness h;
    ASSERT_TRUE(h.plugBlackBerry());
    const std::shared_ptr<MobileDevice> first = h.wizard().oldDevice();
    h.phones.plug(1452, 4752, QStringLiteral("iPhone"));
    h.spin(30);
    EXPECT_EQ(h.wizard().oldDevice(), first);
}

TEST(Wizard, SkippingTheCompanionAppDropsContactsCalendarsAndApps)
{
    WizardHarness h;
    h.alerts.answer(QStringLiteral("Skip this step"));
    ASSERT_TRUE(h.walk([&] { return h.plugAndroid(); }, NS_AppController::kStateChooseData));
    NS_AppController &w = h.wizard();
    EXPECT_FALSE(w.contactsEnabled() || w.contactsValue() || w.calendarsEnabled() || w.calendarsValue() ||
                 w.appsEnabled());
    EXPECT_EQ(h.companion->pushes.load(), 0);
    // With nothing left for the app to gather, state 8 offered Next without asking the phone.
    EXPECT_EQ(h.companion->polls.load(), 0);
}

TEST(Wizard, TheCompanionPollAsksAgainUntilTheAppIsDone)
{
    WizardHarness h;
    h.companion->doneResult = false;
    h.alerts.answer(QStringLiteral("Push app to phone"));
    h.alerts.answer(QStringLiteral("Continue"));
    ASSERT_TRUE(h.walk([&] { return h.plugAndroid(); }, 8));
    ASSERT_TRUE(h.waitFor([&] { return h.companion->polls.load() >= 2; }));
    EXPECT_EQ(h.wizard().buttonSet(), NS_AppController::kButtonsNextDisabled);
    h.companion->doneResult = true;
    EXPECT_TRUE(h.waitFor([&] { return h.wizard().buttonSet() == NS_AppController::kButtonsNext; }));
}

TEST(Wizard, TransitionTableEdges)
{
    WizardHarness h;
    NS_AppController &w = h.wizard();
    for (int bad : {22, 23, -1}) EXPECT_THROW(w.nextStateForState(bad), VtrException) << bad;
    EXPECT_THROW(w.nextStateForState(2), VtrException);  // no family yet
    // Only contacts and calendars: the upload ends the road.
    w.setMusicValue(false);
    w.setPhotosValue(false);
    w.setVideosValue(false);
    EXPECT_EQ(w.nextStateForState(18), 20);
    EXPECT_EQ(w.nextStateForState(12), 14);
    // Apps ticked but no referral wanted: 14 goes to 16.
    w.setAppsEnabled(true);
    w.setAppsValue(true);
    EXPECT_EQ(w.nextStateForState(10), 11);
    EXPECT_EQ(w.nextStateForState(14), 16);
    // Tasks and notes never decide.
    w.setContactsValue(false);
    w.setCalendarsValue(false);
    w.setTasksValue(true);
    EXPECT_EQ(w.nextStateForState(16), 20);
}

TEST(Wizard, OneKindAloneDecidesEveryTransition)
{
    // From states 10, 11, 12, 16 and 18, with exactly one kind chosen.
    struct Case
    {
        const char *kind;
        int from10, from11, from12, from16, from18;
    };
    const Case cases[] = {
        {"contacts", 12, 12, 14, 17, 20}, {"calendars", 12, 12, 14, 17, 20}, {"music", 13, 13, 13, 19, 19},
        {"photos", 13, 13, 13, 19, 19},   {"videos", 13, 13, 13, 19, 19},    {"apps", 11, 14, 14, 20, 20},
        {"tasks", 14, 14, 14, 20, 20},    {"notes", 14, 14, 14, 20, 20},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.kind);
        WizardHarness h;
        NS_AppController &w = h.wizard();
        const QString kind = QString::fromLatin1(c.kind);
        w.setContactsValue(kind == QLatin1String("contacts"));
        w.setCalendarsValue(kind == QLatin1String("calendars"));
        w.setMusicValue(kind == QLatin1String("music"));
        w.setPhotosValue(kind == QLatin1String("photos"));
        w.setVideosValue(kind == QLatin1String("videos"));
        w.setAppsEnabled(true);
        w.setAppsValue(kind == QLatin1String("apps"));
        w.setTasksEnabled(true);
        w.setTasksValue(kind == QLatin1String("tasks"));
        w.setNotesEnabled(true);
        w.setNotesValue(kind == QLatin1String("notes"));
        EXPECT_EQ(w.numDataTypesSelected(), 1);
        EXPECT_EQ(w.nextStateForState(10), c.from10);
        EXPECT_EQ(w.nextStateForState(11), c.from11);
        EXPECT_EQ(w.nextStateForState(12), c.from12);
        EXPECT_EQ(w.nextStateForState(16), c.from16);
        EXPECT_EQ(w.nextStateForState(18), c.from18);
    }
}

TEST(Wizard, TheMainMenuLosesItsTaggedItemsOnly)
{
    QMenuBar bar;
    QMenu *app = bar.addMenu(QStringLiteral("App"));
    app->menuAction()->setData(50);
    for (int tag : {53, 54, 55}) app->addAction(QString::number(tag))->setData(tag);
    QMenu *other = bar.addMenu(QStringLiteral("Other"));
    other->addAction(QStringLiteral("54"))->setData(54);
    NS_AppController::trimMainMenu(&bar);
    ASSERT_EQ(app->actions().size(), 1);
    EXPECT_EQ(app->actions().first()->data().toInt(), 53);
    EXPECT_EQ(other->actions().size(), 1);
    NS_AppController::trimMainMenu(&bar);  // nothing left to remove
    EXPECT_EQ(app->actions().size(), 1);
}

}  // namespace

namespace {

TEST(Wizard, TheAppListIsSavedAsPdfPagesOf750Points)
{
    struct Case { int height; QList<int> tops; };
    const Case cases[] = {{1600, {0, 750, 1500}}, {750, {0}}, {751, {0, 750}}, {0, {}}};
    for (const Case &c : cases) {
        QList<int> tops;
        for (const QRect &page : NS_AppController::appReferralPageRects(QRect(0, 0, 300, c.height))) {
            EXPECT_EQ(page.height(), 750);
            tops.append(page.y());
        }
        EXPECT_EQ(tops, c.tops) << c.height;
    }

    WizardHarness h;
    NS_AppController &w = h.wizard();
    w.appReferralView()->findChild<QWidget *>(QStringLiteral("appReferralCollectionView"))->resize(300, 1600);
    const QString folder = testenv::makeTempDir(QStringLiteral("pdf"));
    const QString path = folder + QStringLiteral("/apps.pdf");
    w.saveButtonHit();  // cancelled: nothing written
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_TRUE(h.alerts.suggestedSavePath().endsWith(QStringLiteral("/App Recommendations")));
    h.alerts.setSavePath(path);
    w.saveButtonHit();
    const QByteArray pdf = testenv::readFile(path);
    EXPECT_TRUE(pdf.startsWith("%PDF"));
    EXPECT_EQ(pdf.count("/Type /Page\n") + pdf.count("/Type /Page\r") + pdf.count("/Type /Page "), 3);
    EXPECT_EQ(w.appReferralTextColor(), QColor(Qt::white));
    EXPECT_EQ(QDir(folder).entryList(QDir::Files), QStringList{QStringLiteral("apps.pdf")});
    EXPECT_TRUE(h.alerts.shown().isEmpty());
}

}  // namespace

namespace {

TEST(Wizard, AVolumeOfTheOldPhoneIsRecordedAndItsUnmountActsAsARemoval)
{
    WizardHarness h;
    h.wizard().setState(4);
    ASSERT_TRUE(h.plugBlackBerry());
    NS_AppController &w = h.wizard();
    const std::shared_ptr<MobileDevice> phone = w.oldDevice();
    EXPECT_FALSE(w.canMigrateMediaNow());  // no card mounted yet

    // The volume's block device sits below the phone's USB device.
    const QString card = testenv::makeTempDir(QStringLiteral("card"));
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(card).constData(), &st), 0);
    vtr::udev::UdevNode block = vtr::udev::FakeUdevSource::plainNode(h.lastSyspath() + QStringLiteral("/block/sdz1"),
                                                                     QStringLiteral("block"), QStringLiteral("partition"));
    block.devnum = st.st_dev;
    block.parentSyspath = h.lastSyspath();
    h.phones.usb()->addNode(block);

    w.volumeMountNotification(QStringLiteral("/no/such/volume"));
    EXPECT_FALSE(phone->isConnected());
    w.volumeMountNotification(card);
    EXPECT_TRUE(phone->hasMountedPath(card));
    EXPECT_TRUE(w.canMigrateMediaNow());
    EXPECT_FALSE(w.newDevice()->hasMountedPath(card));

    // A volume neither phone holds changes nothing; the card's goes back to the connect step.
    w.volumeUnmountNotification(QStringLiteral("/media/other"));
    EXPECT_EQ(w.currentState(), 4);
    w.volumeUnmountNotification(card);
    EXPECT_EQ(w.currentState(), 2);
}

}  // namespace
