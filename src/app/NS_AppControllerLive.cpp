#include "app/NS_AppControllerLive.h"

#include "app/NS_AppController.h"

#include "foundation/Log.h"
#include "foundation/MigrationStatus.h"
#include "online/LiveCalendars.h"
#include "online/LiveContacts.h"
#include "online/LiveSession.h"
#include "platform/Strings.h"
#include "platform/UserDefaults.h"

#include <QTimeZone>
#include <QWidget>

#include <algorithm>
#include <climits>

namespace {

const QString kForceLiveMaxKey = QStringLiteral("forceLiveMax");
const QString kEventsKey = QStringLiteral("events");
const QString kStartTimeKey = QStringLiteral("start_time");

QString withLimit(const char *text, int limit)
{
    return vtrLocalized(text).replace(QStringLiteral("%1$d"), QString::number(limit));
}

}  // namespace

void WindowsLiveUpload::DeleteLater::operator()(QObject *object) const
{
    if (object) object->deleteLater();
}

WindowsLiveUpload::Limits WindowsLiveUpload::limits()
{
    Limits limits;
    if (!platform::UserDefaults::contains(kForceLiveMaxKey)) return limits;
    const QVariant value = platform::UserDefaults::value(kForceLiveMaxKey);
    qint64 forced = value.toLongLong();
    if (forced < 0) {
        VTR_LOG(1, QStringLiteral("The user default forceLiveMax is negative (%1); 0 is used.").arg(forced));
        forced = 0;
    }
    forced = std::min<qint64>(forced, INT_MAX);
    limits.contacts = limits.calendarItems = int(forced);
    VTR_LOG(0, QStringLiteral("Using Windows Live limit of %1 from user defaults. Use 'defaults write "
                              "com.vantrel.solvennawindowsphone forceLiveMax [n]' to change the limit to [n] contacts, "
                              "calendars and API calls, or 'defaults delete com.vantrel.solvennawindowsphone "
                              "forceLiveMax' to use the compiled limit.")
                   .arg(forced));
    return limits;
}

QDateTime WindowsLiveUpload::eventStart(const QVariantMap &event)
{
    // "2011-06-01T09:30:00-0700": Qt's ISO reading takes the offset with or
    // without its colon, and reads a zero offset ("+0000", "Z") as UTC. A
    // time without any offset names no instant.
    const QString text = event.value(kStartTimeKey).toString();
    if (text.size() < 20) return {};
    const QDateTime start = QDateTime::fromString(text, Qt::ISODate);
    if (!start.isValid()) return {};
    return start.timeSpec() == Qt::OffsetFromUTC || start.timeSpec() == Qt::UTC ? start : QDateTime();
}

void WindowsLiveUpload::pruneCalendars(QVariantList &calendars, int limit, const QDateTime &now)
{
    VTR_LOG(0, QStringLiteral("Pruning calendars start"));
    limit = std::max(limit, 0);
    struct Slot
    {
        int calendar;
        int event;
        qint64 start;  // ms since the epoch; events without a readable start sort as the oldest
    };
    std::vector<Slot> slots;
    for (int c = 0; c < calendars.size(); ++c) {
        const QVariantList events = calendars.at(c).toMap().value(kEventsKey).toList();
        for (int e = 0; e < events.size(); ++e) {
            const QDateTime start = eventStart(events.at(e).toMap());
            slots.push_back({c, e, start.isValid() ? start.toMSecsSinceEpoch() : LLONG_MIN});
        }
    }
    // Latest first; equal starts keep their calendar order.
    std::stable_sort(slots.begin(), slots.end(), [](const Slot &a, const Slot &b) { return a.start > b.start; });
    const qint64 nowMs = now.toMSecsSinceEpoch();
    size_t first = 0;
    while (first + size_t(limit) < slots.size() && slots[first + size_t(limit)].start > nowMs) ++first;

    // Two identical events are two events: what goes is chosen by position.
    std::vector<std::vector<bool>> keep(size_t(calendars.size()));
    for (int c = 0; c < calendars.size(); ++c)
        keep[size_t(c)].assign(size_t(calendars.at(c).toMap().value(kEventsKey).toList().size()), false);
    for (size_t i = first; i < slots.size() && i < first + size_t(limit); ++i)
        keep[size_t(slots[i].calendar)][size_t(slots[i].event)] = true;
    for (int c = 0; c < calendars.size(); ++c) {
        QVariantMap calendar = calendars.at(c).toMap();
        if (!calendar.contains(kEventsKey)) continue;
        const QVariantList events = calendar.value(kEventsKey).toList();
        QVariantList kept;
        for (int e = 0; e < events.size(); ++e)
            if (keep[size_t(c)][size_t(e)]) kept.append(events.at(e));
        calendar.insert(kEventsKey, kept);
        calendars[c] = calendar;
    }
    VTR_LOG(0, QStringLiteral("Pruning calendars end"));
}

WindowsLiveUpload::WindowsLiveUpload(WindowsLiveHost &host, QObject *parent)
    : QObject(parent),
      m_host(host),
      m_sessionFactory([](QWidget *window) { return std::make_unique<LiveSession>(window); })
{
}

WindowsLiveUpload::~WindowsLiveUpload() = default;

void WindowsLiveUpload::checkAndWarnCalendarContactCounts()
{
    const Limits limit = limits();
    if (contactsChosen()) {
        const qint64 count = m_host.contacts().size();
        if (count > limit.contacts) {
            const LimitAnswer answer = askAboutLimit(
                "Total Contacts Exceeds Windows Live Limit",
                "Windows Live currently supports the ability to manage a total of %1$d contacts in your Live "
                "account. It is recommended that you transfer your contact information at a later time. IF "
                "YOU CHOOSE TO CONTINUE, DATA LOSS WILL OCCUR BEYOND %1$d TOTAL CONTACTS.",
                "Skip Contacts", limit.contacts);
            if (answer == LimitAnswer::Quit) return;
            if (answer == LimitAnswer::Continue) {
                VTR_LOG(0, QStringLiteral("Proceeding with %1 contacts, maxContacts = %2").arg(count).arg(limit.contacts));
            } else {
                m_host.setContactsValue(false);
                m_host.setContactsEnabled(false);
            }
        }
    }
    if (calendarsChosen()) {
        QVariantList calendars = m_host.calendars();
        qint64 items = 0;
        for (const QVariant &calendar : calendars) items += calendar.toMap().value(kEventsKey).toList().size();
        if (items > limit.calendarItems) {
            const LimitAnswer answer = askAboutLimit(
                "Total Calendars/Events Exceeds Windows Live Limit",
                "Windows Live currently supports the ability to manage a total of %1$d calendars and events "
                "in your Live account. It is recommended that you transfer your calendar and events "
                "information at a later time. IF YOU CHOOSE TO CONTINUE, DATA LOSS WILL OCCUR BEYOND %1$d "
                "TOTAL CALENDAR/EVENT ITEMS.",
                "Skip Calendars", limit.calendarItems);
            if (answer == LimitAnswer::Quit) return;
            if (answer == LimitAnswer::Continue) {
                VTR_LOG(0, QStringLiteral("Proceeding with %1 calendars, maxCalendars = %2")
                               .arg(items)
                               .arg(limit.calendarItems));
                pruneCalendars(calendars, limit.calendarItems);
                m_host.stowCalendars(calendars);
            } else {
                m_host.setCalendarsValue(false);
                m_host.setCalendarsEnabled(false);
            }
        }
    }
}

WindowsLiveUpload::LimitAnswer WindowsLiveUpload::askAboutLimit(const char *title, const char *text,
                                                                const char *skipButton, int limit)
{
    const int answer =
        m_host.runCriticalAlert(vtrLocalized(title), withLimit(text, limit),
                                {vtrLocalized(skipButton), vtrLocalized("Quit"), vtrLocalized("Continue Anyway")});
    if (answer == 1) {
        m_host.terminate();
        return LimitAnswer::Quit;
    }
    return answer == 2 ? LimitAnswer::Continue : LimitAnswer::Skip;
}

void WindowsLiveUpload::startNextLiveUpload()
{
    if (!m_session) m_session.reset(m_sessionFactory(m_host.mainWindow()).release());
    switch (m_host.livePIMState()) {
    case 0: {
        m_host.setStatus(QString(), vtrphase::Contacts, 0.0);
        const QVariantList contacts = contactsChosen() ? m_host.contacts() : QVariantList();
        m_contactsSent = int(contacts.size());
        m_contacts.reset(new LiveContacts(contacts, m_session.get(), this));
        m_contacts->startSendingContacts();
        break;
    }
    case 1: {
        m_host.setStatus(QString(), vtrphase::Events, 0.0);
        const QVariantList calendars = calendarsChosen() ? m_host.calendars() : QVariantList();
        m_calendarsSent = int(calendars.size());
        m_eventsSent = 0;
        for (const QVariant &calendar : calendars) m_eventsSent += int(calendar.toMap().value(kEventsKey).toList().size());
        m_calendars.reset(new LiveCalendars(calendars, m_session.get(), this));
        m_calendars->startSendingCalendars();
        break;
    }
    default:
        if (calendarsChosen()) m_host.setStatus(QString(), vtrphase::Events, 1.0);
        if (contactsChosen()) m_host.setStatus(QString(), vtrphase::Contacts, 1.0);
        m_session.reset();
        m_host.gotoNextState();
        break;
    }
}

void WindowsLiveUpload::liveProgressUpdate(float fraction)
{
    switch (m_host.livePIMState()) {
    case 0: m_host.setStatus(QString(), vtrphase::Contacts, fraction); break;
    case 1: m_host.setStatus(QString(), vtrphase::Events, fraction); break;
    default: break;
    }
}

void WindowsLiveUpload::liveOperationComplete()
{
    const int state = m_host.livePIMState();
    auto notSent = [](int missing) {
        return vtrLocalized("%@ could not be uploaded to Windows Live.").replace(QStringLiteral("%@"), QString::number(missing));
    };
    if (state == 0 && m_contacts) {
        const quint32 sent = m_contacts->numSuccess();
        m_host.setNumConSuccess(sent);
        if (contactsChosen())
            m_host.setUploadResult(vtrphase::Contacts, int(sent) >= m_contactsSent, notSent(m_contactsSent - int(sent)));
        m_contacts.reset();
    } else if (state == 1 && m_calendars) {
        const quint32 calendars = m_calendars->numCalSuccess();
        const quint32 events = m_calendars->numEvSuccess();
        m_host.setNumCalSuccess(calendars);
        m_host.setNumEvSuccess(events);
        const int missing = std::max(0, m_calendarsSent - int(calendars)) + std::max(0, m_eventsSent - int(events));
        if (calendarsChosen()) m_host.setUploadResult(vtrphase::Events, missing == 0, notSent(missing));
        m_calendars.reset();
    }
    m_host.setLivePIMState(state + 1);
    startNextLiveUpload();
}

void WindowsLiveUpload::liveUserCancelled()
{
    dropUploaders();
    m_host.setCalendarsValue(false);
    m_host.setContactsValue(false);
    m_host.setLivePIMState(2);
    startNextLiveUpload();
}

void WindowsLiveUpload::dropUploaders()
{
    m_contacts.reset();
    m_calendars.reset();
}

// ---- the controller's seat ------------------------------------------------------

NS_AppControllerLiveDriver::NS_AppControllerLiveDriver(NS_AppController &controller)
    : m_controller(controller), m_upload(*this)
{
}

NS_AppControllerLiveDriver::~NS_AppControllerLiveDriver() = default;

void NS_AppControllerLiveDriver::checkAndWarnCalendarContactCounts(NS_AppController &)
{
    m_upload.checkAndWarnCalendarContactCounts();
}

void NS_AppControllerLiveDriver::startNextLiveUpload(NS_AppController &)
{
    m_upload.startNextLiveUpload();
}

bool NS_AppControllerLiveDriver::contactsEnabled() const { return m_controller.contactsEnabled(); }
bool NS_AppControllerLiveDriver::contactsValue() const { return m_controller.contactsValue(); }
bool NS_AppControllerLiveDriver::calendarsEnabled() const { return m_controller.calendarsEnabled(); }
bool NS_AppControllerLiveDriver::calendarsValue() const { return m_controller.calendarsValue(); }
void NS_AppControllerLiveDriver::setContactsEnabled(bool value) { m_controller.setContactsEnabled(value); }
void NS_AppControllerLiveDriver::setContactsValue(bool value) { m_controller.setContactsValue(value); }
void NS_AppControllerLiveDriver::setCalendarsEnabled(bool value) { m_controller.setCalendarsEnabled(value); }
void NS_AppControllerLiveDriver::setCalendarsValue(bool value) { m_controller.setCalendarsValue(value); }
QVariantList NS_AppControllerLiveDriver::contacts() const { return m_controller.contacts(); }
QVariantList NS_AppControllerLiveDriver::calendars() const { return m_controller.calendars(); }
void NS_AppControllerLiveDriver::stowCalendars(const QVariantList &calendars) { m_controller.stowCalendars(calendars); }
int NS_AppControllerLiveDriver::livePIMState() const { return m_controller.livePIMState(); }
void NS_AppControllerLiveDriver::setLivePIMState(int state) { m_controller.setLivePIMState(state); }
void NS_AppControllerLiveDriver::setNumConSuccess(quint32 count) { m_controller.setNumConSuccess(count); }
void NS_AppControllerLiveDriver::setNumCalSuccess(quint32 count) { m_controller.setNumCalSuccess(count); }
void NS_AppControllerLiveDriver::setNumEvSuccess(quint32 count) { m_controller.setNumEvSuccess(count); }

void NS_AppControllerLiveDriver::setUploadResult(const QString &phase, bool allSent, const QString &reason)
{
    // A kind whose data could not be read keeps saying so: nothing was sent.
    if (allSent && m_controller.kindResult(phase).outcome == NS_AppController::Outcome::NotMoved) return;
    // The line also names what the reader could not read at all (its
    // manifest's "note"); with nothing read besides, nothing was moved.
    const bool contacts = phase == vtrphase::Contacts;
    const auto reader = m_controller.manifestSource(contacts ? NS_AppController::ManifestKind::Contacts
                                                             : NS_AppController::ManifestKind::Events);
    const QVariantMap read = reader ? reader->manifestInfo() : QVariantMap();
    const QString note = read.value(QStringLiteral("note")).toString();
    QStringList notes;
    if (!allSent) notes << (note.isEmpty() || !reason.endsWith(QLatin1Char('.')) ? reason : reason.chopped(1));
    if (!note.isEmpty()) notes << note;
    const bool nothingRead = read.value(contacts ? QStringLiteral("contact_cnt") : QStringLiteral("event_cnt")).toInt() == 0;
    m_controller.setKindResult(phase,
                               !allSent                          ? NS_AppController::Outcome::Failed
                               : nothingRead && !note.isEmpty() ? NS_AppController::Outcome::NotMoved
                                                                : NS_AppController::Outcome::Written,
                               notes.join(QStringLiteral("; ")));
}

int NS_AppControllerLiveDriver::runCriticalAlert(const QString &title, const QString &text, const QStringList &buttons)
{
    AlertRequest request;
    request.messageText = title;
    request.informativeText = text;
    request.buttons = buttons;
    request.style = AlertRequest::Style::Critical;
    return m_controller.runAlert(request);
}

void NS_AppControllerLiveDriver::terminate() { m_controller.terminate(); }

void NS_AppControllerLiveDriver::setStatus(const QString &status, const QString &phase, double percent)
{
    m_controller.setStatus(status, phase, percent);
}

void NS_AppControllerLiveDriver::gotoNextState() { m_controller.gotoNextState(); }

QWidget *NS_AppControllerLiveDriver::mainWindow() const
{
    return m_controller.view() ? m_controller.view()->window() : nullptr;
}
