// Build-time tool: encrypts the plain device list into the form the
// application ships ("Settings.slvn"). It refuses a source that is not a JSON
// object with a numeric "revision", so a typo in the list stops the build
// instead of shipping a list the application would ignore.
//
//   slvnencrypt <plain.json> <out.slvn>
//   slvnencrypt --decrypt <in.slvn> <out.json>

#include "devices/devicelist/DeviceListCrypto.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <cstdio>
#include <cstring>

namespace {

int fail(const char *message, const char *path)
{
    std::fprintf(stderr, "slvnencrypt: %s: %s\n", message, path);
    return 1;
}

} // namespace

int main(int argc, char **argv)
{
    const bool decrypt = argc == 4 && std::strcmp(argv[1], "--decrypt") == 0;
    if (argc != 3 && !decrypt) {
        std::fprintf(stderr, "usage: slvnencrypt [--decrypt] <input> <output>\n");
        return 2;
    }
    const char *inPath = argv[argc - 2];
    const char *outPath = argv[argc - 1];
    QFile in(QString::fromLocal8Bit(inPath));
    if (!in.open(QIODevice::ReadOnly)) return fail("cannot read", inPath);
    const QByteArray input = in.readAll();

    std::vector<std::uint8_t> output;
    const auto *key = reinterpret_cast<const std::uint8_t *>(vtr::kDeviceListKey);
    if (decrypt) {
        if (!vtr::aes256CbcZeroIv(false, key, reinterpret_cast<const std::uint8_t *>(input.constData()),
                                  std::size_t(input.size()), output))
            return fail("does not decrypt", inPath);
    } else {
        QJsonParseError error{};
        const QJsonDocument document = QJsonDocument::fromJson(input, &error);
        if (error.error != QJsonParseError::NoError || !document.isObject())
            return fail(
                qPrintable(QStringLiteral("not a JSON object (%1 at %2)").arg(error.errorString()).arg(error.offset)),
                inPath);
        if (!document.object().value(QStringLiteral("revision")).isDouble())
            return fail("no numeric \"revision\"", inPath);
        // The list is stored compact, as the application writes JSON.
        const QByteArray compact = document.toJson(QJsonDocument::Compact);
        if (!vtr::aes256CbcZeroIv(true, key, reinterpret_cast<const std::uint8_t *>(compact.constData()),
                                  std::size_t(compact.size()), output))
            return fail("cannot encrypt", inPath);
    }
    QSaveFile out(QString::fromLocal8Bit(outPath));
    if (!out.open(QIODevice::WriteOnly) ||
        out.write(reinterpret_cast<const char *>(output.data()), qint64(output.size())) != qint64(output.size()) ||
        !out.commit())
        return fail("cannot write", outPath);
    return 0;
}
