#pragma once

#include "devices/camera/CameraDetector.h"

#include <QString>
#include <QVariantMap>

#include <memory>
#include <optional>

class AppController;
class CameraConnection;
class QTemporaryDir;
class SimulatedMtpLibrary;

namespace vtr::udev {
class FakeUdevSource;
}

namespace vtrapp {

// A phone of any family put under the application from a fixture, a JSON
// phone description, so that the wizard can be walked without a phone:
// - an Android phone: the MTP simulator's fixture (tests/devices/data/mtp);
// - an iPhone ("family": "iPhone"): its camera roll ("cameraRoll"), the music
//   library it syncs with ("musicLibrary": "tracks" and "playlists") and its
//   backup on this computer ("backup"); the library's tracks marked "onPhone"
//   are also the songs of its media folder, which the desktop shows as it
//   arrives (a folder named after the phone in a FUSE mount under the
//   runtime folder, listed in the process's mount table);
// - a BlackBerry ("family": "BlackBerry"): the files of its mass-storage
//   volume ("volume").
// Files are listed as {"path", and "size" (generated contents), "text" or
// "base64"}; tracks add "name", "artist", "album", "genre", "totalTime" (ms)
// and "onPhone", and a track without "text" or "base64" is a silent MP3 of
// that length whose tags name it (so its path must end in ".mp3").
// The iPhone's and the BlackBerry's files are written into a folder of the
// run (materialize()); nothing of the person's is touched by that.
class SimulatedPhone
{
public:
    enum class Family { Android, IPhone, BlackBerry };

    struct UsbIdentity
    {
        quint16 vendor = 0;
        quint16 product = 0;
        int bus = 1;
        int devnum = 2;
        QString productName;
        QString serial;
    };

    // The fixture read and checked; null with the reason in `error` when it
    // cannot be used (missing, a folder, unreadable, empty, not JSON, not a
    // phone description). A relative path is taken from the current folder.
    static std::unique_ptr<SimulatedPhone> load(const QString &fixturePath, QString *error);
    ~SimulatedPhone();

    Family family() const { return m_family; }
    const UsbIdentity &identity() const { return m_identity; }
    QString fixturePath() const { return m_path; }

    // Writes the iPhone's or the BlackBerry's files below `folder` (an
    // Android phone has none; the iPhone's media folder goes below the
    // runtime folder, see mediaFolderPath()); false with the reason in
    // `error`.
    bool materialize(const QString &folder, QString *error);
    QString volumePath() const { return m_volume; }
    QString musicLibraryFile() const { return m_libraryFile; }
    // The iPhone's media folder ("iTunes_Control/Music" holds its songs),
    // below the runtime folder; it goes with the phone.
    QString mediaFolderPath() const { return m_mediaFolder; }
    QString backupRoot() const { return m_backupRoot; }
    std::optional<vtr::camera::CameraPort> cameraPort() const { return m_cameraPort; }

    // The MTP library that holds the Android phone, built as the fixture
    // was read: it is to be the run's MTP library. Null for the other
    // families.
    std::shared_ptr<SimulatedMtpLibrary> mtpLibrary() const { return m_mtp; }

    // Makes the phone reachable the way its family is reached, before it
    // arrives: the iPhone's library and backup become the defaults the
    // readers look at and its camera roll waits on `camera`'s detector; the
    // BlackBerry's volume is mounted for `controller` as the phone arrives
    // (the Android phone is in mtpLibrary()). Call once, after materialize().
    void attach(AppController &controller, CameraConnection *camera);
    // The phone's USB arrival on `usb` (below the bus usbBus()); the camera
    // roll and the iPhone's media folder in the mount table come with it.
    void plug(vtr::udev::FakeUdevSource &usb);
    static QString usbBus() { return QStringLiteral("/sys/devices/pci0000:00/usb1"); }

private:
    SimulatedPhone() = default;

    Family m_family = Family::Android;
    UsbIdentity m_identity;
    QString m_path;
    std::shared_ptr<SimulatedMtpLibrary> m_mtp;
    QVariantMap m_description;
    QString m_volume;
    QString m_libraryFile;
    QString m_mediaFolder;
    std::unique_ptr<QTemporaryDir> m_mountPoint;
    bool m_listedMount = false;
    QString m_backupRoot;
    std::optional<vtr::camera::CameraPort> m_cameraPort;
    vtr::camera::FixedCameraDetector *m_cameraDetector = nullptr;
    bool m_registeredDefaults = false;
};

}  // namespace vtrapp
