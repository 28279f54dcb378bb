// fuzz-links: vtr_pim
// vCard and iCalendar files of a vdir folder are the person's own but were
// written by any program: the first byte chooses the reader (vCard, or
// iCalendar for events, to-dos or notes), the rest is the file.
#include "pim/store/ICalRecords.h"
#include "pim/store/VCardRecords.h"

#include <QSet>

#include <cstddef>
#include <cstdint>

// glib is built without frame pointers: only the slow unwinder sees that a
// leak comes from the vCard parser (its error path on broken property
// names), which tests/lsan.supp names.
extern "C" const char *__asan_default_options() { return "fast_unwind_on_malloc=0"; }

namespace {

class Sink final : public syncstore::SyncRecordSink
{
public:
    QString uniqueIdentifier(const QString &wanted) const override
    {
        QString id = wanted;
        for (int n = 2; m_ids.contains(id); ++n) id = wanted + QLatin1Char('#') + QString::number(n);
        m_ids.insert(id);
        return id;
    }
    void addRecord(const QString &identifier, const QString &, QVariantMap record) override
    {
        m_ids.insert(identifier);
        m_size += record.size();
    }

private:
    mutable QSet<QString> m_ids;
    qsizetype m_size = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1) return 0;
    const QByteArray file(reinterpret_cast<const char *>(data) + 1, qsizetype(size - 1));
    Sink sink;
    switch (data[0] % 4) {
    case 0: {
        syncstore::ContactRecordBuilder contacts(sink);
        contacts.addVCardFile(file, QStringLiteral("card"));
        contacts.finishGroups();
        break;
    }
    default: {
        const syncstore::SyncDataKind kinds[] = {syncstore::SyncDataKind::Events, syncstore::SyncDataKind::Tasks,
                                                 syncstore::SyncDataKind::Notes};
        syncstore::CalendarItemBuilder items(sink, kinds[data[0] % 4 - 1], QStringLiteral("calendar"));
        items.addICalendarText(file, QStringLiteral("item"));
        items.finish();
        break;
    }
    }
    return 0;
}
