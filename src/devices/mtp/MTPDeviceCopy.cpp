// Whole-file copies between this computer and the phone.

#include "devices/mtp/MTPDevice.h"

#include "devices/mtp/MTPDevicePrivate.h"
#include "fileinfo/FileInfoCopy.h"
#include "foundation/Log.h"
#include "foundation/VtrString.h"

#include <QDateTime>

#include <algorithm>
#include <cstring>
#include <exception>
#include <limits>

using namespace mtpdevice;

namespace {

// What the data handlers of one transfer share. The computer-side file is
// read or written through its ranged access with `handle`.
struct TransferContext
{
    VtrFileInfoPtr srcFile;
    VtrFileInfoPtr dstFile;
    VtrBaseFileInfo *computerFile = nullptr;
    VtrFileInfoHandle *handle = nullptr;
    FileInfoCopyProgress *progress = nullptr;
    void *userData = nullptr;
    const std::atomic<bool> *detaching = nullptr;
    qint64 offset = 0;
    qint64 total = 0;
    bool progressReported = false;
    bool cancelled = false; // by the progress callback
    bool failed = false;    // an exception ended the transfer
    bool detached = false;  // the device was being detached
};

// Percent of the source done; a source of size 0 is complete (100).
float percentDone(const TransferContext &context)
{
    if (context.total <= 0) return 100.0f;
    const double percent = double(context.offset) * 100.0 / double(context.total);
    return float(std::clamp(percent, 0.0, 100.0));
}

// After each block: the progress callback may cancel.
uint16_t reportProgress(TransferContext &context)
{
    context.progressReported = true;
    if (context.progress &&
        context.progress->copyingFile(context.srcFile, context.dstFile, percentDone(context), context.userData)) {
        context.cancelled = true;
        return LIBMTP_HANDLER_RETURN_CANCEL;
    }
    return LIBMTP_HANDLER_RETURN_OK;
}

uint16_t cancelForException(TransferContext &context, const QString &what)
{
    VTR_LOG(2, QStringLiteral("Exception %1 when copying file %2.")
                   .arg(what, context.srcFile ? context.srcFile->path() : QString()));
    context.failed = true;
    return LIBMTP_HANDLER_RETURN_CANCEL;
}

// Phone -> computer: writes each block at the running offset.
uint16_t mtpWriteToFileHandle(void *, void *priv, uint32_t length, unsigned char *data, uint32_t *putLength)
{
    auto &context = *static_cast<TransferContext *>(priv);
    *putLength = 0;
    try {
        if (context.detaching->load()) {
            context.detached = true;
            return LIBMTP_HANDLER_RETURN_CANCEL;
        }
        if (length == 0 || !data) return LIBMTP_HANDLER_RETURN_ERROR;
        const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(length));
        if (context.computerFile->setFileContentsWithRange(bytes, VtrFileRange{context.offset, qint64(length)},
                                                           context.handle) != kFileInfoCopyOK)
            return LIBMTP_HANDLER_RETURN_ERROR;
        context.offset += length;
        *putLength = length;
        return reportProgress(context);
    } catch (const std::exception &e) {
        return cancelForException(context, QString::fromLocal8Bit(e.what()));
    } catch (...) {
        return cancelForException(context, QStringLiteral("(unknown)"));
    }
}

// Computer -> phone: reads up to the wanted length at the running offset.
uint16_t mtpReadFromFileHandle(void *, void *priv, uint32_t wantLength, unsigned char *data, uint32_t *gotLength)
{
    auto &context = *static_cast<TransferContext *>(priv);
    *gotLength = 0;
    try {
        if (context.detaching->load()) {
            context.detached = true;
            return LIBMTP_HANDLER_RETURN_CANCEL;
        }
        if (wantLength == 0 || !data) return LIBMTP_HANDLER_RETURN_ERROR;
        const QByteArray bytes = context.computerFile->fileContentsWithRange(
            VtrFileRange{context.offset, qint64(wantLength)}, context.handle);
        if (bytes.isEmpty()) return LIBMTP_HANDLER_RETURN_ERROR;
        const uint32_t count = uint32_t(std::min<qint64>(bytes.size(), wantLength));
        std::memcpy(data, bytes.constData(), count);
        context.offset += count;
        *gotLength = count;
        return reportProgress(context);
    } catch (const std::exception &e) {
        return cancelForException(context, QString::fromLocal8Bit(e.what()));
    } catch (...) {
        return cancelForException(context, QStringLiteral("(unknown)"));
    }
}

// The file type of a file sent without metadata, chosen by its extension;
// nullopt keeps the open record's type. Videos are marked as such.
std::optional<LIBMTP_filetype_t> filetypeForExtension(const QString &extension, int *metadataType)
{
    const QString upper = extension.toUpper();
    if (upper == QLatin1String("JPG") || upper == QLatin1String("JPEG")) return LIBMTP_FILETYPE_JPEG;
    LIBMTP_filetype_t type;
    if (upper == QLatin1String("MP4") || upper == QLatin1String("M4V"))
        type = LIBMTP_FILETYPE_MP4;
    else if (upper == QLatin1String("WMV"))
        type = LIBMTP_FILETYPE_WMV;
    else if (upper == QLatin1String("AVI"))
        type = LIBMTP_FILETYPE_AVI;
    else if (upper == QLatin1String("3GP"))
        type = LIBMTP_FILETYPE_UNDEF_VIDEO;
    else
        return std::nullopt;
    *metadataType = 3;
    return type;
}

QDateTime dateFromSeconds(qint64 seconds)
{
    return seconds != 0 ? QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC) : QDateTime::currentDateTimeUtc();
}

// Resets the in-transfer flag however the transfer ends.
class TransferScope
{
public:
    explicit TransferScope(bool &flag) : m_flag(flag) { m_flag = true; }
    ~TransferScope() { m_flag = false; }
    TransferScope(const TransferScope &) = delete;
    TransferScope &operator=(const TransferScope &) = delete;

private:
    bool &m_flag;
};

} // namespace

std::optional<QVariantMap> MTPDevice::mtpMetadataFromFile(const VtrFileInfoPtr &file)
{
    if (auto *source = dynamic_cast<MtpMetadataSource *>(file.get())) return source->mtpMetadata();
    return std::nullopt;
}

QByteArray MTPDevice::albumArtworkForFile(const VtrFileInfoPtr &file)
{
    if (auto *source = dynamic_cast<MtpArtworkSource *>(file.get())) return source->artworkData();
    return QByteArray();
}

// ============================================================================
// Phone -> computer
// ============================================================================

FileInfoCopyStatus MTPDevice::copyDeviceFile(const VtrFileInfoPtr &deviceFile, const VtrFileInfoPtr &desktopFile,
                                             FileInfoProgress *progress, void *userData)
{
    Lock lock(m_mutex);
    if (!live()) return kFileInfoCopyKindCannot;
    if (!deviceFile || !desktopFile) return kFileInfoCopyBadArguments;
    const Entry *entry = m_map ? m_map->entryForPath(normalizePathForZune(deviceFile->path())) : nullptr;
    if (!entry || !entry->isFile()) {
        VTR_LOG(1, QStringLiteral("There is no phone file \"%1\" to copy").arg(deviceFile->path()));
        return kFileInfoCopyWriteFailed;
    }
    const MtpObjectId objectId = entry->objectId;
    const qint64 size = qint64(std::min<uint64_t>(entry->size, uint64_t(std::numeric_limits<qint64>::max())));

    auto fill = [&](const VtrFileInfoPtr &file) {
        return receiveInto(objectId, size, deviceFile, file, progress, userData);
    };
    // The caller's temporary copy file is written as it is; any other
    // destination is replaced only once a complete copy exists.
    if (vtr::isTemporaryCopyFileName(desktopFile->name())) return fill(desktopFile);
    vtr::TemporaryFileCopyOptions options;
    options.requiredBytes = size;
    options.progress = progress;
    options.userData = userData;
    VtrFileInfoPtr newItem;
    return vtr::copyThroughTemporaryFile(desktopFile, options, fill, &newItem);
}

FileInfoCopyStatus MTPDevice::receiveInto(MtpObjectId objectId, qint64 size, const VtrFileInfoPtr &deviceFile,
                                          const VtrFileInfoPtr &file, FileInfoProgress *progress, void *userData)
{
    LIBMTP_mtpdevice_t *device = live();
    if (!device) return kFileInfoCopyWriteFailed;
    VtrFileInfoHandlePtr handle = file->openFileForWriting();
    if (!handle) {
        VTR_LOG(1, QStringLiteral("\"%1\" did not open for writing").arg(file->path()));
        return kFileInfoCopyWriteFailed;
    }
    TransferContext context;
    context.srcFile = deviceFile;
    context.dstFile = file;
    context.computerFile = file.get();
    context.handle = handle.get();
    context.progress = asCopyProgress(progress);
    context.userData = userData;
    context.detaching = &m_detaching;
    context.total = size;
    int answer = -1;
    {
        TransferScope scope(m_inTransfer);
        answer = m_library->getFileToHandler(device, objectId, mtpWriteToFileHandle, &context, nullptr, nullptr);
    }
    file->closeFile(std::move(handle));
    if (answer != 0) {
        VTR_LOG(1, QStringLiteral("Copying the phone file \"%1\" failed (%2)").arg(deviceFile->path()).arg(answer));
        const bool userCancelled =
            answer == MtpLibrary::kTransferCancelled && context.cancelled && !context.failed && !context.detached;
        return userCancelled ? kFileInfoCopyCancelled : kFileInfoCopyWriteFailed;
    }
    if (!context.progressReported) reportProgress(context); // a file of no bytes is complete too

    const QDateTime date = dateFromSeconds(fetchModificationTime(objectId));
    file->setModificationDate(date);
    file->setCreationDate(date);
    return kFileInfoCopyOK;
}

// ============================================================================
// Computer -> phone
// ============================================================================

FileInfoCopyStatus MTPDevice::copyDesktopFile(const VtrFileInfoPtr &desktopFile, const VtrFileInfoPtr &deviceFile,
                                              FileInfoProgress *progress, void *userData)
{
    Lock lock(m_mutex);
    if (!live()) return kFileInfoCopyKindCannot;
    if (!desktopFile || !deviceFile) return kFileInfoCopyBadArguments;

    FileInfoCopyStatus status = kFileInfoCopyWriteFailed;
    VtrFileInfoHandlePtr reader = desktopFile->openFileForReading();
    if (!reader) {
        VTR_LOG(1, QStringLiteral("\"%1\" did not open for reading").arg(desktopFile->path()));
        desktopFile->closeFile(nullptr);
    } else {
        OpenFile target;
        QString error;
        if (prepareOpenFile(deviceFile->path(), true, target, &error))
            status = sendToPhone(desktopFile, reader.get(), deviceFile, target, progress, userData);
        else
            VTR_LOG(1, QStringLiteral("\"%1\" cannot be written: %2").arg(deviceFile->path(), error));
        desktopFile->closeFile(std::move(reader));
    }
    rebuildMap();
    return status;
}

bool MTPDevice::removeLeftoverTemporaryFile(Entry *folder)
{
    if (!folder || !folder->holdsChildren()) return true;
    Entry *leftover = folder->children.value(QString::fromLatin1(kVtrCopyTempFileName), nullptr);
    if (!leftover) return true;
    return deleteObjectWithId(leftover->objectId);
}

QString MTPDevice::asideName(const QString &name)
{
    return name + QStringLiteral(".old");
}

bool MTPDevice::renameObject(const Entry &entry, const QString &name)
{
    MtpFileList record(newFileRecord(entry.objectId, entry.parentId, entry.storageId, entry.filename, entry.filetype));
    const QByteArray utf8 = name.toUtf8();
    LIBMTP_mtpdevice_t *device = live();
    return record && device && m_library->setFileName(device, record.get(), utf8.constData()) == 0;
}

bool MTPDevice::putInPlace(LIBMTP_file_t *record, const QString &name, Entry *old)
{
    const QByteArray utf8 = name.toUtf8();
    const auto rename = [&](LIBMTP_file_t *file, const QByteArray &to) {
        LIBMTP_mtpdevice_t *device = live();
        return file && device && m_library->setFileName(device, file, to.constData()) == 0;
    };
    if (!old) return rename(record, utf8);
    // The old object steps aside, the new one takes the name, and the old one
    // goes last: whatever fails, the name holds the old or the new contents.
    const QString aside = asideName(old->filename);
    MtpFileList oldRecord(newFileRecord(old->objectId, old->parentId, old->storageId, old->filename, old->filetype));
    const MtpObjectId oldId = old->objectId;
    if (!rename(oldRecord.get(), aside.toUtf8())) return false;
    if (rename(record, utf8)) {
        if (deleteObjectWithId(oldId)) return true;
        // The old object refuses to go: the new one gives the name back.
        if (!rename(record, QByteArray(kVtrCopyTempFileName))) {
            VTR_LOG(2, QStringLiteral("\"%1\" keeps its new contents; the old ones are in \"%2\"").arg(name, aside));
            return true;
        }
    }
    if (!rename(oldRecord.get(), utf8))
        VTR_LOG(2, QStringLiteral("The old contents of \"%1\" are kept on the phone as \"%2\"").arg(name, aside));
    return false;
}

std::vector<MtpObjectId> MTPDevice::filesNamed(MtpObjectId folderId, const QString &name, uint64_t maxSize)
{
    std::vector<MtpObjectId> found;
    LIBMTP_mtpdevice_t *device = live();
    if (!device) return found;
    const QByteArray utf8 = name.toUtf8();
    const MtpObjectId parent = folderId.isNull() ? MtpLibrary::kFilesAndFoldersRoot : folderId;
    MtpFileList listing(m_library->getFilesAndFolders(device, storage(), parent));
    for (LIBMTP_file_t *object = listing.get(); object; object = object->next) {
        if (object->filetype == LIBMTP_FILETYPE_FOLDER || !object->filename || utf8 != object->filename) continue;
        if (object->filesize <= maxSize) found.push_back(mtpObjectId(*object));
    }
    return found;
}

void MTPDevice::removePartialSend(MtpObjectId folderId, const QString &name, uint64_t bytesSent,
                                  const std::vector<MtpObjectId> &before)
{
    if (!m_map) return;
    for (const MtpObjectId id : filesNamed(folderId, name, bytesSent)) {
        // Only what this send can have left: not there before it, and no
        // larger than what was sent.
        if (m_map->entryForId(id) || std::find(before.begin(), before.end(), id) != before.end()) continue;
        VTR_LOG(1, QStringLiteral("Removing the part of \"%1\" that the phone kept").arg(name));
        if (LIBMTP_mtpdevice_t *again = live()) m_library->deleteObject(again, id);
    }
}

FileInfoCopyStatus MTPDevice::sendToPhone(const VtrFileInfoPtr &desktopFile, VtrFileInfoHandle *reader,
                                          const VtrFileInfoPtr &deviceFile, OpenFile &target,
                                          FileInfoProgress *progress, void *userData)
{
    LIBMTP_file_t *record = target.record.get();
    const qint64 size = std::max<qint64>(0, desktopFile->size());
    record->filesize = uint64_t(size);

    const std::optional<QVariantMap> metadata = mtpMetadataFromFile(desktopFile);
    int metadataType = -1;
    if (metadata && metadata->contains(QStringLiteral("metadataType")))
        metadataType = metadata->value(QStringLiteral("metadataType")).toInt();
    if (metadata && metadata->contains(QStringLiteral("filetype"))) {
        record->filetype = LIBMTP_filetype_t(metadata->value(QStringLiteral("filetype")).toUInt());
    } else if (auto type = filetypeForExtension(desktopFile->extension(), &metadataType)) {
        record->filetype = *type;
    }
    const QDateTime modified = desktopFile->modificationDate();
    record->modificationdate = modified.isValid() ? time_t(modified.toSecsSinceEpoch()) : 0;

    const QString finalName = QString::fromUtf8(record->filename);
    const MtpObjectId replaced = target.replacesObject;
    Entry *folder = m_map ? m_map->entryForId(target.folderId) : nullptr;
    // What the phone has in the folder now: a leftover of ours is known, and
    // nothing that was there before the send is taken for a part of it.
    refreshFolder(folder);
    // A file travels under the temporary name and takes its own only once
    // complete, so that a half-sent file never carries the person's name.
    const bool directly = vtr::isTemporaryCopyFileName(finalName);
    if (directly) {
        // The target is itself a leftover temporary file.
        if (!replaced.isNull() && !deleteObjectWithId(replaced)) return kFileInfoCopyWriteFailed;
    } else {
        if (!removeLeftoverTemporaryFile(folder)) return kFileInfoCopyWriteFailed;
        setRecordName(record, QString::fromLatin1(kVtrCopyTempFileName));
    }
    const QString sentName = QString::fromUtf8(record->filename);
    const std::vector<MtpObjectId> before = filesNamed(target.folderId, sentName, std::numeric_limits<uint64_t>::max());

    LIBMTP_mtpdevice_t *device = live();
    if (!device) return kFileInfoCopyWriteFailed;
    TransferContext context;
    context.srcFile = desktopFile;
    context.dstFile = deviceFile;
    context.computerFile = desktopFile.get();
    context.handle = reader;
    context.progress = asCopyProgress(progress);
    context.userData = userData;
    context.detaching = &m_detaching;
    context.total = size;
    int answer = -1;
    {
        TransferScope scope(m_inTransfer);
        answer = m_library->sendFileFromHandler(device, mtpReadFromFileHandle, &context, record, nullptr, nullptr);
    }
    if (answer != 0) {
        VTR_LOG(1, QStringLiteral("Sending \"%1\" to the phone failed (%2)").arg(deviceFile->path()).arg(answer));
        // A phone that refused at once kept nothing; one that took some data
        // may have kept it.
        if (context.offset > 0) removePartialSend(target.folderId, sentName, uint64_t(context.offset), before);
        const bool userCancelled =
            answer == MtpLibrary::kTransferCancelled && context.cancelled && !context.failed && !context.detached;
        return userCancelled ? kFileInfoCopyCancelled : kFileInfoCopyWriteFailed;
    }
    const MtpObjectId newId = mtpObjectId(*record);
    if (!directly && !putInPlace(record, finalName, replaced.isNull() ? nullptr : m_map->entryForId(replaced))) {
        VTR_LOG(1, QStringLiteral("\"%1\" could not take its place on the phone").arg(deviceFile->path()));
        if (LIBMTP_mtpdevice_t *again = live()) m_library->deleteObject(again, newId);
        return kFileInfoCopyWriteFailed;
    }
    if (!context.progressReported) reportProgress(context); // a file of no bytes is complete too

    // The phone's own name and time for the new object.
    QString phoneName;
    if (LIBMTP_mtpdevice_t *again = live())
        phoneName = mtpTakeString(m_library->getStringFromObject(again, newId, LIBMTP_PROPERTY_ObjectFileName));
    if (phoneName.isEmpty()) phoneName = finalName;
    const qint64 time = fetchModificationTime(newId);
    if (m_map) {
        Entry *parent =
            isTopLevelParent(mtpParentId(*record)) ? m_map->root() : m_map->entryForId(mtpParentId(*record));
        if (parent)
            m_map->addEntry(parent, MTPDeviceObjectMap::Kind::File, newId, phoneName, record->filetype,
                            record->filesize, time);
    }
    Entry *entry = m_map ? m_map->entryForId(newId) : nullptr;
    if (metadataType == 0 && metadata && entry) writeTrackMetadata(*metadata, entry);
    // Only now, with the object on the phone, does the node take its name
    // (the map's, where another object holds the phone's).
    const QString cleanName = entry ? entry->filename : MTPDeviceObjectMap::cleanName(phoneName);
    if (cleanName != deviceFile->name()) deviceFile->updateName(cleanName);
    return kFileInfoCopyOK;
}
