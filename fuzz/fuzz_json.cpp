// fuzz-links: vtr_foundation
// Arbitrary bytes through the JSON reader (UTF-8 and UTF-16 entries, with and
// without a depth limit); whatever reads must write and read back the same.

#include "foundation/Json.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

bool same(const QVariant &a, const QVariant &b)
{
    if (a.typeId() != b.typeId()) return false;
    switch (a.typeId()) {
    case QMetaType::QVariantMap: {
        const QVariantMap ma = a.toMap(), mb = b.toMap();
        if (ma.size() != mb.size()) return false;
        for (auto ia = ma.cbegin(), ib = mb.cbegin(); ia != ma.cend(); ++ia, ++ib) {
            if (ia.key() != ib.key() || !same(ia.value(), ib.value())) return false;
        }
        return true;
    }
    case QMetaType::QVariantList: {
        const QVariantList la = a.toList(), lb = b.toList();
        if (la.size() != lb.size()) return false;
        for (qsizetype i = 0; i < la.size(); ++i) {
            if (!same(la.at(i), lb.at(i))) return false;
        }
        return true;
    }
    case QMetaType::Double:
        return a.toDouble() == b.toDouble() && std::signbit(a.toDouble()) == std::signbit(b.toDouble());
    case QMetaType::Nullptr:
        return true;
    default:
        return a == b;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    QorJsonParser parser;
    if (size > 0 && data[0] & 1) parser.setMaxDepth(0);
    const QVariant value = parser.fragmentWithUtf8(bytes);
    parser.objectWithUtf8(bytes);
    // The same bytes taken as UTF-16 units.
    QString units(qsizetype(size / 2), Qt::Uninitialized);
    std::memcpy(static_cast<void *>(units.data()), data, size_t(units.size()) * 2);
    parser.fragmentWithString(units);

    if (value.isValid()) {
        QorJsonWriter writer;
        writer.setMaxDepth(0);
        const QString json = writer.stringWithFragment(value);
        if (json.isNull()) std::abort();
        QorJsonParser again;
        again.setMaxDepth(0);
        if (!same(value, again.fragmentWithString(json))) std::abort();
        writer.setHumanReadable(true);
        if (!same(value, again.fragmentWithString(writer.stringWithFragment(value)))) std::abort();
    }
    return 0;
}
