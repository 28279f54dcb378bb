#include "support/LibraryTestFiles.h"

namespace libtest {

QByteArray silentWav()
{
    const quint32 samples = 800, dataBytes = samples * 2;
    QByteArray wav;
    auto u32 = [&wav](quint32 v) { wav.append(reinterpret_cast<const char *>(&v), 4); };
    auto u16 = [&wav](quint16 v) { wav.append(reinterpret_cast<const char *>(&v), 2); };
    wav += "RIFF";
    u32(36 + dataBytes);
    wav += "WAVEfmt ";
    u32(16), u16(1), u16(1), u32(8000), u32(16000), u16(2), u16(16);
    wav += "data";
    u32(dataBytes);
    wav += QByteArray(int(dataBytes), '\0');
    return wav;
}

}  // namespace libtest
