#pragma once

#include "devices/mtp/MTPDevice.h"
#include "fileinfo/VtrMacFileInfo.h"

#include <QByteArray>
#include <QVariantList>
#include <QVariantMap>

#include <memory>

class VtrITunesItem;

// The sound or video file of a music library track: a local file that also
// carries the track's library dictionary and, when it was made from a tree
// item, the item. Media questions (title, track number, podcast, bit rate,
// protection, artwork) are answered from the library first and from the file
// only where the library has no answer. A phone copy asks it for artwork; it
// offers no MTP metadata of its own.
class iTunesFileInfo : public VtrMacFileInfo, public MtpMetadataSource, public MtpArtworkSource
{
public:
    explicit iTunesFileInfo(const QString &path) : VtrMacFileInfo(path) {}

    const QVariantMap &iTunesMetadata() const { return m_metadata; }
    void set_iTunesMetadata(const QVariantMap &metadata) { m_metadata = metadata; }
    const std::shared_ptr<VtrITunesItem> &iTunesItem() const { return m_item; }
    void set_iTunesItem(std::shared_ptr<VtrITunesItem> item) { m_item = std::move(item); }

    QString title();
    // In the first dictionary that has `tag`, its value (the value's "object"
    // when it is a dictionary holding one); "" when none has it.
    static QString tag(const QString &tag, const QVariantList &metadata);
    qint64 trackNumber() const;
    bool isPodcast() const;
    qint64 bitrate() const;
    bool hasDRM() override;

    QByteArray artworkDataWithMaxDimension(int maxDimension, bool allowPlaceholder);
    QByteArray artworkData() override { return artworkDataWithMaxDimension(256, true); }
    void setArtworkData(const QByteArray &data);
    std::optional<QVariantMap> mtpMetadata() override { return std::nullopt; }
    // A new file info for the link's target with a copy of the dictionary
    // (not the item); nullptr when this is no link.
    VtrFileInfoPtr aliasTarget() override;

private:
    QVariantMap m_metadata;
    std::shared_ptr<VtrITunesItem> m_item;
};
