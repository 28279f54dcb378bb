#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>

// The command dictionary: what the phone's command interface (PlatformDevice)
// sends to whichever answerer is attached (the MTP device, or an agent on the
// phone reached over a socket), and the reply that comes back.
//
// A command is a QVariantMap whose key "command" names the operation; the
// other keys are its arguments. Every argument value is a QString unless said
// otherwise: booleans are "TRUE" or "FALSE", numbers are decimal text, paths
// are standardized Windows-style device paths ("E:\Music\a.mp3").
//
// A reply is a QVariantMap; the caller receives its "result". For the file
// commands any non-null result means success, a null QVariant failure. Replies
// holding "fatal", "cancel" or "error" never reach the caller: the answerer
// raises the matching VtrException (throwForErrorReply()).
namespace DeviceCommands {

// ---- keys of every command and reply ---------------------------------------
inline const QString kCommand = QStringLiteral("command");
inline const QString kResult = QStringLiteral("result");
inline const QString kWait = QStringLiteral("wait");
inline const QString kFatal = QStringLiteral("fatal");
inline const QString kCancel = QStringLiteral("cancel");
inline const QString kError = QStringLiteral("error");
inline const QString kWarning = QStringLiteral("warning");
inline const QString kNote = QStringLiteral("note");

// ---- argument values -------------------------------------------------------
inline const QString kTrue = QStringLiteral("TRUE");
inline const QString kFalse = QStringLiteral("FALSE");

// ---- file-system commands --------------------------------------------------
inline const QString kFsGetDriveList = QStringLiteral("FS_GET_DRIVE_LIST");
inline const QString kFsOpenFile = QStringLiteral("FS_OPEN_FILE");
inline const QString kFsCloseFile = QStringLiteral("FS_CLOSE_FILE");
inline const QString kFsReadFile = QStringLiteral("FS_READ_FILE");
inline const QString kFsWriteFile = QStringLiteral("FS_WRITE_FILE");
inline const QString kFsGetDir = QStringLiteral("FS_GET_DIR");
inline const QString kFsMkDir = QStringLiteral("FS_MK_DIR");
inline const QString kFsDeleteFile = QStringLiteral("FS_DELETE_FILE");
inline const QString kFsRmDir = QStringLiteral("FS_RM_DIR");
inline const QString kFsMoveFile = QStringLiteral("FS_MOVE_FILE");
inline const QString kFsSetMod = QStringLiteral("FS_SET_MOD");
// Known to the MTP answerer only to refuse them.
inline const QString kFsCopyFile = QStringLiteral("FS_COPY_FILE");
inline const QString kFsGetFile = QStringLiteral("FS_GET_FILE");

// Arguments of the file-system commands.
inline const QString kArgFilename = QStringLiteral("filename");
inline const QString kArgOverwrite = QStringLiteral("overwrite");
inline const QString kArgFrom = QStringLiteral("from");
inline const QString kArgTo = QStringLiteral("to");
inline const QString kArgCount = QStringLiteral("count");
inline const QString kArgUseMarfIfPossible = QStringLiteral("use_marf_if_possible");
inline const QString kArgData = QStringLiteral("data");
inline const QString kArgDir = QStringLiteral("dir");
inline const QString kArgTime = QStringLiteral("time");

// Result of "FS_GET_DRIVE_LIST": "drive" holds one drive dictionary or a list.
inline const QString kResultDrive = QStringLiteral("drive");
inline const QString kDriveId = QStringLiteral("id");
inline const QString kDriveMedia = QStringLiteral("media");
inline const QString kDriveFree = QStringLiteral("free");
inline const QString kDriveSize = QStringLiteral("size");
inline const QString kDriveLabel = QStringLiteral("label");
inline const QString kDriveSerial = QStringLiteral("serial");
// "media" value of the phone's removable storage.
inline const QString kMediaHardDisk = QStringLiteral("Hard Disk");

// Result of "FS_GET_DIR": "entry" holds one entry dictionary or a list.
inline const QString kResultEntry = QStringLiteral("entry");
inline const QString kEntryFilename = QStringLiteral("filename");
inline const QString kEntryType = QStringLiteral("type");
inline const QString kEntrySize = QStringLiteral("size");
inline const QString kEntryMod = QStringLiteral("mod");
inline const QString kEntryReadonly = QStringLiteral("readonly");
inline const QString kEntryHidden = QStringLiteral("hidden");
inline const QString kEntrySystem = QStringLiteral("system");
inline const QString kTypeFile = QStringLiteral("file");
inline const QString kTypeDir = QStringLiteral("dir");

// ---- synchronization, device and record commands ---------------------------
inline const QString kHandshakeDevice = QStringLiteral("HANDSHAKE_DEVICE");
inline const QString kGetVersion = QStringLiteral("GET_VERSION");
inline const QString kStartSync = QStringLiteral("START_SYNC");
inline const QString kStopSync = QStringLiteral("STOP_SYNC");
inline const QString kCancelSync = QStringLiteral("CANCEL_SYNC");
inline const QString kCommitDatabaseSync = QStringLiteral("COMMIT_DATABASE_SYNC");
inline const QString kGetTime = QStringLiteral("GET_TIME");
inline const QString kSetTime = QStringLiteral("SET_TIME");
inline const QString kGetDeviceInfo = QStringLiteral("GET_DEVICE_INFO");
inline const QString kGetAllLogs = QStringLiteral("GET_ALL_LOGS");
inline const QString kGetSmsLogs = QStringLiteral("GET_SMS_LOGS");
inline const QString kGetCallLogs = QStringLiteral("GET_CALL_LOGS");
inline const QString kGetDeviceLog = QStringLiteral("GET_DEVICE_LOG");
inline const QString kClearDeviceLog = QStringLiteral("CLEAR_DEVICE_LOG");
inline const QString kSetLogLevel = QStringLiteral("SET_LOG_LEVEL");
inline const QString kOpenDb = QStringLiteral("OPEN_DB");
inline const QString kCloseDb = QStringLiteral("CLOSE_DB");
inline const QString kDropCookie = QStringLiteral("DROP_COOKIE");
inline const QString kSetCookie = QStringLiteral("SET_COOKIE");
inline const QString kGetCookie = QStringLiteral("GET_COOKIE");
inline const QString kGetAllRecIds = QStringLiteral("GET_ALL_REC_IDS");
inline const QString kGetNewRecIds = QStringLiteral("GET_NEW_REC_IDS");
inline const QString kGetModRecIds = QStringLiteral("GET_MOD_REC_IDS");
inline const QString kGetDelRecIds = QStringLiteral("GET_DEL_REC_IDS");
inline const QString kGetRecord = QStringLiteral("GET_RECORD");
inline const QString kGetRecordHash = QStringLiteral("GET_RECORD_HASH");
inline const QString kGetField = QStringLiteral("GET_FIELD");
inline const QString kGetFieldHash = QStringLiteral("GET_FIELD_HASH");
inline const QString kAddRecord = QStringLiteral("ADD_RECORD");
inline const QString kModifyRecord = QStringLiteral("MODIFY_RECORD");
inline const QString kDeleteRecord = QStringLiteral("DELETE_RECORD");
inline const QString kDeleteAllRecords = QStringLiteral("DELETE_ALL_RECORDS");
inline const QString kClearHashes = QStringLiteral("CLEAR_HASHES");

// Arguments of those commands.
inline const QString kArgQuery = QStringLiteral("query");
inline const QString kArgPlatform = QStringLiteral("PLATFORM");
inline const QString kArgVersion = QStringLiteral("VERSION");
inline const QString kArgSuccess = QStringLiteral("SUCCESS");
inline const QString kArgDatabase = QStringLiteral("database");
inline const QString kArgMoreCookie = QStringLiteral("more_cookie");
inline const QString kArgPrevious = QStringLiteral("previous");
inline const QString kArgLevel = QStringLiteral("level");
inline const QString kArgCookie = QStringLiteral("cookie");
inline const QString kArgCookieKey = QStringLiteral("cookie_key");
inline const QString kArgId = QStringLiteral("id");
inline const QString kArgHashOk = QStringLiteral("hash_ok");
inline const QString kArgRecord = QStringLiteral("record");

// Fixed argument values of the synchronization commands.
inline const QString kHandshakeQuery = QStringLiteral("Are you there?");
inline const QString kHandshakeAnswer = QStringLiteral("I am here.");
inline const QString kPlatformMac = QStringLiteral("MAC");

// Every command name above, file-system commands first.
QStringList fileSystemCommandNames();
QStringList syncCommandNames();
bool isFileSystemCommand(const QString &command);

// ---- exception names of the device conversation ------------------------------
inline const QString kStopSyncException = QStringLiteral("StopSyncException");
inline const QString kStopPluginException = QStringLiteral("StopPluginException");
inline const QString kDeviceException = QStringLiteral("DeviceException");

// ---- values ------------------------------------------------------------------
inline QString boolText(bool value)
{
    return value ? kTrue : kFalse;
}
// "TRUE" in any case is true; anything else (also a missing value) false.
bool isTrueText(const QVariant &value);
// Decimal text of a size or offset.
inline QString numberText(qint64 value)
{
    return QString::number(value);
}
// A decimal text (or a number) as a 64-bit number; 0 with *ok false when it
// is not a whole number.
qint64 parseNumberText(const QVariant &value, bool *ok = nullptr);

// A value that holds "one dictionary or a list of them" ("drive", "entry") as
// a list: a null value gives an empty list, a list stays, anything else
// becomes a list of one.
QVariantList valueAsList(const QVariant &value);

// ---- building commands ---------------------------------------------------------
QVariantMap makeCommand(const QString &command);
QVariantMap makeCommand(const QString &command, const QVariantMap &arguments);

QVariantMap fsGetDriveList();
QVariantMap fsOpenFile(const QString &filename, bool overwrite);
QVariantMap fsCloseFile();
// "from" is an unsigned 64-bit decimal.
QVariantMap fsReadFile(qint64 from, qint64 count);
// `data` is the Base64 text or the raw bytes; a null QVariant leaves "data"
// out (the bytes then travel as the frame's blob).
QVariantMap fsWriteFile(qint64 from, const QVariant &data);
QVariantMap fsGetDir(const QString &dir);
QVariantMap fsMkDir(const QString &dir);
QVariantMap fsDeleteFile(const QString &filename);
QVariantMap fsRmDir(const QString &dir);
QVariantMap fsMoveFile(const QString &from, const QString &to);
// `time` is ST2 date-time text.
QVariantMap fsSetMod(const QString &filename, const QString &time);

// ---- replies ---------------------------------------------------------------------
QVariantMap makeResultReply(const QVariant &result);
QVariantMap makeErrorReply(const QString &key, const QString &text);

// Raises the exception an error reply stands for, checked in this order:
// non-empty "fatal" -> "StopPluginException" "Fatal device error: %1";
// non-empty "cancel" -> "StopSyncException" "Device canceled sync: %1";
// non-empty "error" -> "DeviceException" "Device error: %1" (each localized,
// the reply's text inserted). Anything else returns normally ("warning" and
// "note" are not errors).
void throwForErrorReply(const QVariantMap &reply);

} // namespace DeviceCommands
