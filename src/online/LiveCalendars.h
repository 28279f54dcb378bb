#pragma once

#include "online/LiveUploader.h"

#include <QVariantList>

// Uploads calendar bodies to "me/calendars", each followed by its "events"
// to "<calendar id>/events", one request at a time, in order. The calendar is
// sent without its events; the identifier comes from its creation's answer.
// A calendar that cannot be created takes its events with it: they count as
// failed, as does every single failed request, and the upload goes on.
class LiveCalendars : public LiveUploader
{
    Q_OBJECT

public:
    LiveCalendars(QVariantList calendars, LiveSession *session, LiveDelegate *delegate, QObject *parent = nullptr);

    // Raises when already running. With nothing to send, the completion comes
    // from within this call.
    void startSendingCalendars();

    quint32 numCalSuccess() const { return m_numCalSuccess; }
    quint32 numEvSuccess() const { return m_numEvSuccess; }
    quint32 numCalFailed() const { return m_numCalFailed; }
    quint32 numEvFailed() const { return m_numEvFailed; }

    // An identifier that may stand in a request path: one path segment.
    static bool isUsableCalendarID(const QString &id);

protected:
    void liveSessionRequestFinished(const LiveReply &reply) override;

private:
    void sendNext();
    QVariantList eventsOf(int calendar) const;
    // The current calendar's remaining events count as failed.
    void dropRemainingEvents();

    QVariantList m_calendars;
    int m_calendar = 0;
    int m_event = -1;  // -1: the calendar itself is next or under way
    QString m_calendarID;
    quint32 m_numCalSuccess = 0;
    quint32 m_numEvSuccess = 0;
    quint32 m_numCalFailed = 0;
    quint32 m_numEvFailed = 0;
};
