#include "fileinfo/VtrFileInfoFilters.h"

#include "foundation/Log.h"
#include "foundation/VtrString.h"
#include "platform/Folders.h"

#include <QDir>

#include <exception>

// ---- simple filters ------------------------------------------------------------

std::shared_ptr<VtrVisibleItemsFilter> VtrVisibleItemsFilter::filter()
{
    return std::make_shared<VtrVisibleItemsFilter>();
}

bool VtrVisibleItemsFilter::includeItem(const VtrFileInfoPtr &item, bool *)
{
    return item && item->visible();
}

std::shared_ptr<VtrFilesOnlyFilter> VtrFilesOnlyFilter::filter()
{
    return std::make_shared<VtrFilesOnlyFilter>();
}

bool VtrFilesOnlyFilter::includeItem(const VtrFileInfoPtr &item, bool *)
{
    return item && item->isFile();
}

std::shared_ptr<VtrFoldersOnlyFilter> VtrFoldersOnlyFilter::filter()
{
    return std::make_shared<VtrFoldersOnlyFilter>();
}

bool VtrFoldersOnlyFilter::includeItem(const VtrFileInfoPtr &item, bool *)
{
    return item && item->isFolder();
}

std::shared_ptr<VtrRemoveMacGeneratedItemsFilter> VtrRemoveMacGeneratedItemsFilter::filter()
{
    return std::make_shared<VtrRemoveMacGeneratedItemsFilter>();
}

bool VtrRemoveMacGeneratedItemsFilter::includeItem(const VtrFileInfoPtr &item, bool *)
{
    if (!item) return false;
    const QString name = item->name();
    if (name.compare(QStringLiteral(".DS_Store"), Qt::CaseInsensitive) == 0 || name.startsWith(QStringLiteral("._"))) {
        try {
            item->remove();
        } catch (const std::exception &) {
            // Cleaning is best effort: an item that cannot go stays.
        }
    }
    return false;
}

// ---- excluded names --------------------------------------------------------------

VtrExcludeFilenamesFilter::VtrExcludeFilenamesFilter(const QStringList &filenames, bool includeFolders)
    : _allowFolders(includeFolders), _filenamesToExclude(filenames)
{}

std::shared_ptr<VtrExcludeFilenamesFilter> VtrExcludeFilenamesFilter::filterWithFilenames(const QStringList &filenames,
                                                                                          bool includeFolders)
{
    return std::make_shared<VtrExcludeFilenamesFilter>(filenames, includeFolders);
}

bool VtrExcludeFilenamesFilter::includeItem(const VtrFileInfoPtr &item, bool *)
{
    if (!item) return false;
    if (item->isFolder() && !_allowFolders) return false;
    const QString name = item->name();
    for (const QString &excluded : _filenamesToExclude) {
        if (name.compare(excluded, Qt::CaseInsensitive) == 0) return false;
    }
    return true;
}

// ---- extensions -------------------------------------------------------------------

VtrFileExtensionsFilter::VtrFileExtensionsFilter(const QStringList &extensions) : _fileExtensions(extensions) {}

std::shared_ptr<VtrFileExtensionsFilter> VtrFileExtensionsFilter::filterWithExtensions(const QStringList &extensions)
{
    return std::make_shared<VtrFileExtensionsFilter>(extensions);
}

bool VtrFileExtensionsFilter::includeItem(const VtrFileInfoPtr &item, bool *)
{
    if (!item) return false;
    if (_hideHiddenFilesAndFolders && (!item->visible() || vtr::isDotFileName(item->name()))) {
        VtrDebugLog(QStringLiteral("Skipping item \"%1\"").arg(item->path()));
        return false;
    }
    // Folders are media only when asked for; a folder named "x.mp3" is not.
    if (item->isFolder()) return _allowFolders;
    if (_hideEmptyFiles && item->isFile() && item->size() == 0) return false;
    const QString ext = item->extension();
    for (const QString &wanted : _fileExtensions) {
        if (ext.compare(wanted, Qt::CaseInsensitive) == 0) return true;
    }
    return false;
}

// ---- nested folders ------------------------------------------------------------------

namespace {

QString expandTilde(const QString &path)
{
    if (path == QLatin1String("~")) return platform::homeFolder();
    if (path.startsWith(QLatin1String("~/"))) return platform::homeFolder() + path.mid(1);
    return path;
}

} // namespace

BaseFilterNestedFolders::BaseFilterNestedFolders(const QString &rootPath)
    : _rootPath(expandTilde(rootPath) + QLatin1Char('/'))
{}

bool BaseFilterNestedFolders::includeItem(const VtrFileInfoPtr &item, bool *)
{
    if (!item) return false;
    VtrFileInfoPtr target = item->aliasTarget();
    if (!target || !target->isFolder()) return true;
    const QString targetPath = target->path() + QLatin1Char('/');
    return !targetPath.startsWith(_rootPath, Qt::CaseInsensitive);
}

// ---- name tests ------------------------------------------------------------------------

BaseFilterFilenamePrefix::BaseFilterFilenamePrefix(const QString &filenamePrefix)
    : _filenamePrefix(filenamePrefix.toUpper())
{}

std::shared_ptr<BaseFilterFilenamePrefix>
BaseFilterFilenamePrefix::filterWithFilenamePrefix(const QString &filenamePrefix)
{
    return std::make_shared<BaseFilterFilenamePrefix>(filenamePrefix);
}

bool BaseFilterFilenamePrefix::includeItem(const VtrFileInfoPtr &item, bool *)
{
    return item && item->nameWithoutExtension().toUpper() == _filenamePrefix;
}

BaseFilterItemsNamed::BaseFilterItemsNamed(const QStringList &itemNames, bool includeFiles, bool includeFolders)
    : _itemNames(itemNames), _includeFiles(includeFiles), _includeFolders(includeFolders)
{}

std::shared_ptr<BaseFilterItemsNamed> BaseFilterItemsNamed::filterWithItemNames(const QStringList &itemNames,
                                                                                bool includeFiles, bool includeFolders)
{
    return std::make_shared<BaseFilterItemsNamed>(itemNames, includeFiles, includeFolders);
}

bool BaseFilterItemsNamed::includeItem(const VtrFileInfoPtr &item, bool *stop)
{
    if (!item) return false;
    const QString name = item->name();
    for (const QString &wanted : _itemNames) {
        if (name.compare(wanted, Qt::CaseInsensitive) != 0) continue;
        if ((_includeFiles && item->isFile()) || (_includeFolders && item->isFolder())) {
            if (_findOne && stop) *stop = true;
            return true;
        }
    }
    return false;
}

VtrFindItemFilter::VtrFindItemFilter(const QString &nameToFind, bool ignoreCase, bool findOnlyOne)
    : _nameToFind(nameToFind), _ignoreCase(ignoreCase), _findOnlyOne(findOnlyOne)
{}

bool VtrFindItemFilter::includeItem(const VtrFileInfoPtr &item, bool *stop)
{
    if (!item) return false;
    if (item->name().compare(_nameToFind, _ignoreCase ? Qt::CaseInsensitive : Qt::CaseSensitive) != 0) return false;
    if (stop) *stop = _findOnlyOne;
    return true;
}

// ---- recursive listing ----------------------------------------------------------------------

VtrDeepListingFilter::VtrDeepListingFilter(VtrBaseFileInfoFilter *realFilter, VtrFileInfoList &theArray,
                                           bool includeHidden, const QString &walkRootPath)
    : _realFilter(realFilter), _theArray(theArray), _includeHidden(includeHidden), _walkRootPath(walkRootPath)
{
    _entered.insert(QDir::cleanPath(walkRootPath));
}

bool VtrDeepListingFilter::shouldEnter(const VtrFileInfoPtr &folder)
{
    const VtrFileInfoPtr resolved = folder->resolvedFileInfo();
    const QString ownPath = QDir::cleanPath(folder->path());
    const QString resolvedPath = resolved ? QDir::cleanPath(resolved->path()) : ownPath;
    if (_entered.contains(resolvedPath)) return false;
    // A link to the walk's root or to a folder above it would walk the same
    // tree (or everything around it) again.
    if (resolvedPath != ownPath) {
        QString withSlash = resolvedPath;
        if (!withSlash.endsWith(QLatin1Char('/'))) withSlash += QLatin1Char('/');
        if (_walkRootPath.startsWith(withSlash)) return false;
    }
    _entered.insert(resolvedPath);
    return true;
}

bool VtrDeepListingFilter::includeItem(const VtrFileInfoPtr &item, bool *stop)
{
    if (!item) return false;
    const bool dotName = vtr::isDotFileName(item->name());
    bool include;
    if (_realFilter)
        include = _realFilter->includeItem(item, stop);
    else
        include = _includeHidden || !dotName;

    const bool skipHidden = !_includeHidden && dotName;
    const bool stopped = stop && *stop;
    if (!skipHidden && !stopped && item->isFolder() && shouldEnter(item)) {
        const VtrFileInfoList inside = item->folderContentsWithFilter(this);
        _theArray.append(inside);
    }
    return include;
}
