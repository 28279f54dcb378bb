// fuzz-links: vtr_fileinfo
// Arbitrary bytes as a song read from a phone without a local path: the
// guarded opener reads its tags or refuses it, and never opens anything else
// (a byte source has no folder whose files could be named).

#include "fileinfo/GuardedMediaInput.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0) return 0;
    // The first byte picks the name that helps recognise the format.
    static const char *const kNames[] = {"song.mp3", "song.m4a", "song.ogg", "song.wav", ""};
    const QString name = QString::fromLatin1(kNames[data[0] % (sizeof kNames / sizeof *kNames)]);
    vtr::MediaBytesInMemory bytes(QByteArray(reinterpret_cast<const char *>(data) + 1, qsizetype(size - 1)));
    (void)vtr::readMediaTags(bytes, name);
    return 0;
}
