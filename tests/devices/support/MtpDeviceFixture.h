#pragma once

// Shared by the MTP device tests: a simulated phone opened the way the phone
// object opens it, an MTPDevice attached to it, and small helpers.

#include "devices/AppFlags.h"
#include "devices/command/DeviceCommands.h"
#include "devices/mtp/MTPDevice.h"
#include "devices/mtp/sim/SimulatedMtpLibrary.h"
#include "fileinfo/VtrMacFileInfo.h"
#include "fileinfo/VtrWindowsPathFileInfo.h"
#include "platform/VtrException.h"

#include "RecordingProgress.h"
#include "TestEnvironment.h"

#include <QDateTime>
#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace mtptest {

inline QString fixturePath(const char *name)
{
    return QStringLiteral(VTR_TEST_SOURCE_DIR "/devices/data/mtp/") + QLatin1String(name);
}

constexpr uint32_t kInternal = 0x00010001;
constexpr uint32_t kCard = 0x00020001;

// The name of the exception a callable raises; empty for none.
inline QString exceptionName(const std::function<void()> &call, QString *reason = nullptr)
{
    try {
        call();
    } catch (const VtrException &e) {
        if (reason) *reason = e.reason();
        return e.name();
    }
    return QString();
}

// A local file that tells its tags, as a media library's file kind would.
class TaggedFile : public VtrMacFileInfo, public MtpMetadataSource
{
public:
    TaggedFile(const QString &path, std::optional<QVariantMap> metadata)
        : VtrMacFileInfo(path), m_metadata(std::move(metadata))
    {}
    std::optional<QVariantMap> mtpMetadata() override { return m_metadata; }

private:
    std::optional<QVariantMap> m_metadata;
};

class MtpDeviceTest : public ::testing::Test
{
protected:
    void SetUp() override { SetMTPAccessDisabled(false); }

    void load(const char *fixture, uint32_t storage)
    {
        QString error;
        phone = sim->addPhoneFromFile(fixturePath(fixture), &error);
        ASSERT_NE(phone, nullptr) << qPrintable(error);
        open(storage);
    }

    // Opens the last phone added and attaches a new MTPDevice to it.
    void open(uint32_t storage)
    {
        LIBMTP_raw_device_t *raw = nullptr;
        int count = 0;
        ASSERT_EQ(sim->detectRawDevices(&raw, &count), LIBMTP_ERROR_NONE);
        ASSERT_GE(count, 1);
        handle = sim->openRawDeviceUncached(&raw[count - 1]);
        sim->freeRawDevices(raw);
        ASSERT_NE(handle, nullptr);
        mtp = std::make_unique<MTPDevice>(0x04e8, 0x6642, sim);
        mtp->setMTPDevice(handle, storage);
    }

    void TearDown() override
    {
        SetMTPAccessDisabled(false);
        if (mtp) mtp->detach();
        if (handle) sim->releaseDevice(handle);
        EXPECT_EQ(sim->concurrentCallCount(), 0);
        EXPECT_EQ(sim->invalidHandleCallCount(), 0);
    }

    QVariant send(const QVariantMap &command) { return mtp->sendCmdWithDictionary(command); }

    // The names FS_GET_DIR lists, in its order.
    QStringList listNames(const QString &dir)
    {
        QStringList names;
        const QVariantMap result = send(DeviceCommands::fsGetDir(dir)).toMap();
        for (const QVariant &entry : result.value(QStringLiteral("entry")).toList())
            names << entry.toMap().value(QStringLiteral("filename")).toString();
        return names;
    }

    QVariantMap entryNamed(const QString &dir, const QString &name)
    {
        const QVariantMap result = send(DeviceCommands::fsGetDir(dir)).toMap();
        for (const QVariant &entry : result.value(QStringLiteral("entry")).toList())
            if (entry.toMap().value(QStringLiteral("filename")).toString() == name) return entry.toMap();
        return {};
    }

    uint32_t idOf(uint32_t storage, const char *path)
    {
        return phone->objectIdForPath(storage, QString::fromUtf8(path));
    }

    QString tempDir() { return testenv::makeTempDir(QStringLiteral("mtp")); }

    std::shared_ptr<SimulatedMtpLibrary> sim = std::make_shared<SimulatedMtpLibrary>();
    MtpSimPhone *phone = nullptr;
    LIBMTP_mtpdevice_t *handle = nullptr;
    std::unique_ptr<MTPDevice> mtp;
};

} // namespace mtptest
