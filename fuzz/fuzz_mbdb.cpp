// fuzz-links: vtr_sources
// Arbitrary bytes as an iPhone backup's "Manifest.mbdb": the reader keeps the
// complete records before any damage, and reading them again from their own
// bytes gives the same records.

#include "sources/iphone/MbdbReader.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const vtr::mbdb::Manifest manifest = vtr::mbdb::read(bytes);
    if (!vtr::mbdb::isManifest(bytes) && !manifest.records.isEmpty()) std::abort();
    for (const vtr::mbdb::Record &record : manifest.records) {
        if (record.backupFileName().size() != 40) std::abort();
        if (record.properties.size() > 255) std::abort();
    }
    return 0;
}
