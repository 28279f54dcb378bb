#include "devices/command/agent/DeviceAgentProtocol.h"

#include "devices/command/DeviceCommands.h"
#include "foundation/Json.h"
#include "foundation/Log.h"
#include "platform/Strings.h"
#include "platform/VtrException.h"

#include <QByteArrayView>

#include <zlib.h>

#include <algorithm>
#include <limits>

namespace DeviceAgent {

namespace {

constexpr qint64 kMaxHeaderNumber = std::numeric_limits<quint32>::max();
constexpr char kPlainTag[] = "MARK ";
constexpr char kCompressedTag[] = "MARQ ";
constexpr char kBlobTag[] = "MARF ";
constexpr qsizetype kTagLength = 5;

bool isPrefixOfATag(QByteArrayView start)
{
    for (const char *tag : {kPlainTag, kCompressedTag, kBlobTag}) {
        if (QByteArrayView(tag, start.size()) == start) return true;
    }
    return false;
}

// The unsigned decimal numbers after a header tag; nullopt unless the line
// holds exactly `count` of them, each within 32 bits.
std::optional<QList<qint64>> parseNumbers(QByteArrayView rest, int count)
{
    QList<qint64> numbers;
    qsizetype i = 0;
    while (i < rest.size()) {
        if (rest[i] == ' ' || rest[i] == '\t') {
            ++i;
            continue;
        }
        qint64 value = 0;
        qsizetype digits = 0;
        while (i < rest.size() && rest[i] >= '0' && rest[i] <= '9') {
            value = value * 10 + (rest[i] - '0');
            if (value > kMaxHeaderNumber) return std::nullopt;
            ++i;
            ++digits;
        }
        if (digits == 0) return std::nullopt; // not a digit and not a space
        if (i < rest.size() && rest[i] != ' ' && rest[i] != '\t') return std::nullopt;
        numbers.append(value);
        if (numbers.size() > count) return std::nullopt;
    }
    if (numbers.size() != count) return std::nullopt;
    return numbers;
}

QByteArray headerLine(FrameKind kind, qint64 first, std::optional<qint64> second)
{
    QByteArray line = frameKindName(kind).toLatin1() + ' ' + QByteArray::number(first);
    if (second) line += ' ' + QByteArray::number(*second);
    line += '\n';
    return line;
}

} // namespace

QString frameKindName(FrameKind kind)
{
    switch (kind) {
    case FrameKind::Plain:
        return QStringLiteral("MARK");
    case FrameKind::Compressed:
        return QStringLiteral("MARQ");
    case FrameKind::WithBlob:
        return QStringLiteral("MARF");
    }
    return QString();
}

// ---- writing -------------------------------------------------------------------

QByteArray deflateBytes(const QByteArray &bytes)
{
    uLongf length = compressBound(uLong(bytes.size()));
    QByteArray out(qsizetype(length), Qt::Uninitialized);
    if (compress2(reinterpret_cast<Bytef *>(out.data()), &length, reinterpret_cast<const Bytef *>(bytes.constData()),
                  uLong(bytes.size()), Z_DEFAULT_COMPRESSION) != Z_OK)
        return QByteArray();
    out.resize(qsizetype(length));
    return out;
}

std::optional<QByteArray> inflateExactly(const QByteArray &compressed, qint64 expectedLength)
{
    if (expectedLength < 0 || compressed.size() > std::numeric_limits<uInt>::max()) return std::nullopt;
    z_stream zs{};
    if (inflateInit(&zs) != Z_OK) return std::nullopt;
    zs.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(compressed.constData()));
    zs.avail_in = uInt(compressed.size());

    QByteArray out;
    qint64 produced = 0;
    char overflow = 0;
    bool ok = false;
    for (;;) {
        if (produced < expectedLength) {
            // Grow with the output actually produced, never straight to the
            // announced length: a few bytes may announce many megabytes.
            if (out.size() == produced)
                out.resize(qsizetype(std::min(expectedLength, std::max<qint64>(produced * 2, 16384))));
            zs.next_out = reinterpret_cast<Bytef *>(out.data() + produced);
            zs.avail_out = uInt(std::min<qint64>(out.size() - produced, std::numeric_limits<uInt>::max()));
        } else {
            // Everything announced has arrived: any further byte is one too many.
            zs.next_out = reinterpret_cast<Bytef *>(&overflow);
            zs.avail_out = 1;
        }
        const uInt room = zs.avail_out;
        const int status = inflate(&zs, Z_NO_FLUSH);
        const uInt made = room - zs.avail_out;
        if (produced >= expectedLength && made > 0) break;
        produced += made;
        if (status == Z_STREAM_END) {
            ok = zs.avail_in == 0 && produced == expectedLength;
            break;
        }
        if (status != Z_OK) break;
    }
    inflateEnd(&zs);
    if (!ok) return std::nullopt;
    out.resize(qsizetype(produced));
    return out;
}

std::optional<EncodedFrame> encodeFrame(const QByteArray &json, const QByteArray &blob, bool marfEnabled,
                                        bool compressionAllowed)
{
    EncodedFrame frame;
    if (marfEnabled && !blob.isNull()) {
        const qint64 total = qint64(json.size()) + qint64(blob.size());
        if (total > kMaxHeaderNumber) return std::nullopt;
        frame.kind = FrameKind::WithBlob;
        frame.header = headerLine(FrameKind::WithBlob, total, qint64(blob.size()));
        frame.body = json;
        frame.blob = blob;
        return frame;
    }
    if (json.size() > kMaxHeaderNumber) return std::nullopt;
    if (compressionAllowed && json.size() >= kMinimumCompressedLength) {
        const QByteArray compressed = deflateBytes(json);
        if (!compressed.isEmpty() && compressed.size() < json.size()) {
            frame.kind = FrameKind::Compressed;
            frame.header = headerLine(FrameKind::Compressed, compressed.size(), qint64(json.size()));
            frame.body = compressed;
            return frame;
        }
    }
    frame.kind = FrameKind::Plain;
    frame.header = headerLine(FrameKind::Plain, json.size(), std::nullopt);
    frame.body = json;
    return frame;
}

// ---- reading -------------------------------------------------------------------

FrameReader::FrameReader(FrameLimits limits) : m_limits(limits)
{
    m_buffer.reserve(20000);
}

void FrameReader::append(const char *data, qsizetype size)
{
    if (size > 0) m_buffer.append(data, size);
}

void FrameReader::clear()
{
    m_buffer.clear();
    m_haveHeader = false;
    m_bodyLength = 0;
    m_secondNumber = 0;
}

void FrameReader::fail(const QString &name, const char *reason)
{
    clear();
    throw VtrException(name, vtrLocalized(reason));
}

// Takes a header line off the buffer; false when more bytes are needed.
bool FrameReader::takeHeader()
{
    for (;;) {
        if (m_buffer.isEmpty()) return false;
        const QByteArrayView start(m_buffer.constData(), std::min(kTagLength, m_buffer.size()));
        if (!isPrefixOfATag(start)) fail(DeviceCommands::kStopSyncException, "Bad reply from device.");

        const qsizetype scanLength = std::min<qsizetype>(m_buffer.size(), qsizetype(m_limits.maxHeaderLine) + 1);
        qsizetype end = -1;
        for (qsizetype i = 0; i < scanLength; ++i) {
            if (m_buffer[i] == '\n' || m_buffer[i] == '\r') {
                end = i;
                break;
            }
        }
        if (end < 0) {
            if (m_buffer.size() > m_limits.maxHeaderLine)
                fail(DeviceCommands::kStopSyncException, "Error parsing data from device.");
            return false;
        }

        const QByteArrayView line(m_buffer.constData(), end);
        FrameKind kind;
        int count = 2;
        if (line.startsWith(kPlainTag)) {
            kind = FrameKind::Plain;
            count = 1;
        } else if (line.startsWith(kCompressedTag)) {
            kind = FrameKind::Compressed;
        } else if (line.startsWith(kBlobTag)) {
            kind = FrameKind::WithBlob;
        } else {
            fail(DeviceCommands::kStopSyncException, "Error parsing data from device.");
        }
        const std::optional<QList<qint64>> numbers = parseNumbers(line.sliced(kTagLength), count);
        m_buffer.remove(0, end + 1);
        if (!numbers) continue; // a garbled header line is dropped; the next line may be the header

        const qint64 first = numbers->at(0);
        const qint64 second = count > 1 ? numbers->at(1) : 0;
        if (first > m_limits.maxBody) fail(DeviceCommands::kStopSyncException, "Error parsing data from device.");
        if (kind == FrameKind::Compressed && second > m_limits.maxBody)
            fail(DeviceCommands::kStopSyncException, "Error parsing data from device.");
        if (kind == FrameKind::WithBlob && second > first)
            fail(DeviceCommands::kStopSyncException, "Error parsing data from device.");
        m_kind = kind;
        m_bodyLength = first;
        m_secondNumber = second;
        m_haveHeader = true;
        return true;
    }
}

std::optional<Frame> FrameReader::takeFrame()
{
    if (!m_haveHeader && !takeHeader()) return std::nullopt;
    if (m_buffer.size() < m_bodyLength) return std::nullopt;

    Frame frame;
    frame.kind = m_kind;
    const QByteArray body = m_buffer.left(qsizetype(m_bodyLength));
    m_buffer.remove(0, qsizetype(m_bodyLength));
    m_haveHeader = false;

    switch (m_kind) {
    case FrameKind::Plain:
        frame.json = body;
        break;
    case FrameKind::Compressed: {
        std::optional<QByteArray> inflated = inflateExactly(body, m_secondNumber);
        if (!inflated) fail(DeviceCommands::kStopPluginException, "Invalid response from device");
        frame.json = std::move(*inflated);
        if (LogArePacketsEnabled())
            VTR_LOG_DATA(7, frame.json,
                         QStringLiteral("Uncompressed incoming data (%1 bytes):").arg(frame.json.size()));
        break;
    }
    case FrameKind::WithBlob: {
        const qsizetype jsonLength = qsizetype(m_bodyLength - m_secondNumber);
        frame.json = body.left(jsonLength);
        frame.blob = body.mid(jsonLength);
        break;
    }
    }
    return frame;
}

// ---- replies -------------------------------------------------------------------

QVariantMap decodeReply(const Frame &frame)
{
    const QVariant parsed = vtr::JSONValueFromUtf8(QByteArrayView(frame.json.constData(), frame.json.size()));
    const bool isObject = parsed.typeId() == QMetaType::QVariantMap;
    QVariantMap reply = isObject ? parsed.toMap() : QVariantMap();
    bool valid = isObject;
    if (valid && frame.kind == FrameKind::WithBlob) {
        const QVariant result = reply.value(DeviceCommands::kResult);
        if (!result.isValid() || vtr::isJsonNull(result)) {
            reply.insert(DeviceCommands::kResult, QVariantMap{{DeviceCommands::kArgData, frame.blob}});
        } else if (result.typeId() == QMetaType::QVariantMap) {
            QVariantMap withData = result.toMap();
            withData.insert(DeviceCommands::kArgData, frame.blob);
            reply.insert(DeviceCommands::kResult, withData);
        } else {
            valid = false; // nowhere to put the blob
        }
    }
    if (!valid) {
        VTR_LOG_DATA(2, frame.json, QStringLiteral("Bad JSON string from device (%1 bytes)").arg(frame.json.size()));
        throw VtrException(DeviceCommands::kStopPluginException, vtrLocalized("Invalid response from device"));
    }
    return reply;
}

std::optional<QVariant> interpretReply(const QVariantMap &reply)
{
    if (reply.contains(DeviceCommands::kWait)) return std::nullopt;
    DeviceCommands::throwForErrorReply(reply);
    const QVariant warning = reply.value(DeviceCommands::kWarning);
    if (warning.isValid()) VTR_LOG(1, LogDescription(warning));
    const QVariant note = reply.value(DeviceCommands::kNote);
    if (note.isValid()) VTR_LOG(0, LogDescription(note));
    const QVariant result = reply.value(DeviceCommands::kResult);
    if (vtr::isJsonNull(result)) return QVariant();
    return result;
}

} // namespace DeviceAgent
