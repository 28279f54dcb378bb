#pragma once

#include "fileinfo/VtrBaseFileInfo.h"

#include <QString>

#include <memory>

// A file info named by a POSIX path ("/" separators). It answers identity and
// path questions by path arithmetic alone; existence, kind, contents and the
// real rename or move belong to the kinds built on it (the local kind).
class VtrPathBasedFileInfo : public VtrBaseFileInfo
{
public:
    VtrPathBasedFileInfo();
    explicit VtrPathBasedFileInfo(const QString &path); // a null path is stored as ""

    // A VtrPathBasedFileInfo (this class, whatever kind calls it).
    static std::shared_ptr<VtrPathBasedFileInfo> fileInfoWithPath(const QString &path);

    // Stores a new path and sends refresh() so a kind drops cached attributes.
    void _setPath(const QString &path);
    // Stores a new path without refresh (record only; the store is untouched).
    void setPath(const QString &path);
    // setPath() of `folderPrefix` + `name`, kept as the two strings: every
    // item listed from one folder shares the folder's text, so a listing
    // deep in a tree costs what its names are long, not its paths.
    // `folderPrefix` ends with a separator; a `name` that is not one plain
    // name (empty, or holding "/" or "\") is stored joined.
    void setPathInFolder(const QString &folderPrefix, const QString &name);
    // The stored path as it is, for kinds that override path().
    QString storedPath() const { return _itsFolder.isEmpty() ? _itsName : _itsFolder + _itsName; }
    // storedPath() == path, without joining the stored parts.
    bool storedPathEquals(QStringView path, Qt::CaseSensitivity cs = Qt::CaseSensitive) const
    {
        const qsizetype folder = _itsFolder.size();
        return folder + _itsName.size() == path.size() &&
               QStringView(_itsFolder).compare(path.first(folder), cs) == 0 &&
               QStringView(_itsName).compare(path.sliced(folder), cs) == 0;
    }

    QString archiveClassName() const override;
    void encodeWithCoder(QVariantMap &coder) override;
    void initWithCoder(const QVariantMap &coder) override;

    QString path() override;
    QString description() override;
    QString name() override;
    QString nameWithoutExtension() override;
    // "/a/b/" gives "/", "a", "b"; "/" gives "/".
    QStringList pathComponents() override;
    // A VtrPathBasedFileInfo for the path less its last component.
    VtrFileInfoPtr parentFolder() override;
    void updateName(const QString &name) override;
    // Record only: the receiver takes the destination's path; 0.
    FileInfoCopyStatus moveTo(const VtrFileInfoPtr &destination) override;
    // A folder contains itself and every item whose path continues its own
    // with a separator, ignoring case ("/a/b" contains "/A/B/c", not "/a/bc").
    bool contains(const VtrFileInfoPtr &other) override;
    // Another path-based file info whose stored path is equal ignoring case.
    bool isEqualTo(const VtrFileInfoPtr &other) override;
    // From this folder (or this file's folder) to `other`: "../c/d"; the
    // other's path when the two lie on different volumes (or have none).
    QString relativePathTo(const VtrFileInfoPtr &other) override;
    QStringList relativePathComponentsTo(const VtrFileInfoPtr &other) override;
    // The path below the volume's path, without leading or trailing "/".
    QString volumeRelativeStandardPath() override;

protected:
    // The stored path's last component when it was stored by
    // setPathInFolder(); null otherwise.
    QString nameInFolder() const { return _itsFolder.isEmpty() ? QString() : _itsName; }

private:
    // The path is _itsFolder + _itsName; _itsFolder is empty when the path
    // was stored whole.
    QString _itsFolder;
    QString _itsName;
};
