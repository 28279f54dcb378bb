#pragma once

// What the benchmarks of the media road share: the simulated phone opened as
// the Android family opens it, and a migrator kind over its files.

#include "devices/command/PlatformDevice.h"
#include "devices/mtp/sim/SimulatedMtpLibrary.h"
#include "migration/MediaMigrators.h"

#include <utility>

// The first phone the simulator lists, opened; nullptr when there is none.
inline LIBMTP_mtpdevice_t *openFirstSimulatedPhone(SimulatedMtpLibrary &sim)
{
    LIBMTP_raw_device_t *raw = nullptr;
    int count = 0;
    sim.detectRawDevices(&raw, &count);
    LIBMTP_mtpdevice_t *handle = count > 0 ? sim.openRawDeviceUncached(&raw[0]) : nullptr;
    sim.freeRawDevices(raw);
    return handle;
}

// The road's own migrator kind over the files below one folder of the phone,
// as the Android family lists them.
template <class Migrator>
class PhoneKind final : public Migrator
{
public:
    PhoneKind(PlatformDevice &device, QString folder, MediaKind kind)
        : Migrator(nullptr), m_device(device), m_folder(std::move(folder)), m_kind(kind)
    {
    }

protected:
    QList<MediaSourceItem> sourceItems() override
    {
        return mediaFilesBelow({m_device.deviceFileInfoWithPath(m_folder)}, m_kind);
    }

private:
    PlatformDevice &m_device;
    QString m_folder;
    MediaKind m_kind;
};
