// The whole wizard with an Android phone whose MTP library fails: every call
// of a clean run is made to fail once, and then for ever, in turn. Each round
// ends in a finished transfer or in an alert that tells the person what to
// do, within a bounded time, and leaves no temporary file and no cut file.

#include "support/EndToEnd.h"
#include "support/RealJobs.h"

#include "app/WizardStandIns.h"
#include "devices/phone/AndroidDeviceClient.h"
#include "devices/phone/WindowsPhone7LocalDevice.h"
#include "platform/Folders.h"

#include "TestEnvironment.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSet>

#include <gtest/gtest.h>

namespace {

const QStringList kWhatToDoTitles = {
    QStringLiteral("Could not connect to phone"),
    QStringLiteral("The results of the Solvenna to Windows Phone app were not found on your old phone."),
};
constexpr int kRoundLimitMs = 20000;

// The small phone with the companion app's contacts too.
MtpSimPhone *phoneWithContacts(WizardHarness &h)
{
    MtpSimPhone *phone = e2e::smallPhone(h);
    const uint32_t storage = phone->storageIds().front();
    phone->addFile(storage, phone->objectIdForPath(storage, QString::fromLatin1(AndroidDeviceClient::kCompanionFolder)),
                   QStringLiteral("nroid_con.json"),
                   "{\"command\":\"ADD_RECORD\",\"database\":\"contacts\",\"record\":{\"id\":\"1\",\"name\":\"Mara "
                   "Lindqvist\",\"first\":\"Mara\",\"last\":\"Lindqvist\"}}\n");
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
    MtpSimPhone *phone = phoneWithContacts(run.h);
    QSet<QByteArray> whole;
    for (const uint32_t storage : phone->storageIds())
        for (const char *path : {"Music/a.mp3", "Music/b.mp3", "DCIM/p.jpg", "DCIM/v.mp4"})
            whole.insert(phone->sha1(phone->objectIdForPath(storage, QString::fromLatin1(path))).toHex());
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
    // As the harness walks, but without waiting for the phone to be taken
    // (it may never be); an alert that says what to do ends the round too.
    w.setState(NS_AppController::kStateGetStarted);
    run.h.phones.plug(*phone);
    run.h.pressOn(toldWhatToDo, kRoundLimitMs);
    r.ms = timer.elapsed();
    r.finished = run.h.terminated && run.h.visited.contains(NS_AppController::kStateFinalSummary);
    r.alerts = run.h.alerts.titles();
    for (const QString &title : r.alerts) r.told = r.told || kWhatToDoTitles.contains(title);
    r.told = r.told || (run.h.terminated && !r.alerts.isEmpty());
    run.idle();
    r.leftovers = e2e::temporaryFilesBelow(WindowsPhone7LocalDevice::storageFolderPath()) +
                  e2e::temporaryFilesBelow(platform::temporaryFolder());
    for (const char *kind : {"Music", "Photos", "Videos"}) {
        const QDir folder(QDir(WindowsPhone7LocalDevice::storageFolderPath()).filePath(QLatin1String(kind)));
        for (const QFileInfo &f : folder.entryInfoList(QDir::Files | QDir::Hidden))
            if (!whole.contains(e2e::sha1OfFile(f.filePath()))) r.cut.append(f.filePath());
    }
    if (log) *log = run.h.phones.mtp()->callLog();
    return r;
}

void failEveryCallInTurn(int count)
{
    e2e::useFakeAdb();
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
    testing::Test::RecordProperty("calls", int(clean.size()));
    testing::Test::RecordProperty("finished", finished);
    testing::Test::RecordProperty("alerted", told);
}

TEST(PhoneFaults, EachCallOfACleanRunFailingOnce) { failEveryCallInTurn(1); }

TEST(PhoneFaults, EachCallOfACleanRunFailingForEver) { failEveryCallInTurn(-1); }

}  // namespace
