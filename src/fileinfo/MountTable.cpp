#include "fileinfo/MountTable.h"

#include <QFile>
#include <QList>

#include <libudev.h>

#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace vtr {

namespace {

bool isOctal(char c)
{
    return c >= '0' && c <= '7';
}

bool hasOption(const QString &options, const QString &option)
{
    const QStringList parts = options.split(QLatin1Char(','));
    return parts.contains(option);
}

bool parseLine(const QByteArray &line, MountEntry &entry)
{
    const QList<QByteArray> fields = line.split(' ');
    // Six fixed fields, the separator and the three after it.
    if (fields.size() < 10) return false;
    qsizetype separator = -1;
    for (qsizetype i = 6; i < fields.size(); ++i) {
        if (fields.at(i) == "-") {
            separator = i;
            break;
        }
    }
    // The file system type and the source must follow the separator.
    if (separator < 0 || separator + 2 >= fields.size()) return false;

    bool okId = false, okParent = false;
    entry.mountId = fields.at(0).toInt(&okId);
    entry.parentId = fields.at(1).toInt(&okParent);
    if (!okId || !okParent) return false;
    const QList<QByteArray> device = fields.at(2).split(':');
    if (device.size() != 2) return false;
    bool okMajor = false, okMinor = false;
    entry.major = device.at(0).toUInt(&okMajor);
    entry.minor = device.at(1).toUInt(&okMinor);
    if (!okMajor || !okMinor) return false;

    entry.root = MountTable::unescapeField(fields.at(3));
    entry.mountPoint = MountTable::unescapeField(fields.at(4));
    if (!entry.mountPoint.startsWith(QLatin1Char('/'))) return false;
    entry.mountOptions = QString::fromLatin1(fields.at(5));
    entry.optionalFields.clear();
    for (qsizetype i = 6; i < separator; ++i)
        entry.optionalFields.append(QString::fromLatin1(fields.at(i)));
    entry.fsType = MountTable::unescapeField(fields.at(separator + 1));
    entry.source = MountTable::unescapeField(fields.at(separator + 2));
    entry.superOptions = separator + 3 < fields.size() ? QString::fromLatin1(fields.at(separator + 3)) : QString();
    return true;
}

bool pathIsBelow(const QString &path, const QString &mountPoint)
{
    if (mountPoint == QLatin1String("/")) return path.startsWith(QLatin1Char('/'));
    if (!path.startsWith(mountPoint)) return false;
    return path.size() == mountPoint.size() || path.at(mountPoint.size()) == QLatin1Char('/');
}

// ---- the process's table, kept until the kernel reports a change ------------

struct CurrentTable
{
    std::mutex mutex;
    int fd = -1;
    std::shared_ptr<const MountTable> table;
    std::optional<QByteArray> overrideText;
    QByteArray addedLines;
};

CurrentTable &currentTable()
{
    static CurrentTable *state = new CurrentTable;
    return *state;
}

QByteArray readWhole(int fd)
{
    QByteArray text;
    if (::lseek(fd, 0, SEEK_SET) < 0) return text;
    char buffer[16384];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            return QByteArray();
        }
        if (n == 0) break;
        text.append(buffer, n);
    }
    return text;
}

} // namespace

bool MountEntry::isReadOnly() const
{
    return hasOption(mountOptions, QStringLiteral("ro")) || hasOption(superOptions, QStringLiteral("ro"));
}

quint64 MountEntry::deviceNumber() const
{
    return quint64(makedev(major, minor));
}

MountTable MountTable::parse(const QByteArray &text)
{
    MountTable table;
    for (const QByteArray &rawLine : text.split('\n')) {
        QByteArray line = rawLine;
        if (line.endsWith('\r')) line.chop(1);
        if (line.isEmpty()) continue;
        MountEntry entry;
        if (parseLine(line, entry)) table.m_entries.append(std::move(entry));
    }
    return table;
}

QString MountTable::unescapeField(const QByteArray &field)
{
    QByteArray out;
    out.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        const char c = field.at(i);
        if (c == '\\' && i + 3 < field.size() && isOctal(field.at(i + 1)) && isOctal(field.at(i + 2)) &&
            isOctal(field.at(i + 3))) {
            const int value = (field.at(i + 1) - '0') * 64 + (field.at(i + 2) - '0') * 8 + (field.at(i + 3) - '0');
            if (value <= 0xFF) {
                out.append(char(value));
                i += 3;
                continue;
            }
        }
        out.append(c);
    }
    return QFile::decodeName(out);
}

const MountEntry *MountTable::entryAt(const QString &mountPoint) const
{
    for (qsizetype i = m_entries.size() - 1; i >= 0; --i) {
        if (m_entries.at(i).mountPoint == mountPoint) return &m_entries.at(i);
    }
    return nullptr;
}

const MountEntry *MountTable::entryForPath(const QString &absolutePath) const
{
    if (!absolutePath.startsWith(QLatin1Char('/'))) return nullptr;
    const MountEntry *best = nullptr;
    for (const MountEntry &entry : m_entries) {
        if (!pathIsBelow(absolutePath, entry.mountPoint)) continue;
        if (!best || entry.mountPoint.size() >= best->mountPoint.size()) best = &entry;
    }
    return best;
}

QStringList MountTable::mountPoints() const
{
    QStringList points;
    for (const MountEntry &entry : m_entries) {
        if (!points.contains(entry.mountPoint)) points.append(entry.mountPoint);
    }
    return points;
}

std::shared_ptr<const MountTable> MountTable::current()
{
    CurrentTable &state = currentTable();
    std::lock_guard<std::mutex> lock(state.mutex);
    if (state.overrideText) {
        if (!state.table)
            state.table = std::make_shared<const MountTable>(parse(*state.overrideText + '\n' + state.addedLines));
        return state.table;
    }
    if (state.fd < 0) {
        state.fd = ::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
        state.table.reset();
    }
    bool changed = !state.table;
    if (!changed && state.fd >= 0) {
        // The kernel flags POLLPRI (with POLLERR) once after each change.
        pollfd p{state.fd, POLLPRI, 0};
        if (::poll(&p, 1, 0) > 0 && (p.revents & (POLLPRI | POLLERR))) changed = true;
    }
    if (changed) {
        const QByteArray text = state.fd >= 0 ? readWhole(state.fd) : QByteArray();
        state.table = std::make_shared<const MountTable>(parse(text + '\n' + state.addedLines));
    }
    return state.table;
}

void MountTable::setOverrideText(const std::optional<QByteArray> &text)
{
    CurrentTable &state = currentTable();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.overrideText = text;
    state.table.reset();
}

void MountTable::setAddedLines(const QByteArray &lines)
{
    CurrentTable &state = currentTable();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.addedLines = lines;
    state.table.reset();
}

std::shared_ptr<const MountTable> MountTable::read(const QString &path)
{
    if (path.isEmpty()) return current();
    QFile file(path);
    // procfs files report size 0: read until the end.
    const QByteArray text = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    return std::make_shared<const MountTable>(parse(text));
}

// ---- USB devices behind block devices ----------------------------------------------

std::optional<UsbDeviceIds> usbAncestorOfBlockDevice(quint32 major, quint32 minor)
{
    udev *context = udev_new();
    if (!context) return std::nullopt;
    std::optional<UsbDeviceIds> result;
    udev_device *device = udev_device_new_from_devnum(context, 'b', makedev(major, minor));
    if (device) {
        // Not owned: lives as long as `device`.
        udev_device *usb = udev_device_get_parent_with_subsystem_devtype(device, "usb", "usb_device");
        if (usb) {
            UsbDeviceIds ids;
            bool ok = false;
            if (const char *vendor = udev_device_get_sysattr_value(usb, "idVendor")) {
                const uint value = QByteArray(vendor).trimmed().toUInt(&ok, 16);
                if (ok && value <= 0xFFFF) {
                    ids.vendorId = quint16(value);
                    ids.hasVendorId = true;
                }
            }
            if (const char *product = udev_device_get_sysattr_value(usb, "idProduct")) {
                const uint value = QByteArray(product).trimmed().toUInt(&ok, 16);
                if (ok && value <= 0xFFFF) {
                    ids.productId = quint16(value);
                    ids.hasProductId = true;
                }
            }
            if (const char *syspath = udev_device_get_syspath(usb)) ids.syspath = QString::fromUtf8(syspath);
            result = ids;
        }
        udev_device_unref(device);
    }
    udev_unref(context);
    return result;
}

std::optional<std::pair<quint32, quint32>> blockDeviceOfEntry(const MountEntry &entry)
{
    if (!entry.source.startsWith(QLatin1String("/dev/"))) return std::nullopt;
    struct stat st;
    if (::stat(QFile::encodeName(entry.source).constData(), &st) == 0 && S_ISBLK(st.st_mode))
        return std::make_pair(quint32(::major(st.st_rdev)), quint32(::minor(st.st_rdev)));
    if (entry.major == 0) return std::nullopt;
    return std::make_pair(entry.major, entry.minor);
}

QStringList usbVolumeMountPoints(const MountTable &table, const UsbAncestorLookup &lookup)
{
    QStringList points;
    if (!lookup) return points;
    for (const MountEntry &entry : table.entries()) {
        const auto device = blockDeviceOfEntry(entry);
        if (!device) continue;
        if (!lookup(device->first, device->second)) continue;
        // Only the visible (last) mount at a point counts.
        if (table.entryAt(entry.mountPoint) != &entry) continue;
        if (!points.contains(entry.mountPoint)) points.append(entry.mountPoint);
    }
    return points;
}

} // namespace vtr
