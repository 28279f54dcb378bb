// Whole dumps of the readers against store fixtures: what reaches the
// delegate, the export files in "Migration Info", the progress, the log, and
// the failures a dump must not hide.
#include "support/PimRecorder.h"

#include "TestEnvironment.h"
#include "devices/WindowsPhone7LocalDevice.h"
#include "foundation/Log.h"
#include "pim/ContactDatabase.h"
#include "pim/EventDatabase.h"
#include "pim/NoteDatabase.h"
#include "pim/TaskDatabase.h"
#include "pim/store/JsonFixtureSource.h"
#include "platform/Folders.h"

#include <QDir>
#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

using namespace syncstore;

namespace {

// The new phone's folder seen as another kind of phone: the export-file road.
class FolderPhone : public WindowsPhone7LocalDevice
{
public:
    FolderPhone() : WindowsPhone7LocalDevice({}, nullptr) {}
    int deviceType() const override { return kDeviceTypeAndroid; }
};

class PimDump : public ::testing::Test
{
protected:
    void SetUp() override
    {
        LogSetSystemLogSink([this](const QString &m) { log.append(m); });
        QDir(WindowsPhone7LocalDevice::storageFolderPath()).removeRecursively();
    }
    void TearDown() override { LogSetSystemLogSink({}); }

    QString migrationInfo(const QString &file) const
    {
        return WindowsPhone7LocalDevice::storageFolderPath() + QStringLiteral("/Migration Info/") + file;
    }

    QStringList log;
    PimRecorder recorder;
    std::shared_ptr<MobileDeviceInterface> newPhone = WindowsPhone7LocalDevice::create({}, nullptr);
    std::shared_ptr<MobileDeviceInterface> folderPhone = std::shared_ptr<MobileDeviceInterface>(new FolderPhone);
};

std::shared_ptr<SyncManager> storeOf(const QVariantMap &document)
{
    std::vector<std::unique_ptr<SyncSource>> sources;
    sources.push_back(std::make_unique<JsonFixtureSource>(document, QStringLiteral("the address book \"Work\"")));
    return std::make_shared<SyncManager>(std::move(sources));
}

}  // namespace

TEST_F(PimDump, DisabledStoreReadsNothingAndReportsNothing)
{
    auto store = pimtest::fixtureStore(QStringLiteral("store_tasks_notes.json"));
    store->setEnabled(false);
    TaskDatabase tasks(&recorder, store);
    tasks.setTargetDevice(folderPhone);
    tasks.runDatabaseDump();
    EXPECT_TRUE(log.contains(QStringLiteral("Syncing is currently disabled"))) << log.join('\n').toStdString();
    EXPECT_TRUE(recorder.reports.isEmpty());
    EXPECT_FALSE(QFile::exists(migrationInfo(QStringLiteral("sl_tasks.json"))));
    EXPECT_EQ(tasks.recordCount(), 0);
}

TEST_F(PimDump, AnUnreadableSourceIsTheJobsErrorNamingIt)
{
    const struct
    {
        std::function<std::unique_ptr<PIMDatabase>(std::shared_ptr<SyncManager>)> make;
        const char *kind, *logged;
    } readers[] = {
        {[this](auto s) { return std::make_unique<ContactDatabase>(&recorder, s); }, "contacts", "Could not access contact data."},
        {[this](auto s) { return std::make_unique<EventDatabase>(&recorder, s); }, "calendars", "Could not access calendar data."},
        {[this](auto s) { return std::make_unique<EventDatabase>(&recorder, s); }, "events", "Could not access event data."},
        {[this](auto s) { return std::make_unique<TaskDatabase>(&recorder, s); }, "tasks", "Could not access task data."},
        {[this](auto s) { return std::make_unique<NoteDatabase>(&recorder, s); }, "notes", "Could not access note data."},
    };
    for (const auto &r : readers) {
        log.clear();
        auto reader = r.make(storeOf({{"calendars", QVariantList{}},
                                      {"unreadable", QVariantMap{{QLatin1String(r.kind), "permission denied"}}}}));
        reader->setTargetDevice(newPhone);
        try {
            reader->runDatabaseDump();
            ADD_FAILURE() << r.kind << ": an unreadable source was read as an empty one";
        } catch (const VtrException &e) {
            EXPECT_EQ(e.name(), kSourceExceptionName);
            EXPECT_EQ(e.reason(), QStringLiteral("the address book \"Work\" could not be read: permission denied"));
        }
        EXPECT_TRUE(log.contains(QLatin1String(r.logged))) << r.kind;
    }
}

TEST_F(PimDump, AnEmptyStoreIsZeroItemsNotAnError)
{
    auto store = pimtest::fixtureStore(QStringLiteral("store_empty.json"));
    ContactDatabase contacts(&recorder, store);
    contacts.setTargetDevice(newPhone);
    contacts.runDatabaseDump();
    EXPECT_EQ(recorder.stowedContacts, 1);
    EXPECT_TRUE(recorder.contacts.isEmpty() && recorder.groups.isEmpty());
    ASSERT_EQ(recorder.reports.size(), 1);
    EXPECT_EQ(recorder.reports.first().status, QStringLiteral("Collecting contacts information..."));
    EXPECT_TRUE(recorder.reports.first().now);
    EXPECT_DOUBLE_EQ(recorder.reports.first().percent, 0.05);

    TaskDatabase tasks(&recorder, store);
    tasks.setTargetDevice(newPhone);
    tasks.runDatabaseDump();
    EXPECT_TRUE(log.contains(QStringLiteral("Tasks file does not exist.")));
    EXPECT_EQ(tasks.recordCount(), 0);
    EXPECT_EQ(tasks.dataSize(), 0);
    EXPECT_FALSE(QFile::exists(migrationInfo(QStringLiteral("sl_tasks.json"))));
    EXPECT_FALSE(QFile::exists(QDir(platform::temporaryFolder()).filePath(QStringLiteral("sl_tasks.json"))));

    // The registration stays with the store for the next dump.
    EXPECT_TRUE(store->clientWithIdentifier(QStringLiteral("com.vantrel.solvennawindowsphone.tasks")));
    EXPECT_TRUE(store->clientWithIdentifier(QStringLiteral("com.vantrel.solvennawindowsphone.contacts")));
}
