#include "app/EnvironmentChecks.h"
#include "app/NS_AppController.h"
#include "app/Scenes.h"
#include "foundation/Log.h"
#include "platform/MainThread.h"
#include "platform/Strings.h"

#include <QDateTime>

#include <atomic>
#include <chrono>
#include <cmath>

namespace {

using Clock = std::chrono::steady_clock;

// When the last report was applied, in steady-clock ticks; min: never. One
// value for the whole process, read by any thread's throttle.
std::atomic<Clock::rep> g_lastApplied{std::numeric_limits<Clock::rep>::min()};

bool near(double value, double target) { return std::fabs(value - target) <= 0.01; }

std::function<double()> g_workClock;

double workClockNow()
{
    if (g_workClock) return g_workClock();
    return std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
}

struct PhaseInfo
{
    const QString *phase;
    int slot;  // overall-bar slot, -1 for none
    const char *caption;
    const char *title;  // the kind's line with nothing counted
    double (NS_AppController::*progress)() const;
    void (NS_AppController::*setProgress)(double);
    void (NS_AppController::*setSummary)(const QString &);
    void (NS_AppController::*setSummaryDone)(const QString &);
};

using C = NS_AppController;
const PhaseInfo kPhases[] = {
    {&vtrphase::Contacts, 0, "Copying Contacts...", "Contacts", &C::contactsProgress, &C::setContactsProgress,
     &C::setContactsSummary, &C::setContactsSummaryDone},
    {&vtrphase::Events, 1, "Copying Calendars and Events...", "Calendars", &C::calendarProgress,
     &C::setCalendarProgress, &C::setCalendarSummary, &C::setCalendarSummaryDone},
    {&vtrphase::Music, 2, "Copying Music...", "Music", &C::musicProgress, &C::setMusicProgress, &C::setMusicSummary,
     &C::setMusicSummaryDone},
    {&vtrphase::Photos, 3, "Copying Photos...", "Photos", &C::photosProgress, &C::setPhotosProgress,
     &C::setPhotosSummary, &C::setPhotosSummaryDone},
    {&vtrphase::Videos, 4, "Copying Videos...", "Videos", &C::videosProgress, &C::setVideosProgress,
     &C::setVideosSummary, &C::setVideosSummaryDone},
    {&vtrphase::Apps, -1, nullptr, "Apps", &C::appsProgress, &C::setAppsProgress, &C::setAppsSummary,
     &C::setAppsSummaryDone},
};

const PhaseInfo *phaseInfo(const QString &phase)
{
    for (const PhaseInfo &info : kPhases)
        if (*info.phase == phase) return &info;
    return nullptr;
}

QString manifestValue(const QVariantMap &manifest, const char *key)
{
    return manifest.value(QString::fromLatin1(key)).toString();
}

}  // namespace

void NS_AppController::resetStatusThrottle() { g_lastApplied.store(std::numeric_limits<Clock::rep>::min()); }

void NS_AppController::setStatus(const QString &status, const QString &phase, double percent)
{
    if (!near(percent, 1.0)) {
        const Clock::rep last = g_lastApplied.load();
        const Clock::rep now = Clock::now().time_since_epoch().count();
        const Clock::rep window = std::chrono::duration_cast<Clock::duration>(std::chrono::milliseconds(100)).count();
        if (last != std::numeric_limits<Clock::rep>::min() && last > now - window) return;
    }
    setStatusNow(status, phase, percent);
}

void NS_AppController::setStatusNow(const QString &status, const QString &phase, double percent)
{
    if (!platform::isMainThread()) {
        // The percentage travels in single precision, as the report always did.
        const double carried = double(float(percent));
        runOnMainAndWait([this, status, phase, carried] { setStatusNow(status, phase, carried); });
        return;
    }
    guarded("setStatusNow", [&] {
        // The plan's rate is measured from its first report on: the time
        // before it (pages, questions) is no work.
        if (m_workMeasuredFrom < 0 && m_workPlan.contains(phase)) {
            m_workMeasuredFrom = workClockNow();
            m_workDoneAtStart = plannedShareDone() * plannedSeconds();
        }
        applyStatus(phase, percent);
        refreshIndicators();
        updatePhaseSummary(phase, percent);
        updateTimeEstimate();
        g_lastApplied.store(Clock::now().time_since_epoch().count());
    });
}

void NS_AppController::applyStatus(const QString &phase, double p)
{
    const PhaseInfo *info = phaseInfo(phase);
    auto setIndeterminate = [this](const QString &ph, bool on) {
        if (ph == vtrphase::Apps) setAppsIndeterminate(on);
        else if (ph == vtrphase::Contacts) setContactsIndeterminate(on);
        else if (ph == vtrphase::Events) setCalendarIndeterminate(on);
        else if (ph == vtrphase::Music) setMusicIndeterminate(on);
        else if (ph == vtrphase::Photos) setPhotosIndeterminate(on);
        else if (ph == vtrphase::Videos) setVideosIndeterminate(on);
    };
    if (p >= 0.0 && p <= 1.0) {
        if (info) {
            // A small value means the work has started but shows no amount yet.
            setIndeterminate(phase, p > 0.01 && p < 0.1);
            (this->*info->setProgress)(p);
            if (info->slot >= 0) {
                // With a plan the bar stands at the share of the planned work
                // done; without one each kind weighs a fifth.
                // A phase outside the plan does not move it.
                if (m_workPlan.isEmpty() || m_workPlan.contains(phase)) {
                    const double overall = m_workPlan.isEmpty() ? double((float(p) + float(info->slot)) / 5.0f)
                                                                : plannedShareDone();
                    // The overall bar never moves back.
                    setSingleProgress(std::max(singleProgress(), overall));
                }
                setSingleProgressText(vtrLocalized(info->caption));
            }
        }
        setSingleIndeterminate(singleProgress() < 0.1);
    } else if (near(p, -1.0)) {
        setIndeterminate(phase, false);
    } else if (near(p, -2.0)) {
        setIndeterminate(phase, true);
    } else {
        VTR_LOG(2, QStringLiteral("Unknown status percentage set"));
    }
}

bool NS_AppController::kindChosen(const QString &phase) const
{
    if (phase == vtrphase::Apps) return appsEnabled() && appsValue();
    if (phase == vtrphase::Contacts) return contactsEnabled() && contactsValue();
    if (phase == vtrphase::Events) return calendarsEnabled() && calendarsValue();
    if (phase == vtrphase::Music) return musicEnabled() && musicValue();
    if (phase == vtrphase::Photos) return photosEnabled() && photosValue();
    if (phase == vtrphase::Videos) return videosEnabled() && videosValue();
    return false;
}

QString NS_AppController::stoppedKindReason(const QString &phase) const
{
    const struct
    {
        const QString &phase;
        const char *kind;
        bool enabled;
    } media[] = {{vtrphase::Music, "music", musicEnabled()},
                 {vtrphase::Photos, "photos", photosEnabled()},
                 {vtrphase::Videos, "videos", videosEnabled()}};
    for (const auto &m : media)
        if (m.phase == phase) {
            if (m.enabled || !m_canMigrateMedia || !vtrenv::readThoughTurnedOff(*this, m.kind)) return QString();
            return vtrenv::asClause(vtrenv::turnedOffReason(*this, m.kind));
        }
    return QString();
}

void NS_AppController::updatePhaseSummary(const QString &phase, double p)
{
    if (!kindChosen(phase)) return;
    quoteSummary(phase);
    // A phase at its end marks the line only with what became of the data:
    // reading them from the old phone is not moving them.
    const PhaseInfo *info = phaseInfo(phase);
    const QString done = near(p, 1.0) ? doneTextFor(phase) : QString();
    if (info && !done.isEmpty()) (this->*info->setSummaryDone)(done);
}

void NS_AppController::quoteSummary(const QString &phase)
{
    // A media kind of which nothing moved counts what the old phone holds,
    // not the nothing that reached the new phone.
    const bool held = kindResult(phase).outcome == Outcome::NotMoved;
    auto manifest = [this, held](ManifestKind kind) {
        const std::shared_ptr<ManifestInfoSource> source = manifestSource(kind);
        return !source ? QVariantMap() : held ? source->heldInfo() : source->manifestInfo();
    };
    // Without a reader or migrator for the kind there is nothing to quote:
    // the line keeps what the summary pass gave it.
    static const QHash<QString, ManifestKind> kinds{{vtrphase::Contacts, ManifestKind::Contacts},
                                                    {vtrphase::Events, ManifestKind::Events},
                                                    {vtrphase::Music, ManifestKind::Music},
                                                    {vtrphase::Photos, ManifestKind::Photos},
                                                    {vtrphase::Videos, ManifestKind::Videos}};
    const bool quotes = phase == vtrphase::Apps || (kinds.contains(phase) && manifestSource(kinds.value(phase)));
    if (!quotes) return;
    if (phase == vtrphase::Apps) {
        setAppsSummary(vtrLocalized("%d Apps").replace(QStringLiteral("%d"),
                                                       QString::number(m_summaries ? m_summaries->appListCount() : 0)));
    } else if (phase == vtrphase::Contacts) {
        const QVariantMap m = manifest(ManifestKind::Contacts);
        setContactsSummary(QStringLiteral("%1 %2").arg(manifestValue(m, "contact_cnt"), manifestValue(m, "title")));
    } else if (phase == vtrphase::Events) {
        const QVariantMap m = manifest(ManifestKind::Events);
        setCalendarSummary(vtrLocalized("%1 %2 in %3 %4")
                               .arg(manifestValue(m, "event_cnt"), manifestValue(m, "title"),
                                    manifestValue(m, "calendar_cnt"), manifestValue(m, "calendar_title")));
    } else if (phase == vtrphase::Music) {
        const QVariantMap m = manifest(ManifestKind::Music);
        setMusicSummary(vtrLocalized("%1 %2 and %3 %4")
                            .arg(manifestValue(m, "song_cnt"), manifestValue(m, "title"),
                                 manifestValue(m, "playlist_cnt"), manifestValue(m, "playlist_title")));
    } else if (phase == vtrphase::Photos) {
        const QVariantMap m = manifest(ManifestKind::Photos);
        setPhotosSummary(QStringLiteral("%1 %2").arg(manifestValue(m, "photo_cnt"), manifestValue(m, "title")));
    } else if (phase == vtrphase::Videos) {
        const QVariantMap m = manifest(ManifestKind::Videos);
        setVideosSummary(QStringLiteral("%1 %2").arg(manifestValue(m, "video_cnt"), manifestValue(m, "title")));
    }
}

void NS_AppController::updateTimeEstimate()
{
    if (!m_workPlan.isEmpty()) {
        double left = 0;
        bool unfinished = false;
        for (auto it = m_workPlan.cbegin(); it != m_workPlan.cend(); ++it) {
            if (!kindChosen(it.key())) continue;
            const double p = qBound(0.0, phaseProgress(it.key()), 1.0);
            left += (1.0 - p) * it.value();
            unfinished = unfinished || !near(p, 1.0);
        }
        // Once some of the work is done, what is left goes at the rate
        // measured so far rather than at the model's.
        const double done = plannedShareDone() * plannedSeconds() - m_workDoneAtStart;
        const double elapsed = m_workMeasuredFrom < 0 ? 0.0 : workClockNow() - m_workMeasuredFrom;
        if (done > 0 && elapsed > 0) left = left * elapsed / done;
        // Rounded up: work that remains never reads as none.
        qint64 seconds = qint64(std::ceil(left));
        if (unfinished) seconds = std::max<qint64>(seconds, 1);
        setTimeEstimateText(vtrLocalized("Estimated time remaining: %@.").replace(QStringLiteral("%@"), durationText(seconds)));
        return;
    }
    struct Kind { bool chosen; double progress; };
    const Kind kinds[] = {
        {appsEnabled() && appsValue(), appsProgress()},
        {contactsEnabled() && contactsValue(), contactsProgress()},
        {calendarsEnabled() && calendarsValue(), calendarProgress()},
        {musicEnabled() && musicValue(), musicProgress()},
        {photosEnabled() && photosValue(), photosProgress()},
        {videosEnabled() && videosValue(), videosProgress()},
    };
    int unfinished = 0;
    for (const Kind &k : kinds)
        if (k.chosen && !near(k.progress, 1.0)) ++unfinished;
    setTimeEstimateText(unfinished == 1 ? vtrLocalized("Estimated time remaining: 1 minute.")
                                        : vtrLocalized("Estimated time remaining: %d minutes.")
                                              .replace(QStringLiteral("%d"), QString::number(unfinished)));
}

double NS_AppController::phaseProgress(const QString &phase) const
{
    const PhaseInfo *info = phaseInfo(phase);
    return info ? (this->*info->progress)() : 0.0;
}

double NS_AppController::plannedSeconds() const
{
    double total = 0;
    for (auto it = m_workPlan.cbegin(); it != m_workPlan.cend(); ++it) total += it.value();
    return total;
}

double NS_AppController::plannedShareDone() const
{
    double total = 0, done = 0;
    for (auto it = m_workPlan.cbegin(); it != m_workPlan.cend(); ++it) {
        total += it.value();
        done += qBound(0.0, phaseProgress(it.key()), 1.0) * it.value();
    }
    return total > 0 ? done / total : 0.0;
}

double NS_AppController::secondsForWork(qint64 bytes, qint64 items)
{
    // The model of stringForBytesToCopy: 5 MiB a second, eight items a second.
    return double(std::max<qint64>(bytes, 0)) / 5242880.0 + double(std::max<qint64>(items, 0)) / 8.0;
}

void NS_AppController::setWorkPlan(const QHash<QString, double> &secondsByPhase)
{
    m_workPlan = secondsByPhase;
    m_workMeasuredFrom = -1.0;
    m_workDoneAtStart = 0.0;
    // The planned phases start their work now: what they showed before (the
    // reading from the old phone) is not part of it.
    for (auto it = m_workPlan.cbegin(); it != m_workPlan.cend(); ++it)
        if (const PhaseInfo *info = phaseInfo(it.key()); info && info->slot >= 0) (this->*info->setProgress)(0.0);
    updateTimeEstimate();
}

void NS_AppController::clearWorkPlan()
{
    m_workPlan.clear();
    m_workMeasuredFrom = -1.0;
    m_workDoneAtStart = 0.0;
}

void NS_AppController::setWorkClockForTesting(std::function<double()> clock) { g_workClock = std::move(clock); }

// ---- what became of each kind ---------------------------------------------------------------

void NS_AppController::setKindResult(const QString &phase, Outcome outcome, const QString &reason, bool unread)
{
    std::lock_guard lock(m_resultsMutex);
    m_kindResults.insert(phase, KindResult{outcome, reason, unread});
}

NS_AppController::KindResult NS_AppController::kindResult(const QString &phase) const
{
    std::lock_guard lock(m_resultsMutex);
    return m_kindResults.value(phase);
}

bool NS_AppController::kindHeldNothing(const QString &phase) const
{
    // Counted by records and files: a calendar without events holds nothing
    // of the person's to move.
    static const struct
    {
        const QString &phase;
        ManifestKind kind;
        const char *count;
    } kinds[] = {{vtrphase::Contacts, ManifestKind::Contacts, "contact_cnt"},
                 {vtrphase::Events, ManifestKind::Events, "event_cnt"},
                 {vtrphase::Music, ManifestKind::Music, "song_cnt"},
                 {vtrphase::Photos, ManifestKind::Photos, "photo_cnt"},
                 {vtrphase::Videos, ManifestKind::Videos, "video_cnt"}};
    for (const auto &k : kinds) {
        if (k.phase != phase) continue;
        if (kindResult(phase).unread) return false;
        const std::shared_ptr<ManifestInfoSource> source = manifestSource(k.kind);
        const QVariantMap held = source ? source->heldInfo() : QVariantMap();
        bool counted = false;
        const qint64 count = held.value(QLatin1String(k.count)).toLongLong(&counted);
        return counted && count == 0 && !held.contains(QStringLiteral("note")) &&
               !held.contains(QStringLiteral("not_moved_cnt")) && !held.contains(QStringLiteral("hidden_cnt"));
    }
    return false;
}

bool NS_AppController::somethingStayedBehind() const
{
    for (const QString *phase :
         {&vtrphase::Contacts, &vtrphase::Events, &vtrphase::Music, &vtrphase::Photos, &vtrphase::Videos}) {
        if (!kindChosen(*phase) && stoppedKindReason(*phase).isEmpty()) continue;
        // Whatever its line says of a kind with nothing in it, nothing of it
        // stayed behind.
        const Outcome outcome = kindResult(*phase).outcome;
        if (outcome == Outcome::Partial) return true;
        if ((outcome == Outcome::Failed || outcome == Outcome::NotMoved) && !kindHeldNothing(*phase)) return true;
    }
    return false;
}

void NS_AppController::clearKindResults()
{
    {
        std::lock_guard lock(m_resultsMutex);
        m_kindResults.clear();
    }
    for (const QString *phase : {&vtrphase::Music, &vtrphase::Photos, &vtrphase::Videos})
        if (const QString why = stoppedKindReason(*phase); !why.isEmpty())
            setKindResult(*phase, Outcome::NotMoved, why);
}

void NS_AppController::markSummaryLines()
{
    for (const PhaseInfo &info : kPhases) {
        // The apps line is marked as its own phase ends.
        if (info.slot < 0) continue;
        if (kindChosen(*info.phase)) {
            (this->*info.setSummaryDone)(doneTextFor(*info.phase));
        } else if (!stoppedKindReason(*info.phase).isEmpty() && kindResult(*info.phase).outcome != Outcome::Pending) {
            // Skipped before the work; now what of it the old phone held
            // stayed behind, as far as it was read.
            (this->*info.setSummary)(vtrLocalized(info.title));
            quoteSummary(*info.phase);
            (this->*info.setSummaryDone)(doneTextFor(*info.phase));
        } else if (stoppedKindReason(*info.phase).isEmpty()) {
            // Not part of this run: what an earlier one said of it is not so.
            (this->*info.setSummaryDone)(QString());
        }
    }
}

void NS_AppController::showKindOutcomes()
{
    markSummaryLines();
    // Nothing is left to estimate.
    showSummaryEstimate(false);
    showSingleEstimate(false);
    m_transferSummaryView->show();
    // The page behind the alert no longer promises a start ("Ready to move
    // ... Press Next to start"), nor a copy under way: the transfer failed.
    NS_TemplateSceneViewController *scene = m_scenesViewController->templateController();
    if (!scene || NS_ScenesViewController::sceneNameForState(currentState()).isEmpty()) return;
    scene->setHeader(vtrLocalized("The transfer failed"));
    scene->setBody(QStringLiteral("<p>%1</p>")
                       .arg(vtrLocalized("The transfer to your new phone ended before everything was moved; the "
                                         "lines below say what became of each kind.")
                                .toHtmlEscaped()));
}

QString NS_AppController::doneTextFor(const QString &phase) const
{
    const KindResult result = kindResult(phase);
    switch (result.outcome) {
    case Outcome::Pending: break;
    case Outcome::Written:
    case Outcome::Partial:
        return result.reason.isEmpty() ? vtrLocalized(" - Done")
                                       : vtrLocalized(" - Done (%@)").replace(QStringLiteral("%@"), result.reason);
    case Outcome::NotMoved: return vtrLocalized(" - Not moved: %@").replace(QStringLiteral("%@"), result.reason);
    case Outcome::Failed: return vtrLocalized(" - Failed: %@").replace(QStringLiteral("%@"), result.reason);
    }
    return QString();
}

QString NS_AppController::durationText(qint64 s)
{
    auto fill = [](const char *format, qint64 a) {
        return vtrLocalized(format).replace(QStringLiteral("%d"), QString::number(a));
    };
    if (s <= 59) return s == 1 ? vtrLocalized("about 1 second") : fill("about %d seconds", s);
    const qint64 m = (s + 30) / 60;
    if (s + 30 < 3600) return s <= 89 ? vtrLocalized("about 1 minute") : fill("about %d minutes", m);
    if (s + 30 < 7200) return fill("about 1 hour %d minutes", m - 60);
    QString text = vtrLocalized("about %d hours %d minutes");
    text.replace(text.indexOf(QStringLiteral("%d")), 2, QString::number((s + 30) / 3600));
    text.replace(text.indexOf(QStringLiteral("%d")), 2, QString::number(m % 60));
    return text;
}

QString NS_AppController::stringForBytesToCopy(qint64 bytes, int numFiles)
{
    return durationText(bytes / 5242880 + (qint64(numFiles) + 4) / 8);
}
