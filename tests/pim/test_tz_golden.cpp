// The dialect files of the fixture records, compared with the checked-in
// golden files under TZ=UTC and TZ=Asia/Tokyo (set here; CI reruns this
// program under further zones). VTR_WRITE_GOLDEN=1 rewrites the files.
#include "ProcessZone.h"
#include "QStringPrinting.h"
#include "foundation/Json.h"
#include "pim/dialect/CompanionFile.h"
#include "pim/dialect/STRecordAndroid.h"
#include "support/PimFixtures.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>

#include <gtest/gtest.h>

namespace {

using Writer = std::function<QVariantMap(const STRecord &)>;

// The writer's record, with "id" as the companion app writes it.
Writer withId(const Writer &writer)
{
    return [writer](const STRecord &r) {
        QVariantMap m = writer(r);
        m.insert("id", r.identifier());
        return m;
    };
}

struct File
{
    QString path;
    QByteArray text;
};

QList<File> dialectFiles()
{
    using namespace pimfixtures;
    const Writer contact = JSONContactRecordFromSTRecord, group = JSONGroupRecordFromSTRecord,
                 calendar = JSONCalendarRecordFromSTRecord, event = JSONEventRecordFromSTRecord;
    const QString golden = dataFolder() + "/golden/", companion = dataFolder() + "/companion/";
    return {
        {golden + "sl_contacts.json", exportLines("contacts", contacts(), contact) + exportLines("groups", groups(), group)},
        {golden + "sl_events.json", exportLines("calendars", calendars(), calendar) + exportLines("events", events(), event)},
        {golden + "sl_tasks.json", exportLines("tasks", toDos(), JSONToDoRecordFromSTRecord)},
        {golden + "sl_notes.json", exportLines("notes", notes(), JSONNoteRecordFromSTRecord)},
        {companion + "nroid_con.json",
         exportLines("contacts", contacts(), withId(contact)) + exportLines("groups", groups(), withId(group))},
        {companion + "nroid_cal.json",
         exportLines("calendars", calendars(), withId(calendar)) + exportLines("events", events(), withId(event))},
    };
}


QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

TEST(GoldenDialectFiles, SameTextInEveryZone)
{
    if (qEnvironmentVariableIsSet("VTR_WRITE_GOLDEN")) {
        for (const File &f : dialectFiles()) {
            QDir().mkpath(QFileInfo(f.path).path());
            QFile out(f.path);
            ASSERT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
            out.write(f.text);
        }
    }
    for (const char *zone : {"UTC", "Asia/Tokyo"}) {
        ProcessZone guard(zone);
        for (const File &f : dialectFiles()) {
            EXPECT_FALSE(f.text.isEmpty());
            EXPECT_EQ(QString::fromUtf8(f.text), QString::fromUtf8(readAll(f.path))) << zone << " " << f.path.toStdString();
        }
    }
}

TEST(GoldenDialectFiles, EveryLineIsAcceptedByJq)
{
    const QString jq = QStandardPaths::findExecutable("jq");
    if (jq.isEmpty()) GTEST_SKIP() << "jq is not installed";
    for (const File &f : dialectFiles()) {
        QProcess p;
        p.start(jq, {"-c", "."});
        ASSERT_TRUE(p.waitForStarted());
        p.write(f.text);
        p.closeWriteChannel();
        ASSERT_TRUE(p.waitForFinished(30000));
        EXPECT_EQ(p.exitCode(), 0) << f.path.toStdString() << p.readAllStandardError().toStdString();
        EXPECT_EQ(p.readAllStandardOutput().count('\n'), f.text.count('\n')) << f.path.toStdString();
    }
}

TEST(GoldenDialectFiles, CompanionFilesReadBackAsTheFixtures)
{
    ProcessZone guard("Asia/Tokyo");
    struct Case
    {
        const char *file;
        STRecordList expected;
    } cases[] = {
        {"nroid_con.json", pimfixtures::contacts() + pimfixtures::groups()},
        {"nroid_cal.json", pimfixtures::calendars() + pimfixtures::events()},
    };
    for (const Case &c : cases) {
        const QList<CompanionLine> lines = readCompanionLines(readAll(pimfixtures::dataFolder() + "/companion/" + c.file));
        ASSERT_EQ(lines.size(), c.expected.size()) << c.file;
        for (int i = 0; i < lines.size(); ++i) {
            const STRecordPtr r = stRecordFromCompanionLine(lines[i]);
            ASSERT_TRUE(r);
            EXPECT_EQ(r->identifier(), c.expected[i]->identifier());
            EXPECT_EQ(r->type(), c.expected[i]->type());
            // Written again, the record gives the same line (less the identifier it was read from).
            QVariantMap again = deviceRecordFromSTRecord(*r);
            QVariantMap original = deviceRecordFromSTRecord(*c.expected[i]);
            for (const char *k : {"id", "uid", "x-wr-timezone", "rrule", "exdate", "dtstart", "dtend",
                                  "x-ms-all-day-duration", "device_record_id", "valarms"}) {
                again.remove(k);
                original.remove(k);
            }
            EXPECT_EQ(r->recordsInRelationshipNamed("valarms").size(),
                      c.expected[i]->recordsInRelationshipNamed("valarms").size());
            if (r->type() == "contact") continue; // related identifiers come back as fields
            EXPECT_EQ(again, original) << c.file << " line " << i + 1 << " " << vtr::JSONRepresentation(again).toStdString()
                                       << " " << vtr::JSONRepresentation(original).toStdString();
        }
    }
}

// The simulated Android phone carries the companion calendar file.
TEST(GoldenDialectFiles, SimulatedPhoneCarriesTheCompanionCalendar)
{
    const QVariantMap phone =
        vtr::JSONValueFromUtf8(readAll(QStringLiteral(VTR_TEST_SOURCE_DIR "/devices/data/mtp/android_phone.json"))).toMap();
    QString text;
    for (const QVariant &storage : phone.value("storages").toList())
        for (const QVariant &top : storage.toMap().value("objects").toList())
            for (const QVariant &child : top.toMap().value("children").toList())
                if (child.toMap().value("name") == "nroid_cal.json") text = child.toMap().value("text").toString();
    EXPECT_EQ(text, QString::fromUtf8(readAll(pimfixtures::dataFolder() + "/companion/nroid_cal.json")));
}
