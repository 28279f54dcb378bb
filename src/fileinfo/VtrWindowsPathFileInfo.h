#pragma once

#include "fileinfo/VtrPathFileInfo.h"

#include <QString>

#include <memory>

// A file info named by a Windows-style device path: backslashes and an
// optional drive prefix ("E:\Music\x.mp3"). The drive and the rest are always
// computed from the stored path. The phone kind builds on it.
class VtrWindowsPathBasedFileInfo : public VtrPathBasedFileInfo
{
public:
    using VtrPathBasedFileInfo::VtrPathBasedFileInfo;

    static std::shared_ptr<VtrWindowsPathBasedFileInfo> fileInfoWithPath(const QString &path);

    QString archiveClassName() const override;

    // The stored path, with a backslash appended for a folder.
    QString path() override;
    // The last component of the rest; the drive for a drive root.
    QString name() override;
    QString nameWithoutExtension() override;
    // nullptr for a drive root or an empty path.
    VtrFileInfoPtr parentFolder() override;
    bool isVolume() override;
    // The drive alone ("" when there is none).
    VtrFileInfoPtr volume() override;
    // The drive first ("" when none), then the components of the rest.
    QStringList pathComponents() override;
    // "E:\Music\" gives "E:/Music", "E:\" gives "E:/".
    QString standardPath() override;
    QString volumeRelativeStandardPath() override;
    void updateName(const QString &name) override;
    bool isEqualTo(const VtrFileInfoPtr &other) override;
    // UTF-8 bytes of "\sdcard-ext\" plus the rest: measured as if the item lay
    // under the phone's external card root, whatever its drive.
    int numBytesNeededForPath() override;
    QString relativePathTo(const VtrFileInfoPtr &other) override;
    QStringList relativePathComponentsTo(const VtrFileInfoPtr &other) override;

protected:
    QString drive();
    QString rest();
};
