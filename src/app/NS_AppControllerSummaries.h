#pragma once

#include "app/WizardInterfaces.h"

#include <QList>
#include <QPair>
#include <QString>
#include <QVariantMap>

#include <functional>
#include <memory>

class AppReferralList;

// The choose-data pane's check-box titles and the texts of the
// transfer-summary pane before and after the work. The texts are computed
// here; the controller stores them in its summary properties.
namespace vtrsummaries {

// Title by key ("calendars", "calendarsInfo", ... "videosInfo"); the "Info"
// titles of the media kinds say when this phone's media cannot be moved.
QVariantMap checkboxTitles(bool canMigrateMedia);

// Builds the titles and hands them to `store`, unless a build is already
// storing (an observer of the titles that sets a media choice does not
// rebuild them again). Main thread.
void buildCheckboxTitles(bool canMigrateMedia, const std::function<void(const QVariantMap &)> &store);

// Which kinds are chosen (enabled and ticked), and the app list's length.
struct Choices
{
    bool apps = false;
    bool contacts = false;
    bool calendars = false;
    bool music = false;
    bool videos = false;
    bool photos = false;
    int appCount = 0;
};

// What the upload and the readers report for the final texts.
struct Results
{
    quint32 numConSuccess = 0;
    quint32 numCalSuccess = 0;
    quint32 numEvSuccess = 0;
    QVariantMap contactManifest;  // the contact reader's "contact_cnt", "title"
    QVariantMap eventManifest;    // "event_cnt", "title", "calendar_cnt", "calendar_title"
    // False when the kind was read but not sent anywhere (deliberately, or
    // with nothing in it to send): its line then tells what was read, not
    // "0 of" it.
    bool contactsSent = true;
    bool calendarsSent = true;
};

// Summary property keys: "apps", "contacts", "calendars", "music", "videos", "photos".
using Texts = QList<QPair<QString, QString>>;

// The texts before the work, every kind, in the order apps, contacts,
// calendars, music, videos, photos.
Texts prepopulatedSummaries(const Choices &choices);
// The texts after the work, only for the kinds whose text changes: kinds not
// chosen are "Skipped ...", chosen contacts and calendars tell how many of
// how many moved; chosen apps and media keep their last text.
Texts postpopulatedSummaries(const Choices &choices, const Results &results);

}  // namespace vtrsummaries

// The wizard controller's summaries seat (states 9, 10, 16, 20): the texts
// above stored in the controller's properties, and the recommended-apps list
// whose length the apps summary and the referral questions use.
class NS_AppControllerSummaries final : public WizardSummaries
{
public:
    explicit NS_AppControllerSummaries(NS_AppController &controller);
    ~NS_AppControllerSummaries() override;

    void buildCheckboxTitles(NS_AppController &controller, bool canMigrateMedia) override;
    void prepopulateSummary(NS_AppController &controller) override;
    void postpopulateSummary(NS_AppController &controller) override;
    int appListCount() const override;
    bool shouldDoIPhoneAppReferral() const override;
    bool shouldDoBlackberryAppReferral() const override;
    bool shouldDoAndroidAppReferral() const override;

    AppReferralList &appList() { return *m_appList; }

private:
    std::unique_ptr<AppReferralList> m_appList;
};

namespace vtrapp {
// Seats the Windows Live upload and the summaries (with the app list) in the
// controller, in place of its stand-ins.
void installLiveAndSummaries(NS_AppController &controller);
}  // namespace vtrapp
