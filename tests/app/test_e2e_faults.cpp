// The whole wizard with an Android phone whose MTP library fails: every call
// of a clean run is made to fail once, and then for ever, in turn. Each round
// ends in a finished transfer or in an alert that tells the person what to
// do, within a bounded time, and leaves no temporary file and no cut file.

#include "support/RealJobs.h"

#include "app/WizardStandIns.h"
#include "devices/phone/AndroidDeviceClient.h"
#include "devices/phone/WindowsPhone7LocalDevice.h"
#include "fileinfo/FileInfoCopy.h"
#include "platform/Folders.h"

#include "TestEnvironment.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QSet>

#include <gtest/gtest.h>

namespace {

const QStringList kWhatToDoTitles = {
    QStringLiteral("Could not connect to phone"),
    QStringLiteral("The results of the Solvenna to Windows Phone app were not found on your old phone."),
};
constexpr int kRoundLimitMs = 20000;

QStringList temporaryFilesBelow(const QString &folder)
{
    QStringList found;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (vtr::isTemporaryCopyFileName(QFileInfo(path).fileName())) found.append(path);
    }
    return found;
}

QByteArray sha1OfFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    QCryptographicHash h(QCryptographicHash::Sha1);
    h.addData(&f);
    return h.result().toHex();
}

void useFakeAdb()
{
    const QString dir = testenv::makeTempDir(QStringLiteral("adb"));
    testenv::writeFile(dir + QStringLiteral("/adb"), "#!/bin/sh\ncase \"$*\" in *install*) echo Success;; esac\nexit 0\n");
    QFile::setPermissions(dir + QStringLiteral("/adb"), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    testenv::writeFile(dir + QStringLiteral("/SolvennaWindowsPhone.apk"), "placeholder package");
    AndroidDeviceClient::setAdbPath(dir + QStringLiteral("/adb"));
    AndroidDeviceClient::setResourceFolder(dir);
}

// A small phone with the companion app's results and one file of each kind.
MtpSimPhone *smallPhone(WizardHarness &h)
{
    MtpSimPhone *phone = &h.phones.mtp()->addPhone();
    MtpSimIdentity id;
    id.vendorId = 0x04e8;
    id.productId = 0x6642;
    id.serialNumber = QStringLiteral("FAULTS1");
    id.manufacturerName = QStringLiteral("Samsung");
    id.modelName = QStringLiteral("Small");
    phone->setIdentity(id);
    MtpSimStorageSpec spec;
    spec.capacity = 1 << 30;
    const uint32_t storage = phone->addStorage(spec);
    const uint32_t music = phone->addFolder(storage, 0, QStringLiteral("Music"));
    const uint32_t camera = phone->addFolder(storage, 0, QStringLiteral("DCIM"));
    const uint32_t companion = phone->addFolder(storage, 0, QStringLiteral("solvennawp"));
    phone->addFile(storage, companion, QString::fromLatin1(AndroidDeviceClient::kDoneFileName), "done");
    phone->addFile(storage, companion, QStringLiteral("nroid_con.json"),
                   "{\"command\":\"ADD_RECORD\",\"database\":\"contacts\",\"record\":{\"id\":\"1\",\"name\":\"Mara "
                   "Lindqvist\",\"first\":\"Mara\",\"last\":\"Lindqvist\"}}\n");
    phone->addFileOfSize(storage, music, QStringLiteral("a.mp3"), 70001);
    phone->addFileOfSize(storage, camera, QStringLiteral("p.jpg"), 90007);
    phone->addFileOfSize(storage, camera, QStringLiteral("v.mp4"), 150011);
    return phone;
}

struct Round
{
    bool finished = false;  // the transfer reached the final summary
    bool told = false;      // an alert said what to do, or ended the run
    qint64 ms = 0;
    QStringList alerts;
    QStringList leftovers;
    QStringList cut;  // files in the new phone's folders that are no phone file whole
};

// One run from the connect step to the end, or to an alert that leaves the
// wizard waiting for the person.
Round runRound(const std::function<void(SimulatedMtpLibrary &)> &inject,
               QList<SimulatedMtpLibrary::CallRecord> *log = nullptr)
{
    QDir(WindowsPhone7LocalDevice::storageFolderPath()).removeRecursively();
    RealJobs run;
    NS_AppController &w = run.h.wizard();
    w.setCompanionAppFactory(vtrapp::defaultCompanionAppFactory());
    w.setOpenRetryForTesting(3, 50);
    w.setPollLimitsForTesting(3, 5);
    MtpSimPhone *phone = smallPhone(run.h);
    QSet<QByteArray> whole;
    for (const uint32_t storage : phone->storageIds())
        for (const QString path : {QStringLiteral("Music/a.mp3"), QStringLiteral("DCIM/p.jpg"), QStringLiteral("DCIM/v.mp4")})
            whole.insert(phone->sha1(phone->objectIdForPath(storage, path)).toHex());
    run.h.phones.mtp()->clearCallLog();
    inject(*run.h.phones.mtp());

    QElapsedTimer timer;
    timer.start();
    Round r;
    auto toldWhatToDo = [&] {
        for (const QString &title : run.h.alerts.titles())
            if (kWhatToDoTitles.contains(title)) return true;
        return false;
    };
    // As the harness walks: Next whenever it is offered, Quit at the end;
    // an alert that says what to do ends the round too.
    w.setState(NS_AppController::kStateGetStarted);
    run.h.phones.plug(*phone);
    WizardHarness::waitFor(
        [&] {
            if (run.h.terminated || toldWhatToDo()) return true;
            QPushButton *next = w.nextButton();
            if (!next->isHidden() && next->isEnabled() && w.pendingPerformCount() == 0 && w.runningJobCount() == 0)
                next->click();
            QPushButton *quit = w.quitButton();
            if (!quit->isHidden() && quit->isEnabled()) quit->click();
            return false;
        },
        kRoundLimitMs);
    r.ms = timer.elapsed();
    r.finished = run.h.terminated && run.h.visited.contains(NS_AppController::kStateFinalSummary);
    r.alerts = run.h.alerts.titles();
    for (const QString &title : r.alerts) r.told = r.told || kWhatToDoTitles.contains(title);
    r.told = r.told || (run.h.terminated && !r.alerts.isEmpty());
    run.idle();
    r.leftovers = temporaryFilesBelow(WindowsPhone7LocalDevice::storageFolderPath()) +
                  temporaryFilesBelow(platform::temporaryFolder());
    for (const char *kind : {"Music", "Photos", "Videos"}) {
        const QDir folder(QDir(WindowsPhone7LocalDevice::storageFolderPath()).filePath(QLatin1String(kind)));
        for (const QFileInfo &f : folder.entryInfoList(QDir::Files | QDir::Hidden))
            if (!whole.contains(sha1OfFile(f.filePath()))) r.cut.append(f.filePath());
    }
    if (log) *log = run.h.phones.mtp()->callLog();
    return r;
}

void failEveryCallInTurn(int count)
{
    useFakeAdb();
    QList<SimulatedMtpLibrary::CallRecord> clean;
    const Round base = runRound([](SimulatedMtpLibrary &) {}, &clean);
    ASSERT_TRUE(base.finished);
    ASSERT_GT(clean.size(), 40);
    QHash<QString, int> nth;
    int finished = 0, told = 0;
    for (const SimulatedMtpLibrary::CallRecord &call : clean) {
        const int n = ++nth[call.function];
        SCOPED_TRACE(testing::Message() << call.function.toStdString() << " #" << n);
        const Round r = runRound([&](SimulatedMtpLibrary &library) { library.failCall(call.function, n, count); });
        EXPECT_TRUE(r.finished || r.told) << r.alerts.join(QStringLiteral(" | ")).toStdString();
        EXPECT_LT(r.ms, kRoundLimitMs);
        EXPECT_EQ(r.leftovers, QStringList());
        EXPECT_EQ(r.cut, QStringList());
        finished += r.finished;
        told += !r.finished && r.told;
    }
    testing::Test::RecordProperty("finished", finished);
    testing::Test::RecordProperty("alerted", told);
}

TEST(PhoneFaults, EachCallOfACleanRunFailingOnce) { failEveryCallInTurn(1); }

TEST(PhoneFaults, EachCallOfACleanRunFailingForEver) { failEveryCallInTurn(-1); }

}  // namespace
