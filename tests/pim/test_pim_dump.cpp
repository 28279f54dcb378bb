// Whole dumps of the readers against store fixtures: what reaches the
// delegate, the export files in "Migration Info", the progress, the log, and
// the failures a dump must not hide.
#include "ProcessZone.h"
#include "QStringPrinting.h"
#include "support/PimRecorder.h"

#include "TestEnvironment.h"
#include "TestFolders.h"
#include "devices/phone/WindowsPhone7LocalDevice.h"
#include "foundation/Json.h"
#include "foundation/Log.h"
#include "foundation/VtrCalendarDate.h"
#include "pim/ContactDatabase.h"
#include "pim/EventDatabase.h"
#include "pim/NoteDatabase.h"
#include "pim/TaskDatabase.h"
#include "pim/dialect/STRecordAndroid.h"
#include "pim/store/JsonFixtureSource.h"
#include "pim/store/VCardRecords.h"
#include "platform/Folders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>
#include <QStringEncoder>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <sys/stat.h>

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
        testenv::removeTree(WindowsPhone7LocalDevice::storageFolderPath());
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

// Each line of an export file as jq reads it (compact); fails the test when
// jq refuses the file.
QStringList linesAcceptedByJq(const QString &path)
{
    QProcess jq;
    jq.start(QStringLiteral("jq"), {QStringLiteral("-c"), QStringLiteral("."), path});
    EXPECT_TRUE(jq.waitForFinished(30000));
    EXPECT_EQ(jq.exitCode(), 0) << jq.readAllStandardError().toStdString();
    return QString::fromUtf8(jq.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

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

TEST_F(PimDump, ContactsForTheNewPhoneBecomeLiveBodies)
{
    ContactDatabase contacts(&recorder, pimtest::fixtureStore(QStringLiteral("store_contacts.json")));
    contacts.setTargetDevice(newPhone);
    {
        ProcessZone zone("Europe/Berlin");
        contacts.runDatabaseDump();
    }
    ASSERT_EQ(recorder.stowedContacts, 1);
    EXPECT_EQ(pimtest::canonicalJson(recorder.contacts),
              pimtest::canonicalJson(vtr::JSONValueFromUtf8(pimtest::dataFile(QStringLiteral("live_contacts_from_store.json")))));
    EXPECT_TRUE(recorder.groups.isEmpty());
    EXPECT_EQ(contacts.recordCount(), 2);
    ASSERT_EQ(recorder.percents(), (QList<double>{0.05, 0.05, 0.525}));
    EXPECT_EQ(recorder.reports.last().status, QStringLiteral("Collected 2 contact records..."));
    EXPECT_FALSE(QFile::exists(migrationInfo(QStringLiteral("sl_contacts.json"))));
}

TEST_F(PimDump, ContactsForAnotherPhoneAreExportLinesInMigrationInfo)
{
    ContactDatabase contacts(&recorder, pimtest::fixtureStore(QStringLiteral("store_contacts.json")));
    contacts.setTargetDevice(folderPhone);
    // A umask that lets others read what is made: a file the person made
    // private stays private only because its mode is kept.
    const mode_t umaskBefore = ::umask(022);
    const auto umaskBack = qScopeGuard([umaskBefore] { ::umask(umaskBefore); });
    for (int run = 0; run < 2; ++run) {  // a second dump replaces the file
        recorder.reports.clear();
        const QString path = migrationInfo(QStringLiteral("sl_contacts.json"));
        if (run == 1) ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0600), 0);
        contacts.runDatabaseDump();
        struct stat st;
        ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, run == 1 ? 0600u : 0644u);
        const QStringList lines = linesAcceptedByJq(path);
        ASSERT_EQ(lines.size(), 4);
        EXPECT_TRUE(testenv::readFile(path).endsWith("}\n"));
        QStringList databases;
        for (const QString &l : lines) databases.append(vtr::JSONValue(l).toMap().value(QStringLiteral("database")).toString());
        EXPECT_EQ(databases, (QStringList{"contacts", "contacts", "groups", "groups"}));
        EXPECT_EQ(contacts.dataSize(), QFileInfo(path).size());
        ASSERT_FALSE(recorder.reports.isEmpty());
        EXPECT_EQ(recorder.reports.last().status, QStringLiteral("Copying contacts to device..."));
        EXPECT_DOUBLE_EQ(recorder.reports.last().percent, -1.0);
    }
    EXPECT_FALSE(QFile::exists(QDir(platform::temporaryFolder()).filePath(QStringLiteral("sl_contacts.json"))));

    // A link of the person's at the file's name, then in place of "Migration
    // Info": the dump fails naming it, and neither the link nor what it
    // points to changes.
    const QString home = platform::homeFolder(), file = migrationInfo(QStringLiteral("sl_contacts.json"));
    const QString notes = home + QStringLiteral("/notes.txt"), documents = home + QStringLiteral("/Documents");
    const QString info = WindowsPhone7LocalDevice::storageFolderPath() + QStringLiteral("/Migration Info");
    testenv::writeFile(notes, "my notes");
    testenv::writeFile(documents + QStringLiteral("/sl_contacts.json"), "my own contacts");
    for (const auto &[link, target] : {std::pair{file, notes}, std::pair{info, documents}}) {
        SCOPED_TRACE(link.toStdString());
        QFile::remove(file);
        if (link == info) {
            ASSERT_TRUE(testenv::removeTree(info));
        }
        ASSERT_TRUE(QFile::link(target, link));
        try {
            contacts.runDatabaseDump();
            ADD_FAILURE() << "nothing said of the link";
        } catch (const VtrException &e) {
            EXPECT_TRUE(e.reason().contains(link + QStringLiteral(" is a link"))) << e.reason().toStdString();
        }
        EXPECT_EQ(testenv::readFile(notes), QByteArray("my notes"));
        EXPECT_EQ(QDir(documents).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                  QStringList{QStringLiteral("sl_contacts.json")});
        EXPECT_EQ(testenv::readFile(documents + QStringLiteral("/sl_contacts.json")), QByteArray("my own contacts"));
        EXPECT_EQ(QFileInfo(link).symLinkTarget(), target);
    }
    const QVariantMap manifest = contacts.manifestInfo();
    EXPECT_EQ(manifest.value(QStringLiteral("contact_cnt")).toInt(), 2);
    EXPECT_EQ(manifest.value(QStringLiteral("group_cnt")).toInt(), 2);
    EXPECT_EQ(manifest.value(QStringLiteral("title")).toString(), QStringLiteral("Contacts"));
    EXPECT_EQ(manifest.value(QStringLiteral("group_title")).toString(), QStringLiteral("Groups"));
    EXPECT_EQ(manifest.value(QStringLiteral("timestamp")).toString().size(), 14);
}

TEST_F(PimDump, EventsForTheNewPhoneBecomeCalendarBodiesMainEventsFirst)
{
    EventDatabase events(&recorder, pimtest::fixtureStore(QStringLiteral("store_events.json")));
    events.setTargetDevice(newPhone);
    {
        ProcessZone zone("Europe/Berlin");
        events.runDatabaseDump();
    }
    ASSERT_EQ(recorder.stowedCalendars, 1);
    EXPECT_EQ(pimtest::canonicalJson(recorder.calendars),
              pimtest::canonicalJson(vtr::JSONValueFromUtf8(pimtest::dataFile(QStringLiteral("live_calendars_from_store.json")))));
    EXPECT_EQ(events.recordCount(), 3);
    EXPECT_EQ(events.containerCount(), 1) << "the list of to-dos is no calendar of events";
    // The detached occurrence, first in the store, is set aside for a second
    // pass, whose progress starts again.
    EXPECT_EQ(recorder.percents(), (QList<double>{0.05, 0.05 + 0.95 / 3, 0.05 + 0.95 * 2 / 3, 0.05}));
    EXPECT_EQ(events.manifestInfo().value(QStringLiteral("calendar_title")).toString(), QStringLiteral("Calendar"));
}

TEST_F(PimDump, EventsTasksAndNotesAsExportLines)
{
    EventDatabase events(&recorder, pimtest::fixtureStore(QStringLiteral("store_events.json")));
    events.setTargetDevice(folderPhone);
    events.runDatabaseDump();
    const QStringList eventLines = linesAcceptedByJq(migrationInfo(QStringLiteral("sl_events.json")));
    ASSERT_EQ(eventLines.size(), 4);
    EXPECT_TRUE(eventLines.first().contains(QStringLiteral("\"database\":\"calendars\"")));
    const QVariantMap standup = vtr::JSONValue(eventLines.at(1)).toMap().value(QStringLiteral("record")).toMap();
    EXPECT_EQ(standup.value(QStringLiteral("uid")).toString(), QStringLiteral("standup"));
    EXPECT_TRUE(standup.value(QStringLiteral("rrule")).toString().contains(QStringLiteral("UNTIL=20300308T083000Z")));
    EXPECT_FALSE(standup.value(QStringLiteral("rrule")).toString().contains(QStringLiteral("COUNT")));
    const QVariantMap moved = vtr::JSONValue(eventLines.last()).toMap().value(QStringLiteral("record")).toMap();
    EXPECT_EQ(moved.value(QStringLiteral("device_parent_record_id")).toString(), QStringLiteral("standup"));

    // To-dos go to the file even for the new phone.
    TaskDatabase tasks(&recorder, pimtest::fixtureStore(QStringLiteral("store_tasks_notes.json")));
    tasks.setTargetDevice(newPhone);
    tasks.runDatabaseDump();
    const QStringList taskLines = linesAcceptedByJq(migrationInfo(QStringLiteral("sl_tasks.json")));
    ASSERT_EQ(taskLines.size(), 3);
    const QVariantMap call = vtr::JSONValue(taskLines.first()).toMap().value(QStringLiteral("record")).toMap();
    EXPECT_EQ(call.value(QStringLiteral("uid")).toString(), QStringLiteral("t1"));
    EXPECT_EQ(call.value(QStringLiteral("category_name")).toString(), QStringLiteral("Home"));
    EXPECT_FALSE(taskLines.at(1).contains(QStringLiteral("category_name"))) << "a calendar without a title";
    EXPECT_EQ(tasks.manifestInfo().value(QStringLiteral("task_cnt")).toInt(), 3);
    EXPECT_EQ(tasks.manifestInfo().value(QStringLiteral("data_size")).toLongLong(),
              QFileInfo(migrationInfo(QStringLiteral("sl_tasks.json"))).size());

    NoteDatabase notes(&recorder, pimtest::fixtureStore(QStringLiteral("store_tasks_notes.json")));
    notes.setTargetDevice(newPhone);
    notes.runDatabaseDump();
    const QStringList noteLines = linesAcceptedByJq(migrationInfo(QStringLiteral("sl_notes.json")));
    ASSERT_EQ(noteLines.size(), 2);
    EXPECT_EQ(vtr::JSONValue(noteLines.first()).toMap().value(QStringLiteral("record")).toMap().value(QStringLiteral("note")).toString().trimmed(),
              QStringLiteral("Milk & eggs"));
    for (const QString &line : noteLines)
        EXPECT_EQ(vtr::JSONValue(line).toMap().value("record").toMap().value("category_name").toString(), "Unfiled");
    EXPECT_EQ(notes.manifestInfo().value(QStringLiteral("title")).toString(), QStringLiteral("Notes"));
}

TEST_F(PimDump, BirthdaysWithoutAYearKeepDayAndMonthOnEveryRoad)
{
    // vCard files, as phones and address books write a day without a year.
    const QString folder = testenv::makeTempDir(QStringLiteral("birthdays"));
    const char *const bdays[] = {"BDAY:--0704", "BDAY:--12-25", "BDAY;X-APPLE-OMIT-YEAR=1604:1604-07-04",
                                 "BDAY;X-APPLE-OMIT-YEAR=1604:1980-07-04", "BDAY:1970-07-04"};
    for (int i = 0; i < 5; ++i)
        testenv::writeFile(folder + QStringLiteral("/%1.vcf").arg(i),
                           QByteArray("BEGIN:VCARD\r\nVERSION:3.0\r\nN:P") + QByteArray::number(i) + ";Ann;;;\r\n" +
                               bdays[i] + "\r\nEND:VCARD\r\n");
    const auto store = pimtest::vdirStore({folder});
    const QStringList expected{"7/4", "12/25", "7/4", "1980/7/4", "1970/7/4"};
    auto days = [](const QVariantList &bodies) {
        QStringList out;
        for (const QVariant &b : bodies) {
            const QVariantMap m = b.toMap();
            out.append((m.contains("birth_year") ? m.value("birth_year").toString() + '/' : QString()) +
                       m.value("birth_month").toString() + '/' + m.value("birth_day").toString());
        }
        return out;
    };

    ContactDatabase live(&recorder, store);
    live.setTargetDevice(newPhone);
    live.runDatabaseDump();
    EXPECT_EQ(days(recorder.contacts), expected);

    ContactDatabase lines(&recorder, store);
    lines.setTargetDevice(folderPhone);
    lines.runDatabaseDump();
    QStringList written;
    for (const QString &l : linesAcceptedByJq(migrationInfo(QStringLiteral("sl_contacts.json"))))
        written.append(vtr::JSONValue(l).toMap().value("record").toMap().value("birthday").toString());
    // Eight digits on every line, as a reader of "birthday" wants them.
    EXPECT_EQ(written.mid(0, 5), (QStringList{"16040704", "16041225", "16040704", "19800704", "19700704"}));

    // The companion app's lines, in every form a day without a year comes in.
    QByteArray companion;
    for (const char *b : {"--0704", "--12-25", "16040704", "19800704", "19700704"})
        companion += QByteArray(R"({"database":"contacts","record":{"birthday":")") + b + "\"}}\n";
    EXPECT_EQ(days(live.windowsLiveContactsWithData(companion).value_or(QVariantList())), expected);
    const STRecordPtr read = STContactRecordFromJSONRecord({{"birthday", "--07-04"}});
    EXPECT_EQ(JSONContactRecordFromSTRecord(*read).value("birthday").toString(), QStringLiteral("16040704"));
}

TEST_F(PimDump, VCardsInUtf16OrWithLoneCrLineEndsAreReadAndAFileOfNoneIsNamed)
{
    const QString folder = testenv::makeTempDir(QStringLiteral("encodings"));
    auto card = [](const char *last, const char *eol) {
        return QString::fromUtf8("BEGIN:VCARD%1VERSION:3.0%1N:%2;Zoë;;;%1TEL;TYPE=CELL:555%1END:VCARD%1").arg(QLatin1String(eol), QLatin1String(last));
    };
    auto utf16 = [](const QString &text, QStringConverter::Encoding encoding, bool mark) {
        QStringEncoder encode(encoding, mark ? QStringConverter::Flag::WriteBom : QStringConverter::Flag::Default);
        return QByteArray(encode(text));
    };
    testenv::writeFile(folder + QStringLiteral("/cr.vcf"), (card("Carr", "\r") + card("Cole", "\r")).toUtf8());
    testenv::writeFile(folder + QStringLiteral("/le.vcf"), utf16(card("Lee", "\r\n"), QStringConverter::Utf16LE, true));
    testenv::writeFile(folder + QStringLiteral("/be.vcf"), utf16(card("Bee", "\n"), QStringConverter::Utf16BE, true));
    testenv::writeFile(folder + QStringLiteral("/le-bare.vcf"), utf16(card("Low", "\r\n"), QStringConverter::Utf16LE, false));
    testenv::writeFile(folder + QStringLiteral("/be-bare.vcf"), utf16(card("Bow", "\r"), QStringConverter::Utf16BE, false));
    testenv::writeFile(folder + QStringLiteral("/notes.vcf"), "Call Ann back\r\n");

    ContactDatabase db(&recorder, pimtest::vdirStore({folder}));
    db.setTargetDevice(newPhone);
    db.runDatabaseDump();
    QStringList read;
    for (const QVariant &b : recorder.contacts)
        read.append(b.toMap().value("name").toString() + ' ' + b.toMap().value("phones").toMap().value("mobile").toString());
    read.sort();
    EXPECT_EQ(read, (QStringList{"Zoë Bee 555", "Zoë Bow 555", "Zoë Carr 555", "Zoë Cole 555", "Zoë Lee 555", "Zoë Low 555"}));
    // The file that still gives nothing is named in the log and for the line.
    EXPECT_EQ(log.filter(QStringLiteral("notes.vcf")).size(), 1) << log.join('\n').toStdString();
    EXPECT_EQ(db.manifestInfo().value("note").toString(), QStringLiteral("\"notes.vcf\" held no contact that could be read"));

    for (const char *name : {"a", "b", "c", "d"}) testenv::writeFile(folder + QStringLiteral("/%1.vcf").arg(name), "");
    db.runDatabaseDump();
    EXPECT_EQ(db.manifestInfo().value("note").toString(),
              QStringLiteral("5 files held no contact that could be read: \"a.vcf\", \"b.vcf\", \"c.vcf\" and 2 more"));
    db.setTargetDevice(folderPhone);
    for (const char *name : {"a", "b", "c", "d", "notes"}) QFile::remove(folder + QStringLiteral("/%1.vcf").arg(name));
    db.runDatabaseDump();
    EXPECT_FALSE(db.manifestInfo().contains("note")) << "a later dump keeps no earlier note";
}

TEST_F(PimDump, ACardOfMorePropertiesThanTheBoundIsLeftOutAndNamed)
{
    // A card of `properties` properties (VERSION and N counted, BEGIN and END
    // not); each category counts as one.
    auto card = [](const char *last, qsizetype properties) {
        QByteArray c = "BEGIN:VCARD\r\nVERSION:3.0\r\nN:" + QByteArray(last) + ";Ann;;;\r\n";
        for (qsizetype i = 2; i < properties; ++i) c += "X-FILLER:" + QByteArray::number(i) + "\r\n";
        return c + "END:VCARD\r\n";
    };
    const QString folder = testenv::makeTempDir(QStringLiteral("bound"));
    testenv::writeFile(folder + QStringLiteral("/edge.vcf"), card("Edge", kCardProperties));
    testenv::writeFile(folder + QStringLiteral("/crafted.vcf"), card("Crafted", kCardProperties + 1));
    testenv::writeFile(folder + QStringLiteral("/pair.vcf"), card("Small", 3) + card("Crafted", kCardProperties + 1));
    QByteArray categories = QByteArray("c,").repeated(kCardProperties - 2);
    categories.chop(1);
    testenv::writeFile(folder + QStringLiteral("/groups.vcf"),
                       card("Grouped", 2) + card("Crafted", 2).replace("END:VCARD", "CATEGORIES:" + categories + ",d\r\nEND:VCARD"));

    ContactDatabase db(&recorder, pimtest::vdirStore({folder}));
    db.setTargetDevice(newPhone);
    db.runDatabaseDump();
    QStringList read;
    for (const QVariant &b : recorder.contacts) read.append(b.toMap().value("name").toString());
    read.sort();
    EXPECT_EQ(read, (QStringList{"Ann Edge", "Ann Grouped", "Ann Small"}));
    const QString why = QStringLiteral(": more than %1 properties or categories").arg(kCardProperties);
    EXPECT_EQ(log.filter(QStringLiteral("Left out card 1 of \"%1/crafted.vcf\"%2").arg(folder, why)).size(), 1)
        << log.join('\n').toStdString();
    EXPECT_EQ(log.filter(QStringLiteral("Left out card 2 of \"%1/pair.vcf\"%2").arg(folder, why)).size(), 1);
    EXPECT_EQ(log.filter(QStringLiteral("Left out card 2 of \"%1/groups.vcf\"%2").arg(folder, why)).size(), 1);
    EXPECT_EQ(db.manifestInfo().value("note").toString(), QStringLiteral("\"crafted.vcf\" held no contact that could be read"));
}
