// fuzz-links: vtr_devices
// Arbitrary bytes from a hostile agent through the frame reader and the reply
// decoding, delivered in pieces of a size chosen by the first byte. Every
// failure must be a VtrException; nothing may be kept beyond what arrived.

#include "devices/command/agent/DeviceAgentProtocol.h"
#include "foundation/Log.h"
#include "platform/VtrException.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const bool quiet = [] {
        LogSetSystemLogSink([](const QString &) {});
        return true;
    }();
    (void)quiet;
    if (size == 0) return 0;

    const qsizetype piece = qsizetype(data[0] % 64) + 1;
    const char *bytes = reinterpret_cast<const char *>(data + 1);
    const qsizetype length = qsizetype(size - 1);

    DeviceAgent::FrameLimits limits;
    limits.maxBody = 1 << 20;
    DeviceAgent::FrameReader reader(limits);
    for (qsizetype fed = 0; fed < length; fed += piece) {
        reader.append(bytes + fed, std::min(piece, length - fed));
        try {
            while (std::optional<DeviceAgent::Frame> frame = reader.takeFrame()) {
                if (frame->json.size() > limits.maxBody || frame->blob.size() > length) std::abort();
                try {
                    DeviceAgent::interpretReply(DeviceAgent::decodeReply(*frame));
                } catch (const VtrException &) {
                }
            }
        } catch (const VtrException &) {
            if (reader.bufferedBytes() != 0 || reader.hasHeader()) std::abort();
        }
        if (reader.bufferedBytes() > length) std::abort();
    }
    return 0;
}
