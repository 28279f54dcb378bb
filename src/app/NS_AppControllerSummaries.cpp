#include "app/NS_AppControllerSummaries.h"

#include "app/NS_AppController.h"
#include "app/NS_AppControllerAppReferral.h"
#include "app/NS_AppControllerLive.h"
#include "foundation/MigrationStatus.h"
#include "platform/Strings.h"

namespace vtrsummaries {

namespace {

bool g_buildingTitles = false;

// The localized `format` with each "%@" or "%d" replaced by the next of
// `args`, in one pass (an argument holding "%@" stays as it is).
QString fill(const char *format, const QStringList &args)
{
    const QString text = vtrLocalized(format);
    QString out;
    qsizetype next = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('%') && i + 1 < text.size() &&
            (text[i + 1] == QLatin1Char('@') || text[i + 1] == QLatin1Char('d')) && next < args.size()) {
            out += args[next++];
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

QString mediaInfo(const char *kind, const char *cannot, bool canMigrateMedia)
{
    return vtrLocalized(canMigrateMedia ? kind : cannot);
}

// "120" when all of the counted items moved, "118 of 120" otherwise. Without
// a count from the reader only the number moved can be told.
QString countText(quint32 moved, const QVariant &counted, bool sent = true)
{
    if (!sent && counted.isValid()) return counted.toString();
    bool ok = false;
    const qint64 total = counted.toLongLong(&ok);
    if (!counted.isValid() || !ok) return QString::number(moved);
    if (total == qint64(moved)) return counted.toString();
    return fill("%d of %@", {QString::number(moved), counted.toString()});
}

QString titleOr(const QVariantMap &manifest, const QString &key, const char *fallback)
{
    const QString title = manifest.value(key).toString();
    return title.isEmpty() ? vtrLocalized(fallback) : title;
}

QString chosenOrSkipping(bool chosen, const char *kind, const char *skipping)
{
    return vtrLocalized(chosen ? kind : skipping);
}

}  // namespace

QVariantMap checkboxTitles(bool canMigrateMedia)
{
    return {
        {QStringLiteral("calendars"), vtrLocalized("Calendars")},
        {QStringLiteral("calendarsInfo"), vtrLocalized("Calendars")},
        {QStringLiteral("contacts"), vtrLocalized("Contacts")},
        {QStringLiteral("contactsInfo"), vtrLocalized("Contacts")},
        {QStringLiteral("notes"), vtrLocalized("Notes")},
        {QStringLiteral("notesInfo"), vtrLocalized("Notes")},
        {QStringLiteral("tasks"), vtrLocalized("Tasks")},
        {QStringLiteral("tasksInfo"), vtrLocalized("Tasks")},
        {QStringLiteral("apps"), vtrLocalized("Apps")},
        {QStringLiteral("appsInfo"), vtrLocalized("Apps")},
        {QStringLiteral("music"), vtrLocalized("Music")},
        {QStringLiteral("photos"), vtrLocalized("Photos")},
        {QStringLiteral("videos"), vtrLocalized("Videos")},
        {QStringLiteral("musicInfo"),
         mediaInfo("Music", "Music - cannot transfer music for this device", canMigrateMedia)},
        {QStringLiteral("photosInfo"),
         mediaInfo("Photos", "Photos - cannot transfer photos for this device", canMigrateMedia)},
        {QStringLiteral("videosInfo"),
         mediaInfo("Videos", "Videos - cannot transfer videos for this device", canMigrateMedia)},
    };
}

void buildCheckboxTitles(bool canMigrateMedia, const std::function<void(const QVariantMap &)> &store)
{
    if (g_buildingTitles) return;
    g_buildingTitles = true;
    try {
        store(checkboxTitles(canMigrateMedia));
    } catch (...) {
        g_buildingTitles = false;
        throw;
    }
    g_buildingTitles = false;
}

Texts prepopulatedSummaries(const Choices &c)
{
    return {
        {QStringLiteral("apps"), c.apps ? fill("%d Apps", {QString::number(c.appCount)}) : vtrLocalized("Skipping Apps")},
        {QStringLiteral("contacts"), chosenOrSkipping(c.contacts, "Contacts", "Skipping Contacts")},
        {QStringLiteral("calendars"), chosenOrSkipping(c.calendars, "Calendars", "Skipping Calendars")},
        {QStringLiteral("music"), chosenOrSkipping(c.music, "Music", "Skipping Music")},
        {QStringLiteral("videos"), chosenOrSkipping(c.videos, "Videos", "Skipping Videos")},
        {QStringLiteral("photos"), chosenOrSkipping(c.photos, "Photos", "Skipping Photos")},
    };
}

Texts postpopulatedSummaries(const Choices &c, const Results &r)
{
    Texts texts;
    if (!c.apps) texts.append({QStringLiteral("apps"), vtrLocalized("Skipped Apps")});
    if (!c.contacts) {
        texts.append({QStringLiteral("contacts"), vtrLocalized("Skipped Contacts")});
    } else {
        const QVariantMap &m = r.contactManifest;
        texts.append({QStringLiteral("contacts"),
                      fill("%@ %@", {countText(r.numConSuccess, m.value(QStringLiteral("contact_cnt")), r.contactsSent),
                                     titleOr(m, QStringLiteral("title"), "Contacts")})});
    }
    if (!c.calendars) {
        texts.append({QStringLiteral("calendars"), vtrLocalized("Skipped Calendars")});
    } else {
        const QVariantMap &m = r.eventManifest;
        texts.append({QStringLiteral("calendars"),
                      fill("%@ %@ in %@ %@", {countText(r.numEvSuccess, m.value(QStringLiteral("event_cnt")), r.calendarsSent),
                                              titleOr(m, QStringLiteral("title"), "Events"),
                                              countText(r.numCalSuccess, m.value(QStringLiteral("calendar_cnt")), r.calendarsSent),
                                              titleOr(m, QStringLiteral("calendar_title"), "Calendars")})});
    }
    if (!c.music) texts.append({QStringLiteral("music"), vtrLocalized("Skipped Music")});
    if (!c.videos) texts.append({QStringLiteral("videos"), vtrLocalized("Skipped Videos")});
    if (!c.photos) texts.append({QStringLiteral("photos"), vtrLocalized("Skipped Photos")});
    return texts;
}

}  // namespace vtrsummaries

// ---- the controller's seat ------------------------------------------------------

namespace {

vtrsummaries::Choices choicesOf(const NS_AppController &c, int appCount)
{
    vtrsummaries::Choices choices;
    choices.apps = c.appsEnabled() && c.appsValue();
    choices.contacts = c.contactsEnabled() && c.contactsValue();
    choices.calendars = c.calendarsEnabled() && c.calendarsValue();
    choices.music = c.musicEnabled() && c.musicValue();
    choices.videos = c.videosEnabled() && c.videosValue();
    choices.photos = c.photosEnabled() && c.photosValue();
    choices.appCount = appCount;
    return choices;
}

void store(NS_AppController &c, const vtrsummaries::Texts &texts)
{
    for (const auto &[kind, text] : texts) {
        if (kind == QLatin1String("apps")) c.setAppsSummary(text);
        else if (kind == QLatin1String("contacts")) c.setContactsSummary(text);
        else if (kind == QLatin1String("calendars")) c.setCalendarSummary(text);
        else if (kind == QLatin1String("music")) c.setMusicSummary(text);
        else if (kind == QLatin1String("videos")) c.setVideosSummary(text);
        else if (kind == QLatin1String("photos")) c.setPhotosSummary(text);
    }
}

QVariantMap manifestOf(const NS_AppController &c, NS_AppController::ManifestKind kind)
{
    const std::shared_ptr<ManifestInfoSource> source = c.manifestSource(kind);
    return source ? source->manifestInfo() : QVariantMap();
}

}  // namespace

NS_AppControllerSummaries::NS_AppControllerSummaries(NS_AppController &controller)
    : m_appList(std::make_unique<AppReferralList>(&controller))
{
    m_appList->setScanAppsDone([&controller] { controller.scanAppsDone(); });
    AppReferralList *list = m_appList.get();
    QObject::connect(list, &AppReferralList::appListChanged, &controller, [&controller, list] {
        QStringList rows;
        for (const std::unique_ptr<AppsearchApp> &app : list->apps()) {
            QStringList similar;
            for (const QVariant &s : app->similarApps())
                similar.append(s.toMap().value(QStringLiteral("appName")).toString());
            similar.removeAll(QString());
            rows.append(similar.isEmpty() ? app->sourceAppName()
                                          : QStringLiteral("%1: %2").arg(app->sourceAppName(), similar.join(QStringLiteral(", "))));
        }
        controller.showAppReferrals(rows);
    });
}

NS_AppControllerSummaries::~NS_AppControllerSummaries() = default;

void NS_AppControllerSummaries::buildCheckboxTitles(NS_AppController &controller, bool canMigrateMedia)
{
    vtrsummaries::buildCheckboxTitles(canMigrateMedia,
                                      [&controller](const QVariantMap &titles) { controller.setCheckboxTitles(titles); });
}

void NS_AppControllerSummaries::prepopulateSummary(NS_AppController &c)
{
    c.setAppsSummaryDone(QString());
    c.setCalendarSummaryDone(QString());
    c.setContactsSummaryDone(QString());
    c.setMusicSummaryDone(QString());
    c.setPhotosSummaryDone(QString());
    c.setVideosSummaryDone(QString());
    store(c, vtrsummaries::prepopulatedSummaries(choicesOf(c, appListCount())));
    c.updateTimeEstimate();
}

void NS_AppControllerSummaries::postpopulateSummary(NS_AppController &c)
{
    vtrsummaries::Results results;
    results.numConSuccess = c.numConSuccess();
    results.numCalSuccess = c.numCalSuccess();
    results.numEvSuccess = c.numEvSuccess();
    results.contactManifest = manifestOf(c, NS_AppController::ManifestKind::Contacts);
    results.eventManifest = manifestOf(c, NS_AppController::ManifestKind::Events);
    // A kind that went nowhere, or that had nothing in it and so no outcome,
    // counts what was read: no upload told how many of it arrived.
    auto sent = [&c](const QString &phase) {
        const NS_AppController::Outcome outcome = c.kindResult(phase).outcome;
        return outcome != NS_AppController::Outcome::NotMoved &&
               !(outcome == NS_AppController::Outcome::Pending && c.kindHeldNothing(phase));
    };
    results.contactsSent = sent(vtrphase::Contacts);
    results.calendarsSent = sent(vtrphase::Events);
    const vtrsummaries::Choices choices = choicesOf(c, appListCount());
    store(c, vtrsummaries::postpopulatedSummaries(choices, results));
    c.markSummaryLines();
}

int NS_AppControllerSummaries::appListCount() const { return m_appList->count(); }
bool NS_AppControllerSummaries::shouldDoIPhoneAppReferral() const { return m_appList->shouldDoIPhoneAppReferral(); }
bool NS_AppControllerSummaries::shouldDoBlackberryAppReferral() const
{
    return m_appList->shouldDoBlackberryAppReferral();
}
bool NS_AppControllerSummaries::shouldDoAndroidAppReferral() const { return m_appList->shouldDoAndroidAppReferral(); }

namespace vtrapp {

void installLiveAndSummaries(NS_AppController &controller)
{
    controller.setLiveUploadDriver(std::make_unique<NS_AppControllerLiveDriver>(controller));
    controller.setSummaries(std::make_unique<NS_AppControllerSummaries>(controller));
}

}  // namespace vtrapp
