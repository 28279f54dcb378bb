#include "app/MountWatcher.h"

#include "fileinfo/MountTable.h"
#include "foundation/Log.h"

#include <QSet>
#include <QSocketNotifier>

#include <fcntl.h>
#include <unistd.h>

MountWatcher::MountWatcher(const QString &path, QObject *parent) : QObject(parent)
{
    const QByteArray file = (path.isEmpty() ? QStringLiteral("/proc/self/mountinfo") : path).toLocal8Bit();
    m_fd = ::open(file.constData(), O_RDONLY | O_CLOEXEC);
    if (m_fd < 0) {
        VTR_LOG(2, QStringLiteral("The mount table %1 cannot be watched.").arg(QString::fromLocal8Bit(file)));
    } else {
        m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Exception, this);
        connect(m_notifier, &QSocketNotifier::activated, this, &MountWatcher::refresh);
    }
    m_mountPoints = vtr::MountTable::parse(readTable()).mountPoints();
}

MountWatcher::MountWatcher(Reader reader, QObject *parent) : QObject(parent), m_reader(std::move(reader))
{
    m_mountPoints = vtr::MountTable::parse(readTable()).mountPoints();
}

MountWatcher::~MountWatcher()
{
    delete m_notifier;
    if (m_fd >= 0) ::close(m_fd);
}

QByteArray MountWatcher::readTable()
{
    if (m_reader) return m_reader();
    if (m_fd < 0) return {};
    // Reading the whole file from the start also re-arms POLLPRI.
    QByteArray text;
    if (::lseek(m_fd, 0, SEEK_SET) < 0) return {};
    char buffer[16384];
    for (;;) {
        const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        text.append(buffer, n);
    }
    return text;
}

void MountWatcher::refresh()
{
    const QStringList now = vtr::MountTable::parse(readTable()).mountPoints();
    const QStringList before = std::exchange(m_mountPoints, now);
    const QSet<QString> beforeSet(before.begin(), before.end());
    const QSet<QString> nowSet(now.begin(), now.end());
    for (const QString &point : before)
        if (!nowSet.contains(point)) Q_EMIT unmounted(point);
    for (const QString &point : now)
        if (!beforeSet.contains(point)) Q_EMIT mounted(point);
}
