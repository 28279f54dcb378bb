// fuzz-links: vtr_foundation
// Decodes arbitrary text, then checks that encoding what came out (with an
// arbitrary line length) decodes back to the same bytes.
#include "foundation/VtrBase64.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0) return 0;
    const quint32 line = data[0];
    const QByteArray input(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));

    const QByteArray fromBytes = vtr::dataWithBase64EncodedString(input);
    const QByteArray fromText = vtr::dataWithBase64EncodedString(QString::fromLatin1(input));
    if (fromBytes != fromText) std::abort();
    (void)vtr::dataWithBase64EncodedString(QString::fromUtf8(input));

    const QString encoded = vtr::base64EncodingWithLineLength(fromBytes, line);
    if (vtr::dataWithBase64EncodedString(encoded) != fromBytes) std::abort();
    const QString raw = vtr::base64EncodingWithLineLength(input, line);
    if (vtr::dataWithBase64EncodedString(raw) != input) std::abort();
    return 0;
}
