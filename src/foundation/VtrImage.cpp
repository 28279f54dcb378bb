#include "foundation/VtrImage.h"

#include "platform/Strings.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>

#include <libexif/exif-data.h>
#include <libexif/exif-loader.h>
#include <libexif/exif-utils.h>

namespace vtr {
// libexif's option that rewrites tags it thinks are wrong (value 1 << 1 of
// ExifDataOption): we keep tags as the camera wrote them.
constexpr ExifDataOption kExifRewriteToStandard = ExifDataOption(1 << 1);

namespace {

// Photos of phones pass Qt's default limit of 256 MB for one decoded image;
// allow up to 1 GiB (about 268 megapixels at 32 bits).
constexpr int kImageAllocationLimitMB = 1024;
// An APP1 segment carries at most this many bytes after its length field.
constexpr int kMaxApp1Payload = 65533;

void raiseAllocationLimit()
{
    static std::once_flag once;
    std::call_once(once, [] {
        if (QImageReader::allocationLimit() < kImageAllocationLimitMB)
            QImageReader::setAllocationLimit(kImageAllocationLimitMB);
    });
}

struct ExifDataDeleter
{
    void operator()(ExifData *d) const { exif_data_unref(d); }
};
using ExifDataPtr = std::unique_ptr<ExifData, ExifDataDeleter>;

struct ExifLoaderDeleter
{
    void operator()(ExifLoader *l) const { exif_loader_unref(l); }
};

// EXIF as stored, without the library's "fixes" (which would add tags that
// the image never had).
ExifDataPtr loadExif(const unsigned char *bytes, unsigned int size)
{
    if (!bytes || size == 0) return nullptr;
    ExifDataPtr ed(exif_data_new());
    if (!ed) return nullptr;
    exif_data_unset_option(ed.get(), kExifRewriteToStandard);
    exif_data_set_option(ed.get(), EXIF_DATA_OPTION_DONT_CHANGE_MAKER_NOTE);
    exif_data_load_data(ed.get(), bytes, size);
    return ed;
}

ExifDataPtr exifFromLoader(ExifLoader *loader)
{
    const unsigned char *buf = nullptr;
    unsigned int size = 0;
    exif_loader_get_buf(loader, &buf, &size);
    return loadExif(buf, size);
}

ExifDataPtr exifFromBytes(const QByteArray &data)
{
    if (data.isEmpty()) return nullptr;
    std::unique_ptr<ExifLoader, ExifLoaderDeleter> loader(exif_loader_new());
    if (!loader) return nullptr;
    exif_loader_write(loader.get(), reinterpret_cast<unsigned char *>(const_cast<char *>(data.constData())),
                      unsigned(data.size()));
    return exifFromLoader(loader.get());
}

ExifDataPtr exifFromFile(const QString &path)
{
    std::unique_ptr<ExifLoader, ExifLoaderDeleter> loader(exif_loader_new());
    if (!loader) return nullptr;
    exif_loader_write_file(loader.get(), QFile::encodeName(path).constData());
    return exifFromLoader(loader.get());
}

// The user comment's text: an 8-byte character-set code, then the text.
QString decodeUserComment(const QByteArray &raw, ExifByteOrder order)
{
    if (raw.size() < 8) return QString::fromLatin1(raw).trimmed();
    const QByteArray code = raw.left(8);
    QByteArray body = raw.mid(8);
    if (code.startsWith("UNICODE")) {
        QString text;
        for (qsizetype i = 0; i + 1 < body.size(); i += 2)
            text.append(QChar(exif_get_short(reinterpret_cast<const unsigned char *>(body.constData() + i), order)));
        while (text.endsWith(QChar(0)))
            text.chop(1);
        return text.trimmed();
    }
    while (body.endsWith('\0'))
        body.chop(1);
    return QString::fromUtf8(body).trimmed();
}

QByteArray encodeUserComment(const QString &text, ExifByteOrder order)
{
    bool ascii = true;
    for (QChar c : text)
        if (c.unicode() > 0x7E || c.unicode() < 0x20) ascii = false;
    if (ascii) return QByteArray("ASCII\0\0\0", 8) + text.toLatin1();
    QByteArray out("UNICODE\0", 8);
    for (QChar c : text) {
        unsigned char b[2];
        exif_set_short(b, order, c.unicode());
        out.append(reinterpret_cast<const char *>(b), 2);
    }
    return out;
}

QVariant entryValue(const ExifEntry *e, ExifByteOrder order)
{
    if (!e->data && e->size > 0) return QVariant();
    const QByteArray raw(reinterpret_cast<const char *>(e->data), int(e->size));
    if (e->tag == EXIF_TAG_USER_COMMENT) return decodeUserComment(raw, order);
    if (e->format == EXIF_FORMAT_ASCII) {
        const qsizetype nul = raw.indexOf('\0');
        return QString::fromUtf8(nul >= 0 ? raw.left(nul) : raw).trimmed();
    }
    if (e->format == EXIF_FORMAT_UNDEFINED) return raw;
    const int width = exif_format_get_size(e->format);
    if (width <= 0) return QVariant();
    QVariantList values;
    for (unsigned long i = 0; i < e->components && (i + 1) * unsigned(width) <= e->size; ++i) {
        const unsigned char *p = e->data + i * unsigned(width);
        switch (e->format) {
        case EXIF_FORMAT_BYTE:
            values.append(int(p[0]));
            break;
        case EXIF_FORMAT_SBYTE:
            values.append(int(static_cast<signed char>(p[0])));
            break;
        case EXIF_FORMAT_SHORT:
            values.append(int(exif_get_short(p, order)));
            break;
        case EXIF_FORMAT_SSHORT:
            values.append(int(exif_get_sshort(p, order)));
            break;
        case EXIF_FORMAT_LONG:
            values.append(qint64(exif_get_long(p, order)));
            break;
        case EXIF_FORMAT_SLONG:
            values.append(qint64(exif_get_slong(p, order)));
            break;
        case EXIF_FORMAT_RATIONAL: {
            const ExifRational r = exif_get_rational(p, order);
            values.append(r.denominator ? double(r.numerator) / r.denominator : 0.0);
            break;
        }
        case EXIF_FORMAT_SRATIONAL: {
            const ExifSRational r = exif_get_srational(p, order);
            values.append(r.denominator ? double(r.numerator) / r.denominator : 0.0);
            break;
        }
        default:
            return QVariant();
        }
    }
    if (values.isEmpty()) return QVariant();
    return values.size() == 1 ? values.first() : QVariant(values);
}

QVariantMap contentMap(ExifData *ed, ExifIfd ifd)
{
    QVariantMap map;
    if (!ed) return map;
    ExifContent *content = ed->ifd[ifd];
    const ExifByteOrder order = exif_data_get_byte_order(ed);
    for (unsigned i = 0; content && i < content->count; ++i) {
        const ExifEntry *e = content->entries[i];
        const char *name = exif_tag_get_name_in_ifd(e->tag, ifd);
        if (!name) continue;
        const QVariant value = entryValue(e, order);
        if (value.isValid()) map.insert(QString::fromLatin1(name), value);
    }
    return map;
}

// A fraction close to `v` with a small denominator (continued fractions).
void toFraction(double v, qint64 maxDen, qint64 *num, qint64 *den)
{
    const bool negative = v < 0;
    double x = std::fabs(v);
    qint64 h0 = 0, h1 = 1, k0 = 1, k1 = 0;
    for (int i = 0; i < 32; ++i) {
        const double a = std::floor(x);
        const qint64 ai = qint64(a);
        const qint64 h2 = ai * h1 + h0, k2 = ai * k1 + k0;
        if (k2 > maxDen) break;
        h0 = h1;
        h1 = h2;
        k0 = k1;
        k1 = k2;
        const double frac = x - a;
        if (frac < 1e-12) break;
        x = 1.0 / frac;
    }
    if (k1 == 0) {
        h1 = qint64(std::llround(std::fabs(v)));
        k1 = 1;
    }
    *num = negative ? -h1 : h1;
    *den = k1;
}

// Fills an entry from a dictionary value in the entry's format; false when
// the value does not fit it.
bool setEntryValue(ExifEntry *e, ExifMem *mem, const QVariant &value, ExifByteOrder order)
{
    QByteArray bytes;
    unsigned long components = 0;
    if (e->tag == EXIF_TAG_USER_COMMENT && value.typeId() == QMetaType::QString) {
        e->format = EXIF_FORMAT_UNDEFINED;
        bytes = encodeUserComment(value.toString(), order);
        components = bytes.size();
    } else if (e->format == EXIF_FORMAT_ASCII) {
        if (value.typeId() != QMetaType::QString) return false;
        bytes = value.toString().toUtf8();
        bytes.append('\0');
        components = bytes.size();
    } else if (e->format == EXIF_FORMAT_UNDEFINED) {
        bytes = value.typeId() == QMetaType::QString ? value.toString().toUtf8() : value.toByteArray();
        components = bytes.size();
    } else {
        const QVariantList list = value.typeId() == QMetaType::QVariantList ? value.toList() : QVariantList{value};
        const int width = exif_format_get_size(e->format);
        if (list.isEmpty() || width <= 0) return false;
        bytes.resize(list.size() * width);
        auto *p = reinterpret_cast<unsigned char *>(bytes.data());
        for (const QVariant &v : list) {
            bool ok = false;
            const double d = v.toDouble(&ok);
            if (!ok) return false;
            switch (e->format) {
            case EXIF_FORMAT_BYTE:
            case EXIF_FORMAT_SBYTE:
                *p = static_cast<unsigned char>(qint64(d));
                break;
            case EXIF_FORMAT_SHORT:
                exif_set_short(p, order, ExifShort(qint64(d)));
                break;
            case EXIF_FORMAT_SSHORT:
                exif_set_sshort(p, order, ExifSShort(qint64(d)));
                break;
            case EXIF_FORMAT_LONG:
                exif_set_long(p, order, ExifLong(qint64(d)));
                break;
            case EXIF_FORMAT_SLONG:
                exif_set_slong(p, order, ExifSLong(qint64(d)));
                break;
            case EXIF_FORMAT_RATIONAL: {
                qint64 n, dd;
                toFraction(std::fabs(d), 0xFFFFFFFFLL, &n, &dd);
                while (n > 0xFFFFFFFFLL) {
                    n /= 2;
                    dd = std::max<qint64>(1, dd / 2);
                }
                exif_set_rational(p, order, ExifRational{ExifLong(n), ExifLong(dd)});
                break;
            }
            case EXIF_FORMAT_SRATIONAL: {
                qint64 n, dd;
                toFraction(d, 0x7FFFFFFFLL, &n, &dd);
                n = std::clamp<qint64>(n, -0x7FFFFFFFLL, 0x7FFFFFFFLL);
                exif_set_srational(p, order, ExifSRational{ExifSLong(n), ExifSLong(dd)});
                break;
            }
            default:
                return false;
            }
            p += width;
        }
        components = list.size();
    }
    if (e->data) exif_mem_free(mem, e->data);
    e->data = static_cast<unsigned char *>(exif_mem_alloc(mem, ExifLong(std::max<qsizetype>(bytes.size(), 1))));
    if (!e->data) {
        e->size = 0;
        return false;
    }
    std::memcpy(e->data, bytes.constData(), size_t(bytes.size()));
    e->size = unsigned(bytes.size());
    e->components = components;
    return true;
}

// The format a tag is written in when the library has no default for it.
ExifFormat formatForValue(const QVariant &value)
{
    const QVariant first =
        value.typeId() == QMetaType::QVariantList && !value.toList().isEmpty() ? value.toList().first() : value;
    switch (first.typeId()) {
    case QMetaType::QString:
        return EXIF_FORMAT_ASCII;
    case QMetaType::QByteArray:
        return EXIF_FORMAT_UNDEFINED;
    case QMetaType::Double:
    case QMetaType::Float:
        return first.toDouble() < 0 ? EXIF_FORMAT_SRATIONAL : EXIF_FORMAT_RATIONAL;
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
    case QMetaType::Bool:
        return first.toLongLong() < 0 ? EXIF_FORMAT_SLONG : EXIF_FORMAT_LONG;
    default:
        return ExifFormat(0);
    }
}

bool recordedIn(ExifTag tag, ExifIfd ifd)
{
    const ExifSupportLevel level = exif_tag_get_support_level_in_ifd(tag, ifd, EXIF_DATA_TYPE_COMPRESSED);
    return level != EXIF_SUPPORT_LEVEL_NOT_RECORDED && exif_tag_get_name_in_ifd(tag, ifd) != nullptr;
}

// The APP1 payload ("Exif\0\0" and the TIFF structure) for the dictionary;
// empty when nothing can be written.
QByteArray buildExif(const QVariantMap &exif, const QSize &pixels, bool skipLargeBlobs = false)
{
    ExifMem *mem = exif_mem_new_default();
    ExifDataPtr ed(exif_data_new_mem(mem));
    if (!ed) {
        exif_mem_unref(mem);
        return QByteArray();
    }
    exif_data_unset_option(ed.get(), kExifRewriteToStandard);
    exif_data_set_data_type(ed.get(), EXIF_DATA_TYPE_COMPRESSED);
    exif_data_set_byte_order(ed.get(), EXIF_BYTE_ORDER_INTEL);
    const ExifByteOrder order = EXIF_BYTE_ORDER_INTEL;

    for (auto it = exif.cbegin(); it != exif.cend(); ++it) {
        const ExifTag tag = exif_tag_from_name(it.key().toLatin1().constData());
        if (tag == 0) continue;
        ExifIfd ifd;
        if (recordedIn(tag, EXIF_IFD_EXIF))
            ifd = EXIF_IFD_EXIF;
        else if (recordedIn(tag, EXIF_IFD_0))
            ifd = EXIF_IFD_0;
        else
            continue;
        QVariant value = it.value();
        // The stored size must describe the image as it is now.
        if (tag == EXIF_TAG_PIXEL_X_DIMENSION) value = pixels.width();
        if (tag == EXIF_TAG_PIXEL_Y_DIMENSION) value = pixels.height();
        if (skipLargeBlobs && value.typeId() == QMetaType::QByteArray && value.toByteArray().size() > 1024) continue;

        ExifEntry *e = exif_entry_new_mem(mem);
        if (!e) continue;
        exif_content_add_entry(ed->ifd[ifd], e);
        exif_entry_initialize(e, tag);
        if (e->format == 0) e->format = formatForValue(value);
        if (e->format == 0 || !setEntryValue(e, mem, value, order)) exif_content_remove_entry(ed->ifd[ifd], e);
        exif_entry_unref(e);
    }

    unsigned char *out = nullptr;
    unsigned int size = 0;
    exif_data_save_data(ed.get(), &out, &size);
    QByteArray payload;
    if (out) {
        payload = QByteArray(reinterpret_cast<const char *>(out), int(size));
        exif_mem_free(mem, out);
    }
    ed.reset();
    exif_mem_unref(mem);
    if (payload.size() > kMaxApp1Payload) {
        if (!skipLargeBlobs) return buildExif(exif, pixels, true);
        return QByteArray();
    }
    return payload;
}

// Puts an APP1 segment into JPEG data: after a leading JFIF APP0 segment,
// else right after the start-of-image marker.
QByteArray insertApp1(const QByteArray &jpegData, const QByteArray &payload)
{
    if (payload.isEmpty() || jpegData.size() < 4) return jpegData;
    qsizetype at = 2;
    const auto *d = reinterpret_cast<const uchar *>(jpegData.constData());
    if (d[2] == 0xFF && d[3] == 0xE0 && jpegData.size() >= 6) {
        const int len = (d[4] << 8) | d[5];
        if (4 + len <= jpegData.size()) at = 4 + len;
    }
    QByteArray segment;
    segment.append(char(0xFF));
    segment.append(char(0xE1));
    const int len = int(payload.size()) + 2;
    segment.append(char((len >> 8) & 0xFF));
    segment.append(char(len & 0xFF));
    segment.append(payload);
    QByteArray out = jpegData;
    out.insert(at, segment);
    return out;
}

QByteArray encode(const QImage &image, float quality, const QVariantMap *exif)
{
    if (image.isNull()) return QByteArray();
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    const float q = std::isfinite(quality) ? std::clamp(quality, 0.0f, 1.0f) : 0.5f;
    writer.setQuality(int(std::lround(q * 100.0f)));
    if (!writer.write(image)) return QByteArray();
    buffer.close();
    if (exif) data = insertApp1(data, buildExif(*exif, image.size()));
    return data;
}

QImage scaledTo(const QImage &image, double width, double height)
{
    const QSize size(std::max(1, int(std::lround(width))), std::max(1, int(std::lround(height))));
    return image.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

VtrImageError makeError(int code, const char *format, const QString &path)
{
    VtrImageError error;
    error.domain = QString::fromLatin1(kImageErrorDomain);
    error.code = code;
    QString message = vtrLocalized(format);
    const qsizetype at = message.indexOf(QLatin1String("%@"));
    if (at >= 0) message.replace(at, 2, path);
    error.localizedDescription = message;
    return error;
}

bool startsLikeJpeg(const QByteArray &data)
{
    return data.size() >= 3 && uchar(data[0]) == 0xFF && uchar(data[1]) == 0xD8 && uchar(data[2]) == 0xFF;
}

} // namespace

QByteArray jpeg(const QImage &image, float quality)
{
    return jpeg(image, quality, QVariantMap());
}

QByteArray jpeg(const QImage &image, float quality, const QVariantMap &metadata)
{
    QVariantMap exif;
    exif.insert(QStringLiteral("UserComment"), QString::fromLatin1(kVantrelJPEGMark));
    for (auto it = metadata.cbegin(); it != metadata.cend(); ++it)
        exif.insert(it.key(), it.value());
    return encode(image, quality, &exif);
}

QByteArray jpeg(const QImage &image, float quality, int maxDimension, bool scaleLargerIfNeeded)
{
    QImage rep = image;
    if (maxDimension > 0 && !image.isNull()) {
        const int w = image.width(), h = image.height();
        if (h > maxDimension || w > maxDimension || (scaleLargerIfNeeded && h != maxDimension && w != maxDimension)) {
            const double rh = double(h) / maxDimension, rw = double(w) / maxDimension;
            const QImage scaled =
                rw > rh ? scaledTo(image, maxDimension, h / rw) : scaledTo(image, w / rh, maxDimension);
            if (!scaled.isNull()) rep = scaled;
        }
    }
    return encode(rep, quality == 0.0f ? 0.5f : quality, nullptr);
}

QByteArray jpegDataFromFilepath(const QString &path, float quality, bool resize, int maxWidth, int maxHeight,
                                std::optional<VtrImageError> *outError)
{
    if (outError) *outError = std::nullopt;
    raiseAllocationLimit();
    QImageReader reader(path);
    reader.setDecideFormatFromContent(true);
    reader.setAutoTransform(true);
    QImage image = reader.read();
    if (image.isNull()) {
        if (outError) *outError = makeError(-1, "*** Couldn't read image from file \"%@\".", path);
        return QByteArray();
    }

    const QString ext = QFileInfo(path).suffix().toUpper();
    if ((ext == QLatin1String("JPG") || ext == QLatin1String("JPEG")) && maxWidth >= image.width() &&
        maxHeight >= image.height()) {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly)) {
            const QByteArray bytes = file.readAll();
            // Only real JPEG data goes out as it is; anything else is encoded anew.
            if (file.error() == QFileDevice::NoError && startsLikeJpeg(bytes)) return bytes;
        }
    }

    ExifDataPtr ed = exifFromFile(path);
    QVariantMap exif = contentMap(ed.get(), EXIF_IFD_EXIF);
    // The reader turned the pixels upright: the new file must not turn them again.
    if (ed && exif_content_get_entry(ed->ifd[EXIF_IFD_0], EXIF_TAG_ORIENTATION))
        exif.insert(QStringLiteral("Orientation"), 1);

    bool failed = false;
    if (resize) {
        const int w = image.width(), h = image.height();
        if (maxWidth == 0) maxWidth = w;
        if (maxHeight == 0) maxHeight = h;
        if (maxWidth > 0 && maxHeight > 0 && (w > maxWidth || h > maxHeight)) {
            const double rh = double(h) / maxHeight, rw = double(w) / maxWidth;
            const QImage scaled = rw > rh ? scaledTo(image, maxWidth, h / rw) : scaledTo(image, w / rh, maxHeight);
            if (scaled.isNull()) {
                if (outError) *outError = makeError(-2, "*** Couldn't create scaled image from file \"%@\".", path);
                failed = true;
            }
            image = scaled;
        }
    }
    if (failed) return QByteArray();
    return jpeg(image, quality, exif);
}

QByteArray jpegDataFromFilepath(const QString &path, float quality, std::optional<VtrImageError> *outError)
{
    return jpegDataFromFilepath(path, quality, false, 0, 0, outError);
}

std::optional<QVariantMap> metadataForFile(const QString &path)
{
    raiseAllocationLimit();
    QImageReader reader(path);
    reader.setDecideFormatFromContent(true);
    if (!reader.canRead()) return std::nullopt;
    QVariantMap props;
    const QSize size = reader.size();
    if (size.isValid()) {
        props.insert(QStringLiteral("PixelWidth"), size.width());
        props.insert(QStringLiteral("PixelHeight"), size.height());
    }
    ExifDataPtr ed = exifFromFile(path);
    if (ed) {
        const QVariantMap exif = contentMap(ed.get(), EXIF_IFD_EXIF);
        const QVariantMap tiff = contentMap(ed.get(), EXIF_IFD_0);
        if (!exif.isEmpty()) props.insert(QStringLiteral("{Exif}"), exif);
        if (!tiff.isEmpty()) props.insert(QStringLiteral("{TIFF}"), tiff);
        if (tiff.contains(QStringLiteral("Orientation")))
            props.insert(QStringLiteral("Orientation"), tiff.value(QStringLiteral("Orientation")));
    }
    return props;
}

QVariantMap exifData(const QByteArray &imageData)
{
    ExifDataPtr ed = exifFromBytes(imageData);
    return contentMap(ed.get(), EXIF_IFD_EXIF);
}

bool isVantrelJPEG(const QByteArray &imageData)
{
    return exifData(imageData).value(QStringLiteral("UserComment")).toString() == QLatin1String(kVantrelJPEGMark);
}

QImage initWithImage(const QImage &source, const QSizeF &size)
{
    const QSize pixels(int(std::lround(size.width())), int(std::lround(size.height())));
    if (pixels.isEmpty()) return QImage();
    QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull()) return QImage();
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter.setOpacity(1.0);
    painter.drawImage(QRectF(QPointF(0, 0), QSizeF(pixels)), source, QRectF(source.rect()));
    painter.end();
    return image;
}

QSizeF pixelSize(const QImage &image)
{
    if (image.isNull()) return QSizeF(0, 0);
    return QSizeF(image.width(), image.height());
}

void set72dpi(QImage &image)
{
    // 72 dots per inch in dots per metre.
    constexpr int kDotsPerMeter = 2835;
    image.setDotsPerMeterX(kDotsPerMeter);
    image.setDotsPerMeterY(kDotsPerMeter);
}

} // namespace vtr
