// The phone's command interface: transport, connection, the file API and the
// media pass-throughs. Drives, paths, caches, nodes and configuration are in
// PlatformDeviceDrives.cpp.

#include "devices/command/PlatformDevice.h"

#include "devices/command/DeviceClock.h"
#include "devices/command/DeviceCommands.h"
#include "devices/command/VtrSymbianFileInfo.h"
#include "devices/mtp/MTPDevice.h"
#include "devices/usb/VolumeDetection.h"
#include "fileinfo/DeviceVolumes.h"
#include "fileinfo/VtrMacFileInfo.h"
#include "foundation/Log.h"
#include "foundation/VtrBase64.h"
#include "foundation/VtrDate.h"
#include "foundation/VtrString.h"
#include "platform/Strings.h"
#include "platform/VtrException.h"

#include <condition_variable>
#include <mutex>

using namespace DeviceCommands;
using namespace devicelisting;

namespace {

// The class-wide slot: at most one PlatformDevice is alive. A condition
// variable rather than a held mutex, so the slot may be given back by another
// thread than the one that took it.
std::mutex g_slotMutex;
std::condition_variable g_slotFreed;
bool g_slotTaken = false;

// Base64 lines of the write command.
constexpr quint32 kBase64LineLength = 80;

const QChar kBackslash = QLatin1Char('\\');
const QString kDeviceConfiguration = QStringLiteral("Device Configuration");
const QString kUsbProductId = QStringLiteral("USB Product ID");
const QString kUsbVendorId = QStringLiteral("USB Vendor ID");

// A single name the phone may be asked to use (no separator, NUL, "." or
// "..").
bool isPlainName(const QString &name)
{
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..")) return false;
    return !name.contains(kBackslash) && !name.contains(QLatin1Char('/')) && !name.contains(QChar(0));
}

} // namespace

PlatformDevice::InstanceSlot::InstanceSlot()
{
    std::unique_lock<std::mutex> lock(g_slotMutex);
    g_slotFreed.wait(lock, [] { return !g_slotTaken; });
    g_slotTaken = true;
}

PlatformDevice::InstanceSlot::~InstanceSlot()
{
    {
        std::lock_guard<std::mutex> lock(g_slotMutex);
        g_slotTaken = false;
    }
    g_slotFreed.notify_all();
}

void PlatformDevice::StateMutex::lock()
{
    m_mutex.lock();
    if (m_depth++ == 0) m_owner.store(std::this_thread::get_id());
}

void PlatformDevice::StateMutex::unlock()
{
    if (--m_depth == 0) m_owner.store(std::thread::id());
    m_mutex.unlock();
}

PlatformDevice::PlatformDevice()
    : m_listings([this](const QString &path, const QVariantMap &entry) {
          return VtrSymbianFileInfo::fileInfoWithPath(path, entry, this);
      }),
      m_agent(new DeviceAgentSession(static_cast<DeviceAgentHost *>(this)))
{}

PlatformDevice::~PlatformDevice()
{
    // Nodes handed out may outlive the listings; the listings go first so the
    // nodes they hold are released while this object is still whole.
    m_listings.clearListings();
    m_listings.clearDrives();
}

std::unique_ptr<PlatformDevice> PlatformDevice::makeConnected()
{
    auto device = std::make_unique<PlatformDevice>();
    device->connect();
    return device;
}

// ---- transport and connection ------------------------------------------------------------

void PlatformDevice::setCommandAnswerer(DeviceCommandAnswerer *answerer)
{
    const StateLock lock(m_stateMutex);
    m_answerer = answerer;
}

DeviceCommandAnswerer *PlatformDevice::commandAnswerer() const
{
    const StateLock lock(m_stateMutex);
    return m_answerer;
}

void PlatformDevice::setUseBinaryProtocol(bool binary)
{
    const StateLock lock(m_stateMutex);
    m_useBinaryProtocol = binary;
}

void PlatformDevice::setConnectionInfo(const QVariantMap &info)
{
    const StateLock lock(m_stateMutex);
    m_connectionInfo = info;
}

QVariantMap PlatformDevice::getConnectionInfo() const
{
    const StateLock lock(m_stateMutex);
    return m_connectionInfo;
}

void PlatformDevice::throwIfNotConnected(const QString &operation)
{
    DeviceAgent::throwIfNotConnected(m_connected, operation);
}

void PlatformDevice::connect()
{
    m_connected = true;
}

void PlatformDevice::disconnect()
{
    // Cleared before the lock is taken: an operation waiting for the lock
    // then fails at its connection check instead of asking the phone.
    m_connected = false;
    const StateLock lock(m_stateMutex);
    m_agent->setReadTimeout(kTimeoutAfterDisconnect);
    // The phone went away: nothing read from it may be shown for the next.
    forgetPhoneState();
    m_phoneHandle = nullptr;
    m_listings.clearListings();
    m_listings.clearDrives();
    m_fileIsOpen = false;
    m_fileIsOpenForWrite = false;
    m_filePathInUse.clear();
}

void PlatformDevice::forgetPhoneState()
{
    m_deviceInfoFromDevice.reset();
    m_deviceUUID.clear();
    m_phoneContentRevision = 0;
    m_storedContentRevision = 0;
    m_contentRevisionDevice = nullptr;
}

void PlatformDevice::syncPhoneIdentity()
{
    LIBMTP_mtpdevice_struct *handle = mtpDevice();
    if (!handle || handle == m_phoneHandle) return;
    const bool hadPhone = m_phoneHandle != nullptr;
    m_phoneHandle = handle;
    if (!hadPhone) return;
    forgetPhoneState();
    m_listings.clearListings();
    m_listings.clearDrives();
}

bool PlatformDevice::hasMassStorageConnectionOnly()
{
    const StateLock lock(m_stateMutex);
    if (m_connected) return false;
    return m_connectionInfo.value(QStringLiteral("hasMassStorageConnection")).toBool();
}

LIBMTP_mtpdevice_struct *PlatformDevice::mtpDevice()
{
    const std::shared_ptr<MTPDevice> device = currentMtp();
    return device ? device->mtpDevice() : nullptr;
}

std::shared_ptr<MTPDevice> PlatformDevice::currentMtp() const
{
    std::lock_guard<std::mutex> lock(m_mtpLock);
    return m_mtpDevice;
}

std::shared_ptr<MTPDevice> PlatformDevice::liveMtp()
{
    if (!m_connected) return nullptr;
    std::shared_ptr<MTPDevice> device = currentMtp();
    if (!device || !device->mtpDevice()) return nullptr;
    return device;
}

void PlatformDevice::setMTPDeviceObject(std::shared_ptr<MTPDevice> device)
{
    const StateLock lock(m_stateMutex);
    if (device != currentMtp()) {
        {
            std::lock_guard<std::mutex> lock(m_mtpLock);
            m_mtpDevice.swap(device);
        }
        // The old object (now in `device`) is released outside the lock.
        device.reset();
        // Another phone: nothing read from the last one may be shown for it,
        // and the answerer's open file is not ours any more.
        forgetPhoneState();
        m_phoneHandle = mtpDevice();
        m_fileIsOpen = false;
        m_fileIsOpenForWrite = false;
        m_filePathInUse.clear();
    }
    m_listings.clearDrives();
    m_listings.clearListings();
}

QVariant PlatformDevice::sendCmdWithDictionary(const QVariantMap &command)
{
    const StateLock lock(m_stateMutex);
    return sendCmdWithDictionary(command, QByteArray());
}

QVariant PlatformDevice::sendCmdWithDictionary(const QVariantMap &command, const QByteArray &blob)
{
    const StateLock lock(m_stateMutex);
    // A phone that was disconnected may already be released: never reach it.
    throwIfNotConnected(QString());
    if (std::shared_ptr<MTPDevice> mtpDevice = liveMtp()) return mtpDevice->sendCmdWithDictionary(command);
    if (m_answerer) return m_answerer->answerCommand(command, blob);
    return QVariant(m_agent->sendCmdWithDictionary(command, blob));
}

// ---- DeviceAgentHost --------------------------------------------------------------------

bool PlatformDevice::hasLiveMtpHandle()
{
    return liveMtp() != nullptr;
}

QVariant PlatformDevice::sendCmdToMtp(const QVariantMap &command)
{
    std::shared_ptr<MTPDevice> mtpDevice = liveMtp();
    return mtpDevice ? mtpDevice->sendCmdWithDictionary(command) : QVariant();
}

QVariantMap PlatformDevice::deviceInfoFromDevice()
{
    const StateLock lock(m_stateMutex);
    return m_deviceInfoFromDevice.value_or(QVariantMap());
}

void PlatformDevice::forgetDeviceInfoFromDevice()
{
    const StateLock lock(m_stateMutex);
    m_deviceInfoFromDevice.reset();
}

// ---- synchronization and device (the agent road) -------------------------------------------

void PlatformDevice::startSync()
{
    const StateLock lock(m_stateMutex);
    m_agent->startSync();
}

void PlatformDevice::stopSync(bool success)
{
    const StateLock lock(m_stateMutex);
    m_agent->stopSync(success);
}

void PlatformDevice::cancelSync()
{
    const StateLock lock(m_stateMutex);
    m_agent->cancelSync();
}

void PlatformDevice::commitDatabaseSync(bool success, const QString &database)
{
    const StateLock lock(m_stateMutex);
    m_agent->commitDatabaseSync(success, database);
}

bool PlatformDevice::isSyncing()
{
    const StateLock lock(m_stateMutex);
    return m_agent->isSyncing();
}

QVariantMap PlatformDevice::getTime()
{
    const StateLock lock(m_stateMutex);
    if (m_answerer && !hasLiveMtpHandle() && !hasMassStorageConnectionOnly()) {
        throwIfNotConnected(QStringLiteral("getTime"));
        return sendCmdWithDictionary(makeCommand(kGetTime)).toMap();
    }
    return m_agent->getTime();
}

void PlatformDevice::setTime(const QString &time)
{
    const StateLock lock(m_stateMutex);
    m_agent->setTime(time);
}

QVariantMap PlatformDevice::getDeviceInfo()
{
    const StateLock lock(m_stateMutex);
    throwIfNotConnected(QStringLiteral("GetDeviceInfo"));
    syncPhoneIdentity();
    if (m_deviceInfoFromDevice) return *m_deviceInfoFromDevice;

    QVariantMap info;
    if (std::shared_ptr<MTPDevice> mtpDevice = liveMtp()) {
        info = mtpDevice->getDeviceInfo();
    } else if (hasMassStorageConnectionOnly()) {
        info = {{QStringLiteral("user"), QStringLiteral("")},
                {QStringLiteral("OSVersion"), QStringLiteral("")},
                {QStringLiteral("deviceApplicationIdentifier"), QStringLiteral("")},
                {QStringLiteral("rev"), QStringLiteral("0")},
                {QStringLiteral("supports_compression"), kFalse},
                {QStringLiteral("MARF"), kFalse}};
        QVariantMap configuration;
        quint16 vendor = 0;
        quint16 product = 0;
        if (!m_pathsToDeviceMountPoints.isEmpty() &&
            VolumeDetection::sharedManager()->isDeviceVolumeForPath(m_pathsToDeviceMountPoints.first(), &configuration,
                                                                    &vendor, &product)) {
            info.insert(kDeviceConfiguration, configuration);
            info.insert(kUsbProductId, QString::number(product));
            info.insert(kUsbVendorId, QString::number(vendor));
        }
    } else {
        info = m_answerer ? sendCmdWithDictionary(makeCommand(kGetDeviceInfo)).toMap() : m_agent->requestDeviceInfo();
        if (!info.contains(QStringLiteral("platform")))
            info.insert(QStringLiteral("platform"), QStringLiteral("<unknown>"));
        if (!info.contains(kDeviceConfiguration)) {
            QVariantMap configuration;
            if (VolumeDetection::sharedManager()->isMountedVolumeSavedVendorID(0, 0, &configuration))
                info.insert(kDeviceConfiguration, configuration);
            info.insert(kUsbProductId, QStringLiteral("0"));
            info.insert(kUsbVendorId, QStringLiteral("0"));
        }
    }
    m_deviceInfoFromDevice = info;
    return info;
}

QString PlatformDevice::name()
{
    const StateLock lock(m_stateMutex);
    const QVariantMap info = getDeviceInfo();
    return QStringLiteral("%1 %2").arg(info.value(QStringLiteral("manufacturer")).toString(),
                                       info.value(QStringLiteral("model")).toString());
}

QString PlatformDevice::getDeviceName()
{
    const StateLock lock(m_stateMutex);
    const QVariantMap info = getDeviceInfo();
    const QString name = info.value(QStringLiteral("name")).toString();
    if (!name.isEmpty()) return name;
    return info.value(kDeviceConfiguration).toMap().value(QStringLiteral("deviceName")).toString();
}

QString PlatformDevice::getDebugInfo()
{
    const StateLock lock(m_stateMutex);
    return m_agent->getDebugInfo();
}

QString PlatformDevice::getDeviceLog()
{
    const StateLock lock(m_stateMutex);
    return m_agent->getDeviceLog();
}

QString PlatformDevice::getDevicePreviousLog()
{
    const StateLock lock(m_stateMutex);
    return m_agent->getDevicePreviousLog();
}

void PlatformDevice::setDeviceLogLevel(int level)
{
    const StateLock lock(m_stateMutex);
    m_agent->setDeviceLogLevel(level);
}

void PlatformDevice::clearDeviceLog()
{
    const StateLock lock(m_stateMutex);
    m_agent->clearDeviceLog();
}

bool PlatformDevice::handshakeWithDevice()
{
    const StateLock lock(m_stateMutex);
    return m_agent->handshakeWithDevice();
}

QString PlatformDevice::getDeviceVersion()
{
    const StateLock lock(m_stateMutex);
    return m_agent->getDeviceVersion();
}

void PlatformDevice::clearDeviceError()
{
    const StateLock lock(m_stateMutex);
    m_agent->clearDeviceError();
}

// ---- logs and records ------------------------------------------------------------------------

QVariantMap PlatformDevice::getAllLogs(const QString &time, const QString &cookie)
{
    const StateLock lock(m_stateMutex);
    return m_agent->getAllLogs(time, cookie);
}

QVariantMap PlatformDevice::getSMSLogs(const QString &time, const QString &cookie)
{
    const StateLock lock(m_stateMutex);
    return m_agent->getSMSLogs(time, cookie);
}

QVariantMap PlatformDevice::getCallLogs(const QString &time, const QString &cookie)
{
    const StateLock lock(m_stateMutex);
    return m_agent->getCallLogs(time, cookie);
}

bool PlatformDevice::openDatabase(const QString &database, const QString &cookie)
{
    const StateLock lock(m_stateMutex);
    return m_agent->openDatabase(database, cookie);
}

void PlatformDevice::closeDatabase(const QString &database)
{
    const StateLock lock(m_stateMutex);
    m_agent->closeDatabase(database);
}

void PlatformDevice::setSyncCookie(const QString &cookie, const QString &key)
{
    const StateLock lock(m_stateMutex);
    m_agent->setSyncCookie(cookie, key);
}

QString PlatformDevice::getSyncCookie(const QString &key)
{
    const StateLock lock(m_stateMutex);
    return m_agent->getSyncCookie(key);
}

QSet<QString> PlatformDevice::getAllRecordIDs(const QString &database)
{
    const StateLock lock(m_stateMutex);
    return m_agent->getAllRecordIDs(database);
}

QVariantList PlatformDevice::getAllRecordIDsAsArray(const QString &database)
{
    const StateLock lock(m_stateMutex);
    return m_agent->getAllRecordIDsAsArray(database);
}

QSet<QString> PlatformDevice::getNewRecordIDs(const QString &database)
{
    const StateLock lock(m_stateMutex);
    return m_agent->getNewRecordIDs(database);
}

QSet<QString> PlatformDevice::getModifiedRecordIDs(const QString &database, const QString &since)
{
    const StateLock lock(m_stateMutex);
    return m_agent->getModifiedRecordIDs(database, since);
}

QSet<QString> PlatformDevice::getDeletedRecordIDs(const QString &database)
{
    const StateLock lock(m_stateMutex);
    return m_agent->getDeletedRecordIDs(database);
}

QVariantMap PlatformDevice::getRecord(const QString &database, const QString &recordID, bool hashesOK)
{
    const StateLock lock(m_stateMutex);
    return m_agent->getRecord(database, recordID, hashesOK);
}

QString PlatformDevice::getRecordHash(const QString &database, const QString &recordID)
{
    const StateLock lock(m_stateMutex);
    return m_agent->getRecordHash(database, recordID);
}

QVariant PlatformDevice::getField(const QString &database, const QString &recordID, const QString &field)
{
    const StateLock lock(m_stateMutex);
    return m_agent->getField(database, recordID, field);
}

QString PlatformDevice::getFieldHash(const QString &database, const QString &recordID, const QString &field)
{
    const StateLock lock(m_stateMutex);
    return m_agent->getFieldHash(database, recordID, field);
}

QVariantMap PlatformDevice::addRecord(const QString &database, const QVariantMap &record)
{
    const StateLock lock(m_stateMutex);
    return m_agent->addRecord(database, record);
}

QString PlatformDevice::modifyRecord(const QString &database, const QString &recordID, const QVariantMap &record)
{
    const StateLock lock(m_stateMutex);
    return m_agent->modifyRecord(database, recordID, record);
}

QVariantMap PlatformDevice::modifyRecordAndReturnResultDictionary(const QString &database, const QString &recordID,
                                                                  const QVariantMap &record)
{
    const StateLock lock(m_stateMutex);
    return m_agent->modifyRecordAndReturnResultDictionary(database, recordID, record);
}

void PlatformDevice::deleteRecord(const QString &database, const QString &recordID)
{
    const StateLock lock(m_stateMutex);
    m_agent->deleteRecord(database, recordID);
}

void PlatformDevice::deleteAllRecords(const QString &database)
{
    const StateLock lock(m_stateMutex);
    m_agent->deleteAllRecords(database);
}

void PlatformDevice::clearHashesForDatabase(const QString &database)
{
    const StateLock lock(m_stateMutex);
    m_agent->clearHashesForDatabase(database);
}

// ---- clock ---------------------------------------------------------------------------------------

double PlatformDevice::getTimeZoneOffset()
{
    const StateLock lock(m_stateMutex);
    return DeviceClock(getTime()).timeZoneOffset();
}

QDateTime PlatformDevice::_getDeviceUTCTime()
{
    return DeviceClock(getTime()).utcTime();
}

QString PlatformDevice::_getDeviceUTCTimeAsST2String()
{
    return DeviceClock(getTime()).utcTimeAsST2String();
}

QDateTime PlatformDevice::_getDeviceLocalTimeWithNoTZ()
{
    return DeviceClock(getTime()).localTimeWithNoTZ();
}

QString PlatformDevice::_getDeviceLocalTimeAsST2String()
{
    return DeviceClock(getTime()).localTimeAsST2String();
}

// ---- the open file -----------------------------------------------------------------------------

bool PlatformDevice::isFileOpen() const
{
    const StateLock lock(m_stateMutex);
    return m_fileIsOpen;
}

bool PlatformDevice::isFileOpenForWrite() const
{
    const StateLock lock(m_stateMutex);
    return m_fileIsOpenForWrite;
}

QString PlatformDevice::filePathInUse() const
{
    const StateLock lock(m_stateMutex);
    return m_filePathInUse;
}

QVariantMap PlatformDevice::writeCommand(qint64 from, const QByteArray &chunk)
{
    QVariant data;
    if (!DeviceAgent::agentUsesMarfFrames(deviceInfoFromDevice()))
        data = m_useBinaryProtocol ? QVariant(chunk)
                                   : QVariant(vtr::base64EncodingWithLineLength(chunk, kBase64LineLength));
    return fsWriteFile(from, data);
}

QByteArray PlatformDevice::replyBytes(const QVariantMap &reply)
{
    const QVariant data = reply.value(kArgData);
    if (data.typeId() == QMetaType::QByteArray) return data.toByteArray();
    if (data.typeId() == QMetaType::QString) return vtr::dataWithBase64EncodedString(data.toString());
    return QByteArray();
}

int PlatformDevice::openFileWithPath(const QString &path, bool overwrite)
{
    const StateLock lock(m_stateMutex);
    if (m_fileIsOpen) return -1;
    const QString standard = standardizeDevicePath(path);
    if (!sendCmdWithDictionary(fsOpenFile(standard, overwrite)).isValid()) return -1;
    m_fileIsOpen = true;
    m_fileIsOpenForWrite = overwrite;
    m_filePathInUse = standard;
    QVariantMap entry{{kEntryType, kTypeFile}};
    if (overwrite) entry.insert(kEntrySize, QStringLiteral("0"));
    m_listings.storeEntry(entry, standard);
    return 0;
}

int PlatformDevice::closeFile()
{
    const StateLock lock(m_stateMutex);
    if (!m_fileIsOpen) return -1;
    const bool wasForWrite = m_fileIsOpenForWrite;
    const QString path = m_filePathInUse;
    m_fileIsOpen = false;
    m_fileIsOpenForWrite = false;
    m_filePathInUse.clear();
    QVariant result;
    try {
        result = sendCmdWithDictionary(fsCloseFile());
    } catch (const VtrException &e) {
        VTR_LOG(4, QStringLiteral("closeFile: caught an exception trying to close a device file: %1").arg(e.reason()));
        throw;
    }
    if (!result.isValid()) return -1;
    if (wasForWrite)
        m_listings.storeEntry({{kEntryType, kTypeFile}, {kEntryMod, _getDeviceLocalTimeAsST2String()}}, path);
    return 0;
}

QByteArray PlatformDevice::contentsOfFileWithRange(const VtrFileRange &range)
{
    const StateLock lock(m_stateMutex);
    if (!m_fileIsOpen || range.location < 0 || range.length < 0) return QByteArray();
    const QVariant result = sendCmdWithDictionary(fsReadFile(range.location, range.length));
    if (!result.isValid()) return QByteArray();
    const QVariantMap reply = result.toMap();
    bool ok = false;
    const qint64 count = parseNumberText(reply.value(kArgCount), &ok);
    if (!ok || count < 0) return QByteArray();
    const QByteArray bytes = replyBytes(reply);
    // Never more than the reply announced, delivered, or was asked for.
    const qint64 n = std::min({count, qint64(bytes.size()), range.length});
    return bytes.left(n);
}

int PlatformDevice::setFileContents(const QByteArray &data, const VtrFileRange &range)
{
    const StateLock lock(m_stateMutex);
    if (!m_fileIsOpen || range.location < 0) return -1;
    const QString path = m_filePathInUse;
    if (!sendCmdWithDictionary(writeCommand(range.location, data), data).isValid()) return -1;
    if (const NodePtr node = m_listings.node(path)) {
        QVariantMap entry{{kEntryType, kTypeFile}};
        const qint64 end = range.location + qint64(data.size());
        if (end > node->size()) entry.insert(kEntrySize, numberText(end));
        m_listings.storeEntry(entry, path);
    }
    m_listings.forgetDriveOf(path);
    return 0;
}

// ---- whole files -----------------------------------------------------------------------------------

QByteArray PlatformDevice::contentsOfFileWithPath(const QString &path, qint64 size)
{
    const StateLock lock(m_stateMutex);
    return contentsOfFileWithPath(path, size, nullptr, nullptr, nullptr);
}

QByteArray PlatformDevice::contentsOfFileWithPath(const QString &path, qint64 size, const VtrFileInfoPtr &fileInfo,
                                                  FileInfoProgress *progress, void *userData)
{
    const StateLock lock(m_stateMutex);
    throwIfNotConnected(QStringLiteral("contentsOfFileWithPath"));
    const qint64 total = std::max<qint64>(size, 0);
    const QString standard = standardizeDevicePath(path);
    QByteArray data;
    data.reserve(qsizetype(std::min(total, kChunkSize)));

    if (!sendCmdWithDictionary(fsOpenFile(standard, false)).isValid()) return data;
    // The answerer now has this file open, not the one of openFileWithPath.
    m_fileIsOpen = false;
    m_fileIsOpenForWrite = false;
    m_filePathInUse.clear();

    FileInfoReadProgress *reader = asReadProgress(progress);
    qint64 offset = 0;
    int failedAttempts = 0;
    while (offset < total) {
        const qint64 chunk = std::min(total - offset, kChunkSize);
        const QVariant result = sendCmdWithDictionary(fsReadFile(offset, chunk));
        const QVariantMap reply = result.toMap();
        bool ok = false;
        const qint64 count = result.isValid() ? parseNumberText(reply.value(kArgCount), &ok) : 0;
        const QByteArray bytes = ok ? replyBytes(reply) : QByteArray();
        // Copy no more than was announced, delivered and asked for.
        const qint64 n = ok ? std::min({count, qint64(bytes.size()), chunk}) : 0;
        if (n <= 0) {
            if (++failedAttempts < kMaxReadAttempts) continue;
            try {
                sendCmdWithDictionary(fsCloseFile());
            } catch (const VtrException &) {
            }
            VTR_LOG(2, QStringLiteral("Reading %1 failed at byte %2.").arg(standard).arg(offset));
            throw VtrException(kStopSyncException, vtrLocalized("Error reading from device. (%1)").arg(-1));
        }
        failedAttempts = 0;
        data.append(bytes.constData(), qsizetype(n));
        offset += n;
        if (reader && reader->readingContentsForFile(fileInfo, data, offset, total, userData)) break;
    }
    sendCmdWithDictionary(fsCloseFile());
    return data;
}

VtrFileInfoPtr PlatformDevice::createFileWithPath(const QString &path, const QByteArray &contents)
{
    const StateLock lock(m_stateMutex);
    return _createFileWithPath(path, contents, nullptr, nullptr, nullptr, true);
}

VtrFileInfoPtr PlatformDevice::createFileWithPath(const QString &path, const QByteArray &contents,
                                                  const VtrFileInfoPtr &fileInfo, FileInfoProgress *progress,
                                                  void *userData)
{
    const StateLock lock(m_stateMutex);
    return _createFileWithPath(path, contents, fileInfo, progress, userData, true);
}

VtrFileInfoPtr PlatformDevice::_createFileWithPath(const QString &path, const QByteArray &contents,
                                                   const VtrFileInfoPtr &fileInfo, FileInfoProgress *progress,
                                                   void *userData, bool useCache)
{
    throwIfNotConnected(QStringLiteral("createFileWithPath:withContents:withProgress:withUserData:"));
    const QString standard = standardizeDevicePath(path);
    if (liveMtp()) return createFileOverMtp(standard, contents, fileInfo, progress, userData, useCache);
    if (!sendCmdWithDictionary(fsOpenFile(standard, true)).isValid()) return nullptr;
    m_fileIsOpen = false;
    m_fileIsOpenForWrite = false;
    m_filePathInUse.clear();

    FileInfoWriteProgress *writer = asWriteProgress(progress);
    const qint64 total = contents.size();
    qint64 written = 0;
    bool complete = true;
    if (total > 0) {
        QByteArray chunk;
        while (written < total) {
            const qint64 n = std::min(total - written, kChunkSize);
            chunk.resize(qsizetype(n));
            memcpy(chunk.data(), contents.constData() + written, size_t(n));
            const QVariant result = sendCmdWithDictionary(writeCommand(written, chunk), chunk);
            if (!result.isValid()) {
                // The phone did not take the chunk: the file is not what was asked.
                complete = false;
                break;
            }
            written += n;
            if (writer && writer->writingContentsForFile(fileInfo, written, total, userData)) {
                complete = written == total;
                break;
            }
        }
        m_listings.forgetDriveOf(standard);
    }
    if (!sendCmdWithDictionary(fsCloseFile()).isValid()) return nullptr;

    const QVariantMap entry{{kEntryType, kTypeFile}, {kEntrySize, numberText(written)}};
    VtrFileInfoPtr node;
    if (useCache) node = m_listings.storeEntry(entry, standard);
    if (!node) node = deviceFileInfoWithPathUseCache(standard, useCache);
    return complete ? node : nullptr;
}

VtrFileInfoPtr PlatformDevice::createFileOverMtp(const QString &standard, const QByteArray &contents,
                                                 const VtrFileInfoPtr &fileInfo, FileInfoProgress *progress,
                                                 void *userData, bool useCache)
{
    // Over MTP an object exists only once the phone has received it whole
    // (opening a file there makes nothing): the contents travel from a
    // private local file, as a copy.
    const VtrFileInfoPtr tempRoot = VtrMacFileInfo::classTempFolder();
    const VtrFileInfoPtr tempFolder = tempRoot ? tempRoot->createUniqueFolder(QStringLiteral("phonefile")) : nullptr;
    if (!tempFolder) return nullptr;
    FileInfoCopyStatus status = kFileInfoCopyWriteFailed;
    try {
        const VtrFileInfoPtr local =
            tempFolder->createFile(vtr::windowsLastPathComponent(standard), contents, QVariantMap(), false);
        const VtrFileInfoPtr target = deviceFileInfoWithPathUseCache(standard, useCache);
        if (local && local->exists() && target) status = copyDesktopFile(local, target, nullptr, nullptr);
    } catch (...) {
        tempFolder->remove();
        throw;
    }
    tempFolder->remove();
    if (status != kFileInfoCopyOK) return nullptr;
    if (FileInfoWriteProgress *writer = asWriteProgress(progress))
        writer->writingContentsForFile(fileInfo, contents.size(), contents.size(), userData);
    return deviceFileInfoWithPathUseCache(standard, useCache);
}

VtrFileInfoList PlatformDevice::contentsOfFolderWithPath(const QString &path)
{
    const StateLock lock(m_stateMutex);
    const std::optional<Listing> listing = _contentsOfFolderWithPath(path, true);
    VtrFileInfoList nodes;
    if (listing)
        for (const NodePtr &node : *listing)
            nodes.append(node);
    return nodes;
}

VtrFileInfoPtr PlatformDevice::createFolderWithPath(const QString &path)
{
    const StateLock lock(m_stateMutex);
    return _createFolderWithPath(path, true);
}

VtrFileInfoPtr PlatformDevice::_createFolderWithPath(const QString &path, bool useCache)
{
    throwIfNotConnected(QStringLiteral("createFolderWithPath:"));
    QString standard = standardizeDevicePath(path);
    if (!standard.endsWith(kBackslash)) standard += kBackslash;
    try {
        if (!sendCmdWithDictionary(fsMkDir(standard)).isValid()) return nullptr;
        VtrFileInfoPtr node;
        if (useCache) node = m_listings.storeEntry({{kEntryType, kTypeDir}}, standard);
        if (!node) node = deviceFileInfoWithPathUseCache(standard, useCache);
        return node;
    } catch (const VtrException &e) {
        VTR_LOG(4, QStringLiteral("Creating the folder %1 failed: %2").arg(standard, e.reason()));
        return VtrSymbianFileInfo::fileInfoWithPath(nodePathOf(standard), this);
    }
}

bool PlatformDevice::setFileContents(const QByteArray &data, const QString &path)
{
    const StateLock lock(m_stateMutex);
    return setFileContents(data, VtrSymbianFileInfo::fileInfoWithPath(standardizeDevicePath(path), this), nullptr,
                           nullptr);
}

bool PlatformDevice::setFileContents(const QByteArray &data, const VtrFileInfoPtr &fileInfo, FileInfoProgress *progress,
                                     void *userData)
{
    const StateLock lock(m_stateMutex);
    if (!fileInfo) return false;
    throwIfNotConnected(QStringLiteral("setFileContents:withPath:"));
    return _createFileWithPath(fileInfo->path(), data, fileInfo, progress, userData, true) != nullptr;
}

// ---- moving, removing, dates -------------------------------------------------------------------------

int PlatformDevice::moveFileAtPath(const QString &path, const QString &toPath)
{
    const StateLock lock(m_stateMutex);
    const QString from = standardizeDevicePath(path);
    const QString to = standardizeDevicePath(toPath);
    if (!sendCmdWithDictionary(fsMoveFile(from, to)).isValid()) return -1;
    m_listings.moveItem(from, to);
    return 0;
}

int PlatformDevice::renameFileWithPath(const QString &path, const QString &name)
{
    const StateLock lock(m_stateMutex);
    if (!isPlainName(name)) return -1;
    const QString from = nodePathOf(standardizeDevicePath(path));
    return moveFileAtPath(from, vtr::windowsStringByAppendingPathComponent(parentFolderOf(from), name));
}

int PlatformDevice::setCreationDate(const QDateTime &, const QString &)
{
    return -1;
}

int PlatformDevice::setModificationDate(const QDateTime &date, const QString &path)
{
    const StateLock lock(m_stateMutex);
    if (!date.isValid()) return -1;
    const QString standard = standardizeDevicePath(path);
    const QString text = vtr::st2String(date);
    if (!sendCmdWithDictionary(fsSetMod(standard, text)).isValid()) return -1;
    m_listings.storeEntry({{kEntryMod, text}}, standard);
    return 0;
}

bool PlatformDevice::removeFileWithPath(const QString &path)
{
    const StateLock lock(m_stateMutex);
    const QString standard = standardizeDevicePath(path);
    if (!sendCmdWithDictionary(fsDeleteFile(standard)).isValid()) return false;
    m_listings.removeItem(standard);
    m_listings.forgetDriveOf(standard);
    return true;
}

bool PlatformDevice::removeFolderWithPath(const QString &path)
{
    const StateLock lock(m_stateMutex);
    const QString standard = standardizeDevicePath(path);
    try {
        // No result is the phone's "could not remove": the folder may well
        // still be there.
        if (!sendCmdWithDictionary(fsRmDir(standard)).isValid()) return false;
    } catch (const VtrException &e) {
        VTR_LOG(4, QStringLiteral("Removing the folder %1 failed: %2").arg(standard, e.reason()));
        return false;
    }
    m_listings.removeItem(standard);
    m_listings.forgetTree(standard);
    m_listings.forgetDriveOf(standard);
    return true;
}

bool PlatformDevice::supportsCreationDate()
{
    const std::shared_ptr<MTPDevice> device = currentMtp();
    return device ? device->supportsCreationDate() : true;
}

bool PlatformDevice::supportsModificationDate()
{
    const std::shared_ptr<MTPDevice> device = currentMtp();
    return device ? device->supportsModificationDate() : true;
}

// ---- copies between this computer and the phone ---------------------------------------------------------

FileInfoCopyStatus PlatformDevice::copyDeviceFile(const VtrFileInfoPtr &deviceFile, const VtrFileInfoPtr &desktopFile,
                                                  FileInfoProgress *progress, void *userData)
{
    const StateLock lock(m_stateMutex);
    std::shared_ptr<MTPDevice> mtpDevice = liveMtp();
    if (!mtpDevice) return kFileInfoCopyKindCannot;
    return mtpDevice->copyDeviceFile(deviceFile, desktopFile, progress, userData);
}

FileInfoCopyStatus PlatformDevice::copyDesktopFile(const VtrFileInfoPtr &desktopFile, const VtrFileInfoPtr &deviceFile,
                                                   FileInfoProgress *progress, void *userData)
{
    const StateLock lock(m_stateMutex);
    std::shared_ptr<MTPDevice> mtpDevice = liveMtp();
    if (!mtpDevice || !deviceFile || !desktopFile) return kFileInfoCopyKindCannot;
    const QString oldPath = nodePathOf(standardizeDevicePath(deviceFile->path()));
    const FileInfoCopyStatus status = mtpDevice->copyDesktopFile(desktopFile, deviceFile, progress, userData);
    if (status != kFileInfoCopyOK) {
        // Whatever the phone was left with, the folder is read again.
        m_listings.forgetListing(parentFolderOf(oldPath));
        return status;
    }

    const QString newPath = nodePathOf(standardizeDevicePath(deviceFile->path()));
    if (newPath.compare(oldPath, Qt::CaseInsensitive) != 0) m_listings.removeItem(oldPath);
    // The phone has less room now, whatever the name.
    m_listings.forgetDriveOf(newPath);
    if (!m_listings.storeEntry({{kEntryType, kTypeFile}, {kEntrySize, numberText(desktopFile->size())}}, newPath))
        deviceFileInfoWithPathUseCache(newPath, true);
    return status;
}

// ---- media pass-through -------------------------------------------------------------------------------------

std::optional<QVariantList> PlatformDevice::deviceTracks()
{
    const StateLock lock(m_stateMutex);
    std::shared_ptr<MTPDevice> mtpDevice = liveMtp();
    return mtpDevice ? mtpDevice->deviceTracks() : std::nullopt;
}

std::optional<QVariantList> PlatformDevice::devicePlaylists()
{
    const StateLock lock(m_stateMutex);
    std::shared_ptr<MTPDevice> mtpDevice = liveMtp();
    return mtpDevice ? mtpDevice->devicePlaylists() : std::nullopt;
}

QStringList PlatformDevice::devicePlaylistForPlaylistPath(const QString &path)
{
    const StateLock lock(m_stateMutex);
    std::shared_ptr<MTPDevice> mtpDevice = liveMtp();
    return mtpDevice ? mtpDevice->devicePlaylistForPlaylistPath(standardizeDevicePath(path)) : QStringList();
}

VtrFileInfoPtr PlatformDevice::setDevicePlaylistForPlaylistPath(const QString &path, const QStringList &trackPaths)
{
    const StateLock lock(m_stateMutex);
    std::shared_ptr<MTPDevice> mtpDevice = liveMtp();
    if (!mtpDevice) return nullptr;
    const QString standard = standardizeDevicePath(path);
    QStringList tracks;
    for (const QString &track : trackPaths)
        tracks.append(standardizeDevicePath(track));
    if (!mtpDevice->setDevicePlaylistForPlaylistPath(standard, tracks)) return nullptr;
    if (VtrFileInfoPtr node =
            m_listings.storeEntry({{kEntryType, kTypeFile}, {kEntrySize, QStringLiteral("0")}}, standard))
        return node;
    return deviceFileInfoWithPathUseCache(standard, true);
}

bool PlatformDevice::setDeviceAlbumForAlbumPath(const QString &path, const QString &artist, const QString &composer,
                                                const QString &genre, const QStringList &trackPaths)
{
    const StateLock lock(m_stateMutex);
    std::shared_ptr<MTPDevice> mtpDevice = liveMtp();
    return mtpDevice && mtpDevice->setDeviceAlbumForAlbumPath(path, artist, composer, genre, trackPaths);
}

QByteArray PlatformDevice::albumArtworkFromDeviceFile(const QString &path)
{
    const StateLock lock(m_stateMutex);
    std::shared_ptr<MTPDevice> mtpDevice = liveMtp();
    return mtpDevice ? mtpDevice->albumArtworkFromDeviceFile(standardizeDevicePath(path)) : QByteArray();
}

bool PlatformDevice::setDeviceArtwork(const QByteArray &artwork, const QString &album)
{
    const StateLock lock(m_stateMutex);
    std::shared_ptr<MTPDevice> mtpDevice = liveMtp();
    return mtpDevice && mtpDevice->setDeviceArtwork(artwork, album);
}

bool PlatformDevice::setDeviceMetadataForFile(const VtrFileInfoPtr &file, const QString &devicePath)
{
    const StateLock lock(m_stateMutex);
    std::shared_ptr<MTPDevice> mtpDevice = liveMtp();
    return mtpDevice && mtpDevice->setDeviceMetadataForFile(file, standardizeDevicePath(devicePath));
}

QVariantMap PlatformDevice::deviceMetadataForFile(const QString &path)
{
    const StateLock lock(m_stateMutex);
    std::shared_ptr<MTPDevice> mtpDevice = liveMtp();
    return mtpDevice ? mtpDevice->deviceMetadataForFile(standardizeDevicePath(path)) : QVariantMap();
}

void PlatformDevice::deviceScreenHeight(int *height, int *width)
{
    const StateLock lock(m_stateMutex);
    if (std::shared_ptr<MTPDevice> mtpDevice = liveMtp()) mtpDevice->deviceScreenHeight(height, width);
}

bool PlatformDevice::isProtectedFile(const QString &path)
{
    const StateLock lock(m_stateMutex);
    std::shared_ptr<MTPDevice> mtpDevice = liveMtp();
    return mtpDevice && mtpDevice->isProtectedFile(standardizeDevicePath(path));
}
