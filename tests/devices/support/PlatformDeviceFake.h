#pragma once

// A recording stand-in for the phone behind a PlatformDevice: it answers the
// command dictionaries from a small file system of its own, keeps every
// command with the bytes sent beside it, and lets a test replace any answer.
// Shared by the device and playlist tests.

#include "devices/command/DeviceCommands.h"
#include "devices/command/PlatformDevice.h"
#include "foundation/VtrBase64.h"
#include "platform/VtrException.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QStringList>
#include <QVariantMap>

#include <functional>
#include <optional>

namespace pdtest {

class RecordingAnswerer : public DeviceCommandAnswerer
{
public:
    struct Call
    {
        QVariantMap command;
        QByteArray blob;
    };

    RecordingAnswerer()
    {
        drives = QVariantMap{
            {"drive",
             QVariantList{QVariantMap{{"id", "C"}, {"media", "Internal"}, {"free", "100"}},
                          QVariantMap{{"id", "E"}, {"media", "Hard Disk"}, {"free", "5000"}, {"size", "8000"}}}}};
        folders["E:\\"] = {};
        folders["C:\\"] = {};
    }

    // ---- the phone's file system ------------------------------------------------
    QVariant drives;
    // Folder path ending in "\" -> its entries.
    QMap<QString, QVariantList> folders;
    QMap<QString, QByteArray> files;
    QVariantMap deviceInfo{{"manufacturer", "Acme"}, {"model", "Phone 1"}, {"id", "ACME-1"}, {"MARF", "FALSE"}};
    QVariantMap time{{"local", "20130301130000"}, {"utc", "20130301120000"}, {"offset", "3600000"}};
    QString openPath;
    bool openForWrite = false;

    // ---- scripting --------------------------------------------------------------------
    // Asked first: a value (also an invalid QVariant, "no result") replaces the
    // answer; nullopt lets the file system answer.
    std::function<std::optional<QVariant>(const QVariantMap &command, const QByteArray &blob)> intercept;
    QList<Call> calls;

    QList<QVariantMap> commands() const
    {
        QList<QVariantMap> list;
        for (const Call &call : calls)
            list.append(call.command);
        return list;
    }
    QStringList commandNames() const
    {
        QStringList names;
        for (const Call &call : calls)
            names.append(call.command.value("command").toString());
        return names;
    }
    QList<QVariantMap> commandsNamed(const QString &name) const
    {
        QList<QVariantMap> list;
        for (const Call &call : calls)
            if (call.command.value("command").toString() == name) list.append(call.command);
        return list;
    }

    void addFile(const QString &folder, const QString &name, const QByteArray &contents)
    {
        folders[folder].append(QVariantMap{{"filename", name},
                                           {"type", "file"},
                                           {"size", QString::number(contents.size())},
                                           {"mod", "20130101000000"}});
        files[folder + name] = contents;
    }
    void addFolder(const QString &folder, const QString &name)
    {
        folders[folder].append(QVariantMap{{"filename", name}, {"type", "dir"}});
        folders[folder + name + "\\"] = {};
    }

    QVariant answerCommand(const QVariantMap &command, const QByteArray &blob) override
    {
        calls.append({command, blob});
        if (intercept) {
            if (std::optional<QVariant> answer = intercept(command, blob)) return *answer;
        }
        return answer(command, blob);
    }

private:
    static QString folderOf(const QString &path)
    {
        QString p = path;
        if (p.endsWith('\\')) p.chop(1);
        return p.left(p.lastIndexOf('\\') + 1);
    }
    static QString nameOf(const QString &path)
    {
        QString p = path;
        if (p.endsWith('\\')) p.chop(1);
        return p.mid(p.lastIndexOf('\\') + 1);
    }

    QVariant answer(const QVariantMap &command, const QByteArray &blob)
    {
        using namespace DeviceCommands;
        const QString name = command.value(kCommand).toString();
        const QString ok = QStringLiteral("");
        if (name == kFsGetDriveList) return drives;
        if (name == kGetDeviceInfo) return deviceInfo;
        if (name == kGetTime) return time;
        if (name == kFsGetDir) {
            const QString dir = command.value(kArgDir).toString();
            return QVariantMap{{"entry", folders.value(dir)}};
        }
        if (name == kFsOpenFile) {
            openPath = command.value(kArgFilename).toString();
            openForWrite = command.value(kArgOverwrite).toString() == kTrue;
            if (openForWrite) files[openPath] = QByteArray();
            return ok;
        }
        if (name == kFsCloseFile) {
            openPath.clear();
            return ok;
        }
        if (name == kFsReadFile) {
            const QByteArray contents = files.value(openPath);
            const qint64 from = command.value(kArgFrom).toString().toLongLong();
            const qint64 count = command.value(kArgCount).toString().toLongLong();
            const QByteArray bytes = contents.mid(from, count);
            return QVariantMap{{"count", QString::number(bytes.size())},
                               {"data", vtr::base64EncodingWithLineLength(bytes, 80)}};
        }
        if (name == kFsWriteFile) {
            const qint64 from = command.value(kArgFrom).toString().toLongLong();
            const QVariant data = command.value(kArgData);
            const QByteArray bytes = !data.isValid() ? blob
                                     : data.typeId() == QMetaType::QByteArray
                                         ? data.toByteArray()
                                         : vtr::dataWithBase64EncodedString(data.toString());
            QByteArray &contents = files[openPath];
            if (contents.size() < from + bytes.size()) contents.resize(from + bytes.size());
            memcpy(contents.data() + from, bytes.constData(), size_t(bytes.size()));
            return ok;
        }
        if (name == kFsMkDir) {
            const QString dir = command.value(kArgDir).toString();
            if (!folders.contains(dir)) addFolder(folderOf(dir), nameOf(dir));
            return ok;
        }
        if (name == kFsDeleteFile) {
            const QString path = command.value(kArgFilename).toString();
            if (!files.remove(path)) return QVariant();
            QVariantList &entries = folders[folderOf(path)];
            entries.removeIf([&](const QVariant &e) { return e.toMap().value("filename") == nameOf(path); });
            return ok;
        }
        if (name == kFsRmDir || name == kFsMoveFile || name == kFsSetMod) return ok;
        return QVariant();
    }
};

// A device connected to a recording answerer.
struct AnsweredDevice
{
    AnsweredDevice()
    {
        device.setCommandAnswerer(&answerer);
        device.connect();
    }
    ~AnsweredDevice() { device.setCommandAnswerer(nullptr); }
    RecordingAnswerer answerer;
    PlatformDevice device;
};

// The name and reason of the VtrException a callable raises; empty for none.
inline QString raisedName(const std::function<void()> &call, QString *reason = nullptr)
{
    try {
        call();
    } catch (const VtrException &e) {
        if (reason) *reason = e.reason();
        return e.name();
    }
    return QString();
}

} // namespace pdtest
