#include "devices/camera/CameraImage.h"

#include "devices/LocalFileNames.h"
#include "devices/camera/CameraSession.h"
#include "fileinfo/FileInfoCopy.h"
#include "fileinfo/VtrMacFileInfo.h"
#include "foundation/Log.h"
#include "platform/Strings.h"
#include "platform/VtrException.h"

#include <QFile>
#include <QTimeZone>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kHandleKey = QStringLiteral("icao");
const QString kFilenameKey = QStringLiteral("ifil");
const QString kSizeKey = QStringLiteral("isiz");
const QString kWidthKey = QStringLiteral("0100");
const QString kHeightKey = QStringLiteral("0101");
const QString kModificationKey = QStringLiteral("mtime");

// The library's "file exists": every unique form of the name is taken.
constexpr int kCameraFileExists = -103;

int openForWriting(const QString &path)
{
    const QByteArray bytes = QFile::encodeName(path);
    int fd;
    do {
        fd = ::open(bytes.constData(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOFOLLOW);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

[[noreturn]] void raiseDownloadFailure(const QString &filename, int error)
{
    // Both values at once: a name holding "%2" must stay as it is.
    throw VtrException(QStringLiteral("failed to download file"),
                       vtrLocalized("An error occurred while downloading the file \"%1\" (err=%2).")
                           .arg(filename, QString::number(error)));
}

} // namespace

CameraImage::CameraImage(QVariantMap info, std::shared_ptr<vtr::camera::CameraSession> session)
    : _info(std::move(info)), m_session(std::move(session))
{}

QString CameraImage::filename() const
{
    return _info.value(kFilenameKey).toString();
}

qint64 CameraImage::size() const
{
    return _info.value(kSizeKey).toLongLong();
}

float CameraImage::width() const
{
    return _info.value(kWidthKey).toFloat();
}

float CameraImage::height() const
{
    return _info.value(kHeightKey).toFloat();
}

QDateTime CameraImage::modificationDate() const
{
    bool ok = false;
    const qint64 seconds = _info.value(kModificationKey).toLongLong(&ok);
    return ok && seconds > 0 ? QDateTime::fromSecsSinceEpoch(seconds, QTimeZone::utc()) : QDateTime();
}

QString CameraImage::safeFileName(const QString &cameraName)
{
    QString name;
    name.reserve(cameraName.size());
    for (const QChar c : cameraName) {
        const ushort unit = c.unicode();
        name.append(unit < 0x20 || unit == 0x7F ? QChar(QLatin1Char('_')) : c);
    }
    name = VtrMacFileInfo::makeNameOSCompliant(name);
    if (name.trimmed().isEmpty()) name = QStringLiteral("Untitled");
    // The name of the copy's own temporary file is not available.
    if (vtr::isTemporaryCopyFileName(name)) name.prepend(QLatin1Char('_'));

    return vtr::fitLocalNameLength(name);
}

VtrFileInfoPtr CameraImage::downloadToFolder(const VtrFileInfoPtr &folder)
{
    auto *local = dynamic_cast<VtrMacFileInfo *>(folder.get());
    if (!local) return nullptr;
    local->refresh();
    if (local->fileRef(nullptr) != 0 || !local->isFolder()) return nullptr;

    // Nothing to start with: the camera has gone, or this object is not its own.
    const quint64 handle = _info.value(kHandleKey).toULongLong();
    if (!m_session || !m_session->isOpen() || !m_session->hasObject(handle)) return nullptr;

    int error = vtr::camera::kCameraOK;
    const QString unique = folder->uniqueFilename(safeFileName(filename()));
    VtrFileInfoPtr destination = unique.isNull() ? nullptr : folder->find(unique);
    if (!destination) {
        error = kCameraFileExists;
    } else {
        vtr::TemporaryFileCopyOptions options;
        options.requiredBytes = std::max<qint64>(0, size());
        const QDateTime date = modificationDate();
        int transfer = vtr::camera::kCameraOK;
        const auto fill = [&](const VtrFileInfoPtr &temporary) -> FileInfoCopyStatus {
            const int fd = openForWriting(temporary->path());
            if (fd < 0) {
                transfer = vtr::camera::kCameraOSFailure;
                return kFileInfoCopyDestinationNotOpened;
            }
            transfer = m_session->download(handle, fd);
            // The copy is dated as the photo, not as the moment it was copied.
            if (transfer >= vtr::camera::kCameraOK && date.isValid()) {
                const struct timespec times[2] = {{0, UTIME_OMIT}, {time_t(date.toSecsSinceEpoch()), 0}};
                if (::futimens(fd, times) != 0)
                    VTR_LOG(1, QStringLiteral("The date of the copy of \"%1\" cannot be set: %2")
                                   .arg(filename(), QString::fromLocal8Bit(std::strerror(errno))));
            }
            if (transfer >= vtr::camera::kCameraOK && ::fsync(fd) != 0) transfer = vtr::camera::kCameraOSFailure;
            if (::close(fd) != 0 && transfer >= vtr::camera::kCameraOK) transfer = vtr::camera::kCameraOSFailure;
            return transfer >= vtr::camera::kCameraOK ? kFileInfoCopyOK : kFileInfoCopyReadFailed;
        };
        VtrFileInfoPtr newItem;
        const FileInfoCopyStatus status = vtr::copyThroughTemporaryFile(destination, options, fill, &newItem);
        if (status == kFileInfoCopyOK && newItem) return VtrMacFileInfo::fileInfoWithPath(newItem->path());
        if (transfer < vtr::camera::kCameraOK)
            error = transfer;
        else if (status == kFileInfoCopyNoSpace)
            error = vtr::camera::kCameraNoSpace;
        else
            error = vtr::camera::kCameraOSFailure;
    }
    VTR_LOG(2, QStringLiteral("Download of the camera file \"%1\" failed: %2")
                   .arg(filename(), vtr::camera::cameraResultText(error)));
    raiseDownloadFailure(filename(), error);
}
