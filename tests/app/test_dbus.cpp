#include "app/DeviceListNotification.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <memory>

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

// One private bus for the whole run, however often the tests repeat: the
// application's connection to the session bus is made once per process and
// never follows a second bus.
class PrivateBus final : public ::testing::Environment
{
public:
    QByteArray address;
    void SetUp() override
    {
        const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        if (daemon.isEmpty()) return;
        m_bus = std::make_unique<QProcess>();
        m_bus->start(daemon, {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
        ASSERT_TRUE(m_bus->waitForReadyRead(10000));
        address = m_bus->readLine().trimmed();
        ASSERT_FALSE(address.isEmpty());
        // The application's connection is the process's session bus.
        qputenv("DBUS_SESSION_BUS_ADDRESS", address);
    }
    void TearDown() override
    {
        if (!m_bus) return;
        m_bus->terminate();
        m_bus->waitForFinished(5000);
        m_bus.reset();
    }

private:
    std::unique_ptr<QProcess> m_bus;
};

PrivateBus *const g_bus = static_cast<PrivateBus *>(::testing::AddGlobalTestEnvironment(new PrivateBus));

TEST(DeviceListNotification, IsASignalOnTheSessionBus)
{
    if (g_bus->address.isEmpty()) GTEST_SKIP() << "dbus-daemon is not installed";
    const QByteArray address = g_bus->address;

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
}

}  // namespace

#include "test_dbus.moc"
