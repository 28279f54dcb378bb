// Folders this user cannot write, as a person meets them: a home folder
// that cannot be written is said at the start in those words, and a copy
// that meets a folder it cannot write ends the transfer with the folder and
// the system's cause, which the page's lines repeat; a library folder that
// cannot be made is said once, for the kinds it stops, with its cause, and
// the music it stops is offered no more but counted at the end; the lines of
// the kinds the library could not take say why. File modes mean nothing to
// root: run as root, each case that needs them runs again as an unprivileged
// user (setpriv), else it is skipped with the reason. A file where a folder
// should be stops root too.

#include "support/RealJobs.h"

#include "app/EnvironmentChecks.h"
#include "app/Scenes.h"
#include "devices/phone/AndroidDeviceClient.h"
#include "devices/phone/WindowsPhone7LocalDevice.h"
#include "platform/Folders.h"
#include "sources/host/MediaLibraryHost.h"

#include "TestEnvironment.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QTimer>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include <sys/stat.h>

namespace {

const QString kDenied = QString::fromLocal8Bit(std::strerror(EACCES));
const QString kNotAFolder = QString::fromLocal8Bit(std::strerror(ENOTDIR));
const QString kTransferFailed = QStringLiteral("An error occurred while transferring media to your new device.");
const QString kNotConfigured = QStringLiteral("iTunes has not been configured yet.");
const QString kNotTheirTurn = QStringLiteral(" - Not moved: the transfer ended before their turn");

// A wizard with the real jobs, the real start checks and the real look at
// the media library, from the welcome page to the end with the simulated
// Android phone. An alert that would ask again and again is answered once.
struct AndroidRun : AndroidFixtureRun
{
    AndroidRun()
    {
        h.wizard().setEnvironmentChecks(std::make_unique<HostEnvironmentChecks>(h.host));
        jobs->libraryHostConfigured = [] { return MediaLibraryHost::shared().isConfigured(); };
        h.alerts.setWhileOpen([this](const AlertRequest &a) {
            if (a.messageText == kNotConfigured) h.alerts.answer(QStringLiteral("Skip Music"));
        });
    }
    bool run()
    {
        h.wizard().setState(NS_AppController::kStateWelcome);
        return runToEnd();
    }
    const AlertRequest *alertTitled(const QString &title) const
    {
        for (const AlertRequest &a : h.alerts.shown())
            if (a.messageText == title) return &a;
        return nullptr;
    }
};

// What the choose page says under its boxes when it is shown, and whether
// the photos box can be ticked; the music box as it is shown.
struct ChoosePage
{
    explicit ChoosePage(AndroidRun &t)
    {
        NS_AppController *w = &t.h.wizard();
        QObject::connect(w, &NS_AppController::stateEntered, [this, w](int state) {
            if (state != 9) return;
            if (auto *label = w->chooseDataView()->findChild<QLabel *>(QStringLiteral("unavailableKinds")))
                text = label->isVisibleTo(w->chooseDataView()) ? label->text() : QString();
            photosBox = w->photosEnabled();
            if (auto *box = w->chooseDataView()->findChild<QCheckBox *>(QStringLiteral("musicInfo"))) {
                musicTicked = box->isChecked();
                musicUsable = box->isEnabled();
            }
            if (auto *box = w->chooseDataView()->findChild<QCheckBox *>(QStringLiteral("videosInfo")))
                videosTicked = box->isChecked() && box->isEnabled();
        });
    }
    QStringList lines() const { return text.split(QLatin1Char('\n')); }
    QString text;
    bool photosBox = true;
    bool musicTicked = true;
    bool musicUsable = true;
    bool videosTicked = false;
};

// The lines of the summary pane as they read (the estimate aside).
QStringList summaryLines(NS_AppController &w)
{
    QStringList lines;
    for (const QLabel *label : w.transferSummaryView()->findChildren<QLabel *>())
        if (label->objectName() != QLatin1String("summaryEstimate") && label->isVisibleTo(w.transferSummaryView()))
            lines.append(label->text());
    return lines;
}

// The summary pane as the "Ready to move" page shows it.
struct ReadyPage
{
    explicit ReadyPage(AndroidRun &t)
    {
        NS_AppController *w = &t.h.wizard();
        QObject::connect(w, &NS_AppController::stateEntered, [this, w](int state) {
            if (state == 14) lines = summaryLines(*w);
        });
    }
    QStringList lines;
};

// Where the user's folders are, one a line ("XDG_VIDEOS_DIR", path).
void setUserFolders(const QList<QPair<const char *, QString>> &folders)
{
    QByteArray text;
    for (const auto &[key, path] : folders)
        text += QByteArray(key) + "=\"" + path.toUtf8() + "\"\n";
    testenv::writeFile(qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/user-dirs.dirs"), text);
}

struct ModeRestore
{
    QString path;
    ~ModeRestore() { ::chmod(QFile::encodeName(path).constData(), 0755); }
};

}  // namespace

TEST(Permissions, AHomeThatCannotBeWritten)
{
    VTR_TEST_AS_UNPRIVILEGED_USER();
    const QString home = QDir::cleanPath(platform::homeFolder());
    AndroidRun t;
    ASSERT_EQ(::chmod(QFile::encodeName(home).constData(), 0555), 0);
    const ModeRestore restore{home};
    ASSERT_TRUE(t.run());
    NS_AppController &w = t.h.wizard();

    // Said at the start, in those words, and not as a missing photo program.
    ASSERT_FALSE(t.h.alerts.shown().isEmpty());
    const AlertRequest &first = t.h.alerts.shown().first();
    EXPECT_EQ(first.messageText, QStringLiteral("Your home folder cannot be written."));
    EXPECT_TRUE(first.informativeText.contains(home)) << first.informativeText.toStdString();
    EXPECT_TRUE(first.informativeText.contains(kDenied)) << first.informativeText.toStdString();
    EXPECT_FALSE(t.alertTitled(QStringLiteral("iPhoto Not Found")));

    // The music library is not blamed for the home folder: the copy meets
    // the cause and ends the transfer saying it, once.
    EXPECT_FALSE(t.alertTitled(kNotConfigured));
    EXPECT_EQ(t.h.alerts.titles().count(kTransferFailed), 1);
    if (const AlertRequest *failed = t.alertTitled(kTransferFailed)) {
        EXPECT_TRUE(failed->informativeText.contains(home)) << failed->informativeText.toStdString();
        EXPECT_TRUE(failed->informativeText.contains(kDenied)) << failed->informativeText.toStdString();
    }
    // The page's lines say what became of each kind, and why.
    EXPECT_FALSE(w.transferSummaryView()->isHidden());
    EXPECT_TRUE(w.musicSummaryDone().startsWith(QStringLiteral(" - Failed: "))) << w.musicSummaryDone().toStdString();
    EXPECT_TRUE(w.musicSummaryDone().contains(home) && w.musicSummaryDone().contains(kDenied));
    EXPECT_EQ(w.photosSummaryDone(), kNotTheirTurn);
    EXPECT_EQ(w.videosSummaryDone(), kNotTheirTurn);
}

TEST(Permissions, AMusicFolderThatCannotBeMadeIsSaidOnceForTheKindsItConcernsAndTheRestMoves)
{
    VTR_TEST_AS_UNPRIVILEGED_USER();
    const QString locked = QDir::cleanPath(platform::homeFolder()) + QStringLiteral("/locked");
    const QString music = locked + QStringLiteral("/Music");
    ASSERT_TRUE(QDir().mkpath(locked));
    testenv::writeFile(qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/user-dirs.dirs"),
                       "XDG_MUSIC_DIR=\"" + music.toUtf8() + "\"\n");
    ASSERT_EQ(::chmod(QFile::encodeName(locked).constData(), 0555), 0);
    const ModeRestore restore{locked};
    AndroidRun t;
    const ChoosePage choose(t);
    ASSERT_TRUE(t.run());
    NS_AppController &w = t.h.wizard();
    // Said once, at the start, for music, with the folder and the cause;
    // the photos, which need only their own folder, are neither blamed nor
    // turned off.
    const QString title = QStringLiteral("Your music cannot be added to your music library.");
    EXPECT_EQ(t.h.alerts.titles().count(title), 1) << qPrintable(t.h.alerts.titles().join(QLatin1Char('|')));
    EXPECT_TRUE(t.h.alerts.titles().indexOf(title) < t.h.alerts.titles().indexOf(QStringLiteral("Installing Android app")));
    for (const QString &other : {QStringLiteral("iPhoto Not Found"), QStringLiteral("Your photos cannot be added to your photo library."),
                                 QStringLiteral("The folder for your photos cannot be written."), kNotConfigured})
        EXPECT_FALSE(t.alertTitled(other)) << other.toStdString();
    EXPECT_FALSE(choose.text.contains(QStringLiteral("Photos"))) << choose.text.toStdString();
    EXPECT_EQ(w.photosSummaryDone(), QStringLiteral(" - Done"));
    // Music is not moved, and the videos that reached the new phone are not
    // filed: both lines say why, as the alert did.
    const AlertRequest *songs = t.alertTitled(title);
    for (const QString &text : {songs ? songs->informativeText : QString(), w.musicSummaryDone(), w.videosSummaryDone()})
        EXPECT_TRUE(text.contains(music) && text.contains(locked) && text.contains(kDenied)) << text.toStdString();
    EXPECT_TRUE(w.musicSummaryDone().startsWith(QStringLiteral(" - Not moved: ")));
    EXPECT_TRUE(w.videosSummaryDone().startsWith(QStringLiteral(" - Done (2 could not be added to your video library: ")))
        << w.videosSummaryDone().toStdString();
    // The rest of the transfer goes on to the last page.
    EXPECT_TRUE(t.h.visited.contains(NS_AppController::kStateFinalSummary));
}

TEST(Permissions, LibraryFoldersThatCannotBeWrittenAreNamedWithTheCauseOnEachKindsLine)
{
    VTR_TEST_AS_UNPRIVILEGED_USER();
    const QString home = QDir::cleanPath(platform::homeFolder());
    const QString music = home + QStringLiteral("/Music"), videos = home + QStringLiteral("/Videos"),
                  pictures = home + QStringLiteral("/Pictures");
    testenv::writeFile(qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/user-dirs.dirs"),
                       "XDG_MUSIC_DIR=\"" + music.toUtf8() + "\"\nXDG_VIDEOS_DIR=\"" + videos.toUtf8() +
                           "\"\nXDG_PICTURES_DIR=\"" + pictures.toUtf8() + "\"\n");
    for (const QString &folder : {music, videos, pictures}) ASSERT_TRUE(QDir().mkpath(folder));
    const ModeRestore restoreMusic{music}, restoreVideos{videos}, restorePictures{pictures};
    for (const QString &folder : {music, videos}) ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), 0555), 0);
    AndroidRun t;
    NS_AppController &w = t.h.wizard();
    // The pictures folder turns read-only once the start has passed it; the
    // summary page meanwhile tells the work ahead.
    QString estimate;
    QObject::connect(&w, &NS_AppController::stateEntered, [&](int state) {
        if (state != 14) return;
        estimate = w.timeEstimateText();
        ::chmod(QFile::encodeName(pictures).constData(), 0555);
    });
    ASSERT_TRUE(t.run());
    EXPECT_TRUE(estimate.startsWith(QStringLiteral("Estimated time remaining: about ")) && !estimate.contains(QStringLiteral(" 0 ")))
        << estimate.toStdString();
    // Music and videos reach the new phone; each line says what the library
    // could not take and why, in the system's words.
    const struct
    {
        QString line, folder;
        const char *library;
    } kinds[] = {{w.musicSummary() + w.musicSummaryDone(), music, "could not be added to your music library: "},
                 {w.photosSummary() + w.photosSummaryDone(), pictures, "could not be added to your photo library: "},
                 {w.videosSummary() + w.videosSummaryDone(), videos, "could not be added to your video library: "}};
    for (const auto &k : kinds) {
        EXPECT_TRUE(k.line.contains(QStringLiteral(" - Done (")) && k.line.contains(QLatin1String(k.library)) &&
                    k.line.contains(k.folder) && k.line.contains(kDenied))
            << k.line.toStdString();
        EXPECT_FALSE(k.line.contains(QStringLiteral("could not be made\"")) || k.line.contains(QStringLiteral("could not be made)")))
            << k.line.toStdString();
    }
    // Nothing of the copy asked or alerted: the lines say it.
    EXPECT_FALSE(t.alertTitled(kNotConfigured));
    EXPECT_FALSE(t.alertTitled(kTransferFailed));
}

TEST(Permissions, APicturesFolderThatCannotBeWrittenTurnsOffThePhotosWithItsOwnReason)
{
    VTR_TEST_AS_UNPRIVILEGED_USER();
    const QString pictures = QDir::cleanPath(platform::homeFolder()) + QStringLiteral("/Pictures");
    testenv::writeFile(qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/user-dirs.dirs"),
                       "XDG_PICTURES_DIR=\"" + pictures.toUtf8() + "\"\n");
    ASSERT_TRUE(QDir().mkpath(pictures));
    ASSERT_EQ(::chmod(QFile::encodeName(pictures).constData(), 0555), 0);
    const ModeRestore restore{pictures};
    AndroidRun t;
    const ChoosePage choose(t);
    ASSERT_TRUE(t.run());
    const QString reason = QStringLiteral("The folder \"%1\" cannot be written: %2.").arg(pictures, kDenied);
    ASSERT_TRUE(t.alertTitled(QStringLiteral("The folder for your photos cannot be written.")));
    EXPECT_TRUE(t.alertTitled(QStringLiteral("The folder for your photos cannot be written."))->informativeText.startsWith(reason));
    EXPECT_EQ(t.h.alerts.titles().filter(QStringLiteral("cannot be")).size(), 1);
    // The choose page gives the photos that reason, and the phone's storage
    // (which was read) none.
    EXPECT_TRUE(choose.text.split(QLatin1Char('\n')).contains(QStringLiteral("Photos: ") + reason)) << choose.text.toStdString();
    EXPECT_FALSE(choose.text.contains(QStringLiteral("storage"))) << choose.text.toStdString();
    EXPECT_FALSE(choose.photosBox);
    EXPECT_EQ(t.h.wizard().musicSummaryDone(), QStringLiteral(" - Done"));
}

TEST(Permissions, ATargetThatTurnsReadOnly)
{
    VTR_TEST_AS_UNPRIVILEGED_USER();
    const QString music = QDir(WindowsPhone7LocalDevice::storageFolderPath()).filePath(QStringLiteral("Music"));
    AndroidRun t;
    NS_AppController &w = t.h.wizard();
    // The music folder goes read-only while its first file is being written.
    const ModeRestore restore{music};
    QTimer watch;
    bool turned = false;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (turned || w.currentState() != 19 || !QFileInfo::exists(music)) return;
        for (const QFileInfo &f : QDir(music).entryInfoList(QDir::Files | QDir::Hidden))
            if (f.size() > 0) turned = ::chmod(QFile::encodeName(music).constData(), 0555) == 0;
    });
    watch.start(0);
    QString pageWhileAsked;
    t.h.alerts.setWhileOpen([&](const AlertRequest &a) {
        if (a.messageText == kTransferFailed) pageWhileAsked = w.singleProgressText();
    });
    ASSERT_TRUE(t.run());
    ASSERT_TRUE(turned);
    // The failed kind ends the whole transfer, with its cause as the reason.
    const AlertRequest *failed = t.alertTitled(kTransferFailed);
    ASSERT_TRUE(failed);
    EXPECT_EQ(failed->buttons, QStringList{QStringLiteral("Quit")});
    EXPECT_FALSE(t.h.visited.contains(NS_AppController::kStateFinalSummary));
    for (const QString &text : {failed->informativeText, pageWhileAsked, w.musicSummaryDone()}) {
        EXPECT_TRUE(text.contains(music)) << text.toStdString();
        EXPECT_TRUE(text.contains(kDenied)) << text.toStdString();
    }
    EXPECT_TRUE(w.musicSummaryDone().startsWith(QStringLiteral(" - Failed: ")));
    // The kinds after it never had their turn; nothing of theirs was written.
    EXPECT_EQ(w.photosSummaryDone(), kNotTheirTurn);
    EXPECT_EQ(w.videosSummaryDone(), kNotTheirTurn);
    for (const char *folder : {"Photos", "Videos"})
        EXPECT_TRUE(QDir(QDir(WindowsPhone7LocalDevice::storageFolderPath()).filePath(QLatin1String(folder)))
                        .entryList(QDir::Files)
                        .isEmpty())
            << folder;
}

// A file where the videos folder should be stops the music, whose library
// needs that folder: said once at the start, and then the choose page, the
// summary and the last page each say it in their own words. The videos still
// reach the new phone, without being filed.
TEST(Permissions, AFileInPlaceOfTheVideosFolderStopsTheMusicAndEveryPageSaysSo)
{
    const QString home = QDir::cleanPath(platform::homeFolder());
    const QString videos = home + QStringLiteral("/Videos");
    setUserFolders({{"XDG_VIDEOS_DIR", videos}});
    testenv::writeFile(videos, "not a folder");
    AndroidRun t;
    const ChoosePage choose(t);
    const ReadyPage ready(t);
    ASSERT_TRUE(t.run());
    NS_AppController &w = t.h.wizard();
    const QString cause = QStringLiteral("the music library needs the folder \"%1\", which cannot be written: %2")
                              .arg(videos, kNotAFolder);

    const AlertRequest *start = t.alertTitled(QStringLiteral("Your videos cannot be added to your video library."));
    ASSERT_TRUE(start);
    EXPECT_TRUE(start->informativeText.contains(QStringLiteral("Your music is not moved")))
        << start->informativeText.toStdString();
    EXPECT_EQ(t.h.alerts.titles().filter(QStringLiteral("cannot be")).size(), 1)
        << qPrintable(t.h.alerts.titles().join('|'));
    EXPECT_FALSE(t.alertTitled(kNotConfigured));

    // Offered no more, and why.
    EXPECT_FALSE(choose.musicTicked);
    EXPECT_FALSE(choose.musicUsable);
    EXPECT_TRUE(choose.lines().contains(QStringLiteral("Music: The") + cause.mid(3) + QLatin1Char('.')))
        << choose.text.toStdString();
    EXPECT_TRUE(choose.videosTicked);
    EXPECT_EQ(choose.lines().filter(QStringLiteral("Videos:")).size(), 0) << choose.text.toStdString();
    // Not promised.
    EXPECT_TRUE(ready.lines.contains(QStringLiteral("Skipping Music"))) << qPrintable(ready.lines.join('|'));
    EXPECT_TRUE(ready.lines.filter(QStringLiteral("Song")).isEmpty()) << qPrintable(ready.lines.join('|'));
    // What stayed behind, counted as the phone holds it.
    const QStringList last = summaryLines(w);
    EXPECT_TRUE(last.contains(QStringLiteral("6 Songs and 2 Playlists - Not moved: ") + cause))
        << qPrintable(last.join('|'));
    EXPECT_TRUE(last.contains(
        QStringLiteral(
            "2 Videos - Done (2 could not be added to your video library: the folder \"%1\" cannot be written: %2)")
            .arg(videos, kNotAFolder)))
        << qPrintable(last.join('|'));
    EXPECT_TRUE(last.contains(QStringLiteral("2 Photos - Done"))) << qPrintable(last.join('|'));
    EXPECT_EQ(w.scenesViewController()->templateController()->header(), QStringLiteral("Not everything was moved"));
    const QDir storage(WindowsPhone7LocalDevice::storageFolderPath());
    EXPECT_TRUE(QDir(storage.filePath(QStringLiteral("Music"))).entryList(QDir::Files).isEmpty());
    EXPECT_EQ(QDir(storage.filePath(QStringLiteral("Videos"))).entryList(QDir::Files).size(), 2);
}

// The same on the one-step road: the music is counted on its line and left
// out of the report of what was moved.
TEST(Permissions, TheOneStepTransferTellsTheStoppedMusicAndReportsOnlyWhatMoved)
{
    const QString videos = QDir::cleanPath(platform::homeFolder()) + QStringLiteral("/Videos");
    setUserFolders({{"XDG_VIDEOS_DIR", videos}});
    testenv::writeFile(videos, "not a folder");
    AndroidRun t;
    NS_AppController &w = t.h.wizard();
    w.setState(NS_AppController::kStateWelcome);
    ASSERT_TRUE(t.idle());
    ASSERT_TRUE(t.walk(14));
    ASSERT_TRUE(t.idle());
    w.setTransferInfo({});
    w.generate();
    ASSERT_TRUE(WizardHarness::waitFor([&] { return !w.transferInfo().isEmpty(); }, 120000));
    ASSERT_TRUE(t.idle());
    EXPECT_TRUE(summaryLines(w).contains(QStringLiteral("6 Songs and 2 Playlists - Not moved: the music library needs "
                                                        "the folder \"%1\", which cannot be written: %2")
                                             .arg(videos, kNotAFolder)))
        << qPrintable(summaryLines(w).join('|'));
    EXPECT_FALSE(w.transferInfo().contains(QStringLiteral("music")));
    EXPECT_EQ(w.transferInfo().value(QStringLiteral("videos")).toMap().value(QStringLiteral("video_cnt")).toInt(), 2);
    EXPECT_TRUE(QDir(WindowsPhone7LocalDevice::storageFolderPath() + QStringLiteral("/Music"))
                    .entryList(QDir::Files)
                    .isEmpty());
}

// One folder in the way of both the photos and the music library: the
// photos' alert says the music is not moved either, and nothing says it again.
TEST(Permissions, AFileInPlaceOfThePicturesFolderIsSaidOnceForThePhotosAndTheMusic)
{
    const QString pictures = QDir::cleanPath(platform::homeFolder()) + QStringLiteral("/Pictures");
    setUserFolders({{"XDG_PICTURES_DIR", pictures}});
    testenv::writeFile(pictures, "not a folder");
    AndroidRun t;
    const ChoosePage choose(t);
    ASSERT_TRUE(t.run());
    NS_AppController &w = t.h.wizard();
    const AlertRequest *start = t.alertTitled(QStringLiteral("The folder for your photos cannot be written."));
    ASSERT_TRUE(start);
    EXPECT_TRUE(start->informativeText.contains(QStringLiteral("Your music is not moved either")))
        << start->informativeText.toStdString();
    EXPECT_EQ(t.h.alerts.titles().filter(QStringLiteral("cannot be")).size(), 1)
        << qPrintable(t.h.alerts.titles().join('|'));
    const QString written = QStringLiteral("\"%1\", which cannot be written: %2").arg(pictures, kNotAFolder);
    EXPECT_TRUE(choose.lines().contains(
        QStringLiteral("Photos: The folder \"%1\" cannot be written: %2.").arg(pictures, kNotAFolder)))
        << choose.text.toStdString();
    EXPECT_TRUE(choose.lines().contains(QStringLiteral("Music: The music library needs the folder ") + written +
                                        QLatin1Char('.')))
        << choose.text.toStdString();
    EXPECT_FALSE(choose.musicUsable);
    EXPECT_TRUE(summaryLines(w).contains(
        QStringLiteral("6 Songs and 2 Playlists - Not moved: the music library needs the folder ") + written))
        << qPrintable(summaryLines(w).join('|'));
}

// A phone without videos, on a computer whose library cannot be had: the
// videos line has nothing to say that could not be added.
TEST(Permissions, AKindThePhoneHasNoneOfIsDoneWhateverTheLibrary)
{
    const QString videos = QDir::cleanPath(platform::homeFolder()) + QStringLiteral("/Videos");
    setUserFolders({{"XDG_VIDEOS_DIR", videos}});
    testenv::writeFile(videos, "not a folder");
    AndroidRun t;
    MtpSimPhone &phone = t.h.phones.mtp()->addPhone();
    MtpSimIdentity id;
    id.vendorId = 0x04e8;
    id.productId = 0x6642;
    id.serialNumber = QStringLiteral("NOVIDEOS1");
    id.manufacturerName = QStringLiteral("Samsung");
    id.modelName = QStringLiteral("Stills");
    phone.setIdentity(id);
    MtpSimStorageSpec spec;
    spec.capacity = 1 << 30;
    const uint32_t storage = phone.addStorage(spec);
    const uint32_t companion = phone.addFolder(storage, 0, QString::fromLatin1(AndroidDeviceClient::kCompanionFolder));
    phone.addFile(storage, companion, QString::fromLatin1(AndroidDeviceClient::kDoneFileName), "done");
    phone.addFileOfSize(storage, phone.addFolder(storage, 0, QStringLiteral("DCIM")), QStringLiteral("p.jpg"), 90007);
    t.phone = &phone;
    ASSERT_TRUE(t.run());
    EXPECT_EQ(t.h.wizard().videosSummaryDone().toStdString(), " - Done");
    EXPECT_EQ(t.h.wizard().photosSummaryDone().toStdString(), " - Done");
}
