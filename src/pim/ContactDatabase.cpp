#include "pim/ContactDatabase.h"

#include "foundation/Json.h"
#include "foundation/Log.h"
#include "foundation/MigrationStatus.h"
#include "foundation/VtrDate.h"
#include "pim/PIMDatabaseDelegate.h"
#include "pim/dialect/CompanionFile.h"
#include "pim/dialect/FlatRecords.h"
#include "pim/dialect/STRecordAndroid.h"
#include "pim/records/STDate.h"
#include "platform/Strings.h"

#include <QDateTime>
#include <QUrl>

using namespace syncstore;

namespace {

const QString kUid = QStringLiteral("uid");
const QString kParentID = QStringLiteral("parentID");

// The store's relationships of a contact and the snapshot keys they fill.
struct Relationship
{
    const char *storeName, *recordsKey, *idsKey;
};
constexpr Relationship kRelationships[] = {
    {"phone numbers", "phones", "phone_ids"},   {"dates", "dates", "date_ids"},
    {"email addresses", "emails", "email_ids"}, {"IMs", "ims", "im_ids"},
    {"related names", "associates", "associate_ids"}, {"street addresses", "addresses", "address_ids"},
    {"URLs", "urls", "url_ids"},                {"custom fields", "customs", "custom_ids"},
};

// Snapshot keys copied as they are.
constexpr const char *kNameKeys[] = {"first name", "first name yomi", "last name", "last name yomi", "maiden name",
                                     "middle name", "middle name yomi", "suffix", "title"};

QVariantList itemsCopying(const QVariantList &items, const QString &parentID, std::initializer_list<const char *> keys)
{
    QVariantList out;
    for (const QVariant &v : items) {
        const QVariantMap item = v.toMap();
        QVariantMap d{{kUid, item.value(kUid)}, {kParentID, parentID}};
        for (const char *k : keys)
            if (item.contains(QLatin1String(k))) d.insert(QLatin1String(k), item.value(QLatin1String(k)));
        out.append(d);
    }
    return out;
}

QString itemIdentifier(const QString &contact, const QString &kind, int counter)
{
    return QStringLiteral("%1_%2_%3").arg(contact, kind).arg(counter);
}

void setIfPresent(STRecord &r, const QVariantMap &item, const char *key, const QString &field = QString())
{
    const QVariant v = item.value(QLatin1String(key));
    if (v.isValid() && !(v.typeId() == QMetaType::QString && v.toString().isEmpty()))
        r.setValue(v, field.isEmpty() ? QLatin1String(key) : field);
}

// A kind outside the relationship's table is kept as its "other" kind with
// the store's kind as label: a phone number marked "main" is still a number
// the person has.
STMappedKind mappedKind(const QString &relationship, const QVariantMap &item)
{
    return mapContactKind(relationship, item.value(QStringLiteral("type")).toString(),
                          item.value(QStringLiteral("label")).toString());
}

// Slot names of Windows Live e-mails and phones.
QString liveSlot(const QString &type)
{
    if (type.contains(QLatin1String("home"))) return QStringLiteral("personal");
    if (type.contains(QLatin1String("work"))) return QStringLiteral("business");
    if (type.contains(QLatin1String("other"))) return QStringLiteral("other");
    return type;
}

QString uniqueSlot(const QString &slot, const QVariantMap &used)
{
    if (!used.contains(slot)) return slot;
    for (int n = 2;; ++n) {
        const QString candidate = QStringLiteral("%1 %2").arg(slot).arg(n);
        if (!used.contains(candidate)) return candidate;
    }
}

}  // namespace

QString ContactDatabase::clientIdentifier() const { return QStringLiteral("%1.contacts").arg(bundleIdentifier()); }
QString ContactDatabase::clientDescriptionPath() const { return QStringLiteral(":/pim/ContactsSyncClientDescription.json"); }
QList<QUrl> ContactDatabase::schemaBundleURLs() const
{
    return {QUrl::fromLocalFile(QStringLiteral("/System/Library/SyncServices/Schemas/Contacts.syncschema"))};
}
QStringList ContactDatabase::entityNamesToSync() const
{
    return {entity::Contact, entity::Group,         entity::CustomField, entity::Date,          entity::EmailAddress,
            entity::IM,      entity::PhoneNumber,   entity::RelatedName, entity::StreetAddress, entity::URL};
}

QVariantList ContactDatabase::syncSessionForSnapshot()
{
    std::unique_ptr<SyncRecordSnapshot> snapshot;
    QVariantList out;
    for (const SyncRecordEntry &e : snapshotRecords(entity::Contact, &snapshot)) {
        const QVariantMap &r = e.record;
        const QStringList self{e.identifier};
        QVariantMap c{{kUid, e.identifier}};
        for (const char *k : kNameKeys)
            if (r.contains(QLatin1String(k))) c.insert(QLatin1String(k), r.value(QLatin1String(k)));
        if (r.contains(QStringLiteral("display as company"))) c.insert(QStringLiteral("isCompany"), r.value(QStringLiteral("display as company")));
        if (r.contains(QStringLiteral("notes"))) c.insert(QStringLiteral("note"), r.value(QStringLiteral("notes")));
        if (r.contains(QStringLiteral("birthday"))) c.insert(QStringLiteral("birthday"), r.value(QStringLiteral("birthday")));
        if (r.contains(QStringLiteral("image"))) {
            c.insert(QStringLiteral("image"), r.value(QStringLiteral("image")));
            c.insert(QStringLiteral("image_ids"), self);
        }
        bool organization = false;
        for (const char *k : {"company name", "job title", "department"}) {
            if (!r.contains(QLatin1String(k))) continue;
            c.insert(QLatin1String(k), r.value(QLatin1String(k)));
            organization = true;
        }
        if (organization) c.insert(QStringLiteral("organization_ids"), self);
        if (r.contains(QStringLiteral("nickname"))) {
            c.insert(QStringLiteral("nickname"), r.value(QStringLiteral("nickname")));
            c.insert(QStringLiteral("nick_ids"), self);
        }
        for (const Relationship &rel : kRelationships) {
            QStringList ids = r.value(QLatin1String(rel.storeName)).toStringList();
            QVariantList items;
            for (const SyncRecordEntry &item : snapshot->recordsWithIdentifiers(ids)) {
                QVariantMap copy = item.record;
                copy.insert(kUid, item.identifier);
                items.append(copy);
            }
            if (qstrcmp(rel.idsKey, "date_ids") == 0 && c.contains(QStringLiteral("birthday"))) ids.append(e.identifier);
            if (!ids.isEmpty()) c.insert(QLatin1String(rel.idsKey), ids);
            if (!items.isEmpty()) c.insert(QLatin1String(rel.recordsKey), items);
        }
        out.append(c);
    }
    return out;
}

QVariantList ContactDatabase::groupArrayAll()
{
    QVariantList out;
    for (const SyncRecordEntry &e : snapshotRecords(entity::Group)) {
        // One group without a name is left out alone, not every group.
        if (e.record.value(QStringLiteral("name")).toString().isEmpty()) {
            logSkipped(QVariantMap{{kUid, e.identifier}});
            continue;
        }
        QVariantMap g{{QStringLiteral("name"), e.record.value(QStringLiteral("name"))}, {kUid, e.identifier}};
        if (e.record.contains(QStringLiteral("members"))) g.insert(QStringLiteral("members"), e.record.value(QStringLiteral("members")));
        out.append(g);
    }
    return out;
}

QVariantList ContactDatabase::phoneArray(const QVariantList &items, const QString &parentID) const
{
    return itemsCopying(items, parentID, {"type", "label", "value"});
}

QVariantList ContactDatabase::emailArray(const QVariantList &items, const QString &parentID) const
{
    return itemsCopying(items, parentID, {"type", "label", "value"});
}

QVariantList ContactDatabase::urlArray(const QVariantList &items, const QString &parentID) const
{
    QVariantList out = itemsCopying(items, parentID, {"type", "label", "value"});
    for (QVariant &v : out) {
        QVariantMap m = v.toMap();
        if (m.value(QStringLiteral("type")).toString() == QLatin1String("home page")) m.insert(QStringLiteral("type"), QStringLiteral("home_page"));
        if (m.value(QStringLiteral("value")).typeId() == QMetaType::QUrl)
            m.insert(QStringLiteral("value"), m.value(QStringLiteral("value")).toUrl().toString(QUrl::FullyEncoded));
        v = m;
    }
    return out;
}

QVariantList ContactDatabase::imArray(const QVariantList &items, const QString &parentID) const
{
    return itemsCopying(items, parentID, {"type", "label", "user", "service"});
}

QVariantList ContactDatabase::addressArray(const QVariantList &items, const QString &parentID) const
{
    QVariantList out = itemsCopying(items, parentID, {"type", "label", "street", "city", "state", "postal code",
                                                       "country", "extra_device_fields", "fieldLabels"});
    for (QVariant &v : out) {
        QVariantMap m = v.toMap();
        if (m.value(QStringLiteral("type")).toString() != QLatin1String("other")) m.remove(QStringLiteral("label"));
        v = m;
    }
    return out;
}

QVariantList ContactDatabase::organizationArray(const QVariantMap &contact, const QString &parentID) const
{
    const QVariant company = contact.value(QStringLiteral("company name")), job = contact.value(QStringLiteral("job title")),
                   department = contact.value(QStringLiteral("department"));
    if (!company.isValid() && !job.isValid() && !department.isValid()) return {};
    QVariantMap o{{kUid, parentID}, {kParentID, parentID}, {QStringLiteral("type"), QStringLiteral("work")},
                  {QStringLiteral("label"), QStringLiteral("work")}};
    if (company.isValid()) o.insert(QStringLiteral("company"), company);
    if (job.isValid()) o.insert(QStringLiteral("jobtitle"), job);
    if (department.isValid()) o.insert(QStringLiteral("department"), department);
    return {o};
}

STRecordPtr ContactDatabase::convertSyncRecordToSTRecord(const QVariantMap &record, const QVariantMap &mapping)
{
    const QString name = mapping.value(mappingEntityKey()).toString();
    if (name == entity::Contact) return convertSyncContactRecordToSTRecord(record, mapping);
    if (name == entity::Group) return convertSyncGroupRecordToSTRecord(record, mapping);
    return nullptr;
}

STRecordPtr ContactDatabase::convertSyncContactRecordToSTRecord(const QVariantMap &d, const QVariantMap &)
{
    static const QHash<QString, QString> nameFields = {
        {QStringLiteral("first name"), QStringLiteral("first")},   {QStringLiteral("middle name"), QStringLiteral("middle")},
        {QStringLiteral("last name"), QStringLiteral("last")},     {QStringLiteral("company name"), QStringLiteral("company")},
        {QStringLiteral("title"), QStringLiteral("prefix")},       {QStringLiteral("suffix"), QStringLiteral("suffix")},
        {QStringLiteral("image"), QStringLiteral("picture")},      {QStringLiteral("nickname"), QStringLiteral("nick")},
        {QStringLiteral("maiden name"), QStringLiteral("maiden")}, {QStringLiteral("first name yomi"), QStringLiteral("firstpron")},
        {QStringLiteral("middle name yomi"), QStringLiteral("middlepron")},
        {QStringLiteral("last name yomi"), QStringLiteral("lastpron")},
        {QStringLiteral("department"), QStringLiteral("department")},
    };
    static const QStringList imServices = {QStringLiteral("aim"), QStringLiteral("jabber"), QStringLiteral("msn"),
                                           QStringLiteral("yahoo"), QStringLiteral("icq")};
    static const QList<std::pair<QString, QString>> addressKeys = {
        {QStringLiteral("street"), QStringLiteral("street")}, {QStringLiteral("city"), QStringLiteral("city")},
        {QStringLiteral("state"), QStringLiteral("state")},   {QStringLiteral("postal code"), QStringLiteral("zip")},
        {QStringLiteral("country"), QStringLiteral("country")}};

    const QString uid = d.value(kUid).toString();
    auto c = STRecord::record();
    c->setType(QStringLiteral("contact"));
    c->setIdentifier(uid);
    c->setValue(uid, QStringLiteral("device_record_id"));

    auto related = [&](const QString &type, const QString &relationship, const QString &identifier) {
        auto r = STRecord::record();
        r->setType(type);
        if (!identifier.isEmpty()) r->setIdentifier(identifier);
        c->addRecord(r, relationship);
        return r;
    };
    for (auto it = d.cbegin(); it != d.cend(); ++it) {
        const auto field = nameFields.constFind(it.key());
        if (field != nameFields.cend()) {
            c->setValue(it.value(), *field);
        } else if (it.key() == QLatin1String("birthday") && it.value().isValid()) {
            const QVariant b = it.value();
            const QString text = b.canConvert<VtrCalendarDate>() && stHolds<VtrCalendarDate>(b)
                                     ? STDateOnlyStringFromCalendarDate(b.value<VtrCalendarDate>())
                                     : STDateOnlyStringFromCalendarDate(b.toDateTime());
            auto r = related(QStringLiteral("date"), QStringLiteral("dates"), QString());
            r->setValue(QStringLiteral("birthday"), QStringLiteral("type"));
            r->setValue(text, QStringLiteral("value"));
        } else if (it.key() == QLatin1String("job title")) {
            auto r = related(QStringLiteral("jobtitle"), QStringLiteral("jobtitles"), QString());
            r->setValue(QStringLiteral("jobtitle"), QStringLiteral("type"));
            r->setValue(it.value(), QStringLiteral("value"));
        } else if (it.key() == QLatin1String("note")) {
            auto r = related(QStringLiteral("note"), QStringLiteral("notes"), QStringLiteral("note"));
            r->setValue(QStringLiteral("note"), QStringLiteral("type"));
            r->setValue(it.value(), QStringLiteral("value"));
        }
    }

    int counter = 0;
    for (const QVariant &v : phoneArray(d.value(QStringLiteral("phones")).toList(), uid)) {
        const QVariantMap item = v.toMap();
        const STMappedKind kind = mappedKind(QStringLiteral("phones"), item);
        auto r = related(QStringLiteral("phone"), QStringLiteral("phones"), itemIdentifier(uid, QStringLiteral("phone"), counter++));
        r->setValue(kind.type, QStringLiteral("type"));
        if (!kind.label.isEmpty() && kind.label != kind.type) r->setValue(kind.label, QStringLiteral("label"));
        setIfPresent(*r, item, "value");
        setIfPresent(*r, item, "device_record_id");
    }
    counter = 0;
    for (const QVariant &v : emailArray(d.value(QStringLiteral("emails")).toList(), uid)) {
        const QVariantMap item = v.toMap();
        const STMappedKind kind = mappedKind(QStringLiteral("emails"), item);
        auto r = related(QStringLiteral("email"), QStringLiteral("emails"), itemIdentifier(uid, QStringLiteral("email"), counter++));
        r->setValue(kind.type, QStringLiteral("type"));
        if (!kind.label.isEmpty()) r->setValue(kind.label, QStringLiteral("label"));
        setIfPresent(*r, item, "value");
        setIfPresent(*r, item, "device_record_id");
    }
    counter = 0;
    for (const QVariant &v : addressArray(d.value(QStringLiteral("addresses")).toList(), uid)) {
        const QVariantMap item = v.toMap();
        const STMappedKind kind = mappedKind(QStringLiteral("addresses"), item);
        auto r = related(QStringLiteral("address"), QStringLiteral("addresses"), itemIdentifier(uid, QStringLiteral("address"), counter++));
        r->setValue(kind.type, QStringLiteral("type"));
        if (!kind.label.isEmpty()) r->setValue(kind.label, QStringLiteral("label"));
        setIfPresent(*r, item, "device_record_id");
        const QVariantMap labels = item.value(QStringLiteral("fieldLabels")).toMap();
        for (const auto &[key, field] : addressKeys) {
            if (!item.contains(key)) continue;
            r->setValue(item.value(key), field);
            if (labels.contains(key)) r->setLabel(labels.value(key).toString(), field);
        }
        const QVariantMap extra = item.value(QStringLiteral("extra_device_fields")).toMap();
        for (const char *k : {"ext", "pobox"}) {
            setIfPresent(*r, extra, k);
            if (extra.contains(QLatin1String(k)) && labels.contains(QLatin1String(k)))
                r->setLabel(labels.value(QLatin1String(k)).toString(), QLatin1String(k));
        }
    }
    counter = 0;
    for (const QVariant &v : imArray(d.value(QStringLiteral("ims")).toList(), uid)) {
        const QVariantMap item = v.toMap();
        const STMappedKind kind = mappedKind(QStringLiteral("IMs"), item);
        auto r = related(QStringLiteral("IM"), QStringLiteral("IMs"), itemIdentifier(uid, QStringLiteral("IM"), counter++));
        r->setValue(kind.type, QStringLiteral("type"));
        if (!kind.label.isEmpty()) r->setValue(kind.label, QStringLiteral("label"));
        setIfPresent(*r, item, "user");
        const QString service = item.value(QStringLiteral("service")).toString();
        if (imServices.contains(service)) r->setValue(service, QStringLiteral("service"));
        setIfPresent(*r, item, "device_record_id");
    }
    counter = 0;
    for (const QVariant &v : organizationArray(d, uid)) {
        const QVariantMap item = v.toMap();
        auto r = related(QStringLiteral("organization"), QStringLiteral("organizations"),
                         itemIdentifier(uid, QStringLiteral("organization"), counter++));
        for (const char *k : {"type", "company", "jobtitle", "department", "device_record_id"}) setIfPresent(*r, item, k);
    }
    return c;
}

STRecordPtr ContactDatabase::convertSyncGroupRecordToSTRecord(const QVariantMap &d, const QVariantMap &)
{
    auto g = STRecord::record();
    g->setType(QStringLiteral("group"));
    g->setIdentifier(d.value(d.contains(QStringLiteral("device_record_id")) ? QStringLiteral("device_record_id") : kUid).toString());
    g->setValue(d.value(QStringLiteral("name")), QStringLiteral("name"));
    for (const QString &member : d.value(QStringLiteral("members")).toStringList())
        g->addRecord(STRecord::placeholderRecordWithIdentifier(member), QStringLiteral("members"));
    return g;
}

void ContactDatabase::createDatabase()
{
    reportNow(QStringLiteral("Collecting contacts information..."), vtrphase::Contacts, 0.05);
    QVariantList contacts, groups;
    m_recordCount = 0;
    m_containerCount = 0;

    QVariantList snapshot = readStore("Could not access contact data.", [this] { return syncSessionForSnapshot(); });
    const QVariantMap contactMapping{{mappingEntityKey(), entity::Contact}};
    const qsizetype n = snapshot.size();
    for (qsizetype i = 0; i < n; ++i) {
        const STRecordPtr record = convertOrSkip(
            snapshot.at(i).toMap(), [&](const QVariantMap &d) { return convertSyncRecordToSTRecord(d, contactMapping); });
        const auto json = record ? jsonOrSkip(*record, JSONContactRecordFromSTRecord) : std::nullopt;
        if (!json) continue;
        contacts.append(*json);
        ++m_recordCount;
        report(vtrLocalized("Collected %1 contact records...").arg(m_recordCount), vtrphase::Contacts,
               double(i) / double(n) * 0.95 + 0.05);
    }

    if (targetIsWindowsPhone()) {
        if (delegate()) delegate()->stowContacts(convertContactsToWindowsLive(contacts), groups);
        return;
    }

    const QVariantList groupDicts = readStore("Could not access group data.", [this] { return groupArrayAll(); });
    const QVariantMap groupMapping{{mappingEntityKey(), entity::Group}};
    for (const QVariant &v : std::as_const(groupDicts)) {
        const STRecordPtr record =
            convertOrSkip(v.toMap(), [&](const QVariantMap &d) { return convertSyncRecordToSTRecord(d, groupMapping); });
        const auto json = record ? jsonOrSkip(*record, JSONGroupRecordFromSTRecord,
                                              "Group record %1 will not be transferred to your device due to an error in its format.")
                                 : std::nullopt;
        if (json) groups.append(*json);
    }

    ExportFile file(QStringLiteral("sl_contacts.json"));
    m_recordCount = 0;
    for (const QVariant &c : std::as_const(contacts)) m_recordCount += file.writeLine(QStringLiteral("contacts"), c.toMap());
    for (const QVariant &g : std::as_const(groups)) m_containerCount += file.writeLine(QStringLiteral("groups"), g.toMap());
    m_dataSize = file.finish(*this, QStringLiteral("Copying contacts to device..."), vtrphase::Contacts,
                             QStringLiteral("Contacts file does not exist."));
}

QVariantMap ContactDatabase::manifestInfo() const
{
    QVariantMap m = manifestWith("sl_contacts.json", "contact_cnt", "Contact", "Contacts");
    m.insert(QStringLiteral("group_cnt"), m_containerCount);
    m.insert(QStringLiteral("group_title"), vtrLocalized(m_containerCount == 1 ? "Group" : "Groups"));
    return m;
}

// ---- Windows Live bodies ---------------------------------------------------------

void ContactDatabase::mapField(const QString &sourceKey, const QVariantMap &source, const QString &targetKey,
                               QVariantMap &target)
{
    const auto it = source.constFind(sourceKey);
    if (it != source.cend() && it->isValid() && !vtr::isJsonNull(*it)) target.insert(targetKey, *it);
}

QVariantList ContactDatabase::convertContactsToWindowsLive(const QVariantList &records) const
{
    QVariantList bodies;
    for (const QVariant &v : records) {
        const QVariantMap r = v.toMap();
        QVariantMap body;
        mapField(QStringLiteral("first"), r, QStringLiteral("first_name"), body);
        mapField(QStringLiteral("last"), r, QStringLiteral("last_name"), body);
        QStringList name;
        for (const char *k : {"first", "last", "suffix"})
            if (r.contains(QLatin1String(k))) name.append(r.value(QLatin1String(k)).toString());
        if (!name.isEmpty()) body.insert(QStringLiteral("name"), name.join(QLatin1Char(' ')));
        const QString birthday = r.value(QStringLiteral("birthday")).toString();
        if (birthday.size() == 8) {
            body.insert(QStringLiteral("birth_year"), birthday.left(4).toInt());
            body.insert(QStringLiteral("birth_month"), birthday.mid(4, 2).toInt());
            body.insert(QStringLiteral("birth_day"), birthday.mid(6, 2).toInt());
        }
        for (const char *key : {"emails", "phones"}) {
            QVariantMap slots;
            for (const QVariant &item : r.value(QLatin1String(key)).toList()) {
                const QVariantMap m = item.toMap();
                if (!m.contains(QStringLiteral("type")) || !m.contains(QStringLiteral("value"))) continue;
                slots.insert(uniqueSlot(liveSlot(m.value(QStringLiteral("type")).toString()), slots),
                             m.value(QStringLiteral("value")));
            }
            if (!slots.isEmpty()) body.insert(QLatin1String(key), slots);
        }
        QVariantMap addresses;
        for (const QVariant &item : r.value(QStringLiteral("addresses")).toList()) {
            const QVariantMap m = item.toMap();
            const QString type = m.value(QStringLiteral("type")).toString();
            const QString slot = type.compare(QLatin1String("home"), Qt::CaseInsensitive) == 0   ? QStringLiteral("personal")
                                 : type.compare(QLatin1String("work"), Qt::CaseInsensitive) == 0 ? QStringLiteral("business")
                                                                                                 : QStringLiteral("other");
            QVariantMap address;
            for (const auto &[from, to] : {std::pair{"state", "state"}, {"street", "street"}, {"city", "city"},
                                           {"country", "region"}, {"zip", "postal_code"}})
                mapField(QLatin1String(from), m, QLatin1String(to), address);
            addresses.insert(uniqueSlot(slot, addresses), address);
        }
        if (!addresses.isEmpty()) body.insert(QStringLiteral("addresses"), addresses);
        QVariantList work;
        for (const QVariant &item : r.value(QStringLiteral("organizations")).toList()) {
            const QVariantMap m = item.toMap();
            if (!m.contains(QStringLiteral("company"))) continue;
            QVariantMap entry{{QStringLiteral("employer"), QVariantMap{{QStringLiteral("name"), m.value(QStringLiteral("company"))}}}};
            if (m.contains(QStringLiteral("jobtitle")))
                entry.insert(QStringLiteral("position"), QVariantMap{{QStringLiteral("name"), m.value(QStringLiteral("jobtitle"))}});
            work.append(entry);
        }
        if (!work.isEmpty()) body.insert(QStringLiteral("work"), work);
        bodies.append(body);
    }
    return bodies;
}

std::optional<QVariantList> ContactDatabase::windowsLiveContactsWithData(const QByteArray &data)
{
    if (!isUtf8(data)) return std::nullopt;
    int lineCount = 0;
    const QList<CompanionLine> lines = readCompanionLines(data, &lineCount);
    QVariantList records;
    qsizetype next = 0;
    for (int k = 1; k <= lineCount; ++k) {
        for (; next < lines.size() && lines.at(next).lineNumber == k; ++next) {
            if (lines.at(next).database != QLatin1String("contacts")) continue;
            records.append(lines.at(next).record);
            ++m_recordCount;
        }
        report(QString(), vtrphase::Contacts, double(k) / double(lineCount) * 0.5);
    }
    const QVariantList bodies = convertContactsToWindowsLive(records);
    report(QString(), vtrphase::Contacts, 1.0);
    return bodies;
}
