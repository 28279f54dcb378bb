#include "pim/ContactDatabase.h"

#include "foundation/Json.h"
#include "foundation/Log.h"
#include "foundation/MigrationStatus.h"
#include "foundation/VtrDate.h"
#include "fileinfo/VtrMacFileInfo.h"
#include "pim/PIMDatabaseDelegate.h"
#include "pim/dialect/CompanionFile.h"
#include "pim/dialect/FlatRecords.h"
#include "pim/dialect/STRecordAndroid.h"
#include "pim/records/STDate.h"
#include "platform/Strings.h"

#include <QBuffer>
#include <QDateTime>
#include <QFileInfo>
#include <QSet>
#include <QUrl>

#include <algorithm>
#include <vector>

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

// A slot name not yet used in one dictionary: the name, else "%1 %2" with 2,
// 3 and so on. A name once used stays used, so each name's search goes on
// from where its last one ended: k items of one kind cost k look-ups, not k².
class UniqueSlots
{
public:
    QString operator()(const QString &slot, const QVariantMap &used)
    {
        if (!used.contains(slot)) return slot;
        int &n = m_next[slot];
        n = std::max(n, 2);
        for (;; ++n) {
            QString candidate = QStringLiteral("%1 %2").arg(slot).arg(n);
            if (!used.contains(candidate)) {
                ++n;
                return candidate;
            }
        }
    }

private:
    QHash<QString, int> m_next;
};

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
    QVariantList out;
    forEachContactSnapshot([&](QVariantMap contact, qsizetype, qsizetype) { out.append(std::move(contact)); });
    return out;
}

void ContactDatabase::forEachContactSnapshot(const std::function<void(QVariantMap, qsizetype, qsizetype)> &visit)
{
    static const QString isCompany = QStringLiteral("isCompany"), displayAsCompany = QStringLiteral("display as company"),
                         note = QStringLiteral("note"), notes = QStringLiteral("notes"),
                         birthday = QStringLiteral("birthday"), image = QStringLiteral("image"),
                         imageIds = QStringLiteral("image_ids"), nickname = QStringLiteral("nickname"),
                         nickIds = QStringLiteral("nick_ids"), organizationIds = QStringLiteral("organization_ids");
    static const QStringList nameKeys = [] {
        QStringList keys;
        for (const char *k : kNameKeys) keys.append(QLatin1String(k));
        return keys;
    }();
    static const QStringList organizationKeys{QStringLiteral("company name"), QStringLiteral("job title"),
                                              QStringLiteral("department")};
    struct Keys
    {
        QString storeName, recordsKey, idsKey;
    };
    static const QList<Keys> relationships = [] {
        QList<Keys> out;
        for (const Relationship &r : kRelationships)
            out.append({QLatin1String(r.storeName), QLatin1String(r.recordsKey), QLatin1String(r.idsKey)});
        return out;
    }();

    std::unique_ptr<SyncRecordSnapshot> snapshot;
    // Only this reads the store: what `visit` throws (a file that cannot be
    // written) is no failure to read it.
    SyncRecordList contacts =
        readStore("Could not access contact data.", [&] { return snapshotRecords(entity::Contact, &snapshot); });
    setLeftOut(snapshot ? snapshot->leftOut() : QStringList());
    // A record named more than once (a source may give two contacts one
    // phone number) cannot be taken at its first naming: it is copied at each.
    // Identifiers are told apart by their hashes only, so as not to hold them
    // all again; two that share a hash are merely copied too.
    QSet<size_t> named;
    {
        std::vector<size_t> hashes;
        for (const SyncRecordEntry &e : std::as_const(contacts)) {
            hashes.push_back(qHash(e.identifier));
            for (const Keys &rel : relationships)
                for (const QString &id : e.record.value(rel.storeName).toStringList()) hashes.push_back(qHash(id));
        }
        std::sort(hashes.begin(), hashes.end());
        for (size_t k = 1; k < hashes.size(); ++k)
            if (hashes[k] == hashes[k - 1]) named.insert(hashes[k]);
    }
    auto records = [&](const QStringList &ids) {
        for (const QString &id : ids)
            if (named.contains(qHash(id))) return snapshot->recordsWithIdentifiers(ids);
        return snapshot->takeRecordsWithIdentifiers(ids);
    };
    const qsizetype n = contacts.size();
    for (qsizetype i = 0; i < n; ++i) {
        // The contact's store records leave the snapshot here: the snapshot
        // shrinks as the caller's results grow.
        const SyncRecordEntry e = std::exchange(contacts[i], SyncRecordEntry());
        records({e.identifier});
        const QVariantMap &r = e.record;
        const QStringList self{e.identifier};
        QVariantMap c{{kUid, e.identifier}};
        auto copy = [&](const QString &from, const QString &to) {
            const auto it = r.constFind(from);
            if (it == r.cend()) return false;
            c.insert(to, *it);
            return true;
        };
        for (const QString &k : nameKeys) copy(k, k);
        copy(displayAsCompany, isCompany);
        copy(notes, note);
        copy(birthday, birthday);
        if (copy(image, image)) c.insert(imageIds, self);
        bool organization = false;
        for (const QString &k : organizationKeys) organization = copy(k, k) || organization;
        if (organization) c.insert(organizationIds, self);
        if (copy(nickname, nickname)) c.insert(nickIds, self);
        for (const Keys &rel : relationships) {
            QStringList ids = r.value(rel.storeName).toStringList();
            QVariantList items;
            for (SyncRecordEntry &item : records(ids)) {
                item.record.insert(kUid, item.identifier);
                items.append(std::move(item.record));
            }
            if (rel.idsKey == QLatin1String("date_ids") && c.contains(birthday)) ids.append(e.identifier);
            if (!ids.isEmpty()) c.insert(rel.idsKey, ids);
            if (!items.isEmpty()) c.insert(rel.recordsKey, items);
        }
        visit(std::move(c), i, n);
    }
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
            const VtrCalendarDate date = stHolds<VtrCalendarDate>(b)
                                             ? b.value<VtrCalendarDate>()
                                             : VtrCalendarDate(b.toDateTime(), vtr::defaultTimeZone());
            // A birthday without a year keeps its day and month only.
            const QString text = !date.isNull() && date.yearOfCommonEra() == kNoYear
                                     ? stBirthdayText({0, date.monthOfYear(), date.dayOfMonth()}) + QStringLiteral("000000")
                                     : STDateOnlyStringFromCalendarDate(date);
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
    m_recordCount = 0;
    m_containerCount = 0;
    setLeftOut({});

    // Each contact goes its whole way (store dictionary, record, JSON record,
    // Windows Live body or export line) before the next one is read: only the
    // store and the results are ever whole.
    const bool live = targetIsWindowsPhone();
    std::optional<ExportFile> file;
    if (!live) file.emplace(QStringLiteral("sl_contacts.json"));
    QVariantList bodies;
    const QVariantMap contactMapping{{mappingEntityKey(), entity::Contact}};
    forEachContactSnapshot([&](QVariantMap dictionary, qsizetype i, qsizetype n) {
        STRecordPtr record = convertOrSkip(
            dictionary, [&](const QVariantMap &d) { return convertSyncRecordToSTRecord(d, contactMapping); });
        // Each form of the contact goes once the next is made: one contact
        // may hold very many items.
        dictionary = QVariantMap();
        const auto json = record ? jsonOrSkip(*record, JSONContactRecordFromSTRecord) : std::nullopt;
        record.reset();
        if (!json) return;
        if (live) bodies.append(windowsLiveContact(*json));
        else if (!file->writeLine(QStringLiteral("contacts"), *json)) return;
        ++m_recordCount;
        report(vtrLocalized("Collected %1 contact records...").arg(m_recordCount), vtrphase::Contacts,
               double(i) / double(n) * 0.95 + 0.05);
    });

    if (live) {
        if (delegate()) delegate()->stowContacts(bodies, {});
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
        if (json) m_containerCount += file->writeLine(QStringLiteral("groups"), *json);
    }
    m_dataSize = file->finish(*this, QStringLiteral("Copying contacts to device..."), vtrphase::Contacts,
                              QStringLiteral("Contacts file does not exist."));
}

void ContactDatabase::setLeftOut(QStringList files)
{
    std::lock_guard lock(m_leftOutMutex);
    m_leftOut = std::move(files);
}

QVariantMap ContactDatabase::manifestInfo() const
{
    QVariantMap m = manifestWith("sl_contacts.json", "contact_cnt", "Contact", "Contacts");
    m.insert(QStringLiteral("group_cnt"), m_containerCount);
    m.insert(QStringLiteral("group_title"), vtrLocalized(m_containerCount == 1 ? "Group" : "Groups"));
    // A file that gave no contact is named, not counted as no contacts: a
    // few names are enough to find them all in the log.
    std::lock_guard lock(m_leftOutMutex);
    if (!m_leftOut.isEmpty()) {
        constexpr qsizetype kNamed = 3;
        QStringList names;
        for (qsizetype i = 0; i < std::min(m_leftOut.size(), kNamed); ++i)
            names.append(QStringLiteral("\"%1\"").arg(QFileInfo(m_leftOut.at(i)).fileName()));
        QString note = m_leftOut.size() == 1
                           ? vtrLocalized("%1 held no contact that could be read").arg(names.first())
                           : vtrLocalized("%1 files held no contact that could be read: %2")
                                 .arg(m_leftOut.size())
                                 .arg(names.join(QStringLiteral(", ")));
        if (m_leftOut.size() > kNamed) note += vtrLocalized(" and %1 more").arg(m_leftOut.size() - kNamed);
        m.insert(QStringLiteral("note"), note);
    }
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
    bodies.reserve(records.size());
    for (const QVariant &v : records) bodies.append(windowsLiveContact(v.toMap()));
    return bodies;
}

QVariantMap ContactDatabase::windowsLiveContact(const QVariantMap &r)
{
    // Keys made once: a body holds many, and there may be very many bodies.
    static const QString first = QStringLiteral("first"), last = QStringLiteral("last"),
                         suffix = QStringLiteral("suffix"), type = QStringLiteral("type"), value = QStringLiteral("value"),
                         emails = QStringLiteral("emails"), phones = QStringLiteral("phones"),
                         addressesKey = QStringLiteral("addresses"), company = QStringLiteral("company"),
                         jobtitle = QStringLiteral("jobtitle"), nameKey = QStringLiteral("name");
    static const QList<std::pair<QString, QString>> addressFields{
        {QStringLiteral("state"), QStringLiteral("state")},     {QStringLiteral("street"), QStringLiteral("street")},
        {QStringLiteral("city"), QStringLiteral("city")},       {QStringLiteral("country"), QStringLiteral("region")},
        {QStringLiteral("zip"), QStringLiteral("postal_code")}};

    QVariantMap body;
    mapField(first, r, QStringLiteral("first_name"), body);
    mapField(last, r, QStringLiteral("last_name"), body);
    QStringList name;
    for (const QString &k : {first, last, suffix})
        if (r.contains(k)) name.append(r.value(k).toString());
    if (!name.isEmpty()) body.insert(nameKey, name.join(QLatin1Char(' ')));
    if (const auto birthday = stBirthdayFromText(r.value(QStringLiteral("birthday")).toString())) {
        if (birthday->year > 0) body.insert(QStringLiteral("birth_year"), birthday->year);
        body.insert(QStringLiteral("birth_month"), birthday->month);
        body.insert(QStringLiteral("birth_day"), birthday->day);
    }
    for (const QString &key : {emails, phones}) {
        QVariantMap slots;
        UniqueSlots uniqueSlot;
        for (const QVariant &item : r.value(key).toList()) {
            const QVariantMap m = item.toMap();
            if (!m.contains(type) || !m.contains(value)) continue;
            slots.insert(uniqueSlot(liveSlot(m.value(type).toString()), slots), m.value(value));
        }
        if (!slots.isEmpty()) body.insert(key, slots);
    }
    QVariantMap addresses;
    UniqueSlots uniqueSlot;
    for (const QVariant &item : r.value(addressesKey).toList()) {
        const QVariantMap m = item.toMap();
        const QString kind = m.value(type).toString();
        const QString slot = kind.compare(QLatin1String("home"), Qt::CaseInsensitive) == 0   ? QStringLiteral("personal")
                             : kind.compare(QLatin1String("work"), Qt::CaseInsensitive) == 0 ? QStringLiteral("business")
                                                                                             : QStringLiteral("other");
        QVariantMap address;
        for (const auto &[from, to] : addressFields) mapField(from, m, to, address);
        addresses.insert(uniqueSlot(slot, addresses), address);
    }
    if (!addresses.isEmpty()) body.insert(addressesKey, addresses);
    QVariantList work;
    for (const QVariant &item : r.value(QStringLiteral("organizations")).toList()) {
        const QVariantMap m = item.toMap();
        if (!m.contains(company)) continue;
        QVariantMap entry{{QStringLiteral("employer"), QVariantMap{{nameKey, m.value(company)}}}};
        if (m.contains(jobtitle)) entry.insert(QStringLiteral("position"), QVariantMap{{nameKey, m.value(jobtitle)}});
        work.append(entry);
    }
    if (!work.isEmpty()) body.insert(QStringLiteral("work"), work);
    return body;
}

std::optional<QVariantList> ContactDatabase::windowsLiveContactsWithData(const QByteArray &data)
{
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    return windowsLiveContactsFromDevice(buffer, [](const QVariantMap &body) { return QVariant(body); });
}

std::optional<QVariantList> ContactDatabase::windowsLiveContactsFromFile(const VtrFileInfoPtr &file)
{
    return readCompanionFile(file, [this](QIODevice &f) {
        CompactJsonWriter compact;
        return windowsLiveContactsFromDevice(f, compact);
    });
}

std::optional<QVariantList> ContactDatabase::windowsLiveContactsFromDevice(
    QIODevice &file, const std::function<QVariant(const QVariantMap &)> &keep)
{
    QVariantList bodies;
    const bool read = forEachCompanionLine(file, [&](int k, int count, const CompanionLine *line) {
        if (line && line->database == QLatin1String("contacts")) {
            bodies.append(keep(windowsLiveContact(line->record)));
            ++m_recordCount;
        }
        report(QString(), vtrphase::Contacts, double(k) / double(count) * 0.5);
    });
    if (!read) return std::nullopt;
    report(QString(), vtrphase::Contacts, 1.0);
    return bodies;
}
