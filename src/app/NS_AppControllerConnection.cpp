#include "app/NS_AppController.h"

#include "app/EnvironmentChecks.h"
#include "app/Scenes.h"
#include "app/WizardLook.h"
#include "devices/phone/MobileDevice.h"
#include "fileinfo/VtrBaseFileInfo.h"
#include "foundation/Json.h"
#include "foundation/Log.h"
#include "foundation/MigrationStatus.h"
#include "foundation/VtrDate.h"
#include "platform/Descriptor.h"
#include "platform/Folders.h"
#include "platform/Strings.h"

#include <QDateTime>
#include <QFile>
#include <QPushButton>
#include <QWidget>
#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char kMigrationInfo[] = "Migration Info";
const char kManifestName[] = "sl_manifest.json";

// Where the report is written in the new phone's folder `storage`.
QString manifestReportPath(const VtrFileInfoPtr &storage)
{
    return QDir::cleanPath(storage->path()) + QLatin1Char('/') + QLatin1String(kMigrationInfo) + QLatin1Char('/') +
           QLatin1String(kManifestName);
}

}  // namespace

VtrFileInfoPtr NS_AppController::targetFileInfoForDevice() const
{
    const std::shared_ptr<MobileDevice> target = newDevice();
    return target ? target->preferredStorageInfo() : nullptr;
}

void NS_AppController::checkForPreviousMigration()
{
    guarded("checkForPreviousMigration", [this] {
        const VtrFileInfoPtr target = targetFileInfoForDevice();
        if (!target || !target->exists()) return;
        const VtrFileInfoPtr report = target->find(QStringLiteral("Migration Info"));
        if (!report || !report->exists()) return;
        AlertRequest request;
        request.messageText = vtrLocalized("This device has already participated in a transfer.");
        request.informativeText = vtrLocalized(
            "If you wish to transfer information to it again, disconnect your device, and choose Delete Everything "
            "from the Solvenna device application menu.");
        request.buttons = {vtrLocalized("OK")};
        request.cancelButton = 0;
        request.beep = true;
        runAlert(request);
    });
}

bool NS_AppController::canGenerate() const
{
    if (isTerminated() || !m_jobs || m_jobsRunning > 0 || isAlertOpen() || numDataTypesSelected() == 0) return false;
    // Only where the wizard waits for the person after the old phone's data
    // were read; elsewhere a job, the upload or the phone is still at work.
    switch (currentState()) {
    case 14:
    case 15:
    case kStateFinalSummary:
    case kStateAppsEnd: break;
    default: return false;
    }
    // Contacts and calendars were read when their reader is in place.
    const bool pimRead = (contactsEnabled() && contactsValue() && manifestSource(ManifestKind::Contacts)) ||
                         (calendarsEnabled() && calendarsValue() && manifestSource(ManifestKind::Events));
    return pimRead || m_jobs->hasMediaToCopy(*this);
}

void NS_AppController::updateGenerateButton()
{
    if (m_generateButton) m_generateButton->setEnabled(canGenerate());
}

void NS_AppController::generate()
{
    if (!canGenerate()) return;
    const int buttons = m_buttonSet;
    clearKindResults();
    // The bar speaks of a copy only once one runs: without a new phone
    // nothing starts.
    if (!m_jobs->generate(*this)) return;
    setSingleProgress(0.0);
    setSingleProgressText(vtrLocalized("Copying..."));
    setSingleIndeterminate(true);
    m_buttonsBeforeGenerate = buttons;
    // Neither Next nor Quit while it runs: the page's own come back after.
    nextButtonSetState(kButtonsNextDisabled);
    // The bar's estimate is the one that counts while it runs.
    showSummaryEstimate(false);
    showSingleEstimate(true);
    m_singleProgressView->show();
    updateGenerateButton();
}

void NS_AppController::generateFinished(const QString &reportError)
{
    if (isTerminated()) return;
    // Every line tells what became of its kind, whatever page is shown; the
    // bar's caption stays to say where the report is.
    markSummaryLines();
    setSingleProgress(1.0);
    setSingleIndeterminate(false);
    const VtrFileInfoPtr storage = targetFileInfoForDevice();
    const QString where = reportError.isEmpty() && storage
                              ? vtrLocalized("The report of what was moved is \"%1\".").arg(manifestReportPath(storage))
                              : reportError.isEmpty() ? vtrLocalized("The migration report could not be written.")
                                                      : reportError;
    // The caption says what the heading says: "Done." only when nothing
    // stayed behind.
    setSingleProgressText(
        (somethingStayedBehind() ? vtrLocalized("Not everything was moved. %1") : vtrLocalized("Done. %1")).arg(where));
    // The page no longer invites a start: its text says that the transfer
    // has ended and where the report is, as the caption does; its heading
    // says whether everything was moved, and the sidebar stands on the step
    // of the walk's last page.
    if (NS_TemplateSceneViewController *scene = m_scenesViewController->templateController();
        scene && currentState() != kStateFinalSummary && !NS_ScenesViewController::sceneNameForState(currentState()).isEmpty()) {
        int lastStep = 0;
        NS_ScenesViewController::sceneNameForState(kStateFinalSummary, &lastStep);
        scene->setSidebar(lastStep);
        scene->setBody(QStringLiteral("<p>%1</p>")
                           .arg(vtrLocalized("The one-step transfer to your new phone has ended; the lines below say "
                                             "what became of each kind. %1")
                                    .arg(where)
                                    .toHtmlEscaped()));
    }
    // Nothing is left to estimate.
    showSingleEstimate(false);
    if (m_buttonsBeforeGenerate >= 0) nextButtonSetState(m_buttonsBeforeGenerate);
    m_buttonsBeforeGenerate = -1;
    headlineTheOutcome();
    updateGenerateButton();
    // The buttons that went while it ran took the focus along to another;
    // Return is the page's own default button's again.
    if (QPushButton *button = vtrapp::defaultButton(*this)) button->setFocus(Qt::OtherFocusReason);
}

namespace {

// A reader's member as the folder holds it: the data file is named only
// where it lies in "Migration Info" (open as `folder`) as a plain file, with
// its real size; a reader whose file is not there moved nothing onto the new
// phone, whatever it counted (the contacts and calendars of a Windows Phone
// go to Windows Live, never here).
QVariantMap readerMemberAsWritten(QVariantMap info, int folder)
{
    const QString name = info.value(QStringLiteral("data_file")).toString();
    struct stat file;
    if (folder >= 0 && !name.isEmpty() && !name.contains(QLatin1Char('/')) &&
        ::fstatat(folder, QFile::encodeName(name).constData(), &file, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISREG(file.st_mode)) {
        info.insert(QStringLiteral("data_size"), qint64(file.st_size));
        return info;
    }
    info.remove(QStringLiteral("data_file"));
    info.insert(QStringLiteral("data_size"), qint64(0));
    static const std::pair<const char *, const char *> kTitles[] = {
        {"contact_cnt", "Contacts"}, {"group_cnt", "Groups"}, {"event_cnt", "Events"},
        {"calendar_cnt", "Calendars"}, {"task_cnt", "Tasks"}, {"note_cnt", "Notes"}};
    for (const auto &[count, title] : kTitles) {
        const QString key = QLatin1String(count);
        if (!info.contains(key)) continue;
        info.insert(key, 0);
        // "group_cnt" goes with "group_title"; the record count with "title".
        const QString titleKey = key == QLatin1String("group_cnt")      ? QStringLiteral("group_title")
                                 : key == QLatin1String("calendar_cnt") ? QStringLiteral("calendar_title")
                                                                        : QStringLiteral("title");
        if (info.contains(titleKey)) info.insert(titleKey, vtrLocalized(title));
    }
    return info;
}

// Why no report was written (`why`), what was left as it is, and what the
// person can do about it: the first of the new phone's folder, "Migration
// Info" and the report's own name that stands in the way, with its remedy.
QString reportNotWritten(const QString &storage, const QString &why)
{
    const QString text =
        vtrLocalized("No report of what was moved was written: %1. What stands there was left as it is.").arg(why);
    const QString info = storage + QLatin1Char('/') + QLatin1String(kMigrationInfo);
    for (const auto &[path, file] : {std::pair{storage, false}, std::pair{info, false},
                                     std::pair{info + QLatin1Char('/') + QLatin1String(kManifestName), true}}) {
        const vtrenv::WriteProblem problem = vtrenv::ownItemProblem(path, file);
        if (!problem.isEmpty())
            return text + QLatin1Char(' ') + vtrLocalized("%1, then transfer again.").arg(vtrenv::remedyFor(problem));
    }
    return text;
}

}  // namespace

void NS_AppController::removeManifestReport()
{
    const VtrFileInfoPtr storage = targetFileInfoForDevice();
    if (!storage || storage->path().isEmpty()) return;
    // By descriptor from the new phone's folder: nothing is reached through
    // a link or another user's folder, and only a file of this user's goes.
    const QFileInfo where(QDir::cleanPath(storage->path()));
    const platform::Descriptor info(
        platform::openOwnFolder(where.path(), {where.fileName(), QStringLiteral("Migration Info")}, false));
    struct stat st;
    if (!info.isOpen() || ::fstatat(info.get(), kManifestName, &st, AT_SYMLINK_NOFOLLOW) != 0) return;
    const QString path =
        QDir(storage->path()).filePath(QStringLiteral("Migration Info/") + QLatin1String(kManifestName));
    if (!S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
        VTR_LOG(2, QStringLiteral("\"%1\" stays: it is no plain file of this user's.").arg(path));
        return;
    }
    if (::unlinkat(info.get(), kManifestName, 0) == 0)
        VTR_LOG(3, QStringLiteral("The report of an earlier run, \"%1\", was removed: this run changes the folder "
                                  "it described.")
                       .arg(path));
    else
        VTR_LOG(2, QStringLiteral("The report of an earlier run, \"%1\", could not be removed: %2")
                       .arg(path, QString::fromLocal8Bit(std::strerror(errno))));
}

QString NS_AppController::buildManifestReport()
{
    setStatusNow(vtrLocalized("Building report..."), vtrphase::Misc, -1.0);
    // "Migration Info" is opened, or made, by descriptor as a folder of ours
    // in the new phone's, which is one too: the report is never written
    // through a link, nor into another user's folder.
    const VtrFileInfoPtr storage = targetFileInfoForDevice();
    QString why;
    const platform::Descriptor folder(
        storage && !storage->path().isEmpty()
            ? platform::openVisibleFolder(storage->path(), {QLatin1String(kMigrationInfo)}, &why)
            : -1);
    QVariantMap report;
    report.insert(QStringLiteral("version"), 1);
    report.insert(QStringLiteral("exportdate"), vtr::st2String(QDateTime::currentDateTimeUtc()));
    static const struct
    {
        const char *key;
        ManifestKind kind;
        const QString *mediaPhase;
    } members[] = {{"contacts", ManifestKind::Contacts, nullptr},
                   {"calendars", ManifestKind::Events, nullptr},
                   {"tasks", ManifestKind::Tasks, nullptr},
                   {"notes", ManifestKind::Notes, nullptr},
                   {"photos", ManifestKind::Photos, &vtrphase::Photos},
                   {"music", ManifestKind::Music, &vtrphase::Music},
                   {"videos", ManifestKind::Videos, &vtrphase::Videos}};
    for (const auto &[key, kind, mediaPhase] : members) {
        // Media that were read but not chosen (what the start stopped) went
        // nowhere: the report tells what this run moved.
        if (mediaPhase && !kindChosen(*mediaPhase)) continue;
        const std::shared_ptr<ManifestInfoSource> source = manifestSource(kind);
        QVariantMap info = source ? source->manifestInfo() : QVariantMap();
        if (info.isEmpty()) continue;
        if (info.contains(QStringLiteral("data_file"))) info = readerMemberAsWritten(info, folder.get());
        report.insert(QLatin1String(key), info);
    }
    setTransferInfo(report);

    const QString name = QLatin1String(kManifestName);
    // A report that cannot be turned into text is not written at all: the
    // file keeps what an earlier run put there.
    const QString text = vtr::JSONRepresentation(report);
    if (text.isNull()) {
        VTR_LOG(1, QStringLiteral("Couldn't serialise the migration report."));
        return vtrLocalized("The migration report could not be written.");
    }
    if (!folder.isOpen()) {
        if (why.isEmpty()) return vtrLocalized("The migration report could not be written.");
        VTR_LOG(1, QStringLiteral("The migration report was not written: %1").arg(why));
        return reportNotWritten(QDir::cleanPath(storage->path()), why);
    }
    // A temporary file made there exclusively and renamed onto the report
    // only where nothing, or a plain file of this user's, is in its place.
    const QString at = QDir::cleanPath(storage->path()) + QLatin1Char('/') + QLatin1String(kMigrationInfo);
    if (!platform::replaceFileIn(folder.get(), at, name, text.toUtf8(), &why)) {
        VTR_LOG(1, QStringLiteral("The migration report was not written: %1").arg(why));
        return reportNotWritten(QDir::cleanPath(storage->path()), why);
    }
    return QString();
}
