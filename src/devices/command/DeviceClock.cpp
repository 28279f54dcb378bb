#include "devices/command/DeviceClock.h"

#include "devices/command/DeviceCommands.h"
#include "foundation/VtrCalendarDate.h"
#include "foundation/VtrDate.h"

#include <optional>

namespace {
QDateTime st2Date(const QVariant &text)
{
    const std::optional<VtrCalendarDate> date = VtrCalendarDate::dateTimeWithST2String(text.toString());
    return date ? date->instant().toUTC() : QDateTime();
}
} // namespace

double DeviceClock::timeZoneOffsetOf(const QVariantMap &time)
{
    for (const char *key : {"offset", "__OFFSET", "utcoffset"}) {
        const auto it = time.constFind(QLatin1String(key));
        if (it == time.constEnd()) continue;
        bool ok = false;
        const qint64 milliseconds = DeviceCommands::parseNumberText(*it, &ok);
        return ok ? double(milliseconds) / 1000.0 : 0.0;
    }
    return 0.0;
}

QDateTime DeviceClock::utcTime() const
{
    return st2Date(m_time.value(QStringLiteral("utc")));
}

QString DeviceClock::utcTimeAsST2String() const
{
    return m_time.value(QStringLiteral("utc")).toString();
}

QDateTime DeviceClock::localTimeWithNoTZ() const
{
    if (m_time.isEmpty()) return QDateTime();
    if (m_time.contains(QStringLiteral("local"))) return st2Date(m_time.value(QStringLiteral("local")));
    const QDateTime utc = utcTime();
    return utc.isValid() ? utc.addMSecs(qint64(timeZoneOffset() * 1000.0)) : QDateTime();
}

QString DeviceClock::localTimeAsST2String() const
{
    const QDateTime local = localTimeWithNoTZ();
    return local.isValid() ? vtr::st2String(local) : QString();
}
