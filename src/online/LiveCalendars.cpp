#include "online/LiveCalendars.h"

#include "foundation/Log.h"

namespace {
const QString kCalendarsObject = QStringLiteral("me/calendars");
const QString kEventsKey = QStringLiteral("events");
}

LiveCalendars::LiveCalendars(QVariantList calendars, LiveSession *session, LiveDelegate *delegate, QObject *parent)
    : LiveUploader(session, delegate, parent), m_calendars(std::move(calendars))
{
}

bool LiveCalendars::isUsableCalendarID(const QString &id)
{
    if (id.isEmpty() || id.size() > 512 || id == QLatin1String(".") || id == QLatin1String("..")) return false;
    for (QChar c : id)
        if (c.unicode() < 0x21 || c.unicode() == 0x7F || c == QLatin1Char('/') || c == QLatin1Char('\\') ||
            c == QLatin1Char('?') || c == QLatin1Char('#') || c == QLatin1Char('%'))
            return false;
    return true;
}

QVariantList LiveCalendars::eventsOf(int calendar) const
{
    return m_calendars.at(calendar).toMap().value(kEventsKey).toList();
}

void LiveCalendars::startSendingCalendars()
{
    int items = int(m_calendars.size());
    for (int i = 0; i < m_calendars.size(); ++i) items += int(eventsOf(i).size());
    beginUpload("Starting calendar upload while upload is already in progress!", items);
    m_calendar = 0;
    m_event = -1;
    m_numCalSuccess = m_numEvSuccess = m_numCalFailed = m_numEvFailed = 0;
    sendNext();
}

void LiveCalendars::dropRemainingEvents()
{
    const int left = int(eventsOf(m_calendar).size()) - std::max(m_event, 0);
    if (left <= 0) return;
    m_numEvFailed += quint32(left);
    answered(left);
}

void LiveCalendars::sendNext()
{
    while (m_calendar < m_calendars.size()) {
        if (m_event < 0) {
            QVariantMap calendar = m_calendars.at(m_calendar).toMap();
            calendar.remove(kEventsKey);
            if (post(calendar, kCalendarsObject)) return;
            ++m_numCalFailed;
            answered();
            m_event = 0;
            dropRemainingEvents();
        } else {
            const QVariantList events = eventsOf(m_calendar);
            while (m_event < events.size()) {
                const QVariantMap event = events.at(m_event++).toMap();
                if (post(event, m_calendarID + QStringLiteral("/events"))) return;
                ++m_numEvFailed;
                answered();
            }
        }
        ++m_calendar;
        m_event = -1;
    }
    VTR_LOG(0, QStringLiteral("Windows Live: %1 calendars created, %2 events uploaded; %3 calendars and %4 events failed.")
                   .arg(m_numCalSuccess)
                   .arg(m_numEvSuccess)
                   .arg(m_numCalFailed)
                   .arg(m_numEvFailed));
    complete();
}

void LiveCalendars::liveSessionRequestFinished(const LiveReply &reply)
{
    if (!isRunning()) return;
    if (m_event < 0) {
        m_calendarID = reply.json.toMap().value(QStringLiteral("id")).toString();
        m_event = 0;
        if (reply.succeeded() && isUsableCalendarID(m_calendarID)) {
            ++m_numCalSuccess;
            answered();
        } else {
            if (reply.succeeded())
                VTR_LOG(1, QStringLiteral("Windows Live: a created calendar came back without a usable identifier."));
            ++m_numCalFailed;
            answered();
            dropRemainingEvents();
            m_event = int(eventsOf(m_calendar).size());
        }
    } else if (reply.succeeded()) {
        ++m_numEvSuccess;
        answered();
    } else {
        ++m_numEvFailed;
        answered();
    }
    sendNext();
}
