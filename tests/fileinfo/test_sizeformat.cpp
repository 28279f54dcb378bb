#include "fileinfo/FileSizeFormatter.h"
#include "platform/Strings.h"

#include <QTextDocument>
#include <QTextImageFormat>

#include <gtest/gtest.h>

namespace {

// A file info whose answers the test sets.
class FakeItem : public VtrBaseFileInfo
{
public:
    FakeItem(qint64 size, bool folder, QString name, QImage icon = QImage())
        : m_size(size), m_folder(folder), m_name(std::move(name)), m_icon(std::move(icon))
    {}
    qint64 size() override { return m_size; }
    bool isFolder() override { return m_folder; }
    bool isFile() override { return !m_folder; }
    QString humanFriendlyName() override { return m_name; }
    QImage icon() override { return m_icon; }

private:
    qint64 m_size;
    bool m_folder;
    QString m_name;
    QImage m_icon;
};

VtrFileInfoPtr file(qint64 size)
{
    return std::make_shared<FakeItem>(size, false, QStringLiteral("f"));
}

constexpr quint64 KiB = 1024, MiB = 1024 * KiB, GiB = 1024 * MiB;

struct Row
{
    quint64 bytes;
    const char *text;
};

TEST(SizeFormat, HumanFriendlyFileSize)
{
    const Row rows[] = {
        {0, "0 KB"},
        {1, "0.0 KB"},
        {512, "0.5 KB"},
        {1023, "1.0 KB"},
        {1024, "1 KB"},
        {1536, "1 KB"},
        {1048575, "1023 KB"},
        {MiB, "1.0 MB"},
        {MiB * 3 / 2, "1.5 MB"},
        {GiB - 1, "1.0 GB"}, // single precision rounds it up to 1 GiB
        {GiB, "1.0 GB"},
        {5 * GiB + GiB / 4, "5.2 GB"}, // an exact half rounds to even
        {4096 * GiB, "4096.0 GB"},
    };
    for (const Row &r : rows)
        EXPECT_EQ(FileInfoFileSizeTransformer::humanFriendlyFileSize(r.bytes), r.text) << r.bytes;

    const FileInfoFileSizeTransformer t;
    EXPECT_EQ(t.transformedValue(file(5 * MiB)), "5.0 MB");
    EXPECT_EQ(t.transformedValue(std::make_shared<FakeItem>(5 * MiB, true, "dir")), "--");
    EXPECT_EQ(t.transformedValue(VtrFileInfoPtr()), "0 KB");
    EXPECT_EQ(t.transformedValue(QVariant()).toString(), "0 KB");
    EXPECT_EQ(t.transformedValue(QVariant::fromValue(file(2048))).toString(), "2 KB");
    EXPECT_EQ(t.transformedValue(file(-5)), "0 KB");
}

TEST(SizeFormat, SizeInGigabytes)
{
    const Row rows[] = {
        {2 * GiB, "2 GB"},   {3 * GiB / 2, "1.5 GB"},    {5 * GiB / 4, "1.25 GB"},
        {0, "0 GB"},         {GiB / 10 * 11, "1.10 GB"}, // 1.1 has no exact float form: two decimals
        {GiB / 2, "0.5 GB"}, {GiB / 3, "0.33 GB"},
    };
    for (const Row &r : rows)
        EXPECT_EQ(FileInfoFileSizeInGBTransformer::humanFriendlyFileSize(r.bytes), r.text) << r.bytes;
    const FileInfoFileSizeInGBTransformer t;
    EXPECT_EQ(t.transformedValue(std::make_shared<FakeItem>(GiB, true, "dir")), "--");
    EXPECT_EQ(t.transformedValue(file(8 * GiB)), "8 GB");
}

TEST(SizeFormat, BytesFormatter)
{
    const BytesFormatter f;
    const Row rows[] = {
        {0, "--"},
        {1, "1 bytes"},
        {1000, "1000 bytes"},
        {1023, "1023 bytes"},
        {1024, "1.0 KB"},
        {1536, "1.5 KB"},
        {MiB - 1, "1024.0 KB"},
        {MiB, "1.0 MB"},
        {3 * GiB, "3.0 GB"},
        {~quint64(0), "17179869184.0 GB"},
    };
    for (const Row &r : rows)
        EXPECT_EQ(f.formatBytes(r.bytes), r.text) << r.bytes;

    EXPECT_EQ(f.stringForObjectValue(QVariant(qint64(3 * GiB))), "3.0 GB");
    EXPECT_EQ(f.stringForObjectValue(QVariant(1536.7)), "1.5 KB");
    EXPECT_EQ(f.stringForObjectValue(QVariant(-5)), "--");
    EXPECT_EQ(f.stringForObjectValue(QVariant(quint64(1000))), "1000 bytes");
    EXPECT_TRUE(f.stringForObjectValue(QVariant(QStringLiteral("1000"))).isNull());
    EXPECT_TRUE(f.stringForObjectValue(QVariant()).isNull());
}

TEST(SizeFormat, LocalizedTextsAreNeverUsedAsFormats)
{
    platform::setStringTable({{"%0.1f MB", "%0.1f Mo"}, {"%d bytes", "%s %n octets %d"}, {"0 KB", "0 Ko"}});
    const BytesFormatter f;
    EXPECT_EQ(f.formatBytes(3 * MiB), "3.0 Mo");
    EXPECT_EQ(f.formatBytes(12), "%s %n octets 12");
    EXPECT_EQ(FileInfoFileSizeTransformer::humanFriendlyFileSize(0), "0 Ko");
    platform::setStringTable({});
}

TEST(SizeFormat, TransformersRegisterOnceUnderTheirNames)
{
    // Once per process: a repeated run finds them registered already.
    FileInfoFileSizeTransformer::install();
    FileInfoFileSizeInGBTransformer::install();
    FileInfoNameWithIconTransformer::install();
    const auto size = VtrValueTransformer::valueTransformerForName("FileInfoFileSizeTransformer");
    ASSERT_TRUE(size);
    FileInfoFileSizeTransformer::install();
    EXPECT_EQ(VtrValueTransformer::valueTransformerForName("FileInfoFileSizeTransformer"), size);
    EXPECT_FALSE(size->allowsReverseTransformation());
    EXPECT_EQ(size->transformedValueClass(), QMetaType::fromType<QString>());
    EXPECT_EQ(VtrValueTransformer::valueTransformerForName("FileInfoFileSizeInGBTransformer")
                  ->transformedValue(QVariant::fromValue(file(2 * GiB)))
                  .toString(),
              "2 GB");
    const auto icon = VtrValueTransformer::valueTransformerForName("FileInfoNameWithIconTransformer");
    ASSERT_TRUE(icon);
    EXPECT_EQ(icon->transformedValueClass(), QMetaType::fromType<VtrAttributedString>());
}

TEST(SizeFormat, NameWithIcon)
{
    const FileInfoNameWithIconTransformer t;
    const VtrAttributedString plain = t.transformedValue(std::make_shared<FakeItem>(0, false, "notes.txt"));
    EXPECT_EQ(plain.string, "notes.txt"); // no leading space without an icon
    EXPECT_TRUE(plain.runs.isEmpty());
    EXPECT_TRUE(t.transformedValue(VtrFileInfoPtr()).string.isEmpty());

    QImage big(64, 48, QImage::Format_ARGB32);
    big.fill(Qt::red);
    const VtrAttributedString withIcon = t.transformedValue(std::make_shared<FakeItem>(0, true, "Music", big));
    EXPECT_EQ(withIcon.string, QString(QChar::ObjectReplacementCharacter) + " Music");
    ASSERT_EQ(withIcon.runs.size(), 1);
    EXPECT_EQ(withIcon.runs[0].start, 0);
    EXPECT_EQ(withIcon.runs[0].length, 1);
    const QTextImageFormat image = withIcon.runs[0].format.toImageFormat();
    ASSERT_TRUE(image.isValid());
    EXPECT_EQ(image.width(), 16);
    EXPECT_EQ(image.height(), 16);
    const QImage stored = image.property(kVtrAttachmentImageProperty).value<QImage>();
    EXPECT_EQ(stored.size(), QSize(16, 16));
    EXPECT_EQ(QColor(stored.pixel(8, 8)), QColor(Qt::red));

    // The name is a data URL that a text document resolves by itself.
    QTextDocument doc;
    const QVariant resource = doc.resource(QTextDocument::ImageResource, QUrl(image.name()));
    EXPECT_TRUE(resource.isValid());
}

} // namespace
