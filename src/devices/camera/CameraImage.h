#pragma once

#include "fileinfo/VtrBaseFileInfo.h"

#include <QDateTime>
#include <QString>
#include <QVariantMap>

#include <memory>

namespace vtr::camera {
class CameraSession;
}

// One downloadable object of a camera (a photo or video of an iPhone's camera
// roll). Made by CameraDevice::images(); holds its camera's session, so it
// stays usable (with errors once the camera has gone) for as long as it lives.
class CameraImage
{
public:
    // `info` is an object dictionary of the camera's full information:
    // "icao" (object handle), "ifil" (name), "isiz" (size), "0100" / "0101"
    // (width / height, when known).
    CameraImage(QVariantMap info, std::shared_ptr<vtr::camera::CameraSession> session);

    QVariantMap info() const { return _info; }
    // The name the camera gives (untrusted: never used as a path as it is).
    QString filename() const;
    qint64 size() const;
    float width() const;
    float height() const;
    // The date the camera gives the file (UTC); invalid when it gives none.
    QDateTime modificationDate() const;

    // Downloads the object into `folder` (an existing local folder) under a
    // name made from filename(): made a valid single file name and, when taken
    // (ignoring case), made unique. The contents reach the folder through a
    // temporary file that is renamed only when complete; a failed download
    // leaves the folder as it was. The new file carries modificationDate()
    // when the camera gives one.
    //
    // Answers the new file; nullptr when the folder is not a local folder that
    // exists, or when the download cannot start at all (the camera has gone,
    // the object is unknown to it). A download that starts and fails (the
    // file vanished from the camera, a time-out, not enough space, a write
    // error) throws VtrException "failed to download file" whose reason names
    // the file and the camera library's result code.
    // Blocks the calling thread until done.
    VtrFileInfoPtr downloadToFolder(const VtrFileInfoPtr &folder);

    // The file name a download uses for a camera-supplied name.
    static QString safeFileName(const QString &cameraName);

private:
    QVariantMap _info;
    std::shared_ptr<vtr::camera::CameraSession> m_session;
};

using CameraImagePtr = std::shared_ptr<CameraImage>;
