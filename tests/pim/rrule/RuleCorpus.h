#pragma once

// A reproducible corpus of recurrence rules of the kinds the store hands to
// the expansion (daily; weekly on days; monthly on one day of the month or one
// weekday with its ordinal; yearly, also on listed months), each with a start
// that is one of its occurrences, and the reference expansion of the same
// rules by python-dateutil's rrule run as a process. Shared by the comparison
// test and the benchmark.

#include "foundation/Json.h"

#include <QDate>
#include <QDateTime>
#include <QTimeZone>
#include <QProcess>
#include <QStringList>
#include <QVariantMap>

#include <random>

namespace rulecorpus {

inline const char *const kWeekdayNames[] = {"sunday", "monday", "tuesday", "wednesday", "thursday", "friday",
                                            "saturday"};

struct Rule
{
    QVariantMap store;    // the expansion's dictionary, without "until"
    QVariantMap python;   // the reference side's description
    QDateTime localStart; // wall-clock start (zone-less)
    QDateTime localUntil; // invalid when none
    int count = 0;
    QString kind;
};

inline QString naive(const QDateTime &t)
{
    return t.toString(QStringLiteral("yyyyMMdd'T'HHmmss"));
}

// `bounded`: every rule ends after a count or at an until; otherwise rules
// have neither and are read over a window.
inline QList<Rule> makeRules(int n, unsigned seed, bool bounded)
{
    std::mt19937 rng(seed);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    QList<Rule> rules;
    while (rules.size() < n) {
        Rule r;
        int hour = pick(0, 23);
        if (hour == 2) hour = 9; // keep clear of the spring-forward gap: compared as wall-clock text
        QDate day(pick(2008, 2026), pick(1, 12), 1);
        const int interval = pick(1, 4);
        QVariantMap s{{"interval", interval}};
        QVariantMap p{{"interval", interval}};
        QVariantList byweekday;
        switch (pick(0, 6)) {
        case 0: {
            r.kind = "daily";
            day = day.addDays(pick(0, 27));
            s["frequency"] = "daily";
            p["freq"] = "DAILY";
            break;
        }
        case 1: {
            r.kind = "weekly";
            day = day.addDays(pick(0, 27));
            QList<int> days{day.dayOfWeek() % 7};
            for (int k = pick(0, 2); k > 0; --k) days.append(pick(0, 6));
            std::sort(days.begin(), days.end());
            days.erase(std::unique(days.begin(), days.end()), days.end());
            QVariantList names;
            for (int d : days) {
                names.append(kWeekdayNames[d]);
                byweekday.append(QVariant(QVariantList{d, 0}));
            }
            s["frequency"] = "weekly";
            s["bydaydays"] = names;
            p["freq"] = "WEEKLY";
            // Weeks start on Monday unless the rule says otherwise.
            if (pick(0, 2) == 0) {
                s["weekstartday"] = "sunday";
                p["wkst"] = 0;
            }
            break;
        }
        case 2: {
            r.kind = "monthly-day";
            const int md = pick(1, 31);
            while (md > day.daysInMonth()) day = day.addMonths(1);
            day = QDate(day.year(), day.month(), md);
            s["frequency"] = "monthly";
            s["bymonthday"] = QVariantList{md};
            p["freq"] = "MONTHLY";
            p["bymonthday"] = QVariantList{md};
            break;
        }
        case 3:
        case 4: {
            const bool yearly = pick(0, 2) == 0;
            r.kind = yearly ? "yearly-weekday" : "monthly-weekday";
            const int ordinals[] = {1, 2, 3, 4, -1, -1, 5, -2};
            const int ord = ordinals[pick(0, 7)];
            const int wd = pick(0, 6);
            // The first month (from the chosen one on) that has that weekday.
            for (;;) {
                const int first = 1 + (wd - QDate(day.year(), day.month(), 1).dayOfWeek() % 7 + 7) % 7;
                const int count = 1 + (day.daysInMonth() - first) / 7;
                if (ord > count || -ord > count) {
                    day = day.addMonths(1);
                    continue;
                }
                const int d = ord > 0 ? first + 7 * (ord - 1) : first + 7 * (count + ord);
                day = QDate(day.year(), day.month(), d);
                break;
            }
            s["frequency"] = yearly ? "yearly" : "monthly";
            s["bydaydays"] = QVariantList{kWeekdayNames[wd]};
            s["bydayfreq"] = QVariantList{ord};
            byweekday.append(QVariant(QVariantList{wd, ord}));
            p["freq"] = yearly ? "YEARLY" : "MONTHLY";
            if (yearly) {
                s["bymonth"] = QVariantList{day.month()};
                p["bymonth"] = QVariantList{day.month()};
            }
            break;
        }
        case 5: {
            r.kind = "yearly";
            day = pick(0, 5) == 0 ? QDate(4 * pick(502, 506), 2, 29) : day.addDays(pick(0, 27));
            s["frequency"] = "yearly";
            p["freq"] = "YEARLY";
            break;
        }
        default: {
            r.kind = "yearly-months";
            day = day.addDays(pick(0, 27));
            QList<int> months{day.month(), pick(1, 12)};
            std::sort(months.begin(), months.end());
            months.erase(std::unique(months.begin(), months.end()), months.end());
            QVariantList m;
            for (int x : months) m.append(x);
            s["frequency"] = "yearly";
            s["bymonth"] = m;
            p["freq"] = "YEARLY";
            p["bymonth"] = m;
            break;
        }
        }
        if (!byweekday.isEmpty()) p["byweekday"] = byweekday;
        r.localStart = QDateTime(day, QTime(hour, pick(0, 3) * 15), QTimeZone::utc());
        if (bounded) {
            if (pick(0, 1) == 0) {
                r.count = pick(1, 60);
                s["count"] = r.count;
                p["count"] = r.count;
            } else {
                r.localUntil = r.localStart.addDays(pick(0, 1500)).addSecs(pick(-7200, 7200));
                if (r.localUntil.time().hour() == 2) r.localUntil = r.localUntil.addSecs(3600);
                p["until"] = naive(r.localUntil);
            }
        }
        p["dtstart"] = naive(r.localStart);
        r.store = s;
        r.python = p;
        rules.append(r);
    }
    return rules;
}

// The rule as RRULE text (for libical).
inline QByteArray rruleText(const Rule &r)
{
    static const char *const codes[] = {"SU", "MO", "TU", "WE", "TH", "FR", "SA"};
    const QVariantMap &p = r.python;
    QByteArray out = "FREQ=" + p.value("freq").toString().toLatin1() + ";INTERVAL=" + QByteArray::number(p.value("interval").toInt());
    auto numbers = [](const QVariant &v) {
        QByteArrayList items;
        for (const QVariant &x : v.toList()) items.append(QByteArray::number(x.toInt()));
        return items.join(',');
    };
    if (p.contains("byweekday")) {
        QByteArrayList days;
        for (const QVariant &d : p.value("byweekday").toList()) {
            const QVariantList pair = d.toList();
            const int n = pair.value(1).toInt();
            days.append((n ? QByteArray::number(n) : QByteArray()) + codes[pair.value(0).toInt()]);
        }
        out += ";BYDAY=" + days.join(',');
    }
    if (p.contains("bymonthday")) out += ";BYMONTHDAY=" + numbers(p.value("bymonthday"));
    if (p.contains("bymonth")) out += ";BYMONTH=" + numbers(p.value("bymonth"));
    if (p.contains("wkst")) out += QByteArray(";WKST=") + codes[p.value("wkst").toInt()];
    if (p.contains("count")) out += ";COUNT=" + QByteArray::number(p.value("count").toInt());
    if (p.contains("until")) out += ";UNTIL=" + p.value("until").toString().toLatin1();
    return out;
}

// The reference expansion: one line of input per rule, one JSON list of
// wall-clock texts per line out; with `windowDays` > 0 each rule is read
// between its start and that many days later. "seconds" holds the time spent
// expanding (not starting the interpreter). Empty when it cannot run.
inline const char kReferenceScript[] = R"PY(
import json, sys, time, datetime
from dateutil import rrule
freqs = {"DAILY": rrule.DAILY, "WEEKLY": rrule.WEEKLY, "MONTHLY": rrule.MONTHLY, "YEARLY": rrule.YEARLY}
days = [rrule.SU, rrule.MO, rrule.TU, rrule.WE, rrule.TH, rrule.FR, rrule.SA]
window = int(sys.argv[1])
parse = lambda t: datetime.datetime.strptime(t, "%Y%m%dT%H%M%S")
rules = [json.loads(l) for l in sys.stdin if l.strip()]
out = []
t0 = time.perf_counter()
for p in rules:
    kw = dict(dtstart=parse(p["dtstart"]), interval=p["interval"], wkst=days[p.get("wkst", 1)])
    if "count" in p: kw["count"] = p["count"]
    if "until" in p: kw["until"] = parse(p["until"])
    if "byweekday" in p: kw["byweekday"] = [days[d](n) if n else days[d] for d, n in p["byweekday"]]
    if "bymonthday" in p: kw["bymonthday"] = p["bymonthday"]
    if "bymonth" in p: kw["bymonth"] = p["bymonth"]
    r = rrule.rrule(freqs[p["freq"]], **kw)
    if window > 0:
        s = kw["dtstart"]
        occ = r.between(s, s + datetime.timedelta(days=window), inc=True)
    else:
        occ = list(r)
    out.append(occ)
seconds = time.perf_counter() - t0
print(json.dumps({"seconds": seconds}))
for occ in out:
    print(json.dumps([o.strftime("%Y%m%dT%H%M%S") for o in occ]))
)PY";

struct Reference
{
    bool ok = false;
    QString error; // why it did not run
    double seconds = 0;
    QList<QStringList> occurrences;
};

inline Reference runReference(const QList<Rule> &rules, int windowDays)
{
    Reference ref;
    QProcess py;
    py.start(QStringLiteral("/usr/bin/python3"),
             {QStringLiteral("-c"), QString::fromUtf8(kReferenceScript), QString::number(windowDays)});
    if (!py.waitForStarted(10000)) {
        ref.error = QStringLiteral("/usr/bin/python3 does not start");
        return ref;
    }
    QByteArray input;
    for (const Rule &r : rules) input += vtr::JSONRepresentation(r.python).toUtf8() + '\n';
    py.write(input);
    py.closeWriteChannel();
    if (!py.waitForFinished(600000) || py.exitCode() != 0) {
        ref.error = QString::fromUtf8(py.readAllStandardError().right(2000));
        return ref;
    }
    const QList<QByteArray> lines = py.readAllStandardOutput().split('\n');
    if (lines.size() < rules.size() + 1) return ref;
    QorJsonParser parser;
    ref.seconds = parser.objectWithUtf8(lines.at(0)).toMap().value("seconds").toDouble();
    for (int i = 0; i < rules.size(); ++i) {
        QStringList texts;
        for (const QVariant &v : parser.objectWithUtf8(lines.at(i + 1)).toList()) texts.append(v.toString());
        ref.occurrences.append(texts);
    }
    ref.ok = true;
    return ref;
}

} // namespace rulecorpus
