#include "app/AppStartup.h"

#include "app/AppServices.h"
#include "app/BackgroundJob.h"
#include "app/NS_AppController.h"
#include "app/NS_AppControllerSummaries.h"
#include "app/NS_AppDelegate.h"
#include "app/Scenes.h"
#include "app/ScreenshotTour.h"
#include "app/SimulatedPhone.h"
#include "app/SingleInstance.h"
#include "devices/camera/CameraConnection.h"
#include "devices/mtp/MtpLibrary.h"
#include "devices/mtp/sim/SimulatedMtpLibrary.h"
#include "devices/usb/FakeUdevSource.h"
#include "foundation/Log.h"
#include "migration/VtrMusicPlaylistKinds.h"
#include "platform/Folders.h"
#include "platform/VtrException.h"

#include <QApplication>
#include <QCursor>
#include <QDir>
#include <QScreen>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTimer>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <langinfo.h>
#include <unistd.h>

namespace vtrapp {

StartupOptions parseOptions(const QStringList &arguments)
{
    StartupOptions options;
    for (int i = 1; i < arguments.size(); ++i) {
        const QString &a = arguments.at(i);
        auto value = [&](const char *name) -> QString {
            if (i + 1 >= arguments.size()) {
                options.error = QStringLiteral("%1 needs a value.").arg(QLatin1String(name));
                return QString();
            }
            return arguments.at(++i);
        };
        if (a == QLatin1String("--simulate-phone")) options.simulatedPhone = value("--simulate-phone");
        else if (a == QLatin1String("--screenshots")) options.screenshotFolder = value("--screenshots");
        else if (a == QLatin1String("--quit-after-state")) {
            bool ok = false;
            options.quitAfterState = value("--quit-after-state").toInt(&ok);
            if (!ok && options.error.isEmpty()) options.error = QStringLiteral("--quit-after-state needs a number.");
        } else if (a == QLatin1String("--exit-on-first-paint")) options.exitOnFirstPaint = true;
        else if (a == QLatin1String("--one-step")) options.oneStep = true;
        else if (a == QLatin1String("--help") || a == QLatin1String("-h")) options.help = true;
        else if (a.startsWith(QLatin1Char('-')) && options.error.isEmpty())
            options.error = QStringLiteral("Unknown option %1.").arg(a);
        // A fixture named without its option would start a wizard waiting
        // for a phone that never comes.
        else if (options.error.isEmpty())
            options.error = QStringLiteral("Unknown argument %1.").arg(a);
    }
    // A fixture that cannot be used is refused here, whatever is wrong with
    // it: the wizard would otherwise wait for a phone that never comes.
    if (options.oneStep && options.screenshotFolder.isEmpty() && options.error.isEmpty())
        options.error = QStringLiteral("--one-step goes with --screenshots.");
    if (!options.simulatedPhone.isEmpty() && options.error.isEmpty() && !options.help) {
        QString error;
        options.phone = SimulatedPhone::load(options.simulatedPhone, &error);
        if (!options.phone) options.error = error;
    }
    return options;
}

QString usageText()
{
    return QStringLiteral(
        "Usage: solvenna-to-windows-phone [options]\n"
        "  --simulate-phone FIXTURE  put a simulated phone (a JSON phone description: Android, iPhone or\n"
        "                            BlackBerry) under the application\n"
        "  --screenshots FOLDER      walk through the wizard and write one picture per page\n"
        "  --one-step                with --screenshots: press Generate once the phone is read\n"
        "  --quit-after-state N      print each state entered, quit when state N is reached\n"
        "  --exit-on-first-paint     quit once the window has been painted\n"
        "Exit status: 0 the wizard ran, 2 wrong options or phone fixture, 3 no display,\n"
        "4 the wizard already runs for this home folder or cache folder.\n");
}

QRect windowGeometryForScreen(const QSize &preferred, const QSize &minimum, const QRect &available)
{
    // The frame and title bar the desktop adds around the window.
    const QSize frame(16, 48);
    const QSize room = (available.size() - frame).expandedTo(QSize(0, 0));
    const QSize size = preferred.boundedTo(room).expandedTo(minimum);
    QRect geometry(QPoint(0, 0), size);
    geometry.moveCenter(available.center());
    // The title bar stays on the screen when the window cannot fit.
    geometry.moveTop(std::max(geometry.top(), available.top() + std::min(frame.height() / 2, available.height() / 20)));
    geometry.moveLeft(std::max(geometry.left(), available.left()));
    return geometry;
}

void placeWindowOnScreen(QWidget *window)
{
    QScreen *screen = QGuiApplication::screenAt(QCursor::pos());
    if (!screen) screen = QGuiApplication::primaryScreen();
    if (!screen) return;
    window->setScreen(screen);
    window->setGeometry(
        windowGeometryForScreen(QSize(880, 600), window->minimumSizeHint(), screen->availableGeometry()));
}

namespace {

// Qt ends the process when no display can be opened, with an advice about
// reinstalling. While the application object is made, its messages are held
// back: without a display the person gets one line saying so; with one, the
// held messages are passed on.
class DisplayCheck
{
public:
    DisplayCheck() { s_previous = qInstallMessageHandler(&DisplayCheck::handle); }
    ~DisplayCheck() { release(); }
    void release()
    {
        if (!s_active) return;
        qInstallMessageHandler(s_previous);
        s_active = false;
        for (const Held &held : std::exchange(s_held, {}))
            qt_message_output(held.type, QMessageLogContext(), held.text);
    }

private:
    struct Held
    {
        QtMsgType type;
        QString text;
    };
    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &text)
    {
        if (type != QtFatalMsg) {
            s_held.push_back({type, text});
            return;
        }
        (void)context;
        const QByteArray display = qgetenv("DISPLAY");
        const QByteArray wayland = qgetenv("WAYLAND_DISPLAY");
        QString where;
        if (display.isEmpty() && wayland.isEmpty())
            where = QStringLiteral("neither DISPLAY nor WAYLAND_DISPLAY is set");
        else
            where = QStringLiteral("the display %1 cannot be reached")
                        .arg(QString::fromLocal8Bit(display.isEmpty() ? wayland : display));
        const QString line = QStringLiteral("Solvenna to Windows Phone needs a display: %1. Start it from the desktop, "
                                            "or under a virtual display (xvfb-run).\n")
                                 .arg(where);
        std::fputs(line.toLocal8Bit().constData(), stderr);
        std::fflush(stderr);
        std::_Exit(kExitNoDisplay);
    }

    static inline QtMessageHandler s_previous = nullptr;
    static inline bool s_active = true;
    static inline std::vector<Held> s_held;
};

// The companion app of a simulated phone: installed at once, done at once.
class SimulatedCompanionApp final : public CompanionApp
{
public:
    bool pushApk() override { return true; }
    bool apkIsDone() override { return true; }
};

// A logout sends SIGHUP and SIGTERM, Ctrl+C SIGINT: each ends the run as
// Quit does, so the backups of many GB in the temporary folder go with it.
// The handler only writes a byte into a pipe; the event loop reads it. The
// handler stays until the process ends: a logout sends more than one signal,
// and one that arrives while the run winds down must not cut the removal of
// the backups short (SIGKILL still ends the process at once).
class TerminationSignals
{
public:
    explicit TerminationSignals(std::function<void(int)> onSignal) : m_onSignal(std::move(onSignal))
    {
        if (s_pipe[0] < 0 && ::pipe2(s_pipe, O_NONBLOCK | O_CLOEXEC) != 0) {
            VTR_LOG(2, QStringLiteral("The end of the session cannot be watched: %1")
                           .arg(QString::fromLocal8Bit(std::strerror(errno))));
            return;
        }
        m_notifier = std::make_unique<QSocketNotifier>(s_pipe[0], QSocketNotifier::Read);
        QObject::connect(m_notifier.get(), &QSocketNotifier::activated, m_notifier.get(), [this] { received(); });
        struct sigaction action{};
        action.sa_handler = &TerminationSignals::handle;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        for (int signal : {SIGTERM, SIGHUP, SIGINT}) ::sigaction(signal, &action, nullptr);
    }

private:
    static void handle(int signal)
    {
        const int saved = errno;
        const unsigned char byte = static_cast<unsigned char>(signal);
        (void)!::write(s_pipe[1], &byte, 1);
        errno = saved;
    }
    void received()
    {
        unsigned char bytes[64];
        const ssize_t n = ::read(s_pipe[0], bytes, sizeof bytes);
        if (n <= 0 || m_ended) return;
        m_ended = true;
        m_onSignal(bytes[0]);
    }

    static inline int s_pipe[2] = {-1, -1};
    std::function<void(int)> m_onSignal;
    std::unique_ptr<QSocketNotifier> m_notifier;
    bool m_ended = false;
};

// What earlier runs left in the temporary folder (a run that was killed, or
// the machine went off): only with the single-instance lock held, since a
// running wizard's items carry the same names.
void removeLeftoversOfEarlierRuns()
{
    const platform::TemporaryRemoval removal = platform::removeLeftoversOfEarlierRuns();
    if (removal.removed > 0)
        VTR_LOG(3, QStringLiteral("%1 items left by an earlier run were removed from the temporary folder.")
                       .arg(removal.removed));
    if (removal.kept > 0)
        VTR_LOG(2, QStringLiteral("%1 items left by an earlier run could not be removed from the temporary folder.")
                       .arg(removal.kept));
}

// A later start on the same home: the running wizard comes forward, and
// the start ends with one line. No box: a start from a terminal would wait
// for its OK. A wizard of another home that uses the same cache folder is
// left where it is, and the line names the folder that keeps the start out.
int tellAlreadyRunning(SingleInstance &instance)
{
    using Answer = SingleInstance::Answer;
    const Answer answer = instance.askRunningToComeForward();
    // A wizard of another cache folder has its come-forward socket there.
    QString text;
    if (answer == Answer::CameForward)
        text = QStringLiteral("Solvenna to Windows Phone is already running for this home folder; "
                              "its window has been brought to the front.");
    else if (instance.homeHeld())
        text = QStringLiteral("Solvenna to Windows Phone is already running for this home folder; "
                              "its window could not be brought to the front.");
    else
        text = QStringLiteral("Solvenna to Windows Phone is already running %1with the cache folder %2, "
                              "which only one wizard at a time can use.")
                   .arg(answer == Answer::OtherHome ? QStringLiteral("for another home folder ") : QString(),
                        instance.folder());
    std::fprintf(stderr, "%s\n", qPrintable(text));
    std::fflush(stderr);
    return kExitAlreadyRunning;
}

}  // namespace

int runApplication(int argc, char **argv)
{
    // Options first: --help and wrong options need no display.
    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments.append(QString::fromLocal8Bit(argv[i]));
    const StartupOptions options = parseOptions(arguments);
    if (options.help) {
        std::fputs(qPrintable(usageText()), stdout);
        return 0;
    }
    if (!options.error.isEmpty()) {
        std::fprintf(stderr, "%s\n%s", qPrintable(options.error), qPrintable(usageText()));
        return kExitUsage;
    }

    DisplayCheck displayCheck;
    QApplication app(argc, argv);
    // Names inside archives and on phones are UTF-8: under a locale that
    // cannot spell them (LANG unset, "C") the archive library gives them up.
    // After the application, which sets the caller's locale.
    if (std::strcmp(nl_langinfo(CODESET), "UTF-8") != 0) std::setlocale(LC_CTYPE, "C.UTF-8");
    displayCheck.release();
    QApplication::setOrganizationName(QStringLiteral("vantrel"));
    QApplication::setApplicationName(QStringLiteral("solvennawindowsphone"));
    QApplication::setApplicationDisplayName(QStringLiteral("Solvenna to Windows Phone"));
    QApplication::setDesktopFileName(QStringLiteral("solvenna-to-windows-phone"));

    // One lock lies beside the temporary folder it guards: a start of another
    // session (another runtime folder, or none) finds it all the same. The
    // other is on the home folder: a start with another cache folder would
    // file into the same new phone's folder.
    SingleInstance instance(platform::cacheFolder(), platform::homeFolder());
    const SingleInstance::Claim claim = instance.claim();
    if (claim == SingleInstance::Claim::HeldByAnother) return tellAlreadyRunning(instance);
    // Only a wizard of this cache folder uses its temporary folder: with its
    // lock held, what lies there is left over, even when the home folder
    // cannot be locked (a home on a file system without such locks).
    if (instance.holdsFolderLock()) removeLeftoversOfEarlierRuns();

    // The simulated phone replaces the MTP library and the USB registry before
    // any layer asks for them; its files live as long as the run.
    SimulatedPhone *phone = options.phone.get();
    std::shared_ptr<vtr::udev::FakeUdevSource> fakeUsb;
    std::shared_ptr<SimulatedMtpLibrary> simulatedMtp;
    std::unique_ptr<QTemporaryDir> phoneFiles;
    if (phone) {
        // A cache folder that cannot be made or is not safe ends the run as
        // a fixture that cannot be used does.
        QString error;
        try {
            phoneFiles = std::make_unique<QTemporaryDir>(QDir(platform::temporaryFolder()).filePath(
                QStringLiteral("simulated-phone-XXXXXX")));
        } catch (const VtrException &e) {
            error = e.reason();
        }
        if (!phoneFiles || !phoneFiles->isValid() || !phone->materialize(phoneFiles->path(), &error)) {
            std::fprintf(stderr, "The simulated phone cannot be set up: %s\n",
                         qPrintable(error.isEmpty() ? phoneFiles->errorString() : error));
            return kExitUsage;
        }
        simulatedMtp = phone->mtpLibrary() ? phone->mtpLibrary() : std::make_shared<SimulatedMtpLibrary>();
        mtpSetSharedLibrary(simulatedMtp);
        fakeUsb = std::make_shared<vtr::udev::FakeUdevSource>();
        fakeUsb->addNode(vtr::udev::FakeUdevSource::plainNode(SimulatedPhone::usbBus(), QStringLiteral("usb"),
                                                              QStringLiteral("usb_device")));
        vtr::udev::setDefaultSource(fakeUsb);
    }

    // Said once the run goes on: one that has ended above has said why.
    if (claim == SingleInstance::Claim::Unknown)
        VTR_LOG(2, QStringLiteral("Whether the wizard already runs cannot be told: %1").arg(instance.unknownReason()));

    vtrRegisterMusicPlaylistWriters();

    LinuxHostEnvironment host;
    MessageBoxAlertPresenter messageBoxes;
    std::unique_ptr<AlertPresenter> tourAlerts;
    AppControllerServices services;
    services.host = &host;
    services.alerts = &messageBoxes;
    services.udevSource = fakeUsb;
    services.mtpLibrary = simulatedMtp;
    services.checkDeviceListUpdate = fakeUsb == nullptr && options.quitAfterState < 0 && !options.exitOnFirstPaint;
    if (!options.screenshotFolder.isEmpty()) {
        tourAlerts = std::make_unique<DefaultAnswerAlertPresenter>();
        services.alerts = tourAlerts.get();
        services.sceneFadeMs = 0;
    }
    CameraConnection *camera = CameraConnection::cameraConnection();
    if (fakeUsb) camera->setUdevSource(fakeUsb);
    services.cameraConnection = camera;

    auto controller = std::make_unique<NS_AppController>(services);
    if (options.uploadsToWindowsLive()) installLiveAndSummaries(*controller);
    if (phone) {
        phone->attach(*controller, camera);
        controller->setCompanionAppFactory(
            [](std::shared_ptr<MobileDeviceInterface>) { return std::make_shared<SimulatedCompanionApp>(); });
    }
    NS_AppController *wizard = controller.get();
    NS_AppDelegate delegate(std::move(controller));
    messageBoxes.setParent(delegate.window());
    delegate.awakeFromNib();
    placeWindowOnScreen(delegate.window());
    QObject::connect(&instance, &SingleInstance::comeForwardRequested, delegate.window(), [&delegate] {
        QWidget *window = delegate.window();
        if (window->isMinimized()) window->showNormal();
        window->show();
        window->raise();
        window->activateWindow();
    });

    if (phone) {
        auto plug = [phone, fakeUsb] { phone->plug(*fakeUsb); };
        if (options.screenshotFolder.isEmpty()) {
            QTimer::singleShot(options.simulatedPhoneDelayMs, wizard, plug);
        } else {
            // The tour shows state 2 waiting for the phone before it arrives.
            auto plugged = std::make_shared<bool>(false);
            QObject::connect(wizard, &NS_AppController::stateEntered, wizard, [=](int state) {
                if (state != NS_AppController::kStateGetStarted || *plugged) return;
                *plugged = true;
                QTimer::singleShot(options.simulatedPhoneDelayMs, wizard, plug);
            });
        }
    }
    if (options.quitAfterState >= 0) {
        QObject::connect(wizard, &NS_AppController::stateEntered, wizard, [&options](int state) {
            std::printf("state %d\n", state);
            std::fflush(stdout);
            if (state == options.quitAfterState) QCoreApplication::exit(0);
        });
    }
    std::unique_ptr<ScreenshotTour> tour;
    if (!options.screenshotFolder.isEmpty())
        tour = std::make_unique<ScreenshotTour>(wizard, delegate.window(), options.screenshotFolder, options.oneStep);
    if (options.exitOnFirstPaint) installExitOnFirstPaint(delegate.window());

    const TerminationSignals endOfSession([wizard](int signal) {
        VTR_LOG(3, QStringLiteral("Signal %1: the run ends as Quit ends it.").arg(signal));
        std::fprintf(stderr, "Solvenna to Windows Phone ends (signal %d).\n", signal);
        std::fflush(stderr);
        wizard->terminate();
    });
    QTimer::singleShot(0, &delegate, [&delegate] { delegate.applicationDidFinishLaunching(); });
    const int status = QApplication::exec();
    tour.reset();
    if (fakeUsb) vtr::udev::setDefaultSource(nullptr);
    std::fflush(stdout);
    return status;
}

}  // namespace vtrapp
