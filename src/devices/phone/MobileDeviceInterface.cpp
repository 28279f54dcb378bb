#include "devices/phone/MobileDeviceInterface.h"

#include "platform/MainThread.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

void MobileDeviceDelegate::deviceWasDisconnected(MobileDevice *) {}

MobileDeviceInterface::MobileDeviceInterface(QObject *parent) : QObject(parent)
{
    // Notices are queued to the object's thread; views live on the main
    // thread, so the object must too, wherever it was made.
    QCoreApplication *app = QCoreApplication::instance();
    if (!parent && app && thread() != app->thread()) moveToThread(app->thread());
}

MobileDeviceInterface::~MobileDeviceInterface() = default;

void MobileDeviceInterface::postChangeNotice(ChangeSignal signal)
{
    if (platform::isMainThread() && (!QCoreApplication::instance() || thread() == QThread::currentThread())) {
        Q_EMIT(this->*signal)();
        return;
    }
    postChangeNoticeLater(signal);
}

void MobileDeviceInterface::postChangeNoticeLater(ChangeSignal signal)
{
    if (!QCoreApplication::instance()) {
        Q_EMIT(this->*signal)();
        return;
    }
    // The context object drops the call when this object is destroyed first.
    QMetaObject::invokeMethod(
        this, [this, signal] { Q_EMIT(this->*signal)
                               (); }, Qt::QueuedConnection);
}
