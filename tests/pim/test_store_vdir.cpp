// vdir folders read through the store: the public vCard and iCalendar
// samples in place, folders that are missing, unreadable or partly broken.
#include "QStringPrinting.h"
#include "TestEnvironment.h"

#include "support/PimRecorder.h"

#include "foundation/VtrCalendarDate.h"
#include "foundation/Log.h"
#include "pim/store/SyncStore.h"
#include "pim/store/EdsSource.h"
#include "pim/store/VCardRecords.h"
#include "pim/store/VdirSource.h"
#include "platform/UserDefaults.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QUrl>

#include <gtest/gtest.h>
#include <libebook/libebook.h>
#include <dirent.h>
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>

using namespace syncstore;

namespace {

const QString kSamples = QStringLiteral(VTR_SHARED_DATA_DIR "/samples");

using pimtest::ofEntity;
using pimtest::snapshotOf;

QVariantMap contactNamed(const SyncRecordSnapshot &s, const QString &last)
{
    for (const auto &e : ofEntity(s, entity::Contact))
        if (e.record.value(QStringLiteral("last name")).toString() == last) return e.record;
    ADD_FAILURE() << "no contact " << last.toStdString();
    return {};
}

// "type value [label]" of each item of a contact's relationship, in order.
QStringList items(const SyncRecordSnapshot &s, const QVariantMap &contact, const QString &relationship)
{
    QStringList out;
    for (const auto &e : s.recordsWithIdentifiers(contact.value(relationship).toStringList())) {
        QString line = e.record.value(QStringLiteral("type")).toString() + QLatin1Char(' ');
        const QVariant v = e.record.value(QStringLiteral("value"), e.record.value(QStringLiteral("user")));
        line += v.typeId() == QMetaType::QUrl ? v.toUrl().toString() : v.toString();
        if (e.record.contains(QStringLiteral("street")))
            line += e.record.value(QStringLiteral("street")).toString() + QLatin1Char('|') +
                    e.record.value(QStringLiteral("city")).toString();
        if (e.record.contains(QStringLiteral("service"))) line += QLatin1Char('@') + e.record.value(QStringLiteral("service")).toString();
        if (e.record.contains(QStringLiteral("label"))) line += QStringLiteral(" [") + e.record.value(QStringLiteral("label")).toString() + QLatin1Char(']');
        out.append(line);
    }
    return out;
}

QString day(const QVariant &date)
{
    const auto d = date.value<VtrCalendarDate>();
    return d.isNull() ? QString() : d.descriptionWithCalendarFormat(QStringLiteral("%Y-%m-%d"));
}

}  // namespace

TEST(StoreVdir, VCardSamplesKeepTheMappedFields)
{
    VTR_REQUIRE_SAMPLE(QStringLiteral("vcard"));
    const auto s = snapshotOf({kSamples + QStringLiteral("/vcard")}, entity::Contact);
    EXPECT_EQ(ofEntity(*s, entity::Contact).size(), 1 + 6 + 1 + 1 + 1);

    const QVariantMap john = contactNamed(*s, QStringLiteral("Doe"));
    const struct { const char *key, *value; } johnFields[] = {
        {"first name", "John"}, {"middle name", "Richter,James"}, {"title", "Mr."}, {"suffix", "Sr."},
        {"nickname", "Johny"}, {"company name", "IBM"}, {"department", "Accounting"}, {"job title", "Money Counter"},
    };
    for (const auto &f : johnFields) EXPECT_EQ(john.value(QLatin1String(f.key)).toString(), QLatin1String(f.value)) << f.key;
    EXPECT_EQ(day(john.value(QStringLiteral("birthday"))), QStringLiteral("2012-06-06"));
    EXPECT_TRUE(john.value(QStringLiteral("image")).toByteArray().startsWith("\xFF\xD8")) << "the folded JPEG";
    EXPECT_EQ(items(*s, john, QStringLiteral("phone numbers")),
              (QStringList{"mobile 905-555-1234", "home 905-666-1234", "work 905-777-1234", "home fax 905-888-1234",
                           "work fax 905-999-1234", "pager 905-111-1234", "other 905-222-1234 [AssistantPhone]"}));
    EXPECT_EQ(items(*s, john, QStringLiteral("email addresses")), QStringList{"other john.doe@ibm.com"});
    EXPECT_EQ(items(*s, john, QStringLiteral("street addresses")),
              (QStringList{"home Silicon Alley 5,|New York", "work Street4\nBuilding 6\nFloor 8|New York"}));
    EXPECT_EQ(items(*s, john, QStringLiteral("URLs")), QStringList{"home page http://www.ibm.com"});

    const QVariantMap gump = contactNamed(*s, QStringLiteral("Gump"));
    EXPECT_EQ(gump.value(QStringLiteral("department")).toString(), QStringLiteral("Sales Dept.;Manager, Fish keeper"));
    EXPECT_EQ(day(gump.value(QStringLiteral("birthday"))), QStringLiteral("1980-01-01"));
    EXPECT_EQ(items(*s, gump, QStringLiteral("phone numbers")),
              (QStringList{"work (111) 555-1212", "home (404) 555-1212", "mobile 0311111111", "other 0322222222",
                           "other 0333333333"}));
    EXPECT_TRUE(gump.value(QStringLiteral("notes")).toString().contains(QStringLiteral("RFC 2045")));

    const QVariantMap holmes = contactNamed(*s, QStringLiteral("Holmes"));
    EXPECT_EQ(holmes.value(QStringLiteral("first name")).toString(), QStringLiteral("Sherlock"));
    EXPECT_EQ(day(holmes.value(QStringLiteral("birthday"))), QStringLiteral("1953-10-15"));
    EXPECT_EQ(items(*s, holmes, QStringLiteral("phone numbers")),
              (QStringList{"home +44-555-555-5555;ext=5555", "mobile +44-555-555-6666", "work +44-555-555-7777"}));
    EXPECT_EQ(items(*s, holmes, QStringLiteral("email addresses")),
              (QStringList{"home sherlock.holmes@gmail.com", "work detective@sherlockholmes.com"}));
    EXPECT_EQ(items(*s, holmes, QStringLiteral("IMs")), QStringList{"other detective@sherlockholmes.com@jabber"});
    EXPECT_EQ(items(*s, holmes, QStringLiteral("dates")).size(), 1);

    // Shift_JIS bytes, raw and quoted-printable.
    const QVariantMap ando = contactNamed(*s, QString::fromUtf8("安藤"));
    EXPECT_EQ(ando.value(QStringLiteral("first name")).toString(), QString::fromUtf8("ロイド1"));
    EXPECT_EQ(ando.value(QStringLiteral("notes")).toString(), QString::fromUtf8("メモ"));
    // Its reading (SOUND;X-IRMC-N) in N's fields.
    EXPECT_EQ(ando.value(QStringLiteral("last name yomi")).toString(), QString::fromUtf8("ｱﾝﾄﾞｳ"));
    EXPECT_EQ(ando.value(QStringLiteral("first name yomi")).toString(), QString::fromUtf8("ﾛｲﾄﾞ1"));

    // The Android export's quoted-printable UTF-8 names and its one category.
    qsizetype withN = 0;
    for (const auto &e : ofEntity(*s, entity::Contact))
        withN += e.record.value(QStringLiteral("last name")).toString().contains(QChar(0x00D1));
    EXPECT_EQ(withN, 4);
    const auto groups = ofEntity(*snapshotOf({kSamples + QStringLiteral("/vcard")}, entity::Group), entity::Group);
    QStringList names;
    for (const auto &g : groups) names.append(g.record.value(QStringLiteral("name")).toString());
    EXPECT_EQ(names, (QStringList{"My Contacts", "FICTION", "LITERATURE"}));
    EXPECT_EQ(groups.first().record.value(QStringLiteral("members")).toStringList().size(), 5);
}

TEST(StoreVdir, ICalendarSamplesKeepTimesAlarmsAndRecurrences)
{
    VTR_REQUIRE_SAMPLE(QStringLiteral("icalendar"));
    const QString folder = kSamples + QStringLiteral("/icalendar");
    const auto s = snapshotOf({folder}, entity::Event);
    QHash<QString, QVariantMap> bySummary;
    for (const auto &e : ofEntity(*s, entity::Event)) bySummary.insert(e.record.value(QStringLiteral("summary")).toString(), e.record);
    ASSERT_EQ(bySummary.size(), 4);

    const QVariantMap alarms = bySummary.value(QStringLiteral("event with alarms"));
    EXPECT_EQ(alarms.value(QStringLiteral("display alarms")).toStringList().size(), 3);
    EXPECT_EQ(alarms.value(QStringLiteral("mail alarms")).toStringList().size(), 1);
    const auto first = s->recordsWithIdentifiers(alarms.value(QStringLiteral("display alarms")).toStringList());
    ASSERT_FALSE(first.isEmpty());
    EXPECT_EQ(first.first().record.value(QStringLiteral("triggerduration")).toLongLong(), -600);
    EXPECT_EQ(alarms.value(QStringLiteral("calendar")).toStringList(), QStringList{QFileInfo(folder).absoluteFilePath()});

    const QVariantMap weekly = bySummary.value(QStringLiteral("A Recurring event with multiple exdates, one per line."));
    const auto start = weekly.value(QStringLiteral("start date")).value<VtrCalendarDate>();
    EXPECT_EQ(start.timeZone().id(), QByteArray("Europe/Vienna"));
    EXPECT_EQ(start.instant(), QDateTime(QDate(2012, 3, 27), QTime(8, 0), Qt::UTC));
    EXPECT_EQ(weekly.value(QStringLiteral("exception dates")).toList().size(), 5);
    const auto rec = s->recordsWithIdentifiers(weekly.value(QStringLiteral("recurrences")).toStringList());
    ASSERT_EQ(rec.size(), 1);
    EXPECT_EQ(rec.first().record.value(QStringLiteral("frequency")).toString(), QStringLiteral("weekly"));
    EXPECT_EQ(rec.first().record.value(QStringLiteral("bydaydays")).toStringList(), QStringList{"tuesday"});
    EXPECT_EQ(rec.first().record.value(QStringLiteral("until")).value<VtrCalendarDate>().instant(),
              QDateTime(QDate(2012, 7, 3), QTime(8, 0), Qt::UTC));

    for (const auto &[summary, utc] : {std::pair{QStringLiteral("Test meeting from BB"), QDateTime()},
                                       std::pair{QString(), QDateTime(QDate(2017, 5, 11), QTime(16, 30), Qt::UTC)}}) {
        if (summary.isEmpty()) {  // the Windows-style zone comes from the file's VTIMEZONE
            bool found = false;
            for (const auto &r : std::as_const(bySummary))
                found = found || r.value(QStringLiteral("start date")).value<VtrCalendarDate>().instant() == utc;
            EXPECT_TRUE(found);
        } else {
            const QVariantMap bb = bySummary.value(summary);
            EXPECT_EQ(bb.value(QStringLiteral("all day")).toInt(), 1);
            EXPECT_EQ(day(bb.value(QStringLiteral("start date"))), QStringLiteral("2012-08-14"));
        }
    }
    const auto calendars = ofEntity(*snapshotOf({folder}, entity::Calendar), entity::Calendar);
    ASSERT_EQ(calendars.size(), 1);
    EXPECT_EQ(calendars.first().record.value(QStringLiteral("title")).toString(), QStringLiteral("icalendar"));
}

TEST(StoreVdir, FoldersThatAreMissingBrokenOrUnreadable)
{
    const QString root = testenv::makeTempDir(QStringLiteral("vdir"));
    // A collection below the named folder, a broken file beside good ones,
    // to-dos and notes in the same collection as the events.
    testenv::writeFile(root + QStringLiteral("/work/a.ics"),
                       "BEGIN:VCALENDAR\nBEGIN:VTODO\nUID:t1\nSUMMARY:Call\nSTATUS:IN-PROCESS\nDUE;VALUE=DATE:20300101\n"
                       "BEGIN:VALARM\nACTION:DISPLAY\nTRIGGER;RELATED=END:-PT5M\nEND:VALARM\nEND:VTODO\nEND:VCALENDAR\n");
    testenv::writeFile(root + QStringLiteral("/work/b.ics"), "not a calendar");
    testenv::writeFile(root + QStringLiteral("/work/c.ics"),
                       "BEGIN:VCALENDAR\nBEGIN:VJOURNAL\nUID:n1\nSUMMARY:Idea\nDESCRIPTION:text\nEND:VJOURNAL\nEND:VCALENDAR\n");
    testenv::writeFile(root + QStringLiteral("/work/displayname"), "Work things\n");
    testenv::writeFile(root + QStringLiteral("/work/color"), "#ff0000");

    const auto tasks = ofEntity(*snapshotOf({root, root + QStringLiteral("/missing")}, entity::Task), entity::Task);
    ASSERT_EQ(tasks.size(), 1);
    EXPECT_EQ(tasks.first().record.value(QStringLiteral("status")).toString(), QStringLiteral("in-process"));
    EXPECT_TRUE(tasks.first().record.value(QStringLiteral("due date is date only")).toBool());
    const auto notes = ofEntity(*snapshotOf({root}, entity::Note), entity::Note);
    ASSERT_EQ(notes.size(), 1);
    EXPECT_EQ(notes.first().record.value(QStringLiteral("subject")).toString(), QStringLiteral("Idea"));
    const auto calendars = ofEntity(*snapshotOf({root}, entity::Calendar), entity::Calendar);
    ASSERT_FALSE(calendars.isEmpty());
    const auto cal = calendars.first().record;
    EXPECT_EQ(cal.value(QStringLiteral("title")).toString(), QStringLiteral("Work things"));
    EXPECT_EQ(cal.value(QStringLiteral("color")).toString(), QStringLiteral("1.000000,0.000000,0.000000,1.000000"));

    // Nothing there is no source; an item that exists but cannot be read is
    // an error that names the folder (root may read anything: no test then).
    EXPECT_EQ(snapshotOf({root + QStringLiteral("/missing")}, entity::Event)->count(), 0);
    if (geteuid() != 0) {
        testenv::TakenModes modes;
        ASSERT_TRUE(modes.take(root + QStringLiteral("/work/a.ics"), 0200));
        try {
            snapshotOf({root}, entity::Task);
            ADD_FAILURE() << "an unreadable item was read as none";
        } catch (const VtrException &e) {
            EXPECT_EQ(e.name(), kSourceExceptionName);
            EXPECT_TRUE(e.reason().contains(root + QStringLiteral("/work"))) << e.reason().toStdString();
        }
    }
}

TEST(StoreVdir, ItemFilesOfAnyCaseAreReadAndHiddenFoldersAreNoCollections)
{
    const QString root = testenv::makeTempDir(QStringLiteral("vdircase"));
    auto card = [](const char *last) { return QByteArray("BEGIN:VCARD\nVERSION:3.0\nN:") + last + ";Ann;;;\nEND:VCARD\n"; };
    testenv::writeFile(root + QStringLiteral("/CARD.VCF"), card("Upper"));
    testenv::writeFile(root + QStringLiteral("/friends/b.Vcf"), card("Mixed"));
    // What a file manager or a sync tool keeps beside the collections.
    testenv::writeFile(root + QStringLiteral("/.trash/old.vcf"), card("Deleted"));
    QStringList lasts;
    for (const auto &e : ofEntity(*snapshotOf({root}, entity::Contact), entity::Contact))
        lasts.append(e.record.value(QStringLiteral("last name")).toString());
    lasts.sort();
    EXPECT_EQ(lasts, (QStringList{"Mixed", "Upper"}));
}

TEST(StoreVdir, AnItemWhoseReadingFailsIsAnErrorNotAPartialItem)
{
    // Reading a process's own memory at offset 0 fails with EIO, and the file
    // tells no size, so it is read to its end.
    const QString root = testenv::makeTempDir(QStringLiteral("vdirfails"));
    testenv::writeFile(root + QStringLiteral("/good.vcf"), "BEGIN:VCARD\nVERSION:3.0\nN:Lee;Ann;;;\nEND:VCARD\n");
    ASSERT_TRUE(QFile::link(QStringLiteral("/proc/self/mem"), root + QStringLiteral("/bad.vcf")));
    EXPECT_THROW(snapshotOf({root}, entity::Contact), VtrException);
}

TEST(StoreSources, FoldersFromTheUserDefaultAndNoBusAreNoErrors)
{
    const QString root = testenv::makeTempDir(QStringLiteral("vdirdefault"));
    testenv::writeFile(root + QStringLiteral("/a.vcf"), "BEGIN:VCARD\nVERSION:3.0\nN:Lee;Ann;;;\nEND:VCARD\n");
    for (const QVariant &setting : {QVariant(root), QVariant(QStringList{root, root + QStringLiteral("/gone")})}) {
        platform::UserDefaults::setValue(kVdirFoldersDefaultsKey, setting);
        std::vector<std::unique_ptr<SyncSource>> sources;
        sources.push_back(std::make_unique<VdirSource>());
        SyncManager manager(std::move(sources));
        const auto contacts = ofEntity(*manager.snapshotOfRecordsInTruth({entity::Contact}), entity::Contact);
        ASSERT_EQ(contacts.size(), 1);
        EXPECT_EQ(contacts.first().identifier, QStringLiteral("a")) << "a card without UID is named by its file";
    }
    platform::UserDefaults::remove(kVdirFoldersDefaultsKey);

    // Without a session bus the desktop's service is simply not there.
    const QByteArray bus = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    struct Sink : SyncRecordSink
    {
        QString uniqueIdentifier(const QString &w) const override { return w; }
        void addRecord(const QString &, const QString &, QVariantMap) override { ++added; }
        int added = 0;
    } sink;
    const SourceReadResult r = EdsSource().read(SyncDataKind::Contacts, sink);
    if (!bus.isNull()) qputenv("DBUS_SESSION_BUS_ADDRESS", bus);
    EXPECT_FALSE(r.found);
    EXPECT_EQ(sink.added, 0);
}

namespace {

// The contacts of one vCard file, read through a vdir folder.
SyncRecordList contactsOfFile(const QByteArray &file, std::unique_ptr<SyncRecordSnapshot> *keep = nullptr)
{
    const QString root = testenv::makeTempDir(QStringLiteral("vcf"));
    testenv::writeFile(root + QStringLiteral("/a.vcf"), file);
    auto s = snapshotOf({root}, entity::Contact);
    const SyncRecordList contacts = ofEntity(*s, entity::Contact);
    if (keep) *keep = std::move(s);
    return contacts;
}

QByteArray card21(const QByteArray &lines)
{
    return "BEGIN:VCARD\r\nVERSION:2.1\r\n" + lines + "END:VCARD\r\n";
}

}  // namespace

TEST(StoreVdir, QuotedPrintableSoftBreaksAreJoinedBeforeTheParser)
{
    VTR_REQUIRE_SAMPLE(QStringLiteral("vcard"));
    // Real 2.1 exports: a phone's (the RFC 2045 note, a Shift_JIS address
    // broken between escapes) and a contacts app's (names broken mid-letter).
    const auto s = snapshotOf({kSamples + QStringLiteral("/vcard")}, entity::Contact);
    EXPECT_EQ(contactNamed(*s, QStringLiteral("Gump")).value(QStringLiteral("notes")).toString(),
              QStringLiteral("The following note is the example from RFC 2045.\n"
                             "Now's the time for all folk to come to the aid of their country."));
    const QVariantMap ando = contactNamed(*s, QString::fromUtf8("安藤"));
    const auto address = s->recordsWithIdentifiers(ando.value(QStringLiteral("street addresses")).toStringList());
    ASSERT_EQ(address.size(), 1);
    EXPECT_EQ(address.first().record.value(QStringLiteral("extra_device_fields")).toMap().value(QStringLiteral("ext")).toString(),
              QString::fromUtf8("東京都渋谷区桜丘町26-1セルリアンタワー6階"));
    const QString eleven = QStringList(11, QString(QChar(0x00D1))).join(QLatin1Char(' '));
    qsizetype found = 0;
    for (const auto &e : ofEntity(*s, entity::Contact)) found += e.record.value(QStringLiteral("last name")).toString() == eleven;
    EXPECT_EQ(found, 1);

    // Breaks after plain text (the parser kept those), inside one UTF-8
    // letter, before a line that begins with "#", and a break before the end.
    const struct
    {
        const char *lines, *key, *value;
    } cases[] = {
        {"N;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:M=C3=BCller-L=C3=BCdenscheidt-=\r\nSchmidt;Hans;;;\r\n",
         "last name", "Müller-Lüdenscheidt-Schmidt"},
        {"N;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:Gr=C3=\r\n=BC=C3=9Fer;Hans;;;\r\n", "last name", "Grüßer"},
        {"N:Lee;Ann;;;\r\nNOTE;CHARSET=UTF-8;QUOTED-PRINTABLE:Room =\r\n#42, up=\r\nstairs\r\n", "notes", "Room #42, upstairs"},
        {"N:Lee;Ann;;;\r\nNOTE;ENCODING=QUOTED-PRINTABLE:line=0D=0Anext=\r\n", "notes", "line\r\nnext"},
        // A ":" inside a quoted parameter value is not where the value begins.
        {"N:Lee;Ann;;;\r\nNOTE;X-LABEL=\"Desk: 4\";ENCODING=QUOTED-PRINTABLE:a=3Db, =\r\nc\r\n", "notes", "a=b, c"},
        // Without quoted-printable a last "=" is text.
        {"N:Lee;Ann;;;\r\nNOTE:a trailing = is no soft line break=\r\nTEL:1\r\n", "notes", "a trailing = is no soft line break="},
    };
    for (const auto &c : cases) {
        const SyncRecordList contacts = contactsOfFile(card21(c.lines));
        ASSERT_EQ(contacts.size(), 1) << c.lines;
        EXPECT_EQ(contacts.first().record.value(QLatin1String(c.key)).toString(), QString::fromUtf8(c.value)) << c.lines;
    }
    std::unique_ptr<SyncRecordSnapshot> snapshot;
    const SyncRecordList street = contactsOfFile(
        card21("N:Lee;Ann;;;\r\nADR;HOME;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:;;Hauptstra=C3=9Fe 1=\r\n0;K=C3=B6ln;;50667;\r\n"),
        &snapshot);
    ASSERT_EQ(street.size(), 1);
    EXPECT_EQ(items(*snapshot, street.first().record, QStringLiteral("street addresses")),
              QStringList{QString::fromUtf8("home Hauptstraße 10|Köln")});
}

TEST(StoreVdir, NulBytesAndBrokenEscapesNeverReachTheParser)
{
    // The shapes that made the parser read past its text ("=" followed by a
    // NUL, directly or after a soft break), and escapes that decode nothing:
    // the rest of the card is still read.
    const struct
    {
        QByteArray lines;
        const char *note;
    } cases[] = {
        {QByteArray("NOTE;ENCODING=QUOTED-PRINTABLE:a=\0b\r\n", 37), "a=b"},
        {QByteArray("NOTE;ENCODING=QUOTED-PRINTABLE:x=\r\n\0\r\n", 38), "x"},
        {QByteArray("NOTE;ENCODING=QUOTED-PRINTABLE:50=% off, =G1 =4\r\n"), "50=% off, =G1 =4"},
    };
    for (const auto &c : cases) {
        const QByteArray file = card21("N:Lee;Ann;;;\r\n" + c.lines + "TEL;CELL:555\r\n");
        for (const QByteArray &card : splitVCards(file)) {
            EXPECT_FALSE(card.contains('\0'));
            static const QRegularExpression brokenEscape(QStringLiteral("=(?![0-9A-Fa-f]{2})"));
            for (const QByteArray &line : card.split('\n'))
                if (line.contains("QUOTED-PRINTABLE"))
                    EXPECT_FALSE(QString::fromLatin1(line.mid(line.indexOf(':') + 1)).contains(brokenEscape)) << line.toStdString();
        }
        std::unique_ptr<SyncRecordSnapshot> snapshot;
        const SyncRecordList contacts = contactsOfFile(file, &snapshot);
        ASSERT_EQ(contacts.size(), 1);
        EXPECT_EQ(contacts.first().record.value(QStringLiteral("notes")).toString(), QLatin1String(c.note));
        EXPECT_EQ(items(*snapshot, contacts.first().record, QStringLiteral("phone numbers")), QStringList{"mobile 555"});
    }
}

TEST(StoreVdir, AnUnreadableCardIsLeftOutAloneNotItsWholeFile)
{
    QStringList lines;
    LogSetSystemLogSink([&](const QString &m) { lines.append(m); });
    // The second card has no line at all.
    const SyncRecordList contacts = contactsOfFile(card21("N:Lee;Ann;;;\r\n") + "BEGIN:VCARD\r\nEND:VCARD\r\n");
    LogSetSystemLogSink(nullptr);
    ASSERT_EQ(contacts.size(), 1);
    EXPECT_EQ(lines.filter(QStringLiteral("Left out card 2 of ")).size(), 1) << lines.join('\n').toStdString();
    EXPECT_TRUE(lines.filter(QStringLiteral("Left out \"")).isEmpty()) << lines.join('\n').toStdString();
}

TEST(StoreVdir, PropertiesOfVeryManyItemsAreReadAsTheirFewValuesWould)
{
    // Lists of 40 listed, longer than the parser is given whole: what the
    // reader makes of them is what it makes of the same values listed short.
    QStringList n(40);
    std::generate(n.begin(), n.end(), [i = 0]() mutable { return QString::number(++i); });
    const QByteArray listed = n.join(QLatin1Char(';')).toLatin1(), commas = n.join(QLatin1Char(',')).toLatin1();
    std::unique_ptr<SyncRecordSnapshot> s;
    const SyncRecordList contacts = contactsOfFile(
        "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Lee;Ann;Jo;Dr;Jr;" + listed + "\r\nNICKNAME:" + listed + "\r\nORG:Acme;" +
            listed + "\r\nNOTE:" + listed + "\\;x\r\nCATEGORIES:" + commas + ";z\r\nTEL;TYPE=CELL" +
            QByteArray(";X-A=1").repeated(40) + ":" + listed + "\r\nADR;TYPE=HOME," + commas + ":;;Main\r\n  St;Springfield;;;;" +
            listed + "\r\nEND:VCARD\r\n",
        &s);
    ASSERT_EQ(contacts.size(), 1);
    const QVariantMap c = contacts.first().record;
    EXPECT_EQ(QStringList({c.value("last name").toString(), c.value("first name").toString(), c.value("middle name").toString(),
                           c.value("title").toString(), c.value("suffix").toString()}),
              (QStringList{"Lee", "Ann", "Jo", "Dr", "Jr"}));
    EXPECT_EQ(c.value("nickname").toString(), n.join(QStringLiteral(", ")));
    EXPECT_EQ(c.value("department").toString(), n.join(QStringLiteral(", ")));
    EXPECT_EQ(c.value("notes").toString(), n.join(QLatin1Char(';')) + QStringLiteral(";x"));
    EXPECT_EQ(items(*s, c, QStringLiteral("phone numbers")), QStringList{"mobile " + n.join(QLatin1Char(';'))});
    EXPECT_EQ(items(*s, c, QStringLiteral("street addresses")), QStringList{"home Main St|Springfield"});
    EXPECT_EQ(ofEntity(*s, entity::Group).size(), 41);
}

TEST(StoreVdir, CardsSharingAUidAreKeptApart)
{
    const QByteArray a = "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:x\r\nN:A;;;;\r\nEND:VCARD\r\n";
    const SyncRecordList contacts = contactsOfFile(a + a + QByteArray(a).replace("UID:x", "UID:x#3") + a);
    QStringList ids;
    for (const auto &e : contacts) ids.append(e.identifier);
    EXPECT_EQ(ids, (QStringList{"x", "x#2", "x#3", "x#4"}));
}

TEST(StoreVdir, SingleValueTextsAreReadAsTheFileHoldsThem)
{
    // 2.1 leaves a ";" bare outside compound values (also quoted-printable,
    // also in a note of more ";" than the parser is given at once); 3.0 and
    // 4.0 escape ";" and ",".
    const QByteArray manySemicolons = QByteArray("a;").repeated(40) + "b";
    const struct
    {
        const char *version;
        QByteArray note, title;
        QString readNote, readTitle;
    } cases[] = {
        {"2.1", "NOTE:Gate code 4711; ring twice", "TITLE:Head of Sales; EMEA", "Gate code 4711; ring twice",
         "Head of Sales; EMEA"},
        {"2.1", "NOTE;ENCODING=QUOTED-PRINTABLE:Gate code 4711; ring=0D=0Atwice, then wait", "TITLE:a\\;b",
         "Gate code 4711; ring\r\ntwice, then wait", "a;b"},
        {"2.1", "NOTE:" + manySemicolons, "TITLE:;;Clerk;", QString::fromLatin1(manySemicolons), ";;Clerk;"},
        {"3.0", "NOTE:Gate code 4711\\; ring twice\\, then wait", "TITLE:Head of Sales\\; EMEA\\, APAC",
         "Gate code 4711; ring twice, then wait", "Head of Sales; EMEA, APAC"},
        {"4.0", "NOTE:Gate code 4711\\; ring twice\\, then wait", "TITLE:Head of Sales\\; EMEA",
         "Gate code 4711; ring twice, then wait", "Head of Sales; EMEA"},
    };
    for (const auto &c : cases) {
        const SyncRecordList contacts = contactsOfFile(QByteArray("BEGIN:VCARD\r\nVERSION:") + c.version + "\r\nN:Lee;Ann;;;\r\n" +
                                                       c.note + "\r\n" + c.title + "\r\nEND:VCARD\r\n");
        ASSERT_EQ(contacts.size(), 1) << c.note.toStdString();
        EXPECT_EQ(contacts.first().record.value(QStringLiteral("notes")).toString(), c.readNote) << c.version;
        EXPECT_EQ(contacts.first().record.value(QStringLiteral("job title")).toString(), c.readTitle) << c.version;
    }
}

TEST(StoreVdir, LongListsKeepTheirLastFieldsAndItems)
{
    // An address of 40 fields keeps its country (the seventh).
    std::unique_ptr<SyncRecordSnapshot> s;
    const SyncRecordList contacts =
        contactsOfFile("BEGIN:VCARD\r\nVERSION:3.0\r\nN:Lee;Ann;;;\r\nADR;TYPE=HOME:;;Main St;Springfield;IL;62701;USA" +
                           QByteArray(";x").repeated(33) + "\r\nEND:VCARD\r\n",
                       &s);
    ASSERT_EQ(contacts.size(), 1);
    const auto address = s->recordsWithIdentifiers(contacts.first().record.value(QStringLiteral("street addresses")).toStringList());
    ASSERT_EQ(address.size(), 1);
    EXPECT_EQ(address.first().record.value(QStringLiteral("country")).toString(), QStringLiteral("USA"));
    EXPECT_EQ(address.first().record.value(QStringLiteral("postal code")).toString(), QStringLiteral("62701"));

    // Categories one past a multiple of 32 keep the last one.
    for (const int count : {33, 65}) {
        QStringList names;
        for (int i = 1; i <= count; ++i) names.append(QStringLiteral("c%1").arg(i));
        std::unique_ptr<SyncRecordSnapshot> g;
        contactsOfFile("BEGIN:VCARD\r\nVERSION:3.0\r\nN:Lee;Ann;;;\r\nCATEGORIES:" + names.join(QLatin1Char(',')).toLatin1() +
                           "\r\nEND:VCARD\r\n",
                       &g);
        QStringList groups;
        for (const auto &e : ofEntity(*g, entity::Group)) groups.append(e.record.value(QStringLiteral("name")).toString());
        EXPECT_EQ(groups.join(QLatin1Char(',')), names.join(QLatin1Char(',')));
    }
}

namespace {

// The contacts of one vCard file, and the log lines of their reading.
SyncRecordList contactsLogged(const QByteArray &file, QStringList &log, std::unique_ptr<SyncRecordSnapshot> *keep = nullptr)
{
    LogSetSystemLogSink([&](const QString &m) { log.append(m); });
    SyncRecordList contacts = contactsOfFile(file, keep);
    LogSetSystemLogSink(nullptr);
    return contacts;
}

// "last-name phones" of each contact, in name order.
QStringList namesAndPhones(const SyncRecordSnapshot &s, const SyncRecordList &contacts)
{
    QStringList out;
    for (const auto &e : contacts)
        out.append(e.record.value(QStringLiteral("last name")).toString() + QLatin1Char(' ') +
                   items(s, e.record, QStringLiteral("phone numbers")).join(QLatin1Char(',')));
    out.sort();
    return out;
}

// The cards the log names as read without their END, in its order: "2" for
// card 2, "1 at its AGENT" for card 1 read up to its AGENT.
QStringList lostEnds(const QStringList &log)
{
    static const QRegularExpression lost(QStringLiteral("^Card (\\d+) of \".*\" lost its END(, or the card of its AGENT did)?"));
    QStringList out;
    for (const QString &line : log)
        if (const auto m = lost.match(line); m.hasMatch())
            out.append(m.captured(1) + (m.capturedLength(2) ? QStringLiteral(" at its AGENT") : QString()));
    return out;
}

}  // namespace

TEST(StoreVdir, ACardThatLostItsEndTakesNoOtherCardWithIt)
{
    auto card = [](const char *last, const char *phone, const QByteArray &begin = "BEGIN:VCARD",
                   const QByteArray &end = "END:VCARD\r\n") {
        return begin + "\r\nVERSION:3.0\r\nN:" + last + ";Ann;;;\r\nTEL;TYPE=CELL:" + phone + "\r\n" + end;
    };
    const struct
    {
        const char *what;
        QByteArray begin, end;
        bool lost;
    } middles[] = {
        {"no END", "BEGIN:VCARD", "", true},
        {"a letter after END", "BEGIN:VCARD", "END:VCARDx\r\n", true},
        {"a control byte after END", "BEGIN:VCARD", "END:VCARD\x01\r\n", true},
        {"a NUL in BEGIN", QByteArray("BEGIN:VC\0ARD", 12), "END:VCARD\r\n", false},
        {"a NUL in END", "BEGIN:VCARD", QByteArray("END:V\0CARD\r\n", 12), false},
    };
    for (const auto &m : middles) {
        QStringList log;
        std::unique_ptr<SyncRecordSnapshot> s;
        const SyncRecordList contacts = contactsLogged(card("Lee", "1") + card("Berg", "2", m.begin, m.end) + card("Cole", "3"), log, &s);
        EXPECT_EQ(namesAndPhones(*s, contacts), (QStringList{"Berg mobile 2", "Cole mobile 3", "Lee mobile 1"})) << m.what;
        EXPECT_TRUE(log.filter(QStringLiteral("Left out")).isEmpty()) << m.what << log.join('\n').toStdString();
        EXPECT_EQ(lostEnds(log), m.lost ? QStringList{"2"} : QStringList()) << m.what;
    }

    // The file's last card, ended by the file's end, is read as far as it goes.
    QStringList endLog;
    std::unique_ptr<SyncRecordSnapshot> s;
    const SyncRecordList last = contactsLogged(card("Lee", "1") + card("Berg", "2", "BEGIN:VCARD", ""), endLog, &s);
    EXPECT_EQ(namesAndPhones(*s, last), (QStringList{"Berg mobile 2", "Lee mobile 1"}));
    EXPECT_EQ(lostEnds(endLog), QStringList{"2"});

    // A card that holds nothing before the next one begins is named.
    QStringList log;
    const SyncRecordList two = contactsLogged(card("Lee", "1") + "BEGIN:VCARD\r\n" + card("Cole", "3"), log);
    EXPECT_EQ(two.size(), 2);
    EXPECT_EQ(log.filter(QStringLiteral("Left out card 2 of ")).size(), 1) << log.join('\n').toStdString();
    EXPECT_EQ(lostEnds(log), QStringList()) << "a card left out is not also read";
}

TEST(StoreVdir, AnAgentsCardStaysInsideTheCardThatNamesIt)
{
    // 2.1 writes an agent's card on the lines after "AGENT:"; its END ends
    // the agent, not the card, and the agent is no contact of its own.
    const QByteArray agent = "BEGIN:VCARD\r\nVERSION:2.1\r\nN:Friday;Fred\r\nTEL;WORK:111\r\nEND:VCARD\r\n";
    for (const QByteArray &agentLine : {QByteArray("AGENT:\r\n"), QByteArray("item1.AGENT;X-KIND=assistant: \r\n")}) {
        std::unique_ptr<SyncRecordSnapshot> s;
        const SyncRecordList contacts =
            contactsOfFile(card21("N:Lee;Ann\r\n" + agentLine + agent + "TEL;CELL:555\r\n") + card21("N:Berg;Bo\r\n"), &s);
        EXPECT_EQ(namesAndPhones(*s, contacts), (QStringList{"Berg ", "Lee mobile 555"})) << agentLine.toStdString();
    }
}

TEST(StoreVdir, ABeginAfterASoftLineBreakBeginsACardWhenAVersionFollows)
{
    // A 2.1 card cut after a soft line break ("=" at the line's end), then
    // the next cards: the value ends before the BEGIN, and the card is read
    // as far as it goes, named in the log.
    const QByteArray jane = card21("N:Roe;Jane\r\nTEL;CELL:222\r\n"), cy = card21("N:Coe;Cy\r\nTEL;CELL:333\r\n");
    const QByteArray john = "BEGIN:VCARD\r\nVERSION:2.1\r\nN:Doe;John\r\nTEL;CELL:111\r\n";
    // John's note, then his addresses' countries.
    auto johns = [](const SyncRecordSnapshot &s) {
        const QVariantMap doe = contactNamed(s, QStringLiteral("Doe"));
        QStringList out{doe.value(QStringLiteral("notes")).toString()};
        for (const auto &a : s.recordsWithIdentifiers(doe.value(QStringLiteral("street addresses")).toStringList()))
            out.append(a.record.value(QStringLiteral("country")).toString());
        return out.join(QLatin1Char('|'));
    };
    const struct
    {
        QByteArray cut;
        const char *read;
    } cuts[] = {
        {"ADR;HOME;ENCODING=QUOTED-PRINTABLE:;;Hauptstr. 1;Berlin;;10115;Deutschla=\r\n", "|Deutschla"},
        {"NOTE;ENCODING=QUOTED-PRINTABLE:call after six=\r\n", "call after six"},
    };
    for (const auto &c : cuts) {
        QStringList log;
        std::unique_ptr<SyncRecordSnapshot> s;
        const SyncRecordList contacts = contactsLogged(john + c.cut + jane + cy, log, &s);
        EXPECT_EQ(namesAndPhones(*s, contacts), (QStringList{"Coe mobile 333", "Doe mobile 111", "Roe mobile 222"})) << c.read;
        EXPECT_EQ(johns(*s), QLatin1String(c.read));
        EXPECT_EQ(lostEnds(log), QStringList{"1"}) << log.join('\n').toStdString();
    }

    // Without a VERSION line after it, a BEGIN after a soft break is text, as
    // is a folded line (leading blank) of any value.
    for (const auto &[note, text] : {std::pair{QByteArray("NOTE;ENCODING=QUOTED-PRINTABLE:Reply with=\r\nBEGIN:VCARD=\r\n and yours\r\n"),
                                               "Reply withBEGIN:VCARD and yours"},
                                     std::pair{QByteArray("NOTE:Reply with\r\n BEGIN:VCARD\r\n VERSION:2.1\r\n"),
                                               "Reply withBEGIN:VCARDVERSION:2.1"}}) {
        QStringList log;
        std::unique_ptr<SyncRecordSnapshot> s;
        const SyncRecordList contacts = contactsLogged(john + note + "TEL;HOME:112\r\nEND:VCARD\r\n" + cy, log, &s);
        EXPECT_EQ(namesAndPhones(*s, contacts), (QStringList{"Coe mobile 333", "Doe mobile 111,home 112"})) << text;
        EXPECT_EQ(johns(*s), QLatin1String(text));
        EXPECT_EQ(lostEnds(log), QStringList()) << text;
    }

    // Cut after a soft break, then a card whose BEGIN no VERSION follows: the
    // BEGIN ends the value as its text and that card's lines are read as
    // John's, but John's card is named as one that lost its END.
    for (const QByteArray &after : {QByteArray("N:Roe;Jane\r\n"), QByteArray("PRODID:-//x//EN\r\nVERSION:2.1\r\nN:Roe;Jane\r\n"),
                                    QByteArray("\r\nVERSION:2.1\r\nN:Roe;Jane\r\n")}) {
        QStringList log;
        std::unique_ptr<SyncRecordSnapshot> s;
        const SyncRecordList contacts = contactsLogged(
            john + "NOTE;ENCODING=QUOTED-PRINTABLE:hello=\r\nBEGIN:VCARD\r\n" + after + "TEL;CELL:222\r\nEND:VCARD\r\n" + cy, log, &s);
        EXPECT_EQ(namesAndPhones(*s, contacts), (QStringList{"Coe mobile 333", "Roe mobile 111,mobile 222"})) << after.toStdString();
        EXPECT_EQ(contactNamed(*s, QStringLiteral("Roe")).value(QStringLiteral("notes")).toString(), QStringLiteral("helloBEGIN:VCARD"));
        EXPECT_EQ(lostEnds(log), QStringList{"1"}) << after.toStdString() << log.join('\n').toStdString();
    }
}

TEST(StoreVdir, ACardOrItsAgentsCardThatLostItsEndLosesNoCard)
{
    const QByteArray john = "BEGIN:VCARD\r\nVERSION:2.1\r\nN:Doe;John\r\n";
    const QByteArray jane = card21("N:Roe;Jane\r\nTEL;CELL:222\r\n"), cy = card21("N:Coe;Cy\r\nTEL;CELL:333\r\n");
    const QByteArray fred = "BEGIN:VCARD\r\nVERSION:2.1\r\nN:Friday;Fred\r\nTEL;WORK:999\r\n";
    // A card that lost its END after an empty AGENT, and an agent's card that
    // lost its own (taking its card's END) look alike: what follows the AGENT
    // is read as the next card. Either way no card is lost and the card with
    // the AGENT is named; an agent's card naming an agent of its own stays
    // inside the card.
    const struct
    {
        const char *what;
        QByteArray file;
        QStringList read, lost;
    } cases[] = {
        {"nested agents", john + "AGENT:\r\n" + fred + "AGENT:\r\n" + card21("N:Moe;Mo\r\nAGENT:\r\n" + card21("N:Poe;Po\r\n")) +
                              "END:VCARD\r\nTEL;CELL:111\r\nEND:VCARD\r\n" + jane,
         {"Doe mobile 111", "Roe mobile 222"}, {}},
        {"a card ending in an empty AGENT", john + "TEL;CELL:111\r\nAGENT:\r\n" + jane + cy,
         {"Coe mobile 333", "Doe mobile 111", "Roe mobile 222"}, {"1 at its AGENT"}},
        {"the same, last in its file", john + "TEL;CELL:111\r\nAGENT:\r\n" + jane, {"Doe mobile 111", "Roe mobile 222"},
         {"1 at its AGENT"}},
        {"an agent's card without its END", john + "AGENT:\r\n" + fred + "TEL;CELL:111\r\nEND:VCARD\r\n" + jane + cy,
         {"Coe mobile 333", "Doe ", "Friday work 999,mobile 111", "Roe mobile 222"}, {"1 at its AGENT"}},
        {"both without their END", john + "TEL;CELL:111\r\nAGENT:\r\n" + fred + cy,
         {"Coe mobile 333", "Doe mobile 111", "Friday work 999"}, {"2", "1 at its AGENT"}},
        {"both, last in their file", john + "TEL;CELL:111\r\nAGENT:\r\n" + fred, {"Doe mobile 111", "Friday work 999"},
         {"2", "1 at its AGENT"}},
    };
    for (const auto &c : cases) {
        QStringList log;
        std::unique_ptr<SyncRecordSnapshot> s;
        const SyncRecordList contacts = contactsLogged(c.file, log, &s);
        EXPECT_EQ(namesAndPhones(*s, contacts), c.read) << c.what;
        EXPECT_EQ(lostEnds(log), c.lost) << c.what;
    }

    // Agents' cards nested 1,000 deep, none with its END: the lines after
    // the first AGENT are read once more as the next card, not over and over
    // (a line may also be looked at ahead of its turn).
    const QByteArray nested = QByteArray(john + "AGENT:\r\n").repeated(1000);
    VCardFileNotes notes;
    EXPECT_EQ(splitVCards(nested, &notes).size(), 2);
    EXPECT_LE(notes.linesRead, 3 * nested.count('\n'));
}

TEST(StoreVdir, TextValuesInBase64AreDecodedFromTheirCharset)
{
    const struct
    {
        const char *version;
        QByteArray lines;
        const char *key, *value;
    } cases[] = {
        {"2.1", "N:Lee;Ann\r\nNOTE;ENCODING=BASE64:SGVsbG8=\r\n", "notes", "Hello"},
        // Bare BASE64, a CHARSET, fields of N.
        {"2.1", "N;CHARSET=ISO-8859-1;BASE64:" + QByteArray("M\xFCller;J\xFCrgen").toBase64() + "\r\n", "first name", "Jürgen"},
        // A value over lines without a leading blank, up to a blank line.
        {"2.1", "N:Lee;Ann\r\nNOTE;CHARSET=UTF-8;ENCODING=BASE64:" +
                    QByteArray("Gr\xC3\xBC\xC3\x9F""e aus K\xC3\xB6ln, bis bald").toBase64().insert(20, "\r\n") + "\r\n\r\n",
         "notes", "Grüße aus Köln, bis bald"},
        // Line breaks, "=" and a "\" of the text; ";" of a single text.
        {"3.0", "N:Lee;Ann;;;\r\nNOTE;ENCODING=b:" + QByteArray("a=b\r\nC:\\Users; ok").toBase64() + "\r\n", "notes",
         "a=b\r\nC:\\Users; ok"},
        // Folded, with a charset.
        {"3.0", "N;ENCODING=b;CHARSET=ISO-8859-1:" + QByteArray("Stra\xDF""er;Hans;;;").toBase64().insert(6, "\r\n ") + "\r\n",
         "last name", "Straßer"},
        // A NUL is no text: the card goes on after it.
        {"3.0", "N:Lee;Ann;;;\r\nNOTE;ENCODING=b:" + QByteArray("a\0b", 3).toBase64() + "\r\n", "notes", "ab"},
    };
    for (const auto &c : cases) {
        std::unique_ptr<SyncRecordSnapshot> s;
        const SyncRecordList contacts = contactsOfFile(
            QByteArray("BEGIN:VCARD\r\nVERSION:") + c.version + "\r\n" + c.lines + "TEL;CELL:555\r\nEND:VCARD\r\n", &s);
        ASSERT_EQ(contacts.size(), 1) << c.lines.data();
        EXPECT_EQ(contacts.first().record.value(QLatin1String(c.key)).toString(), QString::fromUtf8(c.value)) << c.lines.data();
        EXPECT_EQ(items(*s, contacts.first().record, QStringLiteral("phone numbers")), QStringList{"mobile 555"}) << c.lines.data();
    }
}

TEST(StoreVdir, A21PictureOfBase64LinesWithoutBlanksIsReadWhole)
{
    // 2.1 lets a base64 value go on over lines without a leading blank, up
    // to a blank line (a writer that leaves the blank line out ends it at
    // the next property). A picture of 600 KB takes more such lines than a
    // card may have properties: the value counts once.
    for (const qsizetype size : {5 * 1024, 600 * 1024}) {
        QByteArray picture("\xFF\xD8\xFF\xE0", 4);
        picture.reserve(size);
        for (quint32 x = 1; picture.size() < size;) {
            x = x * 1664525u + 1013904223u;
            picture.append(char(x >> 24));
        }
        const QByteArray base64 = picture.toBase64();
        QByteArray value;
        for (qsizetype i = 0; i < base64.size(); i += 76) value += base64.mid(i, 76) + "\r\n";
        const struct
        {
            const char *head, *after;
        } shapes[] = {
            {"PHOTO;ENCODING=BASE64;TYPE=JPEG:", "\r\n"},
            {"PHOTO;TYPE=JPEG;encoding=b:", ""},
            {"PHOTO;JPEG;Base64:", "\r\n"},
        };
        for (const auto &shape : shapes) {
            QStringList log;
            std::unique_ptr<SyncRecordSnapshot> s;
            const SyncRecordList contacts =
                contactsLogged(card21("N:Lee;Ann;;;\r\n" + QByteArray(shape.head) + value + shape.after + "TEL;CELL:555\r\n"), log, &s);
            ASSERT_EQ(contacts.size(), 1) << shape.head << size << log.join('\n').toStdString();
            EXPECT_EQ(namesAndPhones(*s, contacts), QStringList{"Lee mobile 555"}) << shape.head << size;
            EXPECT_TRUE(contacts.first().record.value(QStringLiteral("image")).toByteArray() == picture) << shape.head << size;
        }
    }
}

TEST(StoreVdir, EachCardHasABoundOfPropertiesOfItsOwn)
{
    auto card = [](int n, qsizetype properties, const QByteArray &more = {}) {
        QByteArray c = "BEGIN:VCARD\r\nVERSION:3.0\r\nN:P" + QByteArray::number(n) + ";Ann;;;\r\n" + more;
        for (qsizetype i = 2; i < properties; ++i) c += "X-FILLER:" + QByteArray::number(i) + "\r\n";
        return c + "END:VCARD\r\n";
    };
    // An address book of one file: more properties in all than one card may have.
    QByteArray book;
    for (int n = 0; n < 101; ++n) book += card(n, 100);
    EXPECT_EQ(contactsOfFile(book).size(), 101);

    // After a card past the bound (of properties, or of categories listed
    // 31 to a line), the next card is read.
    QByteArray categories;
    for (int i = 0; i < 31; ++i) categories += (i ? "," : "CATEGORIES:") + QByteArray::number(i);
    categories = (categories + "\r\n").repeated(kCardProperties / 31 + 1);
    for (const QByteArray &crafted : {card(0, kCardProperties + 1), card(0, 2, categories)}) {
        QStringList log;
        const SyncRecordList contacts = contactsLogged(crafted + card(1, 3), log);
        ASSERT_EQ(contacts.size(), 1);
        EXPECT_EQ(contacts.first().record.value(QStringLiteral("last name")).toString(), QStringLiteral("P1"));
        EXPECT_EQ(log.filter(QStringLiteral("Left out card 1 of ")).filter(QStringLiteral("more than")).size(), 1)
            << log.join('\n').toStdString();
    }

    // An empty line is no property: a card of 320 KB of lone CRs is read,
    // each CR looked at about once.
    const QByteArray lonelyCrs = card(2, 2, QByteArray(320 * 1024, '\r') + "TEL:1\r\n");
    VCardFileNotes notes;
    EXPECT_EQ(splitVCards(lonelyCrs, &notes).size(), 1);
    ASSERT_LE(notes.bytesRead, 2 * lonelyCrs.size());
    const SyncRecordList crs = contactsOfFile(lonelyCrs);
    ASSERT_EQ(crs.size(), 1);
    EXPECT_EQ(crs.first().record.value(QStringLiteral("last name")).toString(), QStringLiteral("P2"));
}

TEST(StoreVdir, ManyCardsOfAFileAreNamedFirstFewThenCounted)
{
    // 200,000 BEGIN lines are as many cards of nothing, each left out.
    const QByteArray lee = card21("N:Lee;Ann\r\n");
    QStringList log;
    EXPECT_EQ(contactsLogged(lee + QByteArray("BEGIN:VCARD\r\n").repeated(200000) + lee, log).size(), 2);
    const QStringList leftOut = log.filter(QStringLiteral("Left out "));
    ASSERT_EQ(leftOut.size(), 11) << leftOut.mid(0, 20).join('\n').toStdString();
    for (int card = 2; card <= 11; ++card)
        EXPECT_TRUE(leftOut.at(card - 2).startsWith(QStringLiteral("Left out card %1 of \"").arg(card))) << leftOut.at(card - 2).toStdString();
    EXPECT_TRUE(leftOut.last().startsWith(QStringLiteral("Left out 199990 more cards of \""))) << leftOut.last().toStdString();

    // So are cards read without their END.
    log.clear();
    EXPECT_EQ(contactsLogged(QByteArray("BEGIN:VCARD\r\nVERSION:2.1\r\nN:Lee;Ann\r\n").repeated(25), log).size(), 25);
    EXPECT_EQ(lostEnds(log), (QStringList{"1", "2", "3", "4", "5", "6", "7", "8", "9", "10"}));
    EXPECT_EQ(log.filter(QStringLiteral("15 more cards of \"")).filter(QStringLiteral("lost their END")).size(), 1)
        << log.join('\n').toStdString();

    // So are cards read up to their AGENT (each followed by its agent's card).
    log.clear();
    const QByteArray atAgent = "BEGIN:VCARD\r\nVERSION:2.1\r\nN:Doe;John\r\nAGENT:\r\n" + lee;
    EXPECT_EQ(contactsLogged(atAgent.repeated(25), log).size(), 50);
    EXPECT_EQ(lostEnds(log).size(), 10);
    EXPECT_EQ(log.filter(QStringLiteral("15 more cards of \"")).filter(QStringLiteral("AGENTs")).size(), 1)
        << log.join('\n').toStdString();

    // And the parser's own warnings, one for each escape it cannot read.
    log.clear();
    const QByteArray escapes = "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Lee;Ann;;;\r\nNOTE:" + QByteArray("\\q").repeated(100) + "\r\nEND:VCARD\r\n";
    EXPECT_EQ(contactsLogged(escapes + lee, log).size(), 2);
    EXPECT_EQ(log.filter(QStringLiteral("Card 1 of \"")).filter(QStringLiteral("the vCard parser warns")).size(), 10)
        << log.join('\n').toStdString();
    EXPECT_EQ(log.filter(QStringLiteral("90 more warnings of the vCard parser on \"")).size(), 1) << log.join('\n').toStdString();

    // Once the file is read, the parser's warnings on this thread go where
    // they went before (the standard error), not into that file's notes,
    // which are gone. The parser reads a card when first asked for its lines.
    const auto parseWarning = [] {
        const std::unique_ptr<EVCard, decltype(&g_object_unref)> c(
            e_vcard_new_from_string("BEGIN:VCARD\r\nVERSION:3.0\r\nN:Lee;Ann;;;\r\nNOTE:\\q\r\nEND:VCARD\r\n"), &g_object_unref);
        return e_vcard_get_attributes(c.get()) != nullptr;
    };
    EXPECT_TRUE(parseWarning());
    testing::internal::CaptureStderr();
    EXPECT_TRUE(parseWarning());
    EXPECT_NE(testing::internal::GetCapturedStderr().find("libebook-contacts-WARNING"), std::string::npos);
}

namespace {

// This process's readdir, made to fail with EIO in one folder after its
// first entry, as a failing disk or network file system cuts a listing short.
std::atomic<ino_t> failingFolder{0};
std::atomic<int> entriesGiven{0};

}  // namespace

extern "C" struct dirent *readdir(DIR *dir)
{
    using Readdir = struct dirent *(*)(DIR *);
    static const auto real = reinterpret_cast<Readdir>(dlsym(RTLD_NEXT, "readdir"));
    struct stat st;
    if (failingFolder != 0 && fstat(dirfd(dir), &st) == 0 && st.st_ino == failingFolder && entriesGiven++ > 0) {
        errno = EIO;
        return nullptr;
    }
    return real(dir);
}

TEST(StoreVdir, AListingCutShortIsAnErrorNamingTheFolder)
{
    const QString root = testenv::makeTempDir(QStringLiteral("vdircut"));
    for (const char *name : {"a", "b", "c"})
        testenv::writeFile(root + QStringLiteral("/%1.vcf").arg(QLatin1String(name)),
                           QByteArray("BEGIN:VCARD\nVERSION:3.0\nN:") + name + ";Ann;;;\nEND:VCARD\n");
    struct stat st;
    ASSERT_EQ(stat(QFile::encodeName(root).constData(), &st), 0);
    entriesGiven = 0;
    failingFolder = st.st_ino;
    try {
        const qsizetype read = snapshotOf({root}, entity::Contact)->count();
        ADD_FAILURE() << "a listing cut short was read as whole: " << read << " records";
    } catch (const VtrException &e) {
        EXPECT_EQ(e.name(), kSourceExceptionName);
        EXPECT_TRUE(e.reason().contains(root)) << e.reason().toStdString();
    }
    failingFolder = 0;
    EXPECT_EQ(ofEntity(*snapshotOf({root}, entity::Contact), entity::Contact).size(), 3);
}
