#include "VtrDate.h"

#include "foundation/Log.h"

#include <QLocale>

#include <algorithm>
#include <climits>

namespace vtr {

namespace {

constexpr quint32 kMacEpochOffset = 2082844800u; // 1904-01-01 to 1970-01-01 in seconds

quint32 defaultZoneOffsetNow()
{
    return quint32(qint32(defaultTimeZone().offsetFromUtc(QDateTime::currentDateTimeUtc())));
}

QTimeZone zoneOrDefault(const QTimeZone &zone)
{
    return zone.isValid() ? zone : defaultTimeZone();
}

QString offsetText(int off)
{
    const int a = off < 0 ? -off : off;
    return QString::asprintf("%c%02d%02d", off < 0 ? '-' : '+', a / 3600, (a / 60) % 60);
}

// Unicode date pattern -> Qt date-time format. Zone fields have no Qt
// counterpart for parsing: they are rendered as quoted literals for `shown`
// when formatting, and make parsing fail (`ok` false).
QString qtFormatFromPattern(const QString &pattern, const QDateTime *shown, bool *ok)
{
    *ok = true;
    QString out;
    auto literal = [&out](const QString &text) {
        out += QLatin1Char('\'');
        out += QString(text).replace(QLatin1Char('\''), QLatin1String("''"));
        out += QLatin1Char('\'');
    };
    for (qsizetype i = 0; i < pattern.size();) {
        const QChar c = pattern.at(i);
        if (c == QLatin1Char('\'')) {
            // Quoted text (and '' for a quote) has the same form in both syntaxes.
            qsizetype j = i + 1;
            if (j < pattern.size() && pattern.at(j) == QLatin1Char('\'')) {
                out += QLatin1String("''");
                i = j + 1;
                continue;
            }
            while (j < pattern.size()) {
                if (pattern.at(j) == QLatin1Char('\'')) {
                    if (j + 1 < pattern.size() && pattern.at(j + 1) == QLatin1Char('\'')) {
                        j += 2;
                        continue;
                    }
                    break;
                }
                ++j;
            }
            out += pattern.mid(i, j - i + 1);
            if (j >= pattern.size()) out += QLatin1Char('\'');
            i = j + 1;
            continue;
        }
        if (!((c >= QLatin1Char('a') && c <= QLatin1Char('z')) || (c >= QLatin1Char('A') && c <= QLatin1Char('Z')))) {
            out += c;
            ++i;
            continue;
        }
        qsizetype n = 1;
        while (i + n < pattern.size() && pattern.at(i + n) == c)
            ++n;
        i += n;
        switch (c.toLatin1()) {
        case 'y':
        case 'Y':
        case 'u':
            out += n == 2 ? QStringLiteral("yy") : QStringLiteral("yyyy");
            break;
        case 'M':
        case 'L':
            out += QString(int(std::min<qsizetype>(n, 4)), QLatin1Char('M'));
            break;
        case 'd':
            out += n >= 2 ? QStringLiteral("dd") : QStringLiteral("d");
            break;
        case 'E':
        case 'c':
        case 'e':
            out += n >= 4 ? QStringLiteral("dddd") : QStringLiteral("ddd");
            break;
        case 'H':
        case 'k':
            out += n >= 2 ? QStringLiteral("HH") : QStringLiteral("H");
            break;
        case 'h':
        case 'K':
            out += n >= 2 ? QStringLiteral("hh") : QStringLiteral("h");
            break;
        case 'm':
            out += n >= 2 ? QStringLiteral("mm") : QStringLiteral("m");
            break;
        case 's':
            out += n >= 2 ? QStringLiteral("ss") : QStringLiteral("s");
            break;
        case 'S':
            out += QStringLiteral("zzz");
            break;
        case 'a':
            out += QStringLiteral("AP");
            break;
        case 'Z':
        case 'x':
        case 'X':
        case 'O':
            if (!shown)
                *ok = false;
            else
                literal(offsetText(shown->offsetFromUtc()));
            break;
        case 'z':
        case 'v':
        case 'V':
            if (!shown)
                *ok = false;
            else
                literal(shown->timeZoneAbbreviation());
            break;
        default:
            literal(QString(int(n), c));
            break;
        }
    }
    return out;
}

} // namespace

QString st2String(const QDateTime &date)
{
    return VtrCalendarDate::dateWithDate(date).st2String();
}

QString st2String(const VtrCalendarDate &date)
{
    return date.st2String();
}

QString st2StringWithoutTimezone(const QDateTime &date)
{
    return VtrCalendarDate::dateWithDate(date).st2StringWithoutTimezone();
}

QString st2StringWithoutTimezone(const VtrCalendarDate &date)
{
    return date.st2StringWithoutTimezone();
}

VtrCalendarDate utcDate(const QDateTime &date)
{
    return VtrCalendarDate::dateWithDate(date).utcDate();
}

QDateTime plainDateWithDate(const QDateTime &date)
{
    return date.isValid() ? date.toUTC() : QDateTime();
}

quint32 unixToMacDate(quint32 unixSeconds)
{
    return unixSeconds + defaultZoneOffsetNow() + kMacEpochOffset;
}

quint32 macToUnixDate(quint32 macSeconds)
{
    return macSeconds - kMacEpochOffset - defaultZoneOffsetNow();
}

QDateTime dateWithMacDate(quint32 macSeconds)
{
    return QDateTime::fromSecsSinceEpoch(qint64(macToUnixDate(macSeconds)), QTimeZone::utc());
}

QString dateAsString(const QDateTime &date, unsigned dateStyle, unsigned timeStyle)
{
    if (!date.isValid()) return QString();
    const QLocale locale = QLocale::system();
    const QDateTime shown = date.toTimeZone(defaultTimeZone());
    auto formatOf = [](unsigned style) { return style >= 3 ? QLocale::LongFormat : QLocale::ShortFormat; };
    QStringList parts;
    if (dateStyle != 0) parts << locale.toString(shown.date(), formatOf(dateStyle));
    if (timeStyle != 0) parts << locale.toString(shown.time(), formatOf(timeStyle));
    return parts.join(QLatin1Char(' '));
}

QString dateAsString(const QDateTime &date, const QString &pattern, const QTimeZone &zone)
{
    if (!date.isValid()) return QString();
    const QDateTime shown = date.toTimeZone(zoneOrDefault(zone));
    bool ok = false;
    const QString format = qtFormatFromPattern(pattern, &shown, &ok);
    return QLocale::system().toString(shown, format);
}

std::optional<QDateTime> dateWithFormattedString(const QString &text, const QString &pattern, const QTimeZone &zone)
{
    bool ok = false;
    const QString format = qtFormatFromPattern(pattern, nullptr, &ok);
    if (!ok || text.isNull()) return std::nullopt;
    // Read the fields as GMT (Qt would refuse local times in a daylight-saving
    // gap) and build them in the zone ourselves.
    const QDateTime fields = QLocale::system().toDateTime(text + QLatin1String(" UTC"), format + QLatin1String(" t"));
    if (!fields.isValid()) return std::nullopt;
    const QDate d = fields.date();
    const QTime t = fields.time();
    VtrCalendarDate c = VtrCalendarDate::fromComponents(d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second(),
                                                        zoneOrDefault(zone));
    if (c.isNull()) return std::nullopt;
    return c.instant().addMSecs(t.msec());
}

int compareDateWithSlop(const QDateTime &date, const QDateTime &other)
{
    const qint64 diff = other.toMSecsSinceEpoch() - date.toMSecsSinceEpoch();
    if (diff > -60000 && diff < 60000) return 0;
    return diff > 0 ? -1 : 1;
}

QString iso8601DurationFromSeconds(qint32 seconds)
{
    QString out;
    qint64 left = seconds;
    if (left < 0) {
        out += QLatin1Char('-');
        left = -left;
    }
    out += QLatin1Char('P');
    const qsizetype afterP = out.size();
    bool timeWritten = false;
    struct Unit
    {
        qint64 secs;
        char designator;
    };
    for (const Unit u : {Unit{86400, 'D'}, Unit{3600, 'H'}, Unit{60, 'M'}, Unit{1, 'S'}}) {
        if (left == 0) break;
        const qint64 count = left / u.secs;
        left -= count * u.secs;
        if (count == 0) continue;
        if (u.designator != 'D' && !timeWritten) {
            out += QLatin1Char('T');
            timeWritten = true;
        }
        out += QString::number(count) + QLatin1Char(u.designator);
    }
    if (out.size() == afterP) out += QLatin1String("T0S");
    return out;
}

qint32 secondsFromISO8601Duration(const QString &text)
{
    // Bounds that keep every product and sum far inside 64 bits; anything this
    // large is clamped to the 32-bit result range at the end anyway.
    constexpr qint64 kNumberCap = 100000000000000LL; // 1e14
    constexpr qint64 kTotalCap = 4000000000000000000LL;
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && text.at(i) == QLatin1Char('-')) {
        negative = true;
        ++i;
    }
    if (i >= text.size() || text.at(i) != QLatin1Char('P')) return 0;
    ++i;
    qint64 total = 0;
    qint64 number = 0;
    bool inTime = false;
    auto add = [&](qint64 unit) { total = std::min(kTotalCap, total + number * unit); };
    for (; i < text.size(); ++i) {
        const QChar c = text.at(i);
        const char16_t u = c.unicode();
        if (u >= '0' && u <= '9') {
            number = std::min(kNumberCap, number * 10 + (u - '0'));
            continue;
        }
        switch (u) {
        case 'D':
            add(86400);
            break;
        case 'H':
            add(3600);
            break;
        case 'S':
            add(1);
            break;
        case 'M':
            // Before "T" it is months, which have no fixed length.
            if (inTime)
                add(60);
            else
                VtrDebugLog(QStringLiteral("secondsFromISO8601Duration got an unrecognized designator: %1").arg(c));
            break;
        case 'T':
            inTime = true;
            break;
        default:
            VtrDebugLog(QStringLiteral("secondsFromISO8601Duration got an unrecognized designator: %1").arg(c));
            break;
        }
        number = 0;
    }
    if (negative) total = -total;
    return qint32(std::clamp<qint64>(total, INT_MIN, INT_MAX));
}

} // namespace vtr
