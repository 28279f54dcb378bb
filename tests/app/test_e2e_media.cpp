// The whole wizard with its real jobs, from the intro to the end, for a
// simulated phone of each family: the new phone's folders hold the phone's
// media byte for byte, the playlists name the copied tracks, the Live bodies
// are those of the companion app's files; a second run keeps the person's
// files that took an earlier copy's name, copies the person changed are
// copied again while the library takes no twin, another phone's run takes the
// earlier playlists with the earlier songs, the same iPhone's playlist stays
// one playlist when songs of it stay, and an earlier iPhone's photos
// and videos only with the person's word; a card's links out of its volume
// are never opened; and the same with the phone pulled at a random byte of
// the backup, with the copy stopped at a random byte, and with the target
// turning read-only in the middle of a copy.

#include "support/EndToEnd.h"
#include "support/FamilyPhone.h"
#include "support/RealJobs.h"

#include "app/BackgroundJob.h"
#include "app/EnvironmentChecks.h"
#include "app/MediaTransfer.h"
#include "app/NS_AppControllerJobs.h"
#include "app/Scenes.h"
#include "devices/afc/FakeAfcService.h"
#include "devices/phone/MobileDevice.h"
#include "devices/phone/WindowsPhone7LocalDevice.h"
#include "fileinfo/FileInfoCopy.h"
#include "fileinfo/VtrMacFileInfo.h"
#include "migration/CopyRecords.h"
#include "migration/MediaMigrators.h"
#include "pim/ContactDatabase.h"
#include "pim/EventDatabase.h"
#include "pim/store/JsonFixtureSource.h"
#include "platform/Folders.h"
#include "sources/host/MediaLibraryHost.h"

#include "TestEnvironment.h"
#include "TestFolders.h"
#include "support/LibraryTestFiles.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QPushButton>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QStorageInfo>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

// The camera library loads and unloads its driver modules; what their
// dependencies set aside is matched by the library suppressions only when
// the whole stack is unwound.
extern "C" __attribute__((visibility("default"), used)) const char *__asan_default_options()
{
    return "fast_unwind_on_malloc=0";
}

namespace {

using e2e::IPhoneCamera;
using e2e::sha1OfFile;
using e2e::smallPhone;
using e2e::temporaryFilesBelow;

QByteArray sha1Of(const QByteArray &bytes) { return QCryptographicHash::hash(bytes, QCryptographicHash::Sha1).toHex(); }

QString targetFolder(const char *name)
{
    return QDir(WindowsPhone7LocalDevice::storageFolderPath()).filePath(QString::fromLatin1(name));
}

// SHA-1 of every file in the folder, sorted (names may have been made unique).
QList<QByteArray> hashesIn(const QString &folder)
{
    QList<QByteArray> out;
    for (const QFileInfo &f : QDir(folder).entryInfoList(QDir::Files | QDir::Hidden)) out.append(sha1OfFile(f.filePath()));
    std::sort(out.begin(), out.end());
    return out;
}

struct Expected
{
    QList<QByteArray> music, photos, videos;
    void sort()
    {
        std::sort(music.begin(), music.end());
        std::sort(photos.begin(), photos.end());
        std::sort(videos.begin(), videos.end());
    }
};

// The media of a simulated MTP phone, by kind, as the migrators classify them.
Expected expectedOnMtpPhone(const MtpSimPhone &phone)
{
    Expected e;
    std::function<void(uint32_t, uint32_t)> walk = [&](uint32_t storage, uint32_t parent) {
        for (uint32_t id : phone.children(storage, parent)) {
            const MtpSimObjectInfo info = *phone.object(id);
            const QString name = QString::fromUtf8(info.name);
            if (info.folder) {
                if (name != QLatin1String("solvennawp")) walk(storage, id);
                continue;
            }
            if (isMediaFileOfKind(name, MediaKind::Music)) e.music.append(phone.sha1(id).toHex());
            if (isMediaFileOfKind(name, MediaKind::Photos)) e.photos.append(phone.sha1(id).toHex());
            if (isMediaFileOfKind(name, MediaKind::Videos)) e.videos.append(phone.sha1(id).toHex());
        }
    };
    for (uint32_t storage : phone.storageIds()) walk(storage, 0);
    e.sort();
    return e;
}

Expected expectedInFolder(const QString &root)
{
    Expected e;
    QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString name = QFileInfo(path).fileName();
        if (isMediaFileOfKind(name, MediaKind::Music)) e.music.append(sha1OfFile(path));
        if (isMediaFileOfKind(name, MediaKind::Photos)) e.photos.append(sha1OfFile(path));
        if (isMediaFileOfKind(name, MediaKind::Videos)) e.videos.append(sha1OfFile(path));
    }
    e.sort();
    return e;
}

void expectTargetHolds(const Expected &e)
{
    EXPECT_EQ(hashesIn(targetFolder("Music")), e.music);
    EXPECT_EQ(hashesIn(targetFolder("Photos")), e.photos);
    EXPECT_EQ(hashesIn(targetFolder("Videos")), e.videos);
    EXPECT_TRUE(temporaryFilesBelow(WindowsPhone7LocalDevice::storageFolderPath()).isEmpty());
}

// Every track reference of every playlist names a copied file.
int expectPlaylistsNameCopiedTracks()
{
    int references = 0;
    const QDir lists(targetFolder("Playlists"));
    for (const QFileInfo &f : lists.entryInfoList({QStringLiteral("*.m3u")}, QDir::Files)) {
        for (const QString &line : QString::fromUtf8(testenv::readFile(f.filePath())).split(QStringLiteral("\r\n"))) {
            if (line.isEmpty() || line.startsWith(QLatin1Char('#'))) continue;
            EXPECT_TRUE(line.startsWith(QStringLiteral("..\\Music\\"))) << line.toStdString();
            EXPECT_TRUE(QFileInfo::exists(lists.filePath(QString(line).replace(QLatin1Char('\\'), QLatin1Char('/')))))
                << line.toStdString();
            ++references;
        }
    }
    return references;
}

void resetTarget() { testenv::removeTree(WindowsPhone7LocalDevice::storageFolderPath()); }

using RealRun = RealJobs;

TEST(EndToEnd, AnAndroidPhoneFromTheIntroToTheEnd)
{
    resetTarget();
    AndroidFixtureRun run;
    ASSERT_TRUE(run.phone);
    e2e::useFinishedCompanionApp(run.h.wizard(), *run.phone);
    MtpSimPhone *phone = run.phone;
    const uint32_t internal = phone->storageIds().front();
    const Expected expected = expectedOnMtpPhone(*phone);
    ASSERT_FALSE(expected.music.isEmpty());
    ASSERT_TRUE(run.runToEnd());
    EXPECT_TRUE(run.h.visited.contains(7));
    EXPECT_TRUE(run.h.visited.contains(19));
    expectTargetHolds(expected);
    EXPECT_EQ(expectPlaylistsNameCopiedTracks(), 5);
    EXPECT_EQ(QDir(targetFolder("Playlists")).entryList(QDir::Files).size(), 2);

    // The Live bodies are the companion files' own.
    const QByteArray contacts = phone->contents(phone->objectIdForPath(internal, QStringLiteral("solvennawp/nroid_con.json")));
    const QByteArray calendars = phone->contents(phone->objectIdForPath(internal, QStringLiteral("solvennawp/nroid_cal.json")));
    ContactDatabase contactReader(nullptr);
    EventDatabase eventReader(nullptr);
    ASSERT_FALSE(run.h.wizard().contacts().isEmpty());
    QVariantList stowed;  // a large file's bodies are held as compact text
    for (const QVariant &body : run.h.wizard().contacts()) stowed.append(body.toMap());
    EXPECT_EQ(stowed, contactReader.windowsLiveContactsWithData(contacts).value_or(QVariantList()));
    QVariantList stowedCalendars;
    for (const QVariant &c : run.h.wizard().calendars()) {
        QVariantMap calendar = c.toMap();
        QVariantList events;
        for (const QVariant &e : calendar.value("events").toList()) events.append(e.toMap());
        if (calendar.contains("events")) calendar.insert("events", events);
        stowedCalendars.append(calendar);
    }
    EXPECT_EQ(stowedCalendars, eventReader.windowsLiveCalendarsAndEventsWithData(calendars).value_or(QVariantList()));
    EXPECT_EQ(run.jobs->migrators().music->manifestInfo().value("playlist_cnt").toInt(), 2);
}

constexpr int kBigPhoto = 32 * 1024 * 1024;

// A BlackBerry's mass-storage volume, with a name twice in different folders
// and a name that differs only in letter case.
QString blackBerryVolume()
{
    const QString volume = testenv::makeTempDir(QStringLiteral("bbvol"));
    testenv::writeFile(volume + "/BlackBerry/music/Track.mp3", QByteArray(300000, 'm'));
    testenv::writeFile(volume + "/BlackBerry/ringtones/Track.mp3", QByteArray(1000, 'r'));
    testenv::writeFile(volume + "/BlackBerry/music/track.MP3", QByteArray(70, 't'));
    testenv::writeFile(volume + "/BlackBerry/pictures/IMG00001.jpg", QByteArray(kBigPhoto, 'p'));
    testenv::writeFile(volume + "/BlackBerry/videos/VID00001.3gp", QByteArray(900000, 'v'));
    testenv::writeFile(volume + "/BlackBerry/documents/notes.txt", "not media");
    return volume;
}

// The volume is mounted as the phone arrives, before the wizard looks at it.
bool plugBlackBerryWithVolume(WizardHarness &h, const QString &volume)
{
    NS_AppController *wizard = &h.wizard();
    const QMetaObject::Connection mount = QObject::connect(wizard, &AppController::oldDeviceChanged, [wizard, volume] {
        if (wizard->oldDevice()) wizard->oldDevice()->addMountedPath(volume);
    });
    const bool plugged = h.plugBlackBerry();
    QObject::disconnect(mount);
    return plugged;
}

TEST(EndToEnd, ABlackBerryFromTheIntroToTheEndKeepsEveryNameApart)
{
    resetTarget();
    const QString volume = blackBerryVolume();
    // A file the person put into the new phone's music folder stays.
    testenv::writeFile(targetFolder("Music") + "/mine.mp3", "mine");
    RealRun run;
    ASSERT_TRUE(run.runToEnd([&] { return plugBlackBerryWithVolume(run.h, volume); }));
    Expected expected = expectedInFolder(volume);
    expected.music.append(sha1Of("mine"));
    expected.sort();
    expectTargetHolds(expected);
    EXPECT_EQ(QDir(targetFolder("Music")).entryList(QDir::Files).size(), 4);
}

TEST(EndToEnd, TheOverallBarFollowsTheBytesAndOnlyChosenKindsHaveBars)
{
    resetTarget();
    const QString volume = testenv::makeTempDir(QStringLiteral("bbvol"));
    testenv::writeFile(volume + "/BlackBerry/music/Small.mp3", QByteArray(20000, 'm'));
    testenv::writeFile(volume + "/BlackBerry/pictures/IMG00001.jpg", QByteArray(kBigPhoto, 'p'));
    RealRun run;
    NS_AppController &w = run.h.wizard();
    w.setVideosValue(false);
    double overallWhenMusicWasCopied = -1;
    QStringList estimates;
    bool appsBarShown = true, musicBarShown = false;
    QObject::connect(&w, &NS_AppController::musicProgressChanged, [&] {
        if (w.currentState() == 19 && w.musicProgress() >= 1.0 && overallWhenMusicWasCopied < 0)
            overallWhenMusicWasCopied = w.singleProgress();
    });
    QObject::connect(&w, &NS_AppController::timeEstimateTextChanged, [&] {
        if (w.currentState() == 19) estimates.append(w.timeEstimateText());
    });
    QObject::connect(&w, &NS_AppController::stateEntered, [&](int state) {
        if (state != 13) return;
        appsBarShown = !w.progressView()->findChild<QWidget *>(QStringLiteral("appsProgressIndicator"))->isHidden();
        musicBarShown = !w.progressView()->findChild<QWidget *>(QStringLiteral("musicProgressIndicator"))->isHidden();
    });
    ASSERT_TRUE(run.runToEnd([&] { return plugBlackBerryWithVolume(run.h, volume); }));
    // The song is a thousandth of the bytes: the bar is not at a fifth, let
    // alone three, when it is copied.
    EXPECT_GE(overallWhenMusicWasCopied, 0.0);
    EXPECT_LT(overallWhenMusicWasCopied, 0.05);
    EXPECT_FALSE(estimates.isEmpty());
    for (const QString &e : estimates) EXPECT_FALSE(e.contains(QStringLiteral("1 minutes"))) << e.toStdString();
    EXPECT_FALSE(appsBarShown);
    EXPECT_TRUE(musicBarShown);
}

// An MP3 file of a few silent frames whose tag names only its title (the
// library host may or may not read the other tags).
QByteArray taggedMp3(const QByteArray &title, int frames) { return libtest::taggedMp3({{"TIT2", title}}, frames); }

// The music library: the host files three songs into a playlist, only what
// this test puts there (what earlier runs filed goes).
QString iPhoneLibrary()
{
    const QString songs = testenv::makeTempDir(QStringLiteral("songs"));
    testenv::writeFile(songs + "/One.mp3", taggedMp3("One", 3));
    testenv::writeFile(songs + "/Two.mp3", taggedMp3("Two", 5));
    testenv::writeFile(songs + "/Three.mp3", taggedMp3("Three", 7));
    QFile::remove(MediaLibraryHost::musicLibraryFilePath());
    MediaLibraryHost &host = MediaLibraryHost::shared();
    const QList<qint64> tracks = host.addMediaFiles(songs, QStringLiteral("Sunday"));
    EXPECT_EQ(tracks.size(), 3);
    host.addTracksToPlaylist(tracks, host.createPlaylist(QStringLiteral("Sunday"), false).persistentID);
    return songs;
}

// The iPhone's camera roll: two photos and a movie.
const QMap<QString, QByteArray> kCameraRoll{
    {QStringLiteral("DCIM/100APPLE/IMG_0001.JPG"), QByteArray(120000, 'a')},
    {QStringLiteral("DCIM/100APPLE/IMG_0002.JPG"), QByteArray(64000, 'b')},
    {QStringLiteral("DCIM/100APPLE/IMG_0003.MOV"), QByteArray(300000, 'c')},
};

// The phone holds two of the library's three songs, under the names the
// phone gives them: the library's files of those two reach the new phone.
TEST(EndToEnd, AnIPhoneFromTheIntroToTheEnd)
{
    resetTarget();
    const QString songs = iPhoneLibrary();
    const QString media = testenv::makeTempDir(QStringLiteral("iphonemedia"));
    testenv::writeFile(media + "/iTunes_Control/Music/F00/QWER.mp3", testenv::readFile(songs + "/One.mp3"));
    testenv::writeFile(media + "/iTunes_Control/Music/F07/ZXCV.mp3", testenv::readFile(songs + "/Two.mp3"));
    IPhoneCamera camera(kCameraRoll);
    RealRun run(camera.connection.get());
    ASSERT_TRUE(run.runToEnd([&] { return camera.plug(run.h, media); }));
    Expected expected = expectedInFolder(camera.roll);
    expected.music = {sha1OfFile(songs + "/One.mp3"), sha1OfFile(songs + "/Two.mp3")};
    expected.sort();
    expectTargetHolds(expected);
    EXPECT_EQ(expectPlaylistsNameCopiedTracks(), 2);
    EXPECT_FALSE(run.jobs->migrators().music->manifestInfo().contains(QStringLiteral("note")));
}

// Without the phone's songs nothing of the library is offered, and the
// report says why; without a library the person is told.
TEST(EndToEnd, AnIPhoneWhoseSongsCannotBeKnownOrWithoutALibrary)
{
    for (const bool withLibrary : {true, false}) {
        SCOPED_TRACE(withLibrary);
        resetTarget();
        iPhoneLibrary();
        if (!withLibrary) QFile::remove(MediaLibraryHost::musicLibraryFilePath());
        IPhoneCamera camera(kCameraRoll);
        RealRun run(camera.connection.get());
        ASSERT_TRUE(run.runToEnd([&] { return camera.plug(run.h); }));
        Expected expected = expectedInFolder(camera.roll);
        expectTargetHolds(expected);
        const QVariantMap music = run.jobs->migrators().music->manifestInfo();
        QStringList reasons;
        for (const AlertRequest &alert : run.h.alerts.shown()) reasons.append(alert.informativeText);
        // The last page does not call it done either way.
        const QString line = run.h.wizard().musicSummaryDone();
        if (withLibrary) {
            EXPECT_EQ(music.value(QStringLiteral("song_cnt")).toInt(), 0);
            EXPECT_TRUE(music.value(QStringLiteral("note")).toString().contains(QStringLiteral("could not be read")));
            EXPECT_TRUE(reasons.isEmpty()) << reasons.join(QLatin1Char('|')).toStdString();
            EXPECT_TRUE(line.startsWith(QStringLiteral(" - Not moved: the songs on the iPhone could not be read")))
                << line.toStdString();
        } else {
            EXPECT_TRUE(reasons.contains(QStringLiteral("Couldn't get iTunes information.")))
                << reasons.join(QLatin1Char('|')).toStdString();
            EXPECT_TRUE(line.startsWith(QStringLiteral(" - Failed: the music library could not be read: ")))
                << line.toStdString();
        }
    }
}

// The desktop mounts the phone only once the person lets it trust this
// computer, after the phone arrived: its songs are found where the desktop
// shows them, as long as that happens before the backup.
TEST(EndToEnd, AnIPhoneTheDesktopMountsOnlyWhileTheWizardWaitsHasItsSongsMoved)
{
    resetTarget();
    const QString songs = iPhoneLibrary();
    e2e::DesktopMount desktop;
    IPhoneCamera camera(kCameraRoll);
    RealRun run(camera.connection.get());
    QObject::connect(&run.h.wizard(), &NS_AppController::stateEntered, [&](int state) {
        if (state == 3 && !QFileInfo::exists(desktop.phoneFolder()))
            testenv::writeFile(desktop.phoneFolder() + "/iTunes_Control/Music/F11/LKJH.mp3",
                               testenv::readFile(songs + "/Three.mp3"));
    });
    ASSERT_TRUE(run.runToEnd([&] { return camera.plug(run.h); }));
    ASSERT_TRUE(run.h.visited.contains(3));
    EXPECT_EQ(hashesIn(targetFolder("Music")), QList<QByteArray>{sha1OfFile(songs + "/Three.mp3")});
}

// A locked phone that the desktop cannot mount and whose file service
// refuses: one alert says what to do, and the last page why no song moved.
TEST(EndToEnd, ALockedIPhoneIsToldOnceWhatToDoAndItsMusicLineSaysWhy)
{
    resetTarget();
    iPhoneLibrary();
    auto service = std::make_shared<vtr::afc::FakeAfcService>();
    service->setPhone(QStringLiteral("IPHONESERIAL1"), {vtr::afc::Refusal::Locked, {}, {}});
    vtr::afc::setSharedAfcService(service);
    IPhoneCamera camera(kCameraRoll);
    RealRun run(camera.connection.get());
    const bool ended = run.runToEnd([&] { return camera.plug(run.h); });
    vtr::afc::setSharedAfcService(nullptr);
    ASSERT_TRUE(ended);
    QStringList reasons;
    for (const AlertRequest &alert : run.h.alerts.shown()) reasons.append(alert.informativeText);
    ASSERT_EQ(reasons.size(), 1) << reasons.join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(reasons.first().contains(QStringLiteral("Unlock it and tap \"Trust\""))) << reasons.first().toStdString();
    EXPECT_EQ(service->openings(), 1);
    EXPECT_TRUE(run.h.wizard().musicSummaryDone().contains(QStringLiteral("the iPhone is locked, so its songs could not be read")))
        << run.h.wizard().musicSummaryDone().toStdString();
    EXPECT_TRUE(hashesIn(targetFolder("Music")).isEmpty());
    EXPECT_EQ(hashesIn(targetFolder("Photos")).size(), 2) << "the camera roll went on";
}

// A card's songs that cannot be read (no permission, a pipe), a hidden one,
// and a song the music library cannot take: the music line counts each.
TEST(EndToEnd, TheLastPageCountsWhatCouldNotBeReadSkippedOrFiled)
{
    VTR_TEST_AS_UNPRIVILEGED_USER();
    resetTarget();
    const QString volume = testenv::makeTempDir(QStringLiteral("bbvol"));
    const QString music = volume + QStringLiteral("/BlackBerry/music");
    testenv::writeFile(music + "/Song.mp3", taggedMp3("Song", 20));
    testenv::writeFile(music + "/Locked.mp3", taggedMp3("Locked", 20));
    testenv::TakenModes modes;
    ASSERT_TRUE(modes.take(music + "/Locked.mp3", 0));
    ASSERT_EQ(::mkfifo(QFile::encodeName(music + "/Pipe.mp3").constData(), 0644), 0);
    testenv::writeFile(music + "/._Song.mp3", "the card's own record of the song");
    // The library's folder for the wizard's songs cannot be written.
    const QString filed = MediaLibraryHost::musicFolder() + QStringLiteral("/Solvenna to Windows Phone Imported Music");
    ASSERT_TRUE(QDir().mkpath(filed));
    ASSERT_TRUE(modes.take(filed, 0500));
    RealRun run;
    const bool ran = run.runToEnd([&] { return plugBlackBerryWithVolume(run.h, volume); });
    QFile::setPermissions(filed, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    ASSERT_TRUE(ran);
    EXPECT_EQ(hashesIn(targetFolder("Music")), QList<QByteArray>{sha1OfFile(music + "/Song.mp3")});
    const QString line = run.h.wizard().musicSummaryDone();
    for (const char *part : {" - Done (", "2 could not be read from your old phone", "1 hidden file was skipped",
                             "1 could not be added to your music library"})
        EXPECT_TRUE(line.contains(QString::fromUtf8(part))) << line.toStdString();
}

// The last page: its heading, then the lines of contacts, calendars, music,
// photos and videos.
std::string lastPage(NS_AppController &w)
{
    return QStringList{w.scenesViewController()->templateController()->header(),
                       w.contactsSummary() + w.contactsSummaryDone(),
                       w.calendarSummary() + w.calendarSummaryDone(),
                       w.musicSummary() + w.musicSummaryDone(),
                       w.photosSummary() + w.photosSummaryDone(),
                       w.videosSummary() + w.videosSummaryDone()}
        .join(QLatin1Char('|'))
        .toStdString();
}

// The simulated iPhone and BlackBerry with contacts and calendars chosen, on a
// desktop that holds one calendar without events and no contact: all that
// they hold arrives, and the last page says so, after the one-step transfer
// as after the walk; their hidden photos (not those of a hidden folder) are
// left out and counted alike, the iPhone's camera roll's too. A song of any family's phone that cannot be read stays
// there, as does an iPhone's song whose file the music library lost: the
// heading says so on both roads, whatever else arrived, and the line why.
TEST(EndToEnd, SimulatedPhonesWithEmptyContactsAndCalendarsEndDoneOnBothRoads)
{
    std::vector<std::unique_ptr<syncstore::SyncSource>> sources;
    sources.push_back(std::make_unique<syncstore::JsonFixtureSource>(QVariantMap{
        {"contacts", QVariantList()},
        {"calendars", QVariantList{QVariantMap{{"identifier", "mine"}, {"entity", syncstore::entity::Calendar}}}},
        {"events", QVariantList()}}));
    syncstore::SyncManager::setSharedManager(std::make_shared<syncstore::SyncManager>(std::move(sources)));
    const std::shared_ptr<void> restore(nullptr, [](void *) { syncstore::SyncManager::setSharedManager(nullptr); });
    for (const int family : {e2e::kIPhone, e2e::kBlackBerry}) {
        resetTarget();
        e2e::FamilyPhone phone(family);
        NS_AppController &w = phone.run->h.wizard();
        const QString photos = family == e2e::kIPhone ? phone.simulated->cameraPort()->port.mid(5) + "/DCIM/100APPLE"
                                                      : phone.simulated->volumePath() + "/BlackBerry/pictures";
        for (const char *hidden : {"/._IMG_0001.JPG", "/.IMG_0009.jpg", "/.thumbnails/IMG_0010.jpg", "/.nomedia"})
            testenv::writeFile(photos + hidden, "hidden");
        ASSERT_TRUE(phone.run->h.walk([&] { return phone.plug(); }, NS_AppController::kStateFinalSummary, 120000));
        ASSERT_TRUE(phone.run->idle());
        const std::string walked = lastPage(w);
        EXPECT_EQ(walked.rfind("All done|0 Contacts|0 Events in 1 Calendar|", 0), 0u) << walked;
        EXPECT_EQ(QString::fromStdString(walked).count(QStringLiteral(" - Done")), 3) << walked;
        EXPECT_NE(walked.find("2 Photos - Done (2 hidden files were skipped)|"), std::string::npos) << walked;
        const QString storage = WindowsPhone7LocalDevice::storageFolderPath();
        const auto landed = [&] {
            QStringList names;
            QDirIterator it(storage, QDir::Files, QDirIterator::Subdirectories);
            while (it.hasNext()) names << it.next().mid(storage.size());
            names.removeAll(QStringLiteral("/Migration Info/sl_manifest.json"));
            names.sort();
            return names;
        };
        const QStringList walkedFiles = landed();
        w.setTransferInfo({});
        w.generateButton()->click();
        ASSERT_TRUE(
            WizardHarness::waitFor([&] { return !w.transferInfo().isEmpty() && w.runningJobCount() == 0; }, 120000));
        EXPECT_EQ(lastPage(w), walked);
        // The walk's own copies come again from the same phone: nothing to
        // ask about, and nothing lands twice.
        for (const AlertRequest &alert : phone.run->h.alerts.shown())
            EXPECT_FALSE(alert.messageText.startsWith(QStringLiteral("Files of an earlier transfer")));
        EXPECT_EQ(landed(), walkedFiles);
    }

    const char *const unread = "1 could not be read from your old phone";
    const std::pair<int, const char *> stayed[] = {{e2e::kAndroid, unread}, {e2e::kIPhone, unread},
                                                   {e2e::kBlackBerry, unread},
                                                   {e2e::kIPhone, "1 song on the iPhone was not found in the music library"}};
    for (const auto &[family, why] : stayed) {
        SCOPED_TRACE(why);
        resetTarget();
        e2e::FamilyPhone phone(family);
        NS_AppController &w = phone.run->h.wizard();
        if (phone.mtp) phone.run->h.phones.mtp()->failCall(QStringLiteral("LIBMTP_Get_File_To_Handler"), 1, 2);
        else if (family == e2e::kIPhone && why != unread)
            ASSERT_TRUE(QFile::remove(QFileInfo(phone.simulated->musicLibraryFile()).path() +
                                      QStringLiteral("/Music/The Harbour Lights/Northern Skies/02 Lanterns.mp3")));
        else if (family == e2e::kIPhone)
            testenv::writeFile(phone.simulated->mediaFolderPath() + "/iTunes_Control/Music/F09/BADS.mp3", "no song");
        else
            ASSERT_EQ(::mkfifo(QFile::encodeName(phone.simulated->volumePath() + "/BlackBerry/music/Pipe.mp3"), 0644), 0);
        QObject::connect(&w, &NS_AppController::stateEntered, [&w](int state) {
            if (state != NS_AppController::kStateChooseData) return;
            w.setContactsValue(false);
            w.setCalendarsValue(false);
        });
        ASSERT_TRUE(phone.run->h.walk([&] { return phone.plug(); }, NS_AppController::kStateFinalSummary, 120000));
        ASSERT_TRUE(phone.run->idle());
        const std::string walked = lastPage(w);
        EXPECT_EQ(walked.rfind("Not everything was moved|", 0), 0u) << walked;
        EXPECT_EQ(QString::fromStdString(walked).count(QStringLiteral(" - Done")), 3) << walked;
        EXPECT_NE(walked.find(" - Done (" + std::string(why) + ")|"), std::string::npos) << walked;
        w.setTransferInfo({});
        w.generateButton()->click();
        ASSERT_TRUE(
            WizardHarness::waitFor([&] { return !w.transferInfo().isEmpty() && w.runningJobCount() == 0; }, 120000));
        EXPECT_EQ(lastPage(w), walked);
    }
}

// A home with less free space than the reserve: the lines count what the
// phone holds, and the alert says how much to free on which disk (1024 MiB
// kept free, 104.45 MiB of media and 64 KiB for the small files the run
// writes besides, with 512 MiB free; nothing is copied, so the library
// takes no copy before the next run's, which needs only room).
TEST(EndToEnd, WithoutSpaceForAnyMediaTheLinesKeepThePhonesCountsAndTheAlertSaysWhatToFree)
{
    resetTarget();
    AndroidFixtureRun run;
    ASSERT_TRUE(run.phone);
    e2e::useFinishedCompanionApp(run.h.wizard(), *run.phone);
    run.jobs->freeSpaceOfTarget = [](const VtrFileInfoPtr &) { return vtrmedia::kReservedBytes / 2; };
    ASSERT_TRUE(run.runToEnd());
    const QString noSpace = QStringLiteral(" - Not moved: there is not enough space on your new device");
    EXPECT_TRUE(QString::fromStdString(lastPage(run.h.wizard()))
                    .endsWith(QStringLiteral("|6 Songs and 2 Playlists%1|2 Photos%1|2 Videos%1").arg(noSpace)))
        << lastPage(run.h.wizard());
    const QString storage = WindowsPhone7LocalDevice::storageFolderPath();
    QString said;
    for (const AlertRequest &alert : run.h.alerts.shown())
        if (alert.messageText.startsWith(QStringLiteral("There is not enough space"))) said = alert.informativeText;
    for (const QString &part : {QStringLiteral("Free 616.6 MB more"), QStringLiteral("\"%1\"").arg(storage),
                                QStringLiteral("\"%1\"").arg(QStorageInfo(storage).rootPath())})
        EXPECT_TRUE(said.contains(part)) << said.toStdString();
}

// The simulated Android phone of the fixture, run from the intro to the end.
bool runAndroidFixture()
{
    AndroidFixtureRun run;
    if (!run.phone) return false;
    e2e::useFinishedCompanionApp(run.h.wizard(), *run.phone);
    return run.runToEnd();
}

TEST(EndToEnd, APersonsFileUnderAnEarlierCopysNameSurvivesTheNextRun)
{
    const QString volume = blackBerryVolume();
    // The iPhone holds one of the library's songs.
    const QString songs = iPhoneLibrary();
    const QString media = testenv::makeTempDir(QStringLiteral("iphonemedia"));
    testenv::writeFile(media + "/iTunes_Control/Music/F00/QWER.mp3", testenv::readFile(songs + "/One.mp3"));
    struct Family { const char *name; std::function<bool()> run; };
    // The iPhone's photos and video are nowhere else: the second run asks,
    // and the person lets them go.
    bool secondRun = false;
    const Family families[] = {
        {"Android", runAndroidFixture},
        {"BlackBerry", [&] { RealRun run; return run.runToEnd([&] { return plugBlackBerryWithVolume(run.h, volume); }); }},
        {"iPhone", [&] {
             IPhoneCamera camera(kCameraRoll);
             RealRun run(camera.connection.get());
             if (secondRun) run.h.alerts.answer(QStringLiteral("Remove Them"));
             return run.runToEnd([&] { return camera.plug(run.h, media); });
         }},
    };
    for (const Family &family : families) {
        SCOPED_TRACE(family.name);
        resetTarget();
        secondRun = false;
        ASSERT_TRUE(family.run());
        // The person puts files of their own, of the same size, under the
        // names of one of our photos and one of our songs.
        QMap<QString, QByteArray> persons;
        QMap<QString, qsizetype> counts;
        for (const char *kind : {"Photos", "Music"}) {
            const QFileInfoList ours = QDir(targetFolder(kind)).entryInfoList(QDir::Files, QDir::Name);
            ASSERT_FALSE(ours.isEmpty()) << kind;
            counts.insert(QString::fromLatin1(kind), ours.size());
            const QString path = ours.first().filePath();
            const QByteArray mine(int(ours.first().size()), 'P');
            ASSERT_TRUE(QFile::remove(path));
            testenv::writeFile(path, mine);
            persons.insert(path, mine);
        }
        secondRun = true;
        ASSERT_TRUE(family.run());
        for (auto it = persons.cbegin(); it != persons.cend(); ++it)
            EXPECT_EQ(sha1OfFile(it.key()), sha1Of(it.value())) << it.key().toStdString();
        // Beside them, this run's own copies.
        for (auto it = counts.cbegin(); it != counts.cend(); ++it)
            EXPECT_EQ(QDir(targetFolder(it.key().toLatin1().constData())).entryList(QDir::Files).size(), it.value() + 1)
                << it.key().toStdString();
        EXPECT_TRUE(temporaryFilesBelow(WindowsPhone7LocalDevice::storageFolderPath()).isEmpty());
    }
}

// The files below `folder`, links not followed.
qsizetype filesBelow(const QString &folder)
{
    qsizetype files = 0;
    for (QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories); it.hasNext();
         it.next())
        ++files;
    return files;
}

// Every entry below `folder` by name, with its bytes or where it leads.
std::string treeOf(const QString &folder)
{
    QStringList entries;
    for (QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                         QDirIterator::Subdirectories);
         it.hasNext();) {
        const QString path = it.next();
        const QFileInfo entry = it.fileInfo();
        entries << path + QLatin1Char(' ') +
                       (entry.isSymLink() ? entry.symLinkTarget()
                        : entry.isFile()  ? QString::fromLatin1(sha1OfFile(path))
                                          : QStringLiteral("folder"));
    }
    entries.sort();
    return entries.join(QLatin1Char('\n')).toStdString();
}

// One run of a family's simulated phone, as a new start of the program
// (nothing of an earlier run held), on the walk or the one-step road.
bool runFamilyPhone(int family, bool oneStep)
{
    MediaLibraryHost::shared().forgetLibrariesForTesting();
    e2e::FamilyPhone phone(family);
    NS_AppController &w = phone.run->h.wizard();
    if (phone.mtp) e2e::useFinishedCompanionApp(w, *phone.mtp);
    const int stop = oneStep ? 14 : NS_AppController::kStateFinalSummary;
    if (!phone.run->h.walk([&] { return phone.plug(); }, stop, 120000) || !phone.run->idle()) return false;
    if (oneStep) {
        w.setMusicValue(true);
        w.setPhotosValue(true);
        w.setVideosValue(true);
        w.setTransferInfo({});
        w.generate();
        if (!WizardHarness::waitFor([&] { return !w.transferInfo().isEmpty() && w.runningJobCount() == 0; }, 120000))
            return false;
    }
    // The photos line tells nothing of the music library file.
    EXPECT_FALSE(w.photosSummaryDone().contains(QStringLiteral("music library")))
        << w.photosSummaryDone().toStdString();
    return true;
}

// The data folder or its copy records cannot be used (another user's, a link
// into ~/Documents, a record file that is a link or another user's): a second
// run of the same phone copies nothing twice, into the new phone's folder or
// the library folders, and writes nothing into ~/Documents; once the person
// has taken the link away or renamed the folder, a third run moves nothing
// twice either. On the walk and the one-step road, for the three families:
// the states of the data folder itself, or those of its records.
void expectNoRunDoublesAnything(bool dataFolderItself)
{
    const QString documents = platform::homeFolder() + QStringLiteral("/Documents");
    testenv::writeFile(documents + QStringLiteral("/letter.txt"), "the person's letter");
    const auto recordOf = [](const char *folder) {
        return QStringLiteral("/Copy records/") +
               QFile::decodeName(vtr::migration::RecordFiles::fileFor(QDir::cleanPath(targetFolder(folder))));
    };
    // Only root can leave an item of another user (65534, or 65533 where the
    // tests run as 65534).
    const uid_t other = ::geteuid() == 65534 ? 65533 : 65534;
    const auto theirs = [other](const QString &path) {
        return ::chown(QFile::encodeName(path).constData(), other, other) == 0;
    };
    const auto made = [](const QString &path) {
        return QDir().mkpath(path) && QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    };
    struct State
    {
        const char *name;
        bool dataFolder;
        std::function<bool(const QString &data)> make, mend;
        QString below;  // what the start names, in the data folder
    };
    const QString letter = documents + QStringLiteral("/letter.txt"), appdata = documents + QStringLiteral("/appdata");
    const State states[] = {
        {"the data folder is another user's", true, [&](const QString &data) { return made(data) && theirs(data); },
         [](const QString &data) { return QDir().rename(data, data + QStringLiteral(" (theirs)")); }, QString()},
        {"\"Copy records\" is a link into ~/Documents", false,
         [&](const QString &data) {
             return made(data) && QDir().mkpath(documents + QStringLiteral("/records")) &&
                    QFile::link(documents + QStringLiteral("/records"), data + QStringLiteral("/Copy records"));
         },
         [](const QString &data) { return QFile::remove(data + QStringLiteral("/Copy records")); },
         QStringLiteral("/Copy records")},
        {"the music's record is a link", false,
         [&](const QString &data) {
             return made(data + QStringLiteral("/Copy records")) && QFile::link(letter, data + recordOf("Music"));
         },
         [&](const QString &data) { return QFile::remove(data + recordOf("Music")); }, recordOf("Music")},
        {"the playlists' record is another user's", false,
         [&](const QString &data) {
             testenv::writeFile(data + recordOf("Playlists"), "{}\n");
             return made(data + QStringLiteral("/Copy records")) &&
                    QFile::setPermissions(data + recordOf("Playlists"), QFile::ReadOwner | QFile::WriteOwner) &&
                    theirs(data + recordOf("Playlists"));
         },
         [&](const QString &data) { return QFile::rename(data + recordOf("Playlists"), data + QStringLiteral(".old")); },
         recordOf("Playlists")},
        {"the data folder is a link to ~/Documents/appdata", true,
         [&](const QString &data) { return QDir().mkpath(appdata) && QFile::link(appdata, data); },
         [](const QString &data) { return QFile::remove(data); }, QString()},
    };
    // Each state on a family's road.
    const struct
    {
        const State &state;
        int family;
        bool oneStep;
    } rows[] = {{states[0], e2e::kAndroid, true},     {states[0], e2e::kBlackBerry, false},
                {states[1], e2e::kAndroid, false},    {states[2], e2e::kBlackBerry, true},
                {states[2], e2e::kIPhone, true},      {states[3], e2e::kAndroid, true},
                {states[4], e2e::kAndroid, true},     {states[4], e2e::kIPhone, false}};
    const auto restore = qScopeGuard([] { platform::setDataFolderOverride({}); });
    const auto counts = [] {
        return QList<qsizetype>{filesBelow(WindowsPhone7LocalDevice::storageFolderPath()),
                                filesBelow(MediaLibraryHost::musicFolder()) +
                                    filesBelow(MediaLibraryHost::picturesFolder()) +
                                    filesBelow(MediaLibraryHost::videosFolder())};
    };
    for (const auto &[state, family, oneStep] : rows) {
        if (state.dataFolder != dataFolderItself) continue;
        SCOPED_TRACE(QStringLiteral("%1: family %2, %3")
                         .arg(QString::fromUtf8(state.name))
                         .arg(family)
                         .arg(oneStep ? QStringLiteral("one step") : QStringLiteral("walk"))
                         .toStdString());
        resetTarget();
        for (const QString &folder :
             {MediaLibraryHost::musicFolder(), MediaLibraryHost::picturesFolder(), MediaLibraryHost::videosFolder()})
            testenv::removeTree(folder);
        const QString data = testenv::makeTempDir(QStringLiteral("share")) + QStringLiteral("/Solvenna to Windows Phone");
        platform::setDataFolderOverride(data);
        if (!state.make(data)) {
            ASSERT_NE(::geteuid(), 0u) << "the state could not be made";
            std::printf("== not root (%s): \"%s\" is not tried: only root can leave an item of another user\n",
                        std::strerror(errno), state.name);
            continue;
        }
        // The start names it with what to do and with what going on does,
        // and once that is done, nothing. Going on moves everything.
        const auto startSays = [family] {
            QStringList lines;
            for (const vtrenv::WriteProblem &problem : vtrenv::ownItemsInTheWay(true, family != e2e::kIPhone))
                lines << vtrenv::ownItemLine(problem) << vtrenv::continuingWith(problem, family != e2e::kIPhone);
            return lines.join(QLatin1Char('\n'));
        };
        const QString said = startSays();
        EXPECT_TRUE(said.contains(QStringLiteral("\"%1\" cannot be used").arg(data + state.below)) &&
                    (said.contains(QStringLiteral("Remove the link")) || said.contains(QStringLiteral("rename it"))) &&
                    said.contains(QStringLiteral("If you continue, your data is moved all the same")) &&
                    !said.contains(QStringLiteral("not moved")))
            << said.toStdString();
        const std::string documentsBefore = treeOf(documents);
        ASSERT_TRUE(runFamilyPhone(family, oneStep));
        const QList<qsizetype> first = counts();
        EXPECT_GT(first.front(), 0);
        ASSERT_TRUE(runFamilyPhone(family, oneStep));
        EXPECT_EQ(counts(), first);
        ASSERT_TRUE(state.mend(data));
        EXPECT_EQ(startSays().toStdString(), "");
        ASSERT_TRUE(runFamilyPhone(family, oneStep));
        EXPECT_EQ(counts(), first);
        EXPECT_EQ(treeOf(documents), documentsBefore);
        EXPECT_TRUE(temporaryFilesBelow(WindowsPhone7LocalDevice::storageFolderPath()).isEmpty());
    }
}

TEST(EndToEnd, ADataFolderThatCannotBeUsedDoublesNothingOnTheNextRuns) { expectNoRunDoublesAnything(true); }

TEST(EndToEnd, CopyRecordsThatCannotBeUsedDoubleNothingOnTheNextRuns) { expectNoRunDoublesAnything(false); }

// The person changes the copies in the new phone's folder: the next run keeps
// them and copies the phone's files afresh beside them ("-1"), and the
// library, which holds those bytes from the first run, takes no second copy
// of them, whatever the phone's names end in (the BlackBerry's
// "IMG00001-20130214-1015.jpg"). A run after it that cannot use its copy
// records doubles nothing either. On both roads, for the three families (the
// iPhone's media are not filed at all).
TEST(EndToEnd, CopiesThePersonChangedAreCopiedAgainButNothingIsTwinned)
{
    const auto restore = qScopeGuard([] { platform::setDataFolderOverride({}); });
    const QStringList library{MediaLibraryHost::musicFolder(), MediaLibraryHost::picturesFolder(),
                              MediaLibraryHost::videosFolder()};
    // The bytes of the library's files (playlists aside), each held once.
    const auto libraryHolds = [&library] {
        QMap<QByteArray, QStringList> files;
        for (const QString &folder : library)
            for (QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories); it.hasNext();) {
                const QString path = it.next();
                if (!path.endsWith(QStringLiteral(".m3u8"))) files[sha1OfFile(path)].append(path);
            }
        for (const QStringList &same : std::as_const(files))
            EXPECT_EQ(same.size(), 1) << same.join(QStringLiteral(", ")).toStdString();
        return files.keys();
    };
    const auto copies = [] {
        return filesBelow(targetFolder("Music")) + filesBelow(targetFolder("Photos")) +
               filesBelow(targetFolder("Videos"));
    };
    for (const int family : {e2e::kAndroid, e2e::kBlackBerry, e2e::kIPhone})
        for (const bool oneStep : {false, true}) {
            SCOPED_TRACE(QStringLiteral("family %1, %2").arg(family).arg(oneStep ? "one step" : "walk").toStdString());
            resetTarget();
            for (const QString &folder : library)
                testenv::removeTree(folder);
            const QString data =
                testenv::makeTempDir(QStringLiteral("share")) + QStringLiteral("/Solvenna to Windows Phone");
            platform::setDataFolderOverride(data);
            ASSERT_TRUE(runFamilyPhone(family, oneStep));
            const QList<QByteArray> first = libraryHolds();
            EXPECT_EQ(first.isEmpty(), family == e2e::kIPhone);
            for (const char *kind : {"Music", "Photos", "Videos"})
                for (const QFileInfo &copy : QDir(targetFolder(kind)).entryInfoList(QDir::Files)) {
                    QFile file(copy.filePath());
                    ASSERT_TRUE(file.open(QIODevice::Append) && file.write("edited") == 6) << kind;
                }
            const qsizetype changed = copies();
            ASSERT_GT(changed, 0);
            ASSERT_TRUE(runFamilyPhone(family, oneStep));
            EXPECT_EQ(copies(), 2 * changed);
            EXPECT_EQ(libraryHolds(), first);

            const QString records = data + QStringLiteral("/Copy records");
            ASSERT_TRUE(QDir().rename(records, data + QStringLiteral("/records aside")) &&
                        QFile::link(testenv::makeTempDir(QStringLiteral("elsewhere")), records));
            ASSERT_TRUE(runFamilyPhone(family, oneStep));
            EXPECT_EQ(copies(), 2 * changed);
            EXPECT_EQ(libraryHolds(), first);
        }
}

// A BlackBerry after an Android phone in the same home: the Android phone's
// playlists go with its songs, though the BlackBerry brings none; a playlist
// of the person's own stays.
TEST(EndToEnd, AnEarlierPhonesPlaylistsGoWithItsSongs)
{
    resetTarget();
    ASSERT_TRUE(runAndroidFixture());
    ASSERT_EQ(QDir(targetFolder("Playlists")).entryList(QDir::Files).size(), 2);
    testenv::writeFile(targetFolder("Playlists") + "/Mine.m3u", "#EXTM3U\r\n");
    const QString volume = blackBerryVolume();
    RealRun run;
    ASSERT_TRUE(run.runToEnd([&] { return plugBlackBerryWithVolume(run.h, volume); }));
    EXPECT_EQ(QDir(targetFolder("Playlists")).entryList(QDir::Files).join(' ').toStdString(), "Mine.m3u");
    EXPECT_EQ(hashesIn(targetFolder("Music")), expectedInFolder(volume).music);
    EXPECT_EQ(run.h.wizard().musicSummary() + run.h.wizard().musicSummaryDone(),
              QStringLiteral("3 Songs and 0 Playlists - Done"));

    // The same when the next phone's run moves its music alone.
    ASSERT_TRUE(runAndroidFixture());
    ASSERT_EQ(QDir(targetFolder("Playlists")).entryList(QDir::Files).size(), 3);
    RealRun musicAlone;
    musicAlone.h.wizard().setPhotosValue(false);
    musicAlone.h.wizard().setVideosValue(false);
    ASSERT_TRUE(musicAlone.runToEnd([&] { return plugBlackBerryWithVolume(musicAlone.h, volume); }));
    EXPECT_EQ(QDir(targetFolder("Playlists")).entryList(QDir::Files).join(' ').toStdString(), "Mine.m3u");

    // The same iPhone again, after its song Two left it and Two's file in the
    // library changed: Two's earlier copy is this computer's only one, and
    // the person keeps it. Then with both songs on a disk with room for One
    // alone, where Two's copy stays as well. On both roads the phone's
    // "Sunday" stays one playlist, naming the song kept and the one copied.
    resetTarget();
    const QString songs = iPhoneLibrary();
    const auto runIPhone = [&](const QStringList &held, const char *answer, bool tight) {
        const QString media = testenv::makeTempDir(QStringLiteral("iphonemedia"));
        for (const QString &song : held)
            testenv::writeFile(media + "/iTunes_Control/Music/F00/" + song, testenv::readFile(songs + "/" + song));
        IPhoneCamera camera(kCameraRoll);
        RealRun iPhone(camera.connection.get());
        NS_AppController &w = iPhone.h.wizard();
        if (answer) iPhone.h.alerts.answer(QString::fromLatin1(answer));
        if (tight) {
            // The earlier copies' bytes count as free.
            w.setPhotosValue(false);
            w.setVideosValue(false);
            const qint64 two = QFileInfo(songs + "/Two.mp3").size();
            iPhone.jobs->freeSpaceOfTarget = [two](const VtrFileInfoPtr &) { return vtrmedia::kReservedBytes - two; };
        }
        const auto sundayIsOne = [&] {
            EXPECT_EQ(QDir(targetFolder("Playlists")).entryList(QDir::Files).join(' ').toStdString(), "Sunday.m3u");
            EXPECT_EQ(expectPlaylistsNameCopiedTracks(), 2);
            EXPECT_EQ(QDir(targetFolder("Music")).entryList(QDir::Files).size(), 2);
        };
        ASSERT_TRUE(iPhone.h.walk([&] { return camera.plug(iPhone.h, media); }, NS_AppController::kStateFinalSummary,
                                  120000));
        ASSERT_TRUE(iPhone.idle());
        EXPECT_EQ(iPhone.h.alerts.unusedAnswers(), 0);
        sundayIsOne();
        if (!tight) return;
        w.setTransferInfo({});
        w.generateButton()->click();
        ASSERT_TRUE(WizardHarness::waitFor([&] { return !w.transferInfo().isEmpty() && w.runningJobCount() == 0; },
                                           120000));
        sundayIsOne();
    };
    runIPhone({"One.mp3", "Two.mp3"}, nullptr, false);
    MediaLibraryHost &host = MediaLibraryHost::shared();
    QFile two(host.fileOfTrack(host.addMediaFiles(songs + "/Two.mp3", QStringLiteral("Sunday")).value(0)));
    ASSERT_TRUE(two.open(QIODevice::ReadWrite));
    ASSERT_TRUE(two.setFileTime(QDateTime::currentDateTimeUtc().addDays(-2), QFileDevice::FileModificationTime));
    two.close();
    runIPhone({"One.mp3"}, "Keep Them", false);
    runIPhone({"One.mp3", "Two.mp3"}, nullptr, true);
}

// An iPhone, then a BlackBerry in the same home. The iPhone's photos and
// video are in no other folder of this computer: the BlackBerry's runs ask
// once each before they take them, on either road, and what the person keeps
// stays as it was. Its song is the music library's: it goes as any earlier
// copy does.
TEST(EndToEnd, AnEarlierIPhonesPhotosAndVideosGoOnlyWithThePersonsWord)
{
    resetTarget();
    const QString songs = iPhoneLibrary();
    const QString media = testenv::makeTempDir(QStringLiteral("iphonemedia"));
    testenv::writeFile(media + "/iTunes_Control/Music/F00/QWER.mp3", testenv::readFile(songs + "/One.mp3"));
    {
        IPhoneCamera camera(kCameraRoll);
        RealRun run(camera.connection.get());
        ASSERT_TRUE(run.runToEnd([&] { return camera.plug(run.h, media); }));
    }
    QMap<QString, QByteArray> iPhones;
    for (const char *kind : {"Photos", "Videos"})
        for (const QFileInfo &f : QDir(targetFolder(kind)).entryInfoList(QDir::Files))
            iPhones.insert(f.filePath(), testenv::readFile(f.filePath()));
    ASSERT_EQ(iPhones.size(), 3);

    const QString volume = blackBerryVolume();
    const Expected blackBerrys = expectedInFolder(volume);
    RealRun run;
    NS_AppController &w = run.h.wizard();
    const QString question = QStringLiteral("Files of an earlier transfer are only in your new device's folder.");
    const auto asked = [&] {
        QStringList said;
        for (const AlertRequest &alert : run.h.alerts.shown())
            if (alert.messageText == question) said << alert.informativeText;
        return said;
    };
    run.h.alerts.answer(QStringLiteral("Keep Them"));
    ASSERT_TRUE(run.h.walk([&] { return plugBlackBerryWithVolume(run.h, volume); },
                           NS_AppController::kStateFinalSummary, 120000));
    ASSERT_TRUE(run.idle());
    ASSERT_EQ(asked().size(), 1);
    const QString said = asked().first();
    EXPECT_TRUE(said.startsWith(QStringLiteral("3 files (2 photos, 1 video) that an earlier transfer put into \"%1\" ")
                                    .arg(WindowsPhone7LocalDevice::storageFolderPath())))
        << said.toStdString();
    for (auto it = iPhones.cbegin(); it != iPhones.cend(); ++it)
        EXPECT_EQ(testenv::readFile(it.key()), it.value()) << it.key().toStdString();
    EXPECT_EQ(hashesIn(targetFolder("Music")), blackBerrys.music);
    EXPECT_EQ(hashesIn(targetFolder("Photos")).size(), blackBerrys.photos.size() + 2);

    // The one-step road asks again; let go, they go.
    run.h.alerts.answer(QStringLiteral("Remove Them"));
    w.setTransferInfo({});
    w.generateButton()->click();
    ASSERT_TRUE(WizardHarness::waitFor([&] { return !w.transferInfo().isEmpty() && w.runningJobCount() == 0; },
                                       120000));
    EXPECT_EQ(asked().size(), 2);
    expectTargetHolds(blackBerrys);
    EXPECT_EQ(run.h.alerts.unusedAnswers(), 0);
}

TEST(EndToEnd, LinksOnABlackBerryCardThatLeadOutOfItAreNeitherOpenedNorCopied)
{
    resetTarget();
    const QString volume = blackBerryVolume();
    Expected expected = expectedInFolder(volume);
    const QString outside = testenv::makeTempDir(QStringLiteral("outside"));
    const QString secret = outside + "/secret.mp3";
    const QString diary = platform::homeFolder() + "/Documents/diary.jpg";
    testenv::writeFile(secret, "the test's own file: never to be opened");
    testenv::writeFile(diary, "the person's own picture, not the phone's");
    ASSERT_TRUE(QFile::link(secret, volume + "/BlackBerry/music/song.mp3"));
    ASSERT_TRUE(QFile::link(diary, volume + "/BlackBerry/pictures/diary.jpg"));
    // A link inside the volume is followed.
    ASSERT_TRUE(QFile::link("../ringtones/Track.mp3", volume + "/BlackBerry/music/again.mp3"));
    expected.music.append(sha1OfFile(volume + "/BlackBerry/ringtones/Track.mp3"));
    expected.sort();
    libtest::OpenWatch watch({secret, diary});
    EXPECT_TRUE(watch.watching());

    RealRun run;
    ASSERT_TRUE(run.runToEnd([&] { return plugBlackBerryWithVolume(run.h, volume); }));
    EXPECT_FALSE(watch.opened());
    expectTargetHolds(expected);
    EXPECT_EQ(run.jobs->migrators().music->numItemsNotMoved(), 1);
    EXPECT_EQ(run.jobs->migrators().photos->numItemsNotMoved(), 1);
}

TEST(EndToEnd, ATargetThatTurnsReadOnlyInACopyIsNamedAndItsLeftoverGoesAtTheNextStart)
{
    VTR_TEST_AS_UNPRIVILEGED_USER();
    resetTarget();
    // One photo big enough that its copy is still running when the watch below acts.
    const QString volume = testenv::makeTempDir(QStringLiteral("bbvol"));
    {
        QDir().mkpath(volume + "/BlackBerry/pictures");
        QFile photo(volume + "/BlackBerry/pictures/IMG00001.jpg");
        ASSERT_TRUE(photo.open(QIODevice::WriteOnly));
        const QByteArray chunk(1 << 20, 'p');
        for (int i = 0; i < 96; ++i) ASSERT_EQ(photo.write(chunk), chunk.size());
    }
    const QString photos = targetFolder("Photos");
    ASSERT_TRUE(QDir().mkpath(photos));
    // The folder turns read-only the moment the photo's copy begins.
    const int watch = ::inotify_init1(IN_CLOEXEC);
    ASSERT_GE(::inotify_add_watch(watch, QFile::encodeName(photos).constData(), IN_CREATE), 0);
    std::atomic<bool> stop{false};
    testenv::TakenModes modes;
    std::thread guard([&] {
        alignas(inotify_event) char buffer[4096];
        while (!stop) {
            pollfd p{watch, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) continue;
            const ssize_t n = ::read(watch, buffer, sizeof buffer);
            for (char *e = buffer; e < buffer + std::max<ssize_t>(n, 0);
                 e += sizeof(inotify_event) + reinterpret_cast<inotify_event *>(e)->len) {
                const auto *event = reinterpret_cast<inotify_event *>(e);
                if (event->len && vtr::isTemporaryCopyFileName(QString::fromUtf8(event->name))) {
                    modes.take(photos, 0555);
                    return;
                }
            }
        }
    });
    {
        RealRun run;
        run.runToEnd([&] { return plugBlackBerryWithVolume(run.h, volume); });
        stop = true;
        guard.join();
        EXPECT_TRUE(run.h.terminated);
        QString said;
        for (const AlertRequest &alert : run.h.alerts.shown())
            if (alert.messageText == QStringLiteral("An error occurred while transferring media to your new device."))
                said = alert.informativeText;
        EXPECT_TRUE(said.contains("\"" + photos + "\"")) << said.toStdString();
        EXPECT_TRUE(said.contains(QString::fromLocal8Bit(std::strerror(EACCES)))) << said.toStdString();
        EXPECT_TRUE(said.contains("\"" + photos + "/TessalineCopyFile.tmp\"")) << said.toStdString();
    }
    ::close(watch);
    EXPECT_EQ(temporaryFilesBelow(photos).size(), 1);
    ::chmod(QFile::encodeName(photos).constData(), 0755);
    RealRun again;
    EXPECT_TRUE(temporaryFilesBelow(photos).isEmpty());
}

TEST(EndToEnd, APhonePulledAtARandomByteOfTheBackupDamagesNothing)
{
    QRandomGenerator random(20130301);
    constexpr qint64 kTotal = 70001 + 130003 + 90007 + 150011;
    int pulled = 0;
    for (int round = 0; round < 20; ++round) {
        const qint64 offset = random.bounded(kTotal);
        SCOPED_TRACE(offset);
        resetTarget();
        // What an earlier run left, and the person's own file: both stay whole.
        testenv::writeFile(targetFolder("Photos") + "/mine.jpg", "the person's");
        RealRun run;
        MtpSimPhone *phone = smallPhone(run.h);
        // Unanswered alerts get their default button: "OK" goes on after a
        // kind's backup fails; a failed copy and the removal alert quit.
        phone->unplugAfterBytes(offset);
        run.runToEnd([&] { return run.h.plug(*phone); });
        EXPECT_TRUE(run.h.terminated);
        if (phone->isUnplugged()) ++pulled;
        EXPECT_EQ(testenv::readFile(targetFolder("Photos") + "/mine.jpg"), QByteArray("the person's"));
        EXPECT_TRUE(temporaryFilesBelow(WindowsPhone7LocalDevice::storageFolderPath()).isEmpty());
        EXPECT_TRUE(temporaryFilesBelow(platform::temporaryFolder()).isEmpty());
        // Whatever arrived is one of the phone's files, whole.
        const Expected all = expectedOnMtpPhone(*phone);
        for (const char *kind : {"Music", "Photos", "Videos"})
            for (const QFileInfo &f : QDir(targetFolder(kind)).entryInfoList(QDir::Files)) {
                if (f.fileName() == QLatin1String("mine.jpg")) continue;
                const QByteArray h = sha1OfFile(f.filePath());
                EXPECT_TRUE(all.music.contains(h) || all.photos.contains(h) || all.videos.contains(h))
                    << f.filePath().toStdString();
            }
    }
    EXPECT_EQ(pulled, 20);
}

TEST(EndToEnd, ACopyStoppedAtARandomByteLeavesEveryFileWholeAndNoTemporaryFile)
{
    const QString volume = blackBerryVolume();
    const Expected all = expectedInFolder(volume);
    QRandomGenerator random(20130302);
    int cut = 0;
    for (int round = 0; round < 20; ++round) {
        const double stopAt = random.generateDouble();
        SCOPED_TRACE(stopAt);
        resetTarget();
        testenv::writeFile(targetFolder("Videos") + "/mine.3gp", "the person's");
        RealRun run;
        // The copy is cut when its temporary file in the photos folder has
        // reached a random size, as pulling the target would end it.
        const qint64 cutAt = qint64(stopAt * kBigPhoto);
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [&] {
            const QFileInfo temporary(targetFolder("Photos") + QStringLiteral("/TessalineCopyFile.tmp"));
            if (temporary.exists() && temporary.size() >= cutAt)
                for (BackgroundJob *job : run.h.wizard().findChildren<BackgroundJob *>()) job->cancel();
        });
        watch.start(0);
        run.runToEnd([&] { return plugBlackBerryWithVolume(run.h, volume); });
        EXPECT_TRUE(run.h.terminated);
        if (run.h.alerts.titles().contains(QStringLiteral("An error occurred while transferring media to your new device.")))
            ++cut;
        EXPECT_EQ(testenv::readFile(targetFolder("Videos") + "/mine.3gp"), QByteArray("the person's"));
        EXPECT_TRUE(temporaryFilesBelow(WindowsPhone7LocalDevice::storageFolderPath()).isEmpty());
        for (const char *kind : {"Music", "Photos"})
            for (const QFileInfo &f : QDir(targetFolder(kind)).entryInfoList(QDir::Files)) {
                const QByteArray h = sha1OfFile(f.filePath());
                EXPECT_TRUE(all.music.contains(h) || all.photos.contains(h)) << f.filePath().toStdString();
            }
    }
    // The cut is made from the event loop while the copy runs: on a busy
    // machine some rounds finish first, but not all.
    EXPECT_GE(cut, 5);
}

}  // namespace
