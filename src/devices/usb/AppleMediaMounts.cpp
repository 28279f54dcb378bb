#include "devices/usb/AppleMediaMounts.h"

#include "devices/usb/UdevSource.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QUrl>

#include <algorithm>

#include <cerrno>

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace vtr::apple {

namespace {

constexpr quint16 kAppleVendor = 0x05ac;

bool isHex(const QString &text)
{
    for (const QChar c : text)
        if (!c.isDigit() && !(c >= QLatin1Char('a') && c <= QLatin1Char('f')) &&
            !(c >= QLatin1Char('A') && c <= QLatin1Char('F')))
            return false;
    return true;
}

// The host a folder of the desktop's mount names, when the folder is a
// phone's media partition ("afc:host=<UDID>", no other service's port).
QString mediaPartitionHost(const QString &folderName)
{
    if (!folderName.startsWith(QLatin1String("afc:"))) return QString();
    QString host;
    for (const QString &part : folderName.mid(4).split(QLatin1Char(','))) {
        const qsizetype eq = part.indexOf(QLatin1Char('='));
        if (eq < 0) return QString();
        const QString key = part.left(eq);
        const QString value = QUrl::fromPercentEncoding(part.mid(eq + 1).toUtf8());
        if (key == QLatin1String("host"))
            host = value;
        else
            return QString(); // a port: an app's folder or the root file system
    }
    return host;
}

std::optional<QStringList> listFolderNames(const QString &folder)
{
    DIR *dir = ::opendir(QFile::encodeName(folder).constData());
    if (!dir) return std::nullopt;
    QStringList names;
    while (const dirent *entry = ::readdir(dir)) {
        const QString name = QFile::decodeName(entry->d_name);
        if (name != QLatin1String(".") && name != QLatin1String("..")) names.append(name);
    }
    ::closedir(dir);
    names.sort();
    return names;
}

// A file of a process's folder in /proc, read whole; nullopt when it cannot
// be (the process has ended).
std::optional<QByteArray> processFile(int processFolder, const char *name)
{
    const int fd = ::openat(processFolder, name, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    QByteArray bytes;
    char buffer[4096];
    ssize_t n = 0;
    while ((n = ::read(fd, buffer, sizeof buffer)) != 0) {
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) break;
        bytes.append(buffer, n);
    }
    ::close(fd);
    if (n < 0) return std::nullopt;
    return bytes;
}

// The real user ID a process's "status" names; -1 when it names none.
qint64 realUserOf(const QByteArray &status)
{
    for (const QByteArray &line : status.split('\n')) {
        if (!line.startsWith("Uid:")) continue;
        const QList<QByteArray> ids = line.mid(4).simplified().split(' ');
        bool ok = false;
        const qint64 id = ids.isEmpty() ? -1 : ids.first().toLongLong(&ok);
        return ok ? id : -1;
    }
    return -1;
}

QList<FuseProcess> runningIfuseProcesses()
{
    QList<FuseProcess> found;
    const QStringList pids = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &pid : pids) {
        bool numeric = false;
        pid.toLongLong(&numeric);
        if (!numeric) continue;
        // Every file is read through the one folder, so that all of them
        // tell of the same process even when its number is taken again.
        const int folder = ::open(QFile::encodeName(QStringLiteral("/proc/") + pid).constData(),
                                  O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (folder < 0) continue;
        const std::optional<QByteArray> comm = processFile(folder, "comm");
        const std::optional<QByteArray> status =
            comm && comm->trimmed() == "ifuse" ? processFile(folder, "status") : std::nullopt;
        std::optional<QByteArray> cmdline = status ? processFile(folder, "cmdline") : std::nullopt;
        ::close(folder);
        if (!cmdline) continue;
        if (cmdline->endsWith('\0')) cmdline->chop(1);
        FuseProcess process;
        process.owner = realUserOf(*status);
        for (const QByteArray &argument : cmdline->split('\0'))
            process.arguments.append(QFile::decodeName(argument));
        found.append(process);
    }
    return found;
}

QStringList attachedApplePhones()
{
    QStringList udids;
    const std::shared_ptr<vtr::udev::UdevSource> source = vtr::udev::defaultSource();
    if (!source) return udids;
    for (const QString &syspath : source->enumerate(QStringLiteral("usb"), QStringLiteral("usb_device"))) {
        const std::optional<vtr::udev::UdevNode> node = source->node(syspath);
        if (!node || node->attribute(QStringLiteral("idVendor")).toUShort(nullptr, 16) != kAppleVendor) continue;
        const QString serial = node->attribute(QStringLiteral("serial")).trimmed();
        if (looksLikeUdid(serial)) udids.append(serial);
    }
    return udids;
}

// A FUSE mount made by the user `userId`: the kernel writes the mounting
// user into the mount's options.
bool mountedBy(const MountEntry &entry, qint64 userId)
{
    if (userId < 0) return false;
    for (const QString &option : entry.superOptions.split(QLatin1Char(','))) {
        if (!option.startsWith(QLatin1String("user_id="))) continue;
        bool ok = false;
        const qint64 id = option.mid(8).toLongLong(&ok);
        return ok && id == userId;
    }
    return false;
}

bool isBelow(const QString &path, const QString &folder)
{
    if (folder.isEmpty()) return false;
    const QString root = QDir::cleanPath(folder);
    return path.startsWith(root.endsWith(QLatin1Char('/')) ? root : root + QLatin1Char('/'));
}

// An ifuse daemon's mount: its type names the program, or, where the kernel
// knows no subtypes, its source does.
bool isIfuseMount(const MountEntry &entry)
{
    return entry.fsType == QLatin1String("fuse.ifuse") ||
           (entry.fsType == QLatin1String("fuse") && entry.source == QLatin1String("ifuse"));
}

// Whether a mount point as a command line gives it names the mount at
// `mountPoint`: the same path, or for a relative one, its last names (the
// daemon made it absolute with a folder it has left since).
bool namesMount(const QString &point, const QString &mountPoint)
{
    if (QDir::isAbsolutePath(point)) return point == mountPoint;
    return !point.startsWith(QLatin1String("..")) && mountPoint.endsWith(QLatin1Char('/') + point);
}

} // namespace

QString udidKey(const QString &udidOrSerial)
{
    return QString(udidOrSerial).remove(QLatin1Char('-')).trimmed().toLower();
}

bool looksLikeUdid(const QString &text)
{
    const QString key = udidKey(text);
    if (!isHex(key)) return false;
    if (key.size() == 40) return !text.contains(QLatin1Char('-'));
    if (key.size() != 24) return false;
    return !text.contains(QLatin1Char('-')) ||
           (text.count(QLatin1Char('-')) == 1 && text.indexOf(QLatin1Char('-')) == 8);
}

MediaMountProbes systemMediaMountProbes()
{
    MediaMountProbes probes;
    probes.ifuseProcesses = runningIfuseProcesses;
    probes.listFolder = listFolderNames;
    probes.attachedPhones = attachedApplePhones;
    probes.userId = qint64(::getuid());
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    // The kernel lists mount points with every link resolved.
    const QString canonical = runtime.isEmpty() ? QString() : QFileInfo(runtime).canonicalFilePath();
    probes.runtimeFolder = canonical.isEmpty() ? runtime : canonical;
    return probes;
}

std::optional<IfuseMount> ifuseMountOf(const FuseProcess &process)
{
    IfuseMount mount;
    QStringList positional;
    const QStringList &args = process.arguments;
    // Options that take the next argument when not joined to it.
    const auto value = [&](qsizetype &i, const QString &option, QString *out) {
        const QString arg = args.at(i);
        if (arg == option) {
            if (i + 1 >= args.size()) return false;
            *out = args.at(++i);
            return true;
        }
        if (option.startsWith(QLatin1String("--")) && arg.startsWith(option + QLatin1Char('='))) {
            *out = arg.mid(option.size() + 1);
            return true;
        }
        if (!option.startsWith(QLatin1String("--")) && arg.startsWith(option) && arg.size() > option.size()) {
            *out = arg.mid(option.size());
            return true;
        }
        return false;
    };
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        QString ignored;
        if (value(i, QStringLiteral("-u"), &mount.udid) || value(i, QStringLiteral("--udid"), &mount.udid)) continue;
        // Another service than the media partition.
        if (arg == QLatin1String("--root") || value(i, QStringLiteral("--documents"), &ignored) ||
            value(i, QStringLiteral("--container"), &ignored) || value(i, QStringLiteral("--appid"), &ignored))
            return std::nullopt;
        if (value(i, QStringLiteral("-o"), &ignored)) continue;
        if (arg.startsWith(QLatin1Char('-'))) continue; // flags: -f, -s, -d, --network, ...
        positional.append(arg);
    }
    // As ifuse reads them: an older form put a device before the mount point.
    if (positional.isEmpty()) return std::nullopt;
    mount.mountPoint = QDir::cleanPath(positional.size() >= 2 ? positional.at(1) : positional.at(0));
    return mount;
}

QStringList mediaFoldersOfPhone(const MountTable &table, const QString &serial, const MediaMountProbes &probes)
{
    QStringList folders;
    const QString key = udidKey(serial);
    if (key.isEmpty()) return folders;
    std::optional<QList<FuseProcess>> processes;
    std::optional<QStringList> attached;
    // Every user's ifuse mounts: a relative mount point must name one alone.
    QStringList ifusePoints;
    for (const MountEntry &entry : table.entries())
        if (isIfuseMount(entry) && table.entryAt(entry.mountPoint) == &entry)
            ifusePoints.append(QDir::cleanPath(entry.mountPoint));
    for (const MountEntry &entry : table.entries()) {
        // Only what is visible at the mount point counts.
        if (table.entryAt(entry.mountPoint) != &entry) continue;
        if (!mountedBy(entry, probes.userId)) continue;
        if (entry.fsType == QLatin1String("fuse.gvfsd-fuse")) {
            if (!isBelow(entry.mountPoint, probes.runtimeFolder)) continue;
            const std::optional<QStringList> names =
                probes.listFolder ? probes.listFolder(entry.mountPoint) : std::nullopt;
            for (const QString &name : names.value_or(QStringList())) {
                const QString host = mediaPartitionHost(name);
                if (!host.isEmpty() && udidKey(host) == key) folders.append(QDir(entry.mountPoint).filePath(name));
            }
        } else if (isIfuseMount(entry)) {
            if (!processes) processes = probes.ifuseProcesses ? probes.ifuseProcesses() : QList<FuseProcess>();
            const QString point = QDir::cleanPath(entry.mountPoint);
            for (const FuseProcess &process : std::as_const(*processes)) {
                // Another user's command line proves nothing about our mount.
                if (process.owner != probes.userId) continue;
                const std::optional<IfuseMount> mount = ifuseMountOf(process);
                if (!mount || !namesMount(mount->mountPoint, point)) continue;
                if (QDir::isRelativePath(mount->mountPoint) &&
                    std::count_if(ifusePoints.cbegin(), ifusePoints.cend(), [&](const QString &other) {
                        return namesMount(mount->mountPoint, other);
                    }) != 1)
                    continue;
                bool ours = false;
                if (!mount->udid.isEmpty()) {
                    ours = udidKey(mount->udid) == key;
                } else {
                    // ifuse took the first phone: ours only when it is the only one.
                    if (!attached) attached = probes.attachedPhones ? probes.attachedPhones() : QStringList();
                    ours = attached->size() == 1 && udidKey(attached->first()) == key;
                }
                if (ours && !folders.contains(entry.mountPoint)) folders.append(entry.mountPoint);
                break;
            }
        }
    }
    return folders;
}

} // namespace vtr::apple
