// The companion-app installer, driven through a fake `adb` (a shell script
// that logs its arguments and answers from files the test writes) and a fake
// phone whose storages are local folders.
#include "devices/phone/AndroidDeviceClient.h"
#include "fileinfo/VtrMacFileInfo.h"
#include "platform/UserDefaults.h"
#include "platform/VtrException.h"

#include "TestEnvironment.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <csignal>
#include <gtest/gtest.h>

namespace {

// Logs one line per run: the working folder, then every argument in brackets.
// install: "hang-install" makes it wait (its child holds the pipe open);
// "devices" holds the number attached (more than one needs "-s"); the output
// is "install.out". Other commands print something harmless.
const char *kFakeAdb = R"SH(#!/bin/sh
dir="$(dirname "$0")"
line="$PWD:"
for a in "$@"; do line="$line[$a]"; done
echo "$line" >> "$dir/calls.log"
serial=""
if [ "$1" = "-s" ]; then serial="$2"; shift 2; fi
case "$1" in
install)
    if [ -f "$dir/hang-install" ]; then
        sleep 30 &
        echo $! > "$dir/child.pid"
        wait
        echo Success
        exit 0
    fi
    if [ -f "$dir/devices" ] && [ "$(cat "$dir/devices")" -gt 1 ] && [ -z "$serial" ]; then
        echo "adb: error: failed to get feature set: more than one device/emulator" >&2
        exit 1
    fi
    cat "$dir/install.out"
    ;;
shell)
    echo "Starting: Intent { act=android.intent.action.MAIN }"
    ;;
kill-server)
    ;;
esac
exit 0
)SH";

// A phone whose storages are local folders. With MTP it has an internal
// storage and, optionally, a card. Only what the installer asks is real.
class FakePhone : public MobileDeviceInterface
{
public:
    bool mtp = false;
    QString internal;
    QString card;
    QStringList volumes;
    QString serial;
    QString current;
    QStringList switches;
    bool failLookups = false;

    bool hasMTPConnection() const override { return mtp; }
    bool mtpUseInternalStorage() override
    {
        if (!mtp || internal.isEmpty()) return false;
        current = internal;
        switches.append(QStringLiteral("internal"));
        return true;
    }
    bool mtpUseExternalStorage() override
    {
        if (!mtp || card.isEmpty()) return false;
        current = card;
        switches.append(QStringLiteral("card"));
        return true;
    }
    VtrFileInfoPtr preferredStorageInfo() override
    {
        if (failLookups) throw VtrException(QStringLiteral("StopSyncException"), QStringLiteral("gone"));
        return current.isEmpty() ? nullptr : VtrMacFileInfo::fileInfoWithPath(current);
    }
    VtrFileInfoList storageFileInfos() override
    {
        VtrFileInfoList list;
        for (const QString &path : std::as_const(volumes))
            list.append(VtrMacFileInfo::fileInfoWithPath(path));
        return list;
    }
    QString serialNumber() const override { return serial; }

    // Not asked by the installer.
    quint16 vendorID() const override { return 0x04e8; }
    quint16 productID() const override { return 0x6860; }
    QString productString() const override { return QString(); }
    QString name() const override { return QString(); }
    void setName(const QString &) override {}
    QVariantMap info() const override { return {}; }
    MobileDeviceDelegate *delegate() const override { return nullptr; }
    void setDelegate(MobileDeviceDelegate *) override {}
    int deviceType() const override { return kDeviceTypeAndroid; }
    bool isAndroidDevice() const override { return true; }
    bool isAppleDevice() const override { return false; }
    bool isBlackBerry() const override { return false; }
    bool isMotorolaDevice() const override { return false; }
    bool isWindowsPhone7Device() const override { return false; }
    bool matchesVendorID(quint16, const quint16 *, const QString &) const override { return false; }
    bool isConnected() const override { return true; }
    void addMountedPath(const QString &) override {}
    void removeMountedPath(const QString &) override {}
    bool hasMountedPath(const QString &) const override { return false; }
    bool mtpHasInternalStorage() const override { return mtp && !internal.isEmpty(); }
    bool mtpHasExternalStorage() const override { return mtp && !card.isEmpty(); }
    std::optional<QVariantList> mtpPlaylists() override { return std::nullopt; }
    HandheldDeviceProtocol *platformDevice() const override { return nullptr; }
    void setPlatformDevice(HandheldDeviceProtocol *) override {}
    VtrFileInfoPtr preferredMigrationExportFolder() override { return nullptr; }
    VtrFileInfoPtr preferredMediaFolder() override { return nullptr; }
    VtrFileInfoPtr preferredMusicFolder() override { return nullptr; }
    VtrFileInfoPtr preferredPlaylistsFolder() override { return nullptr; }
    VtrFileInfoPtr preferredPhotosFolder() override { return nullptr; }
    VtrFileInfoPtr preferredVideosFolder() override { return nullptr; }
    VtrFileInfoList mediaFolders() override { return {}; }
    VtrFileInfoList bookmarkFolders() override { return {}; }
    QImage image() override { return QImage(); }
    std::shared_ptr<CameraDevice> camera() const override { return nullptr; }
    void setCamera(std::shared_ptr<CameraDevice>) override {}
};

class AndroidClientTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        platform::UserDefaults::setStoreFileForTesting(testenv::makeTempDir(QStringLiteral("defaults")) +
                                                       QStringLiteral("/d.ini"));
        tools = testenv::makeTempDir(QStringLiteral("adb"));
        resources = testenv::makeTempDir(QStringLiteral("resources"));
        testenv::writeFile(tools + QStringLiteral("/adb"), kFakeAdb);
        QFile::setPermissions(tools + QStringLiteral("/adb"),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        testenv::writeFile(resources + QStringLiteral("/SolvennaWindowsPhone.apk"), "PK");
        AndroidDeviceClient::setAdbPath(tools + QStringLiteral("/adb"));
        AndroidDeviceClient::setResourceFolder(resources);
        AndroidDeviceClient::setToolTimeout(std::chrono::seconds(20));
        phone = std::make_shared<FakePhone>();
    }
    void TearDown() override
    {
        AndroidDeviceClient::setAdbPath(QString());
        AndroidDeviceClient::setResourceFolder(QString());
        AndroidDeviceClient::setToolTimeout(std::chrono::seconds(120));
        platform::UserDefaults::setStoreFileForTesting(QString());
    }

    void installAnswers(const QByteArray &output)
    {
        testenv::writeFile(tools + QStringLiteral("/install.out"), output);
    }
    // The logged runs, each as its bracketed arguments.
    QStringList calls() const
    {
        QStringList runs;
        const QString text = QString::fromUtf8(testenv::readFile(tools + QStringLiteral("/calls.log")));
        for (const QString &line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            runs.append(line.mid(line.indexOf(QStringLiteral(":[")) + 1));
        return runs;
    }
    QString apk() const
    {
        return QFileInfo(resources + QStringLiteral("/SolvennaWindowsPhone.apk")).absoluteFilePath();
    }

    QString tools;
    QString resources;
    std::shared_ptr<FakePhone> phone;
};

const QString kStart = QStringLiteral(
    "[shell][am][start][-a][android.intent.action.MAIN][-n][com.vantrel.solvennawp/.SolvennaWPActivity]");

} // namespace

TEST_F(AndroidClientTest, SuccessfulInstallStartsTheAppAndStopsTheServer)
{
    installAnswers("Performing Streamed Install\nSuccess\n");
    AndroidDeviceClient client(phone);
    EXPECT_TRUE(client.pushApk());
    EXPECT_EQ(calls(),
              QStringList({QStringLiteral("[install][-r][%1]").arg(apk()), kStart, QStringLiteral("[kill-server]")}));
    // Every run works in the resource folder.
    const QString log = QString::fromUtf8(testenv::readFile(tools + QStringLiteral("/calls.log")));
    EXPECT_TRUE(log.startsWith(QFileInfo(resources).canonicalFilePath() + QLatin1Char(':')) ||
                log.startsWith(resources + QLatin1Char(':')))
        << log.toStdString();
}

TEST_F(AndroidClientTest, AlreadyInstalledCountsAsSuccessAndIsStarted)
{
    installAnswers("Failure [INSTALL_FAILED_ALREADY_EXISTS: Attempt to re-install without first uninstalling.]\n");
    AndroidDeviceClient client(phone);
    EXPECT_TRUE(client.pushApk());
    EXPECT_EQ(calls().size(), 3);
    EXPECT_EQ(calls().value(1), kStart);
}

TEST_F(AndroidClientTest, SkippingTheLaunchRunsOnlyInstallAndStop)
{
    platform::UserDefaults::setValue(QStringLiteral("skipDeviceClientLaunch"), true);
    installAnswers("Success\n");
    AndroidDeviceClient client(phone);
    EXPECT_TRUE(client.pushApk());
    EXPECT_EQ(calls(), QStringList({QStringLiteral("[install][-r][%1]").arg(apk()), QStringLiteral("[kill-server]")}));
}

TEST_F(AndroidClientTest, FailedInstallStartsNothingButStillStopsTheServer)
{
    installAnswers("Failure [INSTALL_FAILED_INSUFFICIENT_STORAGE]\n");
    AndroidDeviceClient client(phone);
    EXPECT_FALSE(client.pushApk());
    EXPECT_EQ(calls(), QStringList({QStringLiteral("[install][-r][%1]").arg(apk()), QStringLiteral("[kill-server]")}));
}

TEST_F(AndroidClientTest, WithoutThePackageTheAnswerIsNo)
{
    QFile::remove(apk());
    installAnswers("Success\n"); // whatever the tool says
    AndroidDeviceClient client(phone);
    EXPECT_FALSE(client.pushApk());
    EXPECT_EQ(calls(), QStringList({QStringLiteral("[install][-r]"), QStringLiteral("[kill-server]")}));
}

TEST_F(AndroidClientTest, AHangingToolIsStoppedWithItsChildrenAndAnswersNo)
{
    testenv::writeFile(tools + QStringLiteral("/hang-install"), "");
    AndroidDeviceClient::setToolTimeout(std::chrono::milliseconds(700));
    AndroidDeviceClient client(phone);
    QElapsedTimer timer;
    timer.start();
    EXPECT_FALSE(client.pushApk());
    EXPECT_LT(timer.elapsed(), 15000);
    EXPECT_EQ(calls(), QStringList({QStringLiteral("[install][-r][%1]").arg(apk()), QStringLiteral("[kill-server]")}));

    // The script's own child went with it.
    const pid_t child = pid_t(testenv::readFile(tools + QStringLiteral("/child.pid")).trimmed().toInt());
    ASSERT_GT(child, 0);
    QElapsedTimer wait;
    wait.start();
    auto alive = [&] {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(child));
        if (!stat.open(QIODevice::ReadOnly)) return false;
        const QByteArray text = stat.readAll();
        const qsizetype close = text.lastIndexOf(')');
        return close < 0 || text.mid(close + 2, 1) != "Z";
    };
    while (alive() && wait.elapsed() < 5000)
        QThread::msleep(20);
    EXPECT_FALSE(alive());
}

TEST_F(AndroidClientTest, TwoAttachedDevicesAreToldApartByTheSerialNumber)
{
    testenv::writeFile(tools + QStringLiteral("/devices"), "2");
    installAnswers("Success\n");
    phone->serial = QStringLiteral("R58M1234");
    AndroidDeviceClient client(phone);
    EXPECT_TRUE(client.pushApk());
    const QString install = QStringLiteral("[install][-r][%1]").arg(apk());
    EXPECT_EQ(calls(), QStringList({install, QStringLiteral("[-s][R58M1234]") + install,
                                    QStringLiteral("[-s][R58M1234]") + kStart, QStringLiteral("[kill-server]")}));

    // Without a serial number there is no telling: no.
    QFile::remove(tools + QStringLiteral("/calls.log"));
    phone->serial = QString();
    EXPECT_FALSE(client.pushApk());
    EXPECT_EQ(calls(), QStringList({install, QStringLiteral("[kill-server]")}));
}

TEST_F(AndroidClientTest, AMissingToolAnswersNo)
{
    AndroidDeviceClient::setAdbPath(tools + QStringLiteral("/no-such-adb"));
    installAnswers("Success\n");
    AndroidDeviceClient client(phone);
    EXPECT_FALSE(client.pushApk());
    EXPECT_FALSE(QFile::exists(tools + QStringLiteral("/calls.log")));
}

// ---- companion files ------------------------------------------------------------------

TEST_F(AndroidClientTest, AMarkerOnTheCardIsFoundAndThePhoneStaysOnTheCard)
{
    phone->mtp = true;
    phone->internal = testenv::makeTempDir(QStringLiteral("internal"));
    phone->card = testenv::makeTempDir(QStringLiteral("card"));
    phone->current = phone->card;
    AndroidDeviceClient client(phone);

    EXPECT_FALSE(client.apkIsDone());
    EXPECT_EQ(phone->switches, QStringList({QStringLiteral("internal"), QStringLiteral("card")}));

    testenv::writeFile(phone->card + QStringLiteral("/solvennawp/nroid_done.txt"), "");
    phone->switches.clear();
    EXPECT_TRUE(client.apkIsDone());
    EXPECT_EQ(phone->switches, QStringList({QStringLiteral("internal"), QStringLiteral("card")}));
    EXPECT_EQ(phone->current, phone->card);

    // Found in the internal storage: no switch to the card.
    testenv::writeFile(phone->internal + QStringLiteral("/solvennawp/nroid_done.txt"), "");
    phone->switches.clear();
    EXPECT_TRUE(client.apkIsDone());
    EXPECT_EQ(phone->switches, QStringList({QStringLiteral("internal")}));
    EXPECT_EQ(phone->current, phone->internal);
}

TEST_F(AndroidClientTest, APhoneWithOnlyACardIsStillSearched)
{
    phone->mtp = true;
    phone->card = testenv::makeTempDir(QStringLiteral("card"));
    testenv::writeFile(phone->card + QStringLiteral("/solvennawp/nroid_done.txt"), "");
    AndroidDeviceClient client(phone);
    EXPECT_TRUE(client.apkIsDone());
}

TEST_F(AndroidClientTest, TheProgressTellsAPhoneThatShowsNothingFromAnAppNotYetDone)
{
    phone->mtp = true;
    phone->internal = testenv::makeTempDir(QStringLiteral("internal"));
    AndroidDeviceClient client(phone);
    EXPECT_EQ(client.apkProgress(), AndroidDeviceClient::Progress::PhoneUnreadable);
    testenv::writeFile(phone->internal + QStringLiteral("/DCIM/a.jpg"), "");
    EXPECT_EQ(client.apkProgress(), AndroidDeviceClient::Progress::NotYet);
    testenv::writeFile(phone->internal + QStringLiteral("/solvennawp/nroid_done.txt"), "");
    EXPECT_EQ(client.apkProgress(), AndroidDeviceClient::Progress::Done);
    phone->failLookups = true;
    EXPECT_EQ(client.apkProgress(), AndroidDeviceClient::Progress::PhoneUnreadable);
}

TEST_F(AndroidClientTest, MountedVolumesAreSearchedInOrder)
{
    const QString a = testenv::makeTempDir(QStringLiteral("a"));
    const QString b = testenv::makeTempDir(QStringLiteral("b"));
    phone->volumes = {a, b};
    AndroidDeviceClient client(phone);
    EXPECT_FALSE(client.apkIsDone());
    EXPECT_FALSE(client.findAndroidApps().has_value());

    testenv::writeFile(b + QStringLiteral("/solvennawp/nroid_done.txt"), "");
    testenv::writeFile(b + QStringLiteral("/solvennawp/nroid_apps.txt"), "Maps,com.google.maps\n");
    EXPECT_TRUE(client.apkIsDone());
    const auto apps = client.findAndroidApps();
    ASSERT_TRUE(apps.has_value());
    ASSERT_EQ(apps->size(), 1);
    EXPECT_EQ(apps->first().toMap().value(QStringLiteral("itemId")).toString(), QStringLiteral("com.google.maps"));
    EXPECT_TRUE(phone->switches.isEmpty());
}

TEST_F(AndroidClientTest, TheAppListKeepsOnlyLinesWithOneCommaAndNotTheCompanionApp)
{
    const QString a = testenv::makeTempDir(QStringLiteral("a"));
    phone->volumes = {a};
    testenv::writeFile(a + QStringLiteral("/solvennawp/nroid_apps.txt"), "Maps,com.google.maps\n"
                                                                         "no comma here\n"
                                                                         "Too,many,commas\n"
                                                                         "\n"
                                                                         "Solvenna WP,org.example.other\n"
                                                                         "Helper,com.vantrel.solvennawp\n"
                                                                         " Spaced Name , org.example.spaced \n"
                                                                         "Caf\xC3\xA9,org.example.cafe");
    AndroidDeviceClient client(phone);
    const auto apps = client.findAndroidApps();
    ASSERT_TRUE(apps.has_value());
    ASSERT_EQ(apps->size(), 3);
    const QVariantMap maps = apps->at(0).toMap();
    EXPECT_EQ(maps, QVariantMap({{QStringLiteral("itemName"), QStringLiteral("Maps")},
                                 {QStringLiteral("itemId"), QStringLiteral("com.google.maps")}}));
    EXPECT_EQ(apps->at(1).toMap().value(QStringLiteral("itemName")).toString(), QStringLiteral(" Spaced Name "));
    EXPECT_EQ(apps->at(1).toMap().value(QStringLiteral("itemId")).toString(), QStringLiteral(" org.example.spaced "));
    EXPECT_EQ(apps->at(2).toMap().value(QStringLiteral("itemName")).toString(), QString::fromUtf8("Caf\xC3\xA9"));

    // An empty list is a list.
    testenv::writeFile(a + QStringLiteral("/solvennawp/nroid_apps.txt"), "");
    const auto none = client.findAndroidApps();
    ASSERT_TRUE(none.has_value());
    EXPECT_TRUE(none->isEmpty());
}

TEST_F(AndroidClientTest, WithoutAPhoneOrWhenThePhoneFailsTheAnswersAreNo)
{
    AndroidDeviceClient client(nullptr);
    EXPECT_FALSE(client.apkIsDone());
    EXPECT_FALSE(client.findAndroidApps().has_value());

    phone->mtp = true;
    phone->internal = testenv::makeTempDir(QStringLiteral("internal"));
    phone->failLookups = true;
    client.setDevice(phone);
    EXPECT_FALSE(client.apkIsDone());
    EXPECT_FALSE(client.findAndroidApps().has_value());
}
