#include "app/DeviceListNotification.h"

#include "foundation/Log.h"

#include <QDBusConnection>
#include <QDBusMessage>

namespace vtrapp {

bool postDeviceListNotification()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        VTR_LOG(4, QStringLiteral("No session bus: the device list update is not announced."));
        return false;
    }
    QDBusMessage signal = QDBusMessage::createSignal(QLatin1String(kDeviceListNotificationPath),
                                                     QLatin1String(kDeviceListNotificationName),
                                                     QLatin1String(kDeviceListNotificationMember));
    signal << QString::fromLatin1(kDeviceListNotificationObject);
    return bus.send(signal);
}

}  // namespace vtrapp
