// The generate button's one-step transfer and its report: the button and the
// wizard's jobs never overlap, the report lands whole in "Migration Info" and
// agrees with the copied files, a report that cannot be written leaves an
// earlier one untouched, a run that changes the folder takes away a report
// of an earlier run, and the page, the bar and the log tell the run's end.

#include "support/EndToEnd.h"
#include "support/FamilyPhone.h"
#include "support/RealJobs.h"

#include "app/BackgroundJob.h"
#include "app/MediaTransfer.h"
#include "app/Scenes.h"
#include "devices/phone/WindowsPhone7LocalDevice.h"
#include "foundation/Json.h"
#include "foundation/Log.h"
#include "platform/Folders.h"

#include "TestEnvironment.h"
#include "TestFolders.h"

#include <QDir>
#include <QFile>
#include <QPoint>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>

#include <sys/stat.h>
#include <unistd.h>

// The camera library loads and unloads its driver modules (the iPhone's
// camera roll); what their dependencies set aside is matched by the library
// suppressions only when the whole stack is unwound.
extern "C" __attribute__((visibility("default"), used)) const char *__asan_default_options()
{
    return "fast_unwind_on_malloc=0";
}

namespace {

QString storage() { return WindowsPhone7LocalDevice::storageFolderPath(); }
QString reportPath() { return storage() + QStringLiteral("/Migration Info/sl_manifest.json"); }

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Exit code of a tool reading `path` on its standard input.
int toolAccepts(const QString &program, const QStringList &args, const QString &path)
{
    QProcess p;
    p.setStandardInputFile(path);
    p.setStandardOutputFile(QProcess::nullDevice());
    p.start(program, args);
    if (!p.waitForFinished(30000)) return -1;
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

struct FileTally
{
    int count = 0;
    qint64 bytes = 0;
};

FileTally tallyOf(const char *folder)
{
    FileTally t;
    for (const QFileInfo &f : QDir(storage() + QLatin1Char('/') + QLatin1String(folder)).entryInfoList(QDir::Files)) {
        ++t.count;
        t.bytes += f.size();
    }
    return t;
}

// The summary page waits for Next: nothing of the wizard's own moves on there.
constexpr int kSummaryState = 14;

// A run whose wizard has reached the summary page with a simulated
// Android phone: backup done, the new phone's folder in place, no job left.
struct AndroidAtCopyTransit : AndroidFixtureRun
{
    bool reach()
    {
        testenv::removeTree(storage());
        h.wizard().setCompanionAppFactory([](std::shared_ptr<MobileDeviceInterface>) {
            auto app = std::make_shared<FakeCompanionApp>();
            return std::shared_ptr<CompanionApp>(app);
        });
        return walk(kSummaryState) && idle();
    }
};

// The report on disk is valid JSON to the usual tools, is the transfer info,
// has every member, and counts and sizes what the target folders hold.
void expectReportAgreesWithFolders(NS_AppController &w, bool withContactsAndCalendars)
{
    ASSERT_TRUE(QFile::exists(reportPath()));
    EXPECT_EQ(toolAccepts(QStringLiteral("python3"), {QStringLiteral("-m"), QStringLiteral("json.tool")}, reportPath()), 0);
    EXPECT_EQ(toolAccepts(QStringLiteral("jq"), {QStringLiteral("-e"), QStringLiteral(".")}, reportPath()), 0);

    const QVariantMap report = vtr::JSONValueFromUtf8(readAll(reportPath())).toMap();
    EXPECT_EQ(report, w.transferInfo());
    for (const char *key : {"version", "exportdate", "tasks", "notes", "photos", "music", "videos"})
        EXPECT_TRUE(report.contains(QLatin1String(key))) << key;
    for (const char *key : {"contacts", "calendars"})
        EXPECT_EQ(report.contains(QLatin1String(key)), withContactsAndCalendars) << key;
    EXPECT_EQ(report.value("version").toInt(), 1);
    EXPECT_EQ(report.value("exportdate").toString().size(), 14);

    const struct
    {
        const char *member, *countKey, *folder;
    } kinds[] = {{"music", "song_cnt", "Music"}, {"photos", "photo_cnt", "Photos"}, {"videos", "video_cnt", "Videos"}};
    for (const auto &k : kinds) {
        const QVariantMap info = report.value(QLatin1String(k.member)).toMap();
        const FileTally files = tallyOf(k.folder);
        EXPECT_GT(files.count, 0) << k.folder;
        EXPECT_EQ(info.value(QLatin1String(k.countKey)).toInt(), files.count) << k.member;
        EXPECT_EQ(info.value("data_size").toLongLong(), files.bytes) << k.member;
    }
}

} // namespace

TEST(OneStep, NothingTickedStartsNothing)
{
    RealJobs run;
    NS_AppController &w = run.h.wizard();
    for (auto set : {&NS_AppController::setContactsValue, &NS_AppController::setCalendarsValue,
                     &NS_AppController::setTasksValue, &NS_AppController::setNotesValue,
                     &NS_AppController::setAppsValue})
        (w.*set)(false);
    w.setMusicValue(false);
    w.setPhotosValue(false);
    w.setVideosValue(false);
    const int buttons = w.buttonSet();
    w.generate();
    EXPECT_EQ(w.runningJobCount(), 0);
    EXPECT_EQ(w.buttonSet(), buttons);
    EXPECT_FALSE(run.jobs->generateRunning());
}

TEST(OneStep, TheButtonIsOffWhileAnyJobRuns)
{
    AndroidAtCopyTransit run;
    ASSERT_TRUE(run.reach());
    NS_AppController &w = run.h.wizard();
    EXPECT_TRUE(w.generateButton()->isEnabled());
    std::atomic<bool> release{false};
    w.runJob(new FunctionJob([&](FunctionJob &) {
        while (!release.load()) QThread::msleep(5);
        return BackgroundJob::successResult();
    }));
    EXPECT_FALSE(w.generateButton()->isEnabled());
    w.generate();  // a press that slipped through starts nothing
    EXPECT_EQ(w.runningJobCount(), 1);
    EXPECT_FALSE(run.jobs->generateRunning());
    release = true;
    ASSERT_TRUE(run.idle());
    EXPECT_TRUE(w.generateButton()->isEnabled());
}

TEST(OneStep, AnAndroidRunWritesAReportThatAgreesWithTheCopiedFiles)
{
    AndroidAtCopyTransit run;
    ASSERT_TRUE(run.reach());
    NS_AppController &w = run.h.wizard();
    w.setContactsValue(true);
    w.setCalendarsValue(true);
    w.setMusicValue(true);
    w.setPhotosValue(true);
    w.setVideosValue(true);
    w.setTransferInfo({});

    w.generate();
    ASSERT_TRUE(run.jobs->generateRunning());
    EXPECT_EQ(w.buttonSet(), NS_AppController::kButtonsNextDisabled);
    // The job refuses a second start while it runs.
    EXPECT_FALSE(run.jobs->generate(w));
    EXPECT_FALSE(w.generateButton()->isEnabled());
    ASSERT_TRUE(WizardHarness::waitFor([&] { return !w.transferInfo().isEmpty(); }, 120000));
    ASSERT_TRUE(run.idle());
    EXPECT_TRUE(w.generateButton()->isEnabled());
    EXPECT_FALSE(run.h.terminated);

    expectReportAgreesWithFolders(w, true);
    EXPECT_EQ(vtr::JSONValueFromUtf8(readAll(reportPath())).toMap().value("music").toMap().value("playlist_cnt").toInt(),
              tallyOf("Playlists").count);
}

TEST(OneStep, ABlackBerryRunWritesAReportThatAgreesWithTheCopiedFiles)
{
    testenv::removeTree(storage());
    const QString volume = testenv::makeTempDir(QStringLiteral("bbvol"));
    testenv::writeFile(volume + "/BlackBerry/music/Track.mp3", QByteArray(300000, 'm'));
    testenv::writeFile(volume + "/BlackBerry/pictures/IMG00001.jpg", QByteArray(200000, 'p'));
    testenv::writeFile(volume + "/BlackBerry/videos/VID00001.3gp", QByteArray(90000, 'v'));
    RealJobs run;
    NS_AppController &w = run.h.wizard();
    const QMetaObject::Connection mount = QObject::connect(&w, &AppController::oldDeviceChanged, [&w, volume] {
        if (w.oldDevice()) w.oldDevice()->addMountedPath(volume);
    });
    ASSERT_TRUE(run.h.walk([&] { return run.h.plugBlackBerry(); }, kSummaryState, 120000));
    QObject::disconnect(mount);
    ASSERT_TRUE(run.idle());
    w.setContactsValue(false);
    w.setCalendarsValue(false);
    w.setMusicValue(true);
    w.setPhotosValue(true);
    w.setVideosValue(true);
    w.setTransferInfo({});
    w.generate();
    ASSERT_TRUE(run.jobs->generateRunning());
    ASSERT_TRUE(WizardHarness::waitFor([&] { return !w.transferInfo().isEmpty(); }, 120000));
    ASSERT_TRUE(run.idle());
    expectReportAgreesWithFolders(w, false);
}

TEST(OneStep, AReportThatCannotBeWrittenLeavesTheOldOneAndSaysSo)
{
    AndroidAtCopyTransit run;
    ASSERT_TRUE(run.reach());
    NS_AppController &w = run.h.wizard();
    const QByteArray old = "{\"version\":1}";
    testenv::writeFile(reportPath(), old);

    // A value the JSON writer cannot express.
    w.setManifestSource(NS_AppController::ManifestKind::Notes,
                        std::make_shared<FixedManifest>(QVariantMap{{"where", QPoint(1, 2)}}));
    EXPECT_FALSE(w.buildManifestReport().isEmpty());
    EXPECT_EQ(readAll(reportPath()), old);

    // A folder where the report goes.
    w.setManifestSource(NS_AppController::ManifestKind::Notes, nullptr);
    ASSERT_TRUE(QFile::remove(reportPath()));
    ASSERT_TRUE(QDir().mkpath(reportPath()));
    EXPECT_FALSE(w.buildManifestReport().isEmpty());
    EXPECT_TRUE(QFileInfo(reportPath()).isDir());
    EXPECT_FALSE(w.transferInfo().isEmpty());

    ASSERT_TRUE(testenv::removeTree(reportPath()));
    EXPECT_TRUE(w.buildManifestReport().isEmpty());
    EXPECT_EQ(vtr::JSONValueFromUtf8(readAll(reportPath())).toMap(), w.transferInfo());

    // A link at a data file's name (its copy would not write through it) is
    // no file written: nothing of it is counted.
    const QString tasksFile = storage() + QStringLiteral("/Migration Info/sl_tasks.json");
    QFile::remove(tasksFile);
    ASSERT_TRUE(QFile::link(reportPath(), tasksFile));
    w.setManifestSource(NS_AppController::ManifestKind::Tasks,
                        std::make_shared<FixedManifest>(QVariantMap{
                            {"data_file", "sl_tasks.json"}, {"task_cnt", 3}, {"data_size", 96}, {"title", "Tasks"}}));
    EXPECT_TRUE(w.buildManifestReport().isEmpty());
    const QVariantMap tasks = vtr::JSONValueFromUtf8(readAll(reportPath())).toMap().value("tasks").toMap();
    EXPECT_FALSE(tasks.contains("data_file"));
    EXPECT_EQ(tasks.value("data_size").toLongLong(), 0);
    EXPECT_EQ(tasks.value("task_cnt").toInt(), 0);
}

namespace {

// Presses on until the wizard stands in `state` with no job left.
bool pressOnTo(RealJobs &run, int state)
{
    NS_AppController &w = run.h.wizard();
    return run.h.pressOn([&] { return w.currentState() == state; }, 120000) && w.currentState() == state && run.idle();
}

const QString kNotWithSimulatedPhone = QStringLiteral(" - Not moved: Windows Live is not used with a simulated phone.");
const QString kNotOnThisRoad = QStringLiteral(" - Not moved: the one-step transfer does not upload to Windows Live");

}  // namespace

TEST(OneStep, OfferedOnlyWhenTheDataAreReadAndNothingElseRuns)
{
    // Before the phone's data are read there is nothing to copy.
    {
        RealJobs run;
        NS_AppController &w = run.h.wizard();
        testenv::removeTree(storage());
        ASSERT_TRUE(run.h.walk([&] { return run.h.plugBlackBerry(); }, NS_AppController::kStateChooseData));
        EXPECT_FALSE(w.generateButton()->isEnabled());
        w.generate();
        EXPECT_EQ(w.runningJobCount(), 0);
        EXPECT_FALSE(run.jobs->generateRunning());
        EXPECT_FALSE(QFile::exists(reportPath()));
    }
    AndroidAtCopyTransit run;
    ASSERT_TRUE(run.reach());
    NS_AppController &w = run.h.wizard();
    EXPECT_TRUE(w.canGenerate());
    // Pages where a job, the phone or the upload is at work.
    for (int state : {2, 8, 12, 13, 17, 18, 19}) {
        w.setCurrentState(state);
        EXPECT_FALSE(w.canGenerate()) << state;
    }
    w.setCurrentState(14);
    w.setMusicValue(false);
    w.setPhotosValue(false);
    w.setVideosValue(false);
    EXPECT_TRUE(w.canGenerate()) << "the contacts and calendars read are moved too";
    w.setContactsValue(false);
    EXPECT_TRUE(w.canGenerate()) << "calendars alone";
    w.setCalendarsValue(false);
    EXPECT_FALSE(w.canGenerate()) << "nothing chosen that was read";
}

TEST(OneStep, OnlyContactsTickedStillWritesTheReportAndLeavesTheMediaFolders)
{
    AndroidAtCopyTransit run;
    ASSERT_TRUE(run.reach());
    NS_AppController &w = run.h.wizard();
    const QString earlier = storage() + QStringLiteral("/Music/earlier.mp3");
    testenv::writeFile(earlier, "an earlier copy");
    w.setCalendarsValue(false);
    w.setMusicValue(false);
    w.setPhotosValue(false);
    w.setVideosValue(false);
    w.setTransferInfo({});
    ASSERT_TRUE(w.generateButton()->isEnabled());
    w.generateButton()->click();
    ASSERT_TRUE(WizardHarness::waitFor([&] { return !w.transferInfo().isEmpty() && w.runningJobCount() == 0; }, 120000));
    const QVariantMap report = vtr::JSONValueFromUtf8(readAll(reportPath())).toMap();
    EXPECT_TRUE(report.contains(QStringLiteral("contacts")));
    EXPECT_FALSE(report.contains(QStringLiteral("calendars")));
    EXPECT_TRUE(QFile::exists(earlier));
}

TEST(OneStep, AfterAFinishedRunThePageTellsWhatMovedAndWhereTheReportIsAndQuitStaysQuit)
{
    AndroidAtCopyTransit run;
    ASSERT_TRUE(run.reach());
    NS_AppController &w = run.h.wizard();
    ASSERT_TRUE(pressOnTo(run, NS_AppController::kStateFinalSummary));
    // The wizard's own road: what was read of contacts and calendars, and why
    // it went nowhere; the media are done.
    EXPECT_EQ(w.contactsSummary(), QStringLiteral("2 Contacts"));
    EXPECT_EQ(w.contactsSummaryDone(), kNotWithSimulatedPhone);
    EXPECT_EQ(w.calendarSummaryDone(), kNotWithSimulatedPhone);
    for (const QString &done : {w.musicSummaryDone(), w.photosSummaryDone(), w.videosSummaryDone()})
        EXPECT_EQ(done, QStringLiteral(" - Done"));
    ASSERT_EQ(w.buttonSet(), NS_AppController::kButtonsQuit);
    ASSERT_TRUE(w.generateButton()->isEnabled());

    run.h.alerts.clear();
    bool barShown = false;
    QObject::connect(&w, &NS_AppController::singleProgressChanged, [&] { barShown = barShown || !w.singleProgressView()->isHidden(); });
    w.generateButton()->click();
    EXPECT_FALSE(w.generateButton()->isEnabled());
    EXPECT_NE(w.buttonSet(), NS_AppController::kButtonsQuit);
    ASSERT_TRUE(WizardHarness::waitFor([&] { return w.buttonSet() == NS_AppController::kButtonsQuit && w.runningJobCount() == 0; }, 120000));
    EXPECT_TRUE(barShown);
    // No alert at the end: the page says it. The bar's caption names the
    // report, the lines what became of each kind.
    EXPECT_TRUE(run.h.alerts.shown().isEmpty()) << qPrintable(run.h.alerts.titles().join(QLatin1Char('|')));
    EXPECT_FALSE(w.singleProgressView()->isHidden());
    EXPECT_TRUE(w.singleProgressText().contains(reportPath())) << w.singleProgressText().toStdString();
    EXPECT_EQ(w.contactsSummaryDone(), kNotOnThisRoad);
    EXPECT_EQ(w.musicSummaryDone(), QStringLiteral(" - Done"));
    // The page's Quit is still Quit, and the run has not ended.
    EXPECT_FALSE(run.h.terminated);

    // The report names only the data files that are in "Migration Info",
    // with their sizes; what went nowhere counts nothing.
    const QVariantMap report = vtr::JSONValueFromUtf8(readAll(reportPath())).toMap();
    const QDir info(storage() + QStringLiteral("/Migration Info"));
    for (const char *member : {"contacts", "calendars", "tasks", "notes"}) {
        const QVariantMap m = report.value(QLatin1String(member)).toMap();
        const QString file = m.value("data_file").toString();
        if (file.isEmpty()) {
            EXPECT_EQ(m.value("data_size").toLongLong(), 0) << member;
        } else {
            EXPECT_TRUE(info.exists(file)) << member;
            EXPECT_EQ(m.value("data_size").toLongLong(), QFileInfo(info.filePath(file)).size()) << member;
        }
    }
    EXPECT_FALSE(report.value("contacts").toMap().contains("data_file"));
    EXPECT_EQ(report.value("contacts").toMap().value("contact_cnt").toInt(), 0);
    EXPECT_EQ(report.value("calendars").toMap().value("event_cnt").toInt(), 0);
    expectReportAgreesWithFolders(w, true);
    // Every member writes its time as the fourteen-digit GMT text.
    for (const char *member : {"contacts", "music", "photos", "videos"}) {
        const QVariant stamp = report.value(QLatin1String(member)).toMap().value("timestamp");
        EXPECT_EQ(stamp.typeId(), QMetaType::QString) << member;
        EXPECT_TRUE(QRegularExpression(QStringLiteral("^[0-9]{14}$")).match(stamp.toString()).hasMatch()) << member;
    }
}

// The heading says the transfer is done only when the lines do: contacts
// and calendars that this road does not upload were not moved.
TEST(OneStep, OnTheSummaryPageARunEndsWithTheHeadingAndTextSayingItIsDoneAndWhereTheReportIs)
{
    AndroidAtCopyTransit run;
    ASSERT_TRUE(run.reach());
    NS_AppController &w = run.h.wizard();
    NS_TemplateSceneViewController *scene = w.scenesViewController()->templateController();
    ASSERT_TRUE(scene);
    // Before: the page invites a start, and tells the work ahead.
    EXPECT_EQ(scene->header(), QStringLiteral("Ready to move"));
    EXPECT_TRUE(w.timeEstimateText().startsWith(QStringLiteral("Estimated time remaining: about ")) &&
                !w.timeEstimateText().contains(QStringLiteral(" 0 ")))
        << w.timeEstimateText().toStdString();
    const int buttons = w.buttonSet();
    // The modes the person gave the new phone's folder and "Migration Info" stay.
    const QByteArray phoneFolder = QFile::encodeName(storage()), infoFolder = phoneFolder + "/Migration Info";
    ASSERT_TRUE(QDir().mkpath(QFile::decodeName(infoFolder)));
    ASSERT_TRUE(::chmod(phoneFolder.constData(), 0755) == 0 && ::chmod(infoFolder.constData(), 0750) == 0);
    for (const bool records : {true, false}) {
        SCOPED_TRACE(records);
        w.setContactsValue(records);
        w.setCalendarsValue(records);
        w.generateButton()->click();
        ASSERT_TRUE(WizardHarness::waitFor([&] { return w.generateButton()->isEnabled() && w.runningJobCount() == 0; },
                                           120000));
        struct stat phoneMode, infoMode;
        ASSERT_TRUE(::stat(phoneFolder.constData(), &phoneMode) == 0 && ::stat(infoFolder.constData(), &infoMode) == 0);
        EXPECT_EQ(phoneMode.st_mode & 0777, 0755u);
        EXPECT_EQ(infoMode.st_mode & 0777, 0750u);
        // After: what moved, and where the report is; Next stays as it was.
        EXPECT_EQ(w.currentState(), kSummaryState);
        EXPECT_EQ(w.contactsSummaryDone().toStdString(), records ? kNotOnThisRoad.toStdString() : "");
        EXPECT_EQ(scene->header().toStdString(), records ? "Not everything was moved" : "Your transfer is done");
        EXPECT_EQ(w.singleProgressText().startsWith(QStringLiteral("Done. ")), !records) << w.singleProgressText().toStdString();
        EXPECT_TRUE(scene->body().contains(reportPath())) << scene->body().toStdString();
        EXPECT_FALSE(scene->body().contains(QStringLiteral("Press"))) << scene->body().toStdString();
        EXPECT_EQ(w.buttonSet(), buttons);
    }

    // A link of the person's at the report's name, then in place of
    // "Migration Info": neither it nor what it points to changes, and the
    // page says that no report was written, naming the link and what to do.
    const QString home = platform::homeFolder();
    const QString notes = home + QStringLiteral("/notes.txt"), documents = home + QStringLiteral("/Documents");
    testenv::writeFile(notes, "my notes");
    testenv::writeFile(documents + QStringLiteral("/sl_manifest.json"), "my own list");
    const QString info = storage() + QStringLiteral("/Migration Info");
    const struct
    {
        QString link, target;
    } links[] = {{reportPath(), notes}, {info, documents}};
    for (const auto &[link, target] : links) {
        SCOPED_TRACE(link.toStdString());
        QFile::remove(reportPath());
        if (link == info) {
            ASSERT_TRUE(testenv::removeTree(info));
        }
        ASSERT_TRUE(QFile::link(target, link));
        w.generateButton()->click();
        ASSERT_TRUE(WizardHarness::waitFor([&] { return w.generateButton()->isEnabled() && w.runningJobCount() == 0; },
                                           120000));
        EXPECT_EQ(readAll(notes), "my notes");
        EXPECT_EQ(readAll(documents + QStringLiteral("/sl_manifest.json")), "my own list");
        EXPECT_EQ(QDir(documents).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                  QStringList{QStringLiteral("sl_manifest.json")});
        EXPECT_EQ(QFileInfo(link).symLinkTarget(), target);
        for (const QString &text : {scene->body(), w.singleProgressText()}) {
            EXPECT_TRUE(text.contains(QStringLiteral("No report of what was moved was written: ") + link + " is a link"))
                << text.toStdString();
            EXPECT_TRUE(QString(text).replace(QStringLiteral("&quot;"), QStringLiteral("\""))
                            .contains(QStringLiteral("left as it is. Remove the link \"%1\", then transfer again.").arg(link)))
                << text.toStdString();
            EXPECT_FALSE(text.contains(QStringLiteral("The report of what was moved is"))) << text.toStdString();
        }
    }
    // A folder of the person's at the report's name stays as it was, and the
    // page and the caption end with what to do about it.
    ASSERT_TRUE(QFile::remove(info) && QDir().mkpath(reportPath()));
    testenv::writeFile(reportPath() + QStringLiteral("/kept.txt"), "kept");
    w.generateButton()->click();
    ASSERT_TRUE(
        WizardHarness::waitFor([&] { return w.generateButton()->isEnabled() && w.runningJobCount() == 0; }, 120000));
    EXPECT_EQ(QDir(reportPath()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{QStringLiteral("kept.txt")});
    EXPECT_EQ(readAll(reportPath() + QStringLiteral("/kept.txt")), "kept");
    for (const QString &text : {scene->body(), w.singleProgressText()})
        EXPECT_TRUE(QString(text)
                        .remove(QRegularExpression(QStringLiteral("<[^>]*>")))
                        .replace(QStringLiteral("&quot;"), QStringLiteral("\""))
                        .endsWith(QStringLiteral("left as it is. Move \"%1\" out of the way, then transfer again.")
                                      .arg(reportPath())))
            << text.toStdString();
}

// On each family's summary page, the one-step run ends where the walk's last
// page would stand for the same outcome: on the last step of the sidebar,
// and with a caption that says what the heading says, and where the report is.
TEST(OneStep, EveryFamilysRunEndsWithTheSidebarAndCaptionOfItsHeading)
{
    int lastStep = 0;
    NS_ScenesViewController::sceneNameForState(NS_AppController::kStateFinalSummary, &lastStep);
    ASSERT_EQ(lastStep, 5);
    for (const int family : {e2e::kAndroid, e2e::kIPhone, e2e::kBlackBerry}) {
        SCOPED_TRACE(family);
        testenv::removeTree(storage());
        e2e::FamilyPhone phone(family);
        NS_AppController &w = phone.run->h.wizard();
        if (phone.mtp) e2e::useFinishedCompanionApp(w, *phone.mtp);
        ASSERT_TRUE(phone.run->h.walk([&] { return phone.plug(); }, kSummaryState, 120000) && phone.run->idle());
        w.setContactsValue(false);
        w.setCalendarsValue(false);
        NS_TemplateSceneViewController *scene = w.scenesViewController()->templateController();
        ASSERT_TRUE(scene);
        EXPECT_EQ(scene->sidebar(), 2);
        // First without room for any media, so that the second run, with
        // room for all, finds no earlier copies to clear.
        for (const bool room : {false, true}) {
            phone.run->jobs->freeSpaceOfTarget = [room](const VtrFileInfoPtr &) {
                return room ? qint64(1) << 40 : vtrmedia::kReservedBytes / 2;
            };
            w.generate();
            ASSERT_TRUE(WizardHarness::waitFor([&] { return w.generateButton()->isEnabled() && w.runningJobCount() == 0; },
                                               120000));
            const std::string heading = room ? "Your transfer is done" : "Not everything was moved";
            EXPECT_EQ(scene->header().toStdString(), heading);
            EXPECT_EQ(w.singleProgressText().toStdString(),
                      (room ? "Done." : heading + ".") + " The report of what was moved is \"" +
                          reportPath().toStdString() + "\".");
            EXPECT_EQ(scene->sidebar(), lastStep);
        }
    }
}

// A phone of many files that are not sound or video, some of them under a
// name that another file of their folder has: the walk and then the one-step
// run log each name given in place of another once, and of the many, the
// first ten and then their count, each time the files are filed.
TEST(OneStep, TheLogTellsEachRenameOnceAndOfManyFilesNotReadTheFirstTenAndTheirCount)
{
    testenv::removeTree(storage());
    AndroidFixtureRun run;
    ASSERT_TRUE(run.phone);
    MtpSimPhone *phone = run.phone;
    // The companion app's files make the wizard read the phone's listing
    // again and again.
    e2e::useFinishedCompanionApp(run.h.wizard(), *phone);
    const uint32_t storageId = phone->storageIds().front();
    const uint32_t music = phone->objectIdForPath(storageId, QStringLiteral("Music"));
    // With the fixture's 6 songs and 2 videos: 51 files filed, none sound or video.
    for (int i = 0; i < 30; ++i) phone->addFileOfSize(storageId, music, QStringLiteral("n%1.mp3").arg(i), 4000 + i);
    for (int i = 0; i < 13; ++i) phone->addFileOfSize(storageId, music, QStringLiteral("same.mp3"), 5000 + i);
    QStringList log;
    std::mutex logMutex;
    LogSetSystemLogSink([&](const QString &line) {
        const std::lock_guard lock(logMutex);
        log.append(line);
    });
    const std::shared_ptr<void> restore(nullptr, [](void *) { LogSetSystemLogSink({}); });
    NS_AppController &w = run.h.wizard();
    ASSERT_TRUE(run.walk(NS_AppController::kStateFinalSummary) && run.idle());
    // The walk's copies are kept (linked aside): the one-step run's copies
    // are new files, which the library has not filed before.
    const QByteArray aside = QFile::encodeName(testenv::makeTempDir(QStringLiteral("aside")));
    int linked = 0;
    for (const QString &folder : {QStringLiteral("/Music"), QStringLiteral("/Videos")})
        for (const QFileInfo &f : QDir(storage() + folder).entryInfoList(QDir::Files))
            ASSERT_EQ(::link(QFile::encodeName(f.filePath()).constData(), aside + '/' + QByteArray::number(++linked)), 0);
    const qsizetype walked = [&] {
        const std::lock_guard lock(logMutex);
        return log.size();
    }();
    w.generate();
    ASSERT_TRUE(WizardHarness::waitFor([&] { return w.generateButton()->isEnabled() && w.runningJobCount() == 0; },
                                       120000));
    LogSetSystemLogSink({});
    // Twelve names given, however often the phone's listing was read.
    EXPECT_EQ(log.filter(QRegularExpression(QStringLiteral("^MTP object .* has the name of object"))).size(), 10)
        << qPrintable(log.join('\n'));
    EXPECT_EQ(log.filter(QStringLiteral("more objects of the phone share a name")).join('|').toStdString(),
              "2 more objects of the phone share a name in their folder and are named with a number");
    for (const QStringList &ran : {log.mid(0, walked), log.mid(walked)}) {
        EXPECT_EQ(ran.filter(QStringLiteral("\" is not read as sound or video: ")).size(), 10) << qPrintable(ran.join('\n'));
        EXPECT_EQ(ran.filter(QStringLiteral("more files are not read")).join('|').toStdString(),
                  "41 more files are not read as sound or video");
    }
}

TEST(OneStep, AFailureEndsWithTheOneStepAlert)
{
    AndroidAtCopyTransit run;
    ASSERT_TRUE(run.reach());
    NS_AppController &w = run.h.wizard();
    // The job is stopped while it copies, as when the program is told to end.
    QObject::connect(&w, &NS_AppController::photosProgressChanged, [&] {
        for (BackgroundJob *job : w.findChildren<BackgroundJob *>()) job->cancel();
    });
    w.generate();
    ASSERT_TRUE(WizardHarness::waitFor([&] { return run.h.terminated; }, 120000));
    const AlertRequest &alert = run.h.alerts.shown().last();
    EXPECT_EQ(alert.messageText, QStringLiteral("An error occurred while transferring to your new device."));
    EXPECT_TRUE(alert.informativeText.startsWith(QStringLiteral("You will have to restart Solvenna and try again.\n\n(")))
        << alert.informativeText.toStdString();
    EXPECT_TRUE(alert.informativeText.endsWith(QLatin1Char(')')));
    EXPECT_EQ(alert.buttons, QStringList{QStringLiteral("Quit")});
}

// A report describes the folder only until a run changes it: a walk with
// another phone, or a one-step run stopped midway, takes it away when it
// begins.
TEST(OneStep, AnEarlierRunsReportGoesWhenARunChangesTheFolder)
{
    {
        AndroidAtCopyTransit run;
        ASSERT_TRUE(run.reach());
        run.h.wizard().generate();
        ASSERT_TRUE(WizardHarness::waitFor([&] { return !run.h.wizard().transferInfo().isEmpty(); }, 120000));
        ASSERT_TRUE(run.idle());
        ASSERT_TRUE(QFile::exists(reportPath()));
    }
    {
        const QString volume = testenv::makeTempDir(QStringLiteral("bbvol"));
        testenv::writeFile(volume + "/BlackBerry/pictures/IMG00001.jpg", QByteArray(2000, 'p'));
        RealJobs run;
        NS_AppController *w = &run.h.wizard();
        QObject::connect(w, &AppController::oldDeviceChanged, [w, volume] {
            if (w->oldDevice()) w->oldDevice()->addMountedPath(volume);
        });
        ASSERT_TRUE(run.runToEnd([&] { return run.h.plugBlackBerry(); }));
        EXPECT_TRUE(QFile::exists(storage() + QStringLiteral("/Photos/IMG00001.jpg")));
        EXPECT_FALSE(QFile::exists(reportPath()));
    }
    // So does a walk of media alone, which reads no records.
    {
        AndroidAtCopyTransit earlier;
        ASSERT_TRUE(earlier.reach());
        earlier.h.wizard().generate();
        ASSERT_TRUE(WizardHarness::waitFor([&] { return !earlier.h.wizard().transferInfo().isEmpty(); }, 120000));
        ASSERT_TRUE(earlier.idle());
        ASSERT_TRUE(QFile::exists(reportPath()));
    }
    {
        const QString volume = testenv::makeTempDir(QStringLiteral("bbvol"));
        testenv::writeFile(volume + "/BlackBerry/pictures/IMG00002.jpg", QByteArray(2000, 'q'));
        RealJobs run;
        NS_AppController *w = &run.h.wizard();
        QObject::connect(w, &AppController::oldDeviceChanged, [w, volume] {
            if (w->oldDevice()) w->oldDevice()->addMountedPath(volume);
        });
        QObject::connect(w, &NS_AppController::stateEntered, [w](int state) {
            if (state != NS_AppController::kStateChooseData) return;
            w->setContactsValue(false);
            w->setCalendarsValue(false);
            w->setTasksValue(false);
        });
        ASSERT_TRUE(run.runToEnd([&] { return run.h.plugBlackBerry(); }));
        EXPECT_TRUE(QFile::exists(storage() + QStringLiteral("/Photos/IMG00002.jpg")));
        EXPECT_FALSE(QFile::exists(reportPath()));
    }
    AndroidAtCopyTransit run;
    ASSERT_TRUE(run.reach());
    NS_AppController &w = run.h.wizard();
    w.generate();
    ASSERT_TRUE(WizardHarness::waitFor([&] { return !w.transferInfo().isEmpty(); }, 120000));
    ASSERT_TRUE(run.idle());
    ASSERT_TRUE(QFile::exists(reportPath()));
    QObject::connect(&w, &NS_AppController::photosProgressChanged, [&] {
        for (BackgroundJob *job : w.findChildren<BackgroundJob *>()) job->cancel();
    });
    w.generate();
    ASSERT_TRUE(WizardHarness::waitFor([&] { return run.h.terminated; }, 120000));
    EXPECT_FALSE(QFile::exists(reportPath()));
}

TEST(OneStep, WithoutANewPhoneNothingStartsAndTheBarSaysNothingOfACopy)
{
    AndroidAtCopyTransit run;
    ASSERT_TRUE(run.reach());
    NS_AppController &w = run.h.wizard();
    const QString text = w.singleProgressText();
    w.setNewDevice(nullptr);
    ASSERT_TRUE(w.canGenerate());
    w.generate();
    EXPECT_FALSE(run.jobs->generateRunning());
    EXPECT_EQ(w.singleProgressText(), text);
    EXPECT_FALSE(w.singleIndeterminate());
}
