// Texts of contacts in Evolution Data Server read as they were written: a
// private session bus with the service started by D-Bus activation in this
// process's private home; the program runs itself again under
// dbus-run-session.
#include "TestEnvironment.h"
#include "support/PrivateSessionBus.h"

#include "pim/store/EdsSource.h"
#include "pim/store/SyncStore.h"

#include <libebook/libebook.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <vector>

using namespace syncstore;
using namespace privatebus;

TEST(StoreEdsTexts, NotesAndTitlesKeepTheirSemicolonsAndCommas)
{
    ASSERT_TRUE(std::getenv(kUnderBus));
    exportPrivateHomeToBus();
    if (HasFatalFailure()) return;

    // Cards as a phone's 2.1 export (a bare ";") and a 3.0 one (escaped) are
    // imported into the address book.
    const struct
    {
        const char *card, *note, *title;
    } cards[] = {
        {"BEGIN:VCARD\r\nVERSION:2.1\r\nUID:gate21\r\nN:Lee;Ann;;;\r\nNOTE:Gate code 4711; ring twice\r\n"
         "TITLE:Head of Sales; EMEA\r\nEND:VCARD\r\n",
         "Gate code 4711; ring twice", "Head of Sales; EMEA"},
        {"BEGIN:VCARD\r\nVERSION:3.0\r\nUID:gate30\r\nN:Berg;Bo;;;\r\nNOTE:Gate code 4711\\; ring twice\\, then wait\r\n"
         "TITLE:Head of Sales\\; EMEA\\, APAC\r\nEND:VCARD\r\n",
         "Gate code 4711; ring twice, then wait", "Head of Sales; EMEA, APAC"},
    };
    GErrorText e;
    ESourceRegistry *registry = e_source_registry_new_sync(nullptr, &e.error);
    ASSERT_TRUE(registry) << "Evolution Data Server did not start on the private bus: " << e.text();
    ESource *book = e_source_registry_ref_builtin_address_book(registry);
    EClient *client = e_book_client_connect_sync(book, guint32(-1), nullptr, &e.error);
    ASSERT_TRUE(client) << "The address-book factory did not start: " << e.text();
    for (const auto &c : cards) {
        EContact *contact = e_contact_new_from_vcard(c.card);
        e_book_client_remove_contact_by_uid_sync(E_BOOK_CLIENT(client),
                                                 static_cast<const char *>(e_contact_get_const(contact, E_CONTACT_UID)),
                                                 E_BOOK_OPERATION_FLAG_NONE, nullptr, nullptr);
        EXPECT_TRUE(e_book_client_add_contact_sync(E_BOOK_CLIENT(client), contact, E_BOOK_OPERATION_FLAG_NONE, nullptr,
                                                   nullptr, &e.error))
            << e.text();
        g_object_unref(contact);
    }
    g_object_unref(client);
    g_object_unref(book);
    g_object_unref(registry);

    std::vector<std::unique_ptr<SyncSource>> sources;
    sources.push_back(std::make_unique<EdsSource>());
    SyncManager manager(std::move(sources));
    const auto snapshot = manager.snapshotOfRecordsInTruth({entity::Contact});
    const SyncRecordList contacts = snapshot->recordsWithMatchingAttributes({{kRecordEntityNameKey, entity::Contact}});
    ASSERT_EQ(contacts.size(), 2);
    for (const auto &c : cards) {
        bool found = false;
        for (const auto &read : contacts) {
            if (read.record.value(QStringLiteral("notes")).toString() != QString::fromUtf8(c.note)) continue;
            found = true;
            EXPECT_EQ(read.record.value(QStringLiteral("job title")).toString().toStdString(), c.title);
        }
        EXPECT_TRUE(found) << c.note;
    }
}
