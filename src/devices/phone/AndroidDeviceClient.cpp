#include "devices/phone/AndroidDeviceClient.h"

#include "foundation/Log.h"
#include "platform/UserDefaults.h"
#include "platform/VtrException.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <algorithm>
#include <csignal>
#include <limits>
#include <sys/types.h>
#include <unistd.h>

namespace {

std::mutex g_settingsMutex;
QString g_adbPath;
QString g_resourceFolder;
std::chrono::milliseconds g_toolTimeout{120000};

const QString kApkName = QStringLiteral("SolvennaWindowsPhone.apk");

// What `adb` says when it cannot choose among several attached devices.
const QString kMoreThanOneDevice = QStringLiteral("more than one device");

// What is left of the deadline, as QProcess's waits take it (at least 1 ms:
// 0 would not wait at all, -1 for ever).
int remainingMs(const QDeadlineTimer &deadline)
{
    return int(std::clamp<qint64>(deadline.remainingTime(), 1, std::numeric_limits<int>::max()));
}

bool exists(const VtrFileInfoPtr &file)
{
    return file && file->exists();
}

} // namespace

AndroidDeviceClient::AndroidDeviceClient(std::shared_ptr<MobileDeviceInterface> device) : _device(std::move(device)) {}

AndroidDeviceClient::~AndroidDeviceClient()
{
    setDevice(nullptr);
}

std::shared_ptr<MobileDeviceInterface> AndroidDeviceClient::device() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return _device;
}

void AndroidDeviceClient::setDevice(std::shared_ptr<MobileDeviceInterface> device)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    _device = std::move(device);
}

// ---- settings ---------------------------------------------------------------------------------

void AndroidDeviceClient::setAdbPath(const QString &path)
{
    std::lock_guard<std::mutex> lock(g_settingsMutex);
    g_adbPath = path;
}

QString AndroidDeviceClient::adbPath()
{
    {
        std::lock_guard<std::mutex> lock(g_settingsMutex);
        if (!g_adbPath.isEmpty()) return g_adbPath;
    }
    return QStandardPaths::findExecutable(QStringLiteral("adb"));
}

void AndroidDeviceClient::setResourceFolder(const QString &folder)
{
    std::lock_guard<std::mutex> lock(g_settingsMutex);
    g_resourceFolder = folder;
}

QString AndroidDeviceClient::resourceFolder()
{
    {
        std::lock_guard<std::mutex> lock(g_settingsMutex);
        if (!g_resourceFolder.isEmpty()) return g_resourceFolder;
    }
    return QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/../share/solvennawindowsphone"));
}

QString AndroidDeviceClient::apkPath()
{
    const QFileInfo apk(QDir(resourceFolder()).filePath(kApkName));
    return apk.isFile() ? apk.absoluteFilePath() : QString();
}

void AndroidDeviceClient::setToolTimeout(std::chrono::milliseconds timeout)
{
    std::lock_guard<std::mutex> lock(g_settingsMutex);
    g_toolTimeout = timeout;
}

std::chrono::milliseconds AndroidDeviceClient::toolTimeout()
{
    std::lock_guard<std::mutex> lock(g_settingsMutex);
    return g_toolTimeout;
}

// ---- tool runs --------------------------------------------------------------------------------

AndroidDeviceClient::ToolRun AndroidDeviceClient::runTool(const QStringList &arguments)
{
    ToolRun run;
    const QString program = adbPath();
    if (program.isEmpty()) {
        VTR_LOG(2, QStringLiteral("The Android debug bridge (adb) is not installed."));
        return run;
    }

    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setProcessChannelMode(QProcess::MergedChannels);
    const QString folder = resourceFolder();
    if (QFileInfo(folder).isDir()) process.setWorkingDirectory(folder);
    // Its own process group, so that a time-out also ends what it started
    // (a wrapper script's children); the bridge's server detaches itself.
    process.setChildProcessModifier([] { ::setpgid(0, 0); });

    const QDeadlineTimer deadline(toolTimeout());
    process.start(QIODevice::ReadWrite);
    if (!process.waitForStarted(remainingMs(deadline))) {
        VTR_LOG(2, QStringLiteral("Could not run \"%1\": %2").arg(program, process.errorString()));
        return run;
    }
    run.started = true;
    process.closeWriteChannel();

    // waitForFinished() keeps collecting the output while it waits.
    run.finished = process.waitForFinished(remainingMs(deadline));
    if (!run.finished && process.state() != QProcess::NotRunning) {
        const qint64 pid = process.processId();
        if (pid > 0) ::kill(-pid_t(pid), SIGKILL);
        process.kill();
        process.waitForFinished(5000);
        VTR_LOG(2, QStringLiteral("\"%1 %2\" did not end in time and was stopped.")
                       .arg(program, arguments.join(QLatin1Char(' '))));
    } else if (run.finished) {
        run.finished = process.exitStatus() == QProcess::NormalExit;
    }
    run.exitCode = process.exitCode();
    run.output = process.readAll();
    return run;
}

bool AndroidDeviceClient::pushApk()
{
    const QString apk = apkPath();
    if (apk.isNull())
        VTR_LOG(
            1,
            QStringLiteral("The companion app package \"%1\" is missing in \"%2\".").arg(kApkName, resourceFolder()));

    QStringList install = {QStringLiteral("install"), QStringLiteral("-r")};
    if (!apk.isNull()) install.append(apk);
    ToolRun run = runTool(install);
    QString text = QString::fromUtf8(run.output);
    VtrDebugLog(QStringLiteral("ADB Install returned: %1").arg(text));

    // With several devices attached the bridge will not choose: name the
    // phone by its serial number (the bridge's name for a USB device).
    QStringList target;
    const std::shared_ptr<MobileDeviceInterface> phone = device();
    const QString serial = phone ? phone->serialNumber() : QString();
    if (run.finished && text.contains(kMoreThanOneDevice) && !serial.isEmpty()) {
        target = {QStringLiteral("-s"), serial};
        run = runTool(target + install);
        text = QString::fromUtf8(run.output);
        VtrDebugLog(QStringLiteral("ADB Install returned: %1").arg(text));
    }

    // Output of a run that was stopped is not an answer; nor is any answer
    // without the package.
    const bool success =
        run.finished && !apk.isNull() &&
        (text.contains(QStringLiteral("Success")) || text.contains(QStringLiteral("INSTALL_FAILED_ALREADY_EXISTS")));

    if (success && !platform::UserDefaults::value(QStringLiteral("skipDeviceClientLaunch")).toBool()) {
        QStringList start = target;
        start += QStringLiteral("shell am start -a android.intent.action.MAIN -n %1")
                     .arg(QLatin1String(kStartActivity))
                     .split(QLatin1Char(' '), Qt::SkipEmptyParts);
        runTool(start);
    }
    runTool({QStringLiteral("kill-server")});
    return success;
}

// ---- companion files --------------------------------------------------------------------------

VtrFileInfoPtr AndroidDeviceClient::findCompanionFile(const QString &name, bool *phoneShowedAnything)
{
    const std::shared_ptr<MobileDeviceInterface> phone = device();
    if (!phone) return nullptr;
    const auto lookIn = [&](const VtrFileInfoPtr &storage) -> VtrFileInfoPtr {
        if (!storage) return nullptr;
        const VtrFileInfoPtr folder = storage->find(QLatin1String(kCompanionFolder));
        // Without the app's folder the storage itself must show something.
        if (phoneShowedAnything && !*phoneShowedAnything)
            *phoneShowedAnything = exists(folder) || !storage->folderContents().isEmpty();
        return folder ? folder->find(name) : nullptr;
    };

    VtrFileInfoPtr file;
    if (phone->hasMTPConnection()) {
        // The phone stays on the storage switched to last.
        if (phone->mtpUseInternalStorage()) file = lookIn(phone->preferredStorageInfo());
        if (!exists(file) && phone->mtpUseExternalStorage()) file = lookIn(phone->preferredStorageInfo());
    } else {
        for (const VtrFileInfoPtr &storage : phone->storageFileInfos()) {
            file = lookIn(storage);
            if (exists(file)) break;
        }
    }
    return file;
}

bool AndroidDeviceClient::apkIsDone()
{
    try {
        return exists(findCompanionFile(QLatin1String(kDoneFileName)));
    } catch (const VtrException &e) {
        // The wizard polls this; a failed look on the phone means "not yet".
        VTR_LOG(2, QStringLiteral("Looking for the companion app's marker failed: %1").arg(e.reason()));
        return false;
    }
}

AndroidDeviceClient::Progress AndroidDeviceClient::apkProgress()
{
    bool showedAnything = false;
    try {
        if (exists(findCompanionFile(QLatin1String(kDoneFileName), &showedAnything))) return Progress::Done;
    } catch (const VtrException &e) {
        VTR_LOG(2, QStringLiteral("Looking for the companion app's marker failed: %1").arg(e.reason()));
        return Progress::PhoneUnreadable;
    }
    const std::shared_ptr<MobileDeviceInterface> phone = device();
    return phone && phone->isConnected() && showedAnything ? Progress::NotYet : Progress::PhoneUnreadable;
}

QVariantList AndroidDeviceClient::appItemsFromText(const QString &text)
{
    QVariantList items;
    for (const QString &line : text.split(QLatin1Char('\n'))) {
        const QStringList parts = line.split(QLatin1Char(','));
        if (parts.size() != 2) continue;
        const QString &name = parts.at(0);
        const QString &identifier = parts.at(1);
        // The companion app itself is no suggestion.
        if (name.contains(QStringLiteral("Solvenna")) || identifier.contains(QStringLiteral("com.vantrel.solvennawp")))
            continue;
        QVariantMap item;
        item.insert(QStringLiteral("itemName"), name);
        item.insert(QStringLiteral("itemId"), identifier);
        items.append(item);
    }
    return items;
}

std::optional<QVariantList> AndroidDeviceClient::findAndroidApps()
{
    try {
        const VtrFileInfoPtr file = findCompanionFile(QLatin1String(kAppsFileName));
        if (!exists(file)) return std::nullopt;
        const QByteArray contents = file->fileContentsWithProgress(nullptr, nullptr);
        if (contents.isNull()) return std::nullopt;
        return appItemsFromText(QString::fromUtf8(contents));
    } catch (const VtrException &e) {
        VTR_LOG(2, QStringLiteral("Reading the companion app's list failed: %1").arg(e.reason()));
        return std::nullopt;
    }
}
