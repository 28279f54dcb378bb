#pragma once

#include "fileinfo/VtrBaseFileInfo.h"
#include "foundation/VtrAttributedString.h"

#include <QMetaType>
#include <QString>
#include <QVariant>

#include <memory>

// Display text for file infos and byte counts in user-interface bindings.
// Units are binary (1 KB = 1,024 bytes). Every text is looked up with
// vtrLocalized() under its format key ("%0.1f KB", "%d KB", "%0.1f MB",
// "%0.1f GB", "%0.0f GB", "%0.2f GB", "%d bytes", "0 KB"; "--" is not), and the
// number replaces the key's placeholder in the looked-up text; a looked-up
// text is never used as a format.

// A value transformer found by name, as views bind them.
class VtrValueTransformer
{
public:
    virtual ~VtrValueTransformer() = default;
    virtual QMetaType transformedValueClass() const = 0;
    virtual bool allowsReverseTransformation() const { return false; }
    // `value` holds a VtrFileInfoPtr (or nothing).
    virtual QVariant transformedValue(const QVariant &value) const = 0;

    // The process-wide registry; registering a name again replaces the entry.
    static void setValueTransformer(const QString &name, std::shared_ptr<VtrValueTransformer> transformer);
    static std::shared_ptr<VtrValueTransformer> valueTransformerForName(const QString &name);
};

// "--" for a folder, else humanFriendlyFileSize() of the item's size; no item
// at all is 0 bytes.
class FileInfoFileSizeTransformer : public VtrValueTransformer
{
public:
    // Registers one instance as "FileInfoFileSizeTransformer" the first time.
    static void install();
    QMetaType transformedValueClass() const override { return QMetaType::fromType<QString>(); }
    QVariant transformedValue(const QVariant &value) const override;
    QString transformedValue(const VtrFileInfoPtr &item) const;
    // Single precision: "0 KB"; below 1 KB "%0.1f KB" (512 bytes is 0.5 KB);
    // below 1 MB whole KB truncated ("%d KB"); then "%0.1f MB" or "%0.1f GB".
    static QString humanFriendlyFileSize(quint64 bytes);
};

// "--" for a folder, else the size in GB with as few decimals (0, 1 or 2) as
// its single-precision value needs.
class FileInfoFileSizeInGBTransformer : public VtrValueTransformer
{
public:
    static void install();
    QMetaType transformedValueClass() const override { return QMetaType::fromType<QString>(); }
    QVariant transformedValue(const QVariant &value) const override;
    QString transformedValue(const VtrFileInfoPtr &item) const;
    static QString humanFriendlyFileSize(quint64 bytes);
};

// The item's human-friendly name, after its icon (16 x 16) and a space when it
// has one. The icon is one U+FFFC character whose run is a QTextImageFormat
// of 16 x 16 named with a "data:image/png;base64," URL of the icon, which a
// QTextDocument shows; the image itself is also kept in the format under
// kVtrAttachmentImageProperty.
class FileInfoNameWithIconTransformer : public VtrValueTransformer
{
public:
    static void install();
    QMetaType transformedValueClass() const override { return QMetaType::fromType<VtrAttributedString>(); }
    QVariant transformedValue(const QVariant &value) const override;
    // No item: an empty string.
    VtrAttributedString transformedValue(const VtrFileInfoPtr &item) const;
};

inline constexpr int kVtrAttachmentImageProperty = QTextFormat::UserProperty + 0x5602;

class BytesFormatter
{
public:
    // A number (integer or floating point, negative counted as 0) formatted
    // with formatBytes(); a null QString for anything else.
    QString stringForObjectValue(const QVariant &value) const;
    // Double precision: "--" for 0; below 1 KB "%d bytes"; then "%0.1f KB",
    // "%0.1f MB" or "%0.1f GB".
    QString formatBytes(quint64 bytes) const;
};
