#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <optional>

namespace vtr {

// Old-style property-list text, the form in which log records are stored:
//   {
//       key = value;
//       other = "quoted text\n";
//   }
// Strings made only of letters, digits and "_$+/:.-" are written bare, all
// others in double quotes with C escapes (\" \\ \n \t \r, \UXXXX for other
// control characters); non-ASCII text is written as UTF-8. Maps become
// braces (keys in sorted order), lists parentheses, QByteArray "<hex>".
// Numbers and booleans (1/0) are written as their text: the format has no
// number type, so they read back as strings.
QByteArray oldStylePropertyListText(const QVariant &value);

// Parses old-style property-list text (as written above; also accepts
// comments and \ooo escapes). Maps come back as QVariantMap, lists as
// QVariantList, data as QByteArray, everything else as QString. Returns
// std::nullopt for malformed text, trailing junk or nesting deeper than 256.
std::optional<QVariant> parseOldStylePropertyList(const QByteArray &text);

} // namespace vtr

// The records of one log file, kept in memory and appended to the file one by
// one. File format: every item is its payload's byte count in decimal ASCII
// digits, one space, the payload (the record's old-style property-list text in
// UTF-8) and one line feed; the items follow one another, oldest first, with
// nothing before, between or after them.
//
// A LogFile takes no lock: its owner (LogHandler) serialises every call.
class LogFile
{
public:
    LogFile();
    // Opens (creating when missing) and reads `path`; see createOpenReadFile().
    explicit LogFile(const QString &path);
    ~LogFile();

    LogFile(const LogFile &) = delete;
    LogFile &operator=(const LogFile &) = delete;

    // Closes any open file, then, for a non-empty path: expands a leading "~",
    // creates the parent folder, opens or creates the file (mode 0600) and
    // reads its items. Without a usable file the items are kept in memory only.
    // When the file's tail is damaged (a length that cannot be read or does not
    // fit, a missing final line feed, stray bytes) or its line endings had to
    // be repaired, the file is rewritten from the items that were read, so that
    // records appended from now on are read back after them.
    void createOpenReadFile(const QString &path);
    // Closes the file and forgets every item.
    void close();
    bool hasFile() const { return m_fd >= 0; }

    unsigned int getItemCount() const;
    // The item's record; std::nullopt for an index beyond the count or an item
    // whose text does not parse to a map. Parsed once, then cached.
    std::optional<QVariantMap> getItem(unsigned int index);
    // Stores the record (in memory and appended to the file).
    void addItem(const QVariantMap &record);

    // Empties the log (the file is rewritten empty).
    void clear();
    // Keeps the newest `keep` items when there are more, and rewrites the file.
    void trimLines(unsigned int keep);
    // Rewrites the open file with buildFileImage().
    void saveToFile();
    // Every item in the file format, oldest first.
    QByteArray buildFileImage() const;

    static QByteArray wrapDataIntoFilePacket(const QByteArray &payload);
    static QByteArray dictionaryToData(const QVariantMap &record);
    static std::optional<QVariantMap> dataToDictionary(const QByteArray &payload);
    // Turns every CR LF into LF, provided a CR LF pair occurs within the first
    // 20,000 bytes; otherwise leaves the bytes unchanged. Returns whether the
    // bytes changed.
    static bool fixLineEndings(QByteArray &bytes);

    // Reading is capped at this many bytes.
    static constexpr qint64 kMaxFileBytes = 1000000000;

private:
    void parseFile();
    void writeOneItem(const QByteArray &payload);
    bool rewrite(const QByteArray &image);

    int m_fd = -1;
    QList<QByteArray> m_rawData;
    // Parallel to m_rawData; std::nullopt until an item is first asked for.
    QList<std::optional<QVariantMap>> m_dictionaries;
};
