#pragma once

#include "STRecord.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantMap>

// Names and postal addresses between one text and their components
// ("prefix", "first", "middle", "last", "suffix"; "street", "city", "state",
// "zip", "country").
//
// Table entries (prefixes, suffixes, states, countries) match whole words
// only, the entry with the most words (then the longest) first, so "Drew" is
// no "Dr", "Mrs." is no "Mr", "Kansas" is no "AS", and "Reverend Doctor" and
// "North Carolina" are taken whole. Words are never cut, so names in any
// script keep every character.

class STNameParser;
class STStreetAddressParser;

// "prefix first middle last suffix" from the parts present.
QString singleNameFromContactNameComponents(const QVariantMap &components);
// The text split at " " by its number of pieces: 1 first; 2 first, last;
// 3 first, middle, last; 4 first, middle, last, suffix; 5 prefix, first,
// middle, last, suffix; any other number the whole text as first. The parser
// is not used.
QVariantMap contactNameComponentsFromSingleName(const QString &name, const STNameParser *parser);

// Street, then "\n", then "city, state zip country" of the parts present.
QString singleAddressFromAddressComponents(const QVariantMap &components);
// {"street": text}; the parser is not used.
QVariantMap addressComponentsFromSingleAddress(const QString &address, const STStreetAddressParser *parser);

// Splits a record's one-text "name" field into its name fields, helped by the
// contacts already known (the store's snapshot: dictionaries with "title",
// "first name", "middle name", "last name" and "suffix").
class STNameParser
{
public:
    explicit STNameParser(const QList<QVariantMap> &knownContacts = {});
    // Fills the name fields that are found; always true.
    bool parse(STRecord &record) const;
    QStringList prefixes() const { return m_prefixes; }
    QStringList suffixes() const { return m_suffixes; }
    QString description() const;

private:
    QHash<QString, QVariantMap> m_contacts;
    QStringList m_prefixes; // upper case
    QStringList m_suffixes; // upper case
};

// Splits a record's one-text "address" field into its address fields, helped
// by the addresses already known (dictionaries with "street", "city",
// "state", "postal code", "country").
class STStreetAddressParser
{
public:
    explicit STStreetAddressParser(const QList<QVariantMap> &knownAddresses = {});
    bool parse(STRecord &record) const;
    QString description() const;

    static const QStringList &states();
    static const QStringList &countries();

private:
    QHash<QString, QVariantMap> m_addresses;
};
