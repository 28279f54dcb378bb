// Each family of phone against each way the desktop's library folders can
// stand in the way (none, music 555, a file in place of the videos or the
// pictures folder, pictures 555, a link to a disk that is not plugged in in
// place of the pictures or the music folder): what the start says, what the
// choose page offers, what "Ready to move" promises, what the last page says
// and what reaches the new phone's folder agree, and a kind that nothing
// stopped lands as in the unblocked run. An iPhone's media are never filed
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
#include "platform/Folders.h"
#include "sources/host/MediaLibraryHost.h"

#include "TestEnvironment.h"

#include <QCheckBox>
#include <QDir>
#include <QDirIterator>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <mutex>

#include <sys/stat.h>

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
enum class Blocked { None, Music555, VideosFile, PicturesFile, Pictures555, PicturesLink, MusicLink };
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

struct Expected
{
    bool stopped[3] = {};
    bool unfiled[3] = {};
    QString alert;
    QString folder;    // the folder in the way
    QString pointsTo;  // where the link in its place leads
    QString remedy;    // what the alert tells the person to do
};

Expected expectedFor(int family, Blocked blocked)
{
    Expected e;
    if (blocked == Blocked::None) return e;
    const bool music = blocked == Blocked::Music555 || blocked == Blocked::MusicLink;
    e.folder = userFolder(music ? kMusic : blocked == Blocked::VideosFile ? kVideos : kPhotos);
    const bool link = blocked == Blocked::PicturesLink || blocked == Blocked::MusicLink;
    if (link) e.pointsTo = testenv::root() + QStringLiteral("/unplugged disk/") + QFileInfo(e.folder).fileName();
    const bool file = blocked == Blocked::VideosFile || blocked == Blocked::PicturesFile;
    e.remedy = link ? e.pointsTo : file ? QStringLiteral("in the way") : QStringLiteral("writable");
    // Nothing of an iPhone is filed into the desktop's folders.
    if (family == kIPhone) return e;
    switch (blocked) {
    case Blocked::None: break;
    case Blocked::Music555:
        e.unfiled[kMusic] = true;
        e.alert = QStringLiteral("Your music cannot be added to your music library.");
        break;
    case Blocked::VideosFile:
        e.stopped[kMusic] = e.unfiled[kVideos] = true;
        e.alert = QStringLiteral("Your videos cannot be added to your video library.");
        break;
    // A link to nothing stands in the way as a file does.
    case Blocked::PicturesFile:
    case Blocked::PicturesLink:
        e.stopped[kMusic] = e.stopped[kPhotos] = e.unfiled[kVideos] = true;
        e.alert = QStringLiteral("The folder for your photos cannot be written.");
        break;
    case Blocked::Pictures555:
        e.stopped[kPhotos] = true;
        e.alert = QStringLiteral("The folder for your photos cannot be written.");
        break;
    case Blocked::MusicLink:
        e.stopped[kMusic] = e.unfiled[kVideos] = true;
        e.alert = QStringLiteral("Your music cannot be added to your music library.");
        break;
    }
    return e;
}

struct Case
{
    int family;
    Blocked blocked;
};

class BlockedFolders : public testing::TestWithParam<Case>
{
};

TEST_P(BlockedFolders, ThePagesAndTheNewPhoneAgreeOnWhatMoved)
{
    VTR_TEST_AS_UNPRIVILEGED_USER();
    const Case c = GetParam();
    setUserFolders();
    const ModesRestored restore;
    const Expected e = expectedFor(c.family, c.blocked);
    for (const Kind k : {kMusic, kPhotos, kVideos}) {
        const QString folder = userFolder(k);
        if (folder != e.folder) {
            if (c.family != kIPhone) ASSERT_TRUE(QDir().mkpath(folder));
        } else if (!e.pointsTo.isEmpty()) {
            ASSERT_TRUE(QFile::link(e.pointsTo, folder));
        } else if (c.blocked == Blocked::VideosFile || c.blocked == Blocked::PicturesFile) {
            testenv::writeFile(folder, "not a folder");
        } else {
            ASSERT_TRUE(QDir().mkpath(folder));
            ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), 0555), 0);
        }
    }

    FamilyRun run(c.family);
    ASSERT_TRUE(run.toTheEnd());
    NS_AppController &w = run.run->h.wizard();

    // The start says it once, for what the folder stops or leaves unfiled,
    // with what stands there and what to do about it.
    const QStringList titles = run.run->h.alerts.titles();
    EXPECT_EQ(titles.filter(QStringLiteral("cannot be")), e.alert.isEmpty() ? QStringList() : QStringList{e.alert})
        << qPrintable(titles.join('|'));
    if (!e.alert.isEmpty() && titles.contains(e.alert)) {
        const QString text = run.run->h.alerts.shown().at(titles.indexOf(e.alert)).informativeText;
        EXPECT_TRUE(text.contains(e.folder) && text.contains(e.remedy)) << text.toStdString();
        EXPECT_EQ(text.contains(QStringLiteral("writable")), e.remedy == QStringLiteral("writable")) << text.toStdString();
    }
    EXPECT_FALSE(titles.contains(kNotConfigured));
    bool anyStopped = false;
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
            EXPECT_TRUE(run.chooseText.contains(name + QStringLiteral(": ")) && run.chooseText.contains(e.folder))
                << run.chooseText.toStdString();
            EXPECT_TRUE(line.startsWith(QLatin1String(held.line) + QStringLiteral(" - Not moved: ")) && line.contains(e.folder))
                << line.toStdString();
            EXPECT_EQ(landed.files, 0);
            continue;
        }
        EXPECT_FALSE(run.chooseText.contains(name + QStringLiteral(": "))) << run.chooseText.toStdString();
        EXPECT_EQ(run.ready.filter(QLatin1String(held.line)).size(), 1) << qPrintable(run.ready.join('|'));
        if (e.unfiled[k])
            EXPECT_TRUE(line.startsWith(QLatin1String(held.line) + QStringLiteral(" - Done (")) &&
                        line.contains(QStringLiteral("could not be added to your")) && line.contains(e.folder))
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
            EXPECT_EQ(QFileInfo(userFolder(k)).isSymLink() || QFileInfo::exists(userFolder(k)), userFolder(k) == e.folder)
                << kUserFolders[k];

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
                                          "Pictures555", "PicturesALinkToNothing", "MusicALinkToNothing"};
    return std::string(families[info.param.family]) + blocked[int(info.param.blocked)];
}

std::vector<Case> allCases()
{
    std::vector<Case> cases;
    for (const int family : {kAndroid, kIPhone, kBlackBerry})
        for (const Blocked b : {Blocked::None, Blocked::Music555, Blocked::VideosFile, Blocked::PicturesFile,
                                Blocked::Pictures555, Blocked::PicturesLink, Blocked::MusicLink})
            cases.push_back({family, b});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(EachFamily, BlockedFolders, testing::ValuesIn(allCases()), caseName);

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

}  // namespace
