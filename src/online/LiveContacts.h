#pragma once

#include "online/LiveUploader.h"

#include <QVariantList>

// Uploads contact bodies to "me/contacts" of a Live session, one request at a
// time, in order. A contact that fails (an error answer, a time-out, a body
// that cannot be written as JSON) is counted as failed and the upload goes on.
class LiveContacts : public LiveUploader
{
    Q_OBJECT

public:
    // `contacts`: the contact bodies (an empty list sends nothing). Becomes the
    // session's delegate; does not own the session.
    LiveContacts(QVariantList contacts, LiveSession *session, LiveDelegate *delegate, QObject *parent = nullptr);

    // Raises when already running. With nothing to send, the completion comes
    // from within this call.
    void startSendingContacts();

    quint32 numSuccess() const { return m_numSuccess; }
    quint32 numFailed() const { return m_numFailed; }

protected:
    void liveSessionRequestFinished(const LiveReply &reply) override;

private:
    void sendNextContact();

    QVariantList m_contacts;
    int m_next = 0;
    quint32 m_numSuccess = 0;
    quint32 m_numFailed = 0;
};
