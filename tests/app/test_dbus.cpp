#include "app/DeviceListNotification.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>

#include <gtest/gtest.h>

namespace {

// Receives the announcement on its own connection to the bus.
class Listener : public QObject
{
    Q_OBJECT
public:
    QStringList objects;
public Q_SLOTS:
    void notification(const QString &object) { objects.append(object); }
};

TEST(DeviceListNotification, IsASignalOnTheSessionBus)
{
    const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
    if (daemon.isEmpty()) GTEST_SKIP() << "dbus-daemon is not installed";
    QProcess bus;
    bus.start(daemon, {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
    ASSERT_TRUE(bus.waitForReadyRead(10000));
    const QByteArray address = bus.readLine().trimmed();
    ASSERT_FALSE(address.isEmpty());
    // The application's connection is the process's session bus.
    qputenv("DBUS_SESSION_BUS_ADDRESS", address);

    QDBusConnection watcher = QDBusConnection::connectToBus(QString::fromUtf8(address), QStringLiteral("watcher"));
    ASSERT_TRUE(watcher.isConnected());
    Listener listener;
    ASSERT_TRUE(watcher.connect(QString(), QLatin1String(vtrapp::kDeviceListNotificationPath),
                                QLatin1String(vtrapp::kDeviceListNotificationName),
                                QLatin1String(vtrapp::kDeviceListNotificationMember), &listener,
                                SLOT(notification(QString))));
    ASSERT_TRUE(vtrapp::postDeviceListNotification());
    QElapsedTimer timer;
    timer.start();
    while (listener.objects.isEmpty() && timer.elapsed() < 5000) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_EQ(listener.objects, QStringList{QStringLiteral("Update Device List Notification")});
    QDBusConnection::disconnectFromBus(QStringLiteral("watcher"));
    bus.terminate();
    bus.waitForFinished(5000);
}

}  // namespace

#include "test_dbus.moc"
