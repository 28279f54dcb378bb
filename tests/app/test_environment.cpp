#include "TestEnvironment.h"
#include "TestFolders.h"
#include "support/WizardHarness.h"

#include "app/EnvironmentChecks.h"
#include "devices/phone/WindowsPhone7LocalDevice.h"
#include "migration/CopyRecords.h"
#include "platform/Folders.h"
#include "platform/MainThread.h"
#include "sources/host/MediaLibraryHost.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTcpServer>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace {

// A computer with chosen answers; records where the slow questions were asked.
class CheckHost final : public HostEnvironment
{
public:
    bool photos = true;
    int reachability = 1;
    bool reachable = true;
    QList<DesktopMtpHandler> handlers;
    QString accounts;
    mutable std::atomic<int> slowCallsOnMain{0};
    mutable std::atomic<int> probes{0};

    QString applicationPath(const QString &) const override { return QString(); }
    bool launchApplication(const QString &, bool) override { return false; }
    bool openUrl(const QUrl &) override { return false; }
    void beep() override {}
    bool isPhotoLibraryAvailable() const override { return photos; }
    int networkReachability() const override { return reachability; }
    bool canReachHost(const QString &, int) const override
    {
        ++probes;
        if (platform::isMainThread()) ++slowCallsOnMain;
        return reachable;
    }
    QList<DesktopMtpHandler> desktopMtpHandlers() const override
    {
        if (platform::isMainThread()) ++slowCallsOnMain;
        return handlers;
    }
    QString iCloudAccountsFile() const override { return accounts; }
};

const QString kPhotoTitle = QStringLiteral("iPhoto Not Found");
const QString kOfflineTitle = QStringLiteral("No Internet Connection");
const QString kHandlerTitle = QStringLiteral("Another program is using your phone");

TEST(EnvironmentChecks, WelcomeChecksRunInOrderAndOnlyTheirQuitEndsTheRun)
{
    struct Case
    {
        const char *name;
        bool photos;
        int reachability;
        bool reachable;
        bool handler;
        QStringList answers;
        QStringList titles;
        bool terminated;
        bool probed;
    };
    const Case cases[] = {
        {"all well", true, 1, true, false, {}, {}, false, false},
        {"no photo library, continue", false, 1, true, false, {QStringLiteral("Continue")}, {kPhotoTitle}, false, false},
        {"no photo library, quit", false, 0, false, true, {QStringLiteral("Quit")}, {kPhotoTitle}, true, false},
        {"network unknown and host silent", true, -1, false, false, {QStringLiteral("Continue")}, {kOfflineTitle}, false, true},
        {"network unknown, host answers", true, -1, true, false, {}, {}, false, true},
        {"offline, quit", true, 0, true, true, {QStringLiteral("Quit")}, {kOfflineTitle}, true, false},
        {"everything wrong", false, 0, false, true, {QStringLiteral("Continue"), QStringLiteral("Continue")},
         {kPhotoTitle, kOfflineTitle, kHandlerTitle}, false, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        WizardHarness h;
        CheckHost host;
        host.photos = c.photos;
        host.reachability = c.reachability;
        host.reachable = c.reachable;
        if (c.handler) host.handlers.append(DesktopMtpHandler{4242, QStringLiteral("gvfsd-mtp"), QStringLiteral("/dev/bus/usb/001/007")});
        h.wizard().setEnvironmentChecks(std::make_unique<HostEnvironmentChecks>(host));
        for (const QString &answer : c.answers) h.alerts.answer(answer);
        h.wizard().setState(NS_AppController::kStateWelcome);
        ASSERT_TRUE(h.waitFor([&] { return h.wizard().runningJobCount() == 0; }));
        h.spin(10);
        EXPECT_EQ(h.alerts.titles(), c.titles);
        EXPECT_EQ(h.terminated, c.terminated);
        EXPECT_EQ(host.probes.load() > 0, c.probed);
        EXPECT_EQ(host.slowCallsOnMain.load(), 0);
        // A computer without the library goes on without photos.
        if (!c.terminated) {
            EXPECT_EQ(h.wizard().photosEnabled() && h.wizard().photosValue(), c.photos);
        }
        if (c.handler && c.titles.contains(kHandlerTitle)) {
            ASSERT_FALSE(h.alerts.shown().isEmpty());
            const QString text = h.alerts.shown().last().informativeText;
            EXPECT_TRUE(text.contains(QStringLiteral("gvfsd-mtp")) && text.contains(QStringLiteral("4242"))) << text.toStdString();
        }
    }
}

TEST(EnvironmentChecks, QuitAtAFolderForTheNewPhoneThatCannotBeWrittenEndsTheChecksThere)
{
    WizardHarness h;
    CheckHost host;
    // Each of the checks after it would say something.
    host.photos = false;
    host.reachability = -1;
    host.reachable = false;
    const QString target = WindowsPhone7LocalDevice::storageFolderPath();
    testenv::removeTree(target);
    testenv::writeFile(target, "a file where the folder belongs");
    h.wizard().setEnvironmentChecks(std::make_unique<HostEnvironmentChecks>(host));
    h.alerts.answer(QStringLiteral("Quit"));
    h.wizard().setState(NS_AppController::kStateWelcome);
    ASSERT_TRUE(h.waitFor([&] { return h.wizard().runningJobCount() == 0; }));
    h.spin(10);
    EXPECT_EQ(h.alerts.titles(), QStringList{QStringLiteral("The folder for your new phone cannot be written.")});
    EXPECT_TRUE(h.terminated);
    EXPECT_EQ(host.probes.load(), 0);
    QFile::remove(target);
}

// Makes `path` a symbolic link to `target`.
void link(const QString &target, const QString &path)
{
    QDir().mkpath(QFileInfo(path).path());
    ASSERT_TRUE(QFile::link(target, path)) << path.toStdString();
}

// A home of the unprivileged user with a folder of root's (0755) where its
// music folder belongs, and one in a sticky folder open to all beside it
// ("sticky/Music"); a data folder of root's ("data", as one start as root
// leaves it), and a data folder of that user's ("own") whose record of the
// new phone's music is root's (0600): only root can make them, before the
// run, and removes them after, never following what that user put there.
struct RootsFolderInAHome
{
    static constexpr const char *kVariable = "VTR_TEST_ROOTS_FOLDER_HOME";
    RootsFolderInAHome()
    {
        if (::geteuid() != 0) return;
        QByteArray made = QFile::encodeName(QDir::tempPath() + QStringLiteral("/vtrtest-theirs-XXXXXX"));
        if (!::mkdtemp(made.data())) {
            why = QStringLiteral("no folder could be made in %1: %2")
                      .arg(QDir::tempPath(), QString::fromLocal8Bit(std::strerror(errno)));
            return;
        }
        base = made;
        const QByteArray home = base + "/home", records = home + "/own/Copy records";
        const QByteArray record = records + '/' +
                                  vtr::migration::RecordFiles::fileFor(QFile::decodeName(home) +
                                                                      QStringLiteral("/Solvenna to Windows Phone/Music"));
        const auto theirs = [](const QByteArray &path) { return ::chown(path.constData(), 65534, 65534) == 0; };
        const auto file = [](const QByteArray &path) {
            const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
            return fd >= 0 && ::close(fd) == 0;
        };
        if (::chmod(base.constData(), 0711) == 0 && ::mkdir(home.constData(), 0700) == 0 &&
            ::mkdir((home + "/Music").constData(), 0755) == 0 && ::mkdir((base + "/sticky").constData(), 0755) == 0 &&
            ::chmod((base + "/sticky").constData(), 01777) == 0 &&
            ::mkdir((base + "/sticky/Music").constData(), 0755) == 0 &&
            ::mkdir((home + "/data").constData(), 0755) == 0 && ::mkdir((home + "/own").constData(), 0700) == 0 &&
            ::mkdir(records.constData(), 0700) == 0 && file(record) && theirs(records) && theirs(home + "/own") &&
            theirs(home))
            qputenv(kVariable, home);
        else
            why = QStringLiteral("%1: %2").arg(QFile::decodeName(home), QString::fromLocal8Bit(std::strerror(errno)));
    }
    ~RootsFolderInAHome()
    {
        if (base.isEmpty()) return;
        platform::removeTreeWithoutFollowingLinks(QFile::decodeName(base));
        qunsetenv(kVariable);
    }
    QByteArray base;
    // Why root could not make them: the run would have nothing to check.
    QString why;
};

TEST(EnvironmentChecks, AFolderIsWritableOnlyWhenItCanBeBothWrittenAndEntered)
{
    const RootsFolderInAHome theirs;
    if (!theirs.why.isEmpty())
        FAIL() << "the home with folders of root's for the unprivileged user could not be made, so nothing of it "
                  "would be checked: "
               << theirs.why.toStdString();
    QString why;
    switch (testenv::runUnprivileged(&why, {QLatin1String(RootsFolderInAHome::kVariable)})) {
    case testenv::Unprivileged::Here: break;
    case testenv::Unprivileged::Done: return;
    case testenv::Unprivileged::Unavailable: GTEST_SKIP() << why.toStdString();
    }
    // Another user's folder is not the person's to open: they can have it
    // made theirs, or rename it where they may, after which a new one can be
    // made. Where nothing may be renamed, only the asking is said.
    using Standing = vtrenv::WriteProblem::Standing;
    if (const QString home = qEnvironmentVariable(RootsFolderInAHome::kVariable); !home.isEmpty()) {
        const QString music = home + QStringLiteral("/Music");
        for (const QString &path : {music, music + QStringLiteral("/Sunday")}) {
            const vtrenv::WriteProblem problem = vtrenv::writeProblem(path);
            EXPECT_EQ(problem.standing, Standing::AnotherUsers);
            EXPECT_EQ(problem.cause.toStdString(), "it belongs to another user, \"root\"");
            EXPECT_EQ(vtrenv::remedyFor(problem).toStdString(),
                      QStringLiteral("Ask an administrator to make the folder \"%1\" yours, or rename it so that a new "
                                     "one is made").arg(music).toStdString());
        }
        ASSERT_EQ(::rename(QFile::encodeName(music).constData(), QFile::encodeName(home + "/Music (root's)").constData()), 0);
        EXPECT_TRUE(vtrenv::writeProblem(music).isEmpty());
        EXPECT_TRUE(QDir().mkdir(music));
        // In a sticky folder only its owner may rename it.
        const QString sticky = QFileInfo(home).path() + QStringLiteral("/sticky/Music");
        EXPECT_EQ(vtrenv::remedyFor(vtrenv::writeProblem(sticky)).toStdString(),
                  QStringLiteral("Ask an administrator to make the folder \"%1\" yours").arg(sticky).toStdString());

        // The start names a data folder, or a record, of root's with the same
        // remedy, and a link in place of either of them.
        const auto restore = qScopeGuard([] {
            platform::setHomeFolderOverride(QString());
            platform::setDataFolderOverride(QString());
        });
        platform::setHomeFolderOverride(home);
        const QString record = home + QStringLiteral("/own/Copy records/") +
                               QFile::decodeName(vtr::migration::RecordFiles::fileFor(
                                   WindowsPhone7LocalDevice::storageFolderPath() + QStringLiteral("/Music")));
        const QString appdata = home + QStringLiteral("/Documents/appdata");
        ASSERT_TRUE(QDir().mkpath(appdata));
        link(appdata, home + QStringLiteral("/linked"));
        const struct
        {
            const char *data;
            QString line;
        } starts[] = {
            {"data", QStringLiteral("The folder \"%1/data\" cannot be used: it belongs to another user, \"root\". Ask an "
                                    "administrator to make the folder \"%1/data\" yours, or rename it so that a new one "
                                    "is made.")
                         .arg(home)},
            {"own", QStringLiteral("The file \"%1\" cannot be used: it belongs to another user, \"root\". Ask an "
                                   "administrator to make the file \"%1\" yours, or rename it so that a new one is made.")
                        .arg(record)},
            {"linked", QStringLiteral("The folder \"%1/linked\" cannot be used: it is a link to \"%2\". Remove the link "
                                      "\"%1/linked\".")
                           .arg(home, appdata)}};
        for (const auto &start : starts) {
            platform::setDataFolderOverride(home + QLatin1Char('/') + QLatin1String(start.data));
            QStringList lines;
            for (const vtrenv::WriteProblem &problem : vtrenv::ownItemsInTheWay(true, true))
                lines << vtrenv::ownItemLine(problem);
            EXPECT_EQ(lines, QStringList{start.line}) << start.data;
        }
        EXPECT_TRUE(QDir(appdata).isEmpty());
    }
    const vtrenv::WriteProblem system = vtrenv::writeProblem(QStringLiteral("/no folder of the tests/Music"));
    EXPECT_EQ(system.standing, Standing::AnotherUsers);
    EXPECT_EQ(vtrenv::remedyFor(system).toStdString(), "Ask an administrator to make the folder \"/\" yours");

    const QString root = testenv::makeTempDir(QStringLiteral("modes"));
    const QString denied = QString::fromLocal8Bit(std::strerror(EACCES));
    const struct
    {
        const char *name;
        mode_t mode;
        bool writable;
    } cases[] = {{"open", 0755, true}, {"read-only", 0555, false}, {"write-only", 0200, false}, {"enter-only", 0100, false}};
    testenv::TakenModes modes;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const QString folder = root + QLatin1Char('/') + QLatin1String(c.name);
        ASSERT_TRUE(QDir().mkpath(folder));
        ASSERT_TRUE(modes.take(folder, c.mode));
        // The folder itself, and one to be made in it.
        for (const QString &path : {folder, folder + QStringLiteral("/Music")}) {
            const vtrenv::WriteProblem problem = vtrenv::writeProblem(path);
            EXPECT_EQ(problem.isEmpty(), c.writable) << path.toStdString();
            if (!c.writable) {
                EXPECT_EQ(problem.folder, folder);
                EXPECT_EQ(problem.cause, denied);
            }
        }
    }

    // A link to a folder is where the person keeps it, by that folder's
    // modes; a file, or a link to nothing (a disk that is not plugged in) or
    // to a file, stands in the way of the folder and of what would be made
    // in it, and the link is named with where it points. A chain of links is
    // followed to the link whose target is missing; a loop is said to be one.
    // Each says what to do.
    const QString shut = root + QStringLiteral("/shut"), file = root + QStringLiteral("/file");
    const QString unplugged = root + QStringLiteral("/unplugged/Music"), hop = root + QStringLiteral("/hop");
    const QString loop = root + QStringLiteral("/loop");
    ASSERT_TRUE(QDir().mkpath(shut));
    ASSERT_TRUE(modes.take(shut, 0555));
    testenv::writeFile(file, "not a folder");
    const struct
    {
        const char *name;
        QString target;  // of the link; none: `file` itself
        Standing standing;
        QString cause;            // a part of it; none: writable
        QString remedy;           // a part of it
        QString via = QString();  // a link on the way to `target`
    } inTheWay[] = {
        {"link to an open folder", root + QStringLiteral("/open"), Standing::Unwritable, QString(), QString()},
        {"link to a read-only folder", shut, Standing::Unwritable, denied, QStringLiteral("writable")},
        {"file", QString(), Standing::File, QString::fromLocal8Bit(std::strerror(ENOTDIR)),
         QStringLiteral("in the way")},
        {"link to nothing", unplugged, Standing::LinkToNothing,
         QLatin1Char('"') + unplugged + QStringLiteral("\", which is missing"),
         QStringLiteral("Plug in the disk that holds \"%1\" or remove the link").arg(unplugged)},
        {"link to a file", file, Standing::LinkToFile,
         QLatin1Char('"') + file + QStringLiteral("\", which is not a folder"), QStringLiteral("Point the link")},
        {"link to a link to nothing", unplugged, Standing::LinkToNothing,
         QStringLiteral("\"%1\" points to \"%2\", which is missing").arg(hop, unplugged),
         QStringLiteral("Plug in the disk that holds \"%1\" or remove the link \"%2\"").arg(unplugged, hop), hop},
        {"link to itself", root + QStringLiteral("/link to itself"), Standing::LinkLoop,
         QStringLiteral("loop of links"), QStringLiteral("Remove the link \"%1/link to itself\"").arg(root)},
        {"link into a loop", loop, Standing::LinkLoop, QStringLiteral("loop of links"),
         QStringLiteral("Remove the link"), loop}};
    for (const auto &c : inTheWay) {
        SCOPED_TRACE(c.name);
        QString standing = file;
        if (!c.target.isEmpty()) {
            standing = root + QStringLiteral("/") + QLatin1String(c.name);
            if (!c.via.isEmpty() && !QFileInfo(c.via).isSymLink()) link(c.target, c.via);
            link(c.via.isEmpty() ? c.target : c.via, standing);
        }
        for (const QString &path : {standing, standing + QStringLiteral("/Music")}) {
            const vtrenv::WriteProblem problem = vtrenv::writeProblem(path);
            EXPECT_EQ(problem.isEmpty(), c.cause.isEmpty()) << path.toStdString();
            if (c.cause.isEmpty()) continue;
            EXPECT_EQ(problem.folder, standing);
            EXPECT_EQ(problem.standing, c.standing);
            EXPECT_TRUE(problem.cause.contains(c.cause)) << problem.cause.toStdString();
            EXPECT_TRUE(vtrenv::remedyFor(problem).contains(c.remedy)) << vtrenv::remedyFor(problem).toStdString();
        }
    }
    ::chmod(QFile::encodeName(shut).constData(), 0755);

    // A relative link, and a chain of two, is read from the link's own
    // folder, whatever folder the program was started in.
    ASSERT_TRUE(QDir().mkpath(root + QStringLiteral("/disk/Music")) && QDir().mkpath(root + QStringLiteral("/home")));
    const testenv::CurrentFolder elsewhere(testenv::makeTempDir(QStringLiteral("elsewhere")));
    for (const auto &[name, target] : {std::pair{"Music", "../disk/Music"}, {"Videos", "hop"}, {"hop", "../disk/Music"}})
        ASSERT_EQ(::symlink(target, QFile::encodeName(root + QStringLiteral("/home/") + QLatin1String(name)).constData()), 0);
    for (const char *name : {"Music", "Videos"})
        for (const char *below : {"", "/Sunday"}) {
            const QString path = root + QStringLiteral("/home/") + QLatin1String(name) + QLatin1String(below);
            EXPECT_TRUE(vtrenv::writeProblem(path).isEmpty()) << vtrenv::writeProblem(path).cause.toStdString();
        }
}

// A link of the person's at the music library file, or at the photo library
// file, is named by the start's alert with what to do, as soon as a phone
// whose media are filed is plugged in: not only once the library cannot be
// kept at the end. What it points to stays as it was.
TEST(EnvironmentChecks, TheStartNamesALinkAtEitherLibraryFileWithWhatToDo)
{
    const QString notes = testenv::makeTempDir(QStringLiteral("documents")) + QStringLiteral("/notes.txt");
    testenv::writeFile(notes, "my notes");
    const QString files[] = {MediaLibraryHost::musicLibraryFilePath(), MediaLibraryHost::albumDataFilePath()};
    for (const QString &file : files) {
        SCOPED_TRACE(file.toStdString());
        for (const QString &each : files) QFile::remove(each);
        link(notes, file);
        const auto removed = qScopeGuard([&file] { QFile::remove(file); });
        WizardHarness h;
        CheckHost host;
        h.wizard().setEnvironmentChecks(std::make_unique<HostEnvironmentChecks>(host));
        ASSERT_TRUE(h.walk([&h] { return h.plugAndroid(); }, NS_AppController::kStateChooseData, 60000));
        // Each is named on its own, the other not at all.
        const int at = int(h.alerts.titles().indexOf(QStringLiteral("Folders that your transfer needs cannot be used.")));
        const QString text = at < 0 ? h.alerts.titles().join(QLatin1Char('|')) : h.alerts.shown().at(at).informativeText;
        EXPECT_TRUE(text.contains(QStringLiteral("The file \"%1\" cannot be used: it is a link to \"%2\". Remove the "
                                                 "link \"%1\".")
                                      .arg(file, notes)))
            << text.toStdString();
        EXPECT_FALSE(text.contains(file == files[0] ? files[1] : files[0])) << text.toStdString();
        EXPECT_EQ(testenv::readFile(notes), QByteArray("my notes"));
    }
}

TEST(EnvironmentChecks, DesktopMtpHandlersAreFoundByTheirOpenDeviceNodes)
{
    const QString root = testenv::makeTempDir(QStringLiteral("proc"));
    const QString proc = root + QStringLiteral("/proc");
    const QString usb = root + QStringLiteral("/dev/bus/usb");
    const QString phoneNode = usb + QStringLiteral("/001/007");
    testenv::writeFile(phoneNode, QByteArray());
    testenv::writeFile(root + QStringLiteral("/dev/null"), QByteArray());
    struct Process { const char *pid; const char *comm; QByteArray cmdline; QString fd; };
    const QString self = QString::number(::getpid());
    const Process processes[] = {
        {"731", "gvfsd-mtp", "/usr/libexec/gvfsd-mtp\0--spawner", phoneNode},   // holds the phone
        {"88", "gvfsd-mtp", "/usr/libexec/gvfsd-mtp", root + QStringLiteral("/dev/null")},  // holds nothing of ours
        {"90", "bash", "bash", phoneNode},                                       // not a handler
        {"1200", "kdeinit5", QByteArray("/usr/lib/kf5/kioslave5\0mtp.so", 29), phoneNode},  // worker by its command line
        {"15", "kiod5", "kiod5", usb + QStringLiteral("/002/003")},
    };
    for (const Process &p : processes) {
        const QString folder = proc + QLatin1Char('/') + QLatin1String(p.pid);
        testenv::writeFile(folder + QStringLiteral("/comm"), QByteArray(p.comm) + '\n');
        testenv::writeFile(folder + QStringLiteral("/cmdline"), p.cmdline);
        link(p.fd, folder + QStringLiteral("/fd/5"));
    }
    // This process itself, and entries that are no process.
    testenv::writeFile(proc + QLatin1Char('/') + self + QStringLiteral("/comm"), "gvfsd-mtp\n");
    link(phoneNode, proc + QLatin1Char('/') + self + QStringLiteral("/fd/3"));
    QDir().mkpath(proc + QStringLiteral("/self"));
    testenv::writeFile(proc + QStringLiteral("/uptime"), "1 1\n");

    const QList<DesktopMtpHandler> found = vtrenv::desktopMtpHandlers(proc, usb);
    QStringList seen;
    for (const DesktopMtpHandler &h : found) seen << QStringLiteral("%1 %2 %3").arg(h.pid).arg(h.program, h.deviceNode.mid(usb.size()));
    EXPECT_EQ(seen, (QStringList{QStringLiteral("15 kiod5 /002/003"), QStringLiteral("731 gvfsd-mtp /001/007"),
                                 QStringLiteral("1200 kioslave5 /001/007")}));
    // Each handler's advice names the program and how to let the phone go.
    for (const DesktopMtpHandler &h : found) {
        const QString advice = vtrenv::mtpHandlerAdvice(h);
        EXPECT_TRUE(advice.contains(h.program) && advice.contains(QString::number(h.pid))) << advice.toStdString();
    }
    EXPECT_TRUE(vtrenv::desktopMtpHandlers(root + QStringLiteral("/none"), usb).isEmpty());
}

QByteArray accountsPlist(const QByteArray &accounts)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict><key>Accounts</key><array>" +
           accounts + "</array></dict></plist>\n";
}

QByteArray account(const char *description, const QList<QPair<const char *, bool>> &services)
{
    QByteArray list;
    for (const auto &s : services)
        list += QByteArray("<dict><key>ServiceID</key><string>") + s.first + "</string><key>Enabled</key>" +
                (s.second ? "<true/>" : "<false/>") + "</dict>";
    return QByteArray("<dict><key>AccountDescription</key><string>") + description +
           "</string><key>Services</key><array>" + list + "</array></dict>";
}

TEST(EnvironmentChecks, ICloudHoldsContactsOrCalendarsOnlyWhenItsServiceIsOn)
{
    const QString folder = testenv::makeTempDir(QStringLiteral("icloud"));
    const char *contacts = "com.apple.Dataclass.Contacts";
    const char *calendars = "com.apple.Dataclass.Calendars";
    struct Case { const char *name; QByteArray file; bool expected; };
    const Case cases[] = {
        {"contacts on", accountsPlist(account("iCloud", {{contacts, true}})), true},
        {"calendars on after mail", accountsPlist(account("iCloud", {{"com.apple.Dataclass.Mail", true}, {calendars, true}})), true},
        {"both off", accountsPlist(account("iCloud", {{contacts, false}, {calendars, false}})), false},
        {"another account", accountsPlist(account("MobileMe", {{contacts, true}, {calendars, true}})), false},
        {"second account is iCloud", accountsPlist(account("Work", {}) + account("iCloud", {{calendars, true}})), true},
        {"damaged", "<plist><dict><key>Accounts", false},
        {"empty", QByteArray(), false},
    };
    int index = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = folder + QStringLiteral("/MobileMeAccounts%1.plist").arg(index++);
        testenv::writeFile(path, c.file);
        EXPECT_EQ(vtrenv::userHasICloudPIM(path), c.expected);
    }
    EXPECT_FALSE(vtrenv::userHasICloudPIM(folder + QStringLiteral("/missing.plist")));
    EXPECT_FALSE(vtrenv::userHasICloudPIM(QString()));

    // State 3 warns once, with a single button, and changes nothing else.
    WizardHarness h;
    CheckHost host;
    host.accounts = folder + QStringLiteral("/MobileMeAccounts0.plist");
    h.wizard().setEnvironmentChecks(std::make_unique<HostEnvironmentChecks>(host));
    h.wizard().setState(3);
    ASSERT_EQ(h.alerts.titles(), QStringList{QStringLiteral("iCloud Enabled")});
    EXPECT_EQ(h.alerts.shown().first().buttons, QStringList{QStringLiteral("Continue")});
    host.accounts.clear();
    h.wizard().setState(3);
    EXPECT_EQ(h.alerts.shown().size(), 1);
}

TEST(EnvironmentChecks, TheFallbackProbeConnectsWithinItsTimeOut)
{
    QTcpServer listening;
    ASSERT_TRUE(listening.listen(QHostAddress::LocalHost, 0));
    EXPECT_TRUE(vtrenv::canConnect(QStringLiteral("127.0.0.1:%1").arg(listening.serverPort()), 443, 2000));
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost, 0));
    const quint16 port = closed.serverPort();
    closed.close();
    EXPECT_FALSE(vtrenv::canConnect(QStringLiteral("127.0.0.1:%1").arg(port), 443, 2000));
    for (const char *bad : {"", "127.0.0.1:0", "127.0.0.1:70000", "127.0.0.1:x"})
        EXPECT_FALSE(vtrenv::canConnect(QString::fromLatin1(bad), 443, 200)) << bad;
    EXPECT_EQ(vtrenv::liveHost(), QStringLiteral("apis.live.net"));
}

TEST(EnvironmentChecks, ThePhotoLibraryIsThereWhenTheMediaLibraryHostIsConfigured)
{
    // The computer's own answer, asked of the media-library host.
    class LinuxHost final : public HostEnvironment
    {
    public:
        QString applicationPath(const QString &) const override { return QString(); }
        bool launchApplication(const QString &, bool) override { return false; }
        bool openUrl(const QUrl &) override { return false; }
        void beep() override {}
    } host;
    const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    ASSERT_TRUE(pictures.startsWith(testenv::root()));
    testenv::removeTree(pictures);
    EXPECT_TRUE(host.isPhotoLibraryAvailable());
    // Asked before the phone's family is known: an iPhone files nothing there.
    EXPECT_FALSE(QFileInfo::exists(pictures));
    EXPECT_TRUE(MediaLibraryHost::shared().isConfigured());

    // A file where the pictures folder belongs: the host cannot make it.
    ASSERT_TRUE(testenv::removeTree(pictures));
    testenv::writeFile(pictures, "not a folder");
    EXPECT_FALSE(MediaLibraryHost::shared().isConfigured());
    EXPECT_FALSE(host.isPhotoLibraryAvailable());
    QFile::remove(pictures);
}

// The library's folders are named only for the kinds the run files, each
// with what going on does to its kind, and looking at them makes none.
TEST(EnvironmentChecks, TheLibrarysFoldersAreNamedForTheKindsItTakesWithWhatGoingOnDoes)
{
    const QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
    const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    const QString videos = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
    ASSERT_TRUE(music.startsWith(testenv::root()) && pictures.startsWith(testenv::root()) &&
                videos.startsWith(testenv::root()));
    for (const QString &folder : {music, pictures, videos}) platform::removeTreeWithoutFollowingLinks(folder);
    EXPECT_TRUE(vtrenv::libraryItemsInTheWay(true, true, true).isEmpty());
    EXPECT_FALSE(QFileInfo::exists(music) || QFileInfo::exists(pictures) || QFileInfo::exists(videos));

    const QString elsewhere = testenv::makeTempDir(QStringLiteral("elsewhere"));
    const QString imported = QStringLiteral("/Solvenna to Windows Phone Imported ");
    const QStringList musicItems{music + imported + QStringLiteral("Music"), music + QStringLiteral("/Playlists")};
    const QStringList photoItems{pictures + imported + QStringLiteral("Photos")};
    const QStringList videoItems{videos + imported + QStringLiteral("Videos"), videos + QStringLiteral("/Playlists")};
    for (const QString &item : musicItems + photoItems + videoItems)
        ASSERT_TRUE(QDir().mkpath(QFileInfo(item).path()) && QFile::link(elsewhere, item));
    const auto named = [](bool m, bool p, bool v) {
        QStringList folders;
        for (const vtrenv::WriteProblem &problem : vtrenv::libraryItemsInTheWay(m, p, v)) {
            EXPECT_EQ(problem.standing, vtrenv::WriteProblem::Standing::Link);
            folders << problem.folder;
        }
        return folders.join(QLatin1Char('\n')).toStdString();
    };
    EXPECT_EQ(named(true, false, false), musicItems.join(QLatin1Char('\n')).toStdString());
    EXPECT_EQ(named(false, true, false), photoItems.join(QLatin1Char('\n')).toStdString());
    EXPECT_EQ(named(false, false, true), videoItems.join(QLatin1Char('\n')).toStdString());
    EXPECT_EQ(named(false, false, false), "");
    QStringList said;
    for (const vtrenv::WriteProblem &problem : vtrenv::libraryItemsInTheWay(true, true, true))
        said << vtrenv::continuingWith(problem, true);
    said.removeDuplicates();
    EXPECT_EQ(said.size(), 5) << qPrintable(said.join('\n'));
}

}  // namespace
