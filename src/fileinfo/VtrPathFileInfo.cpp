#include "fileinfo/VtrPathFileInfo.h"

#include "foundation/VtrString.h"

namespace {

const QString kPathKey = QStringLiteral("VtrPathBasedFileInfo_path");

QString dropOneTrailing(const QString &path, QChar separator)
{
    if (path.size() >= 2 && path.endsWith(separator)) return path.left(path.size() - 1);
    return path;
}

QString joinComponent(const QString &path, const QString &component)
{
    if (path.isEmpty()) return component;
    if (path.endsWith(QLatin1Char('/'))) return path + component;
    return path + QLatin1Char('/') + component;
}

} // namespace

VtrPathBasedFileInfo::VtrPathBasedFileInfo() : _itsName(QStringLiteral("")) {}

VtrPathBasedFileInfo::VtrPathBasedFileInfo(const QString &path) : _itsName(path.isNull() ? QStringLiteral("") : path)
{
    // A new object has no cached attributes, so there is nothing to refresh.
}

std::shared_ptr<VtrPathBasedFileInfo> VtrPathBasedFileInfo::fileInfoWithPath(const QString &path)
{
    return std::make_shared<VtrPathBasedFileInfo>(path);
}

void VtrPathBasedFileInfo::_setPath(const QString &path)
{
    setPath(path);
    refresh();
}

void VtrPathBasedFileInfo::setPath(const QString &path)
{
    _itsFolder.clear();
    _itsName = path.isNull() ? QStringLiteral("") : path;
}

void VtrPathBasedFileInfo::setPathInFolder(const QString &folderPrefix, const QString &name)
{
    const bool plain = !name.isEmpty() && !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\'));
    const bool separated = folderPrefix.endsWith(QLatin1Char('/')) || folderPrefix.endsWith(QLatin1Char('\\'));
    if (!plain || !separated) {
        setPath(folderPrefix + name);
        return;
    }
    _itsFolder = folderPrefix;
    _itsName = name;
}

QString VtrPathBasedFileInfo::archiveClassName() const
{
    return QStringLiteral("VtrPathBasedFileInfo");
}

void VtrPathBasedFileInfo::encodeWithCoder(QVariantMap &coder)
{
    coder.insert(kPathKey, storedPath());
    VtrBaseFileInfo::encodeWithCoder(coder);
}

void VtrPathBasedFileInfo::initWithCoder(const QVariantMap &coder)
{
    VtrBaseFileInfo::initWithCoder(coder);
    setPath(coder.value(kPathKey).toString());
}

QString VtrPathBasedFileInfo::path()
{
    return storedPath();
}
QString VtrPathBasedFileInfo::description()
{
    return path();
}
QString VtrPathBasedFileInfo::name()
{
    if (_itsFolder.endsWith(QLatin1Char('/'))) return _itsName;
    return vtr::posixLastPathComponent(storedPath());
}
QString VtrPathBasedFileInfo::nameWithoutExtension()
{
    return vtr::posixDeletingPathExtension(name());
}

QStringList VtrPathBasedFileInfo::pathComponents()
{
    return vtr::posixPathComponents(dropOneTrailing(storedPath(), QLatin1Char('/')));
}

VtrFileInfoPtr VtrPathBasedFileInfo::parentFolder()
{
    return fileInfoWithPath(vtr::posixDeletingLastPathComponent(storedPath()));
}

void VtrPathBasedFileInfo::updateName(const QString &name)
{
    VtrFileInfoPtr parent = parentFolder();
    const QString parentPath = parent ? parent->path() : QString();
    setPath(vtr::posixAppendPathComponent(parentPath, name));
}

FileInfoCopyStatus VtrPathBasedFileInfo::moveTo(const VtrFileInfoPtr &destination)
{
    if (!destination) return kFileInfoCopyBadArguments;
    setPath(destination->path());
    return kFileInfoCopyOK;
}

bool VtrPathBasedFileInfo::contains(const VtrFileInfoPtr &other)
{
    if (!other || !isFolder()) return false;
    const QString mine = path();
    const QString theirs = other->path();
    if (mine.isEmpty() || !theirs.startsWith(mine, Qt::CaseInsensitive)) return false;
    // A prefix must end at a separator: "/a/b" does not contain "/a/bc".
    if (theirs.size() == mine.size()) return true;
    if (mine.endsWith(QLatin1Char('/')) || mine.endsWith(QLatin1Char('\\'))) return true;
    const QChar next = theirs.at(mine.size());
    return next == QLatin1Char('/') || next == QLatin1Char('\\');
}

bool VtrPathBasedFileInfo::isEqualTo(const VtrFileInfoPtr &other)
{
    auto *pathBased = dynamic_cast<VtrPathBasedFileInfo *>(other.get());
    if (!pathBased) return VtrBaseFileInfo::isEqualTo(other);
    return storedPath().compare(pathBased->storedPath(), Qt::CaseInsensitive) == 0;
}

QString VtrPathBasedFileInfo::relativePathTo(const VtrFileInfoPtr &other)
{
    if (!other) return QString();
    VtrFileInfoPtr myVolume = volume();
    VtrFileInfoPtr otherVolume = other->volume();
    if (!myVolume || !otherVolume || !myVolume->isEqualTo(otherVolume)) return other->path();

    VtrFileInfoPtr start = isFolder() ? self() : parentFolder();
    const QStringList a =
        vtr::posixPathComponents(dropOneTrailing(start ? start->path() : QString(), QLatin1Char('/')));
    const QStringList b = vtr::posixPathComponents(dropOneTrailing(other->path(), QLatin1Char('/')));
    qsizetype common = 0;
    while (common < a.size() && common < b.size() && a.at(common).compare(b.at(common), Qt::CaseInsensitive) == 0)
        ++common;

    QString result = QStringLiteral("");
    if (!contains(other)) {
        for (qsizetype i = common; i < a.size(); ++i)
            result = joinComponent(result, QStringLiteral(".."));
    }
    for (qsizetype i = common; i < b.size(); ++i)
        result = joinComponent(result, b.at(i));
    return result;
}

QStringList VtrPathBasedFileInfo::relativePathComponentsTo(const VtrFileInfoPtr &other)
{
    const QString relative = relativePathTo(other);
    if (relative.isNull()) return {};
    QString trimmed = relative;
    if (trimmed.endsWith(QLatin1Char('/'))) trimmed.chop(1);
    return trimmed.split(QLatin1Char('/'));
}

QString VtrPathBasedFileInfo::volumeRelativeStandardPath()
{
    const QString p = path();
    VtrFileInfoPtr vol = volume();
    if (!vol) return p;
    const QString volumePath = vol->path();
    if (!p.startsWith(volumePath, Qt::CaseInsensitive)) return p;
    QString remainder = p.mid(volumePath.size());
    if (remainder.isEmpty()) return remainder;
    // The volume path must end at a separator of the path ("/Volumes/X" is
    // not the volume of "/Volumes/XY/a").
    if (!volumePath.isEmpty() && !volumePath.endsWith(QLatin1Char('/')) && !remainder.startsWith(QLatin1Char('/')))
        return p;
    if (remainder.startsWith(QLatin1Char('/'))) remainder.remove(0, 1);
    if (remainder.endsWith(QLatin1Char('/'))) remainder.chop(1);
    return remainder;
}
