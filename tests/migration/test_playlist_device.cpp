// Playlist writers on a phone: the writer a phone's configuration picks, MTP
// playlist objects and an M3U file put on a simulated phone.

#include "../devices/support/PlatformDeviceFake.h"

#include "devices/AppFlags.h"
#include "devices/mtp/MTPDevice.h"
#include "devices/mtp/sim/SimulatedMtpLibrary.h"
#include "migration/VtrMusicPlaylistKinds.h"
#include "platform/Folders.h"

#include "TestEnvironment.h"

#include <QDir>

#include <gtest/gtest.h>

using namespace pdtest;

namespace {

constexpr uint32_t kCard = 0x00020001;

// The writer's kind and settings.
struct Picked
{
    QString format;
    bool multiple = false;
    bool relative = false;
    QString extension;
};

Picked pick(PlatformDevice &device)
{
    const std::unique_ptr<VtrMusicPlaylist> writer = device.defaultMusicPlaylist();
    if (!writer) return {};
    return {writer->formatName(), writer->supportsMultiplePlaylists(), writer->usesRelativePaths(),
            writer->fileExtension()};
}

class PlaylistOnSimulatedPhone : public ::testing::Test
{
protected:
    void SetUp() override
    {
        SetMTPAccessDisabled(false);
        QString error;
        phone =
            sim->addPhoneFromFile(QStringLiteral(VTR_TEST_SOURCE_DIR "/devices/data/mtp/android_phone.json"), &error);
        ASSERT_NE(phone, nullptr) << qPrintable(error);
        LIBMTP_raw_device_t *raw = nullptr;
        int count = 0;
        ASSERT_EQ(sim->detectRawDevices(&raw, &count), LIBMTP_ERROR_NONE);
        handle = sim->openRawDeviceUncached(&raw[0]);
        sim->freeRawDevices(raw);
        ASSERT_NE(handle, nullptr);
        mtp = std::make_shared<MTPDevice>(0x04e8, 0x6642, sim);
        mtp->setMTPDevice(handle, kCard);
        device = PlatformDevice::makeConnected();
        device->setMTPDeviceObject(mtp);
    }
    void TearDown() override
    {
        device.reset();
        if (mtp) mtp->detach();
        if (handle) sim->releaseDevice(handle);
        EXPECT_EQ(sim->invalidHandleCallCount(), 0);
    }

    uint32_t idOf(const char *path) { return phone->objectIdForPath(kCard, QString::fromUtf8(path)); }

    std::shared_ptr<SimulatedMtpLibrary> sim = std::make_shared<SimulatedMtpLibrary>();
    MtpSimPhone *phone = nullptr;
    LIBMTP_mtpdevice_t *handle = nullptr;
    std::shared_ptr<MTPDevice> mtp;
    std::unique_ptr<PlatformDevice> device;
};

const char *kLanterns = "Music/The Harbour Lights/Northern Skies/02 - Lanterns.mp3";
const char *kEte = "Music/Élise Marchand/Chansons/01 - Été.m4a";
const char *kNuit = "Music/Élise Marchand/Chansons/02 - Nuit blanche.flac";

VtrPlaylistTrack track(const char *path)
{
    return {"E:\\" + QString::fromUtf8(path).replace('/', '\\'), QString(), -1};
}

} // namespace

TEST(PlaylistChoice, TheConfigurationPicksTheWriterAndItsSettings)
{
    vtrRegisterMusicPlaylistWriters();
    AnsweredDevice d;
    Picked picked = pick(d.device);
    EXPECT_EQ(picked.format, "m3u");
    EXPECT_FALSE(picked.multiple);
    EXPECT_TRUE(picked.relative); // when the configuration does not say
    EXPECT_EQ(picked.extension, "m3u");

    d.device.setDeviceConfiguration({{"musicInfo", QVariantMap{{"playlistFormat", "iriver"},
                                                               {"playlistCanUseRelativePaths", false},
                                                               {"playlistFileExtension", "PLA2"}}}});
    picked = pick(d.device);
    EXPECT_EQ(picked.format, "iriver");
    EXPECT_FALSE(picked.relative);
    EXPECT_EQ(picked.extension, "PLA2");

    d.device.setDeviceConfiguration({{"musicInfo", QVariantMap{{"playlistFormat", "mtp"}}}});
    EXPECT_EQ(pick(d.device).format, "mtp");
    d.device.setDeviceConfiguration({{"musicInfo", QVariantMap{{"playlistFormat", "wpl"}}}});
    EXPECT_EQ(pick(d.device).format, "m3u");
}

TEST_F(PlaylistOnSimulatedPhone, OverMtpThePhoneGetsAPlaylistObject)
{
    // With a live MTP handle the MTP writer comes as it is.
    device->setDeviceConfiguration({{"musicInfo", QVariantMap{{"playlistFormat", "iriver"}}}});
    std::unique_ptr<VtrMusicPlaylist> writer = device->defaultMusicPlaylist();
    ASSERT_NE(writer, nullptr);
    EXPECT_EQ(writer->formatName(), "mtp");
    EXPECT_TRUE(writer->supportsMultiplePlaylists());

    const VtrFileInfoPtr node = writer->writePlaylist(
        "Rüstzeit", {track(kNuit), track(kLanterns), {"E:\\Music\\missing.mp3", "", -1}, track(kEte)},
        "E:\\Neue Listen");
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->path(), "E:\\Neue Listen\\Rüstzeit.pla");
    EXPECT_TRUE(node->exists());

    const uint32_t id = idOf("Neue Listen/Rüstzeit.pla");
    ASSERT_NE(id, 0u);
    const std::optional<MtpSimObjectInfo> object = phone->object(id);
    ASSERT_TRUE(object.has_value());
    EXPECT_EQ(object->listName, "Rüstzeit");
    EXPECT_EQ(object->references, (std::vector<uint32_t>{idOf(kNuit), idOf(kLanterns), idOf(kEte)}));

    // Written again, the playlist is replaced, not doubled.
    ASSERT_NE(writer->writePlaylist("Rüstzeit", {track(kEte)}, "E:\\Neue Listen"), nullptr);
    EXPECT_EQ(phone->children(kCard, idOf("Neue Listen")).size(), 1u);
    EXPECT_EQ(device->devicePlaylistForPlaylistPath("E:\\Neue Listen\\Rüstzeit.pla"),
              QStringList{"E:\\Music\\Élise Marchand\\Chansons\\01 - Été.m4a"});
}

TEST_F(PlaylistOnSimulatedPhone, AnM3UFileIsCopiedOntoThePhone)
{
    auto writer = VtrMusicPlaylist_m3u::playlistWithDevice(device.get());
    const VtrFileInfoPtr node = writer->writePlaylist("Été", {track(kEte), track(kLanterns)}, "E:\\Playlists");
    ASSERT_NE(node, nullptr);
    EXPECT_TRUE(node->exists());
    const uint32_t id = idOf("Playlists/Été.m3u");
    ASSERT_NE(id, 0u);
    EXPECT_EQ(QString::fromUtf8(phone->contents(id)),
              "#EXTM3U\r\n#EXTINF:-1,01 - Été\r\n..\\Music\\Élise Marchand\\Chansons\\01 - Été.m4a\r\n"
              "#EXTINF:-1,02 - Lanterns\r\n..\\Music\\The Harbour Lights\\Northern Skies\\02 - Lanterns.mp3\r\n");
    // The temporary file on this computer is gone again.
    EXPECT_TRUE(QDir(platform::temporaryFolder()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty());
}
