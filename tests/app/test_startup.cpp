// The program as a person starts it: options and fixtures checked before
// anything else, no display, a second start on the same home, the window on
// a small screen at 200 %, and the desktop entry that starts it.

#include "TestEnvironment.h"
#include "app/AppStartup.h"
#include "app/SimulatedPhone.h"
#include "app/SingleInstance.h"
#include "support/WizardHarness.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QLocalSocket>
#include <QProcess>
#include <QStandardPaths>
#include <QSysInfo>

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <thread>
#include <utility>

#include <csignal>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const QString kProgram = QStringLiteral(VTR_APP_PROGRAM);
const QString kAndroid = QStringLiteral(VTR_TEST_SOURCE_DIR "/devices/data/mtp/android_phone.json");
const QString kIPhone = QStringLiteral(VTR_TEST_SOURCE_DIR "/app/data/simulated_iphone.json");
const QString kBlackBerry = QStringLiteral(VTR_TEST_SOURCE_DIR "/app/data/simulated_blackberry.json");

// A home of its own for one start of the program, offscreen.
QProcessEnvironment privateEnvironment(const QString &home)
{
    QDir().mkpath(home + QStringLiteral("/runtime"));
    QFile::setPermissions(home + QStringLiteral("/runtime"), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                                  QFileDevice::ExeOwner);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home);
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home + QStringLiteral("/runtime"));
    for (const char *name : {"CONFIG", "DATA", "CACHE", "STATE"})
        env.insert(QStringLiteral("XDG_%1_HOME").arg(QLatin1String(name)),
                   home + QStringLiteral("/") + QString::fromLatin1(name).toLower());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    return env;
}

struct ProgramRun
{
    int status = -1;
    QString out;
    QString err;
};

ProgramRun runProgram(const QString &program, const QStringList &arguments, const QProcessEnvironment &env,
               int timeoutMs = 120000)
{
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(program, arguments);
    ProgramRun run;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
    }
    run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
}

struct UsableFixture
{
    QString path;
    vtrapp::SimulatedPhone::Family family;
    quint16 vendor;
};

// Each fixture is taken, a relative path from `folder`; the current folder
// is the process's own again afterwards, however the checks end.
void expectUsableFrom(const QString &folder, const QList<UsableFixture> &fixtures)
{
    const testenv::CurrentFolder current(folder);
    for (const UsableFixture &g : fixtures) {
        const vtrapp::StartupOptions options =
            vtrapp::parseOptions({QStringLiteral("app"), QStringLiteral("--simulate-phone"), g.path});
        EXPECT_EQ(options.error, QString()) << qPrintable(g.path);
        ASSERT_TRUE(options.phone);
        EXPECT_EQ(options.phone->family(), g.family);
        EXPECT_EQ(options.phone->identity().vendor, g.vendor);
    }
}

TEST(Startup, HelpWorksAnywhereAndNoDisplayIsOneClearLine)
{
    QProcessEnvironment env = privateEnvironment(testenv::makeTempDir(QStringLiteral("nodisplay")));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    const ProgramRun help = runProgram(kProgram, {QStringLiteral("--help")}, env);
    EXPECT_EQ(help.status, 0) << qPrintable(help.err);
    EXPECT_TRUE(help.out.startsWith(QStringLiteral("Usage: solvenna-to-windows-phone"))) << qPrintable(help.out);

    const struct
    {
        const char *display;
        const char *says;
    } cases[] = {{nullptr, "neither DISPLAY nor WAYLAND_DISPLAY is set"},
                 {":8765", "the display :8765 cannot be reached"}};
    for (const auto &c : cases) {
        if (c.display) env.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(c.display));
        const ProgramRun run = runProgram(kProgram, {}, env);
        EXPECT_EQ(run.status, vtrapp::kExitNoDisplay) << qPrintable(run.err);
        const QStringList lines = run.err.trimmed().split(QLatin1Char('\n'));
        EXPECT_EQ(lines.size(), 1) << qPrintable(run.err);
        EXPECT_TRUE(lines.first().contains(QString::fromLatin1(c.says))) << qPrintable(run.err);
    }
}

// A fixture named without its option, or any other word: refused with the
// usage as an unknown option is, before any window (the wizard would wait for
// a phone that never comes).
TEST(Startup, AWordThatIsNotAnOptionIsRefusedAsAnUnknownOptionIs)
{
    const QProcessEnvironment env = privateEnvironment(testenv::makeTempDir(QStringLiteral("stray")));
    const struct
    {
        QStringList arguments;
        QString says;
    } cases[] = {
        {{QStringLiteral("--bogus")}, QStringLiteral("Unknown option --bogus.")},
        {{kIPhone, QStringLiteral("--quit-after-state"), QStringLiteral("0")}, QStringLiteral("Unknown argument %1.").arg(kIPhone)},
        {{QStringLiteral("--simulate-phone"), kAndroid, QStringLiteral("now"), QStringLiteral("--quit-after-state"),
          QStringLiteral("0")},
         QStringLiteral("Unknown argument now.")},
    };
    for (const auto &c : cases) {
        const ProgramRun run = runProgram(kProgram, c.arguments, env);
        EXPECT_EQ(run.status, vtrapp::kExitUsage) << qPrintable(run.out + run.err);
        EXPECT_EQ(run.err.toStdString(), (c.says + QLatin1Char('\n') + vtrapp::usageText()).toStdString());
        EXPECT_EQ(run.out.toStdString(), "");
    }
}

TEST(Startup, EveryFixtureThatCannotBeUsedIsRefusedWithItsReason)
{
    const QString dir = testenv::makeTempDir(QStringLiteral("fixtures"));
    QByteArray android = testenv::readFile(kAndroid);
    // Cut inside the text of the first companion file.
    testenv::writeFile(dir + QStringLiteral("/cut.json"), android.left(android.indexOf("ADD_RECORD") + 4));
    testenv::writeFile(dir + QStringLiteral("/empty.json"), "");
    testenv::writeFile(dir + QStringLiteral("/blank.json"), " \n\t");
    testenv::writeFile(dir + QStringLiteral("/array.json"), "[1]");
    testenv::writeFile(dir + QStringLiteral("/identity.json"), R"({"identity": 5})");
    testenv::writeFile(dir + QStringLiteral("/noids.json"), R"({"identity": {"productName": "x"}})");
    testenv::writeFile(dir + QStringLiteral("/family.json"), R"({"family": "Nokia"})");
    testenv::writeFile(dir + QStringLiteral("/storages.json"),
                       R"({"identity": {"vendorId": "0x04e8", "productId": "0x6642"},
                           "storages": [{"objects": [{"size": 3}]}]})");
    testenv::writeFile(dir + QStringLiteral("/m4a.json"),
                       R"({"family": "iPhone", "musicLibrary": {"tracks": [{"path": "a/Song.m4a", "totalTime": 1000}]}})");
    QDir().mkpath(dir + QStringLiteral("/folder.json"));
    const struct
    {
        QString name;
        const char *says;
    } cases[] = {
        {QStringLiteral("missing.json"), "does not exist"},
        {QStringLiteral("folder.json"), "is a folder"},
        {QStringLiteral("empty.json"), "is empty"},
        {QStringLiteral("blank.json"), "is empty"},
        {QStringLiteral("cut.json"), "ends early"},
        {QStringLiteral("array.json"), "is not a phone description"},
        {QStringLiteral("identity.json"), "\"identity\" is not an object"},
        {QStringLiteral("noids.json"), "no \"vendorId\" and \"productId\""},
        {QStringLiteral("family.json"), "names the family \"Nokia\""},
        {QStringLiteral("storages.json"), "an object needs a \"name\""},
        {QStringLiteral("m4a.json"), "\"a/Song.m4a\" can be made only as an MP3 file"},
    };
    for (const auto &c : cases) {
        const QString path = dir + QLatin1Char('/') + c.name;
        const vtrapp::StartupOptions options =
            vtrapp::parseOptions({QStringLiteral("app"), QStringLiteral("--simulate-phone"), path});
        EXPECT_TRUE(options.error.startsWith(QStringLiteral("The phone fixture %1 ").arg(path))) << qPrintable(options.error);
        EXPECT_TRUE(options.error.contains(QString::fromLatin1(c.says))) << qPrintable(options.error);
        EXPECT_FALSE(options.phone);
    }
    // Every family's fixture of the repository is usable; a relative path is
    // taken from the current folder.
    const QString relativeAndroid = QStringLiteral("devices/data/mtp/android_phone.json");
    ASSERT_NO_FATAL_FAILURE(expectUsableFrom(QStringLiteral(VTR_TEST_SOURCE_DIR),
                                             {{relativeAndroid, vtrapp::SimulatedPhone::Family::Android, 0x04e8},
                                              {kIPhone, vtrapp::SimulatedPhone::Family::IPhone, 0x05ac},
                                              {kBlackBerry, vtrapp::SimulatedPhone::Family::BlackBerry, 0x0fca}}));
    const testenv::CurrentFolder sources(QStringLiteral(VTR_TEST_SOURCE_DIR));
    EXPECT_EQ(vtrapp::parseOptions({QStringLiteral("app"), QStringLiteral("--simulate-phone"), relativeAndroid}).phone->fixturePath(),
              kAndroid);
}

TEST(Startup, AFixtureCheckThatStopsLeavesTheCurrentFolderAsItWas)
{
    const std::string before = QDir::currentPath().toStdString();
    ::testing::TestPartResultArray failures;
    {
        const ::testing::ScopedFakeTestPartResultReporter quiet(&failures);
        expectUsableFrom(QStringLiteral(VTR_TEST_SOURCE_DIR),
                         {{QStringLiteral("missing.json"), vtrapp::SimulatedPhone::Family::Android, 0x04e8}});
    }
    EXPECT_GT(failures.size(), 0);
    EXPECT_EQ(QDir::currentPath().toStdString(), before);
}

TEST(Startup, AFixtureThatCannotBeReadIsRefusedBeforeTheWindowOpens)
{
    // Root reads anything.
    VTR_TEST_AS_UNPRIVILEGED_USER();
    const QString fixture = testenv::makeTempDir(QStringLiteral("unreadable")) + QStringLiteral("/phone.json");
    testenv::writeFile(fixture, testenv::readFile(testenv::reachable(kAndroid)));
    testenv::TakenModes modes;
    ASSERT_TRUE(modes.take(fixture, 0200));
    const ProgramRun run = runProgram(testenv::reachable(kProgram), {QStringLiteral("--simulate-phone"), fixture},
                                      privateEnvironment(testenv::makeTempDir(QStringLiteral("home"))));
    EXPECT_EQ(run.status, vtrapp::kExitUsage) << qPrintable(run.err);
    EXPECT_TRUE(run.err.startsWith(QStringLiteral("The phone fixture %1 cannot be read: Permission denied.").arg(fixture)))
        << qPrintable(run.err);
}

TEST(Startup, ACacheFolderThatCannotBeMadeEndsASimulatedRunWithOneLine)
{
    const QString home = testenv::makeTempDir(QStringLiteral("home"));
    QProcessEnvironment env = privateEnvironment(home);
    testenv::writeFile(home + QStringLiteral("/a file"), "");
    env.insert(QStringLiteral("XDG_CACHE_HOME"), home + QStringLiteral("/a file/cache"));
    const ProgramRun run = runProgram(kProgram, {QStringLiteral("--simulate-phone"), kAndroid}, env);
    EXPECT_EQ(run.status, vtrapp::kExitUsage) << qPrintable(run.err);
    EXPECT_TRUE(run.err.startsWith(QStringLiteral("The simulated phone cannot be set up: "))) << qPrintable(run.err);
}

// The folder of ours "Solvenna to Windows Phone" in a fresh cache folder.
QString freshFolderOfOurs(const QString &hint)
{
    return testenv::makeTempDir(hint) + QStringLiteral("/Solvenna to Windows Phone");
}

TEST(SingleInstance, OneWizardPerHomeAndFolderOfOursAndALaterStartBringsItForward)
{
    using Claim = vtrapp::SingleInstance::Claim;
    using Answer = vtrapp::SingleInstance::Answer;
    const QString home = testenv::makeTempDir(QStringLiteral("home"));
    const QString cache = testenv::makeTempDir(QStringLiteral("cache"));
    const QString links = testenv::makeTempDir(QStringLiteral("links"));
    ASSERT_TRUE(QFile::link(cache, links + QStringLiteral("/cache")));
    ASSERT_TRUE(QFile::link(home, links + QStringLiteral("/home")));

    vtrapp::SingleInstance first(cache + QStringLiteral("/Solvenna to Windows Phone"), home);
    ASSERT_EQ(first.claim(), Claim::Ours);
    int forward = 0;
    QObject::connect(&first, &vtrapp::SingleInstance::comeForwardRequested, [&] { ++forward; });
    // The person's cache folder by another name is the same; the same home
    // with another cache folder files into the same new phone's folder;
    // another home and cache folder is another wizard.
    vtrapp::SingleInstance second(links + QStringLiteral("/cache/Solvenna to Windows Phone"), home);
    EXPECT_EQ(second.claim(), Claim::HeldByAnother);
    EXPECT_TRUE(second.homeHeld());
    vtrapp::SingleInstance otherCache(freshFolderOfOurs(QStringLiteral("other")), home);
    EXPECT_EQ(otherCache.claim(), Claim::HeldByAnother);
    EXPECT_EQ(otherCache.askRunningToComeForward(60000), Answer::NoAnswer) << "no wizard listens in that cache folder";
    vtrapp::SingleInstance elsewhere(freshFolderOfOurs(QStringLiteral("other")), testenv::makeTempDir(QStringLiteral("home")));
    EXPECT_EQ(elsewhere.claim(), Claim::Ours);
    EXPECT_EQ(QDir(home).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System | QDir::Hidden), QStringList());

    // The later start waits for the answer; the first answers from its event loop.
    auto ask = [](vtrapp::SingleInstance &later) {
        std::atomic<int> answered{-1};
        std::thread asking([&] { answered = int(later.askRunningToComeForward(60000)); });
        EXPECT_TRUE(WizardHarness::waitFor([&] { return answered >= 0; }, 90000));
        asking.join();
        return Answer(answered.load());
    };
    EXPECT_EQ(ask(second), Answer::CameForward);
    EXPECT_EQ(forward, 1);
    // Another home sharing the cache folder: only the folder's lock is held,
    // and the wizard there is not this home's.
    vtrapp::SingleInstance otherHome(cache + QStringLiteral("/Solvenna to Windows Phone"),
                                     testenv::makeTempDir(QStringLiteral("home")));
    EXPECT_EQ(otherHome.claim(), Claim::HeldByAnother);
    EXPECT_FALSE(otherHome.homeHeld());
    EXPECT_EQ(ask(otherHome), Answer::OtherHome);
    EXPECT_EQ(forward, 1);

    // A lock left by a wizard that died does not keep the next one out.
    vtrapp::SingleInstance probe(freshFolderOfOurs(QStringLiteral("dead")), testenv::makeTempDir(QStringLiteral("home")));
    testenv::writeFile(probe.lockPath(), "2147483000\nsolvenna-to-windows-phone\n" + QSysInfo::machineHostName().toUtf8() + "\n");
    EXPECT_EQ(probe.claim(), Claim::Ours);

    // A link in the place of the folder of ours: no lock is put where it leads.
    const QString person = testenv::makeTempDir(QStringLiteral("person"));
    const QString linked = freshFolderOfOurs(QStringLiteral("linked"));
    ASSERT_TRUE(QFile::link(person, linked));
    vtrapp::SingleInstance throughLink(linked, testenv::makeTempDir(QStringLiteral("home")));
    EXPECT_EQ(throughLink.claim(), Claim::Unknown);
    EXPECT_FALSE(throughLink.holdsFolderLock());
    EXPECT_EQ(QDir(person).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System | QDir::Hidden), QStringList());

    // A home that cannot be locked (not there, or a link, even to a home
    // nobody holds): whether a wizard of it runs cannot be told, but the
    // temporary folder is this start's alone.
    ASSERT_TRUE(QFile::link(testenv::makeTempDir(QStringLiteral("home")), links + QStringLiteral("/unheld")));
    for (const auto &[path, why] : {std::pair{home + QStringLiteral("/missing"), "No such file or directory"},
                                    std::pair{links + QStringLiteral("/unheld"), "it is a link"}}) {
        vtrapp::SingleInstance noHome(freshFolderOfOurs(QStringLiteral("nohome")), path);
        EXPECT_EQ(noHome.claim(), Claim::Unknown);
        EXPECT_EQ(noHome.unknownReason().toStdString(),
                  QStringLiteral("The home folder %1 cannot be locked (%2).").arg(path, QLatin1String(why)).toStdString());
        EXPECT_TRUE(noHome.holdsFolderLock());
    }
}

TEST(SingleInstance, OnlyItsOwnMessageBringsTheWizardForward)
{
    const QString folder = freshFolderOfOurs(QStringLiteral("cache"));
    vtrapp::SingleInstance first(folder, testenv::makeTempDir(QStringLiteral("home")));
    ASSERT_EQ(first.claim(), vtrapp::SingleInstance::Claim::Ours);
    int forward = 0;
    QObject::connect(&first, &vtrapp::SingleInstance::comeForwardRequested, [&] { ++forward; });
    // The socket beside the lock, reached through the folder (its path may
    // be too long for a socket's).
    const int folderFd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(folderFd, 0);
    const QString socketPath = QStringLiteral("/proc/self/fd/%1/wizard.socket").arg(folderFd);
    // Another program's line on the socket: the wizard stays where it is.
    for (const QByteArray line : {QByteArray("hello\n"), QByteArray("come-forward now\n"), QByteArray("\n")}) {
        QLocalSocket other;
        other.connectToServer(socketPath);
        ASSERT_TRUE(other.waitForConnected(60000));
        other.write(line);
        other.flush();
        EXPECT_TRUE(testenv::waitUntil([&] { return other.state() == QLocalSocket::UnconnectedState; }));
        EXPECT_EQ(other.readAll(), QByteArray()) << line.constData();
        EXPECT_EQ(forward, 0) << line.constData();
    }
    ::close(folderFd);
}

// Who holds a lock on a file, judged from a /proc of the test's making: the
// pid the system names for a lock is only the one that took it. Only a live
// process of this user, running this program and holding an exclusive lock
// through a descriptor of its own, is a wizard that keeps a start out.
TEST(SingleInstance, OnlyAWizardOfThisUserHoldingTheLockItselfKeepsAStartOut)
{
    using Who = vtrapp::LockHolder::Who;
    const QString home = testenv::makeTempDir(QStringLiteral("home"));
    const int fd = ::open(QFile::encodeName(home).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    struct stat st;
    ASSERT_EQ(::fstat(fd, &st), 0);
    const QByteArray file = QString::asprintf("%02x:%02x:%llu", ::major(st.st_dev), ::minor(st.st_dev),
                                              static_cast<unsigned long long>(st.st_ino))
                                .toLatin1();
    const auto lockLine = [&](const char *type, qint64 pid, const QByteArray &on) {
        return QByteArray("1: FLOCK  ADVISORY  ") + type + ' ' + QByteArray::number(pid) + ' ' + on + " 0 EOF";
    };
    const QString proc = testenv::makeTempDir(QStringLiteral("proc"));
    const QString wizard = proc + QStringLiteral("/wizard");
    testenv::writeFile(wizard, "");
    testenv::writeFile(proc + QStringLiteral("/editor"), "");
    // The same program replaced on disk by an update.
    testenv::writeFile(wizard + QStringLiteral(" (deleted)"), "");
    ASSERT_TRUE(QDir().mkpath(proc + QStringLiteral("/self")));
    ASSERT_TRUE(QFile::link(wizard, proc + QStringLiteral("/self/exe")));
    const qint64 us = ::geteuid(), other = us + 1;
    // A process: its user, its program, and the lock its descriptor 3 holds.
    const auto process = [&](qint64 pid, qint64 user, const QString &program, const QByteArray &lock) {
        const QString folder = proc + QLatin1Char('/') + QString::number(pid);
        ASSERT_TRUE(QDir().mkpath(folder + QStringLiteral("/fdinfo")));
        const QByteArray uid = QByteArray::number(user);
        testenv::writeFile(folder + QStringLiteral("/status"),
                           "Name:\tx\nUid:\t" + uid + '\t' + uid + '\t' + uid + '\t' + uid + '\n');
        ASSERT_TRUE(QFile::link(program, folder + QStringLiteral("/exe")));
        testenv::writeFile(folder + QStringLiteral("/fdinfo/3"),
                           "pos:\t0\nflags:\t02100000\n" + (lock.isEmpty() ? QByteArray() : "lock:\t" + lock + '\n'));
    };
    process(100, us, wizard, lockLine("WRITE", 100, file));
    process(101, other, wizard, lockLine("WRITE", 101, file));
    process(102, us, wizard, {});
    process(103, us, proc + QStringLiteral("/editor"), lockLine("WRITE", 103, file));
    process(104, us, wizard + QStringLiteral(" (deleted)"), lockLine("WRITE", 104, file));
    process(105, us, wizard, lockLine("WRITE", 105, "fe:01:12"));
    const struct
    {
        QByteArray locks;
        Who who;
        qint64 pid;
    } cases[] = {
        {lockLine("WRITE", 100, file), Who::Wizard, 100},
        {lockLine("WRITE", 104, file), Who::Wizard, 104},
        // Another user's process, whatever it runs.
        {lockLine("WRITE", 101, file), Who::OtherUser, 101},
        // A process of this user named as the holder: the pid of one that
        // took the lock and ended, reused; another program; a lock on
        // another file; shared locks, which no wizard takes.
        {lockLine("WRITE", 102, file), Who::NotWizard, 102},
        {lockLine("WRITE", 103, file), Who::NotWizard, 103},
        {lockLine("WRITE", 105, file), Who::NotWizard, 105},
        {lockLine("READ", 100, file) + '\n' + lockLine("READ", 102, file), Who::NotWizard, 100},
        // A holder that cannot be seen: not there, or in another pid
        // namespace; a lock on another file only.
        {lockLine("WRITE", 4242, file), Who::Unseen, 0},
        {lockLine("WRITE", 0, file), Who::Unseen, 0},
        {lockLine("WRITE", 100, "fe:01:12"), Who::Unseen, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.locks.toStdString());
        testenv::writeFile(proc + QStringLiteral("/locks"), c.locks + '\n');
        const vtrapp::LockHolder holder = vtrapp::flockHolder(fd, proc);
        EXPECT_EQ(int(holder.who), int(c.who));
        if (c.who != Who::Unseen) {
            EXPECT_EQ(holder.pid, c.pid);
        }
        if (c.who == Who::OtherUser) {
            EXPECT_EQ(holder.uid, other);
        }
    }
    ::close(fd);

    // A start meeting a lock whose holder cannot be seen goes on, and says
    // why it cannot tell: here its taker ended, the lock living on in the
    // descriptor it shared (as one taken in another pid namespace is unseen).
    const int shared = ::open(QFile::encodeName(home).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(shared, 0);
    const pid_t taker = ::fork();
    if (taker == 0) ::_exit(::flock(shared, LOCK_EX | LOCK_NB) == 0 ? 0 : 1);
    int status = -1;
    ASSERT_EQ(::waitpid(taker, &status, 0), taker);
    ASSERT_EQ(status, 0);
    vtrapp::SingleInstance start(freshFolderOfOurs(QStringLiteral("unseen")), home);
    EXPECT_EQ(start.claim(), vtrapp::SingleInstance::Claim::Unknown);
    EXPECT_TRUE(start.unknownReason().contains(QStringLiteral("cannot be seen"))) << start.unknownReason().toStdString();
    EXPECT_TRUE(start.holdsFolderLock());
    ::close(shared);
}

// The entries of `folder` whose names start with `prefix`.
QStringList entriesNamed(const QString &folder, const QString &prefix)
{
    return QDir(folder).entryList({prefix + QLatin1Char('*')}, QDir::AllEntries | QDir::System | QDir::Hidden);
}

// Files below the backup folders in `temp`.
int backedUpFiles(const QString &temp)
{
    int files = 0;
    for (const QString &backup : entriesNamed(temp, QStringLiteral("backup-")))
        files += int(QDir(temp + QLatin1Char('/') + backup).entryList(QDir::Files).size());
    return files;
}

// Waits until the started program has printed that it entered `state`.
bool waitForState(QProcess &process, int state)
{
    const QByteArray line = QByteArray("state ") + QByteArray::number(state) + '\n';
    return testenv::waitUntil(
        [&] {
            process.waitForReadyRead(100);
            return process.peek(1 << 20).contains(line) || process.state() == QProcess::NotRunning;
        },
        120000) &&
           process.state() == QProcess::Running;
}

// Starts the wizard with the simulated Android phone (its files in the
// temporary folder) and waits until it shows its first page.
bool startWithSimulatedPhone(QProcess &process, QProcessEnvironment env)
{
    env.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
    process.setProcessEnvironment(env);
    process.start(kProgram, {QStringLiteral("--simulate-phone"), kAndroid, QStringLiteral("--quit-after-state"),
                             QStringLiteral("99")});
    return waitForState(process, 1);
}

// What a start that finds the wizard running says: its one line (after what
// Qt may say of the session), and no page of a wizard of its own.
void expectEndsAsAlreadyRunning(const ProgramRun &run, const QString &line)
{
    EXPECT_EQ(run.status, vtrapp::kExitAlreadyRunning) << qPrintable(run.out + run.err);
    EXPECT_TRUE(run.err.endsWith(line)) << qPrintable(run.err);
    EXPECT_EQ(run.err.count(QStringLiteral("Solvenna to Windows Phone")),
              line.count(QStringLiteral("Solvenna to Windows Phone")))
        << qPrintable(run.err);
    EXPECT_FALSE(run.out.contains(QStringLiteral("state 0"))) << qPrintable(run.out);
}

QString runsForThisHome(bool cameForward)
{
    return QStringLiteral("Solvenna to Windows Phone is already running for this home folder; its window %1.\n")
        .arg(cameForward ? QStringLiteral("has been brought to the front")
                         : QStringLiteral("could not be brought to the front"));
}

void expectEndsAsAlreadyRunning(const ProgramRun &run, bool cameForward)
{
    expectEndsAsAlreadyRunning(run, runsForThisHome(cameForward));
}

// The folder of ours in the cache as an earlier version left it (open to
// every user) is this user's alone once a wizard runs; a wizard killed, as a
// crash would end it, keeps neither the next one out nor a later start from
// bringing that one forward.
TEST(Startup, ASecondStartOnTheSameHomeExitsWithItsMessage)
{
    const QString home = testenv::makeTempDir(QStringLiteral("twice"));
    const QProcessEnvironment env = privateEnvironment(home);
    const QByteArray folder = QFile::encodeName(home) + "/cache/Solvenna to Windows Phone";
    ASSERT_TRUE(QDir().mkpath(QFile::decodeName(folder)));
    ASSERT_EQ(::chmod(folder.constData(), 0755), 0);
    QProcess first;
    first.setProcessEnvironment(env);
    first.start(kProgram, {QStringLiteral("--quit-after-state"), QStringLiteral("99")});
    ASSERT_TRUE(waitForState(first, 1));
    struct stat st;
    ASSERT_EQ(::lstat(folder.constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u) << "mode " << std::oct << (st.st_mode & 0777);
    {
        SCOPED_TRACE("while the first wizard runs");
        expectEndsAsAlreadyRunning(runProgram(kProgram, {QStringLiteral("--quit-after-state"), QStringLiteral("0")}, env), true);
    }

    first.kill();
    first.waitForFinished();
    QProcess next;
    next.setProcessEnvironment(env);
    next.start(kProgram, {QStringLiteral("--quit-after-state"), QStringLiteral("99")});
    ASSERT_TRUE(waitForState(next, 1)) << qPrintable(QString::fromLocal8Bit(next.readAllStandardError()));
    SCOPED_TRACE("while the wizard started after the killed one runs");
    expectEndsAsAlreadyRunning(runProgram(kProgram, {QStringLiteral("--quit-after-state"), QStringLiteral("0")}, env), true);
    next.kill();
    next.waitForFinished();
}

// A display of its own for a test: Xvfb, which names the display it took
// once clients can connect.
class VirtualDisplay
{
public:
    VirtualDisplay()
    {
        const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
        if (xvfb.isEmpty()) {
            m_why = QStringLiteral("Xvfb is not installed (scripts/install-deps.sh installs it)");
            return;
        }
        m_server.start(xvfb, {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-nolisten"),
                              QStringLiteral("tcp"), QStringLiteral("-screen"), QStringLiteral("0"),
                              QStringLiteral("1024x768x24")});
        testenv::waitUntil(
            [&] {
                m_server.waitForReadyRead(100);
                return m_server.canReadLine() || m_server.state() == QProcess::NotRunning;
            },
            120000);
        if (m_server.canReadLine()) m_name = QStringLiteral(":") + QString::fromLatin1(m_server.readLine().trimmed());
        else m_why = QStringLiteral("Xvfb did not start: ") + QString::fromLocal8Bit(m_server.readAllStandardError());
    }
    ~VirtualDisplay()
    {
        m_server.terminate();
        m_server.waitForFinished();
    }
    QString name() const { return m_name; }
    QString why() const { return m_why; }

private:
    QProcess m_server;
    QString m_name;
    QString m_why;
};

// Started from a terminal of the desktop while the wizard runs: the start
// ends with its line, no box waits for an OK.
TEST(Startup, ASecondStartWithADisplayEndsWithoutABox)
{
    const VirtualDisplay display;
    if (display.name().isEmpty()) GTEST_SKIP() << qPrintable(display.why());
    const QProcessEnvironment env = privateEnvironment(testenv::makeTempDir(QStringLiteral("desktop")));
    QProcess first;
    first.setProcessEnvironment(env);
    first.start(kProgram, {QStringLiteral("--quit-after-state"), QStringLiteral("99")});
    ASSERT_TRUE(waitForState(first, 1));
    QProcessEnvironment onDisplay = env;
    onDisplay.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    onDisplay.insert(QStringLiteral("DISPLAY"), display.name());
    // The display's client libraries keep what they hold to the end.
    onDisplay.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
    expectEndsAsAlreadyRunning(runProgram(kProgram, {QStringLiteral("--quit-after-state"), QStringLiteral("0")}, onDisplay),
                               true);
    first.kill();
    first.waitForFinished();
}

// A start of another session (another runtime folder, or none, where another
// user made the folder it falls back on) while a wizard runs: it finds that
// wizard, brings it forward and ends, and nothing of the running wizard's is
// removed. A start of the same home with another cache folder would file into
// the same new phone's folder: it ends too, though it cannot reach the window,
// and clears nothing. A start of another home with the same cache folder
// would share the temporary folder: it ends naming that folder, and leaves the
// other home's window where it is. Once that wizard has gone, a start takes
// what it left.
TEST(Startup, AStartOfAnotherSessionFindsTheRunningWizardAndRemovesNothingOfIt)
{
    const QString home = testenv::makeTempDir(QStringLiteral("sessions"));
    const QProcessEnvironment env = privateEnvironment(home);
    const QString temp = home + QStringLiteral("/cache/Solvenna to Windows Phone/tmp");
    QProcess first;
    ASSERT_TRUE(startWithSimulatedPhone(first, env)) << qPrintable(QString::fromLocal8Bit(first.readAllStandardError()));
    const QStringList running = entriesNamed(temp, QStringLiteral("simulated-phone-"));
    ASSERT_EQ(running.size(), 1);

    QProcessEnvironment otherSession = env;
    const QString otherRuntime = testenv::makeTempDir(QStringLiteral("runtime"));
    ASSERT_EQ(::chmod(QFile::encodeName(otherRuntime).constData(), 0700), 0);
    otherSession.insert(QStringLiteral("XDG_RUNTIME_DIR"), otherRuntime);
    QProcessEnvironment noSession = env;
    noSession.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    const QString shared = testenv::makeTempDir(QStringLiteral("shared"));
    noSession.insert(QStringLiteral("TMPDIR"), shared);
    const struct passwd *me = ::getpwuid(::geteuid());
    ASSERT_TRUE(me);
    const QByteArray fallback = QFile::encodeName(shared) + "/runtime-" + me->pw_name;
    ASSERT_EQ(::mkdir(fallback.constData(), 0700), 0);
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(fallback.constData(), 65534, 65534), 0);
    }
    QProcessEnvironment otherCache = env;
    const QString otherTemp = home + QStringLiteral("/other cache/Solvenna to Windows Phone/tmp");
    testenv::writeFile(otherTemp + QStringLiteral("/backup-earlier/Manifest.db"), "x");
    otherCache.insert(QStringLiteral("XDG_CACHE_HOME"), home + QStringLiteral("/other cache"));
    QProcessEnvironment otherHome = privateEnvironment(testenv::makeTempDir(QStringLiteral("other home")));
    otherHome.insert(QStringLiteral("XDG_CACHE_HOME"), home + QStringLiteral("/cache"));

    const struct
    {
        const char *what;
        QProcessEnvironment env;
        QString line;
    } cases[] = {
        {"another runtime folder", otherSession, runsForThisHome(true)},
        {"no runtime folder", noSession, runsForThisHome(true)},
        {"another cache folder", otherCache, runsForThisHome(false)},
        {"another home folder", otherHome,
         QStringLiteral("Solvenna to Windows Phone is already running for another home folder with the cache "
                        "folder %1/cache/Solvenna to Windows Phone, which only one wizard at a time can use.\n")
             .arg(home)}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const ProgramRun second = runProgram(kProgram, {QStringLiteral("--quit-after-state"), QStringLiteral("0")}, c.env);
        expectEndsAsAlreadyRunning(second, c.line);
        EXPECT_EQ(entriesNamed(temp, QStringLiteral("simulated-phone-")), running);
    }
    EXPECT_TRUE(QFileInfo::exists(otherTemp + QStringLiteral("/backup-earlier/Manifest.db")));
    first.kill();
    first.waitForFinished();
    const ProgramRun next = runProgram(kProgram, {QStringLiteral("--quit-after-state"), QStringLiteral("1")}, noSession);
    EXPECT_EQ(next.status, 0) << qPrintable(next.err);
    EXPECT_EQ(entriesNamed(temp, QStringLiteral("simulated-phone-")), QStringList());
}

// "Solvenna to Windows Phone" in the cache folder is a link to a folder of
// the person's: a start neither clears its "tmp" of names like ours nor puts
// its lock there.
TEST(Startup, AStartClearsNothingThroughALinkedFolderInTheCache)
{
    const QString home = testenv::makeTempDir(QStringLiteral("linked"));
    const QProcessEnvironment env = privateEnvironment(home);
    const QString person = home + QStringLiteral("/Documents");
    const QStringList names = {QStringLiteral("backup-2019 photos/IMG_0001.jpg"), QStringLiteral("playlist-summer.m3u8"),
                               QStringLiteral("phonefile-notes.txt"),
                               QStringLiteral("Solvenna to Windows Phone 2012/letter.txt")};
    for (const QString &name : names) testenv::writeFile(person + QStringLiteral("/tmp/") + name, "the person's");
    ASSERT_TRUE(QDir().mkpath(home + QStringLiteral("/cache")));
    ASSERT_TRUE(QFile::link(person, home + QStringLiteral("/cache/Solvenna to Windows Phone")));

    const ProgramRun run = runProgram(kProgram, {QStringLiteral("--quit-after-state"), QStringLiteral("1")}, env);
    EXPECT_EQ(run.status, 0) << qPrintable(run.err);
    for (const QString &name : names)
        EXPECT_EQ(testenv::readFile(person + QStringLiteral("/tmp/") + name), QByteArray("the person's")) << qPrintable(name);
    EXPECT_EQ(QDir(person).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System | QDir::Hidden),
              QStringList{QStringLiteral("tmp")});
}

// The wizard's lock cannot be taken (a run as another user left it, as one
// under sudo does): the start cannot tell whether a wizard uses the
// temporary folder, so it runs but clears nothing; with the lock its own
// again, the next start clears what was left.
TEST(Startup, AStartThatCannotTakeTheLockClearsNothing)
{
    if (::geteuid() != 0) GTEST_SKIP() << "only root can leave a file of another user";
    const QString home = testenv::makeTempDir(QStringLiteral("nolock"));
    const QProcessEnvironment env = privateEnvironment(home);
    const QString folder = home + QStringLiteral("/cache/Solvenna to Windows Phone");
    testenv::writeFile(folder + QStringLiteral("/tmp/backup-earlier/Manifest.db"), "x");
    const QString lock = vtrapp::SingleInstance(folder, home).lockPath();
    testenv::writeFile(lock, "");
    ASSERT_EQ(::chown(QFile::encodeName(lock).constData(), 65534, 65534), 0);

    const ProgramRun run = runProgram(kProgram, {QStringLiteral("--quit-after-state"), QStringLiteral("1")}, env);
    EXPECT_EQ(run.status, 0) << qPrintable(run.err);
    EXPECT_TRUE(QFileInfo::exists(folder + QStringLiteral("/tmp/backup-earlier/Manifest.db")));

    ASSERT_TRUE(QFile::remove(lock));
    const ProgramRun next = runProgram(kProgram, {QStringLiteral("--quit-after-state"), QStringLiteral("1")}, env);
    EXPECT_EQ(next.status, 0) << qPrintable(next.err);
    EXPECT_FALSE(QFileInfo::exists(folder + QStringLiteral("/tmp/backup-earlier")));
}

// A process of another user (65534) holding a flock on the folder `path`,
// as one may on a home open to every user, until `*release` is closed; it
// opens the folder as root (the tests' folders are root's alone). Answers
// its pid, or -1. With `handedOn` this process takes two shared locks and
// hands their descriptors to it, keeping none: the system still names this
// process, one of the wizard's user, as their holder.
pid_t lockAsAnotherUser(const QString &path, int *release, bool handedOn = false)
{
    const QByteArray name = QFile::encodeName(path);
    int shared[2] = {-1, -1};
    bool taken = true;
    if (handedOn)
        for (int &fd : shared) {
            fd = ::open(name.constData(), O_RDONLY | O_DIRECTORY);
            taken = taken && fd >= 0 && ::flock(fd, LOCK_SH) == 0;
        }
    int ready[2], wait[2];
    const bool piped = taken && ::pipe2(ready, O_CLOEXEC) == 0 && ::pipe2(wait, O_CLOEXEC) == 0;
    const pid_t pid = piped ? ::fork() : -1;
    if (pid == 0) {
        ::close(wait[1]);
        const int fd = handedOn ? shared[0] : ::open(name.constData(), O_RDONLY | O_DIRECTORY);
        const char locked = fd >= 0 && ::setresgid(65534, 65534, 65534) == 0 && ::setresuid(65534, 65534, 65534) == 0 &&
                            (handedOn || ::flock(fd, LOCK_EX) == 0);
        char byte;
        if (::write(ready[1], &locked, 1) == 1) (void)!::read(wait[0], &byte, 1);
        ::_exit(0);
    }
    for (const int fd : shared)
        if (fd >= 0) ::close(fd);
    if (!piped) return -1;
    ::close(ready[1]);
    ::close(wait[0]);
    *release = wait[1];
    char locked = 0;
    const bool ok = pid > 0 && ::read(ready[0], &locked, 1) == 1 && locked;
    ::close(ready[0]);
    return ok ? pid : -1;
}

// A home folder that cannot be locked keeps no start out: another user's
// process holds its lock, or shared locks that another user's process keeps
// name a process of this user that holds none (the pid that took them, gone
// and reused, or handed on), or it is not there. The start says why it
// cannot tell whether a wizard runs, and clears what a killed run left in
// the temporary folder, whose lock it holds.
TEST(Startup, AHomeThatCannotBeLockedKeepsNoStartOutAndLeftoversGo)
{
    enum Lock { ByAnotherUser, HandedOn, NoHome };
    for (const Lock lock : {ByAnotherUser, HandedOn, NoHome}) {
        SCOPED_TRACE(int(lock));
        const bool foreign = lock != NoHome;
        if (foreign && ::geteuid() != 0) continue;  // only root starts a process of another user
        const QString base = testenv::makeTempDir(QStringLiteral("unlockable"));
        QProcessEnvironment env = privateEnvironment(base);
        const QString home = foreign ? base : base + QStringLiteral("/missing");
        env.insert(QStringLiteral("HOME"), home);
        const QString leftover =
            base + QStringLiteral("/cache/Solvenna to Windows Phone/tmp/backup-earlier/Manifest.db");
        testenv::writeFile(leftover, "x");
        int release = -1;
        const pid_t holder = foreign ? lockAsAnotherUser(home, &release, lock == HandedOn) : 0;
        ASSERT_GE(holder, 0);
        const ProgramRun run = runProgram(kProgram, {QStringLiteral("--quit-after-state"), QStringLiteral("1")}, env);
        ::close(release);
        if (foreign) ::waitpid(holder, nullptr, 0);
        EXPECT_EQ(run.status, 0) << qPrintable(run.err);
        const QString says =
            lock == ByAnotherUser
                ? QStringLiteral("is locked by a process of another user (process %1, user 65534)").arg(holder)
            : lock == HandedOn
                ? QStringLiteral("is locked, but process %1, named as its holder, holds no wizard's lock on it")
                      .arg(::getpid())
                : QStringLiteral("cannot be locked (No such file or directory)");
        EXPECT_TRUE(run.err.contains(
            QStringLiteral("Whether the wizard already runs cannot be told: The home folder %1 %2").arg(home, says)))
            << qPrintable(run.err);
        EXPECT_FALSE(QFileInfo::exists(leftover));
    }
}

// Logging out (SIGHUP) and Ctrl+C (SIGINT) end the run as Quit does: it ends
// normally, and the run's files in the temporary folder go with it.
TEST(Startup, ALogoutOrCtrlCEndsTheRunAsQuitDoes)
{
    for (const int signal : {SIGHUP, SIGINT}) {
        SCOPED_TRACE(signal);
        const QString home = testenv::makeTempDir(QStringLiteral("signal"));
        const QString temp = home + QStringLiteral("/cache/Solvenna to Windows Phone/tmp");
        QProcess run;
        ASSERT_TRUE(startWithSimulatedPhone(run, privateEnvironment(home)))
            << qPrintable(QString::fromLocal8Bit(run.readAllStandardError()));
        ASSERT_EQ(entriesNamed(temp, QStringLiteral("simulated-phone-")).size(), 1);
        ASSERT_EQ(::kill(pid_t(run.processId()), signal), 0);
        ASSERT_TRUE(testenv::waitUntil([&] { return run.state() == QProcess::NotRunning || run.waitForFinished(50); },
                                       120000));
        const QString err = QString::fromLocal8Bit(run.readAllStandardError());
        EXPECT_EQ(run.exitStatus(), QProcess::NormalExit) << qPrintable(err);
        EXPECT_EQ(run.exitCode(), 0) << qPrintable(err);
        EXPECT_TRUE(err.contains(QStringLiteral("ends (signal %1)").arg(signal))) << qPrintable(err);
        EXPECT_EQ(entriesNamed(temp, QStringLiteral("simulated-phone-")), QStringList());
    }
}

// A run ended from outside while its backups lie in the temporary folder:
// by the signal of a logout (it ends as Quit does and takes them along), or
// killed (the next start takes them, never following a link out of the
// folder, and only once no other wizard of the home runs). The picture of the
// summary page is a pipe nobody reads yet: the tour stops there, backups made.
TEST(Startup, BackupsOfARunEndedFromOutsideAreGoneByTheNextStart)
{
    for (const int signal : {SIGTERM, SIGKILL}) {
        SCOPED_TRACE(signal);
        const QString home = testenv::makeTempDir(QStringLiteral("ended"));
        QProcessEnvironment env = privateEnvironment(home);
        env.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
        const QString temp = home + QStringLiteral("/cache/Solvenna to Windows Phone/tmp");
        const QString pictures = home + QStringLiteral("/pictures");
        ASSERT_TRUE(QDir().mkpath(pictures));
        const QString summary = pictures + QStringLiteral("/state-14.png");
        ASSERT_EQ(::mkfifo(QFile::encodeName(summary).constData(), 0600), 0);

        QProcess run;
        run.setProcessEnvironment(env);
        run.start(kProgram, {QStringLiteral("--simulate-phone"), kAndroid, QStringLiteral("--screenshots"), pictures});
        ASSERT_TRUE(testenv::waitUntil([&] { return backedUpFiles(temp) > 0 || run.state() == QProcess::NotRunning; },
                                       180000))
            << qPrintable(QString::fromLocal8Bit(run.readAllStandardError()));
        ASSERT_EQ(run.state(), QProcess::Running) << qPrintable(QString::fromLocal8Bit(run.readAllStandardError()));

        if (signal == SIGKILL) {
            // A later start while this one runs leaves its backups alone.
            const QStringList before = entriesNamed(temp, QStringLiteral("backup-"));
            const ProgramRun second =
                runProgram(kProgram, {QStringLiteral("--quit-after-state"), QStringLiteral("0")}, env);
            EXPECT_EQ(second.status, vtrapp::kExitAlreadyRunning) << qPrintable(second.err);
            for (const QString &backup : before)
                EXPECT_TRUE(QFileInfo::exists(temp + QLatin1Char('/') + backup)) << qPrintable(backup);
        }
        ASSERT_EQ(::kill(pid_t(run.processId()), signal), 0);
        // The summary's picture may be what the run waits on: it is read now.
        const int reader = ::open(QFile::encodeName(summary).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(reader, 0);
        ASSERT_TRUE(testenv::waitUntil(
            [&] {
                char buffer[65536];
                while (::read(reader, buffer, sizeof buffer) > 0) {}
                return run.state() == QProcess::NotRunning || run.waitForFinished(50);
            },
            180000));
        ::close(reader);
        const QString err = QString::fromLocal8Bit(run.readAllStandardError());
        if (signal == SIGTERM) {
            EXPECT_EQ(run.exitStatus(), QProcess::NormalExit) << qPrintable(err);
            EXPECT_EQ(run.exitCode(), 0) << qPrintable(err);
            EXPECT_TRUE(err.contains(QStringLiteral("ends (signal %1)").arg(SIGTERM))) << qPrintable(err);
            EXPECT_EQ(entriesNamed(temp, QStringLiteral("backup-")).join(QLatin1Char(' ')).toStdString(), "")
                << "a logout takes the backups along";
        } else {
            ASSERT_FALSE(entriesNamed(temp, QStringLiteral("backup-")).isEmpty());
        }

        // What the next start finds: a link named as ours to a folder outside
        // (and one inside a backup folder), and a file that is not ours.
        const QString outside = testenv::makeTempDir(QStringLiteral("outside"));
        testenv::writeFile(outside + QStringLiteral("/keep.txt"), "the person's file");
        ASSERT_TRUE(QFile::link(outside, temp + QStringLiteral("/backup-planted")));
        for (const QString &backup : entriesNamed(temp, QStringLiteral("backup-")))
            QFile::link(outside, temp + QLatin1Char('/') + backup + QStringLiteral("/escape"));
        testenv::writeFile(temp + QStringLiteral("/not ours.txt"), "another program's");
        const ProgramRun next = runProgram(kProgram, {QStringLiteral("--quit-after-state"), QStringLiteral("1")}, env);
        EXPECT_EQ(next.status, 0) << qPrintable(next.err);
        EXPECT_EQ(entriesNamed(temp, QStringLiteral("backup-")).join(QLatin1Char(' ')).toStdString(), "");
        EXPECT_EQ(entriesNamed(temp, QStringLiteral("simulated-phone-")).join(QLatin1Char(' ')).toStdString(), "");
        EXPECT_EQ(testenv::readFile(outside + QStringLiteral("/keep.txt")), QByteArray("the person's file"));
        EXPECT_TRUE(QFileInfo::exists(temp + QStringLiteral("/not ours.txt")));
    }
}

TEST(Startup, At200PercentOnASmallScreenEveryPageFitsAndIsPicturedWhole)
{
    const QString dir = testenv::makeTempDir(QStringLiteral("tour"));
    testenv::writeFile(dir + QStringLiteral("/screen.json"),
                       R"({"screens": [{"name": "small", "x": 0, "y": 0, "width": 1600, "height": 1000,
                                        "logicalDpi": 96}]})");
    QProcessEnvironment env = privateEnvironment(dir + QStringLiteral("/home"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen:configfile=%1/screen.json").arg(dir));
    env.insert(QStringLiteral("QT_SCALE_FACTOR"), QStringLiteral("2"));
    // The camera library's modules, unloaded at the end, hide what they hold
    // from the leak check; this test is about the pages.
    env.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
    const QString pictures = dir + QStringLiteral("/pictures");
    const ProgramRun run = runProgram(kProgram,
                               {QStringLiteral("--simulate-phone"), kAndroid, QStringLiteral("--screenshots"), pictures},
                               env, 240000);
    ASSERT_EQ(run.status, 0) << qPrintable(run.err);
    const QStringList written = QDir(pictures).entryList({QStringLiteral("state-*.png")}, QDir::Files);
    for (const char *page : {"state-02.png", "state-09.png", "state-14.png", "state-20.png"})
        EXPECT_TRUE(written.contains(QString::fromLatin1(page))) << page;
    // The transit states hand on at once: a person never sees them as pages.
    for (const char *transit : {"state-10.png", "state-16.png", "state-22.png"})
        EXPECT_FALSE(written.contains(QString::fromLatin1(transit))) << transit;
    for (const QString &name : written) {
        const QSize size = QImageReader(QDir(pictures).filePath(name)).size();
        EXPECT_LE(size.width(), 1600) << qPrintable(name);
        EXPECT_LE(size.height(), 1000) << qPrintable(name);
    }
}

// The arguments of an Exec line as a desktop reads them: the escapes of a
// string value first (\s \n \t \r \\), then the quoting rules of Exec.
QStringList execArguments(const QString &value)
{
    QString text;
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] != QLatin1Char('\\') || i + 1 == value.size()) {
            text += value[i];
            continue;
        }
        const int escape = QStringLiteral("sntr\\").indexOf(value[++i]);
        text += escape < 0 ? QStringLiteral("\\") + value[i] : QString(QStringLiteral(" \n\t\r\\")[escape]);
    }
    QStringList arguments;
    QString current;
    bool inArgument = false, quoted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == QLatin1Char('"')) {
            quoted = !quoted;
            inArgument = true;
        } else if (quoted && c == QLatin1Char('\\') && i + 1 < text.size()) {
            current += text[++i];
        } else if (!quoted && c == QLatin1Char(' ')) {
            if (inArgument) arguments << std::exchange(current, QString());
            inArgument = false;
        } else {
            current += c;
            inArgument = true;
        }
    }
    if (inArgument) arguments << current;
    for (QString &a : arguments) a.replace(QStringLiteral("%%"), QStringLiteral("%"));
    return arguments;
}

TEST(DesktopEntry, TheExecLineStartsTheProgramWhateverItsPathHolds)
{
    const QString script = QStringLiteral(VTR_TEST_SOURCE_DIR "/../scripts/install-desktop-entry.sh");
    const QString paths[] = {
        QStringLiteral("/opt/solvenna/build-release/app/solvenna-to-windows-phone"),
        QStringLiteral("/home/anna/R&D clones/solvenna/app"),
        QStringLiteral("/home/anna/Anna's \"best\" copy/app"),
        QStringLiteral("/home/anna/$HOME `date` 100% back\\slash/app"),
        QStringLiteral("/home/anna/tab\there/app"),
    };
    for (const QString &path : paths) {
        const QString data = testenv::makeTempDir(QStringLiteral("data"));
        const ProgramRun run = runProgram(QStringLiteral("bash"), {script, path, data}, QProcessEnvironment::systemEnvironment());
        ASSERT_EQ(run.status, 0) << qPrintable(run.err);
        const QString entry =
            QString::fromUtf8(testenv::readFile(data + QStringLiteral("/applications/solvenna-to-windows-phone.desktop")));
        const QStringList lines = entry.split(QLatin1Char('\n'));
        QStringList execs;
        for (const QString &line : lines)
            if (line.startsWith(QStringLiteral("Exec="))) execs << line.mid(5);
        ASSERT_EQ(execs.size(), 1) << qPrintable(entry);
        EXPECT_EQ(execArguments(execs.first()), QStringList{path}) << qPrintable(execs.first());
        EXPECT_TRUE(lines.contains(QStringLiteral("Name=Solvenna to Windows Phone")));
        EXPECT_TRUE(QFile::exists(data + QStringLiteral("/icons/hicolor/256x256/apps/solvenna-to-windows-phone.png")));
    }
}

}  // namespace
