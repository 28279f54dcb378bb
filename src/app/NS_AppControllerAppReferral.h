#pragma once

#include "online/AppsearchSession.h"

#include <QObject>
#include <QString>
#include <QVariantList>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class MigrationStatusProtocol;
class NS_AppController;

// The recommended-apps list: the old phone's apps, collected per phone family
// on a background thread, each turned into an app-search object and kept
// sorted by the old app's name (ascending, ignoring case).
//
// A list producer gives app items {"itemId" (number or text), "itemName"},
// or nullopt for "no list": the iPhone package search, the BlackBerry backup
// reader, or the Android companion app's list (the controller's producer
// makes the old phone the connected one around it). Only the latest
// preparation's list is shown: a late answer of an earlier one is dropped.
// A producer that throws counts as one that found nothing, so the wizard
// still moves on.
class AppReferralList : public QObject
{
    Q_OBJECT

public:
    using Producer = std::function<std::optional<QVariantList>()>;

    // `status` receives "Apps Phase" (not owned; may be null).
    explicit AppReferralList(MigrationStatusProtocol *status, QObject *parent = nullptr);
    ~AppReferralList() override;

    void setAppsearchSession(std::unique_ptr<AppsearchSession> session) { m_session = std::move(session); }
    AppsearchSession *appsearchSession() const { return m_session.get(); }
    // Called after every list has been taken in (the wizard's next step).
    void setScanAppsDone(std::function<void()> done) { m_scanAppsDone = std::move(done); }

    void prepareIPhoneAppReferral(Producer findIOSApps);
    void prepareAndroidAppReferral(Producer findAndroidApps);
    void prepareBlackberryAppReferral(Producer findBBApps);

    // Takes in a list (main thread): replaces the app list, reports "Apps
    // Phase" done and calls the scan-done hook.
    void populateAppUI(const std::optional<QVariantList> &apps);

    int count() const { return int(m_apps.size()); }
    const std::vector<std::unique_ptr<AppsearchApp>> &apps() const { return m_apps; }
    bool shouldDoIPhoneAppReferral() const { return count() > 0; }
    bool shouldDoAndroidAppReferral() const { return count() > 0; }
    bool shouldDoBlackberryAppReferral() const { return count() > 0; }

Q_SIGNALS:
    void appListChanged();

private:
    void prepare(const char *family, Producer producer);
    void reportApps(double percent);

    MigrationStatusProtocol *m_status;
    std::unique_ptr<AppsearchSession> m_session;
    std::function<void()> m_scanAppsDone;
    std::vector<std::unique_ptr<AppsearchApp>> m_apps;
    // Which preparation's answer is awaited; answers carry theirs.
    std::shared_ptr<quint64> m_generation = std::make_shared<quint64>(0);
};

namespace vtrapp {
// The iPhone list producer: the app packages kept with the music library,
// read by a finder of its own for each preparation.
AppReferralList::Producer iPhoneAppListProducer();
// The BlackBerry list producer: the apps of the newest desktop backup.
AppReferralList::Producer blackberryAppListProducer();
// The Android list producer of the wizard: the companion app's list read over
// the old phone, which is made the connected phone (on the main thread) for
// the time of the reading; the phone connected before is held and put back.
AppReferralList::Producer androidAppListProducer(NS_AppController &controller);
}  // namespace vtrapp
