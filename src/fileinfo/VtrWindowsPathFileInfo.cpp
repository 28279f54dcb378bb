#include "fileinfo/VtrWindowsPathFileInfo.h"

#include "foundation/VtrString.h"

namespace {

const QChar kBackslash = QLatin1Char('\\');

QString dropOneTrailingBackslash(const QString &path)
{
    if (path.endsWith(kBackslash)) return path.left(path.size() - 1);
    return path;
}

} // namespace

std::shared_ptr<VtrWindowsPathBasedFileInfo> VtrWindowsPathBasedFileInfo::fileInfoWithPath(const QString &path)
{
    return std::make_shared<VtrWindowsPathBasedFileInfo>(path);
}

QString VtrWindowsPathBasedFileInfo::archiveClassName() const
{
    return QStringLiteral("VtrWindowsPathBasedFileInfo");
}

QString VtrWindowsPathBasedFileInfo::drive()
{
    QString d;
    vtr::decomposeWindowsPath(storedPath(), &d, nullptr);
    return d.isNull() ? QStringLiteral("") : d;
}

QString VtrWindowsPathBasedFileInfo::rest()
{
    QString r;
    vtr::decomposeWindowsPath(storedPath(), nullptr, &r);
    return r.isNull() ? QStringLiteral("") : r;
}

QString VtrWindowsPathBasedFileInfo::path()
{
    const QString stored = storedPath();
    if (isFolder() && !stored.endsWith(kBackslash)) return stored + kBackslash;
    return stored;
}

QString VtrWindowsPathBasedFileInfo::name()
{
    const QString listed = nameInFolder();
    if (!listed.isNull()) return listed;
    // Read in place: the name of an item deep in a tree costs what the name
    // is long.
    const QString stored = storedPath();
    const QStringView r = QStringView(stored).sliced(vtr::windowsDriveLength(stored));
    if (r.isEmpty()) return drive();
    return vtr::windowsLastPathComponent(r);
}

QString VtrWindowsPathBasedFileInfo::nameWithoutExtension()
{
    return vtr::windowsStringByDeletingPathExtension(name());
}

VtrFileInfoPtr VtrWindowsPathBasedFileInfo::parentFolder()
{
    const QString r = rest();
    if (r.isEmpty()) return nullptr;
    const QString d = drive();
    const QString parentRest = vtr::windowsStringByDeletingLastPathComponent(r);
    if (d.isEmpty()) return fileInfoWithPath(parentRest);
    return fileInfoWithPath(vtr::windowsStringByAppendingPathComponent(d, parentRest));
}

bool VtrWindowsPathBasedFileInfo::isVolume()
{
    return !drive().isEmpty() && rest().isEmpty();
}

VtrFileInfoPtr VtrWindowsPathBasedFileInfo::volume()
{
    return fileInfoWithPath(drive());
}

QStringList VtrWindowsPathBasedFileInfo::pathComponents()
{
    const QString r = dropOneTrailingBackslash(rest());
    QStringList components = r.isEmpty() ? QStringList() : vtr::windowsPathComponents(r);
    components.prepend(drive());
    return components;
}

QString VtrWindowsPathBasedFileInfo::standardPath()
{
    return vtr::pathFromWindowsPath(path());
}

QString VtrWindowsPathBasedFileInfo::volumeRelativeStandardPath()
{
    QString relative = vtr::pathFromWindowsPath(rest());
    if (relative.startsWith(QLatin1Char('/'))) relative.remove(0, 1);
    return relative;
}

void VtrWindowsPathBasedFileInfo::updateName(const QString &name)
{
    VtrFileInfoPtr parent = parentFolder();
    if (!parent) return; // a drive root has no name of its own to change
    const QString posixParent = vtr::pathFromWindowsPath(parent->path());
    setPath(vtr::windowsPathFromPath(vtr::posixAppendPathComponent(posixParent, name)));
}

bool VtrWindowsPathBasedFileInfo::isEqualTo(const VtrFileInfoPtr &other)
{
    auto *windows = dynamic_cast<VtrWindowsPathBasedFileInfo *>(other.get());
    if (!windows) return VtrPathBasedFileInfo::isEqualTo(other);
    return path().compare(windows->path(), Qt::CaseInsensitive) == 0;
}

int VtrWindowsPathBasedFileInfo::numBytesNeededForPath()
{
    const QString measured = QStringLiteral("\\sdcard-ext\\") + rest();
    return int(measured.toUtf8().size());
}

QString VtrWindowsPathBasedFileInfo::relativePathTo(const VtrFileInfoPtr &other)
{
    if (!other) return QString();
    auto *windows = dynamic_cast<VtrWindowsPathBasedFileInfo *>(other.get());
    VtrFileInfoPtr myVolume = volume();
    VtrFileInfoPtr otherVolume = other->volume();
    if (!windows || !myVolume || !otherVolume || !myVolume->isEqualTo(otherVolume)) return other->path();

    QString myRest;
    QString otherRest;
    vtr::decomposeWindowsPath(path(), nullptr, &myRest);
    vtr::decomposeWindowsPath(other->path(), nullptr, &otherRest);
    myRest = dropOneTrailingBackslash(myRest);
    otherRest = dropOneTrailingBackslash(otherRest);
    const QStringList a = myRest.isEmpty() ? QStringList() : vtr::windowsPathComponents(myRest);
    const QStringList b = otherRest.isEmpty() ? QStringList() : vtr::windowsPathComponents(otherRest);
    qsizetype common = 0;
    while (common < a.size() && common < b.size() && a.at(common).compare(b.at(common), Qt::CaseInsensitive) == 0)
        ++common;

    QString result = QStringLiteral("");
    if (!contains(other)) {
        for (qsizetype i = common; i < a.size(); ++i)
            result = vtr::windowsStringByAppendingPathComponent(result, QStringLiteral(".."));
    }
    for (qsizetype i = common; i < b.size(); ++i)
        result = vtr::windowsStringByAppendingPathComponent(result, b.at(i));
    return result;
}

QStringList VtrWindowsPathBasedFileInfo::relativePathComponentsTo(const VtrFileInfoPtr &other)
{
    const QString relative = relativePathTo(other);
    if (relative.isNull()) return {};
    return dropOneTrailingBackslash(relative).split(kBackslash);
}
