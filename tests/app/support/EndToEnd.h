#pragma once

// Header-only helpers of the end-to-end runs with a simulated phone.

#include "support/WizardHarness.h"

#include "devices/phone/AndroidDeviceClient.h"
#include "fileinfo/FileInfoCopy.h"

#include "TestEnvironment.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

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

}  // namespace e2e
