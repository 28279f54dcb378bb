#include "STDate.h"

#include "foundation/VtrDate.h"

#include <QDate>
#include <QHash>
#include <QLocale>
#include <QStringList>
#include <QTime>

namespace {

// Fourteen ASCII digits of a real date and time, read as UTC. Anything else
// is no date at all (never 1970, never today).
QDateTime parseUtcDigits(const QString &text)
{
    if (text.size() != 14) return QDateTime();
    int n[14];
    for (int i = 0; i < 14; ++i) {
        const QChar c = text.at(i);
        if (c < u'0' || c > u'9') return QDateTime();
        n[i] = c.unicode() - u'0';
    }
    auto num = [&](int from, int len) {
        int v = 0;
        for (int i = from; i < from + len; ++i) v = v * 10 + n[i];
        return v;
    };
    const QDate day(num(0, 4), num(4, 2), num(6, 2));
    const QTime time(num(8, 2), num(10, 2), num(12, 2));
    if (!day.isValid() || !time.isValid()) return QDateTime();
    return QDateTime(day, time, Qt::UTC);
}

QString utcDigits(const VtrCalendarDate &date)
{
    return date.isNull() ? QString() : date.st2String();
}

} // namespace

STDate::STDate() : STDate(QString(), vtr::defaultTimeZone())
{
    m_utcTimeString = vtr::st2String(QDateTime::currentDateTimeUtc());
}

STDate::STDate(const QString &utcTimeString, const QString &timeZoneName)
    : m_utcTimeString(utcTimeString), m_timeZone(timeZoneName)
{
}

STDate::STDate(const QString &utcTimeString, const QTimeZone &timeZone)
    : m_utcTimeString(utcTimeString), m_timeZone(timeZone.isValid() ? nameOfZone(timeZone) : QString())
{
}

STDate STDate::dateWithCalendarDate(const VtrCalendarDate &date)
{
    // Not through STDate(): the current time and zone would be looked up for nothing.
    STDate d{QString(), QString()};
    if (date.isNull()) {
        d.m_timeZone = nameOfZone(vtr::defaultTimeZone());
        return d;
    }
    d.setCalendarDate(date);
    return d;
}

QString STDate::gmtName()
{
    return QStringLiteral("GMT");
}

QString STDate::nameOfZone(const QTimeZone &zone)
{
    if (!zone.isValid()) return gmtName();
    // Named once per zone: a reader names thousands of dates' zones.
    thread_local QHash<QByteArray, QString> names;
    const QByteArray id = zone.id();
    const auto it = names.constFind(id);
    if (it != names.cend()) return *it;
    QString name = QString::fromUtf8(id);
    if (zone == vtr::utcTimeZone() || name == QLatin1String("UTC") || name == QLatin1String("Etc/UTC")
        || name == QLatin1String("Etc/GMT"))
        name = gmtName();
    if (names.size() > 256) names.clear();
    names.insert(id, name);
    return name;
}

QTimeZone STDate::zoneNamed(const QString &name)
{
    if (name.isEmpty()) return QTimeZone();
    if (name == QLatin1String("GMT") || name == QLatin1String("UTC") || name == QLatin1String("Z"))
        return vtr::utcTimeZone();
    // Making a zone from its name costs a look-up each time; a reader shows
    // thousands of dates in the same few zones.
    thread_local QHash<QString, QTimeZone> zones;
    const auto it = zones.constFind(name);
    if (it != zones.cend()) return *it;
    if (zones.size() > 256) zones.clear();
    const QTimeZone zone(name.toUtf8());
    zones.insert(name, zone);
    return zone;
}

void STDate::setIsDateOnly(bool dateOnly)
{
    m_isDateOnly = dateOnly;
    if (!dateOnly) return;
    const VtrCalendarDate shown = calendarDate();
    if (shown.isNull()) return; // a broken text stays as it is
    const VtrCalendarDate day = VtrCalendarDate::fromComponents(shown.yearOfCommonEra(), shown.monthOfYear(),
                                                                shown.dayOfMonth(), 0, 0, 0, vtr::utcTimeZone());
    m_utcTimeString = utcDigits(day);
    m_timeZone = gmtName();
}

VtrCalendarDate STDate::calendarDate() const
{
    const QDateTime instant = parseUtcDigits(m_utcTimeString);
    if (!instant.isValid()) return VtrCalendarDate();
    QTimeZone zone = zoneNamed(m_timeZone);
    if (!zone.isValid()) zone = vtr::utcTimeZone();
    return VtrCalendarDate(instant, zone);
}

void STDate::setCalendarDate(const VtrCalendarDate &date)
{
    if (date.isNull()) {
        m_utcTimeString.clear();
        return;
    }
    m_timeZone = nameOfZone(date.timeZone());
    m_utcTimeString = utcDigits(date);
}

int STDate::compare(const STDate &other) const
{
    const VtrCalendarDate a = calendarDate();
    const VtrCalendarDate b = other.calendarDate();
    if (a.isNull() || b.isNull()) return a.isNull() == b.isNull() ? 0 : (a.isNull() ? -1 : 1);
    const qint64 x = a.secsSinceEpoch();
    const qint64 y = b.secsSinceEpoch();
    return x < y ? -1 : (x > y ? 1 : 0);
}

QString STDate::description() const
{
    return QStringLiteral("%1 %2").arg(m_utcTimeString, isFloating() ? QStringLiteral("(floating)") : m_timeZone);
}

VtrCalendarDate STDateToNSCalendarDateTransformer::transformedValue(const STDate &date)
{
    return date.calendarDate();
}

STDate STDateToNSCalendarDateTransformer::reverseTransformedValue(const VtrCalendarDate &date)
{
    return STDate::dateWithCalendarDate(date);
}

QString STStringFromCalendarDate(const VtrCalendarDate &date)
{
    return VtrCalendarDate::st2StringWithCalDate(date);
}

QString STStringFromCalendarDate(const QDateTime &date)
{
    if (!date.isValid()) return QString();
    return STStringFromCalendarDate(VtrCalendarDate(date, vtr::defaultTimeZone()));
}

QString STDateOnlyStringFromCalendarDate(const VtrCalendarDate &date)
{
    if (date.isNull()) return QString();
    return STStringFromCalendarDate(VtrCalendarDate::fromComponents(
        date.yearOfCommonEra(), date.monthOfYear(), date.dayOfMonth(), 0, 0, 0, vtr::utcTimeZone()));
}

QString STDateOnlyStringFromCalendarDate(const QDateTime &date)
{
    if (!date.isValid()) return QString();
    return STDateOnlyStringFromCalendarDate(VtrCalendarDate(date, vtr::defaultTimeZone()));
}

VtrCalendarDate CalendarDateFromSTString(const QString &text)
{
    const QDateTime instant = parseUtcDigits(text);
    return instant.isValid() ? VtrCalendarDate(instant, vtr::utcTimeZone()) : VtrCalendarDate();
}

QString WeekdayListDisplayString(const QString &text)
{
    if (text.isEmpty()) return QString();
    static const char *const codes[] = {"su", "mo", "tu", "we", "th", "fr", "sa"};
    const QLocale locale;
    const QStringList pieces = text.split(QLatin1Char(','));
    QString out;
    for (int i = 0; i < pieces.size(); ++i) {
        for (int d = 0; d < 7; ++d) {
            if (pieces.at(i) == QLatin1String(codes[d])) {
                // QLocale counts Monday 1 .. Sunday 7.
                out += locale.dayName(d == 0 ? 7 : d, QLocale::LongFormat);
                break;
            }
        }
        if (pieces.size() >= 2 && i == pieces.size() - 2)
            out += QStringLiteral(" and ");
        else if (i < pieces.size() - 2)
            out += QStringLiteral(", ");
    }
    return out;
}
