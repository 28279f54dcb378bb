#include "VtrArray.h"

#include <QDataStream>
#include <QIODevice>
#include <QMetaType>

#include <cmath>

namespace vtr {

namespace {

bool isString(const QVariant &v)
{
    return v.typeId() == QMetaType::QString;
}

bool sameName(const QString &a, const QString &b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

QString withLeadingSlash(const QString &path)
{
    return path.startsWith(QLatin1Char('/')) ? path : QLatin1Char('/') + path;
}

template <typename List, typename Get> int indexWhere(const List &list, const QString &wanted, Get get)
{
    if (wanted.isEmpty()) return -1;
    for (qsizetype i = 0; i < list.size(); ++i) {
        const std::optional<QString> s = get(list.at(i));
        if (s && sameName(*s, wanted)) return int(i);
    }
    return -1;
}

std::optional<QString> stringOf(const QVariant &v)
{
    if (!isString(v)) return std::nullopt;
    return v.toString();
}

std::optional<QString> stringOf(const QString &s)
{
    return s;
}

std::optional<QString> pathOf(const QVariant &v)
{
    if (!isString(v)) return std::nullopt;
    return withLeadingSlash(v.toString());
}

std::optional<QString> pathOf(const QString &s)
{
    return withLeadingSlash(s);
}

enum class NumberKind { None, Signed, Unsigned, Floating };

NumberKind numberKind(const QVariant &v)
{
    switch (v.typeId()) {
    case QMetaType::Bool:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::Short:
    case QMetaType::Int:
    case QMetaType::Long:
    case QMetaType::LongLong:
        return NumberKind::Signed;
    case QMetaType::UChar:
    case QMetaType::UShort:
    case QMetaType::UInt:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
        return NumberKind::Unsigned;
    case QMetaType::Float:
    case QMetaType::Double:
        return NumberKind::Floating;
    default:
        return NumberKind::None;
    }
}

// Numeric equality without passing large integers through double.
bool numbersEqual(const QVariant &a, NumberKind ka, const QVariant &b, NumberKind kb)
{
    if (ka == NumberKind::Floating || kb == NumberKind::Floating) {
        const double da = a.toDouble();
        const double db = b.toDouble();
        if (ka != NumberKind::Floating || kb != NumberKind::Floating) {
            // One side is an integer: equal only when the double is exactly it.
            const double d = ka == NumberKind::Floating ? da : db;
            const QVariant &i = ka == NumberKind::Floating ? b : a;
            const NumberKind ki = ka == NumberKind::Floating ? kb : ka;
            if (!std::isfinite(d) || d != std::trunc(d)) return false;
            if (ki == NumberKind::Unsigned) {
                if (d < 0 || d >= 18446744073709551616.0) return false;
                return quint64(d) == i.toULongLong();
            }
            if (d < -9223372036854775808.0 || d >= 9223372036854775808.0) return false;
            return qint64(d) == i.toLongLong();
        }
        return da == db;
    }
    if (ka == kb) {
        return ka == NumberKind::Signed ? a.toLongLong() == b.toLongLong() : a.toULongLong() == b.toULongLong();
    }
    const QVariant &s = ka == NumberKind::Signed ? a : b;
    const QVariant &u = ka == NumberKind::Signed ? b : a;
    const qint64 sv = s.toLongLong();
    return sv >= 0 && quint64(sv) == u.toULongLong();
}

} // namespace

bool arrayContainsFilenameString(const QVariantList &array, const QString &name)
{
    return indexWhere(array, name, [](const QVariant &v) { return stringOf(v); }) >= 0;
}

bool arrayContainsFilenameString(const QStringList &array, const QString &name)
{
    return indexWhere(array, name, [](const QString &s) { return stringOf(s); }) >= 0;
}

bool arrayContainsString(const QVariantList &array, const QString &string)
{
    return arrayContainsFilenameString(array, string);
}

bool arrayContainsString(const QStringList &array, const QString &string)
{
    return arrayContainsFilenameString(array, string);
}

bool arrayContainsStrings(const QVariantList &array, const QVariantList &strings)
{
    if (strings.isEmpty() || strings.size() > array.size()) return false;
    for (const QVariant &v : strings)
        if (isString(v) && !arrayContainsString(array, v.toString())) return false;
    return true;
}

bool arrayContainsStrings(const QStringList &array, const QStringList &strings)
{
    if (strings.isEmpty() || strings.size() > array.size()) return false;
    for (const QString &s : strings)
        if (!arrayContainsString(array, s)) return false;
    return true;
}

int arrayIndexOfString(const QVariantList &array, const QString &string)
{
    return indexWhere(array, string, [](const QVariant &v) { return stringOf(v); });
}

int arrayIndexOfString(const QStringList &array, const QString &string)
{
    return indexWhere(array, string, [](const QString &s) { return stringOf(s); });
}

int arrayIndexOfPathString(const QVariantList &array, const QString &path)
{
    if (path.isEmpty()) return -1;
    return indexWhere(array, withLeadingSlash(path), [](const QVariant &v) { return pathOf(v); });
}

int arrayIndexOfPathString(const QStringList &array, const QString &path)
{
    if (path.isEmpty()) return -1;
    return indexWhere(array, withLeadingSlash(path), [](const QString &s) { return pathOf(s); });
}

bool arrayContainsPathString(const QVariantList &array, const QString &path)
{
    return arrayIndexOfPathString(array, path) >= 0;
}

bool arrayContainsPathString(const QStringList &array, const QString &path)
{
    return arrayIndexOfPathString(array, path) >= 0;
}

bool arrayContainsNumber(const QVariantList &array, const QVariant &number)
{
    const NumberKind k = numberKind(number);
    if (k == NumberKind::None) return false;
    for (const QVariant &v : array) {
        const NumberKind kv = numberKind(v);
        if (kv != NumberKind::None && numbersEqual(v, kv, number, k)) return true;
    }
    return false;
}

bool arrayContainsSameValues(const QVariantList &array, const QVariantList &other)
{
    if (array.size() != other.size()) return false;
    QVariantList rest = array;
    for (const QVariant &v : other)
        rest.removeAll(v);
    return rest.isEmpty();
}

QVariantList dataArray(const QVariantList &array)
{
    QVariantList out;
    out.reserve(array.size());
    for (const QVariant &v : array) {
        QByteArray bytes;
        QDataStream stream(&bytes, QIODevice::WriteOnly);
        stream << v;
        out.append(bytes);
    }
    return out;
}

std::optional<QVariantList> arrayWithDataArray(const QVariantList &dataArray)
{
    QVariantList out;
    out.reserve(dataArray.size());
    for (const QVariant &v : dataArray) {
        if (v.typeId() != QMetaType::QByteArray) return std::nullopt;
        const QByteArray bytes = v.toByteArray();
        QDataStream stream(bytes);
        QVariant value;
        stream >> value;
        if (stream.status() != QDataStream::Ok) return std::nullopt;
        out.append(value);
    }
    return out;
}

void insertObjectsFromArray(QVariantList &array, const QVariantList &objects, qsizetype index)
{
    index = std::clamp<qsizetype>(index, 0, array.size());
    for (const QVariant &v : objects)
        array.insert(index++, v);
}

} // namespace vtr
