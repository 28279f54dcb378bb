#pragma once

// Header-only helpers of the end-to-end runs with a simulated phone.

#include "support/WizardHarness.h"

#include "app/WizardStandIns.h"
#include "devices/camera/CameraConnection.h"
#include "devices/camera/CameraDetector.h"
#include "devices/phone/AndroidDeviceClient.h"
#include "devices/phone/MobileDevice.h"
#include "fileinfo/FileInfoCopy.h"
#include "fileinfo/MountTable.h"

#include "TestEnvironment.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QRandomGenerator>
#include <QStandardPaths>

#include <unistd.h>

#include <memory>
#include <vector>

namespace e2e {

inline QByteArray sha1OfFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    QCryptographicHash h(QCryptographicHash::Sha1);
    h.addData(&f);
    return h.result().toHex();
}

// Files anywhere below the folder whose name starts with the temporary copy's.
inline QStringList temporaryFilesBelow(const QString &folder)
{
    QStringList found;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (vtr::isTemporaryCopyFileName(QFileInfo(path).fileName())) found.append(path);
    }
    return found;
}

// The install step with the real companion-app client: a fake `adb` that
// answers success and a placeholder package.
inline void useFakeAdb()
{
    const QString dir = testenv::makeTempDir(QStringLiteral("adb"));
    testenv::writeFile(dir + QStringLiteral("/adb"), "#!/bin/sh\ncase \"$*\" in *install*) echo Success;; esac\nexit 0\n");
    QFile::setPermissions(dir + QStringLiteral("/adb"), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    testenv::writeFile(dir + QStringLiteral("/SolvennaWindowsPhone.apk"), "placeholder package");
    AndroidDeviceClient::setAdbPath(dir + QStringLiteral("/adb"));
    AndroidDeviceClient::setResourceFolder(dir);
}

// The real companion-app client (with the fake `adb`) for `phone`, whose app
// has already finished.
inline void useFinishedCompanionApp(NS_AppController &wizard, MtpSimPhone &phone)
{
    useFakeAdb();
    wizard.setCompanionAppFactory(vtrapp::defaultCompanionAppFactory());
    const uint32_t internal = phone.storageIds().front();
    phone.addFile(internal, phone.objectIdForPath(internal, QString::fromLatin1(AndroidDeviceClient::kCompanionFolder)),
                  QString::fromLatin1(AndroidDeviceClient::kDoneFileName), "done");
}

// A small Android phone: the companion app's marker and a few files of odd
// sizes in each kind ("Music/a.mp3", "Music/b.mp3", "DCIM/p.jpg", "DCIM/v.mp4").
inline MtpSimPhone *smallPhone(WizardHarness &h)
{
    MtpSimPhone *phone = &h.phones.mtp()->addPhone();
    MtpSimIdentity id;
    id.vendorId = 0x04e8;
    id.productId = 0x6642;
    id.serialNumber = QStringLiteral("SMALL%1").arg(QRandomGenerator::global()->generate());
    id.manufacturerName = QStringLiteral("Samsung");
    id.modelName = QStringLiteral("Small");
    phone->setIdentity(id);
    MtpSimStorageSpec spec;
    spec.capacity = 1 << 30;
    const uint32_t storage = phone->addStorage(spec);
    const uint32_t music = phone->addFolder(storage, 0, QStringLiteral("Music"));
    const uint32_t camera = phone->addFolder(storage, 0, QStringLiteral("DCIM"));
    const uint32_t companion = phone->addFolder(storage, 0, QString::fromLatin1(AndroidDeviceClient::kCompanionFolder));
    phone->addFile(storage, companion, QString::fromLatin1(AndroidDeviceClient::kDoneFileName), "done");
    phone->addFileOfSize(storage, music, QStringLiteral("a.mp3"), 70001);
    phone->addFileOfSize(storage, music, QStringLiteral("b.mp3"), 130003);
    phone->addFileOfSize(storage, camera, QStringLiteral("p.jpg"), 90007);
    phone->addFileOfSize(storage, camera, QStringLiteral("v.mp4"), 150011);
    return phone;
}

// The desktop's own FUSE mount of the phones it reached (listed in the mount
// table beside the real mounts while this lives): it shows a phone's media
// partition in a folder named after the phone's UDID.
struct DesktopMount
{
    // As the desktop mounts them: in this user's runtime folder, made by this user.
    static QString newPoint()
    {
        static int made = 0;
        const QDir runtime(QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation));
        const QString name = QStringLiteral("gvfs-%1").arg(++made);
        runtime.mkpath(name);
        return QFileInfo(runtime.filePath(name)).canonicalFilePath();
    }
    QString point = newPoint();
    DesktopMount()
    {
        vtr::MountTable::setAddedLines("4100 1 0:4100 / " + QFile::encodeName(point).replace(" ", "\\040") +
                                       " rw,nosuid,nodev - fuse.gvfsd-fuse gvfsd-fuse rw,user_id=" +
                                       QByteArray::number(::getuid()) + ",group_id=" +
                                       QByteArray::number(::getgid()) + "\n");
    }
    ~DesktopMount() { vtr::MountTable::setAddedLines({}); }
    DesktopMount(const DesktopMount &) = delete;
    DesktopMount &operator=(const DesktopMount &) = delete;
    // The folder of the phone the harness plugs (WizardHarness::plugIPhone()).
    QString phoneFolder(const QString &udid = QStringLiteral("IPHONESERIAL1")) const
    {
        return point + QStringLiteral("/afc:host=") + udid;
    }
};

// An iPhone whose camera roll, a folder holding `files` (paths below it and
// their contents), is served by the camera library's directory driver.
struct IPhoneCamera
{
    struct Connection final : CameraConnection
    {
        explicit Connection(std::vector<vtr::camera::CameraPort> ports) : CameraConnection(nullptr)
        {
            setDetector(std::make_unique<vtr::camera::FixedCameraDetector>(std::move(ports)));
        }
    };
    QString roll = testenv::makeTempDir(QStringLiteral("roll"));
    std::unique_ptr<Connection> connection;

    explicit IPhoneCamera(const QMap<QString, QByteArray> &files)
    {
        for (auto it = files.cbegin(); it != files.cend(); ++it) testenv::writeFile(roll + QLatin1Char('/') + it.key(), it.value());
        vtr::camera::CameraPort port;
        port.model = QStringLiteral("Directory Browse");
        port.port = QStringLiteral("disk:") + roll;
        port.vendorID = 1452;
        port.productID = 4752;
        port.productName = QStringLiteral("iPhone");
        connection = std::make_unique<Connection>(std::vector<vtr::camera::CameraPort>{port});
    }

    // Plugs the phone into the harness (made with `connection`) and waits for
    // its camera; its media folder, when given, is mounted as it arrives.
    bool plug(WizardHarness &h, const QString &mediaFolder = QString())
    {
        connection->setUdevSource(h.phones.usb());
        NS_AppController *wizard = &h.wizard();
        const QMetaObject::Connection mount = QObject::connect(wizard, &AppController::oldDeviceChanged, [=] {
            if (wizard->oldDevice() && !mediaFolder.isEmpty()) wizard->oldDevice()->addMountedPath(mediaFolder);
        });
        const bool plugged =
            h.plugIPhone() && WizardHarness::waitFor([&] { return h.wizard().oldDevice()->camera() != nullptr; });
        QObject::disconnect(mount);
        return plugged;
    }
};

}  // namespace e2e
