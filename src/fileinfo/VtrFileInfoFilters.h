#pragma once

#include "fileinfo/VtrBaseFileInfo.h"

#include <QSet>
#include <QString>
#include <QStringList>

#include <memory>

// The filters of file-info listings. A filter keeps no state between calls
// except its settings; the stop flag is set only by the filters that say so.

// Accepts visible items.
class VtrVisibleItemsFilter : public VtrBaseFileInfoFilter
{
public:
    static std::shared_ptr<VtrVisibleItemsFilter> filter();
    bool includeItem(const VtrFileInfoPtr &item, bool *stop) override;
};

// Accepts files.
class VtrFilesOnlyFilter : public VtrBaseFileInfoFilter
{
public:
    static std::shared_ptr<VtrFilesOnlyFilter> filter();
    bool includeItem(const VtrFileInfoPtr &item, bool *stop) override;
};

// Accepts folders.
class VtrFoldersOnlyFilter : public VtrBaseFileInfoFilter
{
public:
    static std::shared_ptr<VtrFoldersOnlyFilter> filter();
    bool includeItem(const VtrFileInfoPtr &item, bool *stop) override;
};

// Accepts nothing; removes every ".DS_Store" (any case) and "._*" item it is
// offered, so a listing through it cleans a folder of computer-made files.
class VtrRemoveMacGeneratedItemsFilter : public VtrBaseFileInfoFilter
{
public:
    static std::shared_ptr<VtrRemoveMacGeneratedItemsFilter> filter();
    bool includeItem(const VtrFileInfoPtr &item, bool *stop) override;
};

// Refuses folders (unless allowed) and items whose name is one of the given
// names, ignoring case.
class VtrExcludeFilenamesFilter : public VtrBaseFileInfoFilter
{
public:
    VtrExcludeFilenamesFilter(const QStringList &filenames, bool includeFolders);
    static std::shared_ptr<VtrExcludeFilenamesFilter> filterWithFilenames(const QStringList &filenames,
                                                                          bool includeFolders);
    bool includeItem(const VtrFileInfoPtr &item, bool *stop) override;

private:
    bool _allowFolders;
    QStringList _filenamesToExclude;
};

// Accepts items whose extension is one of the given ones, ignoring case (an
// item without extension matches only ""); optionally every folder, never
// empty files, never hidden or dot-named items.
class VtrFileExtensionsFilter : public VtrBaseFileInfoFilter
{
public:
    explicit VtrFileExtensionsFilter(const QStringList &extensions);
    static std::shared_ptr<VtrFileExtensionsFilter> filterWithExtensions(const QStringList &extensions);
    bool includeItem(const VtrFileInfoPtr &item, bool *stop) override;

    void setAllowFolders(bool allow) { _allowFolders = allow; }
    void setHideEmptyFiles(bool hide) { _hideEmptyFiles = hide; }
    void setHideHiddenFilesAndFolders(bool hide) { _hideHiddenFilesAndFolders = hide; }
    bool hideEmptyFiles() const { return _hideEmptyFiles; }

private:
    QStringList _fileExtensions;
    bool _allowFolders = false;
    bool _hideEmptyFiles = false;
    bool _hideHiddenFilesAndFolders = false;
};

// Refuses an alias whose target is the root folder or lies inside it, so a
// walk from the root never re-enters its own tree; accepts everything else.
class BaseFilterNestedFolders : public VtrBaseFileInfoFilter
{
public:
    // "~" is expanded to the home folder and "/" appended.
    explicit BaseFilterNestedFolders(const QString &rootPath);
    bool includeItem(const VtrFileInfoPtr &item, bool *stop) override;
    QString rootPath() const { return _rootPath; }

private:
    QString _rootPath;
};

// Accepts items whose name without extension, upper-cased, equals the given
// text upper-cased (a whole-name comparison despite the class's name).
class BaseFilterFilenamePrefix : public VtrBaseFileInfoFilter
{
public:
    explicit BaseFilterFilenamePrefix(const QString &filenamePrefix);
    static std::shared_ptr<BaseFilterFilenamePrefix> filterWithFilenamePrefix(const QString &filenamePrefix);
    bool includeItem(const VtrFileInfoPtr &item, bool *stop) override;

private:
    QString _filenamePrefix;
};

// Accepts files and/or folders named one of the given names (ignoring case);
// with findOne, the first match also stops the listing.
class BaseFilterItemsNamed : public VtrBaseFileInfoFilter
{
public:
    BaseFilterItemsNamed(const QStringList &itemNames, bool includeFiles, bool includeFolders);
    static std::shared_ptr<BaseFilterItemsNamed> filterWithItemNames(const QStringList &itemNames, bool includeFiles,
                                                                     bool includeFolders);
    bool includeItem(const VtrFileInfoPtr &item, bool *stop) override;
    void setFindOne(bool findOne) { _findOne = findOne; }
    bool findOne() const { return _findOne; }

private:
    QStringList _itemNames;
    bool _includeFiles;
    bool _includeFolders;
    bool _findOne = false;
};

// Finding by name, used with the recursive listing by the kinds' findDeep:
// accepts items whose name equals the given one (ignoring case when asked);
// a match sets the stop flag to `findOnlyOne`.
class VtrFindItemFilter : public VtrBaseFileInfoFilter
{
public:
    VtrFindItemFilter(const QString &nameToFind, bool ignoreCase, bool findOnlyOne);
    bool includeItem(const VtrFileInfoPtr &item, bool *stop) override;

private:
    QString _nameToFind;
    bool _ignoreCase;
    bool _findOnlyOne;
};

// The recursive listing's filter (VtrBaseFileInfo::folderContentsDeepWithFilter):
// answers the caller's filter, and for a folder first lists that folder with
// itself and appends what it found to the result. A folder is entered once per
// walk, and never through a link that leads to the walk's root or above it.
class VtrDeepListingFilter : public VtrBaseFileInfoFilter
{
public:
    VtrDeepListingFilter(VtrBaseFileInfoFilter *realFilter, VtrFileInfoList &theArray, bool includeHidden,
                         const QString &walkRootPath);
    bool includeItem(const VtrFileInfoPtr &item, bool *stop) override;

private:
    bool shouldEnter(const VtrFileInfoPtr &folder);

    VtrBaseFileInfoFilter *_realFilter;
    VtrFileInfoList &_theArray;
    bool _includeHidden;
    QString _walkRootPath;
    QSet<QString> _entered;
};
