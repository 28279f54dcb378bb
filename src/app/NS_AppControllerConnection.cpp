#include "app/NS_AppController.h"

#include "devices/phone/MobileDevice.h"
#include "fileinfo/VtrBaseFileInfo.h"
#include "platform/Strings.h"

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
