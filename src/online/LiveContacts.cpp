#include "online/LiveContacts.h"

#include "foundation/Log.h"

namespace {
const QString kContactsObject = QStringLiteral("me/contacts");
}

LiveContacts::LiveContacts(QVariantList contacts, LiveSession *session, LiveDelegate *delegate, QObject *parent)
    : LiveUploader(session, delegate, parent), m_contacts(std::move(contacts))
{
}

void LiveContacts::startSendingContacts()
{
    beginUpload("Starting contact upload while upload is already in progress!", int(m_contacts.size()));
    m_next = 0;
    m_numSuccess = 0;
    m_numFailed = 0;
    sendNextContact();
}

void LiveContacts::sendNextContact()
{
    while (m_next < m_contacts.size()) {
        const QVariantMap body = m_contacts.at(m_next++).toMap();
        if (post(body, kContactsObject)) return;
        ++m_numFailed;
        answered();
    }
    VTR_LOG(0, QStringLiteral("Windows Live: %1 of %2 contacts uploaded.").arg(m_numSuccess).arg(m_contacts.size()));
    complete();
}

void LiveContacts::liveSessionRequestFinished(const LiveReply &reply)
{
    if (!isRunning()) return;
    if (reply.succeeded())
        ++m_numSuccess;
    else
        ++m_numFailed;
    answered();
    sendNextContact();
}
