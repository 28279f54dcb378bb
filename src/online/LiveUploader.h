#pragma once

#include "online/LiveDelegate.h"
#include "online/LiveSession.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariant>

// What the contact and calendar uploaders share: they become the session's
// delegate (without owning it), send one item at a time, count answers for
// the progress, and end with exactly one of the delegate's completion or
// cancel. Once a callback to the delegate has been made, the uploader touches
// nothing of itself, because the delegate may drop it there.
class LiveUploader : public QObject, public LiveSessionDelegate
{
    Q_OBJECT

public:
    ~LiveUploader() override;

    bool isRunning() const { return m_running; }

protected:
    LiveUploader(LiveSession *session, LiveDelegate *delegate, QObject *parent);

    // Raises `message` when running; else marks the upload as running.
    void beginUpload(const char *message, int totalItems);
    // Posts one item's JSON; false when the item cannot be written as JSON.
    bool post(const QVariantMap &body, const QString &object);
    // `count` more items are answered (or given up); reports the progress.
    void answered(int count = 1);
    // Ends the upload: the completion goes to the delegate (last call).
    void complete();

    void liveSessionUserCancelled() override;

private:
    QPointer<LiveSession> m_session;
    LiveDelegate *m_delegate;
    bool m_running = false;
    int m_total = 0;
    int m_answered = 0;
};
