#include "app/AppStartup.h"

#include "app/AppServices.h"
#include "app/BackgroundJob.h"
#include "app/NS_AppController.h"
#include "app/NS_AppControllerSummaries.h"
#include "app/NS_AppDelegate.h"
#include "app/Scenes.h"
#include "app/ScreenshotTour.h"
#include "devices/camera/CameraConnection.h"
#include "devices/mtp/MtpLibrary.h"
#include "devices/usb/FakeUdevSource.h"
#include "foundation/Json.h"
#include "foundation/Log.h"
#include "migration/VtrMusicPlaylistKinds.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <cstdio>

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
        else if (a == QLatin1String("--help") || a == QLatin1String("-h")) options.help = true;
        else if (a.startsWith(QLatin1Char('-')) && options.error.isEmpty())
            options.error = QStringLiteral("Unknown option %1.").arg(a);
    }
    if (!options.simulatedPhone.isEmpty() && !QFileInfo(options.simulatedPhone).isFile() && options.error.isEmpty())
        options.error = QStringLiteral("The phone fixture %1 does not exist.").arg(options.simulatedPhone);
    return options;
}

QString usageText()
{
    return QStringLiteral(
        "Usage: solvenna-to-windows-phone [options]\n"
        "  --simulate-phone FIXTURE  put a simulated phone (a JSON phone description) under the application\n"
        "  --screenshots FOLDER      walk through the wizard and write one picture per state\n"
        "  --quit-after-state N      print each state entered, quit when state N is reached\n"
        "  --exit-on-first-paint     quit once the window has been painted\n");
}

namespace {

// The simulated phone's USB identity, as its fixture gives it.
struct SimulatedIdentity
{
    quint16 vendor = 0;
    quint16 product = 0;
    int bus = 1;
    int devnum = 2;
    QString productName;
    QString serial;
};

quint16 fixtureNumber(const QVariant &value)
{
    bool ok = false;
    const QString text = value.toString();
    const uint n = text.startsWith(QLatin1String("0x")) ? text.mid(2).toUInt(&ok, 16) : text.toUInt(&ok, 10);
    return ok ? quint16(n) : 0;
}

SimulatedIdentity readIdentity(const QString &fixture)
{
    SimulatedIdentity identity;
    QFile file(fixture);
    if (!file.open(QIODevice::ReadOnly)) return identity;
    const QVariantMap id = vtr::JSONValueFromUtf8(file.readAll()).toMap().value(QStringLiteral("identity")).toMap();
    identity.vendor = fixtureNumber(id.value(QStringLiteral("vendorId")));
    identity.product = fixtureNumber(id.value(QStringLiteral("productId")));
    identity.bus = id.value(QStringLiteral("busLocation"), 1).toInt();
    identity.devnum = id.value(QStringLiteral("devnum"), 2).toInt();
    identity.productName = id.value(QStringLiteral("productName")).toString();
    identity.serial = id.value(QStringLiteral("serialNumber")).toString();
    return identity;
}

// The companion app of a simulated phone: installed at once, done at once.
class SimulatedCompanionApp final : public CompanionApp
{
public:
    bool pushApk() override { return true; }
    bool apkIsDone() override { return true; }
};

}  // namespace

int runApplication(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("vantrel"));
    QApplication::setApplicationName(QStringLiteral("solvennawindowsphone"));
    QApplication::setApplicationDisplayName(QStringLiteral("Solvenna to Windows Phone"));
    QApplication::setDesktopFileName(QStringLiteral("solvenna-to-windows-phone"));

    const StartupOptions options = parseOptions(QApplication::arguments());
    if (options.help) {
        std::fputs(qPrintable(usageText()), stdout);
        return 0;
    }
    if (!options.error.isEmpty()) {
        std::fprintf(stderr, "%s\n%s", qPrintable(options.error), qPrintable(usageText()));
        return 2;
    }

    // The simulated phone replaces the MTP library and the USB registry before
    // any layer asks for them.
    std::shared_ptr<vtr::udev::FakeUdevSource> fakeUsb;
    if (!options.simulatedPhone.isEmpty()) {
        qputenv(kMtpSimulatorEnvironmentVariable, QFile::encodeName(QFileInfo(options.simulatedPhone).absoluteFilePath()));
        fakeUsb = std::make_shared<vtr::udev::FakeUdevSource>();
        fakeUsb->addNode(vtr::udev::FakeUdevSource::plainNode(QStringLiteral("/sys/devices/pci0000:00/usb1"),
                                                              QStringLiteral("usb"), QStringLiteral("usb_device")));
        vtr::udev::setDefaultSource(fakeUsb);
    }

    vtrRegisterMusicPlaylistWriters();

    LinuxHostEnvironment host;
    MessageBoxAlertPresenter messageBoxes;
    std::unique_ptr<AlertPresenter> tourAlerts;
    AppControllerServices services;
    services.host = &host;
    services.alerts = &messageBoxes;
    services.udevSource = fakeUsb;
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
    if (fakeUsb)
        controller->setCompanionAppFactory(
            [](std::shared_ptr<MobileDeviceInterface>) { return std::make_shared<SimulatedCompanionApp>(); });
    NS_AppController *wizard = controller.get();
    NS_AppDelegate delegate(std::move(controller));
    messageBoxes.setParent(delegate.window());
    delegate.awakeFromNib();
    delegate.window()->resize(880, 600);

    if (fakeUsb) {
        const SimulatedIdentity id = readIdentity(options.simulatedPhone);
        auto plug = [fakeUsb, id] {
            fakeUsb->plug(vtr::udev::FakeUdevSource::usbDevice(QStringLiteral("/sys/devices/pci0000:00/usb1"),
                                                               QStringLiteral("1-1"), id.vendor, id.product,
                                                               id.productName, id.serial, id.bus, id.devnum));
        };
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
        tour = std::make_unique<ScreenshotTour>(wizard, delegate.window(), options.screenshotFolder);
    if (options.exitOnFirstPaint) installExitOnFirstPaint(delegate.window());

    QTimer::singleShot(0, &delegate, [&delegate] { delegate.applicationDidFinishLaunching(); });
    const int status = QApplication::exec();
    tour.reset();
    if (fakeUsb) vtr::udev::setDefaultSource(nullptr);
    std::fflush(stdout);
    return status;
}

}  // namespace vtrapp
