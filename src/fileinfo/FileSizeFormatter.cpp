#include "FileSizeFormatter.h"

#include "platform/Strings.h"

#include <QBuffer>
#include <QHash>
#include <QMutex>
#include <QMutexLocker>
#include <QTextImageFormat>

#include <cmath>
#include <cstdio>
#include <mutex>

namespace {

QMutex g_registryLock;
QHash<QString, std::shared_ptr<VtrValueTransformer>> &registry()
{
    static QHash<QString, std::shared_ptr<VtrValueTransformer>> transformers;
    return transformers;
}

// The looked-up text of `key` with its placeholder replaced by `number`.
QString localizedFormat(const char *key, const char *placeholder, const QString &number)
{
    return vtrLocalized(key).replace(QLatin1String(placeholder), number);
}

// The C library's printf rounding (exact halves to even), as the texts were
// always made; the formats are fixed here, never looked up.
QString printfNumber(const char *format, double v)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format, v);
    return QString::fromLatin1(buffer);
}

QString oneDecimal(double v)
{
    return printfNumber("%0.1f", v);
}

VtrFileInfoPtr fileInfoOf(const QVariant &value)
{
    return value.metaType() == QMetaType::fromType<VtrFileInfoPtr>() ? value.value<VtrFileInfoPtr>() : VtrFileInfoPtr();
}

quint64 sizeOf(const VtrFileInfoPtr &item)
{
    const qint64 size = item ? item->size() : 0;
    return size > 0 ? quint64(size) : 0;
}

} // namespace

void VtrValueTransformer::setValueTransformer(const QString &name, std::shared_ptr<VtrValueTransformer> transformer)
{
    QMutexLocker l(&g_registryLock);
    registry().insert(name, std::move(transformer));
}

std::shared_ptr<VtrValueTransformer> VtrValueTransformer::valueTransformerForName(const QString &name)
{
    QMutexLocker l(&g_registryLock);
    return registry().value(name);
}

// ---- FileInfoFileSizeTransformer --------------------------------------------

void FileInfoFileSizeTransformer::install()
{
    static std::once_flag once;
    std::call_once(once, [] {
        setValueTransformer(QStringLiteral("FileInfoFileSizeTransformer"),
                            std::make_shared<FileInfoFileSizeTransformer>());
    });
}

QVariant FileInfoFileSizeTransformer::transformedValue(const QVariant &value) const
{
    return transformedValue(fileInfoOf(value));
}

QString FileInfoFileSizeTransformer::transformedValue(const VtrFileInfoPtr &item) const
{
    if (item && item->isFolder()) return QStringLiteral("--");
    return humanFriendlyFileSize(sizeOf(item));
}

QString FileInfoFileSizeTransformer::humanFriendlyFileSize(quint64 bytes)
{
    if (bytes == 0) return vtrLocalized("0 KB");
    const float f = float(bytes);
    const float k = f / 1024.0f;
    if (f < 1024.0f) return localizedFormat("%0.1f KB", "%0.1f", oneDecimal(k));
    if (k < 1024.0f) return localizedFormat("%d KB", "%d", QString::number(int(k)));
    const float m = k / 1024.0f;
    if (m < 1024.0f) return localizedFormat("%0.1f MB", "%0.1f", oneDecimal(m));
    return localizedFormat("%0.1f GB", "%0.1f", oneDecimal(m / 1024.0f));
}

// ---- FileInfoFileSizeInGBTransformer ------------------------------------------

void FileInfoFileSizeInGBTransformer::install()
{
    static std::once_flag once;
    std::call_once(once, [] {
        setValueTransformer(QStringLiteral("FileInfoFileSizeInGBTransformer"),
                            std::make_shared<FileInfoFileSizeInGBTransformer>());
    });
}

QVariant FileInfoFileSizeInGBTransformer::transformedValue(const QVariant &value) const
{
    return transformedValue(fileInfoOf(value));
}

QString FileInfoFileSizeInGBTransformer::transformedValue(const VtrFileInfoPtr &item) const
{
    if (item && item->isFolder()) return QStringLiteral("--");
    return humanFriendlyFileSize(sizeOf(item));
}

QString FileInfoFileSizeInGBTransformer::humanFriendlyFileSize(quint64 bytes)
{
    // Rounded through single precision: only values whose float form is
    // exactly whole or exactly a tenth show fewer than two decimals.
    const double g = double(float(double(bytes) / 1024.0 / 1024.0 / 1024.0));
    if (g == std::floor(g)) return localizedFormat("%0.0f GB", "%0.0f", printfNumber("%0.0f", g));
    if (std::floor(g * 10.0) / 10.0 == g) return localizedFormat("%0.1f GB", "%0.1f", printfNumber("%0.1f", g));
    return localizedFormat("%0.2f GB", "%0.2f", printfNumber("%0.2f", g));
}

// ---- FileInfoNameWithIconTransformer ------------------------------------------

void FileInfoNameWithIconTransformer::install()
{
    static std::once_flag once;
    std::call_once(once, [] {
        setValueTransformer(QStringLiteral("FileInfoNameWithIconTransformer"),
                            std::make_shared<FileInfoNameWithIconTransformer>());
    });
}

QVariant FileInfoNameWithIconTransformer::transformedValue(const QVariant &value) const
{
    return QVariant::fromValue(transformedValue(fileInfoOf(value)));
}

VtrAttributedString FileInfoNameWithIconTransformer::transformedValue(const VtrFileInfoPtr &item) const
{
    VtrAttributedString result;
    if (!item) return result;
    const QString name = item->humanFriendlyName();
    if (item->icon().isNull()) {
        result.string = name;
        return result;
    }
    const QImage small = item->smallIcon();
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    small.save(&buffer, "PNG");

    QTextImageFormat attachment;
    attachment.setName(QStringLiteral("data:image/png;base64,") + QString::fromLatin1(png.toBase64()));
    attachment.setWidth(16);
    attachment.setHeight(16);
    attachment.setProperty(kVtrAttachmentImageProperty, small);
    result.string = QString(QChar::ObjectReplacementCharacter) + QStringLiteral(" %1").arg(name);
    result.runs.append({0, 1, attachment});
    return result;
}

// ---- BytesFormatter -------------------------------------------------------------

QString BytesFormatter::stringForObjectValue(const QVariant &value) const
{
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::Short:
    case QMetaType::SChar: {
        const qint64 v = value.toLongLong();
        return formatBytes(v > 0 ? quint64(v) : 0);
    }
    case QMetaType::UInt:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
    case QMetaType::UShort:
    case QMetaType::UChar:
    case QMetaType::Bool:
        return formatBytes(value.toULongLong());
    case QMetaType::Double:
    case QMetaType::Float: {
        const double d = value.toDouble();
        if (!(d > 0)) return formatBytes(0);
        return formatBytes(d >= 18446744073709551615.0 ? ~quint64(0) : quint64(d));
    }
    default:
        return QString();
    }
}

QString BytesFormatter::formatBytes(quint64 bytes) const
{
    if (bytes == 0) return QStringLiteral("--");
    const double d = double(bytes);
    if (d < 1024.0) return localizedFormat("%d bytes", "%d", QString::number(bytes));
    const double k = d / 1024.0;
    if (k < 1024.0) return localizedFormat("%0.1f KB", "%0.1f", oneDecimal(k));
    const double m = k / 1024.0;
    if (m < 1024.0) return localizedFormat("%0.1f MB", "%0.1f", oneDecimal(m));
    return localizedFormat("%0.1f GB", "%0.1f", oneDecimal(m / 1024.0));
}
