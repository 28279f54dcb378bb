#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QVariant>

#include <optional>

// XML property lists, read and written without a document tree.
//
// Music library files reach tens of megabytes (20,000 tracks and more); the
// reader walks the file in blocks and builds the values directly, so memory
// follows the resulting dictionaries, not the text. Repeated keys and short
// texts share one string each (a library repeats "Track ID", "Kind", genres
// and artists thousands of times).
//
// Values: dict -> QVariantMap, array -> QVariantList, string -> QString,
// integer -> qint64 (quint64 above the signed range), real -> double,
// true/false -> bool, date -> QDateTime (UTC), data -> QByteArray.
//
// A damaged or truncated file is never half read: the answer is nullopt and
// `error` says why and on which line.
namespace vtr {

struct PropertyListError
{
    QString reason;
    qint64 line = 0;
    QString toString() const;
};

class XmlPropertyListReader
{
public:
    static std::optional<QVariant> readFile(const QString &path, PropertyListError *error = nullptr);
    static std::optional<QVariant> readData(QByteArrayView data, PropertyListError *error = nullptr);
    // The top-level dictionary; nullopt (with a reason) when the file holds
    // anything else.
    static std::optional<QVariantMap> readDictionaryFile(const QString &path, PropertyListError *error = nullptr);
    // The same of the file open as `fd` (read from where it stands; the
    // caller closes it).
    static std::optional<QVariantMap> readDictionary(int fd, PropertyListError *error = nullptr);

    // Deeper nesting is refused as damage rather than risking the stack.
    static constexpr int kMaxDepth = 256;
};

class XmlPropertyListWriter
{
public:
    // The document with its XML declaration and document type, tabs for
    // indentation, as the writers of the music and photo libraries lay it out.
    static QByteArray toXml(const QVariant &value);
};

}  // namespace vtr
