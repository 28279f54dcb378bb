#include "pim/store/JsonFixtureSource.h"

#include "foundation/Json.h"
#include "foundation/VtrCalendarDate.h"

#include <QFile>
#include <QTimeZone>
#include <QUrl>

namespace syncstore {

JsonFixtureSource::JsonFixtureSource(QVariantMap document, QString name)
    : m_document(std::move(document)), m_name(std::move(name))
{
}

std::unique_ptr<JsonFixtureSource> JsonFixtureSource::fromFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return nullptr;
    return std::make_unique<JsonFixtureSource>(vtr::JSONValueFromUtf8(f.readAll()).toMap(), path);
}

QVariant JsonFixtureSource::storeValue(const QVariant &json)
{
    if (json.typeId() == QMetaType::QVariantList) {
        QVariantList out;
        for (const QVariant &v : json.toList()) out.append(storeValue(v));
        // Relationships are lists of identifiers.
        bool allText = !out.isEmpty();
        for (const QVariant &v : out) allText = allText && v.typeId() == QMetaType::QString;
        return allText ? QVariant(json.toStringList()) : QVariant(out);
    }
    if (json.typeId() != QMetaType::QVariantMap) return json;
    const QVariantMap m = json.toMap();
    if (m.contains(QStringLiteral("$date"))) {
        const QString text = m.value(QStringLiteral("$date")).toString();
        const QString tz = m.value(QStringLiteral("$tz")).toString();
        const QTimeZone zone = !tz.isEmpty() ? QTimeZone(tz.toUtf8())
                               : text.endsWith(QLatin1Char('Z')) ? QTimeZone::utc()
                                                                 : vtr::defaultTimeZone();
        const QDateTime local = QDateTime::fromString(QString(text).remove(QLatin1Char('Z')), Qt::ISODate);
        const QDate d = local.date();
        const QTime t = local.time();
        return QVariant::fromValue(
            VtrCalendarDate::fromComponents(d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second(), zone));
    }
    if (m.contains(QStringLiteral("$data")))
        return QByteArray::fromBase64(m.value(QStringLiteral("$data")).toString().toLatin1());
    if (m.contains(QStringLiteral("$url"))) return QUrl(m.value(QStringLiteral("$url")).toString());
    QVariantMap out;
    for (auto it = m.cbegin(); it != m.cend(); ++it) out.insert(it.key(), storeValue(it.value()));
    return out;
}

SourceReadResult JsonFixtureSource::read(SyncDataKind kind, SyncRecordSink &sink)
{
    static const char *const keys[] = {"contacts", "calendars", "events", "tasks", "notes"};
    const QString key = QLatin1String(keys[int(kind)]);
    const QVariantMap unreadable = m_document.value(QStringLiteral("unreadable")).toMap();
    if (unreadable.contains(key)) throw sourceException(m_name, unreadable.value(key).toString());
    SourceReadResult result;
    if (!m_document.contains(key)) return result;
    result.found = true;
    static const QString mainEntity[] = {entity::Contact, entity::Calendar, entity::Event, entity::Task, entity::Note};
    for (const QVariant &v : m_document.value(key).toList()) {
        QVariantMap record = v.toMap();
        const QString id = record.take(QStringLiteral("identifier")).toString();
        const QString entityName = record.take(QStringLiteral("entity")).toString();
        QVariantMap converted;
        for (auto it = record.cbegin(); it != record.cend(); ++it) converted.insert(it.key(), storeValue(it.value()));
        sink.addRecord(sink.uniqueIdentifier(id), entityName, converted);
        if (entityName == mainEntity[int(kind)]) ++result.items;
    }
    return result;
}

}  // namespace syncstore
