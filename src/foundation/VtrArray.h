#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantList>

#include <algorithm>
#include <optional>

// Array extensions. Receivers are QVariantList (elements of any kind; the
// string tests look at string elements only) or QStringList.
namespace vtr {

// True when some string element equals `name` ignoring case; false for a null
// or empty name. (The case-sensitive substring test of strings is another
// function.)
bool arrayContainsFilenameString(const QVariantList &array, const QString &name);
bool arrayContainsFilenameString(const QStringList &array, const QString &name);
bool arrayContainsString(const QVariantList &array, const QString &string);
bool arrayContainsString(const QStringList &array, const QString &string);

// False when `strings` is empty or longer than the array; else true when every
// string element of `strings` passes arrayContainsString (other elements are
// skipped).
bool arrayContainsStrings(const QVariantList &array, const QVariantList &strings);
bool arrayContainsStrings(const QStringList &array, const QStringList &strings);

// Index of the first string element equal ignoring case; -1 when none or for
// a null or empty string.
int arrayIndexOfString(const QVariantList &array, const QString &string);
int arrayIndexOfString(const QStringList &array, const QString &string);

// As above, with a leading "/" added to each side that lacks one, so that a
// relative path matches the same absolute path in another letter case.
bool arrayContainsPathString(const QVariantList &array, const QString &path);
bool arrayContainsPathString(const QStringList &array, const QString &path);
int arrayIndexOfPathString(const QVariantList &array, const QString &path);
int arrayIndexOfPathString(const QStringList &array, const QString &path);

// True when some numeric element is numerically equal to `number` (booleans
// count as 0 and 1); false for an invalid or non-numeric `number`.
bool arrayContainsNumber(const QVariantList &array, const QVariant &number);

// False when the counts differ; else true when removing every element of
// `other` (all equal occurrences) from the array leaves nothing.
bool arrayContainsSameValues(const QVariantList &array, const QVariantList &other);

// Each element serialised to bytes (QDataStream of the QVariant), in order.
QVariantList dataArray(const QVariantList &array);
// The inverse; nullopt when an element is not bytes or cannot be read.
std::optional<QVariantList> arrayWithDataArray(const QVariantList &dataArray);

// True when the very object (pointer identity) is an element.
template <typename T> bool arrayContainsObjectIdenticalTo(const QList<T *> &array, const T *object)
{
    return std::find(array.cbegin(), array.cend(), object) != array.cend();
}

// Inserts the elements of `objects` in their order at `index`, `index` + 1, ...
// An index past the end appends.
void insertObjectsFromArray(QVariantList &array, const QVariantList &objects, qsizetype index);

} // namespace vtr
