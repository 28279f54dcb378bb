#include "devices/command/agent/DeviceAgentSession.h"

#include "devices/AppFlags.h"
#include "devices/command/DeviceCommands.h"
#include "foundation/Json.h"
#include "foundation/Log.h"
#include "foundation/VtrDate.h"
#include "net/SocketLibSyncSocket.h"
#include "platform/Strings.h"
#include "platform/VtrException.h"

#include <chrono>
#include <thread>

using namespace DeviceCommands;

namespace DeviceAgent {

bool agentUsesMarfFrames(const QVariantMap &deviceInfoFromDevice)
{
    return isTrueText(deviceInfoFromDevice.value(QStringLiteral("MARF")));
}

bool agentSupportsCompression(const QVariantMap &deviceInfoFromDevice)
{
    return isTrueText(deviceInfoFromDevice.value(QStringLiteral("supports_compression")));
}

void throwIfNotConnected(bool connected, const QString &operation)
{
    if (connected) return;
    const QString reason = operation.isNull() ? vtrLocalized("Command failed. No connection to device.")
                                              : vtrLocalized("%1 failed. No connection to device.").arg(operation);
    throw VtrException(kStopSyncException, reason);
}

QVariantMap localClockDictionary(const QDateTime &now)
{
    const QDateTime local = now.toLocalTime();
    const QString offset = QString::number(qint64(local.offsetFromUtc()) * 1000);
    return {{QStringLiteral("local"), vtr::st2StringWithoutTimezone(local)},
            {QStringLiteral("utc"), vtr::st2StringWithoutTimezone(now.toUTC())},
            {QStringLiteral("offset"), offset},
            {QStringLiteral("__OFFSET"), offset},
            {QStringLiteral("utcoffset"), offset}};
}

QString syncClientVersion()
{
    return QStringLiteral("%1.%2").arg(QStringLiteral("2.0.0")).arg(71);
}

} // namespace DeviceAgent

namespace {

using Clock = std::chrono::steady_clock;

// A non-blocking socket with nothing to read is asked again after this pause
// rather than in a busy loop.
constexpr auto kWouldBlockPause = std::chrono::milliseconds(5);

QSet<QString> toTextSet(const QVariantList &ids)
{
    QSet<QString> set;
    for (const QVariant &id : ids)
        set.insert(id.toString());
    return set;
}

} // namespace

DeviceAgentSession::DeviceAgentSession(DeviceAgentHost *host, DeviceAgent::FrameLimits limits)
    : m_host(host), m_reader(limits)
{}

DeviceAgentSession::~DeviceAgentSession() = default;

void DeviceAgentSession::setSocket(std::unique_ptr<SocketLibSyncSocket> socket)
{
    m_socket = std::move(socket);
    m_reader.clear();
}

void DeviceAgentSession::failStream(const QString &name, const QString &reason)
{
    // After a failure the byte stream is out of step with the commands: what
    // is buffered can only be the rest of a reply nobody waits for any more.
    m_reader.clear();
    m_readTimeout = kTimeoutAfterFailure;
    throw VtrException(name, reason);
}

// ---- frames -------------------------------------------------------------------------

void DeviceAgentSession::writeCommandToDevice(const QVariantMap &command, const QByteArray &blob)
{
    m_host->throwIfNotConnected(QStringLiteral("writeCommandToDevice"));

    const QString text = vtr::JSONRepresentation(command);
    if (text.isNull()) throw VtrException(kStopPluginException, vtrLocalized("Can't write command to device"));
    const QByteArray json = text.toUtf8();
    if (LogArePacketsEnabled())
        VTR_LOG_DATA(7, json, QStringLiteral("Writing command to device (%1 bytes):").arg(json.size()));

    const QVariantMap info = m_host->deviceInfoFromDevice();
    const std::optional<DeviceAgent::EncodedFrame> frame = DeviceAgent::encodeFrame(
        json, blob, DeviceAgent::agentUsesMarfFrames(info), DeviceAgent::agentSupportsCompression(info));
    if (!frame) throw VtrException(kStopPluginException, vtrLocalized("Can't write command to device"));
    if (frame->kind == DeviceAgent::FrameKind::Compressed && LogArePacketsEnabled())
        VTR_LOG_DATA(7, frame->body,
                     QStringLiteral("Writing compressed command to device (%1 bytes):").arg(frame->body.size()));

    if (!m_socket) failStream(kStopSyncException, vtrLocalized("No device socket!"));
    int error = m_socket->writeExactly(frame->header);
    if (error == 0) error = m_socket->writeExactly(frame->body);
    if (error == 0 && frame->kind == DeviceAgent::FrameKind::WithBlob) error = m_socket->writeExactly(frame->blob);
    if (error != 0) {
        m_readTimeout = kTimeoutAfterFailure;
        throw VtrException(kStopSyncException, vtrLocalized("Error writing command to device. %1").arg(error));
    }
}

std::optional<DeviceAgent::Frame> DeviceAgentSession::takeBufferedFrame()
{
    try {
        return m_reader.takeFrame();
    } catch (const VtrException &) {
        m_readTimeout = kTimeoutAfterFailure; // the reader has already cleared itself
        throw;
    }
}

QVariant DeviceAgentSession::waitForResponseXML()
{
    const auto timeout = [this] { return std::chrono::seconds(m_readTimeout < 0 ? 0 : m_readTimeout); };
    Clock::time_point deadline = Clock::now() + timeout();
    char chunk[kReadChunk];
    for (;;) {
        if (IsSyncCancelRequested()) failStream(kStopSyncException, vtrLocalized("Synchronization cancelled."));

        // Bytes left over from an earlier read may already hold a whole frame.
        if (std::optional<DeviceAgent::Frame> frame = takeBufferedFrame()) {
            const QVariantMap reply = DeviceAgent::decodeReply(*frame);
            if (std::optional<QVariant> result = DeviceAgent::interpretReply(reply)) return *result;
            continue; // keep-alive: the agent is still working
        }

        if (!m_socket) failStream(kStopSyncException, vtrLocalized("No device socket!"));
        std::size_t received = 0;
        const int status = m_socket->read(chunk, sizeof chunk, &received);
        if (status == SocketLibSyncSocket::kResultWouldBlock || status == SocketLibSyncSocket::kResultTimedOut) {
            if (Clock::now() >= deadline)
                failStream(kStopSyncException, vtrLocalized("Timeout error reading from device."));
            if (status == SocketLibSyncSocket::kResultWouldBlock) std::this_thread::sleep_for(kWouldBlockPause);
            continue;
        }
        if (status != 0) failStream(kStopSyncException, vtrLocalized("Error reading from device. (%1)").arg(status));
        if (received == 0) continue;
        deadline = Clock::now() + timeout();
        m_reader.append(chunk, qsizetype(received));
    }
}

// ---- typed waits ------------------------------------------------------------------------

QVariant DeviceAgentSession::waitForResponse()
{
    return waitForResponseXML();
}

QVariant DeviceAgentSession::waitForResponseOfType(QMetaType::Type type, bool nilOK)
{
    const QVariant result = waitForResponseXML();
    if (!result.isValid()) {
        if (nilOK) return QVariant();
        throw VtrException(kStopPluginException, vtrLocalized("Invalid response from device -- no data returned."));
    }
    if (type != QMetaType::QString && result.typeId() == QMetaType::QString && result.toString().isEmpty())
        return QVariant(QMetaType(type));
    if (result.typeId() != type)
        throw VtrException(kStopPluginException, vtrLocalized("Invalid response from device -- wrong data type."));
    return result;
}

QVariantMap DeviceAgentSession::waitForDictionaryResponse(bool nilOK)
{
    return waitForResponseOfType(QMetaType::QVariantMap, nilOK).toMap();
}

QString DeviceAgentSession::waitForStringResponse(bool nilOK)
{
    const QVariant result = waitForResponseOfType(QMetaType::QString, nilOK);
    return result.isValid() ? result.toString() : QString();
}

std::optional<QVariantList> DeviceAgentSession::waitForArrayResponse(const QString &key, bool nilOK)
{
    const QVariant reply = waitForResponseOfType(QMetaType::QVariantMap, true);
    if (!reply.isValid()) return std::nullopt;
    const QVariant value = reply.toMap().value(key);
    if (!value.isValid() || vtr::isJsonNull(value)) {
        if (nilOK) return std::nullopt;
        throw VtrException(kStopPluginException, vtrLocalized("Invalid response from device -- no data returned."));
    }
    if (value.typeId() == QMetaType::QVariantList) return value.toList();
    return QVariantList{value};
}

QVariantMap DeviceAgentSession::sendCmdWithDictionary(const QVariantMap &command, const QByteArray &blob)
{
    writeCommandToDevice(command, blob);
    return waitForDictionaryResponse(false);
}

void DeviceAgentSession::sendIgnoringFailure(const QVariantMap &command)
{
    try {
        writeCommandToDevice(command);
        waitForResponse();
    } catch (const VtrException &) {
    }
}

// ---- synchronization and device ----------------------------------------------------------

bool DeviceAgentSession::handshakeWithDevice()
{
    try {
        writeCommandToDevice(makeCommand(kHandshakeDevice, {{kArgQuery, kHandshakeQuery}}));
        return waitForStringResponse(true) == kHandshakeAnswer;
    } catch (const VtrException &) {
        return false;
    }
}

QString DeviceAgentSession::getDeviceVersion()
{
    if (m_host->hasMassStorageConnectionOnly()) return QStringLiteral("1");
    try {
        writeCommandToDevice(makeCommand(kGetVersion));
        return waitForStringResponse(true);
    } catch (const VtrException &) {
        return QStringLiteral("0");
    }
}

void DeviceAgentSession::startSync()
{
    m_host->throwIfNotConnected(QStringLiteral("Start Sync"));
    if (!m_host->hasMassStorageConnectionOnly()) {
        const QVariantMap command =
            makeCommand(kStartSync, {{kArgPlatform, kPlatformMac}, {kArgVersion, DeviceAgent::syncClientVersion()}});
        if (m_host->hasLiveMtpHandle()) {
            m_host->sendCmdToMtp(command);
        } else {
            writeCommandToDevice(command);
            waitForResponse();
        }
    }
    m_syncing = true;
}

void DeviceAgentSession::stopSync(bool success)
{
    const QVariantMap command = makeCommand(kStopSync, {{kArgSuccess, boolText(success)}});
    if (m_host->hasLiveMtpHandle()) {
        m_host->sendCmdToMtp(command);
    } else {
        if (!m_syncing) return;
        if (m_socket) {
            writeCommandToDevice(command);
            waitForResponse();
        }
    }
    m_syncing = false;
    m_host->forgetDeviceInfoFromDevice();
    m_readTimeout = kTimeoutRestored;
}

void DeviceAgentSession::cancelSync()
{
    if (!m_syncing) return;
    if (!m_host->hasLiveMtpHandle() && m_socket) {
        m_cancelling = true;
        sendIgnoringFailure(makeCommand(kCancelSync));
    }
    m_syncing = false;
    m_host->forgetDeviceInfoFromDevice();
    m_readTimeout = kTimeoutRestored;
}

void DeviceAgentSession::commitDatabaseSync(bool success, const QString &database)
{
    if (m_host->hasMassStorageConnectionOnly()) return;
    writeCommandToDevice(
        makeCommand(kCommitDatabaseSync, {{kArgSuccess, boolText(success)}, {kArgDatabase, database}}));
    waitForResponse();
}

QVariantMap DeviceAgentSession::getTime()
{
    m_host->throwIfNotConnected(QStringLiteral("getTime"));
    if (m_host->hasLiveMtpHandle() || m_host->hasMassStorageConnectionOnly())
        return DeviceAgent::localClockDictionary(QDateTime::currentDateTime());
    writeCommandToDevice(makeCommand(kGetTime));
    return waitForDictionaryResponse(false);
}

void DeviceAgentSession::setTime(const QString &time)
{
    if (m_host->hasLiveMtpHandle()) return;
    sendIgnoringFailure(makeCommand(kSetTime, {{kArgTime, time}}));
}

QVariantMap DeviceAgentSession::requestDeviceInfo()
{
    m_host->throwIfNotConnected(QStringLiteral("GetDeviceInfo"));
    writeCommandToDevice(makeCommand(kGetDeviceInfo));
    return waitForDictionaryResponse(false);
}

QVariantMap DeviceAgentSession::getLogs(const QString &command, const QString &operation, const QString &time,
                                        const QString &cookie)
{
    if (m_host->hasMassStorageConnectionOnly()) return {};
    m_host->throwIfNotConnected(operation);
    QVariantMap arguments;
    if (!time.isNull()) arguments.insert(kArgTime, time);
    if (!cookie.isNull()) arguments.insert(kArgMoreCookie, cookie);
    writeCommandToDevice(makeCommand(command, arguments));
    return waitForDictionaryResponse(false);
}

QVariantMap DeviceAgentSession::getAllLogs(const QString &time, const QString &cookie)
{
    return getLogs(kGetAllLogs, QStringLiteral("getAllLogs"), time, cookie);
}

QVariantMap DeviceAgentSession::getSMSLogs(const QString &time, const QString &cookie)
{
    return getLogs(kGetSmsLogs, QStringLiteral("GetSMSLogs"), time, cookie);
}

QVariantMap DeviceAgentSession::getCallLogs(const QString &time, const QString &cookie)
{
    return getLogs(kGetCallLogs, QStringLiteral("GetCallLogs"), time, cookie);
}

QString DeviceAgentSession::getDebugInfo()
{
    if (m_host->hasMassStorageConnectionOnly()) return QStringLiteral("");
    m_host->throwIfNotConnected(QStringLiteral("GetDebugInfo"));
    writeCommandToDevice(makeCommand(kGetAllLogs));
    return waitForStringResponse(true);
}

QString DeviceAgentSession::getDeviceLog()
{
    if (m_host->hasMassStorageConnectionOnly()) return QStringLiteral("");
    try {
        writeCommandToDevice(makeCommand(kGetDeviceLog));
        return waitForStringResponse(true);
    } catch (const VtrException &) {
        return QStringLiteral("");
    }
}

QString DeviceAgentSession::getDevicePreviousLog()
{
    if (m_host->hasMassStorageConnectionOnly()) return QStringLiteral("");
    try {
        writeCommandToDevice(makeCommand(kGetDeviceLog, {{kArgPrevious, 1}}));
        return waitForStringResponse(true);
    } catch (const VtrException &) {
        return QStringLiteral("");
    }
}

void DeviceAgentSession::clearDeviceLog()
{
    sendIgnoringFailure(makeCommand(kClearDeviceLog));
}

void DeviceAgentSession::setDeviceLogLevel(int level)
{
    sendIgnoringFailure(makeCommand(kSetLogLevel, {{kArgLevel, level}}));
}

QVariantMap DeviceAgentSession::sendDeviceCmd(const QString &text)
{
    Q_UNUSED(text);
    m_host->throwIfNotConnected(QStringLiteral("sendDeviceCmd"));
    throw VtrException(kStopPluginException, vtrLocalized("Can't write command to device"));
}

// ---- records, cookies ----------------------------------------------------------------------

bool DeviceAgentSession::openDatabase(const QString &database, const QString &cookie)
{
    m_host->throwIfNotConnected(QStringLiteral("Open Database"));
    writeCommandToDevice(
        makeCommand(kOpenDb, {{kArgDatabase, database}, {kArgCookie, cookie.isNull() ? QStringLiteral("") : cookie}}));
    return waitForStringResponse(true) == kTrue;
}

void DeviceAgentSession::closeDatabase(const QString &database)
{
    sendIgnoringFailure(makeCommand(kCloseDb, {{kArgDatabase, database}}));
}

void DeviceAgentSession::setSyncCookie(const QString &cookie, const QString &key)
{
    m_host->throwIfNotConnected(QStringLiteral("setSyncCookie"));
    if (key.isEmpty()) return;
    sendIgnoringFailure(makeCommand(kDropCookie, {{kArgCookieKey, key}}));
    if (!cookie.isEmpty()) sendIgnoringFailure(makeCommand(kSetCookie, {{kArgCookie, cookie}, {kArgCookieKey, key}}));
}

QString DeviceAgentSession::getSyncCookie(const QString &key)
{
    if (key.isNull()) return QString();
    m_host->throwIfNotConnected(QStringLiteral("getCookie"));
    writeCommandToDevice(makeCommand(kGetCookie, {{kArgCookieKey, key}}));
    return waitForStringResponse(true);
}

QVariantList DeviceAgentSession::getAllRecordIDsAsArray(const QString &database)
{
    m_host->throwIfNotConnected(QStringLiteral("getAllRecordIDs"));
    writeCommandToDevice(makeCommand(kGetAllRecIds, {{kArgDatabase, database}}));
    return waitForArrayResponse(kArgId, true).value_or(QVariantList());
}

QSet<QString> DeviceAgentSession::getAllRecordIDs(const QString &database)
{
    return toTextSet(getAllRecordIDsAsArray(database));
}

QSet<QString> DeviceAgentSession::recordIDSet(const QString &command, const QString &operation,
                                              const QVariantMap &arguments)
{
    m_host->throwIfNotConnected(operation);
    writeCommandToDevice(makeCommand(command, arguments));
    return toTextSet(waitForArrayResponse(kArgId, true).value_or(QVariantList()));
}

QSet<QString> DeviceAgentSession::getNewRecordIDs(const QString &database)
{
    return recordIDSet(kGetNewRecIds, QStringLiteral("getNewRecordIDs"), {{kArgDatabase, database}});
}

QSet<QString> DeviceAgentSession::getModifiedRecordIDs(const QString &database, const QString &since)
{
    return recordIDSet(kGetModRecIds, QStringLiteral("getModifiedRecordIDs"),
                       {{kArgTime, since}, {kArgDatabase, database}});
}

QSet<QString> DeviceAgentSession::getDeletedRecordIDs(const QString &database)
{
    return recordIDSet(kGetDelRecIds, QStringLiteral("getDeletedRecordIDs"), {{kArgDatabase, database}});
}

QVariantMap DeviceAgentSession::getRecord(const QString &database, const QString &recordID, bool hashesOK)
{
    m_host->throwIfNotConnected(QStringLiteral("getRecord"));
    writeCommandToDevice(
        makeCommand(kGetRecord, {{kArgHashOk, boolText(hashesOK)}, {kArgDatabase, database}, {kArgId, recordID}}));
    return waitForDictionaryResponse(false);
}

QString DeviceAgentSession::getRecordHash(const QString &database, const QString &recordID)
{
    m_host->throwIfNotConnected(QStringLiteral("getRecord"));
    writeCommandToDevice(makeCommand(kGetRecordHash, {{kArgDatabase, database}, {kArgId, recordID}}));
    return waitForStringResponse(false);
}

// The record and the field travel under their own keys, so the agent gets both.
QVariant DeviceAgentSession::getField(const QString &database, const QString &recordID, const QString &field)
{
    m_host->throwIfNotConnected(QStringLiteral("getField"));
    writeCommandToDevice(
        makeCommand(kGetField, {{kArgDatabase, database}, {kArgId, recordID}, {QStringLiteral("field"), field}}));
    return waitForResponse();
}

QString DeviceAgentSession::getFieldHash(const QString &database, const QString &recordID, const QString &field)
{
    m_host->throwIfNotConnected(QStringLiteral("getFieldHash"));
    writeCommandToDevice(
        makeCommand(kGetFieldHash, {{kArgDatabase, database}, {kArgId, recordID}, {QStringLiteral("field"), field}}));
    return waitForStringResponse(false);
}

QVariantMap DeviceAgentSession::addRecord(const QString &database, const QVariantMap &record)
{
    m_host->throwIfNotConnected(QStringLiteral("addRecord"));
    writeCommandToDevice(makeCommand(kAddRecord, {{kArgDatabase, database}, {kArgRecord, record}}));
    return waitForDictionaryResponse(false);
}

QString DeviceAgentSession::modifyRecord(const QString &database, const QString &recordID, const QVariantMap &record)
{
    m_host->throwIfNotConnected(QStringLiteral("modifyRecord"));
    writeCommandToDevice(
        makeCommand(kModifyRecord, {{kArgDatabase, database}, {kArgId, recordID}, {kArgRecord, record}}));
    return waitForStringResponse(false);
}

QVariantMap DeviceAgentSession::modifyRecordAndReturnResultDictionary(const QString &database, const QString &recordID,
                                                                      const QVariantMap &record)
{
    m_host->throwIfNotConnected(QStringLiteral("modifyRecord"));
    writeCommandToDevice(
        makeCommand(kModifyRecord, {{kArgDatabase, database}, {kArgId, recordID}, {kArgRecord, record}}));
    return waitForDictionaryResponse(false);
}

void DeviceAgentSession::deleteRecord(const QString &database, const QString &recordID)
{
    m_host->throwIfNotConnected(QStringLiteral("deleteRecord"));
    writeCommandToDevice(makeCommand(kDeleteRecord, {{kArgDatabase, database}, {kArgId, recordID}}));
    waitForResponse();
}

void DeviceAgentSession::deleteAllRecords(const QString &database)
{
    m_host->throwIfNotConnected(QStringLiteral("deleteAllRecords"));
    const QVariantMap command = makeCommand(kDeleteAllRecords, {{kArgDatabase, database}});
    for (;;) {
        writeCommandToDevice(command);
        if (!waitForDictionaryResponse(true).contains(kArgMoreCookie)) return;
    }
}

void DeviceAgentSession::clearHashesForDatabase(const QString &database)
{
    m_host->throwIfNotConnected(QStringLiteral("clearChangedFlags"));
    writeCommandToDevice(makeCommand(kClearHashes, {{kArgDatabase, database}}));
    waitForResponse();
}
