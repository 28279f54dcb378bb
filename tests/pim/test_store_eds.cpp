// Evolution Data Server read through the store: a private session bus with
// the service started by D-Bus activation in this process's private home,
// data added through the client libraries, read back as store records. The
// program runs itself again under dbus-run-session; if the service cannot
// start, the test fails with the reason.
#include "TestEnvironment.h"
#include "support/PrivateSessionBus.h"
#include "support/PimRecorder.h"

#include "devices/phone/WindowsPhone7LocalDevice.h"
#include "pim/ContactDatabase.h"
#include "pim/EventDatabase.h"

#include "foundation/VtrCalendarDate.h"
#include "pim/store/EdsSource.h"
#include "pim/store/SyncStore.h"

#include <libebook/libebook.h>
#include <libecal/libecal.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>
#include <vector>

using namespace syncstore;
using namespace privatebus;

namespace {

template <typename T> T *connected(EClient *client) { return reinterpret_cast<T *>(client); }

void addCalendarItems(ESource *source, ECalClientSourceType type, const std::vector<const char *> &items)
{
    GErrorText e;
    EClient *client = e_cal_client_connect_sync(source, type, guint32(-1), nullptr, &e.error);
    ASSERT_TRUE(client) << "The calendar factory did not start: " << e.text();
    for (const char *text : items) {
        ICalComponent *comp = i_cal_component_new_from_string(text);
        ASSERT_TRUE(comp);
        // The service lives as long as the private bus: an earlier run in this
        // process left the item there.
        e_cal_client_remove_object_sync(E_CAL_CLIENT(client), i_cal_component_get_uid(comp), nullptr,
                                        E_CAL_OBJ_MOD_ALL, E_CAL_OPERATION_FLAG_NONE, nullptr, nullptr);
        const bool ok = e_cal_client_create_object_sync(E_CAL_CLIENT(client), comp, E_CAL_OPERATION_FLAG_NONE,
                                                        nullptr, nullptr, &e.error);
        g_object_unref(comp);
        EXPECT_TRUE(ok) << e.text();
    }
    g_object_unref(client);
}

SyncRecordList read(const QString &entityName, std::unique_ptr<SyncRecordSnapshot> *keep = nullptr)
{
    std::vector<std::unique_ptr<SyncSource>> sources;
    sources.push_back(std::make_unique<EdsSource>());
    SyncManager manager(std::move(sources));
    auto snapshot = manager.snapshotOfRecordsInTruth({entityName});
    const SyncRecordList out = snapshot->recordsWithMatchingAttributes({{kRecordEntityNameKey, entityName}});
    if (keep) *keep = std::move(snapshot);
    return out;
}

}  // namespace

TEST(StoreEds, ContactsCalendarsAndTasksAddedThroughTheClientLibrariesReadBack)
{
    ASSERT_TRUE(std::getenv(kUnderBus));
    exportPrivateHomeToBus();
    if (HasFatalFailure()) return;

    GErrorText e;
    ESourceRegistry *registry = e_source_registry_new_sync(nullptr, &e.error);
    ASSERT_TRUE(registry) << "Evolution Data Server did not start on the private bus: " << e.text();

    {
        ESource *book = e_source_registry_ref_builtin_address_book(registry);
        EClient *client = e_book_client_connect_sync(book, guint32(-1), nullptr, &e.error);
        ASSERT_TRUE(client) << "The address-book factory did not start: " << e.text();
        for (const char *card : {"BEGIN:VCARD\nVERSION:3.0\nUID:ann\nN:Lee;Ann;;;Jr.\nFN:Ann Lee\n"
                                 "TEL;TYPE=CELL:+1 555 0100\nEMAIL;TYPE=WORK:ann@example.com\n"
                                 "CATEGORIES:Friends\nBDAY:1970-07-04\nEND:VCARD",
                                 "BEGIN:VCARD\nVERSION:3.0\nUID:bo\nN:Berg;Bo;;;\nFN:Bo Berg\n"
                                 "ORG:Acme;Sales\nTITLE:Clerk\nCATEGORIES:Friends\nEND:VCARD"}) {
            EContact *contact = e_contact_new_from_vcard(card);
            e_book_client_remove_contact_by_uid_sync(E_BOOK_CLIENT(client),
                                                     static_cast<const char *>(e_contact_get_const(contact, E_CONTACT_UID)),
                                                     E_BOOK_OPERATION_FLAG_NONE, nullptr, nullptr);
            EXPECT_TRUE(e_book_client_add_contact_sync(E_BOOK_CLIENT(client), contact, E_BOOK_OPERATION_FLAG_NONE,
                                                       nullptr, nullptr, &e.error))
                << e.text();
            g_object_unref(contact);
        }
        g_object_unref(client);
        g_object_unref(book);
    }
    ESource *calendar = e_source_registry_ref_builtin_calendar(registry);
    addCalendarItems(calendar, E_CAL_CLIENT_SOURCE_TYPE_EVENTS,
                     {"BEGIN:VEVENT\nUID:standup\nSUMMARY:Standup\nDTSTART;TZID=Europe/Berlin:20300304T093000\n"
                      "DTEND;TZID=Europe/Berlin:20300304T094500\nRRULE:FREQ=DAILY;COUNT=5\n"
                      "BEGIN:VALARM\nACTION:DISPLAY\nTRIGGER:-PT15M\nEND:VALARM\nEND:VEVENT",
                      "BEGIN:VEVENT\nUID:holiday\nSUMMARY:Holiday\nDTSTART;VALUE=DATE:20300301\n"
                      "DTEND;VALUE=DATE:20300303\nEND:VEVENT"});
    ESource *tasks = e_source_registry_ref_builtin_task_list(registry);
    addCalendarItems(tasks, E_CAL_CLIENT_SOURCE_TYPE_TASKS,
                     {"BEGIN:VTODO\nUID:milk\nSUMMARY:Buy milk\nSTATUS:NEEDS-ACTION\nDUE;VALUE=DATE:20300310\nEND:VTODO"});
    const QString calendarId = QString::fromUtf8(e_source_get_uid(calendar));
    const QString taskListId = QString::fromUtf8(e_source_get_uid(tasks));
    g_object_unref(calendar);
    g_object_unref(tasks);
    g_object_unref(registry);

    std::unique_ptr<SyncRecordSnapshot> contactsSnapshot;
    const SyncRecordList contacts = read(entity::Contact, &contactsSnapshot);
    ASSERT_EQ(contacts.size(), 2);
    QHash<QString, QVariantMap> byFirst;
    for (const auto &c : contacts) byFirst.insert(c.record.value(QStringLiteral("first name")).toString(), c.record);
    const QVariantMap ann = byFirst.value(QStringLiteral("Ann"));
    EXPECT_EQ(ann.value(QStringLiteral("last name")).toString(), QStringLiteral("Lee"));
    EXPECT_EQ(ann.value(QStringLiteral("suffix")).toString(), QStringLiteral("Jr."));
    EXPECT_EQ(ann.value(QStringLiteral("birthday")).value<VtrCalendarDate>().dayOfMonth(), 4);
    const auto phones =
        contactsSnapshot->recordsWithIdentifiers(ann.value(QStringLiteral("phone numbers")).toStringList());
    ASSERT_EQ(phones.size(), 1);
    EXPECT_EQ(phones.first().record.value(QStringLiteral("type")).toString(), QStringLiteral("mobile"));
    EXPECT_EQ(phones.first().record.value(QStringLiteral("value")).toString(), QStringLiteral("+1 555 0100"));
    EXPECT_EQ(byFirst.value(QStringLiteral("Bo")).value(QStringLiteral("company name")).toString(), QStringLiteral("Acme"));

    const SyncRecordList groups = read(entity::Group);
    ASSERT_EQ(groups.size(), 1);
    EXPECT_EQ(groups.first().record.value(QStringLiteral("name")).toString(), QStringLiteral("Friends"));
    EXPECT_EQ(groups.first().record.value(QStringLiteral("members")).toStringList().size(), 2);

    QStringList calendarIds;
    for (const auto &c : read(entity::Calendar)) calendarIds.append(c.identifier);
    EXPECT_TRUE(calendarIds.contains(calendarId) && calendarIds.contains(taskListId)) << calendarIds.join(',').toStdString();

    std::unique_ptr<SyncRecordSnapshot> eventsSnapshot;
    const SyncRecordList events = read(entity::Event, &eventsSnapshot);
    ASSERT_EQ(events.size(), 2);
    QHash<QString, QVariantMap> bySummary;
    for (const auto &ev : events) bySummary.insert(ev.record.value(QStringLiteral("summary")).toString(), ev.record);
    const QVariantMap standup = bySummary.value(QStringLiteral("Standup"));
    EXPECT_EQ(standup.value(QStringLiteral("calendar")).toStringList(), QStringList{calendarId});
    EXPECT_EQ(standup.value(QStringLiteral("start date")).value<VtrCalendarDate>().instant(),
              QDateTime(QDate(2030, 3, 4), QTime(8, 30), Qt::UTC));
    const auto rec = eventsSnapshot->recordsWithIdentifiers(standup.value(QStringLiteral("recurrences")).toStringList());
    ASSERT_EQ(rec.size(), 1);
    EXPECT_EQ(rec.first().record.value(QStringLiteral("count")).toInt(), 5);
    const auto alarms = eventsSnapshot->recordsWithIdentifiers(standup.value(QStringLiteral("display alarms")).toStringList());
    ASSERT_EQ(alarms.size(), 1);
    EXPECT_EQ(alarms.first().record.value(QStringLiteral("triggerduration")).toInt(), -900);
    EXPECT_EQ(bySummary.value(QStringLiteral("Holiday")).value(QStringLiteral("all day")).toInt(), 1);

    const SyncRecordList todos = read(entity::Task);
    ASSERT_EQ(todos.size(), 1);
    EXPECT_EQ(todos.first().record.value(QStringLiteral("status")).toString(), QStringLiteral("needs-action"));
    EXPECT_EQ(todos.first().record.value(QStringLiteral("calendar")).toStringList(), QStringList{taskListId});

    // The readers over the same service: Windows Live bodies for the new phone.
    std::vector<std::unique_ptr<SyncSource>> sources;
    sources.push_back(std::make_unique<EdsSource>());
    auto store = std::make_shared<SyncManager>(std::move(sources));
    PimRecorder recorder;
    const auto newPhone = WindowsPhone7LocalDevice::create({}, nullptr);
    ContactDatabase contactReader(&recorder, store);
    contactReader.setTargetDevice(newPhone);
    contactReader.runDatabaseDump();
    ASSERT_EQ(recorder.contacts.size(), 2);
    EventDatabase eventReader(&recorder, store);
    eventReader.setTargetDevice(newPhone);
    eventReader.runDatabaseDump();
    ASSERT_EQ(recorder.calendars.size(), 1);
    EXPECT_EQ(recorder.calendars.first().toMap().value(QStringLiteral("events")).toList().size(), 2);
}
