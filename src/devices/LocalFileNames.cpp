#include "devices/LocalFileNames.h"

namespace {

// An extension longer than this is not kept when a name must be shortened.
constexpr qsizetype kMaxKeptExtension = 16;

} // namespace

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
