#include "STRecurrence.h"

#include "STVocabulary.h"

#include <QStringList>

namespace {

const char *const kWeekdays[] = {"su", "mo", "tu", "we", "th", "fr", "sa"};

// The rule parts written, in this order (FREQ first).
const char *const kRuleParts[] = {"freq",     "interval", "count",  "until",    "byday",  "bymonthday", "byyearday",
                                  "byweekno", "bymonth",  "byhour", "byminute", "bysecond", "bysetpos", "wkst"};

QString bydayText(const QVariant &value, bool weekly)
{
    if (value.typeId() != QMetaType::QVariantList) return value.toString();
    QStringList items;
    for (const QVariant &v : value.toList()) {
        if (!stHolds<STRecurrenceByDay>(v)) {
            items.append(v.toString());
            continue;
        }
        const STRecurrenceByDay d = v.value<STRecurrenceByDay>();
        QString item;
        if (!weekly && d.ordinalWeek() && *d.ordinalWeek() != 0) item = QString::number(*d.ordinalWeek());
        items.append(item + d.weekdayName());
    }
    return items.join(QLatin1Char(','));
}

QString untilText(const QVariant &value)
{
    if (!stHolds<STDate>(value)) return value.toString();
    const VtrCalendarDate d = value.value<STDate>().calendarDate();
    if (d.isNull()) return QString();
    return d.utcDate().descriptionWithCalendarFormat(QStringLiteral("%Y%m%dT%H%M%SZ"));
}

QString plainText(const QVariant &value)
{
    if (value.typeId() != QMetaType::QVariantList) return value.toString();
    QStringList items;
    for (const QVariant &v : value.toList()) items.append(v.toString());
    return items.join(QLatin1Char(','));
}

bool allDigits(const QString &s, int from, int len)
{
    for (int i = from; i < from + len; ++i)
        if (i >= s.size() || !s.at(i).isDigit() || s.at(i).unicode() > 127) return false;
    return true;
}

// UNTIL as a UTC time "yyyymmddThhmmssZ", a floating local time without the
// "Z", or a date "yyyymmdd" (a date-only value). Anything else: nullopt.
std::optional<STDate> readUntil(const QString &upper)
{
    if (upper.size() == 8 && allDigits(upper, 0, 8)) {
        STDate d(upper + QStringLiteral("000000"), STDate::gmtName());
        if (d.calendarDate().isNull()) return std::nullopt;
        d.setIsDateOnly(true);
        return d;
    }
    if ((upper.size() == 15 || upper.size() == 16) && allDigits(upper, 0, 8) && upper.at(8) == u'T'
        && allDigits(upper, 9, 6)) {
        const bool utc = upper.size() == 16;
        if (utc && upper.at(15) != u'Z') return std::nullopt;
        const STDate d(upper.left(8) + upper.mid(9, 6), utc ? STDate::gmtName() : QString());
        if (d.calendarDate().isNull()) return std::nullopt;
        return d;
    }
    return std::nullopt;
}

} // namespace

QString STRecurrenceByDay::description() const
{
    return QStringLiteral("STRecurrenceByDay @%1 weekday = %2, ordinal week = %3")
        .arg(quintptr(this), 0, 16)
        .arg(m_weekdayName, m_ordinalWeek ? QString::number(*m_ordinalWeek) : QStringLiteral("(null)"));
}

QString recurrenceRuleFromSTRecurrence(const STRecord &recurrence)
{
    static const QList<QString> names = [] {
        QList<QString> out;
        for (const char *part : kRuleParts) out.append(QString::fromLatin1(part));
        return out;
    }();
    const bool weekly =
        recurrence.stringForFieldOfType(QStringLiteral("freq")).compare(QLatin1String("weekly"), Qt::CaseInsensitive)
        == 0;
    QString rule;
    rule.reserve(96);
    for (const QString &name : names) {
        const QVariant value = recurrence.valueForFieldOfType(name);
        if (!value.isValid()) continue;
        QString text;
        if (name == QLatin1String("byday"))
            text = bydayText(value, weekly);
        else if (name == QLatin1String("until"))
            text = untilText(value);
        else if (name == QLatin1String("bymonthday") || name == QLatin1String("bymonth"))
            text = value.typeId() == QMetaType::QVariantList ? RFC2445ListFromSTArray(value.toList())
                                                              : value.toString();
        else
            text = plainText(value);
        if (text.isEmpty()) continue; // a part without a value is no part
        if (name == QLatin1String("count") && text.trimmed() == QLatin1String("0")) continue; // nor is a count of none
        rule += name + QLatin1Char('=') + text + QLatin1Char(';');
    }
    return rule.toUpper();
}

STRecordPtr STRecurrenceFromRecurrenceRule(const QString &rule)
{
    QString text = rule.toLower();
    if (text.startsWith(QLatin1String("rrule"))) {
        const QStringList halves = text.split(QLatin1Char(':'));
        if (halves.size() == 2) text = halves.at(1);
    }
    if (text.isEmpty()) return nullptr;
    STRecordPtr r = STRecord::record();
    r->setType(st::Recur);
    for (const QString &piece : text.split(QLatin1Char(';'))) {
        const QStringList kv = piece.split(QLatin1Char('='));
        if (kv.size() != 2) continue;
        const QString &name = kv.at(0);
        const QString &value = kv.at(1);
        if (name == QLatin1String("byday")) {
            QVariantList days;
            for (const QString &item : value.split(QLatin1Char(','))) {
                const QString code = item.right(2);
                const int ordinal = item.size() > 2 ? item.left(item.size() - 2).toInt() : 0;
                days.append(QVariant::fromValue(STRecurrenceByDay(code, ordinal)));
            }
            r->setValue(days, name);
        } else if (name == QLatin1String("bymonthday") || name == QLatin1String("bymonth")) {
            r->setValue(STArrayFromRFC2445List(value), name);
        } else if (name == QLatin1String("until")) {
            const std::optional<STDate> until = readUntil(value.toUpper());
            r->setValue(until ? QVariant::fromValue(*until) : QVariant(value.toUpper()), name);
        } else {
            r->setValue(value, name);
        }
    }
    return r;
}

QString RFC2445ListFromSTArray(const QVariantList &numbers)
{
    QStringList out;
    for (const QVariant &n : numbers) out.append(QString::number(n.toLongLong()));
    return out.join(QLatin1Char(','));
}

QVariantList STArrayFromRFC2445List(const QString &text)
{
    QVariantList out;
    for (const QString &piece : text.split(QLatin1Char(','))) {
        // The leading integer: optional blanks and sign, then digits.
        const QString t = piece.trimmed();
        int end = 0;
        if (end < t.size() && (t.at(end) == u'-' || t.at(end) == u'+')) ++end;
        while (end < t.size() && t.at(end) >= u'0' && t.at(end) <= u'9') ++end;
        out.append(t.left(end).toInt());
    }
    return out;
}

QString ExDatesFromSTExceptionDates(const QList<STDate> &dates)
{
    QStringList lines;
    for (const STDate &date : dates) {
        const VtrCalendarDate d = date.calendarDate();
        if (d.isNull()) continue;
        lines.append(QString::asprintf("exdate;value=date:%04d%02d%02d", d.yearOfCommonEra(), d.monthOfYear(),
                                       d.dayOfMonth()));
    }
    return lines.join(QStringLiteral("\r\n")).toUpper();
}

QList<STDate> STExceptionDatesFromExDates(const QString &exdates, const STDate &startDate)
{
    const VtrCalendarDate start = startDate.calendarDate();
    QTimeZone zone = start.isNull() ? vtr::utcTimeZone() : start.timeZone();
    const int h = start.isNull() ? 0 : start.hourOfDay();
    const int mi = start.isNull() ? 0 : start.minuteOfHour();
    const int s = start.isNull() ? 0 : start.secondOfMinute();
    QList<STDate> out;
    for (const QString &line : exdates.split(QStringLiteral("\r\n"))) {
        const int colon = line.indexOf(QLatin1Char(':'), 1);
        if (colon < 0) continue;
        for (const QString &value : line.mid(colon + 1).split(QLatin1Char(','))) {
            if (!allDigits(value, 0, 8)) continue;
            const int y = value.left(4).toInt(), m = value.mid(4, 2).toInt(), d = value.mid(6, 2).toInt();
            if (!QDate(y, m, d).isValid()) continue;
            out.append(STDate::dateWithCalendarDate(VtrCalendarDate::fromComponents(y, m, d, h, mi, s, zone)));
        }
    }
    return out;
}

QString stWeekdayFromOrdinalWeekday(int weekday, int)
{
    if (weekday < 0 || weekday > 6) return QString();
    return QString::fromLatin1(kWeekdays[weekday]);
}
