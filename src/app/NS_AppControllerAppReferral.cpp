#include "app/NS_AppControllerAppReferral.h"

#include "app/NS_AppController.h"
#include "devices/phone/AndroidDeviceClient.h"
#include "devices/phone/MobileDevice.h"
#include "devices/phone/MobileDeviceProxy.h"
#include "foundation/Log.h"
#include "foundation/MigrationStatus.h"
#include "platform/MainThread.h"
#include "sources/blackberry/BBAppList.h"
#include "sources/iphone/iOSAppListBackgrounder.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThread>

#include <algorithm>

AppReferralList::AppReferralList(MigrationStatusProtocol *status, QObject *parent)
    : QObject(parent), m_status(status), m_session(std::make_unique<QuixeySession>())
{
}

AppReferralList::~AppReferralList()
{
    // A list still being collected now reaches nobody.
    ++*m_generation;
}

void AppReferralList::reportApps(double percent)
{
    if (m_status) m_status->setStatusNow(QString(), vtrphase::Apps, percent);
}

void AppReferralList::prepareIPhoneAppReferral(Producer findIOSApps)
{
    prepare("iPhone", std::move(findIOSApps));
}

void AppReferralList::prepareAndroidAppReferral(Producer findAndroidApps)
{
    prepare("Android", std::move(findAndroidApps));
}

void AppReferralList::prepareBlackberryAppReferral(Producer findBBApps)
{
    prepare("BlackBerry", std::move(findBBApps));
}

void AppReferralList::prepare(const char *family, Producer producer)
{
    reportApps(-2.0);
    const quint64 mine = ++*m_generation;
    // The answer is checked against the generation on the main thread, where
    // this object also goes away, so a late answer cannot reach a dead list.
    std::weak_ptr<quint64> generation = m_generation;
    QThread *thread = QThread::create([this, family, producer = std::move(producer), generation, mine] {
        std::optional<QVariantList> apps;
        try {
            apps = producer();
        } catch (const std::exception &e) {
            VTR_LOG(2, QStringLiteral("The %1 app list could not be read: %2")
                           .arg(QLatin1String(family), QString::fromLocal8Bit(e.what())));
        } catch (...) {
            VTR_LOG(2, QStringLiteral("The %1 app list could not be read.").arg(QLatin1String(family)));
        }
        platform::runOnMain([this, generation, mine, apps] {
            const std::shared_ptr<quint64> current = generation.lock();
            if (!current || *current != mine) return;
            populateAppUI(apps);
        });
    });
    QObject::connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    thread->start();
}

void AppReferralList::populateAppUI(const std::optional<QVariantList> &list)
{
    if (!list || list->isEmpty()) {
        // Each preparation replaces the whole list: an earlier phone's apps
        // are not this phone's.
        if (!m_apps.empty()) {
            m_apps.clear();
            Q_EMIT appListChanged();
        }
        reportApps(1.0);
        if (m_scanAppsDone) m_scanAppsDone();
        return;
    }
    std::vector<std::unique_ptr<AppsearchApp>> apps;
    for (const QVariant &entry : *list) {
        const QVariantMap item = entry.toMap();
        const QVariant id = item.value(QStringLiteral("itemId"));
        // Store identifiers come as numbers: their decimal text, never "1.2e+08".
        const QString appID = id.typeId() == QMetaType::Double ? QString::number(id.toDouble(), 'f', 0) : id.toString();
        const QString name = item.value(QStringLiteral("itemName")).toString();
        std::unique_ptr<AppsearchApp> app =
            m_session ? m_session->appsearchAppWithAppName(name, appID) : std::unique_ptr<AppsearchApp>();
        if (app)
            apps.push_back(std::move(app));
        else
            VTR_LOG(0, QStringLiteral("Could not create AppsearchApp object for app: %1 ID: %2").arg(name, appID));
    }
    std::stable_sort(apps.begin(), apps.end(), [](const auto &a, const auto &b) {
        return a->sourceAppName().compare(b->sourceAppName(), Qt::CaseInsensitive) < 0;
    });
    m_apps = std::move(apps);
    Q_EMIT appListChanged();
    reportApps(1.0);
    if (m_scanAppsDone) m_scanAppsDone();
}

namespace vtrapp {

// The list's own thread runs the search: the finder answers the caller, not a
// delegate, and only the latest preparation's answer is taken in.
AppReferralList::Producer iPhoneAppListProducer()
{
    return []() -> std::optional<QVariantList> { return iOSAppListBackgrounder().findIOSApps(); };
}

AppReferralList::Producer blackberryAppListProducer()
{
    return [] { return BBAppList().findBBApps(); };
}

AppReferralList::Producer androidAppListProducer(NS_AppController &controller)
{
    QPointer<NS_AppController> wizard(&controller);
    std::shared_ptr<MobileDeviceInterface> oldPhone = controller.oldDeviceProxy();
    return [wizard, oldPhone]() -> std::optional<QVariantList> {
        // The controller's phones are main-thread state; the reading is not.
        std::shared_ptr<MobileDevice> held;
        MobileDevice *previous = nullptr;
        platform::runOnMainAndWait([&] {
            if (!wizard) return;
            previous = wizard->connectedMobileDevice();
            for (const std::shared_ptr<MobileDevice> &phone : {wizard->oldDevice(), wizard->newDevice()})
                if (phone && phone.get() == previous) held = phone;
            wizard->setConnectedMobileDevice(wizard->oldDevice().get());
        });
        auto restore = [&] {
            platform::runOnMainAndWait([&] {
                if (wizard) wizard->setConnectedMobileDevice(held ? held.get() : previous);
            });
        };
        std::optional<QVariantList> apps;
        try {
            apps = AndroidDeviceClient(oldPhone).findAndroidApps();
        } catch (...) {
            restore();
            throw;
        }
        restore();
        return apps;
    };
}

}  // namespace vtrapp
