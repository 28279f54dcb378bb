#include "support/WizardHarness.h"

#include "TestEnvironment.h"
#include "TestFolders.h"

#include "app/BackgroundJob.h"
#include "app/MountWatcher.h"
#include "devices/phone/MobileDevice.h"
#include "devices/phone/MobileDeviceProxy.h"
#include "devices/usb/VolumeDetection.h"
#include "foundation/Log.h"
#include "fileinfo/MountTable.h"
#include "fileinfo/VtrMacFileInfo.h"

#include <QDir>
#include <QFile>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <gtest/gtest.h>

namespace {

enum Family { Android, IPhone, BlackBerry };
const char *const kFamilyNames[] = {"Android", "iPhone", "BlackBerry"};
const QString kRemovalTitle = QStringLiteral("Your old device was disconnected before the backup was finished.");

bool plug(WizardHarness &h, Family family)
{
    switch (family) {
    case Android: return h.plugAndroid();
    case IPhone: return h.plugIPhone();
    case BlackBerry: return h.plugBlackBerry();
    }
    return false;
}

// Lets delayed wizard messages and queued reactions run.
void settle(WizardHarness &h)
{
    h.spin(60);
    h.waitFor([&] { return h.wizard().pendingPerformCount() == 0 && h.wizard().runningJobCount() == 0; }, 3000);
    h.spin(20);
}

TEST(Connection, AnArrivingPhoneMovesTheWizardByStateForEachFamily)
{
    using B = NS_AppController::ButtonSet;
    struct Case { Family family; int state; int after; int buttons; };
    const Case cases[] = {
        // The connect step goes on to the family's advice.
        {Android, 2, 6, B::kButtonsNext},
        {IPhone, 2, 3, B::kButtonsNext},
        {BlackBerry, 2, 4, B::kButtonsNext},
        // The iPhone advice goes back to the connect step, which goes on again.
        {IPhone, 3, 3, B::kButtonsNext},
        {Android, 3, 6, B::kButtonsNext},
        // The advice pages without a phone wait for one; arriving changes nothing.
        {BlackBerry, 4, 4, B::kButtonsNextDisabled},
        {IPhone, 5, 5, B::kButtonsNextDisabled},
        // Pages that ask for the phone offer Next once it is there.
        {Android, 6, 6, B::kButtonsNext},
        {Android, 9, 9, B::kButtonsNext},
        {IPhone, 9, 9, B::kButtonsNext},
        {BlackBerry, 9, 9, B::kButtonsNext},
        // Later states do not need the phone.
        {Android, 14, 14, -1},
        {BlackBerry, 20, 20, -1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << kFamilyNames[c.family] << " in state " << c.state);
        WizardHarness h;
        h.work->hold = true;
        h.wizard().setState(c.state);
        const int buttonsBefore = h.wizard().buttonSet();
        ASSERT_TRUE(plug(h, c.family));
        settle(h);
        EXPECT_EQ(h.wizard().currentState(), c.after);
        EXPECT_EQ(h.wizard().buttonSet(), c.buttons < 0 ? buttonsBefore : c.buttons);
        EXPECT_EQ(h.wizard().oldDeviceProxy()->object(), h.wizard().oldDevice());
        EXPECT_FALSE(h.terminated);
        if (c.state == 3 && c.family == IPhone) {
            // Through the connect step and back to the advice.
            EXPECT_EQ(h.visited.mid(h.visited.indexOf(3)), (QList<int>{3, 2, 3}));
        }
    }
}

TEST(Connection, RemovalMovesTheWizardByStateForEachFamily)
{
    using B = NS_AppController::ButtonSet;
    struct Case { Family family; int state; int after; int buttons; bool fatal; };
    const Case cases[] = {
        {Android, 6, 6, B::kButtonsNextDisabled, false},
        {Android, 8, 8, B::kButtonsNextDisabled, false},
        {IPhone, 9, 9, B::kButtonsNextDisabled, false},
        {IPhone, 3, 2, B::kButtonsNone, false},
        {BlackBerry, 5, 2, B::kButtonsNone, false},
        {Android, 10, 10, -1, true},
        {IPhone, 11, 11, -1, true},
        {BlackBerry, 13, 13, -1, true},
        {Android, 20, 20, -1, false},
        {IPhone, 19, 19, -1, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << kFamilyNames[c.family] << " in state " << c.state);
        WizardHarness h;
        h.work->hold = true;
        h.wizard().setState(14);
        ASSERT_TRUE(plug(h, c.family));
        h.wizard().setState(c.state);
        settle(h);
        const int buttonsBefore = h.wizard().buttonSet();
        h.phones.unplug(h.lastSyspath());
        ASSERT_TRUE(h.waitFor([&] { return !h.wizard().isOldDeviceConnected(); }));
        settle(h);
        EXPECT_EQ(h.terminated, c.fatal);
        EXPECT_EQ(h.alerts.titles().count(kRemovalTitle), c.fatal ? 1 : 0);
        EXPECT_EQ(h.wizard().oldDeviceProxy()->object(), nullptr);
        EXPECT_EQ(h.wizard().connectedMobileDevice(), nullptr);
        // No poll of the companion app outlives the phone.
        EXPECT_EQ(h.wizard().pendingPerformCount(), 0);
        if (!c.fatal) {
            EXPECT_EQ(h.wizard().currentState(), c.after);
            EXPECT_EQ(h.wizard().buttonSet(), c.buttons < 0 ? buttonsBefore : c.buttons);
        }
    }
}

TEST(Connection, AnAndroidPhoneIsNamedByItsOwnUsbNameWhenItHasOne)
{
    // The device list calls 04e8:6642 "Samsung M7600 Beat/...".
    for (const QString &usbName : {QStringLiteral("Galaxy of Anna"), QString()}) {
        SCOPED_TRACE(usbName.toStdString());
        WizardHarness h;
        h.work->hold = true;
        MtpSimPhone *phone =
            h.phones.addFixture(QStringLiteral(VTR_TEST_SOURCE_DIR "/devices/data/mtp/android_phone.json"));
        ASSERT_TRUE(phone);
        const MtpSimIdentity id = phone->identity();
        h.phones.plug(id.vendorId, id.productId, usbName, id.serialNumber, int(id.busLocation), id.devnum);
        ASSERT_TRUE(h.waitFor([&] { return h.wizard().isOldDeviceConnected(); }));
        if (usbName.isEmpty())
            EXPECT_TRUE(h.wizard().oldDevice()->name().startsWith(QStringLiteral("Samsung M7600")));
        else
            EXPECT_EQ(h.wizard().oldDevice()->name(), usbName);
    }
}

TEST(Connection, APhoneThatFailsToOpenIsTriedAgainThenNamed)
{
    struct Case
    {
        int failures;  // of the raw-device listing, from the first
        bool taken;
    };
    for (const Case c : {Case{1, true}, Case{2, true}, Case{3, false}, Case{-1, false}}) {
        SCOPED_TRACE(c.failures);
        WizardHarness h;
        h.work->hold = true;
        h.wizard().setOpenRetryForTesting(3, 10);
        h.wizard().setState(NS_AppController::kStateGetStarted);
        MtpSimPhone *phone =
            h.phones.addFixture(QStringLiteral(VTR_TEST_SOURCE_DIR "/devices/data/mtp/android_phone.json"));
        ASSERT_TRUE(phone);
        h.phones.mtp()->failCall(QStringLiteral("LIBMTP_Detect_Raw_Devices"), 1, c.failures);
        h.phones.plug(*phone);
        ASSERT_TRUE(h.waitFor([&] { return h.wizard().isOldDeviceConnected() || !h.alerts.shown().isEmpty(); }));
        settle(h);
        EXPECT_EQ(h.wizard().isOldDeviceConnected(), c.taken);
        EXPECT_EQ(h.wizard().currentState(), c.taken ? 6 : 2);
        EXPECT_EQ(h.alerts.titles(), c.taken ? QStringList() : QStringList{QStringLiteral("Could not connect to phone")});
    }
}

TEST(Connection, ASecondPhoneIsNeverTakenByAccident)
{
    WizardHarness h;
    h.work->hold = true;
    h.wizard().setState(NS_AppController::kStateGetStarted);
    ASSERT_TRUE(h.plugAndroid());
    const QString first = h.lastSyspath();
    settle(h);
    const int state = h.wizard().currentState();
    const QString second = h.phones.plug(4042, 32769, QStringLiteral("RIM BlackBerry Device"), QStringLiteral("BB0002"));
    settle(h);
    EXPECT_TRUE(h.wizard().oldDevice()->isAndroidDevice());
    EXPECT_EQ(h.wizard().currentState(), state);

    // The first phone goes: the second, still plugged, is not picked up.
    h.phones.unplug(first);
    ASSERT_TRUE(h.waitFor([&] { return !h.wizard().isOldDeviceConnected(); }));
    settle(h);
    EXPECT_FALSE(h.wizard().isOldDeviceConnected());
    EXPECT_EQ(h.wizard().buttonSet(), NS_AppController::kButtonsNextDisabled);
    // Its removal is nobody's business; plugged again, it is taken.
    h.phones.unplug(second);
    settle(h);
    EXPECT_FALSE(h.wizard().isOldDeviceConnected());
    ASSERT_TRUE(h.plugBlackBerry());
    EXPECT_TRUE(h.wizard().oldDevice()->isBlackBerry());
    EXPECT_TRUE(h.alerts.shown().isEmpty());
}

TEST(Connection, APhonePulledMidBackupEndsTheJobFirstAndDamagesNothing)
{
    WizardHarness h;
    h.work->hold = true;
    MtpSimPhone *phone = h.phones.addFixture(QStringLiteral(VTR_TEST_SOURCE_DIR "/devices/data/mtp/android_phone.json"));
    ASSERT_NE(phone, nullptr);
    const qint64 size = 3 * 1024 * 1024;
    // On the card, the storage the phone's folders are taken from.
    phone->addFileOfSize(phone->storageIds().back(), 0, QStringLiteral("big.bin"), size);
    h.wizard().setState(14);
    ASSERT_TRUE(h.plug(*phone));
    const QString syspath = h.lastSyspath();

    // What was there before the backup stays as it was.
    const QString target = testenv::makeTempDir(QStringLiteral("backup"));
    const QString existing = target + QStringLiteral("/big.bin");
    testenv::writeFile(existing, "the earlier copy");

    std::atomic<bool> release{false};
    std::atomic<int> copyStatus{1};
    std::atomic<int> alertAnswer{-1};
    bool completionRan = false;
    NS_AppController *c = &h.wizard();
    std::shared_ptr<MobileDeviceProxy> proxy = c->oldDeviceProxy();
    h.work->onCall = [&](NS_AppController &, const QString &name) {
        if (name != QLatin1String("backup")) return;
        c->runJob(new FunctionJob([&, proxy](FunctionJob &) {
                      const VtrFileInfoPtr root = proxy->preferredStorageInfo();
                      const VtrFileInfoPtr source = root ? root->find(QStringLiteral("big.bin")) : nullptr;
                      copyStatus = source ? int(source->copyTo(VtrMacFileInfo::fileInfoWithPath(existing))) : -1;
                      while (!release) QThread::msleep(2);
                      // The backup's per-kind alert is not put to the person once the phone is gone.
                      alertAnswer = c->showAlertOnMainThread(
                          QStringLiteral("An error occurred while backing up music."),
                          VtrException(QStringLiteral("StopSyncException"), QStringLiteral("The phone went away.")));
                      return BackgroundJob::successResult();
                  }),
                  [&](const QVariantMap &) { completionRan = true; });
    };
    phone->unplugAfterBytes(size / 3);
    h.wizard().setState(13);
    if (!h.waitFor([&] { return phone->isUnplugged(); })) {
        release = true;
        FAIL() << "the copy did not reach the phone: " << copyStatus.load();
    }
    h.phones.unplug(syspath);
    h.spin(100);
    // The job is still inside its work: the phone is kept and nobody is told yet.
    EXPECT_TRUE(h.wizard().isOldDeviceConnected());
    EXPECT_TRUE(h.alerts.shown().isEmpty());
    EXPECT_FALSE(h.terminated);

    release = true;
    ASSERT_TRUE(h.waitFor([&] { return h.terminated; }));
    EXPECT_NE(copyStatus.load(), 0);
    EXPECT_EQ(alertAnswer.load(), 1);
    EXPECT_FALSE(completionRan);
    EXPECT_EQ(h.alerts.titles(), QStringList{kRemovalTitle});
    EXPECT_FALSE(h.wizard().isOldDeviceConnected());
    EXPECT_EQ(testenv::readFile(existing), QByteArray("the earlier copy"));
    EXPECT_EQ(QDir(target).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("big.bin")});
}

TEST(Connection, APhoneThatOpensSlowlyNeverHoldsUpTheWindowAndMayBePulledMeanwhile)
{
    WizardHarness h;
    MtpSimPhone *phone = h.phones.addFixture(QStringLiteral(VTR_TEST_SOURCE_DIR "/devices/data/mtp/android_phone.json"));
    ASSERT_NE(phone, nullptr);
    MtpSimOptions options = phone->options();
    options.openDelayMs = 600;
    phone->setOptions(options);
    SimulatedMtpLibrary &mtp = *h.phones.mtp();
    h.wizard().setState(2);

    // The event loop goes on turning while the phone opens.
    int ticks = 0;
    QTimer ticker;
    ticker.setInterval(10);
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start();
    ASSERT_TRUE(h.plug(*phone));
    QString syspath = h.lastSyspath();
    EXPECT_GE(ticks, 20);
    ASSERT_TRUE(h.wizard().oldDevice());
    EXPECT_TRUE(h.wizard().oldDevice()->hasMTPConnection());
    h.phones.unplug(syspath);
    ASSERT_TRUE(h.waitFor([&] { return !h.wizard().oldDevice() && mtp.openDeviceCount() == 0; }));
    settle(h);
    h.wizard().setState(2);

    // Pulled while it opens: the opened handle is let go, nobody is told,
    // and the wizard still waits for a phone.
    h.alerts.clear();
    syspath = h.phones.plug(*phone);
    h.spin(150);
    EXPECT_GE(h.wizard().runningJobCount(), 1);
    h.phones.unplug(syspath);
    ASSERT_TRUE(h.waitFor([&] { return h.wizard().runningJobCount() == 0 && mtp.openDeviceCount() == 0; }));
    h.spin(50);
    EXPECT_FALSE(h.wizard().oldDevice());
    EXPECT_EQ(h.wizard().currentState(), 2);
    EXPECT_TRUE(h.alerts.shown().isEmpty());
    EXPECT_EQ(mtp.invalidHandleCallCount(), 0);
    EXPECT_EQ(mtp.concurrentCallCount(), 0);

    // The next arrival is taken as ever.
    options.openDelayMs = 0;
    phone->setOptions(options);
    EXPECT_TRUE(h.plug(*phone));
}

TEST(Connection, APhonePulledWhileAJobHangsIsStillToldAfterTheWait)
{
    WizardHarness h;
    h.work->hold = true;
    h.wizard().setRemovalJobWaitForTesting(300);
    MtpSimPhone *phone = h.phones.addFixture(QStringLiteral(VTR_TEST_SOURCE_DIR "/devices/data/mtp/android_phone.json"));
    ASSERT_NE(phone, nullptr);
    h.wizard().setState(14);
    ASSERT_TRUE(h.plug(*phone));
    const QString syspath = h.lastSyspath();

    // A job stuck where no cancel reaches it.
    std::atomic<bool> entered{false};
    std::atomic<bool> release{false};
    NS_AppController *c = &h.wizard();
    h.work->onCall = [&](NS_AppController &, const QString &name) {
        if (name != QLatin1String("backup")) return;
        c->runJob(new FunctionJob([&](FunctionJob &) {
                      entered = true;
                      while (!release) QThread::msleep(2);
                      return BackgroundJob::successResult();
                  }),
                  [](const QVariantMap &) {});
    };
    h.wizard().setState(13);
    ASSERT_TRUE(h.waitFor([&] { return entered.load(); }));
    h.phones.unplug(syspath);
    h.spin(100);
    EXPECT_TRUE(h.alerts.shown().isEmpty());
    EXPECT_FALSE(h.terminated);

    // The wait runs out while the job still hangs: the person is told.
    const bool told = h.waitFor([&] { return h.terminated; });
    release = true;
    ASSERT_TRUE(told);
    EXPECT_EQ(h.alerts.titles(), QStringList{kRemovalTitle});
    // The job's late end tells nobody a second time.
    EXPECT_TRUE(h.waitFor([&] { return h.wizard().runningJobCount() == 0; }));
    h.spin(50);
    EXPECT_EQ(h.alerts.titles(), QStringList{kRemovalTitle});
}

TEST(Connection, ABlackBerryCardIsFoundMountedAndLeavesBeforeTheReaction)
{
    WizardHarness h;
    h.work->hold = true;
    // The card: a folder on its own device number, below the phone's USB device.
    const QString card = testenv::makeTempDir(QStringLiteral("card"));
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(card).constData(), &st), 0);
    const QByteArray line = "40 1 " + QByteArray::number(major(st.st_dev)) + ':' + QByteArray::number(minor(st.st_dev)) +
                            " / " + QFile::encodeName(card) + " rw,relatime - vfat /dev/sdz1 rw\n";
    const QByteArray root = "1 0 8:1 / / rw - ext4 /dev/sda1 rw\n";
    vtr::MountTable::setOverrideText(root + line);
    VolumeDetection::sharedManager()->setVolumeRootsForTesting({card});

    h.wizard().setState(14);
    const QString syspath = h.phones.plug(4042, 32769, QStringLiteral("RIM BlackBerry Device"), QStringLiteral("BB0001"));
    vtr::udev::UdevNode block = vtr::udev::FakeUdevSource::plainNode(syspath + QStringLiteral("/block/sdz1"),
                                                                     QStringLiteral("block"), QStringLiteral("partition"));
    block.devnum = st.st_dev;
    block.parentSyspath = syspath;
    h.phones.usb()->addNode(block);
    ASSERT_TRUE(h.waitFor([&] { return h.wizard().isOldDeviceConnected(); }));
    const std::shared_ptr<MobileDevice> phone = h.wizard().oldDevice();
    // Mounted before the phone was taken: found at its arrival.
    EXPECT_TRUE(phone->hasMountedPath(card));
    EXPECT_TRUE(h.wizard().canMigrateMediaNow());

    // Unmounted in state 4: the path is gone before the wizard reacts.
    h.wizard().setState(4);
    bool connectedDuringReaction = true;
    QObject::connect(&h.wizard(), &NS_AppController::stateEntered, [&](int s) {
        if (s == 2) connectedDuringReaction = phone->isConnected();
    });
    QByteArray table = root + line;
    MountWatcher mounts([&] { return table; });
    QObject::connect(&mounts, &MountWatcher::unmounted, &h.wizard(), &AppController::volumeUnmountNotification);
    QObject::connect(&mounts, &MountWatcher::mounted, &h.wizard(), &AppController::volumeMountNotification);
    table = root;
    vtr::MountTable::setOverrideText(table);
    mounts.refresh();
    EXPECT_EQ(h.wizard().currentState(), 2);
    EXPECT_FALSE(phone->hasMountedPath(card));
    EXPECT_FALSE(connectedDuringReaction);
    EXPECT_FALSE(h.wizard().canMigrateMediaNow());

    // Mounted again: recorded again, and the connect step goes on.
    table = root + line;
    vtr::MountTable::setOverrideText(table);
    mounts.refresh();
    EXPECT_TRUE(phone->hasMountedPath(card));
    settle(h);
    EXPECT_EQ(h.wizard().currentState(), 4);

    VolumeDetection::sharedManager()->setVolumeRootsForTesting({});
    vtr::MountTable::setOverrideText(std::nullopt);
}

TEST(Connection, AnEarlierMigrationInTheNewPhonesFolderIsPointedOut)
{
    WizardHarness h;
    const VtrFileInfoPtr target = h.wizard().targetFileInfoForDevice();
    ASSERT_NE(target, nullptr);
    const QString folder = target->path();
    h.wizard().checkForPreviousMigration();
    EXPECT_TRUE(h.alerts.shown().isEmpty());
    ASSERT_TRUE(QDir().mkpath(folder + QStringLiteral("/Migration Info")));
    h.wizard().checkForPreviousMigration();
    ASSERT_EQ(h.alerts.titles(), QStringList{QStringLiteral("This device has already participated in a transfer.")});
    EXPECT_TRUE(h.alerts.shown().first().beep);
    EXPECT_EQ(h.wizard().currentState(), 0);
    testenv::removeTree(folder);
}

// The wizard closes while a phone is still being opened: the worker that
// opens it finishes without waiting for the main thread, which waits for it.
TEST(Connection, TheWizardClosesWhileAPhoneIsBeingOpened)
{
    auto h = std::make_unique<WizardHarness>();
    MtpSimPhone *phone = h->phones.addFixture(QStringLiteral(VTR_TEST_SOURCE_DIR "/devices/data/mtp/android_phone.json"));
    ASSERT_NE(phone, nullptr);
    MtpSimOptions options = phone->options();
    options.openDelayMs = 200;
    phone->setOptions(options);
    h->wizard().setState(2);
    h->phones.plug(*phone);
    ASSERT_TRUE(h->waitFor([&] { return h->wizard().runningJobCount() > 0; }));
    // A hang is the fault: the guard ends the program saying so.
    std::mutex mutex;
    std::condition_variable changed;
    bool closed = false;
    std::thread guard([&] {
        std::unique_lock lock(mutex);
        if (changed.wait_for(lock, std::chrono::minutes(2), [&] { return closed; })) return;
        std::fprintf(stderr, "The wizard never closed: it waits for the worker opening the phone.\n");
        std::_Exit(1);
    });
    h.reset();
    {
        std::lock_guard lock(mutex);
        closed = true;
    }
    changed.notify_all();
    guard.join();
}

// A phone that does not open is tried no more once the wizard closes in the
// pause between tries: a try could wait out the phone's time-out again.
TEST(Connection, APhoneThatDoesNotOpenIsNotTriedAgainOnceTheWizardCloses)
{
    std::atomic<int> tries = 0;
    std::atomic<bool> pausing = false;
    LogSetSystemLogSink([&](const QString &line) {
        if (line.startsWith(QLatin1String("No MTP device found"))) ++tries;
        if (line.contains(QLatin1String("did not open (attempt 1 "))) pausing = true;
    });
    auto h = std::make_unique<WizardHarness>();
    h->work->hold = true;
    h->wizard().setOpenRetryForTesting(3, 120000);  // the pause ends by the close alone
    h->wizard().setState(NS_AppController::kStateGetStarted);
    MtpSimPhone *phone = h->phones.addFixture(QStringLiteral(VTR_TEST_SOURCE_DIR "/devices/data/mtp/android_phone.json"));
    ASSERT_TRUE(phone);
    h->phones.mtp()->failCall(QStringLiteral("LIBMTP_Detect_Raw_Devices"), 1, -1);
    h->phones.plug(*phone);
    ASSERT_TRUE(h->waitFor([&] { return pausing.load(); }));
    h.reset();
    LogSetSystemLogSink({});
    EXPECT_EQ(tries, 1);
}

// The one-step transfer moves the contacts or calendars read only when they
// are ticked: read but not ticked, with nothing else to copy, there is
// nothing to generate.
TEST(Connection, GenerateIsOfferedForTheContactsAndCalendarsReadOnlyWhenTicked)
{
    WizardHarness h;
    NS_AppController &w = h.wizard();
    w.setCurrentState(14);
    w.setManifestSource(NS_AppController::ManifestKind::Contacts,
                        std::make_shared<FixedManifest>(QVariantMap{{"contact_cnt", 3}}));
    w.setManifestSource(NS_AppController::ManifestKind::Events,
                        std::make_shared<FixedManifest>(QVariantMap{{"event_cnt", 2}}));
    w.setContactsEnabled(true);
    w.setCalendarsEnabled(true);
    w.setTasksValue(false);
    w.setNotesValue(false);
    w.setAppsValue(false);
    w.setPhotosValue(false);
    w.setVideosValue(false);
    w.setMusicValue(true);  // ticked, but the phone holds none
    struct Case { bool contacts, calendars, offered; };
    for (const Case c : {Case{false, false, false}, Case{true, false, true}, Case{false, true, true}}) {
        SCOPED_TRACE(testing::Message() << "contacts " << c.contacts << ", calendars " << c.calendars);
        w.setContactsValue(c.contacts);
        w.setCalendarsValue(c.calendars);
        EXPECT_EQ(w.canGenerate(), c.offered);
    }
}

}  // namespace
