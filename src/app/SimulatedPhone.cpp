#include "app/SimulatedPhone.h"

#include "app/AppController.h"
#include "devices/camera/CameraConnection.h"
#include "devices/mtp/sim/SimulatedMtpLibrary.h"
#include "devices/phone/MobileDevice.h"
#include "devices/usb/FakeUdevSource.h"
#include "fileinfo/MountTable.h"
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
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <unistd.h>

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
    // An Android phone arrives as the MTP simulator presents it.
    {SimulatedPhone::Family::Android, "Android", 0, 0, nullptr},
    {SimulatedPhone::Family::IPhone, "iPhone", 0x05ac, 0x1290, "iPhone"},
    {SimulatedPhone::Family::BlackBerry, "BlackBerry", 0x0fca, 0x8001, "RIM BlackBerry Device"},
};

// A USB identifier of a family the MTP simulator does not read.
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

constexpr qint64 kMaxGeneratedBytes = qint64(256) << 20;

QByteArray generatedContents(const QString &path, qint64 size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    const QByteArray seed = QCryptographicHash::hash(path.toUtf8(), QCryptographicHash::Sha1);
    for (qint64 i = 0; i < size; ++i) bytes[i] = char(uchar(seed[int(i % seed.size())]) ^ uchar(i * 131 + (i >> 8)));
    return bytes;
}

// The contents a listed file gives itself, else bytes of its "size".
QByteArray listedContents(const QVariantMap &file, const QString &relative)
{
    if (file.contains(QStringLiteral("text"))) return file.value(QStringLiteral("text")).toString().toUtf8();
    if (file.contains(QStringLiteral("base64")))
        return QByteArray::fromBase64(file.value(QStringLiteral("base64")).toString().toLatin1());
    return generatedContents(relative,
                             qBound<qint64>(0, file.value(QStringLiteral("size")).toLongLong(), kMaxGeneratedBytes));
}

// ---- the iPhone's songs -----------------------------------------------------------------------------

// A track the fixture does not give contents for is made as an MP3 file.
bool isGeneratedTrack(const QVariantMap &track)
{
    return !track.contains(QStringLiteral("text")) && !track.contains(QStringLiteral("base64"));
}

QString trackName(const QVariantMap &track, const QString &relative)
{
    return track.value(QStringLiteral("name"), QFileInfo(relative).completeBaseName()).toString();
}

qint64 trackMilliseconds(const QVariantMap &track)
{
    return qMax<qint64>(0, track.value(QStringLiteral("totalTime"), 30000).toLongLong());
}

QByteArray synchsafe(qsizetype n)
{
    QByteArray bytes;
    for (const int shift : {21, 14, 7, 0}) bytes.append(char((n >> shift) & 0x7f));
    return bytes;
}

// A song as a player and the tag reader take it: an ID3v2.4 tag with the
// track's title, artist, album and genre, then silent MPEG-1 Layer III
// frames (128 kbit/s, 44.1 kHz, mono) for the track's length. The frames
// are what the content check recognises; a few would be taken for noise.
QByteArray silentTaggedMp3(const QVariantMap &track, const QString &relative)
{
    const std::pair<const char *, QString> texts[] = {{"TIT2", trackName(track, relative)},
                                                      {"TPE1", track.value(QStringLiteral("artist")).toString()},
                                                      {"TALB", track.value(QStringLiteral("album")).toString()},
                                                      {"TCON", track.value(QStringLiteral("genre")).toString()}};
    QByteArray frames;
    for (const auto &[id, text] : texts) {
        if (text.isEmpty()) continue;
        const QByteArray body = '\x03' + text.toUtf8();  // UTF-8
        frames += QByteArray(id) + synchsafe(body.size()) + QByteArray(2, '\0') + body;
    }
    QByteArray sound(417, '\0');  // 144 * 128000 / 44100 bytes, no padding
    sound[0] = char(0xff);
    sound[1] = char(0xfb);
    sound[2] = char(0x90);
    sound[3] = char(0xc4);
    constexpr qint64 kSamplesPerFrame = 1152, kRate = 44100, kMinFrames = 40;
    const qint64 wanted = (trackMilliseconds(track) * kRate + kSamplesPerFrame * 1000 - 1) / (kSamplesPerFrame * 1000);
    const qint64 count = qBound<qint64>(kMinFrames, wanted, kMaxGeneratedBytes / sound.size());
    return QByteArray("ID3\x04\x00\x00", 6) + synchsafe(frames.size()) + frames + sound.repeated(count);
}

// Where the phone keeps a synced song: a folder F00 to F49 of
// "iTunes_Control/Music" and a name of four capitals, neither telling the
// song; drawn from the library path so that every run gives the same.
QString phoneSongPath(const QString &relative, QSet<QString> *taken)
{
    for (int salt = 0;; ++salt) {
        const QByteArray h =
            QCryptographicHash::hash(relative.toUtf8() + QByteArray::number(salt), QCryptographicHash::Sha1);
        QString name;
        for (int i = 1; i <= 4; ++i) name.append(QLatin1Char(char('A' + uchar(h[i]) % 26)));
        const QString path = QStringLiteral("iTunes_Control/Music/F%1/%2.%3")
                                 .arg(uchar(h[0]) % 50, 2, 10, QLatin1Char('0'))
                                 .arg(name, QFileInfo(relative).suffix().toLower());
        if (!taken->contains(path.toCaseFolded())) {
            taken->insert(path.toCaseFolded());
            return path;
        }
    }
}

// A mount table field as the kernel writes it.
QByteArray escapedMountField(const QString &text)
{
    QByteArray out;
    for (const char c : QFile::encodeName(text)) {
        if (c == ' ' || c == '\t' || c == '\n' || c == '\\')
            out += '\\' + QByteArray::number(uchar(c), 8).rightJustified(3, '0');
        else
            out += c;
    }
    return out;
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
bool writeListedFiles(const QVariantList &files, const QString &root, QHash<QString, QString> *written, QString *error,
                      QByteArray (*contentsOf)(const QVariantMap &, const QString &) = listedContents)
{
    for (const QVariant &entry : files) {
        const QVariantMap file = entry.toMap();
        const QString relative = safeRelativePath(file.value(QStringLiteral("path")).toString());
        if (relative.isEmpty()) {
            *error = QStringLiteral("a file has no path inside the phone (\"%1\")")
                         .arg(file.value(QStringLiteral("path")).toString());
            return false;
        }
        const QByteArray bytes = contentsOf(file, relative);
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
    UsbIdentity &identity = phone->m_identity;
    if (phone->m_family == Family::Android) {
        // The simulator itself says what it cannot build from the text; the
        // phone it built is the one the run uses, and arrives as it says.
        auto mtp = std::make_shared<SimulatedMtpLibrary>();
        QString why;
        const MtpSimPhone *simulated = mtp->addPhoneFromJson(json, &why);
        if (!simulated) return fail(QStringLiteral("is not a phone description: %1").arg(why));
        const MtpSimIdentity sim = simulated->identity();
        // Without its USB identifiers an Android phone is never recognised
        // when it arrives; the other families have the usual ones of their
        // maker.
        if (!id.contains(QStringLiteral("vendorId")) || !id.contains(QStringLiteral("productId")) || !sim.vendorId ||
            !sim.productId)
            return fail(QStringLiteral("is not a phone description: its \"identity\" has no \"vendorId\" and \"productId\""));
        identity = {sim.vendorId, sim.productId, int(sim.busLocation), sim.devnum, sim.productName, sim.serialNumber};
        phone->m_mtp = std::move(mtp);
    } else {
        identity.vendor = fixtureNumber(id.value(QStringLiteral("vendorId")), family->vendor);
        identity.product = fixtureNumber(id.value(QStringLiteral("productId")), family->product);
        identity.bus = id.value(QStringLiteral("busLocation"), 1).toInt();
        identity.devnum = id.value(QStringLiteral("devnum"), 2).toInt();
        identity.productName = id.value(QStringLiteral("productName"), QString::fromLatin1(family->productName)).toString();
        identity.serial = id.value(QStringLiteral("serialNumber")).toString();
        // The desktop names an iPhone's mount after it.
        if (identity.serial.isEmpty() && phone->m_family == Family::IPhone)
            identity.serial = QStringLiteral("SIMULATEDIPHONE");
    }
    if (phone->m_family == Family::IPhone) {
        // The only sound file made here is an MP3; another format would be
        // a file of that name without its contents.
        const QVariantMap library = phone->m_description.value(QStringLiteral("musicLibrary")).toMap();
        for (const QVariant &entry : library.value(QStringLiteral("tracks")).toList()) {
            const QVariantMap track = entry.toMap();
            const QString path = track.value(QStringLiteral("path")).toString();
            if (isGeneratedTrack(track) && QFileInfo(path).suffix().compare(QLatin1String("mp3"), Qt::CaseInsensitive))
                return fail(QStringLiteral("is not a phone description: the track \"%1\" can be made only as an "
                                           "MP3 file; give its contents with \"base64\"")
                                .arg(path));
        }
    }
    return phone;
}

SimulatedPhone::~SimulatedPhone()
{
    if (m_listedMount) vtr::MountTable::setAddedLines(QByteArray());
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
    const auto trackContents = [](const QVariantMap &t, const QString &relative) {
        return isGeneratedTrack(t) ? silentTaggedMp3(t, relative) : listedContents(t, relative);
    };
    if (!writeListedFiles(trackList, musicFolder, &trackFiles, error, trackContents)) return false;

    // The phone's media folder, as the desktop shows a phone it mounted: a
    // folder named after the phone in a FUSE mount under the runtime folder
    // (plug() lists the mount), holding the songs synced to it, the library's
    // files under the phone's own names.
    QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (runtime.isEmpty()) runtime = folder;
    m_mountPoint = std::make_unique<QTemporaryDir>(QDir(runtime).filePath(QStringLiteral("solvenna-phone-XXXXXX")));
    if (!m_mountPoint->isValid()) {
        *error = QStringLiteral("%1 cannot be made: %2").arg(runtime, m_mountPoint->errorString());
        return false;
    }
    m_mediaFolder = QDir(m_mountPoint->path()).filePath(QStringLiteral("afc:host=") + m_identity.serial);
    const QDir media(m_mediaFolder);
    if (!media.mkpath(QStringLiteral("iTunes_Control/Music"))) {
        *error = QStringLiteral("%1 cannot be made").arg(m_mediaFolder);
        return false;
    }
    QSet<QString> phoneSongs;
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
        if (t.value(QStringLiteral("onPhone")).toBool()) {
            QFile song(path);
            if (!song.open(QIODevice::ReadOnly) ||
                !writeFile(media.filePath(phoneSongPath(relative, &phoneSongs)), song.readAll(), error))
                return false;
        }
        QVariantMap track{{QStringLiteral("Track ID"), trackId},
                          {QStringLiteral("Name"), trackName(t, relative)},
                          {QStringLiteral("Kind"), QStringLiteral("MPEG audio file")},
                          {QStringLiteral("Size"), QFileInfo(path).size()},
                          {QStringLiteral("Persistent ID"), QStringLiteral("51A1A7ED%1").arg(trackId, 8, 16, QLatin1Char('0')).toUpper()},
                          {QStringLiteral("Track Type"), QStringLiteral("File")},
                          {QStringLiteral("Location"), vtr::libraryLocationForLocalPath(path)}};
        const struct { const char *fixture, *library; } texts[] = {
            {"artist", "Artist"}, {"album", "Album"}, {"genre", "Genre"}};
        for (const auto &key : texts) {
            const QString value = t.value(QString::fromLatin1(key.fixture)).toString();
            if (!value.isEmpty()) track.insert(QString::fromLatin1(key.library), value);
        }
        if (isGeneratedTrack(t) || t.contains(QStringLiteral("totalTime")))
            track.insert(QStringLiteral("Total Time"), trackMilliseconds(t));
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

void SimulatedPhone::attach(AppController &controller, CameraConnection *camera)
{
    switch (m_family) {
    case Family::Android: break;
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
    case Family::BlackBerry: break;
    }
    // The BlackBerry's volume is mounted as the phone arrives, before the
    // wizard looks at what the phone holds; the iPhone's media folder is
    // found where the desktop shows it (plug()).
    const QString mounted = m_family == Family::BlackBerry ? m_volume : QString();
    if (mounted.isEmpty()) return;
    AppController *c = &controller;
    QObject::connect(c, &AppController::oldDeviceChanged, c, [c, mounted] {
        const std::shared_ptr<MobileDevice> phone = c->oldDevice();
        if (phone && !phone->mountedPaths().contains(mounted)) phone->addMountedPath(mounted);
    });
}

void SimulatedPhone::plug(vtr::udev::FakeUdevSource &usb)
{
    if (m_cameraDetector && m_cameraPort) m_cameraDetector->setPorts({*m_cameraPort});
    if (m_mountPoint) {
        // The desktop's mount of its phones, as the mount table lists it.
        vtr::MountTable::setAddedLines("4000 1 0:4000 / " + escapedMountField(m_mountPoint->path()) +
                                       " rw,nosuid,nodev,relatime - fuse.gvfsd-fuse gvfsd-fuse rw,user_id=" +
                                       QByteArray::number(::getuid()) + ",group_id=" +
                                       QByteArray::number(::getgid()) + "\n");
        m_listedMount = true;
    }
    usb.plug(vtr::udev::FakeUdevSource::usbDevice(usbBus(), QStringLiteral("1-1"), m_identity.vendor, m_identity.product,
                                                  m_identity.productName, m_identity.serial, m_identity.bus,
                                                  m_identity.devnum));
}

}  // namespace vtrapp
