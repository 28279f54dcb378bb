// fuzz-links: vtr_sources
// Arbitrary bytes through the binary property-list path (libplist's parser
// and our conversion to Qt values, with its depth limit).

#include "sources/iphone/PropertyList.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    QString error;
    const QVariant value = vtr::plist::fromBinaryData(bytes, &error);
    if (!value.isValid() && error.isEmpty()) std::abort();
    return 0;
}
