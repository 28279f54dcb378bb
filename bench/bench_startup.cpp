// bench-links: vtr_app
//
// Start-up: the time from starting the application's process to its first
// painted window, against a bare QApplication with one QWidget started the
// same way in the same run (this program with --bare). Both run offscreen in
// a private home; each process prints the time to its first paint.
//
// Main thread: the longest gap between two turns of the event loop while a
// simulated Android phone (200 files) is plugged in, attached and read on a
// background job.

#include "../tests/common/PhoneArrival.h"
#include "app/BackgroundJob.h"
#include "app/NS_AppController.h"
#include "app/ScreenshotTour.h"
#include "devices/phone/MobileDevice.h"
#include "devices/phone/MobileDeviceProxy.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <ctime>
#include <memory>

namespace {

QString g_self;

qint64 monotonicNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// Starts `command` in a private home and answers its time to first paint in
// seconds; negative when it printed none.
double timeToFirstPaint(const QString &command)
{
    QTemporaryDir home;
    QDir(home.path()).mkpath(QStringLiteral("runtime"));
    QFile::setPermissions(home.path() + QStringLiteral("/runtime"), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    const QString line = QStringLiteral("env HOME='%1' XDG_RUNTIME_DIR='%1/runtime' XDG_CONFIG_HOME='%1/c' "
                                        "XDG_DATA_HOME='%1/d' XDG_CACHE_HOME='%1/ca' XDG_STATE_HOME='%1/s' "
                                        "QT_QPA_PLATFORM=offscreen VTR_SPAWN_NS=%2 %3 2>/dev/null")
                             .arg(home.path())
                             .arg(monotonicNs())
                             .arg(command);
    FILE *out = popen(line.toLocal8Bit().constData(), "r");
    if (!out) return -1;
    double seconds = -1;
    char buffer[256];
    while (fgets(buffer, sizeof buffer, out)) {
        long long ns = 0;
        if (std::sscanf(buffer, "first-paint-ns %lld", &ns) == 1) seconds = ns / 1e9;
    }
    pclose(out);
    return seconds;
}

void runStartup(benchmark::State &state, const QString &command)
{
    for (auto _ : state) {
        const double seconds = timeToFirstPaint(command);
        if (seconds < 0) {
            state.SkipWithError("the process printed no first paint");
            return;
        }
        state.SetIterationTime(seconds);
    }
}

void BM_StartupBareWidget(benchmark::State &state) { runStartup(state, QStringLiteral("'%1' --bare").arg(g_self)); }

void BM_StartupApplication(benchmark::State &state)
{
    const QString app = QFileInfo(g_self).dir().filePath(QStringLiteral("../app/solvenna-to-windows-phone"));
    runStartup(state, QStringLiteral("'%1' --exit-on-first-paint").arg(app));
}

BENCHMARK(BM_StartupBareWidget)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_StartupApplication)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

class ScriptedAnswers final : public AlertPresenter
{
public:
    int runAlert(const AlertRequest &request) override { return request.defaultButton; }
    QString runSavePanel(const QString &, const QString &) override { return QString(); }
};

class QuietHost final : public HostEnvironment
{
public:
    QString applicationPath(const QString &) const override { return QStringLiteral("/bin/true"); }
    bool launchApplication(const QString &, bool) override { return true; }
    bool openUrl(const QUrl &) override { return false; }
    void beep() override {}
};

// Reads every file of the phone's storage root tree, as a backup walks it.
class ReadPhoneJob final : public BackgroundJob
{
public:
    explicit ReadPhoneJob(std::shared_ptr<MobileDeviceInterface> phone) : m_phone(std::move(phone)) {}
    ~ReadPhoneJob() override { stopAndJoin(); }
    qint64 bytes = 0;

protected:
    QVariantMap run() override
    {
        QList<VtrFileInfoPtr> pending{m_phone->preferredStorageInfo()};
        while (!pending.isEmpty()) {
            VtrFileInfoPtr item = pending.takeLast();
            if (!item) continue;
            if (item->isFolder()) {
                pending.append(item->folderContents());
            } else {
                bytes += item->fileContents().size();
            }
        }
        return successResult();
    }

private:
    std::shared_ptr<MobileDeviceInterface> m_phone;
};

void BM_MainThreadStallWhilePhoneIsRead(benchmark::State &state)
{
    double worstMs = 0;
    double idleMs = 0;
    for (auto _ : state) {
        PhoneArrival phones;
        MtpSimPhone &phone = phones.mtp()->addPhone();
        MtpSimIdentity id;
        id.vendorId = 0x04e8;
        id.productId = 0x6642;
        id.devnum = 7;
        id.serialNumber = QStringLiteral("BENCH0001");
        phone.setIdentity(id);
        MtpSimStorageSpec storage;
        storage.id = 0x00010001;
        storage.capacity = 8ull << 30;
        phone.addStorage(storage);
        const uint32_t dcim = phone.addFolder(storage.id, 0, QStringLiteral("DCIM"));
        for (int i = 0; i < 200; ++i)
            phone.addFileOfSize(storage.id, dcim, QStringLiteral("IMG_%1.jpg").arg(i), 256 * 1024);

        ScriptedAnswers alerts;
        QuietHost host;
        AppControllerServices services;
        services.alerts = &alerts;
        services.host = &host;
        services.udevSource = phones.usb();
        services.mtpLibrary = phones.mtp();
        services.watchMounts = false;
        services.sceneFadeMs = 0;
        services.terminate = [] {};
        NS_AppController wizard(services);
        wizard.setState(NS_AppController::kStateGetStarted);

        QElapsedTimer clock;
        clock.start();
        qint64 last = clock.nsecsElapsed();
        qint64 worst = 0;
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, [&] {
            const qint64 now = clock.nsecsElapsed();
            worst = std::max(worst, now - last);
            last = now;
        });
        tick.start(1);
        auto spinUntil = [&](const std::function<bool()> &done) {
            QElapsedTimer limit;
            limit.start();
            while (!done() && limit.elapsed() < 20000) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        };
        // The same loop idle for half a second first: what the machine's
        // load alone costs.
        QCoreApplication::processEvents();
        last = clock.nsecsElapsed();
        worst = 0;
        QElapsedTimer idle;
        idle.start();
        spinUntil([&] { return idle.elapsed() >= 500; });
        idleMs = std::max(idleMs, worst / 1e6);
        last = clock.nsecsElapsed();
        worst = 0;
        const auto id0 = phone.identity();
        phones.plug(id0.vendorId, id0.productId, QString(), id0.serialNumber, int(id0.busLocation), id0.devnum);
        spinUntil([&] { return wizard.isOldDeviceConnected(); });
        ReadPhoneJob job(wizard.oldDeviceProxy());
        bool finished = false;
        QObject::connect(&job, &BackgroundJob::finished, [&] { finished = true; });
        job.start();
        spinUntil([&] { return finished; });
        tick.stop();
        if (!wizard.isOldDeviceConnected() || job.bytes != 200LL * 256 * 1024) {
            state.SkipWithError("the phone was not attached and read");
            return;
        }
        worstMs = std::max(worstMs, worst / 1e6);
    }
    state.counters["longest_stall_ms"] = worstMs;
    state.counters["idle_longest_gap_ms"] = idleMs;
}

BENCHMARK(BM_MainThreadStallWhilePhoneIsRead)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

int main(int argc, char **argv)
{
    if (argc > 1 && qstrcmp(argv[1], "--bare") == 0) {
        QApplication app(argc, argv);
        QWidget window;
        window.resize(880, 600);
        vtrapp::installExitOnFirstPaint(&window);
        window.show();
        return QApplication::exec();
    }
    g_self = QFile::symLinkTarget(QStringLiteral("/proc/self/exe"));
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir home;
    qputenv("HOME", home.path().toLocal8Bit());
    qputenv("XDG_DATA_HOME", (home.path() + QStringLiteral("/d")).toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", (home.path() + QStringLiteral("/c")).toLocal8Bit());
    qputenv("XDG_CACHE_HOME", (home.path() + QStringLiteral("/ca")).toLocal8Bit());
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::fflush(stdout);
    return 0;
}
