// Expanding generated recurrence rules over a three-year window, against
// python-dateutil's rrule on the same rules in the same run (the reference
// runs once as a process and times its own expansion).
// bench-links: vtr_pim
#include "../tests/pim/rrule/RuleCorpus.h"
#include "pim/records/RecurrenceExpansion.h"

#include <QCoreApplication>
#include <QTimeZone>

#include <algorithm>

#include <benchmark/benchmark.h>
#include <chrono>

namespace {

constexpr int kRules = 10000;
constexpr int kWindowDays = 3 * 365;

struct Corpus
{
    QList<QVariantMap> rules;
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
