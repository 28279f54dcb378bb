#pragma once

#include <QList>
#include <QString>
#include <QVariantList>
#include <QVariantMap>

// Flat record dictionaries of contacts and to-dos: one dictionary per item,
// linked by "uid" and "parentID", a contact's or to-do's links given as
// comma-separated identifier lists ("phone_ids", "alarm_ids", ...). They read
// the store's snapshot dictionaries (contact and to-do dictionaries with their
// "..._ids" arrays, group and calendar dictionaries). An item builder answers
// an empty list when there is nothing to build.
namespace ContactFlatRecords {

QVariantMap contactDictionary(const QVariantMap &contact);
// Group dictionaries ("name", "uid", "members") -> {"name", "uid"} each.
QVariantList groupArray(const QList<QVariantMap> &groups);
// -> {"memberParentID", "memberID", "entity_name": "contact"} per member.
QVariantList groupMembersArray(const QList<QVariantMap> &groups);
QVariantList customArray(const QVariantList &items, const QString &parentID);
QVariantList nickArray(const QVariantMap &contact, const QString &parentID);
QVariantList dateArray(const QVariantList &items, const QVariantMap &contact, const QString &parentID);
QVariantList associateArray(const QVariantList &items, const QString &parentID);
QVariantList imageArray(const QVariantMap &contact, const QString &parentID);
// Each item's "type" -> its "value" (items lacking either are skipped; a later
// item of the same type wins).
QVariantMap dictionaryForTypeValueArray(const QVariantList &items);

} // namespace ContactFlatRecords

namespace TaskFlatRecords {

QVariantMap taskDictionary(const QVariantMap &task);
// Calendar dictionaries ("uid", "tasks") -> {"memberParentID", "memberID",
// "entity_name": "task"} per to-do.
QVariantList calendarMembersArray(const QList<QVariantMap> &calendars);
QVariantList alarmArray(const QVariantList &items, const QString &parentID);
QVariantList recurrenceArray(const QVariantList &items, const QString &parentID);
inline QVariantList customArray(const QVariantList &, const QString &) { return {}; }

} // namespace TaskFlatRecords

// The kinds of a contact's phones, e-mails, addresses and IMs as the store
// names them, turned into the dialect's kinds ("work fax" -> "fax_work",
// "home" e-mail -> "email_home", ...). A kind the table does not name keeps
// its value as the table's "other" kind, with the store's kind as its label
// when it has no label of its own. `relationship` is "phones", "emails",
// "addresses" or "IMs".
struct STMappedKind
{
    QString type;
    QString label;
};
STMappedKind mapContactKind(const QString &relationship, const QString &storeType, const QString &label);
