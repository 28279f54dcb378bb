#include "VtrCalendarDate.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QMutex>
#include <QMutexLocker>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdio>
#include <vector>

namespace {

constexpr qint64 kSecsPerDay = 86400;

qint64 floorDiv(qint64 a, qint64 b)
{
    qint64 q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
    return q;
}

qint64 floorMod(qint64 a, qint64 b)
{
    return a - floorDiv(a, b) * b;
}

QTimeZone normalisedZone(const QTimeZone &zone)
{
    return zone.isValid() ? zone : vtr::utcTimeZone();
}

int offsetAt(const QTimeZone &zone, qint64 utcSecs)
{
    if (zone == vtr::utcTimeZone()) return 0;
    return vtr::ZoneOffsets(zone).offsetAt(utcSecs);
}

qint64 localToUtc(qint64 localSecs, const QTimeZone &zone)
{
    return vtr::ZoneOffsets(zone).localToUtc(localSecs);
}

const std::array<const char *, 7> kDayNames = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                               "Thursday", "Friday", "Saturday"};
const std::array<const char *, 12> kMonthNames = {"January",   "February", "March",    "April",
                                                  "May",       "June",     "July",     "August",
                                                  "September", "October",  "November", "December"};

QMutex g_defaultZoneLock;
QTimeZone g_defaultZone; // invalid: the system zone

// The C scanner's reading of the date texts: each number takes at most
// `width` characters after skipped white space (a sign counts), literals must
// match. Answers how many numbers were read.
int scanNumbers(const QString &text, const char *pattern, int *out)
{
    const QByteArray bytes = text.toUtf8();
    const char *s = bytes.constData();
    int count = 0;
    for (const char *p = pattern; *p; ++p) {
        if (*p == '%') {
            const int width = (p[1] - '0') * 10 + (p[2] - '0');
            p += 3; // past "%NNd"
            while (*s == ' ' || *s == '\t' || *s == '\n' || *s == '\r' || *s == '\f' || *s == '\v')
                ++s;
            int used = 0;
            bool negative = false;
            if ((*s == '+' || *s == '-') && used < width) {
                negative = *s == '-';
                ++s;
                ++used;
            }
            int digits = 0;
            qint64 value = 0;
            while (used < width && *s >= '0' && *s <= '9') {
                value = value * 10 + (*s - '0');
                ++s;
                ++used;
                ++digits;
            }
            if (digits == 0) return count;
            out[count++] = int(negative ? -value : value);
        } else {
            if (*s != *p) return count;
            ++s;
        }
    }
    return count;
}

} // namespace

// ---------------------------------------------------------------------------

VtrCalendarDate::VtrCalendarDate(const QDateTime &instant, const QTimeZone &zone, const QString &calendarFormat)
    : m_instant(instant.isValid() ? instant.toUTC() : QDateTime()), m_zone(normalisedZone(zone)),
      m_format(calendarFormat)
{}

VtrCalendarDate VtrCalendarDate::fromComponents(int year, int month, int day, int hour, int minute, int second,
                                                const QTimeZone &zone)
{
    const QTimeZone z = normalisedZone(zone);
    qint64 y = year;
    const qint64 m0 = qint64(month) - 1;
    y += floorDiv(m0, 12);
    const int m = int(floorMod(m0, 12)) + 1;
    if (y < -9999999 || y > 9999999) return VtrCalendarDate();
    int yi = int(y);
    if (yi == 0) yi = -1; // QDate has no year 0
    const QDate first(yi, m, 1);
    if (!first.isValid()) return VtrCalendarDate();
    qint64 secs = qint64(hour) * 3600 + qint64(minute) * 60 + second;
    const qint64 dayCarry = floorDiv(secs, kSecsPerDay);
    secs = floorMod(secs, kSecsPerDay);
    const QDate date = first.addDays(qint64(day) - 1 + dayCarry);
    if (!date.isValid()) return VtrCalendarDate();
    const qint64 localSecs = QDateTime(date, QTime(0, 0), Qt::UTC).toSecsSinceEpoch() + secs;
    return VtrCalendarDate(QDateTime::fromSecsSinceEpoch(localToUtc(localSecs, z), Qt::UTC), z);
}

QString VtrCalendarDate::defaultCalendarFormat()
{
    return QStringLiteral("%Y-%m-%d %H:%M:%S %z");
}

qint64 VtrCalendarDate::secsSinceEpoch() const
{
    return floorDiv(m_instant.toMSecsSinceEpoch(), 1000);
}

void VtrCalendarDate::setTimeZone(const QTimeZone &zone)
{
    m_zone = normalisedZone(zone);
}

int VtrCalendarDate::offsetFromUtc() const
{
    if (isNull()) return 0;
    return offsetAt(m_zone, secsSinceEpoch());
}

VtrCalendarDate::Fields VtrCalendarDate::fields() const
{
    const qint64 localMs = m_instant.toMSecsSinceEpoch() + qint64(offsetFromUtc()) * 1000;
    const qint64 days = floorDiv(localMs, kSecsPerDay * 1000);
    const qint64 inDay = localMs - days * kSecsPerDay * 1000;
    qint64 year = 0;
    int month = 0, day = 0;
    vtr::civilFromDays(days, year, month, day);
    if (year <= 0) --year; // no year 0, as QDate counts
    return {int(year), month, day, int(inDay / 3600000), int(inDay / 60000 % 60), int(inDay / 1000 % 60),
            int(inDay % 1000)};
}

int VtrCalendarDate::yearOfCommonEra() const
{
    return isNull() ? 0 : fields().year;
}
int VtrCalendarDate::monthOfYear() const
{
    return isNull() ? 0 : fields().month;
}
int VtrCalendarDate::dayOfMonth() const
{
    return isNull() ? 0 : fields().day;
}
int VtrCalendarDate::hourOfDay() const
{
    return isNull() ? 0 : fields().hour;
}
int VtrCalendarDate::minuteOfHour() const
{
    return isNull() ? 0 : fields().minute;
}
int VtrCalendarDate::secondOfMinute() const
{
    return isNull() ? 0 : fields().second;
}

int VtrCalendarDate::dayOfWeek() const
{
    if (isNull()) return 0;
    const Fields f = fields();
    return QDate(f.year, f.month, f.day).dayOfWeek() % 7;
}

int VtrCalendarDate::dayOfYear() const
{
    if (isNull()) return 0;
    const Fields f = fields();
    return QDate(f.year, f.month, f.day).dayOfYear();
}

VtrCalendarDate VtrCalendarDate::dateByAddingYears(int years, int months, int days, int hours, int minutes,
                                                   int seconds) const
{
    if (isNull()) return VtrCalendarDate();
    const Fields f = fields();
    auto clampInt = [](qint64 v) { return int(std::clamp<qint64>(v, INT_MIN, INT_MAX)); };
    VtrCalendarDate r =
        fromComponents(clampInt(qint64(f.year) + years), clampInt(qint64(f.month) + months),
                       clampInt(qint64(f.day) + days), clampInt(qint64(f.hour) + hours),
                       clampInt(qint64(f.minute) + minutes), clampInt(qint64(f.second) + seconds), m_zone);
    if (r.isNull()) return r;
    r.m_instant = r.m_instant.addMSecs(f.msec);
    r.m_format = m_format;
    return r;
}

QString VtrCalendarDate::description() const
{
    return descriptionWithCalendarFormat(m_format.isEmpty() ? defaultCalendarFormat() : m_format);
}

QString VtrCalendarDate::descriptionWithCalendarFormat(const QString &format) const
{
    if (isNull()) return QString();
    const Fields f = fields();
    const int weekday = QDate(f.year, f.month, f.day).dayOfWeek() % 7;
    QString out;
    out.reserve(format.size() + 16);
    const auto two = [&out](int v) {
        out += QChar(u'0' + v / 10 % 10);
        out += QChar(u'0' + v % 10);
    };
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar c = format.at(i);
        if (c != QLatin1Char('%') || i + 1 >= format.size()) {
            out += c;
            continue;
        }
        const char k = format.at(++i).toLatin1();
        switch (k) {
        case '%':
            out += QLatin1Char('%');
            break;
        case 'a':
            out += QLatin1String(kDayNames[size_t(weekday)]).left(3);
            break;
        case 'A':
            out += QLatin1String(kDayNames[size_t(weekday)]);
            break;
        case 'b':
            out += QLatin1String(kMonthNames[size_t(f.month - 1)]).left(3);
            break;
        case 'B':
            out += QLatin1String(kMonthNames[size_t(f.month - 1)]);
            break;
        case 'c':
            out += descriptionWithCalendarFormat(QStringLiteral("%a %b %e %H:%M:%S %Y"));
            break;
        case 'd':
            two(f.day);
            break;
        case 'e':
            out += QString::number(f.day);
            break;
        case 'F':
            out += QStringLiteral("%1").arg(f.msec, 3, 10, QLatin1Char('0'));
            break;
        case 'H':
            two(f.hour);
            break;
        case 'I':
            two(f.hour % 12 == 0 ? 12 : f.hour % 12);
            break;
        case 'j':
            out += QStringLiteral("%1").arg(QDate(f.year, f.month, f.day).dayOfYear(), 3, 10, QLatin1Char('0'));
            break;
        case 'm':
            two(f.month);
            break;
        case 'M':
            two(f.minute);
            break;
        case 'p':
            out += f.hour < 12 ? QStringLiteral("AM") : QStringLiteral("PM");
            break;
        case 'S':
            two(f.second);
            break;
        case 'w':
            out += QString::number(weekday);
            break;
        case 'x':
            out += descriptionWithCalendarFormat(QStringLiteral("%m/%d/%y"));
            break;
        case 'X':
            out += descriptionWithCalendarFormat(QStringLiteral("%H:%M:%S"));
            break;
        case 'y':
            two(int(floorMod(f.year, 100)));
            break;
        case 'Y':
            out += QString::number(f.year);
            break;
        case 'Z': {
            const QString abbreviation = m_zone.abbreviation(m_instant);
            out += abbreviation.isEmpty() ? QString::fromLatin1(m_zone.id()) : abbreviation;
            break;
        }
        case 'z': {
            const int off = offsetFromUtc();
            const int a = off < 0 ? -off : off;
            out += QLatin1Char(off < 0 ? '-' : '+');
            two(a / 3600);
            two((a / 60) % 60);
            break;
        }
        default:
            out += QLatin1Char('%');
            out += format.at(i);
            break;
        }
    }
    return out;
}

// ---------------------------------------------------------------------------

VtrCalendarDate VtrCalendarDate::dateWithDate(const VtrCalendarDate &date)
{
    // The text form carries the shown second and the numeric offset; reading
    // it back gives this.
    if (date.isNull()) return VtrCalendarDate();
    const qint64 secs = date.secsSinceEpoch();
    return VtrCalendarDate(QDateTime::fromSecsSinceEpoch(secs, Qt::UTC),
                           vtr::timeZoneWithOffset(date.offsetFromUtc()), date.m_format);
}

VtrCalendarDate VtrCalendarDate::dateWithDate(const QDateTime &date)
{
    if (!date.isValid()) return VtrCalendarDate();
    const qint64 secs = floorDiv(date.toMSecsSinceEpoch(), 1000);
    return VtrCalendarDate(QDateTime::fromSecsSinceEpoch(secs, Qt::UTC),
                           vtr::timeZoneWithOffset(date.offsetFromUtc()));
}

VtrCalendarDate VtrCalendarDate::start() const
{
    if (isNull()) return VtrCalendarDate();
    const Fields f = fields();
    VtrCalendarDate r = fromComponents(f.year, f.month, f.day, 0, 0, 0, m_zone);
    r.m_format = m_format;
    return r;
}

VtrCalendarDate VtrCalendarDate::end() const
{
    if (isNull()) return VtrCalendarDate();
    const Fields f = fields();
    VtrCalendarDate r = fromComponents(f.year, f.month, f.day, 23, 59, 59, m_zone);
    r.m_format = m_format;
    return r;
}

int VtrCalendarDate::compareDateIgnoringTime(const VtrCalendarDate &other) const
{
    const QDateTime a = start().instant();
    const QDateTime b = other.start().instant();
    if (a < b) return -1;
    if (b < a) return 1;
    return 0;
}

bool VtrCalendarDate::isBetweenStart(const QDateTime &startDate, const QDateTime &endDate) const
{
    if (isNull() || !startDate.isValid() || !endDate.isValid()) return false;
    return startDate <= m_instant && m_instant <= endDate;
}

bool VtrCalendarDate::isBetweenStart(const VtrCalendarDate &startDate, const VtrCalendarDate &endDate) const
{
    return isBetweenStart(startDate.instant(), endDate.instant());
}

VtrCalendarDate VtrCalendarDate::iCalDateIgnoringTime() const
{
    if (isNull()) return VtrCalendarDate();
    const Fields f = fields();
    return fromComponents(f.year, f.month, f.day, 12, 0, 0, vtr::utcTimeZone());
}

VtrCalendarDate VtrCalendarDate::syncServicesDateIgnoringTime() const
{
    return iCalDateIgnoringTime();
}

VtrCalendarDate VtrCalendarDate::stDateIgnoringTime() const
{
    if (isNull()) return VtrCalendarDate();
    const Fields f = fields();
    return fromComponents(f.year, f.month, f.day, 0, 0, 0, vtr::utcTimeZone());
}

VtrCalendarDate VtrCalendarDate::blackberryDateIgnoringTime() const
{
    if (isNull()) return VtrCalendarDate();
    const Fields f = fields();
    return fromComponents(f.year, f.month, f.day, 0, 0, 0, vtr::defaultTimeZone());
}

VtrCalendarDate VtrCalendarDate::firstSecondOfDayLocalTimeExpressedAsGMT() const
{
    VtrCalendarDate r = start();
    r.setTimeZone(vtr::utcTimeZone());
    return r;
}

VtrCalendarDate VtrCalendarDate::lastSecondOfDayLocalTimeExpressedAsGMT() const
{
    VtrCalendarDate r = end();
    r.setTimeZone(vtr::utcTimeZone());
    return r;
}

std::optional<VtrCalendarDate> VtrCalendarDate::dateWithVCalString(const QString &text)
{
    int n[3];
    if (scanNumbers(text, "%04d%02d%02d", n) != 3) return std::nullopt;
    VtrCalendarDate r = fromComponents(n[0], n[1], n[2], 23, 59, 59, QTimeZone::systemTimeZone());
    if (r.isNull()) return std::nullopt;
    return r;
}

std::optional<VtrCalendarDate> VtrCalendarDate::dateBeginGMTWithVCalString(const QString &text)
{
    int n[3];
    if (scanNumbers(text, "%04d%02d%02d", n) != 3) return std::nullopt;
    VtrCalendarDate r = fromComponents(n[0], n[1], n[2], 0, 0, 0, vtr::utcTimeZone());
    if (r.isNull()) return std::nullopt;
    return r;
}

namespace {

// The six numbers are a GMT time: building them in GMT directly gives the
// right instant even where the same digits fall into a daylight-saving gap of
// the system zone.
std::optional<VtrCalendarDate> readGmt(const QString &text, const char *pattern, const QTimeZone &shownIn)
{
    int n[6];
    if (scanNumbers(text, pattern, n) != 6) return std::nullopt;
    VtrCalendarDate r = VtrCalendarDate::fromComponents(n[0], n[1], n[2], n[3], n[4], n[5], vtr::utcTimeZone());
    if (r.isNull()) return std::nullopt;
    r.setTimeZone(shownIn);
    return r;
}

} // namespace

std::optional<VtrCalendarDate> VtrCalendarDate::dateTimeWithVCalString(const QString &text)
{
    return readGmt(text, "%04d%02d%02dT%02d%02d%02d", QTimeZone::systemTimeZone());
}

std::optional<VtrCalendarDate> VtrCalendarDate::dateTimeWithAndroidExceptionString(const QString &text)
{
    return readGmt(text, "%04d%02d%02dT%02d%02d%02dZ", QTimeZone::systemTimeZone());
}

std::optional<VtrCalendarDate> VtrCalendarDate::dateTimeWithSymbianUTCCalString(const QString &text)
{
    return readGmt(text, "%04d%02d%02d%02d%02d%02d", vtr::utcTimeZone());
}

std::optional<VtrCalendarDate> VtrCalendarDate::dateTimeWithST2String(const QString &text)
{
    if (text.isNull()) return std::nullopt;
    return dateTimeWithSymbianUTCCalString(text);
}

QString VtrCalendarDate::st2StringWithCalDate(const VtrCalendarDate &date)
{
    if (date.isNull()) return QString();
    return date.st2StringWithoutTimezone();
}

QString VtrCalendarDate::st2StringWithoutTimezone() const
{
    if (isNull()) return QString();
    const Fields f = fields();
    // A year outside 0-9999 takes the width printf gives it.
    char out[64];
    const int length =
        std::snprintf(out, sizeof out, "%04d%02d%02d%02d%02d%02d", f.year, f.month, f.day, f.hour, f.minute, f.second);
    return QString::fromLatin1(out, length);
}

QString VtrCalendarDate::st2String() const
{
    return utcDate().st2StringWithoutTimezone();
}

VtrCalendarDate VtrCalendarDate::utcDate() const
{
    // What dateWithDate() and then a switch to GMT give, without making the
    // fixed zone in between.
    if (isNull()) return VtrCalendarDate();
    return VtrCalendarDate(QDateTime::fromSecsSinceEpoch(secsSinceEpoch(), Qt::UTC), vtr::utcTimeZone(), m_format);
}

int VtrCalendarDate::weekOfMonth() const
{
    if (isNull()) return 0;
    return (dayOfMonth() + 6) / 7;
}

// ---------------------------------------------------------------------------

namespace vtr {

QTimeZone defaultTimeZone()
{
    QMutexLocker l(&g_defaultZoneLock);
    if (g_defaultZone.isValid()) return g_defaultZone;
    // Looking the system zone up reads several files; readers ask for it per
    // date. It is looked up again when TZ changes, else at most once a second.
    static QTimeZone systemZone;
    static QByteArray systemZoneTz;
    static QElapsedTimer age;
    const QByteArray tz = qgetenv("TZ");
    if (!systemZone.isValid() || tz != systemZoneTz || !age.isValid() || age.elapsed() > 1000) {
        systemZone = QTimeZone::systemTimeZone();
        systemZoneTz = tz;
        age.start();
    }
    return systemZone;
}

void setDefaultTimeZone(const QTimeZone &zone)
{
    QMutexLocker l(&g_defaultZoneLock);
    g_defaultZone = zone;
}

// After H. Hinnant's algorithms (eras of 400 years from 1 March 0).
qint64 daysFromCivil(qint64 year, int month, int day)
{
    year -= month <= 2;
    const qint64 era = floorDiv(year, 400);
    const qint64 yoe = year - era * 400;
    const qint64 doy = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const qint64 doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void civilFromDays(qint64 days, qint64 &year, int &month, int &day)
{
    const qint64 z = days + 719468;
    const qint64 era = floorDiv(z, 146097);
    const qint64 doe = z - era * 146097;
    const qint64 yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const qint64 doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const qint64 mp = (5 * doy + 2) / 153;
    day = int(doy - (153 * mp + 2) / 5 + 1);
    month = int(mp < 10 ? mp + 3 : mp - 9);
    year = yoe + era * 400 + (month <= 2);
}

const QTimeZone &utcTimeZone()
{
    static const QTimeZone utc = QTimeZone::utc();
    return utc;
}

QTimeZone timeZoneWithOffset(int secondsFromGmt)
{
    if (secondsFromGmt == 0) return utcTimeZone();
    QTimeZone z(secondsFromGmt);
    return z.isValid() ? z : utcTimeZone();
}


// The stretches of one zone, sorted and not overlapping. A handle holds on to
// its zone's cache and checks the generation, which changes when the cache
// is given to another zone.
struct ZoneOffsets::Cache
{
    struct Stretch
    {
        qint64 from, to;
        int offset;
    };
    QTimeZone zone;
    std::vector<Stretch> stretches;
    size_t last = 0; // the stretch last used
    quint64 generation = 0;
    quint64 lastUse = 0;
};

namespace {

// Zones at once per thread, and stretches kept per zone (a dozen years a
// zone change twice a year fill a few dozen).
constexpr size_t kCachedZones = 4;
constexpr size_t kMaxStretches = 4096;

} // namespace

ZoneOffsets::ZoneOffsets(const QTimeZone &zone)
    : m_zone(zone), m_utc(!zone.isValid() || zone == utcTimeZone())
{
    if (!m_utc) attach();
}

void ZoneOffsets::attach()
{
    thread_local std::array<Cache, kCachedZones> caches;
    thread_local quint64 uses = 0;
    Cache *oldest = &caches[0];
    for (Cache &c : caches) {
        if (c.generation != 0 && c.zone == m_zone) {
            oldest = &c;
            break;
        }
        if (c.lastUse < oldest->lastUse) oldest = &c;
    }
    Cache &c = *oldest;
    if (c.generation == 0 || !(c.zone == m_zone)) {
        thread_local quint64 generations = 0;
        c.zone = m_zone;
        c.stretches.clear();
        c.last = 0;
        c.generation = ++generations;
    }
    c.lastUse = ++uses;
    m_cache = &c;
    m_generation = c.generation;
}

int ZoneOffsets::offsetAt(qint64 utcSecs)
{
    if (m_utc) return 0;
    if (m_cache->generation != m_generation) attach();
    Cache &cache = *m_cache;
    std::vector<Cache::Stretch> &v = cache.stretches;
    if (cache.last < v.size() && v[cache.last].from <= utcSecs && utcSecs < v[cache.last].to)
        return v[cache.last].offset;
    auto it = std::upper_bound(v.begin(), v.end(), utcSecs,
                               [](qint64 t, const Cache::Stretch &s) { return t < s.from; });
    if (it != v.begin() && utcSecs < std::prev(it)->to) {
        cache.last = size_t(std::prev(it) - v.begin());
        return std::prev(it)->offset;
    }
    const QDateTime t = QDateTime::fromSecsSinceEpoch(utcSecs, Qt::UTC);
    Cache::Stretch s{LLONG_MIN, LLONG_MAX, m_zone.offsetFromUtc(t)};
    const QTimeZone::OffsetData before = m_zone.previousTransition(t.addSecs(1));
    const QTimeZone::OffsetData after = m_zone.nextTransition(t);
    if (before.atUtc.isValid()) s.from = before.atUtc.toSecsSinceEpoch();
    if (after.atUtc.isValid()) s.to = after.atUtc.toSecsSinceEpoch();
    // The zone's data may disagree with themselves: a stretch that misses the
    // instant, or runs into one already kept, would spoil the sorted list.
    if (s.from > utcSecs || s.to <= utcSecs || (it != v.begin() && std::prev(it)->to > s.from)
        || (it != v.end() && it->from < s.to))
        return s.offset;
    if (v.size() >= kMaxStretches) {
        v.clear();
        it = v.begin();
    }
    // Inserted first: the insertion may move the list.
    const auto inserted = v.insert(it, s);
    cache.last = size_t(inserted - v.begin());
    return s.offset;
}

qint64 ZoneOffsets::localToUtc(qint64 localSecs)
{
    if (m_utc) return localSecs;
    if (m_cache->generation != m_generation) attach();
    // Most times lie two days or more from a transition: the stretch last
    // used answers at once what the look-ups below would (no zone is a day
    // or more off GMT).
    const Cache &cache = *m_cache;
    if (cache.last < cache.stretches.size()) {
        const Cache::Stretch &s = cache.stretches[cache.last];
        const qint64 u = localSecs - s.offset;
        if (s.from <= u - 2 * kSecsPerDay && u + 2 * kSecsPerDay < s.to) return u;
    }
    // Qt 6.4 gives an invalid QDateTime for a local time inside a
    // daylight-saving gap, so the offsets on either side are tried by hand:
    // the first occurrence wins for a repeated hour, and a time in a gap is
    // read with the offset from before the gap (which moves it forward by the
    // length of the gap).
    const int before = offsetAt(localSecs - kSecsPerDay);
    const int after = offsetAt(localSecs + kSecsPerDay);
    std::optional<qint64> best;
    for (int o : {before, after}) {
        const qint64 u = localSecs - o;
        if (offsetAt(u) == o && (!best || u < *best)) best = u;
    }
    return best ? *best : localSecs - before;
}

} // namespace vtr
