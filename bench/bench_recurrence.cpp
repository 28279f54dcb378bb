// Expanding generated recurrence rules over a three-year window, against
// libical's iterator and python-dateutil's rrule on the same rules in the
// same run (libical's in this process, dateutil's once as a process that
// times its own expansion).
// bench-links: vtr_pim
#include "../tests/pim/rrule/RuleCorpus.h"
#include "pim/records/RecurrenceExpansion.h"

#include <QCoreApplication>
#include <QTimeZone>

#include <algorithm>

#include <benchmark/benchmark.h>
#include <chrono>

#include <libical/ical.h>

namespace {

constexpr int kRules = 10000;
constexpr int kWindowDays = 3 * 365;

struct Corpus
{
    QList<QVariantMap> rules;
    QList<QByteArray> texts;          // the same as RRULE text
    QList<icaltimetype> icalStarts, icalEnds;
    QList<VtrCalendarDate> starts, ends;
    rulecorpus::Reference reference;
    qint64 referenceOccurrences = 0;
};

const Corpus &corpus()
{
    static const Corpus c = [] {
        Corpus c;
        const QTimeZone zone("America/New_York");
        const QList<rulecorpus::Rule> rules = rulecorpus::makeRules(kRules, 7, false);
        for (const rulecorpus::Rule &r : rules) {
            const QDateTime s = r.localStart;
            c.rules.append(r.store);
            c.texts.append(rulecorpus::rruleText(r));
            icaltimetype is = icaltime_null_time();
            is.year = s.date().year(), is.month = s.date().month(), is.day = s.date().day();
            is.hour = s.time().hour(), is.minute = s.time().minute();
            c.icalStarts.append(is);
            c.icalEnds.append(icaltime_add(is, icaldurationtype_from_int(kWindowDays * 86400)));
            const VtrCalendarDate start = VtrCalendarDate::fromComponents(
                s.date().year(), s.date().month(), s.date().day(), s.time().hour(), s.time().minute(), 0, zone);
            c.starts.append(start);
            c.ends.append(start.dateByAddingYears(0, 0, kWindowDays, 0, 0, 0));
        }
        c.reference = rulecorpus::runReference(rules, kWindowDays);
        for (const QStringList &o : c.reference.occurrences) c.referenceOccurrences += o.size();
        return c;
    }();
    return c;
}

// libical's iterator over the same rules and window, once: seconds.
double libicalSeconds()
{
    const Corpus &c = corpus();
    qint64 occurrences = 0;
    const auto began = std::chrono::steady_clock::now();
    for (int i = 0; i < c.texts.size(); ++i) {
        const icalrecurrencetype r = icalrecurrencetype_from_string(c.texts.at(i).constData());
        icalrecur_iterator *it = icalrecur_iterator_new(r, c.icalStarts.at(i));
        for (icaltimetype t = icalrecur_iterator_next(it); !icaltime_is_null_time(t) && icaltime_compare(t, c.icalEnds.at(i)) <= 0;
             t = icalrecur_iterator_next(it))
            ++occurrences;
        icalrecur_iterator_free(it);
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    std::printf("libical: %.3f s for the same %d rules (%lld occurrences)\n", seconds, kRules, occurrences);
    return seconds;
}

void BM_ExpandRulesThreeYears(benchmark::State &state)
{
    const Corpus &c = corpus();
    qint64 occurrences = 0;
    const auto began = std::chrono::steady_clock::now();
    for (auto _ : state) {
        occurrences = 0;
        for (int i = 0; i < c.rules.size(); ++i)
            occurrences += expandRecurrence(c.rules.at(i), c.starts.at(i), c.starts.at(i), c.ends.at(i)).size();
        benchmark::DoNotOptimize(occurrences);
    }
    const double perRun = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count()
                          / double(std::max<benchmark::IterationCount>(1, state.iterations()));
    state.counters["occurrences"] = double(occurrences);
    state.counters["rrule_occurrences"] = double(c.referenceOccurrences);
    state.counters["rrule_seconds"] = c.reference.ok ? c.reference.seconds : -1.0;
    state.counters["times_faster"] = c.reference.ok ? c.reference.seconds / perRun : -1.0;
    static const double libical = libicalSeconds();
    state.counters["libical_seconds"] = libical;
    state.counters["times_faster_than_libical"] = libical / perRun;
}
BENCHMARK(BM_ExpandRulesThreeYears)->Unit(benchmark::kMillisecond)->MinTime(2.0);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    corpus();
    benchmark::RunSpecifiedBenchmarks();
    const Corpus &c = corpus();
    if (c.reference.ok)
        std::printf("rrule: %.3f s for the same %d rules (%lld occurrences)\n", c.reference.seconds, kRules,
                    c.referenceOccurrences);
    else
        std::printf("rrule: not run (%s)\n", qPrintable(c.reference.error));
    std::fflush(stdout);
    benchmark::Shutdown();
    return 0;
}
