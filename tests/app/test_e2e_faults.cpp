// The whole wizard with an Android phone whose MTP library fails: every call
// of a clean run is made to fail once, and then for ever, in turn. Each round
// ends in a finished transfer or in an alert that tells the person what to
// do, within a bounded time, and leaves no temporary file and no cut file. On
// the last page a kind says "Done" only when all the phone holds of it
// arrived (its playlist too); any other line says why.

#include "support/EndToEnd.h"
#include "support/RealJobs.h"

#include "app/WizardStandIns.h"
#include "devices/phone/AndroidDeviceClient.h"
#include "devices/phone/WindowsPhone7LocalDevice.h"
#include "foundation/Log.h"
#include "platform/Folders.h"

#include "TestEnvironment.h"
#include "TestFolders.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSet>

#include <gtest/gtest.h>

#include <mutex>

namespace {

const QStringList kWhatToDoTitles = {
    QStringLiteral("Could not connect to phone"),
    QStringLiteral("The results of the Solvenna to Windows Phone app were not found on your old phone."),
};
constexpr int kRoundLimitMs = 20000;

// The small phone with a playlist of both songs, a card with a third song
// (the phone's map is made again when the walk turns to it) and the companion
// app's contacts too.
MtpSimPhone *phoneWithContacts(WizardHarness &h)
{
    MtpSimPhone *phone = e2e::smallPhone(h);
    MtpSimStorageSpec card;
    card.storageType = 4;
    card.capacity = 1 << 30;
    const uint32_t cardId = phone->addStorage(card);
    phone->addFileOfSize(cardId, phone->addFolder(cardId, 0, QStringLiteral("Music")), QStringLiteral("c.mp3"), 50021);
    const uint32_t storage = phone->storageIds().front();
    phone->addPlaylist(storage, phone->objectIdForPath(storage, QStringLiteral("Music")), QStringLiteral("Road"),
                       {phone->objectIdForPath(storage, QStringLiteral("Music/a.mp3")),
                        phone->objectIdForPath(storage, QStringLiteral("Music/b.mp3"))});
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
    QStringList untrue;  // last-page lines that say "Done" on less than the phone holds, or nothing
    bool explained = false;  // a line of the last page says why a kind is not all there
    QStringList lines;       // the music, photos and videos lines of the last page
};

// What the phone holds in each kind's folder of the new phone.
const std::pair<const char *, int> kHeld[] = {{"Music", 3}, {"Photos", 1}, {"Videos", 1}};

// One run from the connect step to the end, or to an alert that leaves the
// wizard waiting for the person.
Round runRound(const std::function<void(SimulatedMtpLibrary &)> &inject,
               QList<SimulatedMtpLibrary::CallRecord> *log = nullptr)
{
    testenv::removeTree(WindowsPhone7LocalDevice::storageFolderPath());
    RealJobs run;
    run.jobs->freeSpaceOfTarget = [](const VtrFileInfoPtr &) { return qint64(1) << 40; };
    NS_AppController &w = run.h.wizard();
    w.setCompanionAppFactory(vtrapp::defaultCompanionAppFactory());
    w.setOpenRetryForTesting(3, 50);
    w.setPollLimitsForTesting(3, 5);
    MtpSimPhone *phone = phoneWithContacts(run.h);
    QSet<QByteArray> whole;
    for (const uint32_t storage : phone->storageIds())
        for (const char *path : {"Music/a.mp3", "Music/b.mp3", "Music/c.mp3", "DCIM/p.jpg", "DCIM/v.mp4"})
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
    if (r.finished) {
        const auto filesIn = [](const char *folder) {
            return QDir(QDir(WindowsPhone7LocalDevice::storageFolderPath()).filePath(QLatin1String(folder)))
                .entryList(QDir::Files)
                .size();
        };
        const QString lines[] = {w.musicSummaryDone(), w.photosSummaryDone(), w.videosSummaryDone()};
        for (int k = 0; k < 3; ++k) {
            const bool whole = filesIn(kHeld[k].first) == kHeld[k].second && (k > 0 || filesIn("Playlists") == 1);
            const QString &line = lines[k];
            const bool says = line.startsWith(QLatin1String(" - Done (")) || line.startsWith(QLatin1String(" - Failed: ")) ||
                              line.startsWith(QLatin1String(" - Not moved: "));
            if (line == QLatin1String(" - Done") ? !whole : !says)
                r.untrue.append(QLatin1String(kHeld[k].first) + QLatin1Char(':') + line);
            r.explained = r.explained || (says && !whole);
            r.lines << line;
        }
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
    ASSERT_TRUE(base.untrue.isEmpty()) << base.untrue.join(QStringLiteral(" | ")).toStdString();
    ASSERT_FALSE(base.explained);
    ASSERT_GT(clean.size(), 40);
    QHash<QString, int> nth;
    int finished = 0, explained = 0, told = 0;
    for (const SimulatedMtpLibrary::CallRecord &call : clean) {
        const int n = ++nth[call.function];
        SCOPED_TRACE(testing::Message() << call.function.toStdString() << " #" << n);
        const Round r = runRound([&](SimulatedMtpLibrary &library) { library.failCall(call.function, n, count); });
        EXPECT_TRUE(r.finished || r.told) << r.alerts.join(QStringLiteral(" | ")).toStdString();
        EXPECT_LT(r.ms, kRoundLimitMs);
        EXPECT_EQ(r.leftovers, QStringList());
        EXPECT_EQ(r.cut, QStringList());
        EXPECT_TRUE(r.untrue.isEmpty()) << r.untrue.join(QStringLiteral(" | ")).toStdString();
        // One failure is met by a second try: the whole transfer finishes.
        if (count == 1)
            EXPECT_TRUE(r.finished && !r.explained)
                << (r.lines + r.alerts).join(QStringLiteral(" | ")).toStdString();
        finished += r.finished && !r.explained;
        explained += r.finished && r.explained;
        told += !r.finished && r.told;
    }
    testing::Test::RecordProperty("calls", int(clean.size()));
    testing::Test::RecordProperty("finished", finished);
    testing::Test::RecordProperty("explained", explained);
    testing::Test::RecordProperty("alerted", told);
}

TEST(PhoneFaults, EachCallOfACleanRunFailingOnce) { failEveryCallInTurn(1); }

TEST(PhoneFaults, EachCallOfACleanRunFailingForEver) { failEveryCallInTurn(-1); }

}  // namespace

namespace {

// The phone of the repository's fixture stops answering once the person has
// chosen its media: it is locked, its session drops with the cable still in
// after 3 MB, or it no longer lists its playlists. No kind then says "Done"
// on less than the phone holds: each says why, and so do the report and the
// log.
TEST(PhoneFaults, APhoneThatStopsAnsweringItsListingsLeavesNoKindDoneOnLess)
{
    e2e::useFakeAdb();
    struct Case
    {
        const char *what;
        std::function<void(SimulatedMtpLibrary &, MtpSimPhone &)> fault;
        const char *said[3];  // in the music, photos and videos lines
        const char *logged;
    };
    const Case cases[] = {
        {"locked",
         [](SimulatedMtpLibrary &l, MtpSimPhone &) { l.failCall(QStringLiteral("LIBMTP_Get_Files_And_Folders"), 1, -1); },
         {" - Failed: ", " - Failed: ", " - Failed: "},
         "did not list its photos"},
        {"gone after 3 MB", [](SimulatedMtpLibrary &, MtpSimPhone &p) { p.unplugAfterBytes(3 << 20); },
         {"could not be read from your old phone", " - Failed: ", " - Failed: "},
         "did not list its videos"},
        {"no playlists",
         [](SimulatedMtpLibrary &l, MtpSimPhone &) { l.failCall(QStringLiteral("LIBMTP_Get_Playlist_List"), 1, -1); },
         {" - Done (the playlists could not be read", " - Done", " - Done"},
         "playlists could not be read"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        testenv::removeTree(WindowsPhone7LocalDevice::storageFolderPath());
        std::mutex logMutex;
        QStringList log;
        LogSetSystemLogSink([&](const QString &line) {
            const std::lock_guard lock(logMutex);
            log.append(line);
        });
        AndroidFixtureRun run;
        ASSERT_TRUE(run.phone);
        NS_AppController &w = run.h.wizard();
        run.jobs->freeSpaceOfTarget = [](const VtrFileInfoPtr &) { return qint64(1) << 40; };
        e2e::useFinishedCompanionApp(w, *run.phone);
        QObject::connect(&w, &NS_AppController::stateEntered, [&](int state) {
            if (state != NS_AppController::kStateChooseData) return;
            w.setContactsValue(false);
            w.setCalendarsValue(false);
            c.fault(*run.h.phones.mtp(), *run.phone);
        });
        ASSERT_TRUE(run.runToEnd());
        const QString lines[] = {w.musicSummaryDone(), w.photosSummaryDone(), w.videosSummaryDone()};
        const std::shared_ptr<MediaMigrator> kinds[] = {run.jobs->migrators().music, run.jobs->migrators().photos,
                                                        run.jobs->migrators().videos};
        for (int k = 0; k < 3; ++k) {
            EXPECT_TRUE(lines[k].contains(QLatin1String(c.said[k]))) << k << ": \"" << lines[k].toStdString() << "\"";
            // The report's member for the kind.
            const QVariantMap report = kinds[k]->manifestInfo();
            if (lines[k] != QLatin1String(" - Done"))
                EXPECT_TRUE(report.contains(QStringLiteral("note")) || report.contains(QStringLiteral("not_moved_cnt"))) << k;
        }
        LogSetSystemLogSink({});
        EXPECT_TRUE(log.join(QLatin1Char('\n')).contains(QLatin1String(c.logged)));
    }
}

}  // namespace
