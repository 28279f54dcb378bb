#include "foundation/VtrImage.h"

#include "TestEnvironment.h"

#include <QBuffer>
#include <QImageReader>
#include <QPainter>
#include <QProcess>
#include <QStandardPaths>

#include <chrono>
#include <future>
#include <gtest/gtest.h>

namespace {

QImage makeImage(int w, int h)
{
    QImage image(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.setPixel(x, y, qRgb((x * 255) / w, (y * 255) / h, 128));
    return image;
}

// Left half red, right half blue: shows which way an image was turned.
QImage makeHalves(int w, int h)
{
    QImage image(w, h, QImage::Format_RGB32);
    QPainter p(&image);
    p.fillRect(0, 0, w / 2, h, Qt::red);
    p.fillRect(w / 2, 0, w - w / 2, h, Qt::blue);
    return image;
}

QByteArray encoded(const QImage &image, const char *format)
{
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    EXPECT_TRUE(image.save(&buffer, format));
    return data;
}

// Decodes without applying any EXIF orientation: the pixels as stored.
QImage decodeStored(const QByteArray &data)
{
    QBuffer buffer(const_cast<QByteArray *>(&data));
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setAutoTransform(false);
    return reader.read();
}

QSize decodedSize(const QByteArray &data)
{
    return decodeStored(data).size();
}

QString exiftool()
{
    return QStandardPaths::findExecutable(QStringLiteral("exiftool"));
}

// One tag's value as exiftool prints it (-n: numbers, not descriptions).
QString exiftoolTag(const QString &file, const QString &tag, bool numeric = false)
{
    QProcess p;
    QStringList args{QStringLiteral("-s3")};
    if (numeric) args << QStringLiteral("-n");
    args << QStringLiteral("-") + tag << file;
    p.start(exiftool(), args);
    EXPECT_TRUE(p.waitForFinished(30000));
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

bool exiftoolWrite(const QString &file, const QStringList &assignments)
{
    QProcess p;
    p.start(exiftool(), QStringList{QStringLiteral("-overwrite_original"), QStringLiteral("-n")} + assignments << file);
    return p.waitForFinished(30000) && p.exitCode() == 0;
}

bool isRed(QRgb c)
{
    return qRed(c) > 200 && qBlue(c) < 80;
}
bool isBlue(QRgb c)
{
    return qBlue(c) > 200 && qRed(c) < 80;
}

} // namespace

TEST(ImageJpeg, MaxDimensionFollowsTheScalingTable)
{
    const QImage image = makeImage(400, 300);
    struct Case
    {
        int max;
        bool up;
        QSize expected;
    } cases[] = {
        {200, false, {200, 150}}, {400, false, {400, 300}}, {800, true, {800, 600}},  {400, true, {400, 300}},
        {300, false, {300, 225}}, {0, true, {400, 300}},    {800, false, {400, 300}}, {150, false, {150, 113}},
    };
    for (const Case &c : cases) {
        const QByteArray data = vtr::jpeg(image, 0.8f, c.max, c.up);
        ASSERT_FALSE(data.isEmpty()) << c.max;
        EXPECT_EQ(decodedSize(data), c.expected) << "max " << c.max << " up " << c.up;
    }
    // Portrait and square images fit the longer side; ties scale by height.
    EXPECT_EQ(decodedSize(vtr::jpeg(makeImage(300, 400), 0.8f, 200, false)), QSize(150, 200));
    EXPECT_EQ(decodedSize(vtr::jpeg(makeImage(300, 300), 0.8f, 100, false)), QSize(100, 100));
    EXPECT_TRUE(vtr::jpeg(QImage(), 0.8f, 100, false).isNull());
}

TEST(ImageJpeg, QualityZeroMeansHalfOnlyForTheMaxDimensionForm)
{
    const QImage image = makeImage(200, 150);
    EXPECT_EQ(vtr::jpeg(image, 0.0f, 0, false), vtr::jpeg(image, 0.5f, 0, false));
    const QByteArray lowest = vtr::jpeg(image, 0.0f);
    const QByteArray half = vtr::jpeg(image, 0.5f);
    ASSERT_FALSE(lowest.isEmpty());
    EXPECT_LT(lowest.size(), half.size());
}

TEST(ImageJpeg, MarkIsWrittenByJpegButNotByTheMaxDimensionForm)
{
    const QImage image = makeImage(64, 48);
    const QByteArray marked = vtr::jpeg(image, 0.7f);
    EXPECT_TRUE(marked.startsWith("\xFF\xD8\xFF"));
    EXPECT_TRUE(vtr::isVantrelJPEG(marked));
    EXPECT_EQ(decodedSize(marked), QSize(64, 48));
    EXPECT_FALSE(vtr::isVantrelJPEG(vtr::jpeg(image, 0.7f, 32, false)));
    EXPECT_FALSE(vtr::isVantrelJPEG(encoded(image, "JPEG")));

    // Metadata goes in beside the mark; its own user comment replaces it.
    const QByteArray withMeta = vtr::jpeg(image, 0.7f,
                                          {{QStringLiteral("DateTimeOriginal"), QStringLiteral("2011:05:06 07:08:09")},
                                           {QStringLiteral("ExposureTime"), 1.0 / 60}});
    const QVariantMap exif = vtr::exifData(withMeta);
    EXPECT_TRUE(vtr::isVantrelJPEG(withMeta));
    EXPECT_EQ(exif.value(QStringLiteral("DateTimeOriginal")).toString(), QStringLiteral("2011:05:06 07:08:09"));
    EXPECT_NEAR(exif.value(QStringLiteral("ExposureTime")).toDouble(), 1.0 / 60, 1e-9);
    const QByteArray replaced = vtr::jpeg(image, 0.7f, {{QStringLiteral("UserComment"), QStringLiteral("mine")}});
    EXPECT_FALSE(vtr::isVantrelJPEG(replaced));
    EXPECT_EQ(vtr::exifData(replaced).value(QStringLiteral("UserComment")).toString(), QStringLiteral("mine"));
}

TEST(ImageJpeg, MarkIsReadableByExiftool)
{
    if (exiftool().isEmpty()) GTEST_SKIP() << "exiftool is not installed";
    const QString dir = testenv::makeTempDir();
    const QString file = dir + QStringLiteral("/marked.jpg");
    testenv::writeFile(file, vtr::jpeg(makeImage(80, 60), 0.8f));
    EXPECT_EQ(exiftoolTag(file, QStringLiteral("UserComment")), QStringLiteral("Vantrel JPEG"));

    // A file's photo made with the file form carries the mark too.
    const QString png = dir + QStringLiteral("/photo.png");
    testenv::writeFile(png, encoded(makeImage(80, 60), "PNG"));
    std::optional<vtr::VtrImageError> error;
    const QString out = dir + QStringLiteral("/converted.jpg");
    testenv::writeFile(out, vtr::jpegDataFromFilepath(png, 0.8f, &error));
    EXPECT_FALSE(error);
    EXPECT_EQ(exiftoolTag(out, QStringLiteral("UserComment")), QStringLiteral("Vantrel JPEG"));
}

TEST(ImageFile, FittingJpegPassesThroughByteForByte)
{
    const QString dir = testenv::makeTempDir();
    const QByteArray original = encoded(makeImage(40, 30), "JPEG");
    for (const QString &name : {QStringLiteral("a.jpg"), QStringLiteral("b.JPEG")}) {
        const QString path = dir + QLatin1Char('/') + name;
        testenv::writeFile(path, original);
        std::optional<vtr::VtrImageError> error;
        EXPECT_EQ(vtr::jpegDataFromFilepath(path, 0.5f, true, 40, 30, &error), original) << name.toStdString();
        EXPECT_FALSE(error);
        EXPECT_EQ(vtr::jpegDataFromFilepath(path, 0.5f, false, 1000, 1000, &error), original);
        // Maxima 0 (and the short form) encode anew, with the mark.
        const QByteArray again = vtr::jpegDataFromFilepath(path, 0.5f, &error);
        EXPECT_NE(again, original);
        EXPECT_TRUE(vtr::isVantrelJPEG(again));
        EXPECT_EQ(decodedSize(again), QSize(40, 30));
    }
    // Too large for the maxima: scaled, not passed through.
    const QString path = dir + QStringLiteral("/a.jpg");
    const QByteArray scaled = vtr::jpegDataFromFilepath(path, 0.5f, true, 20, 20, nullptr);
    EXPECT_EQ(decodedSize(scaled), QSize(20, 15));
    EXPECT_TRUE(vtr::isVantrelJPEG(scaled));
}

TEST(ImageFile, PngNamedJpgIsEncodedAnew)
{
    const QString dir = testenv::makeTempDir();
    const QString path = dir + QStringLiteral("/disguised.jpg");
    const QByteArray png = encoded(makeImage(30, 20), "PNG");
    testenv::writeFile(path, png);
    std::optional<vtr::VtrImageError> error;
    const QByteArray data = vtr::jpegDataFromFilepath(path, 0.8f, false, 1000, 1000, &error);
    EXPECT_FALSE(error);
    EXPECT_TRUE(data.startsWith("\xFF\xD8\xFF"));
    EXPECT_NE(data, png);
    EXPECT_EQ(decodedSize(data), QSize(30, 20));
    EXPECT_TRUE(vtr::isVantrelJPEG(data));
}

TEST(ImageFile, ResizeKeepsTheAspectRatio)
{
    const QString dir = testenv::makeTempDir();
    const QString path = dir + QStringLiteral("/wide.png");
    testenv::writeFile(path, encoded(makeImage(400, 100), "PNG"));
    EXPECT_EQ(decodedSize(vtr::jpegDataFromFilepath(path, 0.8f, true, 100, 100, nullptr)), QSize(100, 25));
    EXPECT_EQ(decodedSize(vtr::jpegDataFromFilepath(path, 0.8f, true, 0, 50, nullptr)), QSize(200, 50));
    EXPECT_EQ(decodedSize(vtr::jpegDataFromFilepath(path, 0.8f, true, 0, 0, nullptr)), QSize(400, 100));
    // Without resize the maxima are not applied.
    EXPECT_EQ(decodedSize(vtr::jpegDataFromFilepath(path, 0.8f, false, 10, 10, nullptr)), QSize(400, 100));
}

TEST(ImageFile, UnreadableFileReportsErrorMinusOne)
{
    const QString dir = testenv::makeTempDir();
    for (const QString &name : {QStringLiteral("missing.jpg"), QStringLiteral("text.jpg")}) {
        const QString path = dir + QLatin1Char('/') + name;
        if (name == QLatin1String("text.jpg")) testenv::writeFile(path, "not an image at all");
        std::optional<vtr::VtrImageError> error;
        EXPECT_TRUE(vtr::jpegDataFromFilepath(path, 0.8f, &error).isNull());
        ASSERT_TRUE(error);
        EXPECT_EQ(error->code, -1);
        EXPECT_EQ(error->domain, QStringLiteral("com.vantrel.errors.VtrNSImageExtensions"));
        EXPECT_EQ(error->localizedDescription, QStringLiteral("*** Couldn't read image from file \"%1\".").arg(path));
    }
    EXPECT_FALSE(vtr::metadataForFile(dir + QStringLiteral("/text.jpg")));
}

// A camera photo stored sideways: the pixels lie on their side and EXIF
// orientation 6 says "turn 90 degrees clockwise to view".
TEST(ImageFile, OrientationSixIsTurnedUprightAndReset)
{
    if (exiftool().isEmpty()) GTEST_SKIP() << "exiftool is not installed";
    const QString dir = testenv::makeTempDir();
    const QString path = dir + QStringLiteral("/sideways.jpg");
    testenv::writeFile(path, encoded(makeHalves(40, 20), "JPEG"));
    ASSERT_TRUE(exiftoolWrite(
        path, {QStringLiteral("-Orientation=6"), QStringLiteral("-DateTimeOriginal=2020:01:02 03:04:05")}));
    const QByteArray original = testenv::readFile(path);

    const std::optional<QVariantMap> meta = vtr::metadataForFile(path);
    ASSERT_TRUE(meta);
    EXPECT_EQ(meta->value(QStringLiteral("PixelWidth")).toInt(), 40);
    EXPECT_EQ(meta->value(QStringLiteral("PixelHeight")).toInt(), 20);
    EXPECT_EQ(meta->value(QStringLiteral("Orientation")).toInt(), 6);

    // Fits (as viewed, 20 x 40): the file as it is, tag and pixels untouched.
    EXPECT_EQ(vtr::jpegDataFromFilepath(path, 0.9f, false, 20, 40, nullptr), original);

    // Encoded anew: pixels turned upright, orientation reset, EXIF kept.
    const QByteArray upright = vtr::jpegDataFromFilepath(path, 0.9f, nullptr);
    const QImage stored = decodeStored(upright);
    ASSERT_EQ(stored.size(), QSize(20, 40));
    EXPECT_TRUE(isRed(stored.pixel(10, 5))); // the left half is now on top
    EXPECT_TRUE(isBlue(stored.pixel(10, 34)));
    const QString out = dir + QStringLiteral("/upright.jpg");
    testenv::writeFile(out, upright);
    EXPECT_EQ(exiftoolTag(out, QStringLiteral("Orientation"), true), QStringLiteral("1"));
    EXPECT_EQ(exiftoolTag(out, QStringLiteral("DateTimeOriginal")), QStringLiteral("2020:01:02 03:04:05"));
    EXPECT_EQ(exiftoolTag(out, QStringLiteral("UserComment")), QStringLiteral("Vantrel JPEG"));

    // Scaled as viewed: 20 x 40 into 10 x 10 gives 5 x 10.
    EXPECT_EQ(decodedSize(vtr::jpegDataFromFilepath(path, 0.9f, true, 10, 10, nullptr)), QSize(5, 10));
}

TEST(ImageFile, LargePhotoIsReadBeyondQtsDefaultLimit)
{
    // 8200 x 8200 at 32 bits is 269 MB, above Qt's default of 256 MB.
    const QString dir = testenv::makeTempDir();
    const QString path = dir + QStringLiteral("/large.jpg");
    {
        QImage big(8200, 8200, QImage::Format_RGB32);
        ASSERT_FALSE(big.isNull());
        big.fill(qRgb(10, 120, 200));
        testenv::writeFile(path, encoded(big, "JPEG"));
    }
    std::optional<vtr::VtrImageError> error;
    const QByteArray data = vtr::jpegDataFromFilepath(path, 0.8f, true, 100, 100, &error);
    EXPECT_FALSE(error);
    EXPECT_EQ(decodedSize(data), QSize(100, 100));
}

TEST(ImageFile, RunsOnTheCallingThreadWhileTheMainThreadIsBusy)
{
    const QString dir = testenv::makeTempDir();
    const QString path = dir + QStringLiteral("/photo.png");
    testenv::writeFile(path, encoded(makeImage(64, 64), "PNG"));
    // The main thread waits here without running its event loop: a hand-off
    // to it would never return.
    auto result =
        std::async(std::launch::async, [&] { return vtr::jpegDataFromFilepath(path, 0.8f, true, 32, 32, nullptr); });
    ASSERT_EQ(result.wait_for(std::chrono::seconds(60)), std::future_status::ready);
    EXPECT_EQ(decodedSize(result.get()), QSize(32, 32));
}

TEST(ImageHelpers, ResizedCopyPixelSizeAnd72Dpi)
{
    const QImage source = makeHalves(40, 20);
    const QImage resized = vtr::initWithImage(source, QSizeF(10.4, 5.0));
    EXPECT_EQ(resized.size(), QSize(10, 5));
    EXPECT_TRUE(isRed(resized.pixel(1, 2)));
    EXPECT_TRUE(isBlue(resized.pixel(8, 2)));
    EXPECT_TRUE(vtr::initWithImage(source, QSizeF(0, 5)).isNull());
    EXPECT_EQ(vtr::pixelSize(source), QSizeF(40, 20));
    EXPECT_EQ(vtr::pixelSize(QImage()), QSizeF(0, 0));
    QImage copy = source;
    vtr::set72dpi(copy);
    EXPECT_NEAR(copy.dotsPerMeterX() * 0.0254, 72.0, 0.1);
    EXPECT_NEAR(copy.dotsPerMeterY() * 0.0254, 72.0, 0.1);
}
