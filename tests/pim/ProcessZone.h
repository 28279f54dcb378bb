#pragma once

#include "foundation/VtrCalendarDate.h"

#include <QByteArray>
#include <QTimeZone>

#include <time.h>

// The process's zone (TZ) and the default zone, for one scope.
class ProcessZone
{
public:
    explicit ProcessZone(const char *id) : m_old(qgetenv("TZ"))
    {
        qputenv("TZ", id);
        tzset();
        vtr::setDefaultTimeZone(QTimeZone(id));
    }
    ~ProcessZone()
    {
        if (m_old.isNull())
            qunsetenv("TZ");
        else
            qputenv("TZ", m_old);
        tzset();
        vtr::setDefaultTimeZone(QTimeZone());
    }
    ProcessZone(const ProcessZone &) = delete;
    ProcessZone &operator=(const ProcessZone &) = delete;

private:
    QByteArray m_old;
};
