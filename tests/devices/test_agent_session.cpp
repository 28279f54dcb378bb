// The conversation with a phone's agent, against a scripted fake agent on the
// other end of a socketpair(): framing both ways, keep-alives, error replies,
// time-outs, hostile headers, and the synchronization and record commands.
#include "devices/AppFlags.h"
#include "devices/command/DeviceCommands.h"
#include "devices/command/agent/DeviceAgentSession.h"
#include "foundation/Json.h"
#include "foundation/Log.h"
#include "net/SocketLibSyncSocket.h"
#include "platform/VtrException.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include <sys/socket.h>

using namespace DeviceAgent;

namespace {

class FakeHost : public DeviceAgentHost
{
public:
    bool connected = true;
    bool liveMtp = false;
    QVariantMap info;
    QList<QVariantMap> mtpCommands;
    int forgotten = 0;

    void throwIfNotConnected(const QString &operation) override
    {
        DeviceAgent::throwIfNotConnected(connected, operation);
    }
    bool hasMassStorageConnectionOnly() override { return false; }
    bool hasLiveMtpHandle() override { return liveMtp; }
    QVariant sendCmdToMtp(const QVariantMap &command) override
    {
        mtpCommands.append(command);
        return QVariantMap();
    }
    QVariantMap deviceInfoFromDevice() override { return info; }
    void forgetDeviceInfoFromDevice() override { ++forgotten; }
};

// What the fake agent received.
struct Received
{
    QVariantMap command;
    FrameKind kind = FrameKind::Plain;
    QByteArray blob;
};

QByteArray plainFrame(const QByteArray &json)
{
    return "MARK " + QByteArray::number(json.size()) + "\n" + json;
}

class AgentSession : public ::testing::Test
{
protected:
    void SetUp() override
    {
        int fds[2];
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
        auto mine = std::make_unique<SocketLibSyncSocket>(fds[0]);
        mine->setReadTimeout(20);
        session.setSocket(std::move(mine));
        agent = std::make_unique<SocketLibSyncSocket>(fds[1]);
        agent->setNonBlocking(true);
    }
    void TearDown() override { SetSyncCancelRequested(false); }

    void reply(const QByteArray &json) { ASSERT_EQ(agent->writeExactly(plainFrame(json)), 0); }
    void send(const QByteArray &bytes) { ASSERT_EQ(agent->writeExactly(bytes), 0); }

    // Everything the session has written so far, as commands.
    QList<Received> received()
    {
        char buffer[65536];
        std::size_t n = 0;
        while (agent->read(buffer, sizeof buffer, &n) == 0) {
            raw.append(buffer, qsizetype(n));
            agentReader.append(buffer, qsizetype(n));
        }
        QList<Received> commands;
        while (std::optional<Frame> frame = agentReader.takeFrame())
            commands.append({vtr::JSONValueFromUtf8(frame->json).toMap(), frame->kind, frame->blob});
        return commands;
    }
    Received onlyCommand()
    {
        const QList<Received> commands = received();
        EXPECT_EQ(commands.size(), 1);
        return commands.value(0);
    }

    template <typename F> void expectFailure(F &&f, const QString &name, const QString &reason)
    {
        try {
            f();
            ADD_FAILURE() << "no exception, expected " << reason.toStdString();
        } catch (const VtrException &e) {
            EXPECT_EQ(e.name(), name);
            EXPECT_EQ(e.reason(), reason);
        }
    }

    FakeHost host;
    DeviceAgentSession session{&host};
    std::unique_ptr<SocketLibSyncSocket> agent;
    FrameReader agentReader;
    QByteArray raw;
};

} // namespace

// ---- framing ----------------------------------------------------------------------------

TEST_F(AgentSession, PlainRoundTrip)
{
    reply(R"({"result":"I am here."})");
    EXPECT_TRUE(session.handshakeWithDevice());
    const Received sent = onlyCommand();
    EXPECT_EQ(sent.kind, FrameKind::Plain);
    EXPECT_TRUE(raw.startsWith("MARK "));
    EXPECT_EQ(sent.command, (QVariantMap{{"command", "HANDSHAKE_DEVICE"}, {"query", "Are you there?"}}));

    reply(R"({"result":"Who is asking?"})");
    EXPECT_FALSE(session.handshakeWithDevice());

    host.connected = false;
    EXPECT_FALSE(session.handshakeWithDevice());
}

TEST_F(AgentSession, CompressedFramesBothWays)
{
    const QVariantMap record{{"text", QString(400, QLatin1Char('q'))}};
    const QByteArray answer = R"({"result":{"id":"77","note":")" + QByteArray(300, 'n') + R"("}})";
    const QByteArray packed = deflateBytes(answer);
    send("MARQ " + QByteArray::number(packed.size()) + " " + QByteArray::number(answer.size()) + "\n" + packed);

    host.info = {{"supports_compression", "TRUE"}};
    const QVariantMap result = session.addRecord("contacts", record);
    EXPECT_EQ(result.value("id").toString(), "77");
    EXPECT_EQ(result.value("note").toString().size(), 300);

    const Received sent = onlyCommand();
    EXPECT_EQ(sent.kind, FrameKind::Compressed);
    EXPECT_TRUE(raw.startsWith("MARQ "));
    EXPECT_EQ(sent.command.value("record").toMap(), record);
    EXPECT_EQ(sent.command.value("database").toString(), "contacts");
}

TEST_F(AgentSession, BlobFramesBothWays)
{
    host.info = {{"MARF", "TRUE"}};
    const QByteArray chunk(1000, '\x5a');
    const QByteArray replyJson = R"({"result":{"count":"3"}})";
    send("MARF " + QByteArray::number(replyJson.size() + 3) + " 3\n" + replyJson + QByteArray("\x00\x01\x02", 3));

    const QVariantMap result = session.sendCmdWithDictionary(DeviceCommands::fsWriteFile(0, QVariant()), chunk);
    EXPECT_EQ(result.value("count").toString(), "3");
    EXPECT_EQ(result.value("data").toByteArray(), QByteArray("\x00\x01\x02", 3));

    const Received sent = onlyCommand();
    EXPECT_EQ(sent.kind, FrameKind::WithBlob);
    EXPECT_EQ(sent.blob, chunk);
    EXPECT_FALSE(sent.command.contains("data"));
    const qsizetype jsonLength = raw.size() - raw.indexOf('\n') - 1 - 1000;
    EXPECT_TRUE(raw.startsWith("MARF " + QByteArray::number(jsonLength + 1000) + " 1000\n"));
}

TEST_F(AgentSession, TwoFramesInOneReadAndErrorRepliesLeaveTheRest)
{
    // All replies arrive at once; each wait takes exactly one frame.
    send(plainFrame(R"({"fatal":"flash worn out"})") + plainFrame(R"({"cancel":"user pressed stop"})") +
         plainFrame(R"({"error":"no such record"})") + plainFrame(R"({"result":{"name":"Ann"}})") +
         plainFrame(R"({"result":"h1"})"));
    auto get = [this] { return session.getRecord("contacts", "12", true); };
    expectFailure(get, "StopPluginException", "Fatal device error: flash worn out");
    expectFailure(get, "StopSyncException", "Device canceled sync: user pressed stop");
    expectFailure(get, "DeviceException", "Device error: no such record");
    EXPECT_EQ(get().value("name").toString(), "Ann");
    EXPECT_EQ(session.getRecordHash("contacts", "12"), "h1");

    const QList<Received> sent = received();
    ASSERT_EQ(sent.size(), 5);
    EXPECT_EQ(sent[0].command,
              (QVariantMap{{"command", "GET_RECORD"}, {"hash_ok", "TRUE"}, {"database", "contacts"}, {"id", "12"}}));
}

TEST_F(AgentSession, KeepAlivesExtendTheWait)
{
    session.setReadTimeout(1);
    std::thread script([this] {
        for (int i = 0; i < 4; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(400));
            send(plainFrame(R"({"wait":"still working"})"));
        }
        send(plainFrame(R"({"result":"done"})"));
    });
    // 1.6 s of keep-alives against a 1 s time-out.
    EXPECT_EQ(session.waitForStringResponse(false), "done");
    script.join();
}

TEST_F(AgentSession, SilenceTimesOut)
{
    // The initial time-out of 0 fails at the socket's first receive time-out.
    expectFailure([this] { session.waitForResponse(); }, "StopSyncException", "Timeout error reading from device.");
    EXPECT_EQ(session.readTimeout(), DeviceAgentSession::kTimeoutAfterFailure);

    // A keep-alive does not stand in for the reply.
    session.setReadTimeout(0);
    reply(R"({"wait":"1"})");
    expectFailure([this] { session.waitForResponse(); }, "StopSyncException", "Timeout error reading from device.");

    // A non-blocking socket is not spun on: it times out the same way.
    session.setReadTimeout(0);
    ASSERT_EQ(session.socket()->setNonBlocking(true), 0);
    expectFailure([this] { session.waitForResponse(); }, "StopSyncException", "Timeout error reading from device.");
}

TEST_F(AgentSession, ReplySplitAcrossManyReadsWithCarriageReturn)
{
    session.setReadTimeout(5);
    const QByteArray json = R"({"result":{"local":"20240101120000"}})";
    const QByteArray frame = "MARK " + QByteArray::number(json.size()) + "\r" + json;
    std::thread script([&] {
        for (char c : frame) {
            send(QByteArray(1, c));
            std::this_thread::sleep_for(std::chrono::microseconds(300));
        }
    });
    EXPECT_EQ(session.waitForDictionaryResponse(false).value("local").toString(), "20240101120000");
    script.join();
}

TEST_F(AgentSession, HostileHeadersAreRejectedAndTheNextCommandStartsClean)
{
    send("MARK 99999999\n{\"result\":");
    expectFailure([this] { session.waitForResponse(); }, "StopSyncException", "Error parsing data from device.");
    EXPECT_EQ(session.readTimeout(), DeviceAgentSession::kTimeoutAfterFailure);

    send("MARF 4 9\n");
    expectFailure([this] { session.waitForResponse(); }, "StopSyncException", "Error parsing data from device.");

    send("MARK " + QByteArray(80, '7'));
    expectFailure([this] { session.waitForResponse(); }, "StopSyncException", "Error parsing data from device.");

    // Fails at once, before any line end arrives.
    session.setReadTimeout(30);
    send("HTTP");
    const auto started = std::chrono::steady_clock::now();
    expectFailure([this] { session.waitForResponse(); }, "StopSyncException", "Bad reply from device.");
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));

    reply(R"({"result":"fine"})");
    EXPECT_EQ(session.waitForStringResponse(false), "fine");

    reply("this is no json");
    expectFailure([this] { session.waitForResponse(); }, "StopPluginException", "Invalid response from device");
}

TEST_F(AgentSession, CancelFlagStopsTheWait)
{
    reply(R"({"result":"too late"})");
    SetSyncCancelRequested(true);
    expectFailure([this] { session.waitForResponse(); }, "StopSyncException", "Synchronization cancelled.");
    EXPECT_EQ(session.readTimeout(), DeviceAgentSession::kTimeoutAfterFailure);
}

TEST_F(AgentSession, SocketFailures)
{
    agent.reset();
    expectFailure([this] { session.writeCommandToDevice(DeviceCommands::makeCommand("GET_TIME")); },
                  "StopSyncException", "Error writing command to device. 32");
    session.setReadTimeout(0);
    expectFailure([this] { session.waitForResponse(); }, "StopSyncException", "Error reading from device. (32)");
    EXPECT_EQ(session.readTimeout(), DeviceAgentSession::kTimeoutAfterFailure);

    session.setSocket(nullptr);
    expectFailure([this] { session.waitForResponse(); }, "StopSyncException", "No device socket!");
    expectFailure([this] { session.getRecord("a", "1", false); }, "StopSyncException", "No device socket!");
}

TEST_F(AgentSession, NotConnected)
{
    host.connected = false;
    expectFailure([this] { session.getRecord("a", "1", false); }, "StopSyncException",
                  "getRecord failed. No connection to device.");
    expectFailure([this] { session.writeCommandToDevice(DeviceCommands::makeCommand("GET_TIME")); },
                  "StopSyncException", "writeCommandToDevice failed. No connection to device.");
    expectFailure([] { DeviceAgent::throwIfNotConnected(false, QString()); }, "StopSyncException",
                  "Command failed. No connection to device.");
    EXPECT_TRUE(received().isEmpty());
}

// ---- typed waits --------------------------------------------------------------------------

TEST_F(AgentSession, TypedWaits)
{
    reply(R"({"result":""})");
    EXPECT_TRUE(session.waitForDictionaryResponse(false).isEmpty());
    reply(R"({"result":"text"})");
    expectFailure([this] { session.waitForDictionaryResponse(false); }, "StopPluginException",
                  "Invalid response from device -- wrong data type.");
    reply(R"({"result":null})");
    expectFailure([this] { session.waitForStringResponse(false); }, "StopPluginException",
                  "Invalid response from device -- no data returned.");
    reply(R"({"result":{}})");
    expectFailure([this] { session.waitForStringResponse(true); }, "StopPluginException",
                  "Invalid response from device -- wrong data type.");
    reply(R"({"note":"no result"})");
    EXPECT_TRUE(session.waitForStringResponse(true).isNull());

    reply(R"({"result":{"id":"5"}})");
    EXPECT_EQ(session.waitForArrayResponse("id", false), QVariantList{"5"});
    reply(R"({"result":{"other":"5"}})");
    expectFailure([this] { session.waitForArrayResponse("id", false); }, "StopPluginException",
                  "Invalid response from device -- no data returned.");
}

// ---- commands -------------------------------------------------------------------------------

TEST_F(AgentSession, FieldCommandsCarryRecordAndFieldUnderTheirOwnKeys)
{
    reply(R"({"result":"Smith"})");
    reply(R"({"result":"abc123"})");
    EXPECT_EQ(session.getField("contacts", "42", "last_name").toString(), "Smith");
    EXPECT_EQ(session.getFieldHash("contacts", "42", "last_name"), "abc123");
    const QList<Received> sent = received();
    ASSERT_EQ(sent.size(), 2);
    QVariantMap expected{{"command", "GET_FIELD"}, {"database", "contacts"}, {"id", "42"}, {"field", "last_name"}};
    EXPECT_EQ(sent[0].command, expected);
    expected["command"] = "GET_FIELD_HASH";
    EXPECT_EQ(sent[1].command, expected);
}

TEST_F(AgentSession, DeleteAllRecordsRepeatsWhileMoreRemain)
{
    reply(R"({"result":{"more_cookie":"1"}})");
    reply(R"({"result":{"more_cookie":"2"}})");
    reply(R"({"result":{}})");
    session.deleteAllRecords("calendar");
    EXPECT_EQ(received().size(), 3);

    reply(R"({"result":{"more_cookie":"1"}})");
    reply(R"({"result":null})");
    session.deleteAllRecords("calendar");
    const QList<Received> sent = received();
    ASSERT_EQ(sent.size(), 2);
    EXPECT_EQ(sent[1].command, (QVariantMap{{"command", "DELETE_ALL_RECORDS"}, {"database", "calendar"}}));
}

TEST_F(AgentSession, RecordIdentifiers)
{
    reply(R"({"result":{"id":"17"}})");
    EXPECT_EQ(session.getAllRecordIDs("notes"), QSet<QString>{"17"});
    reply(R"({"result":{"id":[1,2,"x"]}})");
    EXPECT_EQ(session.getNewRecordIDs("notes"), (QSet<QString>{"1", "2", "x"}));
    reply(R"({"result":null})");
    EXPECT_TRUE(session.getDeletedRecordIDs("notes").isEmpty());
    reply(R"({"result":{"id":["9"]}})");
    EXPECT_EQ(session.getModifiedRecordIDs("notes", "20240101000000"), QSet<QString>{"9"});
    const QList<Received> sent = received();
    ASSERT_EQ(sent.size(), 4);
    EXPECT_EQ(sent[3].command,
              (QVariantMap{{"command", "GET_MOD_REC_IDS"}, {"database", "notes"}, {"time", "20240101000000"}}));
}

TEST_F(AgentSession, DatabasesCookiesAndLogs)
{
    reply(R"({"result":"TRUE"})");
    EXPECT_TRUE(session.openDatabase("contacts", QString()));
    EXPECT_EQ(onlyCommand().command.value("cookie"), QVariant(QString("")));

    // The drop's error is swallowed and the set still goes out.
    reply(R"({"error":"unknown cookie"})");
    reply(R"({"result":"ok"})");
    session.setSyncCookie("c1", "k1");
    QList<Received> sent = received();
    ASSERT_EQ(sent.size(), 2);
    EXPECT_EQ(sent[0].command, (QVariantMap{{"command", "DROP_COOKIE"}, {"cookie_key", "k1"}}));
    EXPECT_EQ(sent[1].command, (QVariantMap{{"command", "SET_COOKIE"}, {"cookie", "c1"}, {"cookie_key", "k1"}}));
    session.setSyncCookie("c1", "");
    EXPECT_TRUE(session.getSyncCookie(QString()).isNull());
    EXPECT_TRUE(received().isEmpty());

    reply(R"({"result":{"log":[]}})");
    session.getCallLogs("20240101000000", "more");
    EXPECT_EQ(onlyCommand().command,
              (QVariantMap{{"command", "GET_CALL_LOGS"}, {"time", "20240101000000"}, {"more_cookie", "more"}}));

    reply(R"({"result":"old log"})");
    EXPECT_EQ(session.getDevicePreviousLog(), "old log");
    EXPECT_EQ(onlyCommand().command.value("previous"), QVariant(qint64(1)));
    // Failures of these answer fixed texts.
    reply(R"({"error":"no log"})");
    EXPECT_EQ(session.getDeviceLog(), "");
    reply(R"({"error":"busy"})");
    EXPECT_EQ(session.getDeviceVersion(), "0");
}

TEST_F(AgentSession, SynchronizationState)
{
    reply(R"({"result":"OK"})");
    session.startSync();
    EXPECT_TRUE(session.isSyncing());
    EXPECT_EQ(onlyCommand().command,
              (QVariantMap{{"command", "START_SYNC"}, {"PLATFORM", "MAC"}, {"VERSION", "2.0.0.71"}}));

    reply(R"({"result":"OK"})");
    session.stopSync(true);
    EXPECT_FALSE(session.isSyncing());
    EXPECT_EQ(host.forgotten, 1);
    EXPECT_EQ(session.readTimeout(), DeviceAgentSession::kTimeoutRestored);
    EXPECT_EQ(onlyCommand().command, (QVariantMap{{"command", "STOP_SYNC"}, {"SUCCESS", "TRUE"}}));

    // Not syncing: neither stop nor cancel says anything.
    session.setReadTimeout(7);
    session.stopSync(false);
    session.cancelSync();
    EXPECT_EQ(session.readTimeout(), 7);
    EXPECT_TRUE(received().isEmpty());

    // A cancel whose reply fails still ends the synchronization.
    reply(R"({"result":"OK"})");
    session.startSync();
    reply(R"({"fatal":"gone"})");
    session.cancelSync();
    EXPECT_TRUE(session.isCancelling());
    EXPECT_FALSE(session.isSyncing());
    EXPECT_EQ(session.readTimeout(), DeviceAgentSession::kTimeoutRestored);
    EXPECT_EQ(received().size(), 2);
}

TEST_F(AgentSession, LiveMtpTakesTheSyncCommandsAndTheClock)
{
    host.liveMtp = true;
    session.startSync();
    session.stopSync(false);
    ASSERT_EQ(host.mtpCommands.size(), 2);
    EXPECT_EQ(host.mtpCommands[0].value("command").toString(), "START_SYNC");
    EXPECT_EQ(host.mtpCommands[1].value("SUCCESS").toString(), "FALSE");

    const QVariantMap clock = session.getTime();
    EXPECT_EQ(clock.value("local").toString().size(), 14);
    EXPECT_EQ(clock.value("offset"), clock.value("utcoffset"));
    EXPECT_EQ(clock.value("offset"), clock.value("__OFFSET"));
    session.setTime("20240101000000");
    EXPECT_TRUE(received().isEmpty());
}

TEST(AgentClock, LocalClockDictionary)
{
    const QDateTime instant(QDate(2023, 7, 1), QTime(22, 30, 5), Qt::UTC);
    const QVariantMap clock = localClockDictionary(instant);
    EXPECT_EQ(clock.value("utc").toString(), "20230701223005");
    const QDateTime local = instant.toLocalTime();
    EXPECT_EQ(clock.value("local").toString(), local.toString("yyyyMMddHHmmss"));
    EXPECT_EQ(clock.value("offset").toString(), QString::number(qint64(local.offsetFromUtc()) * 1000));
}
