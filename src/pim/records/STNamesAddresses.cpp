#include "STNamesAddresses.h"

#include <QRegularExpression>

namespace {

const char *const kPrefixes[] = {"DOCTOR", "DR.", "DR",  "MR.", "MR", "MS.",
                                 "MS",     "MRS.", "MRS", "REVEREND DOCTOR", "REVEREND"};
const char *const kSuffixes[] = {"III", "II", "IV", "JR.", "JR", "JUNIOR", "SENIOR", "SR.", "SR", "ESQ.", "ESQ"};

QStringList words(const QString &text)
{
    return text.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
}

// The key of a known name or address: its parts run together without white
// space (and, for addresses, punctuation).
QString keyOf(const QString &text, bool dropPunctuation)
{
    QString key;
    for (const QChar c : text)
        if (!c.isSpace() && !(dropPunctuation && c.isPunct())) key += c;
    return key;
}

QString joined(const QVariantMap &m, const char *const *keys, int n, bool dropPunctuation)
{
    QString all;
    for (int i = 0; i < n; ++i) all += m.value(QString::fromLatin1(keys[i])).toString();
    return keyOf(all, dropPunctuation);
}

// The table entry with the most words (then the most characters) whose words
// equal `count` words of `text` at its start (`atEnd` false) or its end;
// -1 when none. `length` receives the entry's number of words.
int longestWholeWordMatch(const QStringList &text, const QStringList &table, bool atEnd, int *length)
{
    int best = -1, bestWords = 0, bestChars = 0;
    for (int i = 0; i < table.size(); ++i) {
        const QStringList entry = words(table.at(i));
        const int n = int(entry.size());
        if (n == 0 || n > text.size()) continue;
        const int from = atEnd ? int(text.size()) - n : 0;
        bool same = true;
        for (int k = 0; k < n && same; ++k) same = text.at(from + k).toUpper() == entry.at(k);
        if (!same) continue;
        if (n > bestWords || (n == bestWords && table.at(i).size() > bestChars)) {
            best = i;
            bestWords = n;
            bestChars = int(table.at(i).size());
        }
    }
    if (length) *length = bestWords;
    return best;
}

void setIfPresent(STRecord &record, const QString &type, const QString &value)
{
    if (!value.isEmpty()) record.setValue(value, type);
}

} // namespace

// ------------------------------------------------------------ single texts

QString singleNameFromContactNameComponents(const QVariantMap &components)
{
    QStringList parts;
    for (const char *key : {"prefix", "first", "middle", "last", "suffix"}) {
        const QVariant v = components.value(QString::fromLatin1(key));
        if (v.isValid()) parts.append(v.toString());
    }
    return parts.join(QLatin1Char(' '));
}

QVariantMap contactNameComponentsFromSingleName(const QString &name, const STNameParser *)
{
    const QStringList p = name.split(QLatin1Char(' '));
    static const QList<QStringList> byCount = {
        {},
        {"first"},
        {"first", "last"},
        {"first", "middle", "last"},
        {"first", "middle", "last", "suffix"},
        {"prefix", "first", "middle", "last", "suffix"},
    };
    if (p.size() < 1 || p.size() > 5) return {{QStringLiteral("first"), name}};
    QVariantMap out;
    const QStringList &keys = byCount.at(p.size());
    for (int i = 0; i < p.size(); ++i) out.insert(keys.at(i), p.at(i));
    return out;
}

QString singleAddressFromAddressComponents(const QVariantMap &components)
{
    const QStringList order{"street", "city", "state", "zip", "country"};
    QStringList present;
    for (const QString &k : order)
        if (components.contains(k)) present.append(k);
    QString out;
    for (int i = 0; i < present.size(); ++i) {
        const QString &k = present.at(i);
        out += components.value(k).toString();
        if (i + 1 == present.size()) break;
        if (k == QLatin1String("street"))
            out += QLatin1Char('\n');
        else if (k == QLatin1String("city") && components.contains(QStringLiteral("state")))
            out += QStringLiteral(", ");
        else
            out += QLatin1Char(' ');
    }
    return out;
}

QVariantMap addressComponentsFromSingleAddress(const QString &address, const STStreetAddressParser *)
{
    return {{QStringLiteral("street"), address}};
}

// ------------------------------------------------------------ names

STNameParser::STNameParser(const QList<QVariantMap> &knownContacts)
{
    for (const char *p : kPrefixes) m_prefixes.append(QString::fromLatin1(p));
    for (const char *s : kSuffixes) m_suffixes.append(QString::fromLatin1(s));
    static const char *const keys[] = {"title", "first name", "middle name", "last name", "suffix"};
    for (const QVariantMap &c : knownContacts) {
        m_contacts.insert(joined(c, keys, 5, false), c);
        const QString title = c.value(QStringLiteral("title")).toString().toUpper().trimmed();
        const QString suffix = c.value(QStringLiteral("suffix")).toString().toUpper().trimmed();
        if (!title.isEmpty() && !m_prefixes.contains(title)) m_prefixes.append(title);
        if (!suffix.isEmpty() && !m_suffixes.contains(suffix)) m_suffixes.append(suffix);
    }
}

bool STNameParser::parse(STRecord &record) const
{
    const QString name = record.stringForFieldOfType(QStringLiteral("name"));
    QString prefix, first, middle, last, suffix;
    const auto known = m_contacts.constFind(keyOf(name, false));
    if (!name.isEmpty() && known != m_contacts.constEnd()) {
        prefix = known->value(QStringLiteral("title")).toString();
        first = known->value(QStringLiteral("first name")).toString();
        middle = known->value(QStringLiteral("middle name")).toString();
        last = known->value(QStringLiteral("last name")).toString();
        suffix = known->value(QStringLiteral("suffix")).toString();
    } else {
        QStringList w = words(name);
        int n = 0;
        if (longestWholeWordMatch(w, m_prefixes, false, &n) >= 0) {
            prefix = w.mid(0, n).join(QLatin1Char(' '));
            w = w.mid(n);
        }
        if (longestWholeWordMatch(w, m_suffixes, true, &n) >= 0) {
            suffix = w.mid(w.size() - n).join(QLatin1Char(' '));
            w = w.mid(0, w.size() - n);
        }
        switch (w.size()) {
        case 0: break;
        case 1: (prefix.isEmpty() ? first : last) = w.at(0); break;
        case 2:
            if (m_prefixes.contains(w.at(0).toUpper())) {
                prefix = w.at(0);
                last = w.at(1);
            } else {
                first = w.at(0);
                last = w.at(1);
            }
            break;
        case 3:
            if (w.at(1).toUpper() == QLatin1String("AND") || w.at(1) == QLatin1String("&")) {
                first = w.join(QLatin1Char(' ')); // two people
            } else {
                first = w.at(0);
                middle = w.at(1);
                last = w.at(2);
            }
            break;
        default:
            last = w.last();
            first = w.mid(0, w.size() - 1).join(QLatin1Char(' '));
        }
    }
    setIfPresent(record, QStringLiteral("prefix"), prefix);
    setIfPresent(record, QStringLiteral("first"), first);
    setIfPresent(record, QStringLiteral("middle"), middle);
    setIfPresent(record, QStringLiteral("last"), last);
    setIfPresent(record, QStringLiteral("suffix"), suffix);
    return true;
}

QString STNameParser::description() const
{
    return QStringLiteral("<STNameParser> @%1").arg(quintptr(this), 0, 16);
}

// ------------------------------------------------------------ addresses

const QStringList &STStreetAddressParser::states()
{
    static const QStringList table = QStringLiteral(
        "AA|AE|AK|ALASKA|AL|ALABAMA|AP|AR|ARKANSAS|AS|AZ|ARIZONA|CA|CALIFORNIA|CO|COLORADO|CT|CONNECTICUT|DC|"
        "DISTRICT OF COLUMBIA|DE|DELAWARE|FL|FLORIDA|FM|GA|GEORGIA|GU|GUAM|HI|HAWAII|IA|IOWA|ID|IDAHO|IL|ILLINOIS|"
        "IN|INDIANA|KS|KANSAS|KY|KENTUCKY|LA|LOIUISIANA|MA|MASSACHUTSETTS|MD|MARYLAND|ME|MAINE|MH|MI|MICHIGAN|MN|"
        "MINNESOTA|MO|MISSOURI|MP|MS|MISSISSIPPI|MT|MONTANA|NC|NORTH CAROLINA|ND|NORTH DAKOTA|NE|NEBRASKA|NH|"
        "NEW HAMPSHIRE|NJ|NEW JERSEY|NM|NEW MEXICO|NV|NEVADA|NY|NEW YORK|OH|OHIO|OK|OKLAHOMA|OR|OREGON|PA|"
        "PENNSYLVANIA|PR|PUERTO RICO|PW|RI|RHODE ISLAND|SC|SOUTH CAROLINA|SD|SOUTH DAKOTA|TN|TENNESSEE|TX|TEXAS|UT|"
        "UTAH|VA|VIRGINIA|VI|VIRGIN ISLANDS|VT|VERMONT|WA|WASHINGTON|WI|WISCONSIN|WV|WEST VIRGINIA|WY|WYOMING")
                                        .split(QLatin1Char('|'));
    return table;
}

const QStringList &STStreetAddressParser::countries()
{
    static const QStringList table{"USA", "US", "UNITED STATES", "CANADA"};
    return table;
}

STStreetAddressParser::STStreetAddressParser(const QList<QVariantMap> &knownAddresses)
{
    static const char *const keys[] = {"street", "city", "state", "postal code", "country"};
    for (const QVariantMap &a : knownAddresses) m_addresses.insert(joined(a, keys, 5, true), a);
}

bool STStreetAddressParser::parse(STRecord &record) const
{
    static const QRegularExpression postalCodes[] = {
        QRegularExpression(QStringLiteral("^[0-9]{5}$")),
        QRegularExpression(QStringLiteral("^[0-9]{5}-[0-9]{4}$")),
        QRegularExpression(QStringLiteral("^[A-Z][0-9][A-Z] [0-9][A-Z][0-9]$")),
    };
    static const QRegularExpression canadaFirst(QStringLiteral("^[A-Z][0-9][A-Z]$"));
    static const QRegularExpression canadaSecond(QStringLiteral("^[0-9][A-Z][0-9]$"));

    const QVariant value = record.valueForFieldOfType(QStringLiteral("address"));
    if (!value.isValid()) return true;
    const QString address = value.toString();
    QString street, city, state, zip, country;
    const auto known = m_addresses.constFind(keyOf(address, true));
    if (!address.isEmpty() && known != m_addresses.constEnd()) {
        street = known->value(QStringLiteral("street")).toString();
        city = known->value(QStringLiteral("city")).toString();
        state = known->value(QStringLiteral("state")).toString();
        zip = known->value(QStringLiteral("postal code")).toString();
        country = known->value(QStringLiteral("country")).toString();
    } else {
        QStringList lines = address.split(QLatin1Char('\n'));
        if (lines.size() < 2) {
            street = address;
        } else {
            QString cityLine = lines.takeLast().trimmed();
            bool done = false;
            if (countries().contains(cityLine.toUpper())) {
                country = cityLine;
                if (lines.size() < 2) {
                    street = lines.join(QLatin1Char('\n'));
                    done = true;
                } else {
                    cityLine = lines.takeLast().trimmed();
                }
            }
            if (!done) {
                street = lines.join(QLatin1Char('\n'));
                QString rest = cityLine;
                bool cityKnown = false;
                const int comma = cityLine.indexOf(QLatin1Char(','));
                if (comma >= 0) {
                    city = cityLine.left(comma);
                    rest = cityLine.mid(comma + 1).trimmed();
                    cityKnown = true;
                }
                QStringList w = rest.split(QLatin1Char(' '), Qt::SkipEmptyParts);
                for (int i = 0; i + 1 < w.size(); ++i) {
                    if (!canadaFirst.match(w.at(i)).hasMatch()) continue;
                    if (canadaSecond.match(w.at(i + 1)).hasMatch()) {
                        w[i] = w.at(i) + QLatin1Char(' ') + w.at(i + 1);
                        w.removeAt(i + 1);
                    }
                    break;
                }
                int p = -1;
                for (const QRegularExpression &re : postalCodes) {
                    for (int i = 0; i < w.size(); ++i)
                        if (re.match(w.at(i)).hasMatch()) p = i;
                    if (p >= 0) break;
                }
                if (p < 0) {
                    (cityKnown ? state : city) = rest;
                } else {
                    zip = w.at(p);
                    const QStringList before = w.mid(0, p);
                    if (!before.isEmpty()) {
                        if (cityKnown) {
                            state = before.join(QLatin1Char(' '));
                        } else {
                            int n = 0;
                            if (longestWholeWordMatch(before, states(), true, &n) >= 0) {
                                city = before.mid(0, before.size() - n).join(QLatin1Char(' '));
                                state = before.mid(before.size() - n).join(QLatin1Char(' '));
                            } else {
                                city = before.join(QLatin1Char(' '));
                            }
                        }
                    }
                    if (p + 1 < w.size()) country = w.mid(p + 1).join(QLatin1Char(' '));
                }
            }
        }
    }
    setIfPresent(record, QStringLiteral("street"), street);
    setIfPresent(record, QStringLiteral("city"), city);
    setIfPresent(record, QStringLiteral("state"), state);
    setIfPresent(record, QStringLiteral("zip"), zip);
    setIfPresent(record, QStringLiteral("country"), country);
    return true;
}

QString STStreetAddressParser::description() const
{
    return QStringLiteral("<STStreetAddressParser> @%1").arg(quintptr(this), 0, 16);
}
