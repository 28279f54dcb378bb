#include "app/NS_AppController.h"

#include "devices/phone/MobileDevice.h"
#include "fileinfo/VtrBaseFileInfo.h"
#include "foundation/Json.h"
#include "foundation/Log.h"
#include "foundation/MigrationStatus.h"
#include "foundation/VtrDate.h"
#include "platform/Strings.h"

#include <QDateTime>

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
        request.beep = true;
        runAlert(request);
    });
}

void NS_AppController::generate()
{
    if (numDataTypesSelected() == 0 || m_jobsRunning > 0 || !m_jobs) return;
    if (m_jobs->generate(*this)) nextButtonSetEnabled(false);
}

QString NS_AppController::buildManifestReport()
{
    setStatusNow(vtrLocalized("Building report..."), vtrphase::Misc, -1.0);
    QVariantMap report;
    report.insert(QStringLiteral("version"), 1);
    report.insert(QStringLiteral("exportdate"), vtr::st2String(QDateTime::currentDateTimeUtc()));
    static const std::pair<const char *, ManifestKind> members[] = {
        {"contacts", ManifestKind::Contacts}, {"calendars", ManifestKind::Events}, {"tasks", ManifestKind::Tasks},
        {"notes", ManifestKind::Notes},       {"photos", ManifestKind::Photos},    {"music", ManifestKind::Music},
        {"videos", ManifestKind::Videos}};
    for (const auto &[key, kind] : members) {
        const std::shared_ptr<ManifestInfoSource> source = manifestSource(kind);
        const QVariantMap info = source ? source->manifestInfo() : QVariantMap();
        if (!info.isEmpty()) report.insert(QLatin1String(key), info);
    }
    setTransferInfo(report);

    const QString name = QStringLiteral("sl_manifest.json");
    // A report that cannot be turned into text is not written at all: the
    // file keeps what an earlier run put there.
    const QString text = vtr::JSONRepresentation(report);
    if (text.isNull()) {
        VTR_LOG(1, QStringLiteral("Couldn't serialise the migration report."));
        return vtrLocalized("The migration report could not be written.");
    }
    const std::shared_ptr<MobileDevice> target = newDevice();
    const VtrFileInfoPtr folder = target ? target->preferredMigrationExportFolder() : nullptr;
    // The file layer writes a temporary file and renames it over the old one.
    const VtrFileInfoPtr file = folder ? folder->createFile(name, text.toUtf8(), QVariantMap()) : nullptr;
    if (!file || !file->exists()) {
        VTR_LOG(1, QStringLiteral("Couldn't write file \"%1\" to the device.").arg(name));
        return vtrLocalized("The migration report could not be written.");
    }
    return QString();
}
