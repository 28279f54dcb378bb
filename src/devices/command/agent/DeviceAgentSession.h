#pragma once

#include "devices/command/agent/DeviceAgentProtocol.h"

#include <QByteArray>
#include <QDateTime>
#include <QSet>
#include <QString>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>

#include <memory>
#include <optional>

class SocketLibSyncSocket;

// What the conversation with a phone's agent needs from the phone's command
// interface (PlatformDevice), which owns the connection state, the attached
// MTP answerer and the cached device information.
class DeviceAgentHost
{
public:
    virtual ~DeviceAgentHost() = default;

    // Raises "StopSyncException" when the device is not connected
    // (see DeviceAgent::throwIfNotConnected()).
    virtual void throwIfNotConnected(const QString &operation) = 0;
    virtual bool hasMassStorageConnectionOnly() = 0;
    // The attached MTP answerer has a live device handle.
    virtual bool hasLiveMtpHandle() = 0;
    // The MTP answerer's own handling of a command dictionary; its answer.
    virtual QVariant sendCmdToMtp(const QVariantMap &command) = 0;
    // The cached device information (the "GET_DEVICE_INFO" answer), which
    // also carries the agent's capability flags "MARF" and
    // "supports_compression"; empty when none is cached.
    virtual QVariantMap deviceInfoFromDevice() = 0;
    // Drops the cached device information so the next request asks again.
    virtual void forgetDeviceInfoFromDevice() = 0;
};

namespace DeviceAgent {

// Capability flags of the agent ("TRUE" in the device information).
bool agentUsesMarfFrames(const QVariantMap &deviceInfoFromDevice);
bool agentSupportsCompression(const QVariantMap &deviceInfoFromDevice);

// The check every device operation starts with: when not connected raises
// "StopSyncException" "<operation> failed. No connection to device.", or
// "Command failed. No connection to device." for a null operation name.
void throwIfNotConnected(bool connected, const QString &operation);

// The phone clock answer made from this computer's clock, for connections
// whose phone is not asked: "local" (`now` in the local zone) and "utc" as
// ST2 text without zone, and "offset", "__OFFSET" and "utcoffset" (the local
// offset from UTC in milliseconds, decimal text).
QVariantMap localClockDictionary(const QDateTime &now);

// The agent's "VERSION" argument of "START_SYNC".
QString syncClientVersion();

} // namespace DeviceAgent

// The conversation with the agent program on a phone over a stream socket:
// one command frame out, one reply frame back (keep-alives skipped), plus the
// synchronization, device, record, log and cookie commands built on it.
//
// PlatformDevice owns one session and forwards the operations of
// HandheldDeviceProtocol that belong to this road. The session keeps the
// road's own state: the socket, the syncing and cancelling flags and the
// reply time-out.
//
// Failures are VtrException objects: "StopSyncException" for the connection,
// the socket and a cancelled wait; "StopPluginException" for replies that
// make no sense; "DeviceException" for errors the agent reports.
//
// One command is in flight at a time; the session is used by one thread at a
// time. Only the application-wide cancel flag (AppFlags.h) comes from others.
class DeviceAgentSession
{
public:
    // Reply time-outs in seconds: after a failure on this road, and after a
    // disconnect or the end of a synchronization.
    static constexpr int kTimeoutAfterFailure = 15;
    static constexpr int kTimeoutRestored = 300;
    // Largest read asked of the socket at once.
    static constexpr int kReadChunk = 4096;

    // `host` is not owned and must outlive the session.
    explicit DeviceAgentSession(DeviceAgentHost *host, DeviceAgent::FrameLimits limits = {});
    ~DeviceAgentSession();

    DeviceAgentSession(const DeviceAgentSession &) = delete;
    DeviceAgentSession &operator=(const DeviceAgentSession &) = delete;

    // The agent socket (none by default). Replacing it forgets bytes received
    // on the old one.
    void setSocket(std::unique_ptr<SocketLibSyncSocket> socket);
    SocketLibSyncSocket *socket() const { return m_socket.get(); }
    bool hasSocket() const { return m_socket != nullptr; }

    // Seconds a reply may stay silent; starts at 0 (a silent socket then fails
    // at its first receive time-out).
    int readTimeout() const { return m_readTimeout; }
    void setReadTimeout(int seconds) { m_readTimeout = seconds; }

    bool isSyncing() const { return m_syncing; }
    bool isCancelling() const { return m_cancelling; }

    // ---- frames -----------------------------------------------------------------
    // Writes one command (and, in a "MARF" frame, the blob). A null blob means
    // none; a blob is only sent when the agent uses "MARF" frames.
    void writeCommandToDevice(const QVariantMap &command, const QByteArray &blob = QByteArray());
    // Waits for the next reply that is not a keep-alive; answers its "result"
    // (an invalid QVariant for none).
    QVariant waitForResponseXML();

    // ---- typed waits ------------------------------------------------------------
    QVariant waitForResponse();
    // `type` is QMetaType::QVariantMap, QString or QVariantList. A missing
    // result answers an invalid QVariant when `nilOK`, else raises; an empty
    // text stands for an empty dictionary or list; any other type raises.
    QVariant waitForResponseOfType(QMetaType::Type type, bool nilOK);
    // Empty for a missing result (when allowed).
    QVariantMap waitForDictionaryResponse(bool nilOK);
    // Null QString for a missing result (when allowed).
    QString waitForStringResponse(bool nilOK);
    // The reply dictionary's value under `key` as a list (a single value is
    // wrapped); nullopt when the reply or the value is missing and `nilOK`.
    std::optional<QVariantList> waitForArrayResponse(const QString &key, bool nilOK);

    // The socket form of sendCmdWithDictionary: write the command (with the
    // blob when given) and answer the reply's result dictionary (required).
    QVariantMap sendCmdWithDictionary(const QVariantMap &command, const QByteArray &blob = QByteArray());

    // ---- synchronization and device -----------------------------------------------
    bool handshakeWithDevice();
    QString getDeviceVersion();
    void startSync();
    void stopSync(bool success);
    void cancelSync();
    void commitDatabaseSync(bool success, const QString &database);
    QVariantMap getTime();
    void setTime(const QString &time);
    // The agent's "GET_DEVICE_INFO" reply, as it came (the caller caches and
    // completes it).
    QVariantMap requestDeviceInfo();
    QVariantMap getAllLogs(const QString &time, const QString &cookie);
    QVariantMap getSMSLogs(const QString &time, const QString &cookie);
    QVariantMap getCallLogs(const QString &time, const QString &cookie);
    QString getDebugInfo();
    QString getDeviceLog();
    QString getDevicePreviousLog();
    void clearDeviceLog();
    void setDeviceLogLevel(int level);
    void clearDeviceError() {}
    // Raw command text needs a raw-text writer, which this road does not
    // have: after the connection check it raises "StopPluginException"
    // "Can't write command to device".
    QVariantMap sendDeviceCmd(const QString &text);

    // ---- records, cookies --------------------------------------------------------------
    bool openDatabase(const QString &database, const QString &cookie);
    void closeDatabase(const QString &database);
    void setSyncCookie(const QString &cookie, const QString &key);
    // Null for a null key (nothing is sent) or a missing answer.
    QString getSyncCookie(const QString &key);
    QVariantList getAllRecordIDsAsArray(const QString &database);
    // Record IDs as text.
    QSet<QString> getAllRecordIDs(const QString &database);
    QSet<QString> getNewRecordIDs(const QString &database);
    QSet<QString> getModifiedRecordIDs(const QString &database, const QString &since);
    QSet<QString> getDeletedRecordIDs(const QString &database);
    QVariantMap getRecord(const QString &database, const QString &recordID, bool hashesOK);
    QString getRecordHash(const QString &database, const QString &recordID);
    QVariant getField(const QString &database, const QString &recordID, const QString &field);
    QString getFieldHash(const QString &database, const QString &recordID, const QString &field);
    QVariantMap addRecord(const QString &database, const QVariantMap &record);
    QString modifyRecord(const QString &database, const QString &recordID, const QVariantMap &record);
    QVariantMap modifyRecordAndReturnResultDictionary(const QString &database, const QString &recordID,
                                                      const QVariantMap &record);
    void deleteRecord(const QString &database, const QString &recordID);
    void deleteAllRecords(const QString &database);
    void clearHashesForDatabase(const QString &database);

private:
    [[noreturn]] void failStream(const QString &name, const QString &reason);
    std::optional<DeviceAgent::Frame> takeBufferedFrame();
    QVariantMap getLogs(const QString &command, const QString &operation, const QString &time, const QString &cookie);
    QSet<QString> recordIDSet(const QString &command, const QString &operation, const QVariantMap &arguments);
    // Writes a command and waits for any reply; VtrException is swallowed.
    void sendIgnoringFailure(const QVariantMap &command);

    DeviceAgentHost *m_host;
    std::unique_ptr<SocketLibSyncSocket> m_socket;
    DeviceAgent::FrameReader m_reader;
    int m_readTimeout = 0;
    bool m_syncing = false;
    bool m_cancelling = false;
};
