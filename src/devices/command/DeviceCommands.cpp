#include "devices/command/DeviceCommands.h"

#include "platform/Strings.h"
#include "platform/VtrException.h"

namespace DeviceCommands {

QStringList fileSystemCommandNames()
{
    return {kFsGetDriveList, kFsOpenFile,   kFsCloseFile, kFsReadFile, kFsWriteFile, kFsGetDir,
            kFsMkDir,        kFsDeleteFile, kFsRmDir,     kFsMoveFile, kFsSetMod};
}

QStringList syncCommandNames()
{
    return {kHandshakeDevice, kGetVersion,       kStartSync,     kStopSync,     kCancelSync,   kCommitDatabaseSync,
            kGetTime,         kSetTime,          kGetDeviceInfo, kGetAllLogs,   kGetSmsLogs,   kGetCallLogs,
            kGetDeviceLog,    kClearDeviceLog,   kSetLogLevel,   kOpenDb,       kCloseDb,      kDropCookie,
            kSetCookie,       kGetCookie,        kGetAllRecIds,  kGetNewRecIds, kGetModRecIds, kGetDelRecIds,
            kGetRecord,       kGetRecordHash,    kGetField,      kGetFieldHash, kAddRecord,    kModifyRecord,
            kDeleteRecord,    kDeleteAllRecords, kClearHashes};
}

bool isFileSystemCommand(const QString &command)
{
    return fileSystemCommandNames().contains(command);
}

bool isTrueText(const QVariant &value)
{
    if (value.typeId() == QMetaType::Bool) return value.toBool();
    return value.toString().compare(kTrue, Qt::CaseInsensitive) == 0;
}

qint64 parseNumberText(const QVariant &value, bool *ok)
{
    bool parsed = false;
    qint64 number = 0;
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Long:
    case QMetaType::ULong:
        number = value.toLongLong(&parsed);
        break;
    default:
        number = value.toString().trimmed().toLongLong(&parsed);
        break;
    }
    if (ok) *ok = parsed;
    return parsed ? number : 0;
}

QVariantList valueAsList(const QVariant &value)
{
    if (!value.isValid() || value.isNull()) return {};
    if (value.typeId() == QMetaType::QVariantList) return value.toList();
    if (value.typeId() == QMetaType::QStringList) {
        QVariantList list;
        for (const QString &s : value.toStringList())
            list.append(s);
        return list;
    }
    return {value};
}

QVariantMap makeCommand(const QString &command)
{
    QVariantMap map;
    map.insert(kCommand, command);
    return map;
}

QVariantMap makeCommand(const QString &command, const QVariantMap &arguments)
{
    QVariantMap map = arguments;
    map.insert(kCommand, command);
    return map;
}

QVariantMap fsGetDriveList()
{
    return makeCommand(kFsGetDriveList);
}

QVariantMap fsOpenFile(const QString &filename, bool overwrite)
{
    return makeCommand(kFsOpenFile, {{kArgFilename, filename}, {kArgOverwrite, boolText(overwrite)}});
}

QVariantMap fsCloseFile()
{
    return makeCommand(kFsCloseFile);
}

QVariantMap fsReadFile(qint64 from, qint64 count)
{
    return makeCommand(
        kFsReadFile,
        {{kArgFrom, QString::number(quint64(from))}, {kArgCount, numberText(count)}, {kArgUseMarfIfPossible, kTrue}});
}

QVariantMap fsWriteFile(qint64 from, const QVariant &data)
{
    QVariantMap command = makeCommand(kFsWriteFile, {{kArgFrom, QString::number(quint64(from))}});
    if (data.isValid() && !data.isNull()) command.insert(kArgData, data);
    return command;
}

QVariantMap fsGetDir(const QString &dir)
{
    return makeCommand(kFsGetDir, {{kArgDir, dir}});
}

QVariantMap fsMkDir(const QString &dir)
{
    return makeCommand(kFsMkDir, {{kArgDir, dir}});
}

QVariantMap fsDeleteFile(const QString &filename)
{
    return makeCommand(kFsDeleteFile, {{kArgFilename, filename}});
}

QVariantMap fsRmDir(const QString &dir)
{
    return makeCommand(kFsRmDir, {{kArgDir, dir}});
}

QVariantMap fsMoveFile(const QString &from, const QString &to)
{
    return makeCommand(kFsMoveFile, {{kArgFrom, from}, {kArgTo, to}});
}

QVariantMap fsSetMod(const QString &filename, const QString &time)
{
    return makeCommand(kFsSetMod, {{kArgFilename, filename}, {kArgTime, time}});
}

QVariantMap makeResultReply(const QVariant &result)
{
    QVariantMap reply;
    reply.insert(kResult, result);
    return reply;
}

QVariantMap makeErrorReply(const QString &key, const QString &text)
{
    QVariantMap reply;
    reply.insert(key, text);
    return reply;
}

void throwForErrorReply(const QVariantMap &reply)
{
    const QString fatal = reply.value(kFatal).toString();
    if (!fatal.isEmpty()) throw VtrException(kStopPluginException, vtrLocalized("Fatal device error: %1").arg(fatal));
    const QString cancel = reply.value(kCancel).toString();
    if (!cancel.isEmpty()) throw VtrException(kStopSyncException, vtrLocalized("Device canceled sync: %1").arg(cancel));
    const QString error = reply.value(kError).toString();
    if (!error.isEmpty()) throw VtrException(kDeviceException, vtrLocalized("Device error: %1").arg(error));
}

} // namespace DeviceCommands
