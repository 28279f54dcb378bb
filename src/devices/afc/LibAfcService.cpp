// The phone's file service through the system's library for iOS devices.
#include "devices/afc/LibAfcService.h"

#include "devices/usb/AppleMediaMounts.h"

#include <libimobiledevice/afc.h>
#include <libimobiledevice/libimobiledevice.h>
#include <libimobiledevice/lockdown.h>

#include <QFile>
#include <QHash>

#include <algorithm>
#include <cstdio>
#include <mutex>

namespace vtr::afc {

namespace {

constexpr const char *kLabel = "solvenna-to-windows-phone";
constexpr const char *kMediaService = "com.apple.afc";
// One request reads at most this much: the phone answers each in one message.
constexpr qint64 kMaxReadChunk = 1 << 20;

QString afcErrorText(afc_error_t error)
{
    switch (error) {
    case AFC_E_OBJECT_NOT_FOUND:
        return QStringLiteral("no such file or folder on the phone");
    case AFC_E_PERM_DENIED:
        return QStringLiteral("the phone refused access");
    case AFC_E_SERVICE_NOT_CONNECTED:
    case AFC_E_MUX_ERROR:
        return QStringLiteral("the connection to the phone was lost");
    case AFC_E_OP_TIMEOUT:
        return QStringLiteral("the phone did not answer in time");
    case AFC_E_IO_ERROR:
    case AFC_E_READ_ERROR:
        return QStringLiteral("the phone could not read the file");
    default:
        return QStringLiteral("the phone's file service answered error %1").arg(int(error));
    }
}

// The device and its file-service client, shared by the connection and the
// files it opened, so that a file never outlives the client it reads with.
struct Client
{
    idevice_t device = nullptr;
    afc_client_t afc = nullptr;
    ~Client()
    {
        if (afc) afc_client_free(afc);
        if (device) idevice_free(device);
    }
};

QString path(const QString &relative)
{
    return QLatin1Char('/') + relative;
}

// The key/value list the service answers, as a map.
QHash<QString, QString> pairs(char **list)
{
    QHash<QString, QString> map;
    for (int i = 0; list && list[i] && list[i + 1]; i += 2)
        map.insert(QString::fromUtf8(list[i]), QString::fromUtf8(list[i + 1]));
    return map;
}

class LibAfcFile final : public AfcFile
{
public:
    LibAfcFile(std::shared_ptr<Client> client, uint64_t handle, qint64 size)
        : m_client(std::move(client)), m_handle(handle), m_size(size)
    {}
    ~LibAfcFile() override { afc_file_close(m_client->afc, m_handle); }

    qint64 read(char *data, qint64 maxSize) override
    {
        uint32_t count = 0;
        const auto wanted = uint32_t(std::clamp<qint64>(maxSize, 0, kMaxReadChunk));
        const afc_error_t error = afc_file_read(m_client->afc, m_handle, data, wanted, &count);
        if (error != AFC_E_SUCCESS) {
            m_error = afcErrorText(error);
            return -1;
        }
        return qint64(count);
    }
    bool seek(qint64 offset) override
    {
        const afc_error_t error = afc_file_seek(m_client->afc, m_handle, offset, SEEK_SET);
        if (error == AFC_E_SUCCESS) return true;
        m_error = afcErrorText(error);
        return false;
    }
    qint64 size() const override { return m_size; }
    QString errorText() const override { return m_error; }

private:
    std::shared_ptr<Client> m_client;
    uint64_t m_handle;
    qint64 m_size;
    QString m_error;
};

class LibAfcConnection final : public AfcConnection
{
public:
    explicit LibAfcConnection(std::shared_ptr<Client> client) : m_client(std::move(client)) {}

    std::optional<QStringList> list(const QString &folder, qsizetype maxNames, bool *more) override
    {
        *more = false;
        char **names = nullptr;
        // The phone answers a folder's names in one message; only the first
        // `maxNames` become ours.
        if (!succeeded(afc_read_directory(m_client->afc, QFile::encodeName(path(folder)).constData(), &names)))
            return std::nullopt;
        QStringList found;
        for (int i = 0; names && names[i]; ++i) {
            if (qstrcmp(names[i], ".") == 0 || qstrcmp(names[i], "..") == 0) continue;
            if (found.size() >= maxNames) {
                *more = true;
                break;
            }
            found.append(QString::fromUtf8(names[i]));
        }
        afc_dictionary_free(names);
        found.sort();
        return found;
    }

    std::optional<EntryInfo> info(const QString &relative) override
    {
        char **list = nullptr;
        if (!succeeded(afc_get_file_info(m_client->afc, QFile::encodeName(path(relative)).constData(), &list)))
            return std::nullopt;
        const QHash<QString, QString> values = pairs(list);
        afc_dictionary_free(list);
        EntryInfo entry;
        const QString kind = values.value(QStringLiteral("st_ifmt"));
        entry.isFolder = kind == QLatin1String("S_IFDIR");
        entry.isFile = kind == QLatin1String("S_IFREG");
        entry.size = values.value(QStringLiteral("st_size")).toLongLong();
        return entry;
    }

    std::unique_ptr<AfcFile> open(const QString &relative) override
    {
        const std::optional<EntryInfo> entry = info(relative);
        if (!entry) return nullptr;
        if (!entry->isFile) {
            m_failure = Failure::Other;
            m_error = QStringLiteral("not a file");
            return nullptr;
        }
        uint64_t handle = 0;
        if (!succeeded(
                afc_file_open(m_client->afc, QFile::encodeName(path(relative)).constData(), AFC_FOPEN_RDONLY, &handle)))
            return nullptr;
        return std::make_unique<LibAfcFile>(m_client, handle, entry->size);
    }

    Failure lastFailure() const override { return m_failure; }
    QString lastErrorText() const override { return m_error; }

private:
    bool succeeded(afc_error_t error)
    {
        if (error == AFC_E_SUCCESS) return true;
        m_failure = error == AFC_E_OBJECT_NOT_FOUND ? Failure::NotFound : Failure::Other;
        m_error = afcErrorText(error);
        return false;
    }

    std::shared_ptr<Client> m_client;
    Failure m_failure = Failure::None;
    QString m_error;
};

// The phone's UDID as the library lists it (with its "-"), for a serial
// number without one.
QString attachedUdid(const QString &serial, AfcOpening *opening)
{
    char **devices = nullptr;
    int count = 0;
    if (idevice_get_device_list(&devices, &count) != IDEVICE_E_SUCCESS) {
        opening->refusal = Refusal::NoPhone;
        opening->detail = QStringLiteral("the USB multiplexing daemon does not answer");
        return QString();
    }
    QString found;
    for (int i = 0; i < count && devices[i]; ++i) {
        const QString udid = QString::fromUtf8(devices[i]);
        if (vtr::apple::udidKey(udid) == vtr::apple::udidKey(serial)) found = udid;
    }
    idevice_device_list_free(devices);
    if (found.isEmpty()) {
        opening->refusal = Refusal::NoPhone;
        opening->detail = QStringLiteral("the phone is not among the devices the multiplexing daemon knows");
    }
    return found;
}

} // namespace

Refusal refusalOfLockdownAnswer(lockdownd_error_t answer)
{
    switch (answer) {
    case LOCKDOWN_E_PASSWORD_PROTECTED:
        return Refusal::Locked;
    case LOCKDOWN_E_PAIRING_DIALOG_RESPONSE_PENDING:
        return Refusal::TrustPending;
    case LOCKDOWN_E_USER_DENIED_PAIRING:
        return Refusal::TrustDenied;
    default:
        return Refusal::Failed;
    }
}

namespace {

class LibAfcService final : public AfcService
{
public:
    AfcOpening open(const QString &serial) override
    {
        // The library keeps process-wide state of its own (pair records, the
        // daemon connection): one phone conversation starts at a time.
        std::lock_guard lock(m_mutex);
        AfcOpening opening;
        const QString udid = attachedUdid(serial, &opening);
        if (udid.isEmpty()) return opening;
        auto client = std::make_shared<Client>();
        if (idevice_new_with_options(&client->device, udid.toUtf8().constData(), IDEVICE_LOOKUP_USBMUX) !=
            IDEVICE_E_SUCCESS) {
            opening.refusal = Refusal::NoPhone;
            opening.detail = QStringLiteral("the phone cannot be reached");
            return opening;
        }
        lockdownd_client_t lockdown = nullptr;
        const lockdownd_error_t handshake = lockdownd_client_new_with_handshake(client->device, &lockdown, kLabel);
        if (handshake != LOCKDOWN_E_SUCCESS) {
            if (lockdown) lockdownd_client_free(lockdown);
            opening.refusal = refusalOfLockdownAnswer(handshake);
            opening.detail = QString::fromUtf8(lockdownd_strerror(handshake));
            return opening;
        }
        lockdownd_service_descriptor_t service = nullptr;
        const lockdownd_error_t started = lockdownd_start_service(lockdown, kMediaService, &service);
        lockdownd_client_free(lockdown);
        if (started != LOCKDOWN_E_SUCCESS || !service) {
            if (service) lockdownd_service_descriptor_free(service);
            opening.refusal = refusalOfLockdownAnswer(started);
            opening.detail = QString::fromUtf8(lockdownd_strerror(started));
            return opening;
        }
        const afc_error_t made = afc_client_new(client->device, service, &client->afc);
        lockdownd_service_descriptor_free(service);
        if (made != AFC_E_SUCCESS) {
            client->afc = nullptr;
            opening.refusal = Refusal::Failed;
            opening.detail = afcErrorText(made);
            return opening;
        }
        opening.connection = std::make_unique<LibAfcConnection>(std::move(client));
        return opening;
    }

private:
    std::mutex m_mutex;
};

} // namespace

std::shared_ptr<AfcService> makeLibraryAfcService()
{
    return std::make_shared<LibAfcService>();
}

} // namespace vtr::afc
