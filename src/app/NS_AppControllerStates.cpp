#include "app/BackgroundJob.h"
#include "app/NS_AppController.h"
#include "app/Scenes.h"
#include "devices/phone/MobileDevice.h"
#include "devices/phone/MobileDeviceProxy.h"
#include "foundation/Log.h"
#include "foundation/MigrationStatus.h"
#include "platform/Strings.h"
#include "platform/UserDefaults.h"

#include <QDir>
#include <QPointer>
#include <QPainter>
#include <QPdfWriter>
#include <QPushButton>
#include <QSaveFile>
#include <QStandardPaths>
#include <QUrl>

#include <mutex>

namespace {

// Only one leaving of state 2 at a time: a press of Next and a phone's
// arrival may both try while the first still shows an alert.
std::mutex &getStartedLock()
{
    static std::mutex lock;
    return lock;
}

VtrException invalidArgument(const QString &reason)
{
    return VtrException(QStringLiteral("NSInvalidArgumentException"), reason);
}

constexpr int kAdvanceDelayMs = 10;

}  // namespace

int NS_AppController::numDataTypesSelected() const
{
    return int(contactsValue()) + int(calendarsValue()) + int(tasksValue()) + int(notesValue()) + int(musicValue()) +
           int(photosValue()) + int(videosValue()) + int(appsValue());
}

int NS_AppController::nextStateForState(int state) const
{
    const bool apps = appsEnabled() && appsValue();
    const bool contacts = contactsEnabled() && contactsValue();
    const bool calendars = calendarsEnabled() && calendarsValue();
    const bool media = (musicEnabled() && musicValue()) || (videosEnabled() && videosValue()) ||
                       (photosEnabled() && photosValue());
    switch (state) {
    case 0: return 1;
    case 1: return 2;
    case 2:
        switch (m_oldDeviceType) {
        case MobileDeviceInterface::kDeviceTypeAndroid: return 6;
        case MobileDeviceInterface::kDeviceTypeApple: return 3;
        case MobileDeviceInterface::kDeviceTypeBlackBerry: return 4;
        default: throw invalidArgument(QStringLiteral("Advancing state past GetStarted with unknown device??"));
        }
    case 3:
    case 5:
    case 8: return 9;
    case 4: return 5;
    case 6: return 7;
    case 7: return 8;
    case 9: return 10;
    case 10: return apps ? 11 : nextStateForState(11);
    case 11: return (contacts || calendars) ? 12 : nextStateForState(12);
    case 12: return media ? 13 : nextStateForState(13);
    case 13: return 14;
    case 14: {
        bool referral = false;
        if (apps && m_summaries) {
            if (m_oldDeviceProxy->isAppleDevice()) referral = m_summaries->shouldDoIPhoneAppReferral();
            else if (m_oldDeviceProxy->isBlackBerry()) referral = m_summaries->shouldDoBlackberryAppReferral();
            else if (m_oldDeviceProxy->isAndroidDevice()) referral = m_summaries->shouldDoAndroidAppReferral();
        }
        return referral ? 15 : nextStateForState(15);
    }
    case 15: return 16;
    case 16: return (calendars || contacts) ? 17 : nextStateForState(18);
    case 17: return 18;
    case 18: return media ? 19 : nextStateForState(19);
    case 19: return 20;
    case 20:
    case 21: return 22;
    default: throw invalidArgument(QStringLiteral("Unknown state transition"));
    }
}

void NS_AppController::nextButtonSetState(int set)
{
    bool next = false, disabled = false, quit = false;
    switch (set) {
    case kButtonsNext: next = true; break;
    case kButtonsNextDisabled: disabled = true; break;
    case kButtonsQuit: quit = true; break;
    case kButtonsNone: break;
    default: return;
    }
    m_buttonSet = set;
    m_nextButton->setEnabled(next);
    m_nextButton->setVisible(next);
    // The disabled Next shows where Next will be; it cannot be pressed.
    m_nextDisabledButton->setEnabled(false);
    m_nextDisabledButton->setVisible(disabled);
    m_quitButton->setEnabled(quit);
    m_quitButton->setVisible(quit);
}

void NS_AppController::nextButtonHit()
{
    guarded("Next", [this] { gotoNextStateUnguarded(); });
}

void NS_AppController::gotoNextState()
{
    guarded("gotoNextState", [this] { gotoNextStateUnguarded(); });
}

void NS_AppController::gotoNextStateUnguarded()
{
    if (isTerminated()) return;
    const int state = currentState();
    if (state < 0 || state > 21) {
        VTR_LOG(2, QStringLiteral("Missing state transition in gotoNextState"));
        setStateUnguarded(state + 1);
        return;
    }
    if (state == kStateChooseData && numDataTypesSelected() == 0) {
        AlertRequest request;
        request.messageText = vtrLocalized("You must select something to transfer to your new device.");
        request.informativeText = vtrLocalized("Check at least one box and try again.");
        request.buttons = {vtrLocalized("OK")};
        request.cancelButton = 0;
        request.beep = true;
        runAlert(request);
        return;
    }
    if (state == kStateGetStarted && !leaveGetStarted()) return;
    setStateUnguarded(nextStateForState(currentState()));
}

// False when the wizard stays in state 2.
bool NS_AppController::leaveGetStarted()
{
    std::unique_lock lock(getStartedLock(), std::try_to_lock);
    if (!lock.owns_lock()) return false;
    const std::shared_ptr<MobileDevice> phone = oldDevice();
    const int family = phone ? phone->deviceType() : 0;
    if (family < MobileDeviceInterface::kDeviceTypeAndroid || family > MobileDeviceInterface::kDeviceTypeBlackBerry) {
        // Without a phone of a known family there is no next state; staying
        // here lets the person plug in another one.
        VTR_LOG(2, QStringLiteral("Advancing state past GetStarted with unknown device?? (family %1)").arg(family));
        return false;
    }
    m_canMigrateMedia = canMigrateMediaNow();
    Q_EMIT canMigrateMediaChanged();
    m_oldDeviceType = family;
    m_oldDeviceSerialNumber = phone->serialNumber();
    const int stateBefore = currentState();

    auto askToContinue = [this](const QString &title) {
        AlertRequest request;
        request.messageText = title;
        request.informativeText = vtrLocalized("If you continue, some or all of your data may not transfer to your new device.");
        request.buttons = {vtrLocalized("Continue"), vtrLocalized("Quit")};
        request.cancelButton = 0;
        request.beep = true;
        if (runAlert(request) == 1) {
            terminate();
            return false;
        }
        return true;
    };
    switch (family) {
    case MobileDeviceInterface::kDeviceTypeAndroid:
        m_androidDeviceClient = m_companionAppFactory ? m_companionAppFactory(m_oldDeviceProxy) : nullptr;
        break;
    case MobileDeviceInterface::kDeviceTypeApple:
        if (!isiTunesInstalled() && !askToContinue(vtrLocalized("iTunes was not found."))) return false;
        break;
    case MobileDeviceInterface::kDeviceTypeBlackBerry:
        if (!isBlackBerryDesktopManagerInstalled() &&
            !askToContinue(vtrLocalized("BlackBerry Desktop Software was not found.")))
            return false;
        break;
    }
    // A device event during an alert may have moved the wizard already.
    if (currentState() != stateBefore || isTerminated()) return false;
    if (m_environmentChecks && !m_environmentChecks->runLibraryChecks(*this, family)) return false;
    return currentState() == stateBefore && !isTerminated();
}

void NS_AppController::setState(int state)
{
    guarded("setState", [this, state] { setStateUnguarded(state); });
}

void NS_AppController::setStateUnguarded(int s)
{
    if (isTerminated()) return;
    const quint64 generation = ++m_stateGeneration;
    setCurrentState(s);
    for (QWidget *pane : {m_progressView, m_chooseDataView, m_transferSummaryView, m_appReferralView, m_endButtonsView,
                          m_singleProgressView})
        pane->hide();
    showSingleEstimate(true);
    setShowNewDeviceInfo(s >= 2);

    bool help = true, save = false, cancel = true, scene = true;
    int set = kButtonsNext;
    const bool phoneHeld = isOldDeviceConnected();
    switch (s) {
    case 0:
        performAfterDelay(QStringLiteral("gotoNextState"), 2000, [this] { gotoNextStateUnguarded(); });
        help = false;
        cancel = false;
        set = kButtonsNone;
        break;
    case 1:
        if (m_environmentChecks) m_environmentChecks->runWelcomeChecks(*this);
        break;
    case 2:
        set = kButtonsNone;
        if (phoneHeld) {
            performAfterDelay(QStringLiteral("gotoNextState"), kAdvanceDelayMs, [this] { gotoNextStateUnguarded(); });
            scene = false;
        }
        break;
    case 3:
        if (m_environmentChecks) m_environmentChecks->runICloudCheck(*this);
        break;
    case 4:
    case 5:
    case 6:
        set = phoneHeld ? kButtonsNext : kButtonsNextDisabled;
        break;
    case 7:
        set = kButtonsNextDisabled;
        installCompanionApp();
        break;
    case 8:
        set = kButtonsNextDisabled;
        m_unreadablePolls = m_notFoundPolls = 0;
        m_pollAlertShown = false;
        if (m_oldDeviceProxy->isConnected())
            performAfterDelay(QStringLiteral("pollForApkDoneAndAdvance"), kAdvanceDelayMs,
                              [this] { pollForApkDoneAndAdvance(); });
        break;
    case 9:
        buildCheckboxTitles();
        if (!m_canMigrateMedia) {
            setMusicEnabled(false);
            setPhotosEnabled(false);
            setVideosEnabled(false);
            setMusicValue(false);
            setPhotosValue(false);
            setVideosValue(false);
        }
        m_chooseDataView->show();
        set = phoneHeld ? kButtonsNext : kButtonsNextDisabled;
        break;
    case 10:
    case 16:
        if (s == 10) {
            // A new run: nothing of it has moved yet.
            clearKindResults();
            clearWorkPlan();
        } else {
            setSingleProgressText(vtrLocalized("Copying..."));
            setSingleIndeterminate(true);
            setSingleProgress(0.0);
            planCopy();
        }
        if (m_summaries) m_summaries->prepopulateSummary(*this);
        performAfterDelay(QStringLiteral("gotoNextState"), kAdvanceDelayMs, [this] { gotoNextStateUnguarded(); });
        scene = false;
        break;
    case 11:
        refreshProgressRows();
        m_progressView->show();
        set = kButtonsNextDisabled;
        if (m_jobs) m_jobs->scanApps(*this);
        break;
    case 12:
        refreshProgressRows();
        m_progressView->show();
        set = kButtonsNextDisabled;
        if (m_jobs) m_jobs->startTransferPIMFromOldDevice(*this);
        break;
    case 13:
        refreshProgressRows();
        m_progressView->show();
        set = kButtonsNextDisabled;
        if (m_jobs) {
            m_jobs->createMediaMigrators(*this, m_oldDeviceType);
            m_jobs->backupOldDevice(*this);
        }
        break;
    case 14:
        m_transferSummaryView->show();
        // The estimate tells the work ahead, not the reading behind.
        planCopy();
        showSummaryEstimate(true);
        break;
    case 15:
        m_appReferralView->show();
        save = true;
        break;
    case 17:
        performAfterDelay(QStringLiteral("checkAndWarnCalendarContactCounts"), kAdvanceDelayMs, [this] {
            if (m_liveUploadDriver) m_liveUploadDriver->checkAndWarnCalendarContactCounts(*this);
        });
        break;
    case 18:
        m_singleProgressView->show();
        set = kButtonsNextDisabled;
        if (m_liveUploadDriver) m_liveUploadDriver->startNextLiveUpload(*this);
        break;
    case 19:
        m_singleProgressView->show();
        set = kButtonsNextDisabled;
        if (m_jobs) m_jobs->startTransferMediaToNewDevice(*this);
        break;
    case 20:
        if (m_summaries) m_summaries->postpopulateSummary(*this);
        m_transferSummaryView->show();
        // What moved needs no estimate of what is left.
        showSummaryEstimate(false);
        m_endButtonsView->setHidden(appsHidden());
        set = kButtonsQuit;
        cancel = false;
        break;
    case 21:
        m_appReferralView->show();
        save = true;
        set = kButtonsQuit;
        cancel = false;
        break;
    case 22:
        Q_EMIT stateEntered(s);
        terminate();
        return;
    default:
        break;
    }
    // The state's own work may have entered another state (a device event, a
    // finished job, an alert's answer): that state's buttons and scene stand.
    if (generation != m_stateGeneration || isTerminated()) return;
    m_helpButton->setHidden(!help);
    m_saveButton->setHidden(!save);
    nextButtonSetState(set);
    m_cancelButton->setHidden(!cancel);
    if (scene) m_scenesViewController->transitionToSceneForState(s);
    if (s == kStateFinalSummary) headlineTheOutcome();
    updateGenerateButton();
    Q_EMIT stateEntered(s);
}

void NS_AppController::headlineTheOutcome()
{
    // One rule on both roads: the last page's own heading ("All done") and
    // the one-step transfer's say that the transfer is done only when
    // nothing that the old phone held of a kind the person chose, or that the
    // start stopped, stayed behind.
    NS_TemplateSceneViewController *scene = m_scenesViewController->templateController();
    const QString sceneName = NS_ScenesViewController::sceneNameForState(currentState());
    if (!scene || sceneName.isEmpty()) return;
    if (somethingStayedBehind())
        scene->setHeader(vtrLocalized("Not everything was moved"));
    else if (currentState() == kStateFinalSummary)
        scene->setHeader(vtrapp::sceneTextResource(sceneName + QStringLiteral("_header"), QStringLiteral("txt")));
    else
        scene->setHeader(vtrLocalized("Your transfer is done"));
}

void NS_AppController::planCopy()
{
    // What states 18 and 19 have ahead of them: the overall bar and the
    // estimate follow the work, not the number of kinds.
    QHash<QString, double> plan;
    if (contactsEnabled() && contactsValue()) plan.insert(vtrphase::Contacts, secondsForWork(0, contacts().size()));
    if (calendarsEnabled() && calendarsValue()) {
        qint64 events = 0;
        for (const QVariant &calendar : calendars())
            events += 1 + calendar.toMap().value(QStringLiteral("events")).toList().size();
        plan.insert(vtrphase::Events, secondsForWork(0, events));
    }
    const struct
    {
        bool chosen;
        const QString &phase;
    } media[] = {{musicEnabled() && musicValue(), vtrphase::Music},
                 {photosEnabled() && photosValue(), vtrphase::Photos},
                 {videosEnabled() && videosValue(), vtrphase::Videos}};
    for (int k = 0; k < 3; ++k) {
        if (!media[k].chosen) continue;
        const WizardJobs::MediaWork work = m_jobs ? m_jobs->mediaWork(k) : WizardJobs::MediaWork();
        plan.insert(media[k].phase, secondsForWork(work.bytes, work.files));
    }
    setWorkPlan(plan);
}

void NS_AppController::showSummaryEstimate(bool show)
{
    if (auto *estimate = m_transferSummaryView->findChild<QWidget *>(QStringLiteral("summaryEstimate")))
        estimate->setVisible(show);
}

void NS_AppController::showSingleEstimate(bool show)
{
    if (auto *estimate = m_singleProgressView->findChild<QWidget *>(QStringLiteral("singleEstimate")))
        estimate->setVisible(show);
}

// ---- the companion app (states 7 and 8) ------------------------------------------------------

void NS_AppController::installCompanionApp()
{
    AlertRequest request;
    request.messageText = vtrLocalized("Installing Android app");
    request.informativeText = vtrLocalized(
        "In order to back up contacts and calendars and show you app recommendations we need to run an app on your "
        "old device to collect some information.");
    request.buttons = {vtrLocalized("Push app to phone"), vtrLocalized("Skip this step")};
    if (runAlert(request) != 0 || !m_androidDeviceClient) {
        if (!m_androidDeviceClient) VTR_LOG(2, QStringLiteral("No companion app installer for this phone."));
        skipCompanionApp();
        performAfterDelay(QStringLiteral("gotoNextState"), kAdvanceDelayMs, [this] { gotoNextStateUnguarded(); });
        return;
    }
    // Installing runs a tool that may take long: off the main thread.
    std::shared_ptr<CompanionApp> client = m_androidDeviceClient;
    const int state = currentState();
    runJob(new FunctionJob([client](FunctionJob &) {
               return QVariantMap{{QStringLiteral("success"), true}, {QStringLiteral("pushed"), client->pushApk()}};
           }),
           [this, state](const QVariantMap &result) {
               if (currentState() != state) return;
               companionAppInstalled(result.value(QStringLiteral("pushed")).toBool());
           });
}

void NS_AppController::companionAppInstalled(bool pushed)
{
    AlertRequest request;
    if (pushed) {
        request.messageText = vtrLocalized("Running Android app");
        request.informativeText = vtrLocalized(
            "Please safely disconnect your Android device and run the Solvenna to Windows Phone app on your old "
            "device, then press continue once it's complete.");
    } else {
        request.messageText = vtrLocalized("Installing Android app");
        request.informativeText = vtrLocalized(
            "There was an error pushing the Solvenna to Windows Phone app to the phone, please install it from "
            "Google Play, then safely disconnect your Android device, run the app, and press Continue once it's "
            "complete.");
    }
    request.buttons = {vtrLocalized("Continue"), vtrLocalized("Skip this step")};
    if (runAlert(request) == 1) skipCompanionApp();
    performAfterDelay(QStringLiteral("gotoNextState"), kAdvanceDelayMs, [this] { gotoNextStateUnguarded(); });
}

void NS_AppController::skipCompanionApp()
{
    setCalendarsEnabled(false);
    setCalendarsValue(false);
    setContactsEnabled(false);
    setContactsValue(false);
    setAppsEnabled(false);
    setAppsValue(false);
}

void NS_AppController::pollForApkDoneAndAdvance()
{
    guarded("pollForApkDoneAndAdvance", [this] {
        if (!appsEnabled() && !contactsEnabled() && !calendarsEnabled()) {
            nextButtonSetState(kButtonsNext);
            return;
        }
        if (m_pollRunning || !m_androidDeviceClient) return;
        // Asking the phone blocks: the answer comes back from a job.
        m_pollRunning = true;
        std::shared_ptr<CompanionApp> client = m_androidDeviceClient;
        const int state = currentState();
        runJob(new FunctionJob([client](FunctionJob &) {
                   return QVariantMap{{QStringLiteral("success"), true},
                                      {QStringLiteral("progress"), int(client->apkProgress())}};
               }),
               [this, state](const QVariantMap &result) {
                   m_pollRunning = false;
                   if (currentState() != state || !isOldDeviceConnected()) return;
                   const auto progress = CompanionApp::Progress(result.value(QStringLiteral("progress")).toInt());
                   if (progress == CompanionApp::Progress::Done) {
                       m_unreadablePolls = m_notFoundPolls = 0;
                       nextButtonSetState(kButtonsNext);
                       return;
                   }
                   // Asking without end says nothing to the person: after a
                   // while they are told what to do, and the poll goes on.
                   ++m_notFoundPolls;
                   m_unreadablePolls = progress == CompanionApp::Progress::PhoneUnreadable ? m_unreadablePolls + 1 : 0;
                   if (!m_pollAlertShown &&
                       (m_unreadablePolls >= m_unreadablePollLimit || m_notFoundPolls >= m_notFoundPollLimit)) {
                       m_pollAlertShown = true;
                       phoneUnreadableInState8();
                       if (currentState() != state) return;
                   }
                   cancelPerform(QStringLiteral("pollForApkDoneAndAdvance"));
                   performAfterDelay(QStringLiteral("pollForApkDoneAndAdvance"), 1000,
                                     [this] { pollForApkDoneAndAdvance(); });
               });
    });
}

void NS_AppController::phoneUnreadableInState8()
{
    AlertRequest request;
    request.messageText = vtrLocalized("The results of the Solvenna to Windows Phone app were not found on your old phone.");
    request.informativeText = vtrLocalized(
        "Make sure the app has finished on your old phone and that the phone is unlocked. Then unplug the phone and "
        "plug it in again; if the phone asks, allow access to its files.");
    request.buttons = {vtrLocalized("OK")};
    request.cancelButton = 0;
    request.style = AlertRequest::Style::Warning;
    runAlert(request);
}

void NS_AppController::scanAppsDone()
{
    guarded("scanAppsDone", [this] {
        try {
            gotoNextStateUnguarded();
        } catch (const VtrException &e) {
            VTR_LOG(2, QStringLiteral("Could not prepare app referral: %1").arg(e.reason()));
        }
    });
}

// ---- buttons, closing, quitting --------------------------------------------------------------

void NS_AppController::cancelButtonHit()
{
    guarded("Cancel", [this] {
        AlertRequest request;
        request.messageText = vtrLocalized("Quit Solvenna for Windows Phone?");
        request.informativeText = vtrLocalized("Are you sure you want to quit Solvenna for Windows Phone?");
        request.buttons = {vtrLocalized("Quit"), vtrLocalized("Continue")};
        request.cancelButton = 1;
        if (runAlert(request) == 0) terminate();
    });
}

void NS_AppController::helpButtonHit()
{
    guarded("Help", [this] {
        QString host = platform::UserDefaults::value(QStringLiteral("SupportHost")).toString();
        if (host.isEmpty()) host = QStringLiteral("support.vantrel.com");
        const QUrl url(QStringLiteral("https://%1/index.php?_m=knowledgebase&_a=viewarticle&kbarticleid=585").arg(host));
        // Without a browser the person is told where the help is.
        QPointer<NS_AppController> self(this);
        auto noBrowser = [self, url] {
            if (!self || self->isTerminated()) return;
            VTR_LOG(2, QStringLiteral("The help page could not be opened."));
            AlertRequest request;
            request.messageText = vtrLocalized("The help could not be opened.");
            request.informativeText = vtrLocalized("No web browser could be started. The help is at:\n%1")
                                          .arg(url.toString(QUrl::FullyEncoded));
            request.buttons = {vtrLocalized("OK")};
            request.cancelButton = 0;
            request.style = AlertRequest::Style::Informational;
            self->guarded("Help", [&] { self->runAlert(request); });
        };
        if (!m_services.host->openUrlWatched(url, noBrowser)) noBrowser();
    });
}

void NS_AppController::saveButtonHit()
{
    guarded("Save", [this] {
        const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        const QString path = m_services.alerts->runSavePanel(
            QDir(documents).filePath(vtrLocalized("App Recommendations")), QStringLiteral("pdf"));
        if (path.isEmpty()) return;
        if (!saveAppReferralPdf(path))
            throw VtrException(QStringLiteral("SaveException"),
                               vtrLocalized("The app recommendations could not be saved to %1.").arg(path));
    });
}

QList<QRect> NS_AppController::appReferralPageRects(const QRect &bounds)
{
    constexpr int kPageHeight = 750;
    QList<QRect> pages;
    for (int y = bounds.y(); y < bounds.height(); y += kPageHeight)
        pages.append(QRect(bounds.x(), y, bounds.width(), kPageHeight));
    return pages;
}

bool NS_AppController::saveAppReferralPdf(const QString &path)
{
    auto *view = m_appReferralView->findChild<QWidget *>(QStringLiteral("appReferralCollectionView"));
    const QRect bounds = view ? view->rect() : QRect();
    // Black text on the white page while it is drawn.
    const QColor screenColor = appReferralTextColor();
    setAppReferralTextColor(Qt::black);
    QList<QImage> pages;
    for (const QRect &page : appReferralPageRects(bounds)) {
        QImage image(page.size(), QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::white);
        view->render(&image, QPoint(), QRegion(page));
        pages.append(image);
    }
    setAppReferralTextColor(screenColor);

    // Written beside the destination and renamed over it when complete.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return false;
    {
        QPdfWriter writer(&file);
        writer.setResolution(72);
        writer.setPageSize(QPageSize(QSizeF(std::max(1, bounds.width()), 750), QPageSize::Point));
        writer.setPageMargins(QMarginsF(0, 0, 0, 0));
        QPainter painter;
        if (!painter.begin(&writer)) return false;
        for (int i = 0; i < pages.size(); ++i) {
            if (i > 0) writer.newPage();
            painter.drawImage(QPoint(0, 0), pages.at(i));
        }
        painter.end();
    }
    return file.commit();
}

bool NS_AppController::windowShouldClose()
{
    if (isTerminated()) return true;
    if (currentState() >= kStateFinalSummary) {
        terminate();
        return true;
    }
    cancelButtonHit();
    return isTerminated();
}

void NS_AppController::userRemovedOldDeviceAtBadTime()
{
    if (m_removalAlertShown || isTerminated()) return;
    m_removalAlertShown = true;
    fatalAlert(vtrLocalized("Your old device was disconnected before the backup was finished."),
               vtrLocalized("You will have to restart Solvenna and try again."));
}

void NS_AppController::fatalAlert(const QString &title, const QString &text)
{
    AlertRequest request;
    request.messageText = title;
    request.informativeText = text;
    request.buttons = {vtrLocalized("Quit")};
    request.beep = true;
    request.style = AlertRequest::Style::Critical;
    runAlert(request);
    terminate();
}
