// Device names paired with an application, found in the labels of the
// desktop's keychain. The keychain here is a private gnome-keyring on a
// private session bus, its items kept in the daemon's always-unlocked
// in-memory session collection: nothing of the person's own keyring is ever
// reached, and no password prompt can appear.
#include "sources/iphone/Keychain.h"
#include "sources/iphone/iPhoneDB.h"

#include "TestEnvironment.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>

#include <gtest/gtest.h>
#include <libsecret/secret.h>

namespace {

class PrivateKeyring : public ::testing::Test
{
    friend class KeyringService;

protected:
    static void startService()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty()
            || QStandardPaths::findExecutable(QStringLiteral("gnome-keyring-daemon")).isEmpty()) {
            s_failure = "dbus-daemon and gnome-keyring-daemon are needed (packages dbus, gnome-keyring)";
            return;
        }
        s_bus = new QProcess;
        s_bus->start(QStringLiteral("dbus-daemon"),
                     {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
        if (!s_bus->waitForStarted() || !s_bus->waitForReadyRead(10000)) {
            s_failure = "the private session bus did not start";
            return;
        }
        const QByteArray address = s_bus->readLine().trimmed();
        qputenv("DBUS_SESSION_BUS_ADDRESS", address);

        s_keyring = new QProcess;
        s_keyring->setProcessChannelMode(QProcess::MergedChannels);
        s_keyring->start(QStringLiteral("gnome-keyring-daemon"),
                         {QStringLiteral("--foreground"), QStringLiteral("--components=secrets")});
        if (!s_keyring->waitForStarted()) {
            s_failure = "gnome-keyring-daemon did not start";
            return;
        }
        // Ready when the service takes an item.
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 15000) {
            GError *error = nullptr;
            if (secret_password_store_sync(schema(), SECRET_COLLECTION_SESSION, "probe", "x", nullptr, &error,
                                           "purpose", "probe", nullptr))
                return;
            if (error) {
                s_lastError = QString::fromUtf8(error->message);
                g_error_free(error);
            }
            QThread::msleep(100);
        }
        s_lastError += QStringLiteral(" / ") + QString::fromLocal8Bit(s_keyring->readAll());
        s_failure = "the private keyring did not accept items";
    }

    static void stopService()
    {
        for (QProcess *process : {s_keyring, s_bus}) {
            if (!process) continue;
            process->terminate();
            if (!process->waitForFinished(5000)) process->kill();
            process->waitForFinished(5000);
            delete process;
        }
        s_keyring = s_bus = nullptr;
    }

    void SetUp() override
    {
        if (s_failure) FAIL() << s_failure << ": " << s_lastError.toStdString();
    }

    static const SecretSchema *schema()
    {
        static const SecretSchema s = {"com.vantrel.test.Pairing",
                                       SECRET_SCHEMA_NONE,
                                       {{"purpose", SECRET_SCHEMA_ATTRIBUTE_STRING}, {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING}},
                                       0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
        return &s;
    }

    static void store(const char *label)
    {
        GError *error = nullptr;
        ASSERT_TRUE(secret_password_store_sync(schema(), SECRET_COLLECTION_SESSION, label, "secret", nullptr, &error,
                                               "purpose", label, nullptr))
            << (error ? error->message : "");
    }

    static inline QProcess *s_bus = nullptr;
    static inline QProcess *s_keyring = nullptr;
    static inline const char *s_failure = nullptr;
    static inline QString s_lastError;
};

// The service runs once for the whole run, however often the tests repeat:
// libsecret's connection to the session bus is made once per process and
// never follows a second bus.
class KeyringService final : public ::testing::Environment
{
    void SetUp() override { PrivateKeyring::startService(); }
    void TearDown() override { PrivateKeyring::stopService(); }
};

const auto *const g_keyring = ::testing::AddGlobalTestEnvironment(new KeyringService);

} // namespace

TEST_F(PrivateKeyring, FindsTheDeviceNamedInAPairingLabel)
{
    store("Wi-Fi network at home");
    store("Zoë's iPhone-Solvenna Sync (4f2a)");
    store("Other iPhone-Another App (99)");

    QString error;
    const QStringList labels = vtr::keychain::itemLabels(&error);
    EXPECT_TRUE(error.isEmpty()) << error.toStdString();
    EXPECT_TRUE(labels.contains(QString::fromUtf8("Zoë's iPhone-Solvenna Sync (4f2a)")));

    EXPECT_EQ(iPhoneDB::deviceNamePairedWithAppNamed(QStringLiteral("solvenna sync")), QString::fromUtf8("Zoë's iPhone"))
        << "the application name is matched ignoring case";
    EXPECT_EQ(iPhoneDB::deviceNamePairedWithAppNamed(QStringLiteral("Another App")), QStringLiteral("Other iPhone"));
    EXPECT_TRUE(iPhoneDB::deviceNamePairedWithAppNamed(QStringLiteral("Missing")).isNull());
    EXPECT_TRUE(iPhoneDB::deviceNamePairedWithAppNamed(QString()).isNull());
    EXPECT_TRUE(iPhoneDB::deviceNamePairedWithAppNamed(QStringLiteral("home")).isNull())
        << "\"-home (\" is not in any label";
}
