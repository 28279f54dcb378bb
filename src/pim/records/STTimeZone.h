#pragma once

#include <QList>
#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <memory>

// A named time zone as a table entry: identifier, standard and daylight names
// and abbreviations, and the standard offset from UTC in seconds (east
// positive). The process-wide table is read once from the resource
// "TZ.archive": old-style property-list text holding a list of dictionaries
// with the archive keys below (tools/tzarchive makes it from the system's zone
// database).
class STTimeZone
{
public:
    STTimeZone() = default;
    explicit STTimeZone(const QString &identifier) : m_identifier(identifier) {}
    STTimeZone(const QString &identifier, const QString &standardName, const QString &standardAbbreviation,
               const QString &daylightName, const QString &daylightAbbreviation, qint32 standardOffset);

    QString identifier() const { return m_identifier; }
    void setIdentifier(const QString &v) { m_identifier = v; }
    QString standardName() const { return m_standardName; }
    void setStandardName(const QString &v) { m_standardName = v; }
    QString standardAbbreviation() const { return m_standardAbbreviation; }
    void setStandardAbbreviation(const QString &v) { m_standardAbbreviation = v; }
    QString daylightName() const { return m_daylightName; }
    void setDaylightName(const QString &v) { m_daylightName = v; }
    QString daylightAbbreviation() const { return m_daylightAbbreviation; }
    void setDaylightAbbreviation(const QString &v) { m_daylightAbbreviation = v; }
    qint32 standardOffset() const { return m_standardOffset; }
    void setStandardOffset(qint32 v) { m_standardOffset = v; }

    using Table = QList<STTimeZone>;
    // The shared table; null (after a line in the log) when "TZ.archive" is
    // missing ("Can't find time zone data.") or unreadable ("Can't open time
    // zone data."); a failed load is tried again on the next call.
    static std::shared_ptr<const Table> timeZoneArray();
    // Forgets the table so that the next timeZoneArray() reads it again.
    static void releaseTimeZoneArray();
    // Where "TZ.archive" is read from (the compiled-in resources unless set;
    // an empty path restores them). For tests.
    static void setResourceFolderOverride(const QString &folder);

    // The first entry whose identifier (standard name, daylight name) equals
    // the text exactly; nullptr when none.
    static const STTimeZone *stTimeZoneWithIdentitifer(const QString &identifier, const Table &table);
    static const STTimeZone *stTimeZoneWithStandardName(const QString &name, const Table &table);
    static const STTimeZone *stTimeZoneWithDaylightName(const QString &name, const Table &table);

    // "<id> (<standard name>, <daylight name>) offset = <offset>"
    QString description() const;

    // Keyed access by the archive keys; any other key reads JSON null and is
    // ignored on writing.
    QVariant valueForKey(const QString &key) const;
    void setValueForKey(const QVariant &value, const QString &key);

    // Archive keys: "identifier", "standardName", "standardAbbreviation",
    // "daylightName", "daylightAbbreviation", "standardOffset" (written as an
    // unsigned 32-bit number, read back as a signed one).
    QVariantMap encode() const;
    static STTimeZone decode(const QVariantMap &archive);
    // The archive text of a whole table, and the table of such a text
    // (std::nullopt-like: false when it cannot be read).
    static QByteArray archiveTable(const Table &table);
    static bool unarchiveTable(const QByteArray &text, Table *table);

private:
    QString m_identifier;
    QString m_standardName;
    QString m_standardAbbreviation;
    QString m_daylightName;
    QString m_daylightAbbreviation;
    qint32 m_standardOffset = 0;
};
