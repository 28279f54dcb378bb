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
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

namespace {

const char *const kChildVariable = "VTR_UNPRIVILEGED_CASE";
const QString kDenied = QString::fromLocal8Bit(std::strerror(EACCES));
const QString kMusicFailed = QStringLiteral("An error occurred while copying music to your new device.");

// Runs `childTest` of this program as user and group 65534 with a fresh
// private tree that user owns. The child's own failures fail the case.
void runUnprivileged(const char *childTest)
{
    if (::geteuid() != 0) GTEST_SKIP() << "runs in this process (not root)";
    if (QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty())
        GTEST_SKIP() << "running as root without setpriv: file modes cannot be tested";
    // Below the system's temporary folder: the test's own tree is private to root.
    QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/vtr-unprivileged-XXXXXX"));
    ASSERT_TRUE(dir.isValid());
    ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
    ASSERT_EQ(::chown(QFile::encodeName(dir.path()).constData(), 65534, 65534), 0);
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("VTR_TEST_TMP"), dir.path());
    env.insert(QString::fromLatin1(kChildVariable), QStringLiteral("1"));
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    child.start(QStringLiteral("setpriv"),
                {QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"), QStringLiteral("--clear-groups"),
                 QCoreApplication::applicationFilePath(),
                 QStringLiteral("--gtest_filter=UnprivilegedRun.%1").arg(QLatin1String(childTest))});
    ASSERT_TRUE(child.waitForFinished(240000));
    EXPECT_EQ(child.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(child.exitCode(), 0) << "the unprivileged run failed (its output is above)";
}

// The child cases run only when asked for, as the unprivileged user, or in a
// test process that is not root.
bool childMayRun()
{
    return !qEnvironmentVariableIsEmpty(kChildVariable) || ::geteuid() != 0;
}

// A wizard with the real jobs and the real start checks, from the welcome
// page to the end with the simulated Android phone.
struct AndroidRun : RealJobs
{
    AndroidRun() { h.wizard().setEnvironmentChecks(std::make_unique<HostEnvironmentChecks>(h.host)); }
    bool run()
    {
        phone = h.phones.addFixture(QStringLiteral(VTR_TEST_SOURCE_DIR "/devices/data/mtp/android_phone.json"));
        if (!phone) return false;
        h.wizard().setState(NS_AppController::kStateWelcome);
        return runToEnd([&] {
            h.phones.plug(*phone);
            return WizardHarness::waitFor([&] { return h.wizard().isOldDeviceConnected(); });
        });
    }
    const AlertRequest *alertTitled(const QString &title) const
    {
        for (const AlertRequest &a : h.alerts.shown())
            if (a.messageText == title) return &a;
        return nullptr;
    }
    MtpSimPhone *phone = nullptr;
};

struct ModeRestore
{
    QString path;
    ~ModeRestore() { ::chmod(QFile::encodeName(path).constData(), 0755); }
};

}  // namespace

TEST(UnprivilegedRun, ReadOnlyHome)
{
    if (!childMayRun()) GTEST_SKIP() << "the unprivileged half of Permissions.AHomeThatCannotBeWritten";
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

TEST(UnprivilegedRun, TargetTurnsReadOnlyDuringTheCopy)
{
    if (!childMayRun()) GTEST_SKIP() << "the unprivileged half of Permissions.ATargetThatTurnsReadOnly";
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

TEST(Permissions, AHomeThatCannotBeWritten) { runUnprivileged("ReadOnlyHome"); }

TEST(Permissions, ATargetThatTurnsReadOnly) { runUnprivileged("TargetTurnsReadOnlyDuringTheCopy"); }
