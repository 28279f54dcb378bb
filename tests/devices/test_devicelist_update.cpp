// The update check against a loopback web server.
#include "devices/devicelist/DeviceListCrypto.h"
#include "devices/devicelist/VtrDeviceList.h"
#include "foundation/Json.h"
#include "platform/Folders.h"
#include "platform/UserDefaults.h"

#include "LoopbackHttpServer.h"
#include "TestEnvironment.h"

#include <QFile>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

QByteArray encrypted(const QVariantMap &document)
{
    return vtr::AES256EncryptWithKeyData(vtr::JSONRepresentation(document).toUtf8(), vtr::deviceListKeyData());
}

QVariantMap document(int revision, const QString &name)
{
    QVariantMap product{{QStringLiteral("deviceName"), name}};
    QVariantMap vendor{{QStringLiteral("4776"), product}};
    QVariantMap section{{QStringLiteral("1452"), vendor}};
    return QVariantMap{{QStringLiteral("revision"), revision}, {QStringLiteral("SupportedDevices"), section}};
}

using LoopbackServer = LoopbackHttpServer;

struct Delegate : VtrDeviceListProtocol
{
    bool allow = true;
    QStringList calls;
    std::function<void()> onUpdated;
    bool askUserIfOKToConnectToInternet() override
    {
        calls << QStringLiteral("ask");
        return allow;
    }
    void displayDownloadingDeviceListUI() override { calls << QStringLiteral("display"); }
    void teardownDownloadDeviceListUI() override { calls << QStringLiteral("teardown"); }
    void deviceListWasUpdated() override
    {
        calls << QStringLiteral("updated");
        if (onUpdated) onUpdated();
    }
};

class DeviceListUpdateTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        dataFolder = testenv::makeTempDir(QStringLiteral("data"));
        resources = testenv::makeTempDir(QStringLiteral("resources"));
        platform::setDataFolderOverride(dataFolder);
        VtrDeviceList::setResourceFolderOverride(resources);
        testenv::writeFile(resources + QStringLiteral("/Settings.slvn"),
                           encrypted(document(5, QStringLiteral("shipped"))));
        platform::UserDefaults::setValue(QStringLiteral("MakerWebHost"), server.host());
        list = std::make_unique<VtrDeviceList>();
    }
    void TearDown() override
    {
        list.reset();
        platform::UserDefaults::remove(QStringLiteral("MakerWebHost"));
        VtrDeviceList::setResourceFolderOverride(QString());
        platform::setDataFolderOverride(QString());
    }

    QString currentName() const
    {
        const std::optional<QVariantMap> entry = list->infoForDeviceWithUSBVendorID(1452, 4776, QString());
        return entry ? entry->value(QStringLiteral("deviceName")).toString() : QString();
    }
    QString downloadedFile() const { return dataFolder + QStringLiteral("/Settings.slvn"); }

    // Runs the check and answers whether the list and the file stayed as they were.
    void expectUnchanged(Delegate &delegate)
    {
        list->checkForUpdateWithDelegate(&delegate, false);
        EXPECT_EQ(server.requests, 1);
        EXPECT_EQ(currentName(), QStringLiteral("shipped"));
        EXPECT_EQ(vtr::deviceListRevision(list->info()), 5);
        EXPECT_FALSE(QFile::exists(downloadedFile()));
        EXPECT_FALSE(delegate.calls.contains(QStringLiteral("updated")));
    }

    LoopbackServer server;
    QString dataFolder;
    QString resources;
    std::unique_ptr<VtrDeviceList> list;
};

TEST_F(DeviceListUpdateTest, AHigherRevisionBecomesCurrentBeforeItIsStored)
{
    server.body = encrypted(document(6, QStringLiteral("downloaded")));
    Delegate delegate;
    bool storedAlready = true;
    QString nameWhenTold;
    delegate.onUpdated = [&] {
        storedAlready = QFile::exists(downloadedFile());
        nameWhenTold = currentName();
    };
    list->checkForUpdateWithDelegate(&delegate, false);
    EXPECT_EQ(server.lastRequestLine, QByteArray("GET /DeviceList/SolvennaToWindowsPhone/v2/Settings.slvn HTTP/1.1"));
    EXPECT_EQ(delegate.calls, QStringList{QStringLiteral("updated")});
    EXPECT_EQ(nameWhenTold, QStringLiteral("downloaded"));
    EXPECT_FALSE(storedAlready);
    EXPECT_EQ(currentName(), QStringLiteral("downloaded"));
    // Stored exactly as downloaded, and preferred at the next start.
    EXPECT_EQ(testenv::readFile(downloadedFile()), server.body);
    EXPECT_EQ(VtrDeviceList().info().value(QStringLiteral("revision")).toInt(), 6);
}

TEST_F(DeviceListUpdateTest, LowerOrEqualRevisionsChangeNothing)
{
    for (int revision : {4, 5}) {
        SCOPED_TRACE(revision);
        server.requests = 0;
        server.body = encrypted(document(revision, QStringLiteral("downloaded")));
        Delegate delegate;
        expectUnchanged(delegate);
    }
}

TEST_F(DeviceListUpdateTest, ErrorPagesAndDamagedDownloadsChangeNothing)
{
    {
        SCOPED_TRACE("404 whose body is even a valid newer list");
        server.status = 404;
        server.body = encrypted(document(9, QStringLiteral("downloaded")));
        Delegate delegate;
        expectUnchanged(delegate);
    }
    server.status = 200;
    const QByteArray good = encrypted(document(9, QStringLiteral("downloaded")));
    {
        SCOPED_TRACE("connection closed before the announced length");
        server.requests = 0;
        server.body = good.left(good.size() / 2);
        server.missingBytes = good.size() - server.body.size();
        Delegate delegate;
        expectUnchanged(delegate);
        server.missingBytes = 0;
    }
    {
        SCOPED_TRACE("cut at a block boundary, served as complete");
        server.requests = 0;
        server.body = good.left(good.size() - 16);
        Delegate delegate;
        expectUnchanged(delegate);
    }
    {
        SCOPED_TRACE("corrupt bytes");
        server.requests = 0;
        server.body = good;
        for (int i = 0; i < server.body.size(); i += 7)
            server.body[i] = char(server.body[i] ^ 0x5A);
        Delegate delegate;
        expectUnchanged(delegate);
    }
    for (int status : {204, 300, 304}) {
        SCOPED_TRACE(QStringLiteral("status %1, not an error to the network layer").arg(status).toStdString());
        server.requests = 0;
        server.status = status;
        server.body = good;
        Delegate delegate;
        expectUnchanged(delegate);
    }
    server.status = 200;
    {
        SCOPED_TRACE("a newer list beyond the size limit");
        server.requests = 0;
        QVariantMap large = document(9, QStringLiteral("downloaded"));
        large.insert(QStringLiteral("padding"), QString(int(vtr::kMaxDeviceListDownload), QLatin1Char('p')));
        server.body = encrypted(large);
        Delegate delegate;
        expectUnchanged(delegate);
    }
    {
        SCOPED_TRACE("plain text that is not a list");
        server.requests = 0;
        server.body = vtr::AES256EncryptWithKeyData("<html>moved</html>", vtr::deviceListKeyData());
        Delegate delegate;
        expectUnchanged(delegate);
    }
}

TEST_F(DeviceListUpdateTest, TheUserInterfaceHooksBracketTheDownload)
{
    server.body = encrypted(document(4, QStringLiteral("downloaded")));
    Delegate delegate;
    list->checkForUpdateWithDelegate(&delegate, true);
    EXPECT_EQ(delegate.calls,
              (QStringList{QStringLiteral("ask"), QStringLiteral("display"), QStringLiteral("teardown")}));

    Delegate refusing;
    refusing.allow = false;
    list->checkForUpdateWithDelegate(&refusing, true);
    EXPECT_EQ(refusing.calls, QStringList{QStringLiteral("ask")});
    EXPECT_EQ(server.requests, 1);

    // Nothing listening: a failed download, still torn down.
    platform::UserDefaults::setValue(QStringLiteral("MakerWebHost"), QStringLiteral("127.0.0.1:1"));
    Delegate unreachable;
    list->checkForUpdateWithDelegate(&unreachable, true);
    EXPECT_EQ(unreachable.calls,
              (QStringList{QStringLiteral("ask"), QStringLiteral("display"), QStringLiteral("teardown")}));
    EXPECT_EQ(currentName(), QStringLiteral("shipped"));

    // A setting that is more than a host never becomes a request.
    platform::UserDefaults::setValue(QStringLiteral("MakerWebHost"), QStringLiteral("evil.example/x?y="));
    EXPECT_FALSE(VtrDeviceList::updateURL().isValid());
    platform::UserDefaults::remove(QStringLiteral("MakerWebHost"));
    EXPECT_EQ(VtrDeviceList::updateURL().toString(),
              QStringLiteral("http://www.vantrel.com/DeviceList/SolvennaToWindowsPhone/v2/Settings.slvn"));
}

// A USB arrival handled while the check waits sees the old list, whole; a
// second check asked for meanwhile does not start a second download.
TEST_F(DeviceListUpdateTest, EventsDuringTheDownloadSeeAWholeList)
{
    server.body = encrypted(document(6, QStringLiteral("downloaded")));
    server.delayMs = 300;
    QStringList seen;
    QTimer arrival;
    arrival.setInterval(20);
    QObject::connect(&arrival, &QTimer::timeout, [&] {
        const QVariantMap snapshot = list->info();
        const QString name = currentName();
        // Revision and entries always belong to the same document.
        seen << QStringLiteral("%1:%2").arg(vtr::deviceListRevision(snapshot)).arg(name);
        list->checkForUpdateWithDelegate(nullptr, false);
    });
    arrival.start();
    list->checkForUpdateWithDelegate(nullptr, false);
    arrival.stop();
    ASSERT_FALSE(seen.isEmpty());
    for (const QString &s : seen)
        EXPECT_EQ(s, QStringLiteral("5:shipped"));
    EXPECT_EQ(server.requests, 1);
    EXPECT_EQ(currentName(), QStringLiteral("downloaded"));
    EXPECT_FALSE(list->isCheckingForUpdate());
}

} // namespace
