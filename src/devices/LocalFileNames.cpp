#include "devices/LocalFileNames.h"

namespace {

// An extension longer than this is not kept when a name must be shortened.
constexpr qsizetype kMaxKeptExtension = 16;

} // namespace

qsizetype vtr::utf8Length(QStringView text)
{
    qsizetype bytes = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t unit = text.at(i).unicode();
        if (unit < 0x80) {
            bytes += 1;
        } else if (unit < 0x800) {
            bytes += 2;
        } else if (QChar::isHighSurrogate(unit) && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            bytes += 4;
            ++i;
        } else {
            bytes += 3;
        }
    }
    return bytes;
}

QString vtr::fitLocalNameLength(const QString &name, qsizetype reserveBytes)
{
    if (utf8Length(name) <= kMaxLocalNameBytes) return name;
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const bool keepExtension = dot > 0 && name.size() - dot <= kMaxKeptExtension;
    QString base = keepExtension ? name.left(dot) : name;
    const QString extension = keepExtension ? name.mid(dot) : QString();
    const qsizetype limit = kMaxLocalNameBytes - reserveBytes;
    while (base.size() > 1 && utf8Length(base) + utf8Length(extension) > limit) {
        base.chop(1);
        if (!base.isEmpty() && base.back().isHighSurrogate()) base.chop(1);
    }
    return base + extension;
}
