#pragma once

#include <QString>
#include <QVariantMap>

#include <memory>

class NS_AppController;

// The seams through which the wizard's states reach work that lives in other
// parts of the application. The controller holds one object per seam; the
// stand-ins of WizardStandIns.h fill the seams until the real work is in
// place, and tests put fakes there.

// The checks of the welcome state and of the iPhone backup advice, each with
// its alert (the environment checks).
class EnvironmentChecks
{
public:
    virtual ~EnvironmentChecks() = default;
    // State 1: the photo library, the internet, the program that grabs
    // Android phones, in that order.
    virtual void runWelcomeChecks(NS_AppController &controller) = 0;
    // State 3: the iCloud accounts.
    virtual void runICloudCheck(NS_AppController &controller) = 0;
    // Leaving state 2, once the old phone's family (1 Android, 2 Apple,
    // 3 BlackBerry) is known: the library folders that the family's media
    // are filed into. False when the person quit.
    virtual bool runLibraryChecks(NS_AppController &controller, int family) = 0;
};

// The background jobs of states 11, 12, 13 and 19 and the media migrators they
// work with. Each starter runs on the main thread, starts its job and returns
// at once; the job's completion moves the wizard on (gotoNextState) or ends
// it with its alert.
class WizardJobs
{
public:
    virtual ~WizardJobs() = default;
    // State 13, before the backup: (re)creates the three media migrators for
    // the old phone's family (1 Android, 2 Apple, 3 BlackBerry; none for
    // another), releasing earlier ones.
    virtual void createMediaMigrators(NS_AppController &controller, int family) = 0;
    virtual void scanApps(NS_AppController &controller) = 0;
    virtual void startTransferPIMFromOldDevice(NS_AppController &controller) = 0;
    virtual void backupOldDevice(NS_AppController &controller) = 0;
    virtual void startTransferMediaToNewDevice(NS_AppController &controller) = 0;
    // The one-step transfer with these options (calendars, contacts, then the
    // media within the budget); on success the report is written. False when
    // it could not start (one runs already, or no new phone).
    virtual bool generate(NS_AppController &controller) { (void)controller; return false; }
    // What the copy of a media kind (0 music, 1 photos, 2 videos) has ahead
    // of it: the backed-up bytes and files.
    struct MediaWork
    {
        qint64 bytes = 0;
        int files = 0;
    };
    virtual MediaWork mediaWork(int kind) const { (void)kind; return {}; }
    // A chosen media kind has backed-up items: the one-step transfer has
    // something to copy.
    virtual bool hasMediaToCopy(const NS_AppController &controller) const { (void)controller; return false; }
};

// The Windows Live states 17 and 18.
class LiveUploadDriver
{
public:
    virtual ~LiveUploadDriver() = default;
    virtual void checkAndWarnCalendarContactCounts(NS_AppController &controller) = 0;
    virtual void startNextLiveUpload(NS_AppController &controller) = 0;
};

// The check-box titles and the summary passes of states 9, 10, 16 and 20,
// and the app referral's answers the state table asks.
class WizardSummaries
{
public:
    virtual ~WizardSummaries() = default;
    virtual void buildCheckboxTitles(NS_AppController &controller, bool canMigrateMedia) = 0;
    virtual void prepopulateSummary(NS_AppController &controller) = 0;
    virtual void postpopulateSummary(NS_AppController &controller) = 0;
    // Entries of the recommended-apps list.
    virtual int appListCount() const = 0;
    virtual bool shouldDoIPhoneAppReferral() const = 0;
    virtual bool shouldDoBlackberryAppReferral() const = 0;
    virtual bool shouldDoAndroidAppReferral() const = 0;
};

// The Android companion app (state 7 installs it, state 8 waits for it). Both
// calls block (they run a tool or read the phone): the controller makes them
// on a background job, never on the main thread.
class CompanionApp
{
public:
    enum class Progress { Done, NotYet, PhoneUnreadable };
    virtual ~CompanionApp() = default;
    virtual bool pushApk() = 0;
    virtual bool apkIsDone() = 0;
    // Whether the app has finished, and, when it has not, whether the phone
    // could be read at all (a locked phone or a failing listing shows nothing).
    virtual Progress apkProgress() { return apkIsDone() ? Progress::Done : Progress::NotYet; }
};

// Whatever the status sink quotes in a kind's summary line: the contact and
// event readers and the three media migrators ("manifestInfo").
class ManifestInfoSource
{
public:
    virtual ~ManifestInfoSource() = default;
    virtual QVariantMap manifestInfo() const = 0;
    // What the old phone holds of the kind, as it was read; a media kind's
    // manifest counts what its copy put into the new phone's folder instead.
    virtual QVariantMap heldInfo() const { return manifestInfo(); }
};
