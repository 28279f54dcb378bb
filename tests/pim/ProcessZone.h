#pragma once

#include "ZoneScope.h"

#include "foundation/VtrCalendarDate.h"

#include <QTimeZone>

// The process's zone (TZ) and the default zone, for one scope.
class ProcessZone
{
public:
    explicit ProcessZone(const char *id) : m_zone(id) { vtr::setDefaultTimeZone(QTimeZone(id)); }
    ~ProcessZone() { vtr::setDefaultTimeZone(QTimeZone()); }
    ProcessZone(const ProcessZone &) = delete;
    ProcessZone &operator=(const ProcessZone &) = delete;

private:
    ZoneScope m_zone;
};
