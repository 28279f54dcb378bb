#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <optional>

// Framing of the conversation with the agent program on a phone. Each
// command and each reply is one frame:
//
//   "MARK <n>\n"        then n bytes of JSON text
//   "MARQ <n> <u>\n"    then n bytes of zlib-compressed JSON (RFC 1950
//                       stream) that inflate to exactly u bytes
//   "MARF <n> <b>\n"    then n bytes: JSON text followed by a binary blob of
//                       the last b bytes
//
// A header line may also end in "\r". Numbers are unsigned 32-bit decimals.
//
// Nothing here touches a socket: the reader works on bytes handed to it, so
// that it can be tested and fuzzed on plain buffers. Everything a peer says
// about sizes is checked against limits before any memory is committed to it.
namespace DeviceAgent {

enum class FrameKind {
    Plain,      // "MARK"
    Compressed, // "MARQ"
    WithBlob,   // "MARF"
};

// The header line as a text ("MARK", "MARQ" or "MARF").
QString frameKindName(FrameKind kind);

// Bounds on what a peer may announce.
struct FrameLimits
{
    // Longest header line without its line end.
    int maxHeaderLine = 64;
    // Largest body (compressed or not, blob included) and largest inflated JSON.
    qint64 maxBody = qint64(64) * 1024 * 1024;
};

// ---- writing -------------------------------------------------------------------

// JSON texts shorter than this are never compressed.
inline constexpr int kMinimumCompressedLength = 128;

// One frame as it goes out: header, then body, then (for "MARF") the blob.
struct EncodedFrame
{
    FrameKind kind = FrameKind::Plain;
    QByteArray header;
    QByteArray body;
    QByteArray blob; // empty unless kind is WithBlob

    QByteArray bytes() const { return header + body + blob; }
};

// Chooses and builds the frame of a command's JSON text:
// - "MARF" when `marfEnabled` and a blob is given (a non-null QByteArray);
// - else "MARQ" when `compressionAllowed`, the JSON is at least
//   kMinimumCompressedLength bytes and its compressed form is shorter;
// - else "MARK". A blob given without "MARF" is not sent.
// Answers nullopt when a length does not fit the header's 32-bit numbers.
std::optional<EncodedFrame> encodeFrame(const QByteArray &json, const QByteArray &blob, bool marfEnabled,
                                        bool compressionAllowed);

// zlib helpers (RFC 1950 streams). inflateExactly() answers nullopt unless the
// stream is complete, nothing follows it and it inflates to exactly
// `expectedLength` bytes; it never produces more than that.
QByteArray deflateBytes(const QByteArray &bytes);
std::optional<QByteArray> inflateExactly(const QByteArray &compressed, qint64 expectedLength);

// ---- reading -------------------------------------------------------------------

// One complete frame as received; `json` is already inflated.
struct Frame
{
    FrameKind kind = FrameKind::Plain;
    QByteArray json;
    QByteArray blob; // only for WithBlob (may be empty)
};

// Collects received bytes and cuts them into frames. Bytes beyond a frame's
// announced length stay buffered as the start of the next frame.
//
// takeFrame() raises VtrException for a stream that cannot be a frame, and
// clears itself first (the stream is out of step after that):
// - "StopSyncException" "Bad reply from device." when the buffered bytes do
//   not begin like "MARK ", "MARQ " or "MARF " (noticed as soon as the first
//   five bytes are there, before any line end);
// - "StopSyncException" "Error parsing data from device." when a header line
//   is longer than the limit, announces a body or an inflated length beyond
//   the limit, or a blob longer than its frame;
// - "StopPluginException" "Invalid response from device" when a "MARQ" body
//   does not inflate to exactly its announced length.
// A header line of a known kind whose numbers do not parse is dropped and
// the next line is taken as the header.
class FrameReader
{
public:
    explicit FrameReader(FrameLimits limits = {});

    void append(const char *data, qsizetype size);
    void append(const QByteArray &bytes) { append(bytes.constData(), bytes.size()); }

    // The next complete frame, or nullopt when more bytes are needed.
    std::optional<Frame> takeFrame();

    // Forgets buffered bytes and any header already taken.
    void clear();

    qsizetype bufferedBytes() const { return m_buffer.size(); }
    bool hasHeader() const { return m_haveHeader; }
    const FrameLimits &limits() const { return m_limits; }

private:
    [[noreturn]] void fail(const QString &name, const char *reason);
    bool takeHeader();

    FrameLimits m_limits;
    QByteArray m_buffer;
    bool m_haveHeader = false;
    FrameKind m_kind = FrameKind::Plain;
    qint64 m_bodyLength = 0;
    qint64 m_secondNumber = 0; // inflated length ("MARQ") or blob length ("MARF")
};

// ---- replies -------------------------------------------------------------------

// The reply dictionary of a frame. The JSON must be an object; a "MARF"
// frame's blob is put under "data" in the reply's "result" dictionary (made
// when the reply has no result). Raises "StopPluginException" "Invalid
// response from device" otherwise (logging the text in category 2).
QVariantMap decodeReply(const Frame &frame);

// What a reply means to the waiting caller: nullopt for a keep-alive
// ("wait"), else its "result" (an invalid QVariant when it is missing or
// JSON null). Raises the exception of a "fatal", "cancel" or "error" text,
// and logs "warning" (category 1) and "note" (category 0).
std::optional<QVariant> interpretReply(const QVariantMap &reply);

} // namespace DeviceAgent
