#include "online/LiveUploader.h"

#include "foundation/Json.h"
#include "foundation/Log.h"
#include "platform/VtrException.h"

LiveUploader::LiveUploader(LiveSession *session, LiveDelegate *delegate, QObject *parent)
    : QObject(parent), m_session(session), m_delegate(delegate)
{
    if (session) session->setDelegate(this);
}

LiveUploader::~LiveUploader()
{
    if (m_session && m_session->delegate() == this) m_session->setDelegate(nullptr);
}

void LiveUploader::beginUpload(const char *message, int totalItems)
{
    if (m_running)
        throw VtrException(QStringLiteral("NSInternalInconsistencyException"), QString::fromLatin1(message));
    m_running = true;
    m_total = totalItems;
    m_answered = 0;
    if (m_session) m_session->setDelegate(this);
}

bool LiveUploader::post(const QVariantMap &body, const QString &object)
{
    const QString json = vtr::JSONRepresentation(body);
    if (json.isNull() || !m_session) {
        VTR_LOG(2, QStringLiteral("Windows Live: an item for %1 cannot be sent and is left out.").arg(object));
        return false;
    }
    m_session->postData(json.toUtf8(), object);
    return true;
}

void LiveUploader::answered(int count)
{
    m_answered += count;
    if (m_delegate && m_total > 0) m_delegate->liveProgressUpdate(float(m_answered) / float(m_total));
}

void LiveUploader::complete()
{
    m_running = false;
    if (LiveDelegate *delegate = m_delegate) delegate->liveOperationComplete();
}

void LiveUploader::liveSessionUserCancelled()
{
    m_running = false;
    if (LiveDelegate *delegate = m_delegate) delegate->liveUserCancelled();
}
