#include "FlatRecords.h"

#include "foundation/VtrBase64.h"
#include "foundation/VtrDate.h"
#include "pim/records/STDate.h"
#include "pim/records/STRecord.h"

#include <QDateTime>

namespace {

const QString kUid = QStringLiteral("uid");
const QString kParentID = QStringLiteral("parentID");

void copyKeys(const QVariantMap &from, QVariantMap &to, const QStringList &keys)
{
    for (const QString &k : keys)
        if (from.contains(k)) to.insert(k, from.value(k));
}

void joinIds(const QVariantMap &from, QVariantMap &to, const QStringList &keys)
{
    for (const QString &k : keys) {
        if (!from.contains(k)) continue;
        QStringList ids;
        for (const QVariant &v : from.value(k).toList()) ids.append(v.toString());
        to.insert(k, ids.join(QLatin1Char(',')));
    }
}

// A date of the store (QDateTime, calendar date or record date) as ST2 text.
QString st2(const QVariant &v)
{
    if (v.typeId() == QMetaType::QDateTime) return vtr::st2String(v.toDateTime());
    if (stHolds<VtrCalendarDate>(v)) return v.value<VtrCalendarDate>().st2String();
    if (stHolds<STDate>(v)) return v.value<STDate>().utcTimeString();
    return v.toString();
}

QVariantMap item(const QString &uid, const QString &parentID)
{
    return {{kUid, uid}, {kParentID, parentID}};
}

QVariantList memberships(const QList<QVariantMap> &owners, const QString &membersKey, const QString &entity)
{
    QVariantList out;
    for (const QVariantMap &o : owners)
        for (const QVariant &member : o.value(membersKey).toList())
            out.append(QVariantMap{{QStringLiteral("memberParentID"), o.value(kUid)},
                                   {QStringLiteral("memberID"), member},
                                   {QStringLiteral("entity_name"), entity}});
    return out;
}

QVariantList typedItems(const QVariantList &items, const QString &parentID, const QStringList &keys, bool dates)
{
    QVariantList out;
    for (const QVariant &v : items) {
        const QVariantMap from = v.toMap();
        QVariantMap m = item(from.value(kUid).toString(), parentID);
        for (const QString &k : keys)
            if (from.contains(k)) m.insert(k, dates && k == QLatin1String("value") ? st2(from.value(k)) : from.value(k));
        out.append(m);
    }
    return out;
}

} // namespace

namespace ContactFlatRecords {

QVariantMap contactDictionary(const QVariantMap &c)
{
    QVariantMap m;
    copyKeys(c, m, {"uid", "first", "firstpron", "last", "lastpron", "middle", "middlepron", "prefix", "suffix",
                    "jobtitle", "maiden", "note"});
    m.insert(QStringLiteral("isCompany"), c.value(QStringLiteral("isCompany")).toString() == QLatin1String("company") ? 1 : 0);
    joinIds(c, m, {"image_ids", "phone_ids", "email_ids", "im_ids", "url_ids", "associate_ids", "nick_ids",
                   "organization_ids", "address_ids", "date_ids", "custom_ids"});
    return m;
}

QVariantList groupArray(const QList<QVariantMap> &groups)
{
    QVariantList out;
    for (const QVariantMap &g : groups) {
        QVariantMap m;
        copyKeys(g, m, {"name", "uid"});
        out.append(m);
    }
    return out;
}

QVariantList groupMembersArray(const QList<QVariantMap> &groups)
{
    return memberships(groups, QStringLiteral("members"), QStringLiteral("contact"));
}

QVariantList customArray(const QVariantList &items, const QString &parentID)
{
    QVariantList out;
    for (const QVariant &v : items) {
        const QVariantMap from = v.toMap();
        if (!from.contains(QStringLiteral("label")) || !from.contains(QStringLiteral("value"))) continue;
        QVariantMap m = item(from.value(kUid).toString(), parentID);
        m.insert(QStringLiteral("type"), from.value(QStringLiteral("label")));
        m.insert(QStringLiteral("label"), from.value(QStringLiteral("label")));
        m.insert(QStringLiteral("value"), from.value(QStringLiteral("value")));
        out.append(m);
    }
    return out;
}

QVariantList nickArray(const QVariantMap &contact, const QString &parentID)
{
    if (!contact.contains(QStringLiteral("nickname"))) return {};
    QVariantMap m = item(parentID, parentID);
    m.insert(QStringLiteral("type"), QStringLiteral("nick_default"));
    m.insert(QStringLiteral("label"), QStringLiteral("nick_default"));
    m.insert(QStringLiteral("value"), contact.value(QStringLiteral("nickname")));
    return {m};
}

QVariantList dateArray(const QVariantList &items, const QVariantMap &contact, const QString &parentID)
{
    QVariantList out = typedItems(items, parentID, {"type", "label", "value"}, true);
    if (contact.contains(QStringLiteral("birthday"))) {
        QVariantMap m = item(parentID, parentID);
        m.insert(QStringLiteral("type"), QStringLiteral("birthday"));
        m.insert(QStringLiteral("label"), QStringLiteral("birthday"));
        m.insert(QStringLiteral("value"), st2(contact.value(QStringLiteral("birthday"))));
        out.append(m);
    }
    return out;
}

QVariantList associateArray(const QVariantList &items, const QString &parentID)
{
    return typedItems(items, parentID, {"type", "label", "value"}, false);
}

QVariantList imageArray(const QVariantMap &contact, const QString &parentID)
{
    if (!contact.contains(QStringLiteral("image"))) return {};
    QVariantMap m = item(parentID, parentID);
    m.insert(QStringLiteral("image"),
             vtr::base64EncodingWithLineLength(contact.value(QStringLiteral("image")).toByteArray(), 0));
    return {m};
}

QVariantMap dictionaryForTypeValueArray(const QVariantList &items)
{
    QVariantMap out;
    for (const QVariant &v : items) {
        const QVariantMap m = v.toMap();
        if (m.contains(QStringLiteral("type")) && m.contains(QStringLiteral("value")))
            out.insert(m.value(QStringLiteral("type")).toString(), m.value(QStringLiteral("value")));
    }
    return out;
}

} // namespace ContactFlatRecords

namespace TaskFlatRecords {

QVariantMap taskDictionary(const QVariantMap &t)
{
    QVariantMap m;
    copyKeys(t, m, {"uid", "summary", "description", "status", "classification", "url", "priority",
                    "due date is date only", "exception_dates", "dtstart", "dtdue", "dtcompletion", "created",
                    "last_mod"});
    joinIds(t, m, {"recurrence_ids", "alarm_ids", "custom_ids"});
    return m;
}

QVariantList calendarMembersArray(const QList<QVariantMap> &calendars)
{
    return memberships(calendars, QStringLiteral("tasks"), QStringLiteral("task"));
}

QVariantList alarmArray(const QVariantList &items, const QString &parentID)
{
    QVariantList out;
    for (const QVariant &v : items) {
        const QVariantMap from = v.toMap();
        QVariantMap m = item(from.value(kUid).toString(), parentID);
        if (from.contains(QStringLiteral("triggerdate")))
            m.insert(QStringLiteral("triggerdate"), st2(from.value(QStringLiteral("triggerdate"))));
        if (from.contains(QStringLiteral("triggerduration")))
            m.insert(QStringLiteral("triggerduration"), from.value(QStringLiteral("triggerduration")).toString());
        out.append(m);
    }
    return out;
}

QVariantList recurrenceArray(const QVariantList &items, const QString &parentID)
{
    QVariantList out;
    for (const QVariant &v : items) {
        const QVariantMap from = v.toMap();
        QVariantMap m = item(from.value(kUid).toString(), parentID);
        if (from.contains(QStringLiteral("frequency"))) m.insert(QStringLiteral("freq"), from.value(QStringLiteral("frequency")));
        if (from.contains(QStringLiteral("until"))) m.insert(QStringLiteral("until"), st2(from.value(QStringLiteral("until"))));
        copyKeys(from, m, {"count", "dtstart", "interval", "byweeknumber", "byyearday", "bymonthday", "bydayfreq",
                           "bydaydays", "bysetpos", "weekstartday"});
        if (from.contains(QStringLiteral("bymonth"))) {
            QStringList months;
            for (const QVariant &x : from.value(QStringLiteral("bymonth")).toList()) months.append(x.toString());
            m.insert(QStringLiteral("bymonth"), months.join(QLatin1Char(',')));
        }
        out.append(m);
    }
    return out;
}

} // namespace TaskFlatRecords

STMappedKind mapContactKind(const QString &relationship, const QString &storeType, const QString &label)
{
    static const QMap<QString, QMap<QString, QString>> tables{
        {"phones",
         {{"work", "work"}, {"home", "home"}, {"mobile", "mobile"}, {"work fax", "fax_work"}, {"home fax", "fax_home"},
          {"pager", "pager"}, {"other", "other"}}},
        {"emails", {{"work", "email_work"}, {"home", "email_home"}, {"other", "email_other"}}},
        {"addresses", {{"work", "work"}, {"home", "home"}, {"other", "other"}}},
        {"IMs", {{"work", "im_work"}, {"home", "im_home"}, {"other", "im_other"}}},
    };
    const QMap<QString, QString> table = tables.value(relationship);
    const auto it = table.constFind(storeType);
    if (it != table.constEnd()) return {it.value(), label};
    return {table.value(QStringLiteral("other"), QStringLiteral("other")), label.isEmpty() ? storeType : label};
}
