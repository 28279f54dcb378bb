// Each family of phone against each way the desktop's library folders can
// stand in the way (none, music 555, a file in place of the videos or the
// pictures folder, pictures 555, a link to a disk that is not plugged in in
// place of the pictures or the music folder; all three at once, through a
// chain of links, a loop of links and a folder 555; a music folder that
// becomes a link to nothing after the start; the new phone's folders and the
// records links, until the start's remedy is followed): what the start (or the copy)
// says, what the choose page offers, what "Ready to move" promises, what the
// last page says and what reaches the new phone's folder agree, and a kind
// that nothing stopped lands as in the unblocked run. An iPhone's media are never filed
// into those folders, so nothing of them stops it and its run makes none of
// them. A kind that does not move is counted from the phone's listing:
// nothing of it is fetched, so it takes none of the space of what moves. File
// modes mean nothing to root: every case runs as the unprivileged user.

#include "support/EndToEnd.h"
#include "support/FamilyPhone.h"

#include "app/EnvironmentChecks.h"
#include "app/MediaTransfer.h"
#include "app/Scenes.h"
#include "app/SimulatedPhone.h"
#include "devices/camera/CameraConnection.h"
#include "devices/camera/CameraDetector.h"
#include "devices/mtp/sim/SimulatedMtpLibrary.h"
#include "devices/phone/MobileDevice.h"
#include "devices/phone/WindowsPhone7LocalDevice.h"
#include "foundation/Log.h"
#include "foundation/MigrationStatus.h"
#include "migration/DataMigrator.h"
#include "platform/Folders.h"
#include "sources/host/MediaLibraryHost.h"
#include "sources/host/PropertyListXml.h"

#include "TestEnvironment.h"
#include "TestFolders.h"
#include "support/LibraryTestFiles.h"

#include <QCheckBox>
#include <QDir>
#include <QDirIterator>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>

#include <gtest/gtest.h>

#include <mutex>

#include <sys/stat.h>
#include <sys/statvfs.h>

// The camera library loads and unloads its driver modules; what their
// dependencies set aside is matched by the library suppressions only when
// the whole stack is unwound.
extern "C" __attribute__((visibility("default"), used)) const char *__asan_default_options()
{
    return "fast_unwind_on_malloc=0";
}

namespace {

using e2e::kAndroid;
using e2e::kBlackBerry;
using e2e::kIPhone;
enum class Blocked { None, Music555, VideosFile, PicturesFile, Pictures555, PicturesLink, MusicLink, AllThree, MusicLinkLate,
                     OwnLinks };
// How a user folder stands: a folder, one of mode 555, a file, a link to a
// disk that is not plugged in, the same through a second link, a link to
// itself.
enum class Way { Open, Shut, File, Link, Chain, Loop };
enum Kind { kMusic, kPhotos, kVideos };
const char *const kKindNames[] = {"Music", "Photos", "Videos"};
const char *const kUserFolders[] = {"Music", "Pictures", "Videos"};

const QString kNotConfigured = QStringLiteral("iTunes has not been configured yet.");

// The Windows Live upload as it ends when the records arrive: the heading of
// the last page then depends on the media alone.
struct MovingLiveUpload final : LiveUploadDriver
{
    void checkAndWarnCalendarContactCounts(NS_AppController &c) override { c.gotoNextState(); }
    void startNextLiveUpload(NS_AppController &c) override
    {
        for (const QString *phase : {&vtrphase::Contacts, &vtrphase::Events}) {
            if (c.kindResult(*phase).outcome == NS_AppController::Outcome::Pending)
                c.setKindResult(*phase, NS_AppController::Outcome::Written);
            c.setStatusNow(QString(), *phase, 1.0);
        }
        c.setLivePIMState(2);
        NS_AppController *w = &c;
        c.performAfterDelay(QStringLiteral("gotoNextState"), 0, [w] { w->gotoNextState(); });
    }
};

// One phone of a family walked through the wizard with the real jobs, the
// real checks and the real media library, with what each page said.
struct FamilyRun : e2e::FamilyPhone
{
    explicit FamilyRun(int family) : FamilyPhone(family)
    {
        NS_AppController &w = run->h.wizard();
        w.setEnvironmentChecks(std::make_unique<HostEnvironmentChecks>(run->h.host));
        w.setLiveUploadDriver(std::make_unique<MovingLiveUpload>());
        run->jobs->libraryHostConfigured = [] { return MediaLibraryHost::shared().isConfigured(); };
        run->h.alerts.setWhileOpen([this](const AlertRequest &a) {
            if (a.messageText == kNotConfigured) run->h.alerts.answer(QStringLiteral("Skip Music"));
            // What an earlier run of these tests copied is copied again.
            if (a.messageText.startsWith(QStringLiteral("Files of an earlier transfer")))
                run->h.alerts.answer(QStringLiteral("Remove Them"));
        });
        QObject::connect(&w, &NS_AppController::stateEntered, [this, &w](int state) {
            if (state == NS_AppController::kStateChooseData) readChoosePage(w);
            if (state == 14) ready = pageLines(w);
        });
    }

    void readChoosePage(NS_AppController &w)
    {
        if (auto *label = w.chooseDataView()->findChild<QLabel *>(QStringLiteral("unavailableKinds")))
            chooseText = label->isVisibleTo(w.chooseDataView()) ? label->text() : QString();
        for (int k = 0; k < 3; ++k)
            if (auto *box = w.chooseDataView()->findChild<QCheckBox *>(QString::fromLatin1(kKindNames[k]).toLower() +
                                                                       QStringLiteral("Info")))
                offered[k] = box->isChecked() && box->isEnabled();
        // The desktop's address books are not this run's matter: only the
        // Android phone brings its records.
        if (family != kAndroid) {
            w.setContactsValue(false);
            w.setCalendarsValue(false);
        }
    }

    static QStringList pageLines(NS_AppController &w)
    {
        QStringList lines;
        for (const QLabel *label : w.transferSummaryView()->findChildren<QLabel *>())
            if (label->objectName() != QLatin1String("summaryEstimate") && label->isVisibleTo(w.transferSummaryView()))
                lines.append(label->text());
        return lines;
    }

    // To the last page, where the one-step road is still open.
    bool toTheEnd()
    {
        run->h.wizard().setState(NS_AppController::kStateWelcome);
        if (!run->h.walk([this] { return plug(); }, NS_AppController::kStateFinalSummary, 120000) || !run->idle())
            return false;
        last = pageLines(run->h.wizard());
        return true;
    }

    // The one-step transfer from the last page, to its end.
    bool oneStep()
    {
        NS_AppController &w = run->h.wizard();
        w.setTransferInfo({});
        w.generate();
        return WizardHarness::waitFor([&w] { return !w.transferInfo().isEmpty() && w.runningJobCount() == 0; }, 120000);
    }

    QString lastLine(Kind k) const
    {
        NS_AppController &w = run->h.wizard();
        const QString lines[][2] = {{w.musicSummary(), w.musicSummaryDone()},
                                    {w.photosSummary(), w.photosSummaryDone()},
                                    {w.videosSummary(), w.videosSummaryDone()}};
        return lines[k][0] + lines[k][1];
    }

    QString chooseText;
    bool offered[3] = {};
    QStringList ready, last;
};

struct Landed
{
    int files = 0;
    qint64 bytes = 0;
};

Landed landedIn(Kind k)
{
    Landed landed;
    QDirIterator it(QDir(WindowsPhone7LocalDevice::storageFolderPath()).filePath(QLatin1String(kKindNames[k])),
                    QDir::Files | QDir::Hidden);
    while (it.hasNext()) {
        ++landed.files;
        landed.bytes += QFileInfo(it.next()).size();
    }
    return landed;
}

// Where the user's folders are, each in the home folder.
QString userFolder(Kind k) { return QDir::cleanPath(platform::homeFolder()) + QLatin1Char('/') + QLatin1String(kUserFolders[k]); }

void setUserFolders()
{
    testenv::writeFile(qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/user-dirs.dirs"),
                       "XDG_MUSIC_DIR=\"" + userFolder(kMusic).toUtf8() + "\"\nXDG_PICTURES_DIR=\"" +
                           userFolder(kPhotos).toUtf8() + "\"\nXDG_VIDEOS_DIR=\"" + userFolder(kVideos).toUtf8() + "\"\n");
}

struct ModesRestored
{
    ~ModesRestored()
    {
        for (const Kind k : {kMusic, kPhotos, kVideos}) ::chmod(QFile::encodeName(userFolder(k)).constData(), 0755);
    }
};

// What each family's phone holds, as its lines count it and as it lands in
// the new phone's folder when nothing is in the way.
struct Holding
{
    const char *line;
    Landed landed;
};
Holding holding(int family, Kind k)
{
    static const Holding android[] = {{"6 Songs and 2 Playlists", {6, 37429248}}, {"2 Photos", {2, 3940352}},
                                      {"2 Videos", {2, 68157440}}};
    static const Holding iphone[] = {{"2 Songs and 1 Playlist", {2, 0}}, {"2 Photos", {2, 2150400}},
                                     {"1 Video", {1, 6291456}}};
    static const Holding blackberry[] = {{"3 Songs and 0 Playlists", {3, 5083136}}, {"2 Photos", {2, 1835008}},
                                         {"1 Video", {1, 4194304}}};
    return (family == kAndroid ? android : family == kIPhone ? iphone : blackberry)[k];
}

// Where a link to nothing in place of a user folder points, and the second
// link of a chain.
QString unpluggedFolder(Kind k) { return testenv::root() + QStringLiteral("/unplugged disk/") + QLatin1String(kUserFolders[k]); }
QString secondLink() { return QDir::cleanPath(platform::homeFolder()) + QStringLiteral("/M2"); }

struct Expected
{
    Way way[3] = {};    // how each user folder stands at the start
    bool late = false;  // the music folder becomes a link to nothing after the start
    bool stopped[3] = {};
    bool unfiled[3] = {};
    bool stoppedLate = false;  // the music, by the copy
    QStringList alerts;
    QString named[3];  // the folder each kind's line names, when not moved or not filed

    // What the alert naming folder `k` says of what stands there and what to do.
    QStringList remedy(Kind k) const
    {
        switch (late && k == kMusic ? Way::Link : way[k]) {
        case Way::Open: break;
        case Way::Shut: return {QStringLiteral("writable")};
        case Way::File: return {QStringLiteral("in the way")};
        case Way::Link: return {unpluggedFolder(k)};
        case Way::Chain: return {secondLink(), unpluggedFolder(k)};
        case Way::Loop: return {QStringLiteral("loop of links"), QStringLiteral("Remove the link")};
        }
        return {};
    }
    bool inTheWay(Kind k) const { return way[k] != Way::Open || (late && k == kMusic); }
};

Expected expectedFor(int family, Blocked blocked)
{
    Expected e;
    const QString photosTitle = QStringLiteral("The folder for your photos cannot be written.");
    const QString musicTitle = QStringLiteral("Your music cannot be added to your music library.");
    switch (blocked) {
    // Once what the start named is removed, nothing stands in the way.
    case Blocked::None:
    case Blocked::OwnLinks: break;
    case Blocked::Music555:
        e.way[kMusic] = Way::Shut;
        e.unfiled[kMusic] = true;
        e.alerts = {musicTitle};
        break;
    case Blocked::VideosFile:
        e.way[kVideos] = Way::File;
        e.stopped[kMusic] = e.unfiled[kVideos] = true;
        e.alerts = {QStringLiteral("Your videos cannot be added to your video library.")};
        break;
    // A link to nothing stands in the way as a file does.
    case Blocked::PicturesFile:
    case Blocked::PicturesLink:
        e.way[kPhotos] = blocked == Blocked::PicturesFile ? Way::File : Way::Link;
        e.stopped[kMusic] = e.stopped[kPhotos] = e.unfiled[kVideos] = true;
        e.alerts = {photosTitle};
        break;
    case Blocked::Pictures555:
        e.way[kPhotos] = Way::Shut;
        e.stopped[kPhotos] = true;
        e.alerts = {photosTitle};
        break;
    case Blocked::MusicLink:
        e.way[kMusic] = Way::Link;
        e.stopped[kMusic] = e.unfiled[kVideos] = true;
        e.alerts = {musicTitle};
        break;
    // Every folder is named at the start, each with what to do about it.
    case Blocked::AllThree:
        e.way[kMusic] = Way::Chain;
        e.way[kPhotos] = Way::Loop;
        e.way[kVideos] = Way::Shut;
        e.stopped[kMusic] = e.stopped[kPhotos] = e.unfiled[kVideos] = true;
        e.alerts = {photosTitle, musicTitle};
        break;
    // The copy meets it, and says it with what to do.
    case Blocked::MusicLinkLate:
        e.late = true;
        e.stoppedLate = e.unfiled[kVideos] = true;
        e.alerts = {musicTitle};
        break;
    }
    // A line names its own folder, or the one that stops the music library.
    Kind first = kMusic;
    for (const Kind k : {kVideos, kPhotos})
        if (!e.inTheWay(first) && e.inTheWay(k)) first = k;
    for (const Kind k : {kMusic, kPhotos, kVideos}) e.named[k] = userFolder(e.inTheWay(k) ? k : first);
    // Nothing of an iPhone is filed into the desktop's folders.
    return family == kIPhone ? Expected{{e.way[0], e.way[1], e.way[2]}, e.late} : e;
}

struct Case
{
    int family;
    Blocked blocked;
};

class BlockedFolders : public testing::TestWithParam<Case>
{
};

// The new phone's Music, Photos, Videos and Migration Info, and the data
// folder's copy records, are the person's links to folders of theirs: the
// start names every one of them at once, in one alert, each with what to do,
// and nothing goes through them. A person who goes on anyway is offered none
// of the media, each with its link and what to do, and the one-step transfer
// of the rest says so on their lines, under a heading that says that not
// everything was moved. Once what was named is removed, the next run moves
// everything as if nothing had stood in the way.
void ownLinksAreNamedAtOnceThenRemoved(int family)
{
    const QString storage = WindowsPhone7LocalDevice::storageFolderPath();
    const QString theirs = testenv::makeTempDir(QStringLiteral("documents"));
    QStringList links;
    for (const char *name : {"Music", "Photos", "Videos", "Migration Info"})
        links << storage + QLatin1Char('/') + QLatin1String(name);
    links << platform::dataFolder() + QStringLiteral("/Copy records");
    for (const QString &link : std::as_const(links)) {
        const QString target = theirs + QLatin1Char('/') + QFileInfo(link).fileName();
        ASSERT_TRUE(QDir().mkpath(target) && QDir().mkpath(QFileInfo(link).path()) && QFile::link(target, link));
    }
    const QString title = QStringLiteral("Folders that your transfer needs cannot be used.");
    {
        FamilyRun run(family);
        NS_AppController &w = run.run->h.wizard();
        w.setState(NS_AppController::kStateWelcome);
        ASSERT_TRUE(run.run->h.walk([&run] { return run.plug(); }, NS_AppController::kStateChooseData, 120000));
        ASSERT_EQ(run.run->h.alerts.titles().filter(QStringLiteral("cannot be")), QStringList{title});
        const QString text = run.run->h.alerts.shown().at(run.run->h.alerts.titles().indexOf(title)).informativeText;
        for (const QString &link : std::as_const(links))
            EXPECT_TRUE(text.contains(QStringLiteral("Remove the link \"%1\".").arg(link))) << text.toStdString();
        for (const Kind k : {kMusic, kPhotos, kVideos}) {
            EXPECT_FALSE(run.offered[k]);
            EXPECT_TRUE(run.chooseText.contains(QStringLiteral("Remove the link \"%1\"").arg(links.at(k))))
                << run.chooseText.toStdString();
        }
        // Only the Android phone's records are left to move.
        if (family == kAndroid) {
            ASSERT_TRUE(run.run->h.pressOn([&w] { return w.currentState() == 14; }, 120000));
            ASSERT_TRUE(run.oneStep());
            EXPECT_FALSE(run.run->h.terminated);
            for (const Kind k : {kMusic, kPhotos, kVideos})
                EXPECT_TRUE(run.lastLine(k).contains(
                    QStringLiteral(" - Not moved: the folder \"%1\" cannot be used: it is a link").arg(links.at(k))))
                    << run.lastLine(k).toStdString();
            EXPECT_EQ(w.scenesViewController()->templateController()->header(), QStringLiteral("Not everything was moved"));
        }
    }
    for (const QString &link : std::as_const(links)) {
        EXPECT_TRUE(QDir(theirs + QLatin1Char('/') + QFileInfo(link).fileName()).isEmpty()) << link.toStdString();
        ASSERT_TRUE(QFile::remove(link));
    }
    // A link in place of the new phone's folder itself is named alone, and
    // nothing goes through it either.
    const QString elsewhere = theirs + QStringLiteral("/phone");
    ASSERT_TRUE(QDir().mkpath(elsewhere) && testenv::removeTree(storage) && QFile::link(elsewhere, storage));
    {
        FamilyRun run(family);
        NS_AppController &w = run.run->h.wizard();
        w.setState(NS_AppController::kStateWelcome);
        ASSERT_TRUE(run.run->h.walk([&run] { return run.plug(); }, 14, 120000));
        const int at = run.run->h.alerts.titles().indexOf(title);
        ASSERT_GE(at, 0);
        const QString text = run.run->h.alerts.shown().at(at).informativeText;
        EXPECT_TRUE(text.contains(QStringLiteral("Remove the link \"%1\".").arg(storage))) << text.toStdString();
        EXPECT_FALSE(text.contains(storage + QStringLiteral("/"))) << text.toStdString();
        w.generate();
        ASSERT_TRUE(WizardHarness::waitFor([&run] { return run.run->h.terminated; }, 120000));
        EXPECT_TRUE(run.lastLine(kMusic).contains(QStringLiteral(" - Failed: \"%1\" is a link").arg(storage)))
            << run.lastLine(kMusic).toStdString();
    }
    EXPECT_TRUE(QDir(elsewhere).isEmpty());
    ASSERT_TRUE(QFile::remove(storage));
}

TEST_P(BlockedFolders, ThePagesAndTheNewPhoneAgreeOnWhatMoved)
{
    VTR_TEST_AS_UNPRIVILEGED_USER();
    const Case c = GetParam();
    setUserFolders();
    const ModesRestored restore;
    const Expected e = expectedFor(c.family, c.blocked);
    const auto linkToNothing = [](Kind k) { return QFile::link(unpluggedFolder(k), userFolder(k)); };
    for (const Kind k : {kMusic, kPhotos, kVideos}) {
        const QString folder = userFolder(k);
        switch (e.way[k]) {
        case Way::Open:
            if (c.family != kIPhone || (e.late && k == kMusic)) ASSERT_TRUE(QDir().mkpath(folder));
            break;
        case Way::Shut:
            ASSERT_TRUE(QDir().mkpath(folder));
            ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), 0555), 0);
            break;
        case Way::File: testenv::writeFile(folder, "not a folder"); break;
        case Way::Link: ASSERT_TRUE(linkToNothing(k)); break;
        case Way::Chain: ASSERT_TRUE(QFile::link(unpluggedFolder(k), secondLink()) && QFile::link(secondLink(), folder)); break;
        case Way::Loop: ASSERT_TRUE(QFile::link(folder, folder)); break;
        }
    }

    if (c.blocked == Blocked::OwnLinks) ASSERT_NO_FATAL_FAILURE(ownLinksAreNamedAtOnceThenRemoved(c.family));

    FamilyRun run(c.family);
    NS_AppController &w = run.run->h.wizard();
    // The music folder goes once the start has passed it: on the summary page.
    bool wentLate = false;
    if (e.late)
        QObject::connect(&w, &NS_AppController::stateEntered, [&](int state) {
            if (state == 14 && !wentLate)
                wentLate = testenv::removeTree(userFolder(kMusic)) && linkToNothing(kMusic);
        });
    ASSERT_TRUE(run.toTheEnd());
    EXPECT_EQ(wentLate, e.late);

    // The start (or the copy) says it once, naming every folder in the way
    // with what stands there and what to do about it.
    const QStringList titles = run.run->h.alerts.titles();
    EXPECT_EQ(titles.filter(QStringLiteral("cannot be")), e.alerts) << qPrintable(titles.join('|'));
    for (const Kind k : {kMusic, kPhotos, kVideos}) {
        if (e.alerts.isEmpty() || !e.inTheWay(k)) continue;
        SCOPED_TRACE(kUserFolders[k]);
        QString text;
        for (const AlertRequest &alert : run.run->h.alerts.shown())
            if (e.alerts.contains(alert.messageText) && alert.informativeText.contains(userFolder(k)))
                text = alert.informativeText;
        for (const QString &part : e.remedy(k))
            EXPECT_TRUE(text.contains(part, Qt::CaseInsensitive)) << text.toStdString();
        // Named alone, it is told no other folder's remedy.
        bool alone = true;
        for (const Kind other : {kMusic, kPhotos, kVideos})
            alone = alone && (other == k || !e.inTheWay(other) || !text.contains(userFolder(other)));
        if (alone) EXPECT_EQ(text.contains(QStringLiteral("writable")), e.way[k] == Way::Shut) << text.toStdString();
    }
    EXPECT_FALSE(titles.contains(kNotConfigured));
    bool anyStopped = e.stoppedLate;
    for (const Kind k : {kMusic, kPhotos, kVideos}) {
        SCOPED_TRACE(kKindNames[k]);
        const QString name = QLatin1String(kKindNames[k]);
        const Holding held = holding(c.family, k);
        const QString line = run.lastLine(k);
        const Landed landed = landedIn(k);
        anyStopped = anyStopped || e.stopped[k];
        EXPECT_EQ(run.offered[k], !e.stopped[k]);
        EXPECT_EQ(run.ready.contains(QStringLiteral("Skipping ") + name), e.stopped[k]) << qPrintable(run.ready.join('|'));
        if (e.stopped[k]) {
            EXPECT_TRUE(run.chooseText.contains(name + QStringLiteral(": ")) && run.chooseText.contains(e.named[k]))
                << run.chooseText.toStdString();
        } else {
            EXPECT_FALSE(run.chooseText.contains(name + QStringLiteral(": "))) << run.chooseText.toStdString();
            EXPECT_EQ(run.ready.filter(QLatin1String(held.line)).size(), 1) << qPrintable(run.ready.join('|'));
        }
        if (e.stopped[k] || (e.stoppedLate && k == kMusic)) {
            EXPECT_TRUE(line.startsWith(QLatin1String(held.line) + QStringLiteral(" - Not moved: ")) &&
                        line.contains(e.named[k]))
                << line.toStdString();
            EXPECT_EQ(landed.files, 0);
            continue;
        }
        if (e.unfiled[k])
            EXPECT_TRUE(line.startsWith(QLatin1String(held.line) + QStringLiteral(" - Done (")) &&
                        line.contains(QStringLiteral("could not be added to your")) && line.contains(e.named[k]))
                << line.toStdString();
        else
            EXPECT_EQ(line, QLatin1String(held.line) + QStringLiteral(" - Done"));
        EXPECT_EQ(landed.files, held.landed.files);
        if (held.landed.bytes > 0) EXPECT_EQ(landed.bytes, held.landed.bytes);
    }
    // What stayed behind is headlined, whatever moved.
    EXPECT_EQ(w.scenesViewController()->templateController()->header() == QStringLiteral("Not everything was moved"),
              anyStopped);
    // Nor is any of them made for an iPhone.
    if (c.family == kIPhone)
        for (const Kind k : {kMusic, kPhotos, kVideos})
            EXPECT_EQ(QFileInfo(userFolder(k)).isSymLink() || QFileInfo::exists(userFolder(k)), e.inTheWay(k))
                << kUserFolders[k];
    // The one-step road never stops for the music library: a folder that
    // went after the start leaves its songs copied but not filed there,
    // which its lines say.
    if (e.late) return;

    // The one-step road from the last page says the same of the media, and
    // its heading agrees with its lines (its contacts and calendars are not
    // uploaded: the Android phone's say so).
    QString walked[3];
    for (const Kind k : {kMusic, kPhotos, kVideos}) walked[k] = run.lastLine(k);
    ASSERT_TRUE(run.oneStep());
    for (const Kind k : {kMusic, kPhotos, kVideos}) {
        EXPECT_EQ(run.lastLine(k), walked[k]);
        EXPECT_EQ(landedIn(k).files, e.stopped[k] ? 0 : holding(c.family, k).landed.files) << kKindNames[k];
    }
    const bool notMoved = !FamilyRun::pageLines(w).filter(QRegularExpression(QStringLiteral(" - (Not moved|Failed)"))).isEmpty();
    EXPECT_EQ(w.scenesViewController()->templateController()->header() == QStringLiteral("Not everything was moved"),
              notMoved)
        << qPrintable(FamilyRun::pageLines(w).join('|'));
}

std::string caseName(const testing::TestParamInfo<Case> &info)
{
    static const char *const families[] = {"", "Android", "IPhone", "BlackBerry"};
    static const char *const blocked[] = {"Unblocked",   "Music555", "VideosAFile", "PicturesAFile",
                                          "Pictures555", "PicturesALinkToNothing", "MusicALinkToNothing",
                                          "MusicThroughALinkPicturesALoopAndVideos555", "MusicALinkToNothingAfterTheStart",
                                          "TheNewPhonesFoldersAndTheRecordsLinks"};
    return std::string(families[info.param.family]) + blocked[int(info.param.blocked)];
}

std::vector<Case> allCases()
{
    std::vector<Case> cases;
    for (const int family : {kAndroid, kIPhone, kBlackBerry})
        for (const Blocked b : {Blocked::None, Blocked::Music555, Blocked::VideosFile, Blocked::PicturesFile,
                                Blocked::Pictures555, Blocked::PicturesLink, Blocked::MusicLink, Blocked::AllThree,
                                Blocked::MusicLinkLate, Blocked::OwnLinks})
            cases.push_back({family, b});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(EachFamily, BlockedFolders, testing::ValuesIn(allCases()), caseName);

// One of the new phone's folders in the way at the start: a link to a folder
// of the person's, or a file, in its place.
struct NewPhoneFolder
{
    int family;
    const char *folder;
    bool link;
};

class NewPhoneFolderInTheWay : public testing::TestWithParam<NewPhoneFolder>
{
};

// The start names the folder; its kind alone is left out, on the choose page
// and on its line, each saying why and what to do, and every other kind
// moves whole, on the walk and then on the one-step road, under a heading
// that says that not everything was moved. Nothing goes into the folder the
// link leads to. "Playlists" in the way leaves out the playlists alone, and
// "Migration Info" the report alone: every kind moves.
TEST_P(NewPhoneFolderInTheWay, LeavesOutOnlyItsKind)
{
    const NewPhoneFolder c = GetParam();
    setUserFolders();
    for (const Kind k : {kMusic, kPhotos, kVideos})
        if (c.family != kIPhone) ASSERT_TRUE(QDir().mkpath(userFolder(k)));
    const QString storage = QDir::cleanPath(WindowsPhone7LocalDevice::storageFolderPath());
    const QString path = storage + QLatin1Char('/') + QLatin1String(c.folder);
    const QString theirs = testenv::makeTempDir(QStringLiteral("documents"));
    ASSERT_TRUE(QDir().mkpath(storage));
    if (c.link) ASSERT_TRUE(QFile::link(theirs, path));
    else testenv::writeFile(path, "not a folder");
    int left = -1;
    for (const Kind k : {kMusic, kPhotos, kVideos})
        if (QLatin1String(c.folder) == QLatin1String(kKindNames[k])) left = k;

    FamilyRun run(c.family);
    NS_AppController &w = run.run->h.wizard();
    ASSERT_TRUE(run.toTheEnd());
    const QString title = QStringLiteral("Folders that your transfer needs cannot be used.");
    const int at = run.run->h.alerts.titles().indexOf(title);
    ASSERT_GE(at, 0) << qPrintable(run.run->h.alerts.titles().join('|'));
    const QString alert = run.run->h.alerts.shown().at(at).informativeText;
    EXPECT_TRUE(alert.contains(path)) << alert.toStdString();
    // Its line says what continuing does to its kind.
    EXPECT_EQ(alert.contains(QStringLiteral("If you continue, your %1 ").arg(QString::fromLatin1(c.folder).toLower())),
              left >= 0)
        << alert.toStdString();
    EXPECT_EQ(run.chooseText.contains(path), left >= 0) << run.chooseText.toStdString();
    const auto everyLineAgrees = [&](const char *road) {
        SCOPED_TRACE(road);
        for (const Kind k : {kMusic, kPhotos, kVideos}) {
            SCOPED_TRACE(kKindNames[k]);
            const Holding held = holding(c.family, k);
            const QString line = run.lastLine(k);
            if (k == left) {
                EXPECT_FALSE(run.offered[k]);
                EXPECT_TRUE(line.startsWith(QLatin1String(held.line) + QStringLiteral(" - Not moved: the folder \"") +
                                            path + QStringLiteral("\" cannot be used: ")) &&
                            line.contains(c.link ? QStringLiteral("Remove the link") : QStringLiteral("in the way")))
                    << line.toStdString();
                continue;
            }
            EXPECT_TRUE(run.offered[k]);
            // The playlists' own line is not this test's matter.
            if (k != kMusic || QLatin1String(c.folder) != QLatin1String("Playlists"))
                EXPECT_EQ(line.toStdString(), held.line + std::string(" - Done"));
            EXPECT_EQ(landedIn(k).files, held.landed.files);
            if (held.landed.bytes > 0) EXPECT_EQ(landedIn(k).bytes, held.landed.bytes);
        }
        const std::string header = w.scenesViewController()->templateController()->header().toStdString();
        if (left >= 0) EXPECT_EQ(header, "Not everything was moved");
        else EXPECT_NE(header, "The transfer failed");
        EXPECT_TRUE(QDir(theirs).isEmpty());
        EXPECT_EQ(QFileInfo(path).isSymLink(), c.link);
    };
    everyLineAgrees("walk");
    ASSERT_TRUE(run.oneStep());
    EXPECT_FALSE(run.run->h.terminated);
    everyLineAgrees("one step");
}

// A folder of the new phone's that comes in the way only after the start
// (here "Photos", a link made on the "Ready to move" page) was not foreseen:
// its copy fails and ends the transfer there, as any copy that fails does.
TEST(NewPhoneFolderInTheWay, AfterTheStartEndsTheTransferAtItsKind)
{
    setUserFolders();
    for (const Kind k : {kMusic, kPhotos, kVideos}) ASSERT_TRUE(QDir().mkpath(userFolder(k)));
    const QString photos = QDir::cleanPath(WindowsPhone7LocalDevice::storageFolderPath()) + QStringLiteral("/Photos");
    const QString theirs = testenv::makeTempDir(QStringLiteral("documents"));
    FamilyRun run(kAndroid);
    NS_AppController &w = run.run->h.wizard();
    w.setState(NS_AppController::kStateWelcome);
    ASSERT_TRUE(run.run->h.walk([&run] { return run.plug(); }, 14, 120000));
    EXPECT_TRUE(run.offered[kPhotos]);
    testenv::removeTree(photos);
    ASSERT_TRUE(QDir().mkpath(QFileInfo(photos).path()) && QFile::link(theirs, photos));
    ASSERT_TRUE(run.run->h.pressOn([] { return false; }, 120000));
    EXPECT_TRUE(run.run->h.terminated);
    EXPECT_EQ(run.lastLine(kMusic).toStdString(), holding(kAndroid, kMusic).line + std::string(" - Done"));
    EXPECT_TRUE(run.lastLine(kPhotos).contains(QStringLiteral(" - Failed: \"%1\" is a link").arg(photos)))
        << run.lastLine(kPhotos).toStdString();
    EXPECT_TRUE(run.lastLine(kVideos).endsWith(QStringLiteral(" - Not moved: the transfer ended before their turn")))
        << run.lastLine(kVideos).toStdString();
    EXPECT_EQ(w.scenesViewController()->templateController()->header().toStdString(), "The transfer failed");
    EXPECT_TRUE(QDir(theirs).isEmpty());
}

std::vector<NewPhoneFolder> newPhoneFolderCases()
{
    std::vector<NewPhoneFolder> cases;
    for (const int family : {kAndroid, kIPhone, kBlackBerry})
        for (const char *folder : {"Music", "Photos", "Videos", "Playlists", "Migration Info"})
            for (const bool link : {true, false})
                // The BlackBerry brings no playlists to write.
                if (family != kBlackBerry || QLatin1String(folder) != QLatin1String("Playlists"))
                    cases.push_back({family, folder, link});
    return cases;
}

std::string newPhoneFolderName(const testing::TestParamInfo<NewPhoneFolder> &info)
{
    static const char *const families[] = {"", "Android", "IPhone", "BlackBerry"};
    return std::string(families[info.param.family]) + QString::fromLatin1(info.param.folder).remove(' ').toStdString() +
           (info.param.link ? "ALink" : "AFile");
}

INSTANTIATE_TEST_SUITE_P(EachFamily, NewPhoneFolderInTheWay, testing::ValuesIn(newPhoneFolderCases()),
                         newPhoneFolderName);

// Bytes below `folder`, as a shared disk would count them.
qint64 bytesBelow(const QString &folder)
{
    qint64 bytes = 0;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) bytes += QFileInfo(it.next()).size();
    return bytes;
}

// The music a file in place of the videos folder stops, on a home just
// large enough for the photos and videos: the phone's songs are counted,
// never fetched, and the chosen kinds fit as if the phone had none.
TEST(StoppedMedia, AreCountedFromThePhonesListingAndTakeNoSpace)
{
    setUserFolders();
    testenv::writeFile(userFolder(kVideos), "not a folder");
    FamilyRun run(kAndroid);
    ASSERT_TRUE(run.mtp);
    // The temporary folder and the new phone's folder share a disk with room
    // for the photos and videos twice (their backup and their copy), and
    // not for a song more.
    const qint64 media = holding(kAndroid, kPhotos).landed.bytes + holding(kAndroid, kVideos).landed.bytes;
    const qint64 disk = vtrmedia::kReservedBytes + 2 * media + (1 << 20);
    run.run->jobs->freeSpaceOfTarget = [disk](const VtrFileInfoPtr &) {
        return disk - bytesBelow(platform::temporaryFolder()) - bytesBelow(WindowsPhone7LocalDevice::storageFolderPath());
    };
    run.run->h.phones.mtp()->setCallLogEnabled(true);
    ASSERT_TRUE(run.toTheEnd());

    QStringList fetched;
    for (const auto &call : run.run->h.phones.mtp()->callLog())
        if (call.function.startsWith(QLatin1String("LIBMTP_Get_File_To")))
            if (const auto object = run.mtp->object(call.arguments.mid(3).toUInt()))
                fetched.append(object->name);
    EXPECT_TRUE(fetched.filter(QRegularExpression(QStringLiteral("\\.(mp3|m4a|flac|ogg)$"))).isEmpty())
        << qPrintable(fetched.join('|'));
    EXPECT_TRUE(run.lastLine(kMusic).startsWith(QStringLiteral("6 Songs and 2 Playlists - Not moved: ")))
        << run.lastLine(kMusic).toStdString();
    EXPECT_EQ(landedIn(kVideos).files, 2);
    EXPECT_FALSE(run.lastLine(kVideos).contains(QStringLiteral("did not fit"))) << run.lastLine(kVideos).toStdString();
    EXPECT_EQ(landedIn(kPhotos).files, 2);
}

// The bytes that "Free 80.1 MB more" in `text` stands for, to the byte above;
// -1 without such words.
qint64 amountToFree(const QString &text)
{
    const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("Free (\\d+)\\.(\\d) ([KMG])B more")).match(text);
    if (!m.hasMatch()) return -1;
    const qint64 unit = qint64(1) << (10 + 10 * QStringLiteral("KMG").indexOf(m.captured(3)));
    return ((m.captured(1).toLongLong() * 10 + m.captured(2).toLongLong()) * unit + 9) / 10;
}

QStringList spaceAlerts(const FamilyRun &run)
{
    QStringList texts;
    for (const AlertRequest &alert : run.run->h.alerts.shown())
        if (alert.messageText.startsWith(QStringLiteral("There is not enough space"))) texts << alert.informativeText;
    return texts;
}

// Each family with its pictures folder a link to a folder of the home that
// is not there yet, on a disk that holds the home with all the run writes
// there (the backup, the copies, the library's copies, the records) and,
// beyond the reserve and the backup, a part of what is chosen: the alert says
// how much to free for all of the media, counting the music and photos the
// folder stops as the phone lists them, the same on the walk and on the
// one-step road from the same start, and a kind that did not wholly fit says
// how much of it did not. With exactly that much freed and the folder made,
// the next run moves everything on either road; the Android phone also with
// less room (none of its videos fits) and with none beyond the reserve. The
// amount is no more than the next run needs: freed 10 % short, something
// stays behind, also after a full run, when the library holds what the next
// run copies again, and with the backups on another disk (not counted).
TEST(StoppedMedia, AreCountedInWhatTheSpaceAlertSaysToFree)
{
    setUserFolders();
    const QString later = QDir::cleanPath(platform::homeFolder()) + QStringLiteral("/Later/Pictures");
    // The disk is sized at a run's first look when `disk` is 0: `room` (a
    // part of what is chosen) beyond the reserve and what the home holds.
    qint64 disk = 0;
    double room = 0;
    const auto startOver = [&] {
        disk = 0;
        for (const QString &folder :
             {WindowsPhone7LocalDevice::storageFolderPath(), platform::dataFolder(), QFileInfo(later).path()})
            testenv::removeTree(folder);
        for (const Kind k : {kMusic, kPhotos, kVideos}) {
            QFile::remove(userFolder(k));
            testenv::removeTree(userFolder(k));
            if (k != kPhotos) QDir().mkpath(userFolder(k));
        }
        return QFile::link(later, userFolder(kPhotos));
    };
    struct Run
    {
        QStringList alerts;
        QString lines[3];
        bool moved = true;  // every kind "Done" and all of it landed
    };
    // A run on the walk, or on the one-step road from the summary page.
    const auto transfer = [&](int family, bool oneStep) {
        FamilyRun run(family);
        run.run->jobs->freeSpaceOfTarget = [&](const VtrFileInfoPtr &) {
            const qint64 used = bytesBelow(platform::homeFolder());
            qint64 chosen = 0;
            for (const Kind k : {kMusic, kPhotos, kVideos}) chosen += run.run->jobs->mediaWork(k).bytes;
            if (disk == 0) disk = vtrmedia::kReservedBytes + used + qint64(room * double(chosen));
            return disk - used;
        };
        run.run->h.wizard().setState(NS_AppController::kStateWelcome);
        EXPECT_TRUE(oneStep ? run.run->h.walk([&run] { return run.plug(); }, 14, 120000) && run.oneStep()
                            : run.toTheEnd());
        Run out{spaceAlerts(run)};
        for (const Kind k : {kMusic, kPhotos, kVideos}) {
            out.lines[k] = run.lastLine(k);
            out.moved = out.moved &&
                        out.lines[k] == QLatin1String(holding(family, k).line) + QStringLiteral(" - Done") &&
                        landedIn(k).files == holding(family, k).landed.files;
        }
        return out;
    };
    // Frees `part` of what the run's alert names; the amount.
    const auto freeing = [&](const Run &run, double part) {
        EXPECT_EQ(run.alerts.size(), 1);
        const qint64 amount = amountToFree(run.alerts.value(0));
        EXPECT_GT(amount, 0) << run.alerts.value(0).toStdString();
        disk += qint64(part * double(amount));
        QDir().mkpath(later);
        return amount;
    };

    int partly = 0;
    struct Case
    {
        int family;
        double room;
        bool oneStep;
        double freed;  // the part of the amount named
    };
    const Case cases[] = {{kIPhone, 0.5, true, 1},   {kBlackBerry, 0.5, false, 1}, {kBlackBerry, 0.5, true, 1},
                          {kAndroid, 0.2, true, 1},  {kAndroid, -1, false, 1},     {kAndroid, 0.5, false, 0.9},
                          {kAndroid, 0.5, false, 1}, {kAndroid, 0.5, true, 1}};
    Run before;
    qint64 named = -1;
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.family << " with " << c.room << (c.oneStep ? ", one step, " : ", walk, ")
                                        << c.freed);
        ASSERT_TRUE(startOver());
        room = c.room;
        const Run first = transfer(c.family, c.oneStep);
        const qint64 amount = freeing(first, c.freed);
        EXPECT_TRUE(first.alerts.value(0).contains(QStringLiteral("all of your music, photos and videos")));
        for (const Kind k : {kMusic, kPhotos, kVideos}) {
            const int landed = landedIn(k).files, held = holding(c.family, k).landed.files;
            if (landed == 0 || landed == held) continue;
            ++partly;
            EXPECT_TRUE(first.lines[k].contains(QRegularExpression(
                QStringLiteral(" - Done \\(%1 did not fit on your new device: \\d+\\.\\d [KMG]B[;)]")
                    .arg(held - landed))))
                << first.lines[k].toStdString();
        }
        // From the same start, the same on either road.
        if (&c != cases && c.family == (&c - 1)->family && c.room == (&c - 1)->room) {
            EXPECT_EQ(amount, named);
            for (const Kind k : {kMusic, kPhotos, kVideos}) EXPECT_EQ(first.lines[k], before.lines[k]);
        }
        before = first;
        named = amount;
        const Run next = transfer(c.family, c.oneStep);
        EXPECT_EQ(next.moved, c.freed == 1) << next.lines[0].toStdString() << next.lines[1].toStdString()
                                            << next.lines[2].toStdString();
        if (next.moved) EXPECT_EQ(next.alerts, QStringList());
    }
    // Some kind took only a part of its media.
    EXPECT_GT(partly, 0);

    // After that full run, 30 % of the media short of the reserve: the
    // library holds all that is copied again, and no room is asked for it.
    disk = 0;
    room = -0.3;
    freeing(transfer(kAndroid, false), 0.9);
    EXPECT_FALSE(transfer(kAndroid, false).moved);
    // The backups on another disk (shared memory, where it is one with
    // room) take none of this one's room.
    struct stat home, shm;
    struct statvfs shmDisk;
    char other[] = "/dev/shm/vtr-space-XXXXXX";
    if (::stat(QFile::encodeName(platform::homeFolder()).constData(), &home) != 0 || ::stat("/dev/shm", &shm) != 0 ||
        home.st_dev == shm.st_dev || ::statvfs("/dev/shm", &shmDisk) != 0 ||
        qint64(shmDisk.f_bavail) * qint64(shmDisk.f_frsize) < (qint64(1) << 28) || !::mkdtemp(other))
        return;
    const auto back = qScopeGuard([&other] {
        platform::setTemporaryFolderOverride(QString());
        testenv::removeTree(QFile::decodeName(other));
    });
    platform::setTemporaryFolderOverride(QFile::decodeName(other) + QStringLiteral("/tmp"));
    ASSERT_TRUE(startOver());
    room = 0.5;
    freeing(transfer(kAndroid, false), 0.9);
    EXPECT_FALSE(transfer(kAndroid, false).moved);
}

// A phone that cannot be listed while its stopped music is counted: there is
// nothing of it to move, so nothing to ask; its line says it was not moved,
// and the log keeps the phone's error behind its short count.
TEST(StoppedMedia, AFailureWhileCountingThemAsksNothing)
{
    setUserFolders();
    testenv::writeFile(userFolder(kVideos), "not a folder");
    FamilyRun run(kAndroid);
    ASSERT_TRUE(run.mtp);
    NS_AppController &w = run.run->h.wizard();
    const std::shared_ptr<SimulatedMtpLibrary> library = run.run->h.phones.mtp();
    // Only the media are chosen, so that nothing reads the phone between the
    // choice and the backup, which counts the music first.
    QObject::connect(&w, &NS_AppController::stateEntered, [library, &w](int state) {
        if (state == NS_AppController::kStateChooseData) {
            w.setContactsValue(false);
            w.setCalendarsValue(false);
            w.setAppsValue(false);
        }
        if (state == 10) library->failCall(QStringLiteral("LIBMTP_Get_Files_And_Folders"), 1, -1);
    });
    std::mutex logMutex;
    QStringList log;
    LogSetSystemLogSink([&](const QString &line) {
        const std::lock_guard lock(logMutex);
        log.append(line);
    });
    const bool ended = run.toTheEnd();
    LogSetSystemLogSink({});
    ASSERT_TRUE(ended);
    EXPECT_EQ(log.filter(QStringLiteral("The music not moved could not be counted: ")).size(), 1)
        << qPrintable(log.join('\n'));
    EXPECT_TRUE(run.run->h.alerts.titles().filter(QStringLiteral("backing up music")).isEmpty())
        << qPrintable(run.run->h.alerts.titles().join('|'));
    EXPECT_TRUE(run.lastLine(kMusic).contains(QStringLiteral(" - Not moved: the music library needs the folder")))
        << run.lastLine(kMusic).toStdString();
    EXPECT_TRUE(run.run->h.visited.contains(NS_AppController::kStateFinalSummary));
    // A count that failed is no phone without music: its "0 Songs" stays
    // behind on the heading.
    EXPECT_FALSE(w.kindHeldNothing(vtrphase::Music));
}

// A phone whose music a library folder stops, unplugged on its own pages,
// then an iPhone: what stopped the first phone does not hold for the next,
// which is offered its music and moves it. (A phone plugged in on the choose
// page itself goes on with the first one's pages.)
TEST(StoppedMedia, AreOfferedAgainToTheNextPhone)
{
    setUserFolders();
    testenv::writeFile(userFolder(kVideos), "not a folder");
    FamilyRun run(kIPhone);
    NS_AppController &w = run.run->h.wizard();
    QString error;
    const std::unique_ptr<vtrapp::SimulatedPhone> blackBerry =
        vtrapp::SimulatedPhone::load(testenv::sourcePath(QStringLiteral("app/data/simulated_blackberry.json")), &error);
    ASSERT_TRUE(blackBerry) << qPrintable(error);
    ASSERT_TRUE(blackBerry->materialize(testenv::makeTempDir(QStringLiteral("blackberry")), &error)) << qPrintable(error);
    // Its volume, mounted as it arrives, goes with it alone.
    QObject::connect(&w, &AppController::oldDeviceChanged, &w, [&w, volume = blackBerry->volumePath()] {
        const std::shared_ptr<MobileDevice> phone = w.oldDevice();
        if (phone && phone->isBlackBerry() && !phone->hasMountedPath(volume)) phone->addMountedPath(volume);
    });
    const auto plugBlackBerry = [&] {
        blackBerry->plug(*run.run->h.phones.usb());
        return WizardHarness::waitFor([&w] { return w.isOldDeviceConnected(); });
    };
    const int lastPageBeforeChoosing = 5;
    w.setState(NS_AppController::kStateWelcome);
    ASSERT_TRUE(run.run->h.walk(plugBlackBerry, lastPageBeforeChoosing, 120000));
    EXPECT_FALSE(w.musicEnabled());
    run.run->h.phones.unplug(vtrapp::SimulatedPhone::usbBus() + QStringLiteral("/1-1"));
    ASSERT_TRUE(WizardHarness::waitFor([&w] { return w.currentState() == NS_AppController::kStateGetStarted; }));
    ASSERT_TRUE(run.plug());
    ASSERT_TRUE(run.run->h.pressOn([] { return false; }, 120000));
    EXPECT_TRUE(run.offered[kMusic]);
    EXPECT_EQ(run.lastLine(kMusic).toStdString(), holding(kIPhone, kMusic).line + std::string(" - Done"));
    EXPECT_EQ(landedIn(kMusic).files, holding(kIPhone, kMusic).landed.files);
}

// Another user who may write into the new phone's folder (one the person
// shares with a group) moves each kind's folder aside once its copies are in
// it, and puts in its place a link to a folder of theirs holding other bytes
// under the copies' names; or leaves the folder and puts a link to a file
// of the person's at each copy's name instead. Nothing of theirs, nor the
// person's file, is filed or even opened; each kind's line counts its copies
// as not added and says why; the copies stay as they were. On the walk, then
// on the one-step road.
enum class Swap { TheFolder, EachFile };
struct SwapCase
{
    int family;
    Swap swap;
};

class CopiesSwappedAfterTheCopy : public testing::TestWithParam<SwapCase>
{
};

struct Swapped
{
    QString folder, aside, theirs;
    QMap<QString, QByteArray> ours, others;  // name -> SHA-1
    std::unique_ptr<libtest::OpenWatch> watch;
};

QMap<QString, QByteArray> hashesOf(const QString &folder)
{
    QMap<QString, QByteArray> hashes;
    for (const QFileInfo &f : QDir(folder).entryInfoList(QDir::Files | QDir::Hidden))
        hashes.insert(f.fileName(), e2e::sha1OfFile(f.filePath()));
    return hashes;
}

TEST_P(CopiesSwappedAfterTheCopy, NothingOfTheirsIsFiledAndTheLinesSayWhy)
{
    const SwapCase c = GetParam();
    setUserFolders();
    std::mutex lock;
    std::vector<Swapped> swapped;
    MediaMigrator::setAfterCopyForTesting([&](const QString &folder) {
        Swapped s;
        s.folder = QDir::cleanPath(folder);
        s.aside = QDir::cleanPath(platform::homeFolder()) + QStringLiteral("/aside ") + QFileInfo(s.folder).fileName();
        s.theirs = testenv::makeTempDir(QStringLiteral("theirs"));
        s.ours = hashesOf(s.folder);
        QStringList theirFiles;
        for (const QString &name : s.ours.keys()) {
            const QString file = s.theirs + QLatin1Char('/') + name;
            testenv::writeFile(file, "another user's bytes named " + name.toUtf8());
            theirFiles << file;
        }
        s.others = hashesOf(s.theirs);
        s.watch = std::make_unique<libtest::OpenWatch>(theirFiles);
        EXPECT_TRUE(s.watch->watching());
        if (c.swap == Swap::TheFolder) {
            EXPECT_TRUE(QDir().rename(s.folder, s.aside) && QFile::link(s.theirs, s.folder)) << qPrintable(s.folder);
        } else {
            EXPECT_TRUE(QDir().mkpath(s.aside));
            for (const QString &name : s.ours.keys())
                EXPECT_TRUE(QDir().rename(s.folder + QLatin1Char('/') + name, s.aside + QLatin1Char('/') + name) &&
                            QFile::link(s.theirs + QLatin1Char('/') + name, s.folder + QLatin1Char('/') + name))
                    << qPrintable(name);
        }
        const std::lock_guard held(lock);
        swapped.push_back(std::move(s));
    });
    const auto noHook = qScopeGuard([] { MediaMigrator::setAfterCopyForTesting({}); });
    static const char *const libraries[] = {"music", "photo", "video"};

    const auto expectNothingOfTheirs = [&](FamilyRun &run) {
        const std::lock_guard held(lock);
        ASSERT_EQ(swapped.size(), 3u);
        for (Swapped &s : swapped) {
            SCOPED_TRACE(s.folder.toStdString());
            EXPECT_FALSE(s.watch->opened()) << "a file was opened through a link";
            EXPECT_FALSE(s.ours.isEmpty());
            EXPECT_EQ(hashesOf(s.aside), s.ours);
            EXPECT_EQ(hashesOf(s.theirs), s.others);
        }
        for (const Kind k : {kMusic, kPhotos, kVideos}) {
            SCOPED_TRACE(kKindNames[k]);
            const Holding held = holding(c.family, k);
            const QString folder =
                QDir(WindowsPhone7LocalDevice::storageFolderPath()).filePath(QLatin1String(kKindNames[k]));
            const QString line = run.lastLine(k);
            EXPECT_TRUE(line.startsWith(QLatin1String(held.line) + QStringLiteral(" - Done (")) &&
                        line.contains(QStringLiteral("%1 could not be added to your %2 library: the files at their "
                                                     "names in \"%3\" are no longer the copies this transfer made")
                                          .arg(held.landed.files)
                                          .arg(QLatin1String(libraries[k]), folder)))
                << line.toStdString();
            // Nothing was filed at all: every copy was swapped.
            QDirIterator it(userFolder(k), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
            while (it.hasNext()) ADD_FAILURE() << "filed: " << it.next().toStdString();
        }
    };

    FamilyRun run(c.family);
    ASSERT_TRUE(run.toTheEnd());
    ASSERT_NO_FATAL_FAILURE(expectNothingOfTheirs(run));

    // The copies put back, the one-step road meets the same.
    for (const Swapped &s : swapped) {
        if (c.swap == Swap::TheFolder) {
            ASSERT_TRUE(QFile::remove(s.folder) && QDir().rename(s.aside, s.folder)) << qPrintable(s.folder);
            continue;
        }
        for (const QString &name : s.ours.keys())
            ASSERT_TRUE(QFile::remove(s.folder + QLatin1Char('/') + name) &&
                        QDir().rename(s.aside + QLatin1Char('/') + name, s.folder + QLatin1Char('/') + name));
        ASSERT_TRUE(QDir().rmdir(s.aside));
    }
    swapped.clear();
    ASSERT_TRUE(run.oneStep());
    ASSERT_NO_FATAL_FAILURE(expectNothingOfTheirs(run));
}

INSTANTIATE_TEST_SUITE_P(FilingFamilies, CopiesSwappedAfterTheCopy,
                         testing::Values(SwapCase{kAndroid, Swap::TheFolder}, SwapCase{kAndroid, Swap::EachFile},
                                         SwapCase{kBlackBerry, Swap::TheFolder}, SwapCase{kBlackBerry, Swap::EachFile}),
                         [](const testing::TestParamInfo<SwapCase> &info) {
                             return std::string(info.param.family == kAndroid ? "Android" : "BlackBerry") +
                                    (info.param.swap == Swap::TheFolder ? "TheFolder" : "EachFile");
                         });
// ---- what the start names of the library's own folders and files

// How an item stands where the library, or the program's data, needs a
// folder: another user's folder (only root can leave one; elsewhere a link
// stands for it), a link to a folder of ~/Documents, or a file.
enum class Stand { Theirs, Link, File };

struct InTheWay
{
    InTheWay(QString at, Stand how) : path(std::move(at)), stand(how)
    {
        if (stand == Stand::Theirs && ::geteuid() != 0) stand = Stand::Link;
    }

    bool put() const
    {
        if (!QDir().mkpath(QFileInfo(path).path())) return false;
        switch (stand) {
        case Stand::Theirs:
            return QDir().mkpath(path) && ::chmod(QFile::encodeName(path).constData(), 0700) == 0 &&
                   ::chown(QFile::encodeName(path).constData(), 65534, 65534) == 0;
        case Stand::Link: {
            const QString theirs = platform::homeFolder() + QStringLiteral("/Documents/") + QFileInfo(path).fileName();
            return QDir().mkpath(theirs) && QFile::link(theirs, path);
        }
        case Stand::File: testenv::writeFile(path, "not a folder"); return true;
        }
        return false;
    }
    // What the start tells the person to do about it, and doing it.
    QString remedy() const
    {
        switch (stand) {
        case Stand::Theirs: return QStringLiteral("rename it so that a new one is made.");
        case Stand::Link: return QStringLiteral("Remove the link \"%1\".").arg(path);
        case Stand::File: return QStringLiteral("Move the file that is in the way of the folder.");
        }
        return {};
    }
    bool mend() const
    {
        return stand == Stand::Link ? QFile::remove(path) : QFile::rename(path, path + QStringLiteral(" (aside)"));
    }

    QString path;
    Stand stand;
};

const QString kStartTitle = QStringLiteral("Folders that your transfer needs cannot be used.");

// The run walked to the summary, where nothing has moved yet: what the start
// said in its alerts about folders or files that cannot be used.
QStringList startAlerts(int family)
{
    MediaLibraryHost::shared().forgetLibrariesForTesting();
    FamilyRun run(family);
    run.run->h.wizard().setState(NS_AppController::kStateWelcome);
    EXPECT_TRUE(run.run->h.walk([&run] { return run.plug(); }, 14, 120000));
    QStringList texts;
    for (const AlertRequest &alert : run.run->h.alerts.shown())
        if (alert.messageText.contains(QStringLiteral("cannot be")))
            texts << alert.messageText + QLatin1Char('\n') + alert.informativeText;
    return texts;
}

QString collectionOf(Kind k)
{
    static const char *const names[] = {"Music", "Photos", "Videos"};
    return userFolder(k) + QStringLiteral("/Solvenna to Windows Phone Imported ") + QLatin1String(names[k]);
}

qsizetype filesIn(const QString &folder, const QStringList &patterns = {})
{
    return QDir(folder).entryList(patterns, QDir::Files).size();
}

// Each home starts without anything an earlier case left: the media
// folders, the new phone's folder, the data folder (and what was set aside).
void startAfresh()
{
    for (const QString &folder : {userFolder(kMusic), userFolder(kPhotos), userFolder(kVideos),
                                  WindowsPhone7LocalDevice::storageFolderPath(), platform::dataFolder()})
        platform::removeTreeWithoutFollowingLinks(folder);
}

// Three things in the way at once on the Android phone's walk: the data
// folder another user's, the new phone's "Music" a link, and the music's
// folder in the music library another user's. The start names all three in
// one alert, each with what to do and with what going on does; once each
// is done, the next run files every song.
TEST(LibraryFolders, ThreeInTheWayAreNamedAtOnceAndOneRoundOfRemediesFilesEverySong)
{
    setUserFolders();
    const InTheWay problems[] = {{platform::dataFolder(), Stand::Theirs},
                                 {WindowsPhone7LocalDevice::storageFolderPath() + QStringLiteral("/Music"), Stand::Link},
                                 {collectionOf(kMusic), Stand::Theirs}};
    for (const InTheWay &problem : problems) ASSERT_TRUE(problem.put()) << problem.path.toStdString();
    const QStringList said = startAlerts(kAndroid);
    ASSERT_EQ(said.size(), 1) << qPrintable(said.join('|'));
    EXPECT_TRUE(said.first().startsWith(kStartTitle));
    for (const InTheWay &problem : problems)
        EXPECT_TRUE(said.first().contains(QStringLiteral("\"%1\" cannot be used").arg(problem.path)) &&
                    said.first().contains(problem.remedy()))
            << problem.path.toStdString() << '\n' << said.first().toStdString();
    // The music is left out, so what its library folder would do to it is not said.
    for (const char *continuing :
         {"If you continue, your music is not moved.",
          "If you continue, your data is moved all the same, but the library files are not kept"})
        EXPECT_TRUE(said.first().contains(QLatin1String(continuing))) << continuing;
    EXPECT_FALSE(said.first().contains(QStringLiteral("your music is copied to your new phone")));
    EXPECT_FALSE(said.first().contains(QStringLiteral("what needs these folders")));

    for (const InTheWay &problem : problems) ASSERT_TRUE(problem.mend()) << problem.path.toStdString();
    MediaLibraryHost::shared().forgetLibrariesForTesting();
    FamilyRun run(kAndroid);
    ASSERT_TRUE(run.toTheEnd());
    EXPECT_TRUE(run.run->h.alerts.titles().filter(QStringLiteral("cannot be")).isEmpty())
        << qPrintable(run.run->h.alerts.titles().join('|'));
    EXPECT_EQ(run.lastLine(kMusic), QStringLiteral("6 Songs and 2 Playlists - Done"));
    EXPECT_EQ(filesIn(collectionOf(kMusic)), 6);
}

// Each of the library's folders that a run of the Android phone or the
// BlackBerry files into, in the way in turn: the start names it with what
// to do and what going on does, and once that is done the next run files
// that kind as in a home where nothing stood in the way. Nothing of an
// iPhone is filed there: it is told of none of them.
TEST(LibraryFolders, EachCollectionAndPlaylistsFolderInTheWayIsNamedAtTheStart)
{
    setUserFolders();
    const struct
    {
        QString path;
        Stand stand;
        Kind kind;
        const char *continuing;
        QStringList filed;  // what the kind's run puts there: its files, or its playlists
    } folders[] = {
        {collectionOf(kMusic), Stand::Theirs, kMusic,
         "your music is copied to your new phone without being added to your music library."},
        {collectionOf(kPhotos), Stand::Link, kPhotos,
         "your photos are copied to your new phone without being added to your photo library."},
        {collectionOf(kVideos), Stand::File, kVideos,
         "your videos are copied to your new phone without being added to your video library."},
        {userFolder(kMusic) + QStringLiteral("/Playlists"), Stand::Theirs, kMusic,
         "your music is added to your music library without its playlists.", {QStringLiteral("*.m3u8")}},
        {userFolder(kVideos) + QStringLiteral("/Playlists"), Stand::Link, kVideos,
         "your videos are added to your video library without their playlist.", {QStringLiteral("*.m3u8")}},
    };
    for (const int family : {kAndroid, kBlackBerry})
        for (const auto &folder : folders) {
            SCOPED_TRACE(QStringLiteral("family %1: %2").arg(family).arg(folder.path).toStdString());
            startAfresh();
            const InTheWay problem(folder.path, folder.stand);
            ASSERT_TRUE(problem.put());
            const QStringList said = startAlerts(family);
            ASSERT_EQ(said.size(), 1) << qPrintable(said.join('|'));
            EXPECT_TRUE(said.first().contains(QStringLiteral("\"%1\" cannot be used").arg(folder.path)) &&
                        said.first().contains(problem.remedy()) &&
                        said.first().contains(QStringLiteral("If you continue, ") + QLatin1String(folder.continuing)))
                << said.first().toStdString();

            ASSERT_TRUE(problem.mend());
            MediaLibraryHost::shared().forgetLibrariesForTesting();
            FamilyRun run(family);
            ASSERT_TRUE(run.toTheEnd());
            EXPECT_TRUE(run.run->h.alerts.titles().filter(QStringLiteral("cannot be")).isEmpty());
            EXPECT_EQ(run.lastLine(folder.kind),
                      QLatin1String(holding(family, folder.kind).line) + QStringLiteral(" - Done"));
            // The Android phone's two playlists go with the music's own.
            const int playlists = family == kAndroid && folder.kind == kMusic ? 3 : 1;
            EXPECT_EQ(filesIn(folder.path, folder.filed),
                      folder.filed.isEmpty() ? holding(family, folder.kind).landed.files : playlists);
        }
    startAfresh();
    for (const auto &folder : folders) ASSERT_TRUE(InTheWay(folder.path, folder.stand).put());
    EXPECT_EQ(startAlerts(kIPhone), QStringList());
}

// A library file of the program's own that does not read as one (emptied,
// or bytes of no property list) is named at the start with what to do; a
// run that goes on files nothing into that library and leaves the file as
// it is. Once it is moved aside, the next run makes a new one and files into
// it.
TEST(LibraryFolders, ADamagedLibraryFileIsNamedAndOnceMovedAsideANewOneIsFiledInto)
{
    setUserFolders();
    const QString music = MediaLibraryHost::musicLibraryFilePath(), photos = MediaLibraryHost::albumDataFilePath();
    const QByteArray garbage("\x8f\x02\x7f<plist>\x01 not one", 20);
    for (const int family : {kAndroid, kBlackBerry}) {
        SCOPED_TRACE(family);
        startAfresh();
        testenv::writeFile(music, QByteArray());
        testenv::writeFile(photos, garbage);
        MediaLibraryHost::shared().forgetLibrariesForTesting();
        {
            FamilyRun run(family);
            ASSERT_TRUE(run.toTheEnd());
            const QStringList titles = run.run->h.alerts.titles();
            ASSERT_EQ(titles.filter(QStringLiteral("cannot be")), QStringList{kStartTitle});
            const QString said = run.run->h.alerts.shown().at(titles.indexOf(kStartTitle)).informativeText;
            for (const QString &file : {music, photos})
                EXPECT_TRUE(said.contains(QStringLiteral("The file \"%1\" cannot be used: it is damaged (").arg(file)) &&
                            said.contains(QStringLiteral("Move \"%1\" aside, and a new one is made.").arg(file)))
                    << said.toStdString();
            EXPECT_TRUE(said.contains(QStringLiteral("your music and videos are copied to your new phone without being "
                                                     "added to your music library")));
            EXPECT_TRUE(said.contains(
                QStringLiteral("your photos are copied to your new phone without being added to your photo library")));
            EXPECT_TRUE(run.lastLine(kMusic).contains(QStringLiteral("is damaged")) &&
                        run.lastLine(kMusic).contains(QStringLiteral("Move it aside, and a new one is made")))
                << run.lastLine(kMusic).toStdString();
            EXPECT_EQ(filesIn(collectionOf(kMusic)), 0);
        }
        EXPECT_EQ(testenv::readFile(music), QByteArray());
        EXPECT_EQ(testenv::readFile(photos), garbage);
        for (const QString &file : {music, photos})
            ASSERT_TRUE(QFile::rename(file, file + QStringLiteral(" (damaged)")));

        MediaLibraryHost::shared().forgetLibrariesForTesting();
        FamilyRun run(family);
        ASSERT_TRUE(run.toTheEnd());
        EXPECT_TRUE(run.run->h.alerts.titles().filter(QStringLiteral("cannot be")).isEmpty());
        for (const Kind k : {kMusic, kPhotos, kVideos})
            EXPECT_EQ(run.lastLine(k), QLatin1String(holding(family, k).line) + QStringLiteral(" - Done"));
        const std::optional<QVariantMap> tracks = vtr::XmlPropertyListReader::readDictionaryFile(music);
        const std::optional<QVariantMap> images = vtr::XmlPropertyListReader::readDictionaryFile(photos);
        ASSERT_TRUE(tracks && images);
        EXPECT_EQ(tracks->value(QStringLiteral("Tracks")).toMap().size(),
                  holding(family, kMusic).landed.files + holding(family, kVideos).landed.files);
        EXPECT_EQ(images->value(QStringLiteral("Master Image List")).toMap().size(), holding(family, kPhotos).landed.files);
        EXPECT_EQ(testenv::readFile(music + QStringLiteral(" (damaged)")), QByteArray());
        EXPECT_EQ(testenv::readFile(photos + QStringLiteral(" (damaged)")), garbage);
    }
}

}  // namespace
