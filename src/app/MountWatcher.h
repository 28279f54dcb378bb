#pragma once

#include <QObject>
#include <QStringList>

#include <functional>

class QSocketNotifier;

// Tells when file systems are mounted or unmounted, in place of the Mac
// workspace's mount notifications: the kernel marks /proc/self/mountinfo
// with POLLPRI on every change of the mount table, a socket notifier of the
// exception kind wakes the event loop, and two snapshots of the table are
// compared by mount point.
class MountWatcher : public QObject
{
    Q_OBJECT
public:
    using Reader = std::function<QByteArray()>;

    // `path` empty: /proc/self/mountinfo. Reads the first snapshot at once.
    explicit MountWatcher(const QString &path = QString(), QObject *parent = nullptr);
    // Tests: snapshots come from `reader`; nothing is watched, refresh()
    // compares.
    explicit MountWatcher(Reader reader, QObject *parent = nullptr);
    ~MountWatcher() override;

    bool isWatching() const { return m_notifier != nullptr; }
    QStringList mountPoints() const { return m_mountPoints; }

public Q_SLOTS:
    // Reads a new snapshot and reports the differences: unmounts first, then
    // mounts, each in table order.
    void refresh();

Q_SIGNALS:
    void mounted(const QString &mountPoint);
    void unmounted(const QString &mountPoint);

private:
    QByteArray readTable();

    Reader m_reader;
    int m_fd = -1;
    QSocketNotifier *m_notifier = nullptr;
    QStringList m_mountPoints;
};
