#pragma once

#include "pim/store/SyncStore.h"

namespace syncstore {

// Store records written out as JSON, for tests:
//   {"contacts": [record...], "calendars": [...], "events": [...],
//    "tasks": [...], "notes": [...], "unreadable": {"events": "why"}}
// A record is an object with "identifier", "entity" (an entity name) and the
// store's attributes. Values that JSON cannot hold are objects:
// {"$date": "2012-03-01T10:00:00", "$tz": "Europe/Berlin"} (no "$tz": UTC
// when the text ends in "Z", else the default zone), {"$data": base64},
// {"$url": text}. A kind named under "unreadable" throws with that reason; a
// kind missing from the document is not found.
class JsonFixtureSource : public SyncSource
{
public:
    explicit JsonFixtureSource(QVariantMap document, QString name = QStringLiteral("the test fixture"));
    static std::unique_ptr<JsonFixtureSource> fromFile(const QString &path);

    QString name() const override { return m_name; }
    SourceReadResult read(SyncDataKind kind, SyncRecordSink &sink) override;

    // A fixture value as the store holds it.
    static QVariant storeValue(const QVariant &json);

private:
    QVariantMap m_document;
    QString m_name;
};

}  // namespace syncstore
