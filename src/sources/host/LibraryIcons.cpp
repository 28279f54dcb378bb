#include "sources/host/LibraryIcons.h"

#include <QFile>
#include <QHash>

#include <mutex>

namespace vtr {

namespace {

QString iconPath(const QString &name)
{
    return QStringLiteral(":/medialibrary/icons/%1.png").arg(name);
}

}  // namespace

QImage libraryIcon(const QString &name)
{
    static std::mutex lock;
    static QHash<QString, QImage> cache;
    std::lock_guard guard(lock);
    auto it = cache.constFind(name);
    if (it != cache.constEnd()) return it.value();
    QImage image(iconPath(name));
    if (!image.isNull()) cache.insert(name, image);
    return image;
}

QByteArray libraryIconData(const QString &name)
{
    QFile file(iconPath(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace vtr
