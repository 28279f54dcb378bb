#pragma once

#include <QDateTime>
#include <QString>
#include <QVariantMap>

// The phone's clock as one "get time" reply tells it: "utc" and, when the
// phone gives it, "local" as ST2 texts, and the time-zone offset in
// milliseconds under "offset", "__OFFSET" or "utcoffset".
class DeviceClock
{
public:
    explicit DeviceClock(QVariantMap time) : m_time(std::move(time)) {}

    // Seconds east of UTC; 0 when the reply gives none.
    static double timeZoneOffsetOf(const QVariantMap &time);
    double timeZoneOffset() const { return timeZoneOffsetOf(m_time); }
    // Invalid when the reply gives no readable time.
    QDateTime utcTime() const;
    QString utcTimeAsST2String() const;
    // The phone's wall-clock time, written as if it were UTC.
    QDateTime localTimeWithNoTZ() const;
    QString localTimeAsST2String() const;

private:
    QVariantMap m_time;
};
