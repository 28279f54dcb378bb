#include "pim/PIMDatabase.h"

#include "devices/phone/MobileDeviceInterface.h"
#include "fileinfo/VtrMacFileInfo.h"
#include "fileinfo/VtrMacFileInfoFS.h"
#include "foundation/Json.h"
#include "foundation/Log.h"
#include "foundation/MigrationStatus.h"
#include "foundation/VtrDate.h"
#include "pim/PIMDatabaseDelegate.h"
#include "pim/dialect/CompanionFile.h"
#include "pim/dialect/STRecordAndroid.h"
#include "platform/Descriptor.h"
#include "platform/Folders.h"
#include "platform/Strings.h"
#include "platform/VtrException.h"

#include <QDir>
#include <QStringDecoder>

#include <cerrno>
#include <unistd.h>

using namespace syncstore;

PIMDatabase::PIMDatabase(PIMDatabaseDelegate *delegate, std::shared_ptr<SyncManager> manager)
    : m_delegate(delegate), m_status(dynamic_cast<MigrationStatusProtocol *>(delegate)),
      m_manager(manager ? std::move(manager) : SyncManager::sharedManager())
{
}

PIMDatabase::~PIMDatabase() = default;

QString PIMDatabase::recordErrorMessage(const QString &description)
{
    return QStringLiteral("Record %1 will not be transferred to your device due to an error in its format.").arg(description);
}

bool PIMDatabase::isUtf8(const QByteArray &data)
{
    return QByteArrayView(data).isValidUtf8();
}

void PIMDatabase::logFailure(const char *message) { VtrDebugLog(QLatin1String(message)); }

// Log lines name a record by its identifier and type, never by its contents.
void PIMDatabase::logSkipped(const QVariantMap &dictionary)
{
    VtrDebugLog(recordErrorMessage(dictionary.value(QStringLiteral("uid")).toString()));
}

void PIMDatabase::logSkipped(const STRecord &record, const char *message)
{
    VtrDebugLog(message ? QString::fromLatin1(message).arg(QStringLiteral("%1 (%2)").arg(record.identifier(), record.type()))
                        : stRecordLeftOutMessage(record));
}

std::optional<QVariantList> PIMDatabase::readCompanionFile(
    const VtrFileInfoPtr &file, const std::function<std::optional<QVariantList>(QIODevice &)> &read)
{
    QString path;
    VtrFileInfoPtr copy;
    if (const auto local = std::dynamic_pointer_cast<VtrMacFileInfo>(file)) {
        path = local->path();
    } else if (file) {
        if (file->copyTo(VtrMacFileInfo::classTempFolder(), true, nullptr, nullptr, &copy) != 0 || !copy)
            throw VtrException(syncstore::kSourceExceptionName,
                               QStringLiteral("\"%1\" could not be copied from the phone.").arg(file->name()));
        path = copy->path();
    }
    struct Removal
    {
        VtrFileInfoPtr copy;
        ~Removal()
        {
            if (copy) copy->remove();
        }
    } removal{copy};
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw VtrException(syncstore::kSourceExceptionName,
                           QStringLiteral("\"%1\" could not be read: %2").arg(file ? file->name() : path, f.errorString()));
    return read(f);
}

QVariantMap PIMDatabase::manifestWith(const char *dataFile, const char *countKey, const char *one, const char *many) const
{
    return {{QStringLiteral("data_file"), QLatin1String(dataFile)},
            {QStringLiteral("timestamp"), vtr::st2String(QDateTime::currentDateTimeUtc())},
            {QLatin1String(countKey), m_recordCount},
            {QStringLiteral("data_size"), m_dataSize},
            {QStringLiteral("title"), vtrLocalized(m_recordCount == 1 ? one : many)}};
}

void PIMDatabase::runDatabaseDump() { main(); }

void PIMDatabase::writeData()
{
    const auto client = registerClient();
    if (!client) return;
    SyncSession *session = initializeSession(client);
    if (!session) return;
    struct Finish
    {
        SyncSession *s;
        ~Finish() { s->finishSyncing(); }
    } finish{session};
    createDatabase();
}

std::shared_ptr<SyncClient> PIMDatabase::registerClient()
{
    auto client = m_manager->clientWithIdentifier(clientIdentifier());
    if (!client) client = m_manager->registerClientWithIdentifier(clientIdentifier(), clientDescriptionPath());
    m_syncClient = client;
    return client;
}

SyncSession *PIMDatabase::initializeSession(const std::shared_ptr<SyncClient> &client)
{
    m_syncSession = m_manager->beginSession(client, entityNamesToSync(), QDateTime());
    if (!m_syncSession) {
        VtrDebugLog(m_manager->isEnabled() ? QStringLiteral("Prund tasks sync timed out in beginSession")
                                           : QStringLiteral("Syncing is currently disabled"));
    }
    return m_syncSession.get();
}

std::shared_ptr<MobileDeviceInterface> PIMDatabase::targetDevice() const
{
    std::lock_guard lock(m_targetMutex);
    return m_targetDevice;
}

void PIMDatabase::setTargetDevice(std::shared_ptr<MobileDeviceInterface> device)
{
    std::lock_guard lock(m_targetMutex);
    m_targetDevice = std::move(device);
}

bool PIMDatabase::targetIsWindowsPhone() const
{
    const auto target = targetDevice();
    return target && target->isWindowsPhone7Device();
}

void PIMDatabase::reportNow(const QString &text, const QString &phase, double percent) const
{
    if (m_status) m_status->setStatusNow(vtrLocalized(text), phase, percent);
}

void PIMDatabase::report(const QString &text, const QString &phase, double percent) const
{
    if (m_status) m_status->setStatus(text, phase, percent);
}

SyncRecordList PIMDatabase::snapshotRecords(const QString &entityName, std::unique_ptr<SyncRecordSnapshot> *snapshot)
{
    auto s = m_manager->snapshotOfRecordsInTruth({entityName});
    if (!s) return {};
    const SyncRecordList records = s->recordsWithMatchingAttributes({{kRecordEntityNameKey, entityName}});
    if (snapshot) *snapshot = std::move(s);
    return records;
}

// ---- export file --------------------------------------------------------------

PIMDatabase::ExportFile::ExportFile(const QString &fileName)
    : m_file(QDir(platform::temporaryFolder()).filePath(fileName))
{
    QFile::remove(m_file.fileName());
    if (!m_file.open(QIODevice::ReadWrite | QIODevice::Truncate | QIODevice::NewOnly,
                     QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        throw VtrException(QStringLiteral("PIMExportException"),
                           QStringLiteral("The file \"%1\" could not be created: %2").arg(fileName, m_file.errorString()));
}

PIMDatabase::ExportFile::~ExportFile()
{
    m_file.close();
    QFile::remove(m_file.fileName());
}

bool PIMDatabase::ExportFile::writeLine(const QString &database, const QVariantMap &record)
{
    const QByteArray bytes = exportLine(database, record);
    if (bytes.isEmpty()) {
        logSkipped(record);
        return false;
    }
    if (m_file.write(bytes) != bytes.size())
        throw VtrException(QStringLiteral("PIMExportException"),
                           QStringLiteral("The file \"%1\" could not be written: %2")
                               .arg(QFileInfo(m_file).fileName(), m_file.errorString()));
    return true;
}

qint64 PIMDatabase::ExportFile::finish(PIMDatabase &owner, const QString &copyingText, const QString &phase,
                                       const QString &missingText)
{
    m_file.flush();
    const auto target = owner.targetDevice();
    if (m_file.size() <= 0 || !target) {
        m_file.close();
        VtrDebugLog(missingText);
        return 0;
    }
    owner.reportNow(copyingText, phase, -1.0);
    // Into "Migration Info" by descriptor, a folder of ours in the new
    // phone's, which is one too: the file is never written through a link,
    // and what is not a plain file of this user's at its name stays.
    const QString name = QFileInfo(m_file.fileName()).fileName();
    const VtrFileInfoPtr storage = target->preferredStorageInfo();
    const QString storagePath = storage ? QDir::cleanPath(storage->path()) : QString();
    QString why;
    const platform::Descriptor folder(
        storagePath.isEmpty() ? -1 : platform::openVisibleFolder(storagePath, {QStringLiteral("Migration Info")}, &why));
    const int source = m_file.handle();
    qint64 copied = 0;
    const auto copy = [source, &copied](int fd) {
        char buffer[1 << 16];
        for (;;) {
            const ssize_t n = ::pread(source, buffer, sizeof buffer, off_t(copied));
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return false;
            if (n == 0) return true;
            if (!vtr::localfs::writeAll(fd, buffer, n)) return false;
            copied += n;
        }
    };
    const QString at = storagePath + QStringLiteral("/Migration Info");
    const bool ok = folder.isOpen() && platform::replaceFileIn(folder.get(), at, name, copy, &why);
    m_file.close();
    if (!ok) {
        const QString text = QStringLiteral("\"%1\" could not be copied into \"Migration Info\"").arg(name);
        throw VtrException(QStringLiteral("PIMExportException"),
                           why.isEmpty() ? text + QLatin1Char('.') : QStringLiteral("%1: %2.").arg(text, why));
    }
    return copied;
}
