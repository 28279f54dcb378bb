// The phone's product picture: shipped and cached pictures, downloads from a
// loopback web server off the main thread, announced on it.

#include "devices/phone/WindowsPhone7LocalDevice.h"
#include "platform/Folders.h"

#include "TestEnvironment.h"
#include "TestFolders.h"
#include "LoopbackHttpServer.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHash>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

namespace {

bool waitUntil(const std::function<bool()> &done, int timeoutMs = 60000)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

QByteArray pngOf(QRgb colour, int size = 4)
{
    QImage image(size, size, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

QRgb colourOf(const QImage &image)
{
    return image.isNull() ? 0 : image.pixel(0, 0) & 0xffffff;
}

using LoopbackServer = LoopbackHttpServer;

class ImageTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        platform::setDataFolderOverride(testenv::makeTempDir(QStringLiteral("data")));
        shipped = testenv::makeTempDir(QStringLiteral("DeviceImages"));
        MobileDevice::setDeviceImagesFolderOverride(shipped);
        testenv::writeFile(shipped + QStringLiteral("/Generic_device_image.png"), pngOf(0x0000ff));
    }
    void TearDown() override
    {
        MobileDevice::setDeviceImagesFolderOverride(QString());
        platform::setDataFolderOverride(QString());
    }

    std::shared_ptr<MobileDevice> phoneWithURL(const QString &url)
    {
        QVariantMap entry;
        if (!url.isNull()) entry.insert(QStringLiteral("largeImageURL"), url);
        return WindowsPhone7LocalDevice::create(entry, nullptr);
    }

    QString shipped;
};

struct ImageNotices
{
    explicit ImageNotices(MobileDevice *phone)
    {
        QObject::connect(phone, &MobileDeviceInterface::imageChanged, phone, [this] {
            ++count;
            if (QThread::currentThread() != QCoreApplication::instance()->thread()) ++offMainThread;
        });
    }
    int count = 0;
    int offMainThread = 0;
};

TEST_F(ImageTest, APhoneWithoutAPictureURLShowsTheGenericPicture)
{
    auto phone = phoneWithURL(QString());
    ImageNotices notices(phone.get());
    EXPECT_EQ(colourOf(phone->image()), 0x0000ffu);
    EXPECT_EQ(notices.count, 0); // announced later, never from inside image()
    ASSERT_TRUE(waitUntil([&] { return notices.count == 1; }));
    EXPECT_EQ(colourOf(phone->image()), 0x0000ffu);

    // Without shipped pictures there is none.
    MobileDevice::setDeviceImagesFolderOverride(testenv::makeTempDir(QStringLiteral("empty")));
    EXPECT_TRUE(phoneWithURL(QString())->image().isNull());
}

TEST_F(ImageTest, CachedAndShippedPicturesNeedNoDownload)
{
    LoopbackServer server;
    testenv::writeFile(MobileDevice::imageCacheFolder() + QStringLiteral("/galaxy.jpg"), pngOf(0x00ff00));
    EXPECT_EQ(colourOf(phoneWithURL(server.url(QStringLiteral("/img/galaxy.jpg")))->image()), 0x00ff00u);

    testenv::writeFile(shipped + QStringLiteral("/nexus.png"), pngOf(0xff0000));
    EXPECT_EQ(colourOf(phoneWithURL(server.url(QStringLiteral("/img/nexus.jpg")))->image()), 0xff0000u);

    // A cached file that is no picture is passed over.
    testenv::writeFile(MobileDevice::imageCacheFolder() + QStringLiteral("/broken.jpg"), "<html>");
    testenv::writeFile(shipped + QStringLiteral("/broken.png"), pngOf(0x123456));
    EXPECT_EQ(colourOf(phoneWithURL(server.url(QStringLiteral("/broken.jpg")))->image()), 0x123456u);
    QCoreApplication::processEvents();
    EXPECT_EQ(server.requests, 0);
}

TEST_F(ImageTest, APictureIsDownloadedOnceAndAnnouncedOnTheMainThread)
{
    LoopbackServer server;
    server.body = pngOf(0xabcdef);
    server.delayMs = 200;
    auto phone = phoneWithURL(server.url(QStringLiteral("/images/Galaxy%20S.png")));
    ImageNotices notices(phone.get());
    EXPECT_TRUE(phone->image().isNull()); // under way
    EXPECT_TRUE(phone->image().isNull()); // still under way: no second download
    ASSERT_TRUE(waitUntil([&] { return notices.count == 1; }));
    EXPECT_EQ(notices.offMainThread, 0);
    EXPECT_EQ(server.requests, 1);
    EXPECT_EQ(colourOf(phone->image()), 0xabcdefu);
    EXPECT_EQ(testenv::readFile(MobileDevice::imageCacheFolder() + QStringLiteral("/Galaxy S.png")), server.body);

    // Another phone of the model finds it in the cache.
    EXPECT_EQ(colourOf(phoneWithURL(server.url(QStringLiteral("/images/Galaxy%20S.png")))->image()), 0xabcdefu);
    EXPECT_EQ(server.requests, 1);
}

TEST_F(ImageTest, AFailedDownloadGivesTheGenericPictureAndCachesNothing)
{
    LoopbackServer server;
    server.status = 404;
    server.body = "<html>not here</html>";
    auto phone = phoneWithURL(server.url(QStringLiteral("/images/missing.png")));
    ImageNotices notices(phone.get());
    EXPECT_TRUE(phone->image().isNull());
    ASSERT_TRUE(waitUntil([&] { return notices.count == 1; }));
    EXPECT_EQ(colourOf(phone->image()), 0x0000ffu);
    EXPECT_FALSE(QFileInfo::exists(MobileDevice::imageCacheFolder() + QStringLiteral("/missing.png")));

    // A body that is no picture is not kept either.
    server.status = 200;
    auto other = phoneWithURL(server.url(QStringLiteral("/images/garbage.png")));
    ImageNotices otherNotices(other.get());
    EXPECT_TRUE(other->image().isNull());
    ASSERT_TRUE(waitUntil([&] { return otherNotices.count == 1; }));
    EXPECT_EQ(colourOf(other->image()), 0x0000ffu);
    EXPECT_FALSE(QFileInfo::exists(MobileDevice::imageCacheFolder() + QStringLiteral("/garbage.png")));
}

TEST_F(ImageTest, PictureNamesThatCouldLeaveTheCacheAreRefused)
{
    LoopbackServer server;
    server.body = pngOf(0x111111);
    for (const QString &path : {QStringLiteral("/"), QStringLiteral("/a/%2E%2E")}) {
        auto phone = phoneWithURL(server.url(path));
        EXPECT_TRUE(phone->image().isNull()) << qPrintable(path);
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    EXPECT_EQ(server.requests, 0);

    // Encoded separators never lead out of the cache folder.
    auto phone = phoneWithURL(server.url(QStringLiteral("/a/..%2F..%2Fescape.png")));
    ImageNotices notices(phone.get());
    if (phone->image().isNull() && server.requests + 1 > 0) waitUntil([&] { return notices.count > 0; }, 2000);
    EXPECT_FALSE(QFileInfo::exists(platform::dataFolder() + QStringLiteral("/escape.png")));
    EXPECT_FALSE(QFileInfo::exists(QFileInfo(platform::dataFolder()).path() + QStringLiteral("/escape.png")));
    EXPECT_EQ(QDir(MobileDevice::imageCacheFolder()).entryList(QDir::Files).size(), server.requests);

    // A link of the person's at a picture's name, then in place of the cache
    // folder: neither it nor what it points to changes.
    const QString person = testenv::makeTempDir(QStringLiteral("person"));
    testenv::writeFile(person + QStringLiteral("/linked.png"), "my picture");
    const QString cache = MobileDevice::imageCacheFolder();
    const struct
    {
        QString link, target;
    } links[] = {{cache + QStringLiteral("/linked.png"), person + QStringLiteral("/linked.png")}, {cache, person}};
    for (const auto &[link, target] : links) {
        SCOPED_TRACE(link.toStdString());
        if (link == cache) {
            ASSERT_TRUE(testenv::removeTree(cache));
        }
        ASSERT_TRUE(QFile::link(target, link));
        auto linked = phoneWithURL(server.url(QStringLiteral("/images/linked.png")));
        ImageNotices linkedNotices(linked.get());
        EXPECT_TRUE(linked->image().isNull());
        ASSERT_TRUE(waitUntil([&] { return linkedNotices.count == 1; }));
        EXPECT_EQ(QDir(person).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                  QStringList{QStringLiteral("linked.png")});
        EXPECT_EQ(testenv::readFile(person + QStringLiteral("/linked.png")), QByteArray("my picture"));
        EXPECT_EQ(QFileInfo(link).symLinkTarget(), target);
    }
}

TEST_F(ImageTest, APhoneGoingAwayStopsItsDownload)
{
    LoopbackServer server;
    server.body = pngOf(0x222222);
    server.delayMs = 3000;
    auto phone = phoneWithURL(server.url(QStringLiteral("/slow.png")));
    EXPECT_TRUE(phone->image().isNull());
    ASSERT_TRUE(waitUntil([&] { return server.requests == 1; }));
    QElapsedTimer timer;
    timer.start();
    phone.reset();
    EXPECT_LT(timer.elapsed(), 2000);
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    EXPECT_FALSE(QFileInfo::exists(MobileDevice::imageCacheFolder() + QStringLiteral("/slow.png")));
}

} // namespace
