#include "app/SimulatedPhone.h"

#include "app/AppController.h"
#include "devices/camera/CameraConnection.h"
#include "devices/mtp/sim/SimulatedMtpLibrary.h"
#include "devices/phone/MobileDevice.h"
#include "devices/usb/FakeUdevSource.h"
#include "foundation/Json.h"
#include "platform/UserDefaults.h"
#include "sources/host/LibraryLocation.h"
#include "sources/host/PropertyListXml.h"
#include "sources/iphone/iPhoneBackupFolders.h"
#include "sources/itunes/VtrITunes.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

namespace vtrapp {
namespace {

// What a fixture says where a phone family would say it in its own way.
struct FamilyDefaults
{
    SimulatedPhone::Family family;
    const char *name;
    quint16 vendor;
    quint16 product;
    const char *productName;
};
const FamilyDefaults kFamilies[] = {
    {SimulatedPhone::Family::Android, "Android", 0x04e8, 0x6860, "Simulated Android phone"},
    {SimulatedPhone::Family::IPhone, "iPhone", 0x05ac, 0x1290, "iPhone"},
    {SimulatedPhone::Family::BlackBerry, "BlackBerry", 0x0fca, 0x8001, "RIM BlackBerry Device"},
};

quint16 fixtureNumber(const QVariant &value, quint16 fallback)
{
    if (!value.isValid()) return fallback;
    bool ok = false;
    const QString text = value.toString().trimmed();
    const uint n = text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive) ? text.mid(2).toUInt(&ok, 16)
                                                                              : text.toUInt(&ok, 10);
    return ok && n <= 0xffff ? quint16(n) : fallback;
}

// The JSON document; else the reason it cannot be read in `fault`: the
// innermost fault, which names what went wrong where the outer ones only
// name the container.
QVariant parseJson(const QByteArray &json, QString *fault)
{
    QorJsonParser parser;
    const QVariant document = parser.objectWithUtf8(json);
    if (document.isValid()) return document;
    const QList<QorJsonError> &trace = parser.errorTrace();
    if (trace.isEmpty())
        *fault = QStringLiteral("it is not JSON");
    else if (trace.constFirst().code == QorJsonErrorEndOfInput)
        *fault = QStringLiteral("it ends early, as if cut short (%1)").arg(trace.constFirst().description);
    else
        *fault = trace.constFirst().description;
    return QVariant();
}

// A path of the fixture, kept inside the folder it is written to.
QString safeRelativePath(const QString &path)
{
    const QString clean = QDir::cleanPath(path);
    if (clean.isEmpty() || QDir::isAbsolutePath(clean) || clean == QLatin1String(".") ||
        clean.startsWith(QLatin1String("../")) || clean == QLatin1String(".."))
        return QString();
    return clean;
}

QByteArray generatedContents(const QString &path, qint64 size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    const QByteArray seed = QCryptographicHash::hash(path.toUtf8(), QCryptographicHash::Sha1);
    for (qint64 i = 0; i < size; ++i) bytes[i] = char(uchar(seed[int(i % seed.size())]) ^ uchar(i * 131 + (i >> 8)));
    return bytes;
}

bool writeFile(const QString &path, const QByteArray &bytes, QString *error)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit()) return true;
    *error = QStringLiteral("%1: %2").arg(path, file.errorString());
    return false;
}

// Writes the listed files below `root`; their paths by the fixture's path.
bool writeListedFiles(const QVariantList &files, const QString &root, QHash<QString, QString> *written, QString *error)
{
    for (const QVariant &entry : files) {
        const QVariantMap file = entry.toMap();
        const QString relative = safeRelativePath(file.value(QStringLiteral("path")).toString());
        if (relative.isEmpty()) {
            *error = QStringLiteral("a file has no path inside the phone (\"%1\")")
                         .arg(file.value(QStringLiteral("path")).toString());
            return false;
        }
        QByteArray bytes;
        if (file.contains(QStringLiteral("text")))
            bytes = file.value(QStringLiteral("text")).toString().toUtf8();
        else if (file.contains(QStringLiteral("base64")))
            bytes = QByteArray::fromBase64(file.value(QStringLiteral("base64")).toString().toLatin1());
        else
            bytes = generatedContents(relative, qBound<qint64>(0, file.value(QStringLiteral("size")).toLongLong(),
                                                               qint64(256) << 20));
        const QString path = QDir(root).filePath(relative);
        if (!writeFile(path, bytes, error)) return false;
        const QDateTime mtime = QDateTime::fromString(file.value(QStringLiteral("mtime")).toString(), Qt::ISODate);
        if (mtime.isValid()) {
            QFile f(path);
            if (f.open(QIODevice::ReadWrite)) f.setFileTime(mtime, QFileDevice::FileModificationTime);
        }
        if (written) written->insert(relative, path);
    }
    return true;
}

}  // namespace

std::unique_ptr<SimulatedPhone> SimulatedPhone::load(const QString &fixturePath, QString *error)
{
    auto fail = [&](const QString &why) {
        *error = QStringLiteral("The phone fixture %1 %2.").arg(fixturePath, why);
        return nullptr;
    };
    const QFileInfo info(fixturePath);
    if (!info.exists()) return fail(QStringLiteral("does not exist"));
    if (info.isDir()) return fail(QStringLiteral("is a folder, not a phone description"));
    QFile file(info.absoluteFilePath());
    if (!file.open(QIODevice::ReadOnly)) return fail(QStringLiteral("cannot be read: %1").arg(file.errorString()));
    const QByteArray json = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return fail(QStringLiteral("cannot be read: %1").arg(file.errorString()));
    if (json.trimmed().isEmpty()) return fail(QStringLiteral("is empty"));
    QString fault;
    const QVariant document = parseJson(json, &fault);
    if (!fault.isEmpty()) return fail(QStringLiteral("is not a phone description: %1").arg(fault));
    if (document.typeId() != QMetaType::QVariantMap) return fail(QStringLiteral("is not a phone description"));

    std::unique_ptr<SimulatedPhone> phone(new SimulatedPhone);
    phone->m_path = info.absoluteFilePath();
    phone->m_json = json;
    phone->m_description = document.toMap();
    const QString familyName = phone->m_description.value(QStringLiteral("family"), QStringLiteral("Android")).toString();
    const FamilyDefaults *family = nullptr;
    for (const FamilyDefaults &f : kFamilies)
        if (familyName.compare(QLatin1String(f.name), Qt::CaseInsensitive) == 0) family = &f;
    if (!family)
        return fail(QStringLiteral("names the family \"%1\"; it can be Android, iPhone or BlackBerry").arg(familyName));
    phone->m_family = family->family;

    const QVariant idValue = phone->m_description.value(QStringLiteral("identity"));
    if (idValue.isValid() && idValue.typeId() != QMetaType::QVariantMap)
        return fail(QStringLiteral("is not a phone description: its \"identity\" is not an object"));
    const QVariantMap id = idValue.toMap();
    // Without its USB identifiers an Android phone is never recognised when
    // it arrives; the other families have the usual ones of their maker.
    if (phone->m_family == Family::Android &&
        (!fixtureNumber(id.value(QStringLiteral("vendorId")), 0) || !fixtureNumber(id.value(QStringLiteral("productId")), 0)))
        return fail(QStringLiteral("is not a phone description: its \"identity\" has no \"vendorId\" and \"productId\""));
    UsbIdentity &identity = phone->m_identity;
    identity.vendor = fixtureNumber(id.value(QStringLiteral("vendorId")), family->vendor);
    identity.product = fixtureNumber(id.value(QStringLiteral("productId")), family->product);
    identity.bus = id.value(QStringLiteral("busLocation"), 1).toInt();
    identity.devnum = id.value(QStringLiteral("devnum"), 2).toInt();
    identity.productName = id.value(QStringLiteral("productName"), QString::fromLatin1(family->productName)).toString();
    identity.serial = id.value(QStringLiteral("serialNumber")).toString();

    if (phone->m_family == Family::Android) {
        // The simulator itself says what it cannot build from the text.
        SimulatedMtpLibrary check;
        QString why;
        if (!check.addPhoneFromJson(json, &why))
            return fail(QStringLiteral("is not a phone description: %1").arg(why));
    }
    return phone;
}

SimulatedPhone::~SimulatedPhone()
{
    // Registered defaults live as long as the process; they go with the phone.
    if (m_registeredDefaults)
        platform::UserDefaults::registerDefaults({{QLatin1String(VtrITunes::kLibraryFileDefaultKey), QString()},
                                                  {QLatin1String(vtr::iphone::kBackupFoldersDefaultsKey), QString()}});
}

bool SimulatedPhone::materialize(const QString &folder, QString *error)
{
    const QDir root(folder);
    if (m_family == Family::BlackBerry) {
        m_volume = root.filePath(QStringLiteral("BlackBerry volume"));
        if (!QDir().mkpath(m_volume)) {
            *error = QStringLiteral("%1 cannot be made").arg(m_volume);
            return false;
        }
        return writeListedFiles(m_description.value(QStringLiteral("volume")).toList(), m_volume, nullptr, error);
    }
    if (m_family != Family::IPhone) return true;

    // The camera roll, as the camera library's folder driver serves it.
    const QString roll = root.filePath(QStringLiteral("Camera roll"));
    QDir().mkpath(roll);
    if (!writeListedFiles(m_description.value(QStringLiteral("cameraRoll")).toList(), roll, nullptr, error)) return false;
    vtr::camera::CameraPort port;
    port.model = QStringLiteral("Directory Browse");
    port.port = QStringLiteral("disk:") + roll;
    port.vendorID = m_identity.vendor;
    port.productID = m_identity.product;
    port.productName = m_identity.productName;
    port.serial = m_identity.serial;
    m_cameraPort = port;

    // The music library the phone syncs with: its tracks in its own music
    // folder, beside the library file.
    const QString libraryFolder = root.filePath(QStringLiteral("Music library"));
    const QString musicFolder = QDir(libraryFolder).filePath(QStringLiteral("Music"));
    const QVariantMap library = m_description.value(QStringLiteral("musicLibrary")).toMap();
    QHash<QString, QString> trackFiles;
    const QVariantList trackList = library.value(QStringLiteral("tracks")).toList();
    if (!writeListedFiles(trackList, musicFolder, &trackFiles, error)) return false;
    QVariantMap tracks;
    QHash<QString, qint64> trackIds;
    QVariantList allItems;
    qint64 nextId = 1001;
    for (const QVariant &entry : trackList) {
        const QVariantMap t = entry.toMap();
        const QString relative = safeRelativePath(t.value(QStringLiteral("path")).toString());
        const qint64 trackId = nextId++;
        trackIds.insert(relative, trackId);
        const QString path = trackFiles.value(relative);
        QVariantMap track{{QStringLiteral("Track ID"), trackId},
                          {QStringLiteral("Name"), t.value(QStringLiteral("name"), QFileInfo(path).completeBaseName())},
                          {QStringLiteral("Kind"), QStringLiteral("MPEG audio file")},
                          {QStringLiteral("Size"), QFileInfo(path).size()},
                          {QStringLiteral("Persistent ID"), QStringLiteral("51A1A7ED%1").arg(trackId, 8, 16, QLatin1Char('0')).toUpper()},
                          {QStringLiteral("Location"), vtr::libraryLocationForLocalPath(path)}};
        const struct { const char *fixture, *library; } texts[] = {{"artist", "Artist"}, {"album", "Album"}};
        for (const auto &key : texts) {
            const QString value = t.value(QString::fromLatin1(key.fixture)).toString();
            if (!value.isEmpty()) track.insert(QString::fromLatin1(key.library), value);
        }
        if (t.contains(QStringLiteral("totalTime"))) track.insert(QStringLiteral("Total Time"), t.value(QStringLiteral("totalTime")).toLongLong());
        tracks.insert(QString::number(trackId), track);
        allItems.append(QVariantMap{{QStringLiteral("Track ID"), trackId}});
    }
    QVariantList playlists{QVariantMap{{QStringLiteral("Name"), QStringLiteral("Library")},
                                       {QStringLiteral("Master"), true},
                                       {QStringLiteral("Playlist ID"), qint64(1)},
                                       {QStringLiteral("Visible"), false},
                                       {QStringLiteral("All Items"), true},
                                       {QStringLiteral("Playlist Items"), allItems}}};
    qint64 playlistId = 2;
    for (const QVariant &entry : library.value(QStringLiteral("playlists")).toList()) {
        const QVariantMap p = entry.toMap();
        QVariantList items;
        for (const QVariant &name : p.value(QStringLiteral("tracks")).toList()) {
            const qint64 trackId = trackIds.value(safeRelativePath(name.toString()), 0);
            if (trackId) items.append(QVariantMap{{QStringLiteral("Track ID"), trackId}});
        }
        playlists.append(QVariantMap{{QStringLiteral("Name"), p.value(QStringLiteral("name"))},
                                     {QStringLiteral("Playlist ID"), playlistId++},
                                     {QStringLiteral("All Items"), true},
                                     {QStringLiteral("Playlist Items"), items}});
    }
    const QVariantMap document{{QStringLiteral("Major Version"), qint64(1)},
                               {QStringLiteral("Minor Version"), qint64(1)},
                               {QStringLiteral("Application Version"), QStringLiteral("10.7")},
                               {QStringLiteral("Music Folder"), vtr::libraryLocationForLocalPath(musicFolder, true)},
                               {QStringLiteral("Tracks"), tracks},
                               {QStringLiteral("Playlists"), playlists}};
    m_libraryFile = QDir(libraryFolder).filePath(QStringLiteral("iTunes Music Library.xml"));
    if (!writeFile(m_libraryFile, vtr::XmlPropertyListWriter::toXml(document), error)) return false;

    // The phone's backup, in the folder a backup of this phone would have.
    const QVariantMap backup = m_description.value(QStringLiteral("backup")).toMap();
    m_backupRoot = root.filePath(QStringLiteral("Backups"));
    const QString backupFolder = QDir(m_backupRoot).filePath(m_identity.serial.isEmpty() ? QStringLiteral("simulated")
                                                                                         : m_identity.serial);
    const QVariantMap info{
        {QStringLiteral("Unique Identifier"), m_identity.serial},
        {QStringLiteral("Serial Number"), m_identity.serial},
        {QStringLiteral("Display Name"), backup.value(QStringLiteral("deviceName"), m_identity.productName)},
        {QStringLiteral("Product Version"), backup.value(QStringLiteral("productVersion"), QStringLiteral("6.1"))},
        {QStringLiteral("iTunes Settings"),
         QVariantMap{{QStringLiteral("LibraryApplications"), backup.value(QStringLiteral("apps")).toList()}}}};
    const QDateTime date = QDateTime::fromString(backup.value(QStringLiteral("date")).toString(), Qt::ISODate);
    const QVariantMap status{{QStringLiteral("Date"), date.isValid() ? date : QDateTime::currentDateTimeUtc()},
                             {QStringLiteral("IsFullBackup"), true}};
    return writeFile(QDir(backupFolder).filePath(QStringLiteral("Info.plist")), vtr::XmlPropertyListWriter::toXml(info),
                     error) &&
           writeFile(QDir(backupFolder).filePath(QStringLiteral("Status.plist")),
                     vtr::XmlPropertyListWriter::toXml(status), error);
}

void SimulatedPhone::attach(AppController &controller, CameraConnection *camera,
                            const std::shared_ptr<SimulatedMtpLibrary> &mtp)
{
    switch (m_family) {
    case Family::Android:
        if (mtp) mtp->addPhoneFromJson(m_json);
        break;
    case Family::IPhone: {
        platform::UserDefaults::registerDefaults(
            {{QLatin1String(VtrITunes::kLibraryFileDefaultKey), m_libraryFile},
             {QLatin1String(vtr::iphone::kBackupFoldersDefaultsKey), m_backupRoot}});
        m_registeredDefaults = true;
        if (camera) {
            auto detector = std::make_unique<vtr::camera::FixedCameraDetector>();
            m_cameraDetector = detector.get();
            camera->setDetector(std::move(detector));
        }
        break;
    }
    case Family::BlackBerry: {
        // The volume is mounted as the phone arrives, before the wizard looks
        // at what the phone holds.
        AppController *c = &controller;
        const QString volume = m_volume;
        QObject::connect(c, &AppController::oldDeviceChanged, c, [c, volume] {
            const std::shared_ptr<MobileDevice> phone = c->oldDevice();
            if (phone && !phone->mountedPaths().contains(volume)) phone->addMountedPath(volume);
        });
        break;
    }
    }
}

void SimulatedPhone::plug(vtr::udev::FakeUdevSource &usb)
{
    if (m_cameraDetector && m_cameraPort) m_cameraDetector->setPorts({*m_cameraPort});
    usb.plug(vtr::udev::FakeUdevSource::usbDevice(usbBus(), QStringLiteral("1-1"), m_identity.vendor, m_identity.product,
                                                  m_identity.productName, m_identity.serial, m_identity.bus,
                                                  m_identity.devnum));
}

}  // namespace vtrapp
