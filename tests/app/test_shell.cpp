#include "TestEnvironment.h"
#include "app/NS_AppDelegate.h"
#include "app/Scenes.h"
#include "support/WizardHarness.h"
#include "app/AppServices.h"
#include "app/AppStartup.h"
#include "app/DeviceListNotification.h"
#include "app/MountWatcher.h"
#include "app/VtrColorView.h"

#include <QAction>
#include <QCoreApplication>
#include <QMenu>
#include <QMenuBar>
#include <QDir>
#include <QImage>
#include <QStandardPaths>

#include <gtest/gtest.h>

namespace {

QByteArray mountLine(int id, const char *point)
{
    return QByteArray::number(id) + " 1 8:" + QByteArray::number(id) + " / " + point +
           " rw,relatime shared:1 - ext4 /dev/sdb" + QByteArray::number(id) + " rw\n";
}

TEST(MountWatcher, ReportsUnmountsThenMountsByMountPoint)
{
    QByteArray table = mountLine(1, "/") + mountLine(2, "/media/me/PHONE") + mountLine(3, "/media/me/CARD\\040A");
    MountWatcher watcher([&] { return table; });
    QStringList events;
    QObject::connect(&watcher, &MountWatcher::mounted, [&](const QString &p) { events << QStringLiteral("+") + p; });
    QObject::connect(&watcher, &MountWatcher::unmounted, [&](const QString &p) { events << QStringLiteral("-") + p; });
    watcher.refresh();
    EXPECT_TRUE(events.isEmpty());
    table = mountLine(1, "/") + mountLine(4, "/media/me/NEW") + mountLine(3, "/media/me/CARD\\040A");
    watcher.refresh();
    EXPECT_EQ(events, (QStringList{QStringLiteral("-/media/me/PHONE"), QStringLiteral("+/media/me/NEW")}));
    table = "garbage line\n";
    events.clear();
    watcher.refresh();
    EXPECT_EQ(events.size(), 3);
}

TEST(MountWatcher, WatchesTheProcessMountTable)
{
    MountWatcher watcher;
    EXPECT_TRUE(watcher.isWatching());
    EXPECT_TRUE(watcher.mountPoints().contains(QStringLiteral("/")));
}

TEST(ColorView, SameColourTwiceAnnouncesOnce)
{
    VtrColorView view;
    int changes = 0;
    QObject::connect(&view, &VtrColorView::backgroundColorChanged, [&] { ++changes; });
    view.resize(8, 8);
    const QImage plain = view.grab().toImage();
    view.setBackgroundColor(Qt::red);
    view.setBackgroundColor(Qt::red);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(view.grab().toImage().pixelColor(4, 4), QColor(Qt::red));
    view.setBackgroundColor(QColor());
    EXPECT_EQ(view.grab().toImage(), plain);
}

TEST(HostEnvironment, ProgramsAreFoundByTheirDesktopEntry)
{
    const QString applications = QStandardPaths::writableLocation(QStandardPaths::ApplicationsLocation);
    testenv::writeFile(applications + QStringLiteral("/Org.Example.Tool.desktop"), "[Desktop Entry]\nName=Tool\n");
    LinuxHostEnvironment host;
    EXPECT_EQ(host.applicationPath(QStringLiteral("org.example.tool")),
              QDir(applications).filePath(QStringLiteral("Org.Example.Tool.desktop")));
    EXPECT_FALSE(host.isApplicationInstalled(QString::fromLatin1(vtrapp::kBlackBerryDesktopIdentifier)));
    // The music library is this program's own.
    EXPECT_EQ(host.applicationPath(QStringLiteral("com.apple.iTunes")), QCoreApplication::applicationFilePath());
    EXPECT_TRUE(host.launchApplication(QStringLiteral("com.apple.itunes"), true));
}

TEST(Startup, Options)
{
    const QString fixture = QStringLiteral(VTR_TEST_SOURCE_DIR "/devices/data/mtp/android_phone.json");
    struct Case { QStringList args; const char *error; };
    const Case cases[] = {
        {{QStringLiteral("--simulate-phone"), fixture, QStringLiteral("--quit-after-state"), QStringLiteral("1")}, ""},
        {{QStringLiteral("--simulate-phone")}, "--simulate-phone needs a value."},
        {{QStringLiteral("--simulate-phone"), QStringLiteral("/no/such.json")}, "The phone fixture /no/such.json does not exist."},
        {{QStringLiteral("--quit-after-state"), QStringLiteral("x")}, "--quit-after-state needs a number."},
        {{QStringLiteral("--bogus")}, "Unknown option --bogus."},
        {{QStringLiteral("--one-step")}, "--one-step goes with --screenshots."},
        {{QStringLiteral("--one-step"), QStringLiteral("--screenshots"), QStringLiteral("/tmp/x")}, ""},
    };
    for (const Case &c : cases) {
        const vtrapp::StartupOptions options = vtrapp::parseOptions(QStringList{QStringLiteral("app")} + c.args);
        EXPECT_EQ(options.error, QString::fromLatin1(c.error)) << qPrintable(c.args.join(QLatin1Char(' ')));
    }
    const vtrapp::StartupOptions good =
        vtrapp::parseOptions({QStringLiteral("app"), QStringLiteral("--simulate-phone"), fixture,
                              QStringLiteral("--quit-after-state"), QStringLiteral("1")});
    EXPECT_EQ(good.simulatedPhone, fixture);
    EXPECT_EQ(good.quitAfterState, 1);
    EXPECT_FALSE(good.uploadsToWindowsLive()) << "the simulated phone never opens the login sheet";
    EXPECT_FALSE(vtrapp::parseOptions({QStringLiteral("app"), QStringLiteral("--screenshots"), QStringLiteral("/tmp/x")})
                     .uploadsToWindowsLive());
    EXPECT_TRUE(vtrapp::parseOptions({QStringLiteral("app")}).uploadsToWindowsLive());
}

TEST(Startup, AWindowWiderThanItsScreenKeepsItsLeftEdgeOnIt)
{
    // The minimum wins over a screen too small (here the second of two,
    // right of the first): what does not fit goes off the right edge, where
    // the window's title and close button are not.
    for (const QRect screen : {QRect(0, 0, 800, 700), QRect(1920, 40, 800, 700)}) {
        const QRect placed = vtrapp::windowGeometryForScreen(QSize(880, 600), QSize(1000, 500), screen);
        EXPECT_EQ(placed.size(), QSize(1000, 600));
        EXPECT_EQ(placed.left(), screen.left()) << placed.left();
        EXPECT_GE(placed.top(), screen.top());
    }
}

TEST(DeviceListNotification, WithoutASessionBusNothingIsSent)
{
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus");
    EXPECT_FALSE(vtrapp::postDeviceListNotification());
}

}  // namespace

namespace {

TEST(AppDelegate, TheWindowShowsTheWizardAndClosingAsksFirst)
{
    ScriptedAlertPresenter alerts;
    FakeHost host;
    PhoneArrival phones;
    bool terminated = false;
    auto controller = std::make_unique<NS_AppController>(
        WizardHarness::testServices(alerts, host, phones, [&] { terminated = true; }));
    NS_AppController *wizard = controller.get();
    NS_AppDelegate delegate(std::move(controller));
    delegate.awakeFromNib();
    EXPECT_EQ(delegate.window()->centralWidget(), wizard->view());
    // Only the first scene's state is entered when launching has finished.
    EXPECT_EQ(wizard->currentState(), 0);
    EXPECT_TRUE(wizard->scenesViewController()->templateController() == nullptr);
    QStringList items;
    for (QAction *menu : delegate.window()->menuBar()->actions())
        for (QAction *item : menu->menu()->actions()) items << QString::number(item->data().toInt());
    EXPECT_FALSE(items.contains(QStringLiteral("54")) || items.contains(QStringLiteral("55")));

    delegate.applicationDidFinishLaunching();
    EXPECT_TRUE(delegate.window()->isVisible());
    alerts.answer(QStringLiteral("Continue"));
    EXPECT_FALSE(delegate.window()->close());
    EXPECT_EQ(alerts.titles(), QStringList{QStringLiteral("Quit Solvenna for Windows Phone?")});
    alerts.answer(QStringLiteral("Quit"));
    EXPECT_TRUE(delegate.window()->close());
    EXPECT_TRUE(terminated);
}

}  // namespace
