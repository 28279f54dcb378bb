// Folders this user cannot write, as a person meets them: a home folder
// that cannot be written is said at the start in those words, and a copy
// that meets a folder it cannot write ends the transfer with the folder and
// the system's cause, which the page's lines repeat; a music library folder
// that cannot be made is said once, with its cause. File modes mean nothing
// to root: run as root, each case runs again as an unprivileged user
// (setpriv), else it is skipped with the reason.

#include "support/RealJobs.h"

#include "app/EnvironmentChecks.h"
#include "app/Scenes.h"
#include "devices/phone/WindowsPhone7LocalDevice.h"
#include "platform/Folders.h"
#include "sources/host/MediaLibraryHost.h"

#include "TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QTimer>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include <sys/stat.h>

namespace {

const QString kDenied = QString::fromLocal8Bit(std::strerror(EACCES));
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

TEST(Permissions, AMusicFolderThatCannotBeMadeIsSaidOnceAndTheRestMoves)
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
    ASSERT_TRUE(t.run());
    NS_AppController &w = t.h.wizard();
    // Without it the library files no photo either: said at the start with
    // the same cause, not as a missing photo program.
    EXPECT_FALSE(t.alertTitled(QStringLiteral("iPhoto Not Found")));
    EXPECT_FALSE(t.alertTitled(kNotConfigured));
    const QString title = QStringLiteral("Your music cannot be added to your music library.");
    EXPECT_EQ(t.h.alerts.titles().count(title), 1);
    const AlertRequest *photos = t.alertTitled(QStringLiteral("Your photos cannot be added to your photo library."));
    const AlertRequest *songs = t.alertTitled(title);
    for (const QString &text : {photos ? photos->informativeText : QString(), songs ? songs->informativeText : QString(),
                                w.musicSummaryDone()})
        EXPECT_TRUE(text.contains(music) && text.contains(locked) && text.contains(kDenied)) << text.toStdString();
    EXPECT_TRUE(w.musicSummaryDone().startsWith(QStringLiteral(" - Not moved: ")));
    // The rest of the transfer goes on to the last page.
    EXPECT_TRUE(t.h.visited.contains(NS_AppController::kStateFinalSummary));
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
