#pragma once

#include <QByteArray>

namespace libtest {

// A tenth of a second of silence as a WAV file: media every reader opens.
QByteArray silentWav();

}  // namespace libtest
