// fuzz-links: vtr_sources
// Arbitrary bytes through the library-file reader: it must never crash or
// hang, a refusal must say why, and whatever it reads must write out and read
// back again.

#include "sources/host/PropertyListXml.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    vtr::PropertyListError error;
    const auto value =
        vtr::XmlPropertyListReader::readData(QByteArrayView(reinterpret_cast<const char *>(data), qsizetype(size)), &error);
    if (!value) {
        if (error.reason.isEmpty()) std::abort();
        return 0;
    }
    const QByteArray written = vtr::XmlPropertyListWriter::toXml(*value);
    vtr::PropertyListError again;
    if (!vtr::XmlPropertyListReader::readData(written, &again)) std::abort();
    return 0;
}
