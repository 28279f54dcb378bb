#include "devices/devicelist/VtrDeviceList.h"

#include "devices/devicelist/DeviceListCrypto.h"
#include "fileinfo/MountTable.h"
#include "fileinfo/VtrMacFileInfo.h"
#include "foundation/Json.h"
#include "foundation/Log.h"
#include "platform/Descriptor.h"
#include "platform/Folders.h"
#include "platform/UserDefaults.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QRegularExpression>

namespace {

const QString kDefaultSection = QStringLiteral("SupportedDevices");
const QString kDefaultWebHost = QStringLiteral("www.vantrel.com");
const QString kWebHostDefaultsKey = QStringLiteral("MakerWebHost");
const QString kListFileName = QStringLiteral("Settings.slvn");
const QString kUserListFileName = QStringLiteral("UnsupportedDeviceList.json");

std::mutex g_classMutex;
QString g_sectionName;
QString g_resourceFolderOverride;

QString humanFriendlyPath(const QString &path)
{
    const QString home = QDir::homePath();
    if (path == home || path.startsWith(home + QLatin1Char('/'))) return QLatin1Char('~') + path.mid(home.size());
    return path;
}

// --- Checks of values that reach a path or a URL ---------------------------

bool hasControlCharacters(const QString &text)
{
    for (QChar c : text)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F) return true;
    return false;
}

bool isPlainText(const QVariant &value, int maxLength = 1024)
{
    if (value.typeId() != QMetaType::QString) return false;
    const QString text = value.toString();
    return text.size() <= maxLength && !hasControlCharacters(text);
}

bool isSafeFileName(const QString &name)
{
    return !name.isEmpty() && name.size() <= 255 && name != QLatin1String(".") && name != QLatin1String("..") &&
           !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\')) && !hasControlCharacters(name);
}

// A picture URL: http or https with a host, naming a file whose name can be
// used in the picture cache as it is.
bool isSafeImageURL(const QVariant &value)
{
    if (!isPlainText(value, 2048)) return false;
    const QUrl url(value.toString(), QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty()) return false;
    if (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https")) return false;
    // An encoded separator would make the decoded and encoded last component differ.
    const QString encodedPath = url.path(QUrl::FullyEncoded);
    for (const char *separator : {"%2f", "%5c", "%00"})
        if (encodedPath.contains(QLatin1String(separator), Qt::CaseInsensitive)) return false;
    return isSafeFileName(url.fileName(QUrl::FullyDecoded));
}

// A Windows path text below a folder on the phone: components separated by
// backslashes (or slashes), none of them "." or "..", no drive or stream ":".
// `allowDrive` admits one leading "X:" (the media folder paths).
bool isSafeDevicePath(const QVariant &value, bool allowDrive)
{
    if (!isPlainText(value)) return false;
    QString path = value.toString();
    static const QRegularExpression drive(QStringLiteral("^[A-Za-z]:"));
    if (allowDrive && drive.match(path).hasMatch()) path = path.mid(2);
    if (path.contains(QLatin1Char(':'))) return false;
    static const QRegularExpression separators(QStringLiteral("[\\\\/]"));
    for (const QString &component : path.split(separators, Qt::SkipEmptyParts)) {
        const QString trimmed = component.trimmed();
        if (trimmed == QLatin1String(".") || trimmed == QLatin1String("..")) return false;
    }
    return true;
}

void dropValue(QVariantMap &map, const QString &key, const QString &where)
{
    VTR_LOG(1, QStringLiteral("Device list: ignoring the unsafe value of \"%1\" in %2.").arg(key, where));
    map.remove(key);
}

QVariantMap sanitizedEntry(QVariantMap entry, const QString &where)
{
    if (entry.contains(QStringLiteral("largeImageURL")) &&
        !isSafeImageURL(entry.value(QStringLiteral("largeImageURL"))))
        dropValue(entry, QStringLiteral("largeImageURL"), where);
    for (const char *key : {"deviceName", "volumeName", "id"}) {
        const QString k = QLatin1String(key);
        if (entry.contains(k) && !isPlainText(entry.value(k), 255)) dropValue(entry, k, where);
    }
    for (const char *key : {"mediaFolderPathOnCard", "mediaFolderPathInternal"}) {
        const QString k = QLatin1String(key);
        if (entry.contains(k) && !isSafeDevicePath(entry.value(k), true)) dropValue(entry, k, where);
    }
    if (entry.contains(QStringLiteral("cardDrivePrefix"))) {
        static const QRegularExpression prefix(QStringLiteral("^[A-Za-z]:\\\\?$"));
        const QVariant value = entry.value(QStringLiteral("cardDrivePrefix"));
        if (value.typeId() != QMetaType::QString || !prefix.match(value.toString()).hasMatch())
            dropValue(entry, QStringLiteral("cardDrivePrefix"), where);
    }
    for (const char *group :
         {"musicInfo", "podcastInfo", "photosInfo", "recordingsInfo", "ringtoneInfo", "videoInfo"}) {
        const QString g = QLatin1String(group);
        if (!entry.contains(g)) continue;
        if (entry.value(g).typeId() != QMetaType::QVariantMap) {
            dropValue(entry, g, where);
            continue;
        }
        QVariantMap settings = entry.value(g).toMap();
        const QString inner = where + QLatin1Char(' ') + g;
        for (const char *key : {"exportPath", "importPath", "playlistPath", "podcastExportPath"}) {
            const QString k = QLatin1String(key);
            if (settings.contains(k) && !isSafeDevicePath(settings.value(k), false)) dropValue(settings, k, inner);
        }
        if (settings.contains(QStringLiteral("playlistFileExtension"))) {
            static const QRegularExpression extension(QStringLiteral("^[A-Za-z0-9]{1,16}$"));
            const QVariant value = settings.value(QStringLiteral("playlistFileExtension"));
            if (value.typeId() != QMetaType::QString || !extension.match(value.toString()).hasMatch())
                dropValue(settings, QStringLiteral("playlistFileExtension"), inner);
        }
        entry.insert(g, settings);
    }
    // Entries are matched against "validDevices"; a value that is not a list
    // must not widen the match: it names no device.
    if (entry.contains(QStringLiteral("validDevices")) &&
        entry.value(QStringLiteral("validDevices")).typeId() != QMetaType::QVariantList) {
        VTR_LOG(1, QStringLiteral("Device list: \"validDevices\" of %1 is not a list.").arg(where));
        entry.insert(QStringLiteral("validDevices"), QVariantList());
    }
    return entry;
}

QVariantMap sanitizedSection(const QVariantMap &section, const QString &name)
{
    QVariantMap result;
    for (auto vendor = section.constBegin(); vendor != section.constEnd(); ++vendor) {
        if (vendor.value().typeId() != QMetaType::QVariantMap) {
            result.insert(vendor.key(), vendor.value());
            continue;
        }
        QVariantMap products = vendor.value().toMap();
        for (auto product = products.begin(); product != products.end(); ++product)
            if (product.value().typeId() == QMetaType::QVariantMap)
                product.value() = sanitizedEntry(product.value().toMap(),
                                                 QStringLiteral("%1/%2/%3").arg(name, vendor.key(), product.key()));
        result.insert(vendor.key(), products);
    }
    return result;
}

bool isMap(const QVariant &value)
{
    return value.typeId() == QMetaType::QVariantMap;
}

// The file `path` of the data folder, by the data folder's descriptor:
// nullopt when there is none of ours.
std::optional<QByteArray> readDataFolderFile(const QString &path)
{
    QString why;
    int code = 0;
    std::optional<QByteArray> bytes =
        platform::readDataFile({}, QFileInfo(path).fileName(), vtr::kMaxDeviceListDownload, &why, &code);
    if (!bytes && code != ENOENT) VTR_LOG(1, QStringLiteral("Device list: %1").arg(why));
    return bytes;
}

// Plain JSON object of the data folder's file (the user additions); nullopt
// when absent or not an object.
std::optional<QVariantMap> readPlainJsonFile(const QString &path)
{
    if (path.isEmpty()) return std::nullopt;
    const std::optional<QByteArray> bytes = readDataFolderFile(path);
    if (!bytes) return std::nullopt;
    const QVariant value = vtr::JSONValueFromUtf8(*bytes);
    if (!isMap(value)) return std::nullopt;
    return value.toMap();
}

// `path` is a file of the data folder: it is written there by descriptor,
// never through a link at its name or in the folder's place.
bool writeFileAtomically(const QString &path, const QByteArray &bytes)
{
    QString why;
    const platform::Descriptor folder(platform::openDataFolder({}, &why));
    if (folder.isOpen() &&
        platform::replaceFileIn(folder.get(), platform::dataFolder(), QFileInfo(path).fileName(), bytes, &why))
        return true;
    VTR_LOG(1, QStringLiteral("Device list: %1").arg(why));
    return false;
}

} // namespace

namespace vtr {

qint64 deviceListRevision(const QVariantMap &document)
{
    const QVariant value = document.value(QStringLiteral("revision"));
    bool ok = false;
    switch (value.typeId()) {
    case QMetaType::QString: {
        const qint64 number = value.toString().trimmed().toLongLong(&ok);
        return ok ? number : 0;
    }
    case QMetaType::Double: {
        const double number = value.toDouble();
        return (number >= -9.0e18 && number <= 9.0e18) ? qint64(number) : 0;
    }
    case QMetaType::Bool:
        return 0;
    default: {
        const qint64 number = value.toLongLong(&ok);
        return ok ? number : 0;
    }
    }
}

QVariantMap sanitizedDeviceListDocument(const QVariantMap &document)
{
    QVariantMap result = document;
    for (auto it = result.begin(); it != result.end(); ++it) {
        if (!isMap(it.value())) continue;
        if (it.key() == QLatin1String("MotorolaUSBProductStringsToDeviceNames")) {
            // Product string -> entries copied over a product entry.
            QVariantMap names = it.value().toMap();
            for (auto name = names.begin(); name != names.end(); ++name)
                if (isMap(name.value()))
                    name.value() = sanitizedEntry(name.value().toMap(), it.key() + QLatin1Char('/') + name.key());
            it.value() = names;
        } else if (it.key() != QLatin1String("Bluetooth")) {
            it.value() = sanitizedSection(it.value().toMap(), it.key());
        }
    }
    return result;
}

} // namespace vtr

// --- Class-wide settings ----------------------------------------------------

VtrDeviceList *VtrDeviceList::deviceList()
{
    // Lives to the end of the process, as the application's list.
    static VtrDeviceList *shared = new VtrDeviceList();
    return shared;
}

QString VtrDeviceList::supportedDevicesKeyname()
{
    std::lock_guard lock(g_classMutex);
    return g_sectionName.isEmpty() ? kDefaultSection : g_sectionName;
}

void VtrDeviceList::setSupportedDevicesKeyname(const QString &name)
{
    std::lock_guard lock(g_classMutex);
    g_sectionName = name;
}

QString VtrDeviceList::resourceFolder()
{
    std::lock_guard lock(g_classMutex);
    return g_resourceFolderOverride.isEmpty() ? QStringLiteral(":/devices") : g_resourceFolderOverride;
}

void VtrDeviceList::setResourceFolderOverride(const QString &folder)
{
    std::lock_guard lock(g_classMutex);
    g_resourceFolderOverride = folder;
}

QString VtrDeviceList::webHost()
{
    const QString host = platform::UserDefaults::value(kWebHostDefaultsKey).toString().trimmed();
    return host.isEmpty() ? kDefaultWebHost : host;
}

QUrl VtrDeviceList::updateURL()
{
    const QString host = webHost();
    // Only a host (and port) may come from the setting: no path, user or query.
    static const QRegularExpression plainHost(
        QStringLiteral("^[A-Za-z0-9.\\-]+(:[0-9]{1,5})?$|^\\[[0-9A-Fa-f:.]+\\](:[0-9]{1,5})?$"));
    if (!plainHost.match(host).hasMatch()) return QUrl();
    const QUrl url(QStringLiteral("http://%1/DeviceList/SolvennaToWindowsPhone/v2/Settings.slvn").arg(host),
                   QUrl::StrictMode);
    return url.isValid() ? url : QUrl();
}

// --- Instance -----------------------------------------------------------------

VtrDeviceList::VtrDeviceList()
{
    setInfo(load());
}

VtrDeviceList::~VtrDeviceList() = default;

QVariantMap VtrDeviceList::info() const
{
    std::lock_guard lock(m_infoMutex);
    return m_info;
}

void VtrDeviceList::setInfo(QVariantMap info)
{
    // Swapped under the lock and released outside it.
    std::lock_guard lock(m_infoMutex);
    m_info.swap(info);
}

void VtrDeviceList::reload()
{
    setInfo(load());
}

QVariantMap VtrDeviceList::load() const
{
    const std::optional<QVariantMap> shipped = deviceListFromFile(resourceFolder() + QLatin1Char('/') + kListFileName);
    const std::optional<QVariantMap> downloaded = deviceListFromFile(appSupportDeviceListFile());
    std::optional<QVariantMap> additions = readPlainJsonFile(appSupportUserDeviceListFile());

    const qint64 shippedRevision = shipped ? vtr::deviceListRevision(*shipped) : 0;
    const qint64 downloadedRevision = downloaded ? vtr::deviceListRevision(*downloaded) : 0;
    // Equal revisions keep the shipped list.
    QVariantMap result =
        (downloaded && downloadedRevision > shippedRevision) ? *downloaded : shipped.value_or(QVariantMap());

    const QString sectionName = supportedDevicesKeyname();
    if (additions) {
        const QVariantMap checked = vtr::sanitizedDeviceListDocument(*additions);
        const QVariant added = checked.value(sectionName);
        if (isMap(added) && isMap(result.value(sectionName))) {
            QVariantMap section = result.value(sectionName).toMap();
            const QVariantMap addedSection = added.toMap();
            for (auto vendor = addedSection.constBegin(); vendor != addedSection.constEnd(); ++vendor) {
                QVariantMap merged = section.value(vendor.key()).toMap();
                const QVariantMap products = vendor.value().toMap();
                for (auto product = products.constBegin(); product != products.constEnd(); ++product) {
                    if (product.key() == QLatin1String("VID") || product.key() == QLatin1String("VendorName")) continue;
                    // The list's own entries always win.
                    if (!merged.contains(product.key())) merged.insert(product.key(), product.value());
                }
                section.insert(vendor.key(), merged);
            }
            result.insert(sectionName, section);
        }
    }
    return result;
}

std::optional<QVariantMap> VtrDeviceList::deviceListFromData(const QByteArray &data) const
{
    const QByteArray plain = vtr::AES256DecryptWithKeyData(data, vtr::deviceListKeyData());
    if (plain.isNull()) {
        VTR_LOG(1, QStringLiteral("Device list: %1 bytes that do not decrypt were ignored.").arg(data.size()));
        return std::nullopt;
    }
    const QVariant value = vtr::JSONValueFromUtf8(plain);
    if (!isMap(value)) {
        VTR_LOG(1, QStringLiteral("Device list: the decrypted list is not a JSON object and was ignored."));
        return std::nullopt;
    }
    return vtr::sanitizedDeviceListDocument(value.toMap());
}

std::optional<QVariantMap> VtrDeviceList::deviceListFromFile(const QString &path) const
{
    if (path.isEmpty()) return std::nullopt;
    if (path == appSupportDeviceListFile()) {
        // The data folder's, read as it is written: by its descriptor.
        const std::optional<QByteArray> bytes = readDataFolderFile(path);
        return bytes ? deviceListFromData(*bytes) : std::nullopt;
    }
    QFile file(path);
    if (!file.exists()) return std::nullopt;
    if (!file.open(QIODevice::ReadOnly)) {
        VTR_LOG(1, QStringLiteral("Device list: cannot read \"%1\".").arg(path));
        return std::nullopt;
    }
    return deviceListFromData(file.readAll());
}

namespace {

// A file of the data folder, made when missing: named only where the data
// folder is one of ours (see platform::openDataFolder()).
QString appSupportFile(const QString &name)
{
    const QString folder = platform::dataFolder();
    QString why;
    const platform::Descriptor opened(platform::openDataFolder({}, &why));
    if (folder.isEmpty() || !opened.isOpen()) {
        VtrDebugLog(QStringLiteral("Couldn't create or use the folder \"%1\": %2").arg(humanFriendlyPath(folder), why));
        return QString();
    }
    return folder + QLatin1Char('/') + name;
}

} // namespace

QString VtrDeviceList::appSupportDeviceListFile() const
{
    return appSupportFile(kListFileName);
}

QString VtrDeviceList::appSupportUserDeviceListFile() const
{
    return appSupportFile(kUserListFileName);
}

QVariantMap VtrDeviceList::vendorsInfo() const
{
    return info().value(supportedDevicesKeyname()).toMap();
}

QVariant VtrDeviceList::bluetoothMap() const
{
    return info().value(QStringLiteral("Bluetooth"));
}

QVariantMap VtrDeviceList::usbProductStringsToDeviceNames() const
{
    return info().value(QStringLiteral("MotorolaUSBProductStringsToDeviceNames")).toMap();
}

QVariantList VtrDeviceList::excludedDeviceNames() const
{
    return info().value(QStringLiteral("excludedDeviceNames")).toList();
}

// --- Look-ups ---------------------------------------------------------------

std::optional<QVariantMap> VtrDeviceList::infoForDeviceWithUSBVendorID(int vendor, int product,
                                                                       const QString &productString,
                                                                       const QString &sectionName) const
{
    // One snapshot for the whole look-up.
    const QVariantMap document = info();
    const bool haveString = !productString.isEmpty();
    if (haveString) {
        for (const QVariant &excluded : document.value(QStringLiteral("excludedDeviceNames")).toList())
            if (excluded.typeId() == QMetaType::QString &&
                excluded.toString().compare(productString, Qt::CaseInsensitive) == 0)
                return std::nullopt;
    }
    const QVariant section = document.value(sectionName);
    if (!isMap(section)) return std::nullopt;
    const QVariant vendorObject = section.toMap().value(QString::number(vendor));
    if (!isMap(vendorObject)) return std::nullopt;
    const QVariant entry = vendorObject.toMap().value(QString::number(product));
    if (!isMap(entry)) return std::nullopt;

    QVariantMap result = entry.toMap();
    result.insert(QStringLiteral("vendorID"), vendor);
    result.insert(QStringLiteral("productID"), product);
    if (vendor >= 0 && vendor <= 0xFFFF && product >= 0 && product <= 0xFFFF) {
        const QString serial = usbSerialNumberForDevice(quint16(vendor), quint16(product));
        if (!serial.isEmpty()) result.insert(QStringLiteral("serialNumber"), serial);
    }
    if (haveString) {
        result.insert(QStringLiteral("usbProductString"), productString);
        const QVariantMap entryMap = entry.toMap();
        if (entryMap.contains(QStringLiteral("validDevices"))) {
            bool listed = false;
            for (const QVariant &valid : entryMap.value(QStringLiteral("validDevices")).toList())
                if (valid.typeId() == QMetaType::QString && valid.toString() == productString) listed = true;
            if (!listed) return std::nullopt;
        }
        const QVariant names = document.value(QStringLiteral("MotorolaUSBProductStringsToDeviceNames"));
        const QVariant overrides = isMap(names) ? names.toMap().value(productString) : QVariant();
        if (isMap(overrides)) {
            const QVariantMap values = overrides.toMap();
            for (auto it = values.constBegin(); it != values.constEnd(); ++it)
                result.insert(it.key(), it.value());
        }
    }
    return result;
}

std::optional<QVariantMap> VtrDeviceList::infoForDeviceWithUSBVendorID(int vendor, int product,
                                                                       const QString &productString) const
{
    return infoForDeviceWithUSBVendorID(vendor, product, productString, supportedDevicesKeyname());
}

std::optional<QVariantMap> VtrDeviceList::infoForDeviceAtPath(const QString &path) const
{
    VolumeRefNum volume = 0;
    if (pathToVRefNum(path, &volume) != 0) return std::nullopt;
    quint16 vendor = 0;
    quint16 product = 0;
    if (!vendorProductIDForVolume(volume, &vendor, &product)) return std::nullopt;
    return infoForDeviceWithUSBVendorID(vendor, product, usbProductNameForDevice(vendor, product));
}

bool VtrDeviceList::addProductDictionaryForVendorID(quint16 vendor, quint16 product,
                                                    const QVariantMap &productDictionary)
{
    const QString path = appSupportUserDeviceListFile();
    QVariantMap top = readPlainJsonFile(path).value_or(QVariantMap());
    QVariantMap section = top.value(QStringLiteral("SupportedDevices")).toMap();
    const QString vendorKey = QString::number(vendor);
    QVariantMap vendorObject = section.value(vendorKey).toMap();

    QVariantMap entry = productDictionary;
    const QString name = usbDeviceNameForDevice(vendor, product);
    if (name.isNull())
        entry.remove(QStringLiteral("deviceName"));
    else
        entry.insert(QStringLiteral("deviceName"), name);
    vendorObject.insert(QString::number(product), entry);
    vendorObject.insert(QStringLiteral("VID"), QStringLiteral("0x%1").arg(QString::number(vendor, 16)));
    section.insert(vendorKey, vendorObject);
    top.insert(QStringLiteral("SupportedDevices"), section);

    const QString text = vtr::JSONRepresentation(top);
    if (!path.isEmpty() && !text.isNull() && !writeFileAtomically(path, text.toUtf8()))
        VTR_LOG(1, QStringLiteral("Device list: cannot write \"%1\".").arg(path));
    return true;
}

// --- Update check -------------------------------------------------------------

void VtrDeviceList::checkForUpdateWithDelegate(VtrDeviceListProtocol *delegate, bool useUI)
{
    // One download at a time: a second request (e.g. from an event handled
    // while this one waits) returns at once.
    if (m_checking) return;
    if (useUI && delegate && !delegate->askUserIfOKToConnectToInternet()) return;
    const QUrl url = updateURL();
    if (!url.isValid()) {
        VTR_LOG(1, QStringLiteral("Device list: the web host setting \"%1\" is not a host name.").arg(webHost()));
        return;
    }
    m_checking = true;
    if (!m_network) m_network = std::make_unique<QNetworkAccessManager>();

    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setTransferTimeout(60 * 1000);
    std::unique_ptr<QNetworkReply> reply(m_network->get(request));
    bool tooLarge = false;
    QObject::connect(reply.get(), &QNetworkReply::downloadProgress, reply.get(), [&](qint64 received, qint64 total) {
        if (received > vtr::kMaxDeviceListDownload || total > vtr::kMaxDeviceListDownload) {
            tooLarge = true;
            reply->abort();
        }
    });

    if (useUI && delegate) delegate->displayDownloadingDeviceListUI();

    if (!reply->isFinished()) {
        QEventLoop loop;
        QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
        loop.exec();
    }

    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (tooLarge) {
        VTR_LOG(1,
                QStringLiteral("Device list: the download from %1 is too large and was ignored.").arg(url.toString()));
    } else if (reply->error() != QNetworkReply::NoError) {
        VTR_LOG(
            1,
            QStringLiteral("Device list: the download from %1 failed: %2").arg(url.toString(), reply->errorString()));
    } else if (status < 200 || status > 299) {
        // An error page is never taken for a list, whatever it decrypts to.
        VTR_LOG(1, QStringLiteral("Device list: %1 answered HTTP status %2.").arg(url.toString()).arg(status));
    } else {
        const QByteArray body = reply->readAll();
        if (std::optional<QVariantMap> document = deviceListFromData(body)) {
            const qint64 newRevision = vtr::deviceListRevision(*document);
            const qint64 currentRevision = vtr::deviceListRevision(info());
            if (newRevision > currentRevision) {
                // The additions are merged again at the next load.
                setInfo(std::move(*document));
                if (delegate) delegate->deviceListWasUpdated();
                const QString path = appSupportDeviceListFile();
                if (!path.isEmpty() && !writeFileAtomically(path, body))
                    VTR_LOG(1, QStringLiteral("Device list: cannot write \"%1\".").arg(path));
            } else {
                VTR_LOG(0, QStringLiteral("Device list: downloaded revision %1 is not newer than %2.")
                               .arg(newRevision)
                               .arg(currentRevision));
            }
        }
    }
    if (useUI && delegate) delegate->teardownDownloadDeviceListUI();
    reply.reset();
    m_checking = false;
}

// --- Volume support -------------------------------------------------------------

int VtrDeviceList::pathToVRefNum(const QString &path, VolumeRefNum *volume) const
{
    return pathToVolumeRefNum(path, volume);
}

bool VtrDeviceList::vendorProductIDForVolume(VolumeRefNum volume, quint16 *vendor, quint16 *product) const
{
    return usbIDsForVolume(volume, vendor, product);
}

QStringList VtrDeviceList::supportedMountedLocalVolumePaths() const
{
    QStringList paths;
    const std::shared_ptr<const vtr::MountTable> table = vtr::MountTable::read(m_mountTablePath);
    for (const vtr::MountEntry &mount : table->entries()) {
        if (!mount.isBlockBacked()) continue;
        quint16 vendor = 0;
        quint16 product = 0;
        if (!usbIDsForVolume(VolumeRefNum(mount.deviceNumber()), &vendor, &product)) continue;
        if (infoForDeviceWithUSBVendorID(vendor, product, usbProductNameForDevice(vendor, product)))
            paths.append(mount.mountPoint);
    }
    // The local file infos learn which volumes are phones (also when none is).
    VtrMacFileInfo::updateMountedDeviceVolumesWithPaths(paths);
    return paths;
}
