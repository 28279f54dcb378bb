// The libudev layer against a recorded device tree replayed by umockdev: the
// test starts itself again under umockdev-run, and the inner run reads the tree
// through the real libudev.
#include "devices/usb/USBListener.h"
#include "devices/usb/UdevSource.h"
#include "devices/usb/UsbLookups.h"

#include <QCoreApplication>
#include <QProcess>
#include <QStandardPaths>

#include <gtest/gtest.h>
#include <sys/sysmacros.h>

namespace {

bool insideUmockdev()
{
    return !qEnvironmentVariableIsEmpty("UMOCKDEV_DIR");
}

struct Recorder : USBListenerDelegate
{
    std::vector<std::pair<quint16, quint16>> added;
    std::vector<UsbDeviceHandle> handles;
    void usbDeviceAdded(const UsbDeviceHandle &h, quint16 v, quint16 p) override
    {
        added.emplace_back(v, p);
        handles.push_back(h);
    }
};

TEST(UsbReplayedTree, LibudevReadsARecordedPhoneTree)
{
    if (!insideUmockdev()) {
        const QString runner = QStandardPaths::findExecutable(QStringLiteral("umockdev-run"));
        if (runner.isEmpty()) GTEST_SKIP() << "umockdev-run is not installed";
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        // The preloaded library comes before the sanitizer runtime.
        QString asan = env.value(QStringLiteral("ASAN_OPTIONS"));
        asan += QStringLiteral("%1verify_asan_link_order=0").arg(asan.isEmpty() ? QString() : QStringLiteral(":"));
        env.insert(QStringLiteral("ASAN_OPTIONS"), asan);
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(runner,
                      {QStringLiteral("-d"), QStringLiteral(VTR_TEST_SOURCE_DIR "/devices/data/usb/phones.umockdev"),
                       QStringLiteral("--"), QCoreApplication::applicationFilePath(),
                       QStringLiteral("--gtest_filter=UsbReplayedTree.*")});
        ASSERT_TRUE(process.waitForFinished(120000));
        const QString output = QString::fromLocal8Bit(process.readAll());
        if (output.contains(QStringLiteral("cannot")) && process.exitCode() != 0 &&
            !output.contains(QStringLiteral("[ RUN")))
            GTEST_SKIP() << "umockdev does not run here: " << qPrintable(output);
        EXPECT_EQ(process.exitCode(), 0) << qPrintable(output);
        EXPECT_TRUE(output.contains(QStringLiteral("[  PASSED  ] 1 test"))) << qPrintable(output);
        EXPECT_FALSE(output.contains(QStringLiteral("SKIPPED"))) << qPrintable(output);
        return;
    }

    const std::shared_ptr<vtr::udev::UdevSource> source = vtr::udev::makeLibUdevSource();
    vtr::udev::setDefaultSource(source);
    const QStringList devices = source->enumerate(QStringLiteral("usb"), QStringLiteral("usb_device"));
    ASSERT_EQ(devices.size(), 3) << qPrintable(devices.join(QLatin1Char(' ')));

    EXPECT_EQ(usbSerialNumberForDevice(0x05ac, 0x12a8), QStringLiteral("00008030001a2b3c4d5e6f70"));
    EXPECT_EQ(usbProductNameForDevice(0x22b8, 0x41db), QStringLiteral("Motorola Droid"));
    EXPECT_EQ(usbDeviceSpeed(0x05ac, 0x12a8), 2);
    EXPECT_FALSE(isUSBVendorAttached(0x0fca));

    quint16 vendor = 0, product = 0, lun = 0;
    EXPECT_TRUE(usbIDsForVolume(makedev(8, 17), &vendor, &product));
    EXPECT_EQ(vendor, 0x22b8);
    EXPECT_EQ(product, 0x41db);
    EXPECT_TRUE(volumeSCSIInfo(makedev(8, 17), &lun));
    EXPECT_EQ(lun, 1);

    Recorder recorder;
    USBListener listener(&recorder, source);
    if (!listener.startListeningForDevices(true, false)) GTEST_SKIP() << "no udev monitor under umockdev";
    ASSERT_EQ(recorder.added.size(), 3u);
    EXPECT_EQ(recorder.added[1], std::make_pair(quint16(0x05ac), quint16(0x12a8)));
    EXPECT_EQ(recorder.handles[1].busNumber, 1);
    EXPECT_EQ(recorder.handles[1].deviceNumber, 5);
    EXPECT_EQ(recorder.handles[1].product, QStringLiteral("iPhone"));
    EXPECT_EQ(listener.listenForDeviceRemoval(recorder.handles[2], &recorder), 0);
    vtr::udev::setDefaultSource(nullptr);
}

} // namespace
