#pragma once

// A reproducible corpus of RRULE texts that uses every rule part RFC 5545
// defines, in the combinations it allows (and a few it does not), each with a
// wall-clock start that may or may not be one of its occurrences; and the
// expansion of such rules by libical's own iterator, for comparison.

#include "foundation/VtrCalendarDate.h"

#include <QDate>
#include <QDateTime>
#include <QRegularExpression>
#include <QStringList>
#include <QTimeZone>

#include <QProcess>

#include <memory>
#include <optional>
#include <vector>

#include <algorithm>
#include <random>

namespace rfccorpus {

struct RuleText
{
    QByteArray rule;      // the RRULE value
    QDateTime localStart; // wall-clock start (the time spec is unused)
    QByteArray zone;      // where the start's wall-clock time is read
    QString kind;         // the frequency and the parts used, for messages
    bool allDay = false;  // the start is a day (DTSTART;VALUE=DATE)
};

inline QString wallClock(const QDateTime &t) { return t.toString(QStringLiteral("yyyyMMdd'T'HHmmss")); }

// The start as the references read it: a day alone for an all-day rule.
inline QByteArray startText(const RuleText &r)
{
    return (r.allDay ? r.localStart.toString(QStringLiteral("yyyyMMdd")) : wallClock(r.localStart)).toLatin1();
}

// A wall-clock time (the time spec is unused) read in `zone`.
inline VtrCalendarDate startAt(const QDateTime &local, const QTimeZone &zone)
{
    return VtrCalendarDate::fromComponents(local.date().year(), local.date().month(), local.date().day(),
                                           local.time().hour(), local.time().minute(), local.time().second(), zone);
}

// The start as the events reader takes it: an all-day rule's day at 00:00 in
// the default zone.
inline VtrCalendarDate startOf(const RuleText &r)
{
    const QDate day = r.localStart.date();
    if (r.allDay) return VtrCalendarDate::fromComponents(day.year(), day.month(), day.day(), 0, 0, 0, vtr::defaultTimeZone());
    return startAt(r.localStart, QTimeZone(r.zone));
}

// At most `limit` occurrences as the references write them: days alone for an
// all-day series.
inline QStringList shown(const QList<VtrCalendarDate> &dates, qsizetype limit = 100000, bool allDay = false)
{
    QStringList out;
    for (qsizetype i = 0; i < dates.size() && i < limit; ++i)
        out.append(dates.at(i).descriptionWithCalendarFormat(allDay ? "%Y%m%d" : "%Y%m%dT%H%M%S"));
    return out;
}

// The references leave out a start that is not an occurrence of its rule and
// count from the first one that is; the standard counts the start first.
inline QStringList withStart(QStringList ref, const QString &start, int count, qsizetype limit)
{
    if (ref.isEmpty() || ref.first() != start) {
        ref.prepend(start);
        if (count > 0 && ref.size() > count) ref.removeLast();
    }
    return ref.mid(0, limit);
}

// The rule's COUNT, 0 without one.
inline int countOf(const QByteArray &rule)
{
    return QRegularExpression(QStringLiteral("COUNT=(\\d+)")).match(QString::fromLatin1(rule)).captured(1).toInt();
}

inline QList<RuleText> makeRuleTexts(int n, unsigned seed)
{
    static const char *const kDays[] = {"SU", "MO", "TU", "WE", "TH", "FR", "SA"};
    static const char *const kFreqs[] = {"SECONDLY", "MINUTELY", "HOURLY", "DAILY", "WEEKLY", "MONTHLY", "YEARLY"};
    std::mt19937 rng(seed);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    auto chance = [&](int percent) { return pick(1, 100) <= percent; };
    // A comma list of `count` distinct numbers from lo..hi, some negative when
    // `negative`, ascending (libical gives the occurrences of a list out of
    // order in the list's order).
    auto list = [&](int count, int lo, int hi, bool negative) {
        QList<int> values;
        while (values.size() < count) {
            int v = pick(lo, hi);
            if (negative && chance(35)) v = -v;
            if (!values.contains(v)) values.append(v);
        }
        std::sort(values.begin(), values.end());
        QStringList texts;
        for (int v : values) texts.append(QString::number(v));
        return texts.join(QLatin1Char(',')).toLatin1();
    };
    QList<RuleText> out;
    while (out.size() < n) {
        RuleText r;
        const int f = pick(0, 6);
        QByteArray rule = QByteArray("FREQ=") + kFreqs[f];
        QStringList parts{QLatin1String(kFreqs[f])};
        auto add = [&](const char *name, const QByteArray &value) {
            rule += QByteArray(";") + name + "=" + value;
            parts.append(QLatin1String(name));
        };
        const bool subDaily = f <= 2;
        const int interval = f == 0 ? pick(1, 40) : (chance(60) ? 1 : pick(2, 4));
        if (interval > 1) add("INTERVAL", QByteArray::number(interval));
        // Day-level parts: which ones each frequency may carry. A sub-daily
        // rule gets one at most: with more its occurrences are so rare that
        // the references take minutes to find them.
        const bool weekly = f == 4, monthly = f == 5, yearly = f == 6;
        int dayParts = 0;
        auto dayPart = [&](int percent) { return (!subDaily || dayParts == 0) && chance(percent) && ++dayParts; };
        if (dayPart(yearly ? 45 : 25)) add("BYMONTH", list(pick(1, yearly ? 4 : 6), 1, 12, false));
        if (yearly && dayPart(35)) add("BYWEEKNO", list(pick(1, 3), 1, 53, true));
        if ((yearly || subDaily) && dayPart(yearly ? 20 : 10)) add("BYYEARDAY", list(pick(1, 4), 1, 366, true));
        if (!weekly && dayPart(monthly || yearly ? 40 : 20)) add("BYMONTHDAY", list(pick(1, 4), 1, 31, true));
        if (dayPart(weekly ? 75 : 45)) {
            const bool ordinals = (monthly || yearly) && !rule.contains("BYWEEKNO") && chance(60);
            QStringList days;
            for (int k = pick(1, 3); k > 0; --k) {
                QString d = QLatin1String(kDays[pick(0, 6)]);
                if (ordinals) {
                    const int most = monthly || rule.contains("BYMONTH=") ? 5 : 53;
                    const int o = chance(70) ? pick(1, std::min(most, 4)) : pick(1, most);
                    d.prepend(QString::number(chance(35) ? -o : o));
                }
                if (!days.contains(d)) days.append(d);
            }
            add("BYDAY", days.join(QLatin1Char(',')).toLatin1());
        }
        // Time-level parts. Those that limit a secondly or minutely rule are
        // kept to two or three in all, for the same reason.
        int limits = dayParts;
        auto timePart = [&](int percent, bool limiting) {
            if (limiting && limits >= (f == 0 ? 2 : 3)) return false;
            if (!chance(percent)) return false;
            limits += limiting;
            return true;
        };
        if (timePart(subDaily ? 30 : 25, subDaily)) add("BYHOUR", list(pick(1, 3), 0, 23, false));
        if (timePart(f == 0 || f == 1 ? 40 : 20, f <= 1)) add("BYMINUTE", list(pick(1, 3), 0, 59, false));
        if (timePart(f == 0 ? 40 : 15, f == 0)) add("BYSECOND", list(pick(1, 3), 0, 59, false));
        // Positions in a set of one (a day, hour, minute or second that no
        // other part widens) pick nothing but the first: rarely asked for.
        const bool wide = f >= 4 || rule.contains("BYHOUR") || rule.contains("BYMINUTE") || rule.contains("BYSECOND");
        if (chance(wide ? 25 : 3)) add("BYSETPOS", list(pick(1, 2), 1, 6, true));
        if (chance(25)) add("WKST", kDays[pick(0, 6)]);

        QDate day(pick(1998, 2030), pick(1, 12), pick(1, 28));
        QTime time(pick(0, 23), pick(0, 3) * 15, chance(20) ? pick(0, 59) : 0);
        r.localStart = QDateTime(day, time, QTimeZone::utc());
        // Sub-daily rules and rules naming hours are read in UTC, where every
        // wall-clock time exists once; the others in New York, away from the
        // hour that daylight saving skips.
        const bool utc = subDaily || rule.contains("BYHOUR") || chance(30);
        r.zone = utc ? QByteArray("UTC") : QByteArray("America/New_York");
        if (!utc && time.hour() == 2) r.localStart = r.localStart.addSecs(3600);
        if (chance(55)) {
            add("COUNT", QByteArray::number(pick(1, 40)));
        } else {
            const qint64 span = f == 0 ? 3 * 3600 : f == 1 ? 3 * 86400 : f == 2 ? 30 * 86400 : 3 * 365 * 86400;
            QDateTime until = r.localStart.addSecs(qint64(std::uniform_real_distribution<double>(0, 1)(rng) * double(span)));
            if (!utc && until.time().hour() == 2) until = until.addSecs(3600);
            add("UNTIL", wallClock(until).toLatin1() + (utc ? "Z" : ""));
        }
        r.rule = rule;
        r.kind = parts.join(QLatin1Char(' '));
        out.append(r);
    }
    return out;
}

// Yearly rules on the weeks that straddle New Year (numbers near either end
// of the year, counted forward and back) and a few weeks between, with an
// interval, weekdays, a week start, a month and positions now and then;
// starts in December half the time, read in UTC. Weeks 52 and 53 are not
// named forward: python-dateutil miscounts the weeks of the year before for
// them.
inline QList<RuleText> makeNewYearWeekRules(int n, unsigned seed)
{
    static const char *const kDays[] = {"SU", "MO", "TU", "WE", "TH", "FR", "SA"};
    static const int kEnds[] = {1, 2, -1, -2, -51, -52, -53};
    std::mt19937 rng(seed);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    QList<RuleText> out;
    while (out.size() < n) {
        QByteArray rule = "FREQ=YEARLY;INTERVAL=" + QByteArray::number(pick(1, 4)) + ";BYWEEKNO=";
        QByteArrayList weeks;
        for (int k = pick(1, 3); k > 0; --k) {
            const int w = pick(0, 2) ? kEnds[pick(0, 6)] : pick(3, 51) * (pick(0, 2) ? 1 : -1);
            weeks.append(QByteArray::number(w));
        }
        rule += weeks.join(',');
        if (pick(0, 3)) {
            QByteArrayList days;
            for (int k = pick(1, 3); k > 0; --k)
                if (const QByteArray d = kDays[pick(0, 6)]; !days.contains(d)) days.append(d);
            rule += ";BYDAY=" + days.join(',');
        }
        if (pick(0, 4) == 0) rule += QByteArray(";WKST=") + kDays[pick(0, 6)];
        if (pick(0, 5) == 0) rule += ";BYMONTH=" + QByteArray::number(pick(1, 12));
        if (pick(0, 5) == 0) rule += ";BYSETPOS=" + QByteArray::number(pick(1, 3) * (pick(0, 1) ? 1 : -1));
        RuleText r;
        r.rule = rule + ";COUNT=" + QByteArray::number(pick(2, 20));
        r.localStart = QDateTime(QDate(pick(1998, 2030), pick(0, 1) ? 12 : pick(1, 12), pick(1, 28)), QTime(9, 0),
                                 QTimeZone::utc());
        r.zone = "UTC";
        r.kind = QStringLiteral("YEARLY BYWEEKNO");
        out.append(r);
    }
    return out;
}

// libical's expansion of each rule (at most `limit` occurrences from its
// start, as wall-clock texts) by the reference program; nullopt for a rule
// that libical did not finish. `error` says why nothing ran.
struct LibicalReference
{
    QString error;
    QList<std::optional<QStringList>> occurrences;
};

// A reference's line: occurrences separated by blanks, or "!" for none.
inline std::optional<QStringList> occurrencesOfLine(const QByteArray &line)
{
    if (line == "!") return std::nullopt;
    QStringList texts;
    for (const QByteArray &t : line.split(' '))
        if (!t.isEmpty()) texts.append(QString::fromLatin1(t));
    return texts;
}

// With `zoned`, each start is read in its rule's zone (else floating).
inline LibicalReference runLibical(const QList<RuleText> &rules, int limit, const QString &program, bool zoned = false)
{
    // Three processes side by side, each on a third of the rules.
    constexpr int kProcesses = 3;
    LibicalReference ref;
    std::vector<std::unique_ptr<QProcess>> processes;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0")); // killed children leak
    const qsizetype share = (rules.size() + kProcesses - 1) / kProcesses;
    for (int k = 0; k < kProcesses; ++k) {
        auto p = std::make_unique<QProcess>();
        p->setProcessEnvironment(env);
        p->start(program, {});
        if (!p->waitForStarted(10000)) {
            ref.error = program + QStringLiteral(" does not start");
            return ref;
        }
        QByteArray input;
        for (qsizetype i = k * share; i < std::min(rules.size(), (k + 1) * share); ++i)
            input += rules.at(i).rule + '\t' + startText(rules.at(i)) + '\t' + QByteArray::number(limit)
                     + (zoned ? '\t' + rules.at(i).zone : QByteArray()) + '\n';
        p->write(input);
        p->closeWriteChannel();
        processes.push_back(std::move(p));
    }
    for (int k = 0; k < kProcesses; ++k) {
        QProcess &p = *processes[size_t(k)];
        if (!p.waitForFinished(900000)) {
            ref.error = QStringLiteral("the reference program did not end");
            return ref;
        }
        QList<QByteArray> lines = p.readAllStandardOutput().split('\n');
        const qsizetype expected = std::max<qsizetype>(0, std::min(rules.size(), (k + 1) * share) - k * share);
        if (lines.size() < expected) {
            ref.error = QString::fromUtf8(p.readAllStandardError().right(2000));
            return ref;
        }
        for (qsizetype i = 0; i < expected; ++i) ref.occurrences.append(occurrencesOfLine(lines.at(i)));
    }
    return ref;
}

// python-dateutil's expansion of the same rules, as runLibical gives
// libical's ("!" after three seconds without an answer, or an error).
inline const char kDateutilScript[] = R"PY(
import signal, sys, datetime
from dateutil import rrule
class Late(Exception): pass
def late(*_): raise Late()
signal.signal(signal.SIGALRM, late)
for line in sys.stdin:
    rule, start, limit = line.rstrip("\n").split("\t")
    out = []
    try:
        signal.alarm(3)
        s = datetime.datetime.strptime(start, "%Y%m%dT%H%M%S")
        # The corpus gives UTC times only for rules read in UTC: wall-clock text.
        r = rrule.rrulestr("RRULE:" + rule.replace("Z", ""), dtstart=s)
        for t in r:
            if len(out) >= int(limit): break
            out.append(t.strftime("%Y%m%dT%H%M%S"))
        signal.alarm(0)
        print(" ".join(out), flush=True)
    except Exception:
        signal.alarm(0)
        print("!", flush=True)
)PY";

inline LibicalReference runDateutil(const QList<RuleText> &rules, int limit)
{
    LibicalReference ref;
    QProcess p;
    p.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), QString::fromUtf8(kDateutilScript)});
    if (!p.waitForStarted(10000)) {
        ref.error = QStringLiteral("/usr/bin/python3 does not start");
        return ref;
    }
    QByteArray input;
    for (const RuleText &r : rules)
        input += r.rule + '\t' + wallClock(r.localStart).toLatin1() + '\t' + QByteArray::number(limit) + '\n';
    p.write(input);
    p.closeWriteChannel();
    if (!p.waitForFinished(900000) || p.exitCode() != 0) {
        ref.error = QString::fromUtf8(p.readAllStandardError().right(2000));
        return ref;
    }
    const QList<QByteArray> lines = p.readAllStandardOutput().split('\n');
    for (qsizetype i = 0; i < rules.size(); ++i) ref.occurrences.append(occurrencesOfLine(lines.value(i)));
    return ref;
}

} // namespace rfccorpus
