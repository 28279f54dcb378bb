#pragma once

// Shared by the MTPDevice implementation files only.

#include "devices/mtp/MTPDevice.h"

#include <QString>

// The file selected by "FS_OPEN_FILE", or the target of a copy.
struct MTPDevice::OpenFile
{
    // One record (its `next` is always null).
    MtpFileList record;
    QString path;
    bool forWriting = false;
    // Writing: the folder that receives the new object, and the object the
    // new one replaces once it has arrived (0 for none).
    MtpObjectId folderId;
    MtpObjectId replacesObject;
};

namespace mtpdevice {

// Texts of the replies.
inline const QString kResultKey = QStringLiteral("result");
inline QVariantMap resultReply(const QVariant &result)
{
    QVariantMap reply;
    reply.insert(kResultKey, result);
    return reply;
}
inline QVariantMap emptyResultReply()
{
    return resultReply(QStringLiteral(""));
}
inline QVariantMap errorReply(const QString &text)
{
    QVariantMap reply;
    reply.insert(QStringLiteral("error"), text);
    return reply;
}
inline QVariantMap warningReply(const QString &text)
{
    QVariantMap reply;
    reply.insert(QStringLiteral("warning"), text);
    return reply;
}

// A new file record; name copied as UTF-8 (null for a null name).
LIBMTP_file_t *newFileRecord(MtpObjectId itemId, MtpObjectId parentId, MtpStorageId storageId, const QString &name,
                             LIBMTP_filetype_t filetype);
// Replaces the record's name.
void setRecordName(LIBMTP_file_t *record, const QString &name);
// The parent ID a new object in `folder` is sent with: the storage's top
// level for the root (the library would otherwise choose a default folder).
MtpObjectId parentForNewObject(const MTPDeviceObjectMap::Entry *folder);
// Whether the name a phone answers for an object's parent means the top level.
inline bool isTopLevelParent(MtpObjectId parentId)
{
    return parentId.isNull() || parentId == MtpLibrary::kTopLevelParent;
}

} // namespace mtpdevice
