// Framing of the agent conversation on plain byte buffers: what goes out for a
// command, and how received bytes are cut into frames, including hostile ones.
#include "devices/command/agent/DeviceAgentProtocol.h"
#include "platform/VtrException.h"

#include <gtest/gtest.h>

#include <QRandomGenerator>

using namespace DeviceAgent;

namespace {

QByteArray jsonOfLength(int length)
{
    // {"command":"X","pad":"aaaa..."} padded to exactly `length` bytes.
    QByteArray json = R"({"command":"X","pad":""})";
    json.insert(json.size() - 2, QByteArray(length - json.size(), 'a'));
    return json;
}

QByteArray randomBytes(int length)
{
    QByteArray bytes(length, Qt::Uninitialized);
    QRandomGenerator generator(7);
    for (char &c : bytes)
        c = char(generator.bounded(256));
    return bytes;
}

template <typename F> void expectVtrException(F &&f, const QString &name, const QString &reason)
{
    try {
        f();
        ADD_FAILURE() << "no exception, expected " << name.toStdString();
    } catch (const VtrException &e) {
        EXPECT_EQ(e.name(), name);
        EXPECT_EQ(e.reason(), reason);
    }
}

} // namespace

TEST(AgentFrameWriting, ChoosesTheHeaderByCapabilitiesAndSize)
{
    const QByteArray json127 = jsonOfLength(127);
    const QByteArray json128 = jsonOfLength(128);
    ASSERT_EQ(json127.size(), 127);

    // Short texts are never compressed, whatever the agent supports.
    auto frame = encodeFrame(json127, QByteArray(), false, true);
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->kind, FrameKind::Plain);
    EXPECT_EQ(frame->header, "MARK 127\n");
    EXPECT_EQ(frame->body, json127);

    // 128 bytes are compressed only when the agent allows it ...
    frame = encodeFrame(json128, QByteArray(), false, false);
    EXPECT_EQ(frame->header, "MARK 128\n");
    frame = encodeFrame(json128, QByteArray(), false, true);
    EXPECT_EQ(frame->kind, FrameKind::Compressed);
    EXPECT_EQ(frame->header, "MARQ " + QByteArray::number(frame->body.size()) + " 128\n");
    EXPECT_EQ(inflateExactly(frame->body, 128), json128);

    // ... and the compressed form is shorter.
    // (The encoder takes any bytes; random ones do not shrink.)
    frame = encodeFrame(randomBytes(200), QByteArray(), false, true);
    EXPECT_EQ(frame->kind, FrameKind::Plain);
}

TEST(AgentFrameWriting, BlobTravelsOnlyInMarfFrames)
{
    const QByteArray json = jsonOfLength(60);
    const QByteArray chunk(1000, 'z');
    auto frame = encodeFrame(json, chunk, true, true);
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->kind, FrameKind::WithBlob);
    EXPECT_EQ(frame->header, "MARF 1060 1000\n");
    EXPECT_EQ(frame->bytes(), "MARF 1060 1000\n" + json + chunk);

    // Without "MARF" the blob is not sent at all.
    frame = encodeFrame(json, chunk, false, false);
    EXPECT_EQ(frame->bytes(), "MARK 60\n" + json);
    // No blob given: no "MARF" frame even when the agent takes them.
    frame = encodeFrame(json, QByteArray(), true, false);
    EXPECT_EQ(frame->kind, FrameKind::Plain);
    // An empty blob is still one: a write of no bytes.
    frame = encodeFrame(json, QByteArray(""), true, false);
    EXPECT_EQ(frame->bytes(), "MARF 60 0\n" + json);
}

TEST(AgentInflate, StopsAtTheAnnouncedLength)
{
    const QByteArray text = QByteArray(5000, 'x') + "end";
    const QByteArray packed = deflateBytes(text);
    EXPECT_EQ(inflateExactly(packed, text.size()), text);
    EXPECT_FALSE(inflateExactly(packed, text.size() - 1));                     // more than announced
    EXPECT_FALSE(inflateExactly(packed, text.size() + 1));                     // less than announced
    EXPECT_FALSE(inflateExactly(packed.left(packed.size() - 3), text.size())); // truncated stream
    EXPECT_FALSE(inflateExactly(packed + "junk", text.size()));                // bytes after the stream
    EXPECT_FALSE(inflateExactly("not zlib at all", 10));
    EXPECT_EQ(inflateExactly(deflateBytes(QByteArray("")), 0), QByteArray(""));
    // A few bytes may announce any length: memory follows what inflates, not
    // the announcement (16 TiB could never be had at once).
    EXPECT_FALSE(inflateExactly(deflateBytes("abc"), qint64(1) << 44));
}

TEST(AgentFrameReading, ReassemblesFramesFromPiecesAndKeepsWhatFollows)
{
    FrameReader reader;
    const QByteArray first = R"({"result":"one"})";
    const QByteArray second = R"({"result":"two"})";
    const QByteArray stream = "MARK " + QByteArray::number(first.size()) + "\r" + first + "MARK " +
                              QByteArray::number(second.size()) + "\n" + second + "MAR";
    // One byte at a time: nothing until the first body is complete.
    std::optional<Frame> frame;
    qsizetype fed = 0;
    while (!frame && fed < stream.size()) {
        reader.append(stream.constData() + fed++, 1);
        frame = reader.takeFrame();
    }
    ASSERT_TRUE(frame);
    EXPECT_EQ(fed, 8 + first.size());
    EXPECT_EQ(frame->json, first);

    // The rest arrives in one piece: the second frame comes out, the start of
    // a third stays buffered.
    reader.append(stream.constData() + fed, stream.size() - fed);
    frame = reader.takeFrame();
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->json, second);
    EXPECT_FALSE(reader.takeFrame());
    EXPECT_EQ(reader.bufferedBytes(), 3);
}

TEST(AgentFrameReading, CompressedAndBlobFrames)
{
    FrameReader reader;
    const QByteArray json = R"({"result":{"count":"4"}})";
    const QByteArray packed = deflateBytes(json);
    reader.append("MARQ " + QByteArray::number(packed.size()) + " " + QByteArray::number(json.size()) + "\n" + packed);
    auto frame = reader.takeFrame();
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->kind, FrameKind::Compressed);
    EXPECT_EQ(frame->json, json);

    const QByteArray blob("\x00\x01\x02\xff", 4);
    reader.append("MARF " + QByteArray::number(json.size() + 4) + " 4\n" + json + blob);
    frame = reader.takeFrame();
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->json, json);
    EXPECT_EQ(frame->blob, blob);
    const QVariantMap reply = decodeReply(*frame);
    const QVariantMap result = reply.value("result").toMap();
    EXPECT_EQ(result.value("count").toString(), "4");
    EXPECT_EQ(result.value("data").toByteArray(), blob);

    // A blob reply without a result gets one holding the data.
    reader.append("MARF 5 3\n{}abc");
    EXPECT_EQ(decodeReply(*reader.takeFrame()).value("result").toMap().value("data").toByteArray(), "abc");
}

TEST(AgentFrameReading, RejectsWhatCannotBeAFrame)
{
    const QString stopSync = QStringLiteral("StopSyncException");
    const QString badReply = QStringLiteral("Bad reply from device.");
    const QString badHeader = QStringLiteral("Error parsing data from device.");
    struct Case
    {
        QByteArray bytes;
        QString reason;
    };
    const QList<Case> cases = {
        // Not a frame: noticed from the first bytes, before any line end.
        {"{\"result\":1}", badReply},
        {"MARX", badReply},
        {"mark 5\n", badReply},
        // A header line that never ends.
        {"MARK " + QByteArray(70, '1'), badHeader},
        {"MARK 1" + QByteArray(70, ' '), badHeader},
        // Sizes beyond the limit (64 MiB by default) or inconsistent.
        {"MARK 67108865\n", badHeader},
        {"MARQ 10 67108865\n", badHeader},
        {"MARF 10 11\n", badHeader},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.bytes.left(20).toStdString());
        FrameReader reader;
        reader.append(c.bytes);
        expectVtrException([&] { reader.takeFrame(); }, stopSync, c.reason);
        EXPECT_EQ(reader.bufferedBytes(), 0); // nothing of a broken stream is kept
    }

    // The limit is the reader's own setting.
    FrameReader small(FrameLimits{64, 1024});
    small.append("MARK 1025\n");
    expectVtrException([&] { small.takeFrame(); }, stopSync, badHeader);
    small.append("MARK 1024\n");
    EXPECT_FALSE(small.takeFrame());
    EXPECT_TRUE(small.hasHeader());
}

TEST(AgentFrameReading, GarbledHeaderLineIsDroppedForTheNext)
{
    FrameReader reader;
    reader.append("MARK 12x\nMARQ 5\nMARK 99999999999\nMARK 2\n{}");
    const auto frame = reader.takeFrame();
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->json, "{}");
}

TEST(AgentFrameReading, CompressedBodyMustInflateToItsAnnouncedLength)
{
    const QByteArray json = R"({"result":"a long enough result text"})";
    const QByteArray packed = deflateBytes(json);
    for (qint64 announced : {qint64(json.size()) - 1, qint64(json.size()) + 1, qint64(10000000)}) {
        FrameReader reader;
        reader.append("MARQ " + QByteArray::number(packed.size()) + " " + QByteArray::number(announced) + "\n" +
                      packed + "MARK 2\n{}");
        expectVtrException([&] { reader.takeFrame(); }, "StopPluginException", "Invalid response from device");
    }
}

TEST(AgentReplies, MeaningOfAReply)
{
    auto reply = [](const QByteArray &json) { return decodeReply(Frame{FrameKind::Plain, json, {}}); };
    EXPECT_FALSE(interpretReply(reply(R"({"wait":"1"})")));
    EXPECT_EQ(interpretReply(reply(R"({"result":"x","warning":"w","note":"n"})"))->toString(), "x");
    EXPECT_FALSE(interpretReply(reply(R"({"result":null})"))->isValid());
    EXPECT_FALSE(interpretReply(reply(R"({})"))->isValid());
    // Empty error texts are no errors.
    EXPECT_EQ(interpretReply(reply(R"({"error":"","result":"ok"})"))->toString(), "ok");

    expectVtrException([&] { interpretReply(reply(R"({"fatal":"boom","error":"e"})")); }, "StopPluginException",
                       "Fatal device error: boom");
    expectVtrException([&] { interpretReply(reply(R"({"cancel":"user"})")); }, "StopSyncException",
                       "Device canceled sync: user");
    expectVtrException([&] { interpretReply(reply(R"({"error":"disk full"})")); }, "DeviceException",
                       "Device error: disk full");

    for (const QByteArray &bad : {QByteArray("not json"), QByteArray("[1,2]"), QByteArray(""), QByteArray("{")})
        expectVtrException([&] { reply(bad); }, "StopPluginException", "Invalid response from device");
    // The blob becomes the result's data, also where the result is null.
    for (const QByteArray &json :
         {QByteArray(R"({"result":null})"), QByteArray(R"({})"), QByteArray(R"({"result":{"count":"1"}})")}) {
        const QVariantMap result = decodeReply(Frame{FrameKind::WithBlob, json, "b"}).value("result").toMap();
        EXPECT_EQ(result.value("data").toByteArray(), QByteArray("b")) << json.constData();
    }
    // A blob needs a result dictionary to go into.
    expectVtrException(
        [&] {
            decodeReply(Frame{FrameKind::WithBlob, R"({"result":"text"})", "b"});
        },
        "StopPluginException", "Invalid response from device");
}
