#include "sources/itunes/iTunesFileInfo.h"

#include "sources/itunes/VtrITunesItem.h"

#include <QFileInfo>

QString iTunesFileInfo::title()
{
    const QString name = m_metadata.value(QStringLiteral("Name")).toString();
    if (!name.isEmpty()) return name;
    return tag(QStringLiteral("\u00A9nam"), QVariantList{metadata()});
}

QString iTunesFileInfo::tag(const QString &tag, const QVariantList &metadata)
{
    for (const QVariant &entry : metadata) {
        const QVariantMap dictionary = entry.toMap();
        if (!dictionary.contains(tag)) continue;
        const QVariant value = dictionary.value(tag);
        if (value.typeId() == QMetaType::QVariantMap) return value.toMap().value(QStringLiteral("object")).toString();
        return value.toString();
    }
    return QString(QLatin1String(""));
}

qint64 iTunesFileInfo::trackNumber() const
{
    if (m_item) return m_item->trackNumber();
    return m_metadata.value(QStringLiteral("Track Number")).toLongLong();
}

bool iTunesFileInfo::isPodcast() const
{
    if (m_item) return m_item->isPodcast();
    return m_metadata.value(QStringLiteral("Podcast")).toBool();
}

qint64 iTunesFileInfo::bitrate() const
{
    return m_metadata.value(QStringLiteral("Bit Rate")).toLongLong();
}

bool iTunesFileInfo::hasDRM()
{
    if (m_item) return m_item->isProtected();
    if (m_metadata.isEmpty()) return VtrMacFileInfo::hasDRM();
    if (!m_metadata.value(QStringLiteral("Protected")).toBool()) return false;
    const QString location = m_metadata.value(QStringLiteral("Location")).toString();
    if (QFileInfo(location).suffix().compare(QLatin1String("m4b"), Qt::CaseInsensitive) != 0) return true;
    return VtrMacFileInfo::hasDRM();
}

QByteArray iTunesFileInfo::artworkDataWithMaxDimension(int maxDimension, bool allowPlaceholder)
{
    if (m_item) {
        const QByteArray data = m_item->artworkDataWithMaxDimension(maxDimension, allowPlaceholder);
        if (!data.isEmpty()) return data;
    }
    return m_metadata.value(QStringLiteral("artwork")).toByteArray();
}

void iTunesFileInfo::setArtworkData(const QByteArray &data)
{
    QVariantMap copy = m_metadata;
    if (data.isNull())
        copy.remove(QStringLiteral("artwork"));
    else
        copy.insert(QStringLiteral("artwork"), data);
    m_metadata = copy;
}

VtrFileInfoPtr iTunesFileInfo::aliasTarget()
{
    if (!isAlias()) return nullptr;
    const QString target = resolvedPath();
    if (target.isEmpty()) return nullptr;
    auto file = std::make_shared<iTunesFileInfo>(target);
    file->set_iTunesMetadata(m_metadata);
    return file;
}
