#include "VtrException.h"

VtrException::VtrException(QString name, QString reason, QVariantMap userInfo)
    : m_name(std::move(name)), m_reason(std::move(reason)), m_userInfo(std::move(userInfo)),
      m_what((m_name + QStringLiteral(": ") + m_reason).toStdString())
{
}
