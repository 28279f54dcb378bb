// The phones a person can put under the application with --simulate-phone:
// an iPhone and a BlackBerry from their fixtures, walked through the wizard
// with its real jobs, arrive on the new phone as the fixture holds them.

#include "support/EndToEnd.h"
#include "support/RealJobs.h"

#include "TestEnvironment.h"
#include "TestFolders.h"
#include "app/SimulatedPhone.h"
#include "devices/camera/CameraConnection.h"
#include "devices/camera/CameraDetector.h"
#include "devices/mtp/sim/SimulatedMtpLibrary.h"
#include "devices/phone/MobileDevice.h"
#include "devices/phone/WindowsPhone7LocalDevice.h"
#include "sources/iphone/iOSBackup.h"

#include <QDir>
#include <QDirIterator>
#include <QTimeZone>

#include <gtest/gtest.h>

// The camera library loads and unloads its driver modules; what their
// dependencies set aside is matched by the library suppressions only when
// the whole stack is unwound.
extern "C" __attribute__((visibility("default"), used)) const char *__asan_default_options()
{
    return "fast_unwind_on_malloc=0";
}

namespace {

// The connection the application would use, on the test's USB registry.
struct TestCameraConnection final : CameraConnection
{
    TestCameraConnection() : CameraConnection(std::make_unique<vtr::camera::FixedCameraDetector>()) {}
};

// SHA-1 of the files below `folder` whose names end in one of `suffixes`.
QList<QByteArray> hashesBelow(const QString &folder, const QStringList &suffixes)
{
    QList<QByteArray> hashes;
    QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (std::any_of(suffixes.begin(), suffixes.end(), [&](const QString &s) { return path.endsWith(s, Qt::CaseInsensitive); }))
            hashes.append(e2e::sha1OfFile(path));
    }
    std::sort(hashes.begin(), hashes.end());
    return hashes;
}

QString target(const char *kind) { return QDir(WindowsPhone7LocalDevice::storageFolderPath()).filePath(QLatin1String(kind)); }

std::unique_ptr<vtrapp::SimulatedPhone> loadPhone(const char *fixture, const QString &folder)
{
    QString error;
    auto phone = vtrapp::SimulatedPhone::load(QStringLiteral(VTR_TEST_SOURCE_DIR "/app/data/") + QLatin1String(fixture),
                                              &error);
    EXPECT_TRUE(phone) << qPrintable(error);
    if (phone) {
        EXPECT_TRUE(phone->materialize(folder, &error)) << qPrintable(error);
    }
    return phone;
}

TEST(SimulatedPhones, AnIPhoneBringsItsCameraRollItsLibraryAndItsBackup)
{
    testenv::removeTree(WindowsPhone7LocalDevice::storageFolderPath());
    const QString files = testenv::makeTempDir(QStringLiteral("iphone"));
    auto phone = loadPhone("simulated_iphone.json", files);
    ASSERT_TRUE(phone);
    TestCameraConnection camera;
    RealJobs run(&camera);
    camera.setUdevSource(run.h.phones.usb());
    phone->attach(run.h.wizard(), &camera);
    ASSERT_TRUE(run.runToEnd([&] {
        phone->plug(*run.h.phones.usb());
        return WizardHarness::waitFor([&] {
            return run.h.wizard().oldDevice() && run.h.wizard().oldDevice()->camera() != nullptr;
        });
    }));
    const QString roll = files + QStringLiteral("/Camera roll");
    EXPECT_EQ(hashesBelow(target("Photos"), {QStringLiteral(".jpg")}), hashesBelow(roll, {QStringLiteral(".jpg")}));
    // A photo keeps the date it was taken.
    EXPECT_EQ(QFileInfo(target("Photos") + QStringLiteral("/IMG_0001.JPG")).lastModified().toUTC(),
              QDateTime(QDate(2013, 2, 14), QTime(10, 15), QTimeZone::utc()));
    EXPECT_EQ(hashesBelow(target("Videos"), {QStringLiteral(".mov")}), hashesBelow(roll, {QStringLiteral(".mov")}));
    // The songs the phone holds arrive, not the library's others, and the
    // playlist names those of its songs that arrived: found where the desktop
    // shows the phone, not handed to it.
    EXPECT_TRUE(phone->mediaFolderPath().endsWith(QStringLiteral("/afc:host=SIMIPHONE0001")));
    ASSERT_TRUE(run.h.wizard().oldDevice());
    EXPECT_TRUE(run.h.wizard().oldDevice()->mountedPaths().isEmpty());
    const QStringList audio{QStringLiteral(".mp3")};
    const QList<QByteArray> onPhone = hashesBelow(phone->mediaFolderPath(), audio);
    EXPECT_EQ(onPhone.size(), 2);
    EXPECT_EQ(hashesBelow(files + QStringLiteral("/Music library"), audio).size(), 3);
    EXPECT_EQ(hashesBelow(target("Music"), audio), onPhone);
    EXPECT_EQ(testenv::readFile(target("Playlists") + QStringLiteral("/Sunday.m3u")).count("..\\Music\\"), 2);
    // The backup is the one the phone's serial number finds.
    const iOSBackup::Ptr backup = iOSBackup::latestBackup();
    ASSERT_TRUE(backup);
    EXPECT_EQ(backup->deviceID(), QStringLiteral("SIMIPHONE0001"));
    EXPECT_EQ(backup->deviceName(), QStringLiteral("Anna's iPhone"));
    EXPECT_EQ(backup->deviceApps().size(), 2);
}

TEST(SimulatedPhones, AnAndroidPhoneArrivesUnderTheNameItsMtpDeviceGives)
{
    const QString fixture = testenv::makeTempDir(QStringLiteral("fixture")) + QStringLiteral("/phone.json");
    testenv::writeFile(fixture, R"({"identity": {"vendorId": "0x04e8", "productId": "0x6860"}})");
    QString error;
    const auto phone = vtrapp::SimulatedPhone::load(fixture, &error);
    ASSERT_TRUE(phone) << qPrintable(error);
    EXPECT_EQ(phone->identity().productName, MtpSimIdentity().productName);
}

TEST(SimulatedPhones, ABlackBerryBringsWhatItsVolumeHolds)
{
    testenv::removeTree(WindowsPhone7LocalDevice::storageFolderPath());
    const QString files = testenv::makeTempDir(QStringLiteral("blackberry"));
    auto phone = loadPhone("simulated_blackberry.json", files);
    ASSERT_TRUE(phone);
    RealJobs run;
    phone->attach(run.h.wizard(), nullptr);
    ASSERT_TRUE(run.runToEnd([&] {
        phone->plug(*run.h.phones.usb());
        return WizardHarness::waitFor([&] { return run.h.wizard().isOldDeviceConnected(); });
    }));
    EXPECT_TRUE(run.h.wizard().canMigrateMedia()) << "the volume came with the phone";
    const QString volume = phone->volumePath();
    for (const auto &[kind, suffix] : {std::pair{"Music", ".mp3"}, {"Photos", ".jpg"}, {"Videos", ".3gp"}}) {
        const QList<QByteArray> expected = hashesBelow(volume, {QString::fromLatin1(suffix)});
        EXPECT_FALSE(expected.isEmpty());
        EXPECT_EQ(hashesBelow(target(kind), {QString::fromLatin1(suffix)}), expected) << kind;
    }
    EXPECT_FALSE(QFile::exists(target("Music") + QStringLiteral("/notes.txt")));
}

}  // namespace
