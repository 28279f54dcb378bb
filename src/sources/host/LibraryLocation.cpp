#include "sources/host/LibraryLocation.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>
#include <QUrl>

namespace vtr {

namespace {

struct DecodedLocation
{
    bool valid = false;
    bool drive = false;  // the first component is a drive ("C:")
    QStringList components;
};

DecodedLocation decode(const QString &location)
{
    DecodedLocation result;
    if (!location.startsWith(QLatin1String("file:"), Qt::CaseInsensitive)) return result;
    QString rest = location.mid(5);
    if (!rest.startsWith(QLatin1String("//"))) return result;
    rest = rest.mid(2);
    if (rest.startsWith(QLatin1String("localhost/"), Qt::CaseInsensitive))
        rest = rest.mid(9);
    else if (!rest.startsWith(QLatin1Char('/')))
        return result;  // a file on another host
    const QString path = QString::fromUtf8(QByteArray::fromPercentEncoding(rest.toUtf8()));
    if (path.contains(QChar(0))) return result;
    // Windows writers may leave back slashes inside a component.
    const QStringList parts = QString(path).replace(QLatin1Char('\\'), QLatin1Char('/')).split(QLatin1Char('/'));
    for (const QString &part : parts) {
        if (part.isEmpty() || part == QLatin1String(".")) continue;
        if (part == QLatin1String("..")) return result;  // never climbs out of what it names
        result.components.append(part);
    }
    result.drive = !result.components.isEmpty() && result.components.first().size() == 2 &&
                   result.components.first().at(1) == QLatin1Char(':') && result.components.first().at(0).isLetter();
    result.valid = true;
    return result;
}

bool startsWithComponents(const DecodedLocation &path, const DecodedLocation &prefix)
{
    if (prefix.components.isEmpty() || path.components.size() <= prefix.components.size()) return false;
    const Qt::CaseSensitivity cs = (path.drive || prefix.drive) ? Qt::CaseInsensitive : Qt::CaseSensitive;
    for (qsizetype i = 0; i < prefix.components.size(); ++i)
        if (path.components.at(i).compare(prefix.components.at(i), cs) != 0) return false;
    return true;
}

}  // namespace

QString localPathForLibraryLocation(const QString &location, const QString &libraryFilePath,
                                    const QString &musicFolderLocation)
{
    const DecodedLocation decoded = decode(location);
    if (!decoded.valid || decoded.components.isEmpty()) return QString();
    const QString asLocal = QLatin1Char('/') + decoded.components.join(QLatin1Char('/'));
    if (!decoded.drive && QFileInfo::exists(asLocal)) return asLocal;

    if (!libraryFilePath.isEmpty() && !musicFolderLocation.isEmpty()) {
        const DecodedLocation music = decode(musicFolderLocation);
        if (music.valid && startsWithComponents(decoded, music)) {
            const QString relative = decoded.components.mid(music.components.size()).join(QLatin1Char('/'));
            const QDir libraryFolder = QFileInfo(libraryFilePath).absoluteDir();
            const QString candidates[] = {libraryFolder.filePath(music.components.last() + QLatin1Char('/') + relative),
                                          libraryFolder.filePath(relative)};
            for (const QString &candidate : candidates)
                if (QFileInfo::exists(candidate)) return QDir::cleanPath(candidate);
        }
    }
    return decoded.drive ? QString() : asLocal;
}

QString libraryLocationForLocalPath(const QString &path, bool isFolder)
{
    QString clean = QDir::cleanPath(path);
    if (isFolder && !clean.endsWith(QLatin1Char('/'))) clean += QLatin1Char('/');
    return QStringLiteral("file://localhost") + QString::fromLatin1(clean.toUtf8().toPercentEncoding("/"));
}

}  // namespace vtr
