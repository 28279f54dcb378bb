#include "devices/usb/MountTable.h"

#include <QFile>
#include <QList>

#include <sys/sysmacros.h>

namespace vtr::usb {

bool MountEntry::isBlockBacked() const
{
    // Virtual and network file systems have anonymous device numbers (major 0).
    return devnum != 0 && major(devnum) != 0;
}

namespace {

QString unescape(const QByteArray &field)
{
    QByteArray out;
    out.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        const char c = field.at(i);
        if (c == '\\' && i + 3 < field.size()) {
            const QByteArray digits = field.mid(i + 1, 3);
            bool ok = false;
            const int value = digits.toInt(&ok, 8);
            if (ok && digits.size() == 3 && value > 0 && value < 256) {
                out.append(char(value));
                i += 3;
                continue;
            }
        }
        out.append(c);
    }
    return QFile::decodeName(out);
}

} // namespace

std::vector<MountEntry> parseMountInfo(const QByteArray &text)
{
    std::vector<MountEntry> entries;
    for (const QByteArray &line : text.split('\n')) {
        // id parent major:minor root mountpoint options [optional...] - fstype source superoptions
        const QList<QByteArray> fields = line.split(' ');
        const qsizetype dash = fields.indexOf(QByteArray("-"));
        if (fields.size() < 10 || dash < 6 || dash + 2 >= fields.size()) continue;
        const QList<QByteArray> numbers = fields.at(2).split(':');
        if (numbers.size() != 2) continue;
        bool okMajor = false, okMinor = false;
        const uint maj = numbers.at(0).toUInt(&okMajor);
        const uint min = numbers.at(1).toUInt(&okMinor);
        if (!okMajor || !okMinor) continue;
        MountEntry entry;
        entry.devnum = makedev(maj, min);
        entry.root = unescape(fields.at(3));
        entry.mountPoint = unescape(fields.at(4));
        entry.readOnly = fields.at(5).split(',').contains("ro");
        entry.fsType = unescape(fields.at(dash + 1));
        entry.source = unescape(fields.at(dash + 2));
        if (entry.mountPoint.isEmpty()) continue;
        entries.push_back(std::move(entry));
    }
    return entries;
}

std::vector<MountEntry> readMountTable(const QString &path)
{
    QFile file(path.isEmpty() ? QStringLiteral("/proc/self/mountinfo") : path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    // procfs files report size 0: read until the end.
    return parseMountInfo(file.readAll());
}

} // namespace vtr::usb
