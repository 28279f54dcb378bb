// Phones described by JSON (the format is documented in
// tests/devices/data/mtp/README.md).

#include "devices/mtp/sim/SimulatedMtpLibrary.h"

#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>
#include <limits>
#include <map>
#include <stdexcept>

namespace {

struct FixtureError : std::runtime_error
{
    using std::runtime_error::runtime_error;
};

[[noreturn]] void fail(const QString &where, const QString &what)
{
    throw FixtureError((where + QStringLiteral(": ") + what).toStdString());
}

// Numbers may be JSON numbers, or texts (decimal, or hex with "0x") for
// values beyond what a double holds exactly.
quint64 number(const QJsonValue &value, const QString &where, quint64 fallback = 0)
{
    if (value.isUndefined() || value.isNull()) return fallback;
    if (value.isDouble()) {
        const double d = value.toDouble();
        if (d < 0) fail(where, QStringLiteral("negative number"));
        // 2^64: a larger double has no integer of ours.
        if (d >= 18446744073709551616.0) fail(where, QStringLiteral("%1 is out of range").arg(d));
        return quint64(d);
    }
    if (value.isString()) {
        bool ok = false;
        const QString text = value.toString().trimmed();
        const quint64 n = text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive) ? text.mid(2).toULongLong(&ok, 16)
                                                                                    : text.toULongLong(&ok, 10);
        if (!ok) fail(where, QStringLiteral("\"%1\" is not a number").arg(text));
        return n;
    }
    fail(where, QStringLiteral("a number is expected"));
}

// A number that must fit the field it is read into.
template <typename T> T numberAs(const QJsonValue &value, const QString &where, T fallback = 0)
{
    const quint64 n = number(value, where, quint64(fallback));
    if (n > quint64(std::numeric_limits<T>::max())) fail(where, QStringLiteral("%1 is out of range").arg(n));
    return T(n);
}

QString text(const QJsonObject &o, const char *key)
{
    const QJsonValue v = o.value(QLatin1String(key));
    return v.isString() ? v.toString() : QString();
}

time_t timeValue(const QJsonValue &value, const QString &where)
{
    if (value.isUndefined() || value.isNull()) return 0;
    if (value.isDouble()) {
        // Seconds within the years 0 to 9999, as dates are written.
        const double d = value.toDouble();
        if (!(std::abs(d) < 253402300800.0)) fail(where, QStringLiteral("time %1 is out of range").arg(d));
        return time_t(d);
    }
    const QDateTime date = QDateTime::fromString(value.toString(), Qt::ISODate);
    if (!date.isValid()) fail(where, QStringLiteral("\"%1\" is not an ISO date").arg(value.toString()));
    return time_t(date.toSecsSinceEpoch());
}

LIBMTP_filetype_t filetypeValue(const QJsonValue &value, const QString &where)
{
    if (value.isDouble()) {
        const int n = value.toInt(-1);
        if (n < 0 || n > int(LIBMTP_FILETYPE_UNKNOWN)) fail(where, QStringLiteral("unknown file type %1").arg(n));
        return LIBMTP_filetype_t(n);
    }
    const std::optional<LIBMTP_filetype_t> type = mtpFiletypeFromName(value.toString());
    if (!type) fail(where, QStringLiteral("unknown file type \"%1\"").arg(value.toString()));
    return *type;
}

MtpSimTrackInfo trackValue(const QJsonObject &o, const QString &where)
{
    MtpSimTrackInfo t;
    t.title = text(o, "title");
    t.artist = text(o, "artist");
    t.composer = text(o, "composer");
    t.genre = text(o, "genre");
    t.album = text(o, "album");
    t.date = text(o, "date");
    t.tracknumber = numberAs<uint16_t>(o.value(QLatin1String("tracknumber")), where);
    t.duration = numberAs<uint32_t>(o.value(QLatin1String("duration")), where);
    t.samplerate = numberAs<uint32_t>(o.value(QLatin1String("samplerate")), where);
    t.nochannels = numberAs<uint16_t>(o.value(QLatin1String("nochannels")), where);
    t.wavecodec = numberAs<uint32_t>(o.value(QLatin1String("wavecodec")), where);
    t.bitrate = numberAs<uint32_t>(o.value(QLatin1String("bitrate")), where);
    t.bitratetype = numberAs<uint16_t>(o.value(QLatin1String("bitratetype")), where);
    t.rating = numberAs<uint16_t>(o.value(QLatin1String("rating")), where);
    t.usecount = numberAs<uint32_t>(o.value(QLatin1String("usecount")), where);
    return t;
}

// References of playlists and albums, resolved once every object exists.
struct PendingReferences
{
    uint32_t objectId;
    uint32_t storageId;
    QJsonArray tracks;
    QString where;
};

class Loader
{
public:
    explicit Loader(MtpSimPhone &phone) : m_phone(phone) {}

    void load(const QJsonObject &root)
    {
        loadIdentity(root.value(QLatin1String("identity")).toObject());
        loadOptions(root.value(QLatin1String("options")).toObject());
        const QJsonArray storages = root.value(QLatin1String("storages")).toArray();
        for (int i = 0; i < storages.size(); ++i)
            loadStorage(storages[i].toObject(), QStringLiteral("storages[%1]").arg(i));
        const QJsonArray raw = root.value(QLatin1String("rawObjects")).toArray();
        for (int i = 0; i < raw.size(); ++i)
            loadRawObject(raw[i].toObject(), QStringLiteral("rawObjects[%1]").arg(i));
        applyParents();
        for (const PendingReferences &pending : m_references)
            resolve(pending);
    }

private:
    void loadIdentity(const QJsonObject &o)
    {
        MtpSimIdentity id;
        const QString where = QStringLiteral("identity");
        id.vendorId = numberAs<uint16_t>(o.value(QLatin1String("vendorId")), where, id.vendorId);
        id.productId = numberAs<uint16_t>(o.value(QLatin1String("productId")), where, id.productId);
        id.busLocation = numberAs<uint32_t>(o.value(QLatin1String("busLocation")), where, id.busLocation);
        id.devnum = numberAs<uint8_t>(o.value(QLatin1String("devnum")), where, m_phone.identity().devnum);
        if (o.contains(QLatin1String("vendorName"))) id.vendorName = text(o, "vendorName");
        if (o.contains(QLatin1String("productName"))) id.productName = text(o, "productName");
        id.friendlyName = text(o, "friendlyName");
        id.serialNumber = text(o, "serialNumber");
        id.modelName = text(o, "modelName");
        id.manufacturerName = text(o, "manufacturerName");
        id.deviceVersion = text(o, "deviceVersion");
        id.screenHeight = numberAs<int>(o.value(QLatin1String("screenHeight")), where);
        id.screenWidth = numberAs<int>(o.value(QLatin1String("screenWidth")), where);
        id.contentRevision = numberAs<uint32_t>(o.value(QLatin1String("contentRevision")), where, 1);
        m_phone.setIdentity(id);
    }

    void loadOptions(const QJsonObject &o)
    {
        MtpSimOptions options;
        const QString where = QStringLiteral("options");
        options.transferBlockSize =
            numberAs<uint32_t>(o.value(QLatin1String("transferBlockSize")), where, options.transferBlockSize);
        if (options.transferBlockSize == 0) fail(where, QStringLiteral("transferBlockSize must not be 0"));
        options.listingsOmitDates = o.value(QLatin1String("listingsOmitDates")).toBool(options.listingsOmitDates);
        options.rejectDuplicateNames =
            o.value(QLatin1String("rejectDuplicateNames")).toBool(options.rejectDuplicateNames);
        options.keepPartialSends = o.value(QLatin1String("keepPartialSends")).toBool(options.keepPartialSends);
        options.maxStoredBytes =
            numberAs<qint64>(o.value(QLatin1String("maxStoredBytes")), where, options.maxStoredBytes);
        options.clock = timeValue(o.value(QLatin1String("clock")), where);
        m_phone.setOptions(options);
    }

    void loadStorage(const QJsonObject &o, const QString &where)
    {
        MtpSimStorageSpec spec;
        spec.id = numberAs<uint32_t>(o.value(QLatin1String("id")), where);
        const QJsonValue type = o.value(QLatin1String("type"));
        if (type.isString()) {
            const QString t = type.toString().toLower();
            if (t == QLatin1String("internal"))
                spec.storageType = 3;
            else if (t == QLatin1String("removable") || t == QLatin1String("card"))
                spec.storageType = 4;
            else
                fail(where, QStringLiteral("unknown storage type \"%1\"").arg(t));
        } else if (!type.isUndefined()) {
            spec.storageType = numberAs<uint16_t>(type, where);
        }
        spec.description = text(o, "description");
        spec.volumeIdentifier = text(o, "volumeIdentifier");
        spec.capacity = number(o.value(QLatin1String("capacity")), where);
        if (o.contains(QLatin1String("freeSpace"))) spec.freeSpace = number(o.value(QLatin1String("freeSpace")), where);
        if (spec.freeSpace && *spec.freeSpace > spec.capacity)
            fail(where, QStringLiteral("more free space than capacity"));
        spec.readOnly = o.value(QLatin1String("readOnly")).toBool(false);
        const uint32_t storageId = m_phone.addStorage(spec);
        if (storageId == 0) fail(where, QStringLiteral("storage ID taken"));
        const QJsonArray objects = o.value(QLatin1String("objects")).toArray();
        for (int i = 0; i < objects.size(); ++i)
            loadObject(objects[i].toObject(), storageId, 0, QStringLiteral("%1/%2").arg(where).arg(i));
    }

    MtpSimObjectSpec objectSpec(const QJsonObject &o, const QString &where)
    {
        MtpSimObjectSpec spec;
        if (!o.value(QLatin1String("name")).isString()) fail(where, QStringLiteral("an object needs a \"name\""));
        spec.name = o.value(QLatin1String("name")).toString().toUtf8();
        spec.id = numberAs<uint32_t>(o.value(QLatin1String("id")), where);
        spec.folder = o.value(QLatin1String("folder")).toBool(false) || o.contains(QLatin1String("children"));
        if (o.contains(QLatin1String("type"))) spec.filetype = filetypeValue(o.value(QLatin1String("type")), where);
        if (o.contains(QLatin1String("text"))) spec.contents = o.value(QLatin1String("text")).toString().toUtf8();
        if (o.contains(QLatin1String("base64"))) {
            const auto decoded = QByteArray::fromBase64Encoding(o.value(QLatin1String("base64")).toString().toLatin1());
            if (!decoded) fail(where, QStringLiteral("invalid base64"));
            spec.contents = *decoded;
        }
        if (o.contains(QLatin1String("size"))) spec.size = numberAs<qint64>(o.value(QLatin1String("size")), where);
        if (spec.contents && spec.size >= 0 && spec.size != spec.contents->size())
            fail(where, QStringLiteral("\"size\" differs from the contents' length"));
        spec.mtime = timeValue(o.value(QLatin1String("mtime")), where);
        spec.dateInListing = o.value(QLatin1String("dateInListing")).toBool(true);
        if (o.contains(QLatin1String("track")))
            spec.track = trackValue(o.value(QLatin1String("track")).toObject(), where);
        const QJsonObject playlist = o.value(QLatin1String("playlist")).toObject();
        const QJsonObject album = o.value(QLatin1String("album")).toObject();
        if (o.contains(QLatin1String("playlist"))) {
            spec.filetype = LIBMTP_FILETYPE_PLAYLIST;
            spec.listName = text(playlist, "name");
            if (!spec.contents && spec.size < 0) spec.size = 0;
        } else if (o.contains(QLatin1String("album"))) {
            spec.filetype = LIBMTP_FILETYPE_ALBUM;
            spec.listName = text(album, "name");
            spec.albumArtist = text(album, "artist");
            spec.albumComposer = text(album, "composer");
            spec.albumGenre = text(album, "genre");
            if (album.contains(QLatin1String("artworkBase64"))) {
                const auto art =
                    QByteArray::fromBase64Encoding(album.value(QLatin1String("artworkBase64")).toString().toLatin1());
                if (!art) fail(where, QStringLiteral("invalid artwork base64"));
                spec.artwork = *art;
            }
            if (!spec.contents && spec.size < 0) spec.size = 0;
        }
        return spec;
    }

    void noteReferences(const QJsonObject &o, uint32_t id, uint32_t storageId, const QString &where)
    {
        const QJsonObject list =
            o.value(QLatin1String(o.contains(QLatin1String("playlist")) ? "playlist" : "album")).toObject();
        const QJsonArray tracks = list.value(QLatin1String("tracks")).toArray();
        if (!tracks.isEmpty()) m_references.push_back({id, storageId, tracks, where});
    }

    void loadObject(const QJsonObject &o, uint32_t storageId, uint32_t parentId, const QString &where)
    {
        MtpSimObjectSpec spec = objectSpec(o, where);
        spec.storageId = storageId;
        spec.parentId = parentId;
        const uint32_t id = m_phone.addObject(spec);
        if (id == 0) fail(where, QStringLiteral("the object cannot be added (taken ID?)"));
        noteReferences(o, id, storageId, where);
        const QJsonArray children = o.value(QLatin1String("children")).toArray();
        for (int i = 0; i < children.size(); ++i)
            loadObject(children[i].toObject(), storageId, id, QStringLiteral("%1/%2").arg(where).arg(i));
    }

    // Objects with explicit IDs and parents, added after the trees: they may
    // hang below tree folders and form what no tree can (loops, parents on
    // other storages).
    void loadRawObject(const QJsonObject &o, const QString &where)
    {
        MtpSimObjectSpec spec = objectSpec(o, where);
        if (spec.id == 0) fail(where, QStringLiteral("a raw object needs an \"id\""));
        spec.storageId = numberAs<uint32_t>(o.value(QLatin1String("storageId")), where);
        const uint32_t parentId = numberAs<uint32_t>(o.value(QLatin1String("parentId")), where);
        spec.parentId = 0;
        const uint32_t id = m_phone.addObject(spec);
        if (id == 0) fail(where, QStringLiteral("the object cannot be added (unknown storage or taken ID)"));
        if (parentId != 0) m_pendingParents.emplace_back(id, parentId);
        noteReferences(o, id, spec.storageId, where);
    }

    // Parents of raw objects, set once all of them exist (a later one may be
    // the parent of an earlier one).
    void applyParents()
    {
        for (const auto &[child, parent] : m_pendingParents) {
            if (!m_phone.object(parent))
                fail(QStringLiteral("rawObjects"), QStringLiteral("parent ID %1 names no object").arg(parent));
            m_phone.forceParent(child, parent);
        }
        m_pendingParents.clear();
    }

    void resolve(const PendingReferences &pending)
    {
        std::vector<uint32_t> ids;
        for (const QJsonValue &track : pending.tracks) {
            uint32_t id = 0;
            if (track.isDouble() && track.toDouble() >= 1 && track.toDouble() <= double(UINT32_MAX))
                id = uint32_t(track.toDouble());
            else if (track.isString())
                id = m_phone.objectIdForPath(pending.storageId, track.toString());
            if (id == 0 || !m_phone.object(id))
                fail(pending.where, QStringLiteral("track \"%1\" not found").arg(track.toVariant().toString()));
            ids.push_back(id);
        }
        m_phone.setReferences(pending.objectId, ids);
    }

    MtpSimPhone &m_phone;
    std::vector<PendingReferences> m_references;
    std::vector<std::pair<uint32_t, uint32_t>> m_pendingParents;
};

} // namespace

MtpSimPhone *SimulatedMtpLibrary::addPhoneFromJson(const QByteArray &json, QString *error)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (document.isNull() || !document.isObject()) {
        if (error) *error = parseError.errorString();
        return nullptr;
    }
    MtpSimPhone &phone = addPhone();
    try {
        Loader loader(phone);
        loader.load(document.object());
    } catch (const FixtureError &e) {
        if (error) *error = QString::fromStdString(e.what());
        // Nothing can hold the half-built phone yet: it goes.
        removeLastPhone();
        return nullptr;
    }
    return &phone;
}

MtpSimPhone *SimulatedMtpLibrary::addPhoneFromFile(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error) *error = file.errorString();
        return nullptr;
    }
    return addPhoneFromJson(file.readAll(), error);
}
