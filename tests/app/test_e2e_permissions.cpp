// Folders this user cannot write, as a person meets them: a home folder
// that cannot be written is said at the start in those words, and a target
// folder made read-only in the middle of the copy ends in a failure that the
// page and the alert name, with the folder and the system's cause. File modes
// mean nothing to root: run as root, each case runs again as an unprivileged
// user (setpriv), else it is skipped with the reason.

#include "support/RealJobs.h"

#include "app/EnvironmentChecks.h"
#include "app/Scenes.h"
#include "devices/phone/WindowsPhone7LocalDevice.h"
#include "platform/Folders.h"

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
const QString kMusicFailed = QStringLiteral("An error occurred while copying music to your new device.");

// A wizard with the real jobs and the real start checks, from the welcome
// page to the end with the simulated Android phone.
struct AndroidRun : AndroidFixtureRun
{
    AndroidRun() { h.wizard().setEnvironmentChecks(std::make_unique<HostEnvironmentChecks>(h.host)); }
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

    // One alert for the one cause, with the real reason.
    EXPECT_EQ(t.h.alerts.titles().count(kMusicFailed), 1);
    if (const AlertRequest *failed = t.alertTitled(kMusicFailed)) {
        EXPECT_TRUE(failed->informativeText.contains(home)) << failed->informativeText.toStdString();
        EXPECT_TRUE(failed->informativeText.contains(kDenied)) << failed->informativeText.toStdString();
    }
    // The last page says no media line is done, and why.
    EXPECT_TRUE(t.h.visited.contains(NS_AppController::kStateFinalSummary));
    EXPECT_EQ(w.scenesViewController()->templateController()->header(), QStringLiteral("Not everything was moved"));
    for (const QString &done : {w.musicSummaryDone(), w.photosSummaryDone(), w.videosSummaryDone()}) {
        EXPECT_TRUE(done.startsWith(QStringLiteral(" - Failed: "))) << done.toStdString();
        EXPECT_TRUE(done.contains(home) && done.contains(kDenied)) << done.toStdString();
    }
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
        if (a.messageText == kMusicFailed) pageWhileAsked = w.singleProgressText();
    });
    ASSERT_TRUE(t.run());
    ASSERT_TRUE(turned);
    const AlertRequest *failed = t.alertTitled(kMusicFailed);
    ASSERT_TRUE(failed);
    for (const QString &text : {failed->informativeText, pageWhileAsked, w.musicSummaryDone()}) {
        EXPECT_TRUE(text.contains(music)) << text.toStdString();
        EXPECT_TRUE(text.contains(kDenied)) << text.toStdString();
    }
    EXPECT_TRUE(w.musicSummaryDone().startsWith(QStringLiteral(" - Failed: ")));
    // The other kinds go on and are done.
    EXPECT_EQ(w.photosSummaryDone(), QStringLiteral(" - Done"));
    EXPECT_EQ(w.videosSummaryDone(), QStringLiteral(" - Done"));
}
