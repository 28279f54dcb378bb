#pragma once

#include <QString>
#include <QVariantMap>

#include <exception>
#include <string>

// An application-layer failure: a name that callers match on
// ("StopSyncException", "DeviceException", ...) and a reason that can be
// shown to the user as it is.
class VtrException : public std::exception
{
public:
    VtrException(QString name, QString reason, QVariantMap userInfo = {});

    const QString &name() const noexcept { return m_name; }
    const QString &reason() const noexcept { return m_reason; }
    const QVariantMap &userInfo() const noexcept { return m_userInfo; }

    const char *what() const noexcept override { return m_what.c_str(); }

private:
    QString m_name;
    QString m_reason;
    QVariantMap m_userInfo;
    std::string m_what;
};
