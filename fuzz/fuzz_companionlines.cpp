// fuzz-links: vtr_pim
// Arbitrary bytes as a companion-app file: every line through the line reader
// and the dispatcher by record type; every record read must write back as an
// export line.

#include "foundation/Log.h"
#include "pim/dialect/CompanionFile.h"
#include "pim/dialect/STRecordAndroid.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    LogSetSystemLogSink([](const QString &) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    int lines = 0;
    for (const CompanionLine &line : readCompanionLines(bytes, &lines)) {
        const STRecordPtr record = stRecordFromCompanionLine(line);
        if (!record) continue;
        const QByteArray written = exportLine(line.database, deviceRecordFromSTRecord(*record));
        if (written.isEmpty()) std::abort();
    }
    if (lines < 1) std::abort();
    return 0;
}
