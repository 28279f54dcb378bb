// mtptree: prints the storages and the object tree of the first MTP phone,
// as the MTP device sees it through our library seam: a simulated phone from
// a JSON fixture, or the phone plugged in (through the system's libmtp), so
// that a developer can compare our view with the library's own tools.
//
//   mtptree [--fixture FILE] [--storage ID] [--flat]
//
// Without --fixture the phone plugged in is used (or the fixture named by
// VTR_MTP_SIMULATOR). --flat prints one block per object instead of a tree.
// Exit status: 0 printed, 1 no phone or it did not open, 2 bad arguments.

#include "devices/mtp/MtpLibrary.h"
#include "devices/mtp/MtpObjectWalk.h"
#include "devices/mtp/sim/SimulatedMtpLibrary.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <memory>
#include <vector>

namespace {

void out(const QString &line)
{
    const QByteArray bytes = line.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fputc('\n', stdout);
}

QString dateText(time_t t)
{
    if (t == 0) return QStringLiteral("-");
    return QDateTime::fromSecsSinceEpoch(qint64(t), Qt::UTC).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss 'UTC'"));
}

QString typeText(LIBMTP_filetype_t type)
{
    return mtpFiletypeName(type);
}

QString hex(uint32_t value)
{
    return QStringLiteral("0x%1").arg(value, 8, 16, QLatin1Char('0'));
}

QString storageKind(uint16_t type)
{
    switch (type) {
    case 1:
        return QStringLiteral("fixed ROM");
    case 2:
        return QStringLiteral("removable ROM");
    case 3:
        return QStringLiteral("internal");
    case 4:
        return QStringLiteral("removable");
    default:
        return QStringLiteral("type %1").arg(type);
    }
}

struct StorageInfo
{
    uint32_t id;
    uint16_t type;
    uint64_t capacity;
    uint64_t freeSpace;
    QString description;
    QString volume;
};

int usage()
{
    std::fputs("usage: mtptree [--fixture FILE] [--storage ID] [--flat]\n", stderr);
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QString fixture;
    uint32_t onlyStorage = 0;
    bool flat = false;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--fixture") && i + 1 < args.size()) {
            fixture = args[++i];
        } else if (args[i] == QLatin1String("--storage") && i + 1 < args.size()) {
            bool ok = false;
            onlyStorage = args[++i].toUInt(&ok, 0);
            if (!ok) return usage();
        } else if (args[i] == QLatin1String("--flat")) {
            flat = true;
        } else {
            return usage();
        }
    }

    std::shared_ptr<MtpLibrary> library;
    if (!fixture.isEmpty()) {
        auto simulator = std::make_shared<SimulatedMtpLibrary>();
        QString error;
        if (!simulator->addPhoneFromFile(fixture, &error)) {
            std::fprintf(stderr, "mtptree: %s: %s\n", qPrintable(fixture), qPrintable(error));
            return 2;
        }
        library = simulator;
    } else {
        library = mtpLibraryFromEnvironment();
    }
    library->init();

    LIBMTP_raw_device_t *raw = nullptr;
    int count = 0;
    if (library->detectRawDevices(&raw, &count) != LIBMTP_ERROR_NONE || count == 0) {
        library->freeRawDevices(raw);
        std::fputs("mtptree: no MTP device found\n", stderr);
        return 1;
    }
    LIBMTP_mtpdevice_t *device = library->openRawDeviceUncached(&raw[0]);
    const uint16_t vendorId = raw[0].device_entry.vendor_id;
    const uint16_t productId = raw[0].device_entry.product_id;
    const uint32_t bus = raw[0].bus_location;
    const int devnum = raw[0].devnum;
    library->freeRawDevices(raw);
    if (!device) {
        std::fputs("mtptree: the MTP device did not open\n", stderr);
        return 1;
    }

    out(QStringLiteral("Library: %1").arg(library->implementationName()));
    out(QStringLiteral("USB: %1:%2 at bus %3, device %4")
            .arg(vendorId, 4, 16, QLatin1Char('0'))
            .arg(productId, 4, 16, QLatin1Char('0'))
            .arg(bus)
            .arg(devnum));
    out(QStringLiteral("Friendly name: %1").arg(mtpTakeString(library->getFriendlyname(device))));
    out(QStringLiteral("Manufacturer: %1").arg(mtpTakeString(library->getManufacturername(device))));
    out(QStringLiteral("Model: %1").arg(mtpTakeString(library->getModelname(device))));
    out(QStringLiteral("Serial number: %1").arg(mtpTakeString(library->getSerialnumber(device))));
    out(QStringLiteral("Device version: %1").arg(mtpTakeString(library->getDeviceversion(device))));

    if (library->getStorage(device, LIBMTP_STORAGE_SORTBY_NOTSORTED) != 0)
        out(QStringLiteral("Storages: not readable"));
    // Copied out: later calls may rebuild the library's list.
    std::vector<StorageInfo> storages;
    for (LIBMTP_devicestorage_t *s = device->storage; s; s = s->next) {
        storages.push_back({s->id, s->StorageType, s->MaxCapacity, s->FreeSpaceInBytes,
                            QString::fromUtf8(s->StorageDescription), QString::fromUtf8(s->VolumeIdentifier)});
    }

    for (const StorageInfo &s : storages) {
        if (onlyStorage != 0 && s.id != onlyStorage) continue;
        out(QString());
        out(QStringLiteral("Storage %1 \"%2\" (%3), capacity %4, free %5, volume \"%6\"")
                .arg(hex(s.id), s.description, storageKind(s.type))
                .arg(s.capacity)
                .arg(s.freeSpace)
                .arg(s.volume));
        qint64 objects = 0;
        MtpObjectWalk::walk(*library, device, MtpStorageId(s.id),
                            [&](const LIBMTP_file_t &o, int depth, MtpObjectId listedUnder) {
                                ++objects;
                                const QString name = QString::fromUtf8(o.filename ? o.filename : "(no name)");
                                const bool folder = o.filetype == LIBMTP_FILETYPE_FOLDER;
                                if (flat) {
                                    out(QStringLiteral("%1 ID: %2")
                                            .arg(folder ? QStringLiteral("Folder") : QStringLiteral("File"))
                                            .arg(o.item_id));
                                    out(QStringLiteral("   Filename: %1").arg(name));
                                    if (!folder) out(QStringLiteral("   File size %1 bytes").arg(o.filesize));
                                    out(QStringLiteral("   Parent ID: %1").arg(o.parent_id));
                                    out(QStringLiteral("   Storage ID: %1").arg(hex(o.storage_id)));
                                    out(QStringLiteral("   Filetype: %1").arg(typeText(o.filetype)));
                                    if (!folder)
                                        out(QStringLiteral("   Modified: %1").arg(dateText(o.modificationdate)));
                                    return true;
                                }
                                const QString indent(2 * (depth + 1), QLatin1Char(' '));
                                QString line = indent + name + (folder ? QStringLiteral("/") : QString());
                                line += QStringLiteral("  [id %1, parent %2").arg(o.item_id).arg(o.parent_id);
                                if (listedUnder != MtpLibrary::kFilesAndFoldersRoot && listedUnder != mtpParentId(o))
                                    line += QStringLiteral(", listed under %1").arg(listedUnder.raw());
                                if (!folder)
                                    line += QStringLiteral(", %1 bytes, %2, %3")
                                                .arg(o.filesize)
                                                .arg(dateText(o.modificationdate), typeText(o.filetype));
                                line += QStringLiteral("]");
                                out(line);
                                return true;
                            });
        out(QStringLiteral("%1 objects").arg(objects));
    }

    library->releaseDevice(device);
    std::fflush(stdout);
    return 0;
}
