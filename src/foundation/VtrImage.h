#pragma once

#include <QByteArray>
#include <QImage>
#include <QSizeF>
#include <QString>
#include <QVariantMap>

#include <optional>

// Image extensions: images and image files to JPEG data, optionally scaled,
// stamped with the system's mark in the EXIF user comment.
//
// Every function runs on the calling thread (QImage, its reader and writer
// and painting on a QImage are safe on any thread).
//
// EXIF dictionaries are QVariantMaps keyed by the EXIF tag names ("UserComment",
// "DateTimeOriginal", "ExposureTime", "Orientation", ...): text tags as
// QString, whole-number tags as integers, fractions as double, other tags as
// QByteArray, several values as a QVariantList.
namespace vtr {

// The mark: the EXIF user comment of every JPEG the system encodes with jpeg().
inline constexpr const char *kVantrelJPEGMark = "Vantrel JPEG";
inline constexpr const char *kImageErrorDomain = "com.vantrel.errors.VtrNSImageExtensions";

// A failure of jpegDataFromFilepath(): code -1 the file gave no image, -2 the
// scaled image could not be made; a user-readable message naming the file.
struct VtrImageError
{
    QString domain;
    int code = 0;
    QString localizedDescription;
};

// JPEG data of the image (quality 0..1, 0 kept as the lowest quality) whose
// EXIF holds the mark and then `metadata`'s entries (a "UserComment" there
// replaces the mark; an "Orientation" there is written as given, the pixels
// being left as they are). Null data when the image is null or encoding fails.
QByteArray jpeg(const QImage &image, float quality);
QByteArray jpeg(const QImage &image, float quality, const QVariantMap &metadata);

// JPEG data of the image scaled to fit `maxDimension` on its longer side:
// scaled down when a side is longer, scaled up (with `scaleLargerIfNeeded`)
// when neither side already equals it; 0 means unscaled. Quality 0 means 0.5.
// No EXIF and no mark.
QByteArray jpeg(const QImage &image, float quality, int maxDimension, bool scaleLargerIfNeeded);

// JPEG data for an image file. A JPEG file (by extension, and by its
// content: only data beginning with FF D8 FF counts) whose size fits the
// maxima is answered with its bytes unchanged. Anything else is decoded,
// turned upright by its EXIF orientation (the orientation written afterwards
// is then 1, so it is never applied twice), scaled down to fit the maxima
// when `resize` (0 = the image's own size) and encoded with the file's EXIF
// and the mark. Null data on failure, with the error stored through
// `outError` (nullopt when there is none).
QByteArray jpegDataFromFilepath(const QString &path, float quality, bool resize, int maxWidth, int maxHeight,
                                std::optional<VtrImageError> *outError);
// The same without resizing and with maxima 0 (so always encoded anew).
QByteArray jpegDataFromFilepath(const QString &path, float quality, std::optional<VtrImageError> *outError);

// Properties of the image in the file: "PixelWidth", "PixelHeight" (as
// stored), "Orientation" (when recorded), "{Exif}" and "{TIFF}" (the EXIF
// and main image tags, when the file has EXIF). nullopt when the file holds
// no readable image.
std::optional<QVariantMap> metadataForFile(const QString &path);

// The EXIF tags (those of the EXIF directory, as the dictionary above) of
// encoded image data; empty when there are none.
QVariantMap exifData(const QByteArray &imageData);
// True when the EXIF user comment of the image data is the mark.
bool isVantrelJPEG(const QByteArray &imageData);

// A new image of `size` (rounded to whole pixels) with `source` drawn scaled
// into all of it; a null image when the size is empty.
QImage initWithImage(const QImage &source, const QSizeF &size);
// Width and height in pixels; (0, 0) for a null image.
QSizeF pixelSize(const QImage &image);
// Sets the image's resolution to 72 dots per inch, so its size in points is
// its size in pixels.
void set72dpi(QImage &image);

} // namespace vtr
