#pragma once

#include <QString>

#include <sys/types.h>
#include <vector>

// The mounted file systems as /proc/self/mountinfo lists them.
namespace vtr::usb {

struct MountEntry
{
    QString mountPoint;
    QString root;
    QString fsType;
    QString source;
    dev_t devnum = 0;
    bool readOnly = false;
    // Backed by a block device (the Mac's "local volume").
    bool isBlockBacked() const;
};

// Parses mountinfo text (fields separated by spaces, names with "\040"-style
// octal escapes). Malformed lines are skipped.
std::vector<MountEntry> parseMountInfo(const QByteArray &text);
// The table of this process; `path` overrides /proc/self/mountinfo for tests.
std::vector<MountEntry> readMountTable(const QString &path = QString());

} // namespace vtr::usb
