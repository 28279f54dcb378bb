#pragma once

#include <QByteArray>

#include <time.h>

// The process's zone (TZ) for one scope; the zone it had comes back at the end.
class ZoneScope
{
public:
    explicit ZoneScope(const char *zone) : m_old(qgetenv("TZ")) { set(zone); }
    ~ZoneScope()
    {
        if (m_old.isNull())
            qunsetenv("TZ");
        else
            qputenv("TZ", m_old);
        tzset();
    }
    ZoneScope(const ZoneScope &) = delete;
    ZoneScope &operator=(const ZoneScope &) = delete;

    // Another zone within the same scope.
    void set(const char *zone)
    {
        qputenv("TZ", zone);
        tzset();
    }

private:
    QByteArray m_old;
};
