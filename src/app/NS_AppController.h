#pragma once

#include "app/AppController.h"
#include "app/PropertyMacros.h"
#include "app/WizardInterfaces.h"

#include <QColor>
#include <QHash>
#include <QRect>
#include <QList>
#include <QString>
#include <QVariantMap>

#include <functional>
#include <map>
#include <memory>
#include <mutex>

class BackgroundJob;
class MobileDeviceProxy;
namespace vtrapp {
class PaneAreaLayout;
}
class NS_ScenesViewController;
class QAbstractButton;
class QCheckBox;
class QLabel;
class QMenuBar;
class QProgressBar;
class QPushButton;
class QTimer;

// The wizard: 23 states from the intro to the end, their scenes, the bottom
// buttons, the panes over the scenes (progress, choose-data, summaries, end
// buttons, recommended apps), the status sink with its bars and time estimate,
// and the reactions to the old phone's arrival and removal.
//
// Everything runs on the main thread except the status entries and the
// atomic properties, which any thread may use. No call on the main thread
// waits for a phone, a network host or a background job: blocking work runs
// on BackgroundJobs and comes back through their completions.
//
// An exception never leaves a slot, a button handler or a timer: it is
// caught there, logged and shown as an alert.
class NS_AppController : public AppController
{
    Q_OBJECT

    VTR_PROPERTY(bool, calendarsEnabled, CalendarsEnabled)
    VTR_PROPERTY(bool, contactsEnabled, ContactsEnabled)
    VTR_PROPERTY(bool, notesEnabled, NotesEnabled)
    VTR_PROPERTY(bool, tasksEnabled, TasksEnabled)
    VTR_PROPERTY(bool, musicEnabled, MusicEnabled)
    VTR_PROPERTY(bool, photosEnabled, PhotosEnabled)
    VTR_PROPERTY(bool, videosEnabled, VideosEnabled)
    VTR_PROPERTY(bool, appsEnabled, AppsEnabled)
    VTR_PROPERTY(bool, calendarsValue, CalendarsValue)
    VTR_PROPERTY(bool, contactsValue, ContactsValue)
    VTR_PROPERTY(bool, notesValue, NotesValue)
    VTR_PROPERTY(bool, tasksValue, TasksValue)
    VTR_PROPERTY(bool, appsValue, AppsValue)
    VTR_PROPERTY(bool, appsHidden, AppsHidden)
    VTR_PROPERTY(bool, appsIndeterminate, AppsIndeterminate)
    VTR_PROPERTY(bool, calendarIndeterminate, CalendarIndeterminate)
    VTR_PROPERTY(bool, contactsIndeterminate, ContactsIndeterminate)
    VTR_PROPERTY(bool, musicIndeterminate, MusicIndeterminate)
    VTR_PROPERTY(bool, photosIndeterminate, PhotosIndeterminate)
    VTR_PROPERTY(bool, videosIndeterminate, VideosIndeterminate)
    VTR_PROPERTY(bool, singleIndeterminate, SingleIndeterminate)
    VTR_PROPERTY(quint32, numConSuccess, NumConSuccess)
    VTR_PROPERTY(quint32, numCalSuccess, NumCalSuccess)
    VTR_PROPERTY(quint32, numEvSuccess, NumEvSuccess)
    VTR_PROPERTY(int, currentState, CurrentState)
    VTR_PROPERTY(int, livePIMState, LivePIMState)
    VTR_PROPERTY(QVariantMap, checkboxTitles, CheckboxTitles)
    VTR_PROPERTY(QColor, appReferralTextColor, AppReferralTextColor)
    VTR_ATOMIC_DOUBLE_PROPERTY(appsProgress, AppsProgress)
    VTR_ATOMIC_DOUBLE_PROPERTY(calendarProgress, CalendarProgress)
    VTR_ATOMIC_DOUBLE_PROPERTY(contactsProgress, ContactsProgress)
    VTR_ATOMIC_DOUBLE_PROPERTY(musicProgress, MusicProgress)
    VTR_ATOMIC_DOUBLE_PROPERTY(photosProgress, PhotosProgress)
    VTR_ATOMIC_DOUBLE_PROPERTY(videosProgress, VideosProgress)
    VTR_ATOMIC_DOUBLE_PROPERTY(singleProgress, SingleProgress)
    VTR_TEXT_PROPERTY(singleProgressText, SingleProgressText)
    VTR_TEXT_PROPERTY(timeEstimateText, TimeEstimateText)
    VTR_TEXT_PROPERTY(appsSummary, AppsSummary)
    VTR_TEXT_PROPERTY(calendarSummary, CalendarSummary)
    VTR_TEXT_PROPERTY(contactsSummary, ContactsSummary)
    VTR_TEXT_PROPERTY(musicSummary, MusicSummary)
    VTR_TEXT_PROPERTY(photosSummary, PhotosSummary)
    VTR_TEXT_PROPERTY(videosSummary, VideosSummary)
    VTR_TEXT_PROPERTY(appsSummaryDone, AppsSummaryDone)
    VTR_TEXT_PROPERTY(calendarSummaryDone, CalendarSummaryDone)
    VTR_TEXT_PROPERTY(contactsSummaryDone, ContactsSummaryDone)
    VTR_TEXT_PROPERTY(musicSummaryDone, MusicSummaryDone)
    VTR_TEXT_PROPERTY(photosSummaryDone, PhotosSummaryDone)
    VTR_TEXT_PROPERTY(videosSummaryDone, VideosSummaryDone)

    // The three media choices rebuild the check-box titles when they change.
    Q_PROPERTY(bool musicValue READ musicValue WRITE setMusicValue NOTIFY musicValueChanged)
    Q_PROPERTY(bool photosValue READ photosValue WRITE setPhotosValue NOTIFY photosValueChanged)
    Q_PROPERTY(bool videosValue READ videosValue WRITE setVideosValue NOTIFY videosValueChanged)
    Q_PROPERTY(QObject *oldDeviceProxy READ oldDeviceProxyObject CONSTANT)
    Q_PROPERTY(QObject *scenesViewController READ scenesViewControllerObject CONSTANT)
    Q_PROPERTY(bool canMigrateMedia READ canMigrateMedia NOTIFY canMigrateMediaChanged)

public:
    // Wizard states with a name of their own in the code.
    enum State : int {
        kStateIntro = 0,
        kStateWelcome = 1,
        kStateGetStarted = 2,
        kStateChooseData = 9,
        kStateSummaryTransit = 10,
        kStateCopyTransit = 16,
        kStateFinalSummary = 20,
        kStateAppsEnd = 21,
        kStateEnd = 22,
    };
    // Bottom button sets.
    enum ButtonSet : int { kButtonsNext = 0, kButtonsNextDisabled = 1, kButtonsQuit = 2, kButtonsNone = 3 };
    // Kinds whose reader or migrator the status summaries quote.
    enum class ManifestKind { Contacts, Events, Tasks, Notes, Music, Photos, Videos };

    explicit NS_AppController(AppControllerServices services, QObject *parent = nullptr);
    ~NS_AppController() override;

    // ---- seams (the controller owns what it is given) --------------------------------
    void setEnvironmentChecks(std::unique_ptr<EnvironmentChecks> checks);
    void setJobs(std::unique_ptr<WizardJobs> jobs);
    void setLiveUploadDriver(std::unique_ptr<LiveUploadDriver> driver);
    void setSummaries(std::unique_ptr<WizardSummaries> summaries);
    WizardSummaries *summaries() const { return m_summaries.get(); }
    using CompanionAppFactory = std::function<std::shared_ptr<CompanionApp>(std::shared_ptr<MobileDeviceInterface>)>;
    void setCompanionAppFactory(CompanionAppFactory factory);
    void setManifestSource(ManifestKind kind, std::shared_ptr<ManifestInfoSource> source);
    std::shared_ptr<ManifestInfoSource> manifestSource(ManifestKind kind) const;

    // ---- start ------------------------------------------------------------------------
    // Brings the window forward and enters state 0.
    void beginSetup();
    // Removes the items tagged 54 and 55 of the menu tagged 50 of `menuBar`.
    static void trimMainMenu(QMenuBar *menuBar);

    // ---- properties -------------------------------------------------------------------
    bool musicValue() const { return m_musicValue; }
    void setMusicValue(bool value);
    bool photosValue() const { return m_photosValue; }
    void setPhotosValue(bool value);
    bool videosValue() const { return m_videosValue; }
    void setVideosValue(bool value);
    std::shared_ptr<MobileDeviceProxy> oldDeviceProxy() const { return m_oldDeviceProxy; }
    NS_ScenesViewController *scenesViewController() const { return m_scenesViewController.get(); }
    std::shared_ptr<CompanionApp> androidDeviceClient() const { return m_androidDeviceClient; }
    void setAndroidDeviceClient(std::shared_ptr<CompanionApp> client) { m_androidDeviceClient = std::move(client); }
    // Copied from the phone when state 2 is left.
    bool canMigrateMedia() const { return m_canMigrateMedia; }

    // ---- wizard -------------------------------------------------------------------------
    void setState(int state);
    void gotoNextState();
    // Throws VtrException("NSInvalidArgumentException") for an unknown family
    // after state 2 and for a state outside 0..21.
    int nextStateForState(int state) const;
    int numDataTypesSelected() const;
    void nextButtonSetState(int buttonSet);
    void nextButtonSetEnabled(bool enabled) { nextButtonSetState(enabled ? kButtonsNext : kButtonsNextDisabled); }
    int buttonSet() const { return m_buttonSet; }
    void nextButtonHit();
    void cancelButtonHit();
    void helpButtonHit();
    void saveButtonHit();
    void saveButtonSetHidden(bool hidden);
    // The recommended-apps pane's list, one row per app of the old phone.
    void showAppReferrals(const QStringList &rows);
    QStringList appReferralRows() const;
    // Writes the recommended-apps view as PDF pages of 750 points; false
    // when the file cannot be written.
    bool saveAppReferralPdf(const QString &path);
    // The page rectangles a view of these bounds is cut into.
    static QList<QRect> appReferralPageRects(const QRect &bounds);
    // The window is asked to close: true to let it.
    bool windowShouldClose();
    void pollForApkDoneAndAdvance();
    void userRemovedOldDeviceAtBadTime();
    // The end of the run: an alert with one "Quit" button, then terminate().
    void fatalAlert(const QString &title, const QString &text);
    // The app scan of state 11 has ended: on to the next state. A failure of
    // the platform's kind on the way is logged and the wizard stays.
    void scanAppsDone();

    // Runs `work` on the main thread after `delayMs`, only if the wizard is
    // still in the state it is in now; held back while an alert is open.
    void performAfterDelay(const QString &name, int delayMs, std::function<void()> work);
    void cancelPerform(const QString &name);
    int pendingPerformCount() const { return int(m_pending.size()); }

    // Runs `work` and catches whatever it throws: logged and shown as an
    // alert. Every slot, handler and timer of the wizard goes through it.
    void guarded(const char *where, const std::function<void()> &work) override;

    // Starts `job` (owned by the controller until it has finished) and calls
    // `done` with its result on the main thread.
    void runJob(BackgroundJob *job, std::function<void(const QVariantMap &)> done = {});
    int runningJobCount() const { return m_jobsRunning; }

    // ---- the one-step transfer ------------------------------------------------------------
    // The generate button: the whole transfer in one job, with the overall
    // bar while it runs. Nothing unless canGenerate().
    void generate();
    // Offered only while the wizard waits for the person on a page after the
    // old phone's data were read (the summary, the recommended apps, the
    // end), nothing else runs, and a chosen kind's data were read: media
    // backed up, or contacts or calendars gathered.
    bool canGenerate() const;
    // Enables the generate button as canGenerate() says.
    void updateGenerateButton();
    // The one-step job has ended (success): the buttons of the page come
    // back as they were, the summary lines tell what moved and the overall
    // bar's caption where the report is or why it is missing.
    void generateFinished(const QString &reportError);
    // The one-step job has succeeded: writes "sl_manifest.json" into the new
    // phone's "Migration Info", never through a link, and keeps it as the
    // transfer info. Returns the reason the file could not be written (empty
    // when it was); an earlier report, or a link or another item of the
    // person's in its place, is then left as it was.
    QString buildManifestReport();
    // A run that changes the new phone's folder begins: a report of an
    // earlier run no longer describes it, and goes.
    void removeManifestReport();

    // ---- what became of each kind ---------------------------------------------------------
    // A kind's line says "Done" only when its data reached their destination;
    // otherwise it says that they were not moved or failed, and why. By phase
    // ("Music Phase", "Contacts Phase", ...); any thread. Partial: written,
    // yet some of what the old phone held of the kind did not arrive.
    enum class Outcome { Pending, Written, NotMoved, Failed, Partial };
    struct KindResult
    {
        Outcome outcome = Outcome::Pending;
        QString reason;
        // The kind could not be read at all: what the old phone holds of it
        // is not known, however little was counted.
        bool unread = false;
    };
    void setKindResult(const QString &phase, Outcome outcome, const QString &reason = QString(), bool unread = false);
    KindResult kindResult(const QString &phase) const;
    // The old phone's kind was read and there is nothing in it: no record or
    // file, and none left unread or hidden. Nothing of it can stay behind.
    bool kindHeldNothing(const QString &phase) const;
    // Whether something that the old phone held of a chosen kind, or of a
    // kind that the start stopped, did not reach its destination.
    bool somethingStayedBehind() const;
    // A new run's results: nothing has moved yet, and a kind that the start
    // stopped will not (main thread).
    void clearKindResults();
    // Ends each chosen kind's summary line with what became of its data; a
    // kind whose end was never reported says nothing rather than "Done".
    void markSummaryLines();
    // A transfer that ended early: the page shows each chosen kind's line
    // with what became of it, under a heading that says it failed.
    void showKindOutcomes();
    // " - Done", " - Not moved: <reason>", " - Failed: <reason>"; empty while pending.
    QString doneTextFor(const QString &phase) const;
    // A media kind that the computer's checks turned off at the start and
    // that is still read from the old phone (the music that the library
    // cannot take), while this phone's media can be moved: why it stays
    // behind, as a part of its line. Empty for any other kind. Such a kind is
    // not chosen; its line says "Skipping" before the work and, at the end,
    // how much of it was not moved and why.
    QString stoppedKindReason(const QString &phase) const;

    // ---- status protocol ------------------------------------------------------------------
    void setStatus(const QString &status, const QString &phase, double percent) override;
    void setStatusNow(const QString &status, const QString &phase, double percent) override;
    void updateTimeEstimate();
    static QString stringForBytesToCopy(qint64 bytes, int numFiles);
    // "about 1 minute" and the like for a number of seconds.
    static QString durationText(qint64 seconds);
    // The work ahead in seconds by phase, estimated as stringForBytesToCopy
    // does. While a plan is set, the overall bar stands at the share of the
    // planned work done and the estimate tells the planned work left, at the
    // rate measured since its first report once any of it is done; setting
    // one starts its phases' bars afresh.
    void setWorkPlan(const QHash<QString, double> &secondsByPhase);
    // The clock the work's rate is measured by, in seconds; null: the
    // system's steady clock (tests).
    static void setWorkClockForTesting(std::function<double()> clock);
    void clearWorkPlan();
    QHash<QString, double> workPlan() const { return m_workPlan; }
    static double secondsForWork(qint64 bytes, qint64 items);
    // Forgets when the last report was applied (tests).
    static void resetStatusThrottle();

    // ---- the old phone ------------------------------------------------------------------------
    void usbDeviceAdded(const UsbDeviceHandle &device, quint16 vendor, quint16 product) override;
    // The new phone's storage folder; nullptr without a new phone.
    VtrFileInfoPtr targetFileInfoForDevice() const;
    // Warns when the new phone's folder holds an earlier migration's report.
    void checkForPreviousMigration();
    void deviceWasDisconnected(MobileDevice *device) override;
    // How long a job that hangs after the old phone went away is waited for
    // before the person is told anyway (15 s; tests shorten it).
    void setRemovalJobWaitForTesting(int ms) { m_removalJobWaitMs = ms; }
    // An arriving phone that does not open is tried this many times, this
    // far apart, before the person is told (3 times, 1 s; tests shorten it).
    void setOpenRetryForTesting(int attempts, int delayMs)
    {
        m_openAttempts = attempts;
        m_openRetryDelayMs = delayMs;
    }
    // The companion app's poll: after this many looks in a row that could
    // not read the phone (5), or that did not find the app's results (30),
    // the person is told what to do, once for each time the phone arrives.
    void setPollLimitsForTesting(int unreadable, int notFound)
    {
        m_unreadablePollLimit = unreadable;
        m_notFoundPollLimit = notFound;
    }

    // ---- actions of the window description that the wizard does not use --------------------
    // Starts the music library host in the background.
    void lauchItunes();
    void playVideo1() {}
    void playVideo2() {}
    void playVideo3() {}
    void playVideo4() {}
    void playVideo5() {}
    void playVideo() {}
    void appsButtonHit() {}

    // ---- panes (for the window and tests) --------------------------------------------------------
    QWidget *progressView() const { return m_progressView; }
    QWidget *singleProgressView() const { return m_singleProgressView; }
    QWidget *chooseDataView() const { return m_chooseDataView; }
    QWidget *transferSummaryView() const { return m_transferSummaryView; }
    QWidget *bottomControlsView() const { return m_bottomControlsView; }
    QWidget *endButtonsView() const { return m_endButtonsView; }
    QWidget *appReferralView() const { return m_appReferralView; }
    // Where the panes are shown: the scene's free space, scrolling when they
    // do not fit.
    QWidget *paneArea() const { return m_paneScroll; }
    QPushButton *nextButton() const { return m_nextButton; }
    QPushButton *nextDisabledButton() const { return m_nextDisabledButton; }
    QPushButton *quitButton() const { return m_quitButton; }
    QPushButton *cancelButton() const { return m_cancelButton; }
    QPushButton *helpButton() const { return m_helpButton; }
    QPushButton *saveButton() const { return m_saveButton; }
    QPushButton *generateButton() const { return m_generateButton; }

Q_SIGNALS:
    void musicValueChanged();
    void photosValueChanged();
    void videosValueChanged();
    void canMigrateMediaChanged();
    // After a state's work and buttons are in place.
    void stateEntered(int state);

protected:
    void oldDeviceConnected() override;
    void oldDeviceDisconnected() override;
    void alertsClosed() override;

private:
    struct Pending
    {
        QString name;
        int state = 0;
        std::function<void()> work;
        QTimer *timer = nullptr;
        bool held = false;
    };

    void initUI();
    void buildPanes();
    void bindIndicators();
    void refreshIndicators();
    void setStateUnguarded(int state);
    void gotoNextStateUnguarded();
    bool leaveGetStarted();
    void installCompanionApp();
    void companionAppInstalled(bool pushed);
    void skipCompanionApp();
    void firePending(quint64 id);
    void applyStatus(const QString &phase, double percent);
    bool kindChosen(const QString &phase) const;
    void updatePhaseSummary(const QString &phase, double percent);
    // The kind's line with what its reader or migrator counted; unchanged
    // without one.
    void quoteSummary(const QString &phase);
    void phoneUnreadableInState8();
    double phaseProgress(const QString &phase) const;
    double plannedShareDone() const;
    double plannedSeconds() const;
    void refreshProgressRows();
    void planCopy();
    // The heading of the last page, and of a page where the one-step
    // transfer ended: whether everything was moved.
    void headlineTheOutcome();
    void buildCheckboxTitles();
    void showSummaryEstimate(bool show);
    void showSingleEstimate(bool show);
    void adoptOldDevice(const std::shared_ptr<MobileDevice> &phone, bool connected);
    // Lets go of the old phone (command interface, "oldDevice", the proxy).
    void forgetOldDevice(MobileDevice *device);
    // The last job running when the old phone went has ended.
    void oldDeviceRemovedAfterJobs();
    bool oldDeviceGoneDuringJob() const override { return m_removalAfterJobs; }
    QObject *oldDeviceProxyObject() const;
    QObject *scenesViewControllerObject() const;

    std::shared_ptr<MobileDeviceProxy> m_oldDeviceProxy;
    std::shared_ptr<CompanionApp> m_androidDeviceClient;
    // A phone whose command interface is being attached, not yet the old phone.
    std::shared_ptr<MobileDevice> m_arrivingPhone;
    std::unique_ptr<NS_ScenesViewController> m_scenesViewController;
    std::unique_ptr<EnvironmentChecks> m_environmentChecks;
    std::unique_ptr<WizardJobs> m_jobs;
    std::unique_ptr<LiveUploadDriver> m_liveUploadDriver;
    std::unique_ptr<WizardSummaries> m_summaries;
    CompanionAppFactory m_companionAppFactory;
    QHash<int, std::shared_ptr<ManifestInfoSource>> m_manifestSources;

    bool m_musicValue = false;
    bool m_photosValue = false;
    bool m_videosValue = false;
    bool m_canMigrateMedia = false;
    bool m_buildingTitles = false;
    int m_buttonSet = -1;
    quint64 m_stateGeneration = 0;
    bool m_removalAlertShown = false;
    // The old phone went while a job ran: its teardown waits for the jobs.
    bool m_removalAfterJobs = false;
    int m_removalJobWaitMs = 15000;
    bool m_pollRunning = false;
    int m_unreadablePolls = 0;
    int m_notFoundPolls = 0;
    int m_unreadablePollLimit = 5;
    int m_notFoundPollLimit = 30;
    bool m_pollAlertShown = false;
    int m_openAttempts = 3;
    int m_openRetryDelayMs = 1000;
    int m_jobsRunning = 0;
    // The page's buttons while the one-step job runs (-1: none runs).
    int m_buttonsBeforeGenerate = -1;
    QHash<QString, double> m_workPlan;
    // When the plan's first report came and how much of it was done then
    // (negative time: none came yet).
    double m_workMeasuredFrom = -1.0;
    double m_workDoneAtStart = 0.0;
    mutable std::mutex m_resultsMutex;
    QHash<QString, KindResult> m_kindResults;

    quint64 m_nextPendingId = 1;
    std::map<quint64, Pending> m_pending;

    mutable std::mutex m_textMutex;

    QWidget *m_progressView = nullptr;
    QWidget *m_singleProgressView = nullptr;
    QWidget *m_chooseDataView = nullptr;
    QWidget *m_transferSummaryView = nullptr;
    QWidget *m_bottomControlsView = nullptr;
    QWidget *m_endButtonsView = nullptr;
    QWidget *m_appReferralView = nullptr;
    QWidget *m_paneScroll = nullptr;
    vtrapp::PaneAreaLayout *m_paneLayout = nullptr;
    QPushButton *m_nextButton = nullptr;
    QPushButton *m_nextDisabledButton = nullptr;
    QPushButton *m_quitButton = nullptr;
    QPushButton *m_cancelButton = nullptr;
    QPushButton *m_helpButton = nullptr;
    QPushButton *m_saveButton = nullptr;
    QPushButton *m_generateButton = nullptr;
    QProgressBar *m_appsProgressIndicator = nullptr;
    QProgressBar *m_calendarProgressIndicator = nullptr;
    QProgressBar *m_contactsProgressIndicator = nullptr;
    QProgressBar *m_musicProgressIndicator = nullptr;
    QProgressBar *m_photosProgressIndicator = nullptr;
    QProgressBar *m_videosProgressIndicator = nullptr;
    QProgressBar *m_singleProgressIndicator = nullptr;
    // The bar and title of each kind in the progress pane, in the order
    // contacts, calendars, music, photos, videos, apps.
    QList<QPair<QWidget *, QWidget *>> m_progressRows;
};
