// fuzz-links: vtr_sources
// Arbitrary bytes as a BlackBerry IPD file, then through the app-list rules:
// never a read past the end, and every database named in the result has its
// record list.

#include "sources/blackberry/BBAppList.h"
#include "sources/blackberry/BlackBerryIPD.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    QString error;
    const std::optional<QVariantMap> ipd = vtr::ipd::dictionaryWithBBIPDData(bytes, &error);
    if (!ipd) {
        if (bytes.contains('\n')) std::abort();
        return 0;
    }
    const qsizetype names = ipd->value(QStringLiteral("Database Names")).toList().size();
    if (names != ipd->value(QStringLiteral("Databases")).toList().size()) std::abort();
    BBAppList::appsFromIPD(*ipd);
    return 0;
}
