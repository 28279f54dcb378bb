// fuzz-links: vtr_sources
// Arbitrary bytes through the binary property-list path (the structure check
// and the conversion to Qt values, with their depth and size limits), and
// through the in-place reads the backup scanner makes.

#include "sources/iphone/BinaryPropertyList.h"
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
    if (const auto list = vtr::plist::BinaryPropertyList::open(bytes)) {
        list->forEachEntry(list->top(), [&](auto key, auto entry) {
            (void)list->string(key);
            if (const auto domain = list->valueForKey(entry, u"Domain")) (void)list->data(*domain);
            return true;
        });
    }
    return 0;
}
